// TIFF and PNG buffers read into C-level page images: layers by colour model, alpha first,
// compressed strips passed through, resolution defaults and units, the readers' refusals, and
// every cut-short buffer read without a step outside it.

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "dio_membuf.h"
#include "kvtf.h"
#include "tiff_oracle.h"
#include "tools.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TiffPage {
  uint32_t width = 24, height = 6;
  uint16_t bits = 8, samples = 1, photometric = 1, compression = 1, planar = 1, extra = 0;  // extra: alpha kind
  float xres = 0, yres = 0;
  uint16_t unit = 2;
  bool noTables = false;
};

size_t tiff_row(const TiffPage& p) {
  return p.planar == 2 ? (size_t(p.width) * p.bits + 7) / 8 : (size_t(p.width) * p.samples * p.bits + 7) / 8;
}

// The samples of a page: every byte different from its neighbours.
Bytes tiff_samples(const TiffPage& p) {
  Bytes b(tiff_row(p) * p.height * (p.planar == 2 ? p.samples : 1));
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 37 + 11);
  return b;
}

Bytes tiff_bytes(const std::string& path, const TiffPage& p, const Bytes& samples) {
  KVTF_TIFF* t = KVTF_TIFFOpen(path.c_str(), "w");
  EXPECT_NE(t, nullptr);
  KVTF_TIFFSetField(t, KVTF_TAG_IMAGEWIDTH, p.width);
  KVTF_TIFFSetField(t, KVTF_TAG_IMAGELENGTH, p.height);
  KVTF_TIFFSetField(t, KVTF_TAG_BITSPERSAMPLE, p.bits);
  KVTF_TIFFSetField(t, KVTF_TAG_SAMPLESPERPIXEL, p.samples);
  KVTF_TIFFSetField(t, KVTF_TAG_PHOTOMETRIC, p.photometric);
  KVTF_TIFFSetField(t, KVTF_TAG_PLANARCONFIG, p.planar);
  KVTF_TIFFSetField(t, KVTF_TAG_COMPRESSION, p.compression);
  KVTF_TIFFSetField(t, KVTF_TAG_ROWSPERSTRIP, p.height);
  if (p.extra) {
    const uint16_t kinds[1] = {p.extra};
    KVTF_TIFFSetField(t, KVTF_TAG_EXTRASAMPLES, 1, kinds);
  }
  if (p.photometric == 5) KVTF_TIFFSetField(t, KVTF_TAG_INKSET, 1);
  if (p.xres > 0) KVTF_TIFFSetField(t, KVTF_TAG_XRESOLUTION, p.xres);
  if (p.yres > 0) KVTF_TIFFSetField(t, KVTF_TAG_YRESOLUTION, p.yres);
  if (p.xres > 0 || p.yres > 0) KVTF_TIFFSetField(t, KVTF_TAG_RESOLUTIONUNIT, p.unit);
  if (p.noTables) KVTF_TIFFSetField(t, 65539u /* JPEG tables mode */, 0);
  const size_t row = tiff_row(p);
  const int planes = p.planar == 2 ? p.samples : 1;
  for (int s = 0; s < planes; ++s) {
    for (uint32_t y = 0; y < p.height; ++y) {
      Bytes line(samples.begin() + (s * p.height + y) * row, samples.begin() + (s * p.height + y + 1) * row);
      EXPECT_GE(KVTF_TIFFWriteScanline(t, line.data(), y, uint16_t(s)), 0);
    }
  }
  KVTF_TIFFClose(t);
  const std::string s = monotest::read_file(path);
  return Bytes(s.begin(), s.end());
}

class MemReadTest : public monotest::DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    engine = SState_NewStateDefault();
    engine->level = 2;
    engine->print = [](void* data, int, const char* text) { *static_cast<std::string*>(data) += text; };
    engine->printData = &printed;
  }
  void TearDown() override {
    SState_FreeState(engine);
    DocTest::TearDown();
  }
  QELImage* read(QELImage* (*reader)(BufUChar*), const Bytes& bytes) {
    printed.clear();
    BufUChar* buffer = BufUChar_New(engine, bytes.size());
    if (!bytes.empty()) std::memcpy(buffer->data, bytes.data(), bytes.size());
    QELImage* image = reader(buffer);
    BufUChar_Free(buffer);
    return image;
  }
  static Bytes data_of(const QELLayer* l) {
    return Bytes(static_cast<const uint8_t*>(l->data), static_cast<const uint8_t*>(l->data) + l->dataLength);
  }
  SState* engine = nullptr;
  std::string printed;
  monotest::TempDir dir;
};

TEST_F(MemReadTest, TiffLayersFollowTheColourModel) {
  struct Case {
    const char* what;
    TiffPage page;
    int32_t photometry, samples, layout, bytesPerRow;
    bool alpha;
  };
  const Case cases[] = {
      {"bilevel min-is-white", {24, 6, 1, 1, 0}, 118, 1, 1, 3, false},
      {"grey LZW", {24, 6, 8, 1, 1, 5}, 117, 1, 1, 24, false},
      {"RGB packbits", {24, 6, 8, 3, 2, 32773}, 111, 3, 1, 72, false},
      {"RGB planes", {24, 6, 8, 3, 2, 1, 2}, 111, 3, 0, 24, false},
      {"RGBA with its tag", {24, 6, 8, 4, 2, 5, 1, 2}, 111, 3, 1, 72, true},
      {"grey and alpha without the tag", {24, 6, 8, 2, 1, 1}, 117, 1, 1, 24, true},
      {"RGBA planes", {24, 6, 8, 4, 2, 1, 2, 2}, 111, 3, 0, 24, true},
  };
  std::string descriptions;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes samples = tiff_samples(c.page);
    QELImage* image = read(TIFQEL_BufUChar2QEL, tiff_bytes(dir.file("t.tif"), c.page, samples));
    descriptions += printed;
    ASSERT_NE(image, nullptr) << printed;
    EXPECT_EQ(image->layerCount, c.alpha ? 2 : 1);
    EXPECT_EQ(image->xres, 300);  // no resolution fields
    EXPECT_EQ(image->yres, 300);
    const QELLayer* colour = c.alpha ? image->layers->next : image->layers;
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->number, 1);
    EXPECT_EQ(colour->kind, c.page.bits == 1 ? 7 : 1);
    EXPECT_EQ(colour->header->photometry, c.photometry);
    EXPECT_EQ(colour->header->channels, c.samples);
    EXPECT_EQ(colour->header->layout, c.layout);
    EXPECT_EQ(colour->header->compression, 0);
    EXPECT_EQ(colour->header->bytesPerRow[0], c.bytesPerRow);
    // Rebuild the file's samples from the layers and compare.
    const Bytes col = data_of(colour);
    const uint32_t w = c.page.width, h = c.page.height, n = c.page.samples;
    Bytes alpha = c.alpha ? data_of(image->layers) : Bytes();
    if (c.alpha) {
      EXPECT_EQ(image->layers->number, 2);
      EXPECT_EQ(image->layers->header->photometry, 118);
      EXPECT_EQ(image->layers->header->channels, 1);
      EXPECT_EQ(image->layers->header->bytesPerRow[0], int32_t(w));
    }
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < (c.page.bits == 1 ? 3 : w); ++x) {
        for (uint32_t s = 0; s < (c.page.bits == 1 ? 1 : n); ++s) {
          const bool planes = c.page.planar == 2;
          const uint32_t across = c.page.bits == 1 ? 3 : w;  // bytes of a bilevel row
          const uint8_t want = planes ? samples[(s * h + y) * w + x] : samples[(y * across + x) * (c.page.bits == 1 ? 1 : n) + s];
          const bool is_alpha = c.alpha && s == n - 1;
          const uint8_t got = is_alpha ? alpha[y * w + x]
                              : planes ? col[y * c.bytesPerRow * (n - c.alpha) + s * w + x]
                                       : col[(y * (c.page.bits == 1 ? 3 : w) + x) * (c.page.bits == 1 ? 1 : n - c.alpha) + s];
          ASSERT_EQ(got, want) << x << "," << y << " sample " << s;
        }
      }
    }
    __QELImageFree(image);
  }
  EXPECT_NE(descriptions.find("  smpX:   noAlp"), std::string::npos);
  EXPECT_NE(descriptions.find("  smpX:   alpha"), std::string::npos);
  EXPECT_NE(descriptions.find("  ****    Missing Alpha Tag\n"), std::string::npos) << "grey and alpha without the tag";
}

TEST_F(MemReadTest, SingleStripG4AndJpegPassThroughAndResolutionsConvert) {
  TiffPage g4{64, 16, 1, 1, 0, 4};
  g4.xres = 80;  // dots per centimetre
  g4.yres = 0;
  g4.unit = 3;
  const std::string g4_path = dir.file("g4.tif");
  const Bytes g4_file = tiff_bytes(g4_path, g4, tiff_samples(g4));
  QELImage* image = read(TIFQEL_BufUChar2QEL, g4_file);
  ASSERT_NE(image, nullptr);
  EXPECT_NEAR(image->xres, 203.2, 1e-3);
  EXPECT_NEAR(image->yres, 203.2, 1e-3) << "a missing y resolution takes the x one";
  EXPECT_EQ(image->layers->header->compression, 3);
  EXPECT_EQ(image->layers->header->layout, 3);
  const std::vector<monotest::Bytes> strips = monotest::tiff_raw_strips(g4_path, 0);
  ASSERT_EQ(strips.size(), 1u);
  EXPECT_TRUE(data_of(image->layers) == strips[0]);
  EXPECT_NE(printed.find("  comp:   CCITTFAX4\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  resU:   cm   \n"), std::string::npos) << printed;
  __QELImageFree(image);

  TiffPage jpeg{32, 16, 8, 1, 1, 7};
  jpeg.noTables = true;
  jpeg.xres = jpeg.yres = 150;
  const std::string jpeg_path = dir.file("j.tif");
  image = read(TIFQEL_BufUChar2QEL, tiff_bytes(jpeg_path, jpeg, tiff_samples(jpeg)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->layers->header->compression, 1);
  EXPECT_EQ(image->xres, 150);
  EXPECT_TRUE(data_of(image->layers) == monotest::tiff_raw_strips(jpeg_path, 0)[0]);
  __QELImageFree(image);

  // With its tables apart the JPEG data is decoded instead.
  jpeg.noTables = false;
  image = read(TIFQEL_BufUChar2QEL, tiff_bytes(jpeg_path, jpeg, tiff_samples(jpeg)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->layers->header->compression, 0);
  EXPECT_EQ(image->layers->dataLength, 32u * 16u);
  __QELImageFree(image);
}

TEST_F(MemReadTest, TiffRefusalsGiveNoImage) {
  struct Case {
    const char* what;
    TiffPage page;
    const char* message;
  };
  const Case cases[] = {
      {"CMYK", {8, 2, 8, 4, 5}, "TIF2QEL: QEL does not support CMYK\n"},
      {"Lab", {8, 2, 8, 3, 8}, "TIF2QEL: invalid photometry 8\n"},
      {"alpha of 4 bits", {8, 2, 4, 2, 1, 1, 1, 2}, "TIFQEL: can't handle alpha with bits < 8\n"},
      {"alpha of 12 bits", {8, 2, 12, 2, 1, 1, 1, 2}, "TIFQEL: can't handle alpha with bits < 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int failed = engine->failed;
    EXPECT_EQ(read(TIFQEL_BufUChar2QEL, tiff_bytes(dir.file("r.tif"), c.page, tiff_samples(c.page))), nullptr);
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    EXPECT_GT(engine->failed, failed);
  }
  EXPECT_EQ(read(TIFQEL_BufUChar2QEL, Bytes{'I', 'I', 42, 0}), nullptr);
  EXPECT_NE(engine_messages.find("ERROR: Ran out of data to read."), std::string::npos) << engine_messages;
}

TEST_F(MemReadTest, CursorStaysInsideTheData) {
  const Bytes bytes = {1, 2, 3, 4, 5};
  BufUChar* buffer = BufUChar_New(engine, bytes.size());
  std::memcpy(buffer->data, bytes.data(), bytes.size());
  struct {
    const BufUChar* b;
    uint64_t position;
  } cursor{buffer, 0};
  uint8_t out[8] = {};
  EXPECT_EQ(TIFQEL_Seek(&cursor, 3, 0), 3u);
  EXPECT_EQ(TIFQEL_Read(&cursor, out, 2), 2);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(TIFQEL_Read(&cursor, out, 1), 0) << "nothing left";
  EXPECT_EQ(TIFQEL_Seek(&cursor, uint64_t(-2), 2), 3u);
  EXPECT_EQ(TIFQEL_Seek(&cursor, uint64_t(-4), 1), UINT64_MAX) << "before the start";
  EXPECT_EQ(TIFQEL_Seek(&cursor, 6, 0), UINT64_MAX) << "past the end";
  EXPECT_EQ(TIFQEL_Seek(&cursor, 1, 2), UINT64_MAX);
  EXPECT_EQ(TIFQEL_Seek(&cursor, 0, 9), 3u) << "an unknown whence leaves the position";
  EXPECT_EQ(TIFQEL_Read(&cursor, out, 3), 0);
  EXPECT_EQ(TIFQEL_Size(&cursor), 5u);
  BufUChar_Free(buffer);
}

// ---- PNG ----

struct PngPage {
  uint32_t width = 10, height = 4;
  int depth = 8, type = PNG_COLOR_TYPE_GRAY;
  bool trns = false;
  uint32_t ppm = 0;  // pixels per metre, 0 for none
};

Bytes png_bytes(const PngPage& p, const Bytes& rows) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out, [](png_structp s, png_bytep d, png_size_t n) { static_cast<Bytes*>(png_get_io_ptr(s))->insert(static_cast<Bytes*>(png_get_io_ptr(s))->end(), d, d + n); },
      nullptr);
  png_set_IHDR(png, info, p.width, p.height, p.depth, p.type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  if (p.type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 4);
  png_byte alpha[1] = {0};
  png_color_16 transparent{};
  if (p.trns) png_set_tRNS(png, info, alpha, p.type == PNG_COLOR_TYPE_PALETTE ? 1 : 0, &transparent);
  if (p.ppm) png_set_pHYs(png, info, p.ppm, p.ppm, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  const size_t row = rows.size() / p.height;
  for (uint32_t y = 0; y < p.height; ++y) png_write_row(png, rows.data() + row * y);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST_F(MemReadTest, PngLayersAlphaFirst) {
  // Grey and alpha: colour bytes and alpha bytes apart.
  {
    const PngPage p{3, 2, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false, 11811};
    const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    QELImage* image = read(PNGQEL_BufUChar2QEL, png_bytes(p, rows));
    ASSERT_NE(image, nullptr) << printed;
    ASSERT_EQ(image->layerCount, 2);
    EXPECT_EQ(image->layers->number, 2);
    EXPECT_TRUE(data_of(image->layers) == (Bytes{2, 4, 6, 8, 10, 12}));
    EXPECT_TRUE(data_of(image->layers->next) == (Bytes{1, 3, 5, 7, 9, 11}));
    EXPECT_EQ(image->layers->next->header->photometry, 22);
    EXPECT_NEAR(image->xres, 300, 0.01);
    EXPECT_NE(printed.find("  alphaCode:   2\n"), std::string::npos);
    __QELImageFree(image);
  }
  // RGB of 16 bits keeps libpng's byte order; no pHYs leaves the resolution unknown.
  {
    const PngPage p{1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA};
    const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8};
    QELImage* image = read(PNGQEL_BufUChar2QEL, png_bytes(p, rows));
    ASSERT_NE(image, nullptr) << printed;
    EXPECT_TRUE(data_of(image->layers) == (Bytes{7, 8}));
    EXPECT_TRUE(data_of(image->layers->next) == (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(image->layers->next->header->photometry, 111);
    EXPECT_EQ(image->xres, 0);
    EXPECT_NE(printed.find("PNGQEL: reading 16 bit samples\n"), std::string::npos);
    __QELImageFree(image);
  }
  // A palette whose one transparent entry is index 0: RGB plus a 1-bit alpha layer.
  {
    const PngPage p{4, 1, 2, PNG_COLOR_TYPE_PALETTE, true};
    QELImage* image = read(PNGQEL_BufUChar2QEL, png_bytes(p, Bytes{0x1B}));  // indices 0 1 2 3
    ASSERT_NE(image, nullptr) << printed;
    ASSERT_EQ(image->layerCount, 2);
    EXPECT_EQ(image->layers->header->bitsPerChannel[0], 1);
    EXPECT_EQ(image->layers->kind, 7);
    EXPECT_TRUE(data_of(image->layers) == (Bytes{0x70}));
    EXPECT_TRUE(data_of(image->layers->next) == (Bytes{0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    __QELImageFree(image);
  }
  // A transparent colour on a 1-bit grey page is a binary mask: one layer, bits as they are.
  {
    const PngPage p{8, 1, 1, PNG_COLOR_TYPE_GRAY, true};
    QELImage* image = read(PNGQEL_BufUChar2QEL, png_bytes(p, Bytes{0xA5}));
    ASSERT_NE(image, nullptr) << printed;
    EXPECT_EQ(image->layerCount, 1);
    EXPECT_EQ(image->layers->kind, 7);
    EXPECT_TRUE(data_of(image->layers) == (Bytes{0xA5}));
    EXPECT_NE(printed.find("  BinaryMask\n"), std::string::npos);
    __QELImageFree(image);
  }
}

TEST_F(MemReadTest, DamagedAndCutShortBuffersGiveNoImage) {
  EXPECT_EQ(read(PNGQEL_BufUChar2QEL, Bytes{'G', 'I', 'F', '8', '9', 'a'}), nullptr);
  EXPECT_NE(printed.find(" NOT A PNG file.\n"), std::string::npos);
  EXPECT_EQ(read(PNGQEL_BufUChar2QEL, Bytes{}), nullptr);

  Bytes rows(10 * 4 * 3);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(i);
  const Bytes png = png_bytes({10, 4, 8, PNG_COLOR_TYPE_RGB}, rows);
  TiffPage t{24, 6, 8, 4, 2, 5, 1, 2};
  const Bytes tiff = tiff_bytes(dir.file("t.tif"), t, tiff_samples(t));
  // Every prefix short of the whole file; the sanitizers watch for steps outside.
  for (size_t n = 8; n < png.size(); n += 3) EXPECT_EQ(read(PNGQEL_BufUChar2QEL, Bytes(png.begin(), png.begin() + n)), nullptr) << n;
  EXPECT_NE(printed.find("  Caught a PNG ERROR.\n"), std::string::npos);
  for (size_t n = 0; n < tiff.size(); n += 5) {
    QELImage* image = read(TIFQEL_BufUChar2QEL, Bytes(tiff.begin(), tiff.begin() + n));
    EXPECT_EQ(image, nullptr) << n;
    __QELImageFree(image);
  }
  // Flipped bytes: an image or none, never a fault.
  for (size_t at = 0; at < tiff.size(); at += 7) {
    Bytes bad = tiff;
    bad[at] ^= 0x5A;
    __QELImageFree(read(TIFQEL_BufUChar2QEL, bad));
  }
}

}  // namespace
