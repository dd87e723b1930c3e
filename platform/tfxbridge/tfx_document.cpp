// The library instance, documents over the caller's connectors, and what libtiff must know.

#include <cstdio>
#include <cstring>

#include "tfx_internal.h"

namespace tfx {

int32_t fail(TFX_Document* doc, int32_t code, const char* format, ...) {
  if (doc) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(doc->error, sizeof doc->error, format, ap);
    va_end(ap);
  }
  return code;
}

bool select_directory(TFX_Document* doc, int32_t index) {
  const int64_t current = TIFFCurrentDirectory(doc->tif);
  if (current == index) return true;
  // libtiff finds a directory by number walking the chain from the first; the next one is read
  // on from the current, so that pages visited in order cost their number, not its square.
  if (current + 1 == index && !TIFFLastDirectory(doc->tif)) return TIFFReadDirectory(doc->tif) == 1;
  return TIFFSetDirectory(doc->tif, static_cast<tdir_t>(index)) == 1;
}

uint64_t row_bytes(int32_t colorType, uint32_t width) {
  switch (colorType) {
    case TFX_CTYPE_BILEVEL:
      return (static_cast<uint64_t>(width) + 7) / 8;
    case TFX_CTYPE_GREY4:
      return (static_cast<uint64_t>(width) * 4 + 7) / 8;
    case TFX_CTYPE_GREY8:
      return width;
    case 6:
      return (static_cast<uint64_t>(width) * 12 + 7) / 8;
    case TFX_CTYPE_RGB24:
      return static_cast<uint64_t>(width) * 3;
    default:
      return 0;
  }
}

}  // namespace tfx

namespace {

using tfx::fail;

// The fields of fax documents, for a libtiff that does not know them yet.
TIFFFieldInfo kFaxFields[] = {
    {TIFFTAG_FAXPROFILE, 1, 1, TIFF_BYTE, FIELD_CUSTOM, 1, 0, const_cast<char*>("FaxProfile")},
    {TIFFTAG_CODINGMETHODS, 1, 1, TIFF_LONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("CodingMethods")},
    {TIFFTAG_VERSIONYEAR, 4, 4, TIFF_BYTE, FIELD_CUSTOM, 1, 0, const_cast<char*>("VersionYear")},
    {TIFFTAG_MODENUMBER, 1, 1, TIFF_BYTE, FIELD_CUSTOM, 1, 0, const_cast<char*>("ModeNumber")},
    {TIFFTAG_DECODE, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_SRATIONAL, FIELD_CUSTOM, 1, 1, const_cast<char*>("Decode")},
};

TIFFExtendProc previous_extender = nullptr;

void register_fax_fields(TIFF* tif) {
  for (TIFFFieldInfo& info : kFaxFields) {
    if (!TIFFFindField(tif, info.field_tag, TIFF_ANY)) TIFFMergeFieldInfo(tif, &info, 1);
  }
  if (previous_extender) previous_extender(tif);
}

// The instance holds nothing but marks that libtiff has been told about the fax fields.
struct Instance {
  uint32_t magic = 0x54465849;
};
Instance* the_instance = nullptr;

bool is_instance(void* p) { return p && p == the_instance; }

TFX_Document* doc_of(thandle_t h) { return static_cast<TFX_Document*>(h); }

// libtiff's procedures over the connectors, which move at most 2 GiB at a time and seek only
// from the start of the file.
template <class Byte, class Move>
tmsize_t move_bytes(Byte* buffer, tmsize_t count, Move move) {
  tmsize_t done = 0;
  while (done < count) {
    const tmsize_t left = count - done;
    const int32_t moved = move(buffer + done, left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(left));
    if (moved <= 0) break;
    done += moved;
  }
  return done;
}

tmsize_t read_proc(thandle_t h, void* buffer, tmsize_t count) {
  TFX_Document* d = doc_of(h);
  return move_bytes(static_cast<uint8_t*>(buffer), count,
                    [d](uint8_t* at, int32_t n) { return d->read(d->key, at, n); });
}

tmsize_t write_proc(thandle_t h, void* buffer, tmsize_t count) {
  TFX_Document* d = doc_of(h);
  return move_bytes(static_cast<const uint8_t*>(buffer), count,
                    [d](const uint8_t* at, int32_t n) { return d->write(d->key, at, n); });
}

toff_t size_proc(thandle_t h) {
  TFX_Document* d = doc_of(h);
  // The size connector leaves the file at its end; libtiff expects it where it was.
  const int32_t at = d->tell(d->key);
  const int32_t size = d->size(d->key);
  d->seek(d->key, at);
  return size < 0 ? 0 : static_cast<toff_t>(size);
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
  TFX_Document* d = doc_of(h);
  int64_t target = static_cast<int64_t>(offset);
  if (whence == SEEK_CUR) target += d->tell(d->key);
  if (whence == SEEK_END) target += static_cast<int64_t>(size_proc(h));
  if (target < 0 || target > 0x7FFFFFFF) return static_cast<toff_t>(-1);
  const int32_t at = d->seek(d->key, static_cast<int32_t>(target));
  return at == target ? static_cast<toff_t>(at) : static_cast<toff_t>(-1);
}

int close_proc(thandle_t) { return 0; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user, const char* module, const char* format, va_list ap) {
  auto* d = static_cast<TFX_Document*>(user);
  char text[200];
  std::vsnprintf(text, sizeof text, format, ap);
  std::snprintf(d->error, sizeof d->error, "%s: %s", module ? module : "libtiff", text);
  return 1;
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Nothing on a damaged file may make libtiff ask for more than this in one piece.
constexpr tmsize_t kMaxSingleAlloc = tmsize_t{256} << 20;

int32_t open_document(void* instance, void* key, uint8_t options, TFX_ReadProc read, TFX_WriteProc write,
                      TFX_SeekProc seek, TFX_SizeProc size, TFX_TellProc tell, TFX_Document** document,
                      bool writing, int32_t profile) {
  if (!document) return TFX_ERR_ARGUMENT;
  *document = nullptr;
  if (!is_instance(instance) || !key || options != 0 || !read || !write || !seek || !size || !tell) {
    return TFX_ERR_ARGUMENT;
  }
  if (writing && profile != TFX_CREATE_FX && profile != TFX_CREATE_S && profile != TFX_CREATE_F &&
      profile != TFX_CREATE_C && profile != TFX_CREATE_TIFF) {
    return TFX_ERR_UNSUPPORTED;
  }
  auto* doc = new (std::nothrow) TFX_Document;
  if (!doc) return TFX_ERR_MEMORY;
  doc->writing = writing;
  doc->profile = profile;
  doc->key = key;
  doc->read = read;
  doc->write = write;
  doc->seek = seek;
  doc->size = size;
  doc->tell = tell;

  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) {
    delete doc;
    return TFX_ERR_MEMORY;
  }
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxSingleAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(opts, on_error, doc);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, on_warning, doc);
  if (!writing) doc->fileSize = size_proc(doc);
  // Written files are little-endian whatever the host, so that they do not depend on it.
  doc->tif = TIFFClientOpenExt("tfx", writing ? "wlm" : "rm", doc, read_proc, write_proc, seek_proc, close_proc,
                               size_proc, map_proc, unmap_proc, opts);
  TIFFOpenOptionsFree(opts);
  if (!doc->tif) {
    delete doc;
    return writing ? TFX_ERR_IO : TFX_ERR_FORMAT;
  }
  if (!writing) {
    const tdir_t count = TIFFNumberOfDirectories(doc->tif);
    if (count == 0 || count > 0xFFFF || !tfx::select_directory(doc, 0)) {
      TIFFCleanup(doc->tif);
      delete doc;
      return count > 0xFFFF ? TFX_ERR_UNSUPPORTED : TFX_ERR_FORMAT;
    }
    doc->pageCount = count;
    doc->byteOrder = TIFFIsBigEndian(doc->tif) ? 'M' : 'I';
    uint8_t fax = 0;
    const bool named = TIFFGetField(doc->tif, TIFFTAG_FAXPROFILE, &fax) == 1;
    doc->faxFile = named;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(doc->tif, TIFFTAG_COMPRESSION, &compression);
    if (!named) {
      doc->profile = compression == COMPRESSION_JPEG ? TFX_PROFILE_TIFF_JPEG : TFX_PROFILE_TIFF;
    } else {
      doc->profile = fax >= 1 && fax <= 6 ? fax + 1 : TFX_PROFILE_FX;
    }
  }
  *document = doc;
  return TFX_OK;
}

}  // namespace

extern "C" {

int32_t TFX_InitInstance(void* options, void** instance) {
  if (!instance || options) return TFX_ERR_ARGUMENT;
  if (!the_instance) {
    the_instance = new (std::nothrow) Instance;
    if (!the_instance) return TFX_ERR_MEMORY;
    previous_extender = TIFFSetTagExtender(register_fax_fields);
  }
  *instance = the_instance;
  return TFX_OK;
}

int32_t TFX_CreateDocument(void* instance, void* key, uint8_t options, int32_t profile, TFX_ReadProc read,
                           TFX_WriteProc write, TFX_SeekProc seek, TFX_SizeProc size, TFX_TellProc tell,
                           TFX_Document** document) {
  return open_document(instance, key, options, read, write, seek, size, tell, document, true, profile);
}

int32_t TFX_OpenDocumentRead(void* instance, void* key, uint8_t options, TFX_ReadProc read, TFX_WriteProc write,
                             TFX_SeekProc seek, TFX_SizeProc size, TFX_TellProc tell, TFX_Document** document) {
  return open_document(instance, key, options, read, write, seek, size, tell, document, false, 0);
}

int32_t TFX_CloseDocument(TFX_Document* document) {
  if (!document) return TFX_ERR_ARGUMENT;
  int32_t status = TFX_OK;
  // Pages reach libtiff only when they are finished, so closing never writes a partial one; a
  // document whose last page broke on its way holds that page's fields, which must not follow.
  if (document->writing && !document->broken && TIFFFlush(document->tif) != 1) status = TFX_ERR_IO;
  TIFFCleanup(document->tif);
  delete document;
  return status;
}

const char* TFX_GetErrorText(const TFX_Document* document) { return document ? document->error : ""; }

int32_t TFX_GetDocInfo(TFX_Document* document, uint8_t* byteOrder, uint8_t* faxFile, uint16_t* pageCount) {
  if (!document || !byteOrder || !faxFile || !pageCount) return TFX_ERR_ARGUMENT;
  if (document->writing) {
    *byteOrder = 'I';
    *faxFile = document->profile != TFX_CREATE_TIFF;
    *pageCount = static_cast<uint16_t>(document->pagesWritten > 0xFFFF ? 0xFFFF : document->pagesWritten);
  } else {
    *byteOrder = document->byteOrder;
    *faxFile = document->faxFile;
    *pageCount = static_cast<uint16_t>(document->pageCount);
  }
  return TFX_OK;
}

int32_t TFX_GetDocProfile(TFX_Document* document, int32_t* profile) {
  if (!document || !profile) return TFX_ERR_ARGUMENT;
  *profile = document->profile;
  return TFX_OK;
}

}  // extern "C"
