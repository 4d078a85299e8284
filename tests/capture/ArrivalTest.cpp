#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "decode/FrameBuilder.h"
#include "framework/Tick.h"
#include "support/CaptureFixture.h"

using namespace frames;

namespace {

const Mac kMacA{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const Mac kMacB{0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
const uint32_t kHostA = IPv4Address(10, 0, 0, 1);
const uint32_t kHostB = IPv4Address(192, 168, 1, 20);

Bytes TcpFrame(uint16_t sport = 1234, uint16_t dport = 80) {
    return Ethernet(kMacB, kMacA, 0x0800,
                    IPv4(6, kHostA, kHostB, TCP(sport, dport, 1, 2, 0x18, Text("GET /"))));
}

int Deliver(const Bytes& frame, int frameType = 2, bool updateStatus = true,
            const LoaderInfo* loader = nullptr) {
    return HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), frameType,
                         updateStatus, loader);
}

bool SlotIsClear(const PacketRecord& r) {
    return r.index == 0 && r.timeOffset == 0 && r.frameType == 0 && r.isIp == 0 &&
           r.protocol == 0 && r.source.Empty() && r.destination.Empty() && r.sourcePort == 0 &&
           r.destinationPort == 0 && r.length == 0 && !r.data;
}

class Arrival : public CaptureFixture {};

TEST_F(Arrival, SizeLimitsAreFortyTo65535Bytes) {
    Bytes frame(65536, 0);
    EXPECT_EQ(HandleArrival(frame.data(), 39, 1, true), 0);
    EXPECT_EQ(HandleArrival(frame.data(), 65536, 1, true), 0);
    EXPECT_EQ(HandleArrival(frame.data(), 0, 1, true), 0);  // the unsigned difference wraps
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(HandleArrival(frame.data(), 40, 1, true), 1);
    EXPECT_EQ(HandleArrival(frame.data(), 65535, 1, true), 1);
    ASSERT_EQ(Count(), 2);
    EXPECT_EQ(Record(0).length, 40u);
    EXPECT_EQ(Record(1).length, 65535u);
    EXPECT_EQ(std::memcmp(Record(1).data.get(), frame.data(), 65535), 0);
}

TEST_F(Arrival, TcpOverIPv4GivesProtocolAddressesAndPorts) {
    Bytes frame = TcpFrame(40000, 443);
    ASSERT_EQ(Deliver(frame), 1);
    const PacketRecord& r = Record(0);
    EXPECT_EQ(r.index, 0u);
    EXPECT_EQ(r.frameType, 2);
    EXPECT_EQ(r.isIp, 1);
    EXPECT_EQ(r.protocol, 6);
    EXPECT_STREQ(r.source.c_str(), "10.0.0.1");
    EXPECT_STREQ(r.destination.c_str(), "192.168.1.20");
    EXPECT_EQ(r.sourcePort, 40000);
    EXPECT_EQ(r.destinationPort, 443);
    EXPECT_EQ(r.length, frame.size());
    EXPECT_EQ(view.rows, std::vector<uint32_t>{0});
    EXPECT_EQ(view.status[2], "  0 / 65536");
}

TEST_F(Arrival, IcmpHasNoPortsAndRawIpIsFrameTypeOne) {
    Bytes ping = IPv4(1, kHostA, kHostB, ICMP(8, 0, 0x00010001, Bytes(32, 0x61)));
    ASSERT_EQ(Deliver(ping, 1), 1);
    EXPECT_EQ(Record(0).frameType, 1);
    EXPECT_EQ(Record(0).protocol, 1);
    EXPECT_EQ(Record(0).sourcePort, 0);
    EXPECT_EQ(Record(0).destinationPort, 0);
    // Any frame type but 2 is a raw IP datagram.
    ASSERT_EQ(Deliver(ping, 7), 1);
    EXPECT_EQ(Record(1).frameType, 1);
    EXPECT_EQ(Record(1).isIp, 1);
}

TEST_F(Arrival, ArpRequestGivesSenderAndTargetAddresses) {
    Bytes frame = PadEthernet(Ethernet(Mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, kMacA, 0x0806,
                                       ARP(1, kMacA, kHostA, Mac{}, kHostB)));
    ASSERT_EQ(Deliver(frame), 1);
    const PacketRecord& r = Record(0);
    EXPECT_EQ(r.protocol, 0x0806);
    EXPECT_EQ(r.isIp, 0);
    EXPECT_STREQ(r.source.c_str(), "10.0.0.1");
    EXPECT_STREQ(r.destination.c_str(), "192.168.1.20");
    EXPECT_EQ(r.sourcePort, 0);
    EXPECT_EQ(r.destinationPort, 0);
}

TEST_F(Arrival, UnparsableNetworkLayersAreStoredWithoutIpFields) {
    // An IPv4 header cut short keeps the link type and is not IP.
    Bytes cut = Ethernet(kMacB, kMacA, 0x0800, Bytes{0x45, 0x00, 0x00, 0x54, 0x12, 0x34});
    cut.resize(40, 0);
    cut[14] = 0x4f;  // header length 60: runs past the 26 bytes there are
    ASSERT_EQ(Deliver(cut), 1);
    EXPECT_EQ(Record(0).protocol, 0x0800);
    EXPECT_EQ(Record(0).isIp, 0);
    EXPECT_TRUE(Record(0).source.Empty());

    // A raw datagram of version 5.
    Bytes v5 = IPv4(6, kHostA, kHostB, TCP(1, 2, 0, 0, 0x02, {}));
    v5[0] = 0x55;
    ASSERT_EQ(Deliver(v5, 1), 1);
    EXPECT_EQ(Record(1).isIp, 0);
    EXPECT_EQ(Record(1).protocol, 0);
    EXPECT_TRUE(Record(1).source.Empty());
    EXPECT_TRUE(Record(1).destination.Empty());
}

TEST_F(Arrival, IPv6AddressesAndHopByHopProtocol) {
    IPv6Address a{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x02, 0xb3, 0xff, 0xfe, 0x1e, 0x83, 0x29};
    IPv6Address b{0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x16};
    Bytes frame = Ethernet(kMacB, kMacA, 0x86DD, IPv6(58, a, b, ICMP(143, 0, 1, Bytes(20, 0)), true));
    ASSERT_EQ(Deliver(frame), 1);
    EXPECT_EQ(Record(0).protocol, 58);
    EXPECT_STREQ(Record(0).source.c_str(), "fe80:0000:0000:0000:0202:b3ff:fe1e:8329");
    EXPECT_STREQ(Record(0).destination.c_str(), "ff02:0000:0000:0000:0000:0000:0000:0016");
}

TEST_F(Arrival, LaterFragmentsHaveNoPorts) {
    IPv4Options later;
    later.flagsAndOffset = 0x00b9;  // offset 185 × 8 bytes, last fragment
    later.transportChecksum = false;
    Bytes frame = IPv4(17, kHostA, kHostB, Bytes{0x00, 0x35, 0x04, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, later);
    ASSERT_EQ(Deliver(frame, 1), 1);
    EXPECT_EQ(Record(0).protocol, 17);
    EXPECT_EQ(Record(0).sourcePort, 0);
    EXPECT_EQ(Record(0).destinationPort, 0);
}

TEST_F(Arrival, FullStoreRefusesWithStatusAndWithdrawsCapture) {
    Bytes frame = TcpFrame();
    for (int i = 0; i < PacketStore::kLimit; ++i) ASSERT_EQ(Deliver(frame, 2, false), 1);
    StartCapture();
    EXPECT_EQ(Deliver(frame), 0);
    EXPECT_EQ(Count(), PacketStore::kLimit);
    EXPECT_EQ(IsCapturing(), 0);
    EXPECT_EQ(view.status[0], "  Packet capture stopped - packet limit reached.");
    EXPECT_EQ(view.rows.size(), static_cast<size_t>(PacketStore::kLimit));
}

TEST_F(Arrival, FilterRejectedFrameLeavesNothingInTheNextSlot) {
    CaptureFilterRule rule;
    rule.criteria = kMatchProtocol;
    rule.protocol = 6;
    ASSERT_TRUE(InsertFilterRule(rule, 0));
    LoaderInfo loaded{5000, true, 1};
    EXPECT_EQ(Deliver(TcpFrame(), 2, true, &loaded), 1);  // handled, but dropped
    EXPECT_EQ(Count(), 0);
    EXPECT_TRUE(SlotIsClear(GetPacketStore().records[0]));
    EXPECT_TRUE(view.rows.empty());

    // A non-IP frame now takes slot 0 and shows none of the TCP frame's fields.
    Bytes other = PadEthernet(Ethernet(kMacB, kMacA, 0x9000, Bytes(10, 1)));
    LoaderInfo zero{0, false, 0};
    ASSERT_EQ(Deliver(other, 2, true, &zero), 1);
    const PacketRecord& r = Record(0);
    EXPECT_EQ(r.isIp, 0);
    EXPECT_EQ(r.timeOffset, 0u);
    EXPECT_EQ(r.sourcePort, 0);
    EXPECT_TRUE(r.source.Empty());
    EXPECT_EQ(r.protocol, 0x9000);
}

TEST_F(Arrival, WithoutRowsOnlyWhatAFileKeepsUnlessFiltersNeedTheRowFields) {
    GetPacketStore().rowsShown.store(false);
    Bytes v6 = Ethernet(kMacB, kMacA, 0x86DD, IPv6(17, IPv6Address{0xfe, 0x80}, IPv6Address{0xff, 0x02},
                                                   UDP(5353, 5353, Bytes(8, 0))));
    Bytes v5 = IPv4(6, kHostA, kHostB, TCP(1, 2, 0, 0, 0x02, {}));
    v5[0] = 0x55;
    const Bytes frames[] = {TcpFrame(), v6, v5};
    const int types[] = {2, 2, 1};
    const uint16_t ipFlags[] = {1, 1, 0};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Deliver(frames[i], types[i]), 1);
        const PacketRecord& r = Record(i);
        EXPECT_EQ(r.frameType, types[i]);
        EXPECT_EQ(r.isIp, ipFlags[i]);
        ASSERT_EQ(r.length, frames[i].size());
        EXPECT_EQ(std::memcmp(r.data.get(), frames[i].data(), r.length), 0);
        EXPECT_TRUE(r.source.Empty() && r.destination.Empty());
        EXPECT_EQ(r.sourcePort + r.destinationPort, 0);
    }

    // A rule on the address needs the row fields: they are filled and the rule holds.
    CaptureFilterRule rule;
    rule.criteria = kMatchSource;
    std::strcpy(rule.sourceText, "10.0.0.1");
    ASSERT_TRUE(InsertFilterRule(rule, 0));
    EXPECT_EQ(Deliver(TcpFrame()), 1);
    EXPECT_EQ(Count(), 3);
    ASSERT_EQ(Deliver(Ethernet(kMacB, kMacA, 0x0800, IPv4(17, kHostB, kHostA, UDP(53, 9, {})))), 1);
    ASSERT_EQ(Count(), 4);
    EXPECT_STREQ(Record(3).source.c_str(), "192.168.1.20");
    EXPECT_EQ(Record(3).protocol, 17);
    EXPECT_EQ(Record(3).sourcePort, 53);
}

TEST_F(Arrival, CountTextAndTimeOffsets) {
    Bytes frame = TcpFrame();
    for (int i = 0; i < 41; ++i) ASSERT_EQ(Deliver(frame, 2, false), 1);
    EXPECT_EQ(view.status[2], "");
    ASSERT_EQ(Deliver(frame), 1);
    EXPECT_EQ(view.status[2], "  41 / 65536");

    // A loader's time offset stands, 0 included; its IP flag is kept.
    LoaderInfo fromFile{0, true, 1};
    ASSERT_EQ(Deliver(Bytes(60, 0), 2, false, &fromFile), 1);
    EXPECT_EQ(Record(42).timeOffset, 0u);
    EXPECT_EQ(Record(42).isIp, 1);

    // Live frames are timed from the start tick.
    ClearStore();
    StartCapture();
    ASSERT_EQ(Deliver(frame), 1);
    EXPECT_EQ(Record(0).index, 0u);
    EXPECT_LT(Record(0).timeOffset, 1000u);
    EXPECT_EQ(view.status[2], "  0 / 65536");
}

TEST_F(Arrival, FramesOfOneHandoverShareTheTickOfTheFirst) {
    using std::chrono::milliseconds;
    StartCapture();
    {
        const ArrivalTick handover;
        std::this_thread::sleep_for(milliseconds(20));  // the driver's wait: not yet read
        ASSERT_EQ(Deliver(TcpFrame()), 1);
        std::this_thread::sleep_for(milliseconds(30));
        ASSERT_EQ(Deliver(TcpFrame()), 1);
    }
    std::this_thread::sleep_for(milliseconds(30));
    ASSERT_EQ(Deliver(TcpFrame()), 1);
    EXPECT_GE(Record(0).timeOffset, 20u);
    EXPECT_EQ(Record(1).timeOffset, Record(0).timeOffset);
    EXPECT_GE(Record(2).timeOffset, Record(1).timeOffset + 60u);
}

TEST_F(Arrival, StartTickIsSetOnlyByTheFirstStartAfterAClear) {
    PacketStore& store = GetPacketStore();
    EXPECT_EQ(store.startTick.load(), 0u);
    StartCapture();
    const uint32_t first = store.startTick.load();
    EXPECT_NE(first, 0u);
    StopCapture();
    StartCapture();
    EXPECT_EQ(store.startTick.load(), first);
    EXPECT_EQ(IsCapturing(), 1);
    StopCapture();
    ClearStore();
    EXPECT_EQ(store.startTick.load(), 0u);
}

TEST_F(Arrival, ProtocolNameUsesIpOrLinkTable) {
    ASSERT_EQ(Deliver(TcpFrame()), 1);
    Bytes arp = PadEthernet(Ethernet(kMacB, kMacA, 0x0806, ARP(1, kMacA, kHostA, Mac{}, kHostB)));
    ASSERT_EQ(Deliver(arp), 1);
    str name("stale");
    ProtocolName(Record(0), name);
    EXPECT_STREQ(name.c_str(), "TCP");
    ProtocolName(Record(1), name);
    EXPECT_STREQ(name.c_str(), "ARP");
}

TEST_F(Arrival, ShowStatusPrefixesTwoBlanks) {
    ShowStatus("Invalid Capture Method", 0);
    EXPECT_EQ(view.status[0], "  Invalid Capture Method");
    for (size_t length : {61u, 62u, 300u}) {  // short texts are put together apart from long ones
        const std::string text(length, 'x');
        ShowStatus(text.c_str(), 1);
        EXPECT_EQ(view.status[1], "  " + text);
    }
    SetArrivalView(nullptr);
    EXPECT_EQ(ShowStatus("nothing to show it on", 1), 1);
}

}  // namespace
