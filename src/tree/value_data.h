// Fetching a value's data: inline in the value key, from one data cell, or gathered from a big-data ("db") chain of
// segments. `ValueBytes` holds one value's data; tree/value_reader.h reads a key's values with theirs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hive/limits.h"
#include "records/value_key.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// A value's data: a view of the image where the data lies in one piece of it (most data does), else bytes of its
// own: inline data, held in the value key's data offset field, and big data joined from its segments. It may be
// copied and moved freely; a view is valid while the hive is.
class ValueBytes {
public:
    ValueBytes() = default;
    // `pieces` (views of the image) in order, `size` bytes in all: a view of one piece, a copy of several joined.
    static ValueBytes from_pieces(std::span<const Bytes> pieces, size_t size);
    // The `size` (at most kMaxInlineData) bytes of inline data that a data offset field holds, its first byte lowest.
    static ValueBytes from_inline(uint32_t field, uint32_t size);
    // The same into this one, in place: what it held before is let go of.
    void assign_pieces(std::span<const Bytes> pieces, size_t size);
    void assign_inline(uint32_t field, uint32_t size);

    Bytes view() const { return inline_size_ != 0 ? Bytes(inline_.data(), inline_size_) : own_.empty() ? image_ : own_; }

private:
    Bytes image_;
    std::vector<uint8_t> own_;
    std::array<uint8_t, kMaxInlineData> inline_{};
    uint8_t inline_size_ = 0;
};

// Whether the value's data is inline: 1 to kMaxInlineData bytes, held in the value key's data offset field.
inline bool has_inline_data(const ValueKey& value) {
    return value.data_size >= 1 && value.data_size <= kMaxInlineData;
}

// The value's data: never longer than the declared size, nor than the image.
Result<ValueBytes> read_value_data(const ValueKey& value);

// The same bytes as views to be read in order, big data left in its segments: appends to `pieces` one view (of the
// image, or of `inline_bytes`, where inline data is written), one per segment, or none, and returns their total
// length. On failure `pieces` is as it was. For whoever copies the data anyway: it is copied once, straight to
// where it goes.
Result<size_t> append_value_data_pieces(const ValueKey& value, std::array<uint8_t, kMaxInlineData>& inline_bytes,
                                        std::vector<Bytes>& pieces);

}  // namespace tarnu
