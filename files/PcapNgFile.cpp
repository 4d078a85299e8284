// pcapng files. A file is a run of blocks, each type (4), total length (4), body, and the total
// length again; a section header block starts each section and says its byte order. Read:
// section headers, interface descriptions (link type, snapshot length, time stamp resolution),
// enhanced, simple and obsolete packet blocks; any other block is passed over by its length. A
// block whose length is below 12, not a multiple of 4, beyond the file or not repeated at its
// end, or whose fields do not fit in it, ends the load there. Written: little-endian, one
// interface per link type used, enhanced packet blocks in microseconds.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <vector>

#include "files/LoaderSupport.h"
#include "files/OutputFile.h"
#include "files/WriterSupport.h"

namespace {

constexpr uint32_t kSectionHeaderBlock = 0x0a0d0d0a;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kObsoletePacketBlock = 2;
constexpr uint32_t kSimplePacketBlock = 3;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1a2b3c4d;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionTimeResolution = 9;  // if_tsresol
// Large enough for any packet block whose frame the store can take, with room for options.
constexpr size_t kBlockBufferSize = 2 * kFrameBufferSize;

using Wide = unsigned __int128;

struct Interface {
    uint32_t linkType = 0;
    uint32_t snapshotLength = 0;
    Wide unitsPerSecond = 1000000;
};

// Time stamp units per second of an if_tsresol value: 10^-n, or 2^-n when the top bit is set;
// the default microseconds when the value cannot be held.
Wide UnitsPerSecond(uint8_t resolution) {
    const unsigned n = resolution & 0x7f;
    if (resolution & 0x80) return Wide{1} << n;
    if (n > 38) return 1000000;
    Wide units = 1;
    for (unsigned i = 0; i < n; ++i) units *= 10;
    return units;
}

// The fields of one section, in its byte order.
class SectionReader : public bytes::Reader {
public:
    SectionReader(std::span<const uint8_t> body, bool bigEndian)
        : bytes::Reader(body), bigEndian_(bigEndian) {}
    uint16_t U16() { return bigEndian_ ? Be16() : Le16(); }
    uint32_t U32() { return bigEndian_ ? Be32() : Le32(); }

private:
    bool bigEndian_;
};

class PcapNgReader {
public:
    PcapNgReader(FILE* file, uint64_t fileSize, uint8_t* buffer)
        : file_(file), fileSize_(fileSize), buffer_(buffer) {}

    // Reads blocks to the end of the file or to the first that ends the load; true when at least
    // one frame was read.
    bool Run() {
        while (NextBlock()) {
        }
        return framesRead_;
    }

private:
    // False when the load ends here.
    bool NextBlock() {
        std::array<uint8_t, 12> head;
        if (!loader::ReadExact(file_, head.data(), 8)) return false;
        size_t headSize = 8;
        const bool sectionHeader = bytes::LoadLe32(head.data()) == kSectionHeaderBlock;
        if (sectionHeader) {
            // The byte-order magic follows the length and says how to read it.
            if (!loader::ReadExact(file_, &head[8], 4)) return false;
            headSize = 12;
            if (bytes::LoadLe32(&head[8]) == kByteOrderMagic) {
                bigEndian_ = false;
            } else if (bytes::LoadBe32(&head[8]) == kByteOrderMagic) {
                bigEndian_ = true;
            } else {
                return false;
            }
        }
        const uint32_t type = Load32(head.data());
        const uint32_t length = Load32(&head[4]);
        if (length < (sectionHeader ? 28u : 12u) || length % 4 != 0 ||
            length > fileSize_ - position_) {
            return false;
        }

        // The block after its head, trailer included, as far as the buffer holds it.
        const size_t rest = length - headSize;
        const size_t held = std::min(rest, kBlockBufferSize);
        if (!loader::ReadExact(file_, buffer_, held)) return false;
        uint8_t trailer[4];
        if (held == rest) {
            std::copy_n(buffer_ + rest - 4, 4, trailer);
        } else if (fseeko(file_, static_cast<off_t>(position_ + length - 4), SEEK_SET) != 0 ||
                   !loader::ReadExact(file_, trailer, 4)) {
            return false;
        }
        if (Load32(trailer) != length) return false;
        position_ += length;
        const std::span<const uint8_t> body(buffer_, std::min(rest - 4, held));

        switch (type) {
            case kSectionHeaderBlock: return SectionHeader(body);
            case kInterfaceBlock: return InterfaceDescription(body);
            case kEnhancedPacketBlock: return PacketBlock(body, false);
            case kObsoletePacketBlock: return PacketBlock(body, true);
            case kSimplePacketBlock: return SimplePacket(body);
            default: return true;
        }
    }

    uint32_t Load32(const uint8_t* p) const {
        return bigEndian_ ? bytes::LoadBe32(p) : bytes::LoadLe32(p);
    }

    bool SectionHeader(std::span<const uint8_t> body) {
        SectionReader in(body, bigEndian_);
        const uint16_t major = in.U16();
        // A later major version may lay its blocks out differently.
        if (!in.Ok() || major != 1) return false;
        interfaces_.clear();
        return true;
    }

    bool InterfaceDescription(std::span<const uint8_t> body) {
        SectionReader in(body, bigEndian_);
        Interface described;
        described.linkType = in.U16();
        in.U16();
        described.snapshotLength = in.U32();
        if (!in.Ok()) return false;
        while (in.Remaining() >= 4) {
            const uint16_t code = in.U16();
            const uint16_t size = in.U16();
            const std::span<const uint8_t> value = in.Bytes(size);
            if (!in.Ok() || code == kOptionEnd) break;
            if (code == kOptionTimeResolution && size >= 1) {
                described.unitsPerSecond = UnitsPerSecond(value[0]);
            }
            in.Skip((4 - size % 4) % 4);
        }
        try {
            interfaces_.push_back(described);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Enhanced (32-bit interface) and obsolete (16-bit interface, 16-bit drop count) blocks.
    bool PacketBlock(std::span<const uint8_t> body, bool obsolete) {
        SectionReader in(body, bigEndian_);
        uint32_t interfaceId;
        if (obsolete) {
            interfaceId = in.U16();
            in.U16();
        } else {
            interfaceId = in.U32();
        }
        const uint64_t high = in.U32();
        const uint64_t stamp = high << 32 | in.U32();
        const uint32_t captured = in.U32();
        in.U32();
        if (!in.Ok() || captured > kMaxFrameLength) return false;
        const std::span<const uint8_t> frame = in.Bytes(captured);
        if (!in.Ok()) return false;

        const Interface* described =
            interfaceId < interfaces_.size() ? &interfaces_[interfaceId] : nullptr;
        const Wide units = described ? described->unitsPerSecond : 1000000;
        const auto milliseconds = static_cast<uint64_t>(Wide{stamp} * 1000 / units);
        const auto microseconds = static_cast<uint64_t>(Wide{stamp} * 1000000 / units);
        lastOffset_ = clock_.Offset(milliseconds, microseconds);
        return HandOver(described, frame);
    }

    // No time stamp, interface 0; the captured length is what the block holds, at most the
    // original length and the interface's snapshot length.
    bool SimplePacket(std::span<const uint8_t> body) {
        SectionReader in(body, bigEndian_);
        uint32_t captured = in.U32();
        if (!in.Ok()) return false;
        const Interface* described = interfaces_.empty() ? nullptr : &interfaces_[0];
        if (described && described->snapshotLength != 0) {
            captured = std::min(captured, described->snapshotLength);
        }
        captured = static_cast<uint32_t>(std::min<size_t>(captured, in.Remaining()));
        if (captured > kMaxFrameLength) return false;
        return HandOver(described, in.Bytes(captured));
    }

    // A frame of an interface that was never described is skipped like one of a link type that
    // is not decoded.
    bool HandOver(const Interface* described, std::span<const uint8_t> frame) {
        framesRead_ = true;
        const auto length = static_cast<uint32_t>(frame.size());
        if (!described) {
            ++CurrentLoad().skippedFrames;
            return true;
        }
        return loader::HandOverLinked(frame.data(), length, described->linkType, lastOffset_);
    }

    FILE* file_;
    uint64_t fileSize_;
    uint8_t* buffer_;
    uint64_t position_ = 0;
    bool bigEndian_ = false;
    std::vector<Interface> interfaces_;
    loader::FrameClock clock_;
    uint32_t lastOffset_ = 0;
    bool framesRead_ = false;
};

void PutBlock(OutputFile& file, uint32_t type, bytes::Buffer& body) {
    const auto length = static_cast<uint32_t>(body.size() + 12);
    std::array<uint8_t, 8> head;
    bytes::StoreLe32(&head[0], type);
    bytes::StoreLe32(&head[4], length);
    file.Put(head.data(), head.size());
    file.Put(body.data(), body.size());
    file.Put(&head[4], 4);
}

}  // namespace

bool ReadPcapNgCapture(FILE* file) {
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || status.st_size < 0) return false;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBlockBufferSize]);
    if (!buffer) return false;
    return PcapNgReader(file, static_cast<uint64_t>(status.st_size), buffer.get()).Run();
}

bool WritePcapNgCapture(const char* path) {
    OutputFile file;
    if (!file.Create(path)) return false;
    bytes::Buffer body;
    bytes::AppendLe32(body, kByteOrderMagic);
    bytes::AppendLe16(body, 1);
    bytes::AppendLe16(body, 0);
    bytes::AppendLe64(body, ~uint64_t{0});  // section length not given
    PutBlock(file, kSectionHeaderBlock, body);

    // Interfaces are described as their link type is first needed: index by frame type.
    std::array<int, 3> interfaceOf = {-1, -1, -1};
    int interfaces = 0;
    const uint64_t origin = writer::OriginMicroseconds();
    const PacketStore& store = GetPacketStore();
    static constexpr uint8_t kPadding[4] = {};
    for (int32_t i = 0; i < store.Count(); ++i) {
        const PacketRecord& record = store[i];
        writer::ReadAhead(store, i);
        const int frameType = record.frameType == 2 ? 2 : 1;
        if (interfaceOf[frameType] < 0) {
            body.clear();
            bytes::AppendLe16(body, static_cast<uint16_t>(LinkTypeOf(frameType)));
            bytes::AppendLe16(body, 0);
            bytes::AppendLe32(body, kMaxFrameLength);  // snapshot length
            PutBlock(file, kInterfaceBlock, body);
            interfaceOf[frameType] = interfaces++;
        }
        const uint64_t microseconds = writer::PacketMicroseconds(origin, record);
        const uint32_t padding = (4 - record.length % 4) % 4;
        std::array<uint8_t, 28> head;
        bytes::StoreLe32(&head[0], kEnhancedPacketBlock);
        bytes::StoreLe32(&head[4], 32 + record.length + padding);
        bytes::StoreLe32(&head[8], static_cast<uint32_t>(interfaceOf[frameType]));
        bytes::StoreLe32(&head[12], static_cast<uint32_t>(microseconds >> 32));
        bytes::StoreLe32(&head[16], static_cast<uint32_t>(microseconds));
        bytes::StoreLe32(&head[20], record.length);
        bytes::StoreLe32(&head[24], record.length);
        file.Put(head.data(), head.size());
        file.PutInPlace(record.data.get(), record.length);
        file.Put(kPadding, padding);
        file.Put(&head[4], 4);
    }
    return file.Finish();
}
