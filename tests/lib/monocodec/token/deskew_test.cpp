// Token deskew: straightening lengths, bitmap rotation cropped to ink, class groups per page,
// run-stored components and positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "tok_deskew.h"
#include "tok_fixture.h"

namespace toktest {
namespace {

TEST(StraighteningLength, TwoPixelsOfDriftAlongTheLength) {
  const struct {
    float angle;
    int32_t length;
  } cases[] = {{0.0f, 0}, {0.01f, 200}, {-0.01f, 200}, {0.1f, 20}, {0.5f, 4}};
  for (const auto& c : cases) EXPECT_EQ(tok_straighteningLength(c.angle), c.length) << c.angle;
}

RefBitmap read_bits(const uint8_t* bits, int w, int h, int wpl) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bm.set(x, y, mono::get_bit(bits + size_t(y) * wpl * 4, size_t(x)));
  return bm;
}

// The bitmap cropped to its ink.
RefBitmap crop(const RefBitmap& b) {
  int l = b.width, r = -1, t = b.height, d = -1;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.get(x, y)) {
        l = std::min(l, x);
        r = std::max(r, x);
        t = std::min(t, y);
        d = std::max(d, y);
      }
  RefBitmap out(std::max(r - l + 1, 0), std::max(d - t + 1, 0));
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) out.set(x, y, b.get(x + l, y + t));
  return out;
}

struct DeskewTest : TokTest {
  DeskewTest() { wrapper = 1; }
  DeskewContext* ctx = nullptr;
  void SetUp() override {
    TokTest::SetUp();
    ASSERT_EQ(deskewInit(&ctx, 5, 0, engine), VLT_OK);
  }
  void TearDown() override {
    deskewCleanup(ctx);
    TokTest::TearDown();
  }
  struct Turned {
    uint8_t* bits = nullptr;
    int32_t w = 0, h = 0, wpl = 0;
  };
  VltStatus turn(const RefBitmap& in, float angle, Turned* out, int32_t maxW = 10000, int32_t maxH = 10000) {
    const uint32_t wpl = words_for(in.width);
    const std::vector<uint8_t> bytes = packed(in, wpl);
    return VltDeskew_bmp(bytes.data(), in.width, in.height, int32_t(wpl), &out->bits, &out->w, &out->h, &out->wpl,
                         angle, maxW, maxH, engine);
  }
};

TEST_F(DeskewTest, RotationMatchesANearestPixelTurnCroppedToInk) {
  // Glyph-like blobs and a long rule, each padded so that the reference turn keeps every pixel.
  const RefBitmap blobs = monotest::make_text_blobs(180, 80, 7);
  RefBitmap rule301(301, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 301; ++x) rule301.set(x, y, 1);
  for (const RefBitmap* src : std::vector<const RefBitmap*>{&blobs, &rule301})
    for (const float angle : {0.01f, -0.02f, 0.05f}) {
      Turned t;
      ASSERT_EQ(turn(*src, angle, &t), VLT_OK);
      ASSERT_NE(t.bits, nullptr);
      EXPECT_EQ(t.wpl, (t.w + 31) / 32);
      const RefBitmap got = read_bits(t.bits, t.w, t.h, t.wpl);
      EXPECT_EQ(crop(got).width, got.width) << "not cropped to ink";
      EXPECT_EQ(crop(got).height, got.height) << "not cropped to ink";
      RefBitmap padded(src->width + 40, src->height + 40);
      for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x) padded.set(x + 20, y + 20, src->get(x, y));
      const RefBitmap want = crop(turned(padded, angle));
      EXPECT_LE(std::abs(want.width - got.width), 2) << angle;
      EXPECT_LE(std::abs(want.height - got.height), 2) << angle;
      // Nearest-pixel turns differ along slanted edges only.
      EXPECT_LE(std::abs(long(want.count()) - long(got.count())), long(want.count() / 20) + 4) << angle;
      engine->free(t.bits);
    }
  // A rule 301 long drifts by 3 rows over its length at 0.01 radians.
  Turned t;
  ASSERT_EQ(turn(rule301, 0.01f, &t), VLT_OK);
  EXPECT_NEAR(t.h, 3 + 3, 1);
  engine->free(t.bits);
}

TEST_F(DeskewTest, InklessRotationIsAnEmptyResult) {
  Turned t{reinterpret_cast<uint8_t*>(1), 5, 5, 5};
  t.bits = nullptr;
  ASSERT_EQ(turn(RefBitmap(40, 10), 0.1f, &t), VLT_OK);
  EXPECT_EQ(t.bits, nullptr);
  EXPECT_EQ(t.w, 0);
  EXPECT_EQ(t.h, 0);
  EXPECT_EQ(t.wpl, 0);
}

TEST_F(DeskewTest, ResultsAreClippedAndArgumentsChecked) {
  const RefBitmap blobs = monotest::make_text_blobs(120, 70, 3);
  Turned t;
  ASSERT_EQ(turn(blobs, 0.05f, &t, 50, 10), VLT_OK);
  EXPECT_EQ(t.w, 50);
  EXPECT_EQ(t.h, 10);
  EXPECT_EQ(t.wpl, 2);
  uint8_t* kept = t.bits;
  EXPECT_EQ(turn(blobs, 0.05f, &t), VLT_ERR_NOT_NULL);
  EXPECT_EQ(t.bits, kept);
  engine->free(kept);
  const std::vector<uint8_t> bytes = packed(blobs, 4);
  ASSERT_GT(blobs.count(), 0u);
  int32_t w = 0, h = 0, wpl = 0;
  EXPECT_EQ(VltDeskew_bmp(bytes.data(), 120, 70, 4, nullptr, &w, &h, &wpl, 0.05f, 99, 99, engine), VLT_ERR_NULL);
  uint8_t* out = nullptr;
  EXPECT_EQ(VltDeskew_bmp(bytes.data(), 120, 70, 3, &out, &w, &h, &wpl, 0.05f, 99, 99, engine), VLT_ERR_PARAM);
  for (size_t k = 1; k <= 2; ++k) {
    alloc.fail_at(k);
    const VltStatus st = VltDeskew_bmp(bytes.data(), 120, 70, 4, &out, &w, &h, &wpl, 0.05f, 999, 999, engine);
    alloc.fail_at(0);
    if (st == VLT_OK) {
      engine->free(out);
      out = nullptr;
      continue;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    EXPECT_EQ(out, nullptr);
  }
}

// A lossy section built the way the section output leaves it.
struct Records {
  VltState* es = nullptr;
  TclySection section{};
  std::vector<TclyPage> pages;
  std::vector<TokComponent*> components;
  std::vector<DeskewSharedBitmap*> shared;  // made by the test; the facility's are collected

  void init(VltState* e, int32_t firstPage, const std::vector<float>& angles, int32_t w, int32_t h) {
    es = e;
    pages.resize(angles.size());
    for (size_t i = 0; i < angles.size(); ++i) {
      tcly_doc_pageInit(&pages[i]);
      pages[i].pageNumber = firstPage + int32_t(i);
      pages[i].skewAngle = angles[i];
      pages[i].width = w;
      pages[i].height = h;
    }
    section.pages = pages.data();
    section.pageCount = int32_t(pages.size());
    section.firstPage = firstPage;
    VltAdt_liNew(&section.classes, es);
  }
  TokOutput* add_class(const RefBitmap& bm) {
    auto* c = static_cast<TokOutput*>(es->calloc(1, sizeof(TokOutput)));
    const uint32_t wpl = words_for(bm.width);
    const std::vector<uint8_t> bytes = packed(bm, wpl);
    auto* bits = static_cast<uint8_t*>(es->malloc(bytes.size()));
    std::memcpy(bits, bytes.data(), bytes.size());
    c->exemplar = TokBitmap{uint16_t(bm.width), uint16_t(bm.height), bits, uint16_t(wpl), nullptr};
    VltAdt_liNew(&c->members, es);
    VltAdt_liAdd(section.classes, c, nullptr);
    return c;
  }
  TokComponent* add_instance(TokOutput* cls, int x, int y, int page, DeskewSharedBitmap* share = nullptr) {
    auto* t = static_cast<TokComponent*>(es->calloc(1, sizeof(TokComponent)));
    t->bitmap = cls->exemplar;
    t->bitmap.owner = t;
    t->x = x;
    t->y = y;
    t->pageNumber = page;
    t->sharedBitmap = share;
    auto* m = static_cast<TokMemberPos*>(es->calloc(1, sizeof(TokMemberPos)));
    m->owner = t;
    VltAdt_liAdd(cls->members, m, nullptr);
    components.push_back(t);
    return t;
  }
  std::vector<int> member_pages(const TokOutput* cls) {
    std::vector<int> out;
    for (VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next)
      out.push_back(static_cast<TokComponent*>(static_cast<TokMemberPos*>(m->data)->owner)->pageNumber);
    return out;
  }
  void release() {
    std::vector<void*> records;
    for (TokComponent* t : components)
      if (t->sharedBitmap != nullptr && std::find(records.begin(), records.end(), t->sharedBitmap) == records.end())
        records.push_back(t->sharedBitmap);
    for (void* r : records) {
      auto* s = static_cast<DeskewSharedBitmap*>(r);
      if (std::find(shared.begin(), shared.end(), s) != shared.end()) continue;
      es->free(s->bitmap);
      es->free(s->references);
      es->free(s);
    }
    for (DeskewSharedBitmap* s : shared) es->free(s);
    for (VltAdtListNode* n = section.classes->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokOutput*>(n->data);
      for (VltAdtListNode* m = c->members->first; m != nullptr; m = m->next) es->free(m->data);
      VltAdt_liFree(c->members);
      es->free(c->exemplar.bits);
      es->free(c);
    }
    VltAdt_liFree(section.classes);
    for (TclyPage& p : pages)
      if (p.runStored != nullptr) VltAdt_liFree(p.runStored);
    for (TokComponent* t : components) es->free(t->runs);
    for (TokComponent* t : components) es->free(t);
  }
};

RefBitmap rule(int w, int h) {
  RefBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.set(x, y, (x + y) % 7 != 0);
  return b;
}

struct SectionDeskewTest : DeskewTest {
  Records r;
  void SetUp() override {
    DeskewTest::SetUp();
    // Pages 1 to 4: skewed, straight, skewed, skewed.
    r.init(engine, 1, {0.01f, 0.0f, 0.01f, 0.05f}, 1000, 800);
  }
  void TearDown() override {
    r.release();
    DeskewTest::TearDown();
  }
};

TEST_F(SectionDeskewTest, ClassesAreGroupedByPageAndCountedWhereTooLong) {
  TokOutput* longer = r.add_class(rule(201, 4));
  for (int page : {3, 1, 3, 2}) r.add_instance(longer, 10, 100, page);
  TokOutput* within = r.add_class(rule(40, 4));
  for (int page : {3, 1, 3}) r.add_instance(within, 10, 200, page);
  TokOutput* single = r.add_class(rule(300, 4));
  r.add_instance(single, 10, 300, 3);

  ASSERT_EQ(countTokensToBeDeskewed(ctx, &r.section), VLT_OK);
  EXPECT_EQ(r.member_pages(longer), (std::vector<int>{3, 3, 1, 2}));
  EXPECT_EQ(r.member_pages(within), (std::vector<int>{3, 1, 3})) << "a class within every length keeps its order";
  EXPECT_EQ(ctx->leastStraighteningLength, 40);
  ASSERT_NE(ctx->straighteningLengths, nullptr);
  EXPECT_EQ(ctx->straighteningLengths[0], 200);
  EXPECT_EQ(ctx->straighteningLengths[1], 0);
  EXPECT_EQ(ctx->straighteningLengths[3], 40);
  const int counts[] = {r.pages[0].deskewCount, r.pages[1].deskewCount, r.pages[2].deskewCount,
                        r.pages[3].deskewCount};
  EXPECT_EQ(counts[0], 1);
  EXPECT_EQ(counts[1], 0);
  EXPECT_EQ(counts[2], 1);
  EXPECT_EQ(counts[3], 0);
}

TEST_F(SectionDeskewTest, TokensTakeTheirPageStraightenedBitmap) {
  TokOutput* longer = r.add_class(rule(201, 4));
  // The instances share a record the output stage made.
  auto* before = static_cast<DeskewSharedBitmap*>(engine->calloc(1, sizeof(DeskewSharedBitmap)));
  before->references = reinterpret_cast<DeskewReferenceNode*>(&r);
  before->bitmap = longer->exemplar.bits;
  r.shared.push_back(before);
  TokComponent* a = r.add_instance(longer, 100, 300, 3, before);
  TokComponent* straight = r.add_instance(longer, 100, 400, 2, before);
  TokComponent* b = r.add_instance(longer, 400, 500, 3, before);
  TokOutput* single = r.add_class(rule(250, 3));
  TokComponent* alone = r.add_instance(single, 50, 700, 1);
  TokOutput* small = r.add_class(rule(150, 3));
  TokComponent* untouched = r.add_instance(small, 50, 750, 1);

  VltAdtList* own = nullptr;
  ASSERT_EQ(VltAdt_liNew(&own, engine), VLT_OK);
  ASSERT_EQ(countTokensToBeDeskewed(ctx, &r.section), VLT_OK);
  ASSERT_EQ(deskewTokens(ctx, own, &r.section), VLT_OK);
  EXPECT_EQ(ctx->straighteningLengths, nullptr);
  EXPECT_EQ(ctx->leastStraighteningLength, TOK_NO_STRAIGHTENING);

  // Page 3's two instances share one new record with the turned bitmap.
  ASSERT_NE(a->sharedBitmap, before);
  EXPECT_EQ(a->sharedBitmap, b->sharedBitmap);
  const auto* made = static_cast<const DeskewSharedBitmap*>(a->sharedBitmap);
  EXPECT_EQ(made->useCount, 2);
  EXPECT_EQ(made->bitmap, a->bitmap.bits);
  ASSERT_NE(made->references, nullptr);
  EXPECT_EQ(made->references->earlier, before->references);
  EXPECT_EQ(made->references->next, nullptr);
  EXPECT_EQ(a->bitmap.height, made->height);
  EXPECT_NEAR(a->bitmap.height, 4 + 2, 1);
  const int dx = (a->bitmap.width - 201) >> 1, dy = (a->bitmap.height - 4) >> 1;
  EXPECT_EQ(a->x, 100 - dx);
  EXPECT_EQ(a->y, 300 + dy);
  EXPECT_EQ(b->x, 400 - dx);
  // The straight page's instance is as it was.
  EXPECT_EQ(straight->sharedBitmap, before);
  EXPECT_EQ(straight->bitmap.bits, longer->exemplar.bits);
  EXPECT_EQ(straight->y, 400);
  // A class of one instance without a record gets a bitmap of its own, listed for the caller.
  ASSERT_EQ(own->count, 1u);
  EXPECT_EQ(own->first->data, alone);
  EXPECT_NE(alone->bitmap.bits, single->exemplar.bits);
  EXPECT_EQ(untouched->bitmap.bits, small->exemplar.bits);
  engine->free(alone->bitmap.bits);
  VltAdt_liFree(own);
}

// The section output makes no shared records: a class of several instances starts one per page
// group instead of being refused.
TEST_F(SectionDeskewTest, GroupsWithoutARecordStartOne) {
  TokOutput* cls = r.add_class(rule(250, 3));
  TokComponent* a = r.add_instance(cls, 10, 10, 1);
  TokComponent* b = r.add_instance(cls, 10, 60, 1);
  TokComponent* other = r.add_instance(cls, 10, 60, 4);
  TokComponent* straight = r.add_instance(cls, 10, 90, 2);
  VltAdtList* own = nullptr;
  ASSERT_EQ(VltAdt_liNew(&own, engine), VLT_OK);
  ASSERT_EQ(countTokensToBeDeskewed(ctx, &r.section), VLT_OK);
  ASSERT_EQ(deskewTokens(ctx, own, &r.section), VLT_OK);
  EXPECT_EQ(own->count, 0u);
  const auto* made = static_cast<const DeskewSharedBitmap*>(a->sharedBitmap);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(b->sharedBitmap, made);
  EXPECT_EQ(made->useCount, 2);
  EXPECT_EQ(made->bitmap, a->bitmap.bits);
  EXPECT_NE(made->bitmap, cls->exemplar.bits);
  ASSERT_NE(made->references, nullptr);
  EXPECT_EQ(made->references->earlier, nullptr);
  EXPECT_EQ(made->references->next, nullptr);
  EXPECT_EQ(a->bitmap.width, made->width);
  EXPECT_EQ(a->bitmap.wordsPerLine, words_for(a->bitmap.width));
  ASSERT_NE(other->sharedBitmap, nullptr);
  EXPECT_NE(other->sharedBitmap, made) << "one record per page";
  EXPECT_NE(static_cast<const DeskewSharedBitmap*>(other->sharedBitmap)->bitmap, made->bitmap);
  EXPECT_EQ(straight->sharedBitmap, nullptr);
  EXPECT_EQ(straight->bitmap.bits, cls->exemplar.bits);
  VltAdt_liFree(own);
}

TEST_F(SectionDeskewTest, InconsistentRecordsAreRefused) {
  TokOutput* cls = r.add_class(rule(250, 3));
  r.add_instance(cls, 10, 10, 1);
  r.add_instance(cls, 10, 60, 1);
  VltAdtList* own = nullptr;
  ASSERT_EQ(VltAdt_liNew(&own, engine), VLT_OK);
  EXPECT_EQ(deskewTokens(ctx, own, &r.section), VLT_ERR_ASSERT) << "the lengths must be counted first";
  EXPECT_EQ(own->count, 0u);
  VltAdt_liFree(own);
  // An instance on a page outside the section.
  r.add_instance(cls, 10, 90, 9);
  EXPECT_EQ(countTokensToBeDeskewed(ctx, &r.section), VLT_ERR_ASSERT);
  EXPECT_EQ(ctx->straighteningLengths, nullptr);
}

TEST_F(SectionDeskewTest, RunStoredComponentsArePaintedAndStraightenedInsideThePage) {
  TclyPage& page = r.pages[0];  // 0.01 radians: length 200
  ASSERT_EQ(VltAdt_liNew(&page.runStored, engine), VLT_OK);
  const auto run_stored = [&](int x, int y, int w, int h, std::vector<uint16_t> runs) {
    auto* t = static_cast<TokComponent*>(engine->calloc(1, sizeof(TokComponent)));
    t->bitmap = TokBitmap{uint16_t(w), uint16_t(h), nullptr, uint16_t(words_for(w)), t};
    t->x = x;
    t->y = y;
    t->pageNumber = 1;
    t->runCount = int32_t(runs.size() / 2);
    t->runs = static_cast<uint16_t*>(engine->malloc(runs.size() * sizeof(uint16_t)));
    std::memcpy(t->runs, runs.data(), runs.size() * sizeof(uint16_t));
    VltAdt_liAdd(page.runStored, t, nullptr);
    r.components.push_back(t);
    return t;
  };
  TokComponent* line = run_stored(10, 40, 250, 1, {0, 249});
  TokComponent* bar = run_stored(780, 100, 210, 3, {0, 209, 0, 209, 0, 209});
  TokComponent* small = run_stored(10, 200, 20, 2, {0, 19, 0, 19});
  ASSERT_EQ(deskewOutliers(ctx, &page), VLT_OK);

  EXPECT_EQ(line->runs, nullptr);
  EXPECT_EQ(line->y, 40) << "one row: its top is its bottom";
  EXPECT_EQ(line->bitmap.width, 250);
  EXPECT_EQ(read_bits(line->bitmap.bits, 250, 1, line->bitmap.wordsPerLine).count(), 250u);

  EXPECT_EQ(bar->runs, nullptr);
  EXPECT_LE(bar->bitmap.height, 3) << "no higher than the component";
  EXPECT_LE(bar->x + bar->bitmap.width, page.width);
  EXPECT_EQ(bar->bitmap.wordsPerLine, words_for(bar->bitmap.width));
  EXPECT_GT(read_bits(bar->bitmap.bits, bar->bitmap.width, bar->bitmap.height, bar->bitmap.wordsPerLine).count(), 400u);

  EXPECT_NE(small->runs, nullptr) << "within the length: kept as runs";
  EXPECT_EQ(small->y, 200);
  for (TokComponent* t : {line, bar}) engine->free(t->bitmap.bits);

  // A straight page is left alone; a broken run list is refused before painting.
  TclyPage& flat = r.pages[1];
  flat.runStored = nullptr;
  EXPECT_EQ(deskewOutliers(ctx, &flat), VLT_OK);
  run_stored(10, 300, 240, 2, {0, 250});
  EXPECT_EQ(deskewOutliers(ctx, &page), VLT_ERR_ASSERT);
}

TEST_F(SectionDeskewTest, PositionsTurnAboutThePageCentre) {
  TclyPage& page = r.pages[0];  // 1000 x 800 at 0.01 radians
  ASSERT_EQ(VltAdt_liNew(&page.components, engine), VLT_OK);
  TokOutput* cls = r.add_class(rule(10, 10));
  const auto at = [&](int x, int bottom) {
    TokComponent* t = r.add_instance(cls, x, bottom, 1);
    VltAdt_liAdd(page.components, t, nullptr);
    ++page.componentCount;
    return t;
  };
  TokComponent* centre = at(495, 405);
  TokComponent* right = at(895, 405);
  TokComponent* below = at(495, 705);
  ASSERT_EQ(deskewPositions(ctx, &page), VLT_OK);
  EXPECT_EQ(centre->x, 495);
  EXPECT_EQ(centre->y, 405);
  EXPECT_EQ(right->y, 405 + 4) << "400 pixels right of the centre drift 4 rows";
  EXPECT_EQ(right->x, 895);
  EXPECT_EQ(below->x, 495 - 2) << "300 rows below drift 3 columns, truncated toward zero after adding 0.5";
  EXPECT_EQ(below->y, 705);
  EXPECT_EQ(deskewPositions(nullptr, &page), VLT_ERR_NULL);
  r.pages[1].components = page.components;
  r.pages[1].componentCount = page.componentCount;
  EXPECT_EQ(deskewPositions(ctx, &r.pages[1]), VLT_OK);
  EXPECT_EQ(right->y, 409) << "a straight page moves nothing";
  r.pages[1].components = nullptr;
  VltAdt_liFree(page.components);
}

TEST_F(SectionDeskewTest, AllocationFailuresLeaveNoLeak) {
  for (size_t k = 1;; ++k) {
    Records s;
    s.init(engine, 1, {0.01f, 0.05f}, 1000, 800);
    TokOutput* cls = s.add_class(rule(250, 3));
    s.add_instance(cls, 10, 10, 2);
    s.add_instance(cls, 10, 10, 1);
    TokOutput* single = s.add_class(rule(220, 5));
    s.add_instance(single, 10, 10, 1);
    TokOutput* bare = s.add_class(rule(230, 4));
    s.add_instance(bare, 10, 10, 1);
    s.add_instance(bare, 10, 40, 1);
    VltAdtList* own = nullptr;
    ASSERT_EQ(VltAdt_liNew(&own, engine), VLT_OK);
    // Instances of the first class share the record the output stage made.
    auto* before = static_cast<DeskewSharedBitmap*>(engine->calloc(1, sizeof(DeskewSharedBitmap)));
    s.shared.push_back(before);
    for (TokComponent* t : s.components)
      if (t->bitmap.bits == cls->exemplar.bits) t->sharedBitmap = before;
    alloc.fail_at(k);
    VltStatus st = countTokensToBeDeskewed(ctx, &s.section);
    if (st == VLT_OK) st = deskewTokens(ctx, own, &s.section);
    alloc.fail_at(0);
    if (st != VLT_OK) {
      EXPECT_TRUE(st == VLT_ERR_NOMEM || st == VLT_ERR_NULL || st == VLT_ERR_VLT_NOMEM) << st << " at " << k;
    }
    for (VltAdtListNode* n = own->first; n != nullptr; n = n->next)
      engine->free(static_cast<TokComponent*>(n->data)->bitmap.bits);
    VltAdt_liFree(own);
    engine->free(ctx->straighteningLengths);
    ctx->straighteningLengths = nullptr;
    s.release();
    if (st == VLT_OK) break;
    ASSERT_LT(k, 400u);
  }
}

}  // namespace
}  // namespace toktest
