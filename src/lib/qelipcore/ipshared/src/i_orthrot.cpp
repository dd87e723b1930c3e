// Orthogonal rotation: tile walks of the quarter turns, the half turn's line loop, and the
// in-place quarter turns that pass bands of lines through a scratch image.

#include "i_orthrot.h"

#include <algorithm>
#include <cstring>

#include "ip_internal.h"
#include "ipcore.h"

namespace {

constexpr bool orth_depth(int32_t d) { return d == 1 || d == 2 || d == 4 || d == 8; }

// A strip is the run of source lines that fills one 32-bit destination word.
struct TileShape {
  int32_t linesPerStrip, stripsPerTileRow, bytesPerTileColumn, destTileWidth;
};
constexpr TileShape shape_of(int32_t depth) {
  switch (depth) {
    case 1: return {32, 4, 32, 16};
    case 2: return {16, 8, 32, 32};
    case 4: return {8, 8, 64, 32};
    default: return {4, 16, 64, 64};
  }
}

constexpr int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Source lines one pass turns out of a remaining `height`: the bottom ones. At 270 degrees a
// pass takes the bottom partial strip with the full strips above it, so that what stays is a
// whole number of strips and no later pass reads below its own lines.
int32_t pass_lines(bool ninety, int32_t height, int32_t maxLines, int32_t s) {
  if (ninety) return std::min(maxLines, height);
  if (maxLines >= height) return height;
  return static_cast<int32_t>(s * ceil_div(maxLines, s) - s + (height - 1) % s + 1);
}

void fill_geometry(bool ninety, QuarterTurnRecord* r, const uint8_t* srcFirst, int32_t W,
                   int32_t height, int32_t depth, int32_t srcBpl, uint8_t* dstFirst,
                   int32_t maxLines, int32_t dstBpl, int32_t* linesDone) {
  const TileShape t = shape_of(depth);
  const int32_t s = t.linesPerStrip, ppb = 8 / depth;
  const int32_t L = pass_lines(ninety, height, maxLines, s);
  const auto n = static_cast<int32_t>(ceil_div(L, s));
  const auto b = static_cast<int32_t>(ceil_div(int64_t{W} * depth, 8));
  *linesDone = L;
  r->srcBpl = srcBpl;
  r->dstBpl = dstBpl;
  r->depth = depth;
  r->stripsPerTileRow = t.stripsPerTileRow;
  r->bytesPerTileColumn = t.bytesPerTileColumn;
  r->tileRows = n > 0 && b > 0 ? static_cast<int32_t>(ceil_div(n, t.stripsPerTileRow)) : 0;
  r->tileColumns = n > 0 && b > 0 ? static_cast<int32_t>(ceil_div(b, t.bytesPerTileColumn)) : 0;
  r->partialStrips = n > 0 ? n - t.stripsPerTileRow * ((n - 1) / t.stripsPerTileRow) : 0;
  r->lastColumnBytes = b > 0 ? b - t.bytesPerTileColumn * ((b - 1) / t.bytesPerTileColumn) : 0;
  const ptrdiff_t sb = srcBpl, db = dstBpl;
  r->partialRowSrcStep = ninety ? 0 : ptrdiff_t{r->partialStrips} * s * sb;
  r->tileRowSrcStep = ptrdiff_t{t.stripsPerTileRow} * s * sb;
  r->tileColumnSrcStep = t.bytesPerTileColumn;
  r->stripSrcStep = ptrdiff_t{s} * sb;
  r->blockReturnStep = (ninety ? 1 : -1) * ptrdiff_t{s - 1} * sb + 1;
  r->tileColumnDstStep = ptrdiff_t{t.bytesPerTileColumn} * ppb * db;
  r->partialRowDstStep = ninety ? 0 : ptrdiff_t{4} * r->partialStrips;
  r->tileRowDstStep = t.destTileWidth;
  r->stripDstStep = 4;
  r->tileSrc = srcFirst;
  r->tileDst = dstFirst;
  r->tileRowSrc = srcFirst;
  r->tileRowDst = dstFirst;
  if (r->tileRows == 0) return;
  if (ninety) {
    // Strips stand on the bottom line; the top one may reach s - 1 lines above the pass.
    r->tileRowSrc = srcFirst + ptrdiff_t{height - 1} * sb;
  } else {
    // Strips hang from line 0; the bottom one may reach s - 1 lines below the last line.
    r->tileRowSrc = srcFirst + (s * ceil_div(height, s) - s) * sb;
    r->tileRowDst = dstFirst + ptrdiff_t{W - 1} * db + 4 * ptrdiff_t{n - 1};
  }
}

template <bool Ninety>
VltStatus setup(IPState* state, const uint8_t* srcFirst, int32_t width, int32_t height,
                int32_t depth, int32_t srcBpl, uint8_t* dstFirst, int32_t maxLines,
                int32_t dstBpl, int32_t* tileRows, int32_t* tileColumns, int32_t* linesDone,
                QuarterTurnRecord** record, QuarterTurnTileProc* proc) {
  if (!orth_depth(depth)) return IP_FAIL(state, VLT_ERR_DEPTH);
  if (!tileRows || !tileColumns || !linesDone || !record || !proc) return IP_FAIL(state, VLT_ERR_NULL);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* r = static_cast<QuarterTurnRecord*>(ipcore::alloc(state, IP_SLOT_RECORDS, sizeof(QuarterTurnRecord)));
  if (!r) return IP_FAIL(state, VLT_ERR_NOMEM);
  r->spreadTable = nullptr;
  if (VltStatus s = ip_makeRotTable(state, &r->spreadTable, depth)) {
    ipcore::release(state, IP_SLOT_RECORDS, r);
    return IP_FAIL(state, s);
  }
  fill_geometry(Ninety, r, srcFirst, width, height, depth, srcBpl, dstFirst, maxLines, dstBpl, linesDone);
  *tileRows = r->tileRows;
  *tileColumns = r->tileColumns;
  *record = r;
  *proc = Ninety ? ip_fastRot90SuperTile : ip_fastRot270SuperTile;
  return VLT_OK;
}

template <bool Ninety>
VltStatus loop_top(int32_t row, int32_t column, QuarterTurnRecord* r) {
  if (column == 0) {
    r->tileSrc = r->tileRowSrc;
    r->tileDst = r->tileRowDst;
    if (Ninety) {
      r->tileRowSrc -= r->tileRowSrcStep;
      r->tileRowDst += r->tileRowDstStep;
    } else {
      r->tileRowSrc -= row == 0 ? r->partialRowSrcStep : r->tileRowSrcStep;
      r->tileRowDst -= row == 0 ? r->partialRowDstStep : r->tileRowDstStep;
    }
  } else {
    r->tileSrc += r->tileColumnSrcStep;
    r->tileDst += (Ninety ? 1 : -1) * r->tileColumnDstStep;
  }
  return VLT_OK;
}

template <bool Ninety>
VltStatus super_tile(IPState* state, int32_t row, int32_t column, QuarterTurnRecord* r) {
  const bool partialRow = Ninety ? row == r->tileRows - 1 : row == 0;
  const int32_t strips = partialRow ? r->partialStrips : r->stripsPerTileRow;
  const int32_t bytes = column == r->tileColumns - 1 ? r->lastColumnBytes : r->bytesPerTileColumn;
  const bool narrow = r->depth <= 2;
  const auto block = Ninety ? (narrow ? ip_rotateBlock90 : ip_rotate48Block90)
                            : (narrow ? ip_rotateBlock270 : ip_rotate48Block270);
  // From the tile's bottom strip upward; each strip is one destination word further on.
  for (int32_t j = 0; j < strips; ++j)
    block(state, r->tileSrc - j * r->stripSrcStep, r->srcBpl,
          r->tileDst + (Ninety ? j : -j) * r->stripDstStep, r->dstBpl, r->spreadTable, bytes,
          r->blockReturnStep, r->depth);
  return VLT_OK;
}

VltStatus finish(IPState* state, QuarterTurnRecord** record) {
  if (state && record && *record) {
    ipcore::release(state, IP_SLOT_RECORDS, (*record)->spreadTable);
    ipcore::release(state, IP_SLOT_RECORDS, *record);
    *record = nullptr;
  }
  return VLT_OK;
}

// Runs the tile loop of a record made by Setup; the first failure is reported and returned.
template <bool Ninety>
VltStatus run_tiles(IPState* state, QuarterTurnRecord* r, QuarterTurnTileProc proc) {
  const int32_t rows = r->tileRows, columns = r->tileColumns;
  for (int32_t row = 0; row < rows; ++row)
    for (int32_t col = 0; col < columns; ++col) {
      VltStatus s = Ninety ? ip_fastRot90LoopTop(state, row, col, r) : ip_fastRot270LoopTop(state, row, col, r);
      if (!s) s = proc(state, row, col, r);
      if (!s) s = Ninety ? ip_fastRot90LoopBottom(state, row, col, r) : ip_fastRot270LoopBottom(state, row, col, r);
      if (s) return IP_FAIL(state, s);
    }
  return VLT_OK;
}

bool overlapping(const uint8_t* a, size_t aBytes, const uint8_t* b, size_t bBytes) {
  const auto a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
  return a0 < b0 + bBytes && b0 < a0 + aBytes;
}

// Lines long enough for the framed width, as the kernels read and write whole words up to the
// frame.
bool line_fits(int32_t bpl, int32_t framedWidth, int32_t depth) {
  return bpl > 0 && int64_t{bpl} * 8 >= int64_t{framedWidth} * depth;
}

// The checks the copy forms share; *empty when there is no pixel to turn. The depth is
// refused without a report.
VltStatus check_copy_form(IPState* state, int32_t depth, int32_t framedW, int32_t framedH,
                          const uint8_t* dstAll, const uint8_t* srcAll, bool* empty) {
  *empty = false;
  if (!orth_depth(depth)) return VLT_ERR_DEPTH;
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  if (W < 0 || H < 0) return IP_FAIL(state, VLT_ERR_DIMENSIONS);
  *empty = W == 0 || H == 0;
  if (!*empty && (!dstAll || !srcAll)) return IP_FAIL(state, VLT_ERR_NULL);
  return VLT_OK;
}

template <bool Ninety>
VltStatus quarter_turn(IPState* state, uint8_t* dstAll, const uint8_t* srcAll, int32_t framedW,
                       int32_t framedH, int32_t srcBpl, int32_t dstBpl, int32_t depth) {
  bool empty = false;
  if (VltStatus s = check_copy_form(state, depth, framedW, framedH, dstAll, srcAll, &empty)) return s;
  if (empty) return VLT_OK;
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  if (!line_fits(srcBpl, framedW, depth) || !line_fits(dstBpl, framedH, depth) ||
      overlapping(srcAll, size_t(framedH) * size_t(srcBpl), dstAll, size_t(framedW) * size_t(dstBpl)))
    return IP_FAIL(state, VLT_ERR_PARAM);
  const uint8_t* srcFirst = srcAll + IP_FRAME * size_t(srcBpl) + 4 * size_t(depth);
  uint8_t* dstFirst = dstAll + IP_FRAME * size_t(dstBpl) + 4 * size_t(depth);
  int32_t rows = 0, columns = 0, done = 0;
  QuarterTurnRecord* r = nullptr;
  QuarterTurnTileProc proc = nullptr;
  const auto setupFn = Ninety ? ip_fastRot90Setup : ip_fastRot270Setup;
  if (VltStatus s = setupFn(state, srcFirst, W, H, depth, srcBpl, dstFirst, H, dstBpl, &rows,
                            &columns, &done, &r, &proc))
    return IP_FAIL(state, s);
  const VltStatus s = run_tiles<Ninety>(state, r, proc);
  finish(state, &r);
  return s;
}

// Clears the frames of a framed layout, and the line padding after each image line, without
// allocating: the in-place turn has nothing left to fail once its pixels have moved.
void clear_layout_frames(uint8_t* all, int32_t w, int32_t h, uint32_t bpl, int32_t depth) {
  std::memset(all, 0, IP_FRAME * size_t(bpl));
  std::memset(all + size_t(IP_FRAME + h) * bpl, 0, IP_FRAME * size_t(bpl));
  const size_t endBit = size_t(IP_FRAME + w) * size_t(depth);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* line = all + size_t(IP_FRAME + y) * bpl;
    std::memset(line, 0, 4 * size_t(depth));
    size_t byte = endBit / 8;
    if (endBit % 8) line[byte++] &= static_cast<uint8_t>(0xFF00u >> (endBit % 8));
    std::memset(line + byte, 0, bpl - byte);
  }
}

template <bool Ninety>
VltStatus rotate_in_place(IPState* state, uint8_t* scratchAll, uint8_t* srcAll,
                          uint8_t* bufferLastByte, uint8_t* newAll, int32_t framedW,
                          int32_t framedH, int32_t scratchFramedW, int32_t srcBpl,
                          int32_t scratchBpl, int32_t depth) {
  if (!orth_depth(depth)) return IP_FAIL(state, VLT_ERR_DEPTH);
  if (framedW < 0 || framedH < 0) return IP_FAIL(state, VLT_ERR_DIMENSIONS);
  if (framedW == 0 || framedH == 0) return VLT_OK;
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  if (W < 0 || H < 0) return IP_FAIL(state, VLT_ERR_DIMENSIONS);
  if (!scratchAll || !srcAll || !bufferLastByte || !newAll) return IP_FAIL(state, VLT_ERR_NULL);
  int32_t stw = 0;
  uint32_t la = 0;
  if (VltStatus s = ip_getOrthDestSTWidth(state, depth, &stw)) return IP_FAIL(state, s);
  if (VltStatus s = ip_getLongestAccess(state, &la)) return s;
  const int64_t unit = std::max<int64_t>(la, stw);
  const int64_t bandBytes = (int64_t{scratchFramedW} - IP_FRAME) * depth / 8 / unit * unit;
  if (bandBytes <= 0) return IP_FAIL(state, VLT_ERR_OVERFLOW);
  const auto B = static_cast<int32_t>(std::min<int64_t>(bandBytes * 8 / depth, INT32_MAX));
  if (!line_fits(srcBpl, framedW, depth) || scratchBpl < 1 ||
      int64_t{scratchBpl} * 8 < int64_t{scratchFramedW} * depth)
    return IP_FAIL(state, VLT_ERR_PARAM);

  uint32_t F = 0, size = 0;
  if (VltStatus s = i_calcImageProperties(state, H, W, depth, IP_FRAME, &F, &size)) return IP_FAIL(state, s);
  const auto last = reinterpret_cast<uintptr_t>(bufferLastByte);
  const auto newBase = reinterpret_cast<uintptr_t>(newAll);
  const uint64_t layoutBytes = uint64_t(W + 2 * IP_FRAME) * F;
  if (newBase > last || layoutBytes > last - newBase + 1) return IP_FAIL(state, VLT_ERR_PARAM);

  // Plan every band and the final layout before a pixel moves. The bands are packed into a
  // growing block that ends at the buffer's last access unit; each pass must leave the source
  // lines not yet turned alone, and the packed lines must then move to their framed places in
  // line order without one line's move reaching a line not yet moved.
  uint8_t* srcFirst = srcAll + IP_FRAME * size_t(srcBpl) + 4 * size_t(depth);
  const auto srcBase = reinterpret_cast<uintptr_t>(srcFirst);
  const uintptr_t P0 = last & ~uintptr_t{la - 1};
  const int32_t s = shape_of(depth).linesPerStrip;
  const auto bytesFor = [depth](int64_t pixels) { return static_cast<uint64_t>(ceil_div(pixels * depth, 8)); };
  const auto roundUp = [la](uint64_t v) { return (v + la - 1) / la * la; };
  bool packedFits = true;
  uint64_t Q = 0;
  uintptr_t P = P0;
  for (int32_t R = H; R > 0;) {
    const int32_t k = pass_lines(Ninety, R, B, s);
    const uint64_t Qn = roundUp(Q + bytesFor(k));
    const uint64_t grow = (Qn - Q) * uint64_t(W);
    const uint64_t stillToRead = srcBase + uint64_t(R - k) * uint64_t(srcBpl);
    if (P < stillToRead || P - stillToRead < grow) {
      packedFits = false;
      break;
    }
    P -= static_cast<uintptr_t>(grow);
    Q = Qn;
    R -= k;
  }
  const uint64_t nb = bytesFor(H);
  for (int32_t y = 0; y < W && packedFits; ++y) {
    const uint64_t lo = newBase + uint64_t(IP_FRAME + y) * F + 4 * uint64_t(depth);
    if (lo < P0 && lo + nb > P + uint64_t(y + 1) * Q) packedFits = false;
  }

  // Otherwise the source is copied aside, while a failure still leaves the image whole, and
  // turned from the copy straight into its framed place.
  if (!packedFits) {
    const uint64_t bytes = uint64_t(framedH) * uint64_t(srcBpl);
    uint8_t* copy = bytes <= SIZE_MAX ? static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, size_t(bytes))) : nullptr;
    if (!copy) return IP_FAIL(state, VLT_ERR_NOMEM);
    std::memcpy(copy, srcAll, size_t(bytes));
    const VltStatus st = quarter_turn<Ninety>(state, newAll, copy, framedW, framedH, srcBpl,
                                              static_cast<int32_t>(F), depth);
    ipcore::release(state, IP_SLOT_RECORDS, copy);
    if (st) return st;
    clear_layout_frames(newAll, H, W, F, depth);
    return VLT_OK;
  }

  uint8_t* scratchFirst = scratchAll + IP_FRAME * size_t(scratchBpl) + 4 * size_t(depth);
  int32_t rows = 0, columns = 0, k = 0;
  QuarterTurnRecord* r = nullptr;
  QuarterTurnTileProc proc = nullptr;
  const auto setupFn = Ninety ? ip_fastRot90Setup : ip_fastRot270Setup;
  if (H > 0) {
    if (VltStatus st = setupFn(state, srcFirst, W, H, depth, srcBpl, scratchFirst, B, scratchBpl,
                               &rows, &columns, &k, &r, &proc))
      return IP_FAIL(state, st);
  }
  Q = 0;
  P = P0;
  int64_t D = 0;
  for (int32_t R = H; R > 0;) {
    if (R != H) fill_geometry(Ninety, r, srcFirst, W, R, depth, srcBpl, scratchFirst, B, scratchBpl, &k);
    // The tiles can only fail through a missing procedure; the plan made every pass safe.
    run_tiles<Ninety>(state, r, proc);
    const uint64_t Qn = roundUp(Q + bytesFor(k));
    const uintptr_t Pn = P - static_cast<uintptr_t>((Qn - Q) * uint64_t(W));
    // The packed lines move down in memory with a longer stride: in line order every line is
    // read before a later one's writes can reach it. New bands are whole bytes apart (strips
    // are 32 bits, bands whole units), so both moves are byte copies.
    const size_t oldBytes = static_cast<size_t>(bytesFor(D)), bandBytesNow = static_cast<size_t>(bytesFor(k));
    const size_t oldAt = Ninety ? 0 : static_cast<size_t>(int64_t{k} * depth / 8);
    const size_t bandAt = Ninety ? static_cast<size_t>(D * depth / 8) : 0;
    for (int32_t y = 0; y < W; ++y)
      std::memmove(reinterpret_cast<uint8_t*>(Pn + y * Qn) + oldAt, reinterpret_cast<uint8_t*>(P + y * Q), oldBytes);
    for (int32_t y = 0; y < W; ++y)
      std::memcpy(reinterpret_cast<uint8_t*>(Pn + y * Qn) + bandAt, scratchFirst + size_t(y) * scratchBpl, bandBytesNow);
    P = Pn;
    Q = Qn;
    D += k;
    R -= k;
  }
  finish(state, &r);

  for (int32_t y = 0; y < W; ++y)
    std::memmove(newAll + size_t(IP_FRAME + y) * F + 4 * size_t(depth),
                 reinterpret_cast<uint8_t*>(P + uint64_t(y) * Q), nb);
  clear_layout_frames(newAll, H, W, F, depth);
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus ip_getOrthDestSTWidth(IPState* state, int32_t depth, int32_t* width) {
  if (!width) return IP_FAIL(state, VLT_ERR_NULL);
  if (!orth_depth(depth)) return IP_FAIL(state, VLT_ERR_DEPTH);
  *width = shape_of(depth).destTileWidth;
  return VLT_OK;
}

VltStatus ip_fastRot90Setup(IPState* state, const uint8_t* srcFirst, int32_t width, int32_t height,
                            int32_t depth, int32_t srcBpl, uint8_t* dstFirst, int32_t maxLines,
                            int32_t dstBpl, int32_t* tileRows, int32_t* tileColumns,
                            int32_t* linesDone, QuarterTurnRecord** record, QuarterTurnTileProc* proc) {
  return setup<true>(state, srcFirst, width, height, depth, srcBpl, dstFirst, maxLines, dstBpl,
                     tileRows, tileColumns, linesDone, record, proc);
}
VltStatus ip_fastRot270Setup(IPState* state, const uint8_t* srcFirst, int32_t width, int32_t height,
                             int32_t depth, int32_t srcBpl, uint8_t* dstFirst, int32_t maxLines,
                             int32_t dstBpl, int32_t* tileRows, int32_t* tileColumns,
                             int32_t* linesDone, QuarterTurnRecord** record, QuarterTurnTileProc* proc) {
  return setup<false>(state, srcFirst, width, height, depth, srcBpl, dstFirst, maxLines, dstBpl,
                      tileRows, tileColumns, linesDone, record, proc);
}
VltStatus ip_fastRot90LoopTop(IPState*, int32_t row, int32_t col, QuarterTurnRecord* r) { return loop_top<true>(row, col, r); }
VltStatus ip_fastRot270LoopTop(IPState*, int32_t row, int32_t col, QuarterTurnRecord* r) { return loop_top<false>(row, col, r); }
VltStatus ip_fastRot90SuperTile(IPState* s, int32_t row, int32_t col, QuarterTurnRecord* r) { return super_tile<true>(s, row, col, r); }
VltStatus ip_fastRot270SuperTile(IPState* s, int32_t row, int32_t col, QuarterTurnRecord* r) { return super_tile<false>(s, row, col, r); }
VltStatus ip_fastRot90LoopBottom(IPState*, int32_t, int32_t, QuarterTurnRecord*) { return VLT_OK; }
VltStatus ip_fastRot270LoopBottom(IPState*, int32_t, int32_t, QuarterTurnRecord*) { return VLT_OK; }
VltStatus ip_fastRot90Finish(IPState* state, QuarterTurnRecord** record) { return finish(state, record); }
VltStatus ip_fastRot270Finish(IPState* state, QuarterTurnRecord** record) { return finish(state, record); }

VltStatus i_fastRot90(IPState* state, uint8_t* dstAll, const uint8_t* srcAll, int32_t framedW,
                      int32_t framedH, int32_t srcBpl, int32_t dstBpl, int32_t depth) {
  return quarter_turn<true>(state, dstAll, srcAll, framedW, framedH, srcBpl, dstBpl, depth);
}
VltStatus i_fastRot270(IPState* state, uint8_t* dstAll, const uint8_t* srcAll, int32_t framedW,
                       int32_t framedH, int32_t srcBpl, int32_t dstBpl, int32_t depth) {
  return quarter_turn<false>(state, dstAll, srcAll, framedW, framedH, srcBpl, dstBpl, depth);
}

VltStatus i_fastRot90InPlace(IPState* state, uint8_t* scratchAll, uint8_t* srcAll, uint8_t* lastByte,
                             uint8_t* newAll, int32_t framedW, int32_t framedH, int32_t scratchFramedW,
                             int32_t srcBpl, int32_t scratchBpl, int32_t depth) {
  return rotate_in_place<true>(state, scratchAll, srcAll, lastByte, newAll, framedW, framedH,
                               scratchFramedW, srcBpl, scratchBpl, depth);
}
VltStatus i_fastRot270InPlace(IPState* state, uint8_t* scratchAll, uint8_t* srcAll, uint8_t* lastByte,
                              uint8_t* newAll, int32_t framedW, int32_t framedH, int32_t scratchFramedW,
                              int32_t srcBpl, int32_t scratchBpl, int32_t depth) {
  return rotate_in_place<false>(state, scratchAll, srcAll, lastByte, newAll, framedW, framedH,
                                scratchFramedW, srcBpl, scratchBpl, depth);
}

VltStatus ip_fastRot180Setup(IPState* state, const uint8_t* srcFirst, int32_t width, int32_t height,
                             int32_t depth, int32_t srcBpl, uint8_t* dstFirst, int32_t dstBpl,
                             LineReversalRecord** record, LineReversalProc* lineProc) {
  if (!record || !lineProc) return IP_FAIL(state, VLT_ERR_NULL);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* r = static_cast<LineReversalRecord*>(ipcore::alloc(state, IP_SLOT_RECORDS, sizeof(LineReversalRecord)));
  if (!r) return IP_FAIL(state, VLT_ERR_NOMEM);
  const int64_t bits = int64_t{width} * depth;
  r->srcLine = srcFirst;
  r->dstLine = dstFirst + ptrdiff_t{height - 1} * dstBpl;
  r->srcBpl = srcBpl;
  r->dstBpl = dstBpl;
  r->lastWordBits = static_cast<int32_t>(bits % 32);
  r->leftShift = (32 - r->lastWordBits) % 32;
  r->wordsPerLine = static_cast<int32_t>(ceil_div(bits, 32));
  r->linesLeft = height;
  r->reverseTable = ip_reverseTableForDepth(depth);
  *record = r;
  if (srcFirst != dstFirst) *lineProc = r->leftShift ? ip_reverseLineShift : ip_reverseLineNoShift;
  else *lineProc = r->leftShift ? ip_reverseLinesSwapShift : ip_reverseLinesSwapNoShift;
  return VLT_OK;
}

VltStatus ip_fastRot180LoopTop(IPState*, LineReversalRecord*) { return VLT_OK; }

VltStatus ip_fastRot180LoopBottom(IPState* state, LineReversalRecord* record, int32_t* linesLeft) {
  if (!record || !linesLeft) return IP_FAIL(state, VLT_ERR_NULL);
  *linesLeft = record->linesLeft;
  return VLT_OK;
}

VltStatus ip_fastRot180Finish(IPState* state, LineReversalRecord** record) {
  if (state && record && *record) {
    ipcore::release(state, IP_SLOT_RECORDS, *record);
    *record = nullptr;
  }
  return VLT_OK;
}

VltStatus i_fastRot180(IPState* state, uint8_t* dstAll, const uint8_t* srcAll, int32_t framedW,
                       int32_t framedH, int32_t srcBpl, int32_t dstBpl, int32_t depth) {
  bool empty = false;
  if (VltStatus s = check_copy_form(state, depth, framedW, framedH, dstAll, srcAll, &empty)) return s;
  if (empty) return VLT_OK;
  const int32_t W = framedW - 2 * IP_FRAME, H = framedH - 2 * IP_FRAME;
  const uint8_t* srcFirst = srcAll + IP_FRAME * size_t(srcBpl) + 4 * size_t(depth);
  uint8_t* dstFirst = dstAll + IP_FRAME * size_t(dstBpl) + 4 * size_t(depth);
  const bool inPlace = srcFirst == dstFirst;
  if (!line_fits(srcBpl, framedW, depth) || !line_fits(dstBpl, framedW, depth) ||
      (inPlace ? srcBpl != dstBpl
               : overlapping(srcAll, size_t(framedH) * size_t(srcBpl), dstAll, size_t(framedH) * size_t(dstBpl))))
    return IP_FAIL(state, VLT_ERR_PARAM);
  LineReversalRecord* r = nullptr;
  LineReversalProc proc = nullptr;
  if (VltStatus s = ip_fastRot180Setup(state, srcFirst, W, H, depth, srcBpl, dstFirst, dstBpl, &r, &proc))
    return IP_FAIL(state, s);
  VltStatus status = VLT_OK;
  for (int32_t left = 1; left > 0 && status == VLT_OK;) {
    status = ip_fastRot180LoopTop(state, r);
    if (!status) status = proc(state, r);
    if (!status) status = ip_fastRot180LoopBottom(state, r, &left);
  }
  ip_fastRot180Finish(state, &r);
  return status ? IP_FAIL(state, status) : VLT_OK;
}

}  // extern "C"
