// The cell header: the 4-byte signed size field that begins every cell, and where cells lie in a bin. The size
// field's magnitude is the whole cell's size, size field included; a negative size marks an allocated cell, a
// positive one a free cell. hive/cell.h reads cells by offset, hive/cell_walk.h walks them.
#pragma once

#include <cstdint>

#include "utils/bytes.h"

namespace tarnu {

// A cell begins with a 4-byte signed size field; its payload follows.
inline constexpr uint32_t kCellHeaderSize = 4;

// Windows allocates cells in multiples of 8 bytes, so every cell starts at a multiple of 8 from its bin's start. A
// cell freed inside a larger free cell keeps that place, and recovery looks for records only there.
inline constexpr uint32_t kCellAlignment = 8;
// Nor does Windows make a cell smaller than 8 bytes: the first cell of a real bin has at least that size.
inline constexpr uint32_t kMinCellSize = 8;

struct CellHeader {
    int32_t size_field = 0;  // as stored

    bool allocated() const { return size_field < 0; }
    // The size of the cell whatever its sign, size field included.
    uint64_t size() const {
        return size_field < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{size_field})
                              : static_cast<uint64_t>(size_field);
    }
};

// The header of the cell that begins at `position` of `bytes`, which the caller has checked to hold its 4 bytes.
inline CellHeader parse_cell_header(Bytes bytes, size_t position) {
    return CellHeader{static_cast<int32_t>(le32(bytes, position))};
}

}  // namespace tarnu
