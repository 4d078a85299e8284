#include "framework/ErrorLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "framework/Registry.h"

namespace {

constexpr size_t kMaxReport = 4096;
constexpr size_t kMaxPath = 2048;
constexpr int kUnread = -1;
constexpr int kDefaultThreshold = 3;

// Never released, so reports made while other statics are being destroyed still find it.
// Recursive because the critical hook shows a box that runs an event loop on the reporting
// thread, and anything that reports from inside it must not deadlock against its own report.
struct LogState {
    std::recursive_mutex lock;
    int threshold = kUnread;
    char path[kMaxPath] = {};
    ErrorLog::Sink debugOutput;
    ErrorLog::Sink criticalHook;
};

LogState& State() {
    static LogState* state = new LogState;
    return *state;
}

// Breaking into a debugger that is not there would kill the process.
bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
    }
    return false;
}

int ReadThreshold() {
    char text[256];
    uint32_t size = sizeof text;
    if (!ReadRegString("log level", text, &size)) return kDefaultThreshold;
    long value = std::strtol(text, nullptr, 10);
    return value >= 0 && value <= 6 ? static_cast<int>(value) : kDefaultThreshold;
}

// The user's state folder for the program, made when missing.
std::string StateFolder() {
    std::string folder = UserFolder("XDG_STATE_HOME", "/.local/state") + "/tidecraft";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

void ReadPath(char (&path)[kMaxPath]) {
    uint32_t size = kMaxPath;
    // An empty setting names no folder: the log would land in "/error.log".
    if (!ReadRegString("installdir", path, &size) || path[0] == '\0') {
        // Not wherever the program happened to be started from.
        std::snprintf(path, kMaxPath, "%s", StateFolder().c_str());
    }
    size_t used = std::strlen(path);
    // Bounded append: what does not fit is cut off.
    std::snprintf(path + used, kMaxPath - used, "%s", "/error.log");
}

// Control characters written as escapes, so that a text taken from outside (a file name with a
// line break in it) can never start a line of its own or steer the terminal that shows the log.
void AppendEscaped(std::string& line, const char* text) {
    for (const char* at = text; *at; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c >= 0x20 && c != 0x7f) {
            line += static_cast<char>(c);
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            line += escape;
        }
    }
}

void AppendLine(const LogState& state, pid_t tid, const char* message) {
    // Never through a link planted where the log goes, and readable by its owner only: the log
    // names files and addresses of the user's captures.
    const int fd =
        open(state.path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string line;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) {
        char text[128];
        if (std::strftime(text, sizeof text, "%d %b %Y", &local) > 0) {
            line += text;
            line += ' ';
        }
        if (std::strftime(text, sizeof text, "%H:%M:%S", &local) > 0) line += text;
    }
    if (state.threshold >= 4) {
        char thread[32];
        std::snprintf(thread, sizeof thread, " : Thread 0x%08x", static_cast<unsigned>(tid));
        line += thread;
    }
    line += " : ";
    AppendEscaped(line, message);
    line += '\n';
    // Appended in one write where the kernel takes it whole: no other process's line inside it.
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace

void Report(const char* source, int line, const char* message, int level) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    pid_t tid = gettid();
    if (message == nullptr) message = "(null)";

    if (level < 6) {
        char text[kMaxReport];
        std::snprintf(text, sizeof text, "### tid:0x%x %s(%i) : %s\r\n",
                      static_cast<unsigned>(tid), source ? source : "(null)", line, message);
        if (state.debugOutput) {
            state.debugOutput(text);
        } else {
            std::fputs(text, stderr);
        }
        if (level == 1) {
            if (state.criticalHook) state.criticalHook(text);
            if (DebuggerAttached()) std::raise(SIGTRAP);
        }
    }

    if (state.threshold == kUnread) state.threshold = ReadThreshold();
    if (state.path[0] == '\0') ReadPath(state.path);
    if (level <= state.threshold) AppendLine(state, tid, message);
}

void ReportSystemError(const char* source, int line, const char* message, int level,
                       uint32_t errorCode) {
    if (message == nullptr) message = "(null)";
    char text[kMaxReport];
    int code = static_cast<int>(errorCode);
    // strerrordesc_np tells a known code from one without text; strerror_r gives the text in
    // the user's language.
    if (errorCode <= INT32_MAX && strerrordesc_np(code) != nullptr) {
        char buffer[512];
        const char* system = strerror_r(code, buffer, sizeof buffer);
        std::snprintf(text, sizeof text, "%s\n\t0x%x: %s", message, errorCode, system);
    } else {
        std::snprintf(text, sizeof text, "%s\n\tError code 0x%x", message, errorCode);
    }
    Report(source, line, text, level);
}

namespace ErrorLog {

void SetDebugOutput(Sink sink) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    state.debugOutput = std::move(sink);
}

void SetCriticalHook(Sink hook) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    state.criticalHook = std::move(hook);
}

void ResetForTesting() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    state.threshold = kUnread;
    state.path[0] = '\0';
}

}  // namespace ErrorLog
