// Engine state: construction and teardown, memory accounting, small-block pools.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "counting_alloc.h"
#include "report_collector.h"
#include "ipw_state.h"
#include "vlt_state.h"

namespace {

using monotest::CountingAllocator;

// The engine state over a counting allocator.
struct Counted {
  CountingAllocator alloc;
  VltMemFuncs mem{CountingAllocator::g_malloc, CountingAllocator::g_free, CountingAllocator::g_calloc,
                  CountingAllocator::g_realloc};
  Counted() { alloc.make_current(); }
};

VltSmallMem* pools_of(VltState* s) { return static_cast<VltSmallMem*>(s->smallContext); }

TEST(VltState, DefaultsGiveOwnPoolsLibcMemoryReporterAndWrapper) {
  monotest::CollectedReports printed;
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, nullptr, nullptr, &printed, monotest::collect_report, 1, 1), VLT_OK);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->flags, VLT_STATE_OWNS_POOLS | VLT_STATE_LIBC_MEMORY);
  ASSERT_NE(s->errState, nullptr);
  EXPECT_EQ(s->errState->context, &printed);
  EXPECT_NE(s->ipwState, nullptr);
  EXPECT_EQ(s->ipState, nullptr);
  EXPECT_EQ(s->smallAlloc, vlt_mallocSmall);
  VltSmallMem* m = pools_of(s);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->owner, s);
  for (uint32_t i = 0; i < VLT_POOL_COUNT; ++i) {
    EXPECT_EQ(m->pools[i], &m->desc[i]);
    EXPECT_EQ(m->desc[i].blockSize, 64u);
  }
  EXPECT_EQ(Vlt_cleanupVltState(&s), VLT_OK);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(Vlt_cleanupVltState(&s), VLT_OK);
  EXPECT_EQ(Vlt_cleanupVltState(nullptr), VLT_OK);
  EXPECT_TRUE(printed.codes.empty());
}

TEST(VltState, IncompleteTablesOrNullPlaceAreRefusedAndReported) {
  auto* const marker = reinterpret_cast<VltState*>(uintptr_t{0x40});
  const VltMemFuncs good{std::malloc, std::free, std::calloc, std::realloc};
  VltMemFuncs no_realloc = good, no_free = good;
  no_realloc.realloc = nullptr;
  no_free.free = nullptr;
  const VltSmallPoolFuncs no_alloc{nullptr, nullptr, vlt_freeSmall};
  const struct {
    const VltMemFuncs* mem;
    const VltSmallPoolFuncs* pools;
  } cases[] = {{&no_realloc, nullptr}, {&no_free, nullptr}, {nullptr, &no_alloc}};
  for (const auto& c : cases) {
    monotest::CollectedReports printed;
    VltState* s = marker;
    EXPECT_EQ(Vlt_initVltState(&s, c.mem, c.pools, &printed, monotest::collect_report, 0, 0), VLT_ERR_NULL);
    EXPECT_EQ(s, marker);
    EXPECT_EQ(printed.text, "Unexpected NULL pointer\n");
  }
  monotest::CollectedReports printed;
  EXPECT_EQ(Vlt_initVltState(nullptr, nullptr, nullptr, &printed, monotest::collect_report, 0, 0), VLT_ERR_NULL);
  EXPECT_EQ(printed.codes, std::vector<VltStatus>{VLT_ERR_NULL});
  EXPECT_EQ(Vlt_initVltState(nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), VLT_ERR_NULL);
}

TEST(VltState, CallerPoolsAreCopiedAndNeverSelectedOrFreed) {
  Counted c;
  VltState* own = nullptr;
  ASSERT_EQ(Vlt_initVltState(&own, &c.mem, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  const VltSmallPoolFuncs borrowed{nullptr, vlt_mallocSmall, vlt_freeSmall};
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, &c.mem, &borrowed, nullptr, nullptr, 0, 0), VLT_OK);
  EXPECT_EQ(s->flags, 0u);
  EXPECT_EQ(s->smallContext, nullptr);
  EXPECT_EQ(s->errState, nullptr);
  EXPECT_EQ(Vlt_selectPools(s, 0), VLT_OK);
  EXPECT_EQ(Vlt_selectPools(nullptr, 0), VLT_ERR_PARAM);
  const size_t before = c.alloc.live_blocks();
  Vlt_cleanupVltState(&s);
  EXPECT_EQ(c.alloc.live_blocks(), before - 1);
  Vlt_cleanupVltState(&own);
  EXPECT_EQ(c.alloc.live_blocks(), 0u);
}

TEST(VltState, CleanupReturnsEveryBlockAfterAFailureAtEachStepOfInit) {
  // Learn how many allocations a full init makes, then fail each one in turn.
  size_t steps = 0;
  {
    Counted c;
    VltState* s = nullptr;
    monotest::CollectedReports printed;
    ASSERT_EQ(Vlt_initVltState(&s, &c.mem, nullptr, &printed, monotest::collect_report, 1, 1), VLT_OK);
    steps = c.alloc.allocations();
    void* block = nullptr;
    ASSERT_EQ(s->smallAlloc(s->smallContext, 3, &block), VLT_OK);
    Vlt_cleanupVltState(&s);
    EXPECT_EQ(c.alloc.live_blocks(), 0u);
    EXPECT_EQ(c.alloc.foreign(), 0u);
  }
  ASSERT_GE(steps, 4u);
  for (size_t k = 1; k <= steps; ++k) {
    Counted c;
    monotest::CollectedReports printed;
    auto* const marker = reinterpret_cast<VltState*>(uintptr_t{0x40});
    VltState* s = marker;
    c.alloc.fail_at(k);
    EXPECT_NE(Vlt_initVltState(&s, &c.mem, nullptr, &printed, monotest::collect_report, 1, 1), VLT_OK) << "step " << k;
    EXPECT_EQ(s, marker) << "step " << k;
    EXPECT_EQ(c.alloc.live_blocks(), 0u) << "step " << k;
    EXPECT_EQ(c.alloc.foreign(), 0u) << "step " << k;
    EXPECT_FALSE(printed.codes.empty()) << "step " << k;
  }
}

TEST(VltState, WrapperAllocatesThroughTheStateAndReportsAsDideva) {
  Counted c;
  monotest::CollectedReports printed;
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, &c.mem, nullptr, &printed, monotest::collect_report, 0, 0), VLT_OK);
  const size_t without = c.alloc.live_blocks();
  ASSERT_EQ(Vlt_initIPWState(s), VLT_OK);
  EXPECT_GT(c.alloc.live_blocks(), without);
  IPWState* first = s->ipwState;
  EXPECT_EQ(Vlt_initIPWState(s), VLT_OK);
  EXPECT_EQ(s->ipwState, first);
  w_printErrorInfo(s->ipwState, "f.cpp", 3, 118);
  EXPECT_EQ(printed.codes, std::vector<VltStatus>{VLT_ERR_DIDEVA});
  EXPECT_EQ(printed.text, "--VERiza Error-- File:f.cpp Line:3 Error: 118\n\n");
  EXPECT_EQ(Vlt_cleanupIPWState(s), VLT_OK);
  EXPECT_EQ(s->ipwState, nullptr);
  EXPECT_EQ(c.alloc.live_blocks(), without);
  EXPECT_EQ(Vlt_initIPWState(nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(Vlt_cleanupIPWState(nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(Vlt_initIPState(nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(Vlt_cleanupIPState(nullptr), VLT_ERR_PARAM);
  s->ipState = static_cast<IPState*>(s->malloc(16));
  EXPECT_EQ(Vlt_cleanupIPState(s), VLT_OK);
  EXPECT_EQ(s->ipState, nullptr);
  Vlt_cleanupVltState(&s);
  EXPECT_EQ(c.alloc.live_blocks(), 0u);
}

TEST(VltState, StateWithoutReporterKeepsWrapperErrorsSilent) {
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 1, 0), VLT_OK);
  EXPECT_EQ(s->ipwState->errorData, nullptr);
  w_printErrorInfo(s->ipwState, "f.cpp", 3, 118);
  Vlt_cleanupVltState(&s);
}

TEST(VltPools, ChunksOfAThousandBlocksAreCarvedOnDemand) {
  for (uint32_t pool : {3u, 7u}) {
    Counted c;
    VltState* s = nullptr;
    ASSERT_EQ(Vlt_initVltState(&s, &c.mem, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
    const size_t quantum = pool == 7 ? 100 : 1000;
    const size_t base = c.alloc.allocations();
    std::set<uintptr_t> seen;
    for (size_t i = 0; i < quantum; ++i) {
      void* b = nullptr;
      ASSERT_EQ(vlt_mallocSmall(s->smallContext, pool, &b), VLT_OK);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(uint64_t), 0u);
      EXPECT_TRUE(seen.insert(reinterpret_cast<uintptr_t>(b)).second);
      std::memset(b, 0xA5, VLT_POOL_BLOCK_SIZE);
    }
    EXPECT_EQ(c.alloc.allocations(), base + 1) << "pool " << pool;
    void* b = nullptr;
    ASSERT_EQ(vlt_mallocSmall(s->smallContext, pool, &b), VLT_OK);
    EXPECT_EQ(c.alloc.allocations(), base + 2);
    EXPECT_EQ(pools_of(s)->usedMask, 1u << pool);
    // A freed block is the next one handed out.
    void* again = nullptr;
    vlt_freeSmall(s->smallContext, pool, b);
    ASSERT_EQ(vlt_mallocSmall(s->smallContext, pool, &again), VLT_OK);
    EXPECT_EQ(again, b);
    Vlt_cleanupVltState(&s);
    EXPECT_EQ(c.alloc.live_blocks(), 0u);
  }
}

TEST(VltPools, ArgumentChecksAndExhaustedMemory) {
  Counted c;
  monotest::CollectedReports printed;
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, &c.mem, nullptr, &printed, monotest::collect_report, 0, 0), VLT_OK);
  void* b = nullptr;
  EXPECT_EQ(vlt_mallocSmall(nullptr, 0, &b), VLT_ERR_ASSERT);
  EXPECT_EQ(vlt_mallocSmall(s->smallContext, 8, &b), VLT_ERR_ASSERT);
  EXPECT_EQ(vlt_mallocSmall(s->smallContext, 0, nullptr), VLT_ERR_ASSERT);
  c.alloc.fail_at(1);
  EXPECT_EQ(vlt_mallocSmall(s->smallContext, 0, &b), VLT_ERR_NOMEM);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(printed.text, "Unable to allocate memory\n");
  EXPECT_EQ(pools_of(s)->usedMask, 0u);
  EXPECT_EQ(vlt_initSmallMem(nullptr, nullptr), VLT_ERR_PARAM);
  EXPECT_EQ(vlt_initSmallMem(s, nullptr), VLT_ERR_NULL);
  c.alloc.fail_at(1);
  VltSmallMem* m = nullptr;
  EXPECT_EQ(vlt_initSmallMem(s, &m), VLT_ERR_NOMEM);
  EXPECT_EQ(m, nullptr);
  Vlt_cleanupVltState(&s);
  EXPECT_EQ(c.alloc.live_blocks(), 0u);
}

TEST(VltPools, UnselectedPoolsShareTheNextSelectedDescriptor) {
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  VltSmallMem* m = pools_of(s);
  ASSERT_EQ(Vlt_selectPools(s, 0), VLT_OK);
  for (uint32_t i = 0; i < VLT_POOL_COUNT; ++i) EXPECT_EQ(m->pools[i], &m->desc[7]) << i;

  // Pool 3 gets its own chunk; a later narrower selection must keep it reachable.
  ASSERT_EQ(Vlt_selectPools(s, 1u << 3), VLT_OK);
  void* b = nullptr;
  ASSERT_EQ(s->smallAlloc(s->smallContext, 1, &b), VLT_OK);  // pool 1 shares descriptor 3
  EXPECT_EQ(m->usedMask, 1u << 3);
  ASSERT_EQ(Vlt_selectPools(s, 1u << 5), VLT_OK);
  const int expected[VLT_POOL_COUNT] = {3, 3, 3, 3, 5, 5, 7, 7};
  for (uint32_t i = 0; i < VLT_POOL_COUNT; ++i) EXPECT_EQ(m->pools[i], &m->desc[expected[i]]) << i;
  s->smallFree(s->smallContext, 1, b);
  EXPECT_EQ(m->desc[3].freeList, b);

  s->flags &= ~VLT_STATE_OWNS_POOLS;
  EXPECT_EQ(Vlt_selectPools(s, 0), VLT_OK);
  EXPECT_EQ(m->pools[0], &m->desc[3]);
  s->flags |= VLT_STATE_OWNS_POOLS;
  s->smallContext = nullptr;
  EXPECT_EQ(Vlt_selectPools(s, 0), VLT_ERR_NULL);
  s->smallContext = m;
  Vlt_cleanupVltState(&s);
}

TEST(VltPools, SizesAndValidation) {
  for (uint32_t i = 0; i < VLT_POOL_COUNT; ++i) EXPECT_EQ(Vlt_getPoolSize(i), 64);
  EXPECT_EQ(Vlt_getPoolSize(8), -1);
  EXPECT_EQ(Vlt_getPoolSize(UINT32_MAX), -1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Vlt_validatePoolSize("node", 16, 3), 1);
  EXPECT_EQ(Vlt_validatePoolSize("big", 65, 3), 0);
  EXPECT_EQ(Vlt_validatePoolSize("none", 4, 8), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "node = 16\nbig = 65\nnone = 4\n");
}

}  // namespace
