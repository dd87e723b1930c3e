// Text-layer documents: safe parsing, attribute numbers, UTF-8, and the runs split by character
// set as the converters write them.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "kvfont.h"
#include "kvng.h"
#include "kvng_print.h"
#include "text_runs.h"

namespace {

void set_why(char* why, size_t capacity, const char* text) {
  if (why && capacity > 0) std::snprintf(why, capacity, "%s", text);
}

// The first error libxml2 reports while reading, with its line.
struct FirstError {
  int line = 0;
  char message[200] = "";
};

// libxml2 2.12 made the error constant: the parameter takes either form.
template <class Error>
void keep_first_error(void* data, Error error) {
  auto* first = static_cast<FirstError*>(data);
  if (!error || error->level < XML_ERR_ERROR || first->message[0]) return;
  first->line = error->line;
  std::snprintf(first->message, sizeof first->message, "%s", error->message ? error->message : "malformed XML");
  // libxml2's messages end with a line feed of their own.
  const size_t n = std::strlen(first->message);
  if (n > 0 && first->message[n - 1] == '\n') first->message[n - 1] = 0;
}

// The character a run writes where its font's sets cannot encode one.
constexpr uint32_t kReplacement = '?';

}  // namespace

extern "C" {

int KVXML_WalkTextLayer(const char* bytes, size_t length, KVXML_Visit visit, void* data, char* why, size_t capacity) {
  if (!bytes || length == 0) {
    set_why(why, capacity, "no XML text");
    return 0;
  }
  if (length > static_cast<size_t>(INT_MAX)) {
    set_why(why, capacity, "XML text too long");
    return 0;
  }
  // No XML_PARSE_NOENT (entities stay unsubstituted), no DTDLOAD/DTDATTR, no XINCLUDE, no HUGE.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA |
                      XML_PARSE_NOBLANKS;
  xmlTextReaderPtr reader = xmlReaderForMemory(bytes, static_cast<int>(length), nullptr, nullptr, options);
  if (!reader) {
    set_why(why, capacity, "no memory for the XML parser");
    return 0;
  }
  FirstError first;
  xmlTextReaderSetStructuredErrorHandler(reader, keep_first_error, &first);
  xmlResetLastError();
  int result = 1;
  bool root = false;
  int step = xmlTextReaderRead(reader);
  while (step == 1) {
    const int type = xmlTextReaderNodeType(reader);
    const int depth = xmlTextReaderDepth(reader);
    if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
      set_why(why, capacity, "a text layer declares no DTD");
      result = 0;
      break;
    }
    if (depth == 0 && type == XML_READER_TYPE_ELEMENT) root = true;
    if (depth <= 1 && visit(data, reader) == 0) {
      result = -1;
      break;
    }
    // The root is entered; what lies below its children is passed over whole. Reading on from
    // a node without children lets the reader free the nodes behind it, which skipping does not.
    const bool below = depth >= 1 && type == XML_READER_TYPE_ELEMENT && !xmlTextReaderIsEmptyElement(reader);
    step = below ? xmlTextReaderNext(reader) : xmlTextReaderRead(reader);
  }
  if (result == 1 && step < 0) {
    // Errors of the input's encoding bypass the reader's handler; libxml2 keeps them as its last.
    const xmlError* last = xmlGetLastError();
    if (!first.message[0] && last) keep_first_error(&first, last);
    char text[256];
    std::snprintf(text, sizeof text, "line %d: %s", first.line, first.message[0] ? first.message : "malformed XML");
    set_why(why, capacity, text);
    result = 0;
  } else if (result == 1 && !root) {
    set_why(why, capacity, "no root element");
    result = 0;
  }
  xmlFreeTextReader(reader);
  return result;
}

int KVXML_ParseInt(const char* text, int32_t* value) {
  if (!text || !value) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (v <= KVXML_COORD_MAX) v = v * 10 + (*p - '0');
  }
  if (v > KVXML_COORD_MAX) v = KVXML_COORD_MAX;
  *value = static_cast<int32_t>(negative ? -v : v);
  return 1;
}

uint32_t KVXML_UTF8Next(const char** text) {
  const auto* p = reinterpret_cast<const unsigned char*>(*text);
  if (!p || !*p) return 0;
  const unsigned char b = p[0];
  int extra;
  uint32_t u;
  if (b < 0x80) {
    *text += 1;
    return b;
  } else if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, u = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, u = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, u = b & 0x07;
  } else {
    *text += 1;
    return 0xFFFD;
  }
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      *text += 1;
      return 0xFFFD;
    }
    u = (u << 6) | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are malformed.
  static constexpr uint32_t least[] = {0, 0x80, 0x800, 0x10000};
  if (u < least[extra] || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
    *text += 1;
    return 0xFFFD;
  }
  *text += extra + 1;
  return u;
}

int KVXML_UTF8Put(uint32_t u, char* out) {
  if (u < 0x80) {
    out[0] = static_cast<char>(u);
    return 1;
  }
  if (u < 0x800) {
    out[0] = static_cast<char>(0xC0 | (u >> 6));
    out[1] = static_cast<char>(0x80 | (u & 0x3F));
    return 2;
  }
  if (u < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (u >> 12));
    out[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (u & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | ((u >> 18) & 0x07));
  out[1] = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (u & 0x3F));
  return 4;
}

XMLElement* XML_ParseData(SState* state, const char* bytes, size_t length) {
  void* place = kvng_internal_calloc(1, sizeof(XMLElement));
  if (!place) {
    SState_ErrPrintf(state, "XML_ParseData: no memory\n");
    return nullptr;
  }
  auto* tree = new (place) XMLElement;
  std::string why;
  if (!kvxml::read_runs(bytes, length, tree, &why)) {
    SState_ErrPrintf(state, "XML_ParseData: %s\n", why.c_str());
    XML_ElementFree(tree);
    return nullptr;
  }
  return tree;
}

void XML_ElementFree(XMLElement* tree) {
  if (!tree) return;
  tree->~XMLElement();
  kvng_internal_free(tree);
}

}  // extern "C"

namespace kvxml {

namespace {

bool read_attribute(xmlTextReaderPtr reader, const char* name, std::string* out) {
  xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
  if (!value) return false;
  out->assign(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return true;
}

// Splits a run's characters into pieces of one character set: ASCII joins whatever piece is open,
// other characters open a new piece when the open one's set cannot encode them.
void split(Run* run) {
  const int32_t face = FFont_IndexForFamStyle(run->famStyle, FFONT_CSET_LATIN1) % 16;
  const FFont* any = FFont_ForIndex(face + 16 * FFONT_CSET_LATIN1);
  run->ascent = FFont_Ascent(any);
  run->descent = FFont_Descent(any);
  int32_t set = -1;
  for (uint32_t u : run->text) {
    int32_t want = set < 0 ? -1 : set;
    if (u >= 0x20 && u < 0x7F) {
      if (set < 0) want = FFONT_CSET_LATIN1;
    } else if (set < 0 || FFont_UnicodeToCode(set, u) < 0) {
      want = FFont_CSetForUnicode(u);
      if (want < 0) want = set < 0 ? FFONT_CSET_LATIN1 : set;
    }
    if (want != set || run->pieces.empty()) {
      set = want;
      run->pieces.push_back(Piece{FFont_IndexForFamStyle(run->famStyle, set), {}});
    }
    int32_t code = FFont_UnicodeToCode(set, u);
    if (code < 0) {
      code = static_cast<int32_t>(kReplacement);
      if (run->uncarried++ == 0) run->firstUncarried = u;
    }
    run->pieces.back().codes.push_back(static_cast<char>(code));
    run->advance += FFont_ChrSzX(FFont_ForIndex(run->pieces.back().font), code);
  }
}

}  // namespace

namespace {

// One Glyphs element into a run; the first run that lacks an attribute becomes the document's
// fault, and the runs after it are not kept (the layer is refused whole).
int take_run(void* data, xmlTextReaderPtr reader) {
  auto* tree = static_cast<XMLElement*>(data);
  if (!tree->fault.empty() || xmlTextReaderDepth(reader) != 1 ||
      xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT ||
      xmlStrcmp(xmlTextReaderConstLocalName(reader), reinterpret_cast<const xmlChar*>("Glyphs")) != 0) {
    return 1;
  }
  Run run;
  std::string text;
  struct Field {
    const char* name;
    int32_t* place;
  } fields[] = {{"x0", &run.x0}, {"xw", &run.xw}, {"yb", &run.yb}, {"yh", &run.yh}, {"famStyle", &run.famStyle}};
  const std::string line = "line " + std::to_string(xmlTextReaderGetParserLineNumber(reader));
  for (const Field& f : fields) {
    if (!read_attribute(reader, f.name, &text) || !KVXML_ParseInt(text.c_str(), f.place)) {
      tree->fault = line + ": a Glyphs element without a number in \"" + f.name + "\"";
      return 1;
    }
  }
  if (!read_attribute(reader, "str", &text)) {
    tree->fault = line + ": a Glyphs element without \"str\"";
    return 1;
  }
  for (const char* p = text.c_str(); *p;) run.text.push_back(KVXML_UTF8Next(&p));
  split(&run);
  tree->runs.push_back(std::move(run));
  return 1;
}

}  // namespace

bool read_runs(const char* bytes, size_t length, XMLElement* tree, std::string* why) {
  char reason[300];
  if (KVXML_WalkTextLayer(bytes, length, take_run, tree, reason, sizeof reason) == 1) return true;
  *why = reason;
  return false;
}

double fit_scale(double boxWidth, double naturalWidth) {
  constexpr double kLeast = 0.01, kMost = 100.0;
  if (!(boxWidth > 0) || !(naturalWidth > 0)) return 1.0;
  const double scale = boxWidth / naturalWidth;
  return scale >= kLeast && scale <= kMost ? scale : 1.0;
}

void report_uncarried(const std::vector<Run>& runs) {
  int64_t count = 0;
  uint32_t first = 0;
  for (const Run& run : runs) {
    if (run.uncarried > 0 && count == 0) first = run.firstUncarried;
    count += run.uncarried;
  }
  if (count == 0) return;
  // Said in the user's terms: the converter that met them is the same for every page.
  KVngPrintf("the text layer has %lld character%s that the text fonts cannot carry, written as \"?\" (the first "
             "U+%04X)\n",
             static_cast<long long>(count), count == 1 ? "" : "s", static_cast<unsigned>(first));
}

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string s(text);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

char* engine_copy(const std::string& text) {
  auto* out = static_cast<char*>(kvng_internal_calloc(text.size() + 1, 1));
  if (out) std::memcpy(out, text.data(), text.size());
  return out;
}

Matrix multiply(const Matrix& a, const Matrix& b) {
  const double* x = a.m;
  const double* y = b.m;
  return Matrix{{x[0] * y[0] + x[1] * y[2], x[0] * y[1] + x[1] * y[3], x[2] * y[0] + x[3] * y[2],
                 x[2] * y[1] + x[3] * y[3], x[4] * y[0] + x[5] * y[2] + y[4], x[4] * y[1] + x[5] * y[3] + y[5]}};
}

Matrix matrix_or_identity(const double* coefficients) {
  Matrix m{{1, 0, 0, 1, 0, 0}};
  if (coefficients) std::memcpy(m.m, coefficients, sizeof m.m);
  return m;
}

}  // namespace kvxml
