#ifndef DIO_FIXTURE_H
#define DIO_FIXTURE_H

// An interpreter state made from "pagefiler.ucm" over a counting heap, as the interpreter makes
// one for the library; its messages and the engine's are kept. Every test ends with nothing left
// on the heap.

#include <gtest/gtest.h>

#include <string>

#include "counting_alloc.h"
#include "dio.h"
#include "interp_fixture.h"

namespace monotest {

class DocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const elf_heap_procs procs{CountingAllocator::c_malloc, CountingAllocator::c_calloc, CountingAllocator::c_free,
                               &heap};
    elfSetHeap(&procs);
    KVngSetPrinter(keep_engine_message, &engine_messages);
    state = initState(nullptr, "pagefiler.ucm");
    ASSERT_NE(state, nullptr) << "pagefiler.ucm is not beside the interpreter library";
    state->print = keep_message;
    state->printData = &messages;
  }

  void TearDown() override {
    elfDiscard(result);
    freeState(state);
    KVngSetPrinter(nullptr, nullptr);
    elfSetHeap(nullptr);
    EXPECT_EQ(heap.live_blocks(), 0u) << "blocks left on the interpreter heap";
    EXPECT_EQ(heap.foreign(), 0u) << "blocks freed that the heap never handed out";
  }

  static void keep_message(void* data, const char* text) { *static_cast<std::string*>(data) += text; }
  static void keep_engine_message(void* data, int, const char* text) { *static_cast<std::string*>(data) += text; }

  // Calls a member as the interpreter does; the result list stays in result until the next call.
  int call(elf_object* obj, const char* member, elf_object* args = nullptr) {
    elfDiscard(result);
    result = nullptr;
    clearStatus(state);
    return call_elf_object_method(state, obj, member, args, &result);
  }

  // Calls a method whose target is the context.
  int call_context(elf_method_proc method, elf_object* args) {
    elfDiscard(result);
    result = nullptr;
    clearStatus(state);
    return method(state, args, &result);
  }

  std::string status_message() const { return getStatusMessage(state); }

  CountingAllocator heap;
  elf_state* state = nullptr;
  elf_object* result = nullptr;
  std::string messages, engine_messages;
};

}  // namespace monotest

#endif
