// The walk's set of cell offsets: membership, repeats, the offset that marks a free slot, and growth.
#include <cstdint>
#include <random>
#include <set>

#include "check.h"
#include "tree/offset_set.h"

using namespace tarnu;

TEST(members_and_repeats) {
    OffsetSet set;
    CHECK(!set.contains(0x20));
    CHECK(set.insert(0x20));
    CHECK(!set.insert(0x20));
    CHECK(set.contains(0x20));
    CHECK(!set.contains(0x28));
    CHECK(set.insert(0));
    CHECK(set.contains(0) && !set.insert(0));
}

TEST(the_free_slot_mark_is_a_member_like_any_other) {
    OffsetSet set;
    CHECK(!set.contains(0xFFFFFFFF));
    CHECK(set.insert(0xFFFFFFFF));
    CHECK(!set.insert(0xFFFFFFFF));
    CHECK(set.contains(0xFFFFFFFF) && !set.contains(0xFFFFFFF8));
}

TEST(agrees_with_a_tree_set_while_growing) {
    // Offsets that cluster (multiples of 8 in a few runs) and random ones, with repeats, through many doublings.
    std::mt19937 random(7);
    std::set<uint32_t> expected;
    OffsetSet set;
    for (uint32_t i = 0; i < 200000; ++i) {
        const uint32_t offset = i % 3 == 0 ? static_cast<uint32_t>(random()) : 0x1000 + 8 * (random() % 60000);
        CHECK_EQ(set.insert(offset), expected.insert(offset).second);
    }
    for (uint32_t i = 0; i < 1000; ++i) {
        const uint32_t probe = 0x1000 + 8 * i + (i % 2);  // half of them are not multiples of 8
        CHECK_EQ(set.contains(probe), expected.count(probe) == 1);
    }
}

TEST(a_bounded_set_agrees_with_a_tree_set_on_both_sides_of_its_bound) {
    // Multiples of 8 below the bound are bits of the bitmap; unaligned offsets, those at or past the bound and the
    // free-slot mark go to the table. Both halves must answer alike.
    constexpr uint32_t kBound = 0x10000;
    std::mt19937 random(11);
    std::set<uint32_t> expected;
    OffsetSet set(kBound);
    const uint32_t edges[] = {0, 8, kBound - 8, kBound - 7, kBound, kBound + 8, 0xFFFFFFF8, 0xFFFFFFFF};
    for (uint32_t offset : edges) {
        CHECK(!set.contains(offset));
        CHECK_EQ(set.insert(offset), expected.insert(offset).second);
        CHECK(set.contains(offset) && !set.insert(offset));
    }
    for (uint32_t i = 0; i < 50000; ++i) {
        const uint32_t offset = i % 4 == 0 ? static_cast<uint32_t>(random()) : random() % (kBound + 64);
        CHECK_EQ(set.insert(offset), expected.insert(offset).second);
    }
    for (uint32_t probe = 0; probe < kBound + 64; ++probe) CHECK_EQ(set.contains(probe), expected.count(probe) == 1);
}
