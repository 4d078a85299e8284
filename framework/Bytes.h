// Byte order and hexadecimal text, once for the whole program: loads and stores at a position the
// caller has checked, appends to a growing buffer, a bounded reader whose failure sticks, and the
// lowercase hex digits every dump and address text uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace bytes {

using Buffer = std::vector<uint8_t>;

// Loads and stores at a position known to hold the field.
inline uint16_t LoadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t LoadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[1]) << 8 | p[0];
}
inline uint64_t LoadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLe32(p + 4)) << 32 | LoadLe32(p);
}
inline uint64_t LoadBe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadBe32(p)) << 32 | LoadBe32(p + 4);
}

inline void StoreBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
    StoreBe16(p, static_cast<uint16_t>(v >> 16));
    StoreBe16(p + 2, static_cast<uint16_t>(v));
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    StoreLe16(p, static_cast<uint16_t>(v));
    StoreLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
    StoreLe32(p, static_cast<uint32_t>(v));
    StoreLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Appends to a buffer that grows.
// Room for n more bytes at the end of out; where they start.
inline uint8_t* Grow(Buffer& out, size_t n) {
    out.resize(out.size() + n);
    return out.data() + out.size() - n;
}
inline void Append8(Buffer& out, uint8_t v) { out.push_back(v); }
inline void AppendBe16(Buffer& out, uint16_t v) { StoreBe16(Grow(out, 2), v); }
inline void AppendBe32(Buffer& out, uint32_t v) { StoreBe32(Grow(out, 4), v); }
inline void AppendLe16(Buffer& out, uint16_t v) { StoreLe16(Grow(out, 2), v); }
inline void AppendLe32(Buffer& out, uint32_t v) { StoreLe32(Grow(out, 4), v); }
inline void AppendLe64(Buffer& out, uint64_t v) { StoreLe64(Grow(out, 8), v); }
inline void AppendBytes(Buffer& out, std::span<const uint8_t> more) {
    out.insert(out.end(), more.begin(), more.end());
}
inline void AppendBytes(Buffer& out, std::initializer_list<uint8_t> more) {
    out.insert(out.end(), more.begin(), more.end());
}

// A bounded view of bytes read front to back. A read that does not fit fails, returns 0 (or an
// empty span) and leaves the reader failed, so a caller checks once after a run of fields.
class Reader {
public:
    Reader() = default;
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit Reader(std::span<const uint8_t> bytes) : Reader(bytes.data(), bytes.size()) {}

    bool Ok() const { return ok_; }
    size_t Offset() const { return offset_; }
    size_t Remaining() const { return size_ - offset_; }
    const uint8_t* Position() const { return data_ + offset_; }

    uint8_t U8() { return Fits(1) ? data_[offset_++] : 0; }
    uint16_t Be16() { return Take(2, LoadBe16); }
    uint32_t Be32() { return Take(4, LoadBe32); }
    uint16_t Le16() { return Take(2, LoadLe16); }
    uint32_t Le32() { return Take(4, LoadLe32); }
    uint64_t Le64() { return Take(8, LoadLe64); }

    std::span<const uint8_t> Bytes(size_t n) {
        if (!Fits(n)) return {};
        const uint8_t* start = data_ + offset_;
        offset_ += n;
        return {start, n};
    }
    bool Skip(size_t n) { return !Bytes(n).empty() || (n == 0 && ok_); }

private:
    bool Fits(size_t n) {
        if (ok_ && n <= size_ - offset_) return true;
        ok_ = false;
        return false;
    }
    template <class T>
    T Take(size_t n, T (*load)(const uint8_t*)) {
        if (!Fits(n)) return 0;
        const T value = load(data_ + offset_);
        offset_ += n;
        return value;
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t offset_ = 0;
    bool ok_ = true;
};

// Lowercase hexadecimal digits: two a byte, no separator.
inline constexpr char kHexDigits[] = "0123456789abcdef";
inline char* PutHexByte(char* out, uint8_t v) {
    out[0] = kHexDigits[v >> 4];
    out[1] = kHexDigits[v & 0x0f];
    return out + 2;
}
inline std::string Hex(std::span<const uint8_t> in) {
    std::string text(in.size() * 2, '\0');
    char* out = text.data();
    for (uint8_t v : in) out = PutHexByte(out, v);
    return text;
}

}  // namespace bytes
