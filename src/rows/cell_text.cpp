#include "rows/cell_text.h"

#include <utility>

#include "decode/value_data.h"
#include "rows/text_encode.h"

namespace tarnu {

CellText::DataShape CellText::data_text(const Cell& cell) {
    text_.clear();
    auto decoded = decode_value_data(cell.type, cell.bytes);
    if (!decoded.ok()) return DataShape::Absent;
    const DecodedValue& data = decoded.value();
    switch (data.kind) {
        case ValueDataKind::String:
        case ValueDataKind::ExpandString:
            append_utf8(data.text, text_);
            return DataShape::Text;
        case ValueDataKind::MultiString: {
            text_ += '[';
            for_each_piece(data.text, [&](const StoredText& string) {
                if (text_.size() > 1) text_ += ',';
                piece_.clear();
                append_utf8(string, piece_);
                append_json_string(text_, piece_);
                return true;
            });
            text_ += ']';
            return DataShape::List;
        }
        case ValueDataKind::Dword:
        case ValueDataKind::DwordBigEndian:
        case ValueDataKind::Qword:
            text_ += std::to_string(data.number);
            return DataShape::Number;
        case ValueDataKind::None:
        case ValueDataKind::Binary:
        case ValueDataKind::Other:
            break;
    }
    return DataShape::Absent;
}

void CellText::append_binary(std::string& out, Bytes bytes) const {
    if (binary_ == BinaryText::Base64) {
        append_base64(out, bytes);
    } else {
        append_hex(out, bytes);
    }
}

CellText::CellText(BinaryText binary, bool spreadsheet) : binary_(binary), spreadsheet_(spreadsheet) {
    for (uint32_t id = 0; id < known_type_names_.size(); ++id) known_type_names_[id] = ValueType{id}.name();
}

std::string_view CellText::type_name(ValueType type) {
    if (type.known()) return known_type_names_[type.id];
    type_name_ = type.name();
    return type_name_;
}

template <CellKind Kind>
void CellText::append_plain(std::string& out, const Cell& cell) {
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
void CellText::json(std::string& out, const Cell& cell) {
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

void CellText::csv_header(std::string& out, std::span<const Column> columns) const {
    if (spreadsheet_) out += "\xEF\xBB\xBF";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i != 0) out += ',';
        out += column_spec(columns[i]).name;
    }
    out += "\r\n";
}

void CellText::csv_field(std::string& out, std::string_view text) const {
    if (spreadsheet_) {
        append_spreadsheet_field(out, text);
    } else {
        append_csv_field(out, text);
    }
}

template <CellKind Kind>
void CellText::csv(std::string& out, const Cell& cell) {
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

namespace {

template <Column C>
void json_cell(CellText& text, std::string& out, const Row& row) {
    text.json<column_spec(C).kind>(out, cell(row, C));
}

template <Column C>
void csv_cell(CellText& text, std::string& out, const Row& row) {
    text.csv<column_spec(C).kind>(out, cell(row, C));
}

template <size_t... I>
constexpr std::array<CellSpeller, kColumnCount> json_spellers(std::index_sequence<I...>) {
    return {&json_cell<static_cast<Column>(I)>...};
}

template <size_t... I>
constexpr std::array<CellSpeller, kColumnCount> csv_spellers(std::index_sequence<I...>) {
    return {&csv_cell<static_cast<Column>(I)>...};
}

constexpr auto kJsonSpellers = json_spellers(std::make_index_sequence<kColumnCount>());
constexpr auto kCsvSpellers = csv_spellers(std::make_index_sequence<kColumnCount>());

}  // namespace

CellSpeller json_speller(Column column) { return kJsonSpellers[static_cast<size_t>(column)]; }
CellSpeller csv_speller(Column column) { return kCsvSpellers[static_cast<size_t>(column)]; }

}  // namespace tarnu
