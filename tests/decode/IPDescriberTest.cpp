// Decode text of IPv4, IPv6 (with hop-by-hop options), TCP and UDP headers, and the IP protocol
// names.
#include <gtest/gtest.h>

#include <string>

#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"
#include "decode/Names.h"
#include "decode/TransportHeaders.h"
#include "framework/str.h"
#include "HeaderFrames.h"

using namespace testframes;

namespace {

// Parses a frame's Ethernet, IP and transport headers and describes the IP and transport layers.
template <class Transport>
void Describe(const std::vector<uint8_t>& frame, std::string& ipText, std::string& transportText) {
    const uint8_t* cursor = frame.data();
    int32_t remaining = static_cast<int32_t>(frame.size());
    EthernetHeader eth;
    IPHeader ip;
    Transport transport;
    ASSERT_TRUE(eth.Parse(cursor, remaining));
    ASSERT_TRUE(ip.Parse(cursor, remaining));
    if constexpr (requires { transport.SetPseudoHeader(ip); }) transport.SetPseudoHeader(ip);
    ASSERT_TRUE(transport.Parse(cursor, remaining));
    str text;
    ip.Describe(text);
    ipText = text.c_str();
    text.Clear();
    transport.Describe(text);
    transportText = text.c_str();
}

std::string FlagsLine(uint8_t flags) {
    TCPHeader tcp;
    tcp.flags = flags;
    str text;
    tcp.Describe(text);
    const std::string all = text.c_str();
    const size_t start = all.find("\r\n\tFlags");
    return all.substr(start, all.find("\r\n\tWindow") - start);
}

}  // namespace

TEST(IPDescriberTest, IPv4AndTCPText) {
    std::string ip, tcp;
    Describe<TCPv4Header>(Hex(kTcpAck), ip, tcp);
    EXPECT_EQ(ip,
              "IPv4 Header"
              "\r\n\tLength and version: 0x45"
              "\r\n\tType of service: 0x00"
              "\r\n\tTotal length: 40"
              "\r\n\tIdentifier: 0x1c46"
              "\r\n\tFlags: 0x4000"
              "\r\n\tTTL: 0x40"
              "\r\n\tProtocol: 0x06 (TCP)"
              "\r\n\tChecksum: 0x9d2e (Correct)"
              "\r\n\tSource IP: 192.168.0.10"
              "\r\n\tDest IP: 192.168.0.1");
    EXPECT_EQ(tcp,
              "TCP Header"
              "\r\n\tSource port: 49152"
              "\r\n\tDest port: 443"
              "\r\n\tSequence: 0x11223344"
              "\r\n\tack: 0x55667788"
              "\r\n\tHeader length: 0x50"
              "\r\n\tFlags: 0x10 (ACK )"
              "\r\n\tWindow Size: 502"
              "\r\n\tChecksum: 0x5972 (Correct)"
              "\r\n\tUrgent Pointer: 0");

    // The plain class does not verify; a changed byte shows in both verdicts.
    Describe<TCPHeader>(Hex(kTcpAck), ip, tcp);
    EXPECT_NE(tcp.find("\r\n\tChecksum: 0x5972 (Unchecked)\r\n"), std::string::npos);
    auto changed = Hex(kTcpAck);
    changed[23] = 0x04;  // protocol 4, header checksum now wrong
    changed[50] ^= 0x01;
    IPHeader header;
    const uint8_t* cursor = changed.data() + 14;
    int32_t remaining = 46;
    ASSERT_TRUE(header.Parse(cursor, remaining));
    str text;
    header.Describe(text);
    EXPECT_NE(std::string(text.c_str()).find("\r\n\tProtocol: 0x04 ()\r\n\tChecksum: 0x9d2e "
                                             "(Incorrect)\r\n"),
              std::string::npos);
}

TEST(IPDescriberTest, TCPFlagNames) {
    EXPECT_EQ(FlagsLine(0x18), "\r\n\tFlags: 0x18 (ACK PSH )");
    EXPECT_EQ(FlagsLine(0x00), "\r\n\tFlags: 0x00");
    EXPECT_EQ(FlagsLine(0xc2), "\r\n\tFlags: 0xc2 (SYN )");
    EXPECT_EQ(FlagsLine(0x3f), "\r\n\tFlags: 0x3f (URG ACK PSH RST SYN FIN )");
    EXPECT_EQ(FlagsLine(0x40), "\r\n\tFlags: 0x40 ()");
}

TEST(IPDescriberTest, IPv6WithHopByHopText) {
    std::string ip, udp;
    Describe<UDPv4Header>(Hex(kUdp6HopByHop), ip, udp);
    EXPECT_EQ(ip,
              "IPv6 Header"
              "\r\n\tVersion, Traffic Class, Flow: 0x60000000"
              "\r\n\tPayload length: 21"
              "\r\n\tNext Header: 0x00 (HOP)"
              "\r\n\tHop Limit: 0x40"
              "\r\n\tSource IP: fe80:0000:0000:0000:0202:b3ff:fe1e:8329"
              "\r\n\tDest IP: 2001:0db8:0000:0000:0000:0000:0000:0001"
              "\nHop by Hop Options Header"
              "\r\n\tLength: 0"
              "\r\n\tNext Header: 0x11 (UDP)"
              "\r\n\tRouter Alert: 0x05020000"
              "\r\n\tPadding: 0x0100");
    EXPECT_EQ(udp,
              "UDP Header"
              "\r\n\tSource port: 5353"
              "\r\n\tDest port: 53"
              "\r\n\tLength: 13"
              "\r\n\tChecksum: 0x435f (Correct)");

    // Without a hop-by-hop header the text ends at the destination.
    Describe<TCPv4Header>(Hex(kTcp6), ip, udp);
    EXPECT_EQ(ip.substr(ip.find("\r\n\tDest IP")),
              "\r\n\tDest IP: 2001:0db8:0000:0000:0000:0000:0000:0001");
    EXPECT_NE(ip.find("\r\n\tNext Header: 0x06 (TCP)\r\n"), std::string::npos);
    EXPECT_NE(udp.find("\r\n\tFlags: 0x18 (ACK PSH )\r\n"), std::string::npos);

    HBHOptHeader mld;
    mld.nextHeader = 58;
    str text;
    mld.Describe(text);
    EXPECT_NE(std::string(text.c_str()).find("\r\n\tNext Header: 0x3a (ICMPv6)\r\n"),
              std::string::npos);
}

TEST(IPDescriberTest, UDPText) {
    std::string ip, udp;
    Describe<UDPv4Header>(Hex(kUdp4NoChecksum), ip, udp);
    EXPECT_EQ(udp,
              "UDP Header"
              "\r\n\tSource port: 1025"
              "\r\n\tDest port: 9999"
              "\r\n\tLength: 11"
              "\r\n\tChecksum: 0x0000 (Unchecked)");
    UDPHeader empty;
    empty.length = 8;
    str text;
    empty.Describe(text);
    EXPECT_STREQ(text.c_str(),
                 "UDP Header\r\n\tSource port: 0\r\n\tDest port: 0\r\n\tLength: 8"
                 "\r\n\tChecksum: 0x0000 (Unchecked)");
}

TEST(IPDescriberTest, OtherVersionsAndProtocolNames) {
    IPHeader other;
    other.version = 5;
    str text("x");
    other.Describe(text);
    EXPECT_STREQ(text.c_str(), "x");

    text.Clear();
    EXPECT_TRUE(IPProtocolName(50, text));
    EXPECT_TRUE(IPProtocolName(51, text));
    EXPECT_TRUE(IPProtocolName(77, text));
    EXPECT_TRUE(IPProtocolName(0, text));
    EXPECT_FALSE(IPProtocolName(4, text));
    EXPECT_FALSE(IPProtocolName(256 + 6, text));
    EXPECT_STREQ(text.c_str(), "IPSec ESPIPSec AHNDHOP");
}
