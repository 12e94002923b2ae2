// A key's place in the tree, found through the parent offsets of key nodes: its parent and its path.
//
// The root is the key that the base block names; it has no parent, and its path is "". Following parents is
// bounded: at most `kMaxKeyDepth` levels, and a chain that comes back to a key it passed fails.
#pragma once

#include <optional>
#include <string>

#include "error/error.h"
#include "hive/key_node.h"

namespace tarnu {

struct Hive;

// The parent of `key`, or nothing for the root key. A parent offset that does not lead to a key node fails with
// InvalidFormat.
Result<std::optional<KeyNode>> read_parent(const Hive& hive, const KeyNode& key);

// The names from below the root down to `key`, joined by backslashes; "" for the root.
Result<std::string> key_path(const Hive& hive, const KeyNode& key);

}  // namespace tarnu
