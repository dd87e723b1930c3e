// Parts of a file name.

#include <cstring>

#include "elf_memory.h"
#include "elf_path.h"

namespace {

char* copy_span(const char* begin, const char* end) {
  const size_t n = static_cast<size_t>(end - begin);
  auto* out = static_cast<char*>(elfMalloc(n + 1));
  if (!out) return nullptr;
  std::memcpy(out, begin, n);
  out[n] = '\0';
  return out;
}

const char* base_of(const char* name) {
  const char* slash = std::strrchr(name, '/');
  return slash ? slash + 1 : name;
}

// The '.' that starts the base name's extension, or null.
const char* extension_dot(const char* base) {
  const char* dot = std::strrchr(base, '.');
  return dot && dot != base && dot[1] ? dot : nullptr;
}

}  // namespace

char* elfPath(const char* name) {
  const char* slash = name ? std::strrchr(name, '/') : nullptr;
  return slash ? copy_span(name, slash) : nullptr;
}

char* elfName(const char* name) {
  if (!name) return nullptr;
  const char* base = base_of(name);
  const char* dot = extension_dot(base);
  return copy_span(base, dot ? dot : base + std::strlen(base));
}

char* elfExt(const char* name) {
  if (!name) return nullptr;
  const char* dot = extension_dot(base_of(name));
  return dot ? elfStrDup(dot + 1) : nullptr;
}
