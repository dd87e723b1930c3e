// Two-way edge match test and placement by least difference.

#include "tok_match.h"

#include <algorithm>
#include <cmath>

#include "byteorder.h"
#include "tok_edge.h"

const TokShift trans[TOK_SHIFT_COUNT] = {
    {0, 0},   {-1, 0}, {1, 0},  {0, -1},  {0, 1},   {-1, -1}, {1, 1},  {1, -1}, {-1, 1},
    {-2, 0},  {2, 0},  {0, -2}, {0, 2},   {-2, -2}, {2, 2},   {2, -2}, {-2, 2}, {-2, -1},
    {2, 1},   {1, -2}, {-1, 2}, {-2, 1},  {2, -1},  {-1, -2}, {1, 2}};

namespace {

// Truncation toward zero that saturates instead of overflowing on odd parameters.
int32_t truncate(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return INT32_MAX;
  if (v <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// The last shift index tried; the table has no more.
int32_t last_shift(const TokState* s) { return std::min(s->maxShift, TOK_SHIFT_COUNT - 1); }

// Reads 32 pixels of a row starting dx columns right of a word boundary; pad stands for every
// pixel outside the row's words. The word split is worked out once per offset.
struct Window {
  int64_t words_before;  // whole words of the offset, rounded down
  uint32_t shift;        // the rest, 0..31
  explicit Window(int64_t dx) : words_before(dx >= 0 ? dx / 32 : -((-dx + 31) / 32)), shift(uint32_t(dx - words_before * 32)) {}
  // The pixels of columns 32i + dx .. 32i + dx + 31.
  uint32_t at(const uint8_t* row, uint32_t words, int64_t i, uint32_t pad) const {
    const int64_t q = i + words_before;
    const auto word = [&](int64_t k) { return k >= 0 && k < int64_t(words) ? mono::load_be32(row + 4 * k) : pad; };
    const uint32_t w0 = word(q);
    return shift == 0 ? w0 : (w0 << shift) | (word(q + 1) >> (32 - shift));
  }
};

uint32_t words_of(const TokModel* m) { return (m->width + 31) / 32; }

uint32_t row_count(const TokModel* m, uint32_t y) {
  const uint8_t* row = tok_row(m->bits, m->wordsPerLine, y);
  uint32_t n = 0;
  for (uint32_t i = 0, w = words_of(m); i < w; ++i) n += tok_bitcount(mono::load_be32(row + 4 * i));
  return n;
}

// Word i of b's row y with the pixels inside the dilation removed.
uint32_t mismatch_word(const TokModel* edge, const TokModel* b, int32_t dx, int32_t rowOffset, int64_t y,
                       int64_t i) {
  if (y < 0 || y >= int64_t(b->height) || i < 0 || i >= int64_t(words_of(b))) return 0;
  const uint32_t word = mono::load_be32(tok_row(b->bits, b->wordsPerLine, uint32_t(y)) + 4 * i);
  const int64_t ey = y + rowOffset;
  if (word == 0 || ey < 0 || ey >= int64_t(edge->height)) return word;
  return word & Window(dx).at(tok_row(edge->bits, edge->wordsPerLine, uint32_t(ey)), edge->wordsPerLine, i, ~0u);
}

// Pixels set in exactly one of a and b (b at (dx, dy)), counted until they pass limit.
uint32_t difference(const TokModel* a, const TokModel* b, int32_t dx, int32_t dy, uint32_t limit) {
  const int64_t top = std::min<int64_t>(0, dy);
  const int64_t bottom = std::max<int64_t>(a->height, int64_t(dy) + b->height);
  const uint32_t aw = words_of(a), bw = words_of(b);
  const Window moved_b(-int64_t(dx));
  uint32_t count = 0;
  for (int64_t y = top; y < bottom; ++y) {
    const bool inA = y >= 0 && y < int64_t(a->height);
    const int64_t by = y - dy;
    const bool inB = by >= 0 && by < int64_t(b->height);
    if (inA && !inB) {
      count += row_count(a, uint32_t(y));
    } else if (inB && !inA) {
      count += row_count(b, uint32_t(by));
    } else if (inA) {
      const uint8_t* ar = tok_row(a->bits, a->wordsPerLine, uint32_t(y));
      const uint8_t* br = tok_row(b->bits, b->wordsPerLine, uint32_t(by));
      uint32_t inside = 0;
      for (uint32_t j = 0; j < aw; ++j) {
        const uint32_t moved = moved_b.at(br, bw, j, 0);
        inside += tok_bitcount(moved);
        count += tok_bitcount(mono::load_be32(ar + 4 * j) ^ moved);
      }
      count += row_count(b, uint32_t(by)) - inside;
    }
    if (count > limit) return count;
  }
  return count;
}

bool fits_i16(int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; }

}  // namespace

int32_t tokAllowedMismatches(const TokState* state, uint32_t edgeCount) {
  const float share = 1.0f - state->matchFraction;
  return truncate(share * static_cast<float>(edgeCount));
}

int32_t tokMatchThreshold(const TokState* state, uint32_t edgeCount) {
  const int32_t allowed = tokAllowedMismatches(state, edgeCount);
  if (allowed < state->thresholdOffset) return 0;
  if (allowed < state->thresholdKnee) return allowed - state->thresholdOffset;
  const float base = static_cast<float>(state->thresholdKnee - state->thresholdOffset);
  const float rise = state->thresholdSlope * static_cast<float>(allowed - state->thresholdKnee);
  return std::min(truncate(base + rise), allowed);
}

int32_t MinEdgePixForMismatch(const TokState* state) {
  const double share = 1.0 - static_cast<double>(state->matchFraction);
  const double v = static_cast<double>(state->thresholdOffset + 1) / share;
  if (!(v == v) || v >= 2147483647.0 || v <= -2147483648.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

uint32_t GetMismatchDensity(const TokModel* edge, const TokModel* b, int32_t dx, int32_t rowOffset) {
  static constexpr uint8_t kPop3[8] = {0, 1, 1, 2, 1, 2, 2, 3};
  uint32_t best = 0;
  const int64_t words = words_of(b);
  for (int64_t y = 1; y + 1 < int64_t(b->height); ++y) {
    for (int64_t i = 0; i < words; ++i) {
      uint32_t mid[3];
      bool any = false;
      for (int r = 0; r < 3; ++r) {
        mid[r] = mismatch_word(edge, b, dx, rowOffset, y - 1 + r, i);
        any = any || mid[r] != 0;
      }
      // A window centred in a blank word sees only its neighbours' edge columns, which the
      // windows centred on those columns see as well.
      if (!any) continue;
      uint64_t t[3];
      for (int r = 0; r < 3; ++r)
        t[r] = uint64_t(mismatch_word(edge, b, dx, rowOffset, y - 1 + r, i - 1) & 1u) << 33 |
               uint64_t(mid[r]) << 1 | mismatch_word(edge, b, dx, rowOffset, y - 1 + r, i + 1) >> 31;
      for (int k = 0; k < 32; ++k) {
        const int shift = 31 - k;
        const uint32_t n = kPop3[(t[0] >> shift) & 7u] + kPop3[(t[1] >> shift) & 7u] + kPop3[(t[2] >> shift) & 7u];
        if (n > best) best = n;
      }
      if (best == 9) return best;
    }
  }
  return best;
}

uint32_t NumMismatched(const TokModel* edge, const TokModel* b, int32_t dx, int32_t dy, int32_t limit,
                       const TokState* state) {
  if (int64_t(b->pixelCount) - int64_t(edge->pixelCount) > limit) return b->pixelCount;
  const int32_t rowOffset = dy + state->margin;
  const uint32_t words = words_of(b);
  const Window window(dx);
  uint32_t count = 0;
  for (uint32_t y = 0; y < b->height; ++y) {
    const uint8_t* row = tok_row(b->bits, b->wordsPerLine, y);
    const int64_t ey = int64_t(y) + rowOffset;
    if (ey < 0 || ey >= int64_t(edge->height)) {
      count += row_count(b, y);
    } else {
      const uint8_t* er = tok_row(edge->bits, edge->wordsPerLine, uint32_t(ey));
      for (uint32_t i = 0; i < words; ++i) {
        const uint32_t word = mono::load_be32(row + 4 * i);
        if (word != 0) count += tok_bitcount(word & window.at(er, edge->wordsPerLine, i, ~0u));
      }
    }
    if (int64_t(count) > limit) return count;
  }
  if (int64_t(count) > state->maxDense && b->width > 2 &&
      int64_t(GetMismatchDensity(edge, b, dx, rowOffset)) > state->maxDense)
    return b->pixelCount;
  return count;
}

int EdgeHausdorffMatch(const TokModel* a, const TokModel* edgeA, const TokModel* b, const TokModel* edgeB,
                       int16_t* dx, int16_t* dy, const TokState* state) {
  const int32_t tA = tokMatchThreshold(state, a->edgeCount);
  const int32_t tB = tokMatchThreshold(state, b->edgeCount);
  int32_t best = -1;
  uint32_t bestScore = 0;
  for (int32_t s = 0; s <= last_shift(state); ++s) {
    const int32_t ox = *dx + trans[s].x, oy = *dy + trans[s].y;
    if (!fits_i16(ox) || !fits_i16(oy)) continue;
    const uint32_t mB = NumMismatched(edgeA, b, ox, oy, tB, state);
    if (int64_t(mB) > tB) continue;
    const uint32_t mA = NumMismatched(edgeB, a, -ox, -oy, tA, state);
    if (int64_t(mA) > tA) continue;
    const uint32_t score = std::max(mA, mB);
    if (best < 0 || score < bestScore) {
      best = s;
      bestScore = score;
    }
  }
  if (best < 0) return 0;
  *dx = static_cast<int16_t>(*dx + trans[best].x);
  *dy = static_cast<int16_t>(*dy + trans[best].y);
  return 1;
}

void ShiftEdgeHausdorffMatch(const TokModel* a, const TokModel*, const TokModel* b, const TokModel*,
                             int16_t* dx, int16_t* dy, const TokState* state) {
  uint32_t best = a->pixelCount;
  int32_t chosen = 0;
  for (int32_t s = 0; s <= last_shift(state); ++s) {
    const int32_t ox = *dx + trans[s].x, oy = *dy + trans[s].y;
    if (!fits_i16(ox) || !fits_i16(oy)) continue;
    const uint32_t count = difference(a, b, ox, oy, best);
    if (count < best) {
      best = count;
      chosen = s;
    }
  }
  *dx = static_cast<int16_t>(*dx + trans[chosen].x);
  *dy = static_cast<int16_t>(*dy + trans[chosen].y);
}
