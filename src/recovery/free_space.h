// The space recovery searches inside the hive bins, as one walk over every cell finds it (hive/cell_walk.h):
// the free cells, the allocated cells that the live tree does not use (recovery/referenced_cells.h), and the
// offsets of all allocated cells, to tell live cells apart. The walk's end, where the remnant area begins, and the
// places it passed over are kept for the rest of recovery.
//
// When Windows frees a cell it makes the cell's size field positive and leaves its bytes; freed neighbours are
// merged into one larger free cell whose inner size fields stay where they were. So a record left by a deleted key
// or value starts a free cell of the walk or lies inside one, at a multiple of 8 bytes from its start, under a
// positive size field of its own that ends inside that free cell: `freed_cell` finds exactly such cells. An
// allocated cell that nothing uses (a hive that healed itself marks free cells allocated again, a crash leaves cells
// allocated that nothing names yet) is read the same way: its first record under the cell's own size field, the
// ones inside it under positive size fields of their own; `stale_cell` finds such cells and freed ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tree/offset_set.h"
#include "utils/bytes.h"

namespace tarnu {

struct Hive;

class FreeSpace {
public:
    // A cell of the walk, or a run of them: hive-bins offsets of its first byte and of the byte after it.
    struct Region {
        uint32_t begin;
        uint32_t end;
    };

    // Walks the live tree and every cell of `hive` once. `hive` must outlive this.
    explicit FreeSpace(const Hive& hive);

    // The free cells of the walk, in offset order.
    const std::vector<Region>& regions() const { return regions_; }
    // The allocated cells of the walk that the live tree does not use, in offset order.
    const std::vector<Region>& unreferenced() const { return unreferenced_; }

    // The payload of the cell at `offset` when it lies in free space as a freed cell does (see above).
    std::optional<Bytes> freed_cell(uint32_t offset) const;
    // The same for a cell that lies in free space or in an allocated cell that the live tree does not use.
    std::optional<Bytes> stale_cell(uint32_t offset) const;

    // True when an allocated cell of the walk starts at `offset`.
    bool is_allocated_cell(uint32_t offset) const { return allocated_.contains(offset); }
    // True when the live tree names the cell at `offset`.
    bool is_referenced(uint32_t offset) const { return referenced_.contains(offset); }

    // True when `offset` may name a cell: a multiple of 8 past the first hive bin's header, with room for a size
    // field and a record signature inside the image.
    bool plausible_offset(uint32_t offset) const;

    // Where the walk's bins end: the hive-bins position where the remnant area begins.
    uint64_t bins_end() const { return bins_end_; }
    // Broken bins, runs of missing bins and broken cells that the walk passed over.
    size_t passed_over() const { return passed_over_; }

private:
    const Hive& hive_;
    OffsetSet referenced_;
    OffsetSet allocated_;
    std::vector<Region> regions_;
    std::vector<Region> unreferenced_;
    uint64_t bins_end_ = 0;
    size_t passed_over_ = 0;
};

}  // namespace tarnu
