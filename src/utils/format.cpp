#include "utils/format.h"

#include <cinttypes>
#include <cstdio>

namespace tarnu {

std::string dec(uint64_t value) { return std::to_string(value); }

std::string dec_signed(int64_t value) { return std::to_string(value); }

std::string hex(uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, value);
    return buffer;
}

std::string hex_padded(uint64_t value, int digits) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "0x%0*" PRIx64, digits, value);
    return buffer;
}

std::string byte_list(const uint8_t* bytes, size_t count) {
    std::string out = "[";
    for (size_t i = 0; i < count; ++i) {
        if (i) out += ", ";
        out += std::to_string(bytes[i]);
    }
    out += "]";
    return out;
}

}  // namespace tarnu
