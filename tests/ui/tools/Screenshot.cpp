// Renders the main window as a new user sees it: the demonstration capture loaded, a TCP packet
// (the HTTP request) selected with its layers expanded; written as a PNG image.
//
//     tw_screenshot FILE.png [WIDTH HEIGHT]
//
// Run it on a display (scripts/screenshot starts a virtual one); it uses the settings folder of
// the environment, so give it an empty one.
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPixmap>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "framework/ErrorLog.h"
#include "framework/Registry.h"
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
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: tw_screenshot FILE.png [WIDTH HEIGHT]\n");
        return 2;
    }
    const int width = argc == 4 ? std::atoi(argv[2]) : 1000;
    const int height = argc == 4 ? std::atoi(argv[3]) : 700;
    QApplication application(argc, argv);
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

    QTableView* list = window.PacketList();
    const int request = window.Model()->RowOfPacket(7);
    list->setFocus();
    list->selectRow(request);
    list->scrollTo(window.Model()->index(0, 0));
    Pump(500);

    const QPixmap image = window.MainWidget()->grab();
    std::filesystem::remove(demo);
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tw_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
