#include "Companion/TarnHashUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

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

// Many keys, added, overwritten, repeated and removed in random order, against a plain model: the
// table grows past its small form and closes the gaps that removals leave.
TEST(TStrKeyHashTest, ManyKeysBehaveAsAStackPerKey) {
    std::mt19937 Random(3);
    TStrKeyHash Hash;
    std::map<std::string, std::vector<uintptr_t>> Model;
    std::size_t Entries = 0;
    for (int Step = 0; Step < 20000; ++Step) {
        const std::string Key = "k" + std::to_string(Random() % 700);
        const uintptr_t Value = Random() % 5;
        std::vector<uintptr_t>& Stack = Model[Key];
        switch (Random() % 5) {
            case 0:
            case 1:
                Hash.Add(Key, Value);
                Stack.push_back(Value);
                ++Entries;
                break;
            case 2:
                Hash.Set(Key, Value);
                if (Stack.empty()) {
                    ++Entries;
                    Stack.push_back(Value);
                } else {
                    Stack.back() = Value;
                }
                break;
            case 3:
                Hash.Remove(Key);
                if (!Stack.empty()) {
                    --Entries;
                    Stack.pop_back();
                }
                break;
            default: {
                Hash.RemoveValue(Key, Value);
                auto At = std::find(Stack.rbegin(), Stack.rend(), Value);
                if (At != Stack.rend()) {
                    --Entries;
                    Stack.erase(std::next(At).base());
                }
            }
        }
        ASSERT_EQ(Hash.Size(), Entries);
        if (Step % 97 != 0) continue;
        for (const auto& Known : Model) {
            uintptr_t* Node = Hash.FindNode(Known.first);
            ASSERT_EQ(Node != nullptr, !Known.second.empty()) << Known.first;
            if (Node) {
                ASSERT_EQ(*Node, Known.second.back()) << Known.first;
            }
            for (uintptr_t V = 0; V < 5; ++V)
                ASSERT_EQ(Hash.Holds(Known.first, V),
                          std::find(Known.second.begin(), Known.second.end(), V) != Known.second.end());
        }
    }
}

}  // namespace
}  // namespace orv
