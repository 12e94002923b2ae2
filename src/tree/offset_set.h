// A set of cell offsets, for the walk's test "reached before". Offsets that can name a cell (multiples of 8 below
// the bound the set is made with) are bits of one bitmap, an eighth of a bit per byte of the hive, allocated
// zeroed on first use so that only the parts a walk reaches take memory; a test is one load. Any other offset
// (only a damaged hive names one) goes to a table with open addressing and linear probing, which allocates
// nothing until its array doubles; 0xFFFFFFFF, which marks a free slot there, is kept apart. `FewOffsets` keeps the
// first few offsets in place, for a list or a path that is short more often than not.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace tarnu {

class OffsetSet {
public:
    // A set that keeps every offset in its table.
    OffsetSet() = default;
    // A set whose bitmap covers the offsets below `bound` (the length of the hive's image, say).
    explicit OffsetSet(size_t bound) : bitmap_words_(bound / 512 + 1) {}

    bool contains(uint32_t offset) const {
        if (in_bitmap(offset)) return bitmap_ && (bitmap_[offset >> 9] >> ((offset >> 3) & 63) & 1) != 0;
        if (offset == kFree) return has_free_;
        if (slots_.empty()) return false;
        for (size_t i = slot_of(offset);; i = (i + 1) & mask()) {
            if (slots_[i] == offset) return true;
            if (slots_[i] == kFree) return false;
        }
    }

    // Adds `offset`; false when it was a member already.
    bool insert(uint32_t offset) {
        if (in_bitmap(offset)) {
            if (!bitmap_) {
                bitmap_.reset(static_cast<uint64_t*>(std::calloc(bitmap_words_, sizeof(uint64_t))));
                if (!bitmap_) throw std::bad_alloc();
            }
            uint64_t& word = bitmap_[offset >> 9];
            const uint64_t bit = uint64_t{1} << ((offset >> 3) & 63);
            const bool added = (word & bit) == 0;
            word |= bit;
            return added;
        }
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

    struct Free {
        void operator()(uint64_t* words) const { std::free(words); }
    };

    bool in_bitmap(uint32_t offset) const { return (offset & 7) == 0 && offset / 512 < bitmap_words_; }
    size_t mask() const { return slots_.size() - 1; }
    // Fibonacci hashing: cell offsets are multiples of 8 and cluster, and the multiplication spreads them.
    size_t slot_of(uint32_t offset) const { return static_cast<size_t>((offset * 0x9E3779B97F4A7C15ull) >> shift_); }

    void grow() {
        std::vector<uint32_t> old(slots_.empty() ? kFirstSlots : 2 * slots_.size(), kFree);
        old.swap(slots_);
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots_.size()));
        size_ = 0;
        for (uint32_t offset : old) {
            if (offset != kFree) insert(offset);
        }
    }

    size_t bitmap_words_ = 0;
    std::unique_ptr<uint64_t[], Free> bitmap_;  // 64 offsets a word; calloc, so that untouched pages stay unmapped
    std::vector<uint32_t> slots_;  // a power of two in size
    unsigned shift_ = 64;
    size_t size_ = 0;
    bool has_free_ = false;
};

// A set for the few offsets that one list or path usually holds: the first eight stay in place and the rest go to
// an OffsetSet, so that a short list or path allocates nothing.
class FewOffsets {
public:
    // Adds `offset`; false when it was a member already.
    bool insert(uint32_t offset) {
        for (size_t i = 0; i < count_; ++i) {
            if (first_[i] == offset) return false;
        }
        if (count_ < first_.size()) {
            first_[count_++] = offset;
            return true;
        }
        return more_.insert(offset);
    }

private:
    std::array<uint32_t, 8> first_{};
    size_t count_ = 0;
    OffsetSet more_;
};

}  // namespace tarnu
