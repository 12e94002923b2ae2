#include "utils/text.h"

#include <cstring>

namespace tarnu {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Length of the well-formed UTF-8 sequence at `i`, or 0 with `bad` set to the length of its maximal ill-formed
// subpart (always at least 1), following the well-formed byte ranges of the Unicode Standard.
size_t utf8_sequence(Bytes s, size_t i, size_t& bad) {
    const uint8_t b0 = s[i];
    if (b0 < 0x80) return 1;
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size() || s[i + k] < lo || s[i + k] > hi) {
            bad = k;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

// The `k`-th code unit of UTF-16 text in either byte order.
inline uint32_t utf16_unit(const uint8_t* s, size_t k, bool big_endian) {
    const uint8_t* p = s + 2 * k;
    return big_endian ? (uint32_t{p[0]} << 8 | p[1]) : (uint32_t{p[1]} << 8 | p[0]);
}

// True when no byte of `s` has a bit set that `mask` selects for its lane (its position modulo 8). The bytes are
// read eight at a time; masks that differ between even and odd lanes need `s` of even length. Most registry text
// is ASCII, and this scan decides the fast paths below.
bool no_bits(Bytes s, uint64_t mask) {
    const size_t n = s.size();
    uint64_t any = 0;
    if (n >= 8) {
        for (size_t i = 0; i + 8 <= n; i += 8) any |= le64(s.data() + i);
        // The last eight bytes, overlapping what was read; for an even length each byte keeps its lane's parity.
        any |= le64(s.data() + n - 8);
    } else {
        for (size_t k = 0; k < n; ++k) any |= uint64_t{s[k]} << (8 * k);
    }
    return (any & mask) == 0;
}

// True when every code unit of UTF-16 text `s` (of even length) is below 0x80.
bool utf16_is_ascii(Bytes s, bool big_endian) {
    return no_bits(s, big_endian ? 0x80FF80FF80FF80FFull : 0xFF80FF80FF80FF80ull);
}

// Calls `put(code point)` for each character of UTF-16 text `s` (of even length) in order; false, at the first lone
// surrogate, when the text is ill-formed.
template <typename Put>
bool each_code_point(Bytes s, bool big_endian, Put&& put) {
    const size_t units = s.size() / 2;
    for (size_t k = 0; k < units; ++k) {
        const uint32_t u = utf16_unit(s.data(), k, big_endian);
        if (u < 0xD800 || u > 0xDFFF) {
            put(u);
            continue;
        }
        const uint32_t low = u <= 0xDBFF && k + 1 < units ? utf16_unit(s.data(), k + 1, big_endian) : 0;
        if (low < 0xDC00 || low > 0xDFFF) return false;
        put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++k;
    }
    return true;
}


// Narrows UTF-16 text `s` whose code units are all below 0x80 into `p`, one byte per unit.
void narrow_ascii(Bytes s, bool big_endian, char* p) {
    const size_t units = s.size() / 2;
    const uint8_t* in = s.data();
    // Two loops with a fixed stride each, which the compiler turns into wide shuffles.
    if (big_endian) {
        for (size_t k = 0; k < units; ++k) p[k] = static_cast<char>(in[2 * k + 1]);
    } else {
        for (size_t k = 0; k < units; ++k) p[k] = static_cast<char>(in[2 * k]);
    }
}

// Writes the UTF-8 of UTF-16 text `s` at `p`, which has room for three bytes per code unit; returns the end of what
// it wrote, or nothing when the text is not well-formed.
char* code_points_to_utf8(Bytes s, bool big_endian, char* p) {
    auto put = [&p](uint32_t cp) {
        if (cp < 0x80) {
            *p++ = static_cast<char>(cp);
        } else if (cp < 0x800) {
            *p++ = static_cast<char>(0xC0 | (cp >> 6));
            *p++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *p++ = static_cast<char>(0xE0 | (cp >> 12));
            *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *p++ = static_cast<char>(0xF0 | (cp >> 18));
            *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    if (!each_code_point(s, big_endian, put)) return nullptr;
    return p;
}

// Strict UTF-16 decoding, appended to `out`; `big_endian` selects the byte order. The byte count is even. ASCII
// text is narrowed straight into place; other text is written into room for the longest form (three UTF-8 bytes per
// unit, four per surrogate pair) that is cut to what was written.
bool utf16_to_utf8(Bytes s, bool big_endian, std::string& out) {
    const size_t units = s.size() / 2;
    const size_t start = out.size();
    if (utf16_is_ascii(s, big_endian)) {
        out.resize(start + units);
        narrow_ascii(s, big_endian, out.data() + start);
        return true;
    }
    out.resize(start + 3 * units);
    char* const first = out.data();
    char* const end = code_points_to_utf8(s, big_endian, first + start);
    if (end == nullptr) {
        out.resize(start);
        return false;
    }
    out.resize(static_cast<size_t>(end - first));
    return true;
}

// The code units of `bytes` (of even length) after its byte-order mark, in the form the mark chooses.
StoredText after_mark(Bytes bytes) {
    using Form = StoredText::Form;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return StoredText{bytes.subspan(3), Form::Utf8};
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return StoredText{bytes.subspan(2), Form::Utf16Le};
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return StoredText{bytes.subspan(2), Form::Utf16Be};
    return StoredText{bytes, Form::Utf16Le};
}

// The text of `bytes` (of even length) after its byte-order mark, the U+0000 characters at the end left out; not
// yet checked. Those are the only characters left out, so checking or decoding what remains gives the same result,
// and fails on the same input, as decoding all and dropping them after.
StoredText unchecked_text(Bytes bytes) {
    const StoredText text = after_mark(bytes);
    const size_t unit = text.unit_size();
    size_t end = text.units.size();
    while (end >= unit && text.nul_at(end - unit)) end -= unit;
    // Made whole from its parts, not cut in place: a text cut in place and then copied out is written in parts and
    // read back whole, which waits for the parts to be written.
    return StoredText{text.units.first(end), text.form};
}

// The text of `bytes` (of even length) before the end that `end` names; nothing when it has none. Not yet checked.
std::optional<StoredText> text_before_end(Bytes bytes, TextEnd end) {
    StoredText text = after_mark(bytes);
    const size_t unit = text.unit_size();
    // A multi-string whose first string is empty ends at its start.
    bool after_nul = end == TextEnd::FirstEmptyString;
    for (size_t i = 0; i + unit <= text.units.size(); i += unit) {
        const bool nul = text.nul_at(i);
        if (nul && (end == TextEnd::FirstNul || after_nul)) {
            // A multi-string ends before the U+0000 that ends its last string.
            const size_t cut = end == TextEnd::FirstEmptyString && i > 0 ? i - unit : i;
            text.units = text.units.first(cut);
            return text;
        }
        after_nul = nul;
    }
    return std::nullopt;
}

bool well_formed(const StoredText& text) {
    if (text.form == StoredText::Form::Utf8) {
        for (size_t i = 0, bad = 0; i < text.units.size();) {
            const size_t n = utf8_sequence(text.units, i, bad);
            if (n == 0) return false;
            i += n;
        }
        return true;
    }
    const bool big_endian = text.form == StoredText::Form::Utf16Be;
    return utf16_is_ascii(text.units, big_endian) || each_code_point(text.units, big_endian, [](uint32_t) {});
}

// Appends the UTF-8 of `text`; false, with `out` as it was, when the text is not well-formed.
bool append_checked_utf8(const StoredText& text, std::string& out) {
    if (text.form != StoredText::Form::Utf8) return utf16_to_utf8(text.units, text.form == StoredText::Form::Utf16Be, out);
    if (!well_formed(text)) return false;
    out.append(reinterpret_cast<const char*>(text.units.data()), text.units.size());
    return true;
}

}  // namespace

void decode_compressed_name(Bytes bytes, std::string& out) {
    // Trailing zero bytes are the only source of trailing U+0000 characters: they are left out before decoding.
    size_t length = bytes.size();
    while (length > 0 && bytes[length - 1] == 0) --length;
    if (no_bits(bytes.first(length), 0x8080808080808080ull)) {
        out.assign(reinterpret_cast<const char*>(bytes.data()), length);
        return;
    }
    size_t high = 0;
    for (size_t i = 0; i < length; ++i) high += bytes[i] >> 7;
    out.resize(length + high);
    char* p = out.data();
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        if (b < 0x80) {
            *p++ = static_cast<char>(b);
        } else {
            *p++ = static_cast<char>(0xC0 | (b >> 6));
            *p++ = static_cast<char>(0x80 | (b & 0x3F));
        }
    }
}

std::string decode_compressed_name(Bytes bytes) {
    std::string out;
    decode_compressed_name(bytes, out);
    return out;
}

Status decode_utf16_string(Bytes bytes, std::optional<uint32_t> cell_offset, std::string& out) {
    out.clear();
    if (bytes.size() % 2 != 0 || !append_checked_utf8(unchecked_text(bytes), out)) {
        return HiveError::invalid_utf16(cell_offset);
    }
    return Ok{};
}

namespace {

// What `stored_text` gives when the text decodes: true with `out` set.
bool checked_text(Bytes bytes, TextCheck check, TextEnd end, StoredText& out) {
    if (bytes.size() % 2 == 0) {
        out = unchecked_text(bytes);
        if (check == TextCheck::LengthOnly || well_formed(out)) return true;
    }
    // Data that does not decode whole: the text before its end, when that decodes. An odd last byte is no part of
    // any code unit, so only the even part is searched.
    const std::optional<StoredText> before = text_before_end(bytes.first(bytes.size() & ~size_t{1}), end);
    if (!before || !well_formed(*before)) return false;
    out = *before;
    return true;
}

}  // namespace

Result<StoredText> stored_text(Bytes bytes, std::optional<uint32_t> cell_offset, TextCheck check, TextEnd end) {
    StoredText text;
    if (!checked_text(bytes, check, end, text)) return HiveError::invalid_utf16(cell_offset);
    return text;
}

Result<StoredText> stored_data_text(Bytes bytes, TextCheck check, TextEnd end) {
    StoredText text;
    if (!checked_text(bytes, check, end, text)) return HiveError::invalid_utf16(std::nullopt);
    return text;
}

void append_utf8(const StoredText& text, std::string& out) { append_checked_utf8(text, out); }

size_t utf8_into(const StoredText& text, char* out) {
    if (text.form == StoredText::Form::Utf8) {
        if (!well_formed(text) || text.units.empty()) return 0;
        std::memcpy(out, text.units.data(), text.units.size());
        return text.units.size();
    }
    const bool big_endian = text.form == StoredText::Form::Utf16Be;
    if (utf16_is_ascii(text.units, big_endian)) {
        narrow_ascii(text.units, big_endian, out);
        return text.units.size() / 2;
    }
    char* const end = code_points_to_utf8(text.units, big_endian, out);
    return end == nullptr ? 0 : static_cast<size_t>(end - out);
}

Result<std::string> decode_utf16_string(Bytes bytes, std::optional<uint32_t> cell_offset) {
    std::string out;
    TARNU_CHECK(decode_utf16_string(bytes, cell_offset, out));
    return out;
}

Status decode_record_name(Bytes cell, size_t fixed_size, uint16_t length, bool compressed, uint32_t cell_offset,
                          std::string& out) {
    const size_t end = fixed_size + length;
    if (end > cell.size()) return HiveError::truncated_data(cell_offset, end, cell.size());
    const Bytes name = cell.subspan(fixed_size, length);
    if (!compressed) return decode_utf16_string(name, cell_offset, out);
    decode_compressed_name(name, out);
    return Ok{};
}

std::string utf8_lossy(Bytes bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        size_t bad = 0;
        size_t n = utf8_sequence(bytes, i, bad);
        if (n == 0) {
            out += kReplacement;
            i += bad;
        } else {
            out.append(reinterpret_cast<const char*>(bytes.data() + i), n);
            i += n;
        }
    }
    return out;
}

Result<std::string> decode_utf16le(Bytes bytes, uint32_t cell_offset) {
    std::string out;
    if (bytes.size() % 2 != 0 || !utf16_to_utf8(bytes, false, out)) return HiveError::invalid_utf16(cell_offset);
    return out;
}

}  // namespace tarnu
