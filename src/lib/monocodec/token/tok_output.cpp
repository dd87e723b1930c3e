// Output generation: every class becomes a record with its tight exemplar, optionally its pixel
// sum, and its members; the classifier is left empty.

#include <algorithm>
#include <bit>

#include "byteorder.h"
#include "tok_class.h"
#include "tok_classifier.h"
#include "tok_pixsum.h"
#include "tok_table.h"

namespace {

// Checks that the exemplar model is its box's bitmap with the margin (or none) on its left and
// ink in its first and last rows and columns; *shift receives the blank columns to drop.
bool exemplar_is_tight(const TokBox* ex, uint32_t margin, uint32_t* shift) {
  const TokModel* m = ex->model;
  const uint32_t w = ex->width, W = m->width;
  if ((W != w + margin && W != w) || m->height != ex->height || margin >= 32 || W == 0 || m->height == 0)
    return false;
  const uint32_t words = (W + 31) / 32;
  if (m->wordsPerLine < words) return false;
  uint32_t first = 0, last = 0;
  for (uint32_t y = 0; y < m->height; ++y) {
    const uint8_t* row = tok_row(m->bits, m->wordsPerLine, y);
    first |= mono::load_be32(row);
    last |= mono::load_be32(row + 4 * (words - 1));
  }
  if (first == 0) return false;
  const auto z = static_cast<uint32_t>(std::countl_zero(first));
  if ((z != 0 && z != margin) || w != W - z) return false;
  const uint32_t tail = W % 32 != 0 ? 32 - W % 32 : 0;
  if (static_cast<uint32_t>(std::countr_zero(last)) != tail) return false;
  for (uint32_t y : {0u, m->height - 1}) {
    const uint8_t* row = tok_row(m->bits, m->wordsPerLine, y);
    uint32_t any = 0;
    for (uint32_t i = 0; i < words; ++i) any |= mono::load_be32(row + 4 * i);
    if (any == 0) return false;
  }
  *shift = z;
  return true;
}

// Drops the first z columns: the whole buffer moves left as one bit string. The columns carried
// across row ends are blank, as every row starts with z blank columns.
void drop_columns(TokModel* m, uint32_t z) {
  if (z == 0) return;
  const size_t n = size_t(m->wordsPerLine) * m->height;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t next = i + 1 < n ? mono::load_be32(m->bits + 4 * (i + 1)) : 0;
    mono::store_be32(m->bits + 4 * i, mono::load_be32(m->bits + 4 * i) << z | next >> (32 - z));
  }
  m->width -= z;
}

bool sum_goes_out(const TokState* s, const TokClass* c) {
  return (s->flags & TOK_FLAG_PIXEL_SUMS) && c->members->count >= static_cast<uint32_t>(std::max(s->sumOutputMin, 0));
}

void discard(TokState* state, VltAdtList* list) {
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) tok_dropRecord(state, static_cast<TokOutput*>(n->data));
  VltAdt_liFree(list);
}

// The record of one class, bits and histogram not yet taken.
VltStatus make_record(TokState* state, TokClass* cls, TokOutput** out) {
  VltState* es = state->engine;
  const TokBox* ex = cls->exemplar;
  if (cls->members == nullptr || ex == nullptr || ex->model == nullptr) return VLT_ERR_ASSERT;
  uint32_t shift = 0;
  if (!exemplar_is_tight(ex, static_cast<uint32_t>(state->margin), &shift)) return VLT_ERR_ASSERT;
  int32_t samples = 0;
  if (sum_goes_out(state, cls)) {
    if (cls->sum == nullptr) {
      if (cls->members->count != 1) return VLT_ERR_ASSERT;
      samples = 1;
    } else {
      if (cls->sum->histogram == nullptr) {
        if (VltStatus st = makeRealHist(cls, state)) return st;
      }
      samples = cls->sum->count;
    }
  }
  auto* r = static_cast<TokOutput*>(es->malloc(sizeof(TokOutput)));
  if (r == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  *r = TokOutput{TokBitmap{static_cast<uint16_t>(ex->width), static_cast<uint16_t>(ex->height), nullptr,
                           static_cast<uint16_t>(ex->model->wordsPerLine), nullptr},
                 1, samples, nullptr, nullptr, cls->outputRef};
  const auto fail = [&](VltStatus st) {
    tok_dropRecord(state, r);
    return st;
  };
  if (VltStatus st = VltAdt_liNew(&r->members, es)) return fail(st);
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) {
    const auto* b = static_cast<const TokBox*>(n->data);
    void* entry = b->owner;
    if (state->flags & TOK_FLAG_MEMBER_POS) {
      auto* pos = static_cast<TokMemberPos*>(es->malloc(sizeof(TokMemberPos)));
      if (pos == nullptr) return fail(Vlt_report(es, VLT_ERR_NOMEM));
      *pos = TokMemberPos{b->xOffset, b->yOffset, b->owner};
      entry = pos;
    }
    if (VltStatus st = VltAdt_liAdd(r->members, entry, nullptr)) {
      if (state->flags & TOK_FLAG_MEMBER_POS) es->free(entry);
      return fail(st);
    }
  }
  *out = r;
  return VLT_OK;
}

// Moves the exemplar bits and the pixel sum into the record and releases the class.
void hand_over(TokState* state, TokClass* cls, TokOutput* r) {
  TokModel* m = cls->exemplar->model;
  uint32_t shift = 0;
  exemplar_is_tight(cls->exemplar, static_cast<uint32_t>(state->margin), &shift);
  drop_columns(m, shift);
  r->exemplar.bits = m->bits;
  m->bits = nullptr;
  if (cls->sum != nullptr && sum_goes_out(state, cls)) {
    r->narrow = cls->sum->narrow;
    r->histogram = cls->sum->histogram;
    cls->sum->histogram = nullptr;
    if (VltImage* h = r->histogram) VltImage_setOffset(h, h->hdr.xOffset - state->margin, h->hdr.yOffset);
  }
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), state);
  ClassFree(cls, state);
}

}  // namespace

void tok_dropRecord(TokState* state, TokOutput* r) {
  VltState* es = state->engine;
  if (r->members != nullptr) {
    if (state->flags & TOK_FLAG_MEMBER_POS)
      for (VltAdtListNode* m = r->members->first; m != nullptr; m = m->next) es->free(m->data);
    VltAdt_liFree(r->members);
  }
  VltImage_free(r->histogram);
  es->free(r->exemplar.bits);
  es->free(r);
}

VltStatus generateOutput(TokState* state, VltAdtList** output, int merge) {
  if (state == nullptr || output == nullptr) return VLT_ERR_NULL;
  TokClassTable* table = &state->table;
  if (table->rows == nullptr) {
    if (table->count != 0) return VLT_ERR_ASSERT;
    return VltAdt_liNew(output, state->engine);
  }
  if (merge) {
    if (VltStatus st = tokCTFinalMerge(state, table)) return st;
  }
  if (state->flags & TOK_FLAG_ALIGN) {
    if (VltStatus st = tokCTDoAlign(table, state)) return st;
  }
  VltAdtList* list = nullptr;
  if (VltStatus st = VltAdt_liNew(&list, state->engine)) return st;
  // Every record is made before any class is released, so a failure leaves the classes intact.
  for (int32_t r = 0; r < table->rowCount; ++r)
    for (int32_t c = 0; c < table->rows[r].columns; ++c) {
      VltAdtList* cell = table->rows[r].cells[c];
      if (cell == nullptr) continue;
      for (VltAdtListNode* n = cell->first; n != nullptr; n = n->next) {
        TokOutput* rec = nullptr;
        VltStatus st = make_record(state, static_cast<TokClass*>(n->data), &rec);
        if (st == VLT_OK) {
          st = VltAdt_liAdd(list, rec, nullptr);
          if (st != VLT_OK) tok_dropRecord(state, rec);
        }
        if (st != VLT_OK) {
          discard(state, list);
          return st;
        }
      }
    }
  VltAdtListNode* next = list->first;
  for (int32_t r = 0; r < table->rowCount; ++r)
    for (int32_t c = 0; c < table->rows[r].columns; ++c) {
      VltAdtList*& cell = table->rows[r].cells[c];
      if (cell == nullptr) continue;
      for (VltAdtListNode* n = cell->first; n != nullptr; n = n->next) {
        hand_over(state, static_cast<TokClass*>(n->data), static_cast<TokOutput*>(next->data));
        next = next->next;
      }
      VltAdt_liFree(cell);
      cell = nullptr;
    }
  const bool counted = list->count == table->count;
  table->count = 0;
  if (!counted) {
    discard(state, list);
    return VLT_ERR_ASSERT;
  }
  *output = list;
  return VLT_OK;
}
