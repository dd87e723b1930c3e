// The lossy token document beside the token document: pages, the memory limit, section ends and
// roll-back, carried classes.

#include <gtest/gtest.h>

#include "pagecc_fixture.h"
#include "tok_tcly.h"

namespace toktest {
namespace {

struct TclyTest : PageCCTest {
  TclyDoc* doc = nullptr;
  VltTdcDoc* tdoc = nullptr;

  void TearDown() override {
    if (tdoc != nullptr) {
      VltTdcSection* s = tdoc->section;
      EXPECT_EQ(VltTdc_endDoc(&tdoc, s), VLT_OK);
    }
    if (doc != nullptr) {
      EXPECT_EQ(tcly_doc_end(doc), VLT_OK);
    }
    doc = nullptr;
    PageCCTest::TearDown();
  }

  VltStatus open(int32_t memoryLimit, int32_t resolution = 300) {
    params.minLossySize = 6;
    params.tokFlags |= TOK_FLAG_MEMBER_POS;
    VltStatus st = tcly_doc_init(engine, &doc, 1, 0, 1, resolution, 0, &params, 0, memoryLimit, 0);
    if (st == VLT_OK) st = VltTdc_initDoc(engine, &tdoc, 0, 0, 0, 0, VLT_TDC_PAGE_SLOTS, 0, 0, 0, 0, 0);
    if (st == VLT_OK) st = tcly_doc_startSection(doc, nullptr, 0, 0);
    if (st == VLT_OK) st = VltTdc_startSection(tdoc, nullptr, 0);
    return st;
  }
  // Glyph-like boxes: two big ones for the classifier, a small one for the tokenizer.
  VltStatus add(int32_t number, int shift = 0) {
    RefBitmap page(200, 60);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 9; ++x) {
        page.set(10 + x + shift, 5 + y, true);
        page.set(60 + x, 5 + y, true);
      }
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) page.set(120 + x, 40 + y, true);
    int32_t bpl = 0;
    const std::vector<uint8_t> buf = framed(page, &bpl);
    return tcly_doc_addMonoPage(buf.data(), doc, tdoc, page.width, page.height, bpl, 200, 100, number, 1);
  }
};

TEST_F(TclyTest, PagesAreStoredInBothDocumentsWithTheOverride) {
  ASSERT_EQ(open(-1), VLT_OK);
  for (int32_t p = 0; p < 16; ++p) ASSERT_EQ(add(p), VLT_OK);
  TclySection* s = doc->section;
  EXPECT_EQ(s->pageCount, 16);
  EXPECT_EQ(s->pageCapacity, 22);
  EXPECT_EQ(tdoc->section->pageCount, 16u);
  for (int32_t p = 0; p < 16; ++p) {
    EXPECT_EQ(s->pages[p].index, p);
    EXPECT_EQ(s->pages[p].xRes, 300);
    EXPECT_EQ(s->pages[p].yRes, 300);
    EXPECT_EQ(s->pages[p].componentCount, 2);
    EXPECT_EQ(tdoc->section->pages[p].posCount, 1u);
  }
  EXPECT_EQ(s->full, 0);
  TclySection* ended = nullptr;
  ASSERT_EQ(tcly_doc_endSection(doc, &ended, 1, 0), VLT_OK);
  ASSERT_NE(ended->classes, nullptr);
  EXPECT_EQ(ended->classes->count, 1u) << "the two boxes of every page make one class";
}

TEST_F(TclyTest, RollBackLeavesTheLastPageOut) {
  ASSERT_EQ(open(-1), VLT_OK);
  ASSERT_EQ(add(0), VLT_OK);
  TclySection* s = nullptr;
  EXPECT_EQ(tcly_doc_endSectionRollBack(doc, &s, 0), VLT_ERR_ASSERT);
  ASSERT_EQ(add(1), VLT_OK);
  ASSERT_EQ(tcly_doc_endSectionRollBack(doc, &s, 0), VLT_OK);
  EXPECT_EQ(s->final, 1);
  EXPECT_EQ(s->pageCount, 1);
  EXPECT_EQ(doc->page.pageNumber, 0);
  ASSERT_EQ(s->classes->count, 1u);
  const auto* r = static_cast<TokOutput*>(s->classes->first->data);
  EXPECT_EQ(r->members->count, 2u) << "only the first page's members stay";
  // The next section starts on the same record with a fresh classifier.
  ASSERT_EQ(tcly_doc_startSection(doc, s, 1, 0), VLT_OK);
  EXPECT_EQ(s->pageCount, 0);
  EXPECT_EQ(s->firstPage, 1);
}

TEST_F(TclyTest, PartialEndCarriesDictionaryClasses) {
  ASSERT_EQ(open(-1), VLT_OK);
  ASSERT_EQ(add(0), VLT_OK);
  TclySection* s = nullptr;
  ASSERT_EQ(tcly_doc_endSection(doc, &s, 0, 0), VLT_OK);
  ASSERT_EQ(s->classes->count, 1u);
  static int marker;
  static_cast<TokOutput*>(s->classes->first->data)->dictRef = &marker;
  ASSERT_EQ(tcly_doc_startSection(doc, s, 1, 0), VLT_OK);
  ASSERT_EQ(add(1), VLT_OK);
  ASSERT_EQ(tcly_doc_endSection(doc, &s, 1, 0), VLT_OK);
  ASSERT_EQ(s->classes->count, 1u);
  EXPECT_EQ(static_cast<TokOutput*>(s->classes->first->data)->dictRef, &marker);
}

TEST_F(TclyTest, MemoryLimit) {
  // Far below one page: the only page of a section is an error.
  ASSERT_EQ(open(10), VLT_OK);
  EXPECT_EQ(add(0), -1);
  EXPECT_EQ(doc->section->full, 1);
}

TEST_F(TclyTest, MemoryLimitFillsTheSection) {
  ASSERT_EQ(open(100000), VLT_OK);
  ASSERT_EQ(add(0), VLT_OK);
  EXPECT_EQ(doc->section->full, 0);
  EXPECT_GT(doc->section->memoryUsed, 0);
  const int32_t used = doc->section->memoryUsed;
  ASSERT_EQ(add(1, 2), VLT_OK);
  EXPECT_GE(doc->section->memoryUsed, used);
}

TEST_F(TclyTest, AllocationFailuresLeaveNothingBehind) {
  bool completed = false;
  for (size_t k = 1; k < 600 && !completed; ++k) {
    alloc.fail_at(k);
    VltStatus st = open(-1);
    if (st == VLT_OK) st = add(0);
    if (st == VLT_OK) st = add(1);
    TclySection* s = nullptr;
    if (st == VLT_OK) st = tcly_doc_endSectionRollBack(doc, &s, 0);
    alloc.fail_at(0);
    completed = st == VLT_OK;
    if (tdoc != nullptr) {
      VltTdcSection* ts = tdoc->section;
      ASSERT_EQ(VltTdc_endDoc(&tdoc, ts), VLT_OK);
    }
    if (doc != nullptr) {
      ASSERT_EQ(tcly_doc_end(doc), VLT_OK);
    }
    doc = nullptr;
    ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
  }
  EXPECT_TRUE(completed);
}

}  // namespace
}  // namespace toktest
