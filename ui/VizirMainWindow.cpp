#include "ui/VizirMainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>

#include "capture/CaptureFilters.h"
#include "capture/CaptureLoop.h"
#include "decode/Dispatch.h"
#include "drivers/CaptureFilter.h"
#include "files/CaptureFile.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "resources/Images.h"
#include "resources/Resources.h"
#include "ui/CommonDialogs.h"
#include "ui/DetailPane.h"
#include "ui/FindDlg.h"
#include "ui/PacketListModel.h"
#include "ui/PacketListView.h"

namespace {

VizirMainWindow* instance = nullptr;
VizirMainWindow::AdministratorCheck administratorCheck = IsUserAdministrator;
VizirMainWindow::ContextMenuChooser contextMenuChooser;

constexpr ToolBarButton kToolBarButtons[] = {
    {res::kImageOpen, res::kCmdOpen, true},
    {res::kImageSave, res::kCmdSave, true},
    {-1, 0, false},
    {res::kImageCopy, res::kCmdCopy, true},
    {-1, 0, false},
    {res::kImageStart, res::kCmdStartCapture, false},
    {res::kImageStop, res::kCmdStopCapture, false},
};

// How often a long load lets the window handle its events.
constexpr qint64 kLoadEventInterval = 40;
constexpr int kLoadEventRefreshes = 64;

bool OnInterfaceThread() { return QThread::currentThread() == qApp->thread(); }

// Tab in the list goes to the detail pane and back.
class TabSwitch : public QObject {
public:
    TabSwitch(QWidget* list, QWidget* pane, QObject* parent)
        : QObject(parent), list_(list), pane_(pane) {}

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Tab) return false;
        if (target == list_) {
            pane_->setFocus(Qt::TabFocusReason);
            return true;
        }
        if (target == pane_) {
            list_->setFocus(Qt::TabFocusReason);
            return true;
        }
        return false;
    }

private:
    QWidget* list_;
    QWidget* pane_;
};

bool BytesContain(const uint8_t* data, size_t length, const char* text, size_t n,
                  bool caseSensitive) {
    if (n == 0) return true;
    if (length < n) return false;
    auto equal = [caseSensitive](uint8_t byte, char c) {
        const uint8_t wanted = static_cast<uint8_t>(c);
        if (caseSensitive) return byte == wanted;
        auto lower = [](uint8_t v) -> uint8_t { return v >= 'A' && v <= 'Z' ? v + 32 : v; };
        return lower(byte) == lower(wanted);
    };
    return std::search(data, data + length, text, text + n, equal) != data + length;
}

}  // namespace

VizirMainWindow* VizirMainWindow::Instance() { return instance; }

int VizirMainWindow::CaptureRights() const { return administratorCheck(); }

void VizirMainWindow::SetAdministratorCheck(AdministratorCheck check) {
    administratorCheck = check ? check : IsUserAdministrator;
}

void VizirMainWindow::SetContextMenuChooser(ContextMenuChooser chooser) {
    contextMenuChooser = std::move(chooser);
}

VizirMainWindow::VizirMainWindow() : AppMainWindow(2) {
    SetMinimiseToTray(true);
    instance = this;
}

VizirMainWindow::~VizirMainWindow() {
    ReleaseCapture();
    WriteRegNumber("CaptureMethod", static_cast<uint32_t>(captureMethod.load()));
    WriteRegNumber("AutoScroll", static_cast<uint32_t>(autoScroll_));
    // The views go before their model.
    delete list_;
    delete tree_;
    delete model_;
    if (instance == this) instance = nullptr;
}

bool VizirMainWindow::CreateToolBar() {
    toolBar_ = std::make_unique<ToolBar>(
        Client(), res::kToolbarBitmap, kToolBarButtons,
        static_cast<int>(std::size(kToolBarButtons)), [this](int command) { Command(command); },
        [this](int command) { return ToolTipText(command); });
    return true;
}

bool VizirMainWindow::CreateStatusBar() {
    statusBar_ = std::make_unique<StatusBar>(Client(), 3);
    return true;
}

QString VizirMainWindow::ToolTipText(int command) {
    switch (command) {
        case res::kCmdOpen: return "Open A Saved Capture (Ctrl+O)";
        case res::kCmdSave: return "Save The Current Capture (Ctrl+S)";
        case res::kCmdCopy: return "Copy";
        case res::kCmdStartCapture: return "Start Capture";
        case res::kCmdStopCapture: return "Stop Capture";
        default: return {};
    }
}

bool VizirMainWindow::CreateContent() {
    if (administratorCheck() == 0) {
        MessageBox(kNotAdministratorWarning, nullptr, kMbOk | kMbIconExclamation);
    }
    splitRatio_ = 0.5;
    splitterThickness_ = std::max(Client()->style()->pixelMetric(QStyle::PM_SplitterWidth), 4);

    QWidget* client = Client();
    tree_ = CreateDetailPane(client);
    tree_->setGeometry(0, 0, client->width() / 2, client->height());
    CreatePacketList();
    auto* tabs = new TabSwitch(list_, tree_, client);
    list_->installEventFilter(tabs);
    tree_->installEventFilter(tabs);
    ApplyFont(DefaultFixedFont());

    autoScroll_ = ReadRegNumber("AutoScroll", 0) != 0 ? 1 : 0;

    BindCapture();

    CheckMenuItem(res::kCmdPacketParser, true);
    CaptureStopped();
    RestoreFont();

    // The filter every capture starts with. One that no longer compiles (an edited setting) is
    // kept: the capture then fails with the library's reason rather than run unfiltered.
    str filter;
    AppRegKey().GetString(CaptureFilter::kSetting, filter, "");
    CaptureFilter::SetExpression(filter.c_str());
    title_ = version_.productName.c_str();
    ShowTitle();

    const uint32_t method = ReadRegNumber("CaptureMethod", 0);
    if (method >= 1 && method <= 3) {
        captureMethod.store(static_cast<int32_t>(method));
        if (ReadRegNumber("AutoStart", 0) != 0) {
            CheckMenuItem(res::kCmdAutoStart, true);
            StartCapture();
            CaptureStarted();
        }
    } else {
        captureMethod.store(1);
    }
    LayOut();
    return true;
}

void VizirMainWindow::CreatePacketList() {
    QWidget* client = Client();
    model_ = new PacketListModel();
    list_ = new PacketListView(client);
    list_->setObjectName("packetList");
    list_->setCursor(Qt::ArrowCursor);
    list_->setModel(model_);
    list_->setFrameShape(QFrame::StyledPanel);
    list_->setFocusPolicy(Qt::StrongFocus);
    list_->setTabKeyNavigation(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->setAlternatingRowColors(true);
    list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = list_->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSortIndicatorShown(false);
    for (int column = 0; column < kPacketColumnCount; ++column) {
        list_->setColumnHidden(column, !packetColumns[column].shown);
        header->resizeSection(column, packetColumns[column].width);
    }
    list_->setGeometry(0, 0, 100, client->height() / 2);

    QObject::connect(header, &QHeaderView::sectionClicked, list_,
                     [this](int column) { SortByColumn(column); });
    QObject::connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, list_,
                     [this](const QModelIndex& current, const QModelIndex&) {
                         if (current.isValid()) ShowPacket(current.row());
                     });
    QObject::connect(model_, &PacketListModel::RowsAppended, list_, [this](int, int) {
        if (autoScroll_) list_->scrollToBottom();
    });
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list_, &QWidget::customContextMenuRequested, list_,
                     [this](const QPoint& position) { ShowContextMenu(position); });
}

void VizirMainWindow::ApplyFont(const QFont& font) {
    if (list_) {
        list_->setFont(font);
        list_->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 4);
    }
    if (tree_) tree_->setFont(font);
}

void VizirMainWindow::RestoreFont() {
    AppRegKey key;
    str setting;
    key.GetString("Font", setting, "");
    QFont font;
    if (!FontFromSetting(setting.c_str(), font)) return;
    // "Font" holds face and height only; the whole font stored beside it counts while it is
    // still the font "Font" names (an edited "Font" wins).
    str details;
    key.GetString(kFontDetailsSetting, details, "");
    QFont whole;
    str wholeSetting;
    if (!details.Empty() && whole.fromString(QString::fromUtf8(details.c_str()))) {
        FontSettingText(whole, wholeSetting);
        if (std::strcmp(wholeSetting.c_str(), setting.c_str()) == 0) font = whole;
    }
    ApplyFont(font);
}

bool VizirMainWindow::ChooseFont() {
    QFont font = list_ ? list_->font() : DefaultFixedFont();
    if (!ShowFontDialog(MainWidget(), font)) return false;
    str setting;
    FontSettingText(font, setting);
    WriteRegString("Font", setting.c_str());
    WriteRegString(kFontDetailsSetting, font.toString().toUtf8().constData());
    ApplyFont(font);
    return true;
}

void VizirMainWindow::OnResize(int width, int height) {
    if (!statusBar_ || !toolBar_ || !list_ || !tree_) return;
    const int s = statusBar_->PreferredHeight();
    statusBar_->Handle()->setGeometry(0, height - s, width, s);
    const int available = height - s;
    const int t = toolBar_->PreferredHeight();
    toolBar_->Handle()->setGeometry(0, 0, width, t);
    const int d = static_cast<int>(available * splitRatio_);
    list_->setGeometry(0, t, width, available - splitterThickness_ - d - t);
    const int scrollBar = list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int columnWidth = std::max((width - scrollBar) / kPacketColumnCount, 0);
    for (int column = 0; column < kPacketColumnCount; ++column) {
        list_->horizontalHeader()->resizeSection(column, columnWidth);
    }
    tree_->setGeometry(0, available - d, width, d);
}

void VizirMainWindow::LayOut() {
    if (QWidget* client = Client()) OnResize(client->width(), client->height());
}

void VizirMainWindow::OnLButtonDown(QPoint position) {
    dragging_ = true;
    OnMouseMove(position);
}

void VizirMainWindow::OnMouseMove(QPoint position) {
    QWidget* client = Client();
    if (!dragging_ || !client || !statusBar_) return;
    if (position.x() < 0 || position.y() < 0 || position.x() > client->width() ||
        position.y() > client->height()) {
        return;
    }
    const int available = client->height() - statusBar_->PreferredHeight();
    if (available <= 0) return;
    splitRatio_ = std::clamp(1.0 - static_cast<double>(position.y()) / available, 0.2, 0.8);
    LayOut();
    client->repaint();
}

void VizirMainWindow::OnLButtonUp(QPoint position) {
    if (!dragging_) return;
    OnMouseMove(position);
    dragging_ = false;
}

void VizirMainWindow::OnActivate(bool active) {
    if (active && list_) list_->setFocus(Qt::ActiveWindowFocusReason);
}

void VizirMainWindow::AddPacketRow(uint32_t index) {
    if (index >= static_cast<uint32_t>(PacketStore::kLimit) || !model_) return;
    // Rows of the user's capture; a file being read is saved as it is.
    if (loadInProgress.load(std::memory_order_acquire) == 0) unsaved_.store(true);
    model_->Enqueue(index);
}

void VizirMainWindow::SetStatusText(int pane, const char* text) {
    if (OnInterfaceThread()) {
        // What a load says in pane 0 (the packet limit) is still to be read when it ends.
        if (loading_ && pane == 0) loadNotice_ = text ? text : "";
        SetStatusText(text, pane);
        KeepLoadResponsive();
        return;
    }
    QWidget* shell = MainWidget();
    if (!shell || pane < 0 || pane >= static_cast<int>(pendingStatus_.size())) return;
    // The latest text of the pane waits here and one queued call at a time shows it: a capture
    // at full speed then costs the interface one update per event-loop turn, not one a frame.
    // Its number says whether the interface thread has put a newer text there meanwhile (a
    // loaded file's count after the last count of a capture).
    const size_t slot = static_cast<size_t>(pane);
    PendingStatus& pending = pendingStatus_[slot];
    {
        std::lock_guard<std::mutex> guard(pending.lock);
        pending.text.assign(text ? text : "");
        pending.sequence = statusSequence_[slot].fetch_add(1, std::memory_order_relaxed) + 1;
        if (pending.posted) return;
        pending.posted = true;
    }
    QMetaObject::invokeMethod(
        shell,
        [this, slot, &pending] {
            std::string shown;
            uint64_t sequence = 0;
            {
                std::lock_guard<std::mutex> guard(pending.lock);
                shown = pending.text;
                sequence = pending.sequence;
                pending.posted = false;
            }
            if (sequence <= shownSequence_[slot]) return;
            shownSequence_[slot] = sequence;
            AppMainWindow::SetStatusText(shown.c_str(), static_cast<int>(slot));
        },
        Qt::QueuedConnection);
}

void VizirMainWindow::SetStatusText(const char* text, int pane) {
    if (pane >= 0 && pane < static_cast<int>(statusSequence_.size())) {
        const size_t slot = static_cast<size_t>(pane);
        shownSequence_[slot] = statusSequence_[slot].fetch_add(1, std::memory_order_relaxed) + 1;
    }
    AppMainWindow::SetStatusText(text, pane);
}

void VizirMainWindow::ClearStatusText(int pane) {
    if (pane >= 0 && pane < static_cast<int>(statusSequence_.size())) {
        const size_t slot = static_cast<size_t>(pane);
        shownSequence_[slot] = statusSequence_[slot].fetch_add(1, std::memory_order_relaxed) + 1;
    }
    AppMainWindow::ClearStatusText(pane);
}

void VizirMainWindow::KeepLoadResponsive() {
    // A file is read on the interface thread; between frames the window still repaints, takes
    // the queued rows and answers the user. Commands that would change the store wait for the
    // load (see OpenFile). Events run every 40 ms, and every 64 count refreshes (6,400 frames)
    // however fast the file reads, so that the list fills while the load runs.
    if (!loading_) return;
    if (++refreshesSinceEvents_ < kLoadEventRefreshes &&
        sinceEvents_.elapsed() < kLoadEventInterval) {
        return;
    }
    QCoreApplication::processEvents();
    sinceEvents_.restart();
    refreshesSinceEvents_ = 0;
}

void VizirMainWindow::ClearCapture() {
    // A load reads right after this: its pace of event turns counts from here, not from the
    // wait for the capture thread before it.
    sinceEvents_.start();
    refreshesSinceEvents_ = 0;
    if (tree_) tree_->clear();
    if (model_) model_->Clear();
    ClearStatusText(2);
    ClearStore();
    SetText(version_.productName.c_str());
    unsaved_.store(false);
}

bool VizirMainWindow::ShowFileDialog(const FileDialogRequest& request, str& path) {
    return ::ShowFileDialog(MainWidget(), request, path);
}

MessageAnswer VizirMainWindow::ShowMessage(const char* text, MessageButtons buttons,
                                           MessageIcon icon) {
    unsigned flags = buttons == MessageButtons::YesNoCancel ? kMbYesNoCancel : kMbOk;
    if (icon == MessageIcon::Exclamation) flags |= kMbIconExclamation;
    if (icon == MessageIcon::Question) flags |= kMbIconQuestion;
    switch (MessageBox(text, nullptr, flags)) {
        case kIdYes: return MessageAnswer::Yes;
        case kIdNo: return MessageAnswer::No;
        case kIdCancel: return MessageAnswer::Cancel;
        default: return MessageAnswer::Ok;
    }
}

bool VizirMainWindow::OpenByName(const char* path) { return AppMainWindow::OpenByName(path); }

void VizirMainWindow::SetCurrentFile(const char* path) { AppMainWindow::SetCurrentFile(path); }

void VizirMainWindow::AddRecentFile(const char* path) {
    AppMainWindow::AddRecentFile(path);
    RebuildRecentFileMenu();
}

void VizirMainWindow::OnSaveFile() {
    if (!loading_) SaveCommand(*this);
}

void VizirMainWindow::OnFileOpened() { AppMainWindow::SetStatusText("File Opened", 0); }

void VizirMainWindow::OnOpenEnded(bool opened) {
    if (opened && !loadNotice_.empty()) AppMainWindow::SetStatusText(loadNotice_.c_str(), 0);
    if (skippedNotice_.Length() != 0) {
        ShowStatus(skippedNotice_.c_str(), 0);
        skippedNotice_.Clear();
    }
}

void VizirMainWindow::LoadFailed(const char* reason) { Report(nullptr, 0, reason, 3); }

// The writer has logged the failure already.
void VizirMainWindow::SaveFailed(const char* reason) { ShowStatus(reason, 0); }

void VizirMainWindow::LoadNotice(const char* text) {
    Report(nullptr, 0, text, 3);
    skippedNotice_ = text;
}

void VizirMainWindow::ShowPacket(int row) {
    if (!list_ || !tree_) return;
    if (row < 0) {
        const QModelIndex current = list_->currentIndex();
        if (!current.isValid()) return;
        row = current.row();
    }
    const uint32_t packet = model_->PacketAt(row);
    const PacketStore& store = GetPacketStore();
    if (packet >= static_cast<uint32_t>(store.Count())) return;
    str text;
    DescribePacket(store[static_cast<int32_t>(packet)], text);
    FillTree(tree_, text);
}

bool VizirMainWindow::CopySelectedPacket() {
    if (!list_) return false;
    const QModelIndex current = list_->currentIndex();
    if (!current.isValid()) return false;
    const uint32_t packet = model_->PacketAt(current.row());
    const PacketStore& store = GetPacketStore();
    if (packet >= static_cast<uint32_t>(store.Count())) return false;
    str text;
    DescribePacket(store[static_cast<int32_t>(packet)], text);
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    // The description's bytes as the list shows them: packet bytes are no UTF-8.
    clipboard->setText(QString::fromLatin1(text.c_str(), static_cast<qsizetype>(text.Length())));
    return true;
}

void VizirMainWindow::OnCopy() { CopySelectedPacket(); }

bool VizirMainWindow::FindNext(const char* text) {
    if (!list_ || !text) return false;
    const QModelIndex current = list_->currentIndex();
    const int start = current.isValid() ? current.row() + 1 : 0;
    const int rows = model_->Rows();
    if (start >= rows) return false;
    const size_t n = std::strlen(text);
    const PacketStore& store = GetPacketStore();
    const uint32_t count = static_cast<uint32_t>(store.Count());
    for (int row = start; row < rows; ++row) {
        const uint32_t packet = model_->PacketAt(row);
        if (packet >= count) continue;
        const PacketRecord& record = store[static_cast<int32_t>(packet)];
        if (!record.data && record.length > 0) continue;
        if (!BytesContain(record.data.get(), record.length, text, n, searchCaseSensitive)) {
            continue;
        }
        const QModelIndex found = model_->index(row, 0);
        list_->selectionModel()->setCurrentIndex(
            found, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list_->scrollTo(found);
        return true;
    }
    return false;
}

void VizirMainWindow::SortByColumn(int column) {
    // The rows of a load are still coming in; the order waits for its end.
    if (column < 0 || column >= kPacketColumnCount || loading_) return;
    packetColumns[column].ascending = !packetColumns[column].ascending;
    model_->Sort(column);
    QHeaderView* header = list_->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, packetColumns[column].ascending ? Qt::AscendingOrder
                                                                     : Qt::DescendingOrder);
}

void VizirMainWindow::SetView(int view) {
    DecodeView.store(static_cast<DecodeViewKind>(view));
    ShowPacket(-1);
    if (list_) list_->setFocus();
}

void VizirMainWindow::ToggleAutoStart() {
    const bool checked = !IsMenuItemChecked(res::kCmdAutoStart);
    CheckMenuItem(res::kCmdAutoStart, checked);
    WriteRegNumber("AutoStart", checked ? 1 : 0);
}

void VizirMainWindow::ShowContextMenu(QPoint position) {
    // Quick filters would change the rule set under the load that applies it.
    if (!list_ || !model_ || loading_) return;
    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    // The row under the mouse; a click beside every row takes the selected row with the focus,
    // or else the first selected row in list order.
    int row = list_->indexAt(position).row();
    if (row < 0) {
        const QModelIndex current = list_->currentIndex();
        if (current.isValid() && list_->selectionModel()->isRowSelected(current.row())) {
            row = current.row();
        } else {
            row = selected.front().row();
            for (const QModelIndex& index : selected) row = std::min(row, index.row());
        }
    }
    const uint32_t packet = model_->PacketAt(row);
    const PacketStore& store = GetPacketStore();
    const int selectedRows = static_cast<int>(selected.size());
    if (selectedRows == 1 && packet >= static_cast<uint32_t>(store.Count())) return;
    static const PacketRecord none;
    const PacketRecord& record =
        selectedRows == 1 ? store[static_cast<int32_t>(packet)] : none;
    const std::vector<ContextMenuItem> items =
        ContextMenuItems(record, selectedRows, captureMethod.load());
    const QPoint screen = list_->viewport()->mapToGlobal(position);
    const int chosen = contextMenuChooser ? contextMenuChooser(items, screen)
                                          : ExecContextMenu(items, screen);
    // Only an item the menu offered counts.
    bool offered = false;
    for (const ContextMenuItem& item : items) offered |= chosen != 0 && item.item == chosen;
    if (offered) RunContextMenuItem(chosen, packet);
    RefilterList();
}

int VizirMainWindow::ExecContextMenu(const std::vector<ContextMenuItem>& items,
                                     QPoint screenPosition) {
    QMenu menu(list_);
    menu.setObjectName("packetListMenu");
    for (const ContextMenuItem& item : items) {
        if (item.item == kContextSeparator) {
            menu.addSeparator();
            continue;
        }
        menu.addAction(QString::fromStdString(item.text))->setData(item.item);
    }
    const QAction* chosen = menu.exec(screenPosition);
    return chosen ? chosen->data().toInt() : 0;
}

void VizirMainWindow::RunContextMenuItem(int item, uint32_t packet) {
    const PacketStore& store = GetPacketStore();
    if (item == kContextReplay) {
        ReplaySelection(packet);
        return;
    }
    if (item == kRemoveAllFilters) {
        ApplyQuickFilter(item, PacketRecord());
        return;
    }
    if (packet >= static_cast<uint32_t>(store.Count())) return;
    ApplyQuickFilter(item, store[static_cast<int32_t>(packet)]);
}

void VizirMainWindow::RefilterList() {
    const uint32_t shown = model_->PacketAt(list_->currentIndex().row());
    model_->BeginBulkRemoval();
    RefilterPacketList(*model_);
    model_->EndBulkRemoval();
    // The row with the focus moved to a neighbour when its own went, or was lost when the list
    // was rebuilt; the pane shows the packet of a selected row or nothing.
    QModelIndex current = list_->currentIndex();
    if (!current.isValid() && model_->RowOfPacket(shown) >= 0) {
        current = model_->index(model_->RowOfPacket(shown), 0);
        list_->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    }
    if (current.isValid()) {
        list_->selectionModel()->select(current,
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (!autoScroll_) list_->scrollTo(current);
    } else {
        tree_->clear();
    }
    if (autoScroll_) list_->scrollToBottom();
}

void VizirMainWindow::OnCommand(int id, int code) {
    switch (id) {
        case res::kCmdStartCapture:
            StartCommand();
            return;
        case res::kCmdStopCapture:
            StopCommand();
            return;
        case res::kCmdPacketParser:
            SetView(static_cast<int>(DecodeViewKind::PacketParser));
            return;
        case res::kCmdRawData:
            SetView(static_cast<int>(DecodeViewKind::RawData));
            return;
        case res::kCmdAsciiData:
            SetView(static_cast<int>(DecodeViewKind::ASCIIData));
            return;
        case res::kCmdModeRawSocket:
            ChangeCaptureMethod(1);
            return;
        case res::kCmdModeNetMon:
            ChangeCaptureMethod(2);
            return;
        case res::kCmdModePcap:
            ChangeCaptureMethod(3);
            return;
        case res::kCmdClear:
            ClearCommand();
            return;
        case res::kCmdFont:
            ChooseFont();
            return;
        case res::kCmdAutoStart:
            ToggleAutoStart();
            return;
        case res::kCmdAutoScroll:
            autoScroll_ = !autoScroll_;
            return;
        case res::kCmdFind: {
            FindDlg dialog;
            if (dialog.Run(MainWidget()) == 1) FindNext(searchText);
            return;
        }
        case res::kCmdFindNext:
            FindNext(searchText);
            return;
        case res::kCmdCaptureFilter:
            CaptureFilterCommand();
            return;
        default:
            return;
    }
}

void VizirMainWindow::OnMenuSelect(int item, QMenu* menu) {
    // Item 2 is the View menu; 3 the Capture menu or its Mode submenu.
    if (item == 2) {
        const DecodeViewKind view = DecodeView.load();
        CheckMenuItem(res::kCmdPacketParser, view == DecodeViewKind::PacketParser);
        CheckMenuItem(res::kCmdAsciiData, view == DecodeViewKind::ASCIIData);
        CheckMenuItem(res::kCmdRawData, view == DecodeViewKind::RawData);
        CheckMenuItem(res::kCmdAutoScroll, autoScroll_ != 0);
    } else if (item == 3) {
        const int method = captureMethod.load();
        CheckMenuItem(res::kCmdModeRawSocket, method == 1);
        CheckMenuItem(res::kCmdModeNetMon, method == 2);
        CheckMenuItem(res::kCmdModePcap, method == 3);
    }
}
