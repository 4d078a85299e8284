// What every capture driver needs from its owner: the window that parents its dialogs, the module
// it loads dialog resources from (unused on this platform, kept for the drivers' shape) and the
// arrival callback it hands frames to. Drivers know nothing of the packet store: the owner binds
// the callback.
#pragma once

#include <cstdint>

class QWidget;

// Called with one frame; the bytes are valid only during the call.
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

protected:
    ICapture() = default;
    // Drivers are never deleted through this base.
    ~ICapture() = default;

    QWidget* parentWindow = nullptr;
    void* instance;
    CaptureCallback callback = nullptr;
};
