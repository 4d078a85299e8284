// Capture method 2: the Network Monitor packet provider. Until the provider library is built
// the driver behaves as on a machine without it: it reports so and never starts.
#pragma once

#include <cstdint>

#include "drivers/ICapture.h"

class INetMon : public ICapture {
public:
    INetMon();
    ~INetMon();

    // Reports "INetMon - Netmon not installed" and fails.
    bool Init(void* instance, QWidget* parentWindow, CaptureCallback callback) override;
    bool Start();
    bool Stop();
    bool SelectInterface();
    bool SendPacket(const uint8_t* data, uint32_t length);
};
