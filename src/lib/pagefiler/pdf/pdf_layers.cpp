// Image and object layers to PDF: one raster image (with a soft mask when one was left for it),
// a contone mask, a layer cut into strips by restart markers, a one-bit mask painted in a colour
// and a filled rectangle. The layers' bytes go into the streams as they are: coded data as
// precompressed, raw samples through the filters set here (JBIG2 through the library's
// tokenizer).

#include <cstdio>
#include <cstring>
#include <string>

#include "kvng_hdr.h"
#include "pdf_read.h"
#include "pdf_write.h"

namespace {

constexpr int32_t kJbig2 = 7;
constexpr int32_t kPredictor = 15;

int report(elf_object* layer, int code, const char* format, const char* who) {
  return setStatus(layer ? layer->state : nullptr, code, QEL_SEVERITY_ERROR, format, who);
}

// The layer's data strips in order (a chain of POINTERs).
const elf_POINTER* strips(const elf_QELLAYER* l) {
  return elfIsType(l->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
}
const elf_POINTER* next_strip(const elf_POINTER* p) {
  return elfIsType(p->next, "POINTER") ? reinterpret_cast<const elf_POINTER*>(p->next) : nullptr;
}

// What every raster writer prepares: bits per component, the compression to write with and the
// filter record.
struct Setup {
  elf_QELHDR* h = nullptr;
  int32_t bits = 0;
  PdfCompression comp{};
  PdfFilterParams filter{};

  Setup() = default;
  Setup(const Setup&) = delete;
  Setup& operator=(const Setup&) = delete;
  ~Setup() { KVngFreeCompressionData(comp.data); }
};

int setup_layer(elf_object* layer, const PdfPageInfo* info, const PdfLayerParams* params, const char* who, Setup* s) {
  const elf_QELLAYER* l = qelLayer(layer);
  s->h = l ? qelHdr(l->description) : nullptr;
  if (!s->h) return report(layer, QEL_STATUS_FAILED, "%s: Invalid header for layer.\n", who);
  const elf_QELHDR* h = s->h;
  if (h->bitsPerSample && h->bitsPerSampleCount > 0 && h->bitsPerSample[0] != 0) {
    s->bits = h->bitsPerSample[0];
  } else if (h->compression == QEL_COMPRESSION_JPEG || h->compression == QEL_COMPRESSION_JPEG_DEFLATE) {
    s->bits = 8;
  } else {
    return report(layer, QEL_STATUS_FAILED, "%s: Invalid bits per pixel.\n", "pdiouSetupLayerWrite");
  }
  if (h->width < 1 || h->height < 1) return report(layer, QEL_STATUS_FAILED, "%s: Invalid header for layer.\n", who);
  if (__pdiouGetCompression(l->description, params->contoneComp, params->binaryComp, &s->comp) != 0 ||
      (!s->comp.data && s->comp.code < 0)) {
    return report(layer, QEL_STATUS_FAILED, "%s: Unable to make compression.\n", "pdiouSetupLayerWrite");
  }
  PdfFilterParams& f = s->filter;
  f.compression = h->compression;
  f.photometric = h->photometric;
  f.columns = h->width;
  f.jpegQuality = params->jpegQuality;
  f.jbig2Globals = info->jbig2Globals;
  f.jbig2Coding = params->jbig2Type;
  f.jbig2Lossless = params->jbig2Lossless;
  f.bitsPerComponent = s->bits;
  f.colors = h->samplesPerPixel;
  return 0;
}

// Sets the stream's filters, last first; *append stays 1 while the bytes still have to go in.
int apply_stream_filters(PDFDoc* doc, PDFObj* stream, elf_object* data, Setup* s, int* append, elf_state* state) {
  *append = 1;
  const int32_t count = s->comp.data ? KVngCompressionDataCount(s->comp.data) : 1;
  int status = 0;
  bool predictor = false;
  for (int32_t i = count - 1; i >= 0 && status == 0; --i) {
    int32_t type = s->comp.code;
    const char* parameters = nullptr;
    if (s->comp.data) KVngGetCompressionData(s->comp.data, &type, &parameters, i);
    if (type == kJbig2) {
      status = __pdiouSetJBIG2image(doc, stream, data, s->filter.jbig2Globals, s->filter.compression,
                                    s->filter.jbig2Coding, s->filter.jbig2Lossless, s->filter.photometric);
      if (status == 0 && s->filter.compression == 0) {
        *append = 0;
        ++s->filter.jbig2Count;
      }
    } else if (type == kPredictor) {
      if (parameters && std::strcmp(parameters, "diff") == 0) {
        s->filter.predictor = 2;
      } else {
        predictor = true;
        status = QEL_STATUS_FAILED;
      }
    } else {
      status = __pkvuSetStreamFilter(state, doc, type, &s->filter, stream);
    }
  }
  if (status != 0) {
    KVngFreeCompressionData(s->comp.data);
    s->comp.data = nullptr;
    const char* text = predictor ? "Unrecognized predictor encoding.\n" : "Failed attempt to set stream filter.\n";
    elfMessage(state, "%s", text);
    // The PDF library's reason, when it gave one, is the cause a reader of the message wants.
    const char* why = predictor ? "" : PDFErrorText(doc);
    if (why && *why) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "applyStreamFilters: Failed attempt to set stream filter: %s\n",
                       why);
    }
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, predictor ? "%s" : "applyStreamFilters: %s", text);
  }
  return 0;
}

// Appends bytes of one strip (or of every strip from first on when whole is set).
bool append_data(PDFDoc* doc, PDFObj* stream, const elf_POINTER* first, bool whole, int32_t compression) {
  for (const elf_POINTER* p = first; p; p = whole ? next_strip(p) : nullptr) {
    if (!p->data || p->length == 0) continue;
    const int ok = compression != 0 ? PDFAppendPrecompressedStream(doc, stream, p->data, p->length)
                                    : PDFAppendStream(doc, stream, p->data, p->length);
    if (ok != 1) return false;
  }
  if (compression == QEL_COMPRESSION_JPEG || compression == QEL_COMPRESSION_JPEG_DEFLATE) {
    __pkvuRmJpegCompressionParams(stream, doc);
  }
  return true;
}

// Filters, then the data of the layer (all strips) unless the tokenizer took it.
int filters_and_data(PDFDoc* doc, PDFObj* stream, elf_object* layer, Setup* s, PdfLayerParams* params,
                     const char* who) {
  const elf_QELLAYER* l = qelLayer(layer);
  int append = 1;
  int status = apply_stream_filters(doc, stream, l->data, s, &append, layer->state);
  if (status == 0 && append && !append_data(doc, stream, strips(l), true, s->h->compression)) {
    status = report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFAppend.\n", who);
  }
  params->jbig2Images += s->filter.jbig2Count;
  s->filter.jbig2Count = 0;
  return status;
}

std::string image_name(const elf_QELLAYER* l, const char* pattern, int32_t index, int32_t strip = -1) {
  char text[300];
  const char* stem = l->name && *l->name ? l->name : "Im";
  if (strip < 0) {
    std::snprintf(text, sizeof text, pattern, stem, index);
  } else {
    std::snprintf(text, sizeof text, pattern, stem, index, strip);
  }
  // A resource name keeps to the characters every reader takes unescaped.
  std::string name = text;
  for (char& c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!plain) c = '_';
  }
  return name;
}

int paint(PDFDoc* doc, PDFObj* page, PDFObj* image, elf_object* layer, const char* who, int code) {
  double m[6];
  if (const int status = __pdiouSetTransform(layer, m); status != 0) return status;
  if (PDFPageAddContents(doc, page, image, "cm", m[0], m[1], m[2], m[3], m[4], m[5], nullptr) != 1) {
    return report(layer, code, "%s: failed PDFPageAddContents.\n", who);
  }
  return 0;
}

// A raw layer laid out as PDF wants it: palette colours unmapped, planar samples interleaved.
// Null with the layer itself when nothing needs doing; otherwise the substitute, held.
int substitute_layer(elf_object* layer, elf_object** out, const char* who) {
  *out = nullptr;
  const elf_QELLAYER* l = qelLayer(layer);
  const elf_QELHDR* h = qelHdr(l->description);
  if (!h || h->compression != 0) return 0;
  const bool palette = h->photometric == 11;
  const bool planar = h->samplesPerPixel > 1 && h->interleave != 1;
  if (!palette && !planar) return 0;
  elf_state* state = layer->state;
  elf_object* image = QELLayer2QELIMAGE(layer, 0, nullptr);
  if (!image) return report(layer, QEL_STATUS_FAILED, "%s: Failed to make layer pixel interleave.\n", who);
  elfRefUp(image);
  elf_object* args = palette ? lstBuildArgs(state, "pixel:b", 1, 0, LST_END) : nullptr;
  elf_object* result = nullptr;
  int status = call_elf_object_method(state, image, palette ? "unmap" : "interleave", args, &result);
  elfDiscard(args);
  elf_object* made = nullptr;
  if (status == 0) lstScanArgs(result, "img:QELIMAGE", LST_OPTIONAL, &made, LST_END);
  if (status == 0 && made) status = call_elf_object_method(state, made, "exec", nullptr, nullptr);
  elf_object* sub = status == 0 && made ? QELGetLayer(made, 0) : nullptr;
  elfRefUp(sub);
  elfDiscard(result);
  elfRefDown(image);
  if (!sub) {
    return status != 0 ? getStatus(state)
                       : report(layer, QEL_STATUS_FAILED, "%s: Failed to make layer pixel interleave.\n", who);
  }
  *out = sub;
  return 0;
}

// The colour a colour mask or rectangle layer is painted in: components 0..255 and their PDF
// colour-space code; false without one.
bool layer_color(const elf_QELLAYER* l, int32_t values[4], int32_t* count, int32_t* space) {
  elf_object* list = nullptr;
  int32_t photometric = 0;
  if (!lstScanArgs(l->attributes, PDF_LAYER_COLOR ":LIST *", LST_OPTIONAL, &list,
                   PDF_LAYER_COLOR_PHOTOMETRIC ":i", LST_OPTIONAL, &photometric, LST_END) ||
      !list) {
    return false;
  }
  const int32_t n = elflistLength(list);
  if (n < 1 || n > 4) return false;
  for (int32_t i = 0; i < n; ++i) {
    elf_object* item = elfIdentValue(elflistItem(list, i));
    if (!elfIsType(item, "INTEGER")) return false;
    const int32_t v = reinterpret_cast<elf_INTEGER*>(item)->value;
    values[i] = v < 0 ? 0 : v > 255 ? 255 : v;
  }
  *count = n;
  int32_t use = photometric;
  __pkvuQELPhotoToPdfAndKv(photometric, space, &use);
  return true;
}

// The fill operator a layer read from a PDF keeps (PDF_LAYER_FILL), or null.
const char* exact_fill(const elf_QELLAYER* l) {
  const char* fill = nullptr;
  if (!l->attributes || lstScanArgs(l->attributes, PDF_LAYER_FILL ":s", LST_OPTIONAL, &fill, LST_END) != 1) {
    return nullptr;
  }
  return fill && *fill ? fill : nullptr;
}

// Colour operators for a colour mask or a rectangle; with image the operators paint it.
int color_content(PDFDoc* doc, PDFObj* page, PDFObj* image, const int32_t c[4], int32_t count, int32_t space,
                  const double m[6], const int32_t rect[4], const char* who, elf_object* layer) {
  constexpr char kContent[] = "makeColorMaskContent: Failed content stream creation.\n";
  const char* failure = image ? kContent : "__makeColorRectContent: Failed content stream creation.\n";
  int ok = 0;
  char text[96];
  if ((space == 3 || space == 4) &&
      __pkvuRegisterColorSpace(doc, page, space == 3 ? "csGray" : "csRGB", nullptr, space == 3 ? 22 : 111) != 1) {
    return report(layer, QEL_STATUS_FAILED, "%s", "makeColorMaskContent: Failed call to pkvuRegisterColorSpace.\n");
  }
  if (space == 3) std::snprintf(text, sizeof text, "      /csGray cs %1.4f sc\n", c[0] / 255.0);
  if (space == 4) {
    std::snprintf(text, sizeof text, "      /csRGB cs %1.4f %1.4f %1.4f sc\n", c[0] / 255.0, c[1] / 255.0,
                  c[2] / 255.0);
  }
  const bool needs = (space == 0 && count >= 1) || ((space == 1 || space == 4) && count >= 3) ||
                     (space == 2 && count >= 4) || space == 3;
  if (!needs) {
    if (!image && space > 4) return 0;
    return report(layer, QEL_STATUS_FAILED, "%s", failure);
  }
  if (image) {
    switch (space) {
      case 0:
        ok = PDFPageAddContents(doc, page, image, "g", c[0], "cm", m[0], m[1], m[2], m[3], m[4], m[5], nullptr);
        break;
      case 1:
        ok = PDFPageAddContents(doc, page, image, "rg", c[0], c[1], c[2], "cm", m[0], m[1], m[2], m[3], m[4], m[5],
                                nullptr);
        break;
      case 3:
      case 4:
        ok = PDFPageAddContents(doc, page, image, "CUS", text, "cm", m[0], m[1], m[2], m[3], m[4], m[5], nullptr);
        break;
      default:
        ok = 0;
    }
  } else {
    switch (space) {
      case 0:
        ok = PDFPageAddContents(doc, page, nullptr, "g", c[0], "re", rect[0], rect[1], rect[2], rect[3], "f", nullptr);
        break;
      case 1:
        ok = PDFPageAddContents(doc, page, nullptr, "rg", c[0], c[1], c[2], "re", rect[0], rect[1], rect[2], rect[3],
                                "f", nullptr);
        break;
      case 2:
        ok = PDFPageAddContents(doc, page, nullptr, "k", c[0], c[1], c[2], c[3], "re", rect[0], rect[1], rect[2],
                                rect[3], "f", nullptr);
        break;
      default:
        ok = PDFPageAddContents(doc, page, nullptr, "CUS", text, "re", rect[0], rect[1], rect[2], rect[3], "f",
                                nullptr);
    }
  }
  (void)who;
  return ok == 1 ? 0 : report(layer, QEL_STATUS_FAILED, "%s", failure);
}

}  // namespace

namespace pdfw {

int addxilOneImage(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index) {
  static const char kWho[] = "addxilOneImage";
  const elf_QELLAYER* given = qelLayer(layer);
  if (!given || (given->kind != QEL_KIND_IMAGE && given->kind != QEL_KIND_BILEVEL)) {
    return report(layer, QEL_STATUS_FAILED, "%s: Invalid layer type.\n", kWho);
  }
  elf_object* sub = nullptr;
  if (const int status = substitute_layer(layer, &sub, kWho); status != 0) return status;
  elf_object* use = sub ? sub : layer;
  const elf_QELLAYER* l = qelLayer(use);
  PDFDoc* doc = info->doc;
  Setup s;
  int status = setup_layer(use, info, params, kWho, &s);
  PDFObj* image = nullptr;
  if (status == 0) {
    image = PDFImageCreate(doc, info->page, image_name(given, "%s%d", index).c_str(), s.h->width, s.h->height, s.bits);
    if (!image) status = report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFImageCreate.\n", kWho);
  }
  if (status == 0) {
    int32_t parts = s.h->samplesPerPixel;
    if (__pdiouInitPDFColorspace(doc, image, info->page, s.h->photometric, &parts,
                                 KVngHdrUserData(l->description, 0)) < 0) {
      status = report(layer, QEL_STATUS_FAILED, "%s: Failed attempt to init colorspace in PDF.\n", kWho);
    }
  }
  if (status == 0 && filters_and_data(doc, image, use, &s, params, kWho) != 0) {
    status = pdfw::report_with_cause(layer->state, QEL_STATUS_FAILED,
                                     (std::string(kWho) + ": Failed call to __applyStreamData.\n").c_str());
  }
  if (status == 0 && params->mask && PDFImageSetMask(doc, image, params->mask) != 1) {
    status = report(layer, QEL_STATUS_INVALID, "%s: failed to set selector mask for image.\n", kWho);
  }
  if (status == 0) status = paint(doc, info->page, image, layer, kWho, QEL_STATUS_INVALID);
  elfRefDown(sub);
  return status;
}

int addxilCToneMask(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index) {
  static const char kWho[] = "addxilCToneMask";
  const elf_QELLAYER* l = qelLayer(layer);
  if (!l || l->kind != QEL_KIND_MASK) return report(layer, QEL_STATUS_FAILED, "%s: Invalid layer type.\n", kWho);
  PDFDoc* doc = info->doc;
  Setup s;
  if (const int status = setup_layer(layer, info, params, kWho, &s); status != 0) return status;
  PDFObj* mask = PDFImageCreate(doc, info->page, image_name(l, "%s_SEL%d", index).c_str(), s.h->width, s.h->height,
                                s.bits);
  if (!mask) return report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFImageCreate.\n", kWho);
  params->mask = mask;
  int32_t space = -1, use = s.h->photometric;
  __pkvuQELPhotoToPdfAndKv(s.h->photometric, &space, &use);
  if (space < 0) return report(layer, QEL_STATUS_FAILED, "%s: Failed attempt to find PDF colorspace.\n", kWho);
  s.filter.colorKind = space;
  return filters_and_data(doc, mask, layer, &s, params, kWho);
}

int addxilNImages(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index) {
  static const char kWho[] = "addxilNImages";
  const elf_QELLAYER* l = qelLayer(layer);
  if (!l || l->kind != QEL_KIND_IMAGE) return report(layer, QEL_STATUS_FAILED, "%s: Invalid layer type.\n", kWho);
  PDFDoc* doc = info->doc;
  Setup s;
  if (const int status = setup_layer(layer, info, params, kWho, &s); status != 0) return status;
  const double width = s.h->width * 72.0 / info->xres;
  const double x0 = l->x * 72.0 / info->xres;
  int32_t placed = 0;
  int32_t k = 0;
  for (const elf_POINTER* p = strips(l); p; p = next_strip(p), ++k) {
    int32_t lines = 0;
    if (!next_strip(p)) {
      lines = s.h->height - placed;
    } else if (!p->description || std::sscanf(p->description, "restart;%d", &lines) != 1) {
      elfMessage(layer->state, "Not able to get restart marker line count.\n");
      return report(layer, QEL_STATUS_INVALID, "%s: Not able to get restart marker line count.\n", kWho);
    }
    // Strips that claim more lines than the layer has would place rows outside it.
    if (lines < 1 || lines > s.h->height - placed) {
      return report(layer, QEL_STATUS_INVALID, "%s: Restart marker line counts exceed the layer height.\n", kWho);
    }
    PDFObj* image = PDFImageCreate(doc, info->page, image_name(l, "%s%d_%d", index, k).c_str(), s.h->width, lines,
                                   s.bits);
    if (!image) return report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFImageCreate.\n", kWho);
    int32_t parts = s.h->samplesPerPixel;
    if (__pdiouInitPDFColorspace(doc, image, info->page, s.h->photometric, &parts,
                                 KVngHdrUserData(l->description, 0)) < 0) {
      return report(layer, QEL_STATUS_FAILED, "%s: Failed attempt to init colorspace in PDF.\n", kWho);
    }
    int append = 1;
    if (const int status = apply_stream_filters(doc, image, l->data, &s, &append, layer->state); status != 0) {
      return status;
    }
    if (append && !append_data(doc, image, p, false, s.h->compression)) {
      elfMessage(layer->state, "Failed call to PDFAppendPrecompressedStream\n");
      return report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFAppend.\n", kWho);
    }
    params->jbig2Images += s.filter.jbig2Count;
    s.filter.jbig2Count = 0;
    placed += lines;
    const double height = lines * 72.0 / info->yres;
    const double bottom = (s.h->height - placed) * 72.0 / info->yres;
    if (PDFPageAddContents(doc, info->page, image, "cm", width, 0.0, 0.0, height, x0, bottom, nullptr) != 1) {
      elfMessage(layer->state, "failed PDFPageAddContents\n");
      return report(layer, QEL_STATUS_FAILED, "%s: failed PDFPageAddContents.\n", kWho);
    }
  }
  return 0;
}

int addxilColorMask(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index) {
  static const char kWho[] = "addxilColorMask";
  const elf_QELLAYER* l = qelLayer(layer);
  if (!l || l->kind != QEL_KIND_COLOR_MASK) return report(layer, QEL_STATUS_FAILED, "%s: Invalid layer type.\n", kWho);
  if (!qelHdr(l->description)) return report(layer, QEL_STATUS_FAILED, "%s: Invalid header for layer.\n", kWho);
  int32_t color[4] = {}, count = 0, space = -1;
  if (!layer_color(l, color, &count, &space)) {
    return report(layer, QEL_STATUS_FAILED, "%s: Invalid color info on layer.\n", kWho);
  }
  PDFDoc* doc = info->doc;
  Setup s;
  if (const int status = setup_layer(layer, info, params, kWho, &s); status != 0) return status;
  PDFObj* image = PDFImageCreate(doc, info->page, image_name(l, "%s_CM%d", index).c_str(), s.h->width, s.h->height,
                                 s.bits);
  if (!image) return report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFImageCreate.\n", kWho);
  if (space < 0) return report(layer, QEL_STATUS_FAILED, "%s: Failed attempt to set PDF colorspace.\n", kWho);
  if (PDFImageSetMask(doc, image, nullptr) != 1) {
    return report(layer, QEL_STATUS_FAILED, "%s: Failed call to PDFImageSetMask.\n", kWho);
  }
  if (filters_and_data(doc, image, layer, &s, params, kWho) != 0) {
    return pdfw::report_with_cause(layer->state, QEL_STATUS_FAILED,
                                   (std::string(kWho) + ": Failed call in __applyStreamData.\n").c_str());
  }
  double m[6];
  if (const int status = __pdiouSetTransform(layer, m); status != 0) return status;
  return color_content(doc, info->page, image, color, count, space, m, nullptr, kWho, layer);
}

int addxilCarried(elf_object* layer, PdfPageInfo* info, int32_t index, bool* written) {
  static const char kWho[] = "addxilCarried";
  *written = false;
  const elf_QELLAYER* l = qelLayer(layer);
  elf_object* carried = nullptr;
  if (!l || !l->attributes ||
      lstScanArgs(l->attributes, PDF_LAYER_CARRIED ":POINTER *", LST_OPTIONAL, &carried, LST_END) != 1 || !carried) {
    return 0;
  }
  *written = true;
  const auto* p = reinterpret_cast<const elf_POINTER*>(carried);
  PDFDoc* doc = info->doc;
  PDFObj* image = PDFImageImport(doc, info->page, image_name(l, "%s%d", index).c_str(), p->data, p->length);
  if (!image) {
    return setStatus(layer->state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: %s\n", kWho, PDFErrorText(doc));
  }
  if (l->kind != QEL_KIND_COLOR_MASK) return paint(doc, info->page, image, layer, kWho, QEL_STATUS_FAILED);
  int32_t color[4] = {}, count = 0, space = -1;
  if (!layer_color(l, color, &count, &space)) {
    return report(layer, QEL_STATUS_FAILED, "%s: Invalid color info on layer.\n", kWho);
  }
  double m[6];
  if (const int status = __pdiouSetTransform(layer, m); status != 0) return status;
  if (const char* fill = exact_fill(l)) {
    if (PDFPageAddContents(doc, info->page, image, "CUS", fill, "cm", m[0], m[1], m[2], m[3], m[4], m[5], nullptr) !=
        1) {
      return report(layer, QEL_STATUS_FAILED, "%s: failed PDFPageAddContents.\n", kWho);
    }
    return 0;
  }
  return color_content(doc, info->page, image, color, count, space, m, nullptr, kWho, layer);
}

int addxilRectangle(elf_object* layer, PdfPageInfo* info) {
  static const char kWho[] = "addxilRectangle";
  const elf_QELLAYER* l = qelLayer(layer);
  if (!l || l->kind != QEL_KIND_RECTANGLE) return report(layer, QEL_STATUS_FAILED, "%s: Invalid layer type.\n", kWho);
  // A rectangle read from a PDF is painted where and as it stood.
  if (const char* fill = exact_fill(l)) {
    char text[256];
    std::snprintf(text, sizeof text, "%s\n%.6f %.6f %.6f %.6f re\nf", fill, l->x, l->y, l->width, l->height);
    if (PDFPageAddContents(info->doc, info->page, nullptr, "CUS", text, nullptr) != 1) {
      return report(layer, QEL_STATUS_FAILED, "%s", "__makeColorRectContent: Failed content stream creation.\n");
    }
    return 0;
  }
  int32_t color[4] = {}, count = 0, space = -1;
  if (!layer_color(l, color, &count, &space)) return 0;  // nothing to paint
  // The layer's geometry is already in points, bottom up, once the page copy is made: the
  // rectangle is the placed layer itself.
  const int32_t rect[4] = {static_cast<int32_t>(l->x + 0.5), static_cast<int32_t>(l->y + 0.5),
                           static_cast<int32_t>(l->width + 0.5), static_cast<int32_t>(l->height + 0.5)};
  return color_content(info->doc, info->page, nullptr, color, count, space, nullptr, rect, kWho, layer);
}

}  // namespace pdfw
