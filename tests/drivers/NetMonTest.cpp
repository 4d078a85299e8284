// The Network Monitor driver over the provider the project builds. The frames callback is
// checked against hand-made batches; the rest runs on a veth pair between two network
// namespaces of the test's own (root only, skipped otherwise): the driver and its provider live
// in namespace A, a peer in namespace B sends and receives with a plain packet socket and
// tcpdump.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "decode/FrameBuilder.h"
#include "drivers/INetMon.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/Tick.h"
#include "tests/support/CaptureFixture.h"
#include "tests/support/NetNamespaces.h"

using frames::Bytes;
using frames::Mac;

namespace {

const char* const kProvider = TW_BINARY_DIR "/libnpptools.so";

class TestNetMon : public INetMon {
public:
    explicit TestNetMon(const char* library = kProvider) : INetMon(library) {}
};

// What the arrival callback was handed, and the time each frame would be stored with.
std::mutex receivedMutex;
std::vector<Bytes> received;
std::vector<uint32_t> receivedTicks;
void Collect(const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(receivedMutex);
    received.emplace_back(data, data + length);
    receivedTicks.push_back(ArrivalTick::Now());
}
std::vector<Bytes> Received() {
    std::lock_guard<std::mutex> lock(receivedMutex);
    return received;
}
void ClearReceived() {
    std::lock_guard<std::mutex> lock(receivedMutex);
    received.clear();
    receivedTicks.clear();
}

// The error log's lines while the object lives.
class Reports {
public:
    Reports() {
        ErrorLog::SetDebugOutput([this](const char* text) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_ += text;
        });
    }
    ~Reports() { ErrorLog::SetDebugOutput(nullptr); }
    std::string Text() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::string lines_;
};

TEST(NetMon, OnFramesDeliversTheUsableEntriesOfABatchByAbsoluteIndex) {
    // Entry i is filled with byte i; entries 0 and 1 lie before the first index.
    const std::vector<size_t> sizes = {60, 60, 60, 0, 65536, 65535, 1};
    std::vector<Bytes> buffers;
    for (size_t i = 0; i < sizes.size(); ++i) buffers.emplace_back(sizes[i], uint8_t(i));
    std::vector<uint8_t> table(16 + 30 * sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        NetMonFrameEntry entry{};
        entry.data = i == 3 ? nullptr : buffers[i].data();  // entry 3 has no bytes
        entry.byteCount = static_cast<uint32_t>(i == 3 ? 60 : sizes[i]);
        std::memcpy(table.data() + 16 + 30 * i, &entry, sizeof entry);
    }
    struct Case {
        const char* name;
        uint16_t event;
        uint32_t first, last, count;
        bool withTable;
        std::vector<uint8_t> delivered;  // the fill bytes of the frames handed on, in order
    };
    const Case cases[] = {
        {"a batch", 2, 2, 6, 5, true, {2, 5, 6}},
        {"one frame", 2, 5, 5, 1, true, {5}},
        {"another event", 3, 2, 6, 5, true, {}},
        {"first index above the last", 2, 6, 2, 5, true, {}},
        {"no frames counted", 2, 2, 6, 0, true, {}},
        {"no frame table", 2, 2, 6, 5, false, {}},
    };
    Reports reports;
    TestNetMon driver("/nonexistent/libnpptools.so");
    driver.Init(nullptr, nullptr, Collect);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearReceived();
        const NetMonFrameTable header{0, c.first, c.last, c.count};
        std::memcpy(table.data(), &header, sizeof header);
        NetMonFramesRecord record{};
        record.eventCode = c.event;
        record.context = &driver;
        record.frameTable = c.withTable ? reinterpret_cast<NetMonFrameTable*>(table.data())
                                        : nullptr;
        EXPECT_EQ(INetMon::OnFrames(record), 0u);
        std::vector<uint8_t> fills;
        for (const Bytes& frame : Received()) {
            ASSERT_FALSE(frame.empty());
            EXPECT_EQ(frame.size(), sizes[frame[0]]);
            fills.push_back(frame[0]);
        }
        EXPECT_EQ(fills, c.delivered);
    }
}

// A batch whose frames the kernel received a second apart is stored a second apart; a frame
// without a time stamp is timed when its batch is handed over. The provider's word that the
// capture ended becomes the reason the capture loop shows.
TEST(NetMon, FramesAreTimedByTheirOwnStampsAndAnEndedCaptureLeavesItsReason) {
    // The real-time clock read between two ticks: the stamp 4 s before it lies 4 s before a tick
    // between them, however long a busy machine keeps this thread from running.
    timespec now{};
    const uint32_t readFrom = TickCount();
    clock_gettime(CLOCK_REALTIME, &now);
    const uint32_t readTo = TickCount();
    const int64_t second = 1000000000, stamp = (now.tv_sec - 5) * second + now.tv_nsec;
    const Bytes frame(60, 1);
    std::vector<uint8_t> table(16 + 30 * 3);
    const int64_t stamps[] = {stamp, stamp + second, 0};
    for (size_t i = 0; i < 3; ++i) {
        NetMonFrameEntry entry{};
        entry.data = frame.data();
        entry.timeStamp = stamps[i];
        entry.byteCount = 60;
        std::memcpy(table.data() + 16 + 30 * i, &entry, sizeof entry);
    }
    const NetMonFrameTable header{0, 0, 2, 3};
    std::memcpy(table.data(), &header, sizeof header);
    TestNetMon driver("/nonexistent/libnpptools.so");
    driver.Init(nullptr, nullptr, Collect);
    ClearReceived();
    NetMonFramesRecord record{};
    record.eventCode = kNetMonFramesEvent;
    record.context = &driver;
    record.frameTable = reinterpret_cast<NetMonFrameTable*>(table.data());
    const uint32_t before = TickCount();
    INetMon::OnFrames(record);
    const uint32_t after = TickCount();
    ASSERT_EQ(receivedTicks.size(), 3u);
    // Whole milliseconds on both sides: one may be a millisecond off the other.
    EXPECT_NEAR(static_cast<int32_t>(receivedTicks[1] - receivedTicks[0]), 1000, 1);
    EXPECT_GE(static_cast<int32_t>(receivedTicks[1] + 4000 - readFrom), -1);
    EXPECT_LE(static_cast<int32_t>(receivedTicks[1] + 4000 - readTo), 1);
    EXPECT_GE(receivedTicks[2], before);
    EXPECT_LE(receivedTicks[2], after);

    std::string reason;
    EXPECT_FALSE(driver.TakeFailure(reason));
    record = {};
    record.eventCode = kNetMonEndedEvent;
    record.status = kNetMonNoNetwork;
    record.context = &driver;
    EXPECT_EQ(INetMon::OnFrames(record), 0u);
    ASSERT_TRUE(driver.TakeFailure(reason));
    EXPECT_EQ(reason, "Capture ended: the interface was deleted");
}

TEST(NetMon, WithoutTheProviderOnlyThisMethodIsUnavailable) {
    Reports reports;
    {
        TestNetMon driver("/nonexistent/libnpptools.so");
        EXPECT_NE(reports.Text().find("INetMon - Netmon not installed"), std::string::npos);
        EXPECT_FALSE(driver.Init(nullptr, nullptr, Collect));
        EXPECT_FALSE(driver.Start());
        EXPECT_TRUE(driver.Stop());
        EXPECT_FALSE(driver.SelectInterface());
        const uint8_t frame[60] = {};
        EXPECT_FALSE(driver.SendPacket(frame, sizeof frame));
    }
    EXPECT_EQ(reports.Text().find("GetNPPBlobFromUI"), std::string::npos);
}

// ---- In network namespaces ----

const Mac kMacA = {0x02, 0x0a, 0xbc, 0xde, 0xf0, 0x01};
const char* const kMacAText = "02:0a:bc:de:f0:01";
// Frames of the test carry this source, so that what the namespaces' own kernels send (router
// solicitations, answers to the frames) is told apart.
const Mac kPeer = {0x02, 0x00, 0x00, 0x00, 0x00, 0xbb};
const Mac kBroadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
const uint32_t kIpA = frames::IPv4Address(10, 77, 0, 1), kIpB = frames::IPv4Address(10, 77, 0, 2);

// Runs fn on a thread of its own inside the namespace: the sockets it opens and the threads it
// starts (the provider's) belong to that namespace.
template <class Fn>
void In(const std::string& name, Fn fn) {
    std::thread worker([&] {
        const int fd = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(setns(fd, CLONE_NEWNET), 0) << name;
        close(fd);
        fn();
    });
    worker.join();
}

// The known mix: ARP, IPv4 UDP/TCP/ICMP, DNS, IPv6, 802.3/LLC, a VLAN tag, a 1,514-byte frame
// and a datagram in two fragments; `tag` varies one byte of each so batches differ.
std::vector<Bytes> Mix(uint8_t tag, const Mac& source = kPeer) {
    using namespace frames;
    const IPv6Address v6a = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const IPv6Address v6b = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    Bytes tagged = {0x00, 0x05, 0x08, 0x00};
    bytes::AppendBytes(tagged, IPv4(17, kIpB, kIpA, UDP(7000, 7001, Text("vlan"))));
    const Bytes datagram = UDP(9000, 9001, Bytes(40, tag));
    IPv4Options first, second;
    first.flagsAndOffset = 0x2000;
    second.flagsAndOffset = 3;  // 24 bytes in
    first.transportChecksum = second.transportChecksum = false;
    return {
        PadEthernet(Ethernet(kBroadcast, source, 0x0806, ARP(1, source, kIpB, {}, kIpA))),
        Ethernet(kMacA, source, 0x0800, IPv4(17, kIpB, kIpA, UDP(5353, 53, DnsQuery(tag, "a.example", 1)))),
        Ethernet(kMacA, source, 0x0800, IPv4(6, kIpB, kIpA, TCP(40000, 9, tag, 0, 0x02, {}))),
        Ethernet(kMacA, source, 0x0800, IPv4(1, kIpB, kIpA, ICMP(8, 0, tag, Text("ping")))),
        Ethernet(kMacA, source, 0x86dd, IPv6(17, v6b, v6a, UDP(7000, 7002, Text("six")))),
        PadEthernet(Ethernet8023(kMacA, source, 0x42, 0x42, 0x03, Text("llc"))),
        Ethernet(kMacA, source, 0x8100, tagged),
        Ethernet(kMacA, source, 0x0800, IPv4(17, kIpB, kIpA, UDP(7000, 7003, Bytes(1472, tag)))),
        Ethernet(kMacA, source, 0x0800, IPv4(17, kIpB, kIpA, Bytes(datagram.begin(), datagram.begin() + 24), first)),
        PadEthernet(Ethernet(kMacA, source, 0x0800, IPv4(17, kIpB, kIpA, Bytes(datagram.begin() + 24, datagram.end()), second))),
    };
}

// The frames of a list whose source address is the given one, in order.
std::vector<Bytes> From(const std::vector<Bytes>& frames, const Mac& source) {
    std::vector<Bytes> out;
    for (const Bytes& frame : frames) {
        if (frame.size() >= 12 && std::equal(source.begin(), source.end(), frame.begin() + 6)) {
            out.push_back(frame);
        }
    }
    return out;
}

class NetMonLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root (network namespaces, packet sockets)";
        static int serial = 0;
        net = std::make_unique<netns::NamespacePair>("m" + std::to_string(getpid() % 100000) +
                                                     std::to_string(serial++ % 10));
        std::string error;
        ASSERT_TRUE(net->Add(&error)) << error;
        netns::LinkAddresses link;
        link.v4A = "10.77.0.1";
        link.v4B = "10.77.0.2";
        link.macA = kMacAText;
        link.macB = "02:0a:bc:de:f0:02";
        ASSERT_TRUE(net->Connect(link, &error)) << error;
        ASSERT_TRUE(WriteRegString("NetMonMacAddr", "02-0A-BC-DE-F0-01"));
        ClearReceived();
    }

    // Sends the frames from namespace B with a packet socket, one after the other.
    void SendFromPeer(const std::vector<Bytes>& frames) {
        In(net->b, [&] {
            const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
            ASSERT_GE(fd, 0);
            sockaddr_ll to{};
            to.sll_family = AF_PACKET;
            to.sll_ifindex = static_cast<int>(if_nametoindex(net->ifB.c_str()));
            for (const Bytes& frame : frames) {
                EXPECT_EQ(sendto(fd, frame.data(), frame.size(), 0,
                                 reinterpret_cast<const sockaddr*>(&to), sizeof to),
                          static_cast<ssize_t>(frame.size()));
            }
            close(fd);
        });
    }

    // Waits until the callback has been handed `count` frames of the peer.
    static bool ReceivedFromPeer(size_t count) {
        return netns::WaitFor([&] { return From(Received(), kPeer).size() >= count; },
                              std::chrono::seconds(5));
    }

    std::unique_ptr<netns::NamespacePair> net;
};

// With nothing stored, the namespace's one interface that is up and delivers Ethernet is the
// network, and is stored; a stored empty text means none.
TEST_F(NetMonLink, TheStoredAddressChoosesTheNetworkWhateverItsCase) {
    struct Case {
        const char* stored;  // null: nothing stored
        bool chosen;
        const char* storedAfter;
    };
    for (const Case& c : {Case{"02-0A-BC-DE-F0-01", true, "02-0A-BC-DE-F0-01"},
                          Case{"02-0a-bc-de-f0-01", true, "02-0a-bc-de-f0-01"},
                          Case{"", false, ""},
                          Case{"02-0a-bc-de-f0-02", false, "02-0a-bc-de-f0-02"},
                          Case{nullptr, true, "02-0a-bc-de-f0-01"}}) {
        SCOPED_TRACE(c.stored ? c.stored : "nothing stored");
        if (c.stored) {
            ASSERT_TRUE(WriteRegString("NetMonMacAddr", c.stored));
        } else {
            std::filesystem::remove(SettingsFilePath());
        }
        Reports reports;
        In(net->a, [&] {
            TestNetMon driver;
            EXPECT_EQ(driver.Init(nullptr, nullptr, Collect), c.chosen);
            EXPECT_EQ(driver.Start(), c.chosen);
            driver.Stop();
        });
        // Nothing is reported either way.
        EXPECT_EQ(reports.Text(), "");
        str stored;
        AppRegKey().GetString("NetMonMacAddr", stored, "?");
        EXPECT_STREQ(stored.c_str(), c.storedAfter);
    }
}

TEST_F(NetMonLink, CapturesThePeersFramesByteForByteAndInOrder) {
    const std::string dir = std::filesystem::current_path();
    netns::Capture tcpdump(*net, dir + "/netmon.pcap", dir + "/tcpdump.log");
    ASSERT_TRUE(tcpdump.Started());
    const std::vector<Bytes> sent = Mix(1);
    In(net->a, [&] {
        TestNetMon driver;
        ASSERT_TRUE(driver.Init(nullptr, nullptr, Collect));
        ASSERT_TRUE(driver.Start());
        SendFromPeer(sent);
        EXPECT_TRUE(ReceivedFromPeer(sent.size()));
        EXPECT_TRUE(driver.Stop());
        NetMonStatistics counts{};
        ASSERT_TRUE(driver.QueryStatistics(&counts));
        EXPECT_EQ(counts.dropped, 0u);
        EXPECT_GE(counts.delivered, sent.size());
    });
    ASSERT_TRUE(tcpdump.Stop());
    EXPECT_EQ(From(Received(), kPeer), sent);
    EXPECT_EQ(From(netns::PcapFrames(dir + "/netmon.pcap"), kPeer), sent);
}

TEST_F(NetMonLink, StopEndsDeliveryAndRestartsLoseNothing) {
    In(net->a, [&] {
        TestNetMon driver;
        ASSERT_TRUE(driver.Init(nullptr, nullptr, Collect));
        std::vector<Bytes> expected;
        for (uint8_t round = 0; round < 3; ++round) {
            ASSERT_TRUE(driver.Start());
            // Several bursts while running, then one while stopped that must not arrive.
            for (uint8_t burst = 0; burst < 20; ++burst) {
                const std::vector<Bytes> mix = Mix(static_cast<uint8_t>(round * 20 + burst));
                SendFromPeer(mix);
                expected.insert(expected.end(), mix.begin(), mix.end());
            }
            EXPECT_TRUE(ReceivedFromPeer(expected.size()));
            EXPECT_TRUE(driver.Stop());
            const size_t atStop = Received().size();
            SendFromPeer(Mix(0xee));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(Received().size(), atStop);
        }
        EXPECT_EQ(From(Received(), kPeer), expected);
    });
}

TEST_F(NetMonLink, SendPacketTransmitsTheBytesOnTheChosenNetwork) {
    const std::string pcap = std::filesystem::current_path().string() + "/peer.pcap";
    netns::Capture tcpdump(*net, pcap, pcap + ".log", true);
    ASSERT_TRUE(tcpdump.Started());
    const std::vector<Bytes> sent = Mix(7, kMacA);
    In(net->a, [&] {
        TestNetMon driver;
        ASSERT_TRUE(driver.Init(nullptr, nullptr, Collect));
        for (const Bytes& frame : sent) {
            EXPECT_TRUE(driver.SendPacket(frame.data(), static_cast<uint32_t>(frame.size())));
        }
        EXPECT_FALSE(driver.SendPacket(sent[0].data(), 0));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(tcpdump.Stop());
    // The namespace's own kernel sends with A's address too: compare the test's frames only.
    std::vector<Bytes> arrived;
    for (const Bytes& frame : From(netns::PcapFrames(pcap), kMacA)) {
        if (std::find(sent.begin(), sent.end(), frame) != sent.end()) arrived.push_back(frame);
    }
    EXPECT_EQ(arrived, sent);
}

// Run under ThreadSanitizer by the test script: the provider's thread stores frames while the
// list's rows are sorted by the stored records, the rules change, a replay sends and the
// capture is stopped and started again.
using NetMonConcurrency = NetMonLink;

TEST_F(NetMonConcurrency, DeliveryStoreReadsReplayAndRestartsRunTogether) {
    RecordingView view;
    ASSERT_TRUE(AllocateStore());
    ClearStore();
    ResetFilters();
    SetArrivalView(&view);
    StartCapture();
    std::atomic<bool> done{false};
    In(net->a, [&] {
        TestNetMon driver;
        ASSERT_TRUE(driver.Init(nullptr, nullptr, OnEthernetFrame));
        ASSERT_TRUE(driver.Start());
        std::thread peer([&] {
            for (uint8_t round = 0; round < 30; ++round) SendFromPeer(Mix(round));
            done = true;
        });
        std::thread read([&] {
            while (!done.load()) {
                std::vector<uint32_t> rows;
                {
                    std::lock_guard<std::mutex> lock(view.mutex);
                    rows = view.rows;
                }
                // The list sorted by a column, as the window does, reading the stored records.
                std::sort(rows.begin(), rows.end(), [](uint32_t a, uint32_t b) {
                    return GetPacketStore()[static_cast<int32_t>(a)].length >
                           GetPacketStore()[static_cast<int32_t>(b)].length;
                });
                for (uint32_t row : rows) ASSERT_TRUE(GetPacketStore()[static_cast<int32_t>(row)].data);
                PacketRecord peerUdp;
                peerUdp.protocol = 17;
                ApplyQuickFilter(kDropProtocol, peerUdp);
                ApplyQuickFilter(kRemoveAllFilters, peerUdp);
            }
        });
        std::thread replay([&] {
            const Bytes frame = Mix(0, kMacA)[1];
            while (!done.load()) {
                EXPECT_TRUE(driver.SendPacket(frame.data(), static_cast<uint32_t>(frame.size())));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_TRUE(driver.Stop());
            EXPECT_TRUE(driver.Start());
        }
        peer.join();
        read.join();
        replay.join();
        driver.Stop();
    });
    SetArrivalView(nullptr);
    StopCapture();
    EXPECT_GT(GetPacketStore().Count(), 0);
    EXPECT_EQ(view.rows.size(), static_cast<size_t>(GetPacketStore().Count()));
    ClearStore();
}

}  // namespace
