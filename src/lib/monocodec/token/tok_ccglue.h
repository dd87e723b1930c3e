#ifndef TOK_CCGLUE_H
#define TOK_CCGLUE_H

// The glue between the page-component stage and the lossless tokenizer: the position block
// (where each small component of a section's pages sits) and the token block (one word per
// lossless token of the section), both growing by half their capacity when full.

#include <stdint.h>

#include "tok_lltok.h"
#include "vlt_state.h"

// The section output's record of a token; the token block only carries pointers to it.
struct VltTokenRecord;

struct VltPosEntry {
  uint32_t position;  // index of the component's entry in its page's residual position array
  uint32_t page;      // index of the page in the section
};

struct VltPosBlock {
  uint32_t count;
  uint32_t capacity;
  VltPosEntry* entries;
};

struct VltTokBlock {
  uint32_t count;            // lossless tokens of the section so far: the next token index
  uint32_t capacity;
  VltTokenRecord** records;  // per token index: its record from an earlier section, or null
};

// capacity + capacity / 2, and at least one more.
uint32_t vlt_growByHalf(uint32_t capacity);

// 2 without engine state, 118 (reported) without place, 1 without memory.
VltStatus VltCC_initPosBlock(VltState* engine, VltPosBlock** place, uint32_t capacity);
VltStatus VltCC_initTokBlock(VltState* engine, VltTokBlock** place, uint32_t capacity);
// 0 for an absent block, 2 without engine state.
VltStatus VltCC_cleanupPosBlock(VltState* engine, VltPosBlock* block);
VltStatus VltCC_cleanupTokBlock(VltState* engine, VltTokBlock* block);
// Room for one more entry.
VltStatus VltCC_reservePos(VltState* engine, VltPosBlock* block);

// Hands one component to the tokenizer with the block's count as the new token index, and gives
// the word stored for its token: null for a token made now or never given a record. The runs
// follow the tokenizer's ownership rules.
VltStatus VltCC_tokenAddCC(VltState* engine, VltLlTokState* tokenizer, VltTokBlock* block, VltLlTokKey* runs,
                           VltTokenRecord** word);

#endif
