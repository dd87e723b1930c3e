// Page components: routing by size, the split of tall pages, pages painted back from what the
// routing made (whole pages, strips and the lossless document), skew measurement, refusals, and
// every allocation failing in turn.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pagecc_fixture.h"
#include "pixr_geom.h"
#include "tok_bufcc.h"
#include "tok_skew.h"

namespace {

using monotest::RefBitmap;
using toktest::PageCCTest;

void fill(RefBitmap* bm, int x, int y, int w, int h) {
  for (int v = y; v < y + h; ++v)
    for (int u = x; u < x + w; ++u) bm->set(u, v, 1);
}

// Pages small enough for the emulated PowerPC run, covering the shapes that trip component
// code: single rows and columns, ink on every edge, solid and empty pages, split pages.
std::vector<std::pair<std::string, RefBitmap>> small_pages() {
  std::vector<std::pair<std::string, RefBitmap>> pages;
  pages.emplace_back("sparse noise", monotest::make_noise(300, 200, 0.08, 1));
  pages.emplace_back("dense noise", monotest::make_noise(257, 190, 0.55, 2));
  pages.emplace_back("one row", monotest::make_noise(700, 1, 0.5, 3));
  pages.emplace_back("one column", monotest::make_noise(1, 700, 0.5, 4));
  RefBitmap edges(96, 70);
  fill(&edges, 0, 0, 96, 1);
  fill(&edges, 0, 69, 96, 1);
  fill(&edges, 0, 0, 1, 70);
  fill(&edges, 95, 30, 1, 40);
  edges.set(2, 2, 1);
  edges.set(93, 67, 1);
  pages.emplace_back("edges", edges);
  RefBitmap solid(100, 60);
  fill(&solid, 0, 0, 100, 60);
  pages.emplace_back("solid", solid);
  pages.emplace_back("blank", RefBitmap(50, 50));
  pages.emplace_back("split text", monotest::make_text_blobs(420, 640, 5));
  pages.emplace_back("split lines", monotest::make_lines(380, 560, 6));
  return pages;
}

// Every page paints back exactly, with all small components lossless (classifier words 0) or
// routed by the default size, and with the tenth-size limits making many components large.
TEST_F(PageCCTest, RoutedPagesPaintBackExactly) {
  for (const int lossy : {100000, 6}) {
    open_section(lossy);
    for (const auto& [name, page] : small_pages())
      for (const uint8_t tenth : {uint8_t{0}, uint8_t{1}})
        round_trip(page, tenth, (name + (tenth ? " tenth" : "") + " lossy " + std::to_string(lossy)).c_str());
    close_section();
    tokFreeState(tok);
    tok = nullptr;
  }
}

TEST_F(PageCCTest, ComponentsAreRoutedBySize) {
  open_section(6);
  RefBitmap page(200, 100);
  fill(&page, 5, 5, 3, 3);      // lossless
  fill(&page, 30, 5, 6, 1);     // exactly 6 wide: lossy
  fill(&page, 40, 5, 1, 6);     // exactly 6 high: lossy
  fill(&page, 60, 5, 25, 3);    // wider than a tenth: large, few words for its runs: a bitmap
  fill(&page, 50, 40, 100, 12); // large with one run per four words: kept as runs
  fill(&page, 10, 80, 5, 5);    // lossless
  ASSERT_EQ(open_page(200, 100, 1, 100000), VLT_OK);
  ASSERT_EQ(scan(page), VLT_OK);
  EXPECT_EQ(cc->splitRow, 1);
  EXPECT_EQ(cc->componentCount, 4);
  EXPECT_EQ(cc->largeCount, 2);
  EXPECT_EQ(cc->lossless.componentCount, 2);
  ASSERT_EQ(cc->lossless.residualCount, 2);
  EXPECT_EQ(cc->lossless.residuals[0].bottom, 7);
  EXPECT_EQ(cc->lossless.residuals[1].bottom, 84);
  EXPECT_EQ(cc->lossless.residuals[1].x, 10);
  ASSERT_EQ(cc->large->count, 2u);
  const auto* bar = static_cast<TokComponent*>(cc->large->first->data);
  const auto* block = static_cast<TokComponent*>(cc->large->last->data);
  EXPECT_NE(bar->bitmap.bits, nullptr);
  EXPECT_EQ(bar->y, 7) << "a large bitmap is placed by its bottom row";
  EXPECT_EQ(block->bitmap.bits, nullptr);
  ASSERT_EQ(block->runCount, 12);
  EXPECT_EQ(block->y, 40) << "large runs are placed by their top row";
  EXPECT_EQ(block->runs[0], 0);
  EXPECT_EQ(block->runs[1], 99);
  uint32_t classes = 0;
  ASSERT_EQ(tokGetCount(tok, &classes), VLT_OK);
  EXPECT_EQ(classes, 2u);
  // Charged: large 3 x 1 and 12 x 4 words, the two new classes, the two new lossless tokens.
  EXPECT_EQ(cc->memory, (12 + 32) + (192 + 32) + (4 + 32) + (24 + 32));
  EXPECT_EQ(cc->lossless.memory, (12 + 32) + (20 + 32));
  EXPECT_EQ(monotest::first_difference(page, rebuild(200, 100)), "");
  // Residual room for the positions of every component of the page.
  EXPECT_GE(cc->lossless.residualCapacity, 6);
}

// The collecting callback makes a bitmap of every component and routes none; the scan's user
// time is added to the accumulators.
TEST_F(PageCCTest, CollectingCallbackAndScanTime) {
  open_section(6);
  const RefBitmap page = monotest::make_text_blobs(300, 620, 8);
  ASSERT_EQ(open_page(page.width, page.height), VLT_OK);
  int32_t bpl = 0;
  const std::vector<uint8_t> buf = framed(page, &bpl);
  int64_t seconds = 2, micros = 999999;
  ASSERT_EQ(getBoxesLossy(engine, buf.data(), page.width, page.height, bpl, 1, 0, nullptr, nullptr, &pictures,
                          &positions, MakeModelsFromRunsWithoutTellingTokenizer, cc, &seconds, &micros),
            VLT_OK);
  EXPECT_GE(seconds * 1000000 + micros, 2999999);
  EXPECT_LT(micros, 1000000);
  EXPECT_EQ(pictures->count, 0u);
  EXPECT_EQ(cc->lossless.componentCount, 0);
  EXPECT_EQ(cc->largeCount, 0);
  uint32_t classes = 1;
  ASSERT_EQ(tokGetCount(tok, &classes), VLT_OK);
  EXPECT_EQ(classes, 0u);
  for (VltAdtListNode* n = cc->components->first; n != nullptr; n = n->next)
    EXPECT_NE(static_cast<TokComponent*>(n->data)->bitmap.bits, nullptr);
  EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "");
}

// Pages of at most 500 rows are not split; taller ones split at the emptiest row near the middle.
TEST_F(PageCCTest, TallPagesSplitAtAnEmptyRow) {
  open_section(6);
  // Reduced by 8, the empty band is rows 37 to 39; the search from the middle meets 37 first on
  // the 501-row page and 38 on the 613-row one.
  for (const auto& [height, want] : {std::pair{500, 1}, std::pair{501, 296}, std::pair{613, 304}}) {
    RefBitmap page(300, height);
    for (int y = 0; y < height; ++y)
      if (y < 296 || y >= 320) page.set((y * 7) % 300, y, 1);
    page.set(10, height - 1, 1);
    fill(&page, 100, height - 6, 8, 6);  // a lossy blob in the lower part
    ASSERT_EQ(open_page(300, height), VLT_OK);
    ASSERT_EQ(scan(page), VLT_OK);
    EXPECT_EQ(cc->splitRow, want) << height;
    bool seen = false;
    for (VltAdtListNode* n = cc->components->first; n != nullptr; n = n->next) {
      const auto* c = static_cast<TokComponent*>(n->data);
      if (c->x == 100) {
        EXPECT_EQ(c->y, height - 6) << "placed on the whole page";
        seen = true;
      }
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(monotest::first_difference(page, rebuild(300, height)), "") << height;
    close_page();
  }
}

TEST_F(PageCCTest, SectionHeightVectors) {
  const auto split_of = [&](const RefBitmap& page) {
    const std::vector<uint8_t> rows = toktest::packed(page, toktest::words_for(page.width));
    PIXR* p = nullptr;
    EXPECT_EQ(packedToPixr(engine, rows.data(), page.width, page.height, int32_t(toktest::words_for(page.width)), &p),
              VLT_OK);
    int32_t split = -1;
    EXPECT_EQ(getSectionHeight(engine, p, page.width, &split), VLT_OK);
    w_destroyPixr(engine->ipwState, &p);
    return split;
  };
  // Nearly solid first and last reduced rows: not split.
  RefBitmap bars(300, 600);
  fill(&bars, 0, 0, 300, 8);
  fill(&bars, 0, 592, 300, 8);
  bars.set(5, 300, 1);
  EXPECT_EQ(split_of(bars), 1);
  // Only the top eight rows are empty: the search ends on row 0, which is no split at all.
  RefBitmap top(100, 600);
  for (int y = 8; y < 600; ++y) top.set(y % 100, y, 1);
  EXPECT_EQ(split_of(top), 1);
  // The emptiest full row within the chosen eight, the first of equals.
  RefBitmap mid(80, 800);
  for (int y = 0; y < 800; ++y) fill(&mid, 0, y, y >= 400 && y < 408 ? 3 - (y == 405) - (y == 407) : 5, 1);
  EXPECT_EQ(split_of(mid), 405);
}

// Strips of any height through the record's finder state paint back as the whole page does.
TEST_F(PageCCTest, StripsPaintBackExactly) {
  open_section(6);
  std::mt19937 rng(12);
  for (const auto& [name, page] : small_pages()) {
    ASSERT_EQ(open_page(page.width, page.height, uint8_t(rng() % 2)), VLT_OK);
    for (int row = 0; row < page.height || row == 0;) {
      const int h = std::min(page.height - row, 1 + int(rng() % 90));
      RefBitmap strip(page.width, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < page.width; ++x) strip.set(x, y, page.get(x, row + y));
      int32_t bpl = 0;
      const std::vector<uint8_t> buf = framed(strip, &bpl);
      row += h;
      ASSERT_EQ(getBoxesfromBuffer(engine, buf.data(), page.width, h, bpl, 32, row == page.height, 1, 1, 1, cc), VLT_OK)
          << name;
      if (h == 0) break;
    }
    EXPECT_EQ(cc->stripRow, page.height);
    EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "") << name;
    int32_t bpl = 0;
    const std::vector<uint8_t> buf = framed(page, &bpl);
    EXPECT_EQ(getBoxesfromBuffer(engine, buf.data(), page.width, 1, bpl, 32, 1, 1, 1, 1, cc), VLT_ERR_PARAM)
        << "a strip past the page";
    EXPECT_EQ(getBoxesfromBuffer(engine, buf.data(), page.width, 0, bpl, 0, 1, 1, 1, 1, cc), VLT_ERR_PARAM);
    close_page();
  }
}

// The lossless document: everything within the limits to the tokenizer, the rest kept as runs.
TEST_F(PageCCTest, LosslessDocumentPagesPaintBack) {
  open_section(6);
  for (const auto& [name, page] : small_pages()) {
    int32_t bpl = 0;
    const std::vector<uint8_t> buf = framed(page, &bpl);
    int32_t count = -1;
    ResidualPos* residuals = nullptr;
    VltAdtList* large = nullptr;
    ++pageIndex;
    printed.codes.clear();
    ASSERT_EQ(VltCC_getBoxes(engine, &count, &residuals, &large, ll, buf.data(), page.width, page.height, 40, 30, bpl,
                             tokBlock, posBlock, pageIndex, 1, 1),
              VLT_OK)
        << name;
    RefBitmap out(page.width, page.height);
    bool outside = false;
    for (VltAdtListNode* n = large->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokComponent*>(n->data);
      EXPECT_TRUE(c->bitmap.width > 40 || c->bitmap.height > 30);
      paint_runs(&out, c->runs, c->runCount, c->x, c->y, &outside);
      tok_freeComponent(engine, c, TOK_POOL_LOSSLESS_CC);
    }
    VltAdt_liFree(large);
    paint_lossless(&out, residuals, pageIndex, &outside);
    EXPECT_FALSE(outside);
    EXPECT_EQ(monotest::first_difference(page, out), "") << name;
    EXPECT_EQ(residuals == nullptr, count == 0);
    engine->free(residuals);
    EXPECT_EQ(printed.codes, std::vector<int32_t>(4, VLT_CODE_REPORT));
    EXPECT_NE(printed.text.find("GetBoxes() ends (ok)."), std::string::npos);
  }
  // Without a place for the large list its components are freed; an empty page gives nothing.
  const RefBitmap page = monotest::make_lines(200, 100, 9);
  int32_t bpl = 0;
  const std::vector<uint8_t> buf = framed(page, &bpl);
  int32_t count = -1;
  ResidualPos* residuals = nullptr;
  ASSERT_EQ(VltCC_getBoxes(engine, &count, &residuals, nullptr, ll, buf.data(), 200, 100, 10, 10, bpl, tokBlock,
                           posBlock, 9, 1, 0),
            VLT_OK);
  engine->free(residuals);
  VltAdtList* large = reinterpret_cast<VltAdtList*>(&count);
  EXPECT_EQ(VltCC_getBoxes(engine, &count, &residuals, &large, ll, buf.data(), 0, 100, 10, 10, bpl, tokBlock, posBlock,
                           9, 1, 0),
            VLT_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(residuals, nullptr);
  EXPECT_EQ(large, nullptr);
}

TEST_F(PageCCTest, RefusalsAndMissingRecords) {
  open_section(6);
  EXPECT_EQ(ccDataInit(engine, 1, 0, 300, 300, 6, 6, 1, tok, 0, TOK_MAX_PAGE_SIDE + 1, 10, &cc), VLT_ERR_PARAM);
  EXPECT_EQ(ccDataInit(engine, 1, 0, 300, 300, 6, 6, 1, tok, 0, 10, TOK_MAX_PAGE_SIDE + 1, &cc), VLT_ERR_PARAM);
  EXPECT_EQ(cc, nullptr);
  ASSERT_EQ(open_page(TOK_MAX_PAGE_SIDE, 1), VLT_OK) << "the largest page is taken";
  EXPECT_EQ(cc->maxWidth, int32_t(TOK_MAX_BITMAP_SIDE)) << "wider components than the classifier takes are large";
  RefBitmap wide(TOK_MAX_PAGE_SIDE, 1);
  fill(&wide, 100, 0, 20000, 1);
  wide.set(TOK_MAX_PAGE_SIDE - 1, 0, 1);
  ASSERT_EQ(scan(wide), VLT_OK);
  EXPECT_EQ(cc->largeCount, 1);
  EXPECT_EQ(monotest::first_difference(wide, rebuild(wide.width, 1)), "");
  close_page();

  const RefBitmap page = monotest::make_noise(60, 40, 0.3, 1);
  int32_t bpl = 0;
  const std::vector<uint8_t> buf = framed(page, &bpl);
  ASSERT_EQ(open_page(60, 40), VLT_OK);
  const auto lossy = [&](int32_t w, int32_t h, int32_t b, VltAdtList** pics) {
    return getBoxesLossy(engine, buf.data(), w, h, b, 1, 0, nullptr, nullptr, pics, &positions, nullptr, cc, nullptr,
                         nullptr);
  };
  EXPECT_EQ(lossy(60, 40, bpl + 4, &pictures), VLT_ERR_ASSERT) << "a line length of another layout";
  EXPECT_EQ(lossy(TOK_MAX_PAGE_SIDE + 1, 40, bpl, &pictures), VLT_ERR_PARAM);
  EXPECT_EQ(lossy(60, 40, bpl, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(pictures, nullptr);
  int32_t count = 0;
  ResidualPos* residuals = nullptr;
  EXPECT_EQ(VltCC_getBoxes(engine, &count, &residuals, nullptr, ll, buf.data(), TOK_MAX_PAGE_SIDE + 1, 40, 9, 9, bpl,
                           tokBlock, posBlock, 0, 1, 0),
            VLT_ERR_PARAM);
  EXPECT_EQ(VltCC_getBoxes(engine, &count, &residuals, nullptr, ll, buf.data(), 60, 40, 9, 9, 0, tokBlock, posBlock, 0,
                           1, 0),
            VLT_ERR_PARAM);
  EXPECT_EQ(VltCC_getBoxes(engine, &count, &residuals, nullptr, nullptr, buf.data(), 60, 40, 9, 9, bpl, tokBlock,
                           posBlock, 0, 1, 0),
            VLT_ERR_NULL);
  EXPECT_EQ(VltCC_getBoxes(nullptr, &count, &residuals, nullptr, ll, buf.data(), 60, 40, 9, 9, bpl, tokBlock, posBlock,
                           0, 1, 0),
            VLT_ERR_PARAM);
  EXPECT_EQ(VltLlCCData_init(engine, nullptr, 0, ll, nullptr, 0, 0, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0),
            VLT_ERR_NULL);
}

TEST_F(PageCCTest, SkewIsMeasuredInEachOrientation) {
  struct Level {
    int32_t level, sampling;
  };
  for (const Level l : {Level{7, 1}, Level{5, 1}, Level{3, 4}, Level{0, 32}, Level{-3, 32}}) {
    DeskewContext* d = nullptr;
    ASSERT_EQ(deskewInit(&d, l.level, 2, engine), VLT_OK);
    EXPECT_EQ(d->sampling, l.sampling) << l.level;
    EXPECT_EQ(d->orientation, 2);
    deskewCleanup(d);
  }
  EXPECT_EQ(deskewInit(nullptr, 1, 0, engine), VLT_ERR_NULL);
  deskewCleanup(nullptr);
  EXPECT_TRUE(tok_skewAccepted(6, 0.52359873f));
  EXPECT_FALSE(tok_skewAccepted(6, 0.523598776f)) << "the float nearest 30 degrees lies beyond it";
  EXPECT_TRUE(tok_skewAccepted(6, -0.52359873f));
  EXPECT_FALSE(tok_skewAccepted(5, 0.01f));

  IPWState* w = engine->ipwState;
  const RefBitmap page = monotest::turned(monotest::make_text_blobs(900, 640, 12), 0.02);
  const std::vector<uint8_t> rows = toktest::packed(page, toktest::words_for(page.width));
  PIXR* upright = nullptr;
  ASSERT_EQ(packedToPixr(engine, rows.data(), page.width, page.height, int32_t(toktest::words_for(page.width)), &upright),
            VLT_OK);
  for (const int32_t orientation : {0, 1, 2, 3, 4}) {
    // The page handed in is turned so that the context's turn brings it upright again.
    PIXR* given = nullptr;
    VltStatus turn = VLT_OK;
    if (orientation == 1) turn = w_rotate180(w, upright, &given);
    if (orientation == 2) turn = w_rotate90(w, upright, &given);
    if (orientation == 3) turn = w_rotate270(w, upright, &given);
    ASSERT_EQ(turn, VLT_OK);
    DeskewContext* d = nullptr;
    ASSERT_EQ(deskewInit(&d, 4, orientation, engine), VLT_OK);
    float angle = 1.0f;
    ASSERT_EQ(getSkewAngle(d, given != nullptr ? given : upright, &angle), VLT_OK);
    EXPECT_NEAR(angle, -0.02, 0.004) << orientation;
    EXPECT_EQ(getSkewAngle(d, upright, nullptr), VLT_ERR_NULL);
    deskewCleanup(d);
    w_destroyPixr(w, &given);
  }
  w_destroyPixr(w, &upright);

  // A page scanned with a skew context gets its angle and is not split.
  open_section(6);
  DeskewContext* d = nullptr;
  ASSERT_EQ(deskewInit(&d, 4, 0, engine), VLT_OK);
  ASSERT_EQ(open_page(page.width, page.height), VLT_OK);
  float angle = 0.0f;
  ASSERT_EQ(scan(page, d, &angle), VLT_OK);
  EXPECT_NEAR(angle, -0.02, 0.004);
  EXPECT_EQ(cc->splitRow, 1);
  EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "");
  deskewCleanup(d);
}

// A split page with every kind of component and charging on, with the k-th allocation failing:
// each scan fails with 1 or succeeds, and releasing the page and section leaves nothing behind.
TEST_F(PageCCTest, EveryAllocationFailureIsSurvived) {
  RefBitmap page = monotest::make_text_blobs(160, 540, 3);
  fill(&page, 0, 270, 160, 2);
  fill(&page, 150, 0, 3, 540);
  int32_t bpl = 0;
  const std::vector<uint8_t> buf = framed(page, &bpl);
  size_t failures = 0;
  for (size_t k = 1;; ++k) {
    open_section(6);
    alloc.fail_at(k);
    VltStatus st = open_page(page.width, page.height, 1, 1000000);
    if (st == VLT_OK)
      st = getBoxesLossy(engine, buf.data(), page.width, page.height, bpl, 1, 0, nullptr, nullptr, &pictures,
                         &positions, nullptr, cc, nullptr, nullptr);
    const bool failed = alloc.failures() > failures;
    failures = alloc.failures();
    alloc.fail_at(0);
    if (st == VLT_OK) {
      EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "");
    }
    close_page();
    close_section();
    tokFreeState(tok);
    tok = nullptr;
    ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
    if (!failed) {
      ASSERT_EQ(st, VLT_OK);
      break;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM) << "allocation " << k;
  }
  EXPECT_GT(failures, 30u);

  // The same for the lossless document.
  open_section(6);
  failures = alloc.failures();
  int shrinks = 0;
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    int32_t count = 0;
    ResidualPos* residuals = nullptr;
    VltAdtList* large = nullptr;
    const VltStatus st = VltCC_getBoxes(engine, &count, &residuals, &large, ll, buf.data(), page.width, page.height, 20,
                                        20, bpl, tokBlock, posBlock, 0, 1, 0);
    const bool failed = alloc.failures() > failures;
    failures = alloc.failures();
    alloc.fail_at(0);
    engine->free(residuals);
    if (large != nullptr) {
      for (VltAdtListNode* n = large->first; n != nullptr; n = n->next)
        tok_freeComponent(engine, static_cast<TokComponent*>(n->data), TOK_POOL_LOSSLESS_CC);
      VltAdt_liFree(large);
    }
    if (!failed) {
      ASSERT_EQ(st, VLT_OK);
      break;
    }
    // Only the final shrink of the residual array may fail without harm: the array stays larger.
    if (st == VLT_OK) {
      EXPECT_GT(count, 0) << "allocation " << k;
      ++shrinks;
    }
  }
  EXPECT_EQ(shrinks, 1);
}

}  // namespace
