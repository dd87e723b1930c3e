#ifndef TFX_TEST_UTIL_H
#define TFX_TEST_UTIL_H

// Connectors over a file in memory, and documents closed when they go.

#include <algorithm>
#include <cstring>
#include <vector>

#include "tfxbridge.h"

namespace tfxtest {

using Bytes = std::vector<uint8_t>;

// A file in memory behind the five connectors; writes beyond writeLimit bytes fail.
struct MemFile {
  Bytes bytes;
  int32_t position = 0;
  int64_t writeLimit = -1;

  static MemFile* of(void* key) { return static_cast<MemFile*>(key); }
  static int32_t read(void* key, void* buffer, int32_t count) {
    MemFile* f = of(key);
    const int32_t left = static_cast<int32_t>(f->bytes.size()) - f->position;
    const int32_t n = std::max(0, std::min(count, left));
    if (n) std::memcpy(buffer, f->bytes.data() + f->position, static_cast<size_t>(n));
    f->position += n;
    return n;
  }
  static int32_t write(void* key, const void* buffer, int32_t count) {
    MemFile* f = of(key);
    if (f->writeLimit >= 0 && f->position + static_cast<int64_t>(count) > f->writeLimit) return 0;
    const size_t end = static_cast<size_t>(f->position) + static_cast<size_t>(count);
    if (end > f->bytes.size()) f->bytes.resize(end);
    std::memcpy(f->bytes.data() + f->position, buffer, static_cast<size_t>(count));
    f->position += count;
    return count;
  }
  static int32_t seek(void* key, int32_t offset) {
    of(key)->position = offset;
    return offset;
  }
  static int32_t size(void* key) {
    MemFile* f = of(key);
    f->position = static_cast<int32_t>(f->bytes.size());
    return f->position;
  }
  static int32_t tell(void* key) { return of(key)->position; }
};

inline void* instance() {
  void* i = nullptr;
  TFX_InitInstance(nullptr, &i);
  return i;
}

// A document that closes itself.
struct Doc {
  TFX_Document* d = nullptr;
  int32_t status = 0;
  Doc() = default;
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;
  ~Doc() { close(); }
  int32_t close() {
    const int32_t s = d ? TFX_CloseDocument(d) : 0;
    d = nullptr;
    return s;
  }
  operator TFX_Document*() const { return d; }
};

inline void create(Doc& doc, MemFile& file, int32_t profile) {
  doc.status = TFX_CreateDocument(instance(), &file, 0, profile, MemFile::read, MemFile::write, MemFile::seek,
                                  MemFile::size, MemFile::tell, &doc.d);
}

inline void open_read(Doc& doc, MemFile& file) {
  file.position = 0;
  doc.status = TFX_OpenDocumentRead(instance(), &file, 0, MemFile::read, MemFile::write, MemFile::seek,
                                    MemFile::size, MemFile::tell, &doc.d);
}

// One page's image as the bridge takes it.
struct PageData {
  int32_t colorType = TFX_CTYPE_BILEVEL;
  uint32_t xres = 204, yres = 196, width = 0, height = 0, rowsPerStrip = 0;
  TFX_Coding coding{TFX_CODING_NONE, 0};
  std::vector<Bytes> strips;
};

// Adds a whole page; the status of the first call that fails.
inline int32_t add_page(TFX_Document* doc, const PageData& p) {
  TFX_Page* page = nullptr;
  TFX_Image* image = nullptr;
  if (int32_t s = TFX_AddPageStart(doc, -1, &page)) return s;
  if (int32_t s = TFX_AddImage(page, 1, p.colorType, 0, 0, p.xres, p.yres, p.width, p.height, p.rowsPerStrip, 0,
                               &image)) {
    return s;
  }
  int32_t zero = 0, quality = 75, zero2 = 0;
  if (int32_t s = TFX_ImageWriteStart(image, 0, &zero, &quality, &zero2)) return s;
  uint32_t row = 0;
  for (const Bytes& strip : p.strips) {
    const uint32_t rows = std::min(p.rowsPerStrip, p.height - row);
    if (int32_t s = TFX_CompressedWriteStrip(image, row, rows, strip.data(), static_cast<uint32_t>(strip.size()),
                                             &p.coding)) {
      return s;
    }
    row += rows;
  }
  if (int32_t s = TFX_ImageWriteFinish(image)) return s;
  return TFX_AddPageFinish(page);
}

}  // namespace tfxtest

#endif
