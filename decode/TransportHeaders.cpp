#include "decode/TransportHeaders.h"

#include <algorithm>
#include <cstring>

namespace {

// The folded, uncomplemented one's-complement sum of a block, recovered from InternetChecksum.
uint32_t OnesSum(const uint8_t* bytes, int32_t length) {
    return ~InternetChecksum(bytes, length) & 0xffff;
}

}  // namespace

const char* VerdictText(ChecksumVerdict verdict) {
    switch (verdict) {
    case ChecksumVerdict::Correct:
        return "Correct";
    case ChecksumVerdict::Incorrect:
        return "Incorrect";
    case ChecksumVerdict::Unchecked:
        break;
    }
    return "Unchecked";
}

bool PseudoHeader::Set(const IPHeader& ip) {
    const bool result = ip.GetIPv4Addresses(source_, destination_);
    if (ip.version == 4 || ip.version == 6) {
        version_ = ip.version;
        std::memcpy(source6_, ip.v6.source, sizeof source6_);
        std::memcpy(destination6_, ip.v6.destination, sizeof destination6_);
        transportLength_ = ip.TransportLength();
        fragmented_ = ip.IsFirstFragmentOfMany() || ip.IsLaterFragment();
    } else {
        version_ = 0;
        transportLength_ = -1;
        fragmented_ = false;
    }
    return result;
}

uint32_t PseudoHeader::Sum() const {
    uint8_t block[40];
    uint8_t* cursor = block;
    int32_t room = sizeof block;
    if (version_ == 6) {
        wire::WriteBytes(cursor, room, source6_, sizeof source6_);
        wire::WriteBytes(cursor, room, destination6_, sizeof destination6_);
        wire::Write32(cursor, room, length_);
        const uint8_t zeros[3] = {};
        wire::WriteBytes(cursor, room, zeros, sizeof zeros);
        wire::Write8(cursor, room, protocol_);
    } else {
        wire::Write32(cursor, room, source_);
        wire::Write32(cursor, room, destination_);
        wire::Write8(cursor, room, 0);
        wire::Write8(cursor, room, protocol_);
        wire::Write16(cursor, room, static_cast<uint16_t>(length_));
    }
    return OnesSum(block, static_cast<int32_t>(cursor - block));
}

ChecksumVerdict PseudoHeader::Verify(const uint8_t* start, int32_t remaining,
                                     bool verifyCapturedWhenCutShort) {
    const int32_t captured = std::max<int32_t>(remaining, 0);
    int32_t verified = captured;
    length_ = 0;
    if (version_ != 0) {
        if (fragmented_) return ChecksumVerdict::Unchecked;
        if (transportLength_ > captured) {
            if (!verifyCapturedWhenCutShort) return ChecksumVerdict::Unchecked;
        } else if (transportLength_ >= 0) {
            verified = transportLength_;
        }
    }
    // The IPv4 pseudo-header holds 16 bits of length (the plain form keeps the low 16 bits of a
    // longer count), the IPv6 one 32.
    length_ = version_ == 6 ? static_cast<uint32_t>(verified) : verified & 0xffffu;

    // No scratch copy of pseudo-header plus message: the one's-complement sum of concatenated
    // blocks is the one's-complement sum of the blocks' sums, and since the pseudo-header is 12
    // or 40 bytes (even) the message's bytes pair up exactly as they would behind it.
    uint32_t sum = Sum() + OnesSum(start, verified);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return sum == 0xffff ? ChecksumVerdict::Correct : ChecksumVerdict::Incorrect;
}

bool TCPHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16(cursor, remaining, sourcePort);
    ok &= wire::Write16(cursor, remaining, destPort);
    ok &= wire::Write32(cursor, remaining, sequence);
    ok &= wire::Write32(cursor, remaining, acknowledgement);
    ok &= wire::Write8(cursor, remaining, dataOffset);
    ok &= wire::Write8(cursor, remaining, flags);
    ok &= wire::Write16(cursor, remaining, window);
    ok &= wire::Write16(cursor, remaining, checksum);
    ok &= wire::Write16(cursor, remaining, urgentPointer);
    return ok;
}

bool TCPHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const int32_t atEntry = remaining;
    bool ok = wire::Read16(cursor, remaining, sourcePort);
    ok &= wire::Read16(cursor, remaining, destPort);
    ok &= wire::Read32(cursor, remaining, sequence);
    ok &= wire::Read32(cursor, remaining, acknowledgement);
    ok &= wire::Read8(cursor, remaining, dataOffset);
    ok &= wire::Read8(cursor, remaining, flags);
    ok &= wire::Read16(cursor, remaining, window);
    ok &= wire::Read16(cursor, remaining, checksum);
    ok &= wire::Read16(cursor, remaining, urgentPointer);
    ok &= SkipHeaderOptions(cursor, remaining, atEntry - remaining, HeaderLength());
    return ok;
}

bool TCPv4Header::Parse(const uint8_t*& cursor, int32_t& remaining) {
    verdict_ = pseudo_.Verify(cursor, remaining);
    return TCPHeader::Parse(cursor, remaining);
}

bool UDPHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16(cursor, remaining, sourcePort);
    ok &= wire::Write16(cursor, remaining, destPort);
    ok &= wire::Write16(cursor, remaining, length);
    ok &= wire::Write16(cursor, remaining, checksum);
    return ok;
}

bool UDPHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read16(cursor, remaining, sourcePort);
    ok &= wire::Read16(cursor, remaining, destPort);
    ok &= wire::Read16(cursor, remaining, length);
    ok &= wire::Read16(cursor, remaining, checksum);
    return ok;
}

bool UDPv4Header::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const uint8_t* const start = cursor;
    const int32_t atEntry = remaining;
    const bool ok = UDPHeader::Parse(cursor, remaining);
    // Over IPv4 a checksum field of 0 means the sender computed none.
    if (pseudo_.FromIPHeader() && !pseudo_.IsIPv6() && checksum == 0) {
        verdict_ = ChecksumVerdict::Unchecked;
    } else {
        verdict_ = pseudo_.Verify(start, atEntry);
    }
    return ok;
}
