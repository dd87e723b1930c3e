// The runner's page readers against files written by netpbm and libtiff tools, and their
// refusal of damaged files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "page_files.h"
#include "pbm.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::RefBitmap;
using monotest::TempDir;

RefBitmap as_ref(const monodoc::Bilevel& page) {
  RefBitmap bm(page.width, page.height);
  for (int32_t y = 0; y < page.height; ++y) std::memcpy(bm.row(y), page.row(y), page.stride);
  return bm;
}

// Grey (P5) or colour (P6) samples for a bitmap: black pixels dark, white ones light, every
// sample a little different so that the encoders keep eight bits.
std::string netpbm_samples(const RefBitmap& bm, bool colour) {
  std::string out = std::string(colour ? "P6\n" : "P5\n") + std::to_string(bm.width) + " " +
                    std::to_string(bm.height) + "\n255\n";
  for (int y = 0; y < bm.height; ++y) {
    for (int x = 0; x < bm.width; ++x) {
      const int wobble = (x * 7 + y * 3) % 23;
      const bool black = bm.get(x, y);
      if (colour) {
        const uint8_t dark[3] = {90, 30, 110}, light[3] = {225, 200, 250};
        for (int c = 0; c < 3; ++c) out += static_cast<char>((black ? dark[c] : light[c]) - wobble);
      } else {
        out += static_cast<char>(black ? 20 + wobble : 230 - wobble);
      }
    }
  }
  return out;
}

// An alpha mask that is opaque exactly where the bitmap is black.
std::string alpha_mask(const RefBitmap& bm) {
  std::string out = "P5\n" + std::to_string(bm.width) + " " + std::to_string(bm.height) + "\n255\n";
  for (int y = 0; y < bm.height; ++y) {
    for (int x = 0; x < bm.width; ++x) out += static_cast<char>(bm.get(x, y) ? 255 : 0);
  }
  return out;
}

class PageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monotest::require_tool("pnmtopng", "netpbm");
    monotest::require_tool("tiffcp", "libtiff-tools");
    source = monotest::make_text_blobs(203, 97, 5);
    monotest::write_pbm(dir.file("src.pbm"), source);
  }

  std::string run(const std::string& command) {
    const auto r = monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + command);
    EXPECT_EQ(r.exit_code, 0) << command;
    return r.output;
  }

  std::vector<monodoc::Bilevel> read(const std::string& name) {
    std::vector<monodoc::Bilevel> pages;
    std::string error;
    EXPECT_TRUE(monodoc::read_pages(dir.file(name), &pages, &error)) << name << ": " << error;
    return pages;
  }

  TempDir dir;
  RefBitmap source;
};

TEST_F(PageFilesTest, EveryFormatGivesTheSamePixels) {
  monotest::write_pbm(dir.file("plain.pbm"), source, true);
  monotest::write_file(dir.file("grey.pgm"), netpbm_samples(source, false));
  monotest::write_file(dir.file("colour.ppm"), netpbm_samples(source, true));
  RefBitmap all_black(source.width, source.height);
  std::fill(all_black.bits.begin(), all_black.bits.end(), 0xFF);
  monotest::write_file(dir.file("black.pgm"), netpbm_samples(all_black, false));
  monotest::write_file(dir.file("alpha.pgm"), alpha_mask(source));
  run("pnmtopng -size '7874 3937 1' src.pbm > bilevel.png");
  run("pnmtopng grey.pgm > grey.png && pnmtopng -interlace colour.ppm > colour.png");
  run("pnmtopng -alpha=alpha.pgm black.pgm > alpha.png");  // white where transparent
  run("pnmtotiff -g4 -xresolution 200 -yresolution 100 src.pbm > g4.tif");
  run("pnmtotiff -minisblack -packbits src.pbm > minisblack.tif");
  run("pnmtotiff -truecolor -lzw colour.ppm > colour.tif && pnmtotiff grey.pgm > grey.tif");
  run("tiffcp -c g4 -t -w 32 -l 16 g4.tif tiled.tif");
  struct Case {
    const char* file;
    double xres, yres;
  };
  const Case cases[] = {
      {"src.pbm", 300, 300},     {"plain.pbm", 300, 300}, {"bilevel.png", 200, 100}, {"grey.png", 300, 300},
      {"colour.png", 300, 300},  {"alpha.png", 300, 300}, {"g4.tif", 200, 100},     {"minisblack.tif", 300, 300},
      {"colour.tif", 300, 300},  {"grey.tif", 300, 300},  {"tiled.tif", 200, 100},
  };
  for (const Case& c : cases) {
    const auto pages = read(c.file);
    ASSERT_EQ(pages.size(), 1u) << c.file;
    EXPECT_EQ(monotest::first_difference(source, as_ref(pages[0])), "") << c.file;
    EXPECT_NEAR(pages[0].xres, c.xres, 0.5) << c.file;
    EXPECT_NEAR(pages[0].yres, c.yres, 0.5) << c.file;
  }
}

TEST_F(PageFilesTest, EveryPageOfAFileIsRead) {
  const RefBitmap second = monotest::make_lines(64, 40, 9);
  monotest::write_pbm(dir.file("second.pbm"), second);
  run("cat src.pbm second.pbm > two.pbm");
  run("pnmtotiff -g4 src.pbm > a.tif && pnmtotiff -lzw second.pbm > b.tif && tiffcp a.tif b.tif two.tif");
  for (const char* file : {"two.pbm", "two.tif"}) {
    const auto pages = read(file);
    ASSERT_EQ(pages.size(), 2u) << file;
    EXPECT_EQ(monotest::first_difference(source, as_ref(pages[0])), "") << file;
    EXPECT_EQ(monotest::first_difference(second, as_ref(pages[1])), "") << file;
  }
}

TEST_F(PageFilesTest, DamagedFilesAreRefusedWithAReason) {
  run("pnmtopng src.pbm > ok.png && head -c 300 ok.png > cut.png");
  run("pnmtotiff -lzw src.pbm > ok.tif && head -c 200 ok.tif > cut.tif");
  run("head -c 1000 src.pbm > cut.pbm && printf 'GIF89a' > other.gif && : > empty.pbm");
  run("printf 'P4\\n2000000 3\\n' > huge.pbm && printf 'P1 3 1 1 0 2' > digit.pbm && cat src.pbm > tail.pbm && "
      "printf 'junk' >> tail.pbm");
  struct Case {
    const char* file;
    const char* reason;
  };
  const Case cases[] = {
      {"cut.png", "PNG"},           {"cut.tif", "TIFF"},       {"cut.pbm", "truncated"},
      {"other.gif", "GIF"},   {"empty.pbm", "not a PBM"}, {"absent.pbm", "cannot open"},
      {"huge.pbm", "too large"},    {"digit.pbm", "other than 0 and 1"},
      {"tail.pbm", "data after the last image"},
  };
  for (const Case& c : cases) {
    std::vector<monodoc::Bilevel> pages;
    std::string error;
    EXPECT_FALSE(monodoc::read_pages(dir.file(c.file), &pages, &error)) << c.file;
    EXPECT_TRUE(pages.empty()) << c.file;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.file << ": " << error;
  }
}

TEST(Pbm, HeadersCommentsAndPaddingFollowNetpbm) {
  const std::string plain = "P1\n# comment\n3 2 # more\n101010";  // digits need no blanks
  const std::string raw = std::string("P4 9 1\n") + '\xFF' + '\xFF';  // padding bits set in the file
  std::vector<monodoc::Bilevel> pages;
  std::string error;
  ASSERT_TRUE(monodoc::parse_pbm(reinterpret_cast<const uint8_t*>(plain.data()), plain.size(), &pages, &error)) << error;
  ASSERT_TRUE(monodoc::parse_pbm(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), &pages, &error)) << error;
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].bits, (std::vector<uint8_t>{0xA0, 0x40}));
  EXPECT_EQ(pages[1].bits, (std::vector<uint8_t>{0xFF, 0x80}));
  EXPECT_EQ(monodoc::format_pbm(pages[1]), std::string("P4\n9 1\n") + '\xFF' + '\x80');
}

}  // namespace
