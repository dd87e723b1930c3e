#ifndef MONOTEST_REF_RASTEROP_H
#define MONOTEST_REF_RASTEROP_H

// A naive per-pixel raster operation over MSB-first buffers of 1, 2, 4, 8 or 16 bits per pixel,
// the oracle for the image core's word kernels. Nothing here shares code with the libraries.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace monotest {

// f(S, D) for the truth table t (bit 2*S + D of t is the result), applied to every bit.
uint32_t ref_rop(unsigned t, uint32_t s, uint32_t d, unsigned depth);

uint32_t ref_get_pixel(const uint8_t* buf, size_t bytesPerLine, long x, long y, unsigned depth);
void ref_set_pixel(uint8_t* buf, size_t bytesPerLine, long x, long y, unsigned depth, uint32_t v);

struct RefRasterOp {
  uint8_t* dst = nullptr;
  size_t dstBytesPerLine = 0;
  long dstX = 0, dstY = 0;  // buffer position of the rectangle's first pixel
  long width = 0, height = 0;
  unsigned depth = 1;
  unsigned truthTable = 12;
  const uint8_t* src = nullptr;  // null for a function that ignores the source
  size_t srcBytesPerLine = 0;
  long srcX = 0, srcY = 0;
  // Which pixels (i, j) of the rectangle take part; all when empty.
  std::function<bool(long i, long j)> keep;
};

// Every source pixel is read before any destination pixel is written, so source and
// destination may overlap: the result is that of an operation through a copy of the source.
void ref_raster_op(const RefRasterOp& op);

}  // namespace monotest

#endif
