// The records the Network Monitor driver and its packet provider (libnpptools.so, built from
// drivers/provider/) exchange: blob handles and the blob table, the network information record,
// the real-time capture object's table of operations, and the frames callback record with its
// frame table. Both sides compile against this one header. Pointers are native; the byte offsets
// of the callback record and the frame table are fixed and checked below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/Bytes.h"

// A network description; opaque to the driver, owned by the provider.
struct NetMonBlobData;
using NetMonBlob = NetMonBlobData*;

// Every provider call returns a status; the low 16 bits are 0 on success. A system error keeps
// errno in the high 16 bits.
enum NetMonStatus : uint32_t {
    kNetMonOk = 0,
    kNetMonBadArgument = 1,
    kNetMonNoInterface = 2,     // unknown interface identifier
    kNetMonNotConnected = 3,
    kNetMonAlreadyConnected = 4,
    kNetMonSystemError = 5,     // | errno << 16
    kNetMonCancelled = 6,       // the selection dialog was cancelled
    kNetMonNoDisplay = 7,       // no application object to show a dialog in
    kNetMonNotRunning = 8,
    kNetMonNotImplemented = 9,
    kNetMonNoNetwork = 10,      // the network's interface no longer exists
};

// The blob table: a 32-bit count, then that many handles from offset 8.
struct NetMonBlobTable {
    uint32_t count;
    uint32_t reserved;
};
inline NetMonBlob NetMonBlobAt(const NetMonBlobTable* table, uint32_t i) {
    return reinterpret_cast<const NetMonBlob*>(reinterpret_cast<const uint8_t*>(table) + 8)[i];
}

// What the provider tells about one network; the hardware address comes first.
struct NetMonNetworkInfo {
    uint8_t hardwareAddress[6];
    uint16_t reserved;
    uint32_t interfaceIndex;
    uint32_t flags;  // IFF_* of the interface when the table was made
    char name[16];
};

// The frames callback record (556 bytes, no alignment gaps) and its frame table.
#pragma pack(push, 1)
struct NetMonFrameEntry {  // 30 bytes
    const uint8_t* data;
    int64_t timeStamp;   // when the kernel received the frame: real-time nanoseconds since 1970
    uint32_t byteCount;
    uint8_t reserved2[10];
};
struct NetMonFrameTable {  // entries follow from offset 16, by absolute index
    uint32_t reserved;
    uint32_t firstIndex;
    uint32_t lastIndex;
    uint32_t frameCount;
};
struct NetMonFramesRecord {
    uint16_t eventCode;  // 2: frames; 4: the capture ended by itself
    uint32_t status;     // with event 4: why, a status as the calls return it
    uint8_t reserved1[16];
    void* context;       // the user context given to Connect
    uint8_t reserved2[4];
    const NetMonFrameTable* frameTable;
    uint8_t reserved3[514];
};
#pragma pack(pop)
static_assert(sizeof(NetMonFrameEntry) == 30 && offsetof(NetMonFrameEntry, timeStamp) == 8 &&
              offsetof(NetMonFrameEntry, byteCount) == 16);
static_assert(sizeof(NetMonFrameTable) == 16);
static_assert(sizeof(NetMonFramesRecord) == 556 && offsetof(NetMonFramesRecord, context) == 22 &&
              offsetof(NetMonFramesRecord, frameTable) == 34);

inline constexpr uint16_t kNetMonFramesEvent = 2;
// The delivery thread has ended without being asked to (the interface was deleted): no frames
// follow. The record has no frame table; its status says why (kNetMonNoNetwork: the interface is
// gone; a system error otherwise). Sent once, after the last batch.
inline constexpr uint16_t kNetMonEndedEvent = 4;
inline constexpr size_t kNetMonFrameTableEntries = 16;

// Entry i of a frame table lies at 16 + 30 * i, whatever the table's first index.
inline const NetMonFrameEntry* NetMonFrameAt(const NetMonFrameTable* table, uint32_t i) {
    return reinterpret_cast<const NetMonFrameEntry*>(reinterpret_cast<const uint8_t*>(table) +
                                                     kNetMonFrameTableEntries) + i;
}

using NetMonFramesProc = uint32_t (*)(NetMonFramesRecord record);
using NetMonStatusProc = uint32_t (*)(void* context, uint32_t status);

// Counts of a capture object since it was connected.
struct NetMonStatistics {
    uint64_t received;   // frames the kernel passed to the ring
    uint64_t dropped;    // frames the kernel dropped because the ring was full
    uint64_t batches;    // callbacks made
    uint64_t delivered;  // frames in those callbacks
    uint32_t largestBatch;
};

struct NetMonGuid {
    uint32_t data1;
    uint16_t data2, data3;
    uint8_t data4[8];
};
// A hardware address as six two-digit lowercase hexadecimal numbers joined by "-", the form the
// driver stores and the provider's dialog shows.
inline constexpr size_t kNetMonAddressText = 18;  // with the terminating zero
inline void NetMonFormatAddress(const uint8_t address[6], char out[kNetMonAddressText]) {
    char* at = out;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) *at++ = '-';
        at = bytes::PutHexByte(at, address[i]);
    }
    *at = '\0';
}

// The real-time capture interface.
inline constexpr NetMonGuid kIID_IRTC = {0x4811EA40, 0xB582, 0x11CE,
                                         {0xB5, 0xAF, 0x00, 0xAA, 0x00, 0x6C, 0xB3, 0x7D}};

// The capture object. The driver calls it by slot, so the order of the virtual operations is
// part of the contract; there is no virtual destructor (it would take slots): Release ends it.
class IRTC {
public:
    virtual uint32_t QueryInterface(const NetMonGuid* iid, void** object) = 0;     // 0
    virtual uint32_t AddRef() = 0;                                                // 1
    virtual uint32_t Release() = 0;                                               // 2
    virtual uint32_t Connect(NetMonBlob network, NetMonStatusProc status, NetMonFramesProc frames,
                             void* context, NetMonBlob errorBlob) = 0;            // 3
    virtual uint32_t Disconnect() = 0;                                            // 4
    virtual uint32_t QueryStatistics(NetMonStatistics* out) = 0;                  // 5
    // The kernel filter the next Connect attaches before any frame arrives: a program as text,
    // "count,code jt jf k,..." (tcpdump -ddd); null or "0" for none. kNetMonBadArgument for text
    // that is no such program.
    virtual uint32_t SetKernelFilter(const char* program) = 0;                     // 6
    virtual uint32_t Start() = 0;                                                 // 7
    virtual uint32_t Pause() = 0;                                                 // 8
    virtual uint32_t Resume() = 0;                                                // 9
    virtual uint32_t Stop() = 0;                                                  // 10
    virtual uint32_t GetControlState(int32_t* running, int32_t* paused) = 0;      // 11
    virtual uint32_t Unused12() = 0;                                              // 12
    virtual uint32_t Unused13() = 0;                                              // 13
    virtual uint32_t InsertSpecialFrame(uint32_t frameType, uint32_t flags, const uint8_t* bytes,
                                        uint32_t length) = 0;                     // 14

protected:
    ~IRTC() = default;
};

// The frame type InsertSpecialFrame transmits as given.
inline constexpr uint32_t kNetMonTransmitFrame = 1536;

// The provider's entry points, bound by name; the last is optional.
extern "C" {
using CreateNPPInterfaceProc = uint32_t (*)(NetMonBlob network, const NetMonGuid* iid,
                                            void** object);
using CreateBlobProc = uint32_t (*)(NetMonBlob* blob);
using DestroyBlobProc = uint32_t (*)(NetMonBlob blob);
using GetNPPBlobFromUIProc = uint32_t (*)(void* ownerWindow, NetMonBlob filter, NetMonBlob* blob);
using GetNPPBlobTableProc = uint32_t (*)(NetMonBlob filter, NetMonBlobTable** table);
using GetNetworkInfoFromBlobProc = uint32_t (*)(NetMonBlob blob, NetMonNetworkInfo* info);
// A text a blob holds: with tag "Error", the reason the last call given the blob as its error
// blob failed for, in one line (owner and category are not used). Valid until the blob's next
// use.
using GetStringFromBlobProc = uint32_t (*)(NetMonBlob blob, const char* owner,
                                           const char* category, const char* tag,
                                           const char** text);
}
