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
// --check-filter EXPR: "valid", or the library's message and exit 2.
int RunCheckFilter(const HeadlessOptions& options);

// The method a capture or a check is for: the one asked for, else the stored "CaptureMethod".
int CaptureMethodOf(const HeadlessOptions& options);
// The capture filter the capture starts with (--filter, else the stored one), checked for the
// method's frames before anything is opened. False, with the reason on standard error, when it
// does not compile: the capture must not start.
bool TakeCaptureFilter(const HeadlessOptions& options, int method);
