// What the window shows is whole and as it is: description bytes as Latin-1 in the detail pane;
// a Time, a dotted IPv4 address and the capture-state texts uncut at the default size, and a
// cut text whole as its tooltip; recent files and file dialogs with Linux paths (letter case,
// more than 256 bytes).
#include <QHelpEvent>
#include <QMainWindow>
#include <QToolTip>

#include "WindowFixture.h"
#include "decode/FrameBuilder.h"
#include "framework/gui/StatusBar.h"
#include "resources/Resources.h"
#include "ui/PacketListView.h"

namespace {

using namespace frames;

// An own-format capture of one frame stored at that time offset.
void WriteOwnFrame(const std::string& path, const Bytes& frame, uint32_t milliseconds) {
    uint8_t header[12];
    bytes::StoreLe16(header, 2);
    bytes::StoreLe16(header + 2, 1);
    bytes::StoreLe32(header + 4, static_cast<uint32_t>(frame.size()));
    bytes::StoreLe32(header + 8, milliseconds);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size()));
}

// Sends a tooltip request to the widget at that point; the tooltip then shown, if any.
QString ToolTipAt(QWidget* widget, QPoint at) {
    QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

using PresentationTest = WindowFixture;

TEST_F(PresentationTest, TheDetailPaneShowsDescriptionBytesAsLatin1) {
    CreateWindow();
    // A DNS label with bytes that are not UTF-8.
    const str text("DNS Packet\r\n\tQuery Name : caf\xe9\xff.test");
    ASSERT_TRUE(FillTree(window->DetailPane(), text));
    ASSERT_EQ(window->DetailPane()->topLevelItemCount(), 1);
    EXPECT_EQ(window->DetailPane()->topLevelItem(0)->child(0)->text(0),
              QString::fromLatin1("Query Name : caf\xe9\xff.test"));
}

TEST_F(PresentationTest, AtTheDefaultSizeTimesAddressesAndCaptureStatesFitAndCutTextsShowWhole) {
    const uint32_t broadcast = IPv4Address(255, 255, 255, 255);
    const Mac mac{0x02, 0, 0, 0, 0, 1};
    // The widest address and a time just short of ten hours.
    WriteOwnFrame(Path("wide.tdw"),
                  Ethernet(mac, mac, 0x0800, IPv4(17, broadcast, broadcast, UDP(1, 2, {}))),
                  35'999'999);
    CreateWindow();
    window->MainWidget()->resize(AppMainWindow::kDefaultWidth, AppMainWindow::kDefaultHeight);
    ASSERT_TRUE(window->OpenByName(Path("wide.tdw").c_str()));
    Settle();
    auto* list = static_cast<PacketListView*>(window->PacketList());
    StatusBar* bar = window->GetStatusBar();
    const QString states[] = {"  Not Capturing (Network Monitor Packet Provider)",
                              "  Capturing (Windows Sockets RCVALL)", "  Packet Capture Initiated",
                              "  Packet capture stopped."};
    auto cell = [&](int column) { return window->Model()->index(0, column); };
    EXPECT_EQ(Cell(0, kColumnTime), "09:59:59.999");
    for (int column : {kColumnTime, kColumnSource, kColumnDestination}) {
        EXPECT_EQ(list->CutText(cell(column)), QString()) << Cell(0, column);
    }
    for (const QString& state : states) {
        bar->SetPaneText(1, state.toLatin1().constData());
        EXPECT_EQ(bar->CutText(1), QString()) << state.toStdString();
    }

    // Narrower than the default, the texts are cut and their tooltips show them whole.
    window->MainWidget()->resize(AppMainWindow::kMinimumWidth, AppMainWindow::kMinimumHeight);
    QApplication::processEvents();
    EXPECT_EQ(list->CutText(cell(kColumnSource)), "255.255.255.255");
    EXPECT_EQ(ToolTipAt(list->viewport(), list->visualRect(cell(kColumnSource)).center()),
              "255.255.255.255");
    EXPECT_EQ(list->CutText(cell(kColumnSize)), QString());
    bar->SetPaneText(1, states[0].toLatin1().constData());
    EXPECT_EQ(bar->CutText(1), states[0]);
    const QPoint pane1((bar->PaneEdges()[0] + bar->PaneEdges()[1]) / 2,
                       bar->Handle()->height() / 2);
    EXPECT_EQ(ToolTipAt(bar->Handle(), pane1), states[0]);
}

TEST_F(PresentationTest, RecentFilesAndFileDialogsTakeLinuxPaths) {
    // Two names that differ only by case, and a path of more than 256 bytes.
    const std::string lower = Path("capture.tdw"), upper = Path("Capture.tdw");
    const std::filesystem::path deepFolder =
        folder_ / std::string(120, 'd') / std::string(120, 'e') / std::string(120, 'f');
    std::filesystem::create_directories(deepFolder);
    const std::string deep = (deepFolder / "long.tdw").string();
    ASSERT_GT(deep.size(), 380u);
    for (const std::string& path : {lower, upper, deep}) WriteOwnFrames(path, 1);

    CreateWindow();
    for (const std::string& path : {lower, upper, deep}) {
        ASSERT_TRUE(window->OpenByName(path.c_str())) << path;
    }
    const std::vector<std::string> recent = {deep, upper, lower};
    auto listed = [&] {
        std::vector<std::string> files;
        for (int slot = 0; slot < 3; ++slot) files.push_back(window->RecentFile(slot));
        return files;
    };
    EXPECT_EQ(listed(), recent);
    // Kept whole from one run to the next.
    window.reset();
    CreateWindow();
    EXPECT_EQ(listed(), recent);

    // An open dialog whose request was sized for 256 bytes takes the long path.
    paths.push_back(deep);
    window->Command(res::kCmdOpen);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_STREQ(window->CurrentFile().c_str(), deep.c_str());
}

}  // namespace
