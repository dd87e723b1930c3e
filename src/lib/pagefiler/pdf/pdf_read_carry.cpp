// What a page's layers cannot carry. The reader keeps placed images, filled rectangles and text
// objects; a page that draws anything else (paths, strokes, shadings, inline images, clips that
// cut into the page, transparency, text in fonts that are only written again by name) would be
// written back changed. The check watches the same content run as the reader and names the
// first such thing in the page image's PDF_ATTR_NOT_CARRIED attribute, so that a writer refuses
// the page rather than write a different one.

#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "pdf_read.h"

namespace {

// Clip boxes are compared with the page box in points; placements written with a few decimals
// land a hair off the page's edge.
constexpr double kEdge = 0.01;

// What of the state things are drawn in q saves and Q restores.
struct DrawState {
  std::string font;            // resource name of the current font
  int32_t mode = 0;            // text rendering mode
  bool clipped = false;        // a clip cuts into the page: to clipBox
  double clipBox[4] = {0, 0, 0, 0};
};

struct CarryCheck {
  std::string first;                     // the first thing not carried
  bool visibleText = false;
  bool pathSegments = false;             // the current path has more than upright rectangles
  int32_t pathRectangles = 0;            // ... and how many rectangles
  double pathBox[4] = {0, 0, 0, 0};      // their union, points from the box's lower-left corner
  bool clip = false;                     // W or W* since the path began
  DrawState now;
  std::vector<DrawState> saved;
  // The carried bytes of the page's images by object number and generation, held once each.
  std::map<std::pair<int32_t, int32_t>, elf_object*> carried;
};

CarryCheck* check_of(ReaderCallbackContext* ctx) { return static_cast<CarryCheck*>(ctx->carry); }

void note(ReaderCallbackContext* ctx, const std::string& what) {
  CarryCheck* c = check_of(ctx);
  if (c->first.empty()) c->first = what;
}

void end_path(CarryCheck* c) {
  c->pathSegments = c->clip = false;
  c->pathRectangles = 0;
}

// Whether a box (points from the page box's lower-left corner) lies within the clip in force.
bool within_clip(const CarryCheck* c, double x0, double y0, double x1, double y1) {
  const double* b = c->now.clipBox;
  return !c->now.clipped ||
         (x0 >= b[0] - kEdge && y0 >= b[1] - kEdge && x1 <= b[2] + kEdge && y1 <= b[3] + kEdge);
}

// W or W* ended the path: a clip to one upright rectangle is followed, anything else is not
// carried. A rectangle that holds the whole page box cuts nothing away.
void clip_to_path(ReaderCallbackContext* ctx) {
  CarryCheck* c = check_of(ctx);
  if (c->pathSegments || c->pathRectangles != 1) {
    note(ctx, "clipping");
    return;
  }
  const double* p = c->pathBox;
  if (p[0] <= kEdge && p[1] <= kEdge && p[2] >= ctx->box[2] - ctx->box[0] - kEdge &&
      p[3] >= ctx->box[3] - ctx->box[1] - kEdge) {
    return;
  }
  double* b = c->now.clipBox;
  if (!c->now.clipped) {
    std::memcpy(b, p, sizeof c->now.clipBox);
  } else {
    b[0] = std::fmax(b[0], p[0]);
    b[1] = std::fmax(b[1], p[1]);
    b[2] = std::fmin(b[2], p[2]);
    b[3] = std::fmin(b[3], p[3]);
  }
  c->now.clipped = true;
}

bool is_device(const PDFColor& color) {
  return color.space == PDF_CS_DEVICE_GRAY || color.space == PDF_CS_DEVICE_RGB || color.space == PDF_CS_DEVICE_CMYK;
}

bool is_black(const PDFColor& color) {
  switch (color.space) {
    case PDF_CS_DEVICE_GRAY:
      return color.values[0] == 0;
    case PDF_CS_DEVICE_RGB:
      return color.values[0] == 0 && color.values[1] == 0 && color.values[2] == 0;
    case PDF_CS_DEVICE_CMYK:
      return color.values[0] == 0 && color.values[1] == 0 && color.values[2] == 0 && color.values[3] == 1;
    default:
      return false;
  }
}

bool name_is(PDFDoc* doc, PDFObj* obj, const char* name) {
  return obj && PDFObjectKind(doc, obj) == PDF_OBJ_NAME && PDFStringTestCString(doc, obj, name);
}

// A resource of the running content: category (XObject, Font, ExtGState) entry name.
PDFObj* resource(PDFDoc* doc, PDFParser* parser, const char* category, const char* name) {
  if (!parser->resources || !name) return nullptr;
  // The parser keeps the XObject and Font dictionaries of the running content at hand.
  PDFObj* dict = std::strcmp(category, "XObject") == 0 ? parser->xobjects
                 : std::strcmp(category, "Font") == 0  ? parser->fonts
                                                       : PDFGetDictEntry(doc, parser->resources, category);
  return dict && PDFObjectKind(doc, dict) == PDF_OBJ_DICT ? PDFGetDictEntry(doc, dict, name) : nullptr;
}

// The last operand when it is a name, its text without the slash.
std::string name_operand(PDFParser* parser) {
  if (parser->operandCount < 1) return {};
  const PDFOperand& o = parser->operands[parser->operandCount - 1];
  return o.type == PDF_OBJ_NAME && o.text ? std::string(o.text, static_cast<size_t>(o.length)) : std::string();
}

// The 14 fonts every reader has: written again by name, they look as they did.
bool standard_font(const char* name) {
  static const char* const kStandard[] = {
      "Times-Roman", "Times-Bold",   "Times-Italic",        "Times-BoldItalic",      "Helvetica",
      "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique", "Courier", "Courier-Bold",
      "Courier-Oblique", "Courier-BoldOblique", "Symbol", "ZapfDingbats"};
  for (const char* s : kStandard) {
    if (std::strcmp(s, name) == 0) return true;
  }
  return false;
}

// Why text in the font of resource name would not look the same when the font is written again
// by name; empty when it would.
std::string font_problem(PDFDoc* doc, PDFParser* parser, const std::string& name) {
  PDFObj* font = resource(doc, parser, "Font", name.c_str());
  if (!font || PDFObjectKind(doc, font) != PDF_OBJ_DICT) return "text in font /" + name + ", which the page lacks,";
  char* base = PDFStringToCString(doc, PDFGetDictEntry(doc, font, "BaseFont"));
  const std::string baseName = base ? base : "";
  kvng_internal_free(base);
  const std::string called = "text in font " + (baseName.empty() ? "/" + name : baseName);
  if (!name_is(doc, PDFGetDictEntry(doc, font, "Subtype"), "Type1")) return called + " (not a simple Type 1 font)";
  PDFObj* descriptor = PDFGetDictEntry(doc, font, "FontDescriptor");
  if (descriptor && (PDFGetDictEntry(doc, descriptor, "FontFile") || PDFGetDictEntry(doc, descriptor, "FontFile2") ||
                     PDFGetDictEntry(doc, descriptor, "FontFile3"))) {
    return called + " (embedded)";
  }
  if (!standard_font(baseName.c_str())) return called + " (not one of the 14 standard fonts)";
  PDFObj* encoding = PDFGetDictEntry(doc, font, "Encoding");
  if (encoding && !name_is(doc, encoding, "WinAnsiEncoding") && !name_is(doc, encoding, "StandardEncoding")) {
    return called + " (its own encoding)";
  }
  return {};
}

// Text shown now: kept when invisible, or when black in a font written again as it was.
void shown_text(PDFDoc* doc, ReaderCallbackContext* ctx, PDFParser* parser) {
  CarryCheck* c = check_of(ctx);
  if (c->now.mode == 3) return;
  c->visibleText = true;
  if (!c->first.empty()) return;
  if (c->now.mode != 0) {
    note(ctx, "text drawn in rendering mode " + std::to_string(c->now.mode));
    return;
  }
  const std::string problem = font_problem(doc, parser, c->now.font);
  if (c->now.clipped) {
    note(ctx, "clipping");
  } else if (!problem.empty()) {
    note(ctx, problem);
  } else if (!is_black(parser->gstate->fill)) {
    note(ctx, "text in a colour other than black");
  }
}

// Transparency, soft masks, blend modes and transfer functions of a graphics state dictionary.
void graphics_state_dict(PDFDoc* doc, ReaderCallbackContext* ctx, PDFParser* parser, const std::string& name) {
  PDFObj* gs = resource(doc, parser, "ExtGState", name.c_str());
  if (!gs || PDFObjectKind(doc, gs) != PDF_OBJ_DICT) return;
  PDFObj* smask = PDFGetDictEntry(doc, gs, "SMask");
  if (smask && !name_is(doc, smask, "None")) note(ctx, "a soft mask");
  for (const char* key : {"CA", "ca"}) {
    double alpha = 1;
    if (PDFObj* v = PDFGetDictEntry(doc, gs, key); v && PDFGetReal(doc, v, &alpha) == 1 && alpha < 1) {
      note(ctx, "transparency");
    }
  }
  PDFObj* blend = PDFGetDictEntry(doc, gs, "BM");
  if (blend && !name_is(doc, blend, "Normal") && !name_is(doc, blend, "Compatible")) note(ctx, "a blend mode");
  for (const char* key : {"TR", "TR2"}) {
    PDFObj* tr = PDFGetDictEntry(doc, gs, key);
    if (tr && !name_is(doc, tr, "Identity") && !name_is(doc, tr, "Default")) note(ctx, "a transfer function");
  }
  if (PDFGetDictEntry(doc, gs, "Font")) note(ctx, "a font set by a graphics state");
}

// Whether the box a form's content is clipped to, through the placement, holds every layer the
// form drew (from layer first on): then the clip cuts nothing away.
bool form_clips_nothing(PDFDoc* doc, ReaderCallbackContext* ctx, PDFParser* parser, PDFObj* form, int32_t first) {
  PDFObj* bbox = PDFGetDictEntry(doc, form, "BBox");
  double b[4] = {0, 0, 0, 0};
  if (!bbox || PDFGetArrayCount(doc, bbox) != 4) return false;
  for (int32_t i = 0; i < 4; ++i) {
    if (PDFGetReal(doc, PDFGetArrayObject(doc, bbox, i), &b[i]) != 1) return false;
  }
  double m[6] = {1, 0, 0, 1, 0, 0};
  if (PDFObj* matrix = PDFGetDictEntry(doc, form, "Matrix"); matrix && PDFGetArrayCount(doc, matrix) == 6) {
    for (int32_t i = 0; i < 6; ++i) PDFGetReal(doc, PDFGetArrayObject(doc, matrix, i), &m[i]);
  }
  const double* c = parser->gstate->ctm;
  const double t[6] = {m[0] * c[0] + m[1] * c[2],        m[0] * c[1] + m[1] * c[3],
                       m[2] * c[0] + m[3] * c[2],        m[2] * c[1] + m[3] * c[3],
                       m[4] * c[0] + m[5] * c[2] + c[4], m[4] * c[1] + m[5] * c[3] + c[5]};
  if (t[1] != 0 || t[2] != 0) return false;
  // In the layers' space: points from the page box's lower-left corner.
  const double xa = b[0] * t[0] + t[4] - ctx->box[0], xb = b[2] * t[0] + t[4] - ctx->box[0];
  const double ya = b[1] * t[3] + t[5] - ctx->box[1], yb = b[3] * t[3] + t[5] - ctx->box[1];
  const double x0 = std::fmin(xa, xb) - kEdge, x1 = std::fmax(xa, xb) + kEdge;
  const double y0 = std::fmin(ya, yb) - kEdge, y1 = std::fmax(ya, yb) + kEdge;
  for (int32_t i = first; i < qelImage(ctx->image)->layerCount; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(ctx->image, i));
    if (!l || l->kind == QEL_KIND_JBIG2_DICT) continue;
    if (l->x < x0 || l->y < y0 || l->x + l->width > x1 || l->y + l->height > y1) return false;
  }
  return true;
}

// Watches the operators the reader does not take itself; returns 1 always (the check never
// stops the content).
int watch(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  CarryCheck* c = check_of(ctx);
  switch (parser->operatorCode) {
    case PDF_OP_m:
    case PDF_OP_l:
    case PDF_OP_c:
    case PDF_OP_v:
    case PDF_OP_y:
    case PDF_OP_h:
      c->pathSegments = true;
      break;
    case PDF_OP_W:
    case PDF_OP_Wstar:
      c->clip = true;
      break;
    case PDF_OP_f:
    case PDF_OP_F:
    case PDF_OP_fstar:
      if (c->pathSegments) {
        note(ctx, "vector drawing");
      } else if (c->pathRectangles && !is_device(parser->gstate->fill)) {
        note(ctx, "a fill in a colour space other than DeviceGray, DeviceRGB or DeviceCMYK");
      } else if (c->pathRectangles && !within_clip(c, c->pathBox[0], c->pathBox[1], c->pathBox[2], c->pathBox[3])) {
        note(ctx, "clipping");
      }
      if (c->clip) clip_to_path(ctx);
      end_path(c);
      break;
    case PDF_OP_S:
    case PDF_OP_s:
    case PDF_OP_B:
    case PDF_OP_Bstar:
    case PDF_OP_b:
    case PDF_OP_bstar:
      if (c->pathSegments || c->pathRectangles) note(ctx, "vector drawing (strokes)");
      end_path(c);
      break;
    case PDF_OP_n:
      if (c->clip) clip_to_path(ctx);
      end_path(c);
      break;
    case PDF_OP_sh:
      note(ctx, "a shading");
      break;
    case PDF_OP_BI:
      note(ctx, "an inline image");
      break;
    case PDF_OP_gs:
      graphics_state_dict(doc, ctx, parser, name_operand(parser));
      break;
    case PDF_OP_BDC:
      if (parser->operandCount >= 2 && parser->operands[0].type == PDF_OBJ_NAME && parser->operands[0].text &&
          std::strcmp(parser->operands[0].text, "OC") == 0) {
        note(ctx, "optional content");
      }
      break;
    case PDF_OP_q:
      c->saved.push_back(c->now);
      break;
    case PDF_OP_Q:
      if (!c->saved.empty()) {
        c->now = c->saved.back();
        c->saved.pop_back();
      }
      break;
    default:
      break;
  }
  return 1;
}

// The reader's rectangle callback, then the rectangle in the path: upright ones are the
// rectangle layer it made, turned ones more than a rectangle layer can say.
int rectangle(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  CarryCheck* c = check_of(ctx);
  const int32_t before = ctx->pathRectangles;
  const double* m = parser->gstate->ctm;
  const bool upright = (m[1] == 0 && m[2] == 0) || (m[0] == 0 && m[3] == 0);
  const int r = __page_OP_re_Callback(doc, data, parser);
  if (!upright) {
    c->pathSegments = true;
  } else if (ctx->pathRectangles > before) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(ctx->image, qelImage(ctx->image)->layerCount - 1));
    const double box[4] = {l->x, l->y, l->x + l->width, l->y + l->height};
    if (!c->pathRectangles) {
      std::memcpy(c->pathBox, box, sizeof box);
    } else {
      c->pathBox[0] = std::fmin(c->pathBox[0], box[0]);
      c->pathBox[1] = std::fmin(c->pathBox[1], box[1]);
      c->pathBox[2] = std::fmax(c->pathBox[2], box[2]);
      c->pathBox[3] = std::fmax(c->pathBox[3], box[3]);
    }
    ++c->pathRectangles;
  }
  return r;
}

// The reader's Do callback, with what it cannot see: a stencil mask painted in a colour the
// layer cannot hold, a form clipped by its bounding box.
int place(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  PDFObj* xobject = resource(doc, parser, "XObject", name_operand(parser).c_str());
  const int32_t before = qelImage(ctx->image)->layerCount;
  const PDFGState gs = *parser->gstate;
  const int r = __pdf_OP_Do_callback(doc, data, parser);
  if (r != 1 || !xobject || !check_of(ctx)->first.empty()) return r;
  for (int32_t i = before; i < qelImage(ctx->image)->layerCount; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(ctx->image, i));
    if (l && l->kind != QEL_KIND_JBIG2_DICT && l->kind != QEL_KIND_TEXT &&
        !within_clip(check_of(ctx), l->x, l->y, l->x + l->width, l->y + l->height)) {
      note(ctx, "clipping");
    }
  }
  PDFObj* subtype = PDFGetDictEntry(doc, xobject, "Subtype");
  if (name_is(doc, subtype, "Image")) {
    PDFObj* stencil = PDFGetDictEntry(doc, xobject, "ImageMask");
    int32_t on = 0;
    if (stencil && PDFGetBoolean(doc, stencil, &on) == 1 && on && !is_device(gs.fill)) {
      note(ctx, "a stencil mask painted in a colour space other than DeviceGray, DeviceRGB or DeviceCMYK");
    }
    if (PDFGetDictEntry(doc, xobject, "OC")) note(ctx, "optional content");
  } else if (name_is(doc, subtype, "Form")) {
    // Text keeps the operators around it in the page, not the form's matrix and resources.
    for (int32_t i = before; i < qelImage(ctx->image)->layerCount; ++i) {
      const elf_QELLAYER* l = qelLayer(QELGetLayer(ctx->image, i));
      if (l && l->kind == QEL_KIND_TEXT) note(ctx, "text inside a form XObject");
    }
    PDFGState outer = *parser->gstate;
    *parser->gstate = gs;
    if (!form_clips_nothing(doc, ctx, parser, xobject, before)) {
      note(ctx, "a form clipped to its bounding box");
    }
    *parser->gstate = outer;
    if (PDFGetDictEntry(doc, xobject, "OC")) note(ctx, "optional content");
  }
  return r;
}

// The text callback of the reader, after the text state and what is shown were looked at.
int text(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  CarryCheck* c = check_of(ctx);
  switch (parser->operatorCode) {
    case PDF_OP_Tf:
      if (parser->operandCount >= 2 && parser->operands[0].type == PDF_OBJ_NAME && parser->operands[0].text) {
        c->now.font.assign(parser->operands[0].text, static_cast<size_t>(parser->operands[0].length));
      }
      break;
    case PDF_OP_Tr:
      if (parser->operandCount >= 1 && parser->operands[0].type == PDF_OBJ_INTEGER) {
        c->now.mode = parser->operands[0].intValue;
      }
      break;
    default:
      shown_text(doc, ctx, parser);
      break;
  }
  return __pageTextObjectCallback_passthru(doc, ctx->image, parser);
}

// A baseline JPEG image in DeviceGray or DeviceRGB with nothing else to it: its layer (the JPEG
// bytes and the colour space) already says all, as scanners and our own writer make them.
bool plain_jpeg(PDFDoc* doc, PDFObj* stream) {
  static const char* const kPlain[] = {"Type", "Subtype", "Width", "Height", "BitsPerComponent", "ColorSpace",
                                       "Filter", "Length", "Name"};
  const int32_t n = PDFGetDictCount(doc, stream);
  for (int32_t i = 0; i < n; ++i) {
    const char* key = PDFGetDictKey(doc, stream, i);
    if (!key) return false;
    bool plain = false;
    for (const char* k : kPlain) plain = plain || std::strcmp(k, key) == 0;
    if (!plain) return false;
  }
  int32_t bits = 0;
  PDFObj* space = PDFGetDictEntry(doc, stream, "ColorSpace");
  PDFObj* depth = PDFGetDictEntry(doc, stream, "BitsPerComponent");
  return name_is(doc, PDFGetDictEntry(doc, stream, "Filter"), "DCTDecode") &&
         (name_is(doc, space, "DeviceGray") || name_is(doc, space, "DeviceRGB")) && depth &&
         PDFGetInteger(doc, depth, &bits) == 1 && bits == 8;
}

}  // namespace

extern "C" {

int pdfCarryCheckBegin(PDFDoc* doc, ReaderCallbackContext* ctx, PDFObj* pageDict) {
  auto* c = new (std::nothrow) CarryCheck;
  if (!c) return 0;
  ctx->carry = c;
  if (PDFObj* annots = PDFGetDictEntry(doc, pageDict, "Annots")) {
    const int32_t n = PDFGetArrayCount(doc, annots);
    for (int32_t i = 0; i < n; ++i) {
      PDFObj* a = PDFGetArrayObject(doc, annots, i);
      if (a && PDFObjectKind(doc, a) == PDF_OBJ_DICT && PDFGetDictEntry(doc, a, "AP")) {
        note(ctx, "an annotation");
        break;
      }
    }
  }
  PDFRegisterOperatorCallback(doc, PDF_OP_Do, place, ctx);
  PDFRegisterOperatorCallback(doc, PDF_OP_re, rectangle, ctx);
  for (int32_t code : {PDF_OP_Tf, PDF_OP_Tr, PDF_OP_Tj, PDF_OP_TJ, PDF_OP_quote, PDF_OP_dquote}) {
    PDFRegisterOperatorCallback(doc, code, text, ctx);
  }
  for (int32_t code : {PDF_OP_m, PDF_OP_l, PDF_OP_c, PDF_OP_v, PDF_OP_y, PDF_OP_h, PDF_OP_W, PDF_OP_Wstar, PDF_OP_f,
                       PDF_OP_F, PDF_OP_fstar, PDF_OP_S, PDF_OP_s, PDF_OP_B, PDF_OP_Bstar, PDF_OP_b, PDF_OP_bstar,
                       PDF_OP_n, PDF_OP_sh, PDF_OP_BI, PDF_OP_gs, PDF_OP_BDC, PDF_OP_q, PDF_OP_Q}) {
    if (PDFAddOperatorCallback(doc, code, watch, ctx) != 1) return 0;
  }
  return 1;
}

int pdfCarryImage(ReaderCallbackContext* ctx, PDFDoc* doc, PDFImage* image, elf_QELLAYER* l) {
  elf_state* state = ctx->image->state;
  if (plain_jpeg(doc, image->stream)) return QEL_STATUS_OK;
  CarryCheck* c = check_of(ctx);
  int32_t generation = 0;
  const int32_t number = PDFGetObjectNumber(doc, image->stream, &generation);
  const auto key = std::make_pair(number, generation);
  elf_object* p = nullptr;
  if (c && number > 0) {
    const auto found = c->carried.find(key);
    if (found != c->carried.end()) p = found->second;
  }
  if (!p) {
    KVngSB* sb = PDFImageExport(doc, image->stream);
    if (!sb) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: the image cannot be carried: %s\n",
                       "__kvpdfImg2qelLayer", PDFErrorText(doc));
    }
    size_t length = 0;
    const unsigned char* bytes = KVngSBData(sb, &length);
    void* data = elfMalloc(length ? length : 1);
    if (data && length) std::memcpy(data, bytes, length);
    KVngSBFree(sb);
    p = data ? elfNewPointer(state, data, length) : nullptr;
    if (!p) {
      _elfFree(data);
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: no memory\n", "__kvpdfImg2qelLayer");
    }
    if (c && number > 0) {
      elfRefUp(p);
      c->carried.emplace(key, p);
    }
  }
  if (!l->attributes) {
    elf_object* list = new_LIST(state, nullptr, nullptr);
    if (list) ELF_ASSIGN(state, &l->attributes, list);
  }
  if (!l->attributes || lstAppendArgs(l->attributes, PDF_LAYER_CARRIED ":POINTER", p, 0, LST_END) != 1) {
    if (p->refCount < 1) elfDiscard(p);
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: no memory\n", "__kvpdfImg2qelLayer");
  }
  return QEL_STATUS_OK;
}

int pdfCarryCheckEnd(ReaderCallbackContext* ctx, int keep) {
  CarryCheck* c = check_of(ctx);
  ctx->carry = nullptr;
  if (!c) return 1;
  int ok = 1;
  elf_QELIMAGE* im = qelImage(ctx->image);
  if (keep && !c->first.empty()) {
    ok = im->attributes && lstAppendArgs(im->attributes, PDF_ATTR_NOT_CARRIED ":s", c->first.c_str(), 0, LST_END) == 1;
  }
  if (keep && ok && c->visibleText) {
    ok = im->attributes && lstAppendArgs(im->attributes, PDF_ATTR_VISIBLE_TEXT ":b", 1, 0, LST_END) == 1;
  }
  for (auto& [key, p] : c->carried) elfRefDown(p);
  delete c;
  return ok;
}

}  // extern "C"
