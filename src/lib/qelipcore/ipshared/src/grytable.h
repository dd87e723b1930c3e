#ifndef GRYTABLE_H
#define GRYTABLE_H

// Constant expansion tables of the depth conversions and the indexed-colour kernels, computed
// at compile time from their rules.

#include <array>
#include <cstdint>

namespace grytable_detail {

template <class T, T On, T Off>
constexpr std::array<std::array<T, 8>, 256> bits_table() {
  std::array<std::array<T, 8>, 256> t{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned j = 0; j < 8; ++j) t[b][j] = (b >> (7 - j) & 1) ? On : Off;
  return t;
}

// Entry n of Pixels one-bit pixels (the leftmost in the top bit of n): one lane of Bits bits
// per pixel, most significant first, all ones where the pixel is OFF and 0 where it is ON.
template <unsigned Pixels, unsigned Bits>
constexpr std::array<uint32_t, 1u << Pixels> off_lanes() {
  std::array<uint32_t, 1u << Pixels> t{};
  for (unsigned n = 0; n < (1u << Pixels); ++n)
    for (unsigned k = 0; k < Pixels; ++k)
      if (!(n >> (Pixels - 1 - k) & 1)) t[n] |= ((1u << Bits) - 1) << (32 - Bits * (k + 1));
  return t;
}

}  // namespace grytable_detail

// Entry b, byte (16-bit value) j: all ones where bit 7 - j of b is set, else 0; the invert
// tables the reverse.
inline constexpr auto resultBits = grytable_detail::bits_table<uint8_t, 0xFF, 0>();
inline constexpr auto invertResultBits = grytable_detail::bits_table<uint8_t, 0, 0xFF>();
inline constexpr auto resultBits16 = grytable_detail::bits_table<uint16_t, 0xFFFF, 0>();
inline constexpr auto invertResultBits16 = grytable_detail::bits_table<uint16_t, 0, 0xFFFF>();

inline constexpr auto binaryTo8bppTable = grytable_detail::off_lanes<4, 8>();
inline constexpr auto binaryTo4bppTable = grytable_detail::off_lanes<8, 4>();

static_assert(binaryTo8bppTable[0] == 0xFFFFFFFFu && binaryTo8bppTable[15] == 0 &&
              binaryTo8bppTable[8] == 0x00FFFFFFu);
static_assert(binaryTo4bppTable[0] == 0xFFFFFFFFu && binaryTo4bppTable[255] == 0 &&
              binaryTo4bppTable[128] == 0x0FFFFFFFu);

#endif
