// Finding keys by name and by path, with names compared as the registry compares them (tree/name_compare.h).
//
// A path is names joined by backslashes; empty components (a leading, trailing or doubled backslash) are ignored
// and a slash is part of a name. Among a key's children the first in stored order whose name matches is taken.
// The hash of an "lh" entry and the hint of an "lf" entry let a lookup pass over children that cannot match
// without reading their key nodes, and the length of a stored name passes over the rest without decoding it; every
// candidate's name is compared after it is decoded, so a hash or hint that lies can hide a key but never yields one
// of another name. A name is decoded at most once per level, however often the lists name its node, and a path that
// comes back to a key it passed leads nowhere.
//
// A missing key is an empty result, not an error. A subkey list or candidate node that cannot be read does not
// stop the search among the others; its failure is returned only when no child matches. One call reads list entries
// and names of at most twice the image's size (tree/budget.h); past that it fails.
#pragma once

#include <optional>
#include <string_view>

#include "records/key_node.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// The child of `key` named `name`.
Result<std::optional<KeyNode>> find_subkey(const Hive& hive, const KeyNode& key, std::string_view name);

// The key at `path` below `start`; `start` itself for a path without names.
Result<std::optional<KeyNode>> find_key(const Hive& hive, const KeyNode& start, std::string_view path);

// The key at `path` below the hive's root key. In a SYSTEM hive, where no key of that name exists, a first
// component "CurrentControlSet" stands for the control set that the value Select\Current names
// ("ControlSet001" for 1).
Result<std::optional<KeyNode>> find_key_from_root(const Hive& hive, std::string_view path);

}  // namespace tarnu
