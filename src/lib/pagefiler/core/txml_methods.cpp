// The interpreter methods over text-layer XML: word coalescing, plain text and XPS markup.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
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
bool attribute(xmlTextReaderPtr reader, const char* name, std::string* out) {
  xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
  if (!value) return false;
  out->assign(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return true;
}

bool number(xmlTextReaderPtr reader, const char* name, int32_t* value) {
  std::string text;
  return attribute(reader, name, &text) && KVXML_ParseInt(text.c_str(), value);
}

bool is_run(xmlTextReaderPtr reader) {
  return xmlTextReaderDepth(reader) == 1 && xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT &&
         xmlStrcmp(xmlTextReaderConstLocalName(reader), reinterpret_cast<const xmlChar*>("Glyphs")) == 0;
}

// What a walk over the document collects, and the message that stopped it.
struct Walk {
  elf_state* state;
  const char* method;
  int status = QEL_STATUS_OK;
  // A failure met by a visitor: the status is set, and the walk stops.
  int stop(const char* format) {
    status = fail(state, format, method);
    return 0;
  }
};

// Reads the method's input once, handing its nodes to visit; false with the status set. The
// document is streamed, never held as a tree: a page of many runs costs its runs, not its nodes.
template <class W>
bool walk(const char* xml, KVXML_Visit visit, W* w) {
  char why[300];
  const int read = KVXML_WalkTextLayer(xml, std::strlen(xml), visit, static_cast<void*>(w), why, sizeof why);
  if (read == 1) return true;
  if (read < 0) return false;
  if (std::strcmp(why, "no root element") == 0) {
    w->status = fail(w->state, "%s:Error parsing XML, no root node\n", w->method);
  } else {
    w->status = setStatus(w->state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s:Error parsing XML string\n(%s)\n",
                          w->method, why);
  }
  return false;
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
  size_t element = 0;        // its place among the document's runs
  bool removed = false;
  bool haveText = false;
  std::string text;
  std::vector<size_t> leftJoins, rightJoins;   // runs joined to each side, nearest first
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

struct CoalesceRead : Walk {
  int32_t xtol = 0, sw = 0;
  std::vector<WordRun> runs;
  bool mixed = false;   // the root holds text beside its elements: written unindented, as libxml2 does
};

int read_word_run(void* data, xmlTextReaderPtr reader) {
  auto* c = static_cast<CoalesceRead*>(data);
  const int type = xmlTextReaderNodeType(reader);
  if (xmlTextReaderDepth(reader) == 1 &&
      (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA || type == XML_READER_TYPE_ENTITY_REFERENCE ||
       type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE)) {
    c->mixed = true;
  }
  if (!is_run(reader)) return 1;
  WordRun r;
  int32_t yb, x0, xw;
  if (!number(reader, "yb", &yb)) return c->stop("%s:Error parsing XML, no yb attribute\n");
  if (!number(reader, "x0", &x0)) return c->stop("%s:Error parsing XML, no x0 attribute\n");
  if (!number(reader, "xw", &xw)) return c->stop("%s:Error parsing XML, no xw attribute\n");
  if (!number(reader, "famStyle", &r.famStyle)) return c->stop("%s:Error parsing XML, no famStyle attribute\n");
  // The text is needed only when the run joins another; it is read now, as the document is read
  // once, and its absence counts only then.
  r.haveText = attribute(reader, "str", &r.text);
  r.yb = yb;
  r.x0 = x0;
  r.right = int64_t{x0} + xw;
  r.rightLo = r.right + c->sw - c->xtol;
  r.rightHi = r.right + c->sw + c->xtol;
  r.leftLo = r.x0 - c->sw - c->xtol;
  r.leftHi = r.x0 - c->sw + c->xtol;
  r.element = c->runs.size();
  c->runs.push_back(std::move(r));
  return 1;
}

// Joins the runs of each line (baselines within ytol, one font) whose edges lie one space width
// apart, each run growing until nothing more joins. The runs of the line window are indexed by
// their left and right edges, so that each join is found by a look-up, not by a scan of the
// line: a page of one long line costs n log n. Where two runs could join at once, the nearest
// joins first. False with the status set.
bool join_words(CoalesceRead* c, int32_t ytol) {
  std::vector<WordRun>& runs = c->runs;
  // (font, edge, index): the runs after the current one whose baselines lie in its window.
  using Key = std::tuple<int32_t, int64_t, size_t>;
  std::set<Key> byLeft, byRight;
  const auto drop = [&](size_t j) {
    byLeft.erase(Key{runs[j].famStyle, runs[j].x0, j});
    byRight.erase(Key{runs[j].famStyle, runs[j].right, j});
  };
  size_t end = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i < end) drop(i);
    WordRun& a = runs[i];
    if (a.removed) continue;
    end = std::max(end, i + 1);
    for (; end < runs.size() && runs[end].yb <= a.yb + ytol; ++end) {
      if (runs[end].removed) continue;
      byLeft.insert(Key{runs[end].famStyle, runs[end].x0, end});
      byRight.insert(Key{runs[end].famStyle, runs[end].right, end});
    }
    for (;;) {
      size_t j = runs.size();
      bool right = false;
      if (auto at = byLeft.lower_bound(Key{a.famStyle, a.rightLo, 0});
          at != byLeft.end() && std::get<0>(*at) == a.famStyle && std::get<1>(*at) <= a.rightHi) {
        j = std::get<2>(*at);
        right = true;
      } else if (auto after = byRight.upper_bound(Key{a.famStyle, a.leftHi, SIZE_MAX}); after != byRight.begin()) {
        const Key& k = *std::prev(after);
        if (std::get<0>(k) == a.famStyle && std::get<1>(k) >= a.leftLo) j = std::get<2>(k);
      }
      if (j == runs.size()) break;
      WordRun& b = runs[j];
      if (!a.haveText || !b.haveText) {
        c->status = fail(c->state, "%s:Error parsing XML, no str attribute\n", c->method);
        return false;
      }
      if (right) {
        a.rightJoins.push_back(j);
        a.right = b.right;
        a.rightLo = a.right + c->sw - c->xtol;
        a.rightHi = a.right + c->sw + c->xtol;
      } else {
        a.leftJoins.push_back(j);
        a.x0 = b.x0;
        a.leftLo = b.x0 - c->sw - c->xtol;
        a.leftHi = b.x0 - c->sw + c->xtol;
      }
      drop(j);
      b.removed = true;
    }
  }
  return true;
}

// A node as libxml2 writes it within a formatted document, non-ASCII text kept as UTF-8; false
// when memory ran out.
bool dump(xmlDocPtr out, xmlNodePtr node, int format, std::string* text) {
  xmlBufferPtr buffer = xmlBufferCreate();
  xmlOutputBufferPtr stream = buffer ? xmlOutputBufferCreateBuffer(buffer, nullptr) : nullptr;
  bool ok = false;
  if (stream) {
    xmlNodeDumpOutput(stream, out, node, 1, format, "UTF-8");
    ok = xmlOutputBufferFlush(stream) >= 0 && stream->error == 0;
    if (ok) {
      text->append(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<size_t>(xmlBufferLength(buffer)));
    }
    xmlOutputBufferClose(stream);
  }
  if (buffer) xmlBufferFree(buffer);
  return ok;
}

// The second reading: the document written again with the joined runs rewritten and the runs
// joined into them left out; every other node as it was.
struct CoalesceWrite : Walk {
  const CoalesceRead* read = nullptr;
  std::vector<size_t> sortedOf;   // element -> index in the sorted runs
  xmlDocPtr out = nullptr;        // holds the root's start tag while it is written
  std::string text;
  std::string rootStart;
  size_t element = 0;
  bool children = false;
};

void set_attribute(xmlNodePtr node, const char* name, const std::string& value) {
  xmlSetNsProp(node, nullptr, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(value.c_str()));
}

int write_node(void* data, xmlTextReaderPtr reader) {
  auto* w = static_cast<CoalesceWrite*>(data);
  const int type = xmlTextReaderNodeType(reader);
  const bool format = !w->read->mixed;
  if (w->text.empty()) {
    // The declaration names the version the document declared, as a tree would keep it.
    const xmlChar* version = xmlTextReaderConstXmlVersion(reader);
    w->text = std::string("<?xml version=\"") + (version ? reinterpret_cast<const char*>(version) : "1.0") +
              "\" encoding=\"UTF-8\"?>\n";
  }
  if (xmlTextReaderDepth(reader) == 0 && type == XML_READER_TYPE_END_ELEMENT) {
    w->text += w->children ? std::string(format ? "\n" : "") + "</" +
                                 reinterpret_cast<const char*>(xmlTextReaderConstName(reader)) + ">\n"
                           : w->rootStart + "/>\n";
    w->rootStart.clear();
    return 1;
  }
  const bool root = xmlTextReaderDepth(reader) == 0 && type == XML_READER_TYPE_ELEMENT;
  std::vector<WordRun>::const_iterator run = w->read->runs.end();
  if (is_run(reader)) {
    run = w->read->runs.begin() + static_cast<std::ptrdiff_t>(w->sortedOf[w->element++]);
    if (run->removed) return 1;
  }
  // An empty element is whole once the reader stands on it, and of the root only the start tag
  // is wanted; expanding either would keep the nodes behind it alive until the end.
  xmlNodePtr node = root || (type == XML_READER_TYPE_ELEMENT && xmlTextReaderIsEmptyElement(reader))
                        ? xmlTextReaderCurrentNode(reader)
                        : xmlTextReaderExpand(reader);
  if (!node || !node->doc) return w->stop("%s: cannot write the document\n");
  // Attribute text keeps its characters only in a document that names an encoding.
  if (!node->doc->encoding) node->doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));
  // The root is written from a copy without children; every other node as the reader holds it,
  // so that it keeps the namespaces its ancestors declare.
  xmlNodePtr copy = root ? xmlDocCopyNode(node, w->out, 2) : nullptr;
  if (root && !copy) return w->stop("%s: cannot write the document\n");
  if (run != w->read->runs.end() && (!run->leftJoins.empty() || !run->rightJoins.empty())) {
    // Texts nearest the run's own sit nearest it.
    std::string joined;
    for (auto k = run->leftJoins.rbegin(); k != run->leftJoins.rend(); ++k) joined += w->read->runs[*k].text + " ";
    joined += run->text;
    for (size_t k : run->rightJoins) joined += " " + w->read->runs[k].text;
    set_attribute(node, "str", joined);
    set_attribute(node, "x0", std::to_string(run->x0));
    set_attribute(node, "xw", std::to_string(run->right - run->x0));
  }
  std::string written;
  const bool dumped = dump(root ? w->out : node->doc, root ? copy : node, root ? 0 : format, &written);
  if (copy) xmlFreeNode(copy);
  if (!dumped) return w->stop("%s: cannot write the document\n");
  if (root) {
    // The root's start tag: its copy has no children, so it was written as an empty element.
    if (xmlTextReaderIsEmptyElement(reader)) {
      w->text += written + "\n";
    } else {
      if (written.size() >= 2 && written.compare(written.size() - 2, 2, "/>") == 0) written.resize(written.size() - 2);
      w->rootStart = written;
    }
    return 1;
  }
  if (!w->rootStart.empty()) {
    w->text += w->rootStart + ">";
    w->rootStart.clear();
    w->children = true;
  }
  if (xmlTextReaderDepth(reader) == 0) {
    w->text += written + "\n";   // a comment or instruction beside the root
  } else {
    w->text += (format ? "\n  " : "") + written;
  }
  return 1;
}

int coalesce(elf_state* state, elf_object* obj, const char* xml, elf_object** result) {
  static const char method[] = "QELXML_CoalesceWords";
  int32_t xtol = 0, ytol = 0, sw = 0;
  if (!member(obj, "xtol", &xtol)) return fail(state, "%s:Internal Object Error - Could access the xtol field.\n", method);
  if (!member(obj, "ytol", &ytol)) return fail(state, "%s:Internal Object Error - Could access the ytol field.\n", method);
  if (!member(obj, "sw", &sw)) return fail(state, "%s:Internal Object Error - Could access the sw field.\n", method);
  CoalesceRead read;
  read.state = state;
  read.method = method;
  read.xtol = xtol;
  read.sw = sw;
  if (!walk(xml, read_word_run, &read)) return read.status;
  sort_by_baseline(&read.runs);
  if (!join_words(&read, ytol)) return read.status;
  CoalesceWrite write;
  write.state = state;
  write.method = method;
  write.read = &read;
  write.sortedOf.resize(read.runs.size());
  for (size_t i = 0; i < read.runs.size(); ++i) write.sortedOf[read.runs[i].element] = i;
  write.out = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
  if (!write.out) return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: cannot write the document\n", method);
  write.out->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));
  const bool written = walk(xml, write_node, &write);
  xmlFreeDoc(write.out);
  if (!written) return write.status;
  return hand_over(state, result, lstBuildArgs(state, "result:s", write.text.c_str(), 0, LST_END), method);
}

// ---- Plain text ----

struct TextRun {
  int64_t yb = 0, yh = 0, x0 = 0, xw = 0;
  std::u32string text;
  int64_t charWidth = 0;
};

// Cells of one line at most: a run placed further right than this is cut (a page 2 m wide at
// 600 dpi in one-pixel columns still fits).
constexpr int64_t kMaxColumns = 1 << 16;
// Blank lines written for one gap at most: a baseline far below the page must not make
// gigabytes of line feeds.
constexpr int64_t kMaxBlankLines = 1000;
// Column widths tried after the first when characters collide.
constexpr int kRetries = 4;
// The text of a page is at most this many bytes for each byte of its document (and a megabyte
// more): a real page's text is shorter than its markup, while runs scattered far right and far
// down on purpose would make gigabytes of spaces and line feeds.
constexpr size_t kTextPerXmlByte = 16;
constexpr size_t kTextBaseBytes = size_t{1} << 20;

std::string utf8(const std::u32string& text) {
  std::string out;
  char bytes[4];
  for (uint32_t u : text) out.append(bytes, static_cast<size_t>(KVXML_UTF8Put(u, bytes)));
  return out;
}

// The page's text, or false when it would outgrow budget bytes.
bool layout(std::vector<TextRun>& runs, size_t budget, std::string* out) {
  out->clear();
  if (runs.empty()) return true;
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
  int64_t previous = 0;
  // Every run before this one is placed: lines take runs in baseline order.
  size_t first = 0;
  std::u32string line;
  while (first < runs.size()) {
    const size_t start = first;
    const TextRun& seed = runs[start];
    const int64_t cells = std::min(std::max<int64_t>(widest, 0) / column + 64, kMaxColumns);
    const int64_t half = std::max<int64_t>(seed.yh / 2, 0);
    const int64_t high = seed.yb + half;
    size_t last = first;
    int64_t reach = 0;
    for (; last < runs.size() && runs[last].yb <= high; ++last) {
      const TextRun& r = runs[last];
      reach = std::max(reach, std::max<int64_t>(r.x0, 0) / column + static_cast<int64_t>(r.text.size()));
    }
    // The line holds what its runs reach, so that a far-right run on one line does not widen all.
    line.assign(static_cast<size_t>(std::min(reach, cells)), U' ');
    bool collision = false;
    int64_t sum = 0;
    for (size_t k = start; k < last; ++k) {
      const TextRun& r = runs[k];
      size_t cell = static_cast<size_t>(std::max<int64_t>(r.x0, 0) / column);
      for (char32_t c : r.text) {
        if (cell >= line.size()) break;
        if (line[cell] != U' ') collision = true;
        line[cell++] = c;
      }
      sum += r.yb;
    }
    if (collision && retries < kRetries) {
      out->clear();
      column = std::max<int64_t>((column + narrowest) / 2, 1);
      first = 0;
      previous = 0;
      ++retries;
      continue;
    }
    first = last;
    while (!line.empty() && line.back() == U' ') line.pop_back();
    const int64_t baseline = sum / static_cast<int64_t>(last - start);
    if (previous + gap < baseline) {
      out->append(static_cast<size_t>(std::min((baseline - previous) / height, kMaxBlankLines)), '\n');
    }
    *out += utf8(line) + "\n";
    previous = baseline;
    if (out->size() > budget) return false;
  }
  return true;
}

struct PlainRead : Walk {
  std::vector<TextRun> runs;
};

int read_text_run(void* data, xmlTextReaderPtr reader) {
  auto* p = static_cast<PlainRead*>(data);
  if (!is_run(reader)) return 1;
  std::string str;
  if (!attribute(reader, "str", &str)) return p->stop("%s:Error parsing XML, no str attribute\n");
  if (str.empty()) return 1;
  TextRun r;
  int32_t yb, x0, yh, xw, famStyle;
  if (!number(reader, "yb", &yb)) return p->stop("%s:Error parsing XML, no yb attribute\n");
  if (!number(reader, "x0", &x0)) return p->stop("%s:Error parsing XML, no x0 attribute\n");
  if (!number(reader, "yh", &yh)) return p->stop("%s:Error parsing XML, no yh attribute\n");
  if (!number(reader, "xw", &xw)) return p->stop("%s:Error parsing XML, no xw attribute\n");
  if (!number(reader, "famStyle", &famStyle)) return p->stop("%s:Error parsing XML, no famStyle attribute\n");
  r.yb = yb, r.x0 = x0, r.yh = yh, r.xw = xw;
  for (const char* c = str.c_str(); *c;) r.text.push_back(KVXML_UTF8Next(&c));
  r.charWidth = r.xw / static_cast<int64_t>(r.text.size());
  p->runs.push_back(std::move(r));
  return 1;
}

int plain_text(elf_state* state, const char* xml, elf_object** result) {
  static const char method[] = "QELXML2Text";
  PlainRead read;
  read.state = state;
  read.method = method;
  if (!walk(xml, read_text_run, &read)) return read.status;
  sort_by_baseline(&read.runs);
  const size_t budget = kTextBaseBytes + kTextPerXmlByte * std::strlen(xml);
  std::string text;
  if (!layout(read.runs, budget, &text)) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "%s: the runs are laid out over more than %zu bytes of text, far more than the page holds\n",
                     method, budget);
  }
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
