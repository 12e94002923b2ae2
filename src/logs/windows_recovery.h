// Recovery of a dirty primary from its Windows logs, by Windows' own rules: which logs apply and in which order,
// what of them applies, and how the base block is made clean afterwards.
#pragma once

#include <cstddef>
#include <vector>

#include "hive/file_io.h"
#include "logs/replay_report.h"
#include "utils/bytes.h"

namespace tarnu {

// A Windows log with a usable header (and, in the old format, a readable dirty vector).
struct WindowsLog {
    size_t slot;        // 0 for the first log given, 1 for the second
    Bytes file;         // the whole log file
    LogReport* report;  // where the replay says what it did with the log
};

// New format: the logs are ordered by the numbers of their first entries, a stale one is passed over, the chain
// of valid entries is applied and continued from one log into the other.
void recover_from_new_format(ByteBuffer& image, std::vector<WindowsLog> logs, ReplayReport& report);

// Old format: one log is chosen by its last-written time, and its dirty units are applied up to the first
// broken hive bin among them.
void recover_from_old_format(ByteBuffer& image, const std::vector<WindowsLog>& logs, ReplayReport& report);

}  // namespace tarnu
