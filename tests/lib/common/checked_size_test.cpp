#include "checked_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using mono::checked_add;
using mono::checked_mul;
using mono::checked_mul_add;

TEST(CheckedSize, ReportsOverflowAtTheLimits) {
  constexpr size_t kMax = std::numeric_limits<size_t>::max();
  size_t r = 7;
  EXPECT_TRUE(checked_mul<size_t>(kMax, 1, &r));
  EXPECT_EQ(r, kMax);
  EXPECT_FALSE(checked_mul<size_t>(kMax / 2 + 1, 2, &r));
  EXPECT_EQ(r, kMax) << "a failed product leaves the result alone";
  EXPECT_TRUE(checked_add<size_t>(kMax - 1, 1, &r));
  EXPECT_FALSE(checked_add<size_t>(kMax, 1, &r));
  EXPECT_TRUE(checked_mul<size_t>(0, kMax, &r));
  EXPECT_EQ(r, 0u);

  int32_t s = 0;
  EXPECT_FALSE(checked_mul<int32_t>(65536, 32768, &s));
  EXPECT_TRUE(checked_mul<int32_t>(-65536, 32768, &s));
  EXPECT_EQ(s, std::numeric_limits<int32_t>::min());
  EXPECT_FALSE(checked_add<int32_t>(std::numeric_limits<int32_t>::max(), 1, &s));

  uint32_t u = 0;
  EXPECT_TRUE(checked_mul_add<uint32_t>(65535, 65537, 0, &u));
  EXPECT_EQ(u, 0xFFFFFFFFu);
  EXPECT_FALSE(checked_mul_add<uint32_t>(65535, 65537, 1, &u));
  static_assert([] { size_t x = 0; return checked_mul<size_t>(6, 7, &x) && x == 42; }());
}
