#include "ref_reduce.h"

namespace monotest {

RefBitmap reduce2_naive(const RefBitmap& src, int threshold) {
  RefBitmap dst(src.width / 2, src.height / 2);
  for (int y = 0; y < dst.height; ++y)
    for (int x = 0; x < dst.width; ++x) {
      const int n = src.get(2 * x, 2 * y) + src.get(2 * x + 1, 2 * y) + src.get(2 * x, 2 * y + 1) +
                    src.get(2 * x + 1, 2 * y + 1);
      dst.set(x, y, n >= threshold);
    }
  return dst;
}

RefBitmap reduce_cascade_naive(const RefBitmap& src, const std::vector<int>& thresholds) {
  RefBitmap cur = src;
  for (int t : thresholds) cur = reduce2_naive(cur, t);
  return cur;
}

}  // namespace monotest
