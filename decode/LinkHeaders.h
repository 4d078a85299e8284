// Link-layer headers: Ethernet II / IEEE 802.3 with LLC and SNAP, and ARP/RARP.
//
// Every field of every header class here starts at 0, so a field that a short buffer left unread
// reads as 0 afterwards (a missing Ethernet type or length, for example, takes the 802.3 path).
#pragma once

#include <cstdint>
#include <vector>

#include "decode/Packet.h"

class str;

// The Ethernet types the program tells apart when it walks a frame.
inline constexpr uint16_t kTypeIPv4 = 0x0800;
inline constexpr uint16_t kTypeIPv6 = 0x86DD;
inline constexpr uint16_t kTypeARP = 0x0806;
inline constexpr uint16_t kTypeRARP = 0x8035;

class SNAPHeader : public Packet {
public:
    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    uint8_t organisation[3] = {};  // as on the wire
    uint16_t protocolId = 0;
};

class LLCHeader : public Packet {
public:
    static constexpr uint8_t kSNAPSap = 0xaa;

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    uint8_t dsap = 0;
    uint8_t ssap = 0;
    uint8_t control = 0;  // always one byte: a two-byte control field is not recognised
    SNAPHeader snap;      // meaningful only when dsap is 0xaa
};

class EthernetHeader : public Packet {
public:
    // Values up to this are IEEE 802.3 lengths, above it Ethernet II types.
    static constexpr uint16_t kMaxLength = 1500;

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    bool Is8023() const { return typeOrLength <= kMaxLength; }
    // The frame's effective protocol: the Ethernet II type, else the SNAP protocol id, else the
    // DSAP.
    uint16_t GetType() const;
    void Describe(str& text) const;

    uint8_t destination[6] = {};
    uint8_t source[6] = {};
    uint16_t typeOrLength = 0;
    LLCHeader llc;  // meaningful only for an 802.3 frame
};

class ARPHeader : public Packet {
public:
    ARPHeader() = default;
    virtual ~ARPHeader() = default;

    bool Build(uint8_t*& cursor, int32_t& remaining) override;
    bool Parse(const uint8_t*& cursor, int32_t& remaining) override;

    uint16_t GetProtocolType() const { return protocolType; }
    // The two protocol addresses as host-order numbers; false (outputs untouched) unless plen is 4.
    bool GetIPv4Addresses(uint32_t& sender, uint32_t& target) const;
    void Describe(str& text) const;

    // Replaces the four address buffers with copies of hlen, plen, hlen and plen bytes.
    bool SetAddresses(const uint8_t* senderHardware, const uint8_t* senderProtocol,
                      const uint8_t* targetHardware, const uint8_t* targetProtocol);
    const std::vector<uint8_t>& SenderHardware() const { return senderHardware_; }
    const std::vector<uint8_t>& SenderProtocol() const { return senderProtocol_; }
    const std::vector<uint8_t>& TargetHardware() const { return targetHardware_; }
    const std::vector<uint8_t>& TargetProtocol() const { return targetProtocol_; }

    uint16_t hardwareType = 0;
    uint16_t protocolType = 0;  // an Ethernet type, 0x0800 for IPv4
    uint8_t hlen = 0;
    uint8_t plen = 0;
    uint16_t opcode = 0;  // 1 ARP request, 2 ARP reply, 3 RARP request, 4 RARP reply

private:
    bool AllocateAddresses();

    std::vector<uint8_t> senderHardware_;
    std::vector<uint8_t> senderProtocol_;
    std::vector<uint8_t> targetHardware_;
    std::vector<uint8_t> targetProtocol_;
};
