#ifndef PDF_FIXTURE_H
#define PDF_FIXTURE_H

// Small PDF files for the back end's tests: objects given as text are put together and passed
// through qpdf, which writes the cross-reference table and lengths; and documents written through
// the PDF library and opened again to look at what it wrote.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvng.h"
#include "pdflib.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace monotest {

// A one-page document: obj 1 catalog, 2 pages, 3 page (pageEntries inside its dictionary),
// 4 content (content text), then extra objects numbered from 5. Streams among the extra objects
// are written as "<<dict>>stream\n...\nendstream" (their lengths are added); qpdf writes the
// cross-reference table and keeps the stream data as given.
inline std::string qpdf_document(const TempDir& dir, const std::string& name, const std::string& pageEntries,
                                 const std::string& content, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> objs = {
      "<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1>>",
      "<</Type/Page/Parent 2 0 R/Contents 4 0 R " + pageEntries + ">>",
      "<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream"};
  for (std::string o : extra) {
    const size_t start = o.find(">>stream\n");
    const size_t end = o.rfind("\nendstream");
    if (start != std::string::npos && end != std::string::npos && end >= start + 9) {
      o.insert(start, "/Length " + std::to_string(end - (start + 9)));
    }
    objs.push_back(o);
  }
  std::string text = "%PDF-1.5\n";
  for (size_t i = 0; i < objs.size(); ++i) text += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  text += "trailer\n<</Root 1 0 R/Size " + std::to_string(objs.size() + 1) + ">>\n%%EOF\n";
  const std::string raw = dir.file(name + ".raw");
  const std::string path = dir.file(name);
  write_file(raw, text);
  // qpdf exits 3 after repairing with warnings: the repaired file is what is wanted.
  const auto r = run_tool("qpdf --stream-data=preserve " + shell_quote(raw) + " " + shell_quote(path) + " 2>/dev/null");
  EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 3) << "qpdf could not repair " << name;
  return path;
}

// The marks poppler paints on page (1-based) of a document whose page is w by h points: rendered
// at ten pixels a point without smoothing, the centre of each block taken, dark as 1.
inline RefBitmap painted_marks(const TempDir& dir, const std::string& path, int page, int w, int h) {
  const std::string base = dir.file("painted" + std::to_string(page));
  const std::string n = std::to_string(page);
  const auto r = run_tool("pdftoppm -r 720 -gray -aa no -f " + n + " -l " + n + " -singlefile " + shell_quote(path) +
                          " " + shell_quote(base));
  EXPECT_EQ(r.exit_code, 0);
  const std::string pgm = read_file(base + ".pgm");
  RefBitmap marks(w, h);
  const size_t pixels = static_cast<size_t>(w) * 10 * static_cast<size_t>(h) * 10;
  if (pgm.size() < pixels) {
    ADD_FAILURE() << "page " << page << " is not " << w << " by " << h << " points";
    return marks;
  }
  const size_t start = pgm.size() - pixels;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const auto px = static_cast<uint8_t>(pgm[start + (static_cast<size_t>(y) * 10 + 5) * w * 10 + x * 10 + 5]);
      marks.set(x, y, px < 128);
    }
  }
  return marks;
}

// A document opened for reading, closed when the object goes.
class ReadDoc {
 public:
  explicit ReadDoc(const std::string& path, const char* password = nullptr) {
    doc_ = PDFOpenFilenameEx(path.c_str(), 'r', password, &error_);
  }
  ~ReadDoc() {
    if (doc_) PDFCloseFile(doc_, 0);
  }
  ReadDoc(const ReadDoc&) = delete;
  ReadDoc& operator=(const ReadDoc&) = delete;
  PDFDoc* get() const { return doc_; }
  int32_t error() const { return error_; }

  PDFObj* page(int32_t index) {
    int32_t n = 0;
    PDFObj** list = PDFGetPageList(doc_, &n);
    PDFObj* p = list && index < n ? list[index] : nullptr;
    kvng_internal_free(list);
    return p;
  }
  // An image XObject of page 0's resources.
  PDFObj* xobject(const char* name) {
    PDFObj* res = PDFGetDictEntry(doc_, page(0), "Resources");
    PDFObj* xo = res ? PDFGetDictEntry(doc_, res, "XObject") : nullptr;
    return xo ? PDFGetDictEntry(doc_, xo, name) : nullptr;
  }
  // An entry of an object's dictionary as PDF text, "" without one.
  std::string entry(PDFObj* obj, const char* key) {
    PDFObj* e = obj ? PDFGetDictEntry(doc_, obj, key) : nullptr;
    const char* text = e ? PDFObjectText(doc_, e) : nullptr;
    return text ? text : "";
  }

 private:
  PDFDoc* doc_ = nullptr;
  int32_t error_ = 0;
};

}  // namespace monotest

#endif
