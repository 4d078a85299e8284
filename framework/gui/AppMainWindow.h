// The reusable top-level window: creates the main window at its stored placement, keeps the
// four recent files in the File menu, routes menu commands, accelerators, mouse, resize and
// close events to overridable operations, hides in the notification area when minimised, and
// opens dropped files. The program's own main window derives from it and supplies the content.
#pragma once

#include <QIcon>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "framework/gui/StatusBar.h"
#include "framework/gui/ToolBar.h"
#include "framework/gui/Window.h"

class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class ShellWidget;
class ClientArea;
class AcceleratorFilter;

class AppMainWindow : public Window {
public:
    static constexpr int kRecentFiles = 4;
    // A path as long as the system allows, terminator included.
    static constexpr size_t kRecentFileLength = PATH_MAX;
    static constexpr int kMinimumWidth = 600;
    static constexpr int kMinimumHeight = 450;
    // The placement when none is stored.
    static constexpr int kDefaultX = 170;
    static constexpr int kDefaultY = 100;
    static constexpr int kDefaultWidth = 800;
    static constexpr int kDefaultHeight = 600;

    // Reads the recent files ("File3" down to "File0"; missing files are dropped) and reports
    // the start of the program. The recent files go at that position of the File menu.
    explicit AppMainWindow(int recentMenuPosition = 2);
    ~AppMainWindow() override;

    struct CreateOptions {
        bool splash = true;  // the splash box for 4 seconds first
        bool show = true;
    };
    // Creates the main window: splash, window at the stored placement with the product name as
    // title, tool bar, status bar, content, " Ready", the recent-file menu; then shows it.
    bool Create(const CreateOptions& options);
    bool Create() { return Create(CreateOptions{}); }

    // Opens a file as the command line, a dropped file or a recent file does: status texts,
    // the recent-file list, the current file and the title around the open.
    bool OpenByName(const char* path);
    // Opens recent file n (0 to 3); refused while busy; a file that fails to open leaves the list.
    void OpenRecentFile(int n);

    // Runs a command as the menus, the tool bar and the accelerators do: the shell's own first,
    // every other to OnCommand.
    void Command(int id);
    // Sees every command number before it runs, whatever sent it (menu, tool bar, accelerator).
    using CommandObserver = std::function<void(int id)>;
    void SetCommandObserver(CommandObserver observer) { commandObserver_ = std::move(observer); }

    // The recent-file list, slot 0 the most recent.
    const char* RecentFile(int slot) const;
    void AddRecentFile(const char* path);
    void RemoveRecentFile(int slot);
    void RebuildRecentFileMenu();
    void SetCurrentFile(const char* path);
    const str& CurrentFile() const { return currentFile_; }
    void UpdateTitle();

    bool IsBusy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }
    void SetMinimiseToTray(bool enabled) { minimiseToTray_ = enabled; }
    bool IsInTray() const;
    void RestoreFromTray();
    // What a drop of these paths does: the first one is opened unless busy.
    void DropFiles(const QStringList& paths);

    // Menu check marks and items.
    QAction* MenuAction(int command) const;
    void CheckMenuItem(int command, bool checked);
    bool IsMenuItemChecked(int command) const;
    QMenu* FileMenu() const { return fileMenu_; }
    // The menu at that position of the menu bar, or null.
    QMenu* TopMenu(int position) const;

    QMainWindow* MainWidget() const;
    QWidget* Client() const;
    StatusBar* GetStatusBar() const { return statusBar_.get(); }
    ToolBar* GetToolBar() const { return toolBar_.get(); }

    // Status-bar operations; they do nothing while there is no status bar.
    virtual void SetStatusText(const char* text, int pane);
    virtual void SetStatusTextFromString(int stringId, int pane);
    virtual void SetStatusIconFromResource(int iconId, int pane);
    virtual void SetStatusIcon(const QIcon& icon, int pane);
    virtual void ClearStatusText(int pane);
    virtual void ClearStatusIcon(int pane);
    virtual void SetProgressPosition(int position);
    virtual void StepProgress();
    virtual void SetProgressRange(int minimum, int maximum);
    virtual void SetProgressStep(int step);

    // The placement stored when the window is destroyed (the restored rectangle).
    void StorePlacement();
    // A placement the window can be used at on these screens (their available areas): a size
    // that is not sane becomes the default size, and is at least the minimum; a window larger
    // than the screen holding most of it (or, off every screen, the nearest one), or showing
    // too little on it to be taken hold of, is made to fit that screen. Otherwise unchanged.
    static QRect FitPlacement(const QRect& stored, const QList<QRect>& screens);

    // The manual the program was installed with; the help file when no "installdir" is set.
    static void SetInstalledHelpFile(std::string path);
    // The folder the program runs from (the executable's when empty), where a build folder is
    // recognised by its CMakeCache.txt.
    static void SetProgramFolder(std::string folder);
    // The help file in the "installdir" folder when that setting names one; else the installed
    // manual; else, for a program run from a build folder, the manual of its source tree; else
    // the installed manual's path (which is missing).
    std::string HelpFilePath() const;
    // Opens the help file in the desktop's browser; says so when the file is missing or when no
    // browser could be started.
    void OpenHelp();

protected:
    friend class ShellWidget;
    friend class ClientArea;
    friend class AcceleratorFilter;

    virtual void OnOpenFile() {}
    virtual bool OpenFile(const char* path) = 0;
    virtual void OnSaveFile() {}
    virtual void OnCopy() {}
    virtual void OnActivate(bool active) {}
    virtual void OnResize(int width, int height) {}
    virtual void OnLButtonDown(QPoint position) {}
    virtual void OnMouseMove(QPoint position) {}
    virtual void OnLButtonUp(QPoint position) {}
    virtual bool MayClose() { return true; }
    virtual void OnTimer(int timerId) {}
    virtual bool CreateToolBar() { return true; }
    virtual bool CreateStatusBar() { return true; }
    virtual bool CreateContent() { return true; }
    virtual void OnCommand(int id, int code) {}
    // A menu is about to open: item is its position in the menu bar, or in its parent menu.
    virtual void OnMenuSelect(int item, QMenu* menu) {}
    virtual QString ToolTipText(int command) = 0;
    virtual void OnLongOperationStarted() = 0;
    virtual void OnLongOperationEnded() = 0;
    virtual void OnFileOpened() {}
    // Whether the user may capture, for the About box: 1 yes, 0 no, -1 not known.
    virtual int CaptureRights() const { return -1; }
    // F1 on a control: true when the window gave help of its own; else the help file opens.
    virtual bool OnContextHelp(QWidget* control) { return false; }
    // A dropped or recent file is about to replace what the window holds: false keeps it.
    virtual bool MayOpenFile() { return true; }
    // True when the window is busy only with what MayOpenFile offers to end (a running
    // capture): a recent or dropped file then asks instead of being refused.
    virtual bool OpenAsksWhileBusy() const { return false; }
    // An open by name has ended, after the status texts of its success or failure.
    virtual void OnOpenEnded(bool opened) {}

    void ShowAbout();

    std::unique_ptr<ToolBar> toolBar_;
    std::unique_ptr<StatusBar> statusBar_;

private:
    void BuildMenu();
    void OnMinimised();
    void OnClosed();

    int recentMenuPosition_;
    char recentFiles_[kRecentFiles][kRecentFileLength] = {};
    std::vector<QAction*> recentActions_;
    QAction* recentSeparator_ = nullptr;
    QAction* recentAnchor_ = nullptr;  // the File menu item the recent files go in front of
    str currentFile_;
    QSystemTrayIcon* tray_ = nullptr;
    bool minimiseToTray_ = false;
    bool busy_ = false;
    bool destroyed_ = false;

    ShellWidget* shell_ = nullptr;
    ClientArea* client_ = nullptr;
    AcceleratorFilter* accelerators_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    std::map<int, QAction*> menuActions_;
    CommandObserver commandObserver_;
};
