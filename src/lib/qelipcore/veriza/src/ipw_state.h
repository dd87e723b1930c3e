#ifndef IPW_STATE_H
#define IPW_STATE_H

// The wrapper layer's state: the image core's state record as the wrapper layer builds it, with
// the structuring-element manager and the settings of an optional environment file.

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"
#include "vlt_status.h"

typedef IPState IPWState;

/* One NAME=VALUE setting of the environment file; name and value are NUL-terminated, the value
   is null when the file ended right after the equals sign. */
struct IPWEnvNode {
  IPWEnvNode* next;
  char* name;
  char* value;
};

/* Allocator set 1 (pixel buffers), set 0 (records), error procedure, yield procedure,
   environment file (may be null), place for the new state (must hold null). Null allocator
   functions become the C library's. */
VltStatus w_IPWStateInit(IPMallocProc malloc1, IPCallocProc calloc1, IPReallocProc realloc1,
                         IPFreeProc free1, void* data1, IPMallocProc malloc0, IPCallocProc calloc0,
                         IPReallocProc realloc0, IPFreeProc free0, void* data0,
                         IPErrorProc errorProc, void* errorData, IPYieldProc yieldProc,
                         void* yieldArg1, void* yieldArg2, const char* envFileName,
                         IPWState** place);

/* Ends the state and clears *place; 118 for a null state. */
VltStatus w_IPWStateTerm(IPWState** place);

/* Formats "--VERiza Error-- File:%s Line:%ld Error: %ld\n" and hands it to the state's error
   procedure; silent without a state or procedure. Always 0. */
VltStatus w_printErrorInfo(IPWState* state, const char* file, long line, VltStatus code);

/* Reports a failure with the caller's file and line and returns the code. */
#define W_FAIL(state, code) (w_printErrorInfo((state), __FILE__, __LINE__, (code)), (code))

/* The value of the first setting with exactly this name, or null. */
const char* w_getenv(IPWState* state, const char* name);

VltStatus w_IPWStateInitEnvVars(IPWState* state, const char* fileName);
VltStatus w_IPWStateTermEnvVars(IPWState* state);

VltStatus w_IPWStateSetAllocator(IPWState* state, uint32_t set, IPMallocProc m, IPCallocProc c,
                                 IPReallocProc r, IPFreeProc f, void* data);
VltStatus w_IPWStateGetErrorProc(IPWState* state, IPErrorProc* proc, void** data);
VltStatus w_IPWStateSetErrorProc(IPWState* state, IPErrorProc proc, void* data);
VltStatus w_IPWStateGetYieldProc(IPWState* state, IPYieldProc* proc, void** arg1, void** arg2);
VltStatus w_IPWStateSetYieldProc(IPWState* state, IPYieldProc proc, void* arg1, void* arg2);
VltStatus w_IPWStateGetStrelInfo(IPWState* state, void** info);
VltStatus w_IPWStateSetStrelInfo(IPWState* state, void* info);
VltStatus wp_IPWStateGetLongAccessFlag(IPWState* state, uint32_t* flag);
VltStatus wp_IPWStateSetLongAccessFlag(IPWState* state, uint32_t flag);
VltStatus wp_IPWStateGetPurifyIsRunning(IPWState* state, uint32_t* flag);
VltStatus wp_IPWStateSetPurifyIsRunning(IPWState* state, uint32_t flag);
VltStatus wp_IPWStateGetUseHighResTime(IPWState* state, uint32_t* flag);
VltStatus wp_IPWStateSetUseHighResTime(IPWState* state, uint32_t flag);
VltStatus wp_IPWStateGetPrivateDirName(IPWState* state, const char** name);
VltStatus wp_IPWStateSetPrivateDirName(IPWState* state, const char* name);

/* Set 0 of the state: records, colour maps, structuring elements, environment settings. */
inline void* wp_alloc(IPWState* s, size_t size) { return s->mallocProc[0](size, s->allocData[0]); }
inline void* wp_allocZeroed(IPWState* s, size_t count, size_t size) {
  return s->callocProc[0](count, size, s->allocData[0]);
}
inline void* wp_realloc(IPWState* s, void* block, size_t size) {
  return s->reallocProc[0](block, size, s->allocData[0]);
}
inline void wp_release(IPWState* s, void* block) {
  if (block != nullptr) s->freeProc[0](block, s->allocData[0]);
}

#endif
