// The test support library decides what every other test believes, so it is tested too.

#include <gtest/gtest.h>

#include "counting_alloc.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "tools.h"

using namespace monotest;

TEST(RefBitmapPbm, RawAndPlainRoundTripAtOddWidths) {
  for (int w : {1, 7, 9, 33}) {
    const RefBitmap bm = make_noise(w, 5, 0.4, static_cast<uint32_t>(w));
    for (bool plain : {false, true}) {
      const RefBitmap back = parse_pbm(format_pbm(bm, plain));
      EXPECT_EQ(first_difference(bm, back), "") << "width " << w << (plain ? " P1" : " P4");
    }
  }
}

TEST(RefBitmapPbm, ParsesCommentsAndRejectsTruncatedData) {
  const RefBitmap bm = parse_pbm("P1\n# a comment\n3 2\n1 0 1\n0 1 0\n");
  EXPECT_EQ(bm.width, 3);
  EXPECT_EQ(bm.get(0, 0), 1);
  EXPECT_EQ(bm.get(1, 1), 1);
  EXPECT_EQ(bm.count(), 3u);
  EXPECT_THROW(parse_pbm("P4\n16 2\n\x01"), std::runtime_error);
  EXPECT_THROW(parse_pbm("P1\n2 2\n1 0 1"), std::runtime_error);
  EXPECT_THROW(parse_pbm("P2\n1 1\n1\n0\n"), std::runtime_error);
}

TEST(RefBitmapPbm, RawPaddingBitsAreClearedOnRead) {
  const RefBitmap bm = parse_pbm(std::string("P4\n3 1\n", 7) + '\xFF');
  EXPECT_EQ(bm.bits[0], 0xE0);
}

TEST(RefBitmap, FirstDifferenceNamesThePixel) {
  RefBitmap a(10, 4), b(10, 4);
  EXPECT_EQ(first_difference(a, b), "");
  b.set(6, 2, 1);
  b.set(9, 3, 1);
  EXPECT_EQ(first_difference(a, b), "2 pixel(s) differ; first at (6,2): expected 0, got 1");
  EXPECT_NE(first_difference(a, RefBitmap(10, 5)).find("size differs"), std::string::npos);
}

TEST(RefBitmap, GeneratorsAreDeterministicAndRoughlyAsDense) {
  const RefBitmap n = make_noise(200, 100, 0.25, 1);
  EXPECT_EQ(n, make_noise(200, 100, 0.25, 1));
  EXPECT_NEAR(static_cast<double>(n.count()) / 20000.0, 0.25, 0.02);
  const RefBitmap c = make_checkerboard(8, 2, 1);
  EXPECT_EQ(c.bits[0], 0x55);
  EXPECT_EQ(c.bits[1], 0xAA);
  EXPECT_GT(make_text_blobs(400, 200, 3).count(), 1000u);
  EXPECT_GT(make_lines(100, 100, 3).count(), 100u);
}

TEST(CountingAllocator, FailsExactlyTheChosenAllocationAndTracksLiveBlocks) {
  CountingAllocator a;
  a.fail_at(2);
  void* p = CountingAllocator::c_malloc(10, &a);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(CountingAllocator::c_calloc(2, 4, &a), nullptr);
  void* q = CountingAllocator::c_calloc(2, 4, &a);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(q)[7], 0);
  p = CountingAllocator::c_realloc(p, 100, &a);
  EXPECT_EQ(a.live_blocks(), 2u);
  EXPECT_EQ(a.live_bytes(), 108u);
  CountingAllocator::c_free(p, &a);
  CountingAllocator::c_free(q, &a);
  CountingAllocator::c_free(nullptr, &a);
  EXPECT_EQ(a.live_blocks(), 0u);
  EXPECT_EQ(a.failures(), 1u);
  EXPECT_EQ(a.allocations(), 4u);
  int local;
  CountingAllocator::c_free(&local, &a);
  EXPECT_EQ(a.foreign(), 1u);

  CountingAllocator b;
  b.fail_from(1);
  EXPECT_EQ(b.allocate(1), nullptr);
  EXPECT_EQ(b.allocate(1), nullptr);
  EXPECT_EQ(b.failures(), 2u);
}

TEST(Tools, RunToolCapturesOutputAndExitCode) {
  const ToolResult r = run_tool("printf 'a b'; exit 3");
  EXPECT_EQ(r.output, "a b");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_THROW(require_tool("no-such-tool-here", "no-such-package"), std::runtime_error);
  TempDir d;
  write_file(d.file("x"), "data");
  EXPECT_EQ(read_file(d.file("x")), "data");
  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
}

TEST(PageCorpus, ChartsAndDocumentPagesAreRealPages) {
  const RefBitmap chart = ccitt_chart(1);
  EXPECT_EQ(chart.width, 1728);
  EXPECT_EQ(chart.height, 2376);
  const RefBitmap page = doc_page(3);
  EXPECT_EQ(page.width, 2550);
  EXPECT_EQ(page.height, 3300);
  // Text pages are mostly white but far from blank.
  const double black = static_cast<double>(page.count()) / (2550.0 * 3300.0);
  EXPECT_GT(black, 0.005);
  EXPECT_LT(black, 0.3);
  EXPECT_EQ(ccitt_chart(1), chart) << "the cached copy must read back the same";
}
