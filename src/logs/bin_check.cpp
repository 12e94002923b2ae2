#include "logs/bin_check.h"

#include <algorithm>
#include <cstring>

#include "hive/limits.h"
#include "records/hive_bin.h"

namespace tarnu {
namespace {

// The fields of a bin header that the check reads.
constexpr size_t kBinOffsetField = 4;
constexpr size_t kBinSizeField = 8;
constexpr size_t kCheckedHeaderSize = 12;

bool sound_bin_header(Bytes header, uint64_t position, uint64_t bins_size) {
    if (header.size() < kCheckedHeaderSize || !has_signature(header, "hbin")) return false;
    const uint32_t size = le32(header, kBinSizeField);
    return le32(header, kBinOffsetField) == position && size != 0 && size % kHiveBlockSize == 0 &&
           position + size <= bins_size;
}

// The image's bytes from hive bins position `position` on (empty past its end).
Bytes bins_bytes(Bytes image, uint64_t position) {
    const uint64_t at = kHiveBinsStart + position;
    return at < image.size() ? image.subspan(static_cast<size_t>(at)) : Bytes();
}

void write_placeholder(ByteBuffer& image, uint32_t position, uint32_t size) {
    uint8_t* bin = image.data() + kHiveBinsStart + position;
    std::memset(bin, 0, kHbinHeaderSize);
    std::memcpy(bin, "hbin", 4);
    put_le32(bin + kBinOffsetField, position);
    put_le32(bin + kBinSizeField, size);
    put_le32(bin + kHbinHeaderSize, size - static_cast<uint32_t>(kHbinHeaderSize));  // one free cell
}

}  // namespace

void DirtyBlocks::mark(const DirtyPage& page) {
    if (page.page_size == 0 || page.hive_offset + uint64_t{page.page_size} <= kHiveBinsStart) return;
    const uint64_t first = page.hive_offset > kHiveBinsStart ? page.hive_offset - kHiveBinsStart : 0;
    const uint64_t last = page.hive_offset + uint64_t{page.page_size} - 1 - kHiveBinsStart;
    if (blocks_.size() <= last / kHiveBlockSize) blocks_.resize(last / kHiveBlockSize + 1, false);
    for (uint64_t block = first / kHiveBlockSize; block <= last / kHiveBlockSize; ++block) blocks_[block] = true;
}

bool DirtyBlocks::contains(uint64_t bins_position) const {
    const uint64_t block = bins_position / kHiveBlockSize;
    return block < blocks_.size() && blocks_[block];
}

std::vector<uint32_t> place_placeholder_bins(ByteBuffer& image, uint32_t bins_size, const DirtyBlocks& dirty) {
    std::vector<uint32_t> placed;
    uint32_t position = 0;
    while (position < bins_size) {
        const Bytes header = bins_bytes(image, position);
        if (sound_bin_header(header, position, bins_size)) {
            position += le32(header, kBinSizeField);
            continue;
        }
        if (!dirty.contains(position)) break;
        uint32_t next = position + kHiveBlockSize;
        while (next < bins_size && !sound_bin_header(bins_bytes(image, next), next, bins_size)) next += kHiveBlockSize;
        write_placeholder(image, position, next - position);
        placed.push_back(position);
        position = next;
    }
    return placed;
}

uint32_t first_broken_dirty_bin(Bytes image, const std::vector<DirtyPage>& runs, uint32_t bins_size) {
    // The bytes at a bin position as they will be after the runs are copied, and whether a run supplies them.
    auto header_at = [&](uint32_t position, bool& dirty) -> Bytes {
        const uint64_t at = kHiveBinsStart + uint64_t{position};
        auto run = std::upper_bound(runs.begin(), runs.end(), at,
                                    [](uint64_t value, const DirtyPage& page) { return value < page.hive_offset; });
        if (run != runs.begin() && at < std::prev(run)->hive_offset + uint64_t{std::prev(run)->page_size}) {
            dirty = true;
            return std::prev(run)->page_data.subspan(static_cast<size_t>(at - std::prev(run)->hive_offset));
        }
        dirty = false;
        return bins_bytes(image, position);
    };
    uint32_t position = 0;
    while (position < bins_size) {
        bool dirty = false;
        const Bytes header = header_at(position, dirty);
        if (sound_bin_header(header, position, bins_size)) {
            position += le32(header, kBinSizeField);
            continue;
        }
        return dirty ? position : bins_size;
    }
    return bins_size;
}

}  // namespace tarnu
