// The headless modes, one function each, dispatched by RunHeadless.
#pragma once

#include "app/headless/Headless.h"

// --list FILE: one TAB-separated packet-list row per stored packet.
int RunList(const HeadlessOptions& options);
// --convert FILE OUT: FILE's packets written to OUT in the format OUT's extension names.
int RunConvert(const HeadlessOptions& options);
// --capture: capture without a window, then write the store to a file.
int RunCapture(const HeadlessOptions& options);
// --interfaces: the local addresses of method 1 and the adapters of method 3.
int RunInterfaces(const HeadlessOptions& options);
