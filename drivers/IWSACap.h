// Capture method 1: every IPv4 datagram passing one local interface, in either direction, whole
// and without a link header, each once. A cooked packet socket bound to the interface that holds
// `captureAddress` stands in for a raw socket in receive-all mode; the kernel keeps only IPv4 for
// it and writes the datagrams into a memory-mapped receive ring, which the capture thread walks a
// whole block at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "drivers/ICapture.h"
#include "drivers/PacketRing.h"

class StringCollection;

class IWSACap : public ICapture {
public:
    // Chooses the default address (DefaultAddress) and reads "CaptureAddress".
    IWSACap();
    // Closes the socket and writes "CaptureAddress".
    ~IWSACap();
    IWSACap(const IWSACap&) = delete;
    IWSACap& operator=(const IWSACap&) = delete;

    bool Init(void* instance, QWidget* parentWindow, CaptureCallback callback) override;
    // Opens, binds and switches the socket to receive everything; true when it is ready (also
    // when it already was).
    bool Start();
    // Waits for the next block of the ring, at most a quarter second, and hands its datagrams to
    // the callback, each timed when the kernel received it. False when nothing was received (no
    // socket, or the wait ran out). A deleted interface or a removed address is found here: the
    // reason is kept for the capture loop (TakeFailure) and nothing more is delivered.
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

    // The default capture address (host byte order): the first of the host name's addresses that
    // a local interface holds and that is not loopback; else the first address, not loopback, of
    // an interface that is up; else 127.0.0.1.
    struct LocalAddress {
        uint32_t address;
        unsigned flags;  // IFF_* of the interface that holds it
    };
    static uint32_t DefaultAddress(const std::vector<uint32_t>& hostAddresses,
                                   const std::vector<LocalAddress>& local);

    // The address dialog, installed by the user interface (none: SelectInterface is false).
    using AddressDialog = int (*)(void* instance, QWidget* parent, uint32_t* address);
    static void SetAddressDialog(AddressDialog dialog);

    // What the socket layer's start-up gave; construction counts as failed below version 2.
    // Tests set it to reach the failure paths.
    void SetLibraryVersionForTesting(uint16_t version) { version_ = version; }

private:
    void CloseSocket();
    void TakeCounts(int fd);
    // Hands the datagrams of one block to the callback.
    void DeliverBlock(uint8_t* block, int fd);
    // Why the capture cannot go on (its interface deleted, its address removed); empty while
    // both are there.
    std::string WhyGone(int fd);

    std::atomic<uint32_t> captureAddress_{0};
    uint16_t version_ = 0;  // the socket layer's version, 0x0202 once started
    // Set by Start before the socket is published, used by the capture thread while it is.
    PacketRing ring_;
    int ifindex_ = 0;
    bool loopback_ = false;
    bool ended_ = false;  // the interface or the address went away
    std::string interfaceName_;
    std::chrono::steady_clock::time_point lastCheck_{};
    std::atomic<int> socket_{-1};
    std::atomic<int> receiving_{0};  // 1 while the capture thread is inside ReceiveNext
    int wake_ = -1;                  // an eventfd that ends a wait when the socket closes
    std::atomic<uint64_t> received_{0}, dropped_{0};
    std::atomic<bool> counted_{false};
};
