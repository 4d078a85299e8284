// What every capture driver needs from its owner: the window that parents its dialogs, the module
// it loads dialog resources from (unused on this platform, kept for the drivers' shape) and the
// arrival callbacks it hands frames to. Drivers know nothing of the packet store: the owner binds
// the callbacks.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class QWidget;

// Called with one frame; the bytes are valid only during the call. A driver that has the
// kernel's receive time of the frame sets it with ArrivalTick::Set before the call.
using CaptureCallback = void (*)(const uint8_t* data, uint32_t length);

class ICapture {
public:
    // Stores the three values; each driver calls this first, then checks that it can work at all.
    virtual bool Init(void* instance, QWidget* parentWindow, CaptureCallback callback) {
        this->instance = instance;
        this->parentWindow = parentWindow;
        this->callback = callback;
        return true;
    }
    // Where a driver whose adapter delivers IP datagrams without an Ethernet header (a cooked,
    // raw-IP or loopback link) hands them, already stripped of their link header.
    void SetIpCallback(CaptureCallback ipCallback) { this->ipCallback = ipCallback; }

    // Why the last Start failed, or why a running capture ended by itself (its interface deleted,
    // its address removed), in one line; false when nothing is to be told. Taken once: the
    // capture loop asks after a failed Start and on every pass while the driver runs.
    bool TakeFailure(std::string& reason) {
        if (!failed_.load(std::memory_order_acquire)) return false;
        std::lock_guard<std::mutex> lock(failureLock_);
        reason = std::move(failure_);
        failure_.clear();
        failed_.store(false, std::memory_order_release);
        return true;
    }

protected:
    ICapture() = default;
    // Drivers are never deleted through this base.
    ~ICapture() = default;

    // Any of the driver's threads records the reason; the first one since the last take stands.
    void SetFailure(std::string reason) {
        std::lock_guard<std::mutex> lock(failureLock_);
        if (failed_.load(std::memory_order_relaxed)) return;
        failure_ = std::move(reason);
        failed_.store(true, std::memory_order_release);
    }
    void ClearFailure() {
        std::string ignored;
        TakeFailure(ignored);
    }

    QWidget* parentWindow = nullptr;
    void* instance;
    CaptureCallback callback = nullptr;
    CaptureCallback ipCallback = nullptr;

private:
    std::atomic<bool> failed_{false};
    std::mutex failureLock_;
    std::string failure_;
};
