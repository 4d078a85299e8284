// The provider's real-time capture object: a packet socket bound to one interface with a
// TPACKET_V3 memory-mapped receive ring. The kernel fills ring blocks; the delivery thread hands
// each retired block to the frames callback as one batch, straight from the ring, and gives the
// block back. Pausing keeps the thread and the ring's place: frames that arrive meanwhile wait
// in the ring (as far as it holds them) and are delivered after Resume. A link that goes down
// and up again only pauses the flow; an interface that is deleted ends the delivery thread,
// after it has told the callback (kNetMonEndedEvent).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <linux/filter.h>

#include "drivers/NetMonRecords.h"
#include "drivers/PacketRing.h"

namespace npp {

class RtcCapture final : public IRTC {
public:
    explicit RtcCapture(const NetMonNetworkInfo& network);

    uint32_t QueryInterface(const NetMonGuid* iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    uint32_t Connect(NetMonBlob network, NetMonStatusProc status, NetMonFramesProc frames,
                     void* context, NetMonBlob errorBlob) override;
    uint32_t Disconnect() override;
    uint32_t QueryStatistics(NetMonStatistics* out) override;
    uint32_t SetKernelFilter(const char* program) override;
    uint32_t Start() override;
    uint32_t Pause() override;
    uint32_t Resume() override;
    uint32_t Stop() override;
    uint32_t GetControlState(int32_t* running, int32_t* paused) override;
    uint32_t Unused12() override { return kNetMonNotImplemented; }
    uint32_t Unused13() override { return kNetMonNotImplemented; }
    uint32_t InsertSpecialFrame(uint32_t frameType, uint32_t flags, const uint8_t* bytes,
                                uint32_t length) override;

private:
    ~RtcCapture();
    void Deliver();
    // Hands the frames of one retired block to the callback.
    void DeliverBlock(uint8_t* block);
    // Waits while paused; false when stopping instead. Marks the delivery as under way.
    bool BeginDelivery();
    void EndDelivery();
    void StopThread(std::unique_lock<std::mutex>& lock);
    void CloseRing();
    void CollectKernelCounts();

    const NetMonNetworkInfo network_;
    std::atomic<uint32_t> references_{1};

    // Everything below is guarded by mutex_, except what the delivery thread owns while it
    // runs (the ring walk and the frame table).
    std::mutex mutex_;
    std::condition_variable changed_;
    int socket_ = -1;
    int wake_ = -1;  // eventfd that ends the delivery thread's wait
    PacketRing ring_;  // keeps its place across Pause and Stop
    NetMonFramesProc frames_ = nullptr;
    void* context_ = nullptr;
    std::thread thread_;
    bool running_ = false, paused_ = false, stopping_ = false, delivering_ = false;
    NetMonStatistics statistics_{};
    std::vector<uint8_t> table_;  // the frame table, sized once for the fullest block
    std::vector<sock_filter> filter_;  // attached at Connect; empty: none

    std::mutex sendMutex_;
    int sendSocket_ = -1;
};

}  // namespace npp
