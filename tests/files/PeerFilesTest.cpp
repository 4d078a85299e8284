// Files written by other programs: libpcap files written by tcpdump and Network Monitor 1.x and
// 2.x files converted from them by editcap, checked against what tshark reads from the same file.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/files/FileTestSupport.h"

using namespace filetest;

namespace {

struct TsharkFrame {
    uint32_t length;
    uint64_t relativeMicroseconds;
    uint64_t epochSeconds;
    uint32_t epochMicroseconds;
};

// "S.NNNNNNNNN" as whole seconds and microseconds, without going through a double.
void SplitTime(const std::string& text, uint64_t& seconds, uint32_t& microseconds) {
    const size_t dot = text.find('.');
    seconds = std::stoull(text.substr(0, dot));
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    fraction.resize(6, '0');
    microseconds = static_cast<uint32_t>(std::stoul(fraction));
}

std::vector<TsharkFrame> ReadWithTshark(const std::string& path) {
    std::vector<TsharkFrame> result;
    std::istringstream lines(RunShell("tshark -r '" + path +
                                      "' -T fields -e frame.len -e frame.time_relative"
                                      " -e frame.time_epoch 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string length, relative, epoch;
        fields >> length >> relative >> epoch;
        TsharkFrame frame{};
        frame.length = static_cast<uint32_t>(std::stoul(length));
        uint64_t s;
        uint32_t us;
        SplitTime(relative, s, us);
        frame.relativeMicroseconds = s * 1000000 + us;
        SplitTime(epoch, frame.epochSeconds, frame.epochMicroseconds);
        result.push_back(frame);
    }
    return result;
}

bool Shell(const std::string& command) {
    int status = -1;
    RunShell(command + " >/dev/null 2>&1", &status);
    return status == 0;
}

class PeerFiles : public FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        for (const char* tool : {"tcpdump", "editcap", "tshark"}) {
            if (!HaveTool(tool)) {
                GTEST_SKIP() << tool << " is not installed; peer-file test skipped";
            }
        }
    }

    // Our records against tshark's reading of the same file: lengths and bytes, and times as the
    // format gives them.
    void ExpectSameAsTshark(const std::string& path, bool pcapTimes) {
        const std::vector<TsharkFrame> expected = ReadWithTshark(path);
        ASSERT_FALSE(expected.empty());
        ASSERT_TRUE(Open(path));
        ASSERT_EQ(static_cast<size_t>(Count()), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            const PacketRecord& r = Record(static_cast<int32_t>(i));
            EXPECT_EQ(r.length, expected[i].length);
            EXPECT_EQ(r.frameType, 2);
            if (pcapTimes) {
                // Whole milliseconds since the first frame's whole milliseconds.
                const auto ms = [&](size_t n) {
                    return expected[n].epochSeconds * 1000 + expected[n].epochMicroseconds / 1000;
                };
                EXPECT_EQ(r.timeOffset, static_cast<uint32_t>(ms(i) - ms(0)));
            } else {
                // The first frame lies on a whole second, so it starts the capture.
                EXPECT_EQ(r.timeOffset, expected[i].relativeMicroseconds / 1000);
            }
        }
    }
};

TEST_F(PeerFiles, TcpdumpWrittenPcapAndEditcapNetMonFiles) {
    const std::vector<PcapRecord> fed = {
        {1700000000, 0, TcpFrame()},       {1700000000, 1234, UdpFrame()},
        {1700000000, 211529, IcmpFrame()}, {1700000001, 999999, ArpFrame()},
        {1700000002, 500, Udp6Frame()},    {1700003600, 123456, OtherEthernetFrame()},
    };
    const std::string generated = WriteFile("generated.pcap", PcapFile(fed));
    // tcpdump writes the file we read.
    ASSERT_TRUE(Shell("tcpdump -r '" + generated + "' -w tcpdump.pcap"));
    ASSERT_TRUE(Shell("editcap -F netmon1 tcpdump.pcap netmon1.cap"));
    ASSERT_TRUE(Shell("editcap -F netmon2 tcpdump.pcap netmon2.cap"));

    for (const char* path : {"tcpdump.pcap", "netmon1.cap", "netmon2.cap"}) {
        SCOPED_TRACE(path);
        ExpectSameAsTshark(path, std::string(path).find("pcap") != std::string::npos);
        ASSERT_EQ(static_cast<size_t>(Count()), fed.size());
        for (size_t i = 0; i < fed.size(); ++i) {
            EXPECT_EQ(StoredFrame(static_cast<int32_t>(i)), fed[i].frame);
        }
    }
    // Spot checks of the times each format gives: ms in 1.x (rounded by the writer), us in 2.x.
    ASSERT_TRUE(Open("netmon2.cap"));
    EXPECT_EQ(Record(2).timeOffset, 211u);
    EXPECT_EQ(Record(3).timeOffset, 1999u);
    ASSERT_TRUE(Open("netmon1.cap"));
    EXPECT_EQ(Record(2).timeOffset, 212u);
}

TEST_F(PeerFiles, LoopbackCaptureWrittenByTcpdump) {
    // tcpdump captures three pings on the loopback interface; the capture starts before the
    // pings do (tcpdump says "listening on" once it is ready).
    int status = -1;
    RunShell("rm -f lo.pcap lo.err; "
             "timeout 20 tcpdump -i lo -U -c 6 -w lo.pcap icmp 2>lo.err & capture=$!; "
             "for i in $(seq 100); do grep -q 'listening on' lo.err && break; sleep 0.1; done; "
             "grep -q 'listening on' lo.err || exit 3; "
             "ping -c 3 -i 0.2 127.0.0.1 >/dev/null 2>&1; "
             "wait $capture",
             &status);
    if (status != 0) GTEST_SKIP() << "cannot capture on the loopback interface here";
    if (ReadWithTshark("lo.pcap").empty()) GTEST_SKIP() << "tcpdump captured nothing";
    ExpectSameAsTshark("lo.pcap", true);
    for (int32_t i = 0; i < Count(); ++i) {
        EXPECT_EQ(Record(i).protocol, 1);
        EXPECT_STREQ(Record(i).source.c_str(), "127.0.0.1");
        EXPECT_STREQ(Record(i).destination.c_str(), "127.0.0.1");
    }
}

}  // namespace
