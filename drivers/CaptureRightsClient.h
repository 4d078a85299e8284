// Where the drivers get what only the capture right (CAP_NET_RAW) can open. A process that holds
// the right opens its packet sockets itself; any other asks tidewatch-capture, the small helper
// that holds the right as a file capability, over a socket pair (helper/Request.h has the
// request). The helper hands packet sockets over as descriptors; for libpcap it runs the library
// itself and streams the frames back through a shared ring (PcapStream).
//
// Plain C++ and POSIX: the drivers' capture code and the helper (which includes this header for
// the ring's layout, nothing else) link no Qt.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace CaptureRights {

// ---- What the helper and its caller share ----

constexpr const char* kHelperFile = "tidewatch-capture";
// Where `sudo scripts/capture-rights` installs a build tree's helper.
constexpr const char* kBuildTreeHelper = "/usr/local/lib/tidewatch/tidewatch-capture";
// An absolute path to the helper to run instead of looking for one (tests).
constexpr const char* kHelperVariable = "TIDEWATCH_CAPTURE_HELPER";
// The helper's end of the socket pair (SOCK_SEQPACKET): one request in, one reply out ("OK ..."
// with descriptors, or "ERR reason"), then for a stream "STOP" in and "END reason" out.
constexpr int kHelperSocket = 3;

// The shared ring of a stream: a memfd holding this header in its first page and the frame
// records after it. The helper writes records and advances head; the caller reads them and
// advances tail (both count bytes since the start, never wrap). Each side sets its waiting flag
// before it sleeps on its eventfd and the other side writes that eventfd only when the flag is
// set, so that a busy stream costs no system call per frame.
constexpr uint32_t kRingMagic = 0x31525754;  // "TWR1"
constexpr uint64_t kRingHeaderBytes = 4096;
// Small enough to stay in the processor's cache between the two sides: with 8 MiB every frame
// came from memory and the helper's copy cost half as much again. The kernel's own ring holds
// a burst while the reader catches up.
constexpr uint64_t kRingDataBytes = 2u << 20;
struct RingHeader {
    uint32_t magic;
    uint32_t linkType;                  // pcap_datalink of the open device
    alignas(64) std::atomic<uint64_t> head;
    alignas(64) std::atomic<uint64_t> tail;
    alignas(64) std::atomic<uint32_t> writerWaiting;
    std::atomic<uint32_t> readerWaiting;
    std::atomic<uint64_t> received;     // the kernel's counts, brought up to date now and then
    std::atomic<uint64_t> dropped;
};
static_assert(sizeof(RingHeader) <= kRingHeaderBytes);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

// One frame in the ring: this header, then caplen bytes, the whole padded to 8 bytes. A record
// with caplen kRingPadding only fills the room left before the end of the ring.
struct FrameRecord {
    uint32_t size;  // of the record, header and padding included
    uint32_t caplen;
    uint32_t length;  // on the wire
    uint32_t nanoseconds;
    int64_t seconds;  // the kernel's receive time
};
constexpr uint32_t kRingPadding = 0xffffffffu;

// ---- The caller's side ----

// How to run the helper: its path, or for the tests a wrapper before it (a change of user, a
// namespace). Empty: the helper could not be found.
using HelperCommand = std::vector<std::string>;

// 1 when this process holds CAP_NET_RAW in its effective set, 0 when not, -1 when it cannot tell.
int HoldsNetRaw();
// The helper named by kHelperVariable; else the one beside the executable when it holds
// cap_net_raw (a build tree); else the one in the installed private folder, else kBuildTreeHelper.
HelperCommand DefaultHelper();
// 1 when this user may run the helper at `path` and it holds cap_net_raw in its permitted file
// capabilities, 0 when not, -1 when its capabilities cannot be read.
int HelperHoldsNetRaw(const std::string& path);
// The administrator check: 1 when the process holds CAP_NET_RAW or the helper can open capture
// sockets for it, 0 when neither, -1 when the check itself cannot be made.
int AdministratorCheck();

// The requests, as the helper reads them.
std::string PacketRequest(const char* interface, int type, int protocol);
std::string SendRequest(const char* interface);
std::string PcapRequest(const char* device, int snapshotLength, int bufferBytes, int timeoutMs,
                        const std::string& filter = {});

// A packet socket (type SOCK_RAW or SOCK_DGRAM, protocol 0, ETH_P_ALL or ETH_P_IP in host order)
// bound to the interface, close-on-exec, from this process or from the helper; -1 with the
// reason in one line in `error`.
int OpenPacketSocket(const char* interface, int type, int protocol, std::string& error);
// A packet socket bound to the interface that only sends (protocol 0).
int OpenSendSocket(const char* interface, std::string& error);
// The same from a given helper, whatever this process holds; the helper's wait status in
// `waitStatus` when given.
int RequestSocket(const HelperCommand& helper, const std::string& request, std::string& error,
                  int* waitStatus = nullptr);

// libpcap run by the helper on one device, its frames streamed back. For a process without the
// right; a process with it runs libpcap itself.
class PcapStream {
public:
    struct Frame {
        int64_t seconds;
        uint32_t nanoseconds;
        uint32_t caplen;
        uint32_t length;
    };
    // Called for each frame; `data` holds caplen bytes, valid only during the call.
    using Handler = void (*)(void* user, const Frame& frame, const uint8_t* data);

    PcapStream() = default;
    ~PcapStream() { Close(); }
    PcapStream(const PcapStream&) = delete;
    PcapStream& operator=(const PcapStream&) = delete;

    // Starts the helper on the device, with the capture filter expression (empty: none); false
    // with the reason in `error`.
    bool Open(const HelperCommand& helper, const char* device, int snapshotLength,
              int bufferBytes, int timeoutMs, const std::string& filter, std::string& error);
    bool IsOpen() const { return header_ != nullptr; }
    // pcap_datalink of the device.
    int LinkType() const;
    // Hands over the frames that are there, else waits up to waitMs for some. The number handed
    // over, or -1 once the stream has ended by itself (the helper's reason in `ended`) and every
    // frame it wrote has been handed over.
    int Deliver(int waitMs, Handler handler, void* user, std::string& ended);
    // The kernel's counts as the helper last read them, after Close its last ones; false
    // before a stream was opened.
    bool Counts(uint64_t& received, uint64_t& dropped) const;
    // Asks the helper to stop and waits for it, at most a second; then ends it.
    void Close();
    pid_t HelperPid() const { return pid_; }

private:
    int Drain(Handler handler, void* user);
    void Fail(std::string reason);

    pid_t pid_ = -1;
    int socket_ = -1, dataEvent_ = -1, spaceEvent_ = -1;
    RingHeader* header_ = nullptr;
    uint8_t* data_ = nullptr;
    bool ended_ = false;
    std::string reason_;
    bool closedCounts_ = false;  // the counts below are those of the last stream, now closed
    uint64_t received_ = 0, dropped_ = 0;
};

}  // namespace CaptureRights
