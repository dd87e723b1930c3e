#ifndef TOK_REFERENCE_H
#define TOK_REFERENCE_H

// Naive per-pixel references for the classifier's bitmap kernels: table dilation read pixel by
// pixel, boundary counts, mismatch counts against a dilation, the 3x3 mismatch density and the
// pixel difference of two placed bitmaps.

#include <algorithm>
#include <cstdint>

#include "ref_bitmap.h"

namespace toktest {

inline int pixel(const monotest::RefBitmap& bm, int x, int y) {
  return x >= 0 && y >= 0 && x < bm.width && y < bm.height ? bm.get(x, y) : 0;
}

// The table index of the 13-pixel diamond around (x, y).
inline uint32_t diamond_index(const monotest::RefBitmap& bm, int x, int y) {
  static const int offsets[13][2] = {{-2, 0}, {-1, -1}, {-1, 0}, {-1, 1}, {0, -2}, {0, -1}, {0, 0},
                                     {0, 1},  {0, 2},   {1, -1}, {1, 0},  {1, 1},  {2, 0}};
  uint32_t index = 0;
  for (int b = 0; b < 13; ++b) index |= uint32_t(pixel(bm, x + offsets[b][1], y + offsets[b][0])) << b;
  return index;
}

// One pass: one column more on the right and one row more above and below.
inline monotest::RefBitmap table_dilate(const monotest::RefBitmap& src, const uint8_t* table) {
  monotest::RefBitmap out(src.width + 1, src.height + 2);
  for (int y = -1; y <= src.height; ++y)
    for (int x = 0; x <= src.width; ++x) out.set(x, y + 1, table[diamond_index(src, x, y)] & 1);
  return out;
}

inline int boundary_pixels(const monotest::RefBitmap& bm) {
  int n = 0;
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) {
      if (!bm.get(x, y)) continue;
      bool clear = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) clear = clear || !pixel(bm, x + dx, y + dy);
      n += clear;
    }
  return n;
}

// Pixels of b (placed at (dx, dy) in the dilation's model frame) outside the dilation, whose
// model rows start `rows_above` rows below its top.
inline int mismatches(const monotest::RefBitmap& dilation, int rows_above, const monotest::RefBitmap& b, int dx, int dy) {
  int n = 0;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.get(x, y) && !pixel(dilation, x + dx, y + dy + rows_above)) ++n;
  return n;
}

inline int density(const monotest::RefBitmap& dilation, int rows_above, const monotest::RefBitmap& b, int dx, int dy) {
  int best = 0;
  for (int y = 1; y + 1 < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      int n = 0;
      for (int v = y - 1; v <= y + 1; ++v)
        for (int u = x - 1; u <= x + 1; ++u)
          n += pixel(b, u, v) && !pixel(dilation, u + dx, v + dy + rows_above);
      best = std::max(best, n);
    }
  return best;
}

// Pixels set in exactly one of a and b, b placed at (dx, dy) in a's frame.
inline int difference(const monotest::RefBitmap& a, const monotest::RefBitmap& b, int dx, int dy) {
  int n = 0;
  const int x0 = std::min(0, dx), y0 = std::min(0, dy);
  const int x1 = std::max(a.width, b.width + dx), y1 = std::max(a.height, b.height + dy);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += pixel(a, x, y) != pixel(b, x - dx, y - dy);
  return n;
}

}  // namespace toktest

#endif
