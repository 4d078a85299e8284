#include "decode/Dispatch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "decode/BONE.h"
#include "decode/DHCP.h"
#include "decode/DNS.h"
#include "decode/ICMP.h"
#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"
#include "decode/NetBIOS.h"
#include "decode/PacketRecord.h"
#include "decode/TransportHeaders.h"
#include "decode/rwho.h"
#include "framework/Bytes.h"

std::atomic<DecodeViewKind> DecodeView{DecodeViewKind::PacketParser};
std::mutex DecodeLock;

namespace {

constexpr uint16_t kTypeDECDNARemoteConsole = 0x6002;
constexpr uint16_t kTypeBONE = 0x0003;  // an 802.3 frame with DSAP 0x03

constexpr uint8_t kProtocolICMP = 1;
constexpr uint8_t kProtocolTCP = 6;
constexpr uint8_t kProtocolUDP = 17;
constexpr uint8_t kProtocolICMPv6 = 58;

constexpr uint16_t kPortNBNS = 137;
constexpr uint16_t kPortDHCP = 67;
constexpr uint16_t kPortRwho = 513;
constexpr uint16_t kPortDNS = 53;
constexpr uint16_t kPortIMAP = 143;

constexpr int32_t kMaxFrameAfterEthernet = 65535;

bool Printable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7f; }

// The record's length as the signed count the cursors use; a frame never comes near the limit.
int32_t RecordLength(const PacketRecord& record) {
    return static_cast<int32_t>(std::min<uint32_t>(record.length, INT32_MAX));
}

bool OnPort(uint16_t sourcePort, uint16_t destPort, uint16_t port) {
    return sourcePort == port || destPort == port;
}

}  // namespace

bool DescribePacket(const PacketRecord& record, str& text) {
    std::lock_guard<std::mutex> lock(DecodeLock);
    text.Clear();
    const uint8_t* data = record.data.get();
    const int32_t length = data ? RecordLength(record) : 0;
    switch (DecodeView.load(std::memory_order_acquire)) {
    case DecodeViewKind::PacketParser:
        if (record.frameType == 2) {
            DescribeEthernet(data, length, text);
        } else {
            DescribeIP(data, length, text);
        }
        break;
    case DecodeViewKind::ASCIIData:
        DescribeASCII(record, text);
        break;
    case DecodeViewKind::RawData:
        DescribeRawData(data, length, text);
        break;
    }
    return true;
}

bool DescribeEthernet(const uint8_t* bytes, int32_t length, str& text) {
    const uint8_t* cursor = bytes;
    int32_t remaining = length;
    EthernetHeader ethernet;
    if (!ethernet.Parse(cursor, remaining) || remaining > kMaxFrameAfterEthernet) return false;
    ethernet.Describe(text);
    text += "\r\n";

    switch (ethernet.GetType()) {
    case kTypeIPv4:
    case kTypeIPv6:
        DescribeIP(cursor, remaining, text);
        break;
    case kTypeARP:
    case kTypeRARP:
        DescribeARP(cursor, remaining, text);
        break;
    case kTypeDECDNARemoteConsole: {
        DECDNARCSystemIDPacket console;
        if (!TryDescribe(console, cursor, remaining, text))
            DescribeRawData(cursor, remaining, text);
        break;
    }
    case kTypeBONE: {
        BONEPacket bone;
        if (!TryDescribe(bone, cursor, remaining, text)) DescribeRawData(cursor, remaining, text);
        break;
    }
    default:
        DescribeRawData(cursor, remaining, text);
        break;
    }
    return true;
}

bool DescribeIP(const uint8_t* bytes, int32_t length, str& text) {
    const uint8_t* cursor = bytes;
    int32_t remaining = length;
    IPHeader ip;
    if (!ip.Parse(cursor, remaining)) {
        DescribeRawData(cursor, remaining, text);
        return false;
    }
    ip.Describe(text);
    text += "\r\n";

    // A later fragment holds the middle or end of the datagram: no transport header to show.
    if (ip.IsLaterFragment()) {
        DescribeRawData(cursor, remaining, text);
        return true;
    }
    switch (ip.GetProtocol()) {
    case kProtocolICMP:
    case kProtocolICMPv6:
        DescribeICMP(ip, cursor, remaining, text);
        break;
    case kProtocolTCP:
        DescribeTCP(ip, cursor, remaining, text);
        break;
    case kProtocolUDP:
        DescribeUDP(ip, cursor, remaining, text);
        break;
    default:
        DescribeRawData(cursor, remaining, text);
        break;
    }
    return true;
}

bool DescribeARP(const uint8_t* cursor, int32_t remaining, str& text) {
    const uint8_t* after = cursor;
    int32_t left = remaining;
    ARPHeader arp;
    if (!arp.Parse(after, left)) {
        DescribeRawData(cursor, remaining, text);
        return false;
    }
    arp.Describe(text);
    text += "\r\n";
    DescribeRawData(after, left, text);
    return true;
}

bool DescribeICMP(const IPHeader& ip, const uint8_t* cursor, int32_t remaining, str& text) {
    ICMPDestinationUnreachable unreachable;
    ICMPAddressMaskRequest maskRequest;
    ICMPAddressMaskResponse maskResponse;
    ICMPTimeStampRequest timestampRequest;
    ICMPTimeStampResponse timestampResponse;
    ICMPRedirect redirect;
    ICMPTimeout timeout;
    ICMPParameterProblem parameterProblem;
    ICMPPacket plain;
    // The order matters: the plain header parses for any type and so comes last.
    ICMPPacket* const trials[] = {&unreachable,       &maskRequest, &maskResponse,
                                  &timestampRequest,  &timestampResponse, &redirect,
                                  &timeout,           &parameterProblem,  &plain};
    bool described = false;
    for (ICMPPacket* trial : trials) {
        trial->SetDatagram(ip);
        if (TryDescribe(*trial, cursor, remaining, text)) {
            described = true;
            break;
        }
    }
    if (remaining > 0) text += "\r\n";
    DescribeRawData(cursor, remaining, text);
    return described;
}

bool DescribeTCP(const IPHeader& ip, const uint8_t* cursor, int32_t remaining, str& text) {
    TCPv4Header tcp;
    tcp.SetPseudoHeader(ip);
    if (!tcp.Parse(cursor, remaining)) return false;
    tcp.Describe(text);
    text += "\r\n";
    DescribeApplication(tcp.GetSourcePort(), tcp.GetDestPort(), cursor, remaining, text);
    DescribeRawData(cursor, remaining, text);
    return true;
}

bool DescribeUDP(const IPHeader& ip, const uint8_t* cursor, int32_t remaining, str& text) {
    UDPv4Header udp;
    udp.SetPseudoHeader(ip);
    if (!udp.Parse(cursor, remaining)) return false;
    udp.Describe(text);
    text += "\r\n";
    DescribeApplication(udp.GetSourcePort(), udp.GetDestPort(), cursor, remaining, text);
    DescribeRawData(cursor, remaining, text);
    return true;
}

bool DescribeApplication(uint16_t sourcePort, uint16_t destPort, const uint8_t*& cursor,
                         int32_t& remaining, str& text) {
    if (OnPort(sourcePort, destPort, kPortNBNS)) {
        NBNSNameQuery query;
        if (TryDescribe(query, cursor, remaining, text)) {
            text += "\r\n";
            return true;
        }
    }
    if (OnPort(sourcePort, destPort, kPortDHCP)) {
        DHCPPacket dhcp;
        if (TryDescribe(dhcp, cursor, remaining, text)) {
            text += "\r\n";
            return true;
        }
    }
    if (OnPort(sourcePort, destPort, kPortRwho)) {
        rwhoPacket rwho;
        if (TryDescribe(rwho, cursor, remaining, text)) {
            text += "\r\n";
            return true;
        }
    }
    if (OnPort(sourcePort, destPort, kPortDNS)) {
        DescribeDNS(cursor, remaining, 0, text);
        return false;
    }
    if (OnPort(sourcePort, destPort, kPortIMAP) && remaining > 0) {
        const char* chars = reinterpret_cast<const char*>(cursor);
        text.Append(chars, strnlen(chars, static_cast<size_t>(remaining)));
    }
    return false;
}

bool DescribeRawData(const uint8_t* data, int32_t length, str& text) {
    if (length <= 0) return true;
    static constexpr char kTitle[] = "Raw Data\r\n\t";
    constexpr int32_t kPerLine = 16;
    // 48 hexadecimal characters, " (", up to 16 characters, ")" and the line end.
    constexpr size_t kLineSize = 3 * kPerLine + 2 + kPerLine + 1 + 3;

    // The whole dump is assembled here and appended once: the text grows by a fixed step, so
    // appending a long dump piece by piece would copy it over and over.
    const size_t lines = static_cast<size_t>((length + kPerLine - 1) / kPerLine);
    std::string dump;
    dump.reserve(sizeof kTitle - 1 + lines * kLineSize);
    dump.append(kTitle, sizeof kTitle - 1);
    for (int32_t start = 0; start < length; start += kPerLine) {
        const int32_t n = std::min(kPerLine, length - start);
        char line[kLineSize];
        char* hex = line;
        char* chars = line + 3 * kPerLine + 2;
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t byte = data[start + i];
            bytes::PutHexByte(hex + 3 * i, byte);
            hex[3 * i + 2] = ' ';
            chars[i] = Printable(byte) ? static_cast<char>(byte) : ' ';
        }
        std::memset(hex + 3 * n, ' ', static_cast<size_t>(3 * (kPerLine - n)));
        line[3 * kPerLine] = ' ';
        line[3 * kPerLine + 1] = '(';
        char* end = chars + n;
        *end++ = ')';
        *end++ = '\r';
        *end++ = '\n';
        if (start + n < length) *end++ = '\t';
        dump.append(line, static_cast<size_t>(end - line));
    }
    text.Append(dump.data(), dump.size());
    return true;
}

bool DescribeASCII(const PacketRecord& record, str& text) {
    const uint8_t* cursor = record.data.get();
    int32_t remaining = cursor ? RecordLength(record) : 0;

    if (record.frameType == 2) {
        EthernetHeader ethernet;
        ethernet.Parse(cursor, remaining);
    }
    switch (record.protocol) {
    case 1: case 2: case 3: case 6: case 12: case 17: case 22: case 77: {
        IPHeader ip;
        if (!ip.Parse(cursor, remaining)) return true;
        // A later fragment starts with payload, not with a transport header.
        if (ip.IsLaterFragment()) break;
        switch (ip.GetProtocol()) {
        case kProtocolICMP: {
            ICMPPacket icmp;
            icmp.Parse(cursor, remaining);
            break;
        }
        case kProtocolTCP: {
            TCPHeader tcp;
            tcp.Parse(cursor, remaining);
            break;
        }
        case kProtocolUDP: {
            UDPHeader udp;
            udp.Parse(cursor, remaining);
            break;
        }
        default:
            break;
        }
        break;
    }
    default:
        break;
    }
    if (remaining <= 0) return true;

    // Assembled whole and appended once, for the same reason as the raw dump. A run of 80
    // characters without a line end gets one, so that no line is longer.
    constexpr int kLineLimit = 80;
    std::string characters;
    characters.reserve(static_cast<size_t>(remaining) + static_cast<size_t>(remaining) / 40 + 2);
    int column = 0;
    for (int32_t i = 0; i < remaining; ++i) {
        const uint8_t byte = cursor[i];
        if (byte == '\r' || byte == '\n') {
            characters += static_cast<char>(byte);
            column = 0;
            continue;
        }
        characters += Printable(byte) ? static_cast<char>(byte) : ' ';
        if (++column == kLineLimit) {
            characters += "\r\n";
            column = 0;
        }
    }
    text.Append(characters.data(), characters.size());
    return true;
}
