#ifndef PAGECC_FIXTURE_H
#define PAGECC_FIXTURE_H

// A page-component test bed: one section (classifier copying the bits it is given, lossless
// tokenizer, token and position blocks) and one open page at a time, and the page rebuilt from
// what the routing produced: every large and lossy component's bitmap or runs and every lossless
// token's runs painted (exclusive-or, so a pixel painted twice shows) where its records put it.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "byteorder.h"
#include "tok_fixture.h"
#include "tok_insert.h"
#include "tok_pagecc.h"

namespace toktest {

struct PageCCTest : TokTest {
  VltLlTokState* ll = nullptr;
  VltTokBlock* tokBlock = nullptr;
  VltPosBlock* posBlock = nullptr;
  CcData* cc = nullptr;
  VltAdtList* pictures = nullptr;
  VltAdtList* positions = nullptr;
  int32_t pageIndex = 0;
  int32_t minLossy = 6;

  PageCCTest() { wrapper = 1; }
  void TearDown() override {
    close_page();
    close_section();
    TokTest::TearDown();
  }

  // A framed page buffer with the wrapper's line length.
  std::vector<uint8_t> framed(const RefBitmap& page, int32_t* bpl) {
    size_t size = 0;
    EXPECT_EQ(w_pixrImageProperties(engine->ipwState, page.width, page.height, 1, 32, bpl, &size), VLT_OK);
    std::vector<uint8_t> buf(size_t(*bpl) * size_t(page.height + 64), 0);
    for (int y = 0; y < page.height; ++y)
      for (int x = 0; x < page.width; ++x)
        if (page.get(x, y)) mono::set_bit(buf.data() + size_t(y + 32) * size_t(*bpl), size_t(x + 32), 1);
    return buf;
  }

  void open_section(int minLossySize) {
    minLossy = minLossySize;
    params.minLossySize = minLossySize;
    params.tokFlags |= TOK_FLAG_COPY_BITS | TOK_FLAG_MEMBER_POS;
    ASSERT_EQ(tokInit(&params, &tok), VLT_OK);
    VltLlTokOptions o{0, engine};
    ASSERT_EQ(VltLlTokInit(&ll, &o), VLT_OK);
    ASSERT_EQ(VltCC_initTokBlock(engine, &tokBlock, 50), VLT_OK);
    ASSERT_EQ(VltCC_initPosBlock(engine, &posBlock, 50), VLT_OK);
  }
  void close_section() {
    if (ll != nullptr) VltLlTokAbort(ll);
    ll = nullptr;
    VltCC_cleanupTokBlock(engine, tokBlock);
    VltCC_cleanupPosBlock(engine, posBlock);
    tokBlock = nullptr;
    posBlock = nullptr;
  }

  // Each page gets an index of its own in the section.
  VltStatus open_page(int32_t width, int32_t height, uint8_t tenth = 0, int32_t memoryLimit = 0) {
    ++pageIndex;
    VltStatus st = ccDataInit(engine, 7, memoryLimit, 300, 300, minLossy, minLossy, 1, tok, tenth, width, height, &cc);
    if (st != VLT_OK) return st;
    auto* residuals = static_cast<ResidualPos*>(engine->malloc(5000 * sizeof(ResidualPos)));
    if (residuals == nullptr) return VLT_ERR_NOMEM;
    return VltLlCCData_init(engine, &cc->lossless, 0, ll, residuals, 0, 5000, nullptr, cc->maxWidth, cc->maxHeight,
                            tokBlock, posBlock, pageIndex, 0, 0);
  }
  void close_page() {
    if (cc != nullptr) {
      for (VltAdtListNode* n = cc->components->first; n != nullptr; n = n->next)
        tok_freeComponent(engine, static_cast<TokComponent*>(n->data), TOK_POOL_COMPONENT);
      VltAdt_liFree(cc->components);
      VltAdt_liFree(cc->large);
      engine->free(cc->lossless.residuals);
      ccDataCleanup(engine, &cc);
    }
    if (pictures != nullptr) VltAdt_liFree(pictures);
    if (positions != nullptr) VltAdt_liFree(positions);
    pictures = positions = nullptr;
  }

  VltStatus scan(const RefBitmap& page, DeskewContext* skew = nullptr, float* angle = nullptr) {
    int32_t bpl = 0;
    const std::vector<uint8_t> buf = framed(page, &bpl);
    return getBoxesLossy(engine, buf.data(), page.width, page.height, bpl, 1, 0, skew, angle, &pictures, &positions,
                         nullptr, cc, nullptr, nullptr);
  }

  // Opens the page, scans it and checks it paints back exactly.
  void round_trip(const RefBitmap& page, uint8_t tenth, const char* what) {
    ASSERT_EQ(open_page(page.width, page.height, tenth), VLT_OK) << what;
    ASSERT_EQ(scan(page), VLT_OK) << what;
    EXPECT_GE(cc->splitRow, 1) << what;
    EXPECT_LE(cc->splitRow, std::max(page.height - 1, 1)) << what;
    EXPECT_EQ(int64_t(cc->components->count), int64_t(cc->componentCount)) << what;
    EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "") << what;
    close_page();
  }

  static void flip(RefBitmap* out, int x, int y, bool* outside) {
    if (x < 0 || y < 0 || x >= out->width || y >= out->height) {
      *outside = true;
      return;
    }
    out->set(x, y, !out->get(x, y));
  }
  static void paint_bits(RefBitmap* out, const uint8_t* bits, int wpl, int w, int h, int x, int y, bool* outside) {
    for (int v = 0; v < h; ++v)
      for (int u = 0; u < w; ++u)
        if (mono::get_bit(tok_row(bits, uint32_t(wpl), uint32_t(v)), size_t(u))) flip(out, x + u, y + v, outside);
  }
  // Pairs (first, last) in page order from the top row.
  static void paint_runs(RefBitmap* out, const uint16_t* runs, int n, int x, int top, bool* outside) {
    int row = top - 1, prevLast = -100;
    for (int i = 0; i < n; ++i) {
      const int first = runs[2 * i], last = runs[2 * i + 1];
      if (i == 0 || first <= prevLast + 1) ++row;
      for (int c = first; c <= last; ++c) flip(out, x + c, row, outside);
      prevLast = last;
    }
  }

  // Large and lossy components of the open page.
  void paint_components(RefBitmap* out, bool* outside) {
    std::set<const TokComponent*> large;
    for (VltAdtListNode* n = cc->large->first; n != nullptr; n = n->next) large.insert(static_cast<TokComponent*>(n->data));
    for (VltAdtListNode* n = cc->components->first; n != nullptr; n = n->next) {
      const auto* c = static_cast<const TokComponent*>(n->data);
      const int w = c->bitmap.width, h = c->bitmap.height;
      EXPECT_EQ(c->bitmap.owner, c);
      if (c->bitmap.bits != nullptr)
        paint_bits(out, c->bitmap.bits, c->bitmap.wordsPerLine, w, h, c->x, large.count(c) ? c->y - h + 1 : c->y,
                   outside);
      else if (c->runs != nullptr)
        paint_runs(out, c->runs, c->runCount, c->x, c->y, outside);
      else
        ADD_FAILURE() << "a component without pixels";
    }
  }

  // The lossless tokens' occurrences on page `index`, placed through the position block.
  void paint_lossless(RefBitmap* out, const ResidualPos* residuals, int32_t index, bool* outside) {
    VltAdtList* list = nullptr;
    ASSERT_EQ(VltLlTokPartial(ll, &list), VLT_OK);
    for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
      const auto* t = static_cast<const VltLlToken*>(n->data);
      const int wpl = (t->width + 31) / 32;
      uint8_t* bits = nullptr;
      ASSERT_EQ(RunsToUnframedBitmap(&bits, t->runs, t->count, t->height, wpl, 0, engine), VLT_OK);
      for (VltAdtListNode* o = t->occurrences->first; o != nullptr; o = o->next) {
        const VltPosEntry& e = posBlock->entries[reinterpret_cast<uintptr_t>(o->data)];
        if (int32_t(e.page) != index) continue;
        const ResidualPos& r = residuals[e.position];
        paint_bits(out, bits, wpl, t->width, t->height, r.x, r.bottom - t->height + 1, outside);
      }
      engine->free(bits);
    }
    ASSERT_EQ(VltLlTokResume(ll, list), VLT_OK);
  }

  RefBitmap rebuild(int w, int h) {
    RefBitmap out(w, h);
    bool outside = false;
    paint_components(&out, &outside);
    paint_lossless(&out, cc->lossless.residuals, pageIndex, &outside);
    EXPECT_FALSE(outside) << "a pixel painted outside the page";
    return out;
  }
};

}  // namespace toktest

#endif
