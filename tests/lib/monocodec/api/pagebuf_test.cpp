// Framed page buffers: layer rows in and out, inversion of the page area, and refusals.

#include <gtest/gtest.h>

#include <cstring>

#include "byteorder.h"
#include "kvng.h"
#include "ref_bitmap.h"
#include "vlt_pagebuf.h"
#include "vlt_pagebuf_util.h"

namespace {

using monotest::RefBitmap;

// Rows of the given stride with every bit past the width set, as a careless producer leaves them.
std::vector<uint8_t> dirty_rows(const RefBitmap& bm, size_t stride) {
  std::vector<uint8_t> rows(stride * size_t(bm.height), 0xFF);
  for (int y = 0; y < bm.height; ++y) {
    for (size_t b = 0; b < bm.stride; ++b) rows[size_t(y) * stride + b] = bm.row(y)[b];
    if (bm.width % 8 != 0) rows[size_t(y) * stride + bm.stride - 1] |= uint8_t(0xFF >> (bm.width % 8));
  }
  return rows;
}

int framed_pixel(const VltPageDesc& d, int x, int y) {
  const uint8_t* line = d.buffer + size_t(32 + y) * d.bytesPerLine;
  return (line[(32 + x) / 8] >> (7 - (32 + x) % 8)) & 1;
}

TEST(PageBufTest, LayerRowsComeBackAndNothingPastTheWidthGetsIn) {
  for (const int width : {1, 7, 8, 31, 32, 33, 100}) {
    SCOPED_TRACE(width);
    const RefBitmap page = monotest::make_noise(width, 13, 0.4, uint32_t(width));
    for (const size_t extra : {size_t(0), size_t(5)}) {
      const std::vector<uint8_t> rows = dirty_rows(page, page.stride + extra);
      VltPageDesc d{};
      ASSERT_EQ(convertBuffToVltPageDesc(&d, uint32_t(width), 13, uint32_t(page.stride + extra), rows.data()), 1);
      EXPECT_EQ(d.xRes, 300u);
      EXPECT_EQ(d.yRes, 300u);
      // The page's pixels in place, and nothing else set anywhere in the framed buffer.
      size_t black = 0;
      for (size_t i = 0; i < size_t(d.bytesPerLine) * (13 + 64); ++i) black += size_t(__builtin_popcount(d.buffer[i]));
      EXPECT_EQ(black, page.count());
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(framed_pixel(d, x, y), page.get(x, y));
      uint32_t size = 0, rowBytes = 0;
      ASSERT_EQ(stripAndFlip(&d.buffer, uint32_t(width), 13, 0, d.bytesPerLine, &size, &rowBytes), 1);
      EXPECT_EQ(rowBytes, page.stride);
      EXPECT_EQ(size, page.stride * 13);
      EXPECT_EQ(std::memcmp(d.buffer, page.bits.data(), size), 0);
      kvng_internal_free(d.buffer);
    }
  }
}

TEST(PageBufTest, StripAndFlipClearsBitsPastTheWidth) {
  uint8_t* buffer = nullptr;
  uint32_t bpl = 0;
  ASSERT_EQ(getSimPixrBuff(&buffer, 10, 2, &bpl), 1);
  std::memset(buffer, 0xFF, size_t(bpl) * (2 + 64));
  uint32_t size = 0, rowBytes = 0;
  ASSERT_EQ(stripAndFlip(&buffer, 10, 2, 0, bpl, &size, &rowBytes), 1);
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(buffer[0], 0xFF);
  EXPECT_EQ(buffer[1], 0xC0);
  EXPECT_EQ(buffer[3], 0xC0);
  kvng_internal_free(buffer);
}

TEST(PageBufTest, InversionCoversThePageOnly) {
  for (const int width : {32, 33, 5}) {
    SCOPED_TRACE(width);
    VltPageDesc d{};
    ASSERT_EQ(getSimPixrBuff(&d.buffer, uint32_t(width), 3, &d.bytesPerLine), 1);
    d.width = uint32_t(width);
    d.height = 3;
    ASSERT_EQ(__JB2Util_InvertPage(&d), 1);
    size_t black = 0;
    for (size_t i = 0; i < size_t(d.bytesPerLine) * (3 + 64); ++i) black += size_t(__builtin_popcount(d.buffer[i]));
    EXPECT_EQ(black, size_t(width) * 3);
    for (int x = 0; x < width; ++x) EXPECT_EQ(framed_pixel(d, x, 2), 1);
    kvng_internal_free(d.buffer);
  }
  EXPECT_EQ(__JB2Util_InvertPage(nullptr), 0);
}

TEST(PageBufTest, Refusals) {
  const uint8_t rows[4] = {};
  VltPageDesc d{};
  // Rows shorter than the width would be read past their end.
  EXPECT_EQ(convertBuffToVltPageDesc(&d, 40, 1, 4, rows), 0);
  EXPECT_EQ(d.buffer, nullptr);
  uint8_t* buffer = nullptr;
  uint32_t bpl = 0;
  ASSERT_EQ(getSimPixrBuff(&buffer, 8, 4, &bpl), 1);
  uint8_t* before = buffer;
  uint32_t size = 7;
  EXPECT_EQ(stripAndFlip(&buffer, 8, 0, 0, bpl, &size, nullptr), 0);
  EXPECT_EQ(buffer, before);
  kvng_internal_free(buffer);
  const uint8_t zero = 0, seven = 7;
  EXPECT_EQ(isInJbig2Section(nullptr), 0);
  EXPECT_EQ(isInJbig2Section(&zero), 0);
  EXPECT_EQ(isInJbig2Section(&seven), 1);
}

}  // namespace
