#ifndef ELF_MEMORY_H
#define ELF_MEMORY_H

// The interpreter's heap. Buffers travel between the interpreter, the imaging engine and the
// plug-ins (layer data made by one family is released by another), so every allocator name of
// the platform draws on this one heap. By default it is the C library's heap; a test installs
// its own procedures to count blocks and make the k-th allocation fail.

#include <stddef.h>

#include "mono_export.h"

/* Heap procedures: (size, data), (count, size, data), (block, data). */
typedef struct elf_heap_procs {
  void* (*malloc)(size_t size, void* data);
  void* (*calloc)(size_t count, size_t size, void* data);
  void (*free)(void* block, void* data);
  void* data;
} elf_heap_procs;

/* Installs heap procedures (copied); null restores the C library's. Blocks must be released
   under the procedures that made them, so install before and restore after everything. */
MONO_API void elfSetHeap(const elf_heap_procs* procs);

/* A block of size bytes (one byte for 0), or null. */
MONO_API void* elfMalloc(size_t size);
/* A zero-filled block of count * size bytes, or null (also when the product overflows). */
MONO_API void* elfCalloc(size_t count, size_t size);
/* Releases a block of this heap; null is ignored. */
MONO_API void _elfFree(void* block);
/* A copy of the text on this heap, or null (also for null text). */
MONO_API char* elfStrDup(const char* text);

#endif
