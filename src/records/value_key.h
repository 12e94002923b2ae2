// Value keys ("vk" cells): the parsed record and `parse_value_key_record`, which parses one from the bytes of its
// cell. tree/nodes.h reads value keys and value lists by cell offset, tree/value_data.h a value's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hive/limits.h"
#include "records/value_type.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// Positions of the value-key fields in the cell's payload; the name follows the 20-byte fixed part.
namespace value_key_field {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kNameLength = 2;
inline constexpr size_t kDataSize = 4;
inline constexpr size_t kDataOffset = 8;
inline constexpr size_t kDataType = 12;
inline constexpr size_t kFlags = 16;
inline constexpr size_t kName = 20;
}  // namespace value_key_field

struct ValueKey {
    ValueType value_type;
    std::string name;        // UTF-8; "(default)" for the unnamed value
    uint32_t data_size = 0;  // bit 31 cleared
    uint32_t data_offset = 0;
    uint16_t name_length = 0;
    uint16_t flags = 0;
    const Hive* hive = nullptr;  // not owning
};

// Parses the value key held by `payload`, the payload of the cell at `offset`: at least the fixed part, "vk", and
// a name inside the payload that decodes. Errors carry `offset`; the record's `hive` stays null.
Result<ValueKey> parse_value_key_record(Bytes payload, uint32_t offset);
// The same into `value`, whose name keeps its storage. A failure leaves `value` holding parts of the failed key.
Status parse_value_key_record(Bytes payload, uint32_t offset, ValueKey& value);

}  // namespace tarnu
