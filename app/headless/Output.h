// Standard output gathered in a large block and written with one call per block: a listing or a
// description of a full store is megabytes in many small pieces.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

class HeadlessOutput {
public:
    HeadlessOutput() { buffer_.reserve(kFlushAt + 4096); }
    ~HeadlessOutput() { Flush(); }
    HeadlessOutput(const HeadlessOutput&) = delete;
    HeadlessOutput& operator=(const HeadlessOutput&) = delete;

    void Add(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kFlushAt) Flush();
    }
    void Add(char c) { buffer_.push_back(c); }
    void Flush() {
        if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        buffer_.clear();
    }

private:
    static constexpr size_t kFlushAt = 1 << 18;
    std::string buffer_;
};
