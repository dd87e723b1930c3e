// JBIG2 image streams of the PDF writer: page data coded by our own JBIG2 writers goes in with its
// globals stream, raw layers go through the PDF library's tokenizer (here with a coder made of the
// same writers installed), and the files are judged by qpdf and poppler: sound structure, the
// streams pdfimages takes out byte for byte, and pixels as painted.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "dio_pdf.h"
#include "jb2_symbol_sample.h"
#include "pdf_fixture.h"
#include "tok_params.h"
#include "vlt_api_options.h"
#include "vlt_state.h"

namespace {

using monotest::painted_marks;
using monotest::ReadDoc;
using monotest::RefBitmap;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

constexpr int32_t kJbig2 = 7;
constexpr int32_t kBlackIs1 = 0x15;

RefBitmap inverted(RefBitmap b) {
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) b.set(x, y, !b.get(x, y));
  return b;
}

std::string bytes_of(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

// What the coder was started with, one entry per start.
struct CoderStart {
  bool huffman = false;
  VltApiOptions options{};
  bool lossless = false;
  TokParams params{};
};

// A JBIG2 coder for the PDF library made of our own segment writers: each section holds one page,
// its distinct glyphs the globals' symbol dictionary, the page drawn from them by text regions.
struct TestCoder {
  static std::vector<CoderStart> starts;

  VltState* engine = nullptr;
  int profile = 2;
  std::vector<RefBitmap> pages;
  std::deque<jb2test::Bytes> out;

  static unsigned char* engine_copy(const jb2test::Bytes& b, size_t* length) {
    auto* copy = static_cast<unsigned char*>(kvng_internal_calloc(b.size() + 1, 1));
    if (copy) std::copy(b.begin(), b.end(), copy);
    *length = b.size();
    return copy;
  }

  static void* open(const VltApiOptions* options, const TokParams* params) {
    CoderStart s;
    s.huffman = options != nullptr;
    if (options) s.options = *options;
    s.lossless = params != nullptr;
    if (params) s.params = *params;
    starts.push_back(s);
    auto* c = new TestCoder;
    c->profile = options ? 2 : 3;
    if (Vlt_initVltState(&c->engine, nullptr, nullptr, nullptr, nullptr, 1, 0) != VLT_OK) {
      delete c;
      return nullptr;
    }
    return c;
  }
  static int add(void* handle, const unsigned char* rows, int32_t width, int32_t height, int32_t rowBytes) {
    RefBitmap b(width, height);
    for (int y = 0; y < height; ++y) std::copy(rows + y * rowBytes, rows + (y + 1) * rowBytes, b.row(y));
    static_cast<TestCoder*>(handle)->pages.push_back(b);
    return 1;
  }
  static int end(void* handle, unsigned char** dict, size_t* length) {
    auto* c = static_cast<TestCoder*>(handle);
    if (c->pages.size() != 1) return 0;
    try {
      const auto s = jb2test::symbol_page_embedded(c->engine, jb2test::glyph_page(c->pages[0]),
                                                   jb2test::profile_params(c->profile));
      c->pages.clear();
      c->out.push_back(s.page);
      *dict = engine_copy(s.globals, length);
      return *dict ? 1 : 0;
    } catch (const std::exception&) {
      return 0;
    }
  }
  static int page(void* handle, unsigned char** data, size_t* length) {
    auto* c = static_cast<TestCoder*>(handle);
    if (c->out.empty()) return 0;
    *data = engine_copy(c->out.front(), length);
    c->out.pop_front();
    return *data ? 1 : 0;
  }
  static void close(void* handle) {
    auto* c = static_cast<TestCoder*>(handle);
    Vlt_cleanupVltState(&c->engine);
    delete c;
  }
};
std::vector<CoderStart> TestCoder::starts;

class PdfJbig2 : public monotest::DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    monotest::require_tool("qpdf", "qpdf");
    monotest::require_tool("pdftoppm", "poppler-utils");
    static const PDFJbig2Engine coder{TestCoder::open, TestCoder::add, TestCoder::end, TestCoder::page,
                                      TestCoder::close};
    PDFJbig2SetEngine(&coder);
    TestCoder::starts.clear();
  }
  void TearDown() override {
    PDFJbig2SetEngine(nullptr);
    DocTest::TearDown();
  }

  // A layer's data as the interpreter holds it: rows in two chained strips.
  elf_object* strips(const RefBitmap& b) {
    const size_t half = b.stride * static_cast<size_t>(b.height / 2);
    auto* top = static_cast<uint8_t*>(elfMalloc(half));
    auto* rest = static_cast<uint8_t*>(elfMalloc(b.bits.size() - half));
    std::copy(b.bits.begin(), b.bits.begin() + static_cast<std::ptrdiff_t>(half), top);
    std::copy(b.bits.begin() + static_cast<std::ptrdiff_t>(half), b.bits.end(), rest);
    elf_object* first = elfNewPointer(state, top, half);
    ELF_ASSIGN(state, &reinterpret_cast<elf_POINTER*>(first)->next, elfNewPointer(state, rest, b.bits.size() - half));
    return first;
  }

  // A page of the document filled by a 1-bit image of the page's size.
  PDFObj* image_page(PDFDoc* doc, int w, int h) {
    PDFObj* page = PDFAddPage(doc);
    EXPECT_EQ(PDFPageAddMediaBox(doc, page, 0, 0, w, h), 1);
    PDFObj* img = PDFImageCreate(doc, page, "Im0", w, h, 1);
    EXPECT_EQ(PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_GRAY), 1);
    EXPECT_EQ(PDFPageAddContents(doc, page, img, "cm", double(w), 0.0, 0.0, double(h), 0.0, 0.0, nullptr), 1);
    EXPECT_EQ(PDFPageClose(doc, page), 1);
    return img;
  }

  TempDir dir;
};

// Page data coded already: one globals stream shared by the pages, each page's data as it was
// given, painted as the glyphs stood (turned round by the decode array for other photometrics).
TEST_F(PdfJbig2, CodedPagesKeepTheirBytesAndGlobals) {
  monotest::require_tool("pdfimages", "poppler-utils");
  const int w = 240, h = 96;
  const RefBitmap source = monotest::make_text_blobs(w, h, 7);
  const jb2test::SymbolPage glyphs = jb2test::glyph_page(source);
  const RefBitmap want = jb2test::render(glyphs.shapes, glyphs.placed, w, h);
  VltState* engine = nullptr;
  ASSERT_EQ(Vlt_initVltState(&engine, nullptr, nullptr, nullptr, nullptr, 1, 0), VLT_OK);
  const auto coded = jb2test::symbol_page_embedded(engine, glyphs, jb2test::profile_params(2));
  Vlt_cleanupVltState(&engine);

  const std::string path = dir.file("coded.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  PDFObj* globals = PDFCreateStream(doc);
  ASSERT_EQ(PDFAppendStream(doc, globals, coded.globals.data(), coded.globals.size()), 1);
  const int32_t globalsId = PDFGetObjectNumber(doc, globals, nullptr);
  ASSERT_GT(globalsId, 0);
  // Through each entry point, with the two polarities.
  const struct {
    bool combined;
    int32_t photometric;
  } pages[] = {{false, kBlackIs1}, {true, kBlackIs1}, {false, 1}};
  for (const auto& p : pages) {
    PDFObj* img = image_page(doc, w, h);
    if (p.combined) {
      PdfFilterParams params{};
      params.compression = kJbig2;
      params.photometric = p.photometric;
      params.jbig2Globals = globalsId;
      ASSERT_EQ(__setStreamFilter(state, doc, kJbig2, &params, img, nullptr), 0) << status_message();
      EXPECT_EQ(params.jbig2Count, 0);
    } else {
      ASSERT_EQ(__pdiouSetJBIG2image(doc, img, nullptr, globalsId, 1, 1, 0, p.photometric), 0);
    }
    ASSERT_EQ(PDFAppendPrecompressedStream(doc, img, coded.page.data(), coded.page.size()), 1) << PDFErrorText(doc);
  }
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
  const auto check = run_tool("qpdf --check " + shell_quote(path));
  EXPECT_EQ(check.exit_code, 0) << check.output;

  // pdfimages -list rows after two heading lines: page num type width height color comp bpc enc ...
  std::istringstream list(run_tool("pdfimages -list " + shell_quote(path)).output);
  std::vector<std::string> rows;
  for (std::string line; std::getline(list, line);) {
    std::istringstream f(line);
    std::string page, num, type, width, height, color, comp, bpc, enc;
    f >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc;
    rows.push_back(type + " " + width + "x" + height + " " + color + " " + comp + " " + bpc + " " + enc);
  }
  ASSERT_EQ(rows.size(), 2u + 3u);
  for (size_t i = 2; i < rows.size(); ++i) EXPECT_EQ(rows[i], "image 240x96 gray 1 1 jbig2");
  ASSERT_EQ(run_tool("pdfimages -jbig2 " + shell_quote(path) + " " + shell_quote(dir.file("out"))).exit_code, 0);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    char name[32];
    std::snprintf(name, sizeof name, "out-%03d.jb2", i);
    EXPECT_EQ(monotest::read_file(dir.file(std::string(name) + "e")), bytes_of(coded.page));
    EXPECT_EQ(monotest::read_file(dir.file(std::string(name) + "g")), bytes_of(coded.globals));
    const RefBitmap painted = painted_marks(dir, path, i + 1, w, h);
    EXPECT_EQ(monotest::first_difference(pages[i].photometric == kBlackIs1 ? want : inverted(want), painted), "");
  }
  EXPECT_EQ(monotest::first_difference(source, want), "") << "the glyph page is not the source";

  // The library's reading side finds the same streams: each page's data as stored, and one
  // globals stream for all.
  ReadDoc rd(path);
  ASSERT_NE(rd.get(), nullptr);
  int32_t globalsSeen = 0;
  for (int32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    PDFObj* res = PDFGetDictEntry(rd.get(), rd.page(i), "Resources");
    PDFObj* xobjects = PDFGetDictEntry(rd.get(), res, "XObject");
    PDFImage* image = PDFStreamToImage(rd.get(), PDFGetDictEntry(rd.get(), xobjects, "Im0"));
    ASSERT_NE(image, nullptr) << PDFErrorText(rd.get());
    size_t length = 0;
    const unsigned char* data = KVngSBData(PDFGetCompressedStreamData(rd.get(), image->stream), &length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), bytes_of(coded.page));
    PDFObj* g = PDFGetImageJBIG2Globals(rd.get(), image);
    ASSERT_NE(g, nullptr);
    const int32_t id = PDFGetObjectNumber(rd.get(), g, nullptr);
    if (i == 0) globalsSeen = id;
    EXPECT_EQ(id, globalsSeen);
    data = KVngSBData(PDFGetCompressedStreamData(rd.get(), g), &length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), bytes_of(coded.globals));
    double decode[2] = {};
    EXPECT_EQ(PDFImageGetDecode(rd.get(), image, decode, 2), pages[i].photometric == kBlackIs1 ? 0 : 2);
  }
}

// Raw layers handed to the tokenizer: the layer's strips all reach the coder, which is started
// with the engine's options for Huffman coding and none for arithmetic, with the exact-match
// block only for lossless coding; the pages paint as the layers were.
TEST_F(PdfJbig2, RawLayersGoThroughTheTokenizer) {
  const int w = 200, h = 80;
  const struct {
    const char* name;
    int32_t coding, lossless, photometric;
    uint32_t seed;
  } cases[] = {
      {"huffman, lossless", 1, 1, kBlackIs1, 3},
      {"arithmetic, lossy", 0, 0, kBlackIs1, 4},
      {"huffman, lossy, combined setter, other polarity", 2, 0, 1, 5},
  };
  const std::string path = dir.file("raw.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  std::vector<RefBitmap> layers;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    layers.push_back(monotest::make_text_blobs(w, h, c.seed));
    PDFObj* img = image_page(doc, w, h);
    elf_object* data = strips(layers.back());
    if (c.photometric == kBlackIs1) {
      EXPECT_EQ(__pdiouSetJBIG2image(doc, img, data, 0, 0, c.coding, c.lossless, c.photometric), 0)
          << status_message();
    } else {
      PdfFilterParams params{};
      params.photometric = c.photometric;
      params.jbig2Coding = c.coding;
      params.jbig2Lossless = c.lossless;
      EXPECT_EQ(__setStreamFilter(state, doc, kJbig2, &params, img, data), 0) << status_message();
      EXPECT_EQ(params.jbig2Count, 1) << "the caller must not append the layer again";
    }
    elfDiscard(data);
    ASSERT_EQ(PDFJbig2EndSection(doc), 1) << PDFErrorText(doc);
  }
  ASSERT_EQ(PDFJbig2End(doc), 1) << PDFErrorText(doc);
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);

  // One start per change of coding: Huffman, arithmetic, Huffman again.
  ASSERT_EQ(TestCoder::starts.size(), 3u);
  const CoderStart& huffman = TestCoder::starts[0];
  ASSERT_TRUE(huffman.huffman);
  const VltApiOptions& o = huffman.options;
  EXPECT_EQ(std::vector<uint32_t>({o.minSize, o.outputWord, o.reserved1, o.resolution, o.profile}),
            std::vector<uint32_t>({1, 10, 3, 300, 0}));
  EXPECT_EQ(std::vector<int>({o.halftones, o.tenthSize, o.memoryLimit, o.sectionMode, o.singlePage}),
            std::vector<int>({0, 1, 0, 1, 1}));
  ASSERT_TRUE(huffman.lossless);
  TokParams defaults{};
  tokSetDefaults(&defaults);
  EXPECT_EQ(huffman.params.matchFraction, defaults.matchFraction);
  EXPECT_EQ(std::vector<int32_t>({huffman.params.maxDense, huffman.params.widthDiff, huffman.params.heightDiff,
                                  huffman.params.minLossySize}),
            std::vector<int32_t>({0, 0, 0, 100000}));
  EXPECT_EQ(huffman.params.sumLimit, defaults.sumLimit);
  EXPECT_FALSE(TestCoder::starts[1].huffman);
  EXPECT_FALSE(TestCoder::starts[1].lossless);
  EXPECT_TRUE(TestCoder::starts[2].huffman);
  EXPECT_FALSE(TestCoder::starts[2].lossless);

  const auto check = run_tool("qpdf --check " + shell_quote(path));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  ReadDoc rd(path);
  ASSERT_NE(rd.get(), nullptr);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    PDFObj* res = PDFGetDictEntry(rd.get(), rd.page(static_cast<int32_t>(i)), "Resources");
    PDFObj* img = PDFGetDictEntry(rd.get(), PDFGetDictEntry(rd.get(), res, "XObject"), "Im0");
    EXPECT_EQ(rd.entry(img, "Filter"), "/JBIG2Decode");
    EXPECT_NE(rd.entry(img, "DecodeParms").find("/JBIG2Globals"), std::string::npos);
    EXPECT_EQ(rd.entry(img, "Decode").empty(), cases[i].photometric == kBlackIs1);
    const RefBitmap painted = painted_marks(dir, path, static_cast<int>(i) + 1, w, h);
    const RefBitmap& layer = layers[i];
    EXPECT_EQ(monotest::first_difference(cases[i].photometric == kBlackIs1 ? layer : inverted(layer), painted), "");
  }
}

// What fails is reported with the status and message the writer's callers look for, and leaves
// nothing on the heap (the fixture counts).
TEST_F(PdfJbig2, FailuresAreReported) {
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(dir.file("bad.pdf").c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  const RefBitmap layer = monotest::make_text_blobs(64, 32, 1);
  elf_object* data = strips(layer);
  struct Case {
    const char* name;
    int expected;
    const char* message;
    const char* printed;
  };
  auto run = [&](const Case& c, const std::function<int()>& call) {
    SCOPED_TRACE(c.name);
    messages.clear();
    clearStatus(state);
    EXPECT_EQ(call(), c.expected);
    EXPECT_EQ(status_message(), c.message);
    EXPECT_NE(messages.find(c.printed), std::string::npos) << messages;
  };
  run({"coded data without globals", QEL_STATUS_INVALID, "__pdiouSetJBIG2image: Bad JBIG2 symbol dictionary ID\n",
       "Bad JBIG2 symbol dictionary ID:0\n"},
      [&] { return __pdiouSetJBIG2image(doc, image_page(doc, 64, 32), data, 0, 7, 1, 0, kBlackIs1); });
  run({"globals that are no stream", QEL_STATUS_INVALID,
       "__pdiouSetJBIG2image: Error setting stream filter for JBIG2\n", "Error setting stream filter: "},
      [&] { return __pdiouSetJBIG2image(doc, image_page(doc, 64, 32), data, 9999, 7, 1, 0, kBlackIs1); });
  run({"the combined setter names itself", QEL_STATUS_INVALID,
       "__setStreamFilter: Bad JBIG2 symbol dictionary ID\n", "Bad JBIG2 symbol dictionary ID:0\n"},
      [&] {
        PdfFilterParams params{};
        params.compression = kJbig2;
        return __setStreamFilter(state, doc, kJbig2, &params, image_page(doc, 64, 32), data);
      });
  run({"a layer that is not 1-bit", QEL_STATUS_FAILED, "__pdiouSetJBIG2image: PDFJbig2TokenizeStream failed\n", ""},
      [&] { return __pdiouSetJBIG2image(doc, PDFImageCreate(doc, nullptr, nullptr, 64, 32, 8), data, 0, 0, 1, 1, 1); });
  // Without an installed coder the library takes libmonocodec's engine by name.
  PDFJbig2SetEngine(nullptr);
  run({"no coder installed, arithmetic", 0, "", ""},
      [&] { return __pdiouSetJBIG2image(doc, image_page(doc, 64, 32), data, 0, 0, 0, 1, kBlackIs1); });
  run({"no coder installed, Huffman", 0, "", ""},
      [&] { return __pdiouSetJBIG2image(doc, image_page(doc, 64, 32), data, 0, 0, 1, 1, kBlackIs1); });
  elfDiscard(data);
  PDFCloseFile(doc, 1);
}

// Every other code goes to the filter setter unchanged: the same filters, parameters and decode
// arrays as written, and the same refusals.
TEST_F(PdfJbig2, CombinedSetterWritesWhatTheFilterSetterWrites) {
  const std::string path = dir.file("both.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  PDFObj* page = PDFAddPage(doc);
  const int32_t codes[] = {0, 1, 50, 2, 3, 4, 6, 10, 11};
  int images = 0;
  for (int32_t code : codes) {
    for (int32_t photometric : {kBlackIs1, 1}) {
      for (bool combined : {false, true}) {
        SCOPED_TRACE(code);
        const int bits = code >= 2 && code <= 4 ? 1 : 8;
        PdfFilterParams p{};
        p.photometric = photometric;
        p.columns = 16;
        p.jpegQuality = 70;
        p.predictor = 2;
        p.bitsPerComponent = bits;
        p.colors = 1;
        PDFObj* img = PDFImageCreate(doc, page, ("Im" + std::to_string(images++)).c_str(), 16, 8, bits);
        ASSERT_EQ(PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_GRAY), 1);
        const int status = combined ? __setStreamFilter(state, doc, code, &p, img, nullptr)
                                    : __pkvuSetStreamFilter(state, doc, code, &p, img);
        ASSERT_EQ(status, 0) << status_message();
        const std::vector<uint8_t> samples(bits == 1 ? 16 : 16 * 8, 0x5a);
        ASSERT_EQ(PDFAppendStream(doc, img, samples.data(), samples.size()), 1);
      }
    }
  }
  for (int32_t code : {15, 9}) {
    PdfFilterParams a{}, b{};
    PDFObj* img = PDFImageCreate(doc, nullptr, nullptr, 16, 8, 1);
    const int first = __pkvuSetStreamFilter(state, doc, code, &a, img);
    EXPECT_EQ(__setStreamFilter(state, doc, code, &b, img, nullptr), first) << code;
    EXPECT_EQ(a.predictor, b.predictor);
  }
  ASSERT_EQ(PDFPageClose(doc, page), 1);
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);

  ReadDoc rd(path);
  ASSERT_NE(rd.get(), nullptr);
  for (int i = 0; i < images; i += 2) {
    PDFObj* a = rd.xobject(("Im" + std::to_string(i)).c_str());
    PDFObj* b = rd.xobject(("Im" + std::to_string(i + 1)).c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (const char* key : {"Filter", "DecodeParms", "Decode"}) EXPECT_EQ(rd.entry(a, key), rd.entry(b, key)) << i << key;
  }
  EXPECT_NE(rd.entry(rd.xobject("Im0"), "Decode"), "") << "the decode rule ran";
}

}  // namespace
