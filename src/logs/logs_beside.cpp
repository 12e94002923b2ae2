#include "logs/logs_beside.h"

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
    const std::string wanted[2] = {name + ".LOG1", name + ".LOG2"};
    std::optional<std::string>* slots[2] = {&found.log1, &found.log2};
    std::optional<std::string> names[2];
    platform::list_folder(folder, [&](std::string_view entry_name) {
        for (int slot = 0; slot < 2; ++slot) {
            if (!same_ignoring_ascii_case(entry_name, wanted[slot])) continue;
            const std::string path = (slash == std::string::npos ? "" : folder) + std::string(entry_name);
            if (!platform::is_regular_file(path)) continue;
            if (!names[slot] || entry_name < *names[slot]) {
                names[slot] = std::string(entry_name);
                *slots[slot] = path;
            }
        }
    });
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

}  // namespace tarnu
