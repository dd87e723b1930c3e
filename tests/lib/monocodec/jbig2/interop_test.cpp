// Streams we write, decoded by jbig2dec: the pixels it produces are compared with ours, never
// its exit code alone. Each file stacks one band per coding of the same bitmap, so one decoder
// run checks every coding of it.

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_test_stream.h"
#include "jbig2dec.h"
#include "pages.h"
#include "pixr.h"
#include "pixr_ops.h"
#include "tools.h"

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

// An encoder may leave a page's white as one page-sized region whose coded data is a handful of
// bytes: the MQ coder codes a long run of the likely symbol almost for free, and the decoder
// reads the rest from the 1-bits past the end of the data. A letter page at 300 dpi and an A4
// page at 300 dpi, template 0 without typical prediction (a decision a pixel), decode white as
// jbig2dec decodes them.
TEST_F(InteropTest, PageSizedWhiteRegionInAFewBytes) {
  const GenericConfig c = jb2test::generic_configs()[1];
  ASSERT_TRUE(!c.mmr && c.params.gbTemplate == 0 && !c.params.tpgdon);
  for (const auto& [w, h] : {std::pair{2550, 3300}, std::pair{2480, 3508}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const RefBitmap white = filled(w, h, 0);
    VltImage* im = jb2test::packed_image(state, white);
    size_t coded = 0;
    const Bytes file = jb2test::t88_file(state, {static_cast<uint32_t>(w), static_cast<uint32_t>(h)},
                                         [&](Jb2File* f) -> VltStatus {
                                           SegmentInfo seg = jb2test::generic_record(im, 0, 0, c.mmr, c.params);
                                           const size_t before = jb2GetFileDataSink(f)->count;
                                           const VltStatus st = jb2EncodeGenRegion(f, &seg);
                                           coded = jb2GetFileDataSink(f)->count - before;
                                           return st;
                                         });
    VltImage_free(im);
    // The MQ data follows the region information, the flags and four AT pixels: far fewer bytes
    // than a guess of at most 2^18 decisions a byte (and four bytes of look-ahead) would allow.
    const size_t mq = coded - 17 - 1 - 8;
    EXPECT_LT((mq + 4) << 18, static_cast<size_t>(w) * static_cast<size_t>(h)) << mq << " bytes";
    const auto theirs = monotest::jbig2dec_decode(file);
    EXPECT_EQ(first_difference(white, theirs.page), "") << theirs.messages;
    VltImage* ours = nullptr;
    ASSERT_EQ(jb2test::read_page(state, file.data(), file.size(), jb2test::StreamForm::kFile, &ours), VLT_OK);
    EXPECT_EQ(first_difference(white, jb2test::ref_bitmap(ours)), "");
    VltImage_free(ours);
  }
}

// Pattern dictionaries of 1, 2 and 16 patterns with a halftone region over them, MMR and MQ, on
// a straight grid and on a turned one whose cells overlap; jbig2dec and our decoder give the
// page the patterns make. One pattern means no bit plane at all: every cell takes pattern 0.
TEST_F(InteropTest, HalftoneRegions) {
  struct Grid {
    const char* name;
    int32_t gridX, gridY, vectorX, vectorY;
  };
  for (int n : {1, 2, 16}) {
    for (bool mq : {false, true}) {
      for (const Grid& g :
           {Grid{"straight", 0, 0, 4 * 256, 0}, Grid{"turned", 3 * 256 + 77, -200, 900, 170}}) {
        SCOPED_TRACE(std::to_string(n) + " patterns, " + (mq ? "MQ, " : "MMR, ") + g.name +
                     " grid");
        jb2test::HalftoneSample h(state, n == 1 ? 8 : 4, n == 1 ? 8 : 5, n, 37, 23, static_cast<uint32_t>(n));
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
        RefBitmap want(static_cast<int>(w) + 11, static_cast<int>(ht) + 9);
        const RefBitmap region = h.render();
        ASSERT_GT(region.count(), 0u);
        for (int y = 0; y < region.height; ++y)
          for (int x = 0; x < region.width; ++x) want.set(x + 11, y + 9, region.get(x, y));
        VltImage* page = nullptr;
        ASSERT_EQ(jb2test::read_page(state, file.data(), file.size(), jb2test::StreamForm::kFile, &page), VLT_OK)
            << printed.text;
        EXPECT_EQ(first_difference(want, jb2test::ref_bitmap(page)), "");
        const auto decoded = monotest::jbig2dec_decode(file);
        if (n == 1 && mq) {
          // An MQ region without bit planes has no coded data at all; jbig2dec still starts its
          // arithmetic decoder on it, fails, and drops the region.
          EXPECT_NE(decoded.messages.find("arithmetic decoder"), std::string::npos) << decoded.messages;
          EXPECT_EQ(decoded.page.count(), 0u);
        } else {
          EXPECT_EQ(decoded.messages, "");
          EXPECT_EQ(first_difference(want, decoded.page), "");
        }
        VltImage_free(page);
      }
    }
  }
}

// The halftone encoder's dictionary of spiral dots and its region, 2 and 16 levels, MMR and MQ:
// jbig2dec and our decoder give the same page, grey 0 a full cell and the top level a blank one.
TEST_F(InteropTest, HalftoneEncoderSegments) {
  VltState* ws = nullptr;  // the grey images are wrapper images
  ASSERT_EQ(Vlt_initVltState(&ws, nullptr, nullptr, nullptr, nullptr, 1, 0), VLT_OK);
  for (int levels : {2, 16}) {
    for (bool mq : {false, true}) {
      SCOPED_TRACE(std::to_string(levels) + " levels, " + (mq ? "MQ" : "MMR"));
      const int cell = 4, gw = 12, gh = 8;
      PIXR* grey = nullptr;
      ASSERT_EQ(w_createPixr(ws->ipwState, gw, gh, 8, 300, 300, 32, &grey), VLT_OK);
      for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x)
          ASSERT_EQ(w_pixrPutPixel(ws->ipwState, grey, x, y, static_cast<uint32_t>((x + 5 * y) % levels)), VLT_OK);
      HalftoneBox box{5, 3, gw * cell, gh * cell, 0, 0, cell, levels, 2};
      VltAdtList *boxes = nullptr, *greys = nullptr;
      ASSERT_EQ(VltAdt_liNew(&boxes, ws), VLT_OK);
      ASSERT_EQ(VltAdt_liNew(&greys, ws), VLT_OK);
      ASSERT_EQ(VltAdt_liAdd(boxes, &box, nullptr), VLT_OK);
      ASSERT_EQ(VltAdt_liAdd(greys, grey, nullptr), VLT_OK);
      Jb2FileParams params{};
      params.pdArith = mq;
      params.trArith = mq;
      const Bytes file = jb2test::t88_file(
          state, {60, 40}, [&](Jb2File* f) { return encodeHalftoneJBig2(boxes, greys, f, 2, 1, ws); }, &params);
      VltAdt_liFree(boxes);
      VltAdt_liFree(greys);
      w_destroyPixr(ws->ipwState, &grey);
      const auto decoded = monotest::jbig2dec_decode(file);
      EXPECT_EQ(decoded.messages, "");
      VltImage* page = nullptr;
      ASSERT_EQ(jb2test::read_page(state, file.data(), file.size(), jb2test::StreamForm::kFile, &page), VLT_OK)
          << printed.text;
      const RefBitmap ours = jb2test::ref_bitmap(page);
      VltImage_free(page);
      EXPECT_EQ(first_difference(decoded.page, ours), "");
      // Cell (0, 0) has grey 0, cell (levels - 1, 0) the top level.
      EXPECT_EQ(crop(ours, 5, 3, cell, cell).count(), static_cast<size_t>(cell * cell));
      EXPECT_EQ(crop(ours, 5 + (levels - 1) * cell, 3, cell, cell).count(), 0u);
    }
  }
  Vlt_cleanupVltState(&ws);
}

// The pages of a file as jbig2dec gives them: it writes them one after another into its output.
std::vector<RefBitmap> jbig2dec_pages(const std::string& path) {
  monotest::TempDir dir;
  const std::string out = dir.file("pages.pbm");
  const monotest::ToolResult r =
      monotest::run_tool("jbig2dec -t pbm -o " + monotest::shell_quote(out) + " " + monotest::shell_quote(path));
  if (r.exit_code != 0) throw std::runtime_error("jbig2dec: " + r.output);
  const std::string pbm = monotest::read_file(out);
  std::vector<RefBitmap> pages;
  const std::regex head("^P4\\s+(\\d+)\\s+(\\d+)\\s");
  for (size_t at = 0; at < pbm.size();) {
    std::smatch m;
    const std::string rest = pbm.substr(at, 32);
    if (!std::regex_search(rest, m, head)) throw std::runtime_error("jbig2dec wrote no PBM");
    const int w = std::stoi(m[1]), h = std::stoi(m[2]), stride = (w + 7) / 8;
    at += static_cast<size_t>(m.length(0));
    RefBitmap bm(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        bm.set(x, y, (static_cast<uint8_t>(pbm.at(at + static_cast<size_t>(y * stride + x / 8))) >> (7 - x % 8)) & 1);
    at += static_cast<size_t>(stride) * static_cast<size_t>(h);
    pages.push_back(bm);
  }
  return pages;
}

// The standard's worked example: each of its three pages as jbig2dec gives them.
TEST_F(InteropTest, AnnexHPages) {
  const std::string path = monotest::feature_dir() + "/annex-h.jbig2";
  const std::vector<RefBitmap> theirs = jbig2dec_pages(path);
  ASSERT_EQ(theirs.size(), 3u);
  const std::string bytes = monotest::read_file(path);
  for (uint32_t n = 1; n <= 3; ++n) {
    SCOPED_TRACE("page " + std::to_string(n));
    VltImage* page = nullptr;
    ASSERT_EQ(jb2test::read_page(state, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                 jb2test::StreamForm::kFile, &page, JB2_MAX_REGION_PIXELS, n),
              VLT_OK)
        << printed.text;
    EXPECT_EQ(first_difference(theirs[n - 1], jb2test::ref_bitmap(page)), "");
    EXPECT_GT(theirs[n - 1].count(), 0u);
    VltImage_free(page);
  }
}

// The public encoder's symbol mode (a shared dictionary over three pages, and a chart on its
// own), read in one pass: every page as jbig2dec gives it. Skipped when the encoder cannot be
// built here.
TEST_F(InteropTest, PublicEncoderSymbolModePages) {
  const monotest::ToolResult built = monotest::run_tool(monotest::shared_dir() + "/peers/build-jbig2enc.sh");
  if (built.exit_code != 0) GTEST_SKIP() << "the public encoder cannot be built: " << built.output;
  const std::string program = built.output.substr(0, built.output.find_last_not_of(" \n") + 1);
  for (const std::vector<RefBitmap>& input :
       {std::vector<RefBitmap>{monotest::doc_page(1), monotest::doc_page(2), monotest::doc_page(3)},
        std::vector<RefBitmap>{monotest::ccitt_chart(1)}}) {
    monotest::TempDir dir;
    std::string names;
    for (size_t i = 0; i < input.size(); ++i) {
      monotest::write_pbm(dir.file("p" + std::to_string(i) + ".pbm"), input[i]);
      names += " " + monotest::shell_quote(dir.file("p" + std::to_string(i) + ".pbm"));
    }
    const std::string out = dir.file("out.jb2");
    ASSERT_EQ(monotest::run_tool(monotest::shell_quote(program) + " -s" + names + " > " + monotest::shell_quote(out) +
                                 " 2>/dev/null")
                  .exit_code,
              0);
    const std::vector<RefBitmap> theirs = jbig2dec_pages(out);
    const std::string bytes = monotest::read_file(out);
    std::vector<VltImage*> ours;
    ASSERT_EQ(jb2test::read_pages(state, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &ours), VLT_OK)
        << printed.text;
    ASSERT_EQ(ours.size(), input.size());
    ASSERT_EQ(theirs.size(), input.size());
    for (size_t i = 0; i < ours.size(); ++i) {
      EXPECT_EQ(first_difference(theirs[i], jb2test::ref_bitmap(ours[i])), "") << "page " << i + 1;
      VltImage_free(ours[i]);
    }
  }
}

}  // namespace
