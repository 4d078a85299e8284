#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/headless/Headless.h"

const char* HeadlessUsage() {
    return "Usage: tidewatch [FILE]\n"
           "       tidewatch --list FILE\n"
           "       tidewatch --describe FILE [--view parser|raw|ascii] [--packet N]\n"
           "       tidewatch --tree FILE [--view parser|raw|ascii] [--packet N]\n"
           "       tidewatch --convert FILE OUT\n"
           "       tidewatch --help | --version\n"
           "\n"
           "  FILE             a capture file: Tidewatch (.tdw), Network Monitor (.cap),\n"
           "                   libpcap (.pcap) or pcapng (.pcapng), recognised by content\n"
           "  --list           print the packet list, one TAB-separated row per packet\n"
           "  --describe       print each packet's description\n"
           "  --tree           print each packet's description as the detail pane's tree\n"
           "  --view           the decode view (default: parser)\n"
           "  --packet N       only the packet with index N\n"
           "  --convert        write FILE's packets to OUT in the format of OUT's extension:\n"
           "                   .pcap or .cap libpcap, .pcapng pcapng, any other Tidewatch\n";
}

bool ParseHeadlessArguments(int argc, char** argv, HeadlessOptions& options, std::string& error) {
    bool viewGiven = false, packetGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options.mode = HeadlessMode::Help;
            return true;
        } else if (!std::strcmp(arg, "--version")) {
            options.mode = HeadlessMode::Version;
            return true;
        } else if (!std::strcmp(arg, "--list") || !std::strcmp(arg, "--describe") ||
                   !std::strcmp(arg, "--tree")) {
            if (options.mode != HeadlessMode::Window) {
                error = "only one mode may be given";
                return false;
            }
            options.mode = arg[2] == 'l'   ? HeadlessMode::List
                           : arg[2] == 'd' ? HeadlessMode::Describe
                                           : HeadlessMode::Tree;
            const char* file = value(arg);
            if (!file) return false;
            options.file = file;
        } else if (!std::strcmp(arg, "--convert")) {
            if (options.mode != HeadlessMode::Window) {
                error = "only one mode may be given";
                return false;
            }
            options.mode = HeadlessMode::Convert;
            const char* file = value(arg);
            const char* output = file ? value(arg) : nullptr;
            if (!output) {
                error = "--convert needs FILE and OUT";
                return false;
            }
            options.file = file;
            options.output = output;
        } else if (!std::strcmp(arg, "--view")) {
            const char* v = value(arg);
            if (!v) return false;
            if (!std::strcmp(v, "parser")) options.view = HeadlessView::Parser;
            else if (!std::strcmp(v, "raw")) options.view = HeadlessView::Raw;
            else if (!std::strcmp(v, "ascii")) options.view = HeadlessView::Ascii;
            else {
                error = std::string("unknown view '") + v + "'";
                return false;
            }
            viewGiven = true;
        } else if (!std::strcmp(arg, "--packet")) {
            const char* v = value(arg);
            if (!v) return false;
            char* end = nullptr;
            errno = 0;
            long n = std::strtol(v, &end, 10);
            if (errno || end == v || *end || n < 0) {
                error = std::string("bad packet index '") + v + "'";
                return false;
            }
            options.packet = n;
            packetGiven = true;
        } else if (arg[0] == '-' && arg[1] != 0) {
            error = std::string("unknown option '") + arg + "'";
            return false;
        } else if (options.mode == HeadlessMode::Window && options.file.empty()) {
            options.file = arg;
        } else {
            error = std::string("unexpected argument '") + arg + "'";
            return false;
        }
    }
    if ((viewGiven || packetGiven) && options.mode != HeadlessMode::Describe &&
        options.mode != HeadlessMode::Tree) {
        error = "--view and --packet go with --describe or --tree";
        return false;
    }
    return true;
}
