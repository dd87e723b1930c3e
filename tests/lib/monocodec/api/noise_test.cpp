// Token-noise reduction through the engine handle.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "api_fixture.h"
#include "counting_alloc.h"
#include "tok_smooth.h"
#include "vlt_api_handle.h"
#include "vlt_api_noise.h"

namespace {

using monotest::RefBitmap;

TEST(VltApiNoise, HandleIsCheckedLikeEveryCall) {
  VltApiHandle* h = nullptr;
  const VltApiOptions o = apitest::single_page_options();
  ASSERT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  VltApiHandle copy = *h;
  EXPECT_EQ(VltApi_redTokNoise(&copy), VLT_ERR_ASSERT);
  EXPECT_EQ(VltApi_redTokNoise(nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltApi_redTokNoise(h), VLT_ERR_PARAM) << "no section yet";
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  EXPECT_EQ(VltApi_redTokNoise(h), VLT_OK) << "an open section has no classes yet";
  EXPECT_EQ(VltApi_close(h), VLT_OK);
}

// After the section's dictionary the classes' bitmaps are the output's: summing and reducing
// them releases the sums, changes no bitmap and leaves every reference word as it was.
TEST(VltApiNoise, ClassesHandedToTheOutputKeepTheirBitmaps) {
  monotest::CountingAllocator alloc;
  alloc.make_current();
  const VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                        monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  VltApiHandle* h = nullptr;
  const VltApiOptions o = apitest::single_page_options();
  ASSERT_EQ(VltApi_init(&h, &mem, nullptr, &o, nullptr, nullptr), VLT_OK);
  ASSERT_EQ(VltApi_startSection(h), VLT_OK);
  const RefBitmap page = monotest::make_text_blobs(600, 400, 11);
  uint32_t bpl = 0;
  std::vector<uint8_t> buf = apitest::framed(page, &bpl);
  VltPageDesc desc{buf.data(), uint32_t(page.width), uint32_t(page.height), bpl, 300, 300};
  uint8_t full = 0;
  ASSERT_EQ(VltApi_addMonoPage(h, &desc, &full), VLT_OK);
  VltApiDict dict{};
  ASSERT_EQ(VltApi_endSectionGetDict(h, 0, &dict), VLT_OK);
  VltAdtList* classes = h->lossyDoc->section->classes;
  ASSERT_NE(classes, nullptr);
  ASSERT_GT(classes->count, 0u);
  std::vector<void*> refs;
  std::vector<uint8_t*> bits;
  for (VltAdtListNode* n = classes->first; n != nullptr; n = n->next) {
    refs.push_back(static_cast<TokOutput*>(n->data)->dictRef);
    bits.push_back(static_cast<TokOutput*>(n->data)->exemplar.bits);
  }
  VltImage* grey = nullptr;
  ASSERT_EQ(VltImage_new(h->state, VLT_IMAGE_GRAY, page.width, page.height, &grey), VLT_OK);
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) grey->rows[y][x] = page.get(x, y) ? 20 : 235;
  int token = 0;
  ASSERT_EQ(sumGrayInstances(h->state, grey, classes, &token, h->lossyDoc->section->pages[0].pageNumber), VLT_OK);
  ASSERT_EQ(VltApi_redTokNoise(h), VLT_OK);
  size_t i = 0;
  for (VltAdtListNode* n = classes->first; n != nullptr; n = n->next, ++i) {
    EXPECT_EQ(static_cast<TokOutput*>(n->data)->dictRef, refs[i]);
    EXPECT_EQ(static_cast<TokOutput*>(n->data)->exemplar.bits, bits[i]);
  }
  VltImage_free(grey);
  h->state->free(dict.bytes);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
  EXPECT_EQ(alloc.live_blocks(), 0u);
}

}  // namespace
