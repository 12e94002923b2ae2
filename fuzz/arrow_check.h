// The Arrow batches of a hive as the fuzz targets make them: every batch of the rows (live, then recovered) under a
// small budget, each checked against what the writer promises: offsets that start at 0 and never fall, null counts
// that match the validity bitmaps, and buffers within the byte budget unless the batch is one row.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "rows/arrow_stream.h"

namespace tarnu::fuzz {

// The bytes of `array`'s buffers as its format and length say; aborts where the buffers break a promise.
inline size_t checked_bytes(const ArrowArray& array, std::string_view format) {
    const auto length = static_cast<size_t>(array.length);
    size_t bytes = 0;
    if (array.buffers[0] != nullptr) {
        size_t nulls = 0;
        for (size_t i = 0; i < length; ++i) nulls += ((static_cast<const uint8_t*>(array.buffers[0])[i / 8] >> (i % 8)) & 1) == 0;
        if (static_cast<int64_t>(nulls) != array.null_count) std::abort();
        bytes += (length + 7) / 8;
    } else if (array.null_count != 0) {
        std::abort();
    }
    const auto offsets = [&](size_t width) {
        int64_t last = 0;
        for (size_t i = 0; i <= length; ++i) {
            int64_t offset = 0;
            std::memcpy(&offset, static_cast<const uint8_t*>(array.buffers[1]) + i * width, width);
            if (width == 4) offset = static_cast<int32_t>(offset);
            if ((i == 0 && offset != 0) || offset < last) std::abort();
            last = offset;
        }
        return (length + 1) * width + static_cast<size_t>(last);
    };
    if (format == "u") return bytes + offsets(4);
    if (format == "U" || format == "Z") return bytes + offsets(8);
    if (format == "+l") return bytes + offsets(4) - static_cast<size_t>(array.children[0]->length) +
                               checked_bytes(*array.children[0], "U");
    if (format == "b") return bytes + (length + 7) / 8;
    if (format == "I" || format == "i") return bytes + 4 * length;
    return bytes + 8 * length;  // "L", "tsu:UTC"
}

// Every batch of the rows of `hive`, checked; returns the rows.
inline size_t arrow_batches(const HiveOpener& open, RowSources sources, size_t budget) {
    ArrowRowsOptions options;
    options.sources = sources;
    options.hive_name = "HIVE";
    options.batch_bytes = budget;
    ArrowRows rows(open, options);
    const ArrowField& schema = rows.schema();
    size_t total = 0;
    ArrowArray batch{};
    while (rows.next(batch)) {
        if (batch.n_children != static_cast<int64_t>(schema.children.size())) std::abort();
        size_t bytes = 0;
        for (size_t i = 0; i < schema.children.size(); ++i) {
            const ArrowArray& column = *batch.children[i];
            if (column.length != batch.length) std::abort();
            bytes += checked_bytes(column, schema.children[i].format);
            if (column.dictionary != nullptr) bytes += checked_bytes(*column.dictionary, "u");
        }
        if (batch.length > 1 && bytes > budget) std::abort();
        total += static_cast<size_t>(batch.length);
        batch.release(&batch);
    }
    return total;
}

}  // namespace tarnu::fuzz
