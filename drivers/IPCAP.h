// Capture method 3: frames from one adapter through the packet-capture library (libpcap), loaded
// at run time, received on a thread of the driver's own. Ethernet adapters hand their frames to
// the callback; cooked, raw-IP and loopback adapters hand their IP datagrams to the IP callback;
// an adapter of any other link type is refused. Also the driver through which stored packets are
// sent back onto the wire. A process that holds the capture right runs the library itself; any
// other has the capture helper run it and stream the frames back (CaptureRights::PcapStream),
// with the same link types, kernel times, counts and reasons, and sends on a socket the helper
// opens.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "drivers/CaptureRightsClient.h"
#include "drivers/ICapture.h"
#include "framework/Tick.h"
#include "framework/str.h"

class StringCollection;
struct pcap;
struct pcap_if;
struct pcap_pkthdr;
struct pcap_stat;
struct bpf_program;

class IPCAP : public ICapture {
public:
    // Reads "CaptureDevice", loads the library and binds its entry points. Without a stored
    // adapter the first one that is up, not loopback and delivers Ethernet is chosen.
    IPCAP();
    // Stops, unloads the library and writes "CaptureDevice".
    ~IPCAP();
    IPCAP(const IPCAP&) = delete;
    IPCAP& operator=(const IPCAP&) = delete;

    // True only when the seven required entry points are there and an adapter is named.
    bool Init(void* instance, QWidget* parentWindow, CaptureCallback callback) override;
    // Opens the adapter when needed and starts the receive thread; true while running. A failure,
    // or the capture ending by itself later, leaves its reason for TakeFailure.
    bool Start();
    // Ends the receive thread, then closes the adapter; always true.
    bool Stop();
    // "Select Network Adapter"; true on OK.
    bool SelectInterface();
    // One text per adapter, "name (description)" or "name (no description)".
    void ListAdapters(StringCollection& out);
    // The adapter name of such a text: what comes before the " (" that opens its final
    // parenthesised group ("nfqueue" of "nfqueue (Linux netfilter queue (NFQUEUE) interface)"),
    // or before its last " (" when the parentheses do not pair up.
    static std::string AdapterNameOf(const char* adapterText);
    void SetDeviceName(const char* name);
    const char* DeviceName() const { return deviceName_.c_str(); }
    // Sends one frame on the open adapter; true when the library reports it sent.
    bool SendPacket(const uint8_t* data, uint32_t length);

    // What the kernel counted for the last capture period (received, dropped); false when the
    // library could not say.
    bool KernelCounts(uint64_t& received, uint64_t& dropped);
    // The library's reason for the last failed open; empty when there was none.
    const std::string& OpenError() const { return openError_; }

    // The library's link type of an adapter, as far as it can be told without opening it: -1
    // when it cannot. Used where adapters are listed; Start asks the open adapter itself.
    static int AdapterLinkType(const char* name);
    // "link type 239, not decoded" for an adapter whose frames Tidewatch cannot decode; empty for
    // the others and for those whose link type cannot be told.
    static std::string LinkTypeNote(const char* name);

    // The adapter dialog, installed by the user interface (none: SelectInterface is false).
    using AdapterDialog = int (*)(void* instance, QWidget* parent, IPCAP* driver);
    static void SetAdapterDialog(AdapterDialog dialog);

    // Loads the library by the first of those names that loads (null: none does).
    static void* OpenLibrary();
    // The file names tried, in order, when the library is loaded; tests name a missing one.
    static void SetLibraryNamesForTesting(const char* const* names);

private:
    using Handler = void (*)(uint8_t*, const pcap_pkthdr*, const uint8_t*);
    static void OnPacket(uint8_t* user, const pcap_pkthdr* header, const uint8_t* data);
    static void OnStreamed(void* user, const CaptureRights::PcapStream::Frame& frame,
                           const uint8_t* data);
    // Hands one frame, timed already, to the callback its link type calls for.
    void Hand(const uint8_t* data, uint32_t length);
    void CaptureThread();
    // The receive thread of a capture the helper runs; returns when it stops or the stream ends.
    void StreamThread();
    // Opens adapter_ through the helper; the library's link type, or -1 with openError_ set.
    int OpenStream();
    // Waits up to the wake interval for frames on the descriptor and delivers them; false when
    // the capture has ended by itself.
    bool ReceiveReady(pcap* handle, int descriptor);
    // True, with the reason recorded, when the interface the adapter was opened on is gone.
    bool InterfaceLost();
    // Opens the adapter named by adapter_: every handle the driver uses comes from here.
    pcap* Open();
    // The open handle with the capture filter set in the kernel; null, with openError_ set and
    // the handle closed, when the library cannot set it.
    pcap* Filtered(pcap* handle);
    void TakeCounts(pcap* handle);  // under handleLock_
    // The first adapter that is up, not loopback and delivers Ethernet; empty when there is none.
    std::string FirstEthernetAdapter();

    std::atomic<bool> running_{false};
    std::atomic<pcap*> handle_{nullptr};
    str deviceName_;
    void* library_ = nullptr;

    // The seven entry points the driver requires.
    int (*nextEx_)(pcap*, pcap_pkthdr**, const uint8_t**) = nullptr;
    pcap* (*openLive_)(const char*, int, int, int, char*) = nullptr;
    void (*close_)(pcap*) = nullptr;
    void (*freeAllDevs_)(pcap_if*) = nullptr;
    int (*findAllDevs_)(pcap_if**, char*) = nullptr;
    int (*sendPacket_)(pcap*, const uint8_t*, int) = nullptr;
    int (*dispatch_)(pcap*, int, Handler, uint8_t*) = nullptr;
    // Used when present: a larger kernel buffer than pcap_open_live gives, a prompt end of the
    // receive thread, and the kernel's counts.
    pcap* (*create_)(const char*, char*) = nullptr;
    int (*setSnaplen_)(pcap*, int) = nullptr;
    int (*setPromisc_)(pcap*, int) = nullptr;
    int (*setTimeout_)(pcap*, int) = nullptr;
    int (*setBufferSize_)(pcap*, int) = nullptr;
    int (*activate_)(pcap*) = nullptr;
    char* (*getErr_)(pcap*) = nullptr;
    void (*breakLoop_)(pcap*) = nullptr;
    int (*stats_)(pcap*, pcap_stat*) = nullptr;
    int (*datalink_)(pcap*) = nullptr;
    int (*setNonblock_)(pcap*, int, char*) = nullptr;
    int (*selectableFd_)(pcap*) = nullptr;
    int (*compile_)(pcap*, bpf_program*, const char*, int, uint32_t) = nullptr;
    int (*setFilter_)(pcap*, bpf_program*) = nullptr;
    void (*freeCode_)(bpf_program*) = nullptr;

    // Set by Start for the receive thread: the adapter's link type (on the files' numbering), the
    // name and index of the interface it was opened on (index 0 for the library's pseudo
    // devices), and the clock conversion of the current block of frames.
    uint32_t linkType_ = 0;
    std::string adapter_;
    unsigned interfaceIndex_ = 0;
    RealtimeToTick kernelTime_;

    std::thread thread_;
    // Held to close the handle and to send or read counts on it: a send from the interface
    // thread never uses a handle that the capture thread is closing.
    std::mutex handleLock_;
    // Without the right: the helper's stream (opened and closed under handleLock_ while no
    // receive thread runs), and the socket replay sends on.
    CaptureRights::PcapStream stream_;
    int sendSocket_ = -1;
    std::string openError_;
    uint64_t received_ = 0, dropped_ = 0;
    bool counted_ = false;
};
