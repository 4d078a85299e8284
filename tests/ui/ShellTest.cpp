// The application shell and the framework classes: status bar layout, message boxes and the log,
// recent files, placement, the exit questions, settings, dialogs, and opening bad files.
#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <fstream>
#include <functional>
#include <random>
#include <tuple>

#include "WindowFixture.h"
#include "framework/gui/SplashDlg.h"
#include "framework/gui/StatusBar.h"
#include "resources/Resources.h"
#include "files/FileCommands.h"
#include "tests/support/NetNamespaces.h"
#include "ui/DemoCapture.h"

namespace {

using ShellTest = WindowFixture;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(ShellTest, StatusBarPanesShareTheWidthEqually) {
    QWidget parent;
    parent.resize(600, 40);
    StatusBar bar(&parent, 3);
    parent.show();
    bar.Handle()->setGeometry(0, 0, 600, bar.PreferredHeight());
    EXPECT_EQ(bar.PaneEdges(), (std::vector<int>{200, 400, 600}));
    bar.Handle()->resize(601, bar.PreferredHeight());
    EXPECT_EQ(bar.PaneEdges(), (std::vector<int>{200, 400, 601}));
    EXPECT_EQ(StatusBar::ComputePaneEdges(100, 3, 97), (std::vector<int>{33, 66, 97}));

    bar.SetPaneText(1, "  Capturing");
    EXPECT_EQ(bar.PaneText(1).toStdString(), "  Capturing");
    bar.ClearPaneText(1);
    EXPECT_TRUE(bar.PaneText(1).isEmpty());
    bar.SetPaneText(3, "nowhere");  // outside the panes: ignored
}

TEST_F(ShellTest, MessageBoxesLeaveTheirTextInTheLogByIcon) {
    CreateWindow();
    auto logged = [this](const char* text) {
        return ErrorLogText().find(text) != std::string::npos;
    };
    WriteRegString("log level", "3");
    ErrorLog::ResetForTesting();
    window->MessageBox("an error box", nullptr, kMbOk | kMbIconError);
    window->MessageBox("an information box", nullptr, kMbOk | kMbIconInformation);
    window->MessageBox("a warning box", nullptr, kMbOk | kMbIconExclamation);
    EXPECT_TRUE(logged("an error box"));
    EXPECT_FALSE(logged("an information box"));

    WriteRegString("log level", "2");
    ErrorLog::ResetForTesting();
    window->MessageBox("a second error box", nullptr, kMbOk | kMbIconError);
    EXPECT_FALSE(logged("a second error box"));  // so it was level 3

    WriteRegString("log level", "4");
    ErrorLog::ResetForTesting();
    window->MessageBox("a second information box", nullptr, kMbOk | kMbIconInformation);
    window->MessageBox("a question box", nullptr, kMbYesNo | kMbIconQuestion);
    EXPECT_TRUE(logged("a second information box"));
    EXPECT_TRUE(logged("a question box"));
    EXPECT_FALSE(logged("a warning box"));

    ASSERT_EQ(boxes.size(), 6u);
    EXPECT_EQ(boxes[0].caption, "Tidewatch");
    EXPECT_EQ(boxes[0].flags, kMbOk | kMbIconError);

    // Without a window nothing is shown and the answer is OK; the log still gets the text.
    Window none;
    answers.push_back(kIdNo);
    EXPECT_EQ(none.MessageBox("no window here", nullptr, kMbYesNo | kMbIconError), kIdOk);
    EXPECT_EQ(boxes.size(), 6u);
    EXPECT_TRUE(logged("no window here"));
}

TEST_F(ShellTest, RecentFilesKeepFourMostRecentFirst) {
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(WriteDemoCapture(Path("c" + std::to_string(i) + ".tdw").c_str()));
    CreateWindow();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(window->OpenByName(Path("c" + std::to_string(i) + ".tdw").c_str()));
    EXPECT_EQ(std::string(window->RecentFile(0)), Path("c4.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(3)), Path("c1.tdw"));

    // Reopening moves the entry to the front without a duplicate.
    window->Command(res::kCmdRecentFile1 + 2);  // c2
    EXPECT_EQ(std::string(window->RecentFile(0)), Path("c2.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(1)), Path("c4.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(2)), Path("c3.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(3)), Path("c1.tdw"));

    // The File menu: Open, Save, a separator, the four files, a separator, Exit.
    const QList<QAction*> items = window->FileMenu()->actions();
    ASSERT_EQ(items.size(), 9);
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text().toStdString(), "&1 " + Path("c2.tdw"));
    EXPECT_EQ(items[6]->text().toStdString(), "&4 " + Path("c1.tdw"));
    EXPECT_TRUE(items[7]->isSeparator());
    EXPECT_EQ(items[8]->text().toStdString(), "E&xit");

    // A recent file that fails to open leaves the list and the menu.
    std::filesystem::remove(Path("c4.tdw"));
    window->Command(res::kCmdRecentFile1 + 1);
    EXPECT_EQ(std::string(window->RecentFile(1)), Path("c3.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(3)), "");
    EXPECT_EQ(window->FileMenu()->actions().size(), 8);
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(),
              " Failed to load '" + Path("c4.tdw") + "'");

    // While busy a recent file is refused with the scan message.
    window->SetBusy(true);
    window->Command(res::kCmdRecentFile1 + 1);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "A scan is running. Please stop the scan before opening a file.");
    window->SetBusy(false);

    // Stored at the end; a deleted file is dropped at the next start.
    window->SetUnsaved(false);
    window.reset();
    std::filesystem::remove(Path("c3.tdw"));
    CreateWindow();
    EXPECT_EQ(std::string(window->RecentFile(0)), Path("c2.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(1)), Path("c1.tdw"));
    EXPECT_EQ(std::string(window->RecentFile(2)), "");
}

TEST_F(ShellTest, DroppedFilesOpenTheFirstUnlessBusy) {
    ASSERT_TRUE(WriteDemoCapture(Path("first.tdw").c_str()));
    ASSERT_TRUE(WriteDemoCapture(Path("second.tdw").c_str()));
    CreateWindow();
    window->SetBusy(true);
    window->DropFiles({QString::fromStdString(Path("first.tdw"))});
    EXPECT_TRUE(window->CurrentFile().Empty());
    window->SetBusy(false);
    window->DropFiles(
        {QString::fromStdString(Path("second.tdw")), QString::fromStdString(Path("first.tdw"))});
    EXPECT_STREQ(window->CurrentFile().c_str(), Path("second.tdw").c_str());
    EXPECT_STREQ(window->RecentFile(1), "");
}

TEST_F(ShellTest, ThePlacementStoredIsTheRestoredRectangle) {
    WriteRegNumber("WindowX", 40);
    WriteRegNumber("WindowY", 30);
    WriteRegNumber("WindowWidth", 700);
    WriteRegNumber("WindowHeight", 500);
    CreateWindow();
    EXPECT_EQ(window->MainWidget()->geometry(), QRect(40, 30, 700, 500));
    EXPECT_EQ(window->MainWidget()->minimumSize(), QSize(600, 450));
    window->MainWidget()->showMaximized();
    QApplication::processEvents();
    window->Command(res::kCmdExit);
    EXPECT_FALSE(window->MainWidget()->isVisible());
    EXPECT_EQ(ReadRegNumber("WindowX", 0), 40u);
    EXPECT_EQ(ReadRegNumber("WindowY", 0), 30u);
    EXPECT_EQ(ReadRegNumber("WindowWidth", 0), 700u);
    EXPECT_EQ(ReadRegNumber("WindowHeight", 0), 500u);
}

TEST_F(ShellTest, APlacementOffTheScreensOrOfNoSaneSizeComesBackOnOne) {
    CreateWindow();
    // Inside the frame, which must be on the screen too.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry().marginsRemoved(
        window->MainWidget()->windowHandle()->frameMargins());
    // Wholly right of the screen, and of no size: on the screen, the latter at the default size;
    // what is written back at exit is where the window was.
    const std::pair<QRect, QSize> cases[] = {
        {{screen.right() + 720, screen.y(), 700, 500}, {700, 500}},
        {{screen.x(), screen.y(), 0, -20}, QSize(800, 600).boundedTo(screen.size())}};
    for (const auto& [placement, size] : cases) {
        window.reset();
        StorePlacement(placement);
        CreateWindow();
        const QRect placed = window->MainWidget()->geometry();
        EXPECT_TRUE(screen.contains(placed));
        EXPECT_EQ(placed.size(), size);
        window->Command(res::kCmdExit);
        EXPECT_EQ(StoredPlacement(), placed);
    }

    // Two screens side by side: a window across both stays; one that shows too little, is too
    // large or is off both is made to fit the screen that holds most of it, or the nearest.
    const QList<QRect> screens = {{0, 0, 1280, 1024}, {1280, 0, 1920, 1080}};
    const std::pair<QRect, QRect> twoScreens[] = {
        {{1200, 100, 800, 600}, {1200, 100, 800, 600}},
        {{1250, 1050, 800, 600}, {1280, 480, 800, 600}},
        {{3500, 100, 800, 600}, {2400, 100, 800, 600}},
        {{1500, 50, 2500, 1200}, {1280, 0, 1920, 1080}},
        {{-900, 900, 800, 600}, {0, 424, 800, 600}},
    };
    for (const auto& [stored, expected] : twoScreens) {
        EXPECT_EQ(AppMainWindow::FitPlacement(stored, screens), expected);
    }
}

// A file opened over unsaved packets (Open, a drop, a recent file) asks Exit's save question
// first: Cancel keeps every packet, No replaces them, Yes saves them and then opens. Whatever
// opened it, the file's capture has nothing to save.
TEST_F(ShellTest, OpeningOverUnsavedPacketsAsksToSaveThemFirst) {
    ASSERT_TRUE(WriteDemoCapture(Path("demo.tdw").c_str()));
    WriteOwnFrames(Path("three.tdw"), 3);
    CreateWindow();
    const int demo = static_cast<int>(DemoFrames().size());
    // The recent-file entry of three.tdw wherever it is in the list now.
    auto recentThree = [&] {
        for (int slot = 0; slot < AppMainWindow::kRecentFiles; ++slot) {
            if (window->RecentFile(slot) == Path("three.tdw")) return res::kCmdRecentFile1 + slot;
        }
        return 0;
    };
    ASSERT_TRUE(window->OpenByName(Path("three.tdw").c_str()));
    const std::function<void()> opens[] = {
        [&] { window->Command(res::kCmdOpen); },
        [&] { window->DropFiles({QString::fromStdString(Path("three.tdw"))}); },
        [&] { window->Command(recentThree()); }};
    for (size_t way = 0; way < std::size(opens); ++way) {
        for (const int answer : {kIdCancel, kIdNo, kIdYes}) {
            SCOPED_TRACE(::testing::Message() << "way " << way << " answer " << answer);
            ASSERT_TRUE(window->OpenByName(Path("demo.tdw").c_str()));  // the command line
            window->SetUnsaved(true);
            boxes.clear();
            answers = {answer};
            const std::string saved = Path("saved" + std::to_string(way) + ".tdw");
            paths.clear();
            if (way == 0) paths.push_back(Path("three.tdw"));  // the open dialog
            paths.push_back(saved);                            // the save dialog
            opens[way]();
            Settle();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, kSaveBeforeOpenQuestion);
            EXPECT_EQ(boxes[0].flags, kMbYesNoCancel | kMbIconQuestion);
            EXPECT_EQ(window->Model()->Rows(), answer == kIdCancel ? demo : 3);
            EXPECT_EQ(window->Unsaved(), answer == kIdCancel);
            EXPECT_EQ(std::filesystem::exists(saved), answer == kIdYes);
        }
    }
    // With no packets to lose, nothing is asked.
    boxes.clear();
    window->DropFiles({QString::fromStdString(Path("demo.tdw"))});
    EXPECT_TRUE(boxes.empty());
}

// Open, a drop or a recent file during a capture asks Exit's stop question first. No keeps the capture running; Yes and
// then Cancel keeps it too (it runs again); Yes and then No stops it, opens the file and leaves
// the window as the Stop command does.
TEST_F(ShellTest, OpeningDuringACaptureAsksToStopItFirst) {
    WriteOwnFrames(Path("three.tdw"), 3);
    CreateWindow();
    window->Command(res::kCmdStartCapture);
    const std::string abort = kAbortCaptureForOpenQuestion, save = kSaveBeforeOpenQuestion;
    const struct {
        std::deque<int> answers;
        std::vector<std::string> asked;
        bool opened;
    } cases[] = {{{kIdNo}, {abort}, false},
                 {{kIdYes, kIdCancel}, {abort, save}, false},
                 {{kIdYes, kIdNo}, {abort, save}, true}};
    // The Open command, a dropped file and a recent file alike.
    window->AddRecentFile(Path("three.tdw").c_str());
    const std::function<void()> opens[] = {
        [&] { window->Command(res::kCmdOpen); },
        [&] { window->DropFiles({QString::fromStdString(Path("three.tdw"))}); },
        [&] { window->Command(res::kCmdRecentFile1); }};
    for (size_t way = 0; way < std::size(opens); ++way) {
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << "way " << way << " answers " << c.answers.size()
                                              << c.answers.back());
            if (!IsCapturing()) {
                window->Command(res::kCmdClear);  // the file the last case opened
                window->Command(res::kCmdStartCapture);
            }
            window->SetUnsaved(true);
            boxes.clear();
            answers = c.answers;
            paths = {Path("three.tdw")};
            opens[way]();
            Settle();
            std::vector<std::string> asked;
            for (const ShownBox& box : boxes) asked.push_back(box.text);
            EXPECT_EQ(asked, c.asked);
            EXPECT_EQ(IsCapturing() != 0, !c.opened);
            EXPECT_EQ(ShowsStopped(), c.opened);
            EXPECT_EQ(window->Model()->Rows(), c.opened ? 3 : 0);
        }
    }
}

TEST_F(ShellTest, ExitAsksAboutTheCaptureThenAboutSaving) {
    CreateWindow();
    window->SetUnsaved(true);
    window->Command(res::kCmdStartCapture);
    QMainWindow* shell = window->MainWidget();

    // Cancel at the first question keeps the window and the capture.
    answers = {kIdCancel};
    window->Command(res::kCmdExit);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure you want to exit and abort the running capture session?");
    EXPECT_EQ(boxes[0].flags, kMbYesNoCancel | kMbIconQuestion);
    EXPECT_TRUE(shell->isVisible());
    EXPECT_TRUE(IsCapturing());

    // Yes, then Cancel at the save question: the capture is stopped, the window stays and
    // shows it as the Stop command does.
    answers = {kIdYes, kIdCancel};
    window->Command(res::kCmdExit);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].text,
              "The capture has not been saved. Do you want to save the capture before exiting?");
    EXPECT_FALSE(IsCapturing());
    EXPECT_TRUE(shell->isVisible());
    EXPECT_TRUE(ShowsStopped());
    EXPECT_EQ(Pane(0), "Packet capture stopped.");

    // Yes to saving, with the save dialog cancelled: the window stays.
    answers = {kIdYes};
    window->Command(res::kCmdExit);
    EXPECT_EQ(boxes.size(), 4u);
    EXPECT_TRUE(shell->isVisible());

    // Yes to saving into a file: written, then the window closes.
    answers = {kIdYes};
    paths = {Path("saved.tdw")};
    window->Command(res::kCmdExit);
    EXPECT_TRUE(std::filesystem::exists(Path("saved.tdw")));
    EXPECT_FALSE(shell->isVisible());
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests.back().save);
    ASSERT_EQ(requests.back().filterCount, 3u);
    EXPECT_STREQ(requests.back().filters[0].text, "Tidewatch Capture Files (*.tdw)");
}

TEST_F(ShellTest, ExitWithNothingToAskClosesAtOnce) {
    CreateWindow();
    window->SetUnsaved(true);
    answers = {kIdNo};
    window->Command(res::kCmdExit);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "The capture has not been saved. Do you want to save the capture before exiting?");
    EXPECT_FALSE(window->MainWidget()->isVisible());
}

TEST_F(ShellTest, OpenFailuresShowTheParsingErrorBox) {
    CreateWindow();
    WriteFile(Path("empty.pcap"), "");
    paths = {Path("empty.pcap")};
    window->Command(res::kCmdOpen);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "File parsing error. The File could not be opened.");
    EXPECT_EQ(boxes[0].flags, kMbOk | kMbIconExclamation);
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(),
              " Failed to load '" + Path("empty.pcap") + "'");
    EXPECT_EQ(ErrorLogText().find("Failed to load") != std::string::npos, true);
    EXPECT_EQ(window->Model()->Rows(), 0);
    EXPECT_EQ(window->GetStatusBar()->PaneText(2).toStdString(), "  0 / 65536");
}

TEST_F(ShellTest, SkippedFramesAreToldInPaneZeroAndTheLog) {
    CreateWindow();
    // A Linux cooked capture whose two ARP frames are not stored.
    paths = {std::string(TW_SOURCE_DIR) + "/tests/files/data/cooked.pcap"};
    window->Command(res::kCmdOpen);
    const std::string text = "2 frames of link types Tidewatch does not decode were skipped";
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(), "  " + text);
    EXPECT_NE(ErrorLogText().find(text), std::string::npos);
}

TEST_F(ShellTest, BadFilesShowTheErrorOrThePartialCapture) {
    CreateWindow();
    std::vector<std::string> files;
    // The file fuzzer's seeds: the first byte chooses the extension, the rest is the file.
    const std::filesystem::path seeds = std::filesystem::path(TW_SOURCE_DIR) / "fuzz/corpus/files";
    if (std::filesystem::is_directory(seeds)) {
        for (const auto& entry : std::filesystem::directory_iterator(seeds)) {
            std::ifstream seed(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(seed)), {});
            if (bytes.empty()) continue;
            static const char* const kExtensions[] = {".tdw", ".cap", ".pcap"};
            const std::string path = Path("seed-" + entry.path().filename().string() +
                                          kExtensions[static_cast<uint8_t>(bytes[0]) % 3]);
            WriteFile(path, bytes.substr(1));
            files.push_back(path);
        }
    }
    // A capture cut off in the middle of a frame, and noise under each extension.
    ASSERT_TRUE(WriteDemoCapture(Path("whole.tdw").c_str()));
    std::ifstream whole(Path("whole.tdw"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(whole)), {});
    WriteFile(Path("truncated.tdw"), bytes.substr(0, bytes.size() / 2 + 7));
    files.push_back(Path("truncated.tdw"));
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    for (const char* extension : {".tdw", ".cap", ".pcap"}) {
        WriteFile(Path(std::string("random") + extension), noise);
        files.push_back(Path(std::string("random") + extension));
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        boxes.clear();
        paths = {file};
        window->Command(res::kCmdOpen);
        Settle();
        const int stored = GetPacketStore().Count();
        EXPECT_EQ(window->Model()->Rows(), stored);
        if (!boxes.empty()) {
            EXPECT_EQ(boxes.back().text, "File parsing error. The File could not be opened.");
        } else {
            EXPECT_STREQ(window->CurrentFile().c_str(), file.c_str());
        }
        // Every stored packet can be shown.
        for (int row = 0; row < window->Model()->Rows(); ++row) window->ShowPacket(row);
    }
    // The truncated capture keeps the frames before the cut.
    paths = {Path("truncated.tdw")};
    boxes.clear();
    window->Command(res::kCmdOpen);
    Settle();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_GT(window->Model()->Rows(), 5);
    EXPECT_LT(window->Model()->Rows(), static_cast<int>(DemoFrames().size()));
}

TEST_F(ShellTest, AFailedOpenNamesItsReasonInTheLog) {
    CreateWindow();
    ASSERT_TRUE(WriteDemoCapture(Path("cut.tdw").c_str()));
    const auto size = std::filesystem::file_size(Path("cut.tdw"));
    std::filesystem::resize_file(Path("cut.tdw"), size / 2 + 7);  // inside a record
    WriteFile(Path("text.pcap"), std::string(200, 'x'));
    WriteFile(Path("empty.cap"), "");
    std::filesystem::create_directory(Path("folder.tdw"));
    const std::pair<const char*, const char*> cases[] = {
        {"missing.tdw", "No such file or directory"}, {"folder.tdw", "Is a directory"},
        {"text.pcap", "the file is not a capture file"}, {"empty.cap", "the file is empty"},
        {"cut.tdw", "the file is cut short"}};
    for (const auto& [name, reason] : cases) {
        boxes.clear();
        paths = {Path(name)};
        window->Command(res::kCmdOpen);
        ASSERT_EQ(boxes.size(), 1u) << name;
        EXPECT_EQ(boxes[0].text, kFileParsingError);
        EXPECT_NE(ErrorLogText().find("'" + Path(name) + "': " + reason), std::string::npos);
    }
}

TEST_F(ShellTest, SettingsAreRestoredAndStored) {
    WriteRegNumber("AutoScroll", 1);
    WriteRegNumber("CaptureMethod", 7);
    WriteRegNumber("AutoStart", 1);
    WriteRegString("Font", "Noto Mono");
    CreateWindow();
    EXPECT_TRUE(window->AutoScroll());
    EXPECT_FALSE(IsCapturing());
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdAutoStart));
    const QFont font = window->DetailPane()->font();
    EXPECT_EQ(font.family().toStdString(), "Noto Mono");
    const QFont standard = DefaultFixedFont();
    EXPECT_EQ(font.pointSizeF(), standard.pointSizeF());
    EXPECT_EQ(font.pixelSize(), standard.pixelSize());
    EXPECT_EQ(window->PacketList()->font().family().toStdString(), "Noto Mono");
    window->Command(res::kCmdAutoScroll);
    window.reset();
    EXPECT_EQ(ReadRegNumber("CaptureMethod", 0), 1u);
    EXPECT_EQ(ReadRegNumber("AutoScroll", 9), 0u);

    // A valid method with "AutoStart" starts capturing at once.
    WriteRegNumber("CaptureMethod", 2);
    WriteRegString("Font", "DejaVu Sans Mono,-15");
    CreateWindow();
    EXPECT_TRUE(IsCapturing());
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoStart));
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(), " Ready");
    EXPECT_FALSE(window->GetToolBar()->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_TRUE(window->GetToolBar()->IsButtonEnabled(res::kCmdStopCapture));
    EXPECT_EQ(window->DetailPane()->font().pixelSize(), 15);

    // The option is written at once, each time it is chosen from the menu.
    window->MenuAction(res::kCmdAutoStart)->trigger();
    EXPECT_EQ(ReadRegNumber("AutoStart", 9), 0u);
    EXPECT_FALSE(window->IsMenuItemChecked(res::kCmdAutoStart));
    window->MenuAction(res::kCmdAutoStart)->trigger();
    EXPECT_EQ(ReadRegNumber("AutoStart", 9), 1u);
    EXPECT_TRUE(window->IsMenuItemChecked(res::kCmdAutoStart));
}

TEST_F(ShellTest, AChosenFontIsStoredAsFaceAndHeight) {
    CreateWindow();
    SetFontDialogHook([](QFont& font) {
        font = QFont("Noto Mono");
        font.setPixelSize(13);
        return true;
    });
    window->Command(res::kCmdFont);
    AppRegKey key;
    str stored;
    key.GetString("Font", stored, "");
    EXPECT_STREQ(stored.c_str(), "Noto Mono,-13");
    EXPECT_EQ(window->PacketList()->font().pixelSize(), 13);

    SetFontDialogHook([](QFont&) { return false; });
    EXPECT_FALSE(window->ChooseFont());
    key.GetString("Font", stored, "");
    EXPECT_STREQ(stored.c_str(), "Noto Mono,-13");
}

TEST_F(ShellTest, TheFontDialogOpensOnTheFontInUseAndTheChoiceComesBackWhole) {
    auto whole = [](const QFont& font) {
        return std::tuple(font.family().toStdString(), font.pointSizeF(), font.weight(),
                          font.italic());
    };
    const QFont chosen("DejaVu Sans Mono", 11, QFont::Bold, true);
    std::vector<QFont> offered;
    SetFontDialogHook([&](QFont& font) {
        offered.push_back(font);
        font = chosen;
        return true;
    });
    CreateWindow();
    window->Command(res::kCmdFont);
    window.reset();
    CreateWindow();
    EXPECT_EQ(whole(window->PacketList()->font()), whole(chosen));
    EXPECT_EQ(whole(window->DetailPane()->font()), whole(chosen));
    window->Command(res::kCmdFont);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(whole(offered[0]), whole(DefaultFixedFont()));
    EXPECT_EQ(whole(offered[1]), whole(chosen));
}

TEST_F(ShellTest, CaptureCommandsSetStatusAndToolBar) {
    CreateWindow();
    ToolBar* tools = window->GetToolBar();
    EXPECT_EQ(tools->ButtonCount(), 5);
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdOpen));
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_FALSE(tools->IsButtonEnabled(res::kCmdStopCapture));
    EXPECT_EQ(tools->Button(res::kCmdOpen)->toolTip().toStdString(),
              "Open A Saved Capture (Ctrl+O)");
    EXPECT_EQ(tools->Button(res::kCmdSave)->toolTip().toStdString(),
              "Save The Current Capture (Ctrl+S)");

    QTest::keyClick(window->PacketList(), Qt::Key_F5);
    EXPECT_TRUE(IsCapturing());
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(), "Packet Capture Initiated");
    EXPECT_FALSE(tools->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdStopCapture));
    EXPECT_TRUE(window->IsBusy());

    tools->Button(res::kCmdStopCapture)->trigger();
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(window->GetStatusBar()->PaneText(0).toStdString(), "Packet capture stopped.");
    EXPECT_TRUE(tools->IsButtonEnabled(res::kCmdStartCapture));
    EXPECT_FALSE(window->IsBusy());

    // Start is refused while a file is read.
    captureAllowed.store(0);
    window->Command(res::kCmdStartCapture);
    captureAllowed.store(1);
    EXPECT_FALSE(IsCapturing());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot capture at the moment. Please wait.");
    EXPECT_EQ(boxes[0].flags, static_cast<unsigned>(kMbOk));
}

TEST_F(ShellTest, ClearEmptiesListPaneAndStore) {
    ASSERT_TRUE(WriteDemoCapture(Path("demo.tdw").c_str()));
    CreateWindow();
    ASSERT_TRUE(window->OpenByName(Path("demo.tdw").c_str()));
    Settle();
    window->PacketList()->selectRow(3);
    ASSERT_GT(window->DetailPane()->topLevelItemCount(), 0);
    QTest::keyClick(window->PacketList(), Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(window->Model()->Rows(), 0);
    EXPECT_EQ(window->DetailPane()->topLevelItemCount(), 0);
    EXPECT_EQ(GetPacketStore().Count(), 0);
    EXPECT_FALSE(window->Unsaved());
    EXPECT_EQ(window->MainWidget()->windowTitle().toStdString(), "Tidewatch");
}

TEST_F(ShellTest, TheAdministratorWarningIsShownOnceAtStart) {
    VizirMainWindow::SetAdministratorCheck([] { return 0; });
    CreateWindow();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "You are not currently running as a local administrator on this machine.  "
              "Tidewatch requires administrative privileges in order to capture network "
              "traffic.  Please restart and try again.");
    EXPECT_EQ(boxes[0].flags, kMbOk | kMbIconExclamation);
    EXPECT_TRUE(window->MainWidget()->isVisible());
}

TEST_F(ShellTest, SplashAndAboutShowTheVersion) {
    const VersionInfo& version = ModuleVersion();
    EXPECT_STREQ(version.productName.c_str(), "Tidewatch");
    str line;
    SplashDlg::VersionLine(version, line);
    EXPECT_EQ(std::string(line.c_str()).rfind("Version " + std::string(version.version.c_str()) +
                                                  " - ( ",
                                              0),
              0u);
    EXPECT_EQ(line.c_str()[line.Length() - 1], ')');

    // The splash ends itself by its timer.
    SplashDlg splash;
    QElapsedTimer clock;
    clock.start();
    Dialog::SetRunHook([&clock](Dialog& dialog) {
        str version;
        dialog.GetItemText(res::kIdSplashVersion, version);
        EXPECT_EQ(std::string(version.c_str()).rfind("Version ", 0), 0u);
        while (dialog.IsRunning() && clock.elapsed() < 6000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            if (clock.elapsed() > SplashDlg::kShowMilliseconds + 500) break;
        }
    });
    EXPECT_EQ(splash.Run(nullptr), kIdOk);
    EXPECT_GE(clock.elapsed(), SplashDlg::kShowMilliseconds - 50);

    // About: "System &Info" shows the system's information; OK closes.
    CreateWindow();
    Dialog::SetRunHook([](Dialog& dialog) {
        str text;
        dialog.GetItemText(res::kIdAboutVersion, text);
        EXPECT_STREQ(text.c_str(), ("Version " + std::string(ModuleVersion().version.c_str())).c_str());
        dialog.Press(res::kIdSystemInfo);
        dialog.Press(kIdOk);
    });
    window->Command(res::kCmdAbout);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Qt: "), std::string::npos);
    EXPECT_NE(boxes[0].text.find("Capture rights: "), std::string::npos);
}

// Run by a user without capture rights, in a network namespace of the test's own: Start leaves
// the window stopped with the reason in pane 0, and a recent file opens at once. As root the
// test runs itself again that way (no capabilities, no new privileges, user nobody).
using UnprivilegedWindow = WindowFixture;

TEST_F(UnprivilegedWindow, StartSaysWhyItCannotCaptureAndARecentFileStillOpens) {
    const char* device = std::getenv("TW_UNPRIVILEGED_DEVICE");
    if (geteuid() == 0) {
        if (device) GTEST_SKIP() << "the child must not run as root";
        for (const char* tool : {"ip", "setpriv"}) {
            if (!filetest::HaveTool(tool)) GTEST_SKIP() << "missing program " << tool;
        }
        netns::NamespacePair net("u" + std::to_string(getpid() % 100000));
        std::string error;
        if (!net.Add(&error)) GTEST_SKIP() << "cannot create network namespaces: " << error;
        ASSERT_TRUE(net.Connect({"10.215.0.1", "10.215.0.2", 24, "", "", "", ""}, &error)) << error;
        std::string output;
        const int status = netns::Shell(
            "ip netns exec " + net.a + " env HOME=/tmp TW_UNPRIVILEGED_DEVICE=" + net.ifA +
                " setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all "
                "--bounding-set=-all --no-new-privs /proc/" + std::to_string(getpid()) +
                "/exe --gtest_filter=UnprivilegedWindow.*",
            &output);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        return;
    }
    ASSERT_TRUE(WriteDemoCapture(Path("demo.tdw").c_str()));
    VizirMainWindow::SetCaptureDriversOverride(nullptr);
    WriteRegNumber("CaptureMethod", 3);
    WriteRegString("CaptureDevice", device ? device : "lo");
    CreateWindow();
    ASSERT_TRUE(window->OpenByName(Path("demo.tdw").c_str()));
    window->Command(res::kCmdStartCapture);
    ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(); }));
    EXPECT_FALSE(IsCapturing());
    EXPECT_EQ(Pane(0),
              "  Capture could not start: no capture rights for WinPCap (see the manual, "
              "Capturing without root)");
    ASSERT_TRUE(WaitUntil([&] { return Pane(1) == "  Not Capturing (WinPCap)"; }));

    boxes.clear();
    window->Command(res::kCmdRecentFile1);
    Settle();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(window->Model()->Rows(), static_cast<int>(DemoFrames().size()));
}

}  // namespace
