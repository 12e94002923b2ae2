// The new Windows log format (file type 6, Windows 8.1 on): after the 512-byte base block, "HvLE" entries back
// to back, each holding dirty pages of the hive bins data and guarded by two Marvin32 hashes.
//
// Files are reused in place, so stale entries with valid hashes often follow the current ones: a chain is read
// only while each entry is valid and carries the next sequence number, and it ends at the first that does not.
//
// The format's entry (kNewLogFormat, "new") outranks the old format. It recovers a dirty primary from one or two
// logs ordered by the numbers of their first entries, whatever their slots: a stale log is passed over, and the
// chain goes on from one log into the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "logs/dirty_page.h"
#include "utils/bytes.h"

namespace tarnu {

// One valid entry.
struct LogEntry {
    uint32_t sequence = 0;
    uint32_t hive_bins_data_size = 0;  // of the hive after this entry
    uint32_t flags = 0;                // bit 0: the base block's flags bit 0 when the entry was written
    std::vector<DirtyPage> pages;      // image offsets; views of the log file
};

struct EntryChain {
    std::vector<LogEntry> entries;  // numbered `start`, `start` + 1, ... in file order
    std::string stop;               // why the chain ended, naming the entry that ended it
};

// The number of the log's first entry: the primary sequence number of its base block copy.
uint32_t log_start(Bytes file);

// Reads the chain of valid entries from offset 512 of `file`, the first numbered `start`.
EntryChain read_entry_chain(Bytes file, uint32_t start);

}  // namespace tarnu
