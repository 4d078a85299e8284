// Decode text of the link layer (Ethernet, 802.3, ARP/RARP) and its two name tables.
#include <algorithm>
#include <iterator>

#include "decode/FieldText.h"
#include "decode/LinkHeaders.h"
#include "decode/Names.h"
#include "framework/str.h"

namespace {

struct NumberName {
    uint16_t number;
    const char* name;
};

constexpr NumberName kEthertypes[] = {
    {0x0800, "IPv4"},
    {0x0806, "ARP"},
    {0x2000, "Cisco Discovery Protocol"},
    {0x6000, "DEC"},
    {0x6001, "DEC"},
    {0x6002, "DEC DNA Remote Console"},
    {0x6003, "DEC"},
    {0x6004, "DEC"},
    {0x6005, "DEC"},
    {0x6006, "DEC"},
    {0x6007, "DEC"},
    {0x6008, "DEC"},
    {0x6009, "DEC"},
    {0x8035, "RARP"},
    {0x809b, "AppleTalk"},
    {0x80f3, "AppleTalk ARP"},
    {0x8100, "802.1 QTagged Frame"},
    {0x8137, "IPX"},
    {0x8138, "Novell"},
    {0x86dd, "IPv6"},
    {0x8847, "Unicast MPLS"},
    {0x8848, "Multicast MPLS"},
    {0x8863, "PPoE Discovery"},
    {0x8864, "PPoE Session"},
    {0x888e, "EAP"},
    {0x889a, "SCSI"},
    {0x88a2, "ATA"},
    {0x9000, "Configuration Test Protocol"},
    {0xb400, "ETH-BONE"},
    {0xc021, "PPP Link Control Protocol"},
};

// Individual SAP values (the low, group bit clear).
constexpr NumberName kSaps[] = {
    {0x00, "Null LSAP"},
    {0x02, "LLC Sublayer Management"},
    {0x04, "SNA"},
    {0x06, "IP (802.3)"},
    {0x08, "SNA"},
    {0x0c, "SNA"},
    {0x0e, "PROWAY Network Management"},
    {0x18, "Texas Instruments"},
    {0x42, "Spanning Tree Protocol"},
    {0x4e, "EIA RS-511"},
    {0x7e, "X25"},
    {0x80, "XNS"},
    {0x86, "Nestar"},
    {0x8e, "PROWAY ASLM"},
    {0x98, "ARP"},
    {0xaa, "SNAP"},
    {0xbc, "Banyan VINES"},
    {0xe0, "Novell NetWare"},
    {0xf0, "NetBIOS"},
    {0xf4, "IBM LANMAN"},
    {0xf8, "IBM RPL"},
    {0xfa, "Ungermann-Bass"},
    {0xfe, "ISO Network Layer Protocol"},
};

template <size_t N>
const char* Lookup(const NumberName (&table)[N], uint16_t number) {
    const auto* found = std::ranges::find(table, number, &NumberName::number);
    return found == std::end(table) ? nullptr : found->name;
}

// Hardware and protocol addresses: each byte as "%02x", joined by "-".
void AppendAddress(str& text, const std::vector<uint8_t>& address) {
    fieldtext::AppendHex(text, address.data(), address.size(), '-');
}

void AppendProtocolAddress(str& text, const std::vector<uint8_t>& address, bool ipv4) {
    AppendAddress(text, address);
    if (!ipv4) return;
    text += " (";
    for (size_t i = 0; i < address.size(); ++i) {
        text.AppendFormat(i ? ".%d" : "%d", address[i]);
    }
    text += ")";
}

}  // namespace

bool EthertypeName(uint16_t type, str& text) {
    if (const char* name = Lookup(kEthertypes, type)) {
        text += name;
        return true;
    }
    // Below 0x0100 the value is the DSAP of an 802.3 frame without SNAP.
    if (type < 0x0100) return SAPName(type, text);
    return false;
}

bool SAPName(uint16_t sap, str& text) {
    if (sap & 0xff00) return false;
    const bool group = sap & 0x01;
    const char* name = Lookup(kSaps, sap & 0xfe);
    if (!name) {
        text += "Unknown";
        return false;
    }
    text += name;
    if (group) text += " (Group)";
    return true;
}

void EthernetHeader::Describe(str& text) const {
    text += Is8023() ? "Ethernet (802.3) Packet" : "Ethernet II Packet";
    text += "\r\n\tDestination: ";
    fieldtext::AppendHex(text, destination, sizeof destination, '-');
    text += "\r\n\tSource:      ";
    fieldtext::AppendHex(text, source, sizeof source, '-');
    const uint16_t type = GetType();
    text.AppendFormat("\r\n\tType: 0x%04x (", type);
    EthertypeName(type, text);
    text += ")";
}

void ARPHeader::Describe(str& text) const {
    switch (opcode) {
    case 1:
        text += "ARP Request";
        break;
    case 2:
        text += "ARP Reply";
        break;
    case 3:
        text += "RARP Request";
        break;
    case 4:
        text += "RARP Reply";
        break;
    default:
        text.AppendFormat("Unknown (Opcode 0x%04x) ARP", opcode);
        break;
    }
    text += " Packet";
    text.AppendFormat("\r\n\tHardware Type: 0x%04x", hardwareType);
    text.AppendFormat("\r\n\tProtocol Type: 0x%04x (", protocolType);
    EthertypeName(protocolType, text);
    text += ")";

    const bool ipv4 = protocolType == 0x0800;
    text += "\r\n\tSender Hardware Address: ";
    AppendAddress(text, senderHardware_);
    text += "\r\n\tSender Protocol Address: ";
    AppendProtocolAddress(text, senderProtocol_, ipv4);
    text += "\r\n\tTarget Hardware Address: ";
    AppendAddress(text, targetHardware_);
    text += "\r\n\tTarget Protocol Address: ";
    AppendProtocolAddress(text, targetProtocol_, ipv4);
}
