// Real pages through the page-component stage: the eight CCITT charts and two rendered 300-dpi
// pages paint back exactly from what the routing made, as whole pages (split), in strips and
// through the lossless document.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pagecc_fixture.h"
#include "pages.h"
#include "sanitizer_size.h"

namespace {

using monotest::RefBitmap;
using toktest::PageCCTest;

// Every chart and two document pages; under the sanitizers a line-art chart, a dense text chart and
// one document page.
std::vector<std::pair<std::string, RefBitmap>> real_pages() {
  std::vector<std::pair<std::string, RefBitmap>> pages;
  const std::vector<int> charts =
      monotest::kSanitized ? std::vector<int>{2, 4} : std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8};
  for (const int n : charts) pages.emplace_back("ccitt" + std::to_string(n), monotest::ccitt_chart(n));
  for (const int n : {3, 10})
    if (!monotest::kSanitized || n == 3) pages.emplace_back("doc" + std::to_string(n), monotest::doc_page(n));
  return pages;
}

TEST_F(PageCCTest, RealPagesPaintBackExactly) {
  const auto pages = real_pages();
  for (const int lossy : {100000, 6}) {
    open_section(lossy);
    for (const auto& [name, page] : pages) {
      SCOPED_TRACE(name + " lossy " + std::to_string(lossy));
      ASSERT_EQ(open_page(page.width, page.height), VLT_OK);
      ASSERT_EQ(scan(page), VLT_OK);
      EXPECT_GT(cc->splitRow, 1);
      EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "");
      close_page();
    }
    close_section();
    tokFreeState(tok);
    tok = nullptr;
  }
}

TEST_F(PageCCTest, RealPagesInStripsAndLosslessPaintBack) {
  open_section(6);
  std::mt19937 rng(5);
  for (const auto& [name, page] : real_pages()) {
    SCOPED_TRACE(name);
    ASSERT_EQ(open_page(page.width, page.height), VLT_OK);
    for (int row = 0; row < page.height;) {
      const int h = std::min(page.height - row, 1 + int(rng() % 300));
      RefBitmap strip(page.width, h);
      for (int y = 0; y < h; ++y) std::memcpy(strip.row(y), page.row(row + y), page.stride);
      int32_t bpl = 0;
      const std::vector<uint8_t> buf = framed(strip, &bpl);
      row += h;
      ASSERT_EQ(getBoxesfromBuffer(engine, buf.data(), page.width, h, bpl, 32, row == page.height, 1, 1, 1, cc), VLT_OK);
    }
    EXPECT_EQ(monotest::first_difference(page, rebuild(page.width, page.height)), "");
    close_page();

    int32_t bpl = 0;
    const std::vector<uint8_t> buf = framed(page, &bpl);
    int32_t count = 0;
    ResidualPos* residuals = nullptr;
    VltAdtList* large = nullptr;
    ++pageIndex;
    ASSERT_EQ(VltCC_getBoxes(engine, &count, &residuals, &large, ll, buf.data(), page.width, page.height, 300, 300,
                             bpl, tokBlock, posBlock, pageIndex, 1, 0),
              VLT_OK);
    RefBitmap out(page.width, page.height);
    bool outside = false;
    for (VltAdtListNode* n = large->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokComponent*>(n->data);
      paint_runs(&out, c->runs, c->runCount, c->x, c->y, &outside);
      tok_freeComponent(engine, c, TOK_POOL_LOSSLESS_CC);
    }
    VltAdt_liFree(large);
    paint_lossless(&out, residuals, pageIndex, &outside);
    engine->free(residuals);
    EXPECT_FALSE(outside);
    EXPECT_EQ(monotest::first_difference(page, out), "");
  }
}

}  // namespace
