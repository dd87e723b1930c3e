// The one heap behind every allocator name of the platform.

#include <cstdlib>
#include <cstring>

#include "checked_size.h"
#include "elf_memory.h"

namespace {

void* libc_malloc(size_t size, void*) { return std::malloc(size); }
void* libc_calloc(size_t count, size_t size, void*) { return std::calloc(count, size); }
void libc_free(void* block, void*) { std::free(block); }

constexpr elf_heap_procs libc_heap{libc_malloc, libc_calloc, libc_free, nullptr};
elf_heap_procs heap = libc_heap;

}  // namespace

void elfSetHeap(const elf_heap_procs* procs) { heap = procs ? *procs : libc_heap; }

void* elfMalloc(size_t size) { return heap.malloc(size ? size : 1, heap.data); }

void* elfCalloc(size_t count, size_t size) {
  size_t total;
  if (!mono::checked_mul(count, size, &total)) return nullptr;
  return heap.calloc(count ? count : 1, size ? size : 1, heap.data);
}

void _elfFree(void* block) {
  if (block) heap.free(block, heap.data);
}

char* elfStrDup(const char* text) {
  if (!text) return nullptr;
  const size_t n = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(elfMalloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}
