// The capture-rights helper and its caller: the request parser's verdicts, the administrator
// check's reading of file capabilities, and, as root in a pair of namespaces, the helper run as
// an unprivileged user with only its file capability: the sockets it hands over work, its
// libpcap stream delivers frames while it holds no capability, and what it refuses it refuses
// with the reason. Then the programs themselves run by that user with a helper copy: every
// method captures exactly what tcpdump saw, replay sends, the window loads a plugin from the
// user's plugin path, and no thread of either program holds any capability.
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "decode/FrameBuilder.h"
#include "drivers/CaptureFilter.h"
#include "drivers/CaptureRightsClient.h"
#include "drivers/IPCAP.h"
#include "helper/Request.h"
#include "tests/support/NetNamespaces.h"

namespace {

using namespace CaptureRights;
using capturehelper::Request;
using filetest::Bytes;

const std::string kBuiltHelper = TW_BINARY_DIR "/tidewatch-capture";
static_assert(capturehelper::kMaxFilter == CaptureFilter::kLongestExpression,
              "every expression the program takes fits the helper's request");

TEST(HelperRequest, AcceptsWhatTheCallerAsksAndRefusesAnythingElseWithItsReason) {
    struct Case {
        std::string bytes;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {PacketRequest("eth0", SOCK_DGRAM, ETH_P_ALL), ""},
        {SendRequest("veth-a.1"), ""},
        {PcapRequest("any", 65536, 4 << 20, 50), ""},
        {"", "request is empty"},
        {std::string(capturehelper::kMaxRequest, 'a') + "\n",
         "request is longer than " + std::to_string(capturehelper::kMaxRequest) + " bytes"},
        {PcapRequest("lo", 65536, 4 << 20, 50, std::string(capturehelper::kMaxFilter, '(')), ""},
        {PcapRequest("lo", 65536, 4 << 20, 50, std::string(capturehelper::kMaxFilter + 1, '(')),
         "capture filter \"28282828282828282828282828282828...\" is not hexadecimal text"},
        {"TWCAP 1 pcap lo 65536 4194304 50 7463702\n", "capture filter \"7463702\" is not "
                                                        "hexadecimal text"},
        {"TWCAP 1 pcap lo 65536 4194304 50 5A43\n", "capture filter \"5A43\" is not hexadecimal text"},
        {PcapRequest("lo", 65536, 4 << 20, 50, "tcp\x01"), "capture filter \"74637001\" is not "
                                                           "hexadecimal text"},
        {"TWCAP 1 pcap lo 65536 4194304 50 74 63\n", "request \"pcap\" takes 4 fields"},
        {"TWCAP 1 send lo", "request does not end in a line feed"},
        {"TWCAP 1 send l\to\n", "request holds a byte that is not printable text"},
        {"TWCAP 1 send \xc3\xa9t\n", "request holds a byte that is not printable text"},
        {"TWCAP 1  send lo\n", "request has an empty field"},
        {"TWCAP 1 send lo \n", "request has an empty field"},
        {"GET / HTTP/1.0\n", "not a Tidewatch capture request"},
        {"TWCAP\n", "request version (none) is not supported (this helper speaks version 1)"},
        {"TWCAP 01 send lo\n",
         "request version \"01\" is not supported (this helper speaks version 1)"},
        {"TWCAP 1\n", "request names nothing to open"},
        {"TWCAP 1 bind lo\n", "unknown request \"bind\""},
        {"TWCAP 1 send lo raw\n", "request \"send\" takes 1 field"},
        {"TWCAP 1 packet lo raw\n", "request \"packet\" takes 3 fields"},
        {PcapRequest("dbus://session", 65536, 4 << 20, 50),
         "\"dbus://session\" is not an interface name"},
        {SendRequest("../../etc"), "\"../../etc\" is not an interface name"},
        {SendRequest(".."), "\"..\" is not an interface name"},
        {SendRequest("sixteen-bytes-ab"), "\"sixteen-bytes-ab\" is not an interface name"},
        {"TWCAP 1 packet lo seqpacket all\n", "socket type \"seqpacket\" is neither raw nor dgram"},
        {"TWCAP 1 packet lo raw 3\n", "protocol \"3\" is none of none, all and ip"},
        {PcapRequest("lo", 0, 4 << 20, 50), "snapshot length \"0\" is not 1 to 262144"},
        {"TWCAP 1 pcap lo 065536 4194304 50\n", "snapshot length \"065536\" is not 1 to 262144"},
        {PcapRequest("lo", 65536, -1, 50), "buffer size \"-1\" is not 65536 to 268435456"},
        {"TWCAP 1 pcap lo 65536 99999999999 50\n",
         "buffer size \"99999999999\" is not 65536 to 268435456"},
        {PcapRequest("lo", 65536, 4 << 20, 1001), "read time-out \"1001\" is not 1 to 1000 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Request request;
        std::string error;
        EXPECT_EQ(capturehelper::ParseRequest(c.bytes, request, error), c.error.empty());
        EXPECT_EQ(error, c.error);
    }
}

TEST(HelperRequest, ReadsBackWhatTheCallerAsked) {
    Request packet, send, pcap;
    std::string error;
    ASSERT_TRUE(capturehelper::ParseRequest(PacketRequest("eth0", SOCK_DGRAM, ETH_P_IP), packet,
                                            error));
    ASSERT_TRUE(capturehelper::ParseRequest(SendRequest("wg0"), send, error));
    ASSERT_TRUE(capturehelper::ParseRequest(PcapRequest("any", 1500, 1 << 20, 7, "udp port 53\n"),
                                            pcap, error));
    EXPECT_TRUE(packet.kind == Request::Kind::Packet && packet.interface == "eth0" &&
                packet.socketType == SOCK_DGRAM && packet.protocol == ETH_P_IP);
    EXPECT_TRUE(send.kind == Request::Kind::Send && send.interface == "wg0" &&
                send.socketType == SOCK_RAW && send.protocol == 0);
    EXPECT_TRUE(pcap.kind == Request::Kind::Pcap && pcap.interface == "any" &&
                pcap.snapshotLength == 1500 && pcap.bufferBytes == 1 << 20 &&
                pcap.timeoutMs == 7 && pcap.filter == "udp port 53\n");
}

// Copies of the built helper in a folder of root's, each with the file capabilities given.
class HelperCopies : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "granting file capabilities needs root";
        char folder[] = "/tmp/tw-helper-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        chmod(folder, 0755);
    }
    void TearDown() override {
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }
    // The copy's path; empty when this machine cannot grant them.
    std::string Copy(const std::string& name, const std::string& capabilities) {
        const std::string path = folder_ + "/" + name;
        std::filesystem::copy_file(kBuiltHelper, path);
        chmod(path.c_str(), 0755);
        return netns::Shell("setcap " + capabilities + " " + path) == 0 ? path : "";
    }
    std::string folder_;
};

TEST_F(HelperCopies, AdministratorCheckReadsTheHelpersPermittedCapture) {
    struct Case {
        const char* capabilities;
        int expected;
    };
    for (const Case& c : {Case{"cap_net_raw=ep", 1}, Case{"cap_net_raw=p", 1},
                          Case{"cap_net_admin,cap_net_raw=ep", 1}, Case{"cap_net_admin=ep", 0},
                          Case{"cap_net_raw=i", 0}}) {
        SCOPED_TRACE(c.capabilities);
        const std::string path = Copy(std::to_string(c.expected) + c.capabilities, c.capabilities);
        if (path.empty()) GTEST_SKIP() << "no file capabilities on " << folder_;
        EXPECT_EQ(HelperHoldsNetRaw(path), c.expected);
    }
    EXPECT_EQ(HelperHoldsNetRaw(kBuiltHelper), 0);
    EXPECT_EQ(HelperHoldsNetRaw(folder_ + "/missing"), 0);
    // Root holds the right itself, and opens its sockets without the helper.
    EXPECT_EQ(AdministratorCheck(), 1);
    std::string error;
    EXPECT_EQ(OpenPacketSocket("twnone0", SOCK_RAW, ETH_P_ALL, error), -1);
    EXPECT_EQ(error, "no interface named twnone0");
    const int own = OpenPacketSocket("lo", SOCK_DGRAM, 0, error);
    EXPECT_GE(own, 0) << error;
    close(own);
}

// The helper with cap_net_raw=ep run by nobody, without any capability of its own, in either
// namespace of a quiet link.
class HelperAsNobody : public HelperCopies {
protected:
    void SetUp() override {
        HelperCopies::SetUp();
        if (IsSkipped()) return;
        helper_ = Copy("tidewatch-capture", "cap_net_raw=ep");
        if (helper_.empty()) GTEST_SKIP() << "no file capabilities on " << folder_;
        net_ = std::make_unique<netns::NamespacePair>("h" + std::to_string(getpid()));
        std::string error;
        if (!net_->Add(&error)) GTEST_SKIP() << "no network namespaces here: " << error;
        ASSERT_TRUE(net_->Connect({"10.77.0.1", "10.77.0.2", 24, "", "", "02:00:00:00:77:0a",
                                   "02:00:00:00:77:0b", true},
                                  &error))
            << error;
    }
    void TearDown() override {
        net_.reset();
        HelperCopies::TearDown();
    }
    HelperCommand In(const std::string& space) const {
        return {"/usr/bin/ip", "netns",          "exec",         space,  "/usr/bin/setpriv",
                "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all", helper_};
    }
    std::string helper_;
    std::unique_ptr<netns::NamespacePair> net_;
};

// Whether the frame arrives on the packet socket within ten seconds.
bool Receives(int fd, const Bytes& frame) {
    const auto deadline = netns::Clock::now() + std::chrono::seconds(10);
    std::vector<uint8_t> buffer(65536);
    while (netns::Clock::now() < deadline) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0) continue;
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n == static_cast<ssize_t>(frame.size()) &&
            std::equal(frame.begin(), frame.end(), buffer.begin())) {
            return true;
        }
    }
    return false;
}

TEST_F(HelperAsNobody, HandsOverPacketSocketsThatReceiveAndSend) {
    std::string error;
    int status = -1;
    const int receiver = RequestSocket(In(net_->b), PacketRequest(net_->ifB.c_str(), SOCK_RAW,
                                                                  ETH_P_ALL),
                                       error, &status);
    ASSERT_GE(receiver, 0) << error;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const int sender = RequestSocket(In(net_->a), SendRequest(net_->ifA.c_str()), error);
    ASSERT_GE(sender, 0) << error;
    const Bytes marker = netns::MarkerFrame(net_->macB, net_->macA);
    EXPECT_EQ(send(sender, marker.data(), marker.size(), 0), static_cast<ssize_t>(marker.size()));
    EXPECT_TRUE(Receives(receiver, marker));
    close(sender);
    close(receiver);
}

struct Streamed {
    PcapStream::Frame frame;
    Bytes bytes;
};

// Keeps the test's marker frames (EtherType 0x88b5), whatever else the link carries.
void Keep(void* user, const PcapStream::Frame& frame, const uint8_t* data) {
    if (frame.caplen < 14 || data[12] != 0x88 || data[13] != 0xb5) return;
    static_cast<std::vector<Streamed>*>(user)->push_back({frame, Bytes(data, data + frame.caplen)});
}

TEST_F(HelperAsNobody, StreamsLibpcapFramesWithEveryCapabilityGone) {
    PcapStream stream;
    std::string error;
    ASSERT_TRUE(stream.Open(In(net_->a), net_->ifA.c_str(), 65536, 4 << 20, 50, "", error)) << error;
    EXPECT_EQ(stream.LinkType(), 1);  // Ethernet
    const pid_t pid = stream.HelperPid();
    // Before any frame is read: nobody, no capability in any set, and none to be had again.
    const std::string status = netns::FileText("/proc/" + std::to_string(pid) + "/status");
    for (const char* line : {"Name:\ttidewatch-captu", "Uid:\t65534\t65534\t65534",
                             "CapInh:\t0000000000000000", "CapPrm:\t0000000000000000",
                             "CapEff:\t0000000000000000", "CapAmb:\t0000000000000000",
                             "NoNewPrivs:\t1"}) {
        EXPECT_NE(status.find(line), std::string::npos) << line << " in\n" << status;
    }
    // More than the shared ring holds, sent before anything is read: the helper waits for room
    // (the kernel's ring keeps the rest), the ring wraps, and every frame arrives in order.
    std::vector<Bytes> sent;
    for (int i = 0; i < 3000; ++i) {
        sent.push_back(netns::MarkerFrame(net_->macA, net_->macB));
        sent.back().resize(1000, static_cast<uint8_t>(i));
    }
    ASSERT_TRUE(netns::SendFromB(*net_, sent, folder_ + "/sent.pcap", &error, "--pps=3000"))
        << error;
    std::vector<Streamed> frames;
    std::string ended;
    netns::WaitFor([&] {
        EXPECT_GE(stream.Deliver(100, Keep, &frames, ended), 0) << ended;
        return frames.size() >= sent.size();
    }, std::chrono::seconds(20));
    ASSERT_EQ(frames.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(frames[i].bytes, sent[i]);
        EXPECT_EQ(frames[i].frame.length, sent[i].size());
        EXPECT_LT(frames[i].frame.nanoseconds, 1000000000u);
        EXPECT_LT(std::abs(frames[i].frame.seconds - static_cast<int64_t>(time(nullptr))), 3600);
    }
    stream.Close();
    EXPECT_NE(kill(pid, 0), 0);  // ended and reaped
}

TEST_F(HelperAsNobody, StreamEndsWithTheReasonWhenItsInterfaceIsDeleted) {
    PcapStream stream;
    std::string error;
    ASSERT_TRUE(stream.Open(In(net_->a), net_->ifA.c_str(), 65536, 4 << 20, 50, "", error)) << error;
    ASSERT_EQ(netns::Shell(net_->InA("ip link del " + net_->ifA)), 0);
    std::vector<Streamed> frames;
    std::string ended;
    EXPECT_TRUE(netns::WaitFor([&] { return stream.Deliver(100, Keep, &frames, ended) < 0; },
                               std::chrono::seconds(10)));
    EXPECT_EQ(ended, "Capture ended: interface " + net_->ifA + " was deleted");
}

TEST_F(HelperAsNobody, RefusesWhatItCannotOpenWithTheReason) {
    const std::string interfaceA = net_->ifA;
    struct Case {
        std::string request;
        std::string error;
    };
    const Case cases[] = {
        {PacketRequest("twnone0", SOCK_RAW, ETH_P_ALL),
         "tidewatch-capture: no interface named twnone0"},
        {PacketRequest("any", SOCK_DGRAM, ETH_P_ALL), "tidewatch-capture: no interface named any"},
        {PcapRequest("dbus://session", 65536, 4 << 20, 50),
         "tidewatch-capture: \"dbus://session\" is not an interface name"},
        {"TWCAP 1 send " + interfaceA, "tidewatch-capture: request does not end in a line feed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        std::string error;
        int status = -1;
        EXPECT_EQ(RequestSocket(In(net_->a), c.request, error, &status), -1);
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    }
    PcapStream stream;
    std::string error;
    EXPECT_FALSE(stream.Open(In(net_->a), "twnone0", 65536, 4 << 20, 50, "", error));
    EXPECT_EQ(error, "tidewatch-capture: no interface named twnone0");
    EXPECT_FALSE(stream.IsOpen());
}

// ---- The programs, run by nobody with a helper copy ----

// nobody, holding no capability and inheriting none; the program finds the helper copy by the
// variable (none: it looks for one itself). The bounding set stays: emptied, it would also keep
// the helper's file capability from taking effect.
std::vector<std::string> AsNobody(const std::string& helper, const std::string& home) {
    std::vector<std::string> argv = {"setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", "--inh-caps=-all", "env", "-u",
                                     kHelperVariable, "XDG_CONFIG_HOME=" + home,
                                     "XDG_STATE_HOME=" + home};
    if (!helper.empty()) argv.push_back(std::string(kHelperVariable) + "=" + helper);
    return argv;
}

// The processes of that name (as the kernel shortens it) in the namespace.
std::vector<pid_t> ProcessesIn(const std::string& space, const std::string& name) {
    std::vector<pid_t> found;
    std::istringstream pids(filetest::RunShell("ip netns pids " + space));
    for (pid_t pid; pids >> pid;) {
        if (netns::Trim(netns::FileText("/proc/" + std::to_string(pid) + "/comm")) == name) {
            found.push_back(pid);
        }
    }
    return found;
}

// The sets of a /proc status text that are not empty: CapPrm, CapEff or CapAmb.
std::string Held(const std::string& status) {
    std::string held;
    for (const char* set : {"CapPrm:\t", "CapEff:\t", "CapAmb:\t"}) {
        const size_t at = status.find(set);
        if (at == std::string::npos || status.compare(at + 8, 16, "0000000000000000") != 0) {
            held += status.substr(at == std::string::npos ? 0 : at, 24) + " ";
        }
    }
    return held;
}

// The same for every thread of the process; "no threads" when it has none.
std::string HeldByAnyThread(pid_t pid) {
    std::string held = "no threads";
    std::error_code failed;
    for (const auto& task : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(pid) + "/task", failed)) {
        const std::string status = netns::FileText(task.path().string() + "/status");
        if (status.empty()) continue;  // a thread that has ended meanwhile
        if (held == "no threads") held.clear();
        const std::string sets = Held(status);
        if (!sets.empty()) held += task.path().filename().string() + ": " + sets;
    }
    return held;
}

// Sends the frame through the packet-capture driver, as replay does, in a child that enters
// namespace A and becomes nobody first, so that the driver has to ask the helper. True when the
// driver says it was sent.
bool ReplayAsNobody(const netns::NamespacePair& net, const std::string& helper,
                    const Bytes& frame) {
    const std::string space = "/var/run/netns/" + net.a;
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(space.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0 || setgroups(0, nullptr) != 0 ||
            setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0 ||
            HoldsNetRaw() != 0) {
            _exit(2);
        }
        setenv(kHelperVariable, helper.c_str(), 1);
        auto* driver = new IPCAP();  // never deleted: nobody cannot write the settings
        driver->SetDeviceName(net.ifA.c_str());
        const bool sent = driver->Init(nullptr, nullptr, nullptr) && driver->Start() &&
                          driver->SendPacket(frame.data(), static_cast<uint32_t>(frame.size()));
        driver->Stop();
        _exit(sent ? 0 : 1);
    }
    int status = -1;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The IPv4 datagrams of Ethernet frames without their link header (what method 1 stores).
std::vector<Bytes> Datagrams(const std::vector<Bytes>& frames) {
    std::vector<Bytes> datagrams;
    for (const Bytes& frame : frames) {
        if (frame.size() > 34 && frame[12] == 0x08 && frame[13] == 0x00) {
            datagrams.emplace_back(frame.begin() + 14, frame.end());
        }
    }
    return datagrams;
}

// The programs run by nobody in namespace A, with a folder of their own for settings and files.
class ProgramsAsNobody : public HelperAsNobody {
protected:
    void SetUp() override {
        HelperAsNobody::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        home_ = folder_ + "/home";
        std::filesystem::create_directory(home_);
        chmod(home_.c_str(), 0777);
    }
    // `tidewatch --capture` with each method at once on A's end, writing methodN.tdw; waited for
    // until each has started, unless it is to be refused.
    std::vector<std::unique_ptr<netns::TidewatchCapture>> CaptureWithEachMethod(
        const std::vector<std::string>& more, const std::string& program = TW_TIDEWATCH,
        bool refused = false) {
        std::vector<std::unique_ptr<netns::TidewatchCapture>> captures;
        for (const std::string method : {"1", "2", "3"}) {
            std::vector<std::string> options = {"--method", method, "--write",
                                                home_ + "/method" + method + ".tdw"};
            options.insert(options.end(), more.begin(), more.end());
            for (const std::string& word : method == "1"
                                               ? std::vector<std::string>{"--address", "10.77.0.1"}
                                               : std::vector<std::string>{"--device", net_->ifA}) {
                options.push_back(word);
            }
            captures.push_back(std::make_unique<netns::TidewatchCapture>(
                *net_, AsNobody(refused ? "" : helper_, home_), program, options,
                home_ + "/method" + method + ".log"));
        }
        for (const auto& capture : captures) {
            if (!refused) {
                EXPECT_TRUE(capture->Started()) << capture->Log();
            }
        }
        return captures;
    }
    std::string home_;
};

TEST_F(ProgramsAsNobody, EveryMethodCapturesAndReplaysWhileNoThreadHoldsACapability) {
    // Eight datagrams to a port nobody listens on, each answered by a port unreachable: sixteen
    // frames in all, the same for every method, and nothing else on the quiet link.
    std::vector<Bytes> datagrams;
    const frames::Mac a{0x02, 0, 0, 0, 0x77, 0x0a}, b{0x02, 0, 0, 0, 0x77, 0x0b};
    for (int i = 0; i < 8; ++i) {
        datagrams.push_back(frames::Ethernet(
            a, b, 0x0800,
            frames::IPv4(17, frames::IPv4Address(10, 77, 0, 2), frames::IPv4Address(10, 77, 0, 1),
                         frames::UDP(static_cast<uint16_t>(40000 + i), 9, Bytes(100, 0x5a)))));
    }
    netns::Capture tcpdump(*net_, home_ + "/seen.pcap", home_ + "/tcpdump.log");
    ASSERT_TRUE(tcpdump.Started()) << netns::FileText(home_ + "/tcpdump.log");
    const auto captures = CaptureWithEachMethod({"--count", "16"});
    // Capturing: no thread of any of the three holds a capability.
    const std::vector<pid_t> programs = ProcessesIn(net_->a, "tidewatch");
    EXPECT_EQ(programs.size(), 3u);
    for (const pid_t pid : programs) EXPECT_EQ(HeldByAnyThread(pid), "") << pid;

    std::string error;
    ASSERT_TRUE(netns::SendFromB(*net_, datagrams, home_ + "/sent.pcap", &error)) << error;
    for (const auto& capture : captures) {
        EXPECT_TRUE(capture->Finish()) << capture->Log();
        EXPECT_EQ(capture->Log().find("not currently running as a local administrator"),
                  std::string::npos) << capture->Log();
    }
    ASSERT_TRUE(tcpdump.StopWhenWritten());
    std::vector<Bytes> seen = netns::PcapFrames(home_ + "/seen.pcap");
    seen.pop_back();  // the marker that stopped tcpdump
    ASSERT_EQ(seen.size(), 16u);
    for (const std::string method : {"1", "2", "3"}) {
        std::vector<Bytes> stored;
        for (const auto& frame : netns::OwnFileFrames(home_ + "/method" + method + ".tdw")) {
            stored.push_back(frame.bytes);
        }
        EXPECT_EQ(stored, method == "1" ? Datagrams(seen) : seen) << "method " << method;
    }

    // Replay, as the peer sees it.
    netns::Capture peer(*net_, home_ + "/peer.pcap", home_ + "/peer.log", true);
    ASSERT_TRUE(peer.Started()) << netns::FileText(home_ + "/peer.log");
    const Bytes replayed = netns::MarkerFrame(net_->macB, net_->macA);
    EXPECT_TRUE(ReplayAsNobody(*net_, helper_, replayed));
    ASSERT_TRUE(peer.StopWhenWritten());
    const std::vector<Bytes> atPeer = netns::PcapFrames(home_ + "/peer.pcap");
    EXPECT_NE(std::find(atPeer.begin(), atPeer.end(), replayed), atPeer.end());
}

// Each method's capture through the helper ends by itself with the reason when its interface is
// deleted.
TEST_F(ProgramsAsNobody, EveryMethodEndsWithTheReasonWhenItsInterfaceIsDeleted) {
    const auto captures = CaptureWithEachMethod({});
    ASSERT_EQ(netns::Shell(net_->InA("ip link del " + net_->ifA)), 0);
    for (const auto& capture : captures) {
        EXPECT_TRUE(capture->Finish()) << capture->Log();
        EXPECT_NE(capture->Log().find("Capture ended: interface " + net_->ifA + " was deleted"),
                  std::string::npos)
            << capture->Log();
    }
}

TEST_F(ProgramsAsNobody, TheWindowLoadsTheUsersPluginWithNoCapability) {
    std::vector<std::string> argv = AsNobody(helper_, home_);
    for (const std::string setting :
         {"QT_QPA_PLATFORM=offscreen", "QT_PLUGIN_PATH=" TW_PLUGINS,
          "QT_QPA_PLATFORM_PLUGIN_PATH=" TW_PLUGINS, "QT_QPA_PLATFORMTHEME=twstatus",
          "QT_STYLE_OVERRIDE=twstatus"}) {
        argv.push_back(setting);
    }
    argv.push_back("TW_STATUS_FILE=" + home_ + "/status");
    argv.push_back(TW_WINDOW);
    netns::Background window(net_->ArgvA(argv), home_ + "/window.log");
    std::string status;
    EXPECT_TRUE(netns::WaitFor(
        [&] {
            status = netns::FileText(home_ + "/status");
            return status.find("CapAmb") != std::string::npos;
        },
        std::chrono::seconds(30)))
        << "the plugin was not loaded\n" << netns::FileText(home_ + "/window.log");
    EXPECT_NE(status.find("Uid:\t65534"), std::string::npos) << status;
    EXPECT_EQ(Held(status), "") << status;
    const std::vector<pid_t> windows = ProcessesIn(net_->a, "tidewatch-windo");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(HeldByAnyThread(windows[0]), "");
}

// A helper beside the program that the user may not run, as in the installed program's folder
// (the helper is its group's alone): found there, the warning at start, every method refused
// for want of rights, and the helper's reason in the log.
TEST_F(ProgramsAsNobody, OutsideTheHelpersGroupTheProgramWarnsAndSaysWhy) {
    const std::string installed = folder_ + "/installed";
    std::filesystem::create_directory(installed);
    chmod(installed.c_str(), 0755);
    const std::string locked = Copy("installed/tidewatch-capture", "cap_net_raw=ep");
    chmod(locked.c_str(), 0750);
    std::filesystem::copy_file(TW_TIDEWATCH, installed + "/tidewatch");
    std::filesystem::create_symlink(TW_BINARY_DIR "/libnpptools.so", installed + "/libnpptools.so");
    const char* names[] = {"Windows Sockets RCVALL", "Network Monitor Packet Provider", "WinPCap"};
    const auto captures = CaptureWithEachMethod({}, installed + "/tidewatch", true);
    for (size_t i = 0; i < captures.size(); ++i) {
        EXPECT_TRUE(captures[i]->Finish()) << captures[i]->Log();
        const std::vector<std::string> lines = {
            "You are not currently running as a local administrator",
            std::string("Capture could not start: no capture rights for ") + names[i],
            "cannot run " + locked +
                ": Permission denied (capturing needs membership of the group tidewatch)"};
        for (const std::string& line : lines) {
            EXPECT_NE(captures[i]->Log().find(line), std::string::npos)
                << line << " in\n" << captures[i]->Log();
        }
    }
}

// Listing what can be captured on needs no rights at all.
TEST_F(ProgramsAsNobody, NobodyListsTheInterfacesWithoutAnyHelper) {
    std::string output;
    EXPECT_EQ(netns::Shell(net_->InA("setpriv --reuid=65534 --regid=65534 --clear-groups "
                                     "--inh-caps=-all " TW_TIDEWATCH " --interfaces"),
                           &output),
              0);
    for (const std::string& line : {"10.77.0.1 (" + net_->ifA + ")",
                                    net_->ifA + " (02-00-00-00-77-0a)",
                                    net_->ifA + " (no description)"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << " in\n" << output;
    }
}

}  // namespace
