#include "hive/hive.h"

#include <cstring>

#include "hive/limits.h"

namespace tarnu {
namespace {

// The file name field: 64 bytes, each taken as the character of the same code point (a zero byte as a space),
// then white space trimmed from both ends. Names stored as UTF-16 therefore show their characters spaced out.
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

uint32_t base_block_checksum(Bytes image) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kChecksumWords; ++i) sum ^= le32(image, 4 * i);
    return sum;
}

BaseBlock parse_base_block(Bytes block) {
    namespace field = base_block_field;
    BaseBlock base;
    std::memcpy(base.signature.data(), block.data(), 4);
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
    base.file_name = decode_file_name(block.subspan(field::kFileName, field::kFileNameSize));
    return base;
}

namespace {

// The base block at the start of `b`, checked: long enough, "regf", its checksum, a version this reader knows.
Result<BaseBlock> checked_base_block(Bytes b) {
    if (b.size() < kBaseBlockSize) return HiveError::hive_too_small(b.size(), kBaseBlockSize);
    if (!has_signature(b, "regf")) {
        return HiveError::invalid_signature("regf", std::string(reinterpret_cast<const char*>(b.data()), 4));
    }
    BaseBlock base = parse_base_block(b);
    const uint32_t calculated = base_block_checksum(b);
    if (calculated != base.checksum) return HiveError::checksum_mismatch(base.checksum, calculated);
    if (base.major_version != 1 || base.minor_version < 3 || base.minor_version > 6) {
        return HiveError::unsupported_version(base.major_version, base.minor_version);
    }
    return base;
}

}  // namespace

Result<SharedHive> open_hive(const std::string& path) {
    // The base block is checked from a copy read through the file: an open then faults no page of the mapping in,
    // and a caller that reads only the base block's fields never does.
    std::array<uint8_t, kBaseBlockSize> head;
    TARNU_TRY(HiveImage image, map_hive_file(path, kBaseBlockSize, head));
    TARNU_TRY(BaseBlock base, checked_base_block(head));
    return SharedHive(std::make_shared<const Hive>(std::move(base), std::move(image)));
}

Result<SharedHive> build_hive(HiveImage image) {
    TARNU_TRY(BaseBlock base, checked_base_block(image.bytes()));
    return SharedHive(std::make_shared<const Hive>(std::move(base), std::move(image)));
}

}  // namespace tarnu
