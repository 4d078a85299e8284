// ICMP messages: titles, code tables, the order in which DescribeICMP tries the classes, and the
// builds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "decode/Dispatch.h"
#include "decode/FrameBuilder.h"
#include "decode/ICMP.h"
#include "decode/IPHeaders.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An ICMP message with a correct checksum.
Bytes Message(uint8_t type, uint8_t code, uint32_t rest, const Bytes& body = {}) {
    Bytes message = frames::ICMP(type, code, rest, body);
    const uint32_t sum = InternetChecksum(message.data(), static_cast<int32_t>(message.size()));
    message[2] = static_cast<uint8_t>(sum);
    message[3] = static_cast<uint8_t>(sum >> 8);
    return message;
}

std::string Text(const str& text) { return std::string(text.c_str(), text.Length()); }

// What DescribeICMP appends for a message outside any datagram.
std::string DescribeMessage(const Bytes& message) {
    const IPHeader none;
    str text;
    DescribeICMP(none, message.data(), static_cast<int32_t>(message.size()), text);
    return Text(text);
}

std::string RawDump(const Bytes& bytes) {
    str text;
    DescribeRawData(bytes.data(), static_cast<int32_t>(bytes.size()), text);
    return Text(text);
}

// The lines the base description ends with, for a message with id 0x0102 and sequence 0x0304.
std::string Tail(const Bytes& message, const char* verdict = "Correct") {
    char line[96];
    std::snprintf(line, sizeof line,
                  "\r\n\tChecksum: 0x%02x%02x (%s)\r\n\tID: 0x0102\r\n\tSeq: 0x0304", message[2],
                  message[3], verdict);
    return line;
}

const uint32_t kRest = 0x01020304;

}  // namespace

TEST(ICMPTest, TitlesAndCodes) {
    const Bytes echo = Message(8, 0, kRest);
    EXPECT_EQ(DescribeMessage(echo),
              "ICMP Echo Request Packet\r\n\tCode: 0 (Unknown)" + Tail(echo));

    const Bytes unknownType = Message(200, 7, kRest);
    EXPECT_EQ(DescribeMessage(unknownType),
              "ICMP Type 200 Packet\r\n\tCode: 7 (Unknown)" + Tail(unknownType));

    const Bytes v6 = Message(135, 0, kRest);
    EXPECT_EQ(DescribeMessage(v6).substr(0, 40), "ICMP v6 Neighbour Solicitation Packet\r\n\t");

    struct Case {
        uint8_t type, code;
        const char* title;
        const char* codeText;
    };
    const Case cases[] = {
        {5, 0, "Redirect", "redirect for network"},
        {5, 3, "Redirect", "redirect for TOS and host"},
        {5, 4, "Redirect", "4 (Unknown)"},
        {11, 0, "Time Exceeded", "TTL == 0 in transit"},
        {11, 1, "Time Exceeded", "TTL == 0 in reassembly"},
        {11, 2, "Time Exceeded", "2 (Unknown)"},
        {12, 0, "Parameter Problem", "IP header bad"},
        {12, 1, "Parameter Problem", "required option missing"},
        {12, 255, "Parameter Problem", "255 (Unknown)"},
        {4, 1, "Source Quench", "1 (Unknown)"},
    };
    for (const Case& c : cases) {
        const Bytes message = Message(c.type, c.code, kRest);
        EXPECT_EQ(DescribeMessage(message), std::string("ICMP ") + c.title + " Packet\r\n\tCode: " +
                                                c.codeText + Tail(message))
            << int(c.type) << "/" << int(c.code);
    }
}

TEST(ICMPTest, DestinationUnreachableQuotesTheIPHeader) {
    const Bytes quoted = frames::IPv4(17, frames::IPv4Address(10, 0, 0, 1),
                                      frames::IPv4Address(10, 0, 0, 2), frames::UDP(5, 6, {}));
    Bytes body(quoted.begin(), quoted.begin() + 20);
    const Bytes message = Message(3, 3, kRest, body);
    str ipText;
    IPHeader ip;
    const uint8_t* cursor = body.data();
    int32_t remaining = 20;
    ASSERT_TRUE(ip.Parse(cursor, remaining));
    ip.Describe(ipText);
    EXPECT_EQ(DescribeMessage(message),
              "ICMP Destination Unreachable Packet\r\n\tCode: port unreachable" + Tail(message) +
                  "\r\n" + Text(ipText));

    // Code 16 is past the table.
    const Bytes code16 = Message(3, 16, kRest, body);
    EXPECT_NE(DescribeMessage(code16).find("\r\n\tCode: 16 (Unknown)\r\n"), std::string::npos);

    // A quoted header that does not parse: the plain header describes it, with the code as a
    // number and no IP text; the quoted bytes are dumped.
    const Bytes cut = Message(3, 1, kRest, Bytes(body.begin(), body.begin() + 12));
    EXPECT_EQ(DescribeMessage(cut),
              "ICMP Destination Unreachable Packet\r\n\tCode: 1 (Unknown)" + Tail(cut) + "\r\n" +
                  RawDump(Bytes(cut.begin() + 8, cut.end())));
}

TEST(ICMPTest, TrialOrderFallsBackToThePlainHeader) {
    // Seven bytes: no class parses; a line break and the raw bytes.
    Bytes seven = Message(8, 0, kRest);
    seven.resize(7);
    EXPECT_EQ(DescribeMessage(seven), "\r\n" + RawDump(seven));
    ICMPPacket plain;
    const uint8_t* cursor = seven.data();
    int32_t remaining = 7;
    EXPECT_FALSE(plain.Parse(cursor, remaining));
    EXPECT_EQ(remaining, 1);  // type, code, checksum and id were read, sequence was not
    EXPECT_EQ(plain.id, 0x0102);

    // A timestamp request with only 8 of its 12 body bytes.
    const Bytes shortStamp = Message(13, 0, kRest, Bytes(8, 0x11));
    EXPECT_EQ(DescribeMessage(shortStamp), "ICMP Timestamp Request Packet\r\n\tCode: 0 (Unknown)" +
                                               Tail(shortStamp) + "\r\n" + RawDump(Bytes(8, 0x11)));

    // A whole timestamp reply is taken by the reply class and shows the three timestamps.
    const Bytes reply =
        Message(14, 0, kRest, Bytes{0, 0, 1, 2, 'a', 'b', 'c', 'd', 0xff, 0xff, 0xff, 0xfe});
    EXPECT_EQ(DescribeMessage(reply),
              "ICMP Timestamp Reply Packet\r\n\tCode: 0 (Unknown)" + Tail(reply) +
                  "\r\n\tOriginating Timestamp: 00000102\r\n\tReceive Timestamp: 61626364"
                  "\r\n\tTransmit Timestamp: fffffffe");

    // Address masks, request and reply, most significant byte first.
    for (uint8_t type : {17, 18}) {
        const Bytes mask = Message(type, 0, kRest, {0xff, 0xff, 0xff, 0x00});
        EXPECT_EQ(DescribeMessage(mask),
                  std::string("ICMP ") +
                      (type == 17 ? "Address Mask Request" : "Address Mask Reply") +
                      " Packet\r\n\tCode: 0 (Unknown)" + Tail(mask) + "\r\n\tMask: 255.255.255.0");
    }
    // A mask request without its mask falls back as well.
    const Bytes noMask = Message(17, 0, kRest);
    EXPECT_EQ(DescribeMessage(noMask), "ICMP Address Mask Request Packet\r\n\tCode: 0 (Unknown)" +
                                           Tail(noMask));
}

TEST(ICMPTest, ChecksumVerdicts) {
    Bytes echo = Message(0, 0, kRest, frames::Text("payload"));
    EXPECT_NE(DescribeMessage(echo).find("(Correct)"), std::string::npos);
    echo[9] ^= 0x10;
    EXPECT_NE(DescribeMessage(echo).find("(Incorrect)"), std::string::npos);

    // Without the IPv6 header around it an ICMPv6 message has no pseudo-header and fails.
    const Bytes v6 =
        frames::IPv6(58, frames::IPv6Address{0xfe, 0x80, 15, 1},
                     frames::IPv6Address{0xff, 2, 15, 1}, frames::ICMP(128, 0, kRest, {}));
    const Bytes bare(v6.begin() + 40, v6.end());
    EXPECT_NE(DescribeMessage(bare).find("(Incorrect)"), std::string::npos);
    // With it, it verifies.
    IPHeader ip;
    const uint8_t* cursor = v6.data();
    int32_t remaining = static_cast<int32_t>(v6.size());
    ASSERT_TRUE(ip.Parse(cursor, remaining));
    str text;
    DescribeICMP(ip, cursor, remaining, text);
    EXPECT_NE(Text(text).find("ICMP Type 128 Packet"), std::string::npos);
    EXPECT_NE(Text(text).find("(Correct)"), std::string::npos) << Text(text);
}

TEST(ICMPTest, BuildsNumberAndChecksumTheirMessages) {
    ICMPPacket first, second;
    first.type = 8;
    uint8_t a[8], b[8];
    uint8_t* cursor = a;
    int32_t room = 8;
    ASSERT_TRUE(first.Build(cursor, room));
    cursor = b;
    room = 8;
    ASSERT_TRUE(second.Build(cursor, room));
    EXPECT_EQ(static_cast<uint16_t>(second.sequence - first.sequence), 1);
    EXPECT_EQ(first.id, static_cast<uint16_t>(getpid()));
    EXPECT_EQ(second.id, first.id);
    EXPECT_EQ(a[0], 8);
    EXPECT_EQ(a[4] << 8 | a[5], first.id);
    EXPECT_EQ(b[6] << 8 | b[7], second.sequence);
    EXPECT_EQ(first.BuildStart(), a);
    EXPECT_EQ(first.ChecksumPosition(), a + 2);

    // The classes with a body compute their checksum; parsing the result verifies it.
    auto roundTrip = [](ICMPPacket& built, ICMPPacket& parsed, size_t size) {
        Bytes buffer(size + 4, 0xee);
        uint8_t* out = buffer.data();
        int32_t left = static_cast<int32_t>(size);
        EXPECT_TRUE(built.Build(out, left));
        EXPECT_EQ(left, 0);
        EXPECT_EQ(buffer[size], 0xee);  // nothing written past the message
        const uint8_t* in = buffer.data();
        int32_t have = static_cast<int32_t>(size);
        EXPECT_TRUE(parsed.Parse(in, have));
        EXPECT_TRUE(parsed.ChecksumCorrect());
        EXPECT_EQ(parsed.checksum, built.checksum);
    };
    ICMPTimeStampRequest stamp, stampParsed;
    roundTrip(stamp, stampParsed, 20);
    EXPECT_EQ(stampParsed.originateTimestamp, stamp.originateTimestamp);

    // A reply built as a request keeps the preset type 13 unless the caller sets 14.
    ICMPTimeStampResponse reply;
    EXPECT_EQ(reply.type, 13);
    reply.type = 14;
    ICMPTimeStampResponse replyParsed;
    roundTrip(reply, replyParsed, 20);

    ICMPAddressMaskRequest mask, maskParsed;
    mask.addressMask = 0xffffff00;  // a build always sends 0
    roundTrip(mask, maskParsed, 12);
    EXPECT_EQ(maskParsed.addressMask, 0u);
    ICMPAddressMaskResponse maskReply;
    EXPECT_EQ(maskReply.type, 0);

    ICMPDestinationUnreachable unreachable, unreachableParsed;
    unreachable.type = 3;
    unreachable.code = 1;
    unreachable.quoted.version = 4;
    unreachable.quoted.v4.versionAndLength = 0x45;
    unreachable.quoted.v4.protocol = 17;
    roundTrip(unreachable, unreachableParsed, 28);
    EXPECT_EQ(unreachableParsed.quoted.GetProtocol(), 17);

    // A buffer too short for the checksum field: no checksum position, and the build fails
    // without writing past the room it was given.
    ICMPTimeStampRequest cramped;
    Bytes small(8, 0xee);
    uint8_t* out = small.data();
    int32_t left = 3;
    EXPECT_FALSE(cramped.Build(out, left));
    EXPECT_EQ(cramped.ChecksumPosition(), nullptr);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(small[3], 0xee);
}
