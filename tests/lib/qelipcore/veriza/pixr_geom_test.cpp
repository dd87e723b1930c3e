// Rescaling to a size, orthogonal rotation and skew sampling of wrapper images.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pixr_fixture.h"
#include "pixr_geom.h"
#include "ref_rescale.h"

namespace {

using monotest::RefBitmap;
using pixrtest::kDpi300;
using pixrtest::WrapperTest;

// A plain image of any depth as values.
struct Values {
  int w = 0, h = 0, depth = 1;
  std::vector<uint32_t> v;
  uint32_t at(int x, int y) const { return v[size_t(y) * w + x]; }
  bool operator==(const Values&) const = default;
};

Values random_values(int w, int h, int depth, uint32_t seed) {
  std::mt19937 rng(seed);
  Values r{w, h, depth, {}};
  for (int i = 0; i < w * h; ++i) r.v.push_back(rng() & ((1u << depth) - 1u));
  return r;
}

class GeomTest : public WrapperTest {
 protected:
  void fill(PIXR* p, const Values& val) {
    for (int y = 0; y < val.h; ++y)
      for (int x = 0; x < val.w; ++x) mono::set_pixel(line(p, y), size_t(x), unsigned(val.depth), val.at(x, y));
  }
  PIXR* from_values(const Values& val) {
    PIXR* p = make(val.w, val.h, val.depth);
    fill(p, val);
    return p;
  }
  static Values values(PIXR* p) {
    Values r{p->width, p->height, p->depth, {}};
    for (int y = 0; y < p->height; ++y)
      for (int x = 0; x < p->width; ++x) r.v.push_back(mono::get_pixel(line(p, y), size_t(x), unsigned(p->depth)));
    return r;
  }
  // Set pixels of any depth in the frame (the operations must not take them as image pixels).
  static long frame_nonzero(const PIXR* p) {
    long n = 0;
    const int32_t fw = p->width + 64, fh = p->height + 64;
    for (int32_t y = 0; y < fh; ++y)
      for (int32_t x = 0; x < fw; ++x)
        if ((x < 32 || y < 32 || x >= fw - 32 || y >= fh - 32) && framed_pixel(p, x, y) != 0) ++n;
    return n;
  }
  PIXR* composite(const std::vector<Values>& channels) {
    std::vector<PIXR*> c;
    for (const Values& v : channels) c.push_back(from_values(v));
    PIXR* p = nullptr;
    EXPECT_EQ(w_createPixrComposite(s, c.data(), int32_t(c.size()), 4, &p), VLT_OK);
    return p;
  }
};

Values nearest(const Values& src, int w, int h) {
  Values r{w, h, src.depth, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      r.v.push_back(src.at(int(monotest::nearest_source(x, src.w, w)), int(monotest::nearest_source(y, src.h, h))));
  return r;
}

// ---- Rescaling

TEST_F(GeomTest, ScaleToSizeSamplesTheNearestPixel) {
  std::mt19937 rng(7);
  for (int round = 0; round < 30; ++round) {
    const int depth = round % 3 == 0 ? 1 : round % 3 == 1 ? 4 : 8;
    const int w = 1 + int(rng() % 120), h = 1 + int(rng() % 50);
    const int dw = 1 + int(rng() % 150), dh = 1 + int(rng() % 60);
    const Values src = random_values(w, h, depth, uint32_t(round));
    PIXR* p = from_values(src);
    PIXR* out = nullptr;
    ASSERT_EQ(w_scaleToSize(s, p, dw, dh, &out), VLT_OK);
    EXPECT_EQ(values(out), nearest(src, dw, dh)) << w << "x" << h << " -> " << dw << "x" << dh << " at " << depth;
    EXPECT_EQ(frame_nonzero(out), 0);
    destroy(out);
    destroy(p);
  }
  // The 1-bit reference of the support library, on a page-like image.
  const RefBitmap page = monotest::make_text_blobs(300, 200, 4);
  PIXR* p = from_ref(page);
  PIXR* out = nullptr;
  ASSERT_EQ(w_scaleToSize(s, p, 211, 333, &out), VLT_OK);
  EXPECT_EQ(monotest::first_difference(monotest::scale_nearest_naive(page, 211, 333), to_ref(out)), "");
  destroy(out);
  destroy(p);
}

TEST_F(GeomTest, ScaleToSizeResolutionCopyAndChannels) {
  PIXR* p = make(1000, 10);
  PIXR* out = nullptr;
  ASSERT_EQ(w_scaleToSize(s, p, 500, 10, &out), VLT_OK);
  EXPECT_EQ(out->xRes, 150 << 16);
  EXPECT_EQ(out->yRes, kDpi300);
  destroy(out);
  // A zero size makes the destination and scales nothing.
  ASSERT_EQ(w_scaleToSize(s, p, 0, 10, &out), VLT_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->width, 0);
  destroy(out);
  destroy(p);

  const Values a = random_values(37, 21, 8, 1);
  p = from_values(a);
  ASSERT_EQ(w_scaleToSize(s, p, 37, 21, &out), VLT_OK);
  EXPECT_EQ(values(out), a);
  destroy(out);
  destroy(p);

  const std::vector<Values> rgb{random_values(40, 30, 8, 2), random_values(40, 30, 8, 3), random_values(40, 30, 8, 4)};
  p = composite(rgb);
  ASSERT_EQ(w_scaleToSize(s, p, 63, 17, &out), VLT_OK);
  ASSERT_EQ(out->channelCount, 3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(values(out->channels[c]), nearest(rgb[size_t(c)], 63, 17)) << c;
  destroy(out);
  destroy(p);
}

TEST_F(GeomTest, TablesAndRectangles) {
  const Values src = random_values(90, 70, 4, 11);
  PIXR* p = from_values(src);
  void* tables = nullptr;
  ASSERT_EQ(w_makeScaleToSizeTables(s, p, 130, 50, &tables), VLT_OK);
  const Values whole = nearest(src, 130, 50);
  // Four rectangles that tile the scaled image.
  for (const IPRect r : {IPRect{nullptr, nullptr, 0, 0, 70, 20}, IPRect{nullptr, nullptr, 70, 0, 60, 20},
                         IPRect{nullptr, nullptr, 0, 20, 130, 29}, IPRect{nullptr, nullptr, 0, 49, 130, 1}}) {
    PIXR* out = nullptr;
    ASSERT_EQ(w_scaleToSizeRect(s, p, &r, tables, &out), VLT_OK);
    const Values got = values(out);
    ASSERT_EQ(got.w, r.width);
    ASSERT_EQ(got.h, r.height);
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x) ASSERT_EQ(got.at(x, y), whole.at(r.x + x, r.y + y));
    EXPECT_EQ(out->xRes, 300 * 130 / 90 << 16);
    destroy(out);
  }
  // Empty and out-of-range rectangles make nothing.
  PIXR* out = nullptr;
  const IPRect empty{nullptr, nullptr, 3, 3, 0, 5};
  EXPECT_EQ(w_scaleToSizeRect(s, p, &empty, tables, &out), VLT_OK);
  EXPECT_EQ(out, nullptr);
  const IPRect beyond{nullptr, nullptr, 1, 0, 130, 5};
  EXPECT_EQ(w_scaleToSizeRect(s, p, &beyond, tables, &out), VLT_ERR_PARAM);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w_scaleToSizeRect(s, p, nullptr, tables, &out), VLT_ERR_NULL);
  ASSERT_EQ(w_destroyScaleToSizeTables(s, &tables), VLT_OK);
  EXPECT_EQ(tables, nullptr);
  destroy(p);
}

TEST_F(GeomTest, LinearScaling) {
  // A flat picture stays flat; equal sizes copy; channels scale as single images do.
  Values flat{50, 40, 8, std::vector<uint32_t>(2000, 200)};
  PIXR* p = from_values(flat);
  PIXR* out = nullptr;
  ASSERT_EQ(w_scaleLinearSize(s, p, 77, 23, &out), VLT_OK);
  EXPECT_EQ(values(out), (Values{77, 23, 8, std::vector<uint32_t>(77 * 23, 200)}));
  EXPECT_EQ(frame_nonzero(out), 0);
  EXPECT_EQ(frame_nonzero(p), 0) << "the borrowed source frame was not given back";
  destroy(out);
  destroy(p);

  const std::vector<Values> rgb{random_values(33, 19, 8, 5), random_values(33, 19, 8, 6), random_values(33, 19, 8, 7)};
  p = composite(rgb);
  ASSERT_EQ(w_scaleLinearSize(s, p, 33, 19, &out), VLT_OK);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(values(out->channels[c]), rgb[size_t(c)]);
  destroy(out);
  ASSERT_EQ(w_scaleLinearSize(s, p, 51, 12, &out), VLT_OK);
  for (int c = 0; c < 3; ++c) {
    PIXR* single = from_values(rgb[size_t(c)]);
    PIXR* one = nullptr;
    ASSERT_EQ(w_scaleLinearSize(s, single, 51, 12, &one), VLT_OK);
    EXPECT_EQ(values(out->channels[c]), values(one)) << c;
    destroy(one);
    destroy(single);
  }
  destroy(out);
  destroy(p);
  PIXR* bilevel = make(10, 10);
  EXPECT_EQ(w_scaleLinearSize(s, bilevel, 5, 5, &out), VLT_ERR_PIXR_DEPTH);
  destroy(bilevel);
}

TEST_F(GeomTest, MaskedAreaKeepsTheSmallestValue) {
  const int W = 64, H = 9;  // the width a whole number of words, so the frame column is next
  const Values src = random_values(W, H, 8, 21);
  RefBitmap mask = monotest::make_noise(W, H, 0.6, 22);
  for (int y = 0; y < H; ++y) mask.set(W - 1, y, 1);
  PIXR* m = from_ref(mask);
  // A set pixel in the frame right of the mask's last column is no part of the mask.
  for (int y = 0; y < H; ++y) mono::set_bit(line(m, y), size_t(W), 1);
  PIXR* v = from_values(src);
  for (int y = 0; y < H; ++y) line(v, y)[W] = 3;
  PIXR* d = make(40, 8, 8);
  Values before = random_values(40, 8, 8, 23);
  for (uint32_t& x : before.v) x = x % 4 == 0 ? x % 2 : x;  // some empty (0, 1) pixels
  fill(d, before);
  ASSERT_EQ(w_scaleMaskedArea(s, m, v, 0.5f, 0.5f, 0, d), VLT_OK);
  Values want = before;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (!mask.get(x, y)) continue;
      const int dx = std::min(x / 2, 39), dy = std::min(int(y * 0.5 + 0.5), 7);
      const uint32_t value = std::max<uint32_t>(src.at(x, y), 2);
      uint32_t& t = want.v[size_t(dy) * 40 + dx];
      if (t < 2 || t > value) t = value;
    }
  EXPECT_EQ(values(d), want);

  // Destination line 0 takes source line 0 only, line r lines 2r - 1 and 2r.
  Values flatDst{40, 8, 8, std::vector<uint32_t>(320, 0)};
  fill(d, flatDst);
  Values ramp{W, H, 8, {}};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) ramp.v.push_back(uint32_t(10 + 20 * y + (x & 1)));
  fill(v, ramp);
  RefBitmap all(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) all.set(x, y, 1);
  PIXR* full = from_ref(all);
  ASSERT_EQ(w_scaleMaskedArea(s, full, v, 0.5f, 0.5f, 0, d), VLT_OK);
  const Values got = values(d);
  for (int r = 0; r < 5; ++r) EXPECT_EQ(got.at(5, r), uint32_t(10 + 20 * std::max(2 * r - 1, 0))) << r;
  EXPECT_EQ(got.at(5, 5), 0u);

  // Offsets and factors that point before the destination stay inside it.
  ASSERT_EQ(w_scaleMaskedArea(s, full, v, -1.0f, 0.5f, -100, d), VLT_OK);
  EXPECT_EQ(w_scaleMaskedArea(s, full, v, 0.5f, 0.5f, 0, nullptr), VLT_ERR_NULL);
  PIXR* narrow = make(W - 1, H);
  EXPECT_EQ(w_scaleMaskedArea(s, narrow, v, 0.5f, 0.5f, 0, d), VLT_ERR_DIMS_MISMATCH);
  destroy(narrow);
  destroy(full);
  destroy(d);
  destroy(v);
  destroy(m);
}

// ---- Orthogonal rotation

TEST_F(GeomTest, QuarterAndHalfTurnsAtEveryDepth) {
  std::mt19937 rng(3);
  for (int round = 0; round < 16; ++round) {
    const int depth = 1 << (round % 4);
    const int w = 1 + int(rng() % 100), h = 1 + int(rng() % 70);
    const Values src = random_values(w, h, depth, uint32_t(round));
    PIXR* p = from_values(src);
    PIXR* r90 = nullptr;
    PIXR* r270 = nullptr;
    PIXR* back = nullptr;
    PIXR* half = nullptr;
    ASSERT_EQ(w_rotate90(s, p, &r90), VLT_OK);
    const Values v90 = values(r90);
    ASSERT_EQ(v90.w, h);
    ASSERT_EQ(v90.h, w);
    for (int y = 0; y < v90.h; ++y)
      for (int x = 0; x < v90.w; ++x) ASSERT_EQ(v90.at(x, y), src.at(y, h - 1 - x));
    ASSERT_EQ(w_rotate270(s, r90, &back), VLT_OK);
    EXPECT_EQ(values(back), src);
    ASSERT_EQ(w_rotate270(s, p, &r270), VLT_OK);
    ASSERT_EQ(w_rotate180(s, p, &half), VLT_OK);
    const Values v180 = values(half);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(v180.at(x, y), src.at(w - 1 - x, h - 1 - y));
    // Two more quarter turns from 90 reach 270; the half turn in place twice is the identity.
    PIXR* r180 = nullptr;
    PIXR* r270b = nullptr;
    ASSERT_EQ(w_rotate90(s, r90, &r180), VLT_OK);
    EXPECT_EQ(values(r180), v180);
    ASSERT_EQ(w_rotate90(s, r180, &r270b), VLT_OK);
    EXPECT_EQ(values(r270b), values(r270));
    ASSERT_EQ(w_rotate180InPlace(s, half), VLT_OK);
    EXPECT_EQ(values(half), src);
    for (PIXR* q : {r90, r270, back, half, r180, r270b}) EXPECT_EQ(frame_nonzero(q), 0);
    for (PIXR* q : {r90, r270, back, half, r180, r270b, p}) destroy(q);
  }
}

TEST_F(GeomTest, RotationGeometryDestinationsAndChannels) {
  PIXR* p = nullptr;
  ASSERT_EQ(w_createPixr(s, 100, 40, 1, kDpi300, 200 << 16, 32, &p), VLT_OK);
  PIXR* out = nullptr;
  ASSERT_EQ(w_rotate90(s, p, &out), VLT_OK);
  EXPECT_EQ(out->width, 40);
  EXPECT_EQ(out->height, 100);
  EXPECT_EQ(out->xRes, 200 << 16);
  EXPECT_EQ(out->yRes, kDpi300);
  destroy(out);
  PIXR* self = p;
  EXPECT_EQ(w_rotate90(s, p, &self), VLT_ERR_PARAM);
  EXPECT_EQ(self, p);
  EXPECT_EQ(w_rotate270(s, nullptr, &out), VLT_ERR_NULL);
  EXPECT_EQ(w_rotate180InPlace(s, nullptr), VLT_ERR_PIXR_NULL);
  destroy(p);

  // The half turn onto the source itself, and a given destination a few pixels smaller than the
  // result: it receives the result's part that fits and keeps a blank frame.
  const RefBitmap bm = monotest::make_noise(70, 50, 0.5, 6);
  p = from_ref(bm);
  PIXR* small = make(47, 67);
  PIXR* place = small;
  ASSERT_EQ(w_rotate90(s, p, &place), VLT_OK);
  const RefBitmap got = to_ref(small);
  for (int y = 0; y < 67; ++y)
    for (int x = 0; x < 47; ++x) ASSERT_EQ(got.get(x, y), bm.get(y, 49 - x));
  EXPECT_EQ(frame_ones(small), 0);
  destroy(small);
  self = p;
  ASSERT_EQ(w_rotate180(s, p, &self), VLT_OK);
  const RefBitmap turned = to_ref(p);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 70; ++x) ASSERT_EQ(turned.get(x, y), bm.get(69 - x, 49 - y));
  destroy(p);

  const std::vector<Values> rgb{random_values(30, 20, 8, 1), random_values(30, 20, 8, 2), random_values(30, 20, 8, 3)};
  p = composite(rgb);
  ASSERT_EQ(w_rotate270(s, p, &out), VLT_OK);
  ASSERT_EQ(out->channelCount, 3);
  for (int c = 0; c < 3; ++c) {
    const Values v = values(out->channels[c]);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(v.at(x, y), rgb[size_t(c)].at(29 - y, x));
  }
  destroy(out);
  destroy(p);
}

TEST_F(GeomTest, QuarterTurnsInPlace) {
  for (const int depth : {1, 8}) {
    for (const bool ninety : {true, false}) {
      const Values src = random_values(90, 37, depth, uint32_t(depth + ninety));
      PIXR* p = nullptr;
      ASSERT_EQ(w_createPixr(s, 90, 37, depth, kDpi300, 150 << 16, 32, &p), VLT_OK);
      fill(p, src);
      PIXR* copy = nullptr;
      ASSERT_EQ((ninety ? w_rotate90 : w_rotate270)(s, p, &copy), VLT_OK);
      // Wide enough for a band of whole long accesses, as high as the image is wide.
      PIXR* scratch = make(300, 100, depth);
      ASSERT_EQ((ninety ? w_rotate90InPlace : w_rotate270InPlace)(s, p, scratch), VLT_OK);
      EXPECT_EQ(p->width, 37);
      EXPECT_EQ(p->height, 90);
      EXPECT_EQ(p->xRes, 150 << 16);
      EXPECT_EQ(p->yRes, kDpi300);
      EXPECT_EQ(values(p), values(copy));
      EXPECT_EQ(frame_nonzero(p), 0);
      EXPECT_EQ((ninety ? w_rotate90InPlace : w_rotate270InPlace)(s, p, nullptr), VLT_ERR_NULL);
      EXPECT_EQ((ninety ? w_rotate90InPlace : w_rotate270InPlace)(s, p, p), VLT_ERR_PARAM);
      destroy(scratch);
      destroy(copy);
      destroy(p);
    }
  }
}

// ---- Skew sampling

TEST_F(GeomTest, SkewOfTurnedPages) {
  const RefBitmap page = monotest::make_text_blobs(1400, 1000, 12);
  for (const double angle : {-0.04, -0.015, 0.0, 0.01, 0.03}) {
    PIXR* p = from_ref(monotest::turned(page, angle));
    int32_t confidence = -1;
    float found = 1.0f;
    ASSERT_EQ(w_findSkewSample(s, p, 2, &confidence, &found), VLT_OK);
    // Lines turned clockwise fall to the right, which the detector reports as a negative skew.
    EXPECT_NEAR(found, -angle, 0.003) << angle;
    EXPECT_GE(confidence, 50) << angle;
    destroy(p);
  }
}

TEST_F(GeomTest, SkewArgumentsAndBlankPages) {
  PIXR* p = make(300, 200);
  int32_t confidence = -1;
  float angle = 1.0f;
  EXPECT_EQ(w_findSkewSample(s, p, 3, &confidence, &angle), VLT_ERR_PARAM);
  EXPECT_EQ(angle, 0.0f);
  angle = 1.0f;
  ASSERT_EQ(w_findSkewSample(s, p, 4, &confidence, &angle), VLT_OK);
  EXPECT_EQ(angle, 0.0f);
  EXPECT_EQ(confidence, 0);
  ASSERT_EQ(w_pixrSetResolutionDPI(s, p, 0, 0), VLT_OK);
  EXPECT_EQ(w_findSkewSample(s, p, 1, &confidence, &angle), VLT_OK);
  ASSERT_EQ(w_pixrSetResolutionDPI(s, p, kDpi300, 0), VLT_OK);
  EXPECT_EQ(w_findSkewSample(s, p, 1, &confidence, &angle), VLT_ERR_PARAM);
  EXPECT_EQ(w_findSkewSample(s, p, 1, nullptr, &angle), VLT_ERR_NULL);
  destroy(p);
  PIXR* deep = make(30, 30, 8);
  EXPECT_EQ(w_findSkewSample(s, deep, 1, &confidence, &angle), VLT_ERR_PIXR_DEPTH);
  destroy(deep);
}

}  // namespace
