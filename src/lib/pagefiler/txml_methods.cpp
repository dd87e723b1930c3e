// The interpreter methods over text-layer XML: word coalescing, plain text and XPS markup.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dio_text.h"
#include "kvng.h"
#include "kvxml.h"

namespace {

elf_state* state_of(elf_object* args) { return args ? args->state : nullptr; }

// Hands a result list over; a list that could not be made fails the method.
int hand_over(elf_state* state, elf_object** result, elf_object* list, const char* method) {
  if (!list) return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to build the result\n", method);
  if (result) *result = list;
  else elfDiscard(list);
  return QEL_STATUS_OK;
}

int fail(elf_state* state, const char* format, const char* method, const char* more = nullptr) {
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, format, method, more);
}

// An attribute's text, or false when the element lacks it.
bool attribute(xmlNodePtr node, const char* name, std::string* out) {
  xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return false;
  out->assign(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return true;
}

bool number(xmlNodePtr node, const char* name, int32_t* value) {
  std::string text;
  return attribute(node, name, &text) && KVXML_ParseInt(text.c_str(), value);
}

void set_attribute(xmlNodePtr node, const char* name, const std::string& value) {
  xmlSetNsProp(node, nullptr, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(value.c_str()));
}

size_t utf8_length(const std::string& text) {
  size_t n = 0;
  for (const char* p = text.c_str(); KVXML_UTF8Next(&p) != 0;) ++n;
  return n;
}

// A parsed document, freed with its owner.
struct Doc {
  xmlDocPtr doc = nullptr;
  ~Doc() { xmlFreeDoc(doc); }
};

// Parses the method's input; false with the status set.
bool parse(elf_state* state, const char* method, const char* xml, Doc* doc) {
  char why[300];
  doc->doc = KVXML_ReadTextLayer(xml, std::strlen(xml), XML_PARSE_NOBLANKS, why, sizeof why);
  if (doc->doc) return true;
  if (std::strcmp(why, "no root element") == 0) {
    fail(state, "%s:Error parsing XML, no root node\n", method);
  } else {
    setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s:Error parsing XML string\n(%s)\n", method, why);
  }
  return false;
}

// The Glyphs children of the root, in document order.
std::vector<xmlNodePtr> glyph_runs(xmlDocPtr doc) {
  std::vector<xmlNodePtr> runs;
  for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, reinterpret_cast<const xmlChar*>("Glyphs")) == 0) {
      runs.push_back(n);
    }
  }
  return runs;
}

// Sorts by baseline; runs on one baseline keep their document order, so output never depends on
// the sort's handling of equal keys.
template <class R>
void sort_by_baseline(std::vector<R>* runs) {
  std::stable_sort(runs->begin(), runs->end(), [](const R& a, const R& b) { return a.yb < b.yb; });
}

// ---- Word coalescing ----

struct WordRun {
  int64_t yb = 0, x0 = 0, right = 0;
  int32_t famStyle = 0;
  int64_t rightLo = 0, rightHi = 0, leftLo = 0, leftHi = 0;
  bool removed = false;
  bool haveText = false;
  std::string text;
  xmlNodePtr node = nullptr;
};

// An integer member of the object: through its get operation, or an entry of a LIST.
bool member(elf_object* obj, const char* name, int32_t* value) {
  elf_object* found = nullptr;
  bool handed = false;
  if (elfIsType(obj, "LIST")) {
    for (int32_t i = 0; i < elflistLength(obj); ++i) {
      elf_object* item = elflistItem(obj, i);
      if (elfIsType(item, "IDENT") && std::strcmp(reinterpret_cast<elf_IDENT*>(item)->name, name) == 0) {
        found = elfIdentValue(item);
        break;
      }
    }
  } else if (obj && obj->ops.get) {
    found = obj->ops.get(obj->state, obj, name);
    handed = found && found->refCount == -10;
  }
  const bool ok = elfIsType(found, "INTEGER");
  if (ok) *value = reinterpret_cast<elf_INTEGER*>(found)->value;
  if (handed) elfDiscard(found);
  return ok;
}

bool run_text(WordRun* r) {
  if (!r->haveText) r->haveText = attribute(r->node, "str", &r->text);
  return r->haveText;
}

int coalesce(elf_state* state, elf_object* obj, const char* xml, elf_object** result) {
  static const char method[] = "QELXML_CoalesceWords";
  int32_t xtol = 0, ytol = 0, sw = 0;
  if (!member(obj, "xtol", &xtol)) return fail(state, "%s:Internal Object Error - Could access the xtol field.\n", method);
  if (!member(obj, "ytol", &ytol)) return fail(state, "%s:Internal Object Error - Could access the ytol field.\n", method);
  if (!member(obj, "sw", &sw)) return fail(state, "%s:Internal Object Error - Could access the sw field.\n", method);
  Doc doc;
  if (!parse(state, method, xml, &doc)) return QEL_STATUS_INVALID;
  std::vector<WordRun> runs;
  for (xmlNodePtr node : glyph_runs(doc.doc)) {
    WordRun r;
    int32_t yb, x0, xw;
    r.node = node;
    if (!number(node, "yb", &yb)) return fail(state, "%s:Error parsing XML, no yb attribute\n", method);
    if (!number(node, "x0", &x0)) return fail(state, "%s:Error parsing XML, no x0 attribute\n", method);
    if (!number(node, "xw", &xw)) return fail(state, "%s:Error parsing XML, no xw attribute\n", method);
    if (!number(node, "famStyle", &r.famStyle)) return fail(state, "%s:Error parsing XML, no famStyle attribute\n", method);
    r.yb = yb;
    r.x0 = x0;
    r.right = int64_t{x0} + xw;
    r.rightLo = r.right + sw - xtol;
    r.rightHi = r.right + sw + xtol;
    r.leftLo = r.x0 - sw - xtol;
    r.leftHi = r.x0 - sw + xtol;
    runs.push_back(std::move(r));
  }
  sort_by_baseline(&runs);
  for (size_t i = 0; i < runs.size(); ++i) {
    WordRun& a = runs[i];
    if (a.removed) continue;
    bool joined;
    do {
      joined = false;
      for (size_t j = i + 1; j < runs.size(); ++j) {
        WordRun& b = runs[j];
        if (b.yb < a.yb - ytol || b.yb > a.yb + ytol) break;
        if (b.removed || b.famStyle != a.famStyle) continue;
        const bool right = b.x0 >= a.rightLo && b.x0 <= a.rightHi;
        if (!right && !(b.right >= a.leftLo && b.right <= a.leftHi)) continue;
        if (!run_text(&a) || !run_text(&b)) return fail(state, "%s:Error parsing XML, no str attribute\n", method);
        if (right) {
          a.text = a.text + " " + b.text;
          a.right = b.right;
          a.rightLo = a.right + sw - xtol;
          a.rightHi = a.right + sw + xtol;
        } else {
          a.text = b.text + " " + a.text;
          a.x0 = b.x0;
          a.leftLo = b.x0 - sw - xtol;
          a.leftHi = b.x0 - sw + xtol;
          set_attribute(a.node, "x0", std::to_string(a.x0));
        }
        set_attribute(a.node, "str", a.text);
        set_attribute(a.node, "xw", std::to_string(a.right - a.x0));
        xmlUnlinkNode(b.node);
        xmlFreeNode(b.node);
        b.node = nullptr;
        b.removed = true;
        joined = true;
      }
    } while (joined);
  }
  xmlChar* out = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc.doc, &out, &size, "UTF-8", 1);
  if (!out) return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: cannot write the document\n", method);
  elf_object* list = lstBuildArgs(state, "result:s", reinterpret_cast<const char*>(out), 0, LST_END);
  xmlFree(out);
  return hand_over(state, result, list, method);
}

// ---- Plain text ----

struct TextRun {
  int64_t yb = 0, yh = 0, x0 = 0, xw = 0;
  std::u32string text;
  int64_t charWidth = 0;
  bool used = false;
};

// Cells of one line at most: a run placed further right than this is cut (a page 2 m wide at
// 600 dpi in one-pixel columns still fits).
constexpr int64_t kMaxColumns = 1 << 16;
// Blank lines written for one gap at most: a baseline far below the page must not make
// gigabytes of line feeds.
constexpr int64_t kMaxBlankLines = 1000;
// Column widths tried after the first when characters collide.
constexpr int kRetries = 4;

std::string utf8(const std::u32string& text) {
  std::string out;
  char bytes[4];
  for (uint32_t u : text) out.append(bytes, static_cast<size_t>(KVXML_UTF8Put(u, bytes)));
  return out;
}

std::string layout(std::vector<TextRun>& runs) {
  if (runs.empty()) return {};
  const auto count = static_cast<int64_t>(runs.size());
  int64_t heights = 0, widths = 0, narrowest = 1024, widest = 0;
  for (const TextRun& r : runs) {
    heights += r.yh;
    widths += r.charWidth;
    narrowest = std::min(narrowest, r.charWidth);
    widest = std::max(widest, r.x0 + r.xw);
  }
  // Averages of damaged or degenerate runs (zero widths and heights) still make usable steps.
  const int64_t height = std::max<int64_t>(heights / count, 1);
  const int64_t gap = 3 * height / 2;
  int64_t column = std::max<int64_t>(widths / count, 1);
  int retries = 0;
  std::string out;
  int64_t previous = 0;
  for (;;) {
    const auto seed = std::find_if(runs.begin(), runs.end(), [](const TextRun& r) { return !r.used; });
    if (seed == runs.end()) break;
    const int64_t cells = std::min(std::max<int64_t>(widest, 0) / column + 64, kMaxColumns);
    std::u32string line(static_cast<size_t>(cells), U' ');
    const int64_t half = std::max<int64_t>(seed->yh / 2, 0);
    const int64_t low = seed->yb - half, high = seed->yb + half;
    bool collision = false;
    int64_t sum = 0, placed = 0;
    for (auto r = seed; r != runs.end() && r->yb <= high; ++r) {
      if (r->used || r->yb < low) continue;
      int64_t cell = std::max<int64_t>(r->x0, 0) / column;
      for (char32_t c : r->text) {
        if (cell >= cells) break;
        if (line[static_cast<size_t>(cell)] != U' ') collision = true;
        line[static_cast<size_t>(cell++)] = c;
      }
      r->used = true;
      sum += r->yb;
      ++placed;
    }
    if (collision && retries < kRetries) {
      out.clear();
      column = std::max<int64_t>((column + narrowest) / 2, 1);
      for (TextRun& r : runs) r.used = false;
      previous = 0;
      ++retries;
      continue;
    }
    while (!line.empty() && line.back() == U' ') line.pop_back();
    const int64_t baseline = sum / placed;
    if (previous + gap < baseline) out.append(static_cast<size_t>(std::min((baseline - previous) / height, kMaxBlankLines)), '\n');
    out += utf8(line) + "\n";
    previous = baseline;
  }
  return out;
}

int plain_text(elf_state* state, const char* xml, elf_object** result) {
  static const char method[] = "QELXML2Text";
  Doc doc;
  if (!parse(state, method, xml, &doc)) return QEL_STATUS_INVALID;
  std::vector<TextRun> runs;
  for (xmlNodePtr node : glyph_runs(doc.doc)) {
    std::string str;
    if (!attribute(node, "str", &str)) return fail(state, "%s:Error parsing XML, no str attribute\n", method);
    if (str.empty()) continue;
    TextRun r;
    int32_t yb, x0, yh, xw, famStyle;
    if (!number(node, "yb", &yb)) return fail(state, "%s:Error parsing XML, no yb attribute\n", method);
    if (!number(node, "x0", &x0)) return fail(state, "%s:Error parsing XML, no x0 attribute\n", method);
    if (!number(node, "yh", &yh)) return fail(state, "%s:Error parsing XML, no yh attribute\n", method);
    if (!number(node, "xw", &xw)) return fail(state, "%s:Error parsing XML, no xw attribute\n", method);
    if (!number(node, "famStyle", &famStyle)) return fail(state, "%s:Error parsing XML, no famStyle attribute\n", method);
    r.yb = yb, r.x0 = x0, r.yh = yh, r.xw = xw;
    for (const char* p = str.c_str(); *p;) r.text.push_back(KVXML_UTF8Next(&p));
    r.charWidth = r.xw / static_cast<int64_t>(utf8_length(str));
    runs.push_back(std::move(r));
  }
  sort_by_baseline(&runs);
  const std::string text = layout(runs);
  return hand_over(state, result, lstBuildArgs(state, "text:s", text.c_str(), 0, LST_END), method);
}

}  // namespace

extern "C" {

int QELXML_CoalesceWords(void* target, elf_object* args, elf_object** result) {
  static const char method[] = "QELXML_CoalesceWords";
  auto* obj = static_cast<elf_object*>(target);
  elf_state* state = obj ? obj->state : state_of(args);
  const char* name = nullptr;
  const char* xml = nullptr;
  if (!lstScanArgs(args, "CALL_NAME:s", LST_REQUIRED, &name, LST_END) || !name) {
    return fail(state, "%s:Internal Object Error - Method name not provided\n", method);
  }
  if (std::strcmp(name, "format") != 0) {
    return fail(state, "%s:Internal Object Error - Unsupported method %s\n", method, name);
  }
  if (!lstScanArgs(args, "qelxml:s", LST_REQUIRED, &xml, LST_END) || !xml) {
    return fail(state, "%s:Internal Object Error - Input string not provided\n", method);
  }
  return coalesce(state, obj, xml, result);
}

int QELXML2Text(void*, elf_object* args, elf_object** result) {
  elf_state* state = state_of(args);
  const char* xml = nullptr;
  if (!lstScanArgs(args, "qelxml:s", LST_REQUIRED, &xml, LST_END) || !xml) {
    return fail(state, "%s:Internal Object Error - Input string not provided\n", "QELXML2Text");
  }
  return plain_text(state, xml, result);
}

int QELXML2XPSXML(void*, elf_object* args, elf_object** result) {
  static const char method[] = "QELXML2XPSXML";
  elf_state* state = state_of(args);
  const char* xml = nullptr;
  int32_t width = 0, height = 0;
  double xres = 0.0, yres = 0.0;
  elf_object* coefficients = nullptr;
  if (!lstScanArgs(args, "@qelxml:s", LST_REQUIRED, &xml, "@width:i", LST_REQUIRED, &width, "@height:i", LST_REQUIRED,
                   &height, "@xres:d", LST_REQUIRED, &xres, "@yres:d", LST_REQUIRED, &yres, "@matrix:", LST_REQUIRED,
                   &coefficients, LST_END)) {
    return fail(state, "%s: Missing required argument \"qelxml\"\n", method);
  }
  if (!xml || !*xml) return fail(state, "%s: Required argument \"qelxml\" is empty\n", method);
  double m[6];
  bool six = elflistLength(coefficients) == 6;
  for (int i = 0; six && i < 6; ++i) {
    elf_object* v = elfIdentValue(elflistItem(coefficients, i));
    if (elfIsType(v, "DOUBLE")) {
      m[i] = reinterpret_cast<elf_DOUBLE*>(v)->value;
    } else if (elfIsType(v, "INTEGER")) {
      m[i] = reinterpret_cast<elf_INTEGER*>(v)->value;
    } else {
      six = false;
    }
  }
  if (!six) return fail(state, "%s: Cannot create QELTransform2D object for coefficients\n", method);
  SState* sstate = SState_NewStateDefault();
  if (!sstate) return fail(state, "%s: Unable to allocate SState_NewStateDefault\n", method);
  char* font = SState_StrDup(sstate, "DefaultFont.ttf");
  char* markup = font ? XPSXML_XMLToXPSStr_Ex(sstate, xml, &font, width, height, xres, yres, m) : nullptr;
  int status;
  if (!markup) {
    status = setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: the text layer cannot be converted\n", method);
  } else {
    status = hand_over(state, result, lstBuildArgs(state, "xpsxml:s", markup, 0, "font:s", font, 0, LST_END), method);
  }
  kvng_internal_free(markup);
  SState_Free(sstate, font);
  SState_FreeState(sstate);
  return status;
}

}  // extern "C"
