// Thresholding to fewer bits per pixel: each image entry point works out the line offsets once
// and hands every line to its kernel.

#include "i_thresh.h"

#include "ip_binset.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

struct LineOffsets {
  int32_t D, G, L;
};

// For an output word of P pixels from source pixels of srcDepth bits.
LineOffsets line_offsets(int32_t w, int32_t srcDepth, int32_t dstDepth) {
  const int32_t P = 32 / dstDepth;
  const int32_t last = (w - 1) / P;
  return {4 * last, last * (P * srcDepth / 8), 4 * ((w - 1) / (32 / srcDepth))};
}

template <class T>
T* first_pixel(T* framed, int32_t bpl, int32_t depth) {
  return framed + ptrdiff_t{IP_FRAME} * bpl + 4 * depth;
}

struct Variant {
  int32_t srcDepth, dstDepth;
  bool inverted;
  ipcore::FillSet fill;
  int tables;
};

VltStatus fill4To2(IPState* state, uint32_t* t, uint32_t*, uint32_t*, uint32_t*) {
  return i_fill4To2bppBinarizationTable(state, t);
}

// line(srcLine, dstLine, offsets, tables) runs one line's kernel.
template <class Line>
VltStatus threshold_image(IPState* state, const Variant& v, const uint8_t* src, int32_t W, int32_t H,
                          int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                          std::array<const uint32_t*, 4> given, Line line) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1) return VLT_OK;
  ipcore::BinarizationSet set(state);
  if (VltStatus s = set.acquire(given, v.srcDepth, v.dstDepth, v.inverted, v.fill, v.tables)) return s;
  const LineOffsets o = line_offsets(w, v.srcDepth, v.dstDepth);
  const uint8_t* s = first_pixel(src, srcBpl, v.srcDepth);
  uint8_t* const first = first_pixel(dst, dstBpl, v.dstDepth);
  uint8_t* d = first;
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) line(s, d, o, set);
  // Inverted tables turn the unread words past the width into ON pixels.
  if (v.inverted) return ip_clearRightFrame(state, first, w, h, static_cast<uint32_t>(dstBpl), 1);
  return VLT_OK;
}

template <void (*Kernel)(IPState*, const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, const uint32_t*,
                         const uint32_t*, const uint32_t*, const uint32_t*)>
VltStatus four_table(IPState* state, const Variant& v, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                     uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                     const uint32_t* t3) {
  return threshold_image(state, v, src, W, H, srcBpl, dst, dstBpl, {t0, t1, t2, t3},
                         [state](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& t) {
                           Kernel(state, s, d, o.D, o.G, o.L, t[0], t[1], t[2], t[3]);
                         });
}

constexpr Variant k8To1{8, 1, false, i_fillBinarizationTables, 4};
constexpr Variant k8To1I{8, 1, true, i_fillInvBinarizationTables, 4};
constexpr Variant k4To1{4, 1, false, i_fill4To1BinarizationTables, 4};
constexpr Variant k4To1I{4, 1, true, i_fill4To1InvBinarizationTables, 4};
constexpr Variant k2To1{2, 1, false, i_fill2To1BinarizationTables, 4};
constexpr Variant k2To1I{2, 1, true, i_fill2To1InvBinarizationTables, 4};
constexpr Variant k8To2{8, 2, false, i_fill2bppBinarizationTables, 4};
constexpr Variant k4To2{4, 2, false, fill4To2, 1};

}  // namespace

extern "C" {

VltStatus i_threshold(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                      int32_t dstBpl, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toBinary128Line>(state, k8To1, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}
VltStatus i_thresholdI(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                       int32_t dstBpl, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toBinary128Line>(state, k8To1I, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}
VltStatus i_threshold4To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                             uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toBinaryFrom4bppLine>(state, k4To1, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}
VltStatus i_thresholdI4To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                              uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                              const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toBinaryFrom4bppLine>(state, k4To1I, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}
VltStatus i_threshold2To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                             uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toBinaryFrom2bppLine>(state, k2To1, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}
VltStatus i_thresholdI2To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                              uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                              const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toBinaryFrom2bppLine>(state, k2To1I, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}
VltStatus i_thresholdTo2bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                            uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                            const uint32_t* t2, const uint32_t* t3) {
  return four_table<ip_toTwoBitsPerPixelLine>(state, k8To2, src, W, H, srcBpl, dst, dstBpl, t0, t1, t2, t3);
}

VltStatus i_threshold4To2bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                             uint8_t* dst, int32_t dstBpl, const uint32_t* t) {
  return threshold_image(state, k4To2, src, W, H, srcBpl, dst, dstBpl, {t, nullptr, nullptr, nullptr},
                         [state](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& set) {
                           ip_fourToTwoBitsPerPixelLine(state, s, d, o.D, o.G, o.L, set[0]);
                         });
}

VltStatus i_threshold8To4bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                             uint8_t* dst, int32_t dstBpl) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1 || h < 1) return VLT_OK;
  const LineOffsets o = line_offsets(w, 8, 4);
  const uint8_t* s = first_pixel(src, srcBpl, 8);
  uint8_t* d = first_pixel(dst, dstBpl, 4);
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) ip_threshold8To4Line(state, s, d, o.D, o.G, o.L);
  return VLT_OK;
}

}  // extern "C"
