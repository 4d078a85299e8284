#include "decode/DNS.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Builds DNS messages field by field, in wire order.
class Message {
public:
    Message& U8(uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    Message& U16(uint16_t v) { return U8(static_cast<uint8_t>(v >> 8)).U8(v & 0xff); }
    Message& U32(uint32_t v) { return U16(static_cast<uint16_t>(v >> 16)).U16(v & 0xffff); }
    Message& Raw(std::string_view s) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    Message& Header(uint16_t id, uint16_t flags, uint16_t questions, uint16_t answers = 0,
                    uint16_t nameServers = 0, uint16_t additional = 0) {
        return U16(id).U16(flags).U16(questions).U16(answers).U16(nameServers).U16(additional);
    }
    // The labels of a dotted name without the terminating zero (for names ending in a pointer).
    Message& Labels(std::string_view dotted) {
        while (!dotted.empty()) {
            const size_t dot = dotted.find('.');
            const std::string_view label = dotted.substr(0, dot);
            U8(static_cast<uint8_t>(label.size())).Raw(label);
            dotted = dot == std::string_view::npos ? "" : dotted.substr(dot + 1);
        }
        return *this;
    }
    Message& Name(std::string_view dotted) { return Labels(dotted).U8(0); }
    Message& Pointer(uint16_t offset) { return U16(static_cast<uint16_t>(0xc000 | offset)); }
    Message& CharString(std::string_view s) { return U8(static_cast<uint8_t>(s.size())).Raw(s); }
    Message& Question(std::string_view name, uint16_t type, uint16_t dnsClass = 1) {
        return Name(name).U16(type).U16(dnsClass);
    }
    // A record's fixed fields, after its name and before its data.
    Message& Record(uint16_t type, uint32_t ttl, uint16_t dataLength, uint16_t dnsClass = 1) {
        return U16(type).U16(dnsClass).U32(ttl).U16(dataLength);
    }
    Message& Append(const Message& other) {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
        return *this;
    }
    Message& CutTo(size_t size) {
        bytes_.resize(size);
        return *this;
    }

    size_t Size() const { return bytes_.size(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> WithTcpPrefix() const {
        std::vector<uint8_t> framed = {static_cast<uint8_t>(Size() >> 8),
                                       static_cast<uint8_t>(Size())};
        framed.insert(framed.end(), bytes_.begin(), bytes_.end());
        return framed;
    }

private:
    std::vector<uint8_t> bytes_;
};

struct Described {
    std::string text;
    int result;
};

Described Describe(const std::vector<uint8_t>& bytes, int plain = 0) {
    str text;
    const int result =
        DescribeDNS(bytes.data(), static_cast<int32_t>(bytes.size()), plain, text);
    return {text.c_str(), result};
}

std::string RecordData(uint16_t type, const Message& data, uint16_t length) {
    dnsFraming = DNSFraming::Bare;
    str text;
    const auto& bytes = data.Bytes();
    DescribeDNSRecordData(type, bytes.data(), bytes.data(), bytes.data() + bytes.size(), length,
                          text);
    return text.c_str();
}
std::string RecordData(uint16_t type, const Message& data) {
    return RecordData(type, data, static_cast<uint16_t>(data.Size()));
}

// A dotted name of exactly length characters, in labels of at most 63.
std::string LongName(size_t length) {
    std::string name;
    while (length) {
        const size_t label = length <= 63 ? length : 62;
        name.append(label, static_cast<char>('a' + name.size() % 26));
        length -= label;
        if (length) {
            name += '.';
            --length;
        }
    }
    return name;
}

// www.example.com, A, with one answer that points back at the question's name (offset 12).
Message StandardResponse() {
    return Message()
        .Header(0x1234, 0x8180, 1, 1)
        .Question("www.example.com", 1)
        .Pointer(12)
        .Record(1, 7200, 4)
        .U8(93).U8(184).U8(216).U8(34);
}

const std::string kStandardBody =
    "\tFlags: 0x8180\n"
    "\t\tDNS Response\n"
    "\t\tStandard Query\n"
    "\t\tDNS Message was NOT truncated\n"
    "\t\tRD (Recursion Desired)\n"
    "\t\tRA (Server supports recursive queries)\n"
    "\tNo. of Questions: 1\n"
    "\tNo. of Answer Resource Records: 1\n"
    "\tNo. of Name Server Resource Records: 0\n"
    "\tNo. Additional Resource Records: 0\n"
    "\tQuery Name : www.example.com\n"
    "\t\tQuery Type : A (Host Address)\n"
    "\t\tQuery Class : IN (Internet Class)\n"
    "\tAnswer RR\n"
    "\t\tRecord Name : www.example.com\n"
    "\t\tRecord Type : A (Host Address)\n"
    "\t\tRecord Class : IN (Internet Class)\n"
    "\t\tRecord TTL : 7200 seconds (2 hours)\n"
    "\t\tAddress: 93.184.216.34\n";

bool StartsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(),
                                                      tail) == 0;
}

}  // namespace

TEST(DNSDescribe, UdpAndTcpFraming) {
    EXPECT_EQ(Describe({0x12, 0x34}).text, "DNS Packet \n");
    EXPECT_EQ(Describe({0x12, 0x34}).result, 1);

    const Message response = StandardResponse();
    Described udp = Describe(response.Bytes());
    EXPECT_EQ(udp.text, "DNS Packet \n\tIdentification: 4660\n" + kStandardBody);
    EXPECT_EQ(udp.result, 1);

    // Behind the length prefix, the answer's pointer to offset 12 must land 2 bytes further on.
    Described tcp = Describe(response.WithTcpPrefix());
    EXPECT_EQ(tcp.text,
              "DNS Packet \n\tTCP Length: 49\n\tIdentification: 4660\n" + kStandardBody);
    EXPECT_EQ(tcp.result, 1);

    // With the plain flag the same bytes are one bare message: the prefix is the identification.
    Described plain = Describe(response.WithTcpPrefix(), 1);
    EXPECT_TRUE(StartsWith(plain.text, "DNS Packet \n\tIdentification: 49\n\tFlags: 0x1234\n"))
        << plain.text;
}

TEST(DNSDescribe, FurtherMessageAfterLastRecord) {
    // The second message's pointer counts from its own start, where "example" is; counted from
    // the data's start it would find "first.test".
    Message first = Message().Header(6, 0x0100, 1).Question("first.test", 1);
    Message second = Message().Header(7, 0x0100, 2).Question("example", 1);
    second.Labels("mail").Pointer(12).U16(15).U16(1);
    Described d = Describe(Message().Append(first).Append(second).Bytes(), 1);
    EXPECT_EQ(d.result, 1);
    EXPECT_NE(d.text.find("\t\tQuery Class : IN (Internet Class)\n\tIdentification: 7\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(d.text, "\tQuery Name : mail.example\n"
                                 "\t\tQuery Type : MX (mail exchange)\n"
                                 "\t\tQuery Class : IN (Internet Class)\n"))
        << d.text;
}

TEST(DNSDescribe, ResponseCodesAndOperationCodes) {
    const std::string flagLines =
        "\t\tDNS Response\n\t\tStandard Query\n\t\tDNS Message was NOT truncated\n"
        "\t\tRD (Recursion Desired)\n\t\tRA (Server supports recursive queries)\n";

    // Name error: the header lines and its line, nothing of counts, questions or records.
    Described nameError = Describe(Message().Header(1, 0x8183, 1).Question("nx.test", 1).Bytes());
    EXPECT_EQ(nameError.text,
              "DNS Packet \n\tIdentification: 1\n\tFlags: 0x8183\n" + flagLines +
                  "\t\tName Error. (If this was an authoritative name server, then this domain "
                  "does not exist)\n");
    EXPECT_EQ(nameError.result, 0);

    // Codes 2 to 10 stop after their line as well.
    Described failure = Describe(Message().Header(1, 0x8182, 1).Question("nx.test", 1).Bytes());
    EXPECT_TRUE(EndsWith(failure.text, "recursive queries)\n\t\tThere was a Server failure\n"));
    EXPECT_EQ(failure.result, 0);
    Described zone = Describe(Message().Header(1, 0x818a, 1).Question("nx.test", 1).Bytes());
    EXPECT_TRUE(EndsWith(zone.text, "recursive queries)\n\t\tName used used within the "
                                    "Pre-requisite or update section is not within the zone "
                                    "denoted in the zone section\n"));
    EXPECT_EQ(zone.result, 0);

    // Format error: its line, then the rest of the message.
    Described formatError =
        Describe(Message().Header(1, 0x8181, 1).Question("nx.test", 1).Bytes());
    EXPECT_EQ(formatError.text,
              "DNS Packet \n\tIdentification: 1\n\tFlags: 0x8181\n" + flagLines +
                  "\t\tThe Server was unable to interpret the query\n"
                  "\tNo. of Questions: 1\n\tNo. of Answer Resource Records: 0\n"
                  "\tNo. of Name Server Resource Records: 0\n"
                  "\tNo. Additional Resource Records: 0\n"
                  "\tQuery Name : nx.test\n\t\tQuery Type : A (Host Address)\n"
                  "\t\tQuery Class : IN (Internet Class)\n");
    EXPECT_EQ(formatError.result, 1);

    // Operation code 5 with the authoritative and truncated bits, as a query.
    Described reserved = Describe(Message().Header(2, 0x2e00, 0).Bytes());
    EXPECT_TRUE(StartsWith(reserved.text,
              "DNS Packet \n\tIdentification: 2\n\tFlags: 0x2e00\n\t\tDNS Query\n"
              "\t\tReserved Value Set\n"
              "\t\tAA (Authoritative server for the Domain being queried)\n"
              "\t\tTC (Message was truncated)\n\t\tRecursion Desired bit NOT set\n"
              "\t\tServer does not support recursive queries\n\tNo. of Questions: 0\n"))
        << reserved.text;
    EXPECT_NE(Describe(Message().Header(3, 0x0800, 0).Bytes()).text.find("\t\tInverse Query\n"),
              std::string::npos);
    // Codes 11 to 15 add no line and go on.
    Described code15 = Describe(Message().Header(4, 0x800f, 0).Bytes());
    EXPECT_TRUE(EndsWith(code15.text, "recursive queries\n\tNo. of Questions: 0\n"
                                      "\tNo. of Answer Resource Records: 0\n"
                                      "\tNo. of Name Server Resource Records: 0\n"
                                      "\tNo. Additional Resource Records: 0\n"));
    EXPECT_EQ(code15.result, 1);
}

TEST(DNSDescribe, RootNamedOptRecordAndPointerToPointer) {
    Message m = Message().Header(9, 0x8180, 1, 2, 0, 1).Question("www.example.com", 1);
    m.Pointer(12).Record(1, 7200, 4).U32(0x0a000001);   // answer name at 33
    m.Pointer(33).Record(5, 3599, 6).Labels("cdn").Pointer(33);  // pointer to a pointer
    m.U8(0).Record(41, 0, 0, 4096);                              // OPT: root name
    Described d = Describe(m.Bytes());
    EXPECT_EQ(d.result, 1);
    EXPECT_TRUE(EndsWith(d.text,
                         "\t\tAddress: 10.0.0.1\n"
                         "\tAnswer RR\n\t\tRecord Name : www.example.com\n"
                         "\t\tRecord Type : CNAME (canonical name for an alias)\n"
                         "\t\tRecord Class : IN (Internet Class)\n"
                         "\t\tRecord TTL : 3599 seconds (0 hours)\n"
                         "\t\tCNAME: cdn.www.example.com\n"
                         "\tAdditional RR\n\t\tRecord Name : \n\t\tRecord Type : Unknown type\n"
                         "\t\tRecord Class : Unknown Class\n"
                         "\t\tRecord TTL : 0 seconds (0 hours)\n"))
        << d.text;

    // The name reader reports what the name occupies where it stands, however far it leads.
    dnsFraming = DNSFraming::Bare;
    const auto& bytes = m.Bytes();
    str name;
    EXPECT_EQ(ReadDNSName(bytes.data() + 61, bytes.data(), bytes.data() + bytes.size(), name,
                          false),
              6);
    EXPECT_STREQ(name.c_str(), "cdn.www.example.com");
    EXPECT_EQ(ReadDNSName(bytes.data() + 12, bytes.data(), bytes.data() + bytes.size(), name,
                          true),
              2);
    EXPECT_STREQ(name.c_str(), "www.example.com");
}

TEST(DNSRecordData, TypesAndTheirLines) {
    EXPECT_EQ(RecordData(15, Message().U16(10).Name("mail.example.com")),
              "\t\tPREFERENCE: 10\n\t\tEXCHANGE: mail.example.com\n");
    EXPECT_EQ(RecordData(15, Message().U16(0xffff).Name("mx")),
              "\t\tPREFERENCE: -1\n\t\tEXCHANGE: mx\n");
    EXPECT_EQ(RecordData(21, Message().U16(10).Name("gw.example")),
              "\t\tPREFERENCE: 10\n\t\tIntermediate Hostname: gw.example\n");
    EXPECT_EQ(RecordData(26, Message().U16(3).Name("a.b").Name("c")),
              "\t\tPREFERENCE: 3\n\t\tMAP822 Domain Name: a.b\n\t\tMAPX400 Domain Name: c\n");

    EXPECT_EQ(RecordData(16, Message().CharString("hello world").CharString("second")),
              "\t\tText String: hello world\n\t\tText String: second\n");
    EXPECT_EQ(RecordData(16, Message().U8(0)), "");
    EXPECT_EQ(RecordData(16, Message().CharString("x"), 0), "");

    EXPECT_EQ(RecordData(11, Message().U32(0xc0a80001).U8(6).U32(0x00000010)),
              "\t\tWKS Address: 192.168.0.1\n\t\tProtocol: TCP\n\t\tServices: 27 \n");
    EXPECT_EQ(RecordData(11, Message().U32(0x0a000001).U8(17).U16(0x8001)),
              "\t\tWKS Address: 10.0.0.1\n\t\tProtocol: UDP\n\t\tServices: 0 15 \n");
    // A bit map declared longer than the data gets no services line.
    EXPECT_EQ(RecordData(11, Message().U32(0xc0a80001).U8(6).U32(0x00000010), 20),
              "\t\tWKS Address: 192.168.0.1\n\t\tProtocol: TCP\n");
    EXPECT_EQ(RecordData(11, Message().U32(0x0a000001).U8(1)),
              "\t\tWKS Address: 10.0.0.1\n\t\tServices: \n");

    Message soa = Message().Name("ns.example").Name("admin.example");
    soa.U32(2024010101).U32(7200).U32(900).U32(1209600).U32(86400);
    EXPECT_EQ(RecordData(6, soa),
              "\t\tMNAME: ns.example\n\t\tRNAME: admin.example\n\t\tSerial No: 2024010101\n"
              "\t\tRefresh Interval: 7200 seconds\n\t\tRetry Interval: 900 seconds\n"
              "\t\tExpiry Time for Zone information: 1209600 seconds\n"
              "\t\tMinimim TTL for any RR from this zone: 86400 seconds\n");
    // Only the values that lie wholly within the declared record data are shown.
    EXPECT_EQ(RecordData(6, soa, static_cast<uint16_t>(soa.Size() - 12)),
              "\t\tMNAME: ns.example\n\t\tRNAME: admin.example\n\t\tSerial No: 2024010101\n"
              "\t\tRefresh Interval: 7200 seconds\n");
    EXPECT_EQ(RecordData(6, soa, 4), "\t\tMNAME: ns.example\n");

    EXPECT_EQ(RecordData(13, Message().CharString("x86").CharString("Linux")),
              "\t\tCPU: x86\n\t\tOS: Linux\n");
    EXPECT_EQ(RecordData(19, Message().CharString("311061700956")),
              "\t\tPSDN Address:  311061700956\n");
    EXPECT_EQ(RecordData(20, Message().CharString("150862028003217").CharString("004")),
              "\t\tISDN Address:  150862028003217\n\t\tSubAddress:  004\n");
    EXPECT_EQ(RecordData(18, Message().U16(2).Name("afs.example")),
              "\t\tSUBTYPE: DCE Authenticated name server\n\t\tHOSTNAME: afs.example\n");
    EXPECT_EQ(RecordData(3, Message()), "\t\tObsoleted type MD\n");
    EXPECT_EQ(RecordData(10, Message().U32(1)), "");
    EXPECT_EQ(RecordData(41, Message().U32(1)), "");
}

TEST(DNSNames, BadPointersFailTheRead) {
    const std::string counted = "\tNo. Additional Resource Records: 0\n";
    // Pointing at itself, into a loop of two, and outside the data.
    for (const Message& m : {Message().Header(1, 0, 1).Pointer(12).U32(0x00010001),
                             Message().Header(1, 0, 1).Pointer(14).Pointer(12).U32(0x00010001),
                             Message().Header(1, 0, 1).Labels("a").Pointer(0x3fff).U32(1)}) {
        Described d = Describe(m.Bytes());
        EXPECT_EQ(d.result, 0);
        EXPECT_TRUE(EndsWith(d.text, counted + "\t\tsomething messed up in g\n")) << d.text;
    }

    // A chain of 64 pointers is followed; one of 65 fails. Pointer k sits at 3 + 2k and leads
    // to pointer k - 1; pointer 0 leads to the name "a" at offset 0.
    Message chain = Message().Name("a").Pointer(0);
    for (uint16_t k = 1; k <= 64; ++k) chain.Pointer(static_cast<uint16_t>(3 + 2 * (k - 1)));
    dnsFraming = DNSFraming::Bare;
    const auto& bytes = chain.Bytes();
    const uint8_t* end = bytes.data() + bytes.size();
    str name;
    EXPECT_EQ(ReadDNSName(bytes.data() + 3 + 2 * 63, bytes.data(), end, name, false), 2);
    EXPECT_STREQ(name.c_str(), "a");
    EXPECT_EQ(ReadDNSName(bytes.data() + 3 + 2 * 64, bytes.data(), end, name, false), 0);
    EXPECT_STREQ(name.c_str(), "");

    // Character-strings: empty, or with a zero byte inside, fail.
    str text;
    const uint8_t zeroInside[] = {2, 'a', 0, 'b'};
    EXPECT_EQ(ReadDNSString(zeroInside, zeroInside, zeroInside + 4, text, false), 0);
    const uint8_t empty[] = {0, 'x'};
    EXPECT_EQ(ReadDNSString(empty, empty, empty + 2, text, false), 0);
    const uint8_t good[] = {2, 'o', 'k'};
    EXPECT_EQ(ReadDNSString(good, good, good + 3, text, false), 3);
    EXPECT_STREQ(text.c_str(), "ok");
    // A label whose length runs into the terminating zero byte, or past the data.
    const uint8_t intoZero[] = {2, 'a', 0, 0};
    EXPECT_EQ(ReadDNSName(intoZero, intoZero, intoZero + 4, name, false), 0);
    const uint8_t cut[] = {5, 'a', 'b'};
    EXPECT_EQ(ReadDNSName(cut, cut, cut + 3, name, false), 0);
}

TEST(DNSDescribe, MessageCutShortEndsTheDescription) {
    const Message response = StandardResponse();
    const std::string full = Describe(response.Bytes()).text;
    auto cutAt = [&](size_t size) { return Describe(Message(response).CutTo(size).Bytes()); };
    auto upTo = [&](const std::string& line) {
        return full.substr(0, full.find(line) + line.size());
    };

    // Inside the header's counts.
    Described header = cutAt(9);
    EXPECT_EQ(header.text, upTo("\tNo. of Answer Resource Records: 1\n"));
    EXPECT_EQ(header.result, 0);
    // Inside a question's name, then inside its type.
    EXPECT_EQ(cutAt(20).text, upTo("No. Additional Resource Records: 0\n") +
                                  "\t\tsomething messed up in g\n");
    Described question = cutAt(30);
    EXPECT_EQ(question.text, upTo("\tQuery Name : www.example.com\n"));
    EXPECT_EQ(question.result, 0);
    // Inside a record's time to live.
    Described fixed = cutAt(41);
    EXPECT_EQ(fixed.text, upTo("\t\tRecord Class : IN (Internet Class)\n"));
    EXPECT_EQ(fixed.result, 0);
    // Inside the record data: no address line, and the walk has reached the end.
    Described data = cutAt(47);
    EXPECT_EQ(data.text, upTo("\t\tRecord TTL : 7200 seconds (2 hours)\n"));
    EXPECT_EQ(data.result, 1);
    // A name in record data that runs past the data ends that record's text only.
    EXPECT_EQ(RecordData(5, Message().Labels("cut").U8(9).Raw("abc")), "");
    EXPECT_EQ(RecordData(15, Message().U8(1)), "");
}

TEST(DNSDescribe, LineLimits) {
    // A 1024-character name is shown, its line cut to 1023 bytes (no line feed); one more
    // character ends the description without a line.
    const std::string longest = LongName(1024);
    Described shown = Describe(Message().Header(1, 0x0100, 1).Question(longest, 1).Bytes());
    const std::string cutLine = "\tQuery Name : " + longest.substr(0, 1023 - 14);
    EXPECT_TRUE(EndsWith(shown.text, cutLine + "\t\tQuery Type : A (Host Address)\n"
                                               "\t\tQuery Class : IN (Internet Class)\n"));
    EXPECT_EQ(shown.result, 1);
    Described tooLong =
        Describe(Message().Header(1, 0x0100, 1).Question(LongName(1025), 1).Bytes());
    EXPECT_TRUE(EndsWith(tooLong.text, "\tNo. Additional Resource Records: 0\n"));
    EXPECT_EQ(tooLong.result, 0);

    // Record data lines are cut at 2055 bytes.
    const std::string target = LongName(2100);
    EXPECT_EQ(RecordData(5, Message().Name(target)), "\t\tCNAME: " + target.substr(0, 2055 - 9));
}
