// The XPS writer through its objects, as the interpreter drives it, and monodoc xps. Packages
// are judged by unzip, by mutool's renders and by our XPS reader; the settings by a script that
// stands in for the writing script and records what it is handed.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "dio.h"
#include "writer_fixture.h"
#include "tools.h"
#include "dio_backends.h"
#include "xps_image.h"
#include "xps_package.h"
#include "xps_sign_support.h"

namespace {

using monotest::RefBitmap;
using monotest::run_tool;
using monotest::shell_quote;

struct Raster {
  int width = 0, height = 0, channels = 0;
  std::string pixels;  // 8 bits per sample
};

// A PGM (P5) or PPM (P6) of maximum 255.
Raster read_pnm(const std::string& bytes) {
  Raster r;
  std::istringstream in(bytes);
  std::string magic;
  int max = 0;
  in >> magic >> r.width >> r.height >> max;
  in.get();
  r.channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
  if (!r.channels || max != 255) return Raster{};
  r.pixels = bytes.substr(static_cast<size_t>(in.tellg()));
  return r;
}

bool black(const RefBitmap& b, int x, int y) { return b.bits[y * b.stride + x / 8] & (0x80 >> (x % 8)); }

// How many pixels of a grey render disagree with the bitmap (dark: below half). The page is
// rounded up to whole 1/96 inch, so the render may be a few pixels wider and taller: white there.
int differences(const Raster& r, const RefBitmap& b) {
  if (r.width < b.width || r.width > b.width + 4 || r.height < b.height || r.height > b.height + 4 || r.channels != 1) {
    return -1;
  }
  int wrong = 0;
  for (int y = 0; y < r.height; ++y) {
    for (int x = 0; x < r.width; ++x) {
      const bool dark = static_cast<uint8_t>(r.pixels[static_cast<size_t>(y) * r.width + x]) < 128;
      wrong += dark != (x < b.width && y < b.height && black(b, x, y));
    }
  }
  return wrong;
}

// What the stand-in writing script was handed, one line per run: the operation, then every
// argument as name=value in the order given.
std::vector<std::string> script_runs;

int recording_script(void*, elf_object* args, elf_object**) {
  std::string line;
  for (int32_t i = 0; i < elflistLength(args); ++i) {
    auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(args, i));
    line += std::string(i ? " " : "") + ident->name + "=";
    elf_object* v = ident->value;
    if (elfIsType(v, "STRING")) line += reinterpret_cast<elf_STRING*>(v)->value;
    else if (elfIsType(v, "INTEGER")) line += std::to_string(reinterpret_cast<elf_INTEGER*>(v)->value);
    else if (v) line += std::string("<") + v->typeName + ">";
  }
  script_runs.push_back(line);
  return 0;
}

class XpsWriter : public monotest::WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    monotest::require_tool("mutool", "mupdf-tools");
    monotest::require_tool("unzip", "unzip");
    script_runs.clear();
  }
  elf_object* writer(const std::string& path) { return make_writer(path, "xps", true); }
  void set_text(elf_object* w, const char* name, const char* value) {
    elf_object* args = lstBuildArgs(state, "name:s", name, 0, "obj:s", value, 0, LST_END);
    ASSERT_EQ(call(w, "setAttr", args), QEL_STATUS_OK) << status_message();
    elfDiscard(args);
  }
  // A reader of the package through MakeDocReader, kept until the test ends.
  elf_object* reader(const std::string& path) {
    const int status = call_context(MakeDocReader, args(lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END)));
    elf_object* r = nullptr;
    if (status != QEL_STATUS_OK || !lstScanArgs(result, "docrd:DOCUMENTREADER", LST_REQUIRED, &r, LST_END)) {
      ADD_FAILURE() << "MakeDocReader: " << status_message() << engine_messages;
      return nullptr;
    }
    return keep(r);
  }
  // Page n of a reader, kept until the test ends; null with a failure recorded.
  elf_object* page(elf_object* r, int32_t n) {
    if (call(r, "getPage", args(lstBuildArgs(state, "pgnum:i", n, 0, LST_END))) != QEL_STATUS_OK) {
      ADD_FAILURE() << "getPage " << n << ": " << status_message() << engine_messages;
      return nullptr;
    }
    elf_object* image = nullptr;
    EXPECT_EQ(lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &image, LST_END), 1);
    return image ? keep(image) : nullptr;
  }
  elf_object* args(elf_object* list) { return keep(list); }
  int add(elf_object* w, elf_object* image, const char* member = "appendPage") {
    elf_object* args = lstBuildArgs(state, "pgImg:QELIMAGE", image, 0, LST_END);
    const int status = call(w, member, args);
    elfDiscard(args);
    return status;
  }
  void record_script() {
    ASSERT_EQ(elfRegisterProcedure(state, ELF_SCRIPT, "docio/docioXPSWrite.elf", recording_script), 0);
  }

  monotest::TempDir dir;
};

TEST_F(XpsWriter, BilevelPagesRenderAndReadBackExactly) {
  const std::vector<RefBitmap> pages = {monotest::make_text_blobs(420, 300, 3), monotest::make_lines(333, 517, 5)};
  const std::string path = dir.file("pages.xps");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(add(w, bilevel_image(pages[0])), QEL_STATUS_OK) << status_message();
  // Inserting appends, whatever position is asked for.
  ASSERT_EQ(add(w, bilevel_image(pages[1]), "insertPage"), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(call(w, "release"), QEL_STATUS_OK) << status_message() << engine_messages;

  const auto test = run_tool("unzip -t " + shell_quote(path));
  EXPECT_EQ(test.exit_code, 0) << test.output;
  const std::string stem = dir.file("render");
  const auto draw = run_tool("mutool draw -q -r 300 -c gray -o " + shell_quote(stem + "%d.pgm") + " " + shell_quote(path));
  ASSERT_EQ(draw.exit_code, 0) << draw.output;
  for (size_t i = 0; i < pages.size(); ++i) {
    const Raster r = read_pnm(monotest::read_file(stem + std::to_string(i + 1) + ".pgm"));
    EXPECT_EQ(differences(r, pages[i]), 0) << "page " << i + 1;
  }

  // Read back through the XPS back end's reader slots, as the interpreter reads documents.
  elf_object* r = reader(path);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(call(r, "getPageCount"), QEL_STATUS_OK) << status_message();
  int32_t count = 0;
  ASSERT_EQ(lstScanArgs(result, "num:INTEGER", LST_REQUIRED, &count, LST_END), 1);
  ASSERT_EQ(count, 2);
  for (int32_t n = 1; n <= 2; ++n) {
    elf_object* image = page(r, n);
    ASSERT_NE(image, nullptr);
    const RefBitmap& want = pages[static_cast<size_t>(n - 1)];
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(l->kind, QEL_KIND_BILEVEL);
    const elf_QELHDR* h = qelHdr(l->description);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->width, want.width);
    EXPECT_EQ(h->height, want.height);
    const auto* data = reinterpret_cast<const elf_POINTER*>(l->data);
    ASSERT_NE(data, nullptr);
    const bool oneIsBlack = h->photometric == QEL_PHOTO_BILEVEL;
    const size_t stride = static_cast<size_t>(h->bytesPerRow[0]);
    ASSERT_GE(data->length, stride * want.height);
    int wrong = 0;
    for (int y = 0; y < want.height; ++y) {
      for (int x = 0; x < want.width; ++x) {
        const bool bit = static_cast<const uint8_t*>(data->data)[y * stride + x / 8] & (0x80 >> (x % 8));
        wrong += (bit == oneIsBlack) != black(want, x, y);
      }
    }
    EXPECT_EQ(wrong, 0) << "page " << n;
  }
  // A page outside the document gives no image; the checksum folds the whole file.
  elf_object* outside = args(lstBuildArgs(state, "pgnum:i", 3, 0, LST_END));
  EXPECT_NE(call(r, "getPage", outside), QEL_STATUS_OK);
  ASSERT_EQ(call(r, "getChecksum"), QEL_STATUS_OK) << status_message();
  int32_t sum = 0;
  ASSERT_EQ(lstScanArgs(result, "sum:INTEGER", LST_REQUIRED, &sum, LST_END), 1);
  const std::string bytes = monotest::read_file(path);
  ASSERT_GT(bytes.size(), 8192u);
  EXPECT_EQ(static_cast<uint32_t>(sum), __DIO_calculateChecksum(0, bytes.data(), static_cast<int32_t>(bytes.size())));
  EXPECT_EQ(call(r, "release"), QEL_STATUS_OK);
}

// Text layers become invisible Glyphs in an embedded, obfuscated font: mutool extracts the words,
// and reading the package back gives the page a text layer of XPS text.
TEST_F(XpsWriter, TextLayersBecomeGlyphsThatToolsExtract) {
  const std::string path = dir.file("text.xps");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  elf_object* image = bilevel_image(monotest::make_text_blobs(600, 400, 4));
  const std::string xml = "<Page><Glyphs x0=\"40\" xw=\"400\" yb=\"120\" yh=\"40\" famStyle=\"0\" str=\"Quarterly &amp; "
                          "report\"/><Glyphs x0=\"40\" xw=\"85\" yb=\"300\" yh=\"30\" famStyle=\"5\" "
                          "str=\"Zürich\"/></Page>";
  ASSERT_EQ(QELAppendLayer(image, "text", QELNewTextLayer(state, QEL_TEXT_XML, xml.data(), xml.size(), 600, 400, 300, 300)),
            QEL_STATUS_OK);
  // Plain text cannot be placed: it is left out, the page is still written.
  const std::string plain = "not placed";
  ASSERT_EQ(QELAppendLayer(image, "plain",
                           QELNewTextLayer(state, QEL_TEXT_PLAIN, plain.data(), plain.size(), 600, 400, 300, 300)),
            QEL_STATUS_OK);
  ASSERT_EQ(add(w, image), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(add(w, bilevel_image(monotest::make_lines(200, 100, 3))), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(call(w, "release"), QEL_STATUS_OK) << status_message();
  EXPECT_NE(engine_messages.find("Unable to pass plain text data to XPS"), std::string::npos) << engine_messages;

  const auto test = run_tool("unzip -t " + shell_quote(path));
  EXPECT_EQ(test.exit_code, 0) << test.output;
  const auto listed = run_tool("unzip -Z1 " + shell_quote(path));
  EXPECT_NE(listed.output.find(".odttf"), std::string::npos) << listed.output;
  const auto text = run_tool("mutool draw -q -F txt " + shell_quote(path) + " 1 2>&1");
  ASSERT_EQ(text.exit_code, 0) << text.output;
  EXPECT_NE(text.output.find("Quarterly & report"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("Zürich"), std::string::npos) << text.output;
  EXPECT_EQ(text.output.find("not placed"), std::string::npos) << text.output;
  EXPECT_EQ(text.output.find("annot"), std::string::npos) << text.output;  // mupdf's "cannot load font"
  // The text is invisible: the page renders to its image alone.
  const std::string stem = dir.file("t");
  ASSERT_EQ(run_tool("mutool draw -q -r 300 -c gray -o " + shell_quote(stem + "%d.pgm") + " " + shell_quote(path)).exit_code, 0);
  EXPECT_EQ(differences(read_pnm(monotest::read_file(stem + "1.pgm")), monotest::make_text_blobs(600, 400, 4)), 0);

  elf_object* r = reader(path);
  ASSERT_NE(r, nullptr);
  elf_object* read = page(r, 1);
  ASSERT_NE(read, nullptr);
  const elf_QELLAYER* glyphs = nullptr;
  for (int32_t i = 0; i < qelImage(read)->layerCount; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(read, i));
    if (l && l->kind == QEL_KIND_TEXT) glyphs = l;
  }
  ASSERT_NE(glyphs, nullptr);
  ASSERT_NE(qelText(glyphs->text), nullptr);
  EXPECT_EQ(qelText(glyphs->text)->kind, QEL_TEXT_XPS);
  const auto* data = reinterpret_cast<const elf_POINTER*>(glyphs->data);
  ASSERT_NE(data, nullptr);
  const std::string runs(static_cast<const char*>(data->data), data->length);
  EXPECT_NE(runs.find("str=\"Quarterly &amp; report\""), std::string::npos) << runs;
  EXPECT_EQ(call(r, "release"), QEL_STATUS_OK);
}

// Text layers without bytes (of both kinds that become Glyphs) leave the page as it is: no
// Glyphs, no font part, and nothing read from where no text is.
TEST_F(XpsWriter, EmptyTextLayersWriteThePageAlone) {
  const std::string path = dir.file("empty.xps");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  elf_object* image = bilevel_image(monotest::make_text_blobs(300, 200, 2));
  for (int kind : {QEL_TEXT_XML, QEL_TEXT_XPS}) {
    const std::string name = "text" + std::to_string(kind);
    ASSERT_EQ(QELAppendLayer(image, name.c_str(), QELNewTextLayer(state, kind, "", 0, 300, 200, 300, 300)),
              QEL_STATUS_OK);
  }
  ASSERT_EQ(add(w, image), QEL_STATUS_OK) << status_message() << engine_messages;
  ASSERT_EQ(call(w, "release"), QEL_STATUS_OK) << status_message();
  const auto listed = run_tool("unzip -Z1 " + shell_quote(path));
  EXPECT_EQ(listed.output.find(".odttf"), std::string::npos) << listed.output;
  const auto page = run_tool("unzip -p " + shell_quote(path) + " Documents/1/Pages/1.fpage");
  EXPECT_NE(page.output.find("ImageBrush"), std::string::npos) << page.output;
  EXPECT_EQ(page.output.find("Glyphs"), std::string::npos) << page.output;
}

// Grey and colour pages read back through the reader slots to their samples exactly.
TEST_F(XpsWriter, GreyAndColourPagesReadBackExactly) {
  struct Case {
    int32_t samples, photometric;
  };
  const std::vector<Case> cases = {{1, 1}, {3, 2}};
  const std::string path = dir.file("depths.xps");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  std::vector<std::string> pixels;
  for (const Case& c : cases) {
    const int32_t width = 37, height = 23, row = width * c.samples;
    std::string px;
    for (int32_t i = 0; i < row * height; ++i) px += static_cast<char>((i * 53 + c.samples * 7) % 256);
    pixels.push_back(px);
    elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
    elf_object* desc = new_QELHDR(state, nullptr, nullptr);
    elf_QELHDR* h = qelHdr(desc);
    h->width = width;
    h->height = height;
    h->samplesPerPixel = c.samples;
    h->photometric = c.photometric;
    h->interleave = 1;
    h->bitsPerSampleCount = h->bytesPerRowCount = 1;
    h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bitsPerSample[0] = 8;
    h->bytesPerRow[0] = row;
    auto* bytes = static_cast<char*>(elfMalloc(px.size()));
    std::copy(px.begin(), px.end(), bytes);
    elf_QELLAYER* l = qelLayer(layer);
    l->kind = QEL_KIND_IMAGE;
    l->xres = l->yres = 200;
    l->width = width;
    l->height = height;
    ELF_ASSIGN(state, &l->description, desc);
    ELF_ASSIGN(state, &l->data, elfNewPointer(state, bytes, px.size()));
    elf_object* image = keep(new_QELIMAGE(state, nullptr, nullptr));
    qelImage(image)->width = width;
    qelImage(image)->height = height;
    qelImage(image)->xres = qelImage(image)->yres = 200;
    ASSERT_EQ(QELAppendLayer(image, "scan", layer), QEL_STATUS_OK);
    ASSERT_EQ(add(w, image), QEL_STATUS_OK) << status_message();
  }
  ASSERT_EQ(call(w, "release"), QEL_STATUS_OK) << status_message();

  elf_object* r = reader(path);
  ASSERT_NE(r, nullptr);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].samples);
    elf_object* image = page(r, static_cast<int32_t>(i + 1));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(qelImage(image)->xres, 200.0);
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
    ASSERT_NE(l, nullptr);
    const elf_QELHDR* h = qelHdr(l->description);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->samplesPerPixel, cases[i].samples);
    ASSERT_EQ(h->bitsPerSample[0], 8);
    const auto* data = reinterpret_cast<const elf_POINTER*>(l->data);
    const size_t row = static_cast<size_t>(h->width * h->samplesPerPixel);
    ASSERT_GE(static_cast<size_t>(h->bytesPerRow[0]), row);
    std::string got;
    for (int32_t y = 0; y < h->height; ++y) {
      got.append(static_cast<const char*>(data->data) + static_cast<size_t>(y) * h->bytesPerRow[0], row);
    }
    EXPECT_EQ(got, pixels[i]);
  }
  EXPECT_EQ(call(r, "release"), QEL_STATUS_OK);
}

// A package whose sequence names no FixedDocument opens, and both page slots say there is no
// document.
TEST_F(XpsWriter, ReaderSlotsReportAPackageWithoutDocuments) {
  const std::string root = dir.file("nodoc");
  ASSERT_EQ(run_tool("mkdir -p " + shell_quote(root + "/_rels")).exit_code, 0);
  monotest::write_file(root + "/[Content_Types].xml",
                       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
                       "Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
                       "Extension=\"fdseq\" ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>"
                       "</Types>");
  monotest::write_file(root + "/_rels/.rels",
                       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"R1\" Type=\"http://schemas.microsoft.com/xps/2005/06/fixedrepresentation\" "
                       "Target=\"/FixedDocumentSequence.fdseq\"/></Relationships>");
  monotest::write_file(root + "/FixedDocumentSequence.fdseq",
                       "<FixedDocumentSequence xmlns=\"http://schemas.microsoft.com/xps/2005/06\"/>");
  const std::string path = dir.file("nodoc.xps");
  ASSERT_EQ(run_tool("cd " + shell_quote(root) + " && zip -q -r " + shell_quote(path) + " .").exit_code, 0);
  elf_object* r = reader(path);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(call(r, "getPageCount"), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "__XPSReadGetPageCount: No document in XPSPackage object\n");
  elf_object* image = nullptr;
  clearStatus(state);
  EXPECT_EQ(dioReader(r)->fns.ReadGetPage(state, dioReader(r)->backend, 1, &image), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "__XPSReadGetPage: No document in XPSPackage object\n");
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(call(r, "release"), QEL_STATUS_OK);
}

TEST_F(XpsWriter, SettingsReachTheScript) {
  record_script();
  elf_object* w = writer(dir.file("settings.xps"));
  ASSERT_NE(w, nullptr);
  set_text(w, "_XPStitle", "Scans");
  set_text(w, "_DIOTmpLocation", "/tmp");
  ASSERT_EQ(add(w, bilevel_image(monotest::make_checkerboard(16, 16, 4))), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(call(w, "release"), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(script_runs.size(), 3u);
  const std::string path = dir.file("settings.xps");
  EXPECT_EQ(script_runs[0], "oper=open outfile=" + path + " package=<XpsPackage> compLevel=0");
  EXPECT_EQ(script_runs[1], "oper=add outfile=" + path +
                                " package=<XpsPackage> compLevel=0 doCoalesce=0 isJPEGXR=0 isTIFF=0 "
                                "page=<QELIMAGE> page_x=<DOUBLE> page_y=<DOUBLE> pgNum=1 unit=0");
  // A temporary location turns security on; test mode fixes the date.
  EXPECT_EQ(script_runs[2], "oper=close outfile=" + path +
                                " package=<XpsPackage> compLevel=0 creator=monodoc libpagefiler XPS writer "
                                "compLevel=0 dateTime=2007-01-01T00:00:00.00Z "
                                "interleaveOrder=XpsNoInterleavingStrategy security=1 title=Scans");
}

TEST_F(XpsWriter, ClearedSettingsHandNoCreatorAndBadStatesAreRefused) {
  record_script();
  elf_object* w = writer(dir.file("cleared.xps"));
  ASSERT_NE(w, nullptr);
  void* backend = dioWriter(w)->backend;
  ASSERT_EQ(dioWriter(w)->fns.SetAttributes(backend, nullptr), 0);
  ASSERT_EQ(call(w, "release"), QEL_STATUS_OK);
  ASSERT_EQ(script_runs.size(), 2u);
  EXPECT_EQ(script_runs[1].find("creator="), std::string::npos) << script_runs[1];
  EXPECT_EQ(script_runs[1].find("interleaveOrder="), std::string::npos) << script_runs[1];

  uint32_t forged[8] = {32, 0xD8D12};
  elf_object* list = keep(lstBuildArgs(state, "_XPStitle:s", "x", 0, LST_END));
  clearStatus(state);
  EXPECT_EQ(dioWriter(w)->fns.SetAttributes(forged, list), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "Invalid internal XPS state.\n");
  elf_object* wrong = keep(lstBuildArgs(state, "_XPStitle:i", 3, 0, LST_END));
  clearStatus(state);
  elf_object* w2 = writer(dir.file("other.xps"));
  ASSERT_NE(w2, nullptr);
  clearStatus(state);
  EXPECT_EQ(dioWriter(w2)->fns.SetAttributes(dioWriter(w2)->backend, wrong), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "List scan error for XPS attributes\n");
}

TEST_F(XpsWriter, FailuresAreReportedAndLeaveNoFile) {
  struct Case {
    const char* what;
    std::string path;
    bool page;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"no folder for the package", dir.file("missing/out.xps"), true, "cannot write"},
      {"no pages", dir.file("empty.xps"), false, "has no pages"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    elf_object* w = writer(c.path);
    ASSERT_NE(w, nullptr);
    if (c.page) {
      ASSERT_EQ(add(w, bilevel_image(monotest::make_checkerboard(8, 8, 2))), QEL_STATUS_OK);
    }
    EXPECT_NE(call(w, "release"), QEL_STATUS_OK);
    EXPECT_NE(status_message().find(c.message), std::string::npos) << status_message();
    EXPECT_NE(access(c.path.c_str(), F_OK), 0);
  }

  // A layer the pages do not take fails its page, and the count stays.
  const std::vector<std::pair<int32_t, const char*>> codings = {{QEL_COMPRESSION_G4, "coded as 3"},
                                                                {QEL_COMPRESSION_JPEG, "no JPEG stream"}};
  for (const auto& [coding, message] : codings) {
    SCOPED_TRACE(message);
    elf_object* w = writer(dir.file("coded.xps"));
    ASSERT_NE(w, nullptr);
    elf_object* image = bilevel_image(monotest::make_checkerboard(8, 8, 2));
    qelHdr(qelLayer(QELGetLayer(image, 0))->description)->compression = coding;
    EXPECT_EQ(add(w, image), QEL_STATUS_INVALID);
    EXPECT_NE(status_message().find(message), std::string::npos) << status_message();
    EXPECT_EQ(dioWriter(w)->pagecnt, 0);
  }

  // A text layer whose XML cannot be read fails its page: no page goes out without its text.
  elf_object* w = writer(dir.file("badtext.xps"));
  ASSERT_NE(w, nullptr);
  elf_object* image = bilevel_image(monotest::make_checkerboard(8, 8, 2));
  const std::string broken = "<Page><Glyphs x0=\"1\"";
  ASSERT_EQ(QELAppendLayer(image, "text",
                           QELNewTextLayer(state, QEL_TEXT_XML, broken.data(), broken.size(), 8, 8, 300, 300)),
            QEL_STATUS_OK);
  EXPECT_EQ(add(w, image), QEL_STATUS_INVALID);
  EXPECT_NE(status_message().find("page 1: text layer 1: QELXML2XPSXML"), std::string::npos) << status_message();
  EXPECT_EQ(dioWriter(w)->pagecnt, 0);
}

// monodoc xps end to end: grey, colour and bilevel page files in one package, lossless in
// mutool's render, the first with a text layer mutool extracts; signed, the signature (over the
// font part too) verifies with xmlsec1.
TEST(XpsMonodoc, PagesOfEveryDepthAndASignature) {
  monotest::require_tool("mutool", "mupdf-tools");
  monotest::require_tool("unzip", "unzip");
  monotest::TempDir dir;
  Raster grey{40, 30, 1, {}}, colour{24, 20, 3, {}};
  for (int i = 0; i < grey.width * grey.height; ++i) grey.pixels += static_cast<char>((i * 37) % 256);
  for (int i = 0; i < colour.width * colour.height * 3; ++i) colour.pixels += static_cast<char>((i * 53 + 7) % 256);
  monotest::write_file(dir.file("grey.pgm"), "P5\n40 30\n255\n" + grey.pixels);
  monotest::write_file(dir.file("colour.ppm"), "P6\n24 20\n255\n" + colour.pixels);
  const RefBitmap bits = monotest::make_text_blobs(64, 48, 9);
  std::string pbm = "P4\n64 48\n";
  pbm.append(reinterpret_cast<const char*>(bits.bits.data()), bits.bits.size());
  monotest::write_file(dir.file("bits.pbm"), pbm);
  monotest::write_file(dir.file("grey.xml"),
                       "<Page><Glyphs x0=\"2\" xw=\"30\" yb=\"20\" yh=\"10\" famStyle=\"0\" str=\"greyscale\"/></Page>");

  const std::string out = dir.file("out.xps");
  const auto& key = xpstest::test_key();
  const auto run = run_tool(std::string(MONODOC_BIN) + " xps --test --sign " + shell_quote(key.p12) + " --password " +
                            shell_quote(key.password) + " --text " + shell_quote(dir.file("grey.xml")) +
                            " -o " + shell_quote(out) + " " +
                            shell_quote(dir.file("grey.pgm")) + " " + shell_quote(dir.file("colour.ppm")) + " " +
                            shell_quote(dir.file("bits.pbm")));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("page 3: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("grey, text " + dir.file("grey.xml")), std::string::npos) << run.output;
  EXPECT_EQ(run_tool("unzip -t " + shell_quote(out)).exit_code, 0);
  const auto text = run_tool("mutool draw -q -F txt " + shell_quote(out) + " 1");
  EXPECT_NE(text.output.find("greyscale"), std::string::npos) << text.output;

  const std::string stem = dir.file("r");
  ASSERT_EQ(run_tool("mutool draw -q -r 300 -c rgb -o " + shell_quote(stem + "%d.ppm") + " " + shell_quote(out)).exit_code, 0);
  // The page is rounded up to whole 1/96 inch: the image's pixels first, white after.
  for (const auto& [page, want] : {std::pair{1, &grey}, std::pair{2, &colour}}) {
    const Raster drawn = read_pnm(monotest::read_file(stem + std::to_string(page) + ".ppm"));
    ASSERT_GE(drawn.width, want->width);
    ASSERT_LE(drawn.width, want->width + 4);
    ASSERT_GE(drawn.height, want->height);
    int wrong = 0;
    for (int y = 0; y < drawn.height; ++y) {
      for (int x = 0; x < drawn.width; ++x) {
        for (int c = 0; c < 3; ++c) {
          const uint8_t got = static_cast<uint8_t>(drawn.pixels[(static_cast<size_t>(y) * drawn.width + x) * 3 + c]);
          const bool inside = x < want->width && y < want->height;
          const size_t at = (static_cast<size_t>(y) * want->width + x) * want->channels + (want->channels == 3 ? c : 0);
          wrong += got != (inside ? static_cast<uint8_t>(want->pixels[at]) : 255);
        }
      }
    }
    EXPECT_EQ(wrong, 0) << "page " << page;
  }

  const std::string root = dir.file("unpacked");
  ASSERT_EQ(run_tool("unzip -q " + shell_quote(out) + " -d " + shell_quote(root)).exit_code, 0);
  const std::string signature = xpstest::signature_part(root);
  ASSERT_FALSE(signature.empty());
  const auto verified = xpstest::xmlsec_verify(root, signature);
  EXPECT_EQ(verified.exit_code, 0) << verified.output;
  // Our reader finds the signature through the package relationships.
  const auto info = run_tool(std::string(MONODOC_BIN) + " info " + shell_quote(out) + " 2>&1");
  EXPECT_EQ(info.exit_code, 0) << info.output;
  EXPECT_NE(info.output.find(": XPS package, 1 document, 1 signature\n"), std::string::npos) << info.output;
}

}  // namespace
