// The image record: creation, checks, rings of shared buffers, composites, colour maps, copies,
// resizing and destruction, with every allocation counted.

#include <algorithm>
#include <numeric>

#include "pixr_fixture.h"

namespace pixrtest {
namespace {

using PixrRecord = WrapperTest;

TEST_F(PixrRecord, CreatedRecordHasFramedLayout) {
  PIXR* p = make(100, 10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->xRes, 19660800);
  EXPECT_EQ(p->type, 5);
  EXPECT_EQ(p->byteOrder, 0);
  uint8_t* image = nullptr;
  ASSERT_EQ(w_pixrGetImage(s, p, &image), VLT_OK);
  EXPECT_EQ(image, p->imageAll + 32 * p->bytesPerLine + 4);
  int32_t fw = 0, fh = 0;
  ASSERT_EQ(w_pixrFramedWidth(s, p, &fw), VLT_OK);
  ASSERT_EQ(w_pixrFramedHeight(s, p, &fh), VLT_OK);
  EXPECT_EQ(fw, 164);
  EXPECT_EQ(fh, 74);
  // The first image pixel meets the 32-byte access alignment.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(image) % 32, 0u);
  EXPECT_EQ(frame_ones(p), 0);
  EXPECT_EQ(to_ref(p).count(), 0u);
  destroy(p);
}

TEST_F(PixrRecord, CreationArgumentsAndChecks) {
  struct Case {
    int32_t depth, frame;
    VltStatus create, getWidth;
  } cases[] = {
      {1, 32, VLT_OK, VLT_OK},           {16, 0, VLT_OK, VLT_OK},
      {32, 32, VLT_OK, VLT_ERR_PIXR_DEPTH}, {12, 32, VLT_ERR_PARAM, VLT_OK},
      {3, 0, VLT_ERR_PARAM, VLT_OK},     {1, 16, VLT_ERR_PARAM, VLT_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << " frame " << c.frame);
    PIXR* p = nullptr;
    EXPECT_EQ(w_createPixr(s, 20, 5, c.depth, kDpi300, kDpi300, c.frame, &p), c.create);
    if (c.create != VLT_OK) {
      EXPECT_EQ(p, nullptr);
      continue;
    }
    int32_t w = 0;
    EXPECT_EQ(w_pixrGetWidth(s, p, &w), c.getWidth);
    destroy(p);
  }
  PIXR* p = make(8, 8);
  ASSERT_EQ(w_pixrSetFrame(s, p, 16), VLT_OK);
  int32_t v = 0;
  EXPECT_EQ(w_pixrGetHeight(s, p, &v), VLT_ERR_PIXR_FRAME);
  EXPECT_EQ(w_pixrSetFrame(s, p, 32), VLT_ERR_PIXR_FRAME);  // the setter checks the record first
  p->frame = 32;
  EXPECT_EQ(w_pixrSetWidth(s, p, -1), VLT_ERR_PARAM);
  EXPECT_EQ(w_pixrSetByteOrder(s, p, 2), VLT_ERR_PARAM);
  EXPECT_EQ(w_pixrGetWidth(s, p, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(w_pixrGetWidth(s, nullptr, &v), VLT_ERR_PIXR_NULL);
  PIXR* channel = nullptr;
  EXPECT_EQ(w_pixrGetChannel(s, p, 1, &channel), VLT_ERR_PARAM);
  EXPECT_EQ(w_pixrGetChannel(s, p, 0, &channel), VLT_OK);
  EXPECT_EQ(channel, p);
  EXPECT_EQ(w_pixrSetChannelCount(s, p, 17), VLT_ERR_PARAM);
  destroy(p);
  // Every failure was reported with the wrapper's line format.
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().rfind("--VERiza Error-- File:", 0), 0u);
}

TEST_F(PixrRecord, CheckFlagsOrder) {
  PIXR* p = make(8, 8, 8);
  struct Case {
    uint32_t order, depth, channels, frame;
    VltStatus want;
  } cases[] = {
      {PIXR_ORDER_ANY, PIXR_DEPTH_ANY, PIXR_CHANNELS_ANY, PIXR_FRAME_ANY, VLT_OK},
      {PIXR_ORDER_1, PIXR_DEPTH_1, PIXR_CHANNELS_3, PIXR_FRAME_0, VLT_ERR_PIXR_CHANNELS},
      {PIXR_ORDER_1, PIXR_DEPTH_1, PIXR_CHANNELS_1, PIXR_FRAME_0, VLT_ERR_PIXR_DEPTH},
      {PIXR_ORDER_1, PIXR_DEPTH_8, PIXR_CHANNELS_1, PIXR_FRAME_0, VLT_ERR_PIXR_FRAME},
      {PIXR_ORDER_1, PIXR_DEPTH_8, PIXR_CHANNELS_1, PIXR_FRAME_32, VLT_ERR_PIXR_BYTE_ORDER},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wp_pixrCheckFlags(s, p, c.order, c.depth, c.channels, c.frame), c.want);
  EXPECT_EQ(wp_pixrCheckFlags(s, nullptr, PIXR_ORDER_ANY, PIXR_DEPTH_ANY, PIXR_CHANNELS_ANY, PIXR_FRAME_ANY),
            VLT_ERR_PIXR_NULL);
  destroy(p);
}

// A ring of clones hands its buffer back exactly once, whichever member goes last.
TEST_F(PixrRecord, RingOfClonesFreesBufferOnce) {
  std::vector<int> order(4);
  std::iota(order.begin(), order.end(), 0);
  do {
    const size_t liveBefore = alloc.live_blocks(), freesBefore = alloc.frees();
    PIXR* members[4] = {make(40, 7)};
    mono::set_bit(line(members[0], 3), 5, 1);
    for (int i = 1; i < 4; ++i) ASSERT_EQ(w_clonePixrStructOnly(s, members[i - 1], &members[i]), VLT_OK);
    for (int i = 1; i < 4; ++i) {
      EXPECT_EQ(members[i]->imageBuffer, members[0]->imageBuffer);
      EXPECT_EQ(mono::get_bit(line(members[i], 3), 5), 1);
    }
    for (int k = 0; k < 4; ++k) {
      // Every survivor still reads the shared pixels.
      for (int j = k; j < 4; ++j) EXPECT_EQ(mono::get_bit(line(members[order[j]], 3), 5), 1);
      destroy(members[order[k]]);
    }
    EXPECT_EQ(alloc.live_blocks(), liveBefore);
    EXPECT_EQ(alloc.frees() - freesBefore, 5u);  // four records and one buffer
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(PixrRecord, ImageOnlyAndStructOnlyDestruction) {
  PIXR* p = make(16, 4, 1, 0);
  ASSERT_EQ(w_destroyPixrImageOnly(s, p), VLT_OK);
  EXPECT_EQ(p->imageBuffer, nullptr);
  uint8_t* row = nullptr;
  EXPECT_EQ(w_pixrGetLine(s, p, 0, &row), VLT_ERR_IPC_NO_IMAGE);
  EXPECT_EQ(w_pixrGetLine(s, p, 4, &row), VLT_ERR_IPC_BOUNDS);
  destroy(p);

  // A struct-only destruction leaves the buffer to the caller.
  PIXR* q = make(16, 4);
  uint8_t* buffer = q->imageBuffer;
  ASSERT_EQ(w_destroyPixrStructOnly(s, &q), VLT_OK);
  EXPECT_EQ(q, nullptr);
  EXPECT_TRUE(alloc.owns(buffer));
  PIXR* r = nullptr;
  ASSERT_EQ(w_createPixrStructOnly(s, 16, 4, 1, kDpi300, kDpi300, 32, buffer, &r), VLT_OK);
  destroy(r);
  EXPECT_FALSE(alloc.owns(buffer));
}

TEST_F(PixrRecord, CompositeAnswersForPrimaryAndSharesMapOnce) {
  PIXR* ch[3] = {make(5, 5, 8), make(6, 7, 4), make(5, 5, 8)};
  PIXR* comp = nullptr;
  ASSERT_EQ(w_createPixrComposite(s, ch, 3, 3, &comp), VLT_OK);
  ch[0]->type = 2;
  int32_t w = 0, d = 0;
  ASSERT_EQ(w_pixrGetWidth(s, comp, &w), VLT_OK);
  ASSERT_EQ(w_pixrGetDepth(s, comp, &d), VLT_OK);
  EXPECT_EQ(w, 6);
  EXPECT_EQ(d, 4);
  uint8_t* image = nullptr;
  ASSERT_EQ(w_pixrGetImage(s, comp, &image), VLT_OK);
  EXPECT_EQ(image, line(ch[1], 0));
  ASSERT_EQ(w_pixrSetType(s, comp, 6), VLT_OK);
  for (PIXR* c : ch) EXPECT_EQ(c->type, 6);

  PIXRColorMap* map = nullptr;
  ASSERT_EQ(w_createColorMap(s, 4, &map), VLT_OK);
  ASSERT_EQ(w_pixrSetColorMap(s, comp, map), VLT_OK);
  PIXRColorMap* other = nullptr;
  ASSERT_EQ(w_createColorMap(s, 2, &other), VLT_OK);
  EXPECT_EQ(w_pixrSetColorMap(s, comp, other), VLT_ERR_PIXR_COLORMAP);
  EXPECT_EQ(ch[2]->colorMap, map);  // the old map kept
  ASSERT_EQ(w_destroyColorMap(s, &other), VLT_OK);
  destroy(comp);  // the shared map goes once: no foreign or missing free at teardown
}

TEST_F(PixrRecord, ChannelCountsOutsideTheArraysAreRefused) {
  PIXR* ch[17] = {};
  for (PIXR*& c : ch) c = make(4, 4);
  for (int32_t count : {0, 1, 17}) {
    PIXR* comp = nullptr;
    EXPECT_EQ(w_createPixrComposite(s, ch, count, 5, &comp), VLT_ERR_PARAM) << count;
  }
  for (int32_t count : {0, 5}) {
    PIXR* p = nullptr;
    EXPECT_EQ(w_createPixrExtended(s, 4, 4, 1, kDpi300, kDpi300, 32, count, 5, nullptr, &p), VLT_ERR_PARAM);
  }
  PIXR* p = nullptr;
  EXPECT_EQ(w_createPixrExtended(s, 4, 4, 1, kDpi300, kDpi300, 32, 2, 8, nullptr, &p), VLT_ERR_PARAM);
  for (PIXR*& c : ch) destroy(c);
}

// Every allocation of a creation can fail; whatever the call made is freed again.
TEST_F(PixrRecord, FailedAllocationsFreeWhatWasMade) {
  PIXRColorMap* map = nullptr;
  ASSERT_EQ(w_createColorMap(s, 3, &map), VLT_OK);
  PIXR* plain = make(30, 9);
  PIXR* ch[3] = {make(30, 9, 8), make(30, 9, 8), make(30, 9, 8)};
  PIXR* comp = nullptr;
  ASSERT_EQ(w_createPixrComposite(s, ch, 3, 5, &comp), VLT_OK);
  ASSERT_EQ(w_pixrSetColorMap(s, plain, map), VLT_OK);

  const std::vector<std::pair<const char*, std::function<VltStatus(PIXR**)>>> ops = {
      {"createPixr", [&](PIXR** o) { return w_createPixr(s, 30, 9, 1, kDpi300, kDpi300, 32, o); }},
      {"createExtended",
       [&](PIXR** o) { return w_createPixrExtendedNoInit(s, 30, 9, 8, kDpi300, kDpi300, 32, 3, 5, map, o); }},
      {"cloneStructOnly", [&](PIXR** o) { return w_clonePixrStructOnly(s, comp, o); }},
      {"clone", [&](PIXR** o) { return w_clonePixr(s, plain, o); }},
      {"copy", [&](PIXR** o) { return w_copy(s, comp, o); }},
      {"invert", [&](PIXR** o) { return w_invert(s, comp, o); }},
      {"reduce", [&](PIXR** o) { return w_reduce(s, plain, 1, 2, 3, 0, o); }},
      {"rectOf", [&](PIXR** o) {
         IPRect r{nullptr, nullptr, 2, 2, 10, 5};
         return w_rectOf(s, plain, &r, o);
       }},
  };
  for (const auto& [name, op] : ops) {
    for (size_t k = 1;; ++k) {
      SCOPED_TRACE(testing::Message() << name << " failing allocation " << k);
      const size_t live = alloc.live_blocks();
      alloc.fail_at(k);
      PIXR* out = nullptr;
      const VltStatus st = op(&out);
      alloc.fail_at(0);
      if (st == VLT_OK) {
        ASSERT_NE(out, nullptr);
        destroy(out);
        EXPECT_EQ(alloc.live_blocks(), live);
        break;
      }
      EXPECT_EQ(st, VLT_ERR_NOMEM);
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(alloc.live_blocks(), live);
    }
  }
  destroy(plain);
  destroy(comp);
}

TEST_F(PixrRecord, ReallocAfterGrowthKeepsContentForWholeRing) {
  PIXR* p = make(50, 20);
  const RefBitmap pattern = monotest::make_noise(50, 20, 0.4, 3);
  for (int y = 0; y < 20; ++y) std::memcpy(line(p, y), pattern.row(y), pattern.stride);
  PIXR* clone = nullptr;
  ASSERT_EQ(w_clonePixrStructOnly(s, p, &clone), VLT_OK);
  ASSERT_EQ(w_pixrSetWidth(s, p, 900), VLT_OK);
  ASSERT_EQ(w_pixrSetHeight(s, p, 200), VLT_OK);
  ASSERT_EQ(w_reallocPixrData(s, p), VLT_OK);
  EXPECT_EQ(clone->imageBuffer, p->imageBuffer);
  EXPECT_EQ(clone->imageAll, p->imageAll);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(line(p, 0)) % 32, 0u);
  // The stride was not changed, so the old rows sit at the same place of the framed layout.
  p->width = 50;
  p->height = 20;
  EXPECT_EQ(monotest::first_difference(pattern, to_ref(p)), "");
  destroy(clone);
  destroy(p);
}

TEST_F(PixrRecord, CopyOfFramedAndFramelessSources) {
  const RefBitmap pattern = monotest::make_text_blobs(123, 45, 9);
  PIXR* src = from_ref(pattern);
  PIXRColorMap* map = nullptr;
  ASSERT_EQ(w_createColorMap(s, 2, &map), VLT_OK);
  map->entries[1] = 0xABCDEF;
  ASSERT_EQ(w_pixrSetColorMap(s, src, map), VLT_OK);
  PIXR* copy = nullptr;
  ASSERT_EQ(w_copy(s, src, &copy), VLT_OK);
  EXPECT_EQ(monotest::first_difference(pattern, to_ref(copy)), "");
  EXPECT_EQ(frame_ones(copy), 0);
  ASSERT_NE(copy->colorMap, nullptr);
  EXPECT_NE(copy->colorMap, map);
  EXPECT_EQ(copy->colorMap->entries[1], 0xABCDEFu);
  destroy(copy);

  // A frameless source of its own stride lands inside the frame, row by row.
  PIXR* bare = make(123, 45, 1, 0);
  for (int y = 0; y < 45; ++y) {
    std::memcpy(line(bare, y), pattern.row(y), pattern.stride);
    line(bare, y)[15] |= 0x1F;  // garbage in the padding bits after pixel 122
  }
  ASSERT_EQ(w_copy(s, bare, &copy), VLT_OK);
  EXPECT_EQ(copy->frame, 32);
  EXPECT_EQ(monotest::first_difference(pattern, to_ref(copy)), "");
  EXPECT_EQ(frame_ones(copy), 0);
  destroy(copy);
  destroy(bare);
  destroy(src);
}

TEST_F(PixrRecord, UnifiedBuffer) {
  size_t need = 0;
  ASSERT_EQ(w_pixrGetUnifiedBufferSize(s, 64, 16, 1, 32, &need), VLT_OK);
  int32_t bpl = 0;
  size_t image = 0;
  ASSERT_EQ(w_pixrImageProperties(s, 64, 16, 1, 32, &bpl, &image), VLT_OK);
  EXPECT_GE(need, sizeof(PIXR) + image);
  std::vector<uint64_t> mine((need + 7) / 8, ~uint64_t{0});
  void* block = mine.data();
  EXPECT_EQ(w_createPixrInUnifiedBuffer(s, 64, 16, 1, kDpi300, kDpi300, 32, need - 1, 0, &block),
            VLT_ERR_OVERFLOW);
  ASSERT_EQ(w_createPixrInUnifiedBuffer(s, 64, 16, 1, kDpi300, kDpi300, 32, need, 1, &block), VLT_OK);
  auto* p = static_cast<PIXR*>(block);
  EXPECT_EQ(p->imageBuffer, static_cast<uint8_t*>(block) + sizeof(PIXR));
  EXPECT_LE(p->imageAll + static_cast<size_t>(bpl) * 80, static_cast<uint8_t*>(block) + need);
  EXPECT_EQ(to_ref(p).count(), 0u);

  void* own = nullptr;
  ASSERT_EQ(w_createPixrInUnifiedBuffer(s, 64, 16, 1, kDpi300, kDpi300, 32, 0, 0, &own), VLT_OK);
  EXPECT_EQ(frame_ones(static_cast<PIXR*>(own)), 0);
  s->freeProc[1](own, s->allocData[1]);
}

}  // namespace
}  // namespace pixrtest
