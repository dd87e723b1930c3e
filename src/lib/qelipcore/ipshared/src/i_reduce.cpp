// Binary reduction entry points: one pass with a full-factor kernel for uniform thresholds 1
// or 4, otherwise a cascade of 2x and 4x steps through an unframed intermediate image.

#include "i_reduce.h"

#include <array>

#include "bintable.h"
#include "checked_size.h"
#include "ip_internal.h"
#include "ip_longops.h"
#include "ipcore.h"

namespace {

using FillSet = VltStatus (*)(IPState*, uint32_t*, uint32_t*, uint32_t*, uint32_t*);

// Byte offsets handed to a line kernel: the last destination word, the first source word under
// it, and the source word holding the last source pixel that counts (the source width cut to a
// multiple of the factor). unit is 4 for the 32-bit kernels and 8 for the wide ones.
struct Offsets {
  int32_t D, G, L;
};
Offsets offsets(int32_t factor, int32_t dstWidth, int32_t srcWidth, int32_t unit) {
  const int32_t bits = 8 * unit;
  const int32_t D = unit * ((dstWidth - 1) / bits);
  const int32_t counted = srcWidth - srcWidth % factor;
  const int32_t L = counted >= 1 ? unit * ((counted - 1) / bits) : -unit;
  return {D, factor * D, L};
}

struct LineKernels {
  IPReduceLineProc line;          // 2x or 4x kernel
  IPWordReducer reducer;          // 8x word reducer
  IPReduceLongLineProc longLine;  // the wide kernel standing for it
};

// A one-pass 2x, 4x or 8x reduction: builds the table set of the factor for the call.
VltStatus one_pass(IPState* state, int32_t factor, const LineKernels& k, uint8_t* dst,
                   int32_t dstWidth, int32_t dstHeight, int32_t dstBpl, const uint8_t* src,
                   int32_t srcWidth, int32_t srcBpl) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (dstWidth < 1 || dstHeight < 1) return VLT_OK;

  uint32_t unit = 4;
  if (VltStatus s = ip_checkImageAccess(state, src, static_cast<uint32_t>(srcBpl), dst,
                                        static_cast<uint32_t>(dstBpl), &unit))
    return s;
  if (unit != 4 && ip_longOpScaleLibLinked(state)) {
    const Offsets o = offsets(factor, dstWidth, srcWidth, 8);
    ip_initLongOps(state);
    for (int32_t y = 0; y < dstHeight; ++y)
      k.longLine(state, src + ptrdiff_t{factor} * y * srcBpl, srcWidth, srcBpl, dst + ptrdiff_t{y} * dstBpl,
                 o.D, o.G, o.L);
    ip_finishLongOps(state);
    return ip_clearRightFrameWord(state, dst, dstWidth, dstHeight, static_cast<uint32_t>(dstBpl), 1);
  }

  size_t tableBytes = 0;
  if (VltStatus s = i_getBinarizationTableSizes(state, factor, 1, 0, &tableBytes)) return IP_FAIL(state, s);
  std::array<uint32_t*, 4> t{};
  const auto release = [&] {
    for (uint32_t* p : t) ipcore::release(state, IP_SLOT_RECORDS, p);
  };
  for (uint32_t*& p : t) {
    p = static_cast<uint32_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, tableBytes));
    if (!p) {
      release();
      return IP_FAIL(state, VLT_ERR_NOMEM);
    }
  }
  const FillSet fill = factor == 2   ? i_fill2To1BinarizationTables
                       : factor == 4 ? i_fill4To1BinarizationTables
                                     : i_fillBinarizationTables;
  if (VltStatus s = fill(state, t[0], t[1], t[2], t[3])) {
    release();
    return IP_FAIL(state, s);
  }

  const Offsets o = offsets(factor, dstWidth, srcWidth, 4);
  for (int32_t y = 0; y < dstHeight; ++y) {
    const uint8_t* s = src + ptrdiff_t{factor} * y * srcBpl;
    uint8_t* d = dst + ptrdiff_t{y} * dstBpl;
    if (k.reducer)
      ip_reduce8Line(state, s, srcBpl, d, o.D, o.G, o.L, t[3], k.reducer);
    else
      k.line(state, s, srcBpl, d, o.D, o.G, o.L, t[3]);
  }
  const VltStatus s = ip_clearRightFrameWord(state, dst, dstWidth, dstHeight, static_cast<uint32_t>(dstBpl), 1);
  release();
  return s;
}

bool uniform(std::initializer_list<int32_t> thresholds) {
  const int32_t first = *thresholds.begin();
  if (first != 1 && first != 4) return false;
  for (int32_t t : thresholds)
    if (t != first) return false;
  return true;
}

// Runs first(intermediate) then second(intermediate) through an unframed intermediate image of
// k times the destination's size.
template <class First, class Second>
VltStatus cascade(IPState* state, int32_t k, int32_t dstWidth, int32_t dstHeight, First first, Second second) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (dstWidth < 1 || dstHeight < 1) return VLT_OK;
  int32_t width, height;
  size_t bytes;
  if (!mono::checked_mul(dstWidth, k, &width) || !mono::checked_mul(dstHeight, k, &height) ||
      !mono::checked_mul(size_t{4} * ((size_t(width) + 31) / 32), size_t(height), &bytes))
    return IP_FAIL(state, VLT_ERR_PARAM);
  const int32_t bpl = static_cast<int32_t>(4 * ((int64_t{width} + 31) / 32));
  auto* inter = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, bytes));
  if (!inter) return VLT_ERR_NOMEM;
  VltStatus s = first(inter, width, height, bpl);
  if (s == VLT_OK) s = second(inter, width, height, bpl);
  ipcore::release(state, IP_SLOT_RECORDS, inter);
  return s;
}

LineKernels kernels2(int32_t threshold) {
  switch (threshold) {
    case 1: return {ip_reduceT1Line, nullptr, ip_reduceT1LineLong};
    case 2: return {ip_reduceT2Line, nullptr, ip_reduceT2LineLong};
    case 3: return {ip_reduceT3Line, nullptr, ip_reduceT3LineLong};
    default: return {ip_reduceT4Line, nullptr, ip_reduceT4LineLong};
  }
}

// The interior of a framed buffer begins 32 lines down and 32 pixels (4 bytes) right.
template <class T>
T* interior(T* framed, int32_t bpl) {
  return framed + ptrdiff_t{32} * bpl + 4;
}

VltStatus report(IPState* state, VltStatus s) { return s == VLT_OK ? s : IP_FAIL(state, s); }

// Frames alone: there is no interior to write (and no interior pointer to form).
bool no_interior(int32_t framedWidth, int32_t framedHeight) { return framedWidth <= 64 || framedHeight <= 64; }

}  // namespace

extern "C" {

VltStatus i_ioReduce2(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                      int32_t dstBpl, const uint8_t* src, int32_t srcWidth, int32_t srcBpl,
                      int32_t threshold) {
  return one_pass(state, 2, kernels2(threshold), dst, dstWidth, dstHeight, dstBpl, src, srcWidth, srcBpl);
}

VltStatus i_ioReduce4(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                      int32_t dstBpl, const uint8_t* src, int32_t srcWidth, int32_t,
                      int32_t srcBpl, int32_t t1, int32_t t2) {
  if (uniform({t1, t2})) {
    const LineKernels k = t1 == 1 ? LineKernels{ip_reduce4T1Line, nullptr, ip_reduce4T1LineLong}
                                  : LineKernels{ip_reduce4T4Line, nullptr, ip_reduce4T4LineLong};
    return one_pass(state, 4, k, dst, dstWidth, dstHeight, dstBpl, src, srcWidth, srcBpl);
  }
  return cascade(
      state, 2, dstWidth, dstHeight,
      [&](uint8_t* inter, int32_t w, int32_t h, int32_t bpl) {
        return i_ioReduce2(state, inter, w, h, bpl, src, srcWidth, srcBpl, t1);
      },
      [&](uint8_t* inter, int32_t w, int32_t, int32_t bpl) {
        return i_ioReduce2(state, dst, dstWidth, dstHeight, dstBpl, inter, w, bpl, t2);
      });
}

VltStatus i_ioReduce8(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                      int32_t dstBpl, const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
                      int32_t srcBpl, int32_t t1, int32_t t2, int32_t t3) {
  if (uniform({t1, t2, t3})) {
    const LineKernels k = t1 == 1 ? LineKernels{nullptr, ip_reduce8xT1, ip_reduce8T1LineLong}
                                  : LineKernels{nullptr, ip_reduce8xT4, ip_reduce8T4LineLong};
    return one_pass(state, 8, k, dst, dstWidth, dstHeight, dstBpl, src, srcWidth, srcBpl);
  }
  return cascade(
      state, 2, dstWidth, dstHeight,
      [&](uint8_t* inter, int32_t w, int32_t h, int32_t bpl) {
        return i_ioReduce4(state, inter, w, h, bpl, src, srcWidth, srcHeight, srcBpl, t1, t2);
      },
      [&](uint8_t* inter, int32_t w, int32_t, int32_t bpl) {
        return i_ioReduce2(state, dst, dstWidth, dstHeight, dstBpl, inter, w, bpl, t3);
      });
}

VltStatus i_ioReduce16(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                       int32_t dstBpl, const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
                       int32_t srcBpl, int32_t t1, int32_t t2, int32_t t3, int32_t t4) {
  if (uniform({t1, t2, t3, t4})) {
    if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
    if (dstWidth < 1 || dstHeight < 1) return VLT_OK;
    const IPWordReducer reducer = t1 == 1 ? ip_reduce16xT1 : ip_reduce16xT4;
    const Offsets o = offsets(16, dstWidth, srcWidth, 4);
    for (int32_t y = 0; y < dstHeight; ++y)
      ip_reduce16Line(state, src + ptrdiff_t{16} * y * srcBpl, srcBpl, dst + ptrdiff_t{y} * dstBpl, o.D, o.G,
                      o.L, reducer);
    return ip_clearRightFrameWord(state, dst, dstWidth, dstHeight, static_cast<uint32_t>(dstBpl), 1);
  }
  return cascade(
      state, 4, dstWidth, dstHeight,
      [&](uint8_t* inter, int32_t w, int32_t h, int32_t bpl) {
        return i_ioReduce4(state, inter, w, h, bpl, src, srcWidth, srcHeight, srcBpl, t1, t2);
      },
      [&](uint8_t* inter, int32_t w, int32_t h, int32_t bpl) {
        return i_ioReduce4(state, dst, dstWidth, dstHeight, dstBpl, inter, w, h, bpl, t3, t4);
      });
}

VltStatus i_reduce2(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                    int32_t dstBpl, const uint8_t* src, int32_t srcBpl, int32_t threshold) {
  if (no_interior(dstFramedWidth, dstFramedHeight)) return VLT_OK;
  const int32_t w = dstFramedWidth - 64;
  return report(state, i_ioReduce2(state, interior(dst, dstBpl), w, dstFramedHeight - 64, dstBpl,
                                   interior(src, srcBpl), 2 * w, srcBpl, threshold));
}

VltStatus i_reduce4(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                    int32_t dstBpl, const uint8_t* src, int32_t srcFramedWidth,
                    int32_t srcFramedHeight, int32_t srcBpl, int32_t t1, int32_t t2) {
  if (no_interior(dstFramedWidth, dstFramedHeight)) return VLT_OK;
  return report(state, i_ioReduce4(state, interior(dst, dstBpl), dstFramedWidth - 64, dstFramedHeight - 64,
                                   dstBpl, interior(src, srcBpl), srcFramedWidth - 64,
                                   srcFramedHeight - 64, srcBpl, t1, t2));
}

VltStatus i_reduce8(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                    int32_t dstBpl, const uint8_t* src, int32_t srcFramedWidth,
                    int32_t srcFramedHeight, int32_t srcBpl, int32_t t1, int32_t t2, int32_t t3) {
  if (no_interior(dstFramedWidth, dstFramedHeight)) return VLT_OK;
  return report(state, i_ioReduce8(state, interior(dst, dstBpl), dstFramedWidth - 64, dstFramedHeight - 64,
                                   dstBpl, interior(src, srcBpl), srcFramedWidth - 64,
                                   srcFramedHeight - 64, srcBpl, t1, t2, t3));
}

VltStatus i_reduce16(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                     int32_t dstBpl, const uint8_t* src, int32_t srcFramedWidth,
                     int32_t srcFramedHeight, int32_t srcBpl, int32_t t1, int32_t t2, int32_t t3,
                     int32_t t4) {
  if (no_interior(dstFramedWidth, dstFramedHeight)) return VLT_OK;
  return report(state, i_ioReduce16(state, interior(dst, dstBpl), dstFramedWidth - 64, dstFramedHeight - 64,
                                    dstBpl, interior(src, srcBpl), srcFramedWidth - 64,
                                    srcFramedHeight - 64, srcBpl, t1, t2, t3, t4));
}

}  // extern "C"
