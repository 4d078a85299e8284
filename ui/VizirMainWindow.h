// The program's main window: tool bar, packet list, detail pane, splitter and three-pane status
// bar; the arrival handler's view (rows and status texts) and the file commands' host.
#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <array>
#include <atomic>
#include <mutex>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/CaptureLoop.h"
#include "capture/DriverSet.h"
#include "capture/PacketStore.h"
#include "files/FileCommands.h"
#include "framework/gui/AppMainWindow.h"
#include "ui/PacketContextMenu.h"

class QTableView;
class QTreeWidget;
class PacketListModel;

class VizirMainWindow : public virtual AppMainWindow, public ArrivalView, public FileHost {
public:
    VizirMainWindow();
    ~VizirMainWindow() override;

    // The one main window, or null.
    static VizirMainWindow* Instance();

    // The arrival handler's view: any thread, returns at once.
    void AddPacketRow(uint32_t index) override;
    void SetStatusText(int pane, const char* text) override;
    using AppMainWindow::SetStatusText;

    // Empties the detail pane and the list, clears the store, puts the title back to the
    // product name and clears `unsaved`.
    void ClearCapture() override;
    void Wait(uint32_t milliseconds) override;
    // Logged at once, shown in status pane 0 when the open's own status texts are through.
    void LoadNotice(const char* text) override;
    bool ShowFileDialog(const FileDialogRequest& request, str& path) override;
    MessageAnswer ShowMessage(const char* text, MessageButtons buttons, MessageIcon icon) override;
    bool OpenByName(const char* path) override;
    void SetCurrentFile(const char* path) override;
    void AddRecentFile(const char* path) override;
    void LoadFailed(const char* reason) override;
    bool Unsaved() const override { return unsaved_.load(); }
    void SetUnsaved(bool unsaved) override { unsaved_.store(unsaved); }

    // Describes the packet of the row (-1: the row with the focus) in the current view and fills
    // the detail pane with it; nothing when there is no such row or packet.
    void ShowPacket(int row);
    // Selects the next row, in the order the list shows them, after the row with the focus (or
    // the first row) whose packet bytes contain the text. False, changing nothing, when none does.
    bool FindNext(const char* text);
    // Font dialog; the chosen font goes to the list and the pane and into "Font".
    bool ChooseFont();
    // Reverses the column's order flag and sorts the list by it.
    void SortByColumn(int column);
    // Puts the selected packet's description on the clipboard.
    bool CopySelectedPacket();

    // The capture state as the status bar and the tool bar show it.
    void CaptureStarted();
    void CaptureStopped();

    // The Mode commands: withdraws a running capture, waits for the capture thread, switches
    // to the method (1 raw socket, 2 Network Monitor, 3 packet-capture library) and asks for its
    // interface; resumes the capture only when the choice was confirmed.
    void ChangeCaptureMethod(int method);
    // The method's interface choice; true when confirmed.
    bool SelectInterface(int method);

    // The packet list's context menu for a right click at that point of the list's viewport.
    void ShowContextMenu(QPoint position);
    // Sends the packet's stored bytes through the current method's driver. False on failure.
    bool ReplayPacket(uint32_t index);

    QTableView* PacketList() const { return list_; }
    QTreeWidget* DetailPane() const { return tree_; }
    PacketListModel* Model() const { return model_; }
    double SplitRatio() const { return splitRatio_; }
    int SplitterThickness() const { return splitterThickness_; }
    bool AutoScroll() const { return autoScroll_ != 0; }
    bool IsLoading() const { return loading_; }

    // The drivers of the three methods.
    IWSACap& RawSocketDriver() { return rawSocket_; }
    IPCAP& PcapDriver() { return pcap_; }

    // The start-up check for the capture rights; replaceable for tests.
    using AdministratorCheck = int (*)();
    static void SetAdministratorCheck(AdministratorCheck check);
    // Seams for tests, each restored by passing null:
    // the interface choice of a method (none set: the current interface is kept, confirmed);
    using InterfaceSelector = std::function<bool(int method)>;
    static void SetInterfaceSelector(InterfaceSelector selector);
    // the drivers the capture thread runs (none set: the window's own three);
    static void SetCaptureDriversOverride(CaptureDrivers* drivers);
    // the waits for the capture thread (none set: the event loop runs without user input);
    using WaitHook = std::function<void(uint32_t milliseconds)>;
    static void SetWaitHook(WaitHook hook);
    // the context menu's display: gets the items and the screen position, returns the chosen
    // item number or 0 (none set: a popup menu).
    using ContextMenuChooser =
        std::function<int(const std::vector<ContextMenuItem>& items, QPoint screenPosition)>;
    static void SetContextMenuChooser(ContextMenuChooser chooser);

    static constexpr const char* kNotAdministratorWarning = ::kNotAdministratorWarning;
    static constexpr const char* kCannotCaptureNow = "Cannot capture at the moment. Please wait.";
    // Beside "Font": the whole chosen font (weight, style, exact size), which "Font" cannot hold.
    static constexpr const char* kFontDetailsSetting = "FontDetails";

protected:
    void OnOpenFile() override;
    bool OpenFile(const char* path) override;
    void OnSaveFile() override;
    void OnCopy() override;
    void OnActivate(bool active) override;
    void OnResize(int width, int height) override;
    void OnLButtonDown(QPoint position) override;
    void OnMouseMove(QPoint position) override;
    void OnLButtonUp(QPoint position) override;
    bool MayClose() override;
    bool CreateToolBar() override;
    bool CreateStatusBar() override;
    bool CreateContent() override;
    void OnCommand(int id, int code) override;
    void OnMenuSelect(int item, QMenu* menu) override;
    QString ToolTipText(int command) override;
    void OnLongOperationStarted() override { CaptureStarted(); }
    void OnLongOperationEnded() override { CaptureStopped(); }
    void OnFileOpened() override;
    int CaptureRights() const override;
    void OnOpenEnded(bool opened) override;

private:
    void CreatePacketList();
    void ApplyFont(const QFont& font);
    void RestoreFont();
    void SetView(int view);
    void ToggleAutoStart();
    void StartCommand();
    void ClearCommand();
    int ExecContextMenu(const std::vector<ContextMenuItem>& items, QPoint screenPosition);
    void RunContextMenuItem(int item, uint32_t packet);
    void RefilterList();
    void KeepLoadResponsive();
    void LayOut();

    // Constructed in this order, destroyed in the reverse.
    IPCAP pcap_;
    INetMon netMon_;
    IWSACap rawSocket_;
    DriverSet drivers_{rawSocket_, netMon_, pcap_};

    int splitterThickness_ = 0;
    double splitRatio_ = 0.5;
    QTableView* list_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    PacketListModel* model_ = nullptr;
    int autoScroll_ = 0;
    std::atomic<bool> unsaved_{false};
    bool dragging_ = false;

    bool loading_ = false;
    std::string loadNotice_;  // the last text a load put in status pane 0
    bool closeAfterLoad_ = false;
    str skippedNotice_;  // what the last load did not store, shown when its open has ended
    QElapsedTimer sinceEvents_;
    // Status texts from other threads, the latest per pane, until the interface shows them.
    struct PendingStatus {
        std::mutex lock;
        std::string text;
        bool posted = false;
    };
    std::array<PendingStatus, 3> pendingStatus_;
    int refreshesSinceEvents_ = 0;
};
