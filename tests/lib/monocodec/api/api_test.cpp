// The engine handle: refusals of foreign handles, defaults, the memory bound and its roll-back,
// segment numbering across sections, and allocation failures at every step.

#include <gtest/gtest.h>

#include "api_fixture.h"
#include "counting_alloc.h"
#include "vlt_api_handle.h"

namespace {

using apitest::Encoded;
using apitest::EncodeSetup;
using monotest::RefBitmap;

VltApiOptions plain_options(int32_t memoryLimit = -1) {
  VltApiOptions o{};
  o.minSize = 1;
  o.resolution = 300;
  o.profile = 2;
  o.tenthSize = 1;
  o.memoryLimit = memoryLimit;
  o.singlePage = 1;
  return o;
}

// Text-like pages: rows of glyph blobs that differ from page to page.
std::vector<RefBitmap> text_pages(int n, int w = 600, int h = 400) {
  std::vector<RefBitmap> pages;
  for (int i = 0; i < n; ++i) pages.push_back(monotest::make_text_blobs(w, h, 100 + uint32_t(i)));
  return pages;
}

TEST(VltApi, ForeignHandlesAreRefused) {
  VltApiHandle* h = nullptr;
  const VltApiOptions o = plain_options();
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  VltApiHandle copy = *h;  // a record whose self field names another address
  uint8_t full = 0;
  VltApiDict dict{};
  VltApiPosBlock block{};
  VltPageDesc page{};
  for (VltApiHandle* bad : {&copy, static_cast<VltApiHandle*>(nullptr)}) {
    EXPECT_EQ(VltApi_startSection(bad), VLT_ERR_ASSERT);
    EXPECT_EQ(VltApi_addMonoPage(bad, &page, &full), VLT_ERR_ASSERT);
    EXPECT_EQ(VltApi_addMonoBuffer(bad, nullptr, 1, 1, 1, 1, 300, 300, 1, 1, &full), VLT_ERR_ASSERT);
    EXPECT_EQ(VltApi_endSectionGetDict(bad, 0, &dict), VLT_ERR_ASSERT);
    EXPECT_EQ(VltApi_getNextPosBlock(bad, &block), VLT_ERR_ASSERT);
    EXPECT_EQ(VltApi_close(bad), VLT_ERR_ASSERT);
  }
  EXPECT_EQ(VltApi_cleanSection(nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(h->sectionOpen, 0);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
}

TEST(VltApi, DefaultsAndCloseReleaseEverything) {
  monotest::CountingAllocator alloc;
  alloc.make_current();
  const VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                        monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  VltApiHandle* h = nullptr;
  const VltApiOptions o = plain_options();
  ASSERT_EQ(VltApi_init(&h, &mem, nullptr, &o, nullptr, nullptr), VLT_OK);
  TokParams d{};
  tokSetDefaults(&d);
  const TokParams& p = *h->params;
  EXPECT_EQ(p.matchFraction, d.matchFraction);
  EXPECT_EQ(p.maxDense, d.maxDense);
  EXPECT_EQ(p.widthDiff, d.widthDiff);
  EXPECT_EQ(p.heightDiff, d.heightDiff);
  EXPECT_EQ(p.commitCount, d.commitCount);
  EXPECT_EQ(p.sumLimit, d.sumLimit);
  EXPECT_EQ(p.sumStart, d.sumStart);
  EXPECT_EQ(p.sumOutputMin, d.sumOutputMin);
  EXPECT_EQ(p.maxShift, d.maxShift);
  EXPECT_EQ(p.thresholdOffset, d.thresholdOffset);
  EXPECT_EQ(p.thresholdKnee, d.thresholdKnee);
  EXPECT_EQ(p.minLossySize, d.minLossySize);
  EXPECT_EQ(p.thresholdSlope, d.thresholdSlope);
  EXPECT_EQ(p.frameMarginWord, d.frameMarginWord);
  EXPECT_EQ(p.tokFlags, 0x18u);
  EXPECT_EQ(p.engineState, h->state);
  const auto* tdc = static_cast<const VltTdcOptions*>(h->tokenDoc->options);
  EXPECT_EQ(tdc->pageSlots, 301u);
  EXPECT_EQ(tdc->docWord, 1u);
  EXPECT_EQ(tdc->byteD, 1);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
  EXPECT_EQ(alloc.live_blocks(), 0u);
  EXPECT_EQ(alloc.foreign(), 0u);
}

TEST(VltApi, MemoryBound) {
  VltApiHandle* h = nullptr;
  const VltApiOptions o = plain_options(1000);
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  uint8_t full = 7;
  EXPECT_EQ(VltApi_checkTokMemoryBond(h, &full), VLT_ERR_NULL) << "no section yet";
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  TclySection* s = h->lossyDoc->section;
  EXPECT_EQ(VltApi_startSection(h), VLT_OK);
  EXPECT_EQ(h->lossyDoc->section, s) << "an open section stays";
  struct Case {
    int32_t lossy;
    uint32_t tokens;
    uint8_t full, over;
  };
  for (const Case& c : {Case{0, 0, 0, 0}, Case{800, 99, 0, 0}, Case{800, 100, 1, 0}, Case{999, 0, 1, 0},
                        Case{900, 100, 1, 1}, Case{5000, 0, 1, 1}}) {
    s->memoryUsed = c.lossy;
    h->tokenDoc->section->memory = c.tokens;
    ASSERT_EQ(VltApi_checkTokMemoryBond(h, &full), VLT_OK);
    EXPECT_EQ(full, c.full) << c.lossy << " + " << c.tokens;
    EXPECT_EQ(h->overLimit, c.over) << c.lossy << " + " << c.tokens;
  }
  // Near the bound a page is refused and nothing changes.
  s->memoryUsed = 900;
  const RefBitmap page = text_pages(1)[0];
  uint32_t bpl = 0;
  std::vector<uint8_t> buf = apitest::framed(page, &bpl);
  VltPageDesc desc{buf.data(), uint32_t(page.width), uint32_t(page.height), bpl, 300, 300};
  full = 0;
  ASSERT_EQ(VltApi_addMonoPage(h, &desc, &full), VLT_OK);
  EXPECT_EQ(full, 1);
  EXPECT_EQ(h->pagesAdded, 0u);
  EXPECT_EQ(s->pageCount, 0);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
}

TEST(VltApi, NoBoundNeverFills) {
  VltApiHandle* h = nullptr;
  const VltApiOptions o = plain_options(-1);
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  h->lossyDoc->section->memoryUsed = INT32_MAX;
  uint8_t full = 1;
  ASSERT_EQ(VltApi_checkTokMemoryBond(h, &full), VLT_OK);
  EXPECT_EQ(full, 0);
  EXPECT_EQ(h->overLimit, 0);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
}

// A bound a few pages wide: the page that crosses it comes back out, numbering runs on.
TEST(VltApi, BoundRollsBackAndNumberingContinues) {
  const std::vector<RefBitmap> pages = text_pages(7);
  for (bool lossless : {true, false}) {
    SCOPED_TRACE(lossless);
    EncodeSetup s;
    s.lossless = lossless;
    s.memoryLimit = 30000;
    Encoded e;
    std::string what;
    ASSERT_EQ(apitest::encode(pages, s, &e, &what), VLT_OK) << what;
    EXPECT_GE(e.fullSections, 1);
    EXPECT_GT(e.dictionaries.size(), 1u);
    EXPECT_EQ(e.pages.size(), pages.size());
    EXPECT_EQ(apitest::check_segments(e), "");
  }
}

TEST(VltApi, RollBackTakesTheLastPageOut) {
  VltApiHandle* h = nullptr;
  const VltApiOptions o = plain_options(1 << 30);
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  const std::vector<RefBitmap> pages = text_pages(3);
  for (const RefBitmap& page : pages) {
    uint32_t bpl = 0;
    std::vector<uint8_t> buf = apitest::framed(page, &bpl);
    VltPageDesc desc{buf.data(), uint32_t(page.width), uint32_t(page.height), bpl, 300, 300};
    uint8_t full = 0;
    ASSERT_EQ(VltApi_addMonoPage(h, &desc, &full), VLT_OK);
    EXPECT_EQ(full, 0);
  }
  EXPECT_EQ(h->pagesAdded, 3u);
  h->overLimit = 1;  // as if the third page had crossed the bound
  VltApiDict dict{};
  ASSERT_EQ(VltApi_endSectionGetDict(h, 0, &dict), VLT_OK);
  std::free(dict.bytes);
  EXPECT_EQ(h->pagesAdded, 2u);
  EXPECT_EQ(h->overLimit, 0);
  EXPECT_EQ(h->sectionOpen, 0);
  EXPECT_EQ(h->lossyDoc->section->pageCount, 2);
  EXPECT_EQ(h->tokenDoc->section->pageCount, 2u);
  for (int p = 0; p < 2; ++p) {
    VltApiPosBlock block{};
    ASSERT_EQ(VltApi_getNextPosBlock(h, &block), VLT_OK);
    EXPECT_GT(block.length, 0u);
    std::free(block.bytes);
  }
  VltApiPosBlock extra{};
  EXPECT_EQ(VltApi_getNextPosBlock(h, &extra), VLT_ERR_ASSERT) << "the section has no third page";
  EXPECT_EQ(extra.bytes, nullptr);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
}

// Every allocation of a two-section run fails once in turn: each failure comes back as a status
// (or leaves the output as it was) and closing the handle leaves nothing behind.
TEST(VltApi, AllocationFailuresLeaveNothingBehind) {
  const std::vector<RefBitmap> pages = text_pages(3, 200, 120);
  monotest::CountingAllocator alloc;
  alloc.make_current();
  const VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                        monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  for (bool lossless : {true, false}) {
    EncodeSetup s;
    s.lossless = lossless;
    s.pagesPerSection = 2;
    s.memory = &mem;
    Encoded clean;
    std::string what;
    ASSERT_EQ(apitest::encode(pages, s, &clean, &what), VLT_OK) << what;
    ASSERT_EQ(alloc.live_blocks(), 0u);
    for (size_t k = 1;; ++k) {
      const size_t failuresBefore = alloc.failures();
      alloc.fail_at(k);
      Encoded e;
      const VltStatus st = apitest::encode(pages, s, &e, &what);
      alloc.fail_at(0);
      if (alloc.failures() == failuresBefore) break;
      // Only the close may swallow a failure (it warns and goes on), and then every block is
      // already out as it should be.
      if (st == VLT_OK) {
        EXPECT_EQ(e.dictionaries, clean.dictionaries) << "allocation " << k << " failed unnoticed";
        EXPECT_EQ(e.pages, clean.pages) << "allocation " << k << " failed unnoticed";
      }
      ASSERT_EQ(alloc.live_blocks(), 0u) << "failure at allocation " << k << " in " << what;
    }
  }
  EXPECT_EQ(alloc.foreign(), 0u);
}

}  // namespace
