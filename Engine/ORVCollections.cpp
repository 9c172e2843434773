#include "Engine/ORVCollections.h"

#include "Common/ORVMiscUtils.h"

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
    if (Id.empty()) return Ref<ItemIntf>();
    if (Hash_) {
        uintptr_t* Node = Hash_->FindNode(Id);
        return Node ? Ref<ItemIntf>(FromWord(*Node)) : Ref<ItemIntf>();
    }
    const int32_t Count = List_.GetCount();
    for (int32_t I = 0; I < Count; ++I) {
        ItemIntf* Item = ItemAt(I);
        if (SameTextAscii(Item->GetID(), Id)) return Ref<ItemIntf>(Item);
    }
    return Ref<ItemIntf>();
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
    const std::string Key = Item->GetID();
    // The hash keeps one entry per addition, the last one on top. Lift the entries above this
    // descriptor's own, drop that one, and put the others back in their order, so that the key
    // never leads to a descriptor that the list no longer holds.
    std::vector<uintptr_t> Above;
    while (uintptr_t* Node = Hash_->FindNode(Key)) {
        const uintptr_t Value = *Node;
        Hash_->Remove(Key);
        if (Value == Word(Item.Get())) break;
        Above.push_back(Value);
    }
    for (auto It = Above.rbegin(); It != Above.rend(); ++It) Hash_->Add(Key, *It);
    List_.Remove(Item.Get());
}

// --- TORVUniqueCollection ------------------------------------------------------------------------

template <class CollIntf, class ItemIntf>
TORVUniqueCollection<CollIntf, ItemIntf>::TORVUniqueCollection(bool Hashed, const TAssertSite& AddSite)
    : TORVCollection<CollIntf, ItemIntf>(Hashed), AddSite_(AddSite) {}

template <class CollIntf, class ItemIntf>
void TORVUniqueCollection<CollIntf, ItemIntf>::Add(const Ref<ItemIntf>& Item) {
    Assert(static_cast<bool>(Item), AddSite_);
    const std::string Key = this->Hash_ ? Item->GetID() : std::string();
    // The list first: should the hash fail to grow, no uncounted pointer is left behind.
    if (!this->List_.Contains(Item.Get())) this->List_.Add(Item.Get());
    if (this->Hash_) {
        if (uintptr_t* Node = this->Hash_->FindNode(Key))
            *Node = this->Word(Item.Get());
        else
            this->Hash_->Add(Key, this->Word(Item.Get()));
    }
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
