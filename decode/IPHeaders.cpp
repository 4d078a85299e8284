#include "decode/IPHeaders.h"

#include "decode/PacketRecord.h"
#include "framework/Bytes.h"
#include "framework/str.h"

bool SkipHeaderOptions(const uint8_t*& cursor, int32_t& remaining, int32_t consumed,
                       int32_t headerLength) {
    // One byte at a time, so that options running past the data still consume what is there.
    bool ok = true;
    for (int32_t i = consumed; i < headerLength; ++i) ok &= wire::Skip(cursor, remaining, 1);
    return ok;
}

bool IPv4Header::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write8(cursor, remaining, versionAndLength);
    ok &= wire::Write8(cursor, remaining, typeOfService);
    ok &= wire::Write16(cursor, remaining, totalLength);
    ok &= wire::Write16(cursor, remaining, identifier);
    ok &= wire::Write16(cursor, remaining, flagsAndOffset);
    ok &= wire::Write8(cursor, remaining, timeToLive);
    ok &= wire::Write8(cursor, remaining, protocol);
    ok &= wire::Write16(cursor, remaining, checksum);
    ok &= wire::Write32(cursor, remaining, source);
    ok &= wire::Write32(cursor, remaining, destination);
    return ok;
}

bool IPv4Header::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const uint8_t* const start = cursor;
    const int32_t atEntry = remaining;

    bool ok = wire::Read8(cursor, remaining, versionAndLength);
    ok &= wire::Read8(cursor, remaining, typeOfService);
    ok &= wire::Read16(cursor, remaining, totalLength);
    ok &= wire::Read16(cursor, remaining, identifier);
    ok &= wire::Read16(cursor, remaining, flagsAndOffset);
    ok &= wire::Read8(cursor, remaining, timeToLive);
    ok &= wire::Read8(cursor, remaining, protocol);
    ok &= wire::Read16(cursor, remaining, checksum);
    ok &= wire::Read32(cursor, remaining, source);
    ok &= wire::Read32(cursor, remaining, destination);

    // A header length that runs past the data cannot be verified without reading beyond it.
    const int32_t headerLength = HeaderLength();
    checksumCorrect_ = checkChecksum_ && headerLength <= atEntry &&
                       (InternetChecksum(start, headerLength) & 0xffff) == 0;

    ok &= SkipHeaderOptions(cursor, remaining, atEntry - remaining, headerLength);
    consumed_ = atEntry - remaining;
    return ok;
}

bool HBHOptHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write8(cursor, remaining, nextHeader);
    ok &= wire::Write8(cursor, remaining, extensionLength);
    ok &= wire::Write32(cursor, remaining, routerAlert);
    ok &= wire::Write16(cursor, remaining, padding);
    return ok;
}

bool HBHOptHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read8(cursor, remaining, nextHeader);
    ok &= wire::Read8(cursor, remaining, extensionLength);
    ok &= wire::Read32(cursor, remaining, routerAlert);
    ok &= wire::Read16(cursor, remaining, padding);
    return ok;
}

bool IPv6Header::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write32(cursor, remaining, versionClassFlow);
    ok &= wire::Write16(cursor, remaining, payloadLength);
    ok &= wire::Write8(cursor, remaining, nextHeader);
    ok &= wire::Write8(cursor, remaining, hopLimit);
    ok &= wire::WriteBytes(cursor, remaining, source, sizeof source);
    ok &= wire::WriteBytes(cursor, remaining, destination, sizeof destination);
    return ok;
}

bool IPv6Header::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read32(cursor, remaining, versionClassFlow);
    ok &= wire::Read16(cursor, remaining, payloadLength);
    ok &= wire::Read8(cursor, remaining, nextHeader);
    ok &= wire::Read8(cursor, remaining, hopLimit);
    ok &= wire::ReadBytes(cursor, remaining, source, sizeof source);
    ok &= wire::ReadBytes(cursor, remaining, destination, sizeof destination);
    if (HasHopByHop()) ok &= hopByHop.Parse(cursor, remaining);
    return ok;
}

bool IPHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    if (version == 4) return v4.Build(cursor, remaining);
    if (version == 6) return v6.Build(cursor, remaining);
    return false;
}

bool IPHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    if (remaining < 1) return false;
    // The sub-header reads the first byte again.
    version = cursor[0] >> 4;
    if (version == 4) return v4.Parse(cursor, remaining);
    if (version == 6) return v6.Parse(cursor, remaining);
    return false;
}

uint8_t IPHeader::GetProtocol() const {
    if (version == 4) return v4.protocol;
    if (version == 6) return v6.HasHopByHop() ? v6.hopByHop.nextHeader : v6.nextHeader;
    return 0;
}

namespace {

// A row's texts and a description's strings take the same texts.
template <class Text>
bool FillAddressTexts(const IPHeader& ip, Text& source, Text& destination) {
    if (ip.version != 4 && ip.version != 6) return false;
    char text[kIPv6TextLength + 1];
    if (ip.version == 4) {
        source.Assign(text, FormatIPv4(ip.v4.source, text));
        destination.Assign(text, FormatIPv4(ip.v4.destination, text));
    } else {
        source.Assign(text, FormatIPv6Address(ip.v6.source, text));
        destination.Assign(text, FormatIPv6Address(ip.v6.destination, text));
    }
    return true;
}

}  // namespace

bool IPHeader::GetAddressText(str& source, str& destination) const {
    return FillAddressTexts(*this, source, destination);
}

bool IPHeader::GetAddressText(AddressText& source, AddressText& destination) const {
    return FillAddressTexts(*this, source, destination);
}

bool IPHeader::GetIPv4Addresses(uint32_t& source, uint32_t& destination) const {
    source = v4.source;
    destination = v4.destination;
    return true;
}

int32_t IPHeader::TransportLength() const {
    if (version == 4) {
        // The datagram ends at header start + total length; the transport data starts behind
        // what the header parse consumed.
        const int32_t header = v4.ConsumedLength();
        return v4.totalLength >= header ? v4.totalLength - header : -1;
    }
    if (version == 6) {
        const int32_t extension = v6.HasHopByHop() ? HBHOptHeader::kSize : 0;
        return v6.payloadLength >= extension ? v6.payloadLength - extension : -1;
    }
    return -1;
}

bool IPHeader::IsLaterFragment() const {
    return version == 4 && (v4.flagsAndOffset & IPv4Header::kOffsetMask) != 0;
}

bool IPHeader::IsFirstFragmentOfMany() const {
    return version == 4 && (v4.flagsAndOffset & IPv4Header::kMoreFragments) != 0 &&
           (v4.flagsAndOffset & IPv4Header::kOffsetMask) == 0;
}

void AppendIPv4Address(str& text, uint32_t a) { text.AppendIPv4(a); }

// Eight groups of four lowercase hex digits, no zero compression. Formatted by hand because
// every arriving IPv6 frame formats two of these and printf costs more than the rest of the
// arrival together.
size_t FormatIPv6Address(const uint8_t a[16], char* out) {
    char* p = out;
    for (int i = 0; i < 16; ++i) {
        if (i && i % 2 == 0) *p++ = ':';
        p = bytes::PutHexByte(p, a[i]);
    }
    *p = '\0';
    return kIPv6TextLength;
}

void AppendIPv6Address(str& text, const uint8_t a[16]) {
    char out[kIPv6TextLength + 1];
    text.Append(out, FormatIPv6Address(a, out));
}
