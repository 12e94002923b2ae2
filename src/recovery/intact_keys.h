// Key nodes of a hive whose tree is cut (a truncated file, a bin missing in the middle, a damaged subkey list):
// every key node that an allocated cell holds whole, reached from the root or not, and a key's path as far as its
// chain of parents can be read.
#pragma once

#include <vector>

#include "records/key_node.h"
#include "tree/key_path.h"

namespace tarnu {

struct Hive;

// Every key node that begins an allocated cell of the hive bins and parses whole (the fixed part, "nk", a name
// inside the cell that decodes), in cell-offset order. The cells are those of recovery's walk, which goes on past
// broken bins and cells (hive/cell_walk.h). Each node's `hive` is set.
std::vector<KeyNode> intact_key_nodes(const Hive& hive);

// The path of `key` through the key nodes its parent offsets name, as `key_path` follows them; where a parent
// cannot be read, the chain loops or runs past 512 levels, the names from the highest key reached.
PartialPath path_as_far_as_it_reads(const Hive& hive, const KeyNode& key);

}  // namespace tarnu
