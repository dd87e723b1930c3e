// The standard-format back end through readers and writers made as the interpreter makes them:
// page file naming and appending, the single-page switch, pages read back, the conversions made
// before writing and the refusals. The engine's own tools judge every file written.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dio_backends.h"
#include "dio_fixture.h"
#include "dio_transform.h"
#include "kvng_io.h"
#include "kvraster.h"
#include "tools.h"

namespace {

using monotest::run_tool;
using monotest::shell_quote;

// What the spied writers were asked: member name, file name and flags, per call.
struct WriteCall {
  std::string member, filename;
  int32_t append = -1, unsupported = -1, photometric = -1;
};
std::vector<WriteCall>* spied = nullptr;

int spy(void* target, elf_object* args, elf_object** result) {
  WriteCall c;
  const char* member = nullptr;
  const char* filename = nullptr;
  lstScanArgs(args, "CALL_NAME:s", LST_OPTIONAL, &member, "filename:s", LST_OPTIONAL, &filename, "append:b",
              LST_OPTIONAL, &c.append, "unsupportedtt:b", LST_OPTIONAL, &c.unsupported, LST_END);
  c.member = member ? member : "";
  c.filename = filename ? filename : "";
  const elf_QELLAYER* l = qelLayer(QELGetLayer(static_cast<elf_object*>(target), 0));
  if (l && qelHdr(l->description)) c.photometric = qelHdr(l->description)->photometric;
  if (spied) spied->push_back(c);
  return KVImageMethods(target, args, result);
}

class StdKVTest : public monotest::DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    spied = &calls;
    for (const char* m : {"writetif", "writejpg", "writepng", "writegif", "writebmp", "writeimage"}) {
      ASSERT_EQ(elfBindMemberProc(state, ELF_TYPE_QELIMAGE, m, spy), 0);
    }
  }
  void TearDown() override {
    for (elf_object* o : kept) elfDiscard(o);
    spied = nullptr;
    DocTest::TearDown();
  }
  elf_object* keep(elf_object* o) {
    kept.push_back(o);
    return o;
  }
  elf_object* args(elf_object* list) { return keep(list); }

  elf_object* make(elf_method_proc method, const std::string& file, const char* format = nullptr,
                   const char* subtype = nullptr) {
    elf_object* a = args(lstBuildArgs(state, "filename:s", file.c_str(), 0, LST_END));
    if (format) lstAppendArgs(a, "format:s", format, 0, LST_END);
    if (subtype) lstAppendArgs(a, "subtype:s", subtype, 0, LST_END);
    if (call_context(method, a) != QEL_STATUS_OK) return nullptr;
    elf_object* obj = nullptr;
    lstScanArgs(result, method == MakeDocWriter ? "docwt:" : "docrd:", LST_OPTIONAL, &obj, LST_END);
    elfRefUp(obj);
    return keep_ref(obj);
  }
  elf_object* keep_ref(elf_object* obj) {
    refs.push_back(obj);
    return obj;
  }

  // A bilevel page whose rows carry its number, so pages cannot be mixed up.
  elf_object* page(int n, int32_t width = 40, int32_t height = 16) {
    const int32_t bpr = (width + 7) / 8;
    auto* rows = static_cast<uint8_t*>(elfCalloc(size_t(bpr) * height, 1));
    for (int32_t y = 0; y < height; ++y) rows[y * bpr] = uint8_t(n * 16 + y);
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    EXPECT_EQ(QELAppendLayer(image, "layer0", QELNewBilevelLayer(state, width, height, bpr, rows, size_t(bpr) * height, 300, 300)),
              QEL_STATUS_OK);
    return keep(image);
  }

  int append(elf_object* writer, elf_object* image) {
    return call(writer, "appendPage", args(lstBuildArgs(state, "pgImg:QELIMAGE", image, 0, LST_END)));
  }
  int set_flag(elf_object* writer, const char* name, int value) {
    return call(writer, "setAttr", args(lstBuildArgs(state, "name:s", name, 0, "obj:b", value, 0, LST_END)));
  }
  int32_t count() {
    int32_t n = -1;
    lstScanArgs(result, "num:i", LST_OPTIONAL, &n, LST_END);
    return n;
  }

  void release_all() {
    for (elf_object* o : refs) {
      call(o, "release");
      elfRefDown(o);
    }
    refs.clear();
  }

  std::vector<elf_object*> kept, refs;
  std::vector<WriteCall> calls;
  monotest::TempDir dir;
};

TEST_F(StdKVTest, JpegPagesAreNumberedFilesUntilNumberingIsTurnedOff) {
  monotest::require_tool("djpeg", "libjpeg-turbo-progs");
  elf_object* w = make(MakeDocWriter, dir.file("scan.jpg"));
  ASSERT_NE(w, nullptr) << status_message();
  for (int n = 1; n <= 2; ++n) {
    ASSERT_EQ(append(w, page(n)), QEL_STATUS_OK) << status_message();
    EXPECT_EQ(count(), n);
  }
  ASSERT_EQ(set_flag(w, "_DIOnoPageNumFilename", 1), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(append(w, page(3)), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(count(), 3);
  ASSERT_EQ(calls.size(), 3u);
  const char* names[] = {"scan-1.jpg", "scan-2.jpg", "scan.jpg"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(calls[i].member, "writejpg");
    EXPECT_EQ(calls[i].filename, dir.file(names[i]));
    EXPECT_EQ(run_tool("djpeg " + shell_quote(dir.file(names[i])) + " > /dev/null").exit_code, 0) << names[i];
  }
  release_all();
}

TEST_F(StdKVTest, TiffPagesGoToOneFileAndTheSinglePageSwitchKeepsCounting) {
  monotest::require_tool("tiffinfo", "libtiff-tools");
  const std::string doc = dir.file("doc.tif");
  elf_object* w = make(MakeDocWriter, doc);
  ASSERT_NE(w, nullptr) << status_message();
  for (int n = 1; n <= 3; ++n) {
    ASSERT_EQ(append(w, page(n)), QEL_STATUS_OK) << status_message();
    EXPECT_EQ(count(), n);
  }
  // One file per page from here on; the count runs on (the writer checks it).
  ASSERT_EQ(set_flag(w, "_DIOsinglePageFile", 1), QEL_STATUS_OK);
  ASSERT_EQ(append(w, page(4)), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(count(), 4);
  ASSERT_EQ(set_flag(w, "_DIOsinglePageFile", 0), QEL_STATUS_OK);
  ASSERT_EQ(append(w, page(5)), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(count(), 5);
  ASSERT_EQ(calls.size(), 5u);
  const int32_t appended[] = {-1, 1, 1, -1, 1};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(calls[i].filename, i == 3 ? dir.file("doc-4.tif") : doc) << i;
    EXPECT_EQ(calls[i].append, appended[i]) << i;
    EXPECT_EQ(calls[i].unsupported, -1);
  }
  const auto info = run_tool("tiffinfo " + shell_quote(doc) + " 2>&1");
  size_t directories = 0;
  for (size_t at = 0; (at = info.output.find("TIFF Directory", at)) != std::string::npos; ++at) ++directories;
  EXPECT_EQ(directories, 4u);
  EXPECT_NE(info.output.find("CCITT Group 4"), std::string::npos);
  release_all();

  // Read back: the page count from readtif's info, each page by its directory.
  elf_object* r = make(MakeDocReader, doc);
  ASSERT_NE(r, nullptr) << status_message();
  ASSERT_EQ(call(r, "getPageCount"), QEL_STATUS_OK);
  EXPECT_EQ(count(), 4);
  const int expected_first_byte[] = {1 * 16, 2 * 16, 3 * 16, 5 * 16};
  for (int32_t n = 1; n <= 4; ++n) {
    ASSERT_EQ(call(r, "getPage", args(lstBuildArgs(state, "pgnum:INTEGER", n, 0, LST_END))), QEL_STATUS_OK)
        << status_message();
    elf_object* image = nullptr;
    ASSERT_TRUE(lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &image, LST_END));
    const auto* data = reinterpret_cast<const elf_POINTER*>(qelLayer(QELGetLayer(image, 0))->data);
    EXPECT_EQ(static_cast<const uint8_t*>(data->data)[0], expected_first_byte[n - 1]) << "page " << n;
  }
  release_all();
}

TEST_F(StdKVTest, TiffV6WritersSayItAndOtherFormatsPickTheirWriter) {
  struct Case {
    const char* file;
    const char* format;
    const char* subtype;
    const char* member;
    const char* written;
  };
  const Case cases[] = {{"a.tif", "tiff", "v6", "writetif", "a.tif"}, {"b.png", nullptr, nullptr, "writepng", "b-1.png"},
                        {"c.gif", nullptr, nullptr, "writegif", "c-1.gif"}, {"d.bmp", nullptr, nullptr, "writebmp", "d-1.bmp"},
                        {"e.pbm", nullptr, nullptr, "writeimage", "e-1.pbm"}, {"f", "png", nullptr, "writepng", "f-1.png"}};
  for (const Case& c : cases) {
    calls.clear();
    elf_object* w = make(MakeDocWriter, dir.file(c.file), c.format, c.subtype);
    ASSERT_NE(w, nullptr) << c.file << ": " << status_message();
    ASSERT_EQ(append(w, page(1)), QEL_STATUS_OK) << c.file << ": " << status_message();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].member, c.member);
    EXPECT_EQ(calls[0].filename, dir.file(c.written));
    EXPECT_EQ(calls[0].unsupported, std::strcmp(c.member, "writetif") == 0 ? 1 : -1);
    EXPECT_EQ(access(dir.file(c.written).c_str(), F_OK), 0) << c.written;
    release_all();
  }
}

TEST_F(StdKVTest, WritersDescribeWhatTheyAcceptAsSpecs) {
  struct Case {
    const char* file;
    int32_t specs, format, pagesPerFile, contone[2], binary;  // binary -1: bilevel pages not taken
    int32_t gif_interleave;
  };
  const Case cases[] = {{"a.jpg", 2, DIO_FORMAT_JFIF, 1, {1, 0}, -1, 1}, {"a.tif", 2, DIO_FORMAT_TIFF, 2, {1, 1}, 3, 1},
                        {"a.bmp", 1, DIO_FORMAT_PNG, 1, {0, 0}, 0, 1},   {"a.png", 1, DIO_FORMAT_PNG, 1, {0, 0}, 0, 1},
                        {"a.gif", 1, DIO_FORMAT_GIF, 1, {0, 0}, -1, 0},  {"a.pnm", 1, 0, -1, {-1, -1}, -1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    elf_object* w = make(MakeDocWriter, dir.file(c.file));
    ASSERT_NE(w, nullptr) << status_message();
    elf_object* specs = dioWriter(w)->transspecs;
    ASSERT_EQ(elflistLength(specs), c.specs);
    for (int32_t i = 0; i < c.specs; ++i) {
      const DIOCoreSpec* core = dioCoreSpec(elfIdentValue(elflistItem(specs, i)));
      ASSERT_NE(core, nullptr);
      EXPECT_EQ(core->format, c.format);
      if (c.format == 0) continue;  // the default spec as it stands
      EXPECT_EQ(core->pagesPerFile, c.pagesPerFile);
      EXPECT_EQ(core->contone.depth, 24);
      EXPECT_EQ(core->contone.compression, c.contone[i]);
      EXPECT_EQ(core->contone.jpegquality, 80);
      EXPECT_EQ(core->contone.interleave, c.gif_interleave);
      EXPECT_EQ(core->contone.maxXRes, 65000);
      EXPECT_EQ(core->binary.depth, c.binary == -1 ? 0 : 1);
      if (c.binary != -1) {
        EXPECT_EQ(core->binary.compression, c.binary);
      }
    }
    release_all();
  }
  int32_t bogus[16] = {};
  EXPECT_EQ(StdKVInitTransforms(bogus, keep(new_LIST(state, nullptr, nullptr))), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "StdKVInitTransforms: invalid internal state\n");
}

TEST_F(StdKVTest, PagesAreConvertedOrRefusedBeforeWriting) {
  elf_object* w = make(MakeDocWriter, dir.file("out.png"));
  ASSERT_NE(w, nullptr);
  // Device RGB is written as sRGB.
  elf_object* colour = new_QELIMAGE(state, nullptr, nullptr);
  keep(colour);
  {
    auto* rows = static_cast<uint8_t*>(elfCalloc(12, 1));
    elf_object* layer = QELNewBilevelLayer(state, 8, 1, 1, rows, 12, 300, 300);
    elf_QELHDR* h = qelHdr(qelLayer(layer)->description);
    h->samplesPerPixel = 3;
    h->bitsPerSample[0] = 8;
    h->bytesPerRow[0] = 12;
    h->width = 4;
    h->photometric = 18;
    qelLayer(layer)->kind = QEL_KIND_IMAGE;
    ASSERT_EQ(QELAppendLayer(colour, "layer0", layer), QEL_STATUS_OK);
  }
  ASSERT_EQ(append(w, colour), QEL_STATUS_OK) << status_message();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].photometric, 15);
  EXPECT_EQ(qelHdr(qelLayer(QELGetLayer(colour, 0))->description)->photometric, 18) << "the caller's page is unchanged";

  // A raster layer behind a rectangle is written on its own; without one the page is refused.
  elf_object* behind = new_QELIMAGE(state, nullptr, nullptr);
  keep(behind);
  elf_object* rect = new_QELLAYER(state, nullptr, nullptr);
  qelLayer(rect)->kind = QEL_KIND_RECTANGLE;
  ASSERT_EQ(QELAppendLayer(behind, "rect", rect), QEL_STATUS_OK);
  elf_object* only_rect = new_QELIMAGE(state, nullptr, nullptr);
  keep(only_rect);
  elf_object* rect2 = new_QELLAYER(state, nullptr, nullptr);
  qelLayer(rect2)->kind = QEL_KIND_RECTANGLE;
  ASSERT_EQ(QELAppendLayer(only_rect, "rect", rect2), QEL_STATUS_OK);
  EXPECT_EQ(append(w, only_rect), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "Process Err - Image does not have any raster layers\n");
  auto* rows = static_cast<uint8_t*>(elfCalloc(16, 1));
  ASSERT_EQ(QELAppendLayer(behind, "layer1", QELNewBilevelLayer(state, 8, 16, 1, rows, 16, 300, 300)), QEL_STATUS_OK);
  ASSERT_EQ(append(w, behind), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(count(), 2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].filename, dir.file("out-2.png"));

  // A write that fails counts nothing.
  elf_object* jbig2 = page(9);
  qelHdr(qelLayer(QELGetLayer(jbig2, 0))->description)->compression = QEL_COMPRESSION_JBIG2;
  EXPECT_NE(append(w, jbig2), QEL_STATUS_OK);
  EXPECT_NE(access(dir.file("out-3.png").c_str(), F_OK), 0);
  ASSERT_EQ(append(w, page(3)), QEL_STATUS_OK) << status_message();
  EXPECT_EQ(count(), 3);
  release_all();
}

TEST_F(StdKVTest, SlotsCheckTheirStateAndOnePageFormatsHoldOnePage) {
  const std::string bmp = dir.file("one.bmp");
  {
    elf_object* w = make(MakeDocWriter, bmp);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(set_flag(w, "_DIOnoPageNumFilename", 1), QEL_STATUS_OK);
    ASSERT_EQ(append(w, page(7)), QEL_STATUS_OK) << status_message();
    release_all();
  }
  int32_t subtype = 0;
  void* backend = StdKVInit(state, bmp.c_str(), DIO_FORMAT_BMP, 1, &subtype);
  ASSERT_NE(backend, nullptr);
  EXPECT_EQ(subtype, DIO_SUBFORMAT_NONE);
  int32_t n = 0;
  EXPECT_EQ(__StdKVReadGetPageCount(state, backend, &n), QEL_STATUS_OK);
  EXPECT_EQ(n, 1);
  elf_object* image = reinterpret_cast<elf_object*>(1);
  EXPECT_EQ(__StdKVReadGetPage(state, backend, 2, &image), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "Std KV Reader: invalid page request should be 1.\n");
  EXPECT_EQ(image, nullptr);
  ASSERT_EQ(__StdKVReadGetPage(state, backend, 1, &image), QEL_STATUS_OK) << status_message();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(static_cast<const uint8_t*>(reinterpret_cast<elf_POINTER*>(qelLayer(QELGetLayer(image, 0))->data)->data)[0], 7 * 16);
  elfDiscard(image);
  int32_t sum = 0;
  ASSERT_EQ(StdKVReadGetChecksum(state, backend, &sum), QEL_STATUS_OK);
  KVngIO* io = KVngIO_FileName(bmp.c_str(), "r");
  EXPECT_EQ(sum, static_cast<int32_t>(__DIO_unfilteredChecksum(io)));
  io->release(io);

  // A state that is not the back end's is refused by every slot.
  int32_t bogus[16] = {};
  EXPECT_EQ(__StdKVReadGetPageCount(state, bogus, &n), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "__StdKVReadGetPageCount: invalid internal state\n");
  EXPECT_EQ(__StdKVReadGetPage(state, bogus, 1, &image), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "Std KV Reader: internal State corrupt\n");
  EXPECT_EQ(StdKVReadGetChecksum(state, bogus, &sum), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "StdKVReadGetChecksum: invalid internal state\n");
  n = 5;
  EXPECT_EQ(__StdKVAppendPage(bogus, page(1), &n), QEL_STATUS_INVALID);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(status_message(), "Object Error - Std KV writer internal State corrupt\n");
  EXPECT_EQ(StdKVSetAttributes(bogus, nullptr), QEL_STATUS_INVALID);

  // Release frees a reader's state and leaves the object without one.
  elf_object* r = make(MakeDocReader, bmp);
  ASSERT_NE(r, nullptr);
  __StdKVRelease(r);
  EXPECT_EQ(dioReader(r)->backend, nullptr);
  dioReader(r)->backend = backend;
  release_all();

  // A TIFF that is not one cannot start a reader.
  monotest::write_file(dir.file("bad.tif"), std::string("II*\0", 4) + std::string(4, '\xff'));
  EXPECT_EQ(StdKVInit(state, dir.file("bad.tif").c_str(), DIO_FORMAT_TIFF, 1, &subtype), nullptr);
}

}  // namespace
