#ifndef FAX_FUZZ_INPUT_H
#define FAX_FUZZ_INPUT_H

// The geometry header of the fax decoder fuzz inputs, shared with the seeding program.

#include <cstddef>
#include <cstdint>

inline constexpr size_t kFaxFuzzHeader = 4;
inline constexpr int32_t kFaxFuzzMaxWidth = 3000;
inline constexpr int32_t kFaxFuzzMaxLines = 64;

struct FaxFuzzGeometry {
  int32_t width, lines, stride, bitOffset, lastCol, endFlag;
};

// Bytes 0-1: width - 1 (big-endian, modulo the maximum); byte 2: lines - 1 (modulo the maximum);
// byte 3: bits 0-4 the destination bit offset, bit 5 the end flag, bit 6 a narrowed window,
// bit 7 a spare word per row.
inline bool fax_fuzz_geometry(const uint8_t* d, size_t size, FaxFuzzGeometry* g) {
  if (size < kFaxFuzzHeader) return false;
  g->width = 1 + ((d[0] << 8 | d[1]) % kFaxFuzzMaxWidth);
  g->lines = 1 + d[2] % kFaxFuzzMaxLines;
  g->bitOffset = d[3] & 31;
  g->endFlag = (d[3] >> 5) & 1;
  g->stride = (g->bitOffset + g->width + 31) / 32 + (d[3] >> 7);
  g->lastCol = g->bitOffset + g->width - 1 - ((d[3] & 0x40) ? g->width / 3 : 0);
  return true;
}

// The header for an image coded at width x lines with the end flag set.
inline void fax_fuzz_header(int32_t width, int32_t lines, uint8_t out[kFaxFuzzHeader]) {
  out[0] = static_cast<uint8_t>((width - 1) >> 8);
  out[1] = static_cast<uint8_t>(width - 1);
  out[2] = static_cast<uint8_t>(lines - 1);
  out[3] = 0x20;
}

#endif
