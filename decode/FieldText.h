// Appending fixed-width wire fields to a decode text, shared by the application decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "framework/Bytes.h"
#include "framework/str.h"

namespace fieldtext {

// A fixed-width text field: up to its first zero byte, never beyond its width (the field need
// not be zero-terminated).
inline void AppendText(str& text, const uint8_t* bytes, size_t width) {
    const char* chars = reinterpret_cast<const char*>(bytes);
    text.Append(chars, strnlen(chars, width));
}

// Bytes as two lowercase hexadecimal digits each, joined by separator (none when it is 0), built
// in a stack buffer and appended in pieces of at most 128 bytes.
inline void AppendHex(str& text, const uint8_t* data, size_t n, char separator) {
    constexpr size_t kChunk = 128;
    char line[kChunk * 3];
    for (size_t start = 0; start < n; start += kChunk) {
        size_t used = 0;
        for (size_t i = start; i < n && i < start + kChunk; ++i) {
            if (i && separator) line[used++] = separator;
            bytes::PutHexByte(line + used, data[i]);
            used += 2;
        }
        text.Append(line, used);
    }
}

}  // namespace fieldtext
