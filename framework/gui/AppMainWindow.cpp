#include "framework/gui/AppMainWindow.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/gui/SplashDlg.h"
#include "resources/Images.h"
#include "resources/Menus.h"
#include "resources/Resources.h"

namespace {

// The manual is there, but the desktop could not show it.
constexpr const char* kTextNoBrowser =
    "Error opening help file.  No web browser could be started to show '%s'.";

bool FileExists(const char* path) {
    struct stat info {};
    return path && *path && stat(path, &info) == 0;
}

// The part of a path after its last folder separator.
const char* FileName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void CopyPath(char (&slot)[AppMainWindow::kRecentFileLength], const char* path) {
    std::snprintf(slot, sizeof slot, "%s", path ? path : "");
}

std::string& InstalledHelpFile() {
    static std::string path;
    return path;
}

std::string& ProgramFolder() {
    static std::string folder;
    return folder;
}

// The manual of the source tree a build folder was configured from: the folder holding the
// program, or one above it, has a CMakeCache.txt that names the source folder. Empty when the
// program does not run from a build folder.
std::string SourceTreeHelpFile() {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path folder = ProgramFolder().empty()
                          ? fs::path(QCoreApplication::applicationDirPath().toStdString())
                          : fs::path(ProgramFolder());
    for (; !folder.empty(); folder = folder.parent_path()) {
        std::ifstream cache(folder / "CMakeCache.txt");
        if (cache) {
            static constexpr std::string_view kSource = "CMAKE_HOME_DIRECTORY:INTERNAL=";
            for (std::string line; std::getline(cache, line);) {
                if (line.rfind(kSource, 0) != 0) continue;
                const fs::path manual = fs::path(line.substr(kSource.size())) / "docs" /
                                        res::kHelpFile;
                return fs::is_regular_file(manual, error) ? manual.string() : std::string();
            }
            return {};
        }
        if (folder == folder.root_path()) break;
    }
    return {};
}

// The screens' available areas for the inside of a window with that frame, so that the frame
// (the title bar to take hold of) is on the screen too.
QList<QRect> AvailableScreenAreas(const QMargins& frame) {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas << screen->availableGeometry().marginsRemoved(frame);
    }
    return areas;
}

// The window's frame as far as the platform knows it before the window is shown.
QMargins FrameMargins(QWidget* window) {
    window->winId();
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

}  // namespace

// The top-level Qt window: close, activation, minimising, drops and timers go to the shell.
class ShellWidget : public QMainWindow {
public:
    explicit ShellWidget(AppMainWindow& owner) : owner_(owner) { setAcceptDrops(true); }

protected:
    bool event(QEvent* event) override {
        try {
            return QMainWindow::event(event);
        } catch (...) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "AppMainWindow::WndProc - An exception(0x%x) occurred (Msg:0x%x, "
                          "WP:0x%x LP:0x%x).",
                          0u, static_cast<unsigned>(event->type()), 0u, 0u);
            Report(nullptr, 0, text, 3);
            return false;
        }
    }

    void closeEvent(QCloseEvent* event) override {
        if (!owner_.MayClose()) {
            event->ignore();
            return;
        }
        event->accept();
        owner_.OnClosed();
    }

    void changeEvent(QEvent* event) override {
        QMainWindow::changeEvent(event);
        if (event->type() == QEvent::ActivationChange) owner_.OnActivate(isActiveWindow());
        if (event->type() == QEvent::WindowStateChange && isMinimized()) owner_.OnMinimised();
    }

    void timerEvent(QTimerEvent* event) override { owner_.OnTimer(event->timerId()); }

    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }

    void dropEvent(QDropEvent* event) override {
        QStringList paths;
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) paths << url.toLocalFile();
        }
        event->acceptProposedAction();
        owner_.DropFiles(paths);
    }

private:
    AppMainWindow& owner_;
};

// The client area below the menu bar: the content derived windows place in it, and the mouse
// and resize events of the area that no child covers.
class ClientArea : public QWidget {
public:
    ClientArea(AppMainWindow& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
        setCursor(Qt::SizeVerCursor);
    }

protected:
    void resizeEvent(QResizeEvent*) override { owner_.OnResize(width(), height()); }

    void mousePressEvent(QMouseEvent* event) override {
        // Presses on children that they leave unhandled bubble up here; only the uncovered
        // area counts.
        if (event->button() != Qt::LeftButton || childAt(event->position().toPoint())) {
            event->ignore();
            return;
        }
        pressed_ = true;
        owner_.OnLButtonDown(event->position().toPoint());
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (pressed_) owner_.OnMouseMove(event->position().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (!pressed_ || event->button() != Qt::LeftButton) return;
        pressed_ = false;
        owner_.OnLButtonUp(event->position().toPoint());
    }

private:
    AppMainWindow& owner_;
    bool pressed_ = false;
};

// The accelerator table, applied to every key pressed in the main window before the control
// with the focus sees it (a label being edited keeps its own keys).
class AcceleratorFilter : public QObject {
public:
    explicit AcceleratorFilter(AppMainWindow& owner) : owner_(owner) {}

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto* widget = qobject_cast<QWidget*>(target);
        if (!widget || widget->window() != owner_.MainWidget()) return false;
        if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QTextEdit*>(widget)) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_F1 && modifiers == Qt::NoModifier) {
            if (!owner_.OnContextHelp(widget)) owner_.OpenHelp();
            return true;
        }
        for (const res::Accelerator& accelerator : res::AcceleratorTable()) {
            if (accelerator.key == key->key() && accelerator.modifiers == modifiers) {
                owner_.Command(accelerator.command);
                return true;
            }
        }
        return false;
    }

private:
    AppMainWindow& owner_;
};

AppMainWindow::AppMainWindow(int recentMenuPosition) : recentMenuPosition_(recentMenuPosition) {
    // Oldest first, so that adding puts each in front and "File0" ends up most recent.
    for (int i = kRecentFiles - 1; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "File%i", i);
        char path[kRecentFileLength] = {};
        uint32_t size = sizeof path;
        if (ReadRegString(name, path, &size) && FileExists(path)) AddRecentFile(path);
    }
    str text("Running ");
    text += version_.productName;
    text += " Version ";
    text += version_.version;
    Report(nullptr, 0, text.c_str(), 3);
}

AppMainWindow::~AppMainWindow() {
    if (shell_ && !destroyed_) {
        StorePlacement();
        destroyed_ = true;
    }
    for (int i = 0; i < kRecentFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "File%i", i);
        WriteRegString(name, recentFiles_[i]);
    }
    toolBar_.reset();
    statusBar_.reset();
    if (accelerators_) {
        qApp->removeEventFilter(accelerators_);
        delete accelerators_;
    }
    delete tray_;
    delete shell_;
    str text("Closing ");
    text += version_.productName;
    text += " Version ";
    text += version_.version;
    Report(nullptr, 0, text.c_str(), 3);
}

bool AppMainWindow::Create(const CreateOptions& options) {
    if (options.splash) {
        SplashDlg splash;
        splash.Run(nullptr);
    }
    shell_ = new ShellWidget(*this);
    SetHandle(shell_);
    shell_->setWindowTitle(QString::fromUtf8(version_.productName.c_str()));
    shell_->setWindowIcon(res::Icon(res::kAppIcon));
    shell_->setMinimumSize(kMinimumWidth, kMinimumHeight);
    const QRect stored(static_cast<int32_t>(ReadRegNumber("WindowX", kDefaultX)),
                       static_cast<int32_t>(ReadRegNumber("WindowY", kDefaultY)),
                       static_cast<int32_t>(ReadRegNumber("WindowWidth", kDefaultWidth)),
                       static_cast<int32_t>(ReadRegNumber("WindowHeight", kDefaultHeight)));
    shell_->setGeometry(FitPlacement(stored, AvailableScreenAreas(FrameMargins(shell_))));
    BuildMenu();
    client_ = new ClientArea(*this, shell_);
    shell_->setCentralWidget(client_);

    if (!CreateToolBar() || !CreateStatusBar() || !CreateContent()) return false;
    SetStatusTextFromString(res::kStrReady, 0);
    RebuildRecentFileMenu();

    accelerators_ = new AcceleratorFilter(*this);
    qApp->installEventFilter(accelerators_);
    if (options.show) {
        shell_->show();
        shell_->update();
    }
    return true;
}

void AppMainWindow::BuildMenu() {
    QMenuBar* bar = shell_->menuBar();
    const std::vector<res::MenuEntry>& menu = res::MainMenu();
    std::function<void(QMenu*, const std::vector<res::MenuEntry>&)> fill =
        [&](QMenu* target, const std::vector<res::MenuEntry>& entries) {
            for (size_t i = 0; i < entries.size(); ++i) {
                const res::MenuEntry& entry = entries[i];
                if (!entry.text) {
                    QAction* separator = target->addSeparator();
                    if (target == fileMenu_ && static_cast<int>(i) == recentMenuPosition_) {
                        recentAnchor_ = separator;
                    }
                    continue;
                }
                if (!entry.submenu.empty()) {
                    QMenu* sub = target->addMenu(QString::fromUtf8(entry.text));
                    const int item = static_cast<int>(i);
                    QObject::connect(sub, &QMenu::aboutToShow, shell_,
                                     [this, item, sub] { OnMenuSelect(item, sub); });
                    fill(sub, entry.submenu);
                    continue;
                }
                QAction* action = target->addAction(QString::fromUtf8(entry.text));
                const int command = entry.command;
                QObject::connect(action, &QAction::triggered, shell_, [this, action, command] {
                    // Check marks change only when the program sets them, not by the click.
                    if (action->isCheckable()) action->setChecked(!action->isChecked());
                    Command(command);
                });
                menuActions_[command] = action;
            }
        };
    for (size_t i = 0; i < menu.size(); ++i) {
        QMenu* top = bar->addMenu(QString::fromUtf8(menu[i].text));
        if (i == 0) fileMenu_ = top;
        const int item = static_cast<int>(i);
        QObject::connect(top, &QMenu::aboutToShow, shell_,
                         [this, item, top] { OnMenuSelect(item, top); });
        fill(top, menu[i].submenu);
    }
}

QMainWindow* AppMainWindow::MainWidget() const { return shell_; }

QMenu* AppMainWindow::TopMenu(int position) const {
    if (!shell_) return nullptr;
    const QList<QAction*> menus = shell_->menuBar()->actions();
    return position >= 0 && position < menus.size() ? menus[position]->menu() : nullptr;
}

QWidget* AppMainWindow::Client() const { return client_; }

void AppMainWindow::Command(int id) {
    if (commandObserver_) commandObserver_(id);
    switch (id) {
        case res::kCmdExit:
            if (shell_) shell_->close();
            return;
        case res::kCmdOpen:
            OnOpenFile();
            return;
        case res::kCmdSave:
            OnSaveFile();
            return;
        case res::kCmdAbout:
            ShowAbout();
            return;
        case res::kCmdCopy:
            OnCopy();
            return;
        case res::kCmdHelp:
            OpenHelp();
            return;
        default:
            break;
    }
    if (id >= res::kCmdRecentFile1 && id < res::kCmdRecentFile1 + kRecentFiles) {
        OpenRecentFile(id - res::kCmdRecentFile1);
        return;
    }
    OnCommand(id, 0);
}

void AppMainWindow::SetInstalledHelpFile(std::string path) { InstalledHelpFile() = std::move(path); }

void AppMainWindow::SetProgramFolder(std::string folder) { ProgramFolder() = std::move(folder); }

std::string AppMainWindow::HelpFilePath() const {
    char folder[PATH_MAX] = {};
    uint32_t size = sizeof folder;
    // An empty value names no folder.
    if (ReadRegString("installdir", folder, &size) && folder[0]) {
        return std::string(folder) + "/" + res::kHelpFile;
    }
    const std::string& installed = InstalledHelpFile();
    if (FileExists(installed.c_str())) return installed;
    // A program run from its build folder has no installed manual; the source tree has one.
    const std::string source = SourceTreeHelpFile();
    return source.empty() ? installed : source;
}

void AppMainWindow::OpenHelp() {
    const std::string path = HelpFilePath();
    str text;
    if (!FileExists(path.c_str())) {
        text.AppendFormat(res::kTextHelpMissing, path.c_str());
    } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)))) {
        text.AppendFormat(kTextNoBrowser, path.c_str());
    } else {
        return;
    }
    MessageBox(text.c_str(), nullptr, kMbOk | kMbIconError);
}

bool AppMainWindow::OpenByName(const char* path) {
    str text(" Loading ");
    text += path;
    text += "...";
    SetStatusText(text.c_str(), 0);
    const bool opened = OpenFile(path);
    if (opened) {
        AddRecentFile(path);
        SetCurrentFile(path);
        RebuildRecentFileMenu();
        OnFileOpened();
        SetStatusTextFromString(res::kStrReady, 0);
    } else {
        text = " Failed to load '";
        text += path;
        text += "'";
        SetStatusText(text.c_str(), 0);
        Report(nullptr, 0, text.c_str(), 3);
    }
    SetProgressPosition(0);
    OnOpenEnded(opened);
    return opened;
}

void AppMainWindow::OpenRecentFile(int n) {
    if (n < 0 || n >= kRecentFiles || recentFiles_[n][0] == '\0') return;
    if (busy_ && !OpenAsksWhileBusy()) {
        str text;
        LoadString(res::kStrScanRunning, text);
        MessageBox(text.c_str(), nullptr, kMbOk | kMbIconError);
        return;
    }
    // The slot may move before the file opens (a capture saved first joins the list); keep
    // the path.
    char path[kRecentFileLength];
    CopyPath(path, recentFiles_[n]);
    if (!MayOpenFile()) return;
    if (!OpenByName(path)) {
        for (int i = 0; i < kRecentFiles; ++i) {
            if (std::strcmp(recentFiles_[i], path) == 0) {
                RemoveRecentFile(i);
                break;
            }
        }
        RebuildRecentFileMenu();
    }
}

const char* AppMainWindow::RecentFile(int slot) const {
    return slot >= 0 && slot < kRecentFiles ? recentFiles_[slot] : "";
}

void AppMainWindow::AddRecentFile(const char* path) {
    if (!FileExists(path)) return;
    int found = kRecentFiles - 1;  // the oldest falls out unless the path is already listed
    // Linux file names that differ only by case name different files.
    for (int i = 0; i < kRecentFiles; ++i) {
        if (std::strcmp(recentFiles_[i], path) == 0) {
            found = i;
            break;
        }
    }
    for (int i = found; i > 0; --i) CopyPath(recentFiles_[i], recentFiles_[i - 1]);
    CopyPath(recentFiles_[0], path);
}

void AppMainWindow::RemoveRecentFile(int slot) {
    if (slot < 0 || slot >= kRecentFiles) return;
    for (int i = slot; i + 1 < kRecentFiles; ++i) CopyPath(recentFiles_[i], recentFiles_[i + 1]);
    recentFiles_[kRecentFiles - 1][0] = '\0';
}

void AppMainWindow::RebuildRecentFileMenu() {
    if (!fileMenu_ || !recentAnchor_) return;
    int count = 0;
    while (count < kRecentFiles && recentFiles_[count][0] != '\0') ++count;
    if (count > 0 && !recentSeparator_) {
        recentSeparator_ = new QAction(fileMenu_);
        recentSeparator_->setSeparator(true);
        fileMenu_->insertAction(recentAnchor_, recentSeparator_);
    }
    for (int i = 0; i < count; ++i) {
        const QString text = QString("&%1 %2").arg(i + 1).arg(QString::fromUtf8(recentFiles_[i]));
        if (i < static_cast<int>(recentActions_.size())) {
            recentActions_[i]->setText(text);
            continue;
        }
        auto* action = new QAction(text, fileMenu_);
        const int command = res::kCmdRecentFile1 + i;
        QObject::connect(action, &QAction::triggered, shell_, [this, command] { Command(command); });
        fileMenu_->insertAction(recentAnchor_, action);
        recentActions_.push_back(action);
    }
    while (static_cast<int>(recentActions_.size()) > count) {
        delete recentActions_.back();
        recentActions_.pop_back();
    }
    if (count == 0 && recentSeparator_) {
        delete recentSeparator_;
        recentSeparator_ = nullptr;
    }
}

void AppMainWindow::SetCurrentFile(const char* path) {
    currentFile_ = path ? path : "";
    UpdateTitle();
}

void AppMainWindow::UpdateTitle() {
    str title;
    if (currentFile_.Empty()) {
        title = version_.productName;
    } else {
        title.AppendFormat("%s - [%.512s]", version_.productName.c_str(),
                           FileName(currentFile_.c_str()));
    }
    SetText(title.c_str());
}

bool AppMainWindow::IsInTray() const { return tray_ && tray_->isVisible(); }

void AppMainWindow::OnMinimised() {
    // Without a notification area the window would be lost; it stays an ordinary minimised
    // window then.
    if (!minimiseToTray_ || !QSystemTrayIcon::isSystemTrayAvailable()) return;
    if (!tray_) {
        tray_ = new QSystemTrayIcon(res::Icon(res::kAppIcon));
        str tip(version_.productName);
        tip += " ";
        tip += version_.version;
        tray_->setToolTip(QString::fromUtf8(tip.c_str()).left(63));
        auto* menu = new QMenu(shell_);
        QAction* exit = menu->addAction("Exit");
        QObject::connect(exit, &QAction::triggered, shell_, [this] { Command(res::kCmdExit); });
        tray_->setContextMenu(menu);
        QObject::connect(tray_, &QSystemTrayIcon::activated, shell_,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger) RestoreFromTray();
                         });
    }
    tray_->show();
    QTimer::singleShot(0, shell_, [this] { shell_->hide(); });
}

void AppMainWindow::RestoreFromTray() {
    if (tray_) tray_->hide();
    if (!shell_) return;
    shell_->showNormal();
    shell_->raise();
    shell_->activateWindow();
}

void AppMainWindow::DropFiles(const QStringList& paths) {
    if ((busy_ && !OpenAsksWhileBusy()) || paths.isEmpty() || !MayOpenFile()) return;
    OpenByName(paths.front().toUtf8().constData());
}

void AppMainWindow::OnClosed() {
    StorePlacement();
    destroyed_ = true;
    if (tray_) tray_->hide();
    QCoreApplication::quit();
}

QRect AppMainWindow::FitPlacement(const QRect& stored, const QList<QRect>& screens) {
    // Beyond any screen there is; such a size was never the window's.
    constexpr int kLargest = 16384;
    // What must show of a window to take hold of it.
    constexpr int kHoldWidth = 100;
    constexpr int kHoldHeight = 50;
    QRect rect = stored;
    if (rect.width() <= 0 || rect.height() <= 0 || rect.width() > kLargest ||
        rect.height() > kLargest) {
        rect.setSize(QSize(kDefaultWidth, kDefaultHeight));
    }
    rect.setSize(rect.size().expandedTo(QSize(kMinimumWidth, kMinimumHeight)));

    const QRect* home = nullptr;
    qint64 largest = 0;
    for (const QRect& screen : screens) {
        const QRect shown = rect.intersected(screen);
        const qint64 area = static_cast<qint64>(shown.width()) * shown.height();
        if (!shown.isEmpty() && area > largest) {
            largest = area;
            home = &screen;
        }
    }
    if (!home) {
        qint64 nearest = -1;
        for (const QRect& screen : screens) {
            const qint64 dx =
                std::max({0, screen.left() - rect.right(), rect.left() - screen.right()});
            const qint64 dy =
                std::max({0, screen.top() - rect.bottom(), rect.top() - screen.bottom()});
            if (nearest < 0 || dx * dx + dy * dy < nearest) {
                nearest = dx * dx + dy * dy;
                home = &screen;
            }
        }
    }
    if (!home) return rect;
    const QRect shown = rect.intersected(*home);
    if (rect.width() <= home->width() && rect.height() <= home->height() &&
        shown.width() >= kHoldWidth && shown.height() >= kHoldHeight) {
        return rect;
    }
    rect.setSize(
        rect.size().boundedTo(home->size()).expandedTo(QSize(kMinimumWidth, kMinimumHeight)));
    rect.moveLeft(std::clamp(rect.left(), home->left(),
                             std::max(home->left(), home->left() + home->width() - rect.width())));
    rect.moveTop(std::clamp(rect.top(), home->top(),
                            std::max(home->top(), home->top() + home->height() - rect.height())));
    return rect;
}

void AppMainWindow::StorePlacement() {
    if (!shell_) return;
    // The restored rectangle, whatever the window's state; never one the next start could not
    // show.
    const QRect normal = FitPlacement(shell_->normalGeometry().isValid()
                                          ? shell_->normalGeometry()
                                          : shell_->geometry(),
                                      AvailableScreenAreas(FrameMargins(shell_)));
    WriteRegNumber("WindowX", static_cast<uint32_t>(normal.x()));
    WriteRegNumber("WindowY", static_cast<uint32_t>(normal.y()));
    WriteRegNumber("WindowWidth", static_cast<uint32_t>(normal.width()));
    WriteRegNumber("WindowHeight", static_cast<uint32_t>(normal.height()));
}

QAction* AppMainWindow::MenuAction(int command) const {
    auto found = menuActions_.find(command);
    return found == menuActions_.end() ? nullptr : found->second;
}

void AppMainWindow::CheckMenuItem(int command, bool checked) {
    if (QAction* action = MenuAction(command)) {
        action->setCheckable(true);
        action->setChecked(checked);
    }
}

bool AppMainWindow::IsMenuItemChecked(int command) const {
    const QAction* action = MenuAction(command);
    return action && action->isChecked();
}

void AppMainWindow::ShowAbout() {
    AboutDlg about(CaptureRights());
    about.Run(shell_);
}

void AppMainWindow::SetStatusText(const char* text, int pane) {
    if (statusBar_) statusBar_->SetPaneText(pane, text);
}

void AppMainWindow::SetStatusTextFromString(int stringId, int pane) {
    str text;
    LoadString(stringId, text);
    SetStatusText(text.c_str(), pane);
}

void AppMainWindow::SetStatusIconFromResource(int iconId, int pane) {
    SetStatusIcon(res::Icon(iconId), pane);
}

void AppMainWindow::SetStatusIcon(const QIcon& icon, int pane) {
    if (statusBar_) statusBar_->SetPaneIcon(pane, icon);
}

void AppMainWindow::ClearStatusText(int pane) {
    if (statusBar_) statusBar_->ClearPaneText(pane);
}

void AppMainWindow::ClearStatusIcon(int pane) {
    if (statusBar_) statusBar_->ClearPaneIcon(pane);
}

void AppMainWindow::SetProgressPosition(int position) {
    if (statusBar_) statusBar_->SetProgressPosition(position);
}

void AppMainWindow::StepProgress() {
    if (statusBar_) statusBar_->StepProgress();
}

void AppMainWindow::SetProgressRange(int minimum, int maximum) {
    if (statusBar_) statusBar_->SetProgressRange(minimum, maximum);
}

void AppMainWindow::SetProgressStep(int step) {
    if (statusBar_) statusBar_->SetProgressStep(step);
}
