// Rescaling: scale-to-size tables and nearest-pixel rescaling against a naive sampler,
// bilinear rescaling against a per-pixel evaluation of its weights, and area mapping.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "framed_image.h"
#include "i_rescale.h"
#include "ip_test_state.h"
#include "ref_rescale.h"

namespace {

using iptest::Framed;
using iptest::TestState;
using monotest::nearest_source;

int32_t table_word(const std::vector<uint8_t>& block, size_t index) {
  int32_t v;
  std::memcpy(&v, block.data() + 4 * index, 4);
  return v;
}

std::vector<uint8_t> make_tables(IPState* s, int srcW, int srcH, int32_t srcBpl, int depth, int dstW, int dstH) {
  size_t size = 0;
  EXPECT_EQ(i_getScaleToSizeTableSize(s, depth, dstW, dstH, &size), VLT_OK);
  std::vector<uint8_t> block(size);
  EXPECT_EQ(i_fillScaleToSizeTables(s, srcW, srcH, srcBpl, depth, dstW, dstH, size, block.data()), VLT_OK);
  return block;
}

TEST(ScaleToSizeTables, SizesAndEntries) {
  TestState ts;
  size_t size = 0;
  EXPECT_EQ(i_getScaleToSizeTableSize(ts.state, 3, 10, 10, &size), VLT_ERR_DEPTH);
  EXPECT_EQ(i_getScaleToSizeTableSize(ts.state, 8, 0, 10, &size), VLT_ERR_PARAM);
  EXPECT_EQ(i_getScaleToSizeTableSize(ts.state, 8, 10, 0, &size), VLT_ERR_PARAM);
  EXPECT_EQ(i_getScaleToSizeTableSize(ts.state, 8, 10, 10, nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(i_getScaleToSizeTableSize(ts.state, 8, 100, 50, &size), VLT_OK);
  EXPECT_EQ(size, 624u);
  EXPECT_EQ(i_getScaleToSizeTableSize(ts.state, 4, 100, 50, &size), VLT_OK);
  EXPECT_EQ(size, 724u);

  // srcW 10 to dstW 4: x step 163840 gives columns 0, 2, 5, 7.
  std::vector<uint8_t> block = make_tables(ts.state, 10, 2, 48, 8, 4, 6);
  EXPECT_EQ(std::vector<int32_t>({table_word(block, 0), table_word(block, 1), table_word(block, 2),
                                  table_word(block, 3), table_word(block, 4), table_word(block, 5)}),
            std::vector<int32_t>({4, 16, 6, 24, 0, 0}));
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(table_word(block, 6 + i), (std::vector<int32_t>{0, 2, 5, 7})[i]);
  // 2 source lines to 6: lines 0, 0, 0, 0, 1, 1 (step 21845, truncated), as byte offsets.
  for (size_t j = 0; j < 6; ++j) EXPECT_EQ(table_word(block, 10 + j), j < 4 ? 0 : 48);
  int32_t w = 0, h = 0;
  EXPECT_EQ(i_getDimensionsFromScalingTables(ts.state, block.data(), &w, &h), VLT_OK);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(i_getDimensionsFromScalingTables(ts.state, nullptr, &w, &h), VLT_ERR_PARAM);

  // 2 and 4 bpp: byte entries and shifts.
  block = make_tables(ts.state, 10, 1, 16, 4, 5, 1);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(table_word(block, 6 + i), int32_t(i));  // source pixels 0, 2, 4, 6, 8
    EXPECT_EQ(block[24 + 4 * 5 + 4 + i], 4);
  }
  block = make_tables(ts.state, 8, 1, 16, 2, 8, 1);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(table_word(block, 6 + i), int32_t(i / 4));
    EXPECT_EQ(block[24 + 4 * 8 + 4 + i], 6 - 2 * (i % 4));
  }

  // Too small a block, a missing one or a refused depth.
  std::vector<uint8_t> small(100);
  EXPECT_EQ(i_fillScaleToSizeTables(ts.state, 10, 10, 16, 8, 10, 10, small.size(), small.data()), VLT_ERR_PARAM);
  EXPECT_EQ(i_fillScaleToSizeTables(ts.state, 10, 10, 16, 8, 10, 10, 1000, nullptr), VLT_ERR_PARAM);
  std::vector<uint8_t> big(1000);
  EXPECT_EQ(i_fillScaleToSizeTables(ts.state, 10, 10, 16, 3, 10, 10, big.size(), big.data()), VLT_ERR_PARAM);
  EXPECT_EQ(i_fillScaleToSizeTables(ts.state, 0, 10, 16, 8, 10, 10, big.size(), big.data()), VLT_ERR_PARAM);
}

// 16.16 steps of sources 32768 and wider do not overflow.
TEST(ScaleToSizeTables, WideSourcesKeepTheirPositions) {
  TestState ts;
  for (auto [srcW, dstW] : {std::pair{40000, 20000}, std::pair{100000, 3}, std::pair{70000, 70001}}) {
    const std::vector<uint8_t> block = make_tables(ts.state, srcW, 1, 0, 8, dstW, 1);
    for (int i = 0; i < dstW; i += std::max(1, dstW / 97))
      ASSERT_EQ(table_word(block, 6 + size_t(i)), nearest_source(i, srcW, dstW)) << srcW << " to " << dstW;
  }
}

VltStatus rescale(IPState* s, const Framed& src, Framed& dst) {
  return i_rescaleNoInterp(s, src.data(), src.fw(), src.fh(), src.bpl, src.depth, dst.data(), dst.fw(), dst.fh(),
                           dst.bpl, dst.depth);
}

// Image pixels sampled; past the width, 0 to the end of the last word at 1, 2 and 4 bpp;
// everything else as it was.
std::string check_nearest(const Framed& src, const Framed& before, const Framed& after, int regionX = 0,
                          int regionY = 0, int fullW = 0, int fullH = 0) {
  const int W = fullW ? fullW : after.w, H = fullH ? fullH : after.h;
  const int perWord = 32 / after.depth;
  const int lastWordEnd = after.depth == 8 ? after.w : (after.w + perWord - 1) / perWord * perWord;
  return iptest::compare_all(before, after, [&](int x, int y, uint32_t old) -> uint32_t {
    if (y < 0 || y >= after.h || x < 0 || x >= lastWordEnd) return old;
    if (x >= after.w) return 0;
    return src.get(int(nearest_source(regionX + x, src.w, W)), int(nearest_source(regionY + y, src.h, H)));
  });
}

TEST(RescaleNoInterp, MatchesTheNaiveSamplerAtEveryDepth) {
  std::mt19937 rng(50);
  for (int depth : {1, 2, 4, 8})
    for (int n = 0; n < 60; ++n) {
      int sw = 1 + int(rng() % 90);
      const int sh = 1 + int(rng() % 6);
      int dw = n < 30 ? 1 + int(rng() % 100) : std::max(1, sw * (n % 3 == 0 ? 2 : 1) / (n % 3 == 1 ? 2 : 1));
      if (n % 6 == 5) sw = 1 + int(rng() % 12), dw = 40 + int(rng() % 60);  // many pixels from each source byte
      const int dh = 1 + int(rng() % 12);
      Framed src(sw, sh, depth, int(rng() % 2)), dst(dw, dh, depth, int(rng() % 2));
      src.fill_noise(rng);
      if (n % 2)  // mostly blank, with a few ON pixels
        for (int y = 0; y < sh; ++y)
          for (int x = 0; x < sw; ++x) src.set(x, y, rng() % 16 == 0 ? src.max_value() : 0);
      dst.fill_noise(rng);
      const Framed before = dst;
      TestState ts;
      ASSERT_EQ(rescale(ts.state, src, dst), VLT_OK);
      ASSERT_EQ(check_nearest(src, before, dst), "")
          << "depth " << depth << " " << sw << "x" << sh << " to " << dw << "x" << dh;
    }
}

TEST(RescaleNoInterp, PublishedCases) {
  TestState ts;
  // Doubling a 1-bit line repeats every pixel; halving keeps every second from the first.
  Framed line(5, 1, 1);
  for (int x : {0, 2, 3}) line.set(x, 0, 1);
  Framed doubled(10, 1, 1), halved(3, 1, 1);
  ASSERT_EQ(rescale(ts.state, line, doubled), VLT_OK);
  ASSERT_EQ(rescale(ts.state, line, halved), VLT_OK);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(doubled.get(x, 0), line.get(x / 2, 0));
  for (int x = 0; x < 3; ++x) EXPECT_EQ(halved.get(x, 0), line.get(int(nearest_source(x, 5, 3)), 0));
  // 2 lines to 6: destination line 0 built and copied three times, line 4 built and copied once.
  std::mt19937 rng(1);
  Framed two(37, 2, 8), six(37, 6, 8);
  two.fill_image(rng);
  ASSERT_EQ(rescale(ts.state, two, six), VLT_OK);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 37; ++x) ASSERT_EQ(six.get(x, y), two.get(x, y < 4 ? 0 : 1));
}

TEST(RescaleNoInterp, RegionsComposeTheWholeImage) {
  std::mt19937 rng(8);
  for (int depth : {1, 2, 4, 8}) {
    const int sw = 45, sh = 9, fw = 83, fh = 20;
    Framed src(sw, sh, depth);
    src.fill_image(rng);
    TestState ts;
    const std::vector<uint8_t> block = make_tables(ts.state, sw, sh, src.bpl, depth, fw, fh);
    for (auto [rx, ry, rw, rh] : {std::array{0, 0, 83, 20}, std::array{17, 3, 40, 9}, std::array{82, 19, 1, 1},
                                  std::array{50, 0, 33, 20}}) {
      Framed dst(rw, rh, depth, 1);
      dst.fill_noise(rng);
      const Framed before = dst;
      ASSERT_EQ(i_rescaleNoInterpSubRegion(ts.state, src.data(), src.fw(), src.fh(), src.bpl, depth, block.data(),
                                           dst.data(), rx, ry, dst.fw(), dst.fh(), dst.bpl, depth),
                VLT_OK);
      ASSERT_EQ(check_nearest(src, before, dst, rx, ry, fw, fh), "") << "depth " << depth << " region " << rx << "," << ry;
    }
  }
}

// A caller's table may name the source columns in any order: here a mirror image.
TEST(RescaleNoInterp, CallerTablesInAnyOrder) {
  std::mt19937 rng(12);
  for (int depth : {1, 8}) {
    Framed src(70, 4, depth), dst(70, 4, depth);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 70; ++x) src.set(x, y, x < 40 ? 0 : uint32_t(rng()) & src.max_value());
    TestState ts;
    std::vector<uint8_t> block = make_tables(ts.state, 70, 4, src.bpl, depth, 70, 4);
    for (int32_t i = 0; i < 70; ++i) {
      const int32_t mirrored = 69 - i;
      std::memcpy(block.data() + 24 + 4 * size_t(i), &mirrored, 4);
    }
    ASSERT_EQ(i_rescaleNoInterpSubRegion(ts.state, src.data(), src.fw(), src.fh(), src.bpl, depth, block.data(),
                                         dst.data(), 0, 0, dst.fw(), dst.fh(), dst.bpl, depth),
              VLT_OK);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 70; ++x) ASSERT_EQ(dst.get(x, y), src.get(69 - x, y)) << x;
  }
}

// Regions reaching past the tables, or tables naming pixels outside the source, are refused
// before anything is written.
TEST(RescaleNoInterp, RefusesRegionsAndTablesOutsideTheSource) {
  std::mt19937 rng(9);
  TestState ts;
  for (int depth : {1, 4, 8}) {
    Framed src(20, 10, depth), dst(10, 5, depth);
    dst.fill_noise(rng);
    const Framed before = dst;
    std::vector<uint8_t> block = make_tables(ts.state, 20, 10, src.bpl, depth, 30, 15);
    const auto call = [&](int rx, int ry, const std::vector<uint8_t>& b) {
      return i_rescaleNoInterpSubRegion(ts.state, src.data(), src.fw(), src.fh(), src.bpl, depth, b.data(),
                                        dst.data(), rx, ry, dst.fw(), dst.fh(), dst.bpl, depth);
    };
    EXPECT_EQ(call(21, 0, block), VLT_ERR_PARAM);  // one column past the tables
    EXPECT_EQ(call(0, 11, block), VLT_ERR_PARAM);
    EXPECT_EQ(call(-1, 0, block), VLT_ERR_PARAM);
    EXPECT_EQ(call(0, -1, block), VLT_ERR_PARAM);
    std::vector<uint8_t> bad = block;
    const int32_t outside = 20 / (depth == 4 ? 2 : 1);
    std::memcpy(bad.data() + 24 + 4 * 3, &outside, 4);  // column 3 names a pixel past the source
    EXPECT_EQ(call(0, 0, bad), VLT_ERR_PARAM);
    bad = block;
    const int32_t lineOutside = 10 * src.bpl;
    std::memcpy(bad.data() + 24 + 4 * 30 + 4 * 2, &lineOutside, 4);
    EXPECT_EQ(call(0, 0, bad), VLT_ERR_PARAM);
    EXPECT_EQ(dst.bytes, before.bytes);
    EXPECT_EQ(call(20, 10, block), VLT_OK);  // the last region that fits
  }
  Framed a(4, 4, 1), b(4, 4, 2);
  EXPECT_EQ(rescale(ts.state, a, b), VLT_ERR_DEPTH);
  Framed c(4, 4, 16), d(4, 4, 16);
  EXPECT_EQ(rescale(ts.state, c, d), VLT_ERR_DEPTH);
  Framed empty(0, 4, 8), e(4, 4, 8);
  EXPECT_EQ(rescale(ts.state, e, empty), VLT_ERR_PARAM);
  ts.alloc.fail_at(1);
  EXPECT_EQ(rescale(ts.state, e, e), VLT_ERR_NOMEM);
}

// --- Bilinear rescaling ---------------------------------------------------------------------

// A per-pixel evaluation of the interpolation: each destination pixel from its four source
// neighbours (the last column and line repeated past the image), weighted in eighths by the
// truncating single-precision products, and the second pixel of a pair that shares a source
// pair taken at the companion eighth of the first.
struct Bilinear {
  float W[8];
  uint32_t xstep, ystep;
  Bilinear(int sw, int sh, int dw, int dh)
      : xstep(static_cast<uint32_t>(float(sw) / float(dw) * 16384.0f)),
        ystep(static_cast<uint32_t>(float(sh) / float(dh) * 2048.0f)) {
    for (int k = 0; k < 8; ++k) W[k] = 1.0f - float(k) / 8.0f;
  }
  unsigned companion(unsigned kx) const {
    const uint32_t v = xstep + 2048 * kx;
    unsigned kb = ((v + 1024) / 2048) % 8;
    return kb == 0 && (v / 2048) % 8 == 7 ? 7 : kb;
  }
  template <class Get>
  unsigned value(Get get, int sx, int sy, unsigned kx, unsigned ky) const {
    const float wy = W[ky];
    unsigned sum = 0;
    for (int dx = 0; dx < 2; ++dx) {
      for (int dy = 0; dy < 2; ++dy) {
        const int p = int(get(sx + dx, sy + dy) & ~1u);
        const int a = int(float(p) * W[kx]);
        const int part = dx == 0 ? a : p - a;  // left neighbours take a, right ones the rest
        const int top = int(float(part) * wy);
        sum += unsigned(dy == 0 ? top : part - top);
      }
    }
    return sum;
  }
  bool shares(int i) const {  // pixel i shares its source pixel with pixel i + 1
    return (uint64_t(i) * xstep >> 14) == (uint64_t(i + 1) * xstep >> 14);
  }
  // Does pixel i take the low bytes of pixel i - 1's lookup?
  bool reuses(int i) const {
    const int g = i & ~3, k = i & 3;
    const bool s12 = shares(g), s23 = shares(g + 1), s34 = shares(g + 2);
    if (s12) return k == 1 || (k == 3 && s34);
    if (s23) return k == 2;
    return s34 && k == 3;
  }
  template <class Get>
  unsigned pixel(Get get, int i, int j) const {
    const uint64_t Y = uint64_t(j) * ystep;
    const int sy = int(Y >> 11);
    const auto ky = unsigned(Y >> 8 & 7);
    const int at = reuses(i) ? i - 1 : i;
    const uint64_t X = uint64_t(at) * xstep;
    const auto kx = unsigned(X >> 11 & 7);
    return value(get, int(X >> 14), sy, at == i ? kx : companion(kx), ky);
  }
};

VltStatus arb(IPState* s, Framed& src, Framed& dst) {
  return i_rescaleArb(s, src.data(), src.fw(), src.fh(), src.bpl, src.depth, dst.data(), dst.fw(), dst.fh(), dst.bpl,
                      dst.depth);
}

TEST(RescaleArb, MatchesThePerPixelEvaluationAtBothDepths) {
  std::mt19937 rng(60);
  for (int depth : {8, 4})
    for (int n = 0; n < 100; ++n) {
      int sw = 1 + int(rng() % 70), sh = 1 + int(rng() % 9);
      int dw = n % 4 == 0 ? sw : 1 + int(rng() % 110), dh = n % 5 == 0 ? sh : 1 + int(rng() % 20);
      // Slight enlargements (pairs sharing a source pixel at the last eighth) and tall ones
      // (four lines between the same two source lines).
      if (n % 10 == 7) dw = sw + 1 + sw / 30 + int(rng() % 2), dh = 3 * sh + 1 + int(rng() % (2 * sh));
      Framed src(sw, sh, depth, int(rng() % 2)), dst(dw, dh, depth, int(rng() % 2));
      src.fill_noise(rng);  // a frame that is not blank is given back as it was
      dst.fill_noise(rng);
      const Framed srcBefore = src, dstBefore = dst;
      TestState ts;
      ASSERT_EQ(arb(ts.state, src, dst), VLT_OK);
      ASSERT_EQ(src.bytes, srcBefore.bytes) << "the source frame is restored";
      const Bilinear ref(sw, sh, dw, dh);
      // 4-bit pixels go through 8 bits (v * 17) and back (the top nibble).
      const auto get = [&](int x, int y) {
        const uint32_t v = src.get(std::min(x, sw - 1), std::min(y, sh - 1));
        return depth == 8 ? v : v * 17;
      };
      const int perWord = 32 / depth;
      const int lastWordEnd = (dw + perWord - 1) / perWord * perWord;
      const std::string diff = iptest::compare_all(dstBefore, dst, [&](int x, int y, uint32_t old) -> uint32_t {
        if (y < 0 || y >= dh || x < 0 || x >= lastWordEnd + 32) return old;
        if (x >= dw) return 0;
        const unsigned v = ref.pixel(get, x, y);
        return depth == 8 ? v : v >> 4;
      });
      ASSERT_EQ(diff, "") << "depth " << depth << " " << sw << "x" << sh << " to " << dw << "x" << dh;
    }
}

TEST(RescaleArb, EqualSizesKeepEveryPixelLessItsLowestBit) {
  std::mt19937 rng(61);
  for (int depth : {8, 4}) {
    Framed src(53, 11, depth), dst(53, 11, depth);
    src.fill_image(rng);
    TestState ts;
    ASSERT_EQ(arb(ts.state, src, dst), VLT_OK);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 53; ++x) ASSERT_EQ(dst.get(x, y), depth == 8 ? src.get(x, y) & ~1u : src.get(x, y));
    // The frame column and line lent to the kernels are blank again.
    for (int y = 0; y <= 11; ++y) EXPECT_EQ(src.get(53, y), 0u);
    for (int x = 0; x <= 53; ++x) EXPECT_EQ(src.get(x, 11), 0u);
  }
}

TEST(RescaleArb, FailuresLeaveBothImagesAsTheyWere) {
  std::mt19937 rng(62);
  TestState ts;
  Framed a8(9, 9, 8), a4(9, 9, 4);
  EXPECT_EQ(arb(ts.state, a8, a4), VLT_ERR_DEPTH);
  EXPECT_EQ(arb(ts.state, a4, a8), VLT_ERR_DEPTH);
  Framed one(9, 9, 1);
  EXPECT_EQ(arb(ts.state, one, one), VLT_ERR_DEPTH);
  Framed empty(0, 9, 8);
  EXPECT_EQ(arb(ts.state, a8, empty), VLT_ERR_PARAM);
  EXPECT_EQ(arb(ts.state, empty, a8), VLT_ERR_PARAM);
  // Every allocation failing in turn: weights, codes, the saved frame, and at 4 bpp the line
  // buffers and the expansion table (whose failure is reported as an abort).
  for (int depth : {8, 4})
    for (int k = 1; k <= (depth == 8 ? 3 : 6); ++k) {
      Framed src(30, 7, depth), dst(45, 10, depth);
      src.fill_noise(rng);
      dst.fill_noise(rng);
      const Framed srcBefore = src, dstBefore = dst;
      TestState failing;
      failing.alloc.fail_at(size_t(k));
      EXPECT_EQ(arb(failing.state, src, dst), k == 6 ? VLT_ERR_YIELD_ABORT : VLT_ERR_NOMEM) << "allocation " << k;
      EXPECT_EQ(src.bytes, srcBefore.bytes);
      EXPECT_EQ(dst.bytes, dstBefore.bytes);
    }
}

// --- Area mapping ---------------------------------------------------------------------------

VltStatus area(IPState* s, const Framed& src, Framed& dst) {
  return i_rescaleAreaMap(s, src.data(), src.fw(), src.fh(), src.bpl, src.depth, dst.data(), dst.fw(), dst.fh(),
                          dst.bpl, dst.depth);
}

TEST(RescaleAreaMap, EqualSizesAndDoublingCopyPixels) {
  std::mt19937 rng(70);
  TestState ts;
  // Equal sizes: every pixel less its lowest bit. Doubling: each pixel four times.
  for (auto [sw, sh, dw, dh] : {std::array{41, 7, 41, 7}, std::array{17, 5, 34, 10}, std::array{30, 2, 30, 4},
                                std::array{9, 6, 18, 6}}) {
    Framed src(sw, sh, 8), dst(dw, dh, 8);
    src.fill_noise(rng);
    for (int x = -32; x < sw + 32; ++x) src.set(x, -1, 0);  // the line above the image stays unread
    ASSERT_EQ(area(ts.state, src, dst), VLT_OK);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x)
        ASSERT_EQ(dst.get(x, y), src.get(x * sw / dw, y * sh / dh) & ~1u)
            << sw << "x" << sh << " to " << dw << "x" << dh << " at " << x << "," << y;
  }
}

// Against the exact area average of a smooth picture. The weights are kept per eighth of a
// pixel and per line slot, the slot of a line that begins half-way into its destination line
// also weighs the line above it, and inserted lines and columns are copies; together these
// put a pixel up to about a quarter of its value off, but never a wrong part of the picture.
TEST(RescaleAreaMap, StaysCloseToTheAreaAverage) {
  std::mt19937 rng(71);
  int worst = 0;
  for (int n = 0; n < 40; ++n) {
    const int sw = 2 + int(rng() % 80), sh = 2 + int(rng() % 10);
    const int dw = sw + int(rng() % (sw / 2 + 1)), dh = sh + int(rng() % (sh + 1));
    Framed src(sw, sh, 8), dst(dw, dh, 8);
    // A smooth picture (ramps of gentle slopes up and down), where an area average and a
    // resampling agree.
    const int ax = 1 + int(rng() % 12), ay = int(rng() % 12);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) src.set(x, y, uint32_t(20 + std::abs((ax * x + ay * y) % 400 - 200)));
    TestState ts;
    ASSERT_EQ(area(ts.state, src, dst), VLT_OK);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x) {
        // Average of the source over the destination pixel's extent.
        double sum = 0;
        const double x0 = double(x) * sw / dw, x1 = double(x + 1) * sw / dw;
        const double y0 = double(y) * sh / dh, y1 = double(y + 1) * sh / dh;
        for (int sy = int(y0); sy < sh && sy < y1; ++sy)
          for (int sx = int(x0); sx < sw && sx < x1; ++sx)
            sum += (std::min(x1, sx + 1.0) - std::max(x0, double(sx))) *
                   (std::min(y1, sy + 1.0) - std::max(y0, double(sy))) * src.get(sx, sy);
        const int want = int(sum / ((x1 - x0) * (y1 - y0)));
        worst = std::max(worst, std::abs(int(dst.get(x, y)) - want));
      }
  }
  EXPECT_LE(worst, 64);
}

TEST(RescaleAreaMap, WritesNoLinePastTheDestination) {
  // 273 lines to 545 would make 546 lines; the last is not made.
  Framed src(5, 273, 8), dst(7, 545, 8);
  std::mt19937 rng(72);
  src.fill_image(rng);
  dst.fill_noise(rng);
  const Framed before = dst;
  TestState ts;
  ASSERT_EQ(area(ts.state, src, dst), VLT_OK);
  for (int y = 545; y < 545 + 32; ++y)
    for (int x = -32; x < dst.line_pixels() - 32; ++x) ASSERT_EQ(dst.get(x, y), before.get(x, y)) << x << "," << y;
}

TEST(RescaleAreaMap, RefusesOtherRatiosAndDepths) {
  TestState ts;
  Framed src(10, 10, 8);
  struct Case { int w, h; VltStatus want; };
  for (const Case& c : {Case{9, 10, VLT_ERR_PARAM}, Case{10, 9, VLT_ERR_PARAM}, Case{21, 10, VLT_ERR_PARAM},
                        Case{10, 21, VLT_ERR_PARAM}, Case{20, 20, VLT_OK}, Case{10, 10, VLT_OK}}) {
    Framed dst(c.w, c.h, 8);
    EXPECT_EQ(area(ts.state, src, dst), c.want) << c.w << "x" << c.h;
  }
  Framed four(10, 10, 4);
  EXPECT_EQ(area(ts.state, four, four), VLT_ERR_DEPTH);
  Framed dst(15, 15, 8);
  for (int k = 1; k <= 2; ++k) {
    TestState failing;
    failing.alloc.fail_at(size_t(k));
    EXPECT_EQ(area(failing.state, src, dst), VLT_ERR_NOMEM);
  }
}

}  // namespace
