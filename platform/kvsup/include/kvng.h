#ifndef KVNG_H
#define KVNG_H

// The imaging engine's support calls used by the plug-in libraries: its allocator, which draws
// on the interpreter's one heap (buffers made here are released by the interpreter and the
// other way round), and function retrieval from plug-in libraries by name.

#include <stddef.h>

#include "mono_export.h"

/* A zero-filled block of count * size bytes from the shared heap, or null. */
MONO_API void* kvng_internal_calloc(size_t count, size_t size);
/* Releases a block of the shared heap; null is ignored. */
MONO_API void kvng_internal_free(void* block);

/* Binds function in the plug-in library named library ("monocodec" is libmonocodec.so; names
   map to files and are searched as elf_plugin.h tells) into *place. Returns 1 on success;
   otherwise 0, *place untouched, and the reason kept for KVngRetrieveError. */
MONO_API int KVngRetrieveFunc(const char* function, const char* library, void** place);
/* Why the last KVngRetrieveFunc of this thread failed ("" after a success). */
MONO_API const char* KVngRetrieveError(void);

#endif
