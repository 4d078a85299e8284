#include "decode/DNS.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "decode/Packet.h"

thread_local DNSFraming dnsFraming = DNSFraming::Bare;

namespace {

constexpr size_t kMessageLineLimit = 1024;  // buffer of one line of the message walk
constexpr size_t kRecordLineLimit = 2056;   // buffer of one line of record data
constexpr size_t kMaxShownName = 1024;      // longer names in questions and records end the walk
constexpr size_t kMaxRun = 4096;            // longest name run, label total and name text
constexpr int kMaxPointerHops = 64;

// Formats one line into a buffer of limit bytes and appends it; a longer line is cut to fit.
__attribute__((format(printf, 3, 4)))
void AppendLine(str& text, size_t limit, const char* format, ...) {
    char buffer[kRecordLineLimit];
    limit = std::min(limit, sizeof buffer);
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, limit, format, args);
    va_end(args);
    if (n > 0) text.Append(buffer, std::min(static_cast<size_t>(n), limit - 1));
}

// A block of bytes read at offsets from its start; a value is read only when it lies wholly
// within the block. Offsets are never wrapped, however large the lengths on the wire.
class DNSBytes {
public:
    DNSBytes(const uint8_t* begin, size_t size) : begin_(begin), size_(size) {}

    // Where offset lies; an offset past the end gives the end, so no pointer leaves the data.
    const uint8_t* At(size_t offset) const { return begin_ + std::min(offset, size_); }

    bool Get8(size_t offset, uint8_t& value) const {
        int32_t remaining;
        const uint8_t* cursor = From(offset, remaining);
        return cursor && wire::Read8(cursor, remaining, value);
    }
    bool Get16(size_t offset, uint16_t& value) const {
        int32_t remaining;
        const uint8_t* cursor = From(offset, remaining);
        return cursor && wire::Read16(cursor, remaining, value);
    }
    bool Get32(size_t offset, uint32_t& value) const {
        int32_t remaining;
        const uint8_t* cursor = From(offset, remaining);
        return cursor && wire::Read32(cursor, remaining, value);
    }
    bool GetBytes(size_t offset, void* out, size_t n) const {
        int32_t remaining;
        const uint8_t* cursor = From(offset, remaining);
        return cursor && wire::ReadBytes(cursor, remaining, out, n);
    }
    bool Contains(size_t offset, size_t n) const { return offset <= size_ && n <= size_ - offset; }

private:
    // The wire helpers' cursor and count for the bytes from offset on; null past the end.
    const uint8_t* From(size_t offset, int32_t& remaining) const {
        if (offset > size_) return nullptr;
        remaining = static_cast<int32_t>(std::min<size_t>(size_ - offset, INT32_MAX));
        return begin_ + offset;
    }

    const uint8_t* begin_;
    size_t size_;
};

// Appends n bytes (never a zero byte) to text; false when the text cannot grow or would exceed
// the longest name text.
bool AppendLabel(str& text, const uint8_t* bytes, size_t n, bool dotFirst) {
    const size_t before = text.Length();
    const size_t wanted = before + (dotFirst ? 1 : 0) + n;
    if (wanted > kMaxRun) return false;
    if (dotFirst) text += '.';
    text.Append(reinterpret_cast<const char*>(bytes), n);
    return text.Length() == wanted;
}

// Length of the run from q up to and including the first zero byte, looking at most one byte
// beyond the longest run allowed. Without a zero byte in the data the run counts as ending just
// past the data, so a label can never reach beyond it.
size_t RunLength(const uint8_t* q, const uint8_t* end) {
    const size_t available = static_cast<size_t>(end - q);
    const size_t scan = std::min(available, kMaxRun + 1);
    const void* zero = std::memchr(q, 0, scan);
    if (zero) return static_cast<size_t>(static_cast<const uint8_t*>(zero) - q) + 1;
    return available + 1;
}

uint16_t ReadName(const uint8_t* q, const uint8_t* m, const uint8_t* end, str& name, bool nested,
                  int hops);

// Follows the compression pointer at q and appends the name at its target to name. Fails when the
// pointer is cut off, its target lies outside the data or the chain has grown too long, which
// also ends pointers that point at themselves or into a loop.
bool FollowPointer(const uint8_t* q, const uint8_t* m, const uint8_t* end, str& name, int hops) {
    if (end - q < 2 || hops >= kMaxPointerHops) return false;
    size_t offset = static_cast<size_t>((q[0] & 0x3f) << 8 | q[1]);
    if (dnsFraming == DNSFraming::Prefixed) offset += 2;
    if (offset >= static_cast<size_t>(end - m)) return false;
    return ReadName(m + offset, m, end, name, true, hops + 1) != 0;
}

// Appends the labels of the name at q to name (a dot before each label when name is not empty,
// which also joins a pointer target's name to the labels before the pointer).
uint16_t ReadName(const uint8_t* q, const uint8_t* m, const uint8_t* end, str& name, bool nested,
                  int hops) {
    if (q >= end) return 0;
    if (q[0] >= 0xc0) return FollowPointer(q, m, end, name, hops) ? 2 : 0;

    const size_t run = RunLength(q, end);
    if (run > kMaxRun) return 0;
    const size_t available = static_cast<size_t>(end - q);
    size_t labelTotal = 0;
    for (size_t i = 0;;) {
        if (i >= available) return 0;
        const uint8_t n = q[i];
        if (n == 0) return nested ? 2 : static_cast<uint16_t>(i + 1);
        if (n >= 0xc0) {
            if (!FollowPointer(q + i, m, end, name, hops)) return 0;
            return nested ? 2 : static_cast<uint16_t>(i + 2);
        }
        labelTotal += n;
        if (labelTotal + 1 > kMaxRun) return 0;
        // A label that runs into or past the terminating zero byte (or the end of the data).
        if (i + n + 1 >= run) return 0;
        if (!AppendLabel(name, q + i + 1, n, !name.Empty())) return 0;
        i += n + 1;
    }
}

const char* OperationName(unsigned code) {
    switch (code) {
    case 0: return "\t\tStandard Query\n";
    case 1: return "\t\tInverse Query\n";
    case 2: return "\t\tServer Status Request\n";
    default: return "\t\tReserved Value Set\n";
    }
}

// The line of a response code, or null for the codes that add none.
const char* ResponseCodeLine(unsigned code) {
    static constexpr const char* kLines[] = {
        nullptr,
        "\t\tThe Server was unable to interpret the query\n",
        "\t\tThere was a Server failure\n",
        "\t\tName Error. (If this was an authoritative name server, then this domain does not "
        "exist)\n",
        "\t\tNot Implemented. The server does not support this type of query\n",
        "\t\tThe operation was refused\n",
        "\t\tA name that ought not to exist, does exist\n",
        "\t\tA RR that ought not to exist, does exist\n",
        "\t\tA RR that ought to exist, does not exist\n",
        "\t\tThe server is not authoritative for the Zone requested\n",
        "\t\tName used used within the Pre-requisite or update section is not within the zone "
        "denoted in the zone section\n",
    };
    return code < std::size(kLines) ? kLines[code] : nullptr;
}

// Appends the header lines of the message whose header proper starts at h. Returns false when the
// description ends here: a field is cut off or the response code stops it.
bool DescribeHeader(const DNSBytes& bytes, size_t h, uint16_t counts[4], str& text) {
    uint8_t flags[2];
    if (!bytes.GetBytes(h + 2, flags, sizeof flags)) return false;
    AppendLine(text, kMessageLineLimit, "\tFlags: 0x%04x\n", flags[0] << 8 | flags[1]);
    text += (flags[0] & 0x80) ? "\t\tDNS Response\n" : "\t\tDNS Query\n";
    text += OperationName((flags[0] & 0x78) >> 3);
    if (flags[0] & 0x04) text += "\t\tAA (Authoritative server for the Domain being queried)\n";
    text += (flags[0] & 0x02) ? "\t\tTC (Message was truncated)\n"
                              : "\t\tDNS Message was NOT truncated\n";
    text += (flags[0] & 0x01) ? "\t\tRD (Recursion Desired)\n"
                              : "\t\tRecursion Desired bit NOT set\n";
    text += (flags[1] & 0x80) ? "\t\tRA (Server supports recursive queries)\n"
                              : "\t\tServer does not support recursive queries\n";
    const unsigned code = flags[1] & 0x0f;
    if (const char* line = ResponseCodeLine(code)) {
        text += line;
        if (code >= 2) return false;
    }

    static constexpr const char* kCountLabels[4] = {
        "No. of Questions", "No. of Answer Resource Records",
        "No. of Name Server Resource Records", "No. Additional Resource Records"};
    for (size_t k = 0; k < 4; ++k) {
        if (!bytes.Get16(h + 4 + 2 * k, counts[k])) return false;
        AppendLine(text, kMessageLineLimit, "\t%s: %d\n", kCountLabels[k], counts[k]);
    }
    return true;
}

}  // namespace

uint16_t ReadDNSName(const uint8_t* position, const uint8_t* message, const uint8_t* end,
                     str& name, bool nested) {
    name.Clear();
    const uint16_t used = ReadName(position, message, end, name, nested, 0);
    if (!used) name.Clear();
    return used;
}

uint16_t ReadDNSString(const uint8_t* position, const uint8_t* message, const uint8_t* end,
                       str& text, bool nested) {
    text.Clear();
    if (position >= end) return 0;
    if (position[0] >= 0xc0) {
        if (FollowPointer(position, message, end, text, 0)) return 2;
        text.Clear();
        return 0;
    }
    const size_t run = RunLength(position, end);
    if (run > kMaxRun) return 0;
    const uint8_t n = position[0];
    // An empty string, or one with a zero byte inside (or running past the data), fails.
    if (n == 0 || n + 1u >= run) return 0;
    if (!AppendLabel(text, position + 1, n, false)) {
        text.Clear();
        return 0;
    }
    return nested ? 2 : static_cast<uint16_t>(n + 1);
}

const char* DNSTypeName(uint16_t type) {
    switch (type) {
    case 1: return "A (Host Address)";
    case 2: return "NS (authoritative name server)";
    case 3: return "MD (mail destination, obsoleted in favour of MX)";
    case 4: return "MF (a mail forwarder, obsoleted in favour of MX)";
    case 5: return "CNAME (canonical name for an alias)";
    case 6: return "SOA (marks the start of a zone of authority)";
    case 7: return "MB (mailbox domain name, experimental/not used)";
    case 8: return "MG (mail group member, experimental/not used)";
    case 9: return "MR (mail rename domain, experimental/not used)";
    case 10: return "NULL (null RR, experimental/not used)";
    case 11: return "WKS (well known service)";
    case 12: return "PTR (domain name pointer)";
    case 13: return "HINFO (host information)";
    case 14: return "MINFO (mailbox or mail list information)";
    case 15: return "MX (mail exchange)";
    case 16: return "TXT (text strings)";
    case 17: return "RP (Responsible Person)";
    case 18: return "AFSDB (Andrew File System Database)";
    case 19: return "X25 (X.25 Addresses)";
    case 20: return "ISDN (ISDN Address)";
    case 21: return "RT (Route Through)";
    case 26: return "PX (Pointer to X.400 mapping information)";
    case 252: return "AXFR (Zone Transfer request)";
    case 253: return "MAILB (A request for mailbox-related records (MB, MG or MR))";
    case 254: return "MAILA (A request for mail agent RRs, Obsolete)";
    case 255: return "* (A request for all records)";
    default: return "Unknown type";
    }
}

const char* DNSClassName(uint16_t dnsClass) {
    switch (dnsClass) {
    case 1: return "IN (Internet Class)";
    case 2: return "CS (CSNet Class, obsoleted)";
    case 3: return "CH (Chaos class)";
    case 4: return "HS (Hesiod Class)";
    default: return "Unknown Class";
    }
}

void DescribeDNSRecordData(uint16_t type, const uint8_t* recordData, const uint8_t* message,
                           const uint8_t* end, uint16_t recordLength, str& text) {
    const DNSBytes data(recordData, static_cast<size_t>(end - recordData));
    str value;
    // Each reader leaves its text in value and returns the bytes it occupies, 0 on failure.
    auto name = [&](size_t offset) -> size_t {
        return data.Contains(offset, 0) ? ReadDNSName(data.At(offset), message, end, value, false)
                                        : 0;
    };
    auto string = [&](size_t offset) -> size_t {
        return data.Contains(offset, 0)
                   ? ReadDNSString(data.At(offset), message, end, value, false)
                   : 0;
    };
    auto line = [&](const char* label) {
        AppendLine(text, kRecordLineLimit, "\t\t%s: %s\n", label, value.c_str());
    };
    // The preference of MX, RT and PX records: a signed 16-bit word.
    auto preference = [&]() {
        uint16_t word;
        if (!data.Get16(0, word)) return false;
        AppendLine(text, kRecordLineLimit, "\t\tPREFERENCE: %d\n", static_cast<int16_t>(word));
        return true;
    };

    switch (type) {
    case 1: {
        uint8_t a[4];
        if (data.GetBytes(0, a, sizeof a))
            AppendLine(text, kRecordLineLimit, "\t\tAddress: %d.%d.%d.%d\n", a[0], a[1], a[2],
                       a[3]);
        break;
    }
    case 2:
        if (name(0)) line("Authoritative Nameserver");
        break;
    case 3: text += "\t\tObsoleted type MD\n"; break;
    case 4: text += "\t\tObsoleted type MF\n"; break;
    case 5:
        if (name(0)) line("CNAME");
        break;
    case 6: {
        const size_t first = name(0);
        if (!first) break;
        line("MNAME");
        if (first > recordLength) break;
        const size_t second = name(first);
        if (!second) break;
        line("RNAME");
        static constexpr struct { const char* label; const char* unit; } kTimes[] = {
            {"Serial No", ""},
            {"Refresh Interval", " seconds"},
            {"Retry Interval", " seconds"},
            {"Expiry Time for Zone information", " seconds"},
            {"Minimim TTL for any RR from this zone", " seconds"},
        };
        size_t at = first + second;
        for (const auto& time : kTimes) {
            uint32_t number;
            if (at + 4 > recordLength || !data.Get32(at, number)) break;
            AppendLine(text, kRecordLineLimit, "\t\t%s: %d%s\n", time.label,
                       static_cast<int32_t>(number), time.unit);
            at += 4;
        }
        break;
    }
    case 7:
        if (name(0)) line("MB (Mailbox Domain Name)");
        break;
    case 8:
        if (name(0)) line("MG (Mail Group Member)");
        break;
    case 9:
        if (name(0)) line("MR (Mailbox Rename)");
        break;
    case 11: {
        uint8_t a[4], protocol;
        if (!data.GetBytes(0, a, sizeof a)) break;
        AppendLine(text, kRecordLineLimit, "\t\tWKS Address: %d.%d.%d.%d\n", a[0], a[1], a[2],
                   a[3]);
        if (!data.Get8(4, protocol)) break;
        if (protocol == 6) text += "\t\tProtocol: TCP\n";
        if (protocol == 17) text += "\t\tProtocol: UDP\n";
        if (recordLength <= 5) {
            text += "\t\tServices: \n";
            break;
        }
        const size_t mapLength = recordLength - 5u;
        if (!data.Contains(5, mapLength)) break;
        // Collected first so that the line is appended in one piece.
        str services("\t\tServices: ");
        const uint8_t* map = data.At(5);
        for (size_t k = 0; k < mapLength * 8; ++k) {
            if (map[k / 8] & (0x80 >> (k % 8))) services.AppendFormat("%zu ", k);
        }
        services += "\n";
        text += services;
        break;
    }
    case 12:
        if (name(0)) line("PTR");
        break;
    case 13: {
        const size_t cpu = string(0);
        if (!cpu) break;
        line("CPU");
        if (string(cpu)) line("OS");
        break;
    }
    case 14: {
        const size_t first = name(0);
        if (!first) break;
        line("RMAILBX");
        if (name(first)) line("EMAILBX");
        break;
    }
    case 15:
        if (preference() && name(2)) line("EXCHANGE");
        break;
    case 16:
        for (size_t s = 0; s < recordLength;) {
            const size_t used = string(s);
            if (!used) break;
            s += used;
            line("Text String");
            uint8_t next;
            if (data.Get8(s, next) && next == 0) ++s;
        }
        break;
    case 17: {
        const size_t first = name(0);
        if (!first) break;
        line("MAILBOX");
        if (name(first)) line("TXTNAME");
        break;
    }
    case 18: {
        uint16_t subtype;
        if (!data.Get16(0, subtype)) break;
        text += subtype == 1   ? "\t\tSUBTYPE: AFS Cell Database Server\n"
                : subtype == 2 ? "\t\tSUBTYPE: DCE Authenticated name server\n"
                               : "\t\tSUBTYPE: Unknown Subtype\n";
        if (name(2)) line("HOSTNAME");
        break;
    }
    // The addresses of X.25 and ISDN records are shown after a blank of their own.
    case 19:
        if (string(0))
            AppendLine(text, kRecordLineLimit, "\t\tPSDN Address:  %s\n", value.c_str());
        break;
    case 20: {
        const size_t address = string(0);
        if (!address) break;
        AppendLine(text, kRecordLineLimit, "\t\tISDN Address:  %s\n", value.c_str());
        if (string(address))
            AppendLine(text, kRecordLineLimit, "\t\tSubAddress:  %s\n", value.c_str());
        break;
    }
    case 21:
        if (preference() && name(2)) line("Intermediate Hostname");
        break;
    case 26: {
        if (!preference()) break;
        const size_t first = name(2);
        if (!first) break;
        line("MAP822 Domain Name");
        if (name(2 + first)) line("MAPX400 Domain Name");
        break;
    }
    default:
        break;
    }
}

int DescribeDNS(const uint8_t* data, int32_t length, int plain, str& text) {
    dnsFraming = plain ? DNSFraming::Bare : DNSFraming::Prefixed;
    text += "DNS Packet \n";
    if (length < 3) return 1;

    const size_t total = static_cast<size_t>(length);
    const DNSBytes bytes(data, total);
    const uint8_t* end = data + total;
    str name;
    size_t m = 0;
    for (;;) {
        // Framing: a word at the message start that is 2 less than the whole data's length is
        // a TCP length prefix.
        size_t h = m;
        uint16_t word;
        if (!bytes.Get16(m, word)) return 0;
        if (!plain && word + 2u == total) {
            AppendLine(text, kMessageLineLimit, "\tTCP Length: %d\n", word);
            h = m + 2;
            if (!bytes.Get16(h, word)) return 0;
        } else if (!plain) {
            dnsFraming = DNSFraming::Bare;
        }
        AppendLine(text, kMessageLineLimit, "\tIdentification: %d\n", word);

        uint16_t counts[4];
        if (!DescribeHeader(bytes, h, counts, text)) return 0;
        const uint8_t* message = bytes.At(m);
        size_t p = h + 12;

        for (int32_t question = 0; question < counts[0]; ++question) {
            const size_t used =
                bytes.Contains(p, 0) ? ReadDNSName(bytes.At(p), message, end, name, false) : 0;
            if (!used) {
                text += "\t\tsomething messed up in g\n";
                return 0;
            }
            if (name.Length() > kMaxShownName) return 0;
            AppendLine(text, kMessageLineLimit, "\tQuery Name : %s\n", name.c_str());
            p += used;
            uint16_t type, dnsClass;
            if (!bytes.Get16(p, type)) return 0;
            AppendLine(text, kMessageLineLimit, "\t\tQuery Type : %s\n", DNSTypeName(type));
            if (!bytes.Get16(p + 2, dnsClass)) return 0;
            AppendLine(text, kMessageLineLimit, "\t\tQuery Class : %s\n", DNSClassName(dnsClass));
            p += 4;
        }

        const int32_t answers = counts[1];
        const int32_t nameServers = counts[2];
        const int32_t records = answers + nameServers + counts[3];
        for (int32_t i = 0; i < records; ++i) {
            text += i < answers                 ? "\tAnswer RR\n"
                    : i < answers + nameServers ? "\tAuthoritative Namserver RR\n"
                                                : "\tAdditional RR\n";
            const size_t used =
                bytes.Contains(p, 0) ? ReadDNSName(bytes.At(p), message, end, name, false) : 0;
            if (!used) {
                text += "\t\tsomething messed up in d\n";
                return 0;
            }
            if (name.Length() > kMaxShownName) return 0;
            AppendLine(text, kMessageLineLimit, "\t\tRecord Name : %s\n", name.c_str());
            p += used;
            uint16_t type, dnsClass, recordLength;
            uint32_t ttl;
            if (!bytes.Get16(p, type)) return 0;
            AppendLine(text, kMessageLineLimit, "\t\tRecord Type : %s\n", DNSTypeName(type));
            if (!bytes.Get16(p + 2, dnsClass)) return 0;
            AppendLine(text, kMessageLineLimit, "\t\tRecord Class : %s\n",
                       DNSClassName(dnsClass));
            if (!bytes.Get32(p + 4, ttl)) return 0;
            AppendLine(text, kMessageLineLimit, "\t\tRecord TTL : %d seconds (%d hours)\n",
                       static_cast<int32_t>(ttl), static_cast<int32_t>(ttl / 3600));
            if (!bytes.Get16(p + 8, recordLength)) return 0;
            p += 10;
            DescribeDNSRecordData(type, bytes.At(p), message, end, recordLength, text);
            p += recordLength;
        }

        if (p + 2 >= total) return 1;
        m = p;
    }
}
