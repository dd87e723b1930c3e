// Interoperability with independent CCITT codecs: libtiff (through its tools and its API) for
// T.6 and T.4 2-D, netpbm for T.4 1-D. Pixels are compared, never exit codes alone.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "fax_test_util.h"
#include "pages.h"
#include "sanitizer_size.h"
#include "tools.h"

namespace {

using namespace faxtest;
using monotest::first_difference;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

struct TiffQuiet {
  TiffQuiet() {
    TIFFSetWarningHandler(nullptr);
  }
} const kQuiet;

struct TiffFile {
  TIFF* t;
  TiffFile(const std::string& path, const char* mode) : t(TIFFOpen(path.c_str(), mode)) {
    if (t == nullptr) throw std::runtime_error("libtiff cannot open " + path);
  }
  ~TiffFile() { TIFFClose(t); }
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
};

void set_bilevel_fields(TIFF* t, int w, int h, uint16_t compression) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(h));
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
}

// An uncompressed bilevel TIFF (1 = black).
void write_plain_tiff(const std::string& path, const RefBitmap& bm) {
  TiffFile f(path, "w");
  set_bilevel_fields(f.t, bm.width, bm.height, COMPRESSION_NONE);
  for (int y = 0; y < bm.height; ++y)
    if (TIFFWriteScanline(f.t, const_cast<uint8_t*>(bm.row(y)), static_cast<uint32_t>(y), 0) < 0)
      throw std::runtime_error("libtiff cannot write " + path);
}

// Our coded bytes as the single strip of a TIFF.
void write_coded_tiff(const std::string& path, int w, int h, uint16_t compression,
                      uint32_t group3Options, const Bytes& coded) {
  TiffFile f(path, "w");
  set_bilevel_fields(f.t, w, h, compression);
  if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(f.t, TIFFTAG_GROUP3OPTIONS, group3Options);
  if (TIFFWriteRawStrip(f.t, 0, const_cast<uint8_t*>(coded.data()), static_cast<tmsize_t>(coded.size())) < 0)
    throw std::runtime_error("libtiff cannot write " + path);
}

// The pixels of a bilevel TIFF as libtiff decodes them, 1 = black.
RefBitmap read_tiff(const std::string& path) {
  TiffFile f(path, "r");
  uint32_t w = 0, h = 0;
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetField(f.t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(f.t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(f.t, TIFFTAG_PHOTOMETRIC, &photometric);
  RefBitmap bm(static_cast<int>(w), static_cast<int>(h));
  std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(f.t)));
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(f.t, line.data(), y, 0) < 0) throw std::runtime_error("libtiff cannot decode " + path);
    for (uint32_t x = 0; x < w; ++x) {
      const int v = (line[x >> 3] >> (7 - (x & 7))) & 1;
      bm.set(static_cast<int>(x), static_cast<int>(y), photometric == PHOTOMETRIC_MINISBLACK ? !v : v);
    }
  }
  return bm;
}

// Whether libtiff decodes its own coding of the image.
bool libtiff_round_trips(const std::string& path, const RefBitmap& bm, uint16_t compression,
                         uint32_t group3Options) {
  {
    TiffFile f(path, "w");
    set_bilevel_fields(f.t, bm.width, bm.height, compression);
    if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(f.t, TIFFTAG_GROUP3OPTIONS, group3Options);
    for (int y = 0; y < bm.height; ++y)
      if (TIFFWriteScanline(f.t, const_cast<uint8_t*>(bm.row(y)), static_cast<uint32_t>(y), 0) < 0)
        return false;
  }
  try {
    return read_tiff(path) == bm;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// The coded bytes of a TIFF's only strip.
Bytes raw_strip(const std::string& path) {
  TiffFile f(path, "r");
  if (TIFFNumberOfStrips(f.t) != 1) throw std::runtime_error(path + " has more than one strip");
  uint16_t fill = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(f.t, TIFFTAG_FILLORDER, &fill);
  if (fill != FILLORDER_MSB2LSB) throw std::runtime_error(path + " is not MSB first");
  Bytes b(static_cast<size_t>(TIFFRawStripSize(f.t, 0)));
  if (TIFFReadRawStrip(f.t, 0, b.data(), static_cast<tmsize_t>(b.size())) < 0)
    throw std::runtime_error("libtiff cannot read the strip of " + path);
  return b;
}

RefBitmap alternating_columns(int w, int h) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; x += 2) bm.set(x, y, 1);
  return bm;
}

RefBitmap all_black(int w, int h) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bm.set(x, y, 1);
  return bm;
}

struct Sample {
  std::string name;
  RefBitmap image;
};

// Widths 1..5000 with non-multiples of 8, random and pathological content, and real pages; under
// the sanitizers a width of each kind and one chart, whose every coding the tools check there too.
std::vector<Sample> samples(bool withPages) {
  std::vector<Sample> out;
  const std::vector<int> widths = monotest::kSanitized ? std::vector<int>{1, 13, 33, 1728, 4999}
                                                       : std::vector<int>{1, 5, 8, 13, 31, 33, 64, 127, 700,
                                                                          1728, 2049, 4999, 5000};
  for (int w : widths) {
    const int h = w > 2000 ? 12 : 24;
    const std::string ws = std::to_string(w);
    out.push_back({"noise " + ws, monotest::make_noise(w, h, 0.5, static_cast<uint32_t>(w))});
    out.push_back({"sparse " + ws, monotest::make_noise(w, h, 0.03, static_cast<uint32_t>(w) + 1)});
    out.push_back({"checker " + ws, monotest::make_checkerboard(w, h, 1)});
    out.push_back({"columns " + ws, alternating_columns(w, h)});
    out.push_back({"black " + ws, all_black(w, h)});
    out.push_back({"white " + ws, RefBitmap(w, h)});
    out.push_back({"text " + ws, monotest::make_text_blobs(w, h * 3, 17u)});
  }
  if (withPages) {
    for (int n = 1; n <= monotest::sanitizer_sized(8, 1); ++n)
      out.push_back({"chart " + std::to_string(n), monotest::ccitt_chart(n)});
    if (!monotest::kSanitized) out.push_back({"doc page", monotest::doc_page(1)});
  }
  return out;
}

// Ours -> libtiff: T.6 as a TIFF strip, T.4 1-D and 2-D (with EOLs, alignment, RTC) likewise.
TEST(FaxInterop, LibtiffDecodesOurCoding) {
  State st;
  TempDir dir;
  const std::string path = dir.file("ours.tif");
  struct Coding {
    const char* name;
    PageOptions options;
    uint16_t compression;
    uint32_t group3;
  };
  const Coding codings[] = {
      {"g4", {-1, false, true}, COMPRESSION_CCITTFAX4, 0},
      {"g3 1-D", {0, true, true}, COMPRESSION_CCITTFAX3, 0},
      {"g3 1-D aligned", {0, true, true, false, true}, COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS},
      {"g3 2-D", {4, true, true}, COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING},
  };
  for (const Sample& s : samples(true)) {
    const Packed p(s.image);
    for (const Coding& c : codings) {
      SCOPED_TRACE(s.name + " " + c.name);
      const Coded coded = page_encode(p, st, c.options);
      ASSERT_EQ(coded.status, VLT_OK);
      write_coded_tiff(path, s.image.width, s.image.height, c.compression, c.group3, coded.bytes);
      RefBitmap got;
      try {
        got = read_tiff(path);
      } catch (const std::runtime_error&) {
        // libtiff's 1-D decoder keeps too few runs for a line of width a multiple of 32 that
        // starts black and changes at every pixel; it fails on its own coding of such lines too.
        ASSERT_FALSE(libtiff_round_trips(dir.file("self.tif"), s.image, c.compression, c.group3));
        continue;
      }
      ASSERT_EQ(first_difference(s.image, got), "");
    }
    const Coded g4 = g4_encode(p, st, true);
    write_coded_tiff(path, s.image.width, s.image.height, COMPRESSION_CCITTFAX4, 0, g4.bytes);
    ASSERT_EQ(first_difference(s.image, read_tiff(path)), "") << s.name << " g4Encode";
  }
}

// Ours -> fax2tiff: raw T.6 data, most significant bit first.
TEST(FaxInterop, Fax2tiffReadsOurRawG4) {
  monotest::require_tool("fax2tiff", "libtiff-tools");
  State st;
  TempDir dir;
  std::vector<Sample> cases;
  cases.push_back({"chart 1", monotest::ccitt_chart(1)});
  cases.push_back({"chart 5", monotest::ccitt_chart(5)});
  cases.push_back({"noise 999", monotest::make_noise(999, 40, 0.4, 3u)});
  cases.push_back({"checker 77", monotest::make_checkerboard(77, 30, 1)});
  for (const Sample& s : cases) {
    SCOPED_TRACE(s.name);
    const Coded g4 = g4_encode(Packed(s.image), st, true);
    monotest::write_file(dir.file("in.g4"), std::string(g4.bytes.begin(), g4.bytes.end()));
    const auto r = run_tool("fax2tiff -4 -M -u -X " + std::to_string(s.image.width) + " -o " +
                            shell_quote(dir.file("out.tif")) + " " + shell_quote(dir.file("in.g4")));
    ASSERT_EQ(r.exit_code, 0);
    // fax2tiff may count the end-of-block code as one more (white) line.
    const RefBitmap got = read_tiff(dir.file("out.tif"));
    ASSERT_GE(got.height, s.image.height);
    ASSERT_LE(got.height, s.image.height + 1);
    RefBitmap top(got.width, s.image.height);
    for (int y = 0; y < got.height; ++y)
      for (int x = 0; x < got.width; ++x) {
        if (y < s.image.height)
          top.set(x, y, got.get(x, y));
        else
          ASSERT_EQ(got.get(x, y), 0);
      }
    ASSERT_EQ(first_difference(s.image, top), "");
  }
}

// libtiff -> ours: strips written by tiffcp in T.6, T.4 2-D (with and without fill) and T.4 1-D.
TEST(FaxInterop, WeDecodeTiffcpStrips) {
  monotest::require_tool("tiffcp", "libtiff-tools");
  State st;
  TempDir dir;
  const std::string plain = dir.file("plain.tif"), coded = dir.file("coded.tif");
  struct Coding {
    const char* option;
    int32_t K;
  };
  const Coding codings[] = {{"g4", -1}, {"g3:2d", 1}, {"g3:2d:fill", 1}, {"g3:1d", 0}};
  for (const Sample& s : samples(true)) {
    write_plain_tiff(plain, s.image);
    for (const Coding& c : codings) {
      SCOPED_TRACE(s.name + " " + c.option);
      const auto r = run_tool(std::string("tiffcp -c ") + c.option + " -r " + std::to_string(s.image.height) +
                              " " + shell_quote(plain) + " " + shell_quote(coded));
      ASSERT_EQ(r.exit_code, 0);
      const Bytes data = raw_strip(coded);
      const Decoded d = decode(c.K, data, s.image.width, s.image.height, st);
      ASSERT_EQ(d.status, VLT_OK);
      ASSERT_EQ(first_difference(s.image, d.image), "");
    }
  }
  EXPECT_EQ(st.reports, "");
}

// T.4 1-D both ways with netpbm.
TEST(FaxInterop, NetpbmG3BothWays) {
  monotest::require_tool("pbmtog3", "netpbm");
  monotest::require_tool("g3topbm", "netpbm");
  State st;
  TempDir dir;
  for (const Sample& s : samples(false)) {
    SCOPED_TRACE(s.name);
    monotest::write_pbm(dir.file("in.pbm"), s.image);
    for (const char* align : {"", " -align8"}) {
      const auto r = run_tool(std::string("pbmtog3 -nofixedwidth") + align + " " +
                              shell_quote(dir.file("in.pbm")) + " > " + shell_quote(dir.file("in.g3")));
      ASSERT_EQ(r.exit_code, 0);
      const std::string g3 = monotest::read_file(dir.file("in.g3"));
      const Decoded d = decode(0, Bytes(g3.begin(), g3.end()), s.image.width, s.image.height, st);
      ASSERT_EQ(d.status, VLT_OK);
      ASSERT_EQ(first_difference(s.image, d.image), "") << "pbmtog3" << align;
    }
    for (bool aligned : {false, true}) {
      const Coded ours = page_encode(Packed(s.image), st, {0, true, true, false, aligned});
      monotest::write_file(dir.file("ours.g3"), std::string(ours.bytes.begin(), ours.bytes.end()));
      const auto r = run_tool("g3topbm -stop_error -width " + std::to_string(s.image.width) + " " +
                              shell_quote(dir.file("ours.g3")) + " > " + shell_quote(dir.file("out.pbm")));
      ASSERT_EQ(r.exit_code, 0);
      ASSERT_EQ(first_difference(s.image, monotest::read_pbm(dir.file("out.pbm"))), "") << "g3topbm";
    }
  }
}

}  // namespace
