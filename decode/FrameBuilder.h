// Builds well-formed frames from a few parameters: the test suites, the benchmark traffic
// generator and the demonstration capture all make their traffic with it. Checksums are filled
// in by the network layer, which knows the pseudo-header.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "framework/Bytes.h"

namespace frames {

using Bytes = bytes::Buffer;
using Mac = std::array<uint8_t, 6>;
using IPv6Address = std::array<uint8_t, 16>;

Bytes Text(std::string_view text);

// A DNS name as labels from dotted text, ended by the root label.
void PutDnsName(Bytes& out, std::string_view name);
// A standard query (recursion desired) for one name of the given type, class IN.
Bytes DnsQuery(uint16_t id, std::string_view name, uint16_t type);

Bytes Ethernet(const Mac& destination, const Mac& source, uint16_t type, const Bytes& payload);
// An 802.3 frame: length field, LLC (DSAP, SSAP, control) and the payload.
Bytes Ethernet8023(const Mac& destination, const Mac& source, uint8_t dsap, uint8_t ssap,
                   uint8_t control, const Bytes& payload);

struct IPv4Options {
    uint16_t identifier = 0x1234;
    uint16_t flagsAndOffset = 0x4000;  // don't fragment
    uint8_t ttl = 64;
    bool transportChecksum = true;     // fill in the TCP, UDP or ICMP checksum
};
// Host-order addresses, first octet most significant.
Bytes IPv4(uint8_t protocol, uint32_t source, uint32_t destination, const Bytes& payload,
           const IPv4Options& options = {});
uint32_t IPv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

// With hopByHop, an 8-byte hop-by-hop header (router alert) precedes the payload.
Bytes IPv6(uint8_t nextHeader, const IPv6Address& source, const IPv6Address& destination,
           const Bytes& payload, bool hopByHop = false, bool transportChecksum = true);

// Transport headers with checksum 0; IPv4 and IPv6 fill it in.
Bytes TCP(uint16_t sourcePort, uint16_t destinationPort, uint32_t sequence, uint32_t ack,
          uint8_t flags, const Bytes& payload, uint16_t window = 65535);
Bytes UDP(uint16_t sourcePort, uint16_t destinationPort, const Bytes& payload);
Bytes ICMP(uint8_t type, uint8_t code, uint32_t rest, const Bytes& payload);

// ARP over Ethernet for IPv4 (opcode 1 request, 2 reply).
Bytes ARP(uint16_t opcode, const Mac& senderMac, uint32_t senderIp, const Mac& targetMac,
          uint32_t targetIp);

// Pads an Ethernet frame to the 60-byte minimum, as a network card does.
Bytes PadEthernet(Bytes frame);

}  // namespace frames
