// The arrival handler's cost per frame, with no filter rules and with 1,000 rules that do not
// match, and the number of heap allocations it makes per stored frame (counted by replacing the
// global allocation functions in this program).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "decode/FrameBuilder.h"

namespace {
std::atomic<uint64_t> allocations{0};
}

// The replacements below pair malloc with free throughout; g++ cannot see that through inlining.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using namespace frames;

Bytes TcpFrame(size_t totalSize) {
    const Mac a{0, 1, 2, 3, 4, 5}, b{6, 7, 8, 9, 10, 11};
    Bytes frame = Ethernet(b, a, 0x0800,
                           IPv4(6, IPv4Address(10, 0, 0, 1), IPv4Address(10, 0, 0, 2),
                                TCP(40000, 443, 1, 2, 0x10, Bytes(totalSize > 54 ? totalSize - 54 : 0, 'x'))));
    return PadEthernet(frame);
}

void SetRules(int rules) {
    ResetFilters();
    CaptureFilterRule rule;
    rule.criteria = kMatchSource | kMatchProtocol;
    std::snprintf(rule.sourceText, sizeof rule.sourceText, "172.16.0.1");
    for (int i = 0; i < rules; ++i) {
        rule.protocol = static_cast<uint16_t>(100 + i);
        InsertFilterRule(rule, 0);
    }
}

void BM_HandleArrival(benchmark::State& state) {
    AllocateStore();
    StopCapture();
    ClearStore();
    SetRules(static_cast<int>(state.range(1)));
    const Bytes frame = TcpFrame(static_cast<size_t>(state.range(0)));
    uint64_t stored = 0;
    const uint64_t before = allocations.load();
    for (auto _ : state) {
        if (GetPacketStore().Count() >= PacketStore::kLimit) {
            state.PauseTiming();
            stored += static_cast<uint64_t>(GetPacketStore().Count());
            ClearStore();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(
            HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), 2, true));
    }
    stored += static_cast<uint64_t>(GetPacketStore().Count());
    const uint64_t made = allocations.load() - before;
    state.counters["allocs_per_frame"] = stored ? static_cast<double>(made) / static_cast<double>(stored) : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    ClearStore();
    ResetFilters();
}

}  // namespace

BENCHMARK(BM_HandleArrival)
    ->ArgNames({"bytes", "rules"})
    ->Args({60, 0})
    ->Args({1514, 0})
    ->Args({60, 1000})
    ->Args({1514, 1000});

BENCHMARK_MAIN();
