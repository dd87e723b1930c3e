// Token records from the lossless tokenizer's hand-out list.

#include <cstring>

#include "checked_size.h"
#include "tok_imgutil.h"
#include "tok_insert.h"
#include "tok_tdoc.h"

namespace {

uint32_t occurrence_of(const void* word) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(word)); }

bool has_occurrences(const VltLlToken* t) { return t->occurrences != nullptr && t->occurrences->first != nullptr; }

// The position-block entry of an occurrence, checked against the section's pages.
const VltPosEntry* entry_of(const VltTdcSection* s, uint32_t word) {
  if (s->posBlock == nullptr || word >= s->posBlock->count) return nullptr;
  const VltPosEntry* e = &s->posBlock->entries[word];
  if (e->page >= s->pageCount || e->position >= s->pages[e->page].posCount) return nullptr;
  return e;
}

VltTokenRecord* alloc_records(VltState* state, uint64_t count) {
  size_t bytes = 0;
  if (!mono::checked_mul(size_t(count), sizeof(VltTokenRecord), &bytes)) return nullptr;
  return static_cast<VltTokenRecord*>(state->calloc(1, bytes));
}

VltStatus fill_record(VltState* state, const VltLlToken* t, VltTokenRecord* r) {
  if (t->width < 1 || t->height < 1 || t->width > UINT16_MAX || t->height > UINT16_MAX)
    return Vlt_report(state, VLT_ERR_ASSERT);
  const int32_t lineWords = (t->width + 31) / 32;
  *r = VltTokenRecord{nullptr, nullptr, static_cast<uint32_t>(t->refs), static_cast<uint16_t>(t->width),
                      static_cast<uint16_t>(t->height), static_cast<uint16_t>(lineWords), 0};
  return RunsToUnframedBitmap(&r->bitmap, t->runs, t->count, t->height, lineWords, 0, state);
}

}  // namespace

VltStatus createTokensNew(VltState* state, VltAdtList* list, VltTdcSection* section, VltTokenRecord** records,
                          uint32_t* count, uint8_t final, uint32_t extra, const uint32_t* pageExtra) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (section == nullptr || records == nullptr || count == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  *records = nullptr;
  *count = 0;
  VltTdcSection* s = section;
  if (s->pageCount > 0 && s->pages == nullptr) return Vlt_report(state, VLT_ERR_ASSERT);

  for (uint32_t p = 0; p < s->pageCount; ++p) s->pages[p].tokenRecordCount = 0;
  uint64_t shared = 0;
  if (list != nullptr)
    for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
      const auto* t = static_cast<const VltLlToken*>(n->data);
      if (t == nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
      if (!has_occurrences(t)) continue;
      if (t->refs == 1) {
        const VltPosEntry* e = entry_of(s, occurrence_of(t->occurrences->first->data));
        if (e == nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
        ++s->pages[e->page].tokenRecordCount;
      } else {
        ++shared;
      }
    }

  // Records filled before a failure stay with their arrays: the section array is handed out
  // whatever happens, the page arrays stay with their pages.
  VltTokenRecord* array = nullptr;
  uint32_t filled = 0;
  const auto done = [&](VltStatus st) {
    *records = array;
    *count = array != nullptr ? filled : 0;
    return st;
  };
  if (shared + extra > UINT32_MAX) return Vlt_report(state, VLT_ERR_NOMEM);
  if (shared + extra != 0) {
    array = alloc_records(state, shared + extra);
    if (array == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  }
  for (uint32_t p = 0; p < s->pageCount; ++p) {
    VltTdcPage& page = s->pages[p];
    page.tokenRecords = nullptr;
    const uint64_t allot = uint64_t{page.tokenRecordCount} + (pageExtra != nullptr ? pageExtra[p] : 0);
    page.tokenRecordCapacity = page.tokenRecordCount;
    page.tokenRecordCount = 0;
    if (allot == 0) continue;
    page.tokenRecords = alloc_records(state, allot);
    if (page.tokenRecords == nullptr) return done(Vlt_report(state, VLT_ERR_NOMEM));
  }

  VltTokBlock* block = s->tokBlock;
  for (VltAdtListNode* n = list != nullptr ? list->first : nullptr; n != nullptr;) {
    auto* t = static_cast<VltLlToken*>(n->data);
    if (!has_occurrences(t)) {
      n = n->next;
      continue;
    }
    const bool single = t->refs == 1;
    VltTokenRecord* r = nullptr;
    if (single) {
      const VltPosEntry* e = entry_of(s, occurrence_of(t->occurrences->first->data));
      if (e == nullptr) return done(Vlt_report(state, VLT_ERR_ASSERT));
      VltTdcPage& page = s->pages[e->page];
      if (page.tokenRecordCount >= page.tokenRecordCapacity) return done(Vlt_report(state, VLT_ERR_ASSERT));
      r = &page.tokenRecords[page.tokenRecordCount++];
    } else {
      if (filled >= shared || block == nullptr || t->index >= block->count)
        return done(Vlt_report(state, VLT_ERR_ASSERT));
      r = &array[filled++];
      block->records[t->index] = r;
    }
    if (VltStatus st = fill_record(state, t, r)) return done(st);
    for (VltAdtListNode* o = t->occurrences->first; o != nullptr; o = o->next) {
      const VltPosEntry* e = entry_of(s, occurrence_of(o->data));
      if (e == nullptr) return done(Vlt_report(state, VLT_ERR_ASSERT));
      s->pages[e->page].positions[e->position].token = r;
    }
    VltAdt_liFree(t->occurrences);
    t->occurrences = nullptr;
    if (final || single) {
      if (VltStatus st = VltAdt_liRemAndNext(n, &n)) return done(st);
      VltLlTokFreeClass(t, state);
    } else {
      n = n->next;
    }
  }

  if (!final && list != nullptr && block != nullptr) {
    // Kept tokens take the lowest free indices, so the next section's block stays dense.
    uint32_t next = s->tokenCount;
    const auto skip_used = [&] {
      while (next < block->count && block->records[next] != nullptr) ++next;
    };
    skip_used();
    for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
      auto* t = static_cast<VltLlToken*>(n->data);
      if (t->index <= next) continue;
      if (t->index >= block->count || block->records[t->index] == nullptr)
        return done(Vlt_report(state, VLT_ERR_ASSERT));
      block->records[next] = block->records[t->index];
      block->records[t->index] = nullptr;
      t->index = next;
      ++next;
      skip_used();
    }
    s->tokenCount = next;
  }
  return done(VLT_OK);
}

namespace {

// Releases a sub-image record and its image.
void free_subifd(VltState* state, VltSubIFD* r) {
  if (r->image != nullptr) {
    uint8_t* buffer = nullptr;
    VltImage_unwrap(r->image, &buffer);
    state->free(buffer);
  }
  state->smallFree(state->smallContext, VLT_SUBIFD_POOL, r);
}

// A record for the placement, its object's bitmap drawn into a framed image when it has one.
VltStatus make_subifd(VltState* state, const VltSubPlacement& at, VltSubObject* object, VltSubIFD** place) {
  if ((object->flags & VLT_SUB_HAS_BITMAP) != 0 &&
      (object->bitmap == nullptr || (object->bitmap->bits == nullptr && object->bitmap->width > 0 &&
                                     object->bitmap->height > 0)))
    return Vlt_report(state, VLT_ERR_ASSERT);
  void* block = nullptr;
  if (VltStatus st = state->smallAlloc(state->smallContext, VLT_SUBIFD_POOL, &block)) return Vlt_report(state, st);
  auto* r = static_cast<VltSubIFD*>(block);
  *r = VltSubIFD{at.x, at.y, object, nullptr, 0, 0, object->width, object->height};
  if ((object->flags & VLT_SUB_HAS_BITMAP) != 0) {
    const TokBitmap* bm = object->bitmap;
    if (VltStatus st = pimNewFrameAligned(state, bm->width, bm->height, &r->xOffset, &r->image)) {
      free_subifd(state, r);
      return st;
    }
    InsertBoxPacked(r->image, 0, 0, bm, 1);
    r->lineWords = r->image->hdr.bytesPerLine / 4;
  }
  *place = r;
  return VLT_OK;
}

}  // namespace

VltStatus makeSubIFDs(VltState* state, VltSubPlacement* placements, int32_t* count, VltSubRef* refs, VltAdtList* list) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (count == nullptr || list == nullptr || (*count > 0 && (placements == nullptr || refs == nullptr)))
    return Vlt_report(state, VLT_ERR_NULL);
  if (Vlt_getPoolSize(VLT_SUBIFD_POOL) < static_cast<int32_t>(sizeof(VltSubIFD))) return Vlt_report(state, VLT_ERR_ASSERT);
  for (int32_t i = 0; i < *count; ++i) {
    // The entry moved into slot i is looked at in turn before i moves on.
    while (i < *count && refs[i].kind == VLT_SUB_KIND_IMAGE) {
      VltSubObject* object = refs[i].object;
      if (object == nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
      if ((object->flags & VLT_SUB_STAYS) != 0) break;
      VltSubIFD* r = nullptr;
      if (VltStatus st = make_subifd(state, placements[i], object, &r)) return st;
      if (VltStatus st = VltAdt_liAdd(list, r, nullptr)) {
        free_subifd(state, r);
        return Vlt_report(state, st);
      }
      const int32_t last = --*count;
      placements[i] = placements[last];
      refs[i] = refs[last];
    }
  }
  return VLT_OK;
}

VltStatus freeSubIFDs(VltState* state, VltAdtList* list) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (list == nullptr) return VLT_OK;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) free_subifd(state, static_cast<VltSubIFD*>(n->data));
  return VltAdt_liFree(list);
}

int isRect(const uint16_t* runs, int32_t count) {
  if (runs == nullptr || count < 1) return 1;
  const uint16_t first = runs[0], second = runs[1];
  if (second == 0 && first != 0) return 0;
  if (count < 2) return 1;
  // Markers are checked against the runs counted after the first.
  int32_t rows = 0;
  for (int32_t i = 1; i < count; ++i) {
    const uint16_t a = runs[2 * i], b = runs[2 * i + 1];
    if (b != 0) {
      if (a != first || b != second) return 0;
      ++rows;
    } else if (a != rows) {
      return 0;
    }
  }
  return 1;
}
