#ifndef MONOTEST_REF_REDUCE_H
#define MONOTEST_REF_REDUCE_H

// Naive binary reduction: a cascade of per-pixel 2x steps.

#include <vector>

#include "ref_bitmap.h"

namespace monotest {

// Halves both sizes (truncating); a pixel is ON when at least threshold of its 2 x 2 block are.
RefBitmap reduce2_naive(const RefBitmap& src, int threshold);

// One 2x step per threshold, in order: two thresholds reduce by 4, three by 8, four by 16.
RefBitmap reduce_cascade_naive(const RefBitmap& src, const std::vector<int>& thresholds);

}  // namespace monotest

#endif
