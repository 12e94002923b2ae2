// RecoveredRows (rows/row_source.h): the rows of what recovery finds, as Hive.deleted() orders it.
#include <algorithm>
#include <utility>

#include "hive/hive.h"
#include "hive/limits.h"
#include "rows/row_source.h"

namespace tarnu {

std::vector<RecoveredItem> recovered_order(const Recovery& recovery) {
    std::vector<RecoveredItem> items;
    items.reserve(recovery.keys.size() + recovery.values.size());
    for (size_t i = 0; i < recovery.keys.size(); ++i) {
        items.push_back(RecoveredItem{recovery.keys[i].node.offset, true, i});
    }
    for (size_t i = 0; i < recovery.values.size(); ++i) {
        if (!recovery.values[i].listed) items.push_back(RecoveredItem{recovery.values[i].offset, false, i});
    }
    // No two records share a cell, so no two items share an offset.
    std::sort(items.begin(), items.end(),
              [](const RecoveredItem& a, const RecoveredItem& b) { return a.offset < b.offset; });
    return items;
}

RecoveredRows::RecoveredRows(const Hive& hive, std::optional<std::string> hive_name)
    : RowSource(std::move(hive_name)), hive_(hive), left_(kMaxGatheredPerImageByte * hive.bytes().size()) {}

bool RecoveredRows::spend(uint64_t bytes) {
    if (bytes <= left_) {
        left_ -= bytes;
        return true;
    }
    if (!spent_) {
        const uint64_t limit = kMaxGatheredPerImageByte * hive_.bytes().size();
        HiveError error = HiveError::invalid_format(
            0, malformed::Budget{malformed::Budget::Call::Recovery, limit, kMaxGatheredPerImageByte});
        add_problem({std::string(), error.message(), error.kind()});
        spent_ = true;
    }
    left_ = 0;
    return false;
}

// The value with its data as the cells hold it now: unreadable when the data is gone or past the budget, and a
// problem as well when reading it fails.
KeyValue RecoveredRows::read_value(const RecoveredValue& value, const std::string& path) {
    KeyValue out{value.key, ValueBytes(), false};
    if (!spend(value.key.name.size() + (value.data_available ? value.key.data_size : 0))) return out;
    auto data = read_recovered_data(value);
    if (!data.ok()) {
        add_problem({path, "value '" + value.key.name + "': " + data.error().message()});
    } else if (data.value()) {
        out.data = std::move(*data.value());
        out.readable = true;
    }
    return out;
}

bool RecoveredRows::next(RowGroup& group) {
    if (!recovery_) {
        recovery_ = recover_deleted(hive_);
        order_ = recovered_order(*recovery_);
    }
    if (at_ == order_.size()) return false;
    const RecoveredItem item = order_[at_];
    const Recovery& recovery = *recovery_;
    Row head;
    head.hive = hive();
    head.deleted = true;
    group.key.values.clear();
    if (!item.is_key) {
        // A value that no recovered key lists: a row of its own, without a key.
        const RecoveredValue& value = recovery.values[item.index];
        group.key.path.clear();
        group.key.values.push_back(read_value(value, group.key.path));
        add_rows(group, head, ValueNames::Stored);
        group.rows[0].offset = value.offset;
        group.rows[0].source = source_name(value.source);
        ++at_;
        return true;
    }
    const RecoveredKey& key = recovery.keys[item.index];
    if (value_ == 0) {
        path_ = spent_ ? PartialPath{} : recovered_key_path(hive_, recovery, key);
        ++keys_;
    }
    // Each row writes the path again.
    if (!spend(path_.path.size())) path_ = PartialPath{};
    group.key.path = path_.path;
    head.key = group.key.path;
    head.last_written = key.node.last_written;
    head.path_complete = path_.complete;
    head.offset = key.node.offset;
    head.source = source_name(key.source);
    if (key.values.empty()) {
        add_rows(group, head, ValueNames::Stored);
        ++at_;
        return true;
    }
    const RecoveredValue& value = recovery.values[key.values[value_]];
    group.key.values.push_back(read_value(value, group.key.path));
    add_rows(group, head, ValueNames::Stored);
    group.rows[0].first_of_key = value_ == 0;
    group.rows[0].offset = value.offset;
    group.rows[0].source = source_name(value.source);
    if (++value_ == key.values.size()) {
        value_ = 0;
        ++at_;
    }
    return true;
}

}  // namespace tarnu
