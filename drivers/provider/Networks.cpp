// The provider's entry points for networks and blobs, and the network selection.
#include "drivers/provider/Networks.h"

#include <dlfcn.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>

#include "drivers/provider/RtcCapture.h"

#define NPP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex networksMutex;
// Every network blob handed out, never moved (a deque keeps addresses) until the library goes.
std::deque<NetMonBlobData> networkBlobs;
// The last table handed out; valid until the next GetNPPBlobTable.
std::vector<uint8_t> tableBytes;

NetMonBlob InternNetwork(const NetMonNetworkInfo& info) {
    for (NetMonBlobData& blob : networkBlobs) {
        if (blob.info.interfaceIndex == info.interfaceIndex &&
            std::strcmp(blob.info.name, info.name) == 0 &&
            std::memcmp(blob.info.hardwareAddress, info.hardwareAddress, 6) == 0) {
            blob.info.flags = info.flags;
            return &blob;
        }
    }
    NetMonBlobData& blob = networkBlobs.emplace_back();
    blob.network = true;
    blob.info = info;
    return &blob;
}

// The companion dialog library, from the folder this library was loaded from.
NppRunSelectDialogProc LoadDialog() {
    static NppRunSelectDialogProc proc = [] {
        Dl_info self{};
        if (!dladdr(reinterpret_cast<void*>(&LoadDialog), &self) || !self.dli_fname) {
            return static_cast<NppRunSelectDialogProc>(nullptr);
        }
        const auto path =
            std::filesystem::path(self.dli_fname).parent_path() / "libnpptools-ui.so";
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        return library ? reinterpret_cast<NppRunSelectDialogProc>(
                             dlsym(library, "NppRunSelectDialog"))
                       : nullptr;
    }();
    return proc;
}

uint32_t MakeBlobTable(NetMonBlobTable** table) {
    const std::vector<NetMonBlob> networks = npp::CaptureNetworks();
    std::lock_guard<std::mutex> lock(networksMutex);
    tableBytes.assign(sizeof(NetMonBlobTable) + networks.size() * sizeof(NetMonBlob), 0);
    auto* header = reinterpret_cast<NetMonBlobTable*>(tableBytes.data());
    header->count = static_cast<uint32_t>(networks.size());
    std::memcpy(tableBytes.data() + sizeof(NetMonBlobTable), networks.data(),
                networks.size() * sizeof(NetMonBlob));
    *table = header;
    return kNetMonOk;
}


uint32_t SelectNetwork(void* ownerWindow, NetMonBlob* blob) {
    const NppRunSelectDialogProc run = LoadDialog();
    if (!run) return kNetMonNoDisplay;
    const std::vector<NetMonBlob> networks = npp::CaptureNetworks();
    std::vector<std::string> addresses;
    std::vector<const char*> names, addressTexts;
    for (NetMonBlob network : networks) {
        char text[kNetMonAddressText];
        NetMonFormatAddress(network->info.hardwareAddress, text);
        addresses.emplace_back(text);
        names.push_back(network->info.name);
    }
    for (const std::string& text : addresses) addressTexts.push_back(text.c_str());
    const int chosen = run(ownerWindow, names.data(), addressTexts.data(),
                           static_cast<int>(networks.size()));
    if (chosen < 0 || chosen >= static_cast<int>(networks.size())) return kNetMonCancelled;
    *blob = networks[static_cast<size_t>(chosen)];
    return kNetMonOk;
}

}  // namespace

namespace npp {

std::vector<NetMonBlob> CaptureNetworks() {
    std::vector<NetMonBlob> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    std::lock_guard<std::mutex> lock(networksMutex);
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET || !entry->ifa_name) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        if (link->sll_hatype != ARPHRD_ETHER || link->sll_halen != 6) continue;
        NetMonNetworkInfo info{};
        std::memcpy(info.hardwareAddress, link->sll_addr, 6);
        info.interfaceIndex = static_cast<uint32_t>(link->sll_ifindex);
        info.flags = entry->ifa_flags;
        std::strncpy(info.name, entry->ifa_name, sizeof info.name - 1);
        found.push_back(InternNetwork(info));
    }
    freeifaddrs(list);
    return found;
}

}  // namespace npp

NPP_EXPORT uint32_t CreateBlob(NetMonBlob* blob) {
    if (!blob) return kNetMonBadArgument;
    *blob = new (std::nothrow) NetMonBlobData();
    return *blob ? kNetMonOk : npp::SystemError(ENOMEM);
}

// Only blobs made by CreateBlob are freed; network blobs belong to the library.
NPP_EXPORT uint32_t DestroyBlob(NetMonBlob blob) {
    if (!blob) return kNetMonBadArgument;
    if (!blob->network) delete blob;
    return kNetMonOk;
}

NPP_EXPORT uint32_t GetNPPBlobTable(NetMonBlob filter, NetMonBlobTable** table) {
    if (!table) return kNetMonBadArgument;
    return npp::NoThrow([&] { return MakeBlobTable(table); });
}

NPP_EXPORT uint32_t GetNetworkInfoFromBlob(NetMonBlob blob, NetMonNetworkInfo* info) {
    if (!blob || !info || !blob->network) return kNetMonBadArgument;
    std::lock_guard<std::mutex> lock(networksMutex);
    *info = blob->info;
    return kNetMonOk;
}

NPP_EXPORT uint32_t GetStringFromBlob(NetMonBlob blob, const char*, const char*, const char* tag,
                                      const char** text) {
    if (!blob || !tag || !text || blob->network || std::strcmp(tag, "Error") != 0) {
        return kNetMonBadArgument;
    }
    *text = blob->error.c_str();
    return kNetMonOk;
}

NPP_EXPORT uint32_t GetNPPBlobFromUI(void* ownerWindow, NetMonBlob filter, NetMonBlob* blob) {
    if (!blob) return kNetMonBadArgument;
    return npp::NoThrow([&] { return SelectNetwork(ownerWindow, blob); });
}

NPP_EXPORT uint32_t CreateNPPInterface(NetMonBlob network, const NetMonGuid* iid, void** object) {
    if (!network || !network->network || !iid || !object) return kNetMonBadArgument;
    if (std::memcmp(iid, &kIID_IRTC, sizeof(NetMonGuid)) != 0) return kNetMonNoInterface;
    NetMonNetworkInfo info;
    {
        std::lock_guard<std::mutex> lock(networksMutex);
        info = network->info;
    }
    IRTC* capture = new (std::nothrow) npp::RtcCapture(info);
    if (!capture) return npp::SystemError(ENOMEM);
    *object = capture;
    return kNetMonOk;
}
