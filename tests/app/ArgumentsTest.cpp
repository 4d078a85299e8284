// The command line: options of every mode in any order, the capture mode's options checked
// against each other, and what is a usage error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/headless/Headless.h"

namespace {

struct Parsed {
    bool ok;
    HeadlessOptions options;
    std::string error;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tidewatch");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    Parsed parsed;
    parsed.ok = ParseHeadlessArguments(static_cast<int>(argv.size()), argv.data(), parsed.options,
                                       parsed.error);
    return parsed;
}

TEST(Arguments, OptionsOfEveryModeComeInAnyOrder) {
    const std::vector<std::vector<std::string>> describeRaw = {
        {"--describe", "f.tdw", "--view", "raw", "--packet", "3"},
        {"--describe", "--view", "raw", "f.tdw", "--packet", "3"},
        {"--view", "raw", "--packet", "3", "f.tdw", "--describe"},
    };
    for (const auto& args : describeRaw) {
        const Parsed p = Parse(args);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.options.mode, HeadlessMode::Describe);
        EXPECT_EQ(p.options.file, "f.tdw");
        EXPECT_EQ(p.options.view, HeadlessView::Raw);
        EXPECT_EQ(p.options.packet, 3);
    }
    const std::vector<std::vector<std::string>> capture = {
        {"--capture", "--device", "eth1", "--count", "10", "--seconds", "5", "--write", "o.tdw"},
        {"--write", "o.tdw", "--seconds", "5", "--capture", "--count", "10", "--device", "eth1"},
    };
    for (const auto& args : capture) {
        const Parsed p = Parse(args);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.options.mode, HeadlessMode::Capture);
        EXPECT_EQ(p.options.method, 3);  // named by --device
        EXPECT_EQ(p.options.device, "eth1");
        EXPECT_EQ(p.options.count, 10);
        EXPECT_EQ(p.options.seconds, 5);
        EXPECT_EQ(p.options.write, "o.tdw");
    }
    const Parsed address = Parse({"--capture", "--write", "o.tdw", "--address", "192.168.1.10"});
    ASSERT_TRUE(address.ok) << address.error;
    EXPECT_EQ(address.options.method, 1);
    EXPECT_EQ(address.options.address, 0xC0A8010Au);
    EXPECT_EQ(Parse({"--capture", "--write", "o.tdw"}).options.method, 0);  // the stored one
    const Parsed netMon = Parse({"--device", "eth1", "--capture", "--method", "2", "--write", "o"});
    ASSERT_TRUE(netMon.ok) << netMon.error;
    EXPECT_EQ(netMon.options.method, 2);
    EXPECT_EQ(netMon.options.device, "eth1");
}

TEST(Arguments, ContradictionsAndMissingPartsAreUsageErrors) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--capture"},                                                  // nowhere to write
        {"--capture", "--write", "o", "--method", "4"},                 // 1, 2 or 3
        {"--capture", "--write", "o", "--method", "1", "--device", "eth0"},
        {"--capture", "--write", "o", "--address", "1.2.3.4", "--device", "eth0"},
        {"--capture", "--write", "o", "--method", "3", "--address", "1.2.3.4"},
        {"--capture", "--write", "o", "--address", "1.2.3"},
        {"--capture", "--write", "o", "--count", "-1"},
        {"--capture", "--write", "o", "--count", "0"},                  // ends before it begins
        {"--capture", "--write", "o", "--seconds", "0"},
        {"--capture", "--write", "o", "file.tdw"},
        {"--list", "f.tdw", "--write", "o"},
        {"--describe"},
        {"--interfaces", "--view", "raw"},
        {"--list", "a.tdw", "b.tdw"},
        {"--list", "--tree", "a.tdw"},
    };
    for (const auto& args : wrong) {
        const Parsed p = Parse(args);
        EXPECT_FALSE(p.ok) << args.front() << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_FALSE(p.error.empty());
    }
}

}  // namespace
