// Arbitrary bytes as a capture file: the first byte chooses the extension (.tdw, .cap, .pcap,
// .pcapng; the readers go by content first),
// the rest is written to a file of that name and opened as the Open command does. Every open
// clears the store first, so the store stays bounded by what one input can hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "files/CaptureFile.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"

namespace {

class FuzzHost : public LoadHost, public ArrivalView {
public:
    void ClearCapture() override { ClearStore(); }
    void Wait(uint32_t) override {}
    void AddPacketRow(uint32_t index) override {
        if (index >= static_cast<uint32_t>(PacketStore::kLimit)) __builtin_trap();
    }
    void SetStatusText(int, const char*) override {}
};

struct Setup {
    Setup() {
        char folder[] = "/tmp/fuzz_files.XXXXXX";
        if (!mkdtemp(folder)) std::abort();
        base = folder;
        // Reports of refused frames would otherwise fill standard error and error.log: the
        // fuzzer's own settings set the log threshold below every report.
        setenv("XDG_CONFIG_HOME", folder, 1);
        WriteRegString("log level", "0");
        ErrorLog::SetDebugOutput([](const char*) {});
        AllocateStore();
        ResetFilters();
        SetArrivalView(&host);
    }
    ~Setup() {
        SetArrivalView(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(base, ignored);
    }
    std::string base;
    FuzzHost host;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (size < 1) return 0;
    static const char* const kExtensions[] = {".tdw", ".cap", ".pcap", ".pcapng"};
    const std::string path = setup.base + "/input" + kExtensions[data[0] % 4];
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    OpenCaptureFile(path.c_str(), setup.host);
    const PacketStore& store = GetPacketStore();
    for (int32_t i = 0; i < store.Count(); ++i) {
        const PacketRecord& r = store[i];
        if (r.index != static_cast<uint32_t>(i) || r.length < 40 || r.length > 65535 || !r.data) {
            __builtin_trap();
        }
    }
    if (loadInProgress.load() != 0 || captureAllowed.load() != 1) __builtin_trap();
    ClearStore();
    return 0;
}
