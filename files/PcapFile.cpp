// libpcap files, read only: the microsecond format in little-endian order (first bytes
// D4 C3 B2 A1) only. The 24-byte global header is read and not looked at; each record is a
// 16-byte header (seconds, microseconds, captured length, wire length) and the captured bytes.
// Every frame is taken as an Ethernet frame, whatever the file's link type.
#include <array>

#include "files/LoaderSupport.h"

bool ReadPcapCapture(FILE* file) {
    std::array<uint8_t, 24> globalHeader;
    if (!loader::ReadExact(file, globalHeader)) return false;
    auto buffer = loader::TakeFrameBuffer();
    if (!buffer) return false;

    bool result = false;
    std::array<uint8_t, 16> record;
    if (!loader::ReadExact(file, record)) return false;
    for (;;) {
        const uint32_t captured = loader::Le32<8>(record);
        if (captured > kMaxFrameLength) break;
        if (!loader::ReadExact(file, buffer.get(), captured)) break;
        const uint64_t seconds = loader::Le32<0>(record);
        const uint64_t microseconds = loader::Le32<4>(record);
        const auto timeOffset = static_cast<uint32_t>(seconds * 1000 + microseconds / 1000);
        if (!loader::HandOver(buffer.get(), captured, 2, timeOffset)) break;
        result = true;
        if (!loader::ReadExact(file, record)) break;
    }
    return result;
}
