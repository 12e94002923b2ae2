// Subkey lists: from a key's subkey list cell to the ordered cell offsets of its children's key nodes.
//
// Leaf lists ("lf", "lh", "li") name key nodes; index lists ("ri") name further lists and are followed
// depth-first in stored order. Nothing is sorted or de-duplicated. The walk is iterative and bounded: index lists
// nested deeper than `kMaxSubkeyListDepth`, or a collection that visits more lists or gathers more entries than
// the image could hold without repeating itself, fail with InvalidFormat, so cycles and fan-out end quickly.
#pragma once

#include <cstdint>
#include <vector>

#include "error/error.h"
#include "hive/key_node.h"

namespace tarnu {

// Appends the child offsets named by the list at `list_offset` to `out`. Offsets 0 and 0xFFFFFFFF name no list.
Status collect_subkey_offsets(const KeyNode& key, uint32_t list_offset, std::vector<uint32_t>& out);

}  // namespace tarnu
