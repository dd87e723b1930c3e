// Integer encoders: Huffman codes bit for bit over the standard tables, the requests a table
// cannot code, counting, and IAx coding read back by the reference MQ decoder with the decoding
// procedure written out here.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_intcode.h"
#include "jb2_test_stream.h"
#include "mq_reference.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;

std::string bit_string(const Bytes& b, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && i / 8 < b.size(); ++i) s += static_cast<char>('0' + ((b[i / 8] >> (7 - i % 8)) & 1));
  return s;
}

std::string zeros(size_t n) { return std::string(n, '0'); }

// n in binary, width bits.
std::string bin(uint64_t n, int width) {
  std::string s;
  for (int b = width - 1; b >= 0; --b) s += static_cast<char>('0' + ((n >> b) & 1));
  return s;
}

struct IntCodeTest : Jb2Test {
  // Codes the requests with a Huffman encoder over the table and returns the bits written, or
  // the first failing status.
  VltStatus huffman(const JhtTable* table, const std::vector<std::pair<int32_t, int>>& requests, std::string* bits,
                    size_t* bitCount = nullptr) {
    MemoryStream s(state);
    JbfFile* f = nullptr;
    jb2test::check(jbfOpenFromDataSink(s.sink(), &f), "open");
    EiEncoder* e = nullptr;
    jb2test::check(eiNewEncoder(table, f, state, &e), "eiNewEncoder");
    VltStatus st = VLT_OK;
    size_t written = 0;
    for (const auto& [v, oob] : requests) {
      st = eiEncode(e, v, oob);
      if (st != VLT_OK) break;
    }
    written = f->count * 8 + static_cast<size_t>(32 - f->bits);
    eiFreeEncoder(e);
    jb2test::check(jbfCloseFromDataSink(f), "close");
    const Bytes b = s.finish();
    *bits = bit_string(b, written);
    if (bitCount != nullptr) *bitCount = written;
    return st;
  }
};

TEST_F(IntCodeTest, HuffmanCodesFollowTheTableLines) {
  struct Case {
    const char* name;
    const JhtTable* table;
    int32_t value;
    int oob;
    std::string bits;
  };
  const Case cases[] = {
      {"B.1 first line", &stdhuffA, 0, 0, std::string("0") + zeros(4)},
      {"B.1 second line", &stdhuffA, 16, 0, std::string("10") + zeros(8)},
      {"B.1 third line, top", &stdhuffA, 65807, 0, std::string("110") + bin(65535, 16)},
      {"B.1 upper range", &stdhuffA, 65808, 0, std::string("111") + zeros(32)},
      {"B.1 upper range, far", &stdhuffA, INT32_MAX, 0, std::string("111") + bin(uint64_t{INT32_MAX} - 65808, 32)},
      {"B.2 no range bits", &stdhuffDW1, 2, 0, "110"},
      {"B.2 last ordinary value", &stdhuffDW1, 74, 0, std::string("11110") + bin(63, 6)},
      {"B.2 out of band", &stdhuffDW1, 12345, 1, "111111"},
      {"B.3 lower range", &stdhuffDW2, -300, 0, std::string("11111111") + bin(43, 32)},
      {"B.3 lowest ordinary value", &stdhuffDW2, -256, 0, std::string("11111110") + zeros(8)},
      {"B.8 negative ordinary value", &stdhuffDS1, -1, 0, "1010"},
      {"extended B.13 steps back", &stdhuffDT3_neg, -5, 0, std::string("01") + bin(5, 32)},
      {"extended B.13 value 1", &stdhuffDT3_neg, 1, 0, "00"},
  };
  for (const Case& c : cases) {
    std::string bits;
    EXPECT_EQ(huffman(c.table, {{c.value, c.oob}}, &bits), VLT_OK) << c.name;
    EXPECT_EQ(bits, c.bits) << c.name;
  }
}

// A request without a line writes nothing: outside the table without the range line, out of
// band without the line, and a line that tuning left without a code.
TEST_F(IntCodeTest, RequestsTheTableCannotCodeWriteNothing) {
  std::vector<JhtLine> lines(stdhuffDW1.lines, stdhuffDW1.lines + stdhuffDW1.lineCount);
  lines[3].prefLen = 0;  // 3..10 never counted
  JhtTable unused = stdhuffDW1;
  unused.lines = lines.data();
  struct Case {
    const char* name;
    const JhtTable* table;
    int32_t value;
    int oob;
  };
  const Case cases[] = {
      {"below B.2", &stdhuffDW1, -1, 0},
      {"below B.4", &stdhuffDH1, 0, 0},
      {"out of band in B.1", &stdhuffA, 0, 1},
      {"line without a prefix", &unused, 5, 0},
  };
  for (const Case& c : cases) {
    std::string bits;
    size_t n = 99;
    EXPECT_EQ(huffman(c.table, {{1, 0}, {c.value, c.oob}}, &bits, &n), VLT_ERR_ASSERT) << c.name;
    EXPECT_EQ(n, c.table == &stdhuffDH1 ? 1u : c.table == &stdhuffA ? 5u : 2u) << c.name << ": only the first value";
  }
  EXPECT_TRUE(printed.codes.empty());
}

TEST_F(IntCodeTest, CountingAddsToTheLineThatWouldCode) {
  struct Case {
    const JhtTable* table;
    int32_t value;
    int oob;
    int line;
  };
  const Case cases[] = {
      {&stdhuffDW1, 5, 0, 3}, {&stdhuffDW1, 0, 1, 6},     {&stdhuffDW1, 75, 0, 5}, {&stdhuffDW2, -300, 0, 6},
      {&stdhuffDW2, 9999, 0, 7}, {&stdhuffA, 70000, 0, 3}, {&stdhuffDT3_neg, -2, 0, 12},
  };
  for (const Case& c : cases) {
    EiEncoder* e = nullptr;
    ASSERT_EQ(eiNewEncoder(c.table, nullptr, state, &e), VLT_OK);
    std::vector<uint32_t> counts(static_cast<size_t>(c.table->lineCount), 0);
    eiCount(e, c.value, c.oob, counts.data());
    eiCount(e, c.value, c.oob, counts.data());
    std::vector<uint32_t> want(counts.size(), 0);
    want[static_cast<size_t>(c.line)] = 2;
    EXPECT_EQ(counts, want) << "value " << c.value;
    eiFreeEncoder(e);
  }
}

// The IAx decoding procedure, written from the standard for this test.
struct IaxReader {
  monotest::MqRefDecoder dec;
  uint32_t prev = 1;
  IaxReader(const Bytes& b) : dec(b.data(), b.size(), 512) {}
  int bit() {
    const int d = dec.decode(prev);
    prev = prev < 256 ? (prev << 1 | static_cast<uint32_t>(d)) : (((prev << 1 | static_cast<uint32_t>(d)) & 511) | 256);
    return d;
  }
  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | static_cast<uint32_t>(bit());
    return v;
  }
  // false for out of band.
  bool read(int64_t* value) {
    prev = 1;
    const int s = bit();
    int64_t v;
    if (!bit())
      v = bits(2);
    else if (!bit())
      v = bits(4) + 4;
    else if (!bit())
      v = bits(6) + 20;
    else if (!bit())
      v = bits(8) + 84;
    else if (!bit())
      v = bits(12) + 340;
    else
      v = int64_t{bits(32)} + 4436;
    if (s && v == 0) return false;
    *value = s ? -v : v;
    return true;
  }
};

TEST_F(IntCodeTest, IaxValuesReadBackThroughTheReferenceDecoder) {
  const std::vector<int64_t> values = {0,    1,    3,     4,     19,    20,    83,      84,     339,
                                       340,  4435, 4436,  -1,    -3,    -4,    -4435,   -4436,  INT32_MAX,
                                       -INT32_MAX, 100000, 7, 7, 7, 7, 7, 7, 7, 7};
  MemoryStream s(state);
  MqEncoder mq{};
  dsInitVltEncode_MQEncoder(s.sink(), &mq);
  std::vector<uint8_t> contexts(EI_MQ_CONTEXTS, 0xAB);
  EiEncoder* e = nullptr;
  ASSERT_EQ(eiNewEncoderEither(0, nullptr, nullptr, &mq, contexts.data(), state, &e), VLT_OK);
  for (int64_t v : values) ASSERT_EQ(eiEncode(e, static_cast<int32_t>(v), 0), VLT_OK);
  ASSERT_EQ(eiEncode(e, 12345, 1), VLT_OK);
  ASSERT_EQ(eiEncode(e, 5, 0), VLT_OK);
  eiFreeEncoder(e);
  ASSERT_EQ(dsFinalVltEncode_MQEncoder(s.sink(), &mq), VLT_OK);
  const Bytes b = s.finish();
  IaxReader r(b);
  for (int64_t want : values) {
    int64_t got = 0;
    ASSERT_TRUE(r.read(&got));
    EXPECT_EQ(got, want);
  }
  int64_t got = 0;
  EXPECT_FALSE(r.read(&got)) << "out of band";
  ASSERT_TRUE(r.read(&got));
  EXPECT_EQ(got, 5);
}

// The standard's decisions for the smallest values: sign, a one-bit prefix, two value bits,
// each in the context PREV names.
TEST_F(IntCodeTest, IaxDecisionsOfSmallValues) {
  for (const auto& [value, decisions] :
       std::vector<std::pair<int32_t, std::vector<int>>>{{0, {0, 0, 0, 0}}, {-1, {1, 0, 0, 1}}, {2, {0, 0, 1, 0}}}) {
    MemoryStream s(state);
    MqEncoder mq{};
    dsInitVltEncode_MQEncoder(s.sink(), &mq);
    std::vector<uint8_t> contexts(EI_MQ_CONTEXTS, 0);
    EiEncoder* e = nullptr;
    ASSERT_EQ(eiNewEncoderMQ(&mq, contexts.data(), state, &e), VLT_OK);
    ASSERT_EQ(eiEncode(e, value, 0), VLT_OK);
    eiFreeEncoder(e);
    ASSERT_EQ(dsFinalVltEncode_MQEncoder(s.sink(), &mq), VLT_OK);
    // Exactly four contexts were used: 1, then PREV after each decision.
    uint32_t prev = 1;
    std::vector<uint32_t> used;
    for (int d : decisions) {
      used.push_back(prev);
      prev = prev << 1 | static_cast<uint32_t>(d);
    }
    for (uint32_t cx = 0; cx < EI_MQ_CONTEXTS; ++cx)
      EXPECT_EQ(contexts[cx] != 0, std::find(used.begin(), used.end(), cx) != used.end()) << "context " << cx;
    const Bytes b = s.finish();
    monotest::MqRefDecoder dec(b.data(), b.size(), 512);
    for (size_t i = 0; i < decisions.size(); ++i) EXPECT_EQ(dec.decode(used[i]), decisions[i]) << "value " << value;
  }
}

TEST_F(IntCodeTest, CreationWithoutMemoryLeavesNothing) {
  for (size_t k = 1; k <= 2; ++k) {
    alloc.fail_at(k);
    EiEncoder* e = reinterpret_cast<EiEncoder*>(&k);
    EXPECT_EQ(eiNewEncoder(&stdhuffDS2, nullptr, state, &e), VLT_ERR_NOMEM);
    EXPECT_EQ(e, nullptr);
  }
  alloc.fail_at(1);
  EiEncoder* e = nullptr;
  uint8_t cx[EI_MQ_CONTEXTS];
  EXPECT_EQ(eiNewEncoderMQ(nullptr, cx, state, &e), VLT_ERR_NOMEM);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(printed.codes, (std::vector<int32_t>{1, 1, 1}));
}

}  // namespace
