#include "decode/fields.h"

#include <cstring>

namespace tarnu::decode {

const std::string* Fields::text(const char* name) const {
    for (const Field& field : items_) {
        if (std::strcmp(field.name, name) == 0) return std::get_if<std::string>(&field.value);
    }
    return nullptr;
}

const uint64_t* Fields::number(const char* name) const {
    for (const Field& field : items_) {
        if (std::strcmp(field.name, name) == 0) return std::get_if<uint64_t>(&field.value);
    }
    return nullptr;
}

}  // namespace tarnu::decode
