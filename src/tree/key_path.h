// A key's place in the tree, found through the parent offsets of key nodes: its parent and its path.
//
// The root is the key that the base block names; it has no parent, and its path is "". Following parents is
// bounded: at most `kMaxKeyDepth` levels, and a chain that comes back to a key it passed fails. `partial_key_path`
// is the form for keys whose parents may be gone (deleted keys): it takes its parents from the caller and, where
// the chain breaks, gives the names it reached instead of failing.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "records/key_node.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// The parent of `key`, or nothing for the root key. A parent offset that does not lead to a key node fails with
// InvalidFormat.
Result<std::optional<KeyNode>> read_parent(const Hive& hive, const KeyNode& key);

// The names from below the root down to `key`, joined by backslashes; "" for the root.
Result<std::string> key_path(const Hive& hive, const KeyNode& key);

// A path as far as a key's chain of parents holds.
struct PartialPath {
    std::string path;       // the names from the highest key reached down to the key, joined by backslashes
    bool complete = false;  // the chain reached the root, so `path` is relative to the root as key_path's is
};

// The parent of a key node as a caller finds it, or nothing where the chain breaks.
using ParentOf = std::function<std::optional<KeyNode>(const KeyNode&)>;

// The path of `key` through the parents that `parent_of` gives. Where the chain breaks, comes back to a key it
// passed or runs past `kMaxKeyDepth` levels, the path holds the names reached and is not complete.
PartialPath partial_key_path(const Hive& hive, const KeyNode& key, const ParentOf& parent_of);

}  // namespace tarnu
