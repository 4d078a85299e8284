// "Capture IP Address": asks for the local address the raw-socket capture binds to.
#pragma once

#include <cstdint>

#include "framework/gui/Dialog.h"

class WSACAPIfDlg : public Dialog {
public:
    WSACAPIfDlg();

    // Runs the dialog over parent for the caller's address (host byte order); 1 on OK, when the
    // address holds what the control shows, 0 on Cancel, with the address unchanged.
    static int RunFor(void* instance, QWidget* parent, uint32_t* address);

protected:
    int OnInitDialog() override;
    int OnCommand(int id, int code, QWidget* control) override;

private:
    uint32_t* address_ = nullptr;
};
