#include "ui/DemoCapture.h"

#include <cstdio>
#include <string_view>

namespace {

using frames::Bytes;
using frames::IPv4Address;
using frames::Mac;
using frames::PutDnsName;

constexpr Mac kClientMac{0x00, 0x1b, 0x21, 0x3a, 0x4f, 0x10};
constexpr Mac kGatewayMac{0x00, 0x0d, 0xb9, 0x41, 0x7c, 0x02};
constexpr Mac kPrinterMac{0x00, 0x80, 0x77, 0x31, 0x05, 0x9e};
constexpr Mac kBroadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
constexpr Mac kDecMulticast{0xab, 0x00, 0x00, 0x02, 0x00, 0x00};
constexpr Mac kStpMulticast{0x01, 0x80, 0xc2, 0x00, 0x00, 0x00};
constexpr Mac kCdpMulticast{0x01, 0x00, 0x0c, 0xcc, 0xcc, 0xcc};
constexpr Mac kZeroMac{};

const uint32_t kClient = IPv4Address(192, 168, 1, 23);
const uint32_t kGateway = IPv4Address(192, 168, 1, 1);
const uint32_t kPrinter = IPv4Address(192, 168, 1, 40);
const uint32_t kSubnetBroadcast = IPv4Address(192, 168, 1, 255);
const uint32_t kWeb = IPv4Address(93, 184, 216, 34);
const uint32_t kMail = IPv4Address(198, 51, 100, 25);
const uint32_t kResolver = IPv4Address(9, 9, 9, 9);

constexpr frames::IPv6Address kClient6{0xfe, 0x80, 0, 0, 0, 0, 0, 0,
                                       0x02, 0x1b, 0x21, 0xff, 0xfe, 0x3a, 0x4f, 0x10};
constexpr frames::IPv6Address kWeb6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80};

void PutText(Bytes& out, std::string_view text, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? text[i] : 0);
}
void PutWide(Bytes& out, std::string_view text, size_t characters) {
    for (size_t i = 0; i < characters; ++i) bytes::AppendLe16(out, i < text.size() ? text[i] : 0);
}
void PutMac(Bytes& out, const Mac& mac) { out.insert(out.end(), mac.begin(), mac.end()); }

Bytes DnsResponse(uint16_t id, std::string_view name) {
    Bytes out;
    bytes::AppendBe16(out, id);
    bytes::AppendBe16(out, 0x8180);  // response, recursion desired and available
    bytes::AppendBe16(out, 1);
    bytes::AppendBe16(out, 2);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe16(out, 0);
    PutDnsName(out, name);
    bytes::AppendBe16(out, 1);
    bytes::AppendBe16(out, 1);
    // www.example.com CNAME example.com (pointing into the question), then its address.
    bytes::AppendBe16(out, 0xc00c);
    bytes::AppendBe16(out, 5);
    bytes::AppendBe16(out, 1);
    bytes::AppendBe32(out, 3600);
    bytes::AppendBe16(out, 2);
    bytes::AppendBe16(out, 0xc010);
    bytes::AppendBe16(out, 0xc010);
    bytes::AppendBe16(out, 1);
    bytes::AppendBe16(out, 1);
    bytes::AppendBe32(out, 86400);
    bytes::AppendBe16(out, 4);
    bytes::AppendBe32(out, kWeb);
    return out;
}

// A DHCP option holding one 32-bit value.
void PutOption32(Bytes& out, uint8_t code, uint32_t value) {
    bytes::Append8(out, code);
    bytes::Append8(out, 4);
    bytes::AppendBe32(out, value);
}

Bytes Dhcp(uint8_t op, uint8_t messageType, uint32_t yourAddress, bool offer) {
    Bytes out;
    bytes::Append8(out, op);
    bytes::Append8(out, 1);  // Ethernet
    bytes::Append8(out, 6);
    bytes::Append8(out, 0);
    bytes::AppendBe32(out, 0x3903f326);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe16(out, 0x8000);  // broadcast
    bytes::AppendBe32(out, 0);
    bytes::AppendBe32(out, yourAddress);
    bytes::AppendBe32(out, offer ? kGateway : 0);
    bytes::AppendBe32(out, 0);
    PutMac(out, kClientMac);
    out.resize(out.size() + 10 + 64 + 128, 0);  // hardware address padding, server and file
    bytes::AppendBe32(out, 0x63825363);
    bytes::Append8(out, 53);
    bytes::Append8(out, 1);
    bytes::Append8(out, messageType);
    if (offer) {
        PutOption32(out, 54, kGateway);    // server
        PutOption32(out, 51, 86400);       // lease time
        PutOption32(out, 1, 0xffffff00);   // subnet mask
        PutOption32(out, 3, kGateway);     // router
        PutOption32(out, 6, kGateway);     // name server
    } else {
        bytes::Append8(out, 61);
        bytes::Append8(out, 7);
        bytes::Append8(out, 1);
        PutMac(out, kClientMac);
        bytes::Append8(out, 55);
        bytes::Append8(out, 4);
        bytes::AppendBytes(out, {1, 3, 6, 42});
        bytes::Append8(out, 12);
        bytes::Append8(out, 8);
        PutText(out, "tidepool", 8);
    }
    bytes::Append8(out, 255);
    return out;
}

// "TIDEPOOL" in the NetBIOS first-level encoding, padded with blanks, suffix 0x00.
Bytes NetBiosName() {
    Bytes out;
    bytes::Append8(out, 32);
    std::string_view name = "TIDEPOOL";
    for (int i = 0; i < 16; ++i) {
        const uint8_t c = i < static_cast<int>(name.size()) ? name[static_cast<size_t>(i)]
                                                              : (i == 15 ? 0 : ' ');
        bytes::Append8(out, static_cast<uint8_t>('A' + (c >> 4)));
        bytes::Append8(out, static_cast<uint8_t>('A' + (c & 0x0f)));
    }
    bytes::Append8(out, 0);
    return out;
}

// The NetBIOS name service header with one question or one answer, then the name, its type
// (NB) and class (IN).
Bytes NbnsStart(uint16_t flags, bool answer) {
    Bytes out;
    bytes::AppendBe16(out, 0x6a21);
    bytes::AppendBe16(out, flags);
    bytes::AppendBe16(out, answer ? 0 : 1);
    bytes::AppendBe16(out, answer ? 1 : 0);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe16(out, 0);
    bytes::AppendBytes(out, NetBiosName());
    bytes::AppendBe16(out, 0x20);
    bytes::AppendBe16(out, 1);
    return out;
}

Bytes NbnsQuery() { return NbnsStart(0x0110, false); }  // query, recursion desired, broadcast

Bytes NbnsResponse() {
    Bytes out = NbnsStart(0x8500, true);  // response, authoritative, recursion desired
    bytes::AppendBe32(out, 300000);
    bytes::AppendBe16(out, 6);
    bytes::AppendBe16(out, 0x0000);  // unique B-node name
    bytes::AppendBe32(out, kClient);
    return out;
}

Bytes Rwho() {
    Bytes out;
    bytes::Append8(out, 1);  // protocol version
    bytes::Append8(out, 1);  // status
    bytes::AppendBe16(out, 0);
    bytes::AppendBe32(out, 0x65f1d200);  // send time
    bytes::AppendBe32(out, 0x65f1d1f0);  // receive time
    PutText(out, "lighthouse", 32);
    bytes::AppendBe32(out, 12);  // load averages x 100
    bytes::AppendBe32(out, 25);
    bytes::AppendBe32(out, 31);
    bytes::AppendBe32(out, 0x65ee5a00);  // boot time
    PutText(out, "pts/0", 8);
    PutText(out, "keeper", 8);
    bytes::AppendBe32(out, 0x65f1c400);  // login time
    bytes::AppendBe32(out, 42);          // idle seconds
    return out;
}

Bytes Bone() {
    Bytes out;
    bytes::AppendBe32(out, 0);
    bytes::Append8(out, 5);     // security monitor announcement
    bytes::Append8(out, 0x81);
    out.resize(out.size() + 10, 0);
    bytes::AppendBe32(out, 7);
    PutText(out, "LIGHTHOUSE-01", 16);
    PutText(out, "keeper", 32);
    bytes::AppendBe32(out, 0);
    PutMac(out, kPrinterMac);
    PutMac(out, kPrinterMac);
    PutWide(out, "Lighthouse", 16);
    PutWide(out, "Keeper", 32);
    return out;
}

Bytes DecDna() {
    Bytes items;
    auto item = [&items](uint16_t type, const Bytes& value) {
        bytes::AppendLe16(items, type);
        bytes::Append8(items, static_cast<uint8_t>(value.size()));
        bytes::AppendBytes(items, value);
    };
    item(1, {3, 0, 0});        // maintenance version
    item(2, {0x02, 0x00});     // functions
    item(7, {0xaa, 0x00, 0x04, 0x00, 0x12, 0x34});  // hardware address
    item(100, {0x01});         // device
    Bytes out;
    bytes::AppendLe16(out, static_cast<uint16_t>(items.size() + 4));
    bytes::Append8(out, 7);  // system identification
    bytes::Append8(out, 0);
    bytes::AppendLe16(out, 0x1234);
    bytes::AppendBytes(out, items);
    return out;
}

Bytes SpanningTree() {
    Bytes out;
    bytes::AppendBe16(out, 0);  // protocol
    bytes::Append8(out, 0);   // version
    bytes::Append8(out, 0);   // configuration
    bytes::Append8(out, 0);
    bytes::AppendBe16(out, 0x8000);
    PutMac(out, kGatewayMac);
    bytes::AppendBe32(out, 0);
    bytes::AppendBe16(out, 0x8000);
    PutMac(out, kGatewayMac);
    bytes::AppendBe16(out, 0x8001);
    bytes::AppendBytes(out, {0, 0, 0x14, 0, 0x02, 0, 0x0f, 0});
    return out;
}

// A discovery announcement behind a SNAP header (organisation 00-00-0c, type 0x2000).
Bytes SnapAnnouncement() {
    Bytes out{0x00, 0x00, 0x0c};
    bytes::AppendBe16(out, 0x2000);
    bytes::Append8(out, 2);    // version
    bytes::Append8(out, 180);  // hold time
    bytes::AppendBe16(out, 0);   // checksum
    bytes::AppendBe16(out, 1);   // device id
    bytes::AppendBe16(out, 12);
    PutText(out, "harbour1", 8);
    return out;
}

Bytes EchoPayload() {
    Bytes out;
    for (char c = 'a'; c <= 'w'; ++c) out.push_back(static_cast<uint8_t>(c));
    for (char c = 'a'; c <= 'i'; ++c) out.push_back(static_cast<uint8_t>(c));
    return out;
}

}  // namespace

std::vector<DemoFrame> DemoFrames() {
    using namespace frames;
    std::vector<DemoFrame> list;
    auto ether = [&list](uint32_t time, const Mac& to, const Mac& from, uint16_t type,
                         const Bytes& payload) {
        list.push_back({2, time, PadEthernet(Ethernet(to, from, type, payload))});
    };
    auto out4 = [&](uint32_t time, uint8_t protocol, uint32_t from, uint32_t to,
                    const Bytes& payload) {
        ether(time, kGatewayMac, kClientMac, 0x0800, IPv4(protocol, from, to, payload));
    };
    auto in4 = [&](uint32_t time, uint8_t protocol, uint32_t from, uint32_t to,
                   const Bytes& payload) {
        ether(time, kClientMac, kGatewayMac, 0x0800, IPv4(protocol, from, to, payload));
    };
    constexpr uint8_t kSyn = 0x02, kAck = 0x10, kPsh = 0x08, kFin = 0x01;

    ether(0, kBroadcast, kClientMac, 0x0806, ARP(1, kClientMac, kClient, kZeroMac, kGateway));
    ether(1, kClientMac, kGatewayMac, 0x0806, ARP(2, kGatewayMac, kGateway, kClientMac, kClient));
    out4(12, 17, kClient, kResolver, UDP(53012, 53, DnsQuery(0x1a2b, "www.example.com", 1)));
    in4(31, 17, kResolver, kClient, UDP(53, 53012, DnsResponse(0x1a2b, "www.example.com")));
    out4(35, 6, kClient, kWeb, TCP(49321, 80, 0x2f1c0a00, 0, kSyn, {}, 64240));
    in4(58, 6, kWeb, kClient, TCP(80, 49321, 0x9a11c4e0, 0x2f1c0a01, kSyn | kAck, {}, 65535));
    out4(58, 6, kClient, kWeb, TCP(49321, 80, 0x2f1c0a01, 0x9a11c4e1, kAck, {}, 502));
    out4(59, 6, kClient, kWeb,
         TCP(49321, 80, 0x2f1c0a01, 0x9a11c4e1, kPsh | kAck,
             Text("GET / HTTP/1.1\r\nHost: www.example.com\r\nUser-Agent: tidewatch-demo\r\n"
                  "Accept: text/html\r\n\r\n"),
             502));
    in4(84, 6, kWeb, kClient,
        TCP(80, 49321, 0x9a11c4e1, 0x2f1c0a58, kPsh | kAck,
            Text("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 46\r\n\r\n"
                 "<html><body>Tidewatch demo page</body></html>\n"),
            501));
    out4(85, 6, kClient, kWeb, TCP(49321, 80, 0x2f1c0a58, 0x9a11c56b, kAck, {}, 501));
    out4(1210, 6, kClient, kWeb, TCP(49321, 80, 0x2f1c0a58, 0x9a11c56b, kFin | kAck, {}, 501));
    in4(1233, 6, kWeb, kClient, TCP(80, 49321, 0x9a11c56b, 0x2f1c0a59, kFin | kAck, {}, 501));
    out4(1233, 6, kClient, kWeb, TCP(49321, 80, 0x2f1c0a59, 0x9a11c56c, kAck, {}, 501));

    out4(2000, 1, kClient, kResolver, ICMP(8, 0, 0x4d2a0001, EchoPayload()));
    in4(2014, 1, kResolver, kClient, ICMP(0, 0, 0x4d2a0001, EchoPayload()));
    {
        // Port unreachable: the offending datagram's header and first eight bytes.
        Bytes offending = IPv4(17, kClient, kGateway, UDP(40000, 33434, Text("probe")));
        offending.resize(28);
        in4(2500, 1, kGateway, kClient, ICMP(3, 3, 0, offending));
    }

    ether(3000, kBroadcast, kClientMac, 0x0800,
          IPv4(17, 0, 0xffffffff, UDP(68, 67, Dhcp(1, 1, 0, false))));
    ether(3004, kBroadcast, kGatewayMac, 0x0800,
          IPv4(17, kGateway, 0xffffffff, UDP(67, 68, Dhcp(2, 2, kClient, true))));

    ether(4000, kBroadcast, kClientMac, 0x0800,
          IPv4(17, kClient, kSubnetBroadcast, UDP(137, 137, NbnsQuery())));
    ether(4002, kClientMac, kPrinterMac, 0x0800,
          IPv4(17, kPrinter, kClient, UDP(137, 137, NbnsResponse())));

    ether(5000, kBroadcast, kPrinterMac, 0x0800,
          IPv4(17, kPrinter, kSubnetBroadcast, UDP(513, 513, Rwho())));

    list.push_back({2, 6000, PadEthernet(Ethernet8023(kBroadcast, kPrinterMac, 0x03, 0x03, 0x03,
                                                      Bone()))});
    ether(6500, kDecMulticast, kPrinterMac, 0x6002, DecDna());
    list.push_back({2, 7000, PadEthernet(Ethernet8023(kStpMulticast, kGatewayMac, 0x42, 0x42,
                                                      0x03, SpanningTree()))});
    list.push_back({2, 7200, PadEthernet(Ethernet8023(kCdpMulticast, kGatewayMac, 0xaa, 0xaa,
                                                      0x03, SnapAnnouncement()))});

    ether(7500, kGatewayMac, kClientMac, 0x86dd,
          IPv6(58, kClient6, kWeb6, ICMP(128, 0, 0x00070001, Text("tidewatch"))));
    ether(7530, kClientMac, kGatewayMac, 0x86dd,
          IPv6(58, kWeb6, kClient6, ICMP(129, 0, 0x00070001, Text("tidewatch"))));
    ether(7600, kGatewayMac, kClientMac, 0x86dd,
          IPv6(6, kClient6, kWeb6, TCP(49400, 443, 0x11223344, 0, kSyn, {}, 64800)));

    out4(8000, 6, kClient, kMail,
         TCP(49500, 143, 0x51000000, 0x77000000, kPsh | kAck, Text("a1 LOGIN keeper tide\r\n"),
             1024));
    in4(8040, 6, kMail, kClient,
        TCP(143, 49500, 0x77000000, 0x51000016, kPsh | kAck,
            Text("a1 OK LOGIN completed\r\n"), 1024));
    out4(9000, 17, kClient, kGateway, UDP(40000, 9999, Text("test")));
    return list;
}

bool WriteDemoCapture(const char* path) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    bool written = true;
    for (const DemoFrame& frame : DemoFrames()) {
        const uint16_t type =
            frame.bytes.size() >= 14 ? bytes::LoadBe16(frame.bytes.data() + 12) : 0;
        Bytes header;
        bytes::AppendLe16(header, static_cast<uint16_t>(frame.frameType));
        bytes::AppendLe16(header, type == 0x0800 || type == 0x86dd ? 1 : 0);
        bytes::AppendLe32(header, static_cast<uint32_t>(frame.bytes.size()));
        bytes::AppendLe32(header, frame.timeOffset);
        written = written && std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                  std::fwrite(frame.bytes.data(), 1, frame.bytes.size(), file) ==
                      frame.bytes.size();
    }
    return std::fclose(file) == 0 && written;
}
