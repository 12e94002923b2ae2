#include "tree/value_data.h"

#include <algorithm>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "records/big_data.h"

namespace tarnu {
namespace {

// The data held in one cell: the first `size` bytes of its payload, or the whole payload when it is shorter.
// What follows the data in the cell is slack from the cell's rounding and is not part of the value.
Result<Bytes> view_data_cell(const Hive& hive, uint32_t offset, uint32_t size) {
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    return cell.first(std::min<size_t>(cell.size(), size));
}

// Appends to `segments` the segments of big data listed by a "db" record, as views of the image in order: each
// gives at most 16344 data bytes, and all together at most the image length. Returns their total length; on
// failure `segments` may hold some of them.
Result<size_t> append_big_data_segments(const Hive& hive, uint32_t offset, uint32_t size,
                                        std::vector<Bytes>& segments) {
    TARNU_TRY(Bytes record, read_cell(hive, offset));
    TARNU_TRY(const BigData big_data, parse_big_data(record, offset));
    const uint32_t segment_count = big_data.segment_count;
    const uint32_t list_offset = big_data.segment_list_offset;
    TARNU_TRY(Bytes list, read_cell(hive, list_offset));
    const size_t list_bytes = size_t{4} * segment_count;
    if (list.size() < list_bytes) return HiveError::truncated_data(list_offset, list_bytes, list.size());

    // In a real hive every data byte has a place of its own in the image, so one value's data never exceeds the
    // image; a segment list that names cells more than once is cut at the image length as the declared size cuts
    // it. Views only: the declared size is not trusted for a reservation, the sum of the segments read is.
    const size_t limit = std::min<size_t>(size, hive.bytes().size());
    size_t total = 0;
    for (uint32_t i = 0; i < segment_count && total < limit; ++i) {
        const uint32_t segment_offset = le32(list, 4 * size_t{i}) & kDataSizeMask;
        TARNU_TRY(Bytes segment, read_cell(hive, segment_offset));
        const size_t take = std::min<size_t>({segment.size(), kBigDataSegmentSize, limit - total});
        if (take == 0) continue;
        segments.push_back(segment.first(take));
        total += take;
    }
    return total;
}

// The segments joined into `scratch.joined`, which is allocated once at their exact length.
Result<Bytes> join_big_data(const Hive& hive, uint32_t offset, uint32_t size, DataScratch& scratch) {
    std::vector<Bytes> segments;
    TARNU_TRY(const size_t total, append_big_data_segments(hive, offset, size, segments));
    std::vector<uint8_t> joined;
    joined.reserve(total);
    for (const Bytes segment : segments) joined.insert(joined.end(), segment.begin(), segment.end());
    scratch.joined = std::move(joined);
    return Bytes(scratch.joined);
}

// Whether the value's data is big data, split over segments: longer than one cell holds, in a version that splits.
bool lies_in_segments(const ValueKey& value) {
    return value.data_size > kMaxSingleCellData && value.data_offset != 0 && value.data_offset != kNoCell &&
           value.hive->base_block.minor_version >= kFirstBigDataMinorVersion;
}

}  // namespace

Result<Bytes> view_value_data(const ValueKey& value, DataScratch& scratch) {
    const uint32_t size = value.data_size;
    const uint32_t offset = value.data_offset;
    if (size >= 1 && size <= kMaxInlineData) {
        // The data offset field holds the data itself, its first byte lowest.
        put_le32(scratch.inline_bytes.data(), offset);
        return Bytes(scratch.inline_bytes.data(), size);
    }
    if (lies_in_segments(value)) return join_big_data(*value.hive, offset, size, scratch);
    if (size == 0 || offset == 0 || offset == kNoCell) return Bytes{};
    return view_data_cell(*value.hive, offset, size);
}

Result<size_t> append_value_data_pieces(const ValueKey& value, DataScratch& scratch, std::vector<Bytes>& pieces) {
    if (lies_in_segments(value)) {
        const size_t before = pieces.size();
        auto total = append_big_data_segments(*value.hive, value.data_offset, value.data_size, pieces);
        if (!total.ok()) pieces.resize(before);
        return total;
    }
    TARNU_TRY(Bytes data, view_value_data(value, scratch));
    if (!data.empty()) pieces.push_back(data);
    return data.size();
}

Result<std::vector<uint8_t>> read_value_data(const ValueKey& value) {
    DataScratch scratch;
    TARNU_TRY(Bytes data, view_value_data(value, scratch));
    if (!scratch.joined.empty() && data.data() == scratch.joined.data()) return std::move(scratch.joined);
    return std::vector<uint8_t>(data.begin(), data.end());
}

}  // namespace tarnu
