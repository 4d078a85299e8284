// The interface dialogs the capture method commands open: "Capture IP Address" edits the raw
// socket's address, "Select Network Adapter" sets the packet-capture adapter by its name.
#include <QComboBox>
#include <QLineEdit>

#include "drivers/gui/PCAPIfDlg.h"
#include "framework/StringCollection.h"
#include "framework/gui/IpAddressEdit.h"
#include "resources/Resources.h"
#include "tests/support/NetNamespaces.h"
#include "ui/WindowFixture.h"

namespace {

class CaptureDialogs : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        VizirMainWindow::SetInterfaceSelector(nullptr);
    }
    // The next dialog runs this and reports its title.
    void Answer(std::function<void(Dialog&)> answer) {
        Dialog::SetRunHook([this, answer](Dialog& dialog) {
            titles.push_back(dialog.Handle()->windowTitle().toStdString());
            answer(dialog);
        });
    }
    std::vector<std::string> titles;
};

TEST_F(CaptureDialogs, TheAddressDialogEditsTheAddressOnlyOnOk) {
    CreateWindow();
    IWSACap& driver = window->RawSocketDriver();
    driver.SetCaptureAddress(0xC0A8010A);  // 192.168.1.10
    uint32_t shown = 0;
    Answer([&](Dialog& dialog) {
        auto* edit = dynamic_cast<IpAddressEdit*>(dialog.Item(res::kIdIpAddress));
        ASSERT_NE(edit, nullptr);
        shown = edit->Address();
        for (int octet = 0; octet < 4; ++octet) {
            edit->Field(octet)->setText(QString::number(octet == 0 ? 10 : octet * 100));
        }
        dialog.Press(res::kIdCancel);
    });
    window->Command(res::kCmdModeRawSocket);
    EXPECT_EQ(shown, 0xC0A8010Au);
    EXPECT_EQ(driver.CaptureAddress(), 0xC0A8010Au);

    Answer([&](Dialog& dialog) {
        auto* edit = dynamic_cast<IpAddressEdit*>(dialog.Item(res::kIdIpAddress));
        edit->Field(0)->setText("10");
        edit->Field(1)->setText("213");
        edit->Field(2)->setText("");  // an empty octet is 0
        edit->Field(3)->setText("7");
        dialog.Press(res::kIdOk);
    });
    window->Command(res::kCmdModeRawSocket);
    EXPECT_EQ(driver.CaptureAddress(), (10u << 24) | (213u << 16) | 7u);
    EXPECT_EQ(titles, (std::vector<std::string>{"Capture IP Address", "Capture IP Address"}));
}

TEST_F(CaptureDialogs, TheAdapterDialogListsTheAdaptersAndSetsTheChosenName) {
    CreateWindow();
    // The machine's adapters come and go while other tests run (their links start out there):
    // where it may, the test lists those of a network namespace of its own.
    netns::NamespacePair net("d" + std::to_string(getpid() % 100000));
    std::unique_ptr<netns::ThreadInNamespace> inside;
    if (geteuid() == 0 && net.Add(nullptr)) {
        inside = std::make_unique<netns::ThreadInNamespace>(net.a);
    }
    IPCAP& driver = window->PcapDriver();
    StringCollection adapters(false);
    driver.ListAdapters(adapters);
    if (adapters.Count() < 2) GTEST_SKIP() << "the library lists fewer than two adapters here";
    driver.SetDeviceName("before");
    std::vector<std::string> entries;
    Answer([&](Dialog& dialog) {
        auto* box = qobject_cast<QComboBox*>(dialog.Item(res::kIdAdapterList));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->currentIndex(), 0);
        for (int i = 0; i < box->count(); ++i) entries.push_back(box->itemText(i).toStdString());
        box->setCurrentIndex(1);
        dialog.Press(res::kIdOk);
    });
    window->Command(res::kCmdModePcap);
    ASSERT_EQ(entries.size(), static_cast<size_t>(adapters.Count()));
    str shown, name;
    for (int i = 0; i < adapters.Count(); ++i) {
        PCAPIfDlg::DisplayText(adapters.Get(i), shown);
        EXPECT_EQ(entries[static_cast<size_t>(i)], shown.c_str());
    }
    PCAPIfDlg::AdapterName(adapters.Get(1), name);
    EXPECT_STREQ(driver.DeviceName(), name.c_str());

    Answer([](Dialog& dialog) { dialog.Press(res::kIdCancel); });
    window->Command(res::kCmdModePcap);
    EXPECT_STREQ(driver.DeviceName(), name.c_str());
    EXPECT_EQ(titles.back(), "Select Network Adapter");
}

TEST(AdapterTexts, TheBoxShowsDescriptionsOrNamesAndOkRestoresTheName) {
    const struct {
        const char* text;
        const char* shown;
        const char* name;
    } cases[] = {
        {"eth0 (no description)", "eth0", "eth0"},
        {"any (Pseudo-device that captures on all interfaces)",
         "Pseudo-device that captures on all interfaces", "any"},
        {"odd (name) (Card rev 2)", "name) (Card rev 2", "odd (name)"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        str shown, name;
        PCAPIfDlg::DisplayText(c.text, shown);
        PCAPIfDlg::AdapterName(c.text, name);
        EXPECT_STREQ(shown.c_str(), c.shown) << c.text;
        EXPECT_STREQ(name.c_str(), c.name) << c.text;
    }
}

}  // namespace
