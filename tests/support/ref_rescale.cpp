#include "ref_rescale.h"

namespace monotest {

RefBitmap scale_nearest_naive(const RefBitmap& src, int dstW, int dstH) {
  RefBitmap out(dstW, dstH);
  for (int y = 0; y < dstH; ++y) {
    const auto sy = static_cast<int>(nearest_source(y, src.height, dstH));
    for (int x = 0; x < dstW; ++x) out.set(x, y, src.get(static_cast<int>(nearest_source(x, src.width, dstW)), sy));
  }
  return out;
}

}  // namespace monotest
