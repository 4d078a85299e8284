#include "decode/ICMP.h"
#include "framework/Bytes.h"

#include <atomic>
#include <iterator>
#include <unistd.h>

#include "framework/Tick.h"
#include "framework/str.h"

namespace {

// Shared by every build of every ICMP class, so that builds on different threads never share a
// sequence number.
std::atomic<uint32_t> sequenceCounter{0};

const char* TypeName(uint8_t type) {
    switch (type) {
    case 0: return "Echo Reply";
    case 3: return "Destination Unreachable";
    case 4: return "Source Quench";
    case 5: return "Redirect";
    case 8: return "Echo Request";
    case 9: return "Router Advertisement";
    case 10: return "Router Solicitation";
    case 11: return "Time Exceeded";
    case 12: return "Parameter Problem";
    case 13: return "Timestamp Request";
    case 14: return "Timestamp Reply";
    case 15: return "Information Request";
    case 16: return "Information Reply";
    case 17: return "Address Mask Request";
    case 18: return "Address Mask Reply";
    case 133: return "v6 Router Solicitation";
    case 135: return "v6 Neighbour Solicitation";
    case 143: return "v6 Multicast Listener Report";
    default: return nullptr;
    }
}

constexpr const char* kUnreachableCodes[] = {
    "network unreachable",
    "host unreachable",
    "protocol unreachable",
    "port unreachable",
    "frag needed but don't fragment bit set",
    "source route failed",
    "destination net unknown",
    "destination host unknown",
    "source host isolated",
    "destination network administratively prohibited",
    "destination host administratively prohibited",
    "network unreachable for TOS",
    "host unreachable for TOS",
    "communication filtered",
    "host precedence violation",
    "precedence cutoff in effect",
};

constexpr const char* kRedirectCodes[] = {
    "redirect for network",
    "redirect for host",
    "redirect for TOS and network",
    "redirect for TOS and host",
};

constexpr const char* kTimeoutCodes[] = {
    "TTL == 0 in transit",
    "TTL == 0 in reassembly",
};

constexpr const char* kParameterProblemCodes[] = {
    "IP header bad",
    "required option missing",
};

}  // namespace

// ICMPPacket

void ICMPPacket::SetDatagram(const IPHeader& ip) {
    datagramLength_ = ip.TransportLength();
    withPseudoHeader_ = ip.version == 6 && ip.GetProtocol() == kICMPv6Protocol;
    if (withPseudoHeader_) pseudo_.Set(ip);
}

bool ICMPPacket::ParseHeader(const uint8_t*& cursor, int32_t& remaining) {
    // The checksum covers the whole message, so it is verified before anything is read.
    if (withPseudoHeader_) {
        checksumCorrect_ =
            pseudo_.Verify(cursor, remaining, true) == ChecksumVerdict::Correct;
    } else {
        int32_t length = remaining;
        if (datagramLength_ >= 0 && datagramLength_ < remaining) length = datagramLength_;
        checksumCorrect_ = (InternetChecksum(cursor, length) & 0xffff) == 0;
    }

    bool ok = wire::Read8(cursor, remaining, type);
    ok &= wire::Read8(cursor, remaining, code);
    ok &= wire::Read16(cursor, remaining, checksum);
    ok &= wire::Read16(cursor, remaining, id);
    ok &= wire::Read16(cursor, remaining, sequence);
    return ok;
}

bool ICMPPacket::Parse(const uint8_t*& cursor, int32_t& remaining) {
    return ParseHeader(cursor, remaining);
}

bool ICMPPacket::Build(uint8_t*& cursor, int32_t& remaining) {
    id = static_cast<uint16_t>(getpid());
    sequence = static_cast<uint16_t>(sequenceCounter.fetch_add(1, std::memory_order_relaxed) + 1);

    buildStart_ = cursor;
    checksumPosition_ = nullptr;
    bool ok = wire::Write8(cursor, remaining, type);
    ok &= wire::Write8(cursor, remaining, code);
    // Only a position whose two bytes were written may receive a computed checksum later.
    uint8_t* const position = cursor;
    if (wire::Write16(cursor, remaining, checksum)) {
        checksumPosition_ = position;
    } else {
        ok = false;
    }
    ok &= wire::Write16(cursor, remaining, id);
    ok &= wire::Write16(cursor, remaining, sequence);
    return ok;
}

bool ICMPPacket::StoreChecksum(const uint8_t* end) {
    if (!checksumPosition_ || !buildStart_) return false;
    // Computed with the field zeroed, so that computing it again over the same message (as a
    // derived build may) gives the same value.
    checksumPosition_[0] = checksumPosition_[1] = 0;
    const uint32_t sum = InternetChecksum(buildStart_, static_cast<int32_t>(end - buildStart_));
    // The routine sums with the first byte low, so its low byte is the first on the wire.
    bytes::StoreLe16(checksumPosition_, static_cast<uint16_t>(sum));
    checksum = bytes::LoadBe16(checksumPosition_);
    return true;
}

void ICMPPacket::DescribeCode(str& text) const { text.AppendFormat("%d (Unknown)", code); }

void ICMPPacket::DescribeCodeFrom(const char* const* table, int entries, str& text) const {
    if (code < entries) {
        text += table[code];
    } else {
        ICMPPacket::DescribeCode(text);
    }
}

void ICMPPacket::Describe(str& text) const {
    text += "ICMP ";
    if (const char* name = TypeName(type)) {
        text += name;
    } else {
        text.AppendFormat("Type %d", type);
    }
    text += " Packet\r\n\tCode: ";
    DescribeCode(text);
    text.AppendFormat("\r\n\tChecksum: 0x%04x (%s)", checksum,
                      checksumCorrect_ ? "Correct" : "Incorrect");
    text.AppendFormat("\r\n\tID: 0x%04x\r\n\tSeq: 0x%04x", id, sequence);
}

// Timestamps

bool ICMPTimeStampRequest::ParseTimestamps(const uint8_t*& cursor, int32_t& remaining,
                                           uint8_t wantedType) {
    bool ok = ParseHeader(cursor, remaining);
    ok &= wire::Read32(cursor, remaining, originateTimestamp);
    ok &= wire::Read32(cursor, remaining, receiveTimestamp);
    ok &= wire::Read32(cursor, remaining, transmitTimestamp);
    return ok && type == wantedType;
}

bool ICMPTimeStampRequest::Parse(const uint8_t*& cursor, int32_t& remaining) {
    return ParseTimestamps(cursor, remaining, kType);
}

bool ICMPTimeStampRequest::Build(uint8_t*& cursor, int32_t& remaining) {
    originateTimestamp = TickCount();
    bool ok = ICMPPacket::Build(cursor, remaining);
    ok &= wire::Write32(cursor, remaining, originateTimestamp);
    ok &= wire::Write32(cursor, remaining, receiveTimestamp);
    ok &= wire::Write32(cursor, remaining, transmitTimestamp);
    ok &= StoreChecksum(cursor);
    return ok;
}

void ICMPTimeStampRequest::Describe(str& text) const {
    ICMPPacket::Describe(text);
    text.AppendFormat("\r\n\tOriginating Timestamp: %08x", originateTimestamp);
    text.AppendFormat("\r\n\tReceive Timestamp: %08x", receiveTimestamp);
    text.AppendFormat("\r\n\tTransmit Timestamp: %08x", transmitTimestamp);
}

bool ICMPTimeStampResponse::Parse(const uint8_t*& cursor, int32_t& remaining) {
    return ParseTimestamps(cursor, remaining, kType);
}

// Address masks

bool ICMPAddressMaskRequest::ParseMask(const uint8_t*& cursor, int32_t& remaining,
                                       uint8_t wantedType) {
    bool ok = ParseHeader(cursor, remaining);
    ok &= wire::Read32(cursor, remaining, addressMask);
    return ok && type == wantedType;
}

bool ICMPAddressMaskRequest::Parse(const uint8_t*& cursor, int32_t& remaining) {
    return ParseMask(cursor, remaining, kType);
}

bool ICMPAddressMaskRequest::Build(uint8_t*& cursor, int32_t& remaining) {
    addressMask = 0;
    bool ok = ICMPPacket::Build(cursor, remaining);
    ok &= wire::Write32(cursor, remaining, addressMask);
    ok &= StoreChecksum(cursor);
    return ok;
}

void ICMPAddressMaskRequest::Describe(str& text) const {
    ICMPPacket::Describe(text);
    text += "\r\n\tMask: ";
    AppendIPv4Address(text, addressMask);
}

bool ICMPAddressMaskResponse::Parse(const uint8_t*& cursor, int32_t& remaining) {
    return ParseMask(cursor, remaining, kType);
}

// Destination unreachable

bool ICMPDestinationUnreachable::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = ParseHeader(cursor, remaining);
    ok &= quoted.Parse(cursor, remaining);
    return ok && type == kType;
}

bool ICMPDestinationUnreachable::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = ICMPPacket::Build(cursor, remaining);
    ok &= quoted.Build(cursor, remaining);
    ok &= StoreChecksum(cursor);
    return ok;
}

void ICMPDestinationUnreachable::DescribeCode(str& text) const {
    DescribeCodeFrom(kUnreachableCodes, static_cast<int>(std::size(kUnreachableCodes)), text);
}

void ICMPDestinationUnreachable::Describe(str& text) const {
    ICMPPacket::Describe(text);
    text += "\r\n";
    quoted.Describe(text);
}

// The types without a body of their own

bool ICMPRedirect::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const bool ok = ParseHeader(cursor, remaining);
    return ok && type == kType;
}

void ICMPRedirect::DescribeCode(str& text) const {
    DescribeCodeFrom(kRedirectCodes, static_cast<int>(std::size(kRedirectCodes)), text);
}

bool ICMPTimeout::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const bool ok = ParseHeader(cursor, remaining);
    return ok && type == kType;
}

void ICMPTimeout::DescribeCode(str& text) const {
    DescribeCodeFrom(kTimeoutCodes, static_cast<int>(std::size(kTimeoutCodes)), text);
}

bool ICMPParameterProblem::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const bool ok = ParseHeader(cursor, remaining);
    return ok && type == kType;
}

void ICMPParameterProblem::DescribeCode(str& text) const {
    DescribeCodeFrom(kParameterProblemCodes, static_cast<int>(std::size(kParameterProblemCodes)),
                     text);
}
