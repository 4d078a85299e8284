#include "files/CaptureFile.h"
#include "framework/str.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <array>
#include <cstring>

#include "capture/CaptureLoop.h"
#include "capture/PacketStore.h"

std::atomic<int32_t> loadInProgress{0};
std::atomic<int32_t> captureAllowed{1};

namespace {

constexpr size_t kReadBufferSize = 1 << 16;

// The part of the path from its last "." on; a path without one is its own extension.
const char* Extension(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot ? dot : path;
}

bool IsNetMonOrPcapExtension(const char* extension) {
    return strcasecmp(extension, ".cap") == 0 || strcasecmp(extension, ".pcap") == 0;
}

void Reason(str& reason, const char* path, const char* why) {
    reason.Clear();
    reason.AppendFormat("OpenCaptureFile - '%s': %s", path, why);
}

// Why a reader got no capture out of an open file, from where it stopped: a read that failed,
// the end of the file (cut short), or a field no capture file has (not a capture file).
void ReaderFailure(FILE* file, const char* path, str& reason) {
    struct stat info {};
    if (std::ferror(file)) {
        Reason(reason, path, "it could not be read");
    } else if (fstat(fileno(file), &info) == 0 && info.st_size == 0) {
        Reason(reason, path, "the file is empty");
    } else if (std::feof(file)) {
        str why;
        why.AppendFormat("the file is cut short: it ends inside a record (%d frames kept)",
                         GetPacketStore().Count());
        Reason(reason, path, why.c_str());
    } else {
        Reason(reason, path, "the file is not a capture file of a format Tidewatch reads");
    }
}

// The readers the first four bytes of a file name.
struct Signature {
    std::array<uint8_t, 4> bytes;
    bool (*read)(FILE*);
};
constexpr Signature kSignatures[] = {
    {{0xd4, 0xc3, 0xb2, 0xa1}, ReadPcapCapture},   // microseconds, little-endian
    {{0xa1, 0xb2, 0xc3, 0xd4}, ReadPcapCapture},   // microseconds, big-endian
    {{0x4d, 0x3c, 0xb2, 0xa1}, ReadPcapCapture},   // nanoseconds, little-endian
    {{0xa1, 0xb2, 0x3c, 0x4d}, ReadPcapCapture},   // nanoseconds, big-endian
    {{0x0a, 0x0d, 0x0d, 0x0a}, ReadPcapNgCapture},
    {{'R', 'T', 'S', 'S'}, ReadNetMonCapture},
    {{'G', 'M', 'B', 'U'}, ReadNetMonCapture},
};

// The reader the content names, else the one of the extension. The file is left at its start.
bool (*ReaderFor(FILE* file, const char* extension))(FILE*) {
    std::array<uint8_t, 4> first{};
    const size_t got = std::fread(first.data(), 1, first.size(), file);
    std::rewind(file);
    if (got == first.size()) {
        for (const Signature& signature : kSignatures) {
            if (signature.bytes == first) return signature.read;
        }
    }
    return IsNetMonOrPcapExtension(extension) ? ReadNetMonCapture : ReadOwnCapture;
}

// Opens a regular file for reading. Anything else (a FIFO, a device, a folder) is refused at
// once rather than read: opening a FIFO for reading would wait for a writer. On failure the
// reason says why.
FILE* OpenRegularFile(const char* path, str& reason) {
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        Reason(reason, path, std::strerror(errno));
        return nullptr;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        fcntl(descriptor, F_SETFL, 0) != 0) {
        Reason(reason, path,
               S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : "it is not a regular file");
        close(descriptor);
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "rb");
    if (!file) {
        Reason(reason, path, std::strerror(errno));
        close(descriptor);
    }
    return file;
}

// Puts the load state back however the load ends.
class LoadFrame {
public:
    LoadFrame() {
        loadInProgress.store(1, std::memory_order_release);
        captureAllowed.store(0, std::memory_order_release);
    }
    ~LoadFrame() {
        loadInProgress.store(0, std::memory_order_release);
        captureAllowed.store(1, std::memory_order_release);
    }
    LoadFrame(const LoadFrame&) = delete;
    LoadFrame& operator=(const LoadFrame&) = delete;
};

}  // namespace

bool LoadHost::AwaitCaptureStop() {
    return ::AwaitCaptureStop([this](uint32_t milliseconds) { Wait(milliseconds); });
}

bool OpenCaptureFile(const char* path, LoadHost& host) {
    if (loadInProgress.load(std::memory_order_acquire) != 0) return false;
    LoadFrame frame;
    // The capture is not resumed after the load. Even without a request a driver may still be
    // delivering (the packet limit withdrew it a moment ago): the store is cleared only once the
    // capture thread has confirmed that none does.
    StopCapture();
    if (!host.AwaitCaptureStop()) {
        str reason;
        Reason(reason, path, kCaptureDidNotStop);
        host.LoadFailed(reason.c_str());
        return false;
    }
    const char* extension = Extension(path);
    // Before the open, so that a file that cannot be opened still leaves an empty capture.
    host.ClearCapture();

    CurrentLoad() = LoadFindings{};

    bool result = false;
    str reason;
    if (FILE* file = OpenRegularFile(path, reason)) {
        std::setvbuf(file, nullptr, _IOFBF, kReadBufferSize);
        result = ReaderFor(file, extension)(file);
        if (!result) ReaderFailure(file, path, reason);
        std::fclose(file);
    }
    if (!result) host.LoadFailed(reason.c_str());

    const PacketStore& store = GetPacketStore();
    char text[96];
    std::snprintf(text, sizeof text, "%d / %d", store.Count(), store.limit);
    ShowStatus(text, 2);
    if (const uint32_t skipped = CurrentLoad().skippedFrames) {
        std::snprintf(text, sizeof text, kSkippedFramesText, skipped);
        host.LoadNotice(text);
    }
    return result;
}

LoadFindings& CurrentLoad() {
    static LoadFindings findings;
    return findings;
}

bool FormatOfExtension(const char* path, CaptureFormat& format) {
    const char* extension = Extension(path);
    if (IsNetMonOrPcapExtension(extension)) {
        format = CaptureFormat::Pcap;
    } else if (strcasecmp(extension, ".pcapng") == 0) {
        format = CaptureFormat::PcapNg;
    } else if (strcasecmp(extension, ".tdw") == 0) {
        format = CaptureFormat::Own;
    } else {
        return false;
    }
    return true;
}

bool WriteCapture(const char* path, CaptureFormat format) {
    switch (format) {
        case CaptureFormat::Pcap: return WritePcapCapture(path);
        case CaptureFormat::PcapNg: return WritePcapNgCapture(path);
        case CaptureFormat::Own: break;
    }
    return WriteOwnCapture(path);
}

bool WriteCaptureFile(const char* path) {
    CaptureFormat format = CaptureFormat::Own;
    FormatOfExtension(path, format);
    return WriteCapture(path, format);
}
