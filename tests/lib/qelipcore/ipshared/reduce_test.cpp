// Binary reduction by 2, 4, 8 and 16 against a naive per-pixel cascade.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "i_reduce.h"
#include "ip_test_state.h"
#include "ref_bitmap.h"
#include "ref_reduce.h"
#include "sanitizer_size.h"

namespace {

using iptest::TestState;
using monotest::RefBitmap;

// An unframed 1-bit buffer with lines a multiple of 4 bytes; bits outside the image are noise
// unless cleared.
struct Buffer {
  int32_t width, height, bpl;
  std::vector<uint8_t> bytes;
  Buffer(int32_t w, int32_t h, int32_t extraWords, uint32_t noiseSeed)
      : width(w), height(h), bpl(4 * ((w + 31) / 32 + extraWords)), bytes(size_t(bpl) * h) {
    std::mt19937 rng(noiseSeed);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(noiseSeed ? rng() : 0);
  }
  int get(int x, int y) const { return bytes[size_t(y) * bpl + x / 8] >> (7 - x % 8) & 1; }
  void set(int x, int y, int v) {
    uint8_t& b = bytes[size_t(y) * bpl + x / 8];
    b = static_cast<uint8_t>(v ? b | 0x80 >> (x % 8) : b & ~(0x80 >> (x % 8)));
  }
  RefBitmap image(int w, int h) const {
    RefBitmap bm(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bm.set(x, y, get(x, y));
    return bm;
  }
};

VltStatus reduce(IPState* s, int factor, Buffer& dst, const Buffer& src, const std::vector<int>& t) {
  switch (factor) {
    case 2:
      return i_ioReduce2(s, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width,
                         src.bpl, t[0]);
    case 4:
      return i_ioReduce4(s, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width,
                         src.height, src.bpl, t[0], t[1]);
    case 8:
      return i_ioReduce8(s, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width,
                         src.height, src.bpl, t[0], t[1], t[2]);
    default:
      return i_ioReduce16(s, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width,
                          src.height, src.bpl, t[0], t[1], t[2], t[3]);
  }
}

// The destination after a correct reduction: the image, zeros after it up to the end of the
// word holding its last pixel, and every other byte as it was.
std::string check_destination(const Buffer& before, const Buffer& after, const RefBitmap& want) {
  const int lastWordEnd = 32 * ((want.width + 31) / 32);
  for (int y = 0; y < after.height; ++y)
    for (int x = 0; x < 8 * after.bpl; ++x) {
      int expected = before.get(x, y);
      if (y < want.height && x < lastWordEnd) expected = x < want.width ? want.get(x, y) : 0;
      if (after.get(x, y) != expected)
        return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
               std::to_string(after.get(x, y));
    }
  return {};
}

TEST(Reduce, TwoByTwoBlockThresholds) {
  struct Case { std::vector<std::pair<int, int>> on; std::vector<int> onFor; };
  const Case cases[] = {{{{0, 0}, {1, 1}}, {1, 2}},
                        {{{1, 0}, {0, 1}}, {1, 2}},
                        {{{0, 0}, {1, 0}, {0, 1}}, {1, 2, 3}},
                        {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {1, 2, 3, 4}},
                        {{{1, 1}}, {1}},
                        {{}, {}}};
  for (const Case& c : cases)
    for (int t = 1; t <= 4; ++t) {
      TestState ts;
      Buffer src(2, 2, 0, 0), dst(1, 1, 0, 0);
      for (auto [x, y] : c.on) src.set(x, y, 1);
      ASSERT_EQ(i_ioReduce2(ts.state, dst.bytes.data(), 1, 1, 4, src.bytes.data(), 2, 4, t), VLT_OK);
      const bool on = std::find(c.onFor.begin(), c.onFor.end(), t) != c.onFor.end();
      EXPECT_EQ(dst.get(0, 0), on ? 1 : 0) << "threshold " << t << ", " << c.on.size() << " ON";
    }
}

// Every factor with every threshold combination on random images of odd sizes, noise in the
// source's columns and lines beyond what counts and in the destination around the image.
TEST(Reduce, EveryFactorAndThresholdMatchesTheNaiveCascade) {
  std::mt19937 rng(99);
  for (int factor : {2, 4, 8, 16}) {
    const int steps = factor == 2 ? 1 : factor == 4 ? 2 : factor == 8 ? 3 : 4;
    int combos = 1;
    for (int i = 0; i < steps; ++i) combos *= 4;
    for (int combo = 0; combo < combos; ++combo) {
      std::vector<int> t;
      for (int i = 0, c = combo; i < steps; ++i, c /= 4) t.push_back(1 + c % 4);
      for (int rep = 0; rep < (factor == 16 ? 1 : 3); ++rep) {
        const int dw = 1 + static_cast<int>(rng() % (factor == 16 ? monotest::sanitizer_sized(40, 12)
                                                                   : monotest::sanitizer_sized(70, 20)));
        const int dh = 1 + static_cast<int>(rng() % 6);
        const int sw = factor * dw + static_cast<int>(rng() % (2 * factor));
        const int sh = factor * dh + static_cast<int>(rng() % 3 == 0 ? rng() % factor : 0);
        Buffer src(sw, sh, static_cast<int32_t>(rng() % 2), static_cast<uint32_t>(rng()) | 1);
        // Sparse, dense and balanced pictures, so every threshold decides somewhere.
        const double density = (rep % 3 == 0) ? 0.15 : (rep % 3 == 1) ? 0.85 : 0.5;
        const RefBitmap pic = monotest::make_noise(sw, sh, density, static_cast<uint32_t>(rng()));
        for (int y = 0; y < sh; ++y)
          for (int x = 0; x < sw; ++x) src.set(x, y, pic.get(x, y));
        Buffer dst(dw, dh + 1, static_cast<int32_t>(rng() % 2), static_cast<uint32_t>(rng()) | 1);
        const Buffer before = dst;
        Buffer call = dst;
        call.height = dh;
        TestState ts;
        ASSERT_EQ(reduce(ts.state, factor, call, src, t), VLT_OK);
        const RefBitmap want = monotest::reduce_cascade_naive(src.image(factor * dw, factor * dh), t);
        Buffer after = before;
        after.bytes = call.bytes;
        const std::string diff = check_destination(before, after, want);
        ASSERT_EQ(diff, "") << "factor " << factor << " thresholds " << t[0] << (steps > 1 ? t[1] : 0)
                            << (steps > 2 ? t[2] : 0) << (steps > 3 ? t[3] : 0) << " dst " << dw << "x" << dh
                            << " src " << sw << "x" << sh;
      }
    }
  }
}

TEST(Reduce, FramedEntryPointsWorkOnTheInterior) {
  std::mt19937 rng(5);
  for (int factor : {2, 4, 8, 16}) {
    const int dw = 33, dh = 3;
    const int sw = factor * dw + 3, sh = factor * dh + 1;
    Buffer src(sw + 64, sh + 64, 0, 77);  // noise in the frame too
    const RefBitmap pic = monotest::make_noise(sw, sh, 0.5, 11);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) src.set(x + 32, y + 32, pic.get(x, y));
    Buffer dst(dw + 64, dh + 64, 0, 78);
    const Buffer before = dst;
    TestState ts;
    const std::vector<int> t = {1, 2, 3, 4};
    VltStatus s;
    switch (factor) {
      case 2: s = i_reduce2(ts.state, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.bpl, 2); break;
      case 4: s = i_reduce4(ts.state, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width, src.height, src.bpl, 1, 2); break;
      case 8: s = i_reduce8(ts.state, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width, src.height, src.bpl, 1, 1, 1); break;
      default: s = i_reduce16(ts.state, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width, src.height, src.bpl, 4, 4, 4, 4); break;
    }
    ASSERT_EQ(s, VLT_OK);
    const std::vector<int> used = factor == 2   ? std::vector<int>{2}
                                  : factor == 4 ? std::vector<int>{1, 2}
                                  : factor == 8 ? std::vector<int>{1, 1, 1}
                                                : std::vector<int>{4, 4, 4, 4};
    const RefBitmap want = monotest::reduce_cascade_naive(pic, used);
    const int lastWordEnd = 32 + 32 * ((dw + 31) / 32);
    for (int y = 0; y < dst.height; ++y)
      for (int x = 0; x < 8 * dst.bpl; ++x) {
        int expected = before.get(x, y);
        if (y >= 32 && y < 32 + dh && x >= 32 && x < lastWordEnd) expected = x < 32 + dw ? want.get(x - 32, y - 32) : 0;
        ASSERT_EQ(dst.get(x, y), expected) << "factor " << factor << " at " << x << "," << y;
      }
  }
}

TEST(Reduce, EmptyDestinationAllocatesNothing) {
  Buffer src(64, 64, 0, 3);
  Buffer dst(32, 4, 0, 4);
  const Buffer before = dst;
  for (auto [w, h] : {std::pair{0, 2}, std::pair{2, 0}, std::pair{-1, 2}, std::pair{2, -3}})
    for (int factor : {2, 4, 8, 16})
      for (const std::vector<int>& t : {std::vector<int>{1, 1, 1, 1}, std::vector<int>{2, 3, 1, 4}}) {
        TestState ts;
        const size_t allocations = ts.alloc.allocations();
        Buffer call = dst;
        call.width = w;
        call.height = h;
        EXPECT_EQ(reduce(ts.state, factor, call, src, t), VLT_OK);
        EXPECT_EQ(ts.alloc.allocations(), allocations);
        EXPECT_EQ(call.bytes, before.bytes);
      }
  // A framed destination that is all frame.
  TestState ts;
  Buffer framed(64, 70, 0, 4);
  const Buffer framedBefore = framed;
  EXPECT_EQ(i_reduce2(ts.state, framed.bytes.data(), 64, 70, framed.bpl, src.bytes.data(), src.bpl, 1), VLT_OK);
  EXPECT_EQ(i_reduce8(ts.state, framed.bytes.data(), 70, 64, framed.bpl, src.bytes.data(), 64, 64, src.bpl, 1, 2, 3),
            VLT_OK);
  EXPECT_EQ(framed.bytes, framedBefore.bytes);
  EXPECT_EQ(ts.alloc.allocations(), 2u);  // the state's own records
}

// Every allocation of a reduction failing in turn: status 1, the destination unchanged, and
// nothing left allocated (checked when each state goes).
TEST(Reduce, AllocationFailuresLeaveTheDestinationUnchanged) {
  const Buffer src = [] {
    Buffer b(16 * 40, 16 * 3, 0, 0);
    const RefBitmap pic = monotest::make_noise(b.width, b.height, 0.5, 21);
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x) b.set(x, y, pic.get(x, y));
    return b;
  }();
  for (const std::vector<int>& t : {std::vector<int>{2}, std::vector<int>{1, 3}, std::vector<int>{1, 1, 4},
                                    std::vector<int>{2, 2, 3, 3}, std::vector<int>{4, 4, 4}}) {
    const int factor = 1 << t.size();
    for (size_t k = 1;; ++k) {
      TestState ts;
      Buffer dst(40 * 16 / factor, 3 * 16 / factor, 0, 9);
      const Buffer before = dst;
      ts.alloc.fail_at(k);
      const VltStatus s = reduce(ts.state, factor, dst, src, t);
      if (ts.alloc.failures() == 0) {
        EXPECT_EQ(s, VLT_OK);
        EXPECT_GT(k, 1u);
        break;
      }
      EXPECT_EQ(s, VLT_ERR_NOMEM) << "factor " << factor << " allocation " << k;
      EXPECT_EQ(dst.bytes, before.bytes) << "factor " << factor << " allocation " << k;
    }
  }
}

TEST(Reduce, NullStateIsRefused) {
  Buffer src(64, 64, 0, 3), dst(32, 32, 0, 4);
  EXPECT_EQ(reduce(nullptr, 2, dst, src, {1}), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(reduce(nullptr, 4, dst, src, {1, 2}), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(reduce(nullptr, 16, dst, src, {1, 1, 1, 1}), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(ip_longOpScaleLibLinked(nullptr), 0);
}

}  // namespace
