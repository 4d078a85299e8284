// The status packet that remote-who daemons broadcast on UDP port 513: the sending host, its load
// averages and boot time, and one entry per logged-in user.
#pragma once

#include <cstdint>

#include "decode/Array.h"
#include "decode/Packet.h"
#include "framework/str.h"

// One logged-in user: 24 bytes on the wire.
class rwhoEntry : public Packet {
public:
    static constexpr int32_t kWireSize = 24;

    rwhoEntry() = default;
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual ~rwhoEntry() = default;

    // "\r\n\tTerm: ..., UID: ..., Time: 0x..., Idle: 0x..."
    void Describe(str& text) const;

private:
    uint8_t terminal_[8] = {};  // not necessarily zero-terminated
    uint8_t user_[8] = {};      // not necessarily zero-terminated
    uint32_t loginTime_ = 0;
    uint32_t idle_ = 0;
};

class rwhoPacket : public Packet {
public:
    static constexpr int32_t kFixedSize = 60;

    rwhoPacket() = default;
    // Sets send and boot time to now and the host name to the local one, then writes the fixed
    // part; the entries are not written.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;
    virtual ~rwhoPacket() = default;  // the entries go with the PtrArray that owns them

    void Describe(str& text) const;

    const PtrArray<rwhoEntry*>& Entries() const { return entries_; }
    uint32_t SendTime() const { return sendTime_; }
    uint32_t BootTime() const { return bootTime_; }

private:
    uint8_t version_ = 1;
    uint8_t type_ = 1;
    uint16_t pad_ = 0xBFFF;  // the two wire bytes in host byte order, never converted
    uint32_t sendTime_ = 0;
    uint32_t receiveTime_ = 0x01000000;
    uint8_t hostName_[32] = {};
    uint32_t loadAverage_[3] = {};
    uint32_t bootTime_ = 0;
    PtrArray<rwhoEntry*> entries_;
};

// Replaces text with the UTC date and time of a Unix time (taken as signed 32-bit seconds): the
// locale's short date, a blank and the 24-hour time. Empty when the date cannot be computed.
void FormatUnixTime(uint32_t time, str& text);
