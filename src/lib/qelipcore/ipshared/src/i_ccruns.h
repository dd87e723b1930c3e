#ifndef I_CCRUNS_H
#define I_CCRUNS_H

// Runs of ON pixels and the connected components built from them. The run and component
// records are shared with the token engine, which walks them in its own strip-wise pass.

#include <stddef.h>
#include <stdint.h>

#include "i_heap.h"
#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CCComponent CCComponent;

// One run of a line: columns start..end inclusive, counted from bit 0 of the buffer line.
typedef struct CCRun {
  struct CCRun* next;      // next run of the list; the free link while the cell is free
  CCComponent* component;  // component the run was attached to, null when none yet
  int16_t start;
  int16_t end;
} CCRun;

// List ends: a head sentinel precedes the first run, a tail sentinel follows the last one; a
// list is walked until a run starts above IP_RUN_MAX_COLUMN.
enum {
  IP_RUN_HEAD_SENTINEL = -32752,
  IP_RUN_TAIL_SENTINEL = 32752,
  IP_RUN_MAX_COLUMN = 32751
};

// A component under construction. Its run list, from newestRun along next, holds its lines from
// the lowest up to the top one and each line right to left; a run is the last of its line when
// it has no successor or the successor's end is at least its start - 1.
struct CCComponent {
  CCComponent* parent;  // null for a live root; after a merge the record it went into
  int32_t xMin;
  int32_t yMin;  // top line
  int32_t xMax;
  int32_t yMax;  // bottom line
  int32_t refCount;  // runs of the most recent line whose component chain reaches this record
  int32_t pixelCount;
  int32_t runCount;
  CCRun* oldestRun;  // last run of the list: the leftmost run of the top line
  CCRun* newestRun;  // first run of the list
};

// Cell allocators and run lists of a component pass, kept by callers that feed lines themselves.
typedef struct CCState {
  HeapManager* heapManager;  // not owned
  CellBlock* componentCells;
  CellBlock* runCells;
  CCRun* runListA;  // head sentinels, each linked to a tail sentinel
  CCRun* runListB;
} CCState;

enum { IP_CC_COMPONENTS_PER_BLOCK = 128, IP_CC_RUNS_PER_BLOCK = 256 };

// Called once per complete component, in buffer coordinates; runs is its newestRun. The record
// and its runs are valid only during the call. Non-zero stops the search.
typedef int (*CCCallback)(IPState* state, void* userData, int32_t xMin, int32_t yMin,
                          int32_t width, int32_t height, int32_t pixelCount, int32_t runCount,
                          CCRun* runs);

// Lists the runs of columns firstX..lastX of one line into first and the cells after it, then a
// tail sentinel; cells are taken from runCells only when the list has none left. Columns must
// lie in 0..IP_RUN_MAX_COLUMN (else 2); only the bytes up to column lastX are read.
VltStatus i_findAllRunsInLine(IPState* state, const uint8_t* line, int32_t lastX, int32_t firstX,
                              CCRun* first, CellBlock* runCells);

// The same runs as (start + offset, end + offset) pairs into an array of capacity pairs; *end
// receives the address after the last pair. More runs than capacity: 7.
VltStatus i_findAllRunsInLineArray(IPState* state, const uint8_t* line, int32_t lastX,
                                   int32_t firstX, int32_t* runs, uint32_t capacity,
                                   int32_t offset, int32_t** end);

// Finds the components of columns x0..x0 + width - 1 of lines y0..y0 + height - 1; connectivity
// 0 joins edge neighbours only, 1 also corner neighbours. Components narrower than minWidth or
// lower than minHeight are dropped silently. A non-zero callback result goes to *callbackResult
// and the call returns 13.
VltStatus i_findConnectedComponentRuns(IPState* state, const uint8_t* base, uint32_t bytesPerLine,
                                       int32_t x0, int32_t y0, int32_t width, int32_t height,
                                       int32_t minWidth, int32_t minHeight, int32_t connectivity,
                                       void* userData, CCCallback callback, int* callbackResult);

VltStatus i_getCCStateSize(IPState* state, size_t* size);
VltStatus i_initializeCCState(IPState* state, CCState* cc, HeapManager* heapManager);
// Returns both cell chains to the heap manager; the manager itself stays the owner's.
VltStatus i_destroyCCState(IPState* state, CCState* cc);
VltStatus i_getCCStateHeapManager(IPState* state, CCState* cc, HeapManager** heapManager);

#ifdef __cplusplus
}

// The parameters of one component pass that stay fixed from line to line.
struct CCJoinParams {
  int32_t connectivity;
  int32_t minWidth;
  int32_t minHeight;
  CCCallback callback;
  void* userData;
  int* callbackResult;
};

// One line step of the component pass, for callers that feed the lines themselves: prev holds
// the runs of line y - 1 (already attached to components), cur those of line y (unattached, an
// empty list after the last line). Components that do not reach line y are completed; prev is
// left empty. Returns 13 when the callback stops the pass, or a cell allocation failure.
VltStatus ip_joinRunLines(IPState* state, CCState* cc, CCRun* prev, CCRun* cur, int32_t y,
                          const CCJoinParams& params);
#endif

#endif
