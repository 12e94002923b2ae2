// Encodings of the export formats, each appending to an output string: JSON strings, CSV fields (plain, and for
// spreadsheet programs), hexadecimal and base64 bytes, and UTF-8 text turned into UTF-16LE.
#pragma once

#include <string>
#include <string_view>

#include "utils/bytes.h"

namespace tarnu {

// `text` (UTF-8) as a JSON string in quotes: `"` and `\` escaped, control characters as \b \f \n \r \t or \u00XX,
// everything else as it is.
void append_json_string(std::string& out, std::string_view text);

// `text` as one CSV field: in double quotes, with each quote doubled, when it holds a comma, a quote, CR or LF;
// as it is otherwise.
void append_csv_field(std::string& out, std::string_view text);

// The most characters a spreadsheet cell holds, and the mark at the end of a cell cut to fit.
inline constexpr size_t kSpreadsheetCellLimit = 32767;
inline constexpr std::string_view kSpreadsheetCutMark = "\u2026[cut]";

// `text` (UTF-8, well formed) as one CSV field that a spreadsheet program reads as text: a leading `'` when it
// begins with a character that would start a formula (= + - @, tab, CR), and cut, where the cell would pass
// kSpreadsheetCellLimit characters, to end in kSpreadsheetCutMark within the limit; a cut never splits a character.
// Then quoted as append_csv_field quotes.
void append_spreadsheet_field(std::string& out, std::string_view text);

// Two lowercase hex digits per byte, nothing between them.
void append_hex(std::string& out, Bytes bytes);

// Standard base64 (RFC 4648) with padding.
void append_base64(std::string& out, Bytes bytes);

// UTF-8 text (well formed, as the hive decoders and this unit make it) as UTF-16LE bytes.
std::string utf16le_from_utf8(std::string_view text);

}  // namespace tarnu
