// Renders the main window as a new user sees it: the demonstration capture loaded, a TCP packet
// (the HTTP request) selected with its layers expanded; written as a PNG image. With
// --context-menu, the packet list's context menu is open on that row (capture method WinPCap, so
// that every item shows), and the picture is taken from the screen. With --raw-data the detail
// pane shows the Raw Data view.
//
//     tw_screenshot [--context-menu | --raw-data] FILE.png [WIDTH HEIGHT]
//
// Run it on a display (scripts/screenshot starts a virtual one); it uses the settings folder of
// the environment, so give it an empty one.
#include <QApplication>
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
    const bool contextMenu = argc > 1 && std::strcmp(argv[1], "--context-menu") == 0;
    const bool rawData = argc > 1 && std::strcmp(argv[1], "--raw-data") == 0;
    if (contextMenu || rawData) {
        --argc;
        ++argv;
    }
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr,
                     "usage: tw_screenshot [--context-menu | --raw-data] FILE.png [WIDTH HEIGHT]\n");
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
    if (contextMenu) {
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
