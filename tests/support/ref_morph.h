#ifndef MONOTEST_REF_MORPH_H
#define MONOTEST_REF_MORPH_H

// Naive binary morphology, pixel by pixel. An element is a grid of cells (0 free, 1 hit,
// 2 miss) with an origin; the cell at (col, row) stands for the offset (col - cx, row - cy).
// Pixels outside the image are OFF. Nothing here shares code with the libraries.

#include <cstdint>
#include <vector>

#include "ref_bitmap.h"

namespace monotest {

struct RefElement {
  int width = 0, height = 0, cx = 0, cy = 0;
  std::vector<uint8_t> cells;  // row after row
  uint8_t at(int col, int row) const { return cells[static_cast<size_t>(row) * width + col]; }
};

// p is ON when some hit finds the pixel at p - offset ON; no hit at all gives an empty image.
RefBitmap dilate_naive(const RefBitmap& src, const RefElement& e);
// p is ON when every hit finds p + offset ON and every miss finds it OFF; an element without
// hits or misses gives a full image. A single cell is taken at offset (0, 0).
RefBitmap erode_naive(const RefBitmap& src, const RefElement& e);
// One thinning pass: for each of the four directional hit-or-miss elements in turn, the pixels
// its erosion of the current image marks are removed.
RefBitmap thin8_naive(const RefBitmap& src);

}  // namespace monotest

#endif
