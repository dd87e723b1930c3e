// The engine handle: refusals of foreign handles, defaults, the memory bound and its roll-back,
// segment numbering across sections, and allocation failures at every step.

#include <gtest/gtest.h>

#include "api_fixture.h"
#include "counting_alloc.h"
#include "jb2_filemode.h"
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
// A writer that keeps what it is given until its failAt-th call (counting from 1), which fails.
struct Sink {
  jb2test::Bytes bytes;
  int calls = 0;
  int failAt = 0;
  static size_t write(const void* data, size_t size, size_t count, void* stream) {
    auto* s = static_cast<Sink*>(stream);
    if (++s->calls == s->failAt) return 0;
    const auto* p = static_cast<const uint8_t*>(data);
    s->bytes.insert(s->bytes.end(), p, p + size * count);
    return count;
  }
};

// What a file run writes: the file header naming its pages, then the headers of every segment,
// then their data, one page information and one end of page for each page, and one end of file.
TEST(VltApi, FileRunWritesOneRandomAccessFile) {
  const std::vector<RefBitmap> pages = text_pages(3, 300, 200);
  jb2test::Bytes file;
  EncodeSetup s;
  s.pagesPerSection = 2;
  s.file = &file;
  Encoded e;
  std::string what;
  ASSERT_EQ(apitest::encode(pages, s, &e, &what), VLT_OK) << what;
  ASSERT_GE(file.size(), 13u);
  const jb2test::Bytes id = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0, 0, 0, 3};
  EXPECT_TRUE(std::equal(id.begin(), id.end(), file.begin()));
  // The parser reads the random-access organisation the header's flags name, and throws on
  // anything out of place.
  const std::vector<jb2test::ParsedSegment> segments = jb2test::parse_segments(file, true);
  ASSERT_FALSE(segments.empty());
  std::vector<uint32_t> infoPages, endPages;
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(segments[i].number, i);
    if (segments[i].type == 48) infoPages.push_back(segments[i].page);
    if (segments[i].type == 49) endPages.push_back(segments[i].page);
  }
  EXPECT_EQ(infoPages, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(endPages, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(segments.back().type, 51);
}

// One page through a handle in a file run: its section ended, its dictionary and block fetched,
// which a file run hands out empty.
void code_one_page(VltApiHandle* h, const RefBitmap& page) {
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  uint32_t bpl = 0;
  std::vector<uint8_t> buf = apitest::framed(page, &bpl);
  VltPageDesc d{buf.data(), uint32_t(page.width), uint32_t(page.height), bpl, 300, 300};
  uint8_t full = 0;
  ASSERT_EQ(VltApi_addMonoPage(h, &d, &full), VLT_OK);
  VltApiDict dict{};
  ASSERT_EQ(VltApi_endSectionGetDict(h, 0, &dict), VLT_OK);
  EXPECT_EQ(dict.bytes, nullptr);
  VltApiPosBlock block{};
  ASSERT_EQ(VltApi_getNextPosBlock(h, &block), VLT_OK);
  EXPECT_EQ(block.length, 0u);
}

// A file run is chosen before anything is written and must end with the pages it promised; a
// writer that fails is the caller's failure, not a warning.
TEST(VltApi, FileRunRefusalsAndFailures) {
  const std::vector<RefBitmap> pages = text_pages(2, 300, 200);
  const VltApiOptions o = plain_options();
  Sink sink;
  Jb2FileTarget target{&sink, Sink::write};
  VltApiHandle* h = nullptr;
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  Jb2FileTarget noWriter{&sink, nullptr};
  EXPECT_EQ(VltApi_openFile(h, &noWriter, 2), VLT_ERR_NULL);
  EXPECT_EQ(VltApi_openFile(h, &target, 0), VLT_ERR_PARAM);
  const Jb2ExtensionRecord note{0x20000000u, reinterpret_cast<const uint8_t*>("a\0b\0"), 5};
  EXPECT_EQ(VltApi_annotateFile(h, 1, &note), VLT_ERR_PARAM) << "not a file run";
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  EXPECT_EQ(VltApi_openFile(h, &target, 2), VLT_ERR_PARAM) << "a section has begun";
  EXPECT_TRUE(sink.bytes.empty());
  EXPECT_EQ(VltApi_close(h), VLT_OK);

  // Two pages promised, one written.
  {
    ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
    sink = Sink{};
    ASSERT_EQ(VltApi_openFile(h, &target, 2), VLT_OK);
    code_one_page(h, pages[0]);
    EXPECT_EQ(VltApi_close(h), VLT_ERR_IO_WRITE);
  }
  // The header goes out at once; the collected headers and data parts at the close.
  for (int failAt : {1, 2, 3}) {
    SCOPED_TRACE(failAt);
    ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
    sink = Sink{};
    sink.failAt = failAt;
    if (failAt == 1) {
      EXPECT_EQ(VltApi_openFile(h, &target, 1), VLT_ERR_IO_WRITE);
      EXPECT_EQ(VltApi_close(h), VLT_OK) << "the embedded stream stays";
      continue;
    }
    ASSERT_EQ(VltApi_openFile(h, &target, 1), VLT_OK);
    code_one_page(h, pages[0]);
    EXPECT_EQ(VltApi_close(h), VLT_ERR_IO_WRITE);
  }
}

TEST(VltApi, AllocationFailuresLeaveNothingBehind) {
  const std::vector<RefBitmap> pages = text_pages(3, 200, 120);
  monotest::CountingAllocator alloc;
  alloc.make_current();
  const VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                        monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  for (int run = 0; run < 3; ++run) {
    const bool lossless = run != 1;
    jb2test::Bytes file;
    EncodeSetup s;
    s.lossless = lossless;
    s.pagesPerSection = 2;
    s.memory = &mem;
    if (run == 2) {
      s.file = &file;
      s.comments = {"x"};
    }
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
