// Token smoothing from grey instance sums.

#include "tok_smooth.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "byteorder.h"
#include "pixr.h"
#include "pixr_morph.h"
#include "strel.h"
#include "tok_bufcc.h"
#include "tok_pagecc.h"
#include "tok_subpix.h"

namespace {

// The solid 2 x 2 element, origin at its centre.
constexpr uint32_t kOutlineElement = 40;
// The exemplar is drawn over the smallest instance with the widening of its summed box.
constexpr int32_t kBoxWidening = 6;

int bit_at(const VltImage* im, int64_t c, int64_t r) {
  if (c < 0 || r < 0 || c >= im->hdr.width || r >= im->hdr.height) return 0;
  return VltImage_getPackedPixel(im, static_cast<int32_t>(c + im->hdr.xOffset), static_cast<int32_t>(r + im->hdr.yOffset));
}

// Page byte at (x, y) in page coordinates, -1 outside the page.
int page_byte(const VltImage* grey, int64_t x, int64_t y) {
  const int64_t u = x - grey->hdr.xOffset, v = y - grey->hdr.yOffset;
  if (u < 0 || v < 0 || u >= grey->hdr.width || v >= grey->hdr.height) return -1;
  return grey->rows[v][u];
}

double& cell(VltImage* sum, int64_t c, int64_t r) { return reinterpret_cast<double*>(sum->rows[r])[c]; }

// The wrapped class bitmap in a clear margin.
VltStatus framed_class(VltState* es, const TokOutput* cls, VltImage** framed) {
  VltImage* wrapped = nullptr;
  if (const VltStatus st = VltImage_wrap(es, cls->exemplar.bits, cls->exemplar.width, cls->exemplar.height,
                                         cls->exemplar.wordsPerLine, &wrapped);
      st != VLT_OK)
    return st;
  const VltStatus st = packedAddFrame(es, wrapped, TOK_SMOOTH_MARGIN, framed);
  uint8_t* back = nullptr;
  VltImage_unwrap(wrapped, &back);
  return st;
}

// Its address marks a grey sum.
constexpr char kGraySumTag = 0;

// Whether the section output has handed the class bitmap on: to a token record (the reference
// word named one before the sum took it) or to the instances' components.
bool bitmap_borrowed(const TokOutput* cls, const GraySum* gs) {
  if (gs->held != nullptr) return true;
  if (cls->members == nullptr) return false;
  for (const VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next) {
    const auto* member = static_cast<const TokMemberPos*>(m->data);
    const auto* c = member != nullptr ? static_cast<const TokComponent*>(member->owner) : nullptr;
    if (c != nullptr && c->bitmap.bits == cls->exemplar.bits) return true;
  }
  return false;
}

// What a region pixel counts for in the thresholds.
enum : uint8_t { kNeither = 0, kSkeleton = 1, kEdge = 2 };

// The least and greatest column and row of the canvas's set bits (0xFFFF and 0 when none).
void ink_box(const VltImage* canvas, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) {
  *left = *top = 0xFFFF;
  *right = *bottom = 0;
  for (int32_t r = 0; r < canvas->hdr.height; ++r)
    for (int32_t c = 0; c < canvas->hdr.width; ++c)
      if (bit_at(canvas, c, r)) {
        if (c < *left) *left = c;
        if (c > *right) *right = c;
        if (r < *top) *top = r;
        if (r > *bottom) *bottom = r;
      }
}

// The exemplar is cut where the ink begins, not where the old bitmap did: the class frame moves
// by (dx, dy) old-bitmap pixels, so every member's offset in the frame, and the pixel sum kept in
// the same frame, move with it and the instances stay where they were found. False, and nothing
// moved, when an offset would leave its 16-bit field.
bool move_frame(TokOutput* cls, int32_t dx, int32_t dy) {
  const auto fits = [](int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; };
  if (cls->members != nullptr)
    for (const VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next) {
      const auto* pos = static_cast<const TokMemberPos*>(m->data);
      if (pos != nullptr && (!fits(pos->dx - dx) || !fits(pos->dy - dy))) return false;
    }
  if (cls->members != nullptr)
    for (VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next) {
      if (auto* pos = static_cast<TokMemberPos*>(m->data); pos != nullptr) {
        pos->dx = static_cast<int16_t>(pos->dx - dx);
        pos->dy = static_cast<int16_t>(pos->dy - dy);
      }
    }
  if (VltImage* h = cls->histogram) VltImage_setOffset(h, h->hdr.xOffset - dx, h->hdr.yOffset - dy);
  return true;
}

}  // namespace

GraySum* tok_graySumOf(const TokOutput* cls) {
  if (cls == nullptr || cls->dictRef == nullptr) return nullptr;
  const void* first = nullptr;
  std::memcpy(&first, cls->dictRef, sizeof first);
  return first == &kGraySumTag ? static_cast<GraySum*>(cls->dictRef) : nullptr;
}

void tok_releaseGraySum(VltState* es, TokOutput* cls) {
  GraySum* gs = tok_graySumOf(cls);
  if (gs == nullptr) return;
  cls->dictRef = gs->held;
  VltImage_free(gs->sum);
  es->free(gs);
}

VltStatus createSum(VltState* es, const VltImage* grey, VltImage* sum, const VltImage* framedClass, int32_t,
                    int32_t x, int32_t y, int32_t width, int32_t height) {
  if (grey == nullptr || sum == nullptr || framedClass == nullptr || sum->hdr.type != VLT_IMAGE_DOUBLE)
    return Vlt_report(es, VLT_ERR_PARAM);
  if (x > 5 && y > 5) {
    x -= kBoxWidening;
    y -= kBoxWidening;
    width += 2 * kBoxWidening;
    height += 2 * kBoxWidening;
  }
  double dx = 0.0, dy = 0.0;
  uint8_t polarity = 0;
  if (const VltStatus st = optAlignSub(es, grey, framedClass, x, y, width, height, &dx, &dy, &polarity); st != VLT_OK)
    return st;
  const auto ink = [&](int v) { return polarity ? v : 255 - v; };
  double total = 0.0;
  int64_t inside = 0;
  for (int32_t r = 0; r < height; ++r)
    for (int32_t c = 0; c < width; ++c)
      if (const int v = page_byte(grey, int64_t{x} + c, int64_t{y} + r); v >= 0) {
        total += ink(v);
        ++inside;
      }
  if (inside == 0) return VLT_OK;
  const double mean = total / static_cast<double>(inside);
  const int64_t ox = (int64_t{sum->hdr.width} - width) / 2, oy = (int64_t{sum->hdr.height} - height) / 2;
  const auto ix = static_cast<int32_t>(std::trunc(dx)), iy = static_cast<int32_t>(std::trunc(dy));
  const auto sx = static_cast<int32_t>(2 * (dx - ix)), sy = static_cast<int32_t>(2 * (dy - iy));
  const int64_t columns[2] = {0, sx}, rows[2] = {0, sy};
  for (int32_t r = 0; r < height; ++r)
    for (int32_t c = 0; c < width; ++c) {
      const int v = page_byte(grey, int64_t{x} + c, int64_t{y} + r);
      if (v < 0) continue;
      const double quarter = (ink(v) - mean + 255.0) * 0.25;
      for (const int64_t rr : rows)
        for (const int64_t cc : columns) {
          const int64_t tc = ox + ix + c + cc, tr = oy + iy + r + rr;
          if (tc >= 0 && tr >= 0 && tc < sum->hdr.width && tr < sum->hdr.height) cell(sum, tc, tr) += quarter;
        }
    }
  return VLT_OK;
}

VltStatus sumGrayInstances(VltState* es, const VltImage* grey, VltAdtList* classes, const void* required,
                           int32_t pageNumber) {
  if (classes == nullptr || required == nullptr || grey == nullptr) return Vlt_report(es, VLT_ERR_PARAM);
  for (VltAdtListNode* n = classes->first; n != nullptr; n = n->next) {
    auto* cls = static_cast<TokOutput*>(n->data);
    if (cls == nullptr) return VLT_ERR_ASSERT;
    if (cls->members == nullptr || cls->members->count == 0) continue;
    GraySum* gs = tok_graySumOf(cls);
    GraySum* made = nullptr;
    VltImage* framed = nullptr;
    const auto fail = [&](VltStatus st) {
      if (made != nullptr) {
        VltImage_free(made->sum);
        es->free(made);
      }
      VltImage_free(framed);
      return st;
    };
    if (gs == nullptr) {
      VltImage* sum = nullptr;
      if (const VltStatus st = VltImage_new(es, VLT_IMAGE_DOUBLE, int32_t{cls->exemplar.width} + 2 * TOK_SMOOTH_MARGIN,
                                            int32_t{cls->exemplar.height} + 2 * TOK_SMOOTH_MARGIN, &sum);
          st != VLT_OK)
        return st;
      made = static_cast<GraySum*>(es->malloc(sizeof(GraySum)));
      if (made == nullptr) {
        VltImage_free(sum);
        return Vlt_report(es, VLT_ERR_NOMEM);
      }
      *made = GraySum{&kGraySumTag, sum, 0xFFFF, 0xFFFF, 0, cls, cls->dictRef};
      gs = made;
    }
    if (const VltStatus st = framed_class(es, cls, &framed); st != VLT_OK) return fail(st);
    for (VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next) {
      const auto* member = static_cast<const TokMemberPos*>(m->data);
      if (member == nullptr || member->owner == nullptr) return fail(VLT_ERR_ASSERT);
      const auto* c = static_cast<const TokComponent*>(member->owner);
      if (c->pageNumber != pageNumber) continue;
      if (c->bitmap.width < gs->leastWidth) gs->leastWidth = c->bitmap.width;
      if (c->bitmap.height < gs->leastHeight) gs->leastHeight = c->bitmap.height;
      if (const VltStatus st =
              createSum(es, grey, gs->sum, framed, gs->count, c->x, c->y, c->bitmap.width, c->bitmap.height);
          st != VLT_OK)
        return fail(st);
      ++gs->count;
    }
    cls->dictRef = gs;
    made = nullptr;
    VltImage_free(framed);
  }
  return VLT_OK;
}

VltStatus getExemplar(VltState* es, const VltImage* avg, const VltImage* dilated, const VltImage* thinned,
                      int32_t regionWidth, int32_t regionHeight, VltImage* canvas, VltImage** exemplar) {
  if (avg == nullptr || dilated == nullptr || thinned == nullptr || canvas == nullptr || exemplar == nullptr)
    return Vlt_report(es, VLT_ERR_PARAM);
  *exemplar = nullptr;
  const int32_t W = avg->hdr.width, H = avg->hdr.height;
  const int64_t ox = (int64_t{W} - regionWidth) / 2, oy = (int64_t{H} - regionHeight) / 2;
  const int32_t rw = regionWidth > 0 ? regionWidth : 0, rh = regionHeight > 0 ? regionHeight : 0;
  const auto grey = [&](int64_t c, int64_t r) {
    const int64_t u = ox + c, v = oy + r;
    return u >= 0 && v >= 0 && u < W && v < H ? reinterpret_cast<const double*>(avg->rows[v])[u] : 0.0;
  };

  auto* kind = static_cast<uint8_t*>(es->calloc(static_cast<size_t>(rw) * static_cast<size_t>(rh) + 1, 1));
  if (kind == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  for (int32_t r = 0; r < rh; ++r)
    for (int32_t c = 0; c < rw; ++c) {
      const int64_t u = ox + c, v = oy + r;
      uint8_t& k = kind[static_cast<size_t>(r) * static_cast<size_t>(rw) + static_cast<size_t>(c)];
      if (bit_at(thinned, u, v)) {
        k = kSkeleton;
      } else if (grey(c, r) != 0.0 && !bit_at(dilated, u, v) && (bit_at(dilated, u - 2, v) || bit_at(dilated, u + 2, v))) {
        k = kEdge;
      }
    }
  // Mean of skeleton and edge grey over rows [r0, r1] and columns [c0, c1]; fallback when either
  // kind is absent.
  const auto threshold = [&](int32_t r0, int32_t r1, int32_t c0, int32_t c1, double fallback) {
    double skeleton = 0.0, edge = 0.0;
    int64_t ns = 0, ne = 0;
    for (int32_t r = r0; r <= r1; ++r)
      for (int32_t c = c0; c <= c1; ++c) {
        const uint8_t k = kind[static_cast<size_t>(r) * static_cast<size_t>(rw) + static_cast<size_t>(c)];
        if (k == kSkeleton) {
          skeleton += grey(c, r);
          ++ns;
        } else if (k == kEdge) {
          edge += grey(c, r);
          ++ne;
        }
      }
    return ns != 0 && ne != 0 ? (skeleton / static_cast<double>(ns) + edge / static_cast<double>(ne)) * 0.5
                              : fallback;
  };
  const double global = threshold(1, rh - 2, 1, rw - 2, 0.0);
  for (int32_t r = 0; r < rh; ++r) {
    const double t = threshold(r - 2 < 0 ? 0 : r - 2, r + 2 > rh - 1 ? rh - 1 : r + 2, 0, rw - 1, global);
    for (int32_t c = 0; c < rw; ++c) {
      const int64_t u = ox + c, v = oy + r;
      if (u < 0 || v < 0 || u >= canvas->hdr.width || v >= canvas->hdr.height) continue;
      if (grey(c, r) > t && bit_at(dilated, u, v))
        VltImage_setPackedPixel(canvas, static_cast<int32_t>(u + canvas->hdr.xOffset),
                                static_cast<int32_t>(v + canvas->hdr.yOffset), 1);
    }
  }

  int32_t left = 0, top = 0, right = 0, bottom = 0;
  ink_box(canvas, &left, &top, &right, &bottom);
  es->free(kind);
  if (!(left < right && top < bottom)) return VLT_OK;
  VltImage* out = nullptr;
  if (const VltStatus st = VltImage_new(es, VLT_IMAGE_PACKED, right - left + 1, bottom - top + 1, &out); st != VLT_OK) {
    VltImage_free(out);
    return st;
  }
  for (int32_t r = top; r <= bottom; ++r)
    for (int32_t c = left; c <= right; ++c)
      if (bit_at(canvas, c, r))
        VltImage_setPackedPixel(out, c - left + out->hdr.xOffset, r - top + out->hdr.yOffset, 1);
  *exemplar = out;
  return VLT_OK;
}

VltStatus smoothToken(VltState* es, VltAdtList* classes) {
  if (classes == nullptr) return Vlt_report(es, VLT_ERR_PARAM);
  IPWState* w = es->ipwState;
  if (const VltStatus st = w_initStrelByName(w, kOutlineElement); st != VLT_OK) return st;
  strel* element = nullptr;
  VltStatus status = w_getStrel(w, kOutlineElement, &element);
  for (VltAdtListNode* n = classes->first; status == VLT_OK && n != nullptr; n = n->next) {
    auto* cls = static_cast<TokOutput*>(n->data);
    if (cls == nullptr) {
      status = VLT_ERR_ASSERT;
      break;
    }
    GraySum* gs = tok_graySumOf(cls);
    if (gs == nullptr) continue;
    if (gs->sum == nullptr) {
      status = VLT_ERR_ASSERT;
      break;
    }
    VltImage* canvas = nullptr;
    PIXR* framedPixr = nullptr;
    PIXR* dilatedPixr = nullptr;
    PIXR* thinnedPixr = nullptr;
    VltImage* dilated = nullptr;
    VltImage* thinned = nullptr;
    VltImage* exemplar = nullptr;
    const auto wrap_pixr = [&](PIXR* p, VltImage** image) -> VltStatus {
      int32_t bpl = 0;
      uint8_t* first = nullptr;
      if (const VltStatus st = w_pixrGetBpl(w, p, &bpl); st != VLT_OK) return st;
      if (const VltStatus st = w_pixrGetImage(w, p, &first); st != VLT_OK) return st;
      if (bpl % 4 != 0) return VLT_ERR_ASSERT;
      return VltImage_wrap(es, first, canvas->hdr.width, canvas->hdr.height, bpl / 4, image);
    };
    // A class that summed nothing has no average to draw from, and one whose bitmap is already
    // borrowed by its token record or its instances must not lose it: both keep their bitmaps.
    const bool keep = gs->count <= 0 || bitmap_borrowed(cls, gs);
    VltStatus st = keep ? VLT_OK : getImgDblAverage(es, gs->sum, gs->count);
    if (st == VLT_OK && !keep) {
      st = framed_class(es, cls, &canvas);
      if (st == VLT_OK)
        st = packedToPixr(es, canvas->rows[0], canvas->hdr.width, canvas->hdr.height, canvas->hdr.bytesPerLine / 4,
                          &framedPixr);
      if (st == VLT_OK) st = w_dilate(w, framedPixr, element, &dilatedPixr);
      if (st == VLT_OK) st = w_thin8(w, framedPixr, &thinnedPixr);
      w_destroyPixr(w, &framedPixr);
      if (st == VLT_OK) st = wrap_pixr(dilatedPixr, &dilated);
      if (st == VLT_OK) st = wrap_pixr(thinnedPixr, &thinned);
      if (st == VLT_OK) {
        packedClear(canvas);
        st = getExemplar(es, gs->sum, dilated, thinned, gs->leastWidth + 2 * kBoxWidening,
                         gs->leastHeight + 2 * kBoxWidening, canvas, &exemplar);
      }
      // Class sizes are 16-bit fields: an exemplar that would not fit leaves the class as it is.
      if (st == VLT_OK && exemplar != nullptr && exemplar->hdr.width <= UINT16_MAX && exemplar->hdr.height <= UINT16_MAX) {
        const int32_t wpl = (exemplar->hdr.width + 31) / 32;
        const size_t rowBytes = static_cast<size_t>(wpl) * 4;
        auto* bits = static_cast<uint8_t*>(es->malloc(rowBytes * static_cast<size_t>(exemplar->hdr.height)));
        int32_t left = 0, top = 0, right = 0, bottom = 0;
        ink_box(canvas, &left, &top, &right, &bottom);
        if (bits == nullptr) {
          st = Vlt_report(es, VLT_ERR_NOMEM);
        } else if (!move_frame(cls, left - TOK_SMOOTH_MARGIN, top - TOK_SMOOTH_MARGIN)) {
          es->free(bits);
        } else {
          for (int32_t r = 0; r < exemplar->hdr.height; ++r)
            std::memcpy(bits + rowBytes * static_cast<size_t>(r), exemplar->rows[r], rowBytes);
          es->free(cls->exemplar.bits);
          cls->exemplar.bits = bits;
          cls->exemplar.width = static_cast<uint16_t>(exemplar->hdr.width);
          cls->exemplar.height = static_cast<uint16_t>(exemplar->hdr.height);
          cls->exemplar.wordsPerLine = static_cast<uint16_t>(wpl);
        }
      }
    }
    for (VltImage** im : {&dilated, &thinned}) {
      uint8_t* back = nullptr;
      if (*im != nullptr) VltImage_unwrap(*im, &back);
    }
    w_destroyPixr(w, &dilatedPixr);
    w_destroyPixr(w, &thinnedPixr);
    VltImage_free(exemplar);
    VltImage_free(canvas);
    tok_releaseGraySum(es, cls);
    status = st;
  }
  w_releaseStrelByName(w, nullptr, kOutlineElement);
  return status;
}
