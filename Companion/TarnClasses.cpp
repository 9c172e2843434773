#include "Companion/TarnClasses.h"

#include <algorithm>
#include <string>

namespace orv {

TTarnInterfaceList::~TTarnInterfaceList() { Clear(); }

void TTarnInterfaceList::Add(IInterface* Item) {
    Items_.push_back(Item);
    if (Counts_) {
        try {
            ++(*Counts_)[Item];
        } catch (...) {
            Items_.pop_back();
            throw;
        }
    }
    if (Item) Item->AddRef();
}

IInterface* TTarnInterfaceList::GetItems(int32_t Index) const {
    if (Index < 0 || Index >= GetCount())
        throw EORVException("Interface list index " + std::to_string(Index) + " out of bounds (count " +
                            std::to_string(GetCount()) + ")");
    return Items_[static_cast<std::size_t>(Index)];
}

void TTarnInterfaceList::BuildCounts() const {
    Counts_ = std::make_unique<std::unordered_map<IInterface*, int32_t>>();
    Counts_->reserve(Items_.size() * 2);
    for (IInterface* Item : Items_) ++(*Counts_)[Item];
}

int32_t TTarnInterfaceList::IndexOf(IInterface* Item) const {
    // A count map, when there is one, answers "absent" without touching the list.
    if (Counts_ && !Contains(Item)) return -1;
    auto It = std::find(Items_.begin(), Items_.end(), Item);
    return It == Items_.end() ? -1 : static_cast<int32_t>(It - Items_.begin());
}

bool TTarnInterfaceList::Contains(IInterface* Item) const {
    if (!Counts_) {
        if (Items_.size() <= ScanLimit) return std::find(Items_.begin(), Items_.end(), Item) != Items_.end();
        BuildCounts();
    }
    return Counts_->find(Item) != Counts_->end();
}

void TTarnInterfaceList::Remove(IInterface* Item) {
    auto At = std::find(Items_.begin(), Items_.end(), Item);
    if (At == Items_.end()) return;
    Items_.erase(At);
    if (Counts_) {
        auto Count = Counts_->find(Item);
        if (--Count->second == 0) Counts_->erase(Count);
    }
    // Released only after the bookkeeping: the item's destructor may look at this list.
    if (Item) Item->Release();
}

void TTarnInterfaceList::RemoveEach(const std::unordered_set<IInterface*>& Items) {
    std::vector<IInterface*> Removed;
    std::unordered_set<IInterface*> Pending = Items;
    auto Kept = std::remove_if(Items_.begin(), Items_.end(), [&](IInterface* Item) {
        if (!Pending.erase(Item)) return false;
        Removed.push_back(Item);
        return true;
    });
    Items_.erase(Kept, Items_.end());
    if (Counts_)
        for (IInterface* Item : Removed) {
            auto Count = Counts_->find(Item);
            if (--Count->second == 0) Counts_->erase(Count);
        }
    for (IInterface* Item : Removed)
        if (Item) Item->Release();
}

void TTarnInterfaceList::Clear() {
    std::vector<IInterface*> Items;
    Items.swap(Items_);
    Counts_.reset();
    for (IInterface* Item : Items)
        if (Item) Item->Release();
}

}  // namespace orv
