#include "drivers/INetMon.h"

#include <dlfcn.h>
#include <net/if.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/CaptureFilter.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"
#include "framework/Tick.h"

#ifndef TW_PROVIDER_RELDIR
#define TW_PROVIDER_RELDIR "../lib/tidewatch"
#endif

namespace {

constexpr const char* kProviderFile = "libnpptools.so";
constexpr const char* kSetting = "NetMonMacAddr";

// The provider beside the executable (a build tree), else in the installed library folder.
void* LoadProvider() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return nullptr;
    exe[n] = '\0';
    const std::filesystem::path folder = std::filesystem::path(exe).parent_path();
    for (const std::filesystem::path& candidate :
         {folder / kProviderFile, folder / TW_PROVIDER_RELDIR / kProviderFile}) {
        if (void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
    }
    return nullptr;
}

template <class Proc>
void Bind(void* library, const char* name, Proc& proc) {
    proc = reinterpret_cast<Proc>(dlsym(library, name));
}

}  // namespace

INetMon::INetMon() { Construct(nullptr); }

INetMon::INetMon(const char* libraryPath) { Construct(libraryPath); }

void INetMon::Construct(const char* libraryPath) {
    const bool stored = AppRegKey().GetString(kSetting, hardwareAddress, "");
    library = libraryPath ? dlopen(libraryPath, RTLD_NOW | RTLD_LOCAL) : LoadProvider();
    if (!library) {
        Report(nullptr, 0, "INetMon - Netmon not installed", 4);
        return;
    }
    Bind(library, "CreateNPPInterface", createNPPInterface);
    Bind(library, "CreateBlob", createBlob);
    Bind(library, "DestroyBlob", destroyBlob);
    Bind(library, "GetNPPBlobFromUI", getNPPBlobFromUI);
    Bind(library, "GetNPPBlobTable", getNPPBlobTable);
    Bind(library, "GetNetworkInfoFromBlob", getNetworkInfoFromBlob);
    Bind(library, "GetStringFromBlob", getStringFromBlob);
    if (createBlob && createBlob(&errorBlob) != 0) errorBlob = nullptr;
    if (!stored && HaveEntryPoints()) hardwareAddress = DefaultNetwork().c_str();
}

std::string INetMon::DefaultNetwork() {
    // The provider lists only interfaces that deliver Ethernet.
    std::string chosen;
    ForEachNetwork([&](NetMonBlob, const NetMonNetworkInfo& info, const char* address) {
        if (chosen.empty() && (info.flags & IFF_UP) && !(info.flags & IFF_LOOPBACK)) {
            chosen = address;
        }
    });
    return chosen;
}

INetMon::~INetMon() {
    PauseIfRunning();
    if (IRTC* object = capture.load()) {
        object->Stop();
        object->Disconnect();
    }
    if (destroyBlob && errorBlob) destroyBlob(errorBlob);
    if (IRTC* object = capture.exchange(nullptr)) object->Release();
    if (library) dlclose(library);
    AppRegKey().SetString(kSetting, hardwareAddress.c_str());
}

bool INetMon::HaveEntryPoints() const {
    return createNPPInterface && createBlob && destroyBlob && getNPPBlobFromUI &&
           getNPPBlobTable && getNetworkInfoFromBlob;
}

bool INetMon::Ok(uint32_t status) {
    lastStatus = static_cast<uint16_t>(status & 0xffff);
    return lastStatus == 0;
}

bool INetMon::Init(void* instance, QWidget* parentWindow, CaptureCallback callback) {
    ICapture::Init(instance, parentWindow, callback);
    if (!HaveEntryPoints()) {
        Report(nullptr, 0, "INetMon - Netmon not correctly installed", 4);
        return false;
    }
    if (capture.load()) return false;
    NetMonBlob chosen = nullptr;
    const bool listed = ForEachNetwork([&](NetMonBlob blob, const NetMonNetworkInfo&,
                                           const char* address) {
        // The comparison ignores letter case; an empty stored text never matches.
        if (!chosen && !hardwareAddress.Empty() && hardwareAddress == address) chosen = blob;
    });
    if (!listed) {
        Report(nullptr, 0, "INetMon - GetNPPBlobTable failed.", 4);
        return false;
    }
    if (!chosen) return false;
    return CreateCaptureObject(chosen);
}

bool INetMon::CreateCaptureObject(NetMonBlob network) {
    networkBlob = network;
    void* object = nullptr;
    if (createNPPInterface(network, &kIID_IRTC, &object) != 0 || !object) {
        Report(nullptr, 0, "INetMon - CreateNPPInterface failed.", 4);
        return false;
    }
    capture = static_cast<IRTC*>(object);
    return true;
}

template <class Visit>
bool INetMon::ForEachNetwork(Visit visit) {
    NetMonBlobTable* table = nullptr;
    if (!getNPPBlobTable || getNPPBlobTable(nullptr, &table) != 0 || !table) return false;
    for (uint32_t i = 0; i < table->count; ++i) {
        const NetMonBlob blob = NetMonBlobAt(table, i);
        NetMonNetworkInfo info{};
        if (getNetworkInfoFromBlob(blob, &info) != 0) {
            Report(nullptr, 0, "INetMon - GetNetworkInfoFromBlob failed.", 4);
            continue;
        }
        char address[kNetMonAddressText];
        NetMonFormatAddress(info.hardwareAddress, address);
        visit(blob, info, address);
    }
    return true;
}

void INetMon::ListNetworks(StringCollection& out) {
    if (!HaveEntryPoints()) return;
    ForEachNetwork([&](NetMonBlob, const NetMonNetworkInfo& info, const char* address) {
        str text;
        text.Assign(info.name, sizeof info.name);
        text.AppendFormat(" (%s)", address);
        out.Add(text.c_str());
    });
}

bool INetMon::ChooseNetworkByName(const char* name) {
    if (!HaveEntryPoints() || !name) return false;
    bool found = false;
    ForEachNetwork([&](NetMonBlob, const NetMonNetworkInfo& info, const char* address) {
        if (!found && std::strncmp(info.name, name, sizeof info.name) == 0) {
            hardwareAddress = address;
            found = true;
        }
    });
    return found;
}

bool INetMon::PauseIfRunning() {
    IRTC* object = capture.load();
    if (!object) return false;
    int32_t running = 0, paused = 0;
    if (!Ok(object->GetControlState(&running, &paused))) return false;
    if (paused) return true;
    if (!running) return false;
    return Ok(object->Pause());
}

bool INetMon::Start() {
    ClearFailure();  // a reason left from an earlier capture does not end this one
    IRTC* object = capture.load();
    if (!object) {
        SetFailure(library ? "no network is chosen for the Network Monitor Packet Provider"
                           : std::string("the Network Monitor provider ") + kProviderFile +
                                 " is not installed");
        return false;
    }
    int32_t running = 0, paused = 0;
    if (Ok(object->GetControlState(&running, &paused))) {
        if (paused) return Ok(object->Resume());
        if (running) return true;
    }
    const NetMonBlob network = networkBlob.load();
    if (!network) return false;
    std::vector<sock_filter> wanted;
    std::string why;
    if (!CaptureFilter::CompileCurrent(2, wanted, why)) {
        SetFailure(why);
        return false;
    }
    uint32_t status = object->SetKernelFilter(CaptureFilter::ProgramText(wanted).c_str());
    if (!Ok(status)) {
        SetFailure("cannot filter on " + NetworkName() + ": " + StatusText(status));
        return false;
    }
    status = object->Connect(network, nullptr, &INetMon::OnFrames, this, errorBlob);
    if (Ok(status)) {
        status = object->Start();
        if (Ok(status)) return true;
        // Not left connected: the capture loop does not stop a driver that failed to start,
        // and the next Start must be able to connect again.
        object->Disconnect();
        Ok(status);
    }
    // The provider's own reason when it gave one (the capture helper's, say), else the status's.
    const char* text = nullptr;
    const bool told = getStringFromBlob && errorBlob &&
                      getStringFromBlob(errorBlob, nullptr, nullptr, "Error", &text) == 0 &&
                      text && *text;
    SetFailure("cannot capture on " + NetworkName() + ": " + (told ? text : StatusText(status)));
    return false;
}

bool INetMon::Stop() {
    PauseIfRunning();
    if (IRTC* object = capture.load()) {
        Ok(object->Stop());
        Ok(object->Disconnect());
    }
    return true;
}

bool INetMon::SelectInterface() {
    PauseIfRunning();
    if (IRTC* object = capture.exchange(nullptr)) {
        object->Stop();
        object->Disconnect();
        object->Release();
    }
    networkBlob = nullptr;
    if (!HaveEntryPoints()) return false;
    NetMonBlob chosen = nullptr;
    if (getNPPBlobFromUI(parentWindow, nullptr, &chosen) != 0 || !chosen) {
        Report(nullptr, 0, "INetMon - GetNPPBlobFromUI failed.", 4);
        return false;
    }
    NetMonNetworkInfo info{};
    if (getNetworkInfoFromBlob(chosen, &info) == 0) {
        char address[kNetMonAddressText];
        NetMonFormatAddress(info.hardwareAddress, address);
        hardwareAddress = address;
    }
    return CreateCaptureObject(chosen);
}

bool INetMon::SendPacket(const uint8_t* bytes, uint32_t length) {
    IRTC* object = capture.load();
    if (!object) return false;
    return Ok(object->InsertSpecialFrame(kNetMonTransmitFrame, 0, bytes, length));
}

bool INetMon::QueryStatistics(NetMonStatistics* out) {
    IRTC* object = capture.load();
    return object && out && object->QueryStatistics(out) == 0;
}

bool INetMon::KernelCounts(uint64_t& received, uint64_t& dropped) {
    NetMonStatistics counts{};
    if (!QueryStatistics(&counts)) return false;
    received = counts.received;
    dropped = counts.dropped;
    return true;
}

uint32_t INetMon::OnFrames(NetMonFramesRecord record) {
    auto* driver = static_cast<INetMon*>(record.context);
    if (record.eventCode == kNetMonEndedEvent && driver) {
        driver->SetFailure(driver->EndedReason(record.status));
        return 0;
    }
    if (record.eventCode != kNetMonFramesEvent) return 0;
    const NetMonFrameTable* table = record.frameTable;
    if (!table || table->frameCount == 0 || !driver) return 0;
    const CaptureCallback deliver = driver->callback;
    const uint32_t first = table->firstIndex, last = table->lastIndex;
    if (first > last || !deliver) return 0;
    // Each frame is timed when the kernel received it; a frame without a time stamp when it is
    // handed over.
    const ArrivalTick batch;
    const RealtimeToTick toTick;
    for (uint32_t i = first;; ++i) {
        const NetMonFrameEntry* entry = NetMonFrameAt(table, i);
        const uint8_t* data = entry->data;
        const uint32_t length = entry->byteCount;
        if (data && length <= 65535) {
            const int64_t stamp = entry->timeStamp;
            ArrivalTick::Set(stamp > 0 ? toTick(stamp / 1000000000, stamp % 1000000000)
                                       : TickCount());
            deliver(data, length);
        }
        if (i == last) break;  // also ends a table whose last index is the largest there is
    }
    return 0;
}

std::string INetMon::NetworkName() {
    NetMonNetworkInfo info{};
    const NetMonBlob network = networkBlob.load();
    if (!network || !getNetworkInfoFromBlob || getNetworkInfoFromBlob(network, &info) != 0) {
        return "the interface";
    }
    return "interface " + std::string(info.name, strnlen(info.name, sizeof info.name));
}

std::string INetMon::StatusText(uint32_t status) {
    const int error = static_cast<int>(status >> 16);
    if ((status & 0xffff) == kNetMonSystemError && error != 0) return std::strerror(error);
    return "status " + std::to_string(status & 0xffff);
}

std::string INetMon::EndedReason(uint32_t status) {
    if ((status & 0xffff) == kNetMonNoNetwork) return "Capture ended: " + NetworkName() + " was deleted";
    return "Capture ended: " + NetworkName() + " failed: " + StatusText(status);
}
