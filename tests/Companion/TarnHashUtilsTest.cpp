#include "Companion/TarnHashUtils.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(TStrKeyHashTest, KeysAreCaseSensitiveAndValuesChangeInPlace) {
    TStrKeyHash Hash(257, false);
    Hash.Add("Plugin.A", 0);  // nil values are stored like any other
    Hash.Add("y", 7);
    EXPECT_EQ(Hash.FindNode("plugin.a"), nullptr);
    EXPECT_EQ(Hash.FindNode("PLUGIN.A"), nullptr);
    EXPECT_EQ(Hash.FindNode(""), nullptr);
    uintptr_t* Node = Hash.FindNode("Plugin.A");
    ASSERT_NE(Node, nullptr);
    EXPECT_EQ(*Node, 0u);
    *Node = 42;
    EXPECT_EQ(*Hash.FindNode("Plugin.A"), 42u);
    EXPECT_EQ(*Hash.FindNode("y"), 7u);
    EXPECT_EQ(Hash.Size(), 2u);
}

TEST(TStrKeyHashTest, DuplicateKeysReachTheLastAddedAndRemoveUncoversTheEarlier) {
    TStrKeyHash Hash;
    Hash.Add("id", 1);
    Hash.Add("other", 5);
    Hash.Add("id", 2);
    EXPECT_EQ(Hash.Size(), 3u);
    EXPECT_EQ(*Hash.FindNode("id"), 2u);

    Hash.Remove("id");
    Hash.Remove("missing");
    ASSERT_NE(Hash.FindNode("id"), nullptr);
    EXPECT_EQ(*Hash.FindNode("id"), 1u);
    Hash.Remove("id");
    EXPECT_EQ(Hash.FindNode("id"), nullptr);
    EXPECT_EQ(*Hash.FindNode("other"), 5u);  // removal forgets only its key
    EXPECT_EQ(Hash.Size(), 1u);
    Hash.Add("id", 3);
    EXPECT_EQ(*Hash.FindNode("id"), 3u);
}

}  // namespace
}  // namespace orv
