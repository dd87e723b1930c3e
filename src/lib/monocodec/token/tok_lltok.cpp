// The lossless tokenizer: exact-match tokens of run-coded components.

#include "tok_lltok.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"

static_assert(sizeof(VltLlToken) <= VLT_POOL_BLOCK_SIZE, "token records are pool blocks");

namespace {

// Bytes the memory figure charges per token, beside 4 per run.
constexpr uint32_t kTokenCharge = 28;
// Tokens of at most this many runs are worth remembering as the last match: glyph-sized
// components repeat right after each other (dots, rules, repeated letters).
constexpr int32_t kCacheRuns = 4;

void* word_of(uint32_t occurrence) { return reinterpret_cast<void*>(static_cast<uintptr_t>(occurrence)); }

// A token kept from an earlier section comes back without occurrences: its list was spent on
// that section's records.
VltStatus add_occurrence(VltState* es, VltLlToken* t, uint32_t occurrence) {
  const bool made = t->occurrences == nullptr;
  if (made)
    if (VltStatus st = VltAdt_liNew(&t->occurrences, es)) return st;
  const VltStatus st = VltAdt_liAdd(t->occurrences, word_of(occurrence), nullptr);
  if (st != VLT_OK && made) {
    VltAdt_liFree(t->occurrences);
    t->occurrences = nullptr;
  }
  return st;
}

void give_record(VltState* es, VltLlToken* t) { es->smallFree(es->smallContext, VLT_LLTOK_POOL, t); }

// Width (largest run end) and height (lines holding runs) of a run list.
VltStatus derive_size(VltState* es, VltLlTokKey* key) {
  int32_t line = 0, lines = 0, prevEnd = -1, largest = 0;
  for (int32_t i = 0; i < key->count; ++i) {
    const int32_t x = key->runs[2 * i], length = key->runs[2 * i + 1];
    if (length == 0) {
      line = x;
      prevEnd = -1;
      continue;
    }
    if (x <= prevEnd) ++line;
    prevEnd = x + length;
    largest = std::max(largest, prevEnd);
    lines = std::max(lines, line + 1);
  }
  if (largest > INT16_MAX || lines > INT16_MAX) return Vlt_report(es, VLT_ERR_PARAM);
  key->width = static_cast<int16_t>(largest);
  key->height = static_cast<int16_t>(lines);
  return VLT_OK;
}

// The table of a size cell, made when the cell has none.
VltStatus cell_table(VltLlTokState* s, int32_t width, int32_t height, VltAdtHashTable** table) {
  const int32_t x = static_cast<uint16_t>(width), y = static_cast<uint16_t>(height);
  uintptr_t word = 0;
  if (VltStatus st = VltAdt_smGet(s->store, x, y, &word)) return st;
  if (word != 0) {
    *table = reinterpret_cast<VltAdtHashTable*>(word);
    return VLT_OK;
  }
  VltAdtHashTable* t = nullptr;
  if (VltStatus st = VltAdt_htNew(&t, nullptr, lltok::isequal, lltok::hash, nullptr, VLT_LLTOK_BUCKETS, s->engine))
    return st;
  if (VltStatus st = VltAdt_smSet(s->store, x, y, reinterpret_cast<uintptr_t>(t))) {
    VltAdt_htFree(t);
    return st;
  }
  *table = t;
  return VLT_OK;
}

// Calls fn(cell word) for every cell of the store that holds a table, rows in increasing height
// and, within a row, columns in increasing width.
template <class Fn>
VltStatus for_each_table(VltAdtSparseMatrix* sm, Fn fn) {
  for (int32_t y = VltAdt_smGetNextY(sm, -1); y <= sm->maxTouchedRow; y = VltAdt_smGetNextY(sm, y)) {
    uintptr_t* row = sm->rows[y];
    for (int32_t i = 0; i < sm->rowCounts[y]; ++i)
      if (row[i] != 0)
        if (VltStatus st = fn(row[i])) return st;
  }
  return VLT_OK;
}

// Every stored token, appended to the list in hand-out order.
VltStatus collect(VltLlTokState* s, VltAdtList* out) {
  return for_each_table(s->store, [out](uintptr_t& word) -> VltStatus {
    auto* t = reinterpret_cast<VltAdtHashTable*>(word);
    VltAdt_htResetGetNextElement(t);
    for (;;) {
      void* e = nullptr;
      if (VltStatus st = VltAdt_htGetNextElement(t, &e)) return st;
      if (e == nullptr) return VLT_OK;
      if (VltStatus st = VltAdt_liAdd(out, e, nullptr)) return st;
    }
  });
}

// Frees the tables, the store and the state; the stored tokens too unless they were handed out.
void free_state(VltLlTokState* s) {
  VltState* es = s->engine;
  const bool keepTokens = s->final != 0;
  for_each_table(s->store, [es, keepTokens](uintptr_t& word) -> VltStatus {
    auto* t = reinterpret_cast<VltAdtHashTable*>(word);
    if (!keepTokens) {
      VltAdt_htResetGetNextElement(t);
      for (void* e = nullptr; VltAdt_htGetNextElement(t, &e) == VLT_OK && e != nullptr;)
        VltLlTokFreeClass(static_cast<VltLlToken*>(e), es);
    }
    VltAdt_htFree(t);
    return VLT_OK;
  });
  VltAdt_smFree(s->store);
  es->free(s);
}

VltStatus hand_out(VltLlTokState* s, VltAdtList** place, VltAdtList** list) {
  if (place == nullptr) return Vlt_report(s->engine, VLT_ERR_NULL);
  if (VltStatus st = VltAdt_liNew(list, s->engine)) return st;
  // The whole list is built before the store changes, so a failure loses no token.
  if (VltStatus st = collect(s, *list)) {
    VltAdt_liFree(*list);
    return st;
  }
  return VLT_OK;
}

}  // namespace

namespace lltok {

uint32_t hash(void*, void* token) {
  const auto* t = static_cast<const VltLlToken*>(token);
  const int32_t n = t->count;
  uint32_t sum = 0;
  for (int32_t i = 0; i < n; ++i) {
    sum += t->runs[2 * i + 1];
    if (sum > 255) return 0;
  }
  uint32_t key = sum << 8;
  if (n < 16) key |= static_cast<uint32_t>(n);
  if (n >= 1 && t->runs[0] <= 15) key |= uint32_t{t->runs[0]} << 4;
  return key % VLT_LLTOK_BUCKETS;
}

int isequal(void*, void* a, void* b) {
  const auto* ta = static_cast<const VltLlToken*>(a);
  const auto* tb = static_cast<const VltLlToken*>(b);
  return ta->count == tb->count && ExactMatchRuns(ta->runs, tb->runs, ta->count) ? 1 : 0;
}

}  // namespace lltok

int ExactMatchRuns(const uint16_t* a, const uint16_t* b, int32_t count) {
  if (count <= 0) return 1;
  return std::memcmp(a, b, size_t(count) * 2 * sizeof(uint16_t)) == 0 ? 1 : 0;
}

void VltLlTokSetDefaults(VltLlTokOptions* options) {
  if (options != nullptr) *options = VltLlTokOptions{0, nullptr};
}

VltStatus VltLlTokInit(VltLlTokState** place, const VltLlTokOptions* options) {
  if (options == nullptr) return VLT_ERR_NULL;
  VltState* es = options->engine;
  if (es == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (Vlt_getPoolSize(VLT_LLTOK_POOL) < static_cast<int32_t>(sizeof(VltLlToken))) return VLT_ERR_ASSERT;
  auto* s = static_cast<VltLlTokState*>(es->malloc(sizeof(VltLlTokState)));
  if (s == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  *s = VltLlTokState{options->flags, nullptr, 0, 0, nullptr, VltLlToken{}, 0, es};
  s->last = &s->sentinel;
  if (VltStatus st = VltAdt_smNew(&s->store, 1, 0, es)) {
    es->free(s);
    return st;
  }
  *place = s;
  return VLT_OK;
}

VltStatus VltLlAddToken(VltLlTokState* s, VltLlTokKey* key, uint32_t newIndex, uint32_t* index) {
  if (s == nullptr || key == nullptr || index == nullptr) return VLT_ERR_NULL;
  if (key->runs == nullptr || key->count < 1) return VLT_ERR_ASSERT;
  VltState* es = s->engine;
  const bool copy = (s->flags & VLT_LLTOK_COPY) != 0;
  const auto take_runs = [&] {
    if (!copy) {
      es->free(key->runs);
      key->runs = nullptr;
    }
  };

  // The occurrence goes in before refs count it, so a failure changes nothing.
  VltLlToken* last = s->last;
  if (last->count == key->count && ExactMatchRuns(last->runs, key->runs, key->count)) {
    if (VltStatus st = add_occurrence(es, last, key->occurrence)) return st;
    ++last->refs;
    *index = last->index;
    take_runs();
    return VLT_OK;
  }

  if (key->width == -1 || key->height == -1)
    if (VltStatus st = derive_size(es, key)) return st;

  VltAdtHashTable* table = nullptr;
  if (VltStatus st = cell_table(s, key->width, key->height, &table)) return st;
  // Most components repeat a token, so look first and make a record only for a new one.
  VltLlToken probe{key->runs, key->count, key->width, key->height, 0, nullptr, 0};
  void* found = nullptr;
  if (VltStatus st = VltAdt_htIsInTable(table, &probe, &found)) return st;
  if (found != nullptr) {
    auto* match = static_cast<VltLlToken*>(found);
    if (VltStatus st = add_occurrence(es, match, key->occurrence)) return st;
    ++match->refs;
    if (key->count <= kCacheRuns) s->last = match;
    *index = match->index;
    take_runs();
    return VLT_OK;
  }

  void* block = nullptr;
  if (VltStatus st = es->smallAlloc(es->smallContext, VLT_LLTOK_POOL, &block)) return st;
  auto* t = static_cast<VltLlToken*>(block);
  *t = VltLlToken{key->runs, key->count, key->width, key->height, newIndex, nullptr, 1};
  // Undoes whatever this call made; the caller's array stays the caller's.
  const auto fail = [&](VltStatus st) {
    if (t->occurrences != nullptr) VltAdt_liFree(t->occurrences);
    if (copy) es->free(t->runs);
    give_record(es, t);
    return st;
  };
  if (copy) {
    size_t bytes = 0;
    if (!mono::checked_mul(size_t(key->count), 2 * sizeof(uint16_t), &bytes)) return fail(Vlt_report(es, VLT_ERR_NOMEM));
    t->runs = static_cast<uint16_t*>(es->malloc(bytes));
    if (t->runs == nullptr) return fail(Vlt_report(es, VLT_ERR_NOMEM));
    std::memcpy(t->runs, key->runs, bytes);
  }
  // The occurrence list exists before the token is filed, so a filed token is never left
  // without one.
  if (VltStatus st = VltAdt_liNew(&t->occurrences, es)) return fail(st);
  if (VltStatus st = VltAdt_liAdd(t->occurrences, word_of(key->occurrence), nullptr)) return fail(st);
  if (VltStatus st = VltAdt_htAddToTable(table, t, &found)) return fail(st);
  if (found != nullptr) return fail(VLT_ERR_ASSERT);

  s->memUsage += kTokenCharge + 4 * static_cast<uint32_t>(key->count);
  if (key->count <= kCacheRuns) s->last = t;
  ++s->distinct;
  *index = newIndex;
  if (!copy) key->runs = nullptr;
  return VLT_OK;
}

VltStatus VltLlTokPartial(VltLlTokState* s, VltAdtList** place) {
  if (s == nullptr) return VLT_ERR_NULL;
  VltAdtList* list = nullptr;
  if (VltStatus st = hand_out(s, place, &list)) return st;
  for_each_table(s->store, [](uintptr_t& word) -> VltStatus {
    VltAdt_htFree(reinterpret_cast<VltAdtHashTable*>(word));
    word = 0;
    return VLT_OK;
  });
  s->last = &s->sentinel;
  *place = list;
  return VLT_OK;
}

VltStatus VltLlTokFinal(VltLlTokState* s, VltAdtList** place) {
  if (s == nullptr) return VLT_ERR_NULL;
  VltAdtList* list = nullptr;
  if (VltStatus st = hand_out(s, place, &list)) return st;
  s->final = 1;
  free_state(s);
  *place = list;
  return VLT_OK;
}

VltStatus VltLlTokResume(VltLlTokState* s, VltAdtList* list) {
  if (s == nullptr || list == nullptr) return VLT_ERR_NULL;
  s->last = &s->sentinel;
  for (VltAdtListNode* node = list->first; node != nullptr;) {
    auto* t = static_cast<VltLlToken*>(node->data);
    if (t == nullptr) return VLT_ERR_ASSERT;
    VltAdtHashTable* table = nullptr;
    if (VltStatus st = cell_table(s, t->width, t->height, &table)) return st;
    void* found = nullptr;
    if (VltStatus st = VltAdt_htAddToTable(table, t, &found)) return st;
    if (found != nullptr) return VLT_ERR_ASSERT;
    if (VltStatus st = VltAdt_liRemAndNext(node, &node)) return st;
  }
  return VltAdt_liFree(list);
}

VltStatus VltLlTokAbort(VltLlTokState* s) {
  if (s == nullptr) return VLT_ERR_NULL;
  free_state(s);
  return VLT_OK;
}

VltStatus VltLlTokFreeOutput(VltAdtList* list, VltState* engine) {
  if (list == nullptr || engine == nullptr) return VLT_ERR_NULL;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
    VltLlTokFreeClass(static_cast<VltLlToken*>(n->data), engine);
    n->data = nullptr;
  }
  return VltAdt_liFree(list);
}

void VltLlTokFreeClass(VltLlToken* token, VltState* engine) {
  if (token == nullptr || engine == nullptr) return;
  engine->free(token->runs);
  if (token->occurrences != nullptr) VltAdt_liFree(token->occurrences);
  give_record(engine, token);
}

uint32_t VltLlTokMemUsage(const VltLlTokState* s) { return s != nullptr ? s->memUsage : 0; }
