#include "capture/CaptureLoop.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "drivers/CaptureFilter.h"
#include "drivers/CaptureRightsClient.h"
#include "framework/ErrorLog.h"

std::atomic<int32_t> captureMethod{1};
std::atomic<uint8_t> rawSocketRunning{0};
std::atomic<uint8_t> netMonRunning{0};
std::atomic<uint8_t> pcapRunning{0};

std::string CaptureStateText(const std::string& state) {
    const std::string filter = CaptureFilter::Expression();
    return filter.empty() ? state : state + " \u00b7 " + filter;
}

namespace {

void ShowState(const char* state) { ShowStatus(CaptureStateText(state).c_str(), 1); }

// The owner's drivers change only under this lock, and a pass holds it while it calls them, so
// that an owner that takes its drivers away (and then destroys them) never pulls them from under
// a call. A pass lets go of it while it pauses.
std::mutex handoverLock;
CaptureDrivers* installedDrivers = nullptr;  // under handoverLock
uint64_t installations = 0;                  // under handoverLock; one more for every change
CaptureDrivers* passDrivers = nullptr;       // the capture thread's copy for the current pass
uint64_t passInstallation = 0;
std::unique_lock<std::mutex>* passLock = nullptr;
std::atomic<uint32_t> pauseMilliseconds{500};

// What ends a pause early: new drivers, or a stop to confirm. Held only for a moment by anyone,
// so the interface thread that wakes the loop never waits behind a driver call. Never destroyed:
// the capture thread may still be pausing on it while the process exits.
std::mutex& wakeLock = *new std::mutex;
std::condition_variable& wakeSignal = *new std::condition_variable;
uint64_t wakeups = 0;  // under wakeLock
// The wake-ups the current pass has seen: one that came while the pass was busy ends its pause
// at once (capture thread only).
uint64_t passWakeups = 0;

// The stop confirmations asked for and given (see RequestStopConfirmation).
std::atomic<bool> driversInstalled{false};
std::atomic<uint64_t> stopsAsked{0};
std::atomic<uint64_t> stopsConfirmed{0};

bool Wanted() {
    return GetPacketStore().captureWanted.load(std::memory_order_acquire) != 0;
}

// The stops asked for before the current pass saw the request (capture thread only).
uint64_t passAsked = 0;

// No driver runs and none will start before the request is made again: whatever a driver
// delivered has been stored, so the stops asked for before this pass are confirmed.
void ConfirmIfStopped() {
    if (!Wanted() && rawSocketRunning.load(std::memory_order_acquire) == 0 &&
        netMonRunning.load(std::memory_order_acquire) == 0 &&
        pcapRunning.load(std::memory_order_acquire) == 0 &&
        stopsConfirmed.load(std::memory_order_relaxed) < passAsked) {
        stopsConfirmed.store(passAsked, std::memory_order_release);
    }
}

void Wake() {
    {
        std::lock_guard<std::mutex> lock(wakeLock);
        ++wakeups;
    }
    wakeSignal.notify_all();
}

// The pass lets go of the drivers while it pauses, so that their owner may take them away.
void Pause() {
    ConfirmIfStopped();
    const auto pause = std::chrono::milliseconds(pauseMilliseconds.load(std::memory_order_relaxed));
    if (passLock) passLock->unlock();
    {
        std::unique_lock<std::mutex> lock(wakeLock);
        const uint64_t seen = passWakeups;
        wakeSignal.wait_for(lock, pause, [seen] { return wakeups != seen; });
        passWakeups = wakeups;
    }
    if (passLock) passLock->lock();
}

// The loop gives the request up: a Start that failed, or a driver that ended by itself (its
// interface deleted, its address removed). The reason is logged and shown in pane 0 before the
// request falls, so that whoever sees it fall finds the reason already there.
void Withdraw(CaptureDrivers* drivers, int method, const char* methodName,
              const char* notCapturing, bool atStart) {
    std::string detail;
    const bool told = drivers && drivers->TakeFailure(method, detail) && !detail.empty();
    std::string reason;
    if (IsUserAdministrator() == 0) {
        // The first thing to put right, whatever the driver met because of it ("socket:
        // Operation not permitted"); its own words go to the log.
        reason = std::string("no capture rights for ") + methodName +
                 " (see the manual, Capturing without root)";
        if (told) Report(nullptr, 0, (methodName + std::string(" - ") + detail).c_str(), 3);
    } else {
        reason = told ? detail : std::string("the ") + methodName + " driver is not available";
    }
    const std::string line = atStart ? "Capture could not start: " + reason : reason;
    Report(nullptr, 0, line.c_str(), 3);
    ShowState(notCapturing);
    ShowStatus(line.c_str(), 0);
    WithdrawCapture();
}

// While a driver runs: true when it has ended by itself, after withdrawing the request.
bool Lost(CaptureDrivers* drivers, int method, const char* methodName,
          const char* notCapturing, void (CaptureDrivers::*stop)()) {
    std::string reason;
    if (!drivers || !drivers->TakeFailure(method, reason)) return false;
    (drivers->*stop)();
    const std::string line = reason.empty() ? std::string("The capture ended") : reason;
    Report(nullptr, 0, line.c_str(), 3);
    ShowState(notCapturing);
    ShowStatus(line.c_str(), 0);
    WithdrawCapture();
    return true;
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
        ShowState(method.capturing);
        return true;
    }
    if (running) {
        if (drivers) (drivers->*method.stop)();
        method.running.store(0, std::memory_order_release);
        ShowState(method.notCapturing);
    }
    Pause();
    return method.running.load(std::memory_order_acquire) != 0;
}

constexpr const char* kRawName = "Windows Sockets RCVALL";
constexpr const char* kRawCapturing = "Capturing (Windows Sockets RCVALL)";
constexpr const char* kRawNotCapturing = "Not Capturing (Windows Sockets RCVALL)";

}  // namespace

void SetCaptureDrivers(CaptureDrivers* drivers) {
    {
        std::lock_guard<std::mutex> lock(handoverLock);
        installedDrivers = drivers;
        ++installations;  // new drivers may sit where old ones were: the count tells them apart
        driversInstalled.store(drivers != nullptr, std::memory_order_release);
    }
    Wake();
}

uint64_t RequestStopConfirmation() {
    if (!driversInstalled.load(std::memory_order_acquire)) return 0;
    const uint64_t ticket = stopsAsked.fetch_add(1, std::memory_order_acq_rel) + 1;
    Wake();
    return ticket;
}

bool StopConfirmed(uint64_t ticket) {
    return ticket == 0 || stopsConfirmed.load(std::memory_order_acquire) >= ticket;
}

bool AwaitCaptureStop(const std::function<void(uint32_t)>& wait, uint32_t limit) {
    const uint64_t ticket = RequestStopConfirmation();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    while (!StopConfirmed(ticket)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (wait) {
            wait(2);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return true;
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
            ShowState(kRawCapturing);
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
        ShowState(kRawNotCapturing);
    }
    Pause();
    return rawSocketRunning.load(std::memory_order_acquire) != 0;
}

bool RunNetMonStep() {
    static const MethodSteps steps{2, "Network Monitor Packet Provider", netMonRunning,
                                   &CaptureDrivers::StartNetMon, &CaptureDrivers::StopNetMon,
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
    // Read before the request is looked at: a confirmation covers only the stops asked for
    // before this pass saw the request withdrawn.
    {
        std::lock_guard<std::mutex> wakeGuard(wakeLock);
        passWakeups = wakeups;
    }
    passAsked = stopsAsked.load(std::memory_order_acquire);
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
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            lock.lock();
            break;
    }
    ConfirmIfStopped();
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

int IsUserAdministrator() { return CaptureRights::AdministratorCheck(); }
