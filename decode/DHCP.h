// The BOOTP message that DHCP shares (UDP port 67), with a text line for each DHCP option.
#pragma once

#include <cstdint>
#include <span>

#include "decode/Packet.h"
#include "framework/str.h"

// One row of the option table: the code, its display name and whether its value is text
// (shown up to its first zero byte) or hexadecimal bytes joined by ":".
struct DHCPOption {
    uint8_t code;
    const char* name;
    bool isText;
};

// The 104 known options in code order.
std::span<const DHCPOption> DHCPOptionTable();
// The row for a code, or null when the code has none.
const DHCPOption* FindDHCPOption(uint8_t code);

class DHCPPacket : public Packet {
public:
    static constexpr uint32_t kMagic = 0x63825363;
    static constexpr int32_t kFixedSize = 236;  // everything before the magic

    DHCPPacket() = default;
    // Writes the fixed part (offsets 0 to 235); neither the magic nor any option.
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    // Reads the fixed part and the magic, then, for a DHCP message, walks the options into the
    // options text. False when the message or its options are cut short.
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    void Describe(str& text) const;

    uint8_t Op() const { return op_; }
    uint32_t Xid() const { return xid_; }
    uint32_t Magic() const { return magic_; }
    const str& OptionsText() const { return options_; }

private:
    uint8_t op_ = 0;
    uint8_t htype_ = 0;
    uint8_t hlen_ = 0;
    uint8_t hops_ = 0;
    uint32_t xid_ = 0;
    uint16_t secs_ = 0;
    uint16_t flags_ = 0;
    uint32_t ciaddr_ = 0;
    uint32_t yiaddr_ = 0;
    uint32_t siaddr_ = 0;
    uint32_t giaddr_ = 0;
    uint8_t chaddr_[16] = {};
    uint8_t sname_[64] = {};
    uint8_t file_[128] = {};
    uint32_t magic_ = 0;
    str options_;
};
