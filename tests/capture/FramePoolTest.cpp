#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/FramePool.h"

namespace {

// Frames taken before and after a reservation, across block ends and with a give-back between,
// each keep their own bytes.
TEST(FramePool, FramesKeepTheirBytesAcrossReservedBlocks) {
    FramePool pool;
    struct Frame {
        uint8_t* bytes;
        size_t size;
    };
    std::vector<Frame> frames;
    auto take = [&](size_t size) {
        uint8_t* bytes = pool.Take(size);
        ASSERT_NE(bytes, nullptr);
        std::memset(bytes, static_cast<int>(frames.size() & 0xff), size);
        frames.push_back({bytes, size});
    };
    take(100);
    ASSERT_TRUE(pool.Reserve(2 * FramePool::kBlockSize));
    uint8_t* refused = pool.Take(999);
    pool.GiveBack(refused, 999);
    size_t total = 100;
    for (size_t i = 0; total < 3 * FramePool::kBlockSize; ++i) {
        const size_t size = i % 100 == 99 ? 65535 : 60 + (i * 97) % 1455;
        take(size);
        total += size;
    }
    EXPECT_EQ(frames[1].bytes, refused);  // the given-back room went to the next frame
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::vector<uint8_t> expected(frames[i].size, static_cast<uint8_t>(i & 0xff));
        ASSERT_EQ(std::memcmp(frames[i].bytes, expected.data(), expected.size()), 0) << i;
    }
}

}  // namespace
