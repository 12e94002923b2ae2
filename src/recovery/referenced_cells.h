// The cells the live tree uses: every cell that one walk from the root key names. Recovery looks for records
// outside the live tree only in cells that are not among them, so that nothing the tree shows is found again.
//
// The walk follows key nodes, their subkey lists (index lists and leaf lists), value lists, value keys, data cells
// (a big-data record with its segment list and segments), class-name cells and security cells (with the list the
// security cells form through their links). Each cell is entered once: the walk is bounded by the image whatever
// the offsets name, and keeps no recursion. A cell that cannot be read, or holds something else than its
// referrer says, is still counted as used and not followed.
#pragma once

#include "tree/offset_set.h"

namespace tarnu {

struct Hive;

// The offsets of every cell the live tree names.
OffsetSet referenced_cells(const Hive& hive);

}  // namespace tarnu
