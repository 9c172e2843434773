// TStrKeyHash: string keys (letter case significant) to one machine word that it does not own.
#ifndef TARN_HASH_UTILS_H
#define TARN_HASH_UTILS_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace orv {

class TStrKeyHash {
public:
    // BucketCount is a size hint; Flag is accepted for compatibility and has no effect.
    explicit TStrKeyHash(unsigned BucketCount = 257, bool Flag = false);

    // Stores (Key, Value) without looking first. A key added twice is kept twice: FindNode and
    // Remove reach the entry added last, and Remove uncovers the earlier one again.
    void Add(const std::string& Key, uintptr_t Value);
    // The stored value of Key (the entry added last), readable and writable in place; nullptr
    // when the key is absent. Valid until the next Add or Remove.
    uintptr_t* FindNode(const std::string& Key);
    // Forgets the entry of Key that FindNode reaches.
    void Remove(const std::string& Key);
    std::size_t Size() const { return Size_; }

private:
    std::unordered_map<std::string, std::vector<uintptr_t>> Map_;
    std::size_t Size_ = 0;
};

}  // namespace orv

#endif
