// Engine image files beside netpbm, both ways: what netpbm writes we read to the same pixels in
// every form, and what we write netpbm reads to the same values (host only).

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "counted_engine_test.h"
#include "tools.h"
#include "vlt_image.h"
#include "vlt_image_file.h"

namespace {

using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

// The numbers of a plain PNM file after its magic (comments dropped): width, height, [maxval,]
// samples.
std::vector<long> plain_numbers(const std::string& text) {
  std::vector<long> v;
  std::istringstream in(text.substr(2));
  std::string token;
  while (in >> token) {
    if (token[0] == '#') {
      std::string rest;
      std::getline(in, rest);
      continue;
    }
    v.push_back(std::stol(token));
  }
  return v;
}

// The pixels of a plain PBM file, which may run together without blanks: everything 0 or 1
// after the magic and the two size numbers.
std::vector<int> plain_pbm_pixels(const std::string& text) {
  std::vector<int> v;
  size_t pos = 2;
  for (int number = 0; number < 2; ++number) {
    pos = text.find_first_of("0123456789", pos);
    pos = text.find_first_not_of("0123456789", pos);
  }
  for (; pos < text.size(); ++pos)
    if (text[pos] == '0' || text[pos] == '1') v.push_back(text[pos] - '0');
  return v;
}

struct NetpbmInterop : CountedEngineTest {
  TempDir dir;
  void SetUp() override {
    CountedEngineTest::SetUp();
    monotest::require_tool("pnmtoplainpnm", "netpbm");
  }
  void sh(const std::string& cmd) { ASSERT_EQ(run_tool(cmd).exit_code, 0) << cmd; }
  VltImage* load(uint16_t tag, const std::string& path) {
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_load(state, tag, path.c_str(), &im), VLT_OK) << path;
    return im;
  }
  // Samples of a grey or colour image, row after row.
  static std::vector<long> samples(const VltImage* im) {
    std::vector<long> v;
    const int per = im->hdr.type == VLT_IMAGE_RGB ? 3 : 1;
    for (int32_t y = 0; y < im->hdr.height; ++y)
      for (int32_t x = 0; x < im->hdr.width * per; ++x) v.push_back(im->rows[y][x]);
    return v;
  }
};

TEST_F(NetpbmInterop, WeReadWhatNetpbmWrites) {
  const std::string ramp = dir.file("ramp.pgm"), deep = dir.file("deep.pgm"), plain = dir.file("plain.pgm");
  sh("pgmramp -lr 37 9 > " + shell_quote(ramp));
  sh("pamdepth 65535 " + shell_quote(ramp) + " > " + shell_quote(deep));
  sh("pnmtoplainpnm " + shell_quote(ramp) + " > " + shell_quote(plain));
  const std::vector<long> want = plain_numbers(monotest::read_file(plain));  // 37 9 255 samples...
  ASSERT_EQ(want.size(), 3u + 37 * 9);
  for (const std::string& path : {ramp, deep, plain}) {
    VltImage* im = load(VLT_IMAGE_GRAY, path);
    ASSERT_NE(im, nullptr);
    EXPECT_EQ(samples(im), std::vector<long>(want.begin() + 3, want.end())) << path;
    VltImage_free(im);
  }

  const std::string colour = dir.file("c.ppm"), colourPlain = dir.file("cp.ppm");
  sh("pgmramp -diagonal 21 13 | pgmtoppm rgb:40/80/c0 > " + shell_quote(colour));
  sh("pnmtoplainpnm " + shell_quote(colour) + " > " + shell_quote(colourPlain));
  const std::vector<long> rgb = plain_numbers(monotest::read_file(colourPlain));
  for (const std::string& path : {colour, colourPlain}) {
    VltImage* im = load(VLT_IMAGE_RGB, path);
    ASSERT_NE(im, nullptr);
    EXPECT_EQ(samples(im), std::vector<long>(rgb.begin() + 3, rgb.end())) << path;
    VltImage_free(im);
  }

  const std::string bits = dir.file("b.pbm"), bitsPlain = dir.file("bp.pbm");
  sh("pbmmake -g 27 7 > " + shell_quote(bits));
  sh("pnmtoplainpnm " + shell_quote(bits) + " > " + shell_quote(bitsPlain));
  const std::vector<int> want01 = plain_pbm_pixels(monotest::read_file(bitsPlain));
  ASSERT_EQ(want01.size(), 27u * 7);
  for (const std::string& path : {bits, bitsPlain}) {
    VltImage* packed = load(VLT_IMAGE_PACKED, path);
    VltImage* binary = load(VLT_IMAGE_BINARY, path);
    ASSERT_NE(packed, nullptr);
    ASSERT_NE(binary, nullptr);
    std::vector<int> got, gotPacked;
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 27; ++x) {
        got.push_back(binary->rows[y][x]);
        gotPacked.push_back(VltImage_getPackedPixel(packed, x, y));
      }
    EXPECT_EQ(got, want01) << path;
    EXPECT_EQ(gotPacked, want01) << path;
    VltImage_free(packed);
    VltImage_free(binary);
  }
}

TEST_F(NetpbmInterop, NetpbmReadsWhatWeWrite) {
  struct Case {
    uint16_t tag;
    const char* name;
  };
  for (const Case c : {Case{VLT_IMAGE_GRAY, "g.pgm"}, Case{VLT_IMAGE_RGB, "c.ppm"}, Case{VLT_IMAGE_BINARY, "b.pbm"},
                       Case{VLT_IMAGE_PACKED, "p.pbm"}}) {
    VltImage* im = nullptr;
    ASSERT_EQ(VltImage_new(state, c.tag, 19, 6, &im), VLT_OK);
    std::vector<long> want;
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 19; ++x) {
        const int v = (x * 7 + y * 13) % 256;
        switch (c.tag) {
          case VLT_IMAGE_GRAY: im->rows[y][x] = uint8_t(v); want.push_back(v); break;
          case VLT_IMAGE_RGB:
            for (int k = 0; k < 3; ++k) {
              im->rows[y][3 * x + k] = uint8_t(v + 50 * k);
              want.push_back(uint8_t(v + 50 * k));
            }
            break;
          case VLT_IMAGE_BINARY: im->rows[y][x] = uint8_t(v & 1 ? 5 : 0); want.push_back(v & 1); break;
          default: VltImage_setPackedPixel(im, x, y, v & 1); want.push_back(v & 1); break;
        }
      }
    if (c.tag == VLT_IMAGE_GRAY) {
      ASSERT_EQ(VltImage_setComment(im, "a comment netpbm must skip\n"), VLT_OK);
    }
    const std::string path = dir.file(c.name);
    ASSERT_EQ(VltImage_save(im, path.c_str()), VLT_OK);
    const monotest::ToolResult r = run_tool("pnmtoplainpnm " + shell_quote(path));
    ASSERT_EQ(r.exit_code, 0) << c.name;
    std::vector<long> got = plain_numbers(r.output);
    if (c.tag == VLT_IMAGE_BINARY || c.tag == VLT_IMAGE_PACKED) {
      const std::vector<int> bits = plain_pbm_pixels(r.output);
      EXPECT_EQ(std::vector<long>(bits.begin(), bits.end()), want) << c.name;
    } else {
      ASSERT_GE(got.size(), 3u);
      EXPECT_EQ(got[0], 19);
      EXPECT_EQ(got[1], 6);
      EXPECT_EQ(got[2], 255);
      EXPECT_EQ(std::vector<long>(got.begin() + 3, got.end()), want) << c.name;
    }
    VltImage_free(im);
  }
}

}  // namespace
