// Rescaling of framed images to a given size: nearest pixel (whole image or a rectangle of the
// scaled image through precomputed tables), bilinear for grey images, and the minimum-keeping
// transfer of grey values under a mask.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "checked_size.h"
#include "i_ccruns.h"
#include "i_rescale.h"
#include "ipcore.h"
#include "pixr_geom.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

constexpr uint32_t kNearestDepths = PIXR_DEPTH_1 | PIXR_DEPTH_4 | PIXR_DEPTH_8;
constexpr uint32_t kLinearDepths = PIXR_DEPTH_4 | PIXR_DEPTH_8;

VltStatus check_source(IPWState* s, const PIXR* src, uint32_t depths) {
  // Everything after the checks allocates through the state.
  if (s == nullptr) return VLT_ERR_NULL_IPWSTATE;
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, depths, kAnyChannels, PIXR_FRAME_32));
  W_TRY(s, check_channels_alike(s, src));
  return VLT_OK;
}

VltStatus check_images(IPWState* s, const PIXR* src, PIXR** dst, uint32_t depths) {
  W_TRY(s, check_source(s, src, depths));
  if (dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*dst != nullptr) W_TRY(s, check_source(s, *dst, depths));
  return VLT_OK;
}

// Resolution (16.16) of an image scaled from `from` to `to` pixels: whole dots per inch, rounded
// before the division and truncated after it. An empty source keeps its resolution.
int32_t scaled_resolution(int32_t res, int32_t to, int32_t from) {
  if (from <= 0) return res;
  const int64_t dpi = (int64_t{res} + 32768) >> 16;
  const int64_t scaled = std::clamp<int64_t>(dpi * to / from, -32768, 32767);
  return static_cast<int32_t>(scaled * 65536);
}

// Truncation toward zero that saturates, NaN giving 0.
int32_t saturating_int(double v) {
  if (std::isnan(v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

// A destination made or checked for a scaled image of the source's kind.
VltStatus scaled_destination(IPWState* s, const PIXR* src, int32_t width, int32_t height,
                             int32_t scaledW, int32_t scaledH, PIXR** dst, int32_t* dx,
                             int32_t* dy, int32_t* created) {
  const PIXR* p = primary_of(src);
  W_TRY(s, wp_createPixrExtendedConditionalNoInit(
               s, width, height, p->depth, scaled_resolution(p->xRes, scaledW, p->width),
               scaled_resolution(p->yRes, scaledH, p->height), PIXR_FRAME, channel_count(src),
               p->type, p->colorMap, dst, dx, dy, created));
  return VLT_OK;
}

}  // namespace

VltStatus w_scaleToSize(IPWState* s, const PIXR* src, int32_t width, int32_t height, PIXR** dst) {
  W_TRY(s, check_images(s, src, dst, kNearestDepths));
  const PIXR* p = primary_of(src);
  // An empty source has no pixel to sample for a non-empty result.
  if (width > 0 && height > 0 && (p->width == 0 || p->height == 0)) return W_FAIL(s, VLT_ERR_PARAM);
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, scaled_destination(s, src, width, height, width, height, dst, &dx, &dy, &created));
  CreatedGuard guard(s, dst, created != 0);
  if (width <= 0 || height <= 0) {
    guard.keep();
    return VLT_OK;
  }
  if (width == p->width && height == p->height) {
    W_TRY(s, w_copy(s, src, dst));
    guard.keep();
    return VLT_OK;
  }
  PIXR* d = *dst;
  // The kernel writes the wanted size; a slightly smaller destination takes the rest in its
  // frame, cleared below.
  for (int i = 0; i < channel_count(src); ++i) {
    const PIXR* sc = channel_at(src, i);
    PIXR* dc = channel_at(d, i);
    if (sc->imageAll == nullptr || dc->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    W_TRY(s, i_rescaleNoInterp(s, sc->imageAll, framed_width(sc), framed_height(sc), sc->bytesPerLine,
                               sc->depth, dc->imageAll, width + 2 * PIXR_FRAME, height + 2 * PIXR_FRAME,
                               dc->bytesPerLine, dc->depth));
  }
  W_TRY(s, wp_clearRightBottomFrames(s, d, dx, dy));
  guard.keep();
  return VLT_OK;
}

VltStatus w_makeScaleToSizeTables(IPWState* s, const PIXR* src, int32_t width, int32_t height,
                                  void** tables) {
  if (tables == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_source(s, src, kNearestDepths));
  const PIXR* p = primary_of(src);
  size_t size = 0;
  W_TRY(s, i_getScaleToSizeTableSize(s, p->depth, width, height, &size));
  void* block = wp_alloc(s, size);
  if (block == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  const VltStatus st =
      i_fillScaleToSizeTables(s, p->width, p->height, p->bytesPerLine, p->depth, width, height, size, block);
  if (st != VLT_OK) {
    wp_release(s, block);
    *tables = nullptr;
    return W_FAIL(s, st);
  }
  *tables = block;
  return VLT_OK;
}

VltStatus w_destroyScaleToSizeTables(IPWState* s, void** tables) {
  if (tables == nullptr) return VLT_OK;
  if (s != nullptr && *tables != nullptr) wp_release(s, *tables);
  *tables = nullptr;
  return VLT_OK;
}

VltStatus w_scaleToSizeRect(IPWState* s, const PIXR* src, const IPRect* rect, const void* tables,
                            PIXR** dst) {
  W_TRY(s, check_source(s, src, kNearestDepths));
  if (rect == nullptr || tables == nullptr || dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (rect->width < 1 || rect->height < 1) return VLT_OK;
  if (*dst != nullptr) W_TRY(s, check_source(s, *dst, kNearestDepths));
  int32_t sw = 0, sh = 0;
  W_TRY(s, i_getDimensionsFromScalingTables(s, tables, &sw, &sh));
  if (rect->x < 0 || rect->y < 0 || int64_t{rect->x} + rect->width > sw ||
      int64_t{rect->y} + rect->height > sh)
    return W_FAIL(s, VLT_ERR_PARAM);
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, scaled_destination(s, src, rect->width, rect->height, sw, sh, dst, &dx, &dy, &created));
  CreatedGuard guard(s, dst, created != 0);
  PIXR* d = *dst;
  const PIXR* dp = primary_of(d);
  if (dp->width != rect->width || dp->height != rect->height) return W_FAIL(s, VLT_ERR_PARAM);
  for (int i = 0; i < channel_count(src); ++i) {
    const PIXR* sc = channel_at(src, i);
    PIXR* dc = channel_at(d, i);
    if (sc->imageAll == nullptr || dc->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    W_TRY(s, i_rescaleNoInterpSubRegion(s, sc->imageAll, framed_width(sc), framed_height(sc),
                                        sc->bytesPerLine, sc->depth, tables, dc->imageAll, rect->x,
                                        rect->y, framed_width(dc), framed_height(dc), dc->bytesPerLine,
                                        dc->depth));
  }
  W_TRY(s, wp_clearRightBottomFrames(s, d, dx, dy));
  guard.keep();
  return VLT_OK;
}

VltStatus w_scaleLinearSize(IPWState* s, PIXR* src, int32_t width, int32_t height, PIXR** dst) {
  W_TRY(s, check_images(s, src, dst, kLinearDepths));
  const PIXR* p = primary_of(src);
  if (width > 0 && height > 0 && (p->width == 0 || p->height == 0)) return W_FAIL(s, VLT_ERR_PARAM);
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, scaled_destination(s, src, width, height, width, height, dst, &dx, &dy, &created));
  CreatedGuard guard(s, dst, created != 0);
  if (width <= 0 || height <= 0) {
    guard.keep();
    return VLT_OK;
  }
  if (width == p->width && height == p->height) {
    W_TRY(s, w_copy(s, src, dst));
    guard.keep();
    return VLT_OK;
  }
  PIXR* d = *dst;
  if (is_plain(src)) {
    if (src->imageAll == nullptr || d->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    W_TRY(s, i_rescaleArb(s, src->imageAll, framed_width(src), framed_height(src), src->bytesPerLine,
                          src->depth, d->imageAll, width + 2 * PIXR_FRAME, height + 2 * PIXR_FRAME,
                          d->bytesPerLine, d->depth));
  } else {
    for (int i = 0; i < channel_count(src); ++i) {
      PIXR* dc = channel_at(d, i);
      W_TRY(s, w_scaleLinearSize(s, channel_at(src, i), dc->width, dc->height, &dc));
    }
  }
  W_TRY(s, wp_clearRightBottomFrames(s, d, dx, dy));
  guard.keep();
  return VLT_OK;
}

VltStatus w_scaleMaskedArea(IPWState* s, const PIXR* mask, const PIXR* src, float sx, float sy,
                            int32_t rowOffset, PIXR* dst) {
  W_TRY(s, wp_pixrCheckFlags(s, mask, PIXR_ORDER_0, PIXR_DEPTH_1, PIXR_CHANNELS_1, PIXR_FRAME_32));
  W_TRY(s, check_source(s, src, PIXR_DEPTH_8));
  if (dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_source(s, dst, PIXR_DEPTH_8));
  if (dst->channelCount != src->channelCount) return W_FAIL(s, VLT_ERR_CHANNELS_MISMATCH);
  const PIXR* sp = primary_of(src);
  const PIXR* dp = primary_of(dst);
  if (mask->width != sp->width || mask->height != sp->height) return W_FAIL(s, VLT_ERR_DIMS_MISMATCH);
  const int32_t W = mask->width, H = mask->height, DW = dp->width, DH = dp->height;
  const int channels = channel_count(src);
  for (int c = 0; c < channels; ++c)
    if (channel_at(src, c)->imageAll == nullptr || channel_at(dst, c)->imageAll == nullptr)
      return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  if (mask->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);

  size_t runBytes = 0, mapBytes = 0;
  if (!mono::checked_mul(static_cast<size_t>(W) + 3, 2 * sizeof(int32_t), &runBytes) ||
      !mono::checked_mul(static_cast<size_t>(W) + static_cast<size_t>(H), sizeof(int32_t), &mapBytes))
    return W_FAIL(s, VLT_ERR_PARAM);
  Set0Block runBlock(s), mapBlock(s);
  if (!runBlock.allocate(runBytes) || !mapBlock.allocate(mapBytes)) return W_FAIL(s, VLT_ERR_NOMEM);
  int32_t* const runs = runBlock.words();
  int32_t* const cols = mapBlock.words();
  int32_t* const rows = cols + W;
  if (W == 0 || H == 0 || DW == 0 || DH == 0) return VLT_OK;

  // Positions are kept inside the destination on both sides: a negative offset or factor would
  // otherwise address lines and columns before it.
  for (int32_t i = 0; i < H; ++i) {
    const float product = static_cast<float>(int64_t{i} + rowOffset) * sy;
    rows[i] = std::clamp(saturating_int(static_cast<double>(product) + 0.5), 0, DH - 1);
  }
  for (int32_t j = 0; j < W; ++j)
    cols[j] = std::clamp(saturating_int(static_cast<double>(static_cast<float>(j) * sx)), 0, DW - 1);

  const uint8_t* maskLine = image_of(mask);
  for (int32_t i = 0; i < H; ++i, maskLine += mask->bytesPerLine) {
    int32_t* end = nullptr;
    W_TRY(s, i_findAllRunsInLineArray(s, maskLine, W - 1, 0, runs, static_cast<uint32_t>(W) + 3, 0, &end));
    for (int c = 0; c < channels; ++c) {
      const PIXR* sc = channel_at(src, c);
      const PIXR* dc = channel_at(dst, c);
      const uint8_t* from = image_of(sc) + static_cast<size_t>(i) * static_cast<size_t>(sc->bytesPerLine);
      uint8_t* to = image_of(dc) + static_cast<size_t>(rows[i]) * static_cast<size_t>(dc->bytesPerLine);
      for (const int32_t* r = runs; r < end; r += 2) {
        for (int32_t j = r[0]; j <= r[1]; ++j) {
          const uint8_t v = std::max<uint8_t>(from[j], 2);
          uint8_t& target = to[cols[j]];
          if (target < 2 || target > v) target = v;
        }
      }
    }
  }
  return VLT_OK;
}
