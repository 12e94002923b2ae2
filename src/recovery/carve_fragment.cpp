#include "recovery/carve_fragment.h"

#include <algorithm>
#include <array>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "records/key_node.h"

namespace tarnu {
namespace {

// Key-node flag: the key is the root of its hive.
constexpr uint16_t kHiveEntryFlag = 0x0004;
// Where the timestamp lies in a hive bin header.
constexpr size_t kBinTimestamp = 20;
// The minor version a made base block states: the one Windows has written since XP. It allows big-data records,
// which hives of version 1.3 lack; such a fragment's large values read as they would with any base block of 1.5.
constexpr uint32_t kMadeMinorVersion = 5;

// The image bytes from `position` on, when `image` (starting at `image_base`) holds `count` of them.
bool holds(Bytes image, uint64_t image_base, uint64_t position, uint64_t count) {
    return position >= image_base && position - image_base + count <= image.size();
}

// The header and the one free cell of an empty bin over hive-bins offsets [offset, offset + size).
std::array<uint8_t, kHbinHeaderSize + kCellHeaderSize> empty_bin(uint32_t offset, uint32_t size) {
    std::array<uint8_t, kHbinHeaderSize + kCellHeaderSize> bytes{};
    std::copy_n("hbin", 4, bytes.begin());
    put_le32(bytes.data() + 4, offset);
    put_le32(bytes.data() + 8, size);
    put_le32(bytes.data() + kHbinHeaderSize, size - static_cast<uint32_t>(kHbinHeaderSize));
    return bytes;
}

}  // namespace

bool Fragment::overlaps(const FoundBin& bin) const {
    const uint64_t end = uint64_t{bin.offset} + bin.size;
    auto after = bins_.lower_bound(bin.offset);
    if (after != bins_.end() && after->first < end) return true;
    if (after == bins_.begin()) return false;
    const auto before = std::prev(after);
    return uint64_t{before->first} + before->second.size > bin.offset;
}

void Fragment::add(const FoundBin& bin, uint64_t position, Bytes header) {
    if (bins_.empty()) image_begin_ = position;
    current_ = &bins_.emplace(bin.offset, Bin{bin.size, position, 0, position + kHbinHeaderSize}).first->second;
    current_offset_ = bin.offset;
    cell_ = position + kHbinHeaderSize;
    bins_end_ = std::max(bins_end_, bin.offset + bin.size);
    if (bin.offset == 0) timestamp_ = le64(header, kBinTimestamp);
}

void Fragment::take(uint64_t to, Bytes image, uint64_t image_base, bool find_keys) {
    current_->taken = to - current_->position;
    image_end_ = std::max(image_end_, to);
    if (!find_keys) return;
    const uint64_t bin_end = current_->position + current_->size;
    constexpr uint64_t kKeyProbe = kCellHeaderSize + kKeyNodeFixedSize;
    while (cell_ < bin_end && cell_ + kCellHeaderSize <= to && holds(image, image_base, cell_, kCellHeaderSize)) {
        const Bytes at = image.subspan(static_cast<size_t>(cell_ - image_base));
        const int32_t size = static_cast<int32_t>(le32(at, 0));
        const uint64_t magnitude = size < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{size}) : uint64_t(size);
        if (magnitude < kMinCellSize || magnitude % kCellAlignment != 0 || cell_ + magnitude > bin_end) {
            cell_ = current_->cells_end = bin_end;  // the cells of this bin cannot be walked further
            return;
        }
        if (magnitude >= kKeyProbe) {
            if (cell_ + kKeyProbe > to || !holds(image, image_base, cell_, kKeyProbe)) {
                current_->cells_end = cell_ + magnitude;
                return;
            }
            const Bytes payload = at.subspan(kCellHeaderSize);
            if (size < 0 && has_signature(payload, "nk")) {
                const uint32_t offset = current_offset_ + static_cast<uint32_t>(cell_ - current_->position);
                keys_.push_back(KeyCell{offset, le32(payload, key_node_field::kParentOffset),
                                        le16(payload, key_node_field::kFlags)});
            }
        }
        cell_ += magnitude;
    }
    current_->cells_end = cell_;
}

bool Fragment::cut_short() const {
    return std::any_of(bins_.begin(), bins_.end(), [](const auto& bin) { return bin.second.taken < bin.second.size; });
}

uint32_t Fragment::root_cell_offset() const {
    if (keys_.empty()) return first_offset() + static_cast<uint32_t>(kHbinHeaderSize);
    std::vector<KeyCell> keys = keys_;
    std::sort(keys.begin(), keys.end(), [](const KeyCell& a, const KeyCell& b) { return a.offset < b.offset; });
    for (const KeyCell& key : keys) {
        if (key.flags & kHiveEntryFlag) return key.offset;
    }
    const auto present = [&](uint32_t offset) {
        return std::binary_search(keys.begin(), keys.end(), KeyCell{offset, 0, 0},
                                  [](const KeyCell& a, const KeyCell& b) { return a.offset < b.offset; });
    };
    for (const KeyCell& key : keys) {
        if (!present(key.parent)) return key.offset;
    }
    return keys.front().offset;  // every parent is present: the nodes form loops
}

Status Fragment::finish(CarveOutput& output) const {
    uint32_t covered = 0;
    for (const auto& [offset, bin] : bins_) {
        if (offset > covered) {
            const auto gap = empty_bin(covered, offset - covered);
            TARNU_CHECK(output.write(kBaseBlockSize + covered, gap));
        }
        covered = offset + bin.size;
        // A bin cut short: its cells go on as one free cell from where the cells found end.
        const uint64_t bin_end = bin.position + bin.size;
        if (bin.taken < bin.size && bin.cells_end < bin_end) {
            uint8_t free_cell[kCellHeaderSize];
            put_le32(free_cell, static_cast<uint32_t>(bin_end - bin.cells_end));
            TARNU_CHECK(output.write(kBaseBlockSize + offset + (bin.cells_end - bin.position), free_cell));
        }
    }
    std::array<uint8_t, kBaseBlockSize> base{};
    std::copy_n("regf", 4, base.begin());
    put_le32(base.data() + base_block_field::kPrimarySequence, 1);
    put_le32(base.data() + base_block_field::kSecondarySequence, 1);
    put_le32(base.data() + base_block_field::kLastWritten, static_cast<uint32_t>(timestamp_));
    put_le32(base.data() + base_block_field::kLastWritten + 4, static_cast<uint32_t>(timestamp_ >> 32));
    put_le32(base.data() + base_block_field::kMajorVersion, 1);
    put_le32(base.data() + base_block_field::kMinorVersion, kMadeMinorVersion);
    put_le32(base.data() + base_block_field::kFileFormat, 1);
    put_le32(base.data() + base_block_field::kRootCellOffset, root_cell_offset());
    put_le32(base.data() + base_block_field::kHiveBinsDataSize, bins_end_);
    put_le32(base.data() + base_block_field::kClusteringFactor, 1);
    put_le32(base.data() + kChecksumPosition, base_block_checksum(base));
    TARNU_CHECK(output.write(0, base));
    return output.finish(kBaseBlockSize + uint64_t{bins_end_});
}

}  // namespace tarnu
