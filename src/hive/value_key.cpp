#include "hive/value_key.h"

#include <algorithm>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {
namespace {

Result<ValueKey> parse_value_key(const Hive& hive, uint32_t offset) {
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    TARNU_TRY(ValueKey value, parse_value_key_record(cell, offset));
    value.hive = &hive;
    return value;
}

// The data held in one cell: the first `size` bytes of its payload, or the whole payload when it is shorter.
// What follows the data in the cell is slack from the cell's rounding and is not part of the value.
Result<std::vector<uint8_t>> read_data_cell(const Hive& hive, uint32_t offset, uint32_t size) {
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    const Bytes data = cell.first(std::min<size_t>(cell.size(), size));
    return std::vector<uint8_t>(data.begin(), data.end());
}

// Data split over segment cells listed by a "db" record; each segment carries at most 16344 data bytes, and the
// whole at most the image length.
Result<std::vector<uint8_t>> read_big_data(const Hive& hive, uint32_t offset, uint32_t size) {
    TARNU_TRY(Bytes record, read_cell(hive, offset));
    if (record.size() < kBigDataHeaderSize) return HiveError::truncated_data(offset, kBigDataHeaderSize, record.size());
    if (!has_signature(record, "db")) {
        return HiveError::invalid_format("Expected 'db' signature at offset " + hex(offset) + ", found " +
                                         byte_list(record.data(), 2));
    }
    const uint32_t segment_count = le16(record, 2);
    const uint32_t list_offset = le32(record, 4);
    TARNU_TRY(Bytes list, read_cell(hive, list_offset));
    const size_t list_bytes = size_t{4} * segment_count;
    if (list.size() < list_bytes) return HiveError::truncated_data(list_offset, list_bytes, list.size());

    // In a real hive every data byte has a place of its own in the image, so one value's data never exceeds the
    // image; a segment list that names cells more than once is cut at the image length as the declared size cuts
    // it. The buffer grows with the segments actually read: the declared size is not trusted for a reservation.
    const size_t limit = std::min<size_t>(size, hive.bytes().size());
    std::vector<uint8_t> data;
    for (uint32_t i = 0; i < segment_count && data.size() < limit; ++i) {
        const uint32_t segment_offset = le32(list, 4 * size_t{i}) & kDataSizeMask;
        TARNU_TRY(Bytes segment, read_cell(hive, segment_offset));
        const size_t take = std::min<size_t>({segment.size(), kBigDataSegmentSize, limit - data.size()});
        data.insert(data.end(), segment.begin(), segment.begin() + static_cast<ptrdiff_t>(take));
    }
    return data;
}

}  // namespace

static_assert(value_key_field::kName == kValueKeyFixedSize, "the name follows the fixed part");

Result<ValueKey> parse_value_key_record(Bytes payload, uint32_t offset) {
    namespace f = value_key_field;
    if (payload.size() < kValueKeyFixedSize) {
        return HiveError::truncated_data(offset, kValueKeyFixedSize, payload.size());
    }
    if (!has_signature(payload, "vk")) {
        return HiveError::invalid_format("Expected 'vk' signature at offset " + hex(offset));
    }
    ValueKey value;
    value.name_length = le16(payload, f::kNameLength);
    value.data_size = le32(payload, f::kDataSize) & kDataSizeMask;
    value.data_offset = le32(payload, f::kDataOffset);
    value.value_type = ValueType{le32(payload, f::kDataType)};
    value.flags = le16(payload, f::kFlags);
    if (value.name_length == 0) {
        value.name = "(default)";
    } else {
        const size_t end = f::kName + value.name_length;
        if (end > payload.size()) return HiveError::truncated_data(offset, end, payload.size());
        const Bytes name = payload.subspan(f::kName, value.name_length);
        if (value.flags & kValueCompressedName) {
            value.name = decode_compressed_name(name);
        } else {
            TARNU_TRY(value.name, decode_utf16_string(name, offset));
        }
    }
    return value;
}

Result<std::vector<ValueKey>> read_value_list(const Hive& hive, const KeyNode& key) {
    const uint32_t count = key.value_count;
    const uint32_t list_offset = key.value_list_offset;
    std::vector<ValueKey> values;
    if (count == 0 || list_offset == 0 || list_offset == kNoCell) return values;
    TARNU_TRY(Bytes list, read_cell(hive, list_offset));
    const uint64_t list_bytes = uint64_t{4} * count;
    if (list.size() < list_bytes) return HiveError::truncated_data(list_offset, list_bytes, list.size());
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        TARNU_TRY(ValueKey value, parse_value_key(hive, le32(list, 4 * size_t{i})));
        values.push_back(std::move(value));
    }
    return values;
}

Result<std::vector<uint8_t>> read_value_data(const ValueKey& value) {
    const uint32_t size = value.data_size;
    const uint32_t offset = value.data_offset;
    if (size >= 1 && size <= kMaxInlineData) {
        const uint8_t inline_bytes[4] = {static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                                         static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 24)};
        return std::vector<uint8_t>(inline_bytes, inline_bytes + size);
    }
    if (size == 0 || offset == 0 || offset == kNoCell) return std::vector<uint8_t>{};
    const Hive& hive = *value.hive;
    if (size <= kMaxSingleCellData || hive.base_block.minor_version < kFirstBigDataMinorVersion) {
        return read_data_cell(hive, offset, size);
    }
    return read_big_data(hive, offset, size);
}

}  // namespace tarnu
