#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/DHCP.h"

namespace {

using Bytes = std::vector<uint8_t>;

// op, htype 1, hlen 6, xid 0x3903f326, flags 0x8000, chaddr 00-0b-82-01-fc-42, then the magic
// (or four zero bytes) and the option bytes.
Bytes Message(uint8_t op, bool magic, const Bytes& options = {}) {
    Bytes m = {op, 1, 6, 0, 0x39, 0x03, 0xf3, 0x26, 0, 0, 0x80, 0};
    m.resize(28, 0);
    m.insert(m.end(), {0x00, 0x0b, 0x82, 0x01, 0xfc, 0x42});
    m.resize(236, 0);
    if (magic) m.insert(m.end(), {0x63, 0x82, 0x53, 0x63});
    else m.resize(240, 0);
    m.insert(m.end(), options.begin(), options.end());
    return m;
}

std::string Describe(const Bytes& bytes, bool* ok = nullptr, int32_t* left = nullptr) {
    DHCPPacket packet;
    const uint8_t* cursor = bytes.data();
    int32_t remaining = static_cast<int32_t>(bytes.size());
    const bool parsed = packet.Parse(cursor, remaining);
    if (ok) *ok = parsed;
    if (left) *left = remaining;
    str text;
    packet.Describe(text);
    return text.c_str();
}

bool Parses(const Bytes& bytes) {
    bool ok = false;
    Describe(bytes, &ok);
    return ok;
}

}  // namespace

TEST(DHCPPacket, DiscoverShowsOptionsAsHexBytes) {
    bool ok = false;
    int32_t left = -1;
    const Bytes options = {53, 1, 1, 61, 7, 0x01, 0x00, 0x0b, 0x82, 0x01, 0xfc, 0x42,
                           55, 4, 1,  3, 6, 42,   255,  0xee};
    EXPECT_EQ(Describe(Message(1, true, options), &ok, &left),
              "DHCP BOOTREQUEST Packet"
              "\r\n\tHardware Type: 0x01\r\n\tHops: 0\r\n\tXid: 0x3903f326\r\n\tSecs: 0"
              "\r\n\tFlags: 0x8000\r\n\tClient IP: 0.0.0.0\r\n\t'Your' IP: 0.0.0.0"
              "\r\n\tNext Server IP: 0.0.0.0\r\n\tRelay IP: 0.0.0.0"
              "\r\n\tClient Hardware Address: 00-0b-82-01-fc-42"
              "\r\n\tHost Name: \r\n\tBoot File Name: \r\n\tMagic: 0x63825363"
              "\r\n\tDHCP Message Type: 01"
              "\r\n\tClient Identifier: 01:00:0b:82:01:fc:42"
              "\r\n\tParameter Request List: 01:03:06:2a");
    EXPECT_TRUE(ok);
    EXPECT_EQ(left, 1);  // the end code is consumed, nothing after it
}

TEST(DHCPPacket, OptionValuesAndWalkEnd) {
    // Text up to its zero byte, hexadecimal, and a value of length 0.
    std::string text = Describe(Message(
        2, true, {12, 5, 'h', 'o', 's', 't', '1', 15, 4, 'a', 0, 'b', 'c', 121, 3, 24, 10, 1, 3,
                  0, 255}));
    EXPECT_TRUE(text.starts_with("DHCP BOOTREPLY Packet"));
    EXPECT_TRUE(text.ends_with("\r\n\tMagic: 0x63825363\r\n\tHost Name Option: host1"
                               "\r\n\tDomain Name: a\r\n\tClassless Static Route: 18:0a:01"
                               "\r\n\tRouter Option: "));

    // A code without a row (150) or a pad byte ends the walk; what came before stays.
    bool ok = false;
    text = Describe(Message(1, true, {53, 1, 3, 150, 2, 9, 9}), &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(text.ends_with("\r\n\tMagic: 0x63825363\r\n\tDHCP Message Type: 03"));
    text = Describe(Message(1, true, {53, 1, 5, 0, 51, 4, 0, 0, 0, 1, 255}), &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(text.ends_with("\r\n\tDHCP Message Type: 05"));

    // Without the magic it is plain BOOTP: no options are read.
    int32_t left = 0;
    text = Describe(Message(2, false, {53, 1, 1, 255}), &ok, &left);
    EXPECT_TRUE(ok);
    EXPECT_EQ(left, 4);
    EXPECT_TRUE(text.ends_with("\r\n\tBoot File Name: \r\n\tMagic: 0x00000000"));
}

TEST(DHCPPacket, IncompleteMessagesFail) {
    Bytes m = Message(1, true);
    EXPECT_FALSE(Parses(m));  // the magic but no option code
    m.pop_back();
    EXPECT_FALSE(Parses(m));
    EXPECT_FALSE(Parses(Message(1, true, {53, 1, 1})));  // no end code
    EXPECT_FALSE(Parses(Message(1, true, {53})));        // no length byte
    bool ok = true;
    // A value cut short: the name is collected, no value.
    EXPECT_TRUE(Describe(Message(1, true, {12, 9, 'a', 'b'}), &ok)
                    .ends_with("\r\n\tHost Name Option: "));
    EXPECT_FALSE(ok);
}

TEST(DHCPPacket, FixedFields) {
    Bytes m = Message(3, false);
    m[2] = 0;  // hlen 0
    m[16] = 192, m[17] = 168, m[18] = 1, m[19] = 20;
    std::fill(m.begin() + 44, m.begin() + 108, 'x');  // sname with no zero byte
    const char boot[] = "pxelinux.0";
    std::copy(boot, boot + sizeof boot, m.begin() + 108);
    std::string text = Describe(m);
    EXPECT_TRUE(text.starts_with("Unknown (Opcode 0x03) DHCP Packet\r\n"));
    EXPECT_NE(text.find("\r\n\t'Your' IP: 192.168.1.20\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n\tClient Hardware Address: \r\n\tHost Name: " + std::string(64, 'x') +
                        "\r\n\tBoot File Name: pxelinux.0\r\n"),
              std::string::npos);

    m[2] = 200;  // never more than the 16 bytes of chaddr
    m[43] = 0xee;
    EXPECT_NE(Describe(m).find("Address: 00-0b-82-01-fc-42-00-00-00-00-00-00-00-00-00-ee\r\n"),
              std::string::npos);
}

TEST(DHCPPacket, OptionTable) {
    ASSERT_EQ(DHCPOptionTable().size(), 104u);
    int textRows = 0;
    for (const DHCPOption& row : DHCPOptionTable()) textRows += row.isText;
    EXPECT_EQ(textRows, 23);
    EXPECT_STREQ(FindDHCPOption(10)->name, "Impress  Server Option");
    EXPECT_STREQ(FindDHCPOption(68)->name, "Mobile IP Home Agent ");
    EXPECT_TRUE(FindDHCPOption(119)->isText);
    for (int code : {0, 99, 115, 122, 255}) EXPECT_EQ(FindDHCPOption(code), nullptr) << code;
}

TEST(DHCPPacket, BuildWritesTheFixedPart) {
    Bytes in = Message(2, true, {53, 1, 2, 255});
    for (size_t i = 12; i < 236; i += 7) in[i] = static_cast<uint8_t>(i);
    DHCPPacket packet;
    const uint8_t* cursor = in.data();
    int32_t remaining = static_cast<int32_t>(in.size());
    ASSERT_TRUE(packet.Parse(cursor, remaining));

    Bytes out(300, 0xaa);
    uint8_t* write = out.data();
    int32_t room = 300;
    EXPECT_TRUE(packet.Build(write, room));
    EXPECT_EQ(room, 300 - 236);  // neither magic nor options
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 236), Bytes(in.begin(), in.begin() + 236));

    write = out.data();
    room = 100;  // what fits is written, the rest is not
    EXPECT_FALSE(packet.Build(write, room));
    EXPECT_EQ(room, 100 - 44);
}
