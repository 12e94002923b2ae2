// The shared in-memory hive: its image and its parsed base block.
//
// `open_hive` maps a hive file; `build_hive` validates an image (size, "regf", checksum, version) and builds the
// `Hive`. A hive never changes after it is built, so any number of threads may read it through a `SharedHive`
// without a lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "hive/file_io.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// Positions of the base-block fields, from the first byte of the hive file (the checksum's is in limits.h).
namespace base_block_field {
inline constexpr size_t kPrimarySequence = 4;
inline constexpr size_t kSecondarySequence = 8;
inline constexpr size_t kLastWritten = 12;
inline constexpr size_t kMajorVersion = 20;
inline constexpr size_t kMinorVersion = 24;
inline constexpr size_t kFileType = 28;
inline constexpr size_t kFileFormat = 32;
inline constexpr size_t kRootCellOffset = 36;
inline constexpr size_t kHiveBinsDataSize = 40;
inline constexpr size_t kClusteringFactor = 44;
inline constexpr size_t kFileName = 48;
inline constexpr size_t kFileNameSize = 64;
inline constexpr size_t kFlags = 144;
}  // namespace base_block_field

// The fields of the base block, copied out of the image.
struct BaseBlock {
    std::array<uint8_t, 4> signature{};
    uint32_t primary_sequence = 0;
    uint32_t secondary_sequence = 0;
    uint64_t last_written = 0;
    uint32_t major_version = 0;
    uint32_t minor_version = 0;
    uint32_t file_type = 0;
    uint32_t file_format = 0;
    uint32_t root_cell_offset = 0;
    uint32_t hive_bins_data_size = 0;
    uint32_t clustering_factor = 0;
    uint32_t flags = 0;
    uint32_t checksum = 0;
    std::string file_name;  // UTF-8
};

struct Hive {
    Hive(BaseBlock base, HiveImage img) : base_block(std::move(base)), image(std::move(img)) {}

    BaseBlock base_block;
    HiveImage image;

    Bytes bytes() const { return image.bytes(); }
};

using SharedHive = std::shared_ptr<const Hive>;

// The XOR of the 127 little-endian 32-bit words at positions 0 to 507 of `image` (at least 512 bytes long).
uint32_t base_block_checksum(Bytes image);

// The fields of the base block at the start of `block` (at least 512 bytes long), without any check.
BaseBlock parse_base_block(Bytes block);

Result<SharedHive> open_hive(const std::string& path);
Result<SharedHive> build_hive(HiveImage image);

}  // namespace tarnu
