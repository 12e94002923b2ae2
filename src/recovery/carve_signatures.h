// What the carver recognises at a position of an image: a base block that begins a hive or a Windows transaction
// log, a hive bin header, the extent of an old-format log and the entries of a new-format one. Each test takes
// the bytes from the position to the end of what the scan holds, and checks every field before it uses it.
//
// Carved files are often stale or damaged, so the checksum decides nothing; the sanity checks do: version 1.1 to
// 1.6, file format 1, a hive bins data size that is a multiple of 4096 from 4096 up to the largest this reader
// accepts, and what must follow the base block (a hive's first bin, "DIRT" or an "HvLE" entry).
#pragma once

#include <cstdint>
#include <optional>

#include "utils/bytes.h"

namespace tarnu {

enum class BaseBlockKind : uint8_t { Hive, OldLog, NewLog };

struct FoundBaseBlock {
    BaseBlockKind kind = BaseBlockKind::Hive;
    uint32_t stated_size = 0;  // the hive bins data size it states
    bool checksum_ok = false;  // a hive: the XOR the opener checks; a log: that or Windows' adjusted value
};

// The base block at the start of `at`, when it begins a hive (its first hive bin 4096 bytes on, at offset 0), an
// old-format log ("DIRT" at 512) or a new-format log (an "HvLE" entry of a valid size at 512).
std::optional<FoundBaseBlock> recognise_base_block(Bytes at);

// The offset and size fields of a hive bin header that make sense.
struct FoundBin {
    uint32_t offset = 0;
    uint32_t size = 0;
};

// The hive bin header at the start of `at`, when it is one: "hbin", an offset and a size that are multiples of
// 4096 (the size from 4096 up to kMaxCarvedBinSize) and end within the largest hive bins data, and a first cell
// whose size is a multiple of 8, at least 8 and inside the bin.
std::optional<FoundBin> recognise_bin(Bytes at);

// The bytes an old-format log at the start of `at` spans: base block, "DIRT", its bitmap padded to 512 bytes,
// then 512 bytes for every bit set; nothing when `at` ends inside the bitmap.
std::optional<uint64_t> old_log_extent(Bytes at);

// The size of the new-format entry at the start of `at`, when it has "HvLE" and a valid size: a multiple of 512,
// at least 512 and at most the largest image a replay makes.
std::optional<uint32_t> new_log_entry_size(Bytes at);

}  // namespace tarnu
