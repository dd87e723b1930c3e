// Appending a page to a PDF: page size, rotation and media box from the writer and the image,
// the image's JBIG2 globals stream, its layers through the layer writers, the JBIG2 section
// count, the page list and bookmarks. The caller's image is never changed: the page is written
// from a copy whose layers are placed in points, bottom up.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "dio_backends.h"
#include "dio_text.h"
#include "kvng.h"
#include "pdf_read.h"
#include "pdf_write.h"

namespace {

constexpr char kCorrupt[] = "Object Error - PDF internal State corrupt\n";
constexpr char kLayerIO[] = "PDF internal State: Layer IO error\n";
constexpr double kDefaultResolution = 300.0;

int report(elf_state* state, int code, const char* text) { return setStatus(state, code, QEL_SEVERITY_ERROR, "%s", text); }

double resolution(double value) { return value != 0 ? std::fabs(value) : kDefaultResolution; }

// A copy of the image for writing: new layer records over the same descriptions and data, so
// nothing of the caller's image moves and no pixel is copied.
elf_object* page_copy(elf_object* image) {
  const elf_QELIMAGE* im = qelImage(image);
  elf_state* state = image->state;
  elf_object* copy = new_QELIMAGE(state, nullptr, nullptr);
  elf_QELIMAGE* c = qelImage(copy);
  if (!c) return nullptr;
  elfRefUp(copy);
  c->width = im->width;
  c->height = im->height;
  c->xres = im->xres;
  c->yres = im->yres;
  if (im->attributes) ELF_ASSIGN(state, &c->attributes, im->attributes);
  const int32_t n = elflistLength(im->layers);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* entry = elflistItem(im->layers, i);
    const elf_QELLAYER* l = qelLayer(elfIdentValue(entry));
    if (!l) continue;
    elf_object* made = new_QELLAYER(state, nullptr, nullptr);
    elf_QELLAYER* m = qelLayer(made);
    bool ok = m != nullptr;
    if (ok) {
      m->kind = l->kind;
      m->xres = l->xres;
      m->yres = l->yres;
      m->x = l->x;
      m->y = l->y;
      m->width = l->width;
      m->height = l->height;
      ok = (!l->name || (m->name = elfStrDup(l->name))) && __QELLAYERSetTransformMatrix(made, l->transform) == 0;
      if (l->description) ELF_ASSIGN(state, &m->description, l->description);
      if (l->data) ELF_ASSIGN(state, &m->data, l->data);
      if (l->attributes) ELF_ASSIGN(state, &m->attributes, l->attributes);
      if (l->text) ELF_ASSIGN(state, &m->text, l->text);
    }
    const auto* ident = reinterpret_cast<const elf_IDENT*>(entry);
    if (!ok || QELAppendLayer(copy, elfIsType(entry, "IDENT") ? ident->name : "layer", made) != 0) {
      if (made && !ok) elfDiscard(made);
      elfRefDown(copy);
      return nullptr;
    }
  }
  return copy;
}

// Places every layer of the copy in points with the origin at the bottom left (PDF user space),
// then fits the image into the target box when the page is not the image's size.
void place_layers(elf_object* copy, double imageHeightPt, double scale, double dx, double dy) {
  const int32_t n = qelImage(copy)->layerCount;
  const elf_QELIMAGE* im = qelImage(copy);
  for (int32_t i = 0; i < n; ++i) {
    elf_QELLAYER* l = qelLayer(QELGetLayer(copy, i));
    if (!l) continue;
    const elf_QELHDR* h = qelHdr(l->description);
    const double xres = resolution(l->xres != 0 ? l->xres : im->xres);
    const double yres = resolution(l->yres != 0 ? l->yres : im->yres);
    const double w = l->width > 0 ? l->width : h ? h->width : 0;
    const double hgt = l->height > 0 ? l->height : h ? h->height : 0;
    const double wPt = w * 72.0 / xres, hPt = hgt * 72.0 / yres;
    const double xPt = l->x * 72.0 / xres;
    const double yPt = imageHeightPt - (l->y * 72.0 / yres + hPt);
    if (l->transform && !QELTransform2DIsIdentity(l->transform)) {
      l->x = xPt;
      l->y = yPt;
      l->width = wPt;
      l->height = hPt;
      QELTransform2D fit{{scale, 0, 0, scale, dx, dy}};
      QELTransform2DConcat(l->transform, &fit);
    } else {
      l->x = xPt * scale + dx;
      l->y = yPt * scale + dy;
      l->width = wPt * scale;
      l->height = hPt * scale;
    }
    l->xres = l->yres = 72.0;
  }
}

// The image's JBIG2 globals stream: made from its dictionary layer unless the one in use has the
// same identity. A page without an identity always gets its own.
int globals_step(PdfDocState* s, elf_object* copy, int32_t* globals) {
  elf_state* state = copy->state;
  *globals = -1;
  elf_object* dict = QELGetDictLayer(qelImage(copy)->layers, nullptr);
  if (!dict) return 0;
  const char* uid = nullptr;
  lstScanArgs(qelImage(copy)->attributes, QEL_ATTR_JB2_DICT_UID ":s", LST_OPTIONAL, &uid, LST_END);
  const bool fresh = !uid || !s->jbig2DictUid || KVngStrCmp(uid, s->jbig2DictUid) != 0 || s->jbig2Globals < 0;
  if (!fresh) {
    *globals = s->jbig2Globals;
    return 0;
  }
  PDFDoc* doc = s->doc;
  PDFObj* stream = PDFCreateStream(doc);
  if (!stream) {
    elfMessage(state, "JBIG2 global stream create failed\n");
    return report(state, QEL_STATUS_INVALID, "PDF internal State: JBIG2 global stream create failed\n");
  }
  const auto* data = elfIsType(qelLayer(dict)->data, "POINTER") ? reinterpret_cast<elf_POINTER*>(qelLayer(dict)->data)
                                                                   : nullptr;
  // A dictionary of no bytes is a section without symbols (all its pages blank, as the JBIG2
  // coder writes them): it stays an empty globals stream, so that such a file is written again.
  bool appended = data != nullptr;
  for (const elf_POINTER* p = data; appended && p;
       p = elfIsType(p->next, "POINTER") ? reinterpret_cast<const elf_POINTER*>(p->next) : nullptr) {
    if (p->length > 0) appended = p->data && PDFAppendPrecompressedStream(doc, stream, p->data, p->length) == 1;
  }
  if (!appended) {
    elfMessage(state, "PDFAppendStream failed for JBIG2 symbol dict\n");
    return report(state, QEL_STATUS_INVALID, "PDF internal State: PDFAppendStream failed for JBIG2 symbol dict\n");
  }
  PDFMakeObjectIndirect(doc, stream);
  s->jbig2Globals = PDFGetObjectNumber(doc, stream, nullptr);
  _elfFree(s->jbig2DictUid);
  s->jbig2DictUid = uid ? elfStrDup(uid) : nullptr;
  *globals = s->jbig2Globals;
  return 0;
}

// How deep the graphics states that PDF operator text saves (q) and restores (Q) are left at
// its end, counted from depth; strings and comments are skipped, a Q below the start is none.
int32_t saved_states(const char* text, size_t length, int32_t depth) {
  auto delimiter = [](char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0' || c == '(' || c == ')' ||
           c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' || c == '%';
  };
  for (size_t i = 0; i < length;) {
    const char c = text[i];
    if (c == '(') {
      int nesting = 0;
      for (; i < length; ++i) {
        if (text[i] == '\\') {
          ++i;
        } else if (text[i] == '(') {
          ++nesting;
        } else if (text[i] == ')' && --nesting == 0) {
          break;
        }
      }
      ++i;
    } else if (c == '<' && i + 1 < length && text[i + 1] != '<') {
      while (i < length && text[i] != '>') ++i;
      ++i;
    } else if (c == '%') {
      while (i < length && text[i] != '\n' && text[i] != '\r') ++i;
    } else if (delimiter(c)) {
      ++i;
    } else {
      size_t end = i;
      while (end < length && !delimiter(text[end])) ++end;
      if (end - i == 1 && c == 'q') ++depth;
      if (end - i == 1 && c == 'Q' && depth > 0) --depth;
      i = end;
    }
  }
  return depth;
}

// Text layers go to the text writer, which says why when it cannot write one (malformed XML, a
// matrix it cannot have): the page then fails rather than losing its text unsaid. Operator text
// read from a PDF brings the states saved around it, not always their restoring: it is written
// in a state of its own, and what it leaves saved is restored after it, so that the layers that
// follow are drawn where they belong.
int text_layer(elf_object* image, elf_object* layer, PDFDoc* doc, PDFObj* page) {
  const elf_QELLAYER* l = qelLayer(layer);
  const elf_QELTEXT* t = l && l->text ? qelText(l->text) : nullptr;
  const auto* data = elfIsType(l ? l->data : nullptr, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data)
                                                                  : nullptr;
  const bool operators = t && t->kind == QEL_TEXT_PDF && data && data->data;
  if (operators && PDFPageAddContentString(doc, page, "q") != 1) return 0;
  if (addxilText(image, layer, doc, page, 1) != 1) return 0;
  if (!operators) return 1;
  const char* text = static_cast<const char*>(data->data);
  for (int32_t left = saved_states(text, strnlen(text, data->length), 1); left > 0; --left) {
    if (PDFPageAddContentString(doc, page, "Q") != 1) return 0;
  }
  return 1;
}

int image_layer(elf_object* layer, PdfPageInfo* info, int32_t index, PdfPageSettings* settings) {
  const elf_QELLAYER* l = qelLayer(layer);
  if (!l || !info) {
    elfMessage(layer ? layer->state : nullptr, "NULL layer found in __qelLayer2kvpdfImg\n");
    return 0;
  }
  PdfLayerParams params{settings->jpegQuality, settings->jbig2Type, settings->jbig2Lossless, settings->binaryComp,
                        settings->contoneComp, 0, nullptr};
  int32_t count = 0;
  bool restart = false;
  for (const elf_POINTER* p = elfIsType(l->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
       p; p = elfIsType(p->next, "POINTER") ? reinterpret_cast<const elf_POINTER*>(p->next) : nullptr) {
    ++count;
    int32_t lines = 0;
    if (p->description && std::sscanf(p->description, "restart;%d", &lines) == 1 && lines != 0) restart = true;
  }
  int status = 0;
  if (count > 1 && restart) {
    status = pdfw::addxilNImages(layer, info, &params, index);
  } else if (l->kind == QEL_KIND_JBIG2_DICT) {
    status = 0;
  } else if (l->kind == QEL_KIND_COLOR_MASK) {
    status = pdfw::addxilColorMask(layer, info, &params, index);
  } else {
    status = pdfw::addxilOneImage(layer, info, &params, index);
  }
  if (status != 0) return 0;
  settings->jbig2Count += params.jbig2Images;
  return 1;
}

int contone_mask(elf_object* mask, int32_t maskIndex, elf_object* contone, int32_t contoneIndex, PdfPageInfo* info,
                 PdfPageSettings* settings) {
  const elf_QELLAYER* m = qelLayer(mask);
  const elf_QELLAYER* c = qelLayer(contone);
  if (!m || !c) {
    elfMessage(mask ? mask->state : nullptr, "NULL layer found in __qelLayer2kvpdfCTMask\n");
    return 0;
  }
  if (m->kind != QEL_KIND_MASK || c->kind != QEL_KIND_IMAGE) {
    elfMessage(mask->state, "fgdLayer not Contone or mskLayer not ContoneMask\n");
    return 0;
  }
  PdfLayerParams params{settings->jpegQuality, settings->jbig2Type, settings->jbig2Lossless, settings->binaryComp,
                        settings->contoneComp, 0, nullptr};
  if (pdfw::addxilCToneMask(mask, info, &params, maskIndex) != 0) return 0;
  if (pdfw::addxilOneImage(contone, info, &params, contoneIndex) != 0) return 0;
  settings->jbig2Count += params.jbig2Images;
  return 1;
}

// The layers in order, each to its writer.
int walk_layers(elf_object* copy, PDFDoc* doc, PdfPageInfo* info, PdfPageSettings* settings) {
  elf_state* state = copy->state;
  const int32_t n = qelImage(copy)->layerCount;
  for (int32_t i = 0; i < n; ++i) {
    elf_object* layer = QELGetLayer(copy, i);
    if (!layer) break;
    const int32_t kind = qelLayer(layer)->kind;
    int ok = 1;
    // A carried image brings its own mask: the mask layer read before it is not written.
    const bool masked = kind == QEL_KIND_MASK && i + 1 < n;
    bool written = false;
    const int carried =
        pdfw::addxilCarried(masked ? QELGetLayer(copy, i + 1) : layer, info, masked ? i + 1 : i, &written);
    if (carried != 0) return carried;
    if (written) {
      if (masked) ++i;
      continue;
    }
    switch (kind) {
      case QEL_KIND_IMAGE:
      case QEL_KIND_COLOR_MASK:
      case QEL_KIND_BILEVEL:
        ok = image_layer(layer, info, i, settings);
        break;
      case QEL_KIND_MASK:
        ok = contone_mask(layer, i, QELGetLayer(copy, i + 1), i + 1, info, settings);
        ++i;
        break;
      case QEL_KIND_RECTANGLE:
        ok = pdfw::addxilRectangle(layer, info) == 0;
        break;
      case QEL_KIND_JBIG2_DICT:
      case QEL_KIND_THUMBNAIL:
        break;
      case QEL_KIND_TEXT:
        ok = text_layer(copy, layer, doc, info->page);
        break;
      default:
        elfMessage(state, "invalid layerType: %d\n", kind);
        ok = 0;
        break;
    }
    if (ok != 1) return pdfw::report_with_cause(state, QEL_STATUS_FAILED, kLayerIO);
  }
  return 0;
}

// The DOUBLEs of a LIST into v (up to capacity); how many there were, 0 when any is not one.
int doubles(elf_object* list, double* v, int capacity) {
  const int32_t n = elflistLength(list);
  if (n > capacity) return 0;
  for (int32_t i = 0; i < n; ++i) {
    elf_object* item = elfIdentValue(elflistItem(list, i));
    if (!elfIsType(item, "DOUBLE")) return 0;
    v[i] = reinterpret_cast<elf_DOUBLE*>(item)->value;
    if (!std::isfinite(v[i])) return 0;
  }
  return n;
}

// A page read from a PDF keeps its boxes as they stood: the MediaBox, and the CropBox when it
// had one.
int exact_boxes(PDFDoc* doc, PDFObj* page, const double* v, int n, elf_state* state) {
  if (PDFPageAddMediaBox(doc, page, std::fmin(v[0], v[2]), std::fmin(v[1], v[3]), std::fmax(v[0], v[2]),
                         std::fmax(v[1], v[3])) != 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s\n", PDFErrorText(doc));
  }
  if (n < 8) return 0;
  PDFObj* crop = PDFCreateArray(doc);
  bool ok = crop != nullptr;
  for (int i = 4; ok && i < 8; ++i) ok = PDFAddArrayObject(doc, crop, PDFCreateReal(doc, v[i])) == 1;
  if (!ok || PDFAddDictEntry(doc, page, "CropBox", crop) != 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s\n", PDFErrorText(doc));
  }
  return 0;
}

// Integer attribute of the image, else the writer's value.
int32_t image_int(elf_object* attributes, const char* spec, int32_t fallback) {
  int32_t value = fallback;
  lstScanArgs(attributes, spec, LST_OPTIONAL, &value, LST_END);
  return value;
}

// Everything after the page was added; any failure takes the page out again.
int fill_page(PdfDocState* s, elf_object* copy, PDFObj* page) {
  elf_state* state = copy->state;
  PDFDoc* doc = s->doc;
  elf_QELIMAGE* im = qelImage(copy);
  // An image that does not give its own size and resolution takes its first raster layer's.
  for (int32_t i = 0; i < im->layerCount && (im->width < 1 || im->height < 1 || im->xres == 0 || im->yres == 0); ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(copy, i));
    const elf_QELHDR* h = l ? qelHdr(l->description) : nullptr;
    if (!h) continue;
    if (im->width < 1 || im->height < 1) {
      im->width = h->width;
      im->height = h->height;
    }
    if (im->xres == 0 || im->yres == 0) {
      im->xres = l->xres;
      im->yres = l->yres;
    }
  }
  const double xres = resolution(im->xres), yres = resolution(im->yres);
  const double imageWPt = im->width * 72.0 / xres, imageHPt = im->height * 72.0 / yres;
  const int32_t imageW = static_cast<int32_t>(imageWPt + 0.5), imageH = static_cast<int32_t>(imageHPt + 0.5);

  PdfPageSettings settings{};
  int32_t targetW = s->mediaW ? s->mediaW : imageW;
  int32_t targetH = s->mediaW ? s->mediaH : imageH;
  int32_t center = s->center;
  elf_object* attributes = im->attributes;
  if (attributes) {
    elf_object* box = nullptr;
    int32_t rotate = 0;
    if (lstScanArgs(attributes, "_PDFcenter:b", LST_OPTIONAL, &center, "_PDFmediabox:LIST *", LST_OPTIONAL, &box,
                    "_PDFrotate:i", LST_OPTIONAL, &rotate, LST_END) != 1) {
      return report(state, QEL_STATUS_INVALID, "Scan error: PDF center, mediabox and rotate attributes\n");
    }
    int32_t values[4] = {s->mediaX, s->mediaY, s->mediaW, s->mediaH};
    if (box) {
      if (const int status = pdfw::get_media_box(state, box, values); status != 0) return status;
    }
    targetW = values[2] ? values[2] : imageW;
    targetH = values[2] ? values[3] : imageH;
    while (rotate > 360) rotate -= 360;
    while (rotate < 0) rotate += 360;
    settings.rotation = rotate;
  } else if (!s->mediaW) {
    targetW = imageW;
    targetH = imageH;
  }
  if (targetW < 1 || targetH < 1) return report(state, QEL_STATUS_INVALID, "PDF media box invalid w value\n");
  double scale = 1.0, dx = 0.0, dy = 0.0;
  if (targetW != imageW || targetH != imageH) {
    scale = std::fmin(targetW / imageWPt, targetH / imageHPt);
    dx = center ? (targetW - imageWPt * scale) / 2 : 0.0;
    dy = center ? (targetH - imageHPt * scale) / 2 : targetH - imageHPt * scale;
  }
  // A page read from a PDF is written in the space it was read in: its layers were placed from
  // the read box's corner, which goes back where it stood, and its boxes are kept exactly.
  double boxes[8], read[4];
  int boxCount = 0;
  elf_object* boxList = nullptr;
  elf_object* readBox = nullptr;
  if (attributes && lstScanArgs(attributes, PDF_ATTR_PAGE_BOXES ":LIST *", LST_OPTIONAL, &boxList,
                                PDF_ATTR_MEDIABOX ":LIST *", LST_OPTIONAL, &readBox, LST_END) == 1 &&
      boxList && readBox && doubles(readBox, read, 4) == 4 && read[3] > read[1]) {
    boxCount = doubles(boxList, boxes, 8);
  }
  const bool exact = boxCount == 4 || boxCount == 8;
  if (exact) {
    scale = 1.0;
    dx = read[0];
    dy = read[1];
  }
  place_layers(copy, exact ? read[3] - read[1] : imageHPt, scale, dx, dy);
  settings.width = targetW;
  settings.height = targetH;

  settings.deflateText = s->deflateText;
  if (attributes && lstScanArgs(attributes, "_PDFdeflateText:b", LST_OPTIONAL, &settings.deflateText, LST_END) != 1) {
    return report(state, QEL_STATUS_INVALID, "List scan error while scan for PDF deflate text\n");
  }
  settings.contoneComp = image_int(attributes, "_DIOcontonecomp:i ", s->contoneComp == -1 ? 1 : s->contoneComp);
  settings.binaryComp = image_int(attributes, "_DIObinarycomp:i ", s->binaryComp == -1 ? 3 : s->binaryComp);
  settings.jpegQuality = image_int(attributes, "_DIOjpegqual:i ", s->jpegQuality == 0 ? 85 : s->jpegQuality);
  settings.jbig2Type = image_int(attributes, "_DIOjb2type:i ", s->jbig2Type);
  settings.jbig2Lossless = image_int(attributes, "_DIOjb2lossless:i ", s->jbig2Lossless) != 0;

  // A page the image fills gets the image's exact size: whole points would cut up to half a
  // point of its rows or columns off, or leave a blank strip.
  const bool fitted = scale != 1.0 || dx != 0.0 || dy != 0.0;
  if (exact) {
    if (const int status = exact_boxes(doc, page, boxes, boxCount, state); status != 0) return status;
  } else if (PDFPageAddMediaBox(doc, page, 0, 0, fitted ? settings.width : imageWPt,
                                fitted ? settings.height : imageHPt) != 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s\n", PDFErrorText(doc));
  }
  if (settings.rotation != 0) {
    if (settings.rotation % 90 != 0) {
      elfMessage(state, "PDF rotation is restricted to 90 degree multiples, ignoring invalid PDF rotation: %d\n",
                 settings.rotation);
      return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                       "PDF rotation is restricted to 90 degree multiples, ignoring invalid PDF rotation %d\n",
                       settings.rotation);
    }
    if (PDFAddDictEntry(doc, page, "Rotate", PDFCreateInteger(doc, settings.rotation % 360)) != 1) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s\n", PDFErrorText(doc));
    }
  }
  if (settings.deflateText) {
    PDFObj* contents = PDFGetDictEntry(doc, page, "Contents");
    if (!contents) {
      contents = PDFCreateStream(doc);
      if (contents && (PDFMakeObjectIndirect(doc, contents) != 1 || PDFAddDictEntry(doc, page, "Contents", contents) != 1)) {
        contents = nullptr;
      }
    }
    if (!contents || PDFSetStreamFilter(doc, contents, PDF_FILTER_FLATE, nullptr) != 1) {
      return report(state, QEL_STATUS_INVALID, "Error setting compression filter on page content stream\n");
    }
  }
  int32_t globals = -1;
  if (const int status = globals_step(s, copy, &globals); status != 0) return status;
  PdfPageInfo info{doc, page, globals, xres, yres, im->width, im->height, 0, 0, settings.width, settings.height};
  if (const int status = walk_layers(copy, doc, &info, &settings); status != 0) return status;

  // Pages with raw JBIG2 images wait for their section to end; the others are done now.
  if (settings.jbig2Count > 0) ++s->jbig2SectionPages;
  if (s->jbig2SectionPages == 0) {
    if (s->linearize || s->encrypt) PDFSetVersion(doc, 14);
    if (PDFPageClose(doc, page) != 1) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFPageClose: %s\n", PDFErrorText(doc));
    }
  }
  if (s->jbig2SectionPages >= s->jbig2SectionLength) {
    if (PDFJbig2EndSection(doc) != 1) {
      s->jbig2SectionPages = 0;
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDF JBIG2 section: %s\n", PDFErrorText(doc));
    }
    s->jbig2SectionPages = 0;
  }
  int32_t bookmark = 0;
  lstScanArgs(attributes, "_PDFdoBookmark:b", LST_OPTIONAL, &bookmark, LST_END);
  if (bookmark && PDFAddBookmark(doc, PDFFindIndirectObject(doc, page, 0)) != 1) {
    return report(state, QEL_STATUS_INVALID, "Bookmark Error - PDF bookmark creation failed\n");
  }
  return 0;
}

}  // namespace

extern "C" {

int PDFAppendPage(void* backend, elf_object* image, int32_t* count) {
  elf_state* state = image ? image->state : nullptr;
  PdfDocState* s = pdfw::checked(backend);
  if (!s || !s->writing || !s->doc) {
    if (count) *count = -1;
    return report(state, QEL_STATUS_INVALID, kCorrupt);
  }
  if (count) *count = s->pageCount;
  if (!qelImage(image)) return report(state, QEL_STATUS_INVALID, "Object Error: Cannot copy QELIMAGE object\n");
  // A page read from a PDF that draws what its layers do not hold would be written changed.
  const char* lost = nullptr;
  if (elf_object* attributes = qelImage(image)->attributes;
      attributes && lstScanArgs(attributes, PDF_ATTR_NOT_CARRIED ":s", LST_OPTIONAL, &lost, LST_END) == 1 && lost) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "PDFAppendPage: the page read from a PDF draws %s, which its layers do not carry\n", lost);
  }
  if (const int status = QELUpdateQELIMAGE(image); status != 0) return status;
  elf_object* copy = page_copy(image);
  if (!copy) return report(state, QEL_STATUS_INVALID, "Object Error: Cannot copy QELIMAGE object\n");
  PDFDoc* doc = s->doc;
  PDFObj* page = PDFAddPage(doc);
  int status = page ? fill_page(s, copy, page)
                    : setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFAddPage: %s\n", PDFErrorText(doc));
  // A page that failed part-way is taken out again, so the document holds what the count says.
  if (status != 0 && page) PDFDeletePage(doc, page);
  if (status == 0) {
    kvng_internal_free(s->pageList);
    int32_t pages = 0;
    s->pageList = PDFGetPageList(doc, &pages);
    if (!s->pageList) {
      PDFDeletePage(doc, page);
      status = setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Error getting page list from %s\n", s->filename);
    } else {
      s->pageCount = pages;
    }
  }
  if (count) *count = s->pageCount;
  elfRefDown(copy);
  return status;
}

int PDFEndJbig2(void* backend, elf_state* context) {
  PdfDocState* s = pdfw::checked(backend);
  if (!s) return report(context, QEL_STATUS_INVALID, kCorrupt);
  if (s->doc && PDFJbig2End(s->doc) != 1) elfMessage(context, "Error: PDFEndJbig2: %s\n", PDFErrorText(s->doc));
  s->jbig2SectionPages = 0;
  return 0;
}

}  // extern "C"

namespace pdfw {

int report_with_cause(elf_state* state, int code, const char* text) {
  std::string cause = state && getStatus(state) != QEL_STATUS_OK && getStatusMessage(state) ? getStatusMessage(state) : "";
  cause.erase(cause.find_last_not_of('\n') + 1);
  std::string line = text;
  line.erase(line.find_last_not_of('\n') + 1);
  if (!cause.empty()) line += ": " + cause;
  return setStatus(state, code, QEL_SEVERITY_ERROR, "%s\n", line.c_str());
}

}  // namespace pdfw
