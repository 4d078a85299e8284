// What the libpcap and pcapng writers share: the wall-clock origin of the stored time offsets.
#pragma once

#include <cstdint>
#include <ctime>

#include "capture/PacketStore.h"
#include "files/CaptureFile.h"
#include "framework/Tick.h"

namespace writer {

// The wall-clock time of time offset 0, in microseconds since 1970: the start of a live capture
// (its start tick is set), else the first frame of the file loaded when the file gave one, else 0.
inline uint64_t OriginMicroseconds() {
    const uint32_t startTick = GetPacketStore().startTick.load(std::memory_order_acquire);
    if (startTick != 0) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const uint64_t nowMicroseconds =
            static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
        const uint64_t since = static_cast<uint64_t>(TickCount() - startTick) * 1000;
        return nowMicroseconds > since ? nowMicroseconds - since : 0;
    }
    const LoadFindings& load = CurrentLoad();
    return load.originKnown ? load.originMicroseconds : 0;
}

// The record a writer reaches a few steps on, asked for now: the store was filled on another
// processor, and a writer walking it would otherwise wait for each record in turn.
inline void ReadAhead(const PacketStore& store, int32_t index) {
    constexpr int32_t kAhead = 8;
    if (index + kAhead < store.limit) __builtin_prefetch(&store[index + kAhead]);
}

inline uint64_t PacketMicroseconds(uint64_t origin, const PacketRecord& record) {
    return origin + static_cast<uint64_t>(record.timeOffset) * 1000;
}

}  // namespace writer
