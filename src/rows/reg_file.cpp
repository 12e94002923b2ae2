// The text of a .reg file as regedit writes and imports it: the "Windows Registry Editor Version 5.00" header,
// then per key a line "[PREFIX\path]", its values and an empty line; CRLF line ends. The exporter turns the text
// into UTF-16LE; the byte-order mark is written here as U+FEFF.
//
// Values: the default value as @=, others as "name"= with \ and " escaped. A REG_SZ that is well-formed UTF-16
// text with one terminating NUL and no other NUL, CR or LF is written as "text"; a REG_DWORD of exactly four bytes
// as dword:%08x; everything else as its exact bytes, hex: for REG_BINARY and hex(N): with the type number in hex
// otherwise, in lines of at most 80 characters continued with "\" and a two-space indent. Recovered keys are
// written as live ones, under the path recovery gives them; a value without a key has no place in the file.
#include <cstdio>

#include "rows/row_writer.h"
#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {
namespace {

bool has_line_break(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// A line ends with a backslash once it would pass this column with one more "xx,".
constexpr size_t kRegLineWrapColumn = 76;

void append_reg_string(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// The characters on the current line of `out` (UTF-8 continuation bytes do not count).
size_t current_column(const std::string& out) {
    const size_t line_start = out.rfind('\n');
    size_t column = 0;
    for (size_t i = line_start == std::string::npos ? 0 : line_start + 1; i < out.size(); ++i) {
        if ((static_cast<unsigned char>(out[i]) & 0xC0) != 0x80) ++column;
    }
    return column;
}

void append_reg_hex(std::string& out, Bytes bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    size_t column = current_column(out);
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
        column += 2;
        if (i + 1 == bytes.size()) break;
        out += ',';
        ++column;
        if (column > kRegLineWrapColumn) {
            out += "\\\r\n  ";
            column = 2;
        }
    }
}

// The text of a REG_SZ that regedit's quoted form holds exactly, or nothing.
std::optional<std::string> exact_string(Bytes data) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) {
        return std::nullopt;
    }
    auto text = decode_utf16le(data.first(data.size() - 2), 0);
    if (!text.ok() || text->find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) return std::nullopt;
    return std::move(text).value();
}

void append_reg_value(std::string& out, const Row& row) {
    if (row.value->empty()) {
        out += '@';
    } else {
        append_reg_string(out, *row.value);
    }
    out += '=';
    const Bytes data = *row.raw;
    const uint32_t type = row.type.id;
    if (type == kRegSz) {
        if (auto text = exact_string(data)) {
            append_reg_string(out, *text);
            out += "\r\n";
            return;
        }
    }
    if (type == kRegDword && data.size() == 4) {
        char text[24];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(le32(data, 0)));
        out += text;
    } else {
        out += type == kRegBinary ? "hex:" : "hex(" + hex(type).substr(2) + "):";
        append_reg_hex(out, data);
    }
    out += "\r\n";
}

// A key's line at its first row, then a line per value, and an empty line once the key is over.
class RegWriter : public RowWriter {
public:
    explicit RegWriter(const ExportOptions& options) : prefix_(options.reg_prefix) {}

    void begin(std::string& out) override { out += "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"; }

    void row(const Row& row, std::string& out) override {
        if (row.first_of_key) {
            end(out);
            if (!row.key) return;
            if (has_line_break(*row.key)) {
                problems_.push_back({std::string(*row.key),
                                     "not written: a .reg file cannot hold a line break in a key's name"});
                return;
            }
            out += '[';
            out += prefix_;
            if (!prefix_.empty() && !row.key->empty()) out += '\\';
            out += *row.key;
            out += "]\r\n";
            in_key_ = true;
        }
        // A value whose data could not be read is left out: its bytes are unknown.
        if (!in_key_ || !row.value || !row.raw) return;
        if (has_line_break(*row.value)) {
            problems_.push_back({std::string(*row.key), "value '" + std::string(*row.value) +
                                                            "' not written: a .reg file cannot hold a line break "
                                                            "in a name"});
            return;
        }
        append_reg_value(out, row);
    }

    void end(std::string& out) override {
        if (in_key_) out += "\r\n";
        in_key_ = false;
    }

private:
    std::string prefix_;
    bool in_key_ = false;  // a key's line is written and its empty line is not
};

}  // namespace

std::unique_ptr<RowWriter> make_reg_writer(const ExportOptions& options) { return std::make_unique<RegWriter>(options); }

}  // namespace tarnu
