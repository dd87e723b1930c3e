// PDF files as page files: each page read by libpagefiler's PDF reader (bound by name, as the
// interpreter binds it), its one scanned image made page pixels: JBIG2 layers through
// libmonocodec's jBig2Decode with the page's dictionary layer, other images through the PDF
// library's bounded decoding of the stream the layer came from.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "page_files.h"
#include "pdf_read.h"
#include "qelinterp.h"

namespace monodoc {

namespace {

using Method = int (*)(void*, elf_object*, elf_object**);

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

Method bind(const char* library, const char* name, std::string* error) {
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc(library, name, &address, why, sizeof why)) {
    *error = why;
    return nullptr;
  }
  return reinterpret_cast<Method>(address);
}

std::string reason(elf_state* state, const std::string& fallback) {
  std::string text = getStatusMessage(state);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text.empty() ? fallback : text;
}

elf_object* result_object(elf_object* result, const char* spec) {
  elf_object* obj = nullptr;
  return result && lstScanArgs(result, spec, LST_OPTIONAL, &obj, LST_END) ? obj : nullptr;
}

bool is_raster(int32_t kind) {
  return kind == QEL_KIND_BILEVEL || kind == QEL_KIND_IMAGE || kind == QEL_KIND_COLOR_MASK;
}

// Page pixels from the samples of a layer's description (photometric 0x15: 1 is black).
bool samples_to_page(const elf_QELLAYER* l, const elf_QELHDR* h, const unsigned char* bytes, size_t length,
                     Bilevel* page, std::string* error) {
  const int32_t bits = h->bitsPerSample ? h->bitsPerSample[0] : 0;
  const int64_t rowBytes = (int64_t{h->width} * bits * h->samplesPerPixel + 7) / 8;
  if (!samples_to_bilevel(h->width, h->height, bits, h->samplesPerPixel, rowBytes, bytes, length,
                          h->photometric == QEL_PHOTO_BILEVEL, page)) {
    return fail(error, "the image is not 1-bit, 8-bit grey or RGB of its declared size");
  }
  page->xres = l->xres > 0 ? l->xres : default_resolution;
  page->yres = l->yres > 0 ? l->yres : default_resolution;
  return true;
}

// The page's one raster layer as page pixels.
bool page_pixels(elf_state* state, PDFDoc* doc, elf_object* image, Bilevel* page, std::string* error) {
  elf_QELIMAGE* im = qelImage(image);
  int32_t raster = -1, count = 0;
  for (int32_t i = 0; i < im->layerCount; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
    if (l && is_raster(l->kind)) {
      raster = i;
      ++count;
    }
  }
  if (count != 1) {
    return fail(error, "the page holds " + std::to_string(count) +
                           " images; a page file is one scanned image (monodoc info tells the layers)");
  }
  elf_QELLAYER* l = qelLayer(QELGetLayer(image, raster));
  elf_QELHDR* h = qelHdr(l->description);
  if (!h) return fail(error, "the image has no description");
  if (h->compression == QEL_COMPRESSION_JBIG2) {
    Method decode = bind("monocodec", "jBig2Decode", error);
    if (!decode) return false;
    clearStatus(state);
    elf_object* result = nullptr;
    const int status = decode(image, nullptr, &result);
    if (result) elfDiscard(result);
    if (status != QEL_STATUS_OK) return fail(error, "jBig2Decode: " + reason(state, "the JBIG2 data cannot be decoded"));
    for (int32_t i = 0; i < im->layerCount; ++i) {
      l = qelLayer(QELGetLayer(image, i));
      h = l ? qelHdr(l->description) : nullptr;
      if (l && h && l->kind == QEL_KIND_BILEVEL && h->compression == QEL_COMPRESSION_NONE) break;
      h = nullptr;
    }
    const auto* data = h ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
    if (!data || !data->data) return fail(error, "jBig2Decode left no page");
    return samples_to_page(l, h, static_cast<const unsigned char*>(data->data), data->length, page, error);
  }
  const char* id = nullptr;
  int32_t number = 0, generation = 0;
  if (!l->attributes || lstScanArgs(l->attributes, PDF_LAYER_OBJECT ":s", LST_REQUIRED, &id, LST_END) != 1 ||
      std::sscanf(id, "%d %d", &number, &generation) != 2) {
    return fail(error, "the reader did not say which image the layer came from");
  }
  PDFObj* stream = PDFGetObjectByID(doc, number, generation);
  KVngSB* sb = stream ? PDFGetStreamData(doc, stream) : nullptr;
  if (!sb) return fail(error, std::string("image object ") + id + ": " + PDFErrorText(doc));
  size_t length = 0;
  const unsigned char* bytes = KVngSBData(sb, &length);
  // Decoded samples are as the colour space says: 0 is black, unless a Decode array turns them.
  PDFObj* decodeArray = PDFGetDictEntry(doc, stream, "Decode");
  double lo = 0, hi = 1;
  if (decodeArray && PDFGetArrayCount(doc, decodeArray) >= 2) {
    PDFGetReal(doc, PDFGetArrayObject(doc, decodeArray, 0), &lo);
    PDFGetReal(doc, PDFGetArrayObject(doc, decodeArray, 1), &hi);
  }
  elf_QELHDR decoded = *h;
  decoded.photometric = lo > hi ? QEL_PHOTO_BILEVEL : 1;
  const bool ok = samples_to_page(l, &decoded, bytes, length, page, error);
  // The decoded samples are the page's now: the document keeps none of them for the next page.
  PDFReleaseStreamData(doc, stream);
  return ok;
}

// Whether the image a layer came from is in DeviceGray: a one-bit image in a palette or a spot
// colour is not black and white.
bool device_grey(PDFDoc* doc, const elf_QELLAYER* l) {
  const char* id = nullptr;
  int32_t number = 0, generation = 0;
  if (!l->attributes || lstScanArgs(l->attributes, PDF_LAYER_OBJECT ":s", LST_REQUIRED, &id, LST_END) != 1 ||
      std::sscanf(id, "%d %d", &number, &generation) != 2) {
    return false;
  }
  PDFObj* stream = PDFGetObjectByID(doc, number, generation);
  PDFObj* space = stream ? PDFGetDictEntry(doc, stream, "ColorSpace") : nullptr;
  return space && PDFObjectKind(doc, space) == PDF_OBJ_NAME && PDFStringTestCString(doc, space, "DeviceGray");
}

}  // namespace

bool pdf_page_carried(elf_object* image, int32_t n, std::string* error) {
  const char* what = nullptr;
  elf_object* attributes = qelImage(image)->attributes;
  if (attributes && lstScanArgs(attributes, PDF_ATTR_NOT_CARRIED ":s", LST_OPTIONAL, &what, LST_END) == 1 && what) {
    return fail(error, "page " + std::to_string(n) + ": " + what + " is not carried");
  }
  return true;
}

bool visit_pdf_pages(elf_state* state, const std::string& path, const std::string& password,
                     const PdfPageVisit& visit, std::string* error) {
  Method make = bind("pagefiler", "MakeDocReader", error);
  if (!make) return false;
  elf_object* args = password.empty() ? lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END)
                                      : lstBuildArgs(state, "filename:s", path.c_str(), 0, "password:s",
                                                     password.c_str(), 0, LST_END);
  elf_object* made = nullptr;
  clearStatus(state);
  const int status = args ? make(state, args, &made) : QEL_STATUS_FAILED;
  if (args) elfDiscard(args);
  elf_object* reader = status == QEL_STATUS_OK ? result_object(made, "docrd:DOCUMENTREADER") : nullptr;
  if (!reader) *error = reason(state, "cannot be opened");
  bool ok = reader != nullptr;
  int32_t count = 0;
  if (ok) {
    elf_object* result = nullptr;
    clearStatus(state);
    ok = call_elf_object_method(state, reader, "getPageCount", nullptr, &result) == QEL_STATUS_OK &&
         lstScanArgs(result, "num:i", LST_REQUIRED, &count, LST_END) == 1;
    if (result) elfDiscard(result);
    if (!ok) *error = reason(state, "no page count");
  }
  // The reader's own opening of the document, through which the image streams are decoded.
  const auto* r = ok ? reinterpret_cast<const elf_DOCUMENTREADER*>(reader) : nullptr;
  const auto* backend = r && r->format == DIO_FORMAT_PDF ? static_cast<const PdfDocState*>(r->backend) : nullptr;
  PDFDoc* doc = backend && backend->tag1 == PDF_STATE_TAG1 && backend->tag2 == PDF_STATE_TAG2 ? backend->doc : nullptr;
  if (ok && !doc) {
    *error = "not read as a PDF";
    ok = false;
  }
  for (int32_t n = 1; ok && n <= count; ++n) {
    elf_object* number = lstBuildArgs(state, "pgnum:i", n, 0, LST_END);
    elf_object* result = nullptr;
    clearStatus(state);
    const int got = number ? call_elf_object_method(state, reader, "getPage", number, &result) : QEL_STATUS_FAILED;
    if (number) elfDiscard(number);
    elf_object* image = got == QEL_STATUS_OK ? result_object(result, "img:QELIMAGE") : nullptr;
    if (!image) {
      *error = "page " + std::to_string(n) + ": " + reason(state, "cannot be read");
      ok = false;
    } else {
      ok = visit(image, doc, n, count, error);
    }
    if (result) elfDiscard(result);
  }
  if (reader) call_elf_object_method(state, reader, "release", nullptr, nullptr);
  if (made) elfDiscard(made);
  return ok;
}

bool recode_page(elf_state* state, PDFDoc* doc, elf_object* image, int32_t n, Bilevel* page, bool* bilevel,
                 std::string* error) {
  *bilevel = false;
  const std::string where = "page " + std::to_string(n) + ": ";
  int32_t visible = 0;
  elf_QELIMAGE* im = qelImage(image);
  if (im->attributes) lstScanArgs(im->attributes, PDF_ATTR_VISIBLE_TEXT ":b", LST_OPTIONAL, &visible, LST_END);
  if (visible) return fail(error, where + "--recode takes a scanned page: visible text is not carried");
  int32_t raster = -1, images = 0, masks = 0;
  for (int32_t i = 0; i < im->layerCount; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
    if (!l) continue;
    if (is_raster(l->kind)) {
      raster = i;
      ++images;
    } else if (l->kind == QEL_KIND_MASK) {
      ++masks;
    } else if (l->kind == QEL_KIND_RECTANGLE) {
      return fail(error, where + "--recode takes a scanned page: a filled rectangle is not carried");
    }
  }
  if (images != 1) {
    return fail(error, where + "--recode takes a page of one image, not " + std::to_string(images));
  }
  const elf_QELLAYER* l = qelLayer(QELGetLayer(image, raster));
  // Pixels of the layer's own resolution, which is the page's when it is the page's one image.
  const bool fills = std::fabs(l->x) < 1 && std::fabs(l->y) < 1 && std::fabs(l->width - im->width) < 1 &&
                     std::fabs(l->height - im->height) < 1 && (!l->transform || QELTransform2DIsIdentity(l->transform));
  if (!fills) return fail(error, where + "--recode takes a page that its one image fills, upright");
  const elf_QELHDR* h = qelHdr(l->description);
  const int32_t bits = h && h->bitsPerSample ? h->bitsPerSample[0] : 0;
  // Only black-and-white samples are coded again; anything else keeps its coding and colour.
  if (l->kind != QEL_KIND_BILEVEL || masks > 0 || !h || h->samplesPerPixel != 1 || bits != 1 ||
      (h->photometric != 1 && h->photometric != QEL_PHOTO_BILEVEL) || !device_grey(doc, l)) {
    return true;
  }
  if (!page_pixels(state, doc, image, page, error)) {
    *error = where + *error;
    return false;
  }
  *bilevel = true;
  return true;
}

bool keep_page_rest(elf_object* from, elf_object* to, std::string* error) {
  elf_QELIMAGE* im = qelImage(to);
  if (elf_object* source = qelImage(from)->attributes) {
    if (!im->attributes) {
      elf_object* list = new_LIST(to->state, nullptr, nullptr);
      if (!list) return fail(error, "no memory");
      ELF_ASSIGN(to->state, &im->attributes, list);
    }
    for (int32_t i = 0; i < elflistLength(source); ++i) {
      auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(source, i));
      if (!elfIsType(&ident->hdr, "IDENT") || !ident->name) continue;
      const std::string name = ident->name;
      if (name != PDF_ATTR_MEDIABOX && name != PDF_ATTR_ROTATE && name != PDF_ATTR_PAGE_BOXES &&
          name != PDF_ATTR_FONT_RESOURCE) {
        continue;
      }
      elf_object* entry = elfNewIdent(to->state, ident->name, ident->value);
      if (!entry || elflistInsert(im->attributes, entry, -1, 0) != 0) {
        elfDiscard(entry);
        return fail(error, "no memory");
      }
    }
  }
  // The invisible text over a scan goes with the page its image is coded again for.
  const elf_QELIMAGE* source = qelImage(from);
  for (int32_t i = 0; i < source->layerCount; ++i) {
    elf_object* layer = QELGetLayer(from, i);
    const elf_QELLAYER* l = qelLayer(layer);
    if (!l || l->kind != QEL_KIND_TEXT) continue;
    const std::string name = "text" + std::to_string(i) + ":QELLAYER";
    if (QELAppendLayer(to, name.c_str(), layer) != QEL_STATUS_OK) return fail(error, "no memory for a text layer");
  }
  return true;
}

bool read_pdf(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  elf_state* state = initState(nullptr, "pagefiler.ucm");
  if (!state) return fail(error, "PDF: cannot make the interpreter state from pagefiler.ucm");
  state->print = [](void*, const char*) {};
  std::vector<Bilevel> found;
  const bool ok = visit_pdf_pages(state, path, "", [&](elf_object* image, PDFDoc* doc, int32_t n, int32_t,
                                                       std::string* why) {
    Bilevel page;
    if (!page_pixels(state, doc, image, &page, why)) {
      *why = "page " + std::to_string(n) + ": " + *why;
      return false;
    }
    found.push_back(std::move(page));
    return true;
  }, error);
  freeState(state);
  if (!ok) {
    *error = "PDF " + *error;
    return false;
  }
  for (auto& page : found) pages->push_back(std::move(page));
  return true;
}

}  // namespace monodoc
