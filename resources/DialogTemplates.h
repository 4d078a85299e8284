// The dialog templates: each control's id, kind, text and place in dialog units (a quarter of
// the average character width across, an eighth of the character height down).
#pragma once

#include <vector>

namespace res {

enum class ItemKind {
    Static,
    Edit,
    PushButton,
    DefaultButton,
    CheckBox,
    Picture,
    IpAddress,  // four octet fields editing one IPv4 address
    DropList,   // a drop-down list to choose one entry from
};

struct DialogItem {
    int id;  // -1 for controls that are never addressed
    ItemKind kind;
    const char* text;
    int x, y, width, height;
};

struct DialogTemplate {
    int id;            // numeric templates
    const char* name;  // named templates; null for numeric ones
    const char* title;
    int width, height;
    bool caption;      // a title bar with a system menu; else a bare popup (the splash)
    std::vector<DialogItem> items;
};

// Null when no template has that id or name.
const DialogTemplate* FindDialogTemplate(int id);
const DialogTemplate* FindDialogTemplate(const char* name);

}  // namespace res
