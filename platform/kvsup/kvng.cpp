// Imaging-engine support: the engine allocator over the interpreter heap, function retrieval.

#include "kvng.h"

#include "elf_memory.h"
#include "elf_plugin.h"

namespace {

thread_local char retrieve_error[512];

}  // namespace

void* kvng_internal_calloc(size_t count, size_t size) { return elfCalloc(count, size); }

void kvng_internal_free(void* block) { _elfFree(block); }

int KVngRetrieveFunc(const char* function, const char* library, void** place) {
  return elfBindSharedProc(library, function, place, retrieve_error, sizeof retrieve_error);
}

const char* KVngRetrieveError(void) { return retrieve_error; }
