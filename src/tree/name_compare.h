// Name comparison for keys and values, in one place.
//
// - Key names compare as the registry compares them: both sides upper-cased one UTF-16 code unit at a time with
//   the one-to-one Unicode mappings (`upcase_unit`); compressed names are Latin-1, so "é" stored in 8 bits and
//   "É" stored as UTF-16 are the same name. `WantedName` is a name prepared once for a lookup: it compares stored
//   names, and says when an "lh" hash, an "lf" hint or the stored name's length already proves that a stored name
//   differs, before the name is decoded.
// - Value names keep the rule of `RegistryKey.value`: their UTF-8 bytes match after folding A-Z onto a-z, and
//   nothing else folds (`value_names_match`).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "utils/bytes.h"

namespace tarnu {

// The simple (one-to-one) uppercase mapping of a UTF-16 code unit; the unit itself when it has none.
uint16_t upcase_unit(uint16_t unit);

class WantedName {
public:
    // `utf8` is the name as a caller gives it; an ill-formed byte counts as U+FFFD.
    explicit WantedName(std::string_view utf8);

    // True when `stored` (a decoded key name, UTF-8) equals this name as the registry compares names.
    bool matches(std::string_view stored) const;

    // False when the name hash of an "lh" entry proves the entry's key has another name. Hashes are only trusted
    // for names of ASCII characters, where every writer's case table agrees; for others the node decides.
    bool may_match_hash(uint32_t hash) const { return !ascii_ || hash == hash_; }

    // False when the hint of an "lf" entry (the first four characters of the stored name, as bytes, the first in
    // the lowest byte) proves the entry's key has another name. Only ASCII characters of the hint decide.
    bool may_match_hint(uint32_t hint) const;

    // False when the stored bytes of a name (8-bit when `compressed`, else UTF-16) prove, by their length alone, that
    // it decodes to another name: an 8-bit name holds one byte per character, a UTF-16 name two, and only U+0000
    // characters at the end (which decoding drops) may add to that. Looks at no more than four bytes; a UTF-16 name
    // with a byte-order mark is left to its decoded form.
    bool may_match_stored(Bytes stored, bool compressed) const;

private:
    std::vector<uint16_t> upper_;  // the name's UTF-16 code units, upper-cased
    bool ascii_ = true;
    uint32_t hash_ = 0;  // the "lh" hash of the name: h = 37 * h + unit over the upper-cased units
};

// True when the key name `stored` equals `wanted` as the registry compares names; for comparing a few names once,
// where preparing a WantedName for many comparisons is not worth it.
inline bool key_names_match(std::string_view stored, std::string_view wanted) {
    return WantedName(wanted).matches(stored);
}

// The value-name rule: equal length in UTF-8 bytes and equal bytes after folding A-Z onto a-z. Kept as it was
// first documented for `RegistryKey.value`, so that a lookup finds exactly what it always found.
bool value_names_match(std::string_view stored, std::string_view wanted);

}  // namespace tarnu
