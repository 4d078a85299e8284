// Base of every protocol class and the byte-cursor convention they share.
//
// Parse and Build take an in-out cursor and an in-out remaining count and advance both past what
// they consume. Fields follow one rule: a field of width w is handled only when at least w bytes
// remain; a field that does not fit is skipped (cursor, count and the held value stay) and makes
// the result false, and handling goes on with the next field. The helpers below are that rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "framework/Bytes.h"

class Packet {
public:
    virtual bool Build(uint8_t*& cursor, int32_t& remaining) = 0;
    virtual bool Parse(const uint8_t*& cursor, int32_t& remaining) = 0;

protected:
    Packet() = default;
    Packet(const Packet&) = default;
    Packet& operator=(const Packet&) = default;
    ~Packet() = default;
};

// One's-complement Internet checksum summed in swapped byte order (first byte low): a block that
// carries a correct checksum yields 0 in the low 16 bits; a length of 0 or less yields 0xffff.
uint32_t InternetChecksum(const uint8_t* bytes, int32_t length);

namespace wire {

inline bool Fits(int32_t remaining, size_t width) {
    return remaining >= 0 && static_cast<size_t>(remaining) >= width;
}

inline bool ReadBytes(const uint8_t*& cursor, int32_t& remaining, void* out, size_t n) {
    if (!Fits(remaining, n)) return false;
    if (n) std::memcpy(out, cursor, n);
    cursor += n;
    remaining -= static_cast<int32_t>(n);
    return true;
}

inline bool Read8(const uint8_t*& cursor, int32_t& remaining, uint8_t& value) {
    if (!Fits(remaining, 1)) return false;
    value = cursor[0];
    cursor += 1;
    remaining -= 1;
    return true;
}

inline bool Read16(const uint8_t*& cursor, int32_t& remaining, uint16_t& value) {
    if (!Fits(remaining, 2)) return false;
    value = bytes::LoadBe16(cursor);
    cursor += 2;
    remaining -= 2;
    return true;
}

inline bool Read32(const uint8_t*& cursor, int32_t& remaining, uint32_t& value) {
    if (!Fits(remaining, 4)) return false;
    value = bytes::LoadBe32(cursor);
    cursor += 4;
    remaining -= 4;
    return true;
}

// Little-endian reads, for the one little-endian wire format (DEC DNA information items).
inline bool Read16LE(const uint8_t*& cursor, int32_t& remaining, uint16_t& value) {
    if (!Fits(remaining, 2)) return false;
    value = bytes::LoadLe16(cursor);
    cursor += 2;
    remaining -= 2;
    return true;
}

inline bool Skip(const uint8_t*& cursor, int32_t& remaining, size_t n) {
    if (!Fits(remaining, n)) return false;
    cursor += n;
    remaining -= static_cast<int32_t>(n);
    return true;
}

inline bool WriteBytes(uint8_t*& cursor, int32_t& remaining, const void* in, size_t n) {
    if (!Fits(remaining, n)) return false;
    if (n) std::memcpy(cursor, in, n);
    cursor += n;
    remaining -= static_cast<int32_t>(n);
    return true;
}

inline bool Write8(uint8_t*& cursor, int32_t& remaining, uint8_t value) {
    return WriteBytes(cursor, remaining, &value, 1);
}

inline bool Write16(uint8_t*& cursor, int32_t& remaining, uint16_t value) {
    uint8_t b[2];
    bytes::StoreBe16(b, value);
    return WriteBytes(cursor, remaining, b, 2);
}

inline bool Write32(uint8_t*& cursor, int32_t& remaining, uint32_t value) {
    uint8_t b[4];
    bytes::StoreBe32(b, value);
    return WriteBytes(cursor, remaining, b, 4);
}

inline bool Write16LE(uint8_t*& cursor, int32_t& remaining, uint16_t value) {
    uint8_t b[2];
    bytes::StoreLe16(b, value);
    return WriteBytes(cursor, remaining, b, 2);
}

}  // namespace wire
