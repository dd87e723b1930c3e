// Orthogonal rotation against the per-pixel mapping, at every depth and at sizes that cross
// strip, byte, word and tile boundaries.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "framed_image.h"
#include "i_orthrot.h"
#include "ip_test_state.h"

namespace {

using iptest::Framed;
using iptest::TestState;

constexpr int kDepths[] = {1, 2, 4, 8};
constexpr int kSizes[] = {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 255, 256, 257, 300};

enum class Turn { r90, r180, r270 };

// Source position that a destination pixel takes; valid for frame positions too, which is how
// the quarter turns fill the destination frame they overreach into.
std::pair<long, long> source_of(Turn t, long W, long H, long x, long y) {
  switch (t) {
    case Turn::r90: return {y, H - 1 - x};
    case Turn::r270: return {W - 1 - y, x};
    default: return {W - 1 - x, H - 1 - y};
  }
}

struct Shape {
  int s, ppb;
};
Shape shape(int depth) { return {32 / depth, 8 / depth}; }

// Destination pixels a quarter turn writes outside the image: up to the strip boundary past
// the right edge, and the lines the last source byte of each line covers.
bool quarter_written(Turn t, const Framed& src, long x, long y) {
  const Shape sh = shape(src.depth);
  const long n = (src.h + sh.s - 1) / sh.s, bytes = (long(src.w) * src.depth + 7) / 8;
  if (x < 0 || x >= n * sh.s) return false;
  return t == Turn::r90 ? y >= 0 && y < bytes * sh.ppb : y < src.w && y >= src.w - bytes * sh.ppb;
}

VltStatus turn(IPState* s, Turn t, Framed& dst, const Framed& src) {
  const auto f = t == Turn::r90 ? i_fastRot90 : t == Turn::r270 ? i_fastRot270 : i_fastRot180;
  return f(s, dst.data(), src.data(), src.fw(), src.fh(), static_cast<int32_t>(src.bpl),
           static_cast<int32_t>(dst.bpl), src.depth);
}

TEST(OrthogonalRotation, CopyFormsMatchMapping) {
  TestState ts;
  std::mt19937 rng(90);
  for (int depth : kDepths)
    for (Turn t : {Turn::r90, Turn::r270, Turn::r180})
      for (int trial = 0; trial < 14; ++trial) {
        const int W = kSizes[rng() % std::size(kSizes)], H = kSizes[rng() % std::size(kSizes)];
        Framed src(W, H, depth, int(rng() % 3));
        src.fill_noise(rng);  // the frame too: it shows which source pixels reach the destination
        const bool quarter = t != Turn::r180;
        Framed dst(quarter ? H : W, quarter ? W : H, depth, int(rng() % 3));
        dst.fill_noise(rng);
        const Framed before = dst;
        ASSERT_EQ(turn(ts.state, t, dst, src), VLT_OK);
        const long pixelsPerWord = 32 / depth;
        const std::string diff = iptest::compare_all(before, dst, [&](int x, int y, uint32_t old) {
          if (dst.in_image(x, y) || (quarter && quarter_written(t, src, x, y))) {
            const auto [sx, sy] = source_of(t, W, H, x, y);
            return src.get(int(sx), int(sy));
          }
          // The half turn clears the bits after each line's last pixel in its last word.
          if (!quarter && y >= 0 && y < H && x >= W && x < (W + pixelsPerWord - 1) / pixelsPerWord * pixelsPerWord)
            return 0u;
          return old;
        });
        ASSERT_EQ(diff, "") << "depth " << depth << " turn " << int(t) << " " << W << "x" << H;
      }
}

TEST(OrthogonalRotation, HalfTurnInPlace) {
  TestState ts;
  std::mt19937 rng(180);
  for (int depth : kDepths)
    for (int trial = 0; trial < 12; ++trial) {
      // Odd and even heights, shifted and unshifted lines, a single line.
      const int W = trial == 0 ? 32 / depth * 3 : kSizes[rng() % std::size(kSizes)];
      const int H = trial == 1 ? 1 : kSizes[rng() % std::size(kSizes)];
      Framed img(W, H, depth);
      img.fill_noise(rng);
      const Framed before = img;
      ASSERT_EQ(i_fastRot180(ts.state, img.data(), img.data(), img.fw(), img.fh(),
                             static_cast<int32_t>(img.bpl), static_cast<int32_t>(img.bpl), depth),
                VLT_OK);
      const long ppw = 32 / depth;
      const std::string diff = iptest::compare_all(before, img, [&](int x, int y, uint32_t old) {
        if (img.in_image(x, y)) return before.get(W - 1 - x, H - 1 - y);
        if (y >= 0 && y < H && x >= W && x < (W + ppw - 1) / ppw * ppw) return 0u;
        return old;
      });
      ASSERT_EQ(diff, "") << "depth " << depth << " " << W << "x" << H;
    }
}

TEST(OrthogonalRotation, ArgumentsAndFailures) {
  TestState ts;
  Framed src(40, 20, 1), dst(20, 40, 1);
  std::mt19937 rng(1);
  src.fill_image(rng);
  const auto call = [&](auto f, int32_t fw, int32_t fh, int32_t depth) {
    return f(ts.state, dst.data(), src.data(), fw, fh, static_cast<int32_t>(src.bpl),
             static_cast<int32_t>(dst.bpl), depth);
  };
  for (auto f : {i_fastRot90, i_fastRot270, i_fastRot180}) {
    EXPECT_EQ(call(f, 104, 84, 3), VLT_ERR_DEPTH);
    EXPECT_EQ(call(f, 104, 84, 16), VLT_ERR_DEPTH);
    EXPECT_EQ(call(f, 60, 84, 1), VLT_ERR_DIMENSIONS);
    // Nothing to turn: nothing is touched and nothing allocated.
    const size_t allocations = ts.alloc.allocations();
    EXPECT_EQ(call(f, 64, 84, 1), VLT_OK);
    EXPECT_EQ(call(f, 104, 64, 1), VLT_OK);
    EXPECT_EQ(ts.alloc.allocations(), allocations);
  }
  // Overlapping buffers are refused rather than turned into a mixture.
  EXPECT_EQ(i_fastRot90(ts.state, src.data() + src.bpl, src.data(), 104, 84, static_cast<int32_t>(src.bpl),
                        static_cast<int32_t>(src.bpl), 1),
            VLT_ERR_PARAM);
  EXPECT_EQ(i_fastRot180(ts.state, src.data() + 4, src.data(), 104, 84, static_cast<int32_t>(src.bpl),
                         static_cast<int32_t>(src.bpl), 1),
            VLT_ERR_PARAM);
  // A line too short for the framed width.
  EXPECT_EQ(i_fastRot270(ts.state, dst.data(), src.data(), 104, 84, 8, static_cast<int32_t>(dst.bpl), 1), VLT_ERR_PARAM);
  // Every allocation failure frees what was made (the record, then the spread table; 8 bpp has
  // no table).
  for (int depth : {1, 8})
    for (size_t k = 1; k <= 2; ++k) {
      Framed s8(40, 20, depth), d8(20, 40, depth);
      ts.alloc.fail_at(k);
      const VltStatus st = i_fastRot90(ts.state, d8.data(), s8.data(), 104, 84, static_cast<int32_t>(s8.bpl),
                                       static_cast<int32_t>(d8.bpl), depth);
      EXPECT_EQ(st, depth == 8 && k == 2 ? VLT_OK : VLT_ERR_NOMEM) << depth << " " << k;
      ts.alloc.fail_at(0);
    }
  Framed same(40, 20, 1);
  ts.alloc.fail_at(1);
  EXPECT_EQ(i_fastRot180(ts.state, same.data(), src.data(), 104, 84, static_cast<int32_t>(src.bpl),
                         static_cast<int32_t>(same.bpl), 1),
            VLT_ERR_NOMEM);
  uint32_t* table = reinterpret_cast<uint32_t*>(&ts);
  EXPECT_EQ(ip_makeRotTable(ts.state, &table, 8), VLT_OK);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(ip_makeRotTable(nullptr, &table, 1), VLT_ERR_NOMEM);
  EXPECT_EQ(ip_makeRotTable(ts.state, &table, 3), VLT_ERR_DEPTH);
  int32_t stw = 0;
  for (auto [d, w] : {std::pair{1, 16}, {2, 32}, {4, 32}, {8, 64}}) {
    ASSERT_EQ(ip_getOrthDestSTWidth(ts.state, d, &stw), VLT_OK);
    EXPECT_EQ(stw, w);
  }
  EXPECT_EQ(ip_getOrthDestSTWidth(ts.state, 16, &stw), VLT_ERR_DEPTH);
}

// A buffer laid out as the wrapper lays out an image: sized for either orientation, the first
// pixel aligned to the access unit.
struct ImageBuffer {
  std::vector<uint8_t> bytes;
  uint8_t* imageAll;
  uint8_t* rotatedAll;
  uint32_t bpl, rotatedBpl;
  ImageBuffer(IPState* s, int W, int H, int depth) {
    uint32_t size = 0, rotatedSize = 0;
    EXPECT_EQ(i_calcImageProperties(s, W, H, depth, 32, &bpl, &size), VLT_OK);
    EXPECT_EQ(i_calcImageProperties(s, H, W, depth, 32, &rotatedBpl, &rotatedSize), VLT_OK);
    bytes.assign(size, 0);
    uint32_t offset = 0;
    i_calcFrameOffset(s, bytes.data(), bpl, depth, 32, &offset);
    imageAll = bytes.data() + offset;
    i_calcFrameOffset(s, bytes.data(), rotatedBpl, depth, 32, &offset);
    rotatedAll = bytes.data() + offset;
  }
  uint8_t* last() { return bytes.data() + bytes.size() - 1; }
};

TEST(OrthogonalRotation, QuarterTurnsInPlace) {
  TestState ts;
  std::mt19937 rng(270);
  // Scratch widths make one to three bands (a band is the scratch line's bytes after its first
  // pixel, cut to the access unit or the destination tile width).
  struct Case { int W, H, depth, scratchW; bool longAccess; };
  const Case cases[] = {
      {300, 257, 1, 300, true}, {129, 600, 1, 300, true}, {200, 300, 2, 100, true},
      {65, 130, 4, 40, true},   {77, 90, 8, 40, true},    {130, 70, 1, 100, false},
      {33, 1, 1, 300, true},    {1, 33, 8, 300, true},
      {1000, 8, 1, 300, true},
  };
  for (const Case& c : cases)
    for (bool ninety : {true, false}) {
      ip_IPStateSetLongAccessFlag(ts.state, c.longAccess);
      ImageBuffer buf(ts.state, c.W, c.H, c.depth);
      if (c.W == 1000) {
        // The rotated layout at the buffer's start and the source at its end, where packing
        // the bands would overrun source lines not yet turned: turned through a copy instead.
        const size_t sourceBytes = size_t(c.H + 64) * buf.bpl;
        buf.rotatedAll = buf.bytes.data();
        buf.bytes.resize(size_t(c.W + 64) * buf.rotatedBpl);
        buf.imageAll = buf.bytes.data() + buf.bytes.size() - sourceBytes;
        ASSERT_GT(buf.imageAll, buf.rotatedAll);
      }
      Framed orig(c.W, c.H, c.depth);
      orig.fill_image(rng);
      for (int y = 0; y < c.H + 64; ++y)
        std::memcpy(buf.imageAll + size_t(y) * buf.bpl, orig.data() + size_t(y) * orig.bpl, orig.bpl);
      Framed scratch(c.scratchW, c.W, c.depth);
      const auto f = ninety ? i_fastRot90InPlace : i_fastRot270InPlace;
      ASSERT_EQ(f(ts.state, scratch.data(), buf.imageAll, buf.last(), buf.rotatedAll, c.W + 64, c.H + 64,
                  scratch.fw(), static_cast<int32_t>(buf.bpl), static_cast<int32_t>(scratch.bpl), c.depth),
                VLT_OK)
          << c.W << "x" << c.H << " depth " << c.depth;
      // The rotated layout: the mapped image with every frame pixel clear.
      const Turn t = ninety ? Turn::r90 : Turn::r270;
      for (long y = -32; y < c.W + 32; ++y)
        for (long x = -32; x < c.H + 32; ++x) {
          const uint32_t got = monotest::ref_get_pixel(buf.rotatedAll, buf.rotatedBpl, x + 32, y + 32, unsigned(c.depth));
          uint32_t want = 0;
          if (x >= 0 && y >= 0 && x < c.H && y < c.W) {
            const auto [sx, sy] = source_of(t, c.W, c.H, x, y);
            want = orig.get(sx, sy);
          }
          ASSERT_EQ(got, want) << c.W << "x" << c.H << " depth " << c.depth << " ninety " << ninety << " at " << x
                               << "," << y;
        }
    }
}

TEST(OrthogonalRotation, InPlaceFailuresLeaveTheImage) {
  TestState ts;
  const auto run = [&](bool ninety, ImageBuffer& buf, Framed& scratch, int W, int H, int depth) {
    const auto f = ninety ? i_fastRot90InPlace : i_fastRot270InPlace;
    return f(ts.state, scratch.data(), buf.imageAll, buf.last(), buf.rotatedAll, W + 64, H + 64,
             scratch.fw(), static_cast<int32_t>(buf.bpl), static_cast<int32_t>(scratch.bpl), depth);
  };
  for (bool ninety : {true, false}) {
    // A scratch line with less than one band after its first pixel.
    ImageBuffer buf(ts.state, 100, 50, 1);
    std::mt19937 rng(7);
    for (uint8_t& b : buf.bytes) b = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> before = buf.bytes;
    Framed narrow(1, 100, 1);
    EXPECT_EQ(run(ninety, buf, narrow, 100, 50, 1), VLT_ERR_OVERFLOW);
    EXPECT_EQ(buf.bytes, before);
    Framed scratch(300, 1000, 1);
    EXPECT_EQ(run(ninety, buf, scratch, 100, 50, 3), VLT_ERR_DEPTH);
    EXPECT_EQ(run(ninety, buf, scratch, -1, 50, 1), VLT_ERR_DIMENSIONS);
    EXPECT_EQ(run(ninety, buf, scratch, 100, -70, 1), VLT_ERR_DIMENSIONS);
    EXPECT_EQ(buf.bytes, before);
    // Memory for the record, the table or a fallback copy missing: the image is untouched.
    for (size_t k = 1; k <= 2; ++k) {
      ts.alloc.fail_at(k);
      EXPECT_EQ(run(ninety, buf, scratch, 100, 50, 1), VLT_ERR_NOMEM);
      EXPECT_EQ(buf.bytes, before);
    }
    // The same when the source must be turned through a copy (see the 1000 x 8 case above).
    ImageBuffer wide(ts.state, 1000, 8, 1);
    wide.rotatedAll = wide.bytes.data();
    wide.bytes.resize(size_t(1064) * wide.rotatedBpl);
    wide.imageAll = wide.bytes.data() + wide.bytes.size() - size_t(72) * wide.bpl;
    for (uint8_t& b : wide.bytes) b = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> wideBefore = wide.bytes;
    ts.alloc.fail_at(1);
    EXPECT_EQ(run(ninety, wide, scratch, 1000, 8, 1), VLT_ERR_NOMEM);
    EXPECT_EQ(wide.bytes, wideBefore);
    // A layout that does not fit before the last byte is refused.
    ImageBuffer tight(ts.state, 100, 50, 1);
    tight.rotatedAll = tight.last() - 100;
    EXPECT_EQ(run(ninety, tight, scratch, 100, 50, 1), VLT_ERR_PARAM);
    ts.alloc.fail_at(0);
  }
}

}  // namespace
