// Morphology and thinning of wrapper images against the naive references.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pixr_fixture.h"
#include "pixr_morph.h"
#include "ref_morph.h"
#include "strel.h"

namespace {

using monotest::RefBitmap;
using monotest::RefElement;
using pixrtest::WrapperTest;

class MorphTest : public WrapperTest {
 protected:
  strel* element(const RefElement& r) {
    strel* e = nullptr;
    EXPECT_EQ(w_createStrel(s, r.width, r.height, &e), VLT_OK);
    EXPECT_EQ(w_strelSetCenter(s, r.cx, r.cy, e), VLT_OK);
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x) EXPECT_EQ(w_strelSetPoint(s, x, y, r.at(x, y), e), VLT_OK);
    return e;
  }
  void drop(strel*& e) { EXPECT_EQ(w_destroyStrel(s, &e), VLT_OK); }

  // Noise in the frame of a record: the operations must treat everything outside as clear.
  static void noisy_frame(PIXR* p, std::mt19937& rng) {
    const int32_t fw = p->width + 64, fh = p->height + 64;
    for (int32_t y = 0; y < fh; ++y)
      for (int32_t x = 0; x < fw; ++x)
        if ((x < 32 || y < 32 || x >= fw - 32 || y >= fh - 32) && (rng() & 1))
          mono::set_bit(p->imageAll + size_t(y) * p->bytesPerLine, size_t(x), 1);
  }
  static void clear_frame(PIXR* p) {
    const int32_t fw = p->width + 64, fh = p->height + 64;
    for (int32_t y = 0; y < fh; ++y)
      for (int32_t x = 0; x < fw; ++x)
        if (x < 32 || y < 32 || x >= fw - 32 || y >= fh - 32)
          mono::set_bit(p->imageAll + size_t(y) * p->bytesPerLine, size_t(x), 0);
  }
};

RefElement random_element(std::mt19937& rng) {
  RefElement e;
  e.width = 1 + int(rng() % 6);
  e.height = 1 + int(rng() % 6);
  e.cx = int(rng() % unsigned(e.width));
  e.cy = int(rng() % unsigned(e.height));
  for (int i = 0; i < e.width * e.height; ++i) e.cells.push_back(uint8_t(rng() % 3));
  return e;
}

TEST_F(MorphTest, DilationAndErosionMatchTheReference) {
  std::mt19937 rng(18);
  for (int round = 0; round < 60; ++round) {
    const RefElement r = random_element(rng);
    const int w = 1 + int(rng() % 90), h = 1 + int(rng() % 40);
    const RefBitmap bm = monotest::make_noise(w, h, 0.2 + 0.6 * (round % 3) / 2.0, uint32_t(round));
    PIXR* src = from_ref(bm);
    noisy_frame(src, rng);
    strel* e = element(r);
    for (const bool dilate : {true, false}) {
      const RefBitmap want = dilate ? monotest::dilate_naive(bm, r) : monotest::erode_naive(bm, r);
      const auto op = dilate ? w_dilate : w_erode;
      // Into a new image and into a given one holding other pixels.
      PIXR* fresh = nullptr;
      ASSERT_EQ(op(s, src, e, &fresh), VLT_OK);
      PIXR* given = from_ref(monotest::make_noise(w, h, 0.5, 99));
      PIXR* place = given;
      ASSERT_EQ(op(s, src, e, &place), VLT_OK);
      EXPECT_EQ(place, given);
      for (PIXR* got : {fresh, given}) {
        EXPECT_EQ(monotest::first_difference(want, to_ref(got)), "")
            << (dilate ? "dilate" : "erode") << " round " << round << " element " << r.width << "x" << r.height
            << " centre " << r.cx << "," << r.cy;
        EXPECT_EQ(frame_ones(got), 0);
      }
      destroy(fresh);
      destroy(given);
    }
    drop(e);
    clear_frame(src);
    destroy(src);
  }
}

// The listed cases, under the rule that pixels outside the image are clear for every cell.
TEST_F(MorphTest, ListedCases) {
  ASSERT_EQ(w_initStrelByName(s, 40), VLT_OK);
  strel* square = nullptr;
  ASSERT_EQ(w_getStrel(s, 40, &square), VLT_OK);

  RefBitmap dot(30, 30);
  dot.set(10, 10, 1);
  PIXR* src = from_ref(dot);
  PIXR* out = nullptr;
  ASSERT_EQ(w_dilate(s, src, square, &out), VLT_OK);
  RefBitmap want(30, 30);
  for (const auto& [x, y] : {std::pair{10, 10}, {11, 10}, {10, 11}, {11, 11}}) want.set(x, y, 1);
  EXPECT_EQ(monotest::first_difference(want, to_ref(out)), "");
  destroy(out);
  destroy(src);

  const RefBitmap noise = monotest::make_noise(37, 23, 0.7, 5);
  src = from_ref(noise);
  ASSERT_EQ(w_erode(s, src, square, &out), VLT_OK);
  RefBitmap got = to_ref(out);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) {
      const auto at = [&](int xx, int yy) { return xx < 37 && yy < 23 && noise.get(xx, yy); };
      EXPECT_EQ(got.get(x, y), at(x, y) && at(x + 1, y) && at(x, y + 1) && at(x + 1, y + 1)) << x << "," << y;
    }
  destroy(out);

  // A miss alone at the centre inverts.
  RefElement missOnly{3, 3, 1, 1, std::vector<uint8_t>(9, 0)};
  missOnly.cells[4] = 2;
  strel* e = element(missOnly);
  ASSERT_EQ(w_erode(s, src, e, &out), VLT_OK);
  got = to_ref(out);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) EXPECT_NE(got.get(x, y), noise.get(x, y));
  destroy(out);
  drop(e);

  // A vertical pair: the second cell looks below the last line (centre at the top) and the
  // first above the first line (centre at the bottom); both find a clear pixel there.
  for (const int cy : {0, 1}) {
    e = element(RefElement{1, 2, 0, cy, {1, 1}});
    ASSERT_EQ(w_erode(s, src, e, &out), VLT_OK);
    got = to_ref(out);
    const int edge = cy == 0 ? 22 : 0;
    for (int x = 0; x < 37; ++x) EXPECT_EQ(got.get(x, edge), 0) << x;
    destroy(out);
    drop(e);
  }
  destroy(src);
  ASSERT_EQ(w_releaseStrelByName(s, nullptr, 40), VLT_OK);
}

TEST_F(MorphTest, InPlaceAndProgramCache) {
  const RefBitmap bm = monotest::make_text_blobs(120, 60, 3);
  const RefElement r{3, 2, 1, 0, {1, 2, 1, 0, 1, 0}};
  strel* e = element(r);
  EXPECT_EQ(e->generate, 1u);
  for (const bool dilate : {true, false}) {
    PIXR* src = from_ref(bm);
    PIXR* place = src;
    ASSERT_EQ((dilate ? w_dilate : w_erode)(s, src, e, &place), VLT_OK);
    EXPECT_EQ(place, src);
    EXPECT_EQ(monotest::first_difference(dilate ? monotest::dilate_naive(bm, r) : monotest::erode_naive(bm, r),
                                         to_ref(src)),
              "");
    EXPECT_EQ(e->generate, 0u);
    EXPECT_EQ(e->dilateProgram, nullptr);
    EXPECT_EQ(e->longDilateProgram, nullptr);
    EXPECT_EQ(e->erodeProgram, nullptr);
    destroy(src);
  }
  uint32_t handle = 7;
  EXPECT_EQ(w_genErodeAsm(s, e, &handle), VLT_OK);
  EXPECT_EQ(e->erodeProgram, nullptr);
  EXPECT_EQ(w_genLongDilateAsm(s, e, nullptr), VLT_ERR_NULL);
  drop(e);
}

TEST_F(MorphTest, DestinationsOfOtherSizesAndRefusals) {
  const RefBitmap bm = monotest::make_noise(50, 20, 0.5, 8);
  PIXR* src = from_ref(bm);
  const RefElement r{2, 2, 0, 0, {1, 1, 1, 1}};
  strel* e = element(r);

  // A larger destination: the columns and lines beyond the source end clear.
  PIXR* wide = from_ref(monotest::make_noise(57, 26, 1.0, 1));
  PIXR* place = wide;
  ASSERT_EQ(w_dilate(s, src, e, &place), VLT_OK);
  const RefBitmap want = monotest::dilate_naive(bm, r);
  const RefBitmap got = to_ref(wide);
  for (int y = 0; y < 26; ++y)
    for (int x = 0; x < 57; ++x) ASSERT_EQ(got.get(x, y), x < 50 && y < 20 && want.get(x, y)) << x << "," << y;
  destroy(wide);

  // Refusals leave the place as it was.
  PIXR* deep = make(20, 20, 2);
  PIXR* keep = nullptr;
  EXPECT_EQ(w_dilate(s, deep, e, &keep), VLT_ERR_PIXR_DEPTH);
  EXPECT_EQ(keep, nullptr);
  PIXR* tooSmall = make(10, 10);
  keep = tooSmall;
  EXPECT_EQ(w_erode(s, src, e, &keep), VLT_ERR_DIMENSIONS);
  EXPECT_EQ(keep, tooSmall);
  EXPECT_EQ(w_open(s, src, nullptr, &keep), VLT_ERR_NULL);
  EXPECT_EQ(w_thin8(s, src, nullptr), VLT_ERR_NULL);
  keep = tooSmall;
  EXPECT_EQ(w_thin8(s, src, &keep), VLT_ERR_DIMENSIONS);
  destroy(tooSmall);
  destroy(deep);
  drop(e);
  destroy(src);
}

// A single cell that neither hits (dilation) nor hits or misses (erosion) sets the whole result
// as any element without such cells does; a destination never keeps old pixels.
TEST_F(MorphTest, SingleCellElements) {
  const RefBitmap bm = monotest::make_noise(45, 17, 0.4, 4);
  RefBitmap inverse = bm;
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) inverse.set(x, y, !bm.get(x, y));
  const RefBitmap clear(45, 17);
  RefBitmap full(45, 17);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 45; ++x) full.set(x, y, 1);
  struct Case {
    bool dilate;
    uint8_t cell;
    const RefBitmap* want;
  };
  const Case cases[] = {{true, 0, &clear}, {true, 1, &bm},      {true, 2, &clear},
                        {false, 0, &full}, {false, 1, &bm},     {false, 2, &inverse}};
  for (const Case& c : cases) {
    strel* e = element(RefElement{1, 1, 0, 0, {c.cell}});
    const auto op = c.dilate ? w_dilate : w_erode;
    PIXR* src = from_ref(bm);
    PIXR* fresh = nullptr;
    ASSERT_EQ(op(s, src, e, &fresh), VLT_OK);
    PIXR* given = from_ref(monotest::make_noise(45, 17, 0.5, 77));
    PIXR* place = given;
    ASSERT_EQ(op(s, src, e, &place), VLT_OK);
    PIXR* self = src;
    ASSERT_EQ(op(s, src, e, &self), VLT_OK);
    for (PIXR* got : {fresh, given, src})
      EXPECT_EQ(monotest::first_difference(*c.want, to_ref(got)), "") << c.dilate << " cell " << int(c.cell);
    destroy(fresh);
    destroy(given);
    destroy(src);
    drop(e);
  }
}

TEST_F(MorphTest, OpeningAndClosing) {
  const RefBitmap bm = monotest::make_text_blobs(150, 70, 9);
  const RefElement r{3, 3, 1, 1, {0, 1, 0, 1, 1, 1, 0, 1, 0}};
  strel* e = element(r);
  for (const bool opening : {true, false}) {
    const RefBitmap want = opening ? monotest::dilate_naive(monotest::erode_naive(bm, r), r)
                                   : monotest::erode_naive(monotest::dilate_naive(bm, r), r);
    PIXR* src = from_ref(bm);
    PIXR* out = nullptr;
    ASSERT_EQ((opening ? w_open : w_close)(s, src, e, &out), VLT_OK);
    EXPECT_EQ(monotest::first_difference(want, to_ref(out)), "");
    PIXR* self = src;
    ASSERT_EQ((opening ? w_open : w_close)(s, src, e, &self), VLT_OK);
    EXPECT_EQ(monotest::first_difference(want, to_ref(src)), "");
    destroy(out);
    destroy(src);
  }
  drop(e);
}

TEST_F(MorphTest, ThinningListedCases) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> on;    // set pixels before
    std::vector<std::pair<int, int>> kept;  // set pixels after
  };
  std::vector<Case> cases;
  {
    Case bar{"bar 5 x 20", {}, {}};
    for (int y = 10; y < 15; ++y)
      for (int x = 10; x < 30; ++x) bar.on.push_back({x, y});
    bar.kept = {{10, 10}, {29, 10}};
    for (int y = 11; y < 14; ++y)
      for (int x = 11; x < 29; ++x) bar.kept.push_back({x, y});
    bar.kept.push_back({11, 14});
    bar.kept.push_back({29, 14});
    cases.push_back(bar);
  }
  {
    Case bar{"bar 2 x 20", {}, {{10, 10}, {29, 10}}};
    for (int y = 10; y < 12; ++y)
      for (int x = 10; x < 30; ++x) bar.on.push_back({x, y});
    for (int x = 11; x < 30; ++x) bar.kept.push_back({x, 11});
    cases.push_back(bar);
  }
  cases.push_back({"single pixel", {{20, 12}}, {{20, 12}}});
  cases.push_back({"empty", {}, {}});
  for (const Case& c : cases) {
    RefBitmap bm(40, 25), want(40, 25);
    for (const auto& [x, y] : c.on) bm.set(x, y, 1);
    for (const auto& [x, y] : c.kept) want.set(x, y, 1);
    PIXR* src = from_ref(bm);
    PIXR* out = nullptr;
    ASSERT_EQ(w_thin8(s, src, &out), VLT_OK) << c.name;
    EXPECT_EQ(monotest::first_difference(want, to_ref(out)), "") << c.name;
    EXPECT_EQ(monotest::first_difference(bm, to_ref(src)), "") << c.name << ": source changed";
    destroy(out);
    destroy(src);
  }
}

TEST_F(MorphTest, ThinningMatchesTheReferenceInEveryPlace) {
  for (uint32_t seed = 0; seed < 6; ++seed) {
    const RefBitmap bm = seed % 2 ? monotest::make_text_blobs(130, 50, seed) : monotest::make_noise(71, 33, 0.55, seed);
    const RefBitmap want = monotest::thin8_naive(bm);
    PIXR* src = from_ref(bm);
    PIXR* fresh = nullptr;
    ASSERT_EQ(w_thin8(s, src, &fresh), VLT_OK);
    PIXR* given = from_ref(monotest::make_noise(bm.width, bm.height, 0.5, 3));
    PIXR* place = given;
    ASSERT_EQ(w_thin8(s, src, &place), VLT_OK);
    PIXR* self = src;
    ASSERT_EQ(w_thin8(s, src, &self), VLT_OK);
    for (PIXR* got : {fresh, given, src}) {
      EXPECT_EQ(monotest::first_difference(want, to_ref(got)), "") << "seed " << seed;
      EXPECT_EQ(frame_ones(got), 0);
    }
    destroy(fresh);
    destroy(given);
    destroy(src);
  }
}

// Every allocation of a call failing in turn: the call reports it, frees what it made and
// leaves the place alone (thinning keeps the copy it stored there).
TEST_F(MorphTest, FailedAllocationsLeaveNothingBehind) {
  const RefBitmap bm = monotest::make_text_blobs(90, 40, 2);
  const RefElement r{3, 3, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1}};
  enum Kind { DilateNew, DilateInPlace, Open, ThinNew };
  for (const Kind kind : {DilateNew, DilateInPlace, Open, ThinNew}) {
    bool succeeded = false;
    for (size_t k = 1; !succeeded && k < 200; ++k) {
      PIXR* src = from_ref(bm);
      strel* e = element(r);
      const size_t before = alloc.live_blocks();
      PIXR* place = kind == DilateInPlace ? src : nullptr;
      alloc.fail_at(k);
      VltStatus st = VLT_OK;
      switch (kind) {
        case DilateNew: st = w_dilate(s, src, e, &place); break;
        case DilateInPlace: st = w_dilate(s, src, e, &place); break;
        case Open: st = w_open(s, src, e, &place); break;
        case ThinNew: st = w_thin8(s, src, &place); break;
      }
      alloc.fail_at(0);
      succeeded = st == VLT_OK;
      if (!succeeded) {
        EXPECT_EQ(st, VLT_ERR_NOMEM) << kind << " k " << k;
        if (kind == ThinNew && place != nullptr) destroy(place);
        EXPECT_EQ(place, kind == DilateInPlace ? src : nullptr);
        EXPECT_EQ(alloc.live_blocks(), before) << kind << " k " << k;
      } else if (kind != DilateInPlace) {
        destroy(place);
      }
      destroy(src);
      drop(e);
    }
    EXPECT_TRUE(succeeded) << kind;
  }
}

}  // namespace
