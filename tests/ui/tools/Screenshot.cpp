// Renders the main window as a new user sees it: the demonstration capture loaded, a TCP packet
// (the HTTP request) selected with its layers expanded; written as a PNG image. With
// --context-menu, the packet list's context menu is open on that row (capture method WinPCap, so
// that every item shows), and the picture is taken from the screen. With --raw-data the detail
// pane shows the Raw Data view. With --address-dialog, --adapter-dialog or --network-dialog, the
// picture is the interface dialog of the raw-socket, packet-capture or Network Monitor method, as
// its Mode command opens it.
//
//     tw_screenshot [--context-menu | --raw-data | --address-dialog | --adapter-dialog |
//                    --network-dialog] FILE.png [WIDTH HEIGHT]
//
// Run it on a display (scripts/screenshot starts a virtual one); it uses the settings folder of
// the environment, so give it an empty one.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/gui/Dialog.h"
#include "resources/Resources.h"
#include "ui/DemoCapture.h"
#include "ui/PacketListModel.h"
#include "ui/VizirMainWindow.h"

namespace {

void Pump(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const char* mode = argc > 1 && std::strncmp(argv[1], "--", 2) == 0 ? argv[1] : "";
    const bool contextMenu = std::strcmp(mode, "--context-menu") == 0;
    const bool rawData = std::strcmp(mode, "--raw-data") == 0;
    const bool addressDialog = std::strcmp(mode, "--address-dialog") == 0;
    const bool adapterDialog = std::strcmp(mode, "--adapter-dialog") == 0;
    const bool networkDialog = std::strcmp(mode, "--network-dialog") == 0;
    if (*mode) {
        --argc;
        ++argv;
    }
    if ((argc != 2 && argc != 4) ||
        (*mode && !contextMenu && !rawData && !addressDialog && !adapterDialog && !networkDialog)) {
        std::fprintf(stderr, "usage: tw_screenshot [--context-menu | --raw-data | --address-dialog | "
                             "--adapter-dialog | --network-dialog] FILE.png [WIDTH HEIGHT]\n");
        return 2;
    }
    const int width = argc == 4 ? std::atoi(argv[2]) : 1000;
    const int height = argc == 4 ? std::atoi(argv[3]) : 700;
    ErrorLog::SetDebugOutput([](const char*) {});
    WriteRegNumber("WindowX", 0);
    WriteRegNumber("WindowY", 0);
    WriteRegNumber("WindowWidth", static_cast<uint32_t>(width));
    WriteRegNumber("WindowHeight", static_cast<uint32_t>(height));

    const std::string demo = (std::filesystem::temp_directory_path() / "demo.tdw").string();
    if (!WriteDemoCapture(demo.c_str())) return 1;

    VizirMainWindow window;
    AppMainWindow::CreateOptions options;
    options.splash = false;
    if (!window.Create(options)) return 1;
    if (!window.OpenByName(demo.c_str())) return 1;
    window.SetUnsaved(false);
    Pump(300);

    if (rawData) window.Command(res::kCmdRawData);
    QTableView* list = window.PacketList();
    const int request = window.Model()->RowOfPacket(7);
    list->setFocus();
    list->selectRow(request);
    list->scrollTo(window.Model()->index(0, 0));
    Pump(500);

    QPixmap image;
    if (addressDialog || adapterDialog) {
        // The dialog as it opens, then cancelled: no setting changes.
        Dialog::SetRunHook([&](Dialog& dialog) {
            dialog.Handle()->show();
            Pump(400);
            image = dialog.Handle()->grab();
            dialog.Press(res::kIdCancel);
        });
        window.Command(addressDialog ? res::kCmdModeRawSocket : res::kCmdModePcap);
        Dialog::SetRunHook(nullptr);
    } else if (networkDialog) {
        // The Network Monitor provider's own dialog (a plain Qt dialog), then cancelled.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = window.MainWidget()->findChild<QDialog*>("SelectNetworkDlg");
            if (!dialog || !dialog->isVisible()) return;
            poll.stop();
            Pump(400);
            image = dialog->grab();
            dialog->reject();
        });
        poll.start(50);
        window.Command(res::kCmdModeNetMon);
    } else if (contextMenu) {
        // The method only, without its dialog.
        VizirMainWindow::SetInterfaceSelector([](int) { return true; });
        window.Command(res::kCmdModePcap);
        const QPoint point =
            list->visualRect(window.Model()->index(request, 3)).center() + QPoint(0, 2);
        // The menu waits for a choice; the picture is taken while it is open, then it closes.
        QTimer::singleShot(700, [&] {
            QMainWindow* shell = window.MainWidget();
            const QRect frame = shell->frameGeometry();
            image = QGuiApplication::primaryScreen()->grabWindow(
                0, frame.x(), frame.y(), frame.width(), frame.height());
            if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        });
        window.ShowContextMenu(point);
    } else {
        image = window.MainWidget()->grab();
    }
    std::filesystem::remove(demo);
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tw_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
