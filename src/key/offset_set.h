// A set of cell offsets, for the walk's test "reached before": open addressing with linear probing in one array,
// so that adding a member allocates nothing until the array doubles. Offset 0xFFFFFFFF (which names no cell)
// marks a free slot and is kept apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnu {

class OffsetSet {
public:
    bool contains(uint32_t offset) const {
        if (offset == kFree) return has_free_;
        if (slots_.empty()) return false;
        for (size_t i = slot_of(offset);; i = (i + 1) & mask()) {
            if (slots_[i] == offset) return true;
            if (slots_[i] == kFree) return false;
        }
    }

    // Adds `offset`; false when it was a member already.
    bool insert(uint32_t offset) {
        if (offset == kFree) {
            const bool added = !has_free_;
            has_free_ = true;
            return added;
        }
        // At most half the slots are taken, so a probe always ends at a free slot.
        if (2 * (size_ + 1) > slots_.size()) grow();
        for (size_t i = slot_of(offset);; i = (i + 1) & mask()) {
            if (slots_[i] == offset) return false;
            if (slots_[i] == kFree) {
                slots_[i] = offset;
                ++size_;
                return true;
            }
        }
    }

private:
    static constexpr uint32_t kFree = 0xFFFFFFFF;
    static constexpr size_t kFirstSlots = 64;

    size_t mask() const { return slots_.size() - 1; }
    // Fibonacci hashing: cell offsets are multiples of 8 and cluster, and the multiplication spreads them.
    size_t slot_of(uint32_t offset) const { return static_cast<size_t>((offset * 0x9E3779B97F4A7C15ull) >> shift_); }

    void grow() {
        std::vector<uint32_t> old(slots_.empty() ? kFirstSlots : 2 * slots_.size(), kFree);
        old.swap(slots_);
        shift_ = 64 - static_cast<unsigned>(__builtin_ctzll(slots_.size()));
        size_ = 0;
        for (uint32_t offset : old) {
            if (offset != kFree) insert(offset);
        }
    }

    std::vector<uint32_t> slots_;  // a power of two in size
    unsigned shift_ = 64;
    size_t size_ = 0;
    bool has_free_ = false;
};

}  // namespace tarnu
