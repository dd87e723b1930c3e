// The PDF writer through its objects, as the interpreter drives it: MakeDocWriter, setAttr,
// appendPage, release. Files are judged by qpdf, poppler and jbig2dec: structure, page boxes,
// JBIG2 globals shared per section or per dictionary identity, every lossless page's pixels, the
// post-format plug-in's linearization and encryption, and test-mode output byte for byte.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "writer_fixture.h"
#include "jb2_symbol_sample.h"
#include "pdf_fixture.h"
#include "vlt_state.h"

namespace {

using monotest::ReadDoc;
using monotest::RefBitmap;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

constexpr int32_t kJbig2 = 7;

class PdfWriter : public monotest::WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    monotest::require_tool("qpdf", "qpdf");
    monotest::require_tool("pdfimages", "poppler-utils");
    monotest::require_tool("jbig2dec", "jbig2dec");
  }
  void set_attr(elf_object* obj, const char* name, const char* type, int32_t value) {
    const std::string spec = std::string("obj:") + type;
    elf_object* args = lstBuildArgs(state, "name:s", name, 0, spec.c_str(), value, 0, LST_END);
    ASSERT_EQ(call(obj, "setAttr", args), QEL_STATUS_OK) << status_message();
    elfDiscard(args);
  }
  void set_text(elf_object* obj, const char* name, const char* value) {
    elf_object* args = lstBuildArgs(state, "name:s", name, 0, "obj:s", value, 0, LST_END);
    ASSERT_EQ(call(obj, "setAttr", args), QEL_STATUS_OK) << status_message();
    elfDiscard(args);
  }

  // A PDF writer on path; null with a failure recorded.
  elf_object* writer(const std::string& path, bool test = true, const char* subtype = nullptr) {
    return make_writer(path, "pdf", test, subtype);
  }
  // JBIG2 through the library's coder, lossless unless asked.
  void jbig2_attributes(elf_object* w, bool lossless = true, int32_t type = 0) {
    set_attr(w, "_DIObinarycomp", "i", kJbig2);
    set_attr(w, "_DIOjb2type", "i", type);
    if (lossless) set_attr(w, "_DIOjb2lossless", "b", 1);
  }
  int append(elf_object* w, elf_object* image) {
    elf_object* args = lstBuildArgs(state, "pgImg:QELIMAGE", image, 0, LST_END);
    const int status = call(w, "appendPage", args);
    elfDiscard(args);
    return status;
  }
  int32_t page_count(elf_object* w) {
    EXPECT_EQ(call(w, "getPageCount"), QEL_STATUS_OK);
    int32_t n = -1;
    lstScanArgs(result, "num:i", LST_OPTIONAL, &n, LST_END);
    return n;
  }
  int release(elf_object* w) { return call(w, "release"); }

  void expect_sound(const std::string& path) {
    const auto check = run_tool("qpdf --check " + shell_quote(path));
    EXPECT_EQ(check.exit_code, 0) << check.output;
  }

  // Each JBIG2 image's page, as jbig2dec decodes the streams pdfimages takes out, in order.
  std::vector<RefBitmap> decoded_pages(const std::string& path, int count) {
    const std::string stem = dir.file("img");
    EXPECT_EQ(run_tool("pdfimages -all " + shell_quote(path) + " " + shell_quote(stem)).exit_code, 0);
    std::vector<RefBitmap> out;
    for (int i = 0; i < count; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "%s-%03d", stem.c_str(), i);
      const std::string pbm = std::string(name) + ".pbm";
      const auto r = run_tool("jbig2dec -e -t pbm -o " + shell_quote(pbm) + " " + shell_quote(std::string(name) + ".jb2g") +
                              " " + shell_quote(std::string(name) + ".jb2e"));
      EXPECT_EQ(r.exit_code, 0) << r.output;
      out.push_back(monotest::read_pbm(pbm));
    }
    return out;
  }

  // The JBIG2Globals object each image refers to, in page order.
  std::vector<std::string> globals_of(const std::string& path) {
    const std::string qdf = dir.file("qdf.pdf");
    run_tool("qpdf --qdf --object-streams=disable " + shell_quote(path) + " " + shell_quote(qdf));
    const std::string text = monotest::read_file(qdf);
    std::vector<std::string> refs;
    const std::regex ref("/JBIG2Globals ([0-9]+) 0 R");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), ref); it != std::sregex_iterator(); ++it) {
      refs.push_back((*it)[1]);
    }
    return refs;
  }

  TempDir dir;
};

// Raw bilevel pages go to the engine's coder in sections of ten pages: eleven pages give two
// globals streams (ten pages on the first), and every page decodes to its own pixels exactly.
TEST_F(PdfWriter, RawPagesShareGlobalsPerSectionAndDecodeExactly) {
  const std::string path = dir.file("scan.pdf");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  jbig2_attributes(w);
  std::vector<RefBitmap> pages;
  for (int i = 0; i < 11; ++i) {
    pages.push_back(monotest::make_text_blobs(320 + 8 * i, 200, 40 + static_cast<uint32_t>(i)));
    ASSERT_EQ(append(w, bilevel_image(pages.back())), QEL_STATUS_OK) << status_message();
    EXPECT_EQ(page_count(w), i + 1);
  }
  ASSERT_EQ(release(w), QEL_STATUS_OK) << status_message();
  expect_sound(path);
  const auto refs = globals_of(path);
  ASSERT_EQ(refs.size(), 11u);
  EXPECT_EQ(std::set<std::string>(refs.begin(), refs.begin() + 10).size(), 1u);
  EXPECT_NE(refs[10], refs[0]);
  const auto decoded = decoded_pages(path, 11);
  for (size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(monotest::first_difference(pages[i], decoded[i]), "") << i;
}

// Page size from pixels and resolution, rotation normalised to a multiple of 90, and a page that
// fails part-way taken out again: the document holds the pages the count says.
TEST_F(PdfWriter, PageGeometryAndFailedPagesLeaveNoTrace) {
  monotest::require_tool("pdfinfo", "poppler-utils");
  const std::string path = dir.file("geometry.pdf");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  jbig2_attributes(w);
  const RefBitmap letter = monotest::make_text_blobs(2550, 3300, 3);
  const struct {
    int32_t rotate;
    bool ok;
  } cases[] = {{0, true}, {450, true}, {-90, true}, {45, false}};
  int32_t written = 0;
  std::vector<std::string> rotations;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rotate);
    elf_object* image = bilevel_image(letter);
    set_attr(image, "_PDFrotate", "i", c.rotate);
    const int status = append(w, image);
    if (c.ok) {
      ASSERT_EQ(status, QEL_STATUS_OK) << status_message();
      ++written;
    } else {
      EXPECT_EQ(status, QEL_STATUS_INVALID);
      EXPECT_NE(status_message().find("90 degree multiples"), std::string::npos) << status_message();
    }
    EXPECT_EQ(page_count(w), written);
  }
  // A layer kind no writer takes fails the page the same way.
  elf_object* odd = bilevel_image(letter);
  qelLayer(QELGetLayer(odd, 0))->kind = 12;
  EXPECT_EQ(append(w, odd), QEL_STATUS_FAILED);
  EXPECT_NE(messages.find("invalid layerType: 12"), std::string::npos);
  EXPECT_EQ(page_count(w), written);
  ASSERT_EQ(release(w), QEL_STATUS_OK) << status_message();
  expect_sound(path);
  const std::string info = run_tool("pdfinfo -f 1 -l 3 " + shell_quote(path)).output;
  EXPECT_NE(info.find("Pages:           3"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    1 size:  612 x 792 pts (letter)"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    2 rot:   90"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    3 rot:   270"), std::string::npos) << info;
  EXPECT_EQ(decoded_pages(path, 3).size(), 3u);
}

// Layers in JBIG2 already: one globals stream per dictionary identity; a page whose image names
// no identity never takes another page's globals.
TEST_F(PdfWriter, CodedLayersShareGlobalsByIdentity) {
  const int w = 240, h = 96;
  VltState* engine = nullptr;
  ASSERT_EQ(Vlt_initVltState(&engine, nullptr, nullptr, nullptr, nullptr, 1, 0), VLT_OK);
  std::vector<jb2test::EmbeddedStreams> coded;
  std::vector<RefBitmap> want;
  for (uint32_t seed : {7u, 8u}) {
    const jb2test::SymbolPage glyphs = jb2test::glyph_page(monotest::make_text_blobs(w, h, seed));
    want.push_back(jb2test::render(glyphs.shapes, glyphs.placed, w, h));
    coded.push_back(jb2test::symbol_page_embedded(engine, glyphs, jb2test::profile_params(2)));
  }
  Vlt_cleanupVltState(&engine);
  // Pages: dictionary A, A again, B, A without identity, A with identity.
  const struct {
    int which;
    const char* uid;
  } pages[] = {{0, "A"}, {0, "A"}, {1, "B"}, {0, nullptr}, {0, "A"}};
  const std::string path = dir.file("coded.pdf");
  elf_object* wr = writer(path);
  ASSERT_NE(wr, nullptr);
  for (const auto& p : pages) {
    const auto& c = coded[static_cast<size_t>(p.which)];
    elf_object* image = keep(new_QELIMAGE(state, nullptr, nullptr));
    qelImage(image)->width = w;
    qelImage(image)->height = h;
    qelImage(image)->xres = qelImage(image)->yres = 300;
    RefBitmap blank(w, h);
    auto* rows = static_cast<uint8_t*>(elfCalloc(1, blank.bits.size()));
    elf_object* layer = QELNewBilevelLayer(state, w, h, static_cast<int32_t>(blank.stride), rows, blank.bits.size(), 300, 300);
    auto* data = static_cast<uint8_t*>(elfMalloc(c.page.size()));
    std::copy(c.page.begin(), c.page.end(), data);
    ELF_ASSIGN(state, &qelLayer(layer)->data, elfNewPointer(state, data, c.page.size()));
    qelHdr(qelLayer(layer)->description)->compression = kJbig2;
    ASSERT_EQ(QELAppendLayer(image, "page", layer), QEL_STATUS_OK);
    elf_object* dict = new_QELLAYER(state, nullptr, nullptr);
    qelLayer(dict)->kind = QEL_KIND_JBIG2_DICT;
    auto* dictBytes = static_cast<uint8_t*>(elfMalloc(c.globals.size()));
    std::copy(c.globals.begin(), c.globals.end(), dictBytes);
    ELF_ASSIGN(state, &qelLayer(dict)->data, elfNewPointer(state, dictBytes, c.globals.size()));
    ASSERT_EQ(QELAppendLayer(image, QEL_JBIG2_DICT_ENTRY, dict), QEL_STATUS_OK);
    if (p.uid) set_text(image, QEL_ATTR_JB2_DICT_UID, p.uid);
    ASSERT_EQ(append(wr, image), QEL_STATUS_OK) << status_message();
  }
  ASSERT_EQ(release(wr), QEL_STATUS_OK) << status_message();
  expect_sound(path);
  const auto refs = globals_of(path);
  ASSERT_EQ(refs.size(), 5u);
  EXPECT_EQ(refs[0], refs[1]);
  EXPECT_NE(refs[2], refs[1]);
  EXPECT_NE(refs[3], refs[0]);
  EXPECT_NE(refs[3], refs[2]);
  EXPECT_NE(refs[4], refs[3]);
  const auto decoded = decoded_pages(path, 5);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(monotest::first_difference(want[static_cast<size_t>(pages[i].which)], decoded[i]), "") << i;
  }
}

// Test mode gives the same bytes run after run, also through the post-format plug-in; the
// plug-in linearizes and encrypts (revision 3 for PDF 1.4, 6 with AES-256 for 1.7), and an encrypted
// file does not open without its password.
TEST_F(PdfWriter, PostFormatAndTestModeOutput) {
  const RefBitmap page = monotest::make_text_blobs(400, 300, 11);
  const struct {
    const char* name;
    const char* subtype;
    bool linearize, archive;
    const char* password;
    const char* encryption;
  } cases[] = {
      {"plain", nullptr, false, false, nullptr, nullptr},
      {"linear", nullptr, true, false, nullptr, nullptr},
      {"rc4", "v1.4", false, false, "secret", "R = 3"},
      {"aes", "v1.7", true, false, "secret", "R = 6"},
      {"archive", nullptr, true, true, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes[2];
    for (int run = 0; run < 2; ++run) {
      const std::string path = dir.file(std::string(c.name) + std::to_string(run) + ".pdf");
      elf_object* w = writer(path, true, c.subtype);
      ASSERT_NE(w, nullptr);
      jbig2_attributes(w, true);
      if (c.linearize) set_attr(w, "_PDFlinearized", "b", 1);
      if (c.archive) set_attr(w, "_PDFarchive", "b", 1);
      if (c.password) set_text(w, "_PDFpasswd", c.password);
      ASSERT_EQ(append(w, bilevel_image(page)), QEL_STATUS_OK) << status_message();
      ASSERT_EQ(release(w), QEL_STATUS_OK) << status_message();
      bytes[run] = monotest::read_file(path);
      const std::string pw = c.password ? std::string(" --password=") + c.password : "";
      const auto check = run_tool("qpdf --check" + pw + " " + shell_quote(path));
      EXPECT_EQ(check.exit_code, 0) << check.output;
      if (c.linearize) {
        EXPECT_EQ(run_tool("qpdf --check-linearization" + pw + " " + shell_quote(path)).exit_code, 0);
      }
      if (c.encryption) {
        EXPECT_NE(run_tool("qpdf --show-encryption" + pw + " " + shell_quote(path)).output.find(c.encryption),
                  std::string::npos);
        EXPECT_NE(run_tool("qpdf --check " + shell_quote(path)).exit_code, 0) << "opened without the password";
      }
      if (c.archive) {
        const std::string qdf = monotest::read_file(path);
        EXPECT_NE(qdf.find("/OutputIntents"), std::string::npos);
        EXPECT_NE(qdf.find("GTS_PDFA1"), std::string::npos);
        EXPECT_NE(run_tool("qpdf --qdf --object-streams=disable " + shell_quote(path) + " -").output.find("pdfaid:part"),
                  std::string::npos);
      }
    }
    EXPECT_TRUE(bytes[0] == bytes[1]) << "test-mode runs differ";
    if (c.linearize && !c.password) {
      // A linearized file has two trailers; the rewrite fixes the IDs of both.
      const std::string zeros = "<00000000000000000000000000000000><00000000000000000000000000000000>";
      const size_t first = bytes[0].find(zeros);
      EXPECT_NE(first, std::string::npos);
      EXPECT_NE(bytes[0].find(zeros, first + 1), std::string::npos);
    }
  }
}

// The caller's metadata is one stream: set twice it is replaced, and PDF/A output keeps its
// descriptions in the archive's metadata instead of leaving a second stream behind.
TEST_F(PdfWriter, MetadataIsOneStream) {
  const std::string path = dir.file("meta.pdf");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  jbig2_attributes(w);
  set_text(w, "_PDFmetadata",
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>first</dc:title></rdf:Description></rdf:RDF>");
  set_text(w, "_PDFmetadata",
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>second</dc:title></rdf:Description></rdf:RDF>");
  set_attr(w, "_PDFarchive", "b", 1);
  ASSERT_EQ(append(w, bilevel_image(monotest::make_text_blobs(100, 60, 2))), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(release(w), QEL_STATUS_OK) << status_message();
  expect_sound(path);
  const std::string text = run_tool("qpdf --qdf --object-streams=disable " + shell_quote(path) + " -").output;
  size_t streams = 0;
  for (size_t at = text.find("/Type /Metadata"); at != std::string::npos; at = text.find("/Type /Metadata", at + 1)) {
    ++streams;
  }
  EXPECT_EQ(streams, 1u);
  EXPECT_EQ(text.find("first"), std::string::npos);
  EXPECT_NE(text.find("second"), std::string::npos);
  EXPECT_NE(text.find("pdfaid:part"), std::string::npos);
}

// Bad requests: a text layer without its text object and restart notes that claim more
// rows than the layer has fail the page with a message; a writer on a folder that does not
// exist is refused with the system's reason and leaves no file, and so is an encrypted archive.
TEST_F(PdfWriter, BadInputIsRefused) {
  const std::string path = dir.file("bad.pdf");
  elf_object* w = writer(path);
  ASSERT_NE(w, nullptr);
  jbig2_attributes(w);
  elf_object* text = bilevel_image(monotest::make_text_blobs(80, 40, 1));
  elf_object* textLayer = new_QELLAYER(state, nullptr, nullptr);
  qelLayer(textLayer)->kind = QEL_KIND_TEXT;
  ASSERT_EQ(QELAppendLayer(text, "text", textLayer), QEL_STATUS_OK);
  EXPECT_EQ(append(w, text), QEL_STATUS_FAILED);
  EXPECT_NE(messages.find("Malformed text layer; No ELFTEXT object"), std::string::npos);

  // A grey layer in two strips whose first claims all rows and more.
  elf_object* strips = keep(new_QELIMAGE(state, nullptr, nullptr));
  qelImage(strips)->width = 16;
  qelImage(strips)->height = 8;
  qelImage(strips)->xres = qelImage(strips)->yres = 300;
  elf_object* layer = QELNewBilevelLayer(state, 16, 8, 16, elfCalloc(1, 128), 128, 300, 300);
  elf_QELHDR* h = qelHdr(qelLayer(layer)->description);
  qelLayer(layer)->kind = QEL_KIND_IMAGE;
  h->bitsPerSample[0] = 8;
  h->photometric = 1;
  auto* first = reinterpret_cast<elf_POINTER*>(qelLayer(layer)->data);
  first->length = 64;
  first->description = elfStrDup("restart;9");
  ELF_ASSIGN(state, &first->next, elfNewPointer(state, elfCalloc(1, 64), 64));
  ASSERT_EQ(QELAppendLayer(strips, "grey", layer), QEL_STATUS_OK);
  EXPECT_EQ(append(w, strips), QEL_STATUS_FAILED);
  EXPECT_EQ(page_count(w), 0);
  ASSERT_EQ(append(w, bilevel_image(monotest::make_text_blobs(80, 40, 2))), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(release(w), QEL_STATUS_OK) << status_message();
  expect_sound(path);

  const std::string nowhere = dir.file("missing/out.pdf");
  elf_object* args = lstBuildArgs(state, "filename:s", nowhere.c_str(), 0, "format:s", "pdf", 0, LST_END);
  EXPECT_EQ(call_context(MakeDocWriter, args), QEL_STATUS_FAILED);
  EXPECT_NE(status_message().find("No such file or directory"), std::string::npos) << status_message();
  elfDiscard(args);
  EXPECT_FALSE(std::ifstream(nowhere).good());

  // An archive cannot be encrypted: closing refuses it and leaves no file.
  const std::string locked = dir.file("locked.pdf");
  w = writer(locked);
  ASSERT_NE(w, nullptr);
  jbig2_attributes(w);
  set_attr(w, "_PDFarchive", "b", 1);
  set_text(w, "_PDFpasswd", "secret");
  ASSERT_EQ(append(w, bilevel_image(monotest::make_text_blobs(80, 40, 3))), QEL_STATUS_OK) << status_message();
  EXPECT_NE(release(w), QEL_STATUS_OK);
  EXPECT_NE(status_message().find("PDF/A files cannot be encrypted"), std::string::npos) << status_message();
  EXPECT_FALSE(std::ifstream(locked).good());
}

// The checksum does not see IDs and creation dates: a file and its copy with other IDs and
// another date of the same length sum alike, a changed byte elsewhere does not.
TEST_F(PdfWriter, ChecksumIgnoresIdsAndDatesAndObjectsAreDumped) {
  const std::string a = dir.file("a.pdf");
  elf_object* w = writer(a, false);
  ASSERT_NE(w, nullptr);
  jbig2_attributes(w);
  ASSERT_EQ(append(w, bilevel_image(monotest::make_text_blobs(120, 80, 5))), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(release(w), QEL_STATUS_OK) << status_message();
  std::string bytes = monotest::read_file(a);
  const std::regex id("/ID \\[<[0-9a-f]{32}><[0-9a-f]{32}>\\]");
  const std::regex date("\\(D:[0-9]{14}");
  ASSERT_TRUE(std::regex_search(bytes, id));
  ASSERT_TRUE(std::regex_search(bytes, date));
  const std::string b = dir.file("b.pdf"), c = dir.file("c.pdf");
  std::string other = std::regex_replace(bytes, id, "/ID [<00112233445566778899aabbccddeeff><ffeeddccbbaa99887766554433221100>]");
  other = std::regex_replace(other, date, "(D:19991231235959");
  monotest::write_file(b, other);
  std::string changed = bytes;
  changed[changed.find("/Producer")] = '%';
  monotest::write_file(c, changed);
  int32_t sums[3] = {};
  const std::string files[3] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    elf_object* args = lstBuildArgs(state, "filename:s", files[i].c_str(), 0, LST_END);
    ASSERT_EQ(call_context(MakeDocReader, args), QEL_STATUS_OK) << status_message();
    elfDiscard(args);
    elf_object* reader = nullptr;
    ASSERT_TRUE(lstScanArgs(result, "docrd:DOCUMENTREADER", LST_REQUIRED, &reader, LST_END));
    keep(reader);
    ASSERT_EQ(call(reader, "getChecksum"), QEL_STATUS_OK) << status_message();
    lstScanArgs(result, "sum:i", LST_REQUIRED, &sums[i], LST_END);
  }
  EXPECT_EQ(sums[0], sums[1]);
  EXPECT_NE(sums[0], sums[2]);

  // PDFDecompose dumps the objects of the same file as text and tells its pages.
  const std::string dump = dir.file("objects.txt");
  elf_object* args = lstBuildArgs(state, "filename:s", a.c_str(), 0, "destname:s", dump.c_str(), 0, LST_END);
  ASSERT_EQ(call_context(PDFDecompose, args), QEL_STATUS_OK) << status_message();
  elfDiscard(args);
  int32_t pages = 0;
  lstScanArgs(result, "pgcnt:i", LST_REQUIRED, &pages, LST_END);
  EXPECT_EQ(pages, 1);
  const std::string text = monotest::read_file(dump);
  EXPECT_NE(text.find("/JBIG2Decode"), std::string::npos);
  EXPECT_NE(text.find("trailer"), std::string::npos);
}

}  // namespace
