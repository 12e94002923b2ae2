#include "hive/cell.h"

#include "hive/hive.h"
#include "hive/limits.h"

namespace tarnu {

HiveError cell_error(Bytes image, uint32_t offset) {
    const uint64_t length = image.size();
    if (offset > kMaxCellOffset) return HiveError::invalid_offset(offset, 0);
    const uint64_t p = uint64_t{offset} + kHiveBinsStart;
    if (p >= length) return HiveError::invalid_offset(offset, length);
    if (p + kCellHeaderSize > length) return HiveError::truncated_data(offset, kCellHeaderSize, length - p);
    const CellHeader header = parse_cell_header(image, static_cast<size_t>(p));
    if (header.size() < kCellHeaderSize) return HiveError::invalid_cell_size(header.size_field, offset);
    return HiveError::truncated_data(offset, header.size(), length - p);
}

Result<std::optional<HbinHeader>> read_hbin_header(const Hive& hive, uint64_t q) {
    using Header = std::optional<HbinHeader>;
    const Bytes data = hive.bytes().subspan(kHiveBinsStart);
    if (q >= data.size()) return Header{};
    TARNU_TRY(Header header, parse_hbin_header(data.subspan(static_cast<size_t>(q)), static_cast<uint32_t>(q)));
    if (!header) return Header{};
    if (header->offset != q) {
        // Past the stated hive-bins data size Windows leaves the bins of an earlier, larger hive in place, and their
        // offset fields still name the positions they had there: such a bin ends the listing.
        if (q >= hive.base_block.hive_bins_data_size) return Header{};
        return HiveError::invalid_format(q, malformed::HbinOffset{.found = header->offset});
    }
    // A bin must move the walk forward without wrapping past 32 bits; anything else would never end.
    if (header->size == 0 || q + header->size > 0xFFFFFFFFull) {
        return HiveError::invalid_format(q, malformed::HbinSize{.size = header->size});
    }
    return header;
}

Result<std::vector<HbinHeader>> hbins(const Hive& hive) {
    std::vector<HbinHeader> headers;
    uint64_t q = 0;
    while (true) {
        TARNU_TRY(std::optional<HbinHeader> header, read_hbin_header(hive, q));
        if (!header) break;
        headers.push_back(*header);
        q += header->size;
    }
    return headers;
}

}  // namespace tarnu
