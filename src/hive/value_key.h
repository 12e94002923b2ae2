// Value lists and value keys ("vk" cells), and the fetching of a value's data: inline in the value key, from one
// data cell, or gathered from a big-data ("db") chain of segments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "error/error.h"
#include "hive/key_node.h"
#include "hive/value_type.h"

namespace tarnu {

struct Hive;

struct ValueKey {
    ValueType value_type;
    std::string name;        // UTF-8; "(default)" for the unnamed value
    uint32_t data_size = 0;  // bit 31 cleared
    uint32_t data_offset = 0;
    uint16_t name_length = 0;
    uint16_t flags = 0;
    const Hive* hive = nullptr;  // not owning
    uint32_t offset = 0;         // the cell offset the value key was read from
};

// The value keys named by `key`'s value list, in list order. The first value key that fails fails the list.
Result<std::vector<ValueKey>> read_value_list(const Hive& hive, const KeyNode& key);

// The same into the first entries of `values`, which keep their storage (the vector grows when it is shorter);
// the number of value keys read.
Result<size_t> read_value_list(const Hive& hive, const KeyNode& key, std::vector<ValueKey>& values);

// Reads the value key at `offset` into `value`, whose name keeps its storage. A failed read leaves `value`
// holding parts of the failed value key.
Status read_value_key(const Hive& hive, uint32_t offset, ValueKey& value);

// A copy of the value's data bytes: never longer than the declared size, nor than the image.
Result<std::vector<uint8_t>> read_value_data(const ValueKey& value);

// The value's data bytes without a copy where they lie in one piece: a view of the image for data inline in the
// value key or in one data cell; data joined from big-data segments is left in `joined` (replacing what it held)
// and viewed there. The view is valid while the hive and `joined` are.
Result<Bytes> view_value_data(const ValueKey& value, std::vector<uint8_t>& joined);

}  // namespace tarnu
