#include "tree/name_compare.h"

namespace tarnu {
namespace {

constexpr uint16_t kReplacementUnit = 0xFFFD;

uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 0x20) : c; }

// Reads UTF-8 text as UTF-16 code units: characters past U+FFFF give two (a surrogate pair), and each byte that
// does not begin a well-formed sequence gives one U+FFFD.
class Utf16Reader {
public:
    explicit Utf16Reader(std::string_view text) : text_(text) {}

    bool done() const { return low_ == 0 && at_ >= text_.size(); }

    uint16_t next() {
        if (low_ != 0) {
            const uint16_t unit = low_;
            low_ = 0;
            return unit;
        }
        const uint8_t lead = byte(at_);
        if (lead < 0x80) {
            ++at_;
            return lead;
        }
        uint32_t cp = 0;
        const size_t length = sequence(cp);
        if (length == 0) {
            ++at_;
            return kReplacementUnit;
        }
        at_ += length;
        if (cp < 0x10000) return static_cast<uint16_t>(cp);
        cp -= 0x10000;
        low_ = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
        return static_cast<uint16_t>(0xD800 + (cp >> 10));
    }

private:
    uint8_t byte(size_t i) const { return static_cast<uint8_t>(text_[i]); }

    // The length of the well-formed multi-byte sequence at `at_` with its code point in `cp`, or 0.
    size_t sequence(uint32_t& cp) const {
        const uint8_t lead = byte(at_);
        size_t need;
        uint8_t lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
            cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            cp = lead & 0x0Fu;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            cp = lead & 0x07u;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            return 0;
        }
        for (size_t k = 1; k <= need; ++k) {
            if (at_ + k >= text_.size() || byte(at_ + k) < lo || byte(at_ + k) > hi) return 0;
            cp = (cp << 6) | (byte(at_ + k) & 0x3Fu);
            lo = 0x80;
            hi = 0xBF;
        }
        return need + 1;
    }

    std::string_view text_;
    size_t at_ = 0;
    uint16_t low_ = 0;  // the second half of a surrogate pair, still to be read
};

}  // namespace

WantedName::WantedName(std::string_view utf8) {
    upper_.reserve(utf8.size());
    for (Utf16Reader reader(utf8); !reader.done();) {
        const uint16_t unit = upcase_unit(reader.next());
        if (unit >= 0x80) ascii_ = false;
        hash_ = hash_ * 37 + unit;
        upper_.push_back(unit);
    }
}

bool WantedName::matches(std::string_view stored) const {
    Utf16Reader reader(stored);
    for (uint16_t unit : upper_) {
        if (reader.done() || upcase_unit(reader.next()) != unit) return false;
    }
    return reader.done();
}

bool WantedName::may_match_hint(uint32_t hint) const {
    // A zero first byte is what a writer stores for a name it cannot put in 8 bits: nothing to learn then.
    if (!ascii_ || (hint & 0xFF) == 0) return true;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t stored = static_cast<uint8_t>(hint >> (8 * i));
        // Past the wanted name's end the hint is zero-padded, unless the stored name goes on.
        if (i >= upper_.size()) return stored == 0;
        // The 8-bit form of a character past ASCII depends on the writer's code page.
        if (stored >= 0x80) continue;
        if (ascii_upper(stored) != upper_[i]) return false;
    }
    return true;
}

bool WantedName::may_match_stored(Bytes stored, bool compressed) const {
    const size_t units = upper_.size();
    if (compressed) {
        if (stored.size() < units || (units > 0 && stored[units - 1] == 0)) return false;
        return stored.size() == units || (stored[units] == 0 && stored.back() == 0);
    }
    const bool marked = (stored.size() >= 2 && ((stored[0] == 0xFF && stored[1] == 0xFE) ||
                                                (stored[0] == 0xFE && stored[1] == 0xFF))) ||
                        (stored.size() >= 3 && stored[0] == 0xEF && stored[1] == 0xBB && stored[2] == 0xBF);
    if (marked) return true;
    // An odd number of bytes never decodes.
    if (stored.size() % 2 != 0 || stored.size() < 2 * units) return false;
    auto nul_at = [&](size_t unit) { return (stored[2 * unit] | stored[2 * unit + 1]) == 0; };
    if (units > 0 && nul_at(units - 1)) return false;
    return stored.size() == 2 * units || (nul_at(units) && nul_at(stored.size() / 2 - 1));
}

bool value_names_match(std::string_view stored, std::string_view wanted) {
    if (stored.size() != wanted.size()) return false;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < stored.size(); ++i) {
        if (fold(stored[i]) != fold(wanted[i])) return false;
    }
    return true;
}

}  // namespace tarnu
