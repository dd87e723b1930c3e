// PDF files as the runner's page files: scans written by img2pdf (G4, Flate in one and eight
// bits) and a page of JBIG2 data with its globals made by our own encoder give back the pixels
// of the pages they were made from; a page that is more than one image is refused with a reason.
// And PDF files as input of monodoc pdf: passed through the reader and the writer, JBIG2 data and
// globals stay byte for byte; re-coded, a G4 scan becomes smaller JBIG2 that renders the same.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "page_files.h"
#include "pbm.h"
#include "tools.h"

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

}  // namespace
