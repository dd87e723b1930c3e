// Pages written through the engine's JBIG2 bridge, decoded by jbig2dec from the dictionary block
// and each page block: every placement lands whole, including those the stripe split used to cut.

#include <gtest/gtest.h>

#include "bridge_fixture.h"
#include "jb2_symbol_sample.h"
#include "jbig2dec.h"

namespace {

using bridgetest::Blocks;
using bridgetest::LargePiece;
using bridgetest::Placement;
using bridgetest::Section;
using bridgetest::TestPage;
using monotest::RefBitmap;

RefBitmap filled(int w, int h) {
  RefBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.set(x, y, (x + y) % 3 != 0);
  return b;
}

Section stripe_section() {
  Section s;
  s.shapes = {RefBitmap(1, 1), filled(7, 1), filled(4, 2), filled(6, 24), filled(9, 9)};
  s.shapes[0].set(0, 0, 1);
  s.sectionShapes = 3;
  const std::vector<RefBitmap> more = jb2test::random_shapes(12, 14, 31);
  s.shapes.insert(s.shapes.end(), more.begin(), more.end());
  {
    TestPage p;  // a one-row component on the split row, a tall class crossing it
    p.width = 120, p.height = 600, p.splitRow = 300;
    p.residualShapes = {3};
    p.placed = {{1, 10, 300}, {1, 30, 299}, {1, 50, 301}, {3, 70, 310}, {0, 119, 599}, {0, 0, 0}};
    s.pages.push_back(p);
  }
  {
    TestPage p;  // ink on rows 0-1 of an unsplit page
    p.width = 64, p.height = 40, p.splitRow = 1;
    p.residualShapes = {4};
    p.placed = {{2, 0, 1}, {2, 60, 1}, {1, 20, 0}, {4, 30, 20}, {0, 5, 39}};
    s.pages.push_back(p);
  }
  {
    TestPage p;  // a large piece by runs crossing the split, one by bitmap below it, and many shapes
    p.width = 400, p.height = 501, p.splitRow = 250;
    for (int i = 0; i < 12; ++i) p.residualShapes.push_back(5 + i);
    for (int i = 0; i < 300; ++i) {
      const int shape = i % 3 == 0 ? 5 + (i / 3) % 12 : i % 3;
      const RefBitmap& bm = s.shapes[size_t(shape)];
      p.placed.push_back(Placement{shape, (i * 131) % (p.width - bm.width + 1),
                                   bm.height - 1 + (i * 97) % (p.height - bm.height + 1)});
    }
    p.large = {LargePiece{filled(60, 80), 200, 280, true}, LargePiece{filled(45, 33), 10, 260, false}};
    s.pages.push_back(p);
  }
  return s;
}

TEST_F(BridgeTest, EveryPlacementDecodesWhole) {
  const Section section = stripe_section();
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    Blocks blocks;
    ASSERT_EQ(bridgetest::write_section(state, section, profile, &blocks), VLT_OK);
    for (size_t p = 0; p < section.pages.size(); ++p) {
      SCOPED_TRACE(p);
      const auto decoded = monotest::jbig2dec_decode_embedded(blocks.dictionary, blocks.pages[p]);
      const RefBitmap expected = bridgetest::render(section, section.pages[p]);
      EXPECT_EQ(monotest::first_difference(expected, decoded.page), "") << decoded.messages;
    }
  }
}

}  // namespace
