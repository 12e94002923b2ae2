// The published Marvin32 vectors, checked at compile time: a build of the core cannot carry a wrong hash.
#include "utils/marvin32.h"

#include <array>

namespace tarnu {
namespace {

constexpr std::array<uint8_t, 4> kAbcd{'a', 'b', 'c', 'd'};
constexpr std::array<uint8_t, 3> kThreeBytes{0x37, 0xF4, 0x95};
constexpr std::array<uint8_t, 32> kCounting = [] {
    std::array<uint8_t, 32> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}();
constexpr uint64_t kOtherSeed = 0x004FB61A001BDBCC;

static_assert(marvin32(Bytes()) == 0xB39EFCA403966E08);
static_assert(marvin32(Bytes(kAbcd)) == 0x20094FB11A6CD086);
static_assert(marvin32(Bytes(kCounting)) == 0xC64FEEE425C2E24C);
static_assert(marvin32(Bytes(), kOtherSeed) == 0x30ED35C100CD3C7D);
static_assert(marvin32(Bytes(kThreeBytes), kOtherSeed) == 0xF0B07C789B8CF7E8);

}  // namespace
}  // namespace tarnu
