// The Internet checksum and the verdicts of the IPv4, TCP and UDP headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"
#include "decode/TransportHeaders.h"
#include "HeaderFrames.h"

using namespace testframes;

namespace {

// Parses Ethernet and IP, then the transport header (given the IP header unless `plain`).
template <class Transport>
void ParseFrame(const std::vector<uint8_t>& frame, Transport& transport, bool plain = false,
                IPHeader* ipOut = nullptr, int32_t* remainingAfter = nullptr) {
    const uint8_t* cursor = frame.data();
    int32_t remaining = static_cast<int32_t>(frame.size());
    EthernetHeader eth;
    IPHeader ip;
    ASSERT_TRUE(eth.Parse(cursor, remaining));
    ASSERT_TRUE(ip.Parse(cursor, remaining));
    if constexpr (requires { transport.SetPseudoHeader(ip); }) {
        if (!plain) {
            EXPECT_TRUE(transport.SetPseudoHeader(ip));
        }
    }
    EXPECT_TRUE(transport.Parse(cursor, remaining));
    if (ipOut) *ipOut = ip;
    if (remainingAfter) *remainingAfter = remaining;
}

template <class Transport>
ChecksumVerdict VerdictOf(const std::vector<uint8_t>& frame) {
    Transport transport;
    ParseFrame(frame, transport);
    return transport.Verdict();
}

}  // namespace

TEST(ChecksumTest, InternetChecksumVectors) {
    const uint8_t two[2] = {0x45, 0x00};
    EXPECT_EQ(InternetChecksum(two, 2) & 0xffff, 0xffbau);
    EXPECT_EQ(InternetChecksum(two, 0) & 0xffff, 0xffffu);
    EXPECT_EQ(InternetChecksum(two, -3) & 0xffff, 0xffffu);
    const uint8_t odd[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(InternetChecksum(odd, 3) & 0xffff, static_cast<uint32_t>(~(0x0201 + 0x0003) & 0xffff));

    auto header = Hex("450000730000400040110000c0a80001c0a800c7");
    // Stored low byte first, the result gives the checksum bytes in wire order.
    const uint32_t sum = InternetChecksum(header.data(), 20);
    EXPECT_EQ(sum & 0xff, 0xb8u);
    EXPECT_EQ(sum >> 8 & 0xff, 0x61u);
    header[10] = 0xb8;
    header[11] = 0x61;
    EXPECT_EQ(InternetChecksum(header.data(), 20) & 0xffff, 0u);
}

TEST(ChecksumTest, IPv4HeaderVerdict) {
    auto bytes = Hex("45000073000040004011b861c0a80001c0a800c7");
    const uint8_t* cursor = bytes.data();
    int32_t remaining = 20;
    IPHeader ip;
    ASSERT_TRUE(ip.Parse(cursor, remaining));
    EXPECT_TRUE(ip.v4.ChecksumCorrect());
    EXPECT_EQ(ip.v4.checksum, 0xb861);

    bytes[8] = 0x3f;
    cursor = bytes.data();
    remaining = 20;
    IPHeader changed;
    ASSERT_TRUE(changed.Parse(cursor, remaining));
    EXPECT_FALSE(changed.v4.ChecksumCorrect());
}

// A header length running past the data is "Incorrect", even where the bytes behind the data
// would have completed a correct header: nothing past the data may be read.
TEST(ChecksumTest, IPv4HeaderLongerThanTheData) {
    auto bytes = Hex("460000200000400001024418c0a80001e000001694040000");
    const uint8_t* cursor = bytes.data();
    int32_t remaining = 24;
    IPHeader whole;
    EXPECT_TRUE(whole.Parse(cursor, remaining));
    EXPECT_TRUE(whole.v4.ChecksumCorrect());

    cursor = bytes.data();
    remaining = 22;
    IPHeader cut;
    EXPECT_FALSE(cut.Parse(cursor, remaining));
    EXPECT_FALSE(cut.v4.ChecksumCorrect());
    EXPECT_EQ(remaining, 0);
}

// TCP and UDP cover the datagram, not the link padding behind it, and give up on datagrams that
// are not wholly in the frame.
TEST(ChecksumTest, TransportChecksumStopsAtTheDatagramEnd) {
    const auto ack = Hex(kTcpAck);
    TCPv4Header tcp;
    int32_t after = -1;
    ParseFrame(ack, tcp, false, nullptr, &after);
    EXPECT_EQ(tcp.Verdict(), ChecksumVerdict::Correct);
    EXPECT_STREQ(tcp.ChecksumStatus(), "Correct");
    EXPECT_EQ(tcp.Pseudo().Length(), 20u);
    EXPECT_EQ(after, 6);  // the parse still leaves the padding behind the header

    // Without the IP header: the plain form covers the padding too and counts it.
    TCPv4Header plain;
    ParseFrame(ack, plain, true);
    EXPECT_EQ(plain.Verdict(), ChecksumVerdict::Incorrect);
    EXPECT_EQ(plain.Pseudo().Length(), 26u);

    // A total length too short for the header: up to the end of the data.
    auto shortTotal = ack;
    shortTotal[17] = 0x10;
    TCPv4Header toEnd;
    ParseFrame(shortTotal, toEnd);
    EXPECT_EQ(toEnd.Pseudo().Length(), 26u);
    EXPECT_EQ(toEnd.Verdict(), ChecksumVerdict::Incorrect);

    auto udp = Hex(kUdp4);
    EXPECT_EQ(VerdictOf<UDPv4Header>(udp), ChecksumVerdict::Correct);
    udp[42] ^= 0x20;
    EXPECT_EQ(VerdictOf<UDPv4Header>(udp), ChecksumVerdict::Incorrect);

    // Cut short: the datagram's end lies beyond the captured bytes.
    auto cutUdp = Hex(kUdp4);
    cutUdp.resize(44);
    UDPv4Header cut;
    int32_t left = -1;
    ParseFrame(cutUdp, cut, false, nullptr, &left);
    EXPECT_EQ(cut.Verdict(), ChecksumVerdict::Unchecked);
    EXPECT_STREQ(cut.ChecksumStatus(), "Unchecked");
    EXPECT_EQ(left, 2);
    auto cutTcp = Hex(kTcp6);
    cutTcp.pop_back();
    EXPECT_EQ(VerdictOf<TCPv4Header>(cutTcp), ChecksumVerdict::Unchecked);
}

TEST(ChecksumTest, UDPOverIPv4WithoutChecksum) {
    UDPv4Header udp;
    ParseFrame(Hex(kUdp4NoChecksum), udp);
    EXPECT_EQ(udp.Verdict(), ChecksumVerdict::Unchecked);
    // Without the IP header nothing says the datagram travels over IPv4: it is verified.
    UDPv4Header plain;
    ParseFrame(Hex(kUdp4NoChecksum), plain, true);
    EXPECT_EQ(plain.Verdict(), ChecksumVerdict::Incorrect);
}

TEST(ChecksumTest, TransportOverIPv6UsesItsPseudoHeader) {
    TCPv4Header tcp;
    ParseFrame(Hex(kTcp6), tcp);
    EXPECT_EQ(tcp.Verdict(), ChecksumVerdict::Correct);
    EXPECT_TRUE(tcp.Pseudo().IsIPv6());
    EXPECT_EQ(tcp.Pseudo().Length(), 27u);

    EXPECT_EQ(VerdictOf<UDPv4Header>(Hex(kUdp6)), ChecksumVerdict::Correct);
    EXPECT_EQ(VerdictOf<UDPv4Header>(Hex(kUdp6HopByHop)), ChecksumVerdict::Correct);

    // A changed payload byte, a changed address (pseudo-header) and a changed length all show.
    auto payload = Hex(kTcp6);
    payload.back() ^= 0x01;
    EXPECT_EQ(VerdictOf<TCPv4Header>(payload), ChecksumVerdict::Incorrect);
    auto address = Hex(kUdp6);
    address[14 + 8 + 3] ^= 0x40;
    EXPECT_EQ(VerdictOf<UDPv4Header>(address), ChecksumVerdict::Incorrect);
    auto hop = Hex(kUdp6HopByHop);
    hop[14 + 4 + 1] += 2;  // payload length 23: two bytes the frame does not have
    EXPECT_EQ(VerdictOf<UDPv4Header>(hop), ChecksumVerdict::Unchecked);
}

TEST(ChecksumTest, FragmentsAreUnchecked) {
    const auto first = Hex(kTcpFirstFragment);
    TCPv4Header tcp;
    IPHeader ip;
    ParseFrame(first, tcp, false, &ip);
    EXPECT_TRUE(ip.IsFirstFragmentOfMany());
    EXPECT_FALSE(ip.IsLaterFragment());
    EXPECT_EQ(tcp.Verdict(), ChecksumVerdict::Unchecked);
    EXPECT_EQ(tcp.GetDestPort(), 80);

    auto later = first;
    later[20] = 0x00;  // offset 3 (24 bytes), last fragment
    later[21] = 0x03;
    TCPv4Header again;
    IPHeader laterIp;
    ParseFrame(later, again, false, &laterIp);
    EXPECT_TRUE(laterIp.IsLaterFragment());
    EXPECT_FALSE(laterIp.IsFirstFragmentOfMany());
    EXPECT_EQ(again.Verdict(), ChecksumVerdict::Unchecked);
}

TEST(ChecksumTest, PlainClassesDoNotVerify) {
    TCPHeader tcp;
    UDPHeader udp;
    ParseFrame(Hex(kTcpAck), tcp, true);
    ParseFrame(Hex(kUdp4), udp, true);
    EXPECT_STREQ(tcp.ChecksumStatus(), "Unchecked");
    EXPECT_STREQ(udp.ChecksumStatus(), "Unchecked");
    // Through the base class the verdict of the verifying form shows.
    TCPv4Header v4;
    ParseFrame(Hex(kTcpAck), v4);
    const TCPHeader& base = v4;
    EXPECT_STREQ(base.ChecksumStatus(), "Correct");
}
