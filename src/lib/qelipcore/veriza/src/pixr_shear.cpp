// Arbitrary rotation for deskewing: the core's rotation without interpolation for small angles,
// and rotation by shears of whole bands of lines or columns, either copied into a larger image
// or moved inside the image itself with two margin images that hold what leaves it for a while.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "byteorder.h"
#include "i_rotate.h"
#include "pixr_geom.h"
#include "pixr_internal.h"
#include "pixr_ops.h"

using namespace veriza;

namespace {

constexpr double kSmallAngle = 0.12;
constexpr double kNegligibleAngle = 0.002;

VltStatus check_image(IPWState* s, const PIXR* p, uint32_t channels) {
  // Everything after the checks allocates through the state.
  if (s == nullptr) return VLT_ERR_NULL_IPWSTATE;
  W_TRY(s, wp_pixrCheckFlags(s, p, PIXR_ORDER_0, PIXR_DEPTH_1TO8, channels, PIXR_FRAME_32));
  W_TRY(s, check_channels_alike(s, p));
  return VLT_OK;
}

// trunc(angle * 10000) in -7853..7853, the product in single precision; NaN is refused.
bool angle_accepted(float angle) {
  const float n = angle * 10000.0f;
  return n > -7854.0f && n < 7854.0f;
}

bool small_angle(float angle) { return std::fabs(static_cast<double>(angle)) < kSmallAngle; }

// Pixels that no source pixel reaches: off at depth 1, all ones deeper.
int32_t background_op(int32_t depth) { return depth == 1 ? W_ROP_CLEAR : W_ROP_SET; }

VltStatus fill(IPWState* s, PIXR* p, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return VLT_OK;
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, background_op(p->depth), x, y, w, h, p));
  return VLT_OK;
}

VltStatus copy(IPWState* s, const PIXR* src, int32_t sx, int32_t sy, PIXR* dst, int32_t dx, int32_t dy,
               int32_t w, int32_t h, int32_t op = W_ROP_COPY) {
  if (w <= 0 || h <= 0) return VLT_OK;
  W_TRY(s, w_rasterop(s, sx, sy, src, op, dx, dy, w, h, dst));
  return VLT_OK;
}

// Truncation toward zero of a non-negative double that saturates.
int64_t trunc_size(double v) {
  if (!(v > 0)) return 0;
  return v >= 4611686018427387904.0 ? int64_t{1} << 62 : static_cast<int64_t>(v);
}

// Band step in 16.16 lines for a shear factor: trunc(65536 / |f|), at least one unit.
int64_t band_step(float absFactor) {
  return std::max<int64_t>(trunc_size(65536.0 / static_cast<double>(absFactor)), 1);
}

// ---- Copying shear

VltStatus shear_copy(IPWState* s, const PIXR* src, bool horizontal, float f, PIXR** out) {
  const float af = std::fabs(f);
  const int32_t W = src->width, H = src->height;
  const int32_t D = horizontal ? H : W;  // the extent the bands divide
  const int32_t E = horizontal ? W : H;  // each band's extent along the growing direction
  const float spread = static_cast<float>(D) * af;
  const int64_t grow = trunc_size(static_cast<double>(spread) + 0.9999);
  if (int64_t{E} + grow > INT32_MAX) return W_FAIL(s, VLT_ERR_PARAM);
  const int32_t g = static_cast<int32_t>(grow);
  const int32_t outW = horizontal ? W + g : W, outH = horizontal ? H : H + g;
  W_TRY(s, w_createPixrExtended(s, outW, outH, src->depth, src->xRes, src->yRes, PIXR_FRAME, 1, src->type,
                                src->colorMap, out));
  CreatedGuard guard(s, out, true);
  PIXR* d = *out;
  // Deep images get their background everywhere first: strips of trunc(D |f|) beside the
  // bands would leave the last column (line) unfilled when D |f| has a fraction.
  if (src->depth > 1) W_TRY(s, fill(s, d, 0, 0, outW, outH));
  const float step = std::fabs(1.0f / f);
  const auto band_edge = [&](int64_t k) {
    return std::min<int64_t>(trunc_size(static_cast<double>(static_cast<float>(k) * step)), D);
  };
  int64_t bands = 0;
  while (band_edge(bands) < D) ++bands;
  // Band k lies at c - (h - k) sign(f), one pixel further per band. For a negative factor that
  // sequence starts up to two pixels left of the image, so the whole sequence is moved into
  // [0, g] (and a band the rounding of the step would still push out is held at the edge): no
  // band loses pixels to the frame.
  const int64_t sign = f > 0 ? 1 : -1;
  const int64_t h = trunc_size(std::fabs(static_cast<double>(static_cast<float>(D / 2) * f)));
  const int64_t c = trunc_size(spread) / 2;
  const int64_t first = c - (h - 1) * sign, last = c - (h - bands) * sign;
  int64_t shift = 0;
  if (std::min(first, last) < 0)
    shift = -std::min(first, last);
  else if (std::max(first, last) > g)
    shift = g - std::max(first, last);
  for (int64_t k = 1; k <= bands; ++k) {
    const int64_t from = band_edge(k - 1), to = band_edge(k);
    if (to <= from) continue;
    const auto pos = static_cast<int32_t>(std::clamp<int64_t>(c - (h - k) * sign + shift, 0, g));
    const auto a = static_cast<int32_t>(from), n = static_cast<int32_t>(to - from);
    if (horizontal)
      W_TRY(s, copy(s, src, 0, a, d, pos, a, W, n));
    else
      W_TRY(s, copy(s, src, a, 0, d, a, pos, n, H));
  }
  guard.keep();
  return VLT_OK;
}

// ---- In-place horizontal shear

// Moves lines y0..y0+n of the image right by k within the image, through the top 32 lines of
// the framed area (unclipped: they lie outside the image): the core's copy runs left to right
// and would otherwise need a copy of its own of what it still reads, which could fail halfway
// through the shear.
VltStatus move_right_inside(IPWState* s, PIXR* image, int32_t y0, int32_t n, int32_t k) {
  const int32_t w = image->width - k;
  for (int32_t y = y0; y < y0 + n; y += PIXR_FRAME) {
    const int32_t lines = std::min<int32_t>(PIXR_FRAME, y0 + n - y);
    W_TRY(s, copy(s, image, 0, y, image, 0, -PIXR_FRAME, w, lines, W_ROP_COPY_NOCLIP));
    W_TRY(s, copy(s, image, 0, -PIXR_FRAME, image, k, y, w, lines, W_ROP_COPY_NOCLIP));
  }
  return VLT_OK;
}

// One band of n lines from y0 moved by shift pixels (right when positive).
VltStatus move_band(IPWState* s, const WShearGeometry* g, int32_t y0, int32_t n, int32_t shift, int32_t pass) {
  if (shift == 0 || n <= 0) return VLT_OK;
  PIXR* image = g->image;
  const int32_t W = g->width, M = g->margin, k = shift > 0 ? shift : -shift;
  // Strip columns: the left margin is -M..-1, the image 0..W-1, the right margin W..W+M-1.
  if (pass == 1) {
    if (shift > 0) {
      const int32_t x0 = std::max(0, W - k), x1 = std::min(W, W + M - k);
      W_TRY(s, copy(s, image, x0, y0, g->right, x0 + k - W, y0, x1 - x0, n));
      if (W > k) W_TRY(s, move_right_inside(s, image, y0, n, k));
      W_TRY(s, fill(s, image, 0, y0, std::min(k, W), n));
    } else {
      const int32_t x0 = std::max(0, k - M), x1 = std::min(k, W);
      W_TRY(s, copy(s, image, x0, y0, g->left, x0 - k + M, y0, x1 - x0, n));
      W_TRY(s, copy(s, image, k, y0, image, 0, y0, W - k, n));
      W_TRY(s, fill(s, image, std::max(0, W - k), y0, std::min(k, W), n));
    }
    return VLT_OK;
  }
  if (shift > 0) {
    if (W > k) W_TRY(s, move_right_inside(s, image, y0, n, k));
    // New columns 0..min(k, W)-1 come from strip columns -k.., beyond the left margin nothing.
    const int32_t x0 = std::min(std::max(0, k - M), W), x1 = std::min(k, W);
    W_TRY(s, fill(s, image, 0, y0, x0, n));
    W_TRY(s, copy(s, g->left, x0 + M - k, y0, image, x0, y0, x1 - x0, n));
  } else {
    W_TRY(s, copy(s, image, k, y0, image, 0, y0, W - k, n));
    // New columns max(0, W-k)..W-1 come from strip columns W.., beyond the right margin nothing.
    const int32_t x0 = std::max(0, W - k), x1 = std::max(x0, std::min(W, W + M - k));
    W_TRY(s, copy(s, g->right, x0 + k - W, y0, image, x0, y0, x1 - x0, n));
    W_TRY(s, fill(s, image, x1, y0, W - x1, n));
  }
  return VLT_OK;
}

VltStatus band_loop(IPWState* s, WShearBand* band, const WShearGeometry* g, int64_t step, int32_t shift,
                    int32_t delta, int32_t pass, int32_t sign) {
  if (band == nullptr || g == nullptr || g->image == nullptr || g->left == nullptr || g->right == nullptr)
    return W_FAIL(s, VLT_ERR_NULL);
  if ((delta != 1 && delta != -1) || step < 1 || shift < 0) return W_FAIL(s, VLT_ERR_PARAM);
  while (band->row < g->height && shift >= 0) {
    const int32_t end = static_cast<int32_t>(std::min<int64_t>((band->position + 32768) >> 16, g->height));
    if (end > band->row) {
      W_TRY(s, move_band(s, g, band->row, end - band->row, sign * shift, pass));
      band->row = end;
    }
    band->position += step;
    shift += delta;
  }
  return VLT_OK;
}

// ---- In-place vertical shear over the image and its margins

// The image part of a frame-0 or frame-32 record: first pixel and line length.
uint8_t* first_pixel(const PIXR* p) { return image_of(p); }

// Moves columns x0..x1-1 of a record d lines down (up when negative), in place, and fills the
// lines left behind. Vertical moves keep every pixel's bit position, so each 32-bit word of the
// band is moved under a mask, in memory order, without any byte swapping.
void move_columns(PIXR* p, int32_t x0, int32_t x1, int32_t d, uint32_t fillWord) {
  if (x1 <= x0 || d == 0) return;
  const int32_t H = p->height;
  const size_t bpl = static_cast<size_t>(p->bytesPerLine);
  const int64_t b0 = int64_t{x0} * p->depth, b1 = int64_t{x1} * p->depth;
  const int32_t e = std::min(d > 0 ? d : -d, H);
  uint8_t* const base = first_pixel(p);
  for (int64_t w = b0 / 32; w * 32 < b1; ++w) {
    const auto lo = static_cast<unsigned>(std::max(b0, w * 32) - w * 32);
    const auto hi = static_cast<unsigned>(std::min(b1, w * 32 + 32) - w * 32);
    uint8_t maskBytes[4];
    mono::store_be32(maskBytes, mono::left_mask32(hi) & ~mono::left_mask32(lo));
    uint32_t m;
    std::memcpy(&m, maskBytes, 4);
    uint8_t* col = base + static_cast<size_t>(w) * 4;
    const auto merge = [m](uint8_t* to, uint32_t v) {
      uint32_t t;
      std::memcpy(&t, to, 4);
      t = (t & ~m) | (v & m);
      std::memcpy(to, &t, 4);
    };
    const auto word = [](const uint8_t* at) {
      uint32_t v;
      std::memcpy(&v, at, 4);
      return v;
    };
    if (d > 0) {
      for (int32_t y = H - 1; y >= e; --y) merge(col + y * bpl, word(col + (y - e) * bpl));
      for (int32_t y = 0; y < e; ++y) merge(col + y * bpl, fillWord);
    } else {
      for (int32_t y = 0; y < H - e; ++y) merge(col + y * bpl, word(col + (y + e) * bpl));
      for (int32_t y = H - e; y < H; ++y) merge(col + y * bpl, fillWord);
    }
  }
}

// Strip columns a..b-1 (left margin, image, right margin side by side) moved d lines.
void move_strip_columns(const WShearGeometry* g, int32_t a, int32_t b, int32_t d, uint32_t fillWord) {
  const int32_t M = g->margin, W = g->width;
  move_columns(g->left, std::max(a, 0), std::min(b, M), d, fillWord);
  move_columns(g->image, std::max(a, M) - M, std::min(b, M + W) - M, d, fillWord);
  move_columns(g->right, std::max(a, M + W) - M - W, std::min(b, M + W + M) - M - W, d, fillWord);
}

// y moves by sv * (x - middle): bands of columns, the leftmost moved up the most for sv > 0.
void vertical_shear(const WShearGeometry* g, float sv) {
  const float as = std::fabs(sv);
  if (as == 0.0f) return;
  const int32_t strip = g->width + 2 * g->margin;
  const int64_t step = band_step(as);
  const int32_t firstShift = static_cast<int32_t>(trunc_size(as * static_cast<float>(strip / 2)));
  const int32_t up = sv > 0 ? -1 : 1;
  const uint32_t fillWord = g->image->depth == 1 ? 0u : ~0u;
  int32_t col = 0;
  int64_t position = step;
  int32_t shift = firstShift, delta = -1;
  while (col < strip) {
    const int32_t end = static_cast<int32_t>(std::min<int64_t>((position + 32768) >> 16, strip));
    if (end > col) {
      move_strip_columns(g, col, end, (delta < 0 ? up : -up) * shift, fillWord);
      col = end;
    }
    position += step;
    if (delta < 0 && shift == 0) delta = 1;
    shift += delta;
  }
}

// The two margins of an in-place rotation, destroyed with the object.
struct Margins {
  IPWState* s;
  PIXR* left = nullptr;
  PIXR* right = nullptr;
  explicit Margins(IPWState* state) : s(state) {}
  ~Margins() {
    w_destroyPixr(s, &left);
    w_destroyPixr(s, &right);
  }
  Margins(const Margins&) = delete;
  Margins& operator=(const Margins&) = delete;
};

VltStatus make_margin(IPWState* s, const PIXR* image, int32_t width, PIXR** out) {
  W_TRY(s, w_createPixr(s, width, image->height, image->depth, image->xRes, image->yRes, 0, out));
  if (image->depth > 1) W_TRY(s, fill(s, *out, 0, 0, width, image->height));
  return VLT_OK;
}

VltStatus check_margin(IPWState* s, const PIXR* image, const PIXR* margin) {
  W_TRY(s, wp_pixrCheckFlags(s, margin, PIXR_ORDER_0, PIXR_DEPTH_1TO8, PIXR_CHANNELS_1, kAnyFrame));
  if (margin->depth != image->depth || margin->height != image->height) return W_FAIL(s, VLT_ERR_DIMENSIONS);
  if (margin->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  return VLT_OK;
}

VltStatus rotate_small_in_place(IPWState* s, float angle, int32_t option, PIXR* image) {
  if (image->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  W_TRY(s, i_rotateNoInterpolationIP(s, image->imageAll, framed_width(image), framed_height(image),
                                     image->bytesPerLine, static_cast<double>(angle), image->depth, option,
                                     whole_dpi(image->xRes), whole_dpi(image->yRes)));
  return VLT_OK;
}

// The single-channel part of w_rotateArb.
VltStatus rotate_plain(IPWState* s, const PIXR* src, float angle, int32_t keepSize, int32_t option,
                       PIXR** dst) {
  const bool small = small_angle(angle);
  if (*dst == src) {
    if (small)
      W_TRY(s, wp_rotateSmallAngleIP(s, angle, option, const_cast<PIXR*>(src)));
    else
      W_TRY(s, wp_rotateLargeAngleIP(s, angle, const_cast<PIXR*>(src)));
    return VLT_OK;
  }
  if (src->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  if (keepSize != 0) {
    int32_t dx = 0, dy = 0, created = 0;
    if (*dst == nullptr) {
      W_TRY(s, w_clonePixrNoInit(s, src, dst));
      created = 1;
    } else {
      W_TRY(s, w_checkDestPixr(s, src->width, src->height, src->depth, src->xRes, src->yRes, PIXR_FRAME, 1,
                               src->type, src->colorMap, *dst, &dx, &dy));
    }
    CreatedGuard guard(s, dst, created != 0);
    PIXR* d = *dst;
    if (d->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
    W_TRY(s, into_wanted_size(s, d, src->width, src->height, [&](PIXR* target) -> VltStatus {
            if (small) {
              W_TRY(s, i_rotateNoInterpolation(s, src->imageAll, framed_width(src), framed_height(src),
                                               src->bytesPerLine, static_cast<double>(angle), target->imageAll,
                                               target->bytesPerLine, src->depth, option, whole_dpi(src->xRes),
                                               whole_dpi(src->yRes)));
            } else {
              W_TRY(s, copy(s, src, 0, 0, target, 0, 0, src->width, src->height));
              W_TRY(s, wp_rotateLargeAngleIP(s, angle, target));
            }
            return VLT_OK;
          }));
    W_TRY(s, wp_clearRightBottomFrames(s, d, dx, dy));
    guard.keep();
    return VLT_OK;
  }

  if (*dst != nullptr) {
    int32_t dx = 0, dy = 0;
    const PIXR* d = *dst;
    W_TRY(s, check_image(s, d, PIXR_CHANNELS_1));
    W_TRY(s, w_checkDestPixr(s, d->width, d->height, src->depth, src->xRes, src->yRes, PIXR_FRAME, 1, src->type,
                             src->colorMap, d, &dx, &dy));
  }
  if (src->xRes - int64_t{src->yRes} > 65536 || src->yRes - int64_t{src->xRes} > 65536)
    return W_FAIL(s, VLT_ERR_PARAM);
  PIXR* a = nullptr;
  PIXR* b = nullptr;
  VltStatus st = VLT_OK;
  if (small) {
    const float t = std::tan(angle);
    st = wp_shearC(s, src, W_SHEAR_VERTICAL, t, 0, &a);
    if (st == VLT_OK) st = wp_shearC(s, a, W_SHEAR_HORIZONTAL, -t, 0, &b);
    w_destroyPixr(s, &a);
  } else {
    const float t = std::tan(angle / 2.0f), sv = std::sin(angle);
    st = wp_shearC(s, src, W_SHEAR_HORIZONTAL, -t, 0, &a);
    if (st == VLT_OK) st = wp_shearC(s, a, W_SHEAR_VERTICAL, sv, 0, &b);
    w_destroyPixr(s, &a);
    if (st == VLT_OK) st = wp_shearC(s, b, W_SHEAR_HORIZONTAL, -t, 0, &a);
    w_destroyPixr(s, &b);
    b = a;
    a = nullptr;
  }
  if (st != VLT_OK) {
    w_destroyPixr(s, &b);
    return W_FAIL(s, st);
  }
  if (*dst == nullptr) {
    *dst = b;
    return VLT_OK;
  }
  const PIXR* d = *dst;
  if (d->width != b->width || d->height != b->height || d->xRes != src->xRes || d->yRes != src->yRes)
    st = VLT_ERR_DIMENSIONS;
  else
    st = w_copy(s, b, dst);
  w_destroyPixr(s, &b);
  if (st != VLT_OK) return W_FAIL(s, st);
  return VLT_OK;
}

}  // namespace

VltStatus w_rotateArb(IPWState* s, const PIXR* src, float angle, int32_t keepSize, int32_t option,
                      PIXR** dst) {
  if (src == nullptr || dst == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*dst == src && keepSize == 0) return W_FAIL(s, VLT_ERR_PARAM);
  if (!angle_accepted(angle)) return W_FAIL(s, VLT_ERR_PARAM);
  W_TRY(s, check_image(s, src, kAnyChannels));
  if (angle == 0.0f) {
    if (*dst != src) W_TRY(s, w_copy(s, src, dst));
    return VLT_OK;
  }
  if (*dst != nullptr) {
    W_TRY(s, check_image(s, *dst, kAnyChannels));
    if ((*dst)->channelCount != src->channelCount) return W_FAIL(s, VLT_ERR_CHANNELS_MISMATCH);
  }
  if (is_plain(src)) {
    W_TRY(s, rotate_plain(s, src, angle, keepSize, option, dst));
    return VLT_OK;
  }
  const int n = channel_count(src);
  if (*dst != nullptr) {
    for (int i = 0; i < n; ++i) {
      PIXR* dc = channel_at(*dst, i);
      W_TRY(s, w_rotateArb(s, channel_at(src, i), angle, keepSize, option, &dc));
    }
    return VLT_OK;
  }
  PIXR* made[PIXR_MAX_CHANNELS] = {};
  VltStatus st = VLT_OK;
  for (int i = 0; i < n && st == VLT_OK; ++i) st = w_rotateArb(s, channel_at(src, i), angle, keepSize, option, &made[i]);
  if (st == VLT_OK) st = w_createPixrComposite(s, made, n, primary_of(src)->type, dst);
  if (st != VLT_OK) {
    for (PIXR*& m : made) w_destroyPixr(s, &m);
    return W_FAIL(s, st);
  }
  return VLT_OK;
}

VltStatus wp_shearC(IPWState* s, const PIXR* src, int32_t direction, float factor, int32_t flag, PIXR** out) {
  static_cast<void>(flag);
  if (src == nullptr || out == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  if (*out != nullptr) return W_FAIL(s, VLT_ERR_NOT_NULL);
  W_TRY(s, check_image(s, src, PIXR_CHANNELS_1));
  if ((direction != W_SHEAR_HORIZONTAL && direction != W_SHEAR_VERTICAL) || !std::isfinite(factor))
    return W_FAIL(s, VLT_ERR_PARAM);
  if (src->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  if (factor == 0.0f) {
    W_TRY(s, w_copy(s, src, out));
    return VLT_OK;
  }
  W_TRY(s, shear_copy(s, src, direction == W_SHEAR_HORIZONTAL, factor, out));
  return VLT_OK;
}

VltStatus wp_horizontalShearLeftIP(IPWState* s, WShearBand* band, const WShearGeometry* g, int64_t step,
                                   int32_t shift, int32_t delta, int32_t pass) {
  W_TRY(s, band_loop(s, band, g, step, shift, delta, pass, -1));
  return VLT_OK;
}

VltStatus wp_horizontalShearRightIP(IPWState* s, WShearBand* band, const WShearGeometry* g, int64_t step,
                                    int32_t shift, int32_t delta, int32_t pass) {
  W_TRY(s, band_loop(s, band, g, step, shift, delta, pass, 1));
  return VLT_OK;
}

VltStatus wp_horizontalShearIP(IPWState* s, float factor, int32_t pass, PIXR* image, PIXR* left, PIXR* right) {
  if (image == nullptr || left == nullptr || right == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, image, PIXR_CHANNELS_1));
  W_TRY(s, check_margin(s, image, left));
  W_TRY(s, check_margin(s, image, right));
  // Factors beyond 1 would make bands of less than a line; no rotation needs them.
  if (left->width != right->width || (pass != 0 && pass != 1) || !(std::fabs(factor) <= 1.0f))
    return W_FAIL(s, VLT_ERR_PARAM);
  if (image->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  const float af = std::fabs(factor);
  if (af == 0.0f || image->width == 0 || image->height == 0) return VLT_OK;
  const WShearGeometry g{image, left, right, image->width, image->height, left->width};
  const int64_t step = band_step(af);
  WShearBand band{0, step};
  const auto firstShift = static_cast<int32_t>(trunc_size(af * static_cast<float>(image->height / 2)));
  if (factor > 0) {
    W_TRY(s, wp_horizontalShearRightIP(s, &band, &g, step, firstShift, -1, pass));
    W_TRY(s, wp_horizontalShearLeftIP(s, &band, &g, step, 1, 1, pass));
  } else {
    W_TRY(s, wp_horizontalShearLeftIP(s, &band, &g, step, firstShift, -1, pass));
    W_TRY(s, wp_horizontalShearRightIP(s, &band, &g, step, 1, 1, pass));
  }
  // The top frame lines served as the band buffer.
  W_TRY(s, w_rasterop(s, 0, 0, nullptr, W_ROP_CLEAR_NOCLIP, -PIXR_FRAME, -PIXR_FRAME,
                      image->width + 2 * PIXR_FRAME, PIXR_FRAME, image));
  return VLT_OK;
}

VltStatus wp_rotateLargeAngleIP(IPWState* s, float angle, PIXR* image) {
  if (image == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, image, kAnyChannels));
  // Beyond a quarter turn either way the half-angle tangent would pass 1.
  if (!(std::fabs(angle) <= 1.5707963f)) return W_FAIL(s, VLT_ERR_PARAM);
  if (!is_plain(image)) {
    for (int i = 0; i < channel_count(image); ++i) W_TRY(s, wp_rotateLargeAngleIP(s, angle, channel_at(image, i)));
    return VLT_OK;
  }
  if (image->imageAll == nullptr) return W_FAIL(s, VLT_ERR_IPC_NO_IMAGE);
  const float t = std::tan(angle / 2.0f), sv = std::sin(angle);
  const int32_t H = image->height;
  const int64_t margin = trunc_size(static_cast<double>(2.0f + std::fabs(t) * static_cast<float>((int64_t{H} + 1) / 2)));
  if (margin > INT32_MAX) return W_FAIL(s, VLT_ERR_PARAM);
  // Both margins exist before a pixel moves, so running out of memory leaves the image intact.
  Margins m(s);
  W_TRY(s, make_margin(s, image, static_cast<int32_t>(margin), &m.left));
  W_TRY(s, make_margin(s, image, static_cast<int32_t>(margin), &m.right));
  W_TRY(s, wp_horizontalShearIP(s, t, 1, image, m.left, m.right));
  const WShearGeometry g{image, m.left, m.right, image->width, H, static_cast<int32_t>(margin)};
  vertical_shear(&g, sv);
  W_TRY(s, wp_horizontalShearIP(s, t, 0, image, m.left, m.right));
  return VLT_OK;
}

VltStatus wp_rotateSmallAngleIP(IPWState* s, float angle, int32_t option, PIXR* image) {
  if (image == nullptr) return W_FAIL(s, VLT_ERR_NULL);
  W_TRY(s, check_image(s, image, kAnyChannels));
  if (static_cast<double>(angle) > kSmallAngle || std::isnan(angle)) return W_FAIL(s, VLT_ERR_PARAM);
  if (std::fabs(static_cast<double>(angle)) < kNegligibleAngle) return VLT_OK;
  for (int i = 0; i < channel_count(image); ++i) W_TRY(s, rotate_small_in_place(s, angle, option, channel_at(image, i)));
  return VLT_OK;
}
