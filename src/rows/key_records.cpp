#include "rows/key_records.h"

#include "hive/hive.h"
#include "hive/limits.h"
#include "tree/nodes.h"
#include "tree/value_data.h"
#include "utils/format.h"

#include <utility>

namespace tarnu {

std::string_view record_value_name(const ValueKey& value) {
    return value.name_length == 0 ? std::string_view() : std::string_view(value.name);
}

KeyRecords::KeyRecords(const Hive& hive, KeyNode start, std::string start_path)
    : hive_(hive), walk_(hive, std::move(start), WalkErrors::Skip), start_path_(std::move(start_path)) {}

std::string KeyRecords::full_path(const std::string& walk_path) const {
    if (start_path_.empty()) return walk_path;
    if (walk_path.empty()) return start_path_;
    return start_path_ + '\\' + walk_path;
}

void KeyRecords::add_problem(RecordProblem problem) {
    ++skipped_;
    problems_.push_back(std::move(problem));
}

// Reads every value with its data. A value whose data cannot be read keeps its place without data; a list that
// cannot be read, or that gathers more data than a real hive can hold (see kMaxValueDataPerImageByte), gives no
// further values.
void KeyRecords::read_values(const KeyNode& node, KeyRecord& record) {
    auto list = read_value_list(hive_, node);
    if (!list.ok()) {
        add_problem({record.path, "values: " + list.error().message()});
        return;
    }
    const uint64_t limit = kMaxValueDataPerImageByte * hive_.bytes().size();
    uint64_t gathered = 0;
    DataScratch scratch;
    record.values.resize(list->size());
    for (size_t i = 0; i < list->size(); ++i) {
        RecordValue& item = record.values[i];
        item.key = std::move(list.value()[i]);
        // Data in one piece of the image is viewed there; only inline and joined data are kept with the value.
        auto data = view_value_data(item.key, scratch);
        if (!data.ok()) {
            add_problem({record.path, "value '" + item.key.name + "': " + data.error().message()});
            continue;
        }
        gathered += data->size();
        if (gathered > limit) {
            record.values.resize(i);
            add_problem({record.path, "values hold more than " + dec(limit) + " bytes of data, " +
                                          dec(kMaxValueDataPerImageByte) + " times the hive's size"});
            return;
        }
        item.readable = true;
        if (!scratch.joined.empty() && data->data() == scratch.joined.data()) {
            item.own = std::exchange(scratch.joined, {});
            item.owned = true;
        } else if (!data->empty() && data->data() == scratch.inline_bytes.data()) {
            item.own.assign(data->begin(), data->end());
            item.owned = true;
        } else {
            item.in_image = data.value();
        }
    }
}

std::optional<KeyRecord> KeyRecords::next() {
    // Under WalkErrors::Skip the walk returns no error; what it passes over comes from take_skipped().
    auto step = walk_.next();
    for (SkippedPart& part : walk_.take_skipped()) add_problem({full_path(part.path), part.error.message()});
    if (!step.ok()) add_problem({start_path_, step.error().message()});
    if (!step.ok() || !step.value()) return std::nullopt;
    WalkStep& found = *step.value();
    KeyRecord record;
    record.path = full_path(found.path);
    record.last_written = found.node.last_written;
    read_values(found.node, record);
    ++keys_;
    values_ += record.values.size();
    return record;
}

}  // namespace tarnu
