// Cells and hive bins: `read_cell`, the one bounds-checked way from a cell offset to a cell's payload, and
// `hbins`, the walk over the hive-bin headers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// The header of the hive bin at hive-bins position `position`, or nothing where the listing of `hbins` ends there;
// a header that `hbins` refuses fails as it does there. `hbins` and the cell walk (hive/cell_walk.h) find bins
// through it.
Result<std::optional<HbinHeader>> read_hbin_header(const Hive& hive, uint64_t position);

}  // namespace tarnu
