#ifndef MONOTEST_REF_RESCALE_H
#define MONOTEST_REF_RESCALE_H

// Naive nearest-pixel rescaling of a 1-bit image: destination pixel (x, y) is source pixel
// (x * sx >> 16, y * sy >> 16) with the 16.16 steps sx = (srcW << 16) / dstW and
// sy = (srcH << 16) / dstH, truncated. Nothing here shares code with the libraries.

#include <cstdint>

#include "ref_bitmap.h"

namespace monotest {

// The source column or line that destination column or line i samples.
inline int64_t nearest_source(int64_t i, int64_t srcSize, int64_t dstSize) {
  return i * ((srcSize << 16) / dstSize) >> 16;
}

RefBitmap scale_nearest_naive(const RefBitmap& src, int dstW, int dstH);

}  // namespace monotest

#endif
