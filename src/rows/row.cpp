#include "rows/row.h"

namespace tarnu {

ColumnList columns_of(std::initializer_list<ColumnSet> sets) {
    ColumnList list;
    for (const ColumnSpec& spec : kColumns) {
        for (ColumnSet set : sets) {
            if (spec.set == set) list.columns[list.size++] = spec.column;
        }
    }
    return list;
}

namespace {

Cell text_cell(const std::optional<std::string_view>& text) {
    Cell out;
    out.null = !text.has_value();
    if (text) out.text = *text;
    return out;
}

Cell number_cell(bool present, uint64_t number) {
    Cell out;
    out.null = !present;
    out.number = number;
    return out;
}

}  // namespace

Cell cell(const Row& row, Column column) {
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
        case Column::Error: return text_cell(row.error);
    }
    return Cell{};
}

}  // namespace tarnu
