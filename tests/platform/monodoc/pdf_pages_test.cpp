// PDF files as the runner's page files: scans written by img2pdf (G4, Flate in one and eight
// bits) and a page of JBIG2 data with its globals made by our own encoder give back the pixels
// of the pages they were made from; a page that is more than one image is refused with a reason.
// And PDF files as input of monodoc pdf: passed through the reader and the writer, JBIG2 data and
// globals stay byte for byte; re-coded, a G4 scan becomes smaller JBIG2 that renders the same.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "page_files.h"
#include "pbm.h"
#include "sanitizer_size.h"
#include "tools.h"

#if defined(__SANITIZE_ADDRESS__)
#define PDFPAGES_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PDFPAGES_ASAN 1
#endif
#endif
#ifdef PDFPAGES_ASAN
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace {

using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

class PdfPagesTest : public ::testing::Test {
 protected:
  void SetUp() override { monotest::require_tool("img2pdf", "img2pdf"); }
  void shell(const std::string& command) {
    const auto r = run_tool("cd " + shell_quote(dir.path()) + " && " + command);
    ASSERT_EQ(r.exit_code, 0) << command << "\n" << r.output;
  }
  std::vector<monodoc::Bilevel> pages(const std::string& name, std::string* error) {
    std::vector<monodoc::Bilevel> p;
    error->clear();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0) {
      monodoc::read_pdf(dir.file(name), &p, error);
    } else {
      monodoc::read_pages(dir.file(name), &p, error);
    }
    return p;
  }
  TempDir dir;
};

TEST_F(PdfPagesTest, ScansGiveBackTheirPixels) {
  shell("pbmtext 'Scanned page, G4' > text.pbm && pnmtotiff -g4 text.pbm > text.tif && "
        "img2pdf --output g4.pdf text.tif && pnmtopng text.pbm > bits.png && img2pdf --output bits.pdf bits.png && "
        "pbmtopgm 1 1 text.pbm | pnmtopng > grey.png && img2pdf --output grey.pdf grey.png && "
        "cat text.pbm text.pbm > two.pbm");
  std::string error;
  const std::vector<monodoc::Bilevel> want = pages("text.pbm", &error);
  ASSERT_EQ(want.size(), 1u) << error;
  for (const char* name : {"g4.pdf", "bits.pdf", "grey.pdf"}) {
    const std::vector<monodoc::Bilevel> got = pages(name, &error);
    ASSERT_EQ(got.size(), 1u) << name << ": " << error;
    EXPECT_EQ(got[0].width, want[0].width) << name;
    EXPECT_EQ(got[0].height, want[0].height) << name;
    EXPECT_EQ(got[0].bits, want[0].bits) << name;
  }
}

TEST_F(PdfPagesTest, Jbig2PagesDecodeAgainstTheirGlobals) {
  shell("pbmtext 'JBIG2 page one' > one.pbm && pbmtext 'and page two' > two.pbm && " MONODOC_BIN
        " encode -o enc one.pbm two.pbm 2>/dev/null");
  std::string error;
  std::vector<monodoc::Bilevel> want = pages("one.pbm", &error);
  const std::vector<monodoc::Bilevel> second = pages("two.pbm", &error);
  want.push_back(second.at(0));
  // Two pages sharing one globals stream, as the PDF writer embeds them.
  const std::string dict = monotest::read_file(dir.file("enc-dict.jb2"));
  std::string text = "%PDF-1.5\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n";
  text += "2 0 obj<</Type/Pages/Kids[3 0 R 6 0 R]/Count 2>>endobj\n";
  text += "9 0 obj<</Length " + std::to_string(dict.size()) + ">>stream\n" + dict + "\nendstream endobj\n";
  for (int i = 0; i < 2; ++i) {
    const int page = 3 + 3 * i;
    const std::string data = monotest::read_file(dir.file("enc-" + std::to_string(i + 1) + ".jb2"));
    const std::string draw = "q " + std::to_string(want[i].width) + " 0 0 " + std::to_string(want[i].height) +
                             " 0 0 cm /J Do Q";
    text += std::to_string(page) + " 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 " + std::to_string(want[i].width) +
            " " + std::to_string(want[i].height) + "]/Contents " + std::to_string(page + 1) +
            " 0 R/Resources<</XObject<</J " + std::to_string(page + 2) + " 0 R>>>>>>endobj\n";
    text += std::to_string(page + 1) + " 0 obj<</Length " + std::to_string(draw.size()) + ">>stream\n" + draw +
            "\nendstream endobj\n";
    text += std::to_string(page + 2) + " 0 obj<</Type/XObject/Subtype/Image/Width " + std::to_string(want[i].width) +
            "/Height " + std::to_string(want[i].height) +
            "/ColorSpace/DeviceGray/BitsPerComponent 1/Filter/JBIG2Decode/DecodeParms<</JBIG2Globals 9 0 R>>/Length " +
            std::to_string(data.size()) + ">>stream\n" + data + "\nendstream endobj\n";
  }
  text += "trailer<</Root 1 0 R/Size 10>>\n%%EOF\n";
  monotest::write_file(dir.file("jbig2.raw"), text);
  shell("qpdf --stream-data=preserve jbig2.raw jbig2.pdf; test $? -ne 2");
  const std::vector<monodoc::Bilevel> got = pages("jbig2.pdf", &error);
  ASSERT_EQ(got.size(), 2u) << error;
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(got[i].bits, want[i].bits) << "page " << i + 1;
}

TEST_F(PdfPagesTest, PagesThatAreNotOneImageAreRefused) {
  shell("pbmtext one > a.pbm && pnmtopng a.pbm > a.png && img2pdf --output a.pdf a.png && "
        "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=empty.pdf -c showpage && "
        "qpdf --empty --pages a.pdf a.pdf -- twice.pdf && qpdf --overlay a.pdf -- twice.pdf layered.pdf");
  std::string error;
  EXPECT_TRUE(pages("empty.pdf", &error).empty());
  EXPECT_NE(error.find("PDF page 1: the page holds 0 images"), std::string::npos) << error;
  EXPECT_EQ(pages("twice.pdf", &error).size(), 2u) << error;
  EXPECT_TRUE(pages("layered.pdf", &error).empty());
  EXPECT_NE(error.find("the page holds 2 images"), std::string::npos) << error;
}

// The files pdfimages -all extracts from a PDF, name -> bytes.
std::vector<std::pair<std::string, std::string>> extracted(const TempDir& dir, const std::string& pdf,
                                                           const std::string& prefix) {
  const auto r = run_tool("cd " + shell_quote(dir.path()) + " && mkdir -p " + prefix + " && pdfimages -all " +
                          shell_quote(pdf) + " " + prefix + "/i && ls " + prefix);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::vector<std::pair<std::string, std::string>> files;
  std::string name;
  for (char c : r.output) {
    if (c != '\n') {
      name += c;
      continue;
    }
    files.emplace_back(name, monotest::read_file(dir.file(prefix + "/" + name)));
    name.clear();
  }
  return files;
}

TEST_F(PdfPagesTest, WrittenPdfsPassThroughReaderAndWriterByteForByte) {
  shell("pbmtext 'First page of the section' > p1.pbm && pbmtext 'and the second, same glyphs' > p2.pbm && " MONODOC_BIN
        " pdf -o written.pdf p1.pbm p2.pbm > /dev/null && " MONODOC_BIN " pdf -o again.pdf written.pdf > again.log");
  const auto first = extracted(dir, dir.file("written.pdf"), "a");
  const auto second = extracted(dir, dir.file("again.pdf"), "b");
  ASSERT_EQ(first.size(), 4u);  // two pages, each its data and the globals it refers to
  EXPECT_EQ(first, second);
  EXPECT_NE(first[0].first.find(".jb2"), std::string::npos) << first[0].first;
  const auto a = run_tool("pdftoppm -r 72 -gray " + shell_quote(dir.file("written.pdf")) + " | md5sum");
  const auto b = run_tool("pdftoppm -r 72 -gray " + shell_quote(dir.file("again.pdf")) + " | md5sum");
  EXPECT_EQ(a.output, b.output);
  EXPECT_EQ(run_tool("qpdf --check " + shell_quote(dir.file("again.pdf"))).exit_code, 0);

  // The reader's layers are the images pdfimages lists: size, resolution, coding and bytes.
  const auto listed = run_tool("pdfimages -list " + shell_quote(dir.file("written.pdf")) + " | tail -n +3");
  const auto info = run_tool(std::string(MONODOC_BIN) + " info " + shell_quote(dir.file("written.pdf")));
  ASSERT_EQ(info.exit_code, 0) << info.output;
  std::istringstream rows(listed.output);
  std::string row;
  int pages = 0;
  while (std::getline(rows, row)) {
    std::istringstream f(row);
    std::string page, num, type, color, comp, bpc, enc, interp, object, id, xppi, yppi, size;
    int width = 0, height = 0;
    f >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc >> interp >> object >> id >> xppi >>
        yppi >> size;
    ASSERT_EQ(enc, "jbig2") << row;
    const std::string w = std::to_string(width), h = std::to_string(height);
    for (const std::string& line :
         {"page " + page + ": " + w + "x" + h + " pixels at " + xppi + "x" + yppi + " dpi, 2 layers\n",
          "layer 0: bilevel image at 0,0 " + w + "x" + h + ", " + w + "x" + h + " samples " + comp + "x" + bpc +
              " bit, JBIG2, " + size.substr(0, size.size() - 1) + " bytes\n"}) {
      EXPECT_NE(info.output.find(line), std::string::npos) << line << info.output;
    }
    ++pages;
  }
  EXPECT_EQ(pages, 2) << listed.output;
}

// Text read from a PDF goes back into the PDF written from it: text that Ghostscript typeset
// from PostScript (subset fonts, Differences encodings, strings with parentheses and backslashes)
// and the text layers of our own writer (Latin-1 and Latin-2 text, ToUnicode maps and widths) over
// blank pages.
class PdfTextTest : public PdfPagesTest {
 protected:
  void SetUp() override {}
};

TEST_F(PdfTextTest, TextOfReadPagesIsWrittenAgain) {
  for (const char* tool : {"gs", "pdftotext", "pbmmake"}) {
    if (run_tool(std::string("command -v ") + tool + " >/dev/null").exit_code != 0) {
      FAIL() << tool << " is not installed (apt-get install ghostscript poppler-utils netpbm)";
    }
  }
  monotest::write_file(dir.file("text.ps"),
                       "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Typeset \\(open and a \\\\ "
                       "backslash) show\n/Times-Bold findfont 14 scalefont setfont 72 650 moveto "
                       "[(Kerned) -4 (words)] { dup type /stringtype eq { show } { 0 rmoveto } ifelse } forall\n"
                       "showpage\n72 700 moveto (Second page) show 0 -20 rmoveto (and a third line) show showpage\n");
  monotest::write_file(dir.file("one.xml"),
                       "<Page><Glyphs x0=\"300\" xw=\"500\" yb=\"600\" yh=\"80\" famStyle=\"4\" str=\"Fa\xC3\xA7"
                       "ade\"/></Page>");
  monotest::write_file(dir.file("two.xml"),
                       "<Page><Glyphs x0=\"100\" xw=\"400\" yb=\"300\" yh=\"60\" famStyle=\"1\" str=\"\xC5\x81\xC3\xB3"
                       "d\xC5\xBA\"/></Page>");
  shell("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=gs.pdf text.ps && pbmmake -white 850 1100 > w.pbm && "
        MONODOC_BIN " pdf --text one.xml --text two.xml -o ours.pdf w.pbm w.pbm > /dev/null");
  for (const char* name : {"gs.pdf", "ours.pdf"}) {
    const std::string again = std::string("again-") + name;
    shell(std::string(MONODOC_BIN) + " pdf -o " + again + " " + name + " > /dev/null");
    const auto a = run_tool("pdftotext " + shell_quote(dir.file(name)) + " -");
    const auto b = run_tool("pdftotext " + shell_quote(dir.file(again)) + " -");
    ASSERT_EQ(a.exit_code, 0) << name;
    EXPECT_GT(a.output.size(), 10u) << name << ": " << a.output;
    EXPECT_EQ(a.output, b.output) << name;
    EXPECT_EQ(run_tool("qpdf --check " + shell_quote(dir.file(again)) + " >/dev/null").exit_code, 0) << again;
  }
  // Blank pages code to no symbols: their empty globals stream is written again as it was.
  EXPECT_EQ(extracted(dir, dir.file("ours.pdf"), "a"), extracted(dir, dir.file("again-ours.pdf"), "b"));
}

TEST_F(PdfPagesTest, ScansRecodedToJbig2GetSmallerAndRenderAlike) {
  // A page of text at 300 dpi, as a G4 scan and as a Flate scan.
  shell("for i in 1 2 3 4 5 6 7 8; do echo 'The quick brown fox jumps over the lazy dog, line '$i; done | "
        "pbmtext -builtin fixed | pamenlarge 4 > page.pbm && pnmtotiff -g4 -xresolution 300 -yresolution 300 page.pbm "
        "> page.tif && img2pdf --output g4.pdf page.tif && pnmtopng page.pbm > page.png && "
        "img2pdf --imgsize 300dpix300dpi --output flate.pdf page.png");
  for (const char* name : {"g4.pdf", "flate.pdf"}) {
    const std::string out = std::string("re-") + name;
    shell(std::string(MONODOC_BIN) + " pdf --recode -o " + out + " " + name + " > /dev/null");
    EXPECT_LT(monotest::read_file(dir.file(out)).size(), monotest::read_file(dir.file(name)).size()) << name;
    const auto a = run_tool("pdftoppm -r 300 -gray -aa no -aaVector no " + shell_quote(dir.file(name)) + " | md5sum");
    const auto b = run_tool("pdftoppm -r 300 -gray -aa no -aaVector no " + shell_quote(dir.file(out)) + " | md5sum");
    EXPECT_EQ(a.output, b.output) << name;
  }
}

// PDF files that other programs made, through monodoc pdf: each page renders as it did (mupdf
// and poppler, the same pixels), or the run names the page and what it cannot carry and leaves no
// file. Inputs are made here by img2pdf, tiff2pdf, Ghostscript and qpdf, and by hand where a
// feature needs a page of its own.
class PdfPassTest : public PdfPagesTest {
 protected:
  void SetUp() override {
    for (const char* tool : {"img2pdf", "tiff2pdf", "gs", "qpdf", "mutool", "pdftoppm", "pdftotext", "pdfinfo",
                             "pnmtopng", "pnmtotiff", "pnmtojpeg"}) {
      monotest::require_tool(tool, "img2pdf, libtiff-tools, ghostscript, qpdf, mupdf-tools, poppler-utils, netpbm");
    }
  }
  // Renders of a page by mupdf and poppler at the same resolution, as binary PPM.
  std::vector<std::string> renders(const std::string& name, const std::string& password = "") {
    const std::string mp = password.empty() ? "" : " -p " + shell_quote(password);
    const std::string pp = password.empty() ? "" : " -upw " + shell_quote(password);
    return {run_tool("mutool draw -q" + mp + " -r 96 -c rgb -F pnm -o - " + shell_quote(dir.file(name)) +
                     " 2>/dev/null")
                .output,
            run_tool("pdftoppm" + pp + " -r 96 " + shell_quote(dir.file(name))).output};
  }
  // Whether two renders show the same page: equal sizes, and every pixel of b equal to a's or
  // within the values of a's pixels around it, which an edge that lands a hair differently
  // shades (anti-aliasing); anything moved, lost, recoloured or noisy is not.
  static std::string compare(const std::string& a, const std::string& b) {
    auto parse = [](const std::string& ppm, int* w, int* h, size_t* at) {
      std::istringstream in(ppm);
      std::string magic;
      int max = 0;
      if (!(in >> magic >> *w >> *h >> max) || magic != "P6" || max != 255) return false;
      *at = static_cast<size_t>(in.tellg()) + 1;
      return ppm.size() >= *at + static_cast<size_t>(*w) * static_cast<size_t>(*h) * 3;
    };
    int wa = 0, ha = 0, wb = 0, hb = 0;
    size_t pa = 0, pb = 0;
    if (!parse(a, &wa, &ha, &pa) || !parse(b, &wb, &hb, &pb)) return "not a render";
    if (wa != wb || ha != hb) return "sizes differ";
    auto at = [&](const std::string& p, size_t base, int x, int y, int c) {
      return static_cast<uint8_t>(p[base + (static_cast<size_t>(y) * static_cast<size_t>(wa) + x) * 3 + c]);
    };
    for (int y = 0; y < ha; ++y) {
      for (int x = 0; x < wa; ++x) {
        for (int c = 0; c < 3; ++c) {
          const int v = at(b, pb, x, y, c);
          int lo = 255, hi = 0;
          for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
              if (x + dx < 0 || y + dy < 0 || x + dx >= wa || y + dy >= ha) continue;
              lo = std::min<int>(lo, at(a, pa, x + dx, y + dy, c));
              hi = std::max<int>(hi, at(a, pa, x + dx, y + dy, c));
            }
          }
          if (v < lo - 2 || v > hi + 2) {
            return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + std::to_string(v) +
                   ", not " + std::to_string(lo) + ".." + std::to_string(hi);
          }
        }
      }
    }
    return "same";
  }
  std::string render_difference(const std::string& out, const std::string& in, const std::string& password = "") {
    const auto a = renders(in, password), b = renders(out);
    return "mupdf " + compare(a[0], b[0]) + ", poppler " + compare(a[1], b[1]);
  }
  std::string info(const std::string& name, const std::string& password = "") {
    const std::string p = password.empty() ? "" : " -upw " + shell_quote(password);
    return run_tool("pdfinfo -box" + p + " " + shell_quote(dir.file(name)) + " | grep -E 'box|rot'").output;
  }
  bool exists(const std::string& name) {
    FILE* f = std::fopen(dir.file(name).c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
  }
};

// A hand-made one-page PDF: content and resources of page 3 0 R, with extra objects from 5.
std::string hand_pdf(const std::string& content, const std::string& resources, const std::string& page_extra,
                     const std::vector<std::string>& extra) {
  std::vector<std::string> objects = {
      "<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1>>",
      "<</Type/Page/Parent 2 0 R/MediaBox[0 0 300 200]" + page_extra + "/Contents 4 0 R/Resources<<" + resources +
          ">>>>",
      "<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream"};
  objects.insert(objects.end(), extra.begin(), extra.end());
  return monotest::pdf_of_objects(objects);
}

TEST_F(PdfPassTest, PagesOfOtherProgramsRenderAsTheyDidOrAreRefusedByName) {
  shell("pgmramp -lr 200 100 > g.pgm && pnmtopng g.pgm > grey.png && ppmpat -madras 200 100 > c.ppm && "
        "pnmtopng c.ppm > rgb.png && pnmquant 16 c.ppm 2>/dev/null | pnmtopng > palette.png && "
        "pgmramp -ellipse 200 100 > a.pgm && pnmtopng -alpha=a.pgm c.ppm > rgba.png && pnmtojpeg c.ppm > c.jpg && "
        "for f in grey rgb palette rgba; do img2pdf -o $f.pdf $f.png 2>/dev/null || exit 1; done && "
        "img2pdf -o jpeg.pdf c.jpg && pbmtext 'Fax page, G4' > t.pbm && pnmtotiff -g4 t.pbm > g4.tif && "
        "tiff2pdf -o g4.pdf g4.tif && pnmtotiff -lzw c.ppm > lzw.tif 2>/dev/null && tiff2pdf -o lzw.pdf lzw.tif && "
        "qpdf --rotate=+90 palette.pdf rotated.pdf && qpdf --encrypt user owner 256 -- rgba.pdf encrypted.pdf");
  monotest::write_file(dir.file("drawing.ps"),
                       "%!PS\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (A chart) show\n"
                       "2 setlinewidth 72 600 moveto 300 650 lineto stroke 0.5 setgray 100 300 200 100 rectfill "
                       "showpage\n");
  monotest::write_file(dir.file("typeset.ps"),
                       "%!PS\n/Times-Roman findfont 18 scalefont setfont 72 700 moveto (Typeset words) show\n"
                       "0.25 setgray 72 500 300 80 rectfill showpage\n");
  shell("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=drawing.pdf drawing.ps && "
        "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=typeset.pdf typeset.ps");
  const std::string helvetica = "/Font<</F1 5 0 R>>";
  const std::string standard = "<</Type/Font/Subtype/Type1/BaseFont/Helvetica/Encoding/WinAnsiEncoding>>";
  const std::string truetype = "<</Type/Font/Subtype/TrueType/BaseFont/Arial>>";
  const std::string composite = "<</Type/Font/Subtype/Type0/BaseFont/Scan-Identity-H/Encoding/Identity-H>>";
  struct Hand {
    const char* name;
    std::string content, resources, page, extra, more = {};  // extra and more: objects 5 and 6
  };
  const Hand hands[] = {
      {"boxes.pdf", "0.5 g 20.25 20.5 100 50 re f 0 0 1 rg 150 100 30.5 40 re f", "",
       "/CropBox[10.5 5.25 290.75 190.5]/Rotate 270", ""},
      {"latin.pdf", "BT /F1 24 Tf 20 100 Td (D\\351j\\340 vu) Tj ET", helvetica, "", standard},
      {"ocr.pdf", "0.8 g 0 0 300 200 re f BT 3 Tr /F1 24 Tf 20 100 Td <0041> Tj ET", helvetica, "", composite},
      {"saved-text.pdf", "q 2 0 0 2 0 0 cm BT /F1 12 Tf 10 10 Td (Hi) Tj ET Q 0.5 g 100 100 50 50 re f", helvetica, "",
       standard},
      {"form-text.pdf", "q 1 0 0 1 50 50 cm /Fm Do Q", "/XObject<</Fm 5 0 R>>", "",
       "<</Type/XObject/Subtype/Form/BBox[-100 -100 400 300]/Matrix[1 0 0 1 20 20]/Resources<</Font<</F1 "
       "<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>>>>>/Length 34>>stream\nBT /F1 12 Tf 10 10 Td (Form) Tj "
       "ET\nendstream"},
      {"truetype.pdf", "BT /F1 24 Tf 20 100 Td (Hello) Tj ET", helvetica, "", truetype},
      {"red-text.pdf", "1 0 0 rg BT /F1 24 Tf 20 100 Td (Hello) Tj ET", helvetica, "", standard},
      {"curve.pdf", "10 10 m 100 150 200 10 290 190 c f", "", "", ""},
      {"clip.pdf", "50 50 100 100 re W n 0.5 g 20 20 100 50 re f", "", "", ""},
      {"page-clip.pdf", "0 0 300 200 re W n 0.5 g 20 20 100 50 re f", "", "", ""},
      {"inner-clip.pdf",
       "q 10 10 200 150 re W n 0.5 g 20 20 100 50 re f Q 0 0 1 rg 250 150 20 20 re f "
       "q 50 50 200 100 re W n 200 0 0 100 50 50 cm /G Do Q",
       "/XObject<</G 5 0 R>>", "",
       "<</Type/XObject/Subtype/Image/Width 4/Height 2/BitsPerComponent 8/ColorSpace/DeviceGray"
       "/Filter/ASCIIHexDecode/Length 17>>stream\n0040A0FFFFA04000>\nendstream"},
      {"two-clips.pdf", "10 10 50 50 re 100 100 50 50 re W n 0.5 g 20 20 100 50 re f", "", "", ""},
      {"alpha.pdf", "/G gs 0.5 g 20 20 100 50 re f", "/ExtGState<</G<</ca 0.5>>>>", "", ""},
      {"inline.pdf", "q 100 0 0 100 10 10 cm BI /W 2 /H 1 /CS /G /BPC 8 ID \x80\xff EI Q", "", "", ""},
      {"stencil.pdf", "1 0 0 rg q 200 0 0 100 50 50 cm /M Do Q", "/XObject<</M 5 0 R>>", "",
       "<</Type/XObject/Subtype/Image/Width 8/Height 2/ImageMask true/Filter/ASCIIHexDecode/Length 5>>stream\n"
       "A55A>\nendstream"},
      {"spot.pdf", "q 200 0 0 100 50 50 cm /S Do Q", "/XObject<</S 5 0 R>>", "",
       "<</Type/XObject/Subtype/Image/Width 4/Height 2/BitsPerComponent 8/ColorSpace[/Separation/Spot/DeviceCMYK"
       "<</FunctionType 2/Domain[0 1]/C0[0 0 0 0]/C1[0 1 0.5 0]/N 1>>]/Filter/ASCIIHexDecode/Length 17>>stream\n"
       "0040A0FFFFA04000>\nendstream"},
      {"decode.pdf", "q 200 0 0 100 50 50 cm /G Do Q", "/XObject<</G 5 0 R>>", "",
       "<</Type/XObject/Subtype/Image/Width 4/Height 2/BitsPerComponent 8/ColorSpace/DeviceGray/Decode[1 0]"
       "/Mask[0 64]/Interpolate true/Filter/ASCIIHexDecode/Length 17>>stream\n0040A0FFFFA04000>\nendstream"},
      {"masked.pdf", "0 0 1 rg 0 0 300 200 re f q 200 0 0 100 50 50 cm /I Do Q", "/XObject<</I 5 0 R>>", "",
       "<</Type/XObject/Subtype/Image/Width 4/Height 2/BitsPerComponent 8/ColorSpace/DeviceGray/Mask 6 0 R"
       "/Filter/ASCIIHexDecode/Length 17>>stream\n0040A0FFFFA04000>\nendstream",
       "<</Type/XObject/Subtype/Image/Width 8/Height 2/ImageMask true/Decode[1 0]/Filter/ASCIIHexDecode/Length 5>>"
       "stream\nA55A>\nendstream"},
      {"form.pdf", "q 1 0 0 1 50 50 cm /Fm Do Q", "/XObject<</Fm 5 0 R>>", "",
       "<</Type/XObject/Subtype/Form/BBox[0 0 100 100]/Matrix[1 0 0 1 20 20]/Length 22>>stream\n"
       "0.5 g 10 10 50 40 re f\nendstream"},
      {"form-cut.pdf", "q 1 0 0 1 50 50 cm /Fm Do Q", "/XObject<</Fm 5 0 R>>", "",
       "<</Type/XObject/Subtype/Form/BBox[0 0 100 100]/Matrix[1 0 0 1 20 20]/Length 23>>stream\n"
       "0.5 g 10 10 150 40 re f\nendstream"},
      {"shading.pdf", "/S sh",
       "/Shading<</S<</ShadingType 2/ColorSpace/DeviceRGB/Coords[0 0 300 0]/Function<</FunctionType 2/Domain[0 1]"
       "/C0[1 0 0]/C1[0 0 1]/N 1>>>>>>",
       "", ""},
  };
  for (const Hand& h : hands) {
    std::vector<std::string> objects;
    for (const std::string& o : {h.extra, h.more}) {
      if (!o.empty()) objects.push_back(o);
    }
    monotest::write_file(dir.file(h.name), hand_pdf(h.content, h.resources, h.page, objects));
  }

  struct Case {
    const char* input;
    const char* options;
    const char* refusal;  // empty: the page passes through
  };
  const Case cases[] = {
      {"grey.pdf", "", ""},
      {"palette.pdf", "", ""},
      {"rgb.pdf", "", ""},
      {"rgba.pdf", "", ""},
      {"jpeg.pdf", "", ""},
      {"g4.pdf", "", ""},
      {"lzw.pdf", "", ""},
      {"rotated.pdf", "", ""},
      {"encrypted.pdf", "-p user", ""},
      {"typeset.pdf", "", ""},
      {"boxes.pdf", "", ""},
      {"latin.pdf", "", ""},
      {"ocr.pdf", "", ""},
      {"page-clip.pdf", "", ""},
      {"inner-clip.pdf", "", ""},
      {"two-clips.pdf", "", "page 1: clipping is not carried"},
      {"saved-text.pdf", "", ""},
      {"form-text.pdf", "", "page 1: text inside a form XObject is not carried"},
      {"stencil.pdf", "", ""},
      {"spot.pdf", "", ""},
      {"decode.pdf", "", ""},
      {"masked.pdf", "", ""},
      {"form.pdf", "", ""},
      {"form-cut.pdf", "", "page 1: a form clipped to its bounding box is not carried"},
      {"drawing.pdf", "", "page 1: vector drawing (strokes) is not carried"},
      {"truetype.pdf", "", "page 1: text in font Arial (not a simple Type 1 font) is not carried"},
      {"red-text.pdf", "", "page 1: text in a colour other than black is not carried"},
      {"curve.pdf", "", "page 1: vector drawing is not carried"},
      {"clip.pdf", "", "page 1: clipping is not carried"},
      {"alpha.pdf", "", "page 1: transparency is not carried"},
      {"inline.pdf", "", "page 1: an inline image is not carried"},
      {"shading.pdf", "", "page 1: a shading is not carried"},
      {"encrypted.pdf", "", "encrypted.pdf: encrypted: its password is needed (-p PASSWORD)"},
      {"encrypted.pdf", "-p wrong", "encrypted.pdf: encrypted, and the password given (-p) does not open it"},
      {"grey.pdf", "--recode", ""},
      {"rotated.pdf", "--recode", ""},
      {"ocr.pdf", "--recode", "page 1: --recode takes a scanned page: a filled rectangle is not carried"},
      {"typeset.pdf", "--recode", "page 1: --recode takes a scanned page: visible text is not carried"},
      {"latin.pdf", "--recode", "page 1: --recode takes a scanned page: visible text is not carried"},
  };
  for (const Case& c : cases) {
    const std::string options = c.options;
    const std::string out = "out.pdf";
    std::remove(dir.file(out).c_str());
    const auto r = run_tool("cd " + shell_quote(dir.path()) + " && " MONODOC_BIN " pdf " + options + " -o " + out +
                            " " + c.input + " 2>&1");
    const std::string what = std::string(c.input) + " " + options;
    if (*c.refusal) {
      EXPECT_EQ(r.exit_code, 1) << what << "\n" << r.output;
      EXPECT_NE(r.output.find(c.refusal), std::string::npos) << what << "\n" << r.output;
      EXPECT_NE(r.output.find(c.input), std::string::npos) << what << "\n" << r.output;
      EXPECT_FALSE(exists(out)) << what;
      continue;
    }
    ASSERT_EQ(r.exit_code, 0) << what << "\n" << r.output;
    const std::string password = options == "-p user" ? "user" : "";
    EXPECT_EQ(render_difference(out, c.input, password), "mupdf same, poppler same") << what;
    EXPECT_EQ(info(out), info(c.input, password)) << what;
    const auto a = run_tool("pdftotext" + (password.empty() ? "" : " -upw " + password) + " " +
                            shell_quote(dir.file(c.input)) + " -");
    EXPECT_EQ(run_tool("pdftotext " + shell_quote(dir.file(out)) + " -").output, a.output) << what;
  }
  // Lossless images stay lossless: nothing becomes JPEG that was not.
  for (const char* name : {"grey.pdf", "palette.pdf", "rgba.pdf", "lzw.pdf"}) {
    shell(std::string(MONODOC_BIN) + " pdf -o again-" + name + " " + name + " > /dev/null");
    const auto list = run_tool("pdfimages -list " + shell_quote(dir.file(std::string("again-") + name)));
    EXPECT_EQ(list.output.find("jpeg"), std::string::npos) << name << "\n" << list.output;
  }
}

// --recode codes black-and-white scans again as JBIG2 and keeps a rotated page's rotation; grey
// pages keep their coding.
TEST_F(PdfPassTest, RecodeTakesBilevelImagesOnly) {
  shell("pbmtext 'A scanned line of text' | pamenlarge 3 > t.pbm && pnmtotiff -g4 t.pbm > t.tif && "
        "tiff2pdf -o g4.pdf t.tif && qpdf --rotate=+90 g4.pdf turned.pdf && pgmramp -lr 300 120 | pnmtopng > g.png && "
        "img2pdf -o grey.pdf g.png && " MONODOC_BIN " pdf --recode -o re-turned.pdf turned.pdf > /dev/null && " MONODOC_BIN
        " pdf --recode -o re-grey.pdf grey.pdf > /dev/null");
  EXPECT_NE(run_tool("pdfimages -list " + shell_quote(dir.file("re-turned.pdf"))).output.find("jbig2"),
            std::string::npos);
  EXPECT_EQ(info("re-turned.pdf"), info("turned.pdf"));
  const auto a = run_tool("pdftoppm -r 96 -gray -aa no " + shell_quote(dir.file("turned.pdf")) + " | md5sum");
  const auto b = run_tool("pdftoppm -r 96 -gray -aa no " + shell_quote(dir.file("re-turned.pdf")) + " | md5sum");
  EXPECT_EQ(a.output, b.output);
  const std::string columns = " | tail -n +3 | awk '{print $4, $5, $6, $9}'";
  EXPECT_EQ(run_tool("pdfimages -list " + shell_quote(dir.file("grey.pdf")) + columns).output,
            run_tool("pdfimages -list " + shell_quote(dir.file("re-grey.pdf")) + columns).output);
  EXPECT_EQ(render_difference("re-grey.pdf", "grey.pdf"), "mupdf same, poppler same");

  // A searchable scan keeps its invisible text.
  monotest::write_file(dir.file("words.xml"), "<Page><Glyphs x0=\"100\" xw=\"500\" yb=\"600\" yh=\"80\" "
                                                "famStyle=\"4\" str=\"Scanned words\"/></Page>");
  shell("pbmtext 'Scanned words' | pamenlarge 4 | pnmpad -white -width 850 -height 1100 > w.pbm && " MONODOC_BIN
        " pdf --text words.xml -o searchable.pdf w.pbm > /dev/null && " MONODOC_BIN
        " pdf --recode -o re-searchable.pdf searchable.pdf > /dev/null");
  const auto words = run_tool("pdftotext " + shell_quote(dir.file("re-searchable.pdf")) + " -");
  EXPECT_NE(words.output.find("Scanned words"), std::string::npos) << words.output;
  EXPECT_EQ(words.output, run_tool("pdftotext " + shell_quote(dir.file("searchable.pdf")) + " -").output);
  EXPECT_EQ(render_difference("re-searchable.pdf", "searchable.pdf"), "mupdf same, poppler same");
}

// Bytes the whole process holds on its heap now: the PDF library's and qpdf's as well as ours.
size_t live_heap() {
#ifdef PDFPAGES_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// --recode reads one page at a time from one opening of the file: while the twentieth page is
// decoded the heap holds what it held for the first, not nineteen pages more.
TEST_F(PdfPagesTest, RecodeHoldsOnePageAtATime) {
  const int width = monotest::sanitizer_sized(2480, 620), height = monotest::sanitizer_sized(3508, 877);
  constexpr int kPages = 20;
  shell("pbmtext 'page of a long scan' | pnmpad -white -width " + std::to_string(width) + " -height " +
        std::to_string(height) + " > p.pbm && pnmtotiff -g4 p.pbm > p.tif && for i in $(seq " +
        std::to_string(kPages) + "); do echo p.tif; done | xargs img2pdf -o scan.pdf");
  elf_state* state = initState(nullptr, "pagefiler.ucm");
  ASSERT_NE(state, nullptr);
  state->print = [](void*, const char*) {};
  size_t first = 0, last = 0;
  int pages = 0;
  std::string error;
  const bool ok = monodoc::visit_pdf_pages(
      state, dir.file("scan.pdf"), "",
      [&](elf_object* image, PDFDoc* doc, int32_t n, int32_t, std::string* why) {
        monodoc::Bilevel page;
        bool bilevel = false;
        if (!monodoc::recode_page(state, doc, image, n, &page, &bilevel, why)) return false;
        EXPECT_TRUE(bilevel) << n;
        EXPECT_EQ(page.width, width) << n;
        (n == 1 ? first : last) = live_heap();
        ++pages;
        return true;
      },
      &error);
  freeState(state);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(pages, kPages);
  const size_t pageBytes = static_cast<size_t>(width + 7) / 8 * static_cast<size_t>(height);
  EXPECT_LT(last, first + pageBytes) << "first page " << first << ", last " << last;
}

}  // namespace
