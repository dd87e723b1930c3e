// Text layers written into PDF pages, judged by poppler (pdftotext, pdffonts) and qpdf.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dio_text.h"
#include "interp_fixture.h"
#include "kvng.h"
#include "pdf_fixture.h"
#include "text_fixture.h"
#include "tools.h"

namespace {

using monotest::GlyphRun;

struct Word {
  std::string text;
  double xMin, yMin, xMax, yMax;
};

// The words pdftotext -bbox finds on the first page, in points from the top left.
std::vector<Word> bbox_words(const monotest::TempDir& dir, const std::string& pdf) {
  const std::string html = dir.file("words.html");
  const auto r = monotest::run_tool("pdftotext -bbox -f 1 -l 1 " + monotest::shell_quote(pdf) + " " +
                                    monotest::shell_quote(html));
  EXPECT_EQ(r.exit_code, 0);
  std::vector<Word> words;
  const std::string text = monotest::read_file(html);
  size_t at = 0;
  while ((at = text.find("<word ", at)) != std::string::npos) {
    Word w{};
    const size_t close = text.find('>', at);
    const size_t end = text.find("</word>", close);
    std::sscanf(text.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &w.xMin, &w.yMin,
                &w.xMax, &w.yMax);
    w.text = text.substr(close + 1, end - close - 1);
    words.push_back(w);
    at = end;
  }
  return words;
}

class TextPdfTest : public monotest::InterpTest {
 protected:
  // A page of width by height pixels at res dpi with one text layer of the kind holding text;
  // addxilText's answer goes to *written.
  std::string write_page(const std::string& name, int kind, const std::string& text, int* written,
                         double res = 300.0, int width = 2550, int height = 3300) {
    const std::string path = dir.file(name);
    int32_t error = 0;
    PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
    EXPECT_NE(doc, nullptr);
    if (!doc) return path;
    PDFObj* page = PDFAddPage(doc);
    const double wpt = std::floor(width * 72.0 / (res > 0 ? res : 300.0) + 0.5);
    const double hpt = std::floor(height * 72.0 / (res > 0 ? res : 300.0) + 0.5);
    PDFPageAddMediaBox(doc, page, 0, 0, wpt, hpt);
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    elf_QELIMAGE* im = qelImage(image);
    im->width = width;
    im->height = height;
    im->xres = res;
    im->yres = res;
    elf_object* layer = QELNewTextLayer(state, kind, text.data(), text.size(), width, height, res, res);
    EXPECT_EQ(QELAppendLayer(image, "text:QELLAYER", layer), 0);
    *written = addxilText(image, layer, doc, page, 1);
    EXPECT_EQ(PDFPageClose(doc, page), 1);
    EXPECT_EQ(PDFCloseFile(doc, 1), 1);
    elfDiscard(image);
    return path;
  }

  monotest::TempDir dir;
};

TEST_F(TextPdfTest, WordsAreFoundAtTheirBoxes) {
  // Sans, serif and monospaced faces, plain and bold italic, on three lines of a 300-dpi page.
  const std::vector<GlyphRun> runs = {
      {300, 420, 600, 60, 0, "Searchable"}, {780, 300, 600, 60, 0, "scans"},
      {300, 520, 900, 90, 7, "Typewritten"}, {300, 380, 1200, 40, 8, "monospace"},
      {1400, 700, 1200, 40, 4, "Quarterly"},
  };
  int written = 0;
  const std::string pdf = write_page("words.pdf", QEL_TEXT_XML, monotest::text_layer_xml(runs), &written);
  ASSERT_EQ(written, 1) << messages;
  EXPECT_EQ(monotest::run_tool("qpdf --check " + monotest::shell_quote(pdf) + " >/dev/null").exit_code, 0);
  const std::vector<Word> words = bbox_words(dir, pdf);
  ASSERT_EQ(words.size(), runs.size());
  for (const GlyphRun& r : runs) {
    const double k = 72.0 / 300.0;
    bool found = false;
    for (const Word& w : words) {
      if (w.text != r.str) continue;
      found = true;
      EXPECT_NEAR(w.xMin, r.x0 * k, 2.0) << r.str;
      EXPECT_NEAR(w.xMax, (r.x0 + r.xw) * k, 2.0) << r.str;
      EXPECT_NEAR(w.yMin, (r.yb - r.yh) * k, 2.0) << r.str;
      EXPECT_NEAR(w.yMax, r.yb * k, 2.0) << r.str;
    }
    EXPECT_TRUE(found) << r.str;
  }
}

}  // namespace
