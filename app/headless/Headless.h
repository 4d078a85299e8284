// The command-line modes that use the store, the file readers and the decoders with no window.
#pragma once

#include <cstdint>
#include <string>

enum class HeadlessMode {
    Window, Help, Version, List, Describe, Tree, Convert, Capture, Interfaces, CheckFilter
};
enum class HeadlessView { Parser, Raw, Ascii };

struct HeadlessOptions {
    HeadlessMode mode = HeadlessMode::Window;
    HeadlessView view = HeadlessView::Parser;
    std::string file;
    std::string output;  // --convert: the file written
    long packet = -1;  // -1: every stored packet

    // --capture
    int method = 0;            // 1, 2 or 3; 0: the stored "CaptureMethod" (also --check-filter)
    bool addressGiven = false;
    uint32_t address = 0;      // --address, host byte order
    std::string device;        // --device; empty: the stored "CaptureDevice" or "NetMonMacAddr"
    long count = -1;           // --count; -1: no limit but the store's
    long seconds = -1;         // --seconds; -1: none
    std::string write;         // --write FILE
    // --filter EXPR, or the expression --check-filter checks; not given: the stored
    // "CaptureFilter". Given empty: no filter.
    bool filterGiven = false;
    std::string filter;
};

// False on a usage error (error says why, empty for none).
bool ParseHeadlessArguments(int argc, char** argv, HeadlessOptions& options, std::string& error);
const char* HeadlessUsage();
int RunHeadless(const HeadlessOptions& options);
