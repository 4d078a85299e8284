// libpcap files. Read: the four variants the first bytes name (D4 C3 B2 A1 and A1 B2 C3 D4:
// microseconds, little- and big-endian; 4D 3C B2 A1 and A1 B2 3C 4D: nanoseconds), then the link
// type of the 24-byte global header; each record is a 16-byte header (seconds, sub-second part,
// captured length, wire length) and the captured bytes. Written: microseconds, little-endian.
#include <array>

#include "decode/LinkHeaders.h"
#include "files/LoaderSupport.h"
#include "files/OutputFile.h"
#include "files/WriterSupport.h"

namespace {

constexpr uint32_t kMicrosecondMagic = 0xa1b2c3d4;
constexpr uint32_t kNanosecondMagic = 0xa1b23c4d;
constexpr uint32_t kSnapshotLength = 65535;

struct Variant {
    uint32_t (*load32)(const uint8_t*);
    uint32_t unitsPerMicrosecond;  // of the sub-second part
};

// The variant the magic number names, read little-endian; false for none.
bool VariantOf(uint32_t magic, Variant& variant) {
    switch (magic) {
        case kMicrosecondMagic: variant = {bytes::LoadLe32, 1}; return true;
        case __builtin_bswap32(kMicrosecondMagic): variant = {bytes::LoadBe32, 1}; return true;
        case kNanosecondMagic: variant = {bytes::LoadLe32, 1000}; return true;
        case __builtin_bswap32(kNanosecondMagic): variant = {bytes::LoadBe32, 1000}; return true;
        default: return false;
    }
}

}  // namespace

bool ReadPcapCapture(FILE* file) {
    std::array<uint8_t, 24> globalHeader;
    if (!loader::ReadExact(file, globalHeader)) return false;
    Variant variant;
    if (!VariantOf(bytes::LoadLe32(globalHeader.data()), variant)) return false;
    // The low 16 bits; the high ones may carry frame check sequence details.
    const uint32_t linkType = variant.load32(&globalHeader[20]) & 0xffff;
    auto buffer = loader::TakeFrameBuffer();
    if (!buffer) return false;

    bool result = false;
    loader::FrameClock clock;
    std::array<uint8_t, 16> record;
    if (!loader::ReadExact(file, record)) return false;
    for (;;) {
        const uint32_t captured = variant.load32(&record[8]);
        if (captured > kMaxFrameLength) break;
        if (!loader::ReadExact(file, buffer.get(), captured)) break;
        const uint64_t seconds = variant.load32(&record[0]);
        const uint64_t microseconds = variant.load32(&record[4]) / variant.unitsPerMicrosecond;
        const uint32_t timeOffset =
            clock.Offset(seconds * 1000 + microseconds / 1000, seconds * 1000000 + microseconds);
        if (!loader::HandOverLinked(buffer.get(), captured, linkType, timeOffset)) break;
        result = true;
        if (!loader::ReadExact(file, record)) break;
    }
    return result;
}

bool WritePcapCapture(const char* path) {
    const PacketStore& store = GetPacketStore();
    const int32_t count = store.Count();
    bool ethernet = false, rawIp = false;
    for (int32_t i = 0; i < count; ++i) (store[i].frameType == 2 ? ethernet : rawIp) = true;
    // One link type per file: mixed, the raw-IP frames get an Ethernet header.
    const bool wrapRawIp = ethernet && rawIp;
    const uint32_t linkType = ethernet ? linktype::kEthernet : linktype::kRaw;

    OutputFile file;
    if (!file.Create(path)) return false;
    std::array<uint8_t, 24> globalHeader{};
    bytes::StoreLe32(&globalHeader[0], kMicrosecondMagic);
    bytes::StoreLe16(&globalHeader[4], 2);
    bytes::StoreLe16(&globalHeader[6], 4);
    bytes::StoreLe32(&globalHeader[16], kSnapshotLength);
    bytes::StoreLe32(&globalHeader[20], linkType);
    file.Put(globalHeader.data(), globalHeader.size());

    const uint64_t origin = writer::OriginMicroseconds();
    for (int32_t i = 0; i < count; ++i) {
        const PacketRecord& record = store[i];
        writer::ReadAhead(store, i);
        std::array<uint8_t, 16 + 14> header{};
        const bool wrap = wrapRawIp && record.frameType != 2;
        const uint32_t length = record.length + (wrap ? 14 : 0);
        const uint64_t microseconds = writer::PacketMicroseconds(origin, record);
        bytes::StoreLe32(&header[0], static_cast<uint32_t>(microseconds / 1000000));
        bytes::StoreLe32(&header[4], static_cast<uint32_t>(microseconds % 1000000));
        bytes::StoreLe32(&header[8], length);
        bytes::StoreLe32(&header[12], length);
        if (wrap) {
            // Zero addresses, and the type the IP version names.
            const bool v6 = record.length > 0 && record.data[0] >> 4 == 6;
            bytes::StoreBe16(&header[28], v6 ? kTypeIPv6 : kTypeIPv4);
        }
        file.Put(header.data(), wrap ? header.size() : 16);
        file.PutInPlace(record.data.get(), record.length);
    }
    return file.Finish();
}
