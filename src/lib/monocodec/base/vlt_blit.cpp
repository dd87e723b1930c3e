// One-bit blitter. The clipped kernel realigns the source window to the destination word by
// word, reading only the source words that hold window pixels and writing only the destination
// words that hold rectangle pixels; the two end words are merged through masks.

#include "vlt_blit.h"

#include <algorithm>

#include "byteorder.h"
#include "vlt_state.h"

namespace {

using mono::load_be32;
using mono::store_be32;

struct OpOr {
  static uint32_t f(uint32_t d, uint32_t s) { return d | s; }
};
struct OpAnd {
  static uint32_t f(uint32_t d, uint32_t s) { return d & s; }
};
struct OpXor {
  static uint32_t f(uint32_t d, uint32_t s) { return d ^ s; }
};
struct OpXnor {
  static uint32_t f(uint32_t d, uint32_t s) { return ~(d ^ s); }
};
struct OpReplace {
  static uint32_t f(uint32_t, uint32_t s) { return s; }
};
struct OpClear {
  static uint32_t f(uint32_t d, uint32_t s) { return d & ~s; }
};

template <class Op>
inline void merge(uint8_t* p, uint32_t s, uint32_t mask) {
  const uint32_t d = load_be32(p);
  store_be32(p, (d & ~mask) | (Op::f(d, s) & mask));
}

template <class Op>
inline void apply(uint8_t* p, uint32_t s) {
  store_be32(p, Op::f(load_be32(p), s));
}

// Combines source columns [sx, sx + w) of h rows into the destination at column dx of the
// destination rows starting at dst. All of them are non-negative and w, h > 0.
template <class Op>
void blit_window(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int64_t sx,
                 int64_t w, int64_t h, int64_t dx) {
  const int64_t dw0 = dx >> 5;
  const int64_t nd = ((dx + w - 1) >> 5) - dw0 + 1;
  const unsigned dbit = static_cast<unsigned>(dx & 31);
  const int64_t sw0 = sx >> 5;
  const int64_t swl = (sx + w - 1) >> 5;
  // Destination word j takes the 32 source bits from bit sx - dbit + 32 j.
  const int64_t bit0 = sx - dbit;
  const int64_t q0 = bit0 >> 5;  // floor: sw0 or sw0 - 1
  const unsigned r = static_cast<unsigned>(bit0 & 31);
  const uint32_t first_mask = ~0u >> dbit;
  const uint32_t last_mask = mono::left_mask32(static_cast<unsigned>(((dx + w - 1) & 31) + 1));

  for (int64_t v = 0; v < h; ++v) {
    uint8_t* drow = dst + static_cast<size_t>(v) * dst_stride + static_cast<size_t>(dw0) * 4;
    const uint8_t* srow = src + static_cast<size_t>(v) * src_stride;
    // Words outside the window's source words read as 0; only the two end words can need that.
    auto word = [srow, sw0, swl](int64_t i) -> uint32_t {
      return i < sw0 || i > swl ? 0u : load_be32(srow + static_cast<size_t>(i) * 4);
    };
    auto fetch_checked = [&](int64_t j) -> uint32_t {
      const int64_t q = q0 + j;
      return r == 0 ? word(q) : (word(q) << r) | (word(q + 1) >> (32 - r));
    };
    if (nd == 1) {
      merge<Op>(drow, fetch_checked(0), first_mask & last_mask);
      continue;
    }
    merge<Op>(drow, fetch_checked(0), first_mask);
    const uint8_t* s = srow + static_cast<size_t>(q0 + 1) * 4;
    uint8_t* d = drow + 4;
    if (r == 0) {
      for (int64_t j = 1; j < nd - 1; ++j, s += 4, d += 4) apply<Op>(d, load_be32(s));
    } else if (nd > 2) {
      uint32_t cur = load_be32(s);
      for (int64_t j = 1; j < nd - 1; ++j, s += 4, d += 4) {
        const uint32_t next = load_be32(s + 4);
        apply<Op>(d, (cur << r) | (next >> (32 - r)));
        cur = next;
      }
    }
    merge<Op>(drow + static_cast<size_t>(nd - 1) * 4, fetch_checked(nd - 1), last_mask);
  }
}

// OR of a whole source (columns from 0) that lies inside the destination: no end masks on the
// destination. The source's last word is masked to the width, so padding bits never leak, and
// the spill word after a row is written only when it holds source pixels.
void blit_or_noclip(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride,
                    int64_t w, int64_t h, int64_t dx) {
  const int64_t nw = (w + 31) >> 5;
  const uint32_t tail = mono::left_mask32(static_cast<unsigned>(w - (nw - 1) * 32));
  const unsigned shift = static_cast<unsigned>(dx & 31);
  const bool spill = shift != 0 && shift + w > nw * 32;
  for (int64_t v = 0; v < h; ++v) {
    uint8_t* drow = dst + static_cast<size_t>(v) * dst_stride + static_cast<size_t>(dx >> 5) * 4;
    const uint8_t* srow = src + static_cast<size_t>(v) * src_stride;
    if (shift == 0) {
      for (int64_t k = 0; k < nw - 1; ++k) apply<OpOr>(drow + k * 4, load_be32(srow + k * 4));
      apply<OpOr>(drow + (nw - 1) * 4, load_be32(srow + (nw - 1) * 4) & tail);
      continue;
    }
    uint32_t carry = 0;
    for (int64_t k = 0; k < nw; ++k) {
      uint32_t s = load_be32(srow + k * 4);
      if (k == nw - 1) s &= tail;
      apply<OpOr>(drow + k * 4, carry | (s >> shift));
      carry = s << (32 - shift);
    }
    if (spill) apply<OpOr>(drow + nw * 4, carry);
  }
}

inline size_t stride_bytes(int32_t words) { return static_cast<size_t>(words) * 4; }

template <class Op>
void clip_lr(uint8_t* dst, int32_t dst_stride, const uint8_t* src, int32_t src_stride,
             int32_t first, int32_t width, int32_t height, int32_t x, int32_t y) {
  if (dst == nullptr || src == nullptr || width <= 0 || height <= 0 || first < 0 || x < 0 ||
      y < 0 || dst_stride <= 0 || src_stride <= 0)
    return;
  blit_window<Op>(dst + static_cast<size_t>(y) * stride_bytes(dst_stride), stride_bytes(dst_stride),
                  src, stride_bytes(src_stride), first, width, height, x);
}

// The part of a width x height source placed at (x, y) that falls inside the clip rectangle.
struct Visible {
  int64_t sx0, sy0, w, h, dx, dy;
  bool whole;
};

bool visible_part(int32_t left, int32_t top, int32_t right, int32_t bottom, int64_t width,
                  int64_t height, int64_t x, int64_t y, Visible* v) {
  const int64_t sx0 = std::max<int64_t>(left - x, 0);
  const int64_t sx1 = std::min<int64_t>(right - x, width);
  const int64_t sy0 = std::max<int64_t>(top - y, 0);
  const int64_t sy1 = std::min<int64_t>(bottom - y, height);
  if (sx0 >= sx1 || sy0 >= sy1) return false;
  *v = {sx0, sy0, sx1 - sx0, sy1 - sy0, x + sx0, y + sy0, sx0 == 0 && sy0 == 0 &&
        sx1 == width && sy1 == height};
  return true;
}

template <class Op>
void blit_visible(uint8_t* dst, int32_t dst_stride, const uint8_t* src, int32_t src_stride,
                  const Visible& v) {
  if (v.dx < 0 || v.dy < 0) return;  // a clip rectangle outside the destination
  blit_window<Op>(dst + static_cast<size_t>(v.dy) * stride_bytes(dst_stride),
                  stride_bytes(dst_stride), src + static_cast<size_t>(v.sy0) * stride_bytes(src_stride),
                  stride_bytes(src_stride), v.sx0, v.w, v.h, v.dx);
}

bool known_op(int32_t op) {
  return op == VLT_BLIT_XOR || op == VLT_BLIT_AND || op == VLT_BLIT_XNOR ||
         op == VLT_BLIT_REPLACE || op == VLT_BLIT_OR || op == VLT_BLIT_CLEAR;
}

void blit_op(uint8_t* dst, int32_t dst_stride, const uint8_t* src, int32_t src_stride,
             const Visible& v, int32_t op) {
  switch (op) {
    case VLT_BLIT_XOR: blit_visible<OpXor>(dst, dst_stride, src, src_stride, v); break;
    case VLT_BLIT_AND: blit_visible<OpAnd>(dst, dst_stride, src, src_stride, v); break;
    case VLT_BLIT_XNOR: blit_visible<OpXnor>(dst, dst_stride, src, src_stride, v); break;
    case VLT_BLIT_REPLACE: blit_visible<OpReplace>(dst, dst_stride, src, src_stride, v); break;
    case VLT_BLIT_CLEAR: blit_visible<OpClear>(dst, dst_stride, src, src_stride, v); break;
    default: blit_visible<OpOr>(dst, dst_stride, src, src_stride, v); break;
  }
}

bool usable(const uint8_t* dst, int32_t dst_stride, const uint8_t* src, int32_t src_stride) {
  return dst != nullptr && src != nullptr && dst_stride > 0 && src_stride > 0;
}

}  // namespace

void VltBlat_blitBits(uint8_t* dst, int32_t dst_stride, int32_t left, int32_t top, int32_t right,
                      int32_t bottom, const uint8_t* src, int32_t src_stride, int32_t width,
                      int32_t height, int32_t x, int32_t y) {
  Visible v;
  if (!usable(dst, dst_stride, src, src_stride) ||
      !visible_part(left, top, right, bottom, width, height, x, y, &v))
    return;
  if (v.whole && v.dx >= 0 && v.dy >= 0) {
    blit_or_noclip(dst + static_cast<size_t>(v.dy) * stride_bytes(dst_stride),
                   stride_bytes(dst_stride), src, stride_bytes(src_stride), v.w, v.h, v.dx);
    return;
  }
  blit_visible<OpOr>(dst, dst_stride, src, src_stride, v);
}

VltStatus VltBlat_blitBitsOp(uint8_t* dst, int32_t dst_stride, int32_t left, int32_t top,
                             int32_t right, int32_t bottom, const uint8_t* src, int32_t src_stride,
                             int32_t width, int32_t height, int32_t x, int32_t y, int32_t op) {
  if (!known_op(op)) return VLT_ERR_CONSISTENCY;
  if (op == VLT_BLIT_OR) {
    VltBlat_blitBits(dst, dst_stride, left, top, right, bottom, src, src_stride, width, height, x,
                     y);
    return VLT_OK;
  }
  Visible v;
  if (usable(dst, dst_stride, src, src_stride) &&
      visible_part(left, top, right, bottom, width, height, x, y, &v))
    blit_op(dst, dst_stride, src, src_stride, v, op);
  return VLT_OK;
}

void VltBlat_blitBitsNoClip(uint8_t* dst, int32_t dst_stride, const uint8_t* src,
                            int32_t src_stride, int32_t width, int32_t height, int32_t x,
                            int32_t y) {
  if (!usable(dst, dst_stride, src, src_stride) || width <= 0 || height <= 0 || x < 0 || y < 0)
    return;
  blit_or_noclip(dst + static_cast<size_t>(y) * stride_bytes(dst_stride), stride_bytes(dst_stride),
                 src, stride_bytes(src_stride), width, height, x);
}

void VltBlat_blitBitsClipLR(uint8_t* dst, int32_t dst_stride, const uint8_t* src,
                            int32_t src_stride, int32_t first, int32_t width, int32_t height,
                            int32_t x, int32_t y) {
  clip_lr<OpOr>(dst, dst_stride, src, src_stride, first, width, height, x, y);
}

void VltBlat_blitBitsClipLRREPLACE(uint8_t* dst, int32_t dst_stride, const uint8_t* src,
                                   int32_t src_stride, int32_t first, int32_t width,
                                   int32_t height, int32_t x, int32_t y) {
  clip_lr<OpReplace>(dst, dst_stride, src, src_stride, first, width, height, x, y);
}

void VltBlat_blitBitsClipLRAND(uint8_t* dst, int32_t dst_stride, const uint8_t* src,
                               int32_t src_stride, int32_t first, int32_t width, int32_t height,
                               int32_t x, int32_t y) {
  clip_lr<OpAnd>(dst, dst_stride, src, src_stride, first, width, height, x, y);
}

void VltBlat_blitBitsClipLRXOR(uint8_t* dst, int32_t dst_stride, const uint8_t* src,
                               int32_t src_stride, int32_t first, int32_t width, int32_t height,
                               int32_t x, int32_t y) {
  clip_lr<OpXor>(dst, dst_stride, src, src_stride, first, width, height, x, y);
}

void VltBlat_blitBitsClipLRXNOR(uint8_t* dst, int32_t dst_stride, const uint8_t* src,
                                int32_t src_stride, int32_t first, int32_t width, int32_t height,
                                int32_t x, int32_t y) {
  clip_lr<OpXnor>(dst, dst_stride, src, src_stride, first, width, height, x, y);
}

namespace {

// Places the token on the page as the packed blits do; false when nothing of it is visible.
bool place_packed(const VltImage* page, const VltImage* token, int32_t x, int32_t y, Visible* v) {
  if (page == nullptr || token == nullptr || page->rows == nullptr || token->rows == nullptr ||
      page->hdr.type != VLT_IMAGE_PACKED || token->hdr.type != VLT_IMAGE_PACKED)
    return false;
  const int64_t dx = int64_t{x} + token->hdr.xOffset - page->hdr.xOffset;
  const int64_t dy = int64_t{y} + token->hdr.yOffset - page->hdr.yOffset;
  return visible_part(0, 0, page->hdr.width, page->hdr.height, token->hdr.width,
                      token->hdr.height, dx, dy, v);
}

}  // namespace

void VltBlat_blitPacked(VltImage* page, const VltImage* token, int32_t x, int32_t y) {
  Visible v;
  if (!place_packed(page, token, x, y, &v)) return;
  const int32_t dst_stride = page->hdr.bytesPerLine / 4;
  const int32_t src_stride = token->hdr.bytesPerLine / 4;
  if (v.whole) {
    blit_or_noclip(page->rows[0] + static_cast<size_t>(v.dy) * stride_bytes(dst_stride),
                   stride_bytes(dst_stride), token->rows[0], stride_bytes(src_stride), v.w, v.h,
                   v.dx);
    return;
  }
  blit_visible<OpOr>(page->rows[0], dst_stride, token->rows[0], src_stride, v);
}

VltStatus VltBlat_blitPackedOp(VltImage* page, const VltImage* token, int32_t x, int32_t y,
                               int32_t op) {
  if (op == VLT_BLIT_CLEAR || !known_op(op)) {
    const VltState* state = token != nullptr ? token->state : nullptr;
    return Vlt_reportErrMsg(state != nullptr ? state->errState : nullptr, VLT_ERR_CONSISTENCY,
                            "bad blitop");
  }
  if (op == VLT_BLIT_OR) {
    VltBlat_blitPacked(page, token, x, y);
    return VLT_OK;
  }
  Visible v;
  if (place_packed(page, token, x, y, &v))
    blit_op(page->rows[0], page->hdr.bytesPerLine / 4, token->rows[0], token->hdr.bytesPerLine / 4,
            v, op);
  return VLT_OK;
}

void VltBlat_blitFillPacked(VltImage* image) {
  if (image == nullptr || image->rows == nullptr) return;
  const int32_t full = image->hdr.width / 32;
  const int32_t rest = image->hdr.width % 32;
  for (int32_t i = 0; i < image->hdr.height; ++i) {
    uint8_t* row = image->rows[i];
    for (int32_t k = 0; k < full; ++k) store_be32(row + static_cast<size_t>(k) * 4, ~0u);
    if (rest != 0) store_be32(row + static_cast<size_t>(full) * 4, mono::left_mask32(rest));
  }
}
