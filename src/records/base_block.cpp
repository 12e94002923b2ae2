#include "records/base_block.h"

#include <cstring>

namespace tarnu {
namespace {

std::string decode_file_name(Bytes field) {
    auto is_space = [](uint8_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0; };
    size_t begin = 0, end = field.size();
    auto char_of = [&](size_t i) -> uint8_t { return field[i] == 0 ? uint8_t{0x20} : field[i]; };
    while (begin < end && is_space(char_of(begin))) ++begin;
    while (end > begin && is_space(char_of(end - 1))) --end;
    std::string name;
    for (size_t i = begin; i < end; ++i) {
        uint8_t c = char_of(i);
        if (c < 0x80) {
            name.push_back(static_cast<char>(c));
        } else {
            name.push_back(static_cast<char>(0xC0 | (c >> 6)));
            name.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return name;
}

}  // namespace

uint32_t base_block_checksum(Bytes block) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kChecksumWords; ++i) sum ^= le32(block, 4 * i);
    return sum;
}

BaseBlock parse_base_block(Bytes block) {
    namespace field = base_block_field;
    BaseBlock base;
    std::memcpy(base.signature.data(), block.data() + field::kSignature, 4);
    base.primary_sequence = le32(block, field::kPrimarySequence);
    base.secondary_sequence = le32(block, field::kSecondarySequence);
    base.last_written = le64(block, field::kLastWritten);
    base.major_version = le32(block, field::kMajorVersion);
    base.minor_version = le32(block, field::kMinorVersion);
    base.file_type = le32(block, field::kFileType);
    base.file_format = le32(block, field::kFileFormat);
    base.root_cell_offset = le32(block, field::kRootCellOffset);
    base.hive_bins_data_size = le32(block, field::kHiveBinsDataSize);
    base.clustering_factor = le32(block, field::kClusteringFactor);
    base.flags = le32(block, field::kFlags);
    base.checksum = le32(block, kChecksumPosition);
    base.checksum_ok = base.checksum == base_block_checksum(block);
    base.file_name = decode_file_name(block.subspan(field::kFileName, field::kFileNameSize));
    return base;
}

Result<BaseBlock> parse_base_block_record(Bytes image, ChecksumRule rule) {
    if (image.size() < kBaseBlockSize) return HiveError::hive_too_small(image.size(), kBaseBlockSize);
    if (!has_signature(image, "regf")) {
        return HiveError::invalid_signature("regf", std::string(reinterpret_cast<const char*>(image.data()), 4));
    }
    BaseBlock base = parse_base_block(image);
    if (!base.checksum_ok && rule == ChecksumRule::Check) {
        return HiveError::checksum_mismatch(base.checksum, base_block_checksum(image));
    }
    if (base.major_version != kHiveMajorVersion || base.minor_version < kFirstHiveMinorVersion ||
        base.minor_version > kLastHiveMinorVersion) {
        return HiveError::unsupported_version(base.major_version, base.minor_version);
    }
    return base;
}

}  // namespace tarnu
