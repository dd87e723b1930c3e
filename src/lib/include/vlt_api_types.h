#ifndef VLT_API_TYPES_H
#define VLT_API_TYPES_H

/* The caller's tables the engine and decoder APIs take: memory and small-pool functions, and
   where a standalone JBIG2 file goes. */

#include <stddef.h>
#include <stdint.h>

#include "vlt_status.h"

typedef void* (*VltMallocFn)(size_t size);
typedef void (*VltFreeFn)(void* block);
typedef void* (*VltCallocFn)(size_t count, size_t size);
typedef void* (*VltReallocFn)(void* block, size_t size);

/* Small-pool functions: alloc stores one block of the pool in *place and returns 0 or a status;
   free gives a block back to the pool it came from. */
typedef VltStatus (*VltSmallAllocFn)(void* context, uint32_t pool, void** place);
typedef void (*VltSmallFreeFn)(void* context, uint32_t pool, void* block);

/* A caller's memory table; copied into the state. */
struct VltMemFuncs {
  VltMallocFn malloc;
  VltFreeFn free;
  VltCallocFn calloc;
  VltReallocFn realloc;
};

/* A caller's small-pool table; copied into the state. */
struct VltSmallPoolFuncs {
  void* context;
  VltSmallAllocFn alloc;
  VltSmallFreeFn free;
};

/* Writes count items of size bytes to the stream and returns the number of whole items written
   (fwrite's contract: 1 when everything of one item was written). */
typedef size_t (*Jb2FileWriteFn)(const void* data, size_t size, size_t count, void* stream);

/* Where the file goes. */
struct Jb2FileTarget {
  void* stream;
  Jb2FileWriteFn write;
};

/* One extension segment: its type and data (not owned). */
struct Jb2ExtensionRecord {
  uint32_t type;
  const uint8_t* data;
  uint32_t length;
};

#endif
