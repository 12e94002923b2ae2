#include "rows/text_encode.h"

namespace tarnu {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    size_t run = 0;  // start of the bytes not yet copied
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text, run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\u00";
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 0xF];
        }
    }
    out.append(text, run, text.size() - run);
    out += '"';
}

void append_csv_field(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void append_hex(std::string& out, Bytes bytes) {
    // The data of a whole hive passes through here. The digits are computed rather than looked up, so that the
    // compiler turns the loop into vector instructions, many bytes at a time: more than twice as fast as a table of
    // digit pairs, whose one-byte loop's speed also depended on where the linker happened to place it.
    const size_t start = out.size();
    out.resize(start + 2 * bytes.size());
    char* p = out.data() + start;
    const uint8_t* in = bytes.data();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t high = in[i] >> 4, low = in[i] & 0xF;
        p[2 * i] = static_cast<char>(high + (high < 10 ? '0' : 'a' - 10));
        p[2 * i + 1] = static_cast<char>(low + (low < 10 ? '0' : 'a' - 10));
    }
}

void append_base64(std::string& out, Bytes bytes) {
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t n = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        out += kBase64Digits[n >> 18];
        out += kBase64Digits[(n >> 12) & 0x3F];
        out += kBase64Digits[(n >> 6) & 0x3F];
        out += kBase64Digits[n & 0x3F];
    }
    const size_t left = bytes.size() - i;
    if (left == 0) return;
    const uint32_t n = uint32_t{bytes[i]} << 16 | (left == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
    out += kBase64Digits[n >> 18];
    out += kBase64Digits[(n >> 12) & 0x3F];
    out += left == 2 ? kBase64Digits[(n >> 6) & 0x3F] : '=';
    out += '=';
}

std::string utf16le_from_utf8(std::string_view text) {
    std::string out;
    out.reserve(2 * text.size());
    auto unit = [&](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        const size_t length = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
        if (i + length > text.size()) break;  // cannot happen with well-formed input
        uint32_t cp = length == 1 ? b0 : length == 2 ? b0 & 0x1F : length == 3 ? b0 & 0x0F : b0 & 0x07;
        for (size_t k = 1; k < length; ++k) cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (cp < 0x10000) {
            unit(cp);
        } else {
            cp -= 0x10000;
            unit(0xD800 | (cp >> 10));
            unit(0xDC00 | (cp & 0x3FF));
        }
    }
    return out;
}

namespace {

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The length in bytes of the first `characters` characters of `text`, or npos when it has no more than that.
size_t prefix_of_characters(std::string_view text, size_t characters) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_continuation_byte(text[i])) continue;
        if (seen == characters) return i;
        ++seen;
    }
    return std::string_view::npos;
}

}  // namespace

void append_spreadsheet_field(std::string& out, std::string_view text) {
    static constexpr std::string_view kFormulaStarts("=+-@\t\r");
    static constexpr size_t kMarkCharacters = 6;  // "…[cut]"
    const bool inert = !text.empty() && kFormulaStarts.find(text[0]) != std::string_view::npos;
    const size_t room = kSpreadsheetCellLimit - (inert ? 1 : 0);  // for the characters of `text`
    const bool cut = prefix_of_characters(text, room) != std::string_view::npos;
    if (!inert && !cut) {
        append_csv_field(out, text);
        return;
    }
    std::string cell;
    if (inert) cell += '\'';
    if (cut) {
        cell += text.substr(0, prefix_of_characters(text, room - kMarkCharacters));
        cell += kSpreadsheetCutMark;
    } else {
        cell += text;
    }
    append_csv_field(out, cell);
}

}  // namespace tarnu
