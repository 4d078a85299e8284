#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/BONE.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutWide(Bytes& b, size_t offset, const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        b[offset + 2 * i] = static_cast<uint8_t>(text[i]);
        b[offset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
}

// A 180-byte BONE message; the host name fills its 16 bytes with no zero byte, the wide user
// name its 32 characters.
Bytes BoneMessage(uint8_t type) {
    Bytes b(180, 0);
    b[0] = 0xde, b[4] = type, b[5] = 0x81, b[8] = 0x33, b[18] = 1, b[19] = 2, b[70] = 0x55;
    std::copy_n("WORKSTATION-0016alice", 21, b.begin() + 20);
    const uint8_t addresses[] = {0x00, 0x60, 0x08, 0xab, 0xcd, 0xef,   // permanent
                                 0x02, 0x00, 0x4c, 0x4f, 0x4f, 0x50};  // current
    std::copy(std::begin(addresses), std::end(addresses), b.begin() + 72);
    PutWide(b, 84, u"H\u00e9st");
    PutWide(b, 116, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ\u20ac12345");
    return b;
}

template <typename P>
std::string Describe(P& packet, const Bytes& bytes, bool* ok, int32_t* left = nullptr) {
    const uint8_t* cursor = bytes.data();
    int32_t remaining = static_cast<int32_t>(bytes.size());
    *ok = packet.Parse(cursor, remaining);
    if (left) *left = remaining;
    str text;
    packet.Describe(text);
    return text.c_str();
}

}  // namespace

TEST(BONEPacket, DescribesEveryShownField) {
    BONEPacket packet;
    bool ok = false;
    int32_t left = -1;
    EXPECT_EQ(Describe(packet, BoneMessage(4), &ok, &left),
              "BONE Security Response, NO PMODE Packet\r\n\tFlags: 0x81"
              "\r\n\tIncrementing Value: 0x00000102"
              "\r\n\tHardware Address (Permanent): 00-60-08-ab-cd-ef"
              "\r\n\tHardware Address (Current): 02-00-4c-4f-4f-50"
              "\r\n\tHost Name (ASCII): WORKSTATION-0016"
              "\r\n\tHost Name (UNICODE): H\xc3\xa9st"
              "\r\n\tUser Name (ASCII): alice"
              "\r\n\tUser Name (UNICODE): ABCDEFGHIJKLMNOPQRSTUVWXYZ\xe2\x82\xac"
              "12345");
    EXPECT_TRUE(ok);
    EXPECT_EQ(left, 0);

    const char* names[] = {"Station Query Request",       "Station Query Response",
                           "Alert",                       "Security Check",
                           "Security Response, NO PMODE", "Security Monitor Announcement",
                           "Weird"};
    for (uint8_t type : {0, 1, 2, 3, 5, 6, 255}) {
        EXPECT_TRUE(Describe(packet, BoneMessage(type), &ok)
                        .starts_with("BONE " + std::string(names[type > 5 ? 6 : type]) +
                                     " Packet\r\n\tFlags: 0x81"));
    }
}

TEST(BONEPacket, ShortMessageFailsAndBuildRoundTrips) {
    BONEPacket packet;
    bool ok = true;
    Bytes b = BoneMessage(1);
    b.pop_back();
    Describe(packet, b, &ok);
    EXPECT_FALSE(ok);

    b = BoneMessage(2);
    Describe(packet, b, &ok);
    ASSERT_TRUE(ok);
    Bytes out(200, 0);
    uint8_t* cursor = out.data();
    int32_t remaining = 200;
    EXPECT_TRUE(packet.Build(cursor, remaining));
    EXPECT_EQ(remaining, 20);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 180), b);
}

namespace {

// Header: length of what follows and receipt number little-endian, code 7; items as given.
using Items = std::vector<std::pair<uint16_t, Bytes>>;

Bytes DnaPacket(uint16_t length, uint16_t receipt, const Items& items) {
    Bytes b = {uint8_t(length), uint8_t(length >> 8), 7, 0, uint8_t(receipt),
               uint8_t(receipt >> 8)};
    for (const auto& [type, value] : items) {
        b.insert(b.end(), {uint8_t(type), uint8_t(type >> 8), uint8_t(value.size())});
        b.insert(b.end(), value.begin(), value.end());
    }
    return b;
}

}  // namespace

TEST(DECDNARCSystemIDPacket, KnownAndUnknownItems) {
    const Bytes b = DnaPacket(31, 0x1234,
                              {{1, {3, 0, 0}},
                               {2, {0x1c, 0x00}},
                               {7, {0xaa, 0x00, 0x04, 0x00, 0x12, 0x34}},
                               {400, {0x01}},
                               {500, {0x05}},
                               {401, {}}});
    DECDNARCSystemIDPacket packet;
    bool ok = false;
    EXPECT_EQ(Describe(packet, b, &ok),
              "DEC DNA Remote Console System ID packet\r\n\tCode: 0x07\r\n\tReserved: 0x00"
              "\r\n\tReceiptNo: 0x1234"
              "\r\n\tMaintenance Version: 030000\n"
              "\r\n\tFunctions: 1c00\n"
              "\r\n\tHardware Address: aa0004001234\n"
              "\r\n\tData Link: 01\n"
              "\r\n\tUnknown (Type 0x1f4): 05\n"
              "\r\n\tData Link Buffer Size: \n");
    EXPECT_TRUE(ok);
    EXPECT_EQ(packet.Items().Count(), 6);

    // Items run to the end of the data, past the length field: zero padding reads as items of
    // type 0 and length 0, and leftover bytes too few for an item end the list.
    Bytes padded = DnaPacket(4, 1, {{3, {0x01, 0x02}}});
    padded.resize(padded.size() + 8, 0);
    EXPECT_TRUE(Describe(packet, padded, &ok)
                    .ends_with("\r\n\tReceiptNo: 0x0001\r\n\tConsole User: 0102\n"
                               "\r\n\tUnknown (Type 0x00): \n\r\n\tUnknown (Type 0x00): \n"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(packet.Items().Count(), 3);

    // An item whose value is cut short ends the list; the items before it stay.
    Bytes cut = DnaPacket(10, 1, {{8, {1, 2, 3, 4}}, {100, {9, 9, 9}}});
    cut.pop_back();
    EXPECT_TRUE(
        Describe(packet, cut, &ok).ends_with("ReceiptNo: 0x0001\r\n\tSystem Time: 01020304\n"));
    EXPECT_TRUE(ok);
}

TEST(DECDNARCSystemIDPacket, BadLengthOrShortHeaderFails) {
    DECDNARCSystemIDPacket packet;
    bool ok = true;
    for (uint16_t length : {1000, 59, 58}) {
        Bytes b = DnaPacket(length, 1, {});
        b.resize(60, 0);
        Describe(packet, b, &ok);
        EXPECT_EQ(ok, length == 58) << length;
    }
    Bytes b = DnaPacket(0, 1, {});
    b.pop_back();
    Describe(packet, b, &ok);
    EXPECT_FALSE(ok);
}

TEST(DECDNARCSystemIDPacket, BuildRoundTrips) {
    const Bytes b = DnaPacket(9, 0xbeef, {{200, {0x0f, 0xff, 0xfe, 0x00}}});
    DECDNARCSystemIDPacket packet;
    bool ok = false;
    Describe(packet, b, &ok);
    ASSERT_TRUE(ok);
    uint8_t out[16] = {};
    uint8_t* cursor = out;
    int32_t remaining = sizeof out;
    EXPECT_TRUE(packet.Build(cursor, remaining));
    EXPECT_EQ(remaining, 10);  // the header only
    EXPECT_EQ(Bytes(out, out + 6), Bytes(b.begin(), b.begin() + 6));

    DECDNAInfo item;
    const uint8_t* read = b.data() + 6;
    int32_t left = 7;
    ASSERT_TRUE(item.Parse(read, left));
    cursor = out;
    remaining = sizeof out;
    EXPECT_TRUE(item.Build(cursor, remaining));
    EXPECT_EQ(Bytes(out, out + 7), Bytes(b.begin() + 6, b.end()));
    cursor = out;
    remaining = 5;  // no room for the value
    EXPECT_FALSE(item.Build(cursor, remaining));
}
