// TStrKeyHash: string keys (letter case significant) to one machine word that it does not own.
#ifndef TARN_HASH_UTILS_H
#define TARN_HASH_UTILS_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
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
    // Makes room for Count keys.
    void Reserve(std::size_t Count);

private:
    // The entry added last, and the earlier ones (rare: only a key added twice has them).
    struct TEntry {
        uintptr_t Top;
        std::unique_ptr<std::vector<uintptr_t>> Below;
    };
    // A few keys are searched in a list; more go into a hash table (made when the list outgrows
    // SmallLimit), so that the many small tables of the model cost little.
    static constexpr std::size_t SmallLimit = 12;
    TEntry* Find(const std::string& Key) const;
    // Key's entry, made (with Value on top) when absent; whether it was made.
    std::pair<TEntry*, bool> Insert(const std::string& Key, uintptr_t Value);
    void Erase(const std::string& Key);

    struct TSmallEntry {
        std::size_t Code;  // the key's hash: most keys are compared by it alone
        std::string Key;
        TEntry Entry;
    };
    static std::size_t CodeOf(const std::string& Key) { return std::hash<std::string>()(Key); }

    std::vector<TSmallEntry> Small_;
    std::unique_ptr<std::unordered_map<std::string, TEntry>> Map_;
    std::size_t Size_ = 0;
};

}  // namespace orv

#endif
