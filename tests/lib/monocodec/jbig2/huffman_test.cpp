// Huffman tables: the standard tables line by line as the standard prints them (codes included),
// canonical code assignment and its refusals, the compiled lookup through its 8-bit steps, and a
// round trip of every range edge of every standard table through the bit writer and reader.

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "jb2_bitfile.h"
#include "jb2_fixture.h"
#include "jb2_huffman.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;
using jb2test::WindowSource;

enum Kind : char { N = 'n', LOW = 'l', UP = 'u', OOB = 'o' };

struct Line {
  int32_t low;  // the printed range start; for a lower range line the value it counts down from
  int pref;
  int range;
  const char* code;
  Kind kind = N;
};

struct StdCase {
  const char* name;
  const JhtTable* table;
  std::vector<Line> lines;
};

// The tables as the standard prints them, in our line order (ordinary lines by value, then lower,
// upper and out-of-band).
const std::vector<StdCase>& standard_tables() {
  static const std::vector<StdCase> cases = {
      {"B.1", &stdhuffA,
       {{0, 1, 4, "0"}, {16, 2, 8, "10"}, {272, 3, 16, "110"}, {65808, 3, 32, "111", UP}}},
      {"B.2", &stdhuffDW1,
       {{0, 1, 0, "0"}, {1, 2, 0, "10"}, {2, 3, 0, "110"}, {3, 4, 3, "1110"}, {11, 5, 6, "11110"},
        {75, 6, 32, "111110", UP}, {0, 6, 0, "111111", OOB}}},
      {"B.3", &stdhuffDW2,
       {{-256, 8, 8, "11111110"}, {0, 1, 0, "0"}, {1, 2, 0, "10"}, {2, 3, 0, "110"},
        {3, 4, 3, "1110"}, {11, 5, 6, "11110"}, {-257, 8, 32, "11111111", LOW},
        {75, 7, 32, "1111110", UP}, {0, 6, 0, "111110", OOB}}},
      {"B.4", &stdhuffDH1,
       {{1, 1, 0, "0"}, {2, 2, 0, "10"}, {3, 3, 0, "110"}, {4, 4, 3, "1110"}, {12, 5, 6, "11110"},
        {76, 5, 32, "11111", UP}}},
      {"B.5", &stdhuffDH2,
       {{-255, 7, 8, "1111110"}, {1, 1, 0, "0"}, {2, 2, 0, "10"}, {3, 3, 0, "110"},
        {4, 4, 3, "1110"}, {12, 5, 6, "11110"}, {-256, 7, 32, "1111111", LOW},
        {76, 6, 32, "111110", UP}}},
      {"B.6", &stdhuffFS1,
       {{-2048, 5, 10, "11100"}, {-1024, 4, 9, "1000"}, {-512, 4, 8, "1001"}, {-256, 4, 7, "1010"},
        {-128, 5, 6, "11101"}, {-64, 5, 5, "11110"}, {-32, 4, 5, "1011"}, {0, 2, 7, "00"},
        {128, 3, 7, "010"}, {256, 3, 8, "011"}, {512, 4, 9, "1100"}, {1024, 4, 10, "1101"},
        {-2049, 6, 32, "111110", LOW}, {2048, 6, 32, "111111", UP}}},
      {"B.7", &stdhuffFS2,
       {{-1024, 4, 9, "1000"}, {-512, 3, 8, "000"}, {-256, 4, 7, "1001"}, {-128, 5, 6, "11010"},
        {-64, 5, 5, "11011"}, {-32, 4, 5, "1010"}, {0, 4, 5, "1011"}, {32, 5, 5, "11100"},
        {64, 5, 6, "11101"}, {128, 4, 7, "1100"}, {256, 3, 8, "001"}, {512, 3, 9, "010"},
        {1024, 3, 10, "011"}, {-1025, 5, 32, "11110", LOW}, {2048, 5, 32, "11111", UP}}},
      {"B.8", &stdhuffDS1,
       {{-15, 8, 3, "11111100"}, {-7, 9, 1, "111111100"}, {-5, 8, 1, "11111101"},
        {-3, 9, 0, "111111101"}, {-2, 7, 0, "1111100"}, {-1, 4, 0, "1010"}, {0, 2, 1, "00"},
        {2, 5, 0, "11010"}, {3, 6, 0, "111010"}, {4, 3, 4, "100"}, {20, 6, 1, "111011"},
        {22, 4, 4, "1011"}, {38, 4, 5, "1100"}, {70, 5, 6, "11011"}, {134, 5, 7, "11100"},
        {262, 6, 7, "111100"}, {390, 7, 8, "1111101"}, {646, 6, 10, "111101"},
        {-16, 9, 32, "111111110", LOW}, {1670, 9, 32, "111111111", UP}, {0, 2, 0, "01", OOB}}},
      {"B.9", &stdhuffDS2,
       {{-31, 8, 4, "11111100"}, {-15, 9, 2, "111111100"}, {-11, 8, 2, "11111101"},
        {-7, 9, 1, "111111101"}, {-5, 7, 1, "1111100"}, {-3, 4, 1, "1010"}, {-1, 3, 1, "010"},
        {1, 3, 1, "011"}, {3, 5, 1, "11010"}, {5, 6, 1, "111010"}, {7, 3, 5, "100"},
        {39, 6, 2, "111011"}, {43, 4, 5, "1011"}, {75, 4, 6, "1100"}, {139, 5, 7, "11011"},
        {267, 5, 8, "11100"}, {523, 6, 8, "111100"}, {779, 7, 9, "1111101"},
        {1291, 6, 11, "111101"}, {-32, 9, 32, "111111110", LOW}, {3339, 9, 32, "111111111", UP},
        {0, 2, 0, "00", OOB}}},
      {"B.10", &stdhuffDS3,
       {{-21, 7, 4, "1111010"}, {-5, 8, 0, "11111100"}, {-4, 7, 0, "1111011"}, {-3, 5, 0, "11000"},
        {-2, 2, 2, "00"}, {2, 5, 0, "11001"}, {3, 6, 0, "110110"}, {4, 7, 0, "1111100"},
        {5, 8, 0, "11111101"}, {6, 2, 6, "01"}, {70, 5, 5, "11010"}, {102, 6, 5, "110111"},
        {134, 6, 6, "111000"}, {198, 6, 7, "111001"}, {326, 6, 8, "111010"}, {582, 6, 9, "111011"},
        {1094, 6, 10, "111100"}, {2118, 7, 11, "1111101"}, {-22, 8, 32, "11111110", LOW},
        {4166, 8, 32, "11111111", UP}, {0, 2, 0, "10", OOB}}},
      {"B.11", &stdhuffDT1,
       {{1, 1, 0, "0"}, {2, 2, 1, "10"}, {4, 4, 0, "1100"}, {5, 4, 1, "1101"}, {7, 5, 1, "11100"},
        {9, 5, 2, "11101"}, {13, 6, 2, "111100"}, {17, 7, 2, "1111010"}, {21, 7, 3, "1111011"},
        {29, 7, 4, "1111100"}, {45, 7, 5, "1111101"}, {77, 7, 6, "1111110"},
        {141, 7, 32, "1111111", UP}}},
      {"B.12", &stdhuffDT2,
       {{1, 1, 0, "0"}, {2, 2, 0, "10"}, {3, 3, 1, "110"}, {5, 5, 0, "11100"}, {6, 5, 1, "11101"},
        {8, 6, 1, "111100"}, {10, 7, 0, "1111010"}, {11, 7, 1, "1111011"}, {13, 7, 2, "1111100"},
        {17, 7, 3, "1111101"}, {25, 7, 4, "1111110"}, {41, 8, 5, "11111110"},
        {73, 8, 32, "11111111", UP}}},
      {"B.13", &stdhuffDT3,
       {{1, 1, 0, "0"}, {2, 3, 0, "100"}, {3, 4, 0, "1100"}, {4, 5, 0, "11100"}, {5, 4, 1, "1101"},
        {7, 3, 3, "101"}, {15, 6, 1, "111010"}, {17, 6, 2, "111011"}, {21, 6, 3, "111100"},
        {29, 6, 4, "111101"}, {45, 6, 5, "111110"}, {77, 7, 6, "1111110"},
        {141, 7, 32, "1111111", UP}}},
      {"B.13 with steps back", &stdhuffDT3_neg,
       {{1, 2, 0, "00"}, {2, 3, 0, "100"}, {3, 4, 0, "1100"}, {4, 5, 0, "11100"}, {5, 4, 1, "1101"},
        {7, 3, 3, "101"}, {15, 6, 1, "111010"}, {17, 6, 2, "111011"}, {21, 6, 3, "111100"},
        {29, 6, 4, "111101"}, {45, 6, 5, "111110"}, {77, 7, 6, "1111110"}, {0, 2, 32, "01", LOW},
        {141, 7, 32, "1111111", UP}}},
      {"B.14", &stdhuffRD1,
       {{-2, 3, 0, "100"}, {-1, 3, 0, "101"}, {0, 1, 0, "0"}, {1, 3, 0, "110"}, {2, 3, 0, "111"}}},
      {"B.15", &stdhuffRD2,
       {{-24, 7, 4, "1111100"}, {-8, 6, 2, "111100"}, {-4, 5, 1, "11100"}, {-2, 4, 0, "1100"},
        {-1, 3, 0, "100"}, {0, 1, 0, "0"}, {1, 3, 0, "101"}, {2, 4, 0, "1101"}, {3, 5, 1, "11101"},
        {5, 6, 2, "111101"}, {9, 7, 4, "1111101"}, {-25, 7, 32, "1111110", LOW},
        {25, 7, 32, "1111111", UP}}},
  };
  return cases;
}

uint32_t code_value(const char* bits) {
  uint32_t v = 0;
  for (const char* p = bits; *p; ++p) v = v << 1 | static_cast<uint32_t>(*p - '0');
  return v;
}

// Bytes of a bit string written most significant bit first, padded with 1-bits (which never
// complete a code by themselves in these tests).
Bytes pack_bits(const std::string& bits, char pad = '1') {
  std::string b = bits;
  while (b.size() % 8 != 0 || b.size() < 8) b += pad;
  Bytes out;
  for (size_t i = 0; i < b.size(); i += 8)
    out.push_back(static_cast<uint8_t>(code_value(b.substr(i, 8).c_str())));
  return out;
}

struct HuffmanTest : Jb2Test {
  // Reads one code from the bytes through a reader over windows of the given sizes.
  VltStatus read_code(const JhtTable* t, const Bytes& bytes, void** value, uint32_t window = 4096) {
    WindowSource w(state, bytes, {window});
    JbfFile* f = nullptr;
    VltStatus st = jbfOpenFromDataSource(&w.source, &f);
    if (st != VLT_OK) return st;
    st = jhtReadCode(t, f, state, value);
    jbfClose(f);
    return st;
  }
};

TEST_F(HuffmanTest, StandardTablesMatchThePrintedTablesLineByLine) {
  for (const StdCase& c : standard_tables()) {
    SCOPED_TRACE(c.name);
    const JhtTable& t = *c.table;
    ASSERT_EQ(t.lineCount, static_cast<int32_t>(c.lines.size()));
    bool lower = false, upper = false, oob = false;
    int minLen = 99;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      SCOPED_TRACE("line " + std::to_string(i));
      const Line& e = c.lines[i];
      const JhtLine& l = t.lines[i];
      EXPECT_EQ(l.prefLen, e.pref);
      EXPECT_EQ(l.rangeLen, e.range);
      EXPECT_EQ(l.rangeLow, e.low);
      EXPECT_EQ(l.code, code_value(e.code));
      EXPECT_EQ(static_cast<int>(std::string(e.code).size()), e.pref);
      EXPECT_EQ(l.flags[0] | l.flags[1], 0);
      lower |= e.kind == LOW;
      upper |= e.kind == UP;
      oob |= e.kind == OOB;
      minLen = std::min(minLen, e.pref);
      // Ordinary lines follow each other without a gap.
      if (i > 0 && e.kind == N && c.lines[i - 1].kind == N) {
        EXPECT_EQ(static_cast<int64_t>(c.lines[i - 1].low) + (int64_t{1} << c.lines[i - 1].range),
                  e.low);
      }
      // The lookup hands back the line itself for its code, whatever follows the code.
      void* v = nullptr;
      for (char pad : {'0', '1'}) {
        ASSERT_EQ(read_code(&t, pack_bits(std::string(e.code) + std::string(9, pad)), &v), VLT_OK);
        EXPECT_EQ(v, &t.lines[i]);
      }
    }
    EXPECT_EQ(t.hasLower, lower);
    EXPECT_EQ(t.hasUpper, upper);
    EXPECT_EQ(t.hasOOB, oob);
    EXPECT_EQ(t.minLength, minLen);
    EXPECT_EQ(t.compiled, 1);
  }
  EXPECT_EQ(dhtables[0], &stdhuffDH1);
  EXPECT_EQ(dwtables[1], &stdhuffDW2);
  EXPECT_EQ(fstables[1], &stdhuffFS2);
  EXPECT_EQ(dstables[2], &stdhuffDS3);
  EXPECT_EQ(dttables[3], &stdhuffDT3_neg);
}

// A run-time table over caller lines, with codes assigned and compiled to line indices.
struct OwnTable {
  JhtTable t{};
  std::vector<JhtLine> lines;
  explicit OwnTable(std::vector<int> prefs) {
    for (int p : prefs) lines.push_back(JhtLine{0xDEAD, 0, static_cast<uint8_t>(p), 0, {0, 0}});
    t.lineCount = static_cast<int32_t>(lines.size());
    t.lines = lines.data();
  }
};

TEST_F(HuffmanTest, CanonicalCodesAndTheirRefusals) {
  {
    OwnTable o({3, 2, 0, 3, 2, 3, 5});
    ASSERT_EQ(jhtSetCodes(&o.t, state), VLT_OK);
    const uint32_t expected[] = {4, 0, 0, 5, 1, 6, 28};
    for (size_t i = 0; i < o.lines.size(); ++i) EXPECT_EQ(o.lines[i].code, expected[i]) << i;
    EXPECT_EQ(o.t.minLength, 2);
    EXPECT_EQ(o.t.compiled, 0);
  }
  {
    OwnTable o({0, 0});
    ASSERT_EQ(jhtSetCodes(&o.t, state), VLT_OK);
    EXPECT_EQ(o.t.minLength, 31);
  }
  // Too many codes for their lengths, and a length beyond what the tables hold: refused before
  // any code is assigned.
  for (const std::vector<int>& prefs :
       {std::vector<int>{1, 1, 2}, {1, 1, 1}, {2, 2, 2, 2, 3}, {3, 32}, {40}}) {
    OwnTable o(prefs);
    printed.codes.clear();
    EXPECT_EQ(jhtSetCodes(&o.t, state), VLT_ERR_PARAM);
    EXPECT_EQ(printed.codes, std::vector<int32_t>{VLT_ERR_PARAM});
    for (const JhtLine& l : o.lines) EXPECT_EQ(l.code, 0xDEADu);
  }
  // A length of 31 is the longest a table holds.
  OwnTable o({1, 31});
  EXPECT_EQ(jhtSetCodes(&o.t, state), VLT_OK);
  EXPECT_EQ(o.lines[1].code, 0x40000000u);
}

TEST_F(HuffmanTest, CompiledLookupFindsCodesOfEveryLength) {
  // Lengths 1 .. 31, one code each: codes 0, 10, 110, ..., 1...10 and 1...11 at the end. Codes
  // ending 3 bits after a whole step of 8, exactly 8 bits later, and beyond 30 bits are all met.
  std::vector<int> prefs;
  for (int len = 1; len <= 31; ++len) prefs.push_back(len);
  prefs.push_back(31);
  OwnTable o(prefs);
  ASSERT_EQ(jhtSetCodes(&o.t, state), VLT_OK);
  std::vector<void*> values;
  for (size_t i = 0; i < prefs.size(); ++i) values.push_back(reinterpret_cast<void*>(i + 100));
  ASSERT_EQ(jhtCompile(&o.t, values.data(), state), VLT_OK);
  for (size_t i = 0; i < prefs.size(); ++i) {
    std::string code(static_cast<size_t>(prefs[i]), '1');
    if (i + 1 < prefs.size()) code.back() = '0';
    for (uint32_t window : {4096u, 1u, 3u}) {
      void* v = nullptr;
      ASSERT_EQ(read_code(&o.t, pack_bits(code + "0101", '0'), &v, window), VLT_OK) << i;
      EXPECT_EQ(v, values[i]) << "line " << i << " window " << window;
    }
  }
  jhtCleanup(&o.t, state);
  EXPECT_EQ(o.t.compiled, 0);
}

TEST_F(HuffmanTest, BitsThatMatchNoCodeFailWithoutAValue) {
  // Codes 0 and 10 only: a run of 1-bits never completes one.
  OwnTable o({1, 2});
  ASSERT_EQ(jhtSetCodes(&o.t, state), VLT_OK);
  void* values[] = {&o.lines[0], &o.lines[1]};
  ASSERT_EQ(jhtCompile(&o.t, values, state), VLT_OK);
  void* v = &o;
  EXPECT_EQ(read_code(&o.t, Bytes(8, 0xFF), &v), VLT_ERR_CODEC);
  EXPECT_EQ(v, &o);
  EXPECT_EQ(printed.codes.back(), VLT_ERR_CODEC);
  // The data running out first is the reader's failure.
  EXPECT_EQ(read_code(&o.t, Bytes(2, 0xFF), &v), VLT_ERR_IO_LENGTH);
  jhtCleanup(&o.t, state);

  OwnTable none({0, 0});
  ASSERT_EQ(jhtSetCodes(&none.t, state), VLT_OK);
  ASSERT_EQ(jhtCompile(&none.t, values, state), VLT_OK);
  EXPECT_EQ(read_code(&none.t, Bytes(8, 0), &v), VLT_ERR_CODEC);
  EXPECT_EQ(v, &o);
  jhtCleanup(&none.t, state);
}

TEST_F(HuffmanTest, CompileAndFreeReleaseWhatTheyMade) {
  OwnTable o({2, 2, 2});
  ASSERT_EQ(jhtSetCodes(&o.t, state), VLT_OK);
  void* values[] = {nullptr, nullptr, nullptr};
  alloc.fail_at(1);
  EXPECT_EQ(jhtCompile(&o.t, values, state), VLT_ERR_NOMEM);
  EXPECT_EQ(o.t.compiled, 0);
  ASSERT_EQ(jhtCompile(&o.t, values, state), VLT_OK);
  EXPECT_EQ(jhtCompile(&o.t, values, state), VLT_OK);  // already compiled: nothing new
  jhtCleanup(&o.t, state);

  // A table made entirely at run time goes with jhtFree.
  auto* t = static_cast<JhtTable*>(state->calloc(1, sizeof(JhtTable)));
  auto* lines = static_cast<JhtLine*>(state->calloc(2, sizeof(JhtLine)));
  lines[0].prefLen = lines[1].prefLen = 1;
  t->lines = lines;
  t->lineCount = 2;
  ASSERT_EQ(jhtSetCodes(t, state), VLT_OK);
  ASSERT_EQ(jhtCompile(t, values, state), VLT_OK);
  jhtFree(t, state);
}

// ---- Round trip of every range edge -------------------------------------------------------

struct Coded {
  const JhtTable* table;
  int64_t value;  // INT64_MIN stands for out-of-band
};
constexpr int64_t kOOB = INT64_MIN;

// Writes a value as the standard's encoding procedure does: the line's prefix, then the offset.
void encode(JbfFile* f, const JhtTable* t, int64_t v) {
  const int n = t->lineCount;
  const int ordinary = n - t->hasLower - t->hasUpper - t->hasOOB;
  auto put = [&](const JhtLine& l, uint32_t offset) {
    ASSERT_EQ(jbfWriteBits(f, l.code, l.prefLen), VLT_OK);
    ASSERT_EQ(jbfWriteBits(f, offset, l.rangeLen), VLT_OK);
  };
  if (v == kOOB) return put(t->lines[n - 1], 0);
  for (int i = 0; i < ordinary; ++i) {
    const JhtLine& l = t->lines[i];
    if (v >= l.rangeLow && v < l.rangeLow + (int64_t{1} << l.rangeLen))
      return put(l, static_cast<uint32_t>(v - l.rangeLow));
  }
  if (t->hasLower && v < t->lines[0].rangeLow) {
    const JhtLine& l = t->lines[ordinary];
    return put(l, static_cast<uint32_t>(l.rangeLow - v));
  }
  ASSERT_TRUE(t->hasUpper) << "value " << v << " has no line";
  const JhtLine& l = t->lines[ordinary + t->hasLower];
  put(l, static_cast<uint32_t>(v - l.rangeLow));
}

int64_t decode(JbfFile* f, const JhtTable* t, VltState* state) {
  void* v = nullptr;
  EXPECT_EQ(jhtReadCode(t, f, state, &v), VLT_OK);
  const auto* l = static_cast<const JhtLine*>(v);
  const int index = static_cast<int>(l - t->lines);
  const int ordinary = t->lineCount - t->hasLower - t->hasUpper - t->hasOOB;
  uint32_t offset = 0;
  EXPECT_EQ(jbfReadBits(f, l->rangeLen, &offset), VLT_OK);
  if (t->hasOOB && index == t->lineCount - 1) return kOOB;
  if (t->hasLower && index == ordinary) return int64_t{l->rangeLow} - offset;
  return int64_t{l->rangeLow} + offset;
}

TEST_F(HuffmanTest, EveryRangeEdgeOfEveryStandardTableRoundTrips) {
  std::vector<Coded> values;
  for (const StdCase& c : standard_tables()) {
    const JhtTable* t = c.table;
    for (const Line& l : c.lines) {
      switch (l.kind) {
        case N:
          values.push_back({t, l.low});
          values.push_back({t, l.low + (int64_t{1} << l.range) - 1});
          break;
        case LOW:
          values.push_back({t, l.low});
          values.push_back({t, int64_t{l.low} - 1});
          values.push_back({t, INT32_MIN});
          break;
        case UP:
          values.push_back({t, l.low});
          values.push_back({t, int64_t{l.low} + 1});
          values.push_back({t, INT32_MAX});
          break;
        case OOB:
          values.push_back({t, kOOB});
          break;
      }
    }
  }
  Bytes coded;
  {
    MemoryStream s(state);
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSink(s.sink(), &f), VLT_OK);
    for (const Coded& c : values) encode(f, c.table, c.value);
    ASSERT_EQ(jbfCloseFromDataSink(f), VLT_OK);
    coded = s.finish();
  }
  // Whole windows take the 8-bit steps; tiny ones make every code cross a window end.
  for (uint32_t window : {1u << 20, 1u, 5u}) {
    SCOPED_TRACE("window " + std::to_string(window));
    WindowSource w(state, coded, {window});
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSource(&w.source, &f), VLT_OK);
    for (const Coded& c : values) ASSERT_EQ(decode(f, c.table, state), c.value);
    ASSERT_EQ(jbfCloseFromDataSource(f), VLT_OK);
  }
}

}  // namespace
