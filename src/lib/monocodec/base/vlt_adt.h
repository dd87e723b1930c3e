#ifndef VLT_ADT_H
#define VLT_ADT_H

// The engine's containers: a doubly linked list, a sparse two-dimensional array of words and a
// hash table over it. Each is created against a VltState and allocates only through it; the
// elements are the caller's words and are never freed by the containers.

#include <stdint.h>

#include "vlt_state.h"

struct VltAdtList;

struct VltAdtListNode {
  VltAdtListNode* next;   /* null at the tail */
  VltAdtListNode* prev;   /* null at the head */
  VltAdtList* list;       /* the list the node belongs to */
  void* data;
};

struct VltAdtList {
  VltAdtListNode* first;
  VltAdtListNode* last;
  VltState* state;
  uint32_t count;
};

/* Heads and nodes are blocks of this pool. */
inline constexpr uint32_t VLT_ADT_LIST_POOL = 3;

VltStatus VltAdt_liNew(VltAdtList** place, VltState* state);
VltStatus VltAdt_liAdd(VltAdtList* list, void* data, VltAdtListNode** place);
/* Inserts after node, or at the head when node is null. */
VltStatus VltAdt_liAddAfter(VltAdtList* list, VltAdtListNode* node, void* data, VltAdtListNode** place);
VltStatus VltAdt_liRem(VltAdtListNode* node);
VltStatus VltAdt_liRemAndNext(VltAdtListNode* node, VltAdtListNode** next);
VltStatus VltAdt_liClear(VltAdtList* list);
VltStatus VltAdt_liFree(VltAdtList* list);
/* Stores the last node whose data is the word, or null. */
VltStatus VltAdt_liIsIn(VltAdtList* list, void* data, VltAdtListNode** place);
/* Moves every node of second to the end of list and frees the second head. */
VltStatus VltAdt_liApp(VltAdtList* list, VltAdtList* second);

/* Sparse array: row y holds the words of columns origin .. origin + count - 1. */
inline constexpr int32_t VLT_ADT_SM_MAX_X = 32767;

struct VltAdtSparseMatrix {
  uint16_t* rowOrigins;
  uint16_t* rowCounts;
  uintptr_t** rows;        /* null for a row without storage */
  int32_t maxAllocRow;     /* -1 while the arrays do not exist */
  int32_t maxTouchedRow;   /* largest y passed to get or set, -1 at first */
  int32_t initialRows;
  int32_t zeroFill;        /* non-zero: new storage is zero-filled */
  VltState* state;
};

VltStatus VltAdt_smNew(VltAdtSparseMatrix** place, int32_t zeroFill, int32_t initialRows, VltState* state);
/* Get and set grow the storage to cover (x, y) first; x must lie in 0..32767 and y be
   non-negative (2 otherwise). */
VltStatus VltAdt_smGet(VltAdtSparseMatrix* sm, int32_t x, int32_t y, uintptr_t* place);
VltStatus VltAdt_smSet(VltAdtSparseMatrix* sm, int32_t x, int32_t y, uintptr_t word);
/* 1 when (x, y) lies in allocated storage, else 0; never allocates. */
int VltAdt_smIsAllocated(const VltAdtSparseMatrix* sm, int32_t x, int32_t y);
/* The smallest row above y, up to the highest row touched, that has storage; else the highest
   row touched plus one. */
int32_t VltAdt_smGetNextY(const VltAdtSparseMatrix* sm, int32_t y);
VltStatus VltAdt_smFree(VltAdtSparseMatrix* sm);

typedef int (*VltAdtEqualFn)(void* userData, void* key, void* entry);
typedef uint32_t (*VltAdtHashFn)(void* hashData, void* key);
typedef void (*VltAdtFreeFn)(void* userData);

/* Keys are non-null words stored in the buckets themselves; row y of the bucket store is
   bucket y, column x its x-th entry, and a zero word ends a bucket. */
struct VltAdtHashTable {
  VltAdtSparseMatrix* buckets;
  VltAdtEqualFn isEqual;
  VltAdtHashFn hash;
  VltAdtFreeFn freeFn;
  void* hashData;          /* the user data with a caller's hash function, else the table */
  void* userData;
  int32_t iterBucket;
  int32_t iterSlot;
  uint16_t size;
  VltState* state;
};

/* size 0 means 100; sizes above 65535 give 2. */
VltStatus VltAdt_htNew(VltAdtHashTable** place, void* userData, VltAdtEqualFn isEqual, VltAdtHashFn hash,
                       VltAdtFreeFn freeFn, uint32_t size, VltState* state);
/* Adds the key unless an equal entry is present; that entry is then stored in *existing
   (null when the key was added). */
VltStatus VltAdt_htAddToTable(VltAdtHashTable* table, void* key, void** existing);
VltStatus VltAdt_htIsInTable(VltAdtHashTable* table, void* key, void** entry);
VltStatus VltAdt_htRemoveFromTable(VltAdtHashTable* table, void* key, void** removed);
VltStatus VltAdt_htResetGetNextElement(VltAdtHashTable* table);
/* The next entry in bucket order, or null once every bucket has been passed. */
VltStatus VltAdt_htGetNextElement(VltAdtHashTable* table, void** entry);
VltStatus VltAdt_htFree(VltAdtHashTable* table);

int generic_isequal(void* userData, void* key, void* entry);
uint32_t generic_hash(void* table, void* key);

#endif
