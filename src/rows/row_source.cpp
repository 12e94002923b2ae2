#include "rows/row_source.h"

#include <utility>

namespace tarnu {

size_t RowGroup::data_size() const {
    size_t size = 0;
    for (const Row& row : rows) size += row.raw ? row.raw->size() : 0;
    return size;
}

size_t RowGroup::held_size() const {
    size_t size = data_size() + key.path.size() + error.size();
    for (const KeyValue& value : key.values) size += value.key.name.size();
    return size;
}

void RowGroup::set_error(std::optional<std::string_view> hive, RecordProblem problem, bool has_key) {
    key.path = std::move(problem.path);
    key.values.clear();
    error = std::move(problem.message);
    rows.clear();
    Row row;
    row.hive = hive;
    if (has_key) row.key = key.path;
    row.error = error;
    rows.push_back(row);
}

void RowSource::add_problem(RecordProblem problem) {
    ++skipped_;
    problems_.push_back(std::move(problem));
}

void RowSource::add_rows(RowGroup& group, const Row& head, ValueNames names) {
    group.rows.clear();
    if (group.key.values.empty()) {
        group.rows.push_back(head);
        return;
    }
    values_ += group.key.values.size();
    group.rows.reserve(group.key.values.size());
    for (size_t i = 0; i < group.key.values.size(); ++i) {
        const KeyValue& value = group.key.values[i];
        Row& row = group.rows.emplace_back(head);
        row.first_of_key = i == 0;
        row.value = names == ValueNames::Live ? record_value_name(value.key) : std::string_view(value.key.name);
        row.type = value.key.value_type;
        if (value.readable) row.raw = value.data.view();
    }
}

LiveRows::LiveRows(const Hive& hive, KeyNode start, std::string start_path, std::optional<std::string> hive_name)
    : RowSource(std::move(hive_name)), walk_(hive, std::move(start), std::move(start_path)) {
    head_.hive = this->hive();
}

bool LiveRows::next(RowGroup& group) {
    const bool found = walk_.next(group.key);
    if (walk_.has_problems()) {
        for (RecordProblem& problem : walk_.take_problems()) add_problem(std::move(problem));
    }
    if (!found) return false;
    head_.key = group.key.path;
    head_.last_written = group.key.last_written;
    ++keys_;
    add_rows(group, head_, ValueNames::Live);
    return true;
}

}  // namespace tarnu
