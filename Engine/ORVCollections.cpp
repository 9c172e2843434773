#include "Engine/ORVCollections.h"

#include "Common/ORVMiscUtils.h"
#include "Engine/ORVDescriptor.h"
#include "Engine/ORVExtension.h"
#include "Engine/ORVExtensionPoint.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace orv {

// --- TORVCollection ------------------------------------------------------------------------------

template <class CollIntf, class ItemIntf, class Model>
TORVCollection<CollIntf, ItemIntf, Model>::TORVCollection(bool Hashed) : Hashed_(Hashed) {}

template <class CollIntf, class ItemIntf, class Model>
TStrKeyHash& TORVCollection<CollIntf, ItemIntf, Model>::Hash() const {
    if (!Hash_) {
        auto Made = std::make_unique<TStrKeyHash>();
        const std::size_t Count = static_cast<std::size_t>(List_.GetCount());
        Made->Reserve(Count);
        for (std::size_t I = 0; I < Count; ++I) {
            auto* Entry = static_cast<ItemIntf*>(List_.At(I));
            Made->Add(Entry->GetID(), Word(Entry));
        }
        Hash_ = std::move(Made);
        Codes_.clear();
        Codes_.shrink_to_fit();
    }
    return *Hash_;
}

template <class CollIntf, class ItemIntf, class Model>
bool TORVCollection<CollIntf, ItemIntf, Model>::OnlyCode(uint32_t Code) const {
    return std::count(Codes_.begin(), Codes_.end(), Code) == 1;
}

template <class CollIntf, class ItemIntf, class Model>
void TORVCollection<CollIntf, ItemIntf, Model>::Reserve(std::size_t Count) {
    List_.Reserve(Count);
    if (Hashed_) Hash().Reserve(Count);
}

template <class CollIntf, class ItemIntf, class Model>
void TORVCollection<CollIntf, ItemIntf, Model>::Grow(std::size_t More) {
    const std::size_t Count = static_cast<std::size_t>(List_.GetCount()) + More;
    List_.Reserve(Count);
    if (Hashed_ && !Hash_) Codes_.reserve(Count);
}

template <class CollIntf, class ItemIntf, class Model>
Model* TORVCollection<CollIntf, ItemIntf, Model>::ObjectOf(ItemIntf* Entry) {
    return static_cast<Model*>(Entry);
}

template <class CollIntf, class ItemIntf, class Model>
Model* TORVCollection<CollIntf, ItemIntf, Model>::ItemAt(int32_t Index) const {
    // The list only ever receives Model objects as their interface (see Add).
    return ObjectOf(static_cast<ItemIntf*>(List_.GetItems(Index)));
}

template <class CollIntf, class ItemIntf, class Model>
void TORVCollection<CollIntf, ItemIntf, Model>::Clear() {
    // The keys first: releasing an item may run code that looks at this collection.
    if (Hash_) Hash_ = std::make_unique<TStrKeyHash>();
    Codes_.clear();
    List_.Clear();
}

template <class CollIntf, class ItemIntf, class Model>
Ref<ItemIntf> ORV_CALL TORVCollection<CollIntf, ItemIntf, Model>::Find(const std::string& Id) {
    return Ref<ItemIntf>(static_cast<ItemIntf*>(FindItem(Id)));
}

template <class CollIntf, class ItemIntf, class Model>
Model* TORVCollection<CollIntf, ItemIntf, Model>::FindItem(const std::string& Id) const {
    if (Id.empty()) return nullptr;
    if (Hashed_) {
        uintptr_t* Node = Hash().FindNode(Id);
        return Node ? ObjectOf(FromWord(*Node)) : nullptr;
    }
    const int32_t Count = List_.GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        Model* Entry = ItemAt(I);
        if (SameTextAscii(Entry->GetID(), Id)) return Entry;
    }
    return nullptr;
}

template <class CollIntf, class ItemIntf, class Model>
int32_t ORV_CALL TORVCollection<CollIntf, ItemIntf, Model>::GetCount() {
    return List_.GetCount();
}

template <class CollIntf, class ItemIntf, class Model>
Ref<ItemIntf> ORV_CALL TORVCollection<CollIntf, ItemIntf, Model>::GetItem(int32_t Index) {
    return Ref<ItemIntf>(static_cast<ItemIntf*>(ItemAt(Index)));
}

// --- TORVDescriptors -----------------------------------------------------------------------------

// Always with its hash: Holds answers through it.
TORVDescriptors::TORVDescriptors() : TORVCollection(true) { Hash_ = std::make_unique<TStrKeyHash>(); }

void TORVDescriptors::Add(TORVDescriptor* Item) {
    TExceptionBuilder::CheckNotNil(Item);
    IORVDescriptor* Entry = Item;
    const std::string Key = Entry->GetID();
    // The list first: should the hash fail to grow, no uncounted pointer is left behind.
    List_.Add(Entry);
    try {
        Hash_->Add(Key, Word(Entry));
    } catch (...) {
        List_.Remove(Entry);
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

bool TORVDescriptors::Holds(IORVDescriptor* Item) const {
    return Item && Hash_->Holds(Item->GetID(), Word(Item));
}

// --- TORVUniqueCollection ------------------------------------------------------------------------

template <class CollIntf, class ItemIntf, class Model>
TORVUniqueCollection<CollIntf, ItemIntf, Model>::TORVUniqueCollection(bool Hashed, const TAssertSite& AddSite)
    : TORVCollection<CollIntf, ItemIntf, Model>(Hashed), AddSite_(AddSite) {}

template <class CollIntf, class ItemIntf, class Model>
void TORVUniqueCollection<CollIntf, ItemIntf, Model>::Add(Model* Entry) {
    Assert(Entry != nullptr, AddSite_);
    const std::string Key = this->Hashed_ ? Entry->GetID() : std::string();
    if (this->List_.Contains(static_cast<ItemIntf*>(Entry)))
        EnterKeyOfHeld(Entry, Key);
    else
        AppendNew(Entry, Key);
}

template <class CollIntf, class ItemIntf, class Model>
void TORVUniqueCollection<CollIntf, ItemIntf, Model>::AppendNew(Model* Entry, const std::string& Key) {
    ItemIntf* Item = Entry;
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

template <class CollIntf, class ItemIntf, class Model>
void TORVUniqueCollection<CollIntf, ItemIntf, Model>::AppendNew(Model* Entry, uint32_t Code) {
    if (!this->Hashed_ || this->Hash_) {
        AppendNew(Entry, this->Hashed_ ? Entry->GetID() : std::string());
        return;
    }
    ItemIntf* Item = Entry;
    this->List_.Add(Item);
    try {
        this->Codes_.push_back(Code);
    } catch (...) {
        this->List_.Remove(Item);
        throw;
    }
}

template <class CollIntf, class ItemIntf, class Model>
void TORVUniqueCollection<CollIntf, ItemIntf, Model>::EnterKeyOfHeld(ItemIntf* Item, const std::string& Key) {
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

template <class CollIntf, class ItemIntf, class Model>
void TORVUniqueCollection<CollIntf, ItemIntf, Model>::Remove(const Ref<ItemIntf>& Item) {
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

template class TORVCollection<IORVDescriptors, IORVDescriptor, TORVDescriptor>;
template class TORVCollection<IORVExtensionPoints, IORVExtensionPoint, TORVExtensionPoint>;
template class TORVCollection<IORVExtensions, IORVExtension, TORVExtension>;
template class TORVUniqueCollection<IORVExtensionPoints, IORVExtensionPoint, TORVExtensionPoint>;
template class TORVUniqueCollection<IORVExtensions, IORVExtension, TORVExtension>;

}  // namespace orv
