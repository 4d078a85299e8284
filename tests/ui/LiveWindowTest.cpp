// The window capturing for real, inside network namespaces of the test's own: rows appear while
// traffic flows, Stop stops, a confirmed interface dialog restarts the capture on the new
// interface (the Network Monitor provider's network included), and replay sends the selected
// packets' bytes to the peer, with the packet-capture library and with the provider.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QComboBox>
#include <QDialog>
#include <QMainWindow>
#include <QTimer>
#include <QTreeWidget>
#include <QLineEdit>
#include <algorithm>
#include <fstream>
#include <set>

#include "decode/FrameBuilder.h"
#include "framework/StringCollection.h"
#include "framework/gui/IpAddressEdit.h"
#include "resources/Resources.h"
#include "tests/support/NetNamespaces.h"
#include "ui/PacketContextMenu.h"
#include "ui/WindowFixture.h"

namespace {

using filetest::Bytes;
using namespace frames;
using Clock = std::chrono::steady_clock;

// The frames go to a hardware address nobody has: the capturing end takes them in promiscuous
// mode but never answers, so the list holds exactly what the peer sent.
const Mac kMacNobody{0x02, 0, 0, 0, 0x01, 0x0c}, kMacB{0x02, 0, 0, 0, 0x01, 0x0b};

// UDP frames from the peer of growing size, so that sorting by size reverses arrival order
// when descending.
std::vector<Bytes> PeerFrames(int count, int first = 0) {
    std::vector<Bytes> frames;
    for (int i = first; i < first + count; ++i) {
        frames.push_back(Ethernet(kMacNobody, kMacB, 0x0800,
                                  IPv4(17, IPv4Address(10, 214, 0, 2), IPv4Address(10, 214, 0, 1),
                                       UDP(static_cast<uint16_t>(30000 + i), 9999,
                                           Bytes(static_cast<size_t>(40 + 10 * i), 0x61)))));
    }
    return frames;
}

class LiveWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "live capture needs root (network namespaces)";
        for (const char* tool : {"ip", "tcpdump", "tcpreplay"}) {
            if (!filetest::HaveTool(tool)) GTEST_SKIP() << "missing program " << tool;
        }
        // The capture thread takes the namespace of the thread that starts it.
        if (CaptureThreadStarted()) {
            GTEST_SKIP() << "needs a process of its own (ctest runs each test alone)";
        }
        net_ = std::make_unique<netns::NamespacePair>("w" + std::to_string(getpid() % 100000));
        std::string error;
        if (!net_->Add(&error)) GTEST_SKIP() << "cannot create network namespaces: " << error;
        netns::LinkAddresses link{"10.214.0.1", "10.214.0.2", 24, "", "", "", ""};
        link.macA = "02:00:00:00:01:0a";
        link.macB = "02:00:00:00:01:0b";
        link.quiet = true;
        ASSERT_TRUE(net_->Connect(link, &error)) << error;
        home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int inA = open(("/var/run/netns/" + net_->a).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(setns(inA, CLONE_NEWNET), 0);
        close(inA);
        VizirMainWindow::SetCaptureDriversOverride(nullptr);
        WriteRegNumber("CaptureMethod", 3);
        WriteRegString("CaptureDevice", net_->ifA.c_str());
        WriteRegString("NetMonMacAddr", "02-00-00-00-01-0A");
        WriteRegNumber("CaptureAddress", (10u << 24) | (214u << 16) | 1u);
        CreateWindow();
    }
    void TearDown() override {
        if (window) {
            window->Command(res::kCmdStopCapture);
            Pump([] { return false; }, std::chrono::milliseconds(600));
        }
        WindowFixture::TearDown();
        if (home_ >= 0) {
            setns(home_, CLONE_NEWNET);
            close(home_);
        }
        net_.reset();
    }

    template <class Check>
    bool Pump(Check check, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = Clock::now() + limit;
        while (!check()) {
            if (Clock::now() >= deadline) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    std::string Pane(int pane) const { return window->GetStatusBar()->PaneText(pane).toStdString(); }
    int Rows() const { return window->Model()->Rows(); }
    // What the peer's tcpdump took in, once it has written all of it (its marker left out).
    std::vector<Bytes> PeerSaw(netns::Capture& peer, const std::string& pcap) {
        EXPECT_TRUE(peer.StopWhenWritten());
        std::vector<Bytes> frames = netns::PcapFrames(pcap);
        if (!frames.empty()) frames.pop_back();
        return frames;
    }
    // The Network Monitor method, its network chosen in the provider's dialog by A's address.
    void ChooseNetworkOfA() {
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = window->MainWidget()->findChild<QDialog*>("SelectNetworkDlg");
            if (!dialog || !dialog->isVisible()) return;
            auto* list = dialog->findChild<QTreeWidget*>();
            const auto rows = list->findItems("02-00-00-00-01-0a", Qt::MatchExactly, 1);
            if (!rows.isEmpty()) list->setCurrentItem(rows.front());
            rows.isEmpty() ? dialog->reject() : dialog->accept();
        });
        answer.start(20);
        window->Command(res::kCmdModeNetMon);
        answer.stop();
    }

    void Send(const std::vector<Bytes>& frames, const std::string& options = "") {
        std::string error;
        ASSERT_TRUE(netns::SendFromB(*net_, frames, Path("send.pcap"), &error, options)) << error;
    }

    std::unique_ptr<netns::NamespacePair> net_;
    int home_ = -1;
};

TEST_F(LiveWindow, RowsArriveWhileTrafficFlowsAndADialogRestartsTheCapture) {
    window->Command(res::kCmdStartCapture);
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Capturing (WinPCap)"; })) << Pane(1);

    Send(PeerFrames(1));
    ASSERT_TRUE(Pump([&] { return Rows() == 1; }));
    // Twenty frames over about two seconds: the list grows while they come.
    {
        std::vector<filetest::PcapRecord> records;
        for (const Bytes& frame : PeerFrames(20, 1)) records.push_back({0, 0, frame});
        const Bytes file = filetest::PcapFile(records);
        std::ofstream(Path("trickle.pcap"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    netns::Background slow(net_->ArgvB({"tcpreplay", "-q", "--pps=10", "-i", net_->ifB,
                                        Path("trickle.pcap")}),
                           Path("slow.log"));
    std::vector<int> seen;
    std::vector<std::string> counts;
    Pump([&] {
        if (seen.empty() || seen.back() != Rows()) {
            seen.push_back(Rows());
            counts.push_back(Pane(2));
        }
        return Rows() >= 21;
    }, std::chrono::seconds(8));
    EXPECT_EQ(Rows(), 21);
    EXPECT_GE(seen.size(), 5u) << "the rows came all at once";
    EXPECT_EQ(Pane(2), "  20 / 65536");
    EXPECT_EQ(std::set<std::string>(counts.begin(), counts.end()).size(), counts.size());

    window->Command(res::kCmdStopCapture);
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Not Capturing (WinPCap)"; })) << Pane(1);
    Send(PeerFrames(3, 30));
    Pump([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(Rows(), 21);

    // Capturing again, then the raw-socket method chosen in its dialog: the capture restarts on
    // the address given there, with datagrams instead of frames.
    window->Command(res::kCmdStartCapture);
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Capturing (WinPCap)"; }));
    VizirMainWindow::SetInterfaceSelector(nullptr);
    Dialog::SetRunHook([](Dialog& dialog) {
        auto* edit = dynamic_cast<IpAddressEdit*>(dialog.Item(res::kIdIpAddress));
        edit->SetAddress((10u << 24) | (214u << 16) | 1u);
        dialog.Press(res::kIdOk);
    });
    window->Command(res::kCmdModeRawSocket);
    ASSERT_TRUE(IsCapturing());
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Capturing (Windows Sockets RCVALL)"; })) << Pane(1);
    Send(PeerFrames(2, 40));
    ASSERT_TRUE(Pump([&] { return Rows() == 23; })) << Rows();
    EXPECT_EQ(Cell(22, 1), "RAW IP");
    EXPECT_EQ(Cell(20, 1), "ETHERNET");

    // Then the Network Monitor method, its network chosen in the provider's dialog by address.
    ChooseNetworkOfA();
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Capturing (Network Monitor Packet Provider)"; }))
        << Pane(1);
    Send(PeerFrames(2, 50));
    ASSERT_TRUE(Pump([&] { return Rows() == 25; })) << Rows();
    EXPECT_EQ(Cell(24, 1), "ETHERNET");
}

// The real drivers of methods 3 and 2 while the peer sends at top speed: Clear or Open right
// after Stop, over and over, and now and then the provider's network chosen again during the
// capture. Once Clear or Open has returned, no frame of the stopped capture reaches the store.
TEST_F(LiveWindow, ClearOrOpenRightAfterStopWhileThePeerFloods) {
    WriteOwnFrames(Path("three.tdw"), 3);
    {
        std::vector<filetest::PcapRecord> records;
        for (const Bytes& frame : PeerFrames(50)) records.push_back({0, 0, frame});
        const Bytes file = filetest::PcapFile(records);
        std::ofstream(Path("flood.pcap"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    netns::Background flood(net_->ArgvB({"tcpreplay", "-q", "--topspeed", "--loop=0", "-i",
                                         net_->ifB, Path("flood.pcap")}),
                            Path("flood.log"));
    SetCapturePause(5);  // the loop acts on Start at once, so that rounds are quick
    const PacketStore& store = GetPacketStore();
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        captureMethod.store(round < 100 ? 3 : 2);
        window->Command(res::kCmdStartCapture);
        ASSERT_TRUE(Pump([&] { return store.Count() > 0; })) << Pane(0) << Pane(1);
        if (round >= 100 && round % 25 == 0) {
            // The provider's network chosen again during the capture: its capture object is
            // replaced only once the capture thread has stopped using it.
            VizirMainWindow::SetInterfaceSelector(nullptr);
            ChooseNetworkOfA();
            VizirMainWindow::SetInterfaceSelector([](int) { return true; });
            const int32_t before = store.Count();
            ASSERT_TRUE(Pump([&] { return store.Count() > before; })) << Pane(0) << Pane(1);
        }
        window->Command(res::kCmdStopCapture);
        if (round % 2) {
            window->Command(res::kCmdClear);
        } else {
            ASSERT_TRUE(window->OpenByName(Path("three.tdw").c_str()));
        }
        const int32_t kept = store.Count();
        ASSERT_EQ(kept, round % 2 ? 0 : 3);
        // A driver still delivering would have stored some of the flood by now.
        Pump([] { return false; }, std::chrono::milliseconds(20));
        ASSERT_EQ(store.Count(), kept);
    }
    SetCapturePause(500);
}

TEST_F(LiveWindow, ReplaySendsTheSelectedRowsPacketsToThePeer) {
    window->Command(res::kCmdStartCapture);
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Capturing (WinPCap)"; }));
    const std::vector<Bytes> sent = PeerFrames(6);
    Send(sent);
    ASSERT_TRUE(Pump([&] { return Rows() == 6; })) << Rows();
    // A datagram without a link header joins the store (the capture stopped meanwhile); it is
    // the smallest packet.
    StopCapture();
    ASSERT_TRUE(AwaitCaptureStop(nullptr));
    const Bytes datagram = IPv4(17, IPv4Address(10, 214, 0, 1), IPv4Address(10, 214, 0, 2),
                                UDP(7, 9999, Bytes(12, 0x62)));
    HandleArrival(datagram.data(), static_cast<uint32_t>(datagram.size()), 1, true);
    StartCapture();
    ASSERT_TRUE(Pump([&] { return Rows() == 7 && pcapRunning.load() == 1; })) << Rows();

    // Sorted by size, largest first; rows 1, 2 and 4 hold packets 4, 3 and 1, row 6 the
    // datagram, which the sending drivers cannot put on the wire as it is.
    window->SortByColumn(kColumnSize);
    window->SortByColumn(kColumnSize);
    ASSERT_EQ(window->Model()->PacketAt(0), 5u);
    ASSERT_EQ(window->Model()->PacketAt(6), 6u);
    QItemSelectionModel* selection = window->PacketList()->selectionModel();
    for (int row : {1, 2, 4, 6}) {
        selection->select(window->Model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    netns::Capture peer(*net_, Path("peer.pcap"), Path("peer.log"), true);
    ASSERT_TRUE(peer.Started());
    VizirMainWindow::SetContextMenuChooser(
        [](const std::vector<ContextMenuItem>&, QPoint) { return kContextReplay; });
    window->ShowContextMenu(
        window->PacketList()->visualRect(window->Model()->index(1, 1)).center());
    EXPECT_EQ(Pane(0), "  Error: Only Ethernet frames can be replayed");
    EXPECT_EQ(PeerSaw(peer, Path("peer.pcap")), (std::vector<Bytes>{sent[4], sent[3], sent[1]}));

    // The Network Monitor provider sends whether or not it captures.
    window->Command(res::kCmdStopCapture);
    ASSERT_TRUE(Pump([&] { return Pane(1) == "  Not Capturing (WinPCap)"; }));
    captureMethod.store(2);
    netns::Capture again(*net_, Path("peer2.pcap"), Path("peer2.log"), true);
    ASSERT_TRUE(again.Started());
    window->SetStatusText(0, "");
    window->ShowContextMenu(
        window->PacketList()->visualRect(window->Model()->index(1, 1)).center());
    EXPECT_EQ(Pane(0), "  Error: Only Ethernet frames can be replayed");
    EXPECT_EQ(PeerSaw(again, Path("peer2.pcap")), (std::vector<Bytes>{sent[4], sent[3], sent[1]}));

    // The raw socket cannot send, and neither can an adapter that is not open.
    for (int method : {1, 3}) {
        captureMethod.store(method);
        window->SetStatusText(0, "");
        window->ShowContextMenu(
            window->PacketList()->visualRect(window->Model()->index(1, 1)).center());
        Pump([&] { return Pane(0) != ""; }, std::chrono::milliseconds(500));
        EXPECT_EQ(Pane(0), "  Error: Must use PCap driver to send packets") << method;
    }
}

}  // namespace
