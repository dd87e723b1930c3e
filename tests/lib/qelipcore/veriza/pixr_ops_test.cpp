// Destinations, frames, fills, raster and logic operations, pixel access and bit counts, each
// against per-pixel expectations computed here.

#include "pixr_fixture.h"

namespace pixrtest {
namespace {

using PixrOps = WrapperTest;

TEST_F(PixrOps, DestinationCheck) {
  PIXR* d = make(100, 50);
  PIXRColorMap* map = nullptr;
  ASSERT_EQ(w_createColorMap(s, 2, &map), VLT_OK);
  struct Case {
    int32_t w, h, xres;
    const PIXRColorMap* map;
    VltStatus want;
    int32_t dx, dy;
  } cases[] = {
      {132, 50, kDpi300, nullptr, VLT_OK, 32, 0},
      {133, 50, kDpi300, nullptr, VLT_ERR_DIMENSIONS, 0, 0},
      {100, 82, kDpi300, nullptr, VLT_OK, 0, 32},
      {68, 18, kDpi300, nullptr, VLT_OK, 0, 0},
      {67, 50, kDpi300, nullptr, VLT_ERR_DIMENSIONS, 0, 0},
      {100, 50, 301 << 16, nullptr, VLT_OK, 0, 0},
      {100, 50, 302 << 16, nullptr, VLT_ERR_DIMENSIONS, 0, 0},
      {100, 50, kDpi300, map, VLT_ERR_DIMENSIONS, 0, 0},
  };
  for (const Case& c : cases) {
    int32_t dx = -1, dy = -1;
    EXPECT_EQ(w_checkDestPixr(s, c.w, c.h, 1, c.xres, kDpi300, 32, 1, 5, c.map, d, &dx, &dy), c.want)
        << c.w << "x" << c.h;
    if (c.want == VLT_OK) {
      EXPECT_EQ(dx, c.dx);
      EXPECT_EQ(dy, c.dy);
    }
  }
  // A destination with a map where none is wanted.
  ASSERT_EQ(w_pixrSetColorMap(s, d, map), VLT_OK);
  int32_t dx = 0, dy = 0;
  EXPECT_EQ(w_checkDestPixr(s, 100, 50, 1, kDpi300, kDpi300, 32, 1, 5, nullptr, d, &dx, &dy),
            VLT_ERR_DIMENSIONS);
  destroy(d);
}

TEST_F(PixrOps, ConditionalCreationClearsReusedImageOnly) {
  PIXR* d = from_ref(monotest::make_noise(40, 30, 0.5, 1));
  ASSERT_EQ(w_setFramePixels(s, d, 1), VLT_OK);
  const long frame = frame_ones(d);
  PIXR* kept = d;
  int32_t dx = -1, dy = -1, created = -1;
  ASSERT_EQ(wp_createPixrConditional(s, 40, 30, 1, kDpi300, kDpi300, 32, 1, &d, &dx, &dy, &created), VLT_OK);
  EXPECT_EQ(d, kept);
  EXPECT_EQ(created, 0);
  EXPECT_EQ(to_ref(d).count(), 0u);
  EXPECT_EQ(frame_ones(d), frame);
  EXPECT_EQ(wp_createPixrConditional(s, 40, 30, 1, kDpi300, kDpi300, 32, 1, &d, nullptr, &dy, nullptr),
            VLT_ERR_PARAM);
  destroy(d);
  PIXR* bare = make(10, 10, 1, 0);
  EXPECT_EQ(wp_clearRightBottomFrames(s, bare, 0, 0), VLT_OK);
  EXPECT_EQ(wp_clearRightBottomFrames(s, bare, 1, 0), VLT_ERR_PIXR_FRAME);
  destroy(bare);
}

TEST_F(PixrOps, FramePixelsAndInversion) {
  const RefBitmap pattern = monotest::make_noise(77, 13, 0.3, 5);
  PIXR* p = from_ref(pattern);
  ASSERT_EQ(w_setFramePixels(s, p, 1), VLT_OK);
  EXPECT_EQ(frame_ones(p), 141L * 77 - 77L * 13);
  EXPECT_EQ(monotest::first_difference(pattern, to_ref(p)), "");

  // In place: the frame and the bits after each row stay.
  ASSERT_EQ(w_invert(s, p, &p), VLT_OK);
  RefBitmap inverted = pattern;
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 77; ++x) inverted.set(x, y, !pattern.get(x, y));
  EXPECT_EQ(monotest::first_difference(inverted, to_ref(p)), "");
  EXPECT_EQ(frame_ones(p), 141L * 77 - 77L * 13);

  ASSERT_EQ(w_setFramePixels(s, p, 0), VLT_OK);
  EXPECT_EQ(frame_ones(p), 0);
  PIXR* q = nullptr;
  ASSERT_EQ(w_invert(s, p, &q), VLT_OK);
  EXPECT_EQ(monotest::first_difference(pattern, to_ref(q)), "");
  EXPECT_EQ(frame_ones(q), 0);
  destroy(q);
  destroy(p);
}

TEST_F(PixrOps, CenterPlacesCentresTogether) {
  struct Case {
    int32_t sw, sh, dw, dh, sx, sy, w, h, tx, ty;
  } cases[] = {
      {10, 10, 20, 4, 0, 3, 10, 4, 5, 0},
      {10, 10, 4, 20, 3, 0, 4, 10, 0, 5},
      {10, 10, 20, 20, 0, 0, 10, 10, 5, 5},
      {15, 9, 10, 4, 2, 2, 10, 4, 0, 0},
  };
  for (const Case& c : cases) {
    const RefBitmap pattern = monotest::make_noise(c.sw, c.sh, 0.5, 7);
    PIXR* src = from_ref(pattern);
    PIXR* dst = make(c.dw, c.dh);
    ASSERT_EQ(w_center(s, src, dst), VLT_OK);
    RefBitmap want(c.dw, c.dh);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) want.set(c.tx + x, c.ty + y, pattern.get(c.sx + x, c.sy + y));
    EXPECT_EQ(monotest::first_difference(want, to_ref(dst)), "") << c.dw << "x" << c.dh;
    destroy(src);
    destroy(dst);
  }
}

TEST_F(PixrOps, RectOfAndPaint) {
  const RefBitmap pattern = monotest::make_noise(50, 40, 0.5, 11);
  PIXR* src = from_ref(pattern);
  IPRect beyond{nullptr, nullptr, 30, 25, 40, 40};
  PIXR* part = nullptr;
  ASSERT_EQ(w_rectOf(s, src, &beyond, &part), VLT_OK);
  ASSERT_EQ(part->width, 20);
  ASSERT_EQ(part->height, 15);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(mono::get_bit(line(part, y), x), pattern.get(30 + x, 25 + y));
  EXPECT_EQ(frame_ones(part), 0);
  EXPECT_EQ(w_rectOf(s, src, &beyond, &part), VLT_ERR_NOT_NULL);
  destroy(part);
  destroy(src);

  // Depth 4: every pixel of the area reads the value; the rectangle is clipped and the value masked.
  PIXR* g = make(9, 6, 4);
  const uint8_t nine[1] = {9}, wide[1] = {0x3F};
  IPRect r{nullptr, nullptr, 2, 1, 5, 3};
  ASSERT_EQ(w_paint(s, g, &r, nine), VLT_OK);
  IPRect out{nullptr, nullptr, 7, 4, 100, 100};
  ASSERT_EQ(w_paint(s, g, &out, wide), VLT_OK);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) {
      uint32_t v = 99;
      ASSERT_EQ(w_pixrGetPixel(s, g, x, y, &v), VLT_OK);
      const uint32_t want = (x >= 7 && y >= 4) ? 15 : (x >= 2 && x < 7 && y >= 1 && y < 4) ? 9 : 0;
      EXPECT_EQ(v, want) << x << "," << y;
    }
  // Nothing outside the image changed: the frame is still blank.
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 73; ++x) {
      if (x < 32 || y < 32 || x >= 41 || y >= 38) {
        ASSERT_EQ(framed_pixel(g, x, y), 0u);
      }
    }
  destroy(g);
}

TEST_F(PixrOps, RasteropCopyWidensIntoRightFrame) {
  PIXR* src = make(100, 6);
  PIXR* dst = make(100, 6);
  ASSERT_EQ(w_setFramePixels(s, src, 1), VLT_OK);
  ASSERT_EQ(w_rasterop(s, 0, 0, src, W_ROP_COPY, 0, 0, 100, 6, dst), VLT_OK);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 128; ++x) EXPECT_EQ(framed_pixel(dst, 32 + x, 32 + y), x >= 100 ? 1u : 0u);
  // Setting without a source at a negative x reaches the left frame.
  ASSERT_EQ(w_rasterop(s, 0, 0, nullptr, W_ROP_SET_NOCLIP, -5, 0, 5, 1, dst), VLT_OK);
  for (int x = 27; x < 32; ++x) EXPECT_EQ(framed_pixel(dst, x, 32), 1u);
  EXPECT_EQ(framed_pixel(dst, 26, 32), 0u);

  PIXR* ch[3] = {make(100, 6), make(100, 6), make(100, 6)};
  PIXR* comp = nullptr;
  ASSERT_EQ(w_createPixrComposite(s, ch, 3, 5, &comp), VLT_OK);
  EXPECT_EQ(w_rasterop(s, 0, 0, comp, W_ROP_COPY, 0, 0, 10, 1, dst), VLT_ERR_CHANNELS_MISMATCH);
  destroy(comp);
  destroy(src);
  destroy(dst);
}

int naive_logic(int code, int sp, int dp) {
  switch (code) {
    case 1: return dp | sp;
    case 2: return dp & sp;
    case 3: return dp ^ sp;
    case 4: return dp & !sp;
    case 5: return sp;
    default: return !sp;
  }
}

// Every code over sizes where the source is smaller, larger, wider-but-lower and lower-but-wider.
TEST_F(PixrOps, LogicOperationsAgainstPerPixelReference) {
  const int sizes[][4] = {{30, 20, 30, 20}, {10, 10, 20, 20}, {60, 5, 40, 30}, {20, 50, 45, 12}, {70, 40, 33, 17}};
  for (const auto& sz : sizes)
    for (int code = 1; code <= 6; ++code) {
      SCOPED_TRACE(testing::Message() << "code " << code << " src " << sz[0] << "x" << sz[1] << " dst " << sz[2]
                                      << "x" << sz[3]);
      const RefBitmap a = monotest::make_noise(sz[0], sz[1], 0.5, 21), b = monotest::make_noise(sz[2], sz[3], 0.5, 22);
      PIXR* src = from_ref(a);
      PIXR* dst = from_ref(b);
      ASSERT_EQ(w_logicOp(s, src, code, dst), VLT_OK);
      RefBitmap want = b;
      for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
          if (x < a.width && y < a.height)
            want.set(x, y, naive_logic(code, a.get(x, y), b.get(x, y)));
          else if (code == 5)
            want.set(x, y, 0);
        }
      EXPECT_EQ(monotest::first_difference(want, to_ref(dst)), "");
      EXPECT_EQ(frame_ones(dst), 0);
      destroy(src);
      destroy(dst);
    }
  PIXR* a = make(4, 4);
  PIXR* b = make(4, 4);
  PIXR* g = make(4, 4, 8);
  EXPECT_EQ(w_logicOp(s, a, 7, b), VLT_ERR_PARAM);
  EXPECT_EQ(w_logicOp(s, a, 1, g), VLT_ERR_DIMS_MISMATCH);
  EXPECT_EQ(w_logicOp(s, nullptr, 1, b), VLT_ERR_NULL);
  destroy(a);
  destroy(b);
  destroy(g);
}

// Reads pixel x of an MSB-first row at any depth, independently of the library helpers.
uint32_t msb_first(const std::vector<uint8_t>& row, int x, int depth) {
  uint32_t v = 0;
  for (int b = 0; b < depth; ++b) {
    const long bit = static_cast<long>(x) * depth + b;
    v = (v << 1) | ((row[static_cast<size_t>(bit / 8)] >> (7 - bit % 8)) & 1u);
  }
  return v;
}

TEST_F(PixrOps, PixelAccessAtEveryDepth) {
  for (int depth : {1, 2, 4, 8}) {
    SCOPED_TRACE(depth);
    PIXR* p = make(37, 5, depth);
    const RefBitmap noise = monotest::make_noise(37 * depth, 5, 0.5, 31);
    for (int y = 0; y < 5; ++y) std::memcpy(line(p, y), noise.row(y), noise.stride);
    for (int y = 0; y < 5; ++y) {
      const std::vector<uint8_t> row(noise.row(y), noise.row(y) + noise.stride);
      for (int x = 0; x < 37; ++x) {
        uint32_t v = 0;
        ASSERT_EQ(w_pixrGetPixel(s, p, x, y, &v), VLT_OK);
        ASSERT_EQ(v, msb_first(row, x, depth)) << x << "," << y;
      }
    }
    uint32_t v = 0;
    EXPECT_EQ(w_pixrGetPixel(s, p, 37, 0, &v), VLT_ERR_IPC_BOUNDS);
    EXPECT_EQ(w_pixrGetPixel(s, p, 0, -1, &v), VLT_ERR_IPC_BOUNDS);
    const VltStatus put = w_pixrPutPixel(s, p, 3, 4, 0xA5);
    if (depth == 1 || depth == 8) {
      ASSERT_EQ(put, VLT_OK);
      ASSERT_EQ(w_pixrGetPixel(s, p, 3, 4, &v), VLT_OK);
      EXPECT_EQ(v, depth == 1 ? 1u : 0xA5u);
      EXPECT_EQ(w_pixrPutPixel(s, p, 0, 5, 1), VLT_ERR_IPC_BOUNDS);
    } else {
      EXPECT_EQ(put, VLT_ERR_PIXR_DEPTH);
    }
    destroy(p);
  }
}

TEST_F(PixrOps, LinesAndRectangleOutlines) {
  PIXR* p = make(60, 60);
  ASSERT_EQ(w_pixrPutLine(s, p, -10, 5, -1, 50, 1), VLT_OK);
  EXPECT_EQ(to_ref(p).count(), 0u);
  // Segments reaching outside are clipped to the image; nothing lands in the frame.
  const int segs[][4] = {{-20, -20, 80, 80}, {-5, 30, 100, 30}, {10, -40, 10, 200}, {-100, 59, 30, -5}};
  for (const auto& g : segs) ASSERT_EQ(w_pixrPutLine(s, p, g[0], g[1], g[2], g[3], 1), VLT_OK);
  EXPECT_EQ(frame_ones(p), 0);
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(mono::get_bit(line(p, 30), i), 1) << "row 30, " << i;
    EXPECT_EQ(mono::get_bit(line(p, i), 10), 1) << "column 10, " << i;
  }
  destroy(p);

  for (int thickness : {5, 4}) {
    PIXR* q = make(30, 30);
    IPRect r{nullptr, nullptr, 3, 4, 10, 10};
    ASSERT_EQ(w_pixrPutRect(s, q, &r, thickness, 1), VLT_OK);
    const RefBitmap got = to_ref(q);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x) {
        const bool inside = x >= 3 && x < 13 && y >= 4 && y < 14;
        const bool ring = inside && (x < 3 + thickness || x >= 13 - thickness || y < 4 + thickness || y >= 14 - thickness);
        ASSERT_EQ(got.get(x, y), ring ? 1 : 0) << thickness << ": " << x << "," << y;
      }
    EXPECT_EQ(w_pixrPutRect(s, q, &r, 0, 1), VLT_ERR_PARAM);
    destroy(q);
  }
}

TEST_F(PixrOps, BitCounts) {
  const RefBitmap pattern = monotest::make_text_blobs(300, 120, 4);
  PIXR* p = from_ref(pattern);
  ASSERT_EQ(w_setFramePixels(s, p, 1), VLT_OK);
  uint32_t n = 0;
  ASSERT_EQ(w_numberBits(s, p, &n), VLT_OK);
  EXPECT_EQ(n, pattern.count());
  IPRect r{nullptr, nullptr, 17, 9, 201, 77};
  ASSERT_EQ(w_numberBitsRect(s, p, &r, &n), VLT_OK);
  uint32_t want = 0;
  for (int y = 9; y < 86; ++y)
    for (int x = 17; x < 218; ++x) want += static_cast<uint32_t>(pattern.get(x, y));
  EXPECT_EQ(n, want);
  // The same area in framed coordinates, and one row of the frame above it.
  IPRect fr{nullptr, nullptr, 17 + 32, 9 + 32, 201, 77};
  ASSERT_EQ(w_numberBitsFrameRect(s, p, &fr, &n), VLT_OK);
  EXPECT_EQ(n, want);
  IPRect top{nullptr, nullptr, 0, 0, 364, 1};
  ASSERT_EQ(w_numberBitsFrameRect(s, p, &top, &n), VLT_OK);
  EXPECT_EQ(n, 364u);
  IPRect beyond{nullptr, nullptr, 250, 0, 51, 10};
  EXPECT_EQ(w_numberBitsRect(s, p, &beyond, &n), VLT_ERR_IPC_BOUNDS);
  EXPECT_EQ(w_numberBitsRect(s, p, nullptr, &n), VLT_ERR_PIXR_NULL);
  destroy(p);

  // A frameless record with a stride of its own is counted over whole lines.
  PIXR* bare = make(20, 3, 1, 0);
  bare->bytesPerLine += 4;
  for (int y = 0; y < 3; ++y) line(bare, y)[0] = 0xFF;
  ASSERT_EQ(w_numberBits(s, bare, &n), VLT_OK);
  EXPECT_EQ(n, 24u);
  bare->bytesPerLine -= 4;
  destroy(bare);
}

TEST_F(PixrOps, LittleEndianFields) {
  uint8_t b[4] = {};
  ASSERT_EQ(w_putIntel32(s, 0x12345678u, b), VLT_OK);
  EXPECT_EQ(b[0], 0x78);
  EXPECT_EQ(b[3], 0x12);
  uint32_t v = 0;
  ASSERT_EQ(w_getIntel32(s, b, &v), VLT_OK);
  EXPECT_EQ(v, 0x12345678u);
  uint16_t h = 0;
  ASSERT_EQ(w_putIntel16(s, 0xBEEF, b), VLT_OK);
  ASSERT_EQ(w_getIntel16(s, b, &h), VLT_OK);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(h, 0xBEEF);
  EXPECT_EQ(w_getIntel16(s, nullptr, &h), VLT_ERR_NULL);
  EXPECT_EQ(w_putIntel32(s, 1, nullptr), VLT_ERR_NULL);
}

}  // namespace
}  // namespace pixrtest
