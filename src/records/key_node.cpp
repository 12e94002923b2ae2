#include "records/key_node.h"

#include "utils/text.h"

namespace tarnu {

static_assert(key_node_field::kName == kKeyNodeFixedSize, "the name follows the fixed part");

Status parse_key_node_record(Bytes payload, uint32_t offset, KeyNode& node) {
    namespace f = key_node_field;
    if (payload.size() < kKeyNodeFixedSize) {
        return HiveError::truncated_data(offset, kKeyNodeFixedSize, payload.size());
    }
    if (!has_signature(payload, "nk")) {
        return HiveError::invalid_format(offset, malformed::Signature{.expected = "nk"});
    }
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
    node.hive = nullptr;
    node.offset = offset;
    const bool compressed = (node.flags & kKeyCompressedName) != 0;
    return decode_record_name(payload, f::kName, node.name_length, compressed, offset, node.name);
}

Result<KeyNode> parse_key_node_record(Bytes payload, uint32_t offset) {
    KeyNode node;
    TARNU_CHECK(parse_key_node_record(payload, offset, node));
    return node;
}

}  // namespace tarnu
