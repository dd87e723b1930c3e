// The members of TRANSFORMSPEC called as scripts call them: setRasterSpec, setPageSpec, isMRC,
// the attributes, testPhotom and the seven tests that tell what a page needs to suit a target.

#include <functional>
#include <string>
#include <vector>

#include "transform_fixture.h"

namespace {

using monotest::block_text;
using monotest::page_text;
using monotest::photometries;
using monotest::SpecTest;

class SpecMethodsTest : public SpecTest {
 protected:
  // Calls member with args (released after) and keeps the result list.
  int ask(elf_object* spec, const char* member, elf_object* args = nullptr) {
    const int status = call(spec, member, args);
    elfDiscard(args);
    return status;
  }


 public:
  // The record of the spec under "result", or null.
  DIOCoreSpec* result_record() const { return dioCoreSpec(result_value("result")); }
};

// ---- setRasterSpec, setPageSpec, isMRC ----

TEST_F(SpecMethodsTest, SetRasterSpecFillsTheBlockOfItsDepth) {
  const std::string untouched_binary = "depth 1 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none";
  struct Case {
    const char* what;
    std::function<elf_object*(elf_state*)> args;
    std::function<void(DIOCoreSpec*)> before;
    bool binary;
    const char* expected;  // the block, or the status message
  };
  const Case cases[] = {
      {"every field", [](elf_state* s) {
         return lstBuildArgs(s, "maxBitDepth:i", 24, 0, "maxXRes:i", 300, 0, "maxYRes:i", 200, 0, "photometry:i", 111,
                             0, "compression:i", 1, 0, "jpegquality:i", 60, 0, "jbig2arith:b", 1, 0, "interleave:i", 1,
                             0, "width:i", 2550, 0, "height:i", 3300, 0, LST_END);
       }, nullptr, false, "depth 24 comp 1 q 60 arith 1 il 1 res 300x200 size 2550x3300 photo 111"},
      {"only the depth", [](elf_state* s) { return lstBuildArgs(s, "maxBitDepth:i", 8, 0, LST_END); }, nullptr, false,
       "depth 8 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none"},
      {"binary", [](elf_state* s) {
         return lstBuildArgs(s, "maxBitDepth:i", 1, 0, "photometry:i", 21, 0, "compression:i", 3, 0, LST_END);
       }, nullptr, true, "depth 1 comp 3 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo 21"},
      {"a new photometry replaces the list", [](elf_state* s) {
         return lstBuildArgs(s, "maxBitDepth:i", 24, 0, "photometry:i", 22, 0, LST_END);
       }, [](DIOCoreSpec* c) { monotest::give_list(&c->contone, {111}); }, false,
       "depth 24 comp -1 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo 22"},
      {"uncompressed stays uncompressed", [](elf_state* s) {
         return lstBuildArgs(s, "maxBitDepth:i", 8, 0, "compression:i", 1, 0, LST_END);
       }, [](DIOCoreSpec* c) { c->contone.compression = 0; }, false,
       "depth 8 comp 0 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none"},
      {"disallowed", [](elf_state* s) {
         return lstBuildArgs(s, "maxBitDepth:i", 8, 0, "disallow:b", 1, 0, "compression:i", 1, 0, LST_END);
       }, [](DIOCoreSpec* c) { monotest::give_list(&c->contone, {111}); }, false,
       "depth 0 comp 0 q 0 arith 0 il 0 res 0x0 size 0x0 photo none"},
      {"no depth", [](elf_state* s) { return lstBuildArgs(s, "compression:i", 1, 0, LST_END); }, nullptr, false,
       "TransformSpecRasters: max bit depth is required\n"},
      {"depth 16", [](elf_state* s) { return lstBuildArgs(s, "maxBitDepth:i", 16, 0, LST_END); }, nullptr, false,
       "TransformSpecRasters: max bit depth must be one of 1, 8, 24\n"},
      {"a value of the wrong type", [](elf_state* s) {
         return lstBuildArgs(s, "maxBitDepth:i", 8, 0, "width:s", "wide", 0, LST_END);
       }, nullptr, false, "TransformSpecRasters: Error getting input args\n"},
  };
  for (const Case& c : cases) {
    elf_object* spec = default_spec();
    if (c.before) c.before(dioCoreSpec(spec));
    const std::string before = block_text(dioCoreSpec(spec)->contone);
    const int status = ask(spec, "setRasterSpec", c.args(state));
    const DIOCoreSpec* core = dioCoreSpec(spec);
    if (std::string(c.expected).find("TransformSpecRasters") == 0) {
      EXPECT_EQ(status, QEL_STATUS_INVALID) << c.what;
      EXPECT_EQ(status_message(), c.expected) << c.what;
      EXPECT_EQ(block_text(core->contone), before) << c.what;
    } else {
      EXPECT_EQ(status, 0) << c.what << ": " << status_message();
      EXPECT_EQ(block_text(c.binary ? core->binary : core->contone), c.expected) << c.what;
      if (!c.binary) {
        EXPECT_EQ(block_text(core->binary), untouched_binary) << c.what;
      }
    }
    EXPECT_EQ(result, nullptr) << c.what;
  }
}

TEST_F(SpecMethodsTest, SetRasterSpecAndTestPhotomNeedACoreRecord) {
  elf_object* bare = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  EXPECT_EQ(ask(bare, "setRasterSpec", lstBuildArgs(state, "maxBitDepth:i", 8, 0, LST_END)), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecRasters: No core image struct.\n");
  EXPECT_EQ(ask(bare, "testPhotom", lstBuildArgs(state, "photometry:INTEGER", 22, 0, LST_END)), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecMethods:No core specification for photometry testing\n");
  EXPECT_EQ(result, nullptr);

  // A coreImage without a record: refused by the setter, no match for the test.
  ELF_ASSIGN(state, &dioTransformSpec(bare)->coreImage, elfNewPointer(state, nullptr, 0));
  EXPECT_EQ(ask(bare, "setRasterSpec", lstBuildArgs(state, "maxBitDepth:i", 8, 0, LST_END)), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecRasters: Bad attribute struct.\n");
  EXPECT_EQ(ask(bare, "testPhotom", lstBuildArgs(state, "photometry:INTEGER", 22, 0, LST_END)), 0);
  EXPECT_EQ(result_int("isMatch"), 0);
}

TEST_F(SpecMethodsTest, SetPageSpecSetsWhatIsGivenAndLandscapeWins) {
  const struct {
    const char* what;
    std::function<elf_object*(elf_state*)> args;
    const char* expected;
  } cases[] = {
      {"mrc", [](elf_state* s) { return lstBuildArgs(s, "mrc:b", 1, 0, LST_END); },
       "format 0 sub 0 orient 0 mode 2 ppf 0 rotate 0 affine 0"},
      {"flat", [](elf_state* s) { return lstBuildArgs(s, "mrc:b", 0, 0, LST_END); },
       "format 0 sub 0 orient 0 mode 1 ppf 0 rotate 0 affine 0"},
      {"one page per file", [](elf_state* s) { return lstBuildArgs(s, "singlePagePerFile:b", 1, 0, LST_END); },
       "format 0 sub 0 orient 0 mode 0 ppf 1 rotate 0 affine 0"},
      {"many pages per file", [](elf_state* s) { return lstBuildArgs(s, "singlePagePerFile:b", 0, 0, LST_END); },
       "format 0 sub 0 orient 0 mode 0 ppf 2 rotate 0 affine 0"},
      {"not portrait", [](elf_state* s) { return lstBuildArgs(s, "portrait:b", 0, 0, LST_END); },
       "format 0 sub 0 orient 2 mode 0 ppf 0 rotate 0 affine 0"},
      {"not landscape", [](elf_state* s) { return lstBuildArgs(s, "landscape:b", 0, 0, LST_END); },
       "format 0 sub 0 orient 1 mode 0 ppf 0 rotate 0 affine 0"},
      {"both", [](elf_state* s) { return lstBuildArgs(s, "portrait:b", 1, 0, "landscape:b", 1, 0, LST_END); },
       "format 0 sub 0 orient 2 mode 0 ppf 0 rotate 0 affine 0"},
  };
  for (const auto& c : cases) {
    elf_object* spec = zero_spec();
    ASSERT_EQ(ask(spec, "setPageSpec", c.args(state)), 0) << c.what;
    EXPECT_EQ(page_text(*dioCoreSpec(spec)), c.expected) << c.what;
  }

  // Without a record, nothing asked makes none; something asked makes an all-zero one.
  elf_object* bare = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  ASSERT_EQ(ask(bare, "setPageSpec", lstBuildArgs(state, "other:b", 1, 0, LST_END)), 0);
  EXPECT_EQ(dioTransformSpec(bare)->coreImage, nullptr);
  ASSERT_EQ(ask(bare, "setPageSpec", lstBuildArgs(state, "mrc:b", 1, 0, LST_END)), 0);
  ASSERT_NE(dioCoreSpec(bare), nullptr);
  EXPECT_EQ(page_text(*dioCoreSpec(bare)), "format 0 sub 0 orient 0 mode 2 ppf 0 rotate 0 affine 0");
  EXPECT_EQ(block_text(dioCoreSpec(bare)->contone), "depth 0 comp 0 q 0 arith 0 il 0 res 0x0 size 0x0 photo none");

  ASSERT_EQ(ask(bare, "isMRC"), 0);
  EXPECT_EQ(result_int("hasmrc"), 1);
  ASSERT_EQ(ask(default_spec(), "isMRC"), 0);
  EXPECT_EQ(result_int("hasmrc"), 0);
  ASSERT_EQ(ask(keep(new_elf_object(state, "TRANSFORMSPEC", nullptr)), "isMRC"), 0);
  EXPECT_EQ(result_int("hasmrc"), 0);
}

// ---- The dispatcher, attributes and testPhotom ----

TEST_F(SpecMethodsTest, TheDispatcherAnswersItsMembersAndNothingElse) {
  elf_object* spec = default_spec();
  elf_object* args = lstBuildArgs(state, "other:i", 1, 0, LST_END);
  EXPECT_EQ(TransformSpecMethods(spec, args, &result), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecMethods:Internal Object Error - No such method\n");
  elfDiscard(args);

  args = lstBuildArgs(state, "CALL_NAME:s", "flatten", 0, LST_END);
  clearStatus(state);
  EXPECT_EQ(TransformSpecMethods(spec, args, &result), 0);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(getStatus(state), 0);
  EXPECT_EQ(TransformSpecMethods(args, args, &result), QEL_STATUS_INVALID) << "not a spec";
  elfDiscard(args);

  // Attributes go through the interpreter's attribute service; toList hands out the list itself.
  ASSERT_EQ(ask(spec, "toList"), 0);
  ASSERT_EQ(elflistLength(result), 1);
  EXPECT_EQ(result_value("list"), nullptr);
  ASSERT_EQ(ask(spec, "setAttr", lstBuildArgs(state, "name:s", "IOP_rotate", 0, "obj:i", 90, 0, LST_END)), 0);
  ASSERT_EQ(ask(spec, "getAttr", lstBuildArgs(state, "name:s", "IOP_rotate", 0, LST_END)), 0);
  EXPECT_EQ(result_int("obj"), 90);
  ASSERT_EQ(ask(spec, "toList"), 0);
  EXPECT_EQ(result_value("list"), dioTransformSpec(spec)->attributes);
  ASSERT_EQ(ask(spec, "clearAttr", lstBuildArgs(state, "name:s", "IOP_rotate", 0, LST_END)), 0);
  EXPECT_EQ(elflistLength(dioTransformSpec(spec)->attributes), 0);

  EXPECT_EQ(ask(spec, "initByImage"), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecMethods:No image provided to initialize.\n");
  EXPECT_EQ(ask(spec, "matchList"), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecMethods:No matching choices provided\n");
  EXPECT_EQ(ask(spec, "testPhotom"), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "TransformSpecMethods:No photometry provided for testing\n");
}

TEST_F(SpecMethodsTest, TestPhotomLooksInTheBinaryListThenTheContoneList) {
  elf_object* spec = default_spec();
  ASSERT_EQ(__setTSRasterAttr(state, spec, 3, 0, 0, 1, int_list({21}), 400, 400, 1), 0);
  ASSERT_EQ(__setTSRasterAttr(state, spec, 1, 80, 0, 1, int_list({111, 22}), 400, 400, 24), 0);
  elf_object* open = default_spec();  // lists nowhere: nothing to match here
  const struct {
    elf_object* spec;
    int32_t code;
    int32_t match;
  } cases[] = {{spec, 21, 1}, {spec, 22, 1}, {spec, 111, 1}, {spec, 5, 0}, {open, 21, 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(ask(c.spec, "testPhotom", lstBuildArgs(state, "photometry:INTEGER", c.code, 0, LST_END)), 0);
    EXPECT_EQ(result_int("isMatch"), c.match) << c.code;
  }
}

// ---- The tests' common frame ----

struct TestName {
  const char* name;
  const char* no_source;
  const char* no_source_record;
  const char* without_target_record;  // the result names then
};

constexpr TestName test_names[] = {
    {"testFlat", "TransformSpecMethods:No specifcations provided for flat testing\n",
     "doTestFlat: No core specification for source in flatten test\n", "needed result"},
    {"testAffine", "TransformSpecMethods:No specifcations provided for flat testing\n",
     "doTestAffine: No core specification for source in affine test\n", "needed result"},
    {"testSegment", "TransformSpecMethods:No specifcations provided for segmentation testing\n",
     "doTestSeg: No core specification for source in segmentation test\n", "needed config result"},
    {"testSize", "TransformSpecMethods:No specifcations provided for size testing\n",
     "doTestScale: No core specification for source in orientation test\n", "needed"},
    {"testDepth", "TransformSpecMethods:No specifcations provided for bit depth testing\n",
     "doTestDepth: No core specification for source in bit depth\n", "needed"},
    {"testOrient", "TransformSpecMethods:No specifcations provided for orientation testing\n",
     "doTestOrient: No core specification for source in orientation test\n", "needed"},
    {"testCompress", "TransformSpecMethods:No specifcations provided for compression testing\n",
     "doTestCompress: No core specification for source given for compression test\n", "needed result"},
};

TEST_F(SpecMethodsTest, EveryTestChecksItsSpecsFirst) {
  elf_object* spec = default_spec();
  elf_object* bare = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  for (const TestName& t : test_names) {
    EXPECT_EQ(ask(spec, t.name), QEL_STATUS_INVALID) << t.name;
    EXPECT_EQ(status_message(), t.no_source);
    EXPECT_EQ(result_names(), "") << "the list made first stays empty";

    EXPECT_EQ(ask(spec, t.name, lstBuildArgs(state, "inSpec:TRANSFORMSPEC", bare, 0, LST_END)), QEL_STATUS_INVALID);
    EXPECT_EQ(status_message(), t.no_source_record);

    // A target without a record has nothing to ask for.
    ASSERT_EQ(ask(bare, t.name, lstBuildArgs(state, "inSpec:TRANSFORMSPEC", spec, 0, LST_END)), 0) << t.name;
    EXPECT_EQ(result_names(), t.without_target_record) << t.name;
    EXPECT_EQ(result_int("needed"), 0);
    if (result_value("result")) {
      EXPECT_EQ(result_value("result"), spec) << t.name << ": the source is the base";
    }
    if (result_value("config")) {
      EXPECT_EQ(result_text("config"), "\"orvel/orvelNlc.cfg\"");
    }
  }
}

TEST_F(SpecMethodsTest, ResultsGoAfterWhatTheCallersListHolds) {
  elf_object* target = default_spec();
  elf_object* source = default_spec();
  result = lstBuildArgs(state, "earlier:i", 1, 0, LST_END);
  elf_object* args = lstBuildArgs(state, "CALL_NAME:s", "testAffine", 0, "inSpec:TRANSFORMSPEC", source, 0, LST_END);
  ASSERT_EQ(TransformSpecMethods(target, args, &result), 0);
  EXPECT_EQ(result_names(), "earlier needed result");
  // Nothing needed: the result is the base itself, not a copy.
  EXPECT_EQ(result_value("result"), source);
  elfDiscard(args);
  args = lstBuildArgs(state, "CALL_NAME:s", "testAffine", 0, "inSpec:TRANSFORMSPEC", source, 0, LST_END);
  ASSERT_EQ(TransformSpecMethods(target, args, nullptr), 0) << "a caller without a place";
  elfDiscard(args);
}

// ---- The seven tests ----

// One question to a target about a source: how both are set up, the extra arguments, and what
// must come back.
struct Question {
  const char* what;
  const char* test;
  std::function<void(DIOCoreSpec* target, DIOCoreSpec* source)> setup;
  std::function<elf_object*(elf_state*)> extra;  // arguments besides inSpec, or null
  int32_t pulling;
  int32_t needed;
  std::function<void(const SpecMethodsTest&, const Question&)> check;  // or null
};

class SpecQuestionTest : public SpecMethodsTest {
 protected:
  void ask_all(const std::vector<Question>& questions) {
    for (const Question& q : questions) {
      elf_object* target = default_spec();
      elf_object* source = default_spec();
      q.setup(dioCoreSpec(target), dioCoreSpec(source));
      const std::string target_before = written(target), source_before = written(source);
      elf_object* args = q.extra ? q.extra(state) : new_LIST(state, nullptr, nullptr);
      lstAppendArgs(args, "inSpec:TRANSFORMSPEC", source, 0, "pulling:b", q.pulling, 0, LST_END);
      ASSERT_EQ(ask(target, q.test, args), 0) << q.what << ": " << status_message();
      EXPECT_EQ(result_int("needed"), q.needed) << q.what;
      elf_object* base = q.pulling ? target : source;
      if (elf_object* r = result_value("result")) {
        EXPECT_EQ(r == base, !q.needed) << q.what << ": a needed step gives a copy, else the base";
      }
      EXPECT_EQ(written(target), target_before) << q.what << ": the specs asked are never changed";
      EXPECT_EQ(written(source), source_before) << q.what;
      if (q.check) q.check(*this, q);
    }
  }

  std::string written(elf_object* spec) {
    monotest::TextFile file;
    write_TRANSFORMSPEC(spec, file.fd(), "");
    return file.text();
  }
};

void set_mode(DIOCoreSpec* c, int32_t mode) { c->pageMode = mode; }

TEST_F(SpecQuestionTest, FlatAffineAndSegment) {
  ask_all({
      {"MRC page, flat target", "testFlat",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         set_mode(t, DIO_PAGE_FLAT);
         set_mode(s, DIO_PAGE_MRC);
         s->affine = 1;
         s->rotate = 90;
       },
       nullptr, 0, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         const DIOCoreSpec* r = f.result_record();
         EXPECT_EQ(page_text(*r), "format 0 sub 0 orient 0 mode 1 ppf 0 rotate 0 affine 0") << q.what;
         EXPECT_EQ(r->binary.depth, 0) << q.what << ": with a contone raster the binary one goes";
       }},
      {"pulling the flat target", "testFlat",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         set_mode(t, DIO_PAGE_FLAT);
         set_mode(s, DIO_PAGE_MRC);
       },
       nullptr, 1, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(f.result_record()->binary.compression, 0) << q.what;
         EXPECT_EQ(f.result_record()->contone.compression, 0) << q.what;
         EXPECT_EQ(f.result_record()->pageMode, DIO_PAGE_FLAT) << q.what;
       }},
      {"MRC page, MRC target", "testFlat", [](DIOCoreSpec* t, DIOCoreSpec* s) { set_mode(t, 2), set_mode(s, 2); },
       nullptr, 0, 0, nullptr},
      {"affine page, target without", "testAffine", [](DIOCoreSpec*, DIOCoreSpec* s) { s->affine = 1, s->rotate = 90; },
       nullptr, 0, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(page_text(*f.result_record()), "format 0 sub 0 orient 0 mode 0 ppf 0 rotate 0 affine 1") << q.what;
       }},
      {"affine page, target with", "testAffine", [](DIOCoreSpec* t, DIOCoreSpec* s) { t->affine = s->affine = 1; },
       nullptr, 0, 0, nullptr},
      {"flat contone page, MRC target coding G4", "testSegment",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         set_mode(t, DIO_PAGE_MRC);
         t->binary.compression = QEL_COMPRESSION_G3;
         set_mode(s, DIO_PAGE_FLAT);
         s->binary.compression = 0;
         s->binary.maxXRes = 300;
         monotest::give_list(&s->binary, {21});
       },
       nullptr, 0, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(f.result_text("config"), "\"orvel/orvelNlc.cfg\"") << q.what;
         const DIOCoreSpec* r = f.result_record();
         EXPECT_EQ(block_text(r->binary), "depth 1 comp 3 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none");
         EXPECT_EQ(r->pageMode, DIO_PAGE_MRC);
         EXPECT_EQ(r->contone.compression, QEL_COMPRESSION_JPEG);
       }},
      {"flat contone page, MRC target taking any binary coding", "testSegment",
       [](DIOCoreSpec* t, DIOCoreSpec* s) { set_mode(t, DIO_PAGE_MRC), set_mode(s, DIO_PAGE_FLAT); }, nullptr, 0, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(f.result_text("config"), "\"orvel/orvelNl.cfg\"") << q.what;
         EXPECT_EQ(f.result_record()->binary.compression, 0) << q.what;
       }},
      {"pulling the MRC target", "testSegment",
       [](DIOCoreSpec* t, DIOCoreSpec* s) { set_mode(t, DIO_PAGE_MRC), set_mode(s, DIO_PAGE_FLAT), t->affine = 1; },
       nullptr, 1, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(page_text(*f.result_record()), "format 0 sub 0 orient 0 mode 1 ppf 0 rotate 0 affine 0") << q.what;
         EXPECT_EQ(f.result_record()->contone.compression, 0) << q.what;
       }},
      {"flat binary page", "testSegment",
       [](DIOCoreSpec* t, DIOCoreSpec* s) { set_mode(t, 2), set_mode(s, 1), s->contone.depth = 0; }, nullptr, 0, 0,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(f.result_text("config"), "\"orvel/orvelNlc.cfg\"") << q.what;
       }},
  });
}

TEST_F(SpecQuestionTest, Size) {
  auto page = [](DIOCoreSpec* s, double res, int32_t w, int32_t h) {
    s->contone.maxXRes = s->contone.maxYRes = res;
    s->contone.width = w;
    s->contone.height = h;
  };
  auto sizes = [](const char* expected) {
    return [expected](const SpecMethodsTest& f, const Question& q) {
      char text[160];
      std::snprintf(text, sizeof text, "sfact %g size %dx%d res %gx%g", f.result_double("sfact"), f.result_int("xsize"),
                    f.result_int("ysize"), f.result_double("xres"), f.result_double("yres"));
      EXPECT_EQ(std::string(text), expected) << q.what;
      EXPECT_EQ(f.result_names(), "needed sfact xsize ysize xres yres result") << q.what;
    };
  };
  ask_all({
      {"600 dpi page, 300 dpi target", "testSize",
       [page](DIOCoreSpec* t, DIOCoreSpec* s) {
         page(s, 600, 5100, 6600);
         t->contone.maxXRes = t->contone.maxYRes = 300;
       },
       nullptr, 0, 1,
       [sizes](const SpecMethodsTest& f, const Question& q) {
         sizes("sfact 0.5 size 2550x3300 res 300x300")(f, q);
         EXPECT_EQ(block_text(f.result_record()->contone),
                   "depth 24 comp -1 q 80 arith 0 il 100 res 300x300 size 2550x3300 photo none");
       }},
      {"310 dpi is within reach of 300", "testSize",
       [page](DIOCoreSpec* t, DIOCoreSpec* s) {
         page(s, 310, 2635, 3410);
         t->contone.maxXRes = t->contone.maxYRes = 300;
       },
       nullptr, 0, 0, sizes("sfact 1 size 2635x3410 res 310x310")},
      {"only x too fine", "testSize",
       [page](DIOCoreSpec* t, DIOCoreSpec* s) {
         page(s, 400, 1000, 1000);
         s->contone.maxYRes = 200;
         t->contone.maxXRes = t->contone.maxYRes = 200;
       },
       nullptr, 0, 1, sizes("sfact 1 size 500x0 res 200x200")},
      {"a fixed width", "testSize",
       [page](DIOCoreSpec* t, DIOCoreSpec* s) {
         page(s, 200, 1700, 2200);
         t->contone.width = 1728;
       },
       nullptr, 0, 1, sizes("sfact 1.01647 size 1728x0 res 200x200")},
      {"a binary page meets the binary limits", "testSize",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         s->contone.depth = 0;
         s->binary.maxXRes = s->binary.maxYRes = 400;
         s->binary.width = 3400;
         s->binary.height = 4400;
         t->binary.maxXRes = t->binary.maxYRes = 200;
         t->contone.maxXRes = 100;
       },
       nullptr, 0, 1,
       [sizes](const SpecMethodsTest& f, const Question& q) {
         sizes("sfact 0.5 size 1700x2200 res 200x200")(f, q);
         EXPECT_EQ(f.result_record()->binary.width, 1700) << q.what;
         EXPECT_EQ(f.result_record()->contone.width, 0) << q.what;
       }},
      {"pulling", "testSize",
       [page](DIOCoreSpec* t, DIOCoreSpec* s) {
         page(s, 600, 600, 600);
         t->contone.maxXRes = t->contone.maxYRes = 300;
         t->affine = 1;
       },
       nullptr, 1, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(page_text(*f.result_record()), "format 0 sub 0 orient 0 mode 1 ppf 0 rotate 0 affine 0") << q.what;
         EXPECT_EQ(f.result_record()->contone.maxXRes, 300) << q.what;
       }},
  });
}

TEST_F(SpecQuestionTest, Depth) {
  auto bits = [](int32_t expected) {
    return [expected](const SpecMethodsTest& f, const Question& q) { EXPECT_EQ(f.result_int("tobits"), expected) << q.what; };
  };
  auto reduce = [](elf_state* s) { return lstBuildArgs(s, "reduce:b", 1, 0, LST_END); };
  ask_all({
      {"24 bits into an 8-bit target", "testDepth", [](DIOCoreSpec* t, DIOCoreSpec*) { t->contone.depth = 8; }, reduce,
       0, 1,
       [bits](const SpecMethodsTest& f, const Question& q) {
         bits(8)(f, q);
         EXPECT_EQ(f.result_record()->contone.depth, 8) << q.what;
       }},
      {"24 bits into a binary-only target", "testDepth",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->contone.depth = 0;
         s->contone.compression = 0;
         monotest::give_list(&s->contone, {22});
       },
       reduce, 0, 1,
       [bits](const SpecMethodsTest& f, const Question& q) {
         bits(1)(f, q);
         const DIOCoreSpec* r = f.result_record();
         EXPECT_EQ(block_text(r->binary), "depth 1 comp 0 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo 22");
         EXPECT_EQ(r->contone.depth, 0) << q.what;
       }},
      {"pulling the reduced target", "testDepth", [](DIOCoreSpec* t, DIOCoreSpec*) { t->contone.depth = 8; }, reduce, 1,
       1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(f.result_record()->contone.compression, 0) << q.what;
         EXPECT_EQ(f.result_record()->pageMode, DIO_PAGE_FLAT) << q.what;
       }},
      {"8 bits fit 24", "testDepth", [](DIOCoreSpec*, DIOCoreSpec* s) { s->contone.depth = 8; }, reduce, 0, 0, bits(0)},
      {"1 bit into a contone-only target", "testDepth",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->binary.depth = 0;
         s->contone.depth = 0;
         s->binary.maxXRes = 300;
       },
       nullptr, 0, 1,
       [bits](const SpecMethodsTest& f, const Question& q) {
         bits(8)(f, q);
         const DIOCoreSpec* r = f.result_record();
         EXPECT_EQ(block_text(r->contone), "depth 8 comp -1 q 80 arith 0 il 100 res 300x65000 size 0x0 photo none");
         EXPECT_EQ(r->binary.depth, 0) << q.what;
       }},
      {"pulling the contone-only target", "testDepth",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->binary.depth = 0;
         t->contone.compression = 1;
         s->contone.depth = 0;
       },
       nullptr, 1, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         const DIOCoreSpec* r = f.result_record();
         EXPECT_EQ(block_text(r->binary), "depth 1 comp 0 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none");
         EXPECT_EQ(r->contone.depth, 0) << q.what;
         EXPECT_EQ(r->pageMode, DIO_PAGE_FLAT) << q.what;
       }},
      {"1 bit into a target that takes it", "testDepth", [](DIOCoreSpec*, DIOCoreSpec* s) { s->contone.depth = 0; },
       nullptr, 0, 0, bits(0)},
  });
}

TEST_F(SpecQuestionTest, OrientSnapsToQuarterTurns) {
  const struct {
    int32_t degrees;
    int32_t amount;
  } snaps[] = {{100, 90},    {350, 0},     {45, 0},      {46, 90},     {135, 90},   {136, 180},  {225, 180},
               {226, 270},   {315, 270},   {316, 0},     {-44, 0},     {-45, -90},  {-134, -90}, {-135, -180},
               {-224, -180}, {-225, -270}, {-314, -270}, {-315, 0},    {-359, 0},   {450, 90},   {-450, -90},
               {720, 0}};
  std::vector<Question> questions;
  for (const auto& s : snaps) {
    const int32_t degrees = s.degrees, amount = s.amount;
    questions.push_back({"snap", "testOrient", [](DIOCoreSpec*, DIOCoreSpec*) {},
                         [degrees](elf_state* st) { return lstBuildArgs(st, "degrees:i", degrees, 0, LST_END); }, 0,
                         amount != 0, [degrees, amount](const SpecMethodsTest& f, const Question&) {
                           EXPECT_EQ(f.result_int("amount"), amount) << degrees;
                           EXPECT_EQ(f.result_int("jpRot"), 0) << degrees;
                         }});
  }
  ask_all(questions);
}

TEST_F(SpecQuestionTest, OrientFollowsShapeRotationAndJpeg) {
  auto amount = [](int32_t expected, int32_t jp) {
    return [expected, jp](const SpecMethodsTest& f, const Question& q) {
      EXPECT_EQ(f.result_int("amount"), expected) << q.what;
      EXPECT_EQ(f.result_int("jpRot"), jp) << q.what;
      EXPECT_EQ(f.result_names(), "needed amount jpRot result") << q.what;
    };
  };
  auto degrees = [](int32_t d) {
    return [d](elf_state* s) { return lstBuildArgs(s, "degrees:i", d, 0, LST_END); };
  };
  auto jpeg = [](DIOCoreSpec* t, DIOCoreSpec* s) { t->contone.compression = s->contone.compression = 1; };
  std::vector<Question> questions = {
      {"landscape page, portrait target", "testOrient",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->orientation = DIO_ORIENT_PORTRAIT;
         s->orientation = DIO_ORIENT_LANDSCAPE;
         s->contone.maxXRes = 300;
         s->contone.maxYRes = 200;
         s->contone.width = 3300;
         s->contone.height = 2550;
       },
       nullptr, 0, 1,
       [amount](const SpecMethodsTest& f, const Question& q) {
         amount(-90, 0)(f, q);
         const DIOCoreSpec* r = f.result_record();
         EXPECT_EQ(r->orientation, DIO_ORIENT_PORTRAIT) << q.what;
         EXPECT_EQ(block_text(r->contone), "depth 24 comp -1 q 80 arith 0 il 100 res 200x300 size 2550x3300 photo none");
       }},
      {"portrait page, landscape target", "testOrient",
       [](DIOCoreSpec* t, DIOCoreSpec* s) { t->orientation = 2, s->orientation = 1; }, nullptr, 0, 1, amount(90, 0)},
      {"a page carrying a rotation", "testOrient", [](DIOCoreSpec*, DIOCoreSpec* s) { s->rotate = 90; }, nullptr, 0, 1,
       amount(-90, 0)},
      {"a page carrying a rotation, turned back", "testOrient", [](DIOCoreSpec*, DIOCoreSpec* s) { s->rotate = 270; },
       degrees(180), 0, 1, amount(-90, 0)},
      {"pulling decodes", "testOrient", [](DIOCoreSpec* t, DIOCoreSpec*) { t->affine = 1, t->pageMode = 2; },
       degrees(180), 1, 1,
       [amount](const SpecMethodsTest& f, const Question& q) {
         amount(180, 0)(f, q);
         EXPECT_EQ(page_text(*f.result_record()), "format 0 sub 0 orient 0 mode 1 ppf 0 rotate 0 affine 0") << q.what;
         EXPECT_EQ(f.result_record()->contone.compression, 0) << q.what;
       }},
      {"pulling keeps JPEG coded", "testOrient", jpeg, degrees(90), 1, 1,
       [amount](const SpecMethodsTest& f, const Question& q) {
         amount(90, 0)(f, q);
         EXPECT_EQ(f.result_record()->contone.compression, 1) << q.what;
       }},
      {"echoes jpRot", "testOrient", [](DIOCoreSpec*, DIOCoreSpec*) {},
       [](elf_state* s) { return lstBuildArgs(s, "degrees:i", 90, 0, "jpRot:b", 1, 0, LST_END); }, 0, 1, amount(90, 1)},
  };
  const int32_t turns[][2] = {{90, -1}, {180, -2}, {270, -3}, {-90, 1}, {-180, 2}, {-270, 3}};
  for (const auto& turn : turns) {
    questions.push_back({"JPEG turned in quarter turns", "testOrient", jpeg, degrees(turn[0]), 0, 1, amount(turn[1], 1)});
  }
  ask_all(questions);

  // The target's own rotation counts as well.
  elf_object* target = default_spec();
  ASSERT_EQ(ask(target, "setAttr", lstBuildArgs(state, "name:s", "IOP_rotate", 0, "obj:i", 90, 0, LST_END)), 0);
  ASSERT_EQ(ask(target, "testOrient",
                lstBuildArgs(state, "inSpec:TRANSFORMSPEC", default_spec(), 0, "degrees:i", 90, 0, LST_END)),
            0);
  EXPECT_EQ(result_int("amount"), 180);
}

TEST_F(SpecQuestionTest, Compress) {
  auto info = [](const char* expected) {
    return [expected](const SpecMethodsTest& f, const Question& q) {
      elf_object* cinfo = f.result_value("cinfo");
      std::string text;
      for (int32_t i = 0; i < elflistLength(cinfo); ++i) {
        auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(cinfo, i));
        text += std::string(i ? " " : "") + ident->name + "=";
        if (elfIsType(ident->value, "STRING")) {
          text += reinterpret_cast<elf_STRING*>(ident->value)->value;
        } else if (elfIsType(ident->value, "BOOLEAN")) {
          text += std::to_string(reinterpret_cast<elf_BOOLEAN*>(ident->value)->value);
        } else {
          text += std::to_string(reinterpret_cast<elf_INTEGER*>(ident->value)->value);
        }
      }
      EXPECT_EQ(text, expected) << q.what;
      EXPECT_EQ(f.result_names(), "needed cinfo result") << q.what;
    };
  };
  auto decode = [](elf_state* s) { return lstBuildArgs(s, "decode:BOOLEAN", 1, 0, LST_END); };
  auto raw = [](DIOCoreSpec* s) { s->contone.compression = s->binary.compression = 0; };
  ask_all({
      {"raw page, coding target", "testCompress",
       [raw](DIOCoreSpec* t, DIOCoreSpec* s) {
         raw(s);
         t->binary.compression = 7;
         t->binary.jbig2arith = 1;
         t->contone.compression = 1;
         t->contone.jpegquality = 60;
       },
       nullptr, 0, 1,
       [info](const SpecMethodsTest& f, const Question& q) {
         info("binena=1 contena=1 binalgo=\"jbig2\" jb2algo=1 contalgo=\"jpeg\" jpegqual=60")(f, q);
         EXPECT_EQ(f.result_record()->binary.compression, 0) << q.what << ": the copy is left as it was";
       }},
      {"raw page, target taking any coding", "testCompress", [raw](DIOCoreSpec*, DIOCoreSpec* s) { raw(s); }, nullptr,
       0, 0, info("binena=0 contena=0")},
      {"pulling the coding target", "testCompress",
       [raw](DIOCoreSpec* t, DIOCoreSpec* s) {
         raw(s);
         t->binary.compression = 3;
         t->binary.jbig2arith = 1;
         t->contone.jpegquality = 60;
       },
       nullptr, 1, 1,
       [info](const SpecMethodsTest& f, const Question& q) {
         info("binena=1 contena=0")(f, q);
         EXPECT_EQ(block_text(f.result_record()->binary),
                   "depth 1 comp 0 q 80 arith 0 il 100 res 65000x65000 size 0x0 photo none");
         EXPECT_EQ(f.result_record()->contone.jpegquality, 60) << q.what;
       }},
      {"fax-only coding into a PDF target that takes any", "testCompress",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->format = DIO_FORMAT_PDF;
         s->binary.compression = 16;
         s->contone.depth = 0;
       },
       decode, 0, 1,
       [info](const SpecMethodsTest& f, const Question& q) {
         info("binena=1 contena=0")(f, q);
         EXPECT_EQ(f.result_record()->binary.compression, 0) << q.what;
       }},
      {"fax-only coding into TIFF", "testCompress",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->format = DIO_FORMAT_TIFF;
         s->binary.compression = 17;
         s->contone.depth = 0;
       },
       decode, 0, 0, info("binena=0 contena=0")},
      {"JPEG page, deflate target", "testCompress",
       [](DIOCoreSpec* t, DIOCoreSpec* s) {
         t->contone.compression = 6;
         s->contone.compression = 1;
         s->binary.depth = 0;
       },
       decode, 0, 1,
       [info](const SpecMethodsTest& f, const Question& q) {
         info("binena=0 contena=1")(f, q);
         EXPECT_EQ(f.result_record()->contone.compression, 0) << q.what;
       }},
      {"JPEG page, JPEG target", "testCompress",
       [](DIOCoreSpec* t, DIOCoreSpec* s) { t->contone.compression = s->contone.compression = 1, s->binary.depth = 0; },
       decode, 0, 0, info("binena=0 contena=0")},
      {"pulling while decoding", "testCompress",
       [](DIOCoreSpec* t, DIOCoreSpec* s) { t->contone.compression = 6, s->contone.compression = 1; }, decode, 1, 1,
       [](const SpecMethodsTest& f, const Question& q) {
         EXPECT_EQ(f.result_record()->contone.compression, 6) << q.what;
       }},
  });
}

}  // namespace
