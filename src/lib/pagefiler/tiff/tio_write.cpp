// Writing pages as TIFF and TIFF-FX documents through the TIFF-FX bridge. Pages are never re-coded:
// the data items of a page's first layer become the strips of one image as they are. A fax page
// whose size the profile check changes is first brought to the profile by the script
// "docio/tifffxFmtAdj.elf".

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dio_backends.h"
#include "kvng_print.h"
#include "tio.h"
#include "safe_output.h"

namespace {

constexpr const char* fmt_adjust_script = "docio/tifffxFmtAdj.elf";

bool tagged(const TIOState* s) { return s && s->sizeTag == TIO_SIZE_TAG && s->magic == TIO_MAGIC; }

elf_state* state_of(elf_object* obj) { return obj ? obj->state : nullptr; }

int32_t creation_profile(int32_t format, int32_t subtype) {
  if (format == DIO_FORMAT_TIFF) return TIO_PROFILE_TIFF;
  switch (subtype) {
    case DIO_SUBFORMAT_PROFILE_S:
      return TIO_PROFILE_S;
    case DIO_SUBFORMAT_PROFILE_F:
      return TIO_PROFILE_F;
    case DIO_SUBFORMAT_PROFILE_C:
      return TIO_PROFILE_C;
    default:
      return TIO_PROFILE_NONE;
  }
}

int32_t create_document(TIOState* s, SioFileKey* key) {
  TIODocument* doc = s->document;
  return TFX_CreateDocument(__tioInstance(), key, doc->option, doc->profile, __sioCnctRead, __sioCnctWrite,
                            __sioCnctSeek, __sioCnctSize, __sioCnctTell, &doc->handle);
}

// Closes the bridge document and its file; the document record stays.
// Closes the document and its file. A whole document (keep) takes the file's name, a failure
// reported on state (when given); anything else leaves the name as it was. TIO_OK or
// TIO_WRITE_FAILED.
int32_t close_file(TIODocument* doc, bool keep = false, elf_state* state = nullptr) {
  if (!doc) return TIO_OK;
  int32_t result = TIO_OK;
  if (doc->handle && TFX_CloseDocument(doc->handle) != TFX_OK) result = TIO_WRITE_FAILED;
  doc->handle = nullptr;
  if (keep && result == TIO_OK && doc->key) {
    char message[SAFEOUT_MESSAGE_SIZE] = "";
    result = __sioCommitFileKey(doc->key, message, sizeof message);
    if (result != TIO_OK && state) setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "TIFFRelease: %s\n", message);
  } else {
    if (keep && doc->key && state) {
      setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "TIFFRelease: the document cannot be finished\n");
    }
    __sioReleaseFileKey(doc->key);
  }
  doc->key = nullptr;
  return result;
}

// What a document of a format and subtype accepts of a raster; a depth of 0 takes none.
struct RasterTarget {
  int32_t compression, quality, depth;
  int32_t maxRes;
};
struct RasterTargets {
  int32_t format, subtype;
  RasterTarget contone, binary;
};
constexpr RasterTargets raster_targets_table[] = {
    {DIO_FORMAT_TIFF, -1, {QEL_COMPRESSION_JPEG, 80, 24, 65000}, {QEL_COMPRESSION_G4, 80, 1, 65000}},
    {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_S, {0, 0, 0, 0}, {QEL_COMPRESSION_G3, 0, 1, 200}},
    {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_F, {0, 0, 0, 0}, {QEL_COMPRESSION_G4, 0, 1, 400}},
    {DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_C, {QEL_COMPRESSION_JPEG, 60, 24, 400}, {QEL_COMPRESSION_G4, 0, 1, 400}},
};

// The targets of a document, or null for a TIFF-FX subtype without a profile (it takes the
// default spec's).
const RasterTargets* raster_targets(int32_t format, int32_t subtype) {
  for (const RasterTargets& t : raster_targets_table) {
    if (t.format == format && (t.subtype == -1 || t.subtype == subtype)) return &t;
  }
  return nullptr;
}

int set_raster(elf_state* context, elf_object* spec, const RasterTarget& r) {
  return __setTSRasterAttr(context, spec, r.compression, r.quality, 0, 1, nullptr, r.maxRes, r.maxRes, r.depth);
}

const elf_POINTER* pointer_of(elf_object* obj) {
  return elfIsType(obj, "POINTER") ? reinterpret_cast<const elf_POINTER*>(obj) : nullptr;
}

// The strips of one page: copies of the layer's data items, freed when the page is done.
class StripList {
 public:
  StripList() = default;
  StripList(const StripList&) = delete;
  StripList& operator=(const StripList&) = delete;
  ~StripList() {
    for (SioStrip* s = &first_; s;) {
      SioStrip* next = s->next;
      kvng_internal_free(s->data);
      if (s != &first_) std::free(s);
      s = next;
    }
  }

  const SioStrip* head() const { return count_ ? &first_ : nullptr; }

  // Appends a strip holding a copy of the given parts (one item, or several joined).
  bool add(int32_t firstRow, int32_t rows, const elf_POINTER* const* parts, int32_t partCount, uint32_t coding,
           int32_t colorSpace) {
    SioStrip* s = count_ ? static_cast<SioStrip*>(std::calloc(1, sizeof(SioStrip))) : &first_;
    if (!s) return false;
    if (count_) last_->next = s;
    last_ = s;
    ++count_;
    s->firstRow = s->firstRowAgain = firstRow;
    s->rowCount = rows;
    s->compression = coding;
    s->colorSpace = colorSpace;
    size_t size = 0;
    for (int32_t i = 0; i < partCount; ++i) {
      if (!parts[i]->data) continue;
      if (parts[i]->length > static_cast<size_t>(INT32_MAX) - size) return false;
      size += parts[i]->length;
    }
    if (size == 0) return true;  // an empty strip; refused when written
    auto* data = static_cast<uint8_t*>(kvng_internal_calloc(1, size));
    if (!data) return false;
    size_t at = 0;
    for (int32_t i = 0; i < partCount; ++i) {
      if (!parts[i]->data || !parts[i]->length) continue;
      std::memcpy(data + at, parts[i]->data, parts[i]->length);
      at += parts[i]->length;
    }
    s->data = data;
    s->size = static_cast<int32_t>(size);
    return true;
  }

 private:
  SioStrip first_{};
  SioStrip* last_ = nullptr;
  int32_t count_ = 0;
};

// The image a page is written from: the one given, or the profile's conversion of it, held until
// its strips have been copied.
struct PageImage {
  elf_object* image = nullptr;
  elf_object* converted = nullptr;
  PageImage() = default;
  PageImage(const PageImage&) = delete;
  PageImage& operator=(const PageImage&) = delete;
  ~PageImage() { release(); }
  void release() {
    if (converted) elfRefDown(converted);
    converted = nullptr;
  }
};

// The profile check of a fax page; converts the page when the profile wants another size.
int32_t check_profile(TIOState* s, TIOPage* page, elf_object* image, PageImage& out) {
  out.image = image;
  elf_object* layerObj = QELGetLayer(image, 0);
  const elf_QELLAYER* layer = qelLayer(layerObj);
  const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
  int32_t kind = 1, changed = 0, reserved1 = 0, reserved2 = 0, reserved3 = 0, colorSpace = 0;
  int32_t colorType = h ? __ioCTypeFromQEL(layer->description) : 0;
  uint32_t xres = layer ? static_cast<uint32_t>(layer->xres) : 300;
  uint32_t yres = layer ? static_cast<uint32_t>(layer->yres) : 300;
  uint32_t width = h ? static_cast<uint32_t>(h->width) : 1;
  uint32_t height = h ? static_cast<uint32_t>(h->height) : 1;
  uint32_t rows = height;
  TFX_CheckImageInfo(page->pageHandle, &kind, &changed, &colorType, &reserved1, &reserved2, &xres, &yres, &width,
                     &height, &rows, 0, &reserved3, &colorSpace);
  if (!h || (width == static_cast<uint32_t>(h->width) && height == static_cast<uint32_t>(h->height))) return TIO_OK;

  elf_state* context = state_of(image);
  elf_object* args = lstBuildArgs(context, "inImg:QELIMAGE", image, 0, "dw:i", static_cast<int32_t>(width), 0,
                                  "dh:i", static_cast<int32_t>(height), 0, "outfile:s", s->fileName, 0, "outphoto:i",
                                  __photoFromIOColortype(colorType, colorSpace), 0, LST_END);
  if (!args) return TIO_WRITE_FAILED;
  elf_object* result = nullptr;
  const int status = ELFScriptExec(context, fmt_adjust_script, args, &result);
  elfDiscard(args);
  elf_object* converted = nullptr;
  if (status == QEL_STATUS_OK && lstScanArgs(result, "outImg:QELIMAGE", LST_OPTIONAL, &converted, LST_END) &&
      converted) {
    elfRefUp(converted);
  }
  elfDiscard(result);
  if (status != QEL_STATUS_OK || !converted) {
    if (converted) elfRefDown(converted);
    return TIO_WRITE_FAILED;
  }
  out.image = out.converted = converted;
  return TIO_OK;
}

// The rows every raw item but the last holds when they all hold the same whole number of rows;
// 0 otherwise.
int32_t whole_rows(const elf_POINTER* first, int32_t items, int32_t bytesPerRow) {
  if (bytesPerRow < 1 || !first || first->length % static_cast<size_t>(bytesPerRow) != 0) return 0;
  const size_t length = first->length;
  int32_t index = 0;
  for (const elf_POINTER* item = first; item && index < items - 1; item = pointer_of(item->next), ++index) {
    if (item->length != length) return 0;
  }
  const size_t rows = length / static_cast<size_t>(bytesPerRow);
  return rows <= INT32_MAX ? static_cast<int32_t>(rows) : 0;
}

// The rows of every strip but the last, from the items' notes or their count; 0 when the notes
// name a height no strip can have.
int32_t rows_per_strip(const elf_POINTER* first, int32_t items, int32_t height, int32_t compression,
                       int32_t bytesPerRow, bool* joined) {
  *joined = false;
  int32_t fromNote = 0;
  bool noted = false;
  int32_t index = 0;
  for (const elf_POINTER* item = first; item && index < items - 1; item = pointer_of(item->next), ++index) {
    int32_t value = 0;
    if (item->description && std::sscanf(item->description, "restart;%d", &value) == 1) {
      fromNote = value;
      noted = true;
    }
  }
  // A note of 0 would never advance the rows, one above the height leaves the last strip a
  // negative height.
  if (noted) return fromNote >= 1 && fromNote <= height ? fromNote : 0;
  if (items > 1 && compression != QEL_COMPRESSION_NONE) {
    *joined = true;
    return height;
  }
  if (items > 1) {
    // Raw items that hold whole rows, all but the last alike, say their own height: a page read
    // in strips of 20 rows is written in strips of 20 again, not of the item count's share.
    const int32_t rows = whole_rows(first, items, bytesPerRow);
    return rows > 0 ? rows : static_cast<int32_t>(height / static_cast<double>(items) + 0.9999);
  }
  return height;
}

// Steps of one page once its bridge page is started: check, strips, image.
int32_t write_page_image(TIOState* s, TIOPage* page, elf_object* given) {
  PageImage pi;
  if (s->format == DIO_FORMAT_TIFFFX) {
    const int32_t checked = check_profile(s, page, given, pi);
    if (checked != TIO_OK) return checked;
  } else {
    pi.image = given;
  }
  const elf_QELIMAGE* im = qelImage(pi.image);
  elf_object* layerObj = im && im->layerCount >= 1 ? QELGetLayer(pi.image, 0) : nullptr;
  const elf_QELLAYER* layer = qelLayer(layerObj);
  const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
  if (!h || h->width < 1 || h->height < 1) return TIO_WRITE_FAILED;

  int32_t items = 0;
  for (const elf_POINTER* item = pointer_of(layer->data); item; item = pointer_of(item->next)) {
    if (++items > h->height) return TIO_WRITE_FAILED;  // more strips than rows
  }
  if (items == 0) return TIO_WRITE_FAILED;
  bool joined = false;
  const int32_t bytesPerRow = h->bytesPerRow && h->bytesPerRowCount > 0 ? h->bytesPerRow[0] : 0;
  const int32_t rowsPerStrip =
      rows_per_strip(pointer_of(layer->data), items, h->height, h->compression, bytesPerRow, &joined);
  if (rowsPerStrip < 1) return TIO_WRITE_FAILED;

  const uint32_t coding = __ioCompressFromQEL(h->compression, 0);
  const int32_t colorSpace = __ioCSpaceFromQEL(h->photometric);
  StripList strips;
  if (joined) {
    // Several coded items without a restart interval are one stream cut anywhere: one strip.
    auto* list = static_cast<const elf_POINTER**>(std::calloc(static_cast<size_t>(items), sizeof(elf_POINTER*)));
    if (!list) return TIO_NO_MEMORY;
    int32_t n = 0;
    for (const elf_POINTER* item = pointer_of(layer->data); item; item = pointer_of(item->next)) list[n++] = item;
    const bool added = strips.add(0, h->height, list, n, coding, colorSpace);
    std::free(list);
    if (!added) return TIO_NO_MEMORY;
  } else {
    int32_t row = 0;
    int32_t index = 0;
    for (const elf_POINTER* item = pointer_of(layer->data); item; item = pointer_of(item->next), ++index) {
      const bool last = index == items - 1;
      const int32_t rows = last ? h->height - row : rowsPerStrip;
      // The last strip holds what is left: at least one row, at most a strip's.
      if (rows < 1 || rows > rowsPerStrip) return TIO_WRITE_FAILED;
      if (!strips.add(row, rows, &item, 1, coding, colorSpace)) return TIO_NO_MEMORY;
      row += rows;
    }
  }
  const uint32_t xres = static_cast<uint32_t>(layer->xres);
  const uint32_t yres = static_cast<uint32_t>(layer->yres);
  const uint32_t width = static_cast<uint32_t>(h->width);
  const uint32_t height = static_cast<uint32_t>(h->height);
  const int32_t colorType = __ioCTypeFromQEL(layer->description);
  pi.release();

  if (TFX_AddImage(page->pageHandle, 1, colorType, 0, 0, xres, yres, width, height,
                   static_cast<uint32_t>(rowsPerStrip), 0, &page->imageHandle) != TFX_OK) {
    return TIO_WRITE_FAILED;
  }
  int32_t a = 0, b = 75, c = 0;
  if (TFX_ImageWriteStart(page->imageHandle, 0, &a, &b, &c) != TFX_OK) return TIO_WRITE_FAILED;
  const SioStrip* strip = strips.head();
  for (uint32_t row = 0; row < height; strip = strip->next) {
    if (!strip || !strip->data || strip->size <= 0) return TIO_WRITE_FAILED;
    const TFX_Coding how{strip->compression, strip->colorSpace};
    if (TFX_CompressedWriteStrip(page->imageHandle, row, static_cast<uint32_t>(strip->rowCount), strip->data,
                                 static_cast<uint32_t>(strip->size), &how) != TFX_OK) {
      return TIO_WRITE_FAILED;
    }
    row += static_cast<uint32_t>(strip->rowCount);
  }
  if (TFX_ImageWriteFinish(page->imageHandle) != TFX_OK) return TIO_WRITE_FAILED;
  return TFX_AddPageFinish(page->pageHandle) == TFX_OK ? TIO_OK : TIO_WRITE_FAILED;
}

int32_t write_page(TIOState* s, elf_object* image, int mode) {
  if (mode == 1 || mode == 2) return TIO_MODE_UNSUPPORTED;
  if (mode > 2) return TIO_OK;
  TIODocument* doc = s->document;
  // A document closed by an earlier failure takes no more pages.
  if (!doc || !doc->handle) return TIO_WRITE_FAILED;
  if (!s->page) {
    s->page = static_cast<TIOPage*>(std::calloc(1, sizeof(TIOPage)));
    if (!s->page) return TIO_NO_MEMORY;
  }
  TIOPage* page = s->page;
  page->pageHandle = nullptr;
  page->imageHandle = nullptr;
  if (TFX_AddPageStart(doc->handle, -1, &page->pageHandle) != TFX_OK) return TIO_WRITE_FAILED;
  return write_page_image(s, page, image);
}

}  // namespace

extern "C" {

int __singlePageMgr(TIOState* s, elf_object* image, int mode) {
  if (!tagged(s) || !s->document) return TIO_WRITE_FAILED;
  char* pageName = nullptr;
  if (!s->multiPage) {
    if (s->document->key) return TIO_WRITE_FAILED;
    pageName = __DIO_makeFullName(s->fileName, s->pageCount + 1, "tif");
    if (!pageName) return TIO_WRITE_FAILED;
    SioFileKey* key = nullptr;
    if (__sioCreateWriteFileKey(pageName, &key) != TIO_OK) {
      __DIO_releaseFullName(pageName);
      return TIO_WRITE_FAILED;
    }
    s->document->key = key;
    if (create_document(s, key) != TFX_OK) {
      close_file(s->document);
      __DIO_releaseFullName(pageName);
      std::free(s->document);
      s->document = nullptr;
      return TIO_WRITE_FAILED;
    }
  }
  int32_t result = write_page(s, image, mode);
  if (result != TIO_OK && s->document->handle) {
    // The bridge knows why it refused the page; the status only says that writing failed.
    const char* why = TFX_GetErrorText(s->document->handle);
    if (why && *why) KVngError("%s: page %d: %s\n", s->fileName, static_cast<int>(s->pageCount) + 1, why);
  }
  // A page file takes its name only with its page; a document that lost a page keeps none.
  if (result != TIO_OK) {
    SioFileKey* key = s->document->key;
    if (key && key->writeError && key->output) {
      // The system's reason goes with the file's name.
      setStatus(state_of(image), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "IO Write Error in TIFF IO: cannot write %s: %s\n",
                key->output->target, std::strerror(key->writeError));
      s->status = TIO_WRITE_FAILED;
    }
    close_file(s->document);
  } else if (!s->multiPage) {
    result = close_file(s->document, true, state_of(image));
  }
  __DIO_releaseFullName(pageName);
  // Only a page that reached the document counts.
  if (result == TIO_OK) ++s->pageCount;
  return result;
}

void* TIFFWriteInit(elf_state*, const char* fileName, int32_t format, int32_t subtype) {
  auto* s = static_cast<TIOState*>(std::calloc(1, sizeof(TIOState)));
  if (!s) return nullptr;
  s->sizeTag = TIO_SIZE_TAG;
  s->magic = TIO_MAGIC;
  s->multiPage = 1;
  char* ext = fileName ? elfExt(fileName) : nullptr;
  if (ext) {
    s->fileName = elfStrDup(fileName);
  } else if (fileName) {
    const size_t n = std::strlen(fileName);
    s->fileName = static_cast<char*>(elfMalloc(n + 5));
    if (s->fileName) std::snprintf(s->fileName, n + 5, "%s.tif", fileName);
  }
  _elfFree(ext);
  s->format = format;
  s->subtype = subtype;
  if (!s->fileName || __initMIOHandle(&s->instance) != 0) {
    _elfFree(s->fileName);
    std::free(s);
    return nullptr;
  }
  return s;
}

int TIFFSetAttributes(void* backend, elf_object* attributes) {
  auto* s = static_cast<TIOState*>(backend);
  if (!tagged(s)) {
    return setStatus(state_of(attributes), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "TIFFSetAttributes: invalid internal state\n");
  }
  if (!attributes) {
    s->multiPage = 1;
    return QEL_STATUS_OK;
  }
  int32_t single = -1;
  lstScanArgs(attributes, "_DIOsinglePageFile:b", LST_OPTIONAL, &single, LST_END);
  if (single != -1) s->multiPage = single ? 0 : 1;
  return QEL_STATUS_OK;
}

int TIFFInitTransforms(void* backend, elf_object* specs) {
  elf_state* context = specs ? specs->state : nullptr;
  auto* s = static_cast<TIOState*>(backend);
  if (!tagged(s)) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "TIFFInitTransforms: invalid internal state\n");
  }
  elf_object* spec = nullptr;
  int status = __createDefaultTransformSpec(context, &spec);
  if (status != QEL_STATUS_OK) return status;
  const int described = __setTSAttributes(context, spec, s->format, s->subtype, DIO_ORIENT_ANY, DIO_PAGE_FLAT,
                                          DIO_PAGES_ANY);
  const RasterTargets* t = raster_targets(s->format, s->subtype);
  if (!t) {
    status = described;
  } else {
    if (t->contone.depth) {
      status = set_raster(context, spec, t->contone);
    } else {
      __unsetTSRasterAttr(context, spec, 0);  // fax profiles without colour take no contone page
    }
    if (status == QEL_STATUS_OK) status = set_raster(context, spec, t->binary);
  }
  if (status == QEL_STATUS_OK && elflistInsert(specs, spec, 0, 0) != 0) {
    status = setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "TIFFInitTransforms: cannot keep a spec\n");
  }
  if (status != QEL_STATUS_OK) elfDiscard(spec);
  return status;
}

int __TIFF_OpenDocumentWrite(TIOState* s) {
  if (!tagged(s)) return TIO_WRITE_FAILED;
  if (s->document) return TIO_OK;
  auto* doc = static_cast<TIODocument*>(std::calloc(1, sizeof(TIODocument)));
  if (!doc) return TIO_NO_MEMORY;
  s->document = doc;
  doc->profile = creation_profile(s->format, s->subtype);
  doc->option = 0;
  if (!s->multiPage) return TIO_OK;
  if (__sioCreateWriteFileKey(s->fileName, &doc->key) != TIO_OK || create_document(s, doc->key) != TFX_OK) {
    close_file(doc);
    std::free(doc);
    s->document = nullptr;
    return TIO_WRITE_FAILED;
  }
  return TIO_OK;
}

int __TIFF_CloseDocumentWrite(TIOState* s) {
  if (!tagged(s)) return TIO_WRITE_FAILED;
  const int32_t result = close_file(s->document, true, nullptr);
  std::free(s->document);
  s->document = nullptr;
  return result;
}

int TIFFAppendPage(void* backend, elf_object* image, int32_t* count) {
  auto* s = static_cast<TIOState*>(backend);
  if (!tagged(s) || s->reading) {
    return setStatus(state_of(image), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "TIFFAppendPage: invalid internal state\n");
  }
  int32_t code = __TIFF_OpenDocumentWrite(s);
  s->status = 0;
  if (code == TIO_OK) code = __singlePageMgr(s, image, 0);
  if (count) *count = s->pageCount;
  if (code == TIO_OK) return QEL_STATUS_OK;
  // A write the system refused has been told with its reason already.
  return s->status == TIO_WRITE_FAILED && code == TIO_WRITE_FAILED ? QEL_STATUS_INVALID
                                                                     : tio::report(state_of(image), code);
}

int TIFFInsertPage(void* backend, elf_object* image, int32_t* count) { return TIFFAppendPage(backend, image, count); }

int __TIFF_CompressWrite(TIOState* s, elf_object* image) {
  const int32_t code = __TIFF_OpenDocumentWrite(s);
  return code == TIO_OK ? __singlePageMgr(s, image, 1) : code;
}

int __TIFF_UncompressWrite(TIOState* s, elf_object* image) {
  const int32_t code = __TIFF_OpenDocumentWrite(s);
  return code == TIO_OK ? __singlePageMgr(s, image, 2) : code;
}

void TIFFRelease(elf_object* record) {
  elf_DOCUMENTWRITER* w = dioWriter(record);
  elf_DOCUMENTREADER* r = w ? nullptr : dioReader(record);
  auto* s = static_cast<TIOState*>(w ? w->backend : r ? r->backend : nullptr);
  if (!tagged(s)) return;
  if (s->checksum) {
    s->checksum->release(s->checksum);
    s->checksum = nullptr;
  }
  if (s->reading) {
    __TIFF_ClosePage(s);
    __TIFF_CloseDocumentRead(s);
  } else if (s->document) {
    close_file(s->document, true, record->state);
    std::free(s->document);
    s->document = nullptr;
  }
  std::free(s->page);
  s->page = nullptr;
  _elfFree(s->fileName);
  s->sizeTag = s->magic = 0;
  std::free(s);
}

}  // extern "C"
