#include "drivers/provider/RtcCapture.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "drivers/provider/Networks.h"
#include "framework/Bytes.h"

namespace npp {

namespace {

// 4 blocks of 1 MiB. A block is handed over once full (or after 10 ms, which bounds the delay on
// a quiet link), so large blocks mean few wake-ups: about 25 for a burst of 65,536 frames. The
// ring is kept small because the kernel writes its blocks in turn, and a small ring stays in the
// cache between rounds: with 16 MiB every frame was fetched from memory, and storing a burst cost
// a quarter more. Four blocks still hold about 40 ms of frames at line rate while the callback is
// busy.
constexpr uint32_t kBlockBytes = 1u << 20;
constexpr uint32_t kBlockCount = 4;
// How far ahead of the walk through a block its lines are asked for (see DeliverBlock).
constexpr uint32_t kPrefetchBytes = 2048;
constexpr uint32_t kFrameBytes = 2048;  // only for the kernel's checks of the ring's shape
constexpr uint32_t kRetireMs = 10;
// Room in front of every frame for the VLAN tag the kernel takes out (see DeliverBlock).
constexpr uint32_t kVlanTagBytes = 4;
// The smallest room a frame takes in a block: its header, the link address and alignment.
constexpr uint32_t kSmallestSlot = TPACKET_ALIGN(TPACKET3_HDRLEN);

uint32_t Fail(int error) { return SystemError(error); }

}  // namespace

RtcCapture::RtcCapture(const NetMonNetworkInfo& network) : network_(network) {}

RtcCapture::~RtcCapture() {
    Disconnect();
    if (sendSocket_ >= 0) close(sendSocket_);
}

uint32_t RtcCapture::QueryInterface(const NetMonGuid* iid, void** object) {
    if (!iid || !object) return kNetMonBadArgument;
    if (std::memcmp(iid, &kIID_IRTC, sizeof(NetMonGuid)) != 0) return kNetMonNoInterface;
    AddRef();
    *object = static_cast<IRTC*>(this);
    return kNetMonOk;
}

uint32_t RtcCapture::AddRef() { return ++references_; }

uint32_t RtcCapture::Release() {
    const uint32_t left = --references_;
    if (left == 0) delete this;
    return left;
}

uint32_t RtcCapture::Connect(NetMonBlob network, NetMonStatusProc, NetMonFramesProc frames,
                             void* context, NetMonBlob) {
    if (!network || !network->network || !frames) return kNetMonBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    if (socket_ >= 0) return kNetMonAlreadyConnected;
    const int ifindex = static_cast<int>(network->info.interfaceIndex);

    // Protocol 0 until bound: nothing from other interfaces enters the ring meanwhile.
    socket_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return Fail(errno);
    const int version = TPACKET_V3;
    const unsigned reserve = kVlanTagBytes;
    tpacket_req3 request{};
    request.tp_block_size = kBlockBytes;
    request.tp_block_nr = kBlockCount;
    request.tp_frame_size = kFrameBytes;
    request.tp_frame_nr = kBlockBytes / kFrameBytes * kBlockCount;
    request.tp_retire_blk_tov = kRetireMs;
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = ifindex;
    packet_mreq promiscuous{};
    promiscuous.mr_ifindex = ifindex;
    promiscuous.mr_type = PACKET_MR_PROMISC;
    void* ring = MAP_FAILED;
    const size_t ringBytes = static_cast<size_t>(kBlockBytes) * kBlockCount;
    if (setsockopt(socket_, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0 ||
        setsockopt(socket_, SOL_PACKET, PACKET_RESERVE, &reserve, sizeof reserve) != 0 ||
        setsockopt(socket_, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0 ||
        (ring = mmap(nullptr, ringBytes, PROT_READ | PROT_WRITE, MAP_SHARED, socket_, 0)) ==
            MAP_FAILED ||
        bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        setsockopt(socket_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous,
                   sizeof promiscuous) != 0 ||
        (wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
        const int error = errno;
        if (ring != MAP_FAILED) munmap(ring, ringBytes);
        if (wake_ >= 0) close(wake_);
        close(socket_);
        socket_ = wake_ = -1;
        return Fail(error);
    }
    try {
        table_.assign(sizeof(NetMonFrameTable) +
                          static_cast<size_t>(kBlockBytes / kSmallestSlot) * sizeof(NetMonFrameEntry),
                      0);
    } catch (const std::bad_alloc&) {
        munmap(ring, ringBytes);
        close(wake_);
        close(socket_);
        socket_ = wake_ = -1;
        return Fail(ENOMEM);
    }
    ring_ = static_cast<uint8_t*>(ring);
    ringBytes_ = ringBytes;
    blockBytes_ = kBlockBytes;
    blockCount_ = kBlockCount;
    nextBlock_ = 0;
    frames_ = frames;
    context_ = context;
    statistics_ = {};
    return kNetMonOk;
}

void RtcCapture::CollectKernelCounts() {
    tpacket_stats_v3 counts{};
    socklen_t size = sizeof counts;
    // Each read hands over the counts since the last one; tp_packets includes the drops.
    if (socket_ >= 0 && getsockopt(socket_, SOL_PACKET, PACKET_STATISTICS, &counts, &size) == 0) {
        statistics_.received += counts.tp_packets;
        statistics_.dropped += counts.tp_drops;
    }
}

void RtcCapture::CloseRing() {
    if (socket_ < 0) return;
    CollectKernelCounts();
    munmap(ring_, ringBytes_);
    close(socket_);
    close(wake_);
    ring_ = nullptr;
    socket_ = wake_ = -1;
}

uint32_t RtcCapture::Disconnect() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (running_) {
        if (std::this_thread::get_id() == thread_.get_id()) return kNetMonBadArgument;
        StopThread(lock);
    }
    if (socket_ < 0) return kNetMonNotConnected;
    CloseRing();
    return kNetMonOk;
}

uint32_t RtcCapture::QueryStatistics(NetMonStatistics* out) {
    if (!out) return kNetMonBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    CollectKernelCounts();
    *out = statistics_;
    return kNetMonOk;
}

uint32_t RtcCapture::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (socket_ < 0) return kNetMonNotConnected;
    if (running_) return kNetMonOk;
    uint64_t pending;
    while (read(wake_, &pending, sizeof pending) == sizeof pending) {
    }
    paused_ = stopping_ = delivering_ = false;
    try {
        thread_ = std::thread(&RtcCapture::Deliver, this);
    } catch (const std::system_error& error) {
        return Fail(error.code().value());
    }
    running_ = true;
    return kNetMonOk;
}

uint32_t RtcCapture::Pause() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_) return kNetMonNotRunning;
    paused_ = true;
    // When Pause returns no batch is being delivered and none starts until Resume (the
    // delivery thread itself cannot wait for its own batch).
    if (std::this_thread::get_id() != thread_.get_id()) {
        changed_.wait(lock, [this] { return !delivering_; });
    }
    return kNetMonOk;
}

uint32_t RtcCapture::Resume() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return kNetMonNotRunning;
        paused_ = false;
    }
    changed_.notify_all();
    return kNetMonOk;
}

uint32_t RtcCapture::Stop() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_) return kNetMonOk;
    if (std::this_thread::get_id() == thread_.get_id()) return kNetMonBadArgument;
    StopThread(lock);
    return kNetMonOk;
}

void RtcCapture::StopThread(std::unique_lock<std::mutex>& lock) {
    stopping_ = true;
    lock.unlock();
    changed_.notify_all();
    const uint64_t one = 1;
    ssize_t written = write(wake_, &one, sizeof one);
    (void)written;
    thread_.join();
    lock.lock();
    running_ = paused_ = stopping_ = false;
}

uint32_t RtcCapture::GetControlState(int32_t* running, int32_t* paused) {
    if (!running || !paused) return kNetMonBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    *running = running_ ? 1 : 0;
    *paused = running_ && paused_ ? 1 : 0;
    return kNetMonOk;
}

uint32_t RtcCapture::InsertSpecialFrame(uint32_t frameType, uint32_t, const uint8_t* bytes,
                                        uint32_t length) {
    if (frameType != kNetMonTransmitFrame || !bytes || length == 0) return kNetMonBadArgument;
    std::lock_guard<std::mutex> lock(sendMutex_);
    // A socket of its own that receives nothing, so sending never competes with the ring.
    if (sendSocket_ < 0) {
        sendSocket_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
        if (sendSocket_ < 0) return Fail(errno);
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(network_.interfaceIndex);
    const ssize_t sent = sendto(sendSocket_, bytes, length, 0,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (sent < 0) return Fail(errno);
    return sent == static_cast<ssize_t>(length) ? kNetMonOk : Fail(EMSGSIZE);
}

void RtcCapture::Deliver() {
    for (;;) {
        uint8_t* block = ring_ + static_cast<size_t>(nextBlock_) * blockBytes_;
        auto* descriptor = reinterpret_cast<tpacket_block_desc*>(block);
        const uint32_t status =
            __atomic_load_n(&descriptor->hdr.bh1.block_status, __ATOMIC_ACQUIRE);
        if (!(status & TP_STATUS_USER)) {
            pollfd wait[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
            poll(wait, 2, -1);
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            continue;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !paused_ || stopping_; });
            if (stopping_) return;
            delivering_ = true;
        }
        DeliverBlock(block);
        __atomic_store_n(&descriptor->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        nextBlock_ = (nextBlock_ + 1) % blockCount_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delivering_ = false;
        }
        changed_.notify_all();
    }
}

void RtcCapture::DeliverBlock(uint8_t* block) {
    const auto* descriptor = reinterpret_cast<const tpacket_block_desc*>(block);
    const uint32_t count = descriptor->hdr.bh1.num_pkts;
    uint32_t offset = descriptor->hdr.bh1.offset_to_first_pkt;
    auto* table = reinterpret_cast<NetMonFrameTable*>(table_.data());
    const uint32_t capacity =
        static_cast<uint32_t>((table_.size() - sizeof(NetMonFrameTable)) / sizeof(NetMonFrameEntry));
    uint32_t filled = 0;
    uint64_t batches = 0, delivered = 0;
    uint32_t largest = 0;

    auto flush = [&] {
        if (filled == 0) return;
        *table = NetMonFrameTable{0, 0, filled - 1, filled};
        NetMonFramesRecord record{};
        record.eventCode = kNetMonFramesEvent;
        record.context = context_;
        record.frameTable = table;
        frames_(record);
        ++batches;
        delivered += filled;
        if (filled > largest) largest = filled;
        filled = 0;
    };

    // The frames were written by the processor that received them, and each header gives the
    // place of the next, so a plain walk waits for every header in turn. The block's lines are
    // asked for a little ahead of the walk instead; the callback then finds the frames in the
    // cache as well.
    const uint32_t used = std::min(descriptor->hdr.bh1.blk_len, blockBytes_);
    uint32_t fetched = offset & ~63u;
    for (uint32_t k = 0; k < count; ++k) {
        for (const uint32_t ahead = std::min(offset + kPrefetchBytes, used); fetched < ahead;
             fetched += 64) {
            __builtin_prefetch(block + fetched);
        }
        // The kernel lays the block out; still, nothing is read outside it.
        if (offset < sizeof(tpacket_block_desc) || offset > blockBytes_ - sizeof(tpacket3_hdr)) {
            break;
        }
        auto* header = reinterpret_cast<tpacket3_hdr*>(block + offset);
        const uint32_t mac = header->tp_mac;
        uint32_t length = header->tp_snaplen;
        if (mac > blockBytes_ - offset || length > blockBytes_ - offset - mac) break;
        uint8_t* data = block + offset + mac;
        // The kernel hands a VLAN tag beside the frame; put it back between the addresses and
        // the type, in the room reserved in front of the frame, so the frame is as on the wire.
        const bool tagged =
            (header->tp_status & TP_STATUS_VLAN_VALID) || header->hv1.tp_vlan_tci != 0;
        if (tagged && length >= 12 && mac >= TPACKET3_HDRLEN + kVlanTagBytes) {
            const uint16_t tpid = (header->tp_status & TP_STATUS_VLAN_TPID_VALID)
                                      ? static_cast<uint16_t>(header->hv1.tp_vlan_tpid)
                                      : static_cast<uint16_t>(ETH_P_8021Q);
            std::memmove(data - kVlanTagBytes, data, 12);
            data -= kVlanTagBytes;
            bytes::StoreBe16(data + 12, tpid);
            bytes::StoreBe16(data + 14, static_cast<uint16_t>(header->hv1.tp_vlan_tci));
            length += kVlanTagBytes;
        }
        NetMonFrameEntry entry{};
        entry.data = data;
        entry.byteCount = length;
        std::memcpy(table_.data() + sizeof(NetMonFrameTable) + filled * sizeof(NetMonFrameEntry),
                    &entry, sizeof entry);
        if (++filled == capacity) flush();
        if (header->tp_next_offset == 0) break;
        offset += header->tp_next_offset;
    }
    flush();

    std::lock_guard<std::mutex> lock(mutex_);
    statistics_.batches += batches;
    statistics_.delivered += delivered;
    if (largest > statistics_.largestBatch) statistics_.largestBatch = largest;
}

}  // namespace npp
