// The keyed collections of the plug-in model: an ordered list of counted item references with an
// optional hash from the item's id to the item.
//
// A hashed collection finds ids exactly as written (letter case significant); an unhashed one
// compares ids ignoring the case of ASCII letters and yields the first match in list order.
// The hash holds plain pointers; the list holds the one counted reference of the collection.
// Items enter as objects of the model class (Model: a descriptor, a point or an extension), and
// the engine walks them as such; the interfaces see them as ItemIntf.
// The hash of an extension or point collection is made on the first lookup (or by Reserve): until
// then a short code of each item's key stands beside the list, enough to tell that an item is the
// only one under its key, so that the many collections that are only ever walked cost no hash
// (every point's collection of linked extensions is hashed, and few are ever searched). What it
// pays, measured with the start-up benchmark's parse of 10,000 plug-ins: without it (each hash
// made at once) the whole process takes 19% more processor time and 20 MiB (2 KiB a plug-in)
// more memory.
#ifndef ORV_COLLECTIONS_H
#define ORV_COLLECTIONS_H

#include "Common/ORVException.h"
#include "Companion/TarnClasses.h"
#include "Companion/TarnHashUtils.h"
#include "Engine/ORVAdatable.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv {

class TORVDescriptor;
class TORVExtension;
class TORVExtensionPoint;

// The read side shared by the three collections (the operations of their interfaces).
template <class CollIntf, class ItemIntf, class Model>
class TORVCollection : public TAdatableObject<CollIntf> {
public:
    // The item with id Id (a new reference), nil when absent or when Id is empty.
    Ref<ItemIntf> ORV_CALL Find(const std::string& Id) override;
    // The number of items in the list, repeats included.
    int32_t ORV_CALL GetCount() override;
    // The item at list position Index (0-based); EORVException outside 0..GetCount()-1.
    Ref<ItemIntf> ORV_CALL GetItem(int32_t Index) override;

    // Whether the collection finds ids through a hash (and so case-sensitively).
    bool IsHashed() const { return Hashed_; }
    // Whether the list holds this very item (constant time).
    bool Contains(ItemIntf* Item) const { return List_.Contains(Item); }
    // The item at Index without a reference; EORVException outside the list.
    Model* ItemAt(int32_t Index) const;
    // Find without a reference.
    Model* FindItem(const std::string& Id) const;
    // Removes every item (and every key), releasing each item once.
    void Clear();
    // Makes room for Count items (and makes the hash of a hashed collection now).
    void Reserve(std::size_t Count);
    // Makes room for More items beyond those held, without making the hash.
    void Grow(std::size_t More);
    // Makes the list's index now (see TTarnInterfaceList::MakeIndex).
    void MakeIndex() const { List_.MakeIndex(); }
    // The short code of a key that stands in for it until the hash is made.
    static uint32_t CodeOf(const std::string& Key) { return static_cast<uint32_t>(std::hash<std::string>()(Key)); }

protected:
    explicit TORVCollection(bool Hashed);

    // The hash, made from the list when it is not there yet (hashed collections only): each item
    // in list order enters its GetID, overwriting, as if the items had been added one by one.
    TStrKeyHash& Hash() const;
    // Whether Code stands beside the list exactly once (no hash made yet).
    bool OnlyCode(uint32_t Code) const;

    static uintptr_t Word(ItemIntf* Entry) { return reinterpret_cast<uintptr_t>(Entry); }
    static ItemIntf* FromWord(uintptr_t Value) { return reinterpret_cast<ItemIntf*>(Value); }
    // The model object behind an entry of the list or the hash (which only Model objects enter).
    static Model* ObjectOf(ItemIntf* Entry);

    bool Hashed_;
    // id -> item, uncounted; nil until a hashed collection is first searched (the descriptors
    // keep theirs from the start).
    mutable std::unique_ptr<TStrKeyHash> Hash_;
    mutable std::vector<uint32_t> Codes_;  // CodeOf each item's key, in list order, while there is no hash
    TTarnInterfaceList List_;              // the items in insertion order, counted
};

// The registry's plug-in descriptors, keyed by plug-in id; always hashed. The same descriptor,
// or two descriptors with one id, may be added more than once: every addition counts.
// Of descriptors that share an id, Find yields the one added last that is still held.
class TORVDescriptors : public TORVCollection<IORVDescriptors, IORVDescriptor, TORVDescriptor> {
public:
    // An empty, hashed collection.
    TORVDescriptors();

    // Appends Item and enters it under its GetID without looking first; EORVException
    // "Argument cannot be null" for nil.
    void Add(TORVDescriptor* Item);
    // Removes the first occurrence of Item from the list and the hash entry that leads to this
    // very descriptor (an entry of another descriptor with the same id stays); nil does nothing.
    void Remove(const Ref<IORVDescriptor>& Item);
    // Whether this very descriptor is held (constant time).
    bool Holds(IORVDescriptor* Item) const;
};

// Extension points or extensions: an item is held at most once; the hash maps each id to the item
// entered last under it that is still held (every item listed is found under its id).
template <class CollIntf, class ItemIntf, class Model>
class TORVUniqueCollection : public TORVCollection<CollIntf, ItemIntf, Model> {
public:
    // Enters Item under its GetID (overwriting the key's earlier item) and appends it unless the
    // list holds it already. A nil Item is an assertion failure.
    void Add(Model* Entry);
    // Add of an item the caller knows the list does not hold yet, with its id (Key, ignored when
    // not hashed) at hand.
    void AppendNew(Model* Entry, const std::string& Key);
    // AppendNew with the CodeOf the item's id at hand: the id itself is asked for only when the
    // hash is made already (linking appends this way).
    void AppendNew(Model* Entry, uint32_t Code);
    // Removes Item from the list and its entry from the keys when held: its id then leads to the
    // item entered under it before, if one is still held. Nil, or an item not held, does nothing.
    void Remove(const Ref<ItemIntf>& Item);

protected:
    TORVUniqueCollection(bool Hashed, const TAssertSite& AddSite);

private:
    // Add of an item the list holds: only its key is entered again (on top of the other items of
    // its id).
    void EnterKeyOfHeld(ItemIntf* Item, const std::string& Key);

    // Removing from a collection without a hash keeps it without one up to this length (most
    // points hold a few dozen extensions); a longer one gets its hash, so that removals stay cheap.
    static constexpr int32_t HashOnRemoveLimit = 64;

    TAssertSite AddSite_;
};

// Extension points keyed by their qualified id.
class TORVExtensionPoints : public TORVUniqueCollection<IORVExtensionPoints, IORVExtensionPoint, TORVExtensionPoint> {
public:
    // An empty collection, with a hash when Hashed is true.
    explicit TORVExtensionPoints(bool Hashed);
};

// Extensions keyed by their qualified id.
class TORVExtensions : public TORVUniqueCollection<IORVExtensions, IORVExtension, TORVExtension> {
public:
    // An empty collection, with a hash when Hashed is true.
    explicit TORVExtensions(bool Hashed);
};

}  // namespace orv

#endif
