#include "logs/log_base_block.h"

#include <algorithm>

#include "hive/limits.h"
#include "utils/format.h"

namespace tarnu {
namespace {

// The checks that logs and primaries share; `file_type_ok` says whether the declared type fits.
std::optional<std::string> base_block_problem(Bytes block, bool file_type_ok) {
    if (block.size() < kLogBaseBlockSize) {
        return dec(block.size()) + " bytes, fewer than a base block's " + dec(kLogBaseBlockSize);
    }
    if (!has_signature(block, "regf")) return std::string("no \"regf\" signature");
    const BaseBlock base = parse_base_block(block);
    const uint32_t raw = base_block_checksum(block);
    if (base.checksum != raw && base.checksum != windows_checksum(block)) {
        return "checksum " + hex(base.checksum) + " does not match " + hex(raw);
    }
    if (!file_type_ok) return "file type " + dec(base.file_type);
    if (base.major_version != 1 || base.minor_version < 1 || base.minor_version > 6) {
        return "version " + dec(base.major_version) + "." + dec(base.minor_version);
    }
    if (base.file_format != 1) return "file format " + dec(base.file_format);
    if (base.clustering_factor != 1) return "clustering factor " + dec(base.clustering_factor);
    const uint32_t size = base.hive_bins_data_size;
    if (size < kHiveBlockSize || size % kHiveBlockSize != 0 || size > kMaxRecoveredBinsSize) {
        return "hive bins data size " + hex(size);
    }
    return std::nullopt;
}

}  // namespace

uint32_t windows_checksum(Bytes block) {
    const uint32_t sum = base_block_checksum(block);
    if (sum == 0) return 1;
    if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
    return sum;
}

std::optional<std::string> log_header_problem(Bytes file) {
    const uint32_t type = file.size() >= kLogBaseBlockSize ? le32(file, base_block_field::kFileType) : 0;
    const bool log_type = type == kOldLogFileType || type == kOldestLogFileType || type == kNewLogFileType;
    if (auto problem = base_block_problem(file, log_type)) return problem;
    const uint32_t primary = le32(file, base_block_field::kPrimarySequence);
    const uint32_t secondary = le32(file, base_block_field::kSecondarySequence);
    if (primary != secondary) return "sequence numbers differ: " + dec(primary) + " and " + dec(secondary);
    return std::nullopt;
}

std::optional<std::string> primary_base_block_problem(Bytes image) {
    const bool primary_type =
        image.size() >= kLogBaseBlockSize && le32(image, base_block_field::kFileType) == kPrimaryFileType;
    return base_block_problem(image, primary_type);
}

bool primary_is_dirty(Bytes image) {
    if (primary_base_block_problem(image)) return true;
    return le32(image, base_block_field::kPrimarySequence) != le32(image, base_block_field::kSecondarySequence);
}

Recognition recognise_windows_log(Bytes file, std::initializer_list<uint32_t> file_types) {
    if (file.size() < kLogBaseBlockSize) return Recognition{false, "too small: " + dec(file.size()) + " bytes"};
    const uint32_t type = le32(file, base_block_field::kFileType);
    if (std::find(file_types.begin(), file_types.end(), type) == file_types.end()) {
        return Recognition{false, "a \"regf\" file of type " + dec(type) + ", not a log"};
    }
    if (auto problem = log_header_problem(file)) return Recognition{true, "unusable base block: " + *problem};
    return Recognition{true, ""};
}

LogDescription describe_windows_log(Bytes file) {
    LogDescription description;
    description.sequences = {le32(file, base_block_field::kPrimarySequence),
                             le32(file, base_block_field::kSecondarySequence)};
    description.hive_bins_data_size = le32(file, base_block_field::kHiveBinsDataSize);
    return description;
}

}  // namespace tarnu
