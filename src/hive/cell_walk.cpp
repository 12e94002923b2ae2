#include "hive/cell_walk.h"

#include <algorithm>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"

namespace tarnu {

std::string_view record_signature(Bytes payload) {
    static constexpr std::string_view kRecords[] = {"nk", "vk", "sk", "lf", "lh", "li", "ri", "db"};
    if (payload.size() < 2) return {};
    const std::string_view first(reinterpret_cast<const char*>(payload.data()), 2);
    for (std::string_view record : kRecords) {
        if (first == record) return record;
    }
    return {};
}

CellWalk::CellWalk(const Hive& hive, BinDamage damage) : hive_(hive), damage_(damage) {}

bool CellWalk::next_bin() {
    const uint64_t data_size = hive_.bytes().size() - kHiveBinsStart;
    const uint64_t stated = hive_.base_block.hive_bins_data_size;
    uint64_t q = next_bin_;
    bool gap = false;  // blocks passed over since the last sound bin
    while (true) {
        auto header = read_hbin_header(hive_, q);
        if (header.ok() && header.value()) {
            if (gap) ++passed_over_;
            position_ = q + kHbinHeaderSize;
            bin_end_ = std::min<uint64_t>(q + header.value()->size, data_size);
            next_bin_ = q + header.value()->size;
            return true;
        }
        // Past the stated size, and wherever `hbins` ends its listing unless damage is to be passed over, the first
        // position without a sound bin ends the walk.
        if (damage_ == BinDamage::EndsWalk || q >= stated || q + kHbinHeaderSize > data_size) break;
        gap = true;
        q = (q / kHiveBlockSize + 1) * kHiveBlockSize;
    }
    // A gap, or an image that ends before the stated size (a truncated file: the bins from there on are missing).
    if (damage_ == BinDamage::PassedOver && (gap || q < stated)) ++passed_over_;
    end_ = std::min(q, data_size);
    return false;
}

std::optional<CellInfo> CellWalk::next() {
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
