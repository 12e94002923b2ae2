// What a replay did with each log it was given, for the caller to inspect after `open_hive_with_logs`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnu {

// What a log file was found to be, by its bytes.
enum class LogKind : uint8_t {
    Unreadable,  // the file could not be read
    Empty,       // no bytes at all, as the unused log beside an old-format log often is
    NotALog,     // neither of the layouts below
    Blocks,      // the reader's own layout: "HvLE" header and "DIRT" blocks
    OldFormat,   // Windows log of file type 1 or 2: "DIRT" dirty vector
    NewFormat,   // Windows log of file type 6: "HvLE" entries
};

// "unreadable", "empty", "not a log", "blocks", "old" or "new".
const char* log_kind_name(LogKind kind);

struct LogReport {
    std::string path;
    LogKind kind = LogKind::NotALog;
    bool used = false;                      // the replay read pages from it (perhaps none were valid)
    std::string reason;                     // why it was not used; empty when it was
    std::optional<uint32_t> first_sequence;  // the sequence numbers of what was applied from it
    std::optional<uint32_t> last_sequence;
    size_t entries_applied = 0;  // new format only
    size_t pages_applied = 0;    // pages, dirty units (old format) or dirty pages (blocks)
    std::string stop;            // why its replay ended; empty when it was not used
};

struct ReplayReport {
    bool primary_dirty = false;         // the primary's base block could not be trusted or its numbers differ
    bool recovered = false;             // Windows logs were applied and the base block made clean
    bool base_block_from_log = false;   // the primary's base block was damaged and a log's copy replaced it
    std::optional<uint32_t> first_sequence;  // the sequence numbers of what Windows recovery applied
    std::optional<uint32_t> last_sequence;
    std::vector<uint32_t> placeholder_bins;  // hive bins positions where an empty bin replaced a broken one
    std::vector<LogReport> logs;        // one per log path given, in the order given
};

}  // namespace tarnu
