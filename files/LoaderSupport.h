// What the readers share: exact reads, the one frame buffer, the hand-over of a frame to the
// arrival handler (directly, or by the link type of a libpcap or pcapng file), and the time
// offsets of the formats that carry wall-clock times.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "capture/PacketStore.h"
#include "decode/LinkTypes.h"
#include "files/CaptureFile.h"
#include "framework/Bytes.h"

namespace loader {

// True when all n bytes were read.
inline bool ReadExact(FILE* file, void* out, size_t n) {
    return std::fread(out, 1, n, file) == n;
}

template <size_t N>
inline bool ReadExact(FILE* file, std::array<uint8_t, N>& out) {
    return ReadExact(file, out.data(), N);
}

// The reader's single frame buffer; null when there is no memory for it.
inline std::unique_ptr<uint8_t[]> TakeFrameBuffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kFrameBufferSize]);
}

// Hands one frame read from a file to the arrival handler with the file's time offset (and, for
// the own format, the stored IP flag). The packet-count text is refreshed only when the count is
// a multiple of 100, so that status updates do not dominate a large load. False when the handler
// ran out of memory for the record's texts: the reader then stops with what it has.
inline bool HandOver(const uint8_t* frame, uint32_t length, int frameType, uint32_t timeOffset,
                     const uint16_t* ipFlag = nullptr) {
    LoaderInfo info;
    info.timeOffset = timeOffset;
    if (ipFlag) {
        info.hasIpFlag = true;
        info.isIp = *ipFlag;
    }
    PacketStore& store = GetPacketStore();
    const int32_t count = store.Count();
    try {
        HandleArrival(frame, length, frameType, count % 100 == 0, &info);
    } catch (const std::bad_alloc&) {
        // The handler left the slot half written and count unchanged; clear it so that nothing
        // of this frame shows in the next record stored there.
        if (store.records && count < store.limit) ResetRecord(store.records[count]);
        return false;
    }
    return true;
}

// Hands over a frame of a libpcap or pcapng file as its link type says, or counts it as skipped
// when it is not stored. False as HandOver is.
inline bool HandOverLinked(const uint8_t* frame, uint32_t length, uint32_t linkType,
                           uint32_t timeOffset) {
    const int frameType = StoredFrameType(linkType, frame, length);
    if (frameType == 0) {
        ++CurrentLoad().skippedFrames;
        return true;
    }
    return HandOver(frame, length, frameType, timeOffset);
}

// Time offsets of files that give wall-clock times: milliseconds since the file's first frame
// record (stored or skipped), in unsigned 32-bit arithmetic. The first frame's time is kept as
// the capture's origin, so that a capture saved again keeps its times.
class FrameClock {
public:
    uint32_t Offset(uint64_t milliseconds, uint64_t microseconds) {
        if (!started_) {
            started_ = true;
            first_ = milliseconds;
            CurrentLoad().originKnown = true;
            CurrentLoad().originMicroseconds = microseconds;
        }
        return static_cast<uint32_t>(milliseconds - first_);
    }

private:
    bool started_ = false;
    uint64_t first_ = 0;
};

}  // namespace loader
