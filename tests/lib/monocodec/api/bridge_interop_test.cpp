// Pages written through the engine's JBIG2 bridge, decoded by jbig2dec from the dictionary block
// and each page block: every placement lands whole, including those the stripe split used to cut.

#include <gtest/gtest.h>

#include "bridge_fixture.h"
#include "jb2_symbol_sample.h"
#include "jbig2dec.h"
#include "pixr.h"

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

// The same section as one standalone file of three pages, with a comment: jbig2dec gives back
// every page pixel for pixel.
TEST_F(BridgeTest, FilesDecodePageForPage) {
  const Section section = stripe_section();
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    jb2test::Bytes file;
    ASSERT_EQ(bridgetest::write_file(state, section, profile, {'s', 'c', 'a', 'n'}, &file), VLT_OK);
    std::string messages;
    const std::vector<RefBitmap> pages = monotest::jbig2dec_decode_pages(file, &messages);
    ASSERT_EQ(pages.size(), section.pages.size()) << messages;
    for (size_t p = 0; p < pages.size(); ++p)
      EXPECT_EQ(monotest::first_difference(bridgetest::render(section, section.pages[p]), pages[p]), "")
          << "page " << p << ": " << messages;
  }
}

}  // namespace

namespace {

// Slot 7: the boxes of one group with their PIXRs become generic regions where the boxes say;
// boxes of other groups stay listed with their images.
TEST(BridgePixrTest, OneGroupOfImagesBecomesGenericRegions) {
  for (uint32_t profile : {2u, 3u}) {
    SCOPED_TRACE(profile);
    VltState* es = nullptr;
    ASSERT_EQ(Vlt_initVltState(&es, nullptr, nullptr, nullptr, nullptr, 1, 0), VLT_OK);
    VltAdtList *boxes = nullptr, *pixrs = nullptr;
    ASSERT_EQ(VltAdt_liNew(&boxes, es), VLT_OK);
    ASSERT_EQ(VltAdt_liNew(&pixrs, es), VLT_OK);
    RefBitmap expected(200, 120);
    const struct {
      int x, y, w, h, period, group;
    } spec[] = {{10, 5, 40, 30, 0, 1}, {100, 60, 70, 50, 3, 1}, {60, 40, 30, 30, 0, 2}};
    for (const auto& b : spec) {
      const RefBitmap ink = monotest::make_noise(b.w, b.h, 0.4, uint32_t(b.x));
      PIXR* p = nullptr;
      ASSERT_EQ(w_createPixr(es->ipwState, b.w, b.h, 1, 300, 300, 0, &p), VLT_OK);
      int32_t bpl = 0;
      uint8_t* bits = nullptr;
      ASSERT_EQ(w_pixrGetBpl(es->ipwState, p, &bpl), VLT_OK);
      ASSERT_EQ(w_pixrGetImage(es->ipwState, p, &bits), VLT_OK);
      for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x)
          if (ink.get(x, y)) {
            bits[size_t(y) * size_t(bpl) + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
            if (b.group == 1) expected.set(b.x + x, b.y + y, 1);
          }
      auto* box = static_cast<Jb2PixrBox*>(es->calloc(1, sizeof(Jb2PixrBox)));
      *box = Jb2PixrBox{b.x, b.y, b.w, b.h, 0, 0, b.period, 0, b.group};
      ASSERT_EQ(VltAdt_liAdd(boxes, box, nullptr), VLT_OK);
      ASSERT_EQ(VltAdt_liAdd(pixrs, p, nullptr), VLT_OK);
    }
    Jb2StreamState* s = nullptr;
    uintptr_t ctx = 0;
    ASSERT_EQ(createJb2StateAPICB(nullptr, es, profile, 1, 1, &s, &ctx), VLT_OK);
    const uint8_t unstriped = 1;
    ASSERT_EQ(writeJb2PageInfo(200, 120, 300, 300, s, &unstriped), VLT_OK);
    ASSERT_EQ(writeJb2BinaryPixrCB(boxes, 1, pixrs, s), VLT_OK);
    EXPECT_EQ(boxes->count, 1u);
    EXPECT_EQ(pixrs->count, 1u);
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(getJb2CompressedData(s, &bytes, &length), VLT_OK);
    const jb2test::Bytes page(bytes, bytes + length);
    es->free(bytes);
    ASSERT_EQ(closeJb2StateAPICB(s, ctx), VLT_OK);
    const auto decoded = monotest::jbig2dec_decode_embedded({}, page);
    EXPECT_EQ(monotest::first_difference(expected, decoded.page), "") << decoded.messages;
    PIXR* left = static_cast<PIXR*>(pixrs->first->data);
    w_destroyPixr(es->ipwState, &left);
    es->free(boxes->first->data);
    VltAdt_liFree(boxes);
    VltAdt_liFree(pixrs);
    Vlt_cleanupVltState(&es);
  }
}

}  // namespace
