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
