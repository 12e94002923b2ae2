// JSON Lines and CSV: one row per value, and one per key without values.
#include "records/value_type.h"
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

// A JSON array of strings.
void append_json_strings(std::string& out, const std::vector<std::string>& strings) {
    out += '[';
    for (size_t i = 0; i < strings.size(); ++i) {
        if (i) out += ',';
        append_json_string(out, strings[i]);
    }
    out += ']';
}

// The decoded data as JSON: a string, a list of strings, a number or null.
void append_json_data(std::string& out, const ValueType type, Bytes bytes) {
    auto decoded = decode_value_data(type, bytes);
    if (!decoded.ok()) {
        out += "null";
        return;
    }
    const ValueData& data = decoded.value();
    switch (data.kind) {
        case ValueDataKind::String:
        case ValueDataKind::ExpandString:
            append_json_string(out, data.text);
            return;
        case ValueDataKind::MultiString:
            append_json_strings(out, data.strings);
            return;
        case ValueDataKind::Dword:
        case ValueDataKind::DwordBigEndian:
        case ValueDataKind::Qword:
            out += std::to_string(data.number);
            return;
        case ValueDataKind::None:
        case ValueDataKind::Binary:
        case ValueDataKind::Other:
            break;
    }
    out += "null";
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
        for (const RecordValue& value : key.values) {
            out += head;
            value_row_end(value, out);
        }
    }

protected:
    // The hive, the key's path and its last-written time, with what separates them from the rest of the row.
    virtual std::string row_head(const KeyRecord& key) const = 0;
    virtual void key_row_end(std::string& out) const = 0;
    virtual void value_row_end(const RecordValue& value, std::string& out) const = 0;
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

    void value_row_end(const RecordValue& value, std::string& out) const override {
        out += ",\"value\":";
        append_json_string(out, record_value_name(value.key));
        out += ",\"type\":\"";
        out += value.key.value_type.name();
        if (!value.readable) {
            out += "\",\"raw\":null,\"data\":null";
        } else {
            out += "\",\"raw\":\"";
            append_binary(out, value.data(), binary_);
            out += "\",\"data\":";
            append_json_data(out, value.key.value_type, value.data());
        }
        out += row_end_;
    }

    BinaryText binary_;
    std::string row_end_;
    std::string hive_;  // as JSON
};

// The decoded data as one CSV field: text as it is, numbers in decimal, a list of strings as its JSON array;
// empty for the other types and for data that does not decode.
void append_csv_data(std::string& out, const ValueType type, Bytes bytes) {
    auto decoded = decode_value_data(type, bytes);
    if (!decoded.ok()) return;
    const ValueData& data = decoded.value();
    switch (data.kind) {
        case ValueDataKind::String:
        case ValueDataKind::ExpandString:
            append_csv_field(out, data.text);
            return;
        case ValueDataKind::MultiString: {
            std::string list;
            append_json_strings(list, data.strings);
            append_csv_field(out, list);
            return;
        }
        case ValueDataKind::Dword:
        case ValueDataKind::DwordBigEndian:
        case ValueDataKind::Qword:
            out += std::to_string(data.number);
            return;
        case ValueDataKind::None:
        case ValueDataKind::Binary:
        case ValueDataKind::Other:
            return;
    }
}

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

    void value_row_end(const RecordValue& value, std::string& out) const override {
        out += ',';
        append_csv_field(out, record_value_name(value.key));
        out += ',';
        out += value.key.value_type.name();
        out += ',';
        if (value.readable) {
            append_binary(out, value.data(), binary_);
            out += ',';
            append_csv_data(out, value.key.value_type, value.data());
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
};

}  // namespace

std::unique_ptr<RowWriter> make_json_lines_writer(const ExportOptions& options) {
    return std::make_unique<JsonLinesWriter>(options);
}

std::unique_ptr<RowWriter> make_csv_writer(const ExportOptions& options) { return std::make_unique<CsvWriter>(options); }

}  // namespace tarnu
