// Network Monitor capture files, read only. Of the 72-byte file header the reader uses the
// signature ("RTSS" 1.x, "GMBU" 2.x), the major version (1 selects the 1.x frame layout) and the
// frame table's offset and length. The table holds one 4-byte file offset per frame; at each lies
// a frame header (1.x: ms time, 16-bit frame length and bytes available; 2.x: 64-bit us time,
// 32-bit lengths) and the frame bytes. Every frame is taken as an Ethernet frame.
#include <algorithm>
#include <array>
#include <vector>

#include "files/LoaderSupport.h"

namespace {

constexpr size_t kFileHeaderSize = 72;

// Reads up to `entries` table entries from the current position. The table grows only by the
// entries actually read, so a header that claims a huge table costs no more memory than the
// file holds. False when there is no memory for it.
bool ReadFrameTable(FILE* file, uint32_t entries, std::vector<uint32_t>& table) {
    std::array<uint8_t, 4096> chunk;
    try {
        while (table.size() < entries) {
            const size_t want = std::min<size_t>(entries - table.size(), chunk.size() / 4) * 4;
            const size_t got = std::fread(chunk.data(), 1, want, file);
            for (size_t at = 0; at + 4 <= got; at += 4) {
                table.push_back(bytes::LoadLe32(&chunk[at]));
            }
            if (got < want) break;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

bool ReadNetMonCapture(FILE* file) {
    std::array<uint8_t, kFileHeaderSize> header;
    if (!loader::ReadExact(file, header)) return false;
    if (std::memcmp(header.data(), "RTSS", 4) != 0 && std::memcmp(header.data(), "GMBU", 4) != 0) {
        return false;
    }
    // The layout follows the major version, not the signature.
    const bool layout1 = header[5] == 1;

    const uint32_t tableOffset = bytes::LoadLe32(&header[24]);
    const uint32_t tableLength = bytes::LoadLe32(&header[28]);
    if (fseeko(file, static_cast<off_t>(tableOffset), SEEK_SET) != 0) return false;
    std::vector<uint32_t> table;
    if (!ReadFrameTable(file, tableLength / 4, table) || table.empty()) return false;

    auto buffer = loader::TakeFrameBuffer();
    if (!buffer) return false;

    bool result = false;
    for (uint32_t frameOffset : table) {
        if (fseeko(file, static_cast<off_t>(frameOffset), SEEK_SET) != 0) break;
        uint32_t timeOffset, frameLength, available;
        if (layout1) {
            std::array<uint8_t, 8> frameHeader;
            if (!loader::ReadExact(file, frameHeader)) break;
            timeOffset = bytes::LoadLe32(&frameHeader[0]);
            frameLength = bytes::LoadLe16(&frameHeader[4]);
            available = bytes::LoadLe16(&frameHeader[6]);
        } else {
            std::array<uint8_t, 16> frameHeader;
            if (!loader::ReadExact(file, frameHeader)) break;
            timeOffset = static_cast<uint32_t>(bytes::LoadLe64(&frameHeader[0]) / 1000);
            frameLength = bytes::LoadLe32(&frameHeader[8]);
            available = bytes::LoadLe32(&frameHeader[12]);
        }
        // A sliced frame ends the load.
        if (frameLength > kMaxFrameLength || frameLength != available) break;
        if (!loader::ReadExact(file, buffer.get(), frameLength)) break;
        if (!loader::HandOver(buffer.get(), frameLength, 2, timeOffset)) break;
        result = true;
    }
    return result;
}
