// Row sources: where rows (rows/row.h) come from, one key's rows at a time.
//
// - `LiveRows`: the walk of the live keys from a start key (rows/key_records.h), one row per value and one for a key
//   without values.
// - `RecoveredRows`: what recovery finds in the free cells (recovery/recovery.h), in cell-offset order as
//   `Hive.deleted()` gives it: a deleted key with one row per value its value list still names, or one row without
//   a value; a value that no recovered key lists in a row of its own with key null. Recovery runs at the first
//   call; it hands out one row at a time, each value's data read as its row is made, so that no more than one
//   value's data is held however many values name the same cells. The paths, value names and data of its rows count
//   against twice the image's size (tree/budget.h): past that, which only records that name the same cells or parents
//   over and over reach, rows have no path (not complete) and no data, with one problem said; the offset column still
//   says which record each row is.
//
// A source fills a `RowGroup` that the caller keeps in place while the rows are read. What could not be read becomes
// a `RecordProblem`, kept for the caller; counts say what was handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recovery/recovery.h"
#include "rows/key_records.h"
#include "rows/row.h"

namespace tarnu {

// The rows of one key and what they view: the key's path and values, or the message of an error row. It does not
// move: its rows view its own members.
struct RowGroup {
    KeyRecord key;
    std::string error;
    std::vector<Row> rows;

    RowGroup() = default;
    RowGroup(const RowGroup&) = delete;
    RowGroup& operator=(const RowGroup&) = delete;

    // The bytes of data its rows hold, and of data, path and value names together.
    size_t data_size() const;
    size_t held_size() const;
    // Makes it the one error row of `problem` (key null when `has_key` is false).
    void set_error(std::optional<std::string_view> hive, RecordProblem problem, bool has_key = true);
};

class RowSource {
public:
    explicit RowSource(std::optional<std::string> hive_name) : hive_name_(std::move(hive_name)) {}
    virtual ~RowSource() = default;
    RowSource(const RowSource&) = delete;
    RowSource& operator=(const RowSource&) = delete;

    // Fills `group` with the next rows: those of a key (the live walk), or one row (recovery); false once the
    // source is over. The rows of one key follow each other, the first marked `first_of_key`.
    virtual bool next(RowGroup& group) = 0;

    // What could not be read since the last call, in the order it was met.
    std::vector<RecordProblem> take_problems() { return std::exchange(problems_, {}); }
    bool has_problems() const { return !problems_.empty(); }
    // Keys and value rows handed out, and parts passed over, so far.
    size_t keys() const { return keys_; }
    size_t values() const { return values_; }
    size_t skipped() const { return skipped_; }

protected:
    std::optional<std::string_view> hive() const {
        return hive_name_ ? std::optional<std::string_view>(*hive_name_) : std::nullopt;
    }
    void add_problem(RecordProblem problem);
    // How a row names a value: as live rows do ("" for the default value), or by its stored name, as the rows of
    // recovery always have ("(default)" for the unnamed value).
    enum class ValueNames : uint8_t { Live, Stored };
    // The rows of `group.key.values`: `head` (the key's columns) alone when there are none, else one per value.
    void add_rows(RowGroup& group, const Row& head, ValueNames names);

    size_t keys_ = 0, values_ = 0;

private:
    std::optional<std::string> hive_name_;
    std::vector<RecordProblem> problems_;
    size_t skipped_ = 0;
};

class LiveRows : public RowSource {
public:
    // `hive` must outlive the source; `start_path` is the path of `start` from the root key.
    LiveRows(const Hive& hive, KeyNode start, std::string start_path, std::optional<std::string> hive_name);
    bool next(RowGroup& group) override;

private:
    KeyRecords walk_;
    // The key's columns, kept from key to key: only the key's own change, and a row made afresh for each key cost
    // more to clear than to fill.
    Row head_;
};

// A recovered key (`index` into Recovery::keys) or a value that no recovered key lists (into Recovery::values).
struct RecoveredItem {
    uint32_t offset;
    bool is_key;
    size_t index;
};

// The recovered keys and unlisted values, in cell-offset order.
std::vector<RecoveredItem> recovered_order(const Recovery& recovery);

class RecoveredRows : public RowSource {
public:
    // `hive` must outlive the source.
    RecoveredRows(const Hive& hive, std::optional<std::string> hive_name);
    bool next(RowGroup& group) override;

private:
    KeyValue read_value(const RecoveredValue& value, const std::string& path);

    // Takes `bytes` from what the rows may still hold; false, with the problem said once, when they do not fit.
    bool spend(uint64_t bytes);

    const Hive& hive_;
    uint64_t left_;  // of the budget
    bool spent_ = false;
    std::optional<Recovery> recovery_;
    std::vector<RecoveredItem> order_;
    size_t at_ = 0;     // the next item of `order_`
    size_t value_ = 0;  // the next value of the key at `at_`, once its first row is out
    PartialPath path_;  // of the key at `at_`
};

}  // namespace tarnu
