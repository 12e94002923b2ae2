// Number formatting for message texts: plain decimal, and lowercase hexadecimal with "0x" and no padding.
#pragma once

#include <cstdint>
#include <string>

namespace tarnu {

std::string dec(uint64_t value);
std::string dec_signed(int64_t value);
// "0x" then lowercase hex digits without leading zeros; zero is "0x0".
std::string hex(uint64_t value);
// "0x" then exactly `digits` lowercase hex digits.
std::string hex_padded(uint64_t value, int digits);
// Bytes as decimal numbers in brackets: "[108, 120]".
std::string byte_list(const uint8_t* bytes, size_t count);

}  // namespace tarnu
