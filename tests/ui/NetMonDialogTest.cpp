// The Network Monitor provider's network dialog, shown by the driver's SelectInterface: it is
// parented to the owner window and lists the interfaces with their hardware addresses; OK makes
// the chosen one the driver's network (stored at destruction), Cancel reports and leaves none.
#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>
#include <QTreeWidget>
#include <string>

#include "drivers/INetMon.h"
#include "framework/ErrorLog.h"
#include "framework/Registry.h"

namespace {

class TestNetMon : public INetMon {
public:
    TestNetMon() : INetMon(TW_BINARY_DIR "/libnpptools.so") {}
};

std::string Stored() {
    str text;
    AppRegKey().GetString("NetMonMacAddr", text, "?");
    return text.c_str();
}

TEST(NetMonDialog, ChoosingANetworkStoresItsAddressAndCancellingReports) {
    ASSERT_TRUE(WriteRegString("NetMonMacAddr", ""));
    std::string reports;
    ErrorLog::SetDebugOutput([&](const char* text) { reports += text; });
    struct Restore {
        ~Restore() { ErrorLog::SetDebugOutput(nullptr); }
    } restore;
    QWidget owner;
    std::string chosen = "";
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "OK" : "Cancel");
        const std::string before = Stored();
        reports.clear();
        QWidget* parent = nullptr;
        int rows = 0;
        QTimer::singleShot(0, [&] {
            auto* dialog = owner.findChild<QDialog*>("SelectNetworkDlg");
            if (!dialog) return;
            parent = dialog->parentWidget();
            const auto* list = dialog->findChild<QTreeWidget*>();
            rows = list->topLevelItemCount();
            if (accept && rows > 0) {
                chosen = list->topLevelItem(0)->text(1).toStdString();
                dialog->accept();
            } else {
                dialog->reject();
            }
        });
        {
            TestNetMon driver;
            // Finds the stored network, if any; none is stored before the first choice.
            EXPECT_EQ(driver.Init(nullptr, &owner, nullptr), !before.empty());
            const bool selected = driver.SelectInterface();
            EXPECT_EQ(parent, &owner) << "the dialog did not show with the owner window";
            if (accept && rows == 0) GTEST_SKIP() << "no Ethernet interface to list";
            EXPECT_EQ(selected, accept);
            EXPECT_EQ(reports.find("INetMon - GetNPPBlobFromUI failed.") != std::string::npos,
                      !accept);
            if (!accept) {
                EXPECT_FALSE(driver.Start());
            }
        }
        EXPECT_EQ(Stored(), accept ? chosen : before);
    }
}

}  // namespace
