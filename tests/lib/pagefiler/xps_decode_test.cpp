// Image parts decoded in memory match the pixels netpbm and libjpeg's own tools wrote them from
// (lossless formats exactly; JPEG against djpeg of the same bytes), alpha included as the mask.

#include "hostile_pages.h"
#include "kvimgdec.h"
#include "xps_test_support.h"

namespace {

// A gradient with a diagonal and a hole of low opacity, so rows, columns and channels differ.
void write_sources(const monotest::TempDir& dir, int w, int h) {
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::string pgm = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::string pbm = "P4\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
  for (int y = 0; y < h; ++y) {
    std::string bits((w + 7) / 8, '\0');
    for (int x = 0; x < w; ++x) {
      ppm += static_cast<char>(x * 255 / w);
      ppm += static_cast<char>(y * 255 / h);
      ppm += static_cast<char>(x == y ? 255 : 40);
      pgm += static_cast<char>(x > w / 3 && x < w / 2 && y > h / 3 ? 17 : 255);
      if ((x + 2 * y) % 7 < 3) bits[x / 8] = static_cast<char>(bits[x / 8] | (0x80 >> (x % 8)));
    }
    pbm += bits;
  }
  monotest::write_file(dir.file("src.ppm"), ppm);
  monotest::write_file(dir.file("alpha.pgm"), pgm);
  monotest::write_file(dir.file("src.pbm"), pbm);
}

// The samples after a netpbm header of the kind given.
std::string raster(const std::string& pnm) {
  size_t at = 0;
  int fields = pnm[1] == '4' ? 3 : 4;  // magic, width, height (, maxval)
  while (fields > 0) {
    while (std::isspace(static_cast<unsigned char>(pnm[at]))) ++at;
    while (!std::isspace(static_cast<unsigned char>(pnm[at]))) ++at;
    --fields;
  }
  return pnm.substr(at + 1);
}

}  // namespace

TEST_F(XpsTest, DecodedPartsMatchTheToolsPixels) {
  for (const char* tool : {"pnmtopng", "pnmtotiff"}) monotest::require_tool(tool, "netpbm");
  monotest::require_tool("tiffcp", "libtiff-tools");
  monotest::require_tool("cjpeg", "libjpeg-turbo-progs");
  constexpr int w = 45, h = 31;
  write_sources(dir, w, h);
  const std::string d = monotest::shell_quote(dir.path());
  struct Case {
    const char* label;
    const char* reader;
    std::string make;       // writes img in the folder
    std::string expected;   // file of the expected image samples
    const char* mask;       // file of the expected mask samples, or null
    int32_t bits;
  } cases[] = {
      {"png rgb", "readpng", "pnmtopng src.ppm > img", "src.ppm", nullptr, 8},
      {"png alpha", "readpng", "pnmtopng -alpha=alpha.pgm src.ppm > img", "src.ppm", "alpha.pgm", 8},
      {"png bilevel", "readpng", "pnmtopng src.pbm > img", "src.pbm", nullptr, 1},
      {"tiff rgb lzw", "readtif", "pnmtotiff -lzw src.ppm > img", "src.ppm", nullptr, 8},
      {"tiff g4", "readtif", "pnmtotiff -g4 src.pbm > img", "src.pbm", nullptr, 1},
      {"tiff g4 tiles", "readtif", "pnmtotiff -g4 src.pbm > s.tif && tiffcp -t -w 16 -l 16 -c g4 s.tif img", "src.pbm",
       nullptr, 1},
      {"tiff bilevel raw tiles", "readtif", "pnmtotiff src.pbm > s.tif && tiffcp -t -w 16 -l 16 -c none s.tif img",
       "src.pbm", nullptr, 1},
      {"tiff rgb lzw tiles", "readtif", "pnmtotiff src.ppm > s.tif && tiffcp -t -w 16 -l 16 -c lzw s.tif img", "src.ppm",
       nullptr, 8},
      {"jpeg", "readjpg", "cjpeg -quality 90 src.ppm > img && djpeg -pnm img > jpeg.ppm", "jpeg.ppm", nullptr, 8},
  };
  for (const Case& c : cases) {
    const auto made = monotest::run_tool("cd " + d + " && (" + c.make + ") 2>&1");
    ASSERT_EQ(made.exit_code, 0) << c.label << ": " << made.output;
    const std::string bytes = monotest::read_file(dir.file("img"));
    KVImgDecoded decoded;
    ASSERT_EQ(KVImgDecode(c.reader, bytes.data(), static_cast<int64_t>(bytes.size()), &decoded), 1)
        << c.label << ": " << messages;
    EXPECT_EQ(decoded.image.header->width, w);
    EXPECT_EQ(decoded.image.header->bits[0], c.bits) << c.label;
    const std::string expected = raster(monotest::read_file(dir.file(c.expected)));
    const std::string got(static_cast<const char*>(decoded.image.pixels), static_cast<size_t>(decoded.image.size));
    EXPECT_TRUE(got == expected) << c.label << ": pixels differ";
    if (c.mask) {
      ASSERT_NE(decoded.mask.pixels, nullptr) << c.label;
      const std::string mask(static_cast<const char*>(decoded.mask.pixels), static_cast<size_t>(decoded.mask.size));
      EXPECT_TRUE(mask == raster(monotest::read_file(dir.file(c.mask)))) << c.label << ": mask differs";
    } else {
      EXPECT_EQ(decoded.mask.pixels, nullptr) << c.label;
    }
    KVImgDecodedFree(&decoded);
  }
}

TEST_F(XpsTest, DamagedImagePartsAreRefused) {
  write_sources(dir, 64, 64);
  const auto made = monotest::run_tool("cd " + monotest::shell_quote(dir.path()) +
                                       " && (pnmtopng src.ppm > p && cjpeg src.ppm > j && pnmtotiff -lzw src.ppm > t) 2>/dev/null");
  ASSERT_EQ(made.exit_code, 0);
  for (const auto& [reader, file] : {std::pair{"readpng", "p"}, {"readjpg", "j"}, {"readtif", "t"}}) {
    const std::string whole = monotest::read_file(dir.file(file));
    for (size_t keep : {whole.size() / 2, size_t{40}, size_t{8}}) {
      KVImgDecoded decoded;
      EXPECT_NE(KVImgDecode(reader, whole.data(), static_cast<int64_t>(keep), &decoded), 1) << reader << " " << keep;
      EXPECT_EQ(decoded.image.pixels, nullptr);
    }
  }
  // Sizes declared beyond what the bytes can hold are refused before anything is allocated.
  const std::string jpeg = monotest::read_file(dir.file("j"));
  for (const auto& [reader, bytes] : {std::pair{"readpng", monotest::png_claiming_chunk("tEXt", 0x7FFFFF00)},
                                      {"readjpg", monotest::jpeg_declaring(jpeg, 16000, 16000)},
                                      {"readjpg", monotest::jpeg_declaring(jpeg, 65000, 65000)},
                                      {"readtif", monotest::tiff_directories(1, 16000, 16000, 8)}}) {
    KVImgDecoded decoded;
    EXPECT_EQ(KVImgDecode(reader, bytes.data(), static_cast<int64_t>(bytes.size()), &decoded), -1) << reader;
    EXPECT_EQ(decoded.image.pixels, nullptr);
  }
  KVImgDecoded decoded;
  EXPECT_EQ(KVImgDecode("readwdp", "II\xbc\x01", 4, &decoded), -1);
}
