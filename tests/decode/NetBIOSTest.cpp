#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/NetBIOS.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint16_t id, uint16_t flags, uint8_t questions, uint8_t answers) {
    return {uint8_t(id >> 8), uint8_t(id), uint8_t(flags >> 8), uint8_t(flags), 0, questions,
            0, answers, 0, 0, 0, 0};
}

// A question (or the start of a record): length, letters, terminator, type, class 1.
Bytes& Question(Bytes& b, const std::string& letters, uint8_t type = 0x20) {
    b.push_back(static_cast<uint8_t>(letters.size()));
    b.insert(b.end(), letters.begin(), letters.end());
    b.insert(b.end(), {0, 0, type, 0, 1});
    return b;
}

// WORKGROUP, six blanks and the suffix 0x1d in first-level encoding.
const std::string kWorkgroup = "FHEPFCELEHFCEPFFFACACACACACACABN";
const std::string kWildcard = "CK" + std::string(30, 'A');

std::string Describe(const Bytes& bytes, bool* ok = nullptr, int32_t* left = nullptr) {
    NBNSNameQuery query;
    const uint8_t* cursor = bytes.data();
    int32_t remaining = static_cast<int32_t>(bytes.size());
    const bool parsed = query.Parse(cursor, remaining);
    if (ok) *ok = parsed;
    if (left) *left = remaining;
    str text;
    query.Describe(text);
    return text.c_str();
}

bool Parses(const Bytes& bytes) {
    bool ok = false;
    Describe(bytes, &ok);
    return ok;
}

const char kQueryHeader[] =
    "NetBIOS Name Query Packet\r\n\tTransaction ID: 0x8a21\r\n\tFlags: 0x0110"
    "\r\n\tQuestions: 1\r\n\tAnswers: 0\r\n\tAuthorities: 0\r\n\tAdditionals: 0";

}  // namespace

TEST(NetBIOSName, QuestionNames) {
    Bytes b = Header(0x8a21, 0x0110, 1, 0);
    bool ok = false;
    int32_t left = -1;
    EXPECT_EQ(Describe(Question(b, kWorkgroup), &ok, &left),
              std::string(kQueryHeader) +
                  "\r\nNBNS Question\r\n\tName: WORKGROUP      \x1d"
                  "\r\n\tType: 0x0020\r\n\tClass: 0x0001");
    EXPECT_TRUE(ok);
    EXPECT_EQ(left, 0);

    b = Header(0x8a21, 0x0110, 1, 0);
    EXPECT_EQ(Describe(Question(b, kWildcard, 0x21)),
              std::string(kQueryHeader) +
                  "\r\nNBNS Question\r\n\tName: *\r\n\tType: 0x0021\r\n\tClass: 0x0001");

    b = Header(1, 0, 1, 0);
    EXPECT_NE(Describe(Question(b, ""), &ok).find("\r\n\tName: \r\n\tType: 0x0020"),
              std::string::npos);
    EXPECT_TRUE(ok);

    // A count of 2 still reads one question.
    b = Header(1, 0, 2, 0);
    Question(Question(b, kWildcard), kWorkgroup);
    const std::string text = Describe(b, &ok, &left);
    EXPECT_TRUE(ok);
    EXPECT_EQ(left, 38);
    EXPECT_EQ(text.find("NBNS Question"), text.rfind("NBNS Question"));
}

TEST(NetBIOSName, PositiveResponseShowsOnlyTheRecord) {
    Bytes b = Header(0x8a21, 0x8500, 0, 1);
    Question(b, kWorkgroup).insert(b.end(), {0, 4, 0x93, 0xe0, 0, 6, 0x80, 0, 192, 168, 1, 5});
    NBNSNameQuery query;
    const uint8_t* cursor = b.data();
    int32_t remaining = static_cast<int32_t>(b.size());
    ASSERT_TRUE(query.Parse(cursor, remaining));
    EXPECT_EQ(remaining, 0);
    EXPECT_EQ(query.Answer().Addr().Address(), 0xc0a80105u);
    str text;
    query.Describe(text);
    EXPECT_STREQ(text.c_str(),
                 "NetBIOS Name Query Packet\r\n\tTransaction ID: 0x8a21\r\n\tFlags: 0x8500"
                 "\r\n\tQuestions: 0\r\n\tAnswers: 1\r\n\tAuthorities: 0\r\n\tAdditionals: 0"
                 "\r\nNBNS Resource Record\r\n\tName: WORKGROUP      \x1d"
                 "\r\n\tType: 0x0020\r\n\tClass: 0x0001\r\n\tTTL: 0x000493e0"
                 "\r\n\tDataLen: 0x0006");

    b.resize(b.size() - 3);  // an address entry cut short does not fail the record
    EXPECT_TRUE(Parses(b));
    b.resize(b.size() - 5);  // a record without its data length does
    EXPECT_FALSE(Parses(b));
}

TEST(NetBIOSName, MalformedMessagesFail) {
    Bytes b = Header(1, 0, 1, 0);
    EXPECT_FALSE(Parses(Question(b, kWildcard + "A")));  // name length 33
    b = Header(1, 0, 1, 0);
    b.insert(b.end(), {0xc0, 0x0c, 0, 0x20, 0, 1});  // a compression pointer
    EXPECT_FALSE(Parses(b));

    b = Header(1, 0, 0, 0);
    EXPECT_TRUE(Parses(b));
    b.pop_back();  // cut inside the header
    EXPECT_FALSE(Parses(b));
    b = Header(1, 0, 1, 0);
    Question(b, kWorkgroup).pop_back();  // cut inside the class
    EXPECT_FALSE(Parses(b));
    b.resize(12 + 20);  // cut inside the name
    EXPECT_FALSE(Parses(b));
}

TEST(NetBIOSName, EncodeAndDecode) {
    uint8_t letters[32];
    EncodeNetBIOSName("AB", letters, 32, false);
    EXPECT_EQ(std::string(letters, letters + 32), "EBECCACACACACACACACACACACACACACA");
    // Bytes after the 16th are ignored; decoding gives the bytes back.
    EncodeNetBIOSName("ABCDEFGHIJKLMNOPQRS", letters, 32, false);
    DecodeNetBIOSName(letters, 32);
    EXPECT_STREQ(reinterpret_cast<char*>(letters), "ABCDEFGHIJKLMNOP");
    // An odd last letter is not decoded.
    uint8_t odd[] = {'E', 'B', 'E'};
    DecodeNetBIOSName(odd, 3);
    EXPECT_STREQ(reinterpret_cast<char*>(odd), "A");
}

TEST(NetBIOSName, BuildWritesTheWildcardQuery) {
    NBNSNameQuery query;
    uint8_t out[64];
    std::fill(std::begin(out), std::end(out), 0xee);
    uint8_t* cursor = out;
    int32_t remaining = sizeof out;
    EXPECT_TRUE(query.Build(cursor, remaining));
    EXPECT_EQ(remaining, 64 - 50);
    Bytes expected = Header(1234, 0, 1, 0);
    EXPECT_EQ(Bytes(out, out + 50), Question(expected, kWildcard, 0x21));

    cursor = out;
    remaining = 49;
    EXPECT_FALSE(query.Build(cursor, remaining));
}
