// The decode dispatcher: the layered walk, the raw and ASCII views, the application rules and the
// checksum verdicts as a whole packet shows them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "capture/PacketStore.h"
#include "decode/DNS.h"
#include "decode/Dispatch.h"
#include "decode/FrameBuilder.h"
#include "decode/HeaderFrames.h"

using testframes::Hex;

namespace {

const frames::Mac kDst{0x00, 0x50, 0x56, 0xc0, 0x00, 0x08};
const frames::Mac kSrc{0x00, 0x0c, 0x29, 0x3e, 0x5f, 0x01};
const uint32_t kHostA = frames::IPv4Address(192, 168, 0, 10);
const uint32_t kHostB = frames::IPv4Address(192, 168, 0, 1);

// Ethernet II, IPv4 192.168.0.10 -> 192.168.0.1 (identifier 0x1234), UDP 1025 -> 9999 carrying
// "test"; both checksums confirmed good by a protocol analyser.
const char* const kWorkedFrame =
    "005056c00008000c293e5f01080045000020123440004011a73dc0a8000ac0a800010401270f000c6b9074657374";

// Frames whose checksums were confirmed good by a protocol analyser (same hosts as above, IPv4
// identifier 0x1c46).
// ICMP echo request carrying "ping", padded to 60 bytes with 0xaa.
const char* const kEchoPadded =
    "005056c00008000c293e5f010800450000201c46400040019d3bc0a8000ac0a8000108000e040b2a000170696e67"
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaa";
// ICMP echo request carrying "abcd" and eight zero bytes.
const char* const kEchoZeroTail =
    "005056c00008000c293e5f010800450000281c46400040019d33c0a8000ac0a800010800280d0b2a000261626364"
    "0000000000000000";
// ICMPv6 echo request fe80::202:b3ff:fe1e:8329 -> 2001:db8::1 carrying "hello".
const char* const kEcho6 =
    "005056c00008000c293e5f0186dd60000000000d3a40fe800000000000000202b3fffe1e832920010db800000000"
    "00000000000000018000c62b1234000168656c6c6f";
// MLDv2 report to ff02::16 behind a hop-by-hop header with a router alert.
const char* const kMld6 =
    "333300000016000c293e5f0186dd6000000000240001fe800000000000000202b3fffe1e8329ff02000000000000"
    "00000000000000163a000502000001008f0037c60000000104000000ff0200000000000000000000000000fb";

const std::string kWorkedEthernet =
    "Ethernet II Packet\r\n\tDestination: 00-50-56-c0-00-08\r\n\tSource:      00-0c-29-3e-5f-01"
    "\r\n\tType: 0x0800 (IPv4)";

PacketRecord MakeRecord(const std::vector<uint8_t>& bytes, uint16_t frameType,
                        uint16_t protocol) {
    PacketRecord record;
    record.frameType = frameType;
    record.protocol = protocol;
    record.length = static_cast<uint32_t>(bytes.size());
    if (!bytes.empty()) {
        record.data.reset(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), record.data.get());
    }
    return record;
}

std::string Text(const str& text) { return std::string(text.c_str(), text.Length()); }

std::string Describe(const PacketRecord& record, DecodeViewKind view) {
    DecodeView.store(view);
    str text;
    EXPECT_TRUE(DescribePacket(record, text));
    return Text(text);
}

std::string Parsed(const std::vector<uint8_t>& frame, uint16_t protocol = 0) {
    return Describe(MakeRecord(frame, 2, protocol), DecodeViewKind::PacketParser);
}

std::string Spaces(size_t n) { return std::string(n, ' '); }

std::string RawDump(const std::vector<uint8_t>& bytes) {
    str text;
    DescribeRawData(bytes.data(), static_cast<int32_t>(bytes.size()), text);
    return Text(text);
}

class DispatchTest : public ::testing::Test {
protected:
    void TearDown() override { DecodeView.store(DecodeViewKind::PacketParser); }
};

}  // namespace

TEST_F(DispatchTest, WorkedLayoutInAllThreeViews) {
    const PacketRecord record = MakeRecord(Hex(kWorkedFrame), 2, 17);

    EXPECT_EQ(Describe(record, DecodeViewKind::PacketParser),
              kWorkedEthernet +
                  "\r\n"
                  "IPv4 Header\r\n\tLength and version: 0x45\r\n\tType of service: 0x00"
                  "\r\n\tTotal length: 32\r\n\tIdentifier: 0x1234\r\n\tFlags: 0x4000"
                  "\r\n\tTTL: 0x40\r\n\tProtocol: 0x11 (UDP)\r\n\tChecksum: 0xa73d (Correct)"
                  "\r\n\tSource IP: 192.168.0.10\r\n\tDest IP: 192.168.0.1\r\n"
                  "UDP Header\r\n\tSource port: 1025\r\n\tDest port: 9999\r\n\tLength: 12"
                  "\r\n\tChecksum: 0x6b90 (Correct)\r\n"
                  "Raw Data\r\n\t74 65 73 74 " + Spaces(36) + " (test)\r\n");

    EXPECT_EQ(Describe(record, DecodeViewKind::RawData),
              "Raw Data\r\n"
              "\t00 50 56 c0 00 08 00 0c 29 3e 5f 01 08 00 45 00  ( PV     )>_   E )\r\n"
              "\t00 20 12 34 40 00 40 11 a7 3d c0 a8 00 0a c0 a8  (   4@ @  =      )\r\n"
              "\t00 01 04 01 27 0f 00 0c 6b 90 74 65 73 74 " + Spaces(6) +
                  " (    '   k test)\r\n");

    EXPECT_EQ(Describe(record, DecodeViewKind::ASCIIData), "test");
}

TEST_F(DispatchTest, RawDumpLineLayout) {
    EXPECT_EQ(RawDump({}), "");
    EXPECT_EQ(RawDump({0x41}), "Raw Data\r\n\t41 " + Spaces(45) + " (A)\r\n");

    std::vector<uint8_t> sixteen;
    for (int i = 0; i < 16; ++i) sixteen.push_back(static_cast<uint8_t>(0x1e + i));
    const std::string line16 =
        "1e 1f 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d  (   !\"#$%&'()*+,-)";
    EXPECT_EQ(RawDump(sixteen), "Raw Data\r\n\t" + line16 + "\r\n");

    // 0x7f is shown as itself, 0x80 and above as a blank.
    std::vector<uint8_t> seventeen = sixteen;
    seventeen.push_back(0x7f);
    EXPECT_EQ(RawDump(seventeen),
              "Raw Data\r\n\t" + line16 + "\r\n\t7f " + Spaces(45) + " (\x7f)\r\n");
    EXPECT_EQ(RawDump({0x80, 0xff, 0x0d}), "Raw Data\r\n\t80 ff 0d " + Spaces(39) + " (   )\r\n");
}

TEST_F(DispatchTest, RecordsTooShortGiveEmptyTexts) {
    EXPECT_EQ(Describe(MakeRecord(std::vector<uint8_t>(10, 0x11), 2, 0),
                       DecodeViewKind::PacketParser),
              "");
    EXPECT_EQ(Describe(MakeRecord({}, 1, 0), DecodeViewKind::RawData), "");
    EXPECT_EQ(Describe(MakeRecord({}, 1, 0), DecodeViewKind::PacketParser), "");
    EXPECT_EQ(Describe(MakeRecord({}, 2, 0), DecodeViewKind::ASCIIData), "");
}

TEST_F(DispatchTest, UnknownLayersEndInARawDump) {
    const std::vector<uint8_t> payload = frames::Text("0123456789");
    // An Ethernet type without a decoder: the Ethernet text, then everything behind the header.
    EXPECT_EQ(Parsed(frames::Ethernet(kDst, kSrc, 0x9000, payload)),
              "Ethernet II Packet\r\n\tDestination: 00-50-56-c0-00-08"
              "\r\n\tSource:      00-0c-29-3e-5f-01"
              "\r\n\tType: 0x9000 (Configuration Test Protocol)\r\n" +
                  RawDump(payload));

    // An IP protocol without a decoder (ESP): the IPv4 text, then the payload.
    const std::string esp = Parsed(
        frames::Ethernet(kDst, kSrc, 0x0800, frames::IPv4(50, kHostA, kHostB, payload)));
    const std::string tail = "\r\n\tDest IP: 192.168.0.1\r\n" + RawDump(payload);
    EXPECT_NE(esp.find("\r\n\tProtocol: 0x32 (IPSec ESP)"), std::string::npos);
    ASSERT_GE(esp.size(), tail.size());
    EXPECT_EQ(esp.substr(esp.size() - tail.size()), tail);

    // An IP version that is neither 4 nor 6 in a raw IP record: a dump of the whole datagram.
    std::vector<uint8_t> version5(24, 0);
    version5[0] = 0x55;
    EXPECT_EQ(Describe(MakeRecord(version5, 1, 0), DecodeViewKind::PacketParser),
              RawDump(version5));
}

TEST_F(DispatchTest, TruncatedTransportHeaderEndsAfterTheIPText) {
    std::vector<uint8_t> frame = frames::Ethernet(
        kDst, kSrc, 0x0800,
        frames::IPv4(6, kHostA, kHostB, frames::TCP(1024, 80, 1, 0, 0x02, {})));
    frame.resize(14 + 20 + 12);
    const std::string text = Parsed(frame, 6);
    EXPECT_EQ(text.find("TCP"), text.find("TCP)"));  // only the protocol name of the IPv4 text
    EXPECT_EQ(text.find("Raw Data"), std::string::npos);
    EXPECT_EQ(text.rfind(kWorkedEthernet + "\r\nIPv4 Header", 0), 0u);
    const std::string end = "\r\n\tDest IP: 192.168.0.1\r\n";
    EXPECT_EQ(text.substr(text.size() - end.size()), end);

    // The same for UDP: 5 of its 8 header bytes.
    std::vector<uint8_t> udp = frames::Ethernet(
        kDst, kSrc, 0x0800, frames::IPv4(17, kHostA, kHostB, frames::UDP(1, 2, {})));
    udp.resize(14 + 20 + 5);
    const std::string udpText = Parsed(udp, 17);
    EXPECT_EQ(udpText.substr(udpText.size() - end.size()), end);
}

TEST_F(DispatchTest, ARPAndItsTrailer) {
    const std::vector<uint8_t> arp = frames::ARP(1, kSrc, kHostA, frames::Mac{}, kHostB);
    const std::vector<uint8_t> frame =
        frames::PadEthernet(frames::Ethernet(kDst, kSrc, 0x0806, arp));
    const std::string text = Parsed(frame, 0x0806);
    const std::string arpText =
        "ARP Request Packet\r\n\tHardware Type: 0x0001\r\n\tProtocol Type: 0x0800 (IPv4)"
        "\r\n\tSender Hardware Address: 00-0c-29-3e-5f-01"
        "\r\n\tSender Protocol Address: c0-a8-00-0a (192.168.0.10)"
        "\r\n\tTarget Hardware Address: 00-00-00-00-00-00"
        "\r\n\tTarget Protocol Address: c0-a8-00-01 (192.168.0.1)\r\n";
    EXPECT_EQ(text, "Ethernet II Packet\r\n\tDestination: 00-50-56-c0-00-08"
                    "\r\n\tSource:      00-0c-29-3e-5f-01\r\n\tType: 0x0806 (ARP)\r\n" +
                        arpText + RawDump(std::vector<uint8_t>(18, 0)));

    // An ARP packet cut inside its addresses: a dump from the start of the ARP packet.
    std::vector<uint8_t> cut = frames::Ethernet(kDst, kSrc, 0x0806, arp);
    cut.resize(14 + 20);
    const std::string cutText = Parsed(cut, 0x0806);
    EXPECT_EQ(cutText.substr(cutText.find("Raw Data")),
              RawDump(std::vector<uint8_t>(arp.begin(), arp.begin() + 20)));
}

TEST_F(DispatchTest, DNSRuleDoesNotAdvanceTheCursor) {
    // A query for a 40-letter label: too long for a NetBIOS name, so on port 137 the NetBIOS
    // rule fails and the DNS rule describes it.
    std::vector<uint8_t> dns = Hex("abcd01000001000000000000");
    dns.push_back(40);
    for (int i = 0; i < 40; ++i) dns.push_back('a');
    dns.insert(dns.end(), {3, 'c', 'o', 'm', 0, 0, 1, 0, 1});
    str dnsText;
    DescribeDNS(dns.data(), static_cast<int32_t>(dns.size()), 0, dnsText);
    ASSERT_FALSE(dnsText.Empty());

    for (auto [source, dest] : {std::pair<uint16_t, uint16_t>{53, 1024}, {137, 53}}) {
        const std::string text = Parsed(frames::Ethernet(
            kDst, kSrc, 0x0800,
            frames::IPv4(17, kHostA, kHostB, frames::UDP(source, dest, dns))));
        const size_t udp = text.find("UDP Header");
        ASSERT_NE(udp, std::string::npos);
        const std::string afterUdp = text.substr(text.find("(Correct)\r\n", udp) + 11);
        EXPECT_EQ(afterUdp, Text(dnsText) + RawDump(dns)) << source << " -> " << dest;
    }
}

TEST_F(DispatchTest, Port143ShowsTextUpToAZeroByte) {
    auto tcpText = [](const std::vector<uint8_t>& payload) {
        const std::string text = Parsed(frames::Ethernet(
            kDst, kSrc, 0x0800,
            frames::IPv4(6, kHostA, kHostB, frames::TCP(1024, 143, 1, 1, 0x18, payload))));
        return text.substr(text.find("Urgent Pointer: 0\r\n") + 19);
    };
    std::vector<uint8_t> withZero = frames::Text("A1 LOGIN x");
    withZero.push_back(0);
    withZero.push_back('z');
    EXPECT_EQ(tcpText(withZero), "A1 LOGIN x" + RawDump(withZero));

    const std::vector<uint8_t> noZero = frames::Text("* OK ready");
    EXPECT_EQ(tcpText(noZero), "* OK ready" + RawDump(noZero));
    EXPECT_EQ(tcpText({}), "");
}

TEST_F(DispatchTest, ASCIIViewSkipsHeadersByTheRecordedProtocol) {
    // 200 printable characters without a line end: lines of 80, 80 and 40.
    std::string letters;
    for (int i = 0; i < 200; ++i) letters += static_cast<char>('A' + i % 26);
    const std::vector<uint8_t> udp = frames::Ethernet(
        kDst, kSrc, 0x0800,
        frames::IPv4(17, kHostA, kHostB, frames::UDP(1, 2, frames::Text(letters))));
    EXPECT_EQ(Describe(MakeRecord(udp, 2, 17), DecodeViewKind::ASCIIData),
              letters.substr(0, 80) + "\r\n" + letters.substr(80, 80) + "\r\n" +
                  letters.substr(160));

    // Line ends restart the count; other bytes become blanks.
    const std::string mixed = std::string(79, 'x') + "\r\n" + std::string(81, 'y') + "\t\x01z";
    const std::vector<uint8_t> tcp = frames::Ethernet(
        kDst, kSrc, 0x0800,
        frames::IPv4(6, kHostA, kHostB, frames::TCP(1, 2, 0, 0, 0x10, frames::Text(mixed))));
    EXPECT_EQ(Describe(MakeRecord(tcp, 2, 6), DecodeViewKind::ASCIIData),
              std::string(79, 'x') + "\r\n" + std::string(80, 'y') + "\r\ny  z");

    // ARP is not in the protocol list: the ARP packet's bytes appear as they are.
    const std::vector<uint8_t> arp =
        frames::ARP(1, kSrc, frames::IPv4Address(65, 66, 67, 68), frames::Mac{},
                    frames::IPv4Address(97, 98, 99, 100));
    EXPECT_EQ(Describe(MakeRecord(frames::Ethernet(kDst, kSrc, 0x0806, arp), 2, 0x0806),
                       DecodeViewKind::ASCIIData),
              Spaces(8) + "  )>_ " + "ABCD" + Spaces(6) + "abcd");

    // ICMPv6 (58) is not in the list either: nothing is skipped, the IPv6 header shows.
    const std::vector<uint8_t> echo6 = Hex(kEcho6);
    const std::string icmp6 = Describe(MakeRecord(echo6, 2, 58), DecodeViewKind::ASCIIData);
    EXPECT_EQ(icmp6.size(), echo6.size() - 14);
    EXPECT_EQ(icmp6.substr(icmp6.size() - 5), "hello");

    // ICMP: the 8-byte header is skipped.
    EXPECT_EQ(Describe(MakeRecord(Hex(kEchoPadded), 2, 1), DecodeViewKind::ASCIIData),
              "ping" + Spaces(14));

    // An IP header that does not parse gives nothing at all.
    std::vector<uint8_t> broken = Hex(kWorkedFrame);
    broken[14] = 0x75;
    EXPECT_EQ(Describe(MakeRecord(broken, 2, 17), DecodeViewKind::ASCIIData), "");
}

TEST_F(DispatchTest, ChecksumsCoverTheDatagramNotThePadding) {
    // A pure ACK padded to 60 bytes by the sender's card.
    const std::string ack = Parsed(Hex(testframes::kTcpAck), 6);
    EXPECT_NE(ack.find("\r\n\tChecksum: 0x5972 (Correct)"), std::string::npos) << ack;
    // The padding still shows in the trailing dump.
    EXPECT_NE(ack.find("Raw Data\r\n\t00 00 00 00 00 00 "), std::string::npos);

    // ICMP padded with non-zero bytes verifies over the datagram only.
    const std::string echo = Parsed(Hex(kEchoPadded), 1);
    EXPECT_NE(echo.find("ICMP Echo Request Packet\r\n\tCode: 0 (Unknown)"
                        "\r\n\tChecksum: 0x0e04 (Correct)\r\n\tID: 0x0b2a\r\n\tSeq: 0x0001\r\n"
                        "Raw Data\r\n\t70 69 6e 67 aa aa"),
              std::string::npos)
        << echo;
}

TEST_F(DispatchTest, CutShortDatagrams) {
    // TCP whose datagram runs beyond the captured bytes cannot be verified.
    std::vector<uint8_t> tcp = frames::Ethernet(
        kDst, kSrc, 0x0800,
        frames::IPv4(6, kHostA, kHostB,
                     frames::TCP(40000, 80, 7, 9, 0x18, frames::Text("GET / HTTP/1.0\r\n"))));
    const std::string whole = Parsed(tcp, 6);
    EXPECT_NE(whole.find("(ACK PSH )\r\n\tWindow Size: 65535\r\n\tChecksum: 0x"),
              std::string::npos);
    EXPECT_NE(whole.find(" (Correct)\r\n\tUrgent Pointer: 0"), std::string::npos);
    tcp.resize(tcp.size() - 3);
    EXPECT_NE(Parsed(tcp, 6).find(" (Unchecked)\r\n\tUrgent Pointer: 0"), std::string::npos);

    // ICMP is then verified over what was captured: here the missing bytes were zeros.
    std::vector<uint8_t> echo = Hex(kEchoZeroTail);
    echo.resize(echo.size() - 8);
    EXPECT_NE(Parsed(echo, 1).find("\r\n\tChecksum: 0x280d (Correct)"), std::string::npos);
    echo.back() ^= 0x01;
    EXPECT_NE(Parsed(echo, 1).find("\r\n\tChecksum: 0x280d (Incorrect)"), std::string::npos);
}

TEST_F(DispatchTest, UDPWithoutChecksumOverIPv4IsUnchecked) {
    EXPECT_NE(Parsed(Hex(testframes::kUdp4NoChecksum), 17).find("Checksum: 0x0000 (Unchecked)"),
              std::string::npos);
    EXPECT_NE(Parsed(Hex(testframes::kUdp4), 17).find("Checksum: 0x8f09 (Correct)"),
              std::string::npos);
}

TEST_F(DispatchTest, TransportOverIPv6UsesTheIPv6PseudoHeader) {
    struct Case {
        const char* frame;
        uint16_t protocol;
        const char* checksumLine;
    };
    const Case cases[] = {
        {testframes::kTcp6, 6, "\r\n\tChecksum: 0xb379 ("},
        {testframes::kUdp6, 17, "\r\n\tChecksum: 0x435f ("},
        {testframes::kUdp6HopByHop, 17, "\r\n\tChecksum: 0x435f ("},
        {kEcho6, 58, "\r\n\tChecksum: 0xc62b ("},
        {kMld6, 58, "\r\n\tChecksum: 0x37c6 ("},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> frame = Hex(c.frame);
        const std::string good = Parsed(frame, c.protocol);
        EXPECT_NE(good.find(std::string(c.checksumLine) + "Correct)"), std::string::npos)
            << good;
        frame.back() ^= 0x40;  // a payload byte
        const std::string bad = Parsed(frame, c.protocol);
        EXPECT_NE(bad.find(std::string(c.checksumLine) + "Incorrect)"), std::string::npos)
            << bad;
    }
    const std::string mld = Parsed(Hex(kMld6), 58);
    EXPECT_NE(mld.find("\nHop by Hop Options Header\r\n\tLength: 0\r\n\tNext Header: 0x3a (ICMPv6)"
                       "\r\n\tRouter Alert: 0x05020000\r\n\tPadding: 0x0100\r\n"
                       "ICMP v6 Multicast Listener Report Packet\r\n\tCode: 0 (Unknown)"),
              std::string::npos)
        << mld;
}

TEST_F(DispatchTest, IPv4HeaderRunningPastTheDataReadsNothingBeyond) {
    // Header length 60 with 24 bytes captured: the IPv4 parse fails and nothing is left to dump.
    std::vector<uint8_t> frame = Hex(kWorkedFrame);
    frame[14] = 0x4f;
    frame.resize(14 + 24);
    EXPECT_EQ(Parsed(frame, 17), kWorkedEthernet + "\r\n");
    const std::vector<uint8_t> datagram(frame.begin() + 14, frame.end());
    EXPECT_EQ(Describe(MakeRecord(datagram, 1, 17), DecodeViewKind::PacketParser), "");
    EXPECT_EQ(Describe(MakeRecord(datagram, 1, 17), DecodeViewKind::ASCIIData), "");
}

TEST_F(DispatchTest, FragmentsOfADatagram) {
    // A later fragment (offset 185 x 8) that happens to begin like a UDP header.
    frames::IPv4Options later;
    later.flagsAndOffset = 0x00b9;
    later.transportChecksum = false;
    const std::vector<uint8_t> payload = frames::UDP(53, 53, frames::Text("zz"));
    const std::vector<uint8_t> frame =
        frames::Ethernet(kDst, kSrc, 0x0800, frames::IPv4(17, kHostA, kHostB, payload, later));
    const std::string text = Parsed(frame, 17);
    const std::string tail = "\r\n\tDest IP: 192.168.0.1\r\n" + RawDump(payload);
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.find("UDP Header"), std::string::npos);
    EXPECT_EQ(Describe(MakeRecord(frame, 2, 17), DecodeViewKind::ASCIIData),
              " 5 5 \n  zz");

    // The first fragment of several: its TCP checksum covers bytes that are not here.
    EXPECT_NE(Parsed(Hex(testframes::kTcpFirstFragment), 6).find("0xbbc6 (Unchecked)"),
              std::string::npos);
}

TEST_F(DispatchTest, DescribePacketHoldsTheDecodeLock) {
    const PacketRecord record = MakeRecord(Hex(kWorkedFrame), 2, 17);
    std::atomic<bool> done{false};
    std::thread describer;
    {
        std::lock_guard<std::mutex> held(DecodeLock);
        describer = std::thread([&] {
            str text;
            DescribePacket(record, text);
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(done.load());
    }
    describer.join();
    EXPECT_TRUE(done.load());
}

TEST_F(DispatchTest, TwoThreadsDescribeAtOnce) {
    const PacketRecord first = MakeRecord(Hex(kWorkedFrame), 2, 17);
    const PacketRecord second = MakeRecord(Hex(kMld6), 2, 58);
    const std::string firstText = Parsed(Hex(kWorkedFrame), 17);
    const std::string secondText = Parsed(Hex(kMld6), 58);
    ASSERT_NE(firstText, secondText);

    std::atomic<int> wrong{0};
    auto run = [&](const PacketRecord& record, const std::string& expected) {
        str text;
        for (int i = 0; i < 2000; ++i) {
            DescribePacket(record, text);
            if (Text(text) != expected) ++wrong;
        }
    };
    std::thread a(run, std::cref(first), std::cref(firstText));
    std::thread b(run, std::cref(second), std::cref(secondText));
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}
