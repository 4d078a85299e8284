// The "Find" dialog and the search text it keeps for the life of the process, so that the
// dialog opens with the last text and Find Next repeats it.
#pragma once

#include <cstddef>

#include "framework/gui/Dialog.h"

inline constexpr size_t kSearchTextSize = 256;
inline constexpr size_t kSearchTextTaken = 254;  // characters taken from the dialog

extern char searchText[kSearchTextSize];
// "&Case Sensitive": when set, letters must match in case too.
extern bool searchCaseSensitive;

class FindDlg : public Dialog {
public:
    FindDlg();

protected:
    int OnInitDialog() override;
    // "&Find" keeps the text (and the case choice) and ends with 1; "Cancel" ends with 0.
    int OnCommand(int id, int code, QWidget* control) override;
    int OnActivate(bool active) override;
};
