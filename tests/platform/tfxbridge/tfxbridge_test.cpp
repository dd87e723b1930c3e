// The TIFF-FX bridge judged by libtiff: pages written from coded strips decode to their source,
// fax documents carry their profile's fields, strips read back as the file holds them, and
// damaged files fail without harm.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>

#include "fax_test_util.h"
#include "pages.h"
#include "tfx_test_util.h"
#include "tiff_oracle.h"
#include "tools.h"

namespace {

using namespace tfxtest;
using monotest::RefBitmap;
using monotest::TempDir;

// The bytes of a memory file as a file libtiff can open.
std::string on_disk(const TempDir& dir, const MemFile& f, const std::string& name = "out.tif") {
  const std::string path = dir.file(name);
  monotest::write_file(path, std::string(f.bytes.begin(), f.bytes.end()));
  return path;
}

// Rows [first, first + count) of a bitmap, coded on their own.
Bytes fax_code(const RefBitmap& bm, int first, int count, int32_t K, faxtest::State& st) {
  RefBitmap part(bm.width, count);
  for (int y = 0; y < count; ++y) std::memcpy(part.row(y), bm.row(first + y), bm.stride);
  faxtest::PageOptions o;
  o.K = K;
  o.eol = K >= 0;
  o.end = true;
  const faxtest::Coded c = faxtest::page_encode(faxtest::Packed(part), st, o);
  EXPECT_EQ(c.status, VLT_OK);
  return c.bytes;
}

PageData fax_page(const RefBitmap& bm, uint32_t coding, uint32_t rowsPerStrip, faxtest::State& st) {
  const int32_t K = coding == TFX_CODING_T6 ? -1 : coding == TFX_CODING_T4_2D ? 4 : 0;
  PageData p;
  p.width = static_cast<uint32_t>(bm.width);
  p.height = static_cast<uint32_t>(bm.height);
  p.rowsPerStrip = rowsPerStrip;
  p.coding = {coding, TFX_CSPACE_WHITE_IS_ZERO};
  for (uint32_t row = 0; row < p.height; row += rowsPerStrip) {
    const int rows = static_cast<int>(std::min(rowsPerStrip, p.height - row));
    p.strips.push_back(fax_code(bm, static_cast<int>(row), rows, K, st));
  }
  return p;
}

TEST(TfxBridge, FaxPagesCarryTheirProfileAndDecodeToTheirSource) {
  faxtest::State st;
  TempDir dir;
  struct Case {
    int chart;
    uint32_t coding, rowsPerStrip;
    uint16_t compression;
    uint32_t group3;
  };
  const Case cases[] = {{1, TFX_CODING_T6, 1000, COMPRESSION_CCITTFAX4, 0},
                        {2, TFX_CODING_T4_2D, 100000, COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING},
                        {3, TFX_CODING_T4_1D, 512, COMPRESSION_CCITTFAX3, 0}};
  MemFile file;
  Doc doc;
  create(doc, file, TFX_CREATE_F);
  ASSERT_EQ(doc.status, TFX_OK);
  std::vector<RefBitmap> charts;
  for (const Case& c : cases) {
    charts.push_back(monotest::ccitt_chart(c.chart));
    const uint32_t rps = std::min<uint32_t>(c.rowsPerStrip, static_cast<uint32_t>(charts.back().height));
    ASSERT_EQ(add_page(doc, fax_page(charts.back(), c.coding, rps, st)), TFX_OK) << TFX_GetErrorText(doc);
  }
  ASSERT_EQ(doc.close(), TFX_OK);

  const std::string path = on_disk(dir, file);
  ASSERT_EQ(monotest::tiff_directory_count(path), 3);
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const monotest::TiffDirectory d = monotest::tiff_directory(path, p);
    EXPECT_EQ(d.compression, cases[p].compression);
    EXPECT_EQ(d.group3Options, cases[p].group3);
    EXPECT_EQ(d.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(d.rowsPerStrip, std::min<uint32_t>(cases[p].rowsPerStrip, d.height));
    EXPECT_EQ(d.strips, (d.height + d.rowsPerStrip - 1) / d.rowsPerStrip);
    EXPECT_EQ(d.subfileType, static_cast<uint32_t>(FILETYPE_PAGE));
    EXPECT_FLOAT_EQ(d.xres, 204.0f);
    EXPECT_FLOAT_EQ(d.yres, 196.0f);
    EXPECT_EQ(d.resolutionUnit, RESUNIT_INCH);
    ASSERT_TRUE(d.hasFaxProfile);
    EXPECT_EQ(d.faxProfile, 2);
    EXPECT_EQ(d.codingMethods, (1u << 1) | (1u << 2) | (1u << 3));
    EXPECT_EQ(d.versionYear, "1998");
    EXPECT_EQ(d.modeNumber, 0);
    EXPECT_EQ(monotest::first_difference(charts[static_cast<size_t>(p)], monotest::tiff_bilevel(path, p)), "");
  }
}

// Reads page dir of a file through the bridge: the image's strips as it hands them out.
struct ReadPage {
  int32_t status = 0;
  uint32_t width = 0, height = 0, rowsPerStrip = 0, coding = 0, xres = 0, yres = 0;
  int32_t colorType = 0, colorSpace = 0;
  std::vector<Bytes> strips;
};

ReadPage read_page(TFX_Document* doc, int32_t index) {
  ReadPage r;
  const uint8_t* flags = nullptr;
  int32_t count = 0, subfile = 0, bits = 0, samples = 0;
  TFX_Page* page = nullptr;
  TFX_Image* image = nullptr;
  if ((r.status = TFX_GetPageInfo(doc, index, &flags, &count, &subfile, &page))) return r;
  if ((r.status = TFX_GetImageInfo(page, 1, 0, &bits, &samples, &r.xres, &r.yres, &r.width, &r.height,
                                   &r.rowsPerStrip, &r.coding, &r.colorType, 0, &image))) {
    return r;
  }
  if ((r.status = TFX_GetColorSpace(image, &r.colorSpace)) || (r.status = TFX_ImageReadStart(image, 0))) return r;
  for (uint32_t row = 0; row < r.height;) {
    int32_t strip = 0;
    uint32_t first = 0, rows = 0, size = 0;
    void* data = nullptr;
    TFX_Coding coding{};
    if ((r.status = TFX_GetStripeInfo(page, row, &strip, &first, &rows))) return r;
    if ((r.status = TFX_CompressedReadStrip(image, row, rows, &data, &size, &coding))) return r;
    r.strips.emplace_back(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    TFX_StripFree(image, data);
    row += rows;
  }
  return r;
}

MemFile load(const std::string& path) {
  MemFile f;
  const std::string bytes = monotest::read_file(path);
  f.bytes.assign(bytes.begin(), bytes.end());
  return f;
}

// Source pages made by libtiff's own coders, read through the bridge, written again through it:
// libtiff decodes the copy to the same samples.
TEST(TfxBridge, StripsReadAndWrittenKeepTheirPixels) {
  TempDir dir;
  constexpr uint32_t w = 61, h = 45;
  Bytes grey(w * h), rgb(w * h * 3);
  for (uint32_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>((i * 7) ^ (i >> 3));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(y * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 4);
      p[1] = static_cast<uint8_t>(y * 5);
      p[2] = static_cast<uint8_t>((x + y) * 2);
    }
  }
  const RefBitmap text = monotest::make_text_blobs(static_cast<int>(w), static_cast<int>(h), 3u);
  const Bytes bilevel(text.bits.begin(), text.bits.end());
  struct Case {
    const char* name;
    uint16_t compression, photometric, predictor, fill, samples, bits;
    uint32_t group3;
    const Bytes* rows;
    int32_t colorType;
  };
  const Case cases[] = {
      {"bilevel none", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 1, 1, 1, 1, 0, &bilevel, TFX_CTYPE_BILEVEL},
      {"bilevel black-is-zero", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 1, 1, 1, 1, 0, &bilevel,
       TFX_CTYPE_BILEVEL},
      {"g4", COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 1, 1, 1, 1, 0, &bilevel, TFX_CTYPE_BILEVEL},
      {"g3 2-D lsb first", COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, 1, 2, 1, 1, GROUP3OPT_2DENCODING,
       &bilevel, TFX_CTYPE_BILEVEL},
      {"packbits", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 1, 1, 1, 8, 0, &grey, TFX_CTYPE_GREY8},
      {"lzw", COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 1, 1, 1, 8, 0, &grey, TFX_CTYPE_GREY8},
      {"lzw predictor", COMPRESSION_LZW, PHOTOMETRIC_RGB, 2, 1, 3, 8, 0, &rgb, TFX_CTYPE_RGB24},
      {"deflate predictor", COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, 2, 1, 1, 8, 0, &grey,
       TFX_CTYPE_GREY8},
      {"jpeg grey", COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, 1, 1, 1, 8, 0, &grey, TFX_CTYPE_GREY8},
      {"jpeg ycbcr", COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 1, 1, 3, 8, 0, &rgb, TFX_CTYPE_RGB24},
      {"jpeg rgb", COMPRESSION_JPEG, PHOTOMETRIC_RGB, 1, 1, 3, 8, 0, &rgb, TFX_CTYPE_RGB24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    monotest::TiffSpec spec;
    spec.width = w;
    spec.height = h;
    spec.rowsPerStrip = 16;
    spec.bits = c.bits;
    spec.samples = c.samples;
    spec.compression = c.compression;
    spec.photometric = c.photometric;
    spec.predictor = c.predictor;
    spec.fillOrder = c.fill;
    spec.group3Options = c.group3;
    spec.xres = spec.yres = 150;
    const std::string source = dir.file("source.tif");
    monotest::tiff_write(source, {spec}, {*c.rows});

    MemFile in = load(source);
    Doc reader;
    open_read(reader, in);
    ASSERT_EQ(reader.status, TFX_OK);
    const ReadPage page = read_page(reader, 0);
    ASSERT_EQ(page.status, TFX_OK) << TFX_GetErrorText(reader);
    EXPECT_EQ(page.colorType, c.colorType);
    EXPECT_EQ(page.xres, 150u);
    EXPECT_EQ(page.strips.size(), 3u);
    if (c.compression != COMPRESSION_JPEG) {
      // As the file holds them, but most significant bit first.
      std::vector<Bytes> raw = monotest::tiff_raw_strips(source, 0);
      if (c.fill == 2) {
        for (Bytes& s : raw) TIFFReverseBits(s.data(), static_cast<tmsize_t>(s.size()));
      }
      EXPECT_EQ(page.strips, raw);
    }

    MemFile out;
    Doc writer;
    create(writer, out, TFX_CREATE_TIFF);
    PageData p;
    p.colorType = page.colorType;
    p.xres = page.xres;
    p.yres = page.yres;
    p.width = page.width;
    p.height = page.height;
    p.rowsPerStrip = page.rowsPerStrip;
    p.coding = {page.coding, page.colorSpace};
    p.strips = page.strips;
    ASSERT_EQ(add_page(writer, p), TFX_OK) << TFX_GetErrorText(writer);
    ASSERT_EQ(writer.close(), TFX_OK);
    const std::string copy = on_disk(dir, out, "copy.tif");
    EXPECT_EQ(monotest::tiff_directory(copy, 0).compression, c.compression);
    if (c.bits == 1) {
      EXPECT_EQ(monotest::first_difference(monotest::tiff_bilevel(source, 0), monotest::tiff_bilevel(copy, 0)), "");
    } else {
      EXPECT_EQ(monotest::tiff_samples(copy, 0), monotest::tiff_samples(source, 0));
    }
  }
}

TEST(TfxBridge, PaddedUncompressedRowsAreWrittenTight) {
  TempDir dir;
  const RefBitmap bm = monotest::make_noise(29, 10, 0.4, 5u);
  PageData p;
  p.width = 29;
  p.height = 10;
  p.rowsPerStrip = 4;
  p.coding = {TFX_CODING_NONE, TFX_CSPACE_WHITE_IS_ZERO};
  for (int first = 0; first < 10; first += 4) {
    Bytes strip;
    for (int y = first; y < std::min(10, first + 4); ++y) {
      strip.insert(strip.end(), bm.row(y), bm.row(y) + bm.stride);
      strip.insert(strip.end(), {0xFF, 0xFF, 0xFF, 0xFF});  // padding that must not show
    }
    p.strips.push_back(strip);
  }
  MemFile file;
  Doc doc;
  create(doc, file, TFX_CREATE_TIFF);
  ASSERT_EQ(add_page(doc, p), TFX_OK) << TFX_GetErrorText(doc);
  ASSERT_EQ(doc.close(), TFX_OK);
  EXPECT_EQ(monotest::first_difference(bm, monotest::tiff_bilevel(on_disk(dir, file), 0)), "");
}

TEST(TfxBridge, ProfileCheckAsksForTheNearestPageTheProfileTakes) {
  struct Case {
    const char* name;
    int32_t profile, colorType, colorSpace;
    uint32_t xres, yres, width, height;
    int32_t wantType, wantSpace;
    uint32_t wantX, wantY, wantW, wantH;
  };
  const Case cases[] = {
      {"S conforming", TFX_CREATE_S, 1, 1, 204, 196, 1728, 2200, 1, 1, 204, 196, 1728, 2200},
      {"S letter at 300", TFX_CREATE_S, 1, 1, 300, 300, 2550, 3300, 1, 1, 204, 196, 1728, 2156},
      {"S narrow width", TFX_CREATE_S, 1, 1, 200, 100, 1700, 1100, 1, 1, 200, 100, 1728, 1100},
      {"S colour page", TFX_CREATE_S, 7, 3, 200, 200, 1728, 2200, 1, 1, 200, 200, 1728, 2200},
      {"S black-is-zero", TFX_CREATE_S, 1, 2, 204, 98, 1728, 1100, 1, 1, 204, 98, 1728, 1100},
      {"S low resolution", TFX_CREATE_S, 1, 1, 100, 100, 850, 1100, 1, 1, 200, 100, 1728, 1100},
      {"F at 400", TFX_CREATE_F, 1, 1, 400, 400, 3456, 4400, 1, 1, 400, 400, 3456, 4400},
      {"F B4 at 300", TFX_CREATE_F, 1, 1, 300, 300, 3000, 4000, 1, 1, 300, 300, 3072, 4000},
      {"F B4 at 600", TFX_CREATE_F, 1, 1, 600, 600, 6000, 7000, 1, 1, 408, 391, 4096, 4562},
      {"F too wide", TFX_CREATE_F, 1, 1, 600, 600, 8000, 7000, 1, 1, 408, 391, 4864, 4562},
      {"C colour at 150", TFX_CREATE_C, 7, 3, 150, 150, 1275, 1650, 7, 3, 100, 100, 864, 1100},
      {"C grey conforming", TFX_CREATE_C, 3, 2, 300, 300, 2592, 3300, 3, 2, 300, 300, 2592, 3300},
      {"C bilevel follows F", TFX_CREATE_C, 1, 1, 204, 391, 2048, 4000, 1, 1, 204, 391, 2048, 4000},
      {"plain TIFF takes all", TFX_CREATE_TIFF, 7, 6, 72, 72, 500, 300, 7, 6, 72, 72, 500, 300},
      {"no profile takes all", TFX_CREATE_FX, 1, 1, 1, 1, 3, 3, 1, 1, 1, 1, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemFile file;
    Doc doc;
    create(doc, file, c.profile);
    TFX_Page* page = nullptr;
    ASSERT_EQ(TFX_AddPageStart(doc, -1, &page), TFX_OK);
    int32_t kind = 1, changed = -1, type = c.colorType, r1 = 0, r2 = 0, r3 = 0, space = c.colorSpace;
    uint32_t x = c.xres, y = c.yres, w = c.width, h = c.height, rps = c.height;
    ASSERT_EQ(TFX_CheckImageInfo(page, &kind, &changed, &type, &r1, &r2, &x, &y, &w, &h, &rps, 0, &r3, &space),
              TFX_OK);
    EXPECT_EQ(type, c.wantType);
    EXPECT_EQ(space, c.wantSpace);
    EXPECT_EQ(x, c.wantX);
    EXPECT_EQ(y, c.wantY);
    EXPECT_EQ(w, c.wantW);
    EXPECT_EQ(h, c.wantH);
    const bool same = type == c.colorType && space == c.colorSpace && x == c.xres && y == c.yres && w == c.width &&
                      h == c.height;
    EXPECT_EQ(changed, same ? 0 : 1);
  }
}

TEST(TfxBridge, APageResampledToTheCheckedSizeTakesTheCheckedResolution) {
  faxtest::State st;
  TempDir dir;
  MemFile file;
  Doc doc;
  create(doc, file, TFX_CREATE_S);
  TFX_Page* page = nullptr;
  ASSERT_EQ(TFX_AddPageStart(doc, -1, &page), TFX_OK);
  int32_t kind = 1, changed = 0, type = 1, r1 = 0, r2 = 0, r3 = 0, space = 1;
  uint32_t x = 300, y = 300, w = 2550, h = 300, rps = 300;
  ASSERT_EQ(TFX_CheckImageInfo(page, &kind, &changed, &type, &r1, &r2, &x, &y, &w, &h, &rps, 0, &r3, &space), 0);
  ASSERT_EQ(w, 1728u);
  // A page scaled to 1728 wide lands near 203 dpi; the check's 204 x 196 is what the file gets.
  const RefBitmap bm = monotest::make_text_blobs(1728, static_cast<int>(h), 9u);
  TFX_Image* image = nullptr;
  ASSERT_EQ(TFX_AddImage(page, 1, 1, 0, 0, 203, 196, 1728, h, h, 0, &image), TFX_OK) << TFX_GetErrorText(doc);
  int32_t a = 0, q = 75, b = 0;
  ASSERT_EQ(TFX_ImageWriteStart(image, 0, &a, &q, &b), TFX_OK);
  const Bytes coded = fax_code(bm, 0, bm.height, 0, st);
  const TFX_Coding coding{TFX_CODING_T4_1D, TFX_CSPACE_WHITE_IS_ZERO};
  ASSERT_EQ(TFX_CompressedWriteStrip(image, 0, h, coded.data(), static_cast<uint32_t>(coded.size()), &coding), 0);
  ASSERT_EQ(TFX_ImageWriteFinish(image), TFX_OK);
  ASSERT_EQ(TFX_AddPageFinish(page), TFX_OK);
  ASSERT_EQ(doc.close(), TFX_OK);
  const monotest::TiffDirectory d = monotest::tiff_directory(on_disk(dir, file), 0);
  EXPECT_FLOAT_EQ(d.xres, 204.0f);
  EXPECT_FLOAT_EQ(d.yres, 196.0f);
  EXPECT_EQ(d.faxProfile, 1);
  EXPECT_EQ(d.codingMethods, 1u << 1);
}

TEST(TfxBridge, RefusesPagesTheDocumentCannotHold) {
  const Bytes some(100, 0);
  PageData ok;
  ok.width = 1728;
  ok.height = 20;
  ok.rowsPerStrip = 10;
  ok.coding = {TFX_CODING_T4_1D, TFX_CSPACE_WHITE_IS_ZERO};
  ok.strips = {some, some};
  struct Case {
    const char* name;
    int32_t profile;
    PageData page;
    int32_t want;
  };
  std::vector<Case> cases;
  const auto with = [&](const char* name, int32_t profile, int32_t want, auto change) {
    PageData p = ok;
    change(p);
    cases.push_back({name, profile, p, want});
  };
  with("S takes 1728 wide only", TFX_CREATE_S, TFX_ERR_PROFILE, [](PageData& p) { p.width = 2048; });
  with("S takes T.4 1-D only", TFX_CREATE_S, TFX_ERR_PROFILE, [](PageData& p) { p.coding.coding = TFX_CODING_T6; });
  with("S takes no grey", TFX_CREATE_S, TFX_ERR_PROFILE, [](PageData& p) { p.colorType = TFX_CTYPE_GREY8; });
  with("F takes no 300 x 100", TFX_CREATE_F, TFX_ERR_PROFILE, [](PageData& p) { p.xres = 300, p.yres = 100; });
  with("F takes no uncompressed rows", TFX_CREATE_F, TFX_ERR_PROFILE,
       [](PageData& p) { p.coding.coding = TFX_CODING_NONE; });
  with("C colour is JPEG", TFX_CREATE_C, TFX_ERR_PROFILE, [](PageData& p) {
    p.colorType = TFX_CTYPE_RGB24;
    p.xres = p.yres = 200;
    p.coding = {TFX_CODING_LZW, TFX_CSPACE_RGB};
  });
  with("colour type 0", TFX_CREATE_TIFF, TFX_ERR_UNSUPPORTED, [](PageData& p) { p.colorType = 0; });
  with("0 rows per strip", TFX_CREATE_TIFF, TFX_ERR_ARGUMENT, [](PageData& p) { p.rowsPerStrip = 0; });
  with("more rows per strip than rows", TFX_CREATE_TIFF, TFX_ERR_ARGUMENT, [](PageData& p) { p.rowsPerStrip = 21; });
  with("empty image", TFX_CREATE_TIFF, TFX_ERR_ARGUMENT, [](PageData& p) { p.height = 0; });
  with("strip of no bytes", TFX_CREATE_TIFF, TFX_ERR_ARGUMENT, [](PageData& p) { p.strips[1].clear(); });
  with("rows missing", TFX_CREATE_TIFF, TFX_ERR_ARGUMENT, [](PageData& p) { p.strips.pop_back(); });
  with("rows too short", TFX_CREATE_TIFF, TFX_ERR_ARGUMENT, [](PageData& p) {
    p.coding.coding = TFX_CODING_NONE;
    p.strips = {Bytes(10 * 215), Bytes(10 * 216)};
  });
  with("two codings at once", TFX_CREATE_TIFF, TFX_ERR_PROFILE,
       [](PageData& p) { p.coding.coding = TFX_CODING_T4_1D | TFX_CODING_T6; });
  with("JBIG2 has no TIFF form", TFX_CREATE_TIFF, TFX_ERR_UNSUPPORTED,
       [](PageData& p) { p.coding.coding = TFX_CODING_JBIG2; });
  with("fax coding of grey", TFX_CREATE_TIFF, TFX_ERR_UNSUPPORTED, [](PageData& p) { p.colorType = TFX_CTYPE_GREY8; });
  with("JPEG without a frame", TFX_CREATE_TIFF, TFX_ERR_UNSUPPORTED, [](PageData& p) {
    p.colorType = TFX_CTYPE_GREY8;
    p.coding.coding = TFX_CODING_JPEG;
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemFile file;
    Doc doc;
    create(doc, file, c.profile);
    ASSERT_EQ(doc.status, TFX_OK);
    EXPECT_EQ(add_page(doc, c.page), c.want);
    // The refused page left nothing behind: the document takes a good one.
    PageData good = ok;
    if (c.profile == TFX_CREATE_TIFF) good.coding.coding = TFX_CODING_NONE, good.strips = {Bytes(2160), Bytes(2160)};
    EXPECT_EQ(add_page(doc, good), TFX_OK) << TFX_GetErrorText(doc);
  }
}

TEST(TfxBridge, StripsComeInRowOrderAndCallsInTheirOrder) {
  MemFile file;
  Doc doc;
  create(doc, file, TFX_CREATE_TIFF);
  TFX_Page* page = nullptr;
  TFX_Image* image = nullptr;
  ASSERT_EQ(TFX_AddPageStart(doc, 0, &page), TFX_ERR_UNSUPPORTED);
  ASSERT_EQ(TFX_AddPageStart(doc, -1, &page), TFX_OK);
  EXPECT_EQ(TFX_AddPageFinish(page), TFX_ERR_SEQUENCE);
  ASSERT_EQ(TFX_AddImage(page, 1, 1, 0, 0, 0, 0, 8, 4, 2, 0, &image), TFX_OK);
  TFX_Image* second = nullptr;
  EXPECT_EQ(TFX_AddImage(page, 1, 1, 0, 0, 0, 0, 8, 4, 2, 0, &second), TFX_ERR_SEQUENCE);
  const uint8_t rows[2] = {0x81, 0x42};
  const TFX_Coding none{TFX_CODING_NONE, 0};
  EXPECT_EQ(TFX_CompressedWriteStrip(image, 0, 2, rows, 2, &none), TFX_ERR_SEQUENCE);
  int32_t a = 0, q = 75, b = 0;
  ASSERT_EQ(TFX_ImageWriteStart(image, 0, &a, &q, &b), TFX_OK);
  EXPECT_EQ(TFX_CompressedWriteStrip(image, 2, 2, rows, 2, &none), TFX_ERR_ARGUMENT);
  EXPECT_EQ(TFX_CompressedWriteStrip(image, 0, 1, rows, 1, &none), TFX_ERR_ARGUMENT);
  ASSERT_EQ(TFX_CompressedWriteStrip(image, 0, 2, rows, 2, &none), TFX_OK);
  EXPECT_EQ(TFX_ImageWriteFinish(image), TFX_ERR_ARGUMENT);
  EXPECT_EQ(TFX_CompressedWriteStrip(image, 0, 2, rows, 2, &none), TFX_ERR_ARGUMENT);
  const TFX_Coding other{TFX_CODING_PACKBITS, 0};
  EXPECT_EQ(TFX_CompressedWriteStrip(image, 2, 2, rows, 2, &other), TFX_ERR_ARGUMENT);
  ASSERT_EQ(TFX_CompressedWriteStrip(image, 2, 2, rows, 2, &none), TFX_OK);
  ASSERT_EQ(TFX_ImageWriteFinish(image), TFX_OK);
  ASSERT_EQ(TFX_AddPageFinish(page), TFX_OK);
  EXPECT_EQ(TFX_AddPageFinish(page), TFX_ERR_SEQUENCE);
  // Reading calls on a written document are refused.
  const uint8_t* flags = nullptr;
  int32_t count = 0, subfile = 0;
  TFX_Page* read = nullptr;
  EXPECT_EQ(TFX_GetPageInfo(doc, 0, &flags, &count, &subfile, &read), TFX_ERR_SEQUENCE);
  uint8_t order = 0, fax = 0;
  uint16_t pages = 0;
  ASSERT_EQ(TFX_GetDocInfo(doc, &order, &fax, &pages), TFX_OK);
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(fax, 0);
}

TEST(TfxBridge, OnlyFinishedPagesReachTheFile) {
  TempDir dir;
  const Bytes rows(2 * 216, 0x55);
  PageData p;
  p.width = 1728;
  p.height = 2;
  p.rowsPerStrip = 2;
  p.strips = {rows};
  MemFile file;
  Doc doc;
  create(doc, file, TFX_CREATE_TIFF);
  ASSERT_EQ(add_page(doc, p), TFX_OK);
  // A page abandoned after its strips: dropped when the next page starts.
  TFX_Page* page = nullptr;
  TFX_Image* image = nullptr;
  ASSERT_EQ(TFX_AddPageStart(doc, -1, &page), TFX_OK);
  ASSERT_EQ(TFX_AddImage(page, 1, 1, 0, 0, 200, 200, 1728, 2, 2, 0, &image), TFX_OK);
  ASSERT_EQ(add_page(doc, p), TFX_OK);
  // And one abandoned when the document closes.
  ASSERT_EQ(TFX_AddPageStart(doc, -1, &page), TFX_OK);
  ASSERT_EQ(TFX_AddImage(page, 1, 1, 0, 0, 200, 200, 1728, 2, 2, 0, &image), TFX_OK);
  ASSERT_EQ(doc.close(), TFX_OK);
  EXPECT_EQ(monotest::tiff_directory_count(on_disk(dir, file)), 2);

  // A page the file cannot take breaks the document: later pages are refused, earlier ones stay.
  MemFile full;
  Doc broken;
  create(broken, full, TFX_CREATE_TIFF);
  ASSERT_EQ(add_page(broken, p), TFX_OK);
  full.writeLimit = static_cast<int64_t>(full.bytes.size()) + 100;
  EXPECT_EQ(add_page(broken, p), TFX_ERR_IO);
  EXPECT_EQ(add_page(broken, p), TFX_ERR_SEQUENCE);
  broken.close();
  EXPECT_EQ(monotest::tiff_directory_count(on_disk(dir, full, "broken.tif")), 1);
}

TEST(TfxBridge, ReadsProfilesAndRefusesLayoutsItCannotDescribe) {
  TempDir dir;
  const Bytes rows(2 * 216, 0x0F);
  PageData p;
  p.width = 1728;
  p.height = 2;
  p.rowsPerStrip = 2;
  p.coding = {TFX_CODING_T4_1D, TFX_CSPACE_WHITE_IS_ZERO};
  faxtest::State st;
  p.strips = {fax_code(monotest::make_noise(1728, 2, 0.2, 1u), 0, 2, 0, st)};
  const struct {
    int32_t create, read;
    uint8_t fax;
  } profiles[] = {{TFX_CREATE_S, TFX_PROFILE_S, 1},
                  {TFX_CREATE_F, TFX_PROFILE_F, 1},
                  {TFX_CREATE_C, TFX_PROFILE_C, 1},
                  {TFX_CREATE_FX, TFX_PROFILE_FX, 1},
                  {TFX_CREATE_TIFF, TFX_PROFILE_TIFF, 0}};
  for (const auto& c : profiles) {
    MemFile file;
    Doc doc;
    create(doc, file, c.create);
    ASSERT_EQ(add_page(doc, p), TFX_OK) << TFX_GetErrorText(doc);
    doc.close();
    Doc reader;
    open_read(reader, file);
    ASSERT_EQ(reader.status, TFX_OK);
    int32_t profile = 0;
    uint8_t order = 0, fax = 9;
    uint16_t pages = 0;
    ASSERT_EQ(TFX_GetDocProfile(reader, &profile), TFX_OK);
    ASSERT_EQ(TFX_GetDocInfo(reader, &order, &fax, &pages), TFX_OK);
    EXPECT_EQ(profile, c.read);
    EXPECT_EQ(fax, c.fax);
    EXPECT_EQ(order, 'I');
    EXPECT_EQ(pages, 1);
    const ReadPage page = read_page(reader, 0);
    ASSERT_EQ(page.status, TFX_OK);
    EXPECT_EQ(page.strips, p.strips);
    EXPECT_EQ(page.coding, static_cast<uint32_t>(TFX_CODING_T4_1D));
    EXPECT_EQ(page.colorSpace, TFX_CSPACE_WHITE_IS_ZERO);
    EXPECT_EQ(read_page(reader, 1).status, TFX_ERR_ARGUMENT);
    EXPECT_EQ(read_page(reader, -1).status, TFX_ERR_ARGUMENT);
  }

  struct Refused {
    const char* name;
    monotest::TiffSpec spec;
  };
  std::vector<Refused> refused;
  const auto add = [&](const char* name, auto change) {
    monotest::TiffSpec s;
    s.width = 32;
    s.height = 32;
    s.bits = 8;
    s.samples = 1;
    s.photometric = PHOTOMETRIC_MINISBLACK;
    change(s);
    refused.push_back({name, s});
  };
  add("tiled", [](monotest::TiffSpec& s) { s.tiled = true; });
  add("planes apart", [](monotest::TiffSpec& s) {
    s.samples = 3;
    s.photometric = PHOTOMETRIC_RGB;
    s.separatePlanes = true;
  });
  add("16-bit grey", [](monotest::TiffSpec& s) { s.bits = 16; });
  add("subsampled YCbCr rows", [](monotest::TiffSpec& s) {
    s.samples = 3;
    s.photometric = PHOTOMETRIC_YCBCR;
  });
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.name);
    const std::string path = dir.file("refused.tif");
    const size_t bytes = size_t{32} * 32 * r.spec.samples * r.spec.bits / 8;
    monotest::tiff_write(path, {r.spec}, {Bytes(bytes, 0x40)});
    MemFile file = load(path);
    Doc reader;
    open_read(reader, file);
    ASSERT_EQ(reader.status, TFX_OK);
    EXPECT_EQ(read_page(reader, 0).status, TFX_ERR_UNSUPPORTED);
  }
}

// Damaged files: cut short at every length, so that directories and strips point past the end.
TEST(TfxBridge, DamagedFilesFailWithoutHarm) {
  faxtest::State st;
  PageData p = fax_page(monotest::make_text_blobs(300, 90, 4u), TFX_CODING_T6, 30, st);
  p.xres = p.yres = 200;
  MemFile whole;
  {
    Doc doc;
    create(doc, whole, TFX_CREATE_TIFF);
    ASSERT_EQ(add_page(doc, p), TFX_OK);
    ASSERT_EQ(add_page(doc, p), TFX_OK);
  }
  int opened = 0, read = 0;
  for (size_t cut = 0; cut < whole.bytes.size(); ++cut) {
    MemFile part;
    part.bytes.assign(whole.bytes.begin(), whole.bytes.begin() + static_cast<long>(cut));
    Doc reader;
    open_read(reader, part);
    if (reader.status != TFX_OK) {
      EXPECT_EQ(reader.d, nullptr);
      continue;
    }
    ++opened;
    uint8_t order = 0, fax = 0;
    uint16_t pages = 0;
    ASSERT_EQ(TFX_GetDocInfo(reader, &order, &fax, &pages), TFX_OK);
    for (int32_t i = 0; i < pages; ++i) {
      const ReadPage page = read_page(reader, i);
      if (page.status == TFX_OK) {
        ++read;
        EXPECT_EQ(page.strips, p.strips);
      }
    }
  }
  EXPECT_GT(opened, 0);
  EXPECT_GT(read, 0);

  // Not TIFF at all.
  MemFile text;
  text.bytes = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'};
  Doc reader;
  open_read(reader, text);
  EXPECT_EQ(reader.status, TFX_ERR_FORMAT);
}

}  // namespace
