// The main menu (menu kMainMenu) and the accelerator table (kAccelerators).
#pragma once

#include <Qt>
#include <vector>

namespace res {

struct MenuEntry {
    const char* text;  // null for a separator; the accelerator label follows a tab
    int command;       // 0 for a submenu
    std::vector<MenuEntry> submenu;
};

// The menu bar: one entry per top-level menu, each with its items.
const std::vector<MenuEntry>& MainMenu();

struct Accelerator {
    Qt::KeyboardModifiers modifiers;
    Qt::Key key;
    int command;
};

const std::vector<Accelerator>& AcceleratorTable();

}  // namespace res
