// The walk over every cell of the hive bins that recovery makes: the walk of hive/cell_walk.h, except that damage
// does not end it. Where a bin is missing or its header is broken inside the stated hive-bins data size, the walk
// passes over 4096-byte blocks until one begins a sound bin again; a cell whose size is below 4 or that runs past
// its bin ends that bin, as in the cell walk. Each place passed over is counted, and so is the end of an image
// shorter than the stated size.
//
// Past the stated size the walk goes on while bins name their own positions, as `Hive.cells()` does; the first
// position that holds no such bin ends it, and what lies from there to the end of the image is the remnant area
// (recovery/remnants.h). The walk only moves forward, so it ends on any input, in time proportional to the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "hive/cell_walk.h"

namespace tarnu {

struct Hive;

class CellScan {
public:
    // `hive` must outlive the scan.
    explicit CellScan(const Hive& hive);

    // The next cell, or nothing once the walk is over.
    std::optional<CellInfo> next();

    // Once the walk is over: where its bins end (the hive-bins position of the remnant area), and how many broken
    // bins, runs of missing bins (a missing end too) and broken cells it passed over.
    uint64_t end() const { return end_; }
    size_t passed_over() const { return passed_over_; }

private:
    // Moves to the next sound bin; false when the walk is over.
    bool next_bin();
    // Whether a sound bin begins at hive-bins position `q`: "hbin", its own position, a size that moves forward.
    bool sound_bin_at(uint64_t q, uint32_t& size) const;

    const Hive& hive_;
    uint64_t data_size_;     // of the hive bins in the image
    uint64_t next_bin_ = 0;  // where the next bin's header should be
    uint64_t position_ = 0;  // of the next cell in the current bin
    uint64_t bin_end_ = 0;   // where the current bin's cells end
    uint64_t end_ = 0;
    size_t passed_over_ = 0;
    bool over_ = false;
};

}  // namespace tarnu
