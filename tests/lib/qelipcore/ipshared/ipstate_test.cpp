// The core state record: init and term, accessors, interval timing and console output.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ip_test_state.h"

namespace {

using iptest::TestState;
using monotest::CountingAllocator;

struct Record {
  std::vector<uint8_t> bytes;
  IPState* state;
  explicit Record(size_t extra = 0) {
    uint32_t size = 0;
    EXPECT_EQ(i_getSizeOfIPState(&size), VLT_OK);
    bytes.assign(size + extra, 0);
    state = reinterpret_cast<IPState*>(bytes.data());
  }
  uint32_t size() const { return static_cast<uint32_t>(sizeof(IPState)); }
};

VltStatus init_defaults(IPState* s, int32_t size) {
  return i_IPStateInit(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, size);
}

VltStatus init_counting(IPState* s, CountingAllocator* a) {
  using C = CountingAllocator;
  return i_IPStateInit(s, C::c_malloc, C::c_calloc, C::c_realloc, C::c_free, a, C::c_malloc,
                       C::c_calloc, C::c_realloc, C::c_free, a, C::c_malloc, C::c_calloc,
                       C::c_realloc, C::c_free, a, nullptr, nullptr, nullptr, nullptr, nullptr,
                       sizeof(IPState));
}

TEST(IPState, InitChecksBufferSize) {
  Record r;
  const int32_t size = static_cast<int32_t>(r.size());
  EXPECT_EQ(init_defaults(nullptr, size), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(init_defaults(r.state, size - 1), VLT_ERR_PARAM);
  EXPECT_EQ(init_defaults(r.state, -1), VLT_ERR_PARAM);
  ASSERT_EQ(init_defaults(r.state, size), VLT_OK);
  EXPECT_EQ(i_IPStateTerm(r.state), VLT_OK);
}

TEST(IPState, InitInstallsDefaultsAndFlags) {
  Record r;
  ASSERT_EQ(init_defaults(r.state, r.size()), VLT_OK);
  IPState* s = r.state;
  for (int slot = 0; slot < IP_NUM_SLOTS; ++slot) {
    EXPECT_NE(s->mallocProc[slot], nullptr);
    EXPECT_NE(s->callocProc[slot], nullptr);
    EXPECT_NE(s->reallocProc[slot], nullptr);
    EXPECT_NE(s->freeProc[slot], nullptr);
    EXPECT_EQ(s->allocData[slot], nullptr);
  }
  // The defaults are the C library's: a block from one slot can be grown and freed.
  void* p = s->mallocProc[1](16, nullptr);
  ASSERT_NE(p, nullptr);
  p = s->reallocProc[1](p, 64, nullptr);
  ASSERT_NE(p, nullptr);
  s->freeProc[1](p, nullptr);

  uint32_t flag = 9;
  EXPECT_EQ(ip_IPStateGetLongAccessFlag(s, &flag), VLT_OK);
  EXPECT_EQ(flag, 1u);
  EXPECT_EQ(ip_IPStateGetPurifyIsRunning(s, &flag), VLT_OK);
  EXPECT_EQ(flag, 0u);
  EXPECT_NE(s->dataCacheInitializer, nullptr);
  EXPECT_NE(s->cacheControl, nullptr);
  EXPECT_EQ(s->minIntervalTimes, nullptr);
  const char* name = nullptr;
  EXPECT_EQ(ip_IPStateGetPrivateDirName(s, &name), VLT_OK);
  EXPECT_STREQ(name, "");

  // Init over a live record re-installs the slots, then refuses the cache records.
  EXPECT_EQ(init_defaults(s, r.size()), VLT_ERR_NOT_NULL);

  EXPECT_EQ(i_IPStateTerm(s), VLT_OK);
  EXPECT_EQ(s->dataCacheInitializer, nullptr);
  EXPECT_EQ(s->cacheControl, nullptr);
  EXPECT_EQ(i_IPStateTerm(s), VLT_ERR_NULL);
  EXPECT_EQ(i_IPStateTerm(nullptr), VLT_ERR_NULL);
}

TEST(IPState, InitFailsAndCleansUpWhenCacheRecordsCannotBeMade) {
  for (size_t k : {1u, 2u}) {
    SCOPED_TRACE(k);
    CountingAllocator a;
    Record r;
    a.fail_at(k);
    EXPECT_EQ(init_counting(r.state, &a), VLT_ERR_NOMEM);
    EXPECT_EQ(a.live_blocks(), 0u);
    EXPECT_EQ(r.state->dataCacheInitializer, nullptr);
    EXPECT_EQ(r.state->cacheControl, nullptr);
  }
}

TEST(IPState, SlotsUseTheirOwnData) {
  TestState t;
  EXPECT_EQ(t.alloc.live_blocks(), 2u);  // the two cache records
  for (int slot = 0; slot < IP_NUM_SLOTS; ++slot) EXPECT_EQ(t.state->allocData[slot], &t.alloc);
  CountingAllocator other;
  EXPECT_EQ(i_IPStateSetAllocator(t.state, 3, CountingAllocator::c_malloc, nullptr, nullptr,
                                  nullptr, &other),
            VLT_ERR_PARAM);
  for (int slot = 0; slot < IP_NUM_SLOTS; ++slot) EXPECT_EQ(t.state->allocData[slot], &t.alloc);
  EXPECT_EQ(i_IPStateSetAllocator(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
            VLT_ERR_NULL_IPWSTATE);
}

void record_error(void* data, const char* text) { *static_cast<std::string*>(data) = text; }
int32_t yield(void*, void*) { return 0; }

TEST(IPState, Accessors) {
  TestState t;
  IPState* s = t.state;
  std::string sink;
  ASSERT_EQ(i_IPStateSetErrorProc(s, record_error, &sink), VLT_OK);
  IPErrorProc proc = nullptr;
  void* data = nullptr;
  ASSERT_EQ(i_IPStateGetErrorProc(s, &proc, &data), VLT_OK);
  EXPECT_EQ(proc, &record_error);
  EXPECT_EQ(data, &sink);
  EXPECT_EQ(i_IPStateGetErrorProc(s, nullptr, &data), VLT_ERR_NULL);

  int a1 = 0, a2 = 0;
  ASSERT_EQ(i_IPStateSetYieldProc(s, yield, &a1, &a2), VLT_OK);
  EXPECT_EQ(s->yieldProcAsSet, &yield);
  IPYieldProc y = nullptr;
  void *r1 = nullptr, *r2 = nullptr;
  ASSERT_EQ(i_IPStateGetYieldProc(s, &y, &r1, &r2), VLT_OK);
  EXPECT_EQ(y, &yield);
  EXPECT_EQ(r1, &a1);
  EXPECT_EQ(r2, &a2);

  void* info = nullptr;
  ASSERT_EQ(i_IPStateSetStrelInfo(s, &a1), VLT_OK);
  ASSERT_EQ(i_IPStateGetStrelInfo(s, &info), VLT_OK);
  EXPECT_EQ(info, &a1);
  ASSERT_EQ(ip_IPStateSetJNIEnv(s, &a2), VLT_OK);
  ASSERT_EQ(ip_IPStateGetJNIEnv(s, &info), VLT_OK);
  EXPECT_EQ(info, &a2);
  uint32_t flag = 0;
  ASSERT_EQ(ip_IPStateSetUseHighResTime(s, 1), VLT_OK);
  ASSERT_EQ(ip_IPStateGetUseHighResTime(s, &flag), VLT_OK);
  EXPECT_EQ(flag, 1u);

  // Null state and null out pointers, for every kind of accessor.
  EXPECT_EQ(i_IPStateSetErrorProc(nullptr, nullptr, nullptr), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(i_IPStateGetStrelInfo(nullptr, &info), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(i_IPStateGetStrelInfo(s, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(ip_IPStateGetLongAccessFlag(s, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(ip_IPStateSetPurifyIsRunning(nullptr, 1), VLT_ERR_NULL_IPWSTATE);
  EXPECT_EQ(i_IPStateGetYieldProc(s, &y, nullptr, &r2), VLT_ERR_NULL);
}

TEST(IPState, PrivateDirNameIsBounded) {
  TestState t;
  const std::string longest(256, 'd');
  ASSERT_EQ(ip_IPStateSetPrivateDirName(t.state, longest.c_str()), VLT_OK);
  const std::string too_long(257, 'e');
  EXPECT_EQ(ip_IPStateSetPrivateDirName(t.state, too_long.c_str()), VLT_ERR_OVERFLOW);
  const char* name = nullptr;
  ASSERT_EQ(ip_IPStateGetPrivateDirName(t.state, &name), VLT_OK);
  EXPECT_EQ(name, longest);
  EXPECT_EQ(name, t.state->privateDirName);
  ASSERT_EQ(ip_IPStateSetPrivateDirName(t.state, nullptr), VLT_OK);
  EXPECT_STREQ(name, "");
}

TEST(IPState, IntervalTiming) {
  TestState t;
  IPState* s = t.state;
  uint32_t sum[2] = {7, 7};
  EXPECT_EQ(i_sumMinIntervalTimes(s, sum), VLT_ERR_NULL);
  EXPECT_EQ(i_initMinIntervalTimeArray(s), VLT_ERR_NULL);
  EXPECT_EQ(i_startIntervalRecording(s, 1), VLT_ERR_NULL);

  // Counting pass, then a recording pass over as many intervals.
  ASSERT_EQ(i_startIntervalRecording(s, 0), VLT_OK);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(i_recordInterval(s), VLT_OK);
  uint32_t n = 0;
  ASSERT_EQ(i_getNumberOfIntervals(s, &n), VLT_OK);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(i_allocMinIntervalTimeArray(s, n), VLT_OK);
  ASSERT_EQ(i_initMinIntervalTimeArray(s), VLT_OK);
  EXPECT_EQ(s->minIntervalTimes[2], 0xFFFFFFFFu);
  ASSERT_EQ(i_sumMinIntervalTimes(s, sum), VLT_OK);
  EXPECT_EQ(sum[0], 0u);
  EXPECT_EQ(sum[1], 0u);
  ASSERT_EQ(i_startIntervalRecording(s, 1), VLT_OK);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(i_recordInterval(s), VLT_OK);
  EXPECT_EQ(s->minIntervalTimes[2], 0u);
  EXPECT_EQ(i_recordInterval(s), VLT_ERR_INTERNAL);
  EXPECT_EQ(i_getNumberOfIntervals(s, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(mqx_clock(), 0u);

  // A failed accumulator allocation leaves nothing behind.
  ASSERT_EQ(i_freeMinIntervalTimeArray(s), VLT_OK);
  t.alloc.fail_at(2);
  EXPECT_EQ(i_allocMinIntervalTimeArray(s, 4), VLT_ERR_NOMEM);
  EXPECT_EQ(s->minIntervalTimes, nullptr);
  EXPECT_EQ(s->numIntervals, 0u);
  EXPECT_EQ(t.alloc.live_blocks(), 2u);
  // Term frees an array still held.
  ASSERT_EQ(i_allocMinIntervalTimeArray(s, 4), VLT_OK);
}

void collect(void* data, const char* text) { *static_cast<std::string*>(data) += text; }

TEST(IPState, ConsoleOutputIsBounded) {
  std::string out;
  ASSERT_EQ(i_printf(nullptr, collect, &out, "%s-%d", "page", 7), VLT_OK);
  EXPECT_EQ(out, "page-7");
  out.clear();
  const std::string big(1000, 'x');
  ASSERT_EQ(i_printf(nullptr, collect, &out, "%s", big.c_str()), VLT_OK);
  EXPECT_EQ(out.size(), 255u);
  EXPECT_EQ(i_printf(nullptr, nullptr, nullptr, "%d", 1), VLT_OK);

  testing::internal::CaptureStdout();
  const int n = i_fprintf(stderr, "warn %d\n", 42);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "warn 42\n");
  EXPECT_EQ(n, 8);
  EXPECT_STREQ(i_lastConsoleMessage(), "warn 42\n");

  testing::internal::CaptureStdout();
  i_fprintf(stdout, "%s", big.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout().size(), 511u);
  EXPECT_EQ(std::string(i_lastConsoleMessage()).size(), 511u);

  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(i_fprintf(f, "%s", big.c_str()), 1000);
  std::fclose(f);
}

}  // namespace
