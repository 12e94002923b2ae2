// Fetching a value's data: inline in the value key, from one data cell, or gathered from a big-data ("db") chain of
// segments.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hive/limits.h"
#include "records/value_key.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// A copy of the value's data bytes: never longer than the declared size, nor than the image.
Result<std::vector<uint8_t>> read_value_data(const ValueKey& value);

// Where `view_value_data` puts data that does not lie in one piece of the image: the bytes of inline data, taken
// from the value key's data offset field, and big data joined from its segments.
struct DataScratch {
    std::array<uint8_t, kMaxInlineData> inline_bytes{};
    std::vector<uint8_t> joined;
};

// The value's data bytes without a copy where they lie in one piece: a view of the image for data in one data
// cell, else of `scratch` (whose joined bytes are replaced). The view is valid while the hive and `scratch` are.
Result<Bytes> view_value_data(const ValueKey& value, DataScratch& scratch);

// The same bytes as views to be read in order, big data left in its segments instead of joined: appends to `pieces`
// one view (of the image, or of `scratch`'s inline bytes), one per segment, or none, and returns their total
// length. On failure `pieces` is as it was. For whoever copies the data anyway: it is copied once, straight to
// where it goes.
Result<size_t> append_value_data_pieces(const ValueKey& value, DataScratch& scratch, std::vector<Bytes>& pieces);

}  // namespace tarnu
