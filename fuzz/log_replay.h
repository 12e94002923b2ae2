// What the log fuzz targets share: the input is a 4-byte control header followed by the bytes of one or two logs,
// which are described on their own and then replayed onto a small valid primary made here, dirty where recovery
// needs it; the hive that results is read completely (the walk of walk_hive.h). A fixed log of 512 bytes or more
// must be recognised as the target's format, and the replay must report each log as its description does, or the
// target aborts.
//
// Unless the control header says otherwise, each target first fixes in its logs what mutation cannot be expected
// to find by chance (signatures, checksums, hashes, sequence numbers), so that the fuzzer spends its time on the
// sizes, counts, offsets and pages behind them. The control header:
//   byte 0     flags, below
//   byte 1     skew (signed): the primary's secondary sequence number lies this far before the first log's
//              primary sequence number; the old-format target also takes its low two bits as "log 1 / log 2 was
//              written one tick before the primary", which makes that log ineligible
//   bytes 2-3  with kTwoLogs, the length of the first log in 512-byte units (little-endian); the rest is the second
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "hive/file_io.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "logs/log_base_block.h"
#include "logs/log_format.h"
#include "logs/replay.h"
#include "records/key_node.h"
#include "records/value_key.h"
#include "utils/bytes.h"
#include "walk_hive.h"

namespace tarnu::fuzz {

inline constexpr size_t kControlSize = 4;

enum ControlFlag : uint8_t {
    kRaw = 1,             // the logs are replayed as they come, nothing fixed
    kDamagedPrimary = 2,  // the primary's base block fails its checksum, so recovery takes a log's copy
    kCleanPrimary = 4,    // the primary's sequence numbers agree, so Windows logs must be passed over
    kTwoLogs = 8,         // the bytes after the control header are split into a first and a second log
    kKeepNumbers = 16,    // fixing leaves the numbers of new-format entries as they come
    kKeepSecondHash = 32,  // fixing leaves hash-2 of new-format entries as it comes
};

struct Control {
    uint8_t flags = 0;
    int8_t skew = 0;
    size_t first_log_length = 0;
};

// The primary's last-written time, which old-format logs must match to be eligible; its first hive bin carries
// the same time, as Windows writes it.
inline constexpr uint64_t kPrimaryTime = 0x01D5A5B8F8A3C000;

inline void put_le64(uint8_t* p, uint64_t v) {
    put_le32(p, static_cast<uint32_t>(v));
    put_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Writes the four signature characters at `at` if the buffer holds them.
inline void put_signature(ByteBuffer& buffer, size_t at, const char (&signature)[5]) {
    if (at + 4 <= buffer.size()) std::memcpy(buffer.data() + at, signature, 4);
}

// Makes the first 512 bytes of `log` a log header that a replay accepts as far as signature, sequence numbers,
// file type (`file_type` unless it already has one of `accepted`) and checksum go; the other fields stay as they
// come. `before_checksum` may change more of the header first.
template <typename Change>
void fix_log_header(ByteBuffer& log, uint32_t file_type, std::initializer_list<uint32_t> accepted,
                    Change before_checksum) {
    if (log.size() < kLogBaseBlockSize) return;
    put_signature(log, 0, "regf");
    put_le32(log.data() + base_block_field::kSecondarySequence, le32(log.data() + base_block_field::kPrimarySequence));
    const uint32_t type = le32(log.data() + base_block_field::kFileType);
    if (std::find(accepted.begin(), accepted.end(), type) == accepted.end()) {
        put_le32(log.data() + base_block_field::kFileType, file_type);
    }
    before_checksum(log);
    put_le32(log.data() + kChecksumPosition, windows_checksum(Bytes(log.data(), kLogBaseBlockSize)));
}

// A small valid primary: a base block and one hive bin holding the root key "root" with one REG_DWORD value.
// Its secondary sequence number is `secondary`; it is dirty (the primary number one ahead) unless kCleanPrimary.
inline ByteBuffer small_primary(uint32_t secondary, uint8_t flags) {
    ByteBuffer image(kBaseBlockSize + kHiveBlockSize, 0);
    uint8_t* base = image.data();
    std::memcpy(base, "regf", 4);
    put_le32(base + base_block_field::kPrimarySequence, (flags & kCleanPrimary) ? secondary : secondary + 1);
    put_le32(base + base_block_field::kSecondarySequence, secondary);
    put_le64(base + base_block_field::kLastWritten, kPrimaryTime);
    put_le32(base + base_block_field::kMajorVersion, 1);
    put_le32(base + base_block_field::kMinorVersion, 5);
    put_le32(base + base_block_field::kFileFormat, 1);
    put_le32(base + base_block_field::kRootCellOffset, 0x20);
    put_le32(base + base_block_field::kHiveBinsDataSize, kHiveBlockSize);
    put_le32(base + base_block_field::kClusteringFactor, 1);
    put_le32(base + kChecksumPosition, base_block_checksum(image) + ((flags & kDamagedPrimary) ? 1 : 0));

    uint8_t* bin = base + kHiveBinsStart;
    std::memcpy(bin, "hbin", 4);
    put_le32(bin + 8, kHiveBlockSize);
    put_le64(bin + 20, kPrimaryTime);
    // Cells: the root key node at 0x20, its value list at 0x78, the value key at 0x80, then one free cell.
    uint8_t* root = bin + 0x20;
    put_le32(root, static_cast<uint32_t>(-88));
    std::memcpy(root + 4, "nk", 2);
    root[6] = kKeyCompressedName | 0x04;  // the hive's entry key
    put_le32(root + 4 + 28, kNoCell);     // no subkey lists
    put_le32(root + 4 + 32, kNoCell);
    put_le32(root + 4 + 36, 1);           // one value, listed at 0x78
    put_le32(root + 4 + 40, 0x78);
    put_le32(root + 4 + 44, kNoCell);     // no security cell, no class name
    put_le32(root + 4 + 48, kNoCell);
    root[4 + 72] = 4;
    std::memcpy(root + 4 + kKeyNodeFixedSize, "root", 4);
    put_le32(bin + 0x78, static_cast<uint32_t>(-8));
    put_le32(bin + 0x7C, 0x80);
    uint8_t* value = bin + 0x80;
    put_le32(value, static_cast<uint32_t>(-32));
    std::memcpy(value + 4, "vk", 2);
    value[6] = 1;                                  // name length
    put_le32(value + 8, 0x80000004);               // 4 bytes of data, inline
    put_le32(value + 12, 7);
    put_le32(value + 16, 4);                       // REG_DWORD
    value[20] = kValueCompressedName;
    value[4 + kValueKeyFixedSize] = 'v';
    put_le32(bin + 0xA0, kHiveBlockSize - 0xA0);  // the rest of the bin: one free cell
    return image;
}

// Fixes one log of the input before the replay; `slot` is 0 for the first log, 1 for the second.
using LogFixer = void (*)(ByteBuffer& log, size_t slot, const Control& control);

// Runs one input: splits it into its control header and logs, fixes the logs unless kRaw, describes them, replays
// them onto the small primary and reads the result. `format` is the format the target fixes its logs to.
inline void replay_input(const uint8_t* data, size_t size, const LogFormat& format, LogFixer fix) {
    if (size < kControlSize) return;
    Control control{data[0], static_cast<int8_t>(data[1]), size_t{le16(data + 2)} * kLogBaseBlockSize};
    const Bytes rest(data + kControlSize, size - kControlSize);
    std::vector<ByteBuffer> logs;
    if (control.flags & kTwoLogs) {
        const size_t first = std::min(control.first_log_length, rest.size());
        logs.emplace_back(rest.begin(), rest.begin() + first);
        logs.emplace_back(rest.begin() + first, rest.end());
    } else {
        logs.emplace_back(rest.begin(), rest.end());
    }
    if (!(control.flags & kRaw)) {
        for (size_t slot = 0; slot < logs.size(); ++slot) fix(logs[slot], slot, control);
    }
    std::vector<std::string> kinds;
    for (const ByteBuffer& log : logs) {
        const DescribedLog described = describe_log(log);
        const bool fixed = !(control.flags & kRaw) && log.size() >= kLogBaseBlockSize;
        if (fixed && described.recognised.format != &format) std::abort();
        kinds.push_back(described.recognised.kind);
    }
    const uint32_t start = logs[0].size() >= 8 ? le32(logs[0].data() + base_block_field::kPrimarySequence) : 0;
    ByteBuffer primary = small_primary(start - static_cast<uint32_t>(int32_t{control.skew}), control.flags);

    std::optional<GivenLog> given[2];
    for (size_t slot = 0; slot < logs.size(); ++slot) given[slot] = GivenLog{"log", std::move(logs[slot])};
    auto replayed = replay_logs(std::move(primary), std::move(given[0]), std::move(given[1]));
    if (!seen(replayed)) return;
    const std::vector<LogReport>& reports = replayed.value().report.logs;
    for (size_t i = 0; i < reports.size(); ++i) {
        if (reports[i].kind != kinds.at(i)) std::abort();
    }
    walk_hive(*replayed.value().hive);
}

}  // namespace tarnu::fuzz
