#ifndef IP_INTERNAL_H
#define IP_INTERNAL_H

// Helpers shared by the core's own sources: failure reporting and slot allocation.

#include "ipstate.h"

namespace ipcore {

inline VltStatus fail(IPState* state, const char* file, long line, VltStatus code) {
  i_printErrorInfo(state, file, line, code);
  return code;
}

inline void* alloc(IPState* state, int slot, size_t size) {
  return state->mallocProc[slot](size, state->allocData[slot]);
}
inline void* alloc_zeroed(IPState* state, int slot, size_t count, size_t size) {
  return state->callocProc[slot](count, size, state->allocData[slot]);
}
inline void release(IPState* state, int slot, void* p) {
  if (p) state->freeProc[slot](p, state->allocData[slot]);
}

}  // namespace ipcore

#define IP_FAIL(state, code) ::ipcore::fail((state), __FILE__, __LINE__, (code))

#endif
