#include "drivers/IWSACap.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "drivers/CaptureFilter.h"
#include "drivers/CaptureRightsClient.h"
#include "framework/Bytes.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"
#include "framework/Tick.h"
#include "framework/str.h"

namespace {

// How long one receive waits before the loop looks at the capture request again.
constexpr int kReceiveWaitMs = 250;
// The Network Monitor provider's shape: 32 blocks of 128 KiB. A block is handed over when full or
// 10 ms after its first datagram, so a burst costs few wake-ups and a quiet link little delay.
constexpr PacketRing::Shape kRing{1u << 17, 32, 10, 0};
// How often a running capture looks whether its interface and address are still there.
constexpr auto kCheckEvery = std::chrono::milliseconds(500);
constexpr uint32_t kLoopbackAddress = 0x7f000001;

std::atomic<IWSACap::AddressDialog> addressDialog{nullptr};

bool IsLoopback(uint32_t address, unsigned flags) {
    return (address >> 24) == 127 || (flags & IFF_LOOPBACK) != 0;
}

// The IPv4 addresses of the host's name, host byte order, in the resolver's order.
std::vector<uint32_t> HostNameAddresses() {
    std::vector<uint32_t> addresses;
    char name[80] = {};
    if (gethostname(name, sizeof name - 1) != 0) return addresses;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_addr && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            addresses.push_back(
                ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr));
        }
    }
    freeaddrinfo(found);
    return addresses;
}

// Calls visit(address in host byte order, entry) for every IPv4 address of the local interfaces.
template <class Visit>
void ForEachLocalAddress(Visit visit) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name) continue;
        visit(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr),
              *entry);
    }
    freeifaddrs(list);
}

// The interface that holds the address; index 0 when none does.
struct Holder {
    unsigned index = 0;
    bool loopback = false;
    std::string name;
};
Holder InterfaceOf(uint32_t address) {
    Holder holder;
    ForEachLocalAddress([&](uint32_t held, const ifaddrs& entry) {
        if (holder.index != 0 || held != address) return;
        holder.index = if_nametoindex(entry.ifa_name);
        holder.loopback = (entry.ifa_flags & IFF_LOOPBACK) != 0;
        holder.name = entry.ifa_name;
    });
    return holder;
}

// The one place method 1 opens a socket, the only step that needs the capture right, from this
// process when it holds the right, else from the capture helper: cooked (datagrams without their
// link header), bound to the interface with protocol 0, so that nothing arrives before the
// filter and the ring are in place. Those, the bind to every protocol and the membership that
// receives everything need only the socket.
int OpenCaptureSocket(const std::string& interface, std::string& error) {
    return CaptureRights::OpenPacketSocket(interface.c_str(), SOCK_DGRAM, 0, error);
}

// The kernel hands on only IPv4, and on loopback, where every datagram passes twice, only the
// incoming copy (libpcap drops the outgoing one there too); then what the capture filter keeps.
// 0 or errno.
int KeepIpv4Once(int fd, bool loopback, const std::vector<sock_filter>& wanted) {
    constexpr uint32_t kProtocol = static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PROTOCOL);
    constexpr uint32_t kPacketType = static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE);
    std::vector<sock_filter> code = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kProtocol),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, static_cast<uint8_t>(loopback ? 3 : 1)),
    };
    if (loopback) {
        code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kPacketType));
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 1, 0));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0x40000));  // the whole datagram
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
    return CaptureFilter::Attach(fd, CaptureFilter::Chain(std::move(code), wanted));
}

std::string AddressText(uint32_t address) {
    str text;
    text.AppendIPv4(address);
    return text.c_str();
}

// The datagram as a raw IPv4 socket hands it over: cut at its total length, so that link-layer
// padding is not part of it. A total length that contradicts the header or the bytes received
// leaves the datagram as it came.
uint32_t DatagramLength(const uint8_t* data, uint32_t received) {
    bytes::Reader reader(data, received);
    const uint8_t versionAndLength = reader.U8();
    reader.Skip(1);
    const uint16_t total = reader.Be16();
    if (!reader.Ok()) return received;
    const uint32_t header = (versionAndLength & 0x0f) * 4u;
    if (total < header || total > received) return received;
    return total;
}

}  // namespace

uint32_t IWSACap::DefaultAddress(const std::vector<uint32_t>& hostAddresses,
                                 const std::vector<LocalAddress>& local) {
    for (uint32_t address : hostAddresses) {
        for (const LocalAddress& held : local) {
            if (held.address == address && !IsLoopback(address, held.flags)) return address;
        }
    }
    for (const LocalAddress& held : local) {
        if ((held.flags & IFF_UP) && !IsLoopback(held.address, held.flags)) return held.address;
    }
    return kLoopbackAddress;
}

void IWSACap::SetAddressDialog(AddressDialog dialog) { addressDialog.store(dialog); }

IWSACap::IWSACap() {
    // Nothing needs starting on this platform; the version stands for a started socket layer.
    version_ = 0x0202;
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Looked up only when nothing is stored: the resolver may take its time.
    constexpr uint32_t kNone = 0xffffffff;  // a broadcast address, never a capture address
    uint32_t address = ReadRegNumber("CaptureAddress", kNone);
    if (address == kNone) {
        std::vector<LocalAddress> local;
        ForEachLocalAddress([&](uint32_t held, const ifaddrs& entry) {
            local.push_back({held, entry.ifa_flags});
        });
        address = DefaultAddress(HostNameAddresses(), local);
    }
    captureAddress_.store(address);
}

IWSACap::~IWSACap() {
    CloseSocket();
    if (wake_ >= 0) close(wake_);
    WriteRegNumber("CaptureAddress", captureAddress_.load());
}

bool IWSACap::Init(void* instance, QWidget* parentWindow, CaptureCallback callback) {
    ICapture::Init(instance, parentWindow, callback);
    if ((version_ & 0xff) < 2) {  // the major version is the low byte
        Report(nullptr, 0, "IWSACap::Init - WSA is not initialised.", 3);
        return false;
    }
    return true;
}

bool IWSACap::Start() {
    if (socket_.load() >= 0) return true;
    ClearFailure();  // a reason left from an earlier capture does not end this one
    const uint32_t address = captureAddress_.load();
    const Holder holder = InterfaceOf(address);
    if (holder.index == 0) {
        ReportSystemError(nullptr, 0, "Unable to bind to address.", 3, EADDRNOTAVAIL);
        SetFailure("no interface holds the address " + AddressText(address));
        return false;
    }
    std::string why;
    std::vector<sock_filter> wanted;
    if (!CaptureFilter::CompileCurrent(1, wanted, why)) {
        SetFailure(why);
        return false;
    }
    const int fd = OpenCaptureSocket(holder.name, why);
    if (fd < 0) {
        Report(nullptr, 0, "Unable to allocate socket", 3);
        SetFailure(why);
        return false;
    }
    auto fail = [&](const char* report, int error, std::string reason) {
        ReportSystemError(nullptr, 0, report, 3, error);
        SetFailure(std::move(reason));
        ring_.Unmap();
        close(fd);
        return false;
    };
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = static_cast<int>(holder.index);
    if (const int error = KeepIpv4Once(fd, holder.loopback, wanted); error != 0) {
        return fail("Unable to bind to address.", error,
                    "cannot filter " + holder.name + ": " + std::strerror(error));
    }
    if (const int error = ring_.Map(fd, kRing); error != 0) {
        return fail("IWSACap - Alloc failure", error,
                    "no receive ring on " + holder.name + ": " + std::strerror(error));
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        const int error = errno;
        return fail("Unable to bind to address.", error,
                    "cannot bind to " + holder.name + ": " + std::strerror(error));
    }
    packet_mreq promiscuous{};
    promiscuous.mr_ifindex = link.sll_ifindex;
    promiscuous.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous) != 0) {
        const int error = errno;
        return fail("Unable to specify receive-all", error,
                    "cannot receive everything on " + holder.name + ": " + std::strerror(error));
    }
    ifindex_ = link.sll_ifindex;
    loopback_ = holder.loopback;
    interfaceName_ = holder.name;
    ended_ = false;
    lastCheck_ = std::chrono::steady_clock::now();
    // The kernel's counts start afresh with every capture period.
    uint64_t ignored = 0;
    PacketRing::TakeCounts(fd, ignored, ignored);
    received_.store(0);
    dropped_.store(0);
    counted_.store(true);
    uint64_t drain = 0;
    if (wake_ >= 0) (void)!read(wake_, &drain, sizeof drain);
    socket_.store(fd);
    return true;
}

bool IWSACap::ReceiveNext() {
    // Announce the receive before looking at the socket: a closing thread either sees this
    // or this sees the socket gone (both are sequentially consistent).
    receiving_.store(1);
    struct Leave {
        std::atomic<int>& flag;
        ~Leave() { flag.store(0); }
    } leave{receiving_};
    const int fd = socket_.load();
    if (fd < 0) return false;
    if (ended_) {
        // Until the loop stops the driver: no spinning meanwhile.
        pollfd wait{wake_, POLLIN, 0};
        poll(&wait, wake_ >= 0 ? 1 : 0, kReceiveWaitMs);
        return false;
    }
    // Nothing handed over yet: wait, but not past a quarter second, and not past a close. A
    // link that goes down leaves an error on the socket, which the wait reads and so clears.
    const PacketRing::Wait wait = ring_.WaitForBlock(fd, wake_, kReceiveWaitMs);
    if (socket_.load() != fd) return false;
    const auto now = std::chrono::steady_clock::now();
    if (wait.socketError != 0 || now - lastCheck_ >= kCheckEvery) {
        lastCheck_ = now;
        std::string reason = WhyGone(fd);
        if (!reason.empty()) {
            // What the kernel took before is stored first: it retires its last block, however
            // full, within its retire time.
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * kRing.retireMs));
            for (uint8_t* block; (block = ring_.ReadyBlock()) != nullptr;) {
                DeliverBlock(block, fd);
                ring_.ReleaseBlock();
            }
            ended_ = true;
            SetFailure(std::move(reason));
            return true;
        }
    }
    uint8_t* block = ring_.ReadyBlock();
    if (!block) return false;
    DeliverBlock(block, fd);
    ring_.ReleaseBlock();
    return true;
}

void IWSACap::DeliverBlock(uint8_t* block, int fd) {
    const ArrivalTick handover;
    const RealtimeToTick toTick;
    const bool loopback = loopback_;
    PacketRing::Walk(block, ring_.BlockBytes(), [&](const PacketRing::Frame& frame) {
        // The kernel's filter keeps these out already; the walk does not rely on it.
        if (frame.link->sll_protocol != htons(ETH_P_IP) ||
            (loopback && frame.link->sll_pkttype == PACKET_OUTGOING)) {
            return true;
        }
        if (!callback) {
            Report(nullptr, 0, "IWSACap::ReceiveNext - callback is not set.", 3);
            return true;
        }
        ArrivalTick::Set(toTick(frame.header->tp_sec, frame.header->tp_nsec));
        callback(frame.data, DatagramLength(frame.data, frame.length));
        // A close from another thread stops the handover at the next datagram.
        return socket_.load(std::memory_order_relaxed) == fd;
    });
}

std::string IWSACap::WhyGone(int fd) {
    if (PacketRing::InterfaceGone(fd, ifindex_)) {
        return "Capture ended: interface " + interfaceName_ + " was deleted";
    }
    if (InterfaceOf(captureAddress_.load()).index == static_cast<unsigned>(ifindex_)) return {};
    // An interface being deleted loses its addresses a moment before the socket is let go of:
    // look again before naming the address.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (PacketRing::InterfaceGone(fd, ifindex_)) {
        return "Capture ended: interface " + interfaceName_ + " was deleted";
    }
    return "Capture ended: address " + AddressText(captureAddress_.load()) + " was removed from " +
           interfaceName_;
}

bool IWSACap::Stop() {
    CloseSocket();
    return true;
}

void IWSACap::CloseSocket() {
    const int fd = socket_.exchange(-1);
    if (fd < 0) return;
    // Wake a receive that waits on another thread and let it leave before the descriptor
    // goes, so that it never reads from a number the system has handed out again.
    if (wake_ >= 0) {
        const uint64_t one = 1;
        (void)!write(wake_, &one, sizeof one);
    }
    while (receiving_.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TakeCounts(fd);
    ring_.Unmap();
    close(fd);
}

void IWSACap::TakeCounts(int fd) {
    uint64_t received = 0, dropped = 0;
    if (!PacketRing::TakeCounts(fd, received, dropped)) return;
    received_.fetch_add(received);
    dropped_.fetch_add(dropped);
}

bool IWSACap::KernelCounts(uint64_t& received, uint64_t& dropped) {
    if (!counted_.load()) return false;
    const int fd = socket_.load();
    if (fd >= 0) TakeCounts(fd);
    received = received_.load();
    dropped = dropped_.load();
    return true;
}

bool IWSACap::SelectInterface() {
    CloseSocket();
    AddressDialog dialog = addressDialog.load();
    if (!dialog) return false;
    uint32_t address = captureAddress_.load();
    const int result = dialog(instance, parentWindow, &address);
    if (result != 0) captureAddress_.store(address);
    return result != 0;
}

void IWSACap::ListAddresses(StringCollection& out) {
    ForEachLocalAddress([&](uint32_t address, const ifaddrs& entry) {
        str text;
        text.AppendIPv4(address);
        text.AppendFormat(" (%s)", entry.ifa_name);
        out.Add(text.c_str());
    });
}
