// TTarnInterfaceList: an ordered list of counted interface references.
#ifndef TARN_CLASSES_H
#define TARN_CLASSES_H

#include <ORVInterface.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace orv {

// Holds one counted reference per stored item; the same pointer may be stored more than once.
// Contains() answers in constant time (a per-pointer count beside the list), so callers that
// must not store an item twice stay linear overall.
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
    // Position of the first occurrence of the identical pointer, -1 when absent.
    int32_t IndexOf(IInterface* Item) const;
    bool Contains(IInterface* Item) const;
    // Removes the first occurrence, keeps the order of the others, releases its reference.
    void Remove(IInterface* Item);
    // Releases every item.
    void Clear();

private:
    std::vector<IInterface*> Items_;
    std::unordered_map<IInterface*, int32_t> Counts_;
};

}  // namespace orv

#endif
