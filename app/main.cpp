// Tidewatch entry point: the headless command-line modes.
#include <cstdio>
#include <string>

#include "app/headless/Headless.h"

#ifndef TW_VERSION
#define TW_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
    HeadlessOptions options;
    std::string error;
    if (!ParseHeadlessArguments(argc, argv, options, error)) {
        if (!error.empty()) std::fprintf(stderr, "tidewatch: %s\n", error.c_str());
        std::fputs(HeadlessUsage(), stderr);
        return 2;
    }
    switch (options.mode) {
        case HeadlessMode::Help:
        case HeadlessMode::Window:  // no window yet: say what the command line offers
            std::fputs(HeadlessUsage(), stdout);
            return 0;
        case HeadlessMode::Version:
            std::printf("Tidewatch %s\n", TW_VERSION);
            return 0;
        default:
            return RunHeadless(options);
    }
}
