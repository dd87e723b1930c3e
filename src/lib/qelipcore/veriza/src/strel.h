#ifndef STREL_H
#define STREL_H

// Structuring elements for binary morphology and thinning, and the per-state manager of the
// predefined elements (ids 1-74).

#include <stdint.h>

#include "ipw_state.h"

/* Cell values. */
enum : int16_t {
  STREL_DONT_CARE = 0,
  STREL_HIT = 1,   /* dilation member; erosion needs the source pixel set */
  STREL_MISS = 2,  /* erosion needs the source pixel clear; dilation ignores it */
};

enum : uint32_t {
  STREL_FIRST_ID = 1,
  STREL_LAST_ID = 74,
  STREL_UNMANAGED_ID = 75, /* an element made by w_createStrel that no slot holds */
  STREL_SLOT_COUNT = 76,
};

struct strel {
  int32_t width;
  int32_t height;
  int32_t centerX;
  int32_t centerY;
  uint32_t id;
  int16_t** cells;           /* cells[y][x], height rows of width cells */
  void* erodeProgram;        /* generated morphology code, null until made */
  void* longErodeProgram;
  void* dilateProgram;
  void* longDilateProgram;
  uint32_t generate;         /* 1 until a morphology call found no generated program */
  uintptr_t shortProgramData;
  uintptr_t longProgramData;
};

struct StrelSlot {
  strel* element;            /* non-null exactly when refCount >= 1 */
  int32_t refCount;
};

struct StrelMgr {
  StrelSlot* slots;          /* STREL_SLOT_COUNT slots indexed by id */
};

VltStatus w_matrix(IPWState* state, int32_t width, int32_t height, int16_t*** place);
VltStatus w_createStrel(IPWState* state, int32_t width, int32_t height, strel** place);
VltStatus w_destroyStrel(IPWState* state, strel** place);
VltStatus w_strelCacheFree(IPWState* state, strel* element);
VltStatus w_strelSetPoint(IPWState* state, int32_t x, int32_t y, int32_t value, strel* element);
VltStatus w_strelGetPoint(IPWState* state, int32_t x, int32_t y, const strel* element, int32_t* place);
VltStatus w_strelSetCenter(IPWState* state, int32_t x, int32_t y, strel* element);
VltStatus w_strelGetCenter(IPWState* state, const strel* element, int32_t* x, int32_t* y);

/* Builders; each needs *place to be null. */
VltStatus w_makeSolidCenterStrel(IPWState* state, int32_t width, int32_t height, strel** place);
VltStatus w_createHorizRuleStrel(IPWState* state, int32_t n, strel** place);
VltStatus w_createVertRuleStrel(IPWState* state, int32_t n, strel** place);

VltStatus w_initStrelMgr(IPWState* state);
VltStatus w_termStrelMgr(IPWState* state);
/* Builds predefined element id (1-74) on first use and adds a reference. */
VltStatus w_initStrelByName(IPWState* state, uint32_t id);
/* Lends the element of slot id without taking a reference; *place must be null. */
VltStatus w_getStrel(IPWState* state, uint32_t id, strel** place);
/* Drops one reference; a null manager means the state's own. */
VltStatus w_releaseStrelByName(IPWState* state, StrelMgr* mgr, uint32_t id);
VltStatus w_releaseAllStrels(IPWState* state, StrelMgr* mgr);

#endif
