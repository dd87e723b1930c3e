// Generic and refinement region decoding: our writer's every coding decodes to its source bitmap,
// composed into pages in every way; the parsing rules and refusals of both segment kinds; data of
// unknown length; regions off the page; refinement diagnostics as warnings; deep refinement
// chains; allocation failures. (The shared feature streams check the decoders against encoders
// we did not write.)

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "byteorder.h"
#include "jb2_decode.h"
#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_test_stream.h"
#include "ref_bitmap.h"
#include "ref_generic.h"
#include "sanitizer_size.h"
#include "vlt_blit.h"

namespace {

using jb2test::Bytes;
using monotest::first_difference;
using monotest::RefBitmap;

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes region_field(uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint8_t op) {
  return be32(w) + be32(h) + be32(x) + be32(y) + Bytes{op};
}

RefBitmap filled(int w, int h, int v) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bm.set(x, y, v);
  return bm;
}

// Glyph-like blobs scattered on a wide white band, so white runs cross word boundaries.
RefBitmap sparse(int w, int h, uint32_t seed) {
  RefBitmap bm(w, h);
  uint32_t r = seed;
  for (int n = 0; n < w / 40; ++n) {
    r = r * 1664525u + 1013904223u;
    const int x0 = static_cast<int>(r % static_cast<uint32_t>(w)), y0 = static_cast<int>((r >> 16) % static_cast<uint32_t>(h));
    for (int y = y0; y < y0 + 5 && y < h; ++y)
      for (int x = x0; x < x0 + 3 && x < w; ++x) bm.set(x, y, 1);
  }
  return bm;
}

struct RegionTest : Jb2ReadTest {

  Bytes segment(uint32_t number, uint8_t type, const std::vector<uint32_t>& refs, const Bytes& data,
                uint32_t length) {
    jb2test::MemoryStream s(state);
    SegmentInfo seg{};
    seg.number = number;
    seg.type = type;
    seg.page = 1;
    std::vector<uint8_t> retain(refs.size(), 0);
    seg.referredCount = static_cast<int32_t>(refs.size());
    seg.referred = const_cast<uint32_t*>(refs.data());
    seg.referredRetain = retain.data();
    seg.dataLength = length;
    jb2test::check(jb2EncodeSegmentHeader(s.file(), &seg), "header");
    jb2test::check(jb2EncodeSegmentHeaderDataLength(s.file(), &seg), "length");
    return s.finish() + data;
  }
  Bytes segment(uint32_t number, uint8_t type, const std::vector<uint32_t>& refs, const Bytes& data) {
    return segment(number, type, refs, data, static_cast<uint32_t>(data.size()));
  }

  VltStatus read(const Bytes& b, SegmentInfo* seg, SegmentInfo** referred = nullptr, DataSource* src = nullptr) {
    DataSource own;
    if (src == nullptr) src = &own;
    jb2test::memory_source(src, state, b.data(), b.size());
    VltStatus st = jb2DecodeSegmentHeader(file, src, seg);
    if (st == VLT_OK) st = jb2DecodeSegment(file, src, seg, referred);
    return st;
  }

  // A generic region of the bitmap written by our writer: the whole segment.
  Bytes written(const RefBitmap& bm, const jb2test::GenericConfig& c, uint32_t x = 0, uint32_t y = 0,
                uint8_t op = JB2_COMBOP_OR) {
    jb2test::MemoryStream s(state);
    VltImage* im = jb2test::packed_image(state, bm);
    SegmentInfo seg = jb2test::generic_record(im, x, y, c.mmr, c.params);
    seg.region.combOp = op;
    const VltStatus st = jb2EncodeGenRegion(s.file(), &seg);
    VltImage_free(im);
    jb2test::check(st, "jb2EncodeGenRegion");
    return s.finish();
  }

  // A segment that must be refused with the status (and message, when given), leaving nothing
  // in the record's body.
  void expect_refused(const Bytes& b, SegmentInfo** refs, VltStatus status, const char* message) {
    printed = {};
    SegmentInfo seg{};
    EXPECT_EQ(read(b, &seg, refs), status);
    if (message != nullptr) {
      EXPECT_NE(printed.text.find(message), std::string::npos) << printed.text;
    }
    EXPECT_EQ(seg.body.generic.data, nullptr);
    jb2FreeSegmentInfo(&seg, state);
  }

  // Reads the segment and composes it into a page of w x h with every allocation failing in
  // turn: each failure reports running out of memory and leaves no more than `kept` blocks.
  void fail_each_allocation(const Bytes& b, SegmentInfo** refs, int w, int h, size_t kept,
                            SegmentInfo* reference = nullptr) {
    for (size_t k = 1;; ++k) {
      alloc.fail_at(k);
      SegmentInfo seg{};
      VltStatus st = read(b, &seg, refs);
      VltImage* p = nullptr;
      if (st == VLT_OK) st = VltImage_new(state, VLT_IMAGE_PACKED, w, h, &p);
      if (st == VLT_OK) st = jb2RenderRegionIntoPage(file, &seg, p);
      alloc.fail_at(0);
      VltImage_free(p);
      jb2FreeSegmentInfo(&seg, state);
      // A reference rendered on the way keeps its bitmap: drop it for the count.
      if (reference != nullptr && reference->hasBitmap) {
        VltImage_free(reference->bitmap);
        reference->bitmap = nullptr;
        reference->hasBitmap = 0;
      }
      EXPECT_EQ(alloc.live_blocks(), baseline + kept) << k;
      if (st == VLT_OK) break;
      // Bitmaps report running out of memory as the engine's own code.
      EXPECT_TRUE(st == VLT_ERR_NOMEM || st == VLT_ERR_VLT_NOMEM) << k << ": " << st;
    }
  }

  VltImage* page(int w, int h, int fill) {
    VltImage* p = nullptr;
    jb2test::check(VltImage_new(state, VLT_IMAGE_PACKED, w, h, &p), "page");
    if (fill) VltBlat_blitFillPacked(p);
    return p;
  }
};

// ---- Generic regions -------------------------------------------------------------------------

TEST_F(RegionTest, EveryCodingOfOurWriterDecodesToItsSource) {
  std::vector<std::pair<std::string, RefBitmap>> bitmaps;
  for (int w : {1, 31, 32, 33, 95, 200}) bitmaps.emplace_back("noise", monotest::make_noise(w, 17, 0.4, static_cast<uint32_t>(w)));
  bitmaps.emplace_back("text", monotest::make_text_blobs(321, 77, 5));
  bitmaps.emplace_back("sparse", sparse(1000, 40, 9));
  bitmaps.emplace_back("white", filled(100, 9, 0));
  bitmaps.emplace_back("black", filled(100, 9, 1));
  RefBitmap repeated = monotest::make_lines(150, 140, 3);
  for (int y = 1; y < 140; y += 3) std::copy(repeated.row(y - 1), repeated.row(y - 1) + repeated.stride, repeated.row(y));
  bitmaps.emplace_back("repeated rows", repeated);
  for (const jb2test::GenericConfig& c : jb2test::generic_configs()) {
    for (const auto& [name, bm] : bitmaps) {
      SCOPED_TRACE(c.name + " on " + name + " " + std::to_string(bm.width));
      SegmentInfo seg{};
      ASSERT_EQ(read(written(bm, c), &seg), VLT_OK) << printed.text;
      ASSERT_EQ(jb2RenderGenReg(file, &seg), VLT_OK);
      EXPECT_EQ(first_difference(bm, jb2test::ref_bitmap(seg.bitmap)), "");
      jb2FreeSegmentInfo(&seg, state);
    }
  }
}

TEST_F(RegionTest, RegionsComposeIntoThePageWithTheirOperator) {
  const RefBitmap bm = monotest::make_text_blobs(70, 30, 11);
  const RefBitmap back = monotest::make_noise(120, 50, 0.5, 4);
  for (const bool mmr : {true, false}) {
    for (uint8_t op = 0; op <= JB2_COMBOP_REPLACE; ++op) {
      SCOPED_TRACE(std::to_string(mmr) + " op " + std::to_string(op));
      const jb2test::GenericConfig c{"", mmr, {0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0}};
      SegmentInfo seg{};
      ASSERT_EQ(read(written(bm, c, 37, 9, op), &seg), VLT_OK);
      VltImage* p = jb2test::packed_image(state, back);
      ASSERT_EQ(jb2RenderGenRegIntoPage(file, &seg, p), VLT_OK) << printed.text;
      // MMR ORed into the page goes straight in, without a region bitmap.
      EXPECT_EQ(seg.hasBitmap, mmr && op == JB2_COMBOP_OR ? 0 : 1);
      RefBitmap want = back;
      for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < bm.width; ++x) {
          const int d = back.get(x + 37, y + 9), s = bm.get(x, y);
          const int v = op == 0 ? (s | d) : op == 1 ? (s & d) : op == 2 ? (s ^ d) : op == 3 ? !(s ^ d) : s;
          want.set(x + 37, y + 9, v);
        }
      EXPECT_EQ(first_difference(want, jb2test::ref_bitmap(p)), "");
      VltImage_free(p);
      jb2FreeSegmentInfo(&seg, state);
    }
  }
}

TEST_F(RegionTest, RegionsOffThePageAndIntermediateRegions) {
  const RefBitmap bm = filled(10, 4, 1);
  const jb2test::GenericConfig c{"", false, {2, {2}, {-1}, 0}};
  for (const uint32_t x : {90u, 91u, 0xFFFFFFF8u}) {
    printed = {};
    SegmentInfo seg{};
    ASSERT_EQ(read(written(bm, c, x, 0), &seg), VLT_OK);
    VltImage* p = page(100, 4, 0);
    EXPECT_EQ(jb2RenderGenRegIntoPage(file, &seg, p), x == 90 ? VLT_OK : VLT_ERR_CODEC) << x;
    if (x != 90) {
      EXPECT_NE(printed.text.find("region extends off page"), std::string::npos);
    }
    VltImage_free(p);
    jb2FreeSegmentInfo(&seg, state);
  }
  Bytes seg36 = written(bm, c);
  seg36[4] = JB2_SEG_GENERIC_INTERMEDIATE;
  SegmentInfo seg{};
  ASSERT_EQ(read(seg36, &seg), VLT_OK);
  VltImage* p = page(100, 4, 0);
  printed = {};
  EXPECT_EQ(jb2RenderGenRegIntoPage(file, &seg, p), VLT_ERR_ASSERT);
  EXPECT_TRUE(printed.codes.empty());
  VltImage_free(p);
  jb2FreeSegmentInfo(&seg, state);
}

TEST_F(RegionTest, AdaptivePixelsMustPrecedeThePixel) {
  struct Case {
    uint8_t tmpl;
    Bytes at;
    VltStatus status;
  };
  const Case cases[] = {
      {1, {3, 0xFF}, VLT_OK},                                   // (3, -1)
      {1, {0, 0}, VLT_ERR_PARAM},                               // (0, 0)
      {1, {1, 0}, VLT_ERR_PARAM},                               // (1, 0)
      {1, {0xFF, 0}, VLT_OK},                                   // (-1, 0)
      {2, {0, 1}, VLT_ERR_PARAM},                               // (0, 1)
      {0, {3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE}, VLT_OK},  // nominal, AT4 (-2, -2)
      {0, {3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 5, 0}, VLT_ERR_PARAM}, // AT4 (5, 0)
  };
  for (const Case& c : cases) {
    printed = {};
    SegmentInfo seg{};
    const Bytes data = region_field(8, 2, 0, 0, 0) + Bytes{uint8_t(c.tmpl << 1)} + c.at + Bytes{0x12, 0x34};
    EXPECT_EQ(read(segment(1, JB2_SEG_GENERIC_IMMEDIATE, {}, data), &seg), c.status);
    if (c.status != VLT_OK) {
      EXPECT_NE(printed.text.find("bad AT params"), std::string::npos);
    }
    if (c.status == VLT_OK) {
      EXPECT_EQ(seg.body.generic.dataLength, 2u);
      EXPECT_EQ(seg.body.generic.params.atx[1], c.tmpl == 0 ? -3 : 0);
    }
    jb2FreeSegmentInfo(&seg, state);
  }
}

TEST_F(RegionTest, GenericSegmentRefusals) {
  struct Case {
    const char* name;
    uint8_t type;
    std::vector<uint32_t> refs;
    Bytes data;
    VltStatus status;
    const char* message;
  };
  const Bytes mqBody = Bytes{0x04, 2, 0xFF, 0xFF, 0xAC};
  const Case cases[] = {
      {"refers", JB2_SEG_GENERIC_IMMEDIATE, {0}, region_field(8, 2, 0, 0, 0) + mqBody, VLT_ERR_CODEC,
       "generic region segment can't refer to anything"},
      {"too large", JB2_SEG_GENERIC_IMMEDIATE, {}, region_field(1u << 16, 1u << 15, 0, 0, 0) + mqBody, VLT_ERR_CODEC,
       "region too large"},
      {"too wide", JB2_SEG_GENERIC_IMMEDIATE, {}, region_field(0x80000000u, 0, 0, 0, 0) + mqBody, VLT_ERR_CODEC,
       "region too large"},
      {"short", JB2_SEG_GENERIC_IMMEDIATE, {}, region_field(8, 2, 0, 0, 0) + Bytes{0x04, 2}, VLT_ERR_IO_LENGTH, nullptr},
  };
  SegmentInfo zero{};
  SegmentInfo* refs[] = {&zero};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_refused(segment(1, c.type, c.refs, c.data), refs, c.status, c.message);
  }
}

TEST_F(RegionTest, MmrDataMustBeUsedUp) {
  const RefBitmap bm = monotest::make_text_blobs(50, 20, 2);
  const jb2test::GenericConfig c{"", true, {}};
  Bytes seg = written(bm, c);
  for (const uint8_t extra : {0x00, 0x5A}) {
    printed = {};
    Bytes longer = seg + Bytes{extra};
    mono::store_be32(longer.data() + 7, mono::load_be32(longer.data() + 7) + 1);
    SegmentInfo s{};
    ASSERT_EQ(read(longer, &s), VLT_OK);
    // A zero byte after the code is padding; anything else is data the code did not account for.
    EXPECT_EQ(jb2RenderGenReg(file, &s), extra == 0 ? VLT_OK : VLT_ERR_CODEC);
    if (extra != 0) {
      EXPECT_NE(printed.text.find("not all MMR-encoded data consumed"), std::string::npos);
    }
    VltImage* p = page(50, 20, 0);
    EXPECT_EQ(jb2RenderGenRegIntoPage(file, &s, p), extra == 0 ? VLT_OK : VLT_ERR_CODEC);
    // The same rule when the code is read from a source into a window of a bitmap.
    VltImage* q = page(64, 20, 0);
    DataSource src;
    jb2test::memory_source(&src, state, s.body.generic.data, s.body.generic.dataLength);
    EXPECT_EQ(jb2MMRDecodeImage(q->rows[0], 50, 20, 2, 7, 56, 19, file, &src, s.body.generic.dataLength),
              extra == 0 ? VLT_OK : VLT_ERR_CODEC);
    if (extra == 0) {
      RefBitmap shifted(64, 20);
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 50; ++x) shifted.set(x + 7, y, bm.get(x, y));
      EXPECT_EQ(first_difference(shifted, jb2test::ref_bitmap(q)), "");
    }
    VltImage_free(q);
    VltImage_free(p);
    jb2FreeSegmentInfo(&s, state);
  }
}

TEST_F(RegionTest, UnknownLengthEndsAtTheEndSequence) {
  // MQ coded: a lone AC, and AC after FF 7F, do not end the data; FF AC does, and the row count
  // after it is the height. The next segment follows at once.
  const Bytes coded = {0x12, 0xAC, 0xFF, 0x7F, 0xAC, 0x00, 0xFF, 0xAC};
  const Bytes next = segment(2, JB2_SEG_END_OF_STRIPE, {}, be32(2));
  const Bytes mq = segment(1, JB2_SEG_GENERIC_IMMEDIATE, {},
                           region_field(8, 0xFFFFFFFF, 0, 0, 0) + Bytes{0x06, 2, 0xFF} + coded + be32(3) + next,
                           JB2_UNKNOWN_LENGTH);
  SegmentInfo seg{};
  DataSource src;
  ASSERT_EQ(read(mq, &seg, nullptr, &src), VLT_OK) << printed.text;
  EXPECT_EQ(seg.region.height, 3u);
  EXPECT_EQ(seg.body.generic.dataLength, coded.size());
  EXPECT_EQ(seg.dataLength, 18 + 2 + coded.size() + 4);
  ASSERT_EQ(jb2RenderGenReg(file, &seg), VLT_OK);
  EXPECT_EQ(seg.bitmap->hdr.height, 3);
  jb2FreeSegmentInfo(&seg, state);
  ASSERT_EQ(jb2DecodeSegmentHeader(file, &src, &seg), VLT_OK);
  EXPECT_EQ(seg.number, 2u);
  jb2FreeSegmentInfo(&seg, state);

  // MMR coded: the code with its end-of-block, then 00 00 and the row count.
  const RefBitmap bm = monotest::make_text_blobs(90, 25, 8);
  VltImage* im = jb2test::packed_image(state, bm);
  Bytes code(4096);
  size_t n = code.size();
  jb2test::check(jb2MMREncode(im->rows[0], 90, 25, im->hdr.bytesPerLine / 4, code.data(), &n, 1, state), "MMR");
  VltImage_free(im);
  code.resize(n);
  const Bytes mmr = segment(1, JB2_SEG_GENERIC_LOSSLESS, {},
                            region_field(90, 0xFFFFFFFF, 0, 0, 0) + Bytes{0x01} + code + Bytes{0, 0} + be32(25),
                            JB2_UNKNOWN_LENGTH);
  ASSERT_EQ(read(mmr, &seg), VLT_OK) << printed.text;
  ASSERT_EQ(jb2RenderGenReg(file, &seg), VLT_OK) << printed.text;
  EXPECT_EQ(first_difference(bm, jb2test::ref_bitmap(seg.bitmap)), "");
  jb2FreeSegmentInfo(&seg, state);

  struct Bad {
    const char* name;
    Bytes bytes;
    VltStatus status;
    const char* message;
  };
  const Bytes body = Bytes{0x06, 2, 0xFF} + coded;
  const Bad bad[] = {
      {"intermediate", segment(1, JB2_SEG_GENERIC_INTERMEDIATE, {}, region_field(8, 9, 0, 0, 0) + body + be32(3), JB2_UNKNOWN_LENGTH),
       VLT_ERR_CODEC, "non-immediate streaming generic region"},
      {"more rows than its height", segment(1, JB2_SEG_GENERIC_IMMEDIATE, {}, region_field(8, 2, 0, 0, 0) + body + be32(3), JB2_UNKNOWN_LENGTH),
       VLT_ERR_CODEC, "row count beyond its height"},
      {"no end sequence", segment(1, JB2_SEG_GENERIC_IMMEDIATE, {}, region_field(8, 9, 0, 0, 0) + Bytes{0x06, 2, 0xFF, 1, 2, 3}, JB2_UNKNOWN_LENGTH),
       VLT_ERR_IO_LENGTH, nullptr},
      {"no row count", segment(1, JB2_SEG_GENERIC_IMMEDIATE, {}, region_field(8, 9, 0, 0, 0) + body + Bytes{0, 0}, JB2_UNKNOWN_LENGTH),
       VLT_ERR_IO_LENGTH, nullptr},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    expect_refused(b.bytes, nullptr, b.status, b.message);
  }
}

TEST_F(RegionTest, GenericAllocationFailuresLeaveNothing) {
  const RefBitmap bm = monotest::make_text_blobs(64, 30, 3);
  const Bytes cases[] = {
      written(bm, {"", false, {1, {3}, {-1}, 1}}),
      written(bm, {"", true, {}}),
      segment(1, JB2_SEG_GENERIC_IMMEDIATE, {},
              region_field(8, 0xFFFFFFFF, 0, 0, 0) + Bytes{0x06, 2, 0xFF} + Bytes(40000, 0x11) + Bytes{0xFF, 0xAC} + be32(2),
              JB2_UNKNOWN_LENGTH),
  };
  for (const Bytes& b : cases) fail_each_allocation(b, nullptr, 64, 30, 1);
}

// ---- Refinement ------------------------------------------------------------------------------

Bytes refine_body(uint8_t flags, const Bytes& at = {0xFF, 0, 0, 0}) {
  Bytes b{flags};
  if ((flags & 1) == 0) b = b + at;
  return b + Bytes{0x55, 0x23, 0x77, 0xFF, 0xAC};
}

TEST_F(RegionTest, RefinementAdaptivePixels) {
  struct Case {
    Bytes at;  // x1, y1, x2, y2
    VltStatus status;
  };
  const Case cases[] = {
      {{0xFF, 0, 0, 0}, VLT_OK},           // A1 (-1, 0)
      {{5, 0xFF, 0, 0}, VLT_OK},           // A1 (5, -1)
      {{0xFF, 0, 100, 100}, VLT_OK},       // A2 anywhere
      {{0, 0, 0, 0}, VLT_ERR_PARAM},       // A1 (0, 0)
      {{0xFF, 1, 0, 0}, VLT_ERR_PARAM},    // A1 (-1, 1)
  };
  for (const Case& c : cases) {
    printed = {};
    SegmentInfo seg{};
    const Bytes data = region_field(9, 3, 0, 0, 4) + refine_body(0, c.at);
    EXPECT_EQ(read(segment(1, JB2_SEG_REFINE_LOSSLESS, {}, data), &seg), c.status);
    if (c.status != VLT_OK) {
      EXPECT_NE(printed.text.find("bad RAT params"), std::string::npos);
    } else {
      EXPECT_EQ(seg.body.refinement.params.atx1, static_cast<int8_t>(c.at[0]));
      EXPECT_EQ(seg.body.refinement.params.aty2, static_cast<int8_t>(c.at[3]));
      EXPECT_EQ(seg.body.refinement.dataLength, 5);
    }
    jb2FreeSegmentInfo(&seg, state);
  }
  // Template 1: no adaptive pixels, the data follow the flags; 1024 contexts.
  SegmentInfo seg{};
  ASSERT_EQ(read(segment(1, JB2_SEG_REFINE_LOSSLESS, {}, region_field(9, 3, 0, 0, 4) + refine_body(1)), &seg), VLT_OK);
  EXPECT_EQ(seg.body.refinement.dataLength, 5);
  EXPECT_EQ(seg.body.refinement.data[0], 0x55);
  EXPECT_EQ(jb2RABContextsNeeded(&seg.body.refinement.params), 1024u);
  jb2FreeSegmentInfo(&seg, state);
  RefinementParams p{0, 0, 0, 0, 0, 0};
  EXPECT_EQ(jb2RABContextsNeeded(&p), 8192u);
  p.grTemplate = 2;
  EXPECT_EQ(jb2RABContextsNeeded(&p), 1u);
}

TEST_F(RegionTest, RefinementOfThePage) {
  VltImage* p = page(40, 10, 1);
  struct Case {
    uint32_t x;
    uint8_t op;
    VltStatus status;
    const char* message;
  };
  const Case cases[] = {
      {30, JB2_COMBOP_REPLACE, VLT_OK, nullptr},
      {30, JB2_COMBOP_OR, VLT_ERR_CODEC, "refinement segment applying to page needs REPLACE"},
      {31, JB2_COMBOP_REPLACE, VLT_ERR_CODEC, "region extends off page"},
  };
  for (const Case& c : cases) {
    printed = {};
    SegmentInfo seg{};
    ASSERT_EQ(read(segment(1, JB2_SEG_REFINE_LOSSLESS, {}, region_field(10, 10, c.x, 0, c.op) + refine_body(0)), &seg), VLT_OK);
    EXPECT_EQ(jb2RenderGenRefRegIntoPage(file, &seg, p), c.status);
    if (c.message != nullptr) {
      EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    }
    // The result is written into the page, not kept.
    EXPECT_EQ(seg.hasBitmap, 0);
    jb2FreeSegmentInfo(&seg, state);
  }
  VltImage_free(p);
}

// A refinement decoder that has run out of coded data goes on inventing pixels: a region that
// asks for more decisions than its bytes can hold is refused as it is read, and one whose decoder
// goes on well past the end of its data is refused as it is rendered, before the whole bitmap is
// made up. (Generic regions decode past their data as far as their size asks: see
// AnyCodedBytesDecodeAsTheReferenceDecodesThem and the interop tests.)
TEST_F(RegionTest, RefinementsLargerThanTheirCodedDataAreRefused) {
  const Bytes garbage = {0x12, 0x34, 0x56, 0x78, 0x9A};
  struct Case {
    const char* name;
    uint8_t type;
    Bytes data;
    VltStatus readStatus;
    const char* message;
  };
  // Five bytes hold at most (5 + 4) * 2^18 decisions.
  const Case cases[] = {
      {"refinement of the page", JB2_SEG_REFINE_LOSSLESS,
       region_field(2048, 1152, 0, 0, JB2_COMBOP_REPLACE) + Bytes{0x01} + garbage, VLT_OK,
       "arithmetic-coded data ends early"},
      {"refinement, more pixels than the bytes hold", JB2_SEG_REFINE_LOSSLESS,
       region_field(2048, 1153, 0, 0, JB2_COMBOP_REPLACE) + Bytes{0x01} + garbage, VLT_ERR_CODEC,
       "coded data too short for its size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.readStatus != VLT_OK) {
      expect_refused(segment(1, c.type, {}, c.data), nullptr, c.readStatus, c.message);
      continue;
    }
    SegmentInfo seg{};
    ASSERT_EQ(read(segment(1, c.type, {}, c.data), &seg), VLT_OK) << printed.text;
    printed = {};
    VltImage* p = page(2048, 1152, 0);
    EXPECT_EQ(jb2RenderGenRefRegIntoPage(file, &seg, p), VLT_ERR_CODEC);
    EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    EXPECT_EQ(seg.hasBitmap, 0);
    VltImage_free(p);
    jb2FreeSegmentInfo(&seg, state);
    EXPECT_EQ(alloc.live_blocks(), baseline + 1);  // the stream context
  }
}

// Coded data can legitimately hold far more pixels than bytes: a white region of 2 M pixels in a
// few dozen bytes, which the decoder finishes close to the end of its data.
TEST_F(RegionTest, NearlyEmptyDataOfLargeWhiteRegionsDecodes) {
  const RefBitmap white = filled(2048, 1024, 0);
  for (const jb2test::GenericConfig& c : jb2test::generic_configs()) {
    if (c.mmr) continue;
    SCOPED_TRACE(c.name);
    const Bytes b = written(white, c);
    SegmentInfo seg{};
    ASSERT_EQ(read(b, &seg), VLT_OK) << printed.text;
    ASSERT_EQ(jb2RenderGenReg(file, &seg), VLT_OK) << printed.text;
    EXPECT_LT(seg.body.generic.dataLength, 200u);
    EXPECT_EQ(first_difference(white, jb2test::ref_bitmap(seg.bitmap)), "");
    jb2FreeSegmentInfo(&seg, state);
  }
}

TEST_F(RegionTest, RefinementDiagnosticsAreWarnings) {
  // An intermediate generic region to refine, and one immediate region that cannot be.
  SegmentInfo generic36{}, generic38{};
  const RefBitmap bm = monotest::make_text_blobs(20, 6, 1);
  const jb2test::GenericConfig c{"", false, {2, {2}, {-1}, 0}};
  Bytes b = written(bm, c);
  ASSERT_EQ(read(b, &generic38), VLT_OK);
  b[4] = JB2_SEG_GENERIC_INTERMEDIATE;
  ASSERT_EQ(read(b, &generic36), VLT_OK);
  struct Case {
    const char* name;
    uint8_t type;
    std::vector<SegmentInfo*> refs;
    Bytes region;
    const char* warning;
    VltStatus render;  // rendering afterwards
  };
  const Bytes same = region_field(20, 6, 0, 0, 0);
  const Case cases[] = {
      {"fine", JB2_SEG_REFINE_INTERMEDIATE, {&generic36}, same, nullptr, VLT_OK},
      {"intermediate without reference", JB2_SEG_REFINE_INTERMEDIATE, {}, same,
       "intermediate refinement refers to != 1 segments", VLT_ERR_ASSERT},
      {"two references", JB2_SEG_REFINE_IMMEDIATE, {&generic36, &generic36}, same,
       "immediate refinement refers to != (0,1) segments", VLT_ERR_ASSERT},
      {"immediate reference", JB2_SEG_REFINE_IMMEDIATE, {&generic38}, same,
       "refinement refers to non-intermediate region segment", VLT_ERR_ASSERT},
      {"other place", JB2_SEG_REFINE_INTERMEDIATE, {&generic36}, region_field(20, 6, 1, 0, 0),
       "refinement segment doesn't match segment it's refining", VLT_OK},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    printed = {};
    std::vector<uint32_t> numbers(k.refs.size(), 0);
    SegmentInfo seg{};
    std::vector<SegmentInfo*> refs = k.refs;
    ASSERT_EQ(read(segment(1, k.type, numbers, k.region + refine_body(0)), &seg, refs.data()), VLT_OK);
    if (k.warning == nullptr) {
      EXPECT_TRUE(printed.codes.empty()) << printed.text;
    } else {
      EXPECT_EQ(printed.codes, std::vector<int32_t>{VLT_CODE_WARNING});
      EXPECT_NE(printed.text.find(k.warning), std::string::npos) << printed.text;
    }
    EXPECT_EQ(jb2RenderGenRefReg(file, &seg), k.render);
    if (k.render == VLT_OK) {
      // Rendered once: the second call keeps the first bitmap.
      VltImage* first = seg.bitmap;
      EXPECT_EQ(jb2RenderGenRefReg(file, &seg), VLT_OK);
      EXPECT_EQ(seg.bitmap, first);
    }
    jb2FreeSegmentInfo(&seg, state);
  }
  jb2FreeSegmentInfo(&generic36, state);
  jb2FreeSegmentInfo(&generic38, state);
}

TEST_F(RegionTest, TypicalPredictionFromAReferenceBlackAllAround) {
  // A reference one pixel larger on every side, all black: with typical prediction every pixel,
  // those of the first two columns included, is predicted black and takes nothing from the data,
  // which hold only the prediction bits (on for the first row, then unchanged).
  const int w = 12, h = 5;
  VltImage* ref = page(w + 2, h + 2, 1);
  jb2test::MemoryStream s(state);
  MqEncoder enc;
  dsInitVltEncode_MQEncoder(s.sink(), &enc);
  std::vector<uint8_t> cx(8192, 0);
  for (int y = 0; y < h; ++y) ASSERT_EQ(VltEncode_mqeEncode(&enc, &cx[0x10], y == 0), 1);
  ASSERT_EQ(dsFinalVltEncode_MQEncoder(s.sink(), &enc), VLT_OK);
  const Bytes data = s.finish();
  std::vector<uint8_t> dst(static_cast<size_t>(h) * 4, 0);
  const RefinementParams p{0, -1, 0, 0, 0, 1};
  MqDecoder dec;
  VltEncode_mqdInit(&dec, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
  ASSERT_EQ(jb2ArithDecodeRefinement(dst.data(), w, h, 1, ref->rows[0], w + 2, h + 2, ref->hdr.bytesPerLine / 4, -1, -1,
                                     &p, nullptr, file, &dec),
            VLT_OK);
  for (int y = 0; y < h; ++y) EXPECT_EQ(mono::load_be32(&dst[4 * y]), 0xFFF00000u) << y;
  VltImage_free(ref);
}

TEST_F(RegionTest, LongRefinementChainsRender) {
  // Each intermediate refinement refines the one before; rendering the last renders them all.
  const int n = 20000;
  std::vector<SegmentInfo> chain(n);
  const RefBitmap bm = filled(3, 2, 1);
  const jb2test::GenericConfig c{"", false, {2, {2}, {-1}, 0}};
  Bytes b = written(bm, c);
  b[4] = JB2_SEG_GENERIC_INTERMEDIATE;
  ASSERT_EQ(read(b, &chain[0]), VLT_OK);
  const Bytes link = segment(1, JB2_SEG_REFINE_INTERMEDIATE, {0}, region_field(3, 2, 0, 0, 0) + refine_body(1));
  for (int i = 1; i < n; ++i) {
    SegmentInfo* ref = &chain[i - 1];
    ASSERT_EQ(read(link, &chain[i], &ref), VLT_OK);
  }
  EXPECT_EQ(jb2RenderGenRefReg(file, &chain[n - 1]), VLT_OK);
  for (int i = 0; i < n; ++i) EXPECT_EQ(chain[i].hasBitmap, 1) << i;
  for (SegmentInfo& s : chain) jb2FreeSegmentInfo(&s, state);
}

TEST_F(RegionTest, RefinementAllocationFailuresLeaveNothing) {
  SegmentInfo base{};
  const jb2test::GenericConfig c{"", false, {2, {2}, {-1}, 0}};
  Bytes b = written(monotest::make_text_blobs(30, 10, 4), c);
  b[4] = JB2_SEG_GENERIC_INTERMEDIATE;
  ASSERT_EQ(read(b, &base), VLT_OK);
  SegmentInfo* refs[] = {&base};
  const Bytes cases[] = {
      segment(2, JB2_SEG_REFINE_IMMEDIATE, {1}, region_field(30, 10, 0, 0, 0) + refine_body(0)),
      segment(2, JB2_SEG_REFINE_LOSSLESS, {}, region_field(30, 10, 2, 1, 4) + refine_body(2)),
  };
  // The context and the intermediate region's coded data stay.
  for (const Bytes& bytes : cases) fail_each_allocation(bytes, refs, 40, 12, 2, &base);
  jb2FreeSegmentInfo(&base, state);
}

}  // namespace

namespace {

// Any coded bytes decode to one bitmap: ours, its white-run steps included, and the reference
// decoder written pixel by pixel from the standard must agree on every one, whatever the bytes.
TEST_F(RegionTest, AnyCodedBytesDecodeAsTheReferenceDecodesThem) {
  std::mt19937 rng(7);
  for (const jb2test::GenericConfig& c : jb2test::generic_configs()) {
    if (c.mmr) continue;
    for (int trial = 0; trial < 6; ++trial) {
      const int w = 1 + static_cast<int>(rng() % 150), h = 1 + static_cast<int>(rng() % 40);
      // Mostly small values make long white stretches; a marker ends every other stream.
      Bytes data(static_cast<size_t>(rng() % 300));
      for (uint8_t& b : data) b = static_cast<uint8_t>(trial % 2 == 0 ? rng() % 4 : rng());
      if (trial % 3 != 2) data = data + Bytes{0xFF, 0xAC};
      SCOPED_TRACE(c.name + " " + std::to_string(w) + "x" + std::to_string(h) + " trial " + std::to_string(trial));
      monotest::RefGenericParams rp;
      rp.gbTemplate = c.params.gbTemplate;
      for (int i = 0; i < 4; ++i) {
        rp.atx[i] = c.params.atx[i];
        rp.aty[i] = c.params.aty[i];
      }
      rp.tpgdon = c.params.tpgdon != 0;
      monotest::RefGenericDecoder ref(data.data(), data.size());
      const RefBitmap want = ref.decode(w, h, rp);
      std::vector<uint8_t> buf(static_cast<size_t>((w + 31) / 32) * 4 * static_cast<size_t>(h), 0);
      MqDecoder mq;
      VltEncode_mqdInit(&mq, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
      ASSERT_EQ(jb2ArithDecodeImage(buf.data(), w, h, (w + 31) / 32, &c.params, nullptr, file, &mq), VLT_OK);
      RefBitmap got(w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) got.set(x, y, (buf[static_cast<size_t>(y) * ((w + 31) / 32) * 4 + x / 8] >> (7 - x % 8)) & 1);
      ASSERT_EQ(first_difference(want, got), "");
    }
  }
}

TEST_F(RegionTest, SkippedPixelsStayWhiteAndTakeNoDecision) {
  const RefBitmap bm = monotest::make_text_blobs(90, 30, 6);
  const jb2test::GenericConfig c{"", false, {0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0}};
  const Bytes seg = written(bm, c);
  const Bytes data(seg.begin() + 11 + 18 + 8, seg.end());
  auto decode = [&](const RefBitmap* skipBits, MqDecoder* mq) {
    VltImage* im = page(90, 30, 0);
    VltImage* skip = skipBits != nullptr ? jb2test::packed_image(state, *skipBits) : nullptr;
    std::vector<uint8_t> cx(65536, 0);
    VltEncode_mqdInit(mq, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
    EXPECT_EQ(jb2ArithDecodeImagePacked(im, &c.params, cx.data(), mq, skip), VLT_OK);
    const RefBitmap out = jb2test::ref_bitmap(im);
    VltImage_free(skip);
    VltImage_free(im);
    return out;
  };
  MqDecoder mq;
  ASSERT_EQ(first_difference(bm, decode(nullptr, &mq)), "");
  // Skipping everything decides nothing.
  const RefBitmap all = filled(90, 30, 1);
  MqDecoder fresh;
  VltEncode_mqdInit(&fresh, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
  EXPECT_EQ(decode(&all, &mq).count(), 0u);
  EXPECT_EQ(mq.C, fresh.C);
  EXPECT_EQ(mq.A, fresh.A);
  EXPECT_EQ(VltEncode_mqdReadPos(&mq), VltEncode_mqdReadPos(&fresh));
  // Skipping from row 20 on: the rows before decode as without skipping, the skipped pixels stay
  // white.
  RefBitmap tail(90, 30);
  for (int y = 20; y < 30; ++y)
    for (int x = y % 3; x < 90; x += 3) tail.set(x, y, 1);
  const RefBitmap got = decode(&tail, &mq);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 90; ++x) {
      const int want = tail.get(x, y) ? 0 : y < 20 ? bm.get(x, y) : got.get(x, y);
      ASSERT_EQ(got.get(x, y), want) << x << "," << y;
    }
}

// Any coded bytes refine any reference to one bitmap: ours, its white stretches taken at once
// included, and the reference procedure written pixel by pixel from the standard must agree,
// for both templates, adaptive pixels near and far, typical prediction, and references offset
// either way, mostly white, scattered, or black with a white hole.
TEST_F(RegionTest, AnyCodedBytesRefineAsTheReferenceRefines) {
  struct Config {
    const char* name;
    RefinementParams params;
  };
  const Config configs[] = {
      {"template 0", {0, -1, -1, -1, -1, 0}},
      {"template 0, far adaptive pixels", {0, -3, 2, 0, 3, 0}},
      {"template 0, typical prediction", {0, -1, -1, -1, -1, 1}},
      {"template 1", {1, 0, 0, 0, 0, 0}},
      {"template 1, typical prediction", {1, 0, 0, 0, 0, 1}},
  };
  std::mt19937 rng(11);
  for (const Config& c : configs) {
    monotest::RefRefineParams rp;
    rp.grTemplate = c.params.grTemplate;
    rp.atx[0] = c.params.atx1;
    rp.aty[0] = c.params.aty1;
    rp.atx[1] = c.params.atx2;
    rp.aty[1] = c.params.aty2;
    rp.tpgron = c.params.tpgron != 0;
    for (int trial = 0; trial < 200; ++trial) {
      const int w = 1 + static_cast<int>(rng() % 150), h = 1 + static_cast<int>(rng() % 40);
      const int rw = 1 + static_cast<int>(rng() % 160), rh = 1 + static_cast<int>(rng() % 44);
      const int dx = static_cast<int>(rng() % 7) - 3, dy = static_cast<int>(rng() % 7) - 3;
      RefBitmap reference = trial % 3 == 0 ? RefBitmap(rw, rh) : sparse(rw, rh, static_cast<uint32_t>(rng()));
      if (trial % 4 == 3) {
        reference = filled(rw, rh, 1);
        for (int y = rh / 4; y < rh / 2; ++y)
          for (int x = rw / 4; x < rw / 2; ++x) reference.set(x, y, 0);
      }
      // Mostly small values make long white stretches; a marker ends every other stream.
      Bytes data(static_cast<size_t>(rng() % 300));
      for (uint8_t& b : data) b = static_cast<uint8_t>(trial % 2 == 0 ? rng() % 4 : rng());
      if (trial % 3 != 2) data = data + Bytes{0xFF, 0xAC};
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(w) + "x" + std::to_string(h) + " over " +
                   std::to_string(rw) + "x" + std::to_string(rh) + " at " + std::to_string(dx) + "," +
                   std::to_string(dy) + " trial " + std::to_string(trial) + " bytes " + std::to_string(data.size()));
      const RefBitmap want = monotest::ref_refine_decode(data.data(), data.size(), w, h, reference, dx, dy, rp);
      const int wpr = (w + 31) / 32, rwpr = (rw + 31) / 32;
      std::vector<uint8_t> dst(static_cast<size_t>(wpr) * 4 * static_cast<size_t>(h), 0);
      std::vector<uint8_t> ref(static_cast<size_t>(rwpr) * 4 * static_cast<size_t>(rh), 0);
      for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x)
          if (reference.get(x, y)) ref[static_cast<size_t>(y) * rwpr * 4 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      MqDecoder mq;
      VltEncode_mqdInit(&mq, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
      const VltStatus st = jb2ArithDecodeRefinement(dst.data(), w, h, wpr, ref.data(), rw, rh, rwpr, dx, dy, &c.params,
                                                    nullptr, file, &mq);
      ASSERT_EQ(st, VLT_OK) << printed.text;
      RefBitmap got(w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) got.set(x, y, (dst[static_cast<size_t>(y) * wpr * 4 + x / 8] >> (7 - x % 8)) & 1);
      ASSERT_EQ(first_difference(want, got), "");
    }
    // An empty reference (an empty region refined) has no rows: every pixel of it reads 0.
    for (const auto& [rw, rh] : std::vector<std::pair<int, int>>{{0, 5}, {7, 0}, {0, 0}}) {
      SCOPED_TRACE(std::string(c.name) + " over an empty " + std::to_string(rw) + "x" + std::to_string(rh));
      const Bytes data = {0x12, 0x00, 0x03, 0x01, 0x00, 0x00, 0x02};
      VltImage* ref = nullptr;
      VltImage* dst = nullptr;
      ASSERT_EQ(VltImage_new(state, VLT_IMAGE_PACKED, rw, rh, &ref), VLT_OK);
      ASSERT_EQ(VltImage_new(state, VLT_IMAGE_PACKED, 40, 6, &dst), VLT_OK);
      std::vector<uint8_t> cx(jb2RABContextsNeeded(&c.params), 0);
      MqDecoder mq;
      VltEncode_mqdInit(&mq, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
      const VltStatus st = c.params.grTemplate == 0 ? refineImageT13(dst, ref, 1, -1, &c.params, cx.data(), &mq)
                                                    : refineImageT10(dst, ref, 1, -1, &c.params, cx.data(), &mq);
      EXPECT_EQ(st, VLT_OK);
      EXPECT_EQ(first_difference(monotest::ref_refine_decode(data.data(), data.size(), 40, 6, RefBitmap(rw, rh), 1, -1, rp),
                                 jb2test::ref_bitmap(dst)),
                "");
      VltImage_free(dst);
      VltImage_free(ref);
    }
  }
}

// A white bitmap refined from a white reference costs a few bytes for any size, and decoding it
// must cost about as little: no more than a few times decoding the same white bitmap as a generic
// region (the same coded bytes: every pixel in context 0), which takes white runs at once. A
// decision's full price a pixel, as before, made it twenty times slower: seconds for a page of a
// few kilobytes. Measured against each other, so that emulation and sanitizers slow both alike.
TEST_F(RegionTest, WhiteRefinementsDecodeAsFastAsWhiteGenericRegions) {
  constexpr int kSide = monotest::sanitizer_sized(8192, 2048);
  const int wpr = kSide / 32;
  std::vector<uint8_t> white(static_cast<size_t>(wpr) * 4 * kSide, 0), dst(white.size());
  Bytes data;
  MqEncoder enc{};
  VltEncode_mqeInit(&enc, [](uint8_t b, void* c) { static_cast<Bytes*>(c)->push_back(b); return 1; }, &data, state);
  uint8_t cx = 0;
  ASSERT_EQ(VltEncode_mqeEncodeRun(&enc, &cx, 0, uint32_t{kSide} * kSide), 1);
  ASSERT_EQ(VltEncode_mqeFlush(&enc), 1);
  EXPECT_LT(data.size(), 1000u);
  // The quickest of three decodes of the bytes, each into a cleared bitmap that must stay white.
  const auto quickest = [&](const std::function<VltStatus(MqDecoder*)>& decode) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      std::fill(dst.begin(), dst.end(), uint8_t{0});
      MqDecoder mq;
      VltEncode_mqdInit(&mq, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(decode(&mq), VLT_OK) << printed.text;
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      EXPECT_EQ(std::count(dst.begin(), dst.end(), uint8_t{0}), static_cast<ptrdiff_t>(dst.size()));
    }
    return best;
  };
  const Jb2GenericParams generic{0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0};
  const double plain = quickest([&](MqDecoder* mq) {
    return jb2ArithDecodeImage(dst.data(), kSide, kSide, wpr, &generic, nullptr, file, mq);
  });
  for (const uint8_t tpl : {uint8_t{0}, uint8_t{1}}) {
    SCOPED_TRACE(int(tpl));
    const RefinementParams params{tpl, -1, -1, -1, -1, 0};
    const double refined = quickest([&](MqDecoder* mq) {
      return jb2ArithDecodeRefinement(dst.data(), kSide, kSide, wpr, white.data(), kSide, kSide, wpr, 0, 0, &params,
                                      nullptr, file, mq);
    });
    EXPECT_LT(refined, 4 * plain + 0.02) << "generic " << plain << " s, refined " << refined << " s";
  }
}

}  // namespace
