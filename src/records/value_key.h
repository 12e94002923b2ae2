// Value keys ("vk" cells): the positions of their fields, their size and flags, how the data size field marks data
// held in the record itself, the parsed record and `parse_value_key_record`, which parses one from the bytes of its
// cell. tree/nodes.h reads value keys and value lists by cell offset, tree/value_data.h a value's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/value_type.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// The fixed part of a value key, before its name.
inline constexpr size_t kValueKeyFixedSize = 20;
// Value-key flag: the name is stored as 8-bit characters.
inline constexpr uint16_t kValueCompressedName = 0x0001;
// Data sizes are 31-bit; bit 31 marks inline data. Data of up to 4 bytes is held in the data offset field itself,
// its first byte lowest.
inline constexpr uint32_t kDataSizeMask = 0x7FFFFFFF;
inline constexpr uint32_t kMaxInlineData = 4;

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
