// The remnant area: the bytes from where the walk over the hive bins ends (hive/cell_walk.h) to the end of the
// image. When a hive shrinks, Windows states a smaller hive-bins data size and leaves what lay past it; a file may
// also hold bins of an earlier, larger hive that was laid out anew, whose offset fields still name the positions
// they had there (the NTUSER.DAT sample states 0xb3000 and holds, at 0xb3000, a bin naming 0x13b2000).
//
// The area is read as it stands: bins are recognised by their headers ("hbin", an offset field and a size that are
// multiples of 4096, a size of at most 16 MiB), and the offsets that records of a bin name are taken in the
// positions the bins name, so that a record's value list and data are found where its bin lies now. Records lie
// anywhere in the area, inside bins or not, with or without a size field of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "utils/bytes.h"

namespace tarnu {

struct Hive;

class RemnantArea {
public:
    // The area from hive-bins position `begin` to the end of the image. `hive` must outlive the area.
    RemnantArea(const Hive& hive, uint64_t begin);

    uint64_t begin() const { return begin_; }
    uint64_t end() const { return end_; }

    // Bin headers that begin with "hbin" but whose fields are not a bin's.
    size_t broken_bins() const { return broken_bins_; }

    // Whether `position` lies in the header of a bin of the area.
    bool in_bin_header(uint64_t position) const;

    // The bytes a record whose cell would begin at `position` may fill: under its size field when the four bytes
    // there (inside the area) hold the size of a cell that ends inside its bin, else up to the end of its bin (or of
    // the area, outside bins). Starts after the size field; empty when `position` + 4 is outside the area.
    Bytes record_bytes(uint64_t position) const;

    // Where the cell that a record of the area names by `offset` lies now: in the bin whose offset field's range
    // holds it, or, outside every bin, at `offset` itself when that lies in the area.
    std::optional<uint32_t> position_of(uint32_t offset) const;

    // The payload of the cell at hive-bins position `position` of the area: a size field of either sign whose cell
    // ends inside its bin (or the area).
    std::optional<Bytes> cell(uint32_t position) const;

private:
    struct Bin {
        uint64_t position;  // where it lies, from the start of the hive bins
        uint64_t end;       // where its bytes end in the area
        uint32_t offset;    // the position its header names
    };

    // The end of the bin holding `position`, or of the area outside bins.
    uint64_t end_of_bin_at(uint64_t position) const;
    const Bin* bin_at(uint64_t position) const;

    Bytes data_;  // the hive bins part of the image
    uint64_t begin_;
    uint64_t end_;
    std::vector<Bin> bins_;            // in position order
    std::vector<size_t> by_offset_;    // indexes into bins_, in the order of their offset fields
    size_t broken_bins_ = 0;
};

}  // namespace tarnu
