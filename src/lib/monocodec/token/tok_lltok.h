#ifndef TOK_LLTOK_H
#define TOK_LLTOK_H

// The lossless tokenizer: components whose run lists are identical value for value share one
// token. A run list is an array of u16 pairs {x from the component's left edge, length}, top
// line first and left to right within a line; a run that does not start past the end of the run
// before it begins the next line, and a pair of length 0 is a line marker whose x is the line of
// the next run. Tokens are filed by box size (a sparse array of hash tables), so a lookup
// compares only components of the same width and height.

#include <stdint.h>

#include "vlt_adt.h"
#include "vlt_state.h"

// The tokenizer takes its token records from this small pool.
inline constexpr uint32_t VLT_LLTOK_POOL = 4;
// Buckets of a size cell's table: the hash reduces modulo this prime.
inline constexpr uint32_t VLT_LLTOK_BUCKETS = 379;

enum : uint32_t {
  VLT_LLTOK_COPY = 1,  // keep a copy of each new token's runs, never the caller's array
};

// One component as handed in.
struct VltLlTokKey {
  uint16_t* runs;       // count pairs, from the engine allocator
  int32_t count;        // at least 1
  int16_t width;        // -1: derived from the runs (both are then written back)
  int16_t height;
  uint32_t occurrence;  // the caller's word for this component
};

struct VltLlToken {
  uint16_t* runs;            // the creating component's array, or a copy in copy mode
  int32_t count;
  int32_t width;
  int32_t height;
  uint32_t index;            // the new index the caller passed when the token was made
  VltAdtList* occurrences;   // occurrence words of every component of the token, the first first
  int32_t refs;              // components of the token
};

struct VltLlTokState {
  uint32_t flags;                // VLT_LLTOK_COPY
  VltAdtSparseMatrix* store;     // cell (width, height): a VltAdtHashTable of tokens of that size
  int32_t distinct;              // tokens created
  uint8_t final;                 // set while VltLlTokFinal hands the records out
  VltLlToken* last;              // the latest matched or made token of at most 4 runs
  VltLlToken sentinel;           // the cache's empty token
  uint32_t memUsage;             // 28 + 4 x runs for every token made since init
  VltState* engine;
};

struct VltLlTokOptions {
  uint32_t flags;
  VltState* engine;
};

void VltLlTokSetDefaults(VltLlTokOptions* options);
// 118 without options or place, 2 without an engine state, 10003 when pool blocks cannot hold a
// token, 1 without memory.
VltStatus VltLlTokInit(VltLlTokState** place, const VltLlTokOptions* options);

// The token of one component: *index is newIndex when a token was made, else the index of the
// token it matched. On success in default mode the tokenizer takes key->runs (a new token keeps
// the array, a match frees it) and clears the pointer; on failure, and always in copy mode, the
// array stays the caller's. 10003 for a key without runs, 2 for a derived size beyond 16 bits.
VltStatus VltLlAddToken(VltLlTokState* state, VltLlTokKey* key, uint32_t newIndex, uint32_t* index);

// Hand every stored token out in a new list, ordered by height, width, bucket and filing order.
// Partial empties the store and keeps the state; Final frees the state (not the tokens). A failure
// leaves the store as it was.
VltStatus VltLlTokPartial(VltLlTokState* state, VltAdtList** place);
VltStatus VltLlTokFinal(VltLlTokState* state, VltAdtList** place);
// Files the listed tokens again and frees the list. A token equal to one already stored, a node
// without token or a failure stops the resumption: the tokens filed so far have left the list,
// the rest stay in it for the caller, and the status is returned (10003 for the first two).
VltStatus VltLlTokResume(VltLlTokState* state, VltAdtList* list);
// Frees the state with every stored token.
VltStatus VltLlTokAbort(VltLlTokState* state);

// A token goes with its runs and its occurrence list (clear token->occurrences after releasing
// the list yourself).
VltStatus VltLlTokFreeOutput(VltAdtList* list, VltState* engine);
void VltLlTokFreeClass(VltLlToken* token, VltState* engine);
uint32_t VltLlTokMemUsage(const VltLlTokState* state);

// 1 when the count pairs of a and b are equal (also for a count of 0 or less).
int ExactMatchRuns(const uint16_t* a, const uint16_t* b, int32_t count);

namespace lltok {
// The size cells' table callbacks: the bucket (0 .. VLT_LLTOK_BUCKETS - 1) from the pixel sum,
// the run count and the first run's x; equality of run lists.
uint32_t hash(void* data, void* token);
int isequal(void* data, void* a, void* b);
}  // namespace lltok

#endif
