#ifndef I_HEAP_H
#define I_HEAP_H

// The heap manager (every block it hands out is tracked, so a whole family of allocations can be
// counted and released at once) and the cell-block allocator built on it (fixed-size cells from
// blocks, freed cells kept on a free list).

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HeapNode {
  struct HeapNode* next;  // toward the oldest node
  struct HeapNode* prev;  // toward the newest node
  size_t size;            // tracked size of the block
  void* block;
} HeapNode;

typedef struct HeapManager {
  IPState* state;  // its slot 2 serves every allocation
  HeapNode* newest;
  HeapNode* oldest;
  uint32_t blockCount;
  size_t byteCount;  // tracked sizes plus one HeapNode per block
} HeapManager;

// Header of one block of cells; the cells follow it in the same allocation. The first block of
// a chain is the allocator's handle: its free list serves the whole chain.
typedef struct CellBlock {
  struct CellBlock* nextBlock;
  void* freeHead;
  size_t cellSize;  // bytes per cell, rounded up so every cell can hold its pointer link
  uint32_t cellCount;
  HeapManager* heapManager;
} CellBlock;

VltStatus i_getHeapManagerSize(IPState* state, size_t* size);
VltStatus i_initializeHeapManager(IPState* state, HeapManager* manager);
// Frees every tracked block and node, then initialises the manager again with the given state.
VltStatus i_destroyHeapManager(IPState* state, HeapManager* manager);
VltStatus i_getNumHeapBlocks(IPState* state, HeapManager* manager, uint32_t* count);
VltStatus i_getNumHeapBytes(IPState* state, HeapManager* manager, size_t* bytes);

// The allocation calls report failure by a null result only.
void* i_hm_malloc(size_t size, HeapManager* manager);
void* i_hm_calloc(size_t count, size_t size, HeapManager* manager);
// A failed reallocation leaves the old block valid and tracked as before; an untracked pointer
// (null included) is adopted into the list when the reallocation succeeds.
void* i_hm_realloc(void* ptr, size_t size, HeapManager* manager);
// A pointer the manager does not track is left alone.
void i_hm_free(void* ptr, HeapManager* manager);

// A cell size below one pointer or a zero count gives 2; no memory gives 1.
VltStatus i_allocateMemoryBlock(IPState* state, CellBlock** block, size_t cellSize,
                                uint32_t cellCount, HeapManager* manager);
// Hands out the head of the free list; taking the last free cell chains a new block first, so
// the list never runs dry. The cell is not cleared.
VltStatus i_allocateStruct(IPState* state, CellBlock* first, void** cell);
// Returns *cell to the free list (last in, first out) and clears *cell.
VltStatus i_freeStruct(IPState* state, CellBlock* first, void** cell);
// Releases every block of the chain and clears *first.
VltStatus i_freeAllMemoryBlocks(IPState* state, CellBlock** first);

#ifdef __cplusplus
}

// Typed forms of the cell calls for the core's own record types.
template <class T>
inline VltStatus ip_allocCell(IPState* state, CellBlock* first, T** cell) {
  void* p = nullptr;
  const VltStatus s = i_allocateStruct(state, first, &p);
  *cell = static_cast<T*>(p);
  return s;
}
template <class T>
inline void ip_freeCell(IPState* state, CellBlock* first, T** cell) {
  void* p = *cell;
  i_freeStruct(state, first, &p);
  *cell = nullptr;
}
#endif

#endif
