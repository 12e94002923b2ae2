// JSON Lines and CSV: one row per value, and one per key without values.
#include "decode/value_data.h"
#include "rows/row_writer.h"
#include "rows/text_encode.h"
#include "utils/filetime.h"

namespace tarnu {
namespace {

// The ISO-8601 text of a key's last-written time; empty for 0 and for times past the year 9999.
std::string time_text(uint64_t filetime) {
    if (filetime == 0 || filetime >= kFirstFiletimePastYear9999) return {};
    return iso8601(filetime);
}

void append_binary(std::string& out, Bytes bytes, BinaryText binary) {
    if (binary == BinaryText::Base64) {
        append_base64(out, bytes);
    } else {
        append_hex(out, bytes);
    }
}

// How a row shows decoded data: as text (its UTF-8), as a list of strings (its JSON array), as a number (in
// decimal), or not at all (the other types, and data that does not decode).
enum class DataShape : uint8_t { Absent, Text, List, Number };

// Decodes `bytes` by `type` into `text`, in the shape it is shown in; `piece` is room for one string of a list.
DataShape data_text(ValueType type, Bytes bytes, std::string& text, std::string& piece) {
    text.clear();
    auto decoded = decode_value_data(type, bytes);
    if (!decoded.ok()) return DataShape::Absent;
    const DecodedValue& data = decoded.value();
    switch (data.kind) {
        case ValueDataKind::String:
        case ValueDataKind::ExpandString:
            append_utf8(data.text, text);
            return DataShape::Text;
        case ValueDataKind::MultiString: {
            text += '[';
            for_each_piece(data.text, [&](const StoredText& string) {
                if (text.size() > 1) text += ',';
                piece.clear();
                append_utf8(string, piece);
                append_json_string(text, piece);
                return true;
            });
            text += ']';
            return DataShape::List;
        }
        case ValueDataKind::Dword:
        case ValueDataKind::DwordBigEndian:
        case ValueDataKind::Qword:
            text += std::to_string(data.number);
            return DataShape::Number;
        case ValueDataKind::None:
        case ValueDataKind::Binary:
        case ValueDataKind::Other:
            break;
    }
    return DataShape::Absent;
}

// One row per value of a key, or one row for a key without values; every row of a key begins the same way, so
// that part is made once per key.
class ValueRowWriter : public RowWriter {
public:
    void key(const KeyRecord& key, std::string& out) final {
        const std::string head = row_head(key);
        if (key.values.empty()) {
            out += head;
            key_row_end(out);
            return;
        }
        for (const KeyValue& value : key.values) {
            out += head;
            value_row_end(value, out);
        }
    }

protected:
    // The hive, the key's path and its last-written time, with what separates them from the rest of the row.
    virtual std::string row_head(const KeyRecord& key) const = 0;
    virtual void key_row_end(std::string& out) const = 0;
    virtual void value_row_end(const KeyValue& value, std::string& out) const = 0;
};

class JsonLinesWriter : public ValueRowWriter {
public:
    explicit JsonLinesWriter(const ExportOptions& options)
        : binary_(options.binary),
          row_end_(options.deleted_columns ? ",\"deleted\":false,\"path_complete\":null,\"offset\":null}\n" : "}\n") {
        if (options.hive_name) {
            append_json_string(hive_, *options.hive_name);
        } else {
            hive_ = "null";
        }
    }

private:
    std::string row_head(const KeyRecord& key) const override {
        std::string head = "{\"hive\":" + hive_ + ",\"key\":";
        append_json_string(head, key.path);
        head += ",\"last_written\":";
        const std::string time = time_text(key.last_written);
        if (time.empty()) {
            head += "null";
        } else {
            append_json_string(head, time);
        }
        return head;
    }

    void key_row_end(std::string& out) const override {
        out += ",\"value\":null,\"type\":null,\"raw\":null,\"data\":null";
        out += row_end_;
    }

    void value_row_end(const KeyValue& value, std::string& out) const override {
        out += ",\"value\":";
        append_json_string(out, record_value_name(value.key));
        out += ",\"type\":\"";
        out += value.key.value_type.name();
        if (!value.readable) {
            out += "\",\"raw\":null,\"data\":null";
        } else {
            out += "\",\"raw\":\"";
            append_binary(out, value.data.view(), binary_);
            out += "\",\"data\":";
            // A string in quotes, a list or a number as it is, null for the rest.
            const DataShape shape = data_text(value.key.value_type, value.data.view(), text_, piece_);
            if (shape == DataShape::Text) {
                append_json_string(out, text_);
            } else {
                out += shape == DataShape::Absent ? std::string_view("null") : std::string_view(text_);
            }
        }
        out += row_end_;
    }

    BinaryText binary_;
    std::string row_end_;
    std::string hive_;  // as JSON
    mutable std::string text_, piece_;  // room for decoded data, kept from row to row
};

class CsvWriter : public ValueRowWriter {
public:
    explicit CsvWriter(const ExportOptions& options)
        : binary_(options.binary),
          header_(options.header),
          deleted_columns_(options.deleted_columns),
          row_end_(options.deleted_columns ? ",false,,\r\n" : "\r\n") {
        if (options.hive_name) append_csv_field(hive_, *options.hive_name);
    }

    void begin(std::string& out) override {
        if (!header_) return;
        out += "hive,key,last_written,value,type,raw,data";
        out += deleted_columns_ ? ",deleted,path_complete,offset\r\n" : "\r\n";
    }

private:
    std::string row_head(const KeyRecord& key) const override {
        std::string head = hive_ + ',';
        append_csv_field(head, key.path);
        head += ',';
        head += time_text(key.last_written);
        return head;
    }

    void key_row_end(std::string& out) const override {
        out += ",,,,";
        out += row_end_;
    }

    void value_row_end(const KeyValue& value, std::string& out) const override {
        out += ',';
        append_csv_field(out, record_value_name(value.key));
        out += ',';
        out += value.key.value_type.name();
        out += ',';
        if (value.readable) {
            append_binary(out, value.data.view(), binary_);
            out += ',';
            // Text and lists as fields, a number as it is, nothing for the rest.
            const DataShape shape = data_text(value.key.value_type, value.data.view(), text_, piece_);
            if (shape == DataShape::Text || shape == DataShape::List) {
                append_csv_field(out, text_);
            } else {
                out += text_;
            }
        } else {
            out += ',';
        }
        out += row_end_;
    }

    BinaryText binary_;
    bool header_;
    bool deleted_columns_;
    std::string row_end_;
    std::string hive_;  // as a CSV field
    mutable std::string text_, piece_;  // room for decoded data, kept from row to row
};

}  // namespace

std::unique_ptr<RowWriter> make_json_lines_writer(const ExportOptions& options) {
    return std::make_unique<JsonLinesWriter>(options);
}

std::unique_ptr<RowWriter> make_csv_writer(const ExportOptions& options) { return std::make_unique<CsvWriter>(options); }

}  // namespace tarnu
