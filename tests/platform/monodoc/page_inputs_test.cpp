// Page files as a user hands them to monodoc pdf and xps: files made by the public tools (cjpeg,
// tiffcp, netpbm) go in as the page they hold (a tiled G4 page stays an exact bilevel page, a
// JPEG keeps its own bytes), and files that are cut short, damaged or that declare more than
// their bytes hold fail naming the file, leaving no output, within a memory bound and a time
// bound that only a fault would reach.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "hostile_pages.h"
#include "sanitizer_size.h"
#include "tools.h"

namespace {

using monotest::run_tool;
using monotest::shell_quote;

class PageInputsTest : public ::testing::Test {
 protected:
  // The command under a hang guard and, outside the sanitizers (whose shadow memory needs the
  // address space), a bound of 1 GiB of address space.
  monotest::ToolResult monodoc(const std::string& args) {
    const std::string bound = monotest::kSanitized ? "" : "ulimit -v 1048576; ";
    return run_tool("cd " + shell_quote(dir.path()) + " && " + bound + "timeout 300 " + shell_quote(MONODOC_BIN) + " " +
                    args + " 2>&1");
  }
  bool exists(const std::string& name) { return access(dir.file(name).c_str(), F_OK) == 0; }
  // A page of random pixels as a netpbm file: P4 bilevel, P5 grey or P6 colour.
  std::string netpbm(const std::string& name, const char* kind, int width, int height) {
    const int bytes = std::string(kind) == "P4" ? (width + 7) / 8 * height
                      : std::string(kind) == "P5" ? width * height
                                                  : width * height * 3;
    std::string pixels;
    uint32_t x = 12345;
    const int row = std::string(kind) == "P4" ? (width + 7) / 8 : bytes;
    const auto last_bits = static_cast<unsigned char>(0xFF00 >> (width % 8 ? width % 8 : 8));
    for (int i = 0; i < bytes; ++i) {
      x = x * 1103515245 + 12345;
      // A bilevel row's padding bits are 0, as every writer leaves them.
      const bool last = std::string(kind) == "P4" && i % row == row - 1;
      pixels.push_back(static_cast<char>((x >> 16) & (last ? last_bits : 0xFF)));
    }
    const std::string head = std::string(kind) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
                             (std::string(kind) == "P4" ? "" : "255\n");
    monotest::write_file(dir.file(name), head + pixels);
    return name;
  }
  std::string tool(const std::string& command) {
    const auto r = run_tool("cd " + shell_quote(dir.path()) + " && " + command + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << command << ": " << r.output;
    return r.output;
  }

  monotest::TempDir dir;
};

TEST_F(PageInputsTest, FilesThatClaimMoreThanTheyHoldFailNamingThem) {
  monotest::require_tool("cjpeg", "libjpeg-turbo-progs");
  tool("cjpeg -progressive " + netpbm("c.ppm", "P6", 16, 16) + " > p.jpg");
  const std::string progressive = monotest::read_file(dir.file("p.jpg"));
  const monotest::CraftedFile cases[] = {
      {"chunk.png", monotest::png_claiming_chunk("tEXt", 0x7FFFFF00), "the file ends before its data does"},
      {"wide.png", monotest::png_declaring(65535, 65535), "more than a page may have"},
      {"deep.jpg", monotest::jpeg_declaring(progressive, 20000, 20000), "more than the 268435456 a page may have"},
      {"wide.jpg", monotest::jpeg_declaring(progressive, 65500, 65500), "more than the 268435456 a page may have"},
      {"tall.jpg", monotest::jpeg_declaring(progressive, 16000, 16000), "bytes can code"},
      {"strip.tif", monotest::tiff_directories(2, 16000, 16000, 8), "bytes of its strips can code"},
  };
  for (const monotest::CraftedFile& c : cases) {
    SCOPED_TRACE(c.name);
    monotest::write_file(dir.file(c.name), c.bytes);
    for (const char* command : {"pdf -o out.pdf ", "xps -o out.xps "}) {
      const auto r = monodoc(command + std::string(c.name));
      EXPECT_EQ(r.exit_code, 1) << r.output;
      EXPECT_NE(r.output.find(c.name), std::string::npos) << r.output;
      EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
      EXPECT_FALSE(exists("out.pdf") || exists("out.xps"));
    }
  }
}

TEST_F(PageInputsTest, DamagedFilesFailNamingThem) {
  monotest::require_tool("cjpeg", "libjpeg-turbo-progs");
  monotest::require_tool("pnmtopng", "netpbm");
  monotest::require_tool("tiffcp", "libtiff-tools");
  monotest::require_tool("pnmtotiff", "netpbm");
  tool("cjpeg " + netpbm("c.ppm", "P6", 200, 120) + " > c.jpg");
  tool("pnmtopng c.ppm > c.png");
  tool("pnmtotiff " + netpbm("b.pbm", "P4", 600, 400) + " > b.tif && tiffcp -c g4 b.tif g4.tif");
  const std::string jpeg = monotest::read_file(dir.file("c.jpg"));
  const std::string png = monotest::read_file(dir.file("c.png"));
  const std::string g4 = monotest::read_file(dir.file("g4.tif"));
  std::string flipped = jpeg;
  for (size_t i = flipped.size() / 2; i < flipped.size() / 2 + 40; ++i) flipped[i] = static_cast<char>(~flipped[i]);
  // tiffcp writes the directory after the strip: cutting the end takes it.
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cut.jpg", jpeg.substr(0, jpeg.size() * 2 / 3)},
      {"flipped.jpg", flipped},
      {"cut.png", png.substr(0, png.size() * 2 / 3)},
      {"cut.tif", g4.substr(0, g4.size() - 40)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    monotest::write_file(dir.file(c.name), c.bytes);
    const auto r = monodoc(std::string("pdf -o out.pdf ") + c.name);
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find(std::string("pdf: ") + c.name), std::string::npos) << r.output;
    EXPECT_FALSE(exists("out.pdf"));
  }
}

TEST_F(PageInputsTest, ManyDirectoriesAreReadInLinearTime) {
  // Each page used to find its directory from the first: 4,000 pages took seconds and 100,000
  // did not end. The guard of the command bounds what a return of that would take.
  for (const uint32_t pages : {4000u, monotest::sanitizer_sized(100000u, 20000u)}) {
    SCOPED_TRACE(pages);
    const std::string name = "many" + std::to_string(pages) + ".tif";
    monotest::write_file(dir.file(name), monotest::tiff_directories(pages));
    const auto info = monodoc("info " + name);
    ASSERT_EQ(info.exit_code, 0) << info.output.substr(0, 2000);
    EXPECT_NE(info.output.find(std::to_string(pages) + " pages"), std::string::npos) << info.output.substr(0, 400);
  }
  const auto pdf = monodoc("pdf -o many.pdf many4000.tif");
  EXPECT_EQ(pdf.exit_code, 0) << pdf.output.substr(pdf.output.size() > 2000 ? pdf.output.size() - 2000 : 0);
  EXPECT_NE(pdf.output.find("many.pdf: 4000 pages"), std::string::npos);
}

TEST_F(PageInputsTest, TiledBilevelTiffBecomesAnExactJbig2Page) {
  for (const char* t : {"tiffcp", "pdfimages"}) monotest::require_tool(t, "libtiff-tools, poppler-utils");
  monotest::require_tool("pngtopnm", "netpbm");
  monotest::require_tool("pnmtotiff", "netpbm");
  tool("pnmtotiff " + netpbm("b.pbm", "P4", 301, 203) + " > b.tif && tiffcp -t -c g4 b.tif tiled.tif");
  const auto r = monodoc("pdf -o tiled.pdf tiled.tif");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("bilevel"), std::string::npos) << r.output;
  const std::string list = tool("pdfimages -list tiled.pdf");
  EXPECT_NE(list.find("jbig2"), std::string::npos) << list;
  tool("pdfimages -png tiled.pdf img && pngtopnm img-000.png > back.pnm");
  // pdfimages gives the 1-bit image as a PBM in PNG: the same pixels as the page file.
  EXPECT_TRUE(monotest::read_file(dir.file("back.pnm")) == monotest::read_file(dir.file("b.pbm")))
      << "the page's pixels changed";
}

TEST_F(PageInputsTest, JpegPagesKeepTheirOwnBytes) {
  monotest::require_tool("cjpeg", "libjpeg-turbo-progs");
  monotest::require_tool("pdfimages", "poppler-utils");
  monotest::require_tool("unzip", "unzip");
  netpbm("c.ppm", "P6", 48, 32);
  netpbm("g.pgm", "P5", 48, 32);
  struct Case {
    const char* name;
    const char* make;
    bool kept;  // the file's bytes stand for the page
  };
  const Case cases[] = {
      {"baseline.jpg", "cjpeg -quality 60 c.ppm", true},
      {"grey.jpg", "cjpeg -grayscale g.pgm", true},
      {"progressive.jpg", "cjpeg -progressive c.ppm", true},
      {"arithmetic.jpg", "cjpeg -arithmetic c.ppm", false},
      {"rgb.jpg", "cjpeg -rgb c.ppm", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool(std::string(c.make) + " > " + c.name);
    const std::string bytes = monotest::read_file(dir.file(c.name));
    const auto pdf = monodoc(std::string("pdf -o j.pdf ") + c.name);
    ASSERT_EQ(pdf.exit_code, 0) << pdf.output;
    EXPECT_EQ(pdf.output.find("JPEG as is") != std::string::npos, c.kept) << pdf.output;
    tool("rm -f img-* && pdfimages -all j.pdf img");
    const bool dct = exists("img-000.jpg");
    EXPECT_EQ(dct && monotest::read_file(dir.file("img-000.jpg")) == bytes, c.kept);
    ASSERT_EQ(monodoc(std::string("xps -o j.xps ") + c.name).exit_code, 0);
    const auto part =
        run_tool("unzip -p " + shell_quote(dir.file("j.xps")) + " 'Documents/1/Resources/Images/*.jpg' 2>/dev/null");
    EXPECT_EQ(part.output == bytes, c.kept);
  }
  // Flate asked for: the page is coded again, without loss of what was decoded.
  ASSERT_EQ(monodoc("pdf --flate -o f.pdf baseline.jpg").exit_code, 0);
  EXPECT_EQ(tool("pdfimages -list f.pdf").find("jpeg"), std::string::npos);
}

}  // namespace
