// The two-way edge match test: thresholds, shifts, mismatch counts and density against
// pixel-by-pixel references.

#include <gtest/gtest.h>

#include <random>

#include "tok_edge.h"
#include "tok_fixture.h"
#include "tok_match.h"
#include "tok_reference.h"

namespace {

using monotest::RefBitmap;
using toktest::TokTest;

using MatchTest = TokTest;

TEST_F(MatchTest, AllowanceAndThresholdVectors) {
  init();
  struct Case {
    uint32_t edges;
    int32_t allowed, threshold;
  };
  // 200 x (1 - 0.97) in single precision lies just below 6.
  const Case cases[] = {{0, 0, 0},   {66, 1, 0},   {100, 2, 0},  {133, 3, 0},  {166, 4, 1},
                        {200, 5, 2}, {201, 6, 3},  {234, 7, 5},  {267, 8, 7},  {300, 8, 7},
                        {301, 9, 9}, {334, 10, 10}, {1000, 29, 29}};
  for (const Case& c : cases) {
    EXPECT_EQ(tokAllowedMismatches(tok, c.edges), c.allowed) << c.edges;
    EXPECT_EQ(tokMatchThreshold(tok, c.edges), c.threshold) << c.edges;
  }
  EXPECT_EQ(MinEdgePixForMismatch(tok), 133);
}

TEST_F(MatchTest, OddParametersNeitherOverflowNorTrap) {
  params.matchFraction = -1e30f;
  params.thresholdSlope = 1e30f;
  init();
  EXPECT_EQ(tokAllowedMismatches(tok, 100), INT32_MAX);
  EXPECT_EQ(tokMatchThreshold(tok, 100), INT32_MAX);
}

TEST(MatchShifts, SearchOrder) {
  const int want[25][2] = {{0, 0},   {-1, 0}, {1, 0},  {0, -1}, {0, 1},   {-1, -1}, {1, 1},   {1, -1}, {-1, 1},
                           {-2, 0},  {2, 0},  {0, -2}, {0, 2},  {-2, -2}, {2, 2},   {2, -2},  {-2, 2}, {-2, -1},
                           {2, 1},   {1, -2}, {-1, 2}, {-2, 1}, {2, -1},  {-1, -2}, {1, 2}};
  for (int s = 0; s < TOK_SHIFT_COUNT; ++s) {
    EXPECT_EQ(trans[s].x, want[s][0]) << s;
    EXPECT_EQ(trans[s].y, want[s][1]) << s;
  }
}

const std::vector<std::string> kGlyph = {
    "..####..", ".##..##.", "##....##", "##....##", "########", "##......", ".##...##", "..#####."};

TEST_F(MatchTest, IdenticalBitmapsMatchInPlace) {
  init();
  TokBox* a = box(kGlyph);
  TokBox* b = box(kGlyph);
  int16_t dx = 0, dy = 0;
  EXPECT_EQ(EdgeHausdorffMatch(a->model, a->edge, b->model, b->edge, &dx, &dy, tok), 1);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  EXPECT_EQ(NumMismatched(a->edge, b->model, 0, 0, 0, tok), 0u);
  ShiftEdgeHausdorffMatch(a->model, a->edge, b->model, b->edge, &dx, &dy, tok);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  FreeBox(a, tok);
  FreeBox(b, tok);
}

TEST_F(MatchTest, DisplacedCopyMatchesAtTheShiftThatUndoesIt) {
  // Without dilation and with a generous allowance every shift near the displacement passes;
  // the one that undoes it has the least score and wins, and placement agrees.
  params.frameMarginWord = 0;
  params.matchFraction = 0.0f;
  params.maxDense = 9;
  init();
  const RefBitmap square = monotest::make_noise(10, 10, 1.0, 1);
  TokBox* a = box(square);
  TokBox* b = box(square);
  EXPECT_EQ(NumMismatched(a->edge, b->model, 1, 1, 1000, tok), 19u);
  int16_t dx = 1, dy = 1;
  EXPECT_EQ(EdgeHausdorffMatch(a->model, a->edge, b->model, b->edge, &dx, &dy, tok), 1);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  dx = 1;
  dy = 1;
  ShiftEdgeHausdorffMatch(a->model, a->edge, b->model, b->edge, &dx, &dy, tok);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  FreeBox(a, tok);
  FreeBox(b, tok);
}

TEST_F(MatchTest, ClusteredMismatchesAreVetoedScatteredOnesAreNot) {
  params.matchFraction = 0.5f;  // a generous allowance, so that only the density decides
  init();
  RefBitmap base(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) base.set(x, y, (x < 3 || x > 36 || y < 3 || y > 26));
  // Four extra pixels in the hollow: one 2x2 cluster, or four far apart.
  RefBitmap clustered = base, scattered = base;
  for (auto [x, y] : {std::pair{15, 12}, {16, 12}, {15, 13}, {16, 13}}) clustered.set(x, y, 1);
  for (auto [x, y] : {std::pair{10, 8}, {25, 8}, {10, 20}, {25, 20}}) scattered.set(x, y, 1);
  TokBox* a = box(base);
  for (auto& [bm, dense] : {std::pair{&clustered, true}, {&scattered, false}}) {
    TokBox* b = box(*bm);
    const int32_t margin = tok->margin;
    EXPECT_EQ(GetMismatchDensity(a->edge, b->model, 0, margin), dense ? 4u : 1u);
    EXPECT_EQ(NumMismatched(a->edge, b->model, 0, 0, 100, tok), dense ? b->model->pixelCount : 4u);
    FreeBox(b, tok);
  }
  FreeBox(a, tok);
}

TEST_F(MatchTest, FarTooManyPixelsAreRejectedBeforeAnyRow) {
  init();
  TokBox* a = box({"#"});
  TokBox* b = box(monotest::make_noise(20, 20, 1.0, 1));
  // Rows are never read: a model without bits would crash if they were.
  uint8_t* bits = b->model->bits;
  b->model->bits = nullptr;
  EXPECT_EQ(NumMismatched(a->edge, b->model, 0, 0, 3, tok), b->model->pixelCount);
  b->model->bits = bits;
  FreeBox(a, tok);
  FreeBox(b, tok);
}

// The word kernels against the pixel references over random bitmaps and offsets, far ones included.
TEST_F(MatchTest, CountsAgreeWithThePixelReference) {
  params.maxDense = 1000;  // no veto: the exact count is compared
  init();
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 300; ++trial) {
    const RefBitmap ga = monotest::make_noise(1 + int(rng() % 70), 1 + int(rng() % 14), 0.5, rng());
    const RefBitmap gb = monotest::make_noise(1 + int(rng() % 70), 1 + int(rng() % 14), 0.5, rng());
    if (ga.count() == 0 || gb.count() == 0) continue;
    TokBox* a = box(ga);
    TokBox* b = box(gb);
    RefBitmap ma(ga.width + 1, ga.height), mb(gb.width + 1, gb.height);
    for (int y = 0; y < ga.height; ++y)
      for (int x = 0; x < ga.width; ++x) ma.set(x + 1, y, ga.get(x, y));
    for (int y = 0; y < gb.height; ++y)
      for (int x = 0; x < gb.width; ++x) mb.set(x + 1, y, gb.get(x, y));
    const RefBitmap dilated = toktest::table_dilate(ma, tpdilateLookup);
    const int dx = int(rng() % 101) - 50, dy = int(rng() % 21) - 10;
    ASSERT_EQ(int(NumMismatched(a->edge, b->model, dx, dy, 1 << 20, tok)), toktest::mismatches(dilated, 1, mb, dx, dy))
        << trial << " at " << dx << "," << dy;
    ASSERT_EQ(int(GetMismatchDensity(a->edge, b->model, dx, dy + 1)), toktest::density(dilated, 1, mb, dx, dy)) << trial;
    // Stopping early still reports a count above the limit.
    const int exact = toktest::mismatches(dilated, 1, mb, dx, dy);
    if (exact > 2) {
      ASSERT_GT(int(NumMismatched(a->edge, b->model, dx, dy, 2, tok)), 2) << trial;
    }

    int16_t sx = int16_t(dx % 3), sy = int16_t(dy % 3);
    const int16_t x0 = sx, y0 = sy;
    ShiftEdgeHausdorffMatch(a->model, a->edge, b->model, b->edge, &sx, &sy, tok);
    int best = int(ma.count()), want_x = x0, want_y = y0;
    for (int s = 0; s <= 8; ++s) {
      const int d = toktest::difference(ma, mb, x0 + trans[s].x, y0 + trans[s].y);
      if (d < best) {
        best = d;
        want_x = x0 + trans[s].x;
        want_y = y0 + trans[s].y;
      }
    }
    ASSERT_EQ(sx, want_x) << trial;
    ASSERT_EQ(sy, want_y) << trial;
    FreeBox(a, tok);
    FreeBox(b, tok);
  }
}

TEST_F(MatchTest, DifferentShapesDoNotMatch) {
  init();
  TokBox* o = box({".####.", "##..##", "##..##", "##..##", "##..##", ".####."});
  TokBox* c = box({".####.", "##..##", "##....", "##....", "##..##", ".####."});
  int16_t dx = 0, dy = 0;
  EXPECT_EQ(EdgeHausdorffMatch(o->model, o->edge, c->model, c->edge, &dx, &dy, tok), 0);
  FreeBox(o, tok);
  FreeBox(c, tok);
}

}  // namespace
