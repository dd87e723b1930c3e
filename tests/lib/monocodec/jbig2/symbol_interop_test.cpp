// Symbol dictionaries and text regions we write, decoded by jbig2dec and poppler: the pages they
// produce are compared pixel for pixel with the placements rendered here, and our own decoder
// must give the page jbig2dec gives. The matrix samples
// symbol sets, placements and profiles so that every strip size, both transpositions, both
// reference corners and tuned tables occur, and checks that they did.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>

#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_symbol_sample.h"
#include "jbig2dec.h"
#include "pages.h"
#include "tools.h"

namespace {

using jb2test::BandChoice;
using jb2test::Placed;
using jb2test::SymbolPage;
using monotest::first_difference;
using monotest::RefBitmap;

// Lines of the shapes, used in the given order, on a page just tall enough.
SymbolPage lines_page(std::vector<RefBitmap> shapes, const std::vector<int>& use, int width, int lineHeight, int gap,
                      int jitter) {
  SymbolPage page;
  page.shapes = std::move(shapes);
  page.width = width;
  page.placed = jb2test::text_lines(page.shapes, use, width, lineHeight, gap, jitter, 17);
  page.height = 0;
  for (const Placed& p : page.placed) page.height = std::max(page.height, p.y + page.shapes[static_cast<size_t>(p.shape)].height);
  page.height += 3;
  return page;
}

std::vector<int> each_once(int n) {
  std::vector<int> use(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) use[static_cast<size_t>(i)] = i;
  return use;
}

struct Scenario {
  std::string name;
  SymbolPage page;
  std::vector<int> profiles = {1, 2, 3};
};

std::vector<Scenario> scenarios() {
  std::vector<Scenario> out;
  {
    SymbolPage p = lines_page(jb2test::random_shapes(1, 9, 1), {0}, 40, 20, 3, 0);
    out.push_back({"one symbol once", p});
  }
  {
    std::vector<int> use(400, 0);
    out.push_back({"one symbol 400 times", lines_page(jb2test::random_shapes(1, 9, 2), use, 300, 14, 2, 2)});
  }
  out.push_back({"5,000 symbols", lines_page(jb2test::random_shapes(5000, 24, 11), each_once(5000), 2500, 30, 2, 3)});
  {
    // A few classes used very often, most rarely.
    std::vector<int> use;
    std::mt19937 rng(5);
    for (int i = 0; i < 3000; ++i) use.push_back(static_cast<int>(300.0 / (1.0 + rng() % 300)) - 1);
    out.push_back({"skewed class counts", lines_page(jb2test::random_shapes(300, 16, 3), use, 1600, 22, 2, 2)});
  }
  {
    // Usage growing like the Fibonacci numbers: unlimited symbol codes would need 17 bits.
    std::vector<int> use;
    uint32_t a = 1, b = 1;
    for (int s = 0; s < 18; ++s) {
      for (uint32_t k = 0; k < a; ++k) use.push_back(s);
      const uint32_t next = a + b;
      a = b;
      b = next;
    }
    std::shuffle(use.begin(), use.end(), std::mt19937(8));
    std::vector<RefBitmap> dots;
    for (int s = 0; s < 18; ++s) {
      RefBitmap bm(1 + s % 3, 1 + s / 3);
      for (int y = 0; y < bm.height; ++y) bm.set(0, y, 1);
      dots.push_back(bm);
    }
    out.push_back({"Fibonacci class counts", lines_page(dots, use, 1200, 9, 1, 0)});
  }
  for (int n : {1, 5}) {
    Scenario s{"CCITT chart " + std::to_string(n), jb2test::glyph_page(monotest::ccitt_chart(n))};
    if (n == 5) s.page.dirtyPadding = true;
    out.push_back(s);
  }
  out.push_back({"rendered page", jb2test::glyph_page(monotest::doc_page(1))});
  {
    SymbolPage p;
    p.shapes = jb2test::random_shapes(40, 12, 9);
    std::vector<int> use;
    for (int i = 0; i < 300; ++i) use.push_back(i % 40);
    p.height = 500;
    p.width = 420;
    p.placed = jb2test::text_columns(p.shapes, use, p.height, 20, 2);
    out.push_back({"vertical text", p});
  }
  {
    // One line in each band, standing 1, 2, 5 and 12 rows below the band's top.
    SymbolPage p;
    for (int w = 3; w < 9; ++w) {
      RefBitmap bm(w, 1);
      for (int x = 0; x < w; ++x) bm.set(x, 0, 1);
      p.shapes.push_back(bm);
    }
    p.width = 200;
    p.height = 80;
    p.bandRows = {20, 40, 60};
    const int rows[4] = {1, 22, 45, 72};
    for (int band = 0; band < 4; ++band)
      for (int i = 0; i < 15; ++i) p.placed.push_back({(i + band) % 6, 4 + 12 * i, rows[band]});
    out.push_back({"one line per band", p});
  }
  {
    SymbolPage p = lines_page(jb2test::random_shapes(120, 14, 21), [] {
      std::vector<int> use;
      for (int i = 0; i < 600; ++i) use.push_back(i * 37 % 120);
      return use;
    }(), 900, 20, 2, 1);
    p.dictionaries = 2;
    p.bandRows = {p.height / 3};
    out.push_back({"section and page dictionaries", p});
  }
  {
    // Given order, top-left corner: only the profile that allows the corner.
    SymbolPage p = lines_page(jb2test::random_shapes(30, 12, 4), each_once(30), 200, 18, 3, 4);
    std::vector<int> use;
    for (int i = 0; i < 200; ++i) use.push_back(i % 30);
    p = lines_page(p.shapes, use, 400, 18, 3, 4);
    std::shuffle(p.placed.begin(), p.placed.end(), std::mt19937(3));
    p.keepOrder = 1;
    out.push_back({"kept order", p, {2}});
  }
  return out;
}

struct SymbolInteropTest : Jb2Test {
  // Our decoder's page of the bytes, padding bits dropped.
  RefBitmap ours(const std::vector<uint8_t>& bytes, jb2test::StreamForm form) {
    VltImage* page = nullptr;
    const VltStatus st = jb2test::read_page(state, bytes.data(), bytes.size(), form, &page);
    EXPECT_EQ(st, VLT_OK) << printed.text;
    if (st != VLT_OK) return RefBitmap(0, 0);
    RefBitmap bm = jb2test::ref_bitmap(page);
    VltImage_free(page);
    return bm;
  }
};

TEST_F(SymbolInteropTest, JbigDecReproducesEveryPage) {
  std::set<int> strips, transposed, corners;
  int tuned = 0;
  for (const Scenario& s : scenarios()) {
    const RefBitmap want = jb2test::render(s.page.shapes, s.page.placed, s.page.width, s.page.height);
    ASSERT_GT(want.count(), 0u) << s.name;
    for (int profile : s.profiles) {
      SCOPED_TRACE(s.name + ", profile " + std::to_string(profile));
      std::vector<BandChoice> choices;
      const auto file = jb2test::symbol_page_file(state, s.page, jb2test::profile_params(profile), &choices);
      const auto decoded = monotest::jbig2dec_decode(file);
      EXPECT_EQ(decoded.messages, "");
      EXPECT_EQ(first_difference(want, decoded.page), "");
      EXPECT_EQ(first_difference(decoded.page, ours(file, jb2test::StreamForm::kFile)), "");
      for (const BandChoice& c : choices) {
        strips.insert(c.sbStrips);
        transposed.insert(c.transposed);
        corners.insert(c.refCorner);
        tuned += c.tunedTables;
      }
    }
  }
  EXPECT_EQ(strips, (std::set<int>{1, 2, 4, 8}));
  EXPECT_EQ(transposed, (std::set<int>{0, 1}));
  EXPECT_EQ(corners, (std::set<int>{JB2_CORNER_BOTTOMLEFT, JB2_CORNER_TOPLEFT}));
  EXPECT_GT(tuned, 0);
}

// As PDF carries them: the dictionaries as globals, the page as its own stream. jbig2dec reads
// the pair, and poppler reads them from a minimal PDF that qpdf finds sound.
TEST_F(SymbolInteropTest, EmbeddedStreamsThroughJbigDecAndPoppler) {
  monotest::require_tool("qpdf", "qpdf");
  monotest::require_tool("pdfimages", "poppler-utils");
  SymbolPage page = jb2test::glyph_page(monotest::ccitt_chart(2));
  page.dictionaries = 2;
  const RefBitmap want = jb2test::render(page.shapes, page.placed, page.width, page.height);
  for (int profile : {1, 2, 3}) {
    SCOPED_TRACE("profile " + std::to_string(profile));
    const jb2test::EmbeddedStreams streams = jb2test::symbol_page_embedded(state, page, jb2test::profile_params(profile));
    const auto decoded = monotest::jbig2dec_decode_embedded(streams.globals, streams.page);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_EQ(first_difference(want, decoded.page), "");
    std::vector<uint8_t> both = streams.globals;
    both.insert(both.end(), streams.page.begin(), streams.page.end());
    EXPECT_EQ(first_difference(decoded.page, ours(both, jb2test::StreamForm::kEmbedded)), "");
    monotest::TempDir dir;
    const std::string pdf = dir.file("page.pdf");
    monotest::write_file(pdf, jb2test::minimal_pdf(streams, page.width, page.height));
    const monotest::ToolResult check = monotest::run_tool("qpdf --check " + monotest::shell_quote(pdf));
    EXPECT_EQ(check.exit_code, 0) << check.output;
    const monotest::ToolResult images =
        monotest::run_tool("pdfimages " + monotest::shell_quote(pdf) + " " + monotest::shell_quote(dir.file("img")));
    ASSERT_EQ(images.exit_code, 0);
    // 1-bit images come out as PBM, black as 1.
    EXPECT_EQ(first_difference(want, monotest::read_pbm(dir.file("img-000.pbm"))), "");
  }
}

}  // namespace
