#include "files/CaptureFile.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "capture/PacketStore.h"
#include "framework/str.h"

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

}  // namespace

bool OpenCaptureFile(const char* path, LoadHost& host) {
    if (loadInProgress.load(std::memory_order_acquire) != 0) return false;
    const bool wasCapturing = IsCapturing() != 0;
    LoadFrame frame;
    if (wasCapturing) {
        // The capture is not resumed after the load.
        StopCapture();
        host.Wait(1000);
    }
    const char* extension = Extension(path);
    // Before the open, so that a file that cannot be opened still leaves an empty capture.
    host.ClearCapture();

    bool result = false;
    str reason;
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        Reason(reason, path, std::strerror(errno));
    } else if (struct stat info {}; fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        // A folder opens, and reads as an empty own-format capture.
        Reason(reason, path, std::strerror(EISDIR));
    } else {
        std::setvbuf(file, nullptr, _IOFBF, kReadBufferSize);
        result = IsNetMonOrPcapExtension(extension) ? ReadNetMonCapture(file)
                                                    : ReadOwnCapture(file);
        if (!result) ReaderFailure(file, path, reason);
    }
    if (file) std::fclose(file);
    if (!result) host.LoadFailed(reason.c_str());

    const PacketStore& store = GetPacketStore();
    char text[32];
    std::snprintf(text, sizeof text, "%d / %d", store.Count(), store.limit);
    ShowStatus(text, 2);
    return result;
}
