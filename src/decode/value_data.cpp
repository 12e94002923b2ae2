#include "decode/value_data.h"

namespace tarnu {

Result<DecodedValue> decode_value_data(ValueType type, Bytes data, TextCheck check) {
    DecodedValue out;
    if (data.empty()) return out;
    switch (type.id) {
        case kRegNone:
            return out;
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz: {
            const TextEnd end = type.id == kRegMultiSz ? TextEnd::FirstEmptyString : TextEnd::FirstNul;
            TARNU_TRY(out.text, stored_text(data, std::nullopt, check, end));
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
