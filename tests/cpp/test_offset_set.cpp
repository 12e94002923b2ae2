// The walk's set of cell offsets: membership, repeats, the offset that marks a free slot, and growth.
#include <cstdint>
#include <random>
#include <set>

#include "check.h"
#include "key/offset_set.h"

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
