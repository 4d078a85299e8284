#include "ui/FindDlg.h"

#include <QLineEdit>
#include <cstdio>

#include "resources/Resources.h"

char searchText[kSearchTextSize] = {};
bool searchCaseSensitive = false;

FindDlg::FindDlg() : Dialog(res::kFindDialog) {}

int FindDlg::OnInitDialog() {
    SetItemText(res::kIdFindText, searchText);
    SetItemChecked(res::kIdFindCaseSensitive, searchCaseSensitive);
    if (auto* edit = qobject_cast<QLineEdit*>(Item(res::kIdFindText))) edit->selectAll();
    return 1;
}

int FindDlg::OnCommand(int id, int code, QWidget* control) {
    if (id == res::kIdFindButton) {
        str text;
        GetItemText(res::kIdFindText, text);
        std::snprintf(searchText, kSearchTextTaken + 1, "%s", text.c_str());
        searchCaseSensitive = IsItemChecked(res::kIdFindCaseSensitive);
        End(1);
    } else if (id == res::kIdCancel) {
        End(0);
    }
    return 1;
}

int FindDlg::OnActivate(bool active) {
    if (QWidget* edit = Item(res::kIdFindText); active && edit) edit->setFocus();
    return 0;
}
