#include "drivers/IPCAP.h"

#include <dlfcn.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "decode/LinkTypes.h"
#include "drivers/CaptureFilter.h"
#include "drivers/PacketRing.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"
#include "framework/Tick.h"

namespace {

constexpr int kSnapshotLength = 65536;
// The library hands frames over a block at a time, a block once it is full or this time has
// passed: a quiet link's frames reach the list within it. Per-frame delivery (immediate mode)
// costs twice the processor time and drops frames at top speed.
constexpr int kReadTimeoutMs = 50;
// The longest the receive thread waits for frames before it looks at the running flag again, so
// that no adapter's receive holds up a stop: nflog and nfqueue ignore the read time-out.
constexpr int kWakeMs = 100;
// The kernel ring: about 40 ms of frames at line rate, time enough for the arrival handler to
// catch up after a pause. The kernel writes the ring's blocks in turn, and a small ring stays in
// the cache between rounds: with 16 MiB every frame came from memory and a top-speed burst cost
// half as much processor time again, with no fewer drops (none either way).
constexpr int kBufferBytes = 4 << 20;

constexpr const char* kDefaultLibraryNames[] = {"libpcap.so.1", "libpcap.so.0.8", "libpcap.so",
                                                nullptr};
std::atomic<const char* const*> libraryNames{kDefaultLibraryNames};
std::atomic<IPCAP::AdapterDialog> adapterDialog{nullptr};

template <class F>
void Bind(void* library, F& entry, const char* name) {
    entry = reinterpret_cast<F>(dlsym(library, name));
}

// The link types the library gives the network interfaces of each hardware type whose frames it
// does not take as Ethernet, raw IP or cooked; any type not named here is captured cooked.
struct HardwareLinkType {
    int hardware;
    int linkType;
};
constexpr HardwareLinkType kHardwareLinkTypes[] = {
    {ARPHRD_ETHER, DLT_EN10MB},        {ARPHRD_LOOPBACK, DLT_EN10MB},
    {ARPHRD_METRICOM, DLT_EN10MB},     {ARPHRD_NONE, DLT_RAW},
    {ARPHRD_TUNNEL, DLT_RAW},          {ARPHRD_SIT, DLT_RAW},
    {ARPHRD_SLIP, DLT_RAW},            {ARPHRD_CSLIP, DLT_RAW},
    {ARPHRD_SLIP6, DLT_RAW},           {ARPHRD_CSLIP6, DLT_RAW},
    {ARPHRD_ADAPT, DLT_RAW},           {ARPHRD_RAWHDLC, DLT_RAW},
    {ARPHRD_DLCI, DLT_RAW},            {ARPHRD_EETHER, DLT_EN3MB},
    {ARPHRD_AX25, DLT_AX25_KISS},      {ARPHRD_PRONET, DLT_PRONET},
    {ARPHRD_CHAOS, DLT_CHAOS},         {ARPHRD_CAN, DLT_CAN_SOCKETCAN},
    {ARPHRD_IEEE802, DLT_IEEE802},     {ARPHRD_IEEE802_TR, DLT_IEEE802},
    {ARPHRD_ARCNET, DLT_ARCNET_LINUX}, {ARPHRD_FDDI, DLT_FDDI},
    {ARPHRD_IEEE80211, DLT_IEEE802_11}, {ARPHRD_IEEE80211_PRISM, DLT_PRISM_HEADER},
    {ARPHRD_IEEE80211_RADIOTAP, DLT_IEEE802_11_RADIO},
    {ARPHRD_CISCO, DLT_C_HDLC},        {ARPHRD_FRAD, DLT_FRELAY},
    {ARPHRD_LOCALTLK, DLT_LTALK},      {18 /* IP over FC */, DLT_IP_OVER_FC},
    {ARPHRD_FCPP, DLT_FC_2},           {ARPHRD_FCAL, DLT_FC_2},
    {ARPHRD_FCPL, DLT_FC_2},           {ARPHRD_FCFABRIC, DLT_FC_2},
    {ARPHRD_IRDA, DLT_LINUX_IRDA},     {8445 /* LAPD */, DLT_LINUX_LAPD},
    {ARPHRD_IEEE802154, DLT_IEEE802_15_4_NOFCS},
    {824 /* netlink monitor */, DLT_NETLINK}, {826 /* vsock monitor */, DLT_VSOCK},
};

// The library's devices that are no network interfaces, by name (or name prefix).
struct PseudoDevice {
    const char* name;
    bool prefix;
    int linkType;
};
constexpr PseudoDevice kPseudoDevices[] = {
    {"any", false, DLT_LINUX_SLL},
    {"nflog", false, DLT_NFLOG},
    {"nfqueue", false, DLT_IPV4},
    {"dbus-", true, DLT_DBUS},
    {"bluetooth-monitor", false, DLT_BLUETOOTH_LINUX_MONITOR},
    {"bluetooth", true, DLT_BLUETOOTH_HCI_H4_WITH_PHDR},
    {"usbmon", true, DLT_USB_LINUX_MMAPPED},
};

// The hardware type of a network interface; -1 when there is no interface of that name.
int HardwareType(const char* name) {
    if (std::strlen(name) >= IFNAMSIZ) return -1;
    // Any socket asks the interfaces of this process's namespace; no rights needed.
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ifreq request{};
    std::memcpy(request.ifr_name, name, std::strlen(name));
    const bool found = ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    close(fd);
    return found ? request.ifr_hwaddr.sa_family : -1;
}

}  // namespace

void IPCAP::SetAdapterDialog(AdapterDialog dialog) { adapterDialog.store(dialog); }

void IPCAP::SetLibraryNamesForTesting(const char* const* names) {
    libraryNames.store(names ? names : kDefaultLibraryNames);
}

void* IPCAP::OpenLibrary() {
    for (const char* const* name = libraryNames.load(); *name; ++name) {
        if (void* library = dlopen(*name, RTLD_NOW | RTLD_LOCAL)) return library;
    }
    return nullptr;
}

IPCAP::IPCAP() {
    AppRegKey key;
    const bool stored = key.GetString("CaptureDevice", deviceName_, "");
    library_ = OpenLibrary();
    if (!library_) {
        Report(nullptr, 0, "IPCAP - WinPCap not installed", 4);
        return;
    }
    Bind(library_, nextEx_, "pcap_next_ex");
    Bind(library_, openLive_, "pcap_open_live");
    Bind(library_, close_, "pcap_close");
    Bind(library_, freeAllDevs_, "pcap_freealldevs");
    Bind(library_, findAllDevs_, "pcap_findalldevs");
    Bind(library_, sendPacket_, "pcap_sendpacket");
    Bind(library_, dispatch_, "pcap_dispatch");
    Bind(library_, create_, "pcap_create");
    Bind(library_, setSnaplen_, "pcap_set_snaplen");
    Bind(library_, setPromisc_, "pcap_set_promisc");
    Bind(library_, setTimeout_, "pcap_set_timeout");
    Bind(library_, setBufferSize_, "pcap_set_buffer_size");
    Bind(library_, activate_, "pcap_activate");
    Bind(library_, getErr_, "pcap_geterr");
    Bind(library_, breakLoop_, "pcap_breakloop");
    Bind(library_, stats_, "pcap_stats");
    Bind(library_, datalink_, "pcap_datalink");
    Bind(library_, setNonblock_, "pcap_setnonblock");
    Bind(library_, selectableFd_, "pcap_get_selectable_fd");
    Bind(library_, compile_, "pcap_compile");
    Bind(library_, setFilter_, "pcap_setfilter");
    Bind(library_, freeCode_, "pcap_freecode");
    if (!stored) deviceName_ = FirstEthernetAdapter().c_str();
}

IPCAP::~IPCAP() {
    Stop();
    // The library stays loaded: unloading it and the dozen libraries it brings costs more than
    // the end of a capture should, and the next driver would only load them again.
    WriteRegString("CaptureDevice", deviceName_.c_str());
}

bool IPCAP::Init(void* instance, QWidget* parentWindow, CaptureCallback callback) {
    ICapture::Init(instance, parentWindow, callback);
    if (!nextEx_ || !openLive_ || !close_ || !freeAllDevs_ || !findAllDevs_ || !sendPacket_ ||
        !dispatch_) {
        Report(nullptr, 0, "IPCAP - WinPCap not correctly installed", 4);
        return false;
    }
    return !deviceName_.Empty();
}

pcap* IPCAP::Open() {
    char error[PCAP_ERRBUF_SIZE] = {};
    openError_.clear();
    if (create_ && setSnaplen_ && setPromisc_ && setTimeout_ && setBufferSize_ && activate_) {
        pcap* handle = create_(adapter_.c_str(), error);
        if (!handle) {
            openError_ = error;
            return nullptr;
        }
        setSnaplen_(handle, kSnapshotLength);
        setPromisc_(handle, 1);
        setTimeout_(handle, kReadTimeoutMs);
        setBufferSize_(handle, kBufferBytes);
        const int status = activate_(handle);
        if (status < 0) {
            openError_ = getErr_ ? getErr_(handle) : "cannot activate the adapter";
            close_(handle);
            return nullptr;
        }
        return Filtered(handle);
    }
    pcap* handle = openLive_(adapter_.c_str(), kSnapshotLength, 1, kReadTimeoutMs, error);
    if (!handle) openError_ = error;
    return handle ? Filtered(handle) : nullptr;
}

pcap* IPCAP::Filtered(pcap* handle) {
    const std::string expression = CaptureFilter::Expression();
    if (expression.empty()) return handle;
    // Compiled for the adapter's own link type; the library keeps out what its ring held from
    // before the filter.
    bpf_program program{};
    bool set = false;
    if (compile_ && setFilter_ && freeCode_ &&
        compile_(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0) {
        set = setFilter_(handle, &program) == 0;
        freeCode_(&program);
    }
    if (set) return handle;
    openError_ = "capture filter: " + std::string(compile_ && getErr_ ? getErr_(handle)
                                                                   : "libpcap cannot compile");
    close_(handle);
    return nullptr;
}

int IPCAP::OpenStream() {
    openError_.clear();
    std::lock_guard<std::mutex> lock(handleLock_);
    if (!stream_.Open(CaptureRights::DefaultHelper(), adapter_.c_str(), kSnapshotLength,
                      kBufferBytes, kReadTimeoutMs, CaptureFilter::Expression(), openError_)) {
        return -1;
    }
    return stream_.LinkType();
}

bool IPCAP::Start() {
    if (running_.load()) return true;
    if (!openLive_ || !dispatch_ || !close_) return false;
    ClearFailure();
    // An expression that does not compile is refused before the adapter is opened.
    std::vector<sock_filter> program;
    std::string why;
    if (!CaptureFilter::CompileCurrent(3, program, why)) {
        SetFailure(why);
        return false;
    }
    if (!handle_.load() && !stream_.IsOpen()) {
        adapter_ = deviceName_.c_str();
        if (adapter_.empty()) {
            SetFailure("no adapter is chosen for the packet-capture library");
            return false;
        }
        pcap* handle = nullptr;
        int libraryType = -1;
        if (CaptureRights::HoldsNetRaw() == 1) {
            handle = Open();
            if (handle) libraryType = datalink_ ? datalink_(handle) : DLT_EN10MB;
        } else {
            // Without the right the capture helper runs the library and streams its frames.
            libraryType = OpenStream();
        }
        if (libraryType < 0) {
            // The library's texts mostly begin with the adapter's name already.
            SetFailure(openError_.rfind(adapter_, 0) == 0
                           ? openError_
                           : "adapter " + adapter_ + ": " + openError_);
            return false;
        }
        linkType_ = LinkTypeOfAdapter(libraryType);
        if (!DecodesLinkType(linkType_)) {
            if (handle) close_(handle);
            std::lock_guard<std::mutex> lock(handleLock_);
            stream_.Close();
            SetFailure("adapter " + adapter_ + " delivers link type " +
                       std::to_string(libraryType) + ", which Tidewatch does not decode");
            return false;
        }
        interfaceIndex_ = if_nametoindex(adapter_.c_str());
        std::lock_guard<std::mutex> lock(handleLock_);
        // Counts start afresh with every capture period.
        received_ = dropped_ = 0;
        counted_ = false;
        if (handle) handle_.store(handle);
    }
    running_.store(true);
    try {
        thread_ = std::thread(handle_.load() ? &IPCAP::CaptureThread : &IPCAP::StreamThread, this);
    } catch (const std::system_error&) {
        // The adapter stays open until Stop.
        running_.store(false);
    }
    return running_.load();
}

void IPCAP::StreamThread() {
    // Each frame carries the kernel's receive time, as the helper read it from the library.
    const ArrivalTick timed;
    std::string ended;
    while (running_.load()) {
        kernelTime_ = RealtimeToTick();
        if (stream_.Deliver(kWakeMs, &IPCAP::OnStreamed, this, ended) < 0) {
            // The helper's reason: the interface was deleted, or it could not go on.
            SetFailure(ended);
            return;
        }
    }
}

void IPCAP::OnStreamed(void* user, const CaptureRights::PcapStream::Frame& frame,
                       const uint8_t* data) {
    auto* driver = static_cast<IPCAP*>(user);
    ArrivalTick::Set(driver->kernelTime_(frame.seconds, frame.nanoseconds));
    driver->Hand(data, frame.caplen);
}

void IPCAP::CaptureThread() {
    pcap* handle = handle_.load();
    // Each frame carries the kernel's receive time, set before it is handed over.
    const ArrivalTick timed;
    // Without a descriptor to wait on (an old library) the dispatch waits itself, and Stop ends
    // it with pcap_breakloop.
    char error[PCAP_ERRBUF_SIZE] = {};
    const int descriptor = selectableFd_ && setNonblock_ && setNonblock_(handle, 1, error) == 0
                               ? selectableFd_(handle)
                               : -1;
    if (descriptor >= 0) PacketRing::StampOnArrival(descriptor);
    while (running_.load()) {
        if (descriptor >= 0) {
            if (!ReceiveReady(handle, descriptor)) return;
            continue;
        }
        kernelTime_ = RealtimeToTick();
        // A failing dispatch is tried again, but not in a busy loop.
        if (dispatch_(handle, -1, &IPCAP::OnPacket, reinterpret_cast<uint8_t*>(this)) == -1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kWakeMs));
        }
    }
}

bool IPCAP::ReceiveReady(pcap* handle, int descriptor) {
    pollfd wait{descriptor, POLLIN, 0};
    const int ready = poll(&wait, 1, kWakeMs);
    if (!running_.load()) return true;
    if (ready > 0 && (wait.revents & POLLERR)) {
        // Reading the socket's error clears it; left there, every poll would return at once.
        int socketError = 0;
        socklen_t size = sizeof socketError;
        getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &socketError, &size);
    }
    // A quiet wait or an error is when to look whether the interface is still there: a socket
    // whose link is down is not told when the interface is then deleted.
    if ((ready == 0 || (wait.revents & POLLERR)) && InterfaceLost()) return false;
    int delivered = 0;
    for (;;) {
        kernelTime_ = RealtimeToTick();
        const int count =
            dispatch_(handle, -1, &IPCAP::OnPacket, reinterpret_cast<uint8_t*>(this));
        if (count > 0 && running_.load()) {
            delivered += count;
            continue;
        }
        if (count == PCAP_ERROR) {
            if (InterfaceLost()) return false;
            // Not a busy loop on an error that stays.
            std::this_thread::sleep_for(std::chrono::milliseconds(kWakeMs));
        }
        break;
    }
    // Without a socket error a hang-up or a closed descriptor would wake every poll at once.
    if (ready > 0 && (wait.revents & (POLLHUP | POLLNVAL)) && delivered == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWakeMs));
    }
    return true;
}

bool IPCAP::InterfaceLost() {
    if (interfaceIndex_ == 0) return false;  // a pseudo device: nothing to delete
    // By index: a renamed interface still delivers.
    char name[IF_NAMESIZE];
    if (if_indextoname(interfaceIndex_, name) != nullptr || errno != ENXIO) return false;
    SetFailure("Capture ended: interface " + adapter_ + " was deleted");
    return true;
}

void IPCAP::OnPacket(uint8_t* user, const pcap_pkthdr* header, const uint8_t* data) {
    auto* driver = reinterpret_cast<IPCAP*>(user);
    ArrivalTick::Set(driver->kernelTime_(header->ts.tv_sec,
                                         static_cast<int64_t>(header->ts.tv_usec) * 1000));
    driver->Hand(data, header->caplen);
}

void IPCAP::Hand(const uint8_t* data, uint32_t length) {
    switch (StoredFrameType(linkType_, data, length)) {
        case 2:
            if (callback) callback(data, length);
            break;
        case 1:
            if (ipCallback) ipCallback(data, length);
            break;
        default:
            break;  // a cooked or loopback frame that carries no IP datagram
    }
}

bool IPCAP::Stop() {
    pcap* handle = handle_.load();
    if (running_.exchange(false)) {
        // The receive thread leaves the dispatch before the handle goes: closing a handle a
        // dispatch still uses would free what it reads.
        if (handle && breakLoop_) breakLoop_(handle);
        if (thread_.joinable()) thread_.join();
    }
    std::lock_guard<std::mutex> lock(handleLock_);
    if (handle) {
        TakeCounts(handle);
        handle_.store(nullptr);
        close_(handle);
    }
    if (stream_.IsOpen()) {
        // The helper's last counts come with its end.
        stream_.Close();
        counted_ = stream_.Counts(received_, dropped_);
    }
    if (sendSocket_ >= 0) close(sendSocket_);
    sendSocket_ = -1;
    return true;
}

void IPCAP::TakeCounts(pcap* handle) {
    pcap_stat stats{};
    if (!stats_ || stats_(handle, &stats) != 0) return;
    received_ = stats.ps_recv;
    dropped_ = stats.ps_drop + stats.ps_ifdrop;
    counted_ = true;
}

bool IPCAP::KernelCounts(uint64_t& received, uint64_t& dropped) {
    std::lock_guard<std::mutex> lock(handleLock_);
    if (pcap* handle = handle_.load()) TakeCounts(handle);
    if (stream_.IsOpen()) counted_ = stream_.Counts(received_, dropped_);
    received = received_;
    dropped = dropped_;
    return counted_;
}

bool IPCAP::SelectInterface() {
    AdapterDialog dialog = adapterDialog.load();
    return dialog && dialog(instance, parentWindow, this) != 0;
}

void IPCAP::ListAdapters(StringCollection& out) {
    if (!findAllDevs_ || !freeAllDevs_) return;
    pcap_if* list = nullptr;
    char error[PCAP_ERRBUF_SIZE] = {};
    if (findAllDevs_(&list, error) == -1) return;
    for (pcap_if* adapter = list; adapter; adapter = adapter->next) {
        if (!adapter->name) continue;
        str text(adapter->name);
        if (adapter->description) {
            text += " (";
            text += adapter->description;
            text += ")";
        } else {
            text += " (no description)";
        }
        out.Add(text.c_str());
    }
    freeAllDevs_(list);
}

std::string IPCAP::AdapterNameOf(const char* adapterText) {
    std::string text = adapterText ? adapterText : "";
    size_t cut = text.rfind(" (");
    if (!text.empty() && text.back() == ')') {
        int depth = 0;
        for (size_t at = text.size(); at-- > 0;) {
            depth += text[at] == ')' ? 1 : text[at] == '(' ? -1 : 0;
            if (depth == 0) {
                if (at > 0 && text[at - 1] == ' ') cut = at - 1;
                break;
            }
        }
    }
    if (cut != std::string::npos) text.erase(cut);
    return text;
}

void IPCAP::SetDeviceName(const char* name) { deviceName_ = name ? name : ""; }

bool IPCAP::SendPacket(const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(handleLock_);
    if (pcap* handle = handle_.load()) {
        return sendPacket_ && sendPacket_(handle, data, static_cast<int>(length)) == 0;
    }
    if (!stream_.IsOpen()) return false;
    // The helper's stream only receives: sending takes a socket of its own, bound to the adapter.
    if (sendSocket_ < 0) {
        std::string why;
        sendSocket_ = CaptureRights::OpenSendSocket(adapter_.c_str(), why);
        if (sendSocket_ < 0) {
            Report(nullptr, 0, ("IPCAP - cannot send: " + why).c_str(), 3);
            return false;
        }
    }
    return send(sendSocket_, data, length, 0) == static_cast<ssize_t>(length);
}

int IPCAP::AdapterLinkType(const char* name) {
    if (!name) return -1;
    // The hardware type, read without opening the adapter: listing needs no capture rights and
    // touches no netfilter queue or message bus, as opening their pseudo devices would.
    const int hardware = HardwareType(name);
    if (hardware >= 0) {
        for (const HardwareLinkType& entry : kHardwareLinkTypes) {
            if (entry.hardware == hardware) return entry.linkType;
        }
        return DLT_LINUX_SLL;
    }
    for (const PseudoDevice& device : kPseudoDevices) {
        const size_t length = std::strlen(device.name);
        if (device.prefix ? std::strncmp(name, device.name, length) == 0
                          : std::strcmp(name, device.name) == 0) {
            return device.linkType;
        }
    }
    return -1;
}

std::string IPCAP::LinkTypeNote(const char* name) {
    const int libraryType = AdapterLinkType(name);
    if (libraryType < 0 || DecodesLinkType(LinkTypeOfAdapter(libraryType))) return {};
    return "link type " + std::to_string(libraryType) + ", not decoded";
}

std::string IPCAP::FirstEthernetAdapter() {
    std::string first;
    if (!findAllDevs_ || !freeAllDevs_) return first;
    pcap_if* list = nullptr;
    char error[PCAP_ERRBUF_SIZE] = {};
    if (findAllDevs_(&list, error) == -1) return first;
    for (pcap_if* adapter = list; adapter && first.empty(); adapter = adapter->next) {
        if (adapter->name && (adapter->flags & PCAP_IF_UP) && !(adapter->flags & PCAP_IF_LOOPBACK) &&
            AdapterLinkType(adapter->name) == DLT_EN10MB) {
            first = adapter->name;
        }
    }
    freeAllDevs_(list);
    return first;
}
