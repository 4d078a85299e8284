// No input makes a reader allocate more than its frame buffer and the frame table the file
// actually holds, whatever its length fields claim. The global allocation functions of this test
// program are replaced to watch the sizes asked for while a load runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/files/FileTestSupport.h"

namespace {

std::atomic<bool> watching{false};
std::atomic<size_t> largest{0};
std::atomic<size_t> total{0};

void Note(size_t n) {
    if (!watching.load(std::memory_order_relaxed)) return;
    total.fetch_add(n, std::memory_order_relaxed);
    size_t seen = largest.load(std::memory_order_relaxed);
    while (n > seen && !largest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
    }
}

}  // namespace

// These pair malloc with free by design; GCC takes the pairing of new with free for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t n) {
    Note(n);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    Note(n);
    return std::malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

using namespace filetest;

namespace {

class ReaderAllocation : public FileFixture {
protected:
    // Opens the file while watching; returns the largest single allocation.
    size_t LargestWhileOpening(const std::string& path) {
        largest = 0;
        total = 0;
        watching = true;
        Open(path);
        watching = false;
        return largest;
    }
};

TEST_F(ReaderAllocation, LengthFieldsDoNotDriveAllocations) {
    // Network Monitor: a frame table of almost 4 GiB claimed by a 200-byte file.
    Bytes netmon = NetMonFile(2, {{0, TcpFrame()}});
    netmon[28] = 0xfc;
    netmon[29] = netmon[30] = netmon[31] = 0xff;
    // libpcap and own format: records claiming 4 GiB of frame bytes.
    Bytes pcap = PcapHeader();
    PutPcapRecord(pcap, 0, 0, 0xffffffff, 0xffffffff);
    Append(pcap, Bytes(100, 0));
    Bytes own = OwnFile({{2, 1, 0, TcpFrame()}});
    Append(own, {2, 0, 1, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0});
    Append(own, Bytes(100, 0));

    // pcapng: a block claiming 4 GiB, and an enhanced packet claiming 4 GiB inside its block.
    Bytes pcapng = PcapNg().Interface(1).Enhanced(0, 0, TcpFrame()).bytes;
    Append(pcapng, {6, 0, 0, 0, 0xfc, 0xff, 0xff, 0xff});
    Append(pcapng, Bytes(100, 0));
    PcapNg packet;
    Bytes body(12, 0);
    Append(body, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    packet.Interface(1).Block(6, body);

    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"table.cap", netmon}, {"record.pcap", pcap}, {"record.tdw", own},
             {"block.pcapng", pcapng}, {"packet.pcapng", packet.bytes}}) {
        SCOPED_TRACE(name);
        // pcapng reads a block at a time into a buffer of two frame buffers.
        EXPECT_LE(LargestWhileOpening(WriteFile(name, bytes)), 2 * kFrameBufferSize);
        // The frame buffer, the stored frames and the table: far below the claimed lengths.
        EXPECT_LT(total.load(), 2 * kFrameBufferSize + 8 * bytes.size() + 4096);
    }
    // The one frame of the Network Monitor file is still read through the table it holds.
    EXPECT_EQ(LargestWhileOpening("table.cap"), kFrameBufferSize);
    EXPECT_EQ(Count(), 1);
}

}  // namespace
