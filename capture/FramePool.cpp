#include "capture/FramePool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

FramePool::~FramePool() {
    for (const Block& block : blocks_) FreeBlock(block);
}

uint8_t* AllocateInHugePages(size_t& size) {
    size = (size + kHugePage - 1) / kHugePage * kHugePage;
    auto* bytes = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, size));
    if (bytes) madvise(bytes, size, MADV_HUGEPAGE);
    return bytes;
}

FramePool::Block FramePool::NewBlock(size_t size) {
    uint8_t* bytes = AllocateInHugePages(size);
    return {bytes, size};
}

void FramePool::FreeBlock(const Block& block) { std::free(block.bytes); }

uint8_t* FramePool::Take(size_t n) {
    while (current_ < blocks_.size()) {
        const Block& block = blocks_[current_];
        if (block.size - used_ >= n) {
            uint8_t* p = block.bytes + used_;
            used_ += n;
            return p;
        }
        ++current_;
        used_ = 0;
    }
    if (!AddBlock(n > kBlockSize ? n : kBlockSize)) return nullptr;
    current_ = blocks_.size() - 1;
    used_ = n;
    return blocks_.back().bytes;
}

bool FramePool::AddBlock(size_t size) {
    const Block block = NewBlock(size);
    if (!block.bytes) return false;
    try {
        blocks_.push_back(block);
    } catch (const std::bad_alloc&) {
        FreeBlock(block);
        return false;
    }
    return true;
}

void FramePool::GiveBack(const uint8_t* p, size_t n) {
    if (current_ < blocks_.size() && used_ >= n && blocks_[current_].bytes + used_ - n == p) {
        used_ -= n;
    }
}

bool FramePool::Reserve(size_t n) {
    size_t room = 0;
    for (size_t i = current_; i < blocks_.size(); ++i) {
        room += blocks_[i].size - (i == current_ ? used_ : 0);
    }
    while (room < n) {
        if (!AddBlock(kBlockSize)) return false;
        const Block& block = blocks_.back();
        // Older kernels lack the populate advice; writing the pages has the same effect.
        if (madvise(block.bytes, block.size, MADV_POPULATE_WRITE) != 0) {
            std::memset(block.bytes, 0, block.size);
        }
        room += block.size;
    }
    return true;
}

void FramePool::Clear() {
    while (blocks_.size() > kKeptBlocks) {
        FreeBlock(blocks_.back());
        blocks_.pop_back();
    }
    current_ = 0;
    used_ = 0;
}
