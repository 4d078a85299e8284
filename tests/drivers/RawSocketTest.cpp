// The raw-socket driver: the choice of its default address, and on a loopback interface of a
// network namespace of the test's own (root only) that each datagram is delivered once, whole,
// and timed when the kernel received it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drivers/IWSACap.h"
#include "framework/Bytes.h"
#include "framework/Tick.h"

namespace {

constexpr uint32_t kLoopback = 0x7f000001;

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}

TEST(RawSocket, TheDefaultAddressIsTheHostNamesOwnElseAnInterfacesElseLoopback) {
    const uint32_t debian = Address(127, 0, 1, 1), lan = Address(192, 168, 1, 10),
                   vpn = Address(10, 8, 0, 2), other = Address(172, 16, 0, 1);
    const unsigned up = IFF_UP, down = 0, lo = IFF_UP | IFF_LOOPBACK;
    struct Case {
        const char* name;
        std::vector<uint32_t> hostName;
        std::vector<IWSACap::LocalAddress> local;
        uint32_t expected;
    };
    const Case cases[] = {
        {"the host name's address an interface holds", {lan}, {{kLoopback, lo}, {vpn, up}, {lan, up}}, lan},
        {"its first one that is held", {other, vpn, lan}, {{lan, up}, {vpn, up}}, vpn},
        {"held by an interface that is down", {lan}, {{vpn, up}, {lan, down}}, lan},
        {"Debian's 127.0.1.1, held by nobody", {debian}, {{kLoopback, lo}, {vpn, down}, {lan, up}}, lan},
        {"a loopback address is passed over", {debian}, {{debian, lo}, {lan, up}}, lan},
        {"an address on a loopback interface", {other}, {{other, lo}, {lan, up}}, lan},
        {"no host name: the first interface that is up", {}, {{vpn, down}, {lan, up}, {other, up}}, lan},
        {"only loopback", {debian}, {{kLoopback, lo}, {vpn, down}}, kLoopback},
        {"nothing at all", {}, {}, kLoopback},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(IWSACap::DefaultAddress(test.hostName, test.local), test.expected) << test.name;
    }
}

struct Datagram {
    std::vector<uint8_t> bytes;
    uint32_t tick;  // the frame's time as the arrival handler would take it
};
std::mutex collectedMutex;
std::vector<Datagram> collected;
void Collect(const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(collectedMutex);
    collected.push_back({std::vector<uint8_t>(data, data + length), ArrivalTick::Now()});
}

// The UDP datagrams to the test's port, as delivered.
std::vector<Datagram> ToPort(uint16_t port) {
    std::lock_guard<std::mutex> lock(collectedMutex);
    std::vector<Datagram> out;
    for (const Datagram& d : collected) {
        if (d.bytes.size() >= 28 && d.bytes[9] == 17 &&
            bytes::LoadBe16(&d.bytes[(d.bytes[0] & 0x0f) * 4 + 2]) == port) {
            out.push_back(d);
        }
    }
    return out;
}

// Two datagrams to 127.0.0.1 pass loopback twice each (out and in): they must arrive once each,
// the largest an IPv4 datagram can be among them, and each timed within the send call that
// made it.
TEST(RawSocket, OnLoopbackEachDatagramArrivesOnceWholeAndTimedByTheKernel) {
    if (geteuid() != 0) GTEST_SKIP() << "a packet socket needs root";
    constexpr uint16_t kPort = 9999;
    const std::vector<size_t> payloads = {16, 65507, 1, 1400, 300};
    std::vector<std::pair<uint32_t, uint32_t>> sendTicks;  // before and after each send
    bool ready = false;
    std::thread inNamespace([&] {
        // This thread alone moves into a new network namespace, whose loopback carries only
        // what the test sends.
        const int control = unshare(CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_DGRAM, 0) : -1;
        ifreq request{};
        std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
        request.ifr_flags = IFF_UP;
        if (control < 0 || ioctl(control, SIOCSIFFLAGS, &request) != 0) return;
        IWSACap driver;
        const uint32_t stored = driver.CaptureAddress();
        driver.Init(nullptr, nullptr, Collect);
        driver.SetCaptureAddress(kLoopback);
        ready = driver.Start();
        if (ready) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(kPort);
            to.sin_addr.s_addr = htonl(kLoopback);
            for (size_t size : payloads) {
                const std::vector<uint8_t> payload(size, static_cast<uint8_t>(size));
                const uint32_t before = TickCount();
                sendto(control, payload.data(), payload.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
                sendTicks.emplace_back(before, TickCount());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (ToPort(kPort).size() < payloads.size() &&
                   std::chrono::steady_clock::now() < deadline) {
                driver.ReceiveNext();
            }
            // Anything delivered twice would have come with the same blocks.
            for (int i = 0; i < 4; ++i) driver.ReceiveNext();
            driver.Stop();
        }
        driver.SetCaptureAddress(stored);
        close(control);
    });
    inNamespace.join();
    if (!ready) GTEST_SKIP() << "no network namespace or packet socket here";
    const std::vector<Datagram> arrived = ToPort(kPort);
    ASSERT_EQ(arrived.size(), payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        SCOPED_TRACE(payloads[i]);
        EXPECT_EQ(arrived[i].bytes.size(), 28 + payloads[i]);
        EXPECT_EQ(arrived[i].bytes.back(), static_cast<uint8_t>(payloads[i]));
        // Both ticks are whole milliseconds, truncated: the kernel's time lies between them.
        EXPECT_GE(arrived[i].tick, sendTicks[i].first);
        EXPECT_LE(arrived[i].tick, sendTicks[i].second);
    }
}

}  // namespace
