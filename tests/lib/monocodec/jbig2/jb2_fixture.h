#ifndef JB2_FIXTURE_H
#define JB2_FIXTURE_H

// The engine-state fixture for codec tests: counting allocator, collecting printer, and a check
// that each test frees what it took. The list pool keeps its first chunk with the state, so it
// is taken before the count starts.

#include "counted_engine_test.h"
#include "jb2_file.h"
#include "vlt_adt.h"

struct Jb2Test : CountedEngineTest {
  void SetUp() override {
    CountedEngineTest::SetUp();
    VltAdtList* warm = nullptr;
    ASSERT_EQ(VltAdt_liNew(&warm, state), VLT_OK);
    VltAdt_liFree(warm);
    baseline = alloc.live_blocks();
  }
};

// The same with a stream context for the readers, which use only its engine state.
struct Jb2ReadTest : Jb2Test {
  Jb2File* file = nullptr;
  void SetUp() override {
    Jb2Test::SetUp();
    ASSERT_EQ(jb2CreateFile(nullptr, nullptr, state, &file), VLT_OK);
  }
  void TearDown() override {
    jb2FreeFile(file);
    Jb2Test::TearDown();
  }
};

#endif
