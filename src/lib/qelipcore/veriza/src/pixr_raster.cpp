// Raster and logic operations between records, pixel and line access, bit counts and the
// little-endian field helpers.

#include <algorithm>
#include <cstdint>

#include "byteorder.h"
#include "ipcore.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

VltStatus rasterop_plain(IPWState* s, int32_t srcX, int32_t srcY, const PIXR* src, int32_t op,
                         int32_t dstX, int32_t dstY, int32_t width, int32_t height, PIXR* dst) {
  if (src != nullptr && !is_plain(src)) return W_FAIL(s, VLT_ERR_CHANNELS_MISMATCH);
  if (dst->imageAll == nullptr || (src != nullptr && src->imageAll == nullptr))
    return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  const int32_t dfw = framed_width(dst), dfh = framed_height(dst), df = dst->frame;
  if (src == nullptr) {
    W_TRY(s, i_rasterOpFull(s, dst->imageAll, dfw, dfh, df, df, dstX, dstY, width, height, dst->depth,
                            static_cast<uint32_t>(dst->bytesPerLine), op, nullptr, 0, 0, 0, 0, 0, 0,
                            dst->depth, 0));
    return VLT_OK;
  }
  const int32_t sfw = framed_width(src), sfh = framed_height(src), sf = src->frame;
  // A full-width copy between equal framed layouts runs in whole words; the extra pixels land in
  // the right frame.
  if (op == W_ROP_COPY && srcX == 0 && dstX == 0 && sfw == dfw && sf == df && sf > 30 &&
      width == dfw - 2 * df && dst->depth > 0 && dst->depth <= 32) {
    const int64_t bits = int64_t{width} * dst->depth;
    width = static_cast<int32_t>((bits + 31) / 32 * 32 / dst->depth);
  }
  W_TRY(s, i_rasterOpFull(s, dst->imageAll, dfw, dfh, df, df, dstX, dstY, width, height, dst->depth,
                          static_cast<uint32_t>(dst->bytesPerLine), op, src->imageAll, sfw, sfh, srcX,
                          srcY, sf, sf, src->depth, static_cast<uint32_t>(src->bytesPerLine)));
  return VLT_OK;
}

VltStatus image_of_checked(IPWState* s, const PIXR* c, const uint8_t** out) {
  if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  *out = image_of(c);
  return VLT_OK;
}

}  // namespace

VltStatus w_rasterop(IPWState* s, int32_t srcX, int32_t srcY, const PIXR* src, int32_t op,
                     int32_t dstX, int32_t dstY, int32_t width, int32_t height, PIXR* dst) {
  W_TRY(s, wp_pixrCheckFlags(s, dst, PIXR_ORDER_0, kAnyDepth, kAnyChannels, kAnyFrame));
  if (src != nullptr) W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, kAnyDepth, kAnyChannels, kAnyFrame));
  if (is_plain(dst)) {
    W_TRY(s, rasterop_plain(s, srcX, srcY, src, op, dstX, dstY, width, height, dst));
    return VLT_OK;
  }
  if (src != nullptr && src->channelCount != dst->channelCount) return W_FAIL(s, VLT_ERR_CHANNELS_MISMATCH);
  for (int i = 0; i < dst->channelCount; ++i)
    W_TRY(s, rasterop_plain(s, srcX, srcY, src != nullptr ? src->channels[i] : nullptr, op, dstX, dstY,
                            width, height, dst->channels[i]));
  return VLT_OK;
}

VltStatus w_logicOp(IPWState* s, const PIXR* src, int32_t code, PIXR* dst) {
  if (src == nullptr || dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, src, PIXR_ORDER_0, PIXR_DEPTH_1TO8, kAnyChannels, PIXR_FRAME_32));
  W_TRY(s, wp_pixrCheckFlags(s, dst, PIXR_ORDER_0, PIXR_DEPTH_1TO8, kAnyChannels, PIXR_FRAME_32));
  const PIXR* sp = primary_of(src);
  const PIXR* dp = primary_of(dst);
  if (sp->depth != dp->depth) return W_FAIL(s, VLT_ERR_DIMS_MISMATCH);
  if (src->channelCount != dst->channelCount) return W_FAIL(s, VLT_ERR_CHANNELS_MISMATCH);
  static constexpr int32_t kOps[] = {0, W_ROP_OR, W_ROP_AND, W_ROP_XOR, W_ROP_NOTS_AND_D, W_ROP_COPY, W_ROP_NOT_S};
  if (code < W_LOGIC_OR || code > W_LOGIC_NOT) return W_FAIL(s, VLT_ERR_PARAM);
  // Only the part of the source inside the destination's image takes part.
  const int32_t w = std::min(sp->width, dp->width), h = std::min(sp->height, dp->height);
  if (code == W_LOGIC_REPLACE) {
    // Clear exactly what the source does not cover: the columns right of it, then the lines below.
    if (sp->width < dp->width)
      W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR, sp->width, 0, dp->width - sp->width, dp->height, dst));
    if (sp->height < dp->height)
      W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR, 0, sp->height, dp->width, dp->height - sp->height, dst));
  }
  W_TRY(s, w_rasterop(s, 0, 0, src, kOps[code], 0, 0, w, h, dst));
  return VLT_OK;
}

VltStatus w_pixrGetPixel(IPWState* s, const PIXR* p, int32_t x, int32_t y, uint32_t* value) {
  if (value == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (x < 0 || x >= p->width || y < 0 || y >= p->height) return W_FAIL(s, VLT_ERR_IPC_BOUNDS);
  const uint8_t* image = nullptr;
  W_TRY(s, image_of_checked(s, p, &image));
  const uint8_t* line = image + static_cast<size_t>(y) * static_cast<size_t>(p->bytesPerLine);
  *value = mono::get_pixel(line, static_cast<size_t>(x), static_cast<unsigned>(p->depth));
  return VLT_OK;
}

VltStatus w_pixrPutPixel(IPWState* s, PIXR* p, int32_t x, int32_t y, uint32_t value) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1 | PIXR_DEPTH_8, kAnyChannels, PIXR_FRAME_32));
  const PIXR* primary = primary_of(p);
  if (x < 0 || x >= primary->width || y < 0 || y >= primary->height) return W_FAIL(s, VLT_ERR_IPC_BOUNDS);
  for (int i = 0; i < channel_count(p); ++i) {
    const PIXR* c = channel_at(p, i);
    if (x >= c->width || y >= c->height) return W_FAIL(s, VLT_ERR_IPC_BOUNDS);
    const uint8_t* image = nullptr;
    W_TRY(s, image_of_checked(s, c, &image));
    uint8_t* line = const_cast<uint8_t*>(image) + static_cast<size_t>(y) * static_cast<size_t>(c->bytesPerLine);
    if (c->depth == 1)
      mono::set_bit(line, static_cast<size_t>(x), value != 0);
    else
      line[x] = static_cast<uint8_t>(value);
  }
  return VLT_OK;
}

VltStatus w_pixrPutLine(IPWState* s, PIXR* p, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                        uint32_t value) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (p->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  const int64_t W1 = int64_t{p->width} - 1, H1 = int64_t{p->height} - 1;
  int64_t ax = x0, ay = y0, bx = x1, by = y1;
  if ((ax < 0 && bx < 0) || (ay < 0 && by < 0) || (ax > W1 && bx > W1) || (ay > H1 && by > H1)) return VLT_OK;
  const int64_t dx = bx - ax, dy = by - ay, hx = dx / 2, hy = dy / 2;
  if (dx != 0) {
    if (ax < 0) { ax = 0; ay = by - (bx * dy + hx) / dx; }
    if (bx < 0) { bx = 0; by = ay - (ax * dy + hx) / dx; }
    if (ax > W1) { ax = W1; ay = by - ((bx - W1) * dy + hx) / dx; }
    if (bx > W1) { bx = W1; by = ay - ((ax - W1) * dy + hx) / dx; }
  }
  if (dy != 0) {
    if (ay < 0) { ay = 0; ax = bx - (by * dx + hy) / dy; }
    if (by < 0) { by = 0; bx = ax - (ay * dx + hy) / dy; }
    if (ay > H1) { ay = H1; ax = bx - ((by - H1) * dx + hy) / dy; }
    if (by > H1) { by = H1; bx = ax - ((ay - H1) * dx + hy) / dy; }
  }
  // A segment that only grazes a corner can come out of the clipping still outside; whatever is
  // left is kept on the image so nothing is drawn past the frame.
  if ((ax < 0 && bx < 0) || (ay < 0 && by < 0) || (ax > W1 && bx > W1) || (ay > H1 && by > H1)) return VLT_OK;
  ax = std::clamp<int64_t>(ax, 0, W1);
  bx = std::clamp<int64_t>(bx, 0, W1);
  ay = std::clamp<int64_t>(ay, 0, H1);
  by = std::clamp<int64_t>(by, 0, H1);
  W_TRY(s, i_rasterLine(s, p->imageAll, framed_width(p), framed_height(p), p->depth,
                        static_cast<uint32_t>(p->bytesPerLine), p->frame, p->frame, static_cast<int32_t>(ax),
                        static_cast<int32_t>(ay), static_cast<int32_t>(bx), static_cast<int32_t>(by), value));
  return VLT_OK;
}

VltStatus w_pixrPutRect(IPWState* s, PIXR* p, const IPRect* rect, int32_t thickness, uint32_t value) {
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, PIXR_FRAME_32));
  if (rect == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  IPRect* r = nullptr;
  W_TRY(s, rect_on_image(s, p, rect, &r));
  const uint8_t v[1] = {static_cast<uint8_t>(value)};
  VltStatus st = VLT_OK;
  if (r->width != 0 && r->height != 0) {
    if (thickness < 1) {
      st = VLT_ERR_PARAM;
    } else if (std::min(r->width, r->height) / 2 < thickness) {
      st = w_paint(s, p, r, v);
    } else {
      const IPRect bands[4] = {
          {nullptr, nullptr, r->x, r->y, r->width, thickness},
          {nullptr, nullptr, r->x, r->y + r->height - thickness, r->width, thickness},
          {nullptr, nullptr, r->x, r->y, thickness, r->height},
          {nullptr, nullptr, r->x + r->width - thickness, r->y, thickness, r->height},
      };
      for (const IPRect& band : bands)
        if (st == VLT_OK) st = w_paint(s, p, &band, v);
    }
  }
  w_destroyRect(s, &r);
  if (st != VLT_OK) return W_FAIL(s, st);
  return VLT_OK;
}

VltStatus w_numberBits(IPWState* s, const PIXR* p, uint32_t* count) {
  if (p == nullptr || count == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, kAnyFrame));
  uint32_t total = 0;
  for (int i = 0; i < channel_count(p); ++i) {
    const PIXR* c = channel_at(p, i);
    const uint8_t* image = nullptr;
    W_TRY(s, image_of_checked(s, c, &image));
    int32_t bpl = 0;
    size_t size = 0;
    W_TRY(s, geometry(s, c->width, c->height, c->depth, c->frame, &bpl, &size));
    uint32_t n = 0;
    if (c->frame == 0 && bpl != c->bytesPerLine) {
      // A frameless buffer of foreign stride: count its whole lines, padding included.
      const int64_t bytes = int64_t{c->bytesPerLine} * c->height;
      if (bytes < 0 || bytes > INT32_MAX) return W_FAIL(s, VLT_ERR_PARAM);
      W_TRY(s, i_countBits(s, image, 0, 0, static_cast<int32_t>(bytes), 1, 8, 0, &n));
    } else {
      W_TRY(s, i_countBits(s, image, 0, 0, c->width, c->height, c->depth,
                           static_cast<uint32_t>(c->bytesPerLine), &n));
    }
    total += n;
  }
  *count = total;
  return VLT_OK;
}

namespace {

// Counts rect (x, y relative to origin) in every channel; origin 0 is the image, 1 the framed area.
VltStatus count_rect(IPWState* s, const PIXR* p, const IPRect* rect, bool framed, uint32_t* count) {
  uint32_t total = 0;
  for (int i = 0; i < channel_count(p); ++i) {
    const PIXR* c = channel_at(p, i);
    if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    const uint8_t* base = framed ? c->imageAll : image_of(c);
    uint32_t n = 0;
    W_TRY(s, i_countBits(s, base, rect->x, rect->y, rect->width, rect->height, c->depth,
                         static_cast<uint32_t>(c->bytesPerLine), &n));
    total += n;
  }
  *count = total;
  return VLT_OK;
}

}  // namespace

VltStatus w_numberBitsRect(IPWState* s, const PIXR* p, const IPRect* rect, uint32_t* count) {
  if (p == nullptr || rect == nullptr || count == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  uint8_t valid = 0;
  W_TRY(s, w_isRectValid(s, p, rect, &valid));
  if (!valid || rect->width < 0 || rect->height < 0) return W_FAIL(s, VLT_ERR_IPC_BOUNDS);
  W_TRY(s, count_rect(s, p, rect, false, count));
  return VLT_OK;
}

VltStatus w_numberBitsFrameRect(IPWState* s, const PIXR* p, const IPRect* rect, uint32_t* count) {
  if (p == nullptr || rect == nullptr || count == nullptr) return W_FAIL(s, VLT_ERR_PIXR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  // The framed area bounds what may be read.
  const PIXR* c = primary_of(p);
  if (rect->x < 0 || rect->y < 0 || rect->width < 0 || rect->height < 0 ||
      int64_t{rect->x} + rect->width > framed_width(c) || int64_t{rect->y} + rect->height > framed_height(c))
    return W_FAIL(s, VLT_ERR_IPC_BOUNDS);
  W_TRY(s, count_rect(s, p, rect, true, count));
  return VLT_OK;
}

VltStatus w_getIntel16(IPWState* s, const uint8_t* bytes, uint16_t* value) {
  if (bytes == nullptr || value == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *value = mono::load_le16(bytes);
  return VLT_OK;
}

VltStatus w_putIntel16(IPWState* s, uint16_t value, uint8_t* bytes) {
  if (bytes == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  mono::store_le16(bytes, value);
  return VLT_OK;
}

VltStatus w_getIntel32(IPWState* s, const uint8_t* bytes, uint32_t* value) {
  if (bytes == nullptr || value == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  *value = mono::load_le32(bytes);
  return VLT_OK;
}

VltStatus w_putIntel32(IPWState* s, uint32_t value, uint8_t* bytes) {
  if (bytes == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  mono::store_le32(bytes, value);
  return VLT_OK;
}

VltStatus w_flip(IPWState* s, PIXR* p) {
  W_TRY(s, wp_pixrCheckFlags(s, p, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  return VLT_OK;
}
