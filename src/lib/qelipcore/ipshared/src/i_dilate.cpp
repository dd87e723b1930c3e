// Dilation and erosion as sequences of shifted whole-image raster operations.

#include "i_dilate.h"

#include <algorithm>
#include <cstdint>

#include "checked_size.h"
#include "ip_internal.h"
#include "ip_longops.h"
#include "ipcore.h"

namespace {

enum class Morph { dilate, erode };

constexpr uint8_t kHit = 1, kMiss = 2;

// One image area: its first pixel and stride.
struct Area {
  const uint8_t* first;
  uint32_t bpl;
};

struct Job {
  IPState* state;
  uint8_t* dst;  // first image pixel
  uint32_t dstBpl;
  Area src;
  int32_t W, H;

  VltStatus rop(RasterOpCode op, int64_t x, int64_t y, int64_t w, int64_t h, int64_t sx = 0,
                int64_t sy = 0) const {
    if (w < 1 || h < 1) return VLT_OK;
    const bool reads = op != IP_ROP_CLEAR && op != IP_ROP_SET;
    return i_rasterOpFull(state, dst, W, H, 0, 0, static_cast<int32_t>(x), static_cast<int32_t>(y),
                          static_cast<int32_t>(w), static_cast<int32_t>(h), 1, dstBpl,
                          op | IP_ROP_NOCLIP, reads ? src.first : nullptr, W, H,
                          static_cast<int32_t>(sx), static_cast<int32_t>(sy), 0, 0, 1,
                          reads ? src.bpl : 0);
  }
};

// Where one cell's shifted copy lands, and the two bands of the destination it leaves
// uncovered. Offsets reaching beyond the image leave no copy and make the bands the whole
// image, so that no operation ever reaches outside the image area.
struct Shift {
  int64_t dx, dy, sx, sy, w, h;
  int64_t bandX, bandW, bandY, bandH;
};

Shift shift_for(Morph kind, int64_t ox, int64_t oy, int32_t W, int32_t H) {
  // Dilation moves the source by the offset, erosion by its opposite.
  if (kind == Morph::erode) {
    ox = -ox;
    oy = -oy;
  }
  Shift s{};
  s.dx = std::max<int64_t>(ox, 0);
  s.dy = std::max<int64_t>(oy, 0);
  s.sx = std::max<int64_t>(-ox, 0);
  s.sy = std::max<int64_t>(-oy, 0);
  s.bandW = std::min<int64_t>(ox < 0 ? -ox : ox, W);
  s.bandH = std::min<int64_t>(oy < 0 ? -oy : oy, H);
  s.w = W - s.bandW;
  s.h = H - s.bandH;
  s.bandX = s.dx != 0 ? 0 : s.w;
  s.bandY = s.dy != 0 ? 0 : s.h;
  return s;
}

VltStatus fill_bands(const Job& job, const Shift& s, RasterOpCode op) {
  if (VltStatus st = job.rop(op, s.bandX, 0, s.bandW, job.H)) return st;
  return job.rop(op, 0, s.bandY, job.W, s.bandH);
}

// cellAt(col, row) gives the value of a cell.
template <class CellAt>
VltStatus run_cells(Morph kind, const Job& job, int32_t selW, int32_t selH, int32_t cx, int32_t cy,
                    CellAt cellAt) {
  bool first = true;
  for (int32_t row = 0; row < selH; ++row)
    for (int32_t col = 0; col < selW; ++col) {
      const uint8_t v = cellAt(col, row);
      if (v != kHit && !(kind == Morph::erode && v == kMiss)) continue;
      const Shift s = shift_for(kind, int64_t{col} - cx, int64_t{row} - cy, job.W, job.H);
      VltStatus st = VLT_OK;
      if (v == kHit) {
        if (first) {
          st = job.rop(IP_ROP_COPY, s.dx, s.dy, s.w, s.h, s.sx, s.sy);
          if (!st) st = fill_bands(job, s, IP_ROP_CLEAR);
        } else if (kind == Morph::dilate) {
          st = job.rop(IP_ROP_OR, s.dx, s.dy, s.w, s.h, s.sx, s.sy);
        } else {
          st = job.rop(IP_ROP_AND, s.dx, s.dy, s.w, s.h, s.sx, s.sy);
          if (!st) st = fill_bands(job, s, IP_ROP_CLEAR);
        }
      } else if (first) {
        st = job.rop(IP_ROP_NOT_S, s.dx, s.dy, s.w, s.h, s.sx, s.sy);
        if (!st) st = fill_bands(job, s, IP_ROP_SET);
      } else {
        // Outside the image the source is OFF, so a miss holds there: the bands keep their value.
        st = job.rop(IP_ROP_NOT_S_AND_D, s.dx, s.dy, s.w, s.h, s.sx, s.sy);
      }
      if (st) return st;
      first = false;
    }
  if (first) return job.rop(kind == Morph::dilate ? IP_ROP_CLEAR : IP_ROP_SET, 0, 0, job.W, job.H);
  return VLT_OK;
}

bool overlaps(const uint8_t* a, size_t aBytes, const uint8_t* b, size_t bBytes) {
  const auto a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
  return a0 < b0 + bBytes && b0 < a0 + aBytes;
}

VltStatus fast_morph(Morph kind, IPState* state, uint8_t* dst, const uint8_t* src,
                     const void* code, const void* longCode, int32_t framedW, int32_t framedH,
                     int32_t srcBpl, int32_t dstBpl, int32_t selW, int32_t selH, int32_t cx,
                     int32_t cy, const uint8_t* cells) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!dst || !src || !cells) return IP_FAIL(state, VLT_ERR_NULL);
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  const auto imageOf = [](const uint8_t* buffer, int32_t bpl) {
    return buffer + size_t(IP_FRAME) * static_cast<uint32_t>(bpl) + 4;
  };

  if (selW == 1 && selH == 1) {
    if (srcBpl < 1 || dstBpl < 1) return IP_FAIL(state, VLT_ERR_PARAM);
    const Job job{state, const_cast<uint8_t*>(imageOf(dst, dstBpl)), static_cast<uint32_t>(dstBpl),
                  {imageOf(src, srcBpl), static_cast<uint32_t>(srcBpl)}, W, H};
    VltStatus st = VLT_OK;
    if (cells[0] == kHit) st = job.rop(IP_ROP_COPY, 0, 0, W, H);
    else if (kind == Morph::erode && cells[0] == kMiss) st = job.rop(IP_ROP_NOT_S, 0, 0, W, H);
    return st ? IP_FAIL(state, st) : VLT_OK;
  }

  size_t cellCount = 0;
  if (selW < 1 || selH < 1 || srcBpl < 1 || dstBpl < 1 ||
      !mono::checked_mul<size_t>(size_t(selW), size_t(selH), &cellCount))
    return IP_FAIL(state, VLT_ERR_PARAM);
  // A line shorter than the framed width would make the shifted copies run into the next line.
  if (framedW > 0 && (int64_t{srcBpl} * 8 < framedW || int64_t{dstBpl} * 8 < framedW))
    return IP_FAIL(state, VLT_ERR_PARAM);

  uint8_t* dstImage = const_cast<uint8_t*>(imageOf(dst, dstBpl));
  const uint8_t* srcImage = imageOf(src, srcBpl);
  uint32_t unit = 4;
  if (VltStatus st = ip_checkImageAccess(state, dstImage, static_cast<uint32_t>(dstBpl), srcImage,
                                         static_cast<uint32_t>(srcBpl), &unit))
    return st;
  if (longCode && unit > 4) {
    auto* work = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, size_t(selW)));
    if (!work) return IP_FAIL(state, VLT_ERR_NOMEM);
    uint32_t p0 = 0, p1 = 0, p2 = 0;
    const VltStatus st = kind == Morph::dilate
                             ? ip_getLongDilateSEParms(state, selW, selH, cells, &p0, &p1, &p2, work)
                             : ip_getLongErodeSEParms(state, selW, selH, cells, &p0, &p1, &p2, work);
    ipcore::release(state, IP_SLOT_RECORDS, work);
    return IP_FAIL(state, st);
  }
  // Short code for the element would stand for the same result; none can be executed here, so
  // the raster-operation method does the work whether or not code was passed.
  (void)code;
  if (W < 1 || H < 1) return VLT_OK;

  Job job{state, dstImage, static_cast<uint32_t>(dstBpl), {srcImage, static_cast<uint32_t>(srcBpl)},
          W, H};
  const auto hit = [](int32_t, int32_t) { return kHit; };
  // A rectangle of hits is a row of hits followed by a column of hits: the same pixels (a
  // pixel outside the image fails either way) from selWidth + selHeight raster operations, of
  // which only the row's are shifted within words, instead of selWidth x selHeight. The row
  // pass reads the source only, so the source may also be the destination. Without memory for
  // the intermediate image the cells are worked one by one.
  if (std::all_of(cells, cells + cellCount, [](uint8_t v) { return v == kHit; }) && selW > 1 && selH > 1) {
    const uint32_t tempBpl = static_cast<uint32_t>((int64_t{W} + 31) / 32 * 4);
    size_t bytes = 0;
    auto* temp = mono::checked_mul<size_t>(tempBpl, size_t(H), &bytes)
                     ? static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, bytes))
                     : nullptr;
    if (temp) {
      const Job rows{state, temp, tempBpl, job.src, W, H};
      const Job columns{state, dstImage, static_cast<uint32_t>(dstBpl), {temp, tempBpl}, W, H};
      VltStatus st = run_cells(kind, rows, selW, 1, cx, 0, hit);
      if (!st) st = run_cells(kind, columns, 1, selH, 0, cy, hit);
      ipcore::release(state, IP_SLOT_RECORDS, temp);
      return st ? IP_FAIL(state, st) : VLT_OK;
    }
  }
  // Each shifted copy reads the source after earlier ones wrote the destination, so a source
  // sharing memory with the destination is first copied aside.
  uint8_t* temp = nullptr;
  if (overlaps(src, size_t(framedH) * size_t(srcBpl), dst, size_t(framedH) * size_t(dstBpl))) {
    const uint32_t tempBpl = static_cast<uint32_t>((int64_t{W} + 31) / 32 * 4);
    size_t bytes = 0;
    if (!mono::checked_mul<size_t>(tempBpl, size_t(H), &bytes)) return IP_FAIL(state, VLT_ERR_NOMEM);
    temp = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, bytes));
    if (!temp) return IP_FAIL(state, VLT_ERR_NOMEM);
    const Job copy{state, temp, tempBpl, job.src, W, H};
    if (VltStatus st = copy.rop(IP_ROP_COPY, 0, 0, W, H)) {
      ipcore::release(state, IP_SLOT_RECORDS, temp);
      return IP_FAIL(state, st);
    }
    job.src = {temp, tempBpl};
  }
  const VltStatus st = run_cells(kind, job, selW, selH, cx, cy, [&](int32_t col, int32_t row) {
    return cells[size_t(row) * size_t(selW) + size_t(col)];
  });
  ipcore::release(state, IP_SLOT_RECORDS, temp);
  return st ? IP_FAIL(state, st) : VLT_OK;
}

VltStatus no_size(uint32_t* size) {
  if (size) *size = 0;
  return VLT_ERR_NOT_IMPLEMENTED;
}

VltStatus no_code(void** code, uint32_t* codeSize) {
  if (code) *code = nullptr;
  if (codeSize) *codeSize = 0;
  return VLT_ERR_NOT_IMPLEMENTED;
}

}  // namespace

extern "C" {

VltStatus i_fastDilate(IPState* state, uint8_t* dst, const uint8_t* src, const void* code,
                       const void* longCode, int32_t framedWidth, int32_t framedHeight,
                       int32_t srcBytesPerLine, int32_t dstBytesPerLine, int32_t, int32_t,
                       int32_t selWidth, int32_t selHeight, int32_t cx, int32_t cy,
                       const uint8_t* cells) {
  return fast_morph(Morph::dilate, state, dst, src, code, longCode, framedWidth, framedHeight,
                    srcBytesPerLine, dstBytesPerLine, selWidth, selHeight, cx, cy, cells);
}

VltStatus i_fastErode(IPState* state, uint8_t* dst, const uint8_t* src, const void* code,
                      const void* longCode, int32_t framedWidth, int32_t framedHeight,
                      int32_t srcBytesPerLine, int32_t dstBytesPerLine, int32_t, int32_t,
                      int32_t selWidth, int32_t selHeight, int32_t cx, int32_t cy,
                      const uint8_t* cells) {
  return fast_morph(Morph::erode, state, dst, src, code, longCode, framedWidth, framedHeight,
                    srcBytesPerLine, dstBytesPerLine, selWidth, selHeight, cx, cy, cells);
}

VltStatus i_getDilateAsmSize(IPState*, int32_t, int32_t, int32_t, int32_t, uint32_t* size) { return no_size(size); }
VltStatus i_getLongDilateAsmSize(IPState*, int32_t, int32_t, int32_t, int32_t, uint32_t* size) { return no_size(size); }
VltStatus i_getErodeAsmSize(IPState*, int32_t, int32_t, int32_t, int32_t, uint32_t* size) { return no_size(size); }
VltStatus i_getLongErodeAsmSize(IPState*, int32_t, int32_t, int32_t, int32_t, uint32_t* size) { return no_size(size); }

VltStatus i_genDilateAsm(IPState*, int32_t, int32_t, int32_t, int32_t, const uint8_t*, int32_t*,
                         void** code, uint32_t* codeSize) {
  return no_code(code, codeSize);
}
VltStatus i_genLongDilateAsm(IPState*, int32_t, int32_t, int32_t, int32_t, const uint8_t*, int32_t*,
                             void** code, uint32_t* codeSize) {
  return no_code(code, codeSize);
}
VltStatus i_genErodeAsm(IPState*, int32_t, int32_t, int32_t, int32_t, const uint8_t*, int32_t*,
                        void** code, uint32_t* codeSize) {
  return no_code(code, codeSize);
}
VltStatus i_genLongErodeAsm(IPState*, int32_t, int32_t, int32_t, int32_t, const uint8_t*, int32_t*,
                            void** code, uint32_t* codeSize) {
  return no_code(code, codeSize);
}

}  // extern "C"
