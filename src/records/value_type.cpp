#include "records/value_type.h"

#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {

std::string ValueType::name() const {
    static constexpr const char* kNames[] = {
        "REG_NONE",      "REG_SZ",           "REG_EXPAND_SZ",
        "REG_BINARY",    "REG_DWORD",        "REG_DWORD_BIG_ENDIAN",
        "REG_LINK",      "REG_MULTI_SZ",     "REG_RESOURCE_LIST",
        "REG_FULL_RESOURCE_DESCRIPTOR",      "REG_RESOURCE_REQUIREMENTS_LIST",
        "REG_QWORD",
    };
    if (known()) return kNames[id];
    return "REG_UNKNOWN_" + hex_padded(id, 8);
}

Result<ValueData> decode_value_data(ValueType type, Bytes data) {
    ValueData out;
    TARNU_CHECK(decode_value_data(type, data, out));
    return out;
}

Status decode_value_data(ValueType type, Bytes data, ValueData& out) {
    if (data.empty()) return Ok{};
    auto need = [&](size_t count) -> Status {
        if (data.size() < count) return HiveError::truncated_data(std::nullopt, count, data.size());
        return Ok{};
    };
    switch (type.id) {
        case kRegNone:
            break;
        case kRegSz:
        case kRegExpandSz: {
            TARNU_CHECK(decode_utf16_string(data, std::nullopt, out.text));
            out.kind = type.id == kRegSz ? ValueDataKind::String : ValueDataKind::ExpandString;
            break;
        }
        case kRegBinary:
            out.kind = ValueDataKind::Binary;
            out.bytes.assign(data.begin(), data.end());
            break;
        case kRegDword:
            TARNU_CHECK(need(4));
            out.kind = ValueDataKind::Dword;
            out.number = le32(data, 0);
            break;
        case kRegDwordBigEndian:
            TARNU_CHECK(need(4));
            out.kind = ValueDataKind::DwordBigEndian;
            out.number = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
            break;
        case kRegMultiSz: {
            std::string all;
            TARNU_CHECK(decode_utf16_string(data, std::nullopt, all));
            out.kind = ValueDataKind::MultiString;
            size_t start = 0;
            while (start <= all.size()) {
                size_t end = all.find('\0', start);
                if (end == std::string::npos) end = all.size();
                if (end > start) out.strings.emplace_back(all, start, end - start);
                start = end + 1;
            }
            break;
        }
        case kRegQword:
            TARNU_CHECK(need(8));
            out.kind = ValueDataKind::Qword;
            out.number = le64(data, 0);
            break;
        default:
            out.kind = ValueDataKind::Other;
            out.bytes.assign(data.begin(), data.end());
            break;
    }
    return Ok{};
}

}  // namespace tarnu
