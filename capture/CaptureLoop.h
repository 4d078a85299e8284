// Capture control: the capture thread that brings the driver of the current method into line
// with the capture-wanted flag, the per-method running flags, and the start-up check of the
// capture rights.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// 1 raw socket, 2 Network Monitor provider, 3 packet-capture library; 1 until the settings are
// read. Written by the interface thread only after it has withdrawn the capture request.
extern std::atomic<int32_t> captureMethod;

// 1 while the loop has started that method's driver and not yet stopped it. Written by the
// capture thread only.
extern std::atomic<uint8_t> rawSocketRunning;
extern std::atomic<uint8_t> netMonRunning;
extern std::atomic<uint8_t> pcapRunning;

// The drivers the loop starts and stops, supplied by their owner (the main window, the headless
// capture mode, or a test's fakes). Every call comes from the capture thread.
// A capture state text ("Capturing (WinPCap)") as pane 1 shows it: with the capture filter after
// it while one is set ("Capturing (WinPCap) \u00b7 udp port 53").
std::string CaptureStateText(const std::string& state);

class CaptureDrivers {
public:
    virtual bool StartRawSocket() = 0;
    virtual void StopRawSocket() = 0;
    // Waits (a bounded time) for one datagram and hands it to the arrival callback.
    virtual bool ReceiveRawSocket() = 0;
    virtual bool StartNetMon() = 0;
    virtual void StopNetMon() = 0;
    virtual bool StartPcap() = 0;
    virtual void StopPcap() = 0;
    // Why the method's driver failed to start or ended by itself (see ICapture::TakeFailure).
    virtual bool TakeFailure(int method, std::string& reason) {
        (void)method;
        (void)reason;
        return false;
    }

protected:
    ~CaptureDrivers() = default;
};

// Installs the owner's drivers (null: none; a start then fails). Returns once no pass uses the
// previous drivers any more, so their owner may close and destroy them; the loop then counts
// every method as not running.
void SetCaptureDrivers(CaptureDrivers* drivers);

// Before the interface thread touches the store, the frame pool or a driver it withdrew the
// request from: the capture thread confirms, after a pass that saw the request withdrawn, that no
// driver runs and so no frame is being stored. RequestStopConfirmation wakes the loop and returns
// a ticket (0 when no drivers are installed: nothing can deliver); StopConfirmed tells whether a
// pass has confirmed it. The interface thread never blocks on the capture thread.
uint64_t RequestStopConfirmation();
bool StopConfirmed(uint64_t ticket);
// Asks for the confirmation and waits for it at most `limit` milliseconds, calling wait(ms) for
// each short look in between (the window keeps its event loop running there). False when the
// capture thread did not confirm in time; then nothing may touch the store.
inline constexpr uint32_t kStopConfirmationLimit = 2000;
bool AwaitCaptureStop(const std::function<void(uint32_t milliseconds)>& wait,
                      uint32_t limit = kStopConfirmationLimit);
// What a command that gave up waiting says, after its own name.
inline constexpr const char* kCaptureDidNotStop =
    "the capture did not stop within 2 seconds; nothing was changed";

// The capture thread's procedure: passes for ever.
[[noreturn]] void CaptureLoop();
// Allocates the store, resets the filters and starts the capture thread, once for the life of
// the process; later calls do nothing.
void StartCaptureThread();

// Whether StartCaptureThread has run in this process.
bool CaptureThreadStarted();

// One pass of the loop for the current method (what CaptureLoop repeats).
void CaptureLoopPass();
// One pass for each method; the result is the method's running flag after the pass.
bool RunRawSocketStep();
bool RunNetMonStep();
bool RunPcapStep();

// The pause of an idle pass, 500 ms; tests shorten it.
void SetCapturePause(uint32_t milliseconds);

// 1 when the process may capture: it holds CAP_NET_RAW, or the capture helper can be run by this
// user and holds cap_net_raw; 0 when not; -1 when the check cannot be made.
int IsUserAdministrator();

// Shown once at start when IsUserAdministrator gives 0.
inline constexpr const char* kNotAdministratorWarning =
    "You are not currently running as a local administrator on this machine.  Tidewatch "
    "requires administrative privileges in order to capture network traffic.  Please restart "
    "and try again.";
