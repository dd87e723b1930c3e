// One-bit blitter against the per-pixel reference: every operation, every destination alignment
// in two words, widths 1-100, clipping on all four sides, exactly sized buffers (so AddressSanitizer
// sees any access past the last row) and garbage in the source's row padding.

#include <gtest/gtest.h>

#include "report_collector.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "blit_reference.h"
#include "byteorder.h"
#include "vlt_blit.h"
#include "vlt_image.h"
#include "vlt_state.h"

namespace {

std::vector<uint8_t> noise(size_t n, std::mt19937& rng) {
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::string where(int op, int x, int y, int w, int h, int l, int t, int r, int b) {
  return "op " + std::to_string(op) + " at (" + std::to_string(x) + "," + std::to_string(y) +
         ") size " + std::to_string(w) + "x" + std::to_string(h) + " clip [" + std::to_string(l) +
         "," + std::to_string(r) + ")x[" + std::to_string(t) + "," + std::to_string(b) + ")";
}

constexpr int kDstWords = 7;  // room for alignment 63 + width 100 + a word more
constexpr int kDstWidth = kDstWords * 32;
constexpr int kDstHeight = 9;

struct Case {
  int op, x, y, w, h, left, top, right, bottom;
};

// Runs one blit through the library (operation code 14 by the OR entry, the others by the
// operation entry) and through the reference, and compares every byte of the destination.
void check(const Case& c, std::mt19937& rng) {
  const int src_words = (c.w + 31) / 32 + static_cast<int>(rng() % 2);
  const auto src = noise(static_cast<size_t>(src_words) * 4 * c.h, rng);  // padding is garbage
  // The reference reads only pixels inside the width, so the padding must not matter.
  auto dst = noise(static_cast<size_t>(kDstWords) * 4 * kDstHeight, rng);
  auto want = dst;
  monotest::ref_blit(want.data(), kDstWords * 4, c.left, c.top, c.right, c.bottom, src.data(),
                     static_cast<size_t>(src_words) * 4, c.w, c.h, c.x, c.y, c.op);
  if (c.op == VLT_BLIT_OR) {
    VltBlat_blitBits(dst.data(), kDstWords, c.left, c.top, c.right, c.bottom, src.data(),
                     src_words, c.w, c.h, c.x, c.y);
  } else {
    ASSERT_EQ(VltBlat_blitBitsOp(dst.data(), kDstWords, c.left, c.top, c.right, c.bottom,
                                 src.data(), src_words, c.w, c.h, c.x, c.y, c.op),
              VLT_OK);
  }
  ASSERT_EQ(dst, want) << where(c.op, c.x, c.y, c.w, c.h, c.left, c.top, c.right, c.bottom);
}

TEST(Blitter, EveryOperationAlignmentWidthAndClipMatchesTheReference) {
  std::mt19937 rng(1234);
  for (int op : {VLT_BLIT_XOR, VLT_BLIT_AND, VLT_BLIT_XNOR, VLT_BLIT_REPLACE, VLT_BLIT_OR,
                 VLT_BLIT_CLEAR}) {
    for (int align = 0; align < 64; ++align) {
      for (int w = 1; w <= 100; ++w) {
        const int h = 1 + static_cast<int>(rng() % 4);
        // Whole source inside the destination, down to its last row.
        const int y = static_cast<int>(rng() % (kDstHeight - h + 1));
        check({op, align, y, w, h, 0, 0, kDstWidth, kDstHeight}, rng);
        // Clipped on a random mix of sides: the clip rectangle inside the destination, the source
        // placed anywhere from wholly left/above it to wholly right/below it.
        const int left = static_cast<int>(rng() % 40), right = kDstWidth - static_cast<int>(rng() % 40);
        const int top = static_cast<int>(rng() % 3), bottom = kDstHeight - static_cast<int>(rng() % 3);
        const int x = left - w + static_cast<int>(rng() % static_cast<unsigned>(right - left + w + 1));
        const int cy = top - h + static_cast<int>(rng() % static_cast<unsigned>(bottom - top + h + 1));
        // Keep the destination alignment under test for the placements that start inside.
        const int xa = x >= left ? x - (x % 64) + align : x;
        check({op, xa < right ? xa : x, cy, w, h, left, top, right, bottom}, rng);
      }
    }
  }
}

TEST(Blitter, ClippedVariantsTakeAnySourceWindow) {
  using Fn = void (*)(uint8_t*, int32_t, const uint8_t*, int32_t, int32_t, int32_t, int32_t,
                      int32_t, int32_t);
  const struct {
    Fn fn;
    int op;
  } variants[] = {{VltBlat_blitBitsClipLR, VLT_BLIT_OR},
                  {VltBlat_blitBitsClipLRREPLACE, VLT_BLIT_REPLACE},
                  {VltBlat_blitBitsClipLRAND, VLT_BLIT_AND},
                  {VltBlat_blitBitsClipLRXOR, VLT_BLIT_XOR},
                  {VltBlat_blitBitsClipLRXNOR, VLT_BLIT_XNOR}};
  std::mt19937 rng(99);
  for (const auto& v : variants) {
    for (int first = 0; first < 64; ++first) {
      for (int w = 1; w <= 100; w += 3) {
        const int h = 1 + static_cast<int>(rng() % 3);
        const int x = static_cast<int>(rng() % (kDstWidth - w + 1));
        const int y = static_cast<int>(rng() % (kDstHeight - h + 1));
        const int src_words = (first + w + 31) / 32;
        const auto src = noise(static_cast<size_t>(src_words) * 4 * h, rng);
        auto dst = noise(static_cast<size_t>(kDstWords) * 4 * kDstHeight, rng);
        auto want = dst;
        // The window [first, first + w) of the source is a source of its own placed at x - first,
        // clipped to start at x.
        monotest::ref_blit(want.data(), kDstWords * 4, x, 0, x + w, kDstHeight, src.data(),
                           static_cast<size_t>(src_words) * 4, first + w, h, x - first, y, v.op);
        v.fn(dst.data(), kDstWords, src.data(), src_words, first, w, h, x, y);
        ASSERT_EQ(dst, want) << "op " << v.op << " first " << first << " width " << w;
      }
    }
  }
}

TEST(Blitter, NoClipOrSpillsOnlyIntoTheRow) {
  std::mt19937 rng(5);
  for (int align = 0; align < 64; ++align) {
    for (int w = 1; w <= 100; ++w) {
      // The destination row is exactly as long as the blit needs.
      const int words = (align + w + 31) / 32;
      const int src_words = (w + 31) / 32;
      const auto src = noise(static_cast<size_t>(src_words) * 4 * 2, rng);
      auto dst = noise(static_cast<size_t>(words) * 4 * 2, rng);
      auto want = dst;
      monotest::ref_blit(want.data(), static_cast<size_t>(words) * 4, 0, 0, words * 32, 2,
                         src.data(), static_cast<size_t>(src_words) * 4, w, 2, align, 0, VLT_BLIT_OR);
      VltBlat_blitBitsNoClip(dst.data(), words, src.data(), src_words, w, 2, align, 0);
      ASSERT_EQ(dst, want) << "alignment " << align << " width " << w;
    }
  }
}

TEST(Blitter, EdgeCases) {
  const uint8_t one[4] = {0x80, 0, 0, 0};
  uint8_t row[8] = {};
  VltBlat_blitBits(row, 2, 0, 0, 64, 1, one, 1, 1, 1, 31, 0);
  EXPECT_EQ(row[3], 0x01);
  VltBlat_blitBits(row, 2, 0, 0, 64, 1, one, 1, 1, 1, 32, 0);
  EXPECT_EQ(row[4], 0x80);

  // A source wholly outside the clip rectangle changes nothing.
  uint8_t full[8];
  std::memset(full, 0x5A, sizeof full);
  const uint8_t black[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  for (int x : {-40, 64, 70}) {
    VltBlat_blitBits(full, 2, 0, 0, 64, 1, black, 1, 32, 1, x, 0);
    EXPECT_EQ(VltBlat_blitBitsOp(full, 2, 0, 0, 64, 1, black, 1, 32, 1, x, 0, VLT_BLIT_REPLACE),
              VLT_OK);
  }
  EXPECT_EQ(VltBlat_blitBitsOp(full, 2, 0, 0, 64, 1, black, 1, 32, 1, 0, 5, VLT_BLIT_XOR), VLT_OK);
  for (uint8_t b : full) EXPECT_EQ(b, 0x5A);

  // An unknown operation is refused and changes nothing.
  EXPECT_EQ(VltBlat_blitBitsOp(full, 2, 0, 0, 64, 1, black, 1, 32, 1, 0, 0, 7), VLT_ERR_CONSISTENCY);
  for (uint8_t b : full) EXPECT_EQ(b, 0x5A);
}

struct StateFixture : testing::Test {
  monotest::CollectedReports printed;
  VltState* state = nullptr;
  void SetUp() override { ASSERT_EQ(Vlt_initVltState(&state, nullptr, nullptr, &printed, monotest::collect_report, 0, 0), VLT_OK); }
  void TearDown() override { Vlt_cleanupVltState(&state); }
  VltImage* packed(int w, int h, int xo = 0, int yo = 0) {
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_newOffset(state, VLT_IMAGE_PACKED, w, h, xo, yo, &im), VLT_OK);
    return im;
  }
};

using PackedBlit = StateFixture;

TEST_F(PackedBlit, FillSetsWholeWordsAndTheHeadOfTheLast) {
  VltImage* im = packed(33, 3);
  VltBlat_blitFillPacked(im);
  for (int y = 0; y < 3; ++y) {
    const uint8_t* r = im->rows[y];
    EXPECT_EQ(std::vector<uint8_t>(r, r + 8),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0}));
  }
  VltImage_free(im);
}

TEST_F(PackedBlit, OffsetsPlaceTheTokenAndEveryOperationMatchesTheReference) {
  std::mt19937 rng(77);
  for (int op : {VLT_BLIT_XOR, VLT_BLIT_AND, VLT_BLIT_XNOR, VLT_BLIT_REPLACE, VLT_BLIT_OR}) {
    for (int trial = 0; trial < 200; ++trial) {
      const int pw = 40 + static_cast<int>(rng() % 60), ph = 5 + static_cast<int>(rng() % 10);
      const int tw = 1 + static_cast<int>(rng() % 50), th = 1 + static_cast<int>(rng() % 8);
      const int pxo = static_cast<int>(rng() % 5) - 2, pyo = static_cast<int>(rng() % 5) - 2;
      const int txo = static_cast<int>(rng() % 5) - 2, tyo = static_cast<int>(rng() % 5) - 2;
      VltImage* page = packed(pw, ph, pxo, pyo);
      VltImage* token = packed(tw, th, txo, tyo);
      for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) VltImage_setPackedPixel(page, x + pxo, y + pyo, rng() & 1);
      for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) VltImage_setPackedPixel(token, x + txo, y + tyo, rng() & 1);
      const int x = static_cast<int>(rng() % static_cast<unsigned>(pw + tw)) - tw;
      const int y = static_cast<int>(rng() % static_cast<unsigned>(ph + th)) - th;
      const size_t page_bytes = static_cast<size_t>(page->hdr.bytesPerLine) * ph;
      std::vector<uint8_t> want(page->rows[0], page->rows[0] + page_bytes);
      monotest::ref_blit(want.data(), static_cast<size_t>(page->hdr.bytesPerLine), 0, 0, pw, ph,
                         token->rows[0], static_cast<size_t>(token->hdr.bytesPerLine), tw, th,
                         x + txo - pxo, y + tyo - pyo, op);
      if (op == VLT_BLIT_OR && (trial & 1))
        VltBlat_blitPacked(page, token, x, y);
      else
        ASSERT_EQ(VltBlat_blitPackedOp(page, token, x, y, op), VLT_OK);
      ASSERT_EQ(std::vector<uint8_t>(page->rows[0], page->rows[0] + page_bytes), want)
          << "op " << op << " trial " << trial;
      VltImage_free(page);
      VltImage_free(token);
    }
  }
  EXPECT_TRUE(printed.codes.empty());
}

TEST_F(PackedBlit, TokenOffsetShiftsThePlacement) {
  VltImage* page = packed(16, 1);
  VltImage* token = packed(1, 1, 2, 0);
  VltImage_setPackedPixel(token, 2, 0, 1);
  VltBlat_blitPacked(page, token, 0, 0);
  EXPECT_EQ(VltImage_getPackedPixel(page, 2, 0), 1);
  EXPECT_EQ(page->rows[0][0], 0x20);
  VltImage_free(page);
  VltImage_free(token);
}

TEST_F(PackedBlit, UnknownOperationIsReportedAndChangesNothing) {
  VltImage* page = packed(32, 2);
  VltImage* token = packed(8, 2);
  VltBlat_blitFillPacked(token);
  for (int op : {0, 7, 18, 15, -1}) {
    EXPECT_EQ(VltBlat_blitPackedOp(page, token, 0, 0, op), VLT_ERR_CONSISTENCY);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(mono::load_be32(page->rows[y]), 0u);
  }
  EXPECT_EQ(printed.codes, std::vector<VltStatus>(5, VLT_ERR_CONSISTENCY));
  EXPECT_NE(printed.text.find("bad blitop"), std::string::npos);
  VltImage_free(page);
  VltImage_free(token);
}

}  // namespace
