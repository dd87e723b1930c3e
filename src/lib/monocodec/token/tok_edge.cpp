// Dilated edge images: table-driven dilation of a model, its boundary count and the
// complemented result.

#include "tok_edge.h"

#include <bit>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"

namespace {

// ---- Neighbourhood tables ------------------------------------------------------------------

constexpr int index_bit(int dy, int dx) {
  switch (dy) {
    case -2: return 0;
    case -1: return 2 + dx;
    case 0: return 6 + dx;
    case 1: return 10 + dx;
    default: return 12;
  }
}

// Pixel (dy, dx) of a pattern; pixels outside the diamond are clear.
constexpr bool px(uint32_t index, int dy, int dx) {
  const int ady = dy < 0 ? -dy : dy;
  const int adx = dx < 0 ? -dx : dx;
  if (ady + adx > 2) return false;
  return ((index >> index_bit(dy, dx)) & 1u) != 0;
}

constexpr bool boundary(uint32_t index) {
  if (!px(index, 0, 0)) return false;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (!px(index, dy, dx)) return true;
  return false;
}

constexpr uint8_t entry(bool on, uint32_t index) {
  return static_cast<uint8_t>((on ? 1u : 0u) | (boundary(index) ? 2u : 0u));
}

constexpr uint8_t plus_entry(uint32_t i) {
  return entry(px(i, 0, 0) || px(i, -1, 0) || px(i, 1, 0) || px(i, 0, -1) || px(i, 0, 1), i);
}

constexpr uint8_t square_entry(uint32_t i) {
  bool on = false;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) on = on || px(i, dy, dx);
  return entry(on, i);
}

// Pixel (dy, dx) of the pattern turned by quarter turns: up goes to right, right to down.
constexpr bool turned(uint32_t index, int turns, int dy, int dx) {
  for (int t = 0; t < turns; ++t) {
    const int ndy = dx;
    dx = -dy;
    dy = ndy;
  }
  return px(index, dy, dx);
}

// The plus dilation restricted to pixels whose setting keeps the topology: the clear centre
// must touch the shape along an axis and have 8-connectivity number 1 (it joins exactly one
// ring arc). The pixels two steps out veto fills that would close a two-pixel gap or hole
// together with the fill of the pixel beyond: a single stroke facing another stroke across
// the centre and its opposite neighbour, a notch facing a stroke beyond its open side, and a
// corner wrapped by a bend that the opposite fills would close.
constexpr uint8_t topology_entry(uint32_t i) {
  if (px(i, 0, 0)) return entry(true, i);
  const bool up = px(i, -1, 0), down = px(i, 1, 0), left = px(i, 0, -1), right = px(i, 0, 1);
  if (!up && !down && !left && !right) return entry(false, i);
  // Ring x1 .. x8 from the right neighbour anticlockwise; xk+8 = xk.
  const bool ring[10] = {px(i, 0, 1),  px(i, -1, 1), px(i, -1, 0), px(i, -1, -1), px(i, 0, -1),
                         px(i, 1, -1), px(i, 1, 0),  px(i, 1, 1),  px(i, 0, 1),   px(i, -1, 1)};
  int connectivity = 0;
  for (int k = 0; k < 8; k += 2) {
    const int a = ring[k] ? 0 : 1, b = ring[k + 1] ? 0 : 1, c = ring[k + 2] ? 0 : 1;
    connectivity += a - a * b * c;
  }
  if (connectivity != 1) return entry(false, i);
  for (int t = 0; t < 4; ++t) {
    const bool u = turned(i, t, -1, 0), l = turned(i, t, 0, -1), d = turned(i, t, 1, 0),
               r = turned(i, t, 0, 1);
    if (u && !l && !d && !r && (turned(i, t, 1, -1) || turned(i, t, 1, 1) || turned(i, t, 2, 0)))
      return entry(false, i);
    if (u && l && !d && !r &&
        (turned(i, t, 1, 1) || (turned(i, t, -1, 1) && turned(i, t, 0, 2) && turned(i, t, 1, -1) &&
                                turned(i, t, 2, 0))))
      return entry(false, i);
    if (u && l && d && !r && turned(i, t, -1, 1) && turned(i, t, 1, 1) && turned(i, t, 0, 2))
      return entry(false, i);
  }
  return entry(true, i);
}

template <uint8_t (*Entry)(uint32_t)>
struct Table {
  uint8_t v[TOK_DILATE_TABLE_SIZE];
  constexpr Table() : v() {
    for (uint32_t i = 0; i < TOK_DILATE_TABLE_SIZE; ++i) v[i] = Entry(i);
  }
};

struct BitCounts {
  uint8_t v[65536];
  constexpr BitCounts() : v() {
    for (uint32_t i = 0; i < 65536; ++i) v[i] = static_cast<uint8_t>(std::popcount(i));
  }
};

constexpr Table<plus_entry> kPlus;
constexpr Table<square_entry> kSquare;
constexpr Table<topology_entry> kTopology;
constexpr BitCounts kBitCounts;

constexpr uint32_t on_entries(const uint8_t* t) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < TOK_DILATE_TABLE_SIZE; ++i) n += t[i] & 1u;
  return n;
}
static_assert(on_entries(kTopology.v) == 5600, "the topology-preserving table sets 5600 entries");

// Reversed bit order of 3- and 5-bit groups: the sliding windows hold the leftmost column in
// their highest bit, the table index in its lowest.
constexpr uint8_t kRev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
constexpr uint8_t kRev5[32] = {0, 16, 8, 24, 4, 20, 12, 28, 2, 18, 10, 26, 6, 22, 14, 30,
                               1, 17, 9, 25, 5, 21, 13, 29, 3, 19, 11, 27, 7, 23, 15, 31};

// Source words of one row, zero outside the row and past the width.
struct RowWords {
  const uint8_t* row;
  uint32_t words;
  uint32_t lastMask;
  uint32_t at(int64_t i) const {
    if (row == nullptr || i < 0 || i >= static_cast<int64_t>(words)) return 0;
    const uint32_t w = mono::load_be32(row + 4 * i);
    return i + 1 == static_cast<int64_t>(words) ? w & lastMask : w;
  }
  // Columns 32j - 2 .. 32j + 33 in bits 35 .. 0: column 32j + k sits at bit 33 - k.
  uint64_t window(uint32_t j) const {
    return static_cast<uint64_t>(at(int64_t(j) - 1) & 3u) << 34 | static_cast<uint64_t>(at(j)) << 2 |
           at(int64_t(j) + 1) >> 30;
  }
};

// Words of window t holding, at bit 31 - k, column 32j + k moved by `shift` columns.
constexpr uint32_t left_of(uint64_t t) { return static_cast<uint32_t>(t >> 3); }
constexpr uint32_t centre_of(uint64_t t) { return static_cast<uint32_t>(t >> 2); }
constexpr uint32_t right_of(uint64_t t) { return static_cast<uint32_t>(t >> 1); }

}  // namespace

const uint8_t (&rad1dilateLookup)[TOK_DILATE_TABLE_SIZE] = kPlus.v;
const uint8_t (&radroot2dilateLookup)[TOK_DILATE_TABLE_SIZE] = kSquare.v;
const uint8_t (&tpdilateLookup)[TOK_DILATE_TABLE_SIZE] = kTopology.v;
const uint8_t (&bitcounts)[65536] = kBitCounts.v;

// Only pixels next to the shape can change, so the table is consulted for the clear pixels of
// the 3x3 dilation alone; set pixels stay set and the boundary is the shape minus its erosion.
void do_row(const uint8_t* const rows[5], uint8_t* dst, uint32_t srcWords, uint32_t lastBits,
            const uint8_t* table, uint32_t* count) {
  const uint32_t width = lastBits != 0 ? (srcWords - 1) * 32 + lastBits : srcWords * 32;
  const uint32_t mask = lastBits != 0 ? mono::left_mask32(lastBits) : ~0u;
  RowWords src[5];
  for (int r = 0; r < 5; ++r) src[r] = RowWords{rows[r], srcWords, mask};
  const uint32_t dstWords = (width + 32) / 32;
  uint32_t edges = 0;
  for (uint32_t j = 0; j < dstWords; ++j) {
    uint64_t t[5];
    for (int r = 0; r < 5; ++r) t[r] = src[r].window(j);
    uint32_t near = 0;
    uint32_t interior = ~0u;
    for (int r = 1; r <= 3; ++r) {
      const uint32_t l = left_of(t[r]), c = centre_of(t[r]), rt = right_of(t[r]);
      near |= l | c | rt;
      interior &= l & c & rt;
    }
    const uint32_t centre = centre_of(t[2]);
    edges += tok_bitcount(centre & ~interior);
    uint32_t out = centre;
    for (uint32_t todo = near & ~centre; todo != 0;) {
      const int k = std::countl_zero(todo);
      const uint32_t bit = 0x80000000u >> k;
      todo &= ~bit;
      const int shift = 31 - k;
      const uint32_t f0 = static_cast<uint32_t>(t[0] >> shift), f1 = static_cast<uint32_t>(t[1] >> shift),
                     f2 = static_cast<uint32_t>(t[2] >> shift), f3 = static_cast<uint32_t>(t[3] >> shift),
                     f4 = static_cast<uint32_t>(t[4] >> shift);
      const uint32_t index = ((f0 >> 2) & 1u) | uint32_t(kRev3[(f1 >> 1) & 7u]) << 1 |
                             uint32_t(kRev5[f2 & 31u]) << 4 | uint32_t(kRev3[(f3 >> 1) & 7u]) << 9 |
                             ((f4 >> 2) & 1u) << 12;
      if (table[index] & 1u) out |= bit;
    }
    mono::store_be32(dst + 4 * static_cast<size_t>(j), out);
  }
  *count += edges;
}

void TableCrossDilate(const uint8_t* src, uint32_t srcWordsPerLine, uint32_t width, uint32_t height,
                      uint32_t* edgeCount, uint8_t* dst, uint32_t dstWordsPerLine, const uint8_t* table) {
  const uint32_t words = (width + 31) / 32;
  const uint32_t lastBits = width % 32;
  uint32_t count = 0;
  // Destination row d is the dilation at source row d - 1; the rows beyond the source are
  // clear, which makes the first and last destination rows the dilation of the border rows.
  for (uint32_t d = 0; d < height + 2; ++d) {
    const uint8_t* rows[5];
    for (int r = 0; r < 5; ++r) {
      const int64_t y = int64_t(d) - 3 + r;
      rows[r] = y >= 0 && y < int64_t(height) ? tok_row(src, srcWordsPerLine, uint32_t(y)) : nullptr;
    }
    do_row(rows, tok_row(dst, dstWordsPerLine, d), words, lastBits, table, &count);
  }
  *edgeCount = count;
}

uint32_t tok_countEdgePixels(const uint8_t* bits, uint32_t wordsPerLine, uint32_t width, uint32_t height) {
  const uint32_t words = (width + 31) / 32;
  const uint32_t mask = width % 32 != 0 ? mono::left_mask32(width % 32) : ~0u;
  uint32_t edges = 0;
  for (uint32_t y = 0; y < height; ++y) {
    RowWords rows[3];
    for (int r = 0; r < 3; ++r) {
      const int64_t yy = int64_t(y) - 1 + r;
      rows[r] = RowWords{yy >= 0 && yy < int64_t(height) ? tok_row(bits, wordsPerLine, uint32_t(yy)) : nullptr,
                         words, mask};
    }
    for (uint32_t j = 0; j < words; ++j) {
      uint32_t interior = ~0u;
      for (int r = 0; r < 3; ++r) {
        const uint64_t t = rows[r].window(j);
        interior &= left_of(t) & centre_of(t) & right_of(t);
      }
      edges += tok_bitcount(rows[1].at(j) & ~interior);
    }
  }
  return edges;
}

void FreeModel(TokModel* model, TokState* state) {
  if (model == nullptr) return;
  state->engine->free(model->bits);
  tok_pool_give(state->engine, TOK_POOL_MODEL, model);
}

void FreeImage(TokModel* image, TokState* state) { FreeModel(image, state); }

VltStatus MakeImCrossFromMod(TokModel* model, TokState* state, TokModel** edge) {
  VltState* es = state->engine;
  int32_t passes = state->radiusCode;
  const uint8_t* table = tpdilateLookup;
  if (state->flags & TOK_FLAG_RADIUS_CODE) {
    table = rad1dilateLookup;
    if (passes == 10) {
      passes = 1;
    } else if (passes == 20) {
      passes = 2;
    } else if (passes == 14) {
      passes = 1;
      table = radroot2dilateLookup;
    }
  }
  if (passes < 0) return VLT_ERR_ASSERT;
  const uint32_t r = static_cast<uint32_t>(passes);
  const uint32_t w = model->width, h = model->height;
  uint32_t ew, eh, wpl;
  size_t bytes;
  if (!mono::checked_add(w, r, &ew) || !mono::checked_mul_add(r, 2u, h, &eh) ||
      !mono::checked_mul(static_cast<size_t>((ew + 31) / 32) * 4, static_cast<size_t>(eh), &bytes))
    return Vlt_report(es, VLT_ERR_NOMEM);
  wpl = (ew + 31) / 32;

  void* block = nullptr;
  if (VltStatus st = tok_pool_take(es, TOK_POOL_MODEL, &block)) return st;
  auto* e = static_cast<TokModel*>(block);
  *e = TokModel{ew, eh, wpl, nullptr, 0, 0};
  e->bits = static_cast<uint8_t*>(es->malloc(bytes > 0 ? bytes : 1));
  if (e->bits == nullptr) {
    FreeImage(e, state);
    return Vlt_report(es, VLT_ERR_NOMEM);
  }
  const size_t rowBytes = static_cast<size_t>((w + 31) / 32) * 4;
  if (r == 0) {
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(tok_row(e->bits, wpl, y), tok_row(model->bits, model->wordsPerLine, y), rowBytes);
    model->edgeCount = tok_countEdgePixels(model->bits, model->wordsPerLine, w, h);
  } else {
    auto* scratch = static_cast<uint8_t*>(es->malloc(bytes));
    if (scratch == nullptr) {
      FreeImage(e, state);
      return Vlt_report(es, VLT_ERR_NOMEM);
    }
    // The passes alternate between the two buffers; the last one lands in the edge image.
    uint8_t* from = r % 2 == 1 ? scratch : e->bits;
    uint8_t* to = r % 2 == 1 ? e->bits : scratch;
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(tok_row(from, wpl, y), tok_row(model->bits, model->wordsPerLine, y), rowBytes);
    for (uint32_t i = 0; i < r; ++i) {
      uint32_t edges = 0;
      TableCrossDilate(from, wpl, w + i, h + 2 * i, &edges, to, wpl, table);
      if (i == 0) model->edgeCount = edges;
      uint8_t* t = from;
      from = to;
      to = t;
    }
    es->free(scratch);
  }
  uint32_t dilated = 0;
  for (size_t i = 0; i < bytes; i += 4) {
    const uint32_t word = mono::load_be32(e->bits + i);
    dilated += tok_bitcount(word);
    mono::store_be32(e->bits + i, ~word);
  }
  e->pixelCount = dilated;
  *edge = e;
  return VLT_OK;
}
