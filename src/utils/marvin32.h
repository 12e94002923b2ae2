// Marvin32, the keyed 64-bit hash that guards the entries of new-format Windows transaction logs.
//
// The function is constexpr so that the published vectors are checked when the core compiles (marvin32.cpp).
// Words are assembled from single bytes, which the compiler turns into plain little-endian loads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utils/bytes.h"

namespace tarnu {

// The seed that the registry's log entries are hashed with.
inline constexpr uint64_t kLogEntryMarvinSeed = 0x82EF4D887A4E55C5;

namespace marvin32_detail {

constexpr uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

struct State {
    uint32_t lo, hi;
    constexpr void mix(uint32_t word) {
        lo += word;
        hi ^= lo;
        lo = rotl(lo, 20) + hi;
        hi = rotl(hi, 9) ^ lo;
        lo = rotl(lo, 27) + hi;
        hi = rotl(hi, 19);
    }
};

}  // namespace marvin32_detail

// The hash of `data` under `seed`: every whole little-endian word is mixed in, then the 0 to 3 bytes left with
// a 0x80 byte after them, then a zero word.
constexpr uint64_t marvin32(Bytes data, uint64_t seed = kLogEntryMarvinSeed) {
    marvin32_detail::State state{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
    const size_t whole = data.size() & ~size_t{3};
    for (size_t i = 0; i < whole; i += 4) {
        state.mix(uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 | uint32_t{data[i + 2]} << 16 |
                  uint32_t{data[i + 3]} << 24);
    }
    uint32_t tail = 0x80;
    for (size_t i = data.size(); i > whole; --i) tail = tail << 8 | data[i - 1];
    state.mix(tail);
    state.mix(0);
    return uint64_t{state.hi} << 32 | state.lo;
}

}  // namespace tarnu
