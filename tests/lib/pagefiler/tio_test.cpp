// The TIFF and TIFF-FX writer and reader through the document writer and the exported reader
// entry points, with libtiff and its tools as the judge of every file.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dio_backends.h"
#include "dio_fixture.h"
#include "kvng_hdr.h"
#include "tiff_oracle.h"
#include "tio.h"
#include "tools.h"

namespace {

using monotest::Bytes;
using monotest::RefBitmap;
using monotest::TempDir;
using monotest::TiffSpec;

bool exists(const std::string& path) { return std::ifstream(path).good(); }

// Bilevel rows, 1 = black, (width + 7) / 8 bytes each.
Bytes rows_of(const RefBitmap& bm) { return bm.bits; }

RefBitmap pattern(int w, int h, uint32_t seed) { return monotest::make_text_blobs(w, h, seed); }

class TioTest : public monotest::DocTest {
 protected:
  TempDir dir;

  // A writer made as the interpreter makes one; null when it could not be made.
  elf_object* writer(const std::string& name, const char* format, const char* subtype = nullptr) {
    elf_object* args = subtype ? lstBuildArgs(state, "filename:s", name.c_str(), 0, "format:s", format, 0,
                                              "subtype:s", subtype, 0, LST_END)
                               : lstBuildArgs(state, "filename:s", name.c_str(), 0, "format:s", format, 0, LST_END);
    const int status = call_context(MakeDocWriter, args);
    elfDiscard(args);
    elf_object* w = nullptr;
    if (status != 0 || !lstScanArgs(result, "docwt:DOCUMENTWRITER", LST_REQUIRED, &w, LST_END)) return nullptr;
    elfRefUp(w);
    return w;
  }
  void drop(elf_object*& obj) {
    if (obj) elfRefDown(obj);
    obj = nullptr;
  }
  int release(elf_object* w) { return call(w, "release"); }

  // A page of one layer whose data items are the given strips, each with its note (or none).
  elf_object* page(int32_t width, int32_t height, int32_t compression, const std::vector<Bytes>& strips,
                   const std::vector<const char*>& notes = {}, double xres = 204, double yres = 196,
                   int32_t samples = 1, int32_t bits = 1, int32_t photometric = QEL_PHOTO_BILEVEL) {
    elf_object* layerObj = new_QELLAYER(state, nullptr, nullptr);
    elf_object* header = new_QELHDR(state, nullptr, nullptr);
    elf_QELLAYER* layer = qelLayer(layerObj);
    ELF_ASSIGN(state, &layer->description, header);
    elf_QELHDR* h = qelHdr(header);
    h->width = width;
    h->height = height;
    h->samplesPerPixel = samples;
    h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bitsPerSampleCount = h->bytesPerRowCount = 1;
    h->bitsPerSample[0] = bits;
    h->bytesPerRow[0] = (width * samples * bits + 7) / 8;
    h->interleave = 1;
    h->photometric = photometric;
    h->compression = compression;
    layer->kind = samples * bits == 1 ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
    layer->xres = xres;
    layer->yres = yres;
    layer->width = width;
    layer->height = height;
    elf_object* tail = nullptr;
    for (size_t i = 0; i < strips.size(); ++i) {
      void* data = elfMalloc(strips[i].size() ? strips[i].size() : 1);
      std::memcpy(data, strips[i].data(), strips[i].size());
      elf_object* item = elfNewPointer(state, data, strips[i].size());
      if (i < notes.size() && notes[i]) reinterpret_cast<elf_POINTER*>(item)->description = elfStrDup(notes[i]);
      ELF_ASSIGN(state, tail ? &reinterpret_cast<elf_POINTER*>(tail)->next : &layer->data, item);
      tail = item;
    }
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    elf_QELIMAGE* im = qelImage(image);
    im->width = width;
    im->height = height;
    im->xres = xres;
    im->yres = yres;
    EXPECT_EQ(QELAppendLayer(image, "layer0", layerObj), 0);
    elfRefUp(image);
    return image;
  }

  // A raw bilevel page cut into strips of the given heights.
  elf_object* raw_page(const RefBitmap& bm, const std::vector<int>& heights, double xres = 204, double yres = 196) {
    std::vector<Bytes> strips;
    int row = 0;
    for (int h : heights) {
      strips.emplace_back(bm.row(row), bm.row(row) + static_cast<size_t>(h) * bm.stride);
      row += h;
    }
    return page(bm.width, bm.height, QEL_COMPRESSION_NONE, strips, {}, xres, yres);
  }

  int append(elf_object* w, elf_object* image) {
    elf_object* args = lstBuildArgs(state, "pgImg:QELIMAGE", image, 0, LST_END);
    const int status = call(w, "appendPage", args);
    elfDiscard(args);
    return status;
  }

  int32_t pages_of(elf_object* w) {
    call(w, "getPageCount");
    int32_t n = -1;
    lstScanArgs(result, "num:i", LST_OPTIONAL, &n, LST_END);
    return n;
  }

  // Writes a file with libtiff and gives its strips as the file holds them.
  std::vector<Bytes> libtiff_strips(const std::string& name, const TiffSpec& spec, const Bytes& rows) {
    const std::string path = dir.file(name);
    monotest::tiff_write(path, {spec}, {rows});
    return monotest::tiff_raw_strips(path, 0);
  }
};

// ---- Writing ----

TEST_F(TioTest, PagesGoIntoOneFileOrAFileEach) {
  const RefBitmap a = pattern(1728, 60, 1), b = pattern(1728, 40, 2);
  elf_object* w = writer(dir.file("scan"), "tifffx");
  ASSERT_NE(w, nullptr) << status_message();
  for (const RefBitmap* bm : {&a, &b}) {
    elf_object* image = raw_page(*bm, {bm->height});
    EXPECT_EQ(append(w, image), 0) << status_message();
    drop(image);
  }
  EXPECT_EQ(pages_of(w), 2);
  EXPECT_EQ(release(w), 0);
  drop(w);
  const std::string file = dir.file("scan.tif");
  ASSERT_EQ(monotest::tiff_directory_count(file), 2);
  EXPECT_EQ(monotest::tiff_bilevel(file, 0), a);
  EXPECT_EQ(monotest::tiff_bilevel(file, 1), b);

  // One file per page, named after the page; a null attribute list returns to one file.
  w = writer(dir.file("single.tif"), "tifffx");
  ASSERT_NE(w, nullptr);
  elf_object* flag = lstBuildArgs(state, "name:s", "_DIOsinglePageFile", 0, "obj:b", 1, 0, LST_END);
  EXPECT_EQ(call(w, "setAttr", flag), 0);
  elfDiscard(flag);
  for (const RefBitmap* bm : {&a, &b}) {
    elf_object* image = raw_page(*bm, {bm->height});
    EXPECT_EQ(append(w, image), 0) << status_message();
    drop(image);
  }
  EXPECT_EQ(release(w), 0);
  drop(w);
  EXPECT_FALSE(exists(dir.file("single.tif")));
  ASSERT_EQ(monotest::tiff_directory_count(dir.file("single-1.tif")), 1);
  ASSERT_EQ(monotest::tiff_directory_count(dir.file("single-2.tif")), 1);
  EXPECT_EQ(monotest::tiff_bilevel(dir.file("single-2.tif"), 0), b);

  // TIFF-FX by name, whatever the extension, goes to this writer.
  w = writer(dir.file("out.bin"), "tfx");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(dioWriter(w)->fns.AppendPage, TIFFAppendPage);
  EXPECT_EQ(static_cast<TIOState*>(dioWriter(w)->backend)->format, DIO_FORMAT_TIFFFX);
  drop(w);

  auto* s = static_cast<TIOState*>(TIFFWriteInit(state, dir.file("x").c_str(), DIO_FORMAT_TIFFFX, 1));
  ASSERT_NE(s, nullptr);
  s->multiPage = 0;
  EXPECT_EQ(TIFFSetAttributes(s, nullptr), 0);
  EXPECT_EQ(s->multiPage, 1);
  EXPECT_STREQ(s->fileName, dir.file("x.tif").c_str());
  _elfFree(s->fileName);
  std::free(s);
}

// How the data items of a layer become strips: by their notes, by their count for raw data, as
// one strip for coded data without notes.
TEST_F(TioTest, StripLayoutFollowsTheItemsAndTheirNotes) {
  const RefBitmap bm = pattern(1728, 100, 3);
  TiffSpec g4;
  g4.width = 1728;
  g4.height = 100;
  g4.compression = 4;
  g4.photometric = 0;
  g4.rowsPerStrip = 40;
  const std::vector<Bytes> coded = libtiff_strips("g4.tif", g4, rows_of(bm));
  ASSERT_EQ(coded.size(), 3u);
  // One coded stream cut anywhere into three items.
  g4.rowsPerStrip = 100;
  const Bytes whole = libtiff_strips("g4one.tif", g4, rows_of(bm)).at(0);
  const size_t third = whole.size() / 3;
  const std::vector<Bytes> cut{Bytes(whole.begin(), whole.begin() + third),
                               Bytes(whole.begin() + third, whole.begin() + 2 * third),
                               Bytes(whole.begin() + 2 * third, whole.end())};
  struct Case {
    const char* name;
    bool raw;
    const std::vector<Bytes>* items;
    std::vector<const char*> notes;
    uint32_t rowsPerStrip;
    uint32_t strips;
  };
  const Case cases[] = {
      {"raw, three items", true, nullptr, {}, 34, 3},
      {"coded, three items without notes", false, &cut, {}, 100, 1},
      {"coded, three items of forty rows", false, &coded, {"restart;40", "restart;40"}, 40, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file(std::string(c.raw ? "raw" : "coded") + std::to_string(c.notes.size()) + ".tif");
    elf_object* w = writer(file, "tifffx");
    ASSERT_NE(w, nullptr);
    elf_object* image = c.raw ? raw_page(bm, {34, 34, 32}) : page(1728, 100, QEL_COMPRESSION_G4, *c.items, c.notes);
    EXPECT_EQ(append(w, image), 0) << status_message();
    drop(image);
    EXPECT_EQ(release(w), 0);
    drop(w);
    const monotest::TiffDirectory d = monotest::tiff_directory(file, 0);
    EXPECT_EQ(d.rowsPerStrip, c.rowsPerStrip);
    EXPECT_EQ(d.strips, c.strips);
    EXPECT_EQ(monotest::tiff_bilevel(file, 0), bm);
    if (!c.raw) {
      EXPECT_EQ(monotest::tiff_raw_strips(file, 0), c.strips == 3 ? coded : std::vector<Bytes>{whole});
    }
  }
}

// A failed page is not counted, leaves the pages before it whole, and no later page is taken
// by the closed document.
TEST_F(TioTest, AFailedPageEndsTheDocumentAndIsNotCounted) {
  const RefBitmap bm = pattern(1728, 100, 4);
  TiffSpec g4;
  g4.width = 1728;
  g4.height = 100;
  g4.compression = 4;
  g4.rowsPerStrip = 40;
  const std::vector<Bytes> coded = libtiff_strips("g4.tif", g4, rows_of(bm));
  struct Case {
    const char* name;
    std::vector<const char*> notes;
  };
  // A restart of 0 never advances; one above the height leaves the last strip no rows.
  const Case cases[] = {{"restart 0", {"restart;0", "restart;0"}},
                        {"restart above the height", {"restart;101", "restart;101"}},
                        {"restart leaving a negative strip", {"restart;60", "restart;60"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file("fail.tif");
    elf_object* w = writer(file, "tifffx");
    ASSERT_NE(w, nullptr);
    elf_object* good = raw_page(bm, {100});
    EXPECT_EQ(append(w, good), 0);
    elf_object* bad = page(1728, 100, QEL_COMPRESSION_G4, coded, c.notes);
    EXPECT_EQ(append(w, bad), QEL_STATUS_INVALID);
    EXPECT_EQ(status_message(), "IO Write Error in TIFF IO\n");
    EXPECT_EQ(pages_of(w), 1);
    EXPECT_EQ(append(w, good), QEL_STATUS_INVALID);
    EXPECT_EQ(pages_of(w), 1);
    drop(good);
    drop(bad);
    EXPECT_EQ(release(w), 0);
    drop(w);
    // A document that lost a page is no result: its name is left as it was (here: no file).
    EXPECT_FALSE(std::ifstream(file).good());
  }

  // One file per page: a failed page leaves no file behind and takes no page number.
  elf_object* w = writer(dir.file("each.tif"), "tifffx");
  ASSERT_NE(w, nullptr);
  elf_object* flag = lstBuildArgs(state, "name:s", "_DIOsinglePageFile", 0, "obj:b", 1, 0, LST_END);
  EXPECT_EQ(call(w, "setAttr", flag), 0);
  elfDiscard(flag);
  elf_object* bad = page(1728, 100, QEL_COMPRESSION_G4, coded, {"restart;0", "restart;0"});
  elf_object* good = raw_page(bm, {100});
  EXPECT_EQ(append(w, bad), QEL_STATUS_INVALID);
  EXPECT_FALSE(exists(dir.file("each-1.tif")));
  EXPECT_EQ(append(w, good), 0);
  EXPECT_EQ(monotest::tiff_directory_count(dir.file("each-1.tif")), 1);
  drop(bad);
  drop(good);
  EXPECT_EQ(release(w), 0);
  drop(w);
}

TEST_F(TioTest, StatesAreCheckedAndOtherModesRefused) {
  TIOState bogus{};
  int32_t count = 7;
  elf_object* image = raw_page(pattern(64, 8, 5), {8});
  EXPECT_EQ(TIFFAppendPage(&bogus, image, &count), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TIFFAppendPage: invalid internal state\n");
  EXPECT_EQ(count, 7);
  clearStatus(state);
  EXPECT_EQ(TIFFSetAttributes(&bogus, nullptr), QEL_STATUS_INVALID);
  elf_object* empty = new_LIST(state, nullptr, nullptr);
  EXPECT_EQ(TIFFSetAttributes(&bogus, empty), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TIFFSetAttributes: invalid internal state\n");
  elfDiscard(empty);

  auto* s = static_cast<TIOState*>(TIFFWriteInit(state, dir.file("modes.tif").c_str(), DIO_FORMAT_TIFF, 2));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(__TIFF_CompressWrite(s, image), TIO_MODE_UNSUPPORTED);
  EXPECT_EQ(__TIFF_UncompressWrite(s, image), TIO_MODE_UNSUPPORTED);
  EXPECT_EQ(s->pageCount, 0);
  // An image without layers fails, and the document has been closed.
  elf_object* bare = new_QELIMAGE(state, nullptr, nullptr);
  EXPECT_EQ(TIFFAppendPage(s, bare, &count), QEL_STATUS_INVALID);
  EXPECT_EQ(count, 0);
  elfDiscard(bare);
  EXPECT_EQ(__TIFF_CloseDocumentWrite(s), 0);
  _elfFree(s->fileName);
  std::free(s->page);
  std::free(s);
  drop(image);
}

// ---- Fax profiles ----

TEST_F(TioTest, FaxProfilesTagEveryPageAndCodeAsTheyMust) {
  const RefBitmap bm = pattern(1728, 120, 6);
  TiffSpec spec;
  spec.width = 1728;
  spec.height = 120;
  spec.rowsPerStrip = 120;
  struct Case {
    const char* subtype;
    uint16_t compression;  // libtiff's coder for the page
    uint32_t group3;
    int32_t layerCompression;
    uint8_t faxProfile;
    const char* toolsSay;
  };
  const Case cases[] = {
      {"profileS", 3, 0, QEL_COMPRESSION_G3, 1, "CCITT Group 3"},
      {"profileF", 4, 0, QEL_COMPRESSION_G4, 2, "CCITT Group 4"},
      {"profileC", 4, 0, QEL_COMPRESSION_G4, 4, "CCITT Group 4"},
  };
  monotest::require_tool("tiffinfo", "libtiff-tools");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subtype);
    spec.compression = c.compression;
    spec.group3Options = c.group3;
    const std::vector<Bytes> strips = libtiff_strips(std::string(c.subtype) + "-src.tif", spec, rows_of(bm));
    const std::string file = dir.file(std::string(c.subtype) + ".tif");
    elf_object* w = writer(file, "tifffx", c.subtype);
    ASSERT_NE(w, nullptr) << status_message();
    for (int i = 0; i < 2; ++i) {
      elf_object* image = page(1728, 120, c.layerCompression, strips, {}, 204, 196);
      EXPECT_EQ(append(w, image), 0) << status_message() << engine_messages;
      drop(image);
    }
    EXPECT_EQ(release(w), 0);
    drop(w);
    ASSERT_EQ(monotest::tiff_directory_count(file), 2);
    for (int d = 0; d < 2; ++d) {
      const monotest::TiffDirectory dir0 = monotest::tiff_directory(file, d);
      EXPECT_TRUE(dir0.hasFaxProfile);
      EXPECT_EQ(dir0.faxProfile, c.faxProfile);
      EXPECT_EQ(dir0.compression, c.compression);
      EXPECT_EQ(monotest::tiff_bilevel(file, d), bm);
    }
    const monotest::ToolResult info = monotest::run_tool("tiffinfo " + monotest::shell_quote(file));
    EXPECT_NE(info.output.find(c.toolsSay), std::string::npos) << info.output;
    const std::string profile = "FaxProfile: " + std::to_string(c.faxProfile);
    size_t tagged = 0;
    for (size_t at = info.output.find(profile); at != std::string::npos; at = info.output.find(profile, at + 1)) ++tagged;
    EXPECT_EQ(tagged, 2u) << info.output;
  }
}

// ---- Reading ----

struct ReadState {
  elf_state* context;
  void* backend = nullptr;
  int32_t format = -1, subtype = -1;
  ReadState(elf_state* c, const std::string& path) : context(c) {
    backend = TIFFReadInit(c, path.c_str(), &format, &subtype);
  }
  ~ReadState() {
    if (!backend) return;
    // Released as a reader object would release it.
    elf_object* r = new_elf_object(context, "DOCUMENTREADER", nullptr);
    dioReader(r)->backend = backend;
    dioReader(r)->fns.Release = TIFFRelease;
    elfDiscard(r);
  }
  TIOState* tio() const { return static_cast<TIOState*>(backend); }
};

// Every data item of the page's layer.
std::vector<Bytes> items_of(elf_object* image, std::vector<std::string>* notes = nullptr) {
  std::vector<Bytes> out;
  const elf_QELLAYER* layer = qelLayer(QELGetLayer(image, 0));
  for (auto* p = reinterpret_cast<const elf_POINTER*>(layer ? layer->data : nullptr); p;
       p = reinterpret_cast<const elf_POINTER*>(p->next)) {
    const auto* bytes = static_cast<const uint8_t*>(p->data);
    out.emplace_back(bytes, bytes + p->length);
    if (notes) notes->push_back(p->description ? p->description : "");
  }
  return out;
}

TEST_F(TioTest, ReaderGivesTheStripsAsTheFileHoldsThem) {
  const RefBitmap bm = pattern(1728, 55, 7);
  struct Case {
    const char* name;
    uint16_t compression;
    uint32_t group3, rowsPerStrip;
    int32_t layerCompression;
    std::vector<std::string> notes;
  };
  const Case cases[] = {
      {"G4 in one strip", 4, 0, 55, QEL_COMPRESSION_G4, {""}},
      {"G3 in strips of 16", 3, 0, 16, QEL_COMPRESSION_G3, {"restart;16", "restart;16", "restart;16", ""}},
      {"G3 2-D in strips of 16", 3, 1, 16, QEL_COMPRESSION_G3_2D, {"restart;16", "restart;16", "restart;16", ""}},
      {"raw in strips of 20", 1, 0, 20, QEL_COMPRESSION_NONE, {"", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffSpec spec;
    spec.width = 1728;
    spec.height = 55;
    spec.compression = c.compression;
    spec.group3Options = c.group3;
    spec.rowsPerStrip = c.rowsPerStrip;
    spec.xres = 200;
    spec.yres = 100;
    const std::string file = dir.file("read.tif");
    monotest::tiff_write(file, {spec, spec}, {rows_of(bm), rows_of(bm)});
    ReadState rs(state, file);
    ASSERT_NE(rs.backend, nullptr);
    EXPECT_EQ(rs.format, DIO_FORMAT_TIFF);
    EXPECT_EQ(rs.subtype, DIO_SUBFORMAT_TIFF_V6);
    int32_t count = 0;
    EXPECT_EQ(TIFFReadGetPageCount(state, rs.backend, &count), 0);
    EXPECT_EQ(count, 2);
    elf_object* image = nullptr;
    ASSERT_EQ(TIFFReadGetPage(state, rs.backend, 2, &image), 0) << status_message();
    elfRefUp(image);
    std::vector<std::string> notes;
    EXPECT_EQ(items_of(image, &notes), monotest::tiff_raw_strips(file, 1));
    EXPECT_EQ(notes, c.notes);
    const elf_QELLAYER* layer = qelLayer(QELGetLayer(image, 0));
    const elf_QELHDR* h = qelHdr(layer->description);
    EXPECT_EQ(h->compression, c.layerCompression);
    EXPECT_EQ(h->width, 1728);
    EXPECT_EQ(h->height, 55);
    EXPECT_EQ(h->bytesPerRow[0], 216);
    EXPECT_EQ(layer->kind, QEL_KIND_BILEVEL);
    EXPECT_EQ(layer->xres, 200.0);
    EXPECT_EQ(layer->yres, 100.0);
    // What was read is written again strip for strip.
    const std::string again = dir.file("again.tif");
    elf_object* w = writer(again, "tifffx");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(append(w, image), 0) << status_message();
    EXPECT_EQ(release(w), 0);
    drop(w);
    EXPECT_EQ(monotest::tiff_raw_strips(again, 0), monotest::tiff_raw_strips(file, 1));
    EXPECT_EQ(monotest::tiff_bilevel(again, 0), bm);
    drop(image);
  }
}

TEST_F(TioTest, ReaderNamesTheProfileOfAFile) {
  const RefBitmap bm = pattern(1728, 30, 8);
  TiffSpec spec;
  spec.width = 1728;
  spec.height = 30;
  spec.compression = 4;
  spec.rowsPerStrip = 30;
  const std::vector<Bytes> strips = libtiff_strips("src.tif", spec, rows_of(bm));
  const std::string file = dir.file("f.tif");
  elf_object* w = writer(file, "tifffx", "profileF");
  ASSERT_NE(w, nullptr);
  elf_object* image = page(1728, 30, QEL_COMPRESSION_G4, strips, {}, 204, 196);
  EXPECT_EQ(append(w, image), 0) << status_message();
  drop(image);
  EXPECT_EQ(release(w), 0);
  drop(w);
  ReadState rs(state, file);
  ASSERT_NE(rs.backend, nullptr);
  EXPECT_EQ(rs.format, DIO_FORMAT_TIFFFX);
  EXPECT_EQ(rs.subtype, DIO_SUBFORMAT_PROFILE_F);
  int32_t sum = 0;
  EXPECT_EQ(TIFFReadGetChecksum(state, rs.backend, &sum), 0);
  const std::string bytes = monotest::read_file(file);
  EXPECT_EQ(static_cast<uint32_t>(sum), __DIO_calculateChecksum(0, bytes.data(), static_cast<int32_t>(bytes.size())));
}

// PackBits strips are expanded into raw rows, never past the rows they hold.
TEST_F(TioTest, PackBitsIsExpandedWithinItsRows) {
  const RefBitmap bm = pattern(300, 41, 9);
  TiffSpec spec;
  spec.width = 300;
  spec.height = 41;
  spec.compression = 32773;
  spec.rowsPerStrip = 10;
  const std::string file = dir.file("pb.tif");
  monotest::tiff_write(file, {spec}, {rows_of(bm)});
  {
    ReadState rs(state, file);
    elf_object* image = nullptr;
    ASSERT_EQ(TIFFReadGetPage(state, rs.backend, 1, &image), 0) << status_message();
    elfRefUp(image);
    const std::vector<Bytes> items = items_of(image);
    ASSERT_EQ(items.size(), 5u);
    Bytes all;
    for (const Bytes& b : items) all.insert(all.end(), b.begin(), b.end());
    EXPECT_EQ(all, bm.bits);
    const elf_QELHDR* h = qelHdr(qelLayer(QELGetLayer(image, 0))->description);
    EXPECT_EQ(h->compression, QEL_COMPRESSION_NONE);
    drop(image);
  }

  // Raw strips relabelled as PackBits: one repeats a byte far beyond its rows, one runs short.
  auto relabelled = [&](const std::string& name, const Bytes& data) {
    TiffSpec raw;
    raw.width = 8;
    raw.height = 4;
    raw.rowsPerStrip = 4;
    const std::string path = dir.file(name);
    monotest::tiff_write(path, {raw}, {data});
    std::string bytes = monotest::read_file(path);
    const std::string entry("\x03\x01\x03\x00\x01\x00\x00\x00\x01\x00", 10);
    const size_t at = bytes.find(entry);
    EXPECT_NE(at, std::string::npos);
    bytes[at + 8] = '\x05';
    bytes[at + 9] = '\x80';
    monotest::write_file(path, bytes);
    return path;
  };
  {
    ReadState rs(state, relabelled("long.tif", {0x81, 0xAA, 0x81, 0x55}));
    elf_object* image = nullptr;
    ASSERT_EQ(TIFFReadGetPage(state, rs.backend, 1, &image), 0) << status_message();
    elfRefUp(image);
    EXPECT_EQ(items_of(image), std::vector<Bytes>{Bytes(4, 0xAA)});
    drop(image);
  }
  {
    ReadState rs(state, relabelled("short.tif", {0x00, 0x11, 0x80, 0x80}));
    elf_object* image = nullptr;
    EXPECT_EQ(TIFFReadGetPage(state, rs.backend, 1, &image), QEL_STATUS_FAILED);
    EXPECT_EQ(image, nullptr);
    EXPECT_NE(status_message().find("expands to 1 of its 4 bytes"), std::string::npos) << status_message();
  }
}

TEST_F(TioTest, ReaderRefusesWhatItCannotRead) {
  const std::string missing = dir.file("missing.tif");
  {
    ReadState rs(state, missing);
    ASSERT_NE(rs.backend, nullptr);
    EXPECT_EQ(rs.format, 0);
    EXPECT_EQ(rs.subtype, 1);
    EXPECT_EQ(status_message(), "Unknown error in TIFF IO");
    int32_t count = 0;
    EXPECT_EQ(TIFFReadGetPageCount(state, rs.backend, &count), QEL_STATUS_INVALID);
    EXPECT_EQ(count, -1);
    elf_object* image = reinterpret_cast<elf_object*>(1);
    EXPECT_EQ(TIFFReadGetPage(state, rs.backend, 1, &image), QEL_STATUS_INVALID);
    EXPECT_EQ(image, nullptr);
  }
  TiffSpec spec;
  spec.width = 16;
  spec.height = 4;
  spec.rowsPerStrip = 4;
  const std::string file = dir.file("one.tif");
  monotest::tiff_write(file, {spec}, {Bytes(8, 0x0F)});
  ReadState rs(state, file);
  for (int32_t page : {0, 2, -1}) {
    elf_object* image = nullptr;
    EXPECT_EQ(TIFFReadGetPage(state, rs.backend, page, &image), QEL_STATUS_INVALID) << page;
    EXPECT_EQ(image, nullptr);
  }
  TIOState bogus{};
  elf_object* image = nullptr;
  EXPECT_EQ(TIFFReadGetPage(state, &bogus, 1, &image), QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "Invalid internal TIFF_IO state.\n");
  int32_t n = 0;
  EXPECT_EQ(TIFFReadGetPageCount(state, &bogus, &n), QEL_STATUS_INVALID);
  EXPECT_EQ(TIFFReadGetChecksum(state, &bogus, &n), QEL_STATUS_INVALID);
}

// A page the bridge does not read fails with the bridge's reason, each page with its own.
TEST_F(TioTest, UnreadPagesSayWhy) {
  TiffSpec tiled;
  tiled.width = tiled.height = 32;
  tiled.tiled = true;
  TiffSpec planes;
  planes.width = 16;
  planes.height = planes.rowsPerStrip = 4;
  planes.bits = 8;
  planes.samples = 3;
  planes.photometric = 2;
  planes.separatePlanes = true;
  TiffSpec plain;
  plain.width = 16;
  plain.height = plain.rowsPerStrip = 4;
  const std::string file = dir.file("mixed.tif");
  monotest::tiff_write(file, {tiled, tiled, planes, plain}, {Bytes(32 * 4, 0x0F), Bytes(32 * 4, 0xF0),
                                                               Bytes(16 * 4 * 3, 0x80), Bytes(8, 0x0F)});
  ReadState rs(state, file);
  const char* reasons[] = {"tiled images are not read\n", "tiled images are not read\n",
                           "planes stored apart are not read\n", nullptr};
  for (int32_t page = 1; page <= 4; ++page) {
    SCOPED_TRACE(page);
    elf_object* image = nullptr;
    const int status = TIFFReadGetPage(state, rs.backend, page, &image);
    if (!reasons[page - 1]) {
      ASSERT_EQ(status, 0) << status_message();
      elfDiscard(image);
      continue;
    }
    EXPECT_EQ(status, QEL_STATUS_INVALID);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(status_message(), reasons[page - 1]);
  }
}

// Damaged files: every cut and a run of corrupted bytes fail cleanly or read what is there.
TEST_F(TioTest, DamagedFilesFailWithoutHarm) {
  const RefBitmap bm = pattern(200, 40, 10);
  TiffSpec spec;
  spec.width = 200;
  spec.height = 40;
  spec.compression = 4;
  spec.rowsPerStrip = 10;
  const std::string good = dir.file("good.tif");
  monotest::tiff_write(good, {spec, spec}, {rows_of(bm), rows_of(bm)});
  const std::string bytes = monotest::read_file(good);
  const std::string bad = dir.file("bad.tif");
  uint32_t seed = 1;
  for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 4) {
    for (int variant = 0; variant < 2; ++variant) {
      std::string damaged = bytes;
      if (variant == 0) {
        damaged.resize(cut);
      } else {
        for (size_t i = cut; i < damaged.size() && i < cut + 6; ++i) {
          seed = seed * 1103515245u + 12345u;
          damaged[i] = static_cast<char>(seed >> 16);
        }
      }
      monotest::write_file(bad, damaged);
      ReadState rs(state, bad);
      ASSERT_NE(rs.backend, nullptr);
      int32_t count = 0;
      if (TIFFReadGetPageCount(state, rs.backend, &count) != 0) continue;
      for (int32_t p = 1; p <= count && p <= 3; ++p) {
        elf_object* image = nullptr;
        if (TIFFReadGetPage(state, rs.backend, p, &image) == 0) {
          ASSERT_NE(image, nullptr);
          elfDiscard(image);
        } else {
          EXPECT_EQ(image, nullptr);
        }
      }
    }
  }
}

}  // namespace

namespace {

// ---- What each target takes ----

TEST_F(TioTest, EachTargetDescribesWhatItTakes) {
  struct Raster {
    int32_t depth, compression, quality;
    double maxRes;
  };
  struct Case {
    int32_t format, subtype;
    Raster contone, binary;
  };
  const Case cases[] = {
      {DIO_FORMAT_TIFF, 0, {24, QEL_COMPRESSION_JPEG, 80, 65000}, {1, QEL_COMPRESSION_G4, 80, 65000}},
      {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_S, {0, -1, 80, 65000}, {1, QEL_COMPRESSION_G3, 0, 200}},
      {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_F, {0, -1, 80, 65000}, {1, QEL_COMPRESSION_G4, 0, 400}},
      {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_C, {24, QEL_COMPRESSION_JPEG, 60, 400}, {1, QEL_COMPRESSION_G4, 0, 400}},
      // A TIFF-FX document without a profile takes what the default spec takes.
      {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_NONE, {24, -1, 80, 65000}, {1, -1, 80, 65000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " subtype " << c.subtype);
    void* backend = TIFFWriteInit(state, dir.file("t.tif").c_str(), c.format, c.subtype);
    ASSERT_NE(backend, nullptr);
    elf_object* specs = new_LIST(state, nullptr, nullptr);
    elfRefUp(specs);
    elf_object* earlier = nullptr;
    ASSERT_EQ(__createDefaultTransformSpec(state, &earlier), 0);
    ASSERT_EQ(elflistInsert(specs, earlier, 0, 0), 0);
    EXPECT_EQ(TIFFInitTransforms(backend, specs), 0) << status_message();
    // The document's spec goes in front.
    ASSERT_EQ(elflistLength(specs), 2);
    const DIOCoreSpec* core = dioCoreSpec(elflistItem(specs, 0));
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->format, c.format);
    EXPECT_EQ(core->subtype, c.subtype);
    EXPECT_EQ(core->pageMode, DIO_PAGE_FLAT);
    EXPECT_EQ(core->pagesPerFile, DIO_PAGES_ANY);
    const std::pair<const DIORasterSpec*, const Raster*> blocks[] = {{&core->contone, &c.contone},
                                                                     {&core->binary, &c.binary}};
    for (const auto& [got, want] : blocks) {
      EXPECT_EQ(got->depth, want->depth);
      if (!want->depth) continue;
      EXPECT_EQ(got->compression, want->compression);
      EXPECT_EQ(got->jpegquality, want->quality);
      EXPECT_EQ(got->jbig2arith, 0);
      EXPECT_EQ(got->photometries, nullptr);
      EXPECT_EQ(got->maxXRes, want->maxRes);
      EXPECT_EQ(got->maxYRes, want->maxRes);
    }
    elfRefDown(specs);
    elf_object* w = new_elf_object(state, "DOCUMENTWRITER", nullptr);
    dioWriter(w)->backend = backend;
    dioWriter(w)->fns.Release = TIFFRelease;
    elfDiscard(w);
  }

  TIOState bogus{};
  elf_object* specs = new_LIST(state, nullptr, nullptr);
  EXPECT_EQ(TIFFInitTransforms(&bogus, specs), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TIFFInitTransforms: invalid internal state\n");
  EXPECT_EQ(elflistLength(specs), 0);
  elfDiscard(specs);

  // A writer made for a fax profile carries its spec.
  elf_object* w = writer(dir.file("s.tif"), "tifffx", "profileS");
  ASSERT_NE(w, nullptr) << status_message();
  ASSERT_EQ(elflistLength(dioWriter(w)->transspecs), 1);
  EXPECT_EQ(dioCoreSpec(elflistItem(dioWriter(w)->transspecs, 0))->binary.compression, QEL_COMPRESSION_G3);
  drop(w);
}

}  // namespace

namespace {

// The coding chain the reader leaves in a layer's description for the engine.
std::vector<std::pair<int32_t, std::string>> chain_of(elf_object* image) {
  std::vector<std::pair<int32_t, std::string>> out;
  elf_object* description = qelLayer(QELGetLayer(image, 0))->description;
  KVngCompressionData* chain = KVngLoadCompressionData(KVngHdrUserData(description, 0));
  for (int32_t i = 0; i < KVngCompressionDataCount(chain); ++i) {
    int32_t type = 0;
    const char* params = nullptr;
    KVngGetCompressionData(chain, &type, &params, i);
    out.emplace_back(type, params ? params : "");
  }
  KVngFreeCompressionData(chain);
  return out;
}

TEST_F(TioTest, ReaderTellsTheEngineHowStripsAreCoded) {
  struct Case {
    const char* name;
    TiffSpec spec;
    int32_t compression, photometric, interleave;
    std::vector<std::pair<int32_t, std::string>> chain;
    std::string firstNote;
  };
  auto spec = [](uint16_t bits, uint16_t samples, uint16_t compression, uint16_t photometric, uint16_t predictor,
                 uint32_t rowsPerStrip) {
    TiffSpec s;
    s.width = 40;
    s.height = 55;
    s.bits = bits;
    s.samples = samples;
    s.compression = compression;
    s.photometric = photometric;
    s.predictor = predictor;
    s.rowsPerStrip = rowsPerStrip;
    return s;
  };
  const Case cases[] = {
      {"JPEG in YCbCr, equal strips", spec(8, 3, 7, 6, 1, 16), QEL_COMPRESSION_JPEG, 111, 3,
       {{QEL_COMPRESSION_JPEG, "restart;16,ycc_transform"}}, "restart;16"},
      {"LZW with the predictor", spec(8, 1, 5, 1, 2, 16), QEL_COMPRESSION_LZW, 1, 1,
       {{QEL_COMPRESSION_LZW, "restart;16,earlychange"}, {15, "diff"}}, "restart;16"},
      {"G3 in one strip", spec(1, 1, 3, 0, 1, 55), QEL_COMPRESSION_G3, QEL_PHOTO_BILEVEL, 1,
       {{QEL_COMPRESSION_G3, ""}}, ""},
      {"raw", spec(8, 1, 1, 1, 1, 16), QEL_COMPRESSION_NONE, 1, 1, {{QEL_COMPRESSION_NONE, ""}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t line = c.spec.bits == 1 ? (c.spec.width + 7) / 8 : size_t{c.spec.width} * c.spec.samples;
    Bytes rows(line * c.spec.height);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>((i * 7) ^ (i / line) * 13);
    const std::string file = dir.file("coded.tif");
    monotest::tiff_write(file, {c.spec}, {rows});
    ReadState rs(state, file);
    elf_object* image = nullptr;
    ASSERT_EQ(TIFFReadGetPage(state, rs.backend, 1, &image), 0) << status_message();
    elfRefUp(image);
    const elf_QELHDR* h = qelHdr(qelLayer(QELGetLayer(image, 0))->description);
    EXPECT_EQ(h->compression, c.compression);
    EXPECT_EQ(h->photometric, c.photometric);
    EXPECT_EQ(h->interleave, c.interleave);
    EXPECT_EQ(chain_of(image), c.chain);
    std::vector<std::string> notes;
    items_of(image, &notes);
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.front(), c.firstNote);
    drop(image);
  }
}

}  // namespace

namespace {

// ---- Pages the fax profile resizes ----

// A white page with one black block, so that where it lands after scaling can be told.
RefBitmap block_page(int w, int h, int x0, int y0, int x1, int y1) {
  RefBitmap bm(w, h);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) bm.set(x, y, 1);
  }
  return bm;
}

// Whether the block [x0, x1) x [y0, y1) is black and everything a pixel away from it white.
std::string block_at(const RefBitmap& bm, int x0, int y0, int x1, int y1) {
  for (int y = 0; y < bm.height; ++y) {
    for (int x = 0; x < bm.width; ++x) {
      const bool inside = x >= x0 + 1 && x < x1 - 1 && y >= y0 + 1 && y < y1 - 1;
      const bool outside = x < x0 - 1 || x >= x1 + 1 || y < y0 - 1 || y >= y1 + 1;
      if ((inside && !bm.get(x, y)) || (outside && bm.get(x, y))) {
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + (bm.get(x, y) ? "black" : "white");
      }
    }
  }
  return "";
}

TEST_F(TioTest, APageTheProfileResizesIsScaledByTheScript) {
  // 300 dpi and 2550 pixels wide: profile S takes it at 204 x 196 dpi, 1728 wide.
  const RefBitmap bm = block_page(2550, 330, 300, 30, 1500, 300);
  TiffSpec g3;
  g3.width = 2550;
  g3.height = 330;
  g3.compression = 3;
  g3.rowsPerStrip = 330;
  const std::vector<Bytes> coded = libtiff_strips("g3.tif", g3, rows_of(bm));
  const std::string file = dir.file("s.tif");
  elf_object* w = writer(file, "tifffx", "profileS");
  ASSERT_NE(w, nullptr) << status_message();
  elf_object* image = page(2550, 330, QEL_COMPRESSION_G3, coded, {}, 300, 300);
  EXPECT_EQ(append(w, image), 0) << status_message();
  drop(image);
  EXPECT_EQ(release(w), 0);
  drop(w);
  monotest::require_tool("tiffdump", "libtiff-tools");
  const monotest::TiffDirectory d = monotest::tiff_directory(file, 0);
  EXPECT_EQ(d.width, 1728u);
  EXPECT_EQ(d.height, 216u);
  EXPECT_EQ(d.xres, 204.0f);
  EXPECT_EQ(d.yres, 196.0f);
  EXPECT_EQ(d.compression, 3);
  EXPECT_EQ(d.group3Options & 1u, 0u);
  EXPECT_EQ(d.faxProfile, 1);
  // Scaled by 216 / 330 both ways, white to the right of the scaled page.
  const double s = 216.0 / 330.0;
  EXPECT_EQ(block_at(monotest::tiff_bilevel(file, 0), static_cast<int>(300 * s), static_cast<int>(30 * s),
                     static_cast<int>(1500 * s), static_cast<int>(300 * s)),
            "");
}

TEST_F(TioTest, TheScriptConvertsAndRefusesWhatItCannot) {
  // A grey page made bilevel: dark is black.
  const int32_t w = 64, h = 40;
  Bytes grey(static_cast<size_t>(w) * h, 230);
  for (int y = 10; y < 30; ++y) {
    for (int x = 16; x < 48; ++x) grey[static_cast<size_t>(y) * w + x] = 20;
  }
  elf_object* image = page(w, h, QEL_COMPRESSION_NONE, {grey}, {}, 400, 400, 1, 8, 22);
  auto run = [&](elf_object* in, int32_t dw, int32_t dh, int32_t photo, elf_object** out) {
    elf_object* args = lstBuildArgs(state, "inImg:QELIMAGE", in, 0, "dw:i", dw, 0, "dh:i", dh, 0, "outfile:s",
                                    "x.tif", 0, "outphoto:i", photo, 0, LST_END);
    elf_object* res = nullptr;
    const int status = ELFScriptExec(state, "docio/tifffxFmtAdj.elf", args, &res);
    elfDiscard(args);
    *out = nullptr;
    if (status == 0) {
      EXPECT_EQ(lstScanArgs(res, "outImg:QELIMAGE", LST_REQUIRED, out, LST_END), 1);
      elfRefUp(*out);
    }
    if (res) elfDiscard(res);
    return status;
  };
  elf_object* out = nullptr;
  ASSERT_EQ(run(image, 40, 20, QEL_PHOTO_BILEVEL, &out), 0) << status_message();
  const elf_QELLAYER* layer = qelLayer(QELGetLayer(out, 0));
  const elf_QELHDR* oh = qelHdr(layer->description);
  EXPECT_EQ(oh->width, 40);
  EXPECT_EQ(oh->height, 20);
  EXPECT_EQ(oh->bitsPerSample[0], 1);
  EXPECT_EQ(oh->photometric, QEL_PHOTO_BILEVEL);
  EXPECT_EQ(layer->kind, QEL_KIND_BILEVEL);
  RefBitmap got(40, 20);
  const Bytes data = items_of(out).at(0);
  ASSERT_EQ(data.size(), got.bits.size());
  got.bits = data;
  // 64 x 40 scaled by a half: the block is 8..24 x 5..15, the rest of the 40 columns white.
  EXPECT_EQ(block_at(got, 8, 5, 24, 15), "");
  drop(out);

  // Damaged JPEG data, a coding or depth the script does not take: no page is made.
  struct Refusal {
    int32_t compression, samples, bits;
    const char* message;
  };
  const Refusal refusals[] = {
      {QEL_COMPRESSION_JPEG, 3, 8, "docio/tifffxFmtAdj.elf: the page's JPEG data cannot be decoded\n"},
      {QEL_COMPRESSION_LZW, 1, 8, "docio/tifffxFmtAdj.elf: a page coded as 10 cannot be brought to the profile\n"},
      {QEL_COMPRESSION_NONE, 1, 4,
       "docio/tifffxFmtAdj.elf: a page of 1 samples of 4 bits cannot be brought to the profile\n"},
  };
  for (const Refusal& r : refusals) {
    elf_object* bad = page(w, h, r.compression, {Bytes(10, 0xFF)}, {}, 400, 400, r.samples, r.bits, 111);
    EXPECT_EQ(run(bad, 40, 20, 111, &out), QEL_STATUS_INVALID);
    EXPECT_EQ(status_message(), r.message);
    EXPECT_EQ(out, nullptr);
    drop(bad);
  }
  EXPECT_EQ(run(image, 0, 20, 21, &out), QEL_STATUS_INVALID);
  drop(image);
}

}  // namespace

namespace {

// A colour page in JPEG strips, read from a file, at a resolution profile C does not take: it is
// scaled to the profile's size and coded again as JPEG, its colours kept.
TEST_F(TioTest, AColourPageIsScaledForTheColourProfile) {
  TiffSpec spec;
  spec.width = 1296;
  spec.height = 100;
  spec.bits = 8;
  spec.samples = 3;
  spec.compression = 7;
  spec.photometric = 6;
  spec.rowsPerStrip = 32;
  Bytes rows(size_t{1296} * 100 * 3);
  for (size_t i = 0; i < rows.size(); i += 3) {
    rows[i] = 200;
    rows[i + 1] = 40;
    rows[i + 2] = 40;
  }
  const std::string source = dir.file("colour.tif");
  monotest::tiff_write(source, {spec}, {rows});
  ReadState rs(state, source);
  elf_object* image = nullptr;
  ASSERT_EQ(TIFFReadGetPage(state, rs.backend, 1, &image), 0) << status_message();
  elfRefUp(image);
  elf_QELLAYER* layer = qelLayer(QELGetLayer(image, 0));
  layer->xres = layer->yres = 150;  // 150 dpi: profile C takes it at 100, 864 wide
  const std::string file = dir.file("c.tif");
  elf_object* w = writer(file, "tifffx", "profileC");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(append(w, image), 0) << status_message();
  drop(image);
  EXPECT_EQ(release(w), 0);
  drop(w);
  const monotest::TiffDirectory d = monotest::tiff_directory(file, 0);
  EXPECT_EQ(d.width, 864u);
  EXPECT_EQ(d.height, 67u);
  EXPECT_EQ(d.compression, 7);
  EXPECT_EQ(d.xres, 100.0f);
  EXPECT_EQ(d.faxProfile, 4);
  TIFF* tif = TIFFOpen(file.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  std::vector<uint32_t> rgba(size_t{864} * 67);
  ASSERT_EQ(TIFFReadRGBAImageOriented(tif, 864, 67, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
  TIFFClose(tif);
  for (uint32_t px : {rgba[0], rgba[rgba.size() / 2], rgba.back()}) {
    EXPECT_NEAR(static_cast<int>(TIFFGetR(px)), 200, 6);
    EXPECT_NEAR(static_cast<int>(TIFFGetG(px)), 40, 6);
    EXPECT_NEAR(static_cast<int>(TIFFGetB(px)), 40, 6);
  }
}

}  // namespace
