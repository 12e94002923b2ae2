// Subkey lists: leaf lists of each kind, index lists followed depth-first, and the bounds on nesting and cycles.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "tree/nodes.h"
#include "tree/subkey_lists.h"
#include "utils/format.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

// The offsets collected from the list at `list` of a hive with a root key at 0x20.
Result<std::vector<uint32_t>> collect(const SharedHive& hive, uint32_t list) {
    TARNU_TRY(KeyNode root, parse_key_node(*hive, 0x20));
    std::vector<uint32_t> out;
    TARNU_CHECK(collect_subkey_offsets(root, list, out));
    return out;
}

using Offsets = std::vector<uint32_t>;

}  // namespace

TEST(leaf_and_index_lists_in_stored_order) {
    ImageBuilder builder;
    builder.cell(key_node("root"));
    const uint32_t lf = builder.cell(subkey_list("lf", {7, 8}));
    const uint32_t lh = builder.cell(subkey_list("lh", {9}));
    const uint32_t li = builder.cell(subkey_list("li", {5, 5, 6}));
    const uint32_t ri = builder.cell(subkey_list("ri", {li, kNoCell, lf, 0, lh}));
    SharedHive hive = builder.hive();
    CHECK(*collect(hive, lf) == Offsets({7, 8}));
    CHECK(*collect(hive, li) == Offsets({5, 5, 6}));  // nothing is de-duplicated
    CHECK(*collect(hive, ri) == Offsets({5, 5, 6, 7, 8, 9}));
    CHECK(collect(hive, kNoCell)->empty());
}

TEST(list_faults) {
    ImageBuilder builder;
    builder.cell(key_node("root"));
    const uint32_t kind = builder.cell(subkey_list("lx", {}));
    const uint32_t counted = builder.cell(subkey_list("lh", {1}).u16(2, 3));
    SharedHive hive = builder.hive();
    CHECK_ERROR(collect(hive, kind), "Invalid subkey list type: [108, 120]");
    CHECK_ERROR(collect(hive, counted), "Truncated data at offset " + hex(counted) + ": expected 28 bytes, got 12 bytes");
}

TEST(index_lists_nest_32_levels) {
    for (size_t levels : {kMaxSubkeyListDepth, kMaxSubkeyListDepth + 1}) {
        ImageBuilder builder;
        builder.cell(key_node("root"));
        uint32_t list = builder.cell(subkey_list("li", {42}));
        for (size_t i = 0; i < levels; ++i) list = builder.cell(subkey_list("ri", {list}));
        auto offsets = collect(builder.hive(), list);
        if (levels == kMaxSubkeyListDepth) {
            CHECK(offsets.ok() && *offsets == Offsets({42}));
        } else {
            CHECK(!offsets.ok() && offsets.error().kind() == ErrorKind::InvalidFormat);
        }
    }
}

TEST(cycles_and_fan_out_end) {
    ImageBuilder builder;
    builder.cell(key_node("root"));
    // An index list naming itself twice: each level doubles the work until the depth or the budget stops it.
    const uint32_t self = builder.cell(subkey_list("ri", {0, 0}));
    std::vector<uint8_t> image = builder.image();
    put_le32(image.data() + kBaseBlockSize + self + 8, self);
    put_le32(image.data() + kBaseBlockSize + self + 12, self);
    CHECK_ERROR(collect(hive_of(image), self), "Invalid format: Subkey index list at offset " + hex(self) +
                                                   " is nested more than 32 levels deep");
    // One index list naming the same leaf list many times gathers more entries than the image holds.
    ImageBuilder fan;
    fan.cell(key_node("root"));
    const uint32_t leaf = fan.cell(subkey_list("li", std::vector<uint32_t>(500, 0x20)));
    const uint32_t ri = fan.cell(subkey_list("ri", std::vector<uint32_t>(500, leaf)));
    CHECK_ERROR(collect(fan.hive(), ri), "Invalid format: Subkey lists reached from offset " + hex(ri) +
                                             " name more entries than the hive holds");
}
