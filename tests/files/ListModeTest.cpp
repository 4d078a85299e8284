#include <gtest/gtest.h>

#include <algorithm>

#include "files/PacketRow.h"
#include "tests/files/FileTestSupport.h"

using namespace filetest;

namespace {

std::string ListCommand(const std::string& path) {
    return std::string("'") + TW_TIDEWATCH + "' --list '" + path + "' 2>stderr.txt";
}

std::string StandardError() {
    const Bytes bytes = ReadFile("stderr.txt");
    return std::string(bytes.begin(), bytes.end());
}

// The rows of the store as the packet list builds them, joined as --list prints them.
std::string RowsOfTheStore() {
    std::string out;
    PacketRow row;
    for (int32_t i = 0; i < GetPacketStore().Count(); ++i) {
        BuildPacketRow(GetPacketStore()[i], row);
        for (int c = 0; c < kPacketColumnCount; ++c) {
            if (c) out += '\t';
            out += row.columns[c].c_str();
        }
        out += '\n';
    }
    return out;
}

class ListMode : public FileFixture {};

TEST_F(ListMode, RowsOfEveryKindOfFrame) {
    Bytes fragment = frames::Ethernet(
        kMacB, kMacA, 0x0800,
        frames::IPv4(6, kHostA, kHostB, frames::Text("later fragment payload"),
                     frames::IPv4Options{0x99, 0x00b9, 64, false}));
    const std::string path = WriteFile(
        "kinds.tdw", OwnFile({
                         {2, 1, 0, TcpFrame(40000, 80)},
                         {2, 1, 1, UdpFrame(5353, 53)},
                         {2, 1, 61001, IcmpFrame()},
                         {2, 0, 3599999, ArpFrame()},
                         {2, 1, 90061001, Udp6Frame()},
                         {1, 1, 4294967295u, RawIpFrame()},
                         {2, 0, 12, OtherEthernetFrame()},
                         {2, 1, 13, fragment},
                         {7, 0, 14, Bytes(40, 0x55)},
                     }));
    int status = -1;
    const std::string out = RunShell(ListCommand(path), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(StandardError(), "");
    EXPECT_EQ(out,
              "0\tETHERNET\t00:00:00.000\tTCP\t10.0.0.1\t192.168.1.20\t40000\t80\t59\n"
              "1\tETHERNET\t00:00:00.001\tUDP\t192.168.1.20\t10.0.0.1\t5353\t53\t52\n"
              "2\tETHERNET\t00:01:01.001\tICMP\t10.0.0.1\t192.168.1.20\t\t\t46\n"
              "3\tETHERNET\t00:59:59.999\tARP\t10.0.0.1\t192.168.1.20\t\t\t60\n"
              "4\tETHERNET\t25:01:01.001\tUDP\tfe80:0000:0000:0000:0000:0000:0000:0001\t"
              "fe80:0000:0000:0000:0000:0000:0000:0002\t546\t547\t68\n"
              "5\tRAW IP\t1193:02:47.295\tUDP\t10.0.0.1\t192.168.1.20\t1000\t2000\t40\n"
              "6\tETHERNET\t00:00:00.012\tIPX\t\t\t\t\t60\n"
              "7\tETHERNET\t00:00:00.013\tTCP\t10.0.0.1\t192.168.1.20\t0\t0\t56\n"
              "8\tRAW IP\t00:00:00.014\tNull LSAP\t\t\t\t\t40\n");
    // The same rows as the packet list builds from the store.
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(out, RowsOfTheStore());
}

TEST_F(ListMode, FailedOpenPrintsTheStoredRowsThenTheMessage) {
    Bytes file = OwnFile({{2, 1, 5, TcpFrame()}, {2, 1, 6, UdpFrame()}});
    Append(file, {2, 0, 1});
    int status = -1;
    const std::string out = RunShell(ListCommand(WriteFile("cut.tdw", file)), &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out,
              "0\tETHERNET\t00:00:00.005\tTCP\t10.0.0.1\t192.168.1.20\t40000\t80\t59\n"
              "1\tETHERNET\t00:00:00.006\tUDP\t192.168.1.20\t10.0.0.1\t5353\t53\t52\n");
    EXPECT_EQ(StandardError(), "File parsing error. The File could not be opened.\n");

    EXPECT_EQ(RunShell(ListCommand("missing.pcap"), &status), "");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(StandardError(), "File parsing error. The File could not be opened.\n");

    // An empty own-format file is a capture with no packets.
    EXPECT_EQ(RunShell(ListCommand(WriteFile("empty.tdw", {})), &status), "");
    EXPECT_EQ(status, 0);
}

TEST_F(ListMode, AFileBeyondThePacketLimitSaysSoOnStandardError) {
    std::vector<OwnRecord> records(PacketStore::kLimit + 3, OwnRecord{2, 1, 0, UdpFrame()});
    const std::string path = WriteFile("over.tdw", OwnFile(records));
    int status = -1;
    const std::string out = RunShell(ListCommand(path), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), PacketStore::kLimit);
    EXPECT_EQ(StandardError(), "tidewatch: " + path +
                                   " holds 3 frames more than the 65536 the packet store keeps; "
                                   "they were left out\n");
}

TEST_F(ListMode, ConvertWritesTheFormatOfTheExtensionAndSkippedFramesAreTold) {
    const std::string cooked = std::string(TW_SOURCE_DIR) + "/tests/files/data/cooked.pcap";
    const std::string rows = RunShell(ListCommand(cooked));
    EXPECT_EQ(StandardError(), "2 frames of link types Tidewatch does not decode were skipped\n");
    const std::string program = std::string("'") + TW_TIDEWATCH + "'";
    int status = -1;
    for (const char* out : {"converted.pcapng", "converted.pcap", "converted.tdw"}) {
        SCOPED_TRACE(out);
        RunShell(program + " --convert '" + cooked + "' " + out, &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(RunShell(ListCommand(out)), rows);
    }
    EXPECT_EQ(ReadFile("converted.pcapng")[0], 0x0a);
    EXPECT_EQ(ReadFile("converted.pcap")[0], 0xd4);
    // Nothing is written from a file that does not open.
    RunShell(program + " --convert missing.pcap never.pcap 2>stderr.txt", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(StandardError(), "File parsing error. The File could not be opened.\n");
    EXPECT_FALSE(std::filesystem::exists("never.pcap"));
}

TEST(PacketRow, TimeTextDoesNotWrapHours) {
    str text;
    FormatTimeOffset(90061001, text);
    EXPECT_STREQ(text.c_str(), "25:01:01.001");
    FormatTimeOffset(0, text);
    EXPECT_STREQ(text.c_str(), "00:00:00.000");
    FormatTimeOffset(3723004, text);
    EXPECT_STREQ(text.c_str(), "01:02:03.004");
    FormatTimeOffset(36000000, text);
    EXPECT_STREQ(text.c_str(), "10:00:00.000");
    FormatTimeOffset(4294967295u, text);
    EXPECT_STREQ(text.c_str(), "1193:02:47.295");
}

TEST(PacketRow, PortsOnlyForTcpAndUdpAndEmptyAddressesStayEmpty) {
    PacketRecord record;
    record.index = 41;
    record.frameType = 2;
    record.isIp = 1;
    record.protocol = 17;
    record.length = 1514;
    PacketRow row;
    row.columns[kColumnSource] = "left over";
    BuildPacketRow(record, row);
    EXPECT_STREQ(row.columns[kColumnNumber].c_str(), "41");
    EXPECT_STREQ(row.columns[kColumnSource].c_str(), "");
    EXPECT_STREQ(row.columns[kColumnSourcePort].c_str(), "0");
    EXPECT_STREQ(row.columns[kColumnDestinationPort].c_str(), "0");
    EXPECT_STREQ(row.columns[kColumnSize].c_str(), "1514");
    record.protocol = 58;
    record.sourcePort = 7;
    BuildPacketRow(record, row);
    EXPECT_STREQ(row.columns[kColumnProtocol].c_str(), "ICMPv6");
    EXPECT_STREQ(row.columns[kColumnSourcePort].c_str(), "");
}

}  // namespace
