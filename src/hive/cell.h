// Cells and hive bins: `read_cell`, the one bounds-checked way from a cell offset to a cell's payload, and
// `hbins`, the walk over the hive-bin headers. The records themselves are in records/cell.h and records/hive_bin.h.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// Why the cell at `offset` is not whole in `image`: the error `read_cell` returns, checked in the order that
// `read_cell` gives (offset in range, size field in the image, size at least the field's own, cell in the image).
HiveError cell_error(Bytes image, uint32_t offset);

// The payload of the cell at `offset` (relative to the hive bins), as a view of the image. Free and allocated
// cells are read alike. Errors carry `offset` as given. Every reader of the hive comes through here, so the
// checks of a whole cell are done here inline and only a failure goes out of line to be told apart.
inline Result<Bytes> read_cell(const Hive& hive, uint32_t offset) {
    const Bytes image = hive.bytes();
    const uint64_t p = uint64_t{offset} + kHiveBinsStart;
    if (offset <= kMaxCellOffset && p + kCellHeaderSize <= image.size()) {
        const uint64_t size = parse_cell_header(image, static_cast<size_t>(p)).size();
        if (size >= kCellHeaderSize && p + size <= image.size()) {
            return image.subspan(static_cast<size_t>(p + kCellHeaderSize), static_cast<size_t>(size - kCellHeaderSize));
        }
    }
    return cell_error(image, offset);
}

// The hive-bin headers in image order, from the start of the hive bins up to the first position that does not
// hold "hbin".
Result<std::vector<HbinHeader>> hbins(const Hive& hive);

// The header of the hive bin at hive-bins position `position`, or nothing where the listing of `hbins` ends there;
// a header that `hbins` refuses fails as it does there. `hbins` and the cell walk (hive/cell_walk.h) find bins
// through it.
Result<std::optional<HbinHeader>> read_hbin_header(const Hive& hive, uint64_t position);

}  // namespace tarnu
