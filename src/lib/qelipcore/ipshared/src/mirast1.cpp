// Raster-op set-up: the hardware hook, the per-image geometry and the per-column tile state
// with its kernel choice.

#include <algorithm>
#include <cstring>

#include "ip_internal.h"
#include "ip_rastop.h"

namespace {

bool word_aligned(const uint8_t* p) { return (reinterpret_cast<uintptr_t>(p) & 3u) == 0; }

}  // namespace

extern "C" {

VltStatus ip_tryRasterOpInHardware(IPState*, uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t,
                                   uint32_t, RasterOpCode, const uint8_t*, uint32_t, uint32_t,
                                   uint32_t, uint32_t* handled) {
  *handled = 0;
  return VLT_OK;
}

VltStatus ip_getRasterOpTileInfo(IPState*, uint8_t* dst, uint32_t dstX, uint32_t dstY,
                                 uint32_t width, uint32_t, uint32_t dstBytesPerLine,
                                 RasterOpCode op, uint8_t* src, uint32_t srcX, uint32_t srcY,
                                 uint32_t srcBytesPerLine, RasterOpTileInfo* info) {
  info->dstFirstWord = dst + size_t{dstY} * dstBytesPerLine + size_t{dstX >> 5} * 4;
  info->dstStartBit = dstX;
  info->dstUnits = 1;
  info->dstBitsPerUnit = 32;
  info->dstWidthBits = ((dstX & 31u) + width + 31u) & ~31u;
  info->srcStartBit = srcX;
  info->srcUnits = 1;
  info->srcBitsPerUnit = 32;
  if (src && rop_reads_source(rop_truth_table(op))) {
    info->srcFirstWord = src + size_t{srcY} * srcBytesPerLine + size_t{srcX >> 5} * 4;
    info->srcLeftPadBits = srcX == dstX ? 0 : 32;
    info->srcWidthBits = info->dstWidthBits;
  } else {
    info->srcFirstWord = nullptr;
    info->srcLeftPadBits = 0;
    info->srcWidthBits = 0;
  }
  return VLT_OK;
}

VltStatus ip_getRasterOpTileState(IPState* state, uint8_t* dstFirstWord, uint32_t dstStartBit,
                                  uint32_t width, uint32_t tileWidth, uint32_t dstBytesPerLine,
                                  RasterOpCode op, uint8_t* srcFirstWord, uint32_t srcStartBit,
                                  uint32_t srcBytesPerLine, uint32_t recordBytes,
                                  RasterOpTileState** record, RasterOpKernel* kernel,
                                  uint32_t* coveredWidth) {
  if (!word_aligned(dstFirstWord) || !word_aligned(srcFirstWord)) return IP_FAIL(state, VLT_ERR_PARAM);
  RasterOpTileState* ts = *record;
  if (ts) {
    if (recordBytes < sizeof(RasterOpTileState)) return IP_FAIL(state, VLT_ERR_OVERFLOW);
    ts->allocated = 0;
  } else {
    if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
    ts = static_cast<RasterOpTileState*>(
        ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 1, sizeof(RasterOpTileState)));
    if (!ts) return IP_FAIL(state, VLT_ERR_NOMEM);
    ts->allocated = 1;
  }
  ts->srcBytesPerLine = srcBytesPerLine;
  ts->dstBytesPerLine = dstBytesPerLine;

  const uint32_t b = dstStartBit & 31u;
  const uint32_t last = dstStartBit + width - 1;
  const int32_t nD = static_cast<int32_t>((last >> 5) - (dstStartBit >> 5) + 1);
  ts->leftMask = ip_rasterOpMasks[65 - b];
  ts->rightMask = ip_rasterOpMasks[(last & 31u) + 1];
  if ((last >> 5) == (dstStartBit >> 5)) ts->leftMask &= ts->rightMask;
  ts->middleWords = static_cast<uint32_t>(std::max(nD - 2, 0));

  const uint32_t c = srcStartBit & 31u;
  if (srcFirstWord) {
    if (b > c) {
      ts->rightShift = b - c;
      ts->leftShift = 32 - (b - c);
    } else if (b < c) {
      ts->leftShift = c - b;
      ts->rightShift = 32 - (c - b);
    } else {
      ts->leftShift = ts->rightShift = 0;
    }
  }
  *coveredWidth = std::min(tileWidth - b, width);

  const uint32_t t = rop_truth_table(op);
  uint32_t row = t;
  if (ts->leftMask == ~0u && t == 3) row = 16;
  if (ts->leftMask == ~0u && t == 12) row = 17;
  const int32_t nd3 = std::min(nD, 3);
  int32_t slot;
  if (t == 0 || t == 5 || t == 10 || t == 15) {
    slot = nd3 - 1;
  } else {
    const int32_t nS = static_cast<int32_t>(((srcStartBit + width - 1) >> 5) - (srcStartBit >> 5) + 1);
    const int32_t k = 5 * nd3;
    if (nS > nD) slot = k - 1;
    else if (nS < nD) slot = k - 5;
    else if (ts->leftShift == 0) slot = k - 4;
    else slot = c > b ? k - 3 : k - 2;
    if (t == 12 && nD == 3 && nS == 3 && ts->leftShift == 0) {
      row = 12;
      slot = 15;
    }
  }
  *kernel = miRastOpRoutines[row][static_cast<size_t>(slot)];
  *record = ts;
  return VLT_OK;
}

VltStatus ip_releaseRasterOpTileState(IPState* state, RasterOpTileState** record) {
  RasterOpTileState* ts = *record;
  if (!ts || !ts->allocated) return VLT_OK;
  if (state) ipcore::release(state, IP_SLOT_RECORDS, ts);
  *record = nullptr;
  return VLT_OK;
}

}  // extern "C"
