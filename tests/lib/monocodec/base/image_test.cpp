// Engine image: geometry of creation, origins, duplication, wrapping of caller memory, comments,
// release, and allocation failures at every step.

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "counted_engine_test.h"
#include "counting_alloc.h"
#include "report_collector.h"
#include "vlt_image.h"
#include "vlt_state.h"

namespace {

using ImageTest = CountedEngineTest;

TEST_F(ImageTest, CreationGeometry) {
  struct Case {
    uint16_t type;
    int32_t w, h;
    int aligned;
    VltStatus status;
    uint16_t stored;
    int32_t bpl;
    bool has_rows;
  } cases[] = {
      {VLT_IMAGE_PACKED, 33, 2, 0, VLT_OK, VLT_IMAGE_PACKED, 8, true},
      {VLT_IMAGE_PACKED, 32, 2, 1, VLT_OK, VLT_IMAGE_PACKED, 4, true},
      {VLT_IMAGE_PACKED | VLT_IMAGE_UNINIT, 1, 1, 0, VLT_OK, VLT_IMAGE_PACKED, 4, true},
      {VLT_IMAGE_GRAY, 5, 3, 1, VLT_OK, VLT_IMAGE_GRAY, 8, true},
      {VLT_IMAGE_GRAY, 5, 3, 0, VLT_OK, VLT_IMAGE_GRAY, 5, true},
      {VLT_IMAGE_RGB, 5, 1, 1, VLT_OK, VLT_IMAGE_RGB, 16, true},
      {VLT_IMAGE_RGB, 5, 1, 0, VLT_OK, VLT_IMAGE_RGB, 15, true},
      {VLT_IMAGE_SHORT, 3, 1, 1, VLT_OK, VLT_IMAGE_SHORT, 8, true},
      {VLT_IMAGE_DOUBLE, 3, 1, 1, VLT_OK, VLT_IMAGE_DOUBLE, 24, true},
      {VLT_IMAGE_RGBFLOAT, 2, 1, 0, VLT_OK, VLT_IMAGE_RGBFLOAT, 24, true},
      {VLT_IMAGE_WORD | VLT_IMAGE_UNINIT, 3, 2, 0, VLT_OK, VLT_IMAGE_WORD, 12, true},
      {VLT_IMAGE_BINARY | VLT_IMAGE_UNINIT, 3, 2, 1, VLT_OK, VLT_IMAGE_BINARY, 4, true},
      {VLT_IMAGE_GRAY, 0, 7, 0, VLT_OK, VLT_IMAGE_GRAY, 0, false},
      {VLT_IMAGE_PACKED, 7, 0, 0, VLT_OK, VLT_IMAGE_PACKED, 4, false},
      {0, 4, 4, 0, VLT_ERR_COMMAND_LINE, 0, 0, false},
      {101, 4, 4, 0, VLT_ERR_COMMAND_LINE, 0, 0, false},
      {VLT_IMAGE_UNINIT, 4, 4, 0, VLT_ERR_COMMAND_LINE, 0, 0, false},
      {VLT_IMAGE_GRAY, -1, 4, 0, VLT_ERR_PARAM, 0, 0, false},
      {VLT_IMAGE_PACKED, 4, -3, 0, VLT_ERR_PARAM, 0, 0, false},
      {VLT_IMAGE_RGBFLOAT, INT32_MAX / 8, 1, 0, VLT_ERR_PARAM, 0, 0, false},  // bytes per line overflow
      {VLT_IMAGE_GRAY, INT32_MAX, 1, 1, VLT_ERR_PARAM, 0, 0, false},          // rounding overflow
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " " << c.w << "x" << c.h);
    VltImage* im = reinterpret_cast<VltImage*>(&printed);  // must be cleared on failure
    ASSERT_EQ(VltImage_newOffsetAligned(state, c.type, c.w, c.h, 3, -4, c.aligned, &im), c.status);
    if (c.status != VLT_OK) {
      EXPECT_EQ(im, nullptr);
      continue;
    }
    ASSERT_NE(im, nullptr);
    EXPECT_EQ(im->hdr.type, c.stored);
    EXPECT_EQ(im->hdr.bytesPerLine, c.bpl);
    EXPECT_EQ(im->rows != nullptr, c.has_rows);
    EXPECT_EQ(im->hdr.xOffset, 3);
    EXPECT_EQ(im->hdr.yOffset, -4);
    if (c.has_rows && (c.type & VLT_IMAGE_UNINIT) == 0) {
      for (int32_t y = 0; y < c.h; ++y)
        for (int32_t i = 0; i < c.bpl; ++i) EXPECT_EQ(im->rows[y][i], 0);
      // Rows follow each other in one store.
      for (int32_t y = 1; y < c.h; ++y) EXPECT_EQ(im->rows[y], im->rows[0] + y * c.bpl);
    }
    EXPECT_EQ(VltImage_free(im), VLT_OK);
  }
  // Bad tags and sizes are reported; the rest were not failures.
  EXPECT_EQ(printed.codes, (std::vector<VltStatus>{VLT_ERR_COMMAND_LINE, VLT_ERR_COMMAND_LINE,
                                                   VLT_ERR_COMMAND_LINE, VLT_ERR_PARAM,
                                                   VLT_ERR_PARAM, VLT_ERR_PARAM, VLT_ERR_PARAM}));
  EXPECT_EQ(VltImage_free(nullptr), VLT_OK);
}

TEST_F(ImageTest, OffsetsMoveTheOriginNotThePixels) {
  VltImage* im = nullptr;
  ASSERT_EQ(VltImage_newOffset(state, VLT_IMAGE_GRAY, 4, 3, -2, -2, &im), VLT_OK);
  *VltImage_pixel<uint8_t>(im, -2, -2) = 11;
  *VltImage_pixel<uint8_t>(im, 1, 0) = 22;
  EXPECT_EQ(im->rows[0][0], 11);
  EXPECT_EQ(im->rows[2][3], 22);
  ASSERT_EQ(VltImage_setOffset(im, 0, 0), VLT_OK);
  EXPECT_EQ(*VltImage_pixel<uint8_t>(im, 0, 0), 11);
  EXPECT_EQ(*VltImage_pixel<uint8_t>(im, 3, 2), 22);

  VltImage* words = nullptr;
  ASSERT_EQ(VltImage_newOffset(state, VLT_IMAGE_LONG, 2, 2, 100, 50, &words), VLT_OK);
  *VltImage_pixel<int32_t>(words, 101, 51) = -7;
  EXPECT_EQ(*reinterpret_cast<int32_t*>(words->rows[1] + 4), -7);

  VltImage* bits = nullptr;
  ASSERT_EQ(VltImage_newOffset(state, VLT_IMAGE_PACKED, 40, 2, 5, 1, &bits), VLT_OK);
  VltImage_setPackedPixel(bits, 5 + 33, 2, 1);
  EXPECT_EQ(mono::load_be32(bits->rows[1] + 4), 0x40000000u);
  ASSERT_EQ(VltImage_setOffset(bits, 0, 0), VLT_OK);
  EXPECT_EQ(VltImage_getPackedPixel(bits, 33, 1), 1);

  VltImage* empty = nullptr;
  ASSERT_EQ(VltImage_new(state, VLT_IMAGE_PACKED, 0, 0, &empty), VLT_OK);
  EXPECT_EQ(VltImage_setOffset(empty, 1, 1), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_setOffset(nullptr, 1, 1), VLT_ERR_ASSERT);

  // A record with a tag nothing writes keeps its offsets but is reported, and is never freed as
  // if its store had a known layout.
  words->hdr.type = 0;
  EXPECT_EQ(VltImage_setOffset(words, 9, 9), VLT_ERR_COMMAND_LINE);
  EXPECT_EQ(words->hdr.xOffset, 9);
  EXPECT_EQ(VltImage_free(words), VLT_ERR_CONSISTENCY);
  EXPECT_NE(printed.text.find("bad image tag"), std::string::npos);
  words->hdr.type = VLT_IMAGE_LONG;

  VltImageHeader* header = nullptr;
  ASSERT_EQ(VltImage_getHeader(im, &header), VLT_OK);
  EXPECT_EQ(header, &im->hdr);
  EXPECT_EQ(VltImage_getHeader(im, nullptr), VLT_ERR_ASSERT);
  for (VltImage* p : {im, words, bits, empty}) EXPECT_EQ(VltImage_free(p), VLT_OK);
}

TEST_F(ImageTest, DuplicatesAreDeepAndCompact) {
  // A wrapped page of 8 words per line and width 100 becomes a compact copy.
  std::vector<uint8_t> page(8 * 4 * 3);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 37 + 1);
  VltImage* wrapped = nullptr;
  ASSERT_EQ(VltImage_wrap(state, page.data(), 100, 3, 8, &wrapped), VLT_OK);
  VltImage* copy = nullptr;
  ASSERT_EQ(VltImage_dup(wrapped, 1, &copy), VLT_OK);
  EXPECT_EQ(copy->hdr.bytesPerLine, 16);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(copy->rows[y], page.data() + y * 32, 16), 0);
  EXPECT_EQ(VltImage_free(copy), VLT_OK);

  // Unpacked images copy their whole store, aligned rows included, with or without comment.
  struct Case {
    uint16_t type;
    int aligned;
    int copy_comment;
  } cases[] = {{VLT_IMAGE_DOUBLE, 0, 1}, {VLT_IMAGE_GRAY, 1, 0}, {VLT_IMAGE_RGB, 1, 1},
               {VLT_IMAGE_SHORT, 0, 0}, {VLT_IMAGE_PACKED, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    VltImage* src = nullptr;
    ASSERT_EQ(VltImage_newOffsetAligned(state, c.type, 5, 3, -1, 2, c.aligned, &src), VLT_OK);
    for (int y = 0; y < 3; ++y)
      for (int i = 0; i < src->hdr.bytesPerLine; ++i) src->rows[y][i] = static_cast<uint8_t>(y * 50 + i);
    ASSERT_EQ(VltImage_setComment(src, "scanned"), VLT_OK);
    VltImage* dup = nullptr;
    ASSERT_EQ(VltImage_dup(src, c.copy_comment, &dup), VLT_OK);
    EXPECT_EQ(dup->hdr.bytesPerLine, src->hdr.bytesPerLine);
    EXPECT_EQ(dup->hdr.xOffset, -1);
    EXPECT_EQ(dup->hdr.yOffset, 2);
    for (int y = 0; y < 3; ++y)
      EXPECT_EQ(std::memcmp(dup->rows[y], src->rows[y], static_cast<size_t>(src->hdr.bytesPerLine)), 0);
    const bool want_comment = c.copy_comment && c.type != VLT_IMAGE_PACKED;
    ASSERT_EQ(dup->hdr.comment != nullptr, want_comment);
    if (want_comment) {
      EXPECT_STREQ(dup->hdr.comment, "scanned");
      EXPECT_NE(dup->hdr.comment, src->hdr.comment);
    }
    EXPECT_EQ(VltImage_free(dup), VLT_OK);
    EXPECT_EQ(VltImage_free(src), VLT_OK);
  }
  EXPECT_EQ(VltImage_unwrap(wrapped, nullptr), VLT_OK);
  EXPECT_EQ(VltImage_dup(nullptr, 0, &copy), VLT_ERR_ASSERT);
}

TEST_F(ImageTest, WrappingLendsCallerMemory) {
  std::vector<uint8_t> buf(4 * 4 * 2);
  struct Case {
    int32_t w, h, words;
    VltStatus status;
  } cases[] = {
      {64, 2, 2, VLT_OK}, {100, 2, 4, VLT_OK}, {65, 2, 2, VLT_ERR_ASSERT},
      {-1, 2, 2, VLT_ERR_ASSERT}, {8, -1, 1, VLT_ERR_ASSERT}, {8, 0, 1, VLT_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " words " << c.words);
    VltImage* im = nullptr;
    ASSERT_EQ(VltImage_wrap(state, buf.data(), c.w, c.h, c.words, &im), c.status);
    if (c.status != VLT_OK) {
      EXPECT_EQ(im, nullptr);
      continue;
    }
    EXPECT_EQ(im->hdr.bytesPerLine, c.words * 4);
    EXPECT_EQ(im->hdr.type, VLT_IMAGE_PACKED);
    if (c.h > 1) {
      EXPECT_EQ(im->rows[1], buf.data() + c.words * 4);
    }
    uint8_t* back = nullptr;
    ASSERT_EQ(VltImage_unwrap(im, &back), VLT_OK);
    EXPECT_EQ(back, buf.data());
  }
  VltImage* im = nullptr;
  EXPECT_EQ(VltImage_wrap(state, nullptr, 8, 1, 1, &im), VLT_ERR_ASSERT);

  // Freeing a wrapped image by mistake releases only what the image owns (the allocator would
  // count a free of the caller's buffer as foreign).
  ASSERT_EQ(VltImage_wrap(state, buf.data(), 32, 2, 1, &im), VLT_OK);
  ASSERT_EQ(VltImage_setComment(im, "lent"), VLT_OK);
  EXPECT_EQ(VltImage_free(im), VLT_OK);

  // Other tags over caller rows: the rows must hold the width.
  ASSERT_EQ(VltImage_wrapRGB(state, buf.data(), 3, 2, 9, &im), VLT_OK);
  EXPECT_EQ(im->hdr.type, VLT_IMAGE_RGB);
  EXPECT_EQ(VltImage_unwrapRGB(im, nullptr), VLT_OK);
  EXPECT_EQ(VltImage_wrapRGB(state, buf.data(), 4, 2, 9, &im), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_wrapRGB(state, nullptr, 1, 1, 3, &im), VLT_ERR_ASSERT);
  ASSERT_EQ(VltImage_wrapAll(state, buf.data(), VLT_IMAGE_SHORT, 4, 2, 8, &im), VLT_OK);
  EXPECT_EQ(im->rows[1], buf.data() + 8);
  EXPECT_EQ(VltImage_unwrapAll(im, nullptr), VLT_OK);
  EXPECT_TRUE(printed.codes.empty());
  EXPECT_EQ(VltImage_wrapAll(state, buf.data(), VLT_IMAGE_SHORT, 5, 2, 8, &im), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_wrapAll(state, buf.data(), 0, 4, 2, 8, &im), VLT_ERR_COMMAND_LINE);
  EXPECT_EQ(VltImage_wrapAll(state, nullptr, VLT_IMAGE_SHORT, 4, 2, 8, &im), VLT_ERR_NULL);
  EXPECT_EQ(VltImage_unwrapAll(nullptr, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(VltImage_unwrap(nullptr, nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(printed.codes, (std::vector<VltStatus>{VLT_ERR_COMMAND_LINE, VLT_ERR_NULL}));
}

TEST_F(ImageTest, CommentsAreOwnCopies) {
  VltImage* im = nullptr;
  ASSERT_EQ(VltImage_new(state, VLT_IMAGE_GRAY, 2, 2, &im), VLT_OK);
  std::string text = "first";
  ASSERT_EQ(VltImage_setComment(im, text.c_str()), VLT_OK);
  text[0] = 'X';
  EXPECT_STREQ(im->hdr.comment, "first");
  ASSERT_EQ(VltImage_setComment(im, "second"), VLT_OK);
  EXPECT_STREQ(im->hdr.comment, "second");
  alloc.fail_at(1);
  EXPECT_EQ(VltImage_setComment(im, "third"), VLT_ERR_VLT_NOMEM);
  EXPECT_EQ(im->hdr.comment, nullptr);
  ASSERT_EQ(VltImage_setComment(im, "fourth"), VLT_OK);
  ASSERT_EQ(VltImage_setComment(im, nullptr), VLT_OK);
  EXPECT_EQ(im->hdr.comment, nullptr);
  EXPECT_EQ(VltImage_setComment(nullptr, "x"), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_free(im), VLT_OK);
}

// Every allocation of every operation fails once in turn: each failure gives a status and no
// image, and nothing stays allocated.
TEST_F(ImageTest, AllocationFailuresLeaveNothingBehind) {
  std::vector<uint8_t> buf(64);
  VltImage* src = nullptr;
  ASSERT_EQ(VltImage_newOffset(state, VLT_IMAGE_GRAY, 6, 4, 1, 1, &src), VLT_OK);
  ASSERT_EQ(VltImage_setComment(src, "c"), VLT_OK);
  VltImage* packed = nullptr;
  ASSERT_EQ(VltImage_new(state, VLT_IMAGE_PACKED, 6, 4, &packed), VLT_OK);
  const size_t live = alloc.live_blocks();

  using Op = VltStatus (*)(VltState*, const VltImage*, const VltImage*, uint8_t*, VltImage**);
  const Op ops[] = {
      [](VltState* s, const VltImage*, const VltImage*, uint8_t*, VltImage** out) {
        return VltImage_new(s, VLT_IMAGE_RGB, 3, 3, out);
      },
      [](VltState* s, const VltImage*, const VltImage*, uint8_t*, VltImage** out) {
        return VltImage_new(s, VLT_IMAGE_RGB | VLT_IMAGE_UNINIT, 3, 3, out);
      },
      [](VltState*, const VltImage* g, const VltImage*, uint8_t*, VltImage** out) {
        return VltImage_dup(g, 1, out);
      },
      [](VltState*, const VltImage* g, const VltImage*, uint8_t*, VltImage** out) {
        return VltImage_convert(g, VLT_IMAGE_PACKED, out);
      },
      [](VltState*, const VltImage*, const VltImage* p, uint8_t*, VltImage** out) {
        return VltImage_convert(p, VLT_IMAGE_FLOAT, out);
      },
      [](VltState*, const VltImage* g, const VltImage*, uint8_t*, VltImage** out) {
        return VltImage_convert(g, VLT_IMAGE_DOUBLE, out);
      },
      [](VltState* s, const VltImage*, const VltImage*, uint8_t* b, VltImage** out) {
        return VltImage_wrap(s, b, 32, 4, 1, out);
      },
      [](VltState* s, const VltImage*, const VltImage*, uint8_t* b, VltImage** out) {
        return VltImage_wrapAll(s, b, VLT_IMAGE_GRAY, 4, 4, 4, out);
      },
  };
  for (size_t i = 0; i < std::size(ops); ++i) {
    for (size_t k = 1;; ++k) {
      SCOPED_TRACE(testing::Message() << "operation " << i << " failing allocation " << k);
      const size_t failures = alloc.failures();
      alloc.fail_at(k);
      VltImage* out = nullptr;
      const VltStatus st = ops[i](state, src, packed, buf.data(), &out);
      alloc.fail_at(0);
      if (alloc.failures() == failures) {
        // Past the operation's last allocation: it succeeded.
        ASSERT_EQ(st, VLT_OK);
        ASSERT_NE(out, nullptr);
        if (out->flags & VLT_IMAGE_WRAPPED)
          VltImage_unwrapAll(out, nullptr);
        else
          VltImage_free(out);
        break;
      }
      EXPECT_NE(st, VLT_OK);
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(alloc.live_blocks(), live);
    }
  }
  VltImage_free(src);
  VltImage_free(packed);
}

}  // namespace
