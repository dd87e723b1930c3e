// Colour components: the slot map with its lower-triangular adjacency cells, the two line
// buffers, run-record chains, and wash merging of similar finished neighbours.

#include <string.h>

#include <algorithm>

#include "checked_size.h"
#include "tok_colorcc.h"
#include "tok_colorcc_internal.h"

namespace {

void free_rows(VltState* engine, ColorCCMap* map, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) {
    engine->free(map->slots[i].row);
    map->slots[i].row = nullptr;
  }
}

VltStatus make_rows(VltState* engine, ColorCCMap* map, int32_t from, int32_t to) {
  for (int32_t i = std::max(from, 1); i < to; ++i) {
    map->slots[i].row = static_cast<ColorCCAdj*>(engine->calloc(size_t(i), sizeof(ColorCCAdj)));
    if (map->slots[i].row == nullptr) {
      free_rows(engine, map, from, i);
      return Vlt_report(engine, VLT_ERR_NOMEM);
    }
  }
  return VLT_OK;
}

// Recounts a slot's adjacencies from its cells.
void recount(ColorCCMap* map, int32_t id, ColorCCState* s) {
  int32_t adjacent = 0;
  uint32_t similar = 0;
  for (int32_t k = 0; k < map->capacity; ++k) {
    if (k == id) continue;
    const ColorCCAdj* c = cccmap_cell(map, id, k);
    if (c->flags & COLORCC_ADJACENT) {
      ++adjacent;
      if (c->flags & COLORCC_SIMILAR) ++similar;
    }
  }
  s->adjacent = adjacent;
  s->similar = similar;
}

}  // namespace

VltStatus cccmap_init(VltState* engine, ColorCCMap** place) {
  if (place == nullptr) return VLT_ERR_ASSERT;
  *place = nullptr;
  if (engine == nullptr) return VLT_ERR_ASSERT;
  auto* map = static_cast<ColorCCMap*>(engine->calloc(1, sizeof(ColorCCMap)));
  if (map == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  map->slots = static_cast<ColorCCSlot*>(engine->calloc(COLORCC_MAP_INITIAL, sizeof(ColorCCSlot)));
  if (map->slots == nullptr) {
    engine->free(map);
    return Vlt_report(engine, VLT_ERR_NOMEM);
  }
  if (VltStatus st = make_rows(engine, map, 0, COLORCC_MAP_INITIAL)) {
    engine->free(map->slots);
    engine->free(map);
    return st;
  }
  map->capacity = COLORCC_MAP_INITIAL;
  *place = map;
  return VLT_OK;
}

VltStatus cccmap_expand(VltState* engine, ColorCCMap* map) {
  if (map == nullptr) return VLT_ERR_ASSERT;
  const int32_t old = map->capacity;
  size_t bytes = 0;
  if (old > INT32_MAX - COLORCC_MAP_STEP ||
      !mono::checked_mul(size_t(old + COLORCC_MAP_STEP), sizeof(ColorCCSlot), &bytes))
    return Vlt_report(engine, VLT_ERR_NOMEM);
  auto* slots = static_cast<ColorCCSlot*>(engine->realloc(map->slots, bytes));
  if (slots == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  map->slots = slots;
  memset(slots + old, 0, sizeof(ColorCCSlot) * COLORCC_MAP_STEP);
  // The larger array is kept on failure; only the capacity says how much of it is in use.
  if (VltStatus st = make_rows(engine, map, old, old + COLORCC_MAP_STEP)) return st;
  map->capacity = old + COLORCC_MAP_STEP;
  return VLT_OK;
}

VltStatus cccmap_add(VltState* engine, ColorCCMap* map, ColorCCState* state) {
  if (map == nullptr || state == nullptr || state->id >= 0) return VLT_ERR_ASSERT;
  int32_t slot = map->firstFree;
  while (slot < map->capacity && map->slots[slot].state != nullptr) ++slot;
  if (slot == map->capacity) {
    if (VltStatus st = cccmap_expand(engine, map)) return st;
  }
  map->slots[slot].state = state;
  state->id = slot;
  ++map->live;
  map->firstFree = slot + 1;
  return VLT_OK;
}

VltStatus cccmap_rem(ColorCCMap* map, int32_t id) {
  if (map == nullptr || id < 0 || id >= map->capacity || map->slots[id].state == nullptr) return VLT_ERR_ASSERT;
  ColorCCState* s = map->slots[id].state;
  int32_t left = s->adjacent;
  for (int32_t k = 0; k < map->capacity && left > 0; ++k) {
    if (k == id) continue;
    ColorCCAdj* c = cccmap_cell(map, id, k);
    if (c->flags & COLORCC_ADJACENT) {
      if (ColorCCState* other = map->slots[k].state) {
        --other->adjacent;
        // Delivery ignores similarity when washing is off; the neighbour's count must still drop.
        if (c->flags & COLORCC_SIMILAR) --other->similar;
      }
      --left;
    }
    *c = ColorCCAdj{0, 0};
  }
  s->adjacent = 0;
  s->similar = 0;
  s->id = -1;
  map->slots[id].state = nullptr;
  --map->live;
  map->firstFree = std::min(map->firstFree, id);
  return VLT_OK;
}

VltStatus cccmap_combine(ColorCCMap* map, int32_t a, int32_t b) {
  if (map == nullptr || a == b || a < 0 || b < 0 || a >= map->capacity || b >= map->capacity) return VLT_ERR_ASSERT;
  ColorCCState* A = map->slots[a].state;
  ColorCCState* B = map->slots[b].state;
  if (A == nullptr || B == nullptr) return VLT_ERR_ASSERT;
  // The richer row stays where it is, so fewer cells move.
  const int32_t keeper = B->adjacent > A->adjacent ? b : a;
  const int32_t folded = keeper == a ? b : a;
  for (int32_t k = 0; k < map->capacity; ++k) {
    if (k == a || k == b) continue;
    ColorCCAdj* fc = cccmap_cell(map, folded, k);
    if (!(fc->flags & COLORCC_ADJACENT)) {
      *fc = ColorCCAdj{0, 0};
      continue;
    }
    ColorCCAdj* kc = cccmap_cell(map, keeper, k);
    if (!(kc->flags & COLORCC_ADJACENT)) {
      *kc = *fc;
    } else if (ColorCCState* K = map->slots[k].state) {
      --K->adjacent;
      if ((fc->flags & COLORCC_SIMILAR) && (kc->flags & COLORCC_SIMILAR)) --K->similar;
      kc->flags |= fc->flags;
      kc->distance = std::max(kc->distance, fc->distance);
    }
    *fc = ColorCCAdj{0, 0};
  }
  *cccmap_cell(map, a, b) = ColorCCAdj{0, 0};
  if (keeper == b) {
    map->slots[b].state = A;
    map->slots[a].state = B;
    A->id = b;
    B->id = a;
  }
  recount(map, A->id, A);
  map->slots[folded].state = nullptr;
  B->id = -1;
  B->adjacent = 0;
  B->similar = 0;
  --map->live;
  map->firstFree = std::min(map->firstFree, folded);
  return VLT_OK;
}

VltStatus cccmap_collapse(VltState* engine, ColorCCMap* map) {
  if (map == nullptr) return VLT_ERR_ASSERT;
  if (map->capacity <= COLORCC_MAP_INITIAL || map->capacity - map->live < COLORCC_MAP_STEP) return VLT_OK;
  const int32_t target = map->live <= COLORCC_MAP_INITIAL
                             ? COLORCC_MAP_INITIAL
                             : COLORCC_MAP_STEP * ((map->live + COLORCC_MAP_STEP - 1) / COLORCC_MAP_STEP);
  int32_t freeSlot = 0;
  for (int32_t high = map->capacity - 1; high >= target; --high) {
    ColorCCState* s = map->slots[high].state;
    if (s == nullptr) continue;
    while (map->slots[freeSlot].state != nullptr) ++freeSlot;
    for (int32_t k = 0; k < map->capacity; ++k) {
      if (k == high || k == freeSlot || map->slots[k].state == nullptr) continue;
      ColorCCAdj* from = cccmap_cell(map, high, k);
      *cccmap_cell(map, freeSlot, k) = *from;
      *from = ColorCCAdj{0, 0};
    }
    map->slots[freeSlot].state = s;
    map->slots[high].state = nullptr;
    s->id = freeSlot;
  }
  free_rows(engine, map, target, map->capacity);
  // A shrinking reallocation that fails leaves the larger block, which still holds the slots.
  if (auto* slots = static_cast<ColorCCSlot*>(engine->realloc(map->slots, sizeof(ColorCCSlot) * size_t(target))))
    map->slots = slots;
  map->capacity = target;
  int32_t first = 0;
  while (first < target && map->slots[first].state != nullptr) ++first;
  map->firstFree = first;
  return VLT_OK;
}

VltStatus cccmap_cleanup(VltState* engine, ColorCCMap** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  ColorCCMap* map = *place;
  free_rows(engine, map, 0, map->capacity);
  engine->free(map->slots);
  engine->free(map);
  *place = nullptr;
  return VLT_OK;
}

// ---- Line buffers

VltStatus rim_init(VltState* engine, ColorCCRim** place) {
  if (place == nullptr) return VLT_ERR_ASSERT;
  *place = nullptr;
  if (engine == nullptr) return VLT_ERR_ASSERT;
  auto* rim = static_cast<ColorCCRim*>(engine->calloc(1, sizeof(ColorCCRim)));
  if (rim == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  rim->prev.segs = static_cast<ColorSegment*>(engine->calloc(COLORCC_RIM_INITIAL, sizeof(ColorSegment)));
  rim->cur.segs = static_cast<ColorSegment*>(engine->calloc(COLORCC_RIM_INITIAL, sizeof(ColorSegment)));
  if (rim->prev.segs == nullptr || rim->cur.segs == nullptr) {
    engine->free(rim->prev.segs);
    engine->free(rim->cur.segs);
    engine->free(rim);
    return Vlt_report(engine, VLT_ERR_NOMEM);
  }
  rim->prev.capacity = rim->cur.capacity = COLORCC_RIM_INITIAL;
  *place = rim;
  return VLT_OK;
}

void colorcc::rim_empty(VltState* engine, ColorCCLineBuf* buf) {
  // Sample buffers still here were never passed to a run record.
  for (uint32_t i = 0; i < buf->count; ++i)
    if (buf->segs[i].sampled) engine->free(reinterpret_cast<void*>(buf->segs[i].colour));
  buf->count = 0;
}

VltStatus rim_endPage(VltState* engine, ColorCCRim* rim) {
  if (rim == nullptr) return VLT_ERR_ASSERT;
  for (ColorCCLineBuf* buf : {&rim->prev, &rim->cur}) {
    colorcc::rim_empty(engine, buf);
    if (buf->capacity > COLORCC_RIM_INITIAL) {
      if (auto* segs = static_cast<ColorSegment*>(engine->realloc(buf->segs, sizeof(ColorSegment) * COLORCC_RIM_INITIAL))) {
        buf->segs = segs;
        buf->capacity = COLORCC_RIM_INITIAL;
      }
    }
  }
  return VLT_OK;
}

VltStatus rim_cleanup(VltState* engine, ColorCCRim** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  ColorCCRim* rim = *place;
  colorcc::rim_empty(engine, &rim->prev);
  colorcc::rim_empty(engine, &rim->cur);
  engine->free(rim->prev.segs);
  engine->free(rim->cur.segs);
  engine->free(rim);
  *place = nullptr;
  return VLT_OK;
}

// ---- Run records

VltStatus colorcc::new_record(VltState* engine, int sampledForm, ColorRunRecord** place) {
  void* block = nullptr;
  if (VltStatus st = engine->smallAlloc(engine->smallContext, sampledForm ? COLORCC_POOL_SAMPLED : COLORCC_POOL_FLAT,
                                        &block))
    return st;
  auto* r = static_cast<ColorRunRecord*>(block);
  memset(r, 0, sampledForm ? sizeof(ColorRunRecord) : COLORCC_FLAT_RECORD_SIZE);
  *place = r;
  return VLT_OK;
}

VltStatus colorcc::Chain::add(VltState* engine, uint16_t x, uint16_t length, uintptr_t sample) {
  if (tail == nullptr || tail->count == COLORCC_RUNS_PER_RECORD) {
    ColorRunRecord* r = nullptr;
    if (VltStatus st = new_record(engine, sampledForm, &r)) return st;
    (tail != nullptr ? tail->next : head) = r;
    tail = r;
  }
  tail->runs[tail->count].x = x;
  tail->runs[tail->count].length = length;
  if (sampledForm) tail->samples[tail->count] = sample;
  ++tail->count;
  return VLT_OK;
}

void scrs_cleanup(ColorRunRecord** place, int sampledForm, int freeSamples, VltState* engine) {
  if (place == nullptr) return;
  for (ColorRunRecord* r = *place; r != nullptr;) {
    ColorRunRecord* next = r->next;
    if (sampledForm && freeSamples)
      for (uint32_t i = 0; i < r->count && i < COLORCC_RUNS_PER_RECORD; ++i)
        if (r->samples[i] != 0) engine->free(reinterpret_cast<void*>(r->samples[i]));
    engine->smallFree(engine->smallContext, sampledForm ? COLORCC_POOL_SAMPLED : COLORCC_POOL_FLAT, r);
    r = next;
  }
  *place = nullptr;
}

// ---- Wash merging

VltStatus vltcc_washMerge(ColorCCFinder* finder) {
  if (finder == nullptr || finder->map == nullptr) return VLT_ERR_ASSERT;
  ColorCCMap* map = finder->map;
  for (int32_t i = 0; i < map->capacity; ++i) {
    ColorCCState* cand = map->slots[i].state;
    if (cand == nullptr || ccstate_status(cand) != COLORCC_FINISHED || cand->similar == 0 ||
        (cand->flags & (COLORCC_SAMPLED | COLORCC_WASHED | COLORCC_BACKGROUND)))
      continue;
    // Each merge changes the candidate's cells (and maybe its slot): scan again from the start.
    bool rescan = true;
    while (rescan && cand->similar > 0) {
      rescan = false;
      for (int32_t k = 0; k < map->capacity; ++k) {
        if (k == cand->id) continue;
        ColorCCAdj* c = cccmap_cell(map, cand->id, k);
        ColorCCState* nb = map->slots[k].state;
        if (!(c->flags & COLORCC_SIMILAR) || nb == nullptr || ccstate_status(nb) == COLORCC_ACTIVE) continue;
        c->flags &= uint16_t(~COLORCC_SIMILAR);
        --cand->similar;
        --nb->similar;
        if (c->distance >= finder->washThreshold) continue;
        if (!(cand->flags & COLORCC_WASHED))
          if (VltStatus st = ccstate_makeWash(finder, cand)) return st;
        if (!(nb->flags & COLORCC_WASHED))
          if (VltStatus st = ccstate_makeWash(finder, nb)) return st;
        if (VltStatus st = ccstate_merge(finder, cand, &nb)) return st;
        rescan = true;
        break;
      }
    }
  }
  return VLT_OK;
}
