#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/str.h"

namespace {

TEST(Str, InlineUpTo31CharactersThenHeapWithSlack) {
    str s(std::string(31, 'a').c_str());
    EXPECT_EQ(s.Capacity(), 32u);
    s += "b";
    EXPECT_EQ(s.Length(), 32u);
    EXPECT_EQ(s.Capacity(), 289u);  // 32 + 257
    EXPECT_EQ(std::string(s.c_str()), std::string(31, 'a') + "b");
}

TEST(Str, GrowthWithinSlackDoesNotReallocateAndShrinkReturnsInline) {
    str s;
    s = std::string(300, 'x').c_str();
    const size_t capacity = s.Capacity();
    EXPECT_EQ(capacity, 557u);
    const char* buffer = s.c_str();
    s += "y";
    EXPECT_EQ(s.c_str(), buffer);
    EXPECT_EQ(s.Capacity(), capacity);
    s = std::string(20, 'z').c_str();
    EXPECT_EQ(s.Capacity(), 32u);
    EXPECT_STREQ(s.c_str(), std::string(20, 'z').c_str());
    // More than 256 characters of slack is given back.
    str big(std::string(2000, 'q').c_str());
    big = std::string(100, 'r').c_str();
    EXPECT_EQ(big.Capacity(), 101u);
}

TEST(Str, ReservedRoomIsKeptWhileAppending) {
    str s("head");
    ASSERT_TRUE(s.Reserve(100000));
    const char* buffer = s.c_str();
    for (int i = 0; i < 5000; ++i) s += "0123456789";
    EXPECT_EQ(s.c_str(), buffer);  // no reallocation on the way
    EXPECT_EQ(s.Length(), 50004u);
    EXPECT_EQ(std::string(s.c_str(), 4), "head");
}

TEST(Str, AppendingNothingChangesNothing) {
    str s("abc");
    s += "";
    s += static_cast<const char*>(nullptr);
    EXPECT_STREQ(s.c_str(), "abc");
    EXPECT_EQ(s.Length(), 3u);
}

TEST(Str, AppendingItselfSurvivesTheMove) {
    str s(std::string(30, 'k').c_str());
    s += s;  // grows onto the heap while reading its own old buffer
    EXPECT_EQ(std::string(s.c_str()), std::string(60, 'k'));
    s.Append(s.c_str() + 10, 5);
    EXPECT_EQ(s.Length(), 65u);
}

TEST(Str, NumbersAndFormatting) {
    str s;
    s = static_cast<int32_t>(-42);
    EXPECT_STREQ(s.c_str(), "-42");
    s = static_cast<uint32_t>(4000000000u);
    EXPECT_STREQ(s.c_str(), "4000000000");
    s.AssignIPv4(0xc0a80114);
    EXPECT_STREQ(s.c_str(), "192.168.1.20");
    // Every octet value in every place, against printf, in a buffer of exactly 16 bytes.
    for (uint32_t value = 0; value < 256; ++value) {
        for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t a = (value << shift) | (shift ? 0xff : 0xff00u);
            char expected[16], text[16];
            std::snprintf(expected, sizeof expected, "%u.%u.%u.%u", a >> 24, a >> 16 & 0xff,
                          a >> 8 & 0xff, a & 0xff);
            ASSERT_EQ(FormatIPv4(a, text), std::strlen(expected)) << expected;
            ASSERT_STREQ(text, expected);
        }
    }
    char widest[16];
    EXPECT_EQ(FormatIPv4(0xffffffff, widest), 15u);
    EXPECT_STREQ(widest, "255.255.255.255");
    s.Clear();
    s.AppendInt(-7);
    s.AppendU16(65535);
    s.AppendHex32(0xbeef);
    EXPECT_STREQ(s.c_str(), "-7655350x0000beef");
    str longText;
    longText.AppendFormat("%s|%d", std::string(1000, 'w').c_str(), 5);
    EXPECT_EQ(longText.Length(), 1002u);
}

TEST(Str, CaseInsensitiveEqualityAndConversions) {
    str s("Hello");
    EXPECT_TRUE(s == "hELLO");
    EXPECT_TRUE(s != "hell");
    str empty;
    EXPECT_TRUE(empty == nullptr);
    EXPECT_EQ(str("  12abc").ToInt(), 12);
    EXPECT_EQ(str("abc").ToInt(), 0);
    EXPECT_EQ(s.At(1), 'e');
    EXPECT_EQ(s.At(5), 0);
    EXPECT_EQ(s.At(-1), 0);
}

TEST(Str, Editing) {
    str s("a=b");
    str after("old");
    EXPECT_TRUE(s.Split('=', after));
    EXPECT_STREQ(s.c_str(), "a");
    EXPECT_STREQ(after.c_str(), "b");
    str none("abc");
    EXPECT_FALSE(none.Split('=', after));
    EXPECT_STREQ(after.c_str(), "");
    EXPECT_STREQ(none.c_str(), "abc");

    str path("/usr/local/lib/x.so");
    EXPECT_TRUE(path.CutAtLast("/"));
    EXPECT_STREQ(path.c_str(), "/usr/local/lib");
    EXPECT_FALSE(path.CutAtLast("#"));

    str t("key: value");
    EXPECT_TRUE(t.RemoveBefore(": ", true));
    EXPECT_STREQ(t.c_str(), "value");
    str u("key: value");
    EXPECT_TRUE(u.RemoveBefore(":"));
    EXPECT_STREQ(u.c_str(), ": value");
    EXPECT_FALSE(u.RemoveBefore("zz"));

    str v(" \t  text");
    v.TrimLeft(" \t");
    EXPECT_STREQ(v.c_str(), "text");
    v.Prepend("my ");
    EXPECT_STREQ(v.c_str(), "my text");
    v.RemoveFirst(3);
    EXPECT_STREQ(v.c_str(), "text");
    v.RemoveFirst(99);
    EXPECT_STREQ(v.c_str(), "");
    v = "abcdef";
    v.SetLength(3);
    EXPECT_STREQ(v.c_str(), "abc");
    v.SetLength(1000);  // clamped to the capacity
    EXPECT_EQ(v.Length(), 31u);
}

TEST(Str, AssigningOwnTextKeepsOrCutsIt) {
    str s("prefix-rest");
    s = s.c_str();
    EXPECT_STREQ(s.c_str(), "prefix-rest");
    s = s.c_str() + 7;
    EXPECT_STREQ(s.c_str(), "rest");
    str copy(s);
    str moved(std::move(copy));
    EXPECT_STREQ(moved.c_str(), "rest");
    EXPECT_STREQ(copy.c_str(), "");
    moved.Release();
    EXPECT_EQ(moved.Length(), 0u);
    EXPECT_EQ(moved.Capacity(), 32u);
}

TEST(Str, Utf16IsAppendedAsUtf8) {
    const char16_t text[] = u"A\u00e9\u20ac\U0001F600";
    str s;
    s.AppendUTF16(text, sizeof text / sizeof text[0] - 1);
    EXPECT_STREQ(s.c_str(), "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    const char16_t lone[] = {0xd800, 'x'};
    str t;
    t.AppendUTF16(lone, 2);
    EXPECT_STREQ(t.c_str(), "\xef\xbf\xbdx");
}

TEST(Str, AssignmentThrowsOutOfMemoryWithItsText) {
    OutOfMemory error;
    EXPECT_STREQ(error.what(), "Out of memory.");
}

}  // namespace
