#include "rows/key_records.h"

#include <utility>

#include "hive/hive.h"
#include "tree/nodes.h"

namespace tarnu {

std::string_view record_value_name(const ValueKey& value) {
    return value.name_length == 0 ? std::string_view() : std::string_view(value.name);
}

KeyRecords::KeyRecords(const Hive& hive, KeyNode start, std::string start_path)
    : hive_(hive),
      walk_(hive, KeyNode(start), WalkErrors::Skip),
      budget_(hive.bytes().size(), start.offset, malformed::Budget::Call::Walk),
      start_path_(std::move(start_path)) {}

void KeyRecords::full_path(const std::string& walk_path, std::string& out) const {
    out = start_path_;
    if (!start_path_.empty() && !walk_path.empty()) out += '\\';
    out += walk_path;
}

void KeyRecords::add_problem(RecordProblem problem) {
    ++skipped_;
    problems_.push_back(std::move(problem));
}

// Reads every value with its data under ValueErrors::Note: a value whose data cannot be read keeps its place
// without data; a list that cannot be read gives no values, and one that gathers more data than a real hive can hold
// gives none past the limit.
void KeyRecords::read_values(const KeyNode& node, KeyRecord& record) {
    auto list = reader_.read_list(hive_, node);
    if (!list.ok()) {
        add_problem({record.path, "values: " + list.error().message(), list.error().kind()});
        return;
    }
    (void)reader_.read_data(hive_, node, ValueErrors::Note);
    for (size_t i = 0; i < reader_.problems().size(); ++i) {
        add_problem({record.path, reader_.problems()[i], reader_.problem_kinds()[i]});
    }
    uint64_t gathered = 0;
    for (size_t i = 0; i < reader_.size(); ++i) {
        gathered += kValueListEntrySize + kValueKeyFixedSize + reader_.key(i).name.size() + reader_.data_size(i);
    }
    Status spent = budget_.spend(gathered);
    if (!spent.ok()) {
        spent_ = true;
        add_problem({record.path, spent.error().message(), spent.error().kind()});
        return;
    }
    for (size_t i = 0; i < reader_.size(); ++i) reader_.take(i, record.values.add());
}

bool KeyRecords::next(KeyRecord& record) {
    if (spent_) return false;
    // Under WalkErrors::Skip the walk returns no error; what it passes over comes from take_skipped().
    // The key is read where the walk keeps it, its path too, rather than copied out of the walk for each key.
    auto step = walk_.advance();
    for (SkippedPart& part : walk_.take_skipped()) {
        std::string path;
        full_path(part.path, path);
        add_problem({std::move(path), part.error.message(), part.error.kind()});
    }
    if (!step.ok()) add_problem({start_path_, step.error().message(), step.error().kind()});
    if (!step.ok() || step.value() == nullptr) return false;
    const KeyNode& found = *step.value();
    full_path(walk_.path(), record.path);
    record.last_written = found.last_written;
    record.values.clear();
    read_values(found, record);
    ++keys_;
    values_ += record.values.size();
    return true;
}

std::optional<KeyRecord> KeyRecords::next() {
    KeyRecord record;
    if (!next(record)) return std::nullopt;
    return record;
}

}  // namespace tarnu
