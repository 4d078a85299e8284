#include "framework/Registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/FreshSettings.h"
#include "framework/StringCollection.h"

namespace fs = std::filesystem;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseFreshSettingsFolder(); }

    static std::string FileText() {
        std::ifstream in(SettingsFilePath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void PutFileText(const std::string& text) {
        fs::create_directories(fs::path(SettingsFilePath()).parent_path());
        std::ofstream(SettingsFilePath(), std::ios::binary) << text;
    }

    static std::string ReadText(const char* name) {
        char buffer[256] = "untouched";
        uint32_t size = sizeof buffer;
        return ReadRegString(name, buffer, &size) ? buffer : "<missing>";
    }
};

TEST_F(Registry, WriteCreatesMissingKeyInExportFormat) {
    EXPECT_EQ(ReadRegNumber("WindowX", 170), 170u);
    EXPECT_FALSE(AppRegKey().OpenRead());

    EXPECT_TRUE(WriteRegNumber("WindowX", 0xaa));
    EXPECT_TRUE(WriteRegString("Font", "Mono"));
    EXPECT_EQ(FileText(),
              "Tidewatch Registry Export 1\n\n"
              "[software\\tidecraft\\Tidewatch]\n"
              "\"WindowX\"=dword:000000aa\n"
              "\"Font\"=\"Mono\"\n\n");
    EXPECT_EQ(ReadRegNumber("WindowX", 170), 0xaau);
    EXPECT_TRUE(AppRegKey().OpenRead());

    // Names compare as registry names do: the stored spelling stays, the value is replaced.
    EXPECT_TRUE(WriteRegNumber("windowx", 0xffffffff));
    EXPECT_EQ(ReadRegNumber("WINDOWX", 0), 0xffffffffu);
    EXPECT_NE(FileText().find("\"WindowX\"=dword:ffffffff\n"), std::string::npos);

    RegistryKey sub(RegistryRoot::LocalMachine, "software\\tidecraft\\Tidewatch\\Columns");
    EXPECT_FALSE(sub.OpenRead());
    EXPECT_TRUE(sub.OpenWrite());
    EXPECT_TRUE(sub.OpenRead());
}

TEST_F(Registry, WrongTypeReadsBothWays) {
    ASSERT_TRUE(WriteRegString("WindowX", "ab"));
    ASSERT_TRUE(WriteRegString("WindowY", "abcdef"));
    ASSERT_TRUE(WriteRegNumber("Font", 7));

    // The free read-number function checks the type; GetNumber takes the raw bytes.
    EXPECT_EQ(ReadRegNumber("WindowX", 170), 170u);
    AppRegKey key;
    EXPECT_EQ(key.GetNumber("WindowX", 170), 0x00006261u);
    EXPECT_EQ(key.GetNumber("WindowY", 100), 0x64636261u);
    EXPECT_EQ(key.GetNumber("Missing", 100), 100u);
    EXPECT_FALSE(key.IsOpen());

    EXPECT_EQ(ReadText("Font"), "<missing>");
    str text("previous");
    EXPECT_FALSE(key.GetString("Font", text, "fallback"));
    EXPECT_STREQ(text.c_str(), "fallback");

    char dir[2048];
    EXPECT_FALSE(ReadRegStringOrCurrentDir("Font", dir, sizeof dir));
    EXPECT_EQ(fs::path(dir), fs::current_path());
}

TEST_F(Registry, TextReadsGrowAndReportSize) {
    std::string longText(1000, 'x');
    longText += "end";
    ASSERT_TRUE(AppRegKey().SetString("Font", longText.c_str()));

    str text;
    EXPECT_TRUE(AppRegKey().GetString("Font", text, "fallback"));
    EXPECT_EQ(text.Length(), longText.size());
    EXPECT_STREQ(text.c_str(), longText.c_str());

    EXPECT_FALSE(AppRegKey().GetString("Missing", text, "fallback"));
    EXPECT_STREQ(text.c_str(), "fallback");

    char small[16] = "untouched";
    uint32_t size = sizeof small;
    EXPECT_FALSE(ReadRegString("Font", small, &size));
    EXPECT_EQ(size, longText.size() + 1);
    EXPECT_STREQ(small, "untouched");
    std::vector<char> big(size);
    EXPECT_TRUE(ReadRegString("Font", big.data(), &size));
    EXPECT_EQ(std::string(big.data()), longText);
}

TEST_F(Registry, EscapesRoundTrip) {
    const char* tricky = "C:\\dir\\\"quoted\" \\\\ end\\";
    const char* lines = "one\ntwo\r\nthree";
    ASSERT_TRUE(WriteRegString("Font", tricky));
    ASSERT_TRUE(WriteRegString("Say \"hi\"\\", lines));
    ASSERT_TRUE(WriteRegString("Empty", ""));
    EXPECT_EQ(ReadText("Font"), tricky);
    EXPECT_EQ(ReadText("Say \"hi\"\\"), lines);
    EXPECT_EQ(ReadText("Empty"), "");
    EXPECT_NE(FileText().find(R"("Font"="C:\\dir\\\"quoted\" \\\\ end\\")" "\n"),
              std::string::npos);
    // Every value stays on its own line.
    EXPECT_NE(FileText().find(R"("Say \"hi\"\\"="one\ntwo\r\nthree")" "\n"), std::string::npos);
}

TEST_F(Registry, MalformedLinesAreSkipped) {
    PutFileText(
        "Tidewatch Registry Export 1\n"
        "\"Orphan\"=dword:00000001\n"  // before any key
        "\n"
        "[software\\tidecraft\\Tidewatch]\r\n"
        "\"WindowX\"=dword:00000011\r\n"
        "\"WindowY\"=dword:xyz\n"
        "\"WindowWidth\"=dword:123456789\n"
        "\"WindowHeight\"=dword:\n"
        "\"Font\"=\"unterminated\n"
        "\"CaptureDevice\"=\"bad \\q escape\"\n"
        "\"NetMonMacAddr\"=\"text\" trailing\n"
        "garbage line\n"
        "\"AutoScroll\"=dword:0000000a\n"
        "\"installdir\"=\"/opt/tide\"\n"
        "[]\n"
        "\"Lost\"=dword:00000001\n");
    EXPECT_EQ(ReadRegNumber("WindowX", 0), 0x11u);
    EXPECT_EQ(ReadRegNumber("WindowY", 100), 100u);
    EXPECT_EQ(ReadRegNumber("WindowWidth", 800), 800u);
    EXPECT_EQ(ReadRegNumber("WindowHeight", 600), 600u);
    EXPECT_EQ(ReadText("Font"), "<missing>");
    EXPECT_EQ(ReadText("CaptureDevice"), "<missing>");
    EXPECT_EQ(ReadText("NetMonMacAddr"), "<missing>");
    EXPECT_EQ(ReadRegNumber("AutoScroll", 0), 10u);
    EXPECT_EQ(ReadText("installdir"), "/opt/tide");
    EXPECT_EQ(ReadRegNumber("Orphan", 0), 0u);
    EXPECT_EQ(ReadRegNumber("Lost", 0), 0u);

    // A write keeps every good value.
    ASSERT_TRUE(WriteRegNumber("AutoStart", 1));
    EXPECT_EQ(ReadRegNumber("WindowX", 0), 0x11u);
    EXPECT_EQ(ReadText("installdir"), "/opt/tide");
}

TEST_F(Registry, UnreadableFileIsMissingAndNeverReplaced) {
    fs::create_directories(SettingsFilePath());  // a directory where the file should be
    EXPECT_EQ(ReadRegNumber("WindowX", 170), 170u);
    EXPECT_FALSE(AppRegKey().OpenRead());
    EXPECT_FALSE(WriteRegNumber("WindowX", 1));
    EXPECT_FALSE(AppRegKey().OpenWrite());
    EXPECT_TRUE(fs::is_directory(SettingsFilePath()));
}

TEST_F(Registry, InterruptedWriteLeavesOldFileIntact) {
    ASSERT_TRUE(WriteRegString("Font", "old"));
    const std::string before = FileText();

    // Let the file system refuse the new file part way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = before.size() + 16;
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = WriteRegString("Font", std::string(4096, 'n').c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(ReadText("Font"), "old");
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(fs::path(SettingsFilePath()).parent_path())) {
        files.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(files, std::vector<std::string>{"Tidewatch.reg"});  // no temporary left behind
}

// The file is replaced by rename, so a rewrite shows as a new inode.
TEST_F(Registry, OnlyAChangedValueRewritesTheFile) {
    struct stat info {};
    auto fileId = [&] { return stat(SettingsFilePath().c_str(), &info) == 0 ? info.st_ino : 0; };
    ASSERT_TRUE(WriteRegNumber("Port", 1));
    const auto first = fileId();
    EXPECT_TRUE(WriteRegNumber("port", 1));
    EXPECT_EQ(fileId(), first);
    EXPECT_TRUE(WriteRegString("Port", "\x01"));  // same data, another type
    const auto second = fileId();
    EXPECT_NE(second, first);
    EXPECT_TRUE(WriteRegString("Port", "\x02"));
    EXPECT_NE(fileId(), second);
    EXPECT_EQ(ReadText("Port"), "\x02");
}

TEST_F(Registry, ReadsSeeAnotherWritersChanges) {
    ASSERT_TRUE(WriteRegNumber("WindowX", 1));
    AppRegKey key;
    EXPECT_EQ(key.GetNumber("WindowX", 0), 1u);
    PutFileText("Tidewatch Registry Export 1\n\n[software\\tidecraft\\Tidewatch]\n"
                "\"WindowX\"=dword:00000002\n");
    EXPECT_EQ(key.GetNumber("WindowX", 0), 2u);
    EXPECT_EQ(ReadRegNumber("WindowX", 0), 2u);
}

TEST_F(Registry, EnumerateSubkeys) {
    StringCollection names;
    names.Add("kept");
    EXPECT_FALSE(AppRegKey().EnumerateSubkeys(names));  // no key at all
    ASSERT_TRUE(WriteRegNumber("WindowX", 1));
    EXPECT_FALSE(AppRegKey().EnumerateSubkeys(names));  // key without subkeys
    EXPECT_EQ(names.Count(), 1);

    std::string app = kAppKeyPath;
    for (const char* sub : {"\\Alpha", "\\Beta\\Deep", "\\beta\\Other", "\\Gamma"}) {
        RegistryKey key(RegistryRoot::LocalMachine, (app + sub).c_str());
        ASSERT_TRUE(key.SetNumber("n", 1));
    }
    // Neither a sibling of the application key nor a key whose name merely starts alike counts.
    RegistryKey(RegistryRoot::LocalMachine, "software\\tidecraft\\Other").SetNumber("n", 1);
    RegistryKey(RegistryRoot::LocalMachine, (app + "Extra\\Sub").c_str()).SetNumber("n", 1);

    names.RemoveAll();
    EXPECT_TRUE(AppRegKey().EnumerateSubkeys(names));
    ASSERT_EQ(names.Count(), 3);
    EXPECT_STREQ(names.Get(0), "Alpha");
    EXPECT_STREQ(names.Get(1), "Beta");
    EXPECT_STREQ(names.Get(2), "Gamma");

    // The implied parent of a deeper key opens and lists its children.
    RegistryKey beta(RegistryRoot::LocalMachine, (app + "\\Beta").c_str());
    StringCollection children;
    EXPECT_TRUE(beta.EnumerateSubkeys(children));
    ASSERT_EQ(children.Count(), 2);
    EXPECT_STREQ(children.Get(0), "Deep");
    EXPECT_STREQ(children.Get(1), "Other");

    RegistryKey tooLong(RegistryRoot::LocalMachine,
                        (app + "\\Gamma\\" + std::string(1023, 'k')).c_str());
    ASSERT_TRUE(tooLong.OpenWrite());
    StringCollection none;
    EXPECT_FALSE(RegistryKey(RegistryRoot::LocalMachine, (app + "\\Gamma").c_str())
                     .EnumerateSubkeys(none));
    EXPECT_EQ(none.Count(), 0);
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 8; ++i) {
                std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
                WriteRegNumber(name.c_str(), static_cast<uint32_t>(t * 100 + i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 8; ++i) {
            std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
            EXPECT_EQ(ReadRegNumber(name.c_str(), 9999), static_cast<uint32_t>(t * 100 + i))
                << name;
        }
    }
}

}  // namespace
