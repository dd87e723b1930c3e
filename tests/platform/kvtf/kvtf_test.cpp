// The engine's TIFF library: data behind client callbacks both ways, files judged by the libtiff
// tools, and its messages counted per handle and routed to the engine's printers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kvext.h"
#include "kvtf.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::RefBitmap;

// Growable bytes behind the client callbacks, as a memory file.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  uint64_t pos = 0;

  static MemoryFile* of(KVTF_thandle h) { return static_cast<MemoryFile*>(h); }
  static int64_t read(KVTF_thandle h, void* out, int64_t n) {
    MemoryFile* f = of(h);
    if (f->pos >= f->bytes.size()) return 0;
    const int64_t got = std::min<int64_t>(n, static_cast<int64_t>(f->bytes.size() - f->pos));
    std::memcpy(out, f->bytes.data() + f->pos, static_cast<size_t>(got));
    f->pos += static_cast<uint64_t>(got);
    return got;
  }
  static int64_t write(KVTF_thandle h, void* in, int64_t n) {
    MemoryFile* f = of(h);
    if (f->bytes.size() < f->pos + static_cast<uint64_t>(n)) f->bytes.resize(f->pos + static_cast<uint64_t>(n));
    std::memcpy(f->bytes.data() + f->pos, in, static_cast<size_t>(n));
    f->pos += static_cast<uint64_t>(n);
    return n;
  }
  static uint64_t seek(KVTF_thandle h, uint64_t offset, int whence) {
    MemoryFile* f = of(h);
    f->pos = whence == 0 ? offset : whence == 1 ? f->pos + offset : f->bytes.size() + offset;
    return f->pos;
  }
  static int close(KVTF_thandle) { return 0; }
  static uint64_t size(KVTF_thandle h) { return of(h)->bytes.size(); }

  KVTF_TIFF* open(const char* mode) {
    pos = 0;
    return KVTF_TIFFClientOpen("memory", mode, this, read, write, seek, close, size, nullptr, nullptr);
  }
};

// Writes one bilevel directory coded G4, 1 = black (min-is-white).
void write_page(KVTF_TIFF* tif, const RefBitmap& page, float dpi) {
  KVTF_TIFFSetField(tif, KVTF_TAG_IMAGEWIDTH, static_cast<uint32_t>(page.width));
  KVTF_TIFFSetField(tif, KVTF_TAG_IMAGELENGTH, static_cast<uint32_t>(page.height));
  KVTF_TIFFSetField(tif, KVTF_TAG_BITSPERSAMPLE, 1);
  KVTF_TIFFSetField(tif, KVTF_TAG_SAMPLESPERPIXEL, 1);
  KVTF_TIFFSetField(tif, KVTF_TAG_COMPRESSION, KVTF_COMPRESSION_CCITTFAX4);
  KVTF_TIFFSetField(tif, KVTF_TAG_PHOTOMETRIC, KVTF_PHOTOMETRIC_MINISWHITE);
  KVTF_TIFFSetField(tif, KVTF_TAG_ROWSPERSTRIP, static_cast<uint32_t>(page.height));
  KVTF_TIFFSetField(tif, KVTF_TAG_XRESOLUTION, dpi);
  KVTF_TIFFSetField(tif, KVTF_TAG_YRESOLUTION, dpi);
  KVTF_TIFFSetField(tif, KVTF_TAG_RESOLUTIONUNIT, KVTF_RESUNIT_INCH);
  std::vector<uint8_t> row(page.stride);
  for (int y = 0; y < page.height; ++y) {
    std::memcpy(row.data(), page.row(y), page.stride);
    ASSERT_EQ(KVTF_TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0), 1);
  }
  ASSERT_EQ(KVTF_TIFFWriteDirectory(tif), 1);
}

RefBitmap read_page(KVTF_TIFF* tif) {
  uint32_t w = 0, h = 0;
  EXPECT_EQ(KVTF_TIFFGetField(tif, KVTF_TAG_IMAGEWIDTH, &w), 1);
  EXPECT_EQ(KVTF_TIFFGetField(tif, KVTF_TAG_IMAGELENGTH, &h), 1);
  RefBitmap page(static_cast<int>(w), static_cast<int>(h));
  EXPECT_GE(KVTF_TIFFScanlineSize(tif), static_cast<int64_t>(page.stride));
  std::vector<uint8_t> row(static_cast<size_t>(KVTF_TIFFScanlineSize(tif)));
  for (uint32_t y = 0; y < h; ++y) {
    EXPECT_EQ(KVTF_TIFFReadScanline(tif, row.data(), y, 0), 1);
    std::memcpy(page.row(static_cast<int>(y)), row.data(), page.stride);
  }
  return page;
}

struct Messages {
  std::string text;
  Messages() { KVngSetPrinter(keep, this); }
  ~Messages() { KVngSetPrinter(nullptr, nullptr); }
  static void keep(void* data, int kind, const char* t) {
    if (kind == KVNG_PRINT_ERROR) static_cast<Messages*>(data)->text += t;
  }
};

TEST(KvtfTiff, PagesTravelThroughClientCallbacksAndFiles) {
  const RefBitmap first = monotest::make_text_blobs(301, 122, 3);
  const RefBitmap second = monotest::make_lines(90, 60, 8);
  MemoryFile memory;
  KVTF_TIFF* out = memory.open("w");
  ASSERT_NE(out, nullptr);
  write_page(out, first, 200.0f);
  write_page(out, second, 300.0f);
  KVTF_TIFFClose(out);

  KVTF_TIFF* in = memory.open("r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(KVTF_TIFFNumberOfDirectories(in), 2u);
  EXPECT_EQ(monotest::first_difference(first, read_page(in)), "");
  float xres = 0;
  uint16_t compression = 0;
  EXPECT_EQ(KVTF_TIFFGetField(in, KVTF_TAG_XRESOLUTION, &xres), 1);
  EXPECT_EQ(xres, 200.0f);
  EXPECT_EQ(KVTF_TIFFGetField(in, KVTF_TAG_COMPRESSION, &compression), 1);
  EXPECT_EQ(compression, KVTF_COMPRESSION_CCITTFAX4);
  ASSERT_EQ(KVTF_TIFFSetDirectory(in, 1), 1);
  EXPECT_EQ(KVTF_TIFFCurrentDirectory(in), 1u);
  EXPECT_EQ(monotest::first_difference(second, read_page(in)), "");
  uint16_t unit = 0;
  EXPECT_EQ(KVTF_TIFFGetField(in, KVTF_TAG_PREDICTOR, &unit), 0);
  EXPECT_EQ(KVTF_TIFFGetFieldDefaulted(in, KVTF_TAG_RESOLUTIONUNIT, &unit), 1);
  EXPECT_EQ(KVTF_TIFFErrorCount(in), 0);
  KVTF_TIFFClose(in);

  // The same bytes as a file, judged by libtiff's own tools.
  monotest::require_tool("tiffinfo", "libtiff-tools");
  monotest::TempDir dir;
  monotest::write_file(dir.file("m.tif"), std::string(memory.bytes.begin(), memory.bytes.end()));
  const monotest::ToolResult info = monotest::run_tool("tiffinfo " + monotest::shell_quote(dir.file("m.tif")));
  EXPECT_EQ(info.exit_code, 0);
  size_t directories = 0;
  for (size_t at = 0; (at = info.output.find("CCITT Group 4", at)) != std::string::npos; ++at) ++directories;
  EXPECT_EQ(directories, 2u) << info.output;
  ASSERT_EQ(monotest::run_tool("tiffsplit " + monotest::shell_quote(dir.file("m.tif")) + " " +
                               monotest::shell_quote(dir.file("p")) + " && tifftopnm " +
                               monotest::shell_quote(dir.file("paab.tif")) + " > " +
                               monotest::shell_quote(dir.file("p2.pbm")))
                .exit_code,
            0);
  EXPECT_EQ(monotest::first_difference(second, monotest::read_pbm(dir.file("p2.pbm"))), "");

  KVTF_TIFF* file = KVTF_TIFFOpen(dir.file("m.tif").c_str(), "r");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(monotest::first_difference(first, read_page(file)), "");
  KVTF_TIFFClose(file);
}

TEST(KvtfTiff, MessagesGoToTheEnginePrinterAndAreCountedPerHandle) {
  Messages messages;
  MemoryFile memory;
  KVTF_TIFF* out = memory.open("w");
  ASSERT_NE(out, nullptr);
  write_page(out, monotest::make_text_blobs(200, 300, 5), 300.0f);
  KVTF_TIFFClose(out);
  EXPECT_EQ(messages.text, "");

  // Cut inside the coded strip: the directory opens, the rows cannot all be read.
  memory.bytes.resize(memory.bytes.size() / 3);
  KVTF_TIFF* in = memory.open("r");
  if (in) {
    std::vector<uint8_t> row(static_cast<size_t>(KVTF_TIFFScanlineSize(in)));
    int failed = 0;
    for (uint32_t y = 0; y < 300 && !failed; ++y) failed = KVTF_TIFFReadScanline(in, row.data(), y, 0) < 0;
    EXPECT_TRUE(failed || KVTF_TIFFErrorCount(in) > 0);
    EXPECT_GT(KVTF_TIFFErrorCount(in), 0);
    KVTF_TIFFClose(in);
  }
  EXPECT_NE(messages.text, "");

  messages.text.clear();
  memory.bytes.assign({'I', 'I', '*', 0, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_EQ(memory.open("r"), nullptr);
  EXPECT_NE(messages.text.find("memory"), std::string::npos) << messages.text;

  messages.text.clear();
  KVTF_TIFFError("TIFQEL", "ERROR: Ran out of data to read.");
  EXPECT_EQ(messages.text, "TIFQEL: ERROR: Ran out of data to read.\n");
  EXPECT_EQ(KVTF_TIFFClientOpen("x", "r", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_NE(messages.text.find("callbacks are needed"), std::string::npos);
}

}  // namespace
