// NetBIOS name service (port 137): a message header with one question and one answer record,
// names in first-level encoding (each byte as two letters 'A' + nibble).
#pragma once

#include <cstdint>

#include "decode/Packet.h"
#include "framework/str.h"

// Writes the first-level encoding of up to 16 bytes of name into destination: length letters,
// all 'A' at first; bytes after the 16th are ignored. A name shorter than 16 bytes is padded
// with zero bytes (letters AA; with padWithZero the letters are simply left as 'A') or with
// blanks (letters CA).
void EncodeNetBIOSName(const char* name, uint8_t* destination, int32_t length, bool padWithZero);

// Decodes length encoded letters in place: each complete pair of letters becomes one byte,
// written from the start of the buffer and followed by a zero byte. A length of 0 or 1 gives
// empty text. The buffer must hold at least max(length, 1) bytes.
void DecodeNetBIOSName(uint8_t* buffer, int32_t length);

// The common base of the name service classes; it adds nothing.
class NetBIOSPacket : public Packet {
protected:
    NetBIOSPacket() = default;
    ~NetBIOSPacket() = default;
};

class NBNSQuestion : public NetBIOSPacket {
public:
    static constexpr uint8_t kMaxNameLength = 32;

    NBNSQuestion() = default;
    // Writes the stored name length, then the wildcard name "*" (replacing the stored name),
    // the terminator, type and class.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // Reads and decodes the name; a name length above 32 fails at once.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    void Describe(str& text) const;

    uint8_t NameLength() const { return nameLength_; }
    // The decoded name after a parse, the encoded letters after a build; at most 32 bytes, not
    // necessarily zero-terminated.
    const uint8_t* Name() const { return name_; }
    uint16_t Type() const { return type_; }
    uint16_t Class() const { return class_; }

protected:
    void AppendName(str& text) const;

    uint8_t nameLength_ = kMaxNameLength;
    uint8_t name_[kMaxNameLength] = {};
    uint8_t nameTerminator_ = 0;
    uint16_t type_ = 0x21;
    uint16_t class_ = 1;
};

class NBNSResourceRecord : public NBNSQuestion {
public:
    NBNSResourceRecord() = default;
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual ~NBNSResourceRecord() = default;

    // The record block: name, type, class, TTL and data length (no record data).
    void Describe(str& text) const;

    uint32_t TTL() const { return ttl_; }
    uint16_t DataLength() const { return dataLength_; }

protected:
    uint32_t ttl_ = 0;
    uint16_t dataLength_ = 0;
};

// The address entry of an address record: flags and an IPv4 address.
class NBNSAddr : public NetBIOSPacket {
public:
    NBNSAddr() = default;
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    uint16_t Flags() const { return flags_; }
    uint32_t Address() const { return address_; }  // host order

private:
    uint16_t flags_ = 0;
    uint32_t address_ = 0;
};

class NBNSAddressRecord : public NBNSResourceRecord {
public:
    NBNSAddressRecord() = default;
    // The record, then the address entry when the data length is 6 or more; the entry's result
    // does not change the record's.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    const NBNSAddr& Addr() const { return addr_; }

private:
    NBNSAddr addr_;
};

class NBNSPacket : public NetBIOSPacket {
public:
    static constexpr int32_t kHeaderSize = 12;

    // Writes the header and, when the question count is not 0, the question; no record.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // Reads the header, one question when the count is not 0 and one answer record when that
    // count is not 0. Authority and additional records are not read.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    // The record object that an answer is parsed into.
    virtual NBNSResourceRecord& AnswerRecord() = 0;

    void Describe(str& text);

    uint16_t TransactionId() const { return transactionId_; }
    uint16_t Flags() const { return flags_; }
    uint16_t QuestionCount() const { return questionCount_; }
    uint16_t AnswerCount() const { return answerCount_; }
    const NBNSQuestion& Question() const { return question_; }

protected:
    NBNSPacket() = default;
    ~NBNSPacket() = default;  // no virtual destructor: never deleted through this base

    uint16_t transactionId_ = 0;
    uint16_t flags_ = 0;
    uint16_t questionCount_ = 0;
    uint16_t answerCount_ = 0;
    uint16_t authorityCount_ = 0;
    uint16_t additionalCount_ = 0;
    NBNSQuestion question_;
};

class NBNSNameQuery : public NBNSPacket {
public:
    static constexpr uint16_t kTransactionId = 1234;

    // A query for one name: transaction id 1234, flags 0, one question, no records.
    NBNSNameQuery();
    NBNSResourceRecord& AnswerRecord() override { return answer_; }

    const NBNSAddressRecord& Answer() const { return answer_; }

private:
    NBNSAddressRecord answer_;
};
