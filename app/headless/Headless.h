// The command-line modes that use the store, the file readers and the decoders with no window.
#pragma once

#include <string>

enum class HeadlessMode { Window, Help, Version, List, Describe, Tree, Convert };
enum class HeadlessView { Parser, Raw, Ascii };

struct HeadlessOptions {
    HeadlessMode mode = HeadlessMode::Window;
    HeadlessView view = HeadlessView::Parser;
    std::string file;
    std::string output;  // --convert: the file written
    long packet = -1;  // -1: every stored packet
};

// False on a usage error (error says why, empty for none).
bool ParseHeadlessArguments(int argc, char** argv, HeadlessOptions& options, std::string& error);
const char* HeadlessUsage();
int RunHeadless(const HeadlessOptions& options);
