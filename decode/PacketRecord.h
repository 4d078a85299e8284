// One stored frame: what its packet-list row shows and an owned copy of its bytes. The store that
// holds records lives above the decoders; the decoders see only the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "framework/str.h"

// A row's address text: at most 39 characters (an IPv6 address written out in full), held in
// place. In a growable string an IPv6 text needs a heap buffer, and two of those for every IPv6
// frame were the largest single cost of storing frames at top speed.
class AddressText {
public:
    static constexpr size_t kMaxLength = 39;

    AddressText& operator=(const char* text) { return Assign(text, text ? std::strlen(text) : 0); }
    // The first n characters, cut at kMaxLength.
    AddressText& Assign(const char* text, size_t n) {
        length_ = static_cast<uint8_t>(n < kMaxLength ? n : kMaxLength);
        if (length_) std::memcpy(text_, text, length_);
        text_[length_] = '\0';
        return *this;
    }
    void Clear() { Assign(nullptr, 0); }

    const char* c_str() const { return text_; }
    size_t Length() const { return length_; }
    bool Empty() const { return length_ == 0; }
    // Ignoring the case of ASCII letters; a null text equals the empty one.
    bool operator==(const char* text) const { return EqualIgnoringAsciiCase(text_, text ? text : ""); }
    bool operator!=(const char* text) const { return !(*this == text); }

private:
    char text_[kMaxLength + 1] = {};
    uint8_t length_ = 0;
};

// A record's frame bytes: its own (the default: freed with the record) or lent by the store,
// which frees the bytes of all its records at once when it is cleared.
struct FrameBytesDeleter {
    bool owned = true;
    void operator()(uint8_t* bytes) const {
        if (owned) delete[] bytes;
    }
};
using FrameBytes = std::unique_ptr<uint8_t[], FrameBytesDeleter>;

// Two cache lines, what saving a record reads first: a file writer walking the store touches one
// line of each record.
struct alignas(64) PacketRecord {
    uint32_t index = 0;
    uint32_t timeOffset = 0;  // ms from the capture start tick, or as the file gives it
    uint16_t frameType = 0;   // 1 raw IP datagram, 2 Ethernet frame
    uint16_t isIp = 0;
    uint32_t length = 0;
    FrameBytes data;
    uint16_t protocol = 0;    // IP protocol when isIp, else the link protocol type
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    AddressText source;       // empty when the frame gives none
    AddressText destination;
};
