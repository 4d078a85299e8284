// Faults injected into `tidewatch --capture` inside network namespaces of the test's own, for every
// capture method, in one harness: the link going down and up, the interface deleted, the address
// removed, outputs that cannot be written, a full disk under an existing file, a hang-up, bad
// arguments. Each row says the exit code, the last line on standard error and what the file
// holds. Beside them: stored times against tcpdump's, loopback datagrams stored once, and what
// the kernel filters keep.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "decode/FrameBuilder.h"
#include "tests/support/NetNamespaces.h"

namespace {

namespace fs = std::filesystem;
using filetest::Bytes;
using namespace std::chrono_literals;

const uint32_t kA = frames::IPv4Address(10, 214, 0, 1), kB = frames::IPv4Address(10, 214, 0, 2);
const frames::Mac kMacA{0x02, 0, 0, 0, 0x01, 0x0a}, kMacB{0x02, 0, 0, 0, 0x01, 0x0b};
constexpr uint16_t kPort = 7001;
const std::string kMarker = "tidewatch fault test ";

// One record of a capture file: its time (own format: ms; libpcap: µs), whether it is an
// Ethernet frame (else an IP datagram), and its bytes.
struct Timed {
    uint64_t time;
    bool ethernet;
    Bytes bytes;
};

std::vector<Timed> OwnRecords(const std::string& path) {
    const Bytes file = filetest::ReadFile(path);
    std::vector<Timed> records;
    for (size_t at = 0; at + 12 <= file.size();) {
        const uint32_t length = bytes::LoadLe32(&file[at + 4]);
        if (length > file.size() - at - 12) break;
        records.push_back(
            {bytes::LoadLe32(&file[at + 8]), bytes::LoadLe16(&file[at]) == 2,
             Bytes(file.begin() + long(at + 12), file.begin() + long(at + 12 + length))});
        at += 12 + length;
    }
    return records;
}

std::vector<Timed> PcapRecords(const std::string& path) {
    const Bytes file = filetest::ReadFile(path);
    std::vector<Timed> records;
    for (size_t at = 24; at + 16 <= file.size();) {
        const uint32_t length = bytes::LoadLe32(&file[at + 8]);
        if (length > file.size() - at - 16) break;
        const uint64_t time =
            uint64_t{bytes::LoadLe32(&file[at])} * 1000000 + bytes::LoadLe32(&file[at + 4]);
        records.push_back(
            {time, true,
             Bytes(file.begin() + long(at + 16), file.begin() + long(at + 16 + length))});
        at += 16 + length;
    }
    return records;
}

// The peer's datagram number n: UDP from B to A's port, its text naming it. Sent to an address
// that no one holds (`kNobody`), it reaches A's interface and draws no answer.
const uint32_t kNobody = frames::IPv4Address(10, 214, 0, 3);
Bytes PeerFrame(int n, size_t size, uint32_t to = kA) {
    std::string text = kMarker + std::to_string(n) + ".";
    text.resize(std::max(text.size(), size), '.');
    return frames::Ethernet(
        kMacA, kMacB, 0x0800,
        frames::IPv4(17, kB, to, frames::UDP(40000, kPort, frames::Text(text))));
}

// The number of the peer's datagram a stored frame holds; -1 for any other frame.
int PeerNumber(const Timed& record) {
    const Bytes& frame = record.bytes;
    const size_t ip = record.ethernet ? 14 : 0;
    if (record.ethernet && (frame.size() < 14 || bytes::LoadBe16(&frame[12]) != 0x0800)) return -1;
    if (frame.size() < ip + 28 || frame[ip + 9] != 17 || bytes::LoadBe32(&frame[ip + 12]) != kB) {
        return -1;
    }
    const size_t header = (frame[ip] & 0x0f) * 4u, text = ip + header + 8;
    if (frame.size() < text + kMarker.size() || bytes::LoadBe16(&frame[ip + header + 2]) != kPort) {
        return -1;
    }
    const std::string rest(frame.begin() + long(text), frame.end());
    if (rest.compare(0, kMarker.size(), kMarker) != 0) return -1;
    return std::atoi(rest.c_str() + kMarker.size());
}

// The peer's datagrams among the records, in their order.
std::vector<std::pair<int, uint64_t>> PeerRecords(const std::vector<Timed>& records) {
    std::vector<std::pair<int, uint64_t>> peer;
    for (const Timed& record : records) {
        if (const int n = PeerNumber(record); n >= 0) peer.emplace_back(n, record.time);
    }
    return peer;
}

std::vector<int> PeerNumbers(const std::vector<Timed>& records) {
    std::vector<int> numbers;
    for (const auto& [n, time] : PeerRecords(records)) numbers.push_back(n);
    return numbers;
}

std::vector<int> Range(int from, int to) {
    std::vector<int> numbers;
    for (int n = from; n < to; ++n) numbers.push_back(n);
    return numbers;
}

// `tidewatch --capture` in namespace A with settings of its own; standard error kept apart.
class Tidewatch {
public:
    Tidewatch(const netns::NamespacePair& net, const std::string& dir,
              std::vector<std::string> options)
        : err_(dir + "/stderr." + std::to_string(++serial_)) {
        options.insert(options.begin(), {TW_TIDEWATCH, "--capture"});
        const std::vector<std::string> argv = net.ArgvA(options);
        const std::string settings = dir + "/settings";
        pid_ = fork();
        if (pid_ == 0) {
            setenv("XDG_CONFIG_HOME", settings.c_str(), 1);
            setenv("XDG_STATE_HOME", settings.c_str(), 1);
            const int in = open("/dev/null", O_RDONLY), out = open("/dev/null", O_WRONLY);
            const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0) _exit(127);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> args;
            for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~Tidewatch() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool Started() {
        return netns::WaitFor(
                   [&] {
                       return Err().find("\nCapturing (") != std::string::npos ||
                              Err().rfind("Capturing (", 0) == 0 || exit_ != kRunning || Ended();
                   },
                   15s) &&
               exit_ == kRunning;
    }
    // The exit code once the process ended within the limit (SIGKILL after it: -1).
    int Exit(std::chrono::milliseconds limit = 20s) {
        if (!netns::WaitFor([&] { return Ended(); }, limit)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        return exit_;
    }
    void Signal(int signal) const { kill(pid_, signal); }
    std::string Err() const { return netns::FileText(err_); }
    std::string LastLine() const {
        std::string text = netns::Trim(Err());
        return text.substr(text.rfind('\n') + 1);
    }
    // Processor time used so far, in seconds; -1 when the process is gone.
    double CpuSeconds() const {
        const std::string stat = netns::FileText("/proc/" + std::to_string(pid_) + "/stat");
        if (pid_ <= 0 || stat.find(')') == std::string::npos) return -1;
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string skip;
        for (int i = 3; i < 14; ++i) fields >> skip;
        double user = 0, system = 0;
        fields >> user >> system;
        return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

private:
    static constexpr int kRunning = -2;
    bool Ended() {
        if (pid_ <= 0) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return true;
    }
    static inline int serial_ = 0;
    std::string err_;
    pid_t pid_ = -1;
    int exit_ = kRunning;
};

// A small file system of the test's own, unmounted however the test ends.
struct Mount {
    Mount(const std::string& at, unsigned long flags, const std::string& options) : path(at) {
        fs::create_directories(at);
        mounted = mount("tidewatch-test", at.c_str(), "tmpfs", flags, options.c_str()) == 0;
    }
    ~Mount() {
        if (mounted) umount2(path.c_str(), MNT_DETACH);
    }
    std::string path;
    bool mounted;
};

class CaptureFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root (network namespaces)";
        for (const char* tool : {"ip", "tcpdump", "tcpreplay", "ping"}) {
            if (!filetest::HaveTool(tool)) GTEST_SKIP() << "missing program " << tool;
        }
        dir_ = fs::current_path().string() + "/" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        Link();
    }

    // A new link: the old one and whatever runs in its namespaces go first.
    void Link() {
        net_.reset();
        net_ = std::make_unique<netns::NamespacePair>("f" + std::to_string(getpid() % 100000));
        std::string error;
        if (!net_->Add(&error)) GTEST_SKIP() << "cannot create network namespaces: " << error;
        const netns::LinkAddresses link{"10.214.0.1",        "10.214.0.2",        24,  "", "",
                                        "02:00:00:00:01:0a", "02:00:00:00:01:0b", true};
        ASSERT_TRUE(net_->Connect(link, &error)) << error;
    }

    std::unique_ptr<Tidewatch> Start(int method, const std::string& out,
                                     std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--write", out, "--method", std::to_string(method)});
        const std::vector<std::string> where =
            method == 1 ? std::vector<std::string>{"--address", "10.214.0.1"}
                        : std::vector<std::string>{"--device", net_->ifA};
        options.insert(options.end(), where.begin(), where.end());
        return std::make_unique<Tidewatch>(*net_, dir_, options);
    }

    // The peer's datagrams from..to, then a pause in which every method hands them over.
    void Send(int from, int to, size_t size = 64, const std::string& options = "",
              uint32_t address = kA) {
        std::vector<Bytes> frames;
        for (int n = from; n < to; ++n) frames.push_back(PeerFrame(n, size, address));
        std::string error;
        ASSERT_TRUE(netns::SendFromB(*net_, frames, dir_ + "/send.pcap", &error, options)) << error;
        std::this_thread::sleep_for(1s);
    }

    std::string dir_;
    std::unique_ptr<netns::NamespacePair> net_;
};

// The interface faults, every method. The file always holds what came before the fault.
TEST_F(CaptureFaults, InterfaceFaultsEndWithTheReasonAndKeepWhatWasTaken) {
    enum class Fault { LinkDownUp, Deleted, AddressRemoved, HangUp };
    struct Row {
        Fault fault;
        int exit;
        std::string lastLine;  // a pattern
    };
    const Row rows[] = {
        {Fault::LinkDownUp, 0, "Capturing \\(.*\\)"},  // nothing said after the start
        {Fault::HangUp, 0, "Capturing \\(.*\\)"},
        {Fault::Deleted, 1, "tidewatch: Capture ended: interface " + net_->ifA + " was deleted"},
        {Fault::AddressRemoved, 1,
         "tidewatch: Capture ended: address 10\\.214\\.0\\.1 was removed from " + net_->ifA},
    };
    int serial = 0;
    for (const Row& row : rows) {
        for (int method : {1, 2, 3}) {
            if (row.fault == Fault::AddressRemoved && method != 1) continue;
            SCOPED_TRACE("method " + std::to_string(method) + ", fault " +
                         std::to_string(int(row.fault)));
            if (row.fault == Fault::Deleted || row.fault == Fault::AddressRemoved) {
                Link();  // a link of its own to break
                if (HasFatalFailure() || IsSkipped()) return;
            }
            const std::string out = dir_ + "/" + std::to_string(++serial) + ".tdw";
            auto capture = Start(method, out);
            ASSERT_TRUE(capture->Started()) << capture->Err();
            Send(0, 20);
            std::vector<int> expected = Range(0, 20);
            switch (row.fault) {
                case Fault::LinkDownUp: {
                    ASSERT_EQ(netns::Shell(net_->InA("ip link set " + net_->ifA + " down")), 0);
                    std::this_thread::sleep_for(300ms);
                    const double before = capture->CpuSeconds();
                    const auto start = netns::Clock::now();
                    std::this_thread::sleep_for(2s);
                    const double after = capture->CpuSeconds();
                    ASSERT_TRUE(before >= 0 && after >= 0) << "the process is gone";
                    const double share =
                        (after - before) /
                        std::chrono::duration<double>(netns::Clock::now() - start).count();
                    EXPECT_LT(share, 0.02) << "processor share while the link is down";
                    ASSERT_EQ(netns::Shell(net_->InA("ip link set " + net_->ifA + " up")), 0);
                    ASSERT_TRUE(netns::WaitFor(
                        [&] {
                            std::string link;
                            netns::Shell(net_->InB("ip link show " + net_->ifB), &link);
                            return link.find("LOWER_UP") != std::string::npos;
                        },
                        10s));
                    std::this_thread::sleep_for(1500ms);
                    Send(20, 40);
                    expected = Range(0, 40);
                    capture->Signal(SIGINT);
                    break;
                }
                case Fault::HangUp:
                    capture->Signal(SIGHUP);
                    break;
                case Fault::Deleted:
                    ASSERT_EQ(netns::Shell(net_->InA("ip link del " + net_->ifA)), 0);
                    break;
                case Fault::AddressRemoved:
                    ASSERT_EQ(netns::Shell(net_->InA("ip addr del 10.214.0.1/24 dev " + net_->ifA)),
                              0);
                    break;
            }
            EXPECT_EQ(capture->Exit(), row.exit) << capture->Err();
            EXPECT_TRUE(std::regex_match(capture->LastLine(), std::regex(row.lastLine)))
                << capture->Err();
            EXPECT_EQ(PeerNumbers(OwnRecords(out)), expected);
        }
    }
}

// Outputs that cannot be written fail before the capture starts, at once; a disk that fills up
// while the file is written leaves the file that was there as it was.
TEST_F(CaptureFaults, OutputsThatCannotBeWrittenLoseNothing) {
    const Mount readOnly(dir_ + "/ro", MS_RDONLY, "size=64k");
    const Mount full(dir_ + "/full", 0, "size=1m");
    ASSERT_TRUE(readOnly.mounted && full.mounted);
    ASSERT_EQ(mkfifo((dir_ + "/fifo.tdw").c_str(), 0600), 0);
    // Exit 1: "cannot write FILE: " and the reason; exit 2 (a usage error): the reason.
    struct Row {
        std::string write;
        std::vector<std::string> options;
        int exit;
        std::string reason;
    };
    const std::string d = dir_;
    const Row rows[] = {
        {d + "/missing/out.tdw", {}, 1, "the folder " + d + "/missing does not exist"},
        {d + "/ro/out.tdw", {}, 1, "cannot create a file in " + d + "/ro: Read-only file system"},
        {d + "/fifo.tdw", {}, 1, "it is a FIFO, not a regular file"},
        {d + "/out.txt", {}, 1, "the extension names no capture format (.tdw, .pcap, .cap or "
                                ".pcapng)"},
        {d + "/out.tdw", {"--count", "0"}, 2, "bad value for --count '0' (at least 1)"},
        {d + "/out.tdw", {"--seconds", "0"}, 2, "bad value for --seconds '0' (at least 1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason);
        std::vector<std::string> options = {"--device", net_->ifA, "--write", row.write};
        options.insert(options.end(), row.options.begin(), row.options.end());
        Tidewatch capture(*net_, dir_, options);
        EXPECT_EQ(capture.Exit(10s), row.exit);
        EXPECT_EQ(
            capture.LastLine(),
            "tidewatch: " + (row.exit == 1 ? "cannot write " + row.write + ": " : "") + row.reason);
        EXPECT_EQ(capture.Err().find("Capturing ("), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(d + "/out.txt") || fs::exists(d + "/out.tdw"));
    EXPECT_TRUE(fs::is_fifo(d + "/fifo.tdw"));

    // Methods 2 and 3 with no adapter named or stored: the adapters, then that one is needed.
    for (int method : {2, 3}) {
        Tidewatch capture(*net_, dir_,
                          {"--method", std::to_string(method), "--write", d + "/out.tdw"});
        EXPECT_EQ(capture.Exit(10s), 2);
        EXPECT_NE(capture.Err().find("  " + net_->ifA + " ("), std::string::npos) << capture.Err();
        EXPECT_EQ(capture.LastLine(),
                  "tidewatch: --device is needed: no adapter is stored for method " +
                      std::to_string(method));
    }

    // 600 KiB of a good file, then 700 KiB of frames: the new file cannot be written beside it.
    const std::string good = full.path + "/good.tdw";
    const Bytes goodBytes(600 * 1024, 0x5a);
    filetest::WriteFile(good, goodBytes);
    for (int method : {1, 2, 3}) {
        SCOPED_TRACE("method " + std::to_string(method));
        auto capture = Start(method, good);
        ASSERT_TRUE(capture->Started()) << capture->Err();
        Send(0, 500, 1400);
        capture->Signal(SIGINT);
        EXPECT_EQ(capture->Exit(), 1);
        EXPECT_EQ(capture->LastLine(),
                  "tidewatch: cannot write " + good + ": No space left on device");
        EXPECT_EQ(filetest::ReadFile(good), goodBytes);
        EXPECT_EQ(std::distance(fs::directory_iterator(full.path), fs::directory_iterator()), 1);
    }
}

// A peer sends 600 frames at 200 a second: the time between two frames is tcpdump's to 1 ms,
// even across a stall of the capturing process.
TEST_F(CaptureFaults, StoredTimesAgreeWithTcpdumps) {
    netns::Capture tcpdump(*net_, dir_ + "/tcpdump.pcap", dir_ + "/tcpdump.log");
    ASSERT_TRUE(tcpdump.Started());
    std::vector<std::unique_ptr<Tidewatch>> captures;
    for (int method : {1, 2, 3}) {
        // Each capture ends by itself at the last datagram: a stop signal could come before a
        // loaded machine had handed the last ones over. The datagrams draw no answer, whose
        // number the kernel's rate limits, shared by every namespace, would decide.
        captures.push_back(
            Start(method, dir_ + "/m" + std::to_string(method) + ".tdw", {"--count", "600"}));
        ASSERT_TRUE(captures.back()->Started()) << captures.back()->Err();
    }
    // Every capturer stalls for 300 ms in the middle, as on a loaded machine: the kernel keeps
    // the frames meanwhile, and their times are still those of their arrival.
    std::thread stall([&] {
        std::this_thread::sleep_for(1s);
        for (const auto& capture : captures) capture->Signal(SIGSTOP);
        std::this_thread::sleep_for(300ms);
        for (const auto& capture : captures) capture->Signal(SIGCONT);
    });
    Send(0, 600, 64, "--pps 200", kNobody);
    stall.join();
    // tcpdump writes each frame as it takes it: stopped once it holds every datagram (a marker
    // from this end could overtake the last ones still queued on a busy machine).
    const std::string peer = dir_ + "/tcpdump.pcap";
    EXPECT_TRUE(netns::WaitFor([&] { return PeerRecords(PcapRecords(peer)).size() >= 600; }, 60s));
    ASSERT_TRUE(tcpdump.Stop());
    std::map<int, uint64_t> seen;
    for (const auto& [n, time] : PeerRecords(PcapRecords(dir_ + "/tcpdump.pcap"))) seen[n] = time;
    ASSERT_EQ(seen.size(), 600u);
    for (int method : {1, 2, 3}) {
        SCOPED_TRACE("method " + std::to_string(method));
        EXPECT_EQ(captures[method - 1]->Exit(60s), 0) << captures[method - 1]->Err();
        const auto stored = PeerRecords(OwnRecords(dir_ + "/m" + std::to_string(method) + ".tdw"));
        ASSERT_EQ(stored.size(), 600u);
        int off = 0;
        double worst = 0;
        for (size_t i = 1; i < stored.size(); ++i) {
            const double ours = (double(stored[i].second) - double(stored[i - 1].second)) * 1000;
            const double theirs = double(seen[stored[i].first]) - double(seen[stored[i - 1].first]);
            worst = std::max(worst, std::abs(ours - theirs));
            off += std::abs(ours - theirs) > 1000;
        }
        EXPECT_EQ(off, 0) << "worst difference " << worst << " µs";
    }
}

// Two pings on loopback are four datagrams, each stored once.
TEST_F(CaptureFaults, LoopbackDatagramsAreStoredOnce) {
    const std::vector<std::vector<std::string>> methods = {
        {"--method", "1", "--address", "127.0.0.1"}, {"--method", "3", "--device", "lo"}};
    std::vector<std::unique_ptr<Tidewatch>> captures;
    for (size_t i = 0; i < methods.size(); ++i) {
        std::vector<std::string> options = methods[i];
        options.insert(options.end(), {"--write", dir_ + "/lo" + std::to_string(i) + ".tdw"});
        captures.push_back(std::make_unique<Tidewatch>(*net_, dir_, options));
        ASSERT_TRUE(captures.back()->Started()) << captures.back()->Err();
    }
    ASSERT_EQ(netns::Shell(net_->InA("ping -c 2 -i 0.2 -W 2 127.0.0.1")), 0);
    std::this_thread::sleep_for(1s);
    for (size_t i = 0; i < methods.size(); ++i) {
        SCOPED_TRACE(methods[i][1]);
        captures[i]->Signal(SIGINT);
        EXPECT_EQ(captures[i]->Exit(), 0) << captures[i]->Err();
        EXPECT_EQ(OwnRecords(dir_ + "/lo" + std::to_string(i) + ".tdw").size(), 4u);
    }
}

// For each capture filter the three methods capture a mixed burst side by side and store exactly
// the frames `tcpdump -r` keeps of the sent file (method 1: their IPv4 datagrams), byte for byte.
TEST_F(CaptureFaults, CaptureFiltersKeepExactlyWhatTcpdumpKeeps) {
    const std::string sent = dir_ + "/burst.pcap", kept = dir_ + "/kept.pcap";
    ASSERT_EQ(netns::Shell(std::string(TW_GEN_TRAFFIC) + " --count 8192 " + sent), 0);
    for (const char* expression : {"udp port 53", "tcp", "not arp and not ip6",
                                   "host 192.168.3.10 and icmp", "ip6"}) {
        SCOPED_TRACE(expression);
        std::string error;
        ASSERT_EQ(netns::Shell("tcpdump -Z root -r " + sent + " -w " + kept + " '" + expression +
                                   "'",
                               &error),
                  0)
            << error;
        std::vector<Bytes> frames, datagrams;
        for (Timed& record : PcapRecords(kept)) {
            const Bytes& frame = record.bytes;
            if (frame.size() >= 34 && bytes::LoadBe16(&frame[12]) == 0x0800) {
                const size_t length = std::min<size_t>(bytes::LoadBe16(&frame[16]), frame.size() - 14);
                datagrams.emplace_back(frame.begin() + 14, frame.begin() + long(14 + length));
            }
            frames.push_back(std::move(record.bytes));
        }
        // Each capture ends by itself at its last frame; one that keeps none is stopped.
        std::vector<std::unique_ptr<Tidewatch>> captures;
        for (int method : {1, 2, 3}) {
            const size_t expected = (method == 1 ? datagrams : frames).size();
            std::vector<std::string> options = {"--filter", expression};
            if (expected > 0) options.insert(options.end(), {"--count", std::to_string(expected)});
            captures.push_back(Start(method, dir_ + "/f" + std::to_string(method) + ".tdw", options));
            ASSERT_TRUE(captures.back()->Started()) << captures.back()->Err();
        }
        ASSERT_EQ(netns::Shell(net_->InB("tcpreplay -q --pps 8000 -i " + net_->ifB + " " + sent),
                               &error),
                  0)
            << error;
        for (int method : {1, 2, 3}) {
            SCOPED_TRACE("method " + std::to_string(method));
            Tidewatch& capture = *captures[method - 1];
            const std::vector<Bytes>& expected = method == 1 ? datagrams : frames;
            if (expected.empty()) {
                std::this_thread::sleep_for(500ms);
                capture.Signal(SIGINT);
            }
            EXPECT_EQ(capture.Exit(60s), 0) << capture.Err();
            std::vector<Bytes> stored;
            for (Timed& record : OwnRecords(dir_ + "/f" + std::to_string(method) + ".tdw")) {
                stored.push_back(std::move(record.bytes));
            }
            const auto differ = std::mismatch(stored.begin(), stored.end(), expected.begin(),
                                              expected.end());
            EXPECT_TRUE(stored == expected)
                << stored.size() << " stored, " << expected.size() << " kept by tcpdump; first "
                << "difference at " << (differ.first - stored.begin());
        }
    }
}

}  // namespace
