// The main window's capture commands and the capture state it shows.
//
// The window follows the capture request, whoever changes it: the Start and Stop commands, the
// capture thread withdrawing it (a start that failed, a lost interface, the packet limit: the
// loop shows the reason in pane 0, then tells the window through CaptureWithdrawn), and the
// interface thread's own paths that end a capture (Exit's questions, a file opened over it).
//
// Before Clear, a file load, a method change or an interface choice touches the store, the
// frame pool or a driver, the capture thread confirms that no driver runs (AwaitCaptureStop);
// the event loop keeps running meanwhile, without user input.
#include <QCoreApplication>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "capture/CaptureLoop.h"
#include "drivers/CaptureFilter.h"
#include "drivers/gui/PCAPIfDlg.h"
#include "drivers/gui/WSACAPIfDlg.h"
#include "files/CaptureFile.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "resources/Resources.h"
#include "ui/CaptureFilterDlg.h"
#include "ui/PacketListModel.h"
#include "ui/VizirMainWindow.h"

namespace {

VizirMainWindow::InterfaceSelector interfaceSelector;
VizirMainWindow::WaitHook waitHook;
CaptureDrivers* driversOverride = nullptr;
// The most of a capture filter expression the title shows.
constexpr size_t kTitleFilterLength = 120;

bool OnInterfaceThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void VizirMainWindow::SetInterfaceSelector(InterfaceSelector selector) {
    interfaceSelector = std::move(selector);
}

void VizirMainWindow::SetWaitHook(WaitHook hook) { waitHook = std::move(hook); }

void VizirMainWindow::SetCaptureDriversOverride(CaptureDrivers* drivers) {
    driversOverride = drivers;
}

void VizirMainWindow::BindCapture() {
    // The capture thread for the life of the process (the store allocated once, no filter
    // rules), and the drivers bound to the two arrival callbacks and to their dialogs.
    StartCaptureThread();
    SetArrivalView(this);
    IWSACap::SetAddressDialog(WSACAPIfDlg::RunFor);
    IPCAP::SetAdapterDialog(PCAPIfDlg::RunFor);
    pcap_.Init(nullptr, MainWidget(), OnEthernetFrame);
    pcap_.SetIpCallback(OnRawIpFrame);
    netMon_.Init(nullptr, MainWidget(), OnEthernetFrame);
    rawSocket_.Init(nullptr, MainWidget(), OnRawIpFrame);
    SetCaptureDrivers(driversOverride ? driversOverride : &drivers_);
}

void VizirMainWindow::ReleaseCapture() {
    // The capture thread lets go of the drivers, they stop delivering, and only then does the
    // arrival handler lose its view; the drivers close as members afterwards.
    SetCaptureDrivers(nullptr);
    pcap_.Stop();
    rawSocket_.Stop();
    netMon_.Stop();
    SetArrivalView(nullptr);
}

void VizirMainWindow::CaptureStarted() {
    ClearStatusText(2);
    SetStatusText("Packet Capture Initiated", 0);
    SetStatusIconFromResource(res::kCapturingIcon, 2);
    toolBar_->EnableButton(res::kCmdStopCapture);
    toolBar_->DisableButton(res::kCmdStartCapture);
    SetBusy(true);
    shownCapturing_ = true;
}

void VizirMainWindow::CaptureStopped() {
    ClearStatusText(1);
    SetStatusText("Packet capture stopped.", 0);
    ShowCaptureEnded(nullptr);
}

void VizirMainWindow::ShowCaptureEnded(const char* reason) {
    if (reason) SetStatusText(reason, 0);
    SetStatusIconFromResource(res::kStoppedIcon, 2);
    toolBar_->EnableButton(res::kCmdStartCapture);
    toolBar_->DisableButton(res::kCmdStopCapture);
    SetBusy(false);
    shownCapturing_ = false;
}

void VizirMainWindow::FollowCaptureRequest() {
    // A load ends by putting the state right itself (see OpenFile).
    if (shownCapturing_ && !IsCapturing() && !loading_) ShowCaptureEnded(nullptr);
}

void VizirMainWindow::CaptureWithdrawn() {
    // The reason was posted to pane 0 before this, so it is shown first.
    if (QWidget* shell = MainWidget()) {
        QMetaObject::invokeMethod(shell, [this] { FollowCaptureRequest(); },
                                  Qt::QueuedConnection);
    }
}

void VizirMainWindow::CaptureDidNotStop(const char* command) {
    str line(command);
    line += ": ";
    line += kCaptureDidNotStop;
    Report(nullptr, 0, line.c_str(), 3);
    // The request is withdrawn whatever the capture thread does next.
    str shown("  ");
    shown += line;
    ShowCaptureEnded(shown.c_str());
}

bool VizirMainWindow::RefusedWhileLoading() {
    if (!loading_) return false;
    MessageBox(kCannotCaptureNow, nullptr, kMbOk);
    return true;
}

void VizirMainWindow::Wait(uint32_t milliseconds) {
    if (!OnInterfaceThread()) {
        QThread::msleep(milliseconds);
        return;
    }
    // The window keeps painting and taking queued rows and status texts while the capture
    // thread stops its driver; keys and clicks wait until the command is through.
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(milliseconds), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool VizirMainWindow::AwaitCaptureStop() {
    if (waitHook) waitHook(kStopConfirmationLimit);
    return ::AwaitCaptureStop([this](uint32_t milliseconds) { Wait(milliseconds); });
}

void VizirMainWindow::StartCommand() {
    if (captureAllowed.load() == 0) {
        MessageBox(kCannotCaptureNow, nullptr, kMbOk);
        return;
    }
    StartCapture();
    CaptureStarted();
}

void VizirMainWindow::StopCommand() {
    StopCapture();
    CaptureStopped();
}

void VizirMainWindow::ClearCommand() {
    if (loading_) return;
    // Even a capture that is not wanted any more may still be delivering (the limit withdrew it
    // a moment ago): the store is cleared only once the capture thread has confirmed that no
    // driver runs. A running capture goes on afterwards with a fresh start tick, and the status
    // bar and tool bar keep its running state.
    const bool wasCapturing = IsCapturing() != 0;
    StopCapture();
    if (!AwaitCaptureStop()) {
        CaptureDidNotStop("Clear");
        return;
    }
    ClearCapture();
    if (wasCapturing) StartCapture();
}

void VizirMainWindow::CaptureFilterCommand() {
    if (RefusedWhileLoading()) return;
    CaptureFilterDlg dialog(MainWidget(), captureMethod.load(), CaptureFilter::Expression());
    std::string expression;
    if (dialog.Run(expression)) ApplyCaptureFilter(expression);
}

void VizirMainWindow::ApplyCaptureFilter(const std::string& expression) {
    if (expression == CaptureFilter::Expression()) {
        RememberCaptureFilter(expression);
        return;
    }
    // Each driver takes the expression as it starts: a running capture stops, confirmed as
    // Clear's is, and starts again with the new one.
    const bool wasCapturing = IsCapturing() != 0;
    if (wasCapturing) {
        StopCapture();
        if (!AwaitCaptureStop()) {
            CaptureDidNotStop("Capture Filter");
            return;
        }
    }
    CaptureFilter::SetExpression(expression);
    WriteRegString(CaptureFilter::kSetting, expression.c_str());
    RememberCaptureFilter(expression);
    ShowTitle();
    if (wasCapturing) {
        StartCommand();
        // Refused (the capture rights check is still running): the window shows it stopped.
        if (!IsCapturing()) CaptureStopped();
    } else {
        ShowCaptureState();
    }
}

void VizirMainWindow::ShowCaptureState() {
    // The pane holds the state text after its two blanks, then the old filter while one was
    // set; a pane that shows no state yet is left empty.
    // A text the capture thread posted and the pane has not shown yet is the newer one.
    std::string state;
    {
        std::lock_guard<std::mutex> guard(pendingStatus_[1].lock);
        if (pendingStatus_[1].posted) state = pendingStatus_[1].text;
    }
    if (state.empty()) state = GetStatusBar()->PaneText(1).toStdString();
    state.erase(0, std::min(state.find_first_not_of(' '), state.size()));
    if (state.empty()) return;
    state = state.substr(0, state.find(" \u00b7 "));
    ShowStatus(CaptureStateText(state).c_str(), 1);
}

void VizirMainWindow::SetText(const char* text) {
    title_ = text ? text : "";
    ShowTitle();
}

void VizirMainWindow::ShowTitle() {
    std::string title = title_;
    std::string filter = CaptureFilter::Expression();
    if (!filter.empty()) {
        // A long expression stays readable in the title bar; the dialog shows it whole.
        if (filter.size() > kTitleFilterLength) filter = filter.substr(0, kTitleFilterLength) + "...";
        title += " [filter: " + filter + "]";
    }
    AppMainWindow::SetText(title.c_str());
}

void VizirMainWindow::ChangeCaptureMethod(int method) {
    if (method < 1 || method > 3 || RefusedWhileLoading()) return;
    // The old method's driver is stopped, and no call on any driver runs, before the method
    // changes and before the interface choice may close or replace a driver's capture object.
    const bool wasCapturing = IsCapturing() != 0;
    StopCapture();
    if (!AwaitCaptureStop()) {
        CaptureDidNotStop("Mode");
        return;
    }
    captureMethod.store(method);
    WriteRegNumber("CaptureMethod", static_cast<uint32_t>(method));
    const bool confirmed = SelectInterface(method);
    if (!wasCapturing) return;
    if (confirmed) {
        StartCapture();
        CaptureStarted();
    } else {
        // The capture is stopped now; the window says so rather than keep a running look.
        CaptureStopped();
    }
}

bool VizirMainWindow::SelectInterface(int method) {
    if (interfaceSelector) return interfaceSelector(method);
    switch (method) {
        case 1: return rawSocket_.SelectInterface();
        case 2: return netMon_.SelectInterface();
        case 3: return pcap_.SelectInterface();
        default: return false;
    }
}

bool VizirMainWindow::MayClose() {
    if (loading_) {
        // Closed once the load is through.
        closeAfterLoad_ = true;
        return false;
    }
    if (QueryExit(*this)) return true;
    // Yes to ending the capture, then Cancel: the capture stays stopped, as the Stop command
    // leaves it.
    if (shownCapturing_ && !IsCapturing()) CaptureStopped();
    return false;
}

bool VizirMainWindow::MayOpenFile() {
    if (loading_) return false;
    const bool open = QueryReplace(*this);
    if (!open && shownCapturing_ && !IsCapturing()) CaptureStopped();
    return open;
}

// A capture makes the window busy; the open then asks to stop it, as Exit does. A load does not
// end that way.
bool VizirMainWindow::OpenAsksWhileBusy() const { return !loading_ && IsCapturing(); }

void VizirMainWindow::OnOpenFile() {
    if (loading_) return;
    OpenCommand(*this);
    if (shownCapturing_ && !IsCapturing()) CaptureStopped();
}

bool VizirMainWindow::OpenFile(const char* path) {
    if (loading_) return false;
    const bool wasBusy = IsBusy();
    loading_ = true;
    loadNotice_.clear();
    SetBusy(true);
    sinceEvents_.start();
    refreshesSinceEvents_ = 0;
    const bool opened = OpenCaptureFile(path, *this);
    loading_ = false;
    SetBusy(wasBusy);
    // The load stopped a running capture for good.
    if (shownCapturing_ && !IsCapturing()) CaptureStopped();
    if (closeAfterLoad_) {
        closeAfterLoad_ = false;
        QMetaObject::invokeMethod(MainWidget(), [this] { Command(res::kCmdExit); },
                                  Qt::QueuedConnection);
    }
    return opened;
}

bool VizirMainWindow::ReplayPacket(uint32_t index) {
    const PacketStore& store = GetPacketStore();
    if (index >= static_cast<uint32_t>(store.Count())) return false;
    // Exactly the stored bytes; the raw socket cannot send.
    const PacketRecord& record = store[static_cast<int32_t>(index)];
    if (record.frameType != 2) return false;
    switch (captureMethod.load()) {
        case 2: return netMon_.SendPacket(record.data.get(), record.length);
        case 3: return pcap_.SendPacket(record.data.get(), record.length);
        default: return false;
    }
}

void VizirMainWindow::ReplaySelection(uint32_t packet) {
    std::vector<uint32_t> packets;
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.size() > 1) {
        // In the order the list shows them; each row maps to its own packet.
        std::sort(selected.begin(), selected.end(),
                  [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
        for (const QModelIndex& index : selected) packets.push_back(model_->PacketAt(index.row()));
    } else {
        packets.push_back(packet);
    }
    const PacketStore& store = GetPacketStore();
    const int method = captureMethod.load();
    bool notEthernet = false;
    for (uint32_t index : packets) {
        if (index >= static_cast<uint32_t>(store.Count())) continue;
        // A datagram without its link header is left out; the Ethernet frames around it go.
        if ((method == 2 || method == 3) && store[static_cast<int32_t>(index)].frameType != 2) {
            notEthernet = true;
            continue;
        }
        if (!ReplayPacket(index)) {
            ShowStatus(kReplayFailed, 0);
            return;
        }
    }
    if (notEthernet) ShowStatus(kReplayOnlyEthernet, 0);
}
