#ifndef INTERP_FIXTURE_H
#define INTERP_FIXTURE_H

// An interpreter state over a counting heap: every test ends with nothing left on the heap and
// nothing freed that the heap did not hand out; messages of the state are kept.

#include <gtest/gtest.h>

#include <string>

#include "counting_alloc.h"
#include "qelinterp.h"

namespace monotest {

class InterpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const elf_heap_procs procs{CountingAllocator::c_malloc, CountingAllocator::c_calloc, CountingAllocator::c_free,
                               &heap};
    elfSetHeap(&procs);
    state = initState(nullptr, "tests");
    ASSERT_NE(state, nullptr);
    state->print = keep_message;
    state->printData = &messages;
  }

  void TearDown() override {
    freeState(state);
    elfSetHeap(nullptr);
    EXPECT_EQ(heap.live_blocks(), 0u) << "blocks left on the interpreter heap";
    EXPECT_EQ(heap.foreign(), 0u) << "blocks freed that the heap never handed out";
  }

  static void keep_message(void* data, const char* text) { *static_cast<std::string*>(data) += text; }

  CountingAllocator heap;
  elf_state* state = nullptr;
  std::string messages;
};

}  // namespace monotest

#endif
