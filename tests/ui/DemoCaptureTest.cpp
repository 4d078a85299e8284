// The demonstration capture shows every decoder at work.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "decode/DescriptionTree.h"
#include "decode/Dispatch.h"
#include "ui/DemoCapture.h"

TEST(DemoCapture, EveryDecoderHasAFrame) {
    ASSERT_TRUE(AllocateStore());
    ClearStore();
    ResetFilters();
    DecodeView.store(DecodeViewKind::PacketParser);
    const std::vector<DemoFrame> frames = DemoFrames();
    uint32_t previous = 0;
    for (const DemoFrame& frame : frames) {
        EXPECT_GE(frame.timeOffset, previous);
        previous = frame.timeOffset;
        HandleArrival(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 2, false);
    }
    ASSERT_EQ(GetPacketStore().Count(), static_cast<int32_t>(frames.size()));
    std::set<std::string> layers;
    for (int32_t i = 0; i < GetPacketStore().Count(); ++i) {
        str text;
        DescribePacket(GetPacketStore()[i], text);
        for (const DescriptionTreeItem& item : BuildDescriptionTree(text.c_str())) {
            if (item.depth == 0) layers.insert(item.label);
        }
    }
    ClearStore();
    for (const char* layer :
         {"ARP Request Packet", "ARP Reply Packet", "IPv6 Header", "TCP Header", "UDP Header",
          "ICMP Echo Request Packet", "ICMP Destination Unreachable Packet", "DNS Packet ",
          "DHCP BOOTREQUEST Packet", "DHCP BOOTREPLY Packet", "NetBIOS Name Query Packet",
          "Who Packet", "BONE Security Monitor Announcement Packet",
          "DEC DNA Remote Console System ID packet", "Ethernet (802.3) Packet",
          "a1 LOGIN keeper tide"}) {
        EXPECT_EQ(layers.count(layer), 1u) << layer;
    }
}
