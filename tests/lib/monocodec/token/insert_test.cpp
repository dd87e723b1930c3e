// Run lists painted into bitmaps, and token bitmaps drawn into packed (plain and G4), grey and RGB
// images, against per-pixel references.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "byteorder.h"
#include "fax_encode.h"
#include "tok_fixture.h"
#include "tok_insert.h"

namespace {

using monotest::RefBitmap;
using toktest::rows_bitmap;

struct InsertTest : toktest::TokTest {
  // The bitmap painted from pairs, as a RefBitmap of wpr words' width.
  RefBitmap paint(const std::vector<uint16_t>& pairs, int height, int wpr, int offset, VltStatus* st) {
    uint8_t* bits = nullptr;
    *st = RunsToUnframedBitmap(&bits, pairs.data(), int32_t(pairs.size() / 2), height, wpr, offset, engine);
    RefBitmap bm(wpr * 32, height);
    if (*st != VLT_OK) return bm;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < wpr * 32; ++x) bm.set(x, y, mono::get_bit(bits + size_t(y) * wpr * 4, size_t(x)));
    engine->free(bits);
    return bm;
  }
  VltImage* image(int w, int h, int xo, int yo, uint16_t type = VLT_IMAGE_PACKED) {
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_newOffset(engine, type, w, h, xo, yo, &im), VLT_OK);
    return im;
  }
};

RefBitmap read_packed(const VltImage* im) {
  RefBitmap bm(im->hdr.width, im->hdr.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      bm.set(x, y, VltImage_getPackedPixel(im, x + im->hdr.xOffset, y + im->hdr.yOffset));
  return bm;
}

TEST(RunMasks, EntriesHoldColumnRangesInEitherOrderStoredBigEndian) {
  const uint32_t* t = MakeLongRunToBitmapLookup();
  EXPECT_EQ(t, MakeLongRunToBitmapLookup());
  for (int a = 0; a < 32; ++a)
    for (int b = 0; b < 32; ++b) {
      const int lo = std::min(a, b), hi = std::max(a, b);
      const uint32_t want = mono::left_mask32(unsigned(hi + 1)) & ~mono::left_mask32(unsigned(lo));
      ASSERT_EQ(mono::load_be32(&t[a * 32 + b]), want) << a << "," << b;
    }
  const auto* bytes = reinterpret_cast<const uint8_t*>(&t[0 * 32 + 7]);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0x00);
}

TEST_F(InsertTest, RunsToUnframedBitmapVectors) {
  struct Case {
    std::vector<uint16_t> pairs;
    int height, wpr, offset;
    std::vector<std::string> rows;  // the leading columns of each row
  };
  const Case cases[] = {
      {{0, 32}, 1, 1, 0, {"################################"}},
      {{5, 1}, 1, 1, 0, {".....#"}},
      {{0, 3, 2, 2}, 2, 1, 0, {"###.", "..##"}},               // 2 <= 2 + 1: the next row
      {{0, 2, 4, 1}, 1, 1, 0, {"##..#"}},                       // past the end + 1: same row
      {{0, 1, 2, 0, 1, 1}, 3, 1, 0, {"#..", "...", ".#."}},     // a marker to row 2
      {{7, 3, 8, 1}, 2, 1, 5, {"..###", "...#."}},              // columns shifted by the offset
      {{30, 40}, 2, 2, 0, {std::string(30, '.') + std::string(34, '#'), "######"}},  // into the next row
  };
  for (const Case& c : cases) {
    VltStatus st = VLT_OK;
    const RefBitmap bm = paint(c.pairs, c.height, c.wpr, c.offset, &st);
    ASSERT_EQ(st, VLT_OK);
    for (int y = 0; y < c.height; ++y) {
      std::string row;
      for (int x = 0; x < bm.width; ++x) row += bm.get(x, y) ? '#' : '.';
      EXPECT_EQ(row.substr(0, c.rows[size_t(y)].size()), c.rows[size_t(y)]) << "row " << y;
      EXPECT_EQ(row.find('#', c.rows[size_t(y)].size()), std::string::npos) << "row " << y;
    }
  }
  for (const auto& [pairs, offset] : {std::pair{std::vector<uint16_t>{0, 65}, 0},      // past the bitmap
                                      std::pair{std::vector<uint16_t>{0, 1, 0, 1, 0, 1}, 0},
                                      std::pair{std::vector<uint16_t>{3, 1}, 4}}) {       // left of column 0
    VltStatus st = VLT_OK;
    paint(pairs, 2, 1, offset, &st);
    EXPECT_EQ(st, VLT_ERR_ASSERT);
  }
}

// Random shapes written as run lists (with and without markers) paint back to themselves.
TEST_F(InsertTest, RunsPaintBackToTheirShape) {
  std::mt19937 rng(11);
  for (int iter = 0; iter < 200; ++iter) {
    const int w = 1 + int(rng() % 100), h = 1 + int(rng() % 12), wpr = (w + 31) / 32;
    const RefBitmap shape = monotest::make_noise(w, h, 0.5, rng());
    std::vector<uint16_t> pairs;
    int row = 0, prevLast = -100;
    for (int y = 0; y < h; ++y) {
      bool first = true;
      for (int x = 0; x < w;) {
        if (!shape.get(x, y)) {
          ++x;
          continue;
        }
        int e = x;
        while (e + 1 < w && shape.get(e + 1, y)) ++e;
        // A row's first run needs a marker unless it reads as the next row by itself.
        const bool implied = y == 0 ? prevLast == -100 : y == row + 1 && x <= prevLast + 1;
        if (first && (!implied || rng() % 4 == 0)) {
          pairs.insert(pairs.end(), {uint16_t(y), 0});
        }
        first = false;
        row = y;
        prevLast = e;
        pairs.insert(pairs.end(), {uint16_t(x), uint16_t(e - x + 1)});
        x = e + 1;
      }
    }
    VltStatus st = VLT_OK;
    const RefBitmap bm = paint(pairs, h, wpr, 0, &st);
    ASSERT_EQ(st, VLT_OK);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < wpr * 32; ++x) ASSERT_EQ(bm.get(x, y), x < w ? shape.get(x, y) : 0) << iter;
  }
}

// XOR into packed images with offsets, clipped on every side, plain and framed.
TEST_F(InsertTest, InsertBoxPackedClipsOnEverySide) {
  std::mt19937 rng(4);
  for (int iter = 0; iter < 300; ++iter) {
    const int W = 1 + int(rng() % 90), H = 1 + int(rng() % 40);
    const int xo = int(rng() % 64) - 32, yo = int(rng() % 20) - 10;
    const int framed = int(rng() % 2);
    VltImage* im = image(W, H, xo, yo);
    const RefBitmap before = monotest::make_noise(W, H, 0.3, rng());
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) VltImage_setPackedPixel(im, x + xo, y + yo, before.get(x, y));
    const RefBitmap shape = monotest::make_noise(1 + int(rng() % 70), 1 + int(rng() % 30), 0.6, rng());
    const uint32_t wpl = toktest::words_for(shape.width) + uint32_t(rng() % 2);
    std::vector<uint8_t> bits = toktest::packed(shape, wpl);
    const TokBitmap token{uint16_t(shape.width), uint16_t(shape.height), bits.data(), uint16_t(wpl), nullptr};
    const int x = xo - shape.width + int(rng() % (W + shape.width + 1)) - (framed ? 32 : 0);
    const int y = yo - shape.height + int(rng() % (H + shape.height + 1)) - (framed ? 32 : 0);
    InsertBoxPacked(im, x, y, &token, framed);
    RefBitmap want = before;
    for (int v = 0; v < shape.height; ++v)
      for (int u = 0; u < shape.width; ++u) {
        const int px = x + u + (framed ? 32 : 0) - xo, py = y + v + (framed ? 32 : 0) - yo;
        if (shape.get(u, v) && px >= 0 && px < W && py >= 0 && py < H) want.set(px, py, !want.get(px, py));
      }
    ASSERT_EQ(monotest::first_difference(want, read_packed(im)), "") << iter;
    VltImage_free(im);
  }
}

// G4 tokens decoded into a page, into their own rows, and as residuals; plain residuals too.
TEST_F(InsertTest, CodedTokensDecodeWhereTheyBelong) {
  std::mt19937 rng(9);
  const RefBitmap shape = monotest::make_text_blobs(70, 23, 5);
  const uint32_t wpl = toktest::words_for(shape.width);
  std::vector<uint8_t> bits = toktest::packed(shape, wpl);
  std::vector<uint8_t> coded(4096);
  size_t size = coded.size();
  ASSERT_EQ(g4Encode(reinterpret_cast<const uint32_t*>(bits.data()), shape.width, shape.height, int32_t(wpl),
                     coded.data(), &size, 0, engine),
            VLT_OK);

  FaxDecoder* dec = nullptr;
  ASSERT_EQ(DecodeCreate(&dec, engine), VLT_OK);
  for (int form = 0; form < 4; ++form) {
    VltImage* page = image(200, 60, 0, 0);
    const int x = 13 + form * 20, y = 7 + form;
    VltStatus st = VLT_OK;
    switch (form) {
      case 0: st = InsertCompressedBoxPacked(page, x, y, shape.width, shape.height, coded.data(), size, 0, engine); break;
      case 1: st = InsertCompressedBoxPackedC(page, x, y, shape.width, shape.height, coded.data(), size, 0, dec, engine); break;
      case 2: st = InsertResidual(page, coded.data(), size, x, y, shape.width, shape.height, 0, engine); break;
      default: st = InsertResidual(page, bits.data(), 0, x, y, shape.width, shape.height, 0, engine); break;
    }
    ASSERT_EQ(st, VLT_OK) << form;
    RefBitmap want(200, 60);
    for (int v = 0; v < shape.height; ++v)
      for (int u = 0; u < shape.width; ++u) want.set(x + u, y + v, shape.get(u, v));
    EXPECT_EQ(monotest::first_difference(want, read_packed(page)), "") << form;
    VltImage_free(page);
  }
  // A start outside the image is refused; a box reaching past the right edge is clipped.
  VltImage* small = image(40, 40, 0, 0);
  EXPECT_EQ(InsertCompressedBoxPacked(small, 0, 40, shape.width, shape.height, coded.data(), size, 0, engine),
            VLT_ERR_PARAM);
  EXPECT_EQ(InsertCompressedBoxPacked(small, 5, 30, shape.width, shape.height, coded.data(), size, 0, engine), VLT_OK);
  EXPECT_EQ(read_packed(small).get(39, 30), shape.get(34, 0));
  VltImage_free(small);

  for (const bool withDecoder : {false, true}) {
    auto* data = static_cast<uint8_t*>(engine->malloc(size));
    std::memcpy(data, coded.data(), size);
    TokCodedToken token{data, uint16_t(shape.width), uint16_t(shape.height), uint32_t(size), 0};
    uint8_t* old = nullptr;
    ASSERT_EQ(withDecoder ? decompressSingleUseTokenC(&token, &old, dec, engine)
                          : decompressSingleUseToken(&token, &old, engine),
              VLT_OK);
    EXPECT_EQ(old, data);
    EXPECT_EQ(token.codedLength, 0u);
    ASSERT_EQ(token.lineWords, wpl);
    EXPECT_EQ(std::vector<uint8_t>(token.data, token.data + bits.size()), bits);
    engine->free(old);
    engine->free(token.data);
  }
  // Corrupt data leaves the token as it was.
  std::vector<uint8_t> junk = {0x02, 0x02, 0x02};
  TokCodedToken bad{junk.data(), 50, 10, uint32_t(junk.size()), 0};
  uint8_t* old = reinterpret_cast<uint8_t*>(&bad);
  EXPECT_NE(decompressSingleUseToken(&bad, &old, engine), VLT_OK);
  EXPECT_EQ(old, nullptr);
  EXPECT_EQ(bad.data, junk.data());
  DecodeCleanUp(&dec);
}

TEST_F(InsertTest, GreyAndRgbCoverageCodes) {
  // Token bits and plane bits give the four codes 00, 01, 10, 11 in columns 0..3.
  const RefBitmap tokenBits = rows_bitmap({"..##"}), planeBits = rows_bitmap({".#.#"});
  std::vector<uint8_t> tb = toktest::packed(tokenBits, 1), pb = toktest::packed(planeBits, 1);
  const TokBitmap token{4, 1, tb.data(), 1, nullptr}, plane{4, 1, pb.data(), 1, nullptr};

  VltImage* grey = image(6, 2, 0, 0, VLT_IMAGE_GRAY);
  for (int x = 0; x < 6; ++x) *VltImage_pixel<uint8_t>(grey, x, 1) = 200;
  ASSERT_EQ(InsertBoxScaled(grey, 1, 1, &token, &plane), VLT_OK);
  const uint8_t greyWant[6] = {200, 200, 0, 0xAA, 0x55, 200};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(*VltImage_pixel<uint8_t>(grey, x, 1), greyWant[x]) << x;
  EXPECT_EQ(InsertBoxRGB(grey, 0, 0, &token, greyWant), VLT_ERR_PARAM);
  VltImage_free(grey);

  const uint8_t colour[3] = {30, 60, 90};
  VltImage* rgb = image(4, 1, 0, 0, VLT_IMAGE_RGB);
  VltImage* src = image(4, 1, 0, 0, VLT_IMAGE_RGB);
  const auto fill = [](VltImage* im, uint8_t v) {
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) VltImage_pixel<uint8_t>(im, x, 0)[c] = uint8_t(v + c);
  };
  const auto channel0 = [](VltImage* im) {
    std::vector<int> out;
    for (int x = 0; x < 4; ++x) out.push_back(VltImage_pixel<uint8_t>(im, x, 0)[0]);
    return out;
  };
  fill(src, 150);
  fill(rgb, 0);
  ASSERT_EQ(InsertBoxRGB_scaled(rgb, 0, 0, &token, &plane, colour), VLT_OK);
  EXPECT_EQ(channel0(rgb), (std::vector<int>{0, 30, 10, 20}));  // 00 stays, 01 colour, 10 (2*0+30)/3, 11 (60+0)/3
  fill(rgb, 0);
  ASSERT_EQ(InsertSampledBox_scaled(rgb, src, 0, 0, &token, &plane), VLT_OK);
  EXPECT_EQ(channel0(rgb), (std::vector<int>{0, 150, 50, 100}));
  fill(rgb, 0);
  ASSERT_EQ(InsertBoxRGB(rgb, 1, 0, &token, colour), VLT_OK);  // clipped at the right edge
  EXPECT_EQ(channel0(rgb), (std::vector<int>{0, 0, 0, 30}));
  fill(rgb, 0);
  ASSERT_EQ(InsertSampledBox(rgb, src, -1, 0, &token), VLT_OK);  // and at the left
  EXPECT_EQ(channel0(rgb), (std::vector<int>{0, 150, 150, 0}));
  EXPECT_EQ(VltImage_pixel<uint8_t>(rgb, 1, 0)[2], 152);
  VltImage_free(rgb);
  VltImage_free(src);
}

}  // namespace
