// Run-time binding of plug-in functions by library and symbol name.

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "elf_plugin.h"

namespace {

// Libraries loaded so far, newest first. Kept with the C library's heap: they outlive any heap a
// test installs.
struct Loaded {
  Loaded* next;
  void* handle;
  char name[1];  // the library name as asked for
};

std::mutex loaded_mutex;
Loaded* loaded = nullptr;

__attribute__((format(printf, 3, 4))) void set_why(char* why, size_t size, const char* format, ...) {
  if (!why || !size) return;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(why, size, format, ap);
  va_end(ap);
}

bool ends_with(const char* s, const char* tail) {
  const size_t n = std::strlen(s), m = std::strlen(tail);
  return n >= m && std::strcmp(s + n - m, tail) == 0;
}

// The file a library name stands for (see elf_plugin.h); false when it does not fit.
bool file_name(const char* library, char* out, size_t size) {
  const bool as_is = std::strchr(library, '/') || ends_with(library, ".so") || std::strstr(library, ".so.");
  const int n = std::snprintf(out, size, as_is ? "%s" : "lib%s.so", library);
  return n > 0 && static_cast<size_t>(n) < size;
}

// The directory holding this library, or "" when the loader cannot say.
void own_directory(char* out, size_t size) {
  out[0] = '\0';
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&elfBindSharedProc), &info) || !info.dli_fname) return;
  const char* slash = std::strrchr(info.dli_fname, '/');
  if (!slash) return;
  const size_t n = static_cast<size_t>(slash - info.dli_fname);
  if (n + 1 > size) return;
  std::memcpy(out, info.dli_fname, n);
  out[n] = '\0';
}

// Whether dir/file exists; writes the path.
bool found_in(const char* dir, size_t dir_len, const char* file, char* out, size_t size) {
  const int n = std::snprintf(out, size, "%.*s/%s", static_cast<int>(dir_len), dir, file);
  return dir_len != 0 && n > 0 && static_cast<size_t>(n) < size && access(out, F_OK) == 0;
}

enum class Found { No, Loaded, Broken };

// Tries dir/file: absent gives No; present but not loadable gives Broken with the reason.
Found try_directory(const char* dir, size_t dir_len, const char* file, void** handle, char* why, size_t why_size) {
  char path[PATH_MAX];
  if (!found_in(dir, dir_len, file, path, sizeof path)) return Found::No;
  *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (*handle) return Found::Loaded;
  set_why(why, why_size, "cannot load %s: %s", path, dlerror());
  return Found::Broken;
}

// Loads a library by name (see elf_plugin.h), or gives null with the reason.
void* open_library(const char* library, char* why, size_t why_size) {
  char file[PATH_MAX];
  if (!file_name(library, file, sizeof file)) {
    set_why(why, why_size, "library name %s is too long", library);
    return nullptr;
  }
  void* handle = nullptr;
  if (!std::strchr(file, '/')) {
    const char* path = std::getenv(ELF_PLUGIN_PATH_ENV);
    for (const char* dir = path; dir && *dir;) {
      const char* end = std::strchr(dir, ':');
      const size_t len = end ? static_cast<size_t>(end - dir) : std::strlen(dir);
      const Found f = try_directory(dir, len, file, &handle, why, why_size);
      if (f == Found::Loaded) return handle;
      if (f == Found::Broken) return nullptr;
      dir = end ? end + 1 : nullptr;
    }
    char own[PATH_MAX];
    own_directory(own, sizeof own);
    const Found f = try_directory(own, std::strlen(own), file, &handle, why, why_size);
    if (f == Found::Loaded) return handle;
    if (f == Found::Broken) return nullptr;
  }
  handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle) return handle;
  if (std::strchr(file, '/')) {
    set_why(why, why_size, "cannot load %s: %s", file, dlerror());
  } else {
    set_why(why, why_size,
            "plug-in library %s (%s) is not in " ELF_PLUGIN_PATH_ENV
            " nor beside the interpreter library, and the loader says: %s",
            library, file, dlerror());
  }
  return nullptr;
}

}  // namespace

int elfFindPlatformFile(const char* name, char* out, size_t size) {
  if (!name || !*name || !out || !size) return 0;
  if (std::strchr(name, '/')) {
    const int n = std::snprintf(out, size, "%s", name);
    return n > 0 && static_cast<size_t>(n) < size && access(out, F_OK) == 0 ? 1 : 0;
  }
  const char* path = std::getenv(ELF_PLUGIN_PATH_ENV);
  for (const char* dir = path; dir && *dir;) {
    const char* end = std::strchr(dir, ':');
    const size_t len = end ? static_cast<size_t>(end - dir) : std::strlen(dir);
    if (found_in(dir, len, name, out, size)) return 1;
    dir = end ? end + 1 : nullptr;
  }
  char own[PATH_MAX];
  own_directory(own, sizeof own);
  return found_in(own, std::strlen(own), name, out, size) ? 1 : 0;
}

int elfBindSharedProc(const char* library, const char* symbol, void** place, char* why, size_t whySize) {
  if (why && whySize) why[0] = '\0';
  if (!library || !*library || !symbol || !*symbol || !place) {
    set_why(why, whySize, "no %s to bind", !library || !*library ? "library" : "symbol");
    return 0;
  }
  std::lock_guard<std::mutex> lock(loaded_mutex);
  Loaded* lib = loaded;
  while (lib && std::strcmp(lib->name, library) != 0) lib = lib->next;
  if (!lib) {
    void* handle = open_library(library, why, whySize);
    if (!handle) return 0;
    const size_t n = std::strlen(library);
    lib = static_cast<Loaded*>(std::malloc(sizeof(Loaded) + n));
    if (!lib) {
      dlclose(handle);
      set_why(why, whySize, "no memory to keep %s loaded", library);
      return 0;
    }
    lib->handle = handle;
    std::memcpy(lib->name, library, n + 1);
    lib->next = loaded;
    loaded = lib;
  }
  dlerror();
  void* address = dlsym(lib->handle, symbol);
  if (!address) {
    set_why(why, whySize, "symbol %s not found in plug-in library %s", symbol, library);
    return 0;
  }
  *place = address;
  return 1;
}

void* ELFFindSharedProc(elf_state* state, const char* library, const char* symbol) {
  char why[PATH_MAX + 256];
  void* address = nullptr;
  if (!elfBindSharedProc(library, symbol, &address, why, sizeof why)) {
    elfMessage(state, "ELFFindSharedProc: %s\n", why);
    return nullptr;
  }
  return address;
}

void elfUnloadSharedLibraries(void) {
  std::lock_guard<std::mutex> lock(loaded_mutex);
  while (loaded) {
    Loaded* next = loaded->next;
    dlclose(loaded->handle);
    std::free(loaded);
    loaded = next;
  }
}
