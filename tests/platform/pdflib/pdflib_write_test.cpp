// The PDF library's writing side against qpdf and poppler: every file passes qpdf --check,
// pdfimages reports each image's coding, depth and colour space, and pdftoppm paints the samples
// given (exactly for lossless filters, within a PSNR bound for DCT).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kvng_print.h"
#include "pdflib.h"
#include "sanitizer_size.h"
#include "tools.h"

#if defined(__SANITIZE_ADDRESS__)
#define PDFTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PDFTEST_ASAN 1
#endif
#endif
#ifdef PDFTEST_ASAN
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace {

using monotest::read_file;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

struct Filter {
  int32_t code;
  std::vector<std::pair<const char*, int32_t>> params;
};

// Sets a filter with up to four parameters (the call takes them as a varargs list).
int set_filter(PDFDoc* doc, PDFObj* stream, const Filter& f) {
  const char* k[4] = {nullptr, nullptr, nullptr, nullptr};
  int32_t v[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < f.params.size() && i < 4; ++i) {
    k[i] = f.params[i].first;
    v[i] = f.params[i].second;
  }
  return PDFSetStreamFilter(doc, stream, f.code, k[0], v[0], k[1], v[1], k[2], v[2], k[3], v[3], nullptr);
}

// Samples with structure in both directions, so that a swapped or shifted row shows.
std::vector<uint8_t> contone(int w, int h, int comps) {
  std::vector<uint8_t> s(static_cast<size_t>(w) * h * comps);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < comps; ++c) {
        s[(static_cast<size_t>(y) * w + x) * comps + c] = static_cast<uint8_t>((x * 4 + y * 2 + c * 85) & 0xff);
      }
    }
  }
  return s;
}

// A 1-bit page (1 = black): a frame, a diagonal and a block, rows padded to bytes.
std::vector<uint8_t> bilevel(int w, int h) {
  const int rb = (w + 7) / 8;
  std::vector<uint8_t> s(static_cast<size_t>(rb) * h, 0);
  auto set = [&](int x, int y) { s[static_cast<size_t>(y) * rb + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (x == 0 || y == 0 || x == w - 1 || y == h - 1 || x == y || (x > w / 2 && y > h / 2 && x < w - 8)) set(x, y);
    }
  }
  return s;
}

struct Image {
  int w, h, comps, bits;
  int32_t space;
  std::vector<uint8_t> samples;  // raw samples, 1 = black for 1-bit
  std::vector<Filter> filters;
  bool precompressed = false;
  bool invert = false;  // Decode [1 0]
};

// Writes one page per image, each image filling its page at 72 dpi (one sample per point).
void write_document(const std::string& path, const std::vector<Image>& images) {
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr) << error;
  for (size_t i = 0; i < images.size(); ++i) {
    const Image& im = images[i];
    PDFObj* page = PDFAddPage(doc);
    ASSERT_NE(page, nullptr) << PDFErrorText(doc);
    ASSERT_EQ(PDFPageAddMediaBox(doc, page, 0, 0, im.w, im.h), 1) << PDFErrorText(doc);
    PDFObj* img = PDFImageCreate(doc, page, ("Im" + std::to_string(i)).c_str(), im.w, im.h, im.bits);
    ASSERT_NE(img, nullptr) << PDFErrorText(doc);
    ASSERT_EQ(PDFSetImageColorSpace(doc, img, im.space), 1) << PDFErrorText(doc);
    for (const Filter& f : im.filters) ASSERT_EQ(set_filter(doc, img, f), 1) << PDFErrorText(doc);
    if (im.invert) {
      ASSERT_EQ(PDFSetImageDecode(doc, img, 1, 0), 1) << PDFErrorText(doc);
    }
    const int append = im.precompressed
                           ? PDFAppendPrecompressedStream(doc, img, im.samples.data(), im.samples.size())
                           : PDFAppendStream(doc, img, im.samples.data(), im.samples.size());
    ASSERT_EQ(append, 1) << PDFErrorText(doc);
    ASSERT_EQ(PDFPageAddContents(doc, page, img, "cm", double(im.w), 0.0, 0.0, double(im.h), 0.0, 0.0, nullptr), 1)
        << PDFErrorText(doc);
    ASSERT_EQ(PDFPageClose(doc, page), 1) << PDFErrorText(doc);
  }
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
}

struct ListRow {
  std::string type, color, enc;
  int width = 0, height = 0, comps = 0, bpc = 0;
};

// pdfimages -list rows: page num type width height color comp bpc enc ...
std::vector<ListRow> list_images(const std::string& path) {
  const auto r = run_tool("pdfimages -list " + shell_quote(path));
  EXPECT_EQ(r.exit_code, 0);
  std::istringstream in(r.output);
  std::string line;
  std::vector<ListRow> rows;
  int n = 0;
  while (std::getline(in, line)) {
    if (n++ < 2) continue;
    std::istringstream f(line);
    std::string page, num;
    ListRow row;
    f >> page >> num >> row.type >> row.width >> row.height >> row.color >> row.comps >> row.bpc >> row.enc;
    rows.push_back(row);
  }
  return rows;
}

// Renders page (1-based) and gives one pixel per point: gray or RGB samples, 8 bits each. At one
// pixel per sample poppler smooths between neighbours; at ten it paints each sample as a block,
// so the centre of each block is the sample itself. Gray pages are rendered in RGB and their
// first channel taken.
std::vector<uint8_t> render(const TempDir& dir, const std::string& path, int page, bool gray, int* w, int* h) {
  const std::string base = dir.file("r" + std::to_string(page));
  const auto r = run_tool("pdftoppm -r 720 -aa no -aaVector no -f " +
                          std::to_string(page) + " -l " + std::to_string(page) + " -singlefile " + shell_quote(path) +
                          " " + shell_quote(base));
  EXPECT_EQ(r.exit_code, 0);
  const std::string pnm = read_file(base + ".ppm");
  std::istringstream in(pnm);
  std::string magic;
  int maxval = 0;
  in >> magic >> *w >> *h >> maxval;
  in.get();
  std::vector<uint8_t> full(static_cast<size_t>(*w) * *h * 3);
  in.read(reinterpret_cast<char*>(full.data()), static_cast<std::streamsize>(full.size()));
  const int fw = *w;
  *w /= 10;
  *h /= 10;
  const int comps = gray ? 1 : 3;
  std::vector<uint8_t> px(static_cast<size_t>(*w) * *h * comps);
  for (int y = 0; y < *h; ++y) {
    for (int x = 0; x < *w; ++x) {
      for (int c = 0; c < comps; ++c) {
        px[(static_cast<size_t>(y) * *w + x) * comps + c] = full[((static_cast<size_t>(y) * 10 + 5) * fw + x * 10 + 5) * 3 + c];
      }
    }
  }
  return px;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  if (se == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (se / a.size()));
}

// Gray or RGB samples as poppler paints them: 1-bit becomes 0/255 (1 = black after Decode).
std::vector<uint8_t> expected_pixels(const Image& im) {
  if (im.bits == 8) return im.samples;
  std::vector<uint8_t> px(static_cast<size_t>(im.w) * im.h);
  const int rb = (im.w + 7) / 8;
  for (int y = 0; y < im.h; ++y) {
    for (int x = 0; x < im.w; ++x) {
      const bool black = (im.samples[static_cast<size_t>(y) * rb + x / 8] >> (7 - x % 8)) & 1;
      px[static_cast<size_t>(y) * im.w + x] = black ? 0 : 255;
    }
  }
  return px;
}

class PdfWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    monotest::require_tool("qpdf", "qpdf");
    monotest::require_tool("pdfimages", "poppler-utils");
  }
  TempDir dir;
};

struct Case {
  const char* name;
  Image image;
  const char* enc;    // pdfimages encoding
  const char* color;  // pdfimages colour
  double min_psnr;    // 0: exact
};

TEST_F(PdfWrite, FilterChainsPassQpdfAndRenderTheirSamples) {
  const int w = 64, h = 40;
  const std::vector<Case> cases = {
      {"flate gray", {w, h, 1, 8, PDF_CS_DEVICE_GRAY, contone(w, h, 1), {{PDF_FILTER_FLATE, {}}}}, "image", "gray", 0},
      {"flate rgb with predictor",
       {w, h, 3, 8, PDF_CS_DEVICE_RGB, contone(w, h, 3),
        {{PDF_FILTER_FLATE, {{"Predictor", 2}, {"Colors", 3}, {"BitsPerComponent", 8}, {"Columns", w}}}}},
       "image", "rgb", 0},
      {"lzw gray", {w, h, 1, 8, PDF_CS_DEVICE_GRAY, contone(w, h, 1), {{PDF_FILTER_LZW, {}}}}, "image", "gray", 0},
      {"ascii85 over flate",
       {w, h, 3, 8, PDF_CS_DEVICE_RGB, contone(w, h, 3), {{PDF_FILTER_FLATE, {}}, {PDF_FILTER_ASCII85, {}}}},
       "image", "rgb", 0},
      {"ascii hex", {w, h, 1, 8, PDF_CS_DEVICE_GRAY, contone(w, h, 1), {{PDF_FILTER_ASCII_HEX, {}}}}, "image", "gray",
       0},
      {"run length", {w, h, 1, 8, PDF_CS_DEVICE_GRAY, contone(w, h, 1), {{PDF_FILTER_RUN_LENGTH, {}}}}, "image",
       "gray", 0},
      {"dct rgb", {w, h, 3, 8, PDF_CS_DEVICE_RGB, contone(w, h, 3), {{PDF_FILTER_DCT, {{"Quality", 90}}}}}, "jpeg",
       "rgb", 23},  // the pattern's wrap-arounds are sharp chroma edges, which subsampling blurs
      {"dct then flate", {w, h, 1, 8, PDF_CS_DEVICE_GRAY, contone(w, h, 1), {{PDF_FILTER_DCT, {}}, {PDF_FILTER_FLATE, {}}}},
       "jpeg", "gray", 30},
      {"uncompressed 1-bit, decode inverted", {w, h, 1, 1, PDF_CS_DEVICE_GRAY, bilevel(w, h), {}, false, true}, "image",
       "gray", 0},
      {"ccitt g4", {w, h, 1, 1, PDF_CS_DEVICE_GRAY, bilevel(w, h), {{PDF_FILTER_CCITT, {{"K", -1}, {"Columns", w}}}}},
       "ccitt", "gray", 0},
      {"ccitt g3 1-d", {w, h, 1, 1, PDF_CS_DEVICE_GRAY, bilevel(w, h), {{PDF_FILTER_CCITT, {{"K", 0}, {"Columns", w}}}}},
       "ccitt", "gray", 0},
      {"ccitt g3 2-d", {w, h, 1, 1, PDF_CS_DEVICE_GRAY, bilevel(w, h), {{PDF_FILTER_CCITT, {{"K", 1}, {"Columns", w}}}}},
       "ccitt", "gray", 0},
      {"calibrated rgb", {w, h, 3, 8, PDF_CS_CAL_RGB, contone(w, h, 3), {{PDF_FILTER_FLATE, {}}}}, "image", "rgb", -1},
      {"calibrated gray", {w, h, 1, 8, PDF_CS_CAL_GRAY, contone(w, h, 1), {{PDF_FILTER_FLATE, {}}}}, "image", "gray", -1},
      {"srgb profile", {w, h, 3, 8, PDF_CS_SRGB, contone(w, h, 3), {{PDF_FILTER_FLATE, {}}}}, "image", "icc", -1},
      {"lab", {w, h, 3, 8, PDF_CS_LAB, contone(w, h, 3), {{PDF_FILTER_FLATE, {}}}}, "image", "lab", -1},
  };
  std::vector<Image> images;
  for (const Case& c : cases) images.push_back(c.image);
  const std::string path = dir.file("filters.pdf");
  ASSERT_NO_FATAL_FAILURE(write_document(path, images));

  const auto check = run_tool("qpdf --check " + shell_quote(path));
  EXPECT_EQ(check.exit_code, 0) << check.output;

  const auto rows = list_images(path);
  ASSERT_EQ(rows.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rows[i].enc, c.enc);
    EXPECT_EQ(rows[i].color, c.color);
    EXPECT_EQ(rows[i].bpc, c.image.bits);
    EXPECT_EQ(rows[i].width, c.image.w);
    EXPECT_EQ(rows[i].height, c.image.h);
    // Calibrated and ICC spaces paint through colour management: no pixel oracle for them.
    if (c.min_psnr < 0) continue;
    int rw = 0, rh = 0;
    const auto px = render(dir, path, static_cast<int>(i) + 1, c.image.comps == 1, &rw, &rh);
    ASSERT_EQ(rw, c.image.w);
    ASSERT_EQ(rh, c.image.h);
    const auto want = expected_pixels(c.image);
    if (c.min_psnr == 0) {
      EXPECT_EQ(px, want);
    } else {
      EXPECT_GE(psnr(px, want), c.min_psnr);
    }
  }
}

TEST_F(PdfWrite, SoftMaskStencilAndDocumentParts) {
  const int w = 16, h = 16;
  const std::string path = dir.file("parts.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(PDFSetVersion(doc, 15), 1);
  ASSERT_EQ(PDFAddInfoDict(doc, "Title", "A page", "Creator", "monodoc", nullptr), 1) << PDFErrorText(doc);
  PDFObj* page = PDFAddPage(doc);
  ASSERT_EQ(PDFPageAddMediaBox(doc, page, 0, 0, 2 * w, h), 1);
  PDFObj* img = PDFImageCreate(doc, page, "Im0", w, h, 8);
  ASSERT_EQ(PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_RGB), 1);
  const auto rgb = contone(w, h, 3);
  ASSERT_EQ(PDFAppendStream(doc, img, rgb.data(), rgb.size()), 1);
  PDFObj* mask = PDFImageCreate(doc, nullptr, nullptr, w, h, 8);
  ASSERT_NE(mask, nullptr) << PDFErrorText(doc);
  const auto alpha = contone(w, h, 1);
  ASSERT_EQ(PDFAppendStream(doc, mask, alpha.data(), alpha.size()), 1);
  ASSERT_EQ(PDFImageSetMask(doc, img, mask), 1) << PDFErrorText(doc);
  ASSERT_EQ(PDFPageAddContents(doc, page, img, "cm", double(w), 0.0, 0.0, double(h), 0.0, 0.0, nullptr), 1);
  PDFObj* stencil = PDFImageCreate(doc, page, "Im1", w, h, 1);
  ASSERT_EQ(PDFImageSetMask(doc, stencil, nullptr), 1) << PDFErrorText(doc);
  const auto bits = bilevel(w, h);
  ASSERT_EQ(PDFAppendStream(doc, stencil, bits.data(), bits.size()), 1);
  ASSERT_EQ(PDFPageAddContents(doc, page, stencil, "rg", 255, 0, 0, "cm", double(w), 0.0, 0.0, double(h), double(w),
                               0.0, nullptr),
            1)
      << PDFErrorText(doc);
  ASSERT_EQ(PDFAddBookmark(doc, page), 1) << PDFErrorText(doc);
  ASSERT_EQ(PDFPageClose(doc, page), 1);
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);

  EXPECT_EQ(run_tool("qpdf --check " + shell_quote(path)).exit_code, 0);
  const auto rows = list_images(path);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].type, "image");
  EXPECT_EQ(rows[1].type, "smask");
  EXPECT_EQ(rows[2].type, "stencil");
  const std::string info = run_tool("pdfinfo " + shell_quote(path)).output;
  EXPECT_NE(info.find("A page"), std::string::npos) << info;
  EXPECT_NE(info.find("1.5"), std::string::npos) << info;
  // Test mode gives the same bytes for the same document.
  const std::string first = read_file(path);
  doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  page = PDFAddPage(doc);
  PDFPageAddMediaBox(doc, page, 0, 0, 2 * w, h);
  PDFPageClose(doc, page);
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
  const std::string small = read_file(path);
  doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  page = PDFAddPage(doc);
  PDFPageAddMediaBox(doc, page, 0, 0, 2 * w, h);
  PDFPageClose(doc, page);
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
  EXPECT_EQ(read_file(path), small);
  EXPECT_NE(first, small);
}

// A feature never stands under an older header than it needs: the call that brings it refuses
// it, and what slips past (the version lowered afterwards) is refused when the file is written.
TEST_F(PdfWrite, FeaturesNeedTheirVersion) {
  const struct {
    const char* name;
    int32_t version;
    bool jbig2, softMask, metadata;
    int32_t lowered;     // the version set just before closing, or 0
    const char* refusal;  // null: everything is taken and written
  } cases[] = {
      {"jbig2 at 1.3", 13, true, false, false, 0, "JBIG2 images need PDF 1.4; the document is PDF 1.3"},
      {"soft mask at 1.3", 13, false, true, false, 0, "soft masks need PDF 1.4; the document is PDF 1.3"},
      {"all at 1.4", 14, true, true, true, 0, nullptr},
      {"lowered before closing", 14, true, false, false, 13, "JBIG2 images need PDF 1.4; the document is PDF 1.3"},
      {"metadata at 1.3", 14, false, false, true, 13, "XMP metadata streams need PDF 1.4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("v.pdf");
    int32_t error = 0;
    PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(PDFSetVersion(doc, c.version), 1);
    PDFObj* page = PDFAddPage(doc);
    PDFObj* img = PDFImageCreate(doc, page, "Im0", 8, 8, c.jbig2 ? 1 : 8);
    ASSERT_NE(img, nullptr);
    // The bytes are only stored: no reader decodes them here.
    const std::vector<uint8_t> samples(64, 0x80);
    int taken = 1;
    if (c.jbig2) {
      taken &= PDFSetStreamFilter(doc, img, PDF_FILTER_JBIG2, nullptr);
      ASSERT_EQ(PDFAppendPrecompressedStream(doc, img, samples.data(), 8), 1);
    } else {
      ASSERT_EQ(PDFAppendStream(doc, img, samples.data(), samples.size()), 1);
    }
    if (c.softMask) {
      PDFObj* mask = PDFImageCreate(doc, nullptr, nullptr, 8, 8, 8);
      ASSERT_NE(mask, nullptr);
      ASSERT_EQ(PDFAppendStream(doc, mask, samples.data(), samples.size()), 1);
      taken &= PDFImageSetMask(doc, img, mask);
    }
    if (c.metadata) {
      PDFObj* xmp = PDFCreateStream(doc);
      ASSERT_EQ(PDFAppendStream(doc, xmp, "<x:xmpmeta/>", 12), 1);
      ASSERT_EQ(PDFMakeObjectIndirect(doc, xmp), 1);
      ASSERT_EQ(PDFAddDictEntry(doc, PDFGetCatalog(doc), "Metadata", xmp), 1) << PDFErrorText(doc);
    }
    if (c.lowered) {
      ASSERT_EQ(PDFSetVersion(doc, c.lowered), 1);
    }
    const std::string reason = PDFErrorText(doc);
    if (!c.lowered) {
      EXPECT_EQ(taken, c.refusal ? 0 : 1);
      if (c.refusal) {
        EXPECT_NE(reason.find(c.refusal), std::string::npos) << reason;
      }
    }
    // A refusal at closing is told through the engine's printer.
    static std::string printed;
    printed.clear();
    KVngSetPrinter([](void*, int, const char* text) { printed += text; }, nullptr);
    const int closed = PDFCloseFile(doc, 1);
    KVngSetPrinter(nullptr, nullptr);
    if (c.lowered) {
      EXPECT_EQ(closed, 0);
      EXPECT_NE(printed.find(c.refusal), std::string::npos) << printed;
      EXPECT_FALSE(std::ifstream(path).good());
    } else if (!c.refusal) {
      EXPECT_EQ(closed, 1);
      EXPECT_EQ(read_file(path).substr(0, 8), "%PDF-1.4");
    }
    std::remove(path.c_str());
  }
}

// The PDF/A-1 rules the writer can judge before closing, the first broken one named.
TEST_F(PdfWrite, ArchiveRulesNameWhatBreaksThem) {
  const struct {
    const char* name;
    const char* content;   // page content over font F1 (unembedded Helvetica)
    bool softMask, lzw, cmyk;
    const char* refusal;
  } cases[] = {
      {"visible text", "BT /F1 12 Tf 10 10 Td (seen) Tj ET", false, false, false, "shows text in Helvetica"},
      {"visible after invisible", "BT /F1 12 Tf 3 Tr (unseen) Tj 0 Tr (seen) Tj ET", false, false, false, "Helvetica"},
      {"mode restored by Q", "q 3 Tr Q BT /F1 12 Tf (seen) Tj ET", false, false, false, "Helvetica"},
      {"soft mask", "", true, false, false, "soft mask"},
      {"LZW", "", false, true, false, "LZW"},
      {"CMYK", "", false, false, true, "CMYK image"},
      {"unreadable content", "BT /F1 12 Tf 3 Tr (unended Tj ET", false, false, false, "cannot be read"},
      // Invisible text may use fonts that are not embedded; the rest is the catalog's.
      {"invisible text", "BT /F1 12 Tf 3 Tr 10 10 Td (unseen) Tj ET", false, false, false, "no PDF/A output intent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t error = 0;
    PDFDoc* doc = PDFOpenFilenameEx(dir.file("a.pdf").c_str(), 'w', nullptr, &error);
    ASSERT_NE(doc, nullptr);
    PDFObj* page = PDFAddPage(doc);
    ASSERT_EQ(PDFFontCreateRefed(doc, page, "Helvetica", "F1"), 1) << PDFErrorText(doc);
    if (*c.content) {
      ASSERT_EQ(PDFPageAddContentString(doc, page, c.content), 1);
    }
    PDFObj* img = PDFImageCreate(doc, page, "Im0", 8, 8, 8);
    ASSERT_NE(img, nullptr);
    if (c.lzw) {
      ASSERT_EQ(PDFSetStreamFilter(doc, img, PDF_FILTER_LZW, nullptr), 1);
    }
    if (c.cmyk) {
      ASSERT_EQ(PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_CMYK), 1) << PDFErrorText(doc);
    }
    if (c.softMask) {
      ASSERT_EQ(PDFImageSetMask(doc, img, PDFImageCreate(doc, nullptr, nullptr, 8, 8, 8)), 1);
    }
    EXPECT_EQ(PDFCheckArchive(doc), 0);
    const std::string reason = PDFErrorText(doc);
    EXPECT_NE(reason.find(c.refusal), std::string::npos) << reason;
    PDFCloseFile(doc, 1);
  }
}

TEST_F(PdfWrite, RefusalsLeaveTheDocumentUsable) {
  int32_t error = 0;
  const std::string path = dir.file("bad.pdf");
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  PDFObj* page = PDFAddPage(doc);
  EXPECT_EQ(PDFImageCreate(doc, page, "Im0", 0, 10, 8), nullptr);
  EXPECT_NE(std::string(PDFErrorText(doc)), "");
  EXPECT_EQ(PDFImageCreate(doc, page, "Im0", 10, 10, 3), nullptr);
  EXPECT_EQ(PDFPageAddContents(doc, page, nullptr, "zz", 1, nullptr), 0);
  EXPECT_EQ(PDFSetVersion(doc, 99), 0);
  // A DCT filter over 1-bit samples cannot be coded: the close reports it and writes nothing usable.
  PDFObj* img = PDFImageCreate(doc, page, "Im1", 8, 8, 1);
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(PDFSetStreamFilter(doc, img, PDF_FILTER_DCT, nullptr), 1);
  const uint8_t rows[8] = {};
  ASSERT_EQ(PDFAppendStream(doc, img, rows, sizeof rows), 1);
  EXPECT_EQ(PDFCloseFile(doc, 1), 0);
  EXPECT_EQ(PDFOpenFilenameEx("/nonexistent-dir/x.pdf", 'w', nullptr, &error), nullptr);
  EXPECT_EQ(error, PDF_ERR_OPEN);
}

// Bytes the whole process holds on its heap now: the PDF library's and qpdf's as well as ours.
size_t live_heap() {
#ifdef PDFTEST_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// A page's samples are coded when the page closes, not held to the end: the heap after twenty
// grey pages is that after one, give or take less than a page, and every page still carries its
// own samples.
TEST_F(PdfWrite, HeapStaysFlatAcrossGreyPages) {
  const int w = monotest::sanitizer_sized(2500, 500), h = monotest::sanitizer_sized(3300, 660);
  constexpr int kPages = 20;
  const size_t pageBytes = static_cast<size_t>(w) * h;
  std::vector<uint8_t> samples = contone(w, h, 1);
  const std::string path = dir.file("grey.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr) << error;
  size_t afterFirst = 0;
  for (int i = 0; i < kPages; ++i) {
    samples[static_cast<size_t>(i)] = static_cast<uint8_t>(i);  // each page its own
    PDFObj* page = PDFAddPage(doc);
    ASSERT_NE(page, nullptr) << PDFErrorText(doc);
    ASSERT_EQ(PDFPageAddMediaBox(doc, page, 0, 0, w * 0.24, h * 0.24), 1) << PDFErrorText(doc);
    PDFObj* img = PDFImageCreate(doc, page, "Im0", w, h, 8);
    ASSERT_NE(img, nullptr) << PDFErrorText(doc);
    ASSERT_EQ(PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_GRAY), 1) << PDFErrorText(doc);
    ASSERT_EQ(PDFSetStreamFilter(doc, img, PDF_FILTER_FLATE, nullptr), 1) << PDFErrorText(doc);
    ASSERT_EQ(PDFAppendStream(doc, img, samples.data(), samples.size()), 1) << PDFErrorText(doc);
    ASSERT_EQ(PDFPageAddContents(doc, page, img, "cm", w * 0.24, 0.0, 0.0, h * 0.24, 0.0, 0.0, nullptr), 1)
        << PDFErrorText(doc);
    ASSERT_EQ(PDFPageClose(doc, page), 1) << PDFErrorText(doc);
    // Data given to a closed page's stream would be lost: it is refused.
    EXPECT_EQ(PDFAppendStream(doc, img, samples.data(), 1), 0);
    if (i == 0) afterFirst = live_heap();
  }
  const size_t afterLast = live_heap();
  EXPECT_LT(afterLast, afterFirst + pageBytes) << "first page " << afterFirst << ", last " << afterLast;
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);

  EXPECT_EQ(run_tool("qpdf --check " + shell_quote(path) + " > /dev/null").exit_code, 0);
  const auto rows = list_images(path);
  ASSERT_EQ(rows.size(), static_cast<size_t>(kPages));
  for (const ListRow& r : rows) {
    EXPECT_EQ(r.enc, "image");
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
  }
  for (int n : {1, kPages}) {
    const std::string base = dir.file("p" + std::to_string(n));
    ASSERT_EQ(run_tool("pdfimages -f " + std::to_string(n) + " -l " + std::to_string(n) + " " + shell_quote(path) +
                       " " + shell_quote(base))
                  .exit_code,
              0);
    // pdfimages gives grey samples as PPM, each sample three times.
    const std::string ppm = read_file(base + "-000.ppm");
    ASSERT_GE(ppm.size(), 3 * pageBytes);
    std::vector<uint8_t> got(pageBytes);
    const char* rgb = ppm.data() + ppm.size() - 3 * pageBytes;
    for (size_t i = 0; i < pageBytes; ++i) got[i] = static_cast<uint8_t>(rgb[3 * i]);
    std::vector<uint8_t> expected = contone(w, h, 1);
    for (int i = 0; i < n; ++i) expected[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    EXPECT_TRUE(got == expected) << "page " << n;
  }
}

}  // namespace
