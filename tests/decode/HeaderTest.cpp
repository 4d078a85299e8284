// Parsing and building of the link, network and transport headers.
#include <gtest/gtest.h>

#include <vector>

#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"
#include "decode/TransportHeaders.h"
#include "framework/str.h"
#include "HeaderFrames.h"

using namespace testframes;

namespace {

// Parses a header from the first `length` bytes (all of them when negative), skipping `offset`
// bytes first; `left` receives the remaining count (the cursor moves in step with it).
template <class Header>
bool ParseBytes(Header& header, const std::vector<uint8_t>& bytes, int32_t& left,
                int32_t length = -1, int32_t offset = 0) {
    const uint8_t* cursor = bytes.data() + offset;
    left = length < 0 ? static_cast<int32_t>(bytes.size()) - offset : length;
    const int32_t before = left;
    const bool ok = header.Parse(cursor, left);
    EXPECT_EQ(cursor - (bytes.data() + offset), before - left);
    return ok;
}

// Builds a header into a buffer of `room` bytes and returns what was written.
template <class Header>
std::vector<uint8_t> BuildBytes(Header& header, int32_t room, bool& ok) {
    std::vector<uint8_t> out(room);
    uint8_t* cursor = out.data();
    ok = header.Build(cursor, room);
    out.resize(cursor - out.data());
    return out;
}

}  // namespace

TEST(HeaderTest, EthernetTypeLLCAndSNAP) {
    int32_t left = 0;
    // 1500 is an 802.3 length: the LLC header follows and the DSAP is the frame's type.
    auto frame = Hex("ffffffffffff00112233445505dcf0f003ffff");
    EthernetHeader e8023;
    EXPECT_TRUE(ParseBytes(e8023, frame, left));
    EXPECT_EQ(left, 2);
    EXPECT_EQ(e8023.GetType(), 0x00f0);
    // 1501 is an Ethernet II type: nothing after the 14 bytes is read.
    frame[13] = 0xdd;
    EthernetHeader e2;
    EXPECT_TRUE(ParseBytes(e2, frame, left));
    EXPECT_EQ(left, 5);
    EXPECT_EQ(e2.GetType(), 0x05dd);

    // DSAP 0xaa: the SNAP protocol id; a SNAP header cut short fails the frame.
    auto snap = Hex("0180c2000000001122334455" "0026aaaa030000000800" "45");
    EthernetHeader withSnap;
    EXPECT_TRUE(ParseBytes(withSnap, snap, left));
    EXPECT_EQ(withSnap.GetType(), 0x0800);
    EXPECT_EQ(left, 1);
    EthernetHeader cut;
    EXPECT_FALSE(ParseBytes(cut, snap, left, 21));
    EXPECT_EQ(left, 1);

    // 13 bytes: both addresses fit, the type or length does not, and the last byte is left.
    EthernetHeader tiny;
    EXPECT_FALSE(ParseBytes(tiny, Hex("0102030405060a0b0c0d0e0f08"), left));
    EXPECT_EQ(tiny.destination[5], 0x06);
    EXPECT_EQ(tiny.source[0], 0x0a);
    EXPECT_EQ(tiny.llc.dsap, 0);
    EXPECT_EQ(left, 1);
}

TEST(HeaderTest, IPVersions) {
    int32_t left = 0;
    IPHeader other;
    EXPECT_FALSE(ParseBytes(other, Hex("5500001c00000000401100000a0000010a000002"), left));
    EXPECT_EQ(left, 20);  // the cursor stays at the start
    EXPECT_EQ(other.GetProtocol(), 0);
    str source("keep"), destination("keep");
    EXPECT_FALSE(other.GetAddressText(source, destination));
    EXPECT_STREQ(source.c_str(), "keep");
    EXPECT_FALSE(ParseBytes(other, Hex("45"), left, 0));

    IPHeader v4;
    ASSERT_TRUE(ParseBytes(v4, Hex(kTcpAck), left, -1, 14));
    uint32_t s = 0, d = 0;
    EXPECT_TRUE(v4.GetIPv4Addresses(s, d));
    EXPECT_EQ(s, 0xc0a8000au);
    EXPECT_EQ(d, 0xc0a80001u);
    EXPECT_TRUE(v4.GetAddressText(source, destination));
    EXPECT_STREQ(source.c_str(), "192.168.0.10");
    EXPECT_STREQ(destination.c_str(), "192.168.0.1");
    EXPECT_EQ(v4.TransportLength(), 20);

    // Next header 0: the hop-by-hop header is read too (48 bytes) and names the protocol.
    const auto v6frame = Hex(kUdp6HopByHop);
    IPHeader v6;
    EXPECT_TRUE(ParseBytes(v6, v6frame, left, -1, 14));
    EXPECT_EQ(static_cast<int32_t>(v6frame.size()) - 14 - left, 48);
    EXPECT_EQ(v6.GetProtocol(), 17);
    EXPECT_EQ(v6.v6.hopByHop.routerAlert, 0x05020000u);
    EXPECT_EQ(v6.TransportLength(), 13);
    EXPECT_TRUE(v6.GetAddressText(source, destination));
    EXPECT_STREQ(source.c_str(), "fe80:0000:0000:0000:0202:b3ff:fe1e:8329");
    EXPECT_STREQ(destination.c_str(), "2001:0db8:0000:0000:0000:0000:0000:0001");
    IPHeader noPadding;
    EXPECT_FALSE(ParseBytes(noPadding, v6frame, left, 47, 14));
}

TEST(HeaderTest, OptionsAndHeaderLengths) {
    int32_t left = 0;
    // IPv4 header length 24 (router alert option): 4 option bytes skipped, 24 bytes verified.
    auto bytes = Hex("460000200000400001024418c0a80001e0000016940400000000");
    IPHeader ip;
    EXPECT_TRUE(ParseBytes(ip, bytes, left));
    EXPECT_EQ(left, 2);
    EXPECT_TRUE(ip.v4.ChecksumCorrect());
    EXPECT_EQ(ip.TransportLength(), 8);
    // Header length field 3: nothing skipped, only 12 bytes verified.
    bytes[0] = 0x43;
    IPHeader shortHeader;
    EXPECT_TRUE(ParseBytes(shortHeader, bytes, left));
    EXPECT_EQ(left, 6);
    EXPECT_FALSE(shortHeader.v4.ChecksumCorrect());
    // Options running past the data consume what is there and fail.
    bytes[0] = 0x4f;
    IPHeader longHeader;
    EXPECT_FALSE(ParseBytes(longHeader, bytes, left));
    EXPECT_EQ(left, 0);

    // TCP data offset 0x80 (32 bytes) with 5 option bytes there.
    auto segment = Hex("04d20050000000070000000880180400000000000101080a00");
    TCPHeader tcp;
    EXPECT_FALSE(ParseBytes(tcp, segment, left));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(tcp.GetSourcePort(), 1234);
    EXPECT_EQ(tcp.GetDestPort(), 80);
    EXPECT_EQ(tcp.flags, 0x18);
    // No room for the urgent pointer: skipped, and its byte counts among the options.
    TCPHeader cut;
    EXPECT_FALSE(ParseBytes(cut, segment, left, 19));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(cut.urgentPointer, 0);
    EXPECT_EQ(cut.window, 0x0400);
}

TEST(HeaderTest, ARPAddresses) {
    int32_t left = 0;
    auto request = Hex("0001080006040001000c293e5f01c0a8000a000000000000c0a80001" "0000");
    ARPHeader arp;
    EXPECT_TRUE(ParseBytes(arp, request, left));
    EXPECT_EQ(left, 2);
    EXPECT_EQ(arp.GetProtocolType(), 0x0800);
    uint32_t sender = 0, target = 0;
    EXPECT_TRUE(arp.GetIPv4Addresses(sender, target));
    EXPECT_EQ(sender, 0xc0a8000au);
    EXPECT_EQ(target, 0xc0a80001u);

    // Parsed again with plen 16: new buffers, no IPv4 addresses.
    auto wide = Hex("000186dd06100002" "000c293e5f01");
    wide.resize(wide.size() + 16, 0xfe);
    wide.resize(wide.size() + 6, 0x11);
    wide.resize(wide.size() + 16, 0x20);
    EXPECT_TRUE(ParseBytes(arp, wide, left));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(arp.TargetProtocol().size(), 16u);
    sender = 7;
    EXPECT_FALSE(arp.GetIPv4Addresses(sender, target));
    EXPECT_EQ(sender, 7u);

    // The target protocol address not fitting fails at once; missing fixed fields read nothing.
    ARPHeader cut;
    EXPECT_FALSE(ParseBytes(cut, request, left, 27));
    EXPECT_EQ(left, 3);
    EXPECT_FALSE(ParseBytes(cut, request, left, 7));
    EXPECT_EQ(left, 1);
}

// Parsing real frames and building every layer again gives back the same bytes.
TEST(HeaderTest, BuildReproducesParsedHeaders) {
    bool ok = false;
    auto frame = Hex(kTcpAck);
    int32_t left = 0;
    EthernetHeader eth;
    IPHeader ip;
    TCPHeader tcp;
    ASSERT_TRUE(ParseBytes(eth, frame, left));
    ASSERT_TRUE(ParseBytes(ip, frame, left, -1, 14));
    ASSERT_TRUE(ParseBytes(tcp, frame, left, -1, 34));
    std::vector<uint8_t> built = BuildBytes(eth, 60, ok);
    EXPECT_TRUE(ok);
    for (Packet* layer : std::initializer_list<Packet*>{&ip, &tcp}) {
        auto more = BuildBytes(*layer, 60, ok);
        EXPECT_TRUE(ok);
        built.insert(built.end(), more.begin(), more.end());
    }
    EXPECT_EQ(built, std::vector<uint8_t>(frame.begin(), frame.begin() + 54));

    const auto v6frame = Hex(kUdp6HopByHop);
    IPHeader v6;
    UDPHeader udp;
    ASSERT_TRUE(ParseBytes(v6, v6frame, left, -1, 14));
    ASSERT_TRUE(ParseBytes(udp, v6frame, left, -1, 62));
    built = BuildBytes(v6, 60, ok);  // the fixed 40 bytes only
    auto hop = BuildBytes(v6.v6.hopByHop, 60, ok);
    auto transport = BuildBytes(udp, 60, ok);
    built.insert(built.end(), hop.begin(), hop.end());
    built.insert(built.end(), transport.begin(), transport.end());
    EXPECT_EQ(built, std::vector<uint8_t>(v6frame.begin() + 14, v6frame.begin() + 70));

    auto snap = Hex("0180c2000000001122334455" "0026aaaa030000000800");
    EthernetHeader snapEth;
    ASSERT_TRUE(ParseBytes(snapEth, snap, left));
    EXPECT_EQ(BuildBytes(snapEth, 60, ok), snap);
}

TEST(HeaderTest, BuildFollowsTheFieldRule) {
    bool ok = true;
    UDPHeader udp;
    udp.sourcePort = 0x0102;
    udp.destPort = 0x0304;
    udp.length = 0x0506;
    udp.checksum = 0x0708;
    EXPECT_EQ(BuildBytes(udp, 7, ok), Hex("010203040506"));
    EXPECT_FALSE(ok);

    ARPHeader arp;
    arp.hardwareType = 1;
    arp.protocolType = 0x0800;
    arp.hlen = 6;
    arp.plen = 4;
    arp.opcode = 1;
    const uint8_t mac[6] = {0, 0x0c, 0x29, 0x3e, 0x5f, 1}, zero[6] = {};
    const uint8_t me[4] = {192, 168, 0, 10}, you[4] = {192, 168, 0, 1};
    ASSERT_TRUE(arp.SetAddresses(mac, me, zero, you));
    const auto request = Hex("0001080006040001000c293e5f01c0a8000a000000000000c0a80001");
    EXPECT_EQ(BuildBytes(arp, 28, ok), request);
    EXPECT_TRUE(ok);
    EXPECT_EQ(BuildBytes(arp, 27, ok).size(), 24u);  // the last address does not fit
    EXPECT_FALSE(ok);

    IPHeader unknown;
    unknown.version = 5;
    EXPECT_TRUE(BuildBytes(unknown, 28, ok).empty());
    EXPECT_FALSE(ok);
}
