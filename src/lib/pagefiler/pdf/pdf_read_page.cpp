// Reading a PDF page into a page image: the page box, the fonts, and the content stream run
// through the PDF library with callbacks that turn placed images into image layers (their masks
// and JBIG2 globals with them), rectangles into rectangle layers and text objects into text
// layers.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "checked_size.h"
#include "kvng_print.h"
#include "pdf_read.h"

namespace {

// A resolution within this of a whole number of dots per inch is that number: placements written
// with six decimals land a hair off 300.
constexpr double kResolutionSnap = 1e-5;
// Layers of one page: every image, mask, rectangle and text object is one, and a content stream
// that draws more is not a page but an attack on memory.
constexpr int32_t kMaxLayers = 100000;
// Image sizes the page-image model can describe: the engine keeps coordinates in 31 bits, and
// a row's bytes must fit a 32-bit word.
constexpr int64_t kMaxRowBytes = INT32_MAX;
// Uncompressed samples a layer may hold, the same ceiling as the PDF library's decoding: short
// data are padded to the declared size, so the declaration alone must not reserve more.
constexpr size_t kMaxLayerSamples = size_t{256} << 20;
// Samples all image layers of one page may decode to, forms included: room for the largest
// image and its mask or a second one as large. Each placement is a layer of its own, decoded and
// carried on by every later step, so an image placed again counts again: a few hundred bytes of
// content placing one large image forty times must not take forty times its memory.
constexpr uint64_t kMaxPageSamples = uint64_t{512} << 20;

int report(elf_state* state, const char* format, const char* a = "", int32_t n = 0) {
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, a, n);
}

// Records the first failure of a callback in the document's error record; returns 0.
int callback_failure(PDFDoc* doc, int32_t code, const char* message) {
  PDFSetError(doc, code, __FILE__, __LINE__, "%s", message);
  return 0;
}

elf_object* attribute_list(elf_state* state, elf_object** slot) {
  if (!*slot) {
    elf_object* list = new_LIST(state, nullptr, nullptr);
    if (!list) return nullptr;
    ELF_ASSIGN(state, slot, list);
  }
  return *slot;
}

elf_object* new_pointer_copy(elf_state* state, const void* bytes, size_t length) {
  void* data = elfMalloc(length ? length : 1);
  if (!data) return nullptr;
  if (length) std::memcpy(data, bytes, length);
  elf_object* p = elfNewPointer(state, data, length);
  if (!p) _elfFree(data);
  return p;
}

double snap(double dpi) {
  const double below = std::floor(dpi);
  if (dpi - below < kResolutionSnap) return below;
  const double above = std::ceil(dpi);
  if (above - dpi < kResolutionSnap) return above;
  return dpi;
}

// Appends a layer under "layer%d:QELLAYER"; the image's count follows the list.
int append_layer(elf_state* state, elf_object* image, const char* name, elf_object* layer) {
  elf_QELIMAGE* im = qelImage(image);
  if (im->layerCount >= kMaxLayers) {
    return report(state, "%s: more than %d layers on one page\n", "pdfPageDict2QELImage", kMaxLayers);
  }
  if (!attribute_list(state, &im->layers)) return report(state, "%s: Unable to add QELLAYER object num %d\n",
                                                          "pdfPageDict2QELImage", im->layerCount);
  elf_object* ident = elfNewIdent(state, name, layer);
  if (!ident || elflistInsert(im->layers, ident, -1, 0) != 0) {
    elfDiscard(ident);
    return report(state, "%s: Unable to add QELLAYER object num %d\n", "pdfPageDict2QELImage", im->layerCount);
  }
  im->layerCount = elflistLength(im->layers);
  return QEL_STATUS_OK;
}

std::string layer_name(int32_t index) { return "layer" + std::to_string(index) + ":QELLAYER"; }

// The photometric value a fill colour's components are in.
int32_t fill_photometric(const PDFColor& fill, int32_t count) {
  switch (fill.space) {
    case PDF_CS_DEVICE_GRAY:
      return 1;
    case PDF_CS_DEVICE_RGB:
      return 18;
    case PDF_CS_DEVICE_CMYK:
    case PDF_CS_CAL_CMYK:
      return 107;
    case PDF_CS_CAL_GRAY:
      return 108;
    case PDF_CS_CAL_RGB:
      return 105;
    case PDF_CS_LAB:
      return 4;
    default:
      return count == 1 ? 1 : count == 4 ? 107 : 18;
  }
}

// The fill colour as the layer's colour attributes: the components 0..255 and their photometric
// value.
int set_color(elf_state* state, elf_object* layer, const PDFGState* gs) {
  PDFParser probe{};
  probe.gstate = const_cast<PDFGState*>(gs);
  int32_t count = 0;
  uint32_t* values = __nonStrokingColorValues(&probe, &count);
  if (!values || count < 1 || count > 4) {
    kvng_internal_free(values);
    return report(state, "%s: Error getting non-stroking color info on layer\n", "__qelcolorFromPDFnsColor");
  }
  elf_object* list = new_LIST(state, nullptr, nullptr);
  bool ok = list != nullptr;
  for (int32_t i = 0; ok && i < count; ++i) {
    ok = lstAppendArgs(list, "c:i", static_cast<int32_t>(values[i]), 0, LST_END) == 1;
  }
  kvng_internal_free(values);
  elf_QELLAYER* l = qelLayer(layer);
  elf_object* attrs = ok ? attribute_list(state, &l->attributes) : nullptr;
  if (!attrs || lstAppendArgs(attrs, PDF_LAYER_COLOR ":LIST", list, 0, PDF_LAYER_COLOR_PHOTOMETRIC ":i",
                              fill_photometric(gs->fill, count), 0, LST_END) != 1) {
    elfDiscard(list);
    return report(state, "%s: Error getting non-stroking color info on layer\n", "__qelcolorFromPDFnsColor");
  }
  // The fill as given, which 0..255 components only come near.
  const PDFColor& fill = gs->fill;
  const int32_t n = fill.space == PDF_CS_DEVICE_GRAY ? 1 : fill.space == PDF_CS_DEVICE_RGB ? 3
                    : fill.space == PDF_CS_DEVICE_CMYK ? 4 : 0;
  if (n > 0 && fill.count == n) {
    std::string op;
    for (int32_t i = 0; i < n; ++i) {
      char v[32];
      std::snprintf(v, sizeof v, "%.9g ", fill.values[i]);
      op += v;
    }
    op += n == 1 ? "g" : n == 3 ? "rg" : "k";
    if (lstAppendArgs(attrs, PDF_LAYER_FILL ":s", op.c_str(), 0, LST_END) != 1) {
      return report(state, "%s: Error getting non-stroking color info on layer\n", "__qelcolorFromPDFnsColor");
    }
  }
  return QEL_STATUS_OK;
}

// Where a placement puts the unit square: the box it covers, in points, and what is left of the
// placement beyond a scale and a shift.
struct Placement {
  double x, y, w, h;
  bool plain;         // only a positive scale and a shift
  double rest[6];     // what follows [w 0 0 h x y] to give the placement, when not plain
};

bool place(const double m[6], Placement* p) {
  for (int i = 0; i < 6; ++i) {
    if (!std::isfinite(m[i])) return false;
  }
  const double det = m[0] * m[3] - m[1] * m[2];
  if (det == 0) return false;
  const double xs[4] = {m[4], m[4] + m[0], m[4] + m[2], m[4] + m[0] + m[2]};
  const double ys[4] = {m[5], m[5] + m[1], m[5] + m[3], m[5] + m[1] + m[3]};
  double x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
  for (int i = 1; i < 4; ++i) {
    x0 = std::fmin(x0, xs[i]);
    x1 = std::fmax(x1, xs[i]);
    y0 = std::fmin(y0, ys[i]);
    y1 = std::fmax(y1, ys[i]);
  }
  p->x = x0;
  p->y = y0;
  p->w = x1 - x0;
  p->h = y1 - y0;
  p->plain = m[1] == 0 && m[2] == 0 && m[0] > 0 && m[3] > 0;
  if (!p->plain) {
    // The placement after the box's own scale and shift: rest = inverse([w 0 0 h x y]) * m.
    p->rest[0] = m[0] / p->w;
    p->rest[1] = m[1] / p->w;
    p->rest[2] = m[2] / p->h;
    p->rest[3] = m[3] / p->h;
    p->rest[4] = m[4] - p->x / p->w * m[0] - p->y / p->h * m[2];
    p->rest[5] = m[5] - p->x / p->w * m[1] - p->y / p->h * m[3];
  }
  return p->w > 0 && p->h > 0;
}

// Stores data as the layer's POINTER: decoded samples padded to the declared size, or the bytes
// as stored for compressed data.
int layer_data(elf_state* state, PDFDoc* doc, PDFImage* image, elf_QELHDR* h, elf_QELLAYER* l) {
  KVngSB* sb = h->compression == QEL_COMPRESSION_NONE ? PDFGetStreamData(doc, image->stream)
                                                      : PDFGetCompressedStreamData(doc, image->stream);
  if (!sb) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: image data cannot be read: %s\n",
                     "__kvpdfImg2qelLayer", PDFErrorText(doc));
  }
  size_t length = 0;
  const unsigned char* bytes = KVngSBData(sb, &length);
  size_t want = length;
  if (h->compression == QEL_COMPRESSION_NONE) {
    size_t declared = 0;
    if (!mono::checked_mul(static_cast<size_t>(h->bytesPerRow[0]), static_cast<size_t>(h->height), &declared) ||
        declared > kMaxLayerSamples) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                       "%s: a %dx%d image declares more samples than a page may hold (%zu bytes)\n",
                       "__kvpdfImg2qelLayer", h->width, h->height, kMaxLayerSamples);
    }
    // Short data are padded with zero rows, and said so; more than declared is not the image's.
    if (length < declared) {
      KVngPrintf("%s: %dx%d image has %zu of its %zu bytes of samples; the rest are zero\n", "__kvpdfImg2qelLayer",
                 h->width, h->height, length, declared);
    }
    want = declared;
  }
  void* data = elfCalloc(want ? want : 1, 1);
  if (!data) return report(state, "%s: no memory for image data\n", "__kvpdfImg2qelLayer");
  std::memcpy(data, bytes, length < want ? length : want);
  PDFReleaseStreamData(doc, image->stream);
  elf_object* p = elfNewPointer(state, data, want);
  if (!p) {
    _elfFree(data);
    return report(state, "%s: no memory for image data\n", "__kvpdfImg2qelLayer");
  }
  ELF_ASSIGN(state, &l->data, p);
  return QEL_STATUS_OK;
}

// Four numbers of a box array into v; false when it is not one.
bool box_numbers(PDFDoc* doc, PDFObj* box, double v[4]) {
  if (!box || PDFGetArrayCount(doc, box) != 4) return false;
  for (int32_t i = 0; i < 4; ++i) {
    if (PDFGetReal(doc, PDFGetArrayObject(doc, box, i), &v[i]) != 1 || !std::isfinite(v[i])) return false;
  }
  return true;
}

// The MediaBox and CropBox as they stand, for a page written again to keep them exactly; a
// page whose boxes are not four numbers each goes without.
int page_boxes(elf_state* state, PDFDoc* doc, PDFObj* pageDict, elf_object* attrs) {
  double v[8];
  if (!box_numbers(doc, PDFGetPgMediaBox(doc, pageDict), v)) return QEL_STATUS_OK;
  const int n = box_numbers(doc, PDFGetDictEntry(doc, pageDict, "CropBox"), v + 4) ? 8 : 4;
  elf_object* boxes = new_LIST(state, nullptr, nullptr);
  bool ok = boxes != nullptr;
  for (int i = 0; ok && i < n; ++i) ok = lstAppendArgs(boxes, "v:d", v[i], 0, LST_END) == 1;
  if (!ok || lstAppendArgs(attrs, PDF_ATTR_PAGE_BOXES ":LIST", boxes, 0, LST_END) != 1) {
    elfDiscard(boxes);
    return report(state, "%s: no memory\n", "pdfPageDict2QELImage");
  }
  return QEL_STATUS_OK;
}

}  // namespace

extern "C" {

int32_t QELGetImageParts(int32_t photometric) { return KVngGetImageParts(photometric); }

int __pdf2SPcoordinateTransform(const double m[6], int32_t pageHeight, double out[9]) {
  // [a b 0; c d 0; e f 1] * flip(y) * shift(0, H - d).
  const double a[9] = {m[0], m[1], 0, m[2], m[3], 0, m[4], m[5], 1};
  const double flip[9] = {1, 0, 0, 0, -1, 0, 0, 0, 1};
  const double shift[9] = {1, 0, 0, 0, 1, 0, 0, pageHeight - m[3], 1};
  double t[9];
  auto mul = [](const double* x, const double* y, double* r) {
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) r[i * 3 + j] = x[i * 3] * y[j] + x[i * 3 + 1] * y[3 + j] + x[i * 3 + 2] * y[6 + j];
    }
  };
  mul(a, flip, t);
  mul(t, shift, out);
  return 1;
}

int __fetchJBIG2Dict2qelLayer(PDFDoc* doc, elf_state* state, PlacedImageRecord* record, elf_object* image) {
  if (!doc || !record || !record->image) return 0;
  PDFObj* globals = PDFGetImageJBIG2Globals(doc, record->image);
  if (!globals) return 2;
  KVngSB* sb = PDFGetCompressedStreamData(doc, globals);
  if (!sb) {
    report(state, "%s: JBIG2 globals cannot be read\n", "__fetchJBIG2Dict2qelLayer");
    return 0;
  }
  // The globals must reach the layer as the JBIG2 segments they are: a filter over them (Flate
  // in some producers) is undone, nothing else is accepted.
  if (PDFGetStreamFilterCount(doc, globals) > 0) sb = PDFGetStreamData(doc, globals);
  if (!sb) {
    setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: JBIG2 globals cannot be decoded: %s\n",
              "__fetchJBIG2Dict2qelLayer", PDFErrorText(doc));
    return 0;
  }
  size_t length = 0;
  const unsigned char* bytes = KVngSBData(sb, &length);
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* data = layer ? new_pointer_copy(state, bytes, length) : nullptr;
  PDFReleaseStreamData(doc, globals);
  if (!data) {
    elfDiscard(layer);
    report(state, "%s: Unable to add QELLAYER object (JBIG2 dict)\n", "__fetchJBIG2Dict2qelLayer");
    return 0;
  }
  elf_QELLAYER* l = qelLayer(layer);
  ELF_ASSIGN(state, &l->data, data);
  l->kind = QEL_KIND_JBIG2_DICT;
  int32_t generation = 0;
  const int32_t number = PDFGetObjectNumber(doc, globals, &generation);
  char name[64];
  std::snprintf(name, sizeof name, "JBIG2DICT-%d_%d", number, generation);
  if (append_layer(state, image, name, layer) != QEL_STATUS_OK) {
    elfDiscard(layer);
    report(state, "%s: Unable to add QELLAYER object (JBIG2 dict)\n", "__fetchJBIG2Dict2qelLayer");
    return 0;
  }
  const std::string uid = std::string(name) + "_" + (doc->filename ? doc->filename : "");
  elf_QELIMAGE* im = qelImage(image);
  elf_object* attrs = attribute_list(state, &im->attributes);
  if (!attrs || lstAppendArgs(attrs, QEL_ATTR_JB2_DICT_UID ":s", uid.c_str(), 0, LST_END) != 1) {
    QELDeleteLayer(image, im->layerCount - 1, nullptr);
    report(state, "%s: Error setting JBIG2 dict ID\n", "__fetchJBIG2Dict2qelLayer");
    return 0;
  }
  return 1;
}

int __kvpdfImg2qelLayer(ReaderCallbackContext* ctx, PlacedImageRecord* record, PDFDoc* doc, int32_t asMask) {
  if (!ctx || !record || !record->image || !doc || !ctx->image) return 0;
  elf_object* image = ctx->image;
  elf_state* state = image->state;
  PDFImage* pdfImage = record->image;
  const int32_t number = qelImage(image)->layerCount;

  // Placed from the page box's lower-left corner, the origin of the page the image becomes.
  double ctm[6];
  std::memcpy(ctm, record->gstate.ctm, sizeof ctm);
  ctm[4] -= ctx->box[0];
  ctm[5] -= ctx->box[1];
  Placement at{};
  if (!place(ctm, &at)) return -1;

  elf_object* layerObj = new_QELLAYER(state, nullptr, nullptr);
  elf_object* header = layerObj ? new_QELHDR(state, nullptr, nullptr) : nullptr;
  if (!header) {
    elfDiscard(layerObj);
    report(state, "%s: Unable to create layer\n", "__kvpdfImg2qelLayer");
    return 0;
  }
  elf_QELLAYER* l = qelLayer(layerObj);
  ELF_ASSIGN(state, &l->description, header);
  elf_QELHDR* h = qelHdr(header);
  h->width = pdfImage->width;
  h->height = pdfImage->height;
  l->x = at.x;
  l->y = at.y;
  l->width = at.w;
  l->height = at.h;
  // Resolution of the samples on the page; a rotated placement pairs width with the box's height.
  const bool turned = !at.plain && std::fabs(ctm[0]) < std::fabs(ctm[1]);
  l->xres = snap(h->width / (turned ? at.h : at.w) * 72.0);
  l->yres = snap(h->height / (turned ? at.w : at.h) * 72.0);
  if (!at.plain) {
    QELTransform2D rest{};
    std::memcpy(rest.m, at.rest, sizeof rest.m);
    if (!QELTransform2DIsIdentity(&rest) && __QELLAYERSetTransformMatrix(layerObj, &rest) != 0) {
      elfDiscard(layerObj);
      return -1;
    }
  }

  int32_t blackIs1 = 0;
  if (!__pdiouInitHeaderCompInfo(doc, pdfImage, header, &blackIs1)) {
    elfDiscard(layerObj);
    report(state, "%s: image filters cannot be described\n", "__kvpdfImg2qelLayer");
    return 0;
  }
  h->interleave = 1;
  const bool mask = PDFImageIsImageMask(doc, pdfImage) == 1;
  if (!mask && !__pdiouInitHeaderColorInfo(doc, pdfImage, header)) h->photometric = 0;
  double decode[2] = {0, 1};
  const bool inverted = PDFImageGetDecode(doc, pdfImage, decode, 2) > 1 && decode[0] > decode[1];
  const int32_t bits = PDFGetImageBits(doc, pdfImage);

  if (mask) {
    l->kind = asMask ? QEL_KIND_MASK : QEL_KIND_COLOR_MASK;
    h->samplesPerPixel = 1;
    if (l->kind == QEL_KIND_COLOR_MASK && set_color(state, layerObj, &record->gstate) != QEL_STATUS_OK) {
      elfDiscard(layerObj);
      return 0;
    }
    h->photometric = inverted != (blackIs1 == 1) ? 1 : QEL_PHOTO_BILEVEL;
  } else {
    // A colour space the description has no code for (Separation, DeviceN) still tells how many
    // samples a pixel has; the colours themselves travel with the carried image.
    if (h->photometric == 0 && !asMask && h->compression != QEL_COMPRESSION_JBIG2 && pdfImage->colorSpace) {
      const int32_t n = pdfImage->colorSpace->components;
      h->photometric = n == 1 ? 1 : n == 3 ? 18 : n == 4 ? 107 : 0;
    }
    if (h->photometric == 0) {
      elfDiscard(layerObj);
      report(state, "%s: the image's colour space cannot be described\n", "__kvpdfImg2qelLayer");
      return 0;
    }
    l->kind = bits == 1 ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
    h->samplesPerPixel = QELGetImageParts(h->photometric);
    // A palette image is described in its base's colours but has one sample, an index, a pixel.
    if (pdfImage->colorSpace && pdfImage->colorSpace->kind == PDF_CS_INDEXED) h->samplesPerPixel = 1;
    switch (h->compression) {
      case 2:
      case 3:
      case 4:
      case 7:
      case 51:
      case 52:
      case 53:
        if (inverted == (blackIs1 != 0)) h->photometric = QEL_PHOTO_BILEVEL;
        break;
      default:
        if (h->samplesPerPixel == 1 && inverted) h->photometric = QEL_PHOTO_BILEVEL;
        break;
    }
  }
  if (h->samplesPerPixel < 1 || bits < 1 || bits > 16) {
    elfDiscard(layerObj);
    report(state, "%s: unusable samples\n", "__kvpdfImg2qelLayer");
    return 0;
  }

  const int32_t spp = h->samplesPerPixel;
  h->bitsPerSample = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(spp), sizeof(int32_t)));
  h->bytesPerRow = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(spp), sizeof(int32_t)));
  if (!h->bitsPerSample || !h->bytesPerRow) {
    elfDiscard(layerObj);
    report(state, "%s: no memory\n", "__kvpdfImg2qelLayer");
    return 0;
  }
  h->bitsPerSampleCount = h->bytesPerRowCount = spp;
  for (int32_t i = 0; i < spp; ++i) h->bitsPerSample[i] = bits;
  const int64_t rowBytes = (int64_t{spp} * bits * h->width + 7) / 8;
  if (rowBytes > kMaxRowBytes) {
    elfDiscard(layerObj);
    report(state, "%s: image rows too long\n", "__kvpdfImg2qelLayer");
    return 0;
  }
  h->bytesPerRow[0] = static_cast<int32_t>(rowBytes);
  // Both factors are below 2^31, so the product cannot wrap. Raw samples past the ceiling of one
  // layer are refused below by that ceiling, the more telling reason.
  const uint64_t samples = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(h->height > 0 ? h->height : 0);
  const bool overLayer = h->compression == QEL_COMPRESSION_NONE && samples > kMaxLayerSamples;
  if (!overLayer && samples > kMaxPageSamples - ctx->pageSamples) {
    setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
              "%s: the %dx%d image placed as layer %d takes the page's images past their budget of %llu bytes "
              "of samples\n",
              "__kvpdfImg2qelLayer", h->width, h->height, number, static_cast<unsigned long long>(kMaxPageSamples));
    elfDiscard(layerObj);
    return 0;
  }
  ctx->pageSamples += samples;

  if (layer_data(state, doc, pdfImage, h, l) != QEL_STATUS_OK) {
    elfDiscard(layerObj);
    return 0;
  }
  int32_t generation = 0;
  const int32_t object = PDFGetObjectNumber(doc, pdfImage->stream, &generation);
  if (object > 0) {
    const std::string id = std::to_string(object) + " " + std::to_string(generation);
    elf_object* attrs = attribute_list(state, &l->attributes);
    if (!attrs || lstAppendArgs(attrs, PDF_LAYER_OBJECT ":s", id.c_str(), 0, LST_END) != 1) {
      elfDiscard(layerObj);
      report(state, "%s: no memory\n", "__kvpdfImg2qelLayer");
      return 0;
    }
  }
  // Everything but JBIG2 (whose globals are shared per section) travels as it is stored, so
  // that what the layer model cannot say (decode parameters, palettes, masks) is kept.
  if (!asMask && h->compression != QEL_COMPRESSION_JBIG2 && pdfCarryImage(ctx, doc, pdfImage, l) != QEL_STATUS_OK) {
    elfDiscard(layerObj);
    return 0;
  }

  // An image's own stencil mask comes first: the layer it masks follows it.
  PDFObj* maskEntry = PDFGetDictEntry(doc, pdfImage->stream, "Mask");
  PDFImage* maskImage = maskEntry && PDFObjectKind(doc, maskEntry) == PDF_OBJ_STREAM ? PDFStreamToImage(doc, maskEntry)
                                                                                    : nullptr;
  if (maskImage) {
    PlacedImageRecord maskRecord = *record;
    maskRecord.image = maskImage;
    if (__kvpdfImg2qelLayer(ctx, &maskRecord, doc, 1) != 1) {
      elfDiscard(layerObj);
      return 0;
    }
  }
  if (append_layer(state, image, layer_name(number).c_str(), layerObj) != QEL_STATUS_OK) {
    elfDiscard(layerObj);
    return 0;
  }
  ctx->pathRectangles = 0;

  if (h->compression == QEL_COMPRESSION_JBIG2) {
    elf_object* dict = QELGetDictLayer(qelImage(image)->layers, nullptr);
    if (!dict) {
      if (__fetchJBIG2Dict2qelLayer(doc, state, record, image) == 0) return 0;
    } else if (PDFObj* globals = PDFGetImageJBIG2Globals(doc, pdfImage)) {
      // One dictionary serves the page: a second image coded against other globals cannot
      // share it, and must not be decoded against the wrong symbols.
      int32_t gen = 0;
      const int32_t num = PDFGetObjectNumber(doc, globals, &gen);
      char name[64];
      std::snprintf(name, sizeof name, "JBIG2DICT-%d_%d", num, gen);
      elf_QELIMAGE* im = qelImage(image);
      bool same = false;
      for (int32_t i = 0; i < elflistLength(im->layers) && !same; ++i) {
        auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(im->layers, i));
        same = elfIsType(&ident->hdr, "IDENT") && ident->name && std::strcmp(ident->name, name) == 0;
      }
      if (!same) {
        setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                  "%s: JBIG2 image %d on this page is coded against other globals (object %d) than the page's "
                  "first; one page holds one JBIG2 dictionary\n",
                  "__kvpdfImg2qelLayer", number, num);
        return 0;
      }
    }
  }
  return 1;
}

int __pdf_OP_Do_callback(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  if (!ctx || !ctx->backend || !ctx->backend->pageList) {
    return callback_failure(doc, PDF_ERR_SYNTAX, "'Do' operator, no page dictionary present");
  }
  int status = 1;
  char* name = PDFPopNameOperand(parser, &status);
  if (status != 1 || !name) {
    kvng_internal_free(name);
    return callback_failure(doc, PDF_ERR_SYNTAX, "'Do' operator in content stream missing target");
  }
  PDFObj* xobject = parser->xobjects ? PDFGetDictEntry(doc, parser->xobjects, name) : nullptr;
  kvng_internal_free(name);
  if (!xobject) return callback_failure(doc, PDF_ERR_SYNTAX, "Do operator in content stream names unknown target");
  if (PDFImage* image = PDFStreamToImage(doc, xobject)) {
    PlacedImageRecord record{};
    record.kind = 1;
    record.gstate = *parser->gstate;
    record.operatorName = "Do";
    record.image = image;
    const int made = __kvpdfImg2qelLayer(ctx, &record, doc, 0);
    if (made == 1) return 1;
    return callback_failure(doc, PDF_ERR_SYNTAX,
                            made < 0 ? "an image's placement cannot be taken apart" : "an image cannot be read");
  }
  PDFObj* type = PDFGetDictEntry(doc, xobject, "Type");
  if (type && !PDFStringTestCString(doc, type, "XObject") && !PDFStringTestCString(doc, type, "Xobject")) return 1;
  PDFObj* subtype = PDFGetDictEntry(doc, xobject, "Subtype");
  if (subtype && PDFStringTestCString(doc, subtype, "Form")) {
    return PDFExtractFormItems(doc, xobject, parser, parser->page);
  }
  return 1;
}

int __page_OP_re_Callback(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  if (!ctx || !ctx->backend || !ctx->backend->pageList) {
    return callback_failure(doc, PDF_ERR_SYNTAX, "'re' operator, no page dictionary present");
  }
  if (!parser || !ctx->image) {
    elfMessage(ctx->image ? ctx->image->state : nullptr, "%s: NULL page image or PDF parser state detected %d\n",
               "__page_OP_re_Callback", 0);
    return 0;
  }
  if (parser->operandCount < 4) return PDFPopOperandStack(parser);
  double v[4];
  for (int i = 0; i < 4; ++i) {
    const PDFOperand& o = parser->operands[i];
    if (o.type != PDF_OBJ_INTEGER && o.type != PDF_OBJ_REAL) return PDFPopOperandStack(parser);
    v[i] = o.realValue;
    if (!std::isfinite(v[i])) return PDFPopOperandStack(parser);
  }
  elf_state* state = ctx->image->state;
  elf_object* layerObj = new_QELLAYER(state, nullptr, nullptr);
  if (!layerObj) return callback_failure(doc, PDF_ERR_MEMORY, "");
  elf_QELLAYER* l = qelLayer(layerObj);
  l->kind = QEL_KIND_RECTANGLE;
  l->xres = l->yres = 72.0;
  // The rectangle through the current matrix, as the page shows it; a negative width or height
  // draws the same rectangle from its other corner.
  const double* m = parser->gstate->ctm;
  const double rect[6] = {v[2] * m[0],
                          v[2] * m[1],
                          v[3] * m[2],
                          v[3] * m[3],
                          v[0] * m[0] + v[1] * m[2] + m[4] - ctx->box[0],
                          v[0] * m[1] + v[1] * m[3] + m[5] - ctx->box[1]};
  Placement at{};
  if (!place(rect, &at)) {
    elfDiscard(layerObj);
    return PDFPopOperandStack(parser);
  }
  l->x = at.x;
  l->y = at.y;
  l->width = at.w;
  l->height = at.h;
  if (set_color(state, layerObj, parser->gstate) != QEL_STATUS_OK) {
    elfDiscard(layerObj);
    return callback_failure(doc, PDF_ERR_SYNTAX, "Error getting non-stroking color info on layer");
  }
  const int32_t number = qelImage(ctx->image)->layerCount;
  if (append_layer(state, ctx->image, layer_name(number).c_str(), layerObj) != QEL_STATUS_OK) {
    elfDiscard(layerObj);
    return callback_failure(doc, PDF_ERR_MEMORY, "a rectangle layer cannot be added");
  }
  ++ctx->pathRectangles;
  return PDFPopOperandStack(parser);
}

int __page_OP_n_Callback(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  if (!ctx || !ctx->backend || !ctx->backend->pageList) {
    return callback_failure(doc, PDF_ERR_SYNTAX, "'n' operator, no page dictionary present");
  }
  if (!parser || !ctx->image) {
    elfMessage(nullptr, "%s: NULL page image or PDF parser state detected %d\n", "__page_OP_n_Callback",
               ctx->image ? qelImage(ctx->image)->layerCount : 0);
    return 0;
  }
  // Only the rectangles of the path that n ends go: a clip after an image, or a clip without
  // any rectangle, takes nothing from the page.
  for (; ctx->pathRectangles > 0; --ctx->pathRectangles) {
    const int32_t last = qelImage(ctx->image)->layerCount - 1;
    elf_QELLAYER* l = qelLayer(QELGetLayer(ctx->image, last));
    if (!l || l->kind != QEL_KIND_RECTANGLE) break;
    QELDeleteLayer(ctx->image, last, nullptr);
  }
  ctx->pathRectangles = 0;
  return PDFPopOperandStack(parser);
}

int __page_OP_paint_Callback(PDFDoc*, void* data, PDFParser* parser) {
  auto* ctx = static_cast<ReaderCallbackContext*>(data);
  if (ctx) ctx->pathRectangles = 0;
  return PDFPopOperandStack(parser);
}

elf_object* pdfPageDict2QELImage(elf_state* state, PdfDocState* backend, int32_t pageIndex, PDFObj* pageDict) {
  if (!backend || backend->tag1 != PDF_STATE_TAG1 || backend->tag2 != PDF_STATE_TAG2 || !backend->doc || !pageDict) {
    report(state, "%s: no document or page\n", "pdfPageDict2QELImage");
    return nullptr;
  }
  PDFDoc* doc = backend->doc;
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  if (!image) {
    report(state, "%s: Unable to create image\n", "pdfPageDict2QELImage");
    return nullptr;
  }
  elf_QELIMAGE* im = qelImage(image);
  ReaderCallbackContext ctx{};
  ctx.backend = backend;
  ctx.image = image;

  // The page box: its raw numbers are kept, its size is its width and height wherever it sits.
  if (!__pkvuFetchMediaSize(doc, pageDict, 4, ctx.box) || !(ctx.box[2] - ctx.box[0] > 0) ||
      !(ctx.box[3] - ctx.box[1] > 0) || ctx.box[2] - ctx.box[0] > 14400 || ctx.box[3] - ctx.box[1] > 14400) {
    elfDiscard(image);
    report(state, "%s: page %d has no usable page box\n", "pdfPageDict2QELImage", pageIndex + 1);
    return nullptr;
  }
  elf_object* box = new_LIST(state, nullptr, nullptr);
  bool ok = box != nullptr;
  for (int i = 0; ok && i < 4; ++i) ok = lstAppendArgs(box, "v:d", ctx.box[i], 0, LST_END) == 1;
  elf_object* attrs = ok ? attribute_list(state, &im->attributes) : nullptr;
  if (!attrs || lstAppendArgs(attrs, PDF_ATTR_MEDIABOX ":LIST", box, 0, LST_END) != 1) {
    elfDiscard(box);
    elfDiscard(image);
    report(state, "%s: no memory\n", "pdfPageDict2QELImage");
    return nullptr;
  }
  const double pageW = ctx.box[2] - ctx.box[0];
  const double pageH = ctx.box[3] - ctx.box[1];
  if (page_boxes(state, doc, pageDict, attrs) != QEL_STATUS_OK) {
    elfDiscard(image);
    return nullptr;
  }

  elf_object* fonts = nullptr;
  if (!__fontDioFetchFonts(state, doc, pageDict, &fonts)) {
    elfDiscard(image);
    report(state, "%s: the fonts of page %d cannot be read\n", "pdfPageDict2QELImage", pageIndex + 1);
    return nullptr;
  }
  if (fonts && lstAppendArgs(attrs, PDF_ATTR_FONT_RESOURCE ":LIST", fonts, 0, LST_END) != 1) {
    elfDiscard(fonts);
    elfDiscard(image);
    report(state, "%s: no memory\n", "pdfPageDict2QELImage");
    return nullptr;
  }

  PDFRegisterOperatorCallback(doc, PDF_OP_Do, __pdf_OP_Do_callback, &ctx);
  for (int32_t code : {PDF_OP_BT, PDF_OP_ET, PDF_OP_Td, PDF_OP_TD, PDF_OP_Tf, PDF_OP_Tj, PDF_OP_TJ, PDF_OP_TL,
                       PDF_OP_Tm, PDF_OP_Tr, PDF_OP_Tz, PDF_OP_Tstar, PDF_OP_Tc, PDF_OP_Tw, PDF_OP_Ts, PDF_OP_quote,
                       PDF_OP_dquote}) {
    PDFRegisterOperatorCallback(doc, code, __pageTextObjectCallback_passthru, image);
  }
  PDFRegisterOperatorCallback(doc, PDF_OP_re, __page_OP_re_Callback, &ctx);
  PDFRegisterOperatorCallback(doc, PDF_OP_n, __page_OP_n_Callback, &ctx);
  for (int32_t code : {PDF_OP_f, PDF_OP_F, PDF_OP_fstar, PDF_OP_S, PDF_OP_s, PDF_OP_B, PDF_OP_Bstar, PDF_OP_b,
                       PDF_OP_bstar}) {
    PDFRegisterOperatorCallback(doc, code, __page_OP_paint_Callback, &ctx);
  }
  for (int32_t code : {PDF_OP_q, PDF_OP_Q, PDF_OP_cm}) PDFAddOperatorCallback(doc, code, __EventPDF_OpCallback, image);
  EventPDF_Initialize(image);
  if (!pdfCarryCheckBegin(doc, &ctx, pageDict)) {
    pdfCarryCheckEnd(&ctx, 0);
    elfDiscard(image);
    report(state, "%s: no memory\n", "pdfPageDict2QELImage");
    return nullptr;
  }

  clearStatus(state);
  const int extracted = PDFExtractPageItems(doc, pageIndex, pageDict);
  if (!pdfCarryCheckEnd(&ctx, extracted == 1)) {
    elfDiscard(image);
    report(state, "%s: no memory\n", "pdfPageDict2QELImage");
    return nullptr;
  }
  if (extracted != 1) {
    const PDFErrorRecord& e = doc->error;
    elfMessage(state, "ERROR file: %s line: %d msg: %s\n", e.file ? e.file : "", e.line, e.message);
    if (getStatus(state) == QEL_STATUS_OK) {
      setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: page %d: %s\n", "pdfPageDict2QELImage",
                pageIndex + 1, e.message);
    }
    elfDiscard(image);
    return nullptr;
  }

  PDFObj* rotate = PDFGetDictEntry(doc, pageDict, "Rotate");
  int32_t rotation = 0;
  if (rotate && PDFObjectKind(doc, rotate) == PDF_OBJ_INTEGER && PDFGetInteger(doc, rotate, &rotation) == 1 &&
      lstAppendArgs(attrs, PDF_ATTR_ROTATE ":i", rotation, 0, LST_END) != 1) {
    elfDiscard(image);
    report(state, "%s: no memory\n", "pdfPageDict2QELImage");
    return nullptr;
  }

  // The page takes the finest resolution of its image and rectangle layers.
  int32_t xres = 0, yres = 0;
  for (int32_t i = 0; i < elflistLength(im->layers); ++i) {
    elf_QELLAYER* l = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    if (!l || l->kind == 0 || l->kind == QEL_KIND_JBIG2_DICT || l->kind > 17 || l->kind < -1) continue;
    xres = std::max(xres, static_cast<int32_t>(std::fmin(l->xres + 0.5, 1e6)));
    yres = std::max(yres, static_cast<int32_t>(std::fmin(l->yres + 0.5, 1e6)));
  }
  if (xres == 0 || yres == 0) xres = yres = 72;
  const double fx = xres / 72.0, fy = yres / 72.0;
  const double width = std::floor(pageW * fx + 0.5), height = std::floor(pageH * fy + 0.5);
  if (width > INT32_MAX || height > INT32_MAX) {
    elfDiscard(image);
    report(state, "%s: page %d is too large at its resolution\n", "pdfPageDict2QELImage", pageIndex + 1);
    return nullptr;
  }
  im->width = static_cast<int32_t>(width);
  im->height = static_cast<int32_t>(height);
  im->xres = xres;
  im->yres = yres;
  // Layers were placed in points from the box's lower-left corner; they are kept in pixels of
  // their own resolution from its upper-left corner, as the writer places them.
  for (int32_t i = 0; i < elflistLength(im->layers); ++i) {
    elf_QELLAYER* l = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    if (!l || l->kind == QEL_KIND_JBIG2_DICT || l->kind == QEL_KIND_TEXT) continue;
    const double lx = l->xres > 0 ? l->xres / 72.0 : fx, ly = l->yres > 0 ? l->yres / 72.0 : fy;
    const double top = pageH - (l->y + l->height);
    l->x *= lx;
    l->y = top * ly;
    l->width *= lx;
    l->height *= ly;
  }
  return image;
}

}  // extern "C"
