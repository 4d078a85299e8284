// Points the settings store at an empty folder of the calling test's own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testing_support {

inline std::filesystem::path UseFreshSettingsFolder() {
    static int counter = 0;
    std::filesystem::path folder =
        std::filesystem::current_path() / ("settings-" + std::to_string(++counter));
    std::filesystem::create_directories(folder);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    return folder;
}

}  // namespace testing_support
