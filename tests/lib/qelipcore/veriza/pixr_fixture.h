#ifndef PIXR_FIXTURE_H
#define PIXR_FIXTURE_H

// A wrapper state whose record and pixel sets draw on one counting allocator, with the error
// report lines collected, and conversions between records and reference bitmaps that read and
// write the pixel rows directly.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "counting_alloc.h"
#include "pixr.h"
#include "pixr_ops.h"
#include "ref_bitmap.h"

namespace pixrtest {

using monotest::CountingAllocator;
using monotest::RefBitmap;

inline constexpr int32_t kDpi300 = 300 << 16;

class WrapperTest : public ::testing::Test {
 protected:
  CountingAllocator alloc;
  std::vector<std::string> reports;
  IPWState* s = nullptr;

  void SetUp() override {
    void* a = &alloc;
    ASSERT_EQ(w_IPWStateInit(CountingAllocator::c_malloc, CountingAllocator::c_calloc,
                             CountingAllocator::c_realloc, CountingAllocator::c_free, a,
                             CountingAllocator::c_malloc, CountingAllocator::c_calloc,
                             CountingAllocator::c_realloc, CountingAllocator::c_free, a, &collect,
                             &reports, nullptr, nullptr, nullptr, nullptr, &s),
              VLT_OK);
  }
  void TearDown() override {
    EXPECT_EQ(w_IPWStateTerm(&s), VLT_OK);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.foreign(), 0u);
  }

  static void collect(void* data, const char* text) {
    static_cast<std::vector<std::string>*>(data)->push_back(text);
  }

  PIXR* make(int32_t w, int32_t h, int32_t depth = 1, int32_t frame = 32) {
    PIXR* p = nullptr;
    EXPECT_EQ(w_createPixr(s, w, h, depth, kDpi300, kDpi300, frame, &p), VLT_OK);
    return p;
  }
  PIXR* from_ref(const RefBitmap& bm) {
    PIXR* p = make(bm.width, bm.height);
    for (int y = 0; y < bm.height; ++y) std::memcpy(line(p, y), bm.row(y), bm.stride);
    return p;
  }
  void destroy(PIXR*& p) { EXPECT_EQ(w_destroyPixr(s, &p), VLT_OK); }

  // Row y of the image (no frame) of a plain record.
  static uint8_t* line(PIXR* p, int32_t y) {
    return p->imageAll + static_cast<size_t>(p->frame) * p->bytesPerLine + p->frame * p->depth / 8 +
           static_cast<size_t>(y) * p->bytesPerLine;
  }
  // Pixel (x, y) in framed coordinates, frame pixels included.
  static uint32_t framed_pixel(const PIXR* p, int32_t x, int32_t y) {
    return mono::get_pixel(p->imageAll + static_cast<size_t>(y) * p->bytesPerLine, static_cast<size_t>(x),
                           static_cast<unsigned>(p->depth));
  }
  static RefBitmap to_ref(PIXR* p) {
    RefBitmap bm(p->width, p->height);
    for (int y = 0; y < p->height; ++y)
      for (int x = 0; x < p->width; ++x) bm.set(x, y, mono::get_bit(line(p, y), static_cast<size_t>(x)));
    return bm;
  }
  // Number of set frame pixels (1-bit frame 32 records).
  static long frame_ones(const PIXR* p) {
    long n = 0;
    const int32_t fw = p->width + 64, fh = p->height + 64;
    for (int32_t y = 0; y < fh; ++y)
      for (int32_t x = 0; x < fw; ++x)
        if ((x < 32 || y < 32 || x >= fw - 32 || y >= fh - 32) && framed_pixel(p, x, y) != 0) ++n;
    return n;
  }
};

}  // namespace pixrtest

#endif
