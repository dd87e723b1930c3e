// Table tuning: optimal lengths with their tie rules, the length limit, the decision between
// standard and tuned tables, and the code table segment read back field by field.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "jb2_encode.h"
#include "jb2_fixture.h"
#include "jb2_symbol_probe.h"
#include "jb2_test_stream.h"
#include "jb2_tune.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;
using Counts = std::vector<uint32_t>;

struct TuneTest : Jb2Test {
  Counts lengths(const Counts& counts) {
    Counts out(counts.size(), 99);
    jb2test::check(jhtGetCodeLengths(counts.data(), out.data(), static_cast<int32_t>(counts.size()), state),
                   "jhtGetCodeLengths");
    return out;
  }
};

// Sum of 2^-length over the used lines, scaled by 2^31: exactly 2^31 for a complete code.
uint64_t kraft(const Counts& lengths) {
  uint64_t sum = 0;
  for (uint32_t l : lengths)
    if (l != 0) sum += uint64_t{1} << (31 - l);
  return sum;
}

// The least total bits a prefix code without a length limit can give the counts (the sum of
// the merged weights of Huffman's construction, whatever its tie rules).
uint64_t optimum(const Counts& counts) {
  std::vector<uint64_t> w;
  for (uint32_t c : counts)
    if (c != 0) w.push_back(c);
  if (w.size() == 1) return w[0];
  uint64_t total = 0;
  while (w.size() > 1) {
    std::sort(w.begin(), w.end());
    const uint64_t m = w[0] + w[1];
    total += m;
    w.erase(w.begin(), w.begin() + 2);
    w.push_back(m);
  }
  return total;
}

uint64_t cost(const Counts& counts, const Counts& lengths) {
  uint64_t sum = 0;
  for (size_t i = 0; i < counts.size(); ++i) sum += uint64_t{counts[i]} * lengths[i];
  return sum;
}

TEST_F(TuneTest, OptimalLengthsWithLineOrderTieBreaks) {
  struct Case {
    Counts counts, lengths;
  };
  const Case cases[] = {
      {{5, 5}, {1, 1}},
      {{1, 1, 2}, {2, 2, 1}},
      {{0, 7, 0}, {0, 1, 0}},
      {{1, 1, 1, 1}, {2, 2, 2, 2}},
      {{0, 0, 0}, {0, 0, 0}},
      {{}, {}},
      // Equal sums go after the nodes they tie with, so the first lines end up deepest.
      {{1, 1, 1, 1, 1}, {3, 3, 2, 2, 2}},
      {{10, 1, 1, 2, 4}, {1, 4, 4, 3, 2}},
      {{2000, 1000, 999, 998}, {1, 2, 3, 3}},
  };
  for (const Case& c : cases) EXPECT_EQ(lengths(c.counts), c.lengths);
}

// Skewed counts would need codes far longer than decoders take: the lengths are limited, the
// code stays complete and frequent lines never get longer codes than rare ones. Counts the
// limit does not touch keep their optimal lengths.
TEST_F(TuneTest, LengthsAreLimitedOnlyWhenTheyWouldBeTooLong) {
  Counts fibonacci = {1, 1};
  while (fibonacci.size() < 40) fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
  std::mt19937 rng(5);
  std::vector<Counts> samples = {fibonacci, Counts(fibonacci.begin(), fibonacci.begin() + 17)};
  for (int i = 0; i < 20; ++i) {
    Counts c(2 + rng() % 300);
    for (auto& v : c) v = rng() % 4 == 0 ? 0 : 1 + rng() % (1u << (rng() % 20));
    samples.push_back(c);
  }
  for (const Counts& c : samples) {
    const Counts l = lengths(c);
    const uint32_t longest = *std::max_element(l.begin(), l.end());
    EXPECT_LE(longest, JHT_TUNED_MAX_PREFLEN);
    EXPECT_EQ(kraft(l), uint64_t{1} << 31) << "the code is complete";
    for (size_t i = 0; i < c.size(); ++i)
      for (size_t j = 0; j < c.size(); ++j)
        if (c[i] > c[j] && c[j] > 0) {
          EXPECT_LE(l[i], l[j]);
        }
    if (c.size() <= 17 && c == samples[1]) {
      // 17 Fibonacci counts need exactly 16 levels: limited, but barely worse than the optimum.
      EXPECT_GT(cost(c, l), optimum(c));
    }
  }
  // Within the limit the result is the optimum itself.
  for (const Counts& c : {Counts{1, 2, 3, 4, 5, 6, 7, 8}, Counts{100, 1, 1, 1, 50, 0, 7}}) {
    EXPECT_EQ(cost(c, lengths(c)), optimum(c));
  }
  // A wider limit where the used lines need more bits than asked.
  const Counts flat = lengths(Counts(70, 1));
  EXPECT_EQ(*std::max_element(flat.begin(), flat.end()), 7u);
  Counts deep = lengths(fibonacci);
  ASSERT_EQ(jhtLimitCodeLengths(fibonacci.data(), deep.data(), 40, 2, state), VLT_OK);
  EXPECT_EQ(*std::max_element(deep.begin(), deep.end()), 6u) << "40 lines need 6 bits whatever the limit";
  EXPECT_EQ(kraft(deep), uint64_t{1} << 31);
}

TEST_F(TuneTest, CountBitsPricesTheTableAsItIsAndTuned) {
  Counts counts(7, 0);
  counts[0] = 10;  // value 0: 1 bit
  counts[3] = 4;   // 3..10: 4 + 3 bits
  counts[6] = 2;   // out of band: 6 bits
  Counts l(7, 0);
  uint64_t standard = 0, tuned = 0;
  ASSERT_EQ(jhtCountBits(&stdhuffDW1, counts.data(), l.data(), &standard, &tuned, state), VLT_OK);
  EXPECT_EQ(standard, 10u * 1 + 4u * 7 + 2u * 6);
  EXPECT_EQ(l, (Counts{1, 0, 0, 2, 0, 0, 2}));
  EXPECT_EQ(tuned, 10u * 1 + 4u * (2 + 3) + 2u * 2);
}

TEST_F(TuneTest, DecisionWeighsTheTableSegmentAgainstTheSavings) {
  const JhtTable* tables[2] = {&stdhuffDW1, &stdhuffDW2};  // 7 and 9 lines
  Counts c0(7, 1), c1(9, 1), l0(7, 3), l1(9, 4);
  uint32_t* counts[2] = {c0.data(), c1.data()};
  uint32_t* lens[2] = {l0.data(), l1.data()};
  struct Case {
    uint64_t standard[2];
    uint64_t tuned[2];
    uint8_t allow;
    int chosen;
    uint8_t isTuned;
  };
  const Case cases[] = {
      {{100, 90}, {0, 0}, 1, 1, 0},    // 216 is not below 90
      {{1000, 900}, {0, 0}, 1, 0, 1},  // 216 is below 900; 232 is not below 216
      {{1000, 900}, {0, 0}, 0, 1, 0},  // tuning not allowed
      {{50, 50}, {500, 500}, 1, 0, 0}, // equal costs keep the first
  };
  for (const Case& c : cases) {
    uint8_t isTuned = 9;
    const JhtTable* out = nullptr;
    int32_t index = -1;
    ASSERT_EQ(jhtDecideTable(tables, counts, lens, c.standard, c.tuned, &isTuned, &out, 2, c.allow, state, &index),
              VLT_OK);
    EXPECT_EQ(index, c.chosen);
    EXPECT_EQ(isTuned, c.isTuned);
    if (isTuned) {
      ASSERT_NE(out, tables[0]);
      ASSERT_EQ(out->lineCount, 7);
      for (int i = 0; i < 7; ++i) EXPECT_EQ(out->lines[i].prefLen, 3) << "the given lengths";
      EXPECT_EQ(out->compiled, 1);
      jhtFree(const_cast<JhtTable*>(out), state);
    } else {
      EXPECT_EQ(out, tables[c.chosen]);
    }
  }
  uint8_t untouched = 7;
  const JhtTable* none = &stdhuffA;
  EXPECT_EQ(jhtDecideTable(tables, counts, lens, nullptr, nullptr, &untouched, &none, 0, 1, state), VLT_OK);
  EXPECT_EQ(untouched, 7);
  EXPECT_EQ(none, &stdhuffA);
}

// A tuned copy reads its own codes back as its lines.
TEST_F(TuneTest, TunedCopyIsCompiledOverItsOwnLines) {
  Counts counts(static_cast<size_t>(stdhuffDS2.lineCount), 0);
  counts[6] = 40;
  counts[7] = 30;
  counts[21] = 9;  // out of band
  counts[2] = 1;
  JhtTable* t = nullptr;
  ASSERT_EQ(jhtTuneStandardTable(&stdhuffDS2, counts.data(), nullptr, state, &t), VLT_OK);
  ASSERT_NE(t->lines, stdhuffDS2.lines);
  for (int i = 0; i < t->lineCount; ++i) {
    EXPECT_EQ(t->lines[i].rangeLow, stdhuffDS2.lines[i].rangeLow);
    EXPECT_EQ(t->lines[i].prefLen != 0, counts[static_cast<size_t>(i)] != 0) << "line " << i;
    if (t->lines[i].prefLen == 0) continue;
    const int len = t->lines[i].prefLen;
    EXPECT_EQ(t->lookup[len][t->lines[i].code - t->firstCode[len]], &t->lines[i]);
  }
  EXPECT_EQ(stdhuffDS2.lines[6].prefLen, 3) << "the standard table is untouched";
  jhtFree(t, state);
}

struct TableSegment {
  uint8_t flags;
  int32_t low, high;
  Bytes data;
};

TEST_F(TuneTest, TableSegmentOfTheTunedWidthTable) {
  Counts counts(7, 0);
  counts[0] = 5;
  counts[4] = 2;
  counts[6] = 3;
  JhtTable* t = nullptr;
  ASSERT_EQ(jhtTuneStandardTable(&stdhuffDW1, counts.data(), nullptr, state, &t), VLT_OK);
  MemoryStream s(state);
  SegmentInfo seg{};
  seg.page = 1;
  seg.body.codeTable = *t;
  ASSERT_EQ(jb2EncodeHuffTable(s.file(), &seg), VLT_OK);
  jhtFree(t, state);
  const auto segs = jb2test::parse_segments(s.finish(), false);
  ASSERT_EQ(segs.size(), 1u);
  EXPECT_EQ(segs[0].type, 53);
  EXPECT_TRUE(segs[0].retain);
  EXPECT_TRUE(segs[0].referred.empty());
  const Bytes& d = segs[0].data;
  // Lengths 1 (value 0), 2 (11..74), 2 (OOB): HTPS 2, HTRS 3 (largest range length 6).
  EXPECT_EQ(d[0], 0x01 | (2 - 1) << 1 | (3 - 1) << 4);
  EXPECT_EQ((Bytes{d.begin() + 1, d.begin() + 9}), (Bytes{0, 0, 0, 0, 0, 0, 0, 75}));
  jb2test::ProbeBits bits(d.data() + 9, d.size() - 9);
  const std::vector<std::pair<int, int>> normal = {{1, 0}, {0, 0}, {0, 0}, {0, 3}, {2, 6}};
  for (const auto& [pref, range] : normal) {
    EXPECT_EQ(bits.read(2), static_cast<uint32_t>(pref));
    EXPECT_EQ(bits.read(3), static_cast<uint32_t>(range));
  }
  EXPECT_EQ(bits.read(2), 0u) << "no lower range line";
  EXPECT_EQ(bits.read(2), 0u) << "upper range line never used";
  EXPECT_EQ(bits.read(2), 2u) << "out of band";
  EXPECT_EQ(d.size(), 9u + 4u) << "31 bits of fields, padded to a byte";
}

// Every standard table, tuned from random counts, sent and read back by the probe: the same
// lines. Fields that end on a byte boundary get a spare byte.
TEST_F(TuneTest, TableSegmentsReadBackAsTheTable) {
  std::mt19937 rng(11);
  const JhtTable* all[] = {&stdhuffA,   &stdhuffDW1, &stdhuffDW2, &stdhuffDH1, &stdhuffDH2, &stdhuffFS1,
                           &stdhuffFS2, &stdhuffDS1, &stdhuffDS2, &stdhuffDS3, &stdhuffDT1, &stdhuffDT2,
                           &stdhuffDT3, &stdhuffDT3_neg};
  bool sawSpareByte = false;
  for (int round = 0; round < 6; ++round)
    for (const JhtTable* std : all) {
      Counts counts(static_cast<size_t>(std->lineCount));
      for (auto& c : counts) c = rng() % 3 == 0 ? 0 : rng() % 1000;
      JhtTable* t = nullptr;
      ASSERT_EQ(jhtTuneStandardTable(std, counts.data(), nullptr, state, &t), VLT_OK);
      MemoryStream s(state);
      SegmentInfo seg{};
      seg.page = 1;
      seg.body.codeTable = *t;
      ASSERT_EQ(jb2EncodeHuffTable(s.file(), &seg), VLT_OK);
      const Bytes d = jb2test::parse_segments(s.finish(), false).at(0).data;
      const jb2test::ProbeTable got = jb2test::probe_table_segment(d);
      const jb2test::ProbeTable want = jb2test::probe_table(*t);
      // The segment always has both range lines; ours may lack them (then with no code).
      size_t k = 0;
      for (const auto& line : got.lines) {
        if (k < want.lines.size() && want.lines[k].kind == line.kind) {
          EXPECT_EQ(line.low, want.lines[k].low);
          EXPECT_EQ(line.pref, want.lines[k].pref);
          EXPECT_EQ(line.range, want.lines[k].range);
          EXPECT_EQ(line.code, want.lines[k].code);
          ++k;
        } else {
          EXPECT_EQ(line.pref, 0) << "a range line the table does not have";
        }
      }
      EXPECT_EQ(k, want.lines.size());
      const int ps = ((d[0] >> 1) & 7) + 1, rs = ((d[0] >> 4) & 7) + 1;
      const size_t normal = got.lines.size() - 2 - (d[0] & 1);
      const size_t fieldBits = normal * static_cast<size_t>(ps + rs) + static_cast<size_t>(ps) * (2 + (d[0] & 1));
      EXPECT_EQ(d.size(), 9 + fieldBits / 8 + 1);
      sawSpareByte |= fieldBits % 8 == 0;
      jhtFree(t, state);
    }
  EXPECT_TRUE(sawSpareByte);
}

TEST_F(TuneTest, FailuresLeaveNothingBehind) {
  Counts counts(static_cast<size_t>(stdhuffDS1.lineCount), 3);
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    JhtTable* t = nullptr;
    const VltStatus st = jhtTuneStandardTable(&stdhuffDS1, counts.data(), nullptr, state, &t);
    alloc.fail_at(0);
    if (st == VLT_OK) {
      jhtFree(t, state);
      EXPECT_GT(k, 3u);
      break;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(alloc.live_blocks(), baseline);
  }
  const JhtTable* tables[3] = {&stdhuffDS1, &stdhuffDS2, &stdhuffDS3};
  for (size_t k = 1; k <= 9; ++k) {
    uint32_t* lengths[3] = {};
    uint32_t* cs[3] = {};
    EiEncoder* encoders[3] = {};
    alloc.fail_at(k);
    EXPECT_EQ(jhtAllocTableInfo(tables, lengths, cs, encoders, 3, state), VLT_ERR_NOMEM);
    alloc.fail_at(0);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(lengths[i] == nullptr && cs[i] == nullptr && encoders[i] == nullptr);
    EXPECT_EQ(alloc.live_blocks(), baseline);
  }
}

}  // namespace
