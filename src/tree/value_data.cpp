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

// Whether the value's data is big data, split over segments: longer than one cell holds, in a version that splits.
bool lies_in_segments(const ValueKey& value) {
    return value.data_size > kMaxSingleCellData && value.data_offset != 0 && value.data_offset != kNoCell &&
           value.hive->base_block.minor_version >= kFirstBigDataMinorVersion;
}

// Whether the value names no data: nothing declared, or no cell.
bool has_no_data(const ValueKey& value) {
    return value.data_size == 0 || value.data_offset == 0 || value.data_offset == kNoCell;
}

}  // namespace

ValueBytes ValueBytes::from_pieces(std::span<const Bytes> pieces, size_t size) {
    ValueBytes out;
    out.assign_pieces(pieces, size);
    return out;
}

ValueBytes ValueBytes::from_inline(uint32_t field, uint32_t size) {
    ValueBytes out;
    out.assign_inline(field, size);
    return out;
}

void ValueBytes::assign_pieces(std::span<const Bytes> pieces, size_t size) {
    inline_size_ = 0;
    image_ = pieces.size() == 1 ? pieces[0] : Bytes();
    if (!own_.empty()) own_ = {};
    if (pieces.size() > 1) {
        own_.reserve(size);
        for (const Bytes piece : pieces) own_.insert(own_.end(), piece.begin(), piece.end());
    }
}

void ValueBytes::assign_inline(uint32_t field, uint32_t size) {
    if (!own_.empty()) own_ = {};
    image_ = Bytes();
    put_le32(inline_.data(), field);
    inline_size_ = static_cast<uint8_t>(size);
}

Result<ValueBytes> read_value_data(const ValueKey& value) {
    if (has_inline_data(value)) return ValueBytes::from_inline(value.data_offset, value.data_size);
    if (lies_in_segments(value)) {
        std::vector<Bytes> segments;
        TARNU_TRY(const size_t total, append_big_data_segments(*value.hive, value.data_offset, value.data_size, segments));
        return ValueBytes::from_pieces(segments, total);
    }
    if (has_no_data(value)) return ValueBytes{};
    TARNU_TRY(const Bytes data, view_data_cell(*value.hive, value.data_offset, value.data_size));
    return ValueBytes::from_pieces(std::span<const Bytes>(&data, 1), data.size());
}

Result<size_t> append_value_data_pieces(const ValueKey& value, std::array<uint8_t, kMaxInlineData>& inline_bytes,
                                        std::vector<Bytes>& pieces) {
    if (has_inline_data(value)) {
        put_le32(inline_bytes.data(), value.data_offset);
        pieces.push_back(Bytes(inline_bytes.data(), value.data_size));
        return size_t{value.data_size};
    }
    if (lies_in_segments(value)) {
        const size_t before = pieces.size();
        auto total = append_big_data_segments(*value.hive, value.data_offset, value.data_size, pieces);
        if (!total.ok()) pieces.resize(before);
        return total;
    }
    if (has_no_data(value)) return size_t{0};
    TARNU_TRY(const Bytes data, view_data_cell(*value.hive, value.data_offset, value.data_size));
    if (!data.empty()) pieces.push_back(data);
    return data.size();
}

}  // namespace tarnu
