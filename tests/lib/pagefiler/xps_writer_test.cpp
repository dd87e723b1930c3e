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

  XPSPackage* package = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(path.c_str(), &package), 1) << engine_messages;
  XPSFixedDoc* doc = XPSPackageGetDocument(package, 1);
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(XPSFixedDocGetPageCount(doc), 2);
  for (int32_t n = 1; n <= 2; ++n) {
    XPSFixedPage* page = XPSFixedDocGetPage(doc, n);
    QELImage* image = nullptr;
    ASSERT_EQ(XPSFixedPageRender(page, &image), 1) << engine_messages;
    const RefBitmap& want = pages[static_cast<size_t>(n - 1)];
    ASSERT_NE(image->layers, nullptr);
    const QELLayer* l = image->layers;
    ASSERT_EQ(l->kind, QEL_KIND_BILEVEL);
    ASSERT_NE(l->header, nullptr);
    EXPECT_EQ(l->header->width, static_cast<uint32_t>(want.width));
    EXPECT_EQ(l->header->height, static_cast<uint32_t>(want.height));
    const bool oneIsBlack = l->header->photometry == QEL_PHOTO_BILEVEL;
    const size_t stride = static_cast<size_t>(l->header->bytesPerRow[0]);
    ASSERT_GE(l->dataLength, stride * want.height);
    int wrong = 0;
    for (int y = 0; y < want.height; ++y) {
      for (int x = 0; x < want.width; ++x) {
        const bool bit = static_cast<const uint8_t*>(l->data)[y * stride + x / 8] & (0x80 >> (x % 8));
        wrong += (bit == oneIsBlack) != black(want, x, y);
      }
    }
    EXPECT_EQ(wrong, 0) << "page " << n;
    XPSFreeImage(image);
    XPSElementRelease(page);
  }
  XPSElementRelease(doc);
  XPSPackageClose(package);
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
}

// monodoc xps end to end: grey, colour and bilevel page files in one package, lossless in
// mutool's render; signed, the signature verifies with xmlsec1.
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

  const std::string out = dir.file("out.xps");
  const auto& key = xpstest::test_key();
  const auto run = run_tool(std::string(MONODOC_BIN) + " xps --test --sign " + shell_quote(key.p12) + " --password " +
                            shell_quote(key.password) + " -o " + shell_quote(out) + " " +
                            shell_quote(dir.file("grey.pgm")) + " " + shell_quote(dir.file("colour.ppm")) + " " +
                            shell_quote(dir.file("bits.pbm")));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("page 3: "), std::string::npos) << run.output;
  EXPECT_EQ(run_tool("unzip -t " + shell_quote(out)).exit_code, 0);

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
}

}  // namespace
