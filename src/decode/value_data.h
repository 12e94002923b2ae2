// Value data decoded by its type, as views of the data bytes: nothing is copied, and nothing is converted.
//
// `decode_value_data` reads text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as `StoredText` (utils/text.h): checked
// well-formed, its byte-order mark and trailing U+0000 characters left out (and, for data that does not decode
// whole, what follows its terminator: a string's first U+0000, a multi-string's first empty string), to be turned
// into UTF-8 by
// `append_utf8` or into whatever else the consumer makes, piece by piece for a multi-string (`for_each_piece`).
// Numbers are read in the byte order of their type; REG_BINARY, REG_LINK, the resource lists and unknown types keep
// their bytes. Empty data is None whatever the type.
#pragma once

#include <cstdint>

#include "records/value_type.h"
#include "utils/bytes.h"
#include "utils/error.h"
#include "utils/text.h"

namespace tarnu {

enum class ValueDataKind : uint8_t { None, String, ExpandString, Binary, Dword, DwordBigEndian, MultiString, Qword, Other };

// One decoded value; which member holds the data depends on `kind`. The views are valid while the data is.
struct DecodedValue {
    ValueDataKind kind = ValueDataKind::None;
    StoredText text;      // String, ExpandString, MultiString (all of it: split it with `for_each_piece`)
    uint64_t number = 0;  // Dword, DwordBigEndian, Qword
    Bytes bytes;          // Binary, Other
};

// Decodes `data` by `type`. Text that is not well-formed, even up to its terminator, fails with InvalidUtf16 (under
// TextCheck::LengthOnly text of an even number of bytes is not checked: the caller's decoder refuses what is not
// well-formed, and the caller then decodes again under TextCheck::Full); a number with too few bytes fails
// with TruncatedData. Neither carries an offset; their texts show 0x0.
// Inline, so that a caller that makes objects of each value's data (records, rows) pays no call for numbers.
inline Result<DecodedValue> decode_value_data(ValueType type, Bytes data, TextCheck check = TextCheck::Full) {
    DecodedValue out;
    if (data.empty()) return out;
    switch (type.id) {
        case kRegNone:
            return out;
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz: {
            const TextEnd end = type.id == kRegMultiSz ? TextEnd::FirstEmptyString : TextEnd::FirstNul;
            TARNU_TRY(out.text, stored_data_text(data, check, end));
            out.kind = type.id == kRegSz         ? ValueDataKind::String
                       : type.id == kRegExpandSz ? ValueDataKind::ExpandString
                                                 : ValueDataKind::MultiString;
            return out;
        }
        case kRegDword:
        case kRegDwordBigEndian: {
            if (data.size() < 4) return HiveError::truncated_data(std::nullopt, 4, data.size());
            const uint32_t stored = le32(data, 0);
            out.kind = type.id == kRegDword ? ValueDataKind::Dword : ValueDataKind::DwordBigEndian;
            out.number = type.id == kRegDword ? stored : byteswap32(stored);
            return out;
        }
        case kRegQword:
            if (data.size() < 8) return HiveError::truncated_data(std::nullopt, 8, data.size());
            out.kind = ValueDataKind::Qword;
            out.number = le64(data, 0);
            return out;
        default:
            out.kind = type.id == kRegBinary ? ValueDataKind::Binary : ValueDataKind::Other;
            out.bytes = data;
            return out;
    }
}


}  // namespace tarnu
