// Where the store keeps the bytes of its frames: large blocks handed out front to back, given
// back all at once when the store is cleared. A frame copy then costs a few instructions instead
// of an allocation, and the blocks' pages are touched once, not once a frame; at top capture
// speed that is most of what storing a frame costs.
//
// One writer at a time, as for the records: the source delivering frames takes, the interface
// thread clears after the capture has stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Memory for large, long-lived arrays: size bytes rounded up to whole huge pages (size is set to
// what was taken), starting on a huge-page boundary, so that the kernel may back it with huge
// pages and its first touch costs a fault every 2 MiB instead of every 4 KiB. Freed with free().
uint8_t* AllocateInHugePages(size_t& size);

class FramePool {
public:
    static constexpr size_t kBlockSize = size_t{4} << 20;
    // Blocks kept for the next capture when the pool is cleared; the rest are freed.
    static constexpr size_t kKeptBlocks = 16;

    FramePool() = default;
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;
    ~FramePool();

    // Room for n bytes, or null when there is no memory for it.
    uint8_t* Take(size_t n);
    // Gives back the last n bytes taken at p (a frame the filters refused), so that a long
    // capture that keeps few frames does not grow the pool.
    void GiveBack(const uint8_t* p, size_t n);
    // Every frame given back at once.
    void Clear();
    // Makes sure room for n more bytes is there with its pages touched, so that frames arriving
    // at top speed are copied without the kernel first zeroing pages for them. False when the
    // memory cannot be had; what was reserved stays.
    bool Reserve(size_t n);

private:
    struct Block {
        uint8_t* bytes;
        size_t size;
    };
    static Block NewBlock(size_t size);
    bool AddBlock(size_t size);  // a new block at the end; false when there is no memory
    static void FreeBlock(const Block& block);

    std::vector<Block> blocks_;
    size_t current_ = 0;  // the block being filled
    size_t used_ = 0;     // bytes taken from it
};
