// CCITT fax encoder and decoder: exact code bits for small cases, round trips over widths and
// pathological patterns in every coding mode, decoder windows and byte accounting, corrupt and
// truncated data, chunked coding, and allocation failures.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "counting_alloc.h"
#include "fax_codes.h"
#include "fax_test_util.h"

namespace {

using namespace faxtest;
using monotest::CountingAllocator;
using monotest::first_difference;

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t v : b) {
    std::snprintf(buf, sizeof buf, "%02X", v);
    s += buf;
  }
  return s;
}

// Packs a string of '0'/'1' code bits into bytes, padding with 0 bits.
Bytes bits_to_bytes(const std::string& bits) {
  Bytes out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return out;
}

std::string code_bits(FaxCode c) {
  std::string s;
  for (int i = c.length - 1; i >= 0; --i) s += ((c.code >> i) & 1) ? '1' : '0';
  return s;
}

RefBitmap from_rows(int width, const std::vector<std::string>& rows) {
  RefBitmap bm(width, static_cast<int>(rows.size()));
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < width; ++x) bm.set(x, y, rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#');
  return bm;
}

RefBitmap alternating_columns(int w, int h) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 1; x < w; x += 2) bm.set(x, y, 1);
  return bm;
}

RefBitmap filled(int w, int h) {
  RefBitmap bm(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bm.set(x, y, 1);
  return bm;
}

// Patterns that stress the coder: every pixel a change, changes that shift each line, long runs.
struct Pattern {
  const char* name;
  RefBitmap (*make)(int w, int h);
};

const Pattern kPatterns[] = {
    {"white", [](int w, int h) { return RefBitmap(w, h); }},
    {"black", filled},
    {"checker1", [](int w, int h) { return monotest::make_checkerboard(w, h, 1); }},
    {"checker3", [](int w, int h) { return monotest::make_checkerboard(w, h, 3); }},
    {"columns", alternating_columns},
    {"noise50", [](int w, int h) { return monotest::make_noise(w, h, 0.5, 7u + static_cast<uint32_t>(w)); }},
    {"noise5", [](int w, int h) { return monotest::make_noise(w, h, 0.05, 11u + static_cast<uint32_t>(w)); }},
    {"text", [](int w, int h) { return monotest::make_text_blobs(w, h, 3u); }},
    {"lines", [](int w, int h) { return monotest::make_lines(w, h, 5u); }},
};

const int kWidths[] = {1, 2, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 100, 255, 1728, 2560, 2561, 3000, 5000};

TEST(FaxTables, MakeUpAndTerminatingCodesFillTheRunTables) {
  // Every run 0-2560 has a code in both colours, and each decodes back through the tables.
  for (int colour = 0; colour < 2; ++colour) {
    const FaxRunTab& s = colour ? blackShortRunTab : whiteShortRunTab;
    const FaxRunTab& l = colour ? blackLongRunTab : whiteLongRunTab;
    auto lookup = [&](FaxCode c) {
      const unsigned v = static_cast<unsigned>(c.code) << (13 - c.length);
      return (v >> 9) != 0 ? s[v >> 4] : l[v & 0x1FF];
    };
    for (int r = 0; r < 64; ++r) {
      const FaxRun e = lookup((*shortTabs[colour])[static_cast<size_t>(r)]);
      EXPECT_EQ(e.run, r);
      EXPECT_EQ(e.length, (*shortTabs[colour])[static_cast<size_t>(r)].length);
    }
    for (int i = 1; i <= 40; ++i) {
      const FaxRun e = lookup((*longTabs[colour])[static_cast<size_t>(i)]);
      EXPECT_EQ(e.run, 64 * i);
    }
  }
}

TEST(FaxEncode, ExactCodeBits) {
  State st;
  struct Case {
    const char* name;
    RefBitmap image;
    PageOptions options;
    std::string bits;
  };
  const std::string eol = "000000000001";
  const std::string w2560 = code_bits(whiteLongCodeTab[40]), w384 = code_bits(whiteLongCodeTab[6]);
  const Case cases[] = {
      // Five all-white lines: five V0 codes, padded.
      {"white lines", RefBitmap(40, 5), {}, "11111"},
      {"white lines with end", RefBitmap(40, 5), {-1, false, true}, "11111" + eol + eol},
      // A line that starts black: horizontal mode with a white run of 0, then V0 at the end.
      {"starts black", from_rows(8, {"#......."}), {}, "001" "00110101" "010" "1"},
      // 3000 white pixels in 1-D: make-up 2560, make-up 384, terminating 56.
      {"long run", RefBitmap(3000, 1), {0}, w2560 + w384 + "01011001"},
      {"1-D with EOL", from_rows(8, {"..##...."}), {0, true}, eol + "0111" "11" "1011"},
      // K = 2 alternates 1-D lines (tag 1) and 2-D lines (tag 0) after their EOLs.
      {"K=2", from_rows(4, {"....", "....", "...."}), {2, true}, eol + "1" "1011" + eol + "0" "1" + eol + "1" "1011"},
      // T.6 end of block; T.4 return to control.
      {"rtc 1-D", RefBitmap(4, 0), {0, false, true}, eol + eol + eol + eol + eol + eol},
      {"rtc 2-D", RefBitmap(4, 0), {1, false, true},
       eol + "1" + eol + "1" + eol + "1" + eol + "1" + eol + "1" + eol + "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Coded coded = page_encode(Packed(c.image), st, c.options);
    ASSERT_EQ(coded.status, VLT_OK);
    EXPECT_EQ(hex(coded.bytes), hex(bits_to_bytes(c.bits)));
    if (c.options.K < 0 && !c.options.eol) {  // g4Encode codes the same
      const Coded g4 = g4_encode(Packed(c.image), st, c.options.end);
      EXPECT_EQ(hex(g4.bytes), hex(coded.bytes));
    }
  }
}

TEST(FaxEncode, AlignmentPutsEachEolEndOrLineStartOnAByteBoundary) {
  State st;
  const RefBitmap bm = monotest::make_noise(37, 6, 0.3, 4u);
  for (int32_t K : {-1, 0, 2}) {
    const Coded c = page_encode(Packed(bm), st, {K, true, false, false, true});
    ASSERT_EQ(c.status, VLT_OK);
    // Each EOL (a 1 bit after at least 11 zeros) ends a byte.
    int eols = 0, zeros = 0;
    for (size_t i = 0; i < c.bytes.size() * 8; ++i) {
      const int bit = (c.bytes[i / 8] >> (7 - i % 8)) & 1;
      if (bit && zeros >= 11) {
        ++eols;
        EXPECT_EQ(i % 8, 7u);
      }
      zeros = bit ? 0 : zeros + 1;
    }
    EXPECT_EQ(eols, bm.height);
    const Decoded d = decode(K, c.bytes, bm.width, bm.height, st);
    ASSERT_EQ(d.status, VLT_OK);
    EXPECT_EQ(first_difference(bm, d.image), "");
  }
}

TEST(FaxEncode, OutputBufferOneByteShortGivesOverflowAndNoSize) {
  State st;
  const Packed p(monotest::make_text_blobs(300, 80, 9u));
  const Coded full = g4_encode(p, st, true);
  ASSERT_EQ(full.status, VLT_OK);
  for (size_t shortBy : {size_t{1}, size_t{5}, full.bytes.size()}) {
    Bytes out(full.bytes.size() - shortBy + 1, 0xEE);
    size_t size = full.bytes.size() - shortBy;
    EXPECT_EQ(g4Encode(p.words.data(), p.width, p.height, p.stride, out.data(), &size, 1, st),
              VLT_ERR_OVERFLOW);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the buffer";
  }
}

TEST(FaxEncode, BadGeometryIsRejected) {
  State st;
  Packed p(64, 2);
  uint8_t out[64];
  struct Case { int32_t width, height, stride; };
  for (const Case c : {Case{-1, 2, 2}, Case{64, -1, 2}, Case{64, 2, 1}, Case{FAX_MAX_WIDTH + 1, 1, 1 << 20}}) {
    size_t size = sizeof out;
    EXPECT_EQ(g4Encode(p.words.data(), c.width, c.height, c.stride, out, &size, 0, st), VLT_ERR_PARAM);
  }
  size_t size = sizeof out;
  EXPECT_EQ(g4Encode(p.words.data(), 64, 2, 2, out, &size, 0, nullptr), VLT_ERR_NULL);
}

// The line buffer holds the code of any line: a line whose every pixel is a change, against a
// reference line that makes each code as long as it can be, never overflows it.
TEST(FaxEncode, AdversarialLinesFitTheLineBuffer) {
  State st;
  std::mt19937 rng(5);
  for (int width : {1, 2, 3, 5, 8, 13, 64, 333, 1728, 5000}) {
    for (const Pattern& pat : kPatterns) {
      const RefBitmap bm = pat.make(width, 6);
      for (int32_t K : {-1, 0, 3}) {
        const Coded c = page_encode(Packed(bm), st, {K, true, true, false, true});
        ASSERT_EQ(c.status, VLT_OK) << pat.name << " width " << width << " K " << K;
      }
    }
    // Random lines whose changes sit 1-4 pixels apart, so vertical codes cannot reach them.
    RefBitmap bm(width, 40);
    for (int y = 0; y < bm.height; ++y) {
      int colour = static_cast<int>(rng() & 1);
      for (int x = 0; x < width;) {
        const int run = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < run && x < width; ++k, ++x) bm.set(x, y, colour);
        colour ^= 1;
      }
    }
    FaxEncoder* enc = nullptr;
    ASSERT_EQ(EncodeCreate(&enc, st), VLT_OK);
    ASSERT_EQ(EncodeInit(enc, width), VLT_OK);
    const Packed p(bm);
    for (int y = 0; y < bm.height; ++y) {
      LineToTrans(enc, p.row(y));
      ASSERT_EQ(TransToG4Code(enc, 0), VLT_OK);
      EXPECT_LE(enc->lineBytes * 8 + enc->bitCount, 7u * static_cast<size_t>(width) + 7 + 31);
      enc->lineBytes = 0;
    }
    EncodeCleanUp(&enc);
  }
  EXPECT_EQ(st.reports, "");
}

TEST(FaxEncode, BitsBeyondTheLineBufferAreRefusedAndReported) {
  State st;
  FaxEncoder* enc = nullptr;
  ASSERT_EQ(EncodeCreate(&enc, st), VLT_OK);
  ASSERT_EQ(EncodeInit(enc, 8), VLT_OK);
  VltStatus s = VLT_OK;
  size_t words = 0;
  while (s == VLT_OK && words < 1000) {
    s = PutBits(enc, 0xA5A5A5A5u, 32);
    ++words;
  }
  EXPECT_EQ(s, VLT_ERR_VLT_OVERFLOW);
  EXPECT_EQ(enc->lineBytes, enc->lineBufSize);
  EXPECT_NE(st.reports.find("10001: Internal buffer overflow"), std::string::npos);
  EncodeCleanUp(&enc);
}

// Every coding mode decodes back to its source, over widths and pathological patterns.
TEST(FaxRoundTrip, EveryModeWidthAndPattern) {
  State st;
  const PageOptions modes[] = {
      {-1, false, true},               // T.6 with end of block
      {-1, true, true, true, true},    // T.6 with EOLs, uncompressed fallback, alignment
      {0, true, true},                 // T.4 1-D
      {0, false, false, true, false},  // T.4 1-D without EOLs, uncompressed fallback
      {1, true, true, true, true},     // T.4 2-D with K = 1 (all 1-D lines)
      {4, true, true, true},           // T.4 2-D
      {4, true, true, false, true},
  };
  for (int width : kWidths) {
    for (const Pattern& pat : kPatterns) {
      const RefBitmap bm = pat.make(width, 9);
      const Packed p(bm);
      for (const PageOptions& m : modes) {
        SCOPED_TRACE(std::string(pat.name) + " width " + std::to_string(width) + " K " +
                     std::to_string(m.K) + (m.uncompressed ? " unc" : ""));
        const Coded c = page_encode(p, st, m);
        ASSERT_EQ(c.status, VLT_OK);
        const Decoded d = decode(m.K, c.bytes, width, bm.height, st);
        ASSERT_EQ(d.status, VLT_OK);
        ASSERT_EQ(first_difference(bm, d.image), "");
        if (m.end) {
          EXPECT_EQ(d.used, c.bytes.size());
        }
      }
      const Coded g4 = g4_encode(p, st, true);
      ASSERT_EQ(g4.status, VLT_OK);
      const Decoded d = decode(-1, g4.bytes, width, bm.height, st);
      ASSERT_EQ(d.status, VLT_OK);
      ASSERT_EQ(first_difference(bm, d.image), "") << pat.name << " width " << width;
      EXPECT_EQ(d.used, g4.bytes.size());
    }
  }
  EXPECT_EQ(st.reports, "");
}

TEST(FaxRoundTrip, UncompressedModeShortensLinesThatCodeBadly) {
  State st;
  const RefBitmap bm = monotest::make_checkerboard(200, 6, 1);
  for (int32_t K : {-1, 0, 2}) {
    const Coded plain = page_encode(Packed(bm), st, {K, true, true});
    const Coded unc = page_encode(Packed(bm), st, {K, true, true, true});
    ASSERT_EQ(unc.status, VLT_OK);
    // In T.6 the first line is horizontal pairs of one-pixel runs, 6 bits per pixel;
    // uncompressed mode codes it in about 1.2.
    if (K < 0) {
      EXPECT_LT(unc.bytes.size(), plain.bytes.size()) << K;
    }
    const Decoded d = decode(K, unc.bytes, bm.width, bm.height, st);
    ASSERT_EQ(d.status, VLT_OK);
    EXPECT_EQ(first_difference(bm, d.image), "");
  }
}

TEST(FaxRoundTrip, SenseFlipCodesInvertedRows) {
  State st;
  const RefBitmap bm = monotest::make_text_blobs(77, 20, 2u);
  RefBitmap inv(bm.width, bm.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) inv.set(x, y, !bm.get(x, y));
  FaxEncoder* enc = nullptr;
  ASSERT_EQ(EncodeCreate(&enc, st), VLT_OK);
  ASSERT_EQ(EncodeInit(enc, bm.width), VLT_OK);
  FlipSense(enc);
  const Packed p(inv);
  Bytes out(4096);
  size_t size = out.size();
  ASSERT_EQ(DoPage(enc, out.data(), &size, p.words.data(), p.stride, p.height, -1, 0, 1, 0, 0, 1), VLT_OK);
  EncodeCleanUp(&enc);
  out.resize(size);
  const Decoded d = decode(-1, out, bm.width, bm.height, st);
  EXPECT_EQ(first_difference(bm, d.image), "");
}

TEST(FaxRoundTrip, EncoderIsReusedAcrossImagesOfDifferentWidths) {
  State st;
  FaxEncoder* enc = nullptr;
  ASSERT_EQ(EncodeCreate(&enc, st), VLT_OK);
  for (int width : {500, 20, 1000, 1000, 3}) {
    const RefBitmap bm = monotest::make_noise(width, 7, 0.2, static_cast<uint32_t>(width));
    const Packed p(bm);
    Bytes out(static_cast<size_t>(width) * 8 + 64);
    size_t size = out.size();
    ASSERT_EQ(g4EncodeC(enc, p.words.data(), width, p.height, p.stride, out.data(), &size, 1), VLT_OK);
    out.resize(size);
    EXPECT_EQ(out, g4_encode(p, st, true).bytes);
  }
  EncodeCleanUp(&enc);
}

// ---- decoder --------------------------------------------------------------------------------

struct Fixture {
  RefBitmap image = monotest::make_text_blobs(150, 24, 8u);
  Bytes g4;
  explicit Fixture(VltState* st) { g4 = g4_encode(Packed(image), st, true).bytes; }
};

TEST(FaxDecode, WhiteLinesLeaveTheDestinationUntouched) {
  State st;
  const Bytes data = g4_encode(Packed(RefBitmap(90, 12)), st).bytes;
  Packed out(90, 12);
  for (uint32_t& w : out.words) w = 0x5A5AA5A5u;
  const std::vector<uint32_t> before = out.words;
  ASSERT_EQ(g4Decode(out.words.data(), 90, 12, out.stride, 0, 89, 11, data.data(), data.size(), 0,
                     nullptr, st), VLT_OK);
  EXPECT_EQ(out.words, before);
}

TEST(FaxDecode, EndOfBlockIsConsumedOnlyWhenAsked) {
  State st;
  Fixture f(st);
  const Decoded with = decode(-1, f.g4, f.image.width, f.image.height, st, true);
  const Decoded without = decode(-1, f.g4, f.image.width, f.image.height, st, false);
  EXPECT_EQ(with.used, f.g4.size());
  // The end of block is 24 bits, of which the last line's byte may hold some.
  EXPECT_GE(f.g4.size() - without.used, 2u);
  EXPECT_LE(f.g4.size() - without.used, 3u);
  EXPECT_EQ(first_difference(f.image, with.image), "");
  EXPECT_EQ(first_difference(f.image, without.image), "");
}

TEST(FaxDecode, BytesUsedPlusBytesLeftIsTheLength) {
  State st;
  Fixture f(st);
  Bytes trailing = f.g4;
  trailing.insert(trailing.end(), {0xAB, 0xCD, 0x00, 0x00, 0x00, 0xFF, 0x12});
  Bytes truncated(f.g4.begin(), f.g4.begin() + static_cast<ptrdiff_t>(f.g4.size() / 2));
  FaxDecoder* dec = nullptr;
  ASSERT_EQ(DecodeCreate(&dec, st), VLT_OK);
  for (const Bytes* data : {&f.g4, &trailing, &truncated}) {
    for (int32_t end : {0, 1}) {
      for (int32_t lines : {1, 10, f.image.height}) {
        Packed a(f.image.width, lines), b(f.image.width, lines);
        size_t used = 0, left = 0;
        const VltStatus s1 = g4Decode(a.words.data(), a.width, lines, a.stride, 0, a.width - 1,
                                      lines - 1, data->data(), data->size(), end, &used, st);
        const VltStatus s2 = g4DecodeC(dec, b.words.data(), b.width, lines, b.stride, 0,
                                       b.width - 1, lines - 1, data->data(), data->size(), end, &left);
        EXPECT_EQ(s1, s2);
        EXPECT_EQ(used + left, data->size());
        EXPECT_EQ(a.words, b.words);
        if (data != &truncated && lines == f.image.height && end) {
          EXPECT_EQ(used, f.g4.size());
        }
      }
    }
  }
  DecodeCleanUp(&dec);
}

TEST(FaxDecode, LastLineAndWindowLimitWhatIsWritten) {
  State st;
  Fixture f(st);
  const int w = f.image.width, h = f.image.height;
  struct Case {
    int32_t bitOffset, lastCol, lastLine, extraWords;
  };
  const Case cases[] = {
      {0, w - 1, h - 1, 0},      // everything
      {0, w - 1, 9, 0},          // only lines 0-9
      {0, 70, h - 1, 0},         // columns 0-70
      {13, w + 12, h - 1, 1},    // shifted right by 13
      {40, 100, 5, 2},           // shifted, narrowed and shortened
      {0, -1, h - 1, 0},         // empty window: decoded, nothing written
      {31, w + 64, h + 5, 3},    // limits beyond the image
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitOffset) + "/" + std::to_string(c.lastCol) + "/" + std::to_string(c.lastLine));
    Packed out(w, h, c.extraWords);
    // Bits outside decoded black runs keep their values.
    std::mt19937 rng(1);
    Packed background(w, h, c.extraWords);
    for (uint32_t& word : background.words) word = rng() & rng();
    out.words = background.words;
    ASSERT_EQ(g4Decode(out.words.data(), w, h, out.stride, c.bitOffset, c.lastCol, c.lastLine,
                       f.g4.data(), f.g4.size(), 1, nullptr, st), VLT_OK);
    const RefBitmap got = out.to_ref(0, out.stride * 32);
    const RefBitmap bg = background.to_ref(0, out.stride * 32);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < out.stride * 32; ++x) {
        const int col = x - c.bitOffset;
        const bool inside = y <= c.lastLine && col >= 0 && col < w && x <= c.lastCol;
        const int expect = bg.get(x, y) | (inside ? f.image.get(col, y) : 0);
        ASSERT_EQ(got.get(x, y), expect) << "x " << x << " y " << y;
      }
    }
  }
}

TEST(FaxDecode, MoveLineWritesTheWindowExactly) {
  State st;
  Fixture f(st);
  FaxDecoder* dec = nullptr;
  ASSERT_EQ(DecodeCreate(&dec, st), VLT_OK);
  ASSERT_EQ(DecodeInit(dec, f.g4.data(), f.g4.size(), f.image.width, -1), VLT_OK);
  for (int y = 0; y < 5; ++y) {
    ASSERT_EQ(NextLine(dec), VLT_OK);
    for (int32_t invert : {0, 1}) {
      std::vector<uint32_t> row(8, 0x96696996u);
      const std::vector<uint32_t> before = row;
      MoveLine(dec, row.data(), 5, 20, 120, invert);  // columns 20-119 at bits 5-104
      RefBitmap got(256, 1), was(256, 1);
      std::memcpy(got.row(0), row.data(), 32);
      std::memcpy(was.row(0), before.data(), 32);
      for (int x = 0; x < 256; ++x) {
        const int expect = x >= 5 && x < 105 ? f.image.get(x - 5 + 20, y) ^ invert : was.get(x, 0);
        ASSERT_EQ(got.get(x, 0), expect) << x;
      }
    }
  }
  DecodeCleanUp(&dec);
}

TEST(FaxDecode, EolsBeforeLinesAndReturnToControl) {
  State st;
  const RefBitmap bm = monotest::make_text_blobs(120, 10, 4u);
  const Coded bare = page_encode(Packed(bm), st, {0, false, false});
  const Coded eols = page_encode(Packed(bm), st, {0, true, true});
  for (const Coded* c : {&bare, &eols}) {
    const Decoded d = decode(0, c->bytes, bm.width, bm.height, st);
    ASSERT_EQ(d.status, VLT_OK);
    EXPECT_EQ(first_difference(bm, d.image), "");
  }
  // After the return to control, further lines are white.
  Packed out(bm.width, bm.height + 4);
  size_t used = 0;
  ASSERT_EQ(g3_1DDecode(out.words.data(), bm.width, bm.height + 4, out.stride, 0, bm.width - 1,
                        bm.height + 3, eols.bytes.data(), eols.bytes.size(), 1, &used, st), VLT_OK);
  const RefBitmap got = out.to_ref();
  for (int y = bm.height; y < bm.height + 4; ++y)
    for (int x = 0; x < bm.width; ++x) ASSERT_EQ(got.get(x, y), 0);
  EXPECT_EQ(used, eols.bytes.size());
}

TEST(FaxDecode, HandMadeStreams) {
  State st;
  const std::string eol = "000000000001";
  struct Case {
    const char* name;
    int32_t K, width;
    std::string bits;
    std::vector<std::string> rows;  // expected
    VltStatus status;
  };
  const Case cases[] = {
      // Horizontal runs longer than the line are clipped at the width.
      {"clipped runs", -1, 10, "001" "0111" "0000101", {"..########"}, VLT_OK},
      // An EOL in the middle of a 2-D line ends it; the rest keeps the current colour.
      {"early end", -1, 12, "001" "000111" "11" + eol + "1", {".##.........", ".###########"}, VLT_OK},
      // Fill before an EOL in T.4 1-D is skipped.
      {"fill", 0, 8, "0000000" + eol + "0111" "11" "1011" "00000" + eol + "10011",
       {"..##....", "........"}, VLT_OK},
      // An undecodable code not followed by 11 zeros cannot be resynchronised.
      {"bad code", -1, 16, "1" "00000001" "1111", {"................", "................"}, VLT_ERR_CODEC},
      {"bad 1-D code", 0, 16, "000000001000" "1111", {"................"}, VLT_ERR_CODEC},
      // A vertical code that would move left of a0.
      {"left of a0", -1, 16, "010" "0000010", {"................"}, VLT_ERR_CODEC},
      // Data ending early reads as zero bits: the remaining lines stay white.
      {"truncated", -1, 8, "001" "0111" "11", {"..##....", "........", "........"}, VLT_OK},
      // Uncompressed mode in 2-D: entry, W W B, B, five whites, exit with two whites.
      {"uncompressed 2-D", -1, 11, "0000001111" "001" "1" "000001" "000000001" "0",
       {"..##.......", "..........."}, VLT_OK},
      // A line that reaches the width in uncompressed mode and is followed by an EOL, no exit.
      {"uncompressed then EOL", -1, 4, "0000001111" "1111" + eol + "1", {"####", "####"}, VLT_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int h = static_cast<int>(c.rows.size());
    const Decoded d = decode(c.K, bits_to_bytes(c.bits), c.width, h, st, false);
    EXPECT_EQ(d.status, c.status);
    if (c.status == VLT_OK) {
      EXPECT_EQ(first_difference(from_rows(c.width, c.rows), d.image), "");
    }
  }
  EXPECT_NE(st.reports.find("107: "), std::string::npos);
}

// No input makes the decoders loop forever or read outside the data: every prefix and many
// corruptions of valid streams decode to a status.
TEST(FaxDecode, CorruptAndTruncatedStreamsEndWithAStatus) {
  State st;
  const RefBitmap bm = monotest::make_text_blobs(97, 30, 6u);
  std::mt19937 rng(9);
  for (int32_t K : {-1, 0, 2}) {
    const Coded c = page_encode(Packed(bm), st, {K, K >= 0, true, true});
    for (size_t n = 0; n <= c.bytes.size(); n += 3) {
      // Exact-size copies so that ASan catches any read past the end.
      std::vector<uint8_t> prefix(c.bytes.begin(), c.bytes.begin() + static_cast<ptrdiff_t>(n));
      const Decoded d = decode(K, prefix, bm.width, bm.height, st);
      EXPECT_TRUE(d.status == VLT_OK || d.status == VLT_ERR_CODEC);
      EXPECT_LE(d.used, n);
    }
    for (int trial = 0; trial < 300; ++trial) {
      Bytes bad = c.bytes;
      for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      const Decoded d = decode(K, bad, bm.width, bm.height, st);
      EXPECT_TRUE(d.status == VLT_OK || d.status == VLT_ERR_CODEC) << d.status;
      EXPECT_LE(d.used, bad.size());
    }
  }
}

TEST(FaxDecode, BadArgumentsAreRejected) {
  State st;
  Packed out(64, 2);
  const uint8_t data[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  struct Case {
    int32_t width, stride, bitOffset, lastCol;
    VltStatus status;
  };
  const Case cases[] = {
      {-1, 2, 0, 63, VLT_ERR_PARAM},
      {64, 2, -1, 63, VLT_ERR_PARAM},
      {64, 2, 0, 64, VLT_ERR_PARAM},   // window reaches past the row
      {64, 1, 0, 63, VLT_ERR_PARAM},
      {64, 2, 0, 63, VLT_OK},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(g4Decode(out.words.data(), c.width, 2, c.stride, c.bitOffset, c.lastCol, 1, data,
                       sizeof data, 0, nullptr, st), c.status);
  }
  EXPECT_EQ(g4Decode(nullptr, 64, 2, 2, 0, 63, 1, data, sizeof data, 0, nullptr, st), VLT_ERR_NULL);
  EXPECT_EQ(g4Decode(out.words.data(), 64, 2, 2, 0, 63, 1, nullptr, 4, 0, nullptr, st), VLT_ERR_NULL);
  EXPECT_EQ(g4Decode(out.words.data(), 64, 2, 2, 0, 63, 1, data, 4, 0, nullptr, nullptr), VLT_ERR_NULL);
}

TEST(FaxDecode, EndSeenAndConsumeEndOfBlock) {
  State st;
  Fixture f(st);
  FaxDecoder* dec = nullptr;
  ASSERT_EQ(DecodeCreate(&dec, st), VLT_OK);
  ASSERT_EQ(DecodeInit(dec, f.g4.data(), f.g4.size(), f.image.width, -1), VLT_OK);
  for (int y = 0; y < f.image.height; ++y) ASSERT_EQ(NextLine(dec), VLT_OK);
  EXPECT_EQ(EndSeen(dec), 0);
  EXPECT_EQ(ConsumeEndOfBlock(dec), 2);
  EXPECT_EQ(EndSeen(dec), 1);
  EXPECT_EQ(ConsumeEndOfBlock(dec), 0);
  ASSERT_EQ(NextLine(dec), VLT_OK);  // past the end: white
  EXPECT_EQ(dec->ref.count, 4);
  DecodeCleanUp(&dec);
}

// ---- chunk-by-chunk coding --------------------------------------------------------------------

TEST(FaxChunks, ChunkedCodingEqualsWholeImageCoding) {
  State st;
  const RefBitmap bm = monotest::make_text_blobs(333, 61, 12u);
  const Packed p(bm);
  const Coded whole = g4_encode(p, st, false);
  for (int32_t per : {1, 7, 60, 61, 100}) {
    Bytes out(whole.bytes.size() + 16);
    size_t size = out.size();
    ASSERT_EQ(TestEncodeChunk(p.words.data(), p.width, p.height, per, p.stride, out.data(), &size, st), VLT_OK);
    out.resize(size);
    EXPECT_EQ(out, whole.bytes) << per;
  }
  // Exactly the right size fits; one byte less does not.
  for (size_t cap : {whole.bytes.size(), whole.bytes.size() - 1}) {
    Bytes out(cap);
    size_t size = cap;
    EXPECT_EQ(TestEncodeChunk(p.words.data(), p.width, p.height, 10, p.stride, out.data(), &size, st),
              cap == whole.bytes.size() ? VLT_OK : VLT_ERR_OVERFLOW);
  }
}

TEST(FaxChunks, InvalidLineCountsAreRefused) {
  State st;
  FaxEncoder* enc = nullptr;
  EXPECT_EQ(startDoc(&enc, 100, 10, 11, st), VLT_ERR_PARAM);
  EXPECT_EQ(startDoc(&enc, 100, 10, -1, st), VLT_ERR_PARAM);
  EXPECT_EQ(enc, nullptr);
  EXPECT_NE(st.reports.find("2: Invalid parameter:  maxNumLines"), std::string::npos);
  ASSERT_EQ(startDoc(&enc, 100, 10, 4, st), VLT_OK);
  // The worst-case chunk fits: four checkerboard lines.
  const Packed p(monotest::make_checkerboard(100, 10, 1));
  const uint8_t* chunk = nullptr;
  size_t bytes = 0;
  EXPECT_EQ(g4EncodeChunk(enc, p.words.data(), 5, p.stride, &chunk, &bytes), VLT_ERR_PARAM);
  EXPECT_EQ(g4EncodeChunk(enc, p.words.data(), -1, p.stride, &chunk, &bytes), VLT_ERR_PARAM);
  EXPECT_NE(st.reports.find("2: Invalid parameter:  numLines"), std::string::npos);
  EXPECT_EQ(g4EncodeChunk(enc, p.words.data(), 4, p.stride, &chunk, &bytes), VLT_OK);
  EXPECT_GT(bytes, 0u);
  uint8_t last[4];
  size_t lastBytes = 9;
  EXPECT_EQ(endDoc(&enc, last, &lastBytes), VLT_OK);
  EXPECT_LE(lastBytes, 4u);
  EXPECT_EQ(enc, nullptr);
}

// ---- memory -----------------------------------------------------------------------------------

TEST(FaxMemory, EveryAllocationFailureIsReportedAndLeaksNothing) {
  CountingAllocator alloc;
  alloc.make_current();
  const VltMemFuncs mem{CountingAllocator::g_malloc, CountingAllocator::g_free,
                        CountingAllocator::g_calloc, CountingAllocator::g_realloc};
  const RefBitmap bm = monotest::make_text_blobs(90, 12, 1u);
  const Packed p(bm);
  Bytes coded;
  {
    State st(&mem);
    coded = g4_encode(p, st, true).bytes;
  }
  using Op = VltStatus (*)(VltState*, const Packed&, const Bytes&);
  const Op ops[] = {
      [](VltState* s, const Packed& p, const Bytes&) { return g4_encode(p, s).status; },
      [](VltState* s, const Packed& p, const Bytes& c) { return decode(-1, c, p.width, p.height, s).status; },
      [](VltState* s, const Packed& p, const Bytes&) {
        Bytes out(4096);
        size_t size = out.size();
        return TestEncodeChunk(p.words.data(), p.width, p.height, 5, p.stride, out.data(), &size, s);
      },
  };
  for (Op op : ops) {
    for (size_t k = 1;; ++k) {
      State st(&mem);
      ASSERT_NE(st.s, nullptr);
      const size_t liveBefore = alloc.live_blocks();
      alloc.fail_at(k);
      const VltStatus s = op(st, p, coded);
      alloc.fail_at(0);
      EXPECT_EQ(alloc.live_blocks(), liveBefore) << "allocation " << k;
      if (s == VLT_OK) break;
      EXPECT_EQ(s, VLT_ERR_NOMEM);
      EXPECT_NE(st.reports.find("1: Unable to allocate memory"), std::string::npos);
    }
  }
  EXPECT_EQ(alloc.live_blocks(), 0u);
  EXPECT_EQ(alloc.foreign(), 0u);
}

}  // namespace
