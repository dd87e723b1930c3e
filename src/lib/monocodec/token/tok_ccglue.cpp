// Position and token blocks, and the hand-over of a component to the lossless tokenizer.

#include "tok_ccglue.h"

#include <algorithm>

#include "checked_size.h"

namespace {

template <class Block, class Entry>
VltStatus init_block(VltState* engine, Block** place, uint32_t capacity, Entry* Block::*array) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  *place = nullptr;
  auto* b = static_cast<Block*>(engine->calloc(1, sizeof(Block)));
  if (b == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  b->*array = static_cast<Entry*>(engine->calloc(capacity == 0 ? 1 : capacity, sizeof(Entry)));
  if (b->*array == nullptr) {
    engine->free(b);
    return Vlt_report(engine, VLT_ERR_NOMEM);
  }
  b->capacity = capacity;
  *place = b;
  return VLT_OK;
}

template <class Block, class Entry>
VltStatus cleanup_block(VltState* engine, Block* block, Entry* Block::*array) {
  if (block == nullptr) return VLT_OK;
  if (engine == nullptr) return VLT_ERR_PARAM;
  engine->free(block->*array);
  engine->free(block);
  return VLT_OK;
}

// Grows the array when count has reached the capacity.
template <class Block, class Entry>
VltStatus reserve(VltState* engine, Block* block, Entry* Block::*array) {
  if (block->count < block->capacity) return VLT_OK;
  const uint32_t grown = vlt_growByHalf(block->capacity);
  size_t bytes = 0;
  if (grown <= block->capacity || !mono::checked_mul(size_t(grown), sizeof(Entry), &bytes))
    return Vlt_report(engine, VLT_ERR_NOMEM);
  auto* a = static_cast<Entry*>(engine->realloc(block->*array, bytes));
  if (a == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  block->*array = a;
  block->capacity = grown;
  return VLT_OK;
}

}  // namespace

uint32_t vlt_growByHalf(uint32_t capacity) {
  const uint64_t grown = uint64_t{capacity} + std::max<uint32_t>(capacity / 2, 1);
  return grown > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(grown);
}

VltStatus VltCC_initPosBlock(VltState* engine, VltPosBlock** place, uint32_t capacity) {
  return init_block(engine, place, capacity, &VltPosBlock::entries);
}
VltStatus VltCC_initTokBlock(VltState* engine, VltTokBlock** place, uint32_t capacity) {
  return init_block(engine, place, capacity, &VltTokBlock::records);
}
VltStatus VltCC_cleanupPosBlock(VltState* engine, VltPosBlock* block) {
  return cleanup_block(engine, block, &VltPosBlock::entries);
}
VltStatus VltCC_cleanupTokBlock(VltState* engine, VltTokBlock* block) {
  return cleanup_block(engine, block, &VltTokBlock::records);
}
VltStatus VltCC_reservePos(VltState* engine, VltPosBlock* block) {
  if (block == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  return reserve(engine, block, &VltPosBlock::entries);
}

VltStatus VltCC_tokenAddCC(VltState* engine, VltLlTokState* tokenizer, VltTokBlock* block, VltLlTokKey* runs,
                           VltTokenRecord** word) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (tokenizer == nullptr || block == nullptr || runs == nullptr || word == nullptr)
    return Vlt_report(engine, VLT_ERR_NULL);
  *word = nullptr;
  if (VltStatus st = reserve(engine, block, &VltTokBlock::records)) return st;
  block->records[block->count] = nullptr;
  uint32_t index = 0;
  if (VltStatus st = VltLlAddToken(tokenizer, runs, block->count, &index)) return st;
  if (index == block->count) ++block->count;
  if (index >= block->count) return VLT_ERR_ASSERT;
  *word = block->records[index];
  return VLT_OK;
}
