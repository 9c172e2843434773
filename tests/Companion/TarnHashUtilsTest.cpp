#include "Companion/TarnHashUtils.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(TStrKeyHashTest, KeysAreCaseSensitive) {
    TStrKeyHash Hash(257, false);
    Hash.Add("Plugin.A", 1);
    ASSERT_NE(Hash.FindNode("Plugin.A"), nullptr);
    EXPECT_EQ(*Hash.FindNode("Plugin.A"), 1u);
    EXPECT_EQ(Hash.FindNode("plugin.a"), nullptr);
    EXPECT_EQ(Hash.FindNode("PLUGIN.A"), nullptr);
    EXPECT_EQ(Hash.FindNode(""), nullptr);
}

TEST(TStrKeyHashTest, ValuesAreOverwrittenInPlaceThroughFindNode) {
    TStrKeyHash Hash;
    Hash.Add("x", 0);  // nil values are stored like any other
    Hash.Add("y", 7);
    uintptr_t* Node = Hash.FindNode("x");
    ASSERT_NE(Node, nullptr);
    EXPECT_EQ(*Node, 0u);
    *Node = 42;
    EXPECT_EQ(*Hash.FindNode("x"), 42u);
    EXPECT_EQ(*Hash.FindNode("y"), 7u);
    EXPECT_EQ(Hash.Size(), 2u);
}

TEST(TStrKeyHashTest, DuplicateKeysReachTheLastAddedAndRemoveUncoversTheEarlier) {
    TStrKeyHash Hash;
    Hash.Add("id", 1);
    Hash.Add("id", 2);
    EXPECT_EQ(Hash.Size(), 2u);
    EXPECT_EQ(*Hash.FindNode("id"), 2u);

    Hash.Remove("id");
    ASSERT_NE(Hash.FindNode("id"), nullptr);
    EXPECT_EQ(*Hash.FindNode("id"), 1u);
    Hash.Remove("id");
    EXPECT_EQ(Hash.FindNode("id"), nullptr);
    EXPECT_EQ(Hash.Size(), 0u);
}

TEST(TStrKeyHashTest, RemoveForgetsOnlyItsKey) {
    TStrKeyHash Hash;
    Hash.Add("a", 1);
    Hash.Add("b", 2);
    Hash.Remove("a");
    Hash.Remove("missing");
    EXPECT_EQ(Hash.FindNode("a"), nullptr);
    ASSERT_NE(Hash.FindNode("b"), nullptr);
    EXPECT_EQ(*Hash.FindNode("b"), 2u);
    EXPECT_EQ(Hash.Size(), 1u);
    Hash.Add("a", 3);
    EXPECT_EQ(*Hash.FindNode("a"), 3u);
}

}  // namespace
}  // namespace orv
