// Runs of one line, as a run-cell list and as an array of column pairs.

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "i_ccruns.h"
#include "ip_test_state.h"

namespace {

using iptest::TestState;
using Runs = std::vector<std::pair<int, int>>;

// A heap manager and a run-cell chain for one test.
struct RunCells {
  TestState t;
  HeapManager m{};
  CellBlock* cells = nullptr;
  CCRun* first = nullptr;
  RunCells() {
    EXPECT_EQ(i_initializeHeapManager(t.state, &m), VLT_OK);
    EXPECT_EQ(i_allocateMemoryBlock(t.state, &cells, sizeof(CCRun), 4, &m), VLT_OK);
    first = take();
    first->next = nullptr;
  }
  ~RunCells() {
    EXPECT_EQ(i_freeAllMemoryBlocks(t.state, &cells), VLT_OK);
    EXPECT_EQ(i_destroyHeapManager(t.state, &m), VLT_OK);
  }
  CCRun* take() {
    CCRun* r = nullptr;
    EXPECT_EQ(ip_allocCell(t.state, cells, &r), VLT_OK);
    return r;
  }
  size_t list_length() const {
    size_t n = 0;
    for (const CCRun* r = first; r; r = r->next) ++n;
    return n;
  }
  // The runs up to the tail sentinel, which must follow them.
  Runs runs() const {
    Runs out;
    const CCRun* r = first;
    for (; r && r->start <= IP_RUN_MAX_COLUMN; r = r->next) {
      EXPECT_EQ(r->component, nullptr);
      out.push_back({r->start, r->end});
    }
    EXPECT_NE(r, nullptr);
    if (r) {
      EXPECT_EQ(r->end, IP_RUN_TAIL_SENTINEL);
    }
    return out;
  }
};

Runs naive_runs(const std::vector<uint8_t>& line, int firstX, int lastX) {
  Runs out;
  for (int x = firstX; x <= lastX; ++x) {
    if (!((line[x >> 3] >> (7 - (x & 7))) & 1)) continue;
    if (!out.empty() && out.back().second == x - 1)
      out.back().second = x;
    else
      out.push_back({x, x});
  }
  return out;
}

// A line of exactly the bytes that hold columns 0..lastX, so reading beyond them is caught.
std::vector<uint8_t> line_of(int lastX, std::initializer_list<std::pair<int, int>> on) {
  std::vector<uint8_t> line(static_cast<size_t>(lastX) / 8 + 1, 0);
  for (auto [a, b] : on)
    for (int x = a; x <= b; ++x) line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  return line;
}

TEST(LineRuns, ListCases) {
  struct Case {
    const char* name;
    int lineLast;
    std::initializer_list<std::pair<int, int>> on;
    int firstX, lastX;
    Runs want;
  };
  const Case cases[] = {
      {"two runs in one word", 31, {{4, 11}, {31, 31}}, 0, 31, {{4, 11}, {31, 31}}},
      {"pixels right of lastX ignored", 31, {{4, 11}, {31, 31}}, 0, 30, {{4, 11}}},
      {"empty interval", 70, {{0, 9}, {60, 70}}, 10, 59, {}},
      {"all ON", 99, {{0, 99}}, 3, 97, {{3, 97}}},
      {"run cut at both ends", 80, {{2, 40}, {50, 79}}, 20, 60, {{20, 40}, {50, 60}}},
      {"run across words", 130, {{30, 100}}, 0, 130, {{30, 100}}},
      {"run ending on a word boundary", 95, {{40, 63}, {64, 64 - 1 + 1}}, 0, 95, {{40, 64}}},
      {"firstX beyond lastX", 63, {{0, 63}}, 40, 39, {}},
      {"single columns", 40, {{0, 0}, {7, 7}, {8, 8}, {40, 40}}, 0, 40, {{0, 0}, {7, 8}, {40, 40}}},
      {"full last word", 63, {{32, 63}}, 0, 63, {{32, 63}}},
  };
  for (const Case& c : cases) {
    RunCells rc;
    const auto line = line_of(c.lineLast, c.on);
    ASSERT_EQ(i_findAllRunsInLine(rc.t.state, line.data(), c.lastX, c.firstX, rc.first, rc.cells), VLT_OK)
        << c.name;
    EXPECT_EQ(rc.runs(), c.want) << c.name;
  }
}

TEST(LineRuns, ListGrowsOnlyWhenNeededAndReusesCells) {
  RunCells rc;
  const auto three = line_of(40, {{1, 2}, {10, 12}, {30, 40}});
  ASSERT_EQ(i_findAllRunsInLine(rc.t.state, three.data(), 40, 0, rc.first, rc.cells), VLT_OK);
  EXPECT_EQ(rc.list_length(), 4u);  // three runs and the tail sentinel: three new cells
  const size_t allocations = rc.t.alloc.allocations();
  const auto one = line_of(40, {{5, 6}});
  ASSERT_EQ(i_findAllRunsInLine(rc.t.state, one.data(), 40, 0, rc.first, rc.cells), VLT_OK);
  EXPECT_EQ(rc.runs(), (Runs{{5, 6}}));
  EXPECT_EQ(rc.list_length(), 4u);  // the spare cells stay linked after the sentinel
  ASSERT_EQ(i_findAllRunsInLine(rc.t.state, three.data(), 40, 0, rc.first, rc.cells), VLT_OK);
  EXPECT_EQ(rc.t.alloc.allocations(), allocations);
}

TEST(LineRuns, RandomLinesOfEveryWidthMatchANaiveScan) {
  std::mt19937 rng(7);
  for (int width = 1; width <= 130; ++width) {
    for (int rep = 0; rep < 12; ++rep) {
      std::vector<uint8_t> line((width + 7) / 8);
      const int density = static_cast<int>(rng() % 100);
      for (int x = 0; x < width; ++x)
        if (static_cast<int>(rng() % 100) < density) line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      const int lastX = width - 1 - (rep % 3 == 0 ? 0 : static_cast<int>(rng() % width));
      const int firstX = rep % 2 == 0 ? 0 : static_cast<int>(rng() % width);
      const Runs want = firstX <= lastX ? naive_runs(line, firstX, lastX) : Runs{};
      // The line is cut to the bytes that hold lastX.
      std::vector<uint8_t> exact(line.begin(), line.begin() + (lastX >= 0 ? lastX / 8 + 1 : 1));

      RunCells rc;
      ASSERT_EQ(i_findAllRunsInLine(rc.t.state, exact.data(), lastX, firstX, rc.first, rc.cells), VLT_OK);
      ASSERT_EQ(rc.runs(), want) << "width " << width << " first " << firstX << " last " << lastX;

      std::vector<int32_t> pairs(2 * (want.size() + 1), -1);
      int32_t* end = nullptr;
      ASSERT_EQ(i_findAllRunsInLineArray(rc.t.state, exact.data(), lastX, firstX, pairs.data(),
                                         static_cast<uint32_t>(want.size() + 1), -5, &end),
                VLT_OK);
      ASSERT_EQ(end, pairs.data() + 2 * want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(pairs[2 * i], want[i].first - 5);
        ASSERT_EQ(pairs[2 * i + 1], want[i].second - 5);
      }
    }
  }
}

TEST(LineRuns, ArrayCapacityOffsetAndErrors) {
  TestState t;
  const auto line = line_of(95, {{32, 40}, {50, 60}, {90, 95}});
  int32_t pairs[6] = {};
  int32_t* end = nullptr;
  ASSERT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 95, 32, pairs, 3, -32, &end), VLT_OK);
  EXPECT_EQ(end, pairs + 6);
  EXPECT_EQ(std::vector<int32_t>(pairs, pairs + 6), (std::vector<int32_t>{0, 8, 18, 28, 58, 63}));
  end = nullptr;
  EXPECT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 95, 32, pairs, 2, -32, &end), VLT_ERR_OVERFLOW);
  EXPECT_EQ(end, nullptr);
  ASSERT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 45, 41, pairs, 1, 0, &end), VLT_OK);
  EXPECT_EQ(end, pairs);
  EXPECT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 95, 0, nullptr, 3, 0, &end), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLineArray(t.state, nullptr, 95, 0, pairs, 3, 0, &end), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 95, 0, pairs, 0, 0, &end), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 95, -1, pairs, 3, 0, &end), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLineArray(t.state, line.data(), 95, 0, pairs, 3, INT32_MAX, &end), VLT_ERR_PARAM);
}

TEST(LineRuns, ListRefusesColumnsTheRecordsCannotHold) {
  RunCells rc;
  const std::vector<uint8_t> wide(32752 / 8 + 1, 0xFF);
  EXPECT_EQ(i_findAllRunsInLine(rc.t.state, wide.data(), 32752, 0, rc.first, rc.cells), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLine(rc.t.state, wide.data(), 100, -1, rc.first, rc.cells), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLine(rc.t.state, wide.data(), 100, 0, nullptr, rc.cells), VLT_ERR_PARAM);
  EXPECT_EQ(i_findAllRunsInLine(rc.t.state, wide.data(), 100, 0, rc.first, nullptr), VLT_ERR_PARAM);
  ASSERT_EQ(i_findAllRunsInLine(rc.t.state, wide.data(), IP_RUN_MAX_COLUMN, 5, rc.first, rc.cells), VLT_OK);
  EXPECT_EQ(rc.runs(), (Runs{{5, IP_RUN_MAX_COLUMN}}));
}

TEST(LineRuns, AllocationFailureIsReturned) {
  RunCells rc;
  const auto line = line_of(200, {{0, 0}, {2, 2}, {4, 4}, {6, 6}, {8, 8}, {10, 10}, {12, 12}});
  rc.t.alloc.fail_at(1);
  EXPECT_EQ(i_findAllRunsInLine(rc.t.state, line.data(), 200, 0, rc.first, rc.cells), VLT_ERR_NOMEM);
}

}  // namespace
