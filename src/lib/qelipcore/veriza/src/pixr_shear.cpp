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
               int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return VLT_OK;
  W_TRY(s, w_rasterop(s, sx, sy, src, W_ROP_COPY, dx, dy, w, h, dst));
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

uint32_t background_word(int32_t depth) { return depth == 1 ? 0u : ~0u; }

// ---- Bit kernels: every pixel move of the shears is a run of bits within one line, or the
// same bit positions moved between lines. Lines are rows of big-endian 32-bit words.

// The image lines of a plain record.
struct Rows {
  uint8_t* first;
  size_t bpl;
  int64_t depth;
  explicit Rows(const PIXR* p)
      : first(image_of(p)), bpl(static_cast<size_t>(p->bytesPerLine)), depth(p->depth) {}
  uint8_t* row(int32_t y) const { return first + static_cast<size_t>(y) * bpl; }
};

// 32 bits of a line from bit pos (which may be negative); words outside lo..hi read as 0, so
// nothing outside the run being copied is ever read.
uint32_t bits_at(const uint8_t* line, int64_t pos, int64_t lo, int64_t hi) {
  const int64_t w = pos >> 5;
  const auto off = static_cast<unsigned>(pos & 31);
  const uint32_t a = w >= lo && w <= hi ? mono::load_be32(line + 4 * w) : 0u;
  if (off == 0) return a;
  const uint32_t b = w + 1 >= lo && w + 1 <= hi ? mono::load_be32(line + 4 * (w + 1)) : 0u;
  return a << off | b >> (32 - off);
}

void put_word(uint8_t* at, uint32_t value, uint32_t mask) {
  if (mask != ~0u) value = (mono::load_be32(at) & ~mask) | (value & mask);
  mono::store_be32(at, value);
}

// n bits from src at bit sb to dst at bit db; within one line a move to the right runs from
// the end, so nothing is overwritten before it is read. The words between the first and the
// last are whole and read whole source words; only the two ends are masked and bounded.
void copy_bits(uint8_t* dst, int64_t db, const uint8_t* src, int64_t sb, int64_t n) {
  if (n <= 0) return;
  const int64_t first = db >> 5, last = (db + n - 1) >> 5;
  const int64_t lo = sb >> 5, hi = (sb + n - 1) >> 5;
  const int64_t delta = sb - db;
  const auto edge = [&](int64_t j) {
    const int64_t a = std::max(db, j * 32), b = std::min(db + n, j * 32 + 32);
    const uint32_t mask = mono::left_mask32(static_cast<unsigned>(b - j * 32)) &
                          ~mono::left_mask32(static_cast<unsigned>(a - j * 32));
    put_word(dst + 4 * j, bits_at(src, j * 32 + delta, lo, hi), mask);
  };
  const int64_t shiftWords = delta >> 5;
  const auto off = static_cast<unsigned>(delta & 31);
  const auto whole = [&](int64_t j) {
    const uint8_t* at = src + 4 * (j + shiftWords);
    const uint32_t a = mono::load_be32(at);
    mono::store_be32(dst + 4 * j, off == 0 ? a : a << off | mono::load_be32(at + 4) >> (32 - off));
  };
  if (dst == src && db > sb) {
    edge(last);
    for (int64_t j = last - 1; j > first; --j) whole(j);
    if (first != last) edge(first);
  } else {
    edge(first);
    for (int64_t j = first + 1; j < last; ++j) whole(j);
    if (first != last) edge(last);
  }
}

void fill_bits(uint8_t* line, int64_t b, int64_t n, uint32_t value) {
  if (n <= 0) return;
  for (int64_t j = b >> 5; j <= (b + n - 1) >> 5; ++j) {
    const int64_t lo = std::max(b, j * 32), hi = std::min(b + n, j * 32 + 32);
    put_word(line + 4 * j, value,
             mono::left_mask32(static_cast<unsigned>(hi - j * 32)) & ~mono::left_mask32(static_cast<unsigned>(lo - j * 32)));
  }
}

// One word of a line as stored: the masks of vertical moves are applied in memory order, since
// a vertical move keeps every bit where it is within its word.
uint32_t native_mask(uint32_t bigEndianMask) {
  uint8_t bytes[4];
  mono::store_be32(bytes, bigEndianMask);
  uint32_t m;
  std::memcpy(&m, bytes, 4);
  return m;
}
uint32_t word_at(const uint8_t* at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}
void word_to(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }

// The bits of one word that move together, and by how many lines (down when positive).
struct Piece {
  uint32_t mask;
  int32_t lines;
};

// Groups the pixels of word w of a line of width pixels by the move of their column, read from
// moves[firstColumn + x]; returns the number of pieces (at most 32) and their union.
int word_pieces(int64_t w, int32_t width, int64_t depth, const int32_t* moves, Piece* pieces, uint32_t* all) {
  const int64_t perWord = 32 / depth;
  const int64_t x0 = w * perWord, x1 = std::min<int64_t>(x0 + perWord, width);
  int n = 0;
  *all = 0;
  for (int64_t x = x0; x < x1; ++x) {
    const uint32_t bits = native_mask(mono::left_mask32(static_cast<unsigned>((x - x0 + 1) * depth)) &
                                      ~mono::left_mask32(static_cast<unsigned>((x - x0) * depth)));
    if (n > 0 && pieces[n - 1].lines == moves[x])
      pieces[n - 1].mask |= bits;
    else
      pieces[n++] = Piece{bits, moves[x]};
    *all |= bits;
  }
  return n;
}

// ---- Copying shear

// Band k of the copying shear lies at c - (h - k) sign(f), one pixel further per band. For a
// negative factor that sequence starts up to two pixels before the result, so the whole
// sequence is moved into [0, g] (and a band the rounding of the step would still push out is
// held at the edge): no band loses pixels to the frame. Calls place(first, end, position) for
// each band of the D lines or columns.
template <class Place>
void copy_bands(int32_t D, float f, int32_t g, Place place) {
  const float spread = static_cast<float>(D) * std::fabs(f);
  const float step = std::fabs(1.0f / f);
  const auto band_edge = [&](int64_t k) {
    return std::min<int64_t>(trunc_size(static_cast<double>(static_cast<float>(k) * step)), D);
  };
  int64_t bands = 0;
  while (band_edge(bands) < D) ++bands;
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
    if (to > from)
      place(static_cast<int32_t>(from), static_cast<int32_t>(to),
            static_cast<int32_t>(std::clamp<int64_t>(c - (h - k) * sign + shift, 0, g)));
  }
}

VltStatus shear_copy(IPWState* s, const PIXR* src, bool horizontal, float f, PIXR** out) {
  const float af = std::fabs(f);
  const int32_t W = src->width, H = src->height;
  const int32_t D = horizontal ? H : W;  // the extent the bands divide
  const int32_t E = horizontal ? W : H;  // each band's extent along the growing direction
  const int64_t grow = trunc_size(static_cast<double>(static_cast<float>(D) * af) + 0.9999);
  if (int64_t{E} + grow > INT32_MAX) return W_FAIL(s, VLT_ERR_PARAM);
  const int32_t g = static_cast<int32_t>(grow);
  const int32_t outW = horizontal ? W + g : W, outH = horizontal ? H : H + g;
  Set0Block moves(s);
  if (!horizontal && !moves.allocate(static_cast<size_t>(W) * sizeof(int32_t))) return W_FAIL(s, VLT_ERR_NOMEM);
  W_TRY(s, w_createPixrExtended(s, outW, outH, src->depth, src->xRes, src->yRes, PIXR_FRAME, 1, src->type,
                                src->colorMap, out));
  CreatedGuard guard(s, out, true);
  // Deep images get their background everywhere first: strips of trunc(D |f|) beside the
  // bands would leave the last column (line) unfilled when D |f| has a fraction.
  if (src->depth > 1) W_TRY(s, fill(s, *out, 0, 0, outW, outH));
  const Rows from(src), to(*out);
  if (horizontal) {
    copy_bands(D, f, g, [&](int32_t y0, int32_t y1, int32_t pos) {
      for (int32_t y = y0; y < y1; ++y) copy_bits(to.row(y), pos * from.depth, from.row(y), 0, W * from.depth);
    });
  } else {
    // Each column moves down by its band's position; word by word, every destination line
    // gathers its bits from the source lines those positions name.
    int32_t* down = moves.words();
    copy_bands(D, f, g, [&](int32_t x0, int32_t x1, int32_t pos) { std::fill(down + x0, down + x1, pos); });
    const uint32_t bg = background_word(src->depth);
    const int64_t words = (int64_t{W} * from.depth + 31) / 32;
    Piece pieces[32];
    for (int64_t w = 0; w < words; ++w) {
      uint32_t all = 0;
      const int n = word_pieces(w, W, from.depth, down, pieces, &all);
      for (int32_t y = 0; y < outH; ++y) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
          const int32_t sy = y - pieces[i].lines;
          v |= (sy >= 0 && sy < H ? word_at(from.row(sy) + 4 * w) : bg) & pieces[i].mask;
        }
        uint8_t* at = to.row(y) + 4 * w;
        word_to(at, (word_at(at) & ~all) | v);
      }
    }
  }
  guard.keep();
  return VLT_OK;
}

// ---- In-place horizontal shear

// One band of n lines from y0 moved by shift pixels (right when positive).
void move_band(const WShearGeometry* g, int32_t y0, int32_t n, int32_t shift, int32_t pass) {
  if (shift == 0 || n <= 0) return;
  const Rows img(g->image), left(g->left), right(g->right);
  const int64_t d = img.depth, W = g->width, M = g->margin, k = shift > 0 ? shift : -shift;
  const uint32_t bg = background_word(g->image->depth);
  // Strip columns: the left margin is -M..-1, the image 0..W-1, the right margin W..W+M-1.
  for (int32_t y = y0; y < y0 + n; ++y) {
    uint8_t* const I = img.row(y);
    uint8_t* const L = left.row(y);
    uint8_t* const R = right.row(y);
    if (pass == 1 && shift > 0) {
      const int64_t x0 = std::max<int64_t>(0, W - k), x1 = std::min(W, W + M - k);
      copy_bits(R, (x0 + k - W) * d, I, x0 * d, (x1 - x0) * d);
      copy_bits(I, k * d, I, 0, (W - k) * d);
      fill_bits(I, 0, std::min(k, W) * d, bg);
    } else if (pass == 1) {
      const int64_t x0 = std::max<int64_t>(0, k - M), x1 = std::min(k, W);
      copy_bits(L, (x0 - k + M) * d, I, x0 * d, (x1 - x0) * d);
      copy_bits(I, 0, I, k * d, (W - k) * d);
      fill_bits(I, std::max<int64_t>(0, W - k) * d, std::min(k, W) * d, bg);
    } else if (shift > 0) {
      // New columns 0..min(k, W)-1 come from strip columns -k.., beyond the left margin nothing.
      const int64_t x0 = std::min(std::max<int64_t>(0, k - M), W), x1 = std::min(k, W);
      copy_bits(I, k * d, I, 0, (W - k) * d);
      fill_bits(I, 0, x0 * d, bg);
      copy_bits(I, x0 * d, L, (x0 + M - k) * d, (x1 - x0) * d);
    } else {
      // New columns max(0, W-k)..W-1 come from strip columns W.., beyond the right margin nothing.
      const int64_t x0 = std::max<int64_t>(0, W - k), x1 = std::max(x0, std::min(W, W + M - k));
      copy_bits(I, 0, I, k * d, (W - k) * d);
      copy_bits(I, x0 * d, R, (x0 + k - W) * d, (x1 - x0) * d);
      fill_bits(I, x1 * d, (W - x1) * d, bg);
    }
  }
}

VltStatus band_loop(IPWState* s, WShearBand* band, const WShearGeometry* g, int64_t step, int32_t shift,
                    int32_t delta, int32_t pass, int32_t sign) {
  if (band == nullptr || g == nullptr || g->image == nullptr || g->left == nullptr || g->right == nullptr)
    return W_FAIL(s, VLT_ERR_NULL);
  if ((delta != 1 && delta != -1) || step < 1 || shift < 0) return W_FAIL(s, VLT_ERR_PARAM);
  // Every line a band moves must exist in the image and in both margins.
  const PIXR* parts[] = {g->image, g->left, g->right};
  for (const PIXR* p : parts)
    if (!is_plain(p) || p->imageAll == nullptr || p->depth != g->image->depth || p->height < g->height)
      return W_FAIL(s, VLT_ERR_DIMENSIONS);
  if (g->image->width != g->width || g->image->height != g->height || g->margin < 0 ||
      g->left->width < g->margin || g->right->width < g->margin)
    return W_FAIL(s, VLT_ERR_DIMENSIONS);
  while (band->row < g->height && shift >= 0) {
    const int32_t end = static_cast<int32_t>(std::min<int64_t>((band->position + 32768) >> 16, g->height));
    if (end > band->row) {
      move_band(g, band->row, end - band->row, sign * shift, pass);
      band->row = end;
    }
    band->position += step;
    shift += delta;
  }
  return VLT_OK;
}

// ---- In-place vertical shear over the image and its margins

// The lines each strip column moves (down when positive) in a vertical shear by sv: bands of
// columns, the leftmost moved up the most for sv > 0, one line less per band, then down.
void strip_moves(int32_t strip, float sv, int32_t* moves) {
  const float as = std::fabs(sv);
  const int64_t step = band_step(as);
  const int32_t up = sv > 0 ? -1 : 1;
  int32_t shift = static_cast<int32_t>(trunc_size(as * static_cast<float>(strip / 2))), delta = -1;
  int32_t col = 0;
  for (int64_t position = step; col < strip; position += step) {
    const int32_t end = static_cast<int32_t>(std::min<int64_t>((position + 32768) >> 16, strip));
    for (; col < end; ++col) moves[col] = (delta < 0 ? up : -up) * shift;
    if (delta < 0 && shift == 0) delta = 1;
    shift += delta;
  }
}

// Moves every column of one record of the strip by moves[x] lines in place, word column by word
// column: the column is copied out (its bits may move both ways), and each line is put together
// from the copy, one masked read per piece; only the lines near the ends, where some piece
// comes from beyond the image, need the background. Working down one word column keeps the
// lines a piece reads close together, where whole lines would read hundreds of lines apart.
void move_word_columns(const PIXR* p, const int32_t* moves, uint32_t* column) {
  const Rows r(p);
  const int32_t H = p->height;
  const uint32_t bg = background_word(p->depth);
  const int64_t words = (int64_t{p->width} * r.depth + 31) / 32;
  Piece pieces[32];
  for (int64_t w = 0; w < words; ++w) {
    uint32_t all = 0;
    const int n = word_pieces(w, p->width, r.depth, moves, pieces, &all);
    int32_t lo = 0, hi = H;
    bool still = true;
    for (int i = 0; i < n; ++i) {
      pieces[i].lines = std::clamp(pieces[i].lines, -H, H);
      still = still && pieces[i].lines == 0;
      lo = std::max(lo, pieces[i].lines);
      hi = std::min(hi, H + pieces[i].lines);
    }
    if (still) continue;
    uint8_t* const top = r.row(0) + 4 * w;
    for (int32_t y = 0; y < H; ++y) column[y] = word_at(top + static_cast<size_t>(y) * r.bpl);
    const auto edge_line = [&](int32_t y) {
      uint32_t v = column[y] & ~all;
      for (int i = 0; i < n; ++i) {
        const int32_t sy = y - pieces[i].lines;
        v |= (sy >= 0 && sy < H ? column[sy] : bg) & pieces[i].mask;
      }
      word_to(top + static_cast<size_t>(y) * r.bpl, v);
    };
    for (int32_t y = 0; y < std::min(lo, H); ++y) edge_line(y);
    // Four lines at a time: each piece's mask and line are read once for the four, and the four
    // lines are independent of each other.
    int32_t y = lo;
    for (; y + 4 <= hi; y += 4) {
      uint32_t v0 = column[y] & ~all, v1 = column[y + 1] & ~all, v2 = column[y + 2] & ~all,
               v3 = column[y + 3] & ~all;
      for (int i = 0; i < n; ++i) {
        const uint32_t* at = column + (y - pieces[i].lines);
        const uint32_t m = pieces[i].mask;
        v0 |= at[0] & m;
        v1 |= at[1] & m;
        v2 |= at[2] & m;
        v3 |= at[3] & m;
      }
      uint8_t* out = top + static_cast<size_t>(y) * r.bpl;
      word_to(out, v0);
      word_to(out + r.bpl, v1);
      word_to(out + 2 * r.bpl, v2);
      word_to(out + 3 * r.bpl, v3);
    }
    for (; y < hi; ++y) {
      uint32_t v = column[y] & ~all;
      for (int i = 0; i < n; ++i) v |= column[y - pieces[i].lines] & pieces[i].mask;
      word_to(top + static_cast<size_t>(y) * r.bpl, v);
    }
    for (y = std::max(hi, lo); y < H; ++y) edge_line(y);
  }
}

void vertical_shear(const WShearGeometry* g, float sv, int32_t* moves, uint32_t* column) {
  strip_moves(g->width + 2 * g->margin, sv, moves);
  move_word_columns(g->left, moves, column);
  move_word_columns(g->image, moves + g->margin, column);
  move_word_columns(g->right, moves + g->margin + g->width, column);
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
  const auto M = static_cast<int32_t>(margin);
  // Everything is allocated before a pixel moves, so running out of memory leaves the image
  // intact: the margins, the move of each strip column and a column of words.
  Margins m(s);
  W_TRY(s, make_margin(s, image, M, &m.left));
  W_TRY(s, make_margin(s, image, M, &m.right));
  Set0Block work(s);
  const size_t strip = static_cast<size_t>(image->width) + 2 * static_cast<size_t>(M);
  if (!work.allocate((strip + static_cast<size_t>(H)) * sizeof(int32_t))) return W_FAIL(s, VLT_ERR_NOMEM);
  W_TRY(s, wp_horizontalShearIP(s, t, 1, image, m.left, m.right));
  const WShearGeometry g{image, m.left, m.right, image->width, H, M};
  vertical_shear(&g, sv, work.words(), reinterpret_cast<uint32_t*>(work.words() + strip));
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
