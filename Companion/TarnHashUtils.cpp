#include "Companion/TarnHashUtils.h"

namespace orv {

TStrKeyHash::TStrKeyHash(unsigned BucketCount, bool /*Flag*/) { Map_.reserve(BucketCount); }

void TStrKeyHash::Add(const std::string& Key, uintptr_t Value) {
    Map_[Key].push_back(Value);
    ++Size_;
}

uintptr_t* TStrKeyHash::FindNode(const std::string& Key) {
    auto It = Map_.find(Key);
    return It == Map_.end() ? nullptr : &It->second.back();
}

void TStrKeyHash::Remove(const std::string& Key) {
    auto It = Map_.find(Key);
    if (It == Map_.end()) return;
    It->second.pop_back();
    if (It->second.empty()) Map_.erase(It);
    --Size_;
}

}  // namespace orv
