// The window program: started by tidewatch for the window mode, so that the command-line modes
// load no GUI libraries. It takes what tidewatch was given: nothing, a capture file, or --demo.
#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "framework/ErrorLog.h"
#include "ui/DemoCapture.h"
#include "ui/VizirMainWindow.h"

// The installed manual, relative to the folder of this executable.
#ifndef TW_MANUAL_FROM_WINDOW
#define TW_MANUAL_FROM_WINDOW "../../share/doc/tidewatch/manual/index.html"
#endif

namespace {

// Where the demonstration capture is written: the user's cache folder; without one, a folder of
// its own made for this run (a fixed name in /tmp would let another user plant a link there or
// read the file), removed when the window closes.
std::string DemoCapturePath(std::string& privateFolder) {
    namespace fs = std::filesystem;
    fs::path folder;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        folder = fs::path(cache) / "tidewatch";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folder = fs::path(home) / ".cache" / "tidewatch";
    } else {
        std::error_code error;
        std::string pattern = (fs::temp_directory_path(error) / "tidewatch-demo-XXXXXX").string();
        if (error || !mkdtemp(pattern.data())) return {};
        privateFolder = pattern;
        folder = pattern;
    }
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
    const std::filesystem::path manual =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
        TW_MANUAL_FROM_WINDOW;
    AppMainWindow::SetInstalledHelpFile(manual.lexically_normal().string());
    std::string privateFolder;
    if (demo) {
        file = DemoCapturePath(privateFolder);
        if (file.empty()) {
            std::fprintf(stderr, "tidewatch: no folder for the demonstration capture: %s\n",
                         std::strerror(errno));
        } else if (!WriteDemoCapture(file.c_str())) {
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
    if (!privateFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(privateFolder, ignored);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--demo") == 0) return RunWindow(1, argv, {}, true);
    // Qt takes its own options out of the arguments; the file is the first of ours.
    int qtArgc = 1;
    return RunWindow(qtArgc, argv, argc > 1 ? argv[1] : std::string(), false);
}
