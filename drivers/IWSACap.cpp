#include "drivers/IWSACap.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
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
#include <new>
#include <thread>

#include "framework/Bytes.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"
#include "framework/str.h"

namespace {

constexpr uint32_t kBufferSize = 65536;
// How long one receive waits before the loop looks at the capture request again.
constexpr int kReceiveWaitMs = 250;
// Room for bursts at line rate: the kernel queues this much while the loop hands frames on.
constexpr int kSocketBufferBytes = 32 << 20;

std::atomic<IWSACap::AddressDialog> addressDialog{nullptr};

// The first IPv4 address of the host's name, host byte order; 0 when there is none.
uint32_t DefaultAddress() {
    char name[80] = {};
    if (gethostname(name, sizeof name - 1) != 0) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return 0;
    uint32_t address = 0;
    if (found->ai_addr && found->ai_addrlen >= sizeof(sockaddr_in)) {
        address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    }
    freeaddrinfo(found);
    return address;
}

// The index of the interface that holds the address; 0 when none does.
unsigned InterfaceOf(uint32_t address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    unsigned index = 0;
    for (ifaddrs* entry = list; entry && index == 0; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (ntohl(in->sin_addr.s_addr) == address) index = if_nametoindex(entry->ifa_name);
    }
    freeifaddrs(list);
    return index;
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

void IWSACap::SetAddressDialog(AddressDialog dialog) { addressDialog.store(dialog); }

IWSACap::IWSACap() {
    // Nothing needs starting on this platform; the version stands for a started socket layer.
    version_ = 0x0202;
    buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
    if (buffer_) {
        bufferLength_ = kBufferSize;
    } else {
        Report(nullptr, 0, "IWSACap - Alloc failure", 3);
    }
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    captureAddress_.store(ReadRegNumber("CaptureAddress", DefaultAddress()));
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
    // Protocol 0 receives nothing until the bind names the protocol and the interface, so no
    // frame of another interface is queued in between.
    const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        Report(nullptr, 0, "Unable to allocate socket", 3);
        return false;
    }
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = static_cast<int>(InterfaceOf(captureAddress_.load()));
    if (link.sll_ifindex == 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        ReportSystemError(nullptr, 0, "Unable to bind to address.", 3,
                          link.sll_ifindex == 0 ? EADDRNOTAVAIL : errno);
        close(fd);
        return false;
    }
    packet_mreq promiscuous{};
    promiscuous.mr_ifindex = link.sll_ifindex;
    promiscuous.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous) != 0) {
        ReportSystemError(nullptr, 0, "Unable to specify receive-all", 3, errno);
        close(fd);
        return false;
    }
    // A larger queue where the rights allow it; the default otherwise.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kSocketBufferBytes, sizeof(int)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof(int));
    }
    // The kernel's counts start afresh with every capture period.
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &size);
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

    sockaddr_ll from{};
    for (int attempt = 0; attempt < 2; ++attempt) {
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd, buffer_.get(), bufferLength_, MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n > 0) {
            // Only IPv4 datagrams, as the raw IPv4 socket receives them.
            if (from.sll_protocol != htons(ETH_P_IP)) return false;
            const uint32_t received =
                static_cast<uint32_t>(n) > bufferLength_ ? bufferLength_ : static_cast<uint32_t>(n);
            if (!callback) {
                Report(nullptr, 0, "IWSACap::ReceiveNext - callback is not set.", 3);
                return true;
            }
            callback(buffer_.get(), DatagramLength(buffer_.get(), received));
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || attempt == 1) return false;
        // Nothing queued: wait, but not past a quarter second, and not past a close.
        pollfd waits[2] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int ready = poll(waits, wake_ >= 0 ? 2 : 1, kReceiveWaitMs);
        if (ready <= 0 || (waits[0].revents & POLLIN) == 0 || socket_.load() != fd) return false;
    }
    return false;
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
    close(fd);
}

void IWSACap::TakeCounts(int fd) {
    // Each read returns the counts since the previous one.
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    if (getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &size) != 0) return;
    received_.fetch_add(stats.tp_packets);
    dropped_.fetch_add(stats.tp_drops);
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
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        str text;
        text.AppendIPv4(ntohl(in->sin_addr.s_addr));
        text.AppendFormat(" (%s)", entry->ifa_name);
        out.Add(text.c_str());
    }
    freeifaddrs(list);
}
