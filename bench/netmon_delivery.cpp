// Capture method 2 without the packet store: the Network Monitor driver and its provider on one
// interface, each frame copied once into a scratch buffer (about what `tcpdump -w /dev/null`
// does with a frame), until SIGINT/SIGTERM. Shows what the batched ring itself costs, apart
// from the arrival handler. Used by bench/compare_capture.py inside a network namespace.
//
//     netmon_delivery DEVICE
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "drivers/INetMon.h"

namespace {

class BenchNetMon : public INetMon {
public:
    BenchNetMon() : INetMon(TW_BINARY_DIR "/libnpptools.so") {}
};

uint8_t scratch[65536];
std::atomic<uint64_t> frames{0}, bytesSeen{0};
std::atomic<bool> stop{false};

void Copy(const uint8_t* data, uint32_t length) {
    std::memcpy(scratch, data, length);
    frames.fetch_add(1, std::memory_order_relaxed);
    bytesSeen.fetch_add(length, std::memory_order_relaxed);
}

void OnSignal(int) { stop = true; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: netmon_delivery DEVICE\n");
        return 2;
    }
    BenchNetMon driver;
    const str stored = driver.HardwareAddress();
    if (!driver.ChooseNetworkByName(argv[1]) || !driver.Init(nullptr, nullptr, Copy) ||
        !driver.Start()) {
        std::fprintf(stderr, "netmon_delivery: cannot capture on %s\n", argv[1]);
        driver.SetHardwareAddress(stored.c_str());
        return 1;
    }
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    std::printf("listening on %s\n", argv[1]);
    std::fflush(stdout);
    while (!stop) usleep(10000);
    driver.Stop();
    NetMonStatistics counts{};
    driver.QueryStatistics(&counts);
    driver.SetHardwareAddress(stored.c_str());
    std::printf("%llu frames, %llu bytes\n%llu received by the kernel, %llu dropped\n"
                "%llu batches, %.1f frames each on average, %u at most\n",
                static_cast<unsigned long long>(frames.load()),
                static_cast<unsigned long long>(bytesSeen.load()),
                static_cast<unsigned long long>(counts.received),
                static_cast<unsigned long long>(counts.dropped),
                static_cast<unsigned long long>(counts.batches),
                counts.batches ? static_cast<double>(counts.delivered) / counts.batches : 0.0,
                counts.largestBatch);
    return 0;
}
