// The engine's raster procedures as the interpreter calls them by name: every writer's output
// accepted by the format's own tools and, for the lossless formats, equal in pixels after the
// netpbm converters; files read back into page images; readtif's info fields; refusals.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostile_pages.h"
#include "interp_fixture.h"
#include "kvraster.h"
#include "sanitizer_size.h"
#include "tools.h"

namespace {

using monotest::run_tool;
using monotest::shell_quote;

enum class Kind { Bilevel, Grey, Rgb };

// A page with structure in every direction, so that flipped, shifted or swapped samples show.
struct Page {
  Kind kind;
  int32_t width, height;
  std::vector<uint8_t> rows;  // bilevel 1 = black MSB first; grey 8 bits; RGB 8 bits each
  int channels() const { return kind == Kind::Rgb ? 3 : 1; }
  size_t row_bytes() const { return kind == Kind::Bilevel ? (width + 7) / 8 : size_t(width) * channels(); }
};

Page make_page(Kind kind, int32_t width = 37, int32_t height = 23) {
  Page p{kind, width, height, {}};
  p.rows.assign(p.row_bytes() * height, 0);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (kind == Kind::Bilevel) {
        if ((x * 7 + y * 3) % 5 < 2 || x == y) p.rows[y * p.row_bytes() + x / 8] |= 0x80 >> (x % 8);
      } else {
        for (int c = 0; c < p.channels(); ++c) p.rows[y * p.row_bytes() + x * p.channels() + c] = uint8_t(x * 7 + y * 11 + c * 60);
      }
    }
  }
  return p;
}

// The page as PNM bytes, as the netpbm converters print it.
std::string as_pnm(const Page& p) {
  std::string out = std::string(p.kind == Kind::Bilevel ? "P4" : p.kind == Kind::Grey ? "P5" : "P6") + "\n" +
                    std::to_string(p.width) + " " + std::to_string(p.height) + "\n" + (p.kind == Kind::Bilevel ? "" : "255\n");
  return out + std::string(p.rows.begin(), p.rows.end());
}

class RasterTest : public monotest::InterpTest {
 protected:
  void TearDown() override {
    for (elf_object* o : kept) elfDiscard(o);
    monotest::InterpTest::TearDown();
  }
  elf_object* keep(elf_object* o) {
    kept.push_back(o);
    return o;
  }

  // A page image of one raw layer (photometric as given).
  elf_object* image_of(const Page& p, int32_t photometric) {
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
    elf_object* desc = new_QELHDR(state, nullptr, nullptr);
    void* bytes = elfMalloc(p.rows.size());
    std::memcpy(bytes, p.rows.data(), p.rows.size());
    elf_QELHDR* h = qelHdr(desc);
    h->width = p.width;
    h->height = p.height;
    h->samplesPerPixel = p.channels();
    h->bitsPerSampleCount = h->bytesPerRowCount = 1;
    h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bitsPerSample[0] = p.kind == Kind::Bilevel ? 1 : 8;
    h->bytesPerRow[0] = int32_t(p.row_bytes());
    h->photometric = photometric;
    h->interleave = 1;
    elf_QELLAYER* l = qelLayer(layer);
    l->kind = p.kind == Kind::Bilevel ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
    l->xres = l->yres = 200;
    ELF_ASSIGN(state, &l->description, desc);
    ELF_ASSIGN(state, &l->data, elfNewPointer(state, bytes, p.rows.size()));
    EXPECT_EQ(QELAppendLayer(image, "layer0", layer), QEL_STATUS_OK);
    return keep(image);
  }

  int call(elf_object* obj, const char* member, elf_object* args, elf_object** out = nullptr) {
    clearStatus(state);
    elf_object* result = nullptr;
    const int status = call_elf_object_method(state, obj, member, args, &result);
    if (args) elfDiscard(args);
    if (out) {
      *out = result ? keep(result) : nullptr;
    } else if (result) {
      elfDiscard(result);
    }
    return status;
  }

  int write(elf_object* image, const char* method, const std::string& path) {
    return call(image, method, lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END));
  }

  // The first layer of an image read back, as a page.
  static Page page_of(elf_object* image) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
    const elf_QELHDR* h = qelHdr(l->description);
    Page p{h->samplesPerPixel == 3 ? Kind::Rgb : h->bitsPerSample[0] == 1 ? Kind::Bilevel : Kind::Grey, h->width, h->height, {}};
    const auto* data = reinterpret_cast<const elf_POINTER*>(l->data);
    EXPECT_EQ(size_t(h->bytesPerRow[0]), p.row_bytes());
    p.rows.assign(static_cast<const uint8_t*>(data->data), static_cast<const uint8_t*>(data->data) + p.row_bytes() * p.height);
    return p;
  }

  // Page n of a TIFF file through readtif; null with the status set.
  elf_object* read_tif(const std::string& path, int32_t n) {
    elf_object* result = nullptr;
    if (call_elf_procedure(state, "readtif", keep(lstBuildArgs(state, "filename:s", path.c_str(), 0, "dirnum:i", n, 0, LST_END)),
                           &result) != QEL_STATUS_OK) {
      return nullptr;
    }
    keep(result);
    elf_object* page = nullptr;
    lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &page, LST_END);
    return page;
  }

  std::vector<elf_object*> kept;
  monotest::TempDir dir;
};

constexpr int32_t grey = 22, rgb = 111;

TEST_F(RasterTest, LosslessWritersKeepEveryPixelAndReadBack) {
  monotest::require_tool("pngtopnm", "netpbm");
  monotest::require_tool("tifftopnm", "netpbm");
  monotest::require_tool("pngcheck", "pngcheck");
  struct Format {
    const char* method;
    const char* ext;
    const char* check;    // a tool that must accept the file, or null
    const char* to_pnm;   // the netpbm converter
  };
  const Format formats[] = {{"writepng", "png", "pngcheck -q", "pngtopnm"},
                            {"writetif", "tif", "tiffinfo", "tifftopnm"},
                            {"writebmp", "bmp", nullptr, "bmptopnm"},
                            {"writeimage", "pnm", nullptr, "cat"}};
  for (Kind kind : {Kind::Bilevel, Kind::Grey, Kind::Rgb}) {
    const Page page = make_page(kind);
    elf_object* image = image_of(page, kind == Kind::Bilevel ? QEL_PHOTO_BILEVEL : kind == Kind::Grey ? grey : rgb);
    for (const Format& f : formats) {
      SCOPED_TRACE(std::string(f.method) + " kind " + std::to_string(int(kind)));
      const std::string path = dir.file(std::string("p") + std::to_string(int(kind)) + "." + f.ext);
      ASSERT_EQ(write(image, f.method, path), QEL_STATUS_OK) << getStatusMessage(state);
      if (f.check) {
        EXPECT_EQ(run_tool(std::string(f.check) + " " + shell_quote(path)).exit_code, 0);
      }
      const auto pnm = run_tool(std::string(f.to_pnm) + " " + shell_quote(path) + " 2>/dev/null");
      ASSERT_EQ(pnm.exit_code, 0);
      EXPECT_TRUE(pnm.output == as_pnm(page)) << "pixels differ after " << f.to_pnm;

      elf_object* back = nullptr;
      ASSERT_EQ(QELReadFile2QELIMAGE(state, path.c_str(), nullptr, &back), QEL_STATUS_OK) << getStatusMessage(state);
      keep(back);
      const Page read = page_of(back);
      EXPECT_EQ(int(read.kind), int(kind));
      EXPECT_TRUE(read.rows == page.rows);
      // Resolution travels in every format but PNM, whose pages take the engine's default.
      EXPECT_NEAR(qelImage(back)->xres, std::string(f.ext) == "pnm" ? 300 : 200, 0.01);
    }
  }
}

TEST_F(RasterTest, LossyAndPaletteWritersGiveFilesTheirToolsAccept) {
  monotest::require_tool("djpeg", "libjpeg-turbo-progs");
  monotest::require_tool("giftext", "giflib-tools");
  for (Kind kind : {Kind::Bilevel, Kind::Grey, Kind::Rgb}) {
    const Page page = make_page(kind, 64, 40);
    elf_object* image = image_of(page, kind == Kind::Bilevel ? QEL_PHOTO_BILEVEL : kind == Kind::Grey ? grey : rgb);
    const std::string jpg = dir.file("p.jpg"), gif = dir.file("p.gif");
    ASSERT_EQ(write(image, "writejpg", jpg), QEL_STATUS_OK) << getStatusMessage(state);
    ASSERT_EQ(write(image, "writegif", gif), QEL_STATUS_OK) << getStatusMessage(state);
    EXPECT_EQ(run_tool("djpeg " + shell_quote(jpg) + " > /dev/null").exit_code, 0);
    EXPECT_EQ(run_tool("giftext " + shell_quote(gif) + " > /dev/null").exit_code, 0);
    // Bilevel and grey pages fit a GIF palette exactly; JPEG stays close.
    for (const std::string& path : {jpg, gif}) {
      elf_object* back = nullptr;
      ASSERT_EQ(QELReadFile2QELIMAGE(state, path.c_str(), nullptr, &back), QEL_STATUS_OK) << getStatusMessage(state);
      keep(back);
      const Page read = page_of(back);
      ASSERT_EQ(read.width, page.width);
      ASSERT_EQ(read.height, page.height);
      if (path == gif && kind != Kind::Rgb) {
        for (int32_t y = 0; y < page.height; ++y) {
          for (int32_t x = 0; x < page.width; ++x) {
            const int want = kind == Kind::Bilevel ? (page.rows[y * page.row_bytes() + x / 8] >> (7 - x % 8) & 1 ? 0 : 255)
                                                   : page.rows[y * page.width + x];
            ASSERT_EQ(read.rows[(y * page.width + x) * 3], want) << x << "," << y;
          }
        }
      }
    }
  }
}

TEST_F(RasterTest, TiffPagesAppendAndReadtifCountsThem) {
  monotest::require_tool("tiffinfo", "libtiff-tools");
  const std::string path = dir.file("doc.tif");
  const Page pages[] = {make_page(Kind::Bilevel), make_page(Kind::Grey), make_page(Kind::Rgb)};
  for (size_t i = 0; i < 3; ++i) {
    elf_object* image = image_of(pages[i], i == 0 ? QEL_PHOTO_BILEVEL : i == 1 ? grey : rgb);
    ASSERT_EQ(call(image, "writetif", lstBuildArgs(state, "filename:s", path.c_str(), 0, "append:b", i > 0, 0, LST_END)),
              QEL_STATUS_OK)
        << getStatusMessage(state);
  }
  const auto info = run_tool("tiffinfo " + shell_quote(path) + " 2>&1");
  size_t directories = 0;
  for (size_t at = 0; (at = info.output.find("TIFF Directory", at)) != std::string::npos; ++at) ++directories;
  EXPECT_EQ(directories, 3u);
  EXPECT_NE(info.output.find("CCITT Group 4"), std::string::npos);
  EXPECT_NE(info.output.find("LZW"), std::string::npos) << info.output;

  elf_object* result = nullptr;
  ASSERT_EQ(call_elf_procedure(state, "readtif", keep(lstBuildArgs(state, "filename:s", path.c_str(), 0, "info:b", 1, 0, LST_END)),
                               &result),
            QEL_STATUS_OK)
      << getStatusMessage(state);
  keep(result);
  elf_object* info_image = nullptr;
  ASSERT_TRUE(lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &info_image, LST_END));
  elf_object* out = nullptr;
  ASSERT_EQ(call(info_image, "findField", lstBuildArgs(state, "name:s", "pages", 0, "type:s", "i", 0, LST_END), &out), 0);
  int32_t field = -1, pages_found = 0;
  ASSERT_TRUE(lstScanArgs(out, "field:i", LST_REQUIRED, &field, LST_END));
  ASSERT_EQ(call(info_image, "getFieldInt", lstBuildArgs(state, "entry:i", 0, 0, "index:i", 0, 0, "field:i", field, 0, LST_END), &out), 0) << getStatusMessage(state);
  ASSERT_TRUE(lstScanArgs(out, "value:i", LST_REQUIRED, &pages_found, LST_END));
  EXPECT_EQ(pages_found, 3);
  ASSERT_EQ(call(info_image, "findField", lstBuildArgs(state, "name:s", "tiff_profile", 0, "type:s", "c", 0, LST_END), &out), 0);
  ASSERT_TRUE(lstScanArgs(out, "field:i", LST_REQUIRED, &field, LST_END));
  const char* profile = nullptr;
  ASSERT_EQ(call(info_image, "getFieldStr", lstBuildArgs(state, "entry:i", 0, 0, "field:i", field, 0, LST_END), &out), 0) << getStatusMessage(state);
  ASSERT_TRUE(lstScanArgs(out, "value:s", LST_REQUIRED, &profile, LST_END));
  EXPECT_STREQ(profile, "none");
  ASSERT_EQ(call(info_image, "findField", lstBuildArgs(state, "name:s", "pages", 0, "type:s", "c", 0, LST_END), &out), 0);
  ASSERT_TRUE(lstScanArgs(out, "field:i", LST_REQUIRED, &field, LST_END));
  EXPECT_EQ(field, -1);

  // Each page by its directory number, as written.
  for (int32_t n = 1; n <= 3; ++n) {
    result = nullptr;
    ASSERT_EQ(call_elf_procedure(state, "readtif",
                                 keep(lstBuildArgs(state, "filename:s", path.c_str(), 0, "dirnum:i", n, 0, LST_END)), &result),
              QEL_STATUS_OK);
    keep(result);
    elf_object* page = nullptr;
    ASSERT_TRUE(lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &page, LST_END));
    EXPECT_EQ(call(page, "exec", nullptr), QEL_STATUS_OK);
    EXPECT_TRUE(page_of(page).rows == pages[n - 1].rows) << "page " << n;
  }
  EXPECT_NE(call_elf_procedure(state, "readtif", keep(lstBuildArgs(state, "filename:s", path.c_str(), 0, "dirnum:i", 4, 0, LST_END)),
                               nullptr),
            QEL_STATUS_OK);
  EXPECT_EQ(call_elf_procedure(state, "Execute", nullptr, nullptr), QEL_STATUS_OK);
}

TEST_F(RasterTest, ConversionMethodsGiveNewImages) {
  // A 2-bit palette page unmapped through its colour map.
  Page indices{Kind::Grey, 4, 1, {0x1B}};  // indices 0 1 2 3
  elf_object* image = image_of(make_page(Kind::Grey, 4, 1), 11);
  elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
  elf_QELHDR* h = qelHdr(l->description);
  h->bitsPerSample[0] = 2;
  std::memcpy(reinterpret_cast<elf_POINTER*>(l->data)->data, indices.rows.data(), 1);
  EXPECT_EQ(write(image, "writepng", dir.file("x.png")), QEL_STATUS_FAILED);
  EXPECT_NE(std::string(getStatusMessage(state)).find("unmapped"), std::string::npos);
  elf_object* out = nullptr;
  EXPECT_EQ(call(image, "unmap", nullptr, &out), QEL_STATUS_FAILED);  // no colour map yet
  uint8_t map[12] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 1, 2, 3};
  void* bytes = elfMalloc(sizeof map);
  std::memcpy(bytes, map, sizeof map);
  ASSERT_EQ(call(QELGetLayer(image, 0), "setAttr",
                 lstBuildArgs(state, "name:s", "ColorMap", 0, "obj:", elfNewPointer(state, bytes, sizeof map), 0, LST_END)),
            QEL_STATUS_OK);
  ASSERT_EQ(call(image, "unmap", nullptr, &out), QEL_STATUS_OK) << getStatusMessage(state);
  elf_object* unmapped = nullptr;
  ASSERT_TRUE(lstScanArgs(out, "img:QELIMAGE", LST_REQUIRED, &unmapped, LST_END));
  EXPECT_TRUE(page_of(unmapped).rows == std::vector<uint8_t>(map, map + 12));
  EXPECT_EQ(h->photometric, 11) << "the original is left alone";

  // Device RGB relabelled sRGB; planar samples interleaved.
  elf_object* colour = image_of(make_page(Kind::Rgb, 2, 1), 18);
  elf_object* list = new_LIST(state, nullptr, nullptr);
  elflistInsert(list, elfNewString(state, "Photometry:name:srgb"), 0, 0);
  ASSERT_EQ(call(colour, "modheader", lstBuildArgs(state, "modify:", list, 0, LST_END), &out), QEL_STATUS_OK);
  elf_object* srgb = nullptr;
  ASSERT_TRUE(lstScanArgs(out, "img:QELIMAGE", LST_REQUIRED, &srgb, LST_END));
  EXPECT_EQ(qelHdr(qelLayer(QELGetLayer(srgb, 0))->description)->photometric, 15);

  const uint8_t planes[6] = {1, 2, 3, 4, 5, 6};  // red 1 2, green 3 4, blue 5 6
  elf_object* planar = image_of(make_page(Kind::Rgb, 2, 1), rgb);
  elf_QELLAYER* pl = qelLayer(QELGetLayer(planar, 0));
  qelHdr(pl->description)->interleave = 2;
  qelHdr(pl->description)->bytesPerRow[0] = 2;
  std::memcpy(reinterpret_cast<elf_POINTER*>(pl->data)->data, planes, 6);
  ASSERT_EQ(call(planar, "interleave", lstBuildArgs(state, "scanline:b", 1, 0, LST_END), &out), QEL_STATUS_OK)
      << getStatusMessage(state);
  elf_object* mixed = nullptr;
  ASSERT_TRUE(lstScanArgs(out, "img:QELIMAGE", LST_REQUIRED, &mixed, LST_END));
  EXPECT_TRUE(page_of(mixed).rows == (std::vector<uint8_t>{1, 3, 5, 2, 4, 6}));
}

TEST_F(RasterTest, TransparentPixelsAreLaidOnWhite) {
  monotest::require_tool("pnmtopng", "netpbm");
  monotest::require_tool("pnmtotiff", "netpbm");
  // Black everywhere, opaque only in the left half; 50 % grey alpha in the right column.
  monotest::write_file(dir.file("black.pgm"), "P5\n4 1\n255\n" + std::string(4, '\0'));
  monotest::write_file(dir.file("alpha.pgm"), std::string("P5\n4 1\n255\n\xff\xff\x00\x80", 15));
  ASSERT_EQ(run_tool("cd " + shell_quote(dir.path()) + " && pnmtopng -alpha=alpha.pgm black.pgm > a.png").exit_code, 0);
  elf_object* back = nullptr;
  ASSERT_EQ(QELReadFile2QELIMAGE(state, dir.file("a.png").c_str(), nullptr, &back), QEL_STATUS_OK) << getStatusMessage(state);
  keep(back);
  // pnmtopng makes a palette with transparent entries of it: the page comes back in colour.
  EXPECT_TRUE(page_of(back).rows == (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 255, 255, 127, 127, 127}));
}

TEST_F(RasterTest, RefusalsLeaveNoFileBehind) {
  elf_object* image = image_of(make_page(Kind::Grey), grey);
  const std::string out = dir.file("x.tif");
  EXPECT_EQ(call(image, "writetif", lstBuildArgs(state, "filename:s", out.c_str(), 0, "compression:i", 3, 0, LST_END)),
            QEL_STATUS_FAILED);
  EXPECT_NE(std::string(getStatusMessage(state)).find("fax compression needs a 1-bit page"), std::string::npos);
  EXPECT_NE(access(out.c_str(), F_OK), 0);
  qelHdr(qelLayer(QELGetLayer(image, 0))->description)->compression = QEL_COMPRESSION_JBIG2;
  EXPECT_EQ(write(image, "writepng", dir.file("x.png")), QEL_STATUS_FAILED);
  EXPECT_NE(access(dir.file("x.png").c_str(), F_OK), 0);
  EXPECT_EQ(write(image_of(make_page(Kind::Grey), grey), "writebmp", dir.file("no/such/dir.bmp")), QEL_STATUS_FAILED);

  // Files that are not what they claim, or cut short.
  monotest::write_file(dir.file("text.png"), "\x89PNG\r\n\x1A\n but not really");
  monotest::write_file(dir.file("short.pgm"), "P5\n4 4\n255\nab");
  monotest::write_file(dir.file("short.bmp"), std::string("BM") + std::string(60, '\0'));
  for (const char* name : {"text.png", "short.pgm", "short.bmp", "absent.tif"}) {
    elf_object* back = reinterpret_cast<elf_object*>(1);
    EXPECT_NE(QELReadFile2QELIMAGE(state, dir.file(name).c_str(), nullptr, &back), QEL_STATUS_OK) << name;
    EXPECT_EQ(back, nullptr);
  }
}

TEST_F(RasterTest, TiledAndStripedTiffsOfEveryCodingGiveTheSamePage) {
  monotest::require_tool("tiffcp", "libtiff-tools");
  struct Coding {
    Kind kind;
    const char* option;  // tiffcp's -c
  };
  const Coding codings[] = {{Kind::Bilevel, "none"}, {Kind::Bilevel, "g4"},   {Kind::Bilevel, "g3"},
                            {Kind::Bilevel, "lzw"},  {Kind::Bilevel, "zip"},  {Kind::Bilevel, "packbits"},
                            {Kind::Grey, "none"},    {Kind::Grey, "lzw"},     {Kind::Grey, "zip"},
                            {Kind::Grey, "jpeg"},    {Kind::Rgb, "packbits"}, {Kind::Rgb, "lzw"},
                            {Kind::Rgb, "jpeg"}};
  // Strips, square tiles, and wide tiles of planes (tiffcp makes planes of whole-byte samples, and
  // not in JPEG).
  const char* layouts[] = {"-r 16", "-t -w 16 -l 16", "-t -w 32 -l 16 -p separate"};
  for (const Coding& c : codings) {
    const Page page = make_page(c.kind, 53, 37);
    const std::string source = dir.file("source.tif");
    elf_object* image = image_of(page, c.kind == Kind::Bilevel ? QEL_PHOTO_BILEVEL : c.kind == Kind::Grey ? grey : rgb);
    ASSERT_EQ(call(image, "writetif", lstBuildArgs(state, "filename:s", source.c_str(), 0, "compression:i", 0, 0, LST_END)),
              QEL_STATUS_OK)
        << getStatusMessage(state);
    for (const char* layout : layouts) {
      const bool jpeg = std::string(c.option) == "jpeg";
      if ((c.kind == Kind::Bilevel || jpeg) && std::string(layout).find("separate") != std::string::npos) continue;
      SCOPED_TRACE(std::string(c.option) + " " + layout);
      const std::string path = dir.file("copy.tif");
      ASSERT_EQ(run_tool(std::string("tiffcp -c ") + c.option + " " + layout + " " + shell_quote(source) + " " +
                         shell_quote(path) + " 2>&1")
                    .exit_code,
                0);
      elf_object* back = read_tif(path, 1);
      ASSERT_NE(back, nullptr) << getStatusMessage(state);
      const Page read = page_of(back);
      EXPECT_EQ(int(read.kind), int(c.kind)) << "the page changed its form";
      ASSERT_EQ(read.width, page.width);
      ASSERT_EQ(read.height, page.height);
      if (!jpeg) {
        EXPECT_TRUE(read.rows == page.rows) << "pixels differ";
      }
    }
  }
}

TEST_F(RasterTest, DeclaredSizesBeyondTheBytesAreRefusedBeforeAllocating) {
  // A JPEG of our writer whose frame then claims more than its bytes can code.
  ASSERT_EQ(write(image_of(make_page(Kind::Grey, 64, 40), grey), "writejpg", dir.file("small.jpg")), QEL_STATUS_OK);
  const std::string jpeg = monotest::read_file(dir.file("small.jpg"));
  const monotest::CraftedFile cases[] = {
      {"text.png", monotest::png_claiming_chunk("tEXt", 0x7FFFFF00), "the file ends before its data does"},
      {"ztxt.png", monotest::png_claiming_chunk("zTXt", 0x7FFFFF00), "the file ends before its data does"},
      {"splt.png", monotest::png_claiming_chunk("sPLT", 0x7FFFFF00), "the file ends before its data does"},
      {"wide.png", monotest::png_declaring(65535, 65535), "more than a page may have"},
      {"tall.png", monotest::png_declaring(10000, 10000), "more than its bytes can code"},
      {"wide.jpg", monotest::jpeg_declaring(jpeg, 65500, 65500), "more than the 268435456 a page may have"},
      {"tall.jpg", monotest::jpeg_declaring(jpeg, 12000, 12000), "more than its"},
      {"cut.jpg", jpeg.substr(0, jpeg.size() / 2), "Premature end of JPEG file"},
      {"wide.tif", monotest::tiff_directories(1, 16000, 16000, 8), "bytes of its strips can code"},
      {"huge.tif", monotest::tiff_directories(1, 100000, 100000, 8), "too large"},
  };
  for (const monotest::CraftedFile& c : cases) {
    SCOPED_TRACE(c.name);
    monotest::write_file(dir.file(c.name), c.bytes);
    elf_object* back = reinterpret_cast<elf_object*>(1);
    EXPECT_NE(QELReadFile2QELIMAGE(state, dir.file(c.name).c_str(), nullptr, &back), QEL_STATUS_OK);
    EXPECT_EQ(back, nullptr);
    const std::string message = getStatusMessage(state);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_NE(message.find(c.name), std::string::npos) << message;
  }
}

TEST_F(RasterTest, PagesOfATiffReadInOrderFindTheirDirectoryOnce) {
  // Reading page n used to walk the chain of directories from the first: n² for the file.
  for (const uint32_t pages : {4000u, monotest::sanitizer_sized(100000u, 20000u)}) {
    SCOPED_TRACE(pages);
    const std::string path = dir.file("many.tif");
    monotest::write_file(path, monotest::tiff_directories(pages));
    for (uint32_t n = 1; n <= pages; ++n) {
      elf_object* page = read_tif(path, static_cast<int32_t>(n));
      ASSERT_NE(page, nullptr) << "page " << n << ": " << getStatusMessage(state);
      ASSERT_EQ(qelImage(page)->width, 8);
      for (elf_object* o : kept) elfDiscard(o);
      kept.clear();
    }
    EXPECT_EQ(read_tif(path, static_cast<int32_t>(pages) + 1), nullptr);
    // Out of order still finds each page.
    for (const uint32_t n : {pages / 2, 1u, pages}) {
      EXPECT_NE(read_tif(path, static_cast<int32_t>(n)), nullptr) << n;
    }
  }
}

}  // namespace
