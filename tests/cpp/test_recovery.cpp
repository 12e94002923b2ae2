// Records parsed over spans, the cell walk, freed cells inside free space, a recovery on raw bytes, the walk of
// recovery past a missing bin and the remnant area's positions.
#include "check.h"
#include "hive/cell_walk.h"
#include "hive/limits.h"
#include "image.h"
#include "records/key_node.h"
#include "records/value_key.h"
#include "recovery/free_space.h"
#include "recovery/recovery.h"
#include "recovery/remnants.h"

using namespace tarnu;
using namespace tarnu::test;

TEST(records_parse_from_any_span) {
    const std::vector<uint8_t> node = key_node("Run").u32(16, 0x20).u32(36, 2);
    auto key = parse_key_node_record(node, 0x1238);
    CHECK(key.ok() && key->name == "Run" && key->parent_offset == 0x20 && key->value_count == 2);
    CHECK(key->offset == 0x1238 && key->hive == nullptr);
    CHECK_ERROR(parse_key_node_record(Bytes(node).first(75), 0x1238),
                "Truncated data at offset 0x1238: expected 76 bytes, got 75 bytes");
    const std::vector<uint8_t> value = value_key("v", 8, 0x40);
    auto parsed = parse_value_key_record(value, 0x88);
    CHECK(parsed.ok() && parsed->name == "v" && parsed->data_size == 8 && parsed->data_offset == 0x40);
    CHECK_ERROR(parse_value_key_record(Bytes(value).subspan(1), 0x88),
                "Invalid format: Expected 'vk' signature at offset 0x88");
}

TEST(cell_walk_hands_out_every_cell_with_its_state) {
    ImageBuilder builder;
    const uint32_t root = builder.cell(key_node("root"));
    const uint32_t free_cell = builder.cell(Fields(20).text(0, "lh"), 32);
    SharedHive hive = builder.hive(root);
    CellWalk walk(*hive);
    auto first = walk.next();
    auto second = walk.next();
    CHECK(first && first->offset == root && first->allocated && record_signature(first->payload) == "nk");
    CHECK(second && second->offset == free_cell && !second->allocated && second->size == 32);
    CHECK(second && second->payload.data() == hive->bytes().data() + kHiveBinsStart + free_cell + 4);
    CHECK(!walk.next() && !walk.next());  // the zeros after the cells: a size of 0 ends the bin
}

TEST(freed_cells_keep_their_place_inside_free_space) {
    ImageBuilder builder;
    const uint32_t root = builder.cell(key_node("root"));
    Fields space(196);
    space.u32(12, 48).u32(60, static_cast<uint32_t>(-16)).u32(76, 500).u32(100, 32);
    const uint32_t region = builder.cell(space, 200);
    SharedHive hive = builder.hive(root);
    FreeSpace free_space(*hive);
    CHECK_EQ(free_space.regions().size(), 1u);
    CHECK(free_space.freed_cell(region) && free_space.freed_cell(region)->size() == 196);
    CHECK(free_space.freed_cell(region + 16) && free_space.freed_cell(region + 16)->size() == 44);
    CHECK(!free_space.freed_cell(region + 64));   // an allocated size field
    CHECK(!free_space.freed_cell(region + 80));   // runs past the free cell
    CHECK(!free_space.freed_cell(region + 100));  // not at an 8-byte step
    CHECK(!free_space.freed_cell(root) && free_space.is_allocated_cell(root));
}

TEST(recovery_on_raw_bytes) {
    ImageBuilder builder;
    const uint32_t root = builder.cell(key_node("root"));
    const uint32_t data = builder.cell(Fields(8).text(0, "abcdefgh"), 16);
    const uint32_t value = builder.cell(value_key("v", 8, data), 32);
    const uint32_t list = builder.cell(Fields().u32(0, value), 8);
    const uint32_t gone = builder.cell(key_node("gone").u32(16, root).u32(36, 1).u32(40, list), 88);
    SharedHive hive = builder.hive(root);
    const Recovery recovery = recover_deleted(*hive);
    if (recovery.keys.size() != 1 || recovery.values.size() != 1) return CHECK(false);
    const RecoveredKey& key = recovery.keys[0];
    CHECK(key.node.offset == gone && key.parent == RecoveredParent::Live && key.values == std::vector<size_t>{0});
    CHECK(recovery.values[0].listed && recovery.values[0].data_available);
    const PartialPath path = recovered_key_path(*hive, recovery, key);
    CHECK(path.path == "gone" && path.complete);
    auto bytes = read_recovered_data(recovery.values[0]);
    const std::vector<uint8_t> expected = Fields(8).text(0, "abcdefgh");
    if (!bytes.ok() || !bytes.value()) return CHECK(false);
    const Bytes view = bytes.value()->view();
    CHECK(std::vector<uint8_t>(view.begin(), view.end()) == expected);
}

namespace {

// Bins data of `blocks` 4096-byte blocks after a base block stating `stated` bytes of them.
std::vector<uint8_t> blank_image(uint32_t stated, size_t blocks) {
    std::vector<uint8_t> image = base_block(stated);
    image.resize(kBaseBlockSize + 4096 * blocks);
    return image;
}

void put(std::vector<uint8_t>& image, uint32_t offset, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + kBaseBlockSize + offset);
}

// A bin at `offset` naming `named`, filled by one allocated cell.
void put_bin(std::vector<uint8_t>& image, uint32_t offset, uint32_t named) {
    put(image, offset, hbin_header(named, 4096));
    put(image, offset + 32, Fields().u32(0, static_cast<uint32_t>(-(4096 - 32))));
}

}  // namespace

TEST(recovery_walk_passes_over_a_missing_bin) {
    std::vector<uint8_t> image = blank_image(0x3000, 3);
    put_bin(image, 0, 0);
    put_bin(image, 0x2000, 0x2000);  // the bin at 0x1000 is gone
    SharedHive hive = hive_of(image);
    CellWalk scan(*hive, BinDamage::PassedOver);
    std::vector<uint32_t> offsets;
    while (auto cell = scan.next()) offsets.push_back(cell->offset);
    CHECK(offsets == (std::vector<uint32_t>{0x20, 0x2020}));
    CHECK_EQ(scan.passed_over(), 1u);
    CHECK_EQ(scan.end(), 0x3000u);
}

TEST(remnant_positions_follow_the_offsets_their_bins_name) {
    std::vector<uint8_t> image = blank_image(0x1000, 3);
    put_bin(image, 0, 0);
    put_bin(image, 0x1000, 0x40000);  // past the stated end: a bin of an earlier hive
    put(image, 0x2008, Fields().u32(0, 24));  // bytes outside bins: a cell of 24 bytes
    SharedHive hive = hive_of(image);
    const RemnantArea area(*hive, 0x1000);
    CHECK(area.position_of(0x40020) == std::optional<uint32_t>(0x1020));
    CHECK(area.position_of(0x2008) == std::optional<uint32_t>(0x2008));  // outside bins: as it stands
    CHECK(!area.position_of(0x1020) && !area.position_of(0x800) && !area.position_of(0x41000));
    CHECK(area.in_bin_header(0x1010) && !area.in_bin_header(0x1020) && !area.in_bin_header(0x2000));
    CHECK(area.cell(0x1020) && area.cell(0x1020)->size() == 4096 - 36);
    CHECK(area.cell(0x2008) && area.cell(0x2008)->size() == 20);
    CHECK(!area.cell(0x2010));                               // a size field of 0
    CHECK_EQ(area.record_bytes(0x2010).size(), 0x1000u - 0x14);  // no size field: up to the end of the area
}
