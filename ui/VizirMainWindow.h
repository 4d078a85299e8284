// The program's main window: tool bar, packet list, detail pane, splitter and three-pane status
// bar; the arrival handler's view (rows and status texts) and the file commands' host.
#pragma once

#include <QElapsedTimer>
#include <atomic>
#include <cstdint>

#include "capture/PacketStore.h"
#include "files/FileCommands.h"
#include "framework/gui/AppMainWindow.h"

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
    bool ShowFileDialog(const FileDialogRequest& request, str& path) override;
    MessageAnswer ShowMessage(const char* text, MessageButtons buttons, MessageIcon icon) override;
    bool OpenByName(const char* path) override;
    void SetCurrentFile(const char* path) override;
    void AddRecentFile(const char* path) override;
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

    QTableView* PacketList() const { return list_; }
    QTreeWidget* DetailPane() const { return tree_; }
    PacketListModel* Model() const { return model_; }
    double SplitRatio() const { return splitRatio_; }
    int SplitterThickness() const { return splitterThickness_; }
    bool AutoScroll() const { return autoScroll_ != 0; }
    bool IsLoading() const { return loading_; }

    // The start-up check for the capture rights; replaceable for tests.
    using AdministratorCheck = int (*)();
    static void SetAdministratorCheck(AdministratorCheck check);

    static constexpr const char* kNotAdministratorWarning =
        "You are not currently running as a local administrator on this machine.  Tidewatch "
        "requires administrative privileges in order to capture network traffic.  Please restart "
        "and try again.";
    static constexpr const char* kCannotCaptureNow = "Cannot capture at the moment. Please wait.";

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

private:
    void CreatePacketList();
    void ApplyFont(const QFont& font);
    void RestoreFont();
    void SetView(int view);
    void ToggleAutoStart();
    void KeepLoadResponsive();
    void LayOut();

    int splitterThickness_ = 0;
    double splitRatio_ = 0.5;
    QTableView* list_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    PacketListModel* model_ = nullptr;
    int autoScroll_ = 0;
    std::atomic<bool> unsaved_{false};
    bool dragging_ = false;

    bool loading_ = false;
    bool closeAfterLoad_ = false;
    QElapsedTimer sinceEvents_;
};
