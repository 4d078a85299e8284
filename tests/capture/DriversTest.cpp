// The drivers' failure paths, which need no traffic: what they report and that nothing is
// opened or called that is not there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/INetMon.h"
#include "drivers/IPCAP.h"
#include "drivers/IWSACap.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"
#include "framework/StringCollection.h"

namespace {

class Drivers : public ::testing::Test {
protected:
    void SetUp() override {
        ErrorLog::SetDebugOutput([this](const char* text) { reports.push_back(text); });
    }
    void TearDown() override {
        ErrorLog::SetDebugOutput(nullptr);
        IPCAP::SetLibraryNamesForTesting(nullptr);
    }
    int Reported(const std::string& message) const {
        int n = 0;
        for (const std::string& r : reports) n += r.find(" : " + message + "\r\n") != std::string::npos;
        return n;
    }
    std::vector<std::string> reports;
};

TEST_F(Drivers, WithoutTheLibraryThePacketCaptureDriverWarnsAndCallsNothing) {
    static const char* const kMissing[] = {"libpcap-that-is-not-there.so", nullptr};
    IPCAP::SetLibraryNamesForTesting(kMissing);
    WriteRegString("CaptureDevice", "eth9");
    IPCAP driver;
    EXPECT_EQ(Reported("IPCAP - WinPCap not installed"), 1);
    EXPECT_FALSE(driver.Init(nullptr, nullptr, nullptr));
    EXPECT_EQ(Reported("IPCAP - WinPCap not correctly installed"), 1);
    EXPECT_FALSE(driver.Start());
    StringCollection adapters;
    driver.ListAdapters(adapters);
    EXPECT_EQ(adapters.Count(), 0);
    const uint8_t frame[60] = {};
    EXPECT_FALSE(driver.SendPacket(frame, sizeof frame));
    EXPECT_TRUE(driver.Stop());
    EXPECT_STREQ(driver.DeviceName(), "eth9");
}

TEST_F(Drivers, ThePacketCaptureDriverNeedsAnAdapterNameAndAnAdapter) {
    WriteRegString("CaptureDevice", "");
    IPCAP driver;
    EXPECT_FALSE(driver.Init(nullptr, nullptr, nullptr));  // the library is there, no name
    driver.SetDeviceName("no-such-adapter0");
    EXPECT_TRUE(driver.Init(nullptr, nullptr, nullptr));
    EXPECT_FALSE(driver.Start());  // not reported: the loop shows the not-capturing text
    EXPECT_FALSE(driver.OpenError().empty());
    EXPECT_TRUE(reports.empty());
    const uint8_t frame[60] = {};
    EXPECT_FALSE(driver.SendPacket(frame, sizeof frame));  // nothing open
}

TEST_F(Drivers, TheRawSocketDriverReportsEachFailedStartAndKeepsNoSocket) {
    IWSACap driver;
    driver.SetLibraryVersionForTesting(0x0101);
    EXPECT_FALSE(driver.Init(nullptr, nullptr, nullptr));
    EXPECT_EQ(Reported("IWSACap::Init - WSA is not initialised."), 1);
    driver.SetLibraryVersionForTesting(0x0202);
    EXPECT_TRUE(driver.Init(nullptr, nullptr, nullptr));
    // An address no interface holds: every start tries again and says why it failed, and the
    // capture loop is given the reason to show (without the right it tells that itself).
    driver.SetCaptureAddress(0xC0000263);  // 192.0.2.99
    const bool root = geteuid() == 0;
    const char* expected = root ? "Unable to bind to address." : "Unable to allocate socket";
    for (int attempt = 1; attempt <= 2; ++attempt) {
        EXPECT_FALSE(driver.Start());
        int found = 0;
        for (const std::string& r : reports) found += r.find(expected) != std::string::npos;
        EXPECT_EQ(found, attempt);
        std::string reason;
        EXPECT_EQ(driver.TakeFailure(reason), root);
        if (root) {
            EXPECT_EQ(reason, "no interface holds the address 192.0.2.99");
        }
        EXPECT_FALSE(driver.ReceiveNext());  // no socket
    }
}

// The provider lies beside the test programs; with no network chosen the driver does not start,
// reports nothing, and leaves the capture loop the reason.
TEST_F(Drivers, TheNetworkMonitorDriverStartsOnlyOnAChosenNetwork) {
    WriteRegString("NetMonMacAddr", "");
    INetMon driver;
    EXPECT_FALSE(driver.Init(nullptr, nullptr, nullptr));
    EXPECT_FALSE(driver.Start());
    EXPECT_TRUE(reports.empty());
    // What the capture loop then shows.
    std::string reason;
    EXPECT_TRUE(driver.TakeFailure(reason));
    EXPECT_EQ(reason, "no network is chosen for the Network Monitor Packet Provider");
}

}  // namespace
