// The content-operator trace: pieces by operand type, Q dropping what was gathered, hand-overs,
// traces of any length, and the trace of a real page parsed with the callbacks the page reader
// registers.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "dio_pdf.h"
#include "pdf_fixture.h"

namespace {

class PdfTrace : public monotest::DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    image = new_QELIMAGE(state, nullptr, nullptr);
    ASSERT_NE(image, nullptr);
  }
  void TearDown() override {
    elfDiscard(image);
    DocTest::TearDown();
  }

  // Reports one operator to the callback as the parser would.
  void report(const char* name, int32_t code, std::vector<PDFOperand> operands = {}) {
    PDFParser parser{};
    parser.operatorName = name;
    parser.operatorCode = code;
    parser.operandCount = static_cast<int32_t>(operands.size());
    parser.operands = operands.data();
    EXPECT_EQ(__EventPDF_OpCallback(nullptr, image, &parser), 1);
  }

  // The trace handed over, "<null>" for none.
  std::string take() {
    char* text = EventPDF_ToStringSinceMark(image);
    std::string s = text ? text : "<null>";
    kvng_internal_free(text);
    return s;
  }

  static PDFOperand integer(int32_t v) {
    PDFOperand o{};
    o.type = PDF_OBJ_INTEGER;
    o.intValue = v;
    o.realValue = v;
    return o;
  }
  static PDFOperand real(double v) {
    PDFOperand o{};
    o.type = PDF_OBJ_REAL;
    o.realValue = v;
    return o;
  }
  static PDFOperand text(int32_t type, const char* t) {
    PDFOperand o{};
    o.type = type;
    o.text = t;
    o.length = static_cast<int32_t>(std::strlen(t));
    return o;
  }

  elf_object* image = nullptr;
};

TEST_F(PdfTrace, OffUntilInitialized) {
  report("q", PDF_OP_q);
  EXPECT_EQ(take(), "<null>");
  EXPECT_EQ(qelImage(image)->attributes, nullptr);
  ASSERT_EQ(EventPDF_Initialize(image), 0);
  ASSERT_NE(qelImage(image)->attributes, nullptr);
  ASSERT_EQ(EventPDF_Initialize(image), 0);  // a second call adds no second holder
  EXPECT_EQ(elflistLength(qelImage(image)->attributes), 1);
  EXPECT_EQ(take(), "<null>");
}

TEST_F(PdfTrace, PiecesByOperandType) {
  ASSERT_EQ(EventPDF_Initialize(image), 0);
  report("cm", PDF_OP_cm, {integer(1), integer(0), integer(0), integer(1), integer(72), integer(72)});
  report("BT", PDF_OP_BT);
  EXPECT_EQ(take(), " 1 0 0 1 72 72 cm BT");
  EXPECT_EQ(take(), "<null>");  // nothing since the last hand-over

  PDFOperand boolean{};
  boolean.type = PDF_OBJ_BOOLEAN;
  boolean.intValue = 1;
  PDFOperand array{};
  array.type = PDF_OBJ_ARRAY;
  report("Tf", PDF_OP_Tf, {text(PDF_OBJ_NAME, "F1"), real(12.5)});
  report("Tj", PDF_OP_Tj, {text(PDF_OBJ_STRING, "Hello")});
  report("TJ", PDF_OP_TJ, {array});
  report("xx", PDF_OP_UNKNOWN, {boolean});
  EXPECT_EQ(take(), " F1 12.500000 Tf Hello Tj TJ 1 xx");
}

TEST_F(PdfTrace, RestoreDropsTheTraceUnlessFirst) {
  ASSERT_EQ(EventPDF_Initialize(image), 0);
  report("Q", PDF_OP_Q);
  EXPECT_EQ(take(), " Q");
  report("q", PDF_OP_q);
  report("cm", PDF_OP_cm, {integer(2), integer(0), integer(0), integer(2), integer(0), integer(0)});
  report("Q", PDF_OP_Q);
  EXPECT_EQ(take(), "<null>");
  report("q", PDF_OP_q);
  EXPECT_EQ(take(), " q");
}

// Thousands of operators between two hand-overs are all kept, in order.
TEST_F(PdfTrace, LongTracesAreKeptWhole) {
  ASSERT_EQ(EventPDF_Initialize(image), 0);
  std::string want;
  for (int i = 0; i < 3000; ++i) {
    report("cm", PDF_OP_cm, {integer(i), integer(0), integer(0), integer(1), real(0.5), integer(-i)});
    want += " " + std::to_string(i) + " 0 0 1 0.500000 " + std::to_string(-i) + " cm";
  }
  const std::string got = take();
  EXPECT_GT(got.size(), 1023u);
  EXPECT_EQ(got, want);
}

// An operand of a name longer than any fixed piece buffer is kept too.
TEST_F(PdfTrace, LongOperandsAreKeptWhole) {
  ASSERT_EQ(EventPDF_Initialize(image), 0);
  const std::string big(5000, 'n');
  report("Do", PDF_OP_Do, {text(PDF_OBJ_NAME, big.c_str())});
  EXPECT_EQ(take(), " " + big + " Do");
}

// The page reader's registrations: q, Q and cm traced while the page is parsed, forms included.
TEST_F(PdfTrace, TraceOfAParsedPage) {
  monotest::TempDir dir;
  monotest::require_tool("qpdf", "qpdf");
  monotest::ReadDoc rd(monotest::qpdf_document(
      dir, "page.pdf", "/MediaBox[0 0 200 200]/Resources<</XObject<</Fm 5 0 R>>>>",
      "q 1 0 0 1 72 72 cm q 2 0 0 2 0 0 cm Q 0.5 0 0 0.5 10 20 cm /Fm Do",
      {"<</Type/XObject/Subtype/Form/BBox[0 0 10 10]>>stream\nq 3 0 0 3 1 1 cm Q q\nendstream"}));
  ASSERT_NE(rd.get(), nullptr);
  for (int32_t code : {PDF_OP_q, PDF_OP_Q, PDF_OP_cm}) {
    ASSERT_EQ(PDFAddOperatorCallback(rd.get(), code, __EventPDF_OpCallback, image), 1);
  }
  auto run_form = [](PDFDoc* doc, void* page, PDFParser* parser) -> int {
    char* name = nullptr;
    int status = 1;
    name = PDFPopNameOperand(parser, &status);
    PDFObj* form = name && parser->xobjects ? PDFGetDictEntry(doc, parser->xobjects, name) : nullptr;
    kvng_internal_free(name);
    return form ? PDFExtractFormItems(doc, form, parser, static_cast<PDFObj*>(page)) : 0;
  };
  ASSERT_EQ(PDFRegisterOperatorCallback(rd.get(), PDF_OP_Do, run_form, rd.page(0)), 1);
  ASSERT_EQ(EventPDF_Initialize(image), 0);
  ASSERT_EQ(PDFExtractPageItems(rd.get(), 0, rd.page(0)), 1) << PDFErrorText(rd.get());
  // The inner Q dropped " q 1 0 0 1 72 72 cm q 2 0 0 2 0 0 cm"; the form's own Q dropped what
  // came after, and its last q started the trace again.
  EXPECT_EQ(take(), " q");
}

}  // namespace
