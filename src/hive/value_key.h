// Value lists and value keys ("vk" cells), and the fetching of a value's data: inline in the value key, from one
// data cell, or gathered from a big-data ("db") chain of segments.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "error/error.h"
#include "hive/key_node.h"
#include "hive/limits.h"
#include "hive/value_type.h"
#include "utils/bytes.h"

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

// The value keys named by `key`'s value list, in list order. The first value key that fails fails the list.
Result<std::vector<ValueKey>> read_value_list(const Hive& hive, const KeyNode& key);

// The same into the first entries of `values`, which keep their storage (the vector grows when it is shorter);
// the number of value keys read.
Result<size_t> read_value_list(const Hive& hive, const KeyNode& key, std::vector<ValueKey>& values);

// Reads the value key at `offset` into `value`, as `parse_value_key_record` parses it.
Status read_value_key(const Hive& hive, uint32_t offset, ValueKey& value);

// A copy of the value's data bytes: never longer than the declared size, nor than the image.
Result<std::vector<uint8_t>> read_value_data(const ValueKey& value);

// Where `view_value_data` puts data that does not lie in one piece of the image: the bytes of inline data, taken
// from the value key's data offset field, and big data joined from its segments.
struct DataScratch {
    std::array<uint8_t, kMaxInlineData> inline_bytes{};
    std::vector<uint8_t> joined;
};

// The value's data bytes without a copy where they lie in one piece: a view of the image for data in one data
// cell, else of `scratch` (whose joined bytes are replaced). The view is valid while the hive and `scratch` are.
Result<Bytes> view_value_data(const ValueKey& value, DataScratch& scratch);

// The same bytes as views to be read in order, big data left in its segments instead of joined: appends to `pieces`
// one view (of the image, or of `scratch`'s inline bytes), one per segment, or none, and returns their total
// length. On failure `pieces` is as it was. For whoever copies the data anyway: it is copied once, straight to
// where it goes.
Result<size_t> append_value_data_pieces(const ValueKey& value, DataScratch& scratch, std::vector<Bytes>& pieces);

}  // namespace tarnu
