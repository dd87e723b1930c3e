#ifndef MONO_BYTEORDER_H
#define MONO_BYTEORDER_H

// Bitmaps are byte sequences, most significant bit first. Code that walks a row in 32-bit words
// reads and writes them big-endian through these helpers, so that pixel p of a word is bit 31 - p
// on every host; whole-word copy/AND/OR/XOR needs no swap, shifts and masks do.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mono {

inline constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

// The builtins compile to one instruction and keep the compiler from splitting loads that are
// combined afterwards into byte shuffles.
constexpr uint32_t bswap32(uint32_t v) { return __builtin_bswap32(v); }
constexpr uint16_t bswap16(uint16_t v) { return __builtin_bswap16(v); }

inline uint32_t load_be32(const void* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (!kHostBigEndian) v = bswap32(v);
  return v;
}
inline void store_be32(void* p, uint32_t v) {
  if constexpr (!kHostBigEndian) v = bswap32(v);
  std::memcpy(p, &v, 4);
}
inline uint64_t load_be64(const void* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (!kHostBigEndian) v = __builtin_bswap64(v);
  return v;
}
inline void store_be64(void* p, uint64_t v) {
  if constexpr (!kHostBigEndian) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
inline uint16_t load_be16(const void* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  if constexpr (!kHostBigEndian) v = bswap16(v);
  return v;
}
inline void store_be16(void* p, uint16_t v) {
  if constexpr (!kHostBigEndian) v = bswap16(v);
  std::memcpy(p, &v, 2);
}

// Serialised little-endian fields (zip, TIFF "II") are read byte by byte as well.
inline uint32_t load_le32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
inline void store_le32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v); b[1] = uint8_t(v >> 8); b[2] = uint8_t(v >> 16); b[3] = uint8_t(v >> 24);
}
inline uint16_t load_le16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}
inline void store_le16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v); b[1] = uint8_t(v >> 8);
}

// Masks in big-endian word order: the n leftmost (most significant) bits of a word.
constexpr uint32_t left_mask32(unsigned n) { return n == 0 ? 0u : n >= 32 ? ~0u : ~0u << (32 - n); }
// The n rightmost bits of a word.
constexpr uint32_t right_mask32(unsigned n) { return n >= 32 ? ~0u : (1u << n) - 1u; }

// Pixel access on MSB-first 1-bit rows.
inline int get_bit(const uint8_t* row, size_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void set_bit(uint8_t* row, size_t x, int v) {
  const uint8_t m = static_cast<uint8_t>(0x80u >> (x & 7));
  if (v) row[x >> 3] |= m; else row[x >> 3] &= static_cast<uint8_t>(~m);
}

// Pixel access at 1, 2, 4, 8 or 16 bits per pixel, MSB-first.
inline uint32_t get_pixel(const uint8_t* row, size_t x, unsigned depth) {
  if (depth == 16) return load_be16(row + 2 * x);
  if (depth == 8) return row[x];
  const size_t bit = x * depth;
  const unsigned shift = 8 - depth - static_cast<unsigned>(bit & 7);
  return (row[bit >> 3] >> shift) & ((1u << depth) - 1u);
}
inline void set_pixel(uint8_t* row, size_t x, unsigned depth, uint32_t v) {
  if (depth == 16) { store_be16(row + 2 * x, static_cast<uint16_t>(v)); return; }
  if (depth == 8) { row[x] = static_cast<uint8_t>(v); return; }
  const size_t bit = x * depth;
  const unsigned shift = 8 - depth - static_cast<unsigned>(bit & 7);
  const unsigned m = ((1u << depth) - 1u) << shift;
  row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~m) | ((v << shift) & m));
}

// Bytes of a tightly packed row of width pixels at depth bits.
constexpr size_t packed_row_bytes(size_t width, unsigned depth) { return (width * depth + 7) / 8; }

}  // namespace mono

#endif
