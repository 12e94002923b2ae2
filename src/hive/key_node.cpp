#include "hive/key_node.h"

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {

static_assert(key_node_field::kName == kKeyNodeFixedSize, "the name follows the fixed part");

Result<KeyNode> parse_key_node_record(Bytes payload, uint32_t offset) {
    namespace f = key_node_field;
    if (payload.size() < kKeyNodeFixedSize) {
        return HiveError::truncated_data(offset, kKeyNodeFixedSize, payload.size());
    }
    if (!has_signature(payload, "nk")) {
        return HiveError::invalid_format("Expected 'nk' signature at offset " + hex(offset));
    }
    KeyNode node;
    node.flags = le16(payload, f::kFlags);
    node.last_written = le64(payload, f::kLastWritten);
    node.access_bits = le32(payload, f::kAccessBits);
    node.parent_offset = le32(payload, f::kParentOffset);
    node.subkey_count = le32(payload, f::kSubkeyCount);
    node.volatile_subkey_count = le32(payload, f::kVolatileSubkeyCount);
    node.subkey_list_offset = le32(payload, f::kSubkeyListOffset);
    node.volatile_subkey_list_offset = le32(payload, f::kVolatileSubkeyListOffset);
    node.value_count = le32(payload, f::kValueCount);
    node.value_list_offset = le32(payload, f::kValueListOffset);
    node.security_offset = le32(payload, f::kSecurityOffset);
    node.class_name_offset = le32(payload, f::kClassNameOffset);
    node.max_subkey_name_length = le32(payload, f::kMaxSubkeyNameLength);
    node.max_subkey_class_length = le32(payload, f::kMaxSubkeyClassLength);
    node.max_value_name_length = le32(payload, f::kMaxValueNameLength);
    node.max_value_data_size = le32(payload, f::kMaxValueDataSize);
    node.work_var = le32(payload, f::kWorkVar);
    node.name_length = le16(payload, f::kNameLength);
    node.class_name_length = le16(payload, f::kClassNameLength);
    node.offset = offset;

    if (node.name_length != 0) {
        const size_t end = f::kName + node.name_length;
        if (end > payload.size()) return HiveError::truncated_data(offset, end, payload.size());
        const Bytes name = payload.subspan(f::kName, node.name_length);
        if (node.flags & kKeyCompressedName) {
            node.name = decode_compressed_name(name);
        } else {
            TARNU_TRY(node.name, decode_utf16_string(name, offset));
        }
    }
    return node;
}

Result<KeyNode> parse_key_node(const Hive& hive, uint32_t offset) {
    KeyNode node;
    if (hive.key_cache.lookup(offset, node)) {
        node.hive = &hive;
        node.offset = offset;
        return node;
    }
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    TARNU_TRY(node, parse_key_node_record(cell, offset));
    hive.key_cache.insert(offset, node);
    node.hive = &hive;
    return node;
}

}  // namespace tarnu
