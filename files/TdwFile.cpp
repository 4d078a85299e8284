// The own capture format: no file header, records back to back to the end of the file, each
// frame type (2), IP flag (2), length N (4), time offset in ms (4), then N frame bytes.
#include <array>

#include "files/LoaderSupport.h"
#include "files/OutputFile.h"
#include "files/WriterSupport.h"

namespace {

constexpr size_t kRecordHeaderSize = 12;

}  // namespace

bool ReadOwnCapture(FILE* file) {
    auto buffer = loader::TakeFrameBuffer();
    if (!buffer) return false;
    for (;;) {
        std::array<uint8_t, kRecordHeaderSize> header;
        const size_t got = std::fread(header.data(), 1, header.size(), file);
        // Fewer than the 2 bytes of a frame type: the file is finished.
        if (got < 2) return true;
        if (got < header.size()) return false;
        const uint16_t frameType = bytes::LoadLe16(&header[0]);
        const uint16_t ipFlag = bytes::LoadLe16(&header[2]);
        const uint32_t length = bytes::LoadLe32(&header[4]);
        const uint32_t timeOffset = bytes::LoadLe32(&header[8]);
        if (length > kMaxFrameLength) return false;
        if (!loader::ReadExact(file, buffer.get(), length)) return false;
        if (!loader::HandOver(buffer.get(), length, frameType, timeOffset, &ipFlag)) return false;
    }
}

bool WriteOwnCapture(const char* path) {
    OutputFile file;
    if (!file.Create(path)) return false;
    const PacketStore& store = GetPacketStore();
    // The count is read afresh for every record: a capture that is still delivering while the
    // file is written adds what it stores before the writer reaches the end.
    for (int32_t i = 0; i < store.Count(); ++i) {
        const PacketRecord& record = store[i];
        writer::ReadAhead(store, i);
        std::array<uint8_t, kRecordHeaderSize> header;
        bytes::StoreLe16(&header[0], record.frameType);
        bytes::StoreLe16(&header[2], record.isIp);
        bytes::StoreLe32(&header[4], record.length);
        bytes::StoreLe32(&header[8], record.timeOffset);
        file.Put(header.data(), header.size());
        file.PutInPlace(record.data.get(), record.length);
    }
    // A save cut short (a full disk, a size limit) fails: reported as success, the window would
    // clear its unsaved flag and let the user exit without the frames.
    return file.Finish();
}
