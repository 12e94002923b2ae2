// Text decoders for names and string data. All results are UTF-8 `std::string`s owned by the caller, except
// `StoredText`, a checked view of stored text for a caller that turns it into something else.
//
// - `decode_compressed_name`: 8-bit names, one byte per character (Latin-1); never fails.
// - `decode_utf16_string`: UTF-16 text with an optional byte-order mark choosing UTF-8, UTF-16LE or UTF-16BE;
//   strict: any ill-formed input fails with InvalidUtf16 carrying the caller's cell offset (none for value data).
// - `stored_text`: value data as text, checked the same way, as a view of its code units: `append_utf8` (or
//   `utf8_into`, into room the caller made) turns it into UTF-8, and `for_each_piece` splits it at U+0000 as a
//   multi-string is split. Data that does not decode whole is read up to its terminator when the text before it
//   decodes.
// - `utf8_lossy`: bytes read as UTF-8, each ill-formed sequence replaced by U+FFFD.
// - `decode_utf16le`: UTF-16LE text exactly as stored (no byte-order mark, every U+0000 kept); strict like
//   `decode_utf16_string`.
// Both name decoders drop every U+0000 at the end of the text and keep those inside it.
// Decoders that fail leave nothing to rely on in the string they were writing into.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// Text as a value stores it: the code units after the byte-order mark, in the encoding form the mark chooses
// (UTF-16LE without one), the U+0000 characters at the end left out. Made by `stored_text`, it is well-formed
// (unless its caller asked only for the length to be checked).
struct StoredText {
    enum class Form : uint8_t { Utf8, Utf16Le, Utf16Be };
    Bytes units;
    Form form = Form::Utf16Le;

    size_t unit_size() const { return form == Form::Utf8 ? 1 : 2; }
    bool nul_at(size_t i) const { return form == Form::Utf8 ? units[i] == 0 : (units[i] | units[i + 1]) == 0; }
};

std::string decode_compressed_name(Bytes bytes);
Result<std::string> decode_utf16_string(Bytes bytes, std::optional<uint32_t> cell_offset);
// The same two into `out`, whose storage is reused: for callers that decode many names one after another.
void decode_compressed_name(Bytes bytes, std::string& out);
Status decode_utf16_string(Bytes bytes, std::optional<uint32_t> cell_offset, std::string& out);
// The name stored after the fixed part of a record (a key node, a value key): `length` bytes of `cell` from
// `fixed_size` on, 8-bit when `compressed`, else UTF-16; TruncatedData carrying `cell_offset` when the cell ends
// before the name does.
Status decode_record_name(Bytes cell, size_t fixed_size, uint16_t length, bool compressed, uint32_t cell_offset,
                          std::string& out);
// How much of stored text `stored_text` checks: all of it, or only its length, for a caller that turns it into text
// with a strict decoder of its own, one that refuses whatever is not well-formed (the interpreter's do), and so
// checks it in the same pass.
enum class TextCheck : uint8_t { Full, LengthOnly };

// Where the text of data that does not decode whole ends: at its first U+0000 (a string), or where its first empty
// string begins (a multi-string: a U+0000 at its start or right after another U+0000).
enum class TextEnd : uint8_t { FirstNul, FirstEmptyString };

// `bytes` as stored text. Data that decodes whole gives what `decode_utf16_string` gives, inner U+0000 kept. Data
// that does not (an odd number of bytes, a lone surrogate, an ill-formed UTF-8 sequence) gives the text before
// the end that `end` names, when its even part has one and the text before it is well-formed: Windows writes the
// terminator and may leave bytes after it, from an earlier value or from nowhere. Otherwise InvalidUtf16 carrying
// `cell_offset`. Under TextCheck::LengthOnly text of an even number of bytes is taken whole, unchecked.
Result<StoredText> stored_text(Bytes bytes, std::optional<uint32_t> cell_offset, TextCheck check = TextCheck::Full,
                               TextEnd end = TextEnd::FirstNul);
// The same for value data, whose errors carry no offset. Without the offset to pass, a caller that decodes a value
// for every row builds no optional for each call, whose parts, written one by one, the call would wait to read.
Result<StoredText> stored_data_text(Bytes bytes, TextCheck check, TextEnd end);
// Appends the UTF-8 of `text`.
void append_utf8(const StoredText& text, std::string& out);
// The most bytes of UTF-8 that `text` makes: three for each UTF-16 code unit (four for a surrogate pair), one for
// each byte of UTF-8.
inline size_t utf8_bound(const StoredText& text) {
    return text.form == StoredText::Form::Utf8 ? text.units.size() : text.units.size() / 2 * 3;
}
// Writes the UTF-8 of `text` at `out`, which has room for `utf8_bound(text)` bytes; returns the bytes written, none
// for text that is not well-formed (as `append_utf8` appends none).
size_t utf8_into(const StoredText& text, char* out);
// Calls `each(piece)` for every piece of `text` between U+0000 characters, in order, empty pieces left out: the
// strings of a multi-string. Stops early, returning false, when `each` returns false.
template <typename Each>
bool for_each_piece(const StoredText& text, Each&& each) {
    const uint8_t* units = text.units.data();
    const size_t end = text.units.size();
    // One loop per code unit size, so that the scan for U+0000 tests no form on the way.
    auto split = [&](auto unit_size) {
        constexpr size_t unit = decltype(unit_size)::value;
        size_t start = 0;
        for (size_t i = 0; i <= end; i += unit) {
            if (i < end && (unit == 1 ? units[i] : units[i] | units[i + unit - 1]) != 0) continue;
            if (i > start && !each(StoredText{text.units.subspan(start, i - start), text.form})) return false;
            start = i + unit;
        }
        return true;
    };
    if (text.form == StoredText::Form::Utf8) return split(std::integral_constant<size_t, 1>{});
    return split(std::integral_constant<size_t, 2>{});
}
std::string utf8_lossy(Bytes bytes);
Result<std::string> decode_utf16le(Bytes bytes, uint32_t cell_offset);

}  // namespace tarnu
