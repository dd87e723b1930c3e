// The zip reader over arbitrary bytes: every length and offset the file claims is bounded by the
// file, what is read shows and extracts without overrunning, and an archive read as it lies in
// the file is written back byte for byte.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zzip.h"

namespace {

void quiet(void*, int, const char*) {}

// A file holding the bytes, by a name the byte source can open.
std::string memory_file(const uint8_t* data, size_t size, int* fd) {
  *fd = memfd_create("zip", 0);
  if (*fd < 0) __builtin_trap();
  for (size_t at = 0; at < size;) {
    const ssize_t n = write(*fd, data + at, size - at);
    if (n <= 0) __builtin_trap();
    at += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(*fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SState* state = [] {
    SState* s = SState_NewStateDefault();
    s->print = quiet;
    s->level = SSTATE_VER;
    return s;
  }();
  int fd = -1;
  const std::string name = memory_file(data, size, &fd);
  ZZipArchive* zip = ZZip_Read(state, name.c_str());
  close(fd);
  if (!zip) return 0;

  FILE* sink = std::fopen("/dev/null", "w");
  ZZip_Show(zip, sink, 1);
  ZZip_Show(zip, sink, 2);
  std::fclose(sink);
  bool walked = false, wide = false;
  for (ZZipRecord* r = zip->first; r; r = r->next) {
    walked |= r->signature != ZZIP_SIG_LOCAL_FILE_HDR;
    wide |= r->signature == ZZIP_SIG_CDIR_END_REC64 || r->signature == ZZIP_SIG_CDIR_END_LOC64;
    if (r->signature == ZZIP_SIG_LOCAL_FILE_HDR) {
      const char* entry = reinterpret_cast<LocalFileHdr*>(r)->fileName;
      BufUChar_Free(ZZip_Extract(zip, entry));
    }
  }
  // Only a walk through the whole file keeps every structure; eight-byte values are exact below
  // 2^53, so archives with ZIP64 records may come back otherwise.
  if (walked && !wide) {
    char* text = nullptr;
    size_t length = 0;
    zip->out = open_memstream(&text, &length);
    if (ZZip_Write(zip) != 0) __builtin_trap();
    std::fclose(zip->out);
    zip->out = nullptr;
    if (length != size || std::memcmp(text, data, size) != 0) __builtin_trap();
    std::free(text);
  }
  ZZip_Free(zip);
  return 0;
}
