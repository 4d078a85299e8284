// What the three readers share: exact reads, the one frame buffer, little-endian fields of a
// header read into a fixed array, and the hand-over of a frame to the arrival handler.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "capture/PacketStore.h"
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

// Little-endian fields of a header held in a fixed array; the offset is checked against the
// array when the reader is compiled.
template <size_t Offset, size_t N>
inline uint16_t Le16(const std::array<uint8_t, N>& header) {
    static_assert(Offset + 2 <= N);
    return bytes::LoadLe16(header.data() + Offset);
}

template <size_t Offset, size_t N>
inline uint32_t Le32(const std::array<uint8_t, N>& header) {
    static_assert(Offset + 4 <= N);
    return bytes::LoadLe32(header.data() + Offset);
}

template <size_t Offset, size_t N>
inline uint64_t Le64(const std::array<uint8_t, N>& header) {
    static_assert(Offset + 8 <= N);
    return bytes::LoadLe64(header.data() + Offset);
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

}  // namespace loader
