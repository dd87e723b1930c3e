// Small image utilities: CMYK conversion, framed page buffers, conversions to and from PIXR
// records (pixels read back through the wrapper), scaling of RGB images, coded tokens.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "byteorder.h"
#include "fax_encode.h"
#include "pixr_geom.h"
#include "tok_fixture.h"
#include "tok_imgutil.h"

namespace toktest {
namespace {

TEST(ImageUtilities, CmykToRgb) {
  const struct {
    uint32_t cmyk;
    uint8_t r, g, b;
  } cases[] = {
      {0x00000000, 255, 255, 255}, {0x000000FF, 0, 0, 0},       {0xFF000000, 0, 255, 255},
      {0x80000000, 127, 255, 255}, {0x00FF0000, 255, 0, 255},   {0x0000FF00, 255, 255, 0},
  };
  for (const auto& c : cases) {
    uint8_t rgb[3] = {};
    cmyk2rgb(c.cmyk, rgb);
    EXPECT_EQ(rgb[0], c.r) << std::hex << c.cmyk;
    EXPECT_EQ(rgb[1], c.g) << std::hex << c.cmyk;
    EXPECT_EQ(rgb[2], c.b) << std::hex << c.cmyk;
  }
  const int32_t one[] = {-7};
  const int32_t many[] = {3, -1, 9, 9, 2};
  EXPECT_EQ(find_max_of_ints(one, 1), -7);
  EXPECT_EQ(find_max_of_ints(many, 5), 9);
}

struct ImageUtilTest : TokTest {
  ImageUtilTest() { wrapper = 1; }
  IPWState* w() const { return engine->ipwState; }

  // An RGB image of random bytes, addressed from (xo, yo).
  VltImage* random_rgb(int width, int height, uint32_t seed, int xo = 0, int yo = 0) {
    std::mt19937 rng(seed);
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_newOffset(engine, VLT_IMAGE_RGB, width, height, xo, yo, &im), VLT_OK);
    for (int y = 0; y < height; ++y)
      for (int b = 0; b < 3 * width; ++b) im->rows[y][b] = uint8_t(rng());
    return im;
  }
  // Pixel x of line y of one channel of a PIXR.
  uint8_t channel_pixel(const PIXR* p, int c, int x, int y) const {
    PIXR* ch = nullptr;
    uint8_t* line = nullptr;
    EXPECT_EQ(w_pixrGetChannel(w(), p, c, &ch), VLT_OK);
    EXPECT_EQ(w_pixrGetLine(w(), ch, y, &line), VLT_OK);
    return line[x];
  }
  // The 1-bit pixels of a PIXR, frame included (x, y from -32).
  RefBitmap framed_bits(const PIXR* p) const {
    RefBitmap bm(p->width + 64, p->height + 64);
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        bm.set(x, y, mono::get_bit(p->imageAll + size_t(y) * size_t(p->bytesPerLine), size_t(x)));
    return bm;
  }
  // Runs op with every allocation failing in turn: a failure leaves nothing behind, and op
  // eventually succeeds (then done releases what it made).
  void each_allocation_fails(const std::function<VltStatus()>& op, const std::function<void()>& done) {
    bool completed = false;
    for (size_t k = 1; k < 500 && !completed; ++k) {
      alloc.fail_at(k);
      const VltStatus st = op();
      alloc.fail_at(0);
      completed = st == VLT_OK;
      if (completed) done();
      ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
    }
    EXPECT_TRUE(completed);
  }
};

TEST_F(ImageUtilTest, RgbImageFromCmykKeepsSizeAndOffsets) {
  VltImage* cmyk = nullptr;
  ASSERT_EQ(VltImage_newOffset(engine, VLT_IMAGE_WORD, 3, 2, 5, 7, &cmyk), VLT_OK);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) mono::store_be32(cmyk->rows[y] + 4 * x, y == 1 && x == 2 ? 0xFF000000u : 0u);
  VltImage* rgb = nullptr;
  ASSERT_EQ(limtorgbim(cmyk, &rgb), VLT_OK);
  EXPECT_EQ(rgb->hdr.type, VLT_IMAGE_RGB);
  EXPECT_EQ(rgb->hdr.xOffset, 5);
  EXPECT_EQ(rgb->hdr.yOffset, 7);
  EXPECT_EQ(rgb->rows[0][0], 255);
  EXPECT_EQ(rgb->rows[1][6], 0);
  EXPECT_EQ(rgb->rows[1][7], 255);
  VltImage_free(rgb);
  VltImage_free(cmyk);
}

TEST_F(ImageUtilTest, FramedPageBufferIsZeroedAndFramed) {
  VltImage* image = nullptr;
  int32_t xOffset = -1;
  ASSERT_EQ(pimNewFrameAligned(engine, 100, 10, &xOffset, &image), VLT_OK);
  EXPECT_EQ(xOffset, 0);
  EXPECT_EQ(image->hdr.width, 164);
  EXPECT_EQ(image->hdr.height, 74);
  EXPECT_GE(image->hdr.bytesPerLine * 8, 164);
  for (int y = 0; y < 74; ++y)
    for (int b = 0; b < image->hdr.bytesPerLine; ++b) ASSERT_EQ(image->rows[y][b], 0);
  uint8_t* buffer = nullptr;
  ASSERT_EQ(VltImage_unwrap(image, &buffer), VLT_OK);
  engine->free(buffer);
}

// RGB images to PIXR channels and back, and CMYK words through cmyk2rgb into channels; the
// images are addressed from non-zero offsets, and rows of the CMYK image are wider than its pixels.
TEST_F(ImageUtilTest, RgbAndCmykChannelsRoundTrip) {
  VltImage* rgb = random_rgb(37, 11, 3, 4, 9);
  PIXR* p = nullptr;
  ASSERT_EQ(rgbimtorgbpixr(engine, rgb, &p), VLT_OK);
  ASSERT_EQ(p->channelCount, 3);
  EXPECT_EQ(p->channels[0]->width, 37);
  EXPECT_EQ(p->channels[0]->height, 11);
  EXPECT_EQ(p->channels[0]->depth, 8);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 37; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(channel_pixel(p, c, x, y), rgb->rows[y][3 * x + c]) << x << "," << y;
  VltImage* back = nullptr;
  ASSERT_EQ(pixrtorgb(engine, p, &back), VLT_OK);
  ASSERT_EQ(back->hdr.type, VLT_IMAGE_RGB);
  ASSERT_EQ(back->hdr.width, 37);
  for (int y = 0; y < 11; ++y)
    ASSERT_EQ(std::memcmp(back->rows[y], rgb->rows[y], 3 * 37), 0) << y;
  VltImage_free(back);
  w_destroyPixr(w(), &p);
  // The same through the type switch.
  ASSERT_EQ(tc_convertToPixr(engine, rgb, &p), VLT_OK);
  EXPECT_EQ(channel_pixel(p, 2, 36, 10), rgb->rows[10][3 * 36 + 2]);
  w_destroyPixr(w(), &p);
  VltImage_free(rgb);

  std::mt19937 rng(5);
  VltImage* cmyk = nullptr;
  ASSERT_EQ(VltImage_newOffset(engine, VLT_IMAGE_WORD, 13, 6, -3, 2, &cmyk), VLT_OK);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 13; ++x) mono::store_be32(cmyk->rows[y] + 4 * x, uint32_t(rng()));
  ASSERT_EQ(limtorgbpixr(engine, cmyk, &p), VLT_OK);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 13; ++x) {
      uint8_t want[3];
      cmyk2rgb(mono::load_be32(cmyk->rows[y] + 4 * x), want);
      for (int c = 0; c < 3; ++c) ASSERT_EQ(channel_pixel(p, c, x, y), want[c]) << x << "," << y;
    }
  // The frame stays clear.
  PIXR* red = p->channels[0];
  for (int y = 0; y < 6 + 64; ++y)
    for (int x = 0; x < 13 + 64; ++x) {
      if (x < 32 || y < 32 || x >= 32 + 13 || y >= 32 + 6) {
        ASSERT_EQ(red->imageAll[size_t(y) * size_t(red->bytesPerLine) + size_t(x)], 0) << x << "," << y;
      }
    }
  w_destroyPixr(w(), &p);
  VltImage_free(cmyk);
}

// Packed rows into a framed 1-bit PIXR: bits past the width (set in the source) stay out of the
// frame, the resolution is 300 dpi.
TEST_F(ImageUtilTest, PackedRowsIntoFramedPixr) {
  const RefBitmap page = monotest::make_text_blobs(45, 17, 2);
  std::vector<uint8_t> rows = packed(page, 3);
  for (int y = 0; y < 17; ++y)
    for (int x = 45; x < 96; ++x) mono::set_bit(rows.data() + size_t(y) * 12, size_t(x), 1);
  RefBitmap want(45 + 64, 17 + 64);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 45; ++x) want.set(x + 32, y + 32, page.get(x, y));

  PIXR* p = nullptr;
  ASSERT_EQ(noFramedPackedToPixr(engine, rows.data(), 45, 17, 3, &p), VLT_OK);
  EXPECT_EQ(p->xRes, 19660800);
  EXPECT_EQ(p->yRes, 19660800);
  EXPECT_EQ(monotest::first_difference(want, framed_bits(p)), "");
  w_destroyPixr(w(), &p);
  EXPECT_EQ(noFramedPackedToPixr(engine, rows.data(), 45, 17, 1, &p), VLT_ERR_PARAM) << "rows too short";

  VltImage* image = nullptr;
  ASSERT_EQ(VltImage_wrap(engine, rows.data(), 45, 17, 3, &image), VLT_OK);
  ASSERT_EQ(tc_convertToPixr(engine, image, &p), VLT_OK);
  EXPECT_EQ(monotest::first_difference(want, framed_bits(p)), "");
  w_destroyPixr(w(), &p);
  VltImage_unwrap(image, nullptr);
}

// A framed page buffer handed over to a PIXR keeps its pixels where they were and is freed with it.
TEST_F(ImageUtilTest, FramedBufferBecomesPixr) {
  const RefBitmap page = monotest::make_text_blobs(70, 9, 4);
  VltImage* image = nullptr;
  int32_t xOffset = -1;
  ASSERT_EQ(pimNewFrameAligned(engine, 70, 9, &xOffset, &image), VLT_OK);
  RefBitmap want(70 + 64, 9 + 64);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 70; ++x) {
      VltImage_setPackedPixel(image, x + 32, y + 32, page.get(x, y));
      want.set(x + 32, y + 32, page.get(x, y));
    }
  PIXR* p = nullptr;
  EXPECT_EQ(packedtopixr(engine, image, 16, &p), VLT_ERR_PARAM) << "a frame the wrapper has no layout for";
  VltImage* owned = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_PACKED, 134, 73, &owned), VLT_OK);
  EXPECT_EQ(packedtopixr(engine, owned, 32, &p), VLT_ERR_PARAM) << "the image's own store cannot change owner";
  VltImage_free(owned);
  ASSERT_EQ(packedtopixr(engine, image, 32, &p), VLT_OK);
  EXPECT_EQ(p->width, 70);
  EXPECT_EQ(p->height, 9);
  EXPECT_EQ(p->frame, 32);
  EXPECT_EQ(p->depth, 1);
  EXPECT_EQ(monotest::first_difference(want, framed_bits(p)), "");
  w_destroyPixr(w(), &p);
}

TEST_F(ImageUtilTest, ConversionRefusals) {
  PIXR* p = nullptr;
  VltImage* grey = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 4, 4, &grey), VLT_OK);
  testing::internal::CaptureStdout();
  EXPECT_EQ(tc_convertToPixr(engine, grey, &p), VLT_ERR_ILLEGAL_TYPE);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "do not support this format\n");
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(tc_convertToPixr(engine, nullptr, &p), VLT_ERR_PARAM);
  EXPECT_EQ(tc_convertToPixr(engine, grey, nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(rgbimtorgbpixr(engine, grey, &p), VLT_ERR_PARAM);
  EXPECT_EQ(limtorgbpixr(engine, grey, &p), VLT_ERR_PARAM);
  ASSERT_EQ(w_createPixr(w(), 4, 4, 8, 0, 0, 32, &p), VLT_OK);
  VltImage* out = nullptr;
  EXPECT_NE(pixrtorgb(engine, p, &out), VLT_OK) << "one channel";
  EXPECT_EQ(out, nullptr);
  w_destroyPixr(w(), &p);
  VltImage_free(grey);
}

// Every allocation of the conversions failing in turn.
TEST_F(ImageUtilTest, ConversionAllocationFailuresLeaveNothing) {
  VltImage* rgb = random_rgb(20, 7, 8);
  VltImage* cmyk = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_WORD, 20, 7, &cmyk), VLT_OK);
  const size_t start = baseline;
  baseline = alloc.live_blocks();
  PIXR* p = nullptr;
  VltImage* out = nullptr;
  const auto drop_pixr = [&] { w_destroyPixr(w(), &p); };
  each_allocation_fails([&] { return rgbimtorgbpixr(engine, rgb, &p); }, drop_pixr);
  each_allocation_fails([&] { return limtorgbpixr(engine, cmyk, &p); }, drop_pixr);
  each_allocation_fails([&] { return tc_convertToPixr(engine, rgb, &p); }, drop_pixr);
  ASSERT_EQ(rgbimtorgbpixr(engine, rgb, &p), VLT_OK);
  const size_t withPixr = alloc.live_blocks(), before = baseline;
  baseline = withPixr;
  each_allocation_fails([&] { return pixrtorgb(engine, p, &out); }, [&] { VltImage_free(out); });
  w_destroyPixr(w(), &p);
  baseline = before;
  each_allocation_fails(
      [&] {
        VltImage* image = nullptr;
        int32_t xo = 0;
        VltStatus st = pimNewFrameAligned(engine, 40, 5, &xo, &image);
        if (st != VLT_OK) return st;
        st = packedtopixr(engine, image, 32, &p);
        if (st != VLT_OK) {
          uint8_t* buffer = nullptr;
          VltImage_unwrap(image, &buffer);
          engine->free(buffer);
        }
        return st;
      },
      drop_pixr);
  VltImage_free(cmyk);
  VltImage_free(rgb);
  baseline = start;
}

// Each channel is scaled as a grey image of its own would be; a flat colour stays flat.
TEST_F(ImageUtilTest, ScaledImageIsEachChannelScaled) {
  VltImage* rgb = random_rgb(100, 50, 11);
  for (int y = 20; y < 50; ++y)
    for (int x = 0; x < 100; ++x) {
      rgb->rows[y][3 * x] = 0x64;
      rgb->rows[y][3 * x + 1] = 0xC8;
      rgb->rows[y][3 * x + 2] = 0x20;
    }
  VltImage* scaled = nullptr;
  ASSERT_EQ(scale_sampled_image(engine, rgb, &scaled, 3.0f), VLT_OK);
  ASSERT_EQ(scaled->hdr.type, VLT_IMAGE_RGB);
  ASSERT_EQ(scaled->hdr.width, 33);
  ASSERT_EQ(scaled->hdr.height, 16);
  for (int c = 0; c < 3; ++c) {
    PIXR* grey = nullptr;
    ASSERT_EQ(w_createPixr(w(), 100, 50, 8, 0, 0, 32, &grey), VLT_OK);
    for (int y = 0; y < 50; ++y) {
      uint8_t* line = nullptr;
      ASSERT_EQ(w_pixrGetLine(w(), grey, y, &line), VLT_OK);
      for (int x = 0; x < 100; ++x) line[x] = rgb->rows[y][3 * x + c];
    }
    PIXR* small = nullptr;
    ASSERT_EQ(w_scaleLinearSize(w(), grey, 33, 16, &small), VLT_OK);
    for (int y = 0; y < 16; ++y) {
      uint8_t* line = nullptr;
      ASSERT_EQ(w_pixrGetLine(w(), small, y, &line), VLT_OK);
      for (int x = 0; x < 33; ++x) ASSERT_EQ(scaled->rows[y][3 * x + c], line[x]) << c << ":" << x << "," << y;
    }
    w_destroyPixr(w(), &small);
    w_destroyPixr(w(), &grey);
  }
  // Rows well inside the flat part keep the colour (the scaler drops the lowest bit).
  for (int y = 8; y < 15; ++y)
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(scaled->rows[y][3 * x], 0x64) << x << "," << y;
      ASSERT_EQ(scaled->rows[y][3 * x + 1], 0xC8);
      ASSERT_EQ(scaled->rows[y][3 * x + 2], 0x20);
    }
  VltImage_free(scaled);

  ASSERT_EQ(scale_sampled_image(engine, rgb, &scaled, 0.5f), VLT_OK);
  EXPECT_EQ(scaled->hdr.width, 200);
  EXPECT_EQ(scaled->hdr.height, 100);
  VltImage_free(scaled);
  ASSERT_EQ(scale_sampled_image(engine, rgb, &scaled, 60.0f), VLT_OK) << "a size that truncates to nothing";
  EXPECT_EQ(scaled->hdr.width, 1);
  EXPECT_EQ(scaled->hdr.height, 0);
  VltImage_free(scaled);
  for (const float bad : {0.0f, -2.0f, std::nanf("")}) {
    scaled = nullptr;
    EXPECT_EQ(scale_sampled_image(engine, rgb, &scaled, bad), VLT_ERR_PARAM) << bad;
    EXPECT_EQ(scaled, nullptr);
  }
  VltImage* grey = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_GRAY, 4, 4, &grey), VLT_OK);
  EXPECT_EQ(scale_sampled_image(engine, grey, &scaled, 2.0f), VLT_ERR_PARAM);
  VltImage_free(grey);
  VltImage_free(rgb);
}

// Arrays and lists of images are scaled in order; any failure leaves nothing behind.
TEST_F(ImageUtilTest, ScaledSetsKeepOrderAndFailCleanly) {
  VltImage* images[3] = {random_rgb(30, 12, 1), random_rgb(9, 40, 2), random_rgb(64, 8, 3)};
  VltAdtList* list = nullptr;
  ASSERT_EQ(VltAdt_liNew(&list, engine), VLT_OK);
  for (VltImage* im : images) ASSERT_EQ(VltAdt_liAdd(list, im, nullptr), VLT_OK);
  const size_t start = baseline;
  baseline = alloc.live_blocks();

  VltImage** array = nullptr;
  ASSERT_EQ(scale_sampled_images(images, 3, 2.0f, &array, engine), VLT_OK);
  VltAdtList* scaledList = nullptr;
  ASSERT_EQ(scale_sampled_imagesL(list, 2.0f, &scaledList, engine), VLT_OK);
  ASSERT_EQ(scaledList->count, 3u);
  VltAdtListNode* n = scaledList->first;
  for (int i = 0; i < 3; ++i, n = n->next) {
    VltImage* one = nullptr;
    ASSERT_EQ(scale_sampled_image(engine, images[i], &one, 2.0f), VLT_OK);
    for (VltImage* got : {array[i], static_cast<VltImage*>(n->data)}) {
      ASSERT_EQ(got->hdr.width, one->hdr.width) << i;
      ASSERT_EQ(got->hdr.height, one->hdr.height) << i;
      for (int y = 0; y < one->hdr.height; ++y)
        ASSERT_EQ(std::memcmp(got->rows[y], one->rows[y], 3 * size_t(one->hdr.width)), 0) << i << "," << y;
    }
    VltImage_free(one);
    VltImage_free(array[i]);
    VltImage_free(static_cast<VltImage*>(n->data));
  }
  engine->free(array);
  VltAdt_liFree(scaledList);

  each_allocation_fails([&] { return scale_sampled_images(images, 3, 1.5f, &array, engine); },
                        [&] {
                          for (VltImage* im : std::vector<VltImage*>(array, array + 3)) VltImage_free(im);
                          engine->free(array);
                        });
  each_allocation_fails([&] { return scale_sampled_imagesL(list, 1.5f, &scaledList, engine); },
                        [&] {
                          for (VltAdtListNode* m = scaledList->first; m != nullptr; m = m->next)
                            VltImage_free(static_cast<VltImage*>(m->data));
                          VltAdt_liFree(scaledList);
                        });
  VltAdt_liFree(list);
  for (VltImage* im : images) VltImage_free(im);
  baseline = start;
}

// Coded tokens are decoded where they are coded and have a width; the first failure stops the walk.
TEST_F(ImageUtilTest, CodedTokensAreDecodedInPlace) {
  const RefBitmap shapes[2] = {monotest::make_text_blobs(40, 12, 6), monotest::make_text_blobs(70, 9, 7)};
  std::vector<uint8_t> coded[2];
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> bits = packed(shapes[i], words_for(shapes[i].width));
    coded[i].resize(2048);
    size_t size = coded[i].size();
    ASSERT_EQ(g4Encode(reinterpret_cast<const uint32_t*>(bits.data()), shapes[i].width, shapes[i].height,
                       int32_t(words_for(shapes[i].width)), coded[i].data(), &size, 0, engine),
              VLT_OK);
    coded[i].resize(size);
  }
  const auto copy = [&](const std::vector<uint8_t>& v) {
    auto* p = static_cast<uint8_t*>(engine->malloc(v.size()));
    std::memcpy(p, v.data(), v.size());
    return p;
  };
  auto* plain = static_cast<uint8_t*>(engine->calloc(1, 8));
  const std::vector<uint8_t> junk = {0x02, 0x02, 0x02};
  TokCodedToken tokens[5] = {
      {copy(coded[0]), 40, 12, uint32_t(coded[0].size()), 0},
      {plain, 33, 1, 0, 2},                                // already decoded
      {copy(junk), 0, 5, uint32_t(junk.size()), 0},        // no width: left coded
      {copy(coded[1]), 70, 9, uint32_t(coded[1].size()), 0},
      {copy(junk), 50, 10, uint32_t(junk.size()), 0},      // corrupt: the walk stops here
  };
  uint8_t* const junkData = tokens[2].data;
  EXPECT_NE(decompressAnyCompressedTokens(tokens, 5, engine), VLT_OK);
  for (int i : {0, 3}) {
    const RefBitmap& shape = shapes[i == 0 ? 0 : 1];
    ASSERT_EQ(tokens[i].codedLength, 0u) << i;
    RefBitmap got(shape.width, shape.height);
    for (int y = 0; y < shape.height; ++y)
      for (int x = 0; x < shape.width; ++x)
        got.set(x, y, mono::get_bit(tokens[i].data + size_t(y) * tokens[i].lineWords * 4, size_t(x)));
    EXPECT_EQ(monotest::first_difference(shape, got), "") << i;
  }
  EXPECT_EQ(tokens[1].data, plain);
  EXPECT_EQ(tokens[2].data, junkData);
  EXPECT_EQ(tokens[4].codedLength, junk.size());
  EXPECT_EQ(decompressAnyCompressedTokens(tokens, 4, engine), VLT_OK) << "nothing left to decode";
  for (TokCodedToken& t : tokens) engine->free(t.data);
}

}  // namespace
}  // namespace toktest
