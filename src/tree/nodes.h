// The records of the tree read by cell offset, through `read_cell`: key nodes, value keys and value lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// Reads the key node at `offset`, as `parse_key_node_record` parses it; the node's `hive` is set.
Result<KeyNode> parse_key_node(const Hive& hive, uint32_t offset);
// The same into `node`, whose name keeps its storage: for callers that read node after node. A failure leaves
// `node` holding parts of the failed node.
Status read_key_node(const Hive& hive, uint32_t offset, KeyNode& node);

// The size of one entry of a value list: the offset of a value key.
inline constexpr size_t kValueListEntrySize = 4;

// The value keys named by `key`'s value list, in list order. The first value key that fails fails the list, and so
// does a list whose entries, records and names pass the budget of one call (tree/budget.h).
Result<std::vector<ValueKey>> read_value_list(const Hive& hive, const KeyNode& key);

// The same into the first entries of `values`, which keep their storage (the vector grows when it is shorter);
// the number of value keys read.
Result<size_t> read_value_list(const Hive& hive, const KeyNode& key, std::vector<ValueKey>& values);

// Reads the value key at `offset` into `value`, as `parse_value_key_record` parses it.
Status read_value_key(const Hive& hive, uint32_t offset, ValueKey& value);

}  // namespace tarnu
