// File-system helpers of the engine over POSIX calls.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kvng.h"
#include "kvng_dir.h"
#include "kvng_print.h"

int KVngIdentifyFile(const char* path) {
  struct stat info {};
  if (!path || !*path || stat(path, &info) != 0) return KVNG_PATH_NONE;
  if (S_ISDIR(info.st_mode)) return KVNG_PATH_DIRECTORY;
  return S_ISREG(info.st_mode) ? KVNG_PATH_FILE : KVNG_PATH_OTHER;
}

namespace {

bool make_one(const char* path, bool existing_ok) {
  if (mkdir(path, 0777) == 0) return true;
  return errno == EEXIST && existing_ok && KVngIdentifyFile(path) == KVNG_PATH_DIRECTORY;
}

}  // namespace

int KVngMkDir(const char* path, int parents) {
  if (!path || !*path) {
    KVngError("%s: Missing folder name\n", "KVngMkDir");
    return 0;
  }
  bool ok = true;
  if (parents) {
    const size_t length = std::strlen(path);
    auto* copy = static_cast<char*>(kvng_internal_calloc(length + 1, 1));
    if (!copy) {
      KVngError("%s: Out of memory for %s\n", "KVngMkDir", path);
      return 0;
    }
    std::memcpy(copy, path, length);
    for (size_t i = 1; ok && i < length; ++i) {
      if (copy[i] != '/') continue;
      copy[i] = 0;
      ok = make_one(copy, true);
      copy[i] = '/';
    }
    kvng_internal_free(copy);
  }
  if (ok && make_one(path, parents != 0)) return 1;
  KVngError("%s: Cannot make folder %s: %s\n", "KVngMkDir", path, std::strerror(errno));
  return 0;
}

void KVngFreeDirList(char** names, int32_t count) {
  if (!names) return;
  for (int32_t i = 0; i < count; ++i) kvng_internal_free(names[i]);
  kvng_internal_free(names);
}

namespace {

int compare_names(const void* a, const void* b) {
  return std::strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

}  // namespace

int KVngListDir(const char* path, char*** names, int32_t* count) {
  if (!names || !count) return 0;
  *names = nullptr;
  *count = 0;
  DIR* dir = path ? opendir(path) : nullptr;
  if (!dir) {
    KVngError("%s: Cannot list folder %s: %s\n", "KVngListDir", path ? path : "(none)", std::strerror(errno));
    return 0;
  }
  char** list = nullptr;
  int32_t used = 0;
  int32_t capacity = 0;
  bool ok = true;
  while (const dirent* entry = readdir(dir)) {
    if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
    if (used == capacity) {
      if (capacity > INT32_MAX / 2 - 16) {
        ok = false;
        break;
      }
      const int32_t grown = capacity * 2 + 16;
      auto* bigger = static_cast<char**>(kvng_internal_calloc(static_cast<size_t>(grown), sizeof(char*)));
      if (!bigger) {
        ok = false;
        break;
      }
      if (used) std::memcpy(bigger, list, static_cast<size_t>(used) * sizeof(char*));
      kvng_internal_free(list);
      list = bigger;
      capacity = grown;
    }
    const size_t length = std::strlen(entry->d_name);
    auto* name = static_cast<char*>(kvng_internal_calloc(length + 1, 1));
    if (!name) {
      ok = false;
      break;
    }
    std::memcpy(name, entry->d_name, length);
    list[used++] = name;
  }
  closedir(dir);
  if (!ok) {
    KVngError("%s: Out of memory listing %s\n", "KVngListDir", path);
    KVngFreeDirList(list, used);
    return 0;
  }
  if (used > 1) std::qsort(list, static_cast<size_t>(used), sizeof(char*), compare_names);
  *names = list;
  *count = used;
  return 1;
}
