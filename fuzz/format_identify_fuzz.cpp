// The imaging engine's format identification over arbitrary bytes, packages included: it reads
// within the bytes given, whatever sizes and offsets a zip directory claims.

#include <cstdint>
#include <cstring>

#include "kvext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KVngFileFormats* table = [] {
    KVngFileFormats* t = nullptr;
    if (KVngReadFileFormats(&t) != 1) __builtin_trap();
    return t;
  }();
  KVngFileFormatInfo* info = KVngGetFileFormatFromBuf(data, size, table);
  if (!info) return 0;
  if (!info->format || !info->mimeType || !info->reader || std::strlen(info->reader) < 4) __builtin_trap();
  info->release(info);
  return 0;
}
