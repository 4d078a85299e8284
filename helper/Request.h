// The one request tidewatch-capture reads from its caller, and its strict parser. The parser is
// a pure function (bytes in, a checked request or a one-line reason out) so that the fuzzer runs
// exactly what the helper runs; whether the interface exists is asked afterwards, of the system.
//
// A request is one message on the helper's socket: printable ASCII, fields separated by one
// blank, ended by a line feed, at most kMaxRequest bytes in all:
//
//   TWCAP 1 packet INTERFACE raw|dgram none|all|ip   a packet socket bound to the interface
//   TWCAP 1 send INTERFACE                           a packet socket that only sends, bound
//   TWCAP 1 pcap DEVICE SNAPLEN BUFFER TIMEOUT [FILTER]
//                                                    libpcap on the device ("any" included),
//                                                    its frames streamed back; FILTER is a
//                                                    capture filter expression in lowercase
//                                                    hexadecimal, two digits a byte
//
// "none" opens the socket with protocol 0: bound but receiving nothing until the caller binds it
// again, so that nothing arrives before its filter and ring are in place.
#pragma once

#include <linux/if_ether.h>
#include <net/if.h>
#include <sys/socket.h>

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace capturehelper {

// The longest capture filter expression, and so the longest request.
constexpr size_t kMaxFilter = 8192;
constexpr size_t kMaxRequest = 255 + 2 * kMaxFilter;
constexpr int kVersion = 1;

struct Request {
    enum class Kind { Packet, Send, Pcap };
    Kind kind = Kind::Packet;
    std::string interface;
    int socketType = SOCK_RAW;  // packet, send
    int protocol = 0;           // packet: 0, ETH_P_ALL or ETH_P_IP, host order
    int snapshotLength = 0;     // pcap
    int bufferBytes = 0;        // pcap
    int timeoutMs = 0;          // pcap
    std::string filter;         // pcap: the capture filter expression, empty for none
};

// The capture filter field: false for one that is not lowercase hexadecimal, two digits a byte,
// of 1 to kMaxFilter bytes of text (printable, blanks, tabs, line ends).
inline bool ParseFilterField(std::string_view field, std::string& expression) {
    if (field.empty() || field.size() % 2 != 0 || field.size() > 2 * kMaxFilter) return false;
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    expression.clear();
    for (size_t i = 0; i < field.size(); i += 2) {
        const int high = digit(field[i]), low = digit(field[i + 1]);
        if (high < 0 || low < 0) return false;
        const char c = static_cast<char>(high * 16 + low);
        if ((c < 0x20 || c > 0x7e) && c != '\t' && c != '\n' && c != '\r') return false;
        expression += c;
    }
    return true;
}

// A field of the caller's as it may appear in a reason: printable already, but cut short.
inline std::string Quoted(std::string_view field) {
    std::string text = "\"" + std::string(field.substr(0, 32));
    return text + (field.size() > 32 ? "...\"" : "\"");
}

// What the kernel accepts as an interface name, less what no interface can be: empty, "." and
// "..", 16 bytes or more, a slash or a colon (libpcap's "dbus://" and "usb:" devices).
inline bool IsInterfaceName(std::string_view name) {
    return !name.empty() && name.size() < IFNAMSIZ && name != "." && name != ".." &&
           name.find_first_of("/:") == std::string_view::npos;
}

inline bool ParseNumber(std::string_view field, int low, int high, int& value) {
    if (field.empty() || field.size() > 10 || (field.size() > 1 && field[0] == '0')) return false;
    long long parsed = 0;
    const auto [end, status] = std::from_chars(field.data(), field.data() + field.size(), parsed);
    if (status != std::errc() || end != field.data() + field.size()) return false;
    if (parsed < low || parsed > high) return false;
    value = static_cast<int>(parsed);
    return true;
}

// True with `request` filled, or false with the reason in `error`.
inline bool ParseRequest(std::string_view bytes, Request& request, std::string& error) {
    auto fail = [&](std::string reason) {
        error = std::move(reason);
        return false;
    };
    if (bytes.empty()) return fail("request is empty");
    if (bytes.size() > kMaxRequest) {
        return fail("request is longer than " + std::to_string(kMaxRequest) + " bytes");
    }
    if (bytes.back() != '\n') return fail("request does not end in a line feed");
    bytes.remove_suffix(1);
    for (const char c : bytes) {
        if (c < 0x20 || c > 0x7e) return fail("request holds a byte that is not printable text");
    }
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t blank = bytes.find(' ', start);
        fields.push_back(bytes.substr(start, blank - start));
        if (fields.back().empty()) return fail("request has an empty field");
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
    if (fields[0] != "TWCAP") return fail("not a Tidewatch capture request");
    if (fields.size() < 2 || fields[1] != "1") {
        return fail("request version " + (fields.size() < 2 ? "(none)" : Quoted(fields[1])) +
                    " is not supported (this helper speaks version 1)");
    }
    if (fields.size() < 3) return fail("request names nothing to open");
    const std::string_view verb = fields[2];
    size_t expected = 0;
    if (verb == "packet") {
        request.kind = Request::Kind::Packet;
        expected = 6;
    } else if (verb == "send") {
        request.kind = Request::Kind::Send;
        expected = 4;
    } else if (verb == "pcap") {
        request.kind = Request::Kind::Pcap;
        expected = 7;
    } else {
        return fail("unknown request " + Quoted(verb));
    }
    // A pcap request may carry a capture filter.
    if (fields.size() != expected && !(verb == "pcap" && fields.size() == expected + 1)) {
        return fail("request " + Quoted(verb) + " takes " + std::to_string(expected - 3) +
                    (expected == 4 ? " field" : " fields"));
    }
    if (!IsInterfaceName(fields[3])) return fail(Quoted(fields[3]) + " is not an interface name");
    request.interface = std::string(fields[3]);
    switch (request.kind) {
        case Request::Kind::Packet:
            if (fields[4] == "raw") {
                request.socketType = SOCK_RAW;
            } else if (fields[4] == "dgram") {
                request.socketType = SOCK_DGRAM;
            } else {
                return fail("socket type " + Quoted(fields[4]) + " is neither raw nor dgram");
            }
            if (fields[5] == "none") {
                request.protocol = 0;
            } else if (fields[5] == "all") {
                request.protocol = ETH_P_ALL;
            } else if (fields[5] == "ip") {
                request.protocol = ETH_P_IP;
            } else {
                return fail("protocol " + Quoted(fields[5]) + " is none of none, all and ip");
            }
            break;
        case Request::Kind::Send:
            request.socketType = SOCK_RAW;
            request.protocol = 0;
            break;
        case Request::Kind::Pcap:
            if (!ParseNumber(fields[4], 1, 262144, request.snapshotLength)) {
                return fail("snapshot length " + Quoted(fields[4]) + " is not 1 to 262144");
            }
            if (!ParseNumber(fields[5], 65536, 1 << 28, request.bufferBytes)) {
                return fail("buffer size " + Quoted(fields[5]) + " is not 65536 to 268435456");
            }
            if (!ParseNumber(fields[6], 1, 1000, request.timeoutMs)) {
                return fail("read time-out " + Quoted(fields[6]) + " is not 1 to 1000 ms");
            }
            request.filter.clear();
            if (fields.size() == 8 && !ParseFilterField(fields[7], request.filter)) {
                return fail("capture filter " + Quoted(fields[7]) + " is not hexadecimal text");
            }
            break;
    }
    return true;
}

}  // namespace capturehelper
