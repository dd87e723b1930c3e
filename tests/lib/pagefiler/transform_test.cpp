// TRANSFORMSPEC: its record, defaults and setters, copies, and the object protocol that is its own
// (members, text form, equality).

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "transform_fixture.h"

namespace {

using monotest::block_text;
using monotest::page_text;
using monotest::photometries;
using monotest::SpecTest;
using monotest::TextFile;
using TransformSpecTest = SpecTest;

TEST_F(TransformSpecTest, ADefaultSpecAcceptsAnyCompressionAtAnyUsualResolution) {
  elf_object* spec = default_spec();
  ASSERT_NE(spec, nullptr);
  EXPECT_STREQ(spec->typeName, "TRANSFORMSPEC");
  EXPECT_EQ(spec->refCount, 1) << "only the test's reference";
  const auto* ts = dioTransformSpec(spec);
  ASSERT_TRUE(elfIsType(ts->coreImage, "POINTER"));
  const auto* pointer = reinterpret_cast<const elf_POINTER*>(ts->coreImage);
  EXPECT_EQ(pointer->length, sizeof(DIOCoreSpec));
  EXPECT_EQ(pointer->release, __freeDocAttr);
  EXPECT_EQ(ts->attributes, nullptr);
  const DIOCoreSpec* c = dioCoreSpec(spec);
  EXPECT_EQ(block_text(c->contone), "depth 24 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none");
  EXPECT_EQ(block_text(c->binary), "depth 1 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none");
  EXPECT_EQ(page_text(*c), "format 0 sub 0 orient 0 mode 0 ppf 0 rotate 0 affine 0");
  for (int32_t flag : c->compressControl) EXPECT_EQ(flag, 0);
}

TEST_F(TransformSpecTest, CreationThatFailsPartWayReportsAndLeavesNothing) {
  for (size_t k = 1;; ++k) {
    const size_t live = heap.live_blocks(), failures = heap.failures();
    heap.fail_at(k);
    elf_object* spec = reinterpret_cast<elf_object*>(1);
    clearStatus(state);
    const int status = __createDefaultTransformSpec(state, &spec);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      EXPECT_EQ(status, 0);
      elfDiscard(spec);
      EXPECT_GT(k, 3u) << "the object, its record and the POINTER are all allocated";
      break;
    }
    EXPECT_EQ(status, QEL_STATUS_FAILED) << "allocation " << k;
    EXPECT_EQ(spec, nullptr) << "allocation " << k;
    EXPECT_NE(status_message().find("__createDefaultTransformSpec: Unable to"), std::string::npos) << status_message();
    EXPECT_EQ(heap.live_blocks(), live) << "allocation " << k << " left blocks behind";
  }
  // A state that does not know the type cannot make one either.
  elf_state* bare = initState(nullptr, "bare");
  bare->print = keep_message;
  bare->printData = &messages;
  elf_object* spec = nullptr;
  EXPECT_EQ(__createDefaultTransformSpec(bare, &spec), QEL_STATUS_FAILED);
  EXPECT_EQ(spec, nullptr);
  freeState(bare);
}

// A setter call with the spec to change; the setters' messages name them by these texts.
struct Setter {
  const char* name;  // as the messages give it
  std::function<int(elf_state*, elf_object*)> call;
  std::function<std::string(const DIOCoreSpec&)> changed;
  const char* expected;
};

std::vector<Setter> setters(elf_object* photo) {
  return {
      {"setTSAttributes", [](elf_state* s, elf_object* spec) { return __setTSAttributes(s, spec, 3, 8, 2, 1, 2); },
       page_text, "format 3 sub 8 orient 2 mode 1 ppf 2 rotate 0 affine 0"},
      {"setInterleave", [](elf_state* s, elf_object* spec) { return __setTSInterleave(s, spec, 1, 1); },
       [](const DIOCoreSpec& c) { return std::to_string(c.binary.interleave) + " " + std::to_string(c.contone.interleave); },
       "1 100"},
      {"setInterleave", [](elf_state* s, elf_object* spec) { return __setTSInterleave(s, spec, 2, 0); },
       [](const DIOCoreSpec& c) { return std::to_string(c.binary.interleave) + " " + std::to_string(c.contone.interleave); },
       "100 2"},
      {"setRotate", [](elf_state* s, elf_object* spec) { return __setTSRotate(s, spec, 90); }, page_text,
       "format 0 sub 0 orient 0 mode 0 ppf 0 rotate 90 affine 0"},
      {"setAffine", [](elf_state* s, elf_object* spec) { return __setTSAffine(s, spec, 1); }, page_text,
       "format 0 sub 0 orient 0 mode 0 ppf 0 rotate 0 affine 1"},
      {"setCompression", [](elf_state* s, elf_object* spec) { return __setTSCompression(s, spec, 7, 1, 33, 1); },
       [](const DIOCoreSpec& c) { return block_text(c.binary) + " / " + block_text(c.contone); },
       "depth 1 comp 7 q 80 arith 1 il 100 res 65000x65000 size 0x0 photo none / "
       "depth 24 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none"},
      {"setCompression", [](elf_state* s, elf_object* spec) { return __setTSCompression(s, spec, 50, 0, 85, 1); },
       [](const DIOCoreSpec& c) { return block_text(c.binary) + " / " + block_text(c.contone); },
       "depth 1 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none / "
       "depth 24 comp 50 q 85 arith 0 il 100 res 65000x65000 size 0x0 photo none"},
      {"setCompressControl",
       [](elf_state* s, elf_object* spec) {
         int32_t table[DIO_COMPRESS_CONTROL_CODES] = {};
         for (int i = 0; i < DIO_COMPRESS_CONTROL_CODES; ++i) table[i] = i % 3;
         return __setTSCompressControlList(s, spec, table);
       },
       [](const DIOCoreSpec& c) {
         std::string text;
         for (int32_t v : c.compressControl) text += std::to_string(v);
         return text;
       },
       "01201201201201201201"},
      {"unsetTSCompression",
       [photo](elf_state* s, elf_object* spec) { return __setTSRasterAttr(s, spec, 3, 70, 1, 1, photo, 400, 200, 1); },
       [](const DIOCoreSpec& c) { return block_text(c.binary) + " / " + block_text(c.contone); },
       "depth 1 comp 3 q 70 arith 1 il 1 res 400x200 size 0x0 photo 21,22 / "
       "depth 24 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none"},
      // Any depth but 1 is contone data, without a range check.
      {"unsetTSCompression",
       [](elf_state* s, elf_object* spec) { return __setTSRasterAttr(s, spec, 1, 60, 0, 1, nullptr, 300, 300, 16); },
       [](const DIOCoreSpec& c) { return block_text(c.contone); },
       "depth 16 comp 1 q 60 arith 0 il 1 res 300x300 size 0x0 photo none"},
      {"unsetTSCompression", [](elf_state* s, elf_object* spec) { return __unsetTSRasterAttr(s, spec, 0); },
       [](const DIOCoreSpec& c) { return block_text(c.contone); },
       "depth 0 comp -1 q 80 arith 0 il 0 res 0x0 size 0x0 photo none"},
  };
}

TEST_F(TransformSpecTest, EverySetterChangesItsFieldsOnly) {
  for (const Setter& s : setters(int_list({21, 22}))) {
    elf_object* spec = default_spec();
    ASSERT_EQ(s.call(state, spec), 0) << s.name << ": " << status_message();
    EXPECT_EQ(s.changed(*dioCoreSpec(spec)), s.expected) << s.name;
  }
  // Raster blocks keep their limits of size when the rest is set.
  elf_object* spec = default_spec();
  dioCoreSpec(spec)->contone.width = 1700;
  ASSERT_EQ(__setTSRasterAttr(state, spec, 0, 80, 0, 1, nullptr, 600, 600, 8), 0);
  EXPECT_EQ(dioCoreSpec(spec)->contone.width, 1700);
  EXPECT_EQ(messages, "");
}

TEST_F(TransformSpecTest, EverySetterRefusesASpecWithoutARecordAndChangesNothing) {
  elf_object* no_core = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  elf_object* empty_core = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  ELF_ASSIGN(state, &dioTransformSpec(empty_core)->coreImage, elfNewPointer(state, nullptr, 0));
  const struct {
    elf_object* spec;
    const char* problem;
  } cases[] = {{nullptr, "No spec given."}, {int_list({1}), "No spec given."}, {no_core, "No core image struct."},
               {empty_core, "Bad attribute struct."}};
  for (const Setter& s : setters(int_list({21}))) {
    for (const auto& c : cases) {
      clearStatus(state);
      EXPECT_EQ(s.call(state, c.spec), QEL_STATUS_INVALID) << s.name;
      EXPECT_EQ(status_message(), std::string(s.name) + ": " + c.problem + "\n");
      EXPECT_EQ(getStatusSeverity(state), QEL_SEVERITY_ERROR);
    }
  }
  EXPECT_EQ(dioTransformSpec(no_core)->coreImage, nullptr);
  EXPECT_EQ(reinterpret_cast<elf_POINTER*>(dioTransformSpec(empty_core)->coreImage)->data, nullptr);
}

TEST_F(TransformSpecTest, CompressionsThatDoNotSuitTheDataAreRefused) {
  const struct {
    int32_t code;
    int32_t binary;
    bool refused;
  } cases[] = {{1, 1, true},  {50, 1, true},  {2, 1, false}, {3, 1, false}, {4, 1, false},
               {7, 1, false}, {0, 1, false},  {2, 0, true},  {3, 0, true},  {4, 0, true},
               {7, 0, true},  {1, 0, false},  {50, 0, false}, {6, 0, false}, {-1, 0, false}};
  for (const auto& c : cases) {
    elf_object* spec = default_spec();
    const DIOCoreSpec before = *dioCoreSpec(spec);
    clearStatus(state);
    const int status = __setTSCompression(state, spec, c.code, c.binary, 90, 1);
    const DIORasterSpec& block = c.binary ? dioCoreSpec(spec)->binary : dioCoreSpec(spec)->contone;
    if (c.refused) {
      EXPECT_EQ(status, QEL_STATUS_INVALID) << c.code;
      EXPECT_EQ(status_message(), std::string("setCompression: Compression specified is not allowed for ") +
                                      (c.binary ? "binary" : "contone") + " data.\n");
      EXPECT_EQ(block_text(block), block_text(c.binary ? before.binary : before.contone));
    } else {
      EXPECT_EQ(status, 0) << c.code;
      EXPECT_EQ(block.compression, c.code);
      // The binary block takes the JBIG2 flag, the contone block the JPEG quality.
      EXPECT_EQ(block.jbig2arith, c.binary ? 1 : 0);
      EXPECT_EQ(block.jpegquality, c.binary ? 80 : 90);
    }
  }
}

TEST_F(TransformSpecTest, PhotometryListsComeFromTheScriptsIntegerLists) {
  elf_object* spec = default_spec();
  // A list replaces the one before; an empty one leaves none (any photometry).
  ASSERT_EQ(__setTSRasterAttr(state, spec, 0, 80, 0, 1, int_list({111, 22, 21}), 300, 300, 24), 0);
  EXPECT_EQ(photometries(dioCoreSpec(spec)->contone), "111,22,21");
  ASSERT_EQ(__setTSRasterAttr(state, spec, 0, 80, 0, 1, int_list({}), 300, 300, 24), 0);
  EXPECT_EQ(photometries(dioCoreSpec(spec)->contone), "none");
  ASSERT_EQ(__setTSRasterAttr(state, spec, 0, 80, 0, 1, int_list({5}), 300, 300, 24), 0);

  // An entry that is no integer leaves no list and says so.
  elf_object* mixed = int_list({1});
  elflistInsert(mixed, elfNewString(state, "srgb"), -1, 0);
  EXPECT_EQ(__setTSRasterAttr(state, spec, 0, 80, 0, 1, mixed, 300, 300, 24), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "__createPhotometryList: entry 1 is not an integer\n");
  EXPECT_EQ(photometries(dioCoreSpec(spec)->contone), "none");

  // Memory that runs out for the list: reported, returned, the block without a list.
  elf_object* list = int_list({1, 2});
  for (size_t k = 1;; ++k) {
    ASSERT_EQ(__setTSRasterAttr(state, spec, 0, 80, 0, 1, int_list({7}), 300, 300, 24), 0);
    clearStatus(state);
    const size_t failures = heap.failures();
    heap.fail_at(k);
    const int status = __setTSRasterAttr(state, spec, 0, 80, 0, 1, list, 300, 300, 24);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      EXPECT_EQ(photometries(dioCoreSpec(spec)->contone), "1,2");
      break;
    }
    EXPECT_NE(status, 0) << "allocation " << k;
    EXPECT_EQ(photometries(dioCoreSpec(spec)->contone), "none") << "allocation " << k;
  }
}

TEST_F(TransformSpecTest, CompressionNames) {
  const struct {
    int32_t code;
    const char* name;
  } cases[] = {{1, "\"jpeg\""},  {2, "\"g3\""},      {3, "\"g4\""},       {4, "\"g32d\""},
               {6, "\"deflate\""}, {7, "\"jbig2\""}, {9, "\"xlz\""},      {10, "\"lzw\""},
               {50, "\"jpeg-deflate\""}, {0, "unknown"}, {5, "unknown"}, {8, "unknown"},
               {51, "unknown"}, {-1, "unknown"}, {16, "unknown"}};
  for (const auto& c : cases) {
    char buffer[DIO_COMPRESSION_NAME_MAX];
    std::memset(buffer, 'x', sizeof buffer);
    __qelcompressToString(c.code, buffer);
    EXPECT_STREQ(buffer, c.name) << c.code;
  }
}

class SpecCopyTest : public SpecTest {
 protected:
  // A spec that uses every field, with photometry lists in both blocks, attributes and a peer;
  // nobody holds it yet.
  elf_object* full_spec() {
    elf_object* spec = nullptr;
    EXPECT_EQ(__createDefaultTransformSpec(state, &spec), 0);
    EXPECT_EQ(__setTSAttributes(state, spec, 4, 6, 1, 2, 1), 0);
    EXPECT_EQ(__setTSRasterAttr(state, spec, 1, 60, 0, 1, int_list({111, 22}), 400, 400, 24), 0);
    EXPECT_EQ(__setTSRasterAttr(state, spec, 3, 0, 1, 1, int_list({21}), 400, 200, 1), 0);
    EXPECT_EQ(__setTSRotate(state, spec, 90), 0);
    const int32_t table[DIO_COMPRESS_CONTROL_CODES] = {1, 0, 1, 1};
    EXPECT_EQ(__setTSCompressControlList(state, spec, table), 0);
    dioCoreSpec(spec)->contone.width = 2480;
    dioCoreSpec(spec)->binary.maxYRes = std::nan("");
    elf_object* attr = lstBuildArgs(state, "name:s", "IOP_rotate", 0, "obj:i", 90, 0, LST_END);
    EXPECT_EQ(QELAttributes(&dioTransformSpec(spec)->attributes, attr, nullptr, "setAttr"), 0);
    elfDiscard(attr);
    ELF_ASSIGN(state, &spec->peer, elfNewString(state, "peer"));
    return spec;
  }
};

TEST_F(SpecCopyTest, CopiesNeverShareAPhotometryList) {
  elf_object* source = full_spec();
  elf_object* copy = keep(copy_TRANSFORMSPEC(source));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->refCount, 1) << "a copy starts unheld";
  EXPECT_EQ(equal_TRANSFORMSPEC(source, copy), 1);
  const DIOCoreSpec* c = dioCoreSpec(copy);
  EXPECT_NE(c->contone.photometries, dioCoreSpec(source)->contone.photometries);
  EXPECT_NE(c->binary.photometries, dioCoreSpec(source)->binary.photometries);
  EXPECT_NE(dioTransformSpec(copy)->attributes, dioTransformSpec(source)->attributes);

  // The source goes first; what the copy holds must still be its own (ASan watches this).
  const std::string contone = photometries(c->contone), binary = photometries(c->binary);
  elfDiscard(source);
  EXPECT_EQ(photometries(c->contone), contone);
  EXPECT_EQ(photometries(c->binary), binary);
  elf_object* again = keep(copy_TRANSFORMSPEC(copy));
  EXPECT_EQ(equal_TRANSFORMSPEC(copy, again), 1);

  // The clone after a byte copy of a record, as copies make them: the lists become the
  // destination's own, and a source block without one leaves none.
  elf_object* bare = keep(copy_TRANSFORMSPEC(copy));
  __unsetTSRasterAttr(state, bare, 1);
  auto* record = static_cast<DIOCoreSpec*>(elfCalloc(1, sizeof(DIOCoreSpec)));
  *record = *dioCoreSpec(bare);
  elf_object* core = elfNewPointer(state, record, sizeof(DIOCoreSpec));
  reinterpret_cast<elf_POINTER*>(core)->release = __freeDocAttr;
  __outsideClonePhotometryList(core, dioTransformSpec(bare)->coreImage);
  EXPECT_EQ(photometries(record->binary), "none");
  EXPECT_EQ(photometries(record->contone), contone);
  EXPECT_NE(record->contone.photometries, dioCoreSpec(bare)->contone.photometries);
  __outsideClonePhotometryList(nullptr, dioTransformSpec(bare)->coreImage);
  __outsideClonePhotometryList(core, nullptr);
  elfDiscard(core);
}

TEST_F(SpecCopyTest, ACopyIsWholeOrNone) {
  elf_object* source = keep(full_spec());
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    elf_object* copy = copy_TRANSFORMSPEC(source);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      EXPECT_EQ(equal_TRANSFORMSPEC(source, copy), 1);
      elfDiscard(copy);
      break;
    }
    EXPECT_EQ(copy, nullptr) << "allocation " << k;
    elfDiscard(copy);
  }
}

std::string written(elf_object* obj, const char* indent = "") {
  TextFile file;
  EXPECT_EQ(obj->ops.write(obj, file.fd(), indent), 0);
  return file.text();
}

elf_object* read_back(elf_state* state, const std::string& text) {
  TextFile file;
  file.set(text);
  return read_TRANSFORMSPEC(state, file.fd());
}

TEST_F(SpecCopyTest, TheTextFormReadsBackEqual) {
  std::vector<elf_object*> specs = {full_spec(), new_elf_object(state, "TRANSFORMSPEC", nullptr), nullptr};
  __createDefaultTransformSpec(state, &specs[2]);
  ELF_ASSIGN(state, &dioTransformSpec(specs[1])->attributes, lstBuildArgs(state, "width:i", 10, 0, LST_END));
  for (elf_object* spec : specs) {
    keep(spec);
    const std::string text = written(spec, "    ");
    elf_object* back = keep(read_back(state, text));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(equal_TRANSFORMSPEC(spec, back), 1) << text;
    EXPECT_EQ(back->instance, spec->instance);
    EXPECT_EQ(written(back, "    "), text);
    // What was read back is a record like any other: setters and copies take it.
    if (dioCoreSpec(spec)) {
      EXPECT_EQ(__setTSRotate(state, back, 180), 0);
      elf_object* copy = keep(copy_TRANSFORMSPEC(back));
      EXPECT_EQ(photometries(dioCoreSpec(copy)->contone), photometries(dioCoreSpec(spec)->contone));
    } else {
      EXPECT_EQ(dioTransformSpec(back)->coreImage, nullptr);
    }
  }
  EXPECT_EQ(messages, "");
}

TEST_F(SpecCopyTest, TheRecordIsWrittenBigEndianInsideTheFrame) {
  elf_object* spec = default_spec();
  __setTSAttributes(state, spec, 3, 8, 0, 0, 2);
  const std::string text = written(spec);
  // The frame, then the record's fields in order: format 3, subtype 8, orientation 0 ...
  EXPECT_EQ(text.substr(0, text.find("  data: ")),
            "[TRANSFORMSPEC]\npeer: \nattributes: \ncoreImage: \n  [POINTER]\n  peer: \n"
            "  description: TRANSFORMSPEC core record 1\n  length: 204\n");
  EXPECT_NE(text.find("  data: 000000030000000800000000"), std::string::npos) << text;
  const std::string end = "[ENDTRANSFORMSPEC" + std::to_string(spec->instance) + "]\n";
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

TEST_F(SpecCopyTest, ADamagedRecordIsDroppedAndOtherPointersAreNeverTakenForOne) {
  elf_object* spec = keep(full_spec());
  const std::string text = written(spec);
  const size_t data = text.find("  data: ");
  ASSERT_NE(data, std::string::npos);
  const std::string cut = text.substr(0, data) + text.substr(text.find('\n', data) + 1);
  std::string grown = text;
  grown.insert(text.find('\n', data), "00");
  const std::string foreign = "[TRANSFORMSPEC]\ncoreImage: \n  [POINTER]\n  length: 4\n  data: 01020304\n"
                              "  [ENDPOINTER1]\n[ENDTRANSFORMSPEC1]\n";
  for (const std::string& damaged : {cut, grown}) {
    messages.clear();
    elf_object* back = keep(read_back(state, damaged));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(dioTransformSpec(back)->coreImage, nullptr) << damaged;
    EXPECT_NE(messages.find("read_TRANSFORMSPEC: the core record is damaged"), std::string::npos) << messages;
    EXPECT_EQ(elflistLength(dioTransformSpec(back)->attributes), 1) << "the rest is read";
  }
  elf_object* back = keep(read_back(state, foreign));
  ASSERT_NE(back, nullptr);
  EXPECT_NE(dioTransformSpec(back)->coreImage, nullptr);
  EXPECT_EQ(dioCoreSpec(back), nullptr);
  EXPECT_EQ(__setTSRotate(state, back, 90), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "setRotate: Bad attribute struct.\n");
}

TEST_F(TransformSpecTest, MembersResolveToTheirMethods) {
  elf_object* spec = default_spec();
  const struct {
    const char* member;
    elf_method_proc proc;
  } cases[] = {{"testAffine", TransformSpecMethods}, {"testSize", TransformSpecMethods},
               {"testSegment", TransformSpecMethods}, {"testFlat", TransformSpecMethods},
               {"testCompress", TransformSpecMethods}, {"testOrient", TransformSpecMethods},
               {"testDepth", TransformSpecMethods}, {"testPhotom", TransformSpecMethods},
               {"setRasterSpec", TransformSpecRasters}, {"setPageSpec", TransformSpecPage},
               {"isMRC", SpecIsMRC}, {"clearAttr", TransformSpecMethods}, {"getAttr", TransformSpecMethods},
               {"setAttr", TransformSpecMethods}, {"toList", TransformSpecMethods},
               {"matchList", TransformSpecMethods}, {"initByImage", TransformSpecMethods}};
  static_assert(std::size(cases) == TRANSFORMSPEC_MEMBERS);
  for (size_t i = 0; i < std::size(cases); ++i) {
    elf_object* method = get_TRANSFORMSPEC(state, spec, cases[i].member);
    ASSERT_NE(elfMethod(method), nullptr) << cases[i].member;
    EXPECT_EQ(elfMethod(method)->proc, cases[i].proc) << cases[i].member;
    EXPECT_EQ(dioTransformSpec(spec)->members[i], method) << cases[i].member << " is cached in its own slot";
  }
  EXPECT_NE(get_TRANSFORMSPEC(state, spec, "Copy"), nullptr);
  EXPECT_EQ(get_TRANSFORMSPEC(state, spec, "flatten"), nullptr);
  set_TRANSFORMSPEC(state, spec, "flatten", nullptr);
  EXPECT_EQ(messages,
            "Unknown member <flatten> for object get of TRANSFORMSPEC\n"
            "Unknown member <flatten> for object set of TRANSFORMSPEC\n");
}

TEST_F(SpecCopyTest, EmptinessEqualityCyclesAndReferences) {
  elf_object* bare = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  elf_object* spec = keep(full_spec());
  EXPECT_EQ(empty_TRANSFORMSPEC(bare), 1);
  EXPECT_EQ(empty_TRANSFORMSPEC(spec), 0);
  EXPECT_EQ(equal_TRANSFORMSPEC(spec, bare), 0);
  elf_object* other = keep(copy_TRANSFORMSPEC(spec));
  dioCoreSpec(other)->binary.photometries->entries[0] = 22;
  EXPECT_EQ(equal_TRANSFORMSPEC(spec, other), 0) << "lists are compared by what they hold";

  // A spec reaches what it holds, so a list that holds it cannot go into its attributes.
  elf_object* attributes = dioTransformSpec(spec)->attributes;
  EXPECT_EQ(cycle_TRANSFORMSPEC(spec, attributes), 1);
  EXPECT_EQ(cycle_TRANSFORMSPEC(spec, dioTransformSpec(spec)->coreImage), 1);
  EXPECT_EQ(cycle_TRANSFORMSPEC(spec, bare), 0);
  EXPECT_NE(elflistInsert(attributes, spec, -1, 0), 0);

  TextFile file;
  refs_TRANSFORMSPEC(spec, file.fd(), "");
  const std::string refs = file.text();
  EXPECT_EQ(refs.rfind("[TRANSFORMSPEC] : refCount=1, elf=", 0), 0u) << refs;
  EXPECT_NE(refs.find("\nattributes: \n  [LIST] : refCount=1"), std::string::npos) << refs;
  EXPECT_NE(refs.find("\ncoreImage: \n  [POINTER] : refCount=1"), std::string::npos) << refs;

  elf_state* moved = initState(nullptr, "pagefiler.ucm");
  resetELF_TRANSFORMSPEC(spec, moved);
  EXPECT_EQ(spec->state, moved);
  EXPECT_EQ(dioTransformSpec(spec)->coreImage->state, moved);
  EXPECT_EQ(dioTransformSpec(spec)->attributes->state, moved);
  resetELF_TRANSFORMSPEC(spec, state);
  freeState(moved);
}

}  // namespace
