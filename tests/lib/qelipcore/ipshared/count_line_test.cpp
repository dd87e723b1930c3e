// Bit counting, the byte-order pass and line drawing.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "ip_supertile.h"
#include "ip_test_state.h"
#include "ref_rasterop.h"

namespace {

using iptest::TestState;
using monotest::ref_get_pixel;

constexpr int kDepths[] = {1, 2, 4, 8, 16};

uint32_t naive_count(const std::vector<uint8_t>& buf, uint32_t bpl, int x, int y, int w, int h, int d) {
  uint32_t n = 0;
  for (int j = y; j < y + h; ++j)
    for (long bit = long(x) * d; bit < long(x + w) * d; ++bit)
      n += (buf[size_t(j) * bpl + size_t(bit / 8)] >> (7 - bit % 8)) & 1;
  return n;
}

TEST(CountBits, RandomRectanglesMatchNaiveCount) {
  TestState ts;
  std::mt19937 rng(77);
  for (int d : kDepths)
    for (int n = 0; n < 200; ++n) {
      const int bufW = 1 + static_cast<int>(rng() % 300), bufH = 1 + static_cast<int>(rng() % 10);
      const uint32_t bpl = static_cast<uint32_t>((bufW * d + 31) / 32 * 4);
      std::vector<uint8_t> buf(size_t{bpl} * bufH);
      for (auto& b : buf) b = static_cast<uint8_t>(rng() & rng());
      const int x = static_cast<int>(rng() % bufW), y = static_cast<int>(rng() % bufH);
      const int w = static_cast<int>(rng() % (bufW - x + 1)), h = static_cast<int>(rng() % (bufH - y + 1));
      uint32_t count = 12345;
      ASSERT_EQ(i_countBits(ts.state, buf.data(), x, y, w, h, d, bpl, &count), VLT_OK);
      ASSERT_EQ(count, naive_count(buf, bpl, x, y, w, h, d))
          << "depth " << d << " rect " << x << "," << y << " " << w << "x" << h;
    }
}

TEST(CountBits, EdgeCases) {
  TestState ts;
  const std::vector<uint8_t> ones(8, 0xFF);
  const std::vector<uint8_t> bytes = {0xFF, 0x01, 0x00, 0x00};
  struct Row {
    const char* what;
    const std::vector<uint8_t>* buf;
    int x, w, h, d;
    uint32_t expected;
  } rows[] = {
      {"width 0", &ones, 0, 0, 5, 1, 0},
      {"height 0", &ones, 0, 10, 0, 1, 0},
      {"inside one word", &ones, 3, 5, 1, 1, 5},
      {"whole words", &ones, 0, 64, 1, 1, 64},
      {"bytes at depth 8", &bytes, 0, 2, 1, 8, 9},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    uint32_t count = 777;
    ASSERT_EQ(i_countBits(ts.state, r.buf->data(), r.x, 0, r.w, r.h, r.d, 8, &count), VLT_OK);
    EXPECT_EQ(count, r.expected);
  }
  uint32_t count = 777;
  EXPECT_EQ(i_countBits(ts.state, ones.data(), -1, 0, 4, 1, 1, 8, &count), VLT_ERR_PARAM);
  EXPECT_EQ(i_countBits(ts.state, ones.data(), 0, 0, 4, 1, 1, 8, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_countBits(nullptr, ones.data(), 0, 0, 4, 1, 1, 8, &count), VLT_ERR_NOMEM);
  for (size_t k : {1u, 2u}) {
    ts.alloc.fail_at(k);
    EXPECT_EQ(i_countBits(ts.state, ones.data(), 0, 0, 4, 1, 1, 8, &count), VLT_ERR_NOMEM);
    EXPECT_EQ(count, 777u);
    EXPECT_EQ(ts.alloc.live_blocks(), 2u);
  }
}

TEST(SuperTile, Walk) {
  TestState ts;
  SuperTileRequest req{};
  req.bytesPerUnit = 4;
  req.bitsPerUnit = 32;
  req.widthBits = 33;
  req.lines = req.linesPerTile = 3;
  req.bytesPerLine = 40000;
  static uint8_t image[4];
  req.firstWord = image;
  SuperTileTessellation tess{};
  ASSERT_EQ(ip_getSuperTileTessellation(ts.state, &req, &tess, 1), VLT_OK);
  EXPECT_EQ(tess.lineBytes, 8u);
  TileDescriptor desc{};
  struct Seen {
    int calls = 0;
    TileDescriptor d{};
    VltStatus result = VLT_OK;
  } seen;
  const SuperTileProc proc = [](IPState*, TileDescriptor* d, uint32_t, uint32_t, void* data) {
    auto* s = static_cast<Seen*>(data);
    ++s->calls;
    s->d = *d;
    return s->result;
  };
  EXPECT_EQ(ip_processSuperTiles_LRTB(ts.state, &tess, nullptr, 1, &desc, proc, &seen), VLT_ERR_NULL);
  EXPECT_EQ(seen.calls, 0);
  ASSERT_EQ(ip_processSuperTiles_LRTB(ts.state, &tess, ts.state->cacheControl, 1, &desc, proc, &seen), VLT_OK);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.d.bytesPerLine, 40000u);
  EXPECT_EQ(seen.d.lines, 3u);
  EXPECT_EQ(seen.d.firstWord, image);
  seen.result = VLT_ERR_CALLBACK;
  EXPECT_EQ(ip_processSuperTiles_LRTB(ts.state, &tess, ts.state->cacheControl, 1, &desc, proc, &seen),
            VLT_ERR_CALLBACK);
}

TEST(ByteOrderPass, LeavesEveryByteUnchanged) {
  TestState ts;
  std::mt19937 rng(3);
  std::vector<uint8_t> buf(8 * 5);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  const std::vector<uint8_t> before = buf;
  ASSERT_EQ(i_swapImageBytes(ts.state, buf.data(), 8, 33, 5, 1), VLT_OK);
  EXPECT_EQ(buf, before);
  ASSERT_EQ(i_swapImageBytes(ts.state, buf.data(), 8, 33, 0, 1), VLT_OK);
  EXPECT_EQ(i_swapImageBytes(ts.state, buf.data(), 8, 65, 5, 1), VLT_ERR_PARAM);  // wider than a line
  ts.alloc.fail_at(1);
  EXPECT_EQ(i_swapImageBytes(ts.state, buf.data(), 8, 33, 5, 1), VLT_ERR_NOMEM);

  IPLineProc proc = nullptr;
  ASSERT_EQ(ip_getByteSwapProc(ts.state, 1, 2, &proc), VLT_OK);
  EXPECT_EQ(proc, &ip_invertLine);
  ASSERT_EQ(ip_getByteSwapProc(ts.state, 0, 2, &proc), VLT_OK);
  EXPECT_EQ(proc, &ip_copyLine);
  const std::vector<uint8_t> low = {0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF};
  std::vector<uint8_t> out(8, 0x5A);
  ASSERT_EQ(ip_invertLine(ts.state, low.data(), out.data(), 2), VLT_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0}));
}

TEST(Lines, HorizontalSpans) {
  TestState ts;
  for (uint32_t value : {1u, 0u})
    for (int x0 = 0; x0 < 96; x0 += 5)
      for (int x1 = x0; x1 < 96; x1 += 7) {
        std::vector<uint8_t> line(12, value ? 0x00 : 0xFF);
        ASSERT_EQ(i_rasterHorizLine(ts.state, line.data(), x0, x1, value), VLT_OK);
        for (int x = 0; x < 96; ++x) {
          const bool in = x >= x0 && x <= x1;
          ASSERT_EQ(ref_get_pixel(line.data(), 12, x, 0, 1), (in == (value != 0)) ? 1u : 0u)
              << x0 << ".." << x1 << " at " << x;
        }
      }
  std::vector<uint8_t> word(4, 0xFF);
  ASSERT_EQ(i_rasterHorizLine(ts.state, word.data(), 0, 31, 0), VLT_OK);
  EXPECT_EQ(word, std::vector<uint8_t>(4, 0));
  ASSERT_EQ(i_rasterHorizLine(ts.state, word.data(), 9, 2, 1), VLT_OK);  // reversed ends
  EXPECT_EQ(word, (std::vector<uint8_t>{0x3F, 0xC0, 0, 0}));
}

// A framed 1..8-bit canvas: 20 x 10 image pixels in a 32-pixel frame.
struct Canvas {
  static constexpr int w = 20, h = 10, W = w + 64, H = h + 64;
  int d;
  uint32_t bpl;
  std::vector<uint8_t> buf;
  explicit Canvas(int depth) : d(depth), bpl(static_cast<uint32_t>((W * depth + 31) / 32 * 4)), buf(size_t{bpl} * H, 0) {}
  uint32_t at(int x, int y) const { return ref_get_pixel(buf.data(), bpl, x + 32, y + 32, static_cast<unsigned>(d)); }
  std::set<std::pair<int, int>> lit() const {
    std::set<std::pair<int, int>> s;
    for (int y = -32; y < h + 32; ++y)
      for (int x = -32; x < w + 32; ++x)
        if (at(x, y)) s.insert({x, y});
    return s;
  }
  VltStatus draw(IPState* st, int x0, int y0, int x1, int y1, uint32_t v) {
    return i_rasterLine(st, buf.data(), W, H, d, bpl, 32, 32, x0, y0, x1, y1, v);
  }
};

using Pixels = std::set<std::pair<int, int>>;

TEST(Lines, WorkedLines) {
  TestState ts;
  struct Row {
    const char* what;
    int x0, y0, x1, y1;
    Pixels expected;
  } rows[] = {
      {"shallow down", 0, 0, 4, 2, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
      {"same line reversed", 4, 2, 0, 0, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
      {"shallow up, tie along x", 0, 2, 4, 0, {{0, 2}, {1, 2}, {2, 1}, {3, 1}, {4, 0}}},
      {"45 degrees", 1, 1, 4, 4, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}},
      {"steep", 0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
      {"single point", 3, 3, 3, 3, {{3, 3}}},
      {"vertical", 2, 5, 2, 3, {{2, 3}, {2, 4}, {2, 5}}},
  };
  for (const Row& r : rows)
    for (int d : {1, 2, 4, 8}) {
      SCOPED_TRACE(testing::Message() << r.what << " depth " << d);
      Canvas c(d);
      ASSERT_EQ(c.draw(ts.state, r.x0, r.y0, r.x1, r.y1, 1), VLT_OK);
      EXPECT_EQ(c.lit(), r.expected);
      ASSERT_EQ(c.draw(ts.state, r.x0, r.y0, r.x1, r.y1, 0), VLT_OK);
      EXPECT_TRUE(c.lit().empty());
    }
}

TEST(Lines, RandomLinesAreConnectedAndComplete) {
  TestState ts;
  std::mt19937 rng(11);
  for (int d : {1, 2, 4, 8})
    for (int n = 0; n < 100; ++n) {
      Canvas c(d);
      const int x0 = static_cast<int>(rng() % Canvas::w), x1 = static_cast<int>(rng() % Canvas::w);
      const int y0 = static_cast<int>(rng() % Canvas::h), y1 = static_cast<int>(rng() % Canvas::h);
      const uint32_t v = 1u + static_cast<uint32_t>(rng() % ((1u << d) - 1u));
      ASSERT_EQ(c.draw(ts.state, x0, y0, x1, y1, v), VLT_OK);
      const Pixels p = c.lit();
      const int major = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
      ASSERT_EQ(p.size(), size_t(major + 1)) << x0 << "," << y0 << " " << x1 << "," << y1;
      EXPECT_TRUE(p.count({x0, y0}) && p.count({x1, y1}));
      for (const auto& [x, y] : p) {
        EXPECT_EQ(c.at(x, y), v);
        EXPECT_TRUE(x >= std::min(x0, x1) && x <= std::max(x0, x1));
        EXPECT_TRUE(y >= std::min(y0, y1) && y <= std::max(y0, y1));
      }
    }
}

TEST(Lines, ValuesAndBounds) {
  TestState ts;
  Canvas c(2);
  // A value wider than the depth is cut to it instead of spilling into the neighbours.
  ASSERT_EQ(c.draw(ts.state, 1, 1, 5, 3, 0xFF), VLT_OK);
  EXPECT_EQ(c.lit().size(), 5u);
  EXPECT_EQ(c.at(1, 1), 3u);
  EXPECT_EQ(c.draw(ts.state, 0, 0, 3, 1, 0xFF), VLT_OK);
  EXPECT_EQ(c.at(0, 0), 3u);
  EXPECT_EQ(c.at(-1, 0), 0u);
  Canvas deep(16);
  EXPECT_EQ(deep.draw(ts.state, 0, 0, 3, 1, 1), VLT_ERR_PARAM);
  Canvas one(1);
  EXPECT_EQ(one.draw(ts.state, -40, 0, 3, 1, 1), VLT_ERR_PARAM);
  EXPECT_EQ(one.draw(ts.state, 0, 0, 3, 60, 1), VLT_ERR_PARAM);
  EXPECT_TRUE(one.lit().empty());
  // Straight 1-bit lines are clipped: from the image origin to the framed buffer's edge.
  ASSERT_EQ(one.draw(ts.state, -40, 2, 100, 2, 1), VLT_OK);
  EXPECT_EQ(one.lit().size(), size_t(Canvas::W - 32));
  Canvas four(4);
  EXPECT_EQ(four.draw(ts.state, -40, 2, 100, 2, 1), VLT_ERR_PARAM);
}

}  // namespace
