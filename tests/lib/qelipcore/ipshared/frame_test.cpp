// Framed-buffer geometry, adding and removing frames, clearing frames, framed image copy.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ip_test_state.h"
#include "ref_rasterop.h"

namespace {

using iptest::TestState;
using monotest::ref_get_pixel;
using monotest::ref_set_pixel;

constexpr int kDepths[] = {1, 2, 4, 8, 16};

TEST(FrameGeometry, ImageProperties) {
  TestState ts;
  uint32_t bpl = 0, size = 0;
  ASSERT_EQ(i_calcImageProperties(ts.state, 100, 50, 1, 32, &bpl, &size), VLT_OK);
  EXPECT_EQ(bpl, 32u);
  EXPECT_EQ(size, 5856u);
  ASSERT_EQ(ip_IPStateSetLongAccessFlag(ts.state, 0), VLT_OK);
  ASSERT_EQ(i_calcImageProperties(ts.state, 100, 50, 1, 32, &bpl, &size), VLT_OK);
  EXPECT_EQ(bpl, 24u);
  EXPECT_EQ(size, 2740u);
  EXPECT_EQ(i_calcImageProperties(ts.state, 100, 50, 1, 32, nullptr, &size), VLT_ERR_PARAM);
  EXPECT_EQ(i_calcImageProperties(ts.state, 100, 50, 1, 32, &bpl, nullptr), VLT_ERR_PARAM);
  // Sizes that do not fit 32 bits are refused rather than wrapped.
  bpl = size = 7;
  EXPECT_EQ(i_calcImageProperties(ts.state, 1 << 20, 1 << 20, 16, 32, &bpl, &size), VLT_ERR_PARAM);
  EXPECT_EQ(i_calcImageProperties(ts.state, INT32_MAX, 1, 16, 32, &bpl, &size), VLT_ERR_PARAM);
  EXPECT_EQ(i_calcImageProperties(ts.state, -1, 1, 1, 32, &bpl, &size), VLT_ERR_PARAM);
  EXPECT_EQ(bpl, 7u);
  EXPECT_EQ(size, 7u);
}

TEST(FrameGeometry, OffsetsAlignTheFirstPixel) {
  TestState ts;
  alignas(64) static uint8_t block[256];
  for (int d : kDepths)
    for (size_t shift = 0; shift < 40; shift += 3) {
      uint32_t frameOffset = 0, imageOffset = 0;
      ASSERT_EQ(i_calcFrameOffset(ts.state, block + shift, 64, d, 32, &frameOffset), VLT_OK);
      EXPECT_LT(frameOffset, 32u);
      EXPECT_EQ((reinterpret_cast<uintptr_t>(block + shift) + frameOffset + 4u * d) % 32, 0u);
      ASSERT_EQ(i_calcImageOffset(ts.state, block + shift, 64, d, 32, &imageOffset), VLT_OK);
      EXPECT_EQ(imageOffset, frameOffset + 32u * 64 + 4u * d);
    }
  EXPECT_EQ(i_calcFrameOffset(ts.state, block, 64, 1, 32, nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(i_calcImageOffset(ts.state, block, 64, 1, 32, nullptr), VLT_ERR_PARAM);
}

TEST(FrameGeometry, AccessUnit) {
  TestState ts;
  alignas(32) static uint8_t a[64], b[64];
  uint32_t unit = 0;
  ASSERT_EQ(ip_getLongestAccess(ts.state, &unit), VLT_OK);
  EXPECT_EQ(unit, 32u);
  ASSERT_EQ(ip_checkImageAccess(ts.state, a, 64, b, 32, &unit), VLT_OK);
  EXPECT_EQ(unit, 32u);
  ASSERT_EQ(ip_checkImageAccess(ts.state, a, 40, b, 32, &unit), VLT_OK);
  EXPECT_EQ(unit, 4u);
  ASSERT_EQ(ip_checkImageAccess(ts.state, a, 64, b + 4, 32, &unit), VLT_OK);
  EXPECT_EQ(unit, 4u);
}

// A tightly packed image (rows of exactly (w*d+7)/8 bytes, zero tail bits).
struct Packed {
  int w, h, d;
  uint32_t bpl;
  std::vector<uint8_t> bytes;
  Packed(int w_, int h_, int d_, std::mt19937& rng) : w(w_), h(h_), d(d_) {
    bpl = static_cast<uint32_t>((w * d + 7) / 8);
    bytes.assign(size_t{bpl} * static_cast<size_t>(h), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ref_set_pixel(bytes.data(), bpl, x, y, static_cast<unsigned>(d),
                      static_cast<uint32_t>(rng()) & ((1u << d) - 1u));
  }
};

// Every pixel of the framed area outside the image is 0; the image pixels match.
void expect_framed(const uint8_t* framed, uint32_t bpl, const Packed& img) {
  const unsigned d = static_cast<unsigned>(img.d);
  for (int y = 0; y < img.h + 64; ++y)
    for (int x = 0; x < img.w + 64; ++x) {
      const bool inImage = x >= 32 && y >= 32 && x < img.w + 32 && y < img.h + 32;
      const uint32_t want = inImage ? ref_get_pixel(img.bytes.data(), img.bpl, x - 32, y - 32, d) : 0;
      ASSERT_EQ(ref_get_pixel(framed, bpl, x, y, d), want) << "at " << x << "," << y;
    }
}

TEST(Frames, AddAndRemoveRoundTripAtEveryDepth) {
  TestState ts;
  std::mt19937 rng(99);
  for (int d : kDepths)
    for (int w : {1, 7, 31, 32, 33, 100}) {
      SCOPED_TRACE(testing::Message() << "depth " << d << " width " << w);
      const int h = 1 + w % 5;
      const Packed img(w, h, d, rng);
      uint32_t bpl = 0, size = 0;
      ASSERT_EQ(i_calcImageProperties(ts.state, w, h, d, 32, &bpl, &size), VLT_OK);
      std::vector<uint8_t> framed(size_t{bpl} * static_cast<size_t>(h + 64), 0xFF);
      ASSERT_EQ(i_addFrame(ts.state, img.bytes.data(), w, h, d, img.bpl, framed.data(), bpl), VLT_OK);
      expect_framed(framed.data(), bpl, img);
      if (HasFatalFailure()) return;

      std::vector<uint8_t> back(img.bytes.size(), 0xEE);
      ASSERT_EQ(i_removeFrame(ts.state, framed.data(), w + 64, h + 64, d, bpl, back.data(), img.bpl), VLT_OK);
      EXPECT_EQ(back, img.bytes);
      std::fill(back.begin(), back.end(), 0xEE);
      ASSERT_EQ(i_removeFrameInPlace(ts.state, framed.data(), w + 64, h + 64, d, bpl, back.data(), img.bpl), VLT_OK);
      EXPECT_EQ(back, img.bytes);

      // In place: the image starts the block that receives the framed copy.
      std::vector<uint8_t> block(size, 0xFF);
      std::copy(img.bytes.begin(), img.bytes.end(), block.begin());
      ASSERT_EQ(i_addFrameInPlace(ts.state, block.data(), w, h, d, img.bpl, block.data()), VLT_OK);
      expect_framed(block.data(), bpl, img);
      if (HasFatalFailure()) return;
      // And off again onto the start of the same block.
      ASSERT_EQ(i_removeFrameInPlace(ts.state, block.data(), w + 64, h + 64, d, bpl, block.data(), img.bpl), VLT_OK);
      EXPECT_TRUE(std::equal(img.bytes.begin(), img.bytes.end(), block.begin()));
    }
}

TEST(Frames, RemoveEdgeCases) {
  TestState ts;
  std::vector<uint8_t> framed(16 * 66, 0), out(4, 0xAB);
  EXPECT_EQ(i_removeFrameInPlace(ts.state, framed.data(), 100, 64, 1, 16, out.data(), 4), VLT_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(4, 0xAB));  // no image lines: nothing copied
  EXPECT_EQ(i_removeFrame(ts.state, framed.data(), 100, 60, 1, 0, out.data(), 4), VLT_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(4, 0xAB));  // a zero stride means nothing to do
}

TEST(Frames, ClearAllAndTopBottom) {
  TestState ts;
  for (int d : kDepths) {
    SCOPED_TRACE(d);
    const int w = 40, h = 5, W = w + 64, H = h + 64;
    uint32_t bpl = 0, size = 0;
    ASSERT_EQ(i_calcImageProperties(ts.state, w, h, d, 32, &bpl, &size), VLT_OK);
    std::vector<uint8_t> buf(size_t{bpl} * H, 0xFF);
    ASSERT_EQ(i_clearTopBottomFrames(ts.state, buf.data(), W, H, bpl, d), VLT_OK);
    const unsigned ud = static_cast<unsigned>(d);
    const uint32_t ones = (1u << d) - 1u;
    for (int y = 0; y < H; ++y) {
      const bool topBottom = y < 32 || y >= H - 32;
      EXPECT_EQ(ref_get_pixel(buf.data(), bpl, 0, y, ud), topBottom ? 0u : ones);
      EXPECT_EQ(ref_get_pixel(buf.data(), bpl, W - 1, y, ud), topBottom ? 0u : ones);
    }
    ASSERT_EQ(i_clearAllFrames(ts.state, buf.data(), W, H, bpl, d), VLT_OK);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const bool image = x >= 32 && y >= 32 && x < W - 32 && y < H - 32;
        ASSERT_EQ(ref_get_pixel(buf.data(), bpl, x, y, ud), image ? ones : 0u) << x << "," << y;
      }
  }
}

TEST(Frames, ClearRightFrame) {
  TestState ts;
  for (int d : kDepths) {
    SCOPED_TRACE(d);
    const uint32_t bpl = 32 + 8 * static_cast<uint32_t>(d);
    for (int w : {32 / d, 32 / d + 1, 3}) {
      std::vector<uint8_t> buf(bpl * 2, 0xFF);
      ASSERT_EQ(ip_clearRightFrameWord(ts.state, buf.data(), w, 2, bpl, d), VLT_OK);
      const unsigned used = static_cast<unsigned>((w - (w - 1) / (32 / d) * (32 / d)) * d);
      const size_t lastWord = size_t(w - 1) * d / 32;
      for (size_t x = 0; x < bpl * 8; ++x) {
        const bool keep = x / 32 != lastWord || x % 32 < used;
        ASSERT_EQ((buf[x / 8] >> (7 - x % 8)) & 1, keep ? 1 : 0) << "w " << w << " bit " << x;
      }
      std::fill(buf.begin(), buf.end(), 0xFF);
      ASSERT_EQ(ip_clearRightFrame(ts.state, buf.data(), w, 2, bpl, d), VLT_OK);
      for (size_t line = 0; line < 2; ++line)
        for (size_t x = 0; x < bpl * 8; ++x) {
          const size_t word = x / 32;
          const bool keep = word < lastWord || (word == lastWord && x % 32 < used) ||
                            word > lastWord + static_cast<size_t>(d);
          ASSERT_EQ((buf[line * bpl + x / 8] >> (7 - x % 8)) & 1, keep ? 1 : 0) << "w " << w << " bit " << x;
        }
    }
  }
  std::vector<uint8_t> buf(16, 0xFF);
  EXPECT_EQ(ip_clearRightFrame(ts.state, buf.data(), 3, 1, 16, 3), VLT_ERR_PARAM);
  EXPECT_EQ(ip_clearRightFrameWord(ts.state, buf.data(), 3, 1, 16, 32), VLT_ERR_PARAM);
  EXPECT_EQ(i_clearRightBottomFrames(ts.state, buf.data(), 70, 70, 16, 3, 2, 2), VLT_ERR_PARAM);
  EXPECT_EQ(buf, std::vector<uint8_t>(16, 0xFF));
}

TEST(Frames, ClearRightBottom) {
  TestState ts;
  const int w = 40, h = 6, W = w + 64, H = h + 64;
  uint32_t bpl = 0, size = 0;
  ASSERT_EQ(i_calcImageProperties(ts.state, w, h, 1, 32, &bpl, &size), VLT_OK);
  for (int right : {1, 30}) {
    std::vector<uint8_t> buf(size_t{bpl} * H, 0xFF);
    ASSERT_EQ(i_clearRightBottomFrames(ts.state, buf.data(), W, H, bpl, 1, right, 3), VLT_OK);
    for (int y = 32; y < H - 32; ++y)
      for (int x = W - 32; x < W - 32 + right; ++x)
        ASSERT_EQ(ref_get_pixel(buf.data(), bpl, x, y, 1), 0u) << x << "," << y;
    for (int y = H - 32; y < H - 29; ++y)
      for (int x = 0; x < W; ++x) ASSERT_EQ(ref_get_pixel(buf.data(), bpl, x, y, 1), 0u);
    EXPECT_EQ(ref_get_pixel(buf.data(), bpl, W - 33, 35, 1), 1u);  // the image is kept
    EXPECT_EQ(ref_get_pixel(buf.data(), bpl, 5, H - 29, 1), 1u);
  }
  // A bottom band taller than the frame stops at the buffer's last line.
  std::vector<uint8_t> buf(size_t{bpl} * H, 0xFF);
  ASSERT_EQ(i_clearRightBottomFrames(ts.state, buf.data(), W, H, bpl, 1, 1, 100), VLT_OK);
}

TEST(Frames, CopyImage) {
  TestState ts;
  std::mt19937 rng(5);
  for (int d : kDepths)
    for (int w : {32 / d, 45}) {
      SCOPED_TRACE(testing::Message() << "depth " << d << " width " << w);
      const int h = 3, W = w + 64, H = h + 64;
      uint32_t bpl = 0, size = 0;
      ASSERT_EQ(i_calcImageProperties(ts.state, w, h, d, 32, &bpl, &size), VLT_OK);
      std::vector<uint8_t> src(size_t{bpl} * H), dst(size_t{bpl} * H, 0xFF);
      for (auto& b : src) b = static_cast<uint8_t>(rng());
      ASSERT_EQ(i_copyImage(ts.state, src.data(), W, H, d, bpl, dst.data(), bpl), VLT_OK);
      const unsigned ud = static_cast<unsigned>(d);
      const uint32_t ones = (1u << d) - 1u;
      const size_t lastWordEnd = (size_t(32 + w) * d + 31) / 32 * 32 / d;  // first pixel after it
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const bool image = y >= 32 && y < 32 + h && x >= 32 && x < 32 + w;
          const bool cleared = y >= 32 && y < 32 + h && x >= 32 + w &&
                               size_t(x) < lastWordEnd + 32;
          const uint32_t want = image ? ref_get_pixel(src.data(), bpl, x, y, ud) : cleared ? 0 : ones;
          ASSERT_EQ(ref_get_pixel(dst.data(), bpl, x, y, ud), want) << x << "," << y;
        }
    }
}

}  // namespace
