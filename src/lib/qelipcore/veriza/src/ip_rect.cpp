// Rectangle records and their arithmetic, and in-place cutting and trimming of framed images.

#include <algorithm>
#include <cstring>

#include "ipcore.h"
#include "iprect.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

IPRect* new_rect(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height) {
  auto* r = static_cast<IPRect*>(wp_allocZeroed(s, 1, sizeof(IPRect)));
  if (r != nullptr) *r = IPRect{nullptr, nullptr, x, y, width, height};
  return r;
}

// The product in single precision, then halves away from zero.
int32_t round_scaled(int32_t v, float scale) {
  const float product = static_cast<float>(v) * scale;
  const double r = product > 0.0f ? static_cast<double>(product) + 0.5 : static_cast<double>(product) - 0.5;
  return static_cast<int32_t>(std::clamp(r, -2147483648.0, 2147483647.0));
}

void xform(int32_t dx, int32_t dy, float sx, float sy, IPRect* r) {
  r->x = round_scaled(r->x + dx, sx);
  r->y = round_scaled(r->y + dy, sy);
  r->width = std::max(round_scaled(r->width, sx), 1);
  r->height = std::max(round_scaled(r->height, sy), 1);
}

VltStatus check_out(IPWState* s, const void* in, IPRect** out) {
  if (in == nullptr || out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*out != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  return VLT_OK;
}

}  // namespace

VltStatus w_createRect(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height, IPRect** out) {
  if (out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*out != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  if (width < 0 || height < 0) return W_FAIL(s, VLT_ERR_PARAM);
  IPRect* r = s != nullptr ? new_rect(s, x, y, width, height) : nullptr;
  if (r == nullptr) return W_FAIL(s, VLT_ERR_NOMEM);
  *out = r;
  return VLT_OK;
}

VltStatus w_destroyRect(IPWState* s, IPRect** place) {
  if (place == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*place != nullptr && s != nullptr) {
    wp_release(s, *place);
    *place = nullptr;
  }
  return VLT_OK;
}

VltStatus w_cutRectFromList(IPWState* s, IPRect* r, IPRect** head) {
  if (r == nullptr || head == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*head == r) {
    *head = r->next;
    if (r->next != nullptr) r->next->prev = nullptr;
  } else {
    if (r->prev == nullptr) return W_FAIL(s, VLT_ERR_PARAM);
    r->prev->next = r->next;
    if (r->next != nullptr) r->next->prev = r->prev;
  }
  if (s != nullptr) wp_release(s, r);
  return VLT_OK;
}

VltStatus w_destroyRectList(IPWState* s, IPRect** head) {
  if (head == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  for (IPRect* r = *head; r != nullptr;) {
    IPRect* next = r->next;
    if (s != nullptr) wp_release(s, r);
    r = next;
  }
  *head = nullptr;
  return VLT_OK;
}

VltStatus w_copyRect(IPWState* s, const IPRect* src, IPRect** out) {
  W_TRY(s, check_out(s, src, out));
  W_TRY(s, w_createRect(s, src->x, src->y, std::max(src->width, 0), std::max(src->height, 0), out));
  (*out)->width = src->width;
  (*out)->height = src->height;
  return VLT_OK;
}

VltStatus w_resizeRectP(IPWState* s, const IPRect* r, int32_t dw, int32_t dh, IPRect** out) {
  W_TRY(s, check_out(s, r, out));
  const int32_t w = static_cast<int32_t>(std::max<int64_t>(1, int64_t{r->width} + dw));
  const int32_t h = static_cast<int32_t>(std::max<int64_t>(1, int64_t{r->height} + dh));
  W_TRY(s, w_createRect(s, r->x + r->width / 2 - w / 2, r->y + r->height / 2 - h / 2, w, h, out));
  return VLT_OK;
}

VltStatus w_xformRectIP(IPWState* s, int32_t dx, int32_t dy, float sx, float sy, IPRect* r) {
  if (r == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (sx < 0.0f || sy < 0.0f) return W_FAIL(s, VLT_ERR_PARAM);
  xform(dx, dy, sx, sy, r);
  return VLT_OK;
}

VltStatus w_xformRectList(IPWState* s, int32_t dx, int32_t dy, float sx, float sy, IPRect* first) {
  if (first == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  for (IPRect* r = first; r != nullptr; r = r->next) W_TRY(s, w_xformRectIP(s, dx, dy, sx, sy, r));
  return VLT_OK;
}

VltStatus w_xformRect(IPWState* s, const IPRect* r, int32_t dx, int32_t dy, float sx, float sy,
                      IPRect** out) {
  W_TRY(s, check_out(s, r, out));
  if (sx < 0.0f || sy < 0.0f) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, w_copyRect(s, r, out));
  xform(dx, dy, sx, sy, *out);
  return VLT_OK;
}

VltStatus w_clipRect(IPWState* s, const IPRect* r, int32_t width, int32_t height, IPRect** out) {
  W_TRY(s, check_out(s, r, out));
  if (width <= 0 || height <= 0) return W_FAIL(s, VLT_ERR_PARAM);
  const int64_t right = int64_t{r->x} + r->width - 1, bottom = int64_t{r->y} + r->height - 1;
  const int32_t x = std::max(0, std::min(width - 1, r->x));
  const int32_t y = std::max(0, std::min(height - 1, r->y));
  int32_t w = 0, h = 0;
  if (right >= 0 && bottom >= 0 && r->x < width && r->y < height) {
    w = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(width - 1, right)) - x + 1);
    h = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(height - 1, bottom)) - y + 1);
    // A rectangle of negative size reaches no pixel.
    w = std::max(w, 0);
    h = std::max(h, 0);
  }
  W_TRY(s, w_createRect(s, x, y, w, h, out));
  return VLT_OK;
}

VltStatus w_cropRect(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height, IPRect* r) {
  if (r == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (width <= 0 || height <= 0) return W_FAIL(s, VLT_ERR_PARAM);
  int64_t rx = r->x, ry = r->y, rw = r->width, rh = r->height;
  if (rx < x) { rw -= x - rx; rx = x; }
  if (ry < y) { rh -= y - ry; ry = y; }
  if (rx + rw > int64_t{x} + width) rw = int64_t{x} + width - rx;
  if (ry + rh > int64_t{y} + height) rh = int64_t{y} + height - ry;
  r->x = static_cast<int32_t>(rx);
  r->y = static_cast<int32_t>(ry);
  r->width = static_cast<int32_t>(std::max<int64_t>(rw, 0));
  r->height = static_cast<int32_t>(std::max<int64_t>(rh, 0));
  return VLT_OK;
}

VltStatus w_clipRectToPixr(IPWState* s, const PIXR* image, const IPRect* r, IPRect** out) {
  W_TRY(s, check_out(s, r, out));
  W_TRY(s, wp_pixrCheckFlags(s, image, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  const PIXR* c = primary_of(image);
  W_TRY(s, w_clipRect(s, r, c->width, c->height, out));
  return VLT_OK;
}

VltStatus w_unionRects(IPWState* s, const IPRect* a, const IPRect* b, IPRect* result) {
  if (a == nullptr || b == nullptr || result == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  const int64_t x = std::min(a->x, b->x), y = std::min(a->y, b->y);
  const int64_t right = std::max(int64_t{a->x} + a->width, int64_t{b->x} + b->width) - 1;
  const int64_t bottom = std::max(int64_t{a->y} + a->height, int64_t{b->y} + b->height) - 1;
  result->x = static_cast<int32_t>(x);
  result->y = static_cast<int32_t>(y);
  result->width = static_cast<int32_t>(right - x + 1);
  result->height = static_cast<int32_t>(bottom - y + 1);
  return VLT_OK;
}

VltStatus w_isRectValid(IPWState* s, const PIXR* image, const IPRect* r, uint8_t* valid) {
  if (r == nullptr || valid == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, wp_pixrCheckFlags(s, image, kAnyOrder, kAnyDepth, kAnyChannels, kAnyFrame));
  const PIXR* c = primary_of(image);
  *valid = r->x >= 0 && r->y >= 0 && int64_t{r->x} + r->width <= c->width &&
           int64_t{r->y} + r->height <= c->height;
  return VLT_OK;
}

VltStatus veriza::rect_on_image(IPWState* s, const PIXR* image, const IPRect* rect, IPRect** out) {
  uint8_t valid = 0;
  W_TRY(s, w_isRectValid(s, image, rect, &valid));
  if (valid)
    W_TRY(s, w_copyRect(s, rect, out));
  else
    W_TRY(s, w_clipRectToPixr(s, image, rect, out));
  return VLT_OK;
}

namespace {

VltStatus clear_band(IPWState* s, PIXR* c, int32_t x, int32_t y, int32_t w, int32_t h) {
  W_TRY(s, i_rasterOpFull(s, c->imageAll, framed_width(c), framed_height(c), 0, 0, x, y, w, h, c->depth,
                          static_cast<uint32_t>(c->bytesPerLine), W_ROP_CLEAR_NOCLIP, nullptr, 0, 0, 0, 0, 0,
                          0, c->depth, 0));
  return VLT_OK;
}

VltStatus cut_channel(IPWState* s, PIXR* c, int32_t x, int32_t y, int32_t nw, int32_t nh) {
  const int32_t W = c->width, H = c->height, f = PIXR_FRAME;
  const size_t oldBpl = static_cast<size_t>(c->bytesPerLine);
  if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  if (s->purifyIsRunning != 0) {
    const size_t used = static_cast<size_t>(W + 2 * f) * static_cast<size_t>(c->depth) / 8;
    for (int32_t line = 0; line < H + 2 * f; ++line)
      if (used < oldBpl) std::memset(c->imageAll + static_cast<size_t>(line) * oldBpl + used, 0, oldBpl - used);
  }
  int32_t newBpl = 0;
  size_t size = 0;
  W_TRY(s, geometry(s, nw, nh, c->depth, f, &newBpl, &size));
  uint32_t offset = 0;
  W_TRY(s, i_calcFrameOffset(s, c->imageBuffer, static_cast<uint32_t>(newBpl), c->depth, f, &offset));
  uint8_t* newAll = c->imageBuffer + offset;
  // The new layout starts no later and its lines are no longer, so a forward copy in one buffer
  // never overwrites source pixels it still has to read.
  if (newAll > c->imageAll || static_cast<size_t>(newBpl) > oldBpl) return W_FAIL(s, VLT_ERR_INTERNAL);
  W_TRY(s, i_rasterOpFull(s, newAll, nw + 2 * f, nh + 2 * f, 0, 0, f, f, nw, nh, c->depth,
                          static_cast<uint32_t>(newBpl), W_ROP_COPY_NOCLIP, c->imageAll, W + 2 * f, H + 2 * f,
                          x + f, y + f, 0, 0, c->depth, static_cast<uint32_t>(oldBpl)));
  c->width = nw;
  c->height = nh;
  c->bytesPerLine = newBpl;
  c->imageAll = newAll;
  W_TRY(s, w_reallocPixrData(s, c));
  W_TRY(s, clear_band(s, c, 0, 0, nw + 2 * f, f));
  W_TRY(s, clear_band(s, c, 0, f, f, nh));
  W_TRY(s, clear_band(s, c, nw + f, f, f, nh));
  W_TRY(s, clear_band(s, c, 0, nh + f, nw + 2 * f, f));
  return VLT_OK;
}

}  // namespace

VltStatus w_cutRectIP(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height, PIXR* image) {
  W_TRY(s, wp_pixrCheckFlags(s, image, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  const PIXR* c = primary_of(image);
  const int32_t W = c->width, H = c->height;
  int64_t rx = x, ry = y, rw = width, rh = height;
  if (rx + rw < 0 || ry + rh < 0 || rx >= W || ry >= H || rw < 0 || rh < 0) return VLT_ERR_PARAM;
  if (rx < 0) { rw += rx; rx = 0; }
  if (ry < 0) { rh += ry; ry = 0; }
  const int64_t nw = rx + rw > W ? W - rx : rw;
  const int64_t nh = ry + rh > H ? H - ry : rh;
  for (int i = 0; i < channel_count(image); ++i) {
    PIXR* ch = channel_at(image, i);
    // Channels of another size than the primary would be read past their buffers.
    if (ch->width != W || ch->height != H) return W_FAIL(s, VLT_ERR_DIMENSIONS);
    W_TRY(s, cut_channel(s, ch, static_cast<int32_t>(rx), static_cast<int32_t>(ry), static_cast<int32_t>(nw),
                         static_cast<int32_t>(nh)));
  }
  return VLT_OK;
}

VltStatus w_trimRightBottomIP(IPWState* s, int32_t width, int32_t height, PIXR* image) {
  W_TRY(s, wp_pixrCheckFlags(s, image, PIXR_ORDER_0, kAnyDepth, kAnyChannels, PIXR_FRAME_32));
  const int32_t f = PIXR_FRAME;
  for (int i = 0; i < channel_count(image); ++i) {
    PIXR* c = channel_at(image, i);
    if (width < 0 || height < 0 || width > c->width || height > c->height)
      return W_FAIL(s, VLT_ERR_APPS_DIMENSIONS);
    if (c->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    const bool narrower = width < c->width, lower = height < c->height;
    c->width = width;
    c->height = height;
    if (narrower) W_TRY(s, clear_band(s, c, width + f, f, f, height));
    if (lower) W_TRY(s, clear_band(s, c, f, height + f, width + f, f));
  }
  return VLT_OK;
}
