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
// Contains() answers without a scan once the list is longer than a few items (a count per pointer
// beside the list, kept from then on), so callers that must not store an item twice stay linear.
class TTarnInterfaceList {
public:
    TTarnInterfaceList() = default;
    ~TTarnInterfaceList();
    TTarnInterfaceList(const TTarnInterfaceList&) = delete;
    TTarnInterfaceList& operator=(const TTarnInterfaceList&) = delete;

    // Appends Item (nil is stored as nil) and takes a reference to it.
    void Add(IInterface* Item);
    int32_t GetCount() const { return static_cast<int32_t>(Items_.size()); }
    // The item at Index, no reference added; raises EORVException outside 0..GetCount()-1.
    IInterface* GetItems(int32_t Index) const;
    // The item at Index, unchecked (Index must lie inside the list).
    IInterface* At(std::size_t Index) const { return Items_[Index]; }
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

private:
    // Short lists are searched; a longer one keeps a count per pointer (built on first need).
    static constexpr std::size_t ScanLimit = 16;
    void BuildCounts() const;

    std::vector<IInterface*> Items_;
    mutable std::unique_ptr<std::unordered_map<IInterface*, int32_t>> Counts_;
};

}  // namespace orv

#endif
