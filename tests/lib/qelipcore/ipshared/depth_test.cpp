// Depth expansion, value maps and indexed colour, against naive per-pixel rules over random
// images of widths 1 to 100 with noise in the source frames and around the destination image.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "exptable.h"
#include "framed_image.h"
#include "grytable.h"
#include "i_depth.h"
#include "ip_test_state.h"

namespace {

using iptest::Framed;
using iptest::TestState;

int round_up(int v, int unit) { return (v + unit - 1) / unit * unit; }

// One conversion: the call, and the destination pixel at x (image pixels and the padding it
// writes past the width) given the source; positions it leaves alone keep their value.
struct Conversion {
  const char* name;
  int srcDepth, dstDepth;
  std::function<VltStatus(IPState*, const Framed&, Framed&)> call;
  // Pixels written past the width, counted from the width, and their value.
  std::function<int(int w)> writtenPast;
  std::function<uint32_t(const Framed& src, int x, int y)> pixel;
  std::function<uint32_t(const Framed& src, int x, int y)> past;
};

std::vector<Conversion> conversions() {
  static const uint8_t map16[16] = {7, 3, 15, 0, 1, 2, 9, 8, 14, 13, 12, 11, 10, 6, 5, 4};
  static const std::vector<uint8_t> map256 = [] {
    std::vector<uint8_t> m(256);
    std::mt19937 rng(4);
    for (uint8_t& v : m) v = static_cast<uint8_t>(rng());
    return m;
  }();
  static const std::vector<uint8_t> table4To8 = [] {
    std::vector<uint8_t> t(512);
    for (unsigned b = 0; b < 256; ++b) {
      t[2 * b] = static_cast<uint8_t>(255 - (b >> 4));  // any table of that shape will do
      t[2 * b + 1] = static_cast<uint8_t>(b & 15);
    }
    return t;
  }();
  const auto zero = [](const Framed&, int, int) { return 0u; };
  const auto fw = [](const Framed& s) { return s.fw(); };
  const auto fh = [](const Framed& s) { return s.fh(); };
  std::vector<Conversion> v;
  for (int invert : {0, 1, 2}) {
    const bool inv = invert == 1;
    v.push_back({"depth1To8", 1, 8,
                 [=](IPState* s, const Framed& src, Framed& dst) {
                   return i_depth1To8bpp(s, src.data(), fw(src), fh(src), src.bpl, dst.data(), dst.bpl, invert);
                 },
                 [](int w) { return round_up(w, 4) - w; },
                 [=](const Framed& src, int x, int y) { return (src.get(x, y) != 0) != inv ? 0xFFu : 0u; }, zero});
    v.push_back({"depth1To16", 1, 16,
                 [=](IPState* s, const Framed& src, Framed& dst) {
                   return i_depth1To16bpp(s, src.data(), fw(src), fh(src), src.bpl, dst.data(), dst.bpl, invert);
                 },
                 [](int w) { return round_up(w, 2) - w; },
                 [=](const Framed& src, int x, int y) { return (src.get(x, y) != 0) != inv ? 0xFFFFu : 0u; }, zero});
  }
  v.push_back({"map1To8", 1, 8,
               [](IPState* s, const Framed& src, Framed& dst) {
                 return i_map1To8bpp(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, 0x10A, 200);
               },
               [](int w) { return round_up(w, 4) - w; },
               [](const Framed& src, int x, int y) { return src.get(x, y) ? 200u : 0x0Au; }, zero});
  for (bool own : {true, false})
    v.push_back({"depth4To8", 4, 8,
                 [own](IPState* s, const Framed& src, Framed& dst) {
                   return i_depth4To8bpp(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl,
                                         own ? nullptr : table4To8.data());
                 },
                 [](int w) { return w % 2; },
                 [own](const Framed& src, int x, int y) {
                   const uint32_t b = src.get(x & ~1, y) << 4 | src.get(x | 1, y);
                   return own ? src.get(x, y) * 17 : uint32_t{table4To8[2 * b + (x & 1)]};
                 },
                 nullptr});
  v.back().past = v.back().pixel;  // an odd width expands the source frame nibble beside it
  v[v.size() - 2].past = v[v.size() - 2].pixel;
  v.push_back({"map4To4", 4, 4,
               [](IPState* s, const Framed& src, Framed& dst) {
                 return i_map4To4(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, map16);
               },
               [](int w) { return round_up(w, 8) - w + 32; },
               [](const Framed& src, int x, int y) { return uint32_t{map16[src.get(x, y)]}; }, zero});
  v.push_back({"map8To8", 8, 8,
               [](IPState* s, const Framed& src, Framed& dst) {
                 return i_map8To8(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, map256.data());
               },
               [](int w) { return round_up(w, 4) - w + 32; },
               [](const Framed& src, int x, int y) { return uint32_t{map256[src.get(x, y)]}; }, zero});
  return v;
}

TEST(DepthConversion, EveryMemberMatchesItsRuleAtEveryWidth) {
  uint32_t seed = 100;
  for (const Conversion& c : conversions()) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(++seed);
    for (int w = 1; w <= 100; ++w) {
      const int h = 1 + int(rng() % 3);
      Framed src(w, h, c.srcDepth, int(rng() % 2)), dst(w, h, c.dstDepth, int(rng() % 2));
      src.fill_noise(rng);
      dst.fill_noise(rng);
      const Framed before = dst;
      TestState ts;
      ASSERT_EQ(c.call(ts.state, src, dst), VLT_OK);
      const int past = c.writtenPast(w);
      const std::string diff = iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) -> uint32_t {
        if (y < 0 || y >= h || x < 0 || x >= w + past) return old;
        return x < w ? c.pixel(src, x, y) : c.past(src, x, y);
      });
      ASSERT_EQ(diff, "") << "width " << w << " height " << h;
    }
  }
}

TEST(DepthConversion, PublishedValues) {
  TestState ts;
  struct Case {
    int w, invert;
    uint8_t in;
    std::vector<uint8_t> out;  // destination bytes from the first image pixel
  };
  const Case cases[] = {{8, 0, 0xA0, {0xFF, 0, 0xFF, 0, 0, 0, 0, 0}},
                        {8, 1, 0xA0, {0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
                        {8, 2, 0xA0, {0xFF, 0, 0xFF, 0, 0, 0, 0, 0}},
                        {3, 0, 0xFF, {0xFF, 0xFF, 0xFF, 0, 0xEE, 0xEE, 0xEE, 0xEE}},
                        {5, 0, 0xFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}},
                        {3, 1, 0x00, {0xFF, 0xFF, 0xFF, 0, 0xEE, 0xEE, 0xEE, 0xEE}}};
  for (const Case& c : cases) {
    Framed src(c.w, 1, 1), dst(c.w, 1, 8);
    std::fill(dst.bytes.begin(), dst.bytes.end(), 0xEE);
    src.bytes[size_t(32 * src.bpl + 4)] = c.in;
    ASSERT_EQ(i_depth1To8bpp(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, c.invert), VLT_OK);
    const auto first = dst.bytes.begin() + 32 * dst.bpl + 32;
    EXPECT_EQ(std::vector<uint8_t>(first, first + 8), c.out) << "width " << c.w << " invert " << c.invert;
  }
  {
    Framed src(3, 1, 1), dst(3, 1, 16);
    std::fill(dst.bytes.begin(), dst.bytes.end(), 0xEE);
    src.bytes[size_t(32 * src.bpl + 4)] = 0xFF;
    ASSERT_EQ(i_depth1To16bpp(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, 0), VLT_OK);
    const auto first = dst.bytes.begin() + 32 * dst.bpl + 64;
    EXPECT_EQ(std::vector<uint8_t>(first, first + 10),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0xEE, 0xEE}));
  }
  {
    Framed src(6, 1, 1), dst(6, 1, 8);
    src.bytes[size_t(32 * src.bpl + 4)] = 0xF0;
    ASSERT_EQ(i_map1To8bpp(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, 10, 200), VLT_OK);
    const auto first = dst.bytes.begin() + 32 * dst.bpl + 32;
    EXPECT_EQ(std::vector<uint8_t>(first, first + 8), (std::vector<uint8_t>{200, 200, 200, 200, 10, 10, 0, 0}));
  }
  {
    Framed src(2, 1, 4), dst(2, 1, 8);
    src.set(0, 0, 3);
    src.set(1, 0, 15);
    ASSERT_EQ(i_depth4To8bpp(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, nullptr), VLT_OK);
    EXPECT_EQ(dst.get(0, 0), 0x33u);
    EXPECT_EQ(dst.get(1, 0), 0xFFu);
  }
  {
    uint8_t inverse[16];
    for (int v = 0; v < 16; ++v) inverse[v] = static_cast<uint8_t>(15 - v);
    Framed src(2, 1, 4), dst(2, 1, 4);
    src.set(0, 0, 0);
    src.set(1, 0, 15);
    ASSERT_EQ(i_map4To4(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, inverse), VLT_OK);
    EXPECT_EQ(dst.get(0, 0), 15u);
    EXPECT_EQ(dst.get(1, 0), 0u);
  }
}

// Map entries above 15 keep their low nibble; they never reach the neighbouring pixel.
TEST(DepthConversion, WideMapEntriesStayInTheirNibble) {
  uint8_t map16[16];
  for (int v = 0; v < 16; ++v) map16[v] = static_cast<uint8_t>(0xF0 | (v ^ 5));
  std::mt19937 rng(9);
  Framed src(21, 2, 4), dst(21, 2, 4);
  src.fill_image(rng);
  TestState ts;
  ASSERT_EQ(i_map4To4(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, map16), VLT_OK);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 21; ++x) ASSERT_EQ(dst.get(x, y), src.get(x, y) ^ 5) << x;
}

TEST(DepthConversion, EmptyImagesAndFailures) {
  std::mt19937 rng(10);
  for (const Conversion& c : conversions()) {
    SCOPED_TRACE(c.name);
    for (auto [w, h] : {std::pair{0, 2}, std::pair{-3, 2}, std::pair{2, 0}}) {
      Framed src(std::max(w, 0), std::max(h, 0), c.srcDepth), dst(std::max(w, 0), std::max(h, 0), c.dstDepth);
      src.w = w;
      src.h = h;
      dst.fill_noise(rng);
      const Framed before = dst;
      TestState ts;
      EXPECT_EQ(c.call(ts.state, src, dst), VLT_OK);
      EXPECT_EQ(dst.bytes, before.bytes);
    }
  }
  Framed src(9, 2, 1), dst(9, 2, 8);
  dst.fill_noise(rng);
  const Framed before = dst;
  TestState ts;
  ts.alloc.fail_at(1);
  EXPECT_EQ(i_map1To8bpp(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, 1, 2), VLT_ERR_NOMEM);
  EXPECT_EQ(i_map1To8bpp(nullptr, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, 1, 2), VLT_ERR_NOMEM);
  Framed src4(9, 2, 4), dst4(9, 2, 4);
  const uint8_t map16[16] = {};
  ts.alloc.fail_at(1);
  EXPECT_EQ(i_depth4To8bpp(ts.state, src4.data(), src4.fw(), src4.fh(), src4.bpl, dst.data(), dst.bpl, nullptr),
            VLT_ERR_NOMEM);
  ts.alloc.fail_at(1);
  EXPECT_EQ(i_map4To4(ts.state, src4.data(), src4.fw(), src4.fh(), src4.bpl, dst4.data(), dst4.bpl, map16), VLT_ERR_NOMEM);
  EXPECT_EQ(dst.bytes, before.bytes);
  EXPECT_EQ(dst4.bytes, Framed(9, 2, 4).bytes);
}

// --- Indexed colour -------------------------------------------------------------------------

VltStatus indexed(IPState* s, const Framed& a, const Framed& b, int depth, int value, int second, Framed& dst,
                  bool fourValue) {
  return fourValue ? i_fourValIndexedColorFromTwo1bppImages(s, a.data(), b.data(), a.fw(), a.fh(), a.bpl, b.bpl,
                                                            depth, value, second, dst.bpl, dst.data())
                   : i_indexedColorFromTwo1bppImages(s, a.data(), b.data(), a.fw(), a.fh(), a.bpl, b.bpl, depth,
                                                     value, dst.bpl, dst.data());
}

TEST(IndexedColor, MatchesTheRuleAtEveryWidthAndDepth) {
  std::mt19937 rng(31);
  for (int depth : {4, 8})
    for (bool fourValue : {false, true})
      for (int w = 1; w <= 100; ++w) {
        const int h = 1 + int(rng() % 3);
        const uint32_t max = (1u << depth) - 1;
        // Values beyond the low 8 bits are ignored; a second value of 0 gives the two-value image.
        const int value = int(rng() % (max + 1)) | (depth == 8 ? 0x300 : 0);
        const int second = w % 5 == 0 ? 0 : int(rng() % (max + 1));
        Framed a(w, h, 1, int(rng() % 2)), b(w, h, 1, int(rng() % 2)), dst(w, h, depth, int(rng() % 2));
        a.fill_noise(rng);
        b.fill_noise(rng);
        dst.fill_noise(rng);
        const Framed before = dst;
        TestState ts;
        ASSERT_EQ(indexed(ts.state, a, b, depth, value, second, dst, fourValue), VLT_OK);
        const int lastWordEnd = round_up(w, 32 / depth);
        const std::string diff = iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) -> uint32_t {
          if (y < 0 || y >= h || x < 0 || x >= lastWordEnd) return old;
          if (x >= w) return 0;
          const bool on = a.get(x, y), onB = b.get(x, y);
          if (on) return fourValue && onB ? uint32_t(second) : 0;
          return onB ? uint32_t(value) & 0xFF : max;
        });
        ASSERT_EQ(diff, "") << "depth " << depth << (fourValue ? " four" : " two") << " width " << w;
      }
}

TEST(IndexedColor, Failures) {
  Framed a(5, 2, 1), b(5, 2, 1), dst(5, 2, 4);
  std::mt19937 rng(3);
  dst.fill_noise(rng);
  const Framed before = dst;
  TestState ts;
  EXPECT_EQ(indexed(ts.state, a, b, 4, 16, 0, dst, false), VLT_ERR_PARAM);
  EXPECT_EQ(indexed(ts.state, a, b, 4, 15, 16, dst, true), VLT_ERR_PARAM);
  for (int depth : {1, 2, 16}) {
    EXPECT_EQ(indexed(ts.state, a, b, depth, 1, 0, dst, false), VLT_ERR_DEPTH);
    EXPECT_EQ(indexed(ts.state, a, b, depth, 1, 1, dst, true), VLT_ERR_DEPTH);
  }
  EXPECT_EQ(dst.bytes, before.bytes);
  Framed empty(0, 2, 1);
  EXPECT_EQ(indexed(ts.state, empty, empty, 3, 99, 0, dst, false), VLT_OK);
  EXPECT_EQ(dst.bytes, before.bytes);
}

TEST(IndexedColor, StoredTables) {
  EXPECT_EQ(binaryTo8bppTable[0], 0xFFFFFFFFu);
  EXPECT_EQ(binaryTo8bppTable[8], 0x00FFFFFFu);
  EXPECT_EQ(binaryTo8bppTable[15], 0u);
  EXPECT_EQ(binaryTo4bppTable[128], 0x0FFFFFFFu);
  EXPECT_EQ(binaryTo4bppTable[0x5A], 0xF0F00F0Fu);
  EXPECT_EQ(resultBits[0xA0][0], 0xFF);
  EXPECT_EQ(invertResultBits[0xA0][1], 0xFF);
  EXPECT_EQ(resultBits16[0x01][7], 0xFFFF);
}

}  // namespace
