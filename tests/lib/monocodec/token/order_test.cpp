// Order statistics against std::nth_element, and the small vectors.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tok_order.h"

namespace {

TEST(OrderStatistics, SmallVectors) {
  struct Case {
    std::vector<int32_t> values;
    int32_t k;
    int32_t want;
  };
  const Case cases[] = {
      {{5, 1, 4, 1, 3}, 2, 3}, {{5, 1, 4, 1, 3}, 0, 1}, {{5, 1, 4, 1, 3}, 4, 5},
      {{7, 7, 7, 7}, 2, 7},    {{5, 1, 4, 1, 3}, 99, 5}, {{2}, 0, 2},
      {{}, 0, 0},              {{3, 1}, -1, 0},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> v = c.values;
    EXPECT_EQ(pickNth(v.data(), static_cast<int32_t>(v.size()), c.k), c.want) << "k " << c.k;
  }
  EXPECT_EQ(pickNthFloat(nullptr, 0, 0), 0.0f);
}

int compare_words(uintptr_t a, uintptr_t b) { return a > b ? 1 : a < b ? -1 : 0; }

TEST(OrderStatistics, AgreeWithNthElementOnRandomArrays) {
  std::mt19937 rng(19);
  for (int trial = 0; trial < 400; ++trial) {
    const int32_t n = std::uniform_int_distribution<int32_t>(1, trial < 200 ? 12 : 3000)(rng);
    // Narrow value ranges give many ties, wide ones few.
    const int32_t range = trial % 3 == 0 ? 4 : 1000000;
    std::uniform_int_distribution<int32_t> value(-range, range);
    std::vector<int32_t> ints(static_cast<size_t>(n));
    for (int32_t& v : ints) v = value(rng);
    const int32_t k = std::uniform_int_distribution<int32_t>(0, n - 1)(rng);

    std::vector<int32_t> want = ints;
    std::nth_element(want.begin(), want.begin() + k, want.end());

    std::vector<int32_t> a = ints;
    ASSERT_EQ(pickNth(a.data(), n, k), want[size_t(k)]) << "n " << n << " k " << k;
    std::sort(a.begin(), a.end());
    std::vector<int32_t> sorted = ints;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(a, sorted) << "the selection must only reorder";

    std::vector<float> f(ints.begin(), ints.end());
    for (float& x : f) x *= 0.25f;
    ASSERT_EQ(pickNthFloat(f.data(), n, k), static_cast<float>(want[size_t(k)]) * 0.25f);

    std::vector<uintptr_t> words(ints.size());
    for (size_t i = 0; i < ints.size(); ++i) words[i] = static_cast<uintptr_t>(int64_t(ints[i]) + range);
    ASSERT_EQ(pickNthGeneral(words.data(), n, k, compare_words), static_cast<uintptr_t>(int64_t(want[size_t(k)]) + range));
  }
}

TEST(OrderStatistics, NotANumberEndsTheSearch) {
  std::vector<float> v = {3.0f, NAN, 1.0f, NAN, 2.0f, NAN, 0.5f};
  for (int32_t k = 0; k < 7; ++k) {
    std::vector<float> a = v;
    pickNthFloat(a.data(), 7, k);  // must return, whatever it picks
  }
}

TEST(OrderStatistics, FractionNotAbove) {
  const int32_t v[] = {1, 2, 3, 4};
  EXPECT_EQ(frac_lower(v, 4, 2), 0.5);
  EXPECT_EQ(frac_lower(v, 4, 0), 0.0);
  EXPECT_EQ(frac_lower(v, 4, 4), 1.0);
  EXPECT_EQ(frac_lower(v, 0, 0), 1.0);
  EXPECT_EQ(frac_lower(nullptr, 4, 0), 10003.0);
}

}  // namespace
