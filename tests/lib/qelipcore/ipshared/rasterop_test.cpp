// The raster operation against the naive per-pixel reference, its argument rules, the kernel
// choice and the tile state.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "ip_rastop.h"
#include "ip_test_state.h"
#include "ref_rasterop.h"

namespace {

using iptest::TestState;
using monotest::RefRasterOp;

constexpr int kDepths[] = {1, 2, 4, 8, 16};

struct Buffer {
  int width = 0, height = 0, depth = 1;
  uint32_t bpl = 0;
  std::vector<uint8_t> bytes;  // exactly height x bpl, so a stray word is a heap overflow

  Buffer(int w, int h, int d, int extraWords, std::mt19937& rng) : width(w), height(h), depth(d) {
    bpl = static_cast<uint32_t>((w * d + 31) / 32 + extraWords) * 4;
    bytes.resize(size_t{bpl} * static_cast<size_t>(h));
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  }
};

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

struct Case {
  int depth;
  unsigned t;
  bool clip, aliased;
  int dW, dH, dXO, dYO, dX, dY, w, h;
  int sW, sH, sXO, sYO, sX, sY;
};

// A request inside both buffers when clipping is off (the caller's promise), anything when on.
Case random_case(std::mt19937& rng, int depth, unsigned t) {
  Case c{};
  c.depth = depth;
  c.t = t;
  c.clip = pick(rng, 0, 2) != 0;
  c.aliased = pick(rng, 0, 2) == 0;
  const int maxOffset = 95 / depth;
  c.dW = pick(rng, 1, 400);
  c.dH = pick(rng, 1, 14);
  c.sW = c.aliased ? c.dW : pick(rng, 1, 400);
  c.sH = c.aliased ? c.dH : pick(rng, 1, 14);
  c.dXO = pick(rng, 0, maxOffset);
  c.dYO = pick(rng, 0, 2);
  c.sXO = pick(rng, 0, maxOffset);
  c.sYO = pick(rng, 0, 2);
  if (c.clip) {
    c.dX = pick(rng, -20, c.dW);
    c.dY = pick(rng, -3, c.dH);
    c.w = pick(rng, 1, 300);
    c.h = pick(rng, 1, 12);
    c.sX = c.aliased ? c.dX + pick(rng, -40, 40) : pick(rng, -20, c.sW);
    c.sY = c.aliased ? c.dY + pick(rng, -2, 2) : pick(rng, -3, c.sH);
    return c;
  }
  const int adx = pick(rng, -5, c.dW - 1), ady = pick(rng, -2, c.dH - 1);
  c.w = pick(rng, 1, std::min({300, c.dW - adx, c.sW}));
  c.h = pick(rng, 1, std::min({12, c.dH - ady, c.sH}));
  int asx = pick(rng, 0, c.sW - c.w), asy = pick(rng, 0, c.sH - c.h);
  if (c.aliased) {  // a near neighbour of the destination, so that the two overlap
    asx = std::clamp(std::max(adx, 0) + pick(rng, -40, 40), 0, c.sW - c.w);
    asy = std::clamp(std::max(ady, 0) + pick(rng, -2, 2), 0, c.sH - c.h);
  }
  c.dX = adx - c.dXO;
  c.dY = ady - c.dYO;
  c.sX = asx - c.sXO;
  c.sY = asy - c.sYO;
  return c;
}

void run_case(IPState* state, const Case& c, std::mt19937& rng) {
  const bool withSource = monotest::ref_rop(c.t, 0, 0, 1) != monotest::ref_rop(c.t, 1, 0, 1) ||
                          monotest::ref_rop(c.t, 0, 1, 1) != monotest::ref_rop(c.t, 1, 1, 1);
  Buffer dst(c.dW, c.dH, c.depth, pick(rng, 0, 1), rng);
  Buffer other(c.sW, c.sH, c.depth, pick(rng, 0, 1), rng);
  Buffer* srcBuf = c.aliased ? &dst : (withSource ? &other : nullptr);
  const uint8_t* src = srcBuf ? srcBuf->bytes.data() : nullptr;
  const uint32_t sBpl = srcBuf ? srcBuf->bpl : 0;

  std::vector<uint8_t> expected = dst.bytes;
  const std::vector<uint8_t> srcBefore = other.bytes;
  RefRasterOp ref;
  ref.dst = expected.data();
  ref.dstBytesPerLine = dst.bpl;
  ref.dstX = c.dXO + c.dX;
  ref.dstY = c.dYO + c.dY;
  ref.width = c.w;
  ref.height = c.h;
  ref.depth = static_cast<unsigned>(c.depth);
  ref.truthTable = c.t;
  ref.src = srcBuf ? (c.aliased ? dst.bytes.data() : src) : nullptr;
  ref.srcBytesPerLine = sBpl;
  ref.srcX = c.sXO + c.sX;
  ref.srcY = c.sYO + c.sY;
  if (!withSource) ref.src = nullptr;
  std::vector<uint8_t> aliasedSource;
  if (c.aliased && withSource) {  // the reference reads its own copy of the aliased source
    aliasedSource = dst.bytes;
    ref.src = aliasedSource.data();
  }
  ref.keep = [&](long i, long j) {
    if (!c.clip) return ref.dstX + i >= 0 && ref.dstY + j >= 0;
    const long rx = c.dX + i, ry = c.dY + j, sx = c.sX + i, sy = c.sY + j;
    if (rx < 0 || ry < 0 || sx < 0 || sy < 0) return false;
    if (c.dXO + rx >= c.dW || c.dYO + ry >= c.dH) return false;
    return !srcBuf || (c.sXO + sx < c.sW && c.sYO + sy < c.sH);
  };
  monotest::ref_raster_op(ref);

  const RasterOpCode op = (c.t << 1) | (c.clip ? 0u : 1u);
  const VltStatus s = i_rasterOpFull(state, dst.bytes.data(), c.dW, c.dH, c.dXO, c.dYO, c.dX, c.dY,
                                     c.w, c.h, c.depth, dst.bpl, op, src, c.sW, c.sH, c.sX, c.sY,
                                     c.sXO, c.sYO, c.depth, sBpl);
  ASSERT_EQ(s, VLT_OK);
  const auto diff = std::mismatch(expected.begin(), expected.end(), dst.bytes.begin());
  ASSERT_TRUE(diff.first == expected.end())
      << "first wrong byte " << (diff.first - expected.begin()) << " (line "
      << (diff.first - expected.begin()) / dst.bpl << "): expected " << int(*diff.first) << " got "
      << int(*diff.second);
  if (!c.aliased) {
    ASSERT_EQ(other.bytes, srcBefore) << "source changed";
  }
}

class RasterOpDifferential : public testing::TestWithParam<int> {};

TEST_P(RasterOpDifferential, MatchesPerPixelReference) {
  const int depth = GetParam();
  TestState ts;
  std::mt19937 rng(0x5EED0000u + static_cast<unsigned>(depth));
  for (unsigned t = 0; t < 16; ++t) {
    for (int n = 0; n < 60; ++n) {
      const Case c = random_case(rng, depth, t);
      SCOPED_TRACE(testing::Message()
                   << "t=" << t << " clip=" << c.clip << " aliased=" << c.aliased << " dst "
                   << c.dW << "x" << c.dH << " off(" << c.dXO << "," << c.dYO << ") at (" << c.dX
                   << "," << c.dY << ") size " << c.w << "x" << c.h << " src " << c.sW << "x"
                   << c.sH << " off(" << c.sXO << "," << c.sYO << ") at (" << c.sX << "," << c.sY
                   << ")");
      run_case(ts.state, c, rng);
      if (HasFatalFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, RasterOpDifferential, testing::ValuesIn(kDepths));

// One line of 1-bit pixels, given as bits MSB first, for the small explicit cases.
std::vector<uint8_t> line_of(std::initializer_list<uint8_t> bytes) { return bytes; }

TEST(RasterOp, ArgumentRules) {
  TestState ts;
  std::vector<uint8_t> a(16, 0xA5), b(16, 0x3C);
  struct Row {
    const char* what;
    RasterOpCode op;
    int depth, srcDepth;
    int srcKind;  // 0 none, 1 another buffer, 2 the destination itself
    VltStatus expected;
  } rows[] = {
      {"source depth differs", IP_ROP_COPY, 4, 8, 1, VLT_ERR_DEPTH},
      {"depth 3", IP_ROP_COPY, 3, 3, 1, VLT_ERR_DEPTH},
      {"depth 3 without source", IP_ROP_SET, 3, 3, 0, VLT_ERR_DEPTH},
      {"depth 32", IP_ROP_XOR, 32, 32, 1, VLT_ERR_DEPTH},
      {"XOR without source", IP_ROP_XOR, 1, 1, 0, VLT_ERR_PARAM},
      {"NOT S without source", IP_ROP_NOT_S, 1, 1, 0, VLT_ERR_PARAM},
      {"set with another source", IP_ROP_SET, 1, 1, 1, VLT_ERR_PARAM},
      {"D with another source", IP_ROP_D, 1, 1, 1, VLT_ERR_PARAM},
      {"set with the destination as source", IP_ROP_SET, 1, 1, 2, VLT_OK},
      {"D changes nothing", IP_ROP_D, 8, 8, 0, VLT_OK},
      {"clear without source", IP_ROP_CLEAR, 2, 2, 0, VLT_OK},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<uint8_t> dst = a;
    const uint8_t* src = r.srcKind == 0 ? nullptr : r.srcKind == 1 ? b.data() : dst.data();
    const uint8_t* s = r.srcKind == 2 ? dst.data() : src;
    EXPECT_EQ(i_rasterOpFull(ts.state, dst.data(), 8, 4, 0, 0, 0, 0, 8, 4, r.depth, 4, r.op, s, 8, 4,
                             0, 0, 0, 0, r.srcDepth, 4),
              r.expected);
    if (r.expected != VLT_OK || r.op == IP_ROP_D) {
      EXPECT_EQ(dst, a);
    }
  }
  EXPECT_EQ(i_rasterOpFull(nullptr, a.data(), 8, 4, 0, 0, 0, 0, 8, 4, 1, 4, IP_ROP_SET, nullptr, 0,
                           0, 0, 0, 0, 0, 1, 0),
            VLT_ERR_NULL_IPWSTATE);
}

TEST(RasterOp, ClippingCases) {
  TestState ts;
  // Source: one line of 64 pixels, alternating bytes.
  const std::vector<uint8_t> src = line_of({0xF0, 0x0F, 0xAA, 0x55, 0xFF, 0x00, 0x81, 0x7E});
  struct Row {
    const char* what;
    RasterOpCode op;
    int dstX, width, dstXOffset;
    std::vector<uint8_t> expected;
  } rows[] = {
      // Copy at dstX -5 drops 5 pixels and takes the source from pixel 5 on.
      {"left clip", IP_ROP_COPY, -5, 16, 0, line_of({0x01, 0xE0, 0, 0, 0, 0, 0, 0})},
      // Without clipping, dstX + offset = -3 drops the first 3 pixels only.
      {"no clip, left edge", IP_ROP_COPY | IP_ROP_NOCLIP, -3, 11, 0, line_of({0x80, 0, 0, 0, 0, 0, 0, 0})},
      // Without clipping a rectangle is not shortened at the buffer width (here 40 pixels).
      {"no clip, right edge", IP_ROP_COPY | IP_ROP_NOCLIP, 32, 16, 0, line_of({0, 0, 0, 0, 0xF0, 0x0F, 0, 0})},
      {"clip at the right edge", IP_ROP_COPY, 32, 16, 0, line_of({0, 0, 0, 0, 0xF0, 0, 0, 0})},
      {"clipped to nothing", IP_ROP_SET, 40, 8, 0, line_of({0, 0, 0, 0, 0, 0, 0, 0})},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<uint8_t> dst(8, 0);
    const bool src_op = r.op != IP_ROP_SET;
    EXPECT_EQ(i_rasterOpFull(ts.state, dst.data(), 40, 1, r.dstXOffset, 0, r.dstX, 0, r.width, 1, 1,
                             8, r.op, src_op ? src.data() : nullptr, 64, 1, 0, 0, 0, 0, 1, 8),
              VLT_OK);
    EXPECT_EQ(dst, r.expected);
  }
}

TEST(RasterOp, SixteenBitsPerPixelCoversWholeWords) {
  TestState ts;
  std::vector<uint8_t> dst(12, 0);
  ASSERT_EQ(i_rasterOpFull(ts.state, dst.data(), 6, 1, 0, 0, 1, 0, 3, 1, 16, 12, IP_ROP_SET, nullptr,
                           0, 0, 0, 0, 0, 0, 16, 0),
            VLT_OK);
  EXPECT_EQ(dst, line_of({0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST(RasterOp, AllocationFailuresLeaveNothingBehind) {
  // The descriptor block, and for an overlapping copy also the source copy, can fail.
  for (bool overlap : {false, true}) {
    for (size_t k = 1; k <= (overlap ? 2u : 1u); ++k) {
      SCOPED_TRACE(testing::Message() << "overlap " << overlap << " failing allocation " << k);
      TestState ts;
      std::vector<uint8_t> buf(64, 0x5A);
      const std::vector<uint8_t> before = buf;
      ts.alloc.fail_at(k);
      EXPECT_EQ(i_rasterOpFull(ts.state, buf.data(), 64, 8, 0, 0, overlap ? 3 : 0, overlap ? 1 : 0,
                               40, 4, 1, 8, IP_ROP_XOR, buf.data(), 64, 8, 0, 0, 0, 0, 1, 8),
                VLT_ERR_NOMEM);
      EXPECT_EQ(buf, before);
      EXPECT_EQ(ts.alloc.live_blocks(), 2u);  // the state's own cache records
    }
  }
}

TEST(RasterOp, MissingCacheControlIsReported) {
  TestState ts;
  IPCacheControl* saved = ts.state->cacheControl;
  ts.state->cacheControl = nullptr;
  std::vector<uint8_t> buf(8, 0);
  EXPECT_EQ(i_rasterOpFull(ts.state, buf.data(), 32, 2, 0, 0, 0, 0, 32, 2, 1, 4, IP_ROP_SET, nullptr,
                           0, 0, 0, 0, 0, 0, 1, 0),
            VLT_ERR_NULL);
  ts.state->cacheControl = saved;
  EXPECT_EQ(ts.alloc.live_blocks(), 2u);
}

// The kernel choice: (row, slot) in the table for spans given in bits.
TEST(RasterOpTileState, KernelChoice) {
  TestState ts;
  alignas(4) uint8_t dst[64] = {}, src[64] = {};
  struct Row {
    const char* what;
    RasterOpCode op;
    uint32_t dstBit, srcBit, width;
    bool withSource;
    int row, slot;
    uint32_t leftShift, rightShift, leftMask, rightMask, middleWords;
  } rows[] = {
      {"copy 3 words unshifted", IP_ROP_COPY, 5, 5, 80, true, 12, 15, 0, 0, 0x07FFFFFF, 0xFFFFF800, 1},
      {"copy whole first word, left shift", IP_ROP_COPY, 0, 3, 64, true, 17, 9, 3, 29, 0xFFFFFFFF, 0xFFFFFFFF, 0},
      {"xor one word right shift", IP_ROP_XOR, 10, 4, 20, true, 6, 3, 26, 6, 0x003FFFFC, 0xFFFFFFFC, 0},
      {"one-word span", IP_ROP_AND, 3, 3, 10, true, 8, 1, 0, 0, 0x1FF80000, 0xFFF80000, 0},
      {"NOT S whole word", IP_ROP_NOT_S, 0, 0, 32, true, 16, 1, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0},
      {"copy whole word", IP_ROP_COPY, 0, 0, 32, true, 17, 1, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0},
      {"xor whole word keeps its row", IP_ROP_XOR, 0, 0, 32, true, 6, 1, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0},
      {"copy 3 words whole first word", IP_ROP_COPY, 0, 32, 96, true, 12, 15, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 1},
      {"copy 4 words", IP_ROP_COPY, 1, 1, 120, true, 12, 11, 0, 0, 0x7FFFFFFF, 0xFFFFFF80, 2},
      {"copy 4 words whole first", IP_ROP_COPY, 0, 0, 128, true, 17, 11, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 2},
      {"span ends on first bit", IP_ROP_OR, 31, 31, 2, true, 14, 6, 0, 0, 0x00000001, 0x80000000, 0},
      {"copy n-1 source words", IP_ROP_COPY, 20, 2, 60, true, 12, 10, 14, 18, 0x00000FFF, 0xFFFF0000, 1},
      {"or n+1 source words", IP_ROP_OR, 1, 30, 90, true, 14, 14, 29, 3, 0x7FFFFFFF, 0xFFFFFFE0, 1},
      {"clear one word", IP_ROP_CLEAR, 3, 0, 5, false, 0, 0, 0, 0, 0x1F000000, 0xFF000000, 0},
      {"set two words", IP_ROP_SET, 30, 0, 5, false, 15, 1, 0, 0, 0x00000003, 0xE0000000, 0},
      {"invert many words", IP_ROP_NOT_D, 0, 0, 200, false, 5, 2, 0, 0, 0xFFFFFFFF, 0xFF000000, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    RasterOpTileScratch scratch{};
    RasterOpTileState* st = &scratch.state;
    RasterOpKernel k = nullptr;
    uint32_t covered = 0;
    const uint32_t tile = ((r.dstBit & 31) + r.width + 31) & ~31u;
    ASSERT_EQ(ip_getRasterOpTileState(ts.state, dst, r.dstBit, r.width, tile, 8, r.op,
                                      r.withSource ? src : nullptr, r.srcBit, 8, sizeof scratch,
                                      &st, &k, &covered),
              VLT_OK);
    EXPECT_EQ(st, &scratch.state);
    EXPECT_EQ(covered, r.width);
    EXPECT_EQ(k, miRastOpRoutines[r.row][r.slot]);
    EXPECT_NE(k, nullptr);
    EXPECT_EQ(st->leftShift, r.leftShift);
    EXPECT_EQ(st->rightShift, r.rightShift);
    EXPECT_EQ(st->leftMask, r.leftMask);
    EXPECT_EQ(st->rightMask, r.rightMask);
    EXPECT_EQ(st->middleWords, r.middleWords);
    EXPECT_EQ(st->allocated, 0u);
    ASSERT_EQ(ip_releaseRasterOpTileState(ts.state, &st), VLT_OK);
    EXPECT_EQ(st, &scratch.state);
  }
}

TEST(RasterOpTileState, TableShape) {
  int filled = 0;
  for (const auto& row : miRastOpRoutines)
    for (RasterOpKernel k : row) filled += k != nullptr;
  EXPECT_EQ(filled, 206);
  for (RasterOpKernel k : miRastOpRoutines[10]) EXPECT_EQ(k, nullptr);
}

TEST(RasterOpTileState, RecordsAndFailures) {
  TestState ts;
  alignas(4) uint8_t buf[16] = {};
  RasterOpKernel k = nullptr;
  uint32_t covered = 0;
  RasterOpTileState* st = nullptr;
  // Misaligned destination is reported before a misaligned source.
  EXPECT_EQ(ip_getRasterOpTileState(ts.state, buf + 1, 0, 8, 32, 4, IP_ROP_COPY, buf + 2, 0, 4, 0,
                                    &st, &k, &covered),
            VLT_ERR_PARAM);
  EXPECT_EQ(ip_getRasterOpTileState(ts.state, buf, 0, 8, 32, 4, IP_ROP_COPY, buf + 2, 0, 4, 0, &st,
                                    &k, &covered),
            VLT_ERR_PARAM);
  EXPECT_EQ(st, nullptr);
  RasterOpTileState small{};
  RasterOpTileState* sp = &small;
  EXPECT_EQ(ip_getRasterOpTileState(ts.state, buf, 0, 8, 32, 4, IP_ROP_COPY, buf, 0, 4,
                                    sizeof(small) - 1, &sp, &k, &covered),
            VLT_ERR_OVERFLOW);
  // Without caller memory the record is allocated, released once, then the release is a no-op.
  ASSERT_EQ(ip_getRasterOpTileState(ts.state, buf, 0, 8, 32, 4, IP_ROP_COPY, buf, 0, 4, 0, &st, &k,
                                    &covered),
            VLT_OK);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->allocated, 1u);
  EXPECT_EQ(ts.alloc.live_blocks(), 3u);
  EXPECT_EQ(ip_releaseRasterOpTileState(ts.state, &st), VLT_OK);
  EXPECT_EQ(st, nullptr);
  EXPECT_EQ(ip_releaseRasterOpTileState(ts.state, &st), VLT_OK);
  ts.alloc.fail_at(1);
  EXPECT_EQ(ip_getRasterOpTileState(ts.state, buf, 0, 8, 32, 4, IP_ROP_COPY, buf, 0, 4, 0, &st, &k,
                                    &covered),
            VLT_ERR_NOMEM);
  EXPECT_EQ(st, nullptr);
}

TEST(RasterOpTileState, TileInfo) {
  alignas(4) uint8_t dst[64] = {}, src[64] = {};
  RasterOpTileInfo info{};
  ASSERT_EQ(ip_getRasterOpTileInfo(nullptr, dst, 35, 1, 10, 1, 16, IP_ROP_XOR, src, 3, 2, 8, &info), VLT_OK);
  EXPECT_EQ(info.dstFirstWord, dst + 16 + 4);
  EXPECT_EQ(info.dstWidthBits, 32u);
  EXPECT_EQ(info.srcFirstWord, src + 16);
  EXPECT_EQ(info.srcLeftPadBits, 32u);  // same bit of their words, yet different positions
  ASSERT_EQ(ip_getRasterOpTileInfo(nullptr, dst, 0, 0, 10, 1, 16, IP_ROP_SET, src, 0, 0, 8, &info), VLT_OK);
  EXPECT_EQ(info.srcFirstWord, nullptr);
  EXPECT_EQ(info.srcWidthBits, 0u);
  uint32_t handled = 7;
  EXPECT_EQ(ip_tryRasterOpInHardware(nullptr, dst, 0, 0, 1, 1, 4, IP_ROP_SET, nullptr, 0, 0, 0, &handled), VLT_OK);
  EXPECT_EQ(handled, 0u);
}

// Each buffer holds exactly the words of its span, so under AddressSanitizer any word read or
// written before or after a span is caught; the result is checked against the reference.
TEST(RasterOpKernels, TouchOnlyTheirSpans) {
  TestState ts;
  std::mt19937 rng(2024);
  for (unsigned t = 0; t < 16; ++t) {
    if (t == 10) continue;
    const bool withSource = ((t ^ (t >> 2)) & 3u) != 0;
    for (uint32_t dstBit = 0; dstBit < 64; dstBit += 7)
      for (uint32_t srcBit : {0u, 5u, 31u, 33u})
        for (uint32_t width : {1u, 2u, 27u, 32u, 40u, 64u, 65u, 97u, 130u}) {
          const uint32_t nD = (dstBit + width - 1) / 32 - dstBit / 32 + 1;
          const uint32_t nS = (srcBit + width - 1) / 32 - srcBit / 32 + 1;
          const uint32_t lines = 3;
          std::vector<uint8_t> dst(size_t{nD} * 4 * lines), src(size_t{nS} * 4 * lines);
          for (auto& b : dst) b = static_cast<uint8_t>(rng());
          for (auto& b : src) b = static_cast<uint8_t>(rng());
          std::vector<uint8_t> expected = dst;
          RefRasterOp ref;
          ref.dst = expected.data();
          ref.dstBytesPerLine = nD * 4;
          ref.dstX = dstBit % 32;
          ref.width = width;
          ref.height = lines;
          ref.truthTable = t;
          ref.src = withSource ? src.data() : nullptr;
          ref.srcBytesPerLine = nS * 4;
          ref.srcX = srcBit % 32;
          monotest::ref_raster_op(ref);
          const RasterOpCode op = (t << 1) | IP_ROP_NOCLIP;
          ASSERT_EQ(i_rasterOpFull(ts.state, dst.data(), 0, 0, 0, 0, static_cast<int32_t>(dstBit % 32), 0,
                                   static_cast<int32_t>(width), lines, 1, nD * 4, op,
                                   withSource ? src.data() : nullptr, 0, 0,
                                   static_cast<int32_t>(srcBit % 32), 0, 0, 0, 1, nS * 4),
                    VLT_OK);
          ASSERT_EQ(dst, expected) << "t " << t << " dst bit " << dstBit << " src bit " << srcBit
                                   << " width " << width;
        }
  }
}

TEST(RasterOpKernels, NoLinesChangesNothing) {
  alignas(4) uint8_t dst[16], src[16];
  std::fill(std::begin(dst), std::end(dst), 0x33);
  std::fill(std::begin(src), std::end(src), 0xCC);
  RasterOpTileState st{};
  st.leftMask = st.rightMask = ~0u;
  st.middleWords = 2;
  st.dstBytesPerLine = st.srcBytesPerLine = 16;
  for (const auto& row : miRastOpRoutines)
    for (RasterOpKernel k : row)
      if (k) {
        EXPECT_EQ(k(nullptr, src, dst, 0, &st), VLT_OK);
        EXPECT_EQ(k(nullptr, src, dst, -3, &st), VLT_OK);
      }
  for (uint8_t b : dst) EXPECT_EQ(b, 0x33);
}

}  // namespace
