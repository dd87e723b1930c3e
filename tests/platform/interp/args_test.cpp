// Argument lists: building, scanning every kind of specification, refusals, appending and
// removing.

#include <cstring>
#include <string>

#include "interp_fixture.h"

namespace {

using monotest::InterpTest;
using ArgsTest = InterpTest;

TEST_F(ArgsTest, EveryKindOfSpecificationReadsBack) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* boxed = elfNewInteger(state, 12);
  elf_object* args = lstBuildArgs(state, "count:i", 7, 0, "ratio:d", 0.75, 0, "flag:b", 5, 0, "name:s", "doc.pdf", 0,
                                  "pgnum:INTEGER", 3, 0, "scale:DOUBLE", 2.5, 0, "ok:BOOLEAN", 0, 0, "title:STRING",
                                  "t", 0, "img:QELIMAGE", image, 0, "any:", layer, 0, "num:INTEGER *", boxed, 0,
                                  "_DIOjpegqual:i ", 85, 0, LST_END);
  ASSERT_NE(args, nullptr) << messages;
  EXPECT_EQ(elflistLength(args), 12);
  EXPECT_EQ(image->refCount, 1);

  int32_t count = 0, flag = 0, pgnum = 0, ok = 9, quality = 0, count_flag = 0;
  double ratio = 0, scale = 0, count_real = 0;
  const char *name = nullptr, *title = nullptr;
  elf_object *img = nullptr, *any = nullptr, *num = nullptr, *count_obj = nullptr, *name_obj = nullptr;
  ASSERT_EQ(lstScanArgs(args, "count:i", LST_REQUIRED, &count, "ratio:d", 0, &ratio, "flag:b", 0, &flag, "name:s", 0,
                        &name, "pgnum:INTEGER", 0, &pgnum, "scale:DOUBLE", 0, &scale, "ok:BOOLEAN", 0, &ok,
                        "title:STRING", 0, &title, "img:QELIMAGE", 0, &img, "any:", 0, &any, "num:INTEGER *", 0,
                        &num, "_DIOjpegqual:i ", 0, &quality, LST_END),
            1)
      << messages;
  EXPECT_EQ(count, 7);
  EXPECT_EQ(ratio, 0.75);
  EXPECT_EQ(flag, 1);
  EXPECT_STREQ(name, "doc.pdf");
  EXPECT_EQ(pgnum, 3);
  EXPECT_EQ(scale, 2.5);
  EXPECT_EQ(ok, 0);
  EXPECT_STREQ(title, "t");
  EXPECT_EQ(img, image);
  EXPECT_EQ(any, layer);
  EXPECT_EQ(num, boxed);
  EXPECT_EQ(quality, 85);

  // The same arguments read in other compatible forms.
  ASSERT_EQ(lstScanArgs(args, "count:d", 0, &count_real, "count:b", 0, &count_flag, "count:INTEGER *", 0, &count_obj,
                        "name:", 0, &name_obj, LST_END),
            1)
      << messages;
  EXPECT_EQ(count_real, 7.0);
  EXPECT_EQ(count_flag, 1);
  ASSERT_TRUE(elfIsType(count_obj, "INTEGER"));
  EXPECT_EQ(reinterpret_cast<elf_INTEGER*>(count_obj)->value, 7);
  EXPECT_TRUE(elfIsType(name_obj, "STRING"));
  EXPECT_TRUE(messages.empty()) << messages;
  elfDiscard(args);  // the list held the caller's objects; they go with it
}

TEST_F(ArgsTest, RefusedScansAreReportedAndChangeNoPlace) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* args = lstBuildArgs(state, "count:i", 7, 0, "ratio:d", 0.5, 0, "name:s", "x", 0, "lay:", layer, 0, LST_END);
  ASSERT_NE(args, nullptr);
  ASSERT_EQ(elflistInsert(args, elfNewIdent(state, "hole", nullptr), -1, 0), 0);
  struct Case {
    const char* spec;
    int flags;
    const char* message;
  };
  const Case cases[] = {
      {"count:s", 0, "count is a INTEGER, not STRING"},
      {"ratio:i", 0, "ratio is a DOUBLE, not INTEGER"},
      {"name:b", 0, "name is a STRING, not BOOLEAN or INTEGER"},
      {"lay:QELIMAGE", 0, "lay is a QELLAYER, not QELIMAGE"},
      {"hole:LIST", 0, "hole is empty, not LIST"},
      {"missing:i", LST_REQUIRED, "missing is required"},
      {"count", 0, "malformed"},
      {":i", 0, "malformed"},
      {"count:q", 0, "malformed"},
      {"count:i-2", 0, "malformed"},
      {"count: i", 0, "malformed"},
      {"count:*", 0, "malformed"},
      {"count:i", 4, "unknown flags"},
  };
  for (const Case& c : cases) {
    messages.clear();
    int64_t first = -1, place = -1;  // wide enough for any kind of place
    EXPECT_EQ(lstScanArgs(args, "count:i", 0, &first, c.spec, c.flags, &place, LST_END), 0) << c.spec;
    EXPECT_NE(messages.find(c.message), std::string::npos) << c.spec << ": " << messages;
    EXPECT_EQ(first, -1) << c.spec;  // the scan failed as a whole: not even the good argument was written
    EXPECT_EQ(place, -1) << c.spec;
  }
  elf_object* hole = nullptr;
  EXPECT_EQ(lstScanArgs(args, "hole:", 0, &hole, LST_END), 1);  // any kind, none present
  EXPECT_EQ(hole, nullptr);
  EXPECT_EQ(lstScanArgs(args, nullptr, 0, &hole, LST_END), 0);
  EXPECT_EQ(lstScanArgs(args, "count:i", 0, nullptr, LST_END), 0);
  EXPECT_EQ(lstScanArgs(layer, "count:i", 0, &hole, LST_END), 0);
  EXPECT_NE(messages.find("arguments are a QELLAYER, not a LIST"), std::string::npos);
  elfDiscard(args);
}

TEST_F(ArgsTest, AbsentArgumentsKeepTheirDefaults) {
  elf_object* args = lstBuildArgs(state, "profile:i", 3, 0, "profile:i", 1, 0, LST_END);
  int32_t profile = 2, width_diff = 1, height_diff = 1, max_dense = 3;
  ASSERT_EQ(lstScanArgs(args, "profile:i", 0, &profile, "widthDiff:i", 0, &width_diff, "heightDiff:i", 0, &height_diff,
                        "maxDense:i", 0, &max_dense, LST_END),
            1);
  EXPECT_EQ(profile, 3);  // the first of two entries with the name
  EXPECT_EQ(width_diff, 1);
  EXPECT_EQ(height_diff, 1);
  EXPECT_EQ(max_dense, 3);
  EXPECT_EQ(lstScanArgs(nullptr, "profile:i", 0, &profile, LST_END), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(lstScanArgs(nullptr, "filename:STRING", LST_REQUIRED, &profile, LST_END), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("filename is required"), std::string::npos);
  elfDiscard(args);
}

TEST_F(ArgsTest, RefusedBuildsLeaveTheCallersObjectsAlone) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  struct Case {
    elf_object* list;
    const char* message;
  };
  const Case cases[] = {
      {lstBuildArgs(state, "n:i", 1, 0, "img:QELIMAGE", layer, 0, LST_END), "img is a QELLAYER, not QELIMAGE"},
      {lstBuildArgs(state, "lay:", layer, 0, "img:", nullptr, 0, LST_END), "no object given for img"},
      {lstBuildArgs(state, "lay:", layer, 0, "name:s", nullptr, 0, LST_END), "no text given for name"},
      {lstBuildArgs(state, "lay:", layer, 0, "n:i", 1, 7, LST_END), "unknown flags for n"},
      {lstBuildArgs(state, "lay:", layer, 0, "n:z", 1, 0, LST_END), "malformed argument specification \"n:z\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.list, nullptr) << c.message;
    EXPECT_NE(messages.find(c.message), std::string::npos) << c.message << ": " << messages;
  }
  EXPECT_EQ(layer->refCount, 0);
  elfDiscard(layer);
}

TEST_F(ArgsTest, FailedAllocationsDuringABuildLeaveTheCallersObjectsAlone) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    elf_object* list = lstBuildArgs(state, "img:", image, 0, "n:i", 1, 0, "name:s", "x", 0, "img2:", image, 0, LST_END);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(image->refCount, 2);
      elfRefUp(image);
      elfDiscard(list);
      EXPECT_EQ(image->refCount, 1);
      break;
    }
    EXPECT_EQ(list, nullptr);
    ASSERT_EQ(image->refCount, 0) << "allocation " << k;
  }
  elfRefDown(image);
}

TEST_F(ArgsTest, AppendingIsAllOrNothing) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* list = lstBuildArgs(state, "first:i", 1, 0, LST_END);
  EXPECT_EQ(lstAppendArgs(list, "a:i", 1, 0, "img:QELIMAGE", layer, 0, LST_END), 0);
  EXPECT_EQ(elflistLength(list), 1);
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    const int ok = lstAppendArgs(list, "img:", image, 0, "b:s", "text", 0, "c:d", 1.5, 0, LST_END);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      EXPECT_EQ(ok, 1);
      EXPECT_EQ(elflistLength(list), 4);
      break;
    }
    EXPECT_EQ(ok, 0);
    ASSERT_EQ(elflistLength(list), 1) << "allocation " << k;
    ASSERT_EQ(image->refCount, 0) << "allocation " << k;
  }
  EXPECT_EQ(image->refCount, 1);
  EXPECT_EQ(lstAppendArgs(layer, "a:i", 1, 0, LST_END), 0);
  elfDiscard(layer);
  elfDiscard(list);
}

TEST_F(ArgsTest, RemovingAnEntryHandsItsValueToTheCaller) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  elf_object* list = lstBuildArgs(state, "n:i", 1, 0, "img:", image, 0, LST_END);
  elf_object* bare = new_QELHDR(state, nullptr, nullptr);
  ASSERT_EQ(elflistInsert(list, bare, -1, 0), 0);
  EXPECT_EQ(lstRemoveArg(list, 7), nullptr);
  EXPECT_EQ(lstRemoveArg(list, 2), bare);  // not an IDENT: the entry itself, with the list's hold
  EXPECT_EQ(bare->refCount, 1);
  elfRefDown(bare);
  elf_object* got = lstRemoveArg(list, 1);
  EXPECT_EQ(got, image);
  EXPECT_EQ(image->refCount, 1);
  EXPECT_EQ(elflistLength(list), 1);
  elfRefDown(image);
  elfDiscard(list);
}

}  // namespace
