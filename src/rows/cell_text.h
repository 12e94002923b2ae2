// How the text formats spell a cell (rows/row.h) by its column's kind: as a JSON value, or as a CSV field (plain or
// for spreadsheet programs). Decoded data is shown as text, a list of strings or a number, and not at all for the
// other types and for data that does not decode.
//
// A writer spells a row's columns through `CellSpeller`s, one function per column and format, each made for its
// column's kind, or through `json`/`csv` of the column's kind straight away, when it knows its columns as it is
// compiled.
#pragma once

#include <array>
#include <span>
#include <string>

#include "rows/row.h"
#include "rows/row_writer.h"
#include "rows/text_encode.h"
#include "utils/filetime.h"

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

// The templates are defined here, so that a writer that spells a whole row in one pass has them inlined.
template <CellKind Kind>
inline void CellText::append_plain(std::string& out, const Cell& cell) {
    if constexpr (Kind == CellKind::Text) {
        out += cell.text;
    } else if constexpr (Kind == CellKind::Time) {
        out += iso8601(cell.number);
    } else if constexpr (Kind == CellKind::Type) {
        out += type_name(cell.type);
    } else if constexpr (Kind == CellKind::Bytes) {
        append_binary(out, cell.bytes);
    } else if constexpr (Kind == CellKind::Flag) {
        out += cell.number != 0 ? "true" : "false";
    } else if constexpr (Kind == CellKind::Number) {
        out += std::to_string(cell.number);
    }
}

template <CellKind Kind>
inline void CellText::json(std::string& out, const Cell& cell) {
    if (cell.null) {
        out += "null";
    } else if constexpr (Kind == CellKind::Text) {
        append_json_string(out, cell.text);
    } else if constexpr (Kind == CellKind::Data) {
        // A string in quotes, a list or a number as it is, null for the rest.
        const DataShape shape = data_text(cell);
        if (shape == DataShape::Text) {
            append_json_string(out, text_);
        } else {
            out += shape == DataShape::Absent ? std::string_view("null") : std::string_view(text_);
        }
    } else if constexpr (Kind == CellKind::Flag || Kind == CellKind::Number) {
        append_plain<Kind>(out, cell);
    } else {
        // Times, type names, hex and base64: text that needs no escapes.
        out += '"';
        append_plain<Kind>(out, cell);
        out += '"';
    }
}

template <CellKind Kind>
inline void CellText::csv(std::string& out, const Cell& cell) {
    if (cell.null) return;
    if constexpr (Kind == CellKind::Text) {
        csv_field(out, cell.text);
    } else if constexpr (Kind == CellKind::Data) {
        // Text and lists as fields, a number as it is, nothing for the rest.
        const DataShape shape = data_text(cell);
        if (shape == DataShape::Text || shape == DataShape::List || (spreadsheet_ && shape == DataShape::Number)) {
            csv_field(out, text_);
        } else if (shape == DataShape::Number) {
            out += text_;
        }
    } else if (!spreadsheet_) {
        // Times, type names, hex, base64, numbers and flags hold nothing that a CSV field quotes.
        append_plain<Kind>(out, cell);
    } else {
        text_.clear();
        append_plain<Kind>(text_, cell);
        csv_field(out, text_);
    }
}

// Appends the text of one column of `row` to `out`.
using CellSpeller = void (*)(CellText& text, std::string& out, const Row& row);
CellSpeller json_speller(Column column);
CellSpeller csv_speller(Column column);

}  // namespace tarnu
