// Small image utilities: CMYK conversion, framed page buffers.

#include <gtest/gtest.h>

#include "byteorder.h"
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

}  // namespace
}  // namespace toktest
