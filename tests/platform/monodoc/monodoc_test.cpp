// The runner end to end: pages of every format through a plug-in method and back to files,
// JBIG2 layers written for jbig2dec, and its answers to failures and wrong usage.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "pages.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::RefBitmap;
using monotest::TempDir;

RefBitmap inverted(const RefBitmap& bm) {
  RefBitmap out(bm.width, bm.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) out.set(x, y, !bm.get(x, y));
  return out;
}

class MonodocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monotest::require_tool("pnmtopng", "netpbm");
    monotest::require_tool("tiffcp", "libtiff-tools");
    page = monotest::make_text_blobs(203, 97, 11);
    monotest::write_pbm(dir.file("page.pbm"), page);
  }

  // Standard output and standard error of a run.
  monotest::ToolResult monodoc(const std::string& args) {
    return monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && MONODOC_PLUGIN_PATH=" +
                                      monotest::shell_quote(MONOTEST_PLUGIN_DIR) + " " +
                                      monotest::shell_quote(MONODOC_BIN) + " " + args + " 2>&1");
  }

  void shell(const std::string& command) {
    ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + command).exit_code, 0) << command;
  }

  bool exists(const std::string& name) { return monotest::run_tool("test -f " + monotest::shell_quote(dir.file(name))).exit_code == 0; }

  TempDir dir;
  RefBitmap page;
};

TEST_F(MonodocTest, PagesOfEveryFormatGoThroughAMethodAndBack) {
  shell("pnmtopng page.pbm > page.png && pnmtotiff -g4 page.pbm > page.tif");
  for (const char* file : {"page.pbm", "page.png", "page.tif"}) {
    const monotest::ToolResult r = monodoc(std::string("call -o out monotestplug invertLayers ") + file);
    ASSERT_EQ(r.exit_code, 0) << file << ":\n" << r.output;
    EXPECT_NE(r.output.find("invertLayers on image 1: inverted = 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("wrote out-1-1.pbm"), std::string::npos) << r.output;
    EXPECT_EQ(monotest::first_difference(inverted(page), monotest::read_pbm(dir.file("out-1-1.pbm"))), "") << file;
  }
  const monotest::ToolResult twice = monodoc("call --arg times=2 --output=same monotestplug invertLayers page.tif");
  ASSERT_EQ(twice.exit_code, 0) << twice.output;
  EXPECT_EQ(monotest::first_difference(page, monotest::read_pbm(dir.file("same-1-1.pbm"))), "");
}

TEST_F(MonodocTest, PagesBecomeOneImageEachOrLayersOfOne) {
  const RefBitmap second = monotest::make_lines(80, 50, 4);
  monotest::write_pbm(dir.file("second.pbm"), second);
  shell("pnmtotiff -g4 page.pbm > a.tif && pnmtotiff -g4 second.pbm > b.tif && tiffcp a.tif b.tif two.tif");

  const monotest::ToolResult each = monodoc("call -o each monotestplug invertLayers two.tif");
  ASSERT_EQ(each.exit_code, 0) << each.output;
  EXPECT_EQ(monotest::first_difference(inverted(page), monotest::read_pbm(dir.file("each-1-1.pbm"))), "");
  EXPECT_EQ(monotest::first_difference(inverted(second), monotest::read_pbm(dir.file("each-2-1.pbm"))), "");

  const monotest::ToolResult one = monodoc("call -1 -o one monotestplug invertLayers two.tif");
  ASSERT_EQ(one.exit_code, 0) << one.output;
  EXPECT_NE(one.output.find("inverted = 2"), std::string::npos) << one.output;
  EXPECT_EQ(monotest::first_difference(inverted(page), monotest::read_pbm(dir.file("one-1-1.pbm"))), "");
  EXPECT_EQ(monotest::first_difference(inverted(second), monotest::read_pbm(dir.file("one-1-2.pbm"))), "");
  EXPECT_FALSE(exists("one-2-1.pbm"));
}

// The global (page 0) and page-1 segments of a sequential JBIG2 file, without file header, end
// of page and end of file: the form in which JBIG2 sits in layers.
void split_embedded(const std::string& file, std::string* globals, std::string* page) {
  const auto* d = reinterpret_cast<const uint8_t*>(file.data());
  ASSERT_GE(file.size(), 13u);
  ASSERT_TRUE(d[8] & 1) << "sequential organisation expected";
  size_t p = (d[8] & 2) ? 9 : 13;
  auto be32 = [&](size_t at) { return uint32_t{d[at]} << 24 | uint32_t{d[at + 1]} << 16 | uint32_t{d[at + 2]} << 8 | d[at + 3]; };
  while (p < file.size()) {
    const size_t start = p;
    const uint32_t number = be32(p);
    const uint8_t flags = d[p + 4];
    const unsigned referred = d[p + 5] >> 5;
    ASSERT_LT(referred, 5u) << "short form of the referred-segment count expected";
    p += 6 + referred * (number <= 256 ? 1 : number <= 65536 ? 2 : 4);
    const uint32_t page_number = (flags & 0x40) ? be32(p) : d[p];
    p += (flags & 0x40) ? 4 : 1;
    p += 4 + be32(p);
    ASSERT_LE(p, file.size());
    const unsigned type = flags & 0x3F;
    if (type == 49 || type == 51) continue;
    (page_number == 0 ? globals : page)->append(file, start, p - start);
  }
}

TEST_F(MonodocTest, Jbig2LayersAreWrittenForJbig2dec) {
  monotest::require_tool("jbig2dec", "jbig2dec");
  const std::string features = monotest::feature_dir();
  std::string globals, page_segments;
  split_embedded(monotest::read_file(features + "/bitmap-symbol-global.jbig2"), &globals, &page_segments);
  ASSERT_FALSE(globals.empty());
  monotest::write_file(dir.file("globals.bin"), globals);
  monotest::write_file(dir.file("page.bin"), page_segments);

  const monotest::ToolResult r = monodoc("call -a page=page.bin -a dict=globals.bin -o jb monotestplug attachJbig2 page.pbm");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(monotest::read_file(dir.file("jb-1-1.jb2")), page_segments);
  EXPECT_EQ(monotest::read_file(dir.file("jb-1-dict.jb2")), globals);
  shell("jbig2dec -e -t pbm -o decoded.pbm jb-1-dict.jb2 jb-1-1.jb2");
  EXPECT_EQ(monotest::first_difference(monotest::read_pbm(features + "/bitmap.pbm"),
                                       monotest::read_pbm(dir.file("decoded.pbm"))),
            "");
}

TEST_F(MonodocTest, FailuresAndWarningsAreReportedWithTheInterpreterStatus) {
  struct Case {
    const char* args;
    int exit_code;
    const char* says;
  };
  const Case cases[] = {
      {"call monotestplug failWith -a message=boom page.pbm", 1, "failWith on image 1: failed with status 21: failWith: boom"},
      {"call monotestplug failWith -a code=20 -a severity=0 -a 'message=only a warning' page.pbm", 0,
       "warning 20: failWith: only a warning"},
      {"call monotestplug failWith page.pbm", 1, "failWith: lstScanArgs error"},
      {"call nosuchplug invertLayers page.pbm", 1, "libnosuchplug.so"},
      {"call monotestplug noSuchMethod page.pbm", 1, "symbol noSuchMethod not found"},
      {"call monotestplug invertLayers absent.pbm", 1, "cannot open absent.pbm"},
      {"call monotestplug invertLayers monotestplug.txt", 1, "not a PBM, PNM, PNG, TIFF, JPEG, GIF or BMP file"},
      {"call monotestplug invertLayers", 2, "needs LIBRARY, METHOD and at least one PAGEFILE"},
      {"call --frobnicate monotestplug invertLayers page.pbm", 2, "unknown option --frobnicate"},
      {"call -o", 2, "option --output needs a value"},
      {"call -a times monotestplug invertLayers page.pbm", 2, "argument \"times\" is not name=value"},
      {"call -a times:i=x monotestplug invertLayers page.pbm", 2, "argument \"times:i=x\""},
      {"frobnicate", 2, "no command \"frobnicate\""},
      {"", 2, "usage: monodoc <command>"},
      {"help", 0, "call      call an interpreter method"},
      {"help", 0, "identify  tell what the imaging engine takes files for"},
      {"help identify", 0, "usage: monodoc identify FILE..."},
      {"info --help", 0, "usage: monodoc info [-s] [-p PASSWORD] DOCUMENT..."},
      {"identify", 2, "needs at least one FILE"},
      {"info -p", 2, "option --password needs a value"},
      {"help call", 0, "usage: monodoc call [options] LIBRARY METHOD PAGEFILE..."},
      {"call --help", 0, "usage: monodoc call"},
  };
  monotest::write_file(dir.file("monotestplug.txt"), "plain text");
  for (const Case& c : cases) {
    const monotest::ToolResult r = monodoc(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args << ":\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << ":\n" << r.output;
  }
  EXPECT_TRUE(exists("out-1-1.pbm"));  // the warning still wrote the results
}

TEST_F(MonodocTest, DocumentsAreIdentifiedAndOpenedThroughTheLibrary) {
  monotest::require_tool("gs", "ghostscript");
  shell("pnmtopng page.pbm > page.png && gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=doc.pdf -c showpage "
        "&& printf 'text\\n' > note.txt");
  const monotest::ToolResult ids = monodoc("identify page.pbm page.png doc.pdf note.txt");
  EXPECT_EQ(ids.exit_code, 1) << ids.output;
  for (const char* line : {"page.pbm: PNM image/x-portable-bitmap, read by readpnm\n",
                           "page.png: PNG image/png, read by readpng\n",
                           "doc.pdf: PDF application/pdf, read by readpdf\n", "note.txt: not identified\n"}) {
    EXPECT_NE(ids.output.find(line), std::string::npos) << line << ids.output;
  }
  EXPECT_EQ(monodoc("identify page.png doc.pdf").exit_code, 0);

  // The reader comes from libpagefiler by name; its pages are read one by one.
  const monotest::ToolResult info = monodoc("info doc.pdf absent.pdf");
  EXPECT_EQ(info.exit_code, 1) << info.output;
  EXPECT_NE(info.output.find("doc.pdf: format PDF, subtype none, 1 page, checksum 0x"), std::string::npos)
      << info.output;
  EXPECT_NE(info.output.find("    page 1: 595x842 pixels at 72x72 dpi, 0 layers\n"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("info: absent.pdf: cannot open absent.pdf: No such file or directory"), std::string::npos)
      << info.output;

  // The document is opened once for its line and its pages: the damage repaired on opening is
  // told once.
  shell("sed 's/^startxref$/startxref 999/' doc.pdf > damaged.pdf");
  const monotest::ToolResult damaged = monodoc("info damaged.pdf");
  EXPECT_EQ(damaged.exit_code, 0) << damaged.output;
  const size_t warned = damaged.output.find("damaged.pdf: repaired damage in");
  ASSERT_NE(warned, std::string::npos) << damaged.output;
  EXPECT_EQ(damaged.output.find(damaged.output.substr(warned, damaged.output.find('\n', warned) - warned), warned + 1),
            std::string::npos)
      << damaged.output;
}

TEST_F(MonodocTest, ZipArchivesAreListedDumpedAndExtracted) {
  monotest::require_tool("zip", "zip");
  monotest::require_tool("unzip", "unzip");
  shell("mkdir -p in/sub && printf 'alpha\\n' > in/a.txt && seq 1 500 > in/sub/n.txt && "
        "cd in && zip -q -r ../pack.zip a.txt sub && zip -q -r - a.txt | cat > ../piped.zip");
  const monotest::ToolResult list = monodoc("zip list pack.zip");
  ASSERT_EQ(list.exit_code, 0) << list.output;
  EXPECT_NE(list.output.find("ZipFile: pack.zip\n  location  comprSz\n"), std::string::npos) << list.output;
  for (const char* name : {"  a.txt\n", "  sub/\n", "  sub/n.txt\n"}) {
    EXPECT_NE(list.output.find(name), std::string::npos) << name << list.output;
  }
  const monotest::ToolResult dump = monodoc("zip dump piped.zip");
  EXPECT_EQ(dump.exit_code, 0) << dump.output;
  EXPECT_NE(dump.output.find("    fileName             a.txt\n"), std::string::npos) << dump.output;

  EXPECT_EQ(monodoc("zip extract pack.zip").exit_code, 0);
  shell("unzip -qq pack.zip -d ref && diff -r ref pack");
  EXPECT_EQ(monodoc("zip extract pack.zip SUB/N.TXT").output, monotest::read_file(dir.file("in/sub/n.txt")));
  EXPECT_EQ(monodoc("zip extract -o a.out piped.zip a.txt").exit_code, 0);
  EXPECT_EQ(monotest::read_file(dir.file("a.out")), "alpha\n");

  struct Case {
    const char* args;
    int exit_code;
    const char* says;
  };
  // An archive without extension names no folder: its entries would land among the user's files.
  monotest::write_file(dir.file("packed"), monotest::read_file(dir.file("pack.zip")));
  const Case cases[] = {
      {"zip extract pack.zip nothing", 1, "zip: pack.zip: no entry nothing"},
      {"zip extract packed", 1, "packed: the name has no extension"},
      {"zip list absent.zip", 1, "Can't open souce: absent.zip"},
      {"zip", 2, "needs list, dump or extract and an ARCHIVE"},
      {"zip shuffle pack.zip", 2, "needs list, dump or extract"},
      {"zip list -o x pack.zip", 2, "needs list, dump or extract"},
      {"zip list --fast pack.zip", 2, "unknown option --fast"},
      {"help zip", 0, "usage: monodoc zip list ARCHIVE..."},
  };
  for (const Case& c : cases) {
    const monotest::ToolResult r = monodoc(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args << ":\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << ":\n" << r.output;
  }
}

TEST_F(MonodocTest, PagesAreDescribedAsSpecsAndMatchedToTargets) {
  // A page wider than high, and a copy cut to half its width: the second matches the first's
  // spec but must be scaled to its width.
  shell("pamcut -width 101 page.pbm > half.pbm && pnmtotiff -g4 page.pbm > page.tif");
  const monotest::ToolResult described = monodoc("spec -w first.spec page.tif");
  ASSERT_EQ(described.exit_code, 0) << described.output;
  EXPECT_EQ(described.output,
            "page 1: orientation landscape, page mode flat, rotate 0, affine 0, MRC no\n"
            "    binary: depth 1, compression none, 300x300 dpi, 203x97, photometry 21\n"
            "    contone: none\n");

  const monotest::ToolResult matched = monodoc("spec -t first.spec -a pulling=false half.pbm");
  ASSERT_EQ(matched.exit_code, 0) << matched.output;
  for (const char* line : {"  page 1 matches target 1 (not exact)\n",
                           "    testSize: needed, sfact = 2.0099, xsize = 203, ysize = 0, xres = 300, yres = 300\n",
                           "    testCompress: not needed, cinfo = {binena = false, contena = false}\n",
                           "    testPhotom: photometry 21 listed\n"}) {
    EXPECT_NE(matched.output.find(line), std::string::npos) << line << matched.output;
  }

  shell("printf 'not a list\\n' > bad.spec");
  const struct {
    const char* args;
    int exit_code;
    const char* says;
  } cases[] = {
      {"spec -t absent.spec page.pbm", 1, "spec: cannot open absent.spec"},
      {"spec -t bad.spec page.pbm", 1, "spec: bad.spec holds no LIST of TRANSFORMSPEC"},
      {"spec", 2, "needs at least one PAGEFILE"},
      {"spec -a x page.pbm", 2, "argument \"x\" is not name=value"},
      {"help spec", 0, "usage: monodoc spec [options] PAGEFILE..."},
  };
  for (const auto& c : cases) {
    const monotest::ToolResult r = monodoc(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args << ":\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << ":\n" << r.output;
  }

  // call reaches the library's methods by name, with the library's types known.
  const monotest::ToolResult call = monodoc("call -n pagefiler getTransformSpec page.pbm");
  EXPECT_EQ(call.exit_code, 0) << call.output;
  EXPECT_NE(call.output.find("getTransformSpec on image 1: transSpec = [TRANSFORMSPEC]"), std::string::npos)
      << call.output;
}

}  // namespace

namespace {

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Fax documents through libpagefiler's TIFF-FX writer and reader, judged by libtiff's tools: a
// page that fits the profile keeps its pixels, one of another resolution is scaled to it, one of
// a coding the profile does not take is refused after the pages before it.
TEST_F(MonodocTest, FaxDocumentsAreWrittenAndRead) {
  monotest::require_tool("tiffdump", "libtiff-tools");
  const RefBitmap fax = monotest::make_text_blobs(1728, 120, 5);
  monotest::write_pbm(dir.file("fax.pbm"), fax);
  shell("pnmtotiff -g3 -xresolution 204 -yresolution 196 fax.pbm > fit.tif && pnmtotiff -g3 fax.pbm > big.tif && "
        "pnmtotiff -g4 -xresolution 204 -yresolution 196 fax.pbm > g4.tif");
  const monotest::ToolResult w = monodoc("tiff write -p S doc fit.tif big.tif");
  ASSERT_EQ(w.exit_code, 0) << w.output;
  EXPECT_NE(w.output.find("doc: 2 pages written, TIFF-FX profileS"), std::string::npos) << w.output;
  // One directory a page, each with the profile's coding and resolution.
  const monotest::ToolResult dump = monotest::run_tool("tiffdump " + monotest::shell_quote(dir.file("doc.tif")));
  EXPECT_NE(dump.output.find("Directory 1:"), std::string::npos) << dump.output;
  EXPECT_EQ(dump.output.find("Directory 2:"), std::string::npos) << dump.output;
  EXPECT_EQ(count_of(dump.output, "Compression (259) SHORT (3) 1<3>"), 2) << dump.output;
  EXPECT_EQ(count_of(dump.output, "XResolution (282) RATIONAL (5) 1<204>"), 2) << dump.output;
  shell("tiffcp -c none doc.tif,0 raw.tif && tifftopnm raw.tif > back.pbm 2>/dev/null");
  EXPECT_EQ(monotest::first_difference(fax, monotest::read_pbm(dir.file("back.pbm"))), "");

  const monotest::ToolResult r = monodoc("tiff read doc.tif");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("doc.tif: format TIFFFX, subtype profileS, 2 pages"), std::string::npos) << r.output;
  // 300 dpi without resolution fields: 196 / 300 of the rows, widened to the one width of S.
  EXPECT_NE(r.output.find("page 2: 1728 x 78 pixels, 204 x 196 dpi, 1 bit, g3, 1 strip"), std::string::npos)
      << r.output;

  const monotest::ToolResult refused = monodoc("tiff write -p S one fit.tif g4.tif");
  EXPECT_EQ(refused.exit_code, 1) << refused.output;
  // The refusal says why, in words.
  EXPECT_NE(refused.output.find("one.tif: page 2: the fax profile takes one-dimensional G3 pages, not G4 ones"),
            std::string::npos)
      << refused.output;
  EXPECT_NE(refused.output.find("tiff: g4.tif: page 1: the page cannot be written to the TIFF file"),
            std::string::npos)
      << refused.output;
  EXPECT_EQ(refused.output.find("TIFF IO"), std::string::npos) << refused.output;
  // A run that failed writes no document, not even the pages before the failure.
  EXPECT_FALSE(std::ifstream(dir.file("one.tif")).good());

  // Each page that cannot be read is reported with its reason, and the next one read.
  shell("tiffcp -t fit.tif big.tif tiled.tif");
  const monotest::ToolResult tiled = monodoc("tiff read tiled.tif");
  EXPECT_EQ(tiled.exit_code, 1) << tiled.output;
  for (const char* line : {"tiff: tiled.tif: page 1: tiled images are not read",
                           "tiff: tiled.tif: page 2: tiled images are not read",
                           "tiff: tiled.tif: 2 of 2 pages cannot be read"}) {
    EXPECT_NE(tiled.output.find(line), std::string::npos) << line << "\n" << tiled.output;
  }

  // A page file that cannot be read is named once, with the reason.
  monotest::write_file(dir.file("empty.pbm"), "P4\n0 0\n");
  const monotest::ToolResult unread = monodoc("tiff write two empty.pbm");
  EXPECT_EQ(unread.exit_code, 1) << unread.output;
  EXPECT_NE(unread.output.find("tiff: empty.pbm: the page size is zero"), std::string::npos) << unread.output;

  EXPECT_EQ(monodoc("tiff").exit_code, 2);
  EXPECT_EQ(monodoc("tiff write -p X doc fit.tif").exit_code, 2);
  const monotest::ToolResult missing = monodoc("tiff read absent.tif");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("tiff: absent.tif:"), std::string::npos) << missing.output;
}

}  // namespace
