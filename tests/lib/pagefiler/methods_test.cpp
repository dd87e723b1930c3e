// Readers and writers at work: their members dispatched to test back ends, and their creation
// from file names and formats with the back ends this build has.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "tools.h"

namespace {

using monotest::DocTest;

// A back end the tests steer: what its slots answer and what they were asked.
struct TestBackend {
  int32_t pages = 3;
  int count_status = 0;
  int page_status = 0;
  bool give_image = true;
  int32_t count_error = 0;  // added to the count an append or insert reports
  int add_status = 0;
  int attributes_status = 0;
  int32_t checksum = 0x1234;
  int count_calls = 0, page_calls = 0, add_calls = 0, attribute_calls = 0, released = 0;
  int32_t written = 0;
  elf_object* last_image = nullptr;
  elf_object* last_attributes = nullptr;
};

TestBackend* backend_of(void* b) { return static_cast<TestBackend*>(b); }

void test_release(elf_object* obj) {
  auto* r = dioReader(obj);
  ++backend_of(r ? r->backend : dioWriter(obj)->backend)->released;
}

int test_count(elf_state*, void* b, int32_t* count) {
  TestBackend* t = backend_of(b);
  ++t->count_calls;
  *count = t->pages;
  return t->count_status;
}

int test_page(elf_state* state, void* b, int32_t page, elf_object** image) {
  TestBackend* t = backend_of(b);
  ++t->page_calls;
  if (t->give_image) {
    *image = new_QELIMAGE(state, nullptr, nullptr);
    qelImage(*image)->width = page;
  }
  return t->page_status;
}

int test_checksum(elf_state*, void* b, int32_t* sum) {
  *sum = backend_of(b)->checksum;
  return backend_of(b)->count_status;
}

int test_add(void* b, elf_object* image, int32_t* count) {
  TestBackend* t = backend_of(b);
  ++t->add_calls;
  t->last_image = image;
  if (t->add_status == 0) ++t->written;
  *count = t->written + t->count_error;
  return t->add_status;
}

int test_attributes(void* b, elf_object* attributes) {
  TestBackend* t = backend_of(b);
  ++t->attribute_calls;
  t->last_attributes = attributes;
  return t->attributes_status;
}

constexpr DocReaderFormatFns test_reader_fns{test_release, test_page, test_checksum, test_count};
constexpr DocWriterFormatFns test_writer_fns{test_release, test_add, test_add, test_attributes};

class MethodsTest : public DocTest {
 protected:
  elf_object* reader(int32_t format = DIO_FORMAT_TIFF) {
    elf_object* obj = new_elf_object(state, "DOCUMENTREADER", nullptr);
    elf_DOCUMENTREADER* r = dioReader(obj);
    r->filename = elfStrDup("doc.tif");
    r->pagecnt = -1;
    r->format = format;
    r->backend = &backend;
    r->fns = test_reader_fns;
    return keep(obj);
  }

  elf_object* writer(int32_t format = DIO_FORMAT_PDF) {
    elf_object* obj = new_elf_object(state, "DOCUMENTWRITER", nullptr);
    elf_DOCUMENTWRITER* w = dioWriter(obj);
    w->filename = elfStrDup("out.pdf");
    w->format = format;
    w->version = DIO_SUBFORMAT_PDF_14;
    w->backend = &backend;
    w->fns = test_writer_fns;
    ELF_ASSIGN(state, &w->transspecs, lstBuildArgs(state, "spec:i", 1, 0, LST_END));
    return keep(obj);
  }

  // Objects and argument lists of the test, let go at the end.
  elf_object* keep(elf_object* obj) {
    kept.push_back(obj);
    return obj;
  }
  elf_object* args(elf_object* list) { return keep(list); }

  // A page image with one raw layer, 8 x 2.
  elf_object* page_image() {
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    void* rows = elfCalloc(2, 1);
    EXPECT_EQ(QELAppendLayer(image, "layer", QELNewBilevelLayer(state, 8, 2, 1, rows, 2, 300, 300)), QEL_STATUS_OK);
    return keep(image);
  }

  template <class T>
  T scan(const char* spec) {
    T value{};
    EXPECT_EQ(lstScanArgs(result, spec, LST_REQUIRED, &value, LST_END), 1) << spec;
    return value;
  }

  void TearDown() override {
    for (elf_object* o : kept) elfDiscard(o);
    DocTest::TearDown();
  }

  TestBackend backend;
  std::vector<elf_object*> kept;
};

TEST_F(MethodsTest, PagesAreCountedFirstCheckedAndNumbered) {
  elf_object* r = reader();
  ASSERT_EQ(call(r, "getPage", args(lstBuildArgs(state, "pgnum:INTEGER", 2, 0, LST_END))), QEL_STATUS_OK)
      << status_message() << messages;
  EXPECT_EQ(backend.count_calls, 1) << "the count is asked before the first page";
  EXPECT_EQ(dioReader(r)->pagecnt, 3);
  elf_object* image = scan<elf_object*>("img:QELIMAGE");
  EXPECT_EQ(qelImage(image)->width, 2);
  EXPECT_EQ(image->refCount, 1) << "held by the result list alone";
  int32_t page = 0;
  EXPECT_EQ(lstScanArgs(qelImage(image)->attributes, "DIOPageNum:i", LST_REQUIRED, &page, LST_END), 1);
  EXPECT_EQ(page, 2);

  for (int32_t bad : {0, -1, 4}) {
    EXPECT_EQ(call(r, "getPage", args(lstBuildArgs(state, "pgnum:INTEGER", bad, 0, LST_END))), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(),
              "DocReadMethods:Page number " + std::to_string(bad) + " outside valid range of 1 to 3\n");
  }
  EXPECT_EQ(call(r, "getPage"), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocReadMethods:Page number 0 outside valid range of 1 to 3\n");
  EXPECT_EQ(backend.count_calls, 1);
  EXPECT_EQ(backend.page_calls, 1) << "refused numbers never reach the back end";
}

TEST_F(MethodsTest, TheBackEndsStatusDecides) {
  elf_object* r = reader();
  elf_object* second = args(lstBuildArgs(state, "pgnum:INTEGER", 2, 0, LST_END));
  // A count that fails is not taken, although one came back.
  backend.count_status = 21;
  EXPECT_EQ(call(r, "getPage", second), 21);
  EXPECT_EQ(dioReader(r)->pagecnt, -1);
  backend.count_status = 0;
  backend.pages = -1;
  EXPECT_EQ(call(r, "getPage", second), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocReadMethods:Page number 2 outside valid range of 1 to -1\n");
  backend.pages = 3;
  backend.page_status = 20;
  EXPECT_EQ(call(r, "getPage", second), 20);
  EXPECT_EQ(result, nullptr);
  backend.page_status = 0;
  backend.give_image = false;
  EXPECT_EQ(call(r, "getPage", second), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocReadMethods: Could not get page 2 from doc.tif\n");
}

TEST_F(MethodsTest, ReadersAnswerFormatNameCountChecksumAndQuery) {
  elf_object* r = reader(DIO_FORMAT_PDF);
  ASSERT_EQ(call(r, "getFormat"), QEL_STATUS_OK) << status_message();
  EXPECT_STREQ(scan<const char*>("format:s"), "PDF");
  EXPECT_STREQ(scan<const char*>("subtype:s"), "none");
  dioReader(r)->version = DIO_SUBFORMAT_PROFILE_C;
  ASSERT_EQ(call(r, "getFormat"), QEL_STATUS_OK);
  EXPECT_STREQ(scan<const char*>("subtype:s"), "profileC");
  ASSERT_EQ(call(r, "getFilename"), QEL_STATUS_OK);
  EXPECT_STREQ(scan<const char*>("filename:s"), "doc.tif");
  ASSERT_EQ(call(r, "getPageCount"), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("num:INTEGER"), 3);
  ASSERT_EQ(call(r, "getPageCount"), QEL_STATUS_OK);
  EXPECT_EQ(backend.count_calls, 1);
  ASSERT_EQ(call(r, "getChecksum"), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("sum:INTEGER"), 0x1234);
  backend.count_status = 20;
  EXPECT_EQ(call(r, "getChecksum"), 20);
  EXPECT_EQ(result, nullptr);
  dioReader(r)->fns.ReadGetChecksum = nullptr;
  ASSERT_EQ(call(r, "getChecksum"), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("sum:INTEGER"), 0);

  ASSERT_EQ(call(r, "query", args(lstBuildArgs(state, "name:s", "doc.tif", 0, LST_END))), QEL_STATUS_OK);
  elf_object* results = scan<elf_object*>("results:LIST");
  int32_t exists = 1;
  EXPECT_EQ(lstScanArgs(results, "exists:b", LST_REQUIRED, &exists, LST_END), 1);
  EXPECT_EQ(exists, 0);
  // A member name the dispatcher does not know does nothing.
  elf_object* unknown = args(lstBuildArgs(state, "CALL_NAME:s", "frobnicate", 0, LST_END));
  elfDiscard(result);
  result = nullptr;
  EXPECT_EQ(DocReadMethods(r, unknown, &result), QEL_STATUS_OK);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(DocReadMethods(r, args(new_LIST(state, nullptr, nullptr)), &result), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocReadMethods:Internal Object Error - No such method\n");
}

TEST_F(MethodsTest, ReleasedReadersHaveNoHandle) {
  elf_object* r = reader();
  EXPECT_EQ(call(r, "getPageCount"), QEL_STATUS_OK);
  // A pending warning is no failure of the release; a pending failure is.
  setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_WARNING, "a warning\n");
  EXPECT_EQ(DocReadMethods(r, args(lstBuildArgs(state, "CALL_NAME:s", "release", 0, LST_END)), &result), 0);
  EXPECT_EQ(backend.released, 1);
  EXPECT_EQ(dioReader(r)->pagecnt, -1);
  EXPECT_EQ(dioReader(r)->backend, nullptr);
  for (const char* member : {"getFormat", "getPage", "release", "getChecksum"}) {
    EXPECT_EQ(call(r, member), QEL_STATUS_FAILED) << member;
    EXPECT_EQ(status_message(), std::string(std::strcmp(member, "getChecksum") ? "DocReadMethods" : "DocReadChecksum") +
                                    ": Error, no IO handle\n");
  }
  EXPECT_EQ(backend.released, 1);

  elf_object* failing = reader();
  setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "pending\n");
  EXPECT_EQ(DocReadMethods(failing, args(lstBuildArgs(state, "CALL_NAME:s", "release", 0, LST_END)), &result),
            QEL_STATUS_FAILED);
}

TEST_F(MethodsTest, AppendedPagesAreCheckedUpdatedAndCounted) {
  elf_object* w = writer(DIO_FORMAT_PDF);
  elf_object* page = page_image();
  ASSERT_EQ(call(w, "appendPage", args(lstBuildArgs(state, "pgImg:QELIMAGE", page, 0, LST_END))), QEL_STATUS_OK)
      << status_message();
  EXPECT_EQ(scan<int32_t>("num:INTEGER"), 1);
  EXPECT_EQ(backend.last_image, page);

  // No image, no layer list or no layers: the back end is not asked.
  elf_object* bare = keep(new_QELIMAGE(state, nullptr, nullptr));
  elf_object* listed = keep(new_QELIMAGE(state, nullptr, nullptr));
  ELF_ASSIGN(state, &qelImage(listed)->layers, new_LIST(state, nullptr, nullptr));
  for (elf_object* image : {static_cast<elf_object*>(nullptr), bare, listed}) {
    elf_object* a = image ? args(lstBuildArgs(state, "pgImg:QELIMAGE", image, 0, LST_END)) : nullptr;
    EXPECT_EQ(call(w, "appendPage", a), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(), "DocWriteMethods:Invalid input for append page to out.pdf\n");
  }
  EXPECT_EQ(backend.add_calls, 1);

  // A wrong count fails although the back end succeeded; the count stays.
  backend.count_error = 5;
  elf_object* a = args(lstBuildArgs(state, "pgImg:QELIMAGE", page, 0, LST_END));
  EXPECT_EQ(call(w, "appendPage", a), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocWriteMethods:Failed to exec deferred processing for append page to out.pdf\n");
  EXPECT_EQ(dioWriter(w)->pagecnt, 1);
  // A failure the back end reports is returned even when its count looks right.
  backend.count_error = 1;
  backend.add_status = 20;
  EXPECT_EQ(call(w, "appendPage", a), 20);
  EXPECT_EQ(dioWriter(w)->pagecnt, 1);
  ASSERT_EQ(call(w, "getPageCount"), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("num:INTEGER"), 1);

  // Document formats bring the image up to date first, and refuse a layer that does not hold
  // its rows; the standard raster formats leave that to their back end.
  backend = TestBackend{};
  backend.written = 1;
  auto* layer = qelLayer(QELGetLayer(page, 0));
  reinterpret_cast<elf_POINTER*>(layer->data)->length = 1;
  EXPECT_EQ(call(w, "appendPage", a), QEL_STATUS_INVALID);
  EXPECT_NE(status_message().find("QELUpdateQELIMAGE: layer 0"), std::string::npos) << status_message();
  EXPECT_EQ(backend.add_calls, 0);
  dioWriter(w)->format = DIO_FORMAT_PNG;
  EXPECT_EQ(call(w, "appendPage", a), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(backend.add_calls, 1);
}

TEST_F(MethodsTest, InsertedPagesGoToTheBackEndWhateverTheyAre) {
  elf_object* w = writer();
  ASSERT_EQ(call(w, "insertPage"), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(backend.last_image, nullptr);
  EXPECT_EQ(scan<int32_t>("num:INTEGER"), 1);
  backend.count_error = -1;
  EXPECT_EQ(call(w, "insertPage"), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocWriteMethods:Failed to insert page to out.pdf\n");
}

TEST_F(MethodsTest, WriterAttributesReachTheBackEnd) {
  elf_object* w = writer();
  elf_object* set = args(lstBuildArgs(state, "name:s", "_DIOjpegqual", 0, "obj:i", 85, 0, LST_END));
  ASSERT_EQ(call(w, "setAttr", set), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(backend.attribute_calls, 1);
  EXPECT_EQ(backend.last_attributes, dioWriter(w)->attributes);
  int32_t quality = 0;
  EXPECT_EQ(lstScanArgs(dioWriter(w)->attributes, "_DIOjpegqual:i", LST_REQUIRED, &quality, LST_END), 1);
  EXPECT_EQ(quality, 85);
  ASSERT_EQ(call(w, "getAttr", args(lstBuildArgs(state, "name:s", "_DIOjpegqual", 0, LST_END))), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("obj:i"), 85);
  EXPECT_EQ(backend.attribute_calls, 1) << "reading changes nothing";
  backend.attributes_status = 20;
  EXPECT_EQ(call(w, "clearAttr"), 20);
  EXPECT_EQ(backend.attribute_calls, 2);
  EXPECT_EQ(dioWriter(w)->attributes, nullptr);
  EXPECT_EQ(call(w, "setAttr", args(lstBuildArgs(state, "obj:i", 1, 0, LST_END))), QEL_STATUS_INVALID);
  EXPECT_EQ(backend.attribute_calls, 2) << "a refused attribute is not handed on";
}

TEST_F(MethodsTest, WritersAnswerTheirSpecsSizeFormatAndRelease) {
  elf_object* w = writer();
  ASSERT_EQ(call(w, "listSpecs"), QEL_STATUS_OK);
  elf_object* copy = scan<elf_object*>("speclist:LIST");
  EXPECT_NE(copy, dioWriter(w)->transspecs);
  EXPECT_EQ(copy->ops.equal(copy, dioWriter(w)->transspecs), 1);
  ASSERT_EQ(elflistInsert(copy, elfNewInteger(state, 2), -1, 0), 0);
  EXPECT_EQ(elflistLength(dioWriter(w)->transspecs), 1);
  ASSERT_EQ(call(w, "refSpecs"), QEL_STATUS_OK);
  EXPECT_EQ(scan<elf_object*>("speclist:LIST"), dioWriter(w)->transspecs);
  ELF_ASSIGN(state, &dioWriter(w)->transspecs, nullptr);
  for (const char* member : {"listSpecs", "refSpecs"}) {
    EXPECT_EQ(call(w, member), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(), "No valid specification list\n");
  }

  monotest::TempDir dir;
  const std::string path = dir.file("out.pdf");
  _elfFree(dioWriter(w)->filename);
  dioWriter(w)->filename = elfStrDup(path.c_str());
  ASSERT_EQ(call(w, "getFileSize"), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("size:i"), 0);
  monotest::write_file(path, "12345");
  ASSERT_EQ(call(w, "getFileSize"), QEL_STATUS_OK);
  EXPECT_EQ(scan<int32_t>("size:i"), 5);

  ASSERT_EQ(call(w, "getFormat"), QEL_STATUS_OK);
  EXPECT_STREQ(scan<const char*>("format:s"), "PDF");
  EXPECT_STREQ(scan<const char*>("subtype:s"), "v1.4");

  // Ending the JBIG2 section is the PDF back end's; other formats have nothing to end.
  dioWriter(w)->format = DIO_FORMAT_TIFF;
  EXPECT_EQ(call(w, "releaseJbig2"), QEL_STATUS_OK);
  dioWriter(w)->format = DIO_FORMAT_PDF;
  EXPECT_EQ(call(w, "releaseJbig2"), QEL_STATUS_INVALID) << "this build has no PDF back end";

  elf_object* unknown = args(lstBuildArgs(state, "CALL_NAME:s", "frobnicate", 0, LST_END));
  EXPECT_EQ(DocWriteMethods(w, unknown, &result), QEL_STATUS_OK);
  EXPECT_EQ(DocWriteMethods(w, nullptr, &result), QEL_STATUS_FAILED);
  EXPECT_EQ(DocWriteMethods(w, args(new_LIST(state, nullptr, nullptr)), &result), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocWriteMethods:Internal Object Error - No such Method\n");

  EXPECT_EQ(call(w, "release"), QEL_STATUS_OK);
  EXPECT_EQ(backend.released, 1);
  EXPECT_EQ(call(w, "getPageCount"), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "DocWriteMethods: Error, no IO handle\n");
}

// ---- Creation ----

class CreationTest : public DocTest {
 protected:
  int make_reader(elf_object* a) { return call_context(MakeDocReader, a); }
  int make_writer(elf_object* a) { return call_context(MakeDocWriter, a); }
  elf_object* args(elf_object* list) {
    kept.push_back(list);
    return list;
  }
  void TearDown() override {
    for (elf_object* o : kept) elfDiscard(o);
    DocTest::TearDown();
  }
  std::vector<elf_object*> kept;
  monotest::TempDir dir;
};

TEST_F(CreationTest, ReadersNeedAFileOfAKnownFormat) {
  monotest::require_tool("gs", "ghostscript");
  monotest::require_tool("pnmtopng", "netpbm");
  const monotest::ToolResult made = monotest::run_tool(
      "cd " + monotest::shell_quote(dir.path()) +
      " && gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=d.pdf -c showpage && "
      "gs -q -dNOPAUSE -dBATCH -sDEVICE=xpswrite -sOutputFile=d.xps d.pdf && pbmmake 8 8 | pnmtopng > p.png && "
      "printf 'just text\\n' > text.pdf && mkdir folder.pdf");
  ASSERT_EQ(made.exit_code, 0);

  EXPECT_EQ(make_reader(nullptr), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "MakeDocReader: No filename provided\n");
  for (elf_object* a : {args(new_LIST(state, nullptr, nullptr)), args(lstBuildArgs(state, "filename:i", 3, 0, LST_END)),
                        args(lstBuildArgs(state, "filename:s", "x.pdf", 0, "password:i", 1, 0, LST_END))}) {
    EXPECT_EQ(make_reader(a), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(), "MakeDocReader: No filename for document reader\n");
  }
  // Missing, unreadable or of no known format: nothing to read it with.
  std::vector<const char*> unusable = {"absent.pdf", "text.pdf", "folder.pdf"};
  if (geteuid() != 0) {  // permissions do not stop the superuser
    ASSERT_EQ(monotest::run_tool("cp " + monotest::shell_quote(dir.file("d.pdf")) + " " +
                                 monotest::shell_quote(dir.file("locked.pdf")) + " && chmod 000 " +
                                 monotest::shell_quote(dir.file("locked.pdf")))
                  .exit_code,
              0);
    unusable.push_back("locked.pdf");
  }
  for (const char* name : unusable) {
    const std::string path = dir.file(name);
    EXPECT_EQ(make_reader(args(lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END))), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(),
              "MakeDocReader: No supported file format was found by name or extension for " + path + "\n");
    EXPECT_EQ(result, nullptr);
  }
  // Known formats go to their back end: PDF and XPS (Ghostscript's) open.
  for (const char* name : {"d.pdf", "d.xps"}) {
    EXPECT_EQ(make_reader(args(lstBuildArgs(state, "filename:s", dir.file(name).c_str(), 0, LST_END))), QEL_STATUS_OK)
        << name << ": " << status_message() << engine_messages;
  }

  EXPECT_EQ(make_reader(args(lstBuildArgs(state, "filename:s", dir.file("p.png").c_str(), 0, LST_END))), QEL_STATUS_OK)
      << status_message();

  // The engine's format table was read once and is kept in the context.
  ASSERT_NE(state->variables, nullptr);
  elf_object* cached = nullptr;
  ASSERT_EQ(lstScanArgs(state->variables, "FileFormats:POINTER", LST_REQUIRED, &cached, LST_END), 1);
  EXPECT_EQ(elflistLength(state->variables), 1);
  auto* pointer = reinterpret_cast<elf_POINTER*>(cached);
  EXPECT_STREQ(pointer->description, "Supported File Formats");
  EXPECT_EQ(pointer->length, 40u);
  EXPECT_EQ(pointer->release, __DIO_releaseFileFormats);
  const void* table = pointer->data;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(make_reader(args(lstBuildArgs(state, "filename:s", dir.file("d.pdf").c_str(), 0, LST_END))),
            QEL_STATUS_OK);
  EXPECT_EQ(pointer->data, table);
}

// Back ends that cannot start here; the TIFF writer's choice is tested with the writer.
TEST_F(CreationTest, WritersTakeTheFormatByNameOrByExtension) {
  struct Case {
    const char* file;
    const char* format;   // the "format:" argument, or null
    const char* subtype;  // the "subtype:" argument, or null
    const char* started;  // the back end asked to start
  };
  const Case cases[] = {
      {"out.bin", "JPG", nullptr, "StdKVInit"},
      {"out.bin", "Tiff", nullptr, "StdKVInit"},
      {"out.tif", "jpeg", nullptr, "StdKVInit"},
      {"out.bin", "tiff", "v6", "StdKVInit"},
      {"out.bin", "tiff", "TN2", "StdKVInit"},
      {"out.bin", "pdf", "linear", "PDFInit"},
      {"scan.PDF", nullptr, nullptr, "PDFInit"},
      {"pack.xps", nullptr, nullptr, "__XPSInit"},
      {"page.png", "bmp", nullptr, "StdKVInit"},
  };
  for (const Case& c : cases) {
    engine_messages.clear();
    elf_object* a = args(lstBuildArgs(state, "filename:s", c.file, 0, "testfile:b", 1, 0, LST_END));
    if (c.format) lstAppendArgs(a, "format:s", c.format, 0, LST_END);
    if (c.subtype) lstAppendArgs(a, "subtype:s", c.subtype, 0, LST_END);
    // No writer touches the file's name when it starts: the raster back end writes at the end, the
    // XPS writer lays its parts out in a folder of its own, and the PDF writer makes its
    // temporary file beside the name (here in the test's folder), which takes the name only when
    // the document is whole.
    if (std::strcmp(c.started, "StdKVInit") == 0 || std::strcmp(c.started, "__XPSInit") == 0) {
      EXPECT_EQ(make_writer(a), QEL_STATUS_OK) << c.file << " " << (c.format ? c.format : "") << status_message();
      continue;
    }
    if (std::strcmp(c.started, "PDFInit") == 0) {
      elf_object* b = args(lstBuildArgs(state, "filename:s", dir.file(c.file).c_str(), 0, "testfile:b", 1, 0, LST_END));
      if (c.format) lstAppendArgs(b, "format:s", c.format, 0, LST_END);
      if (c.subtype) lstAppendArgs(b, "subtype:s", c.subtype, 0, LST_END);
      EXPECT_EQ(make_writer(b), QEL_STATUS_OK) << c.file << " " << status_message();
      EXPECT_FALSE(std::ifstream(dir.file(c.file)).good()) << c.file;
      continue;
    }
    ADD_FAILURE() << "no back end " << c.started;
  }

  EXPECT_EQ(make_writer(nullptr), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "MakeDocWriter: No filename provided\n");
  EXPECT_EQ(make_writer(args(lstBuildArgs(state, "format:s", "pdf", 0, LST_END))), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "MakeDocWriter: No filename for document writer\n");
  EXPECT_EQ(make_writer(args(lstBuildArgs(state, "filename:s", "a.pdf", 0, "format:i", 3, 0, LST_END))),
            QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "MakeDocWriter: Error getting input args\n");
  for (const char* name : {"out.unknown", "noextension", "archive.zip"}) {
    EXPECT_EQ(make_writer(args(lstBuildArgs(state, "filename:s", name, 0, "format:s", "jpeg", 0, LST_END))),
              QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(), "MakeDocWriter: No supported file format found by name or extension\n");
  }
}

TEST_F(CreationTest, ProcedureNamesNoLongerThanTheirPrefixNameNoFormat) {
  // An engine whose table names its procedures too briefly, kept in the context as the engine's
  // own table would be.
  static constexpr KVngFormatEntry short_names[] = {
      {"PNG", "image/png", nullptr, "rea", "writ", "png"},
      {"PDF", "application/pdf", nullptr, "read", "write", "pdf"},
      {"GIF", "image/gif", nullptr, "readgif", "writegif", "gif"},
  };
  KVngFileFormats table{static_cast<int32_t>(std::size(short_names)), short_names, nullptr};
  elf_object* pointer = elfNewPointer(state, &table, 40);
  reinterpret_cast<elf_POINTER*>(pointer)->release = [](elf_object* p) {
    reinterpret_cast<elf_POINTER*>(p)->data = nullptr;
  };
  state->variables = lstBuildArgs(state, "FileFormats:POINTER", pointer, 0, LST_END);
  elfRefUp(state->variables);

  monotest::write_file(dir.file("p.png"), "\x89PNG\r\n\x1A\n");
  monotest::write_file(dir.file("d.pdf"), "%PDF-1.4\n");
  monotest::write_file(dir.file("g.gif"), "GIF89a");
  for (const char* name : {"p.png", "d.pdf"}) {
    const std::string path = dir.file(name);
    EXPECT_EQ(make_reader(args(lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END))), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(),
              "MakeDocReader: No supported file format was found by name or extension for " + path + "\n");
    EXPECT_EQ(make_writer(args(lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END))), QEL_STATUS_FAILED);
    EXPECT_EQ(status_message(), "MakeDocWriter: No supported file format found by name or extension\n");
  }
  // A full name still selects its format.
  EXPECT_EQ(make_reader(args(lstBuildArgs(state, "filename:s", dir.file("g.gif").c_str(), 0, LST_END))), QEL_STATUS_OK)
      << status_message();
  elf_object* gif = nullptr;
  ASSERT_TRUE(lstScanArgs(result, "docrd:DOCUMENTREADER", LST_REQUIRED, &gif, LST_END));
  EXPECT_EQ(dioReader(gif)->format, DIO_FORMAT_GIF);
}

TEST_F(CreationTest, DecomposingNeedsAPdf) {
  monotest::write_file(dir.file("page.png"), "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(call_context(PDFDecompose, nullptr), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "PDFDecompose: No filename or destname provided\n");
  EXPECT_EQ(call_context(PDFDecompose, args(lstBuildArgs(state, "filename:s", "a.pdf", 0, LST_END))),
            QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "PDFDecompose: Error getting input args\n");
  const std::string png = dir.file("page.png");
  EXPECT_EQ(call_context(PDFDecompose,
                         args(lstBuildArgs(state, "filename:s", png.c_str(), 0, "destname:s", "x.txt", 0, LST_END))),
            QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "PDFDecompose: " + png + " is not a PDF file\n");
}

TEST_F(CreationTest, CreationLeavesNothingBehindWhenMemoryRunsOut) {
  const std::string path = dir.file("x.pdf");
  ASSERT_EQ(monotest::run_tool("qpdf --empty " + monotest::shell_quote(path)).exit_code, 0);
  for (elf_method_proc method : {MakeDocReader, MakeDocWriter}) {
    for (size_t k = 1;; ++k) {
      elf_object* a = lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END);
      ASSERT_NE(a, nullptr);
      // The cached format table goes between rounds, so that every round reads it.
      elfRefDown(state->variables);
      state->variables = nullptr;
      const size_t failures = heap.failures();
      heap.fail_at(k);
      const int status = call_context(method, a);
      const bool failed = heap.failures() > failures;
      heap.fail_at(0);
      // A round fails and gives nothing, or succeeds with the object (a failed allocation may be
      // one the call can do without); the fixture sees that nothing is left either way.
      EXPECT_TRUE(status == QEL_STATUS_FAILED || status == QEL_STATUS_OK);
      EXPECT_EQ(result == nullptr, status != QEL_STATUS_OK);
      if (!failed) {
        EXPECT_EQ(status, QEL_STATUS_OK) << status_message();
      }
      elfDiscard(a);
      if (!failed) break;
    }
  }
}

}  // namespace
