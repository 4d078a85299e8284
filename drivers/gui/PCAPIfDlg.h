// "Select Network Adapter": the adapters the packet-capture library reports, the driver's chosen
// one selected and those whose frames cannot be decoded greyed; OK sets the driver's adapter name.
#pragma once

#include "framework/StringCollection.h"
#include "framework/gui/Dialog.h"

class IPCAP;
class str;

class PCAPIfDlg : public Dialog {
public:
    PCAPIfDlg();

    // Runs the dialog over parent for the driver; 1 on OK, 0 on Cancel.
    static int RunFor(void* instance, QWidget* parent, IPCAP* driver);

    // What the box shows for an adapter text "name (description)": the description, or the
    // name when the library gave none.
    static void DisplayText(const char* adapterText, str& shown);
    // The adapter name of an adapter text: everything before the " (" of its description
    // (IPCAP::AdapterNameOf).
    static void AdapterName(const char* adapterText, str& name);

protected:
    int OnInitDialog() override;
    int OnCommand(int id, int code, QWidget* control) override;

private:
    StringCollection adapters_{false};
    IPCAP* driver_ = nullptr;
};
