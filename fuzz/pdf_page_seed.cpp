// Writes the seed corpus of the PDF page target into the folder given: pages written by the PDF
// library with images under several filters, colour operators and saved states, a page with a
// form, an inline image and text, and documents of the PDF writer (through monodoc pdf).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pdflib.h"

namespace {

bool write_images(const std::string& path) {
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  if (!doc) return false;
  PDFObj* page = PDFAddPage(doc);
  PDFPageAddMediaBox(doc, page, 0, 0, 64, 64);
  std::vector<unsigned char> gray(16 * 16), bits(2 * 16);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>(i * 5);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<unsigned char>(i * 37);
  const int filters[] = {PDF_FILTER_FLATE, PDF_FILTER_LZW, PDF_FILTER_RUN_LENGTH, PDF_FILTER_DCT};
  for (int i = 0; i < 4; ++i) {
    PDFObj* img = PDFImageCreate(doc, page, ("Im" + std::to_string(i)).c_str(), 16, 16, 8);
    PDFSetImageColorSpace(doc, img, i == 3 ? PDF_CS_CAL_GRAY : PDF_CS_DEVICE_GRAY);
    PDFSetStreamFilter(doc, img, filters[i], nullptr);
    PDFAppendStream(doc, img, gray.data(), gray.size());
    PDFPageAddContents(doc, page, img, "rg", 10, 20, 30, "cm", 16.0, 0.0, 0.0, 16.0, 16.0 * i, 0.0, nullptr);
  }
  PDFObj* fax = PDFImageCreate(doc, page, "Fax", 16, 16, 1);
  PDFSetImageColorSpace(doc, fax, PDF_CS_DEVICE_GRAY);
  PDFSetStreamFilter(doc, fax, PDF_FILTER_CCITT, "K", -1, "Columns", 16, nullptr);
  PDFAppendStream(doc, fax, bits.data(), bits.size());
  PDFPageAddContents(doc, page, fax, "cm", 16.0, 0.0, 0.0, 16.0, 0.0, 32.0, nullptr);
  PDFPageClose(doc, page);
  return PDFCloseFile(doc, 1) == 1;
}

bool write_text(const std::string& path) {
  const std::string content =
      "q 2 0 0 2 0 0 cm /Fm Do Q BT /F1 12 Tf 1 0 0 1 5 5 Tm (x) Tj [(a) 5 (b)] TJ ET "
      "BI /W 2 /H 2 /BPC 8 /CS /G ID \x01\x02\x03\x04 EI 0.2 0.4 0.6 0.8 k /CS0 cs 0.5 0.5 0.5 sc";
  const std::string form = "q 1 0 0 1 3 3 cm 0 0 5 5 re f Q";
  std::string t = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                  "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                  "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 50 50]/Contents 4 0 R/Resources<</XObject"
                  "<</Fm 5 0 R>>/ColorSpace<</CS0[/CalRGB<</WhitePoint[1 1 1]>>]>>>>>>endobj\n";
  t += "4 0 obj<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream endobj\n";
  t += "5 0 obj<</Type/XObject/Subtype/Form/BBox[0 0 9 9]/Length " + std::to_string(form.size()) + ">>stream\n" +
       form + "\nendstream endobj\ntrailer<</Root 1 0 R/Size 6>>\n%%EOF\n";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(t.data(), 1, t.size(), f) == t.size();
  return std::fclose(f) == 0 && ok;
}

// JBIG2 pages as the back end writes them: page data precompressed under one globals stream, a
// second image against the same globals, and a rectangle clipped away.
bool write_jbig2(const std::string& path) {
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  if (!doc) return false;
  PDFObj* page = PDFAddPage(doc);
  PDFPageAddMediaBox(doc, page, 0, 0, 64, 64);
  // Bytes in the place of JBIG2 segments: the reader passes them through without decoding.
  const unsigned char globals[] = {0, 0, 0, 0, 0x3e, 0x01, 0x00, 0, 0, 0, 0x08, 0x20, 0, 0, 0, 'h', 'i', 0, 0};
  const unsigned char data[] = {0, 0, 0, 1, 0x30, 0x00, 0x01, 0, 0, 0, 0x13, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0x0b,
                                0xb8, 0, 0, 0x0b, 0xb8, 0x00, 0, 0, 0, 2, 0x26, 0x00, 0x01, 0, 0, 0, 0x16, 0,
                                0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x10, 0x01};
  PDFObj* g = PDFCreateStream(doc);
  PDFAppendPrecompressedStream(doc, g, globals, sizeof globals);
  const int32_t gnum = PDFGetObjectNumber(doc, g, nullptr);
  for (int i = 0; i < 2; ++i) {
    PDFObj* img = PDFImageCreate(doc, page, ("J" + std::to_string(i)).c_str(), 16, 16, 1);
    PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_GRAY);
    PDFSetStreamFilter(doc, img, PDF_FILTER_JBIG2, "JBIG2GlobalsRef", gnum, nullptr);
    PDFAppendPrecompressedStream(doc, img, data, sizeof data);
    PDFPageAddContents(doc, page, img, "cm", 32.0, 0.0, 0.0, 32.0, 32.0 * i, 0.0, nullptr);
  }
  PDFPageAddContentString(doc, page, "0 0 1 rg 1 1 5 5 re f 2 2 3 3 re W n");
  PDFPageClose(doc, page);
  return PDFCloseFile(doc, 1) == 1;
}

// What the document writer itself makes, through monodoc pdf: JBIG2 pages coded by the engine
// under shared globals with text-layer XML over them (invisible text, standard fonts with widths
// and ToUnicode maps), and that file read and written again (JBIG2 data passed through, the text
// as PDF operators with the fonts the reader kept).
bool write_with_writer(const std::string& dir) {
  std::string page = "P4\n64 48\n";
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 8; ++x) page += static_cast<char>((y / 6 + x) % 3 == 0 ? 0x7e : (y % 12 < 6 ? 0x18 : 0));
  }
  const std::string xml = "<Page><Glyphs x0=\"4\" xw=\"40\" yb=\"20\" yh=\"10\" famStyle=\"1\" str=\"(a) \\ b\"/>"
                          "<Glyphs x0=\"4\" xw=\"30\" yb=\"40\" yh=\"10\" famStyle=\"4\" str=\"\xC5\x81\xC3\xB3"
                          "d\xC5\xBA\"/></Page>";
  auto put = [&dir](const char* name, const std::string& text) {
    FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
  };
  if (!put("page.pbm", page) || !put("page.xml", xml)) return false;
  const std::string cd = "cd '" + dir + "' && ";
  const std::string monodoc = std::string("'") + MONODOC_BIN + "' pdf --test ";
  const bool ok = std::system((cd + monodoc + "--text page.xml --text page.xml -o writer.pdf page.pbm page.pbm"
                               " > /dev/null && " + monodoc + "-o rewritten.pdf writer.pdf > /dev/null")
                                  .c_str()) == 0;
  std::remove((dir + "/page.pbm").c_str());
  std::remove((dir + "/page.xml").c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  return write_images(dir + "/images.pdf") && write_text(dir + "/text.pdf") && write_jbig2(dir + "/jbig2.pdf") &&
                 write_with_writer(dir)
             ? 0
             : 1;
}
