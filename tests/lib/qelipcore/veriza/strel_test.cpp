// Structuring elements: cells and centre, builders, the predefined table and the manager.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "counting_alloc.h"
#include "ipw_state.h"
#include "strel.h"

namespace {

using monotest::CountingAllocator;
using C = CountingAllocator;

void collect_line(void* data, const char* text) { static_cast<std::vector<std::string>*>(data)->push_back(text); }

// A wrapper state over a counting allocator, checked for leaks at the end.
class StrelTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(w_IPWStateInit(C::c_malloc, C::c_calloc, C::c_realloc, C::c_free, &alloc_, C::c_malloc,
                             C::c_calloc, C::c_realloc, C::c_free, &alloc_, collect_line, &lines_, nullptr,
                             nullptr, nullptr, nullptr, &s_),
              VLT_OK);
  }
  void TearDown() override {
    if (s_ != nullptr) {
      EXPECT_EQ(w_IPWStateTerm(&s_), VLT_OK);
    }
    EXPECT_EQ(alloc_.live_blocks(), 0u);
    EXPECT_EQ(alloc_.foreign(), 0u);
  }
  StrelMgr* mgr() { return static_cast<StrelMgr*>(s_->strelInfo); }

  CountingAllocator alloc_;
  std::vector<std::string> lines_;
  IPWState* s_ = nullptr;
};

struct Shape {
  int32_t width, height, cx, cy, hits, misses;
};

// Expected geometry of every predefined id, from the table of elements.
std::vector<Shape> expected_table() {
  std::vector<Shape> t(75);
  const int lines[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 19, 20, 25, 30, 35, 40, 45, 50};
  for (int i = 0; i < 19; ++i) {
    const int n = lines[i];
    t[2 * i + 1] = {n, 1, (n - 1) / 2, 0, n, 0};
    t[2 * i + 2] = {1, n, 0, (n - 1) / 2, n, 0};
  }
  t[24].cy = 10;
  for (int side = 1; side <= 5; ++side) t[38 + side] = {side, side, (side - 1) / 2, (side - 1) / 2, side * side, 0};
  const Shape patterned[] = {
      {2, 2, 0, 0, 2, 0},     {2, 2, 0, 0, 2, 0},     {3, 3, 1, 1, 1, 8},     {4, 4, 1, 1, 0, 12},
      {5, 5, 2, 2, 0, 16},    {6, 6, 2, 2, 0, 20},    {3, 3, 1, 1, 8, 1},     {4, 4, 1, 1, 12, 0},
      {5, 5, 2, 2, 16, 0},    {5, 5, 2, 2, 9, 0},     {7, 7, 3, 3, 16, 0},    {9, 9, 4, 4, 5, 6},
      {9, 9, 4, 4, 5, 6},     {40, 1, 19, 0, 14, 0},  {1, 40, 0, 19, 14, 0},  {3, 3, 1, 1, 2, 2},
      {6, 10, 3, 5, 4, 4},    {5, 2, 2, 1, 4, 6},     {2, 5, 1, 1, 4, 6},     {5, 21, 4, 10, 11, 5},
      {2, 2, 0, 0, 0, 0},     {10, 16, 5, 8, 18, 5},  {16, 10, 8, 5, 18, 5},  {16, 10, 8, 5, 18, 5},
      {10, 16, 5, 8, 18, 5},  {16, 25, 7, 12, 15, 5}, {24, 15, 12, 7, 23, 5}, {24, 15, 12, 7, 23, 5},
      {16, 25, 7, 12, 15, 5}, {4, 3, 1, 1, 2, 10},    {3, 4, 1, 1, 2, 10},
  };
  for (int i = 0; i < 31; ++i) t[44 + i] = patterned[i];
  return t;
}

TEST_F(StrelTest, EveryPredefinedElementHasItsSizeCentreAndCells) {
  const std::vector<Shape> table = expected_table();
  for (uint32_t id = 1; id <= 74; ++id) {
    ASSERT_EQ(w_initStrelByName(s_, id), VLT_OK) << id;
    strel* e = nullptr;
    ASSERT_EQ(w_getStrel(s_, id, &e), VLT_OK) << id;
    const Shape& want = table[id];
    EXPECT_EQ(e->id, id);
    EXPECT_EQ(e->width, want.width) << id;
    EXPECT_EQ(e->height, want.height) << id;
    EXPECT_EQ(e->centerX, want.cx) << id;
    EXPECT_EQ(e->centerY, want.cy) << id;
    int hits = 0, misses = 0;
    for (int32_t y = 0; y < e->height; ++y)
      for (int32_t x = 0; x < e->width; ++x) {
        int32_t v = -1;
        ASSERT_EQ(w_strelGetPoint(s_, x, y, e, &v), VLT_OK);
        hits += v == STREL_HIT;
        misses += v == STREL_MISS;
        EXPECT_TRUE(v >= 0 && v <= 2);
      }
    EXPECT_EQ(hits, want.hits) << id;
    EXPECT_EQ(misses, want.misses) << id;
  }
  // Cells that tell neighbouring patterns apart.
  const struct {
    uint32_t id;
    int32_t x, y, value;
  } cells[] = {
      {44, 1, 0, 1}, {44, 0, 0, 0}, {46, 1, 1, 1}, {46, 0, 2, 2}, {50, 1, 1, 2}, {50, 2, 1, 1},
      {53, 4, 4, 1}, {53, 1, 0, 0}, {54, 6, 2, 1}, {54, 5, 2, 0}, {55, 4, 8, 2}, {55, 8, 4, 1},
      {56, 4, 8, 1}, {56, 8, 4, 2}, {57, 39, 0, 1}, {57, 38, 0, 0}, {58, 0, 36, 1}, {59, 2, 2, 1},
      {59, 0, 1, 2}, {61, 4, 1, 2}, {62, 1, 0, 2}, {63, 0, 20, 1}, {63, 0, 19, 0}, {63, 4, 20, 2},
      {65, 9, 15, 1}, {66, 3, 6, 2}, {67, 13, 4, 2}, {68, 5, 15, 1}, {69, 13, 24, 1}, {70, 5, 9, 2},
      {71, 23, 14, 1}, {72, 8, 19, 2}, {73, 2, 1, 1}, {73, 3, 2, 2}, {74, 1, 2, 1}, {74, 2, 3, 2},
  };
  for (const auto& c : cells) {
    strel* e = nullptr;
    ASSERT_EQ(w_getStrel(s_, c.id, &e), VLT_OK);
    int32_t v = -1;
    ASSERT_EQ(w_strelGetPoint(s_, c.x, c.y, e, &v), VLT_OK);
    EXPECT_EQ(v, c.value) << "id " << c.id << " at (" << c.x << "," << c.y << ")";
  }
  EXPECT_TRUE(lines_.empty());
}

TEST_F(StrelTest, ManagerCountsReferences) {
  ASSERT_EQ(w_initStrelByName(s_, 40), VLT_OK);
  ASSERT_EQ(w_initStrelByName(s_, 40), VLT_OK);
  strel *e = nullptr, *again = nullptr;
  ASSERT_EQ(w_getStrel(s_, 40, &e), VLT_OK);
  EXPECT_EQ(e->width, 2);
  EXPECT_EQ(mgr()->slots[40].refCount, 2);
  EXPECT_EQ(w_getStrel(s_, 40, &e), VLT_ERR_PARAM);  // the place must be empty
  ASSERT_EQ(w_releaseStrelByName(s_, nullptr, 40), VLT_OK);
  ASSERT_EQ(w_getStrel(s_, 40, &again), VLT_OK);
  EXPECT_EQ(again, e);
  ASSERT_EQ(w_releaseStrelByName(s_, mgr(), 40), VLT_OK);
  EXPECT_EQ(mgr()->slots[40].element, nullptr);
  EXPECT_EQ(mgr()->slots[40].refCount, 0);
  again = nullptr;
  EXPECT_EQ(w_getStrel(s_, 40, &again), VLT_ERR_STREL_EMPTY_SLOT);
  EXPECT_EQ(again, nullptr);

  const struct {
    const char* what;
    VltStatus got, want;
  } refusals[] = {
      {"get 75", w_getStrel(s_, 75, &again), VLT_ERR_STREL_EMPTY_SLOT},
      {"get 0", w_getStrel(s_, 0, &again), VLT_ERR_STREL_BAD_ID},
      {"get 76", w_getStrel(s_, 76, &again), VLT_ERR_STREL_BAD_ID},
      {"init 0", w_initStrelByName(s_, 0), VLT_ERR_PARAM},
      {"init 75", w_initStrelByName(s_, 75), VLT_ERR_PARAM},
      {"init 76", w_initStrelByName(s_, 76), VLT_ERR_PARAM},
      {"release never built", w_releaseStrelByName(s_, nullptr, 12), VLT_ERR_INTERNAL},
      {"release 0", w_releaseStrelByName(s_, nullptr, 0), VLT_ERR_PARAM},
      {"release beyond the table", w_releaseStrelByName(s_, nullptr, 100000), VLT_ERR_PARAM},
      {"null state", w_initStrelByName(nullptr, 40), VLT_ERR_NULL_IPWSTATE},
      {"release all without manager", w_releaseAllStrels(s_, nullptr), VLT_ERR_STREL_NO_MANAGER},
  };
  for (const auto& r : refusals) EXPECT_EQ(r.got, r.want) << r.what;
}

TEST_F(StrelTest, EndingTheManagerDestroysEveryHeldElement) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(w_initStrelByName(s_, 54), VLT_OK);
  ASSERT_EQ(w_initStrelByName(s_, 1), VLT_OK);
  ASSERT_EQ(w_termStrelMgr(s_), VLT_OK);
  EXPECT_EQ(s_->strelInfo, nullptr);
  EXPECT_EQ(w_termStrelMgr(s_), VLT_OK);
  strel* e = nullptr;
  EXPECT_EQ(w_getStrel(s_, 1, &e), VLT_ERR_STREL_NO_MANAGER);
  EXPECT_EQ(w_initStrelByName(s_, 1), VLT_ERR_STREL_NO_MANAGER);
  EXPECT_EQ(w_releaseStrelByName(s_, nullptr, 1), VLT_ERR_STREL_NO_MANAGER);
  ASSERT_EQ(w_initStrelMgr(s_), VLT_OK);
}

TEST_F(StrelTest, BuildFailuresLeaveTheSlotEmptyAndFreeWhatWasMade) {
  for (uint32_t id : {1u, 43u, 54u, 72u}) {
    for (size_t k = 1;; ++k) {
      alloc_.fail_at(k);
      const VltStatus st = w_initStrelByName(s_, id);
      if (st == VLT_OK) break;
      EXPECT_EQ(st, VLT_ERR_NOMEM);
      EXPECT_EQ(mgr()->slots[id].element, nullptr);
      EXPECT_EQ(mgr()->slots[id].refCount, 0);
    }
    alloc_.fail_at(0);
    ASSERT_EQ(w_releaseStrelByName(s_, nullptr, id), VLT_OK);
  }
}

TEST_F(StrelTest, CellsCentreAndCachedPrograms) {
  strel* e = nullptr;
  ASSERT_EQ(w_createStrel(s_, 3, 2, &e), VLT_OK);
  EXPECT_EQ(e->id, STREL_UNMANAGED_ID);
  EXPECT_EQ(e->generate, 1u);
  EXPECT_EQ(w_strelSetPoint(s_, 2, 1, 2, e), VLT_OK);
  int32_t v = 0;
  EXPECT_EQ(w_strelGetPoint(s_, 2, 1, e, &v), VLT_OK);
  EXPECT_EQ(v, 2);
  const struct {
    const char* what;
    VltStatus got, want;
  } refusals[] = {
      {"value 3", w_strelSetPoint(s_, 0, 0, 3, e), VLT_ERR_PARAM},
      {"value -1", w_strelSetPoint(s_, 0, 0, -1, e), VLT_ERR_PARAM},
      {"x = width", w_strelSetPoint(s_, 3, 0, 1, e), VLT_ERR_IPC_BOUNDS},
      {"y < 0", w_strelGetPoint(s_, 0, -1, e, &v), VLT_ERR_IPC_BOUNDS},
      {"centre out", w_strelSetCenter(s_, 0, 2, e), VLT_ERR_IPC_BOUNDS},
      {"null element", w_strelSetPoint(s_, 0, 0, 1, nullptr), VLT_ERR_NULL},
      {"null centre place", w_strelGetCenter(s_, e, nullptr, &v), VLT_ERR_NULL},
      {"null cache", w_strelCacheFree(s_, nullptr), VLT_ERR_NULL},
  };
  for (const auto& r : refusals) EXPECT_EQ(r.got, r.want) << r.what;
  for (auto [w, h] : {std::pair{0, 2}, std::pair{1, -1}}) {
    strel* empty = e;
    EXPECT_EQ(w_createStrel(s_, w, h, &empty), VLT_ERR_PARAM);
    EXPECT_EQ(empty, nullptr);  // a failed creation clears the place
  }

  // Changing a cell or the centre drops the generated programs but not the generation flag.
  for (int change = 0; change < 2; ++change) {
    e->dilateProgram = wp_alloc(s_, 16);
    e->longErodeProgram = wp_alloc(s_, 16);
    e->generate = 0;
    if (change == 0)
      ASSERT_EQ(w_strelSetPoint(s_, 1, 1, 1, e), VLT_OK);
    else
      ASSERT_EQ(w_strelSetCenter(s_, 2, 1, e), VLT_OK);
    EXPECT_EQ(e->dilateProgram, nullptr);
    EXPECT_EQ(e->longErodeProgram, nullptr);
    EXPECT_EQ(e->generate, 0u);
  }
  int32_t cx = 0, cy = 0;
  ASSERT_EQ(w_strelGetCenter(s_, e, &cx, &cy), VLT_OK);
  EXPECT_EQ(cx, 2);
  EXPECT_EQ(cy, 1);
  e->erodeProgram = wp_alloc(s_, 16);
  ASSERT_EQ(w_destroyStrel(s_, &e), VLT_OK);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(w_destroyStrel(s_, &e), VLT_OK);
}

TEST_F(StrelTest, CreationFailuresFreeWhatWasMade) {
  for (size_t k = 1; k <= 5; ++k) {
    alloc_.fail_at(k);
    strel* e = nullptr;
    const VltStatus st = w_createStrel(s_, 4, 3, &e);
    if (k <= 5 && st == VLT_OK) {
      ASSERT_EQ(w_destroyStrel(s_, &e), VLT_OK);
      continue;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM) << k;
    EXPECT_EQ(e, nullptr) << k;
  }
  strel* e = nullptr;
  EXPECT_EQ(w_createStrel(nullptr, 2, 2, &e), VLT_ERR_NOMEM);
  int16_t** rows = nullptr;
  EXPECT_EQ(w_matrix(s_, 2, 0, &rows), VLT_ERR_PARAM);
  EXPECT_EQ(rows, nullptr);
}

TEST_F(StrelTest, RuleBuilders) {
  strel *h = nullptr, *v = nullptr;
  ASSERT_EQ(w_createHorizRuleStrel(s_, 2, &h), VLT_OK);
  ASSERT_EQ(w_createVertRuleStrel(s_, 2, &v), VLT_OK);
  EXPECT_EQ(h->width, 5);
  EXPECT_EQ(h->height, 5);
  EXPECT_EQ(h->centerX, 2);
  EXPECT_EQ(h->centerY, 2);
  for (int32_t a = 0; a < 5; ++a)
    for (int32_t b = 0; b < 5; ++b) {
      const int16_t want = a % 2 != 0 ? 0 : b == 2 ? 1 : b % 2 == 0 ? 2 : 0;
      EXPECT_EQ(h->cells[b][a], want) << a << "," << b;
      EXPECT_EQ(v->cells[a][b], want) << a << "," << b;
    }
  EXPECT_EQ(w_createHorizRuleStrel(s_, 2, &h), VLT_ERR_PARAM);
  strel* bad = nullptr;
  EXPECT_EQ(w_createVertRuleStrel(s_, 0, &bad), VLT_ERR_PARAM);
  EXPECT_EQ(w_makeSolidCenterStrel(s_, 3, 3, &h), VLT_ERR_PARAM);
  ASSERT_EQ(w_destroyStrel(s_, &h), VLT_OK);
  ASSERT_EQ(w_destroyStrel(s_, &v), VLT_OK);
}

}  // namespace
