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
Result<DecodedValue> decode_value_data(ValueType type, Bytes data, TextCheck check = TextCheck::Full);

}  // namespace tarnu
