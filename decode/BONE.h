// Two link-layer payloads with decoders of their own: the BONE station message (802.3, DSAP 3)
// and the DEC DNA remote console system identification (Ethernet type 0x6002).
#pragma once

#include <cstdint>
#include <memory>

#include "decode/Array.h"
#include "decode/Packet.h"
#include "framework/str.h"

class BONEPacket : public Packet {
public:
    static constexpr int32_t kWireSize = 180;

    BONEPacket() = default;
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual ~BONEPacket() = default;

    void Describe(str& text) const;

    uint8_t Type() const { return type_; }

private:
    uint32_t firstWord_ = 0;
    uint8_t type_ = 0;
    uint8_t flags_ = 0;
    uint8_t opaque_[10] = {};
    uint32_t incrementingValue_ = 0;
    uint8_t hostName_[16] = {};  // 8-bit text, not necessarily zero-terminated
    uint8_t userName_[32] = {};  // 8-bit text, not necessarily zero-terminated
    uint32_t secondWord_ = 0;
    uint8_t permanentAddress_[6] = {};
    uint8_t currentAddress_[6] = {};
    uint8_t hostNameWide_[32] = {};  // 16 UTF-16 little-endian characters, as on the wire
    uint8_t userNameWide_[64] = {};  // 32 UTF-16 little-endian characters, as on the wire
};

// The name of a BONE message type; "Weird" for any type without one.
const char* BONETypeName(uint8_t type);

// One information item of a DEC DNA system identification: type (little-endian), length and
// length bytes of value, which the item owns.
class DECDNAInfo : public Packet {
public:
    DECDNAInfo() = default;
    // False when the value does not fit; the result is otherwise that of type and length.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // False when type, length or the value is cut short.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual ~DECDNAInfo() = default;  // the value goes with its owner

    // "\r\n\t" + label + the value as hexadecimal digits + a bare line feed.
    void Describe(str& text) const;

    uint16_t Type() const { return type_; }
    uint8_t Length() const { return length_; }
    const uint8_t* Value() const { return value_.get(); }  // null when there is none

private:
    uint16_t type_ = 0;
    uint8_t length_ = 0;
    std::unique_ptr<uint8_t[]> value_;
};

// The label shown before an information item's value, e.g. "Functions: ".
void AppendDECDNALabel(str& text, uint16_t type);

class DECDNARCSystemIDPacket : public Packet {
public:
    DECDNARCSystemIDPacket() = default;
    // Writes the header; the items are not written.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // Reads the header and then items to the end of the data (not only to the end the length
    // field gives); an item cut short ends the list. The items do not change the result.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual ~DECDNARCSystemIDPacket() = default;  // the items go with the PtrArray

    void Describe(str& text) const;

    uint16_t Length() const { return length_; }
    const PtrArray<DECDNAInfo*>& Items() const { return items_; }

private:
    uint16_t length_ = 0;  // of what follows; little-endian on the wire
    uint8_t code_ = 0;
    uint8_t reserved_ = 0;
    uint16_t receiptNumber_ = 0;  // little-endian on the wire
    PtrArray<DECDNAInfo*> items_;
};
