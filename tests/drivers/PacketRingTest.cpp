// The walk of a receive-ring block, on hand-made blocks: what it hands on, and that no header,
// however wrong, makes it read outside the block.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "drivers/PacketRing.h"

namespace {

constexpr uint32_t kBlockBytes = 4096;
constexpr uint32_t kFirst = 64;  // behind the block descriptor
constexpr uint32_t kMac = 80;    // where a cooked socket's datagram starts in its slot

struct Slot {
    uint32_t mac = kMac, snaplen = 0, next = 0;
};

// A block whose descriptor counts `count` frames from `first`; slot i lies where the previous
// slot's next offset says and its bytes are all i + 1.
struct Block {
    alignas(64) uint8_t bytes[kBlockBytes] = {};
    Block(uint32_t count, uint32_t first, const std::vector<Slot>& slots) {
        auto* descriptor = reinterpret_cast<tpacket_block_desc*>(bytes);
        descriptor->hdr.bh1.num_pkts = count;
        descriptor->hdr.bh1.offset_to_first_pkt = first;
        descriptor->hdr.bh1.blk_len = kBlockBytes;
        uint32_t at = first;
        for (size_t i = 0; i < slots.size() && at + sizeof(tpacket3_hdr) <= kBlockBytes; ++i) {
            auto* header = reinterpret_cast<tpacket3_hdr*>(bytes + at);
            header->tp_mac = slots[i].mac;
            header->tp_snaplen = slots[i].snaplen;
            header->tp_next_offset = slots[i].next;
            const uint64_t end = uint64_t{at} + slots[i].mac + slots[i].snaplen;
            if (end <= kBlockBytes && slots[i].mac >= sizeof(tpacket3_hdr)) {
                std::memset(bytes + at + slots[i].mac, static_cast<int>(i + 1), slots[i].snaplen);
            }
            at += slots[i].next;
        }
    }
};

TEST(PacketRing, TheWalkHandsOnWhatLiesInsideTheBlockAndStopsAtTheFirstSlotThatDoesNot) {
    const Slot a{kMac, 60, 256}, b{kMac, 100, 512}, c{kMac, 1, 0};
    // The last slot of a block that ends exactly at the block's end.
    const uint32_t lastAt = kFirst + 256;
    const Slot fill{kMac, kBlockBytes - lastAt - kMac, 0};
    struct Case {
        const char* name;
        uint32_t count, first;
        std::vector<Slot> slots;
        std::vector<uint32_t> lengths;  // of the frames handed on, in order
    };
    const Case cases[] = {
        {"three frames", 3, kFirst, {a, b, c}, {60, 100, 1}},
        {"fewer counted than laid out", 2, kFirst, {a, b, c}, {60, 100}},
        {"a next offset of 0 ends the block", 5, kFirst, {a, b, c}, {60, 100, 1}},
        {"no frames", 0, kFirst, {a}, {}},
        {"a frame up to the last byte", 2, kFirst, {a, fill}, {60, kBlockBytes - lastAt - kMac}},
        {"first frame inside the descriptor", 1, 8, {a}, {}},
        {"first frame past the block", 1, kBlockBytes + 64, {a}, {}},
        {"header cut by the block's end", 1, kBlockBytes - 40, {a}, {}},
        {"data past the block's end", 2, kFirst, {a, {kMac, kBlockBytes, 0}}, {60}},
        {"data start past the block's end", 2, kFirst, {a, {kBlockBytes, 1, 0}}, {60}},
        {"data start inside the slot's header", 1, kFirst, {{8, 60, 0}}, {}},
        {"next offset past the block's end", 2, kFirst, {{kMac, 60, kBlockBytes}, b}, {60}},
        {"a huge length does not wrap", 1, kFirst, {{kMac, 0xffffffffu, 0}}, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Block block(test.count, test.first, test.slots);
        std::vector<uint32_t> lengths;
        const uint32_t visited =
            PacketRing::Walk(block.bytes, kBlockBytes, [&](const PacketRing::Frame& frame) {
                const size_t at = static_cast<size_t>(frame.data - block.bytes);
                EXPECT_LE(at + frame.length, kBlockBytes);
                EXPECT_EQ(reinterpret_cast<const uint8_t*>(frame.header) + frame.header->tp_mac,
                          frame.data);
                // The frame's own bytes: slot i is filled with i + 1.
                if (frame.length > 0) {
                    EXPECT_EQ(frame.data[0], lengths.size() + 1);
                }
                lengths.push_back(frame.length);
                return true;
            });
        EXPECT_EQ(lengths, test.lengths);
        EXPECT_EQ(visited, test.lengths.size());
    }
}

TEST(PacketRing, AVisitorEndsTheWalkAndTheRoomBeforeAFrameIsItsHeadroom) {
    Block block(3, kFirst, {{kMac + 4, 60, 256}, {kMac, 100, 256}, {kMac, 1, 0}});
    std::vector<uint32_t> headroom;
    EXPECT_EQ(PacketRing::Walk(block.bytes, kBlockBytes,
                               [&](const PacketRing::Frame& frame) {
                                   headroom.push_back(frame.headroom);
                                   return headroom.size() < 2;
                               }),
              2u);
    const uint32_t slotHeader = TPACKET_ALIGN(sizeof(tpacket3_hdr)) + sizeof(sockaddr_ll);
    EXPECT_EQ(headroom, (std::vector<uint32_t>{kMac + 4 - slotHeader, kMac - slotHeader}));
}

}  // namespace
