// Transport-layer headers: TCP and UDP, and their checksum-verifying forms TCPv4Header and
// UDPv4Header, which take the pseudo-header from the IP header in front of them.
//
// Every header field here starts at 0; the pseudo-header's protocol is fixed by the class (6 or
// 17), and the verdict starts as "Incorrect" until a parse sets it.
#pragma once

#include <cstdint>

#include "decode/IPHeaders.h"
#include "decode/Packet.h"

class str;

enum class ChecksumVerdict { Unchecked, Correct, Incorrect };

// "Correct", "Incorrect" or "Unchecked".
const char* VerdictText(ChecksumVerdict verdict);

// The pseudo-header of a transport checksum (TCP, UDP, ICMPv6) and the verification that uses it.
//
// Set from a parsed IP header it knows the IP version, the addresses and how many transport
// bytes the datagram holds, so that a verification covers the transport message up to the end of
// the datagram (never link-layer padding behind it) with the pseudo-header of that IP version.
// Without an IP header it keeps the plain form: an IPv4 pseudo-header of the held addresses
// (zeros unless set) over everything up to the end of the data.
class PseudoHeader {
public:
    explicit PseudoHeader(uint8_t protocol) : protocol_(protocol) {}

    // Takes the addresses, the transport length and the fragment state; always true, like the
    // IP header's GetIPv4Addresses. A version other than 4 or 6 keeps the plain form.
    bool Set(const IPHeader& ip);

    // Verifies the checksum of the transport message at `start`, of which `remaining` bytes were
    // captured. Unchecked when the message covers data not in this frame: a fragmented datagram,
    // or a datagram cut short before its end (unless `verifyCapturedWhenCutShort`, which then
    // verifies the captured bytes).
    ChecksumVerdict Verify(const uint8_t* start, int32_t remaining,
                           bool verifyCapturedWhenCutShort = false);

    bool FromIPHeader() const { return version_ != 0; }
    bool IsIPv6() const { return version_ == 6; }
    uint8_t Protocol() const { return protocol_; }
    // The upper-layer length the last verification put into the pseudo-header (the number of
    // bytes it verified); 0 before any.
    uint32_t Length() const { return length_; }

private:
    uint32_t Sum() const;  // of the pseudo-header with the current length

    uint32_t source_ = 0;       // IPv4 pseudo-header addresses, host order
    uint32_t destination_ = 0;
    uint8_t protocol_;
    uint32_t length_ = 0;
    uint8_t version_ = 0;       // 0: not set from an IP header
    uint8_t source6_[16] = {};
    uint8_t destination6_[16] = {};
    int32_t transportLength_ = -1;
    bool fragmented_ = false;
};

class TCPHeader : public Packet {
public:
    static constexpr uint8_t kFIN = 0x01, kSYN = 0x02, kRST = 0x04, kPSH = 0x08, kACK = 0x10,
                             kURG = 0x20;

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual const char* ChecksumStatus() const { return VerdictText(ChecksumVerdict::Unchecked); }
    void Describe(str& text) const;

    uint16_t GetSourcePort() const { return sourcePort; }
    uint16_t GetDestPort() const { return destPort; }
    // Header length from the high nibble of the data offset byte, in bytes (0 to 60).
    int32_t HeaderLength() const { return (dataOffset >> 4) * 4; }

    uint16_t sourcePort = 0;
    uint16_t destPort = 0;
    uint32_t sequence = 0;
    uint32_t acknowledgement = 0;
    uint8_t dataOffset = 0;  // the byte as read: header length in 32-bit words in the high nibble
    uint8_t flags = 0;
    uint16_t window = 0;
    uint16_t checksum = 0;
    uint16_t urgentPointer = 0;
};

class TCPv4Header : public TCPHeader {
public:
    static constexpr uint8_t kProtocol = 6;

    // Parses the header and verifies the checksum; the verdict does not enter the result.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    const char* ChecksumStatus() const override { return VerdictText(verdict_); }

    // Takes the pseudo-header from the parsed IP header; call before Parse.
    bool SetPseudoHeader(const IPHeader& ip) { return pseudo_.Set(ip); }
    ChecksumVerdict Verdict() const { return verdict_; }
    const PseudoHeader& Pseudo() const { return pseudo_; }

private:
    PseudoHeader pseudo_{kProtocol};
    ChecksumVerdict verdict_ = ChecksumVerdict::Incorrect;
};

class UDPHeader : public Packet {
public:
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual const char* ChecksumStatus() const { return VerdictText(ChecksumVerdict::Unchecked); }
    void Describe(str& text) const;

    uint16_t GetSourcePort() const { return sourcePort; }
    uint16_t GetDestPort() const { return destPort; }

    uint16_t sourcePort = 0;
    uint16_t destPort = 0;
    uint16_t length = 0;  // not compared with anything
    uint16_t checksum = 0;
};

class UDPv4Header : public UDPHeader {
public:
    static constexpr uint8_t kProtocol = 17;

    // Parses the header and verifies the checksum; the verdict does not enter the result.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    const char* ChecksumStatus() const override { return VerdictText(verdict_); }

    // Takes the pseudo-header from the parsed IP header; call before Parse.
    bool SetPseudoHeader(const IPHeader& ip) { return pseudo_.Set(ip); }
    ChecksumVerdict Verdict() const { return verdict_; }
    const PseudoHeader& Pseudo() const { return pseudo_; }

private:
    PseudoHeader pseudo_{kProtocol};
    ChecksumVerdict verdict_ = ChecksumVerdict::Incorrect;
};
