#include "framework/ErrorLog.h"

#include <unistd.h>

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
    if (!ReadRegString("installdir", path, &size)) {
        // Not wherever the program happened to be started from.
        std::snprintf(path, kMaxPath, "%s", StateFolder().c_str());
    }
    size_t used = std::strlen(path);
    // Bounded append: what does not fit is cut off.
    std::snprintf(path + used, kMaxPath - used, "%s", "/error.log");
}

void AppendLine(const LogState& state, pid_t tid, const char* message) {
    FILE* file = std::fopen(state.path, "a");
    if (file == nullptr) return;
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
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
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
