// Value lists, value keys and value data: inline, in one cell, and gathered from big-data segments.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "records/big_data.h"
#include "records/value_key.h"
#include "tree/nodes.h"
#include "tree/value_data.h"
#include "utils/format.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

// Adds a key node over a value list of `values` (value-key offsets); returns the key node's cell offset.
uint32_t key_with_values(ImageBuilder& builder, const std::vector<uint32_t>& values) {
    Fields list;
    for (size_t i = 0; i < values.size(); ++i) list.u32(4 * i, values[i]);
    const uint32_t at = builder.cell(list);
    return builder.cell(key_node("k").u32(36, static_cast<uint32_t>(values.size())).u32(40, at));
}

// A value key of `hive` whose data has the declared `size` and lies at `offset`.
ValueKey value_of(const SharedHive& hive, uint32_t size, uint32_t offset) {
    return ValueKey{ValueType{kRegBinary}, "v", size, offset, 1, kValueCompressedName, hive.get()};
}

// The data of `value` as `read_value_data` reads it, copied, or the read's error.
Result<std::vector<uint8_t>> data_of(const ValueKey& value) {
    TARNU_TRY(const ValueBytes data, read_value_data(value));
    return std::vector<uint8_t>(data.view().begin(), data.view().end());
}

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

}  // namespace

TEST(value_keys_in_list_order) {
    ImageBuilder builder;
    const uint32_t a = builder.cell(value_key("a", 0x80000004, 0x44332211, 4));
    const uint32_t unnamed = builder.cell(value_key("", 0, kNoCell, 0x1C));
    SharedHive hive = builder.hive(key_with_values(builder, {unnamed, a, a}));
    auto key = parse_key_node(*hive, hive->base_block.root_cell_offset);
    auto values = read_value_list(*hive, *key);
    if (!values.ok()) return CHECK(values.ok());
    CHECK_EQ(values->size(), 3u);
    CHECK_EQ(values->at(0).name, "(default)");
    CHECK_EQ(values->at(0).value_type.name(), "REG_UNKNOWN_0x0000001c");
    CHECK_EQ(values->at(1).name, "a");
    CHECK_EQ(values->at(1).data_size, 4u);  // bit 31 (inline) dropped
    CHECK(*data_of(values->at(1)) == std::vector<uint8_t>({0x11, 0x22, 0x33, 0x44}));
    CHECK(data_of(values->at(0))->empty());
}

TEST(value_list_faults) {
    ImageBuilder builder;
    const uint32_t good = builder.cell(value_key("a", 0, 0));
    const uint32_t bad = builder.cell(value_key("b", 0, 0).text(0, "kv"));
    SharedHive hive = builder.hive(key_with_values(builder, {good, bad}));
    auto key = parse_key_node(*hive, hive->base_block.root_cell_offset);
    CHECK_ERROR(read_value_list(*hive, *key), "Invalid format: Expected 'vk' signature at offset " + hex(bad));
    KeyNode too_many = *key;
    too_many.value_count = 4;  // the list cell holds 8 bytes of entries and 4 of slack
    CHECK_ERROR(read_value_list(*hive, too_many),
                "Truncated data at offset " + hex(key->value_list_offset) + ": expected 16 bytes, got 12 bytes");
}

TEST(data_in_one_cell_is_cut_to_its_size) {
    ImageBuilder builder;
    const uint32_t data = builder.cell(pattern(12, 1));
    SharedHive hive = builder.hive();
    CHECK(*data_of(value_of(hive, 5, data)) == pattern(5, 1));
    CHECK(*data_of(value_of(hive, 40, data)) == pattern(12, 1));  // a short cell gives what it holds
    CHECK(data_of(value_of(hive, 40, 0))->empty());
    CHECK_ERROR(data_of(value_of(hive, 40, 0x1000)), "Invalid offset 0x1000 (hive size: 0x2000)");
}

TEST(big_data_takes_16344_bytes_a_segment) {
    ImageBuilder builder;
    const std::vector<uint8_t> first = pattern(kBigDataSegmentSize + 4, 1), second = pattern(100, 2);
    Fields list = Fields().u32(0, builder.cell(first)).u32(4, builder.cell(second) | 0x80000000);
    const uint32_t record = builder.cell(big_data(2, builder.cell(list)));
    SharedHive hive = builder.hive();
    std::vector<uint8_t> expected(first.begin(), first.begin() + kBigDataSegmentSize);
    expected.insert(expected.end(), second.begin(), second.begin() + 56);
    CHECK(*data_of(value_of(hive, 16400, record)) == expected);
    expected.insert(expected.end(), second.begin() + 56, second.end());
    CHECK(*data_of(value_of(hive, 50000, record)) == expected);  // the segments ran out first
}

TEST(big_data_never_exceeds_the_image) {
    // One segment named 1000 times would gather 16 MB from an image of 28 KB.
    ImageBuilder builder;
    const std::vector<uint8_t> segment = pattern(kBigDataSegmentSize, 3);
    const uint32_t at = builder.cell(segment);
    Fields list;
    for (size_t i = 0; i < 1000; ++i) list.u32(4 * i, at);
    const uint32_t record = builder.cell(big_data(1000, builder.cell(list)));
    SharedHive hive = builder.hive();
    const uint32_t length = static_cast<uint32_t>(hive->bytes().size());
    for (uint32_t size : {length - 1, length, length + 1, kDataSizeMask}) {
        auto data = data_of(value_of(hive, size, record));
        if (!data.ok()) return CHECK(data.ok());
        CHECK_EQ(data->size(), std::min(size, length));
        CHECK(std::equal(segment.begin(), segment.begin() + 100, data->begin() + kBigDataSegmentSize));
    }
}

TEST(big_data_faults) {
    ImageBuilder builder;
    const uint32_t wrong = builder.cell(Fields(8).text(0, "dc"));
    const uint32_t list = builder.cell(Fields(4).u32(0, 0x20));
    const uint32_t short_list = builder.cell(big_data(2, list));
    const uint32_t far_segment = builder.cell(big_data(1, builder.cell(Fields(4).u32(0, 0xFFFFF000))));
    SharedHive hive = builder.hive();
    CHECK_ERROR(data_of(value_of(hive, 20000, wrong)),
                "Invalid format: Expected 'db' signature at offset " + hex(wrong) + ", found [100, 99]");
    CHECK_ERROR(data_of(value_of(hive, 20000, short_list)),
                "Truncated data at offset " + hex(list) + ": expected 8 bytes, got 4 bytes");
    // Bit 31 of a segment entry is not part of the offset.
    CHECK_ERROR(data_of(value_of(hive, 20000, far_segment)), "Invalid offset 0x7ffff000 (hive size: 0x2000)");
}
