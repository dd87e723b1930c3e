// Indexed colour from two 1-bit images. Each output word comes from the matching 4 (8 bpp) or
// 8 (4 bpp) pixels of both inputs through a table that is 0 in the lanes of ON pixels and all
// ones elsewhere; a few logical operations then place the caller's values.

#include <cstdint>

#include "byteorder.h"
#include "grytable.h"
#include "i_depth.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

// Checks the arguments and makes the lane words; false (with status set) when they are unusable.
bool lane_words(IPState* state, int32_t depth, int32_t value, int32_t secondValue, uint32_t* v, uint32_t* v2,
                VltStatus* status) {
  if (depth != 4 && depth != 8) {
    *status = IP_FAIL(state, VLT_ERR_DEPTH);
    return false;
  }
  const auto a = static_cast<uint32_t>(value) & 0xFF, b = static_cast<uint32_t>(secondValue) & 0xFF;
  if (depth == 4 && ((a | b) & 0xF0)) {
    *status = IP_FAIL(state, VLT_ERR_PARAM);
    return false;
  }
  *v = depth == 8 ? a * 0x01010101u : a * 0x11111111u;
  *v2 = depth == 8 ? b * 0x01010101u : b * 0x11111111u;
  return true;
}

// Writes ceil(w / P) words, P = 4 (8 bpp) or 8 (4 bpp); the last is cut to the width.
template <class Combine>
void indexed_line(const uint8_t* a, const uint8_t* b, int32_t w, int32_t depth, uint8_t* dst, Combine combine) {
  if (w < 1) return;
  const int32_t perWord = 32 / depth;
  const int32_t words = (w + perWord - 1) / perWord;
  if (depth == 8) {
    for (int32_t i = 0; i < words; ++i) {
      const unsigned shift = (i & 1) ? 0 : 4;
      const uint32_t xa = binaryTo8bppTable[a[i >> 1] >> shift & 15];
      const uint32_t xb = binaryTo8bppTable[b[i >> 1] >> shift & 15];
      mono::store_be32(dst + 4 * i, combine(xa, xb));
    }
  } else {
    for (int32_t i = 0; i < words; ++i)
      mono::store_be32(dst + 4 * i, combine(binaryTo4bppTable[a[i]], binaryTo4bppTable[b[i]]));
  }
  if (const int32_t used = w % perWord) {
    uint8_t* last = dst + 4 * (words - 1);
    mono::store_be32(last, mono::load_be32(last) & mono::left_mask32(static_cast<unsigned>(used * depth)));
  }
}

template <class Kernel>
VltStatus indexed_image(IPState* state, const uint8_t* a, const uint8_t* b, int32_t W, int32_t H, int32_t bplA,
                        int32_t bplB, int32_t depth, int32_t dstBpl, uint8_t* dst, Kernel kernel) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1 || h < 1) return VLT_OK;
  const uint8_t* la = a + ptrdiff_t{IP_FRAME} * bplA + 4;
  const uint8_t* lb = b + ptrdiff_t{IP_FRAME} * bplB + 4;
  uint8_t* ld = dst + ptrdiff_t{IP_FRAME} * dstBpl + 4 * depth;
  for (int32_t y = 0; y < h; ++y, la += bplA, lb += bplB, ld += dstBpl)
    if (VltStatus s = kernel(la, lb, w, ld)) return IP_FAIL(state, s);
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus ip_indexedColorFromTwo1bppLines(IPState* state, const uint8_t* a, const uint8_t* b, int32_t w,
                                          int32_t depth, int32_t value, uint8_t* dst) {
  uint32_t v = 0, v2 = 0;
  VltStatus status = VLT_OK;
  if (!lane_words(state, depth, value, 0, &v, &v2, &status)) return status;
  indexed_line(a, b, w, depth, dst, [v](uint32_t xa, uint32_t xb) { return (xb | v) & xa; });
  return VLT_OK;
}

VltStatus ip_fourValIndexedColorFromTwo1bppLines(IPState* state, const uint8_t* a, const uint8_t* b, int32_t w,
                                                 int32_t depth, int32_t value, int32_t secondValue, uint8_t* dst) {
  uint32_t v = 0, v2 = 0;
  VltStatus status = VLT_OK;
  if (!lane_words(state, depth, value, secondValue, &v, &v2, &status)) return status;
  indexed_line(a, b, w, depth, dst,
               [v, v2](uint32_t xa, uint32_t xb) { return ((xb | v) & xa) | ~(xb | xa | ~v2); });
  return VLT_OK;
}

VltStatus i_indexedColorFromTwo1bppImages(IPState* state, const uint8_t* a, const uint8_t* b, int32_t W, int32_t H,
                                          int32_t bplA, int32_t bplB, int32_t depth, int32_t value, int32_t dstBpl,
                                          uint8_t* dst) {
  return indexed_image(state, a, b, W, H, bplA, bplB, depth, dstBpl, dst,
                       [&](const uint8_t* la, const uint8_t* lb, int32_t w, uint8_t* ld) {
                         return ip_indexedColorFromTwo1bppLines(state, la, lb, w, depth, value & 0xFF, ld);
                       });
}

VltStatus i_fourValIndexedColorFromTwo1bppImages(IPState* state, const uint8_t* a, const uint8_t* b, int32_t W,
                                                 int32_t H, int32_t bplA, int32_t bplB, int32_t depth,
                                                 int32_t value, int32_t secondValue, int32_t dstBpl, uint8_t* dst) {
  if ((secondValue & 0xFF) == 0)
    return i_indexedColorFromTwo1bppImages(state, a, b, W, H, bplA, bplB, depth, value, dstBpl, dst);
  return indexed_image(state, a, b, W, H, bplA, bplB, depth, dstBpl, dst,
                       [&](const uint8_t* la, const uint8_t* lb, int32_t w, uint8_t* ld) {
                         return ip_fourValIndexedColorFromTwo1bppLines(state, la, lb, w, depth, value & 0xFF,
                                                                       secondValue & 0xFF, ld);
                       });
}

}  // extern "C"
