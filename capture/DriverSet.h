// The three concrete drivers as the capture loop sees them. Their owner (the main window, the
// headless capture mode) holds the drivers and installs one of these with SetCaptureDrivers.
#pragma once

#include "capture/CaptureLoop.h"
#include "drivers/INetMon.h"
#include "drivers/IPCAP.h"
#include "drivers/IWSACap.h"

class DriverSet : public CaptureDrivers {
public:
    DriverSet(IWSACap& rawSocket, INetMon& netMon, IPCAP& pcap)
        : rawSocket_(rawSocket), netMon_(netMon), pcap_(pcap) {}
    virtual ~DriverSet() = default;

    bool StartRawSocket() override { return rawSocket_.Start(); }
    void StopRawSocket() override { rawSocket_.Stop(); }
    bool ReceiveRawSocket() override { return rawSocket_.ReceiveNext(); }
    bool StartNetMon() override { return netMon_.Start(); }
    void StopNetMon() override { netMon_.Stop(); }
    bool StartPcap() override { return pcap_.Start(); }
    void StopPcap() override { pcap_.Stop(); }
    bool TakeFailure(int method, std::string& reason) override {
        if (method == 1) return rawSocket_.TakeFailure(reason);
        if (method == 2) return netMon_.TakeFailure(reason);
        return pcap_.TakeFailure(reason);
    }

private:
    IWSACap& rawSocket_;
    INetMon& netMon_;
    IPCAP& pcap_;
};
