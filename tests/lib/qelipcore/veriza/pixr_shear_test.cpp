// Shears and arbitrary rotation of wrapper images.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pixr_fixture.h"
#include "pixr_geom.h"

namespace {

using monotest::RefBitmap;
using pixrtest::WrapperTest;

class ShearTest : public WrapperTest {
 protected:
  // Values of any depth, frame included (x, y in framed coordinates).
  static uint32_t px(const PIXR* p, int x, int y) { return framed_pixel(p, x + 32, y + 32); }
  static long frame_nonzero(const PIXR* p) {
    long n = 0;
    for (int y = -32; y < p->height + 32; ++y)
      for (int x = -32; x < p->width + 32; ++x)
        if ((x < 0 || y < 0 || x >= p->width || y >= p->height) && px(p, x, y) != 0) ++n;
    return n;
  }
};

// The copying shear by its band rule: band k of D / |f| lines (columns) lies at
// c - (h - k) sign(f), the sequence moved into the result when it would start outside.
RefBitmap shear_reference(const RefBitmap& src, bool horizontal, float f, int* outW, int* outH) {
  const float af = std::fabs(f);
  const int D = horizontal ? src.height : src.width;
  const float spread = float(D) * af;
  const int g = int(double(spread) + 0.9999);
  *outW = horizontal ? src.width + g : src.width;
  *outH = horizontal ? src.height : src.height + g;
  RefBitmap out(*outW, *outH);
  const float step = std::fabs(1.0f / f);
  const auto edge = [&](long k) { return std::min<long>(long(double(float(k) * step)), D); };
  long bands = 0;
  while (edge(bands) < D) ++bands;
  const long sign = f > 0 ? 1 : -1;
  const long h = long(std::fabs(double(float(D / 2) * f))), c = long(spread) / 2;
  const long first = c - (h - 1) * sign, last = c - (h - bands) * sign;
  long shift = 0;
  if (std::min(first, last) < 0) shift = -std::min(first, last);
  else if (std::max(first, last) > g) shift = g - std::max(first, last);
  for (long k = 1; k <= bands; ++k) {
    const long pos = std::clamp<long>(c - (h - k) * sign + shift, 0, g);
    for (long a = edge(k - 1); a < edge(k); ++a)
      for (int b = 0; b < (horizontal ? src.width : src.height); ++b) {
        const int x = horizontal ? b : int(a), y = horizontal ? int(a) : b;
        if (src.get(x, y)) out.set(horizontal ? int(pos) + b : x, horizontal ? y : int(pos) + b, 1);
      }
  }
  return out;
}

TEST_F(ShearTest, CopyingShearsFollowTheirBands) {
  std::mt19937 rng(5);
  for (int round = 0; round < 24; ++round) {
    const int w = 1 + int(rng() % 140), h = 1 + int(rng() % 90);
    const bool horizontal = round % 2 == 0;
    const float f = (round % 4 < 2 ? 1.0f : -1.0f) * (0.01f + float(rng() % 1000) / 1500.0f);
    const RefBitmap bm = monotest::make_noise(w, h, 0.5, uint32_t(round));
    PIXR* src = from_ref(bm);
    PIXR* out = nullptr;
    ASSERT_EQ(wp_shearC(s, src, horizontal ? W_SHEAR_HORIZONTAL : W_SHEAR_VERTICAL, f, 0, &out), VLT_OK);
    int ow = 0, oh = 0;
    const RefBitmap want = shear_reference(bm, horizontal, f, &ow, &oh);
    ASSERT_EQ(out->width, ow);
    ASSERT_EQ(out->height, oh);
    EXPECT_EQ(monotest::first_difference(want, to_ref(out)), "") << "round " << round << " f " << f;
    EXPECT_EQ(to_ref(out).count(), bm.count()) << "every source pixel once";
    EXPECT_EQ(frame_ones(out), 0);
    destroy(out);
    destroy(src);
  }
}

TEST_F(ShearTest, AngleRangeAndSizes) {
  PIXR* src = make(1000, 100);
  struct Case {
    float angle;
    VltStatus status;
  };
  for (const Case c : {Case{0.7853f, VLT_OK}, Case{0.7854f, VLT_OK}, Case{-0.7854f, VLT_OK},
                       Case{0.7855f, VLT_ERR_PARAM}, Case{-0.7855f, VLT_ERR_PARAM}, Case{NAN, VLT_ERR_PARAM}}) {
    PIXR* out = nullptr;
    EXPECT_EQ(w_rotateArb(s, src, c.angle, 1, 0, &out), c.status) << c.angle;
    if (out != nullptr) destroy(out);
  }
  PIXR* out = nullptr;
  ASSERT_EQ(w_rotateArb(s, src, 0.05f, 0, 0, &out), VLT_OK);
  EXPECT_EQ(out->width, 1008);
  EXPECT_EQ(out->height, 151);
  destroy(out);
  PIXR* self = src;
  EXPECT_EQ(w_rotateArb(s, src, 0.05f, 0, 0, &self), VLT_ERR_PARAM);
  destroy(src);
}

TEST_F(ShearTest, ZeroAngleCopiesAndTinyAnglesChangeNothing) {
  const RefBitmap bm = monotest::make_noise(61, 43, 0.5, 1);
  PIXR* src = from_ref(bm);
  for (const int keep : {0, 1}) {
    PIXR* out = nullptr;
    ASSERT_EQ(w_rotateArb(s, src, 0.0f, keep, 0, &out), VLT_OK);
    EXPECT_EQ(monotest::first_difference(bm, to_ref(out)), "");
    destroy(out);
  }
  ASSERT_EQ(wp_rotateSmallAngleIP(s, 0.001f, 0, src), VLT_OK);
  EXPECT_EQ(monotest::first_difference(bm, to_ref(src)), "");
  EXPECT_EQ(wp_rotateSmallAngleIP(s, 0.13f, 0, src), VLT_ERR_PARAM);
  destroy(src);
}

// Isolated 2 x 2 dots land where the turn about the image's centre takes them (to within the
// rounding of the bands), for every method; single pixels could fall between the samples of the
// rotation without interpolation.
TEST_F(ShearTest, DotsLandWhereTheTurnTakesThem) {
  const int W = 301, H = 241;
  std::vector<std::pair<int, int>> dots;
  for (int y = 40; y < H - 40; y += 23)
    for (int x = 40; x < W - 40; x += 31) dots.push_back({x, y});
  RefBitmap bm(W, H);
  for (const auto& [x, y] : dots)
    for (int k = 0; k < 4; ++k) bm.set(x + k % 2, y + k / 2, 1);
  struct Case {
    float angle;
    int keep;
    bool inPlace;
  };
  for (const Case c : {Case{0.05f, 1, false}, Case{-0.09f, 1, true}, Case{0.3f, 1, false}, Case{-0.6f, 1, true},
                       Case{0.07f, 0, false}, Case{-0.4f, 0, false}}) {
    PIXR* src = from_ref(bm);
    PIXR* out = c.inPlace ? src : nullptr;
    ASSERT_EQ(w_rotateArb(s, src, c.angle, c.keep, 0, &out), VLT_OK) << c.angle;
    const RefBitmap got = to_ref(out);
    const double ca = std::cos(c.angle), sa = std::sin(c.angle);
    const double sx = W / 2.0, sy = H / 2.0, ox = out->width / 2.0, oy = out->height / 2.0;
    for (const auto& [x, y] : dots) {
      const double dx = x + 0.5 - sx, dy = y + 0.5 - sy;
      const double tx = ox + ca * dx - sa * dy, ty = oy + sa * dx + ca * dy;
      if (tx < 3 || ty < 3 || tx > out->width - 3 || ty > out->height - 3) continue;  // turned out
      bool near = false;
      for (int yy = int(ty) - 2; yy <= int(ty) + 2 && !near; ++yy)
        for (int xx = int(tx) - 2; xx <= int(tx) + 2 && !near; ++xx)
          near = xx >= 0 && yy >= 0 && xx < got.width && yy < got.height && got.get(xx, yy);
      EXPECT_TRUE(near) << "angle " << c.angle << " keep " << c.keep << " dot " << x << "," << y << " expected near "
                        << tx << "," << ty;
    }
    EXPECT_LE(long(got.count()), 8 * long(dots.size())) << c.angle;
    EXPECT_EQ(frame_ones(out), 0);
    destroy(out);
    if (!c.inPlace) destroy(src);
  }
}

// The three shears in place are undone exactly by the opposite turn when nothing reaches the
// edges, at every depth.
TEST_F(ShearTest, LargeTurnAndItsOppositeGiveTheImageBack) {
  for (const int depth : {1, 2, 4, 8}) {
    for (const float angle : {0.2f, -0.45f, 0.78f}) {
      PIXR* p = make(120, 90, depth);
      std::mt19937 rng{uint32_t(depth)};
      for (int y = 35; y < 55; ++y)
        for (int x = 45; x < 75; ++x) mono::set_pixel(line(p, y), size_t(x), unsigned(depth), rng() & ((1u << depth) - 1));
      PIXR* copy = nullptr;
      ASSERT_EQ(w_copy(s, p, &copy), VLT_OK);
      PIXR* self = p;
      ASSERT_EQ(w_rotateArb(s, p, angle, 1, 0, &self), VLT_OK);
      ASSERT_EQ(w_rotateArb(s, p, -angle, 1, 0, &self), VLT_OK);
      // Deep images gain all-ones corners on the way; the middle is exact.
      for (int y = 20; y < 70; ++y)
        for (int x = 30; x < 90; ++x)
          ASSERT_EQ(px(p, x, y), px(copy, x, y)) << depth << " " << angle << " at " << x << "," << y;
      EXPECT_EQ(frame_nonzero(p), 0);
      destroy(copy);
      destroy(p);
    }
  }
}

TEST_F(ShearTest, FillOfUnreachedPixels) {
  for (const int depth : {1, 8}) {
    for (const float angle : {0.08f, 0.4f}) {
      for (const int keep : {0, 1}) {
        PIXR* p = make(80, 60, depth);
        ASSERT_EQ(w_paint(s, p, nullptr, std::vector<uint8_t>{depth == 1 ? uint8_t(1) : uint8_t(77)}.data()), VLT_OK);
        PIXR* out = nullptr;
        ASSERT_EQ(w_rotateArb(s, p, angle, keep, 0, &out), VLT_OK);
        const uint32_t background = depth == 1 ? 0u : 255u;
        EXPECT_EQ(px(out, 0, 0), background) << depth << " " << angle << " " << keep;
        EXPECT_EQ(px(out, out->width - 1, out->height - 1), background);
        EXPECT_EQ(px(out, out->width / 2, out->height / 2), depth == 1 ? 1u : 77u);
        EXPECT_EQ(frame_nonzero(out), 0);
        destroy(out);
        destroy(p);
      }
    }
  }
}

TEST_F(ShearTest, ChannelsDestinationsAndFailures) {
  // A three-channel image turns channel by channel into a three-channel result.
  PIXR* chans[3] = {};
  for (int c = 0; c < 3; ++c) {
    chans[c] = make(70, 50, 8);
    for (int y = 10; y < 40; ++y)
      for (int x = 10; x < 60; ++x) line(chans[c], y)[x] = uint8_t(30 * c + x);
  }
  PIXR* rgb = nullptr;
  ASSERT_EQ(w_createPixrComposite(s, chans, 3, 4, &rgb), VLT_OK);
  for (const int keep : {0, 1}) {
    PIXR* out = nullptr;
    ASSERT_EQ(w_rotateArb(s, rgb, 0.3f, keep, 0, &out), VLT_OK);
    ASSERT_EQ(out->channelCount, 3);
    for (int c = 0; c < 3; ++c) {
      PIXR* one = nullptr;
      ASSERT_EQ(w_rotateArb(s, chans[c], 0.3f, keep, 0, &one), VLT_OK);
      ASSERT_EQ(out->channels[c]->width, one->width);
      for (int y = 0; y < one->height; ++y)
        ASSERT_EQ(std::memcmp(line(out->channels[c], y), line(one, y), size_t(one->width)), 0) << c << " " << y;
      destroy(one);
    }
    // The same result into a given destination.
    PIXR* given = nullptr;
    ASSERT_EQ(w_clonePixr(s, out, &given), VLT_OK);
    PIXR* place = given;
    ASSERT_EQ(w_rotateArb(s, rgb, 0.3f, keep, 0, &place), VLT_OK);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < out->height; ++y)
        ASSERT_EQ(std::memcmp(line(out->channels[c], y), line(given->channels[c], y), size_t(out->width)), 0);
    destroy(given);
    destroy(out);
  }
  PIXR* single = make(70, 50, 8);
  PIXR* place = single;
  EXPECT_EQ(w_rotateArb(s, rgb, 0.3f, 1, 0, &place), VLT_ERR_CHANNELS_MISMATCH);
  PIXR* wrong = make(71, 50, 8);
  place = wrong;
  EXPECT_EQ(w_rotateArb(s, chans[0], 0.3f, 0, 0, &place), VLT_ERR_DIMENSIONS);
  destroy(wrong);
  destroy(single);
  destroy(rgb);

  // Every allocation failing in turn: the status comes back, nothing stays allocated, the
  // place stays empty.
  const RefBitmap bm = monotest::make_noise(90, 70, 0.4, 2);
  for (const auto& [angle, keep] : {std::pair{0.05f, 0}, {0.3f, 0}, {0.3f, 1}, {0.05f, 1}}) {
    bool done = false;
    for (size_t k = 1; !done && k < 400; ++k) {
      PIXR* src = from_ref(bm);
      const size_t before = alloc.live_blocks();
      PIXR* out = nullptr;
      alloc.fail_at(k);
      const VltStatus st = w_rotateArb(s, src, angle, keep, 0, &out);
      alloc.fail_at(0);
      done = st == VLT_OK;
      if (!done && st != VLT_ERR_NOMEM) ADD_FAILURE() << angle << " " << keep << " k " << k << " status " << st;
      if (done) {
        destroy(out);
      } else {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(alloc.live_blocks(), before);
      }
      destroy(src);
    }
    EXPECT_TRUE(done) << angle << " " << keep;
  }
  // In place, a refused allocation leaves the image as it was.
  PIXR* src = from_ref(bm);
  PIXR* self = src;
  alloc.fail_at(1);
  EXPECT_EQ(w_rotateArb(s, src, 0.3f, 1, 0, &self), VLT_ERR_NOMEM);
  alloc.fail_at(0);
  EXPECT_EQ(monotest::first_difference(bm, to_ref(src)), "");
  destroy(src);
}

}  // namespace
