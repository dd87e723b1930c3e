// The PDF library's reading side over arbitrary bytes: opening, the page list, every page's
// content run through the parser with its graphics state, forms run in place, image streams
// described and decoded, operands popped; then the back end's page reader makes each page a page
// image with its layers and text. Damaged input is refused or read; nothing else.

#include <cstdint>

#include "kvng.h"
#include "kvng_print.h"
#include "pdf_read.h"
#include "pdflib.h"

namespace {

void quiet(void*, int, const char*) {}

int on_do(PDFDoc* doc, void* depth, PDFParser* parser) {
  int status = 1;
  char* name = PDFPopNameOperand(parser, &status);
  PDFObj* xo = name && parser->xobjects ? PDFGetDictEntry(doc, parser->xobjects, name) : nullptr;
  kvng_internal_free(name);
  if (!xo) return 1;
  PDFObj* subtype = PDFGetDictEntry(doc, xo, "Subtype");
  if (subtype && PDFStringTestCString(doc, subtype, "Form")) {
    int* d = static_cast<int*>(depth);
    if (*d >= 4) return 1;
    ++*d;
    PDFExtractFormItems(doc, xo, parser, parser->page);
    --*d;
    return 1;
  }
  if (PDFImage* image = PDFStreamToImage(doc, xo)) {
    double decode[32];
    PDFImageGetDecode(doc, image, decode, 32);
    PDFGetImageJBIG2Globals(doc, image);
    PDFGetStreamData(doc, image->stream);
    PDFGetCompressedStreamData(doc, image->stream);
  }
  return 1;
}

int on_color(PDFDoc*, void*, PDFParser* parser) {
  int status = 1;
  while (parser->operandCount > 0 && status) PDFPopRealOperand(parser, &status);
  return PDFPopOperandStack(parser);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static elf_state* state = [] {
    KVngSetPrinter(quiet, nullptr);
    elf_state* s = initState(nullptr, "pdf_page_fuzz");
    if (s) s->print = [](void*, const char*) {};
    return s;
  }();
  int32_t error = 0;
  PDFDoc* doc = PDFOpenMemoryEx(data, size, nullptr, &error);
  if (!doc) return 0;
  int32_t count = 0;
  PDFObj** pages = PDFGetPageList(doc, &count);
  for (int32_t i = 0; pages && i < count && i < 4; ++i) {
    int depth = 0;
    PDFRegisterOperatorCallback(doc, PDF_OP_Do, on_do, &depth);
    PDFRegisterOperatorCallback(doc, PDF_OP_sc, on_color, nullptr);
    PDFRegisterOperatorCallback(doc, PDF_OP_scn, on_color, nullptr);
    PDFGetPgMediaBox(doc, pages[i]);
    PDFExtractPageItems(doc, i, pages[i]);
  }
  // The page reader over the same pages, as a reader object would run it.
  PdfDocState backend{};
  backend.tag1 = PDF_STATE_TAG1;
  backend.tag2 = PDF_STATE_TAG2;
  backend.doc = doc;
  backend.pageList = pages;
  backend.pageCount = count;
  for (int32_t i = 0; state && pages && i < count && i < 4; ++i) {
    elfDiscard(pdfPageDict2QELImage(state, &backend, i, pages[i]));
    clearStatus(state);
  }
  kvng_internal_free(pages);
  PDFCloseFile(doc, 0);
  return 0;
}
