// A main window on the offscreen platform with fresh settings, an empty store, no filter rules,
// and every box and dialog answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTableView>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureFilters.h"
#include "capture/CaptureLoop.h"
#include "capture/PacketStore.h"
#include "decode/Dispatch.h"
#include "files/CaptureFile.h"
#include "framework/Bytes.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/gui/Dialog.h"
#include "framework/gui/Window.h"
#include "resources/Images.h"
#include "resources/Resources.h"
#include "ui/CommonDialogs.h"
#include "ui/DemoCapture.h"
#include "ui/DetailPane.h"
#include "ui/PacketListModel.h"
#include "ui/VizirMainWindow.h"

// Drivers that start at once and deliver nothing: the window tests never capture on this
// machine's interfaces (the live cases run the real drivers inside namespaces of their own).
// A test may have them refuse to start, take their time to stop, tell why they failed, or have
// methods 2 and 3 deliver numbered frames at top speed on a thread of their own, as the real
// ones deliver (the number in the frame's last 8 bytes, little-endian), 20,000 a start.
class IdleDrivers : public CaptureDrivers {
public:
    ~IdleDrivers() { EndFlood(); }
    bool StartRawSocket() override { return !refuseStart; }
    void StopRawSocket() override { Stop(); }
    bool ReceiveRawSocket() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return false;
    }
    bool StartNetMon() override { return Start(); }
    void StopNetMon() override { Stop(); }
    bool StartPcap() override { return Start(); }
    void StopPcap() override { Stop(); }
    bool TakeFailure(int, std::string& reason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_.empty()) return false;
        reason.swap(failure_);
        failure_.clear();
        return true;
    }
    void Fail(const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = reason;
    }

    std::atomic<bool> refuseStart{false};
    std::atomic<int> stopMilliseconds{0};
    std::atomic<int> stops{0};
    std::atomic<bool> flood{false};
    std::atomic<uint64_t> delivered{0};  // the number of the last frame handed over
    std::atomic<uint64_t> deliveredAtStop{0};

private:
    bool Start() {
        if (refuseStart) return false;
        if (flood) {
            flooding_ = true;
            thread_ = std::thread([this] {
                std::vector<uint8_t> frame = DemoFrames()[0].bytes;
                frame.resize(frame.size() + 8);
                // At most 20,000 frames a start: the store never fills on its own.
                for (int left = 20000; flooding_;) {
                    if (left == 0) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
                    --left;
                    const uint64_t number = delivered.load() + 1;
                    for (int i = 0; i < 8; ++i) {
                        frame[frame.size() - 8 + i] = static_cast<uint8_t>(number >> (8 * i));
                    }
                    OnEthernetFrame(frame.data(), static_cast<uint32_t>(frame.size()));
                    delivered.store(number);
                }
            });
        }
        return true;
    }
    void EndFlood() {
        flooding_ = false;
        if (thread_.joinable()) thread_.join();
    }
    void Stop() {
        std::this_thread::sleep_for(std::chrono::milliseconds(stopMilliseconds.load()));
        EndFlood();
        deliveredAtStop.store(delivered.load());
        ++stops;
    }
    std::atomic<bool> flooding_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::string failure_;
};

struct ShownBox {
    std::string text;
    std::string caption;
    unsigned flags;
};

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        static int counter = 0;
        folder_ = fs::current_path() / ("window-" + std::to_string(++counter));
        fs::create_directories(folder_ / "config");
        setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        WriteRegString("installdir", folder_.c_str());
        ErrorLog::ResetForTesting();

        SetMessageBoxHook([this](const char* text, const char* caption, unsigned flags) {
            boxes.push_back({text, caption, flags});
            if (answers.empty()) return static_cast<int>(kIdOk);
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
        SetFileDialogHook([this](const FileDialogRequest& request, str& path) {
            requests.push_back(request);
            if (paths.empty()) return false;
            path = paths.front().c_str();
            paths.pop_front();
            return true;
        });
        ASSERT_TRUE(AllocateStore());
        StopCapture();
        ClearStore();
        ResetFilters();
        DecodeView.store(DecodeViewKind::PacketParser);
        for (PacketColumnInfo& column : packetColumns) column.ascending = false;
        packetColumns[0].ascending = true;
        VizirMainWindow::SetAdministratorCheck([] { return 1; });
        VizirMainWindow::SetCaptureDriversOverride(&idleDrivers);
        // The interface dialogs are confirmed unseen unless a test opens them itself.
        VizirMainWindow::SetInterfaceSelector([](int) { return true; });
        captureMethod.store(1);
        captureAllowed.store(1);
    }

    void TearDown() override {
        window.reset();
        SetMessageBoxHook(nullptr);
        SetFileDialogHook(nullptr);
        SetFontDialogHook(nullptr);
        Dialog::SetRunHook(nullptr);
        VizirMainWindow::SetAdministratorCheck(nullptr);
        VizirMainWindow::SetInterfaceSelector(nullptr);
        VizirMainWindow::SetWaitHook(nullptr);
        VizirMainWindow::SetContextMenuChooser(nullptr);
        VizirMainWindow::SetCaptureDriversOverride(nullptr);
        StopCapture();
        ClearStore();
        ResetFilters();
    }

    // Creates and shows the window (no splash) and lets it lay itself out.
    void CreateWindow() {
        window = std::make_unique<VizirMainWindow>();
        AppMainWindow::CreateOptions options;
        options.splash = false;
        ASSERT_TRUE(window->Create(options));
        Settle();
    }

    // Runs the event loop until the queued rows are in the list (a row whose record was not
    // complete yet is taken by a timer).
    void Settle() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (window && window->Model()->HasPending() &&
               std::chrono::steady_clock::now() < deadline) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        QApplication::processEvents();
    }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    // The text a cell of the packet list shows.
    std::string Cell(int row, int column) const {
        return window->Model()
            ->data(window->Model()->index(row, column), Qt::DisplayRole)
            .toString()
            .toStdString();
    }

    std::vector<std::string> RowTexts(int row) const {
        std::vector<std::string> texts;
        for (int column = 0; column < kPacketColumnCount; ++column) texts.push_back(Cell(row, column));
        return texts;
    }

    void SelectRow(int row) {
        QTableView* list = window->PacketList();
        list->setFocus();
        list->selectionModel()->setCurrentIndex(
            window->Model()->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    int CurrentRow() const {
        const QModelIndex current = window->PacketList()->currentIndex();
        return current.isValid() ? current.row() : -1;
    }

    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (const QModelIndex& index : window->PacketList()->selectionModel()->selectedRows()) {
            rows.push_back(index.row());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    std::string Pane(int pane) const {
        return window->GetStatusBar()->PaneText(pane).toStdString();
    }

    // Runs the event loop until the condition holds, at most the limit.
    template <class Condition>
    bool WaitUntil(Condition condition,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        QApplication::processEvents();
        return true;
    }

    bool IconIs(int pane, int iconId) const {
        return window->GetStatusBar()->PaneIcon(pane).pixmap(16).toImage() ==
               res::Icon(iconId).pixmap(16).toImage();
    }

    // Exactly what the Stop command leaves: tool bar, capture icon, busy flag.
    bool ShowsStopped() const {
        const ToolBar* tools = window->GetToolBar();
        return !window->ShowsCapturing() && !window->IsBusy() && IconIs(2, res::kStoppedIcon) &&
               tools->IsButtonEnabled(res::kCmdStartCapture) &&
               !tools->IsButtonEnabled(res::kCmdStopCapture);
    }

    static void StorePlacement(const QRect& placement) {
        WriteRegNumber("WindowX", static_cast<uint32_t>(placement.x()));
        WriteRegNumber("WindowY", static_cast<uint32_t>(placement.y()));
        WriteRegNumber("WindowWidth", static_cast<uint32_t>(placement.width()));
        WriteRegNumber("WindowHeight", static_cast<uint32_t>(placement.height()));
    }

    static QRect StoredPlacement() {
        auto value = [](const char* name) { return static_cast<int32_t>(ReadRegNumber(name, 0)); };
        return {value("WindowX"), value("WindowY"), value("WindowWidth"), value("WindowHeight")};
    }

    // An own-format capture of that many frames, the demonstration frames over and over.
    static void WriteOwnFrames(const std::string& path, uint32_t frames) {
        std::ofstream out(path, std::ios::binary);
        const std::vector<DemoFrame> demo = DemoFrames();
        for (uint32_t i = 0; i < frames; ++i) {
            const DemoFrame& frame = demo[i % demo.size()];
            const uint32_t length = static_cast<uint32_t>(frame.bytes.size());
            uint8_t header[12];
            bytes::StoreLe16(header, 2);
            bytes::StoreLe16(header + 2, 1);
            bytes::StoreLe32(header + 4, length);
            bytes::StoreLe32(header + 8, i);
            out.write(reinterpret_cast<const char*>(header), sizeof header);
            out.write(reinterpret_cast<const char*>(frame.bytes.data()),
                      static_cast<std::streamsize>(length));
        }
    }

    std::string TopLevelText(int position) const {
        QTreeWidgetItem* item = window->DetailPane()->topLevelItem(position);
        return item ? item->text(0).toStdString() : std::string();
    }

    std::string ErrorLogText() const;

    std::filesystem::path folder_;
    IdleDrivers idleDrivers;
    std::unique_ptr<VizirMainWindow> window;
    std::vector<ShownBox> boxes;
    std::deque<int> answers;
    std::vector<FileDialogRequest> requests;
    std::deque<std::string> paths;
};
