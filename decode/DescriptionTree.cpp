#include "decode/DescriptionTree.h"

#include <algorithm>
#include <array>

std::vector<DescriptionTreeItem> BuildDescriptionTree(std::string_view text) {
    // One parent entry per depth; depths beyond the table share its last entry.
    constexpr int kDepths = 64;
    std::array<int, kDepths> parents;
    parents.fill(-1);

    std::vector<DescriptionTreeItem> items;
    int previousDepth = 0;
    ForEachDescriptionLine(text, [&](int depth, std::string_view label) {
        const int slot = std::min(depth, kDepths - 1);
        if (depth > previousDepth) parents[slot] = static_cast<int>(items.size()) - 1;
        items.push_back({depth, parents[slot], std::string(label)});
        previousDepth = depth;
    });
    return items;
}
