// Engine state: memory functions, small-block pools, reporter and the wrapper state.

#include "vlt_state.h"

#include <cstdio>
#include <cstdlib>

#include "ipw_state.h"

namespace {

void* libc_malloc(size_t size) { return std::malloc(size); }
void libc_free(void* block) { std::free(block); }
void* libc_calloc(size_t count, size_t size) { return std::calloc(count, size); }
void* libc_realloc(void* block, size_t size) { return std::realloc(block, size); }

constexpr VltMemFuncs kLibcMemory = {libc_malloc, libc_free, libc_calloc, libc_realloc};

// Blocks per chunk by requested pool number.
constexpr uint16_t pool_quantums[VLT_POOL_COUNT] = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 100};
constexpr uint32_t pool_select_masks[VLT_POOL_COUNT] = {1, 2, 4, 8, 16, 32, 64, 128};

// A chunk starts with a header whose first word links to the previous chunk; blocks follow
// back to back, so the header keeps them aligned for any pointer-sized or 64-bit field.
constexpr size_t kChunkHeader = 8;
static_assert(sizeof(void*) <= kChunkHeader);
static_assert(VLT_POOL_BLOCK_SIZE % 8 == 0 && VLT_POOL_BLOCK_SIZE >= sizeof(void*));

struct FreeBlock {
  FreeBlock* next;
};

struct Chunk {
  Chunk* previous;
};

}  // namespace

int32_t Vlt_getPoolSize(uint32_t pool) {
  return pool < VLT_POOL_COUNT ? static_cast<int32_t>(VLT_POOL_BLOCK_SIZE) : -1;
}

int Vlt_validatePoolSize(const char* name, int32_t size, uint32_t pool) {
  std::printf("%s = %d\n", name, static_cast<int>(size));
  const int32_t block = Vlt_getPoolSize(pool);
  return block >= 0 && block >= size ? 1 : 0;
}

void vlt_selectPools(VltSmallMem* mem, uint32_t mask) {
  mem->pools[VLT_POOL_COUNT - 1] = &mem->desc[VLT_POOL_COUNT - 1];
  for (int i = static_cast<int>(VLT_POOL_COUNT) - 2; i >= 0; --i) {
    // A descriptor that already holds chunks stays selected so its blocks can come back to it.
    if (((mask | mem->usedMask) & pool_select_masks[i]) != 0)
      mem->pools[i] = &mem->desc[i];
    else
      mem->pools[i] = mem->pools[i + 1];
  }
}

VltStatus vlt_initSmallMem(VltState* state, VltSmallMem** place) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (Vlt_getPoolSize(0) < static_cast<int32_t>(sizeof(void*))) return Vlt_report(state, VLT_ERR_ASSERT);
  auto* mem = static_cast<VltSmallMem*>(state->calloc(1, sizeof(VltSmallMem)));
  if (mem == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  mem->owner = state;
  for (uint32_t i = 0; i < VLT_POOL_COUNT; ++i)
    mem->desc[i].blockSize = static_cast<uint32_t>(Vlt_getPoolSize(i));
  vlt_selectPools(mem, 255);
  *place = mem;
  return VLT_OK;
}

void vlt_cleanupSmallMem(VltSmallMem** place) {
  if (place == nullptr || *place == nullptr) return;
  VltSmallMem* mem = *place;
  *place = nullptr;
  const VltFreeFn free_fn = mem->owner->free;
  for (Chunk* c = static_cast<Chunk*>(mem->chunks); c != nullptr;) {
    Chunk* previous = c->previous;
    free_fn(c);
    c = previous;
  }
  free_fn(mem);
}

VltStatus vlt_mallocSmall(void* smallMem, uint32_t pool, void** place) {
  auto* mem = static_cast<VltSmallMem*>(smallMem);
  if (mem == nullptr || pool >= VLT_POOL_COUNT || place == nullptr || mem->pools[pool] == nullptr)
    return VLT_ERR_ASSERT;
  VltPoolDesc* d = mem->pools[pool];
  if (d->freeList != nullptr) {
    auto* b = static_cast<FreeBlock*>(d->freeList);
    d->freeList = b->next;
    *place = b;
    return VLT_OK;
  }
  const size_t quantum = pool_quantums[pool];
  auto* chunk = static_cast<Chunk*>(mem->owner->malloc(d->blockSize * quantum + kChunkHeader));
  if (chunk == nullptr) return Vlt_report(mem->owner, VLT_ERR_NOMEM);
  chunk->previous = static_cast<Chunk*>(mem->chunks);
  mem->chunks = chunk;
  mem->usedMask |= pool_select_masks[d - mem->desc];
  uint8_t* first = reinterpret_cast<uint8_t*>(chunk) + kChunkHeader;
  // Blocks 2..N become the free list in address order; block 1 goes to the caller.
  FreeBlock* next = nullptr;
  for (size_t i = quantum; i-- > 1;) {
    auto* b = reinterpret_cast<FreeBlock*>(first + i * d->blockSize);
    b->next = next;
    next = b;
  }
  d->freeList = next;
  *place = first;
  return VLT_OK;
}

void vlt_freeSmall(void* smallMem, uint32_t pool, void* block) {
  VltPoolDesc* d = static_cast<VltSmallMem*>(smallMem)->pools[pool];
  auto* b = static_cast<FreeBlock*>(block);
  b->next = static_cast<FreeBlock*>(d->freeList);
  d->freeList = b;
}

VltStatus Vlt_selectPools(VltState* state, uint32_t mask) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if ((state->flags & VLT_STATE_OWNS_POOLS) == 0) return VLT_OK;
  if (state->smallContext == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  vlt_selectPools(static_cast<VltSmallMem*>(state->smallContext), mask);
  return VLT_OK;
}

void* vlt_ipc_malloc(size_t size, void* state) { return static_cast<VltState*>(state)->malloc(size); }

void* vlt_ipc_calloc(size_t count, size_t size, void* state) {
  return static_cast<VltState*>(state)->calloc(count, size);
}

void* vlt_ipc_realloc(void* block, size_t size, void* state) {
  return static_cast<VltState*>(state)->realloc(block, size);
}

void vlt_ipc_free(void* block, void* state) { static_cast<VltState*>(state)->free(block); }

void vlt_ipc_errPrinter(void* errState, const char* message) {
  const auto* es = static_cast<const VltErrState*>(errState);
  if (es != nullptr && es->printer != nullptr) es->printer(es->context, VLT_ERR_DIDEVA, "%s", message);
}

VltStatus Vlt_initIPWState(VltState* state) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (state->ipwState != nullptr) return VLT_OK;
  IPWState* ipw = nullptr;
  const VltStatus st = w_IPWStateInit(vlt_ipc_malloc, vlt_ipc_calloc, vlt_ipc_realloc, vlt_ipc_free, state,
                                      vlt_ipc_malloc, vlt_ipc_calloc, vlt_ipc_realloc, vlt_ipc_free, state,
                                      vlt_ipc_errPrinter, state->errState, nullptr, nullptr, nullptr,
                                      nullptr, &ipw);
  // The wrapper cannot always report a failure of its own creation, so the engine does.
  if (st != VLT_OK) return Vlt_report(state, st);
  state->ipwState = ipw;
  return VLT_OK;
}

VltStatus Vlt_cleanupIPWState(VltState* state) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (state->ipwState != nullptr) w_IPWStateTerm(&state->ipwState);
  return VLT_OK;
}

VltStatus Vlt_initIPState(VltState* state) { return state == nullptr ? VLT_ERR_PARAM : VLT_OK; }

VltStatus Vlt_cleanupIPState(VltState* state) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (state->ipState != nullptr) {
    state->free(state->ipState);
    state->ipState = nullptr;
  }
  return VLT_OK;
}

VltStatus Vlt_cleanupVltState(VltState** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  VltState* s = *place;
  *place = nullptr;
  if ((s->flags & VLT_STATE_OWNS_POOLS) != 0) {
    auto* mem = static_cast<VltSmallMem*>(s->smallContext);
    vlt_cleanupSmallMem(&mem);
    s->smallContext = nullptr;
  }
  Vlt_cleanupIPState(s);
  Vlt_cleanupIPWState(s);
  Vlt_cleanupVltErrState(&s->errState, s);
  s->free(s);
  return VLT_OK;
}

VltStatus Vlt_initVltState(VltState** place, const VltMemFuncs* mem, const VltSmallPoolFuncs* pools,
                           void* errContext, VltErrPrinter printer, int wrapper, int core) {
  const bool bad_mem = mem != nullptr && (mem->malloc == nullptr || mem->calloc == nullptr ||
                                          mem->realloc == nullptr || mem->free == nullptr);
  const bool bad_pools = pools != nullptr && (pools->alloc == nullptr || pools->free == nullptr);
  if (place == nullptr || bad_mem || bad_pools) {
    if (printer != nullptr) printer(errContext, VLT_ERR_NULL, "%s", Vlt_getErrStr(VLT_ERR_NULL));
    return VLT_ERR_NULL;
  }
  const VltMemFuncs& m = mem != nullptr ? *mem : kLibcMemory;
  auto* s = static_cast<VltState*>(m.calloc(1, sizeof(VltState)));
  if (s == nullptr) {
    if (printer != nullptr) printer(errContext, VLT_ERR_NOMEM, "%s", Vlt_getErrStr(VLT_ERR_NOMEM));
    return VLT_ERR_NOMEM;
  }
  s->malloc = m.malloc;
  s->free = m.free;
  s->calloc = m.calloc;
  s->realloc = m.realloc;
  if (mem == nullptr) s->flags |= VLT_STATE_LIBC_MEMORY;

  VltStatus st = VLT_OK;
  if (printer != nullptr) st = Vlt_initVltErrState(&s->errState, &m, errContext, printer);
  if (st == VLT_OK) {
    if (pools != nullptr) {
      s->smallContext = pools->context;
      s->smallAlloc = pools->alloc;
      s->smallFree = pools->free;
    } else {
      s->smallAlloc = vlt_mallocSmall;
      s->smallFree = vlt_freeSmall;
      s->flags |= VLT_STATE_OWNS_POOLS;
      VltSmallMem* own = nullptr;
      st = vlt_initSmallMem(s, &own);
      s->smallContext = own;
    }
  }
  if (st == VLT_OK && wrapper != 0) st = Vlt_initIPWState(s);
  if (st == VLT_OK && core != 0) st = Vlt_initIPState(s);
  if (st != VLT_OK) {
    Vlt_cleanupVltState(&s);
    return st;
  }
  *place = s;
  return VLT_OK;
}
