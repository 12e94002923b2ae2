// Value types: `ValueType` names the twelve known type ids ("REG_NONE" to "REG_QWORD") and keeps any other id as an
// unknown type. decode/value_data.h decodes a value's data by its type.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace tarnu
