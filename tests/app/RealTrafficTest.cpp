// Real traffic between two network namespaces, captured with tcpdump, described by
// `tidewatch --describe` and compared field by field with tshark's dissection of the same file:
// addresses, ports, TCP flags, ICMP and ICMPv6 types and codes, ARP opcodes and addresses, and
// the IPv4, TCP, UDP, ICMP and ICMPv6 checksum verdicts.
//
// Needs root (namespaces, veth, capture) and ip, tcpdump, tshark, ping, arping and nc; skipped
// otherwise. The veth pair has transmit checksum offload switched off before it is moved into
// the namespaces: with it on, the kernel leaves TCP and UDP checksums to a "card" that never
// fills them in, and every capture would show them as wrong.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "decode/DescriptionTree.h"
#include "tests/app/DescribeRun.h"
#include "tests/support/NetNamespaces.h"

using namespace describetest;
using filetest::HaveTool;
using filetest::RunShell;
using netns::Background;
using netns::Fields;
using netns::NamespacePair;
using netns::Shell;
using netns::Trim;
using netns::WaitFor;

namespace {

// One frame as tshark dissects it: the field names are tshark's.
const std::vector<std::string> kTsharkFields = {
    "frame.number",
    "ip.src",
    "ip.dst",
    "ip.checksum.status",
    "ipv6.src",
    "ipv6.dst",
    "tcp.srcport",
    "tcp.dstport",
    "tcp.flags",
    "tcp.checksum.status",
    "udp.srcport",
    "udp.dstport",
    "udp.checksum.status",
    "icmp.type",
    "icmp.code",
    "icmp.checksum.status",
    "icmpv6.type",
    "icmpv6.code",
    "icmpv6.checksum.status",
    "arp.opcode",
    "arp.src.proto_ipv4",
    "arp.dst.proto_ipv4",
};

// Whether an Ethernet frame carries an IPv4 datagram of the protocol whose first two transport
// bytes are `first` (a UDP source port; an ICMP type and code).
bool CarriesIPv4(const filetest::Bytes& frame, uint8_t protocol, uint16_t first) {
    if (frame.size() < 34 || bytes::LoadBe16(&frame[12]) != 0x0800 || frame[23] != protocol) {
        return false;
    }
    const size_t transport = 14 + static_cast<size_t>(frame[14] & 0x0f) * 4;
    return transport + 2 <= frame.size() && bytes::LoadBe16(&frame[transport]) == first;
}

std::vector<Fields> Tshark(const std::string& pcap) {
    return netns::TsharkFields(
        pcap, kTsharkFields,
        "-o tcp.check_checksum:TRUE -o udp.check_checksum:TRUE -o ip.check_checksum:TRUE"
        " -E occurrence=f");
}

std::string After(const std::string& label, const char* prefix) {
    return label.substr(std::strlen(prefix));
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "0x1234 (Correct)" -> "1", as tshark gives checksum states: 0 bad, 1 good, 2 not verified,
// 3 not present.
std::string Verdict(const std::string& value) {
    if (value.find("(Correct)") != std::string::npos) return "1";
    if (value.find("(Incorrect)") != std::string::npos) return "0";
    return "unchecked";
}

std::string CanonicalIPv6(const std::string& text) {
    in6_addr address{};
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1) return "bad:" + text;
    char out[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &address, out, sizeof out);
    return out;
}

int IcmpTypeFromTitle(const std::string& title) {
    static const std::map<std::string, int> kNames = {
        {"Echo Reply", 0},           {"Destination Unreachable", 3}, {"Source Quench", 4},
        {"Redirect", 5},             {"Echo Request", 8},            {"Router Advertisement", 9},
        {"Router Solicitation", 10}, {"Time Exceeded", 11},          {"Parameter Problem", 12},
        {"Timestamp Request", 13},   {"Timestamp Reply", 14},        {"Information Request", 15},
        {"Information Reply", 16},   {"Address Mask Request", 17},   {"Address Mask Reply", 18},
        {"v6 Router Solicitation", 133}, {"v6 Neighbour Solicitation", 135},
        {"v6 Multicast Listener Report", 143},
    };
    // "ICMP <name> Packet" or "ICMP Type <n> Packet"
    const std::string name = title.substr(5, title.size() - 5 - 7);
    if (StartsWith(name, "Type ")) return std::stoi(name.substr(5));
    const auto found = kNames.find(name);
    return found == kNames.end() ? -1 : found->second;
}

int IcmpCodeFromText(int type, const std::string& text) {
    static const std::map<int, std::vector<std::string>> kTables = {
        {3, {"network unreachable", "host unreachable", "protocol unreachable", "port unreachable",
             "frag needed but don't fragment bit set", "source route failed",
             "destination net unknown", "destination host unknown", "source host isolated",
             "destination network administratively prohibited",
             "destination host administratively prohibited", "network unreachable for TOS",
             "host unreachable for TOS", "communication filtered", "host precedence violation",
             "precedence cutoff in effect"}},
        {5, {"redirect for network", "redirect for host", "redirect for TOS and network",
             "redirect for TOS and host"}},
        {11, {"TTL == 0 in transit", "TTL == 0 in reassembly"}},
        {12, {"IP header bad", "required option missing"}},
    };
    const size_t unknown = text.find(" (Unknown)");
    if (unknown != std::string::npos) return std::stoi(text.substr(0, unknown));
    const auto table = kTables.find(type);
    if (table == kTables.end()) return -1;
    for (size_t code = 0; code < table->second.size(); ++code) {
        if (table->second[code] == text) return static_cast<int>(code);
    }
    return -1;
}

// The description's fields under tshark's names. ICMP messages over IPv6 (protocol 58) are
// named icmpv6; only the outer layers count (the header quoted in an ICMP error is skipped).
Fields FromDescription(const std::string& text) {
    Fields fields;
    std::string layer;
    bool overIPv6 = false;
    int icmpType = -1;
    auto put = [&](const std::string& key, const std::string& value) {
        fields.emplace(key, value);  // the first occurrence wins, as with tshark's -E occurrence=f
    };
    ForEachDescriptionLine(text, [&](int depth, std::string_view view) {
        const std::string label(view);
        if (depth == 0) {
            if (label == "IPv4 Header" && layer.rfind("ICMP", 0) == 0) {
                layer = "quoted";
            } else {
                layer = label;
            }
            if (label == "IPv6 Header") overIPv6 = true;
            if (StartsWith(label, "ICMP ")) {
                icmpType = IcmpTypeFromTitle(label);
                put(overIPv6 ? "icmpv6.type" : "icmp.type", std::to_string(icmpType));
            }
            if (label == "ARP Request Packet") put("arp.opcode", "1");
            if (label == "ARP Reply Packet") put("arp.opcode", "2");
            return;
        }
        if (layer == "IPv4 Header") {
            if (StartsWith(label, "Source IP: ")) put("ip.src", After(label, "Source IP: "));
            if (StartsWith(label, "Dest IP: ")) put("ip.dst", After(label, "Dest IP: "));
            if (StartsWith(label, "Checksum: ")) put("ip.checksum.status", Verdict(label));
        } else if (layer == "IPv6 Header") {
            if (StartsWith(label, "Source IP: "))
                put("ipv6.src", CanonicalIPv6(After(label, "Source IP: ")));
            if (StartsWith(label, "Dest IP: "))
                put("ipv6.dst", CanonicalIPv6(After(label, "Dest IP: ")));
        } else if (layer == "TCP Header" || layer == "UDP Header") {
            const std::string p = layer == "TCP Header" ? "tcp." : "udp.";
            if (StartsWith(label, "Source port: "))
                put(p + "srcport", After(label, "Source port: "));
            if (StartsWith(label, "Dest port: ")) put(p + "dstport", After(label, "Dest port: "));
            if (StartsWith(label, "Checksum: ")) put(p + "checksum.status", Verdict(label));
            if (StartsWith(label, "Flags: ")) {
                put("tcp.flags",
                    std::to_string(std::stoul(After(label, "Flags: ").substr(0, 4), nullptr, 16)));
            }
        } else if (StartsWith(layer, "ICMP ")) {
            const std::string p = overIPv6 ? "icmpv6." : "icmp.";
            if (StartsWith(label, "Code: "))
                put(p + "code", std::to_string(IcmpCodeFromText(icmpType, After(label, "Code: "))));
            if (StartsWith(label, "Checksum: ")) put(p + "checksum.status", Verdict(label));
        } else if (StartsWith(layer, "ARP ")) {
            const size_t open = label.find(" (");
            if (StartsWith(label, "Sender Protocol Address: ") && open != std::string::npos)
                put("arp.src.proto_ipv4", label.substr(open + 2, label.size() - open - 3));
            if (StartsWith(label, "Target Protocol Address: ") && open != std::string::npos)
                put("arp.dst.proto_ipv4", label.substr(open + 2, label.size() - open - 3));
        }
    });
    return fields;
}

// tshark's values in the description's form.
Fields Normalised(Fields fields) {
    for (const char* key : {"ipv6.src", "ipv6.dst"}) {
        if (fields.count(key)) fields[key] = CanonicalIPv6(fields[key]);
    }
    if (fields.count("tcp.flags")) {
        fields["tcp.flags"] = std::to_string(std::stoul(fields["tcp.flags"], nullptr, 16) & 0xff);
    }
    for (const char* key : {"tcp.checksum.status", "udp.checksum.status"}) {
        if (fields.count(key) && fields[key] == "3") fields[key] = "unchecked";  // not present
    }
    // An ICMP error quotes a datagram; tshark also dissects the quoted transport header.
    if (fields.count("icmp.type") || fields.count("icmpv6.type")) {
        for (const char* key : {"tcp.srcport", "tcp.dstport", "tcp.flags", "tcp.checksum.status",
                                "udp.srcport", "udp.dstport", "udp.checksum.status"}) {
            fields.erase(key);
        }
    }
    fields.erase("frame.number");
    return fields;
}

}  // namespace

TEST(RealTraffic, DescriptionsAgreeWithTshark) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: network namespaces, veth and capture";
    std::string missing;
    for (const char* tool : {"ip", "tcpdump", "tshark", "ping", "arping", "nc", "ss", "bash"}) {
        if (!HaveTool(tool)) missing += std::string(" ") + tool;
    }
    if (!missing.empty()) GTEST_SKIP() << "missing tools:" << missing << " (scripts/setup test)";

    const std::string tag = std::to_string(getpid());
    NamespacePair net(tag);
    std::string output;
    if (!net.Add(&output)) {
        GTEST_SKIP() << "cannot create network namespaces here: " << Trim(output);
    }
    const std::string v4A = "10.200.7.1", v4B = "10.200.7.2";
    const std::string v6A = "fd00:200:7::1", v6B = "fd00:200:7::2";
    ASSERT_TRUE(net.Connect({v4A, v4B, 24, v6A, v6B, "", ""}, &output)) << output;
    const bool offloadOff = net.OffloadOff();

    const std::string dir = std::filesystem::current_path().string();
    const std::string pcap = dir + "/real.pcap";
    netns::Capture capture(net, pcap, dir + "/tcpdump.log");
    ASSERT_TRUE(capture.Started()) << "tcpdump did not start";

    // Listeners in B: a TCP server for one connection and a UDP peer that answers the first
    // datagram with a line of its own.
    {
        std::ofstream(dir + "/udp-reply.txt") << "udp reply from B\n";
    }
    Background tcpServer({"ip", "netns", "exec", net.b, "nc", "-l", v4B, "5555"},
                         dir + "/tcp-server.log");
    Background udpPeer({"ip", "netns", "exec", net.b, "nc", "-u", "-l", v4B, "6666"},
                       dir + "/udp-peer.log", dir + "/udp-reply.txt");
    ASSERT_TRUE(WaitFor(
        [&] { return net.ListeningInB("tcp", 5555) && net.ListeningInB("udp", 6666); },
        std::chrono::seconds(30)))
        << "the listeners in " << net.b << " did not start";

    // The waits for answers only bound a failure: each command ends as soon as it has them.
    const std::string traffic[] = {
        net.InA("ping -c 2 -i 0.2 -W 10 " + v4B),
        net.InA("ping -6 -c 2 -i 0.2 -W 10 " + v6B),
        net.InA("arping -c 2 -w 20 -I " + net.ifA + " " + v4B),
        net.InA("sh -c 'printf \"hello tidewatch\\n\" | nc -N -w 10 " + v4B + " 5555'"),
        net.InA("sh -c 'printf \"udp from A\\n\" | nc -u -w 1 " + v4B + " 6666'"),
        // A closed port: B answers with an ICMP port unreachable. One datagram through bash's
        // /dev/udp, since nc may leave before sending when its input ends at once.
        net.InA("bash -c 'printf x >/dev/udp/" + v4B + "/6667'"),
    };
    for (const std::string& command : traffic) {
        EXPECT_EQ(Shell(command, &output), 0) << command << ": " << output;
    }
    // Nobody waits for B's UDP answer and its port unreachable: tcpdump has them once they are
    // in its file.
    EXPECT_TRUE(netns::WaitForFrames(
        pcap,
        [](const std::vector<filetest::Bytes>& frames) {
            auto any = [&](uint8_t protocol, uint16_t first) {
                return std::any_of(frames.begin(), frames.end(), [&](const filetest::Bytes& f) {
                    return CarriesIPv4(f, protocol, first);
                });
            };
            return any(17, 6666) && any(1, 0x0303);
        },
        std::chrono::seconds(30)))
        << "no UDP answer or port unreachable from B";
    EXPECT_TRUE(capture.StopWhenWritten()) << "tcpdump did not stop cleanly";
    tcpServer.Stop(SIGTERM, std::chrono::seconds(1));
    udpPeer.Stop(SIGTERM, std::chrono::seconds(1));

    const ModeRun run = DescribeFile(pcap);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> packets = SplitPackets(run.out);
    const std::vector<Fields> dissected = Tshark(pcap);
    ASSERT_FALSE(dissected.empty()) << "tshark read nothing from " << pcap;
    ASSERT_EQ(packets.size(), dissected.size());

    std::map<std::string, int> seen;
    int compared = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const Fields ours = FromDescription(packets[i]);
        const Fields theirs = Normalised(dissected[i]);
        for (const auto& [key, value] : theirs) {
            if (StartsWith(key, "tcp.checksum") || StartsWith(key, "udp.checksum")) {
                if (value == "2") continue;  // tshark did not verify it
            }
            const auto found = ours.find(key);
            if (found == ours.end()) {
                ADD_FAILURE() << "frame " << i + 1 << ": no " << key << " (tshark: " << value
                              << ")\n" << packets[i];
                continue;
            }
            EXPECT_EQ(found->second, value) << "frame " << i + 1 << ": " << key << "\n"
                                            << packets[i];
            ++compared;
        }
        // Every layer we name, tshark names too.
        for (const auto& [key, value] : ours) {
            if (key == "ip.checksum.status" && !theirs.count(key)) continue;  // a quoted header
            EXPECT_TRUE(theirs.count(key)) << "frame " << i + 1 << ": tshark has no " << key;
        }
        if (theirs.count("icmp.type"))
            ++seen["icmp " + theirs.at("icmp.type") + "/" + theirs.at("icmp.code")];
        if (theirs.count("icmpv6.type")) ++seen["icmpv6 " + theirs.at("icmpv6.type")];
        if (theirs.count("arp.opcode")) ++seen["arp " + theirs.at("arp.opcode")];
        if (theirs.count("tcp.flags")) ++seen["tcp flags " + theirs.at("tcp.flags")];
        if (theirs.count("udp.srcport"))
            ++seen["udp " + theirs.at("udp.srcport") + ">" + theirs.at("udp.dstport")];
        for (const char* key : {"tcp.checksum.status", "udp.checksum.status"}) {
            if (ours.count(key) && ours.at(key) == "1") ++seen[std::string(key) + " correct"];
        }
    }
    EXPECT_GT(compared, 0);

    // The traffic we made is all there.
    for (const char* kind : {"icmp 8/0", "icmp 0/0", "icmp 3/3", "icmpv6 128", "icmpv6 129",
                             "arp 1", "arp 2", "tcp flags 2", "tcp flags 18"}) {
        EXPECT_GT(seen[kind], 0) << "no " << kind << " in the capture";
    }
    bool udpBothWays = false;
    for (const auto& [kind, count] : seen) {
        if (StartsWith(kind, "udp 6666>")) udpBothWays = true;
    }
    EXPECT_TRUE(udpBothWays) << "no UDP answer from B";
    if (offloadOff) {
        EXPECT_GT(seen["tcp.checksum.status correct"], 0);
        EXPECT_GT(seen["udp.checksum.status correct"], 0);
    }
    if (HasFailure()) {
        ADD_FAILURE() << "the capture as tshark lists it:\n"
                      << RunShell("tshark -n -r '" + pcap + "' 2>/dev/null");
    }
    RecordProperty("frames", static_cast<int>(packets.size()));
    RecordProperty("fields_compared", compared);
    RecordProperty("checksum_offload_disabled", offloadOff ? "yes" : "no");
}
