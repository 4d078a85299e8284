// Growable, zero-terminated 8-bit text: every decode text, status text, setting value and log
// message is assembled in one. Short texts live in a 32-character inline buffer so that the
// common case (an IPv4 address, a port, a label) costs no heap allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

// Thrown by an assignment that cannot make room; the only exception the program throws.
class OutOfMemory : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "Out of memory."; }
};

// Equality ignoring the case of ASCII letters, the comparison of every text the user types.
bool EqualIgnoringAsciiCase(const char* a, const char* b);
// "%d.%d.%d.%d", most significant byte first, into out (16 characters with the terminator);
// returns the length.
size_t FormatIPv4(uint32_t hostOrderAddress, char* out);

class str {
public:
    static constexpr size_t kInline = 32;   // inline buffer, terminator included
    static constexpr size_t kSlack = 256;   // heap growth beyond the request

    str();
    str(const char* text);
    str(const str& other);
    str(str&& other) noexcept;
    ~str();

    // Makes room for n characters (plus the terminator); see the .cpp for the growth and shrink rule.
    bool SetSize(size_t n);
    // Makes room for n characters at once and keeps it: a text that will be built from many
    // appends (a packet description) then grows without reallocating on the way.
    bool Reserve(size_t n);

    // Assignment. These throw OutOfMemory when the room cannot be made.
    str& operator=(const char* text);
    str& operator=(const str& other);
    str& operator=(str&& other) noexcept;
    str& Assign(const char* buffer, size_t n);  // first n characters (stops at a zero byte)
    str& operator=(int32_t value);              // "%d"
    str& operator=(uint32_t value);             // "%u"
    str& AssignIPv4(uint32_t hostOrderAddress); // "%d.%d.%d.%d", most significant byte first

    // Appending. A failure to grow is reported and leaves the string unchanged.
    str& operator+=(const char* text);
    str& operator+=(const str& other);
    str& operator+=(char c);
    str& Append(const char* text, size_t n);    // exactly n bytes (may hold any value but 0)
    str& AppendInt(int32_t value);              // "%d"
    str& AppendU16(uint16_t value);             // "%d"
    str& AppendHex32(uint32_t value);           // "0x%08x"
    str& AppendIPv4(uint32_t hostOrderAddress); // "%d.%d.%d.%d", most significant byte first
    str& AppendUTF16(const char16_t* text, size_t n);  // converted to the locale's 8-bit text (UTF-8)
    str& AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

    str& Prepend(const char* text);

    size_t Length() const { return length_; }
    size_t Capacity() const { return inline_ ? kInline : capacity_; }
    bool Empty() const { return length_ == 0; }
    char At(long index) const;  // 0 outside the text
    const char* c_str() const { return inline_ ? inlineBuf_ : heap_; }
    // Direct access for callers that fill the buffer themselves, then call SetLength.
    char* Buffer() { return inline_ ? inlineBuf_ : heap_; }

    // Equality ignoring the case of ASCII letters; a null text equals the empty string.
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator==(const str& other) const { return *this == other.c_str(); }

    int ToInt() const;  // leading decimal digits, 0 if none

    void RemoveFirst(size_t n);
    void SetLength(size_t n);                      // clamped to capacity - 1
    void TrimLeft(const char* characters);
    bool RemoveBefore(const char* text, bool includingText = false);
    bool CutAtLast(const char* text);
    bool Split(char c, str& after);
    void Release();
    void Clear() { SetLength(0); }

private:
    char inlineBuf_[kInline] = {};
    char* heap_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;  // of the heap buffer, terminator included
    bool inline_ = true;
    bool shrinkAllowed_ = true;
};
