// Opening a hive file the way the command and `tarnu.records` do by default: with the transaction logs that lie
// beside it. Windows keeps them as HIVE.LOG1 and HIVE.LOG2 in the hive's folder (Windows XP and older as one
// HIVE.LOG); their names are matched without regard to ASCII letter case, since copies made on other systems
// change it.
#pragma once

#include <optional>
#include <string>

#include "hive/hive.h"
#include "logs/replay_report.h"
#include "utils/error.h"

namespace tarnu {

// The logs beside the hive at `hive_path`: the first slot for HIVE.LOG1 (or, when there is none, the HIVE.LOG of
// older Windows), the second for HIVE.LOG2, each the regular file of that name (in any letter case; the first in
// byte order when several differ only by case). A HIVE.LOG beside a HIVE.LOG1 is left over from an older system.
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

// Opens `hive_path` as the command does: with the logs beside it replayed, a dirty primary recovered from them. The
// report is always there: with no logs it holds none and says whether the primary is dirty.
Result<OpenedHive> open_recovered(const std::string& hive_path);

}  // namespace tarnu
