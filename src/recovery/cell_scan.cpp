#include "recovery/cell_scan.h"

#include <algorithm>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"

namespace tarnu {

CellScan::CellScan(const Hive& hive)
    : hive_(hive), data_size_(hive.bytes().size() > kHiveBinsStart ? hive.bytes().size() - kHiveBinsStart : 0) {}

bool CellScan::sound_bin_at(uint64_t q, uint32_t& size) const {
    const Bytes data = hive_.bytes().subspan(kHiveBinsStart);
    auto header = parse_hbin_header(data.subspan(static_cast<size_t>(q)), static_cast<uint32_t>(q));
    if (!header.ok() || !header.value() || header.value()->offset != q) return false;
    size = header.value()->size;
    return size != 0 && q + size <= 0xFFFFFFFFull;
}

bool CellScan::next_bin() {
    const uint64_t stated = hive_.base_block.hive_bins_data_size;
    uint64_t q = next_bin_;
    bool gap = false;  // blocks passed over since the last sound bin
    while (q + kHbinHeaderSize <= data_size_) {
        uint32_t size = 0;
        if (sound_bin_at(q, size)) {
            if (gap) ++passed_over_;
            position_ = q + kHbinHeaderSize;
            bin_end_ = std::min<uint64_t>(q + size, data_size_);
            next_bin_ = q + size;
            return true;
        }
        // Past the stated size the first position without a bin of its own ends the walk; inside it, a missing or
        // broken bin is passed over up to the next 4096-byte block that begins a sound one.
        if (q >= stated) break;
        gap = true;
        q = (q / kHiveBlockSize + 1) * kHiveBlockSize;
    }
    // A gap, or an image that ends before the stated size (a truncated file: the bins from there on are missing).
    if (gap || q < stated) ++passed_over_;
    end_ = std::min(q, data_size_);
    return false;
}

std::optional<CellInfo> CellScan::next() {
    const Bytes data = hive_.bytes().subspan(kHiveBinsStart);
    while (!over_) {
        if (position_ + kCellHeaderSize > bin_end_) {
            if (!next_bin()) over_ = true;
            continue;
        }
        const CellHeader header = parse_cell_header(data, static_cast<size_t>(position_));
        const uint64_t size = header.size();
        if (size < kCellHeaderSize || position_ + size > bin_end_) {
            ++passed_over_;
            position_ = bin_end_;  // the rest of this bin cannot be walked
            continue;
        }
        CellInfo cell;
        cell.offset = static_cast<uint32_t>(position_);
        cell.size = static_cast<uint32_t>(size);
        cell.allocated = header.allocated();
        cell.payload = data.subspan(static_cast<size_t>(position_ + kCellHeaderSize),
                                    static_cast<size_t>(size - kCellHeaderSize));
        position_ += size;
        return cell;
    }
    return std::nullopt;
}

}  // namespace tarnu
