// The main window over a capture: opening, the packet list's rows and sorting, the detail pane
// and its remembered layers, copy, find, the splitter and the keyboard.
#include <QClipboard>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <thread>

#include "WindowFixture.h"
#include "decode/DescriptionTree.h"
#include "files/FileCommands.h"
#include "framework/Bytes.h"
#include "resources/Resources.h"
#include "ui/DemoCapture.h"
#include "ui/FindDlg.h"
#include "ui/PacketContextMenu.h"
#include "decode/FrameBuilder.h"

std::string WindowFixture::ErrorLogText() const {
    std::ifstream file(folder_ / "error.log");
    return std::string(std::istreambuf_iterator<char>(file), {});
}

namespace {

class MainWindowTest : public WindowFixture {
protected:
    // Opens the demonstration capture through File, Open.
    void OpenDemo() {
        ASSERT_TRUE(WriteDemoCapture(Path("demo.tdw").c_str()));
        paths.push_back(Path("demo.tdw"));
        window->Command(res::kCmdOpen);
        Settle();
    }

    std::vector<std::string> TreeLabels() const {
        std::vector<std::string> labels;
        std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
            labels.push_back(item->text(0).toStdString());
            for (int i = 0; i < item->childCount(); ++i) walk(item->child(i));
        };
        QTreeWidget* tree = window->DetailPane();
        for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i));
        return labels;
    }

    std::vector<std::string> DescriptionLabels(uint32_t packet) const {
        str text;
        DescribePacket(GetPacketStore()[static_cast<int32_t>(packet)], text);
        std::vector<std::string> labels;
        for (const auto& item : BuildDescriptionTree(text.c_str())) labels.push_back(item.label);
        return labels;
    }
};

TEST_F(MainWindowTest, OpenFillsTheListWithTheRowTexts) {
    CreateWindow();
    OpenDemo();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].save);
    EXPECT_EQ(requests[0].selectedFilter, 1u);
    EXPECT_STREQ(requests[0].defaultExtension, "tdw");
    ASSERT_EQ(requests[0].filterCount, 4u);
    EXPECT_STREQ(requests[0].filters[2].text,
                 "Network Monitor or libPCap Capture Files (*.cap; *.pcap)");

    const int frames = static_cast<int>(DemoFrames().size());
    EXPECT_EQ(GetPacketStore().Count(), frames);
    ASSERT_EQ(window->Model()->Rows(), frames);
    EXPECT_EQ(RowTexts(0), (std::vector<std::string>{"0", "ETHERNET", "00:00:00.000", "ARP",
                                                     "192.168.1.23", "192.168.1.1", "", "",
                                                     "60"}));
    EXPECT_EQ(RowTexts(2), (std::vector<std::string>{"2", "ETHERNET", "00:00:00.012", "UDP",
                                                     "192.168.1.23", "9.9.9.9", "53012", "53",
                                                     "75"}));
    EXPECT_EQ(RowTexts(13), (std::vector<std::string>{"13", "ETHERNET", "00:00:02.000", "ICMP",
                                                      "192.168.1.23", "9.9.9.9", "", "",
                                                      "74"}));
    // An 802.3 frame carries no addresses and no ports.
    EXPECT_EQ(RowTexts(21), (std::vector<std::string>{"21", "ETHERNET", "00:00:06.000",
                                                      "LLC Sublayer Management (Group)", "",
                                                      "", "", "", "197"}));

    EXPECT_FALSE(window->Unsaved());
    EXPECT_EQ(window->MainWidget()->windowTitle().toStdString(), "Tidewatch - [demo.tdw]");
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(), " Ready");
    EXPECT_EQ(window->GetStatusBar()->PaneText(2).toStdString(),
              "  " + std::to_string(frames) + " / 65536");
    EXPECT_EQ(std::string(window->RecentFile(0)), Path("demo.tdw"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, RowsFromAnotherThreadArriveInOrderInBatches) {
    CreateWindow();
    const std::vector<DemoFrame> demo = DemoFrames();
    std::thread capture([&demo] {
        for (int round = 0; round < 20; ++round) {
            for (const DemoFrame& frame : demo) {
                HandleArrival(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 2,
                              true);
            }
        }
    });
    capture.join();
    EXPECT_EQ(window->Model()->Rows(), 0) << "rows go in on the interface thread";
    QApplication::processEvents();
    const int count = GetPacketStore().Count();
    ASSERT_EQ(count, 20 * static_cast<int>(demo.size()));
    Settle();
    ASSERT_EQ(window->Model()->Rows(), count);
    for (int row = 0; row < count; ++row) ASSERT_EQ(window->Model()->PacketAt(row), uint32_t(row));
    EXPECT_TRUE(window->Unsaved());
    EXPECT_EQ(window->GetStatusBar()->PaneText(2).toStdString(), "  " +
                                                                     std::to_string(count - 1) +
                                                                     " / 65536");

    // A text still queued from that thread never replaces one the interface thread put in
    // the pane after it (a loaded file's count after the last count of a capture).
    std::thread([&] { window->SetStatusText(2, "  6319 / 65536"); }).join();
    window->SetStatusText(2, "  31 / 65536");
    Settle();
    EXPECT_EQ(window->GetStatusBar()->PaneText(2).toStdString(), "  31 / 65536");
}

TEST_F(MainWindowTest, SelectingARowShowsItsPacketWithTheRememberedLayers) {
    CreateWindow();
    OpenDemo();
    SelectRow(7);  // the HTTP request
    QTreeWidget* tree = window->DetailPane();
    ASSERT_GE(tree->topLevelItemCount(), 4);
    EXPECT_EQ(TopLevelText(0), "Ethernet II Packet");
    EXPECT_EQ(TopLevelText(1), "IPv4 Header");
    EXPECT_EQ(TopLevelText(2), "TCP Header");
    EXPECT_EQ(TopLevelText(3), "Raw Data");
    EXPECT_EQ(TreeLabels(), DescriptionLabels(7));
    for (int i = 0; i < tree->topLevelItemCount(); ++i) EXPECT_TRUE(tree->topLevelItem(i)->isExpanded());

    // The user collapses the second layer; the next packet shows it collapsed too.
    tree->topLevelItem(1)->setExpanded(false);
    EXPECT_EQ(expandedLayers[1], 0);
    SelectRow(8);
    EXPECT_EQ(TreeLabels(), DescriptionLabels(8));
    EXPECT_TRUE(tree->topLevelItem(0)->isExpanded());
    EXPECT_FALSE(tree->topLevelItem(1)->isExpanded());
    EXPECT_TRUE(tree->topLevelItem(2)->isExpanded());

    // Deeper items are not remembered.
    QTreeWidgetItem* field = tree->topLevelItem(0)->child(0);
    ASSERT_NE(field, nullptr);
    field->setExpanded(true);
    EXPECT_EQ(expandedLayers[0], 1);
    EXPECT_EQ(expandedLayers[2], 1);
}

TEST_F(MainWindowTest, TheViewCommandsRedescribeTheSelectedPacket) {
    CreateWindow();
    OpenDemo();
    SelectRow(0);
    window->Command(res::kCmdRawData);
    EXPECT_EQ(DecodeView.load(), DecodeViewKind::RawData);
    ASSERT_EQ(window->DetailPane()->topLevelItemCount(), 1);
    EXPECT_EQ(TopLevelText(0), "Raw Data");
    EXPECT_EQ(window->DetailPane()->topLevelItem(0)->child(0)->text(0).toStdString(),
              "ff ff ff ff ff ff 00 1b 21 3a 4f 10 08 06 00 01  (        !:O     )");
    EXPECT_TRUE(window->PacketList()->hasFocus() || !window->MainWidget()->isActiveWindow());

    // F9 through the accelerators, with the list focused.
    QTest::keyClick(window->PacketList(), Qt::Key_F9);
    EXPECT_EQ(DecodeView.load(), DecodeViewKind::PacketParser);
    EXPECT_EQ(TopLevelText(0), "Ethernet II Packet");
}

TEST_F(MainWindowTest, CopyPutsTheShownDescriptionOnTheClipboard) {
    CreateWindow();
    OpenDemo();
    QApplication::clipboard()->setText("untouched");
    window->Command(res::kCmdCopy);  // nothing selected: nothing copied
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "untouched");

    SelectRow(0);
    window->Command(res::kCmdRawData);
    QTest::keyClick(window->PacketList(), Qt::Key_C, Qt::ControlModifier);
    const std::string copied = QApplication::clipboard()->text().toStdString();
    EXPECT_EQ(copied.substr(0, 11), "Raw Data\r\n\t");
    EXPECT_EQ(copied.substr(11, 48), "ff ff ff ff ff ff 00 1b 21 3a 4f 10 08 06 00 01 ");
    str raw;
    DescribePacket(GetPacketStore()[0], raw);
    EXPECT_EQ(copied, raw.c_str());

    // Packet bytes are no UTF-8: a DNS label's byte 0xe9 is copied as the list shows it.
    const frames::Bytes query = frames::Ethernet(
        {2, 0, 0, 0, 0, 1}, {2, 0, 0, 0, 0, 2}, 0x0800,
        frames::IPv4(17, frames::IPv4Address(10, 0, 0, 2), frames::IPv4Address(10, 0, 0, 1),
                     frames::UDP(5353, 53, frames::DnsQuery(7, "caf\xe9.example", 1))));
    HandleArrival(query.data(), static_cast<uint32_t>(query.size()), 2, true);
    Settle();
    window->Command(res::kCmdPacketParser);
    SelectRow(window->Model()->Rows() - 1);
    window->Command(res::kCmdCopy);
    const QString text = QApplication::clipboard()->text();
    EXPECT_TRUE(text.contains(QString::fromLatin1("caf\xe9")));
    EXPECT_FALSE(text.contains(QChar(0xfffd)));
}

TEST_F(MainWindowTest, SortingByProtocolOrdersByNumberAndSelectionFollowsThePacket) {
    CreateWindow();
    OpenDemo();
    const PacketStore& store = GetPacketStore();
    SelectRow(4);
    QHeaderView* header = window->PacketList()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(kColumnProtocol) + 5, 5));
    EXPECT_TRUE(packetColumns[kColumnProtocol].ascending);
    PacketListModel* model = window->Model();
    int lastTcp = -1, firstUdp = -1;
    for (int row = 1; row < model->Rows(); ++row) {
        EXPECT_LE(store[static_cast<int32_t>(model->PacketAt(row - 1))].protocol,
                  store[static_cast<int32_t>(model->PacketAt(row))].protocol);
    }
    for (int row = 0; row < model->Rows(); ++row) {
        if (Cell(row, kColumnProtocol) == "TCP") lastTcp = row;
        if (Cell(row, kColumnProtocol) == "UDP" && firstUdp < 0) firstUdp = row;
    }
    EXPECT_LT(lastTcp, firstUdp);
    // The selection stayed on packet 4.
    EXPECT_EQ(model->PacketAt(CurrentRow()), 4u);

    // Selecting after the sort shows the packet of that row.
    const int row = 2;
    ASSERT_NE(model->PacketAt(row), uint32_t(row));
    SelectRow(row);
    EXPECT_EQ(TreeLabels(), DescriptionLabels(model->PacketAt(row)));

    // A second click reverses the order; "No" starts descending.
    window->SortByColumn(kColumnProtocol);
    EXPECT_GE(store[static_cast<int32_t>(model->PacketAt(0))].protocol,
              store[static_cast<int32_t>(model->PacketAt(model->Rows() - 1))].protocol);
    window->SortByColumn(kColumnNumber);
    EXPECT_EQ(model->PacketAt(0), uint32_t(model->Rows() - 1));
}

TEST_F(MainWindowTest, FindIgnoresCaseAndWalksTheShownOrder) {
    CreateWindow();
    OpenDemo();
    Dialog::SetRunHook([](Dialog& dialog) {
        dialog.SetItemText(res::kIdFindText, "get");
        dialog.Press(res::kIdFindButton);
    });
    window->Command(res::kCmdFind);
    EXPECT_STREQ(searchText, "get");
    EXPECT_EQ(CurrentRow(), 7);  // "GET / HTTP/1.1"
    EXPECT_EQ(TopLevelText(0), "Ethernet II Packet");

    // From the last row there is nothing further; the selection stays.
    const int last = window->Model()->Rows() - 1;
    SelectRow(last);
    EXPECT_FALSE(window->FindNext("get"));
    EXPECT_EQ(CurrentRow(), last);
    EXPECT_EQ(window->PacketList()->selectionModel()->selectedRows().size(), 1);

    // A packet whose last bytes are the text; an empty text finds the next row.
    SelectRow(0);
    EXPECT_TRUE(window->FindNext("test"));
    EXPECT_EQ(window->Model()->PacketAt(CurrentRow()), uint32_t(last));
    SelectRow(3);
    EXPECT_TRUE(window->FindNext(""));
    EXPECT_EQ(CurrentRow(), 4);

    // Sorted by size, descending: the search goes on from the row after the selection in the
    // order shown, so it finds the HTTP request (smaller) after the HTTP response.
    window->SortByColumn(kColumnSize);
    window->SortByColumn(kColumnSize);
    PacketListModel* model = window->Model();
    SelectRow(0);
    strcpy(searchText, "http/1.1");
    window->Command(res::kCmdFindNext);
    EXPECT_EQ(model->PacketAt(CurrentRow()), 8u);
    window->Command(res::kCmdFindNext);
    EXPECT_EQ(model->PacketAt(CurrentRow()), 7u);
    window->Command(res::kCmdFindNext);
    EXPECT_EQ(model->PacketAt(CurrentRow()), 7u);

    // Cancel changes nothing.
    Dialog::SetRunHook([](Dialog& dialog) {
        dialog.SetItemText(res::kIdFindText, "something else");
        dialog.Press(kIdCancel);
    });
    window->Command(res::kCmdFind);
    EXPECT_STREQ(searchText, "http/1.1");
}

TEST_F(MainWindowTest, TheShownPacketsRowIsSelectedAndInView) {
    CreateWindow();
    OpenDemo();
    QTableView* list = window->PacketList();
    PacketListModel* model = window->Model();
    auto expectShown = [&](int row) {
        ASSERT_EQ(CurrentRow(), row);
        EXPECT_EQ(SelectedRows(), std::vector<int>{row});
        EXPECT_EQ(TreeLabels(), DescriptionLabels(model->PacketAt(row)));
        EXPECT_TRUE(list->visualRect(model->index(row, 0)).intersects(list->viewport()->rect()));
    };
    // A list just filled that takes the focus chooses no row, so a Find that lands on the first
    // row finds it there.
    window->DetailPane()->setFocus();
    list->setFocus();
    EXPECT_EQ(CurrentRow(), -1);
    EXPECT_EQ(window->DetailPane()->topLevelItemCount(), 0);
    EXPECT_TRUE(window->FindNext(""));
    expectShown(0);

    // Home and End go to the first and last packet, with Ctrl or without.
    const int last = model->Rows() - 1;
    const std::pair<QKeyCombination, int> keys[] = {
        {Qt::ControlModifier | Qt::Key_End, last}, {Qt::ControlModifier | Qt::Key_Home, 0},
        {QKeyCombination(Qt::Key_End), last},       {QKeyCombination(Qt::Key_Home), 0}};
    for (const auto& [key, row] : keys) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        QTest::keyClick(list, key.key(), key.keyboardModifiers());
        expectShown(row);
    }

    // A drop filter that takes the shown packet's row away: the row that takes its place is
    // shown and selected.
    SelectRow(model->RowOfPacket(13));  // ICMP
    VizirMainWindow::SetContextMenuChooser(
        [](const std::vector<ContextMenuItem>&, QPoint) { return 6; });  // "Drop all ICMP packets"
    window->ShowContextMenu(list->visualRect(list->currentIndex()).center());
    ASSERT_EQ(model->RowOfPacket(13), -1);
    expectShown(CurrentRow());
    EXPECT_NE(GetPacketStore()[static_cast<int32_t>(model->PacketAt(CurrentRow()))].protocol, 1);
}

TEST_F(MainWindowTest, CtrlAWithTheListFocusedTogglesAutoScroll) {
    CreateWindow();
    OpenDemo();
    QTableView* list = window->PacketList();
    SelectRow(1);
    EXPECT_FALSE(window->AutoScroll());
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(window->AutoScroll());
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);
    QTest::keyClick(window->DetailPane(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_FALSE(window->AutoScroll());

    // The View menu shows the state when it opens.
    window->Command(res::kCmdAutoScroll);
    QMenu* view = window->TopMenu(2);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->title().toStdString(), "&View");
    emit view->aboutToShow();
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoScroll));
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdPacketParser));
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdRawData));
}

TEST_F(MainWindowTest, TabMovesBetweenListAndPane) {
    CreateWindow();
    window->MainWidget()->activateWindow();
    window->PacketList()->setFocus();
    QTest::keyClick(window->PacketList(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window->DetailPane());
    QTest::keyClick(window->DetailPane(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window->PacketList());
}

TEST_F(MainWindowTest, TheSplitterKeepsThePaneBetweenTwentyAndEightyPercent) {
    CreateWindow();
    QWidget* client = window->Client();
    QTreeWidget* pane = window->DetailPane();
    const int available = client->height() - window->GetStatusBar()->Handle()->height();
    EXPECT_EQ(pane->height(), static_cast<int>(available * 0.5));
    // The gap between list and pane is the only part of the client area a press reaches.
    const QPoint gap(50, pane->y() - 1);
    ASSERT_EQ(client->childAt(gap), nullptr);
    QTest::mousePress(client, Qt::LeftButton, {}, gap);
    QTest::mouseMove(client, QPoint(50, 0));
    EXPECT_DOUBLE_EQ(window->SplitRatio(), 0.8);
    EXPECT_EQ(pane->height(), static_cast<int>(available * 0.8));
    QTest::mouseMove(client, QPoint(50, client->height()));
    EXPECT_DOUBLE_EQ(window->SplitRatio(), 0.2);
    EXPECT_EQ(pane->height(), static_cast<int>(available * 0.2));
    QTest::mouseRelease(client, Qt::LeftButton, {}, QPoint(50, available / 2));
    EXPECT_NEAR(window->SplitRatio(), 1.0 - static_cast<double>(available / 2) / available, 1e-9);
    EXPECT_EQ(window->PacketList()->y() + window->PacketList()->height() +
                  window->SplitterThickness(),
              pane->y());

    // Every column gets the same share of the width after a resize.
    QHeaderView* header = window->PacketList()->horizontalHeader();
    const int share = header->sectionSize(0);
    for (int column = 1; column < kPacketColumnCount; ++column) {
        EXPECT_EQ(header->sectionSize(column), share);
    }
    EXPECT_EQ(share, (client->width() -
                      window->PacketList()->style()->pixelMetric(QStyle::PM_ScrollBarExtent)) /
                         kPacketColumnCount);
}

TEST_F(MainWindowTest, AutoScrollKeepsTheNewestRowInView) {
    WriteRegNumber("AutoScroll", 1);
    CreateWindow();
    EXPECT_TRUE(window->AutoScroll());
    const std::vector<DemoFrame> demo = DemoFrames();
    for (int round = 0; round < 10; ++round) {
        for (const DemoFrame& frame : demo) {
            HandleArrival(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()), 2, true);
        }
    }
    Settle();
    QTableView* list = window->PacketList();
    const int last = window->Model()->Rows() - 1;
    const QRect newest = list->visualRect(window->Model()->index(last, 0));
    EXPECT_TRUE(newest.intersects(list->viewport()->rect()));
    EXPECT_GT(list->rowAt(0), 0);
}

}  // namespace

namespace {

TEST_F(MainWindowTest, ALongLoadKeepsTheWindowResponsive) {
    WriteOwnFrames(Path("large.tdw"), PacketStore::kLimit);
    CreateWindow();
    bool ranDuringLoad = false;
    int rowsDuringLoad = 0;
    QObject::connect(window->Model(), &PacketListModel::RowsAppended, [&] {
        if (window->IsLoading()) rowsDuringLoad = window->Model()->Rows();
    });
    QTimer::singleShot(0, [&] {
        ranDuringLoad = window->IsLoading();
        // No capture while the file is read.
        QTest::keyClick(window->PacketList(), Qt::Key_F5);
        // Commands that would change the store, the filters, the order or the method wait
        // for the load; closing comes after it.
        window->Command(res::kCmdClear);
        window->DropFiles({QString::fromStdString(Path("large.tdw"))});
        window->SortByColumn(kColumnSize);
        window->Command(res::kCmdModePcap);
        window->PacketList()->selectRow(0);
        window->ShowContextMenu(QPoint(1, 1));
        window->Command(res::kCmdExit);
    });
    VizirMainWindow::SetContextMenuChooser([](const std::vector<ContextMenuItem>&, QPoint) {
        ADD_FAILURE() << "a context menu during the load";
        return 0;
    });
    ASSERT_TRUE(window->OpenByName(Path("large.tdw").c_str()));
    EXPECT_TRUE(ranDuringLoad);
    EXPECT_GT(rowsDuringLoad, 0);
    EXPECT_LT(rowsDuringLoad, PacketStore::kLimit);
    EXPECT_EQ(GetPacketStore().Count(), PacketStore::kLimit);
    EXPECT_TRUE(window->MainWidget()->isVisible());
    EXPECT_FALSE(window->IsBusy());

    Settle();  // the deferred close: a capture just opened has nothing to save
    EXPECT_EQ(window->Model()->Rows(), PacketStore::kLimit);
    ASSERT_EQ(boxes.size(), 2u);  // Start, then the method
    for (const ShownBox& box : boxes) {
        EXPECT_EQ(box.text, "Cannot capture at the moment. Please wait.");
        EXPECT_EQ(box.flags, static_cast<unsigned>(kMbOk));
    }
    EXPECT_EQ(captureMethod.load(), 1);
    EXPECT_EQ(window->Model()->PacketAt(0), 0u);  // still in file order
    EXPECT_FALSE(IsCapturing());
    EXPECT_FALSE(window->MainWidget()->isVisible());
}

TEST_F(MainWindowTest, ThePacketCountPaneFollowsTheLimitAndClear) {
    WriteOwnFrames(Path("over.tdw"), PacketStore::kLimit + 46);
    CreateWindow();
    ASSERT_TRUE(window->OpenByName(Path("over.tdw").c_str()));
    Settle();
    EXPECT_EQ(Pane(0), "  Packet capture stopped - packet limit reached.");
    EXPECT_EQ(Pane(2), "  65536 / 65536");
    window->Command(res::kCmdClear);
    EXPECT_EQ(window->Model()->Rows(), 0);
    EXPECT_EQ(Pane(2), "");
}

}  // namespace
