// Rectangle records and arithmetic, in-place cutting and trimming, and rank reduction against the
// naive cascade of the test support library.

#include "pixr_fixture.h"
#include "ref_reduce.h"

namespace pixrtest {
namespace {

using PixrRect = WrapperTest;
using PixrReduce = WrapperTest;

struct RectGuard {
  IPWState* s;
  IPRect* r = nullptr;
  ~RectGuard() { w_destroyRect(s, &r); }
};

void expect_rect(const IPRect* r, int32_t x, int32_t y, int32_t w, int32_t h) {
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->x, x);
  EXPECT_EQ(r->y, y);
  EXPECT_EQ(r->width, w);
  EXPECT_EQ(r->height, h);
}

TEST_F(PixrRect, ListUnlinking) {
  IPRect* a = nullptr;
  ASSERT_EQ(w_createRect(s, 0, 0, 1, 1, &a), VLT_OK);
  IPRect* head = a;
  ASSERT_EQ(w_cutRectFromList(s, a, &head), VLT_OK);
  EXPECT_EQ(head, nullptr);

  IPRect* r[3] = {};
  for (IPRect*& x : r) ASSERT_EQ(w_createRect(s, 1, 2, 3, 4, &x), VLT_OK);
  r[0]->next = r[1];
  r[1]->prev = r[0];
  r[1]->next = r[2];
  r[2]->prev = r[1];
  head = r[0];
  IPRect* orphan = nullptr;
  ASSERT_EQ(w_createRect(s, 0, 0, 0, 0, &orphan), VLT_OK);
  EXPECT_EQ(w_cutRectFromList(s, orphan, &head), VLT_ERR_PARAM);
  EXPECT_EQ(head, r[0]);
  ASSERT_EQ(w_cutRectFromList(s, r[1], &head), VLT_OK);
  EXPECT_EQ(r[0]->next, r[2]);
  EXPECT_EQ(r[2]->prev, r[0]);
  ASSERT_EQ(w_cutRectFromList(s, r[0], &head), VLT_OK);
  EXPECT_EQ(head, r[2]);
  EXPECT_EQ(r[2]->prev, nullptr);
  ASSERT_EQ(w_destroyRectList(s, &head), VLT_OK);
  EXPECT_EQ(head, nullptr);
  ASSERT_EQ(w_destroyRect(s, &orphan), VLT_OK);
  IPRect* bad = nullptr;
  EXPECT_EQ(w_createRect(s, 0, 0, -1, 1, &bad), VLT_ERR_PARAM);
}

TEST_F(PixrRect, Arithmetic) {
  IPRect src{nullptr, nullptr, 10, 20, 30, 40};
  {
    RectGuard g{s};
    ASSERT_EQ(w_resizeRectP(s, &src, -35, 0, &g.r), VLT_OK);
    expect_rect(g.r, 10 + 15 - 0, 20, 1, 40);
  }
  struct X {
    int32_t x;
    float sx;
    int32_t wantX;
  } xs[] = {{3, 0.5f, 2}, {-3, 0.5f, -2}, {4, 0.5f, 2}, {0, 0.3f, 0}};
  for (const X& c : xs) {
    IPRect r{nullptr, nullptr, c.x, 0, 1, 1};
    ASSERT_EQ(w_xformRectIP(s, 0, 0, c.sx, 1.0f, &r), VLT_OK);
    EXPECT_EQ(r.x, c.wantX) << c.x;
    EXPECT_EQ(r.width, 1);  // scaled below 1, kept at 1
  }
  IPRect neg{nullptr, nullptr, 0, 0, 1, 1};
  EXPECT_EQ(w_xformRectIP(s, 0, 0, -1.0f, 1.0f, &neg), VLT_ERR_PARAM);

  struct Clip {
    IPRect in;
    int32_t x, y, w, h;
  } clips[] = {
      {{nullptr, nullptr, -5, -5, 10, 10}, 0, 0, 5, 5},
      {{nullptr, nullptr, 200, 0, 10, 10}, 99, 0, 0, 0},
      {{nullptr, nullptr, 90, 95, 20, 20}, 90, 95, 10, 5},
  };
  for (const Clip& c : clips) {
    RectGuard g{s};
    ASSERT_EQ(w_clipRect(s, &c.in, 100, 100, &g.r), VLT_OK);
    expect_rect(g.r, c.x, c.y, c.w, c.h);
  }
  IPRect crop{nullptr, nullptr, 0, 0, 10, 10};
  ASSERT_EQ(w_cropRect(s, 20, 20, 5, 5, &crop), VLT_OK);
  EXPECT_EQ(crop.width, 0);
  EXPECT_EQ(crop.height, 0);
  IPRect a{nullptr, nullptr, 0, 5, 10, 10}, b{nullptr, nullptr, -3, 8, 4, 20}, u{};
  ASSERT_EQ(w_unionRects(s, &a, &b, &u), VLT_OK);
  expect_rect(&u, -3, 5, 13, 23);
}

TEST_F(PixrRect, CutAndTrimInPlace) {
  const RefBitmap pattern = monotest::make_noise(100, 100, 0.5, 41);
  PIXR* p = from_ref(pattern);
  ASSERT_EQ(w_cutRectIP(s, -4, -4, 10, 10, p), VLT_OK);
  ASSERT_EQ(p->width, 6);
  ASSERT_EQ(p->height, 6);
  RefBitmap want(6, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) want.set(x, y, pattern.get(x, y));
  EXPECT_EQ(monotest::first_difference(want, to_ref(p)), "");
  EXPECT_EQ(frame_ones(p), 0);
  EXPECT_EQ(w_cutRectIP(s, 6, 0, 1, 1, p), VLT_ERR_PARAM);
  destroy(p);

  p = from_ref(pattern);
  ASSERT_EQ(w_trimRightBottomIP(s, 100, 100, p), VLT_OK);
  EXPECT_EQ(monotest::first_difference(pattern, to_ref(p)), "");
  EXPECT_EQ(w_trimRightBottomIP(s, 101, 10, p), VLT_ERR_APPS_DIMENSIONS);
  EXPECT_EQ(p->width, 100);
  ASSERT_EQ(w_trimRightBottomIP(s, 61, 70, p), VLT_OK);
  EXPECT_EQ(frame_ones(p), 0);
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 61; ++x) ASSERT_EQ(mono::get_bit(line(p, y), x), pattern.get(x, y));
  destroy(p);
}

// A 3300-line page cut into pieces, by copies and in place, gives back every row.
TEST_F(PixrRect, CuttingAPageReproducesEveryRow) {
  const RefBitmap page = monotest::make_text_blobs(2550, 3300, 17);
  PIXR* p = from_ref(page);
  const int32_t cuts[] = {0, 1, 777, 1600, 2048, 3299, 3300};
  for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
    const int32_t y0 = cuts[i], h = cuts[i + 1] - cuts[i];
    IPRect band{nullptr, nullptr, 0, y0, 2550, h};
    PIXR* piece = nullptr;
    ASSERT_EQ(w_rectOf(s, p, &band, &piece), VLT_OK);
    PIXR* inPlace = nullptr;
    ASSERT_EQ(w_copy(s, p, &inPlace), VLT_OK);
    ASSERT_EQ(w_cutRectIP(s, 0, y0, 2550, h, inPlace), VLT_OK);
    for (int y = 0; y < h; ++y) {
      ASSERT_EQ(std::memcmp(line(piece, y), page.row(y0 + y), page.stride), 0) << "row " << y0 + y;
      ASSERT_EQ(std::memcmp(line(inPlace, y), page.row(y0 + y), page.stride), 0) << "row " << y0 + y;
    }
    destroy(piece);
    destroy(inPlace);
  }
  destroy(p);
}

// Row views share the page's buffer: they see its rows, writes go through, and the buffer lives
// until the last record sharing it goes.
TEST_F(PixrRect, RowViewsShareThePageBuffer) {
  const RefBitmap page = monotest::make_text_blobs(300, 90, 4);
  PIXR* p = from_ref(page);
  PIXR* upper = nullptr;
  PIXR* lower = nullptr;
  ASSERT_EQ(w_rowsOf(s, p, 0, 41, &upper), VLT_OK);
  ASSERT_EQ(w_rowsOf(s, p, 41, 49, &lower), VLT_OK);
  const size_t blocks = alloc.live_blocks();
  EXPECT_EQ(upper->height, 41);
  EXPECT_EQ(lower->height, 49);
  EXPECT_EQ(lower->width, 300);
  for (int y = 0; y < 90; ++y)
    ASSERT_EQ(std::memcmp(y < 41 ? line(upper, y) : line(lower, y - 41), page.row(y), page.stride), 0) << y;
  line(lower, 0)[0] ^= 0x80;
  EXPECT_EQ(line(p, 41)[0], page.row(41)[0] ^ 0x80);
  destroy(p);
  EXPECT_LT(alloc.live_blocks(), blocks) << "the page record went";
  EXPECT_EQ(to_ref(upper).row(40)[3], page.row(40)[3]);
  destroy(upper);
  EXPECT_EQ(line(lower, 48)[5], page.row(89)[5]) << "the buffer lives while a view does";
  destroy(lower);

  PIXR* q = make(10, 10);
  PIXR* v = nullptr;
  EXPECT_EQ(w_rowsOf(s, q, 5, 6, &v), VLT_ERR_PARAM);
  EXPECT_EQ(w_rowsOf(s, q, -1, 2, &v), VLT_ERR_PARAM);
  EXPECT_EQ(w_rowsOf(s, q, 0, 2, nullptr), VLT_ERR_NULL);
  ASSERT_EQ(w_rowsOf(s, q, 10, 0, &v), VLT_OK) << "an empty view at the bottom";
  EXPECT_EQ(w_rowsOf(s, q, 0, 1, &v), VLT_ERR_NOT_NULL);
  destroy(v);
  destroy(q);
}

TEST_F(PixrReduce, EveryThresholdCombinationMatchesNaiveCascade) {
  const RefBitmap pattern = monotest::make_text_blobs(203, 157, 5);
  PIXR* src = from_ref(pattern);
  for (int k = 1; k <= 4; ++k) {
    std::vector<int> t(static_cast<size_t>(k), 1);
    for (;;) {
      SCOPED_TRACE(testing::Message() << "factor " << (1 << k) << " t1 " << t[0]);
      PIXR* dst = nullptr;
      const int32_t t2 = k > 1 ? t[1] : 0, t3 = k > 2 ? t[2] : 0, t4 = k > 3 ? t[3] : 0;
      VltStatus st = VLT_OK;
      switch (k) {
        case 1: st = w_reduce2(s, src, t[0], &dst); break;
        case 2: st = w_reduce4(s, src, t[0], t2, &dst); break;
        case 3: st = w_reduce8(s, src, t[0], t2, t3, &dst); break;
        default: st = w_reduce16(s, src, t[0], t2, t3, t4, &dst); break;
      }
      ASSERT_EQ(st, VLT_OK);
      const RefBitmap want = monotest::reduce_cascade_naive(pattern, t);
      ASSERT_EQ(monotest::first_difference(want, to_ref(dst)), "");
      ASSERT_EQ(frame_ones(dst), 0);
      // w_reduce picks the same factor from the same thresholds.
      PIXR* again = nullptr;
      ASSERT_EQ(w_reduce(s, src, t[0], t2, t3, t4, &again), VLT_OK);
      ASSERT_EQ(monotest::first_difference(want, to_ref(again)), "");
      destroy(again);
      destroy(dst);
      size_t i = 0;
      while (i < t.size() && ++t[i] > 4) t[i++] = 1;
      if (i == t.size()) break;
    }
  }
  destroy(src);
}

TEST_F(PixrReduce, FactorRuleGeometryAndErrors) {
  PIXR* src = make(100, 100);
  struct Case {
    int32_t t[4];
    int32_t size;
  } cases[] = {{{1, 0, 3, 3}, 50}, {{2, 2, 2, 0}, 12}, {{4, 4, 4, 4}, 6}, {{1, 1, 0, 9 - 9}, 25}};
  for (const Case& c : cases) {
    PIXR* d = nullptr;
    ASSERT_EQ(w_reduce(s, src, c.t[0], c.t[1], c.t[2], c.t[3], &d), VLT_OK);
    EXPECT_EQ(d->width, c.size);
    EXPECT_EQ(d->height, c.size);
    destroy(d);
  }
  PIXR* d = nullptr;
  ASSERT_EQ(w_reduce8(s, src, 1, 1, 1, &d), VLT_OK);
  EXPECT_EQ(d->xRes, (300 << 16) / 8);  // 37.5 dpi
  // A given destination of the right size is reused.
  PIXR* kept = d;
  ASSERT_EQ(w_reduce8(s, src, 4, 4, 4, &d), VLT_OK);
  EXPECT_EQ(d, kept);
  destroy(d);
  const int32_t bad[][4] = {{0, 1, 1, 1}, {5, 0, 0, 0}, {1, -1, 0, 0}, {1, 5, 1, 1}};
  for (const auto& t : bad) {
    const size_t live = alloc.live_blocks();
    EXPECT_EQ(w_reduce(s, src, t[0], t[1], t[2], t[3], &d), VLT_ERR_PARAM);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(alloc.live_blocks(), live);
  }
  PIXR* grey = make(16, 16, 8);
  EXPECT_EQ(w_reduce2(s, grey, 1, &d), VLT_ERR_PIXR_DEPTH);
  PIXR* wrong = make(30, 30);
  EXPECT_EQ(w_reduce2(s, src, 1, &wrong), VLT_ERR_DIMENSIONS);
  destroy(wrong);
  destroy(grey);
  destroy(src);
}

}  // namespace
}  // namespace pixrtest
