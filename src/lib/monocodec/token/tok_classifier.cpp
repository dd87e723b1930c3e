// The classifier's public face: parameters, state, adding bitmaps, resuming classes, releasing.

#include "tok_classifier.h"

#include <algorithm>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "tok_class.h"
#include "tok_edge.h"
#include "tok_pixsum.h"
#include "tok_table.h"

namespace {

bool pool_holds(uint32_t pool, size_t size) { return Vlt_getPoolSize(pool) >= static_cast<int32_t>(size); }

// Searches the grid cells of the search order for a class that takes the box.
VltStatus find_class(TokState* state, TokBox* box, TokClass** found) {
  *found = nullptr;
  if (state->order == nullptr) {
    if (VltStatus st = tokCTCalcOrder(state->widthDiff, state->heightDiff, &state->orderCount, &state->order, state))
      return st;
  }
  for (int32_t s = 0; s < state->orderCount; ++s) {
    VltAdtList* cell = tok_cell(&state->table, int64_t(box->height) + state->order[s].dh,
                                int64_t(box->width) + state->order[s].dw);
    if (cell == nullptr) continue;
    for (VltAdtListNode* n = cell->first; n != nullptr; n = n->next) {
      auto* cls = static_cast<TokClass*>(n->data);
      uint8_t merged = 0;
      const VltStatus st = tokCMaybeMergeBox(state, &state->table, cls, box, &merged);
      if (merged) *found = cls;
      if (st != VLT_OK || merged) return st;
    }
  }
  return VLT_OK;
}

// A committed, resumed class from one record; members kept when asked.
VltStatus resume_one(TokState* state, TokOutput* r, bool keep) {
  if (r->members == nullptr) return VLT_ERR_ASSERT;
  VltState* es = state->engine;
  void* block = nullptr;
  if (VltStatus st = tok_pool_take(es, TOK_POOL_BOX, &block)) return st;
  auto* cls = static_cast<TokClass*>(block);
  *cls = TokClass{nullptr, nullptr, nullptr, 0, r->dictRef};
  TokBox* exemplar = nullptr;
  const auto fail = [&](VltStatus st) {
    if (cls->members != nullptr)
      for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), state);
    FreeBox(exemplar, state);
    ClassFree(cls, state);
    return st;
  };
  if (VltStatus st = VltAdt_liNew(&cls->members, es)) return fail(st);
  if (VltStatus st = tokBitmapToBox(state, &r->exemplar, &exemplar)) return fail(st);
  if (VltStatus st = tok_pool_take(es, TOK_POOL_PIXEL_SUM, &block)) return fail(st);
  auto* sum = static_cast<TokPixelSum*>(block);
  const auto g = static_cast<int16_t>(state->margin);
  *sum = TokPixelSum{nullptr, g, 0, g, 0, 0, 1};
  cls->sum = sum;
  if (VltImage* h = r->histogram) {
    VltImage_setOffset(h, h->hdr.xOffset + state->margin, h->hdr.yOffset);
    sum->histogram = h;
    r->histogram = nullptr;
    sum->xmin = static_cast<int16_t>(h->hdr.xOffset);
    sum->ymin = static_cast<int16_t>(h->hdr.yOffset);
    sum->xmax = static_cast<int16_t>(h->hdr.xOffset + h->hdr.width - 1);
    sum->ymax = static_cast<int16_t>(h->hdr.yOffset + h->hdr.height - 1);
    sum->narrow = r->narrow;
    sum->count = r->sampleCount;
  }
  if (keep) {
    // A member without a position entry is placed at the frame origin.
    for (VltAdtListNode* n = r->members->first; n != nullptr; n = n->next) {
      if (VltStatus st = tok_pool_take(es, TOK_POOL_BOX, &block)) return fail(st);
      auto* m = static_cast<TokBox*>(block);
      *m = TokBox{0, 0, nullptr, nullptr, 0, 0, 0, n->data};
      if (state->flags & TOK_FLAG_MEMBER_POS) {
        const auto* pos = static_cast<const TokMemberPos*>(n->data);
        *m = TokBox{0, 0, nullptr, nullptr, pos->dx, pos->dy, 0, pos->owner};
      }
      if (VltStatus st = VltAdt_liAdd(cls->members, m, nullptr)) {
        FreeBox(m, state);
        return fail(st);
      }
    }
  }
  cls->exemplar = exemplar;
  cls->flags = TOK_CLASS_COMMITTED | TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_EXEMPLAR_CURRENT | TOK_CLASS_CHECKED |
               TOK_CLASS_RESUMED;
  if (sum->count == 0 || sum->count >= state->sumLimit) cls->flags |= TOK_CLASS_SATURATED;
  if (VltStatus st = tokCTAddToTable(&state->table, cls, state)) {
    cls->exemplar = nullptr;
    return fail(st);
  }
  return VLT_OK;
}

VltStatus resume(TokState* state, VltAdtList* records, bool keep) {
  if (state == nullptr || records == nullptr) return VLT_ERR_ASSERT;
  const uint32_t flags = state->flags;
  state->flags &= ~uint32_t(TOK_FLAG_COPY_BITS);
  VltStatus st = VLT_OK;
  for (VltAdtListNode* n = records->first; n != nullptr && st == VLT_OK;) {
    auto* r = static_cast<TokOutput*>(n->data);
    st = resume_one(state, r, keep);
    tok_dropRecord(state, r);
    VltAdt_liRemAndNext(n, &n);
  }
  state->flags = flags;
  if (st == VLT_OK) VltAdt_liFree(records);
  return st;
}

VltStatus release_record(TokState* state, TokOutput* r, bool freeMembers) {
  VltState* es = state->engine;
  if (r->exemplar.bits == nullptr || r->members == nullptr) return VLT_ERR_ASSERT;
  if (freeMembers)
    for (VltAdtListNode* n = r->members->first; n != nullptr; n = n->next)
      if (n->data == nullptr) return VLT_ERR_ASSERT;
  es->free(r->exemplar.bits);
  VltImage_free(r->histogram);
  if (freeMembers)
    for (VltAdtListNode* n = r->members->first; n != nullptr; n = n->next) es->free(n->data);
  VltAdt_liFree(r->members);
  es->free(r);
  return VLT_OK;
}

}  // namespace

void tokSetDefaults(TokParams* p) {
  if (p == nullptr) return;
  p->matchFraction = 0.97f;
  p->maxDense = 3;
  p->widthDiff = 1;
  p->heightDiff = 1;
  p->commitCount = 10000;
  p->sumLimit = 10000;
  p->sumStart = 10;
  p->sumOutputMin = 0;
  p->maxShift = 8;
  p->thresholdOffset = 3;
  p->thresholdKnee = 6;
  p->minLossySize = 6;
  p->thresholdSlope = 2.0f;
  p->frameMarginWord = 1;
  p->spareWord = 1;
  p->tokFlags = 0;
  p->mergeHook = nullptr;
  p->mergeHookData = nullptr;
}

VltStatus tokInit(const TokParams* p, TokState** place) {
  if (p == nullptr || place == nullptr || p->engineState == nullptr) return VLT_ERR_NULL;
  if (!pool_holds(TOK_POOL_MODEL, sizeof(TokModel)) || !pool_holds(VLT_ADT_LIST_POOL, sizeof(VltAdtList)) ||
      !pool_holds(VLT_ADT_LIST_POOL, sizeof(VltAdtListNode)) ||
      !pool_holds(TOK_POOL_PIXEL_SUM, sizeof(TokPixelSum)) || !pool_holds(TOK_POOL_BOX, sizeof(TokBox)) ||
      !pool_holds(TOK_POOL_BOX, sizeof(TokClass)))
    return VLT_ERR_ASSERT;
  VltState* es = p->engineState;
  auto* s = static_cast<TokState*>(es->malloc(sizeof(TokState)));
  if (s == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  *s = TokState{};
  s->matchFraction = p->matchFraction;
  s->maxDense = p->maxDense;
  s->widthDiff = p->widthDiff;
  s->heightDiff = p->heightDiff;
  s->commitCount = p->commitCount;
  s->sumLimit = p->sumLimit;
  s->sumStart = p->sumStart;
  s->sumOutputMin = p->sumOutputMin;
  s->maxShift = p->maxShift;
  s->thresholdOffset = p->thresholdOffset;
  s->thresholdKnee = p->thresholdKnee;
  s->minLossySize = p->minLossySize;
  s->thresholdSlope = p->thresholdSlope;
  s->margin = p->frameMarginWord;
  if (p->tokFlags & TOK_FLAG_RADIUS_CODE) {
    if (p->frameMarginWord == 10 || p->frameMarginWord == 14) s->margin = 1;
    if (p->frameMarginWord == 20) s->margin = 2;
  }
  s->radiusCode = p->frameMarginWord;
  s->flags = p->tokFlags;
  s->engine = es;
  s->mergeHook = p->mergeHook;
  s->mergeHookData = p->mergeHookData;
  *place = s;
  return VLT_OK;
}

VltStatus tokBitmapToBox(TokState* state, TokBitmap* bm, TokBox** out) {
  VltState* es = state->engine;
  const int32_t g = state->margin;
  if (bm == nullptr || bm->bits == nullptr || g < 0 || g >= 32) return VLT_ERR_ASSERT;
  const uint32_t w = bm->width, h = bm->height;
  if (w > TOK_MAX_BITMAP_SIDE || h > TOK_MAX_BITMAP_SIDE) return Vlt_report(es, VLT_ERR_PARAM);
  const uint32_t modelWidth = w + uint32_t(g);
  const uint32_t needed = (modelWidth + 31) / 32;

  void* block = nullptr;
  if (VltStatus st = tok_pool_take(es, TOK_POOL_BOX, &block)) return st;
  auto* box = static_cast<TokBox*>(block);
  *box = TokBox{w, h, nullptr, nullptr, 0, 0, 0, bm->owner};
  if (VltStatus st = tok_pool_take(es, TOK_POOL_MODEL, &block)) {
    FreeBox(box, state);
    return st;
  }
  auto* model = static_cast<TokModel*>(block);
  *model = TokModel{modelWidth, h, needed, nullptr, 0, 0};
  box->model = model;

  if (bm->wordsPerLine < needed || (state->flags & TOK_FLAG_COPY_BITS)) {
    model->bits = static_cast<uint8_t*>(es->calloc(size_t(needed) * h + (h == 0 ? 1 : 0), 4));
    if (model->bits == nullptr) {
      FreeBox(box, state);
      return Vlt_report(es, VLT_ERR_NOMEM);
    }
    const size_t copied = size_t(std::min<uint32_t>(bm->wordsPerLine, needed)) * 4;
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(tok_row(model->bits, needed, y), tok_row(bm->bits, bm->wordsPerLine, y), copied);
    if (!(state->flags & TOK_FLAG_COPY_BITS)) {
      es->free(bm->bits);
      bm->bits = nullptr;
    }
  } else {
    model->bits = bm->bits;
    model->wordsPerLine = bm->wordsPerLine;
    bm->bits = nullptr;
  }

  // Clear everything right of the bitmap, then make room for the margin on the left.
  const uint32_t used = (w + 31) / 32;
  uint32_t pixels = 0;
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = tok_row(model->bits, model->wordsPerLine, y);
    for (uint32_t i = used; i < model->wordsPerLine; ++i) mono::store_be32(row + 4 * i, 0);
    if (w % 32 != 0) mono::store_be32(row + 4 * (used - 1), mono::load_be32(row + 4 * (used - 1)) & mono::left_mask32(w % 32));
    if (g > 0) {
      uint32_t carry = 0;
      for (uint32_t i = 0; i < needed; ++i) {
        const uint32_t word = mono::load_be32(row + 4 * i);
        mono::store_be32(row + 4 * i, word >> g | carry);
        carry = word << (32 - g);
      }
    }
    for (uint32_t i = 0; i < needed; ++i) pixels += tok_bitcount(mono::load_be32(row + 4 * i));
  }
  if (pixels == 0) {
    FreeBox(box, state);
    return VLT_ERR_ASSERT;
  }
  model->pixelCount = pixels;
  box->pixelCount = pixels;
  if (VltStatus st = MakeImCrossFromMod(model, state, &box->edge)) {
    FreeBox(box, state);
    return st;
  }
  *out = box;
  return VLT_OK;
}

VltStatus tokAddBitmap(TokState* state, TokBitmap* bitmap) {
  if (state == nullptr) return VLT_ERR_NULL;
  TokBox* box = nullptr;
  if (VltStatus st = tokBitmapToBox(state, bitmap, &box)) return st;
  TokClass* found = nullptr;
  if (VltStatus st = find_class(state, box, &found)) {
    if (found == nullptr) FreeBox(box, state);
    return st;
  }
  if (found != nullptr) return VLT_OK;
  TokClass* cls = nullptr;
  if (VltStatus st = tokCBoxToClass(box, &cls, state)) {
    FreeBox(box, state);
    return st;
  }
  if (VltStatus st = tokCTAddToTable(&state->table, cls, state)) {
    ClassFree(cls, state);
    FreeBox(box, state);
    return st;
  }
  return VLT_OK;
}

VltStatus tokAddBitmapVerify(TokState* state, TokBitmap* bitmap, uint8_t* isNew, VltAdtList** members) {
  if (state == nullptr || isNew == nullptr || members == nullptr) return VLT_ERR_NULL;
  *isNew = 0;
  *members = nullptr;
  TokBox* box = nullptr;
  if (VltStatus st = tokBitmapToBox(state, bitmap, &box)) return st;
  TokClass* found = nullptr;
  const VltStatus st = find_class(state, box, &found);
  if (found != nullptr) {
    *members = found->members;
    return st;
  }
  FreeBox(box, state);
  if (st == VLT_OK) *isNew = 1;
  return st;
}

VltStatus tokGetCount(TokState* state, uint32_t* count) {
  if (state != nullptr && count != nullptr) *count = state->table.count;
  return VLT_OK;
}

VltStatus tokMerge(TokState* state) { return tokCTFinalMerge(state, &state->table); }

VltStatus tokPartial(TokState* state, VltAdtList** output) { return generateOutput(state, output, 1); }
VltStatus tokFinal(TokState* state, VltAdtList** output) { return generateOutput(state, output, 1); }
VltStatus tokPartialNoMerge(TokState* state, VltAdtList** output) { return generateOutput(state, output, 0); }
VltStatus tokFinalNoMerge(TokState* state, VltAdtList** output) { return generateOutput(state, output, 0); }

VltStatus tokResume(TokState* state, VltAdtList* records) { return resume(state, records, false); }
VltStatus tokResumeKeepMember(TokState* state, VltAdtList* records) { return resume(state, records, true); }

VltStatus tokFreeOutput(TokState* state, VltAdtList* records, int freeMembers) {
  if (state == nullptr || records == nullptr) return VLT_ERR_ASSERT;
  for (VltAdtListNode* n = records->first; n != nullptr;) {
    if (VltStatus st = release_record(state, static_cast<TokOutput*>(n->data), freeMembers != 0)) return st;
    VltAdt_liRemAndNext(n, &n);
  }
  return VltAdt_liFree(records);
}

VltStatus tokFreeClass(TokState* state, TokOutput* record) {
  if (state == nullptr || record == nullptr) return VLT_ERR_ASSERT;
  return release_record(state, record, (state->flags & TOK_FLAG_MEMBER_POS) != 0);
}

VltStatus tokFreeState(TokState* state) {
  if (state == nullptr) return VLT_OK;
  TokClassTable* t = &state->table;
  for (int32_t r = 0; r < t->rowCount; ++r)
    for (int32_t c = 0; c < t->rows[r].columns; ++c) {
      VltAdtList* list = t->rows[r].cells[c];
      if (list == nullptr) continue;
      for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
        auto* cls = static_cast<TokClass*>(n->data);
        for (VltAdtListNode* m = cls->members->first; m != nullptr; m = m->next)
          FreeBox(static_cast<TokBox*>(m->data), state);
        ClassFree(cls, state);
      }
    }
  tok_freeGrid(t, state);
  VltState* es = state->engine;
  es->free(state->order);
  es->free(state->pixelCounts);
  es->free(state->levelCounts);
  es->free(state);
  return VLT_OK;
}

VltStatus tokAbort(TokState* state) { return tokFreeState(state); }
