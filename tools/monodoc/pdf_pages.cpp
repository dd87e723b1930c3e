// PDF files as page files: each page read by libpagefiler's PDF reader (bound by name, as the
// interpreter binds it), its one scanned image made page pixels: JBIG2 layers through
// libmonocodec's jBig2Decode with the page's dictionary layer, other images through the PDF
// library's bounded decoding of the stream the layer came from.

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
  KVngSB* sb = PDFGetStreamData(doc, PDFGetObjectByID(doc, number, generation));
  if (!sb) return fail(error, std::string("image object ") + id + ": " + PDFErrorText(doc));
  size_t length = 0;
  const unsigned char* bytes = KVngSBData(sb, &length);
  // Decoded samples are as the colour space says: 0 is black, unless a Decode array turns them.
  PDFObj* stream = PDFGetObjectByID(doc, number, generation);
  PDFObj* decodeArray = stream ? PDFGetDictEntry(doc, stream, "Decode") : nullptr;
  double lo = 0, hi = 1;
  if (decodeArray && PDFGetArrayCount(doc, decodeArray) >= 2) {
    PDFGetReal(doc, PDFGetArrayObject(doc, decodeArray, 0), &lo);
    PDFGetReal(doc, PDFGetArrayObject(doc, decodeArray, 1), &hi);
  }
  elf_QELHDR decoded = *h;
  decoded.photometric = lo > hi ? QEL_PHOTO_BILEVEL : 1;
  return samples_to_page(l, &decoded, bytes, length, page, error);
}

}  // namespace

bool read_pdf(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  elf_state* state = initState(nullptr, "pagefiler.ucm");
  if (!state) return fail(error, "PDF: cannot make the interpreter state from pagefiler.ucm");
  state->print = [](void*, const char*) {};
  int32_t code = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'r', nullptr, &code);
  Method make = doc ? bind("pagefiler", "MakeDocReader", error) : nullptr;
  if (!doc && error->empty()) *error = code == PDF_ERR_PASSWORD ? "PDF: encrypted" : "PDF: cannot be opened";
  elf_object* reader = nullptr;
  elf_object* made = nullptr;
  if (make) {
    elf_object* args = lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END);
    const int status = args ? make(state, args, &made) : QEL_STATUS_FAILED;
    if (args) elfDiscard(args);
    if (status == QEL_STATUS_OK) reader = result_object(made, "docrd:DOCUMENTREADER");
    if (!reader) *error = "PDF: " + reason(state, "no reader");
  }
  bool ok = reader != nullptr;
  int32_t count = 0;
  if (ok) {
    elf_object* result = nullptr;
    clearStatus(state);
    ok = call_elf_object_method(state, reader, "getPageCount", nullptr, &result) == QEL_STATUS_OK &&
         lstScanArgs(result, "num:i", LST_REQUIRED, &count, LST_END) == 1;
    if (result) elfDiscard(result);
    if (!ok) *error = "PDF: " + reason(state, "no page count");
  }
  std::vector<Bilevel> found;
  for (int32_t n = 1; ok && n <= count; ++n) {
    elf_object* args = lstBuildArgs(state, "pgnum:i", n, 0, LST_END);
    elf_object* result = nullptr;
    clearStatus(state);
    const int status = args ? call_elf_object_method(state, reader, "getPage", args, &result) : QEL_STATUS_FAILED;
    if (args) elfDiscard(args);
    elf_object* image = status == QEL_STATUS_OK ? result_object(result, "img:QELIMAGE") : nullptr;
    Bilevel page;
    std::string why;
    ok = image && page_pixels(state, doc, image, &page, &why);
    if (!image) why = reason(state, "cannot be read");
    if (result) elfDiscard(result);
    if (!ok) *error = "PDF page " + std::to_string(n) + ": " + why;
    if (ok) found.push_back(std::move(page));
  }
  if (reader) call_elf_object_method(state, reader, "release", nullptr, nullptr);
  if (made) elfDiscard(made);
  PDFCloseFile(doc, 0);
  freeState(state);
  if (ok) {
    for (auto& page : found) pages->push_back(std::move(page));
  }
  return ok;
}

}  // namespace monodoc
