// Cells and hive bins: `read_cell`, the one bounds-checked way from a cell offset to a cell's payload; `hbins`, the
// walk over the hive-bin headers; and `CellWalk`, which goes through every hive bin that `hbins` lists from its
// header to its end and hands out each cell with its size and whether it is allocated.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "utils/bytes.h"

namespace tarnu {

struct Hive;

struct HbinHeader {
    std::array<uint8_t, 4> signature{};
    uint32_t offset = 0;
    uint32_t size = 0;
    std::array<uint8_t, 8> reserved{};
    uint64_t timestamp = 0;
    uint32_t spare = 0;
};

// The payload of the cell at `offset` (relative to the hive bins), as a view of the image. Free and allocated
// cells are read alike. Errors carry `offset` as given.
Result<Bytes> read_cell(const Hive& hive, uint32_t offset);

// The hive-bin headers in image order, from the start of the hive bins up to the first position that does not
// hold "hbin".
Result<std::vector<HbinHeader>> hbins(const Hive& hive);

// The header of the hive bin at hive-bins position `position`, or nothing where the listing of `hbins` ends there.
// A header that `hbins` refuses fails as it does there.
Result<std::optional<HbinHeader>> read_hbin_header(const Hive& hive, uint64_t position);

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
// is below 4 or that runs past the bin's end ends that bin's walk. Each step costs the same whatever the hive
// holds, and the walk never hands out a cell twice.
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
