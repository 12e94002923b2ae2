// Records of deleted keys and values as they lie in free space, and what they name there: key nodes and value keys
// taken from freed cells (free_space.h), a deleted key's value list and class name, and whether a deleted value's
// data still lies where the value left it.
//
// Free space holds anything, so a record is taken only when every field recovery uses holds up:
// - a key node: a freed cell that parses as a key node (76 bytes, "nk", a name inside the cell that decodes), a
//   name that is not empty, a parent offset that may name a cell, subkey-list, value-list, security and
//   class-name offsets that name no cell (0 or 0xFFFFFFFF) or may name one, and counts no larger than the image
//   has list entries;
// - a value key: a freed cell that parses as a value key (20 bytes, "vk", a name that decodes), and data fields
//   that make sense: inline data of at most 4 bytes, no data, or a size no larger than the image with an offset
//   that may name a cell.
// What a record names is taken only from freed cells too: a list or data cell that is allocated again, or that
// no longer holds what the record says it held, has been reused and is not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "recovery/free_space.h"

namespace tarnu {

struct Hive;

// The key node of the freed cell at `offset`, when it holds one that passes the checks above.
std::optional<KeyNode> carve_key_node(const Hive& hive, const FreeSpace& space, uint32_t offset);

// The value key of the freed cell at `offset`, when it holds one that passes the checks above.
std::optional<ValueKey> carve_value_key(const Hive& hive, const FreeSpace& space, uint32_t offset);

// The bytes that a carved record fills from its size field to the end of its name.
uint32_t key_node_extent(const KeyNode& node);
uint32_t value_key_extent(const ValueKey& value);

// The entries of a deleted key's value list, when the list is a freed cell holding them all and `budget` (list
// entries still to be read) allows; the budget is charged for them.
std::vector<uint32_t> carve_value_list(const FreeSpace& space, const KeyNode& node, size_t& budget);

// A deleted key's class name, when its cell is a freed cell that holds the class name's length in UTF-16LE text.
std::optional<std::string> carve_class_name(const FreeSpace& space, const KeyNode& node);

// True when the data of a deleted value can still be read as it was: inline or empty data, or data whose cells
// (one data cell, or a big-data record with its segment list and segments) are freed cells holding at least the
// value's data size. Segment-list entries are charged to `budget`.
bool data_in_free_space(const Hive& hive, const FreeSpace& space, const ValueKey& value, size_t& budget);

}  // namespace tarnu
