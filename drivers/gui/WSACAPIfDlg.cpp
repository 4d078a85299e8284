#include "drivers/gui/WSACAPIfDlg.h"

#include "framework/gui/IpAddressEdit.h"
#include "resources/Resources.h"

WSACAPIfDlg::WSACAPIfDlg() : Dialog(res::kIpAddressDialog) {}

int WSACAPIfDlg::RunFor(void*, QWidget* parent, uint32_t* address) {
    WSACAPIfDlg dialog;
    return dialog.Run(parent, reinterpret_cast<intptr_t>(address)) == 1 ? 1 : 0;
}

int WSACAPIfDlg::OnInitDialog() {
    address_ = reinterpret_cast<uint32_t*>(Parameter());
    if (auto* edit = dynamic_cast<IpAddressEdit*>(Item(res::kIdIpAddress)); edit && address_) {
        edit->SetAddress(*address_);
    }
    return 1;
}

int WSACAPIfDlg::OnCommand(int id, int code, QWidget* control) {
    if (id == res::kIdOk) {
        if (auto* edit = dynamic_cast<IpAddressEdit*>(Item(res::kIdIpAddress)); edit && address_) {
            *address_ = edit->Address();
        }
        End(1);
        return 1;
    }
    if (id == res::kIdCancel) {
        End(0);
        return 1;
    }
    return 0;
}
