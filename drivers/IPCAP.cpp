#include "drivers/IPCAP.h"

#include <dlfcn.h>
#include <pcap/pcap.h>

#include <chrono>

#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"
#include "framework/Tick.h"

namespace {

constexpr int kSnapshotLength = 65536;
// The library hands frames over a block at a time, a block once it is full or this time has
// passed. Frames are timed when they reach the arrival handler, so a long time-out would give
// every frame of a quiet second the same time; per-frame delivery (immediate mode) costs twice
// the processor time and drops frames at top speed.
constexpr int kReadTimeoutMs = 50;
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

}  // namespace

void IPCAP::SetAdapterDialog(AdapterDialog dialog) { adapterDialog.store(dialog); }

void IPCAP::SetLibraryNamesForTesting(const char* const* names) {
    libraryNames.store(names ? names : kDefaultLibraryNames);
}

IPCAP::IPCAP() {
    AppRegKey key;
    key.GetString("CaptureDevice", deviceName_, "");
    for (const char* const* name = libraryNames.load(); *name && !library_; ++name) {
        library_ = dlopen(*name, RTLD_NOW | RTLD_LOCAL);
    }
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
        pcap* handle = create_(deviceName_.c_str(), error);
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
        return handle;
    }
    pcap* handle = openLive_(deviceName_.c_str(), kSnapshotLength, 1, kReadTimeoutMs, error);
    if (!handle) openError_ = error;
    return handle;
}

bool IPCAP::Start() {
    if (running_.load()) return true;
    if (!openLive_ || !dispatch_ || !close_) return false;
    if (!handle_.load()) {
        pcap* handle = Open();
        if (!handle) return false;
        std::lock_guard<std::mutex> lock(handleLock_);
        // Counts start afresh with every capture period.
        received_ = dropped_ = 0;
        counted_ = false;
        handle_.store(handle);
    }
    running_.store(true);
    try {
        thread_ = std::thread(&IPCAP::CaptureThread, this);
    } catch (const std::system_error&) {
        // The adapter stays open until Stop.
        running_.store(false);
    }
    return running_.load();
}

void IPCAP::CaptureThread() {
    while (running_.load()) {
        pcap* handle = handle_.load();
        if (!handle) break;
        // One clock read for the block a dispatch hands over, taken at its first frame.
        const ArrivalTick batch;
        // A failing dispatch (the adapter went away, say) is tried again, but not in a busy
        // loop.
        if (dispatch_(handle, -1, &IPCAP::OnPacket, reinterpret_cast<uint8_t*>(this)) == -1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

void IPCAP::OnPacket(uint8_t* user, const pcap_pkthdr* header, const uint8_t* data) {
    auto* driver = reinterpret_cast<IPCAP*>(user);
    if (driver->callback) driver->callback(data, header->caplen);
}

bool IPCAP::Stop() {
    pcap* handle = handle_.load();
    if (running_.exchange(false)) {
        // The receive thread leaves the dispatch before the handle goes: closing a handle a
        // dispatch still uses would free what it reads.
        if (handle && breakLoop_) breakLoop_(handle);
        if (thread_.joinable()) thread_.join();
    }
    if (handle) {
        std::lock_guard<std::mutex> lock(handleLock_);
        TakeCounts(handle);
        handle_.store(nullptr);
        close_(handle);
    }
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

void IPCAP::SetDeviceName(const char* name) { deviceName_ = name ? name : ""; }

bool IPCAP::SendPacket(const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(handleLock_);
    pcap* handle = handle_.load();
    if (!handle || !sendPacket_) return false;
    return sendPacket_(handle, data, static_cast<int>(length)) == 0;
}
