// Real application traffic between two network namespaces, made by the programs that speak it:
// dnsmasq answering dig (DNS over UDP and TCP) and handing a lease to udhcpc (DHCP), nmblookup
// asking nmbd (NetBIOS name service) and rwhod broadcasting its status (rwho). Each capture is
// described by `tidewatch --describe` and compared field by field with tshark's dissection of the
// same file.
//
// Needs root (namespaces, veth, capture), ip, ss, tcpdump, tshark and each test's peer programs;
// a test whose programs are missing is skipped (scripts/setup test installs them).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "decode/DescriptionTree.h"
#include "tests/app/DescribeRun.h"
#include "tests/support/NetNamespaces.h"

using namespace describetest;
using filetest::HaveTool;
using filetest::RunShell;
using netns::Background;
using netns::Fields;
using netns::FileText;
using netns::NamespacePair;
using netns::Shell;
using netns::WaitFor;

namespace {

// Addresses inside the namespaces only.
const char kAddressA[] = "10.201.1.1";
const char kAddressB[] = "10.201.1.2";
const char kBroadcast[] = "10.201.1.255";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
        ++count;
    }
    return count;
}

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(by, start);
        const size_t end = at == std::string::npos ? text.size() : at;
        parts.push_back(text.substr(start, end - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// Every occurrence of a tshark field in a frame (tshark joins them with '|' here).
std::vector<std::string> Values(const Fields& frame, const std::string& field) {
    const auto found = frame.find(field);
    return found == frame.end() ? std::vector<std::string>{} : Split(found->second, '|');
}

std::string Value(const Fields& frame, const std::string& field, size_t index = 0) {
    const std::vector<std::string> values = Values(frame, field);
    return index < values.size() ? values[index] : std::string();
}

std::string Hex(unsigned long value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*lx", digits, value);
    return text;
}

unsigned long Number(const std::string& text) { return std::stoul(text, nullptr, 0); }

// One line of a description as the detail pane shows it.
struct Line {
    int depth;
    std::string label;
};

std::vector<Line> Lines(const std::string& text) {
    std::vector<Line> lines;
    ForEachDescriptionLine(text, [&](int depth, std::string_view label) {
        lines.push_back({depth, std::string(label)});
    });
    return lines;
}

// The lines under the first top-level line that starts with `title`, up to the next top-level
// line; `found` says whether there was such a line.
std::vector<Line> Section(const std::vector<Line>& lines, const std::string& title,
                          bool* found = nullptr) {
    std::vector<Line> section;
    bool in = false;
    if (found) *found = false;
    for (const Line& line : lines) {
        if (line.depth == 0) {
            if (in) break;
            if (StartsWith(line.label, title)) {
                in = true;
                if (found) *found = true;
            }
            continue;
        }
        if (in) section.push_back(line);
    }
    return section;
}

// "Key: value" lines of a section by key (the first occurrence of each key).
Fields KeyValues(const std::vector<Line>& section, const std::string& separator = ": ") {
    Fields values;
    for (const Line& line : section) {
        const size_t at = line.label.find(separator);
        if (at != std::string::npos) {
            values.emplace(line.label.substr(0, at), line.label.substr(at + separator.size()));
        }
    }
    return values;
}

// "Dec  8, 2026 10:32:38.000000000 UTC", as tshark gives absolute times with TZ=UTC, as the
// 32-bit value on the wire.
uint32_t WireTime(const std::string& text) {
    std::tm calendar{};
    if (strptime(text.c_str(), "%b %d, %Y %H:%M:%S", &calendar) == nullptr) return 0;
    return static_cast<uint32_t>(timegm(&calendar));
}

// The decoder's time text for a wire time: the short date and the 24-hour time of the UTC
// calendar time, in the locale of the process that described it (this one, or the program
// with the environment's locale).
std::set<std::string> TimeTexts(uint32_t time) {
    const time_t seconds = static_cast<int32_t>(time);
    std::tm calendar{};
    gmtime_r(&seconds, &calendar);
    std::set<std::string> texts;
    for (const char* name : {"C", ""}) {
        const locale_t locale = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
        if (locale == static_cast<locale_t>(0)) continue;
        char date[64], clock[64];
        const size_t n = strftime_l(date, sizeof date, "%x", &calendar, locale);
        const size_t m = strftime_l(clock, sizeof clock, "%H:%M:%S", &calendar, locale);
        texts.insert(std::string(date, n) + " " + std::string(clock, m));
        freelocale(locale);
    }
    return texts;
}

std::string Joined(const std::set<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts) {
        joined += (joined.empty() ? "\"" : " or \"") + text + "\"";
    }
    return joined;
}

// Namespaces joined by a link, tcpdump on A's end, and after the traffic each packet's
// description next to tshark's fields of the same frame.
class AppRealTraffic : public ::testing::Test {
protected:
    struct Readiness {
        bool skip = false;
        std::string problem;  // empty when ready
    };

    Readiness Prepare(std::initializer_list<const char*> peers) {
        if (geteuid() != 0) return {true, "needs root: network namespaces, veth and capture"};
        std::string missing;
        for (const char* tool : {"ip", "ss", "tcpdump", "tshark"}) {
            if (!HaveTool(tool)) missing += std::string(" ") + tool;
        }
        for (const char* tool : peers) {
            if (!HaveTool(tool)) missing += std::string(" ") + tool;
        }
        if (!missing.empty()) {
            return {true, "missing programs:" + missing + " (scripts/setup test)"};
        }

        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = std::filesystem::current_path().string() + "/" + name;
        std::filesystem::create_directories(dir_);
        static int serial = 0;
        net_ = std::make_unique<NamespacePair>(std::to_string(getpid()) + "n" +
                                               std::to_string(++serial));
        std::string output;
        if (!net_->Add(&output)) {
            return {true, "cannot create network namespaces here: " + netns::Trim(output)};
        }
        if (!net_->Connect({kAddressA, kAddressB, 24, "", "", "", ""}, &output)) return {false, output};
        pcap_ = dir_ + "/capture.pcap";
        capture_ = std::make_unique<netns::Capture>(*net_, pcap_, dir_ + "/tcpdump.log");
        if (!capture_->Started()) {
            return {false, "tcpdump did not start: " + FileText(dir_ + "/tcpdump.log")};
        }
        return {};
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name)) << text;
        return Path(name);
    }

    // Stops the capture; then each packet's description and tshark's fields of the same frame.
    // With the fields asked for comes icmp.type: tshark also dissects the datagram that an
    // ICMP error quotes, which the decoders leave to the ICMP description (see Quoted).
    void Collect(std::vector<std::string> fields) {
        fields.push_back("icmp.type");
        // The last frames of an exchange may still be on their way into tcpdump's file.
        EXPECT_TRUE(capture_->StopWhenWritten()) << "tcpdump did not stop cleanly";
        const ModeRun run = DescribeFile(pcap_);
        ASSERT_EQ(run.status, 0) << run.err;
        packets_ = SplitPackets(run.out);
        frames_ = netns::TsharkFields(pcap_, fields, "-E occurrence=a -E 'aggregator=|'");
        ASSERT_FALSE(frames_.empty()) << "tshark read nothing from " << pcap_;
        ASSERT_EQ(packets_.size(), frames_.size());
    }

    void TearDown() override {
        if (HasFailure() && !pcap_.empty() && std::filesystem::exists(pcap_)) {
            ADD_FAILURE() << "the capture as tshark lists it:\n"
                          << RunShell("tshark -n -r '" + pcap_ + "' 2>/dev/null");
        }
        capture_.reset();
        net_.reset();
    }

    // Whether the frame is an ICMP error: its application fields are those of a quoted datagram.
    static bool Quoted(const Fields& frame) { return frame.count("icmp.type") > 0; }

    std::unique_ptr<NamespacePair> net_;
    std::unique_ptr<netns::Capture> capture_;
    std::string dir_, pcap_;
    std::vector<std::string> packets_;
    std::vector<Fields> frames_;
};

#define PREPARE(...)                                                      \
    do {                                                                  \
        const Readiness readiness = Prepare({__VA_ARGS__});               \
        if (readiness.skip) GTEST_SKIP() << readiness.problem;            \
        ASSERT_TRUE(readiness.problem.empty()) << readiness.problem;      \
    } while (0)

// ---- DNS ----

// tshark's numbers for the types and classes of this traffic, under the decoder's names. The
// decoder names no type above 26: AAAA (28) and EDNS's OPT (41) are "Unknown type".
std::string DnsTypeName(const std::string& type) {
    static const std::map<unsigned long, std::string> kNames = {
        {1, "A (Host Address)"},
        {2, "NS (authoritative name server)"},
        {5, "CNAME (canonical name for an alias)"},
        {6, "SOA (marks the start of a zone of authority)"},
        {12, "PTR (domain name pointer)"},
        {15, "MX (mail exchange)"},
        {16, "TXT (text strings)"},
        {28, "Unknown type"},
        {41, "Unknown type"},
    };
    const auto found = kNames.find(Number(type));
    return found == kNames.end() ? "(type " + type + ": not in this test)" : found->second;
}

std::string DnsClassName(const std::string& klass) {
    return Number(klass) == 1 ? "IN (Internet Class)" : "(class " + klass + ": not in this test)";
}

struct DnsRecord {
    std::string section, name, type, klass, ttl;
    int dataLines = 0;
};

// One DNS message of a description.
struct DnsMessage {
    Fields header;
    int identifications = 0;
    std::vector<std::string> flagLines;
    std::vector<std::array<std::string, 3>> questions;  // name, type, class
    std::vector<DnsRecord> records;
    std::map<std::string, std::vector<std::string>> data;  // record-data lines by key
};

DnsMessage ParseDns(const std::vector<Line>& section) {
    DnsMessage message;
    enum { None, Question, Record } place = None;
    for (const Line& line : section) {
        const std::string& label = line.label;
        if (line.depth == 1) {
            if (StartsWith(label, "Query Name : ")) {
                message.questions.push_back({label.substr(13), "", ""});
                place = Question;
            } else if (label == "Answer RR" || label == "Authoritative Namserver RR" ||
                       label == "Additional RR") {
                message.records.push_back({label, "", "", "", "", 0});
                place = Record;
            } else {
                const size_t at = label.find(": ");
                if (at != std::string::npos) {
                    message.header[label.substr(0, at)] = label.substr(at + 2);
                    if (StartsWith(label, "Identification: ")) ++message.identifications;
                }
            }
            continue;
        }
        if (place == None) {
            message.flagLines.push_back(label);
        } else if (place == Question) {
            if (StartsWith(label, "Query Type : ")) message.questions.back()[1] = label.substr(13);
            if (StartsWith(label, "Query Class : ")) message.questions.back()[2] = label.substr(14);
        } else {
            DnsRecord& record = message.records.back();
            if (StartsWith(label, "Record Name : ")) {
                record.name = label.substr(14);
            } else if (StartsWith(label, "Record Type : ")) {
                record.type = label.substr(14);
            } else if (StartsWith(label, "Record Class : ")) {
                record.klass = label.substr(15);
            } else if (StartsWith(label, "Record TTL : ")) {
                record.ttl = label.substr(13);
            } else {
                const size_t at = label.find(": ");
                message.data[label.substr(0, at)].push_back(
                    at == std::string::npos ? "" : label.substr(at + 2));
                ++record.dataLines;
            }
        }
    }
    return message;
}

const std::vector<std::string> kDnsFields = {
    "udp.srcport", "tcp.srcport", "dns.id", "dns.flags", "dns.length", "dns.count.queries",
    "dns.count.answers", "dns.count.auth_rr", "dns.count.add_rr", "dns.qry.name", "dns.qry.type",
    "dns.qry.class", "dns.resp.name", "dns.resp.type", "dns.resp.class", "dns.resp.ttl", "dns.a",
    "dns.aaaa", "dns.cname", "dns.ns", "dns.ptr.domain_name", "dns.mx.preference",
    "dns.mx.mail_exchange", "dns.txt", "dns.soa.mname", "dns.soa.rname",
    "dns.soa.serial_number", "dns.soa.refresh_interval", "dns.soa.retry_interval",
    "dns.soa.expire_limit", "dns.soa.minimum_ttl",
};

// Record-data lines of the decoder and the tshark fields they show; the SOA intervals carry a
// unit.
struct DnsDataField {
    const char* line;
    const char* field;
    const char* unit;
};
const DnsDataField kDnsData[] = {
    {"Address", "dns.a", ""},
    {"CNAME", "dns.cname", ""},
    {"Authoritative Nameserver", "dns.ns", ""},
    {"PTR", "dns.ptr.domain_name", ""},
    {"PREFERENCE", "dns.mx.preference", ""},
    {"EXCHANGE", "dns.mx.mail_exchange", ""},
    {"Text String", "dns.txt", ""},
    {"MNAME", "dns.soa.mname", ""},
    {"RNAME", "dns.soa.rname", ""},
    {"Serial No", "dns.soa.serial_number", ""},
    {"Refresh Interval", "dns.soa.refresh_interval", " seconds"},
    {"Retry Interval", "dns.soa.retry_interval", " seconds"},
    {"Expiry Time for Zone information", "dns.soa.expire_limit", " seconds"},
    {"Minimim TTL for any RR from this zone", "dns.soa.minimum_ttl", " seconds"},
};

// ---- DHCP ----

// The decoder's names of the options this traffic carries, and which of them it shows as text.
const std::map<int, std::string> kDhcpOptionNames = {
    {1, "Subnet Mask"},
    {3, "Router Option"},
    {6, "DNS Server Option"},
    {12, "Host Name Option"},
    {15, "Domain Name"},
    {28, "Broadcast Address"},
    {42, "NTP Servers"},
    {50, "Requested IP Address"},
    {51, "IP Address Lease Time"},
    {53, "DHCP Message Type"},
    {54, "Server IDentifier"},
    {55, "Parameter Request List"},
    {57, "Max Message Size"},
    {58, "Renewal Time"},
    {59, "Rebinding Time"},
    {60, "Class Identifier"},
    {61, "Client Identifier"},
};
const std::set<int> kDhcpTextOptions = {12, 15, 60};

// tshark's bytes ("0ac90102") as the decoder shows an option value: "0a:c9:01:02", or the
// bytes as text up to the first zero byte.
std::string OptionText(const std::string& hex, bool asText) {
    std::string shown;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (asText) {
            const char c = static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            if (c == '\0') break;
            shown += c;
        } else {
            shown += (i ? ":" : "") + hex.substr(i, 2);
        }
    }
    return shown;
}

const std::vector<std::string> kDhcpFields = {
    "dhcp.type", "dhcp.hw.type", "dhcp.hops", "dhcp.id", "dhcp.secs", "dhcp.flags",
    "dhcp.ip.client", "dhcp.ip.your", "dhcp.ip.server", "dhcp.ip.relay", "dhcp.hw.mac_addr",
    "dhcp.server", "dhcp.file", "dhcp.cookie", "dhcp.option.type", "dhcp.option.length",
    "dhcp.option.value",
};

// ---- NetBIOS ----

// tshark's name ("TWPEER<20>", "TWPEER<00> (Workstation/Redirector)", "*<00><00>...") as the
// decoder shows it: the 15 name characters (tshark drops trailing blanks), the suffix byte,
// all up to the first zero byte.
std::string NetBIOSName(const std::string& tshark) {
    std::string bytes;
    bool sawSuffix = false;
    for (size_t i = 0; i < tshark.size(); ++i) {
        if (tshark[i] == '<' && i + 3 < tshark.size() && tshark[i + 3] == '>') {
            bytes += static_cast<char>(std::stoi(tshark.substr(i + 1, 2), nullptr, 16));
            i += 3;
            sawSuffix = true;
        } else if (sawSuffix && tshark[i] == ' ') {
            break;  // tshark's note on the suffix follows
        } else {
            bytes += tshark[i];
        }
    }
    if (!bytes.empty() && bytes.size() < 16) {
        const char suffix = bytes.back();
        bytes.pop_back();
        bytes.resize(15, ' ');
        bytes += suffix;
    }
    return bytes.substr(0, bytes.find('\0'));
}

const std::vector<std::string> kNbnsFields = {
    "nbns.id", "nbns.flags", "nbns.count.queries", "nbns.count.answers", "nbns.count.auth_rr",
    "nbns.count.add_rr", "nbns.name", "nbns.type", "nbns.class", "nbns.ttl", "nbns.data_length",
};

// ---- rwho ----

const std::vector<std::string> kRwhoFields = {
    "who.vers", "who.type", "who.sendtime", "who.recvtime", "who.hostname", "who.loadav_5",
    "who.loadav_10", "who.loadav_15", "who.boottime", "who.tty", "who.uid", "who.timeon",
    "who.idle",
};

uint32_t UtcTime(int year, int month, int day, int hour, int minute) {
    std::tm calendar{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = month - 1;
    calendar.tm_mday = day;
    calendar.tm_hour = hour;
    calendar.tm_min = minute;
    return static_cast<uint32_t>(timegm(&calendar));
}

}  // namespace

TEST_F(AppRealTraffic, DnsmasqAnswersOverUdpAndTcpAgreeWithTshark) {
    PREPARE("dnsmasq", "dig");
    const std::string hosts = Write("hosts", "10.201.1.50 host.tw.test\n"
                                             "fd00:201::50 host.tw.test\n");
    // Authoritative for tw.test (which gives the SOA record) and its reverse zone.
    const std::string conf = Write("dnsmasq.conf", "port=53\n"
                                                   "listen-address=10.201.1.2\n"
                                                   "bind-interfaces\n"
                                                   "no-resolv\n"
                                                   "no-hosts\n"
                                                   "addn-hosts=" + hosts + "\n"
                                                   "mx-host=tw.test,mail.tw.test,10\n"
                                                   "txt-record=txt.tw.test,\"hello tidewatch\","
                                                   "\"second string\"\n"
                                                   "ptr-record=50.1.201.10.in-addr.arpa,"
                                                   "host.tw.test\n"
                                                   "cname=alias.tw.test,host.tw.test\n"
                                                   "auth-server=ns.tw.test,10.201.1.2\n"
                                                   "auth-zone=tw.test,10.201.1.0/24,"
                                                   "fd00:201::/64\n"
                                                   "auth-soa=2024061501,hostmaster.tw.test,1200,"
                                                   "180,1209600\n"
                                                   "log-queries\n");
    Background dnsmasq(net_->ArgvB({"dnsmasq", "--no-daemon", "--conf-file=" + conf,
                                    "--pid-file=", "--user=root", "--log-facility=-"}),
                       Path("dnsmasq.log"));
    ASSERT_TRUE(WaitFor(
        [&] { return net_->ListeningInB("udp", 53) && net_->ListeningInB("tcp", 53); },
        std::chrono::seconds(30)))
        << "dnsmasq did not start: " << FileText(Path("dnsmasq.log"));

    std::string output;
    // One try each, so that every query is in the capture once; its wait only bounds a failure.
    const std::string dig = std::string("timeout 120 dig @") + kAddressB + " +time=10 +tries=1 ";
    EXPECT_EQ(Shell(net_->InA(dig + "host.tw.test A host.tw.test AAAA tw.test MX txt.tw.test TXT"
                                    " tw.test SOA 50.1.201.10.in-addr.arpa PTR alias.tw.test A"),
                    &output),
              0)
        << output;
    EXPECT_EQ(Count(output, "status: NOERROR"), 7) << output;
    // Over TCP: dnsmasq answers one query per connection.
    EXPECT_EQ(Shell(net_->InA(dig + "+tcp tw.test SOA tw.test MX alias.tw.test A"),
                    &output),
              0)
        << output;
    EXPECT_EQ(Count(output, "status: NOERROR"), 3) << output;
    ASSERT_NO_FATAL_FAILURE(Collect(kDnsFields));

    std::set<std::string> answerTypes;  // "udp 15", "tcp 6", ...
    std::map<std::string, std::vector<std::string>> shown;  // every record-data line by key
    int messages = 0;
    for (size_t i = 0; i < packets_.size(); ++i) {
        const Fields& frame = frames_[i];
        if (!frame.count("dns.id") || Quoted(frame)) continue;
        ++messages;
        SCOPED_TRACE("frame " + std::to_string(i + 1) + "\n" + packets_[i]);
        bool found = false;
        DnsMessage ours = ParseDns(Section(Lines(packets_[i]), "DNS Packet", &found));
        ASSERT_TRUE(found) << "no DNS description";
        EXPECT_EQ(ours.identifications, 1);

        const unsigned long flags = Number(Value(frame, "dns.flags"));
        EXPECT_EQ(ours.header["Identification"], std::to_string(Number(Value(frame, "dns.id"))));
        EXPECT_EQ(ours.header["Flags"], Hex(flags, 4));
        const bool response = flags & 0x8000;
        ASSERT_FALSE(ours.flagLines.empty());
        EXPECT_EQ(ours.flagLines[0], response ? "DNS Response" : "DNS Query");
        const bool authoritative = std::find(ours.flagLines.begin(), ours.flagLines.end(),
                                             "AA (Authoritative server for the Domain being "
                                             "queried)") != ours.flagLines.end();
        EXPECT_EQ(authoritative, (flags & 0x0400) != 0);
        const bool overTcp = frame.count("tcp.srcport");
        if (overTcp) {
            EXPECT_EQ(ours.header["TCP Length"], Value(frame, "dns.length"));
        } else {
            EXPECT_EQ(ours.header.count("TCP Length"), 0u);
        }
        EXPECT_EQ(ours.header["No. of Questions"], Value(frame, "dns.count.queries"));
        EXPECT_EQ(ours.header["No. of Answer Resource Records"], Value(frame, "dns.count.answers"));
        EXPECT_EQ(ours.header["No. of Name Server Resource Records"],
                  Value(frame, "dns.count.auth_rr"));
        EXPECT_EQ(ours.header["No. Additional Resource Records"], Value(frame, "dns.count.add_rr"));

        std::vector<std::array<std::string, 3>> questions;
        const auto names = Values(frame, "dns.qry.name");
        for (size_t q = 0; q < names.size(); ++q) {
            questions.push_back({names[q], DnsTypeName(Value(frame, "dns.qry.type", q)),
                                 DnsClassName(Value(frame, "dns.qry.class", q))});
        }
        EXPECT_EQ(ours.questions, questions);

        // Names and types of all records; class and time to live of all but OPT, whose fields
        // tshark names otherwise.
        const auto recordNames = Values(frame, "dns.resp.name");
        const auto recordTypes = Values(frame, "dns.resp.type");
        ASSERT_EQ(ours.records.size(), recordNames.size());
        ASSERT_EQ(recordTypes.size(), recordNames.size());
        std::vector<std::string> ourClasses, ourTtls, classes, ttls;
        for (size_t r = 0; r < ours.records.size(); ++r) {
            const DnsRecord& record = ours.records[r];
            EXPECT_EQ(record.name, recordNames[r] == "<Root>" ? "" : recordNames[r]);
            EXPECT_EQ(record.type, DnsTypeName(recordTypes[r]));
            const unsigned long type = Number(recordTypes[r]);
            if (type == 28 || type == 41) {
                EXPECT_EQ(record.dataLines, 0) << "record " << r;
            }
            if (type == 41) continue;
            ourClasses.push_back(record.klass);
            ourTtls.push_back(record.ttl);
            const bool answer = r < Number(Value(frame, "dns.count.answers"));
            if (answer) answerTypes.insert((overTcp ? "tcp " : "udp ") + recordTypes[r]);
        }
        for (const std::string& klass : Values(frame, "dns.resp.class")) {
            classes.push_back(DnsClassName(klass));
        }
        for (const std::string& ttl : Values(frame, "dns.resp.ttl")) {
            ttls.push_back(ttl + " seconds (" + std::to_string(Number(ttl) / 3600) + " hours)");
        }
        EXPECT_EQ(ourClasses, classes);
        EXPECT_EQ(ourTtls, ttls);

        std::set<std::string> known;
        for (const DnsDataField& data : kDnsData) {
            known.insert(data.line);
            std::vector<std::string> expected;
            for (const std::string& value : Values(frame, data.field)) {
                expected.push_back(value + data.unit);
            }
            const auto found = ours.data.find(data.line);
            EXPECT_EQ(found == ours.data.end() ? std::vector<std::string>{} : found->second,
                      expected)
                << data.line;
        }
        for (const auto& [line, values] : ours.data) {
            EXPECT_TRUE(known.count(line)) << "a record-data line not compared: " << line;
            for (const std::string& value : values) shown[line].push_back(value);
        }
    }

    // Every query was answered, over UDP and over TCP, with what dnsmasq was given.
    EXPECT_EQ(messages, 20);
    for (const char* kind : {"udp 1", "udp 28", "udp 15", "udp 16", "udp 6", "udp 12", "udp 5",
                             "tcp 6", "tcp 15", "tcp 5", "tcp 1"}) {
        EXPECT_TRUE(answerTypes.count(kind)) << "no answer of type " << kind;
    }
    auto has = [&](const std::string& line, const std::string& value) {
        const auto& values = shown[line];
        return std::find(values.begin(), values.end(), value) != values.end();
    };
    EXPECT_TRUE(has("Address", "10.201.1.50"));
    EXPECT_TRUE(has("CNAME", "host.tw.test"));
    EXPECT_TRUE(has("PTR", "host.tw.test"));
    EXPECT_TRUE(has("PREFERENCE", "10"));
    EXPECT_TRUE(has("EXCHANGE", "mail.tw.test"));
    EXPECT_TRUE(has("Text String", "hello tidewatch"));
    EXPECT_TRUE(has("Text String", "second string"));
    EXPECT_TRUE(has("MNAME", "ns.tw.test"));
    EXPECT_TRUE(has("RNAME", "hostmaster.tw.test"));
    EXPECT_TRUE(has("Serial No", "2024061501"));
    EXPECT_TRUE(has("Retry Interval", "180 seconds"));
}

TEST_F(AppRealTraffic, DhcpLeaseFromDnsmasqAgreesWithTshark) {
    PREPARE("dnsmasq", "udhcpc");
    // No ping check before an offer (it would cost seconds) and broadcast replies, since the
    // client's end has another address than the one offered.
    const std::string conf = Write("dhcp.conf", "port=0\n"
                                                "interface=" + net_->ifB + "\n"
                                                "bind-interfaces\n"
                                                "dhcp-range=10.201.1.100,10.201.1.150,"
                                                "255.255.255.0,1h\n"
                                                "dhcp-leasefile=" + Path("leases") + "\n"
                                                "dhcp-authoritative\n"
                                                "no-ping\n"
                                                "dhcp-broadcast\n"
                                                "log-dhcp\n");
    Background dnsmasq(net_->ArgvB({"dnsmasq", "--no-daemon", "--conf-file=" + conf,
                                    "--pid-file=", "--user=root", "--log-facility=-"}),
                       Path("dnsmasq.log"));
    ASSERT_TRUE(WaitFor([&] { return net_->ListeningInB("udp", 67); }, std::chrono::seconds(30)))
        << "dnsmasq did not start: " << FileText(Path("dnsmasq.log"));

    // The lease is only asked for and shown: a script that does nothing leaves the address as it
    // is.
    std::string output;
    // A discover is sent again only after 10 s without an offer, so that the capture holds each
    // message once however slowly the server answers.
    EXPECT_EQ(Shell(net_->InA("timeout 60 udhcpc -i " + net_->ifA +
                              " -n -q -f -B -t 3 -T 10 -s /bin/true -x hostname:tw-client"),
                    &output),
              0)
        << output;
    const size_t leaseAt = output.find("lease of ");
    ASSERT_NE(leaseAt, std::string::npos) << output;
    const size_t leasedAt = leaseAt + std::strlen("lease of ");
    const std::string leased = output.substr(leasedAt, output.find(' ', leasedAt) - leasedAt);
    ASSERT_NO_FATAL_FAILURE(Collect(kDhcpFields));

    std::vector<std::string> messageTypes;
    for (size_t i = 0; i < packets_.size(); ++i) {
        const Fields& frame = frames_[i];
        if (!frame.count("dhcp.type") || Quoted(frame)) continue;
        SCOPED_TRACE("frame " + std::to_string(i + 1) + "\n" + packets_[i]);
        const std::vector<Line> lines = Lines(packets_[i]);
        const bool request = Value(frame, "dhcp.type") == "1";
        bool found = false;
        const std::vector<Line> dhcp =
            Section(lines, request ? "DHCP BOOTREQUEST Packet" : "DHCP BOOTREPLY Packet", &found);
        ASSERT_TRUE(found) << "no DHCP description";
        Fields ours = KeyValues(dhcp);

        std::string mac = Value(frame, "dhcp.hw.mac_addr");
        std::replace(mac.begin(), mac.end(), ':', '-');
        in_addr cookie{};
        inet_pton(AF_INET, Value(frame, "dhcp.cookie").c_str(), &cookie);
        const Fields expected = {
            {"Hardware Type", Value(frame, "dhcp.hw.type")},
            {"Hops", Value(frame, "dhcp.hops")},
            {"Xid", Value(frame, "dhcp.id")},
            {"Secs", Value(frame, "dhcp.secs")},
            {"Flags", Value(frame, "dhcp.flags")},
            {"Client IP", Value(frame, "dhcp.ip.client")},
            {"'Your' IP", Value(frame, "dhcp.ip.your")},
            {"Next Server IP", Value(frame, "dhcp.ip.server")},
            {"Relay IP", Value(frame, "dhcp.ip.relay")},
            {"Client Hardware Address", mac},
            {"Host Name", Value(frame, "dhcp.server")},
            {"Boot File Name", Value(frame, "dhcp.file")},
            {"Magic", Hex(ntohl(cookie.s_addr), 8)},
        };
        for (const auto& [key, value] : expected) EXPECT_EQ(ours[key], value) << key;

        // The options after the magic line, in wire order, against tshark's (the end option
        // and padding are not shown).
        std::vector<std::pair<std::string, std::string>> options, tsharkOptions;
        bool afterMagic = false;
        for (const Line& line : dhcp) {
            if (afterMagic) {
                const size_t at = line.label.find(": ");
                options.emplace_back(line.label.substr(0, at),
                                     at == std::string::npos ? "" : line.label.substr(at + 2));
            }
            if (StartsWith(line.label, "Magic: ")) afterMagic = true;
        }
        const auto types = Values(frame, "dhcp.option.type");
        const auto lengths = Values(frame, "dhcp.option.length");
        const auto values = Values(frame, "dhcp.option.value");
        size_t valueIndex = 0;
        for (size_t o = 0; o < lengths.size() && o < types.size(); ++o) {
            const int code = std::stoi(types[o]);
            const auto name = kDhcpOptionNames.find(code);
            const std::string value = Number(lengths[o]) > 0 && valueIndex < values.size()
                                          ? values[valueIndex++]
                                          : std::string();
            tsharkOptions.emplace_back(
                name == kDhcpOptionNames.end() ? "(option " + types[o] + ": not in this test)"
                                               : name->second,
                OptionText(value, kDhcpTextOptions.count(code) > 0));
        }
        EXPECT_EQ(options, tsharkOptions);
        if (ours.count("DHCP Message Type")) messageTypes.push_back(ours["DHCP Message Type"]);

        // What dnsmasq was told to hand out.
        if (!request) {
            EXPECT_EQ(ours["'Your' IP"], leased);
            EXPECT_EQ(ours["Server IDentifier"], "0a:c9:01:02");  // 10.201.1.2
            EXPECT_EQ(ours["IP Address Lease Time"], "00:00:0e:10");  // one hour
            EXPECT_EQ(ours["Subnet Mask"], "ff:ff:ff:00");
        } else {
            EXPECT_EQ(ours["Host Name Option"], "tw-client");
        }
    }
    // Discover, offer, request, acknowledgement.
    EXPECT_EQ(messageTypes, (std::vector<std::string>{"01", "02", "03", "05"}));
}

TEST_F(AppRealTraffic, NetBIOSNameQueriesAgreeWithTshark) {
    PREPARE("nmblookup");
    const bool responder = HaveTool("nmbd");
    const std::string state = Path("samba");
    for (const char* sub : {"lock", "state", "cache", "pid", "private", "ncalrpc", "socket"}) {
        std::filesystem::create_directories(state + "/" + sub);
    }
    const std::string dirs = "lock directory = " + state + "/lock\n"
                             "state directory = " + state + "/state\n"
                             "cache directory = " + state + "/cache\n"
                             "pid directory = " + state + "/pid\n"
                             "private dir = " + state + "/private\n"
                             "ncalrpc dir = " + state + "/ncalrpc\n"
                             "nmbd:socket dir = " + state + "/socket\n";
    const std::string client = Write("client.conf", "[global]\n" + dirs);
    std::unique_ptr<Background> nmbd;
    if (responder) {
        // A name server of its own in B: it registers TWPEER and TWGROUP by broadcast, then
        // answers queries for them.
        const std::string server = Write("nmbd.conf", "[global]\n"
                                                      "netbios name = TWPEER\n"
                                                      "workgroup = TWGROUP\n"
                                                      "interfaces = 10.201.1.2/24\n"
                                                      "bind interfaces only = yes\n"
                                                      "local master = no\n"
                                                      "domain master = no\n"
                                                      "preferred master = no\n"
                                                      "log file = " + Path("nmbd.log") + "\n" +
                                                      dirs);
        nmbd = std::make_unique<Background>(
            net_->ArgvB({"nmbd", "--foreground", "--no-process-group", "--debug-stdout",
                         "--debuglevel=1", "--configfile=" + server}),
            Path("nmbd.out"));
        ASSERT_TRUE(WaitFor([&] { return net_->ListeningInB("udp", 137); },
                            std::chrono::seconds(30)))
            << "nmbd did not start: " << FileText(Path("nmbd.out"));
    } else {
        std::cout << "nmbd (package samba) is missing: only queries, no answers, are compared\n";
    }

    std::string output;
    const std::string lookup = "timeout 30 nmblookup --configfile=" + client + " ";
    // A name query to B, answered when nmbd runs, and then a node status request (the wildcard
    // name "*"). nmbd answers for its name once it has registered it, which it does by broadcast
    // after it listens: the query is asked again until it is answered.
    const std::string query = net_->InA(lookup + "-U " + kAddressB + " TWPEER");
    if (responder) {
        EXPECT_TRUE(WaitFor(
            [&] {
                return Shell(query, &output) == 0 &&
                       output.find("10.201.1.2 TWPEER<00>") != std::string::npos;
            },
            std::chrono::seconds(90)))
            << output;
    } else {
        Shell(query, &output);
    }
    if (responder) {
        // Unanswered, nmblookup would retry for seconds.
        EXPECT_EQ(Shell(net_->InA(lookup + "-A " + kAddressB), &output), 0) << output;
    }
    // A broadcast query that nobody answers.
    Shell(net_->InA(lookup + "-B " + kBroadcast + " NOSUCHNAME"), &output);
    ASSERT_NO_FATAL_FAILURE(Collect(kNbnsFields));

    std::set<std::string> seen;
    for (size_t i = 0; i < packets_.size(); ++i) {
        const Fields& frame = frames_[i];
        if (!frame.count("nbns.id") || Quoted(frame)) continue;
        SCOPED_TRACE("frame " + std::to_string(i + 1) + "\n" + packets_[i]);
        const std::vector<Line> lines = Lines(packets_[i]);
        bool found = false;
        Fields header = KeyValues(Section(lines, "NetBIOS Name Query Packet", &found));
        ASSERT_TRUE(found) << "no NetBIOS description";
        const unsigned long questions = Number(Value(frame, "nbns.count.queries"));
        const unsigned long answers = Number(Value(frame, "nbns.count.answers"));
        EXPECT_EQ(header["Transaction ID"], Value(frame, "nbns.id"));
        EXPECT_EQ(header["Flags"], Value(frame, "nbns.flags"));
        EXPECT_EQ(header["Questions"], std::to_string(questions));
        EXPECT_EQ(header["Answers"], std::to_string(answers));
        EXPECT_EQ(header["Authorities"], Value(frame, "nbns.count.auth_rr"));
        EXPECT_EQ(header["Additionals"], Value(frame, "nbns.count.add_rr"));

        // One question and one answer record at most are shown; tshark lists the names of the
        // question, the answers and the other records in that order.
        Fields question = KeyValues(Section(lines, "NBNS Question", &found));
        EXPECT_EQ(found, questions > 0);
        if (questions > 0) {
            EXPECT_EQ(question["Name"], NetBIOSName(Value(frame, "nbns.name")));
            EXPECT_EQ(question["Type"], Hex(Number(Value(frame, "nbns.type")), 4));
            EXPECT_EQ(question["Class"], Hex(Number(Value(frame, "nbns.class")), 4));
            seen.insert("question " + question["Type"] + " " + Value(frame, "nbns.name"));
        }
        Fields record = KeyValues(Section(lines, "NBNS Resource Record", &found));
        EXPECT_EQ(found, answers > 0);
        if (answers > 0) {
            const size_t r = questions > 0 ? 1 : 0;
            EXPECT_EQ(record["Name"], NetBIOSName(Value(frame, "nbns.name", r)));
            EXPECT_EQ(record["Type"], Hex(Number(Value(frame, "nbns.type", r)), 4));
            EXPECT_EQ(record["Class"], Hex(Number(Value(frame, "nbns.class", r)), 4));
            EXPECT_EQ(record["TTL"], Hex(Number(Value(frame, "nbns.ttl")), 8));
            EXPECT_EQ(record["DataLen"], Hex(Number(Value(frame, "nbns.data_length")), 4));
            EXPECT_EQ(record.count("Addr"), 0u);  // the address entry is not shown
            seen.insert("answer " + record["Type"] + " " + record["Name"]);
        }
    }

    const std::string padded = "TWPEER         ";  // 15 characters; the suffix 0 ends the text
    EXPECT_TRUE(seen.count("question 0x0020 TWPEER<00>"));
    EXPECT_TRUE(seen.count("question 0x0020 NOSUCHNAME<00>"));
    if (responder) {
        EXPECT_TRUE(seen.count("question 0x0021 *<00><00><00><00><00><00><00><00><00><00><00>"
                               "<00><00><00><00>"));
        EXPECT_TRUE(seen.count("answer 0x0020 " + padded)) << "no name query response";
        EXPECT_TRUE(seen.count("answer 0x0021 *")) << "no node status response";
    }
}

TEST_F(AppRealTraffic, RwhodStatusAgreesWithTshark) {
    PREPARE("rwhod", "unshare", "utmpdump", "hostname");
    // Two logged-in users for rwhod to report: a utmp of our own, on terminals that exist in
    // any system (rwhod takes the idle time from the terminal device).
    const std::string text = Write("utmp.txt",
        "[7] [04242] [tw1 ] [alice   ] [null        ] [                    ] [0.0.0.0        ] "
        "[2024-06-15T10:00:00,000000+00:00]\n"
        "[7] [04243] [tw2 ] [bob     ] [zero        ] [                    ] [0.0.0.0        ] "
        "[2024-06-15T11:30:00,000000+00:00]\n");
    const std::string utmp = Path("utmp");
    int status = -1;
    RunShell("utmpdump -r < '" + text + "' > '" + utmp + "' 2>/dev/null", &status);
    ASSERT_EQ(status, 0) << "utmpdump could not write " << utmp;

    // rwhod detaches from the process that starts it and sends its first status at once. It runs
    // in a process namespace of its own, so that killing that namespace's starter ends the daemon
    // too; with a host name and a utmp that this test chose, and a spool of its own for the
    // status it receives (its own broadcast), all gone with the namespaces.
    const std::string host = "tw-rwho-peer";
    const std::string script = "hostname " + host +
                               " && mount -t tmpfs tmpfs /var/run && cp '" + utmp +
                               "' /var/run/utmp && mount -t tmpfs tmpfs /var/spool/rwho"
                               " && rwhod -b && exec sleep 600";
    Background rwhod(net_->ArgvB({"unshare", "--pid", "--fork", "--kill-child", "--uts", "--mount",
                                  "sh", "-c", script}),
                     Path("rwhod.log"));
    EXPECT_TRUE(WaitFor([&] { return FileText(pcap_).find(host) != std::string::npos; },
                        std::chrono::seconds(30)))
        << "no status from rwhod: " << FileText(Path("rwhod.log"));
    ASSERT_NO_FATAL_FAILURE(Collect(kRwhoFields));
    rwhod.Stop(SIGKILL, std::chrono::milliseconds(0));

    int statuses = 0;
    for (size_t i = 0; i < packets_.size(); ++i) {
        const Fields& frame = frames_[i];
        if (!frame.count("who.vers") || Quoted(frame)) continue;
        ++statuses;
        SCOPED_TRACE("frame " + std::to_string(i + 1) + "\n" + packets_[i]);
        bool found = false;
        const std::vector<Line> who = Section(Lines(packets_[i]), "Who Packet", &found);
        ASSERT_TRUE(found) << "no rwho description";
        Fields ours = KeyValues(who);
        EXPECT_EQ(ours["Version"], Hex(Number(Value(frame, "who.vers")), 2));
        EXPECT_EQ(ours["Type"], Hex(Number(Value(frame, "who.type")), 2));
        EXPECT_EQ(ours["Pad"], "0x0000");
        EXPECT_EQ(ours["Host Name"], Value(frame, "who.hostname"));
        EXPECT_EQ(ours["Host Name"], host);
        const std::pair<const char*, const char*> times[] = {
            {"Send Time", "who.sendtime"},
            {"Receive Time", "who.recvtime"},
            {"BootTime", "who.boottime"},
        };
        for (const auto& [line, field] : times) {
            const std::set<std::string> texts = TimeTexts(WireTime(Value(frame, field)));
            EXPECT_TRUE(texts.count(ours[line]))
                << line << ": \"" << ours[line] << "\", tshark's is " << Joined(texts);
        }
        // tshark shows the load averages as sent divided by 100.
        std::string loads;
        for (const char* field : {"who.loadav_5", "who.loadav_10", "who.loadav_15"}) {
            const long sent = std::lround(std::stod(Value(frame, field)) * 100);
            loads += (loads.empty() ? "" : ", ") + Hex(static_cast<unsigned long>(sent), 8);
        }
        EXPECT_EQ(ours["Load Average"], loads);

        std::vector<std::string> entries, expected;
        for (const Line& line : who) {
            if (StartsWith(line.label, "Term: ")) entries.push_back(line.label);
        }
        const auto terminals = Values(frame, "who.tty");
        for (size_t e = 0; e < terminals.size(); ++e) {
            expected.push_back("Term: " + terminals[e] + ", UID: " + Value(frame, "who.uid", e) +
                               ", Time: " + Hex(WireTime(Value(frame, "who.timeon", e)), 8) +
                               ", Idle: " + Hex(Number(Value(frame, "who.idle", e)), 8));
        }
        EXPECT_EQ(entries, expected);
        // The users of our utmp, as they went out.
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(StartsWith(entries[0], "Term: null, UID: alice, Time: " +
                                               Hex(UtcTime(2024, 6, 15, 10, 0), 8) + ", Idle: 0x"))
            << entries[0];
        EXPECT_TRUE(StartsWith(entries[1], "Term: zero, UID: bob, Time: " +
                                               Hex(UtcTime(2024, 6, 15, 11, 30), 8) + ", Idle: 0x"))
            << entries[1];
    }
    EXPECT_GE(statuses, 1);
}
