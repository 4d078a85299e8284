// Tidewatch entry point. The command-line modes run here with no GUI libraries loaded; the window
// is the program tidewatch-window beside this one, which this one becomes.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/headless/Headless.h"

#ifndef TW_VERSION
#define TW_VERSION "0.0.0"
#endif
// The installed program's private folder, relative to the folder of this executable.
#ifndef TW_PRIVATE_DIR_FROM_BIN
#define TW_PRIVATE_DIR_FROM_BIN "../lib/tidewatch"
#endif

namespace {

// The window program: beside this one in the build folder, else in the private folder of the
// installation, found relative to this executable so that a relocated installation works.
std::string WindowProgramPath(char* self) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error) exe = self;
    const fs::path beside = exe.parent_path() / "tidewatch-window";
    if (access(beside.c_str(), X_OK) == 0) return beside.string();
    const fs::path installed = exe.parent_path() / TW_PRIVATE_DIR_FROM_BIN / "tidewatch-window";
    return installed.lexically_normal().string();
}

int RunWindowProgram(const std::string& file, bool demo, char* self) {
    const std::string window = WindowProgramPath(self);
    std::string argument = demo ? "--demo" : file;
    char* args[] = {const_cast<char*>(window.c_str()),
                    argument.empty() ? nullptr : argument.data(), nullptr};
    execv(window.c_str(), args);
    std::fprintf(stderr, "tidewatch: cannot start the window program %s: %s\n", window.c_str(),
                 std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // "--demo" alone opens the window on the demonstration capture.
    if (argc == 2 && std::strcmp(argv[1], "--demo") == 0) return RunWindowProgram({}, true, argv[0]);

    HeadlessOptions options;
    std::string error;
    if (!ParseHeadlessArguments(argc, argv, options, error)) {
        // The reason last, where a caller that keeps one line finds it.
        std::fputs(HeadlessUsage(), stderr);
        if (!error.empty()) std::fprintf(stderr, "tidewatch: %s\n", error.c_str());
        return 2;
    }
    switch (options.mode) {
        case HeadlessMode::Help:
            std::fputs(HeadlessUsage(), stdout);
            std::fputs("  --demo           open the window on a demonstration capture\n", stdout);
            return 0;
        case HeadlessMode::Version:
            std::printf("Tidewatch %s\n", TW_VERSION);
            return 0;
        case HeadlessMode::Window:
            return RunWindowProgram(options.file, false, argv[0]);
        default: {
            const int status = RunHeadless(options);
#ifndef TW_LEAK_CHECK
            // All is written and closed. What exit would still do is give back what the kernel
            // takes back anyway and run the destructors of every library loaded, the packet
            // capture library's dozen among them, faulting in code never used before: after a
            // top-speed capture, a tenth of the processor time tcpdump spends on the whole burst.
            std::fflush(nullptr);
            _exit(status);
#endif
            return status;
        }
    }
}
