// Dilated edge images: the neighbourhood tables and the dilation against a pixel-by-pixel
// application of the same tables.

#include <gtest/gtest.h>

#include <random>

#include "tok_edge.h"
#include "tok_fixture.h"
#include "tok_reference.h"

namespace {

using monotest::RefBitmap;
using toktest::TokTest;

// Pattern pixel (dy, dx) of a table index (the layout the tables document).
bool at(uint32_t index, int dy, int dx) {
  static const int bits[5][5] = {{-1, -1, 0, -1, -1}, {-1, 1, 2, 3, -1}, {4, 5, 6, 7, 8}, {-1, 9, 10, 11, -1}, {-1, -1, 12, -1, -1}};
  const int b = bits[dy + 2][dx + 2];
  return b >= 0 && ((index >> b) & 1u);
}
uint32_t with(std::initializer_list<std::pair<int, int>> pixels) {
  static const int bits[5][5] = {{-1, -1, 0, -1, -1}, {-1, 1, 2, 3, -1}, {4, 5, 6, 7, 8}, {-1, 9, 10, 11, -1}, {-1, -1, 12, -1, -1}};
  uint32_t index = 0;
  for (auto [dy, dx] : pixels) index |= 1u << bits[dy + 2][dx + 2];
  return index;
}

// The 8-connectivity number of a clear centre, from its ring.
int connectivity(uint32_t i) {
  const bool x[10] = {at(i, 0, 1), at(i, -1, 1), at(i, -1, 0), at(i, -1, -1), at(i, 0, -1),
                      at(i, 1, -1), at(i, 1, 0), at(i, 1, 1), at(i, 0, 1), at(i, -1, 1)};
  int n = 0;
  for (int k = 0; k < 8; k += 2) n += !x[k] - (!x[k] && !x[k + 1] && !x[k + 2]);
  return n;
}
constexpr uint32_t kOuter = (1u << 0) | (1u << 4) | (1u << 8) | (1u << 12);

TEST(DilationTables, LayoutAndSharedBoundaryBit) {
  EXPECT_EQ(rad1dilateLookup[with({{-1, 0}})] & 1, 1);
  EXPECT_EQ(rad1dilateLookup[with({{-1, -1}})] & 1, 0);
  EXPECT_EQ(radroot2dilateLookup[with({{-1, -1}})] & 1, 1);
  EXPECT_EQ(radroot2dilateLookup[with({{-2, 0}})] & 1, 0);
  EXPECT_EQ(rad1dilateLookup[with({{0, 2}})] & 1, 0);
  for (uint32_t i = 0; i < TOK_DILATE_TABLE_SIZE; ++i) {
    bool clear_neighbour = false, plus = at(i, 0, 0), square = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        clear_neighbour = clear_neighbour || !at(i, dy, dx);
        square = square || at(i, dy, dx);
        if (dy == 0 || dx == 0) plus = plus || at(i, dy, dx);
      }
    const int boundary = at(i, 0, 0) && clear_neighbour ? 2 : 0;
    ASSERT_EQ(rad1dilateLookup[i], (plus ? 1 : 0) | boundary) << i;
    ASSERT_EQ(radroot2dilateLookup[i], (square ? 1 : 0) | boundary) << i;
    ASSERT_EQ(tpdilateLookup[i] & 2, boundary) << i;
    ASSERT_EQ(tpdilateLookup[i] & ~3u, 0u) << i;
  }
}

TEST(DilationTables, TopologyPreservingTableKeepsItsStatedProperties) {
  int on = 0, zeroed_by_outer = 0;
  for (uint32_t i = 0; i < TOK_DILATE_TABLE_SIZE; ++i) {
    const int e = tpdilateLookup[i] & 1;
    on += e;
    ASSERT_LE(e, rad1dilateLookup[i] & 1) << "a subset of the plus dilation, " << i;
    if (at(i, 0, 0)) {
      ASSERT_EQ(e, 1) << "set centres stay, " << i;
      continue;
    }
    const bool touches = at(i, -1, 0) || at(i, 1, 0) || at(i, 0, -1) || at(i, 0, 1);
    const bool rule = touches && connectivity(i) == 1;
    if (!rule) {
      ASSERT_EQ(e, 0) << "only where the connectivity rule allows, " << i;
    }
    if ((i & kOuter) == 0) {
      ASSERT_EQ(e, rule ? 1 : 0) << "the rule alone decides without outer pixels, " << i;
    }
    ASSERT_LE(e, tpdilateLookup[i & ~kOuter] & 1) << "outer pixels only turn entries off, " << i;
    if (rule && !e) ++zeroed_by_outer;
  }
  EXPECT_EQ(on, 5600);
  EXPECT_EQ(zeroed_by_outer, 288);
}

TEST(DilationTables, TopologyPreservingTableTellingRows) {
  // Quarter turns of a pattern: up goes to right, right to down.
  const auto turn = [](std::initializer_list<std::pair<int, int>> pixels, int t) {
    std::vector<std::pair<int, int>> out;
    for (auto [dy, dx] : pixels) {
      for (int k = 0; k < t; ++k) {
        const int ndy = dx;
        dx = -dy;
        dy = ndy;
      }
      out.emplace_back(dy, dx);
    }
    uint32_t index = 0;
    for (auto p : out) index |= with({p});
    return index;
  };
  for (int t = 0; t < 4; ++t) {
    const uint32_t up = turn({{-1, 0}}, t);
    const uint32_t far = turn({{1, -1}, {1, 1}, {2, 0}}, t);
    const uint32_t free_bits = (TOK_DILATE_TABLE_SIZE - 1) & ~turn({{-1, 0}, {0, -1}, {0, 1}, {1, 0}, {0, 0}}, t) & ~far;
    // One set 4-neighbour: on exactly when none of the three far pixels opposite is set.
    for (uint32_t rest = free_bits;; rest = (rest - 1) & free_bits) {
      for (uint32_t f = far;; f = (f - 1) & far) {
        ASSERT_EQ(tpdilateLookup[up | rest | f] & 1, f == 0 ? 1 : 0) << "turn " << t << " " << (up | rest | f);
        if (f == 0) break;
      }
      if (rest == 0) break;
    }
    const uint32_t corner = turn({{-1, 0}, {0, -1}}, t);
    EXPECT_EQ(tpdilateLookup[corner] & 1, 1);
    EXPECT_EQ(tpdilateLookup[corner | turn({{1, 1}}, t)] & 1, 0);
    EXPECT_EQ(tpdilateLookup[corner | turn({{-1, 1}, {0, 2}, {1, -1}, {2, 0}}, t)] & 1, 0);
    EXPECT_EQ(tpdilateLookup[corner | turn({{-1, 1}, {0, 2}, {1, -1}}, t)] & 1, 1);
    EXPECT_EQ(tpdilateLookup[turn({{-1, 0}, {1, 0}}, t)] & 1, 0) << "a one-pixel gap stays";
  }
  EXPECT_EQ(tpdilateLookup[with({{-1, 0}, {1, 0}, {0, -1}, {0, 1}})] & 1, 0) << "a one-pixel hole stays";
}

TEST(DilationTables, BitCounts) {
  EXPECT_EQ(bitcounts[0], 0);
  EXPECT_EQ(bitcounts[0xffff], 16);
  EXPECT_EQ(tok_bitcount(0x80000001u), 2u);
  EXPECT_EQ(tok_bitcount(0xf0f0f0f0u), 16u);
}

struct EdgeImageTest : TokTest {
  // The edge image of a bitmap against r passes of the table applied pixel by pixel.
  void expect_edge(const RefBitmap& glyph, const uint8_t* table, int passes, const std::string& what) {
    TokBox* b = box(glyph);
    ASSERT_NE(b, nullptr) << what;
    RefBitmap model(glyph.width + tok->margin, glyph.height);
    for (int y = 0; y < glyph.height; ++y)
      for (int x = 0; x < glyph.width; ++x) model.set(x + tok->margin, y, glyph.get(x, y));
    RefBitmap dilated = model;
    for (int i = 0; i < passes; ++i) dilated = toktest::table_dilate(dilated, table);
    const TokModel* e = b->edge;
    ASSERT_EQ(int(e->width), dilated.width) << what;
    ASSERT_EQ(int(e->height), dilated.height) << what;
    ASSERT_EQ(e->wordsPerLine, toktest::words_for(dilated.width)) << what;
    EXPECT_EQ(int(e->pixelCount), int(dilated.count())) << what;
    EXPECT_EQ(int(b->model->edgeCount), toktest::boundary_pixels(model)) << what;
    for (int y = 0; y < int(e->height); ++y)
      for (int x = 0; x < int(e->wordsPerLine) * 32; ++x) {
        const int inside = x < dilated.width ? dilated.get(x, y) : 0;
        ASSERT_EQ(mono::get_bit(e->bits + size_t(y) * e->wordsPerLine * 4, size_t(x)), 1 - inside)
            << what << " at " << x << "," << y;
      }
    FreeBox(b, tok);
  }
};

TEST_F(EdgeImageTest, SinglePixel) {
  init();
  TokBox* b = box({"#"});
  EXPECT_EQ(b->model->width, 2u);
  EXPECT_EQ(b->edge->width, 3u);
  EXPECT_EQ(b->edge->height, 3u);
  EXPECT_EQ(b->edge->pixelCount, 5u);
  EXPECT_EQ(b->model->edgeCount, 1u);
  FreeBox(b, tok);
}

TEST_F(EdgeImageTest, RadiusCodeTwentyGrowsADiamond) {
  params.tokFlags = TOK_FLAG_RADIUS_CODE;
  params.frameMarginWord = 20;
  init();
  EXPECT_EQ(tok->margin, 2);
  TokBox* b = box({"#"});
  EXPECT_EQ(b->edge->pixelCount, 13u);
  EXPECT_EQ(b->edge->height, 5u);
  FreeBox(b, tok);
}

TEST_F(EdgeImageTest, NoPassesGiveTheComplementedModel) {
  params.frameMarginWord = 0;
  init();
  expect_edge(toktest::rows_bitmap({"##.", "###", ".#."}), rad1dilateLookup, 0, "no passes");
}

TEST_F(EdgeImageTest, EveryTableAndPassCountMatchesThePixelReference) {
  struct Mode {
    uint32_t flags;
    int32_t word;
    const uint8_t* table;
    int passes;
  };
  const Mode modes[] = {{0, 1, tpdilateLookup, 1},           {0, 2, tpdilateLookup, 2},
                        {TOK_FLAG_RADIUS_CODE, 10, rad1dilateLookup, 1},
                        {TOK_FLAG_RADIUS_CODE, 14, radroot2dilateLookup, 1},
                        {TOK_FLAG_RADIUS_CODE, 20, rad1dilateLookup, 2},
                        {TOK_FLAG_RADIUS_CODE, 3, rad1dilateLookup, 3}, {0, 0, rad1dilateLookup, 0}};
  std::mt19937 rng(133);
  for (const Mode& m : modes) {
    params.tokFlags = m.flags;
    params.frameMarginWord = m.word;
    init();
    for (int width : {1, 2, 29, 30, 31, 32, 33, 62, 63, 64, 65, 100}) {
      const int height = 1 + int(rng() % 12);
      for (double density : {0.3, 0.6, 0.9}) {
        RefBitmap g = monotest::make_noise(width, height, density, rng());
        if (g.count() == 0) g.set(0, 0, 1);
        expect_edge(g, m.table, m.passes,
                    "word " + std::to_string(m.word) + " width " + std::to_string(width) + " density " + std::to_string(density));
      }
    }
    tokFreeState(tok);
    tok = nullptr;
  }
}

TEST(EdgeCount, MatchesThePixelReference) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    const int w = 1 + int(rng() % 90), h = 1 + int(rng() % 9);
    const RefBitmap bm = monotest::make_noise(w, h, 0.2 + 0.7 * (trial % 5) / 4.0, rng());
    const uint32_t wpl = toktest::words_for(w) + trial % 2;
    const std::vector<uint8_t> bits = toktest::packed(bm, wpl);
    ASSERT_EQ(int(tok_countEdgePixels(bits.data(), wpl, uint32_t(w), uint32_t(h))), toktest::boundary_pixels(bm)) << trial;
  }
}

TEST_F(EdgeImageTest, NegativePassCountIsRefused) {
  params.frameMarginWord = -1;
  init();
  TokModel model{2, 1, 1, nullptr, 1, 0};
  uint8_t bits[4] = {0x40, 0, 0, 0};
  model.bits = bits;
  TokModel* edge = nullptr;
  EXPECT_EQ(MakeImCrossFromMod(&model, tok, &edge), VLT_ERR_ASSERT);
  EXPECT_EQ(edge, nullptr);
}

TEST_F(EdgeImageTest, MemoryFailuresAreReportedAndLeaveNothing) {
  init();
  const RefBitmap g = monotest::make_noise(40, 20, 0.5, 3);
  for (size_t k = 1;; ++k) {
    TokBitmap b = bitmap(g);
    alloc.fail_at(k);
    TokBox* out = nullptr;
    const VltStatus st = tokBitmapToBox(tok, &b, &out);
    alloc.fail_at(0);
    engine->free(b.bits);
    if (st == VLT_OK) {
      FreeBox(out, tok);
      break;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM) << k;
    EXPECT_EQ(out, nullptr);
  }
}

}  // namespace
