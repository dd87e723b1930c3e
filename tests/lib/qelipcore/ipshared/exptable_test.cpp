// Pixel expansion and resolution-conversion tables.

#include <gtest/gtest.h>

#include <vector>

#include "exptable.h"
#include "ip_test_state.h"
#include "ref_rasterop.h"

namespace {

using iptest::TestState;
using Fill = VltStatus (*)(IPState*, int32_t, uint8_t*);

struct Factor {
  int factor;
  Fill fill;
  size_t bytes;
};
constexpr Factor kFactors[] = {{2, i_fillExp2LUT, 512}, {4, i_fillExp4LUT, 1024}, {8, i_fillExp8LUT, 2048},
                               {16, i_fillExp16LUT, 4096}};

// The bytes of entry b as the table stores them, reassembled in pixel order: plane k of the
// eight- and sixteenfold tables holds the (planes - 1 - k)-th 32 bits of the expansion.
std::vector<uint8_t> entry_bytes(const std::vector<uint8_t>& t, int factor, unsigned b) {
  if (factor == 2) return {t[2 * b], t[2 * b + 1]};
  const int planes = factor <= 4 ? 1 : factor / 4;
  std::vector<uint8_t> out;
  for (int k = planes - 1; k >= 0; --k)
    for (int i = 0; i < 4; ++i) out.push_back(t[size_t(k) * 1024 + 4 * b + size_t(i)]);
  return out;
}

TEST(ExpandTables, EveryEntryRepeatsEachPixelFactorTimesInPixelOrder) {
  TestState ts;
  for (const Factor& f : kFactors)
    for (int depth : {1, 2, 4, 8}) {
      SCOPED_TRACE(testing::Message() << "factor " << f.factor << " depth " << depth);
      size_t size = 0;
      ASSERT_EQ(i_getExpandTableSizes(ts.state, f.factor, depth, &size), VLT_OK);
      ASSERT_EQ(size, f.bytes);
      std::vector<uint8_t> table(size, 0xA5);
      ASSERT_EQ(f.fill(ts.state, depth, table.data()), VLT_OK);
      for (unsigned b = 0; b < 256; ++b) {
        const std::vector<uint8_t> got = entry_bytes(table, f.factor, b);
        const uint8_t source[1] = {static_cast<uint8_t>(b)};
        for (int p = 0; p < 8 * f.factor / depth; ++p)
          ASSERT_EQ(monotest::ref_get_pixel(got.data(), got.size(), p, 0, unsigned(depth)),
                    monotest::ref_get_pixel(source, 1, p / f.factor, 0, unsigned(depth)))
              << "entry " << b << " pixel " << p;
      }
    }
}

TEST(ExpandTables, PublishedValues) {
  TestState ts;
  std::vector<uint8_t> t(4096);
  ASSERT_EQ(i_fillExp2LUT(ts.state, 2, t.data()), VLT_OK);
  EXPECT_EQ(t[2 * 0xE4], 0xFA);  // pixels 3, 2, 1, 0 each twice: 0xFA50
  EXPECT_EQ(t[2 * 0xE4 + 1], 0x50);
  ASSERT_EQ(i_fillExp2LUT(ts.state, 1, t.data()), VLT_OK);
  EXPECT_EQ(t[2 * 0x81], 0xC0);
  EXPECT_EQ(t[2 * 0x81 + 1], 0x03);
  ASSERT_EQ(i_fillExp2LUT(ts.state, 8, t.data()), VLT_OK);
  EXPECT_EQ(t[2 * 0x3C], 0x3C);
  EXPECT_EQ(t[2 * 0x3C + 1], 0x3C);
  ASSERT_EQ(i_fillExp4LUT(ts.state, 4, t.data()), VLT_OK);
  EXPECT_EQ(std::vector<uint8_t>(t.begin() + 4 * 0x3F, t.begin() + 4 * 0x3F + 4), (std::vector<uint8_t>{0x33, 0x33, 0xFF, 0xFF}));
  ASSERT_EQ(i_fillExp8LUT(ts.state, 1, t.data()), VLT_OK);
  EXPECT_EQ(std::vector<uint8_t>(t.begin() + 1024 + 4 * 0x80, t.begin() + 1024 + 4 * 0x80 + 4), (std::vector<uint8_t>{0xFF, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(t.begin() + 4 * 0x80, t.begin() + 4 * 0x80 + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_EQ(i_fillExp8LUT(ts.state, 4, t.data()), VLT_OK);
  EXPECT_EQ(t[1024 + 4 * 0x5A], 0x55);  // plane 1: eight nibbles of the high nibble
  EXPECT_EQ(t[4 * 0x5A + 3], 0xAA);     // plane 0: eight nibbles of the low nibble
}

TEST(ExpandTables, SizesAndFailures) {
  TestState ts;
  size_t size = 7;
  EXPECT_EQ(i_getExpandTableSizes(ts.state, 3, 1, &size), VLT_ERR_PARAM);
  EXPECT_EQ(i_getExpandTableSizes(ts.state, 1, 1, &size), VLT_ERR_PARAM);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(i_getExpandTableSizes(ts.state, 16, 13, &size), VLT_OK);
  EXPECT_EQ(size, 4096u);
  EXPECT_EQ(i_getExpandTableSizes(ts.state, 2, 4, nullptr), VLT_ERR_NULL);
  for (const Factor& f : kFactors) {
    std::vector<uint8_t> t(f.bytes, 0xEE);
    EXPECT_EQ(f.fill(ts.state, 3, t.data()), VLT_ERR_DEPTH);
    EXPECT_EQ(t, std::vector<uint8_t>(f.bytes, 0)) << "a refused depth leaves the table cleared";
    EXPECT_EQ(f.fill(ts.state, 16, t.data()), VLT_ERR_DEPTH);
    EXPECT_EQ(f.fill(ts.state, 4, nullptr), VLT_ERR_NULL);
  }
}

TEST(ResolutionTables, SizesAndEntries) {
  TestState ts;
  struct Case { int32_t src, dst, depth; VltStatus want; size_t size; };
  const Case cases[] = {{300, 600, 4, VLT_OK, 1024}, {200, 300, 4, VLT_OK, 1024}, {300, 400, 4, VLT_ERR_PARAM, 0},
                        {300, 600, 8, VLT_OK, 0},    {600, 300, 4, VLT_ERR_PARAM, 0}};
  for (const Case& c : cases) {
    size_t size = 99;
    EXPECT_EQ(i_getResconTableSize(ts.state, c.src, c.dst, c.depth, &size), c.want) << c.src << ":" << c.dst;
    EXPECT_EQ(size, c.want == VLT_OK ? c.size : 99u);
  }

  std::vector<uint8_t> t(1024, 0xEE);
  const auto entry = [&](unsigned b) {
    return uint32_t{t[4 * b]} << 24 | uint32_t{t[4 * b + 1]} << 16 | uint32_t{t[4 * b + 2]} << 8 | t[4 * b + 3];
  };
  ASSERT_EQ(i_fill1To2ResconTable(ts.state, t.data(), 4), VLT_OK);
  EXPECT_EQ(entry(0x18), 0x1580u);  // mean of 1 and 8 rounded up
  EXPECT_EQ(entry(0x00), 0u);
  EXPECT_EQ(entry(0xF0), 0xF800u);
  ASSERT_EQ(i_fill2To3ResconTable(ts.state, t.data(), 4), VLT_OK);
  EXPECT_EQ(entry(0x18), 0x148u);  // rounded down
  EXPECT_EQ(entry(0xFF), 0xFFFu);

  std::vector<uint8_t> untouched(1024, 0xEE);
  EXPECT_EQ(i_fill1To2ResconTable(ts.state, untouched.data(), 8), VLT_OK);
  EXPECT_EQ(i_fill2To3ResconTable(ts.state, untouched.data(), 8), VLT_OK);
  EXPECT_EQ(untouched, std::vector<uint8_t>(1024, 0xEE));
  EXPECT_EQ(i_fill1To2ResconTable(ts.state, nullptr, 4), VLT_ERR_NULL);
  EXPECT_EQ(i_fill2To3ResconTable(ts.state, nullptr, 4), VLT_ERR_NULL);
}

}  // namespace
