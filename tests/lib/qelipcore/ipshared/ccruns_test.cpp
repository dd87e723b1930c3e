// Connected components from runs, against a flood-fill oracle.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "i_ccruns.h"
#include "ip_test_state.h"
#include "ref_bitmap.h"
#include "ref_components.h"
#include "sanitizer_size.h"

namespace {

using iptest::TestState;
using monotest::RefBitmap;
using monotest::RefComponent;
using monotest::RefRun;

// What a callback saw, with the lines of the run list rebuilt by the line rule.
struct Seen {
  int32_t xMin, yMin, width, height, pixels, runCount;
  std::vector<RefRun> runs;
};

struct Collector {
  std::vector<Seen> seen;
  int stopAt = 0;  // 1-based callback that returns stopValue
  int stopValue = 0;
};

int collect(IPState*, void* data, int32_t xMin, int32_t yMin, int32_t width, int32_t height,
            int32_t pixels, int32_t runCount, CCRun* runs) {
  auto* c = static_cast<Collector*>(data);
  Seen s{xMin, yMin, width, height, pixels, runCount, {}};
  int y = yMin + height - 1;
  for (const CCRun* r = runs; r; r = r->next) {
    s.runs.push_back({y, r->start, r->end});
    if (!r->next || r->next->end >= r->start - 1) --y;
  }
  c->seen.push_back(std::move(s));
  return static_cast<int>(c->seen.size()) == c->stopAt ? c->stopValue : 0;
}

// The bitmap placed at (x0, y0) of a buffer whose lines are exactly as long as the columns
// scanned need, so a read past the last byte of a line is caught.
struct Placed {
  std::vector<uint8_t> bytes;
  uint32_t bpl;
  Placed(const RefBitmap& bm, int x0, int y0) {
    bpl = static_cast<uint32_t>((x0 + bm.width + 7) / 8);
    bytes.assign(static_cast<size_t>(bpl) * (y0 + bm.height), 0);
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        if (bm.get(x, y)) {
          const int bx = x0 + x;
          bytes[static_cast<size_t>(y0 + y) * bpl + bx / 8] |= static_cast<uint8_t>(0x80 >> (bx & 7));
        }
  }
};

VltStatus find(IPState* s, const RefBitmap& bm, int x0, int y0, int conn, Collector* c,
               int minW = 1, int minH = 1, int* result = nullptr) {
  Placed p(bm, x0, y0);
  return i_findConnectedComponentRuns(s, p.bytes.data(), p.bpl, x0, y0, bm.width, bm.height, minW,
                                      minH, conn, c, collect, result);
}

RefBitmap from_rows(const std::vector<std::string>& rows) {
  RefBitmap bm(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) bm.set(x, y, rows[y][x] == '#');
  return bm;
}

// Compares the callbacks with the oracle's components shifted by the origin, in order.
void expect_same(const std::vector<Seen>& seen, const std::vector<RefComponent>& want, int x0,
                 int y0, const std::string& what) {
  ASSERT_EQ(seen.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    const RefComponent& w = want[i];
    const Seen& s = seen[i];
    ASSERT_EQ(s.xMin, w.xMin + x0) << what << " #" << i;
    ASSERT_EQ(s.yMin, w.yMin + y0) << what << " #" << i;
    ASSERT_EQ(s.width, w.xMax - w.xMin + 1) << what << " #" << i;
    ASSERT_EQ(s.height, w.yMax - w.yMin + 1) << what << " #" << i;
    ASSERT_EQ(s.pixels, w.pixels) << what << " #" << i;
    ASSERT_EQ(s.runCount, static_cast<int32_t>(w.runs.size())) << what << " #" << i;
    std::vector<RefRun> shifted = w.runs;
    for (RefRun& r : shifted) r = {r.y + y0, r.start + x0, r.end + x0};
    ASSERT_EQ(s.runs, shifted) << what << " #" << i;
  }
}

TEST(Components, SmallCases) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    int conn;
    size_t count;
  };
  const Case cases[] = {
      {"single pixel", {"...", ".#.", "..."}, 1, 1},
      {"corner pair, 8-connected", {"#.", ".#"}, 1, 1},
      {"corner pair, 4-connected", {"#.", ".#"}, 0, 2},
      {"U shape joined on the bottom line", {"#...#", "#...#", "#...#", "#####"}, 1, 1},
      {"U shape with arms of different heights", {"....#", "#...#", "#.#.#", "#####"}, 0, 1},
      {"touching the last line", {".....", "..#..", ".###."}, 1, 1},
      {"nested ring", {"#######", "#.....#", "#.###.#", "#.#.#.#", "#.###.#", "#.....#", "#######"}, 0, 2},
      {"staircase", {"#....", ".#...", "..#..", "...#.", "....#"}, 1, 1},
      {"comb from below", {"#.#.#.#", "#.#.#.#", "#######"}, 0, 1},
      {"W merging twice", {"#.#.#", "#.#.#", "##.##", ".###."}, 1, 1},
  };
  for (const Case& c : cases) {
    TestState t;
    const RefBitmap bm = from_rows(c.rows);
    Collector col;
    ASSERT_EQ(find(t.state, bm, 0, 0, c.conn, &col), VLT_OK) << c.name;
    const auto want = monotest::flood_fill_components(bm, c.conn ? 8 : 4);
    EXPECT_EQ(want.size(), c.count) << c.name;
    expect_same(col.seen, want, 0, 0, c.name);
  }
}

TEST(Components, TwoBySquareGivesItsRunsBottomUp) {
  TestState t;
  RefBitmap bm(16, 10);
  for (int y : {5, 6})
    for (int x : {10, 11}) bm.set(x, y, 1);
  Collector col;
  Placed p(bm, 0, 0);
  ASSERT_EQ(i_findConnectedComponentRuns(t.state, p.bytes.data(), p.bpl, 0, 0, 16, 10, 1, 1, 1, &col,
                                         collect, nullptr),
            VLT_OK);
  ASSERT_EQ(col.seen.size(), 1u);
  const Seen& s = col.seen[0];
  EXPECT_EQ((std::vector<int32_t>{s.xMin, s.yMin, s.width, s.height, s.pixels, s.runCount}),
            (std::vector<int32_t>{10, 5, 2, 2, 4, 2}));
  EXPECT_EQ(s.runs, (std::vector<RefRun>{{6, 10, 11}, {5, 10, 11}}));
}

TEST(Components, RandomImagesMatchTheFloodFill) {
  std::mt19937 rng(2024);
  TestState t;
  for (int i = 0; i < monotest::sanitizer_sized(2400, 300); ++i) {
    const int w = 1 + static_cast<int>(rng() % (i % 10 == 0 ? 300 : 70));
    const int h = 1 + static_cast<int>(rng() % (i % 10 == 1 ? 300 : 70));
    const double density = 0.05 + 0.55 * (rng() % 1000) / 1000.0;
    const RefBitmap bm = monotest::make_noise(w, h, density, static_cast<uint32_t>(rng()));
    const int conn = static_cast<int>(i & 1);
    const int x0 = static_cast<int>(rng() % 70), y0 = static_cast<int>(rng() % 5);
    Collector col;
    ASSERT_EQ(find(t.state, bm, x0, y0, conn, &col), VLT_OK);
    expect_same(col.seen, monotest::flood_fill_components(bm, conn ? 8 : 4), x0, y0,
                "image " + std::to_string(i) + " " + std::to_string(w) + "x" + std::to_string(h));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(Components, SizeFilterDropsButKeepsGoing) {
  TestState t;
  const RefBitmap bm = from_rows({"##..#.###", "##.....#.", "......###"});
  Collector col;
  ASSERT_EQ(find(t.state, bm, 0, 0, 1, &col, 2, 2), VLT_OK);
  ASSERT_EQ(col.seen.size(), 2u);
  EXPECT_EQ(col.seen[0].xMin, 0);
  EXPECT_EQ(col.seen[1].xMin, 6);
  Collector tall;
  ASSERT_EQ(find(t.state, bm, 0, 0, 1, &tall, 1, 3), VLT_OK);
  ASSERT_EQ(tall.seen.size(), 1u);
  EXPECT_EQ(tall.seen[0].height, 3);
}

TEST(Components, CallbackErrorStopsTheWalk) {
  TestState t;
  const RefBitmap bm = from_rows({"#.#.#.#", ".......", "#.#.#.#"});
  Collector col;
  col.stopAt = 2;
  col.stopValue = 5;
  int result = 0;
  EXPECT_EQ(find(t.state, bm, 3, 1, 1, &col, 1, 1, &result), VLT_ERR_CALLBACK);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(col.seen.size(), 2u);
  int untouched = 77;
  Collector fine;
  EXPECT_EQ(find(t.state, bm, 0, 0, 1, &fine, 1, 1, &untouched), VLT_OK);
  EXPECT_EQ(untouched, 77);
}

TEST(Components, ArgumentChecks) {
  TestState t;
  std::vector<uint8_t> buf(4096, 0xFF);
  Collector col;
  struct Case { int32_t x0, y0, w, h, conn; VltStatus want; };
  const Case cases[] = {
      {0, 0, 0, 5, 1, VLT_OK},        {0, 0, 5, 0, 1, VLT_OK},          {0, 0, 5, -3, 1, VLT_OK},
      {0, 0, 5, 5, 2, VLT_ERR_PARAM}, {0, 0, 5, 5, -1, VLT_ERR_PARAM},  {-1, 0, 5, 5, 1, VLT_ERR_PARAM},
      {0, -1, 5, 5, 1, VLT_ERR_PARAM}, {32700, 0, 53, 1, 1, VLT_ERR_PARAM},
  };
  for (const Case& c : cases)
    EXPECT_EQ(i_findConnectedComponentRuns(t.state, buf.data(), 8, c.x0, c.y0, c.w, c.h, 1, 1, c.conn,
                                           &col, collect, nullptr),
              c.want);
  EXPECT_TRUE(col.seen.empty());
  EXPECT_EQ(t.alloc.allocations(), 2u);  // nothing beyond the state's own records
  EXPECT_EQ(i_findConnectedComponentRuns(nullptr, buf.data(), 8, 0, 0, 5, 5, 1, 1, 1, &col, collect, nullptr),
            VLT_ERR_NOMEM);
  EXPECT_EQ(i_findConnectedComponentRuns(t.state, buf.data(), 8, 0, 0, 5, 5, 1, 1, 1, &col, nullptr, nullptr),
            VLT_ERR_PARAM);
  // The widest line the run records hold.
  std::vector<uint8_t> wide(32752 / 8, 0);
  wide[0] = 0x80;
  wide.back() = 0x01;
  ASSERT_EQ(i_findConnectedComponentRuns(t.state, wide.data(), static_cast<uint32_t>(wide.size()), 0, 0,
                                         IP_RUN_MAX_COLUMN + 1, 1, 1, 1, 1, &col, collect, nullptr),
            VLT_OK);
  ASSERT_EQ(col.seen.size(), 2u);
  EXPECT_EQ(col.seen[1].xMin, IP_RUN_MAX_COLUMN);
}

TEST(Components, EveryAllocationFailureIsCleanedUp) {
  const RefBitmap bm = monotest::make_noise(200, 120, 0.4, 3);
  Collector reference;
  {
    TestState t;
    ASSERT_EQ(find(t.state, bm, 0, 0, 1, &reference), VLT_OK);
  }
  for (size_t k = 1;; ++k) {
    TestState t;
    t.alloc.fail_at(k);
    Collector col;
    const VltStatus s = find(t.state, bm, 0, 0, 1, &col);
    if (t.alloc.failures() == 0) {
      EXPECT_EQ(s, VLT_OK);
      break;
    }
    EXPECT_EQ(s, VLT_ERR_NOMEM) << k;
    EXPECT_LE(col.seen.size(), reference.seen.size());
  }
}

// Runs and records go back to their cells as soon as nothing refers to them, so a tall page
// needs no more memory than a short one of the same width.
TEST(Components, MemoryFollowsTheFrontierNotThePage) {
  size_t peak[2];
  for (int i : {0, 1}) {
    TestState t;
    const RefBitmap bm = monotest::make_noise(200, i == 0 ? 300 : 6000, 0.25, 8);  // no giant component
    Collector col;
    ASSERT_EQ(find(t.state, bm, 0, 0, 1, &col), VLT_OK);
    peak[i] = t.alloc.peak_bytes();
  }
  EXPECT_LE(peak[1], peak[0] + 2 * 128 * sizeof(CCComponent) + 2 * 256 * sizeof(CCRun));
}

TEST(Components, StateRecordLifecycle) {
  TestState t;
  size_t size = 0;
  ASSERT_EQ(i_getCCStateSize(t.state, &size), VLT_OK);
  EXPECT_EQ(size, sizeof(CCState));
  EXPECT_EQ(i_getCCStateSize(t.state, nullptr), VLT_ERR_NULL);
  HeapManager m{};
  ASSERT_EQ(i_initializeHeapManager(t.state, &m), VLT_OK);
  CCState cc;
  ASSERT_EQ(i_initializeCCState(t.state, &cc, &m), VLT_OK);
  for (CCRun* head : {cc.runListA, cc.runListB}) {
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->start, IP_RUN_HEAD_SENTINEL);
    ASSERT_NE(head->next, nullptr);
    EXPECT_EQ(head->next->start, IP_RUN_TAIL_SENTINEL);
    EXPECT_EQ(head->next->next, nullptr);
  }
  HeapManager* got = nullptr;
  ASSERT_EQ(i_getCCStateHeapManager(t.state, &cc, &got), VLT_OK);
  EXPECT_EQ(got, &m);
  EXPECT_EQ(i_getCCStateHeapManager(t.state, nullptr, &got), VLT_ERR_NULL);
  EXPECT_EQ(i_getCCStateHeapManager(t.state, &cc, nullptr), VLT_ERR_NULL);
  ASSERT_EQ(i_destroyCCState(t.state, &cc), VLT_OK);
  EXPECT_EQ(m.blockCount, 0u);

  CCState cleared;
  cleared.runCells = reinterpret_cast<CellBlock*>(&m);
  EXPECT_EQ(i_initializeCCState(t.state, &cleared, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(cleared.runCells, nullptr);
  EXPECT_EQ(i_initializeCCState(t.state, nullptr, &m), VLT_ERR_NULL);
  for (size_t k : {1u, 2u}) {
    t.alloc.fail_at(k);
    CCState failed;
    EXPECT_EQ(i_initializeCCState(t.state, &failed, &m), VLT_ERR_NOMEM);
    EXPECT_EQ(failed.componentCells, nullptr);
    EXPECT_EQ(failed.runCells, nullptr);
    EXPECT_EQ(m.blockCount, 0u);
  }
  ASSERT_EQ(i_destroyHeapManager(t.state, &m), VLT_OK);
}

}  // namespace
