// Opening a hive with its transaction logs: the primary is read whole into an owned image, each log is
// recognised by its bytes, a dirty primary is recovered from its Windows logs, the reader's own "blocks" logs are
// applied after that in their sequence order, and the hive is built from the result with a report of it all.
#pragma once

#include <optional>
#include <string>

#include "error/error.h"
#include "hive/hive.h"
#include "transaction_log/replay_report.h"

namespace tarnu {

struct ReplayedHive {
    SharedHive hive;
    ReplayReport report;
};

// A log that cannot be read or used is passed over and reported; only a "blocks" log whose pages break the replay
// limits, an unreadable primary and an image that does not make a hive fail the call.
Result<ReplayedHive> open_hive_with_logs(const std::string& hive_path, const std::optional<std::string>& log1_path,
                                         const std::optional<std::string>& log2_path);

}  // namespace tarnu
