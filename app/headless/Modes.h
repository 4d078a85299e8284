// The headless modes, one function each, dispatched by RunHeadless.
#pragma once

#include "app/headless/Headless.h"

// --list FILE: one TAB-separated packet-list row per stored packet.
int RunList(const HeadlessOptions& options);
// --convert FILE OUT: FILE's packets written to OUT in the format OUT's extension names.
int RunConvert(const HeadlessOptions& options);
