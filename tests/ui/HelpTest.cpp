// The help command and F1 open the user manual in the desktop's browser (from a build folder,
// the manual of its source tree); a manual that is not there, and a browser that cannot be
// started, are reported.
#include <QDesktopServices>
#include <QTest>
#include <QTextBrowser>
#include <fstream>

#include "WindowFixture.h"
#include "resources/Resources.h"

namespace {

class HelpTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        // The desktop's browser: it is handed every file the program asks the desktop to open.
        QDesktopServices::setUrlHandler("file", &browser, "setSource");
        QObject::connect(&browser, &QTextBrowser::sourceChanged,
                         [this](const QUrl& url) { opened.push_back(url.toLocalFile().toStdString()); });
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        AppMainWindow::SetInstalledHelpFile({});
        AppMainWindow::SetProgramFolder({});
        WindowFixture::TearDown();
    }

    // Settings without "installdir", and a program folder that is no build folder.
    void WithoutInstallFolder() {
        setenv("XDG_CONFIG_HOME", (folder_ / "bare").c_str(), 1);
        AppMainWindow::SetProgramFolder(folder_.string());
    }

    std::string WriteManual(const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder / "manual");
        const std::string path = (folder / res::kHelpFile).string();
        std::ofstream(path) << "<html><body><h1>Tidewatch</h1></body></html>\n";
        return path;
    }

    QTextBrowser browser;
    std::vector<std::string> opened;
};

TEST_F(HelpTest, HelpCommandAndF1OpenTheManualOfTheInstallFolderOnly) {
    AppMainWindow::SetInstalledHelpFile(WriteManual(folder_ / "installed"));
    CreateWindow();
    window->Command(res::kCmdHelp);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error opening help file.  File '" + Path(res::kHelpFile) + "' not found.");
    EXPECT_TRUE(opened.empty());

    const std::string manual = WriteManual(folder_);
    window->Command(res::kCmdHelp);
    QTest::keyClick(window->PacketList(), Qt::Key_F1);
    EXPECT_EQ(opened, std::vector<std::string>({manual, manual}));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(HelpTest, WithoutInstallFolderTheInstalledManualOpensOrIsReportedMissing) {
    const std::string installed = (folder_ / "installed" / res::kHelpFile).string();
    AppMainWindow::SetInstalledHelpFile(installed);
    WithoutInstallFolder();
    CreateWindow();
    window->Command(res::kCmdHelp);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error opening help file.  File '" + installed + "' not found.");
    EXPECT_TRUE(opened.empty());

    WriteManual(folder_ / "installed");
    window->Command(res::kCmdHelp);
    EXPECT_EQ(opened, std::vector<std::string>({installed}));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(HelpTest, FromABuildFolderTheSourceTreesManualOpensAndAMissingBrowserIsTold) {
    AppMainWindow::SetInstalledHelpFile((folder_ / "installed" / res::kHelpFile).string());
    WithoutInstallFolder();
    // A build folder names its source tree in its CMakeCache.txt; the program sits below it.
    const std::filesystem::path build = folder_ / "build";
    std::filesystem::create_directories(build / "bin");
    std::ofstream(build / "CMakeCache.txt")
        << "CMAKE_BUILD_TYPE:STRING=Release\nCMAKE_HOME_DIRECTORY:INTERNAL="
        << (folder_ / "source").string() << "\n";
    AppMainWindow::SetProgramFolder((build / "bin").string());
    const std::string manual = WriteManual(folder_ / "source" / "docs");
    CreateWindow();
    window->Command(res::kCmdHelp);
    EXPECT_EQ(opened, std::vector<std::string>({manual}));
    EXPECT_TRUE(boxes.empty());

    // A desktop that cannot show it: the handler has no such slot, as no browser can be run.
    QDesktopServices::setUrlHandler("file", &browser, "noSuchSlot");
    window->Command(res::kCmdHelp);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error opening help file.  No web browser could be started to show '" +
                                 manual + "'.");
}

}  // namespace
