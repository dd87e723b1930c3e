// Members, procedures, scripts, attributes and type descriptions; parts of file names.

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "interp_fixture.h"
#include "tools.h"

namespace {

using monotest::InterpTest;
using monotest::TextFile;

class MemberTest : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    setenv(ELF_PLUGIN_PATH_ENV, MONOTEST_PLUGIN_DIR, 1);
  }
  void TearDown() override {
    elfDiscard(result);
    elfUnloadSharedLibraries();
    unsetenv(ELF_PLUGIN_PATH_ENV);
    InterpTest::TearDown();
  }

  // Calls a member and keeps the result list for the test to read (dropped at the end).
  int call(elf_object* obj, const char* name, elf_object* args) {
    elfDiscard(result);
    result = nullptr;
    return call_elf_object_method(state, obj, name, args, &result);
  }
  elf_object* result = nullptr;
};

// Remembers what a member method was given.
std::string seen_call;
int32_t seen_arguments = 0;
int record_call(void*, elf_object* args, elf_object**) {
  const char* name = "";
  int32_t n = -1;
  lstScanArgs(args, "CALL_NAME:s", LST_REQUIRED, &name, "n:i", LST_OPTIONAL, &n, LST_END);
  seen_call = name;
  seen_arguments = n;
  // The member's name comes first.
  const auto* first = reinterpret_cast<elf_IDENT*>(elflistItem(args, 0));
  return std::strcmp(first->name, "CALL_NAME") == 0 ? QEL_STATUS_OK : QEL_STATUS_INVALID;
}

TEST_F(MemberTest, MembersAreCalledWithTheirNameFirst) {
  ASSERT_EQ(elfBindMemberProc(state, ELF_TYPE_STRING, "record", record_call), 0);
  ASSERT_EQ(elfBindMemberProc(state, ELF_TYPE_STRING, "again", record_call), 0);
  elf_object* text = elfNewString(state, "x");
  elf_object* args = lstBuildArgs(state, "n:i", 4, 0, LST_END);
  EXPECT_EQ(call(text, "record", args), QEL_STATUS_OK) << getStatusMessage(state);
  EXPECT_EQ(seen_call, "record");
  EXPECT_EQ(seen_arguments, 4);
  EXPECT_EQ(call(text, "again", nullptr), QEL_STATUS_OK);
  EXPECT_EQ(seen_call, "again");
  EXPECT_EQ(elflistLength(args), 1) << "the caller's list is left as it was";

  EXPECT_EQ(call(text, "absent", nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "call_elf_object_method: a STRING has no member absent\n");
  EXPECT_NE(messages.find("Unknown member <absent> for object get of STRING"), std::string::npos);

  // A member bound to a library symbol is bound on first use.
  ASSERT_EQ(elfRegisterTypeLibrary(state, "STRING", "monotestplug"), ELF_TYPE_STRING);
  ASSERT_EQ(elfBindMember(state, ELF_TYPE_STRING, "fail", "failWith"), 0);
  elf_object* fail_args = lstBuildArgs(state, "message:s", "from the plug-in", 0, "code:i", 20, 0, LST_END);
  EXPECT_EQ(call(text, "fail", fail_args), 20);
  EXPECT_STREQ(getStatusMessage(state), "failWith: from the plug-in\n");
  ASSERT_EQ(elfBindMember(state, ELF_TYPE_STRING, "gone", "noSuchSymbol"), 0);
  EXPECT_EQ(call(text, "gone", nullptr), QEL_STATUS_FAILED);
  EXPECT_NE(messages.find("symbol noSuchSymbol not found"), std::string::npos);
  for (elf_object* o : {text, args, fail_args}) elfDiscard(o);
}

TEST_F(MemberTest, EveryTypeAnswersTheGenericMembers) {
  elf_object* list = lstBuildArgs(state, "a:i", 1, 0, "b:s", "two", 0, LST_END);
  ASSERT_EQ(call(list, "Type", nullptr), QEL_STATUS_OK);
  const char* type = nullptr;
  ASSERT_EQ(lstScanArgs(result, "type:s", LST_REQUIRED, &type, LST_END), 1);
  EXPECT_STREQ(type, "LIST");

  ASSERT_EQ(call(list, "Copy", nullptr), QEL_STATUS_OK);
  elf_object* copy = nullptr;
  ASSERT_EQ(lstScanArgs(result, "obj:LIST", LST_REQUIRED, &copy, LST_END), 1);
  EXPECT_NE(copy, list);
  EXPECT_EQ(list->ops.equal(list, copy), 1);

  elf_object* peer = elfNewString(state, "peer");
  elf_object* attach = lstBuildArgs(state, "obj:", peer, 0, LST_END);
  EXPECT_EQ(call(list, "Attach", attach), QEL_STATUS_OK);
  EXPECT_EQ(list->peer, peer);
  elf_object* self = lstBuildArgs(state, "obj:", list, 0, LST_END);
  EXPECT_EQ(call(peer, "Attach", self), QEL_STATUS_INVALID) << "a peer that holds the object would never go";
  EXPECT_EQ(call(list, "Split", nullptr), QEL_STATUS_OK);
  EXPECT_EQ(list->peer, nullptr);
  elf_object* split = nullptr;
  ASSERT_EQ(lstScanArgs(result, "obj:STRING *", LST_REQUIRED, &split, LST_END), 1);
  EXPECT_EQ(split, peer);

  TextFile file;
  elf_object* where = lstBuildArgs(state, "fd:i", file.fd(), 0, LST_END);
  EXPECT_EQ(call(list, "Write", where), QEL_STATUS_OK);
  EXPECT_EQ(file.text().rfind("[LIST]\n", 0), 0u) << file.text();
  for (elf_object* o : {list, attach, self, where}) elfDiscard(o);
}

TEST_F(MemberTest, ListsAnswerLengthAndRef) {
  elf_object* list = lstBuildArgs(state, "a:i", 5, 0, "b:i", 6, 0, LST_END);
  ASSERT_EQ(call(list, "length", nullptr), QEL_STATUS_OK);
  int32_t n = 0;
  ASSERT_EQ(lstScanArgs(result, "obj:i", LST_REQUIRED, &n, LST_END), 1);
  EXPECT_EQ(n, 2);
  elf_object* which = lstBuildArgs(state, "entry:i", 1, 0, LST_END);
  ASSERT_EQ(call(list, "ref", which), QEL_STATUS_OK);
  elf_object* entry = nullptr;
  ASSERT_EQ(lstScanArgs(result, "obj:IDENT", LST_REQUIRED, &entry, LST_END), 1);
  EXPECT_STREQ(reinterpret_cast<elf_IDENT*>(entry)->name, "b");
  elf_object* beyond = lstBuildArgs(state, "entry:i", 2, 0, LST_END);
  EXPECT_EQ(call(list, "ref", beyond), QEL_STATUS_INVALID);
  for (elf_object* o : {list, which, beyond}) elfDiscard(o);
}

TEST_F(MemberTest, AttributesAreSetReadAndCleared) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  auto attr = [&](const char* method, elf_object* args) { return call(image, method, args); };
  auto value_of = [&](const char* name) -> elf_object* {
    elf_object* args = lstBuildArgs(state, "name:s", name, 0, LST_END);
    const int status = attr("getAttr", args);
    elfDiscard(args);
    elf_object* value = nullptr;
    if (status == QEL_STATUS_OK) lstScanArgs(result, "obj:", LST_OPTIONAL, &value, LST_END);
    return value;
  };

  elf_object* set_page = lstBuildArgs(state, "name:s", QEL_ATTR_PAGE_NUMBER, 0, "obj:i", 3, 0, LST_END);
  elf_object* set_uid = lstBuildArgs(state, "name:s", "jbig2Dict:", 0, "obj:s", "uid-1", 0, LST_END);
  EXPECT_EQ(attr("setAttr", set_page), QEL_STATUS_OK);
  EXPECT_EQ(attr("setAttr", set_uid), QEL_STATUS_OK);
  EXPECT_EQ(reinterpret_cast<elf_INTEGER*>(value_of(QEL_ATTR_PAGE_NUMBER))->value, 3);
  EXPECT_STREQ(reinterpret_cast<elf_STRING*>(value_of("jbig2Dict:"))->value, "uid-1");
  EXPECT_EQ(value_of("absent"), nullptr);

  // A second set replaces the value in place.
  elf_object* again = lstBuildArgs(state, "name:s", QEL_ATTR_PAGE_NUMBER, 0, "obj:i", 4, 0, LST_END);
  EXPECT_EQ(attr("setAttr", again), QEL_STATUS_OK);
  EXPECT_EQ(elflistLength(qelImage(image)->attributes), 2);
  int32_t page = 0;
  EXPECT_EQ(lstScanArgs(qelImage(image)->attributes, "DIOPageNum:i", LST_REQUIRED, &page, LST_END), 1);
  EXPECT_EQ(page, 4);

  EXPECT_EQ(attr("getAttr", nullptr), QEL_STATUS_OK);
  elf_object* all = nullptr;
  ASSERT_EQ(lstScanArgs(result, "attributes:LIST", LST_REQUIRED, &all, LST_END), 1);
  EXPECT_NE(all, qelImage(image)->attributes);
  EXPECT_EQ(all->ops.equal(all, qelImage(image)->attributes), 1);

  elf_object* clear_uid = lstBuildArgs(state, "name:s", "jbig2Dict:", 0, LST_END);
  EXPECT_EQ(attr("clearAttr", clear_uid), QEL_STATUS_OK);
  EXPECT_EQ(value_of("jbig2Dict:"), nullptr);
  EXPECT_EQ(attr("clearAttr", nullptr), QEL_STATUS_OK);
  EXPECT_EQ(qelImage(image)->attributes, nullptr);

  elf_object* no_value = lstBuildArgs(state, "name:s", "x", 0, LST_END);
  EXPECT_EQ(attr("setAttr", no_value), QEL_STATUS_INVALID);
  EXPECT_STREQ(getStatusMessage(state), "setAttr: needs name:s and obj:\n");
  elf_object* holder = new_LIST(state, nullptr, nullptr);
  elf_object* holds_list = lstBuildArgs(state, "name:s", "x", 0, "obj:", holder, 0, LST_END);
  elf_object* place = nullptr;
  EXPECT_EQ(QELAttributes(&place, no_value, nullptr, "dropAttr"), QEL_STATUS_INVALID);
  EXPECT_STREQ(getStatusMessage(state), "QELAttributes: no attribute method dropAttr\n");
  // A value that holds the list it would go into is refused.
  ASSERT_EQ(QELAttributes(&place, set_page, nullptr, "setAttr"), QEL_STATUS_OK);
  ASSERT_EQ(elflistInsert(holder, place, -1, 0), 0);
  EXPECT_EQ(QELAttributes(&place, holds_list, nullptr, "setAttr"), QEL_STATUS_INVALID);
  for (elf_object* o : {image, set_page, set_uid, again, clear_uid, no_value, holds_list}) elfDiscard(o);
  elfRefDown(place);
}

int counted_runs = 0;
int count_run(void* target, elf_object*, elf_object** result) {
  ++counted_runs;
  *result = lstBuildArgs(static_cast<elf_state*>(target), "runs:i", counted_runs, 0, LST_END);
  return QEL_STATUS_OK;
}

TEST_F(MemberTest, ProceduresAndScriptsRunByName) {
  counted_runs = 0;
  ASSERT_EQ(elfRegisterProcedure(state, ELF_PROCEDURE, "Execute", count_run), 0);
  ASSERT_EQ(elfRegisterProcedure(state, ELF_SCRIPT, "docio/test.elf", count_run), 0);
  ASSERT_EQ(call_elf_procedure(state, "Execute", nullptr, &result), QEL_STATUS_OK);
  elfDiscard(result);
  ASSERT_EQ(ELFScriptExec(state, "docio/test.elf", nullptr, &result), QEL_STATUS_OK);
  EXPECT_EQ(counted_runs, 2);

  // Procedures and scripts are apart; unknown ones fail with a status.
  EXPECT_EQ(ELFScriptExec(state, "Execute", nullptr, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "ELFScriptExec: no script Execute\n");
  EXPECT_EQ(call_elf_procedure(state, "readnothing", nullptr, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "call_elf_procedure: no procedure readnothing\n");

  ASSERT_EQ(elfBindProcedure(state, ELF_PROCEDURE, "fail", "monotestplug", "failWith"), 0);
  elf_object* args = lstBuildArgs(state, "message:s", "bound late", 0, LST_END);
  EXPECT_EQ(call_elf_procedure(state, "fail", args, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(state), "failWith: bound late\n");
  elfDiscard(args);
}

TEST_F(MemberTest, TypeDescriptionsRegisterTypesMembersAndProcedures) {
  monotest::TempDir dir;
  const std::string path = dir.file("test.ucm");
  monotest::write_file(path,
                       "# a type of the test plug-in\n"
                       "[TYPE]\n"
                       "  name: PLUGTYPE\n"
                       "  library: monotestplug\n"
                       "  member: fail failWith\n"
                       "  member: invert   invertLayers\n"
                       "[ENDTYPE]\n"
                       "[TYPE]\n"
                       "  name: QELIMAGE\n"
                       "  member: fail failWith\n"
                       "[ENDTYPE]\n"
                       "[SCRIPT]\n"
                       "  name: docio/fail.elf\n"
                       "  library: monotestplug\n"
                       "  symbol: failWith\n"
                       "[ENDSCRIPT]\n");
  elf_state* s = initState(state, path.c_str());
  ASSERT_NE(s, nullptr) << messages;
  const int32_t id = find_elf_type(s, "PLUGTYPE");
  EXPECT_EQ(id, ELF_TYPE_FIRST_FREE);
  EXPECT_STREQ(elfTypeLibrary(s, id), "monotestplug");
  elf_object* method = get_assigned_method(s, id, "invert");
  ASSERT_NE(method, nullptr) << messages;
  EXPECT_STREQ(elfMethod(method)->name, "invert");
  EXPECT_NE(elfMethod(method)->proc, nullptr);
  elfDiscard(method);
  // The library has no creator for the type: asked for one, it says so.
  EXPECT_EQ(new_elf_object(s, "PLUGTYPE", nullptr), nullptr);
  EXPECT_NE(messages.find("new_PLUGTYPE not found"), std::string::npos) << messages;
  EXPECT_EQ(elfTypeReader(s, id), nullptr);
  // A known type takes more members; its library is the one its member symbols come from.
  EXPECT_EQ(find_elf_type(s, "QELIMAGE"), ELF_TYPE_QELIMAGE);
  elf_object* args = lstBuildArgs(s, "message:s", "in a script", 0, LST_END);
  EXPECT_EQ(ELFScriptExec(s, "docio/fail.elf", args, nullptr), QEL_STATUS_FAILED);
  EXPECT_STREQ(getStatusMessage(s), "failWith: in a script\n");
  elfDiscard(args);
  freeState(s);

  struct Bad {
    const char* text;
    const char* problem;
  };
  const Bad bad[] = {
      {"[THING]\n[ENDTHING]\n", "an entry of unknown kind"},
      {"[TYPE]\n  name: NEWTYPE\n[ENDTYPE]\n", "a new type needs a library"},
      {"[TYPE]\n  name: X\n  library: l\n  member: lonely\n[ENDTYPE]\n", "a member line is not"},
      {"[TYPE]\n  name: X\n  library: l\n", "an entry without its end line"},
      {"name: X\n", "a field outside an entry"},
      {"[PROCEDURE]\n  name: p\n  library: l\n[ENDPROCEDURE]\n", "needs a library and a symbol"},
      {"[TYPE]\n  name: X\n  colour: red\n[ENDTYPE]\n", "an unknown field"},
  };
  for (const Bad& b : bad) {
    monotest::write_file(path, b.text);
    messages.clear();
    EXPECT_EQ(initState(state, path.c_str()), nullptr) << b.text;
    EXPECT_NE(messages.find(b.problem), std::string::npos) << messages;
  }
  messages.clear();
  EXPECT_EQ(initState(state, "absent-types.ucm"), nullptr);
  EXPECT_NE(messages.find("type description absent-types.ucm not found"), std::string::npos) << messages;
}

TEST_F(MemberTest, TypeDescriptionsSurviveEveryFailedAllocation) {
  monotest::TempDir dir;
  const std::string path = dir.file("types.ucm");
  monotest::write_file(path,
                       "[TYPE]\n name: A\n library: monotestplug\n member: one failWith\n member: two failWith\n"
                       "[ENDTYPE]\n[PROCEDURE]\n name: p\n library: monotestplug\n symbol: failWith\n[ENDPROCEDURE]\n");
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    elf_state* s = initState(state, path.c_str());
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      ASSERT_NE(s, nullptr);
      EXPECT_GT(find_elf_type(s, "A"), 0);
      freeState(s);
      break;
    }
    EXPECT_EQ(s, nullptr) << "allocation " << k;
  }
}

TEST(FileNames, SplitIntoDirectoryBaseAndExtension) {
  struct Case {
    const char* name;
    const char* path;
    const char* base;
    const char* ext;
  };
  const Case cases[] = {
      {"out/scan.tif", "out", "scan", "tif"},
      {"scan", nullptr, "scan", nullptr},
      {"/scan.tif", "", "scan", "tif"},
      {"a/b.c/doc", "a/b.c", "doc", nullptr},
      {"archive.tar.gz", nullptr, "archive.tar", "gz"},
      {".profile", nullptr, ".profile", nullptr},
      {"dir/name.", "dir", "name.", nullptr},
      {"dir/", "dir", "", nullptr},
  };
  auto text = [](char* s) {
    std::string t = s ? s : "(null)";
    _elfFree(s);
    return t;
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text(elfPath(c.name)), c.path ? c.path : "(null)") << c.name;
    EXPECT_EQ(text(elfName(c.name)), c.base) << c.name;
    EXPECT_EQ(text(elfExt(c.name)), c.ext ? c.ext : "(null)") << c.name;
  }
  EXPECT_EQ(elfName(nullptr), nullptr);
}

}  // namespace
