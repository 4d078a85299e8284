// Network-layer headers: IPv4, IPv6 with its hop-by-hop options header, and IPHeader, which
// holds one of each and uses the one that the version nibble names.
//
// Every field of every header class here starts at 0, so a field that a short buffer left unread
// reads as 0 afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/Packet.h"

class str;
class AddressText;

class IPv4Header : public Packet {
public:
    static constexpr uint16_t kMoreFragments = 0x2000;
    static constexpr uint16_t kOffsetMask = 0x1fff;

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void Describe(str& text) const;

    // Header length from the low nibble of the first byte, in bytes (0 to 60).
    int32_t HeaderLength() const { return (versionAndLength & 0x0f) * 4; }
    // Bytes the last Parse consumed: the fixed fields that fitted and the option bytes skipped.
    int32_t ConsumedLength() const { return consumed_; }
    bool ChecksumCorrect() const { return checksumCorrect_; }
    // Off: Parse leaves the verdict false instead of summing the header, for a walk that never
    // shows it.
    void SetChecksumCheck(bool on) { checkChecksum_ = on; }

    uint8_t versionAndLength = 0;  // the first byte as read
    uint8_t typeOfService = 0;
    uint16_t totalLength = 0;
    uint16_t identifier = 0;
    uint16_t flagsAndOffset = 0;
    uint8_t timeToLive = 0;
    uint8_t protocol = 0;
    uint16_t checksum = 0;     // as on the wire
    uint32_t source = 0;       // host order, first octet most significant
    uint32_t destination = 0;

private:
    bool checksumCorrect_ = false;
    bool checkChecksum_ = true;
    int32_t consumed_ = 0;
};

class HBHOptHeader : public Packet {
public:
    static constexpr int32_t kSize = 8;  // nothing beyond is read, whatever the length says

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void Describe(str& text) const;

    uint8_t nextHeader = 0;
    uint8_t extensionLength = 0;
    uint32_t routerAlert = 0;  // the first four option bytes as one big-endian word
    uint16_t padding = 0;      // the next two option bytes
};

class IPv6Header : public Packet {
public:
    static constexpr int32_t kFixedSize = 40;
    static constexpr uint8_t kHopByHop = 0;

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void Describe(str& text) const;

    bool HasHopByHop() const { return nextHeader == kHopByHop; }

    uint32_t versionClassFlow = 0;  // the first word as read
    uint16_t payloadLength = 0;
    uint8_t nextHeader = 0;
    uint8_t hopLimit = 0;
    uint8_t source[16] = {};
    uint8_t destination[16] = {};
    HBHOptHeader hopByHop;  // meaningful only when nextHeader is 0
};

class IPHeader : public Packet {
public:
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    // The IPv4 or IPv6 description; nothing for any other version.
    void Describe(str& text) const;

    // IPv4: the protocol; IPv6: the next header, or the hop-by-hop header's when that is 0.
    uint8_t GetProtocol() const;
    // Both address texts (replacing the strings' contents); false, untouched, unless version 4/6.
    bool GetAddressText(str& source, str& destination) const;
    bool GetAddressText(AddressText& source, AddressText& destination) const;
    // The IPv4 sub-header's addresses, whatever the version; always true.
    bool GetIPv4Addresses(uint32_t& source, uint32_t& destination) const;

    // What a transport checksum needs from the datagram around it.
    //
    // Number of transport bytes the datagram holds behind the parsed header(s): IPv4 total length
    // less the bytes the header took, IPv6 payload length less the hop-by-hop header when there
    // is one. -1 means "up to the end of the captured data": a total length too small to hold the
    // header, or a version that is neither 4 nor 6.
    int32_t TransportLength() const;
    // An IPv4 fragment other than the first: it carries no transport header.
    bool IsLaterFragment() const;
    // The first fragment of a fragmented IPv4 datagram: its transport checksum covers data that
    // is not in this frame.
    bool IsFirstFragmentOfMany() const;

    uint8_t version = 0;  // set by Parse from the high nibble of the first byte
    IPv4Header v4;
    IPv6Header v6;
};

// Steps over the option bytes of an IPv4 or TCP header: from `consumed` up to `headerLength`
// bytes from the header's start. Options are not decoded.
bool SkipHeaderOptions(const uint8_t*& cursor, int32_t& remaining, int32_t consumed,
                       int32_t headerLength);

// Address texts shared by GetAddressText and the describers.
void AppendIPv4Address(str& text, uint32_t hostOrderAddress);  // "%d.%d.%d.%d"
void AppendIPv6Address(str& text, const uint8_t address[16]);  // eight groups of "%02x%02x"
// The same text into out (kIPv6TextLength characters and the terminator); returns the length.
inline constexpr size_t kIPv6TextLength = 39;
size_t FormatIPv6Address(const uint8_t address[16], char* out);
