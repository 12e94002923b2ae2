// What a replay did with each log it was given, for the caller to inspect after `open_hive_with_logs`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnu {

struct LogReport {
    std::string path;
    std::string kind;                        // the format's name, or "unreadable", "empty" or "not a log"
    bool used = false;                       // the replay read pages from it (perhaps none were valid)
    std::string reason;                      // why it was not used; empty when it was
    std::optional<uint32_t> first_sequence;  // the sequence numbers of what was applied from it
    std::optional<uint32_t> last_sequence;
    std::optional<size_t> entries_applied;   // set by the formats that have entries, when the log is used
    size_t pages_applied = 0;                // pages, dirty units (old format) or dirty pages (blocks)
    std::string stop;                        // why its replay ended; empty when it was not used
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
