// Live capture end to end, inside network namespaces of the test's own: a peer sends a known mix
// of frames over a veth pair while `tidewatch --capture` and tcpdump both capture on the other
// end; what the program stores must be exactly what tcpdump saw (methods 1, 2 and 3), an
// unprivileged user captures only with the two capabilities on the executable, and without the
// Network Monitor provider only method 2 is unavailable.
//
// The exchange is the same on every run: the link is quiet and its ends answer exactly the
// frames below, so each capture is given the number of frames to take (--count) and ends by
// itself once it holds them; only the frames that both it and tcpdump saw are compared.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "decode/FrameBuilder.h"
#include "tests/support/NetNamespaces.h"

namespace {

using filetest::Bytes;
using filetest::HaveTool;
using namespace frames;

const Mac kMacA{0x02, 0x00, 0x00, 0x00, 0x00, 0x0a};
const Mac kMacB{0x02, 0x00, 0x00, 0x00, 0x00, 0x0b};
const uint32_t kA = IPv4Address(10, 213, 0, 1), kB = IPv4Address(10, 213, 0, 2);

// The peer's mix: every kind of frame the program must take whole, several of which make the
// capturing end answer (ARP reply, echo reply, TCP reset, ICMP unreachable), so that method 1
// sees outgoing datagrams too.
std::vector<Bytes> PeerMix() {
    IPv6Address a6{0xfe, 0x80}, b6{0xfe, 0x80};
    a6[15] = 1;
    b6[15] = 2;
    const Mac broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    std::vector<Bytes> mix;
    mix.push_back(PadEthernet(Ethernet(broadcast, kMacB, 0x0806, ARP(1, kMacB, kB, Mac{}, kA))));
    mix.push_back(Ethernet(kMacA, kMacB, 0x0800, IPv4(1, kB, kA, ICMP(8, 0, 0x00070001, Text("echo data from the peer")))));
    mix.push_back(Ethernet(kMacA, kMacB, 0x0800, IPv4(6, kB, kA, TCP(40001, 9, 1000, 0, 0x02, {}))));
    mix.push_back(Ethernet(kMacA, kMacB, 0x0800,
                           IPv4(17, kB, kA, UDP(40002, 53, DnsQuery(0x1234, "example.test", 1)))));
    mix.push_back(Ethernet(kMacA, kMacB, 0x86DD, IPv6(6, b6, a6, TCP(40003, 80, 1, 0, 0x02, {}))));
    mix.push_back(Ethernet(kMacA, kMacB, 0x86DD, IPv6(17, b6, a6, UDP(40004, 547, Text("v6 udp")))));
    mix.push_back(Ethernet(kMacA, kMacB, 0x86DD, IPv6(58, b6, a6, ICMP(128, 0, 0x00010001, Text("ping6")))));
    mix.push_back(PadEthernet(Ethernet8023(kMacA, kMacB, 0x42, 0x42, 0x03, Bytes(38, 0x5a))));
    // The largest frame of the link: 1,500 bytes of IP.
    mix.push_back(Ethernet(kMacA, kMacB, 0x0800,
                           IPv4(17, kB, kA, UDP(40005, 7777, Bytes(1472, 0x33)))));
    // One UDP datagram in two fragments (the first 24 bytes of transport data, then the rest).
    const Bytes whole = UDP(40006, 7778, Bytes(60, 0x44));
    IPv4Options first, second;
    first.identifier = second.identifier = 0x4242;
    first.flagsAndOffset = 0x2000;       // more fragments, offset 0
    second.flagsAndOffset = 24 / 8;      // offset 24 bytes
    first.transportChecksum = second.transportChecksum = false;
    mix.push_back(Ethernet(kMacA, kMacB, 0x0800,
                           IPv4(17, kB, kA, Bytes(whole.begin(), whole.begin() + 24), first)));
    mix.push_back(Ethernet(kMacA, kMacB, 0x0800,
                           IPv4(17, kB, kA, Bytes(whole.begin() + 24, whole.end()), second)));
    return mix;
}

std::string MacText(const Mac& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

// The IPv4 datagrams of Ethernet frames, as a raw IPv4 socket hands them over: without the
// link header and cut at their total length.
std::vector<Bytes> IPv4Datagrams(const std::vector<Bytes>& frames) {
    std::vector<Bytes> datagrams;
    for (const Bytes& frame : frames) {
        if (frame.size() < 34 || bytes::LoadBe16(&frame[12]) != 0x0800) continue;
        const size_t total = bytes::LoadBe16(&frame[16]);
        const size_t end = total >= 20 && 14 + total <= frame.size() ? 14 + total : frame.size();
        datagrams.emplace_back(frame.begin() + 14, frame.begin() + static_cast<long>(end));
    }
    return datagrams;
}

// What the capturing end answers to the mix: the ARP reply, the echo reply, the TCP reset, and
// a port unreachable for each UDP datagram (to 53, to 7777, and the reassembled one to 7778).
// IPv6 is off there, and 802.3 frames are nobody's.
constexpr size_t kAnswers = 6;
constexpr size_t kArpAnswers = 1;

// The frames each method stores of the exchange: Ethernet frames (methods 2 and 3), or the IPv4
// datagrams alone (method 1).
size_t ExchangeFrames(const std::string& method) {
    return method == "1" ? IPv4Datagrams(PeerMix()).size() + kAnswers - kArpAnswers
                         : PeerMix().size() + kAnswers;
}

bool AllWithin(const std::vector<Bytes>& wanted, const std::vector<Bytes>& all) {
    return std::all_of(wanted.begin(), wanted.end(), [&](const Bytes& frame) {
        return std::find(all.begin(), all.end(), frame) != all.end();
    });
}

// The frames of `seen` that a capture of `stored` frames saw too: tcpdump started before the
// program and ended after it, so they are the run of the same length from the first frame
// stored.
std::vector<Bytes> SeenByBoth(const std::vector<Bytes>& seen, const std::vector<Bytes>& stored) {
    if (stored.empty()) return {};
    const auto first = std::find(seen.begin(), seen.end(), stored.front());
    const size_t length = std::min<size_t>(stored.size(), static_cast<size_t>(seen.end() - first));
    return std::vector<Bytes>(first, first + static_cast<long>(length));
}

class LiveCapture : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "live capture needs root (network namespaces)";
        for (const char* tool : {"ip", "tcpdump", "tcpreplay"}) {
            if (!HaveTool(tool)) GTEST_SKIP() << "missing program " << tool << " (scripts/setup test)";
        }
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = std::filesystem::current_path().string() + "/" + name;
        std::filesystem::create_directories(dir_);
        net_ = std::make_unique<netns::NamespacePair>("c" + std::to_string(getpid() % 100000));
        std::string error;
        if (!net_->Add(&error)) GTEST_SKIP() << "cannot create network namespaces: " << error;
        netns::LinkAddresses link{"10.213.0.1", "10.213.0.2", 24, "", "", "", ""};
        link.macA = MacText(kMacA);
        link.macB = MacText(kMacB);
        link.quiet = true;
        ASSERT_TRUE(net_->Connect(link, &error)) << error;
        tcpdump_ = std::make_unique<netns::Capture>(*net_, Path("tcpdump.pcap"), Path("tcpdump.log"));
        ASSERT_TRUE(tcpdump_->Started()) << netns::FileText(Path("tcpdump.log"));
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A capture that ends by itself once it holds the method's share of the exchange.
    std::unique_ptr<netns::TidewatchCapture> StartTidewatch(
        const std::string& method, const std::string& out, const std::string& program = TW_TIDEWATCH,
        const std::vector<std::string>& prefix = {}) {
        const std::vector<std::string> interface =
            method == "1" ? std::vector<std::string>{"--address", "10.213.0.1"}
                          : std::vector<std::string>{"--device", net_->ifA};
        std::vector<std::string> options = {"--write", out, "--method", method, "--count",
                                            std::to_string(ExchangeFrames(method))};
        options.insert(options.end(), interface.begin(), interface.end());
        return std::make_unique<netns::TidewatchCapture>(*net_, prefix, program, options,
                                                         out + ".log");
    }

    // Sends the mix; once every capture has ended by itself with the whole exchange, and
    // tcpdump has written all it saw, tcpdump's frames.
    std::vector<Bytes> SendMixAndCollect(std::vector<netns::TidewatchCapture*> captures) {
        std::string error;
        EXPECT_TRUE(netns::SendFromB(*net_, PeerMix(), Path("mix.pcap"), &error)) << error;
        for (netns::TidewatchCapture* capture : captures) {
            EXPECT_TRUE(capture->Finish()) << "no end with the whole exchange\n" << capture->Log();
        }
        EXPECT_TRUE(tcpdump_->StopWhenWritten());
        const std::vector<Bytes> seen = netns::PcapFrames(Path("tcpdump.pcap"));
        EXPECT_TRUE(AllWithin(PeerMix(), seen)) << "tcpdump did not see the whole mix";
        return seen;
    }

    std::string dir_;
    std::unique_ptr<netns::NamespacePair> net_;
    std::unique_ptr<netns::Capture> tcpdump_;
};

std::vector<Bytes> BytesOf(const std::vector<netns::StoredFrame>& stored, uint16_t frameType) {
    std::vector<Bytes> frames;
    for (const netns::StoredFrame& frame : stored) {
        EXPECT_EQ(frame.frameType, frameType);
        frames.push_back(frame.bytes);
    }
    return frames;
}

TEST_F(LiveCapture, BothMethodsStoreExactlyWhatTcpdumpSaw) {
    // Method 3 writes libpcap (the file name chooses the format), read back as tcpdump wrote.
    auto ethernet = StartTidewatch("3", Path("method3.pcap"));
    auto rawIp = StartTidewatch("1", Path("method1.tdw"));
    ASSERT_TRUE(ethernet->Started()) << ethernet->Log();
    ASSERT_TRUE(rawIp->Started()) << rawIp->Log();
    const std::vector<Bytes> seen = SendMixAndCollect({ethernet.get(), rawIp.get()});

    const std::vector<Bytes> frames = netns::PcapFrames(Path("method3.pcap"));
    EXPECT_TRUE(AllWithin(PeerMix(), frames));
    EXPECT_EQ(frames, SeenByBoth(seen, frames));
    EXPECT_NE(ethernet->Log().find(std::to_string(ExchangeFrames("3")) + " packets captured"),
              std::string::npos)
        << ethernet->Log();

    const std::vector<Bytes> stored = BytesOf(netns::OwnFileFrames(Path("method1.tdw")), 1);
    EXPECT_TRUE(AllWithin(IPv4Datagrams(PeerMix()), stored));
    EXPECT_EQ(stored, SeenByBoth(IPv4Datagrams(seen), stored));
    // Outgoing datagrams too: some come from the capturing end's own address.
    size_t outgoing = 0;
    for (const Bytes& datagram : stored) outgoing += bytes::LoadBe32(&datagram[12]) == kA;
    EXPECT_GT(outgoing, 0u);
}

// The provider's batches.
TEST_F(LiveCapture, Method2StoresExactlyWhatTcpdumpSaw) {
    auto netMon = StartTidewatch("2", Path("method2.tdw"));
    ASSERT_TRUE(netMon->Started()) << netMon->Log();
    const std::vector<Bytes> seen = SendMixAndCollect({netMon.get()});
    const std::vector<Bytes> stored = BytesOf(netns::OwnFileFrames(Path("method2.tdw")), 2);
    EXPECT_TRUE(AllWithin(PeerMix(), stored));
    EXPECT_EQ(stored, SeenByBoth(seen, stored));
    EXPECT_NE(netMon->Log().find("Capturing (Network Monitor Packet Provider)"), std::string::npos)
        << netMon->Log();
}

// A process that holds the capture right itself opens its sockets without the helper.
TEST_F(LiveCapture, AnUnprivilegedUserCapturesOnlyWithCapNetRaw) {
    if (!HaveTool("setcap") || !HaveTool("setpriv")) GTEST_SKIP() << "setcap and setpriv needed";
    // Copies, so that the capabilities never touch the build's own executable.
    namespace fs = std::filesystem;
    const std::string bin = Path("bin");
    fs::create_directories(bin);
    fs::permissions(dir_, fs::perms::all);
    fs::permissions(bin, fs::perms::all);
    for (const char* name : {"with-caps", "without-caps"}) {
        fs::copy_file(TW_TIDEWATCH, bin + "/" + name, fs::copy_options::overwrite_existing);
    }
    std::string output;
    ASSERT_EQ(netns::Shell("setcap cap_net_raw+ep " + bin + "/with-caps", &output), 0)
        << output;
    const std::vector<std::string> asNobody = {
        "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--reset-env",
        "env", "XDG_CONFIG_HOME=" + bin, "XDG_STATE_HOME=" + bin};

    auto refused = StartTidewatch("3", bin + "/refused.tdw", bin + "/without-caps", asNobody);
    auto allowed = StartTidewatch("3", bin + "/allowed.tdw", bin + "/with-caps", asNobody);
    ASSERT_TRUE(allowed->Started()) << allowed->Log();
    const std::vector<Bytes> seen = SendMixAndCollect({allowed.get()});
    const std::vector<Bytes> stored = BytesOf(netns::OwnFileFrames(bin + "/allowed.tdw"), 2);
    EXPECT_TRUE(AllWithin(PeerMix(), stored));
    EXPECT_EQ(stored, SeenByBoth(seen, stored));

    // Without it, and with no helper to ask, the program ends by itself: warned once, not
    // capturing.
    EXPECT_TRUE(refused->Finish()) << refused->Log();
    const std::string log = refused->Log();
    EXPECT_NE(log.find("could not start"), std::string::npos) << log;
    const std::string warning = "not currently running as a local administrator";
    ASSERT_NE(log.find(warning), std::string::npos) << log;
    EXPECT_EQ(log.find(warning, log.find(warning) + 1), std::string::npos) << log;
    EXPECT_NE(log.find("Not Capturing (WinPCap)"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(bin + "/refused.tdw"));
}

TEST_F(LiveCapture, WithoutTheProviderOnlyMethod2IsUnavailable) {
    // A copy of the program in a folder without libnpptools.so.
    namespace fs = std::filesystem;
    const std::string bin = Path("bin");
    fs::create_directories(bin);
    fs::copy_file(TW_TIDEWATCH, bin + "/tidewatch", fs::copy_options::overwrite_existing);
    auto netMon = StartTidewatch("2", Path("method2.tdw"), bin + "/tidewatch");
    auto pcap = StartTidewatch("3", Path("method3.tdw"), bin + "/tidewatch");
    ASSERT_TRUE(pcap->Started()) << pcap->Log();
    EXPECT_TRUE(netMon->Finish()) << netMon->Log();
    const std::string log = netMon->Log();
    EXPECT_NE(log.find("INetMon - Netmon not installed"), std::string::npos) << log;
    EXPECT_NE(log.find("Not Capturing (Network Monitor Packet Provider)"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(Path("method2.tdw")));
    // Sent and collected first: the file is complete only once the capture has ended.
    const std::vector<Bytes> seen = SendMixAndCollect({pcap.get()});
    const std::vector<Bytes> stored = BytesOf(netns::OwnFileFrames(Path("method3.tdw")), 2);
    EXPECT_TRUE(AllWithin(PeerMix(), stored));
    EXPECT_EQ(stored, SeenByBoth(seen, stored));
}

}  // namespace
