// Every test program runs with its own settings, state and working folders, so that no test
// reads or writes the user's settings or error.log or leaves one in the source tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    fs::path home = fs::temp_directory_path() / ("tidewatch-test-" + std::to_string(getpid()));
    fs::create_directories(home / "config");
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    fs::current_path(home);
    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return result;
}
