// Text-layer XML over arbitrary bytes: parsing, conversion to PDF text operators and XPS markup,
// the fonts marked for them, and the plain-text and word-coalescing methods. Malformed documents
// are refused; accepted ones convert without faults, and every font the PDF text names is marked.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dio_text.h"
#include "kvfont.h"
#include "kvng.h"
#include "kvng_print.h"
#include "kvxml.h"

namespace {

// The font indexes the content's Tf operators select ("/Fxx size Tf"), read token by token so
// that text shown in strings, which may well hold "/F", is never taken for an operator.
std::vector<unsigned> selected_fonts(const char* content) {
  std::vector<unsigned> fonts;
  std::vector<std::string> operands;
  for (const char* p = content; *p;) {
    if (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') {
      ++p;
    } else if (*p == '(') {
      // A literal string: balanced parentheses, backslash escapes (ISO 32000-1 7.3.4.2).
      int depth = 0;
      do {
        if (*p == '\\' && p[1]) ++p;
        else if (*p == '(') ++depth;
        else if (*p == ')') --depth;
        ++p;
      } while (*p && depth > 0);
      operands.emplace_back("()");
    } else {
      const char* start = p;
      while (*p && *p != ' ' && *p != '\n' && *p != '\r' && *p != '\t' && *p != '(') ++p;
      std::string token(start, p);
      if (token[0] == '/' || token[0] == '-' || token[0] == '.' || (token[0] >= '0' && token[0] <= '9')) {
        operands.push_back(token);
        continue;
      }
      unsigned index = 0;
      if (token == "Tf" && operands.size() >= 2 && std::sscanf(operands[operands.size() - 2].c_str(), "/F%2x", &index) == 1) {
        fonts.push_back(index);
      }
      operands.clear();
    }
  }
  return fonts;
}

void quiet(void*, const char*) {}
void quiet_engine(void*, int, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static elf_state* state = [] {
    elf_state* s = initState(nullptr, "fuzz");
    s->print = quiet;
    KVngSetPrinter(quiet_engine, nullptr);
    return s;
  }();
  const std::string xml(reinterpret_cast<const char*>(data), size);
  SState* sstate = SState_NewStateDefault();
  XMLElement* tree = XML_ParseData(sstate, xml.data(), xml.size());
  if (tree) {
    const double m[6] = {1, 0, 0, 1, 0, 0};
    char* content = PDFXML_XMLToPDF_Ex(sstate, tree, 0, 0, 612, 792, 72, 72, 2550, 0, 1, m, 3300);
    uint8_t used[FFONT_TABLE_SIZE] = {};
    const int32_t marked = PDFQEL_MarkRequiredFonts(tree, 1, used);
    if ((content == nullptr) != (marked < 0)) __builtin_trap();
    // Every font the content selects was marked.
    if (content) {
      for (unsigned index : selected_fonts(content)) {
        if (index >= FFONT_TABLE_SIZE || !used[index]) __builtin_trap();
      }
    }
    kvng_internal_free(content);
    XML_ElementFree(tree);
    char* font = SState_StrDup(sstate, "DefaultFont.ttf");
    kvng_internal_free(XPSXML_XMLToXPSStr_Ex(sstate, xml.c_str(), &font, 2550, 3300, 300, 300, m));
    SState_Free(sstate, font);
  }
  SState_FreeState(sstate);

  elf_object* args = lstBuildArgs(state, "qelxml:s", xml.c_str(), 0, LST_END);
  elf_object* result = nullptr;
  QELXML2Text(nullptr, args, &result);
  elfDiscard(result);
  elfDiscard(args);
  elf_object* members = lstBuildArgs(state, "xtol:i", 3, 0, "ytol:i", 3, 0, "sw:i", 10, 0, LST_END);
  args = lstBuildArgs(state, "CALL_NAME:s", "format", 0, "qelxml:s", xml.c_str(), 0, LST_END);
  result = nullptr;
  QELXML_CoalesceWords(members, args, &result);
  elfDiscard(result);
  elfDiscard(args);
  elfDiscard(members);
  clearStatus(state);
  return 0;
}
