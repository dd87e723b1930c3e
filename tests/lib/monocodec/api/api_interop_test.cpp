// Pages encoded through the engine API and decoded by jbig2dec from the section's dictionary
// block and the page's block: lossless sections come back pixel for pixel, lossy ones with at
// most 1 % of their black pixels farther than one pixel from the other page's ink, under every
// profile.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "api_fixture.h"
#include "jb2_symbol_sample.h"
#include "jbig2dec.h"
#include "pages.h"
#include "sanitizer_size.h"
#include "tok_smooth.h"
#include "tools.h"
#include "vlt_api_handle.h"
#include "vlt_api_noise.h"

namespace {

using apitest::Encoded;
using apitest::EncodeSetup;
using monotest::RefBitmap;

// The dictionaries a page of section s may refer to: its own, and after partial ends the earlier
// ones too.
jb2test::Bytes globals_for(const Encoded& e, size_t section, bool partial) {
  jb2test::Bytes g;
  for (size_t k = partial ? 0 : section; k <= section; ++k)
    g.insert(g.end(), e.dictionaries[k].begin(), e.dictionaries[k].end());
  return g;
}

// Encodes, checks the segment sequence and decodes every page; exact unless lossy.
void round_trip(const std::vector<RefBitmap>& pages, const EncodeSetup& setup, Encoded* kept = nullptr) {
  Encoded e;
  std::string what;
  ASSERT_EQ(apitest::encode(pages, setup, &e, &what), VLT_OK) << what;
  ASSERT_EQ(e.pages.size(), pages.size());
  EXPECT_EQ(apitest::check_segments(e), "");
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p));
    const auto decoded =
        monotest::jbig2dec_decode_embedded(globals_for(e, e.sectionOf[p], setup.endMode == 1), e.pages[p]);
    ASSERT_EQ(decoded.page.width, pages[p].width);
    ASSERT_EQ(decoded.page.height, pages[p].height);
    if (setup.lossless) {
      EXPECT_EQ(monotest::first_difference(pages[p], decoded.page), "") << decoded.messages;
    } else {
      const double budget = 0.01 * double(pages[p].count());
      EXPECT_LE(double(monotest::unexplained_ink(pages[p], decoded.page)), budget) << "lost ink";
      EXPECT_LE(double(monotest::unexplained_ink(decoded.page, pages[p])), budget) << "added ink";
    }
  }
  if (kept != nullptr) *kept = std::move(e);
}

std::vector<RefBitmap> charts(const std::vector<int>& numbers) {
  std::vector<RefBitmap> out;
  for (int n : numbers) out.push_back(monotest::ccitt_chart(n));
  return out;
}

// Eight charts and four rendered pages.
std::vector<RefBitmap> twelve_pages() {
  std::vector<RefBitmap> out = charts({1, 2, 3, 4, 5, 6, 7, 8});
  for (int n = 1; n <= 4; ++n) out.push_back(monotest::doc_page(n));
  return out;
}

// Pages that test the edges: nothing, one pixel, noise, an ordered dither, a page just tall
// enough to be split, and ink on the first and last rows and columns.
std::vector<RefBitmap> odd_pages() {
  std::vector<RefBitmap> out;
  out.emplace_back(300, 200);
  RefBitmap dot(100, 50);
  dot.set(37, 21, 1);
  out.push_back(dot);
  out.push_back(monotest::make_noise(640, 480, 0.3, 7));
  RefBitmap dither(800, 600);
  constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  for (int y = 0; y < dither.height; ++y)
    for (int x = 0; x < dither.width; ++x) dither.set(x, y, (x * 16) / dither.width > bayer[y % 4][x % 4]);
  out.push_back(dither);
  out.push_back(monotest::make_text_blobs(700, 501, 11));
  RefBitmap edges = monotest::make_text_blobs(333, 120, 12);
  for (int x = 0; x < edges.width; x += 3) {
    edges.set(x, 0, 1);
    edges.set(x, 1, 1);
    edges.set(x, edges.height - 1, 1);
  }
  for (int y = 0; y < edges.height; y += 5) {
    edges.set(0, y, 1);
    edges.set(edges.width - 1, y, 1);
  }
  out.push_back(edges);
  return out;
}

TEST(ApiInterop, OneChartLosslessEveryProfile) {
  const std::vector<RefBitmap> pages = charts({1});
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    EncodeSetup s;
    s.profile = profile;
    round_trip(pages, s);
  }
}

// One, two and twelve-page sections and the odd pages, each profile, lossless and lossy.
TEST(ApiInterop, SectionsDecodeEveryProfile) {
  const std::vector<RefBitmap> two = charts({2, 3});
  // Under the sanitizers the long section is three pages, still sharing one dictionary.
  const std::vector<RefBitmap> twelve = [] {
    std::vector<RefBitmap> pages = twelve_pages();
    pages.resize(monotest::sanitizer_sized(pages.size(), size_t{3}));
    return pages;
  }();
  const std::vector<RefBitmap> odd = odd_pages();
  const std::vector<RefBitmap> one = {monotest::doc_page(5)};
  for (bool lossless : {true, false})
    for (uint32_t profile : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::string(lossless ? "lossless" : "lossy") + " profile " + std::to_string(profile));
      EncodeSetup s;
      s.profile = profile;
      s.lossless = lossless;
      for (const auto* pages : {&one, &two, &twelve, &odd}) {
        SCOPED_TRACE(std::to_string(pages->size()) + " pages");
        round_trip(*pages, s);
      }
    }
}

// A bound that a few charts fill: sections end early, their last page is taken back out and
// opens the next section, numbering runs on and every page stays exact.
TEST(ApiInterop, MemoryBoundSectionsStayExact) {
  const std::vector<RefBitmap> pages = charts({1, 2, 3, 4, 5, 6, 7, 8});
  for (bool lossless : {true, false}) {
    SCOPED_TRACE(lossless);
    EncodeSetup s;
    s.lossless = lossless;
    s.memoryLimit = 600000;
    Encoded e;
    round_trip(pages, s, &e);
    EXPECT_GE(e.fullSections, 2);
  }
}

// Partial ends keep the section's symbols in the stream: the second section's pages may use the
// first section's dictionary, and its classes carry on whether the second section uses them or
// not. (A third section would refer to five segments or more, whose header form jbig2dec 0.19
// reads one byte short.)
TEST(ApiInterop, PartialEndsReferToEarlierDictionaries) {
  const std::vector<RefBitmap> pages = charts({4, 4, 5, 5});
  for (bool lossless : {true, false}) {
    SCOPED_TRACE(lossless);
    EncodeSetup s;
    s.lossless = lossless;
    s.endMode = 1;
    s.pagesPerSection = 2;
    Encoded e;
    round_trip(pages, s, &e);
    EXPECT_EQ(e.dictionaries.size(), 2u);
  }
}

// Standalone files: every page of a run in one file, sections following each other, decoded by
// jbig2dec page for page; a comment for the whole file does not disturb the reading.
TEST(ApiInterop, FilesDecodePageForPage) {
  const std::vector<RefBitmap> pages = charts({2, 6, 8});
  for (bool lossless : {true, false})
    for (uint32_t profile : {1u, 2u, 3u}) {
      // Lossy coding changes nothing in how the file is laid out: one profile shows it reads.
      if (!lossless && profile != 3) continue;
      SCOPED_TRACE(std::string(lossless ? "lossless" : "lossy") + " profile " + std::to_string(profile));
      jb2test::Bytes file;
      EncodeSetup s;
      s.profile = profile;
      s.lossless = lossless;
      s.pagesPerSection = 2;
      s.file = &file;
      s.comments = {"three charts"};
      Encoded e;
      std::string what;
      ASSERT_EQ(apitest::encode(pages, s, &e, &what), VLT_OK) << what;
      EXPECT_EQ(e.dictionaries.size(), 2u);
      for (const auto& block : e.pages) EXPECT_TRUE(block.empty()) << "a file run hands no block out";
      std::string messages;
      const std::vector<RefBitmap> decoded = monotest::jbig2dec_decode_pages(file, &messages);
      ASSERT_EQ(decoded.size(), pages.size()) << messages;
      for (size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1));
        ASSERT_EQ(decoded[p].width, pages[p].width);
        ASSERT_EQ(decoded[p].height, pages[p].height);
        if (lossless) {
          EXPECT_EQ(monotest::first_difference(pages[p], decoded[p]), "") << messages;
        } else {
          const double budget = 0.01 * double(pages[p].count());
          EXPECT_LE(double(monotest::unexplained_ink(pages[p], decoded[p])), budget) << "lost ink";
          EXPECT_LE(double(monotest::unexplained_ink(decoded[p], pages[p])), budget) << "added ink";
        }
      }
    }
}

// poppler, a decoder of its own, through a minimal PDF per page: a two-page section under every
// profile, and a third partial section whose text regions refer to five segments (the header
// form jbig2dec misreads).
TEST(ApiInterop, PagesInPdfRenderThroughPoppler) {
  monotest::require_tool("pdfimages", "poppler-utils");
  monotest::require_tool("qpdf", "qpdf");
  const auto check = [](const Encoded& e, const std::vector<RefBitmap>& pages, bool partial) {
    for (size_t p = 0; p < pages.size(); ++p) {
      SCOPED_TRACE("page " + std::to_string(p));
      monotest::TempDir dir;
      const std::string pdf = dir.file("page.pdf");
      const jb2test::EmbeddedStreams streams{globals_for(e, e.sectionOf[p], partial), e.pages[p]};
      monotest::write_file(pdf, jb2test::minimal_pdf(streams, pages[p].width, pages[p].height));
      const monotest::ToolResult checked = monotest::run_tool("qpdf --check " + monotest::shell_quote(pdf));
      EXPECT_EQ(checked.exit_code, 0) << checked.output;
      const monotest::ToolResult images =
          monotest::run_tool("pdfimages " + monotest::shell_quote(pdf) + " " + monotest::shell_quote(dir.file("img")));
      ASSERT_EQ(images.exit_code, 0);
      EXPECT_EQ(monotest::first_difference(pages[p], monotest::read_pbm(dir.file("img-000.pbm"))), "");
    }
  };
  const std::vector<RefBitmap> two = charts({2, 3});
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    EncodeSetup s;
    s.profile = profile;
    Encoded e;
    std::string what;
    ASSERT_EQ(apitest::encode(two, s, &e, &what), VLT_OK) << what;
    check(e, two, false);
  }
  const std::vector<RefBitmap> three = charts({4, 5, 4});
  EncodeSetup s;
  s.endMode = 1;
  s.pagesPerSection = 1;
  Encoded e;
  std::string what;
  ASSERT_EQ(apitest::encode(three, s, &e, &what), VLT_OK) << what;
  EXPECT_EQ(apitest::check_segments(e), "");
  check(e, three, true);
}


// Lines of three glyph shapes on a grey page that looks scanned (box blur, noise), and the page
// coded: that grey page thresholded. Every fifth glyph has its horizontal strokes one row thicker
// on top, which gives a class bitmap an upper row its smoothed exemplar drops.
struct ScannedGlyphs {
  static constexpr int kWidth = 600, kHeight = 180;
  RefBitmap sharp{kWidth, kHeight}, page{kWidth, kHeight};
  std::vector<uint8_t> grey = std::vector<uint8_t>(size_t(kWidth) * kHeight);
  std::vector<std::pair<int, int>> plain;  // top left of each glyph without the thicker row
  ScannedGlyphs() {
    for (int line = 0; line < 4; ++line)
      for (int k = 0; k < 23; ++k) {
        const int x0 = 16 + 25 * k + line % 2, y0 = 12 + 42 * line + k % 3;
        if (k % 5 != 0) plain.emplace_back(x0, y0);
        for (int y = 0; y < 18; ++y)
          for (int x = 0; x < 14; ++x) {
            const double dx = x - 6.5, dy = y - 6.5, r = std::sqrt(dx * dx + dy * dy);
            const bool ink = (k + line) % 3 == 0   ? (r >= 3.2 && r <= 6.4) || (x >= 10 && x <= 12 && y >= 6)
                             : (k + line) % 3 == 1 ? y <= 2 || (x >= 5 && x <= 8)
                                                   : std::abs(x - 0.75 * y) <= 1.6 || std::abs(13 - x - 0.75 * y) <= 1.6;
            if (!ink) continue;
            sharp.set(x0 + x, y0 + y, 1);
            if (k % 5 == 0) sharp.set(x0 + x, y0 + y - 1, 1);
          }
      }
    std::mt19937 rng(17);
    std::normal_distribution<double> noise(0.0, 18.0);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        int s = 0;
        for (int v = y - 1; v <= y + 1; ++v)
          for (int u = x - 1; u <= x + 1; ++u) s += u >= 0 && v >= 0 && u < kWidth && v < kHeight && sharp.get(u, v);
        const auto g = uint8_t(std::clamp(240.0 - 220.0 * s / 9.0 + noise(rng), 0.0, 255.0));
        grey[size_t(y) * kWidth + size_t(x)] = g;
        page.set(x, y, g < 128);
      }
  }
};

// One lossy section of the page whose classes are smoothed from the grey page, decoded by
// jbig2dec.
RefBitmap smoothed_round_trip(const ScannedGlyphs& s) {
  const VltApiOptions o = apitest::single_page_options();
  VltApiHandle* h = nullptr;
  EXPECT_EQ(VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr), VLT_OK);
  uint32_t bpl = 0;
  std::vector<uint8_t> buf = apitest::framed(s.page, &bpl);
  VltPageDesc desc{buf.data(), uint32_t(s.page.width), uint32_t(s.page.height), bpl, 300, 300};
  uint8_t full = 0;
  EXPECT_EQ(VltApi_startSection(h), VLT_OK);
  EXPECT_EQ(VltApi_addMonoPage(h, &desc, &full), VLT_OK);
  EXPECT_EQ(VltApi_endSection(h, 0), VLT_OK);
  VltImage* g = nullptr;
  EXPECT_EQ(VltImage_new(h->state, VLT_IMAGE_GRAY, s.kWidth, s.kHeight, &g), VLT_OK);
  for (int y = 0; y < s.kHeight; ++y) std::copy_n(s.grey.begin() + ptrdiff_t(y) * s.kWidth, s.kWidth, g->rows[y]);
  int token = 0;
  EXPECT_EQ(sumGrayInstances(h->state, g, h->lossyDoc->section->classes, &token,
                             h->lossyDoc->section->pages[0].pageNumber),
            VLT_OK);
  VltImage_free(g);
  EXPECT_EQ(VltApi_redTokNoise(h), VLT_OK);
  VltApiDict dict{};
  VltApiPosBlock block{};
  EXPECT_EQ(VltApi_getDict(h, 0, &dict), VLT_OK);
  EXPECT_EQ(VltApi_getNextPosBlock(h, &block), VLT_OK);
  const auto decoded = monotest::jbig2dec_decode_embedded(jb2test::Bytes(dict.bytes, dict.bytes + dict.length),
                                                          jb2test::Bytes(block.bytes, block.bytes + block.length));
  std::free(dict.bytes);
  std::free(block.bytes);
  EXPECT_EQ(VltApi_close(h), VLT_OK);
  return decoded.page;
}

// A smoothed class bitmap is cut to its own ink, which may begin a row or column inside the old
// one: its instances must still be drawn over their glyphs, not a pixel beside them. Each plain
// glyph matches the decoded page best where it lies.
TEST(ApiInterop, SmoothedGlyphsStayInPlace) {
  const ScannedGlyphs s;
  const RefBitmap decoded = smoothed_round_trip(s);
  ASSERT_EQ(decoded.width, s.sharp.width);
  ASSERT_EQ(decoded.height, s.sharp.height);
  for (const std::pair<int, int>& corner : s.plain) {
    const int x0 = corner.first, y0 = corner.second;  // clang 14 lambdas capture no structured binding
    const auto differing = [&](int sx, int sy) {
      int d = 0;
      for (int y = y0 - 3; y < y0 + 21; ++y)
        for (int x = x0 - 3; x < x0 + 17; ++x) d += decoded.get(x + sx, y + sy) != s.sharp.get(x, y);
      return d;
    };
    const int here = differing(0, 0);
    int best = here, bx = 0, by = 0;
    for (int sy = -2; sy <= 2; ++sy)
      for (int sx = -2; sx <= 2; ++sx)
        if (const int d = differing(sx, sy); d < best) {
          best = d;
          bx = sx;
          by = sy;
        }
    EXPECT_EQ(here, best) << "glyph at " << x0 << "," << y0 << " fits better moved by " << bx << "," << by;
  }
}

}  // namespace
