#include "hive/key_node.h"

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {

Status read_key_node(const Hive& hive, uint32_t offset, KeyNode& node) {
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    if (cell.size() < kKeyNodeFixedSize) return HiveError::truncated_data(offset, kKeyNodeFixedSize, cell.size());
    if (!has_signature(cell, "nk")) {
        return HiveError::invalid_format("Expected 'nk' signature at offset " + hex(offset));
    }
    node.flags = le16(cell, 2);
    node.last_written = le64(cell, 4);
    node.access_bits = le32(cell, 12);
    node.parent_offset = le32(cell, 16);
    node.subkey_count = le32(cell, 20);
    node.volatile_subkey_count = le32(cell, 24);
    node.subkey_list_offset = le32(cell, 28);
    node.volatile_subkey_list_offset = le32(cell, 32);
    node.value_count = le32(cell, 36);
    node.value_list_offset = le32(cell, 40);
    node.security_offset = le32(cell, 44);
    node.class_name_offset = le32(cell, 48);
    node.max_subkey_name_length = le32(cell, 52);
    node.max_subkey_class_length = le32(cell, 56);
    node.max_value_name_length = le32(cell, 60);
    node.max_value_data_size = le32(cell, 64);
    node.work_var = le32(cell, 68);
    node.name_length = le16(cell, 72);
    node.class_name_length = le16(cell, 74);

    const bool compressed = (node.flags & kKeyCompressedName) != 0;
    TARNU_CHECK(decode_record_name(cell, kKeyNodeFixedSize, node.name_length, compressed, offset, node.name));

    node.hive = &hive;
    node.offset = offset;
    return Ok{};
}

Result<KeyNode> parse_key_node(const Hive& hive, uint32_t offset) {
    KeyNode node;
    TARNU_CHECK(read_key_node(hive, offset, node));
    return node;
}

}  // namespace tarnu
