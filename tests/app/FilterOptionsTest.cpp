// The capture filter on the command line: --check-filter gives the library's verdict for the
// method's frames, and --capture refuses an expression that does not compile, given or stored,
// before it opens or creates anything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "drivers/CaptureFilter.h"
#include "framework/Registry.h"
#include "tests/files/FileTestSupport.h"

namespace {

namespace fs = std::filesystem;

// Settings of the test's own, so that no stored filter reaches another test's program.
class FilterOptions : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::getenv("XDG_CONFIG_HOME");
        fs::create_directories(dir_);
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
        fs::remove_all(dir_);
    }
    // The exit status, standard output and the last line of standard error.
    int Tidewatch(const std::vector<std::string>& args, std::string& out, std::string& error) {
        std::string command = std::string("'") + TW_TIDEWATCH + "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        int status = -1;
        out = filetest::RunShell(command + " 2>'" + (dir_ / "stderr").string() + "'", &status);
        std::ifstream lines(dir_ / "stderr");
        for (std::string line; std::getline(lines, line);) error = line;
        return status;
    }
    std::string saved_;
    const fs::path dir_ = fs::current_path() / ("filter-options-" + std::to_string(getpid()));
};

TEST_F(FilterOptions, CheckFilterGivesTheLibrarysVerdictForTheMethod) {
    // Without --method the stored one serves; link-layer words do not compile for method 1.
    ASSERT_TRUE(WriteRegNumber("CaptureMethod", 3));
    struct Case {
        std::string expression;
        int method;  // 0: the stored one
        bool valid;
    };
    const std::vector<Case> cases = {
        {"udp port 53", 0, true},          {"tcp port", 0, false},
        {"host 999.1.1.1", 2, false},      {std::string(10000, '('), 0, false},
        {"ip6", 1, CaptureFilter::Check("ip6", 1).empty()},
        {"ether broadcast", 0, true},      {"ether broadcast", 1, false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--check-filter", c.expression};
        if (c.method) args.insert(args.end(), {"--method", std::to_string(c.method)});
        std::string out, error;
        const int status = Tidewatch(args, out, error);
        const std::string expected = CaptureFilter::Check(c.expression, c.method ? c.method : 3);
        SCOPED_TRACE(c.expression.substr(0, 20) + " method " + std::to_string(c.method));
        EXPECT_EQ(expected.empty(), c.valid) << expected;
        EXPECT_EQ(status, c.valid ? 0 : 2);
        EXPECT_EQ(out, c.valid ? "valid\n" : "");
        EXPECT_EQ(error, c.valid ? "" : "tidewatch: " + expected);
    }
}

TEST_F(FilterOptions, CaptureRefusesABadFilterBeforeOpeningAnything) {
    // No such device, and the output is never created: the filter is looked at first.
    const std::string output = (dir_ / "never.tdw").string();
    struct Case {
        const char* given;  // --filter's value; null: no --filter
        const char* stored;
        const char* origin;  // what the refusal says besides the expression; null: none
    };
    const std::vector<Case> cases = {
        {"tcp port", "", ""},
        {"tcp port", "udp", ""},
        {nullptr, "tcp port", " (the stored setting \"CaptureFilter\")"},
        {"", "tcp port", nullptr},  // given empty: no filter, whatever is stored
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteRegString(CaptureFilter::kSetting, c.stored));
        std::vector<std::string> args = {"--capture", "--device", "no-such-device", "--write",
                                         output};
        if (c.given) args.insert(args.end(), {"--filter", c.given});
        std::string out, error;
        const int status = Tidewatch(args, out, error);
        const std::string expression = c.given ? c.given : c.stored;
        SCOPED_TRACE(expression);
        EXPECT_FALSE(fs::exists(output));
        if (!c.origin) {
            EXPECT_EQ(error.find("bad capture filter"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(status, 2);
        EXPECT_EQ(error, "tidewatch: bad capture filter '" + expression + "'" + c.origin + ": " +
                             CaptureFilter::Check(expression, 3));
    }
    // The command line never changes the stored expression.
    char stored[64];
    uint32_t size = sizeof stored;
    ASSERT_TRUE(ReadRegString(CaptureFilter::kSetting, stored, &size));
    EXPECT_STREQ(stored, "tcp port");
}

}  // namespace
