// Streams we write, decoded by jbig2dec: the pixels it produces are compared with ours, never
// its exit code alone. Each file stacks one band per coding of the same bitmap, so one decoder
// run checks every coding of it.

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_test_stream.h"
#include "jbig2dec.h"
#include "pages.h"

namespace {

using jb2test::Bytes;
using jb2test::GenericConfig;
using monotest::first_difference;
using monotest::RefBitmap;

RefBitmap crop(const RefBitmap& src, int x0, int y0, int w, int h) {
  RefBitmap out(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.set(x, y, src.get(x0 + x, y0 + y));
  return out;
}

// The first w x h window of the page, scanning in steps, with a fair share of ink in it.
RefBitmap inked_crop(const RefBitmap& src, int w, int h) {
  for (int y0 = 0; y0 + h <= src.height; y0 += h / 2)
    for (int x0 = 0; x0 + w <= src.width; x0 += w < 64 ? 7 : 101) {
      RefBitmap c = crop(src, x0, y0, w, h);
      const size_t n = c.count(), all = static_cast<size_t>(w) * static_cast<size_t>(h);
      if (n * 10 >= all && n * 3 <= all) return c;
    }
  throw std::runtime_error("no inked window of the size");
}

RefBitmap filled(int w, int h, int v) {
  RefBitmap bm(w, h);
  if (v)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bm.set(x, y, 1);
  return bm;
}

struct InteropTest : Jb2Test {
  // One page holding the bitmap once per coding, band under band; jbig2dec must give back every
  // band as the bitmap.
  void check_bands(const RefBitmap& bm, const std::vector<GenericConfig>& configs) {
    const int h = bm.height;
    VltImage* im = jb2test::packed_image(state, bm);
    const Bytes file = jb2test::t88_file(
        state,
        {static_cast<uint32_t>(bm.width),
         static_cast<uint32_t>(h * static_cast<int>(configs.size()))},
        [&](Jb2File* f) -> VltStatus {
          for (size_t i = 0; i < configs.size(); ++i) {
            SegmentInfo seg = jb2test::generic_record(im, 0, static_cast<uint32_t>(i) * h,
                                                      configs[i].mmr, configs[i].params);
            if (const VltStatus st = jb2EncodeGenRegion(f, &seg); st != VLT_OK) return st;
          }
          return VLT_OK;
        });
    VltImage_free(im);
    const auto decoded = monotest::jbig2dec_decode(file);
    EXPECT_EQ(decoded.messages, "");
    ASSERT_EQ(decoded.page.width, bm.width);
    ASSERT_EQ(decoded.page.height, h * static_cast<int>(configs.size()));
    for (size_t i = 0; i < configs.size(); ++i)
      EXPECT_EQ(first_difference(bm, crop(decoded.page, 0, static_cast<int>(i) * h, bm.width, h)),
                "")
          << configs[i].name;
  }
};

TEST_F(InteropTest, PageWithoutRegionsShowsItsDefaultPixel) {
  for (uint8_t pixel : {0, 1}) {
    const auto file = jb2test::t88_file(state, {37, 5, pixel}, nullptr);
    EXPECT_EQ(first_difference(filled(37, 5, pixel), monotest::jbig2dec_decode(file).page), "");
  }
}

// The form PDF carries: no file header, and (as this system writes pages) no end of page.
TEST_F(InteropTest, EmbeddedPageWithoutEndOfPage) {
  const RefBitmap bm = monotest::make_text_blobs(300, 120, 4);
  VltImage* im = jb2test::packed_image(state, bm);
  jb2test::MemoryStream s(state);
  SegmentInfo info{};
  info.page = 1;
  info.body.pageInfo.width = 300;
  info.body.pageInfo.height = 120;
  ASSERT_EQ(jb2EncodePageInfo(s.file(), &info), VLT_OK);
  const GenericConfig c = jb2test::generic_configs()[1];
  SegmentInfo region = jb2test::generic_record(im, 0, 0, c.mmr, c.params);
  ASSERT_EQ(jb2EncodeGenRegion(s.file(), &region), VLT_OK);
  VltImage_free(im);
  const auto decoded = monotest::jbig2dec_decode_embedded({}, s.finish());
  EXPECT_EQ(first_difference(bm, decoded.page), "");
}

// Every coding on noise, text, white and black bitmaps of awkward and real widths; the wide ones
// are kept short so the matrix stays quick.
TEST_F(InteropTest, GenericRegionsOfEveryCodingAndWidth) {
  const std::vector<GenericConfig> configs = jb2test::generic_configs();
  const RefBitmap chart = monotest::ccitt_chart(1);
  const RefBitmap page = monotest::doc_page(1);
  for (int w : {1, 31, 32, 33, 1000, 2550}) {
    const int h = w >= 1000 ? 48 : 40;
    const RefBitmap text = inked_crop(w < 2550 ? chart : page, w, h);
    for (const auto& [name, bm] :
         {std::pair<const char*, RefBitmap>{"noise", monotest::make_noise(w, h, 0.5, 3)},
          {"text", text},
          {"white", filled(w, h, 0)},
          {"black", filled(w, h, 1)}}) {
      SCOPED_TRACE(std::string(name) + " of width " + std::to_string(w));
      check_bands(bm, configs);
    }
  }
}

// Whole pages in the two codings the engine uses most: template 0 with typical prediction, and
// MMR.
TEST_F(InteropTest, WholePages) {
  const std::vector<GenericConfig> all = jb2test::generic_configs();
  const std::vector<GenericConfig> configs = {all[0], all[2]};
  ASSERT_TRUE(all[2].params.tpgdon && all[2].params.gbTemplate == 0);
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE("CCITT chart " + std::to_string(n));
    check_bands(monotest::ccitt_chart(n), configs);
  }
  SCOPED_TRACE("rendered page");
  check_bands(monotest::doc_page(3), configs);
}

// Pattern dictionaries of 2 and 16 patterns with a halftone region over them, MMR and MQ, on a
// straight grid and on a turned one whose cells overlap.
TEST_F(InteropTest, HalftoneRegions) {
  struct Grid {
    const char* name;
    int32_t gridX, gridY, vectorX, vectorY;
  };
  for (int n : {2, 16}) {
    for (bool mq : {false, true}) {
      for (const Grid& g :
           {Grid{"straight", 0, 0, 4 * 256, 0}, Grid{"turned", 3 * 256 + 77, -200, 900, 170}}) {
        SCOPED_TRACE(std::to_string(n) + " patterns, " + (mq ? "MQ, " : "MMR, ") + g.name +
                     " grid");
        jb2test::HalftoneSample h(state, 4, 5, n, 37, 23, static_cast<uint32_t>(n));
        Jb2FileParams params{};
        params.pdArith = mq;
        params.pdTemplate = 0;
        params.trArith = mq;
        const uint32_t w = 160, ht = 130;
        const Bytes file = jb2test::t88_file(
            state, {w + 11, ht + 9},
            [&](Jb2File* f) {
              return h.write(f, 11, 9, w, ht, g.gridX, g.gridY, g.vectorX, g.vectorY);
            },
            &params);
        const auto decoded = monotest::jbig2dec_decode(file);
        EXPECT_EQ(decoded.messages, "");
        RefBitmap want(static_cast<int>(w) + 11, static_cast<int>(ht) + 9);
        const RefBitmap region = h.render();
        ASSERT_GT(region.count(), 0u);
        for (int y = 0; y < region.height; ++y)
          for (int x = 0; x < region.width; ++x) want.set(x + 11, y + 9, region.get(x, y));
        EXPECT_EQ(first_difference(want, decoded.page), "");
      }
    }
  }
}

}  // namespace
