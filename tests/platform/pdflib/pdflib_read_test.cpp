// The PDF library's reading side against fixtures made at run time with Ghostscript and qpdf:
// the images, positions and operators of their pages as the content parser reports them beside
// what pdfimages -list sees, stream data decoded beside the samples drawn, forms with their own
// resources and matrices, encryption with passwords, and damaged files that must be refused or
// read without harm.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "kvng.h"
#include "kvng_print.h"
#include "pdflib.h"
#include "tools.h"

namespace {

using monotest::read_file;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
    if (i % 40 == 39) s += '\n';
  }
  return s;
}

std::vector<uint8_t> pattern(size_t n, int seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + (i / 80) * 3 + static_cast<size_t>(seed)) & 0xff);
  return v;
}

struct Seen {
  std::string name;
  int width = 0, height = 0, bits = 0, kind = -1;
  double ctm[6] = {};
  std::vector<uint8_t> decoded;
};

struct Collector {
  std::vector<Seen> images;
  std::vector<std::string> operators;
  std::vector<int32_t> events;
};

// Do: an image is recorded with the current matrix, a form is run in place.
int on_do(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* c = static_cast<Collector*>(data);
  int status = 1;
  char* name = PDFPopNameOperand(parser, &status);
  if (!status || !name) return 1;
  PDFObj* xo = parser->xobjects ? PDFGetDictEntry(doc, parser->xobjects, name) : nullptr;
  const std::string n = name;
  kvng_internal_free(name);
  if (!xo) return 1;
  PDFObj* subtype = PDFGetDictEntry(doc, xo, "Subtype");
  if (subtype && PDFStringTestCString(doc, subtype, "Form")) return PDFExtractFormItems(doc, xo, parser, parser->page);
  PDFImage* image = PDFStreamToImage(doc, xo);
  if (!image) return 1;
  Seen s;
  s.name = n;
  s.width = image->width;
  s.height = image->height;
  s.bits = PDFGetImageBits(doc, image);
  s.kind = image->colorSpace ? image->colorSpace->kind : -1;
  std::memcpy(s.ctm, parser->gstate->ctm, sizeof s.ctm);
  if (KVngSB* sb = PDFGetStreamData(doc, image->stream)) {
    size_t len = 0;
    const unsigned char* bytes = KVngSBData(sb, &len);
    s.decoded.assign(bytes, bytes + len);
  }
  c->images.push_back(s);
  return 1;
}

int on_any(PDFDoc*, void* data, PDFParser* parser) {
  static_cast<Collector*>(data)->operators.push_back(parser->operatorName ? parser->operatorName : "?");
  return 1;
}

int on_event(PDFDoc*, void* data, PDFParser*, int32_t event) {
  static_cast<Collector*>(data)->events.push_back(event);
  return 1;
}

// Runs page 0 with the image collector (and every operator's name when asked).
int run_page(PDFDoc* doc, Collector* c, bool operators = false) {
  int32_t n = 0;
  PDFObj** pages = PDFGetPageList(doc, &n);
  PDFObj* page = pages && n > 0 ? pages[0] : nullptr;
  kvng_internal_free(pages);
  if (!page) return 0;
  if (operators) {
    for (int32_t code = 1; code < PDF_OP_COUNT; ++code) PDFRegisterOperatorCallback(doc, code, on_any, c);
  }
  PDFAddOperatorCallback(doc, PDF_OP_Do, on_do, c);
  PDFRegisterEventCallback(doc, on_event, c);
  return PDFExtractPageItems(doc, 0, page);
}

struct ListRow {
  std::string type, color, enc;
  int width = 0, height = 0, bpc = 0, xppi = 0, yppi = 0;
};

std::vector<ListRow> list_images(const std::string& path, const std::string& password = "") {
  const auto r = run_tool("pdfimages -list " + (password.empty() ? "" : "-upw " + password + " ") + shell_quote(path));
  EXPECT_EQ(r.exit_code, 0);
  std::istringstream in(r.output);
  std::string line;
  std::vector<ListRow> rows;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n < 2) continue;
    std::istringstream f(line);
    std::string page, num, comp, interp, object, id, size, ratio;
    ListRow row;
    f >> page >> num >> row.type >> row.width >> row.height >> row.color >> comp >> row.bpc >> row.enc >> interp >>
        object >> id >> row.xppi >> row.yppi;
    rows.push_back(row);
  }
  return rows;
}

// The resolution pdfimages reports for an image painted through ctm.
int ppi(int samples, double a, double b) { return static_cast<int>(std::lround(samples * 72.0 / std::hypot(a, b))); }

const char* list_color(int kind) {
  switch (kind) {
    case PDF_CS_DEVICE_GRAY:
      return "gray";
    case PDF_CS_DEVICE_RGB:
      return "rgb";
    case PDF_CS_DEVICE_CMYK:
      return "cmyk";
    default:
      return "?";
  }
}

class PdfRead : public ::testing::Test {
 protected:
  void SetUp() override {
    monotest::require_tool("gs", "ghostscript");
    monotest::require_tool("qpdf", "qpdf");
    monotest::require_tool("pdfimages", "poppler-utils");
  }

  // A page drawn by Ghostscript: an 8-bit gray image and an RGB image, both Flate-coded (kept
  // lossless), and a 1-bit image; each big enough to be an XObject.
  std::string gs_document() {
    const std::string ps = dir.file("page.ps");
    std::ostringstream p;
    p << "%!PS\n<< /PageSize [400 300] >> setpagedevice\n"
      << "gsave 20 30 translate 80 60 scale 80 60 8 [80 0 0 -60 0 60] <" << hex(gray) << "> image grestore\n"
      << "gsave 150 40 translate 120 90 scale 64 48 8 [64 0 0 -48 0 48] <" << hex(rgb)
      << "> false 3 colorimage grestore\n"
      << "gsave 40 150 translate 320 120 scale 320 120 1 [320 0 0 -120 0 120] <" << hex(bits) << "> image grestore\n"
      << "showpage\n";
    monotest::write_file(ps, p.str());
    const std::string pdf = dir.file("gs.pdf");
    const auto r = run_tool("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dAutoFilterGrayImages=false "
                            "-dGrayImageFilter=/FlateEncode -dAutoFilterColorImages=false "
                            "-dColorImageFilter=/FlateEncode -dEncodeMonoImages=true -dMonoImageFilter=/CCITTFaxEncode "
                            "-dDownsampleGrayImages=false -dDownsampleColorImages=false -dDownsampleMonoImages=false "
                            "-sOutputFile=" +
                            shell_quote(pdf) + " " + shell_quote(ps));
    EXPECT_EQ(r.exit_code, 0);
    return pdf;
  }

  TempDir dir;
  std::vector<uint8_t> gray = pattern(80 * 60, 1);
  std::vector<uint8_t> rgb = pattern(64 * 48 * 3, 2);
  std::vector<uint8_t> bits = pattern(40 * 120, 3);
};

TEST_F(PdfRead, GhostscriptImagesPositionsAndSamples) {
  const std::string path = gs_document();
  int32_t error = -1;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'r', nullptr, &error);
  ASSERT_NE(doc, nullptr) << error;
  Collector c;
  ASSERT_EQ(run_page(doc, &c), 1) << PDFErrorText(doc);
  EXPECT_EQ(c.events, (std::vector<int32_t>{PDF_EVENT_CONTENT_END, PDF_EVENT_EXTRACT_END}));
  const auto rows = list_images(path);
  ASSERT_EQ(c.images.size(), rows.size());
  ASSERT_EQ(c.images.size(), 3u);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Seen& s = c.images[i];
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.width, rows[i].width);
    EXPECT_EQ(s.height, rows[i].height);
    EXPECT_EQ(s.bits, rows[i].bpc);
    EXPECT_STREQ(list_color(s.kind), rows[i].color.c_str());
    EXPECT_EQ(ppi(s.width, s.ctm[0], s.ctm[1]), rows[i].xppi);
    EXPECT_EQ(ppi(s.height, s.ctm[2], s.ctm[3]), rows[i].yppi);
  }
  // Lossless filters give back the samples drawn; the 1-bit image comes through the fax decoder
  // (Ghostscript may store it inverted with a Decode array, so compare either polarity).
  EXPECT_EQ(c.images[0].decoded, gray);
  EXPECT_EQ(c.images[1].decoded, rgb);
  EXPECT_EQ(rows[2].enc, "ccitt");
  std::vector<uint8_t> inverted(bits);
  for (auto& b : inverted) b = static_cast<uint8_t>(~b);
  EXPECT_TRUE(c.images[2].decoded == bits || c.images[2].decoded == inverted);
  // Placement: the gray image sits at (20, 30) with size 80 by 60 points.
  EXPECT_NEAR(c.images[0].ctm[4], 20, 0.01);
  EXPECT_NEAR(c.images[0].ctm[5], 30, 0.01);
  PDFCloseFile(doc, 0);
}

// A form with its own matrix and resources, painted twice: the image inside is reported with the
// page's, the form's and its own matrices combined, as pdfimages sees it.
TEST_F(PdfRead, FormsAndOperators) {
  const std::string raw = dir.file("form.raw");
  const std::string img(16 * 8, '\x80');
  const std::string content =
      "q 2 0 0 2 10 10 cm /Fm Do Q q 1 0 0 1 100 0 cm /Fm Do Q "
      "BT /F1 12 Tf 10 10 Td (a \\(b\\)) Tj ET 0.5 g 0 0 10 10 re f";
  const std::string form = "q 16 0 0 8 0 0 cm /Im Do Q";
  std::string text = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                     "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                     "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 300 200]/Contents 4 0 R"
                     "/Resources<</XObject<</Fm 5 0 R>>/Font<</F1<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>>>>>>>"
                     "endobj\n";
  text += "4 0 obj<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream endobj\n";
  text += "5 0 obj<</Type/XObject/Subtype/Form/BBox[0 0 50 50]/Matrix[1 0 0 1 5 5]/Resources<</XObject<</Im 6 0 R>>>>"
          "/Length " +
          std::to_string(form.size()) + ">>stream\n" + form + "\nendstream endobj\n";
  text += "6 0 obj<</Type/XObject/Subtype/Image/Width 16/Height 8/BitsPerComponent 8/ColorSpace/DeviceGray/Length " +
          std::to_string(img.size()) + ">>stream\n" + img + "\nendstream endobj\n";
  text += "trailer<</Root 1 0 R>>\n%%EOF\n";
  monotest::write_file(raw, text);
  const std::string path = dir.file("form.pdf");
  ASSERT_EQ(run_tool("qpdf --stream-data=preserve " + shell_quote(raw) + " " + shell_quote(path) + " 2>/dev/null").exit_code % 3, 0);

  int32_t error = -1;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'r', nullptr, &error);
  ASSERT_NE(doc, nullptr) << error;
  Collector c;
  ASSERT_EQ(run_page(doc, &c, true), 1) << PDFErrorText(doc);
  const auto rows = list_images(path);
  ASSERT_EQ(c.images.size(), 2u);
  ASSERT_EQ(rows.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(ppi(16, c.images[i].ctm[0], c.images[i].ctm[1]), rows[i].xppi);
    EXPECT_EQ(ppi(8, c.images[i].ctm[2], c.images[i].ctm[3]), rows[i].yppi);
  }
  EXPECT_EQ(std::vector<double>(c.images[0].ctm, c.images[0].ctm + 6), (std::vector<double>{32, 0, 0, 16, 20, 20}));
  EXPECT_EQ(std::vector<double>(c.images[1].ctm, c.images[1].ctm + 6), (std::vector<double>{16, 0, 0, 8, 105, 5}));
  EXPECT_EQ(c.images[0].decoded, std::vector<uint8_t>(img.begin(), img.end()));
  // A form's Do is reported before the form runs.
  const std::vector<std::string> ops = {"q",  "cm", "Do", "q",  "cm", "Do", "Q",  "Q",  "q", "cm", "Do", "q",
                                        "cm", "Do", "Q",  "Q",  "BT", "Tf", "Td", "Tj", "ET", "g",  "re", "f"};
  EXPECT_EQ(c.operators, ops);
  PDFCloseFile(doc, 0);
}

TEST_F(PdfRead, EncryptedDocuments) {
  const std::string plain = gs_document();
  const std::string locked = dir.file("locked.pdf");
  ASSERT_EQ(run_tool("qpdf --encrypt user owner 256 -- " + shell_quote(plain) + " " + shell_quote(locked)).exit_code,
            0);
  for (const char* wrong : {static_cast<const char*>(nullptr), "", "User", "nope"}) {
    int32_t error = -1;
    EXPECT_EQ(PDFOpenFilenameEx(locked.c_str(), 'r', wrong, &error), nullptr);
    EXPECT_EQ(error, PDF_ERR_PASSWORD) << (wrong ? wrong : "(none)");
  }
  for (const char* right : {"user", "owner"}) {
    int32_t error = -1;
    PDFDoc* doc = PDFOpenFilenameEx(locked.c_str(), 'r', right, &error);
    ASSERT_NE(doc, nullptr) << right << " " << error;
    Collector c;
    ASSERT_EQ(run_page(doc, &c), 1) << PDFErrorText(doc);
    ASSERT_EQ(c.images.size(), list_images(locked, "user").size());
    EXPECT_EQ(c.images[0].decoded, gray);
    PDFCloseFile(doc, 0);
  }
}

// A typed UTF-8 password opens the document whatever form its writer stored the password in, from
// a file and from memory alike, and the document opened after forms that failed reads its page.
TEST_F(PdfRead, EncryptedDocumentsOpenWithThePasswordInAnyStoredForm) {
  const std::string plain = gs_document();
  const struct {
    const char* encrypt;  // qpdf options and --encrypt arguments
    const char* typed;
  } cases[] = {
      // Stored in PDFDocEncoding: 0xE9.
      {"--allow-weak-crypto --encrypt 's\xC3\xA9same' o 128 --use-aes=n", "s\xC3\xA9same"},
      // Stored as the typed UTF-8 bytes.
      {"--allow-weak-crypto --password-mode=bytes --encrypt 's\xC3\xA9same' o 128 --use-aes=y", "s\xC3\xA9same"},
      {"--encrypt 'I\xC2\xADX' o 256", "I\xC2\xADX"},
      // Stored in SASLprep form, which drops the soft hyphen.
      {"--encrypt IX o 256", "I\xC2\xADX"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encrypt);
    const std::string locked = dir.file("locked" + std::to_string(n++) + ".pdf");
    ASSERT_EQ(run_tool(std::string("qpdf ") + c.encrypt + " -- " + shell_quote(plain) + " " + shell_quote(locked))
                  .exit_code,
              0);
    const std::string bytes = read_file(locked);
    for (bool memory : {false, true}) {
      int32_t error = -1;
      PDFDoc* doc = memory ? PDFOpenMemoryEx(bytes.data(), bytes.size(), c.typed, &error)
                           : PDFOpenFilenameEx(locked.c_str(), 'r', c.typed, &error);
      ASSERT_NE(doc, nullptr) << memory << " " << error;
      Collector collected;
      ASSERT_EQ(run_page(doc, &collected), 1) << PDFErrorText(doc);
      ASSERT_FALSE(collected.images.empty());
      EXPECT_EQ(collected.images[0].decoded, gray);
      PDFCloseFile(doc, 0);
      error = -1;
      EXPECT_EQ(memory ? PDFOpenMemoryEx(bytes.data(), bytes.size(), "sesame", &error)
                       : PDFOpenFilenameEx(locked.c_str(), 'r', "sesame", &error),
                nullptr);
      EXPECT_EQ(error, PDF_ERR_PASSWORD);
    }
  }
}

// Damaged documents: refused with a reason, or read as far as they go; never a crash or a
// read out of bounds (the ASan build runs this too).
TEST_F(PdfRead, DamagedDocumentsAreRefusedOrReadSafely) {
  const std::string good = read_file(gs_document());
  int32_t error = -1;
  EXPECT_EQ(PDFOpenMemoryEx("not a pdf at all", 16, nullptr, &error), nullptr);
  EXPECT_EQ(error, PDF_ERR_DAMAGED);
  EXPECT_EQ(PDFOpenMemoryEx("", 0, nullptr, &error), nullptr);
  EXPECT_EQ(PDFOpenFilenameEx(dir.file("missing.pdf").c_str(), 'r', nullptr, &error), nullptr);
  EXPECT_EQ(error, PDF_ERR_OPEN);

  std::vector<std::string> damaged;
  for (size_t cut : {good.size() / 8, good.size() / 3, good.size() / 2, good.size() - 40, good.size() - 5}) {
    damaged.push_back(good.substr(0, cut));
  }
  for (size_t step = 97; step < good.size(); step += good.size() / 13) {
    std::string flipped = good;
    for (size_t i = step; i < flipped.size(); i += 997) flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
    damaged.push_back(flipped);
  }
  int opened = 0;
  for (const std::string& bytes : damaged) {
    error = -1;
    PDFDoc* doc = PDFOpenMemoryEx(bytes.data(), bytes.size(), nullptr, &error);
    if (!doc) {
      EXPECT_NE(error, PDF_ERR_NONE);
      continue;
    }
    ++opened;
    Collector c;
    if (run_page(doc, &c) != 1) {
      EXPECT_NE(std::string(PDFErrorText(doc)), "");
    }
    PDFCloseFile(doc, 0);
  }
  EXPECT_GT(opened, 0);  // qpdf repairs some of them: those are read too
}

void keep_message(void* data, int, const char* text) { *static_cast<std::string*>(data) += text; }

// Opening lists every page, so a page tree past the document budget is refused at opening, the
// budget named, whether the tree tells its size or understates it; one page object listed
// again and again counts each time, as opening copies it for each place.
TEST(PdfPageTree, DocumentsPastThePageBudgetAreRefusedAtOpening) {
  struct Case {
    const char* name;
    std::vector<std::string> objects;
    const char* expected;
  };
  constexpr int kPages = 100001;
  std::string kids;
  for (int i = 0; i < kPages; ++i) kids += "3 0 R ";
  std::vector<std::string> told = {"<</Type/Catalog/Pages 2 0 R>>",
                                   "<</Type/Pages/Kids[3 0 R]/Count " + std::to_string(kPages) + ">>",
                                   "<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]>>"};
  std::vector<std::string> repeated = {"<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[" + kids + "]/Count 1>>",
                                       "<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]>>"};
  const Case cases[] = {
      {"count told", told, "it claims 100001 pages, more than the budget of 100000 pages"},
      {"count understated", repeated, "it has more than the budget of 100000 pages"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = monotest::pdf_of_objects(c.objects);
    std::string messages;
    KVngSetPrinter(keep_message, &messages);
    int32_t error = -1;
    PDFDoc* doc = PDFOpenMemoryEx(bytes.data(), bytes.size(), nullptr, &error);
    KVngSetPrinter(nullptr, nullptr);
    EXPECT_EQ(doc, nullptr);
    if (doc) PDFCloseFile(doc, 0);
    EXPECT_EQ(error, PDF_ERR_UNSUPPORTED);
    EXPECT_NE(messages.find(c.expected), std::string::npos) << messages;
  }
  // Within the budget the same tree opens, every page listed.
  const std::string small = monotest::pdf_of_objects({"<</Type/Catalog/Pages 2 0 R>>",
                                               "<</Type/Pages/Kids[3 0 R 3 0 R 3 0 R]/Count 3>>",
                                               "<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]>>"});
  int32_t error = -1;
  PDFDoc* doc = PDFOpenMemoryEx(small.data(), small.size(), nullptr, &error);
  ASSERT_NE(doc, nullptr) << error;
  int32_t count = 0;
  kvng_internal_free(PDFGetPageList(doc, &count));
  EXPECT_EQ(count, 3);
  PDFCloseFile(doc, 0);
}

}  // namespace
