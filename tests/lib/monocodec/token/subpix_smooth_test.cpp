// Half-pixel alignment, the interpolators behind it, and token smoothing from grey instances.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "byteorder.h"
#include "tok_bufcc.h"
#include "tok_fixture.h"
#include "tok_pagecc.h"
#include "tok_smooth.h"
#include "tok_subpix.h"
#include "tok_tokrec.h"

namespace toktest {
namespace {

struct InterpolationTest : TokTest {};

TEST_F(InterpolationTest, ExactAndNevilleAgreeThroughThreePoints) {
  const double xa[] = {0, 1, 2}, ya[] = {1, 3, 2};
  const struct {
    double x, value;
  } cases[] = {{0.5, 2.375}, {0.0, 1.0}, {1.0, 3.0}, {2.0, 2.0}, {1.5, 2.875}, {3.0, -2.0}};
  for (const auto& c : cases) {
    double v = 0, e = 1;
    pInter1dExact(xa, ya, 3, c.x, &v, &e);
    EXPECT_DOUBLE_EQ(v, c.value) << c.x;
    EXPECT_EQ(e, 0.0);
    double nv = 0, ne = 0;
    ASSERT_EQ(pInter1d(engine, xa, ya, 3, c.x, &nv, &ne), VLT_OK);
    EXPECT_NEAR(nv, c.value, 1e-12) << c.x;
  }
}

TEST_F(InterpolationTest, NevilleRefusesCoincidingAbscissaeAndBadArguments) {
  const double xa[] = {0, 1, 1}, ya[] = {1, 3, 2};
  double v = 0, e = 0;
  EXPECT_EQ(pInter1d(engine, xa, ya, 3, 0.5, &v, &e), VLT_ERR_INTERNAL);
  EXPECT_NE(std::find(printed.codes.begin(), printed.codes.end(), VLT_ERR_INTERNAL), printed.codes.end());
  EXPECT_EQ(pInter1d(engine, nullptr, ya, 3, 0.5, &v, &e), VLT_ERR_PARAM);
  EXPECT_EQ(pInter1d(engine, xa, ya, -1, 0.5, &v, &e), VLT_ERR_PARAM);
  alloc.fail_at(1);
  EXPECT_EQ(pInter1d(engine, xa, ya, 2, 0.5, &v, &e), VLT_ERR_NOMEM);
}

TEST_F(InterpolationTest, TwoDimensionalReproducesABiquadratic) {
  // f(r, c) = (1 + r - r^2 / 2) (2 - c + c^2): quadratic in each direction, so the separable
  // interpolation through the 3 x 3 grid is exact everywhere.
  const auto f = [](double r, double c) { return (1 + r - r * r / 2) * (2 - c + c * c); };
  const double coords[] = {0, 1, 2};
  double r0[3], r1[3], r2[3];
  double* table[] = {r0, r1, r2};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) table[r][c] = f(r, c);
  for (double r = 0; r <= 2; r += 0.5)
    for (double c = 0; c <= 2; c += 0.5) {
      double v = 0, e = 0;
      ASSERT_EQ(pInter2d(engine, coords, coords, table, 3, 3, r, c, &v, &e), VLT_OK);
      EXPECT_NEAR(v, f(r, c), 1e-12) << r << "," << c;
    }
  double v = 0, e = 0;
  const struct {
    const double* rows;
    double* const* t;
    int32_t m, n;
  } bad[] = {{nullptr, table, 3, 3}, {coords, nullptr, 3, 3}, {coords, table, -1, 3}, {coords, table, 3, -2}};
  for (const auto& b : bad) EXPECT_EQ(pInter2d(engine, b.rows, coords, b.t, b.m, b.n, 1, 1, &v, &e), VLT_ERR_PARAM);
  alloc.fail_at(1);
  EXPECT_EQ(pInter2d(engine, coords, coords, table, 3, 3, 1, 1, &v, &e), VLT_ERR_NOMEM);
}

// A grey page of w x h, paper 255, with `ink` drawn at (x, y) in value `dark`.
struct GreyPage {
  VltImage* image = nullptr;
  void fill(uint8_t v) {
    for (int y = 0; y < image->hdr.height; ++y) std::memset(image->rows[y], v, size_t(image->hdr.width));
  }
  void draw(const RefBitmap& ink, int x, int y, uint8_t dark) {
    for (int r = 0; r < ink.height; ++r)
      for (int c = 0; c < ink.width; ++c)
        if (ink.get(c, r)) image->rows[y + r][x + c] = dark;
  }
  void invert() {
    for (int y = 0; y < image->hdr.height; ++y)
      for (int x = 0; x < image->hdr.width; ++x) image->rows[y][x] = uint8_t(255 - image->rows[y][x]);
  }
};

RefBitmap block(int w, int h) {
  RefBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.set(x, y, 1);
  return b;
}

struct AlignTest : TokTest {
  AlignTest() { wrapper = 1; }
  GreyPage page;
  VltImage* framed = nullptr;  // an 8 x 8 block in the 12-pixel frame
  void SetUp() override {
    TokTest::SetUp();
    ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 80, 60, &page.image), VLT_OK);
    page.fill(255);
    const std::vector<uint8_t> bits = packed(block(8, 8), 1);
    VltImage* wrapped = nullptr;
    ASSERT_EQ(VltImage_wrap(engine, const_cast<uint8_t*>(bits.data()), 8, 8, 1, &wrapped), VLT_OK);
    ASSERT_EQ(packedAddFrame(engine, wrapped, 12, &framed), VLT_OK);
    uint8_t* back = nullptr;
    VltImage_unwrap(wrapped, &back);
  }
  void TearDown() override {
    VltImage_free(framed);
    VltImage_free(page.image);
    TokTest::TearDown();
  }
};

TEST_F(AlignTest, WholeAndHalfPixelShiftsAndPolarity) {
  // The box is the instance's own 8 x 8 box widened by 6; the page's ink sits as described.
  const struct {
    int dxInk;        // whole-pixel offset of the ink from the box centre
    bool halfRight;   // ink smeared half a pixel to the right
    double dx, dy;    // the class's shift onto the ink: the page moved back by it
  } cases[] = {{0, false, 0.0, 0.0}, {1, false, -1.0, 0.0}, {-1, false, 1.0, 0.0}, {0, true, -0.5, 0.0}};
  for (const auto& c : cases)
    for (const bool inverted : {false, true}) {
      page.fill(255);
      page.draw(block(8, 8), 30 + c.dxInk, 20, 0);
      if (c.halfRight) {
        for (int y = 20; y < 28; ++y) page.image->rows[y][30] = page.image->rows[y][38] = 128;
      }
      if (inverted) page.invert();
      double dx = 9, dy = 9;
      uint8_t polarity = 9;
      ASSERT_EQ(optAlignSub(engine, page.image, framed, 24, 14, 20, 20, &dx, &dy, &polarity), VLT_OK);
      EXPECT_EQ(dx, c.dx) << c.dxInk << (c.halfRight ? " half" : "") << (inverted ? " inverted" : "");
      EXPECT_EQ(dy, c.dy);
      EXPECT_EQ(polarity, inverted ? 1 : 0);
    }
}

TEST_F(AlignTest, BlankOrOffPageBoxesStayCentred) {
  double dx = 9, dy = 9;
  uint8_t polarity = 9;
  // White page under dark-ink polarity scores nothing anywhere.
  ASSERT_EQ(optAlignSub(engine, page.image, framed, 24, 14, 20, 20, &dx, &dy, &polarity), VLT_OK);
  EXPECT_EQ(dx, 0.0);
  EXPECT_EQ(dy, 0.0);
  // A box reaching past the page corner reads only the page.
  page.draw(block(8, 8), 72, 52, 0);
  ASSERT_EQ(optAlignSub(engine, page.image, framed, 66, 46, 20, 20, &dx, &dy, &polarity), VLT_OK);
  EXPECT_EQ(dx, 0.0);
  EXPECT_EQ(dy, 0.0);
  EXPECT_EQ(polarity, 0);
  alloc.fail_at(2);
  dx = 7;
  EXPECT_EQ(optAlignSub(engine, page.image, framed, 24, 14, 20, 20, &dx, &dy, &polarity), VLT_ERR_NOMEM);
  EXPECT_EQ(dx, 7) << "outputs stay unwritten on failure";
}

TEST_F(AlignTest, InstanceSumsIgnoreBrightnessAndWidenAwayFromTheEdge) {
  // Cells of the sum that received something, and the sum's total.
  const auto touched = [&](const VltImage* sum) {
    int n = 0;
    for (int y = 0; y < sum->hdr.height; ++y)
      for (int x = 0; x < sum->hdr.width; ++x) n += reinterpret_cast<const double*>(sum->rows[y])[x] != 0.0;
    return n;
  };
  const struct {
    int x, y, cells;
  } boxes[] = {{5, 5, 8 * 8}, {6, 5, 8 * 8}, {5, 6, 8 * 8}, {6, 6, 20 * 20}};
  for (const auto& b : boxes) {
    page.fill(255);
    page.draw(block(8, 8), b.x, b.y, 0);
    VltImage* sum = nullptr;
    ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_DOUBLE, 32, 32, &sum), VLT_OK);
    ASSERT_EQ(createSum(engine, page.image, sum, framed, 0, b.x, b.y, 8, 8), VLT_OK);
    EXPECT_EQ(touched(sum), b.cells) << b.x << "," << b.y;
    VltImage_free(sum);
  }
  // The same shape a little brighter on a brighter page adds the same pattern.
  VltImage* sums[2] = {};
  for (int k = 0; k < 2; ++k) {
    page.fill(k == 0 ? 255 : 235);
    page.draw(block(8, 8), 30, 20, k == 0 ? 20 : 0);
    ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_DOUBLE, 32, 32, &sums[k]), VLT_OK);
    ASSERT_EQ(createSum(engine, page.image, sums[k], framed, 0, 30, 20, 8, 8), VLT_OK);
  }
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_NEAR(reinterpret_cast<double*>(sums[0]->rows[y])[x], reinterpret_cast<double*>(sums[1]->rows[y])[x],
                  1e-9);
  for (VltImage* s : sums) VltImage_free(s);
}

// A class record of the lossy section with its instances, as the section output leaves them.
struct Section {
  VltState* es = nullptr;
  VltAdtList* classes = nullptr;
  std::vector<TokComponent*> components;

  TokOutput* add_class(const RefBitmap& bm) {
    auto* c = static_cast<TokOutput*>(es->calloc(1, sizeof(TokOutput)));
    const uint32_t wpl = words_for(bm.width);
    const std::vector<uint8_t> bytes = packed(bm, wpl);
    auto* bits = static_cast<uint8_t*>(es->malloc(bytes.size()));
    std::memcpy(bits, bytes.data(), bytes.size());
    c->exemplar = TokBitmap{uint16_t(bm.width), uint16_t(bm.height), bits, uint16_t(wpl), nullptr};
    EXPECT_EQ(VltAdt_liNew(&c->members, es), VLT_OK);
    EXPECT_EQ(VltAdt_liAdd(classes, c, nullptr), VLT_OK);
    return c;
  }
  TokComponent* add_instance(TokOutput* cls, int x, int y, int w, int h, int page) {
    auto* t = static_cast<TokComponent*>(es->calloc(1, sizeof(TokComponent)));
    t->bitmap = TokBitmap{uint16_t(w), uint16_t(h), nullptr, uint16_t(words_for(w)), t};
    t->x = x;
    t->y = y;
    t->pageNumber = page;
    auto* m = static_cast<TokMemberPos*>(es->calloc(1, sizeof(TokMemberPos)));
    m->owner = t;
    EXPECT_EQ(VltAdt_liAdd(cls->members, m, nullptr), VLT_OK);
    components.push_back(t);
    return t;
  }
  void release() {
    for (VltAdtListNode* n = classes->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokOutput*>(n->data);
      if (c == nullptr) continue;
      tok_releaseGraySum(es, c);
      for (VltAdtListNode* m = c->members->first; m != nullptr; m = m->next) es->free(m->data);
      VltAdt_liFree(c->members);
      es->free(c->exemplar.bits);
      VltImage_free(c->histogram);
      es->free(c);
    }
    VltAdt_liFree(classes);
    for (TokComponent* t : components) {
      es->free(t->bitmap.bits);
      es->free(t);
    }
  }
};

// A glyph: a ring with a stem, 14 x 18.
RefBitmap glyph() {
  RefBitmap g(14, 18);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 14; ++x) {
      const double dx = x - 6.5, dy = y - 6.5, r = std::sqrt(dx * dx + dy * dy);
      g.set(x, y, (r >= 3.2 && r <= 6.4) || (x >= 10 && x <= 12 && y >= 6));
    }
  return g;
}

// Pixels that differ between the glyph and a bitmap drawn with its origin at (ox, oy) of the
// glyph's box.
int differing(const RefBitmap& a, const TokBitmap& b, int ox, int oy) {
  int d = 0;
  for (int y = -4; y < a.height + 4; ++y)
    for (int x = -4; x < a.width + 4; ++x) {
      const int pa = x >= 0 && y >= 0 && x < a.width && y < a.height ? a.get(x, y) : 0;
      const int u = x - ox, v = y - oy;
      const int pb = u >= 0 && v >= 0 && u < b.width && v < b.height
                         ? mono::get_bit(b.bits + size_t(v) * b.wordsPerLine * 4, size_t(u))
                         : 0;
      d += pa != pb;
    }
  return d;
}

// Pixels that differ between the glyph and a bitmap at the best placement within 2 pixels: a shape
// measure apart from where the class places its instances.
int difference(const RefBitmap& a, const TokBitmap& b) {
  int best = a.width * a.height + b.width * b.height;
  for (int oy = -2; oy <= 2; ++oy)
    for (int ox = -2; ox <= 2; ++ox) best = std::min(best, differing(a, b, ox, oy));
  return best;
}

struct SmoothTest : TokTest {
  SmoothTest() { wrapper = 1; }
  Section section;
  std::vector<VltImage*> pages;
  void SetUp() override {
    TokTest::SetUp();
    section.es = engine;
    ASSERT_EQ(VltAdt_liNew(&section.classes, engine), VLT_OK);
  }
  void TearDown() override {
    section.release();
    for (VltImage* p : pages) VltImage_free(p);
    TokTest::TearDown();
  }
  // A scanned-looking grey page: the glyph at each position, blurred (3 x 3 box), with noise.
  VltImage* scan(const RefBitmap& g, const std::vector<std::pair<int, int>>& at, uint32_t seed) {
    VltImage* p = nullptr;
    EXPECT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 200, 80, &p), VLT_OK);
    std::vector<double> ink(200 * 80, 0.0);
    for (auto [x, y] : at)
      for (int r = 0; r < g.height; ++r)
        for (int c = 0; c < g.width; ++c)
          if (g.get(c, r)) ink[size_t(y + r) * 200 + size_t(x + c)] = 1.0;
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 12.0);
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 200; ++x) {
        double s = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int u = x + dx, v = y + dy;
            if (u >= 0 && v >= 0 && u < 200 && v < 80) s += ink[size_t(v) * 200 + size_t(u)];
          }
        const double grey = 240.0 - 220.0 * s / 9.0 + noise(rng);
        p->rows[y][x] = uint8_t(std::clamp(grey, 0.0, 255.0));
      }
    pages.push_back(p);
    return p;
  }
};

TEST_F(SmoothTest, ExemplarFromNoisyInstancesComesCloserToTheGlyph) {
  const RefBitmap truth = glyph();
  // The class bitmap is one noisy instance: every other pixel along the outline flipped.
  RefBitmap noisy = truth;
  int flipped = 0;
  for (int y = 0; y < truth.height; ++y)
    for (int x = 1; x < truth.width; ++x)
      if (truth.get(x, y) != truth.get(x - 1, y) && (x + y) % 2 == 0) {
        noisy.set(x, y, !truth.get(x, y));
        ++flipped;
      }
  ASSERT_GT(flipped, 20);
  TokOutput* cls = section.add_class(noisy);
  const std::vector<std::pair<int, int>> onFirst = {{20, 20}, {60, 21}, {100, 20}}, onSecond = {{30, 30}, {150, 40}};
  for (auto [x, y] : onFirst) section.add_instance(cls, x, y, truth.width, truth.height, 1);
  for (auto [x, y] : onSecond) section.add_instance(cls, x, y, truth.width, truth.height, 2);
  int token = 0;
  ASSERT_EQ(sumGrayInstances(engine, scan(truth, onFirst, 1), section.classes, &token, 1), VLT_OK);
  ASSERT_EQ(sumGrayInstances(engine, scan(truth, onSecond, 2), section.classes, &token, 2), VLT_OK);
  const GraySum* gs = tok_graySumOf(cls);
  ASSERT_NE(gs, nullptr);
  EXPECT_EQ(gs->count, 5);
  EXPECT_EQ(gs->leastWidth, truth.width);
  const int before = difference(truth, cls->exemplar);
  ASSERT_EQ(smoothToken(engine, section.classes), VLT_OK);
  EXPECT_EQ(cls->dictRef, nullptr);
  EXPECT_EQ(cls->exemplar.wordsPerLine, words_for(cls->exemplar.width));
  const int after = difference(truth, cls->exemplar);
  EXPECT_LT(after, before) << "smoothing made the exemplar no closer to the glyph";
  EXPECT_LE(std::abs(int(cls->exemplar.width) - truth.width), 3);
  EXPECT_LE(std::abs(int(cls->exemplar.height) - truth.height), 3);
}

// The exemplar is cut to its own ink, which may begin a row or column inside the old bitmap: the
// class frame moves with it, so from each member's offset the exemplar is drawn where its glyph
// lies. Class bitmaps with a clear first row and column (the glyph's), with a stray column or row
// beyond the glyph, and instance boxes recorded a pixel beside the ink.
TEST_F(SmoothTest, ExemplarsAreDrawnWhereTheirInstancesLie) {
  const RefBitmap truth = glyph();
  const struct {
    const char* name;
    int strayColumn, strayRow, boxRight, boxDown;
  } cases[] = {
      {"clear first row and column", 0, 0, 0, 0}, {"stray column on the left", 1, 0, 0, 0},
      {"stray row on top", 0, 1, 0, 0},           {"boxes a column right of the ink", 0, 0, 1, 0},
      {"boxes a row below the ink", 0, 0, 0, 1},
  };
  const std::vector<std::pair<int, int>> at = {{20, 20}, {60, 21}, {100, 20}, {140, 22}, {30, 50}, {80, 52}};
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    Section s;
    s.es = engine;
    ASSERT_EQ(VltAdt_liNew(&s.classes, engine), VLT_OK);
    RefBitmap bitmap(truth.width + t.strayColumn, truth.height + t.strayRow);
    for (int y = 0; y < truth.height; ++y)
      for (int x = 0; x < truth.width; ++x) bitmap.set(x + t.strayColumn, y + t.strayRow, truth.get(x, y));
    if (t.strayColumn) bitmap.set(0, 10, 1);
    if (t.strayRow) bitmap.set(6, 0, 1);
    TokOutput* cls = s.add_class(bitmap);
    ASSERT_EQ(VltImage_newOffset(engine, VLT_IMAGE_GRAY, 4, 4, -3, -2, &cls->histogram), VLT_OK);
    for (size_t i = 0; i < at.size(); ++i)
      s.add_instance(cls, at[i].first - t.strayColumn + (i % 2 ? t.boxRight : 0),
                     at[i].second - t.strayRow + (i % 2 ? t.boxDown : 0), bitmap.width, bitmap.height, 1);
    int token = 0;
    ASSERT_EQ(sumGrayInstances(engine, scan(truth, at, 7), s.classes, &token, 1), VLT_OK);
    const uint8_t* before = cls->exemplar.bits;
    ASSERT_EQ(smoothToken(engine, s.classes), VLT_OK);
    ASSERT_NE(cls->exemplar.bits, before);
    const auto* pos = static_cast<const TokMemberPos*>(cls->members->first->data);
    const int ox = -t.strayColumn - pos->dx, oy = -t.strayRow - pos->dy;
    const int here = differing(truth, cls->exemplar, ox, oy);
    EXPECT_LE(here, 8) << "exemplar drawn at " << ox << "," << oy;
    int best = here;
    for (int v = oy - 2; v <= oy + 2; ++v)
      for (int u = ox - 2; u <= ox + 2; ++u) best = std::min(best, differing(truth, cls->exemplar, u, v));
    EXPECT_EQ(here, best) << "exemplar drawn at " << ox << "," << oy;
    for (const VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next) {
      EXPECT_EQ(static_cast<const TokMemberPos*>(m->data)->dx, pos->dx);
      EXPECT_EQ(static_cast<const TokMemberPos*>(m->data)->dy, pos->dy);
    }
    EXPECT_EQ(cls->histogram->hdr.xOffset, -3 + pos->dx) << "the pixel sum stays in the members' frame";
    EXPECT_EQ(cls->histogram->hdr.yOffset, -2 + pos->dy);
    s.release();
  }
}

// An offset that moving the frame would carry out of its 16-bit field keeps the class as it was.
TEST_F(SmoothTest, OffsetsAtTheEdgeOfTheirFieldKeepTheBitmap) {
  const RefBitmap truth = glyph();
  TokOutput* cls = section.add_class(truth);
  section.add_instance(cls, 20, 20, truth.width, truth.height, 1);
  section.add_instance(cls, 60, 21, truth.width, truth.height, 1);
  static_cast<TokMemberPos*>(cls->members->first->data)->dx = INT16_MIN;
  int token = 0;
  ASSERT_EQ(sumGrayInstances(engine, scan(truth, {{20, 20}, {60, 21}}, 9), section.classes, &token, 1), VLT_OK);
  const uint8_t* before = cls->exemplar.bits;
  ASSERT_EQ(smoothToken(engine, section.classes), VLT_OK);
  EXPECT_EQ(cls->exemplar.bits, before);
  EXPECT_EQ(cls->exemplar.width, truth.width);
  EXPECT_EQ(static_cast<TokMemberPos*>(cls->members->first->data)->dx, INT16_MIN);
  EXPECT_EQ(static_cast<TokMemberPos*>(cls->members->last->data)->dx, 0);
}

TEST_F(SmoothTest, WideExemplarsKeepTheirFullWidth) {
  // A rule 300 pixels long: its exemplar must keep a width above 255.
  RefBitmap rule = block(300, 5);
  TokOutput* cls = section.add_class(rule);
  VltImage* p = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 340, 40, &p), VLT_OK);
  pages.push_back(p);
  GreyPage g{p};
  g.fill(250);
  g.draw(rule, 20, 15, 10);
  section.add_instance(cls, 20, 15, 300, 5, 0);
  int token = 0;
  ASSERT_EQ(sumGrayInstances(engine, p, section.classes, &token, 0), VLT_OK);
  ASSERT_EQ(smoothToken(engine, section.classes), VLT_OK);
  EXPECT_GE(cls->exemplar.width, 298);
  EXPECT_LE(cls->exemplar.width, 302);
  EXPECT_EQ(cls->exemplar.wordsPerLine, words_for(cls->exemplar.width));
}

TEST_F(SmoothTest, ClassesWithoutUsableSumsKeepTheirBitmaps) {
  // One class has no instance on the page summed (an empty sum); the other is a single row,
  // whose exemplar would be one row high.
  TokOutput* elsewhere = section.add_class(glyph());
  section.add_instance(elsewhere, 20, 20, 14, 18, 7);
  TokOutput* line = section.add_class(block(30, 1));
  section.add_instance(line, 40, 40, 30, 1, 0);
  VltImage* p = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 100, 80, &p), VLT_OK);
  pages.push_back(p);
  GreyPage g{p};
  g.fill(250);
  g.draw(block(30, 1), 40, 40, 0);
  const uint8_t* glyphBits = elsewhere->exemplar.bits;
  const uint8_t* lineBits = line->exemplar.bits;
  int token = 0;
  ASSERT_EQ(sumGrayInstances(engine, p, section.classes, &token, 0), VLT_OK);
  ASSERT_EQ(smoothToken(engine, section.classes), VLT_OK);
  EXPECT_EQ(elsewhere->exemplar.bits, glyphBits);
  EXPECT_EQ(line->exemplar.bits, lineBits);
  EXPECT_EQ(line->exemplar.height, 1);
  EXPECT_EQ(elsewhere->dictRef, nullptr);
  EXPECT_EQ(line->dictRef, nullptr);
}

TEST_F(SmoothTest, BitmapsHandedOnAreKeptWithTheirReferences) {
  // One class names its token record in the reference word; another's instance already draws
  // with the class bitmap. Smoothing must free neither bitmap and must give the word back.
  const RefBitmap truth = glyph();
  VltTokenRecord record{};
  TokOutput* named = section.add_class(truth);
  named->dictRef = &record;
  section.add_instance(named, 20, 20, truth.width, truth.height, 1);
  TokOutput* drawn = section.add_class(truth);
  TokComponent* c = section.add_instance(drawn, 60, 21, truth.width, truth.height, 1);
  VltImage* page = scan(truth, {{20, 20}, {60, 21}}, 5);
  int token = 0;
  ASSERT_EQ(sumGrayInstances(engine, page, section.classes, &token, 1), VLT_OK);
  EXPECT_NE(tok_graySumOf(named), nullptr);
  c->bitmap.bits = drawn->exemplar.bits;
  const uint8_t* namedBits = named->exemplar.bits;
  ASSERT_EQ(smoothToken(engine, section.classes), VLT_OK);
  EXPECT_EQ(named->dictRef, &record);
  EXPECT_EQ(named->exemplar.bits, namedBits);
  EXPECT_EQ(drawn->exemplar.bits, c->bitmap.bits);
  EXPECT_EQ(drawn->dictRef, nullptr);
  c->bitmap.bits = nullptr;
  named->dictRef = nullptr;
}

TEST_F(SmoothTest, BadArgumentsAndBrokenListsAreRefused) {
  int token = 0;
  VltImage* p = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 10, 10, &p), VLT_OK);
  pages.push_back(p);
  EXPECT_EQ(sumGrayInstances(engine, p, nullptr, &token, 0), VLT_ERR_PARAM);
  EXPECT_EQ(sumGrayInstances(engine, p, section.classes, nullptr, 0), VLT_ERR_PARAM);
  EXPECT_EQ(smoothToken(engine, nullptr), VLT_ERR_PARAM);
  VltImage* exemplar = nullptr;
  EXPECT_EQ(getExemplar(engine, nullptr, p, p, 4, 4, p, &exemplar), VLT_ERR_PARAM);
  TokOutput* cls = section.add_class(glyph());
  auto* orphan = static_cast<TokMemberPos*>(engine->calloc(1, sizeof(TokMemberPos)));
  ASSERT_EQ(VltAdt_liAdd(cls->members, orphan, nullptr), VLT_OK);
  EXPECT_EQ(sumGrayInstances(engine, p, section.classes, &token, 0), VLT_ERR_ASSERT);
  EXPECT_EQ(cls->dictRef, nullptr) << "a failed first call keeps no sum";
  ASSERT_EQ(VltAdt_liAdd(section.classes, nullptr, nullptr), VLT_OK);
  EXPECT_EQ(smoothToken(engine, section.classes), VLT_ERR_ASSERT);
}

TEST_F(SmoothTest, EveryAllocationFailureIsReportedAndLeavesNoLeak) {
  const RefBitmap truth = glyph();
  for (size_t k = 1;; ++k) {
    Section s;
    s.es = engine;
    ASSERT_EQ(VltAdt_liNew(&s.classes, engine), VLT_OK);
    TokOutput* cls = s.add_class(truth);
    s.add_instance(cls, 20, 20, truth.width, truth.height, 1);
    s.add_instance(cls, 60, 21, truth.width, truth.height, 1);
    VltImage* p = scan(truth, {{20, 20}, {60, 21}}, 3);
    int token = 0;
    alloc.fail_at(k);
    VltStatus st = sumGrayInstances(engine, p, s.classes, &token, 1);
    if (st == VLT_OK) st = smoothToken(engine, s.classes);
    alloc.fail_at(0);
    // Image creation and wrapping pass on their own memory statuses.
    if (st != VLT_OK) {
      EXPECT_TRUE(st == VLT_ERR_NOMEM || st == VLT_ERR_NULL || st == VLT_ERR_VLT_NOMEM) << st << " at allocation " << k;
    }
    // Sums a failed call left in the class go with the section; the fixture checks for leaks.
    s.release();
    if (st == VLT_OK) break;
    ASSERT_LT(k, 200u);
  }
}

}  // namespace
}  // namespace toktest
