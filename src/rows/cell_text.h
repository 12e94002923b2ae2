// How the text formats spell a cell (rows/row.h) by its column's kind: as a JSON value, or as a CSV field (plain or
// for spreadsheet programs). Decoded data is shown as text, a list of strings or a number, and not at all for the
// other types and for data that does not decode.
//
// A writer spells a row's columns through `CellSpeller`s, one function per column and format, each made for its
// column's kind.
#pragma once

#include <array>
#include <span>
#include <string>

#include "rows/row.h"
#include "rows/row_writer.h"

namespace tarnu {

class CellText {
public:
    CellText(BinaryText binary, bool spreadsheet);

    template <CellKind Kind>
    void json(std::string& out, const Cell& cell);
    template <CellKind Kind>
    void csv(std::string& out, const Cell& cell);

    // The header line of a CSV format with these columns, after the byte-order mark of a spreadsheet CSV.
    void csv_header(std::string& out, std::span<const Column> columns) const;
    // A CSV field of text, as this writer writes fields.
    void csv_field(std::string& out, std::string_view text) const;

private:
    enum class DataShape : uint8_t { Absent, Text, List, Number };
    // Decodes the cell's data into `text_`, in the shape it is shown in.
    DataShape data_text(const Cell& cell);
    // The text of a cell that is neither null nor data.
    template <CellKind Kind>
    void append_plain(std::string& out, const Cell& cell);
    void append_binary(std::string& out, Bytes bytes) const;
    // The name of `type`: made once for the known types.
    std::string_view type_name(ValueType type);

    BinaryText binary_;
    bool spreadsheet_;
    std::string text_, piece_;  // room for a cell's text, kept from cell to cell
    std::array<std::string, kRegQword + 1> known_type_names_;
    std::string type_name_;  // of an unknown type
};

// Appends the text of one column of `row` to `out`.
using CellSpeller = void (*)(CellText& text, std::string& out, const Row& row);
CellSpeller json_speller(Column column);
CellSpeller csv_speller(Column column);

}  // namespace tarnu
