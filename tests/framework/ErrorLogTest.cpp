#include "framework/ErrorLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/FreshSettings.h"
#include "framework/Registry.h"

namespace fs = std::filesystem;

namespace {

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        logDir_ = testing_support::UseFreshSettingsFolder() / "install";
        fs::create_directories(logDir_);
        ASSERT_TRUE(WriteRegString("installdir", logDir_.c_str()));
        ErrorLog::ResetForTesting();
        ErrorLog::SetDebugOutput([this](const char* text) { debug_.emplace_back(text); });
    }

    void TearDown() override {
        ErrorLog::SetDebugOutput(nullptr);
        ErrorLog::SetCriticalHook(nullptr);
        ErrorLog::ResetForTesting();
    }

    // Starts over with the given "log level" text (null: none stored).
    void UseLogLevel(const char* text) {
        if (text) {
            ASSERT_TRUE(WriteRegString("log level", text));
        }
        ErrorLog::ResetForTesting();
    }

    std::vector<std::string> FileLines() const { return LinesOf(logDir_ / "error.log"); }

    static std::vector<std::string> LinesOf(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> lines;
        std::string all = text.str();
        for (size_t start = 0; start < all.size();) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size() - 1;
            lines.push_back(all.substr(start, end + 1 - start));
            start = end + 1;
        }
        return lines;
    }

    static std::string DebugLine(const char* source, int line, const std::string& message) {
        char tid[32];
        std::snprintf(tid, sizeof tid, "0x%x", static_cast<unsigned>(gettid()));
        return std::string("### tid:") + tid + " " + source + "(" + std::to_string(line) +
               ") : " + message + "\r\n";
    }

    // The message of a file line, or "<bad line>" when the line is not shaped as a log line.
    static std::string MessageOf(const std::string& line) {
        const char* shape = "^[0-9]{2} [A-Za-z]{3} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}"
                            "( : Thread 0x[0-9a-f]{8})? : .*\n$";
        if (!::testing::Value(line, ::testing::MatchesRegex(shape))) return "<bad line>";
        constexpr size_t kDateTime = 20, kThread = 20, kSeparator = 3;
        bool thread = line.compare(kDateTime, 10, " : Thread ") == 0;
        size_t start = kDateTime + (thread ? kThread : 0) + kSeparator;
        return line.substr(start, line.size() - 1 - start);
    }

    fs::path logDir_;
    std::vector<std::string> debug_;
};

TEST_F(ErrorLogTest, DefaultThresholdWritesErrorsButNotWarnings) {
    Report(nullptr, 0, "warned", 4);
    EXPECT_EQ(debug_, std::vector<std::string>{DebugLine("(null)", 0, "warned")});
    EXPECT_FALSE(fs::exists(logDir_ / "error.log"));

    Report("capture.cpp", 12, "failed", 3);
    ASSERT_EQ(debug_.size(), 2u);
    EXPECT_EQ(debug_[1], DebugLine("capture.cpp", 12, "failed"));
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "failed");
    EXPECT_EQ(lines[0].find("Thread"), std::string::npos);
}

TEST_F(ErrorLogTest, LogLevelSettingParsing) {
    // A report is written when its level is at or below the threshold.
    struct Case {
        const char* setting;
        int threshold;
    };
    for (Case c : {Case{"7", 3}, Case{"-1", 3}, Case{"abc", 0}, Case{"0", 0}, Case{"6", 6},
                   Case{"5 and more", 5}, Case{"99999999999999999999", 3}}) {
        SCOPED_TRACE(c.setting);
        fs::remove(logDir_ / "error.log");
        UseLogLevel(c.setting);
        for (int level = 0; level <= 7; ++level) {
            Report(nullptr, 0, ("level " + std::to_string(level)).c_str(), level);
        }
        std::vector<std::string> lines = FileLines();
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.threshold + 1));
        EXPECT_EQ(MessageOf(lines.back()), "level " + std::to_string(c.threshold));
    }
}

TEST_F(ErrorLogTest, ThreadColumnFromThresholdFour) {
    UseLogLevel("4");
    Report(nullptr, 0, "with thread", 4);
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "with thread");
    char column[40];
    std::snprintf(column, sizeof column, " : Thread 0x%08x : ", static_cast<unsigned>(gettid()));
    EXPECT_NE(lines[0].find(column), std::string::npos) << lines[0];
}

TEST_F(ErrorLogTest, LevelSixGoesOnlyToTheFile) {
    UseLogLevel("6");
    Report(nullptr, 0, "quiet", 6);
    Report(nullptr, 0, "heard", 5);
    EXPECT_EQ(debug_, std::vector<std::string>{DebugLine("(null)", 0, "heard")});
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[0]), "quiet");
}

TEST_F(ErrorLogTest, PercentSignsPassUnchanged) {
    const char* message = "100% done %s %n %d %%";
    Report(nullptr, 0, message, 3);
    EXPECT_EQ(debug_, std::vector<std::string>{DebugLine("(null)", 0, message)});
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), message);
}

TEST_F(ErrorLogTest, PathFromSettingOrTheStateFolderReadOnce) {
    Report(nullptr, 0, "first", 3);
    fs::path other = logDir_.parent_path() / "other";
    fs::create_directories(other);
    ASSERT_TRUE(WriteRegString("installdir", other.c_str()));
    Report(nullptr, 0, "second", 3);  // path is kept until the next start
    EXPECT_EQ(FileLines().size(), 2u);
    EXPECT_FALSE(fs::exists(other / "error.log"));

    // No installdir: the user's state folder, made when missing; never the current directory.
    testing_support::UseFreshSettingsFolder();
    const fs::path saved = fs::current_path(), cwd = logDir_.parent_path() / "cwd";
    const fs::path state = logDir_.parent_path() / "state", home = logDir_.parent_path() / "home";
    const std::string savedState = std::getenv("XDG_STATE_HOME");  // the test program's own
    const char* savedHome = std::getenv("HOME");
    const std::string savedHomeText = savedHome ? savedHome : "";
    fs::create_directories(cwd);
    fs::current_path(cwd);
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    ErrorLog::ResetForTesting();
    Report(nullptr, 0, "third", 3);
    setenv("XDG_STATE_HOME", "relative", 1);  // taken as not set: below the home folder
    setenv("HOME", home.c_str(), 1);
    ErrorLog::ResetForTesting();
    Report(nullptr, 0, "fourth", 3);
    fs::current_path(saved);
    setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    if (savedHome) setenv("HOME", savedHomeText.c_str(), 1);
    EXPECT_EQ(LinesOf(state / "tidecraft/error.log").size(), 1u);
    EXPECT_EQ(LinesOf(home / ".local/state/tidecraft/error.log").size(), 1u);
    EXPECT_TRUE(fs::is_empty(cwd));
}

TEST_F(ErrorLogTest, TheFileIsPrivateOneLineAReportAndNeverALink) {
    Report(nullptr, 0, "a\nForged line\r\x1b[2J\tend\x7f", 3);
    ReportSystemError(nullptr, 0, "open failed", 3, ENOENT);
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[0]), "a\\nForged line\\r\\x1b[2J\\tend\\x7f");
    EXPECT_EQ(MessageOf(lines[1]), std::string("open failed\\n\\t0x2: ") + std::strerror(ENOENT));
    struct stat info {};
    ASSERT_EQ(stat((logDir_ / "error.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A link planted where the log goes is not followed.
    const fs::path elsewhere = logDir_.parent_path() / "elsewhere";
    fs::remove(logDir_ / "error.log");
    fs::create_symlink(elsewhere, logDir_ / "error.log");
    Report(nullptr, 0, "not through the link", 3);
    EXPECT_FALSE(fs::exists(elsewhere));

    // An empty "installdir" names no folder: the state folder, not "/error.log".
    const fs::path state = logDir_.parent_path() / "state";
    const std::string savedState = std::getenv("XDG_STATE_HOME");
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    ASSERT_TRUE(WriteRegString("installdir", ""));
    ErrorLog::ResetForTesting();
    Report(nullptr, 0, "to the state folder", 3);
    setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    EXPECT_EQ(LinesOf(state / "tidecraft/error.log").size(), 1u);
}

TEST_F(ErrorLogTest, CriticalReportCallsHookAndSurvivesWithoutDebugger) {
    std::vector<std::string> shown;
    ErrorLog::SetCriticalHook([&](const char* text) {
        shown.emplace_back(text);
        Report(nullptr, 0, "box shown", 3);  // whatever the box does may report again
    });
    Report(nullptr, 0, "fatal", 1);
    EXPECT_EQ(shown, std::vector<std::string>{DebugLine("(null)", 0, "fatal")});
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[1]), "fatal");
}

TEST_F(ErrorLogTest, SystemErrorText) {
    ReportSystemError(nullptr, 0, "open failed", 3, ENOENT);
    ReportSystemError(nullptr, 0, "socket failed", 3, 0xdeadbeef);
    ASSERT_EQ(debug_.size(), 2u);
    EXPECT_EQ(debug_[0],
              DebugLine("(null)", 0, std::string("open failed\n\t0x2: ") + std::strerror(ENOENT)));
    EXPECT_EQ(debug_[1], DebugLine("(null)", 0, "socket failed\n\tError code 0xdeadbeef"));

    ReportSystemError(nullptr, 0, std::string(5000, 'a').c_str(), 3, 0xdeadbeef);
    std::string all;
    for (const std::string& line : FileLines()) all += line;
    EXPECT_NE(all.find(" : " + std::string(4095, 'a') + "\n"), std::string::npos);
    EXPECT_EQ(all.find(std::string(4096, 'a')), std::string::npos);
}

TEST_F(ErrorLogTest, ReportsFromManyThreadsNeverOverlap) {
    UseLogLevel("4");
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    ErrorLog::SetDebugOutput([&](const char*) {
        if (inside.fetch_add(1) != 0) overlapped = true;
        std::this_thread::yield();
        inside.fetch_sub(1);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                Report(nullptr, 0, ("thread " + std::to_string(t)).c_str(), 3);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(overlapped);
    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 200u);
    for (const std::string& line : lines) {
        ASSERT_EQ(MessageOf(line).rfind("thread ", 0), 0u) << line;
    }
}

}  // namespace
