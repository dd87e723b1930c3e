// Skew detection: synthetic pages sheared by known slopes, the confidence mapping, resolution
// scaling, the edge follower's steps and the failures.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "framed_image.h"
#include "fxpmath.h"
#include "i_skew.h"
#include "ip_test_state.h"
#include "ref_bitmap.h"

namespace {

using iptest::Framed;
using iptest::TestState;

// Text-like lines whose baselines fall by slope / 1024 line per pixel: each ON pixel of a flat
// page moved down by its column's share of the slope.
Framed sheared_page(int W, int H, int slope, uint32_t seed) {
  const monotest::RefBitmap flat = monotest::make_text_blobs(W, H, seed);
  Framed img(W, H, 1);
  for (int sy = 0; sy < H; ++sy) {
    const uint8_t* row = flat.row(sy);
    for (int x = 0; x < W; ++x) {
      if (row[x >> 3] == 0) {
        x |= 7;
        continue;
      }
      if (!(row[x >> 3] & (0x80 >> (x & 7)))) continue;
      const long y = sy + std::lround(x * slope / 1024.0);
      if (y >= 0 && y < H) img.first()[size_t(y) * img.bpl + size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
    }
  }
  return img;
}

struct Result {
  VltStatus status;
  int32_t angle, confidence;
};

Result detect(IPState* s, const Framed& img, int32_t lineStep, int32_t xRes = 300, int32_t yRes = 300) {
  Result r{};
  r.angle = r.confidence = -1;
  r.status = i_detectSkewFixedPoint(s, img.data(), img.fw(), img.fh(), int32_t(img.bpl), lineStep,
                                    &r.angle, &r.confidence, xRes, yRes);
  return r;
}

int32_t angle_of_slope(int32_t slope) {
  int32_t a = 0;
  EXPECT_EQ(iatan2(nullptr, 1024, -slope, &a), VLT_OK);
  return a;
}

// Every slope from -30 to 30 is found to within one slope step (about 5 turn units).
TEST(SkewDetection, ShearedPagesGiveTheirSlope) {
  TestState ts;
  for (int32_t slope = -30; slope <= 30; ++slope) {
    const Framed page = sheared_page(1600, 900, slope, 11 + uint32_t(slope + 30));
    const Result r = detect(ts.state, page, 2);
    ASSERT_EQ(r.status, VLT_OK) << slope;
    EXPECT_NEAR(r.angle, angle_of_slope(slope), 6) << "slope " << slope;
    EXPECT_GE(r.confidence, 50) << "slope " << slope;
  }
}

// A steep slope, every line step, and the radians entry.
TEST(SkewDetection, SteepSlopeAndLineSteps) {
  TestState ts;
  const Framed page = sheared_page(1600, 1200, 100, 5);
  for (int32_t step : {1, 2, 4, 8, 16, 32}) {
    const Result r = detect(ts.state, page, step);
    ASSERT_EQ(r.status, VLT_OK) << step;
    EXPECT_NEAR(r.angle, -508, 12) << "line step " << step;
  }
  double radians = 1;
  int32_t confidence = -1, angle = 0;
  ASSERT_EQ(i_detectSkew(ts.state, page.data(), page.fw(), page.fh(), int32_t(page.bpl), 1, &radians,
                         &confidence, 300, 300),
            VLT_OK);
  ASSERT_EQ(i_detectSkewFixedPoint(ts.state, page.data(), page.fw(), page.fh(), int32_t(page.bpl), 1,
                                   &angle, &confidence, 300, 300),
            VLT_OK);
  EXPECT_EQ(radians, angle / 32768.0 * 2.0 * 3.1415926);
  EXPECT_NEAR(radians, -0.0974, 0.003);
}

// Resolutions more than 1 apart scale the best slope by x / y before the arc tangent.
TEST(SkewDetection, ResolutionScaling) {
  TestState ts;
  const Framed page = sheared_page(1600, 900, 21, 3);
  const Result same = detect(ts.state, page, 1);
  ASSERT_EQ(same.status, VLT_OK);
  int32_t best = 1000;
  for (int32_t b = -60; b <= 60; ++b)
    if (angle_of_slope(b) == same.angle) best = b;
  ASSERT_NE(best, 1000);
  struct Case { int32_t xRes, yRes; VltStatus status; int32_t angle; };
  const Case cases[] = {{300, 299, VLT_OK, same.angle},
                        {0, 0, VLT_OK, same.angle},
                        {600, 300, VLT_OK, angle_of_slope(2 * best)},
                        {300, 600, VLT_OK, angle_of_slope(best * 300 / 600)},
                        {0, 300, VLT_ERR_PARAM, 0},
                        {300, 0, VLT_ERR_PARAM, 0}};
  for (const Case& c : cases) {
    const Result r = detect(ts.state, page, 1, c.xRes, c.yRes);
    EXPECT_EQ(r.status, c.status) << c.xRes << "/" << c.yRes;
    EXPECT_EQ(r.angle, c.angle) << c.xRes << "/" << c.yRes;
  }
  // A scaled slope beyond what the arc tangent takes.
  const Result huge = detect(ts.state, page, 1, 30000, 2);
  EXPECT_EQ(huge.status, VLT_ERR_PARAM);
  EXPECT_EQ(huge.angle, 0);
  EXPECT_EQ(huge.confidence, 0);
}

TEST(SkewDetection, NoEstimateAndFailures) {
  TestState ts;
  struct Case { const char* name; int W, H; bool text; int32_t lineStep; VltStatus status; };
  const Case cases[] = {
      {"blank page", 1200, 800, false, 1, VLT_OK},
      {"too narrow", 255, 800, true, 1, VLT_OK},
      {"too low", 1200, 95, true, 1, VLT_OK},
      // Wide and low: the coarse pass finds edges, but the fine pass's margins for the
      // steepest slopes leave no lines.
      {"no usable lines", 2400, 280, true, 1, VLT_ERR_BUMMER},
      {"line step 0", 1200, 800, true, 0, VLT_ERR_PARAM},
  };
  for (const Case& c : cases) {
    const Framed page = c.text ? sheared_page(c.W, c.H, 7, 1) : Framed(c.W, c.H, 1);
    const Result r = detect(ts.state, page, c.lineStep);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.angle, 0) << c.name;
    EXPECT_EQ(r.confidence, 0) << c.name;
    double radians = 1;
    int32_t confidence = 1;
    EXPECT_EQ(i_detectSkew(ts.state, page.data(), page.fw(), page.fh(), int32_t(page.bpl), c.lineStep,
                           &radians, &confidence, 300, 300),
              c.status)
        << c.name;
    EXPECT_EQ(radians, 0.0) << c.name;
    EXPECT_EQ(confidence, 0) << c.name;
  }
  // The probe arrays: either allocation failing frees the other.
  const Framed page = sheared_page(1200, 800, -9, 2);
  for (size_t k = 1; k <= 2; ++k) {
    ts.alloc.fail_at(k);
    const Result r = detect(ts.state, page, 4);
    EXPECT_EQ(r.status, VLT_ERR_NOMEM);
    EXPECT_EQ(r.angle, 0);
    EXPECT_EQ(r.confidence, 0);
  }
  int32_t angle = 0;
  EXPECT_EQ(i_detectSkewFixedPoint(ts.state, page.data(), page.fw(), page.fh(), int32_t(page.bpl), 1,
                                   &angle, nullptr, 300, 300),
            VLT_ERR_NULL);
  int32_t confidence = 0;
  EXPECT_EQ(i_detectSkewFixedPoint(ts.state, page.data(), page.fw(), page.fh(), 16, 1, &angle,
                                   &confidence, 300, 300),
            VLT_ERR_PARAM);
}

// The fine pass scores from a table of lane counts when it has memory for one, else word by
// word: both give the same scores, so the same angle and confidence.
TEST(SkewDetection, TableAndWordScorerAgree) {
  TestState ts;
  for (int32_t slope : {-23, 0, 6, 31})
    for (int32_t step : {1, 2, 8}) {
      const Framed page = sheared_page(1100 + 37 * step, 700, slope, uint32_t(step));
      const Result tabled = detect(ts.state, page, step);
      const size_t failures = ts.alloc.failures();
      ts.alloc.fail_at(3);
      const Result direct = detect(ts.state, page, step);
      ts.alloc.fail_at(0);
      ASSERT_EQ(ts.alloc.failures(), failures + 1);  // the table was refused
      ASSERT_EQ(tabled.status, VLT_OK);
      EXPECT_EQ(direct.status, VLT_OK);
      EXPECT_EQ(direct.angle, tabled.angle) << slope << " " << step;
      EXPECT_EQ(direct.confidence, tabled.confidence) << slope << " " << step;
    }
}

TEST(SkewDetection, ConfidenceFromSpread) {
  // r = weighted mean distance of the probes from the best slope.
  struct Case { std::vector<uint64_t> scores; std::vector<int32_t> slopes; int32_t want; };
  const Case cases[] = {
      {{5}, {10}, 100},                    // r = 0
      {{1, 1}, {10, 12}, 93},              // r = 1
      {{1}, {25}, 6},                      // r = 15
      {{1}, {26}, 0},                      // r = 16
      {{0, 0}, {10, 40}, 0},               // no score at all
      {{1, 2, 1}, {7, 10, 13}, 93},        // r = 6 / 4, truncated
      // Sums beyond 31 bits are cut before dividing, as the scores of large pages are.
      {{uint64_t{1} << 62, uint64_t{1} << 62}, {10, 12}, 93},
      {{uint64_t{3} << 60, uint64_t{1} << 60}, {10, 13}, 100},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ip_skewConfidence(c.scores.data(), c.slopes.data(), int32_t(c.scores.size()), 10), c.want)
        << c.scores.size() << " probes";
}

TEST(SkewDetection, LineDifferenceScore) {
  // 127 words whose every byte lane differs from the line two below: the largest line score.
  std::vector<uint8_t> lines(20 * 512, 0);
  for (int i = 0; i < 508; ++i) lines[size_t(i)] = 0x01;
  // Only the seven low bits mark a byte.
  for (int i = 0; i < 508; ++i) lines[1024 + size_t(i)] = i % 4 == 0 ? 0x80 : 0x00;
  uint32_t low = 7, high = 7;
  ASSERT_EQ(ip_findDiffPixelsSum(nullptr, lines.data(), 1, 127, 512, 4, 512, 0, &low, &high), VLT_OK);
  EXPECT_EQ(high, 508u);
  EXPECT_EQ(low, 0u);
  // A mask bit moves the path one line down after its word: with every bit set the path leaves
  // the marked line after its first word, and only that word's four lanes differ.
  ASSERT_EQ(ip_findDiffPixelsSum(nullptr, lines.data(), 1, 16, 512, 4, 512, 0xFFFFFFFFu, &low, &high), VLT_OK);
  EXPECT_EQ(uint64_t{high} << 31 | low, 4u);
}

// The edge follower's steps on a small drawn edge: the result is the lines moved, 4 a failure.
TEST(SkewDetection, EdgeSteps) {
  constexpr int bpl = 8, lines = 80;
  struct Case {
    const char* name;
    int blackTop, blackBottom;  // rows of the word to the right (inclusive), -1 for none
    int32_t result, drift, status, moved;
  };
  const int at = 40;  // the position's line
  const Case cases[] = {
      {"edge goes on", at - 5, at, 0, 0, 0, 0},
      {"edge rises 3", at - 9, at - 3, 3, -3, 0, -3},
      {"edge falls 6", at - 2, at + 6, 6, 6, 0, 6},
      {"white ahead", -1, -1, 4, 0, 1, 0},
      {"black to the bottom", at - 2, lines - 1, 4, 0, 3, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> img(size_t(bpl) * lines, 0);
    for (int y = c.blackTop; c.blackTop >= 0 && y <= c.blackBottom; ++y) img[size_t(y) * bpl + 2] = 0xFF;
    const uint8_t* pos = img.data() + size_t(at) * bpl;
    int32_t steps = 0, drift = 0, status = 0;
    const int32_t r = ip_doFindEdgeTakeStep(nullptr, &pos, bpl, img.data(), img.data() + img.size() - 1,
                                            16, &steps, &drift, &status);
    EXPECT_EQ(r, c.result) << c.name;
    EXPECT_EQ(drift, c.drift) << c.name;
    EXPECT_EQ(status, c.status) << c.name;
    if (c.status != 3) {
      EXPECT_EQ(pos, img.data() + size_t(at + c.moved) * bpl + 2) << c.name;
    }
  }
  // Outside the band the follower stops at once.
  std::vector<uint8_t> img(size_t(bpl) * lines, 0);
  const uint8_t* pos = img.data();
  int32_t steps = 0, drift = 0, status = 0;
  EXPECT_EQ(ip_doFindEdgeTakeStep(nullptr, &pos, bpl, img.data(), img.data() + 10 * bpl, 16, &steps, &drift, &status), 4);
  EXPECT_EQ(status, 3);
}

}  // namespace
