// PDF files as the runner's page files: scans written by img2pdf (G4, Flate in one and eight
// bits) and a page of JBIG2 data with its globals made by our own encoder give back the pixels
// of the pages they were made from; a page that is more than one image is refused with a reason.

#include <gtest/gtest.h>

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
    monodoc::read_pages(dir.file(name), &p, error);
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

}  // namespace
