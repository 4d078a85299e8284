// Capture method 1: every IPv4 datagram passing one local interface, in either direction, whole
// and without a link header. A packet socket bound to the interface that holds `captureAddress`
// stands in for a raw socket in receive-all mode.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "drivers/ICapture.h"

class StringCollection;

class IWSACap : public ICapture {
public:
    // Chooses the default address and reads "CaptureAddress".
    IWSACap();
    // Closes the socket and writes "CaptureAddress".
    ~IWSACap();
    IWSACap(const IWSACap&) = delete;
    IWSACap& operator=(const IWSACap&) = delete;

    bool Init(void* instance, QWidget* parentWindow, CaptureCallback callback) override;
    // Opens, binds and switches the socket to receive everything; true when it is ready (also
    // when it already was).
    bool Start();
    // Waits for one datagram, at most a quarter second, and hands it to the callback. False when
    // nothing was received (no socket, a failed receive, or the wait ran out).
    bool ReceiveNext();
    // Closes the socket if one is open; always true.
    bool Stop();
    // Closes the socket and asks for the address in "Capture IP Address"; true on OK.
    bool SelectInterface();

    // Host byte order, first octet most significant.
    uint32_t CaptureAddress() const { return captureAddress_.load(); }
    void SetCaptureAddress(uint32_t address) { captureAddress_.store(address); }

    // What the kernel counted for the socket since the last Start: datagrams received and
    // dropped for want of room. False when there was no capture yet.
    bool KernelCounts(uint64_t& received, uint64_t& dropped);

    // The local IPv4 addresses with their interface names, "A.B.C.D (name)".
    static void ListAddresses(StringCollection& out);

    // The address dialog, installed by the user interface (none: SelectInterface is false).
    using AddressDialog = int (*)(void* instance, QWidget* parent, uint32_t* address);
    static void SetAddressDialog(AddressDialog dialog);

    // What the socket layer's start-up gave; construction counts as failed below version 2.
    // Tests set it to reach the failure paths.
    void SetLibraryVersionForTesting(uint16_t version) { version_ = version; }

private:
    void CloseSocket();
    void TakeCounts(int fd);

    std::atomic<uint32_t> captureAddress_{0};
    uint16_t version_ = 0;  // the socket layer's version, 0x0202 once started
    uint32_t bufferLength_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    std::atomic<int> socket_{-1};
    std::atomic<int> receiving_{0};  // 1 while the capture thread is inside ReceiveNext
    int wake_ = -1;                  // an eventfd that ends a wait when the socket closes
    std::atomic<uint64_t> received_{0}, dropped_{0};
    std::atomic<bool> counted_{false};
};
