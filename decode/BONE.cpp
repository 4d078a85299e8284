#include "decode/BONE.h"

#include <iterator>
#include <new>

#include "decode/FieldText.h"
#include "framework/Bytes.h"

namespace {

// A wide text field: little-endian UTF-16 up to its first zero character, never beyond its
// width, converted to the string's 8-bit text.
template <size_t Width>
void AppendWideText(str& text, const uint8_t (&field)[Width]) {
    char16_t wide[Width / 2];
    size_t n = 0;
    for (; n < Width / 2; ++n) {
        wide[n] = static_cast<char16_t>(bytes::LoadLe16(&field[2 * n]));
        if (wide[n] == 0) break;
    }
    text.AppendUTF16(wide, n);
}

void AppendHardwareAddress(str& text, const uint8_t (&address)[6]) {
    fieldtext::AppendHex(text, address, sizeof address, '-');
}

}  // namespace

// --- BONEPacket ---

const char* BONETypeName(uint8_t type) {
    static constexpr const char* kNames[] = {
        "Station Query Request",       "Station Query Response",
        "Alert",                       "Security Check",
        "Security Response, NO PMODE", "Security Monitor Announcement",
    };
    return type < std::size(kNames) ? kNames[type] : "Weird";
}

bool BONEPacket::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write32(cursor, remaining, firstWord_);
    ok = wire::Write8(cursor, remaining, type_) && ok;
    ok = wire::Write8(cursor, remaining, flags_) && ok;
    ok = wire::WriteBytes(cursor, remaining, opaque_, sizeof opaque_) && ok;
    ok = wire::Write32(cursor, remaining, incrementingValue_) && ok;
    ok = wire::WriteBytes(cursor, remaining, hostName_, sizeof hostName_) && ok;
    ok = wire::WriteBytes(cursor, remaining, userName_, sizeof userName_) && ok;
    ok = wire::Write32(cursor, remaining, secondWord_) && ok;
    ok = wire::WriteBytes(cursor, remaining, permanentAddress_, sizeof permanentAddress_) && ok;
    ok = wire::WriteBytes(cursor, remaining, currentAddress_, sizeof currentAddress_) && ok;
    ok = wire::WriteBytes(cursor, remaining, hostNameWide_, sizeof hostNameWide_) && ok;
    ok = wire::WriteBytes(cursor, remaining, userNameWide_, sizeof userNameWide_) && ok;
    return ok;
}

bool BONEPacket::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read32(cursor, remaining, firstWord_);
    ok = wire::Read8(cursor, remaining, type_) && ok;
    ok = wire::Read8(cursor, remaining, flags_) && ok;
    ok = wire::ReadBytes(cursor, remaining, opaque_, sizeof opaque_) && ok;
    ok = wire::Read32(cursor, remaining, incrementingValue_) && ok;
    ok = wire::ReadBytes(cursor, remaining, hostName_, sizeof hostName_) && ok;
    ok = wire::ReadBytes(cursor, remaining, userName_, sizeof userName_) && ok;
    ok = wire::Read32(cursor, remaining, secondWord_) && ok;
    ok = wire::ReadBytes(cursor, remaining, permanentAddress_, sizeof permanentAddress_) && ok;
    ok = wire::ReadBytes(cursor, remaining, currentAddress_, sizeof currentAddress_) && ok;
    ok = wire::ReadBytes(cursor, remaining, hostNameWide_, sizeof hostNameWide_) && ok;
    ok = wire::ReadBytes(cursor, remaining, userNameWide_, sizeof userNameWide_) && ok;
    return ok;
}

void BONEPacket::Describe(str& text) const {
    text += "BONE ";
    text += BONETypeName(type_);
    text += " Packet";
    text.AppendFormat("\r\n\tFlags: 0x%02x", flags_);
    text.AppendFormat("\r\n\tIncrementing Value: 0x%08x", incrementingValue_);
    text += "\r\n\tHardware Address (Permanent): ";
    AppendHardwareAddress(text, permanentAddress_);
    text += "\r\n\tHardware Address (Current): ";
    AppendHardwareAddress(text, currentAddress_);
    text += "\r\n\tHost Name (ASCII): ";
    fieldtext::AppendText(text, hostName_, sizeof hostName_);
    text += "\r\n\tHost Name (UNICODE): ";
    AppendWideText(text, hostNameWide_);
    text += "\r\n\tUser Name (ASCII): ";
    fieldtext::AppendText(text, userName_, sizeof userName_);
    text += "\r\n\tUser Name (UNICODE): ";
    AppendWideText(text, userNameWide_);
}

// --- DECDNAInfo ---

void AppendDECDNALabel(str& text, uint16_t type) {
    switch (type) {
    case 1: text += "Maintenance Version: "; break;
    case 2: text += "Functions: "; break;
    case 3: text += "Console User: "; break;
    case 4: text += "Reservation Timer: "; break;
    case 5: text += "Console Command Size: "; break;
    case 6: text += "Console Response Size: "; break;
    case 7: text += "Hardware Address: "; break;
    case 8: text += "System Time: "; break;
    case 100: text += "Communication Device: "; break;
    case 200: text += "Software Id: "; break;
    case 300: text += "System Processor: "; break;
    case 400: text += "Data Link: "; break;
    case 401: text += "Data Link Buffer Size: "; break;
    default: text.AppendFormat("Unknown (Type 0x%02x): ", type); break;
    }
}

bool DECDNAInfo::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16LE(cursor, remaining, type_);
    ok = wire::Write8(cursor, remaining, length_) && ok;
    if (value_ && !wire::WriteBytes(cursor, remaining, value_.get(), length_)) return false;
    return ok;
}

bool DECDNAInfo::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read16LE(cursor, remaining, type_);
    ok = wire::Read8(cursor, remaining, length_) && ok;
    if (length_ == 0) return ok;

    value_.reset(new (std::nothrow) uint8_t[length_]());
    // Without room for the value the item stands without it, and the value bytes stay unread.
    if (!value_) return ok;
    if (!wire::ReadBytes(cursor, remaining, value_.get(), length_)) return false;
    return ok;
}

void DECDNAInfo::Describe(str& text) const {
    text += "\r\n\t";
    AppendDECDNALabel(text, type_);
    if (value_) fieldtext::AppendHex(text, value_.get(), length_, 0);
    text += "\n";
}

// --- DECDNARCSystemIDPacket ---

bool DECDNARCSystemIDPacket::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16LE(cursor, remaining, length_);
    ok = wire::Write8(cursor, remaining, code_) && ok;
    ok = wire::Write8(cursor, remaining, reserved_) && ok;
    ok = wire::Write16LE(cursor, remaining, receiptNumber_) && ok;
    return ok;
}

bool DECDNARCSystemIDPacket::Parse(const uint8_t*& cursor, int32_t& remaining) {
    // A second parse of the same object starts a fresh item list.
    if (items_.Count() > 0) items_.RemoveAll();

    bool ok = wire::Read16LE(cursor, remaining, length_);
    if (length_ > remaining) return false;
    ok = wire::Read8(cursor, remaining, code_) && ok;
    ok = wire::Read8(cursor, remaining, reserved_) && ok;
    ok = wire::Read16LE(cursor, remaining, receiptNumber_) && ok;

    // Every item that parses consumes at least its three header bytes, so this ends.
    for (;;) {
        std::unique_ptr<DECDNAInfo> item(new (std::nothrow) DECDNAInfo);
        if (!item || !item->Parse(cursor, remaining)) break;
        if (items_.Add(item.get())) item.release();
    }
    return ok;
}

void DECDNARCSystemIDPacket::Describe(str& text) const {
    text += "DEC DNA Remote Console System ID packet";
    text.AppendFormat("\r\n\tCode: 0x%02x", code_);
    text.AppendFormat("\r\n\tReserved: 0x%02x", reserved_);
    text.AppendFormat("\r\n\tReceiptNo: 0x%04x", receiptNumber_);
    for (const DECDNAInfo* item : items_) item->Describe(text);
}
