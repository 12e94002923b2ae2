// Opening a hive file the way the command and `tarnu.records` do by default: with the transaction logs that lie
// beside it. Windows keeps them as HIVE.LOG1 and HIVE.LOG2 in the hive's folder; their names are matched without
// regard to ASCII letter case, since copies made on other systems change it.
#pragma once

#include <optional>
#include <string>

#include "hive/hive.h"
#include "logs/replay_report.h"
#include "utils/error.h"

namespace tarnu {

// The logs beside the hive at `hive_path`: the first slot for HIVE.LOG1, the second for HIVE.LOG2, each the
// regular file of that name (in any letter case; the first in byte order when several differ only by case).
struct LogsBeside {
    std::optional<std::string> log1;
    std::optional<std::string> log2;

    bool empty() const { return !log1 && !log2; }
};
LogsBeside logs_beside(const std::string& hive_path);

struct OpenedHive {
    SharedHive hive;
    std::optional<ReplayReport> report;  // when logs were given to the replay
};

// Opens `hive_path` with `logs` replayed onto it, or maps it as it stands when there are none.
Result<OpenedHive> open_hive_file(const std::string& hive_path, const LogsBeside& logs);

}  // namespace tarnu
