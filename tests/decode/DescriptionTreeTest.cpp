// Turning a description text into the detail pane's tree items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/DescriptionTree.h"

namespace {

std::string Outline(const std::vector<DescriptionTreeItem>& items) {
    std::string out;
    for (const DescriptionTreeItem& item : items) {
        out += std::to_string(item.depth) + ":" + std::to_string(item.parent) + ":" + item.label +
               "|";
    }
    return out;
}

}  // namespace

TEST(DescriptionTreeTest, LayersAndFieldsNest) {
    // Two layers: the first with a child that has a child of its own, the second with a child.
    const auto items =
        BuildDescriptionTree("Title one\r\n\tField: 1\r\n\t\tSub item\r\nTitle two\r\n\tField: 2");
    EXPECT_EQ(Outline(items),
              "0:-1:Title one|1:0:Field: 1|2:1:Sub item|0:-1:Title two|1:3:Field: 2|");
}

TEST(DescriptionTreeTest, SplitsAtEveryLineEndAndSkipsEmptyLines) {
    // A bare line feed ends a line too (DNS and the hop-by-hop title use one); "\r\n\r\n" and a
    // trailing line end give no empty items.
    const auto items = BuildDescriptionTree(
        "IPv6 Header\r\n\tDest IP: x\nHop by Hop Options Header\r\n\tLength: 0\r\n\r\n\n"
        "DNS\n\tQuestion\n\t\tName: a\r\n");
    EXPECT_EQ(Outline(items),
              "0:-1:IPv6 Header|1:0:Dest IP: x|0:-1:Hop by Hop Options Header|1:2:Length: 0|"
              "0:-1:DNS|1:4:Question|2:5:Name: a|");
    EXPECT_TRUE(BuildDescriptionTree("").empty());
    EXPECT_TRUE(BuildDescriptionTree("\r\n\n\r").empty());
}

TEST(DescriptionTreeTest, DepthCountsEveryTabAndTheLabelFollowsTheLast) {
    const auto items = BuildDescriptionTree("a\tb\tc\r\n\t\r\n\t\t\tdeep\r\nend\t");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].depth, 2);
    EXPECT_EQ(items[0].label, "c");
    EXPECT_EQ(items[1].depth, 1);  // a line of one tab: an item with an empty label
    EXPECT_EQ(items[1].label, "");
    EXPECT_EQ(items[2].depth, 3);
    EXPECT_EQ(items[2].label, "deep");
    EXPECT_EQ(items[2].parent, 1);
    EXPECT_EQ(items[3].label, "");
    // The first line is deeper than the (absent) line before it: under the root.
    EXPECT_EQ(items[0].parent, -1);
    // A depth-1 line after a depth-3 one goes under the item that opened depth 1.
    const auto back = BuildDescriptionTree("T\r\n\tA\r\n\t\tB\r\n\t\t\tC\r\n\tD");
    EXPECT_EQ(back[4].parent, 0);
    EXPECT_EQ(back[3].parent, 2);
}
