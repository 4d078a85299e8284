#include "capture/PacketStore.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "capture/CaptureFilters.h"
#include "capture/FramePool.h"
#include "decode/FrameSummary.h"
#include "decode/Names.h"
#include "framework/ErrorLog.h"
#include "framework/Tick.h"

namespace {

std::atomic<ArrivalView*> arrivalView{nullptr};

// The bytes of the stored frames. Never destroyed, like the store (see GetPacketStore).
FramePool& FrameStore() {
    static FramePool& pool = *new FramePool;
    return pool;
}

// The count pane's text, "  <index> / <limit>" with the status bar's two blanks, put together
// without printf or a string: it changes with every frame. The part after the index is the same
// for every frame of a store, so it is written once.
void CountText(uint32_t index, int32_t limit, char (&text)[32]) {
    struct Tail {
        int32_t limit = -1;
        char text[16] = {};
        size_t length = 0;
    };
    static thread_local Tail tail;
    if (tail.limit != limit) {
        tail.limit = limit;
        char* end = tail.text;
        *end++ = ' ';
        *end++ = '/';
        *end++ = ' ';
        end = std::to_chars(end, tail.text + sizeof tail.text - 1, limit).ptr;
        *end = '\0';
        tail.length = static_cast<size_t>(end - tail.text) + 1;
    }
    text[0] = text[1] = ' ';
    char* end = std::to_chars(text + 2, text + 14, index).ptr;
    std::memcpy(end, tail.text, tail.length);
}

}  // namespace

// Never destroyed: the capture thread and the drivers' threads may still deliver while the
// process ends, and the kernel gives the memory back at exit at no cost, where destroying 65,536
// records first took longer than ending tcpdump does.
PacketStore& GetPacketStore() {
    static PacketStore& store = *new PacketStore;
    return store;
}

void SetArrivalView(ArrivalView* view) { arrivalView.store(view, std::memory_order_release); }

int ShowStatus(const char* text, int pane) {
    ArrivalView* view = arrivalView.load(std::memory_order_acquire);
    if (!view) return 1;
    str line("  ");
    line += text;
    view->SetStatusText(pane, line.c_str());
    return 1;
}

int IsCapturing() { return GetPacketStore().captureWanted.load(std::memory_order_acquire); }

int StartCapture() {
    PacketStore& store = GetPacketStore();
    uint32_t unset = 0;
    store.startTick.compare_exchange_strong(unset, TickCount(), std::memory_order_acq_rel);
    store.captureWanted.store(1, std::memory_order_release);
    return 1;
}

int StopCapture() {
    GetPacketStore().captureWanted.store(0, std::memory_order_release);
    return 1;
}

void WithdrawCapture() {
    if (GetPacketStore().captureWanted.exchange(0, std::memory_order_acq_rel) == 0) return;
    if (ArrivalView* view = arrivalView.load(std::memory_order_acquire)) view->CaptureWithdrawn();
}

bool AllocateStore() {
    PacketStore& store = GetPacketStore();
    if (!store.records) {
        size_t size = sizeof(PacketRecord) * PacketStore::kLimit;
        if (uint8_t* memory = AllocateInHugePages(size)) {
            auto* records = reinterpret_cast<PacketRecord*>(memory);
            std::uninitialized_default_construct_n(records, PacketStore::kLimit);
            store.records = records;
        }
    }
    return store.records != nullptr;
}

void ResetRecord(PacketRecord& record) {
    record.data.reset();
    record.index = 0;
    record.timeOffset = 0;
    record.frameType = 0;
    record.isIp = 0;
    record.protocol = 0;
    record.source.Clear();
    record.destination.Clear();
    record.sourcePort = 0;
    record.destinationPort = 0;
    record.length = 0;
}

void ClearStore() {
    PacketStore& store = GetPacketStore();
    const int32_t count = store.Count();
    for (int32_t i = 0; i < count; ++i) ResetRecord(store.records[i]);
    FrameStore().Clear();
    store.count.store(0, std::memory_order_release);
    store.startTick.store(0, std::memory_order_release);
}

void ReserveFrameSpace() {
    // A full store of 500-byte frames: the pages are zeroed by the kernel now, before the driver
    // starts, instead of while a burst waits in the kernel's ring. What is not used stays for the
    // next capture.
    constexpr size_t kReservedBytes = size_t{32} << 20;
    FrameStore().Reserve(kReservedBytes);
}

void ProtocolName(const PacketRecord& record, str& text) {
    text.Clear();
    if (record.isIp == 1) {
        IPProtocolName(record.protocol, text);
    } else {
        EthertypeName(record.protocol, text);
    }
}

int HandleArrival(const uint8_t* data, uint32_t length, int frameType, bool updateStatus,
                  const LoaderInfo* loader) {
    if (length - 40u > 65495u) {
        Report(nullptr, 0, "Packet too large or too small", 3);
        return 0;
    }
    PacketStore& store = GetPacketStore();
    const int32_t count = store.count.load(std::memory_order_relaxed);
    if (count >= store.limit) {
        // The reason is shown before the request falls, so whoever sees it fall finds it there.
        ShowStatus(kPacketLimitReached, 0);
        WithdrawCapture();
        return 0;
    }
    if (!store.records) {
        // The one-time allocation failed: there is nowhere to put the frame.
        Report(nullptr, 0, "Could not allocate space for packet.", 3);
        return 0;
    }

    PacketRecord& slot = store.records[count];
    if (loader && loader->hasIpFlag) slot.isIp = loader->isIp;

    const CaptureFilterSet& filters = GetCaptureFilterSet();
    SummariseFrame(data, length, frameType, slot,
                   store.rowsShown.load(std::memory_order_relaxed) || !filters.PassesAll());

    slot.index = static_cast<uint32_t>(count);
    slot.timeOffset = loader ? loader->timeOffset
                             : ArrivalTick::Now() - store.startTick.load(std::memory_order_acquire);

    slot.length = length;
    slot.data = FrameBytes(FrameStore().Take(length), FrameBytesDeleter{false});
    if (!slot.data) {
        Report(nullptr, 0, "Could not allocate space for packet.", 3);
        ResetRecord(slot);
        return 0;
    }
    std::memcpy(slot.data.get(), data, length);

    if (TestCaptureFilters(filters, slot) == 0) {
        FrameStore().GiveBack(slot.data.get(), length);
        ResetRecord(slot);
        return 1;
    }

    if (ArrivalView* view = arrivalView.load(std::memory_order_acquire)) {
        view->AddPacketRow(slot.index);
        if (updateStatus) {
            char text[32];
            CountText(slot.index, store.limit, text);
            view->SetStatusText(2, text);
        }
    }
    store.count.store(count + 1, std::memory_order_release);
    return 1;
}

void OnRawIpFrame(const uint8_t* data, uint32_t length) { HandleArrival(data, length, 1, true); }

void OnEthernetFrame(const uint8_t* data, uint32_t length) { HandleArrival(data, length, 2, true); }
