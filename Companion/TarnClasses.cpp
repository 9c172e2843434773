#include "Companion/TarnClasses.h"

#include <string>

#include <algorithm>

namespace orv {

TTarnInterfaceList::~TTarnInterfaceList() { Clear(); }

void TTarnInterfaceList::Add(IInterface* Item) {
    Items_.push_back(Item);
    try {
        ++Counts_[Item];
    } catch (...) {
        Items_.pop_back();
        throw;
    }
    if (Item) Item->AddRef();
}

IInterface* TTarnInterfaceList::GetItems(int32_t Index) const {
    if (Index < 0 || Index >= GetCount())
        throw EORVException("Interface list index " + std::to_string(Index) + " out of bounds (count " +
                            std::to_string(GetCount()) + ")");
    return Items_[static_cast<std::size_t>(Index)];
}

int32_t TTarnInterfaceList::IndexOf(IInterface* Item) const {
    // The count map answers "absent" without touching the list.
    if (!Contains(Item)) return -1;
    auto It = std::find(Items_.begin(), Items_.end(), Item);
    return static_cast<int32_t>(It - Items_.begin());
}

bool TTarnInterfaceList::Contains(IInterface* Item) const { return Counts_.find(Item) != Counts_.end(); }

void TTarnInterfaceList::Remove(IInterface* Item) {
    auto Count = Counts_.find(Item);
    if (Count == Counts_.end()) return;
    Items_.erase(std::find(Items_.begin(), Items_.end(), Item));
    if (--Count->second == 0) Counts_.erase(Count);
    // Released only after the bookkeeping: the item's destructor may look at this list.
    if (Item) Item->Release();
}

void TTarnInterfaceList::Clear() {
    std::vector<IInterface*> Items;
    Items.swap(Items_);
    Counts_.clear();
    for (IInterface* Item : Items)
        if (Item) Item->Release();
}

}  // namespace orv
