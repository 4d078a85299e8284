#include "drivers/CaptureRightsClient.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <linux/if_ether.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#ifndef TW_PROVIDER_RELDIR
#define TW_PROVIDER_RELDIR "../lib/tidewatch"
#endif

namespace CaptureRights {

namespace {

// The helper answers at once, except libpcap's activation, which loads the library first.
constexpr int kAnswerWaitMs = 10000;
constexpr int kStopWaitMs = 1000;
// How long a helper that has answered or been told to stop may take to exit.
constexpr int kEndWaitMs = 250;

std::string SystemText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// The helper's text as one printable line.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c < 0x20 || c > 0x7e) c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

const char* TypeName(int type) { return type == SOCK_DGRAM ? "dgram" : "raw"; }

const char* ProtocolName(int protocol) {
    return protocol == ETH_P_ALL ? "all" : protocol == ETH_P_IP ? "ip" : "none";
}

// Waits for the helper to end, at most `waitMs`, then ends it; its wait status.
int Reap(pid_t pid, int waitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

// Runs the helper with an empty environment and its end of a new socket pair as descriptor 3.
bool Spawn(const HelperCommand& helper, pid_t& pid, int& socket, std::string& error) {
    if (helper.empty()) {
        error = "no capture right: no capture helper tidewatch-capture holds cap_net_raw here "
                "(see the manual, Capturing without root)";
        return false;
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        error = SystemText("cannot talk to the capture helper", errno);
        return false;
    }
    // dup2 onto itself would keep close-on-exec.
    if (ends[1] == kHelperSocket) {
        const int moved = fcntl(ends[1], F_DUPFD_CLOEXEC, kHelperSocket + 1);
        close(ends[1]);
        ends[1] = moved;
    }
    std::vector<char*> argv;
    for (const std::string& word : helper) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    char* environment[] = {nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], kHelperSocket);
    const int failed = ends[1] < 0 ? errno
                                   : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                                                 environment);
    posix_spawn_file_actions_destroy(&actions);
    if (ends[1] >= 0) close(ends[1]);
    if (failed != 0) {
        close(ends[0]);
        error = SystemText("cannot run " + helper.back(), failed);
        // The installed helper is open to one group only.
        if (failed == EACCES) error += " (capturing needs membership of the group tidewatch)";
        return false;
    }
    socket = ends[0];
    return true;
}

// Sends the request and takes the answer with up to three descriptors. True for "OK ...", with
// what follows "OK" in `detail`; false with the helper's reason.
bool Ask(int socket, const std::string& request, std::string& detail, std::vector<int>& fds,
         std::string& error) {
    if (send(socket, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        error = SystemText("cannot ask the capture helper", errno);
        return false;
    }
    pollfd wait{socket, POLLIN, 0};
    if (poll(&wait, 1, kAnswerWaitMs) <= 0) {
        error = "the capture helper did not answer";
        return false;
    }
    char text[512];
    iovec part{text, sizeof text - 1};
    alignas(cmsghdr) char control[CMSG_SPACE(3 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    for (cmsghdr* header = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            fds.push_back(fd);
        }
    }
    const std::string answer(text, n > 0 ? static_cast<size_t>(n) : 0);
    if (answer == "OK" || answer.rfind("OK ", 0) == 0) {
        detail = answer.size() > 3 ? answer.substr(3) : "";
        return true;
    }
    for (const int fd : fds) close(fd);
    fds.clear();
    error = answer.rfind("ERR ", 0) == 0 ? "tidewatch-capture: " + OneLine(answer.substr(4))
                                         : "the capture helper ended without an answer";
    return false;
}

int OpenOwnSocket(const char* interface, int type, int protocol, std::string& error) {
    const unsigned index = if_nametoindex(interface);
    if (index == 0) {
        error = std::string("no interface named ") + interface;
        return -1;
    }
    const int fd = socket(AF_PACKET, type | SOCK_CLOEXEC, htons(static_cast<uint16_t>(protocol)));
    if (fd < 0) {
        error = SystemText("packet socket", errno);
        return -1;
    }
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(static_cast<uint16_t>(protocol));
    link.sll_ifindex = static_cast<int>(index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        error = SystemText(std::string("cannot bind to ") + interface, errno);
        close(fd);
        return -1;
    }
    return fd;
}

// 1 when the file's permitted capabilities hold cap_net_raw, whoever may run it; 0 when not, -1
// when they cannot be read (no such file included).
int FileHoldsNetRaw(const std::string& path) {
    // vfs_cap_data, little-endian: the revision word, then permitted and inheritable of each
    // 32-bit half (one half in revision 1), then in revision 3 the owner of the namespace.
    uint8_t data[24] = {};
    const ssize_t n = getxattr(path.c_str(), "security.capability", data, sizeof data);
    if (n < 0) return errno == ENODATA || errno == ENOTSUP ? 0 : -1;
    auto word = [&](size_t at) {
        return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
               static_cast<uint32_t>(data[at + 2]) << 16 |
               static_cast<uint32_t>(data[at + 3]) << 24;
    };
    if (n < 12) return -1;
    const uint32_t revision = word(0) & 0xff000000u;
    const bool known = (revision == 0x01000000u && n == 12) ||
                       (revision == 0x02000000u && n == 20) ||
                       (revision == 0x03000000u && n == 24);
    if (!known) return -1;
    // Capabilities that belong to another user namespace's root give this one nothing.
    if (revision == 0x03000000u && word(20) != 0) return 0;
    return (word(4) & (1u << CAP_NET_RAW)) != 0 ? 1 : 0;
}

}  // namespace

int HoldsNetRaw() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return -1;
    return (data[0].effective & (1u << CAP_NET_RAW)) != 0 ? 1 : 0;
}

int HelperHoldsNetRaw(const std::string& path) {
    return access(path.c_str(), X_OK) != 0 ? 0 : FileHoldsNetRaw(path);
}

HelperCommand DefaultHelper() {
    // A test points the program at a helper copy of its own. That grants nothing: this process
    // holds no right, and running a program only ever gives the rights its file already has,
    // which the user could have by running it directly. Only an absolute path: no search.
    if (const char* chosen = std::getenv(kHelperVariable); chosen && chosen[0] == '/') {
        return {chosen};
    }
    std::error_code failed;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", failed);
    if (failed) return {};
    const std::filesystem::path folder = exe.parent_path();
    // The copy beside the executable serves when it holds the right (the installed window's
    // folder, where a user outside the group may not run it and is told so); a build tree's
    // copy without it does not hide the installed one.
    const std::filesystem::path beside = folder / kHelperFile;
    if (FileHoldsNetRaw(beside.string()) == 1) return {beside.string()};
    for (const std::filesystem::path& candidate :
         {folder / TW_PROVIDER_RELDIR / kHelperFile, std::filesystem::path(kBuildTreeHelper)}) {
        if (access(candidate.c_str(), F_OK) == 0) return {candidate.lexically_normal().string()};
    }
    return {};
}

int AdministratorCheck() {
    const int self = HoldsNetRaw();
    if (self != 0) return self;
    const HelperCommand helper = DefaultHelper();
    return helper.empty() ? 0 : HelperHoldsNetRaw(helper.front());
}

std::string PacketRequest(const char* interface, int type, int protocol) {
    return std::string("TWCAP 1 packet ") + interface + " " + TypeName(type) + " " +
           ProtocolName(protocol) + "\n";
}

std::string SendRequest(const char* interface) {
    return std::string("TWCAP 1 send ") + interface + "\n";
}

// The capture filter as the request carries it: lowercase hexadecimal, two digits a byte, so that
// its blanks do not split fields.
std::string HexText(const std::string& text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : text) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::string PcapRequest(const char* device, int snapshotLength, int bufferBytes, int timeoutMs,
                        const std::string& filter) {
    return std::string("TWCAP 1 pcap ") + device + " " + std::to_string(snapshotLength) + " " +
           std::to_string(bufferBytes) + " " + std::to_string(timeoutMs) +
           (filter.empty() ? "" : " " + HexText(filter)) + "\n";
}

int RequestSocket(const HelperCommand& helper, const std::string& request, std::string& error,
                  int* waitStatus) {
    pid_t pid = -1;
    int socket = -1;
    if (!Spawn(helper, pid, socket, error)) return -1;
    std::string detail;
    std::vector<int> fds;
    const bool answered = Ask(socket, request, detail, fds, error);
    close(socket);
    const int status = Reap(pid, kEndWaitMs);
    if (waitStatus) *waitStatus = status;
    if (answered && fds.size() == 1) return fds[0];
    for (const int fd : fds) close(fd);
    if (answered) error = "the capture helper handed over no socket";
    return -1;
}

int OpenPacketSocket(const char* interface, int type, int protocol, std::string& error) {
    if (HoldsNetRaw() == 1) return OpenOwnSocket(interface, type, protocol, error);
    return RequestSocket(DefaultHelper(), PacketRequest(interface, type, protocol), error);
}

int OpenSendSocket(const char* interface, std::string& error) {
    if (HoldsNetRaw() == 1) return OpenOwnSocket(interface, SOCK_RAW, 0, error);
    return RequestSocket(DefaultHelper(), SendRequest(interface), error);
}

// ---- PcapStream ----

bool PcapStream::Open(const HelperCommand& helper, const char* device, int snapshotLength,
                      int bufferBytes, int timeoutMs, const std::string& filter,
                      std::string& error) {
    Close();
    closedCounts_ = false;
    if (!Spawn(helper, pid_, socket_, error)) return false;
    std::string detail;
    std::vector<int> fds;
    bool good = Ask(socket_, PcapRequest(device, snapshotLength, bufferBytes, timeoutMs, filter),
                    detail, fds, error);
    struct stat shape{};
    const uint64_t total = kRingHeaderBytes + kRingDataBytes;
    void* map = MAP_FAILED;
    if (good && (fds.size() != 3 || fstat(fds[0], &shape) != 0 ||
                 static_cast<uint64_t>(shape.st_size) != total ||
                 (map = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
                              fds[0], 0)) ==
                     MAP_FAILED)) {
        error = "the capture helper handed over no frame ring";
        good = false;
    }
    if (good && static_cast<RingHeader*>(map)->magic != kRingMagic) {
        munmap(map, total);
        error = "the capture helper handed over no frame ring";
        good = false;
    }
    if (!fds.empty()) close(fds[0]);
    if (!good) {
        for (size_t i = 1; i < fds.size(); ++i) close(fds[i]);
        Close();
        return false;
    }
    header_ = static_cast<RingHeader*>(map);
    data_ = static_cast<uint8_t*>(map) + kRingHeaderBytes;
    dataEvent_ = fds[1];
    spaceEvent_ = fds[2];
    ended_ = false;
    reason_.clear();
    return true;
}

int PcapStream::LinkType() const {
    return header_ ? static_cast<int>(header_->linkType) : -1;
}

void PcapStream::Fail(std::string reason) {
    if (ended_) return;
    ended_ = true;
    reason_ = std::move(reason);
}

int PcapStream::Drain(Handler handler, void* user) {
    RingHeader& ring = *header_;
    const uint64_t head = ring.head.load();
    uint64_t tail = ring.tail.load(std::memory_order_relaxed);
    uint64_t released = tail;
    if (head - tail > kRingDataBytes) {
        Fail("the capture helper broke its frame ring");
        return -1;
    }
    int handed = 0;
    while (tail != head) {
        const uint64_t offset = tail % kRingDataBytes;
        const uint64_t left = kRingDataBytes - offset;
        // Less room than a header, or a padding record, ends the round of the ring.
        FrameRecord record{};
        uint64_t size = left;
        bool frame = false;
        if (left >= sizeof record) {
            std::memcpy(&record, data_ + offset, sizeof record);
            frame = record.caplen != kRingPadding;
            size = frame ? record.size : record.size == left ? left : 0;
        }
        if (size < 8 || size % 8 != 0 || size > left || size > head - tail ||
            (frame && (size < sizeof record || record.caplen > size - sizeof record))) {
            Fail("the capture helper broke its frame ring");
            return -1;
        }
        if (frame) {
            handler(user, Frame{record.seconds, record.nanoseconds, record.caplen, record.length},
                    data_ + offset + sizeof record);
            ++handed;
        }
        tail += size;
        // Room is given back in quarters of the ring, not frame by frame.
        if (tail - released >= kRingDataBytes / 4) {
            ring.tail.store(tail, std::memory_order_release);
            released = tail;
        }
    }
    ring.tail.store(tail, std::memory_order_release);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (ring.writerWaiting.exchange(0)) {
        const uint64_t one = 1;
        (void)!write(spaceEvent_, &one, sizeof one);
    }
    return handed;
}

int PcapStream::Deliver(int waitMs, Handler handler, void* user, std::string& ended) {
    if (!header_) {
        ended = "no capture helper is running";
        return -1;
    }
    int handed = ended_ ? 0 : Drain(handler, user);
    if (handed == 0 && !ended_) {
        header_->readerWaiting.store(1);
        if (header_->head.load() == header_->tail.load()) {
            pollfd wait[2] = {{dataEvent_, POLLIN, 0}, {socket_, POLLIN, 0}};
            if (poll(wait, 2, waitMs) > 0 && wait[1].revents) {
                char text[512];
                const ssize_t n = recv(socket_, text, sizeof text, MSG_DONTWAIT);
                const std::string answer(text, n > 0 ? static_cast<size_t>(n) : 0);
                Fail(answer.rfind("END ", 0) == 0 ? OneLine(answer.substr(4))
                                                   : "the capture helper ended unexpectedly");
            }
        }
        header_->readerWaiting.store(0);
        uint64_t ignored;
        (void)!read(dataEvent_, &ignored, sizeof ignored);
        handed = Drain(handler, user);
    }
    if (handed > 0) return handed;
    if (ended_) {
        ended = reason_;
        return -1;
    }
    return 0;
}

bool PcapStream::Counts(uint64_t& received, uint64_t& dropped) const {
    if (!header_ && !closedCounts_) return false;
    received = header_ ? header_->received.load() : received_;
    dropped = header_ ? header_->dropped.load() : dropped_;
    return true;
}

void PcapStream::Close() {
    if (pid_ > 0) {
        if (!ended_ && send(socket_, "STOP\n", 5, MSG_NOSIGNAL) == 5) {
            pollfd wait{socket_, POLLIN, 0};
            poll(&wait, 1, kStopWaitMs);  // its "END" comes once the counts are written
        }
        Reap(pid_, kEndWaitMs);
        pid_ = -1;
    }
    if (header_) {
        // The helper's last counts, written before its "END", outlive the ring.
        closedCounts_ = Counts(received_, dropped_);
        munmap(header_, kRingHeaderBytes + kRingDataBytes);
    }
    header_ = nullptr;
    data_ = nullptr;
    for (int* fd : {&socket_, &dataEvent_, &spaceEvent_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

}  // namespace CaptureRights
