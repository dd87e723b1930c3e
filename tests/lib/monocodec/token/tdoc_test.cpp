// The token document: sections, pages, roll-back and the token records made at a section's end.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "pagecc_fixture.h"
#include "tok_tdoc.h"

namespace toktest {
namespace {

struct TdocTest : PageCCTest {
  VltTdcDoc* doc = nullptr;
  std::vector<VltTokenRecord*> arrays;  // section arrays handed out, with their lossless counts
  std::vector<uint32_t> counts;

  void TearDown() override {
    for (size_t i = 0; i < arrays.size(); ++i) {
      for (uint32_t k = 0; k < counts[i]; ++k) engine->free(arrays[i][k].bitmap);
      engine->free(arrays[i]);
    }
    if (doc != nullptr) {
      VltTdcSection* s = doc->section;
      EXPECT_EQ(VltTdc_endDoc(&doc, s), VLT_OK);
    }
    PageCCTest::TearDown();
  }

  // A page of w x h with a filled box of bw x bh at each of the given corners.
  static RefBitmap boxes(std::initializer_list<std::array<int, 4>> list, int w = 200, int h = 60) {
    RefBitmap page(w, h);
    for (const auto& b : list)
      for (int y = 0; y < b[3]; ++y)
        for (int x = 0; x < b[2]; ++x) page.set(b[0] + x, b[1] + y, true);
    return page;
  }
  VltStatus add(const RefBitmap& page, uint32_t number) {
    int32_t bpl = 0;
    const std::vector<uint8_t> buf = framed(page, &bpl);
    return VltTdc_addMonoPage(doc, number, buf.data(), page.width, page.height, bpl, 300, 300, 0);
  }
  VltStatus tokens(VltTdcSection* s, uint8_t final) {
    VltTokenRecord* records = nullptr;
    uint32_t count = 0;
    const VltStatus st = createTokensNew(engine, s->tokenizerOutput, s, &records, &count, final, 0, nullptr);
    if (records != nullptr) {
      arrays.push_back(records);
      counts.push_back(count);
    }
    return st;
  }
};

TEST_F(TdocTest, PartialSectionsContinueTheTokenNumbering) {
  ASSERT_EQ(VltTdc_initDoc(engine, &doc, 0, 0, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0), VLT_OK);
  ASSERT_EQ(VltTdc_startSection(doc, nullptr, 0), VLT_OK);
  // Two 33-pixel boxes make one token used twice; the small box is used once.
  ASSERT_EQ(add(boxes({{2, 2, 33, 5}, {60, 2, 33, 5}, {120, 2, 4, 4}}), 0), VLT_OK);
  ASSERT_EQ(add(boxes({{10, 20, 33, 5}}), 1), VLT_OK);
  VltTdcSection* s = nullptr;
  ASSERT_EQ(VltTdc_endSection(doc, &s, 0, 0), VLT_OK);
  ASSERT_EQ(s->pageCount, 2u);
  ASSERT_EQ(tokens(s, 0), VLT_OK);
  ASSERT_EQ(counts.back(), 1u);
  const VltTokenRecord* shared = &arrays.back()[0];
  EXPECT_EQ(shared->width, 33);
  EXPECT_EQ(shared->lineWords, 2);
  EXPECT_EQ(shared->uses, 3u);
  EXPECT_EQ(mono::load_be32(shared->bitmap + 4) >> 31, 1u) << "column 32 is painted";
  // Every occurrence points at its record, the single use at its page's record.
  for (uint32_t p = 0; p < 2; ++p)
    for (uint32_t i = 0; i < s->pages[p].posCount; ++i) {
      const VltTokenRecord* r = s->pages[p].positions[i].token;
      ASSERT_NE(r, nullptr);
      if (r != shared) {
        EXPECT_EQ(r, &s->pages[p].tokenRecords[0]);
      }
    }
  EXPECT_EQ(s->pages[0].tokenRecordCount, 1u);
  EXPECT_EQ(s->pages[1].tokenRecordCount, 0u);
  ASSERT_EQ(s->tokenizerOutput->count, 1u) << "the shared token is kept for the next section";
  EXPECT_EQ(s->tokenCount, 1u);

  ASSERT_EQ(VltTdc_startSection(doc, s, 0), VLT_OK);
  EXPECT_EQ(s->tokBlock->capacity, 51u);
  EXPECT_EQ(s->tokBlock->count, 1u);
  EXPECT_EQ(s->tokBlock->records[0], shared);
  // The kept token matches again, and a new one takes the next index.
  ASSERT_EQ(add(boxes({{10, 20, 33, 5}, {100, 20, 7, 3}}), 2), VltStatus(VLT_OK));
  EXPECT_EQ(s->tokBlock->count, 2u);
  ASSERT_EQ(VltTdc_endSection(doc, &s, 1, 0), VLT_OK);
  ASSERT_EQ(tokens(s, 1), VLT_OK);
  EXPECT_EQ(s->tokenizerOutput->first, nullptr) << "a final section releases every token";
  EXPECT_EQ(s->pages[0].positions[0].token != nullptr && s->pages[0].positions[1].token != nullptr, true);
}

TEST_F(TdocTest, RollBackDropsTheLastPageAndKeepsOne) {
  ASSERT_EQ(VltTdc_initDoc(engine, &doc, 0, 0, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0), VLT_OK);
  ASSERT_EQ(VltTdc_startSection(doc, nullptr, 0), VLT_OK);
  ASSERT_EQ(add(boxes({{2, 2, 9, 5}}), 0), VLT_OK);
  VltTdcSection* s = nullptr;
  EXPECT_EQ(VltTdc_endSectionRollBack(doc, &s, 0), VLT_ERR_ASSERT) << "a section keeps its only page";
  EXPECT_EQ(doc->section->pageCount, 1u);
  ASSERT_EQ(add(boxes({{2, 2, 9, 5}, {40, 2, 5, 5}}), 1), VLT_OK);
  ASSERT_EQ(VltTdc_endSectionRollBack(doc, &s, 0), VLT_OK);
  EXPECT_EQ(s->final, 1);
  EXPECT_EQ(s->pageCount, 1u);
  EXPECT_EQ(doc->page.pageNumber, 0u);
  // Only the token the first page uses is left, with its first-page occurrence.
  ASSERT_EQ(s->tokenizerOutput->count, 1u);
  const auto* t = static_cast<VltLlToken*>(s->tokenizerOutput->first->data);
  EXPECT_EQ(t->width, 9);
  EXPECT_EQ(t->refs, 1);
  ASSERT_EQ(tokens(s, 1), VLT_OK);
  EXPECT_EQ(s->pages[0].tokenRecordCount, 1u);
}

TEST_F(TdocTest, MemoryFigureIsTheSameTwice) {
  ASSERT_EQ(VltTdc_initDoc(engine, &doc, 0, 0, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0), VLT_OK);
  ASSERT_EQ(VltTdc_startSection(doc, nullptr, 0), VLT_OK);
  ASSERT_EQ(add(boxes({{2, 2, 9, 5}, {40, 2, 9, 5}}), 0), VLT_OK);
  const uint32_t first = tdoc_computeMemUsage(doc);
  EXPECT_EQ(first, 12u * 2 + VLT_TDC_PAGE_CHARGE + VltLlTokMemUsage(doc->tokenizer));
  EXPECT_EQ(tdoc_computeMemUsage(doc), first);
}

TEST_F(TdocTest, RestartWithoutPreviousSectionIsRefused) {
  ASSERT_EQ(VltTdc_initDoc(engine, &doc, 0, 1, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0), VLT_OK);
  EXPECT_NE(doc->colourCC, nullptr);
  ASSERT_EQ(VltTdc_startSection(doc, nullptr, 0), VLT_OK);
  EXPECT_EQ(VltTdc_startSection(doc, nullptr, 0), VLT_ERR_INTERNAL);
}

TEST_F(TdocTest, PageArrayGrowsByHalf) {
  ASSERT_EQ(VltTdc_initDoc(engine, &doc, 0, 0, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0), VLT_OK);
  ASSERT_EQ(VltTdc_startSection(doc, nullptr, 0), VLT_OK);
  for (uint32_t p = 0; p < 16; ++p) ASSERT_EQ(add(boxes({{2, 2, 3, 3}}, 40, 10), p), VLT_OK);
  EXPECT_EQ(doc->section->pageCapacity, 22u);
}

// Every allocation of a document's life failing in turn: a clear status and nothing left behind.
TEST_F(TdocTest, AllocationFailuresLeaveNothingBehind) {
  const RefBitmap page = boxes({{2, 2, 33, 5}, {60, 2, 33, 5}, {120, 2, 4, 4}});
  bool completed = false;
  for (size_t k = 1; k < 400 && !completed; ++k) {
    alloc.fail_at(k);
    VltStatus st = VltTdc_initDoc(engine, &doc, 0, 1, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0);
    if (st == VLT_OK) st = VltTdc_startSection(doc, nullptr, 0);
    if (st == VLT_OK) st = add(page, 0);
    VltTdcSection* s = nullptr;
    if (st == VLT_OK) st = VltTdc_endSection(doc, &s, 0, 0);
    if (st == VLT_OK) st = tokens(s, 0);
    alloc.fail_at(0);
    completed = st == VLT_OK;
    for (size_t i = 0; i < arrays.size(); ++i) {
      for (uint32_t j = 0; j < counts[i]; ++j) engine->free(arrays[i][j].bitmap);
      engine->free(arrays[i]);
    }
    arrays.clear();
    counts.clear();
    if (doc != nullptr) {
      VltTdcSection* cur = doc->section;
      ASSERT_EQ(VltTdc_endDoc(&doc, cur), VLT_OK);
    }
    ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
  }
  EXPECT_TRUE(completed);
}

TEST(IsRect, RunListsOfRectangles) {
  const struct {
    std::vector<uint16_t> runs;
    int rect;
  } cases[] = {
      {{}, 1},
      {{0, 5}, 1},
      {{3, 0}, 0},
      {{0, 5, 0, 5, 0, 5}, 1},
      {{0, 5, 0, 4}, 0},
      {{0, 5, 0, 5, 1, 0, 0, 5}, 1},
      {{0, 5, 0, 5, 3, 0}, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(isRect(c.runs.data(), int32_t(c.runs.size() / 2)), c.rect) << c.runs.size();
}

// Placements of kind-3 objects leave the arrays for sub-image records (the last entry filling each
// freed slot, which is then looked at in turn); bitmaps are drawn inside a 32-pixel frame.
struct SubIfdTest : PageCCTest {
  RefBitmap glyph = monotest::make_text_blobs(37, 6, 3);
  TokBitmap bitmap{};
  VltSubObject objects[4] = {};
  VltSubPlacement placements[5] = {};
  VltSubRef refs[5] = {};
  int32_t count = 5;
  size_t start = 0;

  void SetUp() override {
    PageCCTest::SetUp();
    start = baseline;
    bitmap = TokTest::bitmap(glyph);
    baseline = alloc.live_blocks();
    objects[0] = {1, 100, 20, &bitmap, VLT_SUB_HAS_BITMAP};
    objects[1] = {2, 5, 6, nullptr, 0};
    objects[2] = {3, 7, 8, &bitmap, VLT_SUB_HAS_BITMAP | VLT_SUB_STAYS};
    objects[3] = {4, 9, 10, &bitmap, VLT_SUB_HAS_BITMAP};
    const uint8_t kinds[5] = {3, 1, 3, 3, 3};
    const int objectOf[5] = {0, 1, 2, 1, 3};
    for (int i = 0; i < 5; ++i) {
      placements[i] = {{uint32_t(i), 0}, uint16_t(10 * i), uint16_t(20 * i)};
      refs[i] = {&objects[objectOf[i]], kinds[i]};
    }
  }
  void TearDown() override {
    engine->free(bitmap.bits);
    baseline = start;
    PageCCTest::TearDown();
  }
};

TEST_F(SubIfdTest, KindThreeEntriesLeaveForRecords) {
  VltAdtList* list = nullptr;
  ASSERT_EQ(VltAdt_liNew(&list, engine), VLT_OK);
  ASSERT_EQ(makeSubIFDs(engine, placements, &count, refs, list), VLT_OK);
  // Slot 0 takes entries 0, 4 and 3 in turn and keeps entry 2, whose object stays.
  ASSERT_EQ(count, 2);
  EXPECT_EQ(placements[0].words[0], 2u);
  EXPECT_EQ(placements[1].words[0], 1u);
  EXPECT_EQ(refs[0].object, &objects[2]);
  EXPECT_EQ(refs[1].kind, 1);
  ASSERT_EQ(list->count, 3u);
  const int taken[3] = {0, 4, 3};
  VltAdtListNode* n = list->first;
  for (int k = 0; k < 3; ++k, n = n->next) {
    const auto* r = static_cast<const VltSubIFD*>(n->data);
    const int i = taken[k];
    EXPECT_EQ(r->x, 10 * i);
    EXPECT_EQ(r->y, 20 * i);
    const VltSubObject* o = r->object;
    EXPECT_EQ(r->width, o->width);
    EXPECT_EQ(r->height, o->height);
    if ((o->flags & VLT_SUB_HAS_BITMAP) == 0) {
      EXPECT_EQ(r->image, nullptr) << k;
      continue;
    }
    ASSERT_NE(r->image, nullptr) << k;
    EXPECT_EQ(r->xOffset, 0);
    EXPECT_EQ(r->lineWords * 4, r->image->hdr.bytesPerLine);
    RefBitmap want(37 + 64, 6 + 64), got(37 + 64, 6 + 64);
    for (int y = 0; y < want.height; ++y)
      for (int x = 0; x < want.width; ++x) {
        want.set(x, y, x >= 32 && y >= 32 && x < 32 + 37 && y < 32 + 6 && glyph.get(x - 32, y - 32));
        got.set(x, y, VltImage_getPackedPixel(r->image, x, y));
      }
    EXPECT_EQ(monotest::first_difference(want, got), "") << k;
  }
  ASSERT_EQ(freeSubIFDs(engine, list), VLT_OK);
}

TEST_F(SubIfdTest, FailuresKeepEveryPlacementOnce) {
  objects[1].flags = VLT_SUB_HAS_BITMAP;  // an object claiming a bitmap it does not have
  refs[1].kind = 3;
  VltAdtList* list = nullptr;
  ASSERT_EQ(VltAdt_liNew(&list, engine), VLT_OK);
  EXPECT_EQ(makeSubIFDs(engine, placements, &count, refs, list), VLT_ERR_ASSERT);
  EXPECT_EQ(count + int32_t(list->count), 5);
  ASSERT_EQ(freeSubIFDs(engine, list), VLT_OK);
  EXPECT_EQ(makeSubIFDs(engine, placements, nullptr, refs, list), VLT_ERR_NULL);
}

TEST_F(SubIfdTest, AllocationFailuresLeaveNothingBehind) {
  const VltSubPlacement original[5] = {placements[0], placements[1], placements[2], placements[3], placements[4]};
  const VltSubRef originalRefs[5] = {refs[0], refs[1], refs[2], refs[3], refs[4]};
  bool completed = false;
  for (size_t k = 1; k < 100 && !completed; ++k) {
    std::copy(original, original + 5, placements);
    std::copy(originalRefs, originalRefs + 5, refs);
    count = 5;
    VltAdtList* list = nullptr;
    ASSERT_EQ(VltAdt_liNew(&list, engine), VLT_OK);
    alloc.fail_at(k);
    const VltStatus st = makeSubIFDs(engine, placements, &count, refs, list);
    alloc.fail_at(0);
    completed = st == VLT_OK;
    // Whatever happened, each placement is either still in the arrays or in the list, once.
    std::vector<uint32_t> seen;
    for (int32_t i = 0; i < count; ++i) seen.push_back(placements[i].words[0]);
    for (VltAdtListNode* n = list->first; n != nullptr; n = n->next)
      seen.push_back(uint32_t(static_cast<VltSubIFD*>(n->data)->x / 10));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 1, 2, 3, 4})) << k;
    ASSERT_EQ(freeSubIFDs(engine, list), VLT_OK);
    ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
  }
  EXPECT_TRUE(completed);
}

}  // namespace
}  // namespace toktest
