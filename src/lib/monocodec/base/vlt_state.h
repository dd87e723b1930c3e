#ifndef VLT_STATE_H
#define VLT_STATE_H

// The engine state every engine object is created against: memory functions, small-block
// pools, the error reporter and the image core's wrapper state.

#include <stddef.h>
#include <stdint.h>

#include "vlt_api_types.h"
#include "vlt_errors.h"
#include "vlt_status.h"

struct IPState;

enum : uint32_t {
  VLT_STATE_OWNS_POOLS = 1,    /* the state made its own small pools */
  VLT_STATE_LIBC_MEMORY = 2,   /* the memory functions are the C library's */
};

struct VltState {
  VltMallocFn malloc;
  VltFreeFn free;
  VltCallocFn calloc;
  VltReallocFn realloc;
  void* smallContext;          /* the VltSmallMem record with the engine's own pools */
  VltSmallAllocFn smallAlloc;
  VltSmallFreeFn smallFree;
  VltErrState* errState;       /* null: failures are returned silently */
  IPState* ipwState;           /* the wrapper state (an IPWState), or null */
  IPState* ipState;            /* a bare core state; nothing fills it, cleanup frees it */
  uint32_t flags;              /* VLT_STATE_OWNS_POOLS, VLT_STATE_LIBC_MEMORY */
};

/* Every pool hands out blocks of this many bytes; records kept in pools static_assert against it. */
inline constexpr size_t VLT_POOL_BLOCK_SIZE = 64;
inline constexpr uint32_t VLT_POOL_COUNT = 8;

/* The engine's own pools. */
struct VltPoolDesc {
  void* freeList;              /* first free block; a free block's first word links to the next */
  uint32_t blockSize;
};

struct VltSmallMem {
  VltPoolDesc* pools[VLT_POOL_COUNT];  /* per pool number: its own descriptor or a shared one */
  VltPoolDesc desc[VLT_POOL_COUNT];
  void* chunks;                /* most recent chunk; a chunk's first word links to the previous */
  uint32_t usedMask;           /* descriptors that have received a chunk */
  VltState* owner;             /* whose malloc, free and reporter the pools use */
};

/* Creates a state in *place. Null tables take the C library's functions and the engine's own
   pools; a non-null printer becomes the state's reporter. wrapper != 0 makes the wrapper state,
   core != 0 runs Vlt_initIPState. Returns 0, 118 (null place or incomplete table), 1, or the
   failing step's status; on failure *place is untouched and nothing stays allocated. */
VltStatus Vlt_initVltState(VltState** place, const VltMemFuncs* mem, const VltSmallPoolFuncs* pools,
                           void* errContext, VltErrPrinter printer, int wrapper, int core);

/* Frees the state in *place and everything it owns, clears the place. Always 0. */
VltStatus Vlt_cleanupVltState(VltState** place);

VltStatus Vlt_initIPWState(VltState* state);
VltStatus Vlt_cleanupIPWState(VltState* state);
VltStatus Vlt_initIPState(VltState* state);
VltStatus Vlt_cleanupIPState(VltState* state);

/* Allocator and error callbacks handed to the wrapper layer; the data word is the VltState
   (the VltErrState for the error callback). */
void* vlt_ipc_malloc(size_t size, void* state);
void* vlt_ipc_calloc(size_t count, size_t size, void* state);
void* vlt_ipc_realloc(void* block, size_t size, void* state);
void vlt_ipc_free(void* block, void* state);
void vlt_ipc_errPrinter(void* errState, const char* message);

/* The engine's own pools (pool numbers 0-7). */
VltStatus vlt_mallocSmall(void* smallMem, uint32_t pool, void** place);
void vlt_freeSmall(void* smallMem, uint32_t pool, void* block);
VltStatus vlt_initSmallMem(VltState* state, VltSmallMem** place);
void vlt_cleanupSmallMem(VltSmallMem** place);
void vlt_selectPools(VltSmallMem* mem, uint32_t mask);
VltStatus Vlt_selectPools(VltState* state, uint32_t mask);

/* Block size of a pool number: 64 for 0-7, -1 otherwise. */
int32_t Vlt_getPoolSize(uint32_t pool);
/* Prints "<name> = <size>" on stdout; 1 when the pool's blocks hold size bytes, else 0. */
int Vlt_validatePoolSize(const char* name, int32_t size, uint32_t pool);

/* Reports a failure through the state's reporter (when it has one) and returns the code. */
inline VltStatus Vlt_report(const VltState* state, VltStatus code) {
  return Vlt_reportErr(state != nullptr ? state->errState : nullptr, code);
}

#endif
