// The capture filter on the command line: --check-filter agrees with the library's verdict for
// the method's frames, and --capture refuses an expression that does not compile, given or
// stored, before it opens or creates anything.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/CaptureFilter.h"
#include "framework/Registry.h"
#include "tests/app/DescribeRun.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string lastError;  // the last line on standard error
};

// The program with settings of the test's own; the test's settings folder is put back after.
class FilterOptions : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::getenv("XDG_CONFIG_HOME");
        dir_ = fs::current_path() / ("filter-options-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
        fs::remove_all(dir_);
    }

    static Outcome Tidewatch(std::vector<std::string> args) {
        args.insert(args.begin(), TW_TIDEWATCH);
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(fileno(out), 1);
            dup2(fileno(err), 2);
            std::vector<char*> argv;
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = -1;
        waitpid(pid, &status, 0);
        Outcome run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = describetest::Slurp(out);
        std::string text = describetest::Slurp(err);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        run.lastError = text.substr(text.rfind('\n') + 1);
        return run;
    }

    std::string saved_;
    fs::path dir_;
};

TEST_F(FilterOptions, CheckFilterGivesTheLibrarysVerdictForTheMethod) {
    // The stored method serves when none is given; link-layer words do not compile for method
    // 1's datagrams.
    ASSERT_TRUE(WriteRegNumber("CaptureMethod", 3));
    struct Case {
        std::string expression;
        std::string method;  // empty: the stored one
        bool valid;
    };
    const std::vector<Case> cases = {
        {"udp port 53", "", true},
        {"tcp port", "", false},
        {"host 999.1.1.1", "2", false},
        {std::string(10000, '('), "", false},
        {"ip6", "1", CaptureFilter::Check("ip6", 1).empty()},
        {"ether broadcast", "", true},
        {"ether broadcast", "1", false},
        {"", "1", true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--check-filter", c.expression};
        if (!c.method.empty()) args.insert(args.end(), {"--method", c.method});
        const Outcome run = Tidewatch(args);
        const std::string error =
            CaptureFilter::Check(c.expression, c.method.empty() ? 3 : std::stoi(c.method));
        SCOPED_TRACE(c.expression.substr(0, 40) + " method " + c.method);
        EXPECT_EQ(error.empty(), c.valid) << error;
        EXPECT_EQ(run.status, c.valid ? 0 : 2);
        EXPECT_EQ(run.out, c.valid ? "valid\n" : "");
        if (!c.valid) {
            EXPECT_EQ(run.lastError, "tidewatch: " + error);
        }
    }
}

TEST_F(FilterOptions, CaptureRefusesABadFilterBeforeOpeningAnything) {
    // The device does not exist and the output is never created: the filter is looked at first.
    const std::string output = (dir_ / "never.tdw").string();
    const std::vector<std::string> capture = {"--capture", "--device", "no-such-device",
                                              "--write", output};
    struct Case {
        std::string given;  // --filter's value
        std::string stored;
        const char* origin;  // what the message says besides the expression, or null: no refusal
    };
    const std::vector<Case> cases = {
        {"tcp port", "", ""},
        {"tcp port", "udp", ""},
        {"", "tcp port", nullptr},  // given empty: no filter, whatever is stored
        {"-", "tcp port", " (the stored setting \"CaptureFilter\")"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteRegString(CaptureFilter::kSetting, c.stored.c_str()));
        std::vector<std::string> args = capture;
        if (c.given != "-") args.insert(args.end(), {"--filter", c.given});
        const Outcome run = Tidewatch(args);
        const std::string& expression = c.given == "-" ? c.stored : c.given;
        SCOPED_TRACE("given '" + c.given + "' stored '" + c.stored + "'");
        EXPECT_FALSE(fs::exists(output));
        if (!c.origin) {
            // Refused for the device instead, after the filter passed.
            EXPECT_EQ(run.lastError.find("bad capture filter"), std::string::npos) << run.lastError;
            continue;
        }
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.lastError, "tidewatch: bad capture filter '" + expression + "'" + c.origin +
                                     ": " + CaptureFilter::Check(expression, 3));
    }
    // The command line never changes the stored expression.
    AppRegKey key;
    str stored;
    key.GetString(CaptureFilter::kSetting, stored, "");
    EXPECT_STREQ(stored.c_str(), "tcp port");
}

}  // namespace
