#include "Companion/TarnClasses.h"

#include <algorithm>
#include <string>

namespace orv {

namespace {

// What a removed item leaves in the list until the next access by position; never an item.
alignas(void*) char HoleTag[sizeof(void*)];
IInterface* Hole() { return reinterpret_cast<IInterface*>(HoleTag); }

}  // namespace

TTarnInterfaceList::~TTarnInterfaceList() { Clear(); }

void TTarnInterfaceList::Add(IInterface* Item) {
    Items_.push_back(Item);
    if (Index_) {
        try {
            ++(*Index_)[Item];
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
    return At(static_cast<std::size_t>(Index));
}

void TTarnInterfaceList::BuildIndex() const {
    // Only a list with an index has holes: this one has none.
    Index_ = std::make_unique<std::unordered_map<IInterface*, int32_t>>();
    Index_->reserve(Items_.size() * 2);
    for (IInterface* Item : Items_) ++(*Index_)[Item];
}

void TTarnInterfaceList::Close() const {
    Items_.erase(std::remove(Items_.begin(), Items_.end(), Hole()), Items_.end());
    Holes_ = 0;
}

std::size_t TTarnInterfaceList::Seek(IInterface* Item, std::size_t From) const {
    return static_cast<std::size_t>(std::find(Items_.begin() + static_cast<std::ptrdiff_t>(From), Items_.end(), Item) -
                                    Items_.begin());
}

void TTarnInterfaceList::Unindex(IInterface* Item) {
    auto Found = Index_->find(Item);
    if (--Found->second == 0) Index_->erase(Found);
}

int32_t TTarnInterfaceList::IndexOf(IInterface* Item) const {
    if (!Contains(Item)) return -1;
    if (Holes_) Close();
    return static_cast<int32_t>(Seek(Item, 0));
}

bool TTarnInterfaceList::Contains(IInterface* Item) const {
    if (!Index_) {
        if (Items_.size() <= ScanLimit) return std::find(Items_.begin(), Items_.end(), Item) != Items_.end();
        BuildIndex();
    }
    return Index_->find(Item) != Index_->end();
}

void TTarnInterfaceList::Remove(IInterface* Item) {
    if (!Contains(Item)) return;
    if (Index_) {
        // The first occurrence becomes a hole; the list closes it when it is next read by position.
        Items_[Seek(Item, 0)] = Hole();
        ++Holes_;
        Unindex(Item);
    } else {
        Items_.erase(Items_.begin() + static_cast<std::ptrdiff_t>(Seek(Item, 0)));
    }
    // Released only after the bookkeeping: the item's destructor may look at this list.
    if (Item) Item->Release();
}

void TTarnInterfaceList::RemoveEach(const std::unordered_set<IInterface*>& Items) {
    if (Holes_) Close();
    std::vector<IInterface*> Removed;
    std::unordered_set<IInterface*> Pending = Items;
    auto Kept = std::remove_if(Items_.begin(), Items_.end(), [&](IInterface* Item) {
        if (!Pending.erase(Item)) return false;
        Removed.push_back(Item);
        return true;
    });
    Items_.erase(Kept, Items_.end());
    if (Index_) {
        for (IInterface* Item : Removed) Unindex(Item);
    }
    for (IInterface* Item : Removed)
        if (Item) Item->Release();
}

void TTarnInterfaceList::Clear() {
    std::vector<IInterface*> Items;
    Items.swap(Items_);
    Index_.reset();
    Holes_ = 0;
    for (IInterface* Item : Items)
        if (Item && Item != Hole()) Item->Release();
}

}  // namespace orv
