// The object text form: the token grammar, bounded tokens, and the built-in types written and
// read back.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "interp_fixture.h"

namespace {

using monotest::InterpTest;
using monotest::TextFile;
using TextTest = InterpTest;

using Tokens = std::vector<std::pair<char, std::string>>;

Tokens tokens_of(const std::string& text) {
  TextFile file;
  file.set(text);
  Tokens out;
  std::vector<char> buffer(ELF_TOKEN_MAX);
  for (int code; (code = readusercm_fd(file.fd(), buffer.data())) != ELF_TOKEN_END;) {
    out.emplace_back(static_cast<char>(code), buffer.data());
    if (out.size() > 100) break;
  }
  return out;
}

TEST(TokenGrammar, LinesGiveTheirTokens) {
  struct Case {
    const char* text;
    Tokens tokens;
  };
  const Case cases[] = {
      {"[LIST]\n  peer: \n  item: \n[ENDLIST3]\n", {{'n', "LIST"}, {'l', "peer"}, {'l', "item"}, {'n', "ENDLIST3"}}},
      {"name: value with  blanks \n", {{'l', "name"}, {'p', "value with  blanks "}}},
      {"a:b\n", {{'l', "a"}, {'p', "b"}}},
      {"label:  two\n", {{'l', "label"}, {'p', " two"}}},
      {"value: \"q\\\"x\\n\\x01\\\\\"\n", {{'l', "value"}, {'s', "q\"x\n\x01\\"}}},
      {"value: \"broken\n", {{'l', "value"}, {'p', "\"broken"}}},
      {"value: \"a\"b\"\n", {{'l', "value"}, {'p', "\"a\"b\""}}},
      {"value: \"bad \\q\"\n", {{'l', "value"}, {'p', "\"bad \\q\""}}},
      {"just a line\n", {{'p', "just a line"}}},
      {"\"quoted line\"\n", {{'s', "quoted line"}}},
      {"  # comment\n\n\t[X] trailing words\n", {{'n', "X"}}},
      {"[no close\n", {{'p', "[no close"}}},
      {"last: at end", {{'l', "last"}, {'p', "at end"}}},
      {"filename: [x] y: z\n", {{'l', "filename"}, {'p', "[x] y: z"}}},
      {"_PDF.x-1@$: v\n", {{'l', "_PDF.x-1@$"}, {'p', "v"}}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens_of(c.text), c.tokens) << c.text;
}

TEST(TokenGrammar, TokensAreBoundedAndReadingGoesOn) {
  const std::string huge(ELF_TOKEN_MAX + 500, 'x');
  const Tokens got = tokens_of("value: " + huge + "\n[" + huge + "]\n" + huge + "\nafter: ok\n");
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0], (std::pair<char, std::string>{'l', "value"}));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(got[i].first, ELF_TOKEN_OVERLONG);
    EXPECT_GE(got[i].second.size(), static_cast<size_t>(ELF_TOKEN_MAX - 2));
    EXPECT_EQ(got[i].second.find_first_not_of('x'), std::string::npos);
  }
  EXPECT_EQ(got[4], (std::pair<char, std::string>{'l', "after"}));
  EXPECT_EQ(got[5], (std::pair<char, std::string>{'p', "ok"}));

  // The longest token that fits comes whole.
  const std::string fits(ELF_TOKEN_MAX - 1, 'y');
  EXPECT_EQ(tokens_of("v: " + fits + "\n"), (Tokens{{'l', "v"}, {'p', fits}}));
}

// Writes a value the way a type's writer does and reads it back.
std::string value_round_trip(const std::string& text) {
  TextFile file;
  EXPECT_EQ(dprintf(file.fd(), "value: "), 7);
  EXPECT_EQ(elfWriteValue(file.fd(), text.c_str()), 0);
  EXPECT_EQ(dprintf(file.fd(), "\n"), 1);
  file.rewind();
  std::vector<char> buffer(ELF_TOKEN_MAX);
  EXPECT_EQ(readusercm_fd(file.fd(), buffer.data()), ELF_TOKEN_LABEL);
  const int code = readusercm_fd(file.fd(), buffer.data());
  if (text.empty() || text.find('\n') != std::string::npos || text[0] == '"') {
    EXPECT_EQ(code, ELF_TOKEN_STRING) << text;
  } else {
    EXPECT_EQ(code, ELF_TOKEN_PLAIN) << text;
    EXPECT_EQ(file.text(), "value: " + text + "\n") << "plain values are written as they are";
  }
  return buffer.data();
}

TEST(TokenGrammar, EveryValueReadsBackExactly) {
  for (const char* text : {"", "plain", " lead", "trail ", "\"x", "\"", "a\nb", "\n", "[x]", "k: v", "tab\there",
                           "ctl\x01\x7F", "back\\slash", "\xC3\xA9t\xC3\xA9", "\"quoted\""}) {
    EXPECT_EQ(value_round_trip(text), text);
  }
}

elf_object* ident(elf_state* state, const char* name, elf_object* value) {
  elf_object* id = elfNewIdent(state, name, value);
  return id;
}

TEST_F(TextTest, BuiltinTypesReadBackEqual) {
  elf_object* list = new_LIST(state, nullptr, nullptr);
  elf_object* inner = new_LIST(state, nullptr, nullptr);
  std::vector<elf_object*> items = {
      ident(state, "empty", elfNewString(state, "")),
      ident(state, "tricky", elfNewString(state, "\"a\nb [c] d: e\\")),
      ident(state, "min", elfNewInteger(state, INT32_MIN)),
      ident(state, "max", elfNewInteger(state, INT32_MAX)),
      ident(state, "tenth", elfNewDouble(state, 0.1)),
      ident(state, "huge", elfNewDouble(state, DBL_MAX)),
      ident(state, "tiny", elfNewDouble(state, -DBL_TRUE_MIN)),
      ident(state, "nan", elfNewDouble(state, std::nan(""))),
      ident(state, "infinite", elfNewDouble(state, -HUGE_VAL)),
      ident(state, "yes", elfNewBoolean(state, 1)),
      ident(state, "no value", nullptr),
      inner,
  };
  uint8_t bytes[100];
  for (int i = 0; i < 100; ++i) bytes[i] = static_cast<uint8_t>(i * 37);
  void* data = elfMalloc(sizeof bytes);
  std::memcpy(data, bytes, sizeof bytes);
  elf_object* pointer = elfNewPointer(state, data, sizeof bytes);
  auto* p = reinterpret_cast<elf_POINTER*>(pointer);
  p->description = elfStrDup("restart;4");
  ELF_ASSIGN(state, &p->next, elfNewPointer(state, nullptr, 0));
  items.push_back(pointer);
  for (elf_object* item : items) ASSERT_EQ(elflistInsert(list, item, -1, 0), 0);
  ASSERT_EQ(elflistInsert(inner, elfNewString(state, "nested"), -1, 0), 0);
  ELF_ASSIGN(state, &inner->peer, elfNewInteger(state, 9));

  TextFile file;
  ASSERT_EQ(list->ops.write(list, file.fd(), "  "), 0);
  file.rewind();
  elf_object* back = read_LIST(state, file.fd());
  ASSERT_NE(back, nullptr) << messages;
  EXPECT_EQ(list->ops.equal(list, back), 1) << file.text();
  EXPECT_EQ(back->instance, list->instance);
  EXPECT_EQ(reinterpret_cast<elf_POINTER*>(elflistItem(back, elflistLength(back) - 1))->length, sizeof bytes);
  EXPECT_EQ(messages, "");

  // What was read writes the same text again, but for the instance numbers, which are kept.
  TextFile again;
  ASSERT_EQ(back->ops.write(back, again.fd(), "  "), 0);
  EXPECT_EQ(again.text(), file.text());
  elfDiscard(list);
  elfDiscard(back);
}

TEST_F(TextTest, FramesIndentTheirNestedObjectsAndStopDeepening) {
  elf_object* list = lstBuildArgs(state, "n:i", 1, 0, LST_END);
  ASSERT_NE(list, nullptr);
  TextFile file;
  ASSERT_EQ(write_LIST(list, file.fd(), "  "), 0);
  const std::string text = file.text();
  EXPECT_EQ(text.substr(0, text.find("[IDENT]")), "  [LIST]\n  peer: \n  item: \n    ") << text;
  EXPECT_NE(text.find("\n    name: n\n    value: \n      [INTEGER]\n      peer: \n      value: 1\n"),
            std::string::npos)
      << text;

  const std::string deep(62, ' ');
  TextFile deep_file;
  ASSERT_EQ(write_LIST(list, deep_file.fd(), deep.c_str()), 0);
  const std::string deep_text = deep_file.text();
  EXPECT_NE(deep_text.find(deep + "[IDENT]\n"), std::string::npos);
  EXPECT_EQ(deep_text.find(deep + "  "), std::string::npos) << "nothing goes deeper than 62 blanks";

  char child[ELF_INDENT_MAX + 1];
  EXPECT_STREQ(elfChildIndent(std::string(61, ' ').c_str(), child), std::string(63, ' ').c_str());
  elfDiscard(list);
}

TEST_F(TextTest, ReferencesNameCountsAndState) {
  elf_object* list = lstBuildArgs(state, "a:s", "x", 0, LST_END);
  elfRefUp(list);
  TextFile file;
  refs_LIST(list, file.fd(), "");
  const std::string text = file.text();
  EXPECT_TRUE(std::regex_search(text, std::regex("^\\[LIST\\] : refCount=1, elf=[0-9a-f]+\npeer: \nitem: \n  "
                                                 "\\[IDENT\\] : refCount=1, elf=[0-9a-f]+\n")))
      << text;
  elfRefDown(list);
}

TEST_F(TextTest, UnknownAndDamagedFramesAreSkipped) {
  TextFile file;
  file.set(
      "[LIST]\n"
      "item: \n"
      "  [NOSUCHTYPE]\n"
      "  item: \n"
      "    [NOSUCHTYPE]\n"
      "    [ENDNOSUCHTYPE2]\n"
      "  value: 3\n"
      "  [ENDNOSUCHTYPE1]\n"
      "item: \n"
      "  [INTEGER]\n"
      "  value: twelve\n"
      "  [ENDINTEGER4]\n"
      "item: \n"
      "  [POINTER]\n"
      "  length: 3\n"
      "  data: 0a0\n"
      "  [ENDPOINTER5]\n"
      "item: \n"
      "  [METHOD]\n"
      "  [ENDMETHOD1]\n"
      "item: \n"
      "  [STRING]\n"
      "  value: kept\n"
      "  [ENDSTRING6]\n"
      "[ENDLIST7]\n"
      "[STRING]\n");
  elf_object* list = read_LIST(state, file.fd());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->instance, 7);
  ASSERT_EQ(elflistLength(list), 3) << messages;
  EXPECT_EQ(reinterpret_cast<elf_INTEGER*>(elflistItem(list, 0))->value, 0);
  auto* p = reinterpret_cast<elf_POINTER*>(elflistItem(list, 1));
  EXPECT_EQ(p->data, nullptr);
  EXPECT_EQ(p->length, 0u) << "no length without its data";
  EXPECT_STREQ(reinterpret_cast<elf_STRING*>(elflistItem(list, 2))->value, "kept");
  EXPECT_NE(messages.find("no reader for NOSUCHTYPE"), std::string::npos);
  EXPECT_NE(messages.find("no reader for METHOD"), std::string::npos);
  EXPECT_NE(messages.find("not hexadecimal"), std::string::npos);
  // The reader stopped at its end line: the next frame is still there.
  std::vector<char> buffer(ELF_TOKEN_MAX);
  EXPECT_EQ(readusercm_fd(file.fd(), buffer.data()), ELF_TOKEN_NAME);
  EXPECT_STREQ(buffer.data(), "STRING");
  elfDiscard(list);
}

TEST_F(TextTest, NestingIsBoundedSoNoTextExhaustsTheStack) {
  std::string text;
  const int levels = ELF_NESTING_MAX + 50;
  for (int i = 0; i < levels; ++i) text += "[LIST]\nitem: \n";
  text += "[STRING]\nvalue: deepest\n[ENDSTRING1]\n";
  for (int i = 0; i < levels; ++i) text += "[ENDLIST" + std::to_string(i) + "]\n";
  text += "[STRING]\n";
  TextFile file;
  file.set(text);
  elf_object* list = read_LIST(state, file.fd());
  ASSERT_NE(list, nullptr);
  int depth = 1;
  for (elf_object* at = list; (at = elflistItem(at, 0)) && elfIsType(at, "LIST");) ++depth;
  EXPECT_EQ(depth, ELF_NESTING_MAX + 1) << "the outermost list and its nested frames up to the limit";
  EXPECT_NE(messages.find("nested deeper than"), std::string::npos);
  // The skipped frames were read to their end: what follows is still there.
  std::vector<char> buffer(ELF_TOKEN_MAX);
  EXPECT_EQ(readusercm_fd(file.fd(), buffer.data()), ELF_TOKEN_NAME);
  EXPECT_STREQ(buffer.data(), "STRING");
  elfDiscard(list);
}

TEST_F(TextTest, ReadingSurvivesEveryFailedAllocation) {
  elf_object* list = lstBuildArgs(state, "s:s", "text", 0, "d:d", 2.5, 0, LST_END);
  ASSERT_NE(list, nullptr);
  TextFile file;
  ASSERT_EQ(write_LIST(list, file.fd(), nullptr), 0);
  for (size_t k = 1;; ++k) {
    file.rewind();
    const size_t failures = heap.failures();
    heap.fail_at(k);
    elf_object* back = read_LIST(state, file.fd());
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      EXPECT_EQ(list->ops.equal(list, back), 1);
      elfDiscard(back);
      break;
    }
    elfDiscard(back);
  }
  elfDiscard(list);
}

}  // namespace
