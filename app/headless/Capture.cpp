// --capture: the capture loop with the drivers and no window, then the store written to a file.
// What was taken is never lost to a cause that could be known before: the output is checked
// before the capture starts, and a capture that ends by itself (its interface deleted) is saved.
#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "app/headless/Modes.h"
#include "capture/CaptureFilters.h"
#include "capture/CaptureLoop.h"
#include "capture/DriverSet.h"
#include "capture/PacketStore.h"
#include "files/CaptureFile.h"
#include "files/OutputFile.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> stopSignal{0};
std::atomic<long> packetGoal{-1};
std::atomic<bool> goalReached{false};

// The main thread sleeps until a stop signal, a full store or the count asked for wakes it; a
// fixed short poll cost a wake-up every few milliseconds all through a capture.
sem_t wake;
std::atomic<bool> endWoken{false};

void OnStopSignal(int signal) {
    stopSignal.store(signal);
    sem_post(&wake);  // safe in a signal handler
}

// The frame callbacks stop storing at the packet count asked for, so that the file holds exactly
// that many however fast frames come.
bool BelowGoal() {
    const long goal = packetGoal.load(std::memory_order_relaxed);
    if (goal < 0 || GetPacketStore().Count() < goal) return true;
    goalReached.store(true);
    return false;
}
// The frame that fills the store, or reaches the count, wakes the main thread at once.
void WakeAtTheEnd() {
    const long goal = packetGoal.load(std::memory_order_relaxed);
    const int32_t stored = GetPacketStore().Count();
    if ((stored >= PacketStore::kLimit || (goal >= 0 && stored >= goal)) &&
        !endWoken.exchange(true)) {
        sem_post(&wake);
    }
}
// Without a status bar there is no count to show: the frames are stored without it.
void RawIpUpToGoal(const uint8_t* data, uint32_t length) {
    if (BelowGoal()) HandleArrival(data, length, 1, false);
    WakeAtTheEnd();
}
void EthernetUpToGoal(const uint8_t* data, uint32_t length) {
    if (BelowGoal()) HandleArrival(data, length, 2, false);
    WakeAtTheEnd();
}

// Keeps the capture-state text of pane 1, and the reason the capture loop gives in pane 0 when it
// withdraws the request (a Start that failed, a driver that lost its interface); that reason
// wakes the main thread at once.
class CaptureStatusView : public ArrivalView {
public:
    void AddPacketRow(uint32_t) override {}
    void SetStatusText(int pane, const char* text) override {
        const std::string shown = text ? text : "";
        std::lock_guard<std::mutex> lock(mutex_);
        if (pane == 1) state_ = shown;
        // A full store is an ordinary end, not a failure.
        if (pane == 0 && !shown.ends_with(kPacketLimitReached)) {
            reason_ = shown;
            sem_post(&wake);
        }
    }
    std::string State() {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_;
    }
    std::string Reason() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reason_;
    }

private:
    std::mutex mutex_;
    std::string state_;
    std::string reason_;
};

std::atomic<uint8_t>& RunningFlag(int method) {
    return method == 1 ? rawSocketRunning : method == 2 ? netMonRunning : pcapRunning;
}

// Sleeps until woken or for at most the given time.
void Sleep(std::chrono::milliseconds most) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    const auto nanoseconds = until.tv_nsec + std::chrono::nanoseconds(most).count();
    until.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
    until.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    while (sem_clockwait(&wake, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
    }
}

// The capture loop acts on a withdrawn request within its 500 ms pause; looking every 50 ms
// costs ten wake-ups at most.
template <class Check>
bool WaitUntil(Check check, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!check()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A status text without the two blanks the status bar puts before it.
std::string StatusText(const std::string& pane) {
    return pane.rfind("  ", 0) == 0 ? pane.substr(2) : pane;
}

// A closed terminal or SSH session (SIGHUP) ends the capture as Ctrl+C does: saved.
void InstallStopSignals() {
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The output is tried before a frame is taken: a capture is never made for a file that cannot
// be written.
bool OutputUsable(const std::string& path) {
    CaptureFormat format;
    std::string reason;
    if (!FormatOfExtension(path.c_str(), format)) {
        reason = "the extension names no capture format (.tdw, .pcap, .cap or .pcapng)";
    } else {
        OutputFile::CheckTarget(path.c_str(), reason);
    }
    if (reason.empty()) return true;
    std::fprintf(stderr, "tidewatch: cannot write %s: %s\n", path.c_str(), reason.c_str());
    return false;
}

// The stored text itself, empty when none is stored.
std::string SettingText(const char* name) {
    char text[4096];
    uint32_t size = sizeof text;
    return ReadRegString(name, text, &size) ? text : "";
}

// An interface named on the command line serves this run only, and so does a default a driver
// picked: the settings are put back as they were before the drivers store theirs.
struct InterfacesKept {
    IWSACap& rawSocket;
    IPCAP& pcap;
    INetMon& netMon;
    uint32_t address = rawSocket.CaptureAddress();
    std::string device = SettingText("CaptureDevice");
    std::string network = SettingText("NetMonMacAddr");
    ~InterfacesKept() {
        rawSocket.SetCaptureAddress(address);
        pcap.SetDeviceName(device.c_str());
        netMon.SetHardwareAddress(network.c_str());
    }
};

// Methods 2 and 3 without an adapter named or stored: what there is, and that one must be named.
int AdapterNeeded(int method, IPCAP& pcap, INetMon& netMon) {
    StringCollection adapters(false);
    if (method == 2) {
        netMon.ListNetworks(adapters);
    } else {
        pcap.ListAdapters(adapters);
    }
    std::fprintf(stderr, "Method %d can capture on:\n", method);
    for (int i = 0; i < adapters.Count(); ++i) std::fprintf(stderr, "  %s\n", adapters.Get(i));
    if (adapters.Count() == 0) std::fprintf(stderr, "  (nothing)\n");
    std::fprintf(stderr, "tidewatch: --device is needed: no adapter is stored for method %d\n",
                 method);
    return 2;
}

// The last line of a capture that could not start: the loop's reason, or the library's own
// when the loop knew none better.
void TellWhyNotStarted(CaptureStatusView& view, int method, IPCAP& pcap) {
    const std::string state = StatusText(view.State());
    if (!state.empty()) std::fprintf(stderr, "%s\n", state.c_str());
    std::string reason = StatusText(view.Reason());
    if (method == 3 && !pcap.OpenError().empty() &&
        reason.find(pcap.OpenError()) == std::string::npos) {
        reason = "Capture could not start: " + pcap.OpenError();
    }
    if (reason.empty()) reason = "Capture could not start";
    std::fprintf(stderr, "tidewatch: %s\n", reason.c_str());
}

}  // namespace

int RunCapture(const HeadlessOptions& options) {
    const int method = CaptureMethodOf(options);
    // Before anything is opened: a filter that does not compile is the caller's mistake.
    if (!TakeCaptureFilter(options, method)) return 2;
    if (!OutputUsable(options.write)) return 1;
    static CaptureStatusView view;
    // Told once, as the window does at start; the drivers then fail to start.
    if (IsUserAdministrator() == 0) std::fprintf(stderr, "%s\n", kNotAdministratorWarning);
    // Constructed in the window's order; each reads its stored interface.
    IPCAP pcap;
    INetMon netMon;
    IWSACap rawSocket;
    const InterfacesKept stored{rawSocket, pcap, netMon};

    if (options.addressGiven) rawSocket.SetCaptureAddress(options.address);
    // The setting itself, not the driver's choice: a default the driver picks is no adapter the
    // user chose.
    if (options.device.empty() && (method == 2 || method == 3) &&
        (method == 2 ? stored.network : stored.device).empty()) {
        return AdapterNeeded(method, pcap, netMon);
    }
    if (!options.device.empty()) {
        if (method == 2) {
            if (!netMon.ChooseNetworkByName(options.device.c_str())) {
                StringCollection networks(false);
                netMon.ListNetworks(networks);
                // Without the provider there is no network at all: the start then says why.
                if (networks.Count() > 0) {
                    std::fprintf(stderr,
                                 "tidewatch: the Network Monitor provider has no network %s\n",
                                 options.device.c_str());
                    return 1;
                }
            }
        } else {
            pcap.SetDeviceName(options.device.c_str());
        }
    }
    if (method == 1) rawSocket.Init(nullptr, nullptr, RawIpUpToGoal);
    if (method == 2) netMon.Init(nullptr, nullptr, EthernetUpToGoal);
    if (method == 3) {
        pcap.Init(nullptr, nullptr, EthernetUpToGoal);
        pcap.SetIpCallback(RawIpUpToGoal);
    }

    packetGoal.store(options.count);
    sem_init(&wake, 0, 0);
    DriverSet drivers(rawSocket, netMon, pcap);
    captureMethod.store(method);
    // Only the file sees these frames: no row fields to fill.
    GetPacketStore().rowsShown.store(false);
    SetArrivalView(&view);
    SetCaptureDrivers(&drivers);
    InstallStopSignals();
    StartCaptureThread();
    StartCapture();

    std::atomic<uint8_t>& running = RunningFlag(method);
    const auto started = Clock::now();
    bool everRan = false;
    for (;;) {
        if (!everRan && running.load() != 0) {
            everRan = true;
            // The state the window shows in its status bar, so a caller knows frames are taken.
            std::fprintf(stderr, "%s\n", StatusText(view.State()).c_str());
        }
        if (stopSignal.load() || goalReached.load() || !IsCapturing() || !view.Reason().empty()) {
            break;
        }
        // A full store, or the count asked for, ends the capture without waiting for a frame
        // beyond it (which may never come).
        const int32_t stored = GetPacketStore().Count();
        if (stored >= PacketStore::kLimit || (options.count >= 0 && stored >= options.count)) {
            break;
        }
        if (options.seconds >= 0 && everRan &&
            Clock::now() - started >= std::chrono::seconds(options.seconds)) {
            break;
        }
        // Woken early for a signal, a full store, the count or the loop's reason for ending; the
        // time limit is looked at every 100 ms.
        Sleep(std::chrono::milliseconds(100));
    }
    everRan |= running.load() != 0;
    StopCapture();
    // The loop stops the driver on its next pass.
    WaitUntil([&] { return running.load() == 0; }, std::chrono::seconds(10));
    SetCaptureDrivers(nullptr);

    uint64_t received = 0, dropped = 0;
    const bool counted = method == 1   ? rawSocket.KernelCounts(received, dropped)
                         : method == 2 ? netMon.KernelCounts(received, dropped)
                                       : pcap.KernelCounts(received, dropped);
    NetMonStatistics batches{};
    const bool batched = method == 2 && netMon.QueryStatistics(&batches) && batches.batches > 0;

    if (!everRan) {
        if (stopSignal.load() && view.Reason().empty()) {
            std::fprintf(stderr, "tidewatch: stopped before the capture started\n");
        } else {
            TellWhyNotStarted(view, method, pcap);
        }
        return 1;
    }
    // Ended by itself (the driver lost its interface): what it took is saved all the same.
    const std::string lost = StatusText(view.Reason());
    // The format the file name's extension names: .pcap/.cap libpcap, .pcapng, .tdw our own.
    if (!WriteCaptureFile(options.write.c_str())) {
        if (!lost.empty()) std::fprintf(stderr, "tidewatch: %s\n", lost.c_str());
        const std::string& why = OutputFile::LastFailure();
        std::fprintf(stderr, "tidewatch: cannot write %s: %s\n", options.write.c_str(),
                     why.empty() ? "the writer failed" : why.c_str());
        return 1;
    }
    std::printf("%d packets captured\n", GetPacketStore().Count());
    if (counted) {
        std::printf("%llu packets received by the kernel\n%llu packets dropped by the kernel\n",
                    static_cast<unsigned long long>(received),
                    static_cast<unsigned long long>(dropped));
    }
    if (batched) {
        std::printf("%llu batches from the provider, %.1f frames each on average, %u at most\n",
                    static_cast<unsigned long long>(batches.batches),
                    static_cast<double>(batches.delivered) / static_cast<double>(batches.batches),
                    batches.largestBatch);
    }
    std::fflush(stdout);
    if (!lost.empty()) {
        std::fprintf(stderr, "tidewatch: %s\n", lost.c_str());
        return 1;
    }
    return 0;
}
