// Opening a hive with its transaction logs: the primary is read whole into an owned image, each log is
// recognised by its bytes, a dirty primary is recovered from its Windows logs, the reader's own "blocks" logs are
// applied after that in their sequence order, and the hive is built from the result with a report of it all.
// The same replay runs over a primary and logs already in memory.
#pragma once

#include <optional>
#include <string>

#include "hive/file_io.h"
#include "hive/hive.h"
#include "logs/replay_report.h"
#include "utils/error.h"

namespace tarnu {

struct ReplayedHive {
    SharedHive hive;
    ReplayReport report;
};

// A log as the replay takes it: the name its report gives it, and its bytes or the failure to read them.
struct GivenLog {
    std::string path;
    Result<ByteBuffer> file;
};

// A log that cannot be read or used is passed over and reported; only a "blocks" log whose pages break the replay
// limits and an image that does not make a hive fail the call.
Result<ReplayedHive> replay_logs(ByteBuffer image, std::optional<GivenLog> log1, std::optional<GivenLog> log2);

// Reads the primary and the logs at these paths and replays them as `replay_logs` does; an unreadable primary
// fails the call too.
Result<ReplayedHive> open_hive_with_logs(const std::string& hive_path, const std::optional<std::string>& log1_path,
                                         const std::optional<std::string>& log2_path);

}  // namespace tarnu
