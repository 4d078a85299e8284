#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/FrameBuilder.h"
#include "support/CaptureFixture.h"

using namespace frames;

namespace {

const Mac kMacA{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const Mac kMacB{0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
const IPv6Address kV6A{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const IPv6Address kV6B{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

Bytes Tcp4(uint32_t src, uint32_t dst, uint16_t sport = 1000, uint16_t dport = 80) {
    return Ethernet(kMacB, kMacA, 0x0800, IPv4(6, src, dst, TCP(sport, dport, 0, 0, 0x10, {})));
}
Bytes Udp4(uint32_t src, uint32_t dst, uint16_t sport = 5000, uint16_t dport = 53) {
    return Ethernet(kMacB, kMacA, 0x0800, IPv4(17, src, dst, UDP(sport, dport, Text("hello"))));
}
Bytes Tcp6() {
    return Ethernet(kMacB, kMacA, 0x86DD, IPv6(6, kV6A, kV6B, TCP(1000, 80, 0, 0, 0x10, {})));
}
// A non-IP frame whose link protocol value is 6: an 802.3 frame with DSAP 0x06.
Bytes LinkType6() { return PadEthernet(Ethernet8023(kMacB, kMacA, 0x06, 0x06, 0x03, Bytes(30, 0))); }

const uint32_t kHost1 = IPv4Address(10, 0, 0, 1);
const uint32_t kHost2 = IPv4Address(10, 0, 0, 2);
const uint32_t kHost3 = IPv4Address(10, 0, 0, 3);

bool Store(const Bytes& frame) {
    const int32_t before = GetPacketStore().Count();
    HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), 2, false);
    return GetPacketStore().Count() == before + 1;
}

// The packet list as rows of packet indexes.
class Rows : public PacketListRows {
public:
    int RowCount() const override { return static_cast<int>(indexes.size()); }
    uint32_t RowPacketIndex(int row) const override { return indexes[static_cast<size_t>(row)]; }
    void DeleteRow(int row) override { indexes.erase(indexes.begin() + row); }
    std::vector<uint32_t> indexes;
};

class Filters : public CaptureFixture {};

TEST_F(Filters, NoRulesKeepEverything) {
    EXPECT_TRUE(Store(Tcp4(kHost1, kHost2)));
    EXPECT_TRUE(Store(LinkType6()));
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), 0);
    EXPECT_EQ(GetCaptureFilterSet().DefaultVerdict(), 1u);
}

TEST_F(Filters, ProtocolRuleComparesNumbersWhateverTheLayer) {
    ASSERT_TRUE(Store(Tcp4(kHost1, kHost2)));
    ApplyQuickFilter(kDropProtocol, Record(0));
    EXPECT_EQ(GetCaptureFilterSet().Rule(0).criteria, 16u);
    EXPECT_EQ(GetCaptureFilterSet().Rule(0).protocol, 6);
    EXPECT_FALSE(Store(Tcp4(kHost1, kHost2)));
    EXPECT_FALSE(Store(Tcp6()));
    EXPECT_FALSE(Store(LinkType6()));
    EXPECT_TRUE(Store(Udp4(kHost1, kHost2)));
}

TEST_F(Filters, AddressRulesIgnoreCaseAndEmptyTextsMatchFramesWithoutAddresses) {
    PacketRecord packet;
    packet.source = "FE80:0000:0000:0000:0000:0000:0000:0001";
    ApplyQuickFilter(kDropFromSource, packet);
    PacketRecord lower;
    lower.source = "fe80:0000:0000:0000:0000:0000:0000:0001";
    EXPECT_EQ(TestCaptureFilters(GetCaptureFilterSet(), lower), 0);

    ApplyQuickFilter(kRemoveAllFilters, packet);
    PacketRecord noAddress;  // an empty destination drops every frame without one
    ApplyQuickFilter(kDropToDestination, noAddress);
    EXPECT_FALSE(Store(PadEthernet(Ethernet(kMacB, kMacA, 0x9000, Bytes(10, 0)))));
    EXPECT_TRUE(Store(Udp4(kHost1, kHost2)));
}

TEST_F(Filters, QuickFilterRulesCopyTheNamedFields) {
    ASSERT_TRUE(Store(Udp4(kHost1, kHost2, 5000, 53)));
    const PacketRecord& p = Record(0);
    struct Case { int item; uint32_t criteria; };
    for (Case c : {Case{1, 1}, Case{3, 17}, Case{2, 2}, Case{10, 18}, Case{4, 20}, Case{5, 24},
                   Case{6, 16}}) {
        CaptureFilterRule rule = QuickFilterRule(c.item, p);
        SCOPED_TRACE(c.item);
        EXPECT_EQ(rule.verdict, 0u);
        EXPECT_EQ(rule.criteria, c.criteria);
        EXPECT_STREQ(rule.sourceText, (c.criteria & 1) ? "10.0.0.1" : "");
        EXPECT_STREQ(rule.destinationText, (c.criteria & 2) ? "10.0.0.2" : "");
        EXPECT_EQ(rule.sourcePort, (c.criteria & 4) ? 5000 : 0);
        EXPECT_EQ(rule.destinationPort, (c.criteria & 8) ? 53 : 0);
        EXPECT_EQ(rule.protocol, (c.criteria & 16) ? 17 : 0);
    }
    // A record holds an address text of up to 39 characters (an IPv6 address in full), and the
    // rule takes all of it.
    PacketRecord longName;
    longName.source = std::string(60, 'x').c_str();
    EXPECT_EQ(std::string(QuickFilterRule(kDropFromSource, longName).sourceText), std::string(39, 'x'));
}

TEST_F(Filters, MenuTextsAndWhichEntriesAreOffered) {
    ASSERT_TRUE(Store(Tcp4(kHost1, kHost2, 1025, 80)));
    std::vector<std::pair<int, std::string>> got;
    for (const QuickFilterEntry& e : QuickFilterEntries(Record(0))) got.emplace_back(e.item, e.text.c_str());
    std::vector<std::pair<int, std::string>> want{
        {1, "Drop all packets from 10.0.0.1"}, {3, "Drop TCP packets from 10.0.0.1"},
        {2, "Drop all packets to 10.0.0.2"},   {10, "Drop TCP packets to 10.0.0.2"},
        {4, "Drop TCP packets with src port 1025"}, {5, "Drop TCP packets with dest port 80"},
        {6, "Drop all TCP packets"},           {7, "Remove all capture filters"}};
    EXPECT_EQ(got, want);

    // Ports of 0 offer no port entries; empty addresses still fill the texts.
    PacketRecord bare;
    bare.protocol = 0x9000;
    got.clear();
    for (const QuickFilterEntry& e : QuickFilterEntries(bare)) got.emplace_back(e.item, e.text.c_str());
    want = {{1, "Drop all packets from "}, {3, "Drop Configuration Test Protocol packets from "},
            {2, "Drop all packets to "},   {10, "Drop Configuration Test Protocol packets to "},
            {6, "Drop all Configuration Test Protocol packets"}, {7, "Remove all capture filters"}};
    EXPECT_EQ(got, want);
}

TEST_F(Filters, InsertionStopsAt1021RulesAndRemovalShifts) {
    CaptureFilterRule rule;
    rule.criteria = kMatchSourcePort;
    for (int i = 0; i < 1021; ++i) {
        rule.sourcePort = static_cast<uint16_t>(i + 1);
        ASSERT_TRUE(InsertFilterRule(rule, 0));
    }
    rule.sourcePort = 9999;
    EXPECT_FALSE(InsertFilterRule(rule, 0));
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), 1021);
    EXPECT_EQ(GetCaptureFilterSet().Rule(0).sourcePort, 1021);  // newest first

    // The refused rule drops nothing.
    EXPECT_TRUE(Store(Tcp4(kHost1, kHost2, 9999, 80)));
    EXPECT_FALSE(Store(Tcp4(kHost1, kHost2, 500, 80)));

    EXPECT_TRUE(RemoveFilterRule(1));
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), 1020);
    EXPECT_EQ(GetCaptureFilterSet().Rule(1).sourcePort, 1019);
    EXPECT_FALSE(RemoveFilterRule(1020));
    ApplyQuickFilter(kRemoveAllFilters, Record(0));
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), 0);
    EXPECT_FALSE(RemoveFilterRule(0));
}

TEST_F(Filters, RuleVerdictLowByteDecides) {
    CaptureFilterRule keep;
    keep.criteria = kMatchProtocol;
    keep.protocol = 17;
    keep.verdict = 0x100;  // low byte 0: drop
    ASSERT_TRUE(InsertFilterRule(keep, 0));
    EXPECT_FALSE(Store(Udp4(kHost1, kHost2)));
    keep.verdict = 0x101;
    ASSERT_TRUE(InsertFilterRule(keep, 0));  // first match wins
    EXPECT_TRUE(Store(Udp4(kHost1, kHost2)));
}

TEST_F(Filters, RefilteringRemovesRowsOnlyAndTheyNeverReturn) {
    Rows rows;
    for (uint32_t src : {kHost1, kHost2, kHost1, kHost3, kHost1}) {
        ASSERT_TRUE(Store(Tcp4(src, kHost2)));
        rows.indexes.push_back(static_cast<uint32_t>(Count() - 1));
    }
    rows.indexes.push_back(70000);  // a row whose packet is not stored is left alone

    ApplyQuickFilter(kDropFromSource, Record(0));
    RefilterPacketList(rows);
    EXPECT_EQ(rows.indexes, (std::vector<uint32_t>{1, 3, 70000}));
    EXPECT_EQ(Count(), 5);  // the records stay
    EXPECT_STREQ(Record(0).source.c_str(), "10.0.0.1");

    ApplyQuickFilter(kRemoveAllFilters, Record(0));
    RefilterPacketList(rows);
    EXPECT_EQ(rows.indexes, (std::vector<uint32_t>{1, 3, 70000}));
    EXPECT_TRUE(Store(Tcp4(kHost1, kHost2)));  // later frames follow the rules then in force
}

}  // namespace
