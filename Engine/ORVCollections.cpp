#include "Engine/ORVCollections.h"

#include "Common/ORVMiscUtils.h"

#include <unordered_set>
#include <vector>

namespace orv {

namespace {
// A size hint for the hashes of the collections that grow with the number of plug-ins.
constexpr unsigned HashBuckets = 257;
}  // namespace

// --- TORVCollection ------------------------------------------------------------------------------

template <class CollIntf, class ItemIntf>
TORVCollection<CollIntf, ItemIntf>::TORVCollection(bool Hashed) {
    if (Hashed) Hash_ = std::make_unique<TStrKeyHash>(HashBuckets, false);
}

template <class CollIntf, class ItemIntf>
ItemIntf* TORVCollection<CollIntf, ItemIntf>::ItemAt(int32_t Index) const {
    // The list only ever receives item interfaces (see Add), so the stored pointer is one.
    return static_cast<ItemIntf*>(List_.GetItems(Index));
}

template <class CollIntf, class ItemIntf>
void TORVCollection<CollIntf, ItemIntf>::Clear() {
    // The keys first: releasing an item may run code that looks at this collection.
    if (Hash_) Hash_ = std::make_unique<TStrKeyHash>(HashBuckets, false);
    List_.Clear();
}

template <class CollIntf, class ItemIntf>
Ref<ItemIntf> ORV_CALL TORVCollection<CollIntf, ItemIntf>::Find(const std::string& Id) {
    return Ref<ItemIntf>(FindItem(Id));
}

template <class CollIntf, class ItemIntf>
ItemIntf* TORVCollection<CollIntf, ItemIntf>::FindItem(const std::string& Id) const {
    if (Id.empty()) return nullptr;
    if (Hash_) {
        uintptr_t* Node = Hash_->FindNode(Id);
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

TORVDescriptors::TORVDescriptors() : TORVCollection(true) {}

void TORVDescriptors::Add(const Ref<IORVDescriptor>& Item) {
    TExceptionBuilder::CheckNotNil(Item);
    const std::string Key = Item->GetID();
    // The list first: should the hash fail to grow, no uncounted pointer is left behind.
    List_.Add(Item.Get());
    Hash_->Add(Key, Word(Item.Get()));
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
    AddKeyed(Item.Get(), this->Hash_ ? Item->GetID() : std::string());
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::AddKeyed(ItemIntf* Item, const std::string& Key) {
    // The list first: should the hash fail to grow, no uncounted pointer is left behind.
    if (!this->List_.Contains(Item)) this->List_.Add(Item);
    SetKey(Item, Key);
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::AppendNew(ItemIntf* Item, const std::string& Key) {
    this->List_.Add(Item);
    SetKey(Item, Key);
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::SetKey(ItemIntf* Item, const std::string& Key) {
    if (this->Hash_) this->Hash_->Set(Key, this->Word(Item));
}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::Remove(const Ref<ItemIntf>& Item) {
    if (!Item) return;
    if (this->Hash_) {
        const std::string Key = Item->GetID();
        if (this->Hash_->FindNode(Key)) this->Hash_->Remove(Key);
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
