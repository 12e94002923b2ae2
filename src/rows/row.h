// The row model of the exports and of `tarnu.records`: one `Row` per value of a key, one for a key without values,
// one for a recovered value that no recovered key lists, and (in records()) one per part that could not be read.
//
// The columns are listed once, in `kColumns`: each with its name, the rows that have it, what it holds and its
// kind, which says how every format spells it and its null. `cell` says where each column's value comes from in a
// row. A row is a plain struct of views and numbers: the writers (rows/row_writer.h) spell it, a row source
// (rows/row_source.h) fills it, and what it views lives in the source's `RowGroup`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "records/value_type.h"
#include "utils/bytes.h"
#include "utils/filetime.h"

namespace tarnu {

enum class Column : uint8_t {
    Hive, Key, LastWritten, Value, Type, Raw, Data, Deleted, PathComplete, Offset, Source, Error
};

// Which rows have a column: every export and records() (Rows), exports that hold recovered rows (Recovery), and
// records() (Records).
enum class ColumnSet : uint8_t { Rows, Recovery, Records };

// How the formats spell a column (JSON Lines / CSV / records()); null is JSON null, an empty CSV field and None.
enum class CellKind : uint8_t {
    Text,    // a string / the text as a field / str
    Time,    // ISO-8601 UTC with microseconds / the same text / a datetime in UTC
    Type,    // the type's name ("REG_SZ", "REG_UNKNOWN_0x0000001c") / the name / the type number
    Bytes,   // hex or base64 as a string / the same text / bytes
    Data,    // the decoded data: a string, a list of strings or a number, null for other types and data that does
             // not decode / text, a list as its JSON array, a number / str, list, int, or bytes for other types
    Flag,    // true or false / the same words / bool
    Number,  // in decimal / in decimal / int
};

// How a column's value varies: the same in every row of a source, the same in every row of a key, or by row. A
// writer may spell it once per source, or once per key.
enum class Varies : uint8_t { BySource, ByKey, ByRow };

struct ColumnSpec {
    Column column;
    std::string_view name;
    ColumnSet set;
    CellKind kind;
    Varies varies;
    std::string_view holds;
};

inline constexpr ColumnSpec kColumns[] = {
    {Column::Hive, "hive", ColumnSet::Rows, CellKind::Text, Varies::BySource,
     "the hive's name (its path as given); null without one"},
    {Column::Key, "key", ColumnSet::Rows, CellKind::Text, Varies::ByKey,
     "the key's path from the root key (\"\" for the root); null for a recovered value that no key lists"},
    {Column::LastWritten, "last_written", ColumnSet::Rows, CellKind::Time, Varies::ByKey,
     "the key's last-written time; null for 0 and past the year 9999"},
    {Column::Value, "value", ColumnSet::Rows, CellKind::Text, Varies::ByRow,
     "the value's name (\"\" for the default value of a live key); null in the row of a key without values"},
    {Column::Type, "type", ColumnSet::Rows, CellKind::Type, Varies::ByRow, "the value's type; null without a value"},
    {Column::Raw, "raw", ColumnSet::Rows, CellKind::Bytes, Varies::ByRow,
     "the value's data bytes; null without a value and when they cannot be read"},
    {Column::Data, "data", ColumnSet::Rows, CellKind::Data, Varies::ByRow, "the value's data decoded by its type"},
    {Column::Deleted, "deleted", ColumnSet::Recovery, CellKind::Flag, Varies::ByKey, "whether recovery found the row"},
    {Column::PathComplete, "path_complete", ColumnSet::Recovery, CellKind::Flag, Varies::ByKey,
     "whether a recovered key's path reaches the root; null in live rows and for values without a key"},
    {Column::Offset, "offset", ColumnSet::Recovery, CellKind::Number, Varies::ByRow,
     "the cell offset of the recovered value, or of the key in its row without values; null in live rows"},
    {Column::Source, "source", ColumnSet::Recovery, CellKind::Text, Varies::ByRow,
     "where recovery found the value, or the key in its row without values: \"free\" (a free cell), "
     "\"unreferenced\" (an allocated cell nothing references) or \"remnant\" (past the hive bins data); null in "
     "live rows"},
    {Column::Error, "error", ColumnSet::Records, CellKind::Text, Varies::ByRow,
     "what could not be read, in an error row (its key says where); null in every other row"},
};

inline constexpr size_t kColumnCount = std::size(kColumns);

// The table lists the columns in the order of `Column`, so that a column's entry is found by its number.
constexpr bool columns_in_order() {
    for (size_t i = 0; i < kColumnCount; ++i) {
        if (static_cast<size_t>(kColumns[i].column) != i) return false;
    }
    return true;
}
static_assert(columns_in_order());

constexpr const ColumnSpec& column_spec(Column column) { return kColumns[static_cast<size_t>(column)]; }

// The columns of `sets`, in table order; at most kColumnCount.
struct ColumnList {
    std::array<Column, kColumnCount> columns{};
    size_t size = 0;
    std::span<const Column> view() const { return std::span<const Column>(columns.data(), size); }
};
constexpr ColumnList columns_of(std::initializer_list<ColumnSet> sets) {
    ColumnList list;
    for (const ColumnSpec& spec : kColumns) {
        for (ColumnSet set : sets) {
            if (spec.set == set) list.columns[list.size++] = spec.column;
        }
    }
    return list;
}

// Calls `f.template operator()<C, I>()` for each column C of `kList` and its place I there, in order: a writer that
// knows its columns as it is compiled spells a row in one pass, each column's code made for it.
template <ColumnList kList, typename F>
constexpr void for_each_column(F&& f) {
    [&]<size_t... I>(std::index_sequence<I...>) {
        (f.template operator()<kList.columns[I], I>(), ...);
    }(std::make_index_sequence<kList.size>());
}

// The one rule for "no time": a FILETIME of 0 or past the year 9999 is shown as null (an empty field, 0 in the
// bodyfile, None in Python).
inline bool has_time(uint64_t filetime) { return filetime != 0 && filetime < kFirstFiletimePastYear9999; }

struct Row {
    std::optional<std::string_view> hive;
    std::optional<std::string_view> key;
    uint64_t last_written = 0;  // the FILETIME as stored; `has_time` says whether it is shown
    // The value's name, type and data: no name in the row of a key without values, no data when it cannot be read.
    std::optional<std::string_view> value;
    ValueType type{0};
    std::optional<Bytes> raw;
    bool deleted = false;
    std::optional<bool> path_complete;
    std::optional<uint32_t> offset;
    std::optional<std::string_view> source;
    std::optional<std::string_view> error;
    // The first row of its key (or the only row of a value without a key): a format of one line per key writes the
    // key there.
    bool first_of_key = true;
};

// One column's value in a row: which member holds it follows the column's kind; `null` says there is none.
struct Cell {
    bool null = true;
    std::string_view text;  // Text
    uint64_t number = 0;    // Time (the FILETIME), Number, Flag (0 or 1)
    ValueType type{0};      // Type, Data
    Bytes bytes;            // Bytes, Data
};

namespace detail {

inline Cell text_cell(const std::optional<std::string_view>& text) {
    Cell out;
    out.null = !text.has_value();
    if (text) out.text = *text;
    return out;
}

inline Cell number_cell(bool present, uint64_t number) {
    Cell out;
    out.null = !present;
    out.number = number;
    return out;
}

}  // namespace detail

// Where each column's value comes from.
inline Cell cell(const Row& row, Column column) {
    using detail::number_cell;
    using detail::text_cell;
    switch (column) {
        case Column::Hive: return text_cell(row.hive);
        case Column::Key: return text_cell(row.key);
        case Column::LastWritten: return number_cell(has_time(row.last_written), row.last_written);
        case Column::Value: return text_cell(row.value);
        case Column::Type: {
            Cell out = number_cell(row.value.has_value(), row.type.id);
            out.type = row.type;
            return out;
        }
        case Column::Raw:
        case Column::Data: {
            Cell out;
            out.null = !row.raw.has_value();
            out.type = row.type;
            if (row.raw) out.bytes = *row.raw;
            return out;
        }
        case Column::Deleted: return number_cell(true, row.deleted ? 1 : 0);
        case Column::PathComplete: return number_cell(row.path_complete.has_value(), row.path_complete.value_or(false));
        case Column::Offset: return number_cell(row.offset.has_value(), row.offset.value_or(0));
        case Column::Source: return text_cell(row.source);
        case Column::Error: return text_cell(row.error);
    }
    return Cell{};
}

}  // namespace tarnu
