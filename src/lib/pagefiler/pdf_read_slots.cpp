// The PDF reader's back end: opening a document for reading, its page count, a page as a page
// image, and a checksum that ignores the document IDs and creation date. Writing PDF is not part
// of this file: a writer's start reports that it is not available.

#include <cstdio>
#include <cstring>

#include "dio_backends.h"
#include "kvng_print.h"
#include "pdf_read.h"

namespace {

constexpr size_t kChecksumBlock = 8192;

PdfDocState* reader_state(void* backend) {
  auto* s = static_cast<PdfDocState*>(backend);
  return PdfDocStateValid(s) ? s : nullptr;
}

int corrupt(elf_state* state) {
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Object Error - PDF internal State corrupt\n");
}

}  // namespace

extern "C" {

void* PDFInit(const char* filename, int mode, const char* password, int* error) {
  if (error) *error = 0;
  if (mode != 'r') {
    KVngError("%s: writing PDF documents is not available in this build\n", "PDFInit");
    return nullptr;
  }
  if (!filename) return nullptr;
  auto* s = static_cast<PdfDocState*>(elfCalloc(1, sizeof(PdfDocState)));
  if (!s) return nullptr;
  s->tag1 = PDF_STATE_TAG1;
  s->tag2 = PDF_STATE_TAG2;
  // A name without an extension is looked for with ".pdf".
  const char* slash = std::strrchr(filename, '/');
  const bool extension = std::strchr(slash ? slash : filename, '.') != nullptr;
  const size_t n = std::strlen(filename);
  s->filename = static_cast<char*>(elfMalloc(n + 5));
  if (!s->filename) {
    _elfFree(s);
    return nullptr;
  }
  std::snprintf(s->filename, n + 5, "%s%s", filename, extension ? "" : ".pdf");
  int32_t code = 0;
  s->doc = PDFOpenFilenameEx(s->filename, 'r', password, &code);
  if (!s->doc) {
    if (code == PDF_ERR_PASSWORD && error) *error = 1;
    _elfFree(s->filename);
    _elfFree(s);
    return nullptr;
  }
  return s;
}

void PDFRelease(elf_object* obj) {
  elf_DOCUMENTREADER* r = dioReader(obj);
  PdfDocState* s = r ? reader_state(r->backend) : nullptr;
  if (!s) return;
  kvng_internal_free(s->pageList);
  PDFCloseFile(s->doc, 0);
  _elfFree(s->filename);
  s->tag1 = s->tag2 = 0;
  _elfFree(s);
  r->backend = nullptr;
}

int PDFReadGetPageCount(elf_state* state, void* backend, int32_t* count) {
  PdfDocState* s = reader_state(backend);
  if (!s) return corrupt(state);
  kvng_internal_free(s->pageList);
  s->pageList = PDFGetPageList(s->doc, &s->pageCount);
  if (!s->pageList) {
    s->pageCount = 0;
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Error getting page list from %s\n", s->filename);
  }
  if (count) *count = s->pageCount;
  return QEL_STATUS_OK;
}

int PDFReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image) {
  if (image) *image = nullptr;
  PdfDocState* s = reader_state(backend);
  if (!s) return corrupt(state);
  if (!s->pageList) {
    const int status = PDFReadGetPageCount(state, backend, nullptr);
    if (status != QEL_STATUS_OK) return status;
  }
  if (page < 1 || page > s->pageCount) return QEL_STATUS_OK;
  elf_object* made = pdfPageDict2QELImage(state, s, page - 1, s->pageList[page - 1]);
  if (!made) {
    // The page reader's own reason stays beside the slot's.
    const char* why = getStatus(state) != QEL_STATUS_OK ? getStatusMessage(state) : "";
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFReadGetPage: Read failed for page %d.\n%s",
                     page, why);
  }
  if (image) *image = made;
  return QEL_STATUS_OK;
}

int PDFReadGetChecksum(elf_state* state, void* backend, int32_t* sum) {
  PdfDocState* s = reader_state(backend);
  if (!s) return corrupt(state);
  FILE* f = std::fopen(s->filename, "rb");
  if (!f) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "PDFReadGetChecksum: Unable to configure for checksum\n");
  }
  auto* block = static_cast<uint8_t*>(kvng_internal_calloc(kChecksumBlock, 1));
  if (!block) {
    std::fclose(f);
    if (sum) *sum = static_cast<int32_t>(0xFFFFFFFFu);
    return QEL_STATUS_OK;
  }
  uint32_t crc = 0;
  int32_t dateCarry = 0, idCarry = 0;
  size_t got;
  while ((got = std::fread(block, 1, kChecksumBlock, f)) > 0) {
    const auto n = static_cast<int32_t>(got);
    int32_t carry = 0;
    __DIO_clearBytes(block, n, "/CreationDate", dateCarry, &carry, ')');
    dateCarry = carry;
    __DIO_clearBytes(block, n, "/ID", idCarry, &carry, ']');
    idCarry = carry;
    crc = __DIO_calculateChecksum(crc, block, n);
  }
  std::fclose(f);
  __DIO_calculateChecksum(crc, nullptr, 0);
  kvng_internal_free(block);
  if (sum) *sum = static_cast<int32_t>(crc);
  return QEL_STATUS_OK;
}

}  // extern "C"
