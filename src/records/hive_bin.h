// The hive-bin header ("hbin"), the 32 bytes that begin every hive bin: the positions of its fields, its size and
// `parse_hbin_header`, which parses one from the bytes at a hive-bins position. hive/cell.h lists the bins.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// A hive bin begins with a 32-byte header; its cells follow.
inline constexpr size_t kHbinHeaderSize = 32;

// Positions of the hive-bin header's fields.
namespace hbin_field {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kOffset = 4;  // the bin's own hive-bins position
inline constexpr size_t kSize = 8;
inline constexpr size_t kReserved = 12;
inline constexpr size_t kTimestamp = 20;
inline constexpr size_t kSpare = 28;
}  // namespace hbin_field

struct HbinHeader {
    std::array<uint8_t, 4> signature{};
    uint32_t offset = 0;
    uint32_t size = 0;
    std::array<uint8_t, 8> reserved{};
    uint64_t timestamp = 0;
    uint32_t spare = 0;
};

// The header that `bytes` begins with, `bytes` lying at hive-bins position `position`: TruncatedData at `position`
// when fewer than 32 bytes remain, nothing when they do not begin with "hbin". The fields are not judged.
Result<std::optional<HbinHeader>> parse_hbin_header(Bytes bytes, uint32_t position);

}  // namespace tarnu
