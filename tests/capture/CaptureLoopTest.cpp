// The capture loop against drivers of the test's own: what it starts and stops, when, and what
// the status bar and the capture request show afterwards. A last case runs the raw-socket driver
// itself on the loopback interface of a network namespace made for it.
#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureLoop.h"
#include "decode/FrameBuilder.h"
#include "drivers/IWSACap.h"
#include "framework/Tick.h"
#include "support/CaptureFixture.h"

using namespace frames;
using Clock = std::chrono::steady_clock;

namespace {

// Records every start and stop; a started method 2 or 3 delivers the frames the test queues on a
// thread of its own, as the real drivers do.
class FakeDrivers : public CaptureDrivers {
public:
    ~FakeDrivers() { StopDelivery(); }

    bool StartRawSocket() override { return Started(1); }
    void StopRawSocket() override { Stopped(1); }
    bool ReceiveRawSocket() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return false;
    }
    bool StartNetMon() override { return Started(2) && StartDelivery(); }
    void StopNetMon() override { StopDelivery(), Stopped(2); }
    bool StartPcap() override { return Started(3) && StartDelivery(); }
    void StopPcap() override { StopDelivery(), Stopped(3); }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    void Queue(int frames) { queued_ += frames; }
    int Pending() const { return queued_.load(); }
    // Frames without end while a driver runs, each carrying its number (little-endian, at the
    // frame's last 8 bytes); Delivered is the number of the last one handed over.
    void Flood(bool on) { flood_ = on; }
    uint64_t Delivered() const { return sent_.load(); }

    bool fail[4] = {};

private:
    bool Started(int method) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back("start " + std::to_string(method));
        return !fail[method];
    }
    void Stopped(int method) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back("stop " + std::to_string(method));
    }
    bool StartDelivery() {
        delivering_ = true;
        thread_ = std::thread([this] {
            // UDP and TCP in turn, so that a filter on one protocol leaves the other.
            const Mac a{2, 0, 0, 0, 0, 1}, b{2, 0, 0, 0, 0, 2};
            const uint32_t from = IPv4Address(10, 0, 0, 2), to = IPv4Address(10, 0, 0, 1);
            const Bytes frames[] = {
                Ethernet(a, b, 0x0800, IPv4(17, from, to, UDP(1000, 2000, Text("payload")))),
                Ethernet(a, b, 0x0800, IPv4(6, from, to, TCP(1001, 80, 1, 0, 0x10, Text("data")))),
            };
            Bytes numbered =
                Ethernet(a, b, 0x0800, IPv4(17, from, to, UDP(1000, 2000, Bytes(8, 0))));
            for (unsigned n = 0; delivering_;) {
                if (flood_) {
                    const uint64_t number = sent_.load() + 1;
                    for (int i = 0; i < 8; ++i) {
                        numbered[numbered.size() - 8 + i] = static_cast<uint8_t>(number >> (8 * i));
                    }
                    OnEthernetFrame(numbered.data(), static_cast<uint32_t>(numbered.size()));
                    sent_.store(number);
                } else if (queued_ > 0) {
                    const Bytes& frame = frames[n++ % 2];
                    OnEthernetFrame(frame.data(), static_cast<uint32_t>(frame.size()));
                    --queued_;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
        return true;
    }
    void StopDelivery() {
        delivering_ = false;
        if (thread_.joinable()) thread_.join();
    }

    std::mutex mutex_;
    std::vector<std::string> events_;
    std::atomic<bool> delivering_{false};
    std::atomic<int> queued_{0};
    std::atomic<bool> flood_{false};
    std::atomic<uint64_t> sent_{0};
    std::thread thread_;
};

template <class Check>
bool WaitFor(Check check, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = Clock::now() + limit;
    while (!check()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs the loop's passes on a thread of the test's until the test ends.
class CaptureLoopTest : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        SetCapturePause(5);
        SetCaptureDrivers(&drivers);
        runner_ = std::thread([this] {
            while (!done_) CaptureLoopPass();
        });
    }
    void TearDown() override {
        StopCapture();
        SetCaptureDrivers(nullptr);
        done_ = true;
        runner_.join();
        SetCapturePause(500);
        captureMethod.store(1);
        CaptureFixture::TearDown();
    }
    std::string Pane(int pane) {
        std::lock_guard<std::mutex> lock(view.mutex);
        return view.status[pane];
    }
    void Capture(int frames) {
        drivers.Queue(frames);
        ASSERT_TRUE(WaitFor([&] { return drivers.Pending() == 0; }));
    }

    FakeDrivers drivers;
    std::atomic<bool> done_{false};
    std::thread runner_;
};

TEST_F(CaptureLoopTest, AFailingStartShowsNotCapturingAndWithdrawsTheRequest) {
    const struct {
        int method;
        const char* text;
    } cases[] = {{1, "  Not Capturing (Windows Sockets RCVALL)"},
                 {2, "  Not Capturing (Network Monitor Packet Provider)"},
                 {3, "  Not Capturing (WinPCap)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        drivers.fail[c.method] = true;
        captureMethod.store(c.method);
        StartCapture();
        EXPECT_TRUE(WaitFor([] { return IsCapturing() == 0; }));
        EXPECT_EQ(Pane(1), c.text);
    }
    // Each start was tried once; nothing was ever counted as running, so nothing was stopped.
    EXPECT_EQ(drivers.Events(), (std::vector<std::string>{"start 1", "start 2", "start 3"}));
}

TEST_F(CaptureLoopTest, StartThenStopAtOnceStartsAndStopsTheDriverAtMostOnce) {
    captureMethod.store(2);
    for (int round = 0; round < 20; ++round) {
        StartCapture();
        StopCapture();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<std::string> events = drivers.Events();
    EXPECT_LE(std::count(events.begin(), events.end(), "start 2"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "start 2"),
              std::count(events.begin(), events.end(), "stop 2"));
    EXPECT_EQ(netMonRunning.load(), 0);
}

TEST_F(CaptureLoopTest, SwitchingMethodStopsTheOldDriverFirstAndKeepsNumberingAndTime) {
    captureMethod.store(2);
    StartCapture();
    ASSERT_TRUE(WaitFor([] { return netMonRunning.load() == 1; }));
    const uint32_t startTick = GetPacketStore().startTick.load();
    Capture(3);
    // The window's way: withdraw, let a pass go by, switch, ask again.
    StopCapture();
    ASSERT_TRUE(WaitFor([] { return netMonRunning.load() == 0; }));
    captureMethod.store(3);
    StartCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 1; }));
    Capture(2);
    EXPECT_EQ(drivers.Events(),
              (std::vector<std::string>{"start 2", "stop 2", "start 3"}));
    EXPECT_EQ(GetPacketStore().startTick.load(), startTick);
    ASSERT_EQ(Count(), 5);
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(Record(i).index, static_cast<uint32_t>(i));

    // A method changed without the pause: the loop still stops the old driver before the
    // new one delivers.
    captureMethod.store(2);
    ASSERT_TRUE(WaitFor([] { return netMonRunning.load() == 1 && pcapRunning.load() == 0; }));
    const std::vector<std::string> events = drivers.Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3], "stop 3");
    EXPECT_EQ(events[4], "start 2");
}

TEST_F(CaptureLoopTest, ClearDuringACaptureRestartsNumberingAndTime) {
    captureMethod.store(3);
    StartCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 1; }));
    GetPacketStore().startTick.store(TickCount() - 60000);  // a minute into the capture
    Capture(4);
    EXPECT_GE(Record(3).timeOffset, 60000u);
    // The Clear command's way.
    StopCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 0; }));
    ClearStore();
    StartCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 1; }));
    Capture(1);
    ASSERT_EQ(Count(), 1);
    EXPECT_EQ(Record(0).index, 0u);
    EXPECT_LT(Record(0).timeOffset, 5000u);
}

TEST_F(CaptureLoopTest, NewDriversCountAsNotRunningAndTheOldOnesAreLetGo) {
    captureMethod.store(3);
    StartCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 1; }));
    FakeDrivers replacement;
    // The owner closes its drivers itself once they are handed back.
    SetCaptureDrivers(&replacement);
    drivers.StopPcap();
    ASSERT_TRUE(WaitFor([&] { return replacement.Events().size() == 1; }));
    EXPECT_EQ(replacement.Events().front(), "start 3");
    SetCaptureDrivers(&drivers);
    replacement.StopPcap();
}

// The packet list as the interface thread keeps it: rows queued by the arrival handler from the
// delivering thread, taken in below the store's count, refiltered and sorted.
class ListRows : public RecordingView, public PacketListRows {
public:
    void AddPacketRow(uint32_t index) override {
        std::lock_guard<std::mutex> lock(mutex);
        pending.push_back(index);
    }
    void TakeRows() {
        std::lock_guard<std::mutex> lock(mutex);
        const auto count = static_cast<uint32_t>(GetPacketStore().Count());
        auto ready = std::partition(pending.begin(), pending.end(),
                                    [count](uint32_t index) { return index < count; });
        list.insert(list.end(), pending.begin(), ready);
        pending.erase(pending.begin(), ready);
    }
    int RowCount() const override { return static_cast<int>(list.size()); }
    uint32_t RowPacketIndex(int row) const override { return list[static_cast<size_t>(row)]; }
    void DeleteRow(int row) override { list.erase(list.begin() + row); }

    std::vector<uint32_t> pending, list;
};

class CaptureLoopConcurrency : public CaptureLoopTest {};

TEST_F(CaptureLoopConcurrency, CaptureRunsWhileTheListRefiltersSortsAndReads) {
    ListRows rows;
    SetArrivalView(&rows);
    captureMethod.store(3);
    StartCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 1; }));
    drivers.Queue(20000);
    uint64_t bytesRead = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (int turn = 0; (drivers.Pending() > 0 || turn < 20) && Clock::now() < deadline; ++turn) {
        rows.TakeRows();
        std::sort(rows.list.begin(), rows.list.end(), [](uint32_t a, uint32_t b) {
            return GetPacketStore()[static_cast<int32_t>(a)].timeOffset >
                   GetPacketStore()[static_cast<int32_t>(b)].timeOffset;
        });
        for (uint32_t index : rows.list) {
            const PacketRecord& record = GetPacketStore()[static_cast<int32_t>(index)];
            bytesRead += record.data[record.length - 1] + record.sourcePort;
        }
        if (turn % 4 == 0 && !rows.list.empty()) {
            ApplyQuickFilter(turn % 8 ? kDropProtocol : kRemoveAllFilters,
                             GetPacketStore()[static_cast<int32_t>(rows.list.front())]);
            RefilterPacketList(rows);
        }
    }
    StopCapture();
    ASSERT_TRUE(WaitFor([] { return pcapRunning.load() == 0; }));
    rows.TakeRows();
    EXPECT_EQ(drivers.Pending(), 0);
    EXPECT_GT(bytesRead, 0u);
    EXPECT_TRUE(rows.pending.empty());
    SetArrivalView(&view);
}

uint64_t FrameNumber(const PacketRecord& record) {
    uint64_t number = 0;
    for (int i = 7; i >= 0; --i) number = number << 8 | record.data[record.length - 8 + i];
    return number;
}

// Stop and then at once Clear, a method change or a file's clear, over and over while a driver
// delivers at top speed: once the capture thread has confirmed the stop, no frame of the old
// capture reaches the cleared store, and the new one numbers from 0 with times near 0.
TEST_F(CaptureLoopConcurrency, NoFrameLandsInAStoreAfterItsClear) {
    drivers.Flood(true);
    captureMethod.store(2);
    StartCapture();
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(WaitFor([] { return Count() > 2; }));
        StopCapture();
        ASSERT_TRUE(AwaitCaptureStop(nullptr));
        // Every frame handed over so far belongs to the capture being cleared.
        const uint64_t before = drivers.Delivered();
        ClearStore();
        if (round % 3 == 1) captureMethod.store(captureMethod.load() == 2 ? 3 : 2);
        StartCapture();
        ASSERT_TRUE(WaitFor([] { return Count() > 2; }));
        EXPECT_EQ(Record(0).index, 0u);
        EXPECT_GT(FrameNumber(Record(0)), before);
        EXPECT_LT(Record(0).timeOffset, 2000u);
    }
    StopCapture();
    ASSERT_TRUE(AwaitCaptureStop(nullptr));
    drivers.Flood(false);
}

// The raw-socket driver on a quiet interface: a receive gives up soon enough for a withdrawn
// request to be seen within 500 ms, and the interface dialog's close ends a receive that waits
// on the capture thread at once.
TEST(RawSocketDriver, NeverWaitsForTrafficOnAQuietInterface) {
    if (geteuid() != 0) GTEST_SKIP() << "a packet socket needs root";
    IWSACap driver;
    driver.Init(nullptr, nullptr, OnRawIpFrame);
    const uint32_t stored = driver.CaptureAddress();
    driver.SetCaptureAddress(IPv4Address(127, 0, 0, 1));
    std::atomic<int> state{0};  // 1 started, -1 failed, 2 stopped
    std::atomic<int> receives{0};
    // The capture side runs in a network namespace of its own, whose loopback carries nothing.
    std::thread capture([&] {
        const int fd = unshare(CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_DGRAM, 0) : -1;
        ifreq request{};
        std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
        request.ifr_flags = IFF_UP;
        if (fd < 0 || ioctl(fd, SIOCSIFFLAGS, &request) != 0 || !driver.Start()) {
            state = -1;
        } else {
            state = 1;
            while (state == 1) {
                driver.ReceiveNext();
                ++receives;
            }
        }
        if (fd >= 0) close(fd);
    });
    ASSERT_TRUE(WaitFor([&] { return state != 0; }));
    if (state < 0) {
        capture.join();
        GTEST_SKIP() << "no network namespace or packet socket here";
    }
    // Each receive on the quiet link ends by itself.
    EXPECT_TRUE(WaitFor([&] { return receives >= 2; }, std::chrono::milliseconds(1000)));
    const auto closing = Clock::now();
    EXPECT_FALSE(driver.SelectInterface());  // no dialog here: closes, then cancels
    EXPECT_LT(Clock::now() - closing, std::chrono::milliseconds(500));
    state = 2;
    capture.join();
    driver.SetCaptureAddress(stored);
}

}  // namespace
