#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/headless/Headless.h"

const char* HeadlessUsage() {
    return "Usage: tidewatch [FILE]\n"
           "       tidewatch --list FILE\n"
           "       tidewatch --describe FILE [--view parser|raw|ascii] [--packet N]\n"
           "       tidewatch --tree FILE [--view parser|raw|ascii] [--packet N]\n"
           "       tidewatch --convert FILE OUT\n"
           "       tidewatch --capture [--method 1|2|3] [--address A.B.C.D | --device NAME]\n"
           "                 [--count N] [--seconds S] [--filter EXPR] --write FILE\n"
           "       tidewatch --check-filter EXPR [--method 1|2|3]\n"
           "       tidewatch --interfaces\n"
           "       tidewatch --help | --version\n"
           "\n"
           "  FILE             a capture file: .tdw (Tidewatch), .cap (Network Monitor),\n"
           "                   .pcap (libpcap)\n"
           "  --list           print the packet list, one TAB-separated row per packet\n"
           "  --describe       print each packet's description\n"
           "  --tree           print each packet's description as the detail pane's tree\n"
           "  --view           the decode view (default: parser)\n"
           "  --packet N       only the packet with index N\n"
           "  --convert        write FILE's packets to OUT in the format of OUT's extension:\n"
           "                   .pcap or .cap libpcap, .pcapng pcapng, any other Tidewatch\n"
           "  --capture        capture without a window until N packets, S seconds, the\n"
           "                   packet limit, an interrupt or a hang-up, then write FILE\n"
           "                   (.tdw, .pcap, .cap or .pcapng; a new file is readable by its\n"
           "                   owner only); exit 0 when written, 1 on a failure (a capture\n"
           "                   that lost its interface is written first), 2 on a usage error\n"
           "  --method         1 raw IPv4 datagrams of one local address, 2 Ethernet frames\n"
           "                   of one network through the Network Monitor provider, 3\n"
           "                   Ethernet frames of one adapter through libpcap (default: the\n"
           "                   stored capture method)\n"
           "  --address        the local address method 1 captures on\n"
           "  --device         the interface method 2 or 3 captures on (default: the\n"
           "                   stored one; none stored: it must be given)\n"
           "  --filter         a capture filter in the libpcap syntax (\"udp port 53\",\n"
           "                   \"host 10.0.0.5 and tcp\"), run by the kernel: frames it\n"
           "                   refuses never reach the store (default: the stored one;\n"
           "                   \"\" for none); one that does not compile is refused, exit 2\n"
           "  --check-filter   print \"valid\" when EXPR compiles for the method's frames\n"
           "                   (exit 0), else the library's message (exit 2)\n"
           "  --interfaces     list what each capture method can capture on\n"
           "  Options may come in any order.\n";
}

namespace {

struct ModeFlag {
    const char* name;
    HeadlessMode mode;
};

constexpr ModeFlag kModeFlags[] = {
    {"--list", HeadlessMode::List},         {"--describe", HeadlessMode::Describe},
    {"--tree", HeadlessMode::Tree},         {"--capture", HeadlessMode::Capture},
    {"--interfaces", HeadlessMode::Interfaces}, {"--convert", HeadlessMode::Convert},
};

bool ParseCount(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno || end == text || *end || n < 0) return false;
    out = n;
    return true;
}

}  // namespace

bool ParseHeadlessArguments(int argc, char** argv, HeadlessOptions& options, std::string& error) {
    bool viewGiven = false, packetGiven = false, captureGiven = false, fileGiven = false;
    bool methodGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        // A count or a time of 0 asks for a capture that ends before it begins.
        auto number = [&](const char* name, long& out, long least = 0) {
            const char* v = value(name);
            if (!v) return false;
            if (!ParseCount(v, out) || out < least) {
                error = std::string("bad value for ") + name + " '" + v + "'" +
                        (least > 0 ? " (at least " + std::to_string(least) + ")" : "");
                return false;
            }
            return true;
        };
        const ModeFlag* modeFlag = nullptr;
        for (const ModeFlag& flag : kModeFlags) {
            if (!std::strcmp(arg, flag.name)) modeFlag = &flag;
        }
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options.mode = HeadlessMode::Help;
            return true;
        } else if (!std::strcmp(arg, "--version")) {
            options.mode = HeadlessMode::Version;
            return true;
        } else if (modeFlag || !std::strcmp(arg, "--check-filter")) {
            if (options.mode != HeadlessMode::Window) {
                error = "only one mode may be given";
                return false;
            }
            if (modeFlag) {
                options.mode = modeFlag->mode;
            } else {
                // The expression is the mode's own value, whatever it looks like.
                const char* v = value(arg);
                if (!v) return false;
                options.mode = HeadlessMode::CheckFilter;
                options.filter = v;
                options.filterGiven = true;
            }
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
            if (!number(arg, options.packet)) return false;
            packetGiven = true;
        } else if (!std::strcmp(arg, "--method")) {
            const char* v = value(arg);
            if (!v) return false;
            if (std::strcmp(v, "1") && std::strcmp(v, "2") && std::strcmp(v, "3")) {
                error = std::string("--method takes 1, 2 or 3, not '") + v + "'";
                return false;
            }
            options.method = v[0] - '0';
            methodGiven = true;
        } else if (!std::strcmp(arg, "--address")) {
            const char* v = value(arg);
            if (!v) return false;
            in_addr parsed{};
            if (inet_pton(AF_INET, v, &parsed) != 1) {
                error = std::string("bad address '") + v + "'";
                return false;
            }
            options.address = ntohl(parsed.s_addr);
            options.addressGiven = true;
            captureGiven = true;
        } else if (!std::strcmp(arg, "--device")) {
            const char* v = value(arg);
            if (!v) return false;
            options.device = v;
            captureGiven = true;
        } else if (!std::strcmp(arg, "--count")) {
            if (!number(arg, options.count, 1)) return false;
            captureGiven = true;
        } else if (!std::strcmp(arg, "--seconds")) {
            if (!number(arg, options.seconds, 1)) return false;
            captureGiven = true;
        } else if (!std::strcmp(arg, "--filter")) {
            const char* v = value(arg);
            if (!v) return false;
            options.filter = v;
            options.filterGiven = true;
            captureGiven = true;
        } else if (!std::strcmp(arg, "--write")) {
            const char* v = value(arg);
            if (!v) return false;
            options.write = v;
            captureGiven = true;
        } else if (arg[0] == '-' && arg[1] != 0) {
            error = std::string("unknown option '") + arg + "'";
            return false;
        } else if (!fileGiven) {
            options.file = arg;
            fileGiven = true;
        } else if (options.output.empty() && options.mode == HeadlessMode::Convert) {
            options.output = arg;
        } else {
            error = std::string("unexpected argument '") + arg + "'";
            return false;
        }
    }
    const HeadlessMode mode = options.mode;
    const bool readsFile = mode == HeadlessMode::List || mode == HeadlessMode::Describe ||
                           mode == HeadlessMode::Tree || mode == HeadlessMode::Convert;
    if ((viewGiven || packetGiven) && mode != HeadlessMode::Describe && mode != HeadlessMode::Tree) {
        error = "--view and --packet go with --describe or --tree";
        return false;
    }
    if (captureGiven && mode != HeadlessMode::Capture) {
        error = "--address, --device, --count, --seconds, --filter and --write go with --capture";
        return false;
    }
    if (methodGiven && mode != HeadlessMode::Capture && mode != HeadlessMode::CheckFilter) {
        error = "--method goes with --capture or --check-filter";
        return false;
    }
    if (readsFile && !fileGiven) {
        error = "a capture file is needed";
        return false;
    }
    if (mode == HeadlessMode::Convert && options.output.empty()) {
        error = "--convert needs FILE and OUT";
        return false;
    }
    if (!readsFile && mode != HeadlessMode::Window && fileGiven) {
        error = std::string("unexpected argument '") + options.file + "'";
        return false;
    }
    if (mode == HeadlessMode::Capture) {
        if (options.write.empty()) {
            error = "--capture needs --write FILE";
            return false;
        }
        if (options.addressGiven && !options.device.empty()) {
            error = "--address and --device exclude each other";
            return false;
        }
        // The interface option names its method (--device: 3 unless 2 is asked for).
        const int implied = options.addressGiven ? 1 : !options.device.empty() ? 3 : 0;
        if (implied == 1 && options.method && options.method != 1) {
            error = "--address goes with method 1";
            return false;
        }
        if (implied == 3 && options.method == 1) {
            error = "--device goes with method 2 or 3";
            return false;
        }
        if (!options.method) options.method = implied;
    }
    return true;
}
