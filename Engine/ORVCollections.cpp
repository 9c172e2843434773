#include "Engine/ORVCollections.h"

#include "Common/ORVMiscUtils.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace orv {

// --- TORVCollection ------------------------------------------------------------------------------

template <class CollIntf, class ItemIntf>
TORVCollection<CollIntf, ItemIntf>::TORVCollection(bool Hashed) : Hashed_(Hashed) {}

template <class CollIntf, class ItemIntf>
TStrKeyHash& TORVCollection<CollIntf, ItemIntf>::Hash() const {
    if (!Hash_) {
        auto Made = std::make_unique<TStrKeyHash>();
        const std::size_t Count = static_cast<std::size_t>(List_.GetCount());
        Made->Reserve(Count);
        for (std::size_t I = 0; I < Count; ++I) {
            auto* Item = static_cast<ItemIntf*>(List_.At(I));
            Made->Add(Item->GetID(), Word(Item));
        }
        Hash_ = std::move(Made);
        Codes_.clear();
        Codes_.shrink_to_fit();
    }
    return *Hash_;
}

template <class CollIntf, class ItemIntf>
bool TORVCollection<CollIntf, ItemIntf>::OnlyCode(uint32_t Code) const {
    return std::count(Codes_.begin(), Codes_.end(), Code) == 1;
}

template <class CollIntf, class ItemIntf>
void TORVCollection<CollIntf, ItemIntf>::Reserve(std::size_t Count) {
    List_.Reserve(Count);
    if (Hashed_) Hash().Reserve(Count);
}

template <class CollIntf, class ItemIntf>
void TORVCollection<CollIntf, ItemIntf>::Grow(std::size_t More) {
    const std::size_t Count = static_cast<std::size_t>(List_.GetCount()) + More;
    List_.Reserve(Count);
    if (Hashed_ && !Hash_) Codes_.reserve(Count);
}

template <class CollIntf, class ItemIntf>
ItemIntf* TORVCollection<CollIntf, ItemIntf>::ItemAt(int32_t Index) const {
    // The list only ever receives item interfaces (see Add), so the stored pointer is one.
    return static_cast<ItemIntf*>(List_.GetItems(Index));
}

template <class CollIntf, class ItemIntf>
void TORVCollection<CollIntf, ItemIntf>::Clear() {
    // The keys first: releasing an item may run code that looks at this collection.
    if (Hash_) Hash_ = std::make_unique<TStrKeyHash>();
    Codes_.clear();
    List_.Clear();
}

template <class CollIntf, class ItemIntf>
Ref<ItemIntf> ORV_CALL TORVCollection<CollIntf, ItemIntf>::Find(const std::string& Id) {
    return Ref<ItemIntf>(FindItem(Id));
}

template <class CollIntf, class ItemIntf>
ItemIntf* TORVCollection<CollIntf, ItemIntf>::FindItem(const std::string& Id) const {
    if (Id.empty()) return nullptr;
    if (Hashed_) {
        uintptr_t* Node = Hash().FindNode(Id);
        return Node ? FromWord(*Node) : nullptr;
    }
    const int32_t Count = List_.GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        ItemIntf* Item = ItemAt(I);
        if (SameTextAscii(Item->GetID(), Id)) return Item;
    }
    return nullptr;
}

template <class CollIntf, class ItemIntf>
int32_t ORV_CALL TORVCollection<CollIntf, ItemIntf>::GetCount() {
    return List_.GetCount();
}

template <class CollIntf, class ItemIntf>
Ref<ItemIntf> ORV_CALL TORVCollection<CollIntf, ItemIntf>::GetItem(int32_t Index) {
    return Ref<ItemIntf>(ItemAt(Index));
}

// --- TORVDescriptors -----------------------------------------------------------------------------

// Always with its hash: Holds answers through it.
TORVDescriptors::TORVDescriptors() : TORVCollection(true) { Hash_ = std::make_unique<TStrKeyHash>(); }

void TORVDescriptors::Add(const Ref<IORVDescriptor>& Item) {
    TExceptionBuilder::CheckNotNil(Item);
    const std::string Key = Item->GetID();
    // The list first: should the hash fail to grow, no uncounted pointer is left behind.
    List_.Add(Item.Get());
    try {
        Hash_->Add(Key, Word(Item.Get()));
    } catch (...) {
        List_.Remove(Item.Get());
        throw;
    }
}

void TORVDescriptors::Remove(const Ref<IORVDescriptor>& Item) {
    if (!Item) return;
    // The hash keeps one entry per addition: this descriptor's own goes, so that the key never
    // leads to a descriptor that the list no longer holds.
    Hash_->RemoveValue(Item->GetID(), Word(Item.Get()));
    List_.Remove(Item.Get());
}

void TORVDescriptors::RemoveEach(const std::vector<Ref<IORVDescriptor>>& Items) {
    std::unordered_set<IInterface*> Leaving;
    for (const Ref<IORVDescriptor>& Item : Items) {
        if (!Item) continue;
        Hash_->RemoveValue(Item->GetID(), Word(Item.Get()));
        Leaving.insert(Item.Get());
    }
    List_.RemoveEach(Leaving);
}

bool TORVDescriptors::Holds(IORVDescriptor* Item) const {
    return Item && Hash_->Holds(Item->GetID(), Word(Item));
}

// --- TORVUniqueCollection ------------------------------------------------------------------------

template <class CollIntf, class ItemIntf>
TORVUniqueCollection<CollIntf, ItemIntf>::TORVUniqueCollection(bool Hashed, const TAssertSite& AddSite)
    : TORVCollection<CollIntf, ItemIntf>(Hashed), AddSite_(AddSite) {}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::Add(const Ref<ItemIntf>& Item) {
    Assert(static_cast<bool>(Item), AddSite_);
    AddKeyed(Item.Get(), this->Hashed_ ? Item->GetID() : std::string());
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::AddKeyed(ItemIntf* Item, const std::string& Key) {
    if (this->List_.Contains(Item))
        EnterKeyOfHeld(Item, Key);
    else
        AppendNew(Item, Key);
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::AppendNew(ItemIntf* Item, const std::string& Key) {
    // The list first: should the keys fail to grow, no uncounted pointer is left behind.
    this->List_.Add(Item);
    if (!this->Hashed_) return;
    try {
        if (this->Hash_)
            this->Hash_->Add(Key, this->Word(Item));
        else
            this->Codes_.push_back(this->CodeOf(Key));
    } catch (...) {
        this->List_.Remove(Item);
        throw;
    }
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::AppendNew(ItemIntf* Item, uint32_t Code) {
    if (!this->Hashed_ || this->Hash_) {
        AppendNew(Item, this->Hashed_ ? Item->GetID() : std::string());
        return;
    }
    this->List_.Add(Item);
    try {
        this->Codes_.push_back(Code);
    } catch (...) {
        this->List_.Remove(Item);
        throw;
    }
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::EnterKeyOfHeld(ItemIntf* Item, const std::string& Key) {
    if (!this->Hashed_) return;
    // The only item under its key has that key already.
    if (!this->Hash_ && this->OnlyCode(this->CodeOf(Key))) return;
    TStrKeyHash& Hash = this->Hash();
    const uintptr_t* Top = Hash.FindNode(Key);
    if (Top && *Top == this->Word(Item)) return;
    // The item's own entry moves on top of the others of its id.
    Hash.RemoveValue(Key, this->Word(Item));
    Hash.Add(Key, this->Word(Item));
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::Remove(const Ref<ItemIntf>& Item) {
    // An item that is not held leaves the keys alone: they lead to items that are.
    if (!Item || !this->List_.Contains(Item.Get())) return;
    if (this->Hashed_) {
        if (this->Hash_ || this->List_.GetCount() > HashOnRemoveLimit)
            // The item's own entry goes; another item of its id, entered before, takes the key
            // again. A long collection gets its hash now: an unload takes many items out of it.
            this->Hash().RemoveValue(Item->GetID(), this->Word(Item.Get()));
        else
            // Without a hash, the codes stand beside the list: the item's goes with it.
            this->Codes_.erase(this->Codes_.begin() + this->List_.IndexOf(Item.Get()));
    }
    this->List_.Remove(Item.Get());
}

// --- the two unique collections ------------------------------------------------------------------

TORVExtensionPoints::TORVExtensionPoints(bool Hashed) : TORVUniqueCollection(Hashed, AssertSites::AddExtensionPoint) {}

TORVExtensions::TORVExtensions(bool Hashed) : TORVUniqueCollection(Hashed, AssertSites::AddExtension) {}

template class TORVCollection<IORVDescriptors, IORVDescriptor>;
template class TORVCollection<IORVExtensionPoints, IORVExtensionPoint>;
template class TORVCollection<IORVExtensions, IORVExtension>;
template class TORVUniqueCollection<IORVExtensionPoints, IORVExtensionPoint>;
template class TORVUniqueCollection<IORVExtensions, IORVExtension>;

}  // namespace orv
