// The imaging engine's TIFF library over libtiff: handles that carry the caller's callbacks and
// route libtiff's messages to the engine's printers.

#include "kvtf.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "kvng.h"
#include "kvng_print.h"

static_assert(sizeof(tmsize_t) <= sizeof(int64_t) && sizeof(toff_t) == sizeof(uint64_t));
static_assert(TIFFTAG_JPEGQUALITY == KVTF_TAG_JPEGQUALITY && TIFFTAG_JPEGCOLORMODE == KVTF_TAG_JPEGCOLORMODE);
static_assert(TIFFTAG_FAXPROFILE == KVTF_TAG_FAXPROFILE && COMPRESSION_ADOBE_DEFLATE == KVTF_COMPRESSION_ADOBE_DEFLATE);

struct KVTF_TIFF {
  TIFF* tif = nullptr;
  KVTF_thandle client = nullptr;
  KVTF_ReadWriteProc read = nullptr;
  KVTF_ReadWriteProc write = nullptr;
  KVTF_SeekProc seek = nullptr;
  KVTF_CloseProc close = nullptr;
  KVTF_SizeProc size = nullptr;
  KVTF_MapFileProc map = nullptr;
  KVTF_UnmapFileProc unmap = nullptr;
  int errors = 0;
  int warnings = 0;
  char last[256] = "";  // the latest error or warning, so that a caller can name the cause
};

namespace {

void print_message(int kind, const char* module, const char* format, va_list ap, KVTF_TIFF* handle = nullptr) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, ap);
  const char* m = module && *module ? module : "TIFF";
  if (handle) std::snprintf(handle->last, sizeof handle->last, "%.*s", static_cast<int>(sizeof handle->last - 1), text);
  if (kind == KVNG_PRINT_ERROR) {
    KVngError("%s: %s\n", m, text);
  } else {
    KVngDebug("%s: %s\n", m, text);
  }
}

int on_error(TIFF*, void* data, const char* module, const char* format, va_list ap) {
  auto* handle = static_cast<KVTF_TIFF*>(data);
  if (handle) ++handle->errors;
  print_message(KVNG_PRINT_ERROR, module, format, ap, handle);
  return 1;
}

int on_warning(TIFF*, void* data, const char* module, const char* format, va_list ap) {
  auto* handle = static_cast<KVTF_TIFF*>(data);
  if (handle) ++handle->warnings;
  print_message(KVNG_PRINT_DEBUG, module, format, ap, handle);
  return 1;
}

KVTF_TIFF* of(thandle_t h) { return static_cast<KVTF_TIFF*>(h); }

tmsize_t client_read(thandle_t h, void* buffer, tmsize_t n) {
  return static_cast<tmsize_t>(of(h)->read(of(h)->client, buffer, n));
}
tmsize_t client_write(thandle_t h, void* buffer, tmsize_t n) {
  return static_cast<tmsize_t>(of(h)->write(of(h)->client, buffer, n));
}
toff_t client_seek(thandle_t h, toff_t offset, int whence) { return of(h)->seek(of(h)->client, offset, whence); }
int client_close(thandle_t h) { return of(h)->close ? of(h)->close(of(h)->client) : 0; }
toff_t client_size(thandle_t h) { return of(h)->size(of(h)->client); }
int client_map(thandle_t h, void** base, toff_t* size) {
  if (!of(h)->map) return 0;
  uint64_t n = 0;
  const int mapped = of(h)->map(of(h)->client, base, &n);
  *size = n;
  return mapped;
}
void client_unmap(thandle_t h, void* base, toff_t size) {
  if (of(h)->unmap) of(h)->unmap(of(h)->client, base, size);
}

// Options every handle is opened with: its own message handlers and the allocation bound.
TIFFOpenOptions* options_for(KVTF_TIFF* handle) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, handle);
  TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, handle);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(KVTF_MAX_SINGLE_ALLOC));
  return options;
}

// Finishes an open: the handle with its TIFF, or nothing.
KVTF_TIFF* opened(KVTF_TIFF* handle, TIFF* tif) {
  if (!tif) {
    delete handle;
    return nullptr;
  }
  handle->tif = tif;
  return handle;
}

}  // namespace

KVTF_TIFF* KVTF_TIFFClientOpen(const char* name, const char* mode, KVTF_thandle client, KVTF_ReadWriteProc read,
                               KVTF_ReadWriteProc write, KVTF_SeekProc seek, KVTF_CloseProc close, KVTF_SizeProc size,
                               KVTF_MapFileProc map, KVTF_UnmapFileProc unmap) {
  if (!read || !write || !seek || !size) {
    KVTF_TIFFError("KVTF_TIFFClientOpen", "%s: read, write, seek and size callbacks are needed", name ? name : "");
    return nullptr;
  }
  auto* handle = new (std::nothrow) KVTF_TIFF;
  if (!handle) return nullptr;
  *handle = KVTF_TIFF{nullptr, client, read, write, seek, close, size, map, unmap};
  TIFFOpenOptions* options = options_for(handle);
  TIFF* tif = options ? TIFFClientOpenExt(name ? name : "", mode, handle, client_read, client_write, client_seek,
                                          client_close, client_size, client_map, client_unmap, options)
                      : nullptr;
  TIFFOpenOptionsFree(options);
  return opened(handle, tif);
}

KVTF_TIFF* KVTF_TIFFOpen(const char* filename, const char* mode) {
  auto* handle = new (std::nothrow) KVTF_TIFF;
  if (!handle) return nullptr;
  TIFFOpenOptions* options = options_for(handle);
  TIFF* tif = options && filename ? TIFFOpenExt(filename, mode, options) : nullptr;
  TIFFOpenOptionsFree(options);
  return opened(handle, tif);
}

void KVTF_TIFFClose(KVTF_TIFF* tif) {
  if (!tif) return;
  TIFFClose(tif->tif);
  delete tif;
}

int KVTF_TIFFFlush(KVTF_TIFF* tif) { return TIFFFlush(tif->tif); }
const char* KVTF_TIFFFileName(KVTF_TIFF* tif) { return TIFFFileName(tif->tif); }
int KVTF_TIFFErrorCount(KVTF_TIFF* tif) { return tif ? tif->errors : 0; }
int KVTF_TIFFWarningCount(KVTF_TIFF* tif) { return tif ? tif->warnings : 0; }
const char* KVTF_TIFFLastMessage(KVTF_TIFF* tif) { return tif ? tif->last : ""; }

int KVTF_TIFFGetField(KVTF_TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int found = TIFFVGetField(tif->tif, tag, ap);
  va_end(ap);
  return found;
}

int KVTF_TIFFGetFieldDefaulted(KVTF_TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int found = TIFFVGetFieldDefaulted(tif->tif, tag, ap);
  va_end(ap);
  return found;
}

int KVTF_TIFFSetField(KVTF_TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int set = TIFFVSetField(tif->tif, tag, ap);
  va_end(ap);
  return set;
}

uint32_t KVTF_TIFFNumberOfDirectories(KVTF_TIFF* tif) { return TIFFNumberOfDirectories(tif->tif); }
uint32_t KVTF_TIFFCurrentDirectory(KVTF_TIFF* tif) { return TIFFCurrentDirectory(tif->tif); }
uint64_t KVTF_TIFFCurrentDirOffset(KVTF_TIFF* tif) { return TIFFCurrentDirOffset(tif->tif); }
int KVTF_TIFFSetDirectory(KVTF_TIFF* tif, uint32_t index) {
  // libtiff finds a directory by walking the chain from the first; the next one in order is
  // simply read, so that a file's pages visited in order cost their number, not its square.
  if (TIFFCurrentDirectory(tif->tif) != static_cast<tdir_t>(-1) && index == TIFFCurrentDirectory(tif->tif) + 1u &&
      !TIFFLastDirectory(tif->tif)) {
    return TIFFReadDirectory(tif->tif);
  }
  return TIFFSetDirectory(tif->tif, index);
}
int KVTF_TIFFReadDirectory(KVTF_TIFF* tif) { return TIFFReadDirectory(tif->tif); }
int KVTF_TIFFWriteDirectory(KVTF_TIFF* tif) { return TIFFWriteDirectory(tif->tif); }

int KVTF_TIFFIsTiled(KVTF_TIFF* tif) { return TIFFIsTiled(tif->tif); }
uint32_t KVTF_TIFFNumberOfStrips(KVTF_TIFF* tif) { return TIFFNumberOfStrips(tif->tif); }
uint32_t KVTF_TIFFNumberOfTiles(KVTF_TIFF* tif) { return TIFFNumberOfTiles(tif->tif); }
uint64_t KVTF_TIFFStripOffset(KVTF_TIFF* tif, uint32_t strile) { return TIFFGetStrileOffset(tif->tif, strile); }
uint64_t KVTF_TIFFStripByteCount(KVTF_TIFF* tif, uint32_t strile) { return TIFFGetStrileByteCount(tif->tif, strile); }
int64_t KVTF_TIFFStripSize(KVTF_TIFF* tif) { return TIFFStripSize(tif->tif); }
uint32_t KVTF_TIFFDefaultStripSize(KVTF_TIFF* tif, uint32_t request) { return TIFFDefaultStripSize(tif->tif, request); }
int64_t KVTF_TIFFScanlineSize(KVTF_TIFF* tif) { return TIFFScanlineSize(tif->tif); }

int64_t KVTF_TIFFReadRawStrip(KVTF_TIFF* tif, uint32_t strip, void* buffer, int64_t size) {
  return TIFFReadRawStrip(tif->tif, strip, buffer, static_cast<tmsize_t>(size));
}
int64_t KVTF_TIFFReadEncodedStrip(KVTF_TIFF* tif, uint32_t strip, void* buffer, int64_t size) {
  return TIFFReadEncodedStrip(tif->tif, strip, buffer, static_cast<tmsize_t>(size));
}
int64_t KVTF_TIFFWriteRawStrip(KVTF_TIFF* tif, uint32_t strip, void* data, int64_t count) {
  return TIFFWriteRawStrip(tif->tif, strip, data, static_cast<tmsize_t>(count));
}
int64_t KVTF_TIFFWriteEncodedStrip(KVTF_TIFF* tif, uint32_t strip, void* data, int64_t count) {
  return TIFFWriteEncodedStrip(tif->tif, strip, data, static_cast<tmsize_t>(count));
}
int KVTF_TIFFReadScanline(KVTF_TIFF* tif, void* buffer, uint32_t row, uint16_t sample) {
  return TIFFReadScanline(tif->tif, buffer, row, sample);
}
int KVTF_TIFFWriteScanline(KVTF_TIFF* tif, void* buffer, uint32_t row, uint16_t sample) {
  return TIFFWriteScanline(tif->tif, buffer, row, sample);
}

int KVTF_TIFFReadRGBAImage(KVTF_TIFF* tif, uint32_t width, uint32_t height, uint32_t* raster) {
  // libtiff packs red in the lowest byte of each word, which is what the header promises.
  return TIFFReadRGBAImageOriented(tif->tif, width, height, raster, ORIENTATION_TOPLEFT, 0);
}

int KVTF_TIFFReadRGBATile(KVTF_TIFF* tif, uint32_t col, uint32_t row, uint32_t* raster) {
  return TIFFReadRGBATileExt(tif->tif, col, row, raster, 1);
}

void* KVTF__TIFFmalloc(int64_t size) { return _TIFFmalloc(static_cast<tmsize_t>(size)); }
void KVTF__TIFFfree(void* block) { _TIFFfree(block); }

void KVTF_TIFFError(const char* module, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  print_message(KVNG_PRINT_ERROR, module, format, ap);
  va_end(ap);
}

void KVTF_TIFFWarning(const char* module, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  print_message(KVNG_PRINT_DEBUG, module, format, ap);
  va_end(ap);
}
