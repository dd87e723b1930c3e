// The generic region writer: every coding (MMR, templates 0-3 with and without typical
// prediction, nominal and far adaptive pixels) decoded again by a reference decoder written from
// the standard, the bytes of the segment around the coded data, and the refusals and failure
// paths. Runs on every build, the PowerPC one included.

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_test_stream.h"
#include "mq_reference.h"

namespace {

using jb2test::Bytes;
using jb2test::GenericConfig;
using jb2test::MemoryStream;
using jb2test::parse_segments;
using monotest::first_difference;
using monotest::RefBitmap;

RefBitmap filled(int w, int h, int v) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bm.set(x, y, v);
  return bm;
}

struct GenericTest : Jb2Test {
  // Writes one generic region of the bitmap and returns the segment's data part.
  Bytes write(const RefBitmap& bm, const GenericConfig& c, bool dirtyPadding = false) {
    MemoryStream s(state);
    VltImage* im = jb2test::packed_image(state, bm, dirtyPadding);
    SegmentInfo seg = jb2test::generic_record(im, 0, 0, c.mmr, c.params);
    const VltStatus st = jb2EncodeGenRegion(s.file(), &seg);
    VltImage_free(im);
    EXPECT_EQ(st, VLT_OK);
    const auto segs = parse_segments(s.finish(), false);
    EXPECT_EQ(segs.size(), 1u);
    return segs.empty() ? Bytes{} : segs[0].data;
  }
};

TEST_F(GenericTest, EveryCodingDecodesToTheSameBitmap) {
  std::vector<std::pair<const char*, RefBitmap>> bitmaps;
  for (int w : {1, 31, 32, 33, 95}) {
    bitmaps.emplace_back("noise", monotest::make_noise(w, 19, 0.4, static_cast<uint32_t>(w)));
    bitmaps.emplace_back("text", monotest::make_text_blobs(w, 27, static_cast<uint32_t>(w) + 7));
    bitmaps.emplace_back("white", filled(w, 9, 0));
    bitmaps.emplace_back("black", filled(w, 9, 1));
  }
  // Rows repeating make typical prediction skip them.
  RefBitmap stripes = monotest::make_lines(150, 140, 3);
  for (int y = 1; y < 140; y += 3)
    std::copy(stripes.row(y - 1), stripes.row(y - 1) + stripes.stride, stripes.row(y));
  bitmaps.emplace_back("repeated rows", stripes);
  for (const GenericConfig& c : jb2test::generic_configs()) {
    for (const auto& [name, bm] : bitmaps) {
      SCOPED_TRACE(c.name + " on " + name + " " + std::to_string(bm.width) + "x" +
                   std::to_string(bm.height));
      const Bytes data = write(bm, c);
      ASSERT_EQ(first_difference(bm, jb2test::decode_generic_data(data, state)), "");
      // Pixels past the width never reach the code.
      ASSERT_EQ(write(bm, c, true), data);
    }
  }
}

TEST_F(GenericTest, SegmentBytesAroundTheCodedData) {
  // One white pixel, template 2 with typical prediction: a single decision, "typical" (1) in the
  // prediction context, and no pixel decision.
  GenericConfig c{"T2", false, {2, {2, -3, 2, -2}, {-1, -1, -2, -2}, 1}};
  const Bytes d = write(filled(1, 1, 0), c);
  const Bytes head = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x02, 0xFF};
  ASSERT_GE(d.size(), head.size() + 2);
  EXPECT_EQ(Bytes(d.begin(), d.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(Bytes(d.end() - 2, d.end()), Bytes({0xFF, 0xAC}));
  monotest::MqRefDecoder ref(d.data() + head.size(), d.size() - head.size(), 65536);
  EXPECT_EQ(ref.decode(0x00E5), 1);
  // Template 0 carries four AT pairs, the others one; MMR none.
  for (const GenericConfig& g : jb2test::generic_configs()) {
    SCOPED_TRACE(g.name);
    const Bytes d = write(filled(8, 2, 1), g);
    const uint8_t flags =
        g.mmr ? 0x01 : static_cast<uint8_t>(g.params.gbTemplate << 1 | (g.params.tpgdon ? 8 : 0));
    ASSERT_GE(d.size(), 18u);
    EXPECT_EQ(d[17], flags);
    if (g.mmr) continue;
    const int pairs = g.params.gbTemplate == 0 ? 4 : 1;
    for (int i = 0; i < pairs; ++i) {
      EXPECT_EQ(static_cast<int8_t>(d[18 + 2 * i]), g.params.atx[i]);
      EXPECT_EQ(static_cast<int8_t>(d[19 + 2 * i]), g.params.aty[i]);
    }
  }
}

TEST_F(GenericTest, RegionPlacementAndPrecodedData) {
  MemoryStream s(state);
  SegmentInfo seg{};
  seg.page = 3;
  seg.type = JB2_SEG_GENERIC_LOSSLESS;
  seg.region = Jb2RegionInfo{40, 7, 100, 200, JB2_COMBOP_XOR};
  seg.body.generic.mmr = 1;
  // Pre-coded bytes are written as they are; none at all make an empty coded part.
  uint8_t coded[] = {0xAA, 0xBB};
  seg.body.generic.data = coded;
  seg.body.generic.dataLength = 2;
  ASSERT_EQ(jb2EncodeGenRegion(s.file(), &seg), VLT_OK);
  seg.body.generic.dataLength = 0;
  ASSERT_EQ(jb2EncodeGenRegion(s.file(), &seg), VLT_OK);
  const auto segs = parse_segments(s.finish(), false);
  ASSERT_EQ(segs.size(), 2u);
  const Bytes info = {0, 0, 0, 40, 0, 0, 0, 7, 0, 0, 0, 100, 0, 0, 0, 200, 2, 0x01};
  Bytes first = info;
  first.insert(first.end(), {0xAA, 0xBB});
  EXPECT_EQ(segs[0].data, first);
  EXPECT_EQ(segs[1].data, info);
  EXPECT_EQ(segs[1].number, 1u);
  EXPECT_EQ(segs[1].type, JB2_SEG_GENERIC_LOSSLESS);
  EXPECT_EQ(segs[1].page, 3u);
}

TEST_F(GenericTest, RefusesWhatItCannotCode) {
  MemoryStream s(state);
  VltImage* im = jb2test::packed_image(state, filled(10, 10, 1));
  const Jb2GenericParams nominal{0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0};
  struct Case {
    const char* what;
    uint8_t type;
    Jb2GenericParams params;
    uint32_t w, h;
    bool bitmap;
    VltStatus status;
  };
  const Case cases[] = {
      {"a refinement region's type", JB2_SEG_REFINE_IMMEDIATE, nominal, 10, 10, true,
       VLT_ERR_ASSERT},
      {"a region larger than its bitmap", JB2_SEG_GENERIC_IMMEDIATE, nominal, 11, 10, true,
       VLT_ERR_ASSERT},
      {"nothing to code", JB2_SEG_GENERIC_IMMEDIATE, nominal, 10, 10, false, VLT_ERR_ASSERT},
      {"template 4",
       JB2_SEG_GENERIC_IMMEDIATE,
       {4, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0},
       10,
       10,
       true,
       VLT_ERR_PARAM},
      {"an adaptive pixel not yet coded",
       JB2_SEG_GENERIC_IMMEDIATE,
       {2, {0}, {0}, 0},
       10,
       10,
       true,
       VLT_ERR_PARAM},
      {"an adaptive pixel to the right",
       JB2_SEG_GENERIC_IMMEDIATE,
       {1, {1}, {0}, 0},
       10,
       10,
       true,
       VLT_ERR_PARAM},
      {"an adaptive pixel below",
       JB2_SEG_GENERIC_IMMEDIATE,
       {0, {3, -3, 2, -5}, {-1, -1, -2, 1}, 0},
       10,
       10,
       true,
       VLT_ERR_PARAM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SegmentInfo seg = jb2test::generic_record(im, 0, 0, false, c.params);
    seg.type = c.type;
    seg.region.width = c.w;
    seg.region.height = c.h;
    if (!c.bitmap) seg.hasBitmap = 0;
    EXPECT_EQ(jb2EncodeGenRegion(s.file(), &seg), c.status);
  }
  VltImage_free(im);
  EXPECT_EQ(jb2GetFileSegnum(s.file()), 0u);  // refused before a number was taken
  EXPECT_TRUE(s.finish().empty());
}

TEST_F(GenericTest, MmrBufferGrowsAndTinyBitmapsNeedNoEmptyAllocation) {
  // Noise codes to more than one bit a pixel, so the first buffer is too small.
  const RefBitmap noise = monotest::make_noise(301, 120, 0.5, 5);
  const Bytes d = write(noise, {"MMR", true, {}});
  EXPECT_GT(d.size() - 18, static_cast<size_t>(301 * 120 / 8));
  EXPECT_EQ(first_difference(noise, jb2test::decode_generic_data(d, state)), "");
  // An allocator that answers 0 bytes with nothing, as some C libraries do.
  VltMemFuncs strict{[](size_t n) { return n == 0 ? nullptr : std::malloc(n); }, std::free,
                     std::calloc, std::realloc};
  VltState* s2 = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s2, &strict, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  for (const RefBitmap& bm : {filled(1, 1, 1), filled(7, 1, 0), filled(1, 7, 1)}) {
    MemoryStream s(s2);
    VltImage* im = jb2test::packed_image(s2, bm);
    SegmentInfo seg = jb2test::generic_record(im, 0, 0, true, {});
    EXPECT_EQ(jb2EncodeGenRegion(s.file(), &seg), VLT_OK);
    VltImage_free(im);
    const auto segs = parse_segments(s.finish(), false);
    EXPECT_EQ(first_difference(bm, jb2test::decode_generic_data(segs.at(0).data, s2)), "");
  }
  Vlt_cleanupVltState(&s2);
}

TEST_F(GenericTest, AllocationFailuresLeaveNothingBehind) {
  const RefBitmap bm = monotest::make_text_blobs(200, 60, 9);
  for (const GenericConfig& c : {GenericConfig{"MMR", true, {}}, jb2test::generic_configs()[1]}) {
    SCOPED_TRACE(c.name);
    VltImage* im = jb2test::packed_image(state, bm);
    for (size_t k = 1;; ++k) {
      MemoryStream s(state);
      SegmentInfo seg = jb2test::generic_record(im, 0, 0, c.mmr, c.params);
      alloc.fail_at(k);
      const VltStatus st = jb2EncodeGenRegion(s.file(), &seg);
      alloc.fail_at(0);
      if (st == VLT_OK) break;
      EXPECT_EQ(st, VLT_ERR_NOMEM) << "allocation " << k;
      ASSERT_LT(k, 50u);
    }
    VltImage_free(im);
  }
}

}  // namespace
