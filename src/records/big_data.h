// Big data ("db" cells): how data too long for one cell is split, the record's layout and `parse_big_data`, which
// parses one from the bytes of its cell. tree/value_data.h gathers the segments it lists.
//
// The record names a segment list: a cell of 4-byte offsets, one per segment, each segment a cell holding up to
// 16344 bytes of the data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// The fixed part of a big-data record.
inline constexpr size_t kBigDataHeaderSize = 8;

// Positions of the big-data fields in the cell's payload.
namespace big_data_field {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kSegmentCount = 2;
inline constexpr size_t kSegmentListOffset = 4;
}  // namespace big_data_field

// Data of up to this many bytes sits in one data cell; larger data is split into big-data segments of this
// many bytes each (the segment cells carry 4 more bytes of alignment, which are not data).
inline constexpr uint32_t kMaxSingleCellData = 16344;
inline constexpr uint32_t kBigDataSegmentSize = 16344;
// Hives before minor version 4 have no big-data records: they keep data of any size in one cell.
inline constexpr uint32_t kFirstBigDataMinorVersion = 4;

struct BigData {
    uint32_t segment_count = 0;
    uint32_t segment_list_offset = 0;
};

// Parses the big-data record held by `payload`, the payload of the cell at `offset`: at least its fixed part
// (TruncatedData) and "db" (InvalidFormat, showing the two bytes found instead).
Result<BigData> parse_big_data(Bytes payload, uint32_t offset);

}  // namespace tarnu
