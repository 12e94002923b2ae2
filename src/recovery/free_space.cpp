#include "recovery/free_space.h"

#include <algorithm>

#include "hive/cell_walk.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"

namespace tarnu {

FreeSpace::FreeSpace(const Hive& hive) : hive_(hive) {
    CellWalk walk(hive);
    while (std::optional<CellInfo> cell = walk.next()) {
        if (cell->allocated) {
            allocated_.push_back(cell->offset);
        } else {
            regions_.push_back(Region{cell->offset, cell->offset + cell->size});
        }
    }
}

std::optional<Bytes> FreeSpace::freed_cell(uint32_t offset) const {
    // The region that starts last at or before `offset`; regions never overlap.
    auto after = std::upper_bound(regions_.begin(), regions_.end(), offset,
                                  [](uint32_t at, const Region& region) { return at < region.begin; });
    if (after == regions_.begin()) return std::nullopt;
    const Region& region = *(after - 1);
    if (offset >= region.end || (offset - region.begin) % kCellAlignment != 0) return std::nullopt;
    if (region.end - offset < kCellHeaderSize) return std::nullopt;
    const Bytes data = hive_.bytes().subspan(kHiveBinsStart);
    const int32_t size = static_cast<int32_t>(le32(data, offset));
    if (size < static_cast<int32_t>(kCellHeaderSize) || static_cast<uint32_t>(size) > region.end - offset) {
        return std::nullopt;
    }
    return data.subspan(size_t{offset} + kCellHeaderSize, static_cast<size_t>(size) - kCellHeaderSize);
}

bool FreeSpace::is_allocated_cell(uint32_t offset) const {
    return std::binary_search(allocated_.begin(), allocated_.end(), offset);
}

bool FreeSpace::plausible_offset(uint32_t offset) const {
    const uint64_t end = uint64_t{kHiveBinsStart} + offset + kCellHeaderSize + 2;
    return offset % kCellAlignment == 0 && offset >= kHbinHeaderSize && end <= hive_.bytes().size();
}

}  // namespace tarnu
