// Records of keys and values outside the live tree as recovery takes them, and what they name there: key nodes and
// value keys taken from cells nothing uses, a recovered key's value list and class name, and whether a recovered
// value's data still lies where the value left it.
//
// Such space holds anything, so a record is taken only when every field recovery uses holds up:
// - a key node: a record that parses as a key node (76 bytes, "nk", a name inside its cell that decodes), a name
//   that is not empty, subkey-list, value-list, security and class-name offsets that name no cell (0 or
//   0xFFFFFFFF) or may name one, and counts no larger than the image has list entries. The parent offset is not
//   judged: a key whose parent offset is damaged is kept, and its path ends where its parents can no longer be
//   found;
// - a value key: a record that parses as a value key (20 bytes, "vk", a name that decodes), and data fields that
//   make sense: inline data of at most 4 bytes, no data, or a size no larger than the image with an offset that
//   may name a cell.
// What a record names is read only through the `RecordCells` of the place the record was found in: a list or data
// cell that is in use, or that no longer holds what the record says it held, has been reused and is not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "utils/bytes.h"

namespace tarnu {

struct Hive;

// Where the cells that recovered records name may be read, and how their offsets are judged: free cells alone for
// records of free cells, free and unreferenced allocated cells for records of those, the remnant area for its own.
class RecordCells {
public:
    virtual ~RecordCells() = default;
    // True when `offset` may name a cell of the hive the record belongs to.
    virtual bool plausible_offset(uint32_t offset) const = 0;
    // The hive-bins position where the cell that `offset` names lies now: `offset` itself, except in the remnant
    // area, whose bins name the positions they had in an earlier hive.
    virtual std::optional<uint32_t> position(uint32_t offset) const { return offset; }
    // The payload of the cell at hive-bins position `position`, when a recovered record may still own it.
    virtual std::optional<Bytes> cell(uint32_t position) const = 0;
};

// The key node held by `record` (the bytes after the size field of the cell at `offset`), when it passes the
// checks above; its `hive` is set.
std::optional<KeyNode> carve_key_node(const Hive& hive, const RecordCells& cells, Bytes record, uint32_t offset);

// The value key held by `record`, the same way.
std::optional<ValueKey> carve_value_key(const Hive& hive, const RecordCells& cells, Bytes record, uint32_t offset);

// The bytes that a carved record fills from its size field to the end of its name.
uint32_t key_node_extent(const KeyNode& node);
uint32_t value_key_extent(const ValueKey& value);

// The positions of the values that a recovered key's value list names, when the list is a cell `cells` gives that
// holds them all and `budget` (list entries still to be read) allows; the budget is charged for them. Entries whose
// cell has no position are left out.
std::vector<uint32_t> carve_value_list(const RecordCells& cells, const KeyNode& node, size_t& budget);

// A recovered key's class name, when its cell is one `cells` gives that holds the class name's length in UTF-16LE
// text.
std::optional<std::string> carve_class_name(const RecordCells& cells, const KeyNode& node);

// True when the data of a recovered value can still be read as it was: inline or empty data, or data whose cells
// (one data cell, or a big-data record with its segment list and segments) are cells `cells` gives holding at
// least the value's data size. Segment-list entries are charged to `budget`. The value's data offset is set to the
// position of its data cell; big data is taken only where its cells lie at the positions its offsets name.
bool data_available(const Hive& hive, const RecordCells& cells, ValueKey& value, size_t& budget);

}  // namespace tarnu
