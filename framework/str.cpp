#include "framework/str.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "framework/ErrorLog.h"

bool EqualIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == 0) return true;
    }
}

namespace {

// Each octet's digits and their count, as four bytes to copy at once.
struct OctetText {
    char digits[4];
    uint8_t length;
};
constexpr std::array<OctetText, 256> kOctetTexts = [] {
    std::array<OctetText, 256> texts{};
    for (int value = 0; value < 256; ++value) {
        OctetText& text = texts[value];
        if (value >= 100) text.digits[text.length++] = static_cast<char>('0' + value / 100);
        if (value >= 10) text.digits[text.length++] = static_cast<char>('0' + value / 10 % 10);
        text.digits[text.length++] = static_cast<char>('0' + value % 10);
    }
    return texts;
}();

}  // namespace

// Every arriving IP frame formats two addresses: four table look-ups each, where converting the
// octets one by one cost a tenth of storing a frame.
size_t FormatIPv4(uint32_t a, char* out) {
    char* p = out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const OctetText& octet = kOctetTexts[(a >> shift) & 0xff];
        // May write a byte beyond the digits; it is overwritten next, and the last octet starts
        // at most 12 bytes in, so the 16-byte buffer holds it.
        std::memcpy(p, octet.digits, sizeof octet.digits);
        p += octet.length;
        *p++ = '.';
    }
    *--p = '\0';
    return static_cast<size_t>(p - out);
}

str::str() = default;

str::str(const char* text) { *this = text; }

str::str(const str& other) { *this = other.c_str(); }

str::str(str&& other) noexcept { *this = std::move(other); }

str::~str() { delete[] heap_; }

// Growth and shrink rule: up to 31 characters live inline; a heap buffer grows to n + 257 so
// that a run of appends reallocates rarely, and is shrunk to fit when it holds more than 256
// characters of slack.
bool str::SetSize(size_t n) {
    if (n < kInline) {
        if (!inline_ && shrinkAllowed_) {
            length_ = std::min(length_, kInline - 1);
            std::memcpy(inlineBuf_, heap_, length_);
            inlineBuf_[length_] = 0;
            delete[] heap_;
            heap_ = nullptr;
            capacity_ = 0;
            inline_ = true;
        }
        return true;
    }
    const size_t needed = n + 1;
    const size_t current = inline_ ? 0 : capacity_;
    size_t newCapacity;
    if (needed > current) {
        newCapacity = n + 1 + kSlack;
    } else if (shrinkAllowed_ && current > n + 1 + kSlack) {
        newCapacity = needed;
    } else {
        return true;
    }
    char* buffer = new (std::nothrow) char[newCapacity]();
    if (!buffer) {
        Report(nullptr, 0, "str::SetSize - failed to allocate sufficient memory!", 3);
        return Capacity() >= needed;
    }
    length_ = std::min(length_, newCapacity - 1);
    std::memcpy(buffer, c_str(), length_);
    buffer[length_] = 0;
    delete[] heap_;
    heap_ = buffer;
    capacity_ = newCapacity;
    inline_ = false;
    return true;
}

bool str::Reserve(size_t n) {
    if (n < Capacity()) return true;
    shrinkAllowed_ = false;
    return SetSize(n);
}

str& str::Assign(const char* buffer, size_t n) {
    if (!buffer) {
        SetLength(0);
        return *this;
    }
    const char* own = c_str();
    if (std::less_equal<const char*>()(own, buffer) &&
        std::less<const char*>()(buffer, own + Capacity())) {
        // Assigning (part of) our own text: drop what stands before it, keep at most n.
        if (buffer == own && n >= length_) return *this;
        RemoveFirst(static_cast<size_t>(buffer - own));
        if (n < length_) SetLength(n);
        return *this;
    }
    n = strnlen(buffer, n);
    if (!SetSize(n)) throw OutOfMemory();
    std::memcpy(Buffer(), buffer, n);
    length_ = n;
    Buffer()[n] = 0;
    return *this;
}

str& str::operator=(const char* text) { return Assign(text, text ? std::strlen(text) : 0); }

str& str::operator=(const str& other) {
    if (this != &other) Assign(other.c_str(), other.length_);
    return *this;
}

str& str::operator=(str&& other) noexcept {
    if (this == &other) return *this;
    delete[] heap_;
    std::memcpy(inlineBuf_, other.inlineBuf_, kInline);
    heap_ = other.heap_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    inline_ = other.inline_;
    shrinkAllowed_ = other.shrinkAllowed_;
    other.heap_ = nullptr;
    other.inline_ = true;
    other.length_ = 0;
    other.capacity_ = 0;
    other.inlineBuf_[0] = 0;
    return *this;
}

str& str::operator=(int32_t value) {
    char scratch[256];
    int n = std::snprintf(scratch, sizeof scratch, "%d", value);
    if (n < 0) {
        Report(nullptr, 0, "str::= StringCchPrintf failed.", 3);
        return *this;
    }
    return Assign(scratch, static_cast<size_t>(n));
}

str& str::operator=(uint32_t value) {
    char scratch[256];
    int n = std::snprintf(scratch, sizeof scratch, "%u", value);
    if (n < 0) {
        Report(nullptr, 0, "str::= StringCchPrintf failed.", 3);
        return *this;
    }
    return Assign(scratch, static_cast<size_t>(n));
}

str& str::AssignIPv4(uint32_t a) {
    SetLength(0);
    return AppendIPv4(a);
}

str& str::AppendIPv4(uint32_t a) {
    char text[16];
    return Append(text, FormatIPv4(a, text));
}

str& str::Append(const char* text, size_t n) {
    if (!text || n == 0) return *this;
    const char* own = c_str();
    if (std::less_equal<const char*>()(own, text) && std::less<const char*>()(text, own + Capacity())) {
        // Appending a piece of ourselves: growing may move the buffer, so copy it out first.
        str copy;
        copy.Assign(text, n);
        return Append(copy.c_str(), copy.Length());
    }
    if (!SetSize(length_ + n)) {
        Report(nullptr, 0, "str += failed to set new size!", 3);
        return *this;
    }
    char* buffer = Buffer();
    std::memcpy(buffer + length_, text, n);
    length_ += n;
    buffer[length_] = 0;
    return *this;
}

str& str::operator+=(const char* text) { return Append(text, text ? std::strlen(text) : 0); }

str& str::operator+=(const str& other) { return Append(other.c_str(), other.length_); }

str& str::operator+=(char c) { return c ? Append(&c, 1) : *this; }

str& str::AppendInt(int32_t value) { return AppendFormat("%d", value); }

str& str::AppendU16(uint16_t value) { return AppendFormat("%d", value); }

str& str::AppendHex32(uint32_t value) { return AppendFormat("0x%08x", value); }

str& str::AppendFormat(const char* format, ...) {
    char scratch[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(scratch, sizeof scratch, format, args);
    va_end(args);
    if (n < 0) return *this;
    if (static_cast<size_t>(n) < sizeof scratch) return Append(scratch, static_cast<size_t>(n));
    // Rare long result: format straight into our own grown buffer.
    if (!SetSize(length_ + static_cast<size_t>(n))) {
        Report(nullptr, 0, "str += failed to set new size!", 3);
        return *this;
    }
    va_start(args, format);
    std::vsnprintf(Buffer() + length_, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    length_ += static_cast<size_t>(n);
    return *this;
}

// UTF-16 to the 8-bit locale text, which is UTF-8 on our platform. Written out because the
// standard library's converters for this (wstring_convert, codecvt) are deprecated.
str& str::AppendUTF16(const char16_t* text, size_t n) {
    if (!text) return *this;
    for (size_t i = 0; i < n && text[i]; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xd800 && cp <= 0xdbff && i + 1 < n && text[i + 1] >= 0xdc00 &&
            text[i + 1] <= 0xdfff) {
            cp = 0x10000 + ((cp - 0xd800) << 10) + (text[i + 1] - 0xdc00);
            ++i;
        } else if (cp >= 0xd800 && cp <= 0xdfff) {
            cp = 0xfffd;
        }
        char out[4];
        size_t len;
        if (cp < 0x80) {
            out[0] = static_cast<char>(cp);
            len = 1;
        } else if (cp < 0x800) {
            out[0] = static_cast<char>(0xc0 | cp >> 6);
            out[1] = static_cast<char>(0x80 | (cp & 0x3f));
            len = 2;
        } else if (cp < 0x10000) {
            out[0] = static_cast<char>(0xe0 | cp >> 12);
            out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out[2] = static_cast<char>(0x80 | (cp & 0x3f));
            len = 3;
        } else {
            out[0] = static_cast<char>(0xf0 | cp >> 18);
            out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
            out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out[3] = static_cast<char>(0x80 | (cp & 0x3f));
            len = 4;
        }
        Append(out, len);
    }
    return *this;
}

str& str::Prepend(const char* text) {
    if (!text || !*text) return *this;
    str joined(text);
    joined += *this;
    return *this = std::move(joined);
}

char str::At(long index) const {
    if (index < 0 || static_cast<size_t>(index) >= length_) return 0;
    return c_str()[index];
}

bool str::operator==(const char* text) const {
    return EqualIgnoringAsciiCase(c_str(), text ? text : "");
}

int str::ToInt() const { return std::atoi(c_str()); }

void str::RemoveFirst(size_t n) {
    if (n >= length_) {
        SetLength(0);
        return;
    }
    char* buffer = Buffer();
    std::memmove(buffer, buffer + n, length_ - n);
    length_ -= n;
    buffer[length_] = 0;
}

void str::SetLength(size_t n) {
    length_ = std::min(n, Capacity() - 1);
    Buffer()[length_] = 0;
}

void str::TrimLeft(const char* characters) {
    if (!characters) return;
    RemoveFirst(std::strspn(c_str(), characters));
}

bool str::RemoveBefore(const char* text, bool includingText) {
    if (!text) return false;
    const char* found = std::strstr(c_str(), text);
    if (!found) return false;
    size_t n = static_cast<size_t>(found - c_str());
    if (includingText) n += std::strlen(text);
    RemoveFirst(n);
    return true;
}

bool str::CutAtLast(const char* text) {
    if (!text || !*text) return false;
    const char* last = nullptr;
    for (const char* p = std::strstr(c_str(), text); p; p = std::strstr(p + 1, text)) last = p;
    if (!last) return false;
    SetLength(static_cast<size_t>(last - c_str()));
    return true;
}

bool str::Split(char c, str& after) {
    const char* found = std::strchr(c_str(), c);
    if (!c || !found) {
        after.SetLength(0);
        return false;
    }
    after = found + 1;
    SetLength(static_cast<size_t>(found - c_str()));
    return true;
}

void str::Release() {
    delete[] heap_;
    heap_ = nullptr;
    capacity_ = 0;
    inline_ = true;
    shrinkAllowed_ = true;
    length_ = 0;
    inlineBuf_[0] = 0;
}
