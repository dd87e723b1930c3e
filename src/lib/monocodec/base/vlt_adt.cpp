// Containers: list, sparse array and hash table.

#include "vlt_adt.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"

static_assert(sizeof(VltAdtList) <= VLT_POOL_BLOCK_SIZE, "list heads are pool blocks");
static_assert(sizeof(VltAdtListNode) <= VLT_POOL_BLOCK_SIZE, "list nodes are pool blocks");

namespace {

// ---- List ----------------------------------------------------------------------------------

VltStatus take_node(VltState* s, VltAdtListNode** node) {
  void* block = nullptr;
  if (VltStatus st = s->smallAlloc(s->smallContext, VLT_ADT_LIST_POOL, &block)) return st;
  *node = static_cast<VltAdtListNode*>(block);
  return VLT_OK;
}

void give_back(VltState* s, void* block) { s->smallFree(s->smallContext, VLT_ADT_LIST_POOL, block); }

// Every node from the head belongs to the list, the chain ends where the list says, and it is
// no longer than the count (so a cycle cannot keep a walk going).
bool chain_is_sound(const VltAdtList* list) {
  const VltAdtListNode* prev = nullptr;
  uint32_t n = 0;
  for (const VltAdtListNode* node = list->first; node != nullptr; node = node->next) {
    if (node->list != list || node->prev != prev || ++n > list->count) return false;
    prev = node;
  }
  return prev == list->last && n == list->count;
}

}  // namespace

VltStatus VltAdt_liNew(VltAdtList** place, VltState* state) {
  if (place == nullptr) return VLT_ERR_NULL;
  if (state == nullptr || Vlt_getPoolSize(VLT_ADT_LIST_POOL) < static_cast<int32_t>(sizeof(VltAdtList)))
    return VLT_ERR_ASSERT;
  void* block = nullptr;
  if (VltStatus st = state->smallAlloc(state->smallContext, VLT_ADT_LIST_POOL, &block)) return st;
  auto* list = static_cast<VltAdtList*>(block);
  *list = VltAdtList{nullptr, nullptr, state, 0};
  *place = list;
  return VLT_OK;
}

VltStatus VltAdt_liAdd(VltAdtList* list, void* data, VltAdtListNode** place) {
  if (list == nullptr || (list->last == nullptr && list->first != nullptr) ||
      (list->last != nullptr && list->last->next != nullptr))
    return VLT_ERR_ASSERT;
  VltAdtListNode* node = nullptr;
  if (VltStatus st = take_node(list->state, &node)) return st;
  *node = VltAdtListNode{nullptr, list->last, list, data};
  if (list->last != nullptr)
    list->last->next = node;
  else
    list->first = node;
  list->last = node;
  ++list->count;
  if (place != nullptr) *place = node;
  return VLT_OK;
}

VltStatus VltAdt_liAddAfter(VltAdtList* list, VltAdtListNode* node, void* data, VltAdtListNode** place) {
  if (list == nullptr) return VLT_ERR_ASSERT;
  VltAdtListNode* next;
  if (node != nullptr) {
    if (node->list != list) return VLT_ERR_ASSERT;
    next = node->next;
    if (next == nullptr && node != list->last) return VLT_ERR_ASSERT;
  } else {
    next = list->first;
    if ((list->last != nullptr) != (next != nullptr)) return VLT_ERR_ASSERT;
  }
  if (next != nullptr && next->prev != node) return VLT_ERR_ASSERT;
  VltAdtListNode* added = nullptr;
  if (VltStatus st = take_node(list->state, &added)) return st;
  *added = VltAdtListNode{next, node, list, data};
  if (next != nullptr)
    next->prev = added;
  else
    list->last = added;
  if (node != nullptr)
    node->next = added;
  else
    list->first = added;
  ++list->count;
  if (place != nullptr) *place = added;
  return VLT_OK;
}

VltStatus VltAdt_liRem(VltAdtListNode* node) {
  if (node == nullptr || node->list == nullptr) return VLT_ERR_ASSERT;
  VltAdtList* list = node->list;
  // The node's links must agree with the list's ends, or unlinking would corrupt the list.
  if ((node->prev == nullptr) != (list->first == node) || (node->next == nullptr) != (list->last == node))
    return VLT_ERR_ASSERT;
  if (node->prev != nullptr)
    node->prev->next = node->next;
  else
    list->first = node->next;
  if (node->next != nullptr)
    node->next->prev = node->prev;
  else
    list->last = node->prev;
  --list->count;
  give_back(list->state, node);
  return VLT_OK;
}

VltStatus VltAdt_liRemAndNext(VltAdtListNode* node, VltAdtListNode** next) {
  if (node == nullptr || node->list == nullptr) return VLT_ERR_ASSERT;
  VltAdtListNode* successor = node->next;
  if (VltStatus st = VltAdt_liRem(node)) return st;
  if (next != nullptr) *next = successor;
  return VLT_OK;
}

VltStatus VltAdt_liClear(VltAdtList* list) {
  if (list == nullptr || !chain_is_sound(list)) return VLT_ERR_ASSERT;
  for (VltAdtListNode* node = list->first; node != nullptr;) {
    VltAdtListNode* next = node->next;
    give_back(list->state, node);
    node = next;
  }
  list->first = list->last = nullptr;
  list->count = 0;
  return VLT_OK;
}

VltStatus VltAdt_liFree(VltAdtList* list) {
  if (VltStatus st = VltAdt_liClear(list)) return st;
  give_back(list->state, list);
  return VLT_OK;
}

VltStatus VltAdt_liIsIn(VltAdtList* list, void* data, VltAdtListNode** place) {
  if (list == nullptr) return VLT_ERR_ASSERT;
  if (place == nullptr) return VLT_ERR_NULL;
  VltAdtListNode* found = nullptr;
  for (VltAdtListNode* node = list->first; node != nullptr; node = node->next)
    if (node->data == data) found = node;
  *place = found;
  return VLT_OK;
}

VltStatus VltAdt_liApp(VltAdtList* list, VltAdtList* second) {
  if (list == nullptr || second == nullptr || list == second) return VLT_ERR_ASSERT;
  if ((list->last == nullptr && list->first != nullptr) || (list->last != nullptr && list->last->next != nullptr))
    return VLT_ERR_ASSERT;
  if (second->first != nullptr && (second->first->prev != nullptr || second->last == nullptr))
    return VLT_ERR_ASSERT;
  if (!chain_is_sound(second)) return VLT_ERR_ASSERT;
  for (VltAdtListNode* node = second->first; node != nullptr; node = node->next) node->list = list;
  if (second->first != nullptr) {
    if (list->last != nullptr) {
      list->last->next = second->first;
      second->first->prev = list->last;
    } else {
      list->first = second->first;
    }
    list->last = second->last;
    list->count += second->count;
  }
  give_back(list->state, second);
  return VLT_OK;
}

// ---- Sparse array --------------------------------------------------------------------------

namespace {

constexpr int32_t kDefaultRows = 100;
constexpr int32_t kFirstWindowHalf = 10;

uintptr_t* new_words(VltState* s, size_t count, bool zero) {
  size_t bytes;
  if (!mono::checked_mul(count, sizeof(uintptr_t), &bytes)) return nullptr;
  return static_cast<uintptr_t*>(zero ? s->calloc(count, sizeof(uintptr_t)) : s->malloc(bytes));
}

// Makes rows 0..y exist in the three arrays.
VltStatus grow_rows(VltAdtSparseMatrix* sm, int32_t y) {
  VltState* s = sm->state;
  if (sm->maxAllocRow < 0) {
    const size_t n = static_cast<size_t>(std::max(y, sm->initialRows)) + 1;
    auto* origins = static_cast<uint16_t*>(s->calloc(n, sizeof(uint16_t)));
    auto* counts = static_cast<uint16_t*>(s->calloc(n, sizeof(uint16_t)));
    auto* rows = static_cast<uintptr_t**>(s->calloc(n, sizeof(uintptr_t*)));
    if (origins == nullptr || counts == nullptr || rows == nullptr) {
      s->free(origins);
      s->free(counts);
      s->free(rows);
      return Vlt_report(s, VLT_ERR_NOMEM);
    }
    sm->rowOrigins = origins;
    sm->rowCounts = counts;
    sm->rows = rows;
    sm->maxAllocRow = static_cast<int32_t>(n - 1);
    return VLT_OK;
  }
  const size_t old_n = static_cast<size_t>(sm->maxAllocRow) + 1;
  const size_t n = static_cast<size_t>(y) + 1;
  size_t bytes16, bytes_ptr;
  if (!mono::checked_mul(n, sizeof(uint16_t), &bytes16) || !mono::checked_mul(n, sizeof(uintptr_t*), &bytes_ptr))
    return Vlt_report(s, VLT_ERR_NOMEM);
  // Each array keeps its grown block even when a later one fails; the row count only moves
  // once all three have grown.
  if (auto* p = static_cast<uint16_t*>(s->realloc(sm->rowOrigins, bytes16)))
    sm->rowOrigins = p;
  else
    return Vlt_report(s, VLT_ERR_NOMEM);
  if (auto* p = static_cast<uint16_t*>(s->realloc(sm->rowCounts, bytes16)))
    sm->rowCounts = p;
  else
    return Vlt_report(s, VLT_ERR_NOMEM);
  if (auto* p = static_cast<uintptr_t**>(s->realloc(sm->rows, bytes_ptr)))
    sm->rows = p;
  else
    return Vlt_report(s, VLT_ERR_NOMEM);
  std::fill(sm->rowOrigins + old_n, sm->rowOrigins + n, uint16_t{0});
  std::fill(sm->rowCounts + old_n, sm->rowCounts + n, uint16_t{0});
  std::fill(sm->rows + old_n, sm->rows + n, nullptr);
  sm->maxAllocRow = y;
  return VLT_OK;
}

// Makes (x, y) part of the storage and returns the word's address.
VltStatus reach(VltAdtSparseMatrix* sm, int32_t x, int32_t y, uintptr_t** word) {
  if (x < 0 || x > VLT_ADT_SM_MAX_X || y < 0) return Vlt_report(sm->state, VLT_ERR_PARAM);
  if (y > sm->maxAllocRow)
    if (VltStatus st = grow_rows(sm, y)) return st;
  sm->maxTouchedRow = std::max(sm->maxTouchedRow, y);
  VltState* s = sm->state;
  const bool zero = sm->zeroFill != 0;
  const int32_t origin = sm->rowOrigins[y];
  const int32_t count = sm->rowCounts[y];
  if (sm->rows[y] == nullptr) {
    const int32_t first = std::max(x - kFirstWindowHalf, 0);
    const int32_t last = std::min(x + kFirstWindowHalf, VLT_ADT_SM_MAX_X);
    uintptr_t* row = new_words(s, static_cast<size_t>(last - first + 1), zero);
    if (row == nullptr) return Vlt_report(s, VLT_ERR_NOMEM);
    sm->rows[y] = row;
    sm->rowOrigins[y] = static_cast<uint16_t>(first);
    sm->rowCounts[y] = static_cast<uint16_t>(last - first + 1);
  } else if (x < origin) {
    const int32_t grown = count + origin - x;
    uintptr_t* row = new_words(s, static_cast<size_t>(grown), zero);
    if (row == nullptr) return Vlt_report(s, VLT_ERR_NOMEM);
    std::memcpy(row + (origin - x), sm->rows[y], static_cast<size_t>(count) * sizeof(uintptr_t));
    s->free(sm->rows[y]);
    sm->rows[y] = row;
    sm->rowOrigins[y] = static_cast<uint16_t>(x);
    sm->rowCounts[y] = static_cast<uint16_t>(grown);
  } else if (x >= origin + count) {
    const int32_t grown = x - origin + 1;
    auto* row = static_cast<uintptr_t*>(s->realloc(sm->rows[y], static_cast<size_t>(grown) * sizeof(uintptr_t)));
    if (row == nullptr) return Vlt_report(s, VLT_ERR_NOMEM);
    if (zero) std::fill(row + count, row + grown, uintptr_t{0});
    sm->rows[y] = row;
    sm->rowCounts[y] = static_cast<uint16_t>(grown);
  }
  *word = &sm->rows[y][x - sm->rowOrigins[y]];
  return VLT_OK;
}

// The word at (x, y) when it lies in storage, else null.
const uintptr_t* peek(const VltAdtSparseMatrix* sm, int32_t x, int32_t y) {
  if (!VltAdt_smIsAllocated(sm, x, y)) return nullptr;
  return &sm->rows[y][x - sm->rowOrigins[y]];
}

}  // namespace

VltStatus VltAdt_smNew(VltAdtSparseMatrix** place, int32_t zeroFill, int32_t initialRows, VltState* state) {
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (state == nullptr) return VLT_ERR_ASSERT;
  if (initialRows < 0) return Vlt_report(state, VLT_ERR_PARAM);
  auto* sm = static_cast<VltAdtSparseMatrix*>(state->malloc(sizeof(VltAdtSparseMatrix)));
  if (sm == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *sm = VltAdtSparseMatrix{nullptr, nullptr, nullptr, -1, -1, initialRows == 0 ? kDefaultRows : initialRows,
                           zeroFill, state};
  *place = sm;
  return VLT_OK;
}

VltStatus VltAdt_smGet(VltAdtSparseMatrix* sm, int32_t x, int32_t y, uintptr_t* place) {
  if (sm == nullptr) return VLT_ERR_ASSERT;
  if (place == nullptr) return Vlt_report(sm->state, VLT_ERR_NULL);
  uintptr_t* word = nullptr;
  if (VltStatus st = reach(sm, x, y, &word)) return st;
  *place = *word;
  return VLT_OK;
}

VltStatus VltAdt_smSet(VltAdtSparseMatrix* sm, int32_t x, int32_t y, uintptr_t value) {
  if (sm == nullptr) return VLT_ERR_ASSERT;
  uintptr_t* word = nullptr;
  if (VltStatus st = reach(sm, x, y, &word)) return st;
  *word = value;
  return VLT_OK;
}

int VltAdt_smIsAllocated(const VltAdtSparseMatrix* sm, int32_t x, int32_t y) {
  if (sm == nullptr || y < 0 || y > sm->maxAllocRow || sm->rows[y] == nullptr) return 0;
  const int32_t origin = sm->rowOrigins[y];
  return x >= origin && x < origin + sm->rowCounts[y] ? 1 : 0;
}

int32_t VltAdt_smGetNextY(const VltAdtSparseMatrix* sm, int32_t y) {
  if (sm == nullptr) return 0;
  for (int32_t r = std::max(y, int32_t{-1}) + 1; r <= sm->maxTouchedRow; ++r)
    if (sm->rows[r] != nullptr) return r;
  return sm->maxTouchedRow + 1;
}

VltStatus VltAdt_smFree(VltAdtSparseMatrix* sm) {
  if (sm == nullptr) return VLT_OK;
  VltState* s = sm->state;
  for (int32_t r = 0; r <= sm->maxTouchedRow; ++r) s->free(sm->rows[r]);
  s->free(sm->rowOrigins);
  s->free(sm->rowCounts);
  s->free(sm->rows);
  s->free(sm);
  return VLT_OK;
}

// ---- Hash table ----------------------------------------------------------------------------

namespace {

constexpr uint16_t kDefaultBuckets = 100;

// The bucket of a key, refused when it lies beyond the rows a sparse array can index.
VltStatus bucket_of(VltAdtHashTable* t, void* key, int32_t* bucket) {
  const uint32_t b = t->hash(t->hashData, key);
  if (b > static_cast<uint32_t>(INT32_MAX)) return Vlt_report(t->state, VLT_ERR_PARAM);
  *bucket = static_cast<int32_t>(b);
  return VLT_OK;
}

// Walks the bucket to the first equal entry or the first free slot, whichever comes first.
// slot is where the walk stopped; *entry the equal entry or null.
VltStatus find(VltAdtHashTable* t, void* key, int32_t* bucket, int32_t* slot, void** entry) {
  if (VltStatus st = bucket_of(t, key, bucket)) return st;
  *entry = nullptr;
  int32_t x = 0;
  for (; x <= VLT_ADT_SM_MAX_X; ++x) {
    const uintptr_t* w = peek(t->buckets, x, *bucket);
    if (w == nullptr || *w == 0) break;
    void* stored = reinterpret_cast<void*>(*w);
    if (t->isEqual(t->userData, key, stored)) {
      *entry = stored;
      break;
    }
  }
  *slot = x;
  return VLT_OK;
}

}  // namespace

int generic_isequal(void*, void* key, void* entry) { return key == entry ? 1 : 0; }

uint32_t generic_hash(void* table, void* key) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key) % static_cast<VltAdtHashTable*>(table)->size);
}

VltStatus VltAdt_htNew(VltAdtHashTable** place, void* userData, VltAdtEqualFn isEqual, VltAdtHashFn hash,
                       VltAdtFreeFn freeFn, uint32_t size, VltState* state) {
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (state == nullptr) return VLT_ERR_ASSERT;
  if (size > UINT16_MAX) return Vlt_report(state, VLT_ERR_PARAM);
  auto* t = static_cast<VltAdtHashTable*>(state->calloc(1, sizeof(VltAdtHashTable)));
  if (t == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  t->size = size == 0 ? kDefaultBuckets : static_cast<uint16_t>(size);
  if (VltStatus st = VltAdt_smNew(&t->buckets, 1, t->size, state)) {
    state->free(t);
    return st;
  }
  t->isEqual = isEqual != nullptr ? isEqual : generic_isequal;
  t->hash = hash != nullptr ? hash : generic_hash;
  t->hashData = hash != nullptr ? userData : t;
  t->freeFn = freeFn;
  t->userData = userData;
  t->state = state;
  *place = t;
  return VLT_OK;
}

VltStatus VltAdt_htAddToTable(VltAdtHashTable* t, void* key, void** existing) {
  if (t == nullptr || key == nullptr) return VLT_ERR_ASSERT;
  if (existing == nullptr) return Vlt_report(t->state, VLT_ERR_NULL);
  int32_t bucket, slot;
  if (VltStatus st = find(t, key, &bucket, &slot, existing)) return st;
  if (*existing != nullptr) return VLT_OK;
  if (slot > VLT_ADT_SM_MAX_X) return Vlt_report(t->state, VLT_ERR_ARRAY_FULL);
  return VltAdt_smSet(t->buckets, slot, bucket, reinterpret_cast<uintptr_t>(key));
}

VltStatus VltAdt_htIsInTable(VltAdtHashTable* t, void* key, void** entry) {
  if (t == nullptr || key == nullptr) return VLT_ERR_ASSERT;
  if (entry == nullptr) return Vlt_report(t->state, VLT_ERR_NULL);
  int32_t bucket, slot;
  return find(t, key, &bucket, &slot, entry);
}

VltStatus VltAdt_htRemoveFromTable(VltAdtHashTable* t, void* key, void** removed) {
  if (t == nullptr || key == nullptr) return VLT_ERR_ASSERT;
  if (removed == nullptr) return Vlt_report(t->state, VLT_ERR_NULL);
  int32_t bucket, slot;
  if (VltStatus st = find(t, key, &bucket, &slot, removed)) return st;
  if (*removed == nullptr) return VLT_OK;
  // The bucket's last entry fills the gap, so a bucket never holds an empty slot before an
  // entry and walks that stop at the first empty slot still see every entry.
  int32_t last = slot;
  while (last < VLT_ADT_SM_MAX_X) {
    const uintptr_t* w = peek(t->buckets, last + 1, bucket);
    if (w == nullptr || *w == 0) break;
    ++last;
  }
  uintptr_t* gap = t->buckets->rows[bucket] + (slot - t->buckets->rowOrigins[bucket]);
  uintptr_t* tail = t->buckets->rows[bucket] + (last - t->buckets->rowOrigins[bucket]);
  *gap = *tail;
  *tail = 0;
  return VLT_OK;
}

VltStatus VltAdt_htResetGetNextElement(VltAdtHashTable* t) {
  if (t == nullptr) return VLT_ERR_ASSERT;
  t->iterBucket = 0;
  t->iterSlot = 0;
  return VLT_OK;
}

VltStatus VltAdt_htGetNextElement(VltAdtHashTable* t, void** entry) {
  if (t == nullptr) return VLT_ERR_ASSERT;
  if (entry == nullptr) return Vlt_report(t->state, VLT_ERR_NULL);
  const VltAdtSparseMatrix* sm = t->buckets;
  while (t->iterBucket <= sm->maxTouchedRow) {
    const uintptr_t* w = peek(sm, t->iterSlot, t->iterBucket);
    if (w != nullptr && *w != 0) {
      *entry = reinterpret_cast<void*>(*w);
      ++t->iterSlot;
      return VLT_OK;
    }
    t->iterBucket = VltAdt_smGetNextY(sm, t->iterBucket);
    t->iterSlot = 0;
  }
  *entry = nullptr;
  return VLT_OK;
}

VltStatus VltAdt_htFree(VltAdtHashTable* t) {
  if (t == nullptr) return VLT_OK;
  VltAdt_smFree(t->buckets);
  if (t->freeFn != nullptr) t->freeFn(t->userData);
  t->state->free(t);
  return VLT_OK;
}
