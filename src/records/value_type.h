// Value types and decoded value data.
//
// `ValueType` names the twelve known type ids ("REG_NONE" to "REG_QWORD") and keeps any other id as an unknown
// type. `decode_value_data` turns a value's data bytes into text, a list of texts, a number or bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

enum RegType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegLink = 6,
    kRegMultiSz = 7,
    kRegResourceList = 8,
    kRegFullResourceDescriptor = 9,
    kRegResourceRequirementsList = 10,
    kRegQword = 11,
};

struct ValueType {
    uint32_t id = 0;  // the stored id, for known and unknown types alike

    bool known() const { return id <= kRegQword; }
    // "REG_SZ" and so on; "REG_UNKNOWN_0x0000001c" for an unknown id.
    std::string name() const;
};

enum class ValueDataKind : uint8_t { None, String, ExpandString, Binary, Dword, DwordBigEndian, MultiString, Qword, Other };

struct ValueData {
    ValueDataKind kind = ValueDataKind::None;
    std::string text;                  // String, ExpandString (UTF-8)
    std::vector<std::string> strings;  // MultiString
    std::vector<uint8_t> bytes;        // Binary, Other
    uint64_t number = 0;               // Dword, DwordBigEndian, Qword
};

// Decodes `data` by `type`. Text fails with InvalidUtf16, a number with too few bytes with TruncatedData; neither
// carries an offset (their messages show 0x0).
Result<ValueData> decode_value_data(ValueType type, Bytes data);
// The same into `out`, which must hold a default ValueData: for a caller that keeps the result in place.
Status decode_value_data(ValueType type, Bytes data, ValueData& out);

}  // namespace tarnu
