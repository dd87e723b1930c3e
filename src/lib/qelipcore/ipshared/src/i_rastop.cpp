// The raster operation: validation and clipping, then one kernel call over all lines through
// the super-tile walk.

#include <algorithm>
#include <climits>
#include <cstring>

#include "checked_size.h"
#include "ip_internal.h"
#include "ip_rastop.h"

namespace {

constexpr bool valid_depth(int32_t d) { return d == 1 || d == 2 || d == 4 || d == 8 || d == 16; }

uint32_t span_words(int64_t startBit, int64_t widthBits) {
  return static_cast<uint32_t>(((startBit + widthBits - 1) >> 5) - (startBit >> 5) + 1);
}

// True when the forward walk (lines down, words right) would read source words that it has
// already overwritten. A destination at or before the source in memory, with both spans inside
// one common stride, is safe because every kernel reads a source word before it writes the
// destination word at the same address and never reads it again.
bool forward_walk_unsafe(const uint8_t* dstFirst, uint32_t dstWords, uint32_t dstStride,
                         const uint8_t* srcFirst, uint32_t srcWords, uint32_t srcStride,
                         uint32_t lines) {
  const auto d0 = reinterpret_cast<uintptr_t>(dstFirst);
  const auto s0 = reinterpret_cast<uintptr_t>(srcFirst);
  const uintptr_t d1 = d0 + uintptr_t{lines - 1} * dstStride + uintptr_t{dstWords} * 4;
  const uintptr_t s1 = s0 + uintptr_t{lines - 1} * srcStride + uintptr_t{srcWords} * 4;
  if (d1 <= s0 || s1 <= d0) return false;
  const bool forwardSafe = dstStride == srcStride && d0 <= s0 && dstWords * 4 <= dstStride &&
                           srcWords * 4 <= srcStride;
  return !forwardSafe;
}

}  // namespace

extern "C" {

VltStatus ip_rasterOpSuperTile(IPState* state, TileDescriptor* descriptors, uint32_t, uint32_t,
                               void* data) {
  const auto* d = static_cast<const RasterOpSuperTileData*>(data);
  const uint8_t* src = d->images == 2 ? descriptors[1].firstWord : nullptr;
  const auto lines = static_cast<int32_t>(std::min<uint32_t>(descriptors[0].lines, INT32_MAX));
  if (VltStatus s = d->kernel[0](state, src, descriptors[0].firstWord, lines, d->tileState[0]))
    return IP_FAIL(state, s);
  return VLT_OK;
}

VltStatus i_rasterOpFull(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                         int32_t dstXOffset, int32_t dstYOffset, int32_t dstX, int32_t dstY,
                         int32_t width, int32_t height, int32_t depth, uint32_t dstBytesPerLine,
                         RasterOpCode op, const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
                         int32_t srcX, int32_t srcY, int32_t srcXOffset, int32_t srcYOffset,
                         int32_t srcDepth, uint32_t srcBytesPerLine) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  const uint32_t t = rop_truth_table(op);
  const bool readsSource = rop_reads_source(t);
  if (src && srcDepth != depth) return IP_FAIL(state, VLT_ERR_DEPTH);
  if (!valid_depth(depth)) return IP_FAIL(state, VLT_ERR_DEPTH);
  if (!src && readsSource) return IP_FAIL(state, VLT_ERR_PARAM);
  if (src && src != dst && !readsSource) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!dst) return IP_FAIL(state, VLT_ERR_NULL);

  // Everything horizontal in bits, in 64 bits so that no product or sum can wrap.
  const int64_t d = depth;
  int64_t dW = dstWidth * d, dXO = dstXOffset * d, dX = dstX * d, w = width * d;
  int64_t sW = srcWidth * d, sX = srcX * d, sXO = srcXOffset * d;
  int64_t dY = dstY, h = height, sY = srcY;
  if ((op & IP_ROP_NOCLIP) == 0) {
    if (dX < 0) { w += dX; sX -= dX; dX = 0; }
    if (dY < 0) { h += dY; sY -= dY; dY = 0; }
    if (sX < 0) { w += sX; dX -= sX; sX = 0; }
    if (sY < 0) { h += sY; dY -= sY; sY = 0; }
    w = std::min(w, dW - dX - dXO);
    h = std::min(h, int64_t{dstHeight} - dY - dstYOffset);
    if (src) {
      w = std::min(w, sW - sX - sXO);
      h = std::min(h, int64_t{srcHeight} - sY - srcYOffset);
    }
  } else {
    if (const int64_t under = dX + dXO; under < 0) { dX -= under; sX -= under; w += under; }
    if (const int64_t under = dY + dstYOffset; under < 0) { dY -= under; sY -= under; h += under; }
  }
  if (w < 1 || h < 1 || t == 10) return VLT_OK;

  const int64_t dxAbs = dXO + dX, dyAbs = dstYOffset + dY;
  const int64_t sxAbs = readsSource ? sXO + sX : 0, syAbs = readsSource ? srcYOffset + sY : 0;
  // Positions before a buffer's start or beyond 32-bit bit positions cannot be addressed.
  constexpr int64_t kMaxBits = INT32_MAX;
  if (dxAbs < 0 || dyAbs < 0 || sxAbs < 0 || syAbs < 0 || dxAbs + w > kMaxBits ||
      sxAbs + w > kMaxBits || h > kMaxBits || dyAbs > kMaxBits || syAbs > kMaxBits)
    return IP_FAIL(state, VLT_ERR_PARAM);
  const auto width32 = static_cast<uint32_t>(w), lines = static_cast<uint32_t>(h);
  const auto dstBit = static_cast<uint32_t>(dxAbs), dstLine = static_cast<uint32_t>(dyAbs);
  const auto srcBit = static_cast<uint32_t>(sxAbs), srcLine = static_cast<uint32_t>(syAbs);

  uint32_t handled = 0;
  ip_tryRasterOpInHardware(state, dst, dstBit, dstLine, width32, lines, dstBytesPerLine, op, src,
                           srcBit, srcLine, srcBytesPerLine, &handled);
  if (handled) return VLT_OK;

  // The walk describes every image by a writable first-word address; the source is only read.
  uint8_t* srcBuffer = const_cast<uint8_t*>(src);
  RasterOpTileInfo info{};
  ip_getRasterOpTileInfo(state, dst, dstBit, dstLine, width32, lines, dstBytesPerLine, op,
                         srcBuffer, srcBit, srcLine, srcBytesPerLine, &info);
  const uint32_t images = info.srcFirstWord ? 2 : 1;

  // A source that the forward walk would overwrite before reading it is copied first, so that
  // an overlapping operation gives the result of one through a temporary.
  uint8_t* temp = nullptr;
  uint32_t srcStride = srcBytesPerLine, srcStartBit = srcBit;
  if (images == 2) {
    const uint32_t nD = span_words(dstBit, w), nS = span_words(srcBit, w);
    if (forward_walk_unsafe(info.dstFirstWord, nD, dstBytesPerLine, info.srcFirstWord, nS,
                            srcBytesPerLine, lines)) {
      size_t bytes = 0;
      if (!mono::checked_mul<size_t>(size_t{nS} * 4, lines, &bytes)) return IP_FAIL(state, VLT_ERR_NOMEM);
      temp = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, bytes));
      if (!temp) return IP_FAIL(state, VLT_ERR_NOMEM);
      for (uint32_t y = 0; y < lines; ++y)
        std::memcpy(temp + size_t{y} * nS * 4, info.srcFirstWord + size_t{y} * srcBytesPerLine,
                    size_t{nS} * 4);
      info.srcFirstWord = temp;
      srcStride = nS * 4;
      srcStartBit = srcBit & 31u;
    }
  }

  SuperTileRequest req[2]{};
  for (uint32_t i = 0; i < images; ++i) {
    SuperTileRequest& r = req[i];
    r.bytesPerUnit = 4;
    r.bitsPerUnit = 32;
    r.widthBits = info.dstWidthBits;
    r.widthBytes = info.dstWidthBits / 8;
    r.word7 = r.word8 = 1;
    r.lines = r.linesPerTile = lines;
    r.word15 = 1;
  }
  req[0].firstWord = info.dstFirstWord;
  req[0].bytesPerLine = dstBytesPerLine;
  req[0].written = 1;
  req[0].dstNotRead = (t == 0 || t == 3 || t == 12 || t == 15) ? 1 : 0;
  if (images == 2) {
    req[1].leftPadBits = info.srcLeftPadBits;
    req[1].leftPadBytes = info.srcLeftPadBits / 8;
    req[1].firstWord = info.srcFirstWord;
    req[1].bytesPerLine = srcStride;
  }

  SuperTileTessellation tess[2]{};
  RasterOpTileScratch scratch{};
  RasterOpSuperTileData data{};
  data.images = images;
  TileDescriptor* descriptors = nullptr;
  void* block = nullptr;
  IPCacheControl* cache = nullptr;
  VltStatus status = ip_getSuperTileTessellation(state, req, tess, images);
  if (status == VLT_OK) {
    data.tileRows = tess[0].rows;
    data.tileColumns = tess[0].columns;
    data.firstTileX = tess[0].firstTileX;
    RasterOpTileState* ts = &scratch.state;
    uint32_t covered = 0;
    status = ip_getRasterOpTileState(state, info.dstFirstWord, dstBit, width32,
                                     tess[0].tileWidthBits, dstBytesPerLine, op,
                                     info.srcFirstWord, srcStartBit, srcStride,
                                     sizeof scratch, &ts, &data.kernel[0], &covered);
    if (status == VLT_OK) data.tileState[0] = ts;
  }
  if (status == VLT_OK) {
    block = ipcore::alloc(state, IP_SLOT_RECORDS, images * sizeof(TileDescriptor) + 32);
    if (!block) status = VLT_ERR_NOMEM;
    else descriptors = reinterpret_cast<TileDescriptor*>((reinterpret_cast<uintptr_t>(block) + 31) & ~uintptr_t{31});
  }
  if (status == VLT_OK) status = ip_acquireCacheControl(state, &cache);
  if (status == VLT_OK)
    status = ip_processSuperTiles_LRTB(state, tess, cache, images, descriptors,
                                       ip_rasterOpSuperTile, &data);

  ipcore::release(state, IP_SLOT_RECORDS, block);
  ip_releaseRasterOpTileState(state, &data.tileState[0]);
  if (cache) ip_releaseCacheControl(state, cache);
  ipcore::release(state, IP_SLOT_RECORDS, temp);
  if (status != VLT_OK) return IP_FAIL(state, status);
  return VLT_OK;
}

}  // extern "C"
