// A page added band by band gives the same components and the same bytes as the whole page.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "api_fixture.h"
#include "jbig2dec.h"
#include "vlt_api_handle.h"

namespace {

using monotest::RefBitmap;

struct Output {
  jb2test::Bytes dictionary;
  std::vector<jb2test::Bytes> pages;
  std::vector<int32_t> components;  // lossy and large components of each page
};

// Encodes the pages losslessly in one section, each whole (bandHeight 0) or in bands of that
// many rows.
VltStatus encode(const std::vector<RefBitmap>& pages, uint32_t bandHeight, Output* out) {
  const VltApiOptions o = apitest::single_page_options();
  TokParams params{};
  tokSetDefaults(&params);
  params.widthDiff = params.heightDiff = params.maxDense = 0;
  params.minLossySize = 100000;
  VltApiHandle* h = nullptr;
  if (const VltStatus st = VltApi_init(&h, nullptr, nullptr, &o, &params, nullptr); st != VLT_OK) return st;
  const auto done = [&](VltStatus st) {
    VltApi_close(h);
    return st;
  };
  if (const VltStatus st = VltApi_startSection(h); st != VLT_OK) return done(st);
  for (const RefBitmap& page : pages) {
    uint8_t full = 0;
    if (bandHeight == 0) {
      uint32_t bpl = 0;
      std::vector<uint8_t> buf = apitest::framed(page, &bpl);
      VltPageDesc desc{buf.data(), uint32_t(page.width), uint32_t(page.height), bpl, 300, 300};
      if (const VltStatus st = VltApi_addMonoPage(h, &desc, &full); st != VLT_OK) return done(st);
      continue;
    }
    for (uint32_t top = 0; top < uint32_t(page.height); top += bandHeight) {
      const uint32_t rows = std::min<uint32_t>(bandHeight, uint32_t(page.height) - top);
      RefBitmap band(page.width, int(rows));
      for (int y = 0; y < int(rows); ++y)
        for (int x = 0; x < page.width; ++x) band.set(x, y, page.get(x, int(top) + y));
      uint32_t bpl = 0;
      std::vector<uint8_t> buf = apitest::framed(band, &bpl);
      if (const VltStatus st = VltApi_addMonoBuffer(h, buf.data(), uint32_t(page.width), rows, bpl,
                                                    uint32_t(page.height), 300, 300, top == 0,
                                                    top + rows == uint32_t(page.height), &full);
          st != VLT_OK)
        return done(st);
    }
  }
  for (int32_t p = 0; p < h->lossyDoc->section->pageCount; ++p)
    out->components.push_back(h->lossyDoc->section->pages[p].componentCount);
  VltApiDict dict{};
  if (const VltStatus st = VltApi_endSectionGetDict(h, 0, &dict); st != VLT_OK) return done(st);
  out->dictionary.assign(dict.bytes, dict.bytes + dict.length);
  free(dict.bytes);
  for (size_t p = 0; p < pages.size(); ++p) {
    VltApiPosBlock block{};
    if (const VltStatus st = VltApi_getNextPosBlock(h, &block); st != VLT_OK) return done(st);
    out->pages.emplace_back(block.bytes, block.bytes + block.length);
    free(block.bytes);
  }
  return done(VLT_OK);
}

// Pages of up to 500 rows, which the whole-page call does not split; the line page has ink on
// its top row, which the whole-page call once cut off its components.
TEST(VltApiBands, BandsGiveTheWholePagesComponentsBytesAndPixels) {
  const std::vector<RefBitmap> pages = {monotest::make_text_blobs(640, 480, 5), monotest::make_lines(300, 200, 9),
                                        monotest::make_text_blobs(200, 97, 2)};
  Output whole;
  ASSERT_EQ(encode(pages, 0, &whole), VLT_OK);
  for (const uint32_t band : {1u, 37u, 64u, 500u}) {
    SCOPED_TRACE(testing::Message() << "bands of " << band);
    Output banded;
    ASSERT_EQ(encode(pages, band, &banded), VLT_OK);
    EXPECT_EQ(banded.components, whole.components);
    EXPECT_EQ(banded.dictionary, whole.dictionary);
    ASSERT_EQ(banded.pages.size(), pages.size());
    for (size_t p = 0; p < pages.size(); ++p) {
      const auto decoded = monotest::jbig2dec_decode_embedded(banded.dictionary, banded.pages[p]);
      EXPECT_EQ(banded.pages[p], whole.pages[p]) << "page " << p;
      EXPECT_EQ(monotest::first_difference(pages[p], decoded.page), "") << "page " << p << decoded.messages;
    }
  }
}

}  // namespace
