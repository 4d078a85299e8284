#include "drivers/gui/PCAPIfDlg.h"

#include <QComboBox>
#include <QStandardItemModel>
#include <cstring>

#include "drivers/IPCAP.h"
#include "resources/Resources.h"

namespace {

constexpr const char* kNoDescription = "no description";

}  // namespace

PCAPIfDlg::PCAPIfDlg() : Dialog(res::kPcapDeviceDialog) {}

int PCAPIfDlg::RunFor(void*, QWidget* parent, IPCAP* driver) {
    PCAPIfDlg dialog;
    return dialog.Run(parent, reinterpret_cast<intptr_t>(driver)) == 1 ? 1 : 0;
}

void PCAPIfDlg::DisplayText(const char* adapterText, str& shown) {
    shown = adapterText;
    if (!shown.RemoveBefore(" (", true)) return;
    shown.CutAtLast(")");
    // On this platform most adapters have no description; a list of identical "no
    // description" entries could not be told apart, so those show their names.
    if (shown == kNoDescription) AdapterName(adapterText, shown);
}

void PCAPIfDlg::AdapterName(const char* adapterText, str& name) {
    // Not simply the last " (": library descriptions hold parentheses of their own.
    name = IPCAP::AdapterNameOf(adapterText).c_str();
}

int PCAPIfDlg::OnInitDialog() {
    driver_ = reinterpret_cast<IPCAP*>(Parameter());
    if (driver_) driver_->ListAdapters(adapters_);
    auto* box = qobject_cast<QComboBox*>(Item(res::kIdAdapterList));
    if (!box) return 1;
    auto* rows = qobject_cast<QStandardItemModel*>(box->model());
    str shown, name;
    int chosen = adapters_.Count() > 0 ? 0 : -1;
    for (int i = 0; i < adapters_.Count(); ++i) {
        DisplayText(adapters_.Get(i), shown);
        box->addItem(QString::fromUtf8(shown.c_str()));
        AdapterName(adapters_.Get(i), name);
        if (driver_ && name == driver_->DeviceName()) chosen = i;
        // An adapter whose frames cannot be decoded is shown, greyed, with the reason.
        const std::string note = IPCAP::LinkTypeNote(name.c_str());
        if (!note.empty() && rows && rows->item(i)) {
            rows->item(i)->setEnabled(false);
            rows->item(i)->setToolTip(QString::fromStdString(note));
        }
    }
    box->setCurrentIndex(chosen);
    return 1;
}

int PCAPIfDlg::OnCommand(int id, int code, QWidget* control) {
    if (id == res::kIdOk) {
        auto* box = qobject_cast<QComboBox*>(Item(res::kIdAdapterList));
        const int selected = box ? box->currentIndex() : -1;
        const char* text = selected >= 0 ? adapters_.Get(selected) : nullptr;
        str name;
        AdapterName(text ? text : "", name);
        if (driver_) driver_->SetDeviceName(name.c_str());
        End(1);
        return 1;
    }
    if (id == res::kIdCancel) {
        End(0);
        return 1;
    }
    return 0;
}
