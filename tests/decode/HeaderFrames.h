// Frames shared by the header, checksum and describer tests.
//
// Each was crafted with an independent RFC 1071 implementation and its IPv4, TCP and UDP checksums
// confirmed good by a protocol analyser. All are Ethernet II from 00:0c:29:3e:5f:01 to
// 00:50:56:c0:00:08; IPv4 between 192.168.0.10 and 192.168.0.1 (identifier 0x1c46, don't
// fragment, TTL 64), IPv6 from fe80::202:b3ff:fe1e:8329 to 2001:db8::1 (hop limit 64).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testframes {

inline std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// IPv4 TCP ACK 49152 -> 443 (no payload), padded to 60 bytes.
inline const char* const kTcpAck =
    "005056c00008000c293e5f010800450000281c46400040069d2ec0a8000ac0a80001c00001bb1122334455667788"
    "501001f659720000000000000000";
// IPv4 UDP 1025 -> 9999 carrying "abc" (odd length), padded.
inline const char* const kUdp4 =
    "005056c00008000c293e5f0108004500001f1c46400040119d2cc0a8000ac0a800010401270f000b8f0961626300"
    "0000000000000000000000000000";
// The same with checksum field 0.
inline const char* const kUdp4NoChecksum =
    "005056c00008000c293e5f0108004500001f1c46400040119d2cc0a8000ac0a800010401270f000b000061626300"
    "0000000000000000000000000000";
// IPv6 TCP 49153 -> 80, flags ACK PSH, carrying "GET /\r\n".
inline const char* const kTcp6 =
    "005056c00008000c293e5f0186dd60000000001b0640fe800000000000000202b3fffe1e832920010db800000000"
    "0000000000000001c0010050000000010000000250180400b3790000474554202f0d0a";
// IPv6 UDP 5353 -> 53 carrying "hello".
inline const char* const kUdp6 =
    "005056c00008000c293e5f0186dd60000000000d1140fe800000000000000202b3fffe1e832920010db800000000"
    "000000000000000114e90035000d435f68656c6c6f";
// The same behind a hop-by-hop header (router alert).
inline const char* const kUdp6HopByHop =
    "005056c00008000c293e5f0186dd6000000000150040fe800000000000000202b3fffe1e832920010db800000000"
    "0000000000000001110005020000010014e90035000d435f68656c6c6f";
// First fragment (more fragments, offset 0) holding 28 of the 60 bytes of a TCP
// segment.
inline const char* const kTcpFirstFragment =
    "005056c00008000c293e5f01080045000030010120004006d86bc0a8000ac0a8000104d200500000000700000008"
    "501803e8bbc600007878787878787878";

}  // namespace testframes
