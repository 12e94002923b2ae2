#include "logs/logs_beside.h"

#include "logs/log_base_block.h"
#include "logs/replay.h"
#include "platform/files.h"

namespace tarnu {
namespace {

bool same_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

}  // namespace

LogsBeside logs_beside(const std::string& hive_path) {
    LogsBeside found;
    if (!check_path(hive_path).ok()) return found;
    const size_t slash = hive_path.find_last_of(platform::kFolderSeparators);
    const std::string folder = slash == std::string::npos ? "." : hive_path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? hive_path : hive_path.substr(slash + 1);
    if (name.empty()) return found;
    // LOG1, LOG2, and the LOG of older Windows that stands in the first slot when there is no LOG1.
    const std::string wanted[3] = {name + ".LOG1", name + ".LOG2", name + ".LOG"};
    std::optional<std::string> paths[3];
    std::optional<std::string> names[3];
    platform::list_folder(folder, [&](std::string_view entry_name) {
        for (int which = 0; which < 3; ++which) {
            if (!same_ignoring_ascii_case(entry_name, wanted[which])) continue;
            const std::string path = (slash == std::string::npos ? "" : folder) + std::string(entry_name);
            if (!platform::is_regular_file(path)) continue;
            if (!names[which] || entry_name < *names[which]) {
                names[which] = std::string(entry_name);
                paths[which] = path;
            }
        }
    });
    found.log1 = paths[0] ? std::move(paths[0]) : std::move(paths[2]);
    found.log2 = std::move(paths[1]);
    return found;
}

Result<OpenedHive> open_hive_file(const std::string& hive_path, const LogsBeside& logs) {
    if (logs.empty()) {
        TARNU_TRY(SharedHive hive, open_hive(hive_path));
        return OpenedHive{std::move(hive), std::nullopt};
    }
    TARNU_TRY(ReplayedHive replayed, open_hive_with_logs(hive_path, logs.log1, logs.log2));
    return OpenedHive{std::move(replayed.hive), std::move(replayed.report)};
}

Result<OpenedHive> open_recovered(const std::string& hive_path) {
    TARNU_TRY(OpenedHive opened, open_hive_file(hive_path, logs_beside(hive_path)));
    if (!opened.report) {
        ReplayReport report;
        report.primary_dirty = primary_is_dirty(opened.hive->bytes());
        opened.report = std::move(report);
    }
    return opened;
}

}  // namespace tarnu
