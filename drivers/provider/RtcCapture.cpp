#include "drivers/provider/RtcCapture.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "drivers/CaptureFilter.h"
#include "drivers/CaptureRightsClient.h"
#include "drivers/provider/Networks.h"
#include "framework/Bytes.h"

namespace npp {

namespace {

// 32 blocks of 128 KiB. A block is handed over once full (or 10 ms after its first frame, which
// bounds the delay on a quiet link), so a burst of 65,536 frames costs about 50 wake-ups. The ring
// is kept at 4 MiB because the kernel writes its blocks in turn, and a small ring stays in the
// cache between rounds: with 16 MiB every frame was fetched from memory, and storing a burst cost
// a quarter more. Many blocks matter on a slow link: each holds what 10 ms brought, so 4 blocks
// of 1 MiB lost frames at 200 a second when the reader waited 40 ms for a processor; 32 blocks
// wait 320 ms. Room is kept in front of every frame for the VLAN tag the kernel takes out (see
// DeliverBlock).
constexpr uint32_t kVlanTagBytes = 4;
constexpr PacketRing::Shape kRing{1u << 17, 32, 10, kVlanTagBytes};
// How often a quiet delivery thread looks whether its interface still exists.
constexpr int kCheckMs = 250;
// The smallest room a frame takes in a block: its header, the link address and alignment.
constexpr uint32_t kSmallestSlot = TPACKET_ALIGN(TPACKET3_HDRLEN);

uint32_t Fail(int error) { return SystemError(error); }

// Every packet socket of the provider is made here, the only step that needs the capture right:
// by this process when it holds the right, else by the capture helper. Bound to the interface
// with protocol 0, so that it receives nothing until it is bound again with its ring in place;
// the ring, that bind and the membership need only the socket. -1 with the reason in `error`.
int OpenPacketSocket(const NetMonNetworkInfo& network, bool forSending, std::string& error) {
    const std::string name(network.name, strnlen(network.name, sizeof network.name));
    return forSending ? CaptureRights::OpenSendSocket(name.c_str(), error)
                      : CaptureRights::OpenPacketSocket(name.c_str(), SOCK_RAW, 0, error);
}

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
                             void* context, NetMonBlob errorBlob) {
    if (!network || !network->network || !frames) return kNetMonBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    if (socket_ >= 0) return kNetMonAlreadyConnected;
    const int ifindex = static_cast<int>(network->info.interfaceIndex);

    std::string why;
    socket_ = OpenPacketSocket(network_, false, why);
    if (socket_ < 0) {
        if (errorBlob && !errorBlob->network) errorBlob->error = why;
        return Fail(EPERM);
    }
    if (errorBlob && !errorBlob->network) errorBlob->error.clear();
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = ifindex;
    packet_mreq promiscuous{};
    promiscuous.mr_ifindex = ifindex;
    promiscuous.mr_type = PACKET_MR_PROMISC;
    // The filter goes on before the bind: no frame it refuses reaches the ring.
    int error = CaptureFilter::Attach(socket_, filter_);
    if (error == 0) error = ring_.Map(socket_, kRing);
    if (error == 0 &&
        (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
         setsockopt(socket_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous,
                    sizeof promiscuous) != 0 ||
         (wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0)) {
        error = errno;
    }
    if (error == 0) {
        try {
            table_.assign(sizeof(NetMonFrameTable) + static_cast<size_t>(kRing.blockBytes /
                                                                         kSmallestSlot) *
                                                         sizeof(NetMonFrameEntry),
                          0);
        } catch (const std::bad_alloc&) {
            error = ENOMEM;
        }
    }
    if (error != 0) {
        ring_.Unmap();
        if (wake_ >= 0) close(wake_);
        close(socket_);
        socket_ = wake_ = -1;
        return Fail(error);
    }
    frames_ = frames;
    context_ = context;
    statistics_ = {};
    return kNetMonOk;
}

void RtcCapture::CollectKernelCounts() {
    PacketRing::TakeCounts(socket_, statistics_.received, statistics_.dropped);
}

void RtcCapture::CloseRing() {
    if (socket_ < 0) return;
    CollectKernelCounts();
    ring_.Unmap();
    close(socket_);
    close(wake_);
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

uint32_t RtcCapture::SetKernelFilter(const char* program) {
    return npp::NoThrow([&] {
        std::vector<sock_filter> parsed;
        if (program && !CaptureFilter::ParseProgram(program, parsed)) return kNetMonBadArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        filter_ = std::move(parsed);
        return kNetMonOk;
    });
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
        std::string why;
        sendSocket_ = OpenPacketSocket(network_, true, why);
        if (sendSocket_ < 0) return Fail(EPERM);
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(network_.interfaceIndex);
    const ssize_t sent = sendto(sendSocket_, bytes, length, 0,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (sent < 0) return Fail(errno);
    return sent == static_cast<ssize_t>(length) ? kNetMonOk : Fail(EMSGSIZE);
}

bool RtcCapture::BeginDelivery() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !paused_ || stopping_; });
    if (stopping_) return false;
    delivering_ = true;
    return true;
}

void RtcCapture::EndDelivery() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delivering_ = false;
    }
    changed_.notify_all();
}

void RtcCapture::Deliver() {
    const int ifindex = static_cast<int>(network_.interfaceIndex);
    bool drained = false;
    for (;;) {
        uint8_t* block = ring_.ReadyBlock();
        if (!block) {
            // The wait is bounded so that a deleted interface is noticed on a quiet socket too:
            // the error a link going down leaves is read once and not repeated when the
            // interface is then unregistered.
            const PacketRing::Wait wait = ring_.WaitForBlock(socket_, wake_, kCheckMs);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) return;
            }
            if (!wait.ready && !wait.woken && PacketRing::InterfaceGone(socket_, ifindex)) {
                // What the kernel took before is handed over first: it retires its last
                // block, however full, within its retire time.
                if (!drained) {
                    drained = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kRing.retireMs));
                    continue;
                }
                if (!BeginDelivery()) return;
                NetMonFramesRecord record{};
                record.eventCode = kNetMonEndedEvent;
                record.status = kNetMonNoNetwork;
                record.context = context_;
                frames_(record);
                EndDelivery();
                return;
            }
            continue;
        }
        if (!BeginDelivery()) return;
        DeliverBlock(block);
        ring_.ReleaseBlock();
        EndDelivery();
    }
}

void RtcCapture::DeliverBlock(uint8_t* block) {
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

    PacketRing::Walk(block, ring_.BlockBytes(), [&](const PacketRing::Frame& frame) {
        const tpacket3_hdr* header = frame.header;
        uint8_t* data = frame.data;
        uint32_t length = frame.length;
        // The kernel hands a VLAN tag beside the frame; put it back between the addresses and
        // the type, in the room reserved in front of the frame, so the frame is as on the wire.
        const bool tagged =
            (header->tp_status & TP_STATUS_VLAN_VALID) || header->hv1.tp_vlan_tci != 0;
        if (tagged && length >= 12 && frame.headroom >= kVlanTagBytes) {
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
        entry.timeStamp = static_cast<int64_t>(header->tp_sec) * 1000000000 + header->tp_nsec;
        entry.byteCount = length;
        std::memcpy(table_.data() + sizeof(NetMonFrameTable) + filled * sizeof(NetMonFrameEntry),
                    &entry, sizeof entry);
        if (++filled == capacity) flush();
        return true;
    });
    flush();

    std::lock_guard<std::mutex> lock(mutex_);
    statistics_.batches += batches;
    statistics_.delivered += delivered;
    if (largest > statistics_.largestBatch) statistics_.largestBatch = largest;
}

}  // namespace npp
