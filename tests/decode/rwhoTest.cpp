#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "decode/Array.h"
#include "decode/rwho.h"
#include "framework/Bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Pad bytes 00 01, send time 0, receive time 1600000000, host "alpha", load averages 1, 2,
// 0x10203 and boot time 0xffffffff (one second before 1970 as a signed time).
Bytes FixedPart() {
    Bytes b = {1, 1, 0x00, 0x01};
    bytes::AppendBe32(b, 0);
    bytes::AppendBe32(b, 1600000000);
    b.resize(44, 0);
    std::copy_n("alpha", 5, b.begin() + 12);
    for (uint32_t v : {1u, 2u, 0x10203u, 0xffffffffu}) bytes::AppendBe32(b, v);
    return b;
}

// Terminal and user padded with zero bytes to 8 bytes each.
void AppendEntry(Bytes& b, std::string terminal, std::string user, uint32_t login, uint32_t idle) {
    terminal.resize(8, '\0');
    user.resize(8, '\0');
    b.insert(b.end(), terminal.begin(), terminal.end());
    b.insert(b.end(), user.begin(), user.end());
    bytes::AppendBe32(b, login);
    bytes::AppendBe32(b, idle);
}

// Times are shown in UTC with the locale's short date: the C locale makes the text fixed.
class Rwho : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        previous_ = setlocale(LC_ALL, nullptr);
        setlocale(LC_ALL, "C");
    }
    void TearDown() override { setlocale(LC_ALL, previous_.c_str()); }

    static std::string Describe(rwhoPacket& packet, const Bytes& bytes, bool* ok,
                                int32_t* left = nullptr) {
        const uint8_t* cursor = bytes.data();
        int32_t remaining = static_cast<int32_t>(bytes.size());
        *ok = packet.Parse(cursor, remaining);
        if (left) *left = remaining;
        str text;
        packet.Describe(text);
        return text.c_str();
    }

    std::string previous_;
};

}  // namespace

TEST_F(Rwho, FixedPartOnly) {
    rwhoPacket packet;
    bool ok = false;
    EXPECT_EQ(Describe(packet, FixedPart(), &ok),
              "Who Packet\r\n\tVersion: 0x01\r\n\tType: 0x01\r\n\tPad: 0x0100"
              "\r\n\tSend Time: 01/01/70 00:00:00\r\n\tReceive Time: 09/13/20 12:26:40"
              "\r\n\tHost Name: alpha\r\n\tLoad Average: 0x00000001, 0x00000002, 0x00010203"
              "\r\n\tBootTime: 12/31/69 23:59:59");
    EXPECT_TRUE(ok);
    EXPECT_EQ(packet.Entries().Count(), 0);

    Bytes b = FixedPart();
    b.pop_back();
    Describe(packet, b, &ok);
    EXPECT_FALSE(ok);
}

TEST_F(Rwho, Entries) {
    Bytes b = FixedPart();
    std::fill(b.begin() + 12, b.begin() + 44, 'h');  // a host name of 32 characters, no zero
    AppendEntry(b, "ttyp0", "root", 0x5f000000, 0);
    AppendEntry(b, "console", "operator", 1, 0x3c);  // user of 8 characters, no zero byte
    AppendEntry(b, "pts/1234", "bob", 2, 3);         // terminal of 8 characters
    b.insert(b.end(), 10, 'z');                      // a short entry at the end is not read

    rwhoPacket packet;
    bool ok = false;
    int32_t left = 0;
    const std::string text = Describe(packet, b, &ok, &left);
    EXPECT_TRUE(ok);
    EXPECT_EQ(left, 10);
    EXPECT_EQ(packet.Entries().Count(), 3);
    EXPECT_TRUE(text.ends_with("\r\n\tHost Name: " + std::string(32, 'h') +
                               "\r\n\tLoad Average: 0x00000001, 0x00000002, 0x00010203"
                               "\r\n\tBootTime: 12/31/69 23:59:59"
                               "\r\n\tTerm: ttyp0, UID: root, Time: 0x5f000000, Idle: 0x00000000"
                               "\r\n\tTerm: console, UID: operator, Time: 0x00000001, Idle: "
                               "0x0000003c"
                               "\r\n\tTerm: pts/1234, UID: bob, Time: 0x00000002, Idle: "
                               "0x00000003"));

    // Nine entries grow the array once beyond its first 8; a new parse starts a fresh list.
    b = FixedPart();
    for (uint32_t i = 0; i < 9; ++i) AppendEntry(b, "tty", "u", i, i);
    rwhoPacket nine;
    EXPECT_EQ(nine.Entries().Capacity(), 8);
    EXPECT_TRUE(Describe(nine, b, &ok).ends_with("Time: 0x00000008, Idle: 0x00000008"));
    EXPECT_EQ(nine.Entries().Count(), 9);
    EXPECT_EQ(nine.Entries().Capacity(), 16);
    Describe(nine, FixedPart(), &ok);
    EXPECT_EQ(nine.Entries().Count(), 0);
}

TEST_F(Rwho, FormatUnixTime) {
    str text = "old";
    FormatUnixTime(0x7fffffff, text);
    EXPECT_STREQ(text.c_str(), "01/19/38 03:14:07");
    FormatUnixTime(0x80000000, text);  // signed: the earliest 32-bit time
    EXPECT_STREQ(text.c_str(), "12/13/01 20:45:52");
}

TEST_F(Rwho, BuildWritesTheFixedPartWithNow) {
    rwhoPacket packet;
    Bytes out(64, 0xee);
    uint8_t* cursor = out.data();
    int32_t remaining = 64;
    const uint32_t before = static_cast<uint32_t>(time(nullptr));
    EXPECT_TRUE(packet.Build(cursor, remaining));
    EXPECT_EQ(remaining, 4);
    EXPECT_GE(packet.SendTime(), before);
    EXPECT_LE(packet.SendTime(), before + 2);
    EXPECT_EQ(packet.BootTime(), packet.SendTime());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Bytes({1, 1, 0xff, 0xbf}));
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 12), Bytes({1, 0, 0, 0}));

    rwhoPacket back;
    bool ok = false;
    EXPECT_NE(Describe(back, Bytes(out.begin(), out.begin() + 60), &ok).find("\tPad: 0xbfff\r\n"),
              std::string::npos);
    EXPECT_EQ(back.SendTime(), packet.SendTime());

    cursor = out.data();
    remaining = 59;
    EXPECT_FALSE(packet.Build(cursor, remaining));
}

namespace {

struct Counted {
    explicit Counted(int& deaths) : deaths_(deaths) {}
    virtual ~Counted() { ++deaths_; }
    int& deaths_;
};

}  // namespace

TEST(RwhoArray, GrowthAndOwnership) {
    int deaths = 0;
    {
        PtrArray<Counted*> owned;
        for (int i = 0; i < 17; ++i) ASSERT_TRUE(owned.Add(new Counted(deaths)));
        EXPECT_EQ(owned.Capacity(), 24);
        owned.Add(nullptr);
        owned.RemoveAll();
        EXPECT_EQ(deaths, 17);
        EXPECT_EQ(owned.Count(), 0);
        EXPECT_EQ(owned.Capacity(), 0);
        owned.Add(new Counted(deaths));
        EXPECT_EQ(owned.Capacity(), 8);
    }
    EXPECT_EQ(deaths, 18);

    // A plain Array does not own what it points to.
    Counted kept(deaths);
    {
        Array<Counted*> borrowed;
        borrowed.Add(&kept);
        EXPECT_EQ(borrowed[0], &kept);
    }
    EXPECT_EQ(deaths, 18);
}
