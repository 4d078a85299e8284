// A TPACKET_V3 memory-mapped receive ring on a packet socket, shared by the raw-socket driver and
// the Network Monitor provider. The kernel fills the ring's blocks in turn and hands each over
// once it is full or its retire time has passed; the reader walks a handed-over block frame by
// frame, straight from the mapping, and gives it back. Also what both need around the ring: a
// wait that clears the socket's error (a link that went down leaves one, and poll would report
// it for ever), the test whether the bound interface still exists, and the kernel's counts.
#pragma once

#include <linux/if_packet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

class PacketRing {
public:
    struct Shape {
        uint32_t blockBytes;  // a power of two, a multiple of the page size
        uint32_t blockCount;
        uint32_t retireMs;    // a block not yet full is handed over after this long
        uint32_t reserve;     // room kept free in front of every frame (PACKET_RESERVE)
    };

    // One frame of a block, as the walk hands it on.
    struct Frame {
        uint8_t* data;               // link header first on a raw socket, the datagram on a cooked one
        uint32_t length;             // bytes captured, all inside the block
        uint32_t headroom;           // bytes in front of data that belong to this frame's slot
        const tpacket3_hdr* header;  // status, time stamp, VLAN tag
        const sockaddr_ll* link;     // protocol, packet type, interface
    };

    PacketRing() = default;
    ~PacketRing() { Unmap(); }
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    // Asks the kernel to stamp every frame once, as the interface receives it, while the socket
    // lives. Without a socket that asks, each capturing socket reads the clock when its own turn
    // comes, and two capturers of one frame disagree by up to milliseconds on a busy machine.
    static void StampOnArrival(int fd);

    // Sets the socket up for the ring (frames stamped on arrival) and maps it; 0, or the errno of the step that failed.
    int Map(int fd, const Shape& shape);
    void Unmap();
    bool Mapped() const { return base_ != nullptr; }
    uint32_t BlockBytes() const { return blockBytes_; }

    // The block next in ring order when the kernel has handed it over, else null.
    uint8_t* ReadyBlock() const;
    // Gives the block ReadyBlock returned back to the kernel and moves on to the next.
    void ReleaseBlock();

    // What a wait ended with. A socket error (the link went down, the interface went away) has
    // been read, which clears it.
    struct Wait {
        bool ready = false;    // a block is there
        bool woken = false;    // the wake descriptor was signalled
        int socketError = 0;   // the error the socket held, 0 for none
    };
    // Waits until a block is there, the wake descriptor (-1: none) is signalled, the socket
    // reports an error, or timeoutMs (-1: no limit) have passed.
    Wait WaitForBlock(int fd, int wakeFd, int timeoutMs) const;

    // True when the interface the socket was bound to (index ifindex) no longer exists: the
    // kernel unbinds a packet socket from an interface that is unregistered.
    static bool InterfaceGone(int fd, int ifindex);

    // Adds the kernel's counts since the last call: frames that reached the ring (the dropped
    // ones included) and frames dropped because the ring was full. False when they cannot be read.
    static bool TakeCounts(int fd, uint64_t& received, uint64_t& dropped);

    // Calls visit(const Frame&) for each frame of the block in order, until it returns false.
    // Nothing outside the block's blockBytes is read or handed on, whatever its headers say: a
    // frame that does not lie wholly inside ends the walk. Returns the number of frames visited.
    template <class Visit>
    static uint32_t Walk(uint8_t* block, uint32_t blockBytes, Visit&& visit);

private:
    uint8_t* base_ = nullptr;
    size_t mappedBytes_ = 0;
    uint32_t blockBytes_ = 0, blockCount_ = 0;
    uint32_t next_ = 0;
};

template <class Visit>
uint32_t PacketRing::Walk(uint8_t* block, uint32_t blockBytes, Visit&& visit) {
    constexpr uint32_t kLinkAt = TPACKET_ALIGN(sizeof(tpacket3_hdr));
    constexpr uint32_t kSlotHeader = kLinkAt + sizeof(sockaddr_ll);
    // How far ahead of the walk the block's lines are asked for: the frames were written by the
    // processor that received them, and each header gives the place of the next, so a plain walk
    // waits for every header in turn. The visitor then finds the frame in the cache as well.
    constexpr uint32_t kPrefetchBytes = 2048;
    if (blockBytes < sizeof(tpacket_block_desc)) return 0;
    const auto* descriptor = reinterpret_cast<const tpacket_block_desc*>(block);
    const uint32_t count = descriptor->hdr.bh1.num_pkts;
    const uint32_t used = std::min(descriptor->hdr.bh1.blk_len, blockBytes);
    uint32_t offset = descriptor->hdr.bh1.offset_to_first_pkt;
    uint32_t fetched = offset & ~63u;
    uint32_t visited = 0;
    while (visited < count) {
        if (offset < sizeof(tpacket_block_desc) || offset > blockBytes ||
            blockBytes - offset < kSlotHeader) {
            break;
        }
        for (const uint32_t ahead = std::min(offset + kPrefetchBytes, used); fetched < ahead;
             fetched += 64) {
            __builtin_prefetch(block + fetched);
        }
        auto* header = reinterpret_cast<tpacket3_hdr*>(block + offset);
        const uint32_t room = blockBytes - offset;
        const uint32_t mac = header->tp_mac;
        const uint32_t length = header->tp_snaplen;
        if (mac < kSlotHeader || mac > room || length > room - mac) break;
        const Frame frame{block + offset + mac, length, mac - kSlotHeader, header,
                          reinterpret_cast<const sockaddr_ll*>(block + offset + kLinkAt)};
        ++visited;
        if (!visit(frame)) break;
        const uint32_t step = header->tp_next_offset;
        if (step == 0 || step > room) break;
        offset += step;
    }
    return visited;
}
