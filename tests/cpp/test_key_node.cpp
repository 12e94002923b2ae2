// Key nodes: every field from its position, the two name encodings, and the faults in the order they are found.
#include "check.h"
#include "image.h"
#include "records/key_node.h"
#include "tree/nodes.h"
#include "utils/format.h"

using namespace tarnu;
using namespace tarnu::test;

TEST(fields_are_read_from_their_positions) {
    Fields node = key_node("Name");
    // Every 32-bit field from position 12 to 71 gets a value of its own: its position plus 0x1000.
    for (size_t pos = 12; pos < 72; pos += 4) node.u32(pos, static_cast<uint32_t>(0x1000 + pos));
    node.u64(4, 0x0102030405060708).u16(74, 0xBEEF);
    ImageBuilder builder;
    const uint32_t at = builder.cell(node);
    SharedHive hive = builder.hive(at);
    auto parsed = parse_key_node(*hive, at);
    if (!parsed.ok()) return CHECK(parsed.ok());
    const KeyNode& key = *parsed;
    CHECK_EQ(key.name, "Name");
    CHECK_EQ(key.last_written, 0x0102030405060708u);
    CHECK_EQ(key.access_bits, 0x100Cu);
    CHECK_EQ(key.parent_offset, 0x1010u);
    CHECK_EQ(key.subkey_count, 0x1014u);
    CHECK_EQ(key.subkey_list_offset, 0x101Cu);
    CHECK_EQ(key.value_count, 0x1024u);
    CHECK_EQ(key.value_list_offset, 0x1028u);
    CHECK_EQ(key.security_offset, 0x102Cu);
    CHECK_EQ(key.class_name_offset, 0x1030u);
    CHECK_EQ(key.max_value_data_size, 0x1040u);
    CHECK_EQ(key.work_var, 0x1044u);
    CHECK_EQ(key.class_name_length, 0xBEEF);
    CHECK(key.hive == hive.get() && key.offset == at);
    // A second read is the same.
    auto again = parse_key_node(*hive, at);
    CHECK(again.ok() && again->name == key.name && again->value_count == key.value_count && again->offset == at);
}

TEST(names_in_both_encodings) {
    ImageBuilder builder;
    const uint32_t latin1 = builder.cell(key_node("caf\xE9\0\0"));
    const uint32_t utf16 = builder.cell(key_node(std::string_view("\xAC\x20z\0\0\0", 6), 0));
    const uint32_t odd = builder.cell(key_node("abc", 0));
    SharedHive hive = builder.hive();
    CHECK_EQ(parse_key_node(*hive, latin1)->name, "caf\xC3\xA9");  // trailing NULs dropped
    CHECK_EQ(parse_key_node(*hive, utf16)->name, "\xE2\x82\xACz");
    CHECK_ERROR(parse_key_node(*hive, odd), "Invalid UTF-16 string at offset " + hex(odd));
}

TEST(faults_in_order) {
    ImageBuilder builder;
    const uint32_t short_cell = builder.cell(Fields(68).text(0, "nk"));
    const uint32_t signature = builder.cell(key_node("k").text(0, "kn"));
    const uint32_t long_name = builder.cell(key_node("k").u16(72, 9));
    SharedHive hive = builder.hive();
    CHECK_ERROR(parse_key_node(*hive, short_cell), "Truncated data at offset 0x20: expected 76 bytes, got 68 bytes");
    CHECK_ERROR(parse_key_node(*hive, signature), "Invalid format: Expected 'nk' signature at offset " + hex(signature));
    // A name of 9 bytes needs 85; the cell holds the 77 bytes of a 1-byte name, rounded up to 84.
    CHECK_ERROR(parse_key_node(*hive, long_name),
                "Truncated data at offset " + hex(long_name) + ": expected 85 bytes, got 84 bytes");
    CHECK_ERROR(parse_key_node(*hive, 0x7FFFFFF0), "Invalid offset 0x7ffffff0 (hive size: 0x2000)");
}
