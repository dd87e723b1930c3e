// Fixed-point trigonometry and roots: the stated values at the axes and edges, and accuracy
// against double-precision maths over the whole input range.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "fxpmath.h"

namespace {

constexpr double kTurn = 32768.0;

// Reference trigonometry by series, independent of the C library (whose trigonometry the
// emulated PowerPC build cannot run).
double series_sin(double x) {
  while (x > M_PI) x -= 2 * M_PI;
  while (x < -M_PI) x += 2 * M_PI;
  double term = x, sum = x;
  for (int n = 1; n < 30; ++n) {
    term *= -x * x / ((2 * n) * (2 * n + 1));
    sum += term;
  }
  return sum;
}
double series_cos(double x) { return series_sin(x + M_PI / 2); }
double series_atan(double t) {  // |t| <= 1
  // Two halvings, atan(t) = 2 atan(t / (1 + sqrt(1 + t^2))), bring t below 0.2.
  const double h = t / (1 + std::sqrt(1 + t * t)), q = h / (1 + std::sqrt(1 + h * h));
  double term = q, sum = q;
  for (int n = 1; n < 40; ++n) {
    term *= -q * q;
    sum += term / (2 * n + 1);
  }
  return 4 * sum;
}
double series_atan2(double y, double x) {
  const double ax = std::abs(x), ay = std::abs(y);
  double a = ay <= ax ? series_atan(ay / ax) : M_PI / 2 - series_atan(ax / ay);
  if (x < 0) a = M_PI - a;
  return y < 0 ? -a : a;
}

TEST(FixedPointMaths, SineAndCosineValues) {
  struct Case { int32_t angle; int32_t sine, cosine; };
  const Case cases[] = {{0, 0, 32769},        {8192, 32769, 0},     {16384, 0, -32767},
                        {24576, -32767, 0},   {32768, 0, 32769},    {-8192, -32769, 0},
                        {-32768, 0, 32769},   {-16384, 0, -32767}};
  for (const Case& c : cases) {
    int32_t s = 0, co = 0;
    ASSERT_EQ(fract_sin(nullptr, c.angle, &s), VLT_OK);
    ASSERT_EQ(fract_cos(nullptr, c.angle, &co), VLT_OK);
    EXPECT_EQ(s, c.sine) << c.angle;
    EXPECT_EQ(co, c.cosine) << c.angle;
  }
  for (int32_t bad : {32769, -32769, INT32_MIN, INT32_MAX}) {
    int32_t s = 1234, co = 1234;
    EXPECT_EQ(fract_sin(nullptr, bad, &s), VLT_ERR_PARAM);
    EXPECT_EQ(fract_cos(nullptr, bad, &co), VLT_ERR_PARAM);
    EXPECT_EQ(s, 1234);
    EXPECT_EQ(co, 1234);
  }
  EXPECT_EQ(fract_sin(nullptr, 0, nullptr), VLT_ERR_NULL);
}

TEST(FixedPointMaths, SineAndCosineWithinTwoUnits) {
  for (int32_t a = -32768; a <= 32768; ++a) {
    int32_t s = 0, c = 0;
    ASSERT_EQ(fract_sin(nullptr, a, &s), VLT_OK);
    ASSERT_EQ(fract_cos(nullptr, a, &c), VLT_OK);
    const double rad = a / kTurn * 2 * M_PI;
    ASSERT_LE(std::abs(s - series_sin(rad) * 32768), 2.0) << a;
    ASSERT_LE(std::abs(c - series_cos(rad) * 32768), 2.0) << a;
  }
}

TEST(FixedPointMaths, SquareRoots) {
  const std::pair<uint32_t, uint32_t> cases[] = {{0, 0},       {1, 1},          {2, 1},
                                                 {3, 2},       {8, 3},          {24, 5},
                                                 {4294836225u, 65535}, {4294967295u, 65536}};
  for (auto [n, want] : cases) {
    uint32_t r = 0;
    ASSERT_EQ(isqrt(nullptr, n, &r), VLT_OK);
    EXPECT_EQ(r, want) << n;
  }
  // Nearest integer everywhere below the wrap-around case.
  for (uint64_t n = 0; n < 4294967295u; n += 1 + (n >> 12)) {
    uint32_t r = 0;
    isqrt(nullptr, static_cast<uint32_t>(n), &r);
    const double exact = std::sqrt(double(n));
    ASSERT_LE(std::abs(r - exact), 0.5) << n;
  }

  struct Frac { int32_t m, e, rootM, rootE; };
  const Frac fracs[] = {{16384, 0, int32_t(std::floor(32768 * std::sqrt(0.5))), 0},
                        {32768, 0, 32768, 0},
                        {1, 0, 23170, -7},
                        {0, 9, 0, 0},
                        {16384, 1, 16384, 1},
                        {32768, -3, 23170, -1}};
  for (const Frac& f : fracs) {
    int32_t m = -1, e = -1;
    ASSERT_EQ(fract_sqrt(nullptr, f.m, f.e, &m, &e), VLT_OK);
    EXPECT_EQ(m, f.rootM) << f.m << "," << f.e;
    EXPECT_EQ(e, f.rootE) << f.m << "," << f.e;
  }
  for (int32_t bad : {-1, 32769}) {
    int32_t m = 5, e = 5;
    EXPECT_EQ(fract_sqrt(nullptr, bad, 0, &m, &e), VLT_ERR_PARAM);
    EXPECT_EQ(m, 5);
    EXPECT_EQ(e, 5);
  }
  // Every mantissa and a spread of exponents: the value of the root is right to the last unit.
  for (int32_t m = 1; m <= 32768; ++m)
    for (int32_t e : {-17, -2, -1, 0, 1, 6}) {
      int32_t rm = 0, re = 0;
      ASSERT_EQ(fract_sqrt(nullptr, m, e, &rm, &re), VLT_OK);
      const double want = std::sqrt(m / 32768.0 * std::ldexp(1.0, e));
      ASSERT_LE(std::abs(rm / 32768.0 * std::ldexp(1.0, re) - want), std::ldexp(1.0, re) / 32768) << m << "," << e;
    }
}

TEST(FixedPointMaths, ArcTangent) {
  struct Case { int32_t x, y; VltStatus status; int32_t angle; };
  const Case cases[] = {{1, 1, VLT_OK, 4096},          {-1, 0, VLT_OK, 16384},     {0, -1, VLT_OK, -8192},
                        {1024, -100, VLT_OK, -508},    {32767, 32767, VLT_OK, 4096}, {-32767, 1, VLT_OK, 16384},
                        {0, 5, VLT_OK, 8192},          {-3, -3, VLT_OK, -12288},   {5, 0, VLT_OK, 0},
                        {32768, 0, VLT_ERR_PARAM, 32769}, {0, -32768, VLT_ERR_PARAM, 32769},
                        {0, 0, VLT_ERR_PARAM, 0}};
  for (const Case& c : cases) {
    int32_t a = 777;
    EXPECT_EQ(iatan2(nullptr, c.x, c.y, &a), c.status) << c.x << "," << c.y;
    EXPECT_EQ(a, c.angle) << c.x << "," << c.y;
  }
  // Within two units of the exact angle over a grid reaching every octant and the edges.
  for (int32_t x = -32767; x <= 32767; x += 257)
    for (int32_t y = -32767; y <= 32767; y += 263) {
      if (x == 0 && y == 0) continue;
      int32_t a = 0;
      ASSERT_EQ(iatan2(nullptr, x, y, &a), VLT_OK);
      ASSERT_LE(std::abs(a - series_atan2(double(y), double(x)) / (2 * M_PI) * kTurn), 2.0) << x << "," << y;
    }
}

}  // namespace
