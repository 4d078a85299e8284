// Method 3 on the adapters a Linux namespace offers: the cooked `any` adapter stores IP datagrams,
// an adapter whose link type cannot be decoded is marked in the listing and refused at start,
// and a capture on every other listed adapter stops promptly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/IPCAP.h"
#include "tests/support/NetNamespaces.h"

namespace {

TEST(PcapAdapterNames, TheNameEndsWhereTheFinalParenthesisedGroupOpens) {
    const struct {
        const char* text;
        const char* name;
    } cases[] = {
        {"nfqueue (Linux netfilter queue (NFQUEUE) interface)", "nfqueue"},
        {"odd (name) (Card rev 2)", "odd (name)"},
        {"eth0 (no description)", "eth0"},
        {"broken (desc", "broken"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(IPCAP::AdapterNameOf(c.text), c.name) << c.text;
}

class PcapAdapters : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "live capture needs root (network namespaces)";
        for (const char* tool : {"ip", "ping", "tshark"}) {
            if (!filetest::HaveTool(tool)) GTEST_SKIP() << "missing program " << tool;
        }
        dir_ = std::filesystem::current_path().string() + "/" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(dir_);
        net_ = std::make_unique<netns::NamespacePair>("p" + std::to_string(getpid() % 100000));
        std::string error;
        if (!net_->Add(&error)) GTEST_SKIP() << "cannot create network namespaces: " << error;
        netns::LinkAddresses link{"10.214.0.1", "10.214.0.2", 24, "", "", "", ""};
        link.quiet = true;
        ASSERT_TRUE(net_->Connect(link, &error)) << error;
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::unique_ptr<netns::TidewatchCapture> Capture(const std::string& device,
                                                     const std::string& out) {
        return std::make_unique<netns::TidewatchCapture>(
            *net_, std::vector<std::string>{}, TW_TIDEWATCH,
            std::vector<std::string>{"--write", out, "--method", "3", "--device", device},
            out + ".log");
    }

    std::string dir_;
    std::unique_ptr<netns::NamespacePair> net_;
};

TEST_F(PcapAdapters, TheAnyAdapterStoresThePingsAsIpDatagrams) {
    auto capture = Capture("any", Path("any.pcap"));
    ASSERT_TRUE(capture->Started()) << capture->Log();
    std::string output;
    ASSERT_EQ(netns::Shell(net_->InA("ping -c 2 -i 0.2 -W 5 10.214.0.2"), &output), 0) << output;
    // The block of the last reply reaches the program within the library's read time-out.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(capture->Stop()) << capture->Log();

    const filetest::Bytes file = filetest::ReadFile(Path("any.pcap"));
    ASSERT_GE(file.size(), 24u);
    EXPECT_EQ(bytes::LoadLe32(&file[20]), 101u) << "not written as raw IP";
    const auto frames = netns::TsharkFields(
        Path("any.pcap"), {"ip.src", "ip.dst", "icmp.type"}, "-Y icmp");
    std::vector<std::string> seen;
    for (const netns::Fields& frame : frames) {
        seen.push_back(frame.at("ip.src") + ">" + frame.at("ip.dst") + " " + frame.at("icmp.type"));
    }
    const std::string request = "10.214.0.1>10.214.0.2 8", reply = "10.214.0.2>10.214.0.1 0";
    EXPECT_EQ(seen, (std::vector<std::string>{request, reply, request, reply}));
}

// Every adapter the namespace lists: marked as not decoded and refused with the reason, or
// captured on and stopped well within two seconds (a stop wakes the receive within 500 ms).
TEST_F(PcapAdapters, EveryListedAdapterIsRefusedAsMarkedOrStopsPromptly) {
    std::string listing;
    ASSERT_EQ(netns::Shell(net_->InA(std::string(TW_TIDEWATCH) + " --interfaces"), &listing), 0);
    // Adapter name to its mark, empty when none.
    std::map<std::string, std::string> notes;
    std::istringstream lines(listing.substr(listing.find("Method 3")));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.rfind("  ", 0) == 0) {
        const size_t mark = line.find(") - link type ");
        const std::string text = line.substr(2, mark == std::string::npos ? mark : mark - 1);
        notes[IPCAP::AdapterNameOf(text.c_str())] =
            mark == std::string::npos ? "" : line.substr(mark + 4);
    }
    ASSERT_TRUE(notes.count(net_->ifA) && notes.count("any")) << listing;
    EXPECT_EQ(notes[net_->ifA] + notes["any"], "") << listing;
    if (notes.count("nflog")) {
        EXPECT_EQ(notes["nflog"], "link type 239, not decoded");
    }

    auto slowest = std::chrono::milliseconds(0);
    for (const auto& [adapter, note] : notes) {
        auto capture = Capture(adapter, Path(adapter + ".tdw"));
        if (!note.empty()) {
            // Refused: the program ends by itself, saying why (a bus or monitor that cannot even
            // be opened here fails before its link type is known; nflog opens in a namespace).
            EXPECT_TRUE(netns::WaitFor(
                [&] { return capture->Log().find("could not start") != std::string::npos; },
                std::chrono::seconds(15)))
                << capture->Log();
            const std::string reason = "adapter nflog delivers link type 239, which Tidewatch "
                                       "does not decode";
            if (adapter == "nflog") {
                EXPECT_NE(capture->Log().find(reason), std::string::npos) << capture->Log();
            }
            continue;
        }
        ASSERT_TRUE(capture->Started()) << adapter << ": " << capture->Log();
        const auto asked = netns::Clock::now();
        EXPECT_TRUE(capture->Stop()) << adapter << ": " << capture->Log();
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(netns::Clock::now() - asked);
        EXPECT_LT(took, std::chrono::seconds(2)) << adapter;
        slowest = std::max(slowest, took);
    }
    std::printf("[ figures  ] slowest stop of a method-3 capture: %lld ms\n",
                static_cast<long long>(slowest.count()));
}

}  // namespace
