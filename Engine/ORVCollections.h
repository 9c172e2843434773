// The keyed collections of the plug-in model: an ordered list of counted item references with an
// optional hash from the item's id to the item.
//
// A hashed collection finds ids exactly as written (letter case significant); an unhashed one
// compares ids ignoring the case of ASCII letters and yields the first match in list order.
// The hash holds plain pointers; the list holds the one counted reference of the collection.
#ifndef ORV_COLLECTIONS_H
#define ORV_COLLECTIONS_H

#include "Common/ORVException.h"
#include "Companion/TarnClasses.h"
#include "Companion/TarnHashUtils.h"
#include "Engine/ORVAdatable.h"

#include <memory>
#include <string>
#include <vector>

namespace orv {

// The read side shared by the three collections (the operations of their interfaces).
template <class CollIntf, class ItemIntf>
class TORVCollection : public TAdatableObject<CollIntf> {
public:
    // The item with id Id (a new reference), nil when absent or when Id is empty.
    Ref<ItemIntf> ORV_CALL Find(const std::string& Id) override;
    // The number of items in the list, repeats included.
    int32_t ORV_CALL GetCount() override;
    // The item at list position Index (0-based); EORVException outside 0..GetCount()-1.
    Ref<ItemIntf> ORV_CALL GetItem(int32_t Index) override;

    // Whether the collection keeps a hash (and so finds ids case-sensitively).
    bool IsHashed() const { return Hash_ != nullptr; }
    // Whether the list holds this very item (constant time).
    bool Contains(ItemIntf* Item) const { return List_.Contains(Item); }
    // The item at Index without a reference; EORVException outside the list.
    ItemIntf* ItemAt(int32_t Index) const;
    // Find without a reference.
    ItemIntf* FindItem(const std::string& Id) const;
    // Removes every item (and every key), releasing each item once.
    void Clear();
    // Makes room for Count items.
    void Reserve(std::size_t Count) {
        List_.Reserve(Count);
        if (Hash_) Hash_->Reserve(Count);
    }

protected:
    explicit TORVCollection(bool Hashed);

    static uintptr_t Word(ItemIntf* Item) { return reinterpret_cast<uintptr_t>(Item); }
    static ItemIntf* FromWord(uintptr_t Value) { return reinterpret_cast<ItemIntf*>(Value); }

    std::unique_ptr<TStrKeyHash> Hash_;  // id -> item, uncounted; nil when not hashed
    TTarnInterfaceList List_;            // the items in insertion order, counted
};

// The registry's plug-in descriptors, keyed by plug-in id; always hashed. The same descriptor,
// or two descriptors with one id, may be added more than once: every addition counts.
// Of descriptors that share an id, Find yields the one added last that is still held.
class TORVDescriptors : public TORVCollection<IORVDescriptors, IORVDescriptor> {
public:
    // An empty, hashed collection.
    TORVDescriptors();

    // Appends Item and enters it under its GetID without looking first; EORVException
    // "Argument cannot be null" for nil.
    void Add(const Ref<IORVDescriptor>& Item);
    // Removes the first occurrence of Item from the list and the hash entry that leads to this
    // very descriptor (an entry of another descriptor with the same id stays); nil does nothing.
    void Remove(const Ref<IORVDescriptor>& Item);
    // Removes each of Items (as Remove does) in one pass over the list.
    void RemoveEach(const std::vector<Ref<IORVDescriptor>>& Items);
    // Whether this very descriptor is held (constant time).
    bool Holds(IORVDescriptor* Item) const;
};

// Extension points or extensions: an item is held at most once; the hash (when kept) maps each id
// to the item added last under it.
template <class CollIntf, class ItemIntf>
class TORVUniqueCollection : public TORVCollection<CollIntf, ItemIntf> {
public:
    // Enters Item under its GetID (overwriting the key's earlier item) and appends it unless the
    // list holds it already. A nil Item is an assertion failure.
    void Add(const Ref<ItemIntf>& Item);
    // Removes the key of Item's id (whichever item it leads to) and Item from the list when held;
    // nil does nothing.
    void Remove(const Ref<ItemIntf>& Item);
    // Add with Item's id already at hand (Key; ignored when not hashed).
    void AddKeyed(ItemIntf* Item, const std::string& Key);
    // Add of an item the caller knows the list does not hold yet.
    void AppendNew(ItemIntf* Item, const std::string& Key);

protected:
    TORVUniqueCollection(bool Hashed, const TAssertSite& AddSite);

private:
    void SetKey(ItemIntf* Item, const std::string& Key);

    TAssertSite AddSite_;
};

// Extension points keyed by their qualified id.
class TORVExtensionPoints : public TORVUniqueCollection<IORVExtensionPoints, IORVExtensionPoint> {
public:
    // An empty collection, with a hash when Hashed is true.
    explicit TORVExtensionPoints(bool Hashed);
};

// Extensions keyed by their qualified id.
class TORVExtensions : public TORVUniqueCollection<IORVExtensions, IORVExtension> {
public:
    // An empty collection, with a hash when Hashed is true.
    explicit TORVExtensions(bool Hashed);
};

}  // namespace orv

#endif
