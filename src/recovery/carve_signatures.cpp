#include "recovery/carve_signatures.h"

#include <bit>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "logs/log_base_block.h"

namespace tarnu {
namespace {

// Bytes of a hive bin that `recognise_bin` reads: the header and its first cell's size field.
constexpr size_t kBinProbe = kHbinHeaderSize + kCellHeaderSize;
// Bytes of an entry header that `new_log_entry_size` reads: the signature and the size.
constexpr size_t kEntryProbe = 8;

bool plausible_bins_size(uint32_t size) {
    return size >= kHiveBlockSize && size % kHiveBlockSize == 0 && size <= kMaxRecoveredBinsSize;
}

}  // namespace

std::optional<FoundBin> recognise_bin(Bytes at) {
    if (at.size() < kBinProbe || !has_signature(at, "hbin")) return std::nullopt;
    const FoundBin bin{le32(at, 4), le32(at, 8)};
    if (bin.offset % kHiveBlockSize != 0 || bin.size % kHiveBlockSize != 0 || bin.size < kHiveBlockSize ||
        bin.size > kMaxCarvedBinSize || uint64_t{bin.offset} + bin.size > kMaxRecoveredBinsSize) {
        return std::nullopt;
    }
    const int32_t first = static_cast<int32_t>(le32(at, kHbinHeaderSize));
    const uint64_t cell = first < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{first}) : uint64_t(first);
    if (cell < kMinCellSize || cell % kCellAlignment != 0 || kHbinHeaderSize + cell > bin.size) return std::nullopt;
    return bin;
}

std::optional<uint32_t> new_log_entry_size(Bytes at) {
    if (at.size() < kEntryProbe || !has_signature(at, "HvLE")) return std::nullopt;
    const uint32_t size = le32(at, 4);
    if (size < kLogEntryAlignment || size % kLogEntryAlignment != 0 || size > kMaxReplayImageSize) return std::nullopt;
    return size;
}

std::optional<FoundBaseBlock> recognise_base_block(Bytes at) {
    if (at.size() < kLogBaseBlockSize || !has_signature(at, "regf")) return std::nullopt;
    const BaseBlock base = parse_base_block(at);
    if (base.major_version != 1 || base.minor_version < 1 || base.minor_version > 6 || base.file_format != 1 ||
        !plausible_bins_size(base.hive_bins_data_size)) {
        return std::nullopt;
    }
    FoundBaseBlock found;
    found.stated_size = base.hive_bins_data_size;
    const uint32_t raw = base_block_checksum(at);
    // The opener compares the raw XOR; log recovery also takes the value Windows stores for an XOR of 0 or ~0.
    found.checksum_ok = base.checksum == raw;
    const bool log_checksum_ok = found.checksum_ok || base.checksum == windows_checksum(at);
    const Bytes after = at.subspan(kLogBaseBlockSize);
    switch (base.file_type) {
    case kPrimaryFileType: {
        if (at.size() < kBaseBlockSize) return std::nullopt;
        const std::optional<FoundBin> first = recognise_bin(at.subspan(kBaseBlockSize));
        if (!first || first->offset != 0) return std::nullopt;
        found.kind = BaseBlockKind::Hive;
        return found;
    }
    case kOldLogFileType:
    case kOldestLogFileType:
        if (!has_signature(after, "DIRT")) return std::nullopt;
        found.kind = BaseBlockKind::OldLog;
        found.checksum_ok = log_checksum_ok;
        return found;
    case kNewLogFileType:
        if (!new_log_entry_size(after)) return std::nullopt;
        found.kind = BaseBlockKind::NewLog;
        found.checksum_ok = log_checksum_ok;
        return found;
    default:
        return std::nullopt;
    }
}

std::optional<uint64_t> old_log_extent(Bytes at) {
    const size_t bitmap_size = le32(at, base_block_field::kHiveBinsDataSize) / kBytesPerBitmapByte;
    const size_t bitmap_start = kLogBaseBlockSize + kDirtyVectorHeaderSize;
    if (at.size() < bitmap_start + bitmap_size) return std::nullopt;
    uint64_t units = 0;
    for (uint8_t byte : at.subspan(bitmap_start, bitmap_size)) units += static_cast<uint64_t>(std::popcount(byte));
    const uint64_t data_start = (bitmap_start + bitmap_size + kDirtyUnitSize - 1) / kDirtyUnitSize * kDirtyUnitSize;
    return data_start + units * kDirtyUnitSize;
}

}  // namespace tarnu
