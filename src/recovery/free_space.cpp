#include "recovery/free_space.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "hive/cell_walk.h"
#include "recovery/referenced_cells.h"

namespace tarnu {
namespace {

using Region = FreeSpace::Region;

// The region of `regions` (in offset order, never overlapping) that holds `offset`.
const Region* region_at(const std::vector<Region>& regions, uint32_t offset) {
    auto after = std::upper_bound(regions.begin(), regions.end(), offset,
                                  [](uint32_t at, const Region& region) { return at < region.begin; });
    if (after == regions.begin()) return nullptr;
    const Region& region = *(after - 1);
    return offset < region.end ? &region : nullptr;
}

// The payload of a cell inside `region` at `offset`: at a multiple of 8 from its start, under a positive size field
// that ends inside it.
std::optional<Bytes> cell_inside(const Hive& hive, const Region& region, uint32_t offset) {
    if ((offset - region.begin) % kCellAlignment != 0 || region.end - offset < kCellHeaderSize) return std::nullopt;
    const Bytes data = hive.bytes().subspan(kHiveBinsStart);
    const int32_t size = static_cast<int32_t>(le32(data, offset));
    if (size < static_cast<int32_t>(kCellHeaderSize) || static_cast<uint32_t>(size) > region.end - offset) {
        return std::nullopt;
    }
    return data.subspan(size_t{offset} + kCellHeaderSize, static_cast<size_t>(size) - kCellHeaderSize);
}

}  // namespace

FreeSpace::FreeSpace(const Hive& hive)
    : hive_(hive), referenced_(referenced_cells(hive)), allocated_(hive.bytes().size()) {
    CellWalk scan(hive, BinDamage::PassedOver);
    while (std::optional<CellInfo> cell = scan.next()) {
        const Region region{cell->offset, cell->offset + cell->size};
        if (!cell->allocated) {
            regions_.push_back(region);
            continue;
        }
        allocated_.insert(cell->offset);
        if (!referenced_.contains(cell->offset)) unreferenced_.push_back(region);
    }
    bins_end_ = scan.end();
    passed_over_ = scan.passed_over();
}

std::optional<Bytes> FreeSpace::freed_cell(uint32_t offset) const {
    const Region* region = region_at(regions_, offset);
    if (region == nullptr) return std::nullopt;
    return cell_inside(hive_, *region, offset);
}

std::optional<Bytes> FreeSpace::stale_cell(uint32_t offset) const {
    if (std::optional<Bytes> freed = freed_cell(offset)) return freed;
    const Region* region = region_at(unreferenced_, offset);
    if (region == nullptr) return std::nullopt;
    if (offset == region->begin) {
        // The allocated cell itself, under its own (negative) size field.
        return hive_.bytes().subspan(size_t{kHiveBinsStart} + offset + kCellHeaderSize,
                                     region->end - region->begin - kCellHeaderSize);
    }
    return cell_inside(hive_, *region, offset);
}

bool FreeSpace::plausible_offset(uint32_t offset) const {
    const uint64_t end = uint64_t{kHiveBinsStart} + offset + kCellHeaderSize + 2;
    return offset % kCellAlignment == 0 && offset >= kHbinHeaderSize && end <= hive_.bytes().size();
}

}  // namespace tarnu
