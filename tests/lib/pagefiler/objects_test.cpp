// The object types DOCUMENTREADER, DOCUMENTWRITER and PAGEFILER: members, reference counts,
// copies, moves between states, and the text form written and read back.

#include <cstring>
#include <string>
#include <vector>

#include "dio_fixture.h"

namespace {

using monotest::DocTest;
using monotest::TextFile;
using ObjectsTest = DocTest;

elf_object* make(elf_state* state, const char* type) { return new_elf_object(state, type, nullptr); }

// Fills the fields the three types share.
template <class R>
void fill(R* r, const char* filename) {
  r->testfile = 1;
  r->pagecnt = 12;
  r->version = DIO_SUBFORMAT_PROFILE_F;
  r->format = DIO_FORMAT_TIFFFX;
  if (filename) r->filename = elfStrDup(filename);
}

elf_object* written_and_read(elf_object* obj, const char* indent, std::string* text) {
  TextFile file;
  EXPECT_EQ(obj->ops.write(obj, file.fd(), indent), 0);
  *text = file.text();
  file.rewind();
  return obj->ops.read(obj->state, file.fd());
}

TEST_F(ObjectsTest, EveryTypeReadsBackWhatItWrote) {
  const char* names[] = {"/tmp/scan.tif", "", " leading blank", "\"quoted\"", "two\nlines", "[not a name]", nullptr};
  for (const char* type : {"DOCUMENTREADER", "DOCUMENTWRITER", "PAGEFILER"}) {
    for (const char* name : names) {
      elf_object* obj = make(state, type);
      ASSERT_NE(obj, nullptr) << type << messages;
      if (auto* r = dioReader(obj)) fill(r, name);
      if (auto* p = dioPageFiler(obj)) fill(p, name);
      if (auto* w = dioWriter(obj)) {
        fill(w, name);
        ELF_ASSIGN(state, &w->attributes,
                   lstBuildArgs(state, "_PDFlinearized:b", 1, 0, "_DIOjpegqual:i", 85, 0, "_XPScreator:s", "me", 0,
                                LST_END));
        ELF_ASSIGN(state, &w->transspecs, new_LIST(state, nullptr, nullptr));
      }
      ELF_ASSIGN(state, &obj->peer, elfNewString(state, "the peer"));
      std::string text;
      elf_object* back = written_and_read(obj, "", &text);
      ASSERT_NE(back, nullptr) << type;
      EXPECT_EQ(obj->ops.equal(obj, back), 1) << text;
      EXPECT_EQ(back->instance, obj->instance);
      const auto* a = reinterpret_cast<elf_PAGEFILER*>(obj);
      const auto* b = reinterpret_cast<elf_PAGEFILER*>(back);
      // equal() lets a missing name pass; the name itself must come back exactly.
      EXPECT_EQ(b->filename ? std::string(b->filename) : "(none)", a->filename ? a->filename : "(none)") << text;
      if (auto* w = dioWriter(back)) {
        EXPECT_EQ(elflistLength(w->attributes), 3);
        EXPECT_EQ(elflistLength(w->transspecs), 0);
      }
      TextFile again;
      ASSERT_EQ(back->ops.write(back, again.fd(), ""), 0);
      EXPECT_EQ(again.text(), text);
      elfDiscard(obj);
      elfDiscard(back);
    }
  }
  EXPECT_EQ(messages, "");
}

TEST_F(ObjectsTest, TheTextFormIsTheOneTheInterpreterKnows) {
  elf_object* reader = make(state, "DOCUMENTREADER");
  fill(dioReader(reader), "doc.pdf");
  TextFile file;
  ASSERT_EQ(write_DOCUMENTREADER(reader, file.fd(), "  "), 0);
  EXPECT_EQ(file.text(), "  [DOCUMENTREADER]\n  peer: \n  testfile: 1\n  pagecnt: 12\n  version: 5\n  format: 4\n"
                         "  filename: doc.pdf\n  [ENDDOCUMENTREADER" +
                             std::to_string(reader->instance) + "]\n");

  // Written elsewhere: a name over several values comes back joined by line breaks, fields come
  // in any case, unknown fields and frames are passed over.
  file.set(
      "[DOCUMENTREADER]\n"
      "Format: 3\n"
      "colour: blue\n"
      "filename: first\n"
      "second\n"
      "peer: \n"
      "  [NOTATYPE]\n"
      "  format: 99\n"
      "  [ENDNOTATYPE1]\n"
      "[ENDDOCUMENTREADER42]\n"
      "format: 7\n");
  elf_object* read = read_DOCUMENTREADER(state, file.fd());
  ASSERT_NE(read, nullptr);
  const elf_DOCUMENTREADER* r = dioReader(read);
  EXPECT_EQ(r->format, 3);
  EXPECT_STREQ(r->filename, "first\nsecond");
  EXPECT_EQ(read->peer, nullptr);
  EXPECT_EQ(read->instance, 42);
  EXPECT_NE(messages.find("no reader for NOTATYPE"), std::string::npos);
  for (int fd : {-1, 1, 2}) EXPECT_EQ(read_DOCUMENTREADER(state, fd), nullptr) << fd;
  elfDiscard(reader);
  elfDiscard(read);
}

TEST_F(ObjectsTest, NestedObjectsStopDeepeningPastSixtyOneBlanks) {
  elf_object* writer = make(state, "DOCUMENTWRITER");
  ELF_ASSIGN(state, &dioWriter(writer)->transspecs, lstBuildArgs(state, "x:i", 1, 0, LST_END));
  for (size_t width : {61u, 62u}) {
    const std::string indent(width, ' ');
    TextFile file;
    ASSERT_EQ(write_DOCUMENTWRITER(writer, file.fd(), indent.c_str()), 0);
    const std::string text = file.text();
    const std::string nested = width == 61 ? indent + "  " : indent;
    EXPECT_NE(text.find("\n" + nested + "[LIST]\n"), std::string::npos) << width << text;
    EXPECT_NE(text.find("\n" + indent + "transspecs: \n"), std::string::npos) << text;
  }
  elfDiscard(writer);
}

TEST_F(ObjectsTest, MembersAreCachedInTheirOwnStateOnly) {
  elf_object* reader = make(state, "DOCUMENTREADER");
  elf_object* page = get_DOCUMENTREADER(state, reader, "getPage");
  ASSERT_NE(page, nullptr) << messages;
  EXPECT_EQ(page, get_DOCUMENTREADER(state, reader, "getPage"));
  EXPECT_EQ(page->refCount, 1) << "held by its cache";
  EXPECT_EQ(dioReader(reader)->members[2], page);
  EXPECT_NE(elfMethod(page)->proc, nullptr);
  elf_object* type = get_DOCUMENTREADER(state, reader, "Type");
  EXPECT_EQ(reader->generic[0], type);

  elf_state* other = initState(state, "pagefiler.ucm");
  ASSERT_NE(other, nullptr);
  elf_object* foreign = get_DOCUMENTREADER(other, reader, "getPageCount");
  ASSERT_NE(foreign, nullptr);
  EXPECT_EQ(foreign->refCount, -10);
  EXPECT_EQ(dioReader(reader)->members[3], nullptr) << "not cached from another state";
  foreign->ops.free(foreign);

  EXPECT_EQ(get_DOCUMENTREADER(state, reader, "appendPage"), nullptr);
  EXPECT_NE(messages.find("Unknown member <appendPage> for object get of DOCUMENTREADER\n"), std::string::npos);

  // Replacing a cached member by itself is reported and keeps it.
  EXPECT_EQ(set_DOCUMENTREADER(state, reader, "getPage", page), 0);
  EXPECT_NE(messages.find("cannot assign object to itself"), std::string::npos);
  EXPECT_EQ(page->refCount, 1);
  EXPECT_STREQ(elfMethod(page)->name, "getPage");

  // Moved to the other state, the object resolves its cached members there.
  resetELF_DOCUMENTREADER(reader, other);
  EXPECT_EQ(reader->state, other);
  ASSERT_NE(dioReader(reader)->members[2], nullptr);
  EXPECT_EQ(dioReader(reader)->members[2]->state, other);
  EXPECT_EQ(reader->generic[0]->state, other);
  elfDiscard(reader);
  freeState(other);
}

TEST_F(ObjectsTest, SettingAndFreeingFollowTheCounts) {
  elf_object* filer = make(state, "PAGEFILER");
  set_PAGEFILER(state, filer, "getPage", nullptr);
  set_PAGEFILER(state, filer, "Type", nullptr);
  EXPECT_EQ(filer->changes, 2);
  EXPECT_NE(messages.find("Unknown member <getPage> for object set of PAGEFILER\n"), std::string::npos);
  EXPECT_NE(messages.find("Unknown member <Type> for object set of PAGEFILER\n"), std::string::npos);
  set_PAGEFILER(state, filer, nullptr, nullptr);
  EXPECT_EQ(filer->changes, 2);

  elfRefUp(filer);
  free_PAGEFILER(filer);
  EXPECT_EQ(empty_PAGEFILER(filer), 1) << "still alive at count 1";
  dioPageFiler(filer)->pagecnt = 1;
  EXPECT_EQ(empty_PAGEFILER(filer), 0);
  elfRefDown(filer);

  // Creation lists go to the set operation.
  elf_object* args = lstBuildArgs(state, "colour:s", "red", 0, LST_END);
  elf_object* reader = new_DOCUMENTREADER(state, nullptr, args);
  EXPECT_NE(messages.find("Unknown member <colour> for object set of DOCUMENTREADER"), std::string::npos);
  EXPECT_EQ(reader->changes, 1);
  EXPECT_EQ(reader->stateWord, ELF_OBJECT_LIVE);
  EXPECT_EQ(reader->typeId, find_elf_type(state, "DOCUMENTREADER"));
  for (elf_object* o : {args, reader}) elfDiscard(o);
}

int released = 0;
void count_release(elf_object* obj) {
  ++released;
  EXPECT_NE(dioReader(obj) ? dioReader(obj)->backend : dioWriter(obj)->backend, nullptr);
}

TEST_F(ObjectsTest, FreeingReleasesTheBackEndAndCopiesHaveNone) {
  released = 0;
  int backend = 0;
  elf_object* reader = make(state, "DOCUMENTREADER");
  fill(dioReader(reader), "a.pdf");
  dioReader(reader)->backend = &backend;
  dioReader(reader)->fns.Release = count_release;
  elf_object* copy = copy_DOCUMENTREADER(reader);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(dioReader(copy)->backend, nullptr);
  EXPECT_EQ(equal_DOCUMENTREADER(reader, copy), 1);
  elfDiscard(reader);
  EXPECT_EQ(released, 1);
  elfDiscard(copy);
  EXPECT_EQ(released, 1);

  elf_object* writer = make(state, "DOCUMENTWRITER");
  fill(dioWriter(writer), "w.pdf");
  dioWriter(writer)->backend = &backend;
  dioWriter(writer)->fns.Release = count_release;
  ELF_ASSIGN(state, &dioWriter(writer)->attributes, lstBuildArgs(state, "a:i", 1, 0, LST_END));
  elf_object* wcopy = copy_DOCUMENTWRITER(writer);
  ASSERT_NE(wcopy, nullptr);
  EXPECT_NE(dioWriter(wcopy)->attributes, dioWriter(writer)->attributes);
  EXPECT_EQ(equal_DOCUMENTWRITER(writer, wcopy), 1);
  EXPECT_EQ(dioWriter(wcopy)->transspecs, nullptr);
  elfDiscard(writer);
  EXPECT_EQ(released, 2);
  elfDiscard(wcopy);
}

TEST_F(ObjectsTest, EqualityEmptinessAndCycles) {
  elf_object* a = make(state, "DOCUMENTREADER");
  elf_object* b = make(state, "DOCUMENTREADER");
  EXPECT_EQ(empty_DOCUMENTREADER(a), 1);
  fill(dioReader(a), nullptr);
  fill(dioReader(b), "named.pdf");
  EXPECT_EQ(equal_DOCUMENTREADER(a, b), 1) << "without both names only the numbers count";
  dioReader(b)->pagecnt = 3;
  EXPECT_EQ(equal_DOCUMENTREADER(a, b), 0);
  elf_object* filer = make(state, "PAGEFILER");
  EXPECT_EQ(equal_DOCUMENTREADER(a, filer), 0);
  EXPECT_EQ(equal_DOCUMENTREADER(a, nullptr), 0);
  EXPECT_EQ(empty_DOCUMENTREADER(nullptr), -1);
  a->stateWord = ELF_OBJECT_EMPTY;
  EXPECT_EQ(empty_DOCUMENTREADER(a), 1);

  // A list that would hold a writer holding that list is refused, also through its lists.
  elf_object* writer = make(state, "DOCUMENTWRITER");
  elf_object* list = new_LIST(state, nullptr, nullptr);
  elf_object* inner = new_LIST(state, nullptr, nullptr);
  ASSERT_EQ(elflistInsert(inner, list, -1, 0), 0);
  ELF_ASSIGN(state, &dioWriter(writer)->attributes, inner);
  EXPECT_EQ(cycle_DOCUMENTWRITER(writer, list), 1);
  EXPECT_EQ(elflistInsert(list, writer, -1, 0), -1);
  EXPECT_EQ(cycle_DOCUMENTWRITER(writer, filer), 0);
  for (elf_object* o : {a, b, filer, writer}) elfDiscard(o);
}

TEST_F(ObjectsTest, ReferencesShowCountsAndHeldLists) {
  elf_object* writer = make(state, "DOCUMENTWRITER");
  ELF_ASSIGN(state, &dioWriter(writer)->transspecs, new_LIST(state, nullptr, nullptr));
  elfRefUp(writer);
  TextFile file;
  refs_DOCUMENTWRITER(writer, file.fd(), "");
  const std::string text = file.text();
  EXPECT_EQ(text.rfind("[DOCUMENTWRITER] : refCount=1, elf=", 0), 0u) << text;
  EXPECT_NE(text.find("\npeer: \nattributes: \ntransspecs: \n  [LIST] : refCount=1"), std::string::npos) << text;
  elfRefDown(writer);
}

TEST_F(ObjectsTest, ObjectsMadeWithoutAStateMakeOne) {
  elf_object* filer = new_PAGEFILER(nullptr, nullptr, nullptr);
  ASSERT_NE(filer, nullptr);
  elf_state* made = filer->state;
  EXPECT_STREQ(made->config, "pagefiler.ucm");
  EXPECT_GT(filer->typeId, 0);
  elfDiscard(filer);
  freeState(made);
}

TEST_F(ObjectsTest, CreationCopiesAndReadingSurviveEveryFailedAllocation) {
  elf_object* writer = make(state, "DOCUMENTWRITER");
  fill(dioWriter(writer), "out.pdf");
  ELF_ASSIGN(state, &writer->peer, elfNewInteger(state, 5));
  ELF_ASSIGN(state, &dioWriter(writer)->attributes, lstBuildArgs(state, "_DIOjpegqual:i", 85, 0, LST_END));
  TextFile file;
  ASSERT_EQ(write_DOCUMENTWRITER(writer, file.fd(), nullptr), 0);
  for (int what = 0; what < 2; ++what) {
    for (size_t k = 1;; ++k) {
      file.rewind();
      const size_t failures = heap.failures();
      heap.fail_at(k);
      elf_object* made = what == 0 ? copy_DOCUMENTWRITER(writer) : read_DOCUMENTWRITER(state, file.fd());
      const bool failed = heap.failures() > failures;
      heap.fail_at(0);
      if (!failed) {
        EXPECT_EQ(equal_DOCUMENTWRITER(writer, made), 1);
        elfDiscard(made);
        break;
      }
      if (what == 0) {
        EXPECT_EQ(made, nullptr) << "a copy is whole or none";
      }
      elfDiscard(made);
    }
  }
  elfDiscard(writer);
}

}  // namespace
