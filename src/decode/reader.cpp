#include "decode/reader.h"

#include <algorithm>

#include "utils/format.h"
#include "utils/text.h"

namespace tarnu::decode {

bool Reader::need(size_t at, size_t size, const char* what) {
    if (fits(at, size)) return true;
    note(at, byte_count(size) + " for " + what, byte_count(at < data_.size() ? data_.size() - at : 0));
    return false;
}

std::optional<uint8_t> Reader::u8(size_t at, const char* what) {
    if (!need(at, 1, what)) return std::nullopt;
    return data_[at];
}

std::optional<uint16_t> Reader::u16(size_t at, const char* what) {
    if (!need(at, 2, what)) return std::nullopt;
    return le16(data_, at);
}

std::optional<uint32_t> Reader::u32(size_t at, const char* what) {
    if (!need(at, 4, what)) return std::nullopt;
    return le32(data_, at);
}

std::optional<uint64_t> Reader::u64(size_t at, const char* what) {
    if (!need(at, 8, what)) return std::nullopt;
    return le64(data_, at);
}

Reader Reader::sub(size_t at, size_t size) const {
    const Bytes part = rest(at);
    return Reader(part.first(std::min(size, part.size())), *notes_, base_ + at);
}

void Reader::note(size_t at, std::string expected, std::string found) {
    notes_->push_back(Note{base_ + at, std::move(expected), std::move(found)});
}

size_t Reader::clamp_count(size_t claimed, size_t at, size_t size, size_t count_at, const char* what) {
    const size_t room = at < data_.size() ? (data_.size() - at) / size : 0;
    if (claimed <= room) return claimed;
    note(count_at, "room for " + dec(claimed) + " " + what, byte_count(at < data_.size() ? data_.size() - at : 0));
    return room;
}

std::string utf16_text(Bytes bytes) {
    const size_t units = bytes.size() / 2;
    std::string out;
    out.reserve(units);
    auto put = [&out](uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (size_t k = 0; k < units; ++k) {
        const uint32_t unit = le16(bytes, 2 * k);
        if (unit == 0) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < units) {
            const uint32_t low = le16(bytes, 2 * k + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                put(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        put(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
}

size_t utf16_string_end(Bytes bytes, size_t at) {
    for (size_t k = at; k + 2 <= bytes.size(); k += 2) {
        if (le16(bytes, k) == 0) return k + 2;
    }
    return at + (bytes.size() > at ? (bytes.size() - at) / 2 * 2 : 0);
}

std::string ascii_text(Bytes bytes) {
    const auto nul = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return decode_compressed_name(bytes.first(static_cast<size_t>(nul - bytes.begin())));
}

std::string hex_head(Bytes bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < std::min(count, bytes.size()); ++i) {
        if (i) out += ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

std::string byte_count(size_t count) { return dec(count) + (count == 1 ? " byte" : " bytes"); }

}  // namespace tarnu::decode
