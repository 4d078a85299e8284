#include "drivers/PacketRing.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

// Only for the kernel's checks of the ring's shape: TPACKET_V3 lays frames out by their size.
constexpr uint32_t kFrameBytes = 2048;

}  // namespace

void PacketRing::StampOnArrival(int fd) {
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);  // best effort: times stay usable
}

int PacketRing::Map(int fd, const Shape& shape) {
    Unmap();
    const int version = TPACKET_V3;
    tpacket_req3 request{};
    request.tp_block_size = shape.blockBytes;
    request.tp_block_nr = shape.blockCount;
    request.tp_frame_size = kFrameBytes;
    request.tp_frame_nr = shape.blockBytes / kFrameBytes * shape.blockCount;
    request.tp_retire_blk_tov = shape.retireMs;
    StampOnArrival(fd);
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0 ||
        (shape.reserve != 0 &&
         setsockopt(fd, SOL_PACKET, PACKET_RESERVE, &shape.reserve, sizeof shape.reserve) != 0) ||
        setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) {
        return errno;
    }
    const size_t bytes = static_cast<size_t>(shape.blockBytes) * shape.blockCount;
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return errno;
    base_ = static_cast<uint8_t*>(mapped);
    mappedBytes_ = bytes;
    blockBytes_ = shape.blockBytes;
    blockCount_ = shape.blockCount;
    next_ = 0;
    return 0;
}

void PacketRing::Unmap() {
    if (!base_) return;
    munmap(base_, mappedBytes_);
    base_ = nullptr;
    mappedBytes_ = 0;
    blockBytes_ = blockCount_ = next_ = 0;
}

uint8_t* PacketRing::ReadyBlock() const {
    if (!base_) return nullptr;
    uint8_t* block = base_ + static_cast<size_t>(next_) * blockBytes_;
    auto* descriptor = reinterpret_cast<tpacket_block_desc*>(block);
    const uint32_t status = __atomic_load_n(&descriptor->hdr.bh1.block_status, __ATOMIC_ACQUIRE);
    return (status & TP_STATUS_USER) ? block : nullptr;
}

void PacketRing::ReleaseBlock() {
    if (!base_) return;
    auto* descriptor =
        reinterpret_cast<tpacket_block_desc*>(base_ + static_cast<size_t>(next_) * blockBytes_);
    __atomic_store_n(&descriptor->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    next_ = (next_ + 1) % blockCount_;
}

PacketRing::Wait PacketRing::WaitForBlock(int fd, int wakeFd, int timeoutMs) const {
    Wait result;
    if (ReadyBlock()) {
        result.ready = true;
        return result;
    }
    pollfd waits[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(waits, wakeFd >= 0 ? 2 : 1, timeoutMs) > 0) {
        result.woken = wakeFd >= 0 && (waits[1].revents & POLLIN) != 0;
        if (waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // Reading the error clears it; without that, every later poll ends at once.
            int error = 0;
            socklen_t size = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
            result.socketError = error != 0 ? error : EIO;
        }
    }
    result.ready = ReadyBlock() != nullptr;
    return result;
}

bool PacketRing::InterfaceGone(int fd, int ifindex) {
    sockaddr_ll bound{};
    socklen_t size = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return errno == EBADF;
    return bound.sll_ifindex != ifindex;
}

bool PacketRing::TakeCounts(int fd, uint64_t& received, uint64_t& dropped) {
    // Each read hands over the counts since the previous one.
    tpacket_stats_v3 counts{};
    socklen_t size = sizeof counts;
    if (fd < 0 || getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &counts, &size) != 0) return false;
    received += counts.tp_packets;
    dropped += counts.tp_drops;
    return true;
}
