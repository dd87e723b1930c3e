// Binarization tables.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "bintable.h"
#include "ip_test_state.h"

namespace {

using iptest::TestState;
using Table = std::array<uint32_t, 256>;
using FillSet = VltStatus (*)(IPState*, uint32_t*, uint32_t*, uint32_t*, uint32_t*);

struct Set {
  std::array<Table, 4> t{};
  VltStatus fill(IPState* s, FillSet f) { return f(s, t[0].data(), t[1].data(), t[2].data(), t[3].data()); }
};

TEST(BinarizationTables, SampleEntries) {
  TestState ts;
  struct Sample { const char* name; FillSet fill; int table; unsigned index; uint32_t want; };
  const Sample samples[] = {
      {"8to1", i_fillBinarizationTables, 0, 0x80, 0x80000000},
      {"8to1", i_fillBinarizationTables, 0, 0x01, 0x00000008},
      {"8to1", i_fillBinarizationTables, 3, 0xFF, 0x11111111},
      {"8to1 inv", i_fillInvBinarizationTables, 0, 0x00, 0x88888888},
      {"8to1 inv", i_fillInvBinarizationTables, 0, 0x7F, 0x80000000},
      {"2to1", i_fill2To1BinarizationTables, 0, 0x01, 0x00001000},
      {"2to1", i_fill2To1BinarizationTables, 0, 0x02, 0x10000000},
      {"2to1", i_fill2To1BinarizationTables, 3, 0xFF, 0x000F000F},
      {"2to1 inv", i_fill2To1InvBinarizationTables, 3, 0x00, 0x000F000F},
      {"4to1", i_fill4To1BinarizationTables, 0, 0x01, 0x00000040},
      {"4to1", i_fill4To1BinarizationTables, 0, 0x80, 0x80000000},
      {"4to1", i_fill4To1BinarizationTables, 3, 0xFF, 0x03030303},
      {"4to1 inv", i_fill4To1InvBinarizationTables, 3, 0x00, 0x03030303},
      {"8to2", i_fill2bppBinarizationTables, 0, 0x03, 0x000000C0},
      {"8to2", i_fill2bppBinarizationTables, 0, 0xC0, 0xC0000000},
      {"8to2", i_fill2bppBinarizationTables, 3, 0xFF, 0x03030303},
  };
  for (const Sample& s : samples) {
    Set set;
    ASSERT_EQ(set.fill(ts.state, s.fill), VLT_OK);
    EXPECT_EQ(set.t[s.table][s.index], s.want) << s.name << " table " << s.table << " entry " << s.index;
  }
  Table t{};
  ASSERT_EQ(i_fill4To2bppBinarizationTable(ts.state, t.data()), VLT_OK);
  EXPECT_EQ(t[0x03], 0x00003000u);
  EXPECT_EQ(t[0xC0], 0xC0000000u);
  EXPECT_EQ(t[0xFF], 0xF000F000u);
  EXPECT_EQ(t[0xFF] | t[0xFF] >> 4 | t[0xFF] >> 8 | t[0xFF] >> 12, 0xFFFFFFFFu);
}

// Every plain set is a permutation: the four tables' entries 255 share no bit and cover the
// word; every single index bit lands on one output bit (two for the 2-bit sets); an inverted
// table is the plain one read backwards.
TEST(BinarizationTables, SetsArePermutations) {
  TestState ts;
  struct Pair { FillSet plain, inverted; int bitsPerIndexBit; };
  const Pair pairs[] = {{i_fillBinarizationTables, i_fillInvBinarizationTables, 1},
                        {i_fill4To1BinarizationTables, i_fill4To1InvBinarizationTables, 1},
                        {i_fill2To1BinarizationTables, i_fill2To1InvBinarizationTables, 1},
                        {i_fill2bppBinarizationTables, nullptr, 0}};
  for (const Pair& p : pairs) {
    Set plain;
    ASSERT_EQ(plain.fill(ts.state, p.plain), VLT_OK);
    uint32_t all = 0;
    for (const Table& t : plain.t) {
      EXPECT_EQ(t[0], 0u);
      EXPECT_EQ(all & t[255], 0u);
      all |= t[255];
      for (unsigned b = 0; b < 256; ++b) {
        uint32_t fromBits = 0;
        for (unsigned i = 0; i < 8; ++i)
          if (b >> i & 1) fromBits |= t[1u << i];
        ASSERT_EQ(t[b], fromBits);
        if (p.bitsPerIndexBit && b && (b & (b - 1)) == 0) {
          ASSERT_EQ(__builtin_popcount(t[b]), 1);
        }
      }
    }
    EXPECT_EQ(all, 0xFFFFFFFFu);
    if (!p.inverted) continue;
    Set inv;
    ASSERT_EQ(inv.fill(ts.state, p.inverted), VLT_OK);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(inv.t[k][255], 0u);
      for (unsigned b = 0; b < 256; ++b) ASSERT_EQ(inv.t[k][b], plain.t[k][255 - b]);
    }
  }
}

TEST(BinarizationTables, SizesAndNullTables) {
  TestState ts;
  struct Case { int src, dst; VltStatus want; size_t size; };
  const Case cases[] = {{8, 1, VLT_OK, 1024}, {4, 1, VLT_OK, 1024}, {2, 1, VLT_OK, 1024},
                        {8, 2, VLT_OK, 1024}, {4, 2, VLT_OK, 1024}, {8, 4, VLT_OK, 0},
                        {2, 2, VLT_OK, 1024}, {4, 4, VLT_OK, 1024}, {2, 4, VLT_OK, 1024},
                        {1, 1, VLT_ERR_PARAM, 7}, {16, 1, VLT_ERR_PARAM, 7}, {8, 8, VLT_ERR_PARAM, 7}};
  for (const Case& c : cases)
    for (int inverted : {0, 1}) {
      size_t size = 7;
      EXPECT_EQ(i_getBinarizationTableSizes(ts.state, c.src, c.dst, inverted, &size), c.want);
      EXPECT_EQ(size, c.size) << c.src << "->" << c.dst;
    }
  EXPECT_EQ(i_getBinarizationTableSizes(ts.state, 8, 1, 0, nullptr), VLT_ERR_NULL);

  Set set;
  for (Table& t : set.t) t.fill(0xDEADBEEF);
  EXPECT_EQ(i_fillBinarizationTables(ts.state, set.t[0].data(), set.t[1].data(), nullptr, set.t[3].data()),
            VLT_ERR_NULL);
  for (const Table& t : set.t) EXPECT_EQ(t[0], 0xDEADBEEFu);
  EXPECT_EQ(i_fill4To2bppBinarizationTable(ts.state, nullptr), VLT_ERR_NULL);
}

// Byte lookup tables: the sample entries and the relations between the tables. Each table is
// the caller's, freed through slot 0.
TEST(PermutationTables, EntriesAndRelations) {
  TestState ts;
  const size_t live = ts.alloc.live_blocks();
  uint16_t *perm = nullptr, *inv = nullptr;
  uint8_t *perm4 = nullptr, *red2 = nullptr, *red4 = nullptr;
  ASSERT_EQ(ip_makePermuteLUT(ts.state, &perm), VLT_OK);
  ASSERT_EQ(ip_makeInvPermuteLUT(ts.state, &inv), VLT_OK);
  ASSERT_EQ(ip_make4PermuteLUT(ts.state, &perm4), VLT_OK);
  ASSERT_EQ(ip_makeRedLUT2(ts.state, &red2), VLT_OK);
  ASSERT_EQ(ip_makeRedLUT4(ts.state, &red4), VLT_OK);
  EXPECT_EQ(ts.alloc.live_blocks(), live + 5);

  const std::pair<unsigned, unsigned> permSamples[] = {{0x00, 0x000}, {0x01, 0x001}, {0x02, 0x100}, {0x55, 0x00F},
                                                       {0xAA, 0xF00}, {0x80, 0x800}, {0xFF, 0xF0F}};
  for (auto [b, v] : permSamples) EXPECT_EQ(perm[b], v) << b;
  EXPECT_EQ(inv[0x00], 0xF0F);
  EXPECT_EQ(inv[0xFF], 0);
  const std::pair<unsigned, unsigned> perm4Samples[] = {{0x00, 0x00}, {0x02, 0x10}, {0x10, 0x02}, {0x08, 0x40},
                                                        {0x40, 0x08}, {0x81, 0x81}, {0xA5, 0xA5}};
  for (auto [b, v] : perm4Samples) EXPECT_EQ(perm4[b], v) << b;
  const std::pair<unsigned, unsigned> red2Samples[] = {{0x00, 0}, {0xAA, 0x0F}, {0x55, 0x00}, {0x80, 0x08}, {0x02, 0x01}};
  for (auto [b, v] : red2Samples) EXPECT_EQ(red2[b], v) << b;
  const std::pair<unsigned, unsigned> red4Samples[] = {{0x00, 0}, {0x88, 0x03}, {0x80, 0x02}, {0x08, 0x01}, {0x77, 0x00}};
  for (auto [b, v] : red4Samples) EXPECT_EQ(red4[b], v) << b;

  for (unsigned b = 0; b < 256; ++b) {
    ASSERT_EQ(inv[b], perm[255 - b]);
    ASSERT_EQ(perm4[perm4[b]], b);
    ASSERT_EQ(__builtin_popcount(perm4[b]), __builtin_popcount(b));
    ASSERT_EQ(__builtin_popcount(perm[b]), __builtin_popcount(b));
    ASSERT_EQ(red2[b], perm[b] >> 8);
    ASSERT_EQ(red2[b], red2[b & 0xAA]);
    ASSERT_EQ(red4[b], red4[b & 0x88]);
    ASSERT_EQ(red4[b], red2[red2[b] << 4] >> 2);
  }
  for (void* t : {static_cast<void*>(perm), static_cast<void*>(inv), static_cast<void*>(perm4),
                  static_cast<void*>(red2), static_cast<void*>(red4)})
    ts.state->freeProc[IP_SLOT_RECORDS](t, ts.state->allocData[IP_SLOT_RECORDS]);
}

TEST(PermutationTables, FailuresGiveNullTables) {
  TestState ts;
  using Make16 = VltStatus (*)(IPState*, uint16_t**);
  using Make8 = VltStatus (*)(IPState*, uint8_t**);
  for (Make16 make : {Make16{ip_makePermuteLUT}, Make16{ip_makeInvPermuteLUT}}) {
    uint16_t* t = reinterpret_cast<uint16_t*>(&ts);
    ts.alloc.fail_at(1);
    EXPECT_EQ(make(ts.state, &t), VLT_ERR_NOMEM);
    EXPECT_EQ(t, nullptr);
    t = reinterpret_cast<uint16_t*>(&ts);
    EXPECT_EQ(make(nullptr, &t), VLT_ERR_NOMEM);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(make(ts.state, nullptr), VLT_ERR_NULL);
  }
  for (Make8 make : {Make8{ip_make4PermuteLUT}, Make8{ip_makeRedLUT2}, Make8{ip_makeRedLUT4}}) {
    uint8_t* t = reinterpret_cast<uint8_t*>(&ts);
    ts.alloc.fail_at(1);
    EXPECT_EQ(make(ts.state, &t), VLT_ERR_NOMEM);
    EXPECT_EQ(t, nullptr);
    const size_t before = ts.alloc.allocations();
    t = reinterpret_cast<uint8_t*>(&ts);
    EXPECT_EQ(make(nullptr, &t), VLT_ERR_NOMEM);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(ts.alloc.allocations(), before);
  }
}

}  // namespace
