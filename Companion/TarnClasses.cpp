#include "Companion/TarnClasses.h"

#include <algorithm>
#include <string>

namespace orv {

namespace {

// What a removed item leaves in the list until the next access by position; never an item.
alignas(void*) char HoleTag[sizeof(void*)];
IInterface* Hole() { return reinterpret_cast<IInterface*>(HoleTag); }

constexpr std::size_t NoPlace = static_cast<std::size_t>(-1);

}  // namespace

TTarnInterfaceList::~TTarnInterfaceList() { Clear(); }

void TTarnInterfaceList::Add(IInterface* Item) {
    Items_.push_back(Item);
    if (Index_) {
        try {
            auto Found = Index_->find(Item);
            if (Found == Index_->end())
                Index_->emplace(Item, TPlaces{1, Items_.size() - 1});
            else
                ++Found->second.Count;
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
    Index_ = std::make_unique<std::unordered_map<IInterface*, TPlaces>>();
    Index_->reserve(Items_.size() * 2);
    for (std::size_t I = 0; I < Items_.size(); ++I) {
        auto Found = Index_->emplace(Items_[I], TPlaces{0, I}).first;
        ++Found->second.Count;
    }
}

void TTarnInterfaceList::Close() const {
    if (Holes_) {
        Items_.erase(std::remove(Items_.begin(), Items_.end(), Hole()), Items_.end());
        Holes_ = 0;
    }
    if (!Index_) return;
    for (auto& Entry : *Index_) Entry.second.First = NoPlace;
    for (std::size_t I = 0; I < Items_.size(); ++I) {
        TPlaces& Places = (*Index_)[Items_[I]];
        if (Places.First == NoPlace) Places.First = I;
    }
}

std::size_t TTarnInterfaceList::Seek(IInterface* Item, std::size_t From) const {
    return static_cast<std::size_t>(std::find(Items_.begin() + static_cast<std::ptrdiff_t>(From), Items_.end(), Item) -
                                    Items_.begin());
}

void TTarnInterfaceList::Unindex(IInterface* Item, std::size_t At) {
    auto Found = Index_->find(Item);
    if (--Found->second.Count == 0)
        Index_->erase(Found);
    else
        // Only a pointer held twice gets here (the registry's descriptors, rarely).
        Found->second.First = Seek(Item, At + 1);
}

int32_t TTarnInterfaceList::IndexOf(IInterface* Item) const {
    if (!Contains(Item)) return -1;
    if (Holes_) Close();
    if (Index_) return static_cast<int32_t>(Index_->find(Item)->second.First);
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
        const std::size_t At = Index_->find(Item)->second.First;
        Items_[At] = Hole();
        ++Holes_;
        Unindex(Item, At);
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
        for (IInterface* Item : Removed) {
            auto Found = Index_->find(Item);
            if (--Found->second.Count == 0) Index_->erase(Found);
        }
        Close();
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
