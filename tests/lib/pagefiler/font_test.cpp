// FONTDIO objects: the type's members and text form, fonts read from PDF pages and written again.

#include <gtest/gtest.h>

#include <string>

#include "dio_fixture.h"
#include "dio_text.h"
#include "pdf_fixture.h"
#include "tools.h"

namespace {

class FontDioTest : public monotest::DocTest {
 protected:
  std::string member(elf_object* font, const char* name) {
    EXPECT_EQ(call(font, name), 0) << status_message();
    const char* text = nullptr;
    EXPECT_TRUE(lstScanArgs(result, "name:s", LST_REQUIRED, &text, LST_END));
    return text ? text : "";
  }

  // The fonts of page 0 of a document, fetched into a LIST.
  elf_object* fetch(const std::string& pdf, int* ok) {
    monotest::ReadDoc doc(pdf);
    elf_object* list = nullptr;
    *ok = __fontDioFetchFonts(state, doc.get(), doc.page(0), &list);
    return list;
  }

  monotest::TempDir dir;
};

const std::string long_name(300, 'L');

// Page resources naming two fonts: F1 with an encoding whose Differences lack a BaseEncoding, a
// Flate-coded ToUnicode and widths; F2 with a BaseFont longer than any fixed field would hold.
std::string two_fonts(const monotest::TempDir& dir) {
  return monotest::qpdf_document(
      dir, "fonts.pdf", "/Resources <</Font <</F1 5 0 R /F2 6 0 R>>>>", "BT /F1 12 Tf (x) Tj ET",
      {"<</Type/Font/Subtype/Type1/BaseFont/Helvetica/FirstChar 65/LastChar 67/Widths[500 600.7 700]"
       "/Encoding<</Type/Encoding/Differences[65/Aacute 66/Bcircle]>>/ToUnicode 7 0 R>>",
       "<</Type/Font/Subtype/TrueType/BaseFont/" + long_name + "/Encoding/WinAnsiEncoding>>",
       "<</Filter/FlateDecode>>stream\n" + std::string("x\x9c\x03\x00\x00\x00\x00\x01", 8) + "\nendstream"});
}

TEST_F(FontDioTest, NewObjectsAnswerWithTheDefaultRecord) {
  elf_object* font = new_FONTDIO(state, nullptr, nullptr);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(member(font, "getName"), "unnamed font");
  EXPECT_EQ(member(font, "getSrcID"), "unknown source");
  // Without a method name the dispatcher fails; another name answers nothing.
  clearStatus(state);
  EXPECT_EQ(FontDioMethods(font, nullptr, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "FontDioMethods:Internal Object Error - No such method\n");
  elf_object* args = lstBuildArgs(state, "CALL_NAME:s", "other", 0, LST_END);
  elf_object* none = nullptr;
  EXPECT_EQ(FontDioMethods(font, args, &none), 0);
  EXPECT_EQ(none, nullptr);
  elfDiscard(args);
  // A record that fails the tag check counts as none.
  dioFontDio(font)->record->magic = 0;
  EXPECT_EQ(member(font, "getName"), "no font available");
  dioFontDio(font)->record->magic = FONTDIO_MAGIC;
  elfDiscard(font);
}

TEST_F(FontDioTest, FetchedFontsKeepTheirDictionaries) {
  int ok = 0;
  elf_object* list = fetch(two_fonts(dir), &ok);
  ASSERT_EQ(ok, 1) << engine_messages;
  ASSERT_EQ(elflistLength(list), 2);
  const FontDioRecord* f1 = dioFontDio(elfIdentValue(elflistItem(list, 0)))->record;
  const FontDioRecord* f2 = dioFontDio(elfIdentValue(elflistItem(list, 1)))->record;
  EXPECT_STREQ(reinterpret_cast<elf_IDENT*>(elflistItem(list, 0))->name, "F1");
  EXPECT_STREQ(f1->name, "F1");
  EXPECT_STREQ(f1->sourceId, "F5_0_needPDFid");
  EXPECT_STREQ(f1->baseFont, "Helvetica");
  EXPECT_STREQ(f1->subtype, "Type1");
  EXPECT_EQ(f1->firstChar, 65);
  EXPECT_EQ(f1->lastChar, 67);
  EXPECT_EQ(f1->encoding, nullptr);  // Differences without a BaseEncoding are dropped
  ASSERT_NE(f1->toUnicode, nullptr);
  EXPECT_EQ(f1->toUnicode->flate, 1);
  EXPECT_EQ(f1->toUnicode->length, 8);
  ASSERT_NE(f1->widths, nullptr);
  ASSERT_EQ(f1->widths->count, 3);
  EXPECT_EQ(f1->widths->widths[1], 600);
  EXPECT_EQ(std::string(f2->baseFont), long_name);
  ASSERT_NE(f2->encoding, nullptr);
  EXPECT_STREQ(f2->encoding->baseEncoding, "WinAnsiEncoding");
  EXPECT_EQ(f2->firstChar, -1);

  // A deep copy stands on its own; the text form leaves the record out.
  elf_object* copy = copy_FONTDIO(elfIdentValue(elflistItem(list, 0)));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(member(copy, "getSrcID"), "F5_0_needPDFid");
  EXPECT_NE(dioFontDio(copy)->record->widths->widths, f1->widths->widths);
  monotest::TextFile file;
  ASSERT_EQ(write_FONTDIO(copy, file.fd(), ""), 0);
  file.rewind();
  elf_object* back = read_FONTDIO(state, file.fd());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(member(back, "getName"), "unnamed font");
  EXPECT_EQ(member(back, "getSrcID"), "unknown source");
  EXPECT_EQ(equal_FONTDIO(copy, back), 1);
  elfDiscard(back);
  elfDiscard(copy);
  elfDiscard(list);
}

TEST_F(FontDioTest, PagesWithoutFontsOrWithBrokenOnes) {
  const struct {
    const char* entries;
    std::vector<std::string> extra;
    int ok;
  } cases[] = {
      {"", {}, 1},
      {"/Resources <</XObject <<>>>>", {}, 1},
      {"/Resources <</Font <</F1 5 0 R>>>>", {"<</Subtype/Type1/BaseFont/Helvetica>>"}, 0},
  };
  for (const auto& c : cases) {
    const std::string pdf = monotest::qpdf_document(dir, "case.pdf", c.entries, "", c.extra);
    elf_object* list = new_LIST(state, nullptr, nullptr);
    elfRefUp(list);
    monotest::ReadDoc doc(pdf);
    elf_object* inout = list;
    EXPECT_EQ(__fontDioFetchFonts(state, doc.get(), doc.page(0), &inout), c.ok) << c.entries;
    EXPECT_EQ(inout, list);
    EXPECT_EQ(elflistLength(list), 0);
    elfRefDown(list);
  }
}

TEST_F(FontDioTest, PushedFontsAreWrittenOncePerSource) {
  int ok = 0;
  elf_object* list = fetch(two_fonts(dir), &ok);
  ASSERT_EQ(ok, 1);
  const std::string out = dir.file("pushed.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(out.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  for (int p = 0; p < 2; ++p) {
    PDFObj* page = PDFAddPage(doc);
    PDFPageAddMediaBox(doc, page, 0, 0, 200, 200);
    for (int32_t i = 0; i < 2; ++i) {
      int32_t done = 0;
      EXPECT_EQ(__fontDioPushFont(nullptr, doc, page, i, list, &done), 1) << PDFErrorText(doc);
      EXPECT_EQ(done, 1);
    }
    PDFPageAddContentString(doc, page, "BT /F1 12 Tf 10 10 Td (ABC) Tj ET");
    PDFPageClose(doc, page);
  }
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
  elfDiscard(list);
  EXPECT_EQ(monotest::run_tool("qpdf --check " + monotest::shell_quote(out) + " >/dev/null").exit_code, 0);

  monotest::ReadDoc back(out);
  int32_t number[2][2] = {};
  for (int p = 0; p < 2; ++p) {
    PDFObj* fonts = PDFGetDictEntry(back.get(), PDFGetDictEntry(back.get(), back.page(p), "Resources"), "Font");
    ASSERT_NE(fonts, nullptr);
    number[p][0] = PDFGetObjectNumber(back.get(), PDFGetDictEntry(back.get(), fonts, "F1"), nullptr);
    number[p][1] = PDFGetObjectNumber(back.get(), PDFGetDictEntry(back.get(), fonts, "F2"), nullptr);
  }
  EXPECT_NE(number[0][0], 0);
  EXPECT_EQ(number[0][0], number[1][0]);
  EXPECT_EQ(number[0][1], number[1][1]);
  PDFObj* fonts = PDFGetDictEntry(back.get(), PDFGetDictEntry(back.get(), back.page(0), "Resources"), "Font");
  PDFObj* f1 = PDFGetDictEntry(back.get(), fonts, "F1");
  PDFObj* widths = PDFGetDictEntry(back.get(), f1, "Widths");
  ASSERT_EQ(PDFGetArrayCount(back.get(), widths), 3);
  int32_t w = 0;
  EXPECT_TRUE(PDFGetInteger(back.get(), PDFGetArrayObject(back.get(), widths, 1), &w));
  EXPECT_EQ(w, 600);
  EXPECT_EQ(back.entry(f1, "FirstChar"), "65");
  EXPECT_EQ(back.entry(f1, "Encoding"), "");
  EXPECT_EQ(back.entry(PDFGetDictEntry(back.get(), fonts, "F2"), "BaseFont"), "/" + long_name);
  // The ToUnicode bytes went in as they were stored: Flate data that inflates to nothing.
  KVngSB* data = PDFGetStreamData(back.get(), PDFGetDictEntry(back.get(), f1, "ToUnicode"));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(KVngSBBytesAvailable(data), 0u);
}

}  // namespace
