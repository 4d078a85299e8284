// Tidewatch entry point: the headless command-line modes first (they start no GUI), then the
// window.
#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/headless/Headless.h"
#include "framework/ErrorLog.h"
#include "ui/DemoCapture.h"
#include "ui/VizirMainWindow.h"

#ifndef TW_VERSION
#define TW_VERSION "0.0.0"
#endif

namespace {

// Where the demonstration capture is written: the user's cache folder.
std::string DemoCapturePath() {
    namespace fs = std::filesystem;
    fs::path folder;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) {
        folder = cache;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folder = fs::path(home) / ".cache";
    } else {
        folder = fs::temp_directory_path();
    }
    folder /= "tidewatch";
    std::error_code error;
    fs::create_directories(folder, error);
    return (folder / "demo.tdw").string();
}

void ShowCriticalError(const char* text) {
    const QString message = QString::fromUtf8(text);
    auto show = [message] { QMessageBox::critical(nullptr, "Critical Error", message); };
    // A report from another thread must not wait for the interface thread, which may itself be
    // waiting to report.
    if (QThread::currentThread() == qApp->thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
    }
}

int RunWindow(int argc, char** argv, std::string file, bool demo) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tidewatch");
    QApplication::setOrganizationName("Tidecraft");
    ErrorLog::SetCriticalHook(ShowCriticalError);
    if (demo) {
        file = DemoCapturePath();
        if (!WriteDemoCapture(file.c_str())) {
            std::fprintf(stderr, "tidewatch: cannot write the demonstration capture to %s\n",
                         file.c_str());
            file.clear();
        }
    }
    int result = 1;
    {
        VizirMainWindow window;
        if (window.Create()) {
            if (!file.empty()) window.OpenByName(file.c_str());
            result = QApplication::exec();
        }
    }
    ErrorLog::SetCriticalHook(nullptr);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    // "--demo" alone opens the window on the demonstration capture.
    if (argc == 2 && std::strcmp(argv[1], "--demo") == 0) return RunWindow(1, argv, {}, true);

    HeadlessOptions options;
    std::string error;
    if (!ParseHeadlessArguments(argc, argv, options, error)) {
        if (!error.empty()) std::fprintf(stderr, "tidewatch: %s\n", error.c_str());
        std::fputs(HeadlessUsage(), stderr);
        return 2;
    }
    switch (options.mode) {
        case HeadlessMode::Help:
            std::fputs(HeadlessUsage(), stdout);
            std::fputs("  --demo           open the window on a demonstration capture\n", stdout);
            return 0;
        case HeadlessMode::Version:
            std::printf("Tidewatch %s\n", TW_VERSION);
            return 0;
        case HeadlessMode::Window: {
            // Qt takes its own options out of the arguments; the file was found above.
            int qtArgc = 1;
            return RunWindow(qtArgc, argv, options.file, false);
        }
        default:
            return RunHeadless(options);
    }
}
