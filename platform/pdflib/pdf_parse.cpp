// The content-stream parser: operators with their operands, the graphics state (q, Q, cm, line
// width and colours), forms run inside the page, operator and event callbacks.

#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "kvng.h"
#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;
using pdflib::wrap;

namespace {

struct OpName {
  const char* name;
  int32_t code;
};

constexpr OpName kOperators[] = {
    {"b", PDF_OP_b},     {"B", PDF_OP_B},       {"b*", PDF_OP_bstar}, {"B*", PDF_OP_Bstar}, {"BDC", PDF_OP_BDC},
    {"BI", PDF_OP_BI},   {"BMC", PDF_OP_BMC},   {"BT", PDF_OP_BT},    {"BX", PDF_OP_BX},    {"c", PDF_OP_c},
    {"CS", PDF_OP_CS},   {"Do", PDF_OP_Do},     {"cs", PDF_OP_cs},    {"d", PDF_OP_d},      {"TJ", PDF_OP_TJ},
    {"d0", PDF_OP_d0},   {"d1", PDF_OP_d1},     {"DP", PDF_OP_DP},    {"EI", PDF_OP_EI},    {"EMC", PDF_OP_EMC},
    {"EX", PDF_OP_EX},   {"f", PDF_OP_f},       {"F", PDF_OP_F},      {"Q", PDF_OP_Q},      {"f*", PDF_OP_fstar},
    {"G", PDF_OP_G},     {"g", PDF_OP_g},       {"gs", PDF_OP_gs},    {"h", PDF_OP_h},      {"Td", PDF_OP_Td},
    {"Tj", PDF_OP_Tj},   {"Tm", PDF_OP_Tm},     {"i", PDF_OP_i},      {"ET", PDF_OP_ET},    {"TD", PDF_OP_TD},
    {"Tf", PDF_OP_Tf},   {"Tz", PDF_OP_Tz},     {"TL", PDF_OP_TL},    {"ID", PDF_OP_ID},    {"j", PDF_OP_j},
    {"Tr", PDF_OP_Tr},   {"J", PDF_OP_J},       {"K", PDF_OP_K},      {"k", PDF_OP_k},      {"l", PDF_OP_l},
    {"m", PDF_OP_m},     {"cm", PDF_OP_cm},     {"M", PDF_OP_M},      {"MP", PDF_OP_MP},    {"RG", PDF_OP_RG},
    {"rg", PDF_OP_rg},   {"ri", PDF_OP_ri},     {"s", PDF_OP_s},      {"S", PDF_OP_S},      {"SC", PDF_OP_SC},
    {"sc", PDF_OP_sc},   {"SCN", PDF_OP_SCN},   {"scn", PDF_OP_scn},  {"sh", PDF_OP_sh},    {"T*", PDF_OP_Tstar},
    {"Tc", PDF_OP_Tc},   {"Ts", PDF_OP_Ts},     {"n", PDF_OP_n},      {"q", PDF_OP_q},      {"re", PDF_OP_re},
    {"Tw", PDF_OP_Tw},   {"v", PDF_OP_v},       {"w", PDF_OP_w},      {"W", PDF_OP_W},      {"W*", PDF_OP_Wstar},
    {"y", PDF_OP_y},     {"'", PDF_OP_quote},   {"\"", PDF_OP_dquote},
};
static_assert(std::size(kOperators) == PDF_OP_COUNT - 1);

// Names by code, built at compile time from the table above.
constexpr std::array<const char*, PDF_OP_COUNT> kNames = [] {
  std::array<const char*, PDF_OP_COUNT> names{};
  for (const OpName& op : kOperators) names[static_cast<size_t>(op.code)] = op.name;
  return names;
}();

int32_t operator_code(std::string_view name) {
  for (const OpName& op : kOperators) {
    if (name == op.name) return op.code;
  }
  return PDF_OP_UNKNOWN;
}

// Nesting of forms and of saved graphics states is bounded, so no content exhausts memory.
constexpr int kMaxFormDepth = 16;
constexpr size_t kMaxSavedStates = 256;
constexpr size_t kMaxOperands = 4096;

PDFColor initial_color(const PDFColorSpace* cs) {
  PDFColor c{};
  c.colorSpace = cs;
  c.space = cs ? cs->kind : PDF_CS_DEVICE_GRAY;
  c.count = cs ? (cs->components < PDF_COLOR_MAX ? cs->components : PDF_COLOR_MAX) : 1;
  if (c.space == PDF_CS_DEVICE_CMYK || c.space == PDF_CS_CAL_CMYK) c.values[3] = 1.0;
  if (c.space == PDF_CS_SEPARATION || c.space == PDF_CS_DEVICE_N) {
    for (int i = 0; i < c.count; ++i) c.values[i] = 1.0;
  }
  if (c.space == PDF_CS_PATTERN) c.count = 0;
  return c;
}

class Runner;

// The parser's own record beside the public one.
struct ParserImpl {
  Runner* runner = nullptr;
  std::vector<PDFGState> saved;
  std::vector<std::string> texts;      // operand texts of the current operator
  std::vector<PDFObj*> objects;        // operand objects of the current operator
};

class Runner : public QPDFObjectHandle::ParserCallbacks {
 public:
  Runner(PDFDoc* doc, PDFParser* parser) : doc_(doc), parser_(parser) {}

  bool stopped() const { return stopped_; }
  const std::string& failure() const { return failure_; }

  void handleObject(QPDFObjectHandle obj, size_t, size_t) override {
    if (!obj.isOperator()) {
      if (operands_.size() >= kMaxOperands) operands_.erase(operands_.begin());
      operands_.push_back(obj);
      return;
    }
    dispatch(obj.getOperatorValue());
    operands_.clear();
  }

  void handleEOF() override {}

 private:
  ParserImpl* pimpl() { return static_cast<ParserImpl*>(parser_->impl); }

  void fill_operands(std::vector<PDFOperand>* out) {
    ParserImpl* pi = pimpl();
    pi->texts.assign(operands_.size(), std::string());
    out->assign(operands_.size(), PDFOperand{});
    for (size_t i = 0; i < operands_.size(); ++i) {
      QPDFObjectHandle h = operands_[i];
      PDFOperand& o = (*out)[i];
      o.type = pdflib::kind_of(h);
      std::string& text = pi->texts[i];
      switch (o.type) {
        case PDF_OBJ_BOOLEAN:
          o.intValue = h.getBoolValue() ? 1 : 0;
          o.realValue = o.intValue;
          break;
        case PDF_OBJ_INTEGER: {
          const long long v = h.getIntValue();
          o.intValue = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
          o.realValue = static_cast<double>(v);
          break;
        }
        case PDF_OBJ_REAL:
          o.realValue = h.getNumericValue();
          o.intValue = static_cast<int32_t>(o.realValue > INT32_MAX   ? INT32_MAX
                                            : o.realValue < INT32_MIN ? INT32_MIN
                                                                      : o.realValue);
          break;
        case PDF_OBJ_STRING:
          text = h.getStringValue();
          break;
        case PDF_OBJ_NAME:
          text = h.getName().substr(1);
          break;
        case PDF_OBJ_ARRAY:
          // The strings of a TJ array, as a literal string would hold them.
          for (QPDFObjectHandle item : h.aitems()) {
            if (!item.isString()) continue;
            for (char c : item.getStringValue()) {
              if (c == '(' || c == ')' || c == '\\') text.push_back('\\');
              text.push_back(c);
            }
          }
          o.length = h.getArrayNItems();
          break;
        default:
          break;
      }
      if (o.type == PDF_OBJ_STRING || o.type == PDF_OBJ_NAME) o.length = static_cast<int32_t>(text.size());
      if (o.type == PDF_OBJ_ARRAY || o.type == PDF_OBJ_DICT) {
        o.object = wrap(doc_, h);
        pi->objects.push_back(o.object);
      }
    }
    for (size_t i = 0; i < operands_.size(); ++i) {
      const int32_t t = (*out)[i].type;
      if (t == PDF_OBJ_STRING || t == PDF_OBJ_NAME || t == PDF_OBJ_ARRAY) (*out)[i].text = pi->texts[i].c_str();
    }
  }

  // The operands as numbers, when every one is a number.
  bool numbers(std::vector<double>* out) {
    out->clear();
    for (QPDFObjectHandle h : operands_) {
      if (!h.isNumber()) return false;
      out->push_back(h.getNumericValue());
    }
    return true;
  }

  const PDFColorSpace* named_space(const std::string& name) {
    PDFDocImpl* d = doc_->impl;
    QPDFObjectHandle res = resolved(parser_->resources);
    const std::string key = (res.isIndirect() ? res.getObjGen().unparse(',') : std::string("-")) + name;
    if (const auto it = d->namedSpaces.find(key); it != d->namedSpaces.end()) return it->second;
    PDFObj csDesc;
    csDesc.h = QPDFObjectHandle::newName(name);
    PDFColorSpace* cs = PDFGetColorSpace(doc_, &csDesc, parser_->resources);
    d->namedSpaces[key] = cs;
    return cs;
  }

  void set_color(PDFColor* c, const PDFColorSpace* space, int32_t kind, int count) {
    std::vector<double> v;
    if (!numbers(&v) || static_cast<int>(v.size()) != count) return;
    PDFColor n{};
    n.space = kind;
    n.colorSpace = space;
    n.count = count;
    for (int i = 0; i < count; ++i) n.values[i] = v[static_cast<size_t>(i)];
    *c = n;
  }

  void set_components(PDFColor* c) {
    std::vector<double> v;
    for (QPDFObjectHandle h : operands_) {
      if (h.isNumber()) v.push_back(h.getNumericValue());
    }
    const size_t n = std::min<size_t>(v.size(), PDF_COLOR_MAX);
    for (size_t i = 0; i < n; ++i) c->values[i] = v[i];
    if (c->space != PDF_CS_PATTERN) c->count = static_cast<int32_t>(n);
  }

  // What the library itself does with an operator before the callbacks see it.
  void graphics_state(int32_t code) {
    PDFGState* gs = parser_->gstate;
    ParserImpl* pi = pimpl();
    PDFDocImpl* d = doc_->impl;
    auto device = [&](int32_t kind) -> const PDFColorSpace* {
      const auto it = d->deviceSpaces.find(kind);
      return it == d->deviceSpaces.end() ? nullptr : it->second;
    };
    std::vector<double> v;
    switch (code) {
      case PDF_OP_q:
        if (pi->saved.size() < kMaxSavedStates) pi->saved.push_back(*gs);
        break;
      case PDF_OP_Q:
        if (!pi->saved.empty()) {
          *gs = pi->saved.back();
          pi->saved.pop_back();
        }
        break;
      case PDF_OP_cm:
        if (numbers(&v) && v.size() == 6) {
          const double* m = gs->ctm;
          const double r[6] = {v[0] * m[0] + v[1] * m[2],        v[0] * m[1] + v[1] * m[3],
                               v[2] * m[0] + v[3] * m[2],        v[2] * m[1] + v[3] * m[3],
                               v[4] * m[0] + v[5] * m[2] + m[4], v[4] * m[1] + v[5] * m[3] + m[5]};
          std::memcpy(gs->ctm, r, sizeof r);
        }
        break;
      case PDF_OP_w:
        if (numbers(&v) && v.size() == 1) gs->lineWidth = v[0];
        break;
      case PDF_OP_g:
        set_color(&gs->fill, device(PDF_CS_DEVICE_GRAY), PDF_CS_DEVICE_GRAY, 1);
        break;
      case PDF_OP_G:
        set_color(&gs->stroke, device(PDF_CS_DEVICE_GRAY), PDF_CS_DEVICE_GRAY, 1);
        break;
      case PDF_OP_rg:
        set_color(&gs->fill, device(PDF_CS_DEVICE_RGB), PDF_CS_DEVICE_RGB, 3);
        break;
      case PDF_OP_RG:
        set_color(&gs->stroke, device(PDF_CS_DEVICE_RGB), PDF_CS_DEVICE_RGB, 3);
        break;
      case PDF_OP_k:
        set_color(&gs->fill, device(PDF_CS_DEVICE_CMYK), PDF_CS_DEVICE_CMYK, 4);
        break;
      case PDF_OP_K:
        set_color(&gs->stroke, device(PDF_CS_DEVICE_CMYK), PDF_CS_DEVICE_CMYK, 4);
        break;
      case PDF_OP_cs:
      case PDF_OP_CS:
        if (operands_.size() == 1 && operands_[0].isName()) {
          if (const PDFColorSpace* cs = named_space(operands_[0].getName())) {
            (code == PDF_OP_cs ? gs->fill : gs->stroke) = initial_color(cs);
          }
        }
        break;
      case PDF_OP_sc:
      case PDF_OP_scn:
        set_components(&gs->fill);
        break;
      case PDF_OP_SC:
      case PDF_OP_SCN:
        set_components(&gs->stroke);
        break;
      default:
        break;
    }
  }

  void dispatch(const std::string& name) {
    PDFDocImpl* d = doc_->impl;
    const int32_t code = operator_code(name);
    graphics_state(code);
    if (code == PDF_OP_UNKNOWN) return;
    const pdflib::OperatorHook registered = d->registered[static_cast<size_t>(code)];
    const std::vector<pdflib::OperatorHook> added = d->added[static_cast<size_t>(code)];
    if (!registered.callback && added.empty()) return;
    std::vector<PDFOperand> operands;
    fill_operands(&operands);
    parser_->operatorCode = code;
    parser_->operatorName = kNames[static_cast<size_t>(code)];
    bool go_on = true;
    auto call = [&](const pdflib::OperatorHook& hook) {
      if (!go_on || !hook.callback) return;
      // Every callback sees the operands its predecessors did not pop.
      parser_->operands = operands.data();
      if (!hook.callback(doc_, hook.data, parser_)) go_on = false;
    };
    parser_->operandCount = static_cast<int32_t>(operands.size());
    call(registered);
    for (const pdflib::OperatorHook& hook : added) call(hook);
    parser_->operandCount = 0;
    parser_->operands = nullptr;
    ParserImpl* pi = pimpl();
    for (PDFObj* o : pi->objects) PDFFreeObject(doc_, o);
    pi->objects.clear();
    if (!go_on) {
      stopped_ = true;
      failure_ = name;
      terminateParsing();
    }
  }

  PDFDoc* doc_;
  PDFParser* parser_;
  std::vector<QPDFObjectHandle> operands_;
  bool stopped_ = false;
  std::string failure_;
};

// Sets the parser's resource dictionaries from a resource dictionary (or none).
void use_resources(PDFDoc* doc, PDFParser* parser, QPDFObjectHandle res) {
  parser->resources = res.isDictionary() ? wrap(doc, res) : nullptr;
  parser->xobjects = res.isDictionary() && res.getKey("/XObject").isDictionary() ? wrap(doc, res.getKey("/XObject"))
                                                                                 : nullptr;
  parser->fonts = res.isDictionary() && res.getKey("/Font").isDictionary() ? wrap(doc, res.getKey("/Font")) : nullptr;
  doc->impl->currentResources = parser->resources;
}

void send_event(PDFDoc* doc, PDFParser* parser, int32_t event) {
  // A callback may unregister itself (or others) while the list is walked.
  const std::vector<pdflib::EventHook> hooks = doc->impl->events;
  for (const pdflib::EventHook& h : hooks) {
    const auto& now = doc->impl->events;
    const bool still = std::any_of(now.begin(), now.end(),
                                   [&](const pdflib::EventHook& e) { return e.callback == h.callback && e.data == h.data; });
    if (still) h.callback(doc, h.data, parser, event);
  }
}

void clear_callbacks(PDFDocImpl* d) {
  for (auto& r : d->registered) r = pdflib::OperatorHook{};
  for (auto& a : d->added) a.clear();
  d->events.clear();
}

// Runs content (a stream or an array of streams) through a runner; false when it stopped or the
// content could not be read, with the reason recorded.
bool run_content(PDFDoc* doc, PDFParser* parser, QPDFObjectHandle content) {
  Runner runner(doc, parser);
  static_cast<ParserImpl*>(parser->impl)->runner = &runner;
  try {
    // qpdf would decode the content into memory without a limit: it is decoded within the
    // content budget first and parsed from a scratch stream that lets go of it afterwards. Each
    // depth of forms has its scratch stream for the document's life, so that running forms a
    // hundred thousand times does not leave as many objects behind.
    auto& pool = doc->impl->scratch;
    const size_t depth = doc->impl->formStack.size();
    while (pool.size() <= depth) pool.push_back(QPDFObjectHandle::newStream(&doc->impl->pdf));
    QPDFObjectHandle scratch = pool[depth];
    scratch.replaceStreamData(pdflib::decode_content(doc, content), QPDFObjectHandle::newNull(),
                              QPDFObjectHandle::newNull());
    try {
      QPDFObjectHandle::parseContentStream(scratch, &runner);
    } catch (...) {
      scratch.replaceStreamData("", QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
      throw;
    }
    scratch.replaceStreamData("", QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
  } catch (const std::exception& e) {
    PDFSetError(doc, PDF_ERR_SYNTAX, __FILE__, __LINE__, "content stream cannot be read: %s", e.what());
    return false;
  }
  if (runner.stopped()) {
    PDFSetError(doc, PDF_ERR_SYNTAX, __FILE__, __LINE__, "'%s' operator stopped the content", runner.failure().c_str());
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

const char* PDFOperatorName(int32_t code) {
  return code > 0 && code < PDF_OP_COUNT ? kNames[static_cast<size_t>(code)] : nullptr;
}

int PDFRegisterOperatorCallback(PDFDoc* doc, int32_t code, PDFOperatorCallback callback, void* data) {
  if (!doc || !doc->impl || code <= 0 || code >= PDF_OP_COUNT) {
    return pdflib::fail(doc, "PDFRegisterOperatorCallback: no operator %d", code);
  }
  doc->impl->registered[static_cast<size_t>(code)] = pdflib::OperatorHook{callback, data};
  return 1;
}

int PDFAddOperatorCallback(PDFDoc* doc, int32_t code, PDFOperatorCallback callback, void* data) {
  if (!doc || !doc->impl || code <= 0 || code >= PDF_OP_COUNT || !callback) {
    return pdflib::fail(doc, "PDFAddOperatorCallback: no operator %d or no callback", code);
  }
  return guarded(doc, "PDFAddOperatorCallback", 0, [&] {
    doc->impl->added[static_cast<size_t>(code)].push_back(pdflib::OperatorHook{callback, data});
    return 1;
  });
}

int PDFRegisterEventCallback(PDFDoc* doc, PDFEventCallback callback, void* data) {
  if (!doc || !doc->impl || !callback) return pdflib::fail(doc, "PDFRegisterEventCallback: no callback");
  return guarded(doc, "PDFRegisterEventCallback", 0, [&] {
    auto& events = doc->impl->events;
    for (const auto& e : events) {
      if (e.callback == callback && e.data == data) return 1;
    }
    events.push_back(pdflib::EventHook{callback, data});
    return 1;
  });
}

int PDFUnRegisterEventCallback(PDFDoc* doc, PDFEventCallback callback, void* data) {
  if (!doc || !doc->impl) return 0;
  auto& events = doc->impl->events;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (it->callback == callback && it->data == data) {
      events.erase(it);
      return 1;
    }
  }
  return 1;
}

int PDFExtractPageItems(PDFDoc* doc, int32_t pageIndex, PDFObj* pageDict) {
  if (!doc || !doc->impl) return 0;
  PDFClearError(doc);
  PDFDocImpl* d = doc->impl;
  PDFGState gs{};
  gs.ctm[0] = gs.ctm[3] = 1.0;
  gs.lineWidth = 1.0;
  ParserImpl pi;
  PDFParser parser{};
  parser.doc = doc;
  parser.pageIndex = pageIndex;
  parser.page = pageDict;
  parser.gstate = &gs;
  parser.impl = &pi;
  bool ok = guarded(doc, "PDFExtractPageItems", false, [&] {
    QPDFObjectHandle page = resolved(pageDict);
    if (!page.isDictionary()) {
      PDFSetError(doc, PDF_ERR_ARGUMENT, __FILE__, __LINE__, "no page dictionary");
      return false;
    }
    // Device spaces exist before any colour operator needs them.
    PDFObj csDesc;
    for (const char* n : {"/DeviceGray", "/DeviceRGB", "/DeviceCMYK"}) {
      csDesc.h = QPDFObjectHandle::newName(n);
      PDFGetColorSpace(doc, &csDesc, nullptr);
    }
    gs.fill = gs.stroke = initial_color(d->deviceSpaces[PDF_CS_DEVICE_GRAY]);
    pdflib::start_page_totals(doc);
    use_resources(doc, &parser, page.getKey("/Resources"));
    QPDFObjectHandle contents = page.getKey("/Contents");
    if (!contents.isNull() && !run_content(doc, &parser, contents)) return false;
    send_event(doc, &parser, PDF_EVENT_CONTENT_END);
    return true;
  });
  if (!ok && doc->error.code == PDF_ERR_NONE) {
    PDFSetError(doc, PDF_ERR_SYNTAX, __FILE__, __LINE__, "%s", PDFErrorText(doc));
  }
  try {
    send_event(doc, &parser, PDF_EVENT_EXTRACT_END);
  } catch (...) {
  }
  clear_callbacks(d);
  d->currentResources = nullptr;
  try {
    pdflib::collect_warnings(doc);
  } catch (...) {
  }
  return ok ? 1 : 0;
}

int PDFExtractFormItems(PDFDoc* doc, PDFObj* form, PDFParser* parser, PDFObj*) {
  if (!doc || !doc->impl || !parser || !parser->impl) return 0;
  PDFDocImpl* d = doc->impl;
  return guarded(doc, "PDFExtractFormItems", 0, [&] {
    QPDFObjectHandle f = resolved(form);
    if (!f.isStream() || !f.getDict().getKey("/Subtype").isNameAndEquals("/Form")) {
      PDFSetError(doc, PDF_ERR_ARGUMENT, __FILE__, __LINE__, "not a form XObject");
      return 0;
    }
    const QPDFObjGen og = f.getObjGen();
    if (d->formStack.size() >= static_cast<size_t>(kMaxFormDepth) ||
        std::find(d->formStack.begin(), d->formStack.end(), og) != d->formStack.end()) {
      PDFSetError(doc, PDF_ERR_SYNTAX, __FILE__, __LINE__, "forms nest in a loop or too deep");
      return 0;
    }
    if (!pdflib::count_form(doc)) return 0;
    // The form runs in a graphics state of its own, moved by its matrix, with its own resources
    // (or those it is drawn from when it has none).
    const PDFGState saved = *parser->gstate;
    PDFObj* resources = parser->resources;
    PDFObj* xobjects = parser->xobjects;
    PDFObj* fonts = parser->fonts;
    std::vector<double> m;
    QPDFObjectHandle matrix = f.getDict().getKey("/Matrix");
    if (matrix.isArray() && matrix.getArrayNItems() == 6) {
      for (QPDFObjectHandle v : matrix.aitems()) m.push_back(v.isNumber() ? v.getNumericValue() : 0.0);
      const double* c = parser->gstate->ctm;
      const double r[6] = {m[0] * c[0] + m[1] * c[2],        m[0] * c[1] + m[1] * c[3],
                           m[2] * c[0] + m[3] * c[2],        m[2] * c[1] + m[3] * c[3],
                           m[4] * c[0] + m[5] * c[2] + c[4], m[4] * c[1] + m[5] * c[3] + c[5]};
      std::memcpy(parser->gstate->ctm, r, sizeof r);
    }
    QPDFObjectHandle res = f.getDict().getKey("/Resources");
    if (res.isDictionary()) use_resources(doc, parser, res);
    d->formStack.push_back(og);
    auto* pi = static_cast<ParserImpl*>(parser->impl);
    const size_t depth = pi->saved.size();
    Runner* outer = pi->runner;
    const bool ok = run_content(doc, parser, f);
    pi->runner = outer;
    pi->saved.resize(std::min(depth, pi->saved.size()));
    d->formStack.pop_back();
    *parser->gstate = saved;
    parser->resources = resources;
    parser->xobjects = xobjects;
    parser->fonts = fonts;
    d->currentResources = resources;
    return ok ? 1 : 0;
  });
}

char* PDFPopNameOperand(PDFParser* parser, int* status) {
  if (!parser || parser->operandCount < 1 || parser->operands[parser->operandCount - 1].type != PDF_OBJ_NAME) {
    if (status) *status = 0;
    return nullptr;
  }
  const PDFOperand& o = parser->operands[--parser->operandCount];
  const size_t n = static_cast<size_t>(o.length);
  auto* text = static_cast<char*>(kvng_internal_calloc(n + 1, 1));
  if (!text) {
    if (status) *status = 0;
    return nullptr;
  }
  if (n) std::memcpy(text, o.text, n);
  return text;
}

double PDFPopRealOperand(PDFParser* parser, int* status) {
  if (!parser || parser->operandCount < 1) {
    if (status) *status = 0;
    return 0.0;
  }
  const PDFOperand& o = parser->operands[parser->operandCount - 1];
  if (o.type != PDF_OBJ_INTEGER && o.type != PDF_OBJ_REAL) {
    if (status) *status = 0;
    return 0.0;
  }
  --parser->operandCount;
  return o.realValue;
}

int PDFPopOperandStack(PDFParser* parser) {
  if (parser) parser->operandCount = 0;
  return 1;
}

}  // extern "C"
