#include "logs/old_format_log.h"

#include <bit>

#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/format.h"

namespace tarnu {
namespace {

struct Layout {
    size_t bitmap_size;  // bytes
    size_t data_start;   // the first unit's bytes
};

Layout layout_of(Bytes file) {
    const size_t bitmap_size = le32(file, base_block_field::kHiveBinsDataSize) / kBytesPerBitmapByte;
    const size_t bitmap_end = kLogBaseBlockSize + kDirtyVectorHeaderSize + bitmap_size;
    return Layout{bitmap_size, (bitmap_end + kDirtyUnitSize - 1) / kDirtyUnitSize * kDirtyUnitSize};
}

}  // namespace

std::optional<std::string> dirty_vector_problem(Bytes file) {
    if (!has_signature(file.subspan(kLogBaseBlockSize), "DIRT")) {
        return "no \"DIRT\" at " + hex(kLogBaseBlockSize);
    }
    const Layout layout = layout_of(file);
    if (kLogBaseBlockSize + kDirtyVectorHeaderSize + layout.bitmap_size > file.size()) {
        return "the bitmap of " + dec(layout.bitmap_size) + " bytes runs past the end of the file";
    }
    return std::nullopt;
}

DirtyVector read_dirty_vector(Bytes file) {
    const Layout layout = layout_of(file);
    const Bytes bitmap = file.subspan(kLogBaseBlockSize + kDirtyVectorHeaderSize, layout.bitmap_size);
    const size_t available = file.size() > layout.data_start ? (file.size() - layout.data_start) / kDirtyUnitSize : 0;
    size_t marked = 0;
    for (uint8_t byte : bitmap) marked += static_cast<size_t>(std::popcount(byte));
    DirtyVector vector;
    size_t next_data = layout.data_start;
    for (size_t byte = 0; byte < bitmap.size(); ++byte) {
        if (bitmap[byte] == 0) continue;
        for (size_t bit = 0; bit < 8; ++bit) {
            if ((bitmap[byte] >> bit & 1) == 0) continue;
            if (vector.units == available) {
                vector.stop = "the bitmap marks " + dec(marked) + " units, the file holds " + dec(available);
                return vector;
            }
            const uint32_t hive_offset = kHiveBinsStart + static_cast<uint32_t>((byte * 8 + bit) * kDirtyUnitSize);
            DirtyPage* last = vector.runs.empty() ? nullptr : &vector.runs.back();
            if (last != nullptr && last->hive_offset + last->page_size == hive_offset) {
                last->page_size += kDirtyUnitSize;
                last->page_data = Bytes(last->page_data.data(), last->page_size);
            } else {
                vector.runs.push_back(DirtyPage{hive_offset, kDirtyUnitSize, file.subspan(next_data, kDirtyUnitSize)});
            }
            next_data += kDirtyUnitSize;
            ++vector.units;
        }
    }
    vector.stop = "end of dirty vector";
    return vector;
}

}  // namespace tarnu
