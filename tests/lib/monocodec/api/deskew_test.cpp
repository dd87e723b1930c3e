// Section straightening through the engine handle: its refusals, the records a skewed section's
// classes get, and that everything it makes goes back exactly once, also when memory runs out.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "api_fixture.h"
#include "counting_alloc.h"
#include "tok_skew.h"
#include "vlt_api_deskew.h"
#include "vlt_api_handle.h"

namespace {

using monotest::RefBitmap;

TEST(VltApiDeskew, RefusedWhereItCannotApply) {
  VltApiHandle* h = nullptr;
  const VltApiOptions o = apitest::single_page_options();
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  VltApiHandle copy = *h;
  EXPECT_EQ(VltApi_setDeskew(&copy, 5, 0), VLT_ERR_ASSERT);
  EXPECT_EQ(VltApi_setDeskew(nullptr, 5, 0), VLT_ERR_ASSERT);
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  EXPECT_EQ(VltApi_setDeskew(h, 5, 0), VLT_ERR_PARAM) << "a section is open";
  VltApiDict dict{};
  ASSERT_EQ(VltApi_endSectionGetDict(h, 0, &dict), VLT_OK);
  std::free(dict.bytes);
  EXPECT_EQ(VltApi_setDeskew(h, 5, 0), VLT_OK);
  EXPECT_EQ(VltApi_setDeskew(h, 5, 0), VLT_ERR_PARAM) << "already on";
  EXPECT_EQ(VltApi_close(h), VLT_OK);
}

struct Outcome {
  VltStatus status = VLT_OK;
  int records = 0;          // shared records on the page after the dictionary
  int sharedUses = 0;       // the most instances one of them serves
  bool consistent = true;   // every instance holds its record's bitmap and size
  float angle = 0.0f;
  size_t spent = 0;         // allocations from the section's end to the page's block
};

// One skewed page in one section; fail_at (counted from the section's end) makes the k-th
// allocation fail there. The handle is closed whatever happens.
Outcome run(std::vector<uint8_t>& buf, int width, int height, uint32_t bpl, monotest::CountingAllocator& alloc,
        size_t failAt) {
  const VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                        monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  Outcome r;
  VltApiHandle* h = nullptr;
  const VltApiOptions o = apitest::single_page_options();
  if ((r.status = VltApi_init(&h, &mem, nullptr, &o, nullptr, nullptr)) != VLT_OK) return r;
  VltPageDesc desc{buf.data(), uint32_t(width), uint32_t(height), bpl, 300, 300};
  uint8_t full = 0;
  VltApiDict dict{};
  VltApiPosBlock block{};
  r.status = VltApi_setDeskew(h, 5, 0);
  if (r.status == VLT_OK) r.status = VltApi_startSection(h);
  if (r.status == VLT_OK) r.status = VltApi_addMonoPage(h, &desc, &full);
  const size_t ending = alloc.allocations();
  alloc.fail_at(failAt);
  if (r.status == VLT_OK) r.status = VltApi_endSectionGetDict(h, 0, &dict);
  if (r.status == VLT_OK) {
    const TclyPage& page = h->lossyDoc->section->pages[0];
    r.angle = page.skewAngle;
    std::set<const DeskewSharedBitmap*> seen;
    for (VltAdtListNode* n = page.components->first; n != nullptr; n = n->next) {
      const auto* c = static_cast<const TokComponent*>(n->data);
      const auto* s = static_cast<const DeskewSharedBitmap*>(c->sharedBitmap);
      if (s == nullptr) continue;
      seen.insert(s);
      r.sharedUses = std::max(r.sharedUses, int(s->useCount));
      r.consistent = r.consistent && c->bitmap.bits == s->bitmap && c->bitmap.width == s->width &&
                     c->bitmap.height == s->height && c->bitmap.wordsPerLine == s->wordsPerLine;
    }
    r.records = int(seen.size());
    r.status = VltApi_getNextPosBlock(h, &block);
  }
  alloc.fail_at(0);
  r.spent = alloc.allocations() - ending;
  mem.free(dict.bytes);
  mem.free(block.bytes);
  VltApi_close(h);
  return r;
}

TEST(VltApiDeskew, StraightenedRecordsGoBackOnceAlsoWithoutMemory) {
  const RefBitmap page = monotest::turned(apitest::ruled_text_page(3), 0.8 * M_PI / 180);
  uint32_t bpl = 0;
  std::vector<uint8_t> buf = apitest::framed(page, &bpl);
  monotest::CountingAllocator alloc;
  alloc.make_current();
  const Outcome clean = run(buf, page.width, page.height, bpl, alloc, 0);
  ASSERT_EQ(clean.status, VLT_OK);
  EXPECT_NEAR(std::fabs(clean.angle) * 180 / M_PI, 0.8, 0.1);
  // The four rules form one class whose instances share one straightened bitmap.
  EXPECT_GE(clean.records, 1);
  EXPECT_GE(clean.sharedUses, 4);
  EXPECT_TRUE(clean.consistent);
  EXPECT_EQ(alloc.live_blocks(), 0u);
  EXPECT_EQ(alloc.foreign(), 0u);

  // The section's end and output, failing at allocations spread over it.
  const size_t spent = clean.spent;
  const size_t step = std::max<size_t>(spent / 60, 1);
  int refused = 0;
  for (size_t k = 1; k < spent; k += step) {
    const Outcome failed = run(buf, page.width, page.height, bpl, alloc, k);
    refused += failed.status != VLT_OK;
    EXPECT_EQ(alloc.live_blocks(), 0u) << "failing at " << k << " of " << spent << ": status " << failed.status;
    EXPECT_EQ(alloc.foreign(), 0u);
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
