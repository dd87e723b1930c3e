// Utilities the back ends share: method results, page file names, the CRC-32 of documents,
// clearing volatile bytes before a checksum, and directories.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "dio_internal.h"

namespace {

constexpr size_t checksum_block = 4096;

// Longest prefix of marker that ends the text matched so far (k characters) followed by c.
int32_t next_match(const char* marker, int32_t k, uint8_t c) {
  for (;;) {
    if (static_cast<uint8_t>(marker[k]) == c) return k + 1;
    if (k == 0) return 0;
    // Fall back to the longest proper prefix of marker[0..k) that is also its suffix.
    int32_t j = k - 1;
    while (j > 0 && std::memcmp(marker, marker + k - j, static_cast<size_t>(j)) != 0) --j;
    k = j;
  }
}

}  // namespace

namespace dio {

int give(elf_state* state, elf_object** result, elf_object* list, const char* who) {
  if (!list) return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to build the result\n", who);
  if (result) {
    *result = list;
  } else {
    elfDiscard(list);
  }
  return QEL_STATUS_OK;
}

}  // namespace dio

char* __DIO_makeFullName(const char* name, int32_t page, const char* defaultExt) {
  if (!name) return nullptr;
  char* dir = elfPath(name);
  char* base = elfName(name);
  char* ext = elfExt(name);
  // A part that is there but could not be copied fails the name rather than changing it.
  const bool has_dir = std::strchr(name, '/') != nullptr;
  const bool has_ext = base && std::strlen(name) != (dir ? std::strlen(dir) + 1 : 0) + std::strlen(base);
  if (!ext && !has_ext && defaultExt) ext = elfStrDup(defaultExt);
  char* out = nullptr;
  if (base && (!has_dir || dir) && (ext || (!has_ext && !defaultExt))) {
    char number[16] = "";
    if (page > 0) std::snprintf(number, sizeof number, "-%d", page);
    const size_t n = (dir ? std::strlen(dir) + 1 : 0) + std::strlen(base) + std::strlen(number) +
                     (ext ? std::strlen(ext) + 1 : 0) + 1;
    out = static_cast<char*>(elfMalloc(n));
    if (out) {
      std::snprintf(out, n, "%s%s%s%s%s%s", dir ? dir : "", dir ? "/" : "", base, number, ext ? "." : "",
                    ext ? ext : "");
    }
  }
  _elfFree(dir);
  _elfFree(base);
  _elfFree(ext);
  return out;
}

void __DIO_releaseFullName(char* name) { _elfFree(name); }

// zlib's CRC-32 is the same register with an inversion at each end, and works on several bytes
// at a time: a byte-at-a-time table was most of what reading a JBIG2 PDF cost.
uint32_t __DIO_calculateChecksum(uint32_t crc, const void* buffer, int32_t length) {
  if (length <= 0 || !buffer) return crc;
  const auto* bytes = static_cast<const Bytef*>(buffer);
  return ~static_cast<uint32_t>(crc32(~crc, bytes, static_cast<uInt>(length)));
}

int64_t __DIO_unfilteredChecksum(KVngIO* stream) {
  if (!stream) return -1;
  auto* block = static_cast<uint8_t*>(kvng_internal_calloc(checksum_block, 1));
  if (!block) return -1;
  uint32_t crc = 0;
  bool ok = stream->seek(stream, 0, KVNG_SEEK_SET, 0) == 0;
  for (int64_t n; ok && (n = stream->read(stream, block, checksum_block)) != 0;) {
    if (n < 0) {
      ok = false;
      break;
    }
    crc = __DIO_calculateChecksum(crc, block, static_cast<int32_t>(n));
  }
  kvng_internal_free(block);
  return ok ? static_cast<int64_t>(crc) : -1;
}

void __DIO_clearBytes(uint8_t* block, int32_t length, const char* marker, int32_t carried, int32_t* carry,
                      uint8_t stop) {
  const auto marker_length = static_cast<int32_t>(marker ? std::strlen(marker) : 0);
  // The carried count is the marker's length while a cleared run is still open; below it, the
  // marker characters matched at the end of the previous block.
  int32_t state = carried >= 0 && carried <= marker_length ? carried : 0;
  if (!block || length <= 0 || marker_length == 0) {
    if (carry) *carry = marker_length ? state : 0;
    return;
  }
  for (int32_t i = 0; i < length; ++i) {
    if (state == marker_length) {
      if (block[i] != stop) {
        block[i] = 0;
        continue;
      }
      state = 0;
    }
    if (state == 0) {
      // Outside a marker only its first character can start one: skip to it.
      const void* first = std::memchr(block + i, static_cast<uint8_t>(marker[0]), static_cast<size_t>(length - i));
      if (!first) break;
      i = static_cast<int32_t>(static_cast<const uint8_t*>(first) - block);
    }
    state = next_match(marker, state, block[i]);
  }
  if (carry) *carry = state;
}

int Dir_Ensure(SState* state, const char* path) {
  if (!path) return -1;
  if (DIR* d = opendir(path)) {
    closedir(d);
    return 0;
  }
  if (FILE* f = std::fopen(path, "rb")) {
    std::fclose(f);
    SState_ErrPrintf(state, "  Dir_Ensure: File already exists: %s\n", path);
    SState_Err(state, __FILE__, __LINE__, -1);
    return -1;
  }
  if (mkdir(path, 0775) == 0) return 0;
  // Made meanwhile by someone else is as good as made here.
  if (DIR* d = opendir(path)) {
    closedir(d);
    return 0;
  }
  SState_ErrPrintf(state, "  Dir_Ensure: Cannot make directory %s: %s\n", path, std::strerror(errno));
  SState_Err(state, __FILE__, __LINE__, -1);
  return -1;
}

int32_t Dir_Size(SState*, const char* path) {
  DIR* d = path ? opendir(path) : nullptr;
  if (!d) return -1;
  int32_t n = 0;
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

char* Dir_Entry(SState* state, const char* path, int32_t index) {
  DIR* d = path && index >= 0 ? opendir(path) : nullptr;
  if (!d) return nullptr;
  char* name = nullptr;
  int32_t i = 0;
  while (const dirent* e = readdir(d)) {
    if (i++ == index) {
      name = SState_StrDup(state, e->d_name);
      break;
    }
  }
  closedir(d);
  return name;
}
