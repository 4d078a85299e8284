// The headless modes, one function each, dispatched by RunHeadless.
#pragma once

#include "app/headless/Headless.h"

// --list FILE: one TAB-separated packet-list row per stored packet.
int RunList(const HeadlessOptions& options);
