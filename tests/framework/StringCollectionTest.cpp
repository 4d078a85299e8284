#include "framework/StringCollection.h"

#include <gtest/gtest.h>

#include <string>

TEST(StringCollection, UniqueAddIgnoresCaseUnlessAsked) {
    StringCollection names;
    EXPECT_EQ(names.Add("Eth0"), 0);
    EXPECT_EQ(names.Add("ETH0"), 0);
    EXPECT_EQ(names.Add("wlan0"), 1);
    EXPECT_EQ(names.Add(nullptr), -1);
    EXPECT_EQ(names.Add(""), -1);
    EXPECT_EQ(names.Count(), 2);
    EXPECT_STREQ(names.Get(0), "Eth0");
    int index = -1;
    EXPECT_TRUE(names.Find("WLAN0", &index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(names.Find("wlan", &index));

    StringCollection exact(true, true);
    EXPECT_EQ(exact.Add("a"), 0);
    EXPECT_EQ(exact.Add("A"), 1);
    EXPECT_EQ(exact.Add("A"), 1);
    EXPECT_TRUE(exact.Find("A", &index));
    EXPECT_EQ(index, 1);

    StringCollection repeats(false);
    EXPECT_EQ(repeats.Add("x"), 0);
    EXPECT_EQ(repeats.Add("x"), 1);
    EXPECT_EQ(repeats.Count(), 2);
}

TEST(StringCollection, OwnsCopiesAndRemoveShiftsDown) {
    StringCollection names;
    std::string text = "first";
    names.Add(text.c_str());
    text = "changed";
    names.Add("second");
    names.Add("third");
    EXPECT_STREQ(names.Get(0), "first");
    EXPECT_EQ(names.Get(names.Count()), nullptr);
    EXPECT_EQ(names.Get(-1), nullptr);

    EXPECT_TRUE(names.Remove(0));
    EXPECT_EQ(names.Count(), 2);
    EXPECT_STREQ(names.Get(0), "second");
    EXPECT_STREQ(names.Get(1), "third");
    EXPECT_EQ(names.Get(2), nullptr);
    EXPECT_FALSE(names.Remove(2));
    EXPECT_EQ(names.Count(), 2);

    names.SetModified(false);
    names.Add("THIRD");  // already present: no change
    EXPECT_FALSE(names.IsModified());
    names.RemoveAll();
    EXPECT_TRUE(names.IsModified());
    EXPECT_EQ(names.Get(0), nullptr);
}
