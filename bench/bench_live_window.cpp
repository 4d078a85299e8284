// The main window capturing live (offscreen), for bench/compare_capture.py: starts a capture on
// the stored or given interface, runs the event loop until the expected number of rows is in
// the list (or the time is up), and reports what was stored, the kernel's counts and the longest
// stall of the event loop while frames came in.
//
//     bench_live_window --method 1|3 (--device NAME | --address A.B.C.D) --frames N [--seconds S]
#include <arpa/inet.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/CaptureLoop.h"
#include "capture/PacketStore.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "resources/Resources.h"
#include "ui/PacketListModel.h"
#include "ui/VizirMainWindow.h"

int main(int argc, char** argv) {
    int method = 3;
    long frames = 65536, seconds = 30;
    const char* device = nullptr;
    const char* address = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--method")) method = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--device")) device = argv[i + 1];
        else if (!std::strcmp(argv[i], "--address")) address = argv[i + 1];
        else if (!std::strcmp(argv[i], "--frames")) frames = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds")) seconds = std::atol(argv[i + 1]);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ErrorLog::SetDebugOutput([](const char*) {});
    WriteRegNumber("CaptureMethod", static_cast<uint32_t>(method));
    WriteRegNumber("AutoStart", 0);
    if (device) WriteRegString("CaptureDevice", device);
    if (address) {
        in_addr parsed{};
        inet_pton(AF_INET, address, &parsed);
        WriteRegNumber("CaptureAddress", ntohl(parsed.s_addr));
    }

    VizirMainWindow window;
    AppMainWindow::CreateOptions options;
    options.splash = false;
    if (!window.Create(options)) return 1;
    window.Command(res::kCmdStartCapture);

    // The event loop's longest pause once the first frame is in: a timer asks every 5 ms.
    QElapsedTimer sinceTick, sinceStart;
    sinceStart.start();
    qint64 longestGap = 0;
    bool running = false, first = false;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (first) longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
        const int stored = GetPacketStore().Count();
        const uint8_t flag = method == 1 ? rawSocketRunning.load() : pcapRunning.load();
        if (!running && flag) {
            running = true;
            std::printf("ready\n");
            std::fflush(stdout);
        }
        first |= stored > 0;
        if ((window.Model()->Rows() >= frames && !window.Model()->HasPending()) ||
            sinceStart.elapsed() > seconds * 1000) {
            ticker.stop();
            // Stopped first: quitting closes the window, which would ask about a running capture.
            window.Command(res::kCmdStopCapture);
            window.SetUnsaved(false);
            application.quit();
        }
    });
    ticker.start();
    application.exec();

    uint64_t received = 0, dropped = 0;
    QElapsedTimer wait;
    wait.start();
    while ((rawSocketRunning.load() || pcapRunning.load()) && wait.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (method == 1) window.RawSocketDriver().KernelCounts(received, dropped);
    else window.PcapDriver().KernelCounts(received, dropped);
    std::printf("stored %d\nrows %d\nreceived %llu\ndropped %llu\nlongest event-loop stall %lld ms\n",
                GetPacketStore().Count(), window.Model()->Rows(),
                static_cast<unsigned long long>(received), static_cast<unsigned long long>(dropped),
                static_cast<long long>(longestGap));
    window.SetUnsaved(false);
    return 0;
}
