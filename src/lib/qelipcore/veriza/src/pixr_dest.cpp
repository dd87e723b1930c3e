// Destinations made or checked for a result, frame handling, and whole-image fills, inversion,
// centring and cutting out.

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "byteorder.h"
#include "ipcore.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

bool same_color_map(const PIXRColorMap* a, const PIXRColorMap* b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (a->count != b->count || a->origin != b->origin) return false;
  return a->count == 0 || std::memcmp(a->entries, b->entries, sizeof(uint32_t) * a->count) == 0;
}

void set_created(int32_t* created, int32_t v) {
  if (created != nullptr) *created = v;
}

// Checks a destination the caller filled; an empty one is created by make().
template <class Make>
VltStatus conditional(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t xRes,
                      int32_t yRes, int32_t frame, int32_t channels, int32_t type,
                      const PIXRColorMap* colorMap, PIXR** place, int32_t* dx, int32_t* dy,
                      int32_t* created, Make make) {
  if (*place == nullptr) {
    W_TRY(s, make());
    *dx = *dy = 0;
    set_created(created, 1);
    return VLT_OK;
  }
  W_TRY(s, w_checkDestPixr(s, width, height, depth, xRes, yRes, frame, channels, type, colorMap,
                           *place, dx, dy));
  set_created(created, 0);
  return VLT_OK;
}

// The area of rect (or the whole image) inside a width x height image; false when empty.
bool clip_area(const IPRect* rect, int32_t width, int32_t height, int32_t* x, int32_t* y, int32_t* w,
               int32_t* h) {
  int64_t x0 = 0, y0 = 0, x1 = width, y1 = height;
  if (rect != nullptr) {
    x0 = std::max<int64_t>(rect->x, 0);
    y0 = std::max<int64_t>(rect->y, 0);
    x1 = std::min<int64_t>(int64_t{rect->x} + rect->width, width);
    y1 = std::min<int64_t>(int64_t{rect->y} + rect->height, height);
  }
  if (x1 <= x0 || y1 <= y0) return false;
  *x = static_cast<int32_t>(x0);
  *y = static_cast<int32_t>(y0);
  *w = static_cast<int32_t>(x1 - x0);
  *h = static_cast<int32_t>(y1 - y0);
  return true;
}

}  // namespace

VltStatus w_checkDestPixr(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t xRes,
                          int32_t yRes, int32_t frame, int32_t channelCount, int32_t type,
                          const PIXRColorMap* colorMap, const PIXR* dst, int32_t* dx, int32_t* dy) {
  W_TRY(s, wp_pixrCheckFlags(s, dst, PIXR_ORDER_0, kAnyDepth, kAnyChannels, kAnyFrame));
  if (dx == nullptr || dy == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  const PIXR* c = primary_of(dst);
  const auto near = [](int64_t a, int64_t b, int64_t tolerance) {
    return a - b <= tolerance && b - a <= tolerance;
  };
  if (dst->channelCount != channelCount || c->type != type || !same_color_map(c->colorMap, colorMap) ||
      c->depth != depth || c->frame != frame || !near(c->xRes, xRes, 65536) ||
      !near(c->yRes, yRes, 65536) || !near(c->width, width, c->frame) ||
      !near(c->height, height, c->frame))
    return W_FAIL(s, VLT_ERR_DIMENSIONS);
  *dx = std::max(width - c->width, 0);
  *dy = std::max(height - c->height, 0);
  return VLT_OK;
}

VltStatus wp_createPixrConditional(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                   int32_t xRes, int32_t yRes, int32_t frame, int32_t clear,
                                   PIXR** place, int32_t* dx, int32_t* dy, int32_t* created) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (dx == nullptr || dy == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  const bool filled = *place != nullptr;
  W_TRY(s, conditional(s, width, height, depth, xRes, yRes, frame, 1, 5, nullptr, place, dx, dy, created,
                       [&] { return w_createPixr(s, width, height, depth, xRes, yRes, frame, place); }));
  if (filled && clear)
    W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR, 0, 0, (*place)->width, (*place)->height, *place));
  return VLT_OK;
}

VltStatus wp_createPixrConditionalNoInit(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                         int32_t xRes, int32_t yRes, int32_t frame, PIXR** place,
                                         int32_t* dx, int32_t* dy, int32_t* created) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (dx == nullptr || dy == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, conditional(s, width, height, depth, xRes, yRes, frame, 1, 5, nullptr, place, dx, dy, created,
                       [&] { return w_createPixrNoInit(s, width, height, depth, xRes, yRes, frame, place); }));
  return VLT_OK;
}

namespace {

VltStatus extended_conditional(IPWState* s, int32_t width, int32_t height, int32_t depth,
                               int32_t xRes, int32_t yRes, int32_t frame, int32_t channelCount,
                               int32_t type, const PIXRColorMap* colorMap, PIXR** place,
                               int32_t* dx, int32_t* dy, int32_t* created, bool zeroed) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (dx == nullptr || dy == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  if (type < 1 || type > 7) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, conditional(s, width, height, depth, xRes, yRes, frame, channelCount, type, colorMap, place,
                       dx, dy, created, [&] {
                         return zeroed ? w_createPixrExtended(s, width, height, depth, xRes, yRes, frame,
                                                              channelCount, type, colorMap, place)
                                       : w_createPixrExtendedNoInit(s, width, height, depth, xRes, yRes,
                                                                    frame, channelCount, type, colorMap,
                                                                    place);
                       }));
  return VLT_OK;
}

VltStatus clone_conditional(IPWState* s, const PIXR* src, PIXR** place, int32_t* dx, int32_t* dy,
                            int32_t* created, bool zeroed) {
  if (src == nullptr || place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (dx == nullptr || dy == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, wp_pixrCheckFlags(s, src, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  const PIXR* c = primary_of(src);
  W_TRY(s, conditional(s, c->width, c->height, c->depth, c->xRes, c->yRes, c->frame, src->channelCount,
                       c->type, c->colorMap, place, dx, dy, created, [&] {
                         return zeroed ? w_clonePixr(s, src, place) : w_clonePixrNoInit(s, src, place);
                       }));
  return VLT_OK;
}

}  // namespace

VltStatus wp_createPixrExtendedConditional(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                           int32_t xRes, int32_t yRes, int32_t frame,
                                           int32_t channelCount, int32_t type,
                                           const PIXRColorMap* colorMap, PIXR** place, int32_t* dx,
                                           int32_t* dy, int32_t* created) {
  W_TRY(s, extended_conditional(s, width, height, depth, xRes, yRes, frame, channelCount, type, colorMap,
                                place, dx, dy, created, true));
  return VLT_OK;
}

VltStatus wp_createPixrExtendedConditionalNoInit(IPWState* s, int32_t width, int32_t height,
                                                 int32_t depth, int32_t xRes, int32_t yRes,
                                                 int32_t frame, int32_t channelCount, int32_t type,
                                                 const PIXRColorMap* colorMap, PIXR** place,
                                                 int32_t* dx, int32_t* dy, int32_t* created) {
  W_TRY(s, extended_conditional(s, width, height, depth, xRes, yRes, frame, channelCount, type, colorMap,
                                place, dx, dy, created, false));
  return VLT_OK;
}

VltStatus wp_clonePixrConditional(IPWState* s, const PIXR* src, PIXR** place, int32_t* dx,
                                  int32_t* dy, int32_t* created) {
  W_TRY(s, clone_conditional(s, src, place, dx, dy, created, true));
  return VLT_OK;
}

VltStatus wp_clonePixrConditionalNoInit(IPWState* s, const PIXR* src, PIXR** place, int32_t* dx,
                                        int32_t* dy, int32_t* created) {
  W_TRY(s, clone_conditional(s, src, place, dx, dy, created, false));
  return VLT_OK;
}

VltStatus wp_clearRightBottomFrames(IPWState* s, PIXR* p, int32_t dx, int32_t dy) {
  if (dx <= 0 && dy <= 0) return VLT_OK;
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  if (dx > PIXR_FRAME || dy > PIXR_FRAME) return W_FAIL(s, VLT_ERR_PARAM);
  for (int i = 0; i < channel_count(p); ++i) {
    PIXR* c = channel_at(p, i);
    W_TRY(s, i_clearRightBottomFrames(s, c->imageAll, framed_width(c), framed_height(c),
                                      static_cast<uint32_t>(c->bytesPerLine), c->depth, std::max(dx, 0),
                                      std::max(dy, 0)));
  }
  return VLT_OK;
}

VltStatus w_setFramePixels(IPWState* s, PIXR* p, int32_t value) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  const PIXR* c = primary_of(p);
  const int32_t f = c->frame, w = c->width, h = c->height;
  const int32_t op = value != 0 ? W_ROP_SET_NOCLIP : W_ROP_CLEAR_NOCLIP;
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, op, -f, -f, w + 2 * f, f, p));
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, op, -f, 0, f, h, p));
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, op, -f, h, w + 2 * f, f, p));
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, op, w, 0, f, h, p));
  return VLT_OK;
}

VltStatus w_setFramePixelsGray(IPWState* s, uint8_t* buffer, int32_t framedWidth,
                               int32_t framedHeight, int32_t bpl, int32_t frame, uint8_t gray) {
  if (buffer == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  const int64_t w = int64_t{framedWidth} - 2 * int64_t{frame};
  const int64_t h = int64_t{framedHeight} - 2 * int64_t{frame};
  const int64_t rightEnd = frame + (w + 3) / 4 * 4 + frame;  // frame, row padded to 4, frame
  if (frame < 0 || frame % 4 != 0 || bpl % 4 != 0 || w < 0 || h < 0 || rightEnd > bpl)
    return W_FAIL(s, VLT_ERR_PARAM);
  const size_t stride = static_cast<size_t>(bpl);
  for (int32_t y = 0; y < framedHeight; ++y) {
    uint8_t* line = buffer + static_cast<size_t>(y) * stride;
    if (y < frame || y >= frame + h) {
      std::memset(line, gray, stride);
    } else {
      std::memset(line, gray, static_cast<size_t>(frame));
      std::memset(line + frame + w, gray, static_cast<size_t>(rightEnd - frame - w));
    }
  }
  return VLT_OK;
}

VltStatus w_clear(IPWState* s, PIXR* p) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  const PIXR* c = primary_of(p);
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR, 0, 0, c->width, c->height, p));
  return VLT_OK;
}

VltStatus wp_invertIP(IPWState* s, PIXR* p) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, kAnyFrame));
  for (int i = 0; i < channel_count(p); ++i) {
    PIXR* c = channel_at(p, i);
    if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    const size_t bits = static_cast<size_t>(c->width) * static_cast<size_t>(c->depth);
    const size_t words = bits / 32;
    const uint32_t tailMask = mono::left_mask32(static_cast<unsigned>(bits % 32));
    uint8_t* line = image_of(c);
    for (int32_t y = 0; y < c->height; ++y, line += c->bytesPerLine) {
      for (size_t k = 0; k < words; ++k) mono::store_be32(line + 4 * k, ~mono::load_be32(line + 4 * k));
      if (tailMask != 0) mono::store_be32(line + 4 * words, mono::load_be32(line + 4 * words) ^ tailMask);
    }
  }
  return VLT_OK;
}

VltStatus w_invert(IPWState* s, PIXR* src, PIXR** place) {
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, PIXR_DEPTH_1TO8, kAnyChannels, PIXR_FRAME_32));
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place == src) {
    W_TRY(s, wp_invertIP(s, src));
    return VLT_OK;
  }
  int32_t dx = 0, dy = 0, created = 0;
  W_TRY(s, wp_clonePixrConditionalNoInit(s, src, place, &dx, &dy, &created));
  CreatedGuard guard(s, place, created != 0);
  PIXR* dst = *place;
  for (int i = 0; i < channel_count(src); ++i) {
    const PIXR* sc = channel_at(src, i);
    PIXR* dc = channel_at(dst, i);
    W_TRY(s, i_rasterOpFull(s, dc->imageAll, framed_width(dc), framed_height(dc), dc->frame, dc->frame, 0,
                            0, dc->width, dc->height, dc->depth, static_cast<uint32_t>(dc->bytesPerLine),
                            W_ROP_NOT_S, sc->imageAll, framed_width(sc), framed_height(sc), 0, 0,
                            sc->frame, sc->frame, sc->depth, static_cast<uint32_t>(sc->bytesPerLine)));
  }
  W_TRY(s, wp_clearRightBottomFrames(s, dst, dx, dy));
  guard.keep();
  return VLT_OK;
}

VltStatus w_center(IPWState* s, const PIXR* src, PIXR* dst) {
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, PIXR_FRAME_32));
  W_TRY(s, wp_pixrCheckFlags(s, dst, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (src->depth != dst->depth) return W_FAIL(s, VLT_ERR_PARAM);
  const int32_t dw = dst->width - src->width, dh = dst->height - src->height;
  const int32_t hx = std::abs(dw / 2), hy = std::abs(dh / 2);
  if (dw <= 0 && dh <= 0)
    W_TRY(s, w_rasterop(s, hx, hy, src, W_ROP_COPY, 0, 0, dst->width, dst->height, dst));
  else if (dw > 0 && dh > 0)
    W_TRY(s, w_rasterop(s, 0, 0, src, W_ROP_COPY, hx, hy, src->width, src->height, dst));
  else if (dw > 0)
    W_TRY(s, w_rasterop(s, 0, hy, src, W_ROP_COPY, hx, 0, src->width, dst->height, dst));
  else
    W_TRY(s, w_rasterop(s, hx, 0, src, W_ROP_COPY, 0, hy, dst->width, src->height, dst));
  return VLT_OK;
}

VltStatus w_rectOf(IPWState* s, const PIXR* src, const IPRect* rect, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  if (rect == nullptr) {
    W_TRY(s, w_copy(s, src, place));
    return VLT_OK;
  }
  IPRect* area = nullptr;
  W_TRY(s, rect_on_image(s, src, rect, &area));
  const PIXR* c = primary_of(src);
  VltStatus st = w_createPixrExtendedNoInit(s, area->width, area->height, c->depth, c->xRes, c->yRes,
                                            PIXR_FRAME, channel_count(src), c->type, c->colorMap, place);
  if (st == VLT_OK && area->width > 0 && area->height > 0)
    st = w_rasterop(s, area->x, area->y, src, W_ROP_COPY, 0, 0, area->width, area->height, *place);
  w_destroyRect(s, &area);
  if (st != VLT_OK) {
    w_destroyPixr(s, place);
    return W_FAIL(s, st);
  }
  return VLT_OK;
}

VltStatus w_rowsOf(IPWState* s, const PIXR* src, int32_t y, int32_t height, PIXR** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, kAnyDepth, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (src->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  if (y < 0 || height < 0 || int64_t{y} + height > src->height) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, w_clonePixrStructOnly(s, src, place));
  // Moving the framed area down by y lines puts the view's first row where the source's row y is.
  (*place)->imageAll = src->imageAll + static_cast<size_t>(y) * static_cast<size_t>(src->bytesPerLine);
  (*place)->height = height;
  return VLT_OK;
}

VltStatus w_paint(IPWState* s, PIXR* p, const IPRect* rect, const uint8_t* values) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1TO8, kAnyChannels, PIXR_FRAME_32));
  if (values == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  const PIXR* primary = primary_of(p);
  int32_t x = 0, y = 0, w = 0, h = 0;
  // Clipped to the image so no pixel outside it (or outside the buffer) is written.
  if (!clip_area(rect, primary->width, primary->height, &x, &y, &w, &h)) return VLT_OK;
  if (primary->depth == 1) {
    W_TRY(s, w_rasterop(s, 0, 0, nullptr, values[0] != 0 ? W_ROP_SET : W_ROP_CLEAR, x, y, w, h, p));
    return VLT_OK;
  }
  for (int i = 0; i < channel_count(p); ++i) {
    PIXR* c = channel_at(p, i);
    if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    const auto depth = static_cast<unsigned>(c->depth);
    const uint32_t v = values[i] & ((1u << depth) - 1u);
    // Each channel is clipped to its own size as well.
    int32_t cx = 0, cy = 0, cw = 0, ch = 0;
    const IPRect area{nullptr, nullptr, x, y, w, h};
    if (!clip_area(&area, c->width, c->height, &cx, &cy, &cw, &ch)) continue;
    uint8_t* line = image_of(c) + static_cast<size_t>(cy) * static_cast<size_t>(c->bytesPerLine);
    for (int32_t yy = 0; yy < ch; ++yy, line += c->bytesPerLine) {
      if (depth == 8) {
        std::memset(line + cx, static_cast<int>(v), static_cast<size_t>(cw));
      } else {
        for (int32_t xx = cx; xx < cx + cw; ++xx) mono::set_pixel(line, static_cast<size_t>(xx), depth, v);
      }
    }
  }
  return VLT_OK;
}
