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

CellWalk::CellWalk(const Hive& hive) : hive_(hive) {}

bool CellWalk::next_bin() {
    auto header = read_hbin_header(hive_, next_bin_);
    if (!header.ok() || !header.value()) return false;
    const uint64_t data_size = hive_.bytes().size() - kHiveBinsStart;
    position_ = next_bin_ + kHbinHeaderSize;
    bin_end_ = std::min<uint64_t>(next_bin_ + header.value()->size, data_size);
    next_bin_ += header.value()->size;
    return true;
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
