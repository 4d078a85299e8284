// Real traffic for the tests: two network namespaces joined by a veth pair, programs run in
// them, tcpdump capturing on one end, and tshark's dissection of the capture as field values.
// Everything here needs root; the namespaces, the link and whatever still runs inside them are
// removed however a test ends.
//
// The link says nothing of its own accord: both ends know each other's hardware address for
// good (no ARP or neighbour discovery, no re-validation seconds later), and ICMP errors are not
// rate-limited, so that the same traffic gets the same answers however busy the machine is.
// Waits are for the frames themselves, bounded generously; nothing waits a fixed time.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/Bytes.h"
#include "tests/files/FileTestSupport.h"

namespace netns {

using Clock = std::chrono::steady_clock;
using Fields = std::map<std::string, std::string>;

inline std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Runs a command to its end; its output (both streams) goes to `output`.
inline int Shell(const std::string& command, std::string* output = nullptr) {
    int status = -1;
    std::string out = filetest::RunShell(command + " 2>&1", &status);
    if (output) *output = out;
    return status;
}

inline std::string FileText(const std::string& path) {
    const auto bytes = filetest::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Polls until the check holds or the time is up.
template <class Check>
bool WaitFor(Check check, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!check()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A process of our own in the background, its output in a file; stopped by its id, and killed
// when the object goes.
class Background {
public:
    Background(const std::vector<std::string>& argv, const std::string& log,
               const std::string& input = "/dev/null") {
        pid_ = fork();
        if (pid_ == 0) {
            const int in = open(input.c_str(), O_RDONLY);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0) _exit(127);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> args;
            for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~Background() { Stop(SIGKILL, std::chrono::milliseconds(0)); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Waits for the process to end by itself; true when it did within the time.
    bool Wait(std::chrono::milliseconds limit) {
        if (pid_ <= 0) return true;
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        if (ended) pid_ = -1;
        return ended;
    }

    // Sends the signal and waits for the exit; SIGKILL after the grace time. True when the
    // process ended by itself within it.
    bool Stop(int signal, std::chrono::milliseconds grace) {
        if (pid_ <= 0) return false;
        kill(pid_, signal);
        const auto deadline = Clock::now() + grace;
        int status = 0;
        for (;;) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            if (Clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return false;
    }

private:
    pid_t pid_ = -1;
};

// Transmit checksum offload off, as `ethtool -K IF tx off` does. With it on, the kernel leaves
// TCP and UDP checksums to a "card" that never fills them in, and every capture would show them
// as wrong.
inline bool DisableTxChecksumOffload(const std::string& interface) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ethtool_value value{};
    value.cmd = ETHTOOL_STXCSUM;
    value.data = 0;
    ifreq request{};
    std::strncpy(request.ifr_name, interface.c_str(), IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&value);
    const bool ok = ioctl(fd, SIOCETHTOOL, &request) == 0;
    close(fd);
    return ok;
}

// The addresses of the two ends of the link; the IPv6 ones may be left empty, and so may the
// hardware addresses (the kernel then picks them; Connect reads them back). A quiet link has
// IPv6 switched off on both ends, so that neither sends anything (router solicitations,
// listener reports) on its own.
struct LinkAddresses {
    std::string v4A, v4B;
    int v4Prefix = 24;
    std::string v6A, v6B;
    std::string macA, macB;
    bool quiet = false;
};

// Two namespaces joined by a veth pair. The destructor kills whatever still runs inside them
// (daemons that detached from the process we started included) and deletes both.
class NamespacePair {
public:
    explicit NamespacePair(const std::string& tag)
        : a("twA" + tag), b("twB" + tag), ifA("twa" + tag), ifB("twb" + tag) {}
    ~NamespacePair() {
        for (const std::string* name : {&a, &b}) {
            std::istringstream pids(filetest::RunShell("ip netns pids " + *name + " 2>/dev/null"));
            for (pid_t pid; pids >> pid;) {
                if (pid > 1) kill(pid, SIGKILL);
            }
        }
        Shell("ip netns del " + a);
        Shell("ip netns del " + b);
        Shell("ip link del " + ifA);  // only there when setting up stopped half way
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    // Creates both namespaces. False when this machine does not allow namespaces at all
    // (error says why); when only the second cannot be made, Connect fails with the reason.
    bool Add(std::string* error) {
        if (Shell("ip netns add " + a, error) != 0) return false;
        if (Shell("ip netns add " + b, &addError_) != 0) {
            addError_ = "ip netns add " + b + ": " + addError_;
        } else {
            addError_.clear();
        }
        return true;
    }

    // The veth pair with checksum offload off (switched off before the ends move into the
    // namespaces), loopback and both ends up, the addresses set (IPv4 with its broadcast
    // address, which broadcasting daemons need), each end's neighbour entry for the other
    // permanent and ICMP errors not rate-limited. False with the failed command in error.
    bool Connect(const LinkAddresses& addresses, std::string* error) {
        if (!addError_.empty()) {
            if (error) *error = addError_;
            return false;
        }
        std::string output;
        const std::string link = "ip link add " + ifA + " type veth peer name " + ifB;
        if (Shell(link, &output) != 0) {
            if (error) *error = link + ": " + output;
            return false;
        }
        offloadOff_ = DisableTxChecksumOffload(ifA) && DisableTxChecksumOffload(ifB);
        const std::string prefix = "/" + std::to_string(addresses.v4Prefix);
        std::vector<std::string> setup = {
            "ip link set " + ifA + " netns " + a,
            "ip link set " + ifB + " netns " + b,
            InA("ip link set lo up"),
            InB("ip link set lo up"),
            InA("ip addr add " + addresses.v4A + prefix + " brd + dev " + ifA),
            InB("ip addr add " + addresses.v4B + prefix + " brd + dev " + ifB),
        };
        if (!addresses.macA.empty()) {
            setup.push_back(InA("ip link set " + ifA + " address " + addresses.macA));
            setup.push_back(InB("ip link set " + ifB + " address " + addresses.macB));
        }
        if (addresses.quiet) {
            setup.push_back(InA("sysctl -qw net.ipv6.conf." + ifA + ".disable_ipv6=1"));
            setup.push_back(InB("sysctl -qw net.ipv6.conf." + ifB + ".disable_ipv6=1"));
        }
        if (!addresses.v6A.empty()) {
            setup.push_back(InA("ip -6 addr add " + addresses.v6A + "/64 dev " + ifA + " nodad"));
            setup.push_back(InB("ip -6 addr add " + addresses.v6B + "/64 dev " + ifB + " nodad"));
        }
        // An ICMP error answers every datagram that asks for one, however many came before.
        setup.push_back(InA("sysctl -qw net.ipv4.icmp_ratemask=0"));
        setup.push_back(InB("sysctl -qw net.ipv4.icmp_ratemask=0"));
        setup.push_back(InA("ip link set " + ifA + " up"));
        setup.push_back(InB("ip link set " + ifB + " up"));
        if (!RunAll(setup, error)) return false;
        macA = addresses.macA.empty() ? HardwareAddress(a, ifA) : addresses.macA;
        macB = addresses.macB.empty() ? HardwareAddress(b, ifB) : addresses.macB;
        if (macA.empty() || macB.empty()) {
            if (error) *error = "cannot read the hardware addresses of " + ifA + " and " + ifB;
            return false;
        }
        // Permanent entries: neither end ever asks for the other's address, nor checks it
        // again while a test runs.
        std::vector<std::string> neighbours = {
            InA("ip neigh replace " + addresses.v4B + " lladdr " + macB + " dev " + ifA +
                " nud permanent"),
            InB("ip neigh replace " + addresses.v4A + " lladdr " + macA + " dev " + ifB +
                " nud permanent"),
        };
        if (!addresses.v6A.empty()) {
            neighbours.push_back(InA("ip -6 neigh replace " + addresses.v6B + " lladdr " + macB +
                                     " dev " + ifA + " nud permanent"));
            neighbours.push_back(InB("ip -6 neigh replace " + addresses.v6A + " lladdr " + macA +
                                     " dev " + ifB + " nud permanent"));
        }
        return RunAll(neighbours, error);
    }

    // Whether transmit checksum offload could be switched off on both ends.
    bool OffloadOff() const { return offloadOff_; }

    std::string InA(const std::string& command) const {
        return "ip netns exec " + a + " " + command;
    }
    std::string InB(const std::string& command) const {
        return "ip netns exec " + b + " " + command;
    }
    std::vector<std::string> ArgvA(std::vector<std::string> argv) const { return In(a, argv); }
    std::vector<std::string> ArgvB(std::vector<std::string> argv) const { return In(b, argv); }

    // True when a socket in namespace B is bound to the port ("udp" or "tcp" listening).
    bool ListeningInB(const std::string& protocol, int port) const {
        std::string sockets;
        Shell(InB(std::string("ss -ln") + (protocol == "udp" ? "u" : "t")), &sockets);
        return sockets.find(":" + std::to_string(port) + " ") != std::string::npos;
    }

    const std::string a, b, ifA, ifB;
    // The hardware addresses of the two ends ("02:00:00:00:00:0a"), known once connected.
    std::string macA, macB;

private:
    static std::vector<std::string> In(const std::string& name, std::vector<std::string> argv) {
        argv.insert(argv.begin(), {"ip", "netns", "exec", name});
        return argv;
    }

    static bool RunAll(const std::vector<std::string>& commands, std::string* error) {
        std::string output;
        for (const std::string& command : commands) {
            if (Shell(command, &output) != 0) {
                if (error) *error = command + ": " + output;
                return false;
            }
        }
        return true;
    }

    static std::string HardwareAddress(const std::string& name, const std::string& interface) {
        std::string output;
        if (Shell("ip netns exec " + name + " cat /sys/class/net/" + interface + "/address",
                  &output) != 0) {
            return {};
        }
        return Trim(output);
    }

    std::string addError_ = "not added";
    bool offloadOff_ = false;
};

// Sends one Ethernet frame, as it is, on the interface of a namespace: a child process enters
// the namespace (the test process stays where it is). True when the whole frame was sent.
inline bool SendFrame(const std::string& name, const std::string& interface,
                      const filetest::Bytes& frame) {
    // Everything the child needs is made before the fork: it only makes system calls.
    const std::string path = "/var/run/netns/" + name;
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const int space = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (space < 0 || setns(space, CLONE_NEWNET) != 0) _exit(1);
        // Protocol 0: the socket sends and receives nothing.
        const int fd = socket(AF_PACKET, SOCK_RAW, 0);
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
        to.sll_halen = ETH_ALEN;
        const ssize_t sent =
            fd < 0 || to.sll_ifindex == 0
                ? -1
                : sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to);
        _exit(sent == static_cast<ssize_t>(frame.size()) ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// "02:00:00:00:00:0a" as six bytes (zeros for a text that is not one).
inline filetest::Bytes MacBytes(const std::string& text) {
    unsigned values[6] = {};
    filetest::Bytes mac(6, 0);
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &values[0], &values[1], &values[2],
                    &values[3], &values[4], &values[5]) == 6) {
        for (size_t i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(values[i]);
    }
    return mac;
}

// A frame that nobody on the link answers or takes for anything (the IEEE local experimental
// EtherType), told apart from every other frame by a text of its own.
inline filetest::Bytes MarkerFrame(const std::string& to, const std::string& from) {
    static int serial = 0;
    filetest::Bytes frame = MacBytes(to);
    const filetest::Bytes source = MacBytes(from);
    frame.insert(frame.end(), source.begin(), source.end());
    frame.push_back(0x88);
    frame.push_back(0xb5);
    const std::string text =
        "tidewatch test marker " + std::to_string(getpid()) + "." + std::to_string(++serial);
    frame.insert(frame.end(), text.begin(), text.end());
    frame.resize(std::max<size_t>(frame.size(), 60), 0);
    return frame;
}

// tcpdump writing everything on namespace A's end of the link (or B's) to a pcap file.
class Capture {
public:
    Capture(const NamespacePair& net, const std::string& pcap, const std::string& log,
            bool onB = false)
        : net_(net),
          pcap_(pcap),
          onB_(onB),
          log_(log),
          // Immediate mode: otherwise the frames of a ring block not yet handed over when
          // tcpdump is stopped are lost.
          tcpdump_((onB ? net.ArgvB({"tcpdump", "-i", net.ifB, "-n", "--immediate-mode", "-U",
                                     "-s", "0", "-w", pcap})
                        : net.ArgvA({"tcpdump", "-i", net.ifA, "-n", "--immediate-mode", "-U",
                                     "-s", "0", "-w", pcap})),
                   log) {}

    // Waits until tcpdump says it listens (generously: the bound only ends a failure).
    bool Started(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        return WaitFor([&] { return FileText(log_).find("listening on") != std::string::npos; },
                       limit);
    }

    // True when tcpdump ended by itself on SIGINT, having written out what it had.
    bool Stop() { return tcpdump_.Stop(SIGINT, std::chrono::seconds(5)); }

    // Stops tcpdump once it has written every frame that its end of the link sent or took in
    // so far: a marker frame goes out from that end, and tcpdump takes frames in the order they
    // pass, so what came before the marker is in the file when the marker is. True when the
    // marker was written and tcpdump ended by itself. (The marker stays in the file.)
    bool StopWhenWritten(std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    const NamespacePair& net_;
    std::string pcap_;
    bool onB_;
    std::string log_;
    Background tcpdump_;
};

// The frames of a pcap file as tcpdump writes it (either byte order, any link type), in order;
// reading stops at the first record that does not fit.
inline std::vector<filetest::Bytes> PcapFrames(const std::string& path) {
    const filetest::Bytes file = filetest::ReadFile(path);
    std::vector<filetest::Bytes> frames;
    if (file.size() < 24) return frames;
    const bool swapped = file[0] == 0xa1;  // the magic number written big-endian
    auto u32 = [&](size_t at) {
        return swapped ? bytes::LoadBe32(&file[at]) : bytes::LoadLe32(&file[at]);
    };
    for (size_t at = 24; at + 16 <= file.size();) {
        const uint32_t captured = u32(at + 8);
        if (captured > file.size() - at - 16) break;
        frames.emplace_back(file.begin() + static_cast<long>(at + 16),
                            file.begin() + static_cast<long>(at + 16 + captured));
        at += 16 + captured;
    }
    return frames;
}

// Polls the frames tcpdump has written to the file until the check holds or the time is up.
template <class Check>
bool WaitForFrames(const std::string& pcap, Check check, std::chrono::milliseconds limit) {
    return WaitFor([&] { return check(PcapFrames(pcap)); }, limit);
}

inline bool Capture::StopWhenWritten(std::chrono::milliseconds limit) {
    const filetest::Bytes marker =
        onB_ ? MarkerFrame(net_.macA, net_.macB) : MarkerFrame(net_.macB, net_.macA);
    const bool sent =
        onB_ ? SendFrame(net_.b, net_.ifB, marker) : SendFrame(net_.a, net_.ifA, marker);
    auto markerWritten = [&](const std::vector<filetest::Bytes>& frames) {
        return std::find(frames.begin(), frames.end(), marker) != frames.end();
    };
    const bool written = sent && WaitForFrames(pcap_, markerWritten, limit);
    return Stop() && written;
}

// One stored frame of an own-format capture file: its frame type and bytes.
struct StoredFrame {
    uint16_t frameType;
    filetest::Bytes bytes;
};
inline std::vector<StoredFrame> OwnFileFrames(const std::string& path) {
    const filetest::Bytes file = filetest::ReadFile(path);
    std::vector<StoredFrame> frames;
    bytes::Reader reader(file.data(), file.size());
    while (reader.Remaining() >= 12) {
        const uint16_t frameType = reader.Le16();
        reader.Skip(2);
        const uint32_t length = reader.Le32();
        reader.Skip(4);
        const auto data = reader.Bytes(length);
        if (!reader.Ok()) break;
        frames.push_back({frameType, filetest::Bytes(data.begin(), data.end())});
    }
    return frames;
}

// The peer sends the frames, in this order, from namespace B's end of the link (tcpreplay
// reads them from a pcap file written to `pcap`). False with tcpreplay's output in error.
inline bool SendFromB(const NamespacePair& net, const std::vector<filetest::Bytes>& frames,
                      const std::string& pcap, std::string* error,
                      const std::string& options = "") {
    std::vector<filetest::PcapRecord> records;
    for (const filetest::Bytes& frame : frames) records.push_back({0, 0, frame});
    const filetest::Bytes file = filetest::PcapFile(records);
    std::ofstream(pcap, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return Shell(net.InB("tcpreplay -q " + options + " -i " + net.ifB + " " + pcap), error) == 0;
}

// The program's headless capture running in namespace A: `tidewatch --capture ...`, started
// through the given prefix (for instance a change of user), its output in a log.
class TidewatchCapture {
public:
    TidewatchCapture(const NamespacePair& net, const std::vector<std::string>& prefix,
                     const std::string& program, const std::vector<std::string>& options,
                     const std::string& log)
        : log_(log), process_(Argv(net, prefix, program, options), log) {}

    // Waits until the driver has started ("Capturing (...)" in the log), or the program ended.
    // Generous: under a sanitizer and beside other tests, a start once took more than five
    // seconds. A start that never comes still fails.
    bool Started(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        // A line of its own: "Not Capturing (...)" must not count.
        return WaitFor(
            [&] {
                const std::string log = Log();
                return log.rfind("Capturing (", 0) == 0 ||
                       log.find("\nCapturing (") != std::string::npos;
            },
            limit);
    }
    // Interrupts the capture; true when the program ended by itself, having written its file.
    bool Stop() { return process_.Stop(SIGINT, std::chrono::seconds(10)); }
    // Waits for a capture with a packet count (--count) to end by itself, having written its
    // file; interrupts it when the time is up. True when it ended by itself.
    bool Finish(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        if (process_.Wait(limit)) return true;
        Stop();
        return false;
    }
    std::string Log() const { return FileText(log_); }

private:
    static std::vector<std::string> Argv(const NamespacePair& net,
                                         const std::vector<std::string>& prefix,
                                         const std::string& program,
                                         const std::vector<std::string>& options) {
        std::vector<std::string> argv = prefix;
        argv.push_back(program);
        argv.push_back("--capture");
        argv.insert(argv.end(), options.begin(), options.end());
        return net.ArgvA(argv);
    }

    std::string log_;
    Background process_;
};

// One map per frame of the capture, from tshark field name to its value (fields without a value
// left out); `options` picks tshark's occurrence and preference settings. Times are in UTC.
inline std::vector<Fields> TsharkFields(const std::string& pcap,
                                        const std::vector<std::string>& fields,
                                        const std::string& options) {
    std::string command = "TZ=UTC tshark -r '" + pcap + "' -T fields -E separator=/t " + options;
    for (const std::string& field : fields) command += " -e " + field;
    const std::string out = filetest::RunShell(command + " 2>/dev/null");
    std::vector<Fields> frames;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        Fields values;
        size_t start = 0;
        for (const std::string& field : fields) {
            const size_t tab = line.find('\t', start);
            const std::string value =
                line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            if (!value.empty()) values[field] = value;
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        frames.push_back(values);
    }
    return frames;
}

// The calling thread inside a namespace of its own (one end of a pair, made by the caller) until
// the object goes: what it lists or opens is that namespace's alone, whatever other tests add
// to the machine meanwhile. Nothing changes when entering fails.
class ThreadInNamespace {
public:
    explicit ThreadInNamespace(const std::string& name) {
        const int target = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (target >= 0 && home_ >= 0 && setns(target, CLONE_NEWNET) == 0) {
            entered_ = true;
        }
        if (target >= 0) close(target);
    }
    ~ThreadInNamespace() {
        if (entered_) setns(home_, CLONE_NEWNET);
        if (home_ >= 0) close(home_);
    }
    ThreadInNamespace(const ThreadInNamespace&) = delete;
    ThreadInNamespace& operator=(const ThreadInNamespace&) = delete;

    bool Entered() const { return entered_; }

private:
    int home_ = -1;
    bool entered_ = false;
};

}  // namespace netns
