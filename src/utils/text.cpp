#include "utils/text.h"

namespace tarnu {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

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

void drop_trailing_nuls(std::string& text) {
    while (!text.empty() && text.back() == '\0') text.pop_back();
}

// Strict UTF-16 decoding; `big_endian` selects the byte order. The byte count is even.
bool utf16_to_utf8(Bytes s, bool big_endian, std::string& out) {
    const size_t units = s.size() / 2;
    out.reserve(out.size() + units);
    auto unit = [&](size_t k) -> uint32_t {
        const uint8_t* p = s.data() + 2 * k;
        return big_endian ? (uint32_t{p[0]} << 8 | p[1]) : (uint32_t{p[1]} << 8 | p[0]);
    };
    for (size_t k = 0; k < units; ++k) {
        uint32_t u = unit(k);
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0xD800 || u > 0xDFFF) {
            append_utf8(out, u);
        } else if (u <= 0xDBFF && k + 1 < units) {
            uint32_t low = unit(k + 1);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
            ++k;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string decode_compressed_name(Bytes bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (uint8_t b : bytes) append_utf8(out, b);
    drop_trailing_nuls(out);
    return out;
}

Result<std::string> decode_utf16_string(Bytes bytes, uint32_t cell_offset) {
    if (bytes.size() % 2 != 0) return HiveError::invalid_utf16(cell_offset);
    std::string out;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        Bytes rest = bytes.subspan(3);
        for (size_t i = 0; i < rest.size();) {
            size_t bad = 0;
            size_t n = utf8_sequence(rest, i, bad);
            if (n == 0) return HiveError::invalid_utf16(cell_offset);
            i += n;
        }
        out.assign(reinterpret_cast<const char*>(rest.data()), rest.size());
    } else if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (!utf16_to_utf8(bytes.subspan(2), false, out)) return HiveError::invalid_utf16(cell_offset);
    } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        if (!utf16_to_utf8(bytes.subspan(2), true, out)) return HiveError::invalid_utf16(cell_offset);
    } else {
        if (!utf16_to_utf8(bytes, false, out)) return HiveError::invalid_utf16(cell_offset);
    }
    drop_trailing_nuls(out);
    return out;
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
