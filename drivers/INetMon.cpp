#include "drivers/INetMon.h"

#include "framework/ErrorLog.h"

INetMon::INetMon() = default;
INetMon::~INetMon() = default;

bool INetMon::Init(void* instance, QWidget* parentWindow, CaptureCallback callback) {
    ICapture::Init(instance, parentWindow, callback);
    Report(nullptr, 0, "INetMon - Netmon not installed", 4);
    return false;
}

bool INetMon::Start() { return false; }
bool INetMon::Stop() { return true; }
bool INetMon::SelectInterface() { return false; }
bool INetMon::SendPacket(const uint8_t*, uint32_t) { return false; }
