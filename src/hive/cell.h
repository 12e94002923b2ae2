// Cells and hive bins: `read_cell`, the one bounds-checked way from a cell offset to a cell's payload, and
// `hbins`, the walk over the hive-bin headers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct HbinHeader {
    std::array<uint8_t, 4> signature{};
    uint32_t offset = 0;
    uint32_t size = 0;
    std::array<uint8_t, 8> reserved{};
    uint64_t timestamp = 0;
    uint32_t spare = 0;
};

// The size of a cell whatever its sign (negative for allocated cells, positive for free ones).
inline uint64_t cell_magnitude(int32_t size) {
    return size < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{size}) : static_cast<uint64_t>(size);
}

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
        const uint64_t magnitude = cell_magnitude(static_cast<int32_t>(le32(image, static_cast<size_t>(p))));
        if (magnitude >= kCellHeaderSize && p + magnitude <= image.size()) {
            return image.subspan(static_cast<size_t>(p + kCellHeaderSize),
                                 static_cast<size_t>(magnitude - kCellHeaderSize));
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
