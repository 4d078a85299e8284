// --describe and --tree: the texts of the stored packets as the detail pane would get them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "decode/Dispatch.h"
#include "tests/app/DescribeRun.h"

using namespace describetest;
using namespace filetest;

namespace {

// Ethernet II, IPv4 192.168.0.10 -> 192.168.0.1, UDP 1025 -> 9999 carrying "test".
const char* const kWorkedFrame =
    "005056c00008000c293e5f01080045000020123440004011a73dc0a8000ac0a800010401270f000c6b9074657374";

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string Describe(int32_t index, DecodeViewKind view) {
    DecodeView.store(view);
    str text;
    DescribePacket(GetPacketStore()[index], text);
    return std::string(text.c_str(), text.Length());
}

class DescribeMode : public FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        path = WriteFile("describe.tdw", OwnFile({
                                             {2, 1, 0, FromHex(kWorkedFrame)},
                                             {2, 0, 5, ArpFrame()},
                                             {1, 1, 9, RawIpFrame()},
                                         }));
    }
    void TearDown() override {
        DecodeView.store(DecodeViewKind::PacketParser);
        FileFixture::TearDown();
    }
    std::string path;
};

}  // namespace

TEST_F(DescribeMode, EveryPacketInTheParserView) {
    const ModeRun run = RunInProcess(HeadlessMode::Describe, path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(GetPacketStore().Count(), 3);
    EXPECT_EQ(run.out, "#0\n" + Describe(0, DecodeViewKind::PacketParser) + "\n#1\n" +
                           Describe(1, DecodeViewKind::PacketParser) + "\n#2\n" +
                           Describe(2, DecodeViewKind::PacketParser) + "\n");
    EXPECT_NE(run.out.find("#2\nIPv4 Header\r\n"), std::string::npos);  // the raw IP record
    const std::vector<std::string> packets = SplitPackets(run.out);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[1], Describe(1, DecodeViewKind::PacketParser));
}

TEST_F(DescribeMode, OnePacketInOtherViews) {
    const ModeRun raw = RunInProcess(HeadlessMode::Describe, path, HeadlessView::Raw, 1);
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.out, "#1\n" + Describe(1, DecodeViewKind::RawData) + "\n");
    EXPECT_EQ(raw.out.substr(0, 16), "#1\nRaw Data\r\n\tff");

    const ModeRun ascii = RunInProcess(HeadlessMode::Describe, path, HeadlessView::Ascii, 0);
    EXPECT_EQ(ascii.out, "#0\ntest\n");

    // An index that is not stored prints nothing.
    const ModeRun absent = RunInProcess(HeadlessMode::Describe, path, HeadlessView::Parser, 3);
    EXPECT_EQ(absent.status, 0);
    EXPECT_EQ(absent.out, "");
}

TEST_F(DescribeMode, TreeItemsIndentedByDepth) {
    const ModeRun tree = RunInProcess(HeadlessMode::Tree, path, HeadlessView::Parser, 0);
    EXPECT_EQ(tree.status, 0);
    EXPECT_EQ(tree.out,
              "#0\n"
              "Ethernet II Packet\n"
              "  Destination: 00-50-56-c0-00-08\n"
              "  Source:      00-0c-29-3e-5f-01\n"
              "  Type: 0x0800 (IPv4)\n"
              "IPv4 Header\n"
              "  Length and version: 0x45\n"
              "  Type of service: 0x00\n"
              "  Total length: 32\n"
              "  Identifier: 0x1234\n"
              "  Flags: 0x4000\n"
              "  TTL: 0x40\n"
              "  Protocol: 0x11 (UDP)\n"
              "  Checksum: 0xa73d (Correct)\n"
              "  Source IP: 192.168.0.10\n"
              "  Dest IP: 192.168.0.1\n"
              "UDP Header\n"
              "  Source port: 1025\n"
              "  Dest port: 9999\n"
              "  Length: 12\n"
              "  Checksum: 0x6b90 (Correct)\n"
              "Raw Data\n"
              "  74 65 73 74" +
                  std::string(37, ' ') + " (test)\n");

    const ModeRun raw = RunInProcess(HeadlessMode::Tree, path, HeadlessView::Raw, 0);
    EXPECT_EQ(raw.out,
              "#0\nRaw Data\n"
              "  00 50 56 c0 00 08 00 0c 29 3e 5f 01 08 00 45 00  ( PV     )>_   E )\n"
              "  00 20 12 34 40 00 40 11 a7 3d c0 a8 00 0a c0 a8  (   4@ @  =      )\n"
              "  00 01 04 01 27 0f 00 0c 6b 90 74 65 73 74        (    '   k test)\n");

    // Every packet: each "#N" line is followed by its items and nothing else.
    const ModeRun all = RunInProcess(HeadlessMode::Tree, path);
    EXPECT_EQ(all.out.find("\n\n"), std::string::npos);
    EXPECT_EQ(all.out.find('\r'), std::string::npos);
    EXPECT_EQ(all.out.find('\t'), std::string::npos);
    EXPECT_NE(all.out.find("\n#1\nEthernet II Packet\n"), std::string::npos);
    EXPECT_NE(all.out.find("\n#2\nIPv4 Header\n"), std::string::npos);
}

TEST_F(DescribeMode, FailedOpen) {
    for (HeadlessMode mode : {HeadlessMode::Describe, HeadlessMode::Tree}) {
        const ModeRun run = RunInProcess(mode, "no-such-file.pcap");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "File parsing error. The File could not be opened.\n");
    }
    // A libpcap file with a good frame and then a record cut short: the stored packet is printed.
    Bytes file = PcapFile({{0, 0, FromHex(kWorkedFrame)}});
    PutPcapRecord(file, 0, 0, 100, 100);
    file.push_back(0x01);
    const ModeRun cut = RunInProcess(HeadlessMode::Describe, WriteFile("cut.pcap", file),
                                 HeadlessView::Ascii);
    EXPECT_EQ(cut.out, "#0\ntest\n");
}

// The built program, once its dispatcher runs these modes, prints the same as the in-process
// run.
TEST_F(DescribeMode, TheProgramPrintsTheSame) {
    int status = -1;
    const std::string out = RunShell(std::string("'") + TW_TIDEWATCH + "' --tree '" + path +
                                         "' --view raw 2>/dev/null",
                                     &status);
    if (status == 2) GTEST_SKIP() << "tidewatch does not run --describe and --tree yet";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, RunInProcess(HeadlessMode::Tree, path, HeadlessView::Raw).out);
}
