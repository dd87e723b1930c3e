// Thresholding to fewer bits per pixel, high-pass and band-pass binarization and per-pixel
// threshold binarization, against naive per-pixel rules over random images of widths 1 to 100
// with noise in the source frames and around the destination image.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <vector>

#include "bintable.h"
#include "framed_image.h"
#include "i_thresh.h"
#include "ip_test_state.h"

namespace {

using iptest::Framed;
using iptest::TestState;

using FillSet = VltStatus (*)(IPState*, uint32_t*, uint32_t*, uint32_t*, uint32_t*);

// A table set filled by a binarization-table filler (the single 4-to-2 table in t[0]).
struct TableSet {
  std::array<std::vector<uint32_t>, 4> t;
  explicit TableSet(FillSet fill) {
    for (auto& v : t) v.assign(256, 0);
    EXPECT_EQ(fill(nullptr, t[0].data(), t[1].data(), t[2].data(), t[3].data()), VLT_OK);
  }
  explicit TableSet(VltStatus (*fill1)(IPState*, uint32_t*)) {
    for (auto& v : t) v.assign(256, 0);
    EXPECT_EQ(fill1(nullptr, t[0].data()), VLT_OK);
  }
  const uint32_t* operator[](int k) const { return t[size_t(k)].data(); }
};

// One call: the state, source, destination and the tables to pass (null: the call makes them).
using Call = std::function<VltStatus(IPState*, const Framed&, Framed&, const TableSet*)>;

// What a call leaves in the destination: the rule inside the width; past it, in the last
// written word, either the rule applied to the source frame pixels that share the last source
// word (0 past that word), or 0 through the whole right frame for the members that clear it.
struct Expectation {
  int srcDepth, dstDepth;
  bool clearsRightFrame;
  std::function<uint32_t(uint32_t)> rule;
};

std::string check(const Expectation& e, const Framed& src, const Framed& before, const Framed& after) {
  const int w = src.w;
  const int perDst = 32 / e.dstDepth, perSrc = 32 / e.srcDepth;
  const int lastWordEnd = ((w - 1) / perDst + 1) * perDst;
  const int lastSrcWordEnd = ((w - 1) / perSrc + 1) * perSrc;
  return iptest::compare_all(before, after, [&](int x, int y, uint32_t old) -> uint32_t {
    if (y < 0 || y >= src.h || x < 0) return old;
    if (x < w) return e.rule(src.get(x, y));
    if (e.clearsRightFrame) return x < lastWordEnd + perDst * e.dstDepth ? 0 : old;
    if (x >= lastWordEnd) return old;
    return x < lastSrcWordEnd ? e.rule(src.get(x, y)) : 0;
  });
}

// Runs the call on random images of every width from 1 to 100 (and random heights), with and
// without caller tables.
void sweep(const Expectation& e, const Call& call, const TableSet* tables, uint32_t seed, int widthStep = 1) {
  std::mt19937 rng(seed);
  for (int w = 1; w <= 100; w += widthStep) {
    const int h = 1 + static_cast<int>(rng() % 3);
    Framed src(w, h, e.srcDepth, static_cast<int>(rng() % 2));
    src.fill_noise(rng);
    Framed dst(w, h, e.dstDepth, static_cast<int>(rng() % 2));
    dst.fill_noise(rng);
    const Framed before = dst;
    TestState ts;
    ASSERT_EQ(call(ts.state, src, dst, tables), VLT_OK) << "width " << w;
    const std::string diff = check(e, src, before, dst);
    ASSERT_EQ(diff, "") << "width " << w << " height " << h;
  }
}

struct Member {
  const char* name;
  Expectation expect;
  Call call;
  std::function<TableSet()> tables;  // the set the member makes for itself
};

template <class Fn>
Call four(Fn fn) {
  return [fn](IPState* s, const Framed& src, Framed& dst, const TableSet* t) {
    return fn(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, t ? (*t)[0] : nullptr,
              t ? (*t)[1] : nullptr, t ? (*t)[2] : nullptr, t ? (*t)[3] : nullptr);
  };
}

std::vector<Member> threshold_members() {
  return {
      {"threshold", {8, 1, false, [](uint32_t v) { return uint32_t(v >= 128); }}, four(i_threshold),
       [] { return TableSet(i_fillBinarizationTables); }},
      {"thresholdI", {8, 1, true, [](uint32_t v) { return uint32_t(v < 128); }}, four(i_thresholdI),
       [] { return TableSet(i_fillInvBinarizationTables); }},
      {"threshold4To1", {4, 1, false, [](uint32_t v) { return uint32_t(v >= 8); }}, four(i_threshold4To1bpp),
       [] { return TableSet(i_fill4To1BinarizationTables); }},
      {"thresholdI4To1", {4, 1, true, [](uint32_t v) { return uint32_t(v < 8); }}, four(i_thresholdI4To1bpp),
       [] { return TableSet(i_fill4To1InvBinarizationTables); }},
      {"threshold2To1", {2, 1, false, [](uint32_t v) { return uint32_t(v >= 2); }}, four(i_threshold2To1bpp),
       [] { return TableSet(i_fill2To1BinarizationTables); }},
      {"thresholdI2To1", {2, 1, true, [](uint32_t v) { return uint32_t(v < 2); }}, four(i_thresholdI2To1bpp),
       [] { return TableSet(i_fill2To1InvBinarizationTables); }},
      {"thresholdTo2", {8, 2, false, [](uint32_t v) { return v >> 6; }}, four(i_thresholdTo2bpp),
       [] { return TableSet(i_fill2bppBinarizationTables); }},
      {"threshold4To2", {4, 2, false, [](uint32_t v) { return v >> 2; }},
       [](IPState* s, const Framed& src, Framed& dst, const TableSet* t) {
         return i_threshold4To2bpp(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl,
                                   t ? (*t)[0] : nullptr);
       },
       [] { return TableSet(i_fill4To2bppBinarizationTable); }},
      {"threshold8To4", {8, 4, false, [](uint32_t v) { return v >> 4; }},
       [](IPState* s, const Framed& src, Framed& dst, const TableSet*) {
         return i_threshold8To4bpp(s, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl);
       },
       nullptr},
  };
}

TEST(Threshold, EveryMemberMatchesItsRuleAtEveryWidth) {
  uint32_t seed = 1;
  for (const Member& m : threshold_members()) {
    SCOPED_TRACE(m.name);
    sweep(m.expect, m.call, nullptr, ++seed);
    if (m.tables) {
      const TableSet t = m.tables();
      sweep(m.expect, m.call, &t, ++seed, 7);
    }
  }
}

TEST(Threshold, PublishedValues) {
  struct Case {
    int member;  // index into threshold_members()
    std::vector<uint32_t> in, out;
  };
  const Case cases[] = {{0, {127, 128, 0, 255}, {0, 1, 0, 1}},
                        {1, {127, 128, 0, 255}, {1, 0, 1, 0}},
                        {7, {0, 3, 4, 15}, {0, 0, 1, 3}},
                        {6, {63, 64, 191, 192}, {0, 1, 2, 3}},
                        {8, {0x0F, 0x10, 0xF0, 0xFF}, {0, 1, 15, 15}}};
  const std::vector<Member> members = threshold_members();
  for (const Case& c : cases) {
    const Member& m = members[size_t(c.member)];
    Framed src(4, 1, m.expect.srcDepth), dst(4, 1, m.expect.dstDepth);
    for (int x = 0; x < 4; ++x) src.set(x, 0, c.in[size_t(x)]);
    TestState ts;
    ASSERT_EQ(m.call(ts.state, src, dst, nullptr), VLT_OK);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.get(x, 0), c.out[size_t(x)]) << m.name << " pixel " << x;
  }
}

// The inverted members with plain tables give the plain image, then still clear the frame.
TEST(Threshold, CallerTablesDecideThePolarity) {
  std::mt19937 rng(3);
  Framed src(45, 2, 8);
  src.fill_noise(rng);
  Framed dst(45, 2, 1);
  dst.fill_noise(rng);
  const Framed before = dst;
  const TableSet plain(i_fillBinarizationTables);
  TestState ts;
  ASSERT_EQ(i_thresholdI(ts.state, src.data(), src.fw(), src.fh(), src.bpl, dst.data(), dst.bpl, plain[0], plain[1],
                         plain[2], plain[3]),
            VLT_OK);
  EXPECT_EQ(check({8, 1, true, [](uint32_t v) { return uint32_t(v >= 128); }}, src, before, dst), "");
}

TEST(Threshold, EmptyImagesAndFailures) {
  for (const Member& m : threshold_members()) {
    SCOPED_TRACE(m.name);
    std::mt19937 rng(8);
    // A framed width of 64: nothing allocated or written. A framed height of 64: the tables
    // are made and released, nothing written.
    for (auto [w, h] : {std::pair{0, 3}, std::pair{5, 0}}) {
      Framed src(w, h, m.expect.srcDepth), dst(w, h, m.expect.dstDepth);
      dst.fill_noise(rng);
      const Framed before = dst;
      TestState ts;
      const size_t base = ts.alloc.allocations();
      EXPECT_EQ(m.call(ts.state, src, dst, nullptr), VLT_OK);
      EXPECT_EQ(dst.bytes, before.bytes);
      if (w == 0 || !m.tables) {
        EXPECT_EQ(ts.alloc.allocations(), base);
      }
    }
    if (!m.tables) continue;
    Framed src(40, 2, m.expect.srcDepth), dst(40, 2, m.expect.dstDepth);
    src.fill_noise(rng);
    dst.fill_noise(rng);
    const Framed before = dst;
    // A null state cannot make tables.
    EXPECT_EQ(m.call(nullptr, src, dst, nullptr), VLT_ERR_NOMEM);
    EXPECT_EQ(dst.bytes, before.bytes);
    // Each table allocation failing in turn: status 1, nothing written, nothing left held.
    const int tables = std::string(m.name) == "threshold4To2" ? 1 : 4;
    for (int k = 1; k <= tables; ++k) {
      TestState ts;
      ts.alloc.fail_at(size_t(k));
      EXPECT_EQ(m.call(ts.state, src, dst, nullptr), VLT_ERR_NOMEM) << "allocation " << k;
      EXPECT_EQ(dst.bytes, before.bytes);
    }
  }
}

// --- High-pass and band-pass binarization ---------------------------------------------------

struct Filter {
  const char* name;
  int srcDepth;
  bool inverted, clears;
  bool band;
  std::function<VltStatus(IPState*, const Framed&, int, int, Framed&, const TableSet*)> call;
};

template <class Fn>
auto high(Fn fn) {
  return [fn](IPState* s, const Framed& src, int t, int, Framed& dst, const TableSet* k) {
    return fn(s, src.data(), src.fw(), src.fh(), src.bpl, t, dst.data(), dst.bpl, k ? (*k)[0] : nullptr,
              k ? (*k)[1] : nullptr, k ? (*k)[2] : nullptr, k ? (*k)[3] : nullptr);
  };
}
template <class Fn>
auto band(Fn fn) {
  return [fn](IPState* s, const Framed& src, int low, int highBound, Framed& dst, const TableSet* k) {
    return fn(s, src.data(), src.fw(), src.fh(), src.bpl, low, highBound, dst.data(), dst.bpl, k ? (*k)[0] : nullptr,
              k ? (*k)[1] : nullptr, k ? (*k)[2] : nullptr, k ? (*k)[3] : nullptr);
  };
}

const Filter kFilters[] = {
    {"highpassfilt", 8, false, false, false, high(i_highpassfilt)},
    {"highpassfiltI", 8, true, true, false, high(i_highpassfiltI)},
    {"highpassfilt4To1", 4, false, false, false, high(i_highpassfilt4To1bpp)},
    {"highpassfiltI4To1", 4, true, true, false, high(i_highpassfiltI4To1bpp)},
    {"passfilt", 8, false, false, true, band(i_passfilt)},
    {"passfiltI", 8, true, true, true, band(i_passfiltI)},
    {"passfilt4To1", 4, false, true, true, band(i_passfilt4To1bpp)},
    {"passfiltI4To1", 4, true, true, true, band(i_passfiltI4To1bpp)},
};

// ON where the value passes: 8-bit tests drop the pixel's and the bounds' lowest bit.
bool passes(const Filter& f, uint32_t p, int a, int b) {
  if (f.srcDepth == 8) {
    const int q = int(p >> 1);
    return f.band ? q >= (a >> 1) && q <= (a >> 1) + ((b - a) >> 1) : q >= (a >> 1);
  }
  return f.band ? int(p) >= a && int(p) <= b : int(p) >= a;
}

std::vector<std::pair<int, int>> parameters(const Filter& f) {
  if (f.srcDepth == 8) {
    if (!f.band) return {{0, 0}, {1, 0}, {2, 0}, {100, 0}, {127, 0}, {128, 0}, {129, 0}, {200, 0}, {254, 0}, {255, 0}};
    return {{0, 255}, {100, 100}, {101, 101}, {10, 20}, {11, 20}, {0, 0}, {255, 255}, {64, 191}, {1, 254}, {128, 129}};
  }
  std::vector<std::pair<int, int>> v;
  for (int a = 0; a < 16; ++a)
    if (f.band)
      for (int b = a; b < 16; ++b) v.push_back({a, b});
    else
      v.push_back({a, 0});
  return v;
}

TEST(FilterBinarization, EveryMemberMatchesItsTestAtEveryWidthAndBound) {
  uint32_t seed = 40;
  for (const Filter& f : kFilters) {
    SCOPED_TRACE(f.name);
    const auto params = parameters(f);
    // Every width with cycling bounds, then every bound at a few widths.
    for (size_t i = 0; i < 100 + params.size(); ++i) {
      const auto [a, b] = params[i % params.size()];
      const Expectation e{f.srcDepth, 1, f.clears, [&, a = a, b = b](uint32_t p) {
                            return uint32_t(passes(f, p, a, b) != f.inverted);
                          }};
      const Call call = [&, a = a, b = b](IPState* s, const Framed& src, Framed& dst, const TableSet* t) {
        return f.call(s, src, a, b, dst, t);
      };
      std::mt19937 rng(++seed);
      const int w = i < 100 ? int(i) + 1 : 1 + int(rng() % 100);
      const int h = 1 + int(rng() % 3);
      Framed src(w, h, f.srcDepth, int(rng() % 2)), dst(w, h, 1, int(rng() % 2));
      src.fill_noise(rng);
      dst.fill_noise(rng);
      const Framed before = dst;
      TestState ts;
      ASSERT_EQ(call(ts.state, src, dst, nullptr), VLT_OK);
      ASSERT_EQ(check(e, src, before, dst), "") << "width " << w << " bounds " << a << ", " << b;
    }
  }
}

TEST(FilterBinarization, CallerTablesDecideThePolarity) {
  std::mt19937 rng(77);
  for (const Filter& f : kFilters) {
    SCOPED_TRACE(f.name);
    // The opposite set to the one the member would make.
    const TableSet t = f.srcDepth == 8 ? TableSet(f.inverted ? i_fillBinarizationTables : i_fillInvBinarizationTables)
                                       : TableSet(f.inverted ? i_fill4To1BinarizationTables
                                                             : i_fill4To1InvBinarizationTables);
    const int a = f.srcDepth == 8 ? 90 : 5, b = f.srcDepth == 8 ? 170 : 11;
    Framed src(70, 2, f.srcDepth), dst(70, 2, 1);
    src.fill_noise(rng);
    dst.fill_noise(rng);
    const Framed before = dst;
    TestState ts;
    ASSERT_EQ(f.call(ts.state, src, a, b, dst, &t), VLT_OK);
    // The members that do not clear are plain ones, given an inverted set here: past the width
    // the last word holds the inverted test of the frame pixels in the last source word, then
    // ON for the unread positions.
    const std::string diff = iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) -> uint32_t {
      if (y < 0 || y >= src.h || x < 0) return old;
      if (x < src.w) return uint32_t(passes(f, src.get(x, y), a, b) == f.inverted);
      if (f.clears) return x < 96 + 32 ? 0 : old;
      if (x >= 96) return old;
      return uint32_t(x >= 72 || !passes(f, src.get(x, y), a, b));
    });
    EXPECT_EQ(diff, "");
  }
}

TEST(FilterBinarization, PublishedCases) {
  struct Case { int filter, a, b; std::vector<uint32_t> on; };  // values 0..max that come out ON
  std::vector<uint32_t> all8(256), all4(16);
  for (uint32_t v = 0; v < 256; ++v) all8[v] = v;
  for (uint32_t v = 0; v < 16; ++v) all4[v] = v;
  std::vector<uint32_t> from128(all8.begin() + 128, all8.end()), from8(all4.begin() + 8, all4.end());
  const Case cases[] = {{0, 0, 0, all8},       {0, 1, 0, all8},     {0, 128, 0, from128}, {0, 129, 0, from128},
                        {0, 254, 0, {254, 255}}, {0, 255, 0, {254, 255}}, {2, 0, 0, all4},    {2, 15, 0, {15}},
                        {2, 8, 0, from8},      {4, 100, 100, {100, 101}}, {4, 101, 101, {100, 101}},
                        {4, 0, 255, all8},     {4, 11, 20, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
                        {6, 3, 3, {3}},        {6, 0, 15, all4}};
  for (const Case& c : cases) {
    const Filter& f = kFilters[c.filter];
    const int n = f.srcDepth == 8 ? 256 : 16;
    Framed src(n, 1, f.srcDepth), dst(n, 1, 1);
    for (int v = 0; v < n; ++v) src.set(v, 0, uint32_t(v));
    TestState ts;
    ASSERT_EQ(f.call(ts.state, src, c.a, c.b, dst, nullptr), VLT_OK);
    std::vector<uint32_t> on;
    for (int v = 0; v < n; ++v)
      if (dst.get(v, 0)) on.push_back(uint32_t(v));
    EXPECT_EQ(on, c.on) << f.name << " " << c.a << ", " << c.b;
  }
}

TEST(FilterBinarization, EmptyImagesAndFailures) {
  std::mt19937 rng(12);
  for (const Filter& f : kFilters) {
    SCOPED_TRACE(f.name);
    {
      Framed src(0, 4, f.srcDepth), dst(0, 4, 1);
      TestState ts;
      const size_t base = ts.alloc.allocations();
      EXPECT_EQ(f.call(ts.state, src, 3, 9, dst, nullptr), VLT_OK);
      EXPECT_EQ(ts.alloc.allocations(), base);
    }
    Framed src(1, 2, f.srcDepth), dst(1, 2, 1);
    src.fill_noise(rng);
    dst.fill_noise(rng);
    const Framed before = dst;
    {
      TestState ts;
      ASSERT_EQ(f.call(ts.state, src, 3, 9, dst, nullptr), VLT_OK);  // a framed width of 65: one word a line
    }
    dst = before;
    for (int k = 1; k <= 4; ++k) {
      TestState ts;
      ts.alloc.fail_at(size_t(k));
      EXPECT_EQ(f.call(ts.state, src, 3, 9, dst, nullptr), VLT_ERR_NOMEM);
      EXPECT_EQ(dst.bytes, before.bytes);
    }
    EXPECT_EQ(f.call(nullptr, src, 3, 9, dst, nullptr), VLT_ERR_NOMEM);
    EXPECT_EQ(dst.bytes, before.bytes);
  }
}

// --- Per-pixel thresholds -------------------------------------------------------------------

VltStatus by_pixel(IPState* s, const Framed& src, const Framed& thr, int polarity, Framed& dst,
                   const TableSet* t = nullptr) {
  return i_thresholdByPixel(s, src.data(), src.fw(), src.fh(), src.bpl, thr.data(), thr.fw(), thr.fh(), thr.bpl,
                            polarity, dst.data(), dst.bpl, t ? (*t)[0] : nullptr, t ? (*t)[1] : nullptr,
                            t ? (*t)[2] : nullptr, t ? (*t)[3] : nullptr);
}

// The threshold of source pixel (x, y): nearest-pixel resampling with 16.16 steps.
uint32_t threshold_at(const Framed& thr, int w, int h, int x, int y) {
  const int64_t sx = (int64_t{thr.w} << 16) / w, sy = (int64_t{thr.h} << 16) / h;
  return thr.get(int((x * sx) >> 16), int((y * sy) >> 16));
}

TEST(ThresholdByPixel, MatchesThePerPixelRuleForEqualAndResampledThresholds) {
  std::mt19937 rng(21);
  for (int w = 1; w <= 100; ++w) {
    const int h = 1 + int(rng() % 4);
    const int polarity = int(rng() % 3);  // 0, or non-zero
    const bool same = w % 3 == 0;
    const int tw = same ? w : 1 + int(rng() % 60), th = same ? h : 1 + int(rng() % 6);
    Framed src(w, h, 8, int(rng() % 2)), thr(tw, th, 8), dst(w, h, 1, int(rng() % 2));
    src.fill_noise(rng);
    thr.fill_noise(rng);
    dst.fill_noise(rng);
    const Framed before = dst;
    TestState ts;
    ASSERT_EQ(by_pixel(ts.state, src, thr, polarity, dst), VLT_OK);
    const int lastWordEnd = ((w - 1) / 32 + 1) * 32;
    const std::string diff = iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) -> uint32_t {
      if (y < 0 || y >= h || x < 0) return old;
      if (x >= w) return x < lastWordEnd + 32 ? 0 : old;
      const bool atLeast = (src.get(x, y) >> 1) >= (threshold_at(thr, w, h, x, y) >> 1);
      return uint32_t(atLeast == (polarity != 0));
    });
    ASSERT_EQ(diff, "") << "width " << w << " threshold " << tw << "x" << th;
  }
}

TEST(ThresholdByPixel, PublishedCases) {
  std::mt19937 rng(5);
  Framed src(77, 5, 8);
  src.fill_noise(rng);
  // A uniform 128 threshold with polarity 1 is the 128 high-pass image.
  Framed thr(77, 5, 8);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 77; ++x) thr.set(x, y, 128);
  Framed a(77, 5, 1), b(77, 5, 1);
  TestState ts;
  ASSERT_EQ(by_pixel(ts.state, src, thr, 1, a), VLT_OK);
  ASSERT_EQ(i_highpassfilt(ts.state, src.data(), src.fw(), src.fh(), src.bpl, 128, b.data(), b.bpl, nullptr, nullptr,
                           nullptr, nullptr),
            VLT_OK);
  EXPECT_EQ(iptest::compare_all(b, a, [&](int x, int, uint32_t old) { return x < 77 ? old : 0u; }), "");

  // A 1 x 1 threshold image: one value for every pixel; 255 keeps 254 and 255, 0 and 1 keep all.
  for (uint32_t t : {0u, 1u, 255u}) {
    Framed one(1, 1, 8), dst(77, 5, 1);
    one.set(0, 0, t);
    ASSERT_EQ(by_pixel(ts.state, src, one, 1, dst), VLT_OK);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 77; ++x) ASSERT_EQ(dst.get(x, y), uint32_t(t < 2 || src.get(x, y) >= 254)) << t;
  }
  // Half the width: columns 2k and 2k + 1 share threshold column k.
  Framed half(40, 5, 8), dst(80, 5, 1), wide(80, 5, 8);
  half.fill_noise(rng);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 80; ++x) wide.set(x, y, 128);
  ASSERT_EQ(by_pixel(ts.state, wide, half, 1, dst), VLT_OK);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 80; ++x) ASSERT_EQ(dst.get(x, y), uint32_t(64 >= (half.get(x / 2, y) >> 1)));

  // Caller tables decide the polarity: plain tables with polarity 0 give the polarity-1 image.
  const TableSet plain(i_fillBinarizationTables);
  Framed c(77, 5, 1);
  ASSERT_EQ(by_pixel(ts.state, src, thr, 0, c, &plain), VLT_OK);
  EXPECT_EQ(c.bytes, a.bytes);
}

TEST(ThresholdByPixel, EmptyImagesAndFailures) {
  std::mt19937 rng(6);
  Framed src(50, 3, 8), thr(7, 2, 8), dst(50, 3, 1);
  src.fill_noise(rng);
  thr.fill_noise(rng);
  dst.fill_noise(rng);
  const Framed before = dst;
  {
    TestState ts;
    Framed noWidth(0, 2, 8), noHeight(3, 0, 8);
    EXPECT_EQ(by_pixel(ts.state, src, noWidth, 1, dst), VLT_ERR_PARAM);
    EXPECT_EQ(by_pixel(ts.state, src, noHeight, 1, dst), VLT_ERR_PARAM);
    Framed flat(50, 0, 8), flatDst(50, 0, 1);
    const size_t base = ts.alloc.allocations();
    EXPECT_EQ(by_pixel(ts.state, flat, thr, 1, flatDst), VLT_OK);
    EXPECT_EQ(ts.alloc.allocations(), base);
    EXPECT_EQ(dst.bytes, before.bytes);
  }
  // Four tables, the scaled threshold line and the block: each failing in turn.
  for (int k = 1; k <= 6; ++k) {
    TestState ts;
    ts.alloc.fail_at(size_t(k));
    EXPECT_EQ(by_pixel(ts.state, src, thr, 1, dst), VLT_ERR_NOMEM) << "allocation " << k;
    EXPECT_EQ(dst.bytes, before.bytes);
  }
  const TableSet t(i_fillBinarizationTables);
  EXPECT_EQ(by_pixel(nullptr, src, thr, 1, dst, &t), VLT_ERR_NOMEM);
  EXPECT_EQ(dst.bytes, before.bytes);
}

}  // namespace
