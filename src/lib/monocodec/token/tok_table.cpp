// The class grid, its search order and the merge passes.

#include "tok_table.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "tok_class.h"

namespace {

// Calls f(class) for every class of the grid in walk order until one fails. The grid may grow
// and lists may gain classes during the walk, so positions are re-read at every step.
template <typename F>
VltStatus each_class(TokClassTable* table, F f) {
  for (int32_t r = 0; r < table->rowCount; ++r)
    for (int32_t c = 0; c < table->rows[r].columns; ++c) {
      VltAdtList* list = table->rows[r].cells[c];
      if (list == nullptr) continue;
      for (VltAdtListNode* n = list->first; n != nullptr; n = n->next)
        if (VltStatus st = f(static_cast<TokClass*>(n->data))) return st;
    }
  return VLT_OK;
}

// Whether the scan of the given mode leaves the pair alone; *rest_too when the rest of a's
// pairs are to be left as well.
bool skip_pair(int mode, const TokClass* a, const TokClass* b, bool* rest_too) {
  const uint32_t na = a->members->count, nb = b->members->count;
  *rest_too = mode == 2 && na > 1;
  if (*rest_too) return true;
  if (mode == 2 && nb > 1) return true;
  if (mode == 1 && na == 1 && nb == 1) return true;
  if (mode == 3 && !(a->flags & TOK_CLASS_OWNS_EXEMPLAR) && !(b->flags & TOK_CLASS_OWNS_EXEMPLAR)) return true;
  return (a->flags & TOK_CLASS_UNCHANGED) && (b->flags & TOK_CLASS_UNCHANGED);
}

// Tries every class of `others` from node `from` on against a; merged ones leave their list.
VltStatus scan_pairs(TokState* state, TokClassTable* table, int mode, TokClass* a, VltAdtListNode* from) {
  for (VltAdtListNode* n = from; n != nullptr;) {
    auto* b = static_cast<TokClass*>(n->data);
    bool rest_too = false;
    if (skip_pair(mode, a, b, &rest_too)) {
      if (rest_too) return VLT_OK;
      n = n->next;
      continue;
    }
    uint8_t merged = 0;
    const VltStatus st = tokCMaybeMergeClasses(state, table, a, b, &merged);
    VltAdtListNode* next = n->next;
    if (merged) {
      VltAdt_liRem(n);
      --table->count;
    }
    if (st != VLT_OK) return Vlt_report(state->engine, st);
    n = next;
  }
  return VLT_OK;
}

}  // namespace

VltStatus tokCTCalcOrder(int32_t a, int32_t b, int32_t* count, TokOrderPair** pairs, TokState* state) {
  if (a < 0 || b < 0) return Vlt_report(state->engine, VLT_ERR_PARAM);
  int64_t n = ((2 * int64_t(a) + 1) * (2 * int64_t(b) + 1) - 1) / 2 + 1;
  size_t bytes;
  if (n > INT32_MAX || !mono::checked_mul(static_cast<size_t>(n), sizeof(TokOrderPair), &bytes))
    return Vlt_report(state->engine, VLT_ERR_NOMEM);
  auto* p = static_cast<TokOrderPair*>(state->engine->malloc(bytes));
  if (p == nullptr) return Vlt_report(state->engine, VLT_ERR_NOMEM);
  int64_t w = 0;
  const auto put = [&](int32_t dw, int32_t dh) {
    if (w < n) p[w] = TokOrderPair{dw, dh};
    ++w;
  };
  put(0, 0);
  for (int64_t d = 1; d <= int64_t(a) + b; ++d) {
    if (d <= a) put(int32_t(-d), 0);
    for (int64_t k = d - 1; k >= 1; --k)
      if (k <= a && d - k <= b) {
        put(int32_t(-k), int32_t(k - d));
        put(int32_t(k), int32_t(k - d));
      }
    if (d <= b) put(0, int32_t(-d));
  }
  if (w != n) {
    state->engine->free(p);
    return VLT_ERR_ASSERT;
  }
  *count = static_cast<int32_t>(n);
  *pairs = p;
  return VLT_OK;
}

VltAdtList* tok_cell(const TokClassTable* table, int64_t row, int64_t column) {
  if (row < 0 || row >= table->rowCount || column < 0) return nullptr;
  const TokGridRow& r = table->rows[row];
  return column < r.columns ? r.cells[column] : nullptr;
}

VltStatus expandTable(TokClassTable* table, int32_t width, int32_t height, TokState* state) {
  VltState* es = state->engine;
  if (width < 0 || height < 0 || width == INT32_MAX || height == INT32_MAX) return VLT_ERR_ASSERT;
  if (height >= table->rowCount) {
    const size_t rows = static_cast<size_t>(height) + 1;
    auto* grown = static_cast<TokGridRow*>(es->calloc(rows, sizeof(TokGridRow)));
    if (grown == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
    if (table->rows != nullptr) std::memcpy(grown, table->rows, sizeof(TokGridRow) * size_t(table->rowCount));
    es->free(table->rows);
    table->rows = grown;
    table->rowCount = height + 1;
  }
  TokGridRow& row = table->rows[height];
  if (width >= row.columns) {
    const size_t columns = static_cast<size_t>(width) + 1;
    auto* grown = static_cast<VltAdtList**>(es->calloc(columns, sizeof(VltAdtList*)));
    if (grown == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
    if (row.cells != nullptr) std::memcpy(grown, row.cells, sizeof(VltAdtList*) * size_t(row.columns));
    es->free(row.cells);
    row.cells = grown;
    row.columns = width + 1;
  }
  return VLT_OK;
}

VltStatus tokCTExpandTable(TokState* state, TokClassTable* table, int32_t width, int32_t height) {
  return expandTable(table, width, height, state);
}

VltStatus tokCTAddToTable(TokClassTable* table, TokClass* cls, TokState* state) {
  if (cls == nullptr || cls->exemplar == nullptr || cls->exemplar->width > INT32_MAX - 1 ||
      cls->exemplar->height > INT32_MAX - 1)
    return VLT_ERR_ASSERT;
  const auto w = static_cast<int32_t>(cls->exemplar->width);
  const auto h = static_cast<int32_t>(cls->exemplar->height);
  if (tok_cell(table, h, w) == nullptr) {
    if (VltStatus st = expandTable(table, w, h, state)) return st;
  }
  VltAdtList*& cell = table->rows[h].cells[w];
  const bool created = cell == nullptr;
  if (created) {
    if (VltStatus st = VltAdt_liNew(&cell, state->engine)) return st;
  }
  if (VltStatus st = VltAdt_liAdd(cell, cls, nullptr)) {
    if (created) {
      VltAdt_liFree(cell);
      cell = nullptr;
    }
    return st;
  }
  ++table->count;
  return VLT_OK;
}

VltStatus regularise(TokClassTable* table, int mode, TokState* state) {
  VltAdtList* moving = nullptr;
  if (VltStatus st = VltAdt_liNew(&moving, state->engine)) return st;
  for (int32_t r = 0; r < table->rowCount; ++r)
    for (int32_t c = 0; c < table->rows[r].columns; ++c) {
      VltAdtList* list = table->rows[r].cells[c];
      if (list == nullptr) continue;
      for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
        auto* cls = static_cast<TokClass*>(n->data);
        if (cls->exemplar == nullptr) {
          VltAdt_liFree(moving);
          return VLT_ERR_ASSERT;
        }
        if (mode == 0) {
          if (cls->flags & TOK_CLASS_SCANNED) cls->flags |= TOK_CLASS_UNCHANGED;
          cls->flags |= TOK_CLASS_SCANNED;
        }
        if (cls->exemplar->width == uint32_t(c) && cls->exemplar->height == uint32_t(r)) continue;
        cls->flags &= ~TOK_CLASS_UNCHANGED;
        if (VltStatus st = VltAdt_liAdd(moving, n, nullptr)) {
          VltAdt_liFree(moving);
          return st;
        }
      }
    }
  VltStatus result = VLT_OK;
  for (VltAdtListNode* m = moving->first; m != nullptr && result == VLT_OK; m = m->next) {
    auto* node = static_cast<VltAdtListNode*>(m->data);
    result = tokCTAddToTable(table, static_cast<TokClass*>(node->data), state);
    if (result == VLT_OK) {
      result = VltAdt_liRem(node);
      --table->count;
    }
  }
  VltAdt_liFree(moving);
  return result;
}

VltStatus generateAllExemplars(TokState* state, TokClassTable* table) {
  return each_class(table, [&](TokClass* c) { return tokCGenerateExemplar(state, c); });
}

VltStatus tokCTDoAlign(TokClassTable* table, TokState* state) {
  return each_class(table, [&](TokClass* c) { return tokCAlignClass(c, state); });
}

VltStatus scanTable(TokState* state, TokClassTable* table, int mode) {
  if (state->order == nullptr) {
    if (VltStatus st = tokCTCalcOrder(state->widthDiff, state->heightDiff, &state->orderCount, &state->order, state))
      return st;
  }
  if (VltStatus st = regularise(table, mode, state)) return st;
  for (int32_t r = 0; r < table->rowCount; ++r)
    for (int32_t c = 0; c < table->rows[r].columns; ++c) {
      VltAdtList* list = table->rows[r].cells[c];
      if (list == nullptr) continue;
      for (VltAdtListNode* n = list->first; n != nullptr; n = n->next)
        if (VltStatus st = scan_pairs(state, table, mode, static_cast<TokClass*>(n->data), n->next)) return st;
    }
  for (int32_t s = 1; s < state->orderCount; ++s) {
    const TokOrderPair d = state->order[s];
    for (int32_t r = 0; r < table->rowCount; ++r)
      for (int32_t c = 0; c < table->rows[r].columns; ++c) {
        VltAdtList* mine = table->rows[r].cells[c];
        VltAdtList* theirs = tok_cell(table, int64_t(r) + d.dh, int64_t(c) + d.dw);
        if (mine == nullptr || theirs == nullptr || mine == theirs) continue;
        for (VltAdtListNode* n = mine->first; n != nullptr; n = n->next)
          if (VltStatus st = scan_pairs(state, table, mode, static_cast<TokClass*>(n->data), theirs->first)) return st;
      }
  }
  return VLT_OK;
}

VltStatus tokCTFinalMerge(TokState* state, TokClassTable* table) {
  if (VltStatus st = scanTable(state, table, 0)) return st;
  if (VltStatus st = generateAllExemplars(state, table)) return st;
  if (VltStatus st = each_class(table, [&](TokClass* c) { return tokCCheckMembers(table, c, state); })) return st;
  if (VltStatus st = generateAllExemplars(state, table)) return st;
  if (VltStatus st = scanTable(state, table, 1)) return st;
  if (VltStatus st = scanTable(state, table, 2)) return st;
  if (state->mergeHook == nullptr) {
    uint32_t before;
    do {
      before = table->count;
      if (VltStatus st = scanTable(state, table, 0)) return st;
      if (VltStatus st = generateAllExemplars(state, table)) return st;
    } while (table->count < before);
    return scanTable(state, table, 0);
  }
  regularise(table, 0, state);
  each_class(table, [](TokClass* c) {
    c->flags &= TOK_CLASS_COMMITTED | TOK_CLASS_SATURATED | TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_RESUMED;
    return VLT_OK;
  });
  return state->mergeHook(table, state, state->mergeHookData);
}

void tok_freeGrid(TokClassTable* table, TokState* state) {
  for (int32_t r = 0; r < table->rowCount; ++r) {
    for (int32_t c = 0; c < table->rows[r].columns; ++c)
      if (table->rows[r].cells[c] != nullptr) VltAdt_liFree(table->rows[r].cells[c]);
    state->engine->free(table->rows[r].cells);
  }
  state->engine->free(table->rows);
  table->rows = nullptr;
  table->rowCount = 0;
}
