#include "decode/NetBIOS.h"

#include <cstring>

#include "decode/FieldText.h"

void EncodeNetBIOSName(const char* name, uint8_t* destination, int32_t length, bool padWithZero) {
    if (length <= 0) return;
    std::memset(destination, 'A', static_cast<size_t>(length));
    const size_t nameLength = name ? strnlen(name, 16) : 0;
    for (int32_t i = 0; i < 16 && 2 * i + 1 < length; ++i) {
        uint8_t* letters = destination + 2 * i;
        if (static_cast<size_t>(i) < nameLength) {
            const uint8_t byte = static_cast<uint8_t>(name[i]);
            letters[0] = static_cast<uint8_t>(letters[0] + (byte >> 4));
            letters[1] = static_cast<uint8_t>(letters[1] + (byte & 0x0f));
        } else if (padWithZero) {
            break;  // the remaining letters stay AA
        } else {
            letters[0] = static_cast<uint8_t>(letters[0] + 2);  // CA: a blank
        }
    }
}

void DecodeNetBIOSName(uint8_t* buffer, int32_t length) {
    int32_t out = 0;
    // Only complete pairs are decoded, so nothing beyond the given letters is read.
    for (int32_t i = 0; i + 1 < length; i += 2) {
        const uint8_t high = static_cast<uint8_t>((buffer[i] - 'A') << 4);
        const uint8_t low = static_cast<uint8_t>(buffer[i + 1] - 'A');
        buffer[out++] = static_cast<uint8_t>(high | low);
    }
    buffer[out] = 0;
}

// --- NBNSQuestion ---

bool NBNSQuestion::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write8(cursor, remaining, nameLength_);
    EncodeNetBIOSName("*", name_, kMaxNameLength, true);
    ok = wire::WriteBytes(cursor, remaining, name_, sizeof name_) && ok;
    ok = wire::Write8(cursor, remaining, nameTerminator_) && ok;
    ok = wire::Write16(cursor, remaining, type_) && ok;
    ok = wire::Write16(cursor, remaining, class_) && ok;
    return ok;
}

bool NBNSQuestion::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read8(cursor, remaining, nameLength_);
    // Longer lengths are compression pointers or scoped names, which this decoder does not follow.
    if (nameLength_ > kMaxNameLength) return false;
    ok = wire::ReadBytes(cursor, remaining, name_, nameLength_) && ok;
    DecodeNetBIOSName(name_, nameLength_);
    ok = wire::Read8(cursor, remaining, nameTerminator_) && ok;
    ok = wire::Read16(cursor, remaining, type_) && ok;
    ok = wire::Read16(cursor, remaining, class_) && ok;
    return ok;
}

void NBNSQuestion::AppendName(str& text) const {
    text += "\r\n\tName: ";
    fieldtext::AppendText(text, name_, sizeof name_);
}

void NBNSQuestion::Describe(str& text) const {
    text += "\r\nNBNS Question";
    AppendName(text);
    text.AppendFormat("\r\n\tType: 0x%04x", type_);
    text.AppendFormat("\r\n\tClass: 0x%04x", class_);
}

// --- NBNSResourceRecord ---

bool NBNSResourceRecord::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = NBNSQuestion::Build(cursor, remaining);
    ok = wire::Write32(cursor, remaining, ttl_) && ok;
    ok = wire::Write16(cursor, remaining, dataLength_) && ok;
    return ok;
}

bool NBNSResourceRecord::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = NBNSQuestion::Parse(cursor, remaining);
    ok = wire::Read32(cursor, remaining, ttl_) && ok;
    return wire::Read16(cursor, remaining, dataLength_) && ok;
}

void NBNSResourceRecord::Describe(str& text) const {
    text += "\r\nNBNS Resource Record";
    AppendName(text);
    text.AppendFormat("\r\n\tType: 0x%04x", type_);
    text.AppendFormat("\r\n\tClass: 0x%04x", class_);
    text.AppendFormat("\r\n\tTTL: 0x%08x", ttl_);
    text.AppendFormat("\r\n\tDataLen: 0x%04x", dataLength_);
}

// --- NBNSAddr and NBNSAddressRecord ---

bool NBNSAddr::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16(cursor, remaining, flags_);
    return wire::Write32(cursor, remaining, address_) && ok;
}

bool NBNSAddr::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read16(cursor, remaining, flags_);
    return wire::Read32(cursor, remaining, address_) && ok;
}

bool NBNSAddressRecord::Parse(const uint8_t*& cursor, int32_t& remaining) {
    const bool ok = NBNSResourceRecord::Parse(cursor, remaining);
    if (dataLength_ >= 6) addr_.Parse(cursor, remaining);
    return ok;
}

// --- NBNSPacket and NBNSNameQuery ---

bool NBNSPacket::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write16(cursor, remaining, transactionId_);
    ok = wire::Write16(cursor, remaining, flags_) && ok;
    ok = wire::Write16(cursor, remaining, questionCount_) && ok;
    ok = wire::Write16(cursor, remaining, answerCount_) && ok;
    ok = wire::Write16(cursor, remaining, authorityCount_) && ok;
    ok = wire::Write16(cursor, remaining, additionalCount_) && ok;
    if (questionCount_ != 0) ok = question_.Build(cursor, remaining) && ok;
    return ok;
}

bool NBNSPacket::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Read16(cursor, remaining, transactionId_);
    ok = wire::Read16(cursor, remaining, flags_) && ok;
    ok = wire::Read16(cursor, remaining, questionCount_) && ok;
    ok = wire::Read16(cursor, remaining, answerCount_) && ok;
    ok = wire::Read16(cursor, remaining, authorityCount_) && ok;
    ok = wire::Read16(cursor, remaining, additionalCount_) && ok;
    // One question and one answer whatever the counts say.
    if (questionCount_ != 0) ok = question_.Parse(cursor, remaining) && ok;
    if (answerCount_ != 0) ok = AnswerRecord().Parse(cursor, remaining) && ok;
    return ok;
}

void NBNSPacket::Describe(str& text) {
    text += "NetBIOS Name Query Packet";
    text.AppendFormat("\r\n\tTransaction ID: 0x%04x", transactionId_);
    text.AppendFormat("\r\n\tFlags: 0x%04x", flags_);
    text.AppendFormat("\r\n\tQuestions: %d", questionCount_);
    text.AppendFormat("\r\n\tAnswers: %d", answerCount_);
    text.AppendFormat("\r\n\tAuthorities: %d", authorityCount_);
    text.AppendFormat("\r\n\tAdditionals: %d", additionalCount_);
    if (questionCount_ != 0) question_.Describe(text);
    if (answerCount_ != 0) AnswerRecord().Describe(text);
}

NBNSNameQuery::NBNSNameQuery() {
    transactionId_ = kTransactionId;
    flags_ = 0;
    questionCount_ = 1;
    answerCount_ = 0;
    authorityCount_ = 0;
    additionalCount_ = 0;
}
