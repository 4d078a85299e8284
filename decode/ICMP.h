// ICMP messages: the common 8-byte header (ICMPPacket) and the message types whose body the
// decoder understands. Each class parses, builds and describes one message; DescribeICMP tries
// them in a fixed order and keeps the first whose Parse succeeds.
//
// Bytes 4 to 7 are always held as id and sequence, also where a type gives them another meaning
// (a reserved word, a gateway address, a pointer).
#pragma once

#include <cstdint>

#include "decode/IPHeaders.h"
#include "decode/Packet.h"
#include "decode/TransportHeaders.h"

class str;

class ICMPPacket : public Packet {
public:
    static constexpr int32_t kHeaderSize = 8;
    static constexpr uint8_t kICMPv6Protocol = 58;

    ICMPPacket() = default;

    // Writes type, code, the checksum as held, id (the low 16 bits of the process id) and the
    // next value of the process-wide sequence counter. Computes no checksum.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // Verifies the checksum over the message, then reads the 8 header bytes.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    // The code as "%d (Unknown)"; the classes with a table of codes name them.
    virtual void DescribeCode(str& text) const;
    virtual void Describe(str& text) const;

    // Bounds the checksum to the datagram the message travels in: without it (the arrival
    // handler, the ASCII view) the checksum covers everything up to the end of the data handed
    // to Parse. With it the message ends where the IP datagram ends, or at the end of the
    // captured data when the datagram runs beyond it; ICMPv6 over IPv6 is verified with the IPv6
    // pseudo-header.
    void SetDatagram(const IPHeader& ip);

    bool ChecksumCorrect() const { return checksumCorrect_; }
    const uint8_t* BuildStart() const { return buildStart_; }
    const uint8_t* ChecksumPosition() const { return checksumPosition_; }

    uint8_t type = 0;
    uint8_t code = 0;
    uint16_t checksum = 0;  // as found on the wire, or to be written
    uint16_t id = 0;
    uint16_t sequence = 0;

protected:
    // Parse of the common header, shared by every class.
    bool ParseHeader(const uint8_t*& cursor, int32_t& remaining);
    // Appends the code table's text for the code, or "%d (Unknown)" past its end.
    void DescribeCodeFrom(const char* const* table, int entries, str& text) const;
    // Computes the checksum over the bytes from the build start to end and stores it at the
    // checksum position; false when no build recorded one.
    bool StoreChecksum(const uint8_t* end);

private:
    bool checksumCorrect_ = false;
    uint8_t* buildStart_ = nullptr;
    uint8_t* checksumPosition_ = nullptr;

    // Set by SetDatagram: how many bytes the datagram holds for the message (-1: no bound) and
    // the pseudo-header of ICMPv6 over IPv6.
    int32_t datagramLength_ = -1;
    bool withPseudoHeader_ = false;
    PseudoHeader pseudo_{kICMPv6Protocol};
};

class ICMPTimeStampRequest : public ICMPPacket {
public:
    static constexpr uint8_t kType = 13;

    ICMPTimeStampRequest() { type = kType; }

    // Stamps the originate timestamp with the tick count, writes the message and its checksum.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void Describe(str& text) const override;

    uint32_t originateTimestamp = 0;
    uint32_t receiveTimestamp = 0;
    uint32_t transmitTimestamp = 0;

protected:
    bool ParseTimestamps(const uint8_t*& cursor, int32_t& remaining, uint8_t wantedType);
};

// Builds and describes as the request does and keeps its type preset (13): a caller that builds
// a reply sets the type itself. The request's build already leaves a correct checksum, so the
// reply has nothing to add to it.
class ICMPTimeStampResponse : public ICMPTimeStampRequest {
public:
    static constexpr uint8_t kType = 14;

    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
};

class ICMPAddressMaskRequest : public ICMPPacket {
public:
    static constexpr uint8_t kType = 17;

    ICMPAddressMaskRequest() { type = kType; }

    // Writes the message with a mask of 0 and its checksum.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void Describe(str& text) const override;

    uint32_t addressMask = 0;

protected:
    bool ParseMask(const uint8_t*& cursor, int32_t& remaining, uint8_t wantedType);
};

// Builds and describes as the request does; it only parses another type. Its type preset is 0.
class ICMPAddressMaskResponse : public ICMPAddressMaskRequest {
public:
    static constexpr uint8_t kType = 18;

    ICMPAddressMaskResponse() { type = 0; }

    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
};

class ICMPDestinationUnreachable : public ICMPPacket {
public:
    static constexpr uint8_t kType = 3;

    // Writes the header, the quoted IP header and the checksum over both.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // The header, then the quoted IP header from the rest of the message.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void DescribeCode(str& text) const override;
    void Describe(str& text) const override;

    IPHeader quoted;  // the header of the datagram that caused the error
};

class ICMPRedirect : public ICMPPacket {
public:
    static constexpr uint8_t kType = 5;

    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void DescribeCode(str& text) const override;
};

class ICMPTimeout : public ICMPPacket {
public:
    static constexpr uint8_t kType = 11;

    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void DescribeCode(str& text) const override;
};

class ICMPParameterProblem : public ICMPPacket {
public:
    static constexpr uint8_t kType = 12;

    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    void DescribeCode(str& text) const override;
};
