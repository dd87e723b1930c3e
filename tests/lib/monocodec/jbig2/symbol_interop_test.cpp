// Symbol dictionaries and text regions we write, decoded by jbig2dec.

#include <gtest/gtest.h>

#include "jb2_fixture.h"
#include "jb2_symbol_sample.h"
#include "jbig2dec.h"
#include "pages.h"
#include <random>

namespace {

using jb2test::SymbolPage;
using monotest::first_difference;
using monotest::RefBitmap;

struct SymbolInteropTest : Jb2Test {};

TEST_F(SymbolInteropTest, Smoke) {
  SymbolPage page;
  page.shapes = jb2test::random_shapes(50, 20, 7);
  std::vector<int> use;
  for (int i = 0; i < 300; ++i) use.push_back(i % 50);
  page.width = 600;
  page.placed = jb2test::text_lines(page.shapes, use, page.width, 30, 3, 2, 5);
  page.height = 400;
  for (int profile : {1, 2, 3}) {
    SCOPED_TRACE(profile);
    std::vector<jb2test::BandChoice> choices;
    const auto file = jb2test::symbol_page_file(state, page, jb2test::profile_params(profile), &choices);
    const auto d = monotest::jbig2dec_decode(file);
    EXPECT_EQ(d.messages, "");
    EXPECT_EQ(first_difference(jb2test::render(page.shapes, page.placed, page.width, page.height), d.page), "");
  }
}

}  // namespace
namespace {
TEST_F(SymbolInteropTest, Explore) {
  auto run = [&](const char* name, SymbolPage& page) {
    for (int profile : {1, 2, 3}) {
      std::vector<jb2test::BandChoice> choices;
      const auto file = jb2test::symbol_page_file(state, page, jb2test::profile_params(profile), &choices);
      const auto d = monotest::jbig2dec_decode(file);
      const bool same = first_difference(jb2test::render(page.shapes, page.placed, page.width, page.height), d.page) == "";
      if (!same && getenv("DUMP")) { for (auto& sg : jb2test::parse_segments(file, true)) { printf("seg %u type %u len %zu:", sg.number, sg.type, sg.data.size()); for (size_t k = 0; k < sg.data.size() && k < 40; ++k) printf(" %02x", sg.data[k]); printf("\n"); } }
      printf("%s p%d bytes %zu same %d msgs[%s] :", name, profile, file.size(), same, d.messages.c_str());
      for (auto& c : choices) printf(" s%d t%d c%d tu%d", c.sbStrips, c.transposed, c.refCorner, c.tunedTables);
      printf("\n");
    }
  };
  for (int sp : {1, 2, 3, 4, 6, 8, 16}) {
    SymbolPage page;
    for (int w = 3; w < 9; ++w) { RefBitmap bm(w, 1); for (int x = 0; x < w; ++x) bm.set(x, 0, 1); page.shapes.push_back(bm); }
    page.width = 300; page.height = 200;
    std::mt19937 rng(3);
    for (int y = 0; y < 160; y += sp)
      for (int x = int(rng() % 5); x < 280; x += 12) page.placed.push_back({int(rng() % 6), x, y});
    run(("spacing" + std::to_string(sp)).c_str(), page);
  }
  for (int n : {8}) { if (getenv("SKIPCHART")) break;
    const RefBitmap chart = monotest::ccitt_chart(n);
    const auto glyphs = jb2test::cut_glyphs(chart);
    const auto cls = jb2test::exact_classes(glyphs);
    SymbolPage page;
    page.shapes = cls.shapes;
    for (size_t i = 0; i < glyphs.size(); ++i) page.placed.push_back({cls.classOf[i], glyphs[i].x, glyphs[i].y});
    page.width = chart.width;
    page.height = chart.height;
    page.bandRows = {chart.height / 2};
    printf("chart %d: %zu glyphs %zu shapes\n", n, glyphs.size(), cls.shapes.size());
    run("chart", page);
  }
  for (int jitter : {99}) { if (getenv("SKIPJ")) break;
    SymbolPage page;
    page.shapes = jb2test::random_shapes(40, 12, 7);
    std::vector<int> use;
    for (int i = 0; i < 400; ++i) use.push_back(i % 40);
    page.width = 800;
    page.placed = jb2test::text_lines(page.shapes, use, page.width, 24, 2, jitter, 5);
    page.height = 400;
    run(("jitter" + std::to_string(jitter)).c_str(), page);
  }
  {
    SymbolPage page;
    page.shapes = jb2test::random_shapes(40, 12, 9);
    std::vector<int> use;
    for (int i = 0; i < 300; ++i) use.push_back(i % 40);
    page.height = 500;
    page.placed = jb2test::text_columns(page.shapes, use, page.height, 20, 2);
    page.width = 500;
    run("columns", page);
  }
  {
    SymbolPage page;
    page.shapes = jb2test::random_shapes(5, 24, 11);
    std::vector<int> use;
    for (int i = 0; i < 5; ++i) use.push_back(i);
    page.width = 2500;
    page.placed = jb2test::text_lines(page.shapes, use, page.width, 30, 2, 3, 5);
    page.height = 3300;
    run("5000", page);
  }
}
}
