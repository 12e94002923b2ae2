// The walk over every cell of the hive bins: each cell with its offset, its size and whether it is allocated (the
// sign of its size field), and the record signature a cell begins with. Deleted-data recovery (src/recovery) finds
// free space through it; `Hive.cells()` shows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "utils/bytes.h"

namespace tarnu {

struct Hive;

// One cell as the walk over its hive bin finds it. A negative size field marks an allocated cell.
struct CellInfo {
    uint32_t offset = 0;  // relative to the hive bins
    uint32_t size = 0;    // the magnitude of the size field: the whole cell, size field included
    bool allocated = false;
    Bytes payload;        // the cell after its size field, as a view of the image
};

// The two bytes that begin `payload` when they are the signature of a record ("nk", "vk", "sk", "lf", "lh", "li",
// "ri", "db"); empty for anything else (data, value lists, segment lists).
std::string_view record_signature(Bytes payload);

// Every cell of every hive bin, in image order. Bins are found as `hbins` finds them; where `hbins` fails the walk
// ends instead. Within a bin the walk goes from its header to its end (or the end of the image); a cell whose size
// is below 4 or that runs past the bin's end ends that bin's walk. The walk only moves forward, so it ends on any
// input and never hands out a cell twice.
class CellWalk {
public:
    // `hive` must outlive the walk.
    explicit CellWalk(const Hive& hive);

    // The next cell, or nothing once the walk is over.
    std::optional<CellInfo> next();

private:
    // Moves to the next hive bin; false when there is none.
    bool next_bin();

    const Hive& hive_;
    uint64_t next_bin_ = 0;  // hive-bins position of the next bin's header
    uint64_t position_ = 0;  // of the next cell in the current bin
    uint64_t bin_end_ = 0;   // where the current bin's cells end
    bool over_ = false;
};

}  // namespace tarnu
