// --describe FILE and --tree FILE: the description of each stored packet (or of one) in the
// chosen view, as the text DescribePacket builds or as the detail pane's tree items.
#pragma once

#include "app/headless/Headless.h"

int RunDescribe(const HeadlessOptions& options);
