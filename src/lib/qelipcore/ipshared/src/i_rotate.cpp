// Rotation without interpolation: argument checks, slopes, the line loop of the copy form and
// the ring of pending lines of the in-place form.

#include "i_rotate.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "fxpmath.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

constexpr int32_t kMaxAngle = 910;  // 9.998 degrees in 1/32768 turn

constexpr bool rot_depth(int32_t d) { return d == 1 || d == 2 || d == 4 || d == 8; }

VltStatus check_args(int32_t depth, int32_t angle, int32_t xRes, int32_t yRes) {
  if (!rot_depth(depth)) return VLT_ERR_DEPTH;
  if (angle < -kMaxAngle || angle > kMaxAngle) return VLT_ERR_ANGLE;
  const bool scaled = xRes - int64_t{yRes} > 1 || yRes - int64_t{xRes} > 1;
  if ((scaled && (xRes == 0 || yRes == 0)) || xRes < 0 || yRes < 0) return VLT_ERR_PARAM;
  return VLT_OK;
}

struct Slopes {
  int32_t sv, sh;
};

// Both slopes in 16.16 from the sine of the absolute angle, scaled by the resolution ratio
// when the resolutions differ by more than 1.
VltStatus slopes_for(int32_t absAngle, int32_t xRes, int32_t yRes, Slopes* out) {
  int32_t S = 0;
  if (VltStatus s = fract_sin(nullptr, absAngle, &S)) return s;
  const int64_t s0 = 2 * int64_t{S < 0 ? -S : S};
  int64_t sv = s0, sh = s0;
  if (xRes - int64_t{yRes} > 1 || yRes - int64_t{xRes} > 1) {
    sv = yRes * s0 / xRes;
    sh = xRes * s0 / yRes;
  }
  // Beyond a slope of 1 the line table cannot be made; the walk refuses it with 2.
  out->sv = static_cast<int32_t>(std::min<int64_t>(sv, INT32_MAX));
  out->sh = static_cast<int32_t>(std::min<int64_t>(sh, INT32_MAX));
  return VLT_OK;
}

int32_t angle_units(double radians) {
  const double v = radians / 6.2831852 * 32768.0;
  // Outside the accepted range (NaN included) any out-of-range value gives the same status.
  if (!(v > -(kMaxAngle + 1) && v < kMaxAngle + 1)) return kMaxAngle + 1;
  return static_cast<int32_t>(v);
}

bool line_fits(int32_t bpl, int32_t framedWidth, int32_t depth) {
  const int64_t b = bpl < 0 ? -int64_t{bpl} : bpl;
  return b >= 4 && b * 8 >= int64_t{framedWidth} * depth;
}

// The geometry of one turn, in the mapping's line numbering (bottom up for negative angles).
struct Turn {
  const uint8_t* src0;
  ptrdiff_t srcBpl;
  int32_t W, H, depth, lineBits;
  Slopes slopes;
  uint32_t background, pad;
  const uint32_t* table;
  NoInterpRotPlan plan;  // the table unrolled, when memory allowed (plain kernel only)
  bool planned;
  bool nice;

  // Lays destination line y down at dst; the line before it lies dstBpl bytes earlier.
  void line(IPState* state, int32_t y, int64_t hBits, int64_t V, uint8_t* dst, ptrdiff_t dstBpl) const {
    const auto word = static_cast<int32_t>(hBits >> 5);
    const auto bo = static_cast<int32_t>(hBits & 31);
    const auto L = static_cast<int32_t>(V + y);
    const auto sb = static_cast<int32_t>(srcBpl);
    if (!nice && planned)
      ip_rotateNoInterpLinePlanned(state, src0, sb, dst, lineBits, word, L, bo, &plan, background, pad, H);
    else if (!nice || y == 0)
      ip_rotateNoInterpLine(state, src0, sb, dst, lineBits, word, L, bo, table, background, pad, 0, 0, H);
    else if (depth == 1)
      ip_rotateNoInterpLineNiceBinary(state, src0, sb, dst, static_cast<int32_t>(dstBpl), lineBits,
                                      word, L, bo, table, 0, 0, H);
    else
      ip_rotateNoInterpLineNiceGray(state, src0, sb, dst, static_cast<int32_t>(dstBpl), lineBits,
                                    word, L, bo, table, depth, pad, 0, 0, H);
  }
};

// Per line: the source line under pixel 0 goes down by one, and a carry of the horizontal
// accumulator moves the source one pixel right.
struct Walk {
  int64_t hBits;
  uint32_t acc = 0;
  void next(const Turn& t) {
    acc += static_cast<uint32_t>(t.slopes.sh);
    if (acc >= 65536) {
      acc &= 0xFFFF;
      hBits += t.depth;
    }
  }
};

int64_t vertical_centre(const Turn& t) { return ((int64_t{t.W / 2} * t.slopes.sv) + 32768) >> 16; }
int64_t horizontal_centre(const Turn& t) { return ((int64_t{t.H / 2} * t.slopes.sh) + 32768) >> 16; }

// Lines above the line under pixel 0 that a destination line reads at most.
int64_t table_reach(const uint32_t* t, int32_t lineBits) {
  int64_t off = 0, lowest = 0;
  for (int32_t j = 0; j < (lineBits + 31) >> 5; ++j)
    for (;;) {
      const uint32_t m = *t++;
      if (m) lowest = std::min(lowest, off);
      --off;
      if (m & 1) {
        if (*t++) ++off;
        break;
      }
    }
  return -lowest;
}

VltStatus prepare(IPState* state, Turn* t, const uint8_t* first, int32_t srcBpl, int32_t W,
                  int32_t H, int32_t angle, int32_t depth, int32_t nice, const Slopes& slopes) {
  t->W = W;
  t->H = H;
  t->depth = depth;
  t->lineBits = W * depth;
  t->slopes = slopes;
  t->background = depth == 1 ? 0u : 0xFFFFFFFFu;
  t->pad = (t->lineBits % 32) ? t->background >> (t->lineBits % 32) : 0u;
  t->nice = nice != 0;
  t->src0 = first;
  t->srcBpl = srcBpl;
  if (angle < 0) {
    t->src0 = first + ptrdiff_t{H - 1} * srcBpl;
    t->srcBpl = -ptrdiff_t{srcBpl};
  }
  uint32_t* table = nullptr;
  const int32_t wordsPerLine = (srcBpl < 0 ? -srcBpl : srcBpl) / 4;
  if (VltStatus s = ip_makeNoInterpRotTable(state, slopes.sv, &table, W, wordsPerLine, depth, 0)) return s;
  t->table = table;
  // The plain kernel runs from the table unrolled; a table with more runs in a word than the
  // plan holds is walked as it is.
  if (!t->nice) {
    const VltStatus s = ip_makeNoInterpRotPlan(state, table, t->lineBits, &t->plan);
    if (s == VLT_ERR_NOMEM) {
      ipcore::release(state, IP_SLOT_RECORDS, table);
      t->table = nullptr;
      return s;
    }
    t->planned = s == VLT_OK;
  }
  return VLT_OK;
}

void release(IPState* state, Turn* t) {
  ip_freeNoInterpRotPlan(state, &t->plan);
  ipcore::release(state, IP_SLOT_RECORDS, const_cast<uint32_t*>(t->table));
  t->table = nullptr;
}

}  // namespace

extern "C" {

VltStatus i_rotateNoInterpolationFixedPoint(IPState* state, const uint8_t* srcAll, int32_t framedW,
                                            int32_t framedH, int32_t srcBpl, int32_t angle,
                                            uint8_t* dstAll, int32_t dstBpl, int32_t depth,
                                            int32_t nice, int32_t xRes, int32_t yRes) {
  if (VltStatus s = check_args(depth, angle, xRes, yRes)) return s;
  if (!state) return VLT_ERR_NOMEM;
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  if (W < 0 || H < 0) return VLT_ERR_DIMENSIONS;
  if (W == 0 || H == 0) return VLT_OK;
  if (!srcAll || !dstAll) return VLT_ERR_NULL;
  const size_t srcBytes = size_t(framedH) * size_t(srcBpl < 0 ? -int64_t{srcBpl} : srcBpl);
  const size_t dstBytes = size_t(framedH) * size_t(dstBpl < 0 ? -int64_t{dstBpl} : dstBpl);
  const auto s0 = reinterpret_cast<uintptr_t>(srcAll), d0 = reinterpret_cast<uintptr_t>(dstAll);
  if (srcBpl <= 0 || dstBpl <= 0 || !line_fits(srcBpl, framedW, depth) || !line_fits(dstBpl, framedW, depth) ||
      (s0 < d0 + dstBytes && d0 < s0 + srcBytes))
    return VLT_ERR_PARAM;
  const uint8_t* srcFirst = srcAll + IP_FRAME * size_t(srcBpl) + 4 * size_t(depth);
  uint8_t* dstFirst = dstAll + IP_FRAME * size_t(dstBpl) + 4 * size_t(depth);

  Slopes slopes{};
  if (VltStatus s = slopes_for(angle < 0 ? -angle : angle, xRes, yRes, &slopes)) return s;
  if (std::min(slopes.sv, slopes.sh) <= 2)
    return i_rasterOpFull(state, dstFirst, W, H, 0, 0, 0, 0, W, H, depth, uint32_t(dstBpl),
                          IP_ROP_COPY | IP_ROP_NOCLIP, srcFirst, W, H, 0, 0, 0, 0, depth, uint32_t(srcBpl));

  Turn t{};
  if (VltStatus s = prepare(state, &t, srcFirst, srcBpl, W, H, angle, depth, nice, slopes)) return s;
  uint8_t* dst0 = dstFirst;
  ptrdiff_t db = dstBpl;
  if (angle < 0) {
    dst0 = dstFirst + ptrdiff_t{H - 1} * dstBpl;
    db = -db;
  }
  const int64_t V = vertical_centre(t);
  Walk walk{-horizontal_centre(t) * depth};
  for (int32_t y = 0; y < H; ++y) {
    t.line(state, y, walk.hBits, V, dst0 + y * db, db);
    walk.next(t);
  }
  release(state, &t);
  return ip_clearRightFrame(state, dstFirst, W, H, uint32_t(dstBpl), depth);
}

VltStatus i_rotateNoInterpolationIPFixedPoint(IPState* state, uint8_t* imageAll, int32_t framedW,
                                              int32_t framedH, int32_t bpl, int32_t angle,
                                              int32_t depth, int32_t nice, int32_t xRes, int32_t yRes) {
  if (VltStatus s = check_args(depth, angle, xRes, yRes)) return s;
  if (!state) return VLT_ERR_NOMEM;
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  if (W < 0 || H < 0) return VLT_ERR_DIMENSIONS;
  if (W == 0 || H == 0) return VLT_OK;
  if (!imageAll) return VLT_ERR_NULL;
  if (bpl <= 0 || !line_fits(bpl, framedW, depth)) return VLT_ERR_PARAM;
  uint8_t* first = imageAll + IP_FRAME * size_t(bpl) + 4 * size_t(depth);

  Slopes slopes{};
  if (VltStatus s = slopes_for(angle < 0 ? -angle : angle, xRes, yRes, &slopes)) return s;
  if (std::min(slopes.sv, slopes.sh) <= 2) return VLT_OK;

  Turn t{};
  if (VltStatus s = prepare(state, &t, first, bpl, W, H, angle, depth, nice, slopes)) return s;
  // A line is written back only once no later line reads it: a later line reads up to the
  // table's reach above its own line (one more for the smoothing kernels), so the ring holds
  // at least that many lines beyond the usual H / 32 + W x slope.
  const int64_t V = vertical_centre(t);
  const int64_t usual = H / 32 + ((int64_t{W} * slopes.sv + 32768) >> 16);
  const int64_t M = std::max<int64_t>({usual, table_reach(t.table, t.lineBits) - V + 3, 2});
  size_t ringBytes = 0;
  uint8_t* ring = nullptr;
  if (mono::checked_mul<size_t>(size_t(M), size_t(bpl), &ringBytes))
    ring = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, ringBytes));
  if (!ring) {
    release(state, &t);
    return VLT_ERR_NOMEM;
  }

  uint8_t* out0 = first;
  ptrdiff_t ob = bpl;
  if (angle < 0) {
    out0 = first + ptrdiff_t{H - 1} * bpl;
    ob = -ob;
  }
  const size_t lineBytes = size_t((t.lineBits + 31) >> 5) * 4;
  const auto slot = [&](int64_t i) { return ring + size_t(i) * size_t(bpl); };
  Walk walk{-horizontal_centre(t) * depth};
  int64_t next = 1, written = 0;
  for (int32_t y = 0; y < H; ++y) {
    if (y >= M - 1) {
      if (next == M) {
        // The smoothing kernels read the line before from the slot before.
        std::memcpy(slot(0), slot(M - 1), lineBytes);
        next = 1;
      }
      std::memcpy(out0 + written++ * ob, slot(next), lineBytes);
    }
    t.line(state, y, walk.hBits, V, slot(next), bpl);
    walk.next(t);
    ++next;
  }
  // The oldest pending line: slot 1 when no line was written back yet.
  next = H < M - 1 || next == M ? 1 : next;
  for (int64_t n = std::min<int64_t>(M - 1, H); n > 0; --n) {
    std::memcpy(out0 + written++ * ob, slot(next), lineBytes);
    if (++next == M) next = 1;
  }
  ipcore::release(state, IP_SLOT_RECORDS, ring);
  release(state, &t);
  return ip_clearRightFrame(state, first, W, H, uint32_t(bpl), depth);
}

VltStatus i_rotateNoInterpolation(IPState* state, const uint8_t* srcAll, int32_t framedW,
                                  int32_t framedH, int32_t srcBpl, double angleRadians,
                                  uint8_t* dstAll, int32_t dstBpl, int32_t depth, int32_t nice,
                                  int32_t xRes, int32_t yRes) {
  if (VltStatus s = i_rotateNoInterpolationFixedPoint(state, srcAll, framedW, framedH, srcBpl,
                                                      angle_units(angleRadians), dstAll, dstBpl,
                                                      depth, nice, xRes, yRes))
    return IP_FAIL(state, s);
  return VLT_OK;
}

VltStatus i_rotateNoInterpolationIP(IPState* state, uint8_t* imageAll, int32_t framedW,
                                    int32_t framedH, int32_t bpl, double angleRadians,
                                    int32_t depth, int32_t nice, int32_t xRes, int32_t yRes) {
  if (VltStatus s = i_rotateNoInterpolationIPFixedPoint(state, imageAll, framedW, framedH, bpl,
                                                        angle_units(angleRadians), depth, nice,
                                                        xRes, yRes))
    return IP_FAIL(state, s);
  return VLT_OK;
}

}  // extern "C"
