// Little-endian field reads and signature tests over read-only byte views.
//
// `Bytes` is a view (pointer and length) into memory someone else owns, typically the hive image. The readers
// take a position that the caller has already checked against the view's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <bit>
#include <span>

namespace tarnu {

using Bytes = std::span<const uint8_t>;

// The bytes of `v` in the other order, for the reads on big-endian machines (std::byteswap is C++23).
inline uint32_t byteswap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
inline uint64_t byteswap64(uint64_t v) {
    return (uint64_t{byteswap32(static_cast<uint32_t>(v))} << 32) | byteswap32(static_cast<uint32_t>(v >> 32));
}

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = byteswap32(v);
    return v;
}

inline uint64_t le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = byteswap64(v);
    return v;
}

inline uint16_t le16(Bytes b, size_t pos) { return le16(b.data() + pos); }
inline uint32_t le32(Bytes b, size_t pos) { return le32(b.data() + pos); }
inline uint64_t le64(Bytes b, size_t pos) { return le64(b.data() + pos); }

inline void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// True when `b` begins with the two signature characters.
inline bool has_signature(Bytes b, const char (&sig)[3]) {
    return b.size() >= 2 && b[0] == static_cast<uint8_t>(sig[0]) && b[1] == static_cast<uint8_t>(sig[1]);
}

// True when `b` begins with the four signature characters.
inline bool has_signature(Bytes b, const char (&sig)[5]) {
    return b.size() >= 4 && std::memcmp(b.data(), sig, 4) == 0;
}

}  // namespace tarnu
