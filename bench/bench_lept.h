#ifndef BENCH_LEPT_H
#define BENCH_LEPT_H

// Reference images for Leptonica: its 1-bit words are in host order, so pixels are set one by one.

#include <leptonica/allheaders.h>

#include "ref_bitmap.h"

namespace bench {

// Any bitmap with width, height and get(x, y).
template <typename Bitmap = monotest::RefBitmap>
inline PIX* to_pix(const Bitmap& bm) {
  PIX* pix = pixCreate(bm.width, bm.height, 1);
  l_uint32* data = pixGetData(pix);
  const int wpl = pixGetWpl(pix);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      if (bm.get(x, y)) SET_DATA_BIT(data + y * wpl, x);
  return pix;
}

}  // namespace bench

#endif
