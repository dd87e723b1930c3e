#ifndef COUNTED_ENGINE_TEST_H
#define COUNTED_ENGINE_TEST_H

// A fixture with an engine state over a counting allocator and a collecting printer; it checks
// at the end that the test left nothing allocated and freed nothing it was not given.

#include <gtest/gtest.h>

#include "counting_alloc.h"
#include "report_collector.h"
#include "vlt_state.h"

struct CountedEngineTest : testing::Test {
  monotest::CountingAllocator alloc;
  VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                  monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  monotest::CollectedReports printed;
  VltState* state = nullptr;
  size_t baseline = 0;

  void SetUp() override {
    alloc.make_current();
    ASSERT_EQ(Vlt_initVltState(&state, &mem, nullptr, &printed, monotest::collect_report, 0, 0), VLT_OK);
    baseline = alloc.live_blocks();
  }
  void TearDown() override {
    EXPECT_EQ(alloc.live_blocks(), baseline) << "the test leaked";
    Vlt_cleanupVltState(&state);
    EXPECT_EQ(alloc.foreign(), 0u) << "freed memory the allocator never gave";
  }
};

#endif
