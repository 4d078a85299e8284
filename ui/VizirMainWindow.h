// The program's main window: tool bar, packet list, detail pane, splitter and three-pane status
// bar; the arrival handler's view (rows and status texts) and the file commands' host. The
// capture commands and the capture state the window shows are in ui/CaptureCommands.cpp.
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
    // A text from another thread is shown only when no newer one has reached the pane since.
    void SetStatusText(int pane, const char* text) override;
    void CaptureWithdrawn() override;
    // The interface thread's own status texts; each is newer than every text posted before it.
    void SetStatusText(const char* text, int pane) override;
    void ClearStatusText(int pane) override;

    // Empties the detail pane and the list, clears the store, puts the title back to the
    // product name and clears `unsaved`.
    void ClearCapture() override;
    void Wait(uint32_t milliseconds) override;
    // Waits for the capture thread's confirmation that the capture has stopped, at most 2 s,
    // with the event loop running (user input waits).
    bool AwaitCaptureStop() override;
    // Logged at once, shown in status pane 0 when the open's own status texts are through.
    void LoadNotice(const char* text) override;
    bool ShowFileDialog(const FileDialogRequest& request, str& path) override;
    MessageAnswer ShowMessage(const char* text, MessageButtons buttons, MessageIcon icon) override;
    bool OpenByName(const char* path) override;
    void SetCurrentFile(const char* path) override;
    void AddRecentFile(const char* path) override;
    void LoadFailed(const char* reason) override;
    void SaveFailed(const char* reason) override;
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

    // The title as the framework makes it, with the capture filter after it while one is set.
    void SetText(const char* text) override;

    // The capture state as the status bar and the tool bar show it.
    void CaptureStarted();
    void CaptureStopped();
    // Whether the window shows a running capture.
    bool ShowsCapturing() const { return shownCapturing_; }

    // The Mode commands: withdraws a running capture, waits for the capture thread, switches
    // to the method (1 raw socket, 2 Network Monitor, 3 packet-capture library) and asks for its
    // interface; resumes the capture only when the choice was confirmed.
    void ChangeCaptureMethod(int method);
    // The method's interface choice; true when confirmed.
    bool SelectInterface(int method);

    // The packet list's context menu for a right click at that point of the list's viewport.
    void ShowContextMenu(QPoint position);
    // Sends the packet's stored bytes through the current method's driver. False on failure,
    // and for a frame without an Ethernet header, which the sending drivers cannot put on the
    // wire as it is.
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
    // a look at every wait for the capture thread, before it is made (none set: nothing);
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
    bool MayOpenFile() override;
    bool OpenAsksWhileBusy() const override;
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
    // Capture commands and state (ui/CaptureCommands.cpp).
    void BindCapture();
    void ReleaseCapture();
    void StartCommand();
    void StopCommand();
    void ClearCommand();
    // "Capture Filter...": the dialog, then the expression applied: kept, shown, and a running
    // capture restarted with it.
    void CaptureFilterCommand();
    void ApplyCaptureFilter(const std::string& expression);
    // Pane 1's capture state text again, with the filter as it is now.
    void ShowCaptureState();
    void ShowTitle();
    // A capture that ended without the Stop command: the stopped appearance, pane 0 left to the
    // reason already shown there (or given).
    void ShowCaptureEnded(const char* reason);
    // The stopped appearance when the request fell while the window showed a running capture.
    void FollowCaptureRequest();
    void CaptureDidNotStop(const char* command);
    // True, after saying so, when a file is being read: commands that change the store, the
    // filters, the order or the capture wait for the load.
    bool RefusedWhileLoading();
    void ReplaySelection(uint32_t packet);
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
    bool shownCapturing_ = false;
    std::string title_;  // without the capture filter

    bool loading_ = false;
    std::string loadNotice_;  // the last text a load put in status pane 0
    bool closeAfterLoad_ = false;
    str skippedNotice_;  // what the last load did not store, shown when its open has ended
    QElapsedTimer sinceEvents_;
    // Status texts from other threads, the latest per pane, until the interface shows them.
    struct PendingStatus {
        std::mutex lock;
        std::string text;
        uint64_t sequence = 0;
        bool posted = false;
    };
    std::array<PendingStatus, 3> pendingStatus_;
    // Per pane: the order in which texts were given (any thread) and the newest one shown.
    std::array<std::atomic<uint64_t>, 3> statusSequence_{};
    std::array<uint64_t, 3> shownSequence_{};
    int refreshesSinceEvents_ = 0;
};
