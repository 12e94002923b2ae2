// A walk that hands out each key with its values and their data, for the exporters and `tarnu.records`.
//
// It walks with `KeyWalk` under `WalkErrors::Skip`, so a key or subkey list that cannot be read is passed over
// and the walk goes on; each such part, and each value list or value data that cannot be read, becomes a
// `RecordProblem` with the path of the key it belongs to. A caller that must stop at the first problem stops when
// one appears. Paths run from the hive's root key ("" for the root), whichever key the walk starts from. The names
// and data of every key's values count against one budget for the whole walk (tree/budget.h): in a real hive each
// value has cells of its own, so only keys that share value lists reach it, and the walk ends there with a problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/key_node.h"
#include "records/value_key.h"
#include "tree/budget.h"
#include "tree/value_reader.h"
#include "tree/walk.h"
#include "utils/bytes.h"

namespace tarnu {

struct Hive;

// A key's values, kept from key to key: `clear` forgets them but keeps their places, whose names' buffers the next
// key's values take over, so that a record filled again and again allocates only while its keys grow.
class KeyValues {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const KeyValue& operator[](size_t i) const { return values_[i]; }
    const KeyValue* begin() const { return values_.data(); }
    const KeyValue* end() const { return values_.data() + size_; }
    void clear() { size_ = 0; }
    // A place past the last value, holding what a value before left there.
    KeyValue& add() {
        if (size_ == values_.size()) values_.emplace_back();
        return values_[size_++];
    }
    void push_back(KeyValue value) { add() = std::move(value); }

private:
    std::vector<KeyValue> values_;
    size_t size_ = 0;
};

struct KeyRecord {
    std::string path;
    uint64_t last_written = 0;  // raw FILETIME
    KeyValues values;  // a value whose data could not be read is kept, not readable
};

struct RecordProblem {
    std::string path;     // of the key
    std::string message;  // what could not be read, and why
    std::optional<ErrorKind> kind = std::nullopt;  // of the error behind it; none for a problem of a format's own
};

// The name a record shows for a value: "" for the unnamed (default) value, whose key says "(default)".
std::string_view record_value_name(const ValueKey& value);

class KeyRecords {
public:
    // `hive` must outlive the walk; `start_path` is the path of `start` from the root key.
    KeyRecords(const Hive& hive, KeyNode start, std::string start_path);

    // The next key, or nothing once the walk is over.
    std::optional<KeyRecord> next();
    // The same into `record`, whose storage is used again; false once the walk is over.
    bool next(KeyRecord& record);

    // What could not be read since the last call, in the order it was met.
    std::vector<RecordProblem> take_problems() { return std::exchange(problems_, {}); }
    bool has_problems() const { return !problems_.empty(); }
    // Adds a problem of the caller's (a key that a format cannot hold); it counts as a part skipped.
    void add_problem(RecordProblem problem);

    size_t keys() const { return keys_; }
    size_t values() const { return values_; }
    // Parts passed over: subkey lists, keys, value lists and value data.
    size_t skipped() const { return skipped_; }

private:
    void full_path(const std::string& walk_path, std::string& out) const;
    void read_values(const KeyNode& node, KeyRecord& record);

    const Hive& hive_;
    KeyWalk walk_;
    ValueReader reader_;
    GatherBudget budget_;
    bool spent_ = false;  // the budget ran out: the walk is over
    std::string start_path_;
    std::vector<RecordProblem> problems_;
    size_t keys_ = 0, values_ = 0, skipped_ = 0;
};

}  // namespace tarnu
