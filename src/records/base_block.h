// The base block ("regf"), the first 4096 bytes of every hive file: the positions of its fields, its checksum, the
// file types it declares, the versions this reader opens, and the parsed record with its two parse functions over
// the block's bytes: `parse_base_block` copies the fields out, `parse_base_block_record` checks the block first, as
// opening a hive does (or, on request, all but the checksum).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// The base block fills the first 4096 bytes of every hive file; hive bins follow it.
inline constexpr size_t kBaseBlockSize = 4096;

// Positions of the base-block fields, from the first byte of the hive file.
namespace base_block_field {
inline constexpr size_t kSignature = 0;
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

// The checksum covers the 127 little-endian words before it, at positions 0 to 507; it is stored at 508.
inline constexpr size_t kChecksumWords = 127;
inline constexpr size_t kChecksumPosition = 508;

// The file types a base block declares.
inline constexpr uint32_t kPrimaryFileType = 0;
inline constexpr uint32_t kOldLogFileType = 1;
inline constexpr uint32_t kOldestLogFileType = 2;  // old format as NT 2000 and earlier wrote it
inline constexpr uint32_t kNewLogFileType = 6;

// The versions a hive opens with: 1.3 to 1.6.
inline constexpr uint32_t kHiveMajorVersion = 1;
inline constexpr uint32_t kFirstHiveMinorVersion = 3;
inline constexpr uint32_t kLastHiveMinorVersion = 6;

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
    bool checksum_ok = false;  // the stored checksum is the XOR of the block's first 127 words
    std::string file_name;     // UTF-8
};

// The XOR of the 127 little-endian 32-bit words at positions 0 to 507 of `block` (at least 512 bytes long).
uint32_t base_block_checksum(Bytes block);

// The fields of the base block at the start of `block` (at least 512 bytes long), without any check. The file name
// field is 64 bytes, each taken as the character of the same code point (a zero byte as a space), then white space
// trimmed from both ends: names stored as UTF-16 show their characters spaced out.
BaseBlock parse_base_block(Bytes block);

// Whether opening a hive compares the stored checksum with the block's XOR. A block whose checksum is wrong but
// whose fields read may still lead to a hive that reads; `checksum_ok` then says that it was wrong.
enum class ChecksumRule : uint8_t { Check, Ignore };

// The base block at the start of `image`, checked as a hive is opened: at least 4096 bytes (HiveTooSmall), "regf"
// (InvalidSignature), the checksum (ChecksumMismatch, unless `rule` is Ignore) and a version this reader opens
// (UnsupportedVersion).
Result<BaseBlock> parse_base_block_record(Bytes image, ChecksumRule rule = ChecksumRule::Check);

}  // namespace tarnu
