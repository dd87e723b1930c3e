// The PDF reader through MakeDocReader and getPage, on documents made with qpdf, Ghostscript and
// img2pdf: page boxes, image layers as pdfimages -list sees them, rectangles and clipping, masks,
// JBIG2 data and globals kept byte for byte, forms, text objects passed through as operators
// that pdftotext reads back, encryption, decompression bombs and repaired damage.

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "pdf_fixture.h"
#include "pdf_read.h"
#include "sanitizer_size.h"

namespace {

using monotest::qpdf_document;
using monotest::read_file;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

// Flate data of n zero bytes, made a megabyte at a time so no n-byte buffer is needed.
std::string flate_zeros(size_t n) {
  z_stream z{};
  deflateInit(&z, 9);
  std::string out;
  std::vector<unsigned char> zeros(1 << 20), buf(1 << 16);
  size_t left = n;
  int flush = Z_NO_FLUSH;
  do {
    const size_t chunk = left < zeros.size() ? left : zeros.size();
    left -= chunk;
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(chunk);
    do {
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      deflate(&z, flush);
      out.append(reinterpret_cast<char*>(buf.data()), buf.size() - z.avail_out);
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&z);
  return out;
}

std::string image_object(int w, int h, const std::string& extra, const std::string& data) {
  return "<</Type/XObject/Subtype/Image/Width " + std::to_string(w) + "/Height " + std::to_string(h) + extra +
         ">>stream\n" + data + "\nendstream";
}

class PdfReadTest : public monotest::DocTest {
 protected:
  // Page n of path as a page image held by the test (null with the status kept).
  elf_object* page(const std::string& path, int32_t n = 1, const char* password = nullptr) {
    elf_object* args = password ? lstBuildArgs(state, "filename:s", path.c_str(), 0, "password:s", password, 0, LST_END)
                                : lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END);
    elfRefUp(args);
    const int made = call_context(MakeDocReader, args);
    elfRefDown(args);
    elf_object* reader = nullptr;
    if (made != QEL_STATUS_OK || lstScanArgs(result, "docrd:DOCUMENTREADER", LST_REQUIRED, &reader, LST_END) != 1) {
      return nullptr;
    }
    elfRefUp(reader);
    elf_object* pg = lstBuildArgs(state, "pgnum:i", n, 0, LST_END);
    elfRefUp(pg);
    const int got = call(reader, "getPage", pg);
    elfRefDown(pg);
    elf_object* image = nullptr;
    if (got == QEL_STATUS_OK) lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &image, LST_END);
    if (image) images.push_back(image), elfRefUp(image);
    last_status = getStatusMessage(state);
    elfDiscard(result);
    result = nullptr;
    elfRefDown(reader);
    return image;
  }
  void TearDown() override {
    for (elf_object* i : images) elfRefDown(i);
    monotest::DocTest::TearDown();
  }
  static elf_QELLAYER* layer(elf_object* image, int32_t i) { return qelLayer(QELGetLayer(image, i)); }
  static std::vector<int32_t> kinds(elf_object* image) {
    std::vector<int32_t> k;
    for (int32_t i = 0; i < qelImage(image)->layerCount; ++i) k.push_back(layer(image, i)->kind);
    return k;
  }
  static std::string data(elf_QELLAYER* l) {
    auto* p = reinterpret_cast<elf_POINTER*>(l->data);
    return p ? std::string(static_cast<const char*>(p->data), p->length) : std::string();
  }
  // The colour attributes of a layer: its photometric value, then the components.
  static std::vector<int32_t> colour(elf_QELLAYER* l) {
    elf_object* list = nullptr;
    int32_t photometric = -1;
    std::vector<int32_t> v;
    if (!l->attributes || lstScanArgs(l->attributes, PDF_LAYER_COLOR ":LIST", LST_REQUIRED, &list,
                                      PDF_LAYER_COLOR_PHOTOMETRIC ":i", LST_REQUIRED, &photometric, LST_END) != 1) {
      return v;
    }
    v.push_back(photometric);
    for (int32_t i = 0; i < elflistLength(list); ++i) {
      v.push_back(reinterpret_cast<elf_INTEGER*>(elfIdentValue(elflistItem(list, i)))->value);
    }
    return v;
  }

  TempDir dir;
  std::vector<elf_object*> images;
  std::string last_status;
};

TEST_F(PdfReadTest, PageBoxesGiveTheSizeWhereverTheBoxSits) {
  struct Case {
    const char* entries;
    int32_t width, height;
    std::vector<double> raw;
  };
  const Case cases[] = {
      {"/MediaBox[0 0 612 792]", 612, 792, {0, 0, 612, 792}},
      {"/MediaBox[100 200 712 992]", 612, 792, {100, 200, 712, 992}},
      {"/MediaBox[0 0 612 792]/CropBox[10 20 310 420]", 300, 400, {10, 20, 310, 420}},
      {"/MediaBox[0 0 0 0]", -1, -1, {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = qpdf_document(dir, "box" + std::to_string(n++) + ".pdf", c.entries, "");
    elf_object* img = page(path);
    if (c.width < 0) {
      EXPECT_EQ(img, nullptr) << c.entries;
      EXPECT_NE(last_status.find("PDFReadGetPage: Read failed for page 1."), std::string::npos) << last_status;
      continue;
    }
    ASSERT_NE(img, nullptr) << c.entries << ": " << last_status;
    EXPECT_EQ(qelImage(img)->width, c.width) << c.entries;
    EXPECT_EQ(qelImage(img)->height, c.height) << c.entries;
    EXPECT_EQ(qelImage(img)->xres, 72.0);
    elf_object* box = nullptr;
    ASSERT_EQ(lstScanArgs(qelImage(img)->attributes, PDF_ATTR_MEDIABOX ":LIST", LST_REQUIRED, &box, LST_END), 1);
    std::vector<double> raw;
    for (int32_t i = 0; i < elflistLength(box); ++i) {
      raw.push_back(reinterpret_cast<elf_DOUBLE*>(elfIdentValue(elflistItem(box, i)))->value);
    }
    EXPECT_EQ(raw, c.raw) << c.entries;
  }
}

// What pdfimages -list reports of page 1: type, width, height, bpc, x-ppi, y-ppi, enc.
struct Listed {
  std::string type, enc;
  int width, height, bpc, xppi, yppi;
};
std::vector<Listed> list_images(const std::string& path) {
  const auto r = run_tool("pdfimages -f 1 -l 1 -list " + shell_quote(path));
  std::istringstream in(r.output);
  std::string line;
  std::vector<Listed> rows;
  std::getline(in, line);
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    Listed l{};
    std::string pageNo, num, color, comp, interp, object, id, size, ratio;
    f >> pageNo >> num >> l.type >> l.width >> l.height >> color >> comp >> l.bpc >> l.enc >> interp >> object >> id >>
        l.xppi >> l.yppi;
    rows.push_back(l);
  }
  return rows;
}

TEST_F(PdfReadTest, ImagesOfOtherWritersAreReadAsPdfimagesListsThem) {
  monotest::require_tool("img2pdf", "img2pdf");
  const std::string sh = "cd " + shell_quote(dir.path()) + " && ";
  // A 300-dpi scan in G4, a grey Flate image at 150 dpi, a JPEG, and Ghostscript's own image.
  ASSERT_EQ(run_tool(sh +
                     "pbmmake -gray 2550 3300 | pnmtotiff -g4 -xresolution 300 -yresolution 300 > g4.tif && "
                     "img2pdf --output g4.pdf g4.tif && "
                     "pgmramp -lr 300 200 | pnmtopng > gray.png && img2pdf --imgsize 150dpix150dpi "
                     "--output gray.pdf gray.png && "
                     "pgmramp -diag 120 80 | pnmtojpeg > ramp.jpg && img2pdf --output jpeg.pdf ramp.jpg && "
                     "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=gs.pdf g4.pdf")
                .exit_code,
            0);
  struct Case {
    const char* file;
    int32_t kind, compression;
  };
  const Case cases[] = {{"g4.pdf", QEL_KIND_BILEVEL, QEL_COMPRESSION_G4},
                        {"gray.pdf", QEL_KIND_IMAGE, QEL_COMPRESSION_DEFLATE},
                        {"jpeg.pdf", QEL_KIND_IMAGE, QEL_COMPRESSION_JPEG},
                        {"gs.pdf", QEL_KIND_BILEVEL, -1}};
  for (const Case& c : cases) {
    const std::string path = dir.file(c.file);
    const std::vector<Listed> listed = list_images(path);
    ASSERT_EQ(listed.size(), 1u) << c.file;
    elf_object* img = page(path);
    ASSERT_NE(img, nullptr) << c.file << ": " << last_status;
    ASSERT_EQ(qelImage(img)->layerCount, 1) << c.file;
    elf_QELLAYER* l = layer(img, 0);
    const elf_QELHDR* h = qelHdr(l->description);
    EXPECT_EQ(l->kind, c.kind) << c.file;
    if (c.compression >= 0) {
      EXPECT_EQ(h->compression, c.compression) << c.file;
    }
    EXPECT_EQ(h->width, listed[0].width) << c.file;
    EXPECT_EQ(h->height, listed[0].height) << c.file;
    EXPECT_EQ(h->bitsPerSample[0], listed[0].bpc) << c.file;
    EXPECT_EQ(l->xres, listed[0].xppi) << c.file;
    EXPECT_EQ(l->yres, listed[0].yppi) << c.file;
    // The page takes the image's resolution, and the image covers the page.
    EXPECT_EQ(qelImage(img)->xres, listed[0].xppi) << c.file;
    EXPECT_NEAR(l->width, qelImage(img)->width, 0.5) << c.file;
    EXPECT_NEAR(l->height, qelImage(img)->height, 0.5) << c.file;
    EXPECT_NEAR(l->x, 0, 0.5);
    EXPECT_NEAR(l->y, 0, 0.5);
  }
  // The G4 data are the stream's bytes as stored, and the scan's ink is black.
  elf_object* g4 = page(dir.file("g4.pdf"));
  ASSERT_NE(g4, nullptr);
  // img2pdf's G4 says BlackIs1 true, Ghostscript's says nothing: the layer tells which value is
  // black so that the data are written back under the same parameter.
  EXPECT_EQ(qelHdr(layer(g4, 0)->description)->photometric, 1);
  elf_object* gs = page(dir.file("gs.pdf"));
  ASSERT_NE(gs, nullptr);
  EXPECT_EQ(qelHdr(layer(gs, 0)->description)->photometric, QEL_PHOTO_BILEVEL);
  monotest::ReadDoc doc(dir.file("g4.pdf"));
  KVngSB* stored = PDFGetCompressedStreamData(doc.get(), doc.xobject("Im0"));
  ASSERT_NE(stored, nullptr);
  size_t n = 0;
  const unsigned char* bytes = KVngSBData(stored, &n);
  EXPECT_EQ(data(layer(g4, 0)), std::string(reinterpret_cast<const char*>(bytes), n));
}

TEST_F(PdfReadTest, RectanglesStayUnlessTheirPathOnlyClips) {
  const std::string im = image_object(2, 2, "/ColorSpace/DeviceGray/BitsPerComponent 8", "\x10\x20\x30\x40");
  struct Case {
    const char* content;
    std::vector<int32_t> kinds;
  };
  const Case cases[] = {
      {"0 0 1 rg 10 10 100 50 re f", {QEL_KIND_RECTANGLE}},
      {"10 10 100 50 re W n", {}},
      {"10 10 5 5 re 20 20 5 5 re W n", {}},
      {"10 10 5 5 re f 20 20 5 5 re W n", {QEL_KIND_RECTANGLE}},
      {"10 10 5 5 re S", {QEL_KIND_RECTANGLE}},
      // Clips after an image, with or without a rectangle in the clip path, take nothing away.
      {"q 200 0 0 100 0 0 cm /Im0 Do Q 0 0 m 50 0 l 50 50 l h W n", {QEL_KIND_IMAGE}},
      {"q 200 0 0 100 0 0 cm /Im0 Do Q W n", {QEL_KIND_IMAGE}},
      {"q 200 0 0 100 0 0 cm /Im0 Do Q 0 0 50 50 re W n", {QEL_KIND_IMAGE}},
      {"0 0 50 50 re W n q 200 0 0 100 0 0 cm /Im0 Do Q", {QEL_KIND_IMAGE}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = qpdf_document(dir, "r" + std::to_string(n++) + ".pdf",
                                           "/MediaBox[0 0 200 100]/Resources<</XObject<</Im0 5 0 R>>>>", c.content,
                                           {im});
    elf_object* img = page(path);
    ASSERT_NE(img, nullptr) << c.content << ": " << last_status;
    EXPECT_EQ(kinds(img), c.kinds) << c.content;
  }
  // The filled rectangle: its place from the top left in pixels, its fill colour.
  elf_object* img = page(dir.file("r0.pdf"));
  ASSERT_NE(img, nullptr);
  elf_QELLAYER* r = layer(img, 0);
  EXPECT_EQ(r->x, 10);
  EXPECT_EQ(r->y, 100 - 60);
  EXPECT_EQ(r->width, 100);
  EXPECT_EQ(r->height, 50);
  EXPECT_EQ(colour(r), (std::vector<int32_t>{18, 0, 0, 255}));
}

TEST_F(PdfReadTest, MasksStencilsAndForms) {
  const std::string mask = image_object(8, 2, "/ImageMask true", std::string("\xF0\x0F", 2));
  const std::string masked = image_object(8, 2, "/ColorSpace/DeviceGray/BitsPerComponent 8/Mask 6 0 R",
                                          std::string(16, '\x80'));
  const std::string stencil = image_object(8, 2, "/ImageMask true/Decode[1 0]", std::string("\xAA\x55", 2));
  const std::string form = "<</Type/XObject/Subtype/Form/BBox[0 0 1 1]/Matrix[2 0 0 2 10 10]/Resources<</XObject"
                           "<</St 7 0 R>>>>>>stream\nq 16 0 0 4 0 0 cm /St Do Q\nendstream";
  const std::string ps = "<</Type/XObject/Subtype/PS>>stream\n% nothing\nendstream";
  const std::string path = qpdf_document(
      dir, "masks.pdf", "/MediaBox[0 0 100 100]/Resources<</XObject<</Im 5 0 R/St 7 0 R/Fm 8 0 R/Ps 9 0 R>>>>",
      "q 32 0 0 8 0 0 cm /Im Do Q 1 0 0 rg q 32 0 0 8 40 40 cm /St Do Q /Fm Do /Ps Do", {masked, mask, stencil, form, ps});
  elf_object* img = page(path);
  ASSERT_NE(img, nullptr) << last_status;
  // The mask comes before the image it masks; the stencil is painted red; the form's stencil is
  // placed through the form's matrix; the PostScript XObject is skipped.
  EXPECT_EQ(kinds(img), (std::vector<int32_t>{QEL_KIND_MASK, QEL_KIND_IMAGE, QEL_KIND_COLOR_MASK, QEL_KIND_COLOR_MASK}));
  EXPECT_EQ(colour(layer(img, 2)), (std::vector<int32_t>{18, 255, 0, 0}));
  EXPECT_EQ(qelHdr(layer(img, 2)->description)->photometric, 1) << "Decode [1 0] turns the stencil";
  // Every layer here has 8 samples over 32 points: the page is read at 18 dpi.
  ASSERT_EQ(qelImage(img)->xres, 18);
  const double f = 18 / 72.0;
  elf_QELLAYER* formed = layer(img, 3);
  EXPECT_EQ(formed->x, 10 * f);
  EXPECT_EQ(formed->width, 32 * f);
  EXPECT_EQ(formed->y, (100 - (10 + 8)) * f);
}

TEST_F(PdfReadTest, PlacementsOnABoxAwayFromTheOrigin) {
  // 8 by 4 samples, once placed 64 by 32 points (9 dpi), once turned a quarter.
  const std::string im = image_object(8, 4, "/ColorSpace/DeviceGray/BitsPerComponent 8", std::string(32, '\x40'));
  const std::string path =
      qpdf_document(dir, "placed.pdf", "/MediaBox[50 50 250 150]/Resources<</XObject<</Im 5 0 R>>>>",
                    "q 64 0 0 32 60 70 cm /Im Do Q q 0 64 -32 0 200 60 cm /Im Do Q", {im});
  elf_object* img = page(path);
  ASSERT_NE(img, nullptr) << last_status;
  EXPECT_EQ(qelImage(img)->xres, 9);
  EXPECT_EQ(qelImage(img)->width, 200 * 9 / 72);
  elf_QELLAYER* plain = layer(img, 0);
  EXPECT_EQ(plain->xres, 9);
  EXPECT_EQ(plain->x, (60 - 50) * 9 / 72.0);
  EXPECT_EQ(plain->y, (100 - (20 + 32)) * 9 / 72.0);
  EXPECT_EQ(plain->width, 8);
  EXPECT_EQ(plain->height, 4);
  EXPECT_EQ(plain->transform, nullptr);
  // The turned one: its box [w 0 0 h x y] in points from the box corner, followed by its
  // transform, gives the placement back.
  elf_QELLAYER* turned = layer(img, 1);
  ASSERT_NE(turned->transform, nullptr);
  EXPECT_EQ(turned->xres, 9);
  const double w = turned->width * 72 / turned->xres, h = turned->height * 72 / turned->yres;
  const double x = turned->x * 72 / turned->xres, y = 100 - turned->y * 72 / turned->yres - h;
  const double* r = turned->transform->m;
  const double placed[6] = {w * r[0], w * r[1], h * r[2], h * r[3], x * r[0] + y * r[2] + r[4],
                            x * r[1] + y * r[3] + r[5]};
  const double want[6] = {0, 64, -32, 0, 200 - 50, 60 - 50};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(placed[i], want[i], 1e-9) << i;
}

TEST_F(PdfReadTest, Jbig2DataAndGlobalsPassByteForByte) {
  const std::string pageA = "JBIG2 page data A \x01\x02\xff";
  const std::string pageB = "JBIG2 page data B \x03\x04";
  const std::string globals = "JBIG2 globals \x00\x7f\x80";
  const std::string other = "other globals";
  auto jb2 = [](const std::string& data, const std::string& parms) {
    return image_object(64, 32, "/ColorSpace/DeviceGray/BitsPerComponent 1/Filter/JBIG2Decode" + parms, data);
  };
  const std::string g1 = "<<>>stream\n" + globals + "\nendstream";
  const std::string g2 = "<<>>stream\n" + other + "\nendstream";
  const std::string entries = "/MediaBox[0 0 64 32]/Resources<</XObject<</A 5 0 R/B 6 0 R>>>>";
  const std::string two = "q 64 0 0 32 0 0 cm /A Do Q q 64 0 0 32 0 0 cm /B Do Q";
  struct Case {
    const char* name;
    std::vector<std::string> objects;
    std::vector<int32_t> kinds;
  };
  const Case cases[] = {
      {"shared.pdf",
       {jb2(pageA, "/DecodeParms<</JBIG2Globals 7 0 R>>"), jb2(pageB, "/DecodeParms<</JBIG2Globals 7 0 R>>"), g1},
       {QEL_KIND_BILEVEL, QEL_KIND_JBIG2_DICT, QEL_KIND_BILEVEL}},
      {"none.pdf", {jb2(pageA, ""), jb2(pageB, "")}, {QEL_KIND_BILEVEL, QEL_KIND_BILEVEL}},
      {"differ.pdf",
       {jb2(pageA, "/DecodeParms<</JBIG2Globals 7 0 R>>"), jb2(pageB, "/DecodeParms<</JBIG2Globals 8 0 R>>"), g1, g2},
       {}},
  };
  for (const Case& c : cases) {
    const std::string path = qpdf_document(dir, c.name, entries, two, c.objects);
    elf_object* img = page(path);
    if (c.kinds.empty()) {
      // A second dictionary cannot share the page's: refused, never decoded against the first.
      EXPECT_EQ(img, nullptr) << c.name;
      EXPECT_NE(last_status.find("coded against other globals"), std::string::npos) << last_status;
      continue;
    }
    ASSERT_NE(img, nullptr) << c.name << ": " << last_status;
    ASSERT_EQ(kinds(img), c.kinds) << c.name;
    std::vector<std::string> pages;
    for (int32_t i = 0; i < qelImage(img)->layerCount; ++i) {
      elf_QELLAYER* l = layer(img, i);
      if (l->kind == QEL_KIND_JBIG2_DICT) {
        EXPECT_EQ(data(l), globals);
        continue;
      }
      EXPECT_EQ(qelHdr(l->description)->compression, QEL_COMPRESSION_JBIG2);
      EXPECT_EQ(qelHdr(l->description)->photometric, QEL_PHOTO_BILEVEL);
      pages.push_back(data(l));
    }
    EXPECT_EQ(pages, (std::vector<std::string>{pageA, pageB})) << c.name;
    const char* uid = nullptr;
    const bool hasUid = lstScanArgs(qelImage(img)->attributes, QEL_ATTR_JB2_DICT_UID ":s", LST_OPTIONAL, &uid,
                                    LST_END) == 1 &&
                        uid;
    EXPECT_EQ(hasUid, std::string(c.name) == "shared.pdf");
    if (hasUid) {
      EXPECT_EQ(std::string(uid).rfind("JBIG2DICT-7_0_", 0), 0u) << uid;
    }
  }
}

TEST_F(PdfReadTest, TextObjectsPassThroughAsOperators) {
  std::string longText(2000, 'w');
  const std::string content = "BT /F1 12 Tf 72 700 Td (plain \\(open\\\\) Tj [(a\\)) -250 (b\\\\)] TJ ET "
                              "0 g BT /F1 10 Tf /F2 10 Tf 72 600 Td (" +
                              longText + ") Tj ET BT /F2 10 Tf 14 TL 0.5 Tc 2 Tw 1 Ts 72 500 Td (line one) Tj T* "
                              "(line two) Tj (line three) ' 1 0.25 (line four) \" () ' ET";
  const std::string path = qpdf_document(
      dir, "text.pdf",
      "/MediaBox[0 0 612 792]/Resources<</Font<</F1 5 0 R/F2 6 0 R>>>>", content,
      {"<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>", "<</Type/Font/Subtype/Type1/BaseFont/Courier>>"});
  elf_object* img = page(path);
  ASSERT_NE(img, nullptr) << last_status;
  ASSERT_EQ(kinds(img), (std::vector<int32_t>{QEL_KIND_TEXT, QEL_KIND_TEXT, QEL_KIND_TEXT}));
  const std::string first = data(layer(img, 0));
  EXPECT_EQ(first,
            " BT /F1 \n12 \nTf 72 \n700 \nTd (plain \\(open\\\\) Tj\n [ (a\\)) -250 (b\\\\) ] TJ\n ET ");
  const std::string second = data(layer(img, 1));
  EXPECT_EQ(second.size(), std::strlen(second.c_str())) << "the length is the text's own";
  EXPECT_NE(second.find(longText), std::string::npos) << "a long string is kept whole";
  // Spacing, rise, next-line and the quote operators are kept: without them lines run together
  // or vanish.
  const std::string third = data(layer(img, 2));
  EXPECT_EQ(third,
            " BT /F2 \n10 \nTf 14 \nTL 0.500000 \nTc 2 \nTw 1 \nTs 72 \n500 \nTd (line one) Tj\n T*\n (line two) Tj\n "
            "(line three) '\n 1 0.250000 (line four) \"\n () '\n ET ");
  for (int i : {0, 1, 2}) {
    const elf_QELTEXT* text = qelText(layer(img, i)->text);
    ASSERT_NE(text, nullptr) << "layer " << i;
    EXPECT_EQ(text->kind, QEL_TEXT_PDF) << "layer " << i;
  }
  // Each resource name once, with its base font.
  elf_object* fonts = nullptr;
  ASSERT_EQ(lstScanArgs(layer(img, 1)->attributes, PDF_ATTR_FONT_LIST ":LIST", LST_REQUIRED, &fonts, LST_END), 1);
  const char *f1 = nullptr, *f2 = nullptr;
  ASSERT_EQ(lstScanArgs(fonts, "F1:s", LST_REQUIRED, &f1, "F2:s", LST_REQUIRED, &f2, LST_END), 1);
  EXPECT_STREQ(f1, "Helvetica");
  EXPECT_STREQ(f2, "Courier");
  EXPECT_EQ(elflistLength(fonts), 2);

  // The operators are PDF content again: a page made of them shows the same text.
  const std::string again = qpdf_document(
      dir, "again.pdf", "/MediaBox[0 0 612 792]/Resources<</Font<</F1 5 0 R/F2 6 0 R>>>>",
      first + "\n" + second + "\n" + third,
      {"<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>", "<</Type/Font/Subtype/Type1/BaseFont/Courier>>"});
  const auto a = run_tool("pdftotext " + shell_quote(path) + " -");
  const auto b = run_tool("pdftotext " + shell_quote(again) + " -");
  ASSERT_EQ(a.exit_code, 0);
  EXPECT_EQ(a.output, b.output);
  EXPECT_NE(a.output.find("plain (open\\"), std::string::npos) << a.output;
}

// One text object of many operators grows its layer in proportion to them: each piece is added
// at the known end of the text, never after counting it again.
TEST_F(PdfReadTest, ATextObjectOfManyOperatorsReadsInProportion) {
  const int pieces = monotest::sanitizer_sized(400000, 60000);
  std::string content = "BT /F1 12 Tf 72 700 Td\n";
  content.reserve(static_cast<size_t>(pieces) * 16 + 64);
  for (int i = 0; i < pieces; ++i) content += "(ab) Tj 1 0 Td\n";
  content += "ET\n";
  const std::string path = qpdf_document(dir, "many.pdf", "/MediaBox[0 0 612 792]/Resources<</Font<</F1 5 0 R>>>>",
                                         content, {"<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>"});
  const auto start = std::chrono::steady_clock::now();
  elf_object* img = page(path);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_NE(img, nullptr) << last_status;
  ASSERT_EQ(kinds(img), (std::vector<int32_t>{QEL_KIND_TEXT}));
  const std::string text = data(layer(img, 0));
  EXPECT_EQ(text.size(), std::strlen(text.c_str()));
  size_t shown = 0;
  for (size_t at = text.find("(ab) Tj"); at != std::string::npos; at = text.find("(ab) Tj", at + 1)) ++shown;
  EXPECT_EQ(shown, static_cast<size_t>(pieces));
  // A bound for a hang, far above what the reading takes.
  EXPECT_LT(seconds, 30.0);
}

TEST_F(PdfReadTest, EncryptedDocumentsOpenOnlyWithTheirPassword) {
  const std::string plain = qpdf_document(dir, "plain.pdf", "/MediaBox[0 0 300 200]", "1 0 0 rg 10 10 20 20 re f");
  const std::string locked = dir.file("locked.pdf");
  ASSERT_EQ(run_tool("qpdf --encrypt user owner 256 -- " + shell_quote(plain) + " " + shell_quote(locked)).exit_code,
            0);
  for (const char* right : {"user", "owner"}) {
    elf_object* img = page(locked, 1, right);
    ASSERT_NE(img, nullptr) << right << ": " << last_status;
    EXPECT_EQ(kinds(img), std::vector<int32_t>{QEL_KIND_RECTANGLE});
  }
  for (const char* wrong : {"nope", "User"}) {
    EXPECT_EQ(page(locked, 1, wrong), nullptr);
    EXPECT_EQ(status_message(), "PDF_PASSWORD_PROTECT\n") << wrong;
  }
  EXPECT_EQ(page(locked, 1), nullptr);
  EXPECT_EQ(status_message(), "PDF_PASSWORD_PROTECT\n");
}

TEST_F(PdfReadTest, DecompressionBombsAreRefusedWithTheirBudget) {
  // A 100 by 100 grey image whose few kilobytes of Flate inflate to 300 MB, and page content that
  // inflates to 100 MB of blanks.
  const std::string bomb = flate_zeros(size_t{300} << 20);
  const std::string image =
      image_object(100, 100, "/ColorSpace/DeviceGray/BitsPerComponent 8/Filter/FlateDecode", bomb);
  const std::string path = qpdf_document(dir, "bomb.pdf", "/MediaBox[0 0 100 100]/Resources<</XObject<</B 5 0 R>>>>",
                                         "q 100 0 0 100 0 0 cm /B Do Q", {image});
  {
    // The reader keeps compressed data as stored; whoever decodes them meets the budget.
    monotest::ReadDoc doc(path);
    EXPECT_EQ(PDFGetStreamData(doc.get(), doc.xobject("B")), nullptr);
    const std::string why = PDFErrorText(doc.get());
    EXPECT_NE(why.find("object 5 0: decoded stream data exceed"), std::string::npos) << why;
  }
  elf_object* kept = page(path);
  ASSERT_NE(kept, nullptr) << last_status;
  EXPECT_EQ(data(layer(kept, 0)), bomb);

  // Uncompressed samples short of their rows are padded, and said so; a declaration beyond what a
  // page may hold reserves nothing.
  const std::string shortData = image_object(100, 100, "/ColorSpace/DeviceGray/BitsPerComponent 8", "\x01\x02");
  const std::string huge = image_object(60000, 60000, "/ColorSpace/DeviceGray/BitsPerComponent 8", "\x01\x02");
  engine_messages.clear();
  elf_object* padded = page(qpdf_document(dir, "short.pdf", "/MediaBox[0 0 100 100]/Resources<</XObject<</S 5 0 R>>>>",
                                          "q 100 0 0 100 0 0 cm /S Do Q", {shortData}));
  ASSERT_NE(padded, nullptr) << last_status;
  EXPECT_EQ(data(layer(padded, 0)), std::string("\x01\x02", 2) + std::string(9998, '\0'));
  EXPECT_NE(engine_messages.find("has 2 of its 10000 bytes"), std::string::npos) << engine_messages;
  EXPECT_EQ(page(qpdf_document(dir, "huge.pdf", "/MediaBox[0 0 100 100]/Resources<</XObject<</H 5 0 R>>>>",
                               "q 100 0 0 100 0 0 cm /H Do Q", {huge})),
            nullptr);
  EXPECT_NE(last_status.find("declares more samples than a page may hold"), std::string::npos) << last_status;

  const std::string content = flate_zeros(size_t{100} << 20);
  std::string raw = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>"
                    "endobj\n3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]/Contents 4 0 R>>endobj\n"
                    "4 0 obj<</Length " +
                    std::to_string(content.size()) + "/Filter/FlateDecode>>stream\n" + content +
                    "\nendstream endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";
  monotest::write_file(dir.file("content.raw"), raw);
  ASSERT_LE(run_tool("qpdf --stream-data=preserve " + shell_quote(dir.file("content.raw")) + " " +
                     shell_quote(dir.file("content.pdf")) + " 2>/dev/null")
                .exit_code,
            3);
  EXPECT_EQ(page(dir.file("content.pdf")), nullptr);
  EXPECT_NE(last_status.find("exceed"), std::string::npos) << last_status;
}

// What many small requests of one page add up to: each file is a few kilobytes, and the page's
// budget refuses it, by name, before the memory or the time is spent.
TEST_F(PdfReadTest, PageTotalsAreRefusedWithTheirBudget) {
  struct Case {
    const char* name;
    std::string pageEntries, content;
    std::vector<std::string> objects;
    const char* expected;
  };
  // One 16000 by 16000 grey image, 256 MB of samples declared and one byte stored, placed three
  // times: each placement is within the ceiling of one image, together they are not.
  const std::string big = image_object(16000, 16000, "/ColorSpace/DeviceGray/BitsPerComponent 8", "\x01");
  // Forms ten wide and six deep that paint nothing: 111,111 runs of a few bytes each.
  std::vector<std::string> forms;
  for (int k = 0; k < 6; ++k) {
    std::string body = "0 0 m 1 1 l S";
    std::string resources;
    if (k < 5) {
      body.clear();
      for (int i = 0; i < 10; ++i) body += "/F Do\n";
      resources = "/Resources<</XObject<</F " + std::to_string(6 + k) + " 0 R>>>>";
    }
    forms.push_back("<</Type/XObject/Subtype/Form/BBox[0 0 10 10]" + resources + ">>stream\n" + body + "\nendstream");
  }
  // A form of 24 MB of blanks (NUL is white space in content) drawn three times: each run within
  // the ceiling of one content stream, together past the page's.
  const std::string blanks = "<</Type/XObject/Subtype/Form/BBox[0 0 10 10]/Filter/FlateDecode>>stream\n" +
                             flate_zeros(size_t{24} << 20) + "\nendstream";
  const Case cases[] = {
      {"placements", "/MediaBox[0 0 612 792]/Resources<</XObject<</I 5 0 R>>>>",
       "q 612 0 0 792 0 0 cm /I Do Q q 612 0 0 792 0 0 cm /I Do Q q 612 0 0 792 0 0 cm /I Do Q", {big},
       "the 16000x16000 image placed as layer 2 takes the page's images past their budget of 536870912 bytes"},
      {"forms", "/MediaBox[0 0 612 792]/Resources<</XObject<</F 5 0 R>>>>", "/F Do", forms,
       "the page's forms run more than 100000 times, their budget for one page"},
      {"content", "/MediaBox[0 0 612 792]/Resources<</XObject<</B 5 0 R>>>>", "/B Do /B Do /B Do", {blanks},
       "the page's content, its forms' included, exceeds its budget of 67108864 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = qpdf_document(dir, std::string(c.name) + ".pdf", c.pageEntries, c.content, c.objects);
    EXPECT_EQ(page(path), nullptr);
    EXPECT_NE(last_status.find("Read failed for page 1."), std::string::npos) << last_status;
    EXPECT_NE(last_status.find(c.expected), std::string::npos) << last_status;
  }
}

TEST_F(PdfReadTest, RepairedDamageIsReportedWithObjectAndOffset) {
  const std::string good = read_file(qpdf_document(dir, "good.pdf", "/MediaBox[0 0 50 50]", "0 0 5 5 re f"));
  // The cross-reference table is not where the trailer says: qpdf finds the objects again by
  // scanning the file.
  std::string damaged = good;
  const size_t start = damaged.rfind("startxref\n");
  ASSERT_NE(start, std::string::npos);
  damaged.replace(start + 10, damaged.find('\n', start + 10) - (start + 10), "17");
  monotest::write_file(dir.file("damaged.pdf"), damaged);
  {
    monotest::ReadDoc doc(dir.file("damaged.pdf"));
    ASSERT_NE(doc.get(), nullptr);
    ASSERT_GT(PDFGetWarningCount(doc.get()), 0);
    EXPECT_NE(std::string(PDFGetWarningText(doc.get(), 0)).find("offset"), std::string::npos);
    monotest::ReadDoc clean(dir.file("good.pdf"));
    EXPECT_EQ(PDFGetWarningCount(clean.get()), 0);
  }
  engine_messages.clear();
  elf_object* img = page(dir.file("damaged.pdf"));
  ASSERT_NE(img, nullptr) << last_status;
  EXPECT_EQ(kinds(img), std::vector<int32_t>{QEL_KIND_RECTANGLE});
  EXPECT_NE(engine_messages.find("repaired damage in"), std::string::npos) << engine_messages;
}


TEST_F(PdfReadTest, PageAfterPageTheReaderKeepsNoPageData) {
  // Twelve pages, each with its own 64 KB JBIG2 image: the reader must not hold on to a page's
  // data once it has handed the page on, or a long document grows the process page by page.
  constexpr int kPages = 12;
  constexpr size_t kData = 64 * 1024;
  std::string kids, text = "%PDF-1.5\n";
  std::vector<std::string> objs = {"<</Type/Catalog/Pages 2 0 R>>", ""};
  for (int i = 0; i < kPages; ++i) {
    const int pg = 3 + 3 * i;
    kids += std::to_string(pg) + " 0 R ";
    const std::string content = "q 64 0 0 32 0 0 cm /A Do Q";
    objs.push_back("<</Type/Page/Parent 2 0 R/MediaBox[0 0 64 32]/Contents " + std::to_string(pg + 1) +
                   " 0 R/Resources<</XObject<</A " + std::to_string(pg + 2) + " 0 R>>>>>>");
    objs.push_back("<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream");
    const std::string data(kData, static_cast<char>('a' + i));
    objs.push_back("<</Type/XObject/Subtype/Image/Width 64/Height 32/ColorSpace/DeviceGray/BitsPerComponent 1"
                   "/Filter/JBIG2Decode/Length " +
                   std::to_string(data.size()) + ">>stream\n" + data + "\nendstream");
  }
  objs[1] = "<</Type/Pages/Kids[" + kids + "]/Count " + std::to_string(kPages) + ">>";
  for (size_t i = 0; i < objs.size(); ++i) text += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  text += "trailer\n<</Root 1 0 R/Size " + std::to_string(objs.size() + 1) + ">>\n%%EOF\n";
  monotest::write_file(dir.file("long.raw"), text);
  const auto fixed = run_tool("qpdf --stream-data=preserve " + shell_quote(dir.file("long.raw")) + " " +
                              shell_quote(dir.file("long.pdf")) + " 2>/dev/null");
  ASSERT_TRUE(fixed.exit_code == 0 || fixed.exit_code == 3);

  elf_object* args = lstBuildArgs(state, "filename:s", dir.file("long.pdf").c_str(), 0, LST_END);
  elfRefUp(args);
  ASSERT_EQ(call_context(MakeDocReader, args), QEL_STATUS_OK) << status_message();
  elfRefDown(args);
  elf_object* reader = nullptr;
  ASSERT_EQ(lstScanArgs(result, "docrd:DOCUMENTREADER", LST_REQUIRED, &reader, LST_END), 1);
  elfRefUp(reader);
  size_t after_first = 0;
  for (int32_t n = 1; n <= kPages; ++n) {
    elf_object* pg = lstBuildArgs(state, "pgnum:i", n, 0, LST_END);
    elfRefUp(pg);
    ASSERT_EQ(call(reader, "getPage", pg), QEL_STATUS_OK) << status_message();
    elfRefDown(pg);
    elf_object* image = nullptr;
    ASSERT_EQ(lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &image, LST_END), 1);
    EXPECT_EQ(data(layer(image, 0)).size(), kData);
    elfDiscard(result);
    result = nullptr;
    if (n == 1) after_first = heap.live_bytes();
  }
  EXPECT_LT(heap.live_bytes(), after_first + kData) << "page data kept after the pages were handed on";
  call(reader, "release");
  elfRefDown(reader);
}

}  // namespace
