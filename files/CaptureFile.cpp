#include "files/CaptureFile.h"

#include <strings.h>

#include <cstring>

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
    if (FILE* file = std::fopen(path, "rb")) {
        std::setvbuf(file, nullptr, _IOFBF, kReadBufferSize);
        result = IsNetMonOrPcapExtension(extension) ? ReadNetMonCapture(file)
                                                    : ReadOwnCapture(file);
        std::fclose(file);
    }

    const PacketStore& store = GetPacketStore();
    char text[32];
    std::snprintf(text, sizeof text, "%d / %d", store.Count(), store.limit);
    ShowStatus(text, 2);
    return result;
}
