// The shared heap, the interpreter status and the type table.

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "interp_fixture.h"
#include "kvng.h"

namespace {

using monotest::InterpTest;

using HeapTest = InterpTest;

TEST_F(HeapTest, EveryAllocatorNameDrawsOnOneHeap) {
  const size_t before = heap.live_blocks();
  void* engine = kvng_internal_calloc(4, 8);
  void* interp = elfMalloc(16);
  char* text = elfStrDup("jbig2Dict");
  ASSERT_TRUE(engine && interp && text);
  EXPECT_TRUE(heap.owns(engine) && heap.owns(interp) && heap.owns(text));
  EXPECT_STREQ(text, "jbig2Dict");
  const auto* zeros = static_cast<const uint8_t*>(engine);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(zeros[i], 0);
  // Blocks change hands between the families, as layer data does.
  _elfFree(engine);
  kvng_internal_free(interp);
  _elfFree(text);
  _elfFree(nullptr);
  kvng_internal_free(nullptr);
  EXPECT_EQ(heap.live_blocks(), before);
}

TEST_F(HeapTest, RefusalsAndFailuresGiveNull) {
  const size_t calls = heap.allocations();
  EXPECT_EQ(elfCalloc(SIZE_MAX / 2, 3), nullptr);  // the product overflows: the heap is not asked
  EXPECT_EQ(kvng_internal_calloc(SIZE_MAX, SIZE_MAX), nullptr);
  EXPECT_EQ(heap.allocations(), calls);
  EXPECT_EQ(elfStrDup(nullptr), nullptr);
  heap.fail_from(1);
  EXPECT_EQ(elfMalloc(1), nullptr);
  EXPECT_EQ(elfStrDup("x"), nullptr);
  EXPECT_EQ(kvng_internal_calloc(1, 1), nullptr);
  heap.fail_at(0);
}

using StatusTest = InterpTest;

TEST_F(StatusTest, LatestReportIsPendingUntilCleared) {
  EXPECT_EQ(getStatus(state), 0);
  EXPECT_STREQ(getStatusMessage(state), "");
  struct Case {
    int code, severity;
    const char* expected;
  };
  const Case cases[] = {
      {QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "jBig2Encode: lstScanArgs error\n"},
      {QEL_STATUS_INVALID, QEL_SEVERITY_WARNING, "jBig2Encode: No valid layers to encode\n"},
      {QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "jbig2Codec: Null object passed to jbig2 codec\n"},
  };
  EXPECT_EQ(setStatus(state, cases[0].code, cases[0].severity, "%s: lstScanArgs error\n", "jBig2Encode"), 21);
  EXPECT_EQ(setStatus(state, cases[1].code, cases[1].severity, "%s: No valid layers to encode\n", "jBig2Encode"), 20);
  EXPECT_EQ(getStatus(state), 20);
  EXPECT_EQ(getStatusSeverity(state), 0);
  EXPECT_STREQ(getStatusMessage(state), cases[1].expected);
  EXPECT_EQ(setStatus(state, cases[2].code, cases[2].severity, "%s: %s\n", "jbig2Codec", "Null object passed to jbig2 codec"),
            20);
  EXPECT_EQ(getStatusSeverity(state), 1);
  EXPECT_STREQ(getStatusMessage(state), cases[2].expected);
  clearStatus(state);
  EXPECT_EQ(getStatus(state), 0);
  EXPECT_EQ(getStatusSeverity(state), 0);
  EXPECT_STREQ(getStatusMessage(state), "");
}

TEST_F(StatusTest, LongMessagesAreCutNotOverrunAndNullStateOnlyReturns) {
  const std::string name(3000, 'n');
  EXPECT_EQ(setStatus(state, 21, 1, "%s: Unable to open file\n", name.c_str()), 21);
  EXPECT_EQ(std::strlen(getStatusMessage(state)), size_t{ELF_MESSAGE_MAX} - 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(setStatus(nullptr, 20, 1, "%s: no context\n", "m"), 20);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "m: no context\n");
  EXPECT_EQ(getStatus(nullptr), 0);
  EXPECT_STREQ(getStatusMessage(nullptr), "");
}

using TypeTest = InterpTest;

elf_object* make_plain_list(elf_state* state, void*, elf_object* args) { return new_LIST(state, nullptr, args); }

TEST_F(TypeTest, BuiltinsHaveFixedIdsAndNewTypesFollow) {
  const char* names[] = {"LIST",    "IDENT",    "POINTER",  "STRING", "INTEGER", "DOUBLE",
                         "BOOLEAN", "QELIMAGE", "QELLAYER", "QELHDR", "METHOD", "QELTEXT"};
  static_assert(std::size(names) == ELF_TYPE_FIRST_FREE - 1);
  for (int32_t i = 0; i < ELF_TYPE_FIRST_FREE - 1; ++i) {
    EXPECT_EQ(find_elf_type(state, names[i]), i + 1) << names[i];
    elf_object* obj = new_elf_object(state, names[i], nullptr);
    ASSERT_NE(obj, nullptr) << names[i];
    EXPECT_STREQ(obj->typeName, names[i]);
    EXPECT_EQ(obj->typeId, i + 1);
    EXPECT_EQ(obj->stateWord, ELF_OBJECT_LIVE);
    EXPECT_EQ(obj->refCount, 0);
    EXPECT_EQ(obj->state, state);
    elfDiscard(obj);
  }
  EXPECT_EQ(find_elf_type(state, "TRANSFORMSPEC"), -1);
  EXPECT_EQ(elfRegisterType(state, "TRANSFORMSPEC", make_plain_list), ELF_TYPE_FIRST_FREE);
  EXPECT_EQ(find_elf_type(state, "TRANSFORMSPEC"), ELF_TYPE_FIRST_FREE);
  EXPECT_EQ(elfRegisterType(state, "TRANSFORMSPEC", make_plain_list), -1);
  EXPECT_NE(messages.find("TRANSFORMSPEC is already registered"), std::string::npos);
  EXPECT_EQ(new_elf_object(state, "FONTDIO", nullptr), nullptr);
  EXPECT_NE(messages.find("unknown object type FONTDIO"), std::string::npos);
}

TEST_F(TypeTest, InstancesAreCountedPerTypeAndCreationArgumentsAreSet) {
  elf_object* a = elfNewInteger(state, 1);
  elf_object* b = elfNewInteger(state, 2);
  elf_object* s = elfNewString(state, "x");
  EXPECT_EQ(b->instance, a->instance + 1);
  EXPECT_EQ(s->instance, 1);

  elf_object* args = lstBuildArgs(state, "value:i", 42, 0, "colour:s", "red", 0, LST_END);
  ASSERT_NE(args, nullptr);
  elf_object* made = new_elf_object(state, "INTEGER", args);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(reinterpret_cast<elf_INTEGER*>(made)->value, 42);
  EXPECT_EQ(made->changes, 2);  // both names count, the unknown one is reported
  EXPECT_NE(messages.find("Unknown member <colour> for object set of INTEGER"), std::string::npos);
  for (elf_object* o : {a, b, s, args, made}) elfDiscard(o);
}

TEST_F(TypeTest, StateCreationSurvivesEveryFailedAllocation) {
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    elf_state* s = initState(state, "monodoc");
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      ASSERT_NE(s, nullptr);
      EXPECT_STREQ(s->config, "monodoc");
      EXPECT_EQ(s->printData, &messages);  // the parent's message function
      freeState(s);
      break;
    }
    EXPECT_EQ(s, nullptr) << "allocation " << k;
  }
}

}  // namespace
