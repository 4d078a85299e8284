// The window tests run on Qt's offscreen platform (unless told otherwise), each program with its
// own settings, state and working folders, like the other test programs.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    namespace fs = std::filesystem;
    fs::path home = fs::temp_directory_path() / ("tidewatch-ui-test-" + std::to_string(getpid()));
    fs::create_directories(home / "config");
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    fs::current_path(home);
    int result;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(home, ignored);
    return result;
}
