// Reading TIFF and TIFF-FX documents through the TIFF-FX bridge, one page at a time, into an image
// of one layer whose data items are the page's strips as the file codes them; only PackBits is
// expanded, because the engine has no decoder for it.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "checked_size.h"
#include "kvng_hdr.h"
#include "tio.h"

namespace {

bool tagged(const TIOState* s) { return s && s->sizeTag == TIO_SIZE_TAG && s->magic == TIO_MAGIC; }

struct FormatOfProfile {
  int32_t profile, format, subtype;
};
constexpr FormatOfProfile profile_formats[] = {
    {TFX_PROFILE_S, DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_S},
    {TFX_PROFILE_F, DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_F},
    {TFX_PROFILE_C, DIO_FORMAT_TIFFFX, DIO_SUBFORMAT_PROFILE_C},
    {TFX_PROFILE_TIFF_JPEG, DIO_FORMAT_TIFF, DIO_SUBFORMAT_TIFF_TN2},
};

// Samples per pixel and bits per sample of each colour type.
struct Samples {
  int32_t samples, bits;
};
constexpr Samples samples_of_type[] = {{0, 0}, {1, 1}, {1, 4}, {1, 8}, {1, 4}, {1, 8},
                                       {3, 4}, {3, 8}, {1, 1}, {1, 4}, {1, 8}};

Samples samples_of(int32_t colorType) {
  return colorType >= 0 && colorType < static_cast<int32_t>(std::size(samples_of_type)) ? samples_of_type[colorType]
                                                                                        : Samples{0, 0};
}

int fail(elf_state* context, const char* text) {
  return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s", text);
}

// Results of the bridge's document calls: 1 to 9999 fail, notes above that do not.
bool bridge_failed(int32_t r) { return r >= 1 && r <= 9999; }

// Restart interval of a page's strips: 0 for uncompressed data or one strip, the strips' height
// when they share one (the last may be shorter), -1 when they differ.
int32_t restart_interval(const SioStrip* first) {
  bool coded = false;
  int32_t strips = 0;
  for (const SioStrip* s = first; s; s = s->next, ++strips) coded = coded || s->compression >= 2;
  if (!coded || strips <= 1) return 0;
  int32_t differ = 0;
  for (const SioStrip* s = first->next; s && s->next; s = s->next) differ += s->rowCount != first->rowCount;
  return differ <= 1 ? first->rowCount : -1;
}

// A new data item, chained after *tail (or first), owning data.
bool chain_item(elf_state* context, elf_QELLAYER* layer, elf_object** tail, void* data, size_t size,
                const char* note) {
  elf_object* item = elfNewPointer(context, data, size);
  if (!item) return false;
  auto* p = reinterpret_cast<elf_POINTER*>(item);
  if (note && !(p->description = elfStrDup(note))) {
    elfDiscard(item);
    return false;
  }
  if (*tail) {
    ELF_ASSIGN(context, &reinterpret_cast<elf_POINTER*>(*tail)->next, item);
  } else {
    ELF_ASSIGN(context, &layer->data, item);
  }
  *tail = item;
  return true;
}

// Expands PackBits into out (exactly size bytes); the bytes it fills.
size_t unpack_bits(const uint8_t* in, size_t length, uint8_t* out, size_t size) {
  size_t o = 0;
  for (size_t i = 0; i < length && o < size;) {
    const int8_t n = static_cast<int8_t>(in[i++]);
    if (n >= 0) {
      size_t copy = static_cast<size_t>(n) + 1;
      if (copy > length - i) copy = length - i;
      if (copy > size - o) copy = size - o;  // more than the rows hold: cut
      std::memcpy(out + o, in + i, copy);
      o += copy;
      i += static_cast<size_t>(n) + 1;
    } else if (n != -128) {
      if (i >= length) break;
      size_t repeat = static_cast<size_t>(1 - n);
      if (repeat > size - o) repeat = size - o;
      std::memset(out + o, in[i++], repeat);
      o += repeat;
    }
  }
  return o;
}

int add_packbits(elf_state* context, elf_QELLAYER* layer, const SioStrip* first, int32_t bytesPerRow) {
  elf_object* tail = nullptr;
  for (const SioStrip* s = first; s; s = s->next) {
    size_t size;
    if (!mono::checked_mul(static_cast<size_t>(s->rowCount), static_cast<size_t>(bytesPerRow), &size) || !size) {
      return fail(context, "__addDatafromPackbits: Unable to allocate memory for pointer\n");
    }
    auto* data = static_cast<uint8_t*>(elfCalloc(1, size));
    if (!data) {
      return fail(context, tail ? "__addDatafromPackbits: Unable to allocate memory for additional pointer\n"
                                : "__addDatafromPackbits: Unable to allocate memory for pointer\n");
    }
    const size_t filled = unpack_bits(static_cast<const uint8_t*>(s->data), static_cast<size_t>(s->size), data, size);
    if (filled < size) {
      _elfFree(data);
      return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                       "__addDatafromPackbits: a strip of %d rows expands to %zu of its %zu bytes\n", s->rowCount,
                       filled, size);
    }
    if (!chain_item(context, layer, &tail, data, size, nullptr)) {
      _elfFree(data);
      return fail(context, tail ? "__addDatafromPackbits: Unable to allocate additional pointer\n"
                                : "__addDatafromPackbits: Unable to allocate pointer\n");
    }
  }
  return QEL_STATUS_OK;
}

int add_strips(elf_state* context, elf_QELLAYER* layer, const SioStrip* first, int32_t interval) {
  char note[32] = "";
  if (interval > 0) std::snprintf(note, sizeof note, "restart;%d", interval);
  if (interval == -1) std::snprintf(note, sizeof note, "restart");
  elf_object* tail = nullptr;
  for (const SioStrip* s = first; s; s = s->next) {
    const size_t size = s->size > 0 ? static_cast<size_t>(s->size) : 0;
    void* data = size ? elfMalloc(size) : nullptr;
    if (size && !data) {
      return fail(context, tail ? "__addDatafromSio: Unable to allocate memory for additional pointer\n"
                                : "__addDatafromSio: Unable to allocate memory for pointer\n");
    }
    if (size) std::memcpy(data, s->data, size);
    const bool noted = *note && (s == first || s->next);
    if (!chain_item(context, layer, &tail, data, size, noted ? note : nullptr)) {
      _elfFree(data);
      return fail(context, tail ? "__addDatafromSio: Unable to allocate additional pointer\n"
                                : "__addDatafromSio: Unable to allocate pointer\n");
    }
  }
  return QEL_STATUS_OK;
}

// The layer's description from the page record and its first strip.
int fill_header(elf_state* context, elf_QELHDR* h, const TIOPage* page, int32_t* predictor) {
  const Samples sm = samples_of(page->colorType);
  if (sm.samples < 1) {
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     "__initQelHdrFromSio: colour type %d cannot be described\n", page->colorType);
  }
  h->width = static_cast<int32_t>(page->width);
  h->height = static_cast<int32_t>(page->height);
  h->samplesPerPixel = sm.samples;
  h->compression = __compressFromIOCompression(page->strip.compression, predictor);
  if (h->compression == -1) return fail(context, "__AddCompressionExtraData: Unknown compression\n");
  h->interleave = h->compression == QEL_COMPRESSION_JPEG ? 3 : 1;
  h->bitsPerSample = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(sm.samples), sizeof(int32_t)));
  h->bytesPerRow = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(sm.samples), sizeof(int32_t)));
  if (!h->bitsPerSample || !h->bytesPerRow) {
    return fail(context, "__initQelHdrFromSio: Unable to allocate space for bits or bytes\n");
  }
  h->bitsPerSampleCount = h->bytesPerRowCount = sm.samples;
  h->bitsPerSample[0] = sm.bits;
  h->bytesPerRow[0] = static_cast<int32_t>((int64_t{h->width} * sm.samples * sm.bits + 7) / 8);
  h->photometric = __photoFromIOColortype(page->colorType, page->strip.colorSpace);
  return QEL_STATUS_OK;
}

// Tells the engine how the strips are coded: the coding with its restart interval and
// variants, after a differencing predictor when the file names one.
int add_compression_data(elf_state* context, elf_object* description, int32_t interval, int32_t predictor) {
  const elf_QELHDR* h = qelHdr(description);
  const KVHdrManager* manager = nullptr;
  if (KVHdrGetManager_Str("internal", "2.1", &manager) != 1) {
    return fail(context, "__AddCompressionExtraData: Error from KVHdr manager\n");
  }
  KVHdr* engineHeader = nullptr;
  if (KVHdrCreateHeader(manager, &engineHeader) != 1) {
    return fail(context, "__AddCompressionExtraData: Error from create KVHdr\n");
  }
  KVHdrFree(engineHeader);
  char note[48] = "";
  if (h->compression != QEL_COMPRESSION_NONE) {
    size_t n = 0;
    auto add = [&](const char* item) {
      n += static_cast<size_t>(std::snprintf(note + n, sizeof note - n, "%s%s", n ? "," : "", item));
    };
    char restart[24] = "";
    if (interval > 0) std::snprintf(restart, sizeof restart, "restart;%d", interval);
    if (interval == -1) std::snprintf(restart, sizeof restart, "restart");
    if (*restart) add(restart);
    if (h->compression == QEL_COMPRESSION_JPEG && (h->photometric == 2 || h->photometric == 111)) {
      add("ycc_transform");
    }
    if (h->compression == QEL_COMPRESSION_LZW) add("earlychange");
  }
  KVngCompressionData* chain = KVngCreateCompressionData();
  bool ok = chain && (!predictor || KVngPushCompressionData(chain, 15, "diff")) &&
            KVngPushCompressionData(chain, h->compression, *note ? note : nullptr);
  KVngUserCMData* user = ok ? KVngHdrUserData(description, 1) : nullptr;
  ok = user && KVngSaveCompressionData(user, chain);
  KVngFreeCompressionData(chain);
  return ok ? QEL_STATUS_OK : fail(context, "__AddCompressionExtraData: Unable to allocate compression data\n");
}

// The page read into a new image of one layer in *image.
int page_to_image(elf_state* context, TIOState* s, elf_object** image) {
  TIOPage* page = s->page;
  const int32_t interval = restart_interval(&page->strip);
  elf_object* layerObj = new_QELLAYER(context, nullptr, nullptr);
  if (!layerObj) return fail(context, "__sioPagetoQELIMAGE: Unable to create layer\n");
  elf_object* header = new_QELHDR(context, nullptr, nullptr);
  if (!header) {
    elfDiscard(layerObj);
    return fail(context, "__sioPagetoQELIMAGE: Unable to create header\n");
  }
  elf_QELLAYER* layer = qelLayer(layerObj);
  ELF_ASSIGN(context, &layer->description, header);
  elf_QELHDR* h = qelHdr(header);
  int32_t predictor = 0;
  int status = fill_header(context, h, page, &predictor);
  if (status == QEL_STATUS_OK) status = add_compression_data(context, header, interval, predictor);
  if (status == QEL_STATUS_OK) {
    layer->xres = static_cast<double>(page->xres);
    layer->yres = static_cast<double>(page->yres);
    layer->width = h->width;
    layer->height = h->height;
    layer->kind = h->samplesPerPixel == 1 && h->bitsPerSample[0] == 1 ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
    if (page->strip.compression == TFX_CODING_PACKBITS) {
      h->compression = QEL_COMPRESSION_NONE;
      h->interleave = 1;
      status = add_packbits(context, layer, &page->strip, h->bytesPerRow[0]);
    } else {
      status = add_strips(context, layer, &page->strip, interval);
    }
  }
  elf_object* made = status == QEL_STATUS_OK ? new_QELIMAGE(context, nullptr, nullptr) : nullptr;
  if (status == QEL_STATUS_OK && !made) status = fail(context, "__sioPagetoQELIMAGE: Unable to create image\n");
  if (made) {
    elf_QELIMAGE* im = qelImage(made);
    im->width = h->width;
    im->height = h->height;
    im->xres = layer->xres;
    im->yres = layer->yres;
    if (QELAppendLayer(made, "layer0", layerObj) != QEL_STATUS_OK) {
      elfDiscard(made);
      made = nullptr;
      status = fail(context, "__sioPagetoQELIMAGE: Unable to create image\n");
    }
  }
  if (status != QEL_STATUS_OK) {
    elfDiscard(layerObj);
    return status;
  }
  *image = made;
  return QEL_STATUS_OK;
}

}  // namespace

extern "C" {

int __TIFF_OpenDocumentRead(TIOState* s) {
  if (!tagged(s)) return TIO_READ_FAILED;
  if (s->document) return TIO_NOTHING;
  auto* doc = static_cast<TIODocument*>(std::calloc(1, sizeof(TIODocument)));
  if (!doc) return TIO_NO_MEMORY;
  s->document = doc;
  const int32_t keyed = __sioCreateReadFileKey(s->fileName, &doc->key);
  int32_t failed = keyed != TIO_OK;
  if (!failed) {
    failed = TFX_OpenDocumentRead(__tioInstance(), doc->key, 0, __sioCnctRead, __sioCnctWrite, __sioCnctSeek,
                                  __sioCnctSize, __sioCnctTell, &doc->handle) != TFX_OK;
  }
  uint8_t byteOrder = 0, fax = 0;
  uint16_t pages = 0;
  if (!failed) failed = bridge_failed(TFX_GetDocInfo(doc->handle, &byteOrder, &fax, &pages));
  if (!failed) failed = bridge_failed(TFX_GetDocProfile(doc->handle, &doc->readProfile));
  if (failed) {
    __TIFF_CloseDocumentRead(s);
    return TIO_READ_FAILED;
  }
  s->format = DIO_FORMAT_TIFF;
  s->subtype = DIO_SUBFORMAT_TIFF_V6;
  for (const FormatOfProfile& f : profile_formats) {
    if (f.profile == doc->readProfile) {
      s->format = f.format;
      s->subtype = f.subtype;
    }
  }
  s->pageCount = pages;
  return TIO_OK;
}

int __TIFF_CloseDocumentRead(TIOState* s) {
  if (!tagged(s) || !s->document) return TIO_OK;
  if (s->document->handle) TFX_CloseDocument(s->document->handle);
  __sioReleaseFileKey(s->document->key);
  std::free(s->document);
  s->document = nullptr;
  s->image = nullptr;
  return TIO_OK;
}

void* TIFFReadInit(elf_state* context, const char* fileName, int32_t* format, int32_t* subtype) {
  auto* s = static_cast<TIOState*>(std::calloc(1, sizeof(TIOState)));
  if (!s) return nullptr;
  s->sizeTag = TIO_SIZE_TAG;
  s->magic = TIO_MAGIC;
  s->pageCount = -1;
  s->multiPage = 1;
  s->fileName = fileName ? elfStrDup(fileName) : nullptr;
  if ((fileName && !s->fileName) || __initMIOHandle(&s->instance) != 0) {
    _elfFree(s->fileName);
    std::free(s);
    return nullptr;
  }
  s->reading = 1;
  const int32_t code = __TIFF_OpenDocumentRead(s);
  if (code == TIO_OK) {
    if (format) *format = s->format;
    if (subtype) *subtype = s->subtype;
  } else {
    if (format) *format = 0;
    if (subtype) *subtype = 1;
    s->status = tio::report(context, code);
  }
  return s;
}

int TIFFReadGetPageCount(elf_state* context, void* backend, int32_t* count) {
  auto* s = static_cast<TIOState*>(backend);
  if (!tagged(s)) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "TIFFReadGetPageCount: invalid internal state\n");
  }
  if (s->pageCount >= 0) {
    if (count) *count = s->pageCount;
    return QEL_STATUS_OK;
  }
  if (count) *count = -1;
  return s->status ? s->status
                   : setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                               "TIFFReadGetPageCount: no document is open for reading\n");
}

int __TIFF_GetPageInfo(TIOState* s) {
  if (!tagged(s) || !s->document || !s->document->handle) return TIO_NOTHING;
  auto* page = static_cast<TIOPage*>(std::calloc(1, sizeof(TIOPage)));
  if (!page) return TIO_NO_MEMORY;
  page->document = s->document;
  int32_t subfileType = 0;
  if (TFX_GetPageInfo(s->document->handle, s->pageIndex, &page->imageFlags, &page->imageCount, &subfileType,
                      &page->pageHandle) != TFX_OK) {
    std::free(page);
    return TIO_READ_FAILED;
  }
  s->page = page;
  return TIO_OK;
}

int __sioTIFFCompressRead(TIOState* s) {
  TIOPage* page = tagged(s) ? s->page : nullptr;
  if (!page || !page->pageHandle) return TIO_NOTHING;
  page->imageIndex = 0;
  if (page->imageCount < 2) {
    page->imageIndex = 1;
  } else {
    for (int32_t i = 0; i < page->imageCount && !page->imageIndex; ++i) {
      if (page->imageFlags && page->imageFlags[i]) page->imageIndex = i + 1;
    }
    if (!page->imageIndex) return TIO_NOTHING;
  }
  int32_t bits = 0, samples = 0, colorSpace = 0;
  uint32_t coding = 0;
  TFX_Image* image = nullptr;
  if (TFX_GetImageInfo(page->pageHandle, page->imageIndex, 0, &bits, &samples, &page->xres, &page->yres, &page->width,
                       &page->height, &page->rowsPerStrip, &coding, &page->colorType, 0, &image) != TFX_OK ||
      TFX_GetColorSpace(image, &colorSpace) != TFX_OK || TFX_ImageReadStart(image, 0) != TFX_OK) {
    return TIO_NOTHING;
  }
  page->imageHandle = image;
  s->image = image;
  const bool whole = coding == TFX_CODING_JBIG2 || coding == TFX_CODING_JBIG || coding == TFX_CODING_JBIG_COLOUR ||
                     coding == TFX_CODING_JPEG2000;
  if (whole) {
    int32_t index = 0;
    uint32_t firstRow = 0, rowCount = 0, size = 0;
    TFX_Coding how{};
    if (TFX_GetStripeInfo(page->pageHandle, 0, &index, &firstRow, &rowCount) != TFX_OK ||
        TFX_CompressedReadStrip(image, 0, rowCount, &page->strip.data, &size, &how) != TFX_OK) {
      return TIO_NOTHING;
    }
    page->strip.rowCount = static_cast<int32_t>(rowCount);
    page->strip.size = static_cast<int32_t>(size);
    page->strip.compression = coding;
    page->strip.colorSpace = colorSpace;
    return TIO_OK;
  }
  if (coding == TFX_CODING_JPEG && colorSpace == TFX_CSPACE_JPEG_YCBCR) colorSpace = TFX_CSPACE_YCBCR;
  SioStrip* strip = &page->strip;
  for (uint32_t row = 0; row < page->height;) {
    int32_t index = 0;
    uint32_t firstRow = 0, rowCount = 0, size = 0;
    TFX_Coding how{};
    if (TFX_GetStripeInfo(page->pageHandle, row, &index, &firstRow, &rowCount) != TFX_OK || rowCount == 0 ||
        TFX_CompressedReadStrip(image, row, rowCount, &strip->data, &size, &how) != TFX_OK) {
      return TIO_NOTHING;
    }
    strip->firstRow = strip->firstRowAgain = static_cast<int32_t>(row);
    strip->rowCount = static_cast<int32_t>(rowCount);
    strip->size = static_cast<int32_t>(size);
    strip->compression = coding;
    strip->colorSpace = colorSpace;
    if (row + rowCount < page->height) {
      auto* next = static_cast<SioStrip*>(std::calloc(1, sizeof(SioStrip)));
      if (!next) return TIO_NO_MEMORY;
      strip->next = next;
      strip = next;
    }
    row += rowCount;
  }
  return TIO_OK;
}

int __TIFF_ClosePage(TIOState* s) {
  TIOPage* page = tagged(s) ? s->page : nullptr;
  if (!page) return TIO_OK;
  for (SioStrip* strip = &page->strip; strip;) {
    SioStrip* next = strip->next;
    if (strip->data) TFX_StripFree(page->imageHandle, strip->data);
    strip->data = nullptr;
    if (strip != &page->strip) std::free(strip);
    strip = next;
  }
  std::free(page);
  s->page = nullptr;
  s->image = nullptr;
  return TIO_OK;
}

int TIFFReadGetPage(elf_state* context, void* backend, int32_t pageNumber, elf_object** image) {
  if (image) *image = nullptr;
  auto* s = static_cast<TIOState*>(backend);
  if (!tagged(s) || !s->reading || !image) return fail(context, "Invalid internal TIFF_IO state.\n");
  if (!s->document) {
    return s->status ? s->status
                     : setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                                 "TIFFReadGetPage: no document is open for reading\n");
  }
  if (pageNumber < 1 || pageNumber > s->pageCount) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "TIFFReadGetPage: page %d is not in the document of %d pages\n", pageNumber, s->pageCount);
  }
  __TIFF_ClosePage(s);  // one left by an interrupted call
  s->pageIndex = pageNumber - 1;
  int32_t code = __TIFF_GetPageInfo(s);
  if (code == TIO_OK) code = __sioTIFFCompressRead(s);
  // A page's steps fail where a bridge call fails, and the bridge keeps the text of why.
  TFX_Document* bridge = s->document->handle;
  const char* why = bridge && (code == TIO_READ_FAILED || code == TIO_NOTHING) ? TFX_GetErrorText(bridge) : "";
  const int status = code == TIO_OK ? page_to_image(context, s, image)
                     : *why         ? setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s\n", why)
                                    : tio::report(context, code);
  __TIFF_ClosePage(s);
  return status;
}

int TIFFReadGetChecksum(elf_state* context, void* backend, int32_t* sum) {
  auto* s = static_cast<TIOState*>(backend);
  if (!tagged(s)) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "TIFFReadGetChecksum: invalid internal state\n");
  }
  if (s->checksum) s->checksum->release(s->checksum);
  s->checksum = s->fileName ? KVngIO_FileName(s->fileName, "r") : nullptr;
  const int64_t crc = s->checksum ? __DIO_unfilteredChecksum(s->checksum) : -1;
  if (crc < 0) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "TIFFReadGetChecksum: Unable to configure for checksum\n");
  }
  if (sum) *sum = static_cast<int32_t>(static_cast<uint32_t>(crc));
  return QEL_STATUS_OK;
}

}  // extern "C"
