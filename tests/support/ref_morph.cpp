#include "ref_morph.h"

namespace monotest {

namespace {

bool on(const RefBitmap& bm, long x, long y) {
  return x >= 0 && y >= 0 && x < bm.width && y < bm.height && bm.get(static_cast<int>(x), static_cast<int>(y));
}

}  // namespace

RefBitmap dilate_naive(const RefBitmap& src, const RefElement& e) {
  RefBitmap out(src.width, src.height);
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x) {
      bool v = false;
      for (int row = 0; row < e.height && !v; ++row)
        for (int col = 0; col < e.width && !v; ++col)
          if (e.at(col, row) == 1) v = on(src, x - (col - e.cx), y - (row - e.cy));
      out.set(x, y, v);
    }
  return out;
}

RefBitmap erode_naive(const RefBitmap& src, const RefElement& e) {
  const bool single = e.width == 1 && e.height == 1;
  RefBitmap out(src.width, src.height);
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x) {
      bool v = true;
      for (int row = 0; row < e.height && v; ++row)
        for (int col = 0; col < e.width && v; ++col) {
          const uint8_t c = e.at(col, row);
          if (c != 1 && c != 2) continue;
          const long ox = single ? 0 : col - e.cx, oy = single ? 0 : row - e.cy;
          v = on(src, x + ox, y + oy) == (c == 1);
        }
      out.set(x, y, v);
    }
  return out;
}

RefBitmap thin8_naive(const RefBitmap& src) {
  // The four directions as listed, each a 3 x 3 element with its origin in the middle.
  static const uint8_t kCells[4][9] = {
      {2, 0, 1, 2, 0, 1, 2, 0, 0},
      {2, 2, 2, 0, 0, 0, 0, 1, 1},
      {0, 0, 2, 1, 0, 2, 1, 0, 2},
      {1, 1, 0, 0, 0, 0, 2, 2, 2},
  };
  RefBitmap cur = src;
  for (const auto& cells : kCells) {
    const RefElement e{3, 3, 1, 1, std::vector<uint8_t>(cells, cells + 9)};
    const RefBitmap marks = erode_naive(cur, e);
    for (int y = 0; y < cur.height; ++y)
      for (int x = 0; x < cur.width; ++x)
        if (marks.get(x, y)) cur.set(x, y, 0);
  }
  return cur;
}

}  // namespace monotest
