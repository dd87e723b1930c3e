#ifndef IP_TEST_STATE_H
#define IP_TEST_STATE_H

// An initialised IPState whose three slots draw on one counting allocator.

#include <gtest/gtest.h>

#include <vector>

#include "counting_alloc.h"
#include "ipcore.h"

namespace iptest {

using monotest::CountingAllocator;

struct TestState {
  CountingAllocator alloc;
  std::vector<uint8_t> record;
  IPState* state = nullptr;

  TestState() {
    uint32_t size = 0;
    i_getSizeOfIPState(&size);
    record.assign(size, 0);
    state = reinterpret_cast<IPState*>(record.data());
    void* a = &alloc;
    const VltStatus s = i_IPStateInit(
        state, CountingAllocator::c_malloc, CountingAllocator::c_calloc, CountingAllocator::c_realloc,
        CountingAllocator::c_free, a, CountingAllocator::c_malloc, CountingAllocator::c_calloc,
        CountingAllocator::c_realloc, CountingAllocator::c_free, a, CountingAllocator::c_malloc,
        CountingAllocator::c_calloc, CountingAllocator::c_realloc, CountingAllocator::c_free, a,
        nullptr, nullptr, nullptr, nullptr, nullptr, static_cast<int32_t>(size));
    EXPECT_EQ(s, VLT_OK);
  }
  ~TestState() {
    EXPECT_EQ(i_IPStateTerm(state), VLT_OK);
    EXPECT_EQ(alloc.live_blocks(), 0u);
    EXPECT_EQ(alloc.foreign(), 0u);
  }
  TestState(const TestState&) = delete;
  TestState& operator=(const TestState&) = delete;
};

}  // namespace iptest

#endif
