// tidewatch-capture: the one program of Tidewatch that holds the capture right, cap_net_raw as a
// file capability. Tidewatch runs it with a SOCK_SEQPACKET Unix socket as descriptor 3; it takes
// no arguments (any given are ignored) and no environment (cleared first). It reads one request
// (helper/Request.h), opens what was asked, gives up every capability, and only then hands the
// result over: a packet socket as a descriptor (SCM_RIGHTS), or for libpcap a stream of frames.
// Any refusal is one line, "ERR reason", and exit status 1. It never reads a packet's contents
// or a file.
//
// libpcap runs here, not in the caller. The library must open the device while the right is
// held, and what it opens (its socket, its memory-mapped ring, its view of the device's link
// type, "any" as cooked frames, its time stamps) only works inside the process that opened it:
// none of it can be handed over as a descriptor and driven by another copy of the library. The
// helper therefore activates the device, drops every capability, and copies each frame with its
// kernel time stamp (nanoseconds) into a shared memfd ring that the caller reads; an eventfd wakes
// a waiting reader once per batch, not per frame. Frames are copied, never parsed.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "drivers/CaptureRightsClient.h"
#include "helper/Request.h"

namespace {

using namespace CaptureRights;
using capturehelper::Request;

constexpr int kSocket = kHelperSocket;
// How long the helper waits for its request, and for room in the ring, before it looks again.
constexpr int kRequestWaitMs = 5000;
constexpr int kWakeMs = 100;
constexpr auto kCountsEvery = std::chrono::milliseconds(250);

bool Reply(const std::string& text, const int* fds = nullptr, int count = 0) {
    iovec part{const_cast<char*>(text.data()), text.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(3 * sizeof(int))] = {};
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(count * sizeof(int));
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(count * sizeof(int));
        std::memcpy(CMSG_DATA(header), fds, count * sizeof(int));
    }
    return sendmsg(kSocket, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

[[noreturn]] void Refuse(const std::string& reason) {
    Reply("ERR " + reason);
    _exit(1);
}

std::string SystemText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

bool SetCapabilities(uint32_t permitted, uint32_t effective) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    data[0].permitted = permitted;
    data[0].effective = effective;
    return syscall(SYS_capset, &header, data) == 0;
}

// From the start only the capture right, and only if the file gave it (effective or not). The
// bounding set is emptied while CAP_SETPCAP may still be held (when root runs the helper).
void KeepOnlyNetRaw() {
    for (unsigned long cap = 0; cap < 64; ++cap) {
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno == EINVAL) break;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    const uint32_t held = syscall(SYS_capget, &header, data) == 0 ? data[0].permitted : 0;
    const uint32_t keep = held & (1u << CAP_NET_RAW);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (!SetCapabilities(keep, keep)) _exit(2);
}

// Every set emptied, and no execve can give anything back.
bool DropEverything() {
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (!SetCapabilities(0, 0) || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const auto& set : data) {
        if (set.permitted || set.effective || set.inheritable) return false;
    }
    return true;
}

void DropOrRefuse() {
    if (!DropEverything()) Refuse(SystemText("cannot give up the capture right", errno));
}

std::string ReadRequest() {
    int type = 0, domain = 0;
    socklen_t size = sizeof type;
    if (getsockopt(kSocket, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_SEQPACKET ||
        getsockopt(kSocket, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_UNIX) {
        static const char kUsage[] =
            "tidewatch-capture: run by Tidewatch only, with its socket as descriptor 3\n";
        (void)!write(STDERR_FILENO, kUsage, sizeof kUsage - 1);
        _exit(2);
    }
    pollfd wait{kSocket, POLLIN, 0};
    if (poll(&wait, 1, kRequestWaitMs) <= 0) _exit(1);
    char buffer[capturehelper::kMaxRequest + 2];
    iovec part{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    // Descriptors sent along are not wanted: a zero-length control buffer discards them.
    const ssize_t n = recvmsg(kSocket, &message, MSG_CMSG_CLOEXEC);
    if (n <= 0) _exit(1);
    if (message.msg_flags & MSG_TRUNC) {
        Refuse("request is longer than " + std::to_string(capturehelper::kMaxRequest) + " bytes");
    }
    return std::string(buffer, static_cast<size_t>(n));
}

// A packet socket bound to the interface; the protocol is kept by the bind (0: receives nothing).
int OpenPacketSocket(const Request& request, unsigned index) {
    const int fd = socket(AF_PACKET, request.socketType | SOCK_CLOEXEC, htons(request.protocol));
    if (fd < 0) Refuse(SystemText("packet socket", errno));
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(request.protocol);
    link.sll_ifindex = static_cast<int>(index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        Refuse(SystemText(("cannot bind to " + request.interface).c_str(), errno));
    }
    return fd;
}

// ---- libpcap, streamed ----

struct Pcap {
    void* library = nullptr;
    pcap_t* (*create)(const char*, char*);
    int (*setSnaplen)(pcap_t*, int);
    int (*setPromisc)(pcap_t*, int);
    int (*setTimeout)(pcap_t*, int);
    int (*setBufferSize)(pcap_t*, int);
    int (*setPrecision)(pcap_t*, int);  // optional
    int (*activate)(pcap_t*);
    char* (*geterr)(pcap_t*);
    int (*datalink)(pcap_t*);
    int (*setnonblock)(pcap_t*, int, char*);
    int (*selectableFd)(pcap_t*);
    int (*dispatch)(pcap_t*, int, pcap_handler, u_char*);
    void (*breakloop)(pcap_t*);
    int (*stats)(pcap_t*, pcap_stat*);
    int (*compile)(pcap_t*, bpf_program*, const char*, int, bpf_u_int32);
    int (*setfilter)(pcap_t*, bpf_program*);
    void (*freecode)(bpf_program*);
    bool nanoseconds = false;

    template <class F>
    bool Bind(F& entry, const char* name) {
        entry = reinterpret_cast<F>(dlsym(library, name));
        return entry != nullptr;
    }
    bool Load() {
        for (const char* name : {"libpcap.so.1", "libpcap.so.0.8", "libpcap.so"}) {
            if ((library = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
        }
        Bind(setPrecision, "pcap_set_tstamp_precision");
        return library && Bind(create, "pcap_create") && Bind(setSnaplen, "pcap_set_snaplen") &&
               Bind(setPromisc, "pcap_set_promisc") && Bind(setTimeout, "pcap_set_timeout") &&
               Bind(setBufferSize, "pcap_set_buffer_size") && Bind(activate, "pcap_activate") &&
               Bind(geterr, "pcap_geterr") && Bind(datalink, "pcap_datalink") &&
               Bind(setnonblock, "pcap_setnonblock") &&
               Bind(selectableFd, "pcap_get_selectable_fd") && Bind(dispatch, "pcap_dispatch") &&
               Bind(breakloop, "pcap_breakloop") && Bind(stats, "pcap_stats") &&
               Bind(compile, "pcap_compile") && Bind(setfilter, "pcap_setfilter") &&
               Bind(freecode, "pcap_freecode");
    }
};

struct Stream {
    Pcap pcap;
    pcap_t* handle = nullptr;
    RingHeader* header = nullptr;
    uint8_t* data = nullptr;
    int dataEvent = -1, spaceEvent = -1;
    // The writer's own view: records up to `head` are written but published only once a batch
    // is done, and the reader's tail is read again only when the room seems short. The two
    // sides thus share a cache line once a batch, not once a frame.
    uint64_t head = 0, tail = 0;
    bool stopping = false;
};

void Signal(int event) {
    const uint64_t one = 1;
    (void)!write(event, &one, sizeof one);
}

// Makes the written records visible and wakes the reader if it sleeps.
void Publish(Stream& stream) {
    stream.header->head.store(stream.head);
    if (stream.header->readerWaiting.exchange(0)) Signal(stream.dataEvent);
}

// Room for `bytes` contiguous bytes at the head, padding the rest of the ring when it is short;
// waits while the reader catches up. Null when the caller stops meanwhile.
uint8_t* Room(Stream& stream, uint32_t bytes) {
    RingHeader& ring = *stream.header;
    for (;;) {
        const uint64_t offset = stream.head % kRingDataBytes;
        const uint64_t left = kRingDataBytes - offset;
        const uint64_t needed = bytes <= left ? bytes : left + bytes;
        if (kRingDataBytes - (stream.head - stream.tail) < needed) {
            stream.tail = ring.tail.load(std::memory_order_acquire);
        }
        if (kRingDataBytes - (stream.head - stream.tail) >= needed) {
            if (bytes <= left) return stream.data + offset;
            // Too little room for a record header says itself that it is padding.
            if (left >= sizeof(FrameRecord)) {
                FrameRecord padding{static_cast<uint32_t>(left), kRingPadding, 0, 0, 0};
                std::memcpy(stream.data + offset, &padding, sizeof padding);
            }
            stream.head += left;
            continue;
        }
        // Full: the reader gets what there is, and says when it has made room.
        Publish(stream);
        ring.writerWaiting.store(1);
        stream.tail = ring.tail.load();
        if (kRingDataBytes - (stream.head - stream.tail) >= needed) continue;
        pollfd wait[2] = {{stream.spaceEvent, POLLIN, 0}, {kSocket, POLLIN, 0}};
        if (poll(wait, 2, kWakeMs) > 0 && wait[1].revents) return nullptr;
        uint64_t ignored;
        (void)!read(stream.spaceEvent, &ignored, sizeof ignored);
    }
}

void OnFrame(u_char* user, const pcap_pkthdr* frame, const u_char* bytes) {
    Stream& stream = *reinterpret_cast<Stream*>(user);
    if (stream.stopping) return;
    const uint32_t caplen = frame->caplen > 262144 ? 262144 : frame->caplen;
    const uint32_t size = static_cast<uint32_t>((sizeof(FrameRecord) + caplen + 7) & ~size_t{7});
    uint8_t* room = Room(stream, size);
    if (!room) {
        stream.stopping = true;
        stream.pcap.breakloop(stream.handle);
        return;
    }
    const uint32_t sub = static_cast<uint32_t>(frame->ts.tv_usec);
    const FrameRecord record{size, caplen, frame->len, stream.pcap.nanoseconds ? sub : sub * 1000,
                             static_cast<int64_t>(frame->ts.tv_sec)};
    std::memcpy(room, &record, sizeof record);
    std::memcpy(room + sizeof record, bytes, caplen);
    stream.head += size;
}

void TakeCounts(Stream& stream) {
    pcap_stat counts{};
    if (stream.pcap.stats(stream.handle, &counts) != 0) return;
    stream.header->received.store(counts.ps_recv);
    stream.header->dropped.store(static_cast<uint64_t>(counts.ps_drop) + counts.ps_ifdrop);
}

bool InterfaceDeleted(unsigned index) {
    char name[IF_NAMESIZE];
    return index != 0 && if_indextoname(index, name) == nullptr && errno == ENXIO;
}

[[noreturn]] void End(Stream& stream, const std::string& reason) {
    TakeCounts(stream);
    Publish(stream);
    Signal(stream.dataEvent);
    Reply("END " + reason);
    _exit(0);
}

[[noreturn]] void RunPcap(const Request& request, unsigned index) {
    Stream stream;
    Pcap& pcap = stream.pcap;
    if (!pcap.Load()) Refuse("libpcap is not installed");
    char error[PCAP_ERRBUF_SIZE] = {};
    stream.handle = pcap.create(request.interface.c_str(), error);
    if (!stream.handle) Refuse(error);
    pcap.setSnaplen(stream.handle, request.snapshotLength);
    pcap.setPromisc(stream.handle, 1);
    pcap.setTimeout(stream.handle, request.timeoutMs);
    pcap.setBufferSize(stream.handle, request.bufferBytes);
    pcap.nanoseconds = pcap.setPrecision && pcap.setPrecision(stream.handle, 1) == 0;
    if (pcap.activate(stream.handle) < 0) Refuse(pcap.geterr(stream.handle));
    DropOrRefuse();
    // The expression is read by the library with every capability gone; the library keeps out
    // of the stream what its ring held from before the filter.
    if (!request.filter.empty()) {
        bpf_program program{};
        if (pcap.compile(stream.handle, &program, request.filter.c_str(), 1,
                         PCAP_NETMASK_UNKNOWN) != 0) {
            Refuse(std::string("capture filter: ") + pcap.geterr(stream.handle));
        }
        const bool set = pcap.setfilter(stream.handle, &program) == 0;
        pcap.freecode(&program);
        if (!set) Refuse(std::string("capture filter: ") + pcap.geterr(stream.handle));
    }

    const int memory = memfd_create("tidewatch-frames", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    const uint64_t total = kRingHeaderBytes + kRingDataBytes;
    void* map = MAP_FAILED;
    // The ring's pages are made and mapped now, not at the first frames of a burst.
    if (memory < 0 || fallocate(memory, 0, 0, static_cast<off_t>(total)) != 0 ||
        fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0 ||
        (map = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, memory,
                    0)) == MAP_FAILED) {
        Refuse(SystemText("cannot make the frame ring", errno));
    }
    stream.dataEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stream.spaceEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int descriptor = pcap.setnonblock(stream.handle, 1, error) == 0
                               ? pcap.selectableFd(stream.handle) : -1;
    if (stream.dataEvent < 0 || stream.spaceEvent < 0 || descriptor < 0) {
        Refuse(SystemText("cannot wait for frames", errno));
    }
    // The kernel stamps every frame once, as the interface receives it: without a socket that
    // asks, each capturer reads the clock in its own turn, up to milliseconds apart.
    const int on = 1;
    setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    stream.header = new (map) RingHeader{};
    stream.header->magic = kRingMagic;
    stream.header->linkType = static_cast<uint32_t>(pcap.datalink(stream.handle));
    stream.data = static_cast<uint8_t*>(map) + kRingHeaderBytes;
    const int handed[3] = {memory, stream.dataEvent, stream.spaceEvent};
    if (!Reply("OK " + std::to_string(stream.header->linkType), handed, 3)) _exit(1);
    close(memory);

    bool linkDown = false;
    auto counted = std::chrono::steady_clock::now();
    for (;;) {
        pollfd wait[2] = {{descriptor, POLLIN, 0}, {kSocket, POLLIN, 0}};
        const int ready = poll(wait, 2, kWakeMs);
        if (ready > 0 && wait[1].revents) break;  // "STOP", or the caller is gone
        if (ready > 0 && (wait[0].revents & POLLERR)) {
            // Reading the error clears it; left there, every poll would return at once.
            int socketError = 0;
            socklen_t size = sizeof socketError;
            getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &socketError, &size);
            linkDown |= socketError == ENETDOWN;
        }
        if (linkDown && InterfaceDeleted(index)) {
            End(stream, "Capture ended: interface " + request.interface + " was deleted");
        }
        // One batch a pass, so that a stop is seen however busy the link.
        const int count =
            pcap.dispatch(stream.handle, -1, OnFrame, reinterpret_cast<u_char*>(&stream));
        if (stream.stopping) break;
        if (count == PCAP_ERROR) {
            if (InterfaceDeleted(index)) {
                End(stream, "Capture ended: interface " + request.interface + " was deleted");
            }
            poll(nullptr, 0, kWakeMs);  // not a busy loop on an error that stays
        }
        if (count > 0) {
            linkDown = false;
            Publish(stream);
        } else if (count == 0 && ready > 0 && (wait[0].revents & (POLLHUP | POLLNVAL))) {
            poll(nullptr, 0, kWakeMs);
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - counted >= kCountsEvery) {
            TakeCounts(stream);
            counted = now;
        }
    }
    End(stream, "stopped");
}

}  // namespace

int main() {
    clearenv();
    signal(SIGPIPE, SIG_IGN);
    KeepOnlyNetRaw();
    // Nothing of the caller's but the three standard streams and the socket.
    close_range(kSocket + 1, ~0u, 0);

    Request request;
    std::string error;
    if (!capturehelper::ParseRequest(ReadRequest(), request, error)) Refuse(error);
    const bool anyDevice = request.kind == Request::Kind::Pcap && request.interface == "any";
    const unsigned index = anyDevice ? 0 : if_nametoindex(request.interface.c_str());
    if (!anyDevice && index == 0) Refuse("no interface named " + request.interface);

    if (request.kind == Request::Kind::Pcap) RunPcap(request, index);
    const int fd = OpenPacketSocket(request, index);
    DropOrRefuse();
    return Reply("OK", &fd, 1) ? 0 : 1;
}
