#include "rows/cell_text.h"

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

void CellText::append_plain(std::string& out, const Cell& cell, CellKind kind) const {
    switch (kind) {
        case CellKind::Text: out += cell.text; break;
        case CellKind::Time: out += iso8601(cell.number); break;
        case CellKind::Type: out += cell.type.name(); break;
        case CellKind::Bytes:
            if (binary_ == BinaryText::Base64) {
                append_base64(out, cell.bytes);
            } else {
                append_hex(out, cell.bytes);
            }
            break;
        case CellKind::Flag: out += cell.number != 0 ? "true" : "false"; break;
        case CellKind::Number: out += std::to_string(cell.number); break;
        case CellKind::Data: break;
    }
}

void CellText::json(std::string& out, const Cell& cell, CellKind kind) {
    if (cell.null) {
        out += "null";
        return;
    }
    switch (kind) {
        case CellKind::Text: append_json_string(out, cell.text); return;
        case CellKind::Data: {
            // A string in quotes, a list or a number as it is, null for the rest.
            const DataShape shape = data_text(cell);
            if (shape == DataShape::Text) {
                append_json_string(out, text_);
            } else {
                out += shape == DataShape::Absent ? std::string_view("null") : std::string_view(text_);
            }
            return;
        }
        case CellKind::Flag:
        case CellKind::Number:
            append_plain(out, cell, kind);
            return;
        case CellKind::Time:
        case CellKind::Type:
        case CellKind::Bytes:
            // Text that needs no escapes.
            out += '"';
            append_plain(out, cell, kind);
            out += '"';
            return;
    }
}

void CellText::csv_field(std::string& out, std::string_view text) const {
    if (spreadsheet_) {
        append_spreadsheet_field(out, text);
    } else {
        append_csv_field(out, text);
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

void CellText::csv(std::string& out, const Cell& cell, CellKind kind) {
    if (cell.null) return;
    if (kind == CellKind::Text) {
        csv_field(out, cell.text);
        return;
    }
    if (kind == CellKind::Data) {
        // Text and lists as fields, a number as it is, nothing for the rest.
        const DataShape shape = data_text(cell);
        if (shape == DataShape::Text || shape == DataShape::List || (spreadsheet_ && shape == DataShape::Number)) {
            csv_field(out, text_);
        } else if (shape == DataShape::Number) {
            out += text_;
        }
        return;
    }
    if (!spreadsheet_) {
        // Times, type names, hex, base64, numbers and flags hold nothing that a CSV field quotes.
        append_plain(out, cell, kind);
        return;
    }
    text_.clear();
    append_plain(text_, cell, kind);
    csv_field(out, text_);
}

}  // namespace tarnu
