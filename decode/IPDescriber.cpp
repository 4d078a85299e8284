// Decode text of the network and transport layers (IPv4, IPv6 with hop-by-hop options, TCP, UDP)
// and the table of IP protocol names.
#include <algorithm>
#include <iterator>

#include "decode/IPHeaders.h"
#include "decode/Names.h"
#include "decode/TransportHeaders.h"
#include "framework/str.h"

namespace {

struct ProtocolName {
    uint16_t number;
    const char* name;
};

constexpr ProtocolName kProtocols[] = {
    {0, "HOP"},
    {1, "ICMP"},
    {2, "IGMP"},
    {3, "GGP"},
    {6, "TCP"},
    {12, "PUP"},
    {17, "UDP"},
    {22, "IDP"},
    {50, "IPSec ESP"},
    {51, "IPSec AH"},
    {58, "ICMPv6"},
    {77, "ND"},
};

void AppendProtocol(str& text, const char* label, uint8_t protocol) {
    text.AppendFormat("%s0x%02x (", label, protocol);
    IPProtocolName(protocol, text);
    text += ")";
}

}  // namespace

bool IPProtocolName(uint16_t protocol, str& text) {
    const auto* found = std::ranges::find(kProtocols, protocol, &ProtocolName::number);
    if (found == std::end(kProtocols)) return false;
    text += found->name;
    return true;
}

void IPHeader::Describe(str& text) const {
    if (version == 4) v4.Describe(text);
    else if (version == 6) v6.Describe(text);
}

void IPv4Header::Describe(str& text) const {
    text += "IPv4 Header";
    text.AppendFormat("\r\n\tLength and version: 0x%02x", versionAndLength);
    text.AppendFormat("\r\n\tType of service: 0x%02x", typeOfService);
    text.AppendFormat("\r\n\tTotal length: %d", totalLength);
    text.AppendFormat("\r\n\tIdentifier: 0x%04x", identifier);
    text.AppendFormat("\r\n\tFlags: 0x%04x", flagsAndOffset);
    text.AppendFormat("\r\n\tTTL: 0x%02x", timeToLive);
    AppendProtocol(text, "\r\n\tProtocol: ", protocol);
    text.AppendFormat("\r\n\tChecksum: 0x%04x", checksum);
    text += checksumCorrect_ ? " (Correct)" : " (Incorrect)";
    text += "\r\n\tSource IP: ";
    AppendIPv4Address(text, source);
    text += "\r\n\tDest IP: ";
    AppendIPv4Address(text, destination);
}

void IPv6Header::Describe(str& text) const {
    text += "IPv6 Header";
    text.AppendFormat("\r\n\tVersion, Traffic Class, Flow: 0x%08x", versionClassFlow);
    text.AppendFormat("\r\n\tPayload length: %d", payloadLength);
    AppendProtocol(text, "\r\n\tNext Header: ", nextHeader);
    text.AppendFormat("\r\n\tHop Limit: 0x%02x", hopLimit);
    text += "\r\n\tSource IP: ";
    AppendIPv6Address(text, source);
    text += "\r\n\tDest IP: ";
    AppendIPv6Address(text, destination);
    if (HasHopByHop()) hopByHop.Describe(text);
}

void HBHOptHeader::Describe(str& text) const {
    // A bare line feed ends the IPv6 destination line, making this a title of its own.
    text += "\nHop by Hop Options Header";
    text.AppendFormat("\r\n\tLength: %d", extensionLength);
    AppendProtocol(text, "\r\n\tNext Header: ", nextHeader);
    text.AppendFormat("\r\n\tRouter Alert: 0x%08x", routerAlert);
    text.AppendFormat("\r\n\tPadding: 0x%04x", padding);
}

void TCPHeader::Describe(str& text) const {
    text += "TCP Header";
    text.AppendFormat("\r\n\tSource port: %d", sourcePort);
    text.AppendFormat("\r\n\tDest port: %d", destPort);
    text.AppendFormat("\r\n\tSequence: 0x%08x", sequence);
    text.AppendFormat("\r\n\tack: 0x%08x", acknowledgement);
    text.AppendFormat("\r\n\tHeader length: 0x%02x", dataOffset);
    text.AppendFormat("\r\n\tFlags: 0x%02x", flags);
    if (flags) {
        static constexpr struct {
            uint8_t bit;
            const char* name;
        } kFlagNames[] = {{kURG, "URG "}, {kACK, "ACK "}, {kPSH, "PSH "},
                          {kRST, "RST "}, {kSYN, "SYN "}, {kFIN, "FIN "}};
        text += " (";
        for (const auto& flag : kFlagNames) {
            if (flags & flag.bit) text += flag.name;
        }
        text += ")";
    }
    text.AppendFormat("\r\n\tWindow Size: %d", window);
    text.AppendFormat("\r\n\tChecksum: 0x%04x (%s)", checksum, ChecksumStatus());
    text.AppendFormat("\r\n\tUrgent Pointer: %d", urgentPointer);
}

void UDPHeader::Describe(str& text) const {
    text += "UDP Header";
    text.AppendFormat("\r\n\tSource port: %d", sourcePort);
    text.AppendFormat("\r\n\tDest port: %d", destPort);
    text.AppendFormat("\r\n\tLength: %d", length);
    text.AppendFormat("\r\n\tChecksum: 0x%04x (%s)", checksum, ChecksumStatus());
}
