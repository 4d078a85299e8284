#include "capture/CaptureLoop.h"

#include <linux/capability.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "framework/ErrorLog.h"

std::atomic<int32_t> captureMethod{1};
std::atomic<uint8_t> rawSocketRunning{0};
std::atomic<uint8_t> netMonRunning{0};
std::atomic<uint8_t> pcapRunning{0};

namespace {

// The owner's drivers change only under this lock, and a pass holds it while it calls them, so
// that an owner that takes its drivers away (and then destroys them) never pulls them from under
// a call. A pass lets go of it while it pauses.
std::mutex handoverLock;
std::condition_variable handoverWake;
CaptureDrivers* installedDrivers = nullptr;  // under handoverLock
uint64_t installations = 0;                  // under handoverLock; one more for every change
CaptureDrivers* passDrivers = nullptr;       // the capture thread's copy for the current pass
uint64_t passInstallation = 0;
std::unique_lock<std::mutex>* passLock = nullptr;
std::atomic<uint32_t> pauseMilliseconds{500};

void Pause() {
    const auto pause = std::chrono::milliseconds(pauseMilliseconds.load(std::memory_order_relaxed));
    if (passLock) {
        handoverWake.wait_for(*passLock, pause);
    } else {
        std::this_thread::sleep_for(pause);
    }
}

// The loop gives the request up: a Start that failed, or a driver that ended by itself (its
// interface deleted, its address removed). The reason is logged and shown in pane 0 before the
// request falls, so that whoever sees it fall finds the reason already there.
void Withdraw(CaptureDrivers* drivers, int method, const char* methodName,
              const char* notCapturing, bool atStart) {
    std::string reason;
    if (!drivers || !drivers->TakeFailure(method, reason) || reason.empty()) {
        if (IsUserAdministrator() == 0) {
            reason = std::string("no capture rights for ") + methodName +
                     " (see the manual, Capturing without root)";
        } else {
            reason = std::string("the ") + methodName + " driver is not available";
        }
    }
    const std::string line = atStart ? "Capture could not start: " + reason : reason;
    Report(nullptr, 0, line.c_str(), 3);
    ShowStatus(notCapturing, 1);
    ShowStatus(line.c_str(), 0);
    GetPacketStore().captureWanted.store(0, std::memory_order_release);
}

// While a driver runs: true when it has ended by itself, after withdrawing the request.
bool Lost(CaptureDrivers* drivers, int method, const char* methodName,
          const char* notCapturing, void (CaptureDrivers::*stop)()) {
    std::string reason;
    if (!drivers || !drivers->TakeFailure(method, reason)) return false;
    (drivers->*stop)();
    const std::string line = reason.empty() ? std::string("The capture ended") : reason;
    Report(nullptr, 0, line.c_str(), 3);
    ShowStatus(notCapturing, 1);
    ShowStatus(line.c_str(), 0);
    GetPacketStore().captureWanted.store(0, std::memory_order_release);
    return true;
}

bool Wanted() {
    return GetPacketStore().captureWanted.load(std::memory_order_acquire) != 0;
}

// What differs between the methods whose drivers deliver on threads of their own.
struct MethodSteps {
    int method;
    const char* name;
    std::atomic<uint8_t>& running;
    bool (CaptureDrivers::*start)();
    void (CaptureDrivers::*stop)();
    const char* capturing;
    const char* notCapturing;
};

bool RunDeliveringStep(const MethodSteps& method) {
    CaptureDrivers* drivers = passDrivers;
    const bool running = method.running.load(std::memory_order_acquire) != 0;
    if (Wanted()) {
        if (running) {
            if (Lost(drivers, method.method, method.name, method.notCapturing, method.stop)) {
                method.running.store(0, std::memory_order_release);
                return false;
            }
            Pause();
            return true;
        }
        ReserveFrameSpace();
        if (!drivers || !(drivers->*method.start)()) {
            Withdraw(drivers, method.method, method.name, method.notCapturing, true);
            return false;
        }
        method.running.store(1, std::memory_order_release);
        ShowStatus(method.capturing, 1);
        return true;
    }
    if (running) {
        if (drivers) (drivers->*method.stop)();
        method.running.store(0, std::memory_order_release);
        ShowStatus(method.notCapturing, 1);
    }
    Pause();
    return method.running.load(std::memory_order_acquire) != 0;
}

constexpr const char* kRawName = "Windows Sockets RCVALL";
constexpr const char* kRawCapturing = "Capturing (Windows Sockets RCVALL)";
constexpr const char* kRawNotCapturing = "Not Capturing (Windows Sockets RCVALL)";

}  // namespace

void SetCaptureDrivers(CaptureDrivers* drivers) {
    std::lock_guard<std::mutex> lock(handoverLock);
    installedDrivers = drivers;
    ++installations;  // new drivers may sit where old ones were: the count tells them apart
    handoverWake.notify_all();
}

void SetCapturePause(uint32_t milliseconds) {
    pauseMilliseconds.store(milliseconds, std::memory_order_relaxed);
}

bool RunRawSocketStep() {
    CaptureDrivers* drivers = passDrivers;
    if (Wanted()) {
        if (rawSocketRunning.load(std::memory_order_acquire) == 0) {
            ReserveFrameSpace();
            if (!drivers || !drivers->StartRawSocket()) {
                Withdraw(drivers, 1, kRawName, kRawNotCapturing, true);
                return false;
            }
            ShowStatus(kRawCapturing, 1);
            rawSocketRunning.store(1, std::memory_order_release);
        }
        // The receive gives up after a short wait, so a withdrawn request is seen on a quiet
        // interface too.
        drivers->ReceiveRawSocket();
        if (Lost(drivers, 1, kRawName, kRawNotCapturing, &CaptureDrivers::StopRawSocket)) {
            rawSocketRunning.store(0, std::memory_order_release);
            return false;
        }
        return rawSocketRunning.load(std::memory_order_acquire) != 0;
    }
    if (rawSocketRunning.load(std::memory_order_acquire) != 0) {
        if (drivers) drivers->StopRawSocket();
        rawSocketRunning.store(0, std::memory_order_release);
        ShowStatus(kRawNotCapturing, 1);
    }
    Pause();
    return rawSocketRunning.load(std::memory_order_acquire) != 0;
}

bool RunNetMonStep() {
    static const MethodSteps steps{2, "Network Monitor Packet Provider", netMonRunning, &CaptureDrivers::StartNetMon,
                                   &CaptureDrivers::StopNetMon,
                                   "Capturing (Network Monitor Packet Provider)",
                                   "Not Capturing (Network Monitor Packet Provider)"};
    return RunDeliveringStep(steps);
}

bool RunPcapStep() {
    static const MethodSteps steps{3, "WinPCap", pcapRunning, &CaptureDrivers::StartPcap,
                                   &CaptureDrivers::StopPcap, "Capturing (WinPCap)",
                                   "Not Capturing (WinPCap)"};
    return RunDeliveringStep(steps);
}

void CaptureLoopPass() {
    std::unique_lock<std::mutex> lock(handoverLock);
    passLock = &lock;
    const int32_t method = captureMethod.load(std::memory_order_acquire);
    if (installations != passInstallation) {
        // New drivers: the owner of the old ones has closed them, so none of them runs.
        passDrivers = installedDrivers;
        passInstallation = installations;
        rawSocketRunning.store(0, std::memory_order_release);
        netMonRunning.store(0, std::memory_order_release);
        pcapRunning.store(0, std::memory_order_release);
    }
    // A driver left running by an earlier method is stopped first, so that only the current
    // method's driver ever delivers, however quickly the method changed.
    if (CaptureDrivers* drivers = passDrivers) {
        if (method != 1 && rawSocketRunning.load(std::memory_order_acquire)) {
            drivers->StopRawSocket();
            rawSocketRunning.store(0, std::memory_order_release);
        }
        if (method != 2 && netMonRunning.load(std::memory_order_acquire)) {
            drivers->StopNetMon();
            netMonRunning.store(0, std::memory_order_release);
        }
        if (method != 3 && pcapRunning.load(std::memory_order_acquire)) {
            drivers->StopPcap();
            pcapRunning.store(0, std::memory_order_release);
        }
    }
    switch (method) {
        case 1: RunRawSocketStep(); break;
        case 2: RunNetMonStep(); break;
        case 3: RunPcapStep(); break;
        default:
            ShowStatus("Invalid Capture Method", 0);
            // A short pause rather than a busy loop until the method is valid again.
            handoverWake.wait_for(lock, std::chrono::milliseconds(50));
            break;
    }
    passLock = nullptr;
}

void CaptureLoop() {
    for (;;) CaptureLoopPass();
}

namespace {
std::atomic<bool> threadStarted{false};
}  // namespace

bool CaptureThreadStarted() { return threadStarted.load(); }

void StartCaptureThread() {
    static std::once_flag started;
    std::call_once(started, [] {
        threadStarted.store(true);
        // The store and the filters are made ready before the thread runs, so that a file
        // opened right after start-up finds the slots, and the thread never resets rules the
        // user may already be adding.
        AllocateStore();
        ResetFilters();
        std::thread(CaptureLoop).detach();
    });
}

int IsUserAdministrator() {
    if (geteuid() == 0) return 1;
    // The effective capability set, as the kernel reports it for this process.
    std::ifstream status("/proc/self/status");
    if (!status) return -1;
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) != 0) continue;
        char* end = nullptr;
        const unsigned long long effective = std::strtoull(line.c_str() + 7, &end, 16);
        if (end == line.c_str() + 7) return -1;
        const unsigned long long needed =
            (1ULL << CAP_NET_RAW) | (1ULL << CAP_NET_ADMIN);
        return (effective & needed) == needed ? 1 : 0;
    }
    return -1;
}
