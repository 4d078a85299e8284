// Opening a large capture in the main window (offscreen): the time from the open until the last
// row is in the packet list, over several runs, and what the store and the list keep per packet
// beyond the frame bytes.
//
//     bench_window [--runs N] FILE
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/PacketStore.h"
#include "framework/ErrorLog.h"
#include "ui/PacketListModel.h"
#include "ui/VizirMainWindow.h"

namespace {

size_t HeapInUse() { return mallinfo2().uordblks; }

// Runs the event loop until every stored packet has its row.
void WaitForRows(const VizirMainWindow& window) {
    while (window.Model()->Rows() < GetPacketStore().Count() || window.Model()->HasPending()) {
        QApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        std::fprintf(stderr, "usage: bench_window [--runs N] FILE\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ErrorLog::SetDebugOutput([](const char*) {});

    VizirMainWindow window;
    AppMainWindow::CreateOptions options;
    options.splash = false;
    if (!window.Create(options)) return 1;
    QApplication::processEvents();

    std::vector<double> times;
    size_t extraPerPacket = 0;
    for (int run = 0; run < runs; ++run) {
        window.ClearCapture();
        QApplication::processEvents();
        malloc_trim(0);
        const size_t before = HeapInUse();
        QElapsedTimer clock;
        clock.start();
        if (!window.OpenByName(path)) {
            std::fprintf(stderr, "bench_window: %s could not be opened\n", path);
            return 1;
        }
        WaitForRows(window);
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);

        const PacketStore& store = GetPacketStore();
        const int32_t count = store.Count();
        size_t frameBytes = 0;
        for (int32_t i = 0; i < count; ++i) frameBytes += store[i].length;
        const size_t grown = HeapInUse() - before;
        // The record array is allocated once for the whole store; its share counts per packet.
        extraPerPacket = (grown > frameBytes ? grown - frameBytes : 0) / std::max(count, 1) +
                         sizeof(PacketRecord);
        std::printf("run %d: %d rows in %.1f ms\n", run + 1, window.Model()->Rows(),
                    times.back());
    }
    std::sort(times.begin(), times.end());
    std::printf("median: %.1f ms over %d runs (target: at most 1000 ms)\n", times[times.size() / 2],
                runs);
    std::printf("memory beyond the frame bytes: %zu bytes per packet (record %zu bytes; target: at "
                "most 300)\n",
                extraPerPacket, sizeof(PacketRecord));
    window.SetUnsaved(false);
    return 0;
}
