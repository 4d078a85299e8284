// Turning a description text into the items of the detail pane's tree: one item per line, the
// text split at every "\r" and every "\n" (so empty lines vanish), the depth of a line being the
// number of tab characters anywhere in it and its label the text after the last tab.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct DescriptionTreeItem {
    int depth = 0;     // number of tabs in the line
    int parent = -1;   // index of the parent item, -1 for the root
    std::string label;
};

// Calls visit(depth, label) for every non-empty line of the text, in order. The label views
// the text.
template <class Visit>
void ForEachDescriptionLine(std::string_view text, Visit&& visit) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) {
            const std::string_view line = text.substr(start, end - start);
            int depth = 0;
            size_t lastTab = std::string_view::npos;
            for (size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '\t') {
                    ++depth;
                    lastTab = i;
                }
            }
            visit(depth, lastTab == std::string_view::npos ? line : line.substr(lastTab + 1));
        }
        start = end + 1;
    }
}

// The items of the text with their parents. A line deeper than the one before it starts a new
// level under the item before it; a line goes under the item that last started its depth's
// level, or under the root when none has.
std::vector<DescriptionTreeItem> BuildDescriptionTree(std::string_view text);
