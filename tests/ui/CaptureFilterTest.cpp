// The capture filter in the window: the dialog checks the expression as it is typed, OK keeps and
// shows it (title, pane 1, the history), and a running capture starts again with it.
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include "WindowFixture.h"
#include "drivers/CaptureFilter.h"
#include "ui/CaptureFilterDlg.h"

namespace {

class CaptureFilterTest : public WindowFixture {
protected:
    void TearDown() override {
        CaptureFilterDlg::SetRunHook(nullptr);
        WindowFixture::TearDown();
        CaptureFilter::SetExpression("");
    }

    // Runs "Capture Filter...", types the text into a cleared field and presses OK (or Cancel);
    // keeps what the dialog offered and made of the text.
    void Enter(const std::string& text, bool ok = true) {
        CaptureFilterDlg::SetRunHook([&](CaptureFilterDlg& dialog) {
            offered.clear();
            for (int i = 0; i < dialog.Expression()->count(); ++i) {
                offered.push_back(dialog.Expression()->itemText(i).toStdString());
            }
            QLineEdit* edit = dialog.Expression()->lineEdit();
            edit->clear();
            QTest::keyClicks(edit, QString::fromStdString(text));
            valid = dialog.Valid();
            okEnabled = dialog.OkButton()->isEnabled();
            message = dialog.Message();
            if (ok) {
                dialog.OkButton()->click();
            } else {
                dialog.reject();
            }
        });
        window->Command(res::kCmdCaptureFilter);
    }

    std::string Title() const { return window->MainWidget()->windowTitle().toStdString(); }
    static std::string Stored() {
        str text;
        AppRegKey().GetString(CaptureFilter::kSetting, text, "?");
        return text.c_str();
    }

    std::vector<std::string> offered;
    bool valid = false;
    bool okEnabled = false;
    std::string message;
};

TEST_F(CaptureFilterTest, TheDialogChecksAsYouTypeAndOnlyAValidExpressionApplies) {
    CreateWindow();
    captureMethod.store(3);
    const std::string plainTitle = Title();
    const struct {
        const char* text;
        bool valid;
    } cases[] = {{"udp port 53", true}, {"tcp port", false}, {"host 999.1.1.1", false}, {"", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string before = CaptureFilter::Expression();
        Enter(c.text);
        EXPECT_EQ(valid, c.valid);
        EXPECT_EQ(okEnabled, c.valid);
        // The library's own words for what is wrong.
        const std::string error = CaptureFilter::Check(c.text, 3);
        EXPECT_EQ(error.empty(), c.valid);
        if (!c.valid) {
            EXPECT_EQ(message, error);
        }
        const std::string now = c.valid ? c.text : before;
        EXPECT_EQ(CaptureFilter::Expression(), now);
        EXPECT_EQ(Stored(), now);
        EXPECT_EQ(Title(), now.empty() ? plainTitle : plainTitle + " [filter: " + now + "]");
    }
    // Cancel changes nothing; the expressions applied are offered, most recent first, once.
    Enter("tcp", false);
    Enter("udp port 53");
    Enter("tcp");
    EXPECT_EQ(CaptureFilter::Expression(), "tcp");
    Enter("tcp", false);
    EXPECT_EQ(offered, (std::vector<std::string>{"tcp", "udp port 53"}));
    EXPECT_EQ(CaptureFilter::Expression(), "tcp");
}

TEST_F(CaptureFilterTest, TheStoredExpressionIsTakenAtStartEvenWhenItDoesNotCompile) {
    WriteRegString(CaptureFilter::kSetting, "tcp port");
    CreateWindow();
    EXPECT_EQ(CaptureFilter::Expression(), "tcp port");
    EXPECT_NE(Title().find(" [filter: tcp port]"), std::string::npos) << Title();
}

TEST_F(CaptureFilterTest, ARunningCaptureStartsAgainWithTheNewExpression) {
    CreateWindow();
    captureMethod.store(3);
    const struct {
        int stopMilliseconds;
        bool applied;
    } cases[] = {{2600, false}, {0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopMilliseconds);
        window->Command(res::kCmdStartCapture);
        ASSERT_TRUE(WaitUntil([] { return pcapRunning.load() == 1; }));
        idleDrivers.stopMilliseconds = c.stopMilliseconds;
        const int stops = idleDrivers.stops.load();
        Enter("udp port 53");
        EXPECT_EQ(CaptureFilter::Expression(), c.applied ? "udp port 53" : "");
        EXPECT_EQ(IsCapturing() != 0, c.applied);
        if (c.applied) {
            EXPECT_EQ(idleDrivers.stops.load(), stops + 1);
            EXPECT_TRUE(WaitUntil(
                [&] { return Pane(1) == "  Capturing (WinPCap) \u00b7 udp port 53"; }))
                << Pane(1);
        } else {
            EXPECT_EQ(Pane(0),
                      "  Capture Filter: the capture did not stop within 2 seconds; nothing was "
                      "changed");
            EXPECT_TRUE(ShowsStopped());
        }
        window->Command(res::kCmdStopCapture);
        ASSERT_TRUE(WaitUntil([] { return pcapRunning.load() == 0; }));
        idleDrivers.stopMilliseconds = 0;
    }
    // Without a capture, pane 1 shows the state with the filter as it is now.
    ASSERT_TRUE(WaitUntil([&] { return Pane(1).rfind("  Not Capturing (WinPCap)", 0) == 0; }));
    Enter("tcp");
    EXPECT_EQ(Pane(1), "  Not Capturing (WinPCap) \u00b7 tcp");
    Enter("");
    EXPECT_EQ(Pane(1), "  Not Capturing (WinPCap)");
}

}  // namespace
