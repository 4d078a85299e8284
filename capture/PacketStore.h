// The in-memory packet store and the arrival handler through which every captured or loaded
// frame becomes a record.
//
// Sharing without a lock: one source writes records at a time; a record is complete (and its row
// announced) before `count` advances with a release store; readers use only records below
// `count` (acquire load), which never change until the store is cleared on the interface thread
// after the capture has been stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "decode/PacketRecord.h"
#include "framework/str.h"


struct PacketStore {
    static constexpr int32_t kLimit = 0x10000;

    PacketRecord* records = nullptr;  // allocated once, never freed (see GetPacketStore)
    std::atomic<int32_t> count{0};
    const int32_t limit = kLimit;
    std::atomic<uint32_t> startTick{0};
    std::atomic<int32_t> captureWanted{0};
    // False while nothing will show the records as rows (a capture without a window): arrivals
    // then fill only what a capture file keeps, unless quick filters need the row fields. The
    // addresses' texts were most of the cost of storing a frame.
    std::atomic<bool> rowsShown{true};

    // The record at index, for readers that hold an index below count.
    const PacketRecord& operator[](int32_t index) const { return records[index]; }
    int32_t Count() const { return count.load(std::memory_order_acquire); }
};

PacketStore& GetPacketStore();

// What the arrival handler needs of the main window. The window implements it; headless modes
// and tests supply their own. Calls may come from any thread and must return at once.
class ArrivalView {
public:
    virtual void AddPacketRow(uint32_t index) = 0;
    virtual void SetStatusText(int pane, const char* text) = 0;
    // The capture side has withdrawn the capture request (a failed start, a lost interface, the
    // packet limit), after putting the reason in pane 0. Any thread; returns at once.
    virtual void CaptureWithdrawn() {}

protected:
    ~ArrivalView() = default;
};

// Installs the view (null: none). Set while no frame is being delivered.
void SetArrivalView(ArrivalView* view);

// What a file loader hands over with a frame: its time from the file and, for the own format,
// the stored IP flag. Live captures pass none.
struct LoaderInfo {
    uint32_t timeOffset = 0;
    bool hasIpFlag = false;
    uint16_t isIp = 0;
};

int HandleArrival(const uint8_t* data, uint32_t length, int frameType, bool updateStatus,
                  const LoaderInfo* loader = nullptr);
void OnRawIpFrame(const uint8_t* data, uint32_t length);
void OnEthernetFrame(const uint8_t* data, uint32_t length);

int IsCapturing();
int StartCapture();
int StopCapture();
// The capture side's stop: the request falls and the view is told, once per fall. Whoever calls
// it has shown the reason first.
void WithdrawCapture();
// Allocates the store once; later calls keep it. Returns false when there are no slots.
bool AllocateStore();
void ClearStore();
// Called on the capture thread before a driver starts: frame memory made ready in advance.
void ReserveFrameSpace();
void ResetRecord(PacketRecord& record);
void ProtocolName(const PacketRecord& record, str& text);
int ShowStatus(const char* text, int pane);

// What pane 0 says when a frame finds the store full.
inline constexpr const char* kPacketLimitReached = "Packet capture stopped - packet limit reached.";
