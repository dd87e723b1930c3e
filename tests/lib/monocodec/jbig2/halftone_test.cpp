// Pattern dictionaries and halftone regions: the patterns and grey values decoded again from the
// segments (reference MQ decoding procedure, the engine's fax decoder for MMR), the flags and
// field bytes, the refusals and the failure paths; the spiral dot patterns and the halftone
// encoder over them. Runs on every build.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_test_stream.h"
#include "pixr.h"
#include "pixr_ops.h"

namespace {

using jb2test::Bytes;
using jb2test::HalftoneSample;
using jb2test::MemoryStream;
using jb2test::parse_segments;
using jb2test::ParsedSegment;
using monotest::first_difference;
using monotest::RefBitmap;

uint32_t be32(const Bytes& d, size_t at) {
  return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
}

struct Written {
  ParsedSegment dict, region;
};

struct HalftoneTest : Jb2Test {
  Written write(HalftoneSample& h, bool mqDict, bool mqRegion, uint32_t dictTemplate = 2,
                uint32_t regionTemplate = 0) {
    MemoryStream s(state);
    Jb2FileParams* p = jb2GetFileParams(s.file());
    p->pdArith = mqDict;
    p->pdTemplate = dictTemplate;
    p->trArith = mqRegion;
    p->htTemplate = regionTemplate;
    const uint32_t w = static_cast<uint32_t>(h.gridWidth * h.patternWidth);
    const uint32_t ht = static_cast<uint32_t>(h.gridHeight * h.patternHeight);
    EXPECT_EQ(h.write(s.file(), 0, 0, w, ht, 0, 0, h.patternWidth * 256, 0), VLT_OK);
    const auto segs = parse_segments(s.finish(), false);
    EXPECT_EQ(segs.size(), 2u);
    if (segs.size() != 2) return {};
    return {segs[0], segs[1]};
  }

  // The patterns of a dictionary segment's data.
  std::vector<RefBitmap> read_dict(const Bytes& d) {
    const uint8_t flags = d.at(0);
    const int pw = d.at(1), ph = d.at(2);
    const int n = static_cast<int>(be32(d, 3)) + 1;
    RefBitmap all;
    if (flags & 1) {
      all = jb2test::mmr_decode(d.data() + 7, d.size() - 7, pw * n, ph, false, nullptr, state);
    } else {
      monotest::RefGenericParams p;
      p.gbTemplate = flags >> 1 & 3;
      p.atx[0] = -pw;
      p.aty[0] = 0;
      monotest::RefGenericDecoder dec(d.data() + 7, d.size() - 7);
      all = dec.decode(pw * n, ph, p);
    }
    std::vector<RefBitmap> out;
    for (int i = 0; i < n; ++i) {
      RefBitmap b(pw, ph);
      for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) b.set(x, y, all.get(i * pw + x, y));
      out.push_back(b);
    }
    return out;
  }

  // The grey values of a region segment's data (bpp planes), Gray code undone.
  std::vector<int> read_region(const Bytes& d, int bpp) {
    const uint8_t flags = d.at(17);
    const int gw = static_cast<int>(be32(d, 18)), gh = static_cast<int>(be32(d, 22));
    size_t at = 38;
    std::vector<RefBitmap> planes(static_cast<size_t>(bpp));
    if (flags & 1) {
      for (int j = bpp - 1; j >= 0; --j) {
        size_t used = 0;
        planes[j] = jb2test::mmr_decode(d.data() + at, d.size() - at, gw, gh, true, &used, state);
        at += used;
      }
      EXPECT_EQ(at, d.size());  // each plane ended by its end-of-block, nothing after
    } else if (bpp > 0) {
      monotest::RefGenericParams p;
      p.gbTemplate = flags >> 1 & 3;
      p.atx[0] = p.gbTemplate <= 1 ? 3 : 2;
      monotest::RefGenericDecoder dec(d.data() + at, d.size() - at);
      for (int j = bpp - 1; j >= 0; --j) planes[j] = dec.decode(gw, gh, p);
    }
    std::vector<int> gray;
    for (int y = 0; y < gh; ++y)
      for (int x = 0; x < gw; ++x) {
        int v = 0, bit = 0;
        for (int j = bpp - 1; j >= 0; --j) {
          bit ^= planes[j].get(x, y);
          v |= bit << j;
        }
        gray.push_back(v);
      }
    return gray;
  }
};

TEST_F(HalftoneTest, PatternsAndGreyValuesComeBack) {
  struct Case {
    int pw, ph, n, gw, gh;
    bool mqDict, mqRegion;
    uint32_t dictTemplate, regionTemplate;
  };
  const Case cases[] = {
      {3, 5, 2, 17, 9, false, false, 2, 0}, {4, 4, 16, 33, 20, false, false, 2, 0},
      {3, 5, 2, 17, 9, true, true, 0, 0},   {4, 4, 16, 33, 20, true, true, 2, 0},
      {6, 6, 16, 10, 40, true, true, 1, 2}, {8, 8, 5, 12, 7, true, true, 3, 3},
      {40, 2, 3, 5, 5, false, true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.n) + " patterns " + std::to_string(c.pw) + "x" +
                 std::to_string(c.ph) + (c.mqDict ? " MQ" : " MMR") + " dictionary," +
                 (c.mqRegion ? " MQ" : " MMR") + " region");
    HalftoneSample h(state, c.pw, c.ph, c.n, c.gw, c.gh, 21);
    const Written w = write(h, c.mqDict, c.mqRegion, c.dictTemplate, c.regionTemplate);
    EXPECT_EQ(w.dict.type, JB2_SEG_PATTERN_DICT);
    EXPECT_TRUE(w.dict.retain);
    EXPECT_EQ(w.dict.data.at(0), c.mqDict ? c.dictTemplate << 1 : 1u);
    const std::vector<RefBitmap> patterns = read_dict(w.dict.data);
    ASSERT_EQ(patterns.size(), static_cast<size_t>(c.n));
    for (int i = 0; i < c.n; ++i)
      EXPECT_EQ(first_difference(h.bitmaps[i], patterns[i]), "") << "pattern " << i;
    EXPECT_EQ(w.region.referred, std::vector<uint32_t>{w.dict.number});
    EXPECT_EQ(w.region.data.at(17), c.mqRegion ? c.regionTemplate << 1 : 1u);
    int bpp = 0;
    while ((1 << bpp) < c.n) ++bpp;
    EXPECT_EQ(read_region(w.region.data, bpp), h.gray);
  }
}

TEST_F(HalftoneTest, FieldBytesAndEdgeCases) {
  // One pattern: GRAYMAX 0 and no bit plane at all.
  {
    HalftoneSample h(state, 2, 2, 1, 3, 3, 1);
    const Written w = write(h, false, false);
    EXPECT_EQ(Bytes(w.dict.data.begin(), w.dict.data.begin() + 7), Bytes({1, 2, 2, 0, 0, 0, 0}));
    EXPECT_EQ(w.region.data.size(), 38u);
  }
  // Grey value 5 of 16 is Gray code 7: planes 0, 1 and 2.
  {
    HalftoneSample h(state, 4, 4, 16, 1, 1, 1);
    h.gray[0] = 5;
    const int16_t five = 5;
    std::memcpy(h.region.body.halftone.gray->rows[0], &five, 2);
    const Written w = write(h, false, false);
    EXPECT_EQ(read_region(w.region.data, 4), std::vector<int>{5});
  }
  // The region's flag byte and grid fields.
  {
    HalftoneSample h(state, 4, 4, 4, 2, 3, 1);
    h.region.body.halftone.combOp = JB2_COMBOP_XOR;
    h.region.body.halftone.defaultPixel = 1;
    MemoryStream s(state);
    ASSERT_EQ(h.write(s.file(), 5, 6, 50, 60, -300, 70000, 0x12345, 0x80), VLT_OK);
    const auto segs = parse_segments(s.finish(), false);
    const Bytes& d = segs.at(1).data;
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 38),
              Bytes({0,    0,    0,    50,   0,    0, 0,    60,   0,    0,    0,    5,   0,
                     0,    0,    6,    0,    0xA1, 0, 0,    0,    2,    0,    0,    0,   3,
                     0xFF, 0xFF, 0xFE, 0xD4, 0,    1, 0x11, 0x70, 0x23, 0x45, 0x00, 0x80}));
  }
  // MQ with the default template: flags 0.
  {
    HalftoneSample h(state, 4, 4, 4, 2, 3, 1);
    const Written w = write(h, false, true);
    EXPECT_EQ(w.region.data.at(17), 0x00);
  }
}

TEST_F(HalftoneTest, Refusals) {
  HalftoneSample h(state, 4, 4, 4, 2, 3, 1);
  MemoryStream s(state);
  ASSERT_EQ(jb2EncodeHTDict(s.file(), &h.dict), VLT_OK);
  const size_t before = s.sink()->count;
  uint32_t ref = h.dict.number;
  uint8_t keep = 0;
  h.region.referredCount = 1;
  h.region.referred = &ref;
  h.region.referredRetain = &keep;
  h.region.region = Jb2RegionInfo{8, 12, 0, 0, 0};
  SegmentInfo* refs[] = {&h.dict};
  // A symbol dictionary is not a pattern dictionary.
  SegmentInfo symbols{};
  symbols.number = h.dict.number;
  symbols.type = JB2_SEG_SYMBOL_DICT;
  SegmentInfo* wrong[] = {&symbols};
  EXPECT_EQ(jb2EncodeHTRegion(s.file(), &h.region, wrong), VLT_ERR_ASSERT);
  // Two referred segments, or another type of region.
  uint32_t two[] = {0, 0};
  uint8_t twoKeep[] = {0, 0};
  SegmentInfo r2 = h.region;
  r2.referredCount = 2;
  r2.referred = two;
  r2.referredRetain = twoKeep;
  EXPECT_EQ(jb2EncodeHTRegion(s.file(), &r2, refs), VLT_ERR_ASSERT);
  SegmentInfo r3 = h.region;
  r3.type = JB2_SEG_GENERIC_IMMEDIATE;
  EXPECT_EQ(jb2EncodeHTRegion(s.file(), &r3, refs), VLT_ERR_ASSERT);
  EXPECT_TRUE(printed.codes.empty());
  // A grey value the dictionary has no pattern for.
  const int16_t four = 4;
  std::memcpy(h.region.body.halftone.gray->rows[2] + 2, &four, 2);
  EXPECT_EQ(jb2EncodeHTRegion(s.file(), &h.region, refs), VLT_ERR_PARAM);
  // A dictionary without patterns, and an MQ one too wide for its first adaptive pixel.
  SegmentInfo empty = h.dict;
  empty.body.patternDict.count = 0;
  EXPECT_EQ(jb2EncodeHTDict(s.file(), &empty), VLT_ERR_PARAM);
  SegmentInfo wide = h.dict;
  wide.body.patternDict.width = 129;
  jb2GetFileParams(s.file())->pdArith = 1;
  EXPECT_EQ(jb2EncodeHTDict(s.file(), &wide), VLT_ERR_PARAM);
  EXPECT_EQ(s.sink()->count, before);
  EXPECT_EQ(jb2GetFileSegnum(s.file()), 1u);
}

TEST_F(HalftoneTest, AllocationFailuresLeaveNothingBehind) {
  for (bool mq : {false, true}) {
    HalftoneSample h(state, 5, 3, 16, 20, 11, 4);
    for (size_t k = 1;; ++k) {
      MemoryStream s(state);
      jb2GetFileParams(s.file())->pdArith = mq;
      jb2GetFileParams(s.file())->trArith = mq;
      alloc.fail_at(k);
      const VltStatus st = h.write(s.file(), 0, 0, 100, 33, 0, 0, 5 * 256, 0);
      alloc.fail_at(0);
      if (st == VLT_OK) break;
      EXPECT_EQ(st, VLT_ERR_NOMEM) << "allocation " << k;
      ASSERT_LT(k, 80u);
    }
  }
}

// ---- Spiral dot patterns and the halftone encoder -------------------------------------------

struct SpiralTest : Jb2Test {
  // The patterns as pictures: "#" black, "." white, rows joined by "/".
  std::vector<std::string> make(uint32_t size, uint32_t count, int reverse) {
    std::vector<HalftonePattern> p(count);
    EXPECT_EQ(makeSpiralHalftonePattern(state, size, count, reverse, p.data()), VLT_OK);
    std::vector<std::string> out;
    for (const HalftonePattern& h : p) {
      EXPECT_EQ(h.wordsPerRow, size / 32 + 1);
      std::string pic;
      for (uint32_t y = 0; y < size; ++y) {
        if (y > 0) pic += '/';
        for (uint32_t x = 0; x < size; ++x)
          pic += (h.bits[y * h.wordsPerRow * 4 + x / 8] >> (7 - x % 8)) & 1 ? '#' : '.';
      }
      out.push_back(pic);
      state->free(h.bits);
    }
    return out;
  }
};

TEST_F(SpiralTest, DotsGrowInRingsWithEvenlySkippedSteps) {
  struct Case {
    uint32_t size, count;
    int reverse;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      // Skipped steps 1, 3, 4, 5, 6, 8 of the growth (1,1) (1,0) (2,1) (1,2) (0,1) (2,0) (2,2) (0,2) (0,0).
      {3, 4, 0, {".../.../...", ".#./.#./...", ".##/###/.##", "###/###/###"}},
      {3, 4, 1, {"###/###/###", ".##/###/.##", ".#./.#./...", ".../.../..."}},
      // No step skipped: one pixel more per pattern, (0,0) (1,0) (1,1) (0,1).
      {2, 5, 0, {"../..", "#./..", "##/..", "##/.#", "##/##"}},
      {2, 2, 0, {"../..", "##/##"}},
      // The inner ring, then the outer one starting downwards: offsets 1, 0, 2.
      {4, 17, 0, {"..../..../..../....", "..../.#../..../....", "..../.##./..../....", "..../.##./..#./....",
                  "..../.##./.##./....", ".#../.##./.##./....", ".#../.###/.##./....", ".#../.###/.##./..#.",
                  ".#../.###/###./..#.", "##../.###/###./..#.", "##.#/.###/###./..#.", "##.#/.###/###./..##",
                  "##.#/.###/###./#.##", "####/.###/###./#.##", "####/.###/####/#.##", "####/.###/####/####",
                  "####/####/####/####"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " pixels, " + std::to_string(c.count) + " patterns");
    EXPECT_EQ(make(c.size, c.count, c.reverse), c.want);
  }
}

TEST_F(SpiralTest, WideCellsAndRefusals) {
  // A 32-pixel cell: two words per row, the spare one clear; every pattern has one pixel more
  // than the one before or the same count.
  std::vector<HalftonePattern> p(40);
  ASSERT_EQ(makeSpiralHalftonePattern(state, 32, 40, 0, p.data()), VLT_OK);
  int last = -1;
  for (const HalftonePattern& h : p) {
    ASSERT_EQ(h.wordsPerRow, 2);
    int n = 0;
    for (int y = 0; y < 32; ++y) {
      for (int k = 0; k < 4; ++k) n += __builtin_popcount(h.bits[y * 8 + k]);
      for (int k = 4; k < 8; ++k) EXPECT_EQ(h.bits[y * 8 + k], 0);
    }
    EXPECT_GT(n, last);
    last = n;
    state->free(h.bits);
  }
  EXPECT_EQ(last, 32 * 32);
  HalftonePattern q[20];
  for (const auto& c : {std::pair<uint32_t, uint32_t>{0, 2}, {3, 1}, {3, 11}, {2, 6}})
    EXPECT_EQ(makeSpiralHalftonePattern(state, c.first, c.second, 0, q), VLT_ERR_ASSERT);
  EXPECT_EQ(makeSpiralHalftonePattern(state, 3, 4, 0, nullptr), VLT_ERR_ASSERT);
  EXPECT_TRUE(printed.codes.empty());
}

struct HalftoneEncodeTest : Jb2Test {
  // The grey images are wrapper images: the state needs its wrapper state.
  void SetUp() override {
    Jb2Test::SetUp();
    Vlt_cleanupVltState(&state);
    ASSERT_EQ(Vlt_initVltState(&state, &mem, nullptr, &printed, monotest::collect_report, 1, 0), VLT_OK);
    // The list pool keeps its first chunk with the state.
    VltAdtList* warm = nullptr;
    ASSERT_EQ(VltAdt_liNew(&warm, state), VLT_OK);
    VltAdt_liFree(warm);
    baseline = alloc.live_blocks();
  }
  IPWState* ipw() const { return state->ipwState; }
  // A grey image of w x h cells with values below levels.
  PIXR* grey(int w, int h, int levels) {
    PIXR* p = nullptr;
    EXPECT_EQ(w_createPixr(ipw(), w, h, 8, 300, 300, 32, &p), VLT_OK);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) EXPECT_EQ(w_pixrPutPixel(ipw(), p, x, y, static_cast<uint32_t>((x * 7 + y * 3) % levels)), VLT_OK);
    return p;
  }
};

TEST_F(HalftoneEncodeTest, SelectedBoxesGiveADictionaryAndARegionEach) {
  VltAdtList *boxes = nullptr, *greys = nullptr;
  ASSERT_EQ(VltAdt_liNew(&boxes, state), VLT_OK);
  ASSERT_EQ(VltAdt_liNew(&greys, state), VLT_OK);
  HalftoneBox b[4] = {{0, 0, 40, 24, 0, 0, 4, 16, 1},    // written
                      {8, 30, 20, 10, 0, 0, 5, 16, 2},   // another kind
                      {0, 0, 40, 24, 0, 0, 0, 16, 1},    // no cell size
                      {50, 40, 30, 12, 0, 0, 6, 2, 1}};  // written
  PIXR* g[4] = {grey(10, 6, 16), grey(4, 2, 16), grey(10, 6, 16), grey(5, 2, 2)};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(VltAdt_liAdd(boxes, &b[i], nullptr), VLT_OK);
    ASSERT_EQ(VltAdt_liAdd(greys, g[i], nullptr), VLT_OK);
  }
  MemoryStream s(state);
  ASSERT_EQ(encodeHalftoneJBig2(boxes, greys, s.file(), 1, 3, state), VLT_OK);
  const std::vector<ParsedSegment> segs = parse_segments(s.finish(), false);
  ASSERT_EQ(segs.size(), 4u);
  for (int i = 0; i < 2; ++i) {
    const ParsedSegment& d = segs[2 * i];
    const ParsedSegment& r = segs[2 * i + 1];
    EXPECT_EQ(d.type, JB2_SEG_PATTERN_DICT);
    EXPECT_EQ(r.type, JB2_SEG_HALFTONE_LOSSLESS);
    EXPECT_EQ(r.number, d.number + 1);
    EXPECT_EQ(r.referred, std::vector<uint32_t>{d.number});
    EXPECT_EQ(d.page, 3u);
    EXPECT_EQ(r.page, 3u);
    const HalftoneBox& box = b[3 * i];
    EXPECT_EQ(be32(r.data, 0), static_cast<uint32_t>(box.width));
    EXPECT_EQ(be32(r.data, 8), static_cast<uint32_t>(box.x));
    EXPECT_EQ(d.data.at(1), box.cellSize);
    EXPECT_EQ(be32(d.data, 3), static_cast<uint32_t>(box.levels - 1));
    // HRX is the cell size in 1/256 pixel, HRY 0.
    EXPECT_EQ(r.data.at(34) << 8 | r.data.at(35), box.cellSize * 256);
    EXPECT_EQ(r.data.at(36) << 8 | r.data.at(37), 0);
  }
  // Absent lists or grey images.
  EXPECT_EQ(encodeHalftoneJBig2(nullptr, greys, s.file(), 1, 3, state), VLT_ERR_ASSERT);
  EXPECT_EQ(encodeHalftoneJBig2(boxes, nullptr, s.file(), 1, 3, state), VLT_ERR_ASSERT);
  greys->first->data = nullptr;
  EXPECT_EQ(encodeHalftoneJBig2(boxes, greys, s.file(), 1, 3, state), VLT_ERR_ASSERT);
  greys->first->data = g[0];
  for (PIXR* p : g) w_destroyPixr(ipw(), &p);
  VltAdt_liFree(boxes);
  VltAdt_liFree(greys);
}

TEST_F(HalftoneEncodeTest, EveryFailurePathFreesWhatItMade) {
  VltAdtList *boxes = nullptr, *greys = nullptr;
  ASSERT_EQ(VltAdt_liNew(&boxes, state), VLT_OK);
  ASSERT_EQ(VltAdt_liNew(&greys, state), VLT_OK);
  HalftoneBox b{0, 0, 48, 24, 0, 0, 4, 16, 1};
  PIXR* g = grey(12, 6, 16);
  ASSERT_EQ(VltAdt_liAdd(boxes, &b, nullptr), VLT_OK);
  ASSERT_EQ(VltAdt_liAdd(greys, g, nullptr), VLT_OK);
  for (bool mq : {false, true}) {
    for (size_t k = 1;; ++k) {
      const size_t live = alloc.live_blocks();
      VltStatus st;
      {
        MemoryStream s(state);
        jb2GetFileParams(s.file())->pdArith = mq;
        jb2GetFileParams(s.file())->trArith = mq;
        alloc.fail_at(k);
        st = encodeHalftoneJBig2(boxes, greys, s.file(), 1, 1, state);
        alloc.fail_at(0);
      }
      EXPECT_EQ(alloc.live_blocks(), live) << "allocation " << k;
      if (st == VLT_OK) break;
      EXPECT_NE(st, VLT_OK);
      ASSERT_LT(k, 200u);
    }
  }
  // Levels the patterns cannot give are refused without a trace.
  b.levels = 1;
  {
    MemoryStream s(state);
    EXPECT_EQ(encodeHalftoneJBig2(boxes, greys, s.file(), 1, 1, state), VLT_ERR_ASSERT);
  }
  w_destroyPixr(ipw(), &g);
  VltAdt_liFree(boxes);
  VltAdt_liFree(greys);
}

}  // namespace
