// The TIFF and TIFF-FX reader over arbitrary bytes: the document opened through the bridge, its
// page count and checksum, and its first pages read into page images with their strips as the
// file holds them (PackBits expanded). Damaged files are refused or read; nothing else.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvng_print.h"
#include "qelinterp.h"
#include "tio.h"

namespace {

void quiet(void*, const char*) {}
void quiet_engine(void*, int, const char*) {}

// A file holding the bytes, by a name the file keys can open.
std::string memory_file(const uint8_t* data, size_t size, int* fd) {
  *fd = memfd_create("tiff", 0);
  if (*fd < 0) __builtin_trap();
  for (size_t at = 0; at < size;) {
    const ssize_t n = write(*fd, data + at, size - at);
    if (n <= 0) __builtin_trap();
    at += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(*fd);
}

// What the writer's release does for a reader state.
void release(TIOState* s) {
  if (s->checksum) s->checksum->release(s->checksum);
  __TIFF_ClosePage(s);
  __TIFF_CloseDocumentRead(s);
  _elfFree(s->fileName);
  std::free(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static elf_state* state = [] {
    elf_state* s = initState(nullptr, "fuzz");
    s->print = quiet;
    KVngSetPrinter(quiet_engine, nullptr);
    return s;
  }();
  int fd = -1;
  const std::string name = memory_file(data, size, &fd);
  int32_t format = 0, subtype = 0;
  auto* s = static_cast<TIOState*>(TIFFReadInit(state, name.c_str(), &format, &subtype));
  if (!s) {
    close(fd);
    return 0;
  }
  int32_t count = 0;
  if (TIFFReadGetPageCount(state, s, &count) == 0) {
    for (int32_t page = 0; page <= count + 1 && page <= 4; ++page) {
      elf_object* image = nullptr;
      if (TIFFReadGetPage(state, s, page, &image) == 0) {
        if (!image) __builtin_trap();
        elfDiscard(image);
      } else if (image) {
        __builtin_trap();
      }
    }
  }
  int32_t sum = 0;
  TIFFReadGetChecksum(state, s, &sum);
  release(s);
  close(fd);
  clearStatus(state);
  return 0;
}
