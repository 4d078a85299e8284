#include "decode/LinkHeaders.h"
#include "framework/Bytes.h"

#include <algorithm>
#include <new>

bool SNAPHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::WriteBytes(cursor, remaining, organisation, sizeof organisation);
    ok &= wire::Write16(cursor, remaining, protocolId);
    return ok;
}

bool SNAPHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::ReadBytes(cursor, remaining, organisation, sizeof organisation);
    ok &= wire::Read16(cursor, remaining, protocolId);
    return ok;
}

bool LLCHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write8(cursor, remaining, dsap);
    ok &= wire::Write8(cursor, remaining, ssap);
    ok &= wire::Write8(cursor, remaining, control);
    if (dsap == kSNAPSap) ok &= snap.Build(cursor, remaining);
    return ok;
}

bool LLCHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read8(cursor, remaining, dsap);
    ok &= wire::Read8(cursor, remaining, ssap);
    ok &= wire::Read8(cursor, remaining, control);
    if (dsap == kSNAPSap) ok &= snap.Parse(cursor, remaining);
    return ok;
}

bool EthernetHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::WriteBytes(cursor, remaining, destination, sizeof destination);
    ok &= wire::WriteBytes(cursor, remaining, source, sizeof source);
    ok &= wire::Write16(cursor, remaining, typeOrLength);
    if (Is8023()) ok &= llc.Build(cursor, remaining);
    return ok;
}

bool EthernetHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::ReadBytes(cursor, remaining, destination, sizeof destination);
    ok &= wire::ReadBytes(cursor, remaining, source, sizeof source);
    // A type or length that was not there is not taken for an 802.3 length: the bytes after a
    // cut-off header are no LLC header.
    const bool typeRead = wire::Read16(cursor, remaining, typeOrLength);
    ok &= typeRead;
    if (typeRead && Is8023()) ok &= llc.Parse(cursor, remaining);
    return ok;
}

uint16_t EthernetHeader::GetType() const {
    if (!Is8023()) return typeOrLength;
    if (llc.dsap == LLCHeader::kSNAPSap) return llc.snap.protocolId;
    return llc.dsap;
}

bool ARPHeader::AllocateAddresses() {
    // Address lengths come from the packet (at most 255 bytes each); an allocation failure fails
    // the parse instead of escaping as an exception.
    try {
        senderHardware_.assign(hlen, 0);
        senderProtocol_.assign(plen, 0);
        targetHardware_.assign(hlen, 0);
        targetProtocol_.assign(plen, 0);
    } catch (const std::bad_alloc&) {
        senderHardware_.clear();
        senderProtocol_.clear();
        targetHardware_.clear();
        targetProtocol_.clear();
        return false;
    }
    return true;
}

bool ARPHeader::SetAddresses(const uint8_t* senderHardware, const uint8_t* senderProtocol,
                             const uint8_t* targetHardware, const uint8_t* targetProtocol) {
    if (!AllocateAddresses()) return false;
    std::copy_n(senderHardware, hlen, senderHardware_.begin());
    std::copy_n(senderProtocol, plen, senderProtocol_.begin());
    std::copy_n(targetHardware, hlen, targetHardware_.begin());
    std::copy_n(targetProtocol, plen, targetProtocol_.begin());
    return true;
}

bool ARPHeader::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16(cursor, remaining, hardwareType);
    ok &= wire::Write16(cursor, remaining, protocolType);
    ok &= wire::Write8(cursor, remaining, hlen);
    ok &= wire::Write8(cursor, remaining, plen);
    ok &= wire::Write16(cursor, remaining, opcode);
    ok &= wire::WriteBytes(cursor, remaining, senderHardware_.data(), senderHardware_.size());
    ok &= wire::WriteBytes(cursor, remaining, senderProtocol_.data(), senderProtocol_.size());
    ok &= wire::WriteBytes(cursor, remaining, targetHardware_.data(), targetHardware_.size());
    if (!wire::WriteBytes(cursor, remaining, targetProtocol_.data(), targetProtocol_.size())) {
        return false;
    }
    return ok;
}

bool ARPHeader::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read16(cursor, remaining, hardwareType);
    ok &= wire::Read16(cursor, remaining, protocolType);
    ok &= wire::Read8(cursor, remaining, hlen);
    ok &= wire::Read8(cursor, remaining, plen);
    ok &= wire::Read16(cursor, remaining, opcode);
    ok &= AllocateAddresses();
    if (!ok) return false;

    ok &= wire::ReadBytes(cursor, remaining, senderHardware_.data(), hlen);
    ok &= wire::ReadBytes(cursor, remaining, senderProtocol_.data(), plen);
    ok &= wire::ReadBytes(cursor, remaining, targetHardware_.data(), hlen);
    if (!wire::ReadBytes(cursor, remaining, targetProtocol_.data(), plen)) return false;
    return ok;
}

bool ARPHeader::GetIPv4Addresses(uint32_t& sender, uint32_t& target) const {
    if (plen != 4 || senderProtocol_.size() < 4 || targetProtocol_.size() < 4) return false;
    auto toHost = [](const std::vector<uint8_t>& a) { return bytes::LoadBe32(a.data()); };
    sender = toHost(senderProtocol_);
    target = toHost(targetProtocol_);
    return true;
}
