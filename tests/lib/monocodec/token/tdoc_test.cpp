// The token document: sections, pages, roll-back and the token records made at a section's end.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace toktest
