// Dilation and erosion against a naive per-pixel reference.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "framed_image.h"
#include "i_dilate.h"
#include "ip_longops.h"
#include "ip_test_state.h"

namespace {

using iptest::Framed;
using iptest::TestState;

struct Element {
  int w, h, cx, cy;
  std::vector<uint8_t> cells;
  uint8_t at(int col, int row) const { return cells[size_t(row) * w + col]; }
};

// Pixels outside the image are OFF: a dilation brings nothing in, an erosion hit fails there
// and a miss holds. A 1 x 1 element copies (or inverts) wherever its centre is said to be.
uint32_t reference(bool dilate, const Framed& src, const Element& e, long x, long y) {
  const auto on = [&](long sx, long sy) { return src.in_image(sx, sy) && src.get(sx, sy) != 0; };
  bool any = false, result = !dilate;
  for (int row = 0; row < e.h; ++row)
    for (int col = 0; col < e.w; ++col) {
      const uint8_t v = e.at(col, row);
      const bool single = e.w == 1 && e.h == 1;
      const long ox = single ? 0 : col - e.cx, oy = single ? 0 : row - e.cy;
      if (dilate && v == 1) {
        any = true;
        result = result || on(x - ox, y - oy);
      } else if (!dilate && (v == 1 || v == 2)) {
        any = true;
        result = result && (on(x + ox, y + oy) == (v == 1));
      }
    }
  if (e.w == 1 && e.h == 1 && !any) return 2;  // destination left alone
  return result ? 1 : 0;
}

VltStatus run(bool dilate, IPState* s, Framed& dst, const Framed& src, const Element& e,
              const void* code = nullptr, const void* longCode = nullptr) {
  const auto f = dilate ? i_fastDilate : i_fastErode;
  return f(s, dst.data(), src.data(), code, longCode, src.fw(), src.fh(),
           static_cast<int32_t>(src.bpl), static_cast<int32_t>(dst.bpl), 0, 0, e.w, e.h, e.cx, e.cy,
           e.cells.data());
}

// The destination holds the reference inside the image and is unchanged everywhere else.
std::string check(bool dilate, const Framed& dst, const Framed& before,
                  const Framed& src, const Element& e) {
  return iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) {
    if (!dst.in_image(x, y)) return old;
    const uint32_t r = reference(dilate, src, e, x, y);
    return r == 2 ? old : r;
  });
}

TEST(FastDilateErode, RandomElementsMatchReference) {
  TestState ts;
  std::mt19937 rng(16);
  for (int trial = 0; trial < 120; ++trial) {
    const bool dilate = trial % 2 == 0;
    Element e;
    e.w = 1 + int(rng() % 7);
    e.h = 1 + int(rng() % 7);
    // Mostly inside the element, sometimes beyond it.
    e.cx = trial % 10 == 9 ? int(rng() % 11) - 2 : int(rng() % e.w);
    e.cy = trial % 10 == 9 ? int(rng() % 11) - 2 : int(rng() % e.h);
    const unsigned density = rng() % 4;  // from few cells that matter to all of them
    for (int i = 0; i < e.w * e.h; ++i) e.cells.push_back(uint8_t(rng() % 4 <= density ? 1 + rng() % 2 : rng() % 2 ? 0 : 3));
    const int W = 1 + int(rng() % 90), H = 1 + int(rng() % 40);
    Framed src(W, H, 1), dst(W, H, 1, int(rng() % 2));
    src.fill_noise(rng);  // frame noise must not leak in
    dst.fill_noise(rng);
    const Framed before = dst;
    ASSERT_EQ(run(dilate, ts.state, dst, src, e), VLT_OK);
    ASSERT_EQ(check(dilate, dst, before, src, e), "") << "trial " << trial << " " << W << "x" << H
                                                     << " element " << e.w << "x" << e.h;
  }
}

// Rectangles of hits, also worked as a row then a column through an intermediate image, give
// the same pixels with or without memory for it, and with the source as the destination.
TEST(FastDilateErode, RectanglesOfHits) {
  TestState ts;
  std::mt19937 rng(161);
  for (int trial = 0; trial < 48; ++trial) {
    const bool dilate = trial % 2 == 0;
    Element e;
    e.w = 1 + int(rng() % 7);
    e.h = 1 + int(rng() % 7);
    e.cx = trial % 6 == 5 ? int(rng() % 13) - 3 : int(rng() % e.w);
    e.cy = trial % 6 == 5 ? int(rng() % 13) - 3 : int(rng() % e.h);
    e.cells.assign(size_t(e.w * e.h), 1);
    const int W = 1 + int(rng() % 100), H = 1 + int(rng() % 30);
    Framed src(W, H, 1), dst(W, H, 1);
    src.fill_noise(rng);
    dst.fill_noise(rng);
    const Framed before = dst;
    const int mode = trial / 2 % 3;  // intermediate, no memory for it, source as destination
    if (mode == 1 && e.w > 1 && e.h > 1) ts.alloc.fail_at(1);  // the intermediate is the first
    Framed& target = mode == 2 ? src : dst;
    const Framed source = src;
    ASSERT_EQ(run(dilate, ts.state, target, src, e), VLT_OK) << trial;
    ts.alloc.fail_at(0);
    ASSERT_EQ(check(dilate, target, mode == 2 ? source : before, source, e), "")
        << "trial " << trial << " " << W << "x" << H << " element " << e.w << "x" << e.h << " centre " << e.cx
        << "," << e.cy;
  }
}

TEST(FastDilateErode, SmallElementCases) {
  TestState ts;
  const Element square{3, 3, 1, 1, std::vector<uint8_t>(9, 1)};
  const Element misses{3, 3, 1, 1, std::vector<uint8_t>(9, 2)};
  const Element noHit{2, 2, 0, 0, {0, 2, 3, 0}}, ignoredOnly{2, 2, 0, 0, {0, 3, 3, 0}};
  const Element one{1, 1, 0, 0, {1}}, oneMiss{1, 1, 0, 0, {2}}, oneNone{1, 1, 0, 0, {0}};
  struct Case {
    const char* name;
    bool dilate;
    const Element* e;
    std::vector<std::pair<int, int>> on;  // ON source pixels of a 12 x 10 image
    size_t expectedCount;                 // ON image pixels afterwards (dst starts all ON)
  };
  std::vector<std::pair<int, int>> block;
  for (int y = 2; y < 7; ++y)
    for (int x = 3; x < 8; ++x) block.push_back({x, y});
  const Case cases[] = {
      {"pixel grows to a square", true, &square, {{5, 5}}, 9},
      {"corner square is cut off", true, &square, {{0, 0}}, 4},
      {"erosion removes a pixel", false, &square, {{5, 5}}, 0},
      {"erosion keeps the inner 3x3", false, &square, block, 9},
      {"misses on blank give all ON", false, &misses, {}, 120},
      {"no hit clears", true, &noHit, {{5, 5}}, 0},
      {"no hit or miss sets", false, &ignoredOnly, {}, 120},
      {"1x1 copies", true, &one, {{5, 5}}, 1},
      {"1x1 miss inverts", false, &oneMiss, {{5, 5}}, 119},
      {"1x1 ignored cell writes nothing", true, &oneNone, {{5, 5}}, 120},
  };
  for (const Case& c : cases) {
    Framed src(12, 10, 1), dst(12, 10, 1);
    for (auto [x, y] : c.on) src.set(x, y, 1);
    for (long y = 0; y < 10; ++y)
      for (long x = 0; x < 12; ++x) dst.set(x, y, 1);
    const Framed before = dst;
    ASSERT_EQ(run(c.dilate, ts.state, dst, src, *c.e), VLT_OK) << c.name;
    size_t count = 0;
    for (long y = 0; y < 10; ++y)
      for (long x = 0; x < 12; ++x) count += dst.get(x, y);
    EXPECT_EQ(count, c.expectedCount) << c.name;
    EXPECT_EQ(check(c.dilate, dst, before, src, *c.e), "") << c.name;
  }
}

// The source may be the destination itself: the result is that of working from a copy.
TEST(FastDilateErode, SourceAsDestination) {
  TestState ts;
  const Element e{3, 2, 1, 0, {1, 1, 2, 0, 1, 1}};
  for (bool dilate : {true, false}) {
    Framed img(70, 20, 1);
    std::mt19937 rng(5);
    img.fill_image(rng, 0.4);
    const Framed src = img;
    ASSERT_EQ(run(dilate, ts.state, img, img, e), VLT_OK);
    EXPECT_EQ(check(dilate, img, src, src, e), "");
    // Without memory for the copy nothing is written.
    Framed again = src;
    ts.alloc.fail_at(1);
    EXPECT_EQ(run(dilate, ts.state, again, again, e), VLT_ERR_NOMEM);
    EXPECT_EQ(again.bytes, src.bytes);
  }
}

TEST(FastDilateErode, ArgumentsAndCode) {
  TestState ts;
  Framed src(40, 8, 1), dst(40, 8, 1);
  std::mt19937 rng(3);
  src.fill_image(rng);
  const Element e{2, 2, 0, 0, {1, 1, 1, 1}};
  const auto call = [&](bool dilate, int w, int h, int32_t srcBpl, int32_t dstBpl, const void* code,
                        const void* longCode) {
    const auto f = dilate ? i_fastDilate : i_fastErode;
    return f(ts.state, dst.data(), src.data(), code, longCode, src.fw(), src.fh(), srcBpl,
             dstBpl, 0, 0, w, h, 0, 0, e.cells.data());
  };
  const auto bpl = static_cast<int32_t>(src.bpl);
  for (bool dilate : {true, false}) {
    EXPECT_EQ(call(dilate, 0, 2, bpl, bpl, nullptr, nullptr), VLT_ERR_PARAM);
    EXPECT_EQ(call(dilate, 2, -1, bpl, bpl, nullptr, nullptr), VLT_ERR_PARAM);
    EXPECT_EQ(call(dilate, 2, 2, 0, bpl, nullptr, nullptr), VLT_ERR_PARAM);
    EXPECT_EQ(call(dilate, 2, 2, bpl, -4, nullptr, nullptr), VLT_ERR_PARAM);
    EXPECT_EQ(call(dilate, 2, 2, 4, bpl, nullptr, nullptr), VLT_ERR_PARAM);  // line shorter than the image
    // Long code on images laid out for 32-byte access (lines a multiple of 32 bytes, first
    // pixels on a 32-byte boundary) asks for its element parameters, which do not exist.
    const uint8_t fake = 0;
    std::vector<uint8_t> raw(64 * 72 * 2 + 64);
    uint8_t* aligned = raw.data() + (32 - reinterpret_cast<uintptr_t>(raw.data()) % 32) + 28;
    const auto f = dilate ? i_fastDilate : i_fastErode;
    const auto longCall = [&] {
      return f(ts.state, aligned, aligned + 64 * 72, nullptr, &fake, 104, 72, 64, 64, 0, 0, 2, 2, 0, 0,
               e.cells.data());
    };
    EXPECT_EQ(longCall(), VLT_ERR_NOT_IMPLEMENTED);
    ts.alloc.fail_at(1);
    EXPECT_EQ(longCall(), VLT_ERR_NOMEM);
    // The same code on buffers without that layout goes the raster-operation way.
    EXPECT_EQ(call(dilate, 2, 2, bpl, bpl, nullptr, &fake), VLT_OK);
    // Short code cannot be run here; the work is done all the same, never skipped.
    std::fill(dst.bytes.begin(), dst.bytes.end(), uint8_t{0xA5});
    const Framed before = dst;
    ASSERT_EQ(call(dilate, 2, 2, bpl, bpl, &fake, nullptr), VLT_OK);
    EXPECT_EQ(check(dilate, dst, before, src, e), "");
  }
  uint32_t size = 7;
  void* code = &size;
  int32_t step = 0;
  EXPECT_EQ(i_getDilateAsmSize(ts.state, 3, 3, 1, 1, &size), VLT_ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(size, 0u);
  size = 7;
  EXPECT_EQ(i_getLongErodeAsmSize(ts.state, 3, 3, 1, 1, &size), VLT_ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(size, 0u);
  size = 7;
  EXPECT_EQ(i_genErodeAsm(ts.state, 3, 3, 1, 1, e.cells.data(), &step, &code, &size), VLT_ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(code, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(ip_longOpIPLibLinked(ts.state), 0);
}

}  // namespace
