// The free space of a hive as the walk over its cells finds it: every free cell is a region where recovery looks
// for what deleted keys and values left, and the offsets of the allocated cells are kept to tell live cells apart.
//
// When Windows frees a cell it makes the cell's size field positive and leaves its bytes; freed neighbours are
// merged into one larger free cell whose inner size fields stay where they were. So a record left by a deleted key
// or value starts a free cell of the walk or lies inside one, at a multiple of 8 bytes from its start, under a
// positive size field of its own that ends inside that free cell: `freed_cell` finds exactly such cells.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "utils/bytes.h"

namespace tarnu {

struct Hive;

class FreeSpace {
public:
    // A free cell of the walk: hive-bins offsets of its first byte and of the byte after it.
    struct Region {
        uint32_t begin;
        uint32_t end;
    };

    // Walks every cell of `hive` once. `hive` must outlive this.
    explicit FreeSpace(const Hive& hive);

    // The free cells of the walk, in offset order.
    const std::vector<Region>& regions() const { return regions_; }

    // The payload of the cell at `offset` when it lies in free space as a freed cell does (see above).
    std::optional<Bytes> freed_cell(uint32_t offset) const;

    // True when an allocated cell of the walk starts at `offset`.
    bool is_allocated_cell(uint32_t offset) const;

    // True when `offset` may name a cell: a multiple of 8 past the first hive bin's header, with room for a size
    // field and a record signature inside the image.
    bool plausible_offset(uint32_t offset) const;

private:
    const Hive& hive_;
    std::vector<Region> regions_;
    std::vector<uint32_t> allocated_;  // in offset order
};

}  // namespace tarnu
