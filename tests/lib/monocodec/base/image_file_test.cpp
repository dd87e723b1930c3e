// Engine image files: the listed vectors, round trips of every type, byte order of multi-byte
// samples, malformed and short files, tokens, file-name forms and failed allocations.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "counted_engine_test.h"
#include "tools.h"
#include "vlt_image.h"
#include "vlt_image_file.h"

namespace {

using Bytes = std::string;

// A read-only stream over bytes.
struct MemFile {
  Bytes data;
  FILE* f = nullptr;
  explicit MemFile(Bytes d) : data(std::move(d)) {
    // fmemopen refuses an empty buffer; a one-byte buffer read to size 0 is an empty stream.
    f = data.empty() ? fmemopen(const_cast<char*>("x"), 1, "rb") : fmemopen(data.data(), data.size(), "rb");
    if (data.empty()) std::fgetc(f);
  }
  ~MemFile() { std::fclose(f); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
};

// What a writer puts into a fresh stream.
template <class Write>
Bytes written(Write write) {
  FILE* f = std::tmpfile();
  write(f);
  std::fflush(f);
  Bytes out(static_cast<size_t>(std::ftell(f)), '\0');
  std::rewind(f);
  if (!out.empty()) {
    EXPECT_EQ(std::fread(out.data(), 1, out.size(), f), out.size());
  }
  std::fclose(f);
  return out;
}

struct ImageFileTest : CountedEngineTest {
  VltImage* load(uint16_t tag, const Bytes& bytes, VltStatus want = VLT_OK) {
    MemFile m(bytes);
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_pLoadF(state, tag, m.f, &im), want);
    if (want != VLT_OK) {
      EXPECT_EQ(im, nullptr);
    }
    return im;
  }
  VltImage* make(uint16_t tag, int32_t w, int32_t h) {
    VltImage* im = nullptr;
    EXPECT_EQ(VltImage_new(state, tag, w, h, &im), VLT_OK);
    return im;
  }
};

Bytes bytes_of(std::initializer_list<int> v) {
  Bytes b;
  for (int c : v) b.push_back(char(c));
  return b;
}

// Every byte of an image's pixel rows (Packed: the bytes that hold pixels).
Bytes pixels(const VltImage* im) {
  Bytes b;
  const size_t row = im->hdr.type == VLT_IMAGE_PACKED ? (size_t(im->hdr.width) + 7) / 8
                                                      : size_t(im->hdr.width) * size_t(VltImage_bytesPerPixel(im->hdr.type));
  for (int32_t y = 0; y < im->hdr.height; ++y) b.append(reinterpret_cast<const char*>(im->rows[y]), row);
  return b;
}

TEST_F(ImageFileTest, ListedVectors) {
  VltImage* im = load(VLT_IMAGE_GRAY, "P5\n# two words\n3 2\n255\n" + bytes_of({1, 2, 3, 4, 5, 6}));
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(im->hdr.width, 3);
  EXPECT_EQ(im->hdr.height, 2);
  EXPECT_STREQ(im->hdr.comment, " two words\n");
  EXPECT_EQ(pixels(im), bytes_of({1, 2, 3, 4, 5, 6}));
  VltImage_free(im);

  im = load(VLT_IMAGE_GRAY, "P2\n2 1\n15\n15 7\n");
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(pixels(im), bytes_of({255, 119}));
  VltImage_free(im);

  // Width 10: two bytes a row, the six low bits of the second ignored.
  im = load(VLT_IMAGE_BINARY, "P4\n10 2\n" + bytes_of({0xA5, 0xFF, 0x00, 0x40}));
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(pixels(im), bytes_of({1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  VltImage_free(im);

  load(VLT_IMAGE_GRAY, "P6\n1 1\n255\nabc", VLT_ERR_COMMAND_LINE);
  im = load(VLT_IMAGE_GRAY, "P4\n3 1\n" + bytes_of({0xA0}));
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(pixels(im), bytes_of({0, 255, 0}));
  VltImage_free(im);

  im = make(VLT_IMAGE_GRAY, 5, 1);
  std::memcpy(im->rows[0], "hello", 5);
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveF(im, f), VLT_OK); }), "P5\n5 1\n255\nhello");
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveHeaderF(im, f, 1, 2), VLT_OK); }), "P5\n5 1 255\n");
  const Bytes hundred(100, 'x');
  ASSERT_EQ(VltImage_setComment(im, hundred.c_str()), VLT_OK);
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveF(im, f), VLT_OK); }),
            "P5\n#" + Bytes(69, 'x') + "\n#" + Bytes(31, 'x') + "\n5 1\n255\nhello");
  VltImage_free(im);

  im = make(VLT_IMAGE_PACKED, 10, 1);
  im->rows[0][0] = 0xC3;
  im->rows[0][1] = 0xFF;  // the six pixels past the width are no part of the image
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveF(im, f), VLT_OK); }), "P4\n10 1\n" + bytes_of({0xC3, 0xC0}));
  VltImage_free(im);

  MemFile raw(bytes_of({0x01, 0x02, 0xFF, 0x00}));
  ASSERT_EQ(VltImage_loadRawF(VLT_IMAGE_SHORT | VLT_RAW_REVERSE_BYTES, 2, 1, raw.f, &im, state), VLT_OK);
  EXPECT_EQ(*VltImage_pixel<int16_t>(im, 0, 0), 0x0201);
  EXPECT_EQ(*VltImage_pixel<int16_t>(im, 1, 0), 0x00FF);
  VltImage_free(im);
}

// The long comment line cut at its last blank within the first 70 characters.
TEST_F(ImageFileTest, CommentLinesBreakAtBlanks) {
  VltImage* im = make(VLT_IMAGE_FLOAT, 1, 1);
  const Bytes words = Bytes(60, 'a') + " " + Bytes(20, 'b') + "\nshort\n\nlast";
  ASSERT_EQ(VltImage_setComment(im, words.c_str()), VLT_OK);
  const Bytes out = written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveF(im, f), VLT_OK); });
  EXPECT_EQ(out.substr(0, out.find("1 1\n")), "Q1\n#" + Bytes(60, 'a') + "\n#" + Bytes(20, 'b') + "\n#short\n#\n#last\n");
  VltImage_free(im);
}

TEST_F(ImageFileTest, EveryTypeRoundTrips) {
  std::mt19937 rng(4);
  for (const uint16_t tag : {VLT_IMAGE_GRAY, VLT_IMAGE_FLOAT, VLT_IMAGE_RGB, VLT_IMAGE_DOUBLE, VLT_IMAGE_BINARY,
                             VLT_IMAGE_LONG, VLT_IMAGE_SHORT, VLT_IMAGE_RGBFLOAT, VLT_IMAGE_PACKED}) {
    VltImage* im = make(tag, 13, 5);
    for (int32_t y = 0; y < 5; ++y) {
      const size_t n = tag == VLT_IMAGE_PACKED ? 2 : size_t(13) * size_t(VltImage_bytesPerPixel(tag));
      for (size_t i = 0; i < n; ++i) im->rows[y][i] = uint8_t(rng());
      if (tag == VLT_IMAGE_BINARY)
        for (size_t i = 0; i < n; ++i) im->rows[y][i] &= 1;
      if (tag == VLT_IMAGE_PACKED) im->rows[y][1] &= 0xF8;
      if (tag == VLT_IMAGE_FLOAT || tag == VLT_IMAGE_DOUBLE || tag == VLT_IMAGE_RGBFLOAT)
        for (int32_t x = 0; x < 13 * (tag == VLT_IMAGE_RGBFLOAT ? 3 : 1); ++x) {
          if (tag == VLT_IMAGE_DOUBLE) reinterpret_cast<double*>(im->rows[y])[x] = double(rng()) / 7.0 - 1e6;
          else reinterpret_cast<float*>(im->rows[y])[x] = float(rng()) / 3.0f - 5e8f;
        }
    }
    if (tag != VLT_IMAGE_PACKED) {
      ASSERT_EQ(VltImage_setComment(im, "made here\nsecond line\n"), VLT_OK);
    }
    const Bytes file = written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveF(im, f), VLT_OK); });
    VltImage* back = load(tag, file);
    ASSERT_NE(back, nullptr) << tag;
    EXPECT_EQ(pixels(back), pixels(im)) << tag;
    if (tag != VLT_IMAGE_PACKED && tag != VLT_IMAGE_BINARY) {
      EXPECT_STREQ(back->hdr.comment, "made here\nsecond line\n") << tag;
    }
    VltImage_free(back);
    for (const uint32_t flags : {0u, VLT_RAW_REVERSE_BYTES}) {
      const Bytes raw = written([&](FILE* f) { EXPECT_EQ(VltImage_saveRawF_(im, tag, f, flags, state), VLT_OK); });
      MemFile m(raw);
      ASSERT_EQ(VltImage_loadRawF(tag | flags, 13, 5, m.f, &back, state), VLT_OK) << tag;
      EXPECT_EQ(pixels(back), pixels(im)) << tag << " flags " << flags;
      VltImage_free(back);
    }
    VltImage_free(im);
  }
}

// Samples of more than one byte are most significant byte first in every file, whatever the
// host; the raw flag turns that round.
TEST_F(ImageFileTest, MultiByteSamplesAreMostSignificantFirst) {
  VltImage* im = nullptr;
  MemFile longRaw(bytes_of({0x01, 0x02, 0x03, 0x04}));
  ASSERT_EQ(VltImage_loadRawF(VLT_IMAGE_LONG, 1, 1, longRaw.f, &im, state), VLT_OK);
  EXPECT_EQ(*VltImage_pixel<int32_t>(im, 0, 0), 0x01020304);
  VltImage_free(im);
  im = load(VLT_IMAGE_LONG, "Q3\n1 1\n" + bytes_of({0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(*VltImage_pixel<int32_t>(im, 0, 0), 0x01020304);
  VltImage_free(im);
  MemFile floatRaw(bytes_of({0x00, 0x00, 0x80, 0x3F}));
  ASSERT_EQ(VltImage_loadRawF(VLT_IMAGE_FLOAT | VLT_RAW_REVERSE_BYTES, 1, 1, floatRaw.f, &im, state), VLT_OK);
  EXPECT_EQ(*VltImage_pixel<float>(im, 0, 0), 1.0f);
  VltImage_free(im);
  // 16-bit grey samples scale to eight bits.
  im = load(VLT_IMAGE_GRAY, "P5 3 1 65535\n" + bytes_of({0xFF, 0xFF, 0x80, 0x00, 0x01, 0x01}));
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(pixels(im), bytes_of({255, 127, 1}));
  VltImage_free(im);
  im = make(VLT_IMAGE_SHORT, 1, 1);
  *VltImage_pixel<int16_t>(im, 0, 0) = 0x0102;
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_saveRawF_(im, VLT_IMAGE_SHORT, f, 0, state), VLT_OK); }),
            bytes_of({1, 2}));
  EXPECT_EQ(written([&](FILE* f) {
              EXPECT_EQ(VltImage_saveRawF_(im, VLT_IMAGE_SHORT, f, VLT_RAW_REVERSE_BYTES, state), VLT_OK);
            }),
            bytes_of({2, 1}));
  VltImage_free(im);
}

TEST_F(ImageFileTest, MalformedAndShortFilesAreRefused) {
  struct Case {
    uint16_t tag;
    Bytes bytes;
  };
  const Case cases[] = {
      {VLT_IMAGE_GRAY, ""},
      {VLT_IMAGE_GRAY, "P"},
      {VLT_IMAGE_GRAY, "P55 1 1 255\nx"},        // a magic longer than two characters
      {VLT_IMAGE_GRAY, " P5 1 1 255\nx"},
      {VLT_IMAGE_GRAY, "X9 1 1\n"},
      {VLT_IMAGE_GRAY, "P5 99999999999 1 255\n"},  // a token beyond 31 bits
      {VLT_IMAGE_GRAY, "P5 1 1 " + Bytes(40, '0') + "1\nx"},
      {VLT_IMAGE_GRAY, "P5 1 1 0\nx"},             // maxval 0
      {VLT_IMAGE_GRAY, "P5 1 1 70000\nxx"},
      {VLT_IMAGE_GRAY, "P5 2 1 255#c\nab"},        // no blank ends the last token
      {VLT_IMAGE_GRAY, "P5 3 2 255\nabcde"},       // one byte short
      {VLT_IMAGE_GRAY, "P5 2 1 100\n" + bytes_of({50, 101})},  // a sample above maxval
      {VLT_IMAGE_GRAY, "P2 2 1 15\n3 16\n"},
      {VLT_IMAGE_RGB, "P6 1 1 255\nab"},
      {VLT_IMAGE_BINARY, "P1 2 2\n1 0 1 2"},
      {VLT_IMAGE_BINARY, "P4 65536 65536\n" + Bytes(64, 'x')},  // more than the file holds
      {VLT_IMAGE_DOUBLE, "Q2 100000 100000\n"},                  // a size that cannot be had
      {VLT_IMAGE_DOUBLE, "Q2 2147483647 2147483647\n"},
      {VLT_IMAGE_FLOAT, "Q1 2 1\n" + Bytes(7, 'x')},
      {VLT_IMAGE_PACKED, "P4 16 2\n" + Bytes(3, 'x')},
      {VLT_IMAGE_PACKED, "P1 3 1\n1 0"},
      {VLT_IMAGE_PACKED, "P5 1 1 255\nx"},
  };
  for (const Case& c : cases) {
    printed.codes.clear();
    load(c.tag, c.bytes, VLT_ERR_FILE_NOT_FOUND);
    EXPECT_FALSE(printed.codes.empty()) << c.bytes.substr(0, 20);
  }
  VltImage* im = nullptr;
  MemFile shortRaw(Bytes(11, 'x'));
  EXPECT_EQ(VltImage_loadRawF(VLT_IMAGE_GRAY, 4, 3, shortRaw.f, &im, state), VLT_ERR_IO_LENGTH);
  EXPECT_EQ(im, nullptr);
  MemFile some(Bytes(16, 'x'));
  EXPECT_EQ(VltImage_loadRawF(VLT_IMAGE_WORD, 1, 1, some.f, &im, state), VLT_ERR_INTERNAL);
  EXPECT_NE(printed.text.find("Invalid image type"), std::string::npos);
  EXPECT_EQ(VltImage_loadRawF(0x400 | VLT_IMAGE_GRAY, 1, 1, some.f, &im, state), VLT_ERR_INTERNAL);
  EXPECT_EQ(VltImage_loadRawF(VLT_IMAGE_GRAY, -1, 1, some.f, &im, state), VLT_ERR_PARAM);
  EXPECT_EQ(VltImage_loadRawF(VLT_IMAGE_DOUBLE, 65536, 65536, some.f, &im, state), VLT_ERR_IO_LENGTH);
  EXPECT_EQ(im, nullptr);
}

TEST_F(ImageFileTest, Tokens) {
  struct Case {
    Bytes bytes;
    int32_t value;
    int error;
    Bytes comment;
  };
  const Case cases[] = {
      {"  # one\n #two\n 12 ", 12, 0, " one\ntwo\n"},
      {"7", 7, 0, ""},
      {"0\n", 0, 0, ""},
      {"12x", 0, 1, ""},
      {"", 0, 1, ""},
      {"# only a comment", 0, 1, " only a comment"},
      {"-3 ", 0, 1, ""},
      {"2147483647 ", 2147483647, 0, ""},
      {"2147483648 ", 0, 1, ""},
  };
  for (const Case& c : cases) {
    MemFile m(c.bytes);
    char comment[VLT_IMAGE_COMMENT_CAPACITY] = {};
    int32_t length = 0;
    int error = -1;
    EXPECT_EQ(VltImage_pbmGetToken(m.f, &error, comment, &length, state), c.value) << c.bytes;
    EXPECT_EQ(error, c.error) << c.bytes;
    EXPECT_EQ(Bytes(comment, size_t(length)), c.comment) << c.bytes;
  }
  // Comments are kept up to the buffer less one character.
  MemFile longComment("#" + Bytes(9000, 'c') + "\n5 ");
  char comment[VLT_IMAGE_COMMENT_CAPACITY];
  int32_t length = 0;
  int error = -1;
  EXPECT_EQ(VltImage_pbmGetToken(longComment.f, &error, comment, &length, state), 5);
  EXPECT_EQ(length, VLT_IMAGE_COMMENT_CAPACITY - 1);
  MemFile pixelsFile("10\n#x\n1x");
  EXPECT_EQ(VltImage_pbmGetPBMToken(pixelsFile.f, &error, nullptr, nullptr, state), 1);
  EXPECT_EQ(VltImage_pbmGetPBMToken(pixelsFile.f, &error, nullptr, nullptr, state), 0);
  EXPECT_EQ(VltImage_pbmGetPBMToken(pixelsFile.f, &error, nullptr, nullptr, state), 1);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(VltImage_pbmGetPBMToken(pixelsFile.f, &error, nullptr, nullptr, state), 0);
  EXPECT_EQ(error, 1);
  EXPECT_EQ(VltImage_pbmGetToken(pixelsFile.f, nullptr, nullptr, nullptr, state), VLT_ERR_ASSERT);
}

TEST_F(ImageFileTest, PathsAndArguments) {
  monotest::TempDir dir;
  VltImage* im = make(VLT_IMAGE_RGB, 4, 3);
  for (int32_t y = 0; y < 3; ++y) std::memset(im->rows[y], 40 * y + 1, 12);
  const std::string path = dir.file("rgb.ppm");
  ASSERT_EQ(VltImage_save(im, path.c_str()), VLT_OK);
  VltImage* back = nullptr;
  ASSERT_EQ(VltImage_load(state, VLT_IMAGE_RGBFLOAT, path.c_str(), &back), VLT_OK);  // a promotion
  EXPECT_EQ(VltImage_pixel<float>(back, 3, 2)[1], 81.0f);
  VltImage_free(back);
  ASSERT_EQ(VltImage_saveRaw_(im, VLT_IMAGE_RGB, dir.file("rgb.raw").c_str(), 0, state), VLT_OK);
  ASSERT_EQ(VltImage_loadRaw(VLT_IMAGE_RGB, 4, 3, dir.file("rgb.raw").c_str(), &back, state), VLT_OK);
  EXPECT_EQ(pixels(back), pixels(im));
  VltImage_free(back);

  EXPECT_EQ(VltImage_load(state, VLT_IMAGE_GRAY, dir.file("missing").c_str(), &back), VLT_ERR_NULL);
  EXPECT_EQ(VltImage_save(im, dir.file("no/such/folder").c_str()), VLT_ERR_NULL);
  EXPECT_EQ(VltImage_loadRaw(VLT_IMAGE_GRAY, 1, 1, dir.file("missing").c_str(), &back, state), VLT_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(VltImage_saveRaw_(im, VLT_IMAGE_RGB, dir.file("no/such").c_str(), 0, state), VLT_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(VltImage_load(state, VLT_IMAGE_GRAY, nullptr, &back), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pLoadF(state, VLT_IMAGE_GRAY, nullptr, &back), VLT_ERR_ASSERT);
  EXPECT_EQ(VltImage_pSaveF(nullptr, stdout), VLT_ERR_ASSERT);
  // A writer of another type would read past this image's rows.
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_saveRawF_(im, VLT_IMAGE_DOUBLE, f, 0, state), VLT_ERR_ASSERT); }), "");
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_saveRawF_(im, VLT_IMAGE_WORD, f, 0, state), VLT_ERR_INTERNAL); }), "");
  VltImage_free(im);
  im = make(VLT_IMAGE_WORD, 2, 2);
  EXPECT_EQ(written([&](FILE* f) { EXPECT_EQ(VltImage_pSaveF(im, f), VLT_ERR_COMMAND_LINE); }), "");
  VltImage_free(im);
}

// Every allocation of a load failing in turn: a failure, no image, nothing left allocated.
TEST_F(ImageFileTest, FailedAllocationsLeaveNothing) {
  const std::pair<Bytes, uint16_t> cases[] = {
      {"P5\n# note\n3 2\n255\nabcdef", VLT_IMAGE_GRAY}, {"P5\n# note\n3 2\n255\nabcdef", VLT_IMAGE_DOUBLE},
      {"P1 3 1 1 0 1", VLT_IMAGE_PACKED},                 {"P1 3 1 1 0 1", VLT_IMAGE_GRAY},
      {"P6 1 1 255 abc", VLT_IMAGE_RGBFLOAT}};
  for (const auto& [file, tag] : cases) {
    {
      bool done = false;
      for (size_t k = 1; !done && k < 20; ++k) {
        const size_t before = alloc.live_blocks();
        MemFile m(file);
        VltImage* im = nullptr;
        alloc.fail_at(k);
        const VltStatus st = VltImage_pLoadF(state, tag, m.f, &im);
        alloc.fail_at(0);
        done = st == VLT_OK;
        if (done) {
          VltImage_free(im);
        } else {
          EXPECT_EQ(im, nullptr);
        }
        EXPECT_EQ(alloc.live_blocks(), before);
      }
      EXPECT_TRUE(done) << file.substr(0, 2) << " as " << tag;
    }
  }
}

}  // namespace
