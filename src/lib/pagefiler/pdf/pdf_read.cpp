// The PDF reader's slots (page count, page, checksum), the test-mode rewrite of a written file and
// the object dump of PDFDecompose.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dio_backends.h"
#include "kvng.h"
#include "kvng_io.h"
#include "pdf_write.h"

namespace {

constexpr char kCorrupt[] = "Object Error - PDF internal State corrupt\n";
constexpr int32_t kChecksumBlock = 8192;

bool is_hex(uint8_t c) { return std::isxdigit(c) != 0; }
bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Offset of 32 hex digits between '<' and '>' at at, or 0 when there are none.
size_t hex_id(const std::vector<uint8_t>& b, size_t at) {
  if (at + 34 > b.size() || b[at] != '<' || b[at + 33] != '>') return 0;
  for (size_t k = 1; k <= 32; ++k) {
    if (!is_hex(b[at + k])) return 0;
  }
  return at + 1;
}

size_t skip_space(const std::vector<uint8_t>& b, size_t at) {
  while (at < b.size() && is_space(b[at])) ++at;
  return at;
}

}  // namespace

namespace pdfw {

int prepare_for_crc(elf_state* state, const char* filename, int32_t archive) {
  FILE* f = std::fopen(filename, "r+b");
  if (!f) return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Unable to open file\n");
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::vector<uint8_t> b;
  try {
    b.resize(size > 0 ? static_cast<size_t>(size) : 0);
  } catch (...) {
    std::fclose(f);
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Unable to allocate memory\n");
  }
  if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0 || std::fread(b.data(), 1, b.size(), f) != b.size()) {
    std::fclose(f);
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Unable to read file\n");
  }
  static const char kZeros[] = "00000000000000000000000000000000";
  const char* date = archive ? "20080101000000Z" : "20080101000000Z00'00";
  const size_t dateLength = std::strlen(date);
  bool ok = true;
  auto put = [&](size_t at, const char* text, size_t n) {
    ok = ok && std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 && std::fwrite(text, 1, n, f) == n;
  };
  // Only a well-formed pair of 32-digit IDs and a date of the written form are overwritten, so
  // the rewrite can never run past what it matched.
  for (size_t i = 0; i + 3 < b.size(); ++i) {
    if (std::memcmp(&b[i], "/ID", 3) == 0) {
      size_t j = skip_space(b, i + 3);
      if (j >= b.size() || b[j] != '[') continue;
      const size_t first = hex_id(b, skip_space(b, j + 1));
      const size_t second = first ? hex_id(b, skip_space(b, first + 33)) : 0;
      if (first && second) {
        put(first, kZeros, 32);
        put(second, kZeros, 32);
      }
    } else if (i + 13 <= b.size() && std::memcmp(&b[i], "/CreationDate", 13) == 0) {
      const size_t j = skip_space(b, i + 13);
      if (j + 3 > b.size() || std::memcmp(&b[j], "(D:", 3) != 0) continue;
      const size_t start = j + 3;
      size_t end = start;
      while (end < b.size() && b[end] != ')') ++end;
      if (end >= b.size() || end - start < dateLength) continue;
      bool digits = true;
      for (size_t k = 0; k < 14; ++k) digits = digits && std::isdigit(b[start + k]);
      if (digits) put(start, date, dateLength);
    }
  }
  if (std::fclose(f) != 0) ok = false;
  return ok ? 0 : setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Unable to write file\n");
}

}  // namespace pdfw

extern "C" {

int PDFReadGetPageCount(elf_state* state, void* backend, int32_t* count) {
  PdfDocState* s = pdfw::checked(backend);
  if (!s || !s->doc) return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", kCorrupt);
  kvng_internal_free(s->pageList);
  s->pageList = PDFGetPageList(s->doc, &s->pageCount);
  if (!s->pageList) {
    s->pageCount = 0;
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Error getting page list from %s\n", s->filename);
  }
  if (count) *count = s->pageCount;
  return 0;
}

int PDFReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image) {
  if (image) *image = nullptr;
  PdfDocState* s = pdfw::checked(backend);
  if (!s || !s->doc) return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", kCorrupt);
  if (!s->pageList) {
    if (const int status = PDFReadGetPageCount(state, backend, nullptr); status != 0) return status;
  }
  if (page < 1 || page > s->pageCount) return 0;
  elf_object* made = pdfPageDict2QELImage(state, s, page - 1, s->pageList[page - 1]);
  if (!made) {
    // The page reader's own reason stays beside the slot's.
    const char* why = getStatus(state) != QEL_STATUS_OK ? getStatusMessage(state) : "";
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFReadGetPage: Read failed for page %d.\n%s",
                     page, why);
  }
  if (image) *image = made;
  return 0;
}

int PDFReadGetChecksum(elf_state* state, void* backend, int32_t* sum) {
  PdfDocState* s = pdfw::checked(backend);
  if (!s) return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", kCorrupt);
  if (!s->checksumIO) s->checksumIO = KVngIO_FileName(s->filename, "r");
  if (!s->checksumIO) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "PDFReadGetChecksum: Unable to configure for checksum\n");
  }
  auto* block = static_cast<uint8_t*>(kvng_internal_calloc(kChecksumBlock, 1));
  // Without its buffer there is no checksum: a made-up value would be taken for the file's.
  if (!block) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFReadGetChecksum: Unable to allocate memory\n");
  }
  KVngIO* io = s->checksumIO;
  uint32_t crc = 0;
  int32_t dateCarry = 0, idCarry = 0;
  int status = io->seek(io, 0, SEEK_SET, 0) == 0 ? 0 : QEL_STATUS_FAILED;
  while (status == 0) {
    const int64_t n = io->read(io, block, kChecksumBlock);
    if (n < 0) status = QEL_STATUS_FAILED;
    if (n <= 0) break;
    const auto length = static_cast<int32_t>(n);
    int32_t carry = 0;
    __DIO_clearBytes(block, length, "/CreationDate", dateCarry, &carry, ')');
    dateCarry = carry;
    carry = 0;
    __DIO_clearBytes(block, length, "/ID", idCarry, &carry, ']');
    idCarry = carry;
    crc = __DIO_calculateChecksum(crc, block, length);
  }
  kvng_internal_free(block);
  if (status != 0) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFReadGetChecksum: Unable to read %s\n",
                     s->filename);
  }
  if (sum) *sum = static_cast<int32_t>(crc);
  return 0;
}

int32_t PDFObjsToTextFile(const char* filename, const char* destname, const char* password) {
  int32_t error = 0;
  PDFDoc* doc = filename ? PDFOpenFilenameEx(filename, 'r', password, &error) : nullptr;
  if (doc && error == 0) {
    int32_t count = 0;
    PDFObj** pages = PDFGetPageList(doc, &count);
    kvng_internal_free(pages);
    PDFObjsToFile(doc, destname);
    PDFCloseFile(doc, 0);
    return count;
  }
  if (doc) PDFCloseFile(doc, 0);
  FILE* out = destname ? std::fopen(destname, "w") : nullptr;
  if (out) {
    std::fprintf(out, "Error during PDFOpenFilenameEx for %s\n", filename ? filename : "(null)");
    std::fprintf(out, "Error code is %d\n", error);
    std::fclose(out);
  }
  return 0;
}

}  // extern "C"
