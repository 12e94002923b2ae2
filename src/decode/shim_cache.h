// AppCompatCache (ShimCache) values of every Windows layout: XP 32-bit, 2003/Vista/2008 32- and 64-bit, 7/2008 R2
// 32- and 64-bit, 8.0/2012, 8.1/2012 R2, 10/11.
//
// The layout is told by the value's first dword (0xDEADBEEF, 0xBADC0FFE, 0xBADC0FEE, or the 10/11 header size with
// "10ts" after it) or by "00ts"/"10ts" at offset 128 (8.0/8.1); anything else is an unknown layout, reported with
// its first 16 bytes in hex. The entries of the 8.0 to 11 layouts are chained by their own sizes and walked to the
// value's end; header counts are reported but never trusted past what the data holds. Entries keep the order of
// the value, most recent first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/reader.h"
#include "decode/times.h"

namespace tarnu::decode {

struct ShimEntry {
    size_t offset = 0;
    std::string path;
    Instant modified;                     // the file's modification time when it was cached
    std::optional<uint64_t> file_size;    // XP, 2003
    std::optional<Instant> last_update;   // XP
    std::optional<uint32_t> insertion_flags, shim_flags;  // Vista to 8.1
    std::optional<bool> executed;         // Vista and 7: insertion flag 0x2
    std::vector<uint8_t> data;            // 7 to 11: the entry's own data
};

struct ShimCache {
    // "XP", "2003 32-bit", "2003 64-bit", "Vista 32-bit", "Vista 64-bit", "7 32-bit", "7 64-bit", "8.0", "8.1",
    // "10", or "unknown".
    std::string layout = "unknown";
    uint32_t signature = 0;               // the first dword
    std::optional<uint32_t> header_count; // the entry count the header claims (XP to 7)
    std::vector<ShimEntry> entries;
    std::string head;                     // an unknown layout's first 16 bytes in hex
    Notes notes;
};

ShimCache parse_shim_cache(Bytes data);

}  // namespace tarnu::decode
