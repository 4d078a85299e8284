// Writes a capture of mixed traffic for the list benchmark and the fuzz seeds: Ethernet frames
// carrying ARP, IPv4 and IPv6 with TCP, UDP, ICMP and DNS queries and responses, and a few
// 802.3 frames.
//
//     gen_traffic [--count N] [--first I] [--format pcap|tdw] FILE
//
// The default is 65,536 frames (frames 0 to 65,535 of the mix) in a libpcap file (microsecond,
// little-endian). The own format is written by loading the frames into the store and saving it,
// as the program itself does.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "decode/FrameBuilder.h"
#include "files/CaptureFile.h"

namespace {

using namespace frames;

const char* const kNames[] = {"www.example.com", "mail.example.org", "ns1.tidecraft.net",
                              "a.very.long.host.name.example.com", "printer.local"};

// The query's answer: one or two records, names compressed to the question (offset 12).
Bytes DnsResponse(uint16_t id, const std::string& name, uint16_t type, uint32_t seed) {
    Bytes out = DnsQuery(id, name, type);
    out[2] = 0x81;
    out[3] = 0x80;
    const uint16_t answers = 1 + seed % 2;
    out[7] = static_cast<uint8_t>(answers);
    for (uint16_t a = 0; a < answers; ++a) {
        bytes::AppendBe16(out, 0xc00c);
        bytes::AppendBe16(out, type);
        bytes::AppendBe16(out, 1);
        bytes::AppendBe32(out, 300 + seed % 3600);
        if (type == 28) {
            bytes::AppendBe16(out, 16);
            const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                    0,    0,    0,    0,    0, 0, static_cast<uint8_t>(seed >> 8),
                                    static_cast<uint8_t>(seed + a)};
            out.insert(out.end(), v6, v6 + 16);
        } else {
            bytes::AppendBe16(out, 4);
            bytes::AppendBe32(out, IPv4Address(93, 184, static_cast<uint8_t>(seed >> 8),
                                   static_cast<uint8_t>(seed + a)));
        }
    }
    return out;
}

Bytes Payload(size_t n, uint32_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return out;
}

Mac HostMac(uint32_t host) {
    return Mac{0x02, 0x00, 0x5e, static_cast<uint8_t>(host >> 16), static_cast<uint8_t>(host >> 8),
               static_cast<uint8_t>(host)};
}

IPv6Address HostV6(uint32_t host) {
    IPv6Address a{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1};
    a[12] = static_cast<uint8_t>(host >> 24);
    a[13] = static_cast<uint8_t>(host >> 16);
    a[14] = static_cast<uint8_t>(host >> 8);
    a[15] = static_cast<uint8_t>(host);
    return a;
}

// Frame i of the mix: mostly TCP, then UDP and DNS, ICMP, ARP, IPv6 and some 802.3.
Bytes MakeFrame(uint32_t i) {
    const uint32_t client = 0x0a000000 | (i * 2654435761u >> 20 & 0xff) << 8 | (i % 200 + 2);
    const uint32_t server = IPv4Address(192, 168, static_cast<uint8_t>(i % 7), 10);
    const Mac clientMac = HostMac(client), serverMac = HostMac(server);
    const uint16_t clientPort = static_cast<uint16_t>(32768 + i % 28000);
    const bool toServer = i % 2 == 0;
    const std::string name = kNames[i % 5];
    const uint16_t dnsId = static_cast<uint16_t>(i * 7919);
    switch (i % 16) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: {  // a TCP conversation: data segments of varying size, and bare acks
            const uint16_t serverPort = (i / 16) % 3 == 0 ? 443 : (i / 16) % 3 == 1 ? 80 : 22;
            const size_t size = i % 3 == 0 ? 0 : (i * 97) % 1460;
            Bytes tcp = toServer ? TCP(clientPort, serverPort, i * 1000, i * 3, 0x18,
                                       Payload(size, i))
                                 : TCP(serverPort, clientPort, i * 3, i * 1000, 0x10,
                                       Payload(size, i));
            return toServer ? Ethernet(serverMac, clientMac, 0x0800, IPv4(6, client, server, tcp))
                            : Ethernet(clientMac, serverMac, 0x0800, IPv4(6, server, client, tcp));
        }
        case 6:
            return Ethernet(serverMac, clientMac, 0x0800,
                            IPv4(17, client, server,
                                 UDP(clientPort, 53, DnsQuery(dnsId, name, 1))));
        case 7:
            return Ethernet(clientMac, serverMac, 0x0800,
                            IPv4(17, server, client,
                                 UDP(53, clientPort, DnsResponse(dnsId, name, 1, i))));
        case 8:
            return Ethernet(serverMac, clientMac, 0x0800,
                            IPv4(17, client, server,
                                 UDP(clientPort, static_cast<uint16_t>(5000 + i % 1000),
                                     Payload(20 + i % 500, i))));
        case 9:
            return PadEthernet(Ethernet(serverMac, clientMac, 0x0800,
                                        IPv4(1, client, server,
                                             ICMP(8, 0, i & 0xffff, Payload(32, i)))));
        case 10:
            return PadEthernet(Ethernet(clientMac, serverMac, 0x0800,
                                        IPv4(1, server, client,
                                             ICMP(0, 0, i & 0xffff, Payload(32, i)))));
        case 11:
            return PadEthernet(Ethernet(Mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, clientMac, 0x0806,
                                        ARP(i % 32 == 11 ? 2 : 1, clientMac, client, Mac{},
                                            server)));
        case 12: {
            Bytes tcp = TCP(clientPort, 443, i, i, 0x18, Payload((i * 13) % 1200, i));
            return Ethernet(serverMac, clientMac, 0x86DD,
                            IPv6(6, HostV6(client), HostV6(server), tcp));
        }
        case 13:
            return Ethernet(serverMac, clientMac, 0x86DD,
                            IPv6(17, HostV6(client), HostV6(server),
                                 UDP(clientPort, 53, DnsQuery(dnsId, name, 28))));
        case 14:
            return Ethernet(clientMac, serverMac, 0x86DD,
                            IPv6(17, HostV6(server), HostV6(client),
                                 UDP(53, clientPort, DnsResponse(dnsId, name, 28, i)),
                                 i % 64 == 14));
        default:
            if (i % 64 == 15) {  // 802.3 with LLC: spanning tree
                return PadEthernet(Ethernet8023(Mac{0x01, 0x80, 0xc2, 0, 0, 0}, clientMac, 0x42,
                                                0x42, 0x03, Payload(35, i)));
            }
            return Ethernet(serverMac, clientMac, 0x86DD,
                            IPv6(58, HostV6(client), HostV6(server),
                                 ICMP(128, 0, i & 0xffff, Payload(56, i))));
    }
}

bool WritePcap(const char* path, uint32_t first, uint32_t count) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    Bytes out;
    bytes::AppendLe32(out, 0xa1b2c3d4);
    bytes::AppendLe16(out, 2);  // version 2.4
    bytes::AppendLe16(out, 4);
    bytes::AppendLe32(out, 0);
    bytes::AppendLe32(out, 0);
    bytes::AppendLe32(out, 65535);
    bytes::AppendLe32(out, 1);
    bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    uint64_t microseconds = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes frame = MakeFrame(first + i);
        out.clear();
        bytes::AppendLe32(out, static_cast<uint32_t>(1700000000 + microseconds / 1000000));
        bytes::AppendLe32(out, static_cast<uint32_t>(microseconds % 1000000));
        bytes::AppendLe32(out, static_cast<uint32_t>(frame.size()));
        bytes::AppendLe32(out, static_cast<uint32_t>(frame.size()));
        bytes::AppendBytes(out, frame);
        written = written && std::fwrite(out.data(), 1, out.size(), file) == out.size();
        microseconds += 40 + (i * 7919u) % 2000;
    }
    return std::fclose(file) == 0 && written;
}

bool WriteOwn(const char* path, uint32_t first, uint32_t count) {
    if (!AllocateStore()) return false;
    ResetFilters();
    uint32_t milliseconds = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes frame = MakeFrame(first + i);
        LoaderInfo info;
        info.timeOffset = milliseconds;
        HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), 2, false, &info);
        milliseconds += 1 + i % 5;
    }
    return WriteOwnCapture(path);
}

int Usage() {
    std::fputs("Usage: gen_traffic [--count N] [--first I] [--format pcap|tdw] FILE\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = 65536, first = 0;
    std::string format = "pcap";
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--count") && i + 1 < argc) {
            count = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--first") && i + 1 < argc) {
            first = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--format") && i + 1 < argc) {
            format = argv[++i];
        } else if (argv[i][0] != '-' && !path) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (!path || (format != "pcap" && format != "tdw")) return Usage();
    const bool written =
        format == "pcap" ? WritePcap(path, first, count) : WriteOwn(path, first, count);
    if (!written) {
        std::fprintf(stderr, "gen_traffic: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
