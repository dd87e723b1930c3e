// Rotation without interpolation against a per-pixel reference of the shear mapping, copy and
// in-place forms, with and without the smoothing kernels.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "framed_image.h"
#include "fxpmath.h"
#include "i_rotate.h"
#include "ip_test_state.h"

namespace {

using iptest::Framed;
using iptest::TestState;

// The mapping worked out pixel by pixel: run lengths from the same 1/4096-pixel walk, the
// source line under each pixel from the runs before it, the horizontal shift from the carries
// of a 16-bit accumulator.
struct Reference {
  const Framed& src;
  int W, H, depth, angle;
  int64_t sv, sh, V, X;
  bool nice;
  std::vector<int> runsBefore;  // k(x) for every pixel of the padded line
  std::vector<int> runStart;    // first pixel of the run holding x

  Reference(const Framed& s, int a, int xRes, int yRes, bool n)
      : src(s), W(s.w), H(s.h), depth(s.depth), angle(a), nice(n) {
    int32_t S = 0;
    fract_sin(nullptr, a < 0 ? -a : a, &S);
    const int64_t s0 = 2 * int64_t(S < 0 ? -S : S);
    sv = sh = s0;
    if (std::abs(xRes - yRes) > 1) {
      sv = yRes * s0 / xRes;
      sh = xRes * s0 / yRes;
    }
    V = ((W / 2) * sv + 32768) >> 16;
    X = ((H / 2) * sh + 32768) >> 16;
    const long pixels = lineLength();
    const int64_t r = 0x10000000 / sv, whole = r >> 12, frac = r & 0xFFF;
    int64_t e = 0, at = 0;
    int k = 0;
    while (at < pixels) {
      int64_t len = e < 0 ? whole + 1 : whole;
      e += e < 0 ? 4096 - frac : -frac;
      for (int64_t i = 0; i < len && at < pixels; ++i, ++at) {
        runsBefore.push_back(k);
        runStart.push_back(int(at - i));
      }
      ++k;
    }
  }
  long lineLength() const { return (long(W) * depth + 31) / 32 * 32 / depth; }
  uint32_t background() const { return depth == 1 ? 0 : (1u << depth) - 1; }
  // Line L of the mapping's numbering.
  uint32_t source(long x, long L) const {
    if (L < 0 || L >= H || x < 0) return background();
    const long y = angle < 0 ? H - 1 - L : L;
    if (x < W) return src.get(x, y);
    // At 1 bpp the rest of the last word is read from the right frame as it stands.
    if (depth == 1 && x < (W + 31) / 32 * 32) return src.get(x, y);
    return background();
  }
  bool ink(uint32_t v) const { return depth == 1 ? v != 0 : (v >> (depth - 1)) == 0; }
  bool both(long x, long L) const { return ink(source(x, L)) && ink(source(x, L - 1)); }

  // Destination lines in the mapping's numbering, every pixel up to the end of the last word,
  // before the right frame is cleared.
  std::vector<std::vector<uint32_t>> lines() const {
    std::vector<std::vector<uint32_t>> out(static_cast<size_t>(H));
    const long n = lineLength(), ppw = 32 / depth;
    int64_t acc = 0, h = 0;
    for (long y = 0; y < H; ++y) {
      std::vector<uint32_t>& line = out[size_t(y)];
      line.resize(size_t(n));
      for (long x = 0; x < n; ++x) {
        const long L = y + V - runsBefore[size_t(x)], sx = x - X + h;
        line[size_t(x)] = source(sx, L);
      }
      if (nice && y > 0)
        // Runs as the table cuts them: a run of the walk within one destination word.
        for (long x0 = 0; x0 < n;) {
          long x1 = x0 + 1;
          while (x1 < n && runStart[size_t(x1)] == runStart[size_t(x0)] && x1 % ppw != 0) ++x1;
          const long L = y + V - runsBefore[size_t(x0)];
          bool shift = false;
          for (long x = x0; x < x1 && !shift; ++x) {
            const long sx = x - X + h;
            shift = both(sx, L) && (both(sx - 1, L) || both(sx + 1, L)) && !ink(out[size_t(y - 1)][size_t(x)]);
          }
          if (shift)
            for (long x = x0; x < x1; ++x) line[size_t(x)] = source(x - X + h - 1, L);
          x0 = x1;
        }
      acc += sh;
      if (acc >= 65536) {
        acc &= 0xFFFF;
        ++h;
      }
    }
    return out;
  }
};

// The whole destination: the mapped image, the right frame cleared over the rest of the last
// word and the 32 pixels after it, everything else as before.
std::string check(const Framed& dst, const Framed& before, const Reference& ref) {
  const auto want = ref.lines();
  const long clearedTo = ref.lineLength() + 32;
  return iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) -> uint32_t {
    if (y < 0 || y >= dst.h || x < 0 || x >= clearedTo) return old;
    if (x >= dst.w) return 0;
    return want[size_t(ref.angle < 0 ? dst.h - 1 - y : y)][size_t(x)];
  });
}

struct Params {
  int W, H, depth, angle, xRes, yRes;
  bool nice;
};

std::string describe(const Params& p) {
  return "depth " + std::to_string(p.depth) + " " + std::to_string(p.W) + "x" + std::to_string(p.H) + " angle " +
         std::to_string(p.angle) + " res " + std::to_string(p.xRes) + "/" + std::to_string(p.yRes) + " nice " +
         std::to_string(p.nice);
}

Params random_params(std::mt19937& rng, int depth) {
  const int angles[] = {910, -910, 600, -455, 120, -37, 9, -5};
  const std::pair<int, int> res[] = {{300, 300}, {300, 299}, {600, 300}, {300, 600}, {200, 300}};
  const auto [xr, yr] = res[rng() % std::size(res)];
  return {1 + int(rng() % 300), 1 + int(rng() % 300), depth, angles[rng() % std::size(angles)], xr, yr,
          rng() % 3 == 0};
}

TEST(RotateNoInterpolation, CopyFormMatchesMapping) {
  TestState ts;
  std::mt19937 rng(109);
  for (int depth : {1, 2, 4, 8})
    for (int trial = 0; trial < 16; ++trial) {
      const Params p = random_params(rng, depth);
      Framed src(p.W, p.H, depth), dst(p.W, p.H, depth, int(rng() % 2));
      src.fill_image(rng, 0.3);
      // Noise in the frame: only the right frame's rest of the last word may be read (1 bpp).
      for (long y = -32; y < p.H + 32; ++y)
        for (long x = -32; x < src.line_pixels() - 32; ++x)
          if (!src.in_image(x, y)) src.set(x, y, rng() % 2 ? (1u << depth) - 1 : 0);
      dst.fill_noise(rng);
      const Framed before = dst;
      ASSERT_EQ(i_rotateNoInterpolationFixedPoint(ts.state, src.data(), src.fw(), src.fh(),
                                                  int32_t(src.bpl), p.angle, dst.data(), int32_t(dst.bpl),
                                                  depth, p.nice, p.xRes, p.yRes),
                VLT_OK);
      const Reference ref(src, p.angle, p.xRes, p.yRes, p.nice);
      ASSERT_EQ(check(dst, before, ref), "") << describe(p);
    }
}

TEST(RotateNoInterpolation, InPlaceMatchesCopyForm) {
  TestState ts;
  std::mt19937 rng(110);
  for (int depth : {1, 2, 4, 8})
    for (int trial = 0; trial < 14; ++trial) {
      Params p = random_params(rng, depth);
      if (trial < 4) p.H = 1 + trial * 3;  // rings longer than the image
      Framed img(p.W, p.H, depth);
      img.fill_image(rng, 0.4);
      const Framed src = img;
      ASSERT_EQ(i_rotateNoInterpolationIPFixedPoint(ts.state, img.data(), img.fw(), img.fh(),
                                                    int32_t(img.bpl), p.angle, depth, p.nice, p.xRes, p.yRes),
                VLT_OK);
      const Reference ref(src, p.angle, p.xRes, p.yRes, p.nice);
      ASSERT_EQ(check(img, src, ref), "") << describe(p);
    }
}

// Turning by -a is flipping top to bottom, turning by a and flipping back.
TEST(RotateNoInterpolation, NegativeAngleIsFlippedTurn) {
  TestState ts;
  for (int depth : {1, 8}) {
    Framed src(150, 90, depth), flipped(150, 90, depth);
    std::mt19937 rng(4);
    src.fill_image(rng, 0.3);
    for (long y = 0; y < 90; ++y)
      for (long x = 0; x < 150; ++x) flipped.set(x, 89 - y, src.get(x, y));
    Framed a(150, 90, depth), b(150, 90, depth);
    ASSERT_EQ(i_rotateNoInterpolation(ts.state, src.data(), 214, 154, int32_t(src.bpl), -0.15, a.data(),
                                      int32_t(a.bpl), depth, 0, 300, 300),
              VLT_OK);
    ASSERT_EQ(i_rotateNoInterpolation(ts.state, flipped.data(), 214, 154, int32_t(src.bpl), 0.15, b.data(),
                                      int32_t(b.bpl), depth, 0, 300, 300),
              VLT_OK);
    for (long y = 0; y < 90; ++y)
      for (long x = 0; x < 150; ++x) ASSERT_EQ(a.get(x, y), b.get(x, 89 - y)) << x << "," << y;
  }
}

TEST(RotateNoInterpolation, ArgumentsAndNoTurn) {
  TestState ts;
  Framed src(100, 40, 1), dst(100, 40, 1);
  std::mt19937 rng(8);
  src.fill_image(rng);
  const auto fixed = [&](int32_t angle, int32_t depth, int32_t xRes, int32_t yRes) {
    return i_rotateNoInterpolationFixedPoint(ts.state, src.data(), 164, 104, int32_t(src.bpl), angle,
                                             dst.data(), int32_t(dst.bpl), depth, 0, xRes, yRes);
  };
  const auto inPlace = [&](int32_t angle, int32_t depth, int32_t xRes, int32_t yRes) {
    return i_rotateNoInterpolationIPFixedPoint(ts.state, dst.data(), 164, 104, int32_t(dst.bpl), angle,
                                               depth, 0, xRes, yRes);
  };
  struct Case { int32_t angle, depth, xRes, yRes; VltStatus want; };
  const Case cases[] = {
      {910, 1, 300, 300, VLT_OK},           {-910, 1, 300, 300, VLT_OK},
      {911, 1, 300, 300, VLT_ERR_ANGLE},    {-911, 1, 300, 300, VLT_ERR_ANGLE},
      {100, 3, 300, 300, VLT_ERR_DEPTH},    {1000, 16, 300, 300, VLT_ERR_DEPTH},
      {100, 1, 0, 300, VLT_ERR_PARAM},      {100, 1, 0, 0, VLT_OK},
      {100, 1, 0, 1, VLT_OK},               {100, 1, -300, -300, VLT_ERR_PARAM},
      // A vertical slope above 1 would make runs of no pixels.
      {900, 1, 100, 3000, VLT_ERR_PARAM},   {900, 1, 3000, 100, VLT_OK},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixed(c.angle, c.depth, c.xRes, c.yRes), c.want) << c.angle << " " << c.depth << " " << c.xRes << "/" << c.yRes;
    EXPECT_EQ(inPlace(c.angle, c.depth, c.xRes, c.yRes), c.want) << c.angle << " " << c.depth << " " << c.xRes << "/" << c.yRes;
  }
  // NaN and huge radians are out of range, not undefined conversions.
  EXPECT_EQ(i_rotateNoInterpolation(ts.state, src.data(), 164, 104, int32_t(src.bpl), 1e300, dst.data(),
                                    int32_t(dst.bpl), 1, 0, 300, 300),
            VLT_ERR_ANGLE);
  EXPECT_EQ(i_rotateNoInterpolationIP(ts.state, dst.data(), 164, 104, int32_t(dst.bpl), std::nan(""), 1, 0, 300, 300),
            VLT_ERR_ANGLE);
  // 910 units is 9.998 degrees; 0.1745 radians converts to 910.
  EXPECT_EQ(i_rotateNoInterpolation(ts.state, src.data(), 164, 104, int32_t(src.bpl), 0.1745, dst.data(),
                                    int32_t(dst.bpl), 1, 0, 300, 300),
            VLT_OK);
  EXPECT_EQ(i_rotateNoInterpolation(ts.state, src.data(), 164, 104, int32_t(src.bpl), 0.1747, dst.data(),
                                    int32_t(dst.bpl), 1, 0, 300, 300),
            VLT_ERR_ANGLE);

  // No visible turn: the copy form copies, the in-place form leaves the image alone.
  dst.fill_noise(rng);
  Framed before = dst;
  ASSERT_EQ(fixed(0, 1, 300, 300), VLT_OK);
  for (long y = 0; y < 40; ++y)
    for (long x = 0; x < 100; ++x) ASSERT_EQ(dst.get(x, y), src.get(x, y));
  before = dst;
  ASSERT_EQ(inPlace(0, 1, 300, 300), VLT_OK);
  EXPECT_EQ(before.bytes, dst.bytes);

  // Source and destination sharing memory are refused by the copy form.
  EXPECT_EQ(i_rotateNoInterpolationFixedPoint(ts.state, src.data(), 164, 104, int32_t(src.bpl), 300,
                                              src.data() + 8, int32_t(src.bpl), 1, 0, 300, 300),
            VLT_ERR_PARAM);
  // Failed allocations (the table, its unrolled plan, then the ring) leave the image as it was
  // and free everything.
  for (size_t k = 1; k <= 3; ++k) {
    before = dst;
    ts.alloc.fail_at(k);
    EXPECT_EQ(inPlace(500, 1, 300, 300), VLT_ERR_NOMEM);
    EXPECT_EQ(before.bytes, dst.bytes);
  }
  ts.alloc.fail_at(1);
  EXPECT_EQ(fixed(500, 1, 300, 300), VLT_ERR_NOMEM);
  EXPECT_EQ(ip_rotateAssemblyCodeIsPresent(ts.state), 0);
}

TEST(RotateNoInterpolation, LineTable) {
  TestState ts;
  // sv = 16384 (slope 1/4): runs of 4 pixels; at 1 bpp each word holds eight runs, the last
  // reaching the word's end, so no run goes on into the next word.
  uint32_t* t = nullptr;
  ASSERT_EQ(ip_makeNoInterpRotTable(ts.state, 16384, &t, 40, 3, 1, 0), VLT_OK);
  for (int w = 0; w < 2; ++w) {
    for (int r = 0; r < 8; ++r) EXPECT_EQ(t[w * 9 + r], 0xF0000000u >> (4 * r)) << w << " " << r;
    EXPECT_EQ(t[w * 9 + 8], 0u);
  }
  ts.state->freeProc[0](t, ts.state->allocData[0]);
  // Slope 1/40 at 8 bpp: runs of 40 pixels go on over ten words, each with the line adjust.
  ASSERT_EQ(ip_makeNoInterpRotTable(ts.state, 65536 / 40, &t, 100, 7, 8, 0), VLT_OK);
  EXPECT_EQ(t[0], 0xFFFFFFFFu);
  EXPECT_EQ(t[1], 7u);
  ts.state->freeProc[0](t, ts.state->allocData[0]);
  EXPECT_EQ(ip_makeNoInterpRotTable(ts.state, 16384, &t, 40, 3, 3, 0), VLT_ERR_DEPTH);
  EXPECT_EQ(ip_makeNoInterpRotTable(ts.state, 70000, &t, 40, 3, 1, 0), VLT_ERR_PARAM);
  EXPECT_EQ(ip_makeNoInterpRotTable(nullptr, 16384, &t, 40, 3, 1, 0), VLT_ERR_NOMEM);
  EXPECT_EQ(t, nullptr);
}

TEST(RotateNoInterpolation, GrayWeightTables) {
  TestState ts;
  uint16_t* t = nullptr;
  ASSERT_EQ(ip_makeGrayRotationTable(ts.state, 0, &t), VLT_OK);
  // f = 0, a = 0, b = 127: g = 254, v = 238, high 223, low 14.
  EXPECT_EQ(t[127], (223 << 8) | 14);
  EXPECT_EQ(t[7 * 1024 + 7 * 128 + 127], ((254 / 16) * 1 / 16) << 8 | ((254 / 16) * 15 / 16));
  EXPECT_EQ(ip_makeGrayRotationTable(ts.state, 16384, &t), VLT_OK);
  EXPECT_EQ(ip_makeGrayRotationTable(ts.state, 2048, &t), VLT_ERR_PARAM);
  ts.state->freeProc[0](t, ts.state->allocData[0]);
  t = nullptr;
  ASSERT_EQ(ip_make4bppGrayRotationTable(ts.state, 0, &t), VLT_OK);
  EXPECT_EQ(t[15], ((240 * 15 / 16) * 15 / 16) << 8 | ((240 * 15 / 16) / 16));
  EXPECT_EQ(ip_make4bppGrayRotationTable(ts.state, 16384, &t), VLT_ERR_PARAM);
  ts.state->freeProc[0](t, ts.state->allocData[0]);
  t = nullptr;
  ts.alloc.fail_at(1);
  EXPECT_EQ(ip_makeGrayRotationTable(ts.state, 0, &t), VLT_ERR_NOMEM);
  EXPECT_EQ(t, nullptr);
}

}  // namespace
