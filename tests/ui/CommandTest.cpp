// The main window's commands: the menu bar and its accelerators, check marks, Start, Stop, Clear,
// the capture methods and the packet list's context menu.
#include <QMenu>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "WindowFixture.h"
#include "framework/Tick.h"
#include "resources/Images.h"
#include "resources/Resources.h"
#include "ui/DemoCapture.h"
#include "ui/PacketContextMenu.h"

namespace {

class CommandTest : public WindowFixture {
protected:
    void OpenDemo() {
        ASSERT_TRUE(WriteDemoCapture(Path("demo.tdw").c_str()));
        ASSERT_TRUE(window->OpenByName(Path("demo.tdw").c_str()));
        Settle();
    }

    void ShowMenu(QMenu* menu) { emit menu->aboutToShow(); }
    QMenu* ModeMenu() const { return window->TopMenu(3)->actions()[3]->menu(); }


    // Right-clicks the row as the mouse does: the press selects it (unless it already is), the
    // context menu follows at the same point.
    void RightClickRow(int row) {
        QTableView* list = window->PacketList();
        list->scrollTo(window->Model()->index(row, 0));
        const QPoint point = list->visualRect(window->Model()->index(row, 1)).center();
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, point);
        QContextMenuEvent event(QContextMenuEvent::Mouse, point,
                                list->viewport()->mapToGlobal(point));
        QApplication::sendEvent(list->viewport(), &event);
    }

    // Every later context menu shows nothing and picks this item (0: none).
    void Choose(int item) {
        VizirMainWindow::SetContextMenuChooser(
            [this, item](const std::vector<ContextMenuItem>& items, QPoint) {
                shownMenus.push_back(items);
                return item;
            });
    }

    std::vector<std::string> Texts(const std::vector<ContextMenuItem>& items) const {
        std::vector<std::string> texts;
        for (const ContextMenuItem& item : items) {
            texts.push_back(item.item == kContextSeparator ? "-" : item.text);
        }
        return texts;
    }

    int RowsFrom(const std::string& source) const {
        int rows = 0;
        for (int row = 0; row < window->Model()->Rows(); ++row) rows += Cell(row, 4) == source;
        return rows;
    }

    std::vector<std::vector<ContextMenuItem>> shownMenus;
};

TEST_F(CommandTest, TheMenuBarHoldsTheItemsInOrder) {
    CreateWindow();
    std::vector<std::string> titles;
    for (QAction* top : window->MainWidget()->menuBar()->actions()) {
        titles.push_back(top->text().toStdString());
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&View", "&Capture",
                                                "&Options", "&Help"}));
    auto texts = [](const QMenu* menu) {
        std::vector<std::string> result;
        for (QAction* action : menu->actions()) {
            result.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        }
        return result;
    };
    EXPECT_EQ(texts(window->TopMenu(0)),
              (std::vector<std::string>{"&Open...\tCtrl+O", "&Save...\tCtrl+S", "-", "E&xit"}));
    EXPECT_EQ(texts(window->TopMenu(1)),
              (std::vector<std::string>{"&Copy\tCtrl+C", "&Clear\tShift+Del", "-",
                                        "&Find\tCtrl+F", "Find &Next\tF3"}));
    EXPECT_EQ(texts(window->TopMenu(2)),
              (std::vector<std::string>{"&Packet Parser\tF9", "Raw &Data\tF10",
                                        "&ASCII Data\tF11", "-", "Auto &Scroll\tCtrl+A",
                                        "&Font"}));
    EXPECT_EQ(texts(window->TopMenu(3)),
              (std::vector<std::string>{"&Start\tF5", "Sto&p\tF6", "-", "&Mode", "-",
                                        "Capture &Filter..."}));
    EXPECT_EQ(texts(ModeMenu()),
              (std::vector<std::string>{"&IP Capture (Windows 2000, XP)",
                                        "&Network Monitor Driver", "WinPCap"}));
    EXPECT_EQ(texts(window->TopMenu(4)), (std::vector<std::string>{"&Start Capture on Load"}));
    EXPECT_EQ(texts(window->TopMenu(5)), (std::vector<std::string>{"&About..."}));

    // Each item sends its own command number.
    const std::pair<int, QAction*> commands[] = {
        {40101, window->TopMenu(0)->actions()[0]}, {40102, window->TopMenu(0)->actions()[1]},
        {40100, window->TopMenu(0)->actions()[3]}, {40141, window->TopMenu(1)->actions()[0]},
        {40014, window->TopMenu(1)->actions()[1]}, {40030, window->TopMenu(1)->actions()[3]},
        {40031, window->TopMenu(1)->actions()[4]}, {40005, window->TopMenu(2)->actions()[0]},
        {40006, window->TopMenu(2)->actions()[1]}, {40018, window->TopMenu(2)->actions()[2]},
        {40026, window->TopMenu(2)->actions()[4]}, {40019, window->TopMenu(2)->actions()[5]},
        {40002, window->TopMenu(3)->actions()[0]}, {40003, window->TopMenu(3)->actions()[1]},
        {40004, ModeMenu()->actions()[0]},         {40016, ModeMenu()->actions()[1]},
        {40021, ModeMenu()->actions()[2]},         {40025, window->TopMenu(4)->actions()[0]},
        {40134, window->TopMenu(5)->actions()[0]}, {40040, window->TopMenu(3)->actions()[5]},
    };
    for (const auto& [command, action] : commands) {
        EXPECT_EQ(window->MenuAction(command), action) << command;
    }
}

TEST_F(CommandTest, EveryAcceleratorReachesItsCommandWhateverHasTheFocus) {
    CreateWindow();
    OpenDemo();
    SelectRow(7);
    VizirMainWindow::SetWaitHook([](uint32_t) {});
    Dialog::SetRunHook([](Dialog& dialog) { dialog.Press(kIdCancel); });
    SetFontDialogHook([](QFont&) { return false; });
    std::vector<int> seen;
    window->SetCommandObserver([&seen](int id) { seen.push_back(id); });
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int command;
    };
    const Key keys[] = {
        {Qt::Key_O, Qt::ControlModifier, 40101}, {Qt::Key_S, Qt::ControlModifier, 40102},
        {Qt::Key_C, Qt::ControlModifier, 40141}, {Qt::Key_F, Qt::ControlModifier, 40030},
        {Qt::Key_F3, Qt::NoModifier, 40031},     {Qt::Key_F9, Qt::NoModifier, 40005},
        {Qt::Key_F10, Qt::NoModifier, 40006},    {Qt::Key_F11, Qt::NoModifier, 40018},
        {Qt::Key_A, Qt::ControlModifier, 40026}, {Qt::Key_F5, Qt::NoModifier, 40002},
        {Qt::Key_F6, Qt::NoModifier, 40003},     {Qt::Key_Delete, Qt::ShiftModifier, 40014},
    };
    for (QWidget* focus : {static_cast<QWidget*>(window->PacketList()),
                           static_cast<QWidget*>(window->DetailPane())}) {
        for (const Key& key : keys) {
            seen.clear();
            focus->setFocus();
            QTest::keyClick(focus, key.key, key.modifiers);
            EXPECT_EQ(seen, std::vector<int>{key.command})
                << focus->objectName().toStdString() << " " << key.command;
        }
    }
    window->SetCommandObserver(nullptr);
    // The keys had their effects: the last Shift+Del emptied the list, F6 left it stopped.
    EXPECT_EQ(window->Model()->Rows(), 0);
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(requests.size(), 4u);  // open and save, twice
}

TEST_F(CommandTest, ChecksFollowTheViewTheMethodAndAutoScroll) {
    CreateWindow();
    QMenu* view = window->TopMenu(2);
    ShowMenu(view);
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdPacketParser));
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdAutoScroll));

    QTest::keyClick(window->PacketList(), Qt::Key_F10);
    QTest::keyClick(window->PacketList(), Qt::Key_A, Qt::ControlModifier);
    ShowMenu(view);
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdPacketParser));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdRawData));
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdAsciiData));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoScroll));
    window->Command(res::kCmdAsciiData);
    ShowMenu(view);
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdRawData));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAsciiData));

    // The Capture menu and its Mode submenu both refresh the method's mark.
    ShowMenu(window->TopMenu(3));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdModeRawSocket));
    window->Command(res::kCmdModePcap);
    ShowMenu(ModeMenu());
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdModeRawSocket));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdModePcap));
    window->Command(res::kCmdModeNetMon);
    ShowMenu(window->TopMenu(3));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdModeNetMon));
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdModePcap));
    // Other menus change no mark.
    window->Command(res::kCmdPacketParser);
    ShowMenu(window->TopMenu(1));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAsciiData));

    // Numbers in the command range that name no command do nothing.
    for (int id : {40001, 40007, 40015, 40020, 40027, 40029}) window->Command(id);
    EXPECT_EQ(captureMethod.load(), 2);
    EXPECT_FALSE(IsCapturing());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CommandTest, StartCaptureOnLoadIsWrittenAtOnceAndStartsTheNextRun) {
    CreateWindow();
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdAutoStart));
    window->Command(res::kCmdAutoStart);
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoStart));
    EXPECT_EQ(ReadRegNumber("AutoStart", 7), 1u);
    window->Command(res::kCmdAutoStart);
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdAutoStart));
    EXPECT_EQ(ReadRegNumber("AutoStart", 7), 0u);
    window->MenuAction(res::kCmdAutoStart)->trigger();  // as the menu does
    EXPECT_EQ(ReadRegNumber("AutoStart", 7), 1u);
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoStart));
    window->Command(res::kCmdModeNetMon);
    EXPECT_FALSE(IsCapturing());

    window.reset();
    captureMethod.store(1);
    CreateWindow();
    EXPECT_EQ(captureMethod.load(), 2);
    EXPECT_TRUE(IsCapturing());
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoStart));
    EXPECT_EQ(Pane(0), " Ready");
    EXPECT_TRUE(IconIs(2, res::kCapturingIcon));
    EXPECT_TRUE(window->GetToolBar()->IsButtonEnabled(res::kCmdStopCapture));
    EXPECT_FALSE(window->GetToolBar()->IsButtonEnabled(res::kCmdStartCapture));
}

TEST_F(CommandTest, StartAndStopSetTheFlagTheTickAndTheAppearance) {
    CreateWindow();
    ToolBar* tools = window->GetToolBar();
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_FALSE(tools->IsButtonEnabled(res::kCmdStopCapture));
    EXPECT_TRUE(IconIs(2, res::kStoppedIcon));

    window->SetStatusText(2, "  12 / 65536");
    QTest::keyClick(window->PacketList(), Qt::Key_F5);
    EXPECT_TRUE(IsCapturing());
    EXPECT_NE(GetPacketStore().startTick.load(), 0u);
    EXPECT_EQ(Pane(0), "Packet Capture Initiated");
    EXPECT_EQ(Pane(2), "");
    EXPECT_TRUE(IconIs(2, res::kCapturingIcon));
    EXPECT_FALSE(IconIs(2, res::kStoppedIcon));
    EXPECT_FALSE(tools->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdStopCapture));

    window->SetStatusText(1, "  Capturing (Windows Sockets RCVALL)");
    tools->Button(res::kCmdStopCapture)->trigger();
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(Pane(0), "Packet capture stopped.");
    EXPECT_EQ(Pane(1), "");
    EXPECT_TRUE(IconIs(2, res::kStoppedIcon));
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_FALSE(tools->IsButtonEnabled(res::kCmdStopCapture));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CommandTest, StartIsRefusedWhileAFileIsRead) {
    CreateWindow();
    captureAllowed.store(0);
    window->Command(res::kCmdStartCapture);
    captureAllowed.store(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot capture at the moment. Please wait.");
    EXPECT_EQ(boxes[0].flags, static_cast<unsigned>(kMbOk));
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(GetPacketStore().startTick.load(), 0u);
    EXPECT_EQ(Pane(0), " Ready");
    EXPECT_TRUE(window->GetToolBar()->IsButtonEnabled(res::kCmdStartCapture));
}

TEST_F(CommandTest, ClearWhileCapturingRestartsNumbersAndTimes) {
    CreateWindow();
    window->Command(res::kCmdStartCapture);
    const std::vector<DemoFrame> demo = DemoFrames();
    // An hour into the capture.
    GetPacketStore().startTick.fetch_sub(3723004);
    for (int i = 0; i < 5; ++i) {
        HandleArrival(demo[i].bytes.data(), static_cast<uint32_t>(demo[i].bytes.size()), 2, true);
    }
    Settle();
    ASSERT_EQ(window->Model()->Rows(), 5);
    EXPECT_EQ(Cell(4, 2).substr(0, 6), "01:02:");
    SelectRow(2);
    ASSERT_GT(window->DetailPane()->topLevelItemCount(), 0);

    std::vector<uint32_t> waits;
    VizirMainWindow::SetWaitHook([&](uint32_t milliseconds) {
        waits.push_back(milliseconds);
        // The capture thread is waited for while the request is withdrawn and the store still
        // holds the packets.
        EXPECT_FALSE(IsCapturing());
        EXPECT_EQ(GetPacketStore().Count(), 5);
    });
    QTest::keyClick(window->DetailPane(), Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(waits, std::vector<uint32_t>{kStopConfirmationLimit});
    EXPECT_TRUE(IsCapturing());
    EXPECT_EQ(window->Model()->Rows(), 0);
    EXPECT_EQ(window->DetailPane()->topLevelItemCount(), 0);
    EXPECT_EQ(GetPacketStore().Count(), 0);
    EXPECT_LT(TickCount() - GetPacketStore().startTick.load(), 1000u);
    // Still the running appearance.
    EXPECT_EQ(Pane(0), "Packet Capture Initiated");
    EXPECT_TRUE(IconIs(2, res::kCapturingIcon));
    EXPECT_TRUE(window->GetToolBar()->IsButtonEnabled(res::kCmdStopCapture));

    HandleArrival(demo[7].bytes.data(), static_cast<uint32_t>(demo[7].bytes.size()), 2, true);
    Settle();
    ASSERT_EQ(window->Model()->Rows(), 1);
    EXPECT_EQ(Cell(0, 0), "0");
    EXPECT_LT(GetPacketStore()[0].timeOffset, 50u);
    EXPECT_EQ(Cell(0, 2).substr(0, 10), "00:00:00.0");

    // Stopped: Clear still makes sure no driver delivers, then only clears.
    window->Command(res::kCmdStopCapture);
    waits.clear();
    VizirMainWindow::SetWaitHook([&](uint32_t milliseconds) { waits.push_back(milliseconds); });
    window->Command(res::kCmdClear);
    EXPECT_EQ(waits, std::vector<uint32_t>{kStopConfirmationLimit});
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(window->Model()->Rows(), 0);
}

// Clear waits for the capture thread to stop the driver, with the event loop running, and
// touches nothing when the driver does not stop within 2 s.
TEST_F(CommandTest, ClearWaitsForTheDriverToStopAndGivesUpAfterTwoSeconds) {
    CreateWindow();
    const std::vector<DemoFrame> demo = DemoFrames();
    const struct {
        int stopMilliseconds;
        bool cleared;
    } cases[] = {{300, true}, {2600, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopMilliseconds);
        idleDrivers.stopMilliseconds = c.stopMilliseconds;
        window->Command(res::kCmdStartCapture);
        ASSERT_TRUE(WaitUntil([] { return rawSocketRunning.load() == 1; }));
        HandleArrival(demo[0].bytes.data(), static_cast<uint32_t>(demo[0].bytes.size()), 2, true);
        Settle();
        // Due while the driver still stops: the event loop runs, the store is untouched.
        bool ranDuringWait = false;
        QTimer::singleShot(20, [&] {
            ranDuringWait = !IsCapturing() && GetPacketStore().Count() == 1;
        });
        window->Command(res::kCmdClear);
        EXPECT_TRUE(ranDuringWait);
        EXPECT_EQ(GetPacketStore().Count(), c.cleared ? 0 : 1);
        EXPECT_EQ(window->Model()->Rows(), c.cleared ? 0 : 1);
        EXPECT_EQ(IsCapturing() != 0, c.cleared);
        if (!c.cleared) {
            const std::string reason =
                "Clear: the capture did not stop within 2 seconds; nothing was changed";
            EXPECT_EQ(Pane(0), "  " + reason);
            EXPECT_TRUE(ShowsStopped());
            EXPECT_NE(ErrorLogText().find(reason), std::string::npos);
        }
        window->Command(res::kCmdStopCapture);
        ASSERT_TRUE(WaitUntil([] { return rawSocketRunning.load() == 0; }));
        idleDrivers.stopMilliseconds = 0;
        window->Command(res::kCmdClear);
    }
}

// Clear, Open and the method commands right after Stop (and Clear during a capture), over and
// over while methods 2 and 3 deliver at top speed: no frame that came before them reaches the
// store afterwards; after a Clear numbering restarts at 0 and times near 0.
TEST_F(CommandTest, ClearOpenAndMethodChangesRightAfterStopWhileFramesPourIn) {
    WriteOwnFrames(Path("three.tdw"), 3);
    CreateWindow();
    SetCapturePause(5);
    idleDrivers.flood = true;
    auto number = [](const PacketRecord& record) {
        uint64_t n = 0;
        for (int i = 7; i >= 0; --i) n = n << 8 | record.data[record.length - 8 + i];
        return n;
    };
    const PacketStore& store = GetPacketStore();
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        captureMethod.store(round % 2 ? 3 : 2);
        window->Command(res::kCmdStartCapture);
        ASSERT_TRUE(WaitUntil([&] { return store.Count() > 2; }));
        const int way = round / 2 % 4;
        if (way == 0) {
            // Clear during the capture: stop, clear, capture again.
            window->Command(res::kCmdClear);
            ASSERT_TRUE(WaitUntil([&] { return store.Count() > 0; }));
            EXPECT_EQ(store[0].index, 0u);
            EXPECT_LT(store[0].timeOffset, 2000u);
            EXPECT_GT(number(store[0]), idleDrivers.deliveredAtStop.load());
            window->Command(res::kCmdStopCapture);
            continue;
        }
        window->Command(res::kCmdStopCapture);
        if (way == 1) {
            window->Command(res::kCmdClear);
        } else if (way == 2) {
            ASSERT_TRUE(window->OpenByName(Path("three.tdw").c_str()));
        } else {
            window->Command(round % 2 ? res::kCmdModeNetMon : res::kCmdModePcap);
            window->Command(res::kCmdClear);
        }
        const int32_t kept = store.Count();
        EXPECT_EQ(kept, way == 2 ? 3 : 0);
        Settle();
        EXPECT_EQ(store.Count(), kept);
        EXPECT_EQ(window->Model()->Rows(), kept);
    }
    SetCapturePause(500);
}

// When the capture side ends a capture, the window looks exactly as after Stop, pane 0 says
// why and pane 1 keeps the method's text; a recent file then opens at once.
TEST_F(CommandTest, ACaptureTheCaptureSideEndsLooksStoppedWithItsReason) {
    ASSERT_TRUE(WriteDemoCapture(Path("demo.tdw").c_str()));
    CreateWindow();
    ASSERT_TRUE(window->OpenByName(Path("demo.tdw").c_str()));
    const std::vector<DemoFrame> demo = DemoFrames();
    const struct {
        int method;
        std::function<void()> end;  // what ends the capture; the first case's ends it at once
        std::string reason;
        std::string pane1;
    } cases[] = {
        {3, [] {}, "Capture could not start: no adapter here", "Not Capturing (WinPCap)"},
        {2,
         [&] {
             ASSERT_TRUE(WaitUntil([] { return netMonRunning.load() == 1; }));
             idleDrivers.Fail("Capture ended: interface veth9 was deleted");
         },
         "Capture ended: interface veth9 was deleted",
         "Not Capturing (Network Monitor Packet Provider)"},
        {1,
         [&] {
             ASSERT_TRUE(WaitUntil([] { return rawSocketRunning.load() == 1; }));
             ClearStore();
             const auto& frame = demo[0].bytes;
             for (int i = 0; i <= PacketStore::kLimit; ++i) {
                 HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), 2, true);
             }
             window->SetUnsaved(false);
         },
         kPacketLimitReached, "Not Capturing (Windows Sockets RCVALL)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        captureMethod.store(c.method);
        if (c.method == 3) {
            idleDrivers.refuseStart = true;
            idleDrivers.Fail("no adapter here");
        }
        window->Command(res::kCmdStartCapture);
        EXPECT_TRUE(window->ShowsCapturing());
        c.end();
        ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(); }));
        EXPECT_FALSE(IsCapturing());
        EXPECT_EQ(Pane(0), "  " + c.reason);
        ASSERT_TRUE(WaitUntil([&] { return Pane(1) == "  " + c.pane1; }));
        idleDrivers.refuseStart = false;

        window->Command(res::kCmdRecentFile1);
        Settle();
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(window->Model()->Rows(), static_cast<int>(demo.size()));
    }
}

TEST_F(CommandTest, AMethodChangeStopsWaitsAndResumesOnlyWhenConfirmed) {
    CreateWindow();
    std::vector<uint32_t> waits;
    VizirMainWindow::SetWaitHook([&](uint32_t milliseconds) { waits.push_back(milliseconds); });
    std::vector<int> asked;
    bool confirm = false;
    VizirMainWindow::SetInterfaceSelector([&](int method) {
        // The method is switched before its dialog, with the capture withdrawn.
        EXPECT_EQ(captureMethod.load(), method);
        EXPECT_FALSE(IsCapturing());
        asked.push_back(method);
        return confirm;
    });

    // WinPCap while capturing with the raw socket, then Cancel.
    window->Command(res::kCmdStartCapture);
    window->Command(res::kCmdModePcap);
    EXPECT_EQ(asked, std::vector<int>{3});
    EXPECT_EQ(waits, std::vector<uint32_t>{kStopConfirmationLimit});
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(captureMethod.load(), 3);
    EXPECT_EQ(ReadRegNumber("CaptureMethod", 0), 3u);
    EXPECT_EQ(Pane(0), "Packet capture stopped.");
    EXPECT_TRUE(window->GetToolBar()->IsButtonEnabled(res::kCmdStartCapture));
    ShowMenu(window->TopMenu(3));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdModePcap));

    // IP capture while stopped, confirmed: no capture; the dialog still waits until no driver
    // call runs.
    confirm = true;
    waits.clear();
    window->Command(res::kCmdModeRawSocket);
    EXPECT_EQ(asked, (std::vector<int>{3, 1}));
    EXPECT_EQ(waits, std::vector<uint32_t>{kStopConfirmationLimit});
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(captureMethod.load(), 1);

    // Network Monitor while capturing, confirmed: capturing again, same start tick.
    window->Command(res::kCmdStartCapture);
    const uint32_t tick = GetPacketStore().startTick.load();
    window->SetStatusText(0, "something else");
    waits.clear();
    window->Command(res::kCmdModeNetMon);
    EXPECT_EQ(waits, std::vector<uint32_t>{kStopConfirmationLimit});
    EXPECT_TRUE(IsCapturing());
    EXPECT_EQ(captureMethod.load(), 2);
    EXPECT_EQ(GetPacketStore().startTick.load(), tick);
    EXPECT_EQ(Pane(0), "Packet Capture Initiated");
}

TEST_F(CommandTest, TheContextMenuOffersTheQuickFiltersAndReplayByRowsAndMethod) {
    CreateWindow();
    OpenDemo();
    const PacketStore& store = GetPacketStore();
    const std::vector<std::string> tcp = {
        "Drop all packets from 192.168.1.23",  "Drop TCP packets from 192.168.1.23",
        "Drop all packets to 93.184.216.34",   "Drop TCP packets to 93.184.216.34",
        "Drop TCP packets with src port 49321", "Drop TCP packets with dest port 80",
        "Drop all TCP packets",                "Remove all capture filters"};
    const std::vector<std::string> icmp = {
        "Drop all packets from 192.168.1.23", "Drop ICMP packets from 192.168.1.23",
        "Drop all packets to 9.9.9.9",        "Drop ICMP packets to 9.9.9.9",
        "Drop all ICMP packets",              "Remove all capture filters"};
    const std::vector<std::string> arp = {
        "Drop all packets from 192.168.1.23", "Drop ARP packets from 192.168.1.23",
        "Drop all packets to 192.168.1.1",    "Drop ARP packets to 192.168.1.1",
        "Drop all ARP packets",               "Remove all capture filters"};
    const std::vector<std::string> llc = {
        "Drop all packets from ", "Drop LLC Sublayer Management (Group) packets from ",
        "Drop all packets to ",   "Drop LLC Sublayer Management (Group) packets to ",
        "Drop all LLC Sublayer Management (Group) packets", "Remove all capture filters"};
    const std::pair<uint32_t, std::vector<std::string>> packets[] = {
        {7, tcp}, {13, icmp}, {0, arp}, {21, llc}};
    for (const auto& [packet, filters] : packets) {
        for (int method = 1; method <= 3; ++method) {
            std::vector<std::string> expected = filters;
            if (method == 3) {
                expected.push_back("-");
                expected.push_back("Replay this packet");
            }
            EXPECT_EQ(Texts(ContextMenuItems(store[packet], 1, method)), expected)
                << packet << " " << method;
            EXPECT_EQ(Texts(ContextMenuItems(store[packet], 3, method)),
                      std::vector<std::string>{"Replay these packets"});
            EXPECT_TRUE(ContextMenuItems(store[packet], 0, method).empty());
        }
    }
    std::vector<int> numbers;
    for (const ContextMenuItem& item : ContextMenuItems(store[7], 1, 3)) {
        numbers.push_back(item.item);
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 3, 2, 10, 4, 5, 6, 7, 8, 9}));

    // The window builds it from the right-clicked row and the number of selected rows.
    Choose(0);
    captureMethod.store(3);
    window->SortByColumn(kColumnSize);  // rows no longer at their packet's position
    const int row = window->Model()->RowOfPacket(13);
    RightClickRow(row);
    ASSERT_EQ(shownMenus.size(), 1u);
    std::vector<std::string> expected = icmp;
    expected.push_back("-");
    expected.push_back("Replay this packet");
    EXPECT_EQ(Texts(shownMenus[0]), expected);

    QTableView* list = window->PacketList();
    list->selectionModel()->select(window->Model()->index(row + 1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(window->Model()->index(row + 2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    RightClickRow(row);  // on a selected row: the selection stays
    ASSERT_EQ(shownMenus.size(), 2u);
    EXPECT_EQ(Texts(shownMenus[1]), std::vector<std::string>{"Replay these packets"});

    list->clearSelection();
    window->ShowContextMenu(QPoint(5, 5));
    EXPECT_EQ(shownMenus.size(), 2u);  // nothing selected: no menu

    // A click below the last row takes the selected row with the focus.
    window->Command(res::kCmdClear);
    const std::vector<DemoFrame> demo = DemoFrames();
    for (int i : {0, 13, 7}) {
        HandleArrival(demo[i].bytes.data(), static_cast<uint32_t>(demo[i].bytes.size()), 2, true);
    }
    Settle();
    SelectRow(1);
    const QPoint below(5, list->viewport()->height() - 2);
    ASSERT_FALSE(list->indexAt(below).isValid());
    window->ShowContextMenu(below);
    ASSERT_EQ(shownMenus.size(), 3u);
    EXPECT_EQ(Texts(shownMenus[2]), expected);
}

TEST_F(CommandTest, DropFromSourceRemovesEveryRowOfItAndLaterFrames) {
    CreateWindow();
    OpenDemo();
    const int total = window->Model()->Rows();
    ASSERT_EQ(RowsFrom("192.168.1.23"), 12);
    Choose(kDropFromSource);
    RightClickRow(7);
    ASSERT_EQ(shownMenus.size(), 1u);
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), 1);
    EXPECT_EQ(RowsFrom("192.168.1.23"), 0);
    EXPECT_EQ(window->Model()->Rows(), total - 12);
    EXPECT_EQ(window->Model()->RowOfPacket(0), -1);
    EXPECT_EQ(window->Model()->PacketAt(0), 1u);
    EXPECT_EQ(GetPacketStore().Count(), total);  // the records stay

    const DemoFrame frame = DemoFrames()[7];
    HandleArrival(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 2, true);
    Settle();
    EXPECT_EQ(GetPacketStore().Count(), total);

    Choose(kRemoveAllFilters);
    RightClickRow(0);
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), 0);
    EXPECT_EQ(window->Model()->Rows(), total - 12);
    HandleArrival(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 2, true);
    Settle();
    EXPECT_EQ(GetPacketStore().Count(), total + 1);
    EXPECT_EQ(RowsFrom("192.168.1.23"), 1);
}

TEST_F(CommandTest, TheListIsFilteredAgainAfterEveryUseOfTheMenu) {
    CreateWindow();
    OpenDemo();
    const int total = window->Model()->Rows();
    // A rule that came in beside the menu shows only once the menu has been used.
    CaptureFilterRule udp;
    udp.criteria = kMatchProtocol;
    udp.protocol = 17;
    ASSERT_TRUE(InsertFilterRule(udp, 0));
    EXPECT_EQ(window->Model()->Rows(), total);
    Choose(0);
    RightClickRow(0);
    EXPECT_EQ(window->Model()->Rows(), total - 8);

    // With 1,021 rules a further one is refused without a word.
    CaptureFilterRule nothing;
    nothing.criteria = kMatchSource;
    std::snprintf(nothing.sourceText, sizeof nothing.sourceText, "10.255.255.255");
    while (GetCaptureFilterSet().RuleCount() < CaptureFilterSet::kMaxRules) {
        ASSERT_TRUE(InsertFilterRule(nothing, 0));
    }
    Choose(kDropProtocol);
    RightClickRow(window->Model()->RowOfPacket(7));
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), CaptureFilterSet::kMaxRules);
    EXPECT_EQ(window->Model()->Rows(), total - 8);
    EXPECT_TRUE(boxes.empty());

    // Replaying has no driver to send with yet.
    captureMethod.store(3);
    Choose(kContextReplay);
    RightClickRow(0);
    EXPECT_EQ(Pane(0), "  Error: Must use PCap driver to send packets");
    // An item the menu did not offer does nothing.
    Choose(kDropProtocolSourcePort);
    RightClickRow(window->Model()->RowOfPacket(13));
    EXPECT_EQ(GetCaptureFilterSet().RuleCount(), CaptureFilterSet::kMaxRules);
}

}  // namespace
