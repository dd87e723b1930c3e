// Integer decoding (MQ integer procedure and Huffman tables with their range and out-of-band
// lines) and code-table segments: every standard table sent as a code-table segment decodes the
// same values as the built-in table.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "jb2_decode.h"
#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;

// MSB-first bits into bytes.
struct Bits {
  Bytes bytes;
  int used = 8;
  void put(uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      if ((v >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> used);
      ++used;
    }
  }
};

// The MQ integer procedure's coder side: S, the prefix of the value's range, the value bits.
struct IntEncoder {
  MqEncoder enc;
  std::vector<uint8_t> cx = std::vector<uint8_t>(512, 0);
  uint32_t prev = 1;
  void bit(int b) {
    VltEncode_mqeEncode(&enc, &cx[prev], b);
    prev = prev < 256 ? (prev << 1 | static_cast<uint32_t>(b)) : (((prev << 1 | static_cast<uint32_t>(b)) & 511) | 256);
  }
  // Codes S, then prefix ones, the terminating 0 unless five, then bits of the offset value.
  void raw(int s, int prefix, int bits, uint64_t value) {
    prev = 1;
    bit(s);
    for (int i = 0; i < prefix; ++i) bit(1);
    if (prefix < 5) bit(0);
    for (int i = bits - 1; i >= 0; --i) bit(static_cast<int>((value >> i) & 1));
  }
  void value(int64_t v) {
    const uint64_t m = static_cast<uint64_t>(v < 0 ? -v : v);
    const int64_t offsets[] = {0, 4, 20, 84, 340, 4436};
    const int bits[] = {2, 4, 6, 8, 12, 32};
    int p = 5;
    while (p > 0 && static_cast<int64_t>(m) < offsets[p]) --p;
    raw(v < 0, p, bits[p], m - static_cast<uint64_t>(offsets[p]));
  }
};

using IntTest = Jb2ReadTest;

TEST_F(IntTest, MqIntegers) {
  const std::vector<int64_t> values = {0, 1, -1, 3, 4, -4, 19, 20, 83, 84, 339, 340, 4435, 4436, -4436, 100000,
                                       INT32_MAX, -static_cast<int64_t>(INT32_MAX)};
  jb2test::MemoryStream s(state);
  IntEncoder e;
  dsInitVltEncode_MQEncoder(s.sink(), &e.enc);
  for (const int64_t v : values) e.value(v);
  e.raw(1, 0, 2, 0);                   // OOB: S = 1 and value 0
  e.raw(0, 5, 32, 0xFFFFFFFFu);        // beyond 32 bits
  ASSERT_EQ(dsFinalVltEncode_MQEncoder(s.sink(), &e.enc), VLT_OK);
  const Bytes data = s.finish();

  MqDecoder mq;
  VltEncode_mqdInit(&mq, data.data(), static_cast<uint32_t>(data.size()), nullptr, nullptr, state);
  std::vector<uint8_t> cx(DI_MQ_CONTEXTS, 0xAB);
  DiDecoder* d = nullptr;
  ASSERT_EQ(diNewDecoderEither(0, nullptr, nullptr, &mq, cx.data(), state, &d), VLT_OK);
  EXPECT_EQ(cx[7], 0);  // cleared for the MQ kind
  for (const int64_t v : values) {
    int oob = -1;
    int32_t got = 0;
    ASSERT_EQ(diDecode(d, &oob, &got), VLT_OK);
    EXPECT_EQ(oob, 0);
    EXPECT_EQ(got, v);
  }
  int oob = 0;
  int32_t got = 7;
  ASSERT_EQ(diDecode(d, &oob, &got), VLT_OK);
  EXPECT_EQ(oob, 1);
  EXPECT_EQ(diDecode(d, &oob, &got), VLT_ERR_CODEC);
  EXPECT_NE(printed.text.find("integer out of range"), std::string::npos);
  diFreeDecoder(d);
}

// The standard tables in selector order.
const JhtTable* const kStandard[] = {&stdhuffA,  &stdhuffDW1, &stdhuffDW2, &stdhuffDH1, &stdhuffDH2,
                                     &stdhuffFS1, &stdhuffFS2, &stdhuffDS1, &stdhuffDS2, &stdhuffDS3,
                                     &stdhuffDT1, &stdhuffDT2, &stdhuffDT3, &stdhuffRD1, &stdhuffRD2};

struct Special {
  const JhtLine* lower;
  const JhtLine* upper;
  const JhtLine* oob;
  int32_t ordinary;
};

Special special(const JhtTable& t) {
  Special s{};
  s.ordinary = t.lineCount - t.hasLower - t.hasUpper - t.hasOOB;
  const JhtLine* l = t.lines + s.ordinary;
  s.lower = t.hasLower ? l++ : nullptr;
  s.upper = t.hasUpper ? l++ : nullptr;
  s.oob = t.hasOOB ? l : nullptr;
  return s;
}

// The code of a value (or of OOB) in a table.
void put_value(Bits* b, const JhtTable& t, bool oob, int64_t v) {
  const Special s = special(t);
  if (oob) {
    b->put(s.oob->code, s.oob->prefLen);
    return;
  }
  for (int32_t i = 0; i < s.ordinary; ++i) {
    const JhtLine& l = t.lines[i];
    if (v >= l.rangeLow && v < l.rangeLow + (int64_t{1} << l.rangeLen)) {
      b->put(l.code, l.prefLen);
      b->put(static_cast<uint64_t>(v - l.rangeLow), l.rangeLen);
      return;
    }
  }
  if (s.lower != nullptr && v <= s.lower->rangeLow) {
    b->put(s.lower->code, s.lower->prefLen);
    b->put(static_cast<uint64_t>(s.lower->rangeLow - v), 32);
    return;
  }
  ASSERT_NE(s.upper, nullptr);
  b->put(s.upper->code, s.upper->prefLen);
  b->put(static_cast<uint64_t>(v - s.upper->rangeLow), 32);
}

// The table in the layout of a code-table segment's data.
Bytes table_segment_data(const JhtTable& t, int htps, int htrs) {
  const Special s = special(t);
  const int32_t low = t.lines[0].rangeLow;
  const JhtLine& last = t.lines[s.ordinary - 1];
  const int32_t high = s.upper != nullptr ? s.upper->rangeLow : last.rangeLow + (1 << last.rangeLen);
  Bits b;
  b.put(static_cast<uint64_t>(t.hasOOB | (htps - 1) << 1 | (htrs - 1) << 4), 8);
  b.put(static_cast<uint32_t>(low), 32);
  b.put(static_cast<uint32_t>(high), 32);
  for (int32_t i = 0; i < s.ordinary; ++i) {
    b.put(t.lines[i].prefLen, htps);
    b.put(t.lines[i].rangeLen, htrs);
  }
  b.put(s.lower != nullptr ? s.lower->prefLen : 0, htps);
  b.put(s.upper != nullptr ? s.upper->prefLen : 0, htps);
  if (s.oob != nullptr) b.put(s.oob->prefLen, htps);
  return b.bytes;
}

struct TableSegment {
  IntTest* test;
  SegmentInfo seg{};
  VltStatus status;
  TableSegment(IntTest* t, const Bytes& data) : test(t) {
    DataSource src;
    jb2test::memory_source(&src, t->state, data.data(), data.size());
    seg.type = JB2_SEG_TABLES;
    seg.dataLength = static_cast<uint32_t>(data.size());
    status = jb2DecodeHuffTable(t->file, &src, &seg, nullptr);
  }
  ~TableSegment() { jb2FreeHuffTableSegment(&seg, test->state); }
};

// Decodes values written with one table through another.
void decode_through(IntTest* t, const JhtTable& writer, const JhtTable& reader, uint32_t seed) {
  const Special s = special(writer);
  std::mt19937 rng(seed);
  std::vector<std::pair<bool, int64_t>> values;
  for (int i = 0; i < 200; ++i) {
    const JhtLine& l = writer.lines[rng() % static_cast<uint32_t>(writer.lineCount)];
    if (&l == s.oob) {
      values.emplace_back(true, 0);
    } else if (&l == s.lower) {
      values.emplace_back(false, int64_t{l.rangeLow} - rng() % 1000);
    } else if (&l == s.upper) {
      values.emplace_back(false, int64_t{l.rangeLow} + rng() % 100000);
    } else {
      values.emplace_back(false, l.rangeLow + static_cast<int64_t>(rng() % (uint64_t{1} << l.rangeLen)));
    }
  }
  Bits b;
  for (const auto& [oob, v] : values) put_value(&b, writer, oob, v);
  b.put(0, 32);  // room for the reader's look-ahead
  DataSource src;
  jb2test::memory_source(&src, t->state, b.bytes.data(), b.bytes.size());
  JbfFile* bits = nullptr;
  ASSERT_EQ(jbfOpenFromDataSource(&src, &bits), VLT_OK);
  DiDecoder* d = nullptr;
  ASSERT_EQ(diNewDecoderEither(1, &reader, bits, nullptr, nullptr, t->state, &d), VLT_OK);
  for (const auto& [oob, v] : values) {
    int gotOob = -1;
    int32_t got = 0;
    ASSERT_EQ(diDecode(d, &gotOob, &got), VLT_OK);
    ASSERT_EQ(gotOob, oob ? 1 : 0);
    if (!oob) {
      ASSERT_EQ(got, v);
    }
  }
  diFreeDecoder(d);
  jbfClose(bits);
}

TEST_F(IntTest, EveryStandardTableDecodesItsValues) {
  for (size_t i = 0; i < std::size(kStandard); ++i) {
    SCOPED_TRACE("B." + std::to_string(i + 1));
    decode_through(this, *kStandard[i], *kStandard[i], static_cast<uint32_t>(i));
  }
}

TEST_F(IntTest, StandardTablesSentAsCodeTableSegmentsDecodeTheSame) {
  for (size_t i = 0; i < std::size(kStandard); ++i) {
    SCOPED_TRACE("B." + std::to_string(i + 1));
    const JhtTable& t = *kStandard[i];
    TableSegment user(this, table_segment_data(t, 5, 5));
    ASSERT_EQ(user.status, VLT_OK) << printed.text;
    const JhtTable& u = user.seg.body.codeTable;
    ASSERT_EQ(u.lineCount, t.lineCount);
    EXPECT_EQ(u.hasLower, t.hasLower);
    EXPECT_EQ(u.hasUpper, t.hasUpper);
    EXPECT_EQ(u.hasOOB, t.hasOOB);
    for (int32_t k = 0; k < t.lineCount; ++k) {
      EXPECT_EQ(u.lines[k].rangeLow, t.lines[k].rangeLow) << k;
      EXPECT_EQ(u.lines[k].code, t.lines[k].code) << k;
    }
    decode_through(this, t, u, static_cast<uint32_t>(i) + 100);
  }
}

TEST_F(IntTest, CodeTableSegmentCases) {
  auto head = [](uint8_t flags, int32_t low, int32_t high) {
    Bits b;
    b.put(flags, 8);
    b.put(static_cast<uint32_t>(low), 32);
    b.put(static_cast<uint32_t>(high), 32);
    return b;
  };
  {
    // No ordinary lines; a lower range line of length 2 and an upper one of length 1; OOB with
    // a prefix length of 0 still gets its line.
    Bits b = head(0x01 | 2 << 1, 10, 10);  // HTOOB, HTPS 3, HTRS 1
    b.put(2, 3);
    b.put(1, 3);
    b.put(0, 3);
    TableSegment t(this, b.bytes);
    ASSERT_EQ(t.status, VLT_OK) << printed.text;
    const JhtTable& u = t.seg.body.codeTable;
    EXPECT_EQ(u.lineCount, 3);
    EXPECT_EQ(u.hasLower + u.hasUpper + u.hasOOB, 3);
    EXPECT_EQ(u.lines[0].rangeLow, 9);
    EXPECT_EQ(u.lines[1].rangeLow, 10);
    EXPECT_EQ(u.lines[2].prefLen, 0);
    // The lower range line with R = 5 gives 9 - 5 = 4; the upper one with R = 3 gives 13.
    Bits v;
    v.put(u.lines[0].code, 2);
    v.put(5, 32);
    v.put(u.lines[1].code, 1);
    v.put(3, 32);
    v.put(0, 32);
    DataSource src;
    jb2test::memory_source(&src, state, v.bytes.data(), v.bytes.size());
    JbfFile* bits = nullptr;
    ASSERT_EQ(jbfOpenFromDataSource(&src, &bits), VLT_OK);
    DiDecoder* d = nullptr;
    ASSERT_EQ(diNewDecoder(&u, bits, state, &d), VLT_OK);
    int oob = 0;
    int32_t got = 0;
    ASSERT_EQ(diDecode(d, &oob, &got), VLT_OK);
    EXPECT_EQ(got, 4);
    ASSERT_EQ(diDecode(d, &oob, &got), VLT_OK);
    EXPECT_EQ(got, 13);
    diFreeDecoder(d);
    jbfClose(bits);
  }
  {
    // A lower range prefix length of 0: no lower range line.
    Bits b = head(2 << 1, 0, 4);
    b.put(1, 3);
    b.put(1, 1);  // one line 0..1
    b.put(2, 3);
    b.put(0, 1);  // one line 2
    b.put(2, 3);
    b.put(0, 1);  // one line 3
    b.put(0, 3);
    b.put(0, 3);
    TableSegment t(this, b.bytes);
    ASSERT_EQ(t.status, VLT_OK);
    EXPECT_EQ(t.seg.body.codeTable.lineCount, 3);
    EXPECT_EQ(t.seg.body.codeTable.hasLower + t.seg.body.codeTable.hasUpper, 0);
  }
  struct Bad {
    const char* name;
    Bytes data;
    VltStatus status;
    const char* message;
  };
  Bits prefix32 = head(5 << 1, 0, 4);  // HTPS 6 can say 32
  prefix32.put(32, 6);
  prefix32.put(2, 1);
  Bits range32 = head(5 << 4, 0, 4);   // HTRS 6 can say 32
  range32.put(1, 1);
  range32.put(32, 6);
  Bits lengths = head(0, 0, 4);        // four codes of length 1
  for (int i = 0; i < 4; ++i) lengths.put(2, 2);
  lengths.put(0, 2);
  Bits lowest = head(0, INT32_MIN, INT32_MIN);
  lowest.put(1, 1);
  lowest.put(0, 1);
  lowest.put(0, 8);
  const Bad bad[] = {
      {"prefix over 31", prefix32.bytes, VLT_ERR_CODEC, "prefix longer than 31 bits"},
      {"range over 31", range32.bytes, VLT_ERR_CODEC, "range longer than 31 bits"},
      {"no prefix code", lengths.bytes, VLT_ERR_PARAM, nullptr},
      {"lower range below 32 bits", lowest.bytes, VLT_ERR_CODEC, "lower range"},
      {"short head", Bytes{0, 0, 0, 0, 0, 0, 0, 1}, VLT_ERR_IO_LENGTH, nullptr},
      {"short lines", head(0, 0, 1000).bytes, VLT_ERR_IO_LENGTH, nullptr},
  };
  for (const Bad& c : bad) {
    SCOPED_TRACE(c.name);
    printed = {};
    TableSegment t(this, c.data);
    EXPECT_EQ(t.status, c.status) << printed.text;
    if (c.message != nullptr) {
      EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    }
    EXPECT_EQ(t.seg.body.codeTable.lines, nullptr);
  }
}

TEST_F(IntTest, CodeTableAllocationFailuresLeaveNothing) {
  const Bytes data = table_segment_data(stdhuffDS1, 4, 4);
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    VltStatus st;
    {
      TableSegment t(this, data);
      st = t.status;
    }
    alloc.fail_at(0);
    EXPECT_EQ(alloc.live_blocks(), baseline + 1) << k;
    if (st == VLT_OK) break;
    EXPECT_EQ(st, VLT_ERR_NOMEM) << k;
  }
  alloc.fail_at(1);
  DiDecoder* d = reinterpret_cast<DiDecoder*>(1);
  EXPECT_EQ(diNewDecoder(&stdhuffA, nullptr, state, &d), VLT_ERR_NOMEM);
  EXPECT_EQ(d, nullptr);
}

}  // namespace
