// A delivering thread, a reader of stored records and a filter editor running at once. Run under
// ThreadSanitizer by the test script, this is what shows the store's and the rule set's sharing
// rules hold.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "decode/FrameBuilder.h"
#include "support/CaptureFixture.h"

using namespace frames;

namespace {

class Concurrency : public CaptureFixture {};

TEST_F(Concurrency, DeliveryReadingAndFilterEditsRunTogether) {
    const Mac a{0, 1, 2, 3, 4, 5}, b{6, 7, 8, 9, 10, 11};
    std::vector<Bytes> frames;
    for (uint8_t host = 1; host <= 8; ++host) {
        frames.push_back(Ethernet(b, a, 0x0800,
                                  IPv4(host % 2 ? 6 : 17, IPv4Address(10, 0, 0, host),
                                       IPv4Address(10, 0, 0, 100),
                                       host % 2 ? TCP(1000 + host, 80, 0, 0, 0x10, {})
                                                : UDP(2000 + host, 53, Text("q")))));
    }
    constexpr int kFrames = 20000;
    std::atomic<bool> done{false};
    StartCapture();

    std::thread deliver([&] {
        for (int i = 0; i < kFrames; ++i) {
            const Bytes& f = frames[static_cast<size_t>(i) % frames.size()];
            HandleArrival(f.data(), static_cast<uint32_t>(f.size()), 2, true);
        }
        done = true;
    });
    std::thread read([&] {
        uint64_t checked = 0;
        while (!done.load()) {
            const int32_t count = GetPacketStore().Count();
            for (int32_t i = 0; i < count; ++i) {
                const PacketRecord& r = GetPacketStore()[i];
                ASSERT_EQ(r.index, static_cast<uint32_t>(i));
                ASSERT_TRUE(r.data);
                ASSERT_GE(r.length, 40u);
                ASSERT_FALSE(r.source.Empty());
                checked += r.data[r.length - 1];
            }
        }
        EXPECT_GE(checked, 0u);
    });
    std::thread edit([&] {
        PacketRecord host3;
        host3.source = "10.0.0.3";
        int rounds = 0;
        while (!done.load() || rounds < 10) {
            ApplyQuickFilter(kDropFromSource, host3);
            ApplyQuickFilter(kDropProtocol, host3);
            ApplyQuickFilter(kRemoveAllFilters, host3);
            ++rounds;
        }
    });
    deliver.join();
    read.join();
    edit.join();

    const int32_t count = GetPacketStore().Count();
    EXPECT_GT(count, 0);
    EXPECT_LE(count, kFrames);
    EXPECT_EQ(view.rows.size(), static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) EXPECT_EQ(view.rows[static_cast<size_t>(i)], static_cast<uint32_t>(i));
}

}  // namespace
