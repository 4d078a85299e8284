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
            valid = dialog.Valid() && dialog.OkButton()->isEnabled();
            message = dialog.Message();
            ok ? dialog.OkButton()->click() : dialog.reject();
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
    bool valid = false;  // as the dialog marks it, with OK enabled
    std::string message;
};

// A stored expression is taken at start even when it does not compile: the capture then fails.
TEST_F(CaptureFilterTest, TheDialogChecksAsYouTypeAndOnlyAValidExpressionApplies) {
    WriteRegString(CaptureFilter::kSetting, "tcp port");
    CreateWindow();
    captureMethod.store(3);
    const struct {
        const char* text;
        bool valid;
    } cases[] = {{"udp port 53", true}, {"tcp port", false}, {"host 999.1.1.1", false}, {"", true}};
    std::string now = "tcp port";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Title(), now.empty() ? "Tidewatch" : "Tidewatch [filter: " + now + "]");
        Enter(c.text);
        EXPECT_EQ(valid, c.valid);
        if (c.valid) {
            now = c.text;
        } else {
            // The library's own words for what is wrong.
            EXPECT_FALSE(message.empty());
            EXPECT_EQ(message, CaptureFilter::Check(c.text, 3));
        }
        EXPECT_EQ(CaptureFilter::Expression(), now);
        EXPECT_EQ(Stored(), now);
    }
    // Cancel changes nothing; the expressions applied are offered, most recent first, once.
    Enter("tcp", false);
    Enter("udp port 53");
    Enter("tcp");
    Enter("tcp", false);
    EXPECT_EQ(offered, (std::vector<std::string>{"tcp", "udp port 53"}));
    EXPECT_EQ(CaptureFilter::Expression(), "tcp");
}

TEST_F(CaptureFilterTest, ARunningCaptureStartsAgainWithTheNewExpressionOnceStopped) {
    CreateWindow();
    captureMethod.store(3);
    window->Command(res::kCmdStartCapture);
    ASSERT_TRUE(WaitUntil([] { return pcapRunning.load() == 1; }));
    Enter("udp port 53");
    EXPECT_EQ(idleDrivers.stops.load(), 1);
    EXPECT_TRUE(IsCapturing());
    EXPECT_TRUE(WaitUntil([&] { return Pane(1) == "  Capturing (WinPCap) \u00b7 udp port 53"; }));
    // A capture that does not confirm its stop keeps the expression it runs with.
    idleDrivers.stopMilliseconds = 2600;
    Enter("tcp");
    EXPECT_EQ(CaptureFilter::Expression(), "udp port 53");
    EXPECT_EQ(Pane(0), "  Capture Filter: the capture did not stop within 2 seconds; nothing "
                       "was changed");
    EXPECT_TRUE(ShowsStopped());
    // Without a capture, pane 1 shows the state with the filter as it is now.
    ASSERT_TRUE(WaitUntil([&] { return Pane(1).rfind("  Not Capturing (WinPCap)", 0) == 0; }));
    Enter("tcp");
    EXPECT_EQ(Pane(1), "  Not Capturing (WinPCap) \u00b7 tcp");
    Enter("");
    EXPECT_EQ(Pane(1), "  Not Capturing (WinPCap)");
}

}  // namespace
