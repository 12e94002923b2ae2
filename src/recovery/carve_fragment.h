// A fragment being carved: hive bins found without their base block, the key nodes found in them, and the hive
// that is made of them at the end (recovery/carve_image.h says how bins are gathered).
//
// The made hive keeps every bin at its stated offset, so that the cell offsets inside still lead where they led.
// Offsets that no bin found covers get one empty bin each (a header and one free cell); the cells of a bin cut short
// go on as one free cell from the end of the last cell found (the bytes it lacks read as zeros). The base block
// states a hive bins data size up to the end of the last bin, and a root cell offset at a key node found in the
// fragment: a node marked as the hive's root if there is one, else the first whose parent is not among the nodes
// found (the fewest ancestors present), else the first.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "recovery/carve_image.h"
#include "recovery/carve_signatures.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

class Fragment {
public:
    // True when `bin` would overlap a bin of the fragment.
    bool overlaps(const FoundBin& bin) const;
    // Adds a bin found at image position `position`; `header` is the image from there on (its header at least).
    // It becomes the bin whose bytes `take` records.
    void add(const FoundBin& bin, uint64_t position, Bytes header);
    // Records that the image bytes up to `to` of the current bin were copied; `image` holds the image from image
    // position `image_base` on, including the bytes just copied. With `find_keys`, the cells whose headers they
    // complete are looked at for key nodes.
    void take(uint64_t to, Bytes image, uint64_t image_base, bool find_keys);

    // The hive bins data size of the made hive: the end of its last bin.
    uint32_t bins_end() const { return bins_end_; }
    // The smallest offset of its bins.
    uint32_t first_offset() const { return bins_.empty() ? 0 : bins_.begin()->first; }
    // Image positions of its first bin and of the end of the last byte copied.
    uint64_t image_begin() const { return image_begin_; }
    uint64_t image_end() const { return image_end_; }
    // A bin of it was not copied whole.
    bool cut_short() const;

    // Writes the empty bins of the gaps and the made base block to `output`, and gives it its length.
    Status finish(CarveOutput& output) const;

private:
    struct Bin {
        uint32_t size = 0;
        uint64_t position = 0;   // in the image
        uint64_t taken = 0;      // bytes copied from the image
        uint64_t cells_end = 0;  // image position where the cells found so far end (the last one may be cut)
    };
    struct KeyCell {
        uint32_t offset = 0;
        uint32_t parent = 0;
        uint16_t flags = 0;
    };
    uint32_t root_cell_offset() const;

    std::map<uint32_t, Bin> bins_;  // by offset; at most one per 4096 bytes of image copied
    Bin* current_ = nullptr;
    uint32_t current_offset_ = 0;
    uint64_t cell_ = 0;  // image position of the next cell of the current bin to look at
    std::vector<KeyCell> keys_;
    uint32_t bins_end_ = 0;
    uint64_t image_begin_ = 0;
    uint64_t image_end_ = 0;
    uint64_t timestamp_ = 0;  // of the bin at offset 0, which Windows keeps up to date
};

}  // namespace tarnu
