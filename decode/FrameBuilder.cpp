#include "decode/FrameBuilder.h"

#include "decode/Packet.h"

namespace frames {
namespace {

// The checksum field's offset within a transport header, or -1 when there is none to fill.
int ChecksumOffset(uint8_t protocol) {
    switch (protocol) {
        case 6: return 16;
        case 17: return 6;
        case 1:
        case 58: return 2;
        default: return -1;
    }
}

// Stores the complement of the one's-complement sum of pseudo-header and segment.
void FillChecksum(Bytes& segment, int offset, const Bytes& pseudo, bool zeroMeansNone) {
    if (offset < 0 || segment.size() < static_cast<size_t>(offset) + 2) return;
    segment[offset] = segment[offset + 1] = 0;
    Bytes all = pseudo;
    bytes::AppendBytes(all, segment);
    uint16_t sum = static_cast<uint16_t>(InternetChecksum(all.data(), static_cast<int32_t>(all.size())));
    // InternetChecksum sums with the first byte low, so its low byte goes first on the wire.
    if (zeroMeansNone && sum == 0) sum = 0xffff;
    bytes::StoreLe16(&segment[offset], sum);
}

}  // namespace

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }


void PutDnsName(Bytes& out, std::string_view name) {
    while (!name.empty()) {
        const size_t dot = name.find('.');
        const std::string_view label = name.substr(0, dot);
        bytes::Append8(out, static_cast<uint8_t>(label.size()));
        out.insert(out.end(), label.begin(), label.end());
        name = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    }
    bytes::Append8(out, 0);
}

Bytes DnsQuery(uint16_t id, std::string_view name, uint16_t type) {
    Bytes out;
    bytes::AppendBe16(out, id);
    bytes::AppendBe16(out, 0x0100);  // standard query, recursion desired
    bytes::AppendBe16(out, 1);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe16(out, 0);
    PutDnsName(out, name);
    bytes::AppendBe16(out, type);
    bytes::AppendBe16(out, 1);  // IN
    return out;
}

Bytes Ethernet(const Mac& destination, const Mac& source, uint16_t type, const Bytes& payload) {
    Bytes out(destination.begin(), destination.end());
    out.insert(out.end(), source.begin(), source.end());
    bytes::AppendBe16(out, type);
    bytes::AppendBytes(out, payload);
    return out;
}

Bytes Ethernet8023(const Mac& destination, const Mac& source, uint8_t dsap, uint8_t ssap,
                   uint8_t control, const Bytes& payload) {
    Bytes llc{dsap, ssap, control};
    bytes::AppendBytes(llc, payload);
    return Ethernet(destination, source, static_cast<uint16_t>(llc.size()), llc);
}

uint32_t IPv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(c) << 8 | d;
}

Bytes IPv4(uint8_t protocol, uint32_t source, uint32_t destination, const Bytes& payload,
           const IPv4Options& options) {
    Bytes segment = payload;
    if (options.transportChecksum) {
        Bytes pseudo;
        if (protocol != 1) {  // ICMP over IPv4 has no pseudo-header
            bytes::AppendBe32(pseudo, source);
            bytes::AppendBe32(pseudo, destination);
            pseudo.push_back(0);
            pseudo.push_back(protocol);
            bytes::AppendBe16(pseudo, static_cast<uint16_t>(segment.size()));
        }
        FillChecksum(segment, ChecksumOffset(protocol), pseudo, protocol == 17);
    }
    Bytes out{0x45, 0x00};
    bytes::AppendBe16(out, static_cast<uint16_t>(20 + segment.size()));
    bytes::AppendBe16(out, options.identifier);
    bytes::AppendBe16(out, options.flagsAndOffset);
    out.push_back(options.ttl);
    out.push_back(protocol);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe32(out, source);
    bytes::AppendBe32(out, destination);
    uint16_t sum = static_cast<uint16_t>(InternetChecksum(out.data(), 20));
    bytes::StoreLe16(&out[10], sum);
    bytes::AppendBytes(out, segment);
    return out;
}

Bytes IPv6(uint8_t nextHeader, const IPv6Address& source, const IPv6Address& destination,
           const Bytes& payload, bool hopByHop, bool transportChecksum) {
    Bytes segment = payload;
    if (transportChecksum) {
        Bytes pseudo(source.begin(), source.end());
        pseudo.insert(pseudo.end(), destination.begin(), destination.end());
        bytes::AppendBe32(pseudo, static_cast<uint32_t>(segment.size()));
        pseudo.insert(pseudo.end(), {0, 0, 0, nextHeader});
        FillChecksum(segment, ChecksumOffset(nextHeader), pseudo, nextHeader == 17);
    }
    Bytes out;
    bytes::AppendBe32(out, 0x60000000u);
    bytes::AppendBe16(out, static_cast<uint16_t>(segment.size() + (hopByHop ? 8 : 0)));
    out.push_back(hopByHop ? 0 : nextHeader);
    out.push_back(hopByHop ? 1 : 64);
    out.insert(out.end(), source.begin(), source.end());
    out.insert(out.end(), destination.begin(), destination.end());
    if (hopByHop) out.insert(out.end(), {nextHeader, 0, 0x05, 0x02, 0x00, 0x00, 0x01, 0x00});
    bytes::AppendBytes(out, segment);
    return out;
}

Bytes TCP(uint16_t sourcePort, uint16_t destinationPort, uint32_t sequence, uint32_t ack,
          uint8_t flags, const Bytes& payload, uint16_t window) {
    Bytes out;
    bytes::AppendBe16(out, sourcePort);
    bytes::AppendBe16(out, destinationPort);
    bytes::AppendBe32(out, sequence);
    bytes::AppendBe32(out, ack);
    out.push_back(0x50);
    out.push_back(flags);
    bytes::AppendBe16(out, window);
    bytes::AppendBe16(out, 0);
    bytes::AppendBe16(out, 0);
    bytes::AppendBytes(out, payload);
    return out;
}

Bytes UDP(uint16_t sourcePort, uint16_t destinationPort, const Bytes& payload) {
    Bytes out;
    bytes::AppendBe16(out, sourcePort);
    bytes::AppendBe16(out, destinationPort);
    bytes::AppendBe16(out, static_cast<uint16_t>(8 + payload.size()));
    bytes::AppendBe16(out, 0);
    bytes::AppendBytes(out, payload);
    return out;
}

Bytes ICMP(uint8_t type, uint8_t code, uint32_t rest, const Bytes& payload) {
    Bytes out{type, code, 0, 0};
    bytes::AppendBe32(out, rest);
    bytes::AppendBytes(out, payload);
    return out;
}

Bytes ARP(uint16_t opcode, const Mac& senderMac, uint32_t senderIp, const Mac& targetMac,
          uint32_t targetIp) {
    Bytes out;
    bytes::AppendBe16(out, 1);
    bytes::AppendBe16(out, 0x0800);
    out.push_back(6);
    out.push_back(4);
    bytes::AppendBe16(out, opcode);
    out.insert(out.end(), senderMac.begin(), senderMac.end());
    bytes::AppendBe32(out, senderIp);
    out.insert(out.end(), targetMac.begin(), targetMac.end());
    bytes::AppendBe32(out, targetIp);
    return out;
}

Bytes PadEthernet(Bytes frame) {
    if (frame.size() < 60) frame.resize(60, 0);
    return frame;
}

}  // namespace frames
