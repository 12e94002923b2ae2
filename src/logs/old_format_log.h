// The old Windows log format (file types 1 and 2, Windows XP to 8): after the 512-byte base block, "DIRT" and a
// bitmap with one bit per 512-byte unit of hive bins data, then the dirty units packed in bit order. The format's
// entry (kOldLogFormat, "old") recovers a dirty primary from the one log chosen by its last-written time, up to the
// first broken hive bin among its units.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logs/dirty_page.h"
#include "utils/bytes.h"

namespace tarnu {

struct DirtyVector {
    std::vector<DirtyPage> runs;  // runs of consecutive dirty units in hive order; views of the log file
    uint32_t units = 0;           // the dirty units the runs hold
    std::string stop;             // "end of dirty vector", or why fewer units were read than the bitmap marks
};

// Why the log cannot be read as a dirty vector at all, if it cannot: no "DIRT", or a bitmap cut off by the end of
// the file. The bitmap has one byte per 4096 bytes of the hive bins data size in the log's own base block.
std::optional<std::string> dirty_vector_problem(Bytes file);

// The dirty units of a log that has no dirty-vector problem. A unit whose bytes the file does not hold ends the
// runs there; the units before it are kept.
DirtyVector read_dirty_vector(Bytes file);

}  // namespace tarnu
