#include "decode/DHCP.h"

#include "decode/FieldText.h"

#include <algorithm>
#include <array>

namespace {

constexpr bool kHex = false;
constexpr bool kText = true;

constexpr std::array<DHCPOption, 104> kOptions = {{
    {1, "Subnet Mask", kHex},
    {2, "Time Offset", kHex},
    {3, "Router Option", kHex},
    {4, "Time Server Option", kHex},
    {5, "Name Server Option", kHex},
    {6, "DNS Server Option", kHex},
    {7, "Log Server Option", kHex},
    {8, "Cookie Server Option", kHex},
    {9, "LPR Server Option", kHex},
    {10, "Impress  Server Option", kHex},
    {11, "Resource Location Server Option", kHex},
    {12, "Host Name Option", kText},
    {13, "Boot File Size Option", kHex},
    {14, "Merit Dump File", kText},
    {15, "Domain Name", kText},
    {16, "Swap Server", kHex},
    {17, "Root Path", kText},
    {18, "Extensions Path", kText},
    {19, "IP Forwarding", kHex},
    {20, "Non-local Source Routing", kHex},
    {21, "Policy Filter Option", kHex},
    {22, "Maximum Datagram Reassembly Size", kHex},
    {23, "Default IP TTL", kHex},
    {24, "Path MTU Ageing Timeout", kHex},
    {25, "Path MTU Plateau Table", kHex},
    {26, "Interface MTU", kHex},
    {27, "All Subnets Local", kHex},
    {28, "Broadcast Address", kHex},
    {29, "Mask Discovery", kHex},
    {30, "Mask Supplier", kHex},
    {31, "Router Discovery", kHex},
    {32, "Router Solicitation Address", kHex},
    {33, "Static Route", kHex},
    {34, "Trailer Encapsulation", kHex},
    {35, "ARP Cache Timeout", kHex},
    {36, "Ethernet Encapsulation", kHex},
    {37, "Default TCP TTL", kHex},
    {38, "TCP Keepalive Interval", kHex},
    {39, "TCP Keepalive Garbage", kHex},
    {40, "NIS Domain", kText},
    {41, "NIS Servers", kHex},
    {42, "NTP Servers", kHex},
    {43, "Vendor Specific", kHex},
    {44, "NBT Name Server", kHex},
    {45, "NBT Datagram Distribution Server", kHex},
    {46, "NBT Node Type", kHex},
    {47, "NBT Scope", kText},
    {48, "X Font Server", kHex},
    {49, "X Display Manager", kHex},
    {50, "Requested IP Address", kHex},
    {51, "IP Address Lease Time", kHex},
    {52, "Option Overload", kHex},
    {53, "DHCP Message Type", kHex},
    {54, "Server IDentifier", kHex},
    {55, "Parameter Request List", kHex},
    {56, "Message", kText},
    {57, "Max Message Size", kHex},
    {58, "Renewal Time", kHex},
    {59, "Rebinding Time", kHex},
    {60, "Class Identifier", kText},
    {61, "Client Identifier", kHex},
    {62, "Netware Domain", kText},
    {63, "Netware Info", kText},
    {64, "NIS+ Domain", kText},
    {65, "NIS+ Servers", kHex},
    {66, "TFTP Servers", kHex},
    {67, "DHCP Bootfile", kText},
    {68, "Mobile IP Home Agent ", kHex},
    {69, "SMTP Server", kHex},
    {70, "POP3 Server", kHex},
    {71, "NNTP Server", kHex},
    {72, "WWW Server", kHex},
    {73, "Finger Server", kHex},
    {74, "IRC Server", kHex},
    {75, "StreetTalk Server", kHex},
    {76, "SDA Server", kHex},
    {77, "User Class", kHex},
    {78, "SLP Directory Agent", kHex},
    {79, "SLP Service Scope", kHex},
    {80, "Rapid Commit", kHex},
    {81, "Client FQDN", kHex},
    {82, "Relay Agent", kHex},
    {83, "iSNS Client", kHex},
    {84, "Agent Subnet Mask", kHex},
    {85, "NDS Servers", kHex},
    {86, "NDS Tree Name", kHex},
    {87, "Initial NDS Context", kHex},
    {88, "BCMCS Domain List", kHex},
    {89, "BCMCS IPv4 Addr", kHex},
    {90, "DHCP Auth", kText},
    {91, "Last Transaction Time", kText},
    {92, "Associated IP", kText},
    {93, "Client System Architecture Type", kText},
    {94, "Client Network Interface Identifier", kText},
    {95, "LDAP Servers", kText},
    {96, "IPv6 Transition", kText},
    {97, "Client Machine Identifier", kText},
    {98, "UAP Service", kText},
    {116, "DHCP Auto Config", kHex},
    {117, "Name Service Search", kHex},
    {118, "IPv4 Subnet", kHex},
    {119, "Domain Search", kText},
    {120, "IPv4 SIP Server", kHex},
    {121, "Classless Static Route", kHex},
}};

static_assert(std::ranges::is_sorted(kOptions, {}, &DHCPOption::code));

void AppendIPv4(str& text, const char* label, uint32_t address) {
    str dotted;
    dotted.AssignIPv4(address);
    text += label;
    text += dotted;
}

}  // namespace

std::span<const DHCPOption> DHCPOptionTable() { return kOptions; }

const DHCPOption* FindDHCPOption(uint8_t code) {
    auto row = std::ranges::lower_bound(kOptions, code, {}, &DHCPOption::code);
    return row != kOptions.end() && row->code == code ? &*row : nullptr;
}

bool DHCPPacket::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::Write8(cursor, remaining, op_);
    ok = wire::Write8(cursor, remaining, htype_) && ok;
    ok = wire::Write8(cursor, remaining, hlen_) && ok;
    ok = wire::Write8(cursor, remaining, hops_) && ok;
    ok = wire::Write32(cursor, remaining, xid_) && ok;
    ok = wire::Write16(cursor, remaining, secs_) && ok;
    ok = wire::Write16(cursor, remaining, flags_) && ok;
    ok = wire::Write32(cursor, remaining, ciaddr_) && ok;
    ok = wire::Write32(cursor, remaining, yiaddr_) && ok;
    ok = wire::Write32(cursor, remaining, siaddr_) && ok;
    ok = wire::Write32(cursor, remaining, giaddr_) && ok;
    ok = wire::WriteBytes(cursor, remaining, chaddr_, sizeof chaddr_) && ok;
    ok = wire::WriteBytes(cursor, remaining, sname_, sizeof sname_) && ok;
    ok = wire::WriteBytes(cursor, remaining, file_, sizeof file_) && ok;
    return ok;
}

bool DHCPPacket::Parse(const uint8_t*& cursor, int32_t& remaining) {
    options_.Clear();

    bool ok = wire::Read8(cursor, remaining, op_);
    ok = wire::Read8(cursor, remaining, htype_) && ok;
    ok = wire::Read8(cursor, remaining, hlen_) && ok;
    ok = wire::Read8(cursor, remaining, hops_) && ok;
    ok = wire::Read32(cursor, remaining, xid_) && ok;
    ok = wire::Read16(cursor, remaining, secs_) && ok;
    ok = wire::Read16(cursor, remaining, flags_) && ok;
    ok = wire::Read32(cursor, remaining, ciaddr_) && ok;
    ok = wire::Read32(cursor, remaining, yiaddr_) && ok;
    ok = wire::Read32(cursor, remaining, siaddr_) && ok;
    ok = wire::Read32(cursor, remaining, giaddr_) && ok;
    ok = wire::ReadBytes(cursor, remaining, chaddr_, sizeof chaddr_) && ok;
    ok = wire::ReadBytes(cursor, remaining, sname_, sizeof sname_) && ok;
    ok = wire::ReadBytes(cursor, remaining, file_, sizeof file_) && ok;
    ok = wire::Read32(cursor, remaining, magic_) && ok;

    // Plain BOOTP: no options follow.
    if (magic_ != kMagic) return ok;

    uint8_t code = 0;
    if (!wire::Read8(cursor, remaining, code)) return false;

    // Pad (0) and end (255) both end the walk; so does a code the table does not know, since its
    // length cannot be trusted to skip it.
    while (code != 0 && code != 255) {
        const DHCPOption* option = FindDHCPOption(code);
        if (option == nullptr) break;

        uint8_t length = 0;
        if (!wire::Read8(cursor, remaining, length)) {
            ok = false;
            length = 0;
        }
        options_ += "\r\n\t";
        options_ += option->name;
        options_ += ": ";
        if (length != 0) {
            if (wire::Fits(remaining, length)) {
                if (option->isText) {
                    fieldtext::AppendText(options_, cursor, length);
                } else {
                    fieldtext::AppendHex(options_, cursor, length, ':');
                }
                wire::Skip(cursor, remaining, length);
            } else {
                ok = false;
            }
        }
        // Options that stop without an end code make the message incomplete.
        ok = wire::Read8(cursor, remaining, code) && ok;
        if (!ok) break;
    }
    return ok;
}

void DHCPPacket::Describe(str& text) const {
    switch (op_) {
    case 1: text += "DHCP BOOTREQUEST"; break;
    case 2: text += "DHCP BOOTREPLY"; break;
    default: text.AppendFormat("Unknown (Opcode 0x%02x) DHCP", op_); break;
    }
    text += " Packet";
    text.AppendFormat("\r\n\tHardware Type: 0x%02x", htype_);
    text.AppendFormat("\r\n\tHops: %d", hops_);
    text.AppendFormat("\r\n\tXid: 0x%08x", xid_);
    text.AppendFormat("\r\n\tSecs: %d", secs_);
    text.AppendFormat("\r\n\tFlags: 0x%04x", flags_);
    AppendIPv4(text, "\r\n\tClient IP: ", ciaddr_);
    AppendIPv4(text, "\r\n\t'Your' IP: ", yiaddr_);
    AppendIPv4(text, "\r\n\tNext Server IP: ", siaddr_);
    AppendIPv4(text, "\r\n\tRelay IP: ", giaddr_);
    text += "\r\n\tClient Hardware Address: ";
    fieldtext::AppendHex(text, chaddr_, std::min<size_t>(hlen_, sizeof chaddr_), '-');
    text += "\r\n\tHost Name: ";
    fieldtext::AppendText(text, sname_, sizeof sname_);
    text += "\r\n\tBoot File Name: ";
    fieldtext::AppendText(text, file_, sizeof file_);
    text.AppendFormat("\r\n\tMagic: 0x%08x", magic_);
    text += options_;
}
