// TStrKeyHash: string keys (letter case significant) to one machine word that it does not own.
#ifndef TARN_HASH_UTILS_H
#define TARN_HASH_UTILS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orv {

class TStrKeyHash {
public:
    // BucketCount and Flag are accepted for compatibility; the table grows as keys come (Reserve
    // sizes it ahead).
    explicit TStrKeyHash(unsigned BucketCount = 257, bool Flag = false);

    // Stores (Key, Value) without looking first. A key added twice is kept twice: FindNode and
    // Remove reach the entry added last, and Remove uncovers the earlier one again.
    void Add(const std::string& Key, uintptr_t Value);
    // Overwrites the value of Key's last entry, or adds the key with Value when it is absent.
    void Set(const std::string& Key, uintptr_t Value);
    // The stored value of Key (the entry added last), readable and writable in place; nullptr
    // when the key is absent. Valid until the next Add, Set or Remove.
    uintptr_t* FindNode(const std::string& Key);
    // Forgets the entry of Key that FindNode reaches.
    void Remove(const std::string& Key);
    // Whether some entry of Key, not only the last one, holds Value.
    bool Holds(const std::string& Key, uintptr_t Value) const;
    // Forgets the entry of Key that holds Value (the last such one), uncovering the others.
    void RemoveValue(const std::string& Key, uintptr_t Value);
    std::size_t Size() const { return Size_; }
    // Makes room for Count keys, and some more.
    void Reserve(std::size_t Count);

private:
    // One key: the value added last, and the earlier ones (rare: only a key added twice has them).
    struct TItem {
        std::size_t Code;  // the key's hash
        std::string Key;
        uintptr_t Top;
        std::unique_ptr<std::vector<uintptr_t>> Below;
    };
    // A place of the open-addressing table: the low half of the key's hash, beside the item's
    // number plus one (0: the place is free), so that most probes need not look at the item.
    struct TSlot {
        uint32_t Code;
        uint32_t Item;
    };
    // A few keys are searched in the item list alone; the table is made when the list outgrows
    // SmallLimit, so that the many small hashes of the model cost little.
    static constexpr std::size_t SmallLimit = 8;

    static std::size_t CodeOf(const std::string& Key) { return std::hash<std::string>()(Key); }
    // Key's item number, or -1.
    std::ptrdiff_t Find(const std::string& Key) const;
    // Key's item number, the item made (with Value on top) when absent; whether it was made.
    std::pair<std::size_t, bool> Insert(const std::string& Key, uintptr_t Value);
    void Erase(std::size_t Item);
    // The table for Places places (a power of two, 0: none), refilled from the items.
    void Rehash(std::size_t Places);
    void Place(std::size_t Code, std::size_t Item);
    std::size_t SlotOf(std::size_t Item) const;

    std::vector<TItem> Items_;
    std::vector<TSlot> Slots_;
    std::size_t Size_ = 0;  // entries, repeats of a key included
};

}  // namespace orv

#endif
