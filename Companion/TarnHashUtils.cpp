#include "Companion/TarnHashUtils.h"

#include <algorithm>

namespace orv {

TStrKeyHash::TStrKeyHash(unsigned /*BucketCount*/, bool /*Flag*/) {}

void TStrKeyHash::Reserve(std::size_t Count) {
    if (Count <= SmallLimit) {
        Small_.reserve(Count);
        return;
    }
    if (!Map_) {
        Map_ = std::make_unique<std::unordered_map<std::string, TEntry>>();
        Map_->reserve(Count);
        for (auto& Small : Small_) Map_->emplace(std::move(Small.Key), std::move(Small.Entry));
        Small_.clear();
        Small_.shrink_to_fit();
    }
    Map_->reserve(Count);
}

TStrKeyHash::TEntry* TStrKeyHash::Find(const std::string& Key) const {
    if (Map_) {
        auto It = Map_->find(Key);
        return It == Map_->end() ? nullptr : const_cast<TEntry*>(&It->second);
    }
    if (Small_.empty()) return nullptr;
    const std::size_t Code = CodeOf(Key);
    for (const auto& Small : Small_)
        if (Small.Code == Code && Small.Key == Key) return const_cast<TEntry*>(&Small.Entry);
    return nullptr;
}

std::pair<TStrKeyHash::TEntry*, bool> TStrKeyHash::Insert(const std::string& Key, uintptr_t Value) {
    if (TEntry* Known = Find(Key)) return {Known, false};
    if (!Map_ && Small_.size() >= SmallLimit) Reserve(SmallLimit * 4);
    if (Map_) return {&Map_->emplace(Key, TEntry{Value, nullptr}).first->second, true};
    Small_.push_back(TSmallEntry{CodeOf(Key), Key, TEntry{Value, nullptr}});
    return {&Small_.back().Entry, true};
}

void TStrKeyHash::Erase(const std::string& Key) {
    if (Map_) {
        Map_->erase(Key);
        return;
    }
    const std::size_t Code = CodeOf(Key);
    auto It = std::find_if(Small_.begin(), Small_.end(),
                           [&](const TSmallEntry& Small) { return Small.Code == Code && Small.Key == Key; });
    if (It != Small_.end()) Small_.erase(It);
}

void TStrKeyHash::Add(const std::string& Key, uintptr_t Value) {
    auto Found = Insert(Key, Value);
    if (!Found.second) {
        TEntry& Entry = *Found.first;
        if (!Entry.Below) Entry.Below = std::make_unique<std::vector<uintptr_t>>();
        Entry.Below->push_back(Entry.Top);
        Entry.Top = Value;
    }
    ++Size_;
}

void TStrKeyHash::Set(const std::string& Key, uintptr_t Value) {
    auto Found = Insert(Key, Value);
    if (Found.second)
        ++Size_;
    else
        Found.first->Top = Value;
}

uintptr_t* TStrKeyHash::FindNode(const std::string& Key) {
    TEntry* Entry = Find(Key);
    return Entry ? &Entry->Top : nullptr;
}

void TStrKeyHash::Remove(const std::string& Key) {
    TEntry* Entry = Find(Key);
    if (!Entry) return;
    if (Entry->Below && !Entry->Below->empty()) {
        Entry->Top = Entry->Below->back();
        Entry->Below->pop_back();
    } else {
        Erase(Key);
    }
    --Size_;
}

bool TStrKeyHash::Holds(const std::string& Key, uintptr_t Value) const {
    const TEntry* Entry = Find(Key);
    if (!Entry) return false;
    return Entry->Top == Value ||
           (Entry->Below && std::find(Entry->Below->begin(), Entry->Below->end(), Value) != Entry->Below->end());
}

void TStrKeyHash::RemoveValue(const std::string& Key, uintptr_t Value) {
    TEntry* Entry = Find(Key);
    if (!Entry) return;
    if (Entry->Top == Value) {
        Remove(Key);
        return;
    }
    if (!Entry->Below) return;
    auto At = std::find(Entry->Below->rbegin(), Entry->Below->rend(), Value);
    if (At == Entry->Below->rend()) return;
    Entry->Below->erase(std::next(At).base());
    --Size_;
}

}  // namespace orv
