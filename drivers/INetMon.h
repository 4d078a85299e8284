// Capture method 2: whole Ethernet frames through the Network Monitor packet provider, a library
// loaded at run time (libnpptools.so, beside the executable or in the installed library folder).
// The provider delivers frames in batches on a thread of its own; the chosen network is
// remembered across runs by its adapter's hardware address ("NetMonMacAddr").
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "drivers/ICapture.h"
#include "drivers/NetMonRecords.h"
#include "framework/str.h"

class StringCollection;

class INetMon : public ICapture {
public:
    // Reads "NetMonMacAddr"; when none is stored, the first interface that is up, not loopback
    // and delivers Ethernet is the network.
    INetMon();
    ~INetMon();
    INetMon(const INetMon&) = delete;
    INetMon& operator=(const INetMon&) = delete;

    // Finds the network whose adapter address is the stored one and creates its capture object.
    bool Init(void* instance, QWidget* parentWindow, CaptureCallback callback) override;
    // Resumes a paused capture object, or connects and starts it. A failure leaves its reason
    // for the capture loop (TakeFailure).
    bool Start();
    // Pauses, stops and disconnects the capture object; always true.
    bool Stop();
    // The provider's network dialog; a new capture object for the chosen network.
    bool SelectInterface();
    // Transmits the bytes on the chosen network; true when the provider accepted them.
    bool SendPacket(const uint8_t* bytes, uint32_t length);
    // The frames callback: hands every usable frame of the batch to the arrival callback, each
    // timed when the kernel received it. When the provider says the capture ended by itself, the
    // reason is kept for the capture loop (TakeFailure).
    static uint32_t OnFrames(NetMonFramesRecord record);

    // The provider's counts for the current capture object (kernel received and dropped, batches
    // and frames delivered); false when there is no capture object.
    bool QueryStatistics(NetMonStatistics* out);
    bool KernelCounts(uint64_t& received, uint64_t& dropped);

    // For the command line: the networks as "name (address)"; choosing one by its interface
    // name instead of the dialog (before Init); the address text, to put the stored one back.
    void ListNetworks(StringCollection& out);
    bool ChooseNetworkByName(const char* name);
    const char* HardwareAddress() const { return hardwareAddress.c_str(); }
    void SetHardwareAddress(const char* text) { hardwareAddress = text ? text : ""; }

protected:
    // Loads the provider from this file instead of looking for it beside the executable.
    explicit INetMon(const char* libraryPath);

private:
    void Construct(const char* libraryPath);
    bool PauseIfRunning();
    // The address text of the default network; empty when there is none.
    std::string DefaultNetwork();
    // One line for the log and the status bar: why the capture ended by itself.
    std::string EndedReason(uint32_t status);
    // "interface NAME" of the chosen network; "the interface" when it cannot be told.
    std::string NetworkName();
    // The cause a status names: the system's text for a system error, else its number.
    static std::string StatusText(uint32_t status);
    // Remembers the low 16 bits of a capture-object status; true when they are 0.
    bool Ok(uint32_t status);
    bool HaveEntryPoints() const;
    // Remembers the network and creates its capture object; reports a failure.
    bool CreateCaptureObject(NetMonBlob network);
    // Calls visit(blob, info, address text) for each network the provider lists; false when
    // there is no table.
    template <class Visit>
    bool ForEachNetwork(Visit visit);

    str hardwareAddress;
    // Read by the capture thread's Start and Stop, replaced by the interface thread's
    // SelectInterface after the capture has been withdrawn.
    std::atomic<NetMonBlob> networkBlob{nullptr};
    NetMonBlob errorBlob = nullptr;
    std::atomic<IRTC*> capture{nullptr};
    std::atomic<uint16_t> lastStatus{0};
    void* library = nullptr;
    CreateNPPInterfaceProc createNPPInterface = nullptr;
    CreateBlobProc createBlob = nullptr;
    DestroyBlobProc destroyBlob = nullptr;
    GetNPPBlobFromUIProc getNPPBlobFromUI = nullptr;
    GetNPPBlobTableProc getNPPBlobTable = nullptr;
    GetNetworkInfoFromBlobProc getNetworkInfoFromBlob = nullptr;
    GetStringFromBlobProc getStringFromBlob = nullptr;
};
