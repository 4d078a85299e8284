// The process-wide error log: every report goes to the debugger channel (standard error here),
// level 1 also raises the "Critical Error" box through a hook the window installs, and reports at
// or below the threshold are appended to error.log in the installation directory ("installdir"),
// or without one (or an empty one) in $XDG_STATE_HOME/tidecraft (default ~/.local/state/tidecraft).
// The file is created readable by its owner only and never opened through a symbolic link; control
// characters in a message are written as escapes ("\n", "\x1b"), so every report is one line.
#pragma once

#include <cstdint>
#include <functional>

void Report(const char* source, int line, const char* message, int level);
void ReportSystemError(const char* source, int line, const char* message, int level,
                       uint32_t errorCode);

namespace ErrorLog {

using Sink = std::function<void(const char* text)>;

// Where the "### tid:..." lines go; standard error when not set.
void SetDebugOutput(Sink sink);
// Shows the "Critical Error" box for a level-1 report; nothing when not set (headless).
void SetCriticalHook(Sink hook);
// Forgets the threshold and path read at the first report, so tests can change the settings.
void ResetForTesting();

}  // namespace ErrorLog
