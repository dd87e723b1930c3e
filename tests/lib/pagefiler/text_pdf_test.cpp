// Text layers written into PDF pages, judged by poppler (pdftotext, pdffonts) and qpdf.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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
                         double res = 300.0, int width = 2550, int height = 3300,
                         const std::function<void(elf_object* image, elf_object* layer)>& decorate = nullptr) {
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
    if (decorate) decorate(image, layer);
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

// The page's font resources by name: their dictionaries' entries as "/Key value " text.
std::map<std::string, std::string> page_fonts(const std::string& pdf) {
  monotest::ReadDoc doc(pdf);
  std::map<std::string, std::string> fonts;
  PDFObj* res = PDFGetDictEntry(doc.get(), doc.page(0), "Resources");
  PDFObj* font = res ? PDFGetDictEntry(doc.get(), res, "Font") : nullptr;
  for (int32_t i = 0; font && i < PDFGetDictCount(doc.get(), font); ++i) {
    const std::string key = PDFGetDictKey(doc.get(), font, i);
    PDFObj* dict = PDFGetDictEntry(doc.get(), font, key.c_str());
    std::string text;
    for (int32_t k = 0; k < PDFGetDictCount(doc.get(), dict); ++k) {
      const std::string entry = PDFGetDictKey(doc.get(), dict, k);
      text += "/" + entry + " " + doc.entry(dict, entry.c_str()) + " ";
    }
    fonts[key] = text;
  }
  return fonts;
}

std::string page_text(const std::string& pdf) {
  return monotest::run_tool("pdftotext -layout " + monotest::shell_quote(pdf) + " -").output;
}

TEST_F(TextPdfTest, AccentedTextKeepsItsCharactersAndFonts) {
  // Latin-1 text is written in WinAnsi fonts; Latin-2 letters need the face's own encoding with
  // widths and a ToUnicode map, in a font of their own even inside one run.
  const std::vector<GlyphRun> runs = {
      {300, 700, 600, 60, 0, "Café déjà naïve Straße"},
      {300, 700, 900, 60, 3, "Łódź żółć Černá"},
  };
  int written = 0;
  const std::string pdf = write_page("accents.pdf", QEL_TEXT_XML, monotest::text_layer_xml(runs), &written);
  ASSERT_EQ(written, 1) << messages;
  const std::string text = page_text(pdf);
  EXPECT_NE(text.find("Café déjà naïve Straße"), std::string::npos) << text;
  EXPECT_NE(text.find("Łódź żółć Černá"), std::string::npos) << text;

  // Index = set * 16 + face: Helvetica in Latin-1 (0x10), Helvetica-BoldOblique in Latin-2
  // (0x23), which also holds the run's "ó".
  const auto fonts = page_fonts(pdf);
  ASSERT_EQ(fonts.size(), 2u);
  EXPECT_NE(fonts.at("F10").find("/Encoding /WinAnsiEncoding"), std::string::npos) << fonts.at("F10");
  EXPECT_EQ(fonts.at("F10").find("/Widths"), std::string::npos);
  const std::string& latin2 = fonts.at("F23");
  EXPECT_NE(latin2.find("/FirstChar 32"), std::string::npos) << latin2;
  EXPECT_NE(latin2.find("/LastChar 255"), std::string::npos);
  EXPECT_NE(latin2.find("/ToUnicode"), std::string::npos);
  EXPECT_EQ(latin2.find("/Encoding"), std::string::npos);
  EXPECT_NE(latin2.find("/BaseFont /Helvetica-BoldOblique"), std::string::npos);

  // pdffonts: name, type, encoding, embedded, subset, ToUnicode.
  const std::string listing = monotest::run_tool("pdffonts " + monotest::shell_quote(pdf)).output;
  std::istringstream lines(listing);
  std::string line;
  int winansi = 0, unicode = 0;
  while (std::getline(lines, line)) {
    if (line.find("Helvetica") != 0) continue;
    std::istringstream f(line);
    std::string name, type, enc, emb, sub, uni;
    f >> name >> type >> enc >> emb >> sub >> uni;
    EXPECT_EQ(type, "Type") << line;  // "Type 1"
    if (enc == "1") f >> emb;  // the type was two words: shift
    winansi += line.find("WinAnsi") != std::string::npos;
    unicode += line.find(" yes ") != std::string::npos && line.find("WinAnsi") == std::string::npos;
  }
  EXPECT_EQ(winansi, 1) << listing;
  EXPECT_EQ(unicode, 1) << listing;
}

TEST_F(TextPdfTest, FontsAreNamedByIndexInIndexOrder) {
  // A run in the Latin-2 set of face 3 (index 0x23) before one in the Latin-1 set of face 8
  // (0x18): each font once, named by its index.
  const std::vector<GlyphRun> runs = {
      {300, 400, 600, 60, 3, "Łza"}, {300, 400, 900, 60, 8, "mono"}, {800, 400, 900, 60, 8, "again"}};
  int written = 0;
  const std::string pdf = write_page("order.pdf", QEL_TEXT_XML, monotest::text_layer_xml(runs), &written);
  ASSERT_EQ(written, 1);
  const auto fonts = page_fonts(pdf);
  ASSERT_EQ(fonts.size(), 2u);
  EXPECT_TRUE(fonts.count("F18") && fonts.count("F23"));
  EXPECT_NE(fonts.at("F18").find("/BaseFont /Courier"), std::string::npos);
  EXPECT_NE(fonts.at("F23").find("/Name /F23"), std::string::npos);
}

TEST_F(TextPdfTest, TextKindsThatPdfCannotCarryAreSkipped) {
  const struct {
    int kind;
    const char* message;
  } cases[] = {
      {QEL_TEXT_PLAIN, "Unable to pass plain text data to PDF, skipping embedded plain text\n"},
      {QEL_TEXT_XPS, "Unable to pass XPS text data to PDF, skipping embedded XPS text\n"},
      {9, ""},
  };
  for (const auto& c : cases) {
    messages.clear();
    int written = 0;
    const std::string pdf = write_page("skip.pdf", c.kind, "Some words", &written);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(messages, c.message);
    EXPECT_EQ(page_text(pdf).find("words"), std::string::npos);
    EXPECT_TRUE(page_fonts(pdf).empty());
  }
}

TEST_F(TextPdfTest, MalformedXmlPutsNothingIntoThePage) {
  const char* cases[] = {
      "<Page><Glyphs x0=\"1\" xw=\"2\" yb=\"3\" yh=\"4\" famStyle=\"0\" str=\"ok\"/><Glyphs x0=\"5\"/></Page>",
      "<Page><Glyphs x0=\"1\"",
      "<!DOCTYPE Page [<!ENTITY e \"x\">]><Page><Glyphs x0=\"1\" xw=\"2\" yb=\"3\" yh=\"4\" famStyle=\"0\" str=\"&e;\"/></Page>",
  };
  for (const char* xml : cases) {
    messages.clear();
    int written = -5;
    const std::string pdf = write_page("bad.pdf", QEL_TEXT_XML, xml, &written);
    EXPECT_EQ(written, 0) << xml;
    EXPECT_FALSE(messages.empty());
    EXPECT_TRUE(page_fonts(pdf).empty()) << xml;
    EXPECT_EQ(page_text(pdf).find("ok"), std::string::npos);
  }
}

TEST_F(TextPdfTest, PdfOperatorTextIsCopiedWithOrWithoutAFontList) {
  int written = 0;
  const std::string ops = "BT /F1 24 Tf 72 700 Td (Kept as written) Tj ET";
  // Without "_PDFFontList" the operators still go in; with one, its fonts become standard fonts.
  std::string pdf = write_page("ops.pdf", QEL_TEXT_PDF, ops, &written, 72.0, 612, 792);
  EXPECT_EQ(written, 1);
  EXPECT_TRUE(page_fonts(pdf).empty());
  EXPECT_NE(monotest::read_file(pdf).find("(Kept as written) Tj"), std::string::npos);
}

TEST_F(TextPdfTest, PdfOperatorTextBringsTheFontsItNames) {
  // F1 was read with the page (a FONTDIO with widths); F9 was not: it becomes a standard font.
  elf_object* font = new_FONTDIO(state, nullptr, nullptr);
  FontDioRecord* r = dioFontDio(font)->record;
  _elfFree(r->name);
  r->name = elfStrDup("F1");
  _elfFree(r->baseFont);
  r->baseFont = elfStrDup("Helvetica-Bold");
  _elfFree(r->subtype);
  r->subtype = elfStrDup("Type1");
  _elfFree(r->sourceId);
  r->sourceId = elfStrDup("F12_0_needPDFid");
  r->widths = static_cast<FontWidthsRecord*>(elfCalloc(1, sizeof(FontWidthsRecord)));
  r->widths->count = 1;
  r->widths->widths = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
  r->widths->widths[0] = 611;
  r->firstChar = r->lastChar = 65;
  const std::string ops = "BT /F1 24 Tf 72 700 Td (A) Tj /F9 12 Tf 0 -30 Td (Nine) Tj ET";
  int written = 0;
  const std::string pdf = write_page("fonts.pdf", QEL_TEXT_PDF, ops, &written, 72.0, 612, 792,
                                     [&](elf_object* image, elf_object* layer) {
                                       elf_object* resources = lstBuildArgs(state, "F1:FONTDIO", font, 0, LST_END);
                                       elf_object* attrs = lstBuildArgs(state, "_PDFFontResource:LIST", resources, 0,
                                                                        LST_END);
                                       ELF_ASSIGN(state, &qelImage(image)->attributes, attrs);
                                       elf_object* list = lstBuildArgs(state, "F1:s", "Helvetica-Bold", 0, "F9:s",
                                                                       "Times-Roman", 0, LST_END);
                                       elf_object* layerAttrs = lstBuildArgs(state, "_PDFFontList:LIST", list, 0,
                                                                             LST_END);
                                       ELF_ASSIGN(state, &qelLayer(layer)->attributes, layerAttrs);
                                     });
  EXPECT_EQ(written, 1);
  const auto fonts = page_fonts(pdf);
  ASSERT_EQ(fonts.size(), 2u);
  EXPECT_NE(fonts.at("F1").find("/BaseFont /Helvetica-Bold"), std::string::npos);
  EXPECT_NE(fonts.at("F1").find("/FirstChar 65"), std::string::npos) << fonts.at("F1");
  EXPECT_NE(fonts.at("F9").find("/BaseFont /Times-Roman"), std::string::npos);
  const std::string text = page_text(pdf);
  EXPECT_NE(text.find("A"), std::string::npos);
  EXPECT_NE(text.find("Nine"), std::string::npos) << text;
}

TEST_F(TextPdfTest, LayersPlacedInPointsCarryTheirRunsAlong) {
  // The page writer places a layer's box in points, upwards from the page's lower left corner:
  // the runs' page pixels follow the box, here the upper right quarter of the page.
  const std::vector<GlyphRun> runs = {{300, 420, 600, 60, 0, "Quarter"}};
  int written = 0;
  const std::string pdf = write_page("placed.pdf", QEL_TEXT_XML, monotest::text_layer_xml(runs), &written, 300.0,
                                     2550, 3300, [](elf_object*, elf_object* layer) {
                                       elf_QELLAYER* l = qelLayer(layer);
                                       l->x = 306;
                                       l->y = 396;
                                       l->width = 306;
                                       l->height = 396;
                                       l->xres = l->yres = 72.0;
                                     });
  ASSERT_EQ(written, 1) << messages;
  const std::vector<Word> words = bbox_words(dir, pdf);
  ASSERT_EQ(words.size(), 1u);
  const double k = 72.0 / 300.0 / 2.0;
  EXPECT_NEAR(words[0].xMin, 306 + 300 * k, 1.0);
  EXPECT_NEAR(words[0].xMax, 306 + 720 * k, 1.0);
  EXPECT_NEAR(words[0].yMin, 540 * k, 1.0);
  EXPECT_NEAR(words[0].yMax, 600 * k, 1.0);
}

TEST_F(TextPdfTest, APageWithoutResolutionConvertsAt300Dpi) {
  const std::vector<GlyphRun> runs = {{600, 600, 900, 100, 0, "Default"}};
  int written = 0;
  const std::string pdf = write_page("nores.pdf", QEL_TEXT_XML, monotest::text_layer_xml(runs), &written, 0.0);
  ASSERT_EQ(written, 1);
  const std::vector<Word> words = bbox_words(dir, pdf);
  ASSERT_EQ(words.size(), 1u);
  EXPECT_NEAR(words[0].xMin, 144.0, 2.0);
  EXPECT_NEAR(words[0].yMax, 216.0, 2.0);
}

}  // namespace
