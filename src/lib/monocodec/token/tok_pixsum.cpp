// Pixel sums and exemplars made from them.

#include "tok_pixsum.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "tok_class.h"
#include "tok_edge.h"
#include "tok_order.h"

namespace {

constexpr int32_t kBorder = 2;
constexpr int32_t kMaxCount = 32767;

bool narrow_cells(const VltImage* h) { return h->hdr.type == VLT_IMAGE_GRAY; }

int32_t get_cell(const VltImage* h, int32_t x, int32_t y) {
  return narrow_cells(h) ? *VltImage_pixel<uint8_t>(h, x, y) : *VltImage_pixel<int16_t>(h, x, y);
}

void set_cell(VltImage* h, int32_t x, int32_t y, int32_t v) {
  if (narrow_cells(h))
    *VltImage_pixel<uint8_t>(h, x, y) = static_cast<uint8_t>(v);
  else
    *VltImage_pixel<int16_t>(h, x, y) = static_cast<int16_t>(v);
}

bool covers(const VltImage* h, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  return x0 >= h->hdr.xOffset && y0 >= h->hdr.yOffset && x1 < h->hdr.xOffset + h->hdr.width &&
         y1 < h->hdr.yOffset + h->hdr.height;
}

bool fits_i16(int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; }

// The image layer reports its memory failures as 10005; the classifier's callers see 1.
VltStatus image_status(VltStatus st) { return st == VLT_ERR_VLT_NOMEM ? VLT_ERR_NOMEM : st; }

// A zeroed histogram over the bounds plus the border.
VltStatus new_hist(TokState* state, bool narrow, int32_t xmin, int32_t ymin, int32_t xmax, int32_t ymax,
                   VltImage** out) {
  const uint16_t type = narrow ? VLT_IMAGE_GRAY : VLT_IMAGE_SHORT;
  return image_status(VltImage_newOffset(state->engine, type, xmax - xmin + 1 + 2 * kBorder,
                                         ymax - ymin + 1 + 2 * kBorder, xmin - kBorder, ymin - kBorder, out));
}

// A model's set pixels must keep off its margin columns.
bool margin_clear(const TokModel* m, int32_t margin) {
  if (margin <= 0) return true;
  const uint32_t mask = mono::left_mask32(static_cast<unsigned>(std::min(margin, 32)));
  for (uint32_t y = 0; y < m->height; ++y)
    if (mono::load_be32(tok_row(m->bits, m->wordsPerLine, y)) & mask) return false;
  return true;
}

// Calls f(x, y) for every black pixel of a model, in model coordinates.
template <typename F>
void each_pixel(const TokModel* m, F f) {
  const uint32_t words = (m->width + 31) / 32;
  for (uint32_t y = 0; y < m->height; ++y) {
    const uint8_t* row = tok_row(m->bits, m->wordsPerLine, y);
    for (uint32_t i = 0; i < words; ++i)
      for (uint32_t w = mono::load_be32(row + 4 * i); w != 0;) {
        const int k = std::countl_zero(w);
        w &= ~(0x80000000u >> k);
        f(static_cast<int32_t>(32 * i + k), static_cast<int32_t>(y));
      }
  }
}

bool model_inside(const VltImage* h, const TokModel* m, int32_t x, int32_t y) {
  return covers(h, x, y, x + static_cast<int32_t>(m->width) - 1, y + static_cast<int32_t>(m->height) - 1);
}

// Whether every black pixel of the model, placed at (x, y), has a cell. A histogram may be
// narrower than a member's whole box, margin and blank columns included, after merges.
bool pixels_inside(const VltImage* h, const TokModel* m, int32_t x, int32_t y) {
  bool inside = true;
  each_pixel(m, [&](int32_t px, int32_t py) { inside = inside && covers(h, px + x, py + y, px + x, py + y); });
  return inside;
}

void add_model(VltImage* h, const TokModel* m, int32_t x, int32_t y, int32_t delta) {
  each_pixel(m, [&](int32_t px, int32_t py) { set_cell(h, px + x, py + y, get_cell(h, px + x, py + y) + delta); });
}

// A copy of the histogram with 16-bit cells.
VltStatus widened(TokState* state, const VltImage* h, VltImage** out) {
  VltImage* w = nullptr;
  if (VltStatus st = VltImage_newOffset(state->engine, VLT_IMAGE_SHORT, h->hdr.width, h->hdr.height,
                                        h->hdr.xOffset, h->hdr.yOffset, &w))
    return image_status(st);
  for (int32_t y = h->hdr.yOffset; y < h->hdr.yOffset + h->hdr.height; ++y)
    for (int32_t x = h->hdr.xOffset; x < h->hdr.xOffset + h->hdr.width; ++x) set_cell(w, x, y, get_cell(h, x, y));
  *out = w;
  return VLT_OK;
}

// The histogram re-made over the bounds plus border, cells kept.
VltStatus regrown(TokState* state, const TokPixelSum* sum, const VltImage* h, VltImage** out) {
  VltImage* n = nullptr;
  if (VltStatus st = new_hist(state, narrow_cells(h), sum->xmin, sum->ymin, sum->xmax, sum->ymax, &n)) return st;
  const int32_t x0 = std::max(h->hdr.xOffset, n->hdr.xOffset);
  const int32_t y0 = std::max(h->hdr.yOffset, n->hdr.yOffset);
  const int32_t x1 = std::min(h->hdr.xOffset + h->hdr.width, n->hdr.xOffset + n->hdr.width);
  const int32_t y1 = std::min(h->hdr.yOffset + h->hdr.height, n->hdr.yOffset + n->hdr.height);
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) set_cell(n, x, y, get_cell(h, x, y));
  *out = n;
  return VLT_OK;
}

void replace_hist(TokPixelSum* sum, VltImage* h) {
  VltImage_free(sum->histogram);
  sum->histogram = h;
  sum->narrow = narrow_cells(h) ? 1 : 0;
}

// The bounds and count that a failed change restores.
struct Saved {
  int16_t xmin, ymin, xmax, ymax;
  int32_t count;
  uint32_t flags;
};
Saved save(const TokClass* c) {
  const TokPixelSum* s = c->sum;
  return Saved{s->xmin, s->ymin, s->xmax, s->ymax, s->count, c->flags};
}
void restore(TokClass* c, const Saved& v) {
  TokPixelSum* s = c->sum;
  s->xmin = v.xmin;
  s->ymin = v.ymin;
  s->xmax = v.xmax;
  s->ymax = v.ymax;
  s->count = v.count;
  c->flags = v.flags;
}

// Widens the bounds to take in a rectangle; false when they would leave the 16-bit range.
bool widen(TokPixelSum* s, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const int32_t nx0 = std::min<int32_t>(s->xmin, x0), ny0 = std::min<int32_t>(s->ymin, y0);
  const int32_t nx1 = std::max<int32_t>(s->xmax, x1), ny1 = std::max<int32_t>(s->ymax, y1);
  if (!fits_i16(nx0 - kBorder) || !fits_i16(ny0 - kBorder) || !fits_i16(nx1 + kBorder) || !fits_i16(ny1 + kBorder))
    return false;
  s->xmin = static_cast<int16_t>(nx0);
  s->ymin = static_cast<int16_t>(ny0);
  s->xmax = static_cast<int16_t>(nx1);
  s->ymax = static_cast<int16_t>(ny1);
  return true;
}

void exemplar_changed(TokClass* c) {
  if (c->flags & TOK_CLASS_OWNS_EXEMPLAR) c->flags &= ~TOK_CLASS_EXEMPLAR_CURRENT;
}

// Grows one of the state's scratch arrays to hold n entries.
VltStatus scratch(TokState* state, int32_t** array, size_t* capacity, size_t n) {
  if (n <= *capacity) return VLT_OK;
  size_t bytes;
  if (!mono::checked_mul(n, sizeof(int32_t), &bytes)) return Vlt_report(state->engine, VLT_ERR_NOMEM);
  auto* a = static_cast<int32_t*>(state->engine->malloc(bytes));
  if (a == nullptr) return Vlt_report(state->engine, VLT_ERR_NOMEM);
  state->engine->free(*array);
  *array = a;
  *capacity = n;
  return VLT_OK;
}

}  // namespace

int32_t tok_histCell(const VltImage* histogram, int32_t x, int32_t y) { return get_cell(histogram, x, y); }

void PixelSumFree(TokPixelSum* sum, TokState* state) {
  if (sum == nullptr) return;
  VltImage_free(sum->histogram);
  tok_pool_give(state->engine, TOK_POOL_PIXEL_SUM, sum);
}

VltStatus ModelToSum(const TokModel* model, TokState* state, TokPixelSum** out) {
  const int32_t g = state->margin;
  if (model == nullptr || !margin_clear(model, g)) return VLT_ERR_ASSERT;
  void* block = nullptr;
  if (VltStatus st = tok_pool_take(state->engine, TOK_POOL_PIXEL_SUM, &block)) return st;
  auto* sum = static_cast<TokPixelSum*>(block);
  *sum = TokPixelSum{nullptr, static_cast<int16_t>(g), 0, static_cast<int16_t>(model->width - 1),
                     static_cast<int16_t>(model->height - 1), 1, 1};
  if (state->sumStart < 2) {
    if (VltStatus st = new_hist(state, true, sum->xmin, sum->ymin, sum->xmax, sum->ymax, &sum->histogram)) {
      PixelSumFree(sum, state);
      return st;
    }
    add_model(sum->histogram, model, 0, 0, 1);
  }
  *out = sum;
  return VLT_OK;
}

VltStatus makeRealHist(TokClass* cls, TokState* state) {
  TokPixelSum* sum = cls->sum;
  if (sum == nullptr || sum->histogram != nullptr) return VLT_ERR_ASSERT;
  if (cls->flags & TOK_CLASS_RESUMED) return VLT_OK;
  if (cls->flags & TOK_CLASS_COMMITTED) return VLT_ERR_ASSERT;
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next)
    if (static_cast<TokBox*>(n->data)->model == nullptr) return VLT_ERR_ASSERT;
  VltImage* h = nullptr;
  if (VltStatus st = new_hist(state, sum->count < 256, sum->xmin, sum->ymin, sum->xmax, sum->ymax, &h)) return st;
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) {
    const TokBox* b = static_cast<TokBox*>(n->data);
    if (!model_inside(h, b->model, b->xOffset, b->yOffset)) {
      VltImage_free(h);
      return VLT_ERR_ASSERT;
    }
    add_model(h, b->model, b->xOffset, b->yOffset, 1);
  }
  sum->histogram = h;
  sum->narrow = narrow_cells(h) ? 1 : 0;
  return VLT_OK;
}

VltStatus PixelRealloc(TokPixelSum* sum, TokState* state) {
  if (sum == nullptr || sum->histogram == nullptr) return VLT_ERR_ASSERT;
  VltImage* n = nullptr;
  if (VltStatus st = regrown(state, sum, sum->histogram, &n)) return st;
  replace_hist(sum, n);
  return VLT_OK;
}

VltStatus InsertModel(TokClass* cls, const TokModel* model, int32_t x, int32_t y, TokState* state) {
  TokPixelSum* sum = cls != nullptr ? cls->sum : nullptr;
  if (sum != nullptr && (cls->flags & TOK_CLASS_SATURATED)) return VLT_OK;
  if (sum == nullptr || model == nullptr || !margin_clear(model, state->margin)) return VLT_ERR_ASSERT;
  if (sum->count + 1 > kMaxCount) return VLT_ERR_ASSERT;
  const int32_t count = sum->count + 1;
  // A committed class keeps the histogram it was committed with, and a resumed one the histogram
  // its record brought, whatever their counts; any other class has one exactly from sumStart
  // members on.
  const bool keeps = (cls->flags & (TOK_CLASS_RESUMED | TOK_CLASS_COMMITTED)) != 0;
  const bool building = !keeps && count == state->sumStart;
  if (!keeps && (count <= state->sumStart) != (sum->histogram == nullptr)) return VLT_ERR_ASSERT;
  if (count >= state->sumLimit && count != state->sumLimit) return VLT_ERR_ASSERT;
  const Saved old = save(cls);
  if (!widen(sum, state->margin + x, y, static_cast<int32_t>(model->width) + x - 1,
             static_cast<int32_t>(model->height) + y - 1))
    return VLT_ERR_ASSERT;
  sum->count = count;
  exemplar_changed(cls);
  if (keeps ? sum->histogram == nullptr : count < state->sumStart) {
    if (count == state->sumLimit) cls->flags |= TOK_CLASS_SATURATED;
    return VLT_OK;
  }
  if (building) {
    if (VltStatus st = makeRealHist(cls, state)) {
      restore(cls, old);
      return st;
    }
    if (sum->histogram == nullptr) {
      restore(cls, old);
      return VLT_ERR_ASSERT;
    }
  }
  const bool made = building;
  const auto fail = [&](VltStatus st) {
    if (made) {
      VltImage_free(sum->histogram);
      sum->histogram = nullptr;
    }
    restore(cls, old);
    return st;
  };
  if (sum->histogram == nullptr) return fail(VLT_ERR_ASSERT);
  if (count >= 256 && narrow_cells(sum->histogram)) {
    VltImage* w = nullptr;
    if (VltStatus st = widened(state, sum->histogram, &w)) return fail(st);
    replace_hist(sum, w);
  }
  if (!model_inside(sum->histogram, model, x, y)) {
    if (VltStatus st = PixelRealloc(sum, state)) return fail(st);
  }
  add_model(sum->histogram, model, x, y, 1);
  if (count == state->sumLimit) cls->flags |= TOK_CLASS_SATURATED;
  return VLT_OK;
}

VltStatus DeleteModel(TokClass* cls, const TokModel* model, int32_t x, int32_t y, TokState* state) {
  TokPixelSum* sum = cls != nullptr ? cls->sum : nullptr;
  if (sum == nullptr || model == nullptr) return VLT_ERR_ASSERT;
  if (cls->flags & TOK_CLASS_SATURATED) return VLT_OK;
  if (sum->count >= state->sumLimit || sum->count - 1 <= 0 || !margin_clear(model, state->margin))
    return VLT_ERR_ASSERT;
  const int32_t count = sum->count - 1;
  VltImage* h = sum->histogram;
  if (count == state->sumStart - 1) {
    if (cls->flags & TOK_CLASS_COMMITTED) return VLT_ERR_ASSERT;
  } else if (count < state->sumStart - 1) {
    if (h != nullptr) return VLT_ERR_ASSERT;
  } else {
    if (h == nullptr || !pixels_inside(h, model, x, y)) return VLT_ERR_ASSERT;
    bool empty_cell = false;
    each_pixel(model, [&](int32_t px, int32_t py) { empty_cell = empty_cell || get_cell(h, px + x, py + y) == 0; });
    if (empty_cell) return VLT_ERR_ASSERT;
  }
  sum->count = count;
  exemplar_changed(cls);
  if (count == state->sumStart - 1) {
    VltImage_free(h);
    sum->histogram = nullptr;
  } else if (count >= state->sumStart) {
    add_model(h, model, x, y, -1);
  }
  return VLT_OK;
}

VltStatus MergePixelSumsWithOffset(TokClass* a, TokClass* b, int32_t x, int32_t y, TokState* state) {
  if (a == nullptr || b == nullptr || a->sum == nullptr || b->sum == nullptr) return VLT_ERR_ASSERT;
  if (a->flags & TOK_CLASS_SATURATED) return VLT_OK;
  TokPixelSum* sa = a->sum;
  TokPixelSum* sb = b->sum;
  const int32_t count = sa->count + sb->count;
  if (count > kMaxCount) return VLT_ERR_ASSERT;
  const Saved old = save(a);
  const int32_t oldCount = sa->count;
  if (!widen(sa, sb->xmin + x, sb->ymin + y, sb->xmax + x, sb->ymax + y)) return VLT_ERR_ASSERT;
  sa->count = count;
  exemplar_changed(a);

  if (b->flags & TOK_CLASS_SATURATED) {
    VltImage* copy = nullptr;
    if (sb->histogram != nullptr) {
      if (VltStatus st = VltImage_dup(sb->histogram, 0, &copy)) {
        restore(a, old);
        return image_status(st);
      }
      VltImage_setOffset(copy, copy->hdr.xOffset + x, copy->hdr.yOffset + y);
    }
    VltImage_free(sa->histogram);
    sa->histogram = copy;
    sa->xmin = static_cast<int16_t>(sb->xmin + x);
    sa->ymin = static_cast<int16_t>(sb->ymin + y);
    sa->xmax = static_cast<int16_t>(sb->xmax + x);
    sa->ymax = static_cast<int16_t>(sb->ymax + y);
    sa->count = sb->count;
    sa->narrow = sb->narrow;
    a->flags |= TOK_CLASS_SATURATED;
    return VLT_OK;
  }
  if (count < state->sumStart && sa->histogram == nullptr) return VLT_OK;

  bool madeA = false, madeB = false;
  const auto fail = [&](VltStatus st) {
    if (madeA) {
      VltImage_free(sa->histogram);
      sa->histogram = nullptr;
    }
    if (madeB) {
      VltImage_free(sb->histogram);
      sb->histogram = nullptr;
    }
    restore(a, old);
    return st;
  };
  if (sa->histogram == nullptr) {
    if (oldCount >= state->sumStart) return fail(VLT_ERR_ASSERT);
    if (VltStatus st = makeRealHist(a, state)) return fail(st);
    madeA = sa->histogram != nullptr;
  }
  if (sb->histogram == nullptr) {
    if (sb->count >= state->sumStart) return fail(VLT_ERR_ASSERT);
    if (VltStatus st = makeRealHist(b, state)) return fail(st);
    madeB = sb->histogram != nullptr;
  }
  if (sa->histogram == nullptr || sb->histogram == nullptr) return fail(VLT_ERR_ASSERT);
  if (madeB && (b->flags & TOK_CLASS_COMMITTED)) return fail(VLT_ERR_ASSERT);
  if ((count > 255 || !narrow_cells(sa->histogram)) && narrow_cells(sa->histogram)) {
    VltImage* w = nullptr;
    if (VltStatus st = widened(state, sa->histogram, &w)) return fail(st);
    replace_hist(sa, w);
  }
  if (!covers(sa->histogram, sa->xmin, sa->ymin, sa->xmax, sa->ymax)) {
    VltImage* n = nullptr;
    if (VltStatus st = regrown(state, sa, sa->histogram, &n)) return fail(st);
    replace_hist(sa, n);
  }
  const VltImage* hb = sb->histogram;
  if (!covers(hb, sb->xmin, sb->ymin, sb->xmax, sb->ymax)) return fail(VLT_ERR_ASSERT);
  for (int32_t yy = sb->ymin; yy <= sb->ymax; ++yy)
    for (int32_t xx = sb->xmin; xx <= sb->xmax; ++xx)
      if (const int32_t v = get_cell(hb, xx, yy)) set_cell(sa->histogram, xx + x, yy + y, get_cell(sa->histogram, xx + x, yy + y) + v);
  if (madeB) {
    VltImage_free(sb->histogram);
    sb->histogram = nullptr;
  }
  if (count >= state->sumLimit) a->flags |= TOK_CLASS_SATURATED;
  return VLT_OK;
}

VltStatus MakeExemplarFromPixelSum(TokState* state, TokClass* cls, int force) {
  TokPixelSum* sum = cls->sum;
  if (!force && (sum == nullptr || sum->count < 4)) {
    cls->exemplar = nullptr;
    return VLT_OK;
  }
  if (sum == nullptr || (cls->flags & TOK_CLASS_RESUMED)) return VLT_ERR_ASSERT;
  const int32_t members = static_cast<int32_t>(cls->members->count);
  if (!(cls->flags & TOK_CLASS_SATURATED) && sum->count != members) return VLT_ERR_ASSERT;
  if (members == 0) return VLT_ERR_ASSERT;

  bool temporary = false;
  if (sum->count < state->sumStart && !(cls->flags & TOK_CLASS_COMMITTED)) {
    if (sum->histogram != nullptr) return VLT_ERR_ASSERT;
    if (VltStatus st = makeRealHist(cls, state)) return st;
    temporary = true;
  }
  const auto drop_temporary = [&]() -> VltStatus {
    if (!temporary) return VLT_OK;
    VltImage_free(sum->histogram);
    sum->histogram = nullptr;
    return (cls->flags & TOK_CLASS_COMMITTED) ? VLT_ERR_ASSERT : VLT_OK;
  };
  const auto fail = [&](VltStatus st) {
    drop_temporary();
    return st;
  };
  const VltImage* h = sum->histogram;
  if (h == nullptr || !covers(h, sum->xmin, sum->ymin, sum->xmax, sum->ymax)) return fail(VLT_ERR_ASSERT);

  // The target: the median member pixel count, the mean of the middle two for an even number.
  if (VltStatus st = scratch(state, &state->pixelCounts, &state->pixelCountsCapacity, size_t(members))) return fail(st);
  int32_t i = 0;
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next)
    state->pixelCounts[i++] = static_cast<int32_t>(static_cast<TokBox*>(n->data)->pixelCount);
  int32_t median = pickNth(state->pixelCounts, members, members / 2);
  if (members % 2 == 0) {
    const int64_t lower = pickNth(state->pixelCounts, members, members / 2 - 1);
    median = static_cast<int32_t>((lower + median) / 2);
  }

  const int32_t top = sum->count;
  if (VltStatus st = scratch(state, &state->levelCounts, &state->levelCountsCapacity, size_t(top) + 1)) return fail(st);
  int32_t* levels = state->levelCounts;
  std::fill(levels, levels + top + 1, 0);
  for (int32_t yy = sum->ymin; yy <= sum->ymax; ++yy)
    for (int32_t xx = sum->xmin; xx <= sum->xmax; ++xx) {
      const int32_t v = get_cell(h, xx, yy);
      if (v < 0 || v > top) return fail(VLT_ERR_ASSERT);
      ++levels[v];
    }

  // Walk down from the highest level until the cells at or above it outnumber the median; then
  // take whichever of that level and the one above selects a cell count nearer the median.
  int64_t atOrAbove = 0;
  int32_t level = 0;
  for (int32_t v = top; v >= 0; --v) {
    atOrAbove += levels[v];
    level = v;
    if (atOrAbove > median) break;
  }
  const int64_t above = atOrAbove - levels[level];
  int32_t threshold = level;
  int64_t selected = atOrAbove;
  if (above > 0 && std::llabs(above - median) <= std::llabs(atOrAbove - median)) {
    threshold = level + 1;
    selected = above;
  }
  const int64_t distance = std::llabs(selected - median);
  if (!force && static_cast<float>(distance) / static_cast<float>(median) >= 0.1f) {
    cls->exemplar = nullptr;
    return drop_temporary();
  }

  int32_t left = INT32_MAX, right = INT32_MIN, upper = INT32_MAX, lower = INT32_MIN;
  for (int32_t yy = sum->ymin; yy <= sum->ymax; ++yy)
    for (int32_t xx = sum->xmin; xx <= sum->xmax; ++xx)
      if (get_cell(h, xx, yy) >= threshold) {
        left = std::min(left, xx);
        right = std::max(right, xx);
        upper = std::min(upper, yy);
        lower = std::max(lower, yy);
      }
  if (left > right) return fail(VLT_ERR_ASSERT);

  const int32_t g = state->margin;
  const uint32_t width = static_cast<uint32_t>(right - left + g + 1);
  const uint32_t height = static_cast<uint32_t>(lower - upper + 1);
  const uint32_t wpl = (width + 31) / 32;
  void* block = nullptr;
  if (VltStatus st = tok_pool_take(state->engine, TOK_POOL_MODEL, &block)) return fail(st);
  auto* model = static_cast<TokModel*>(block);
  *model = TokModel{width, height, wpl, nullptr, 0, 0};
  model->bits = static_cast<uint8_t*>(state->engine->calloc(size_t(wpl) * height, 4));
  if (model->bits == nullptr) {
    FreeModel(model, state);
    return fail(Vlt_report(state->engine, VLT_ERR_NOMEM));
  }
  uint32_t pixels = 0;
  for (int32_t yy = upper; yy <= lower; ++yy) {
    uint8_t* row = tok_row(model->bits, wpl, uint32_t(yy - upper));
    for (int32_t xx = left; xx <= right; ++xx)
      if (get_cell(h, xx, yy) >= threshold) {
        mono::set_bit(row, size_t(xx - left + g), 1);
        ++pixels;
      }
  }
  model->pixelCount = pixels;
  if (VltStatus st = tok_pool_take(state->engine, TOK_POOL_BOX, &block)) {
    FreeModel(model, state);
    return fail(st);
  }
  auto* box = static_cast<TokBox*>(block);
  *box = TokBox{width - static_cast<uint32_t>(g), height, model, nullptr, 0, 0, pixels, nullptr};
  if (VltStatus st = MakeImCrossFromMod(model, state, &box->edge)) {
    FreeBox(box, state);
    return fail(st);
  }

  // The exemplar's origin becomes the frame's origin.
  const int32_t mx = g - left, my = -upper;
  if (mx != 0 || my != 0) {
    VltImage_setOffset(sum->histogram, sum->histogram->hdr.xOffset + mx, sum->histogram->hdr.yOffset + my);
    sum->xmin = static_cast<int16_t>(sum->xmin + mx);
    sum->xmax = static_cast<int16_t>(sum->xmax + mx);
    sum->ymin = static_cast<int16_t>(sum->ymin + my);
    sum->ymax = static_cast<int16_t>(sum->ymax + my);
    for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) {
      auto* b = static_cast<TokBox*>(n->data);
      b->xOffset = static_cast<int16_t>(b->xOffset + mx);
      b->yOffset = static_cast<int16_t>(b->yOffset + my);
    }
  }
  if (VltStatus st = drop_temporary()) {
    FreeBox(box, state);
    return st;
  }
  cls->exemplar = box;
  return VLT_OK;
}
