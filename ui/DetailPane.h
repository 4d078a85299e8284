// The detail pane: the selected packet's description as a tree, one item per line, nested by
// the tabs the line is indented with; it remembers which layers the user expanded.
#pragma once

#include <array>
#include <cstdint>

#include "framework/str.h"

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

inline constexpr int kRememberedLayers = 32;

// One flag per top-level position of the pane (the protocol layers): expanded when set. All set
// when the pane is created; kept for the life of the process.
extern std::array<uint8_t, kRememberedLayers> expandedLayers;

// Creates the pane's tree control, with the layer memory connected.
QTreeWidget* CreateDetailPane(QWidget* parent);

// Replaces the tree's items by the lines of the text and expands the layers whose flags are
// set. True.
bool FillTree(QTreeWidget* tree, const str& text);

// Remembers the state of a top-level item that was expanded or collapsed; deeper items are
// not remembered.
void RememberExpansion(QTreeWidget* tree, QTreeWidgetItem* item, bool expanded);
