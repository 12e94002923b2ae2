#include "records/value_key.h"

#include "utils/text.h"

namespace tarnu {

static_assert(value_key_field::kName == kValueKeyFixedSize, "the name follows the fixed part");

Status parse_value_key_record(Bytes payload, uint32_t offset, ValueKey& value) {
    namespace f = value_key_field;
    if (payload.size() < kValueKeyFixedSize) {
        return HiveError::truncated_data(offset, kValueKeyFixedSize, payload.size());
    }
    if (!has_signature(payload, "vk")) {
        return HiveError::invalid_format(offset, malformed::Signature{.expected = "vk"});
    }
    value.name_length = le16(payload, f::kNameLength);
    value.data_size = le32(payload, f::kDataSize) & kDataSizeMask;
    value.data_offset = le32(payload, f::kDataOffset);
    value.value_type = ValueType{le32(payload, f::kDataType)};
    value.flags = le16(payload, f::kFlags);
    value.hive = nullptr;
    if (value.name_length == 0) {
        value.name = "(default)";
        return Ok{};
    }
    const bool compressed = (value.flags & kValueCompressedName) != 0;
    return decode_record_name(payload, f::kName, value.name_length, compressed, offset, value.name);
}

Result<ValueKey> parse_value_key_record(Bytes payload, uint32_t offset) {
    ValueKey value;
    TARNU_CHECK(parse_value_key_record(payload, offset, value));
    return value;
}

}  // namespace tarnu
