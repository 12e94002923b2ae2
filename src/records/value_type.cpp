#include "records/value_type.h"

#include "utils/format.h"

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

}  // namespace tarnu
