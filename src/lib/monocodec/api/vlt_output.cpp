// Section output: token records, the section dictionary, residual dictionaries and positions.

#include "vlt_output.h"

#include <algorithm>

#include "checked_size.h"
#include "tok_skew.h"
#include "vlt_stripes.h"

namespace {

constexpr const char* kInvalidCoding = "Invalid image compression type";

VltTokenRecord* token_of(const TokComponent* c) {
  return c->bitmap.owner == c ? nullptr : static_cast<VltTokenRecord*>(c->bitmap.owner);
}

// The page record a one-member class's member lies on.
TclyPage* page_of_member(TclySection* s, const TokMemberPos* pos) {
  const auto* c = pos != nullptr ? static_cast<const TokComponent*>(pos->owner) : nullptr;
  if (c == nullptr) return nullptr;
  const int64_t index = int64_t{c->pageNumber} - s->firstPage;
  if (index < 0 || index >= s->pageCount || s->pages[index].pageNumber != c->pageNumber) return nullptr;
  return &s->pages[index];
}

void free_records(VltState* es, VltTokenRecord* records, uint32_t owning) {
  if (records == nullptr) return;
  for (uint32_t i = 0; i < owning; ++i) es->free(records[i].bitmap);
  es->free(records);
}

}  // namespace

VltStatus tcly_out_init(VltState* state, TclyOutState** place, uint32_t one, uint8_t singlePage,
                        const uint32_t block[6], uint32_t outputWord, uint32_t outputByte, uint8_t resDictMode,
                        uint32_t profile, uint8_t sectionMode, Jb2OutputCallbacks* callbacks) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr || callbacks == nullptr || callbacks->createState == nullptr)
    return Vlt_report(state, VLT_ERR_NULL);
  *place = nullptr;
  auto* out = static_cast<TclyOutState*>(state->calloc(1, sizeof(TclyOutState)));
  if (out == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  out->state = state;
  out->one = one;
  out->outputByte = outputByte;
  out->outputWord = outputWord;
  out->resDictMode = resDictMode;
  if (block != nullptr) std::copy(block, block + 6, out->block);
  out->sectionMode = sectionMode;
  out->callbacks = callbacks;
  if (const VltStatus st =
          callbacks->createState(out->block, state, profile, 1, singlePage, &out->stream, &callbacks->context);
      st != VLT_OK) {
    state->free(out);
    return st;
  }
  *place = out;
  return VLT_OK;
}

VltStatus tcly_out_end(TclyOutState* out) {
  if (out == nullptr) return VLT_OK;
  VltState* es = out->state;
  Jb2OutputCallbacks* cb = out->callbacks;
  VltStatus st = VLT_OK;
  if (out->dictBlock != nullptr) {
    st = cb->freeDictBlock(out->dictBlock, out->stream, cb->context);
    out->dictBlock = nullptr;
  }
  // The stream is gone after its close whatever the close reports, so the state goes too.
  if (const VltStatus closed = cb->closeState(out->stream, cb->context); st == VLT_OK) st = closed;
  es->free(out);
  return st;
}

VltStatus emptyOutputState(TclyOutState* out) {
  if (out == nullptr || out->dictBlock == nullptr) return VLT_OK;
  const VltStatus st = out->callbacks->freeDictBlock(out->dictBlock, out->stream, out->callbacks->context);
  out->dictBlock = nullptr;
  return st;
}

VltStatus makeTokens(TclySection* ls, VltTdcSection* ts, uint8_t unusable, VltTokenRecord** records,
                     uint32_t* classCount, uint32_t* losslessCount, uint8_t final, VltState* es) {
  *records = nullptr;
  *classCount = 0;
  *losslessCount = 0;
  if (ls == nullptr || ts == nullptr || ls->classes == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (ts->pageCount != static_cast<uint32_t>(ls->pageCount)) return Vlt_report(es, VLT_ERR_ASSERT);
  uint32_t dictionaryClasses = 0;
  for (VltAdtListNode* n = ls->classes->first; n != nullptr; n = n->next) {
    const auto* r = static_cast<const TokOutput*>(n->data);
    if (r == nullptr || r->members == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
    // A class carried from an earlier section keeps its record, whether this section used it or not.
    if (r->dictRef != nullptr) continue;
    if (r->members->first == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
    if (r->members->count > 1) {
      ++dictionaryClasses;
      continue;
    }
    TclyPage* page = page_of_member(ls, static_cast<const TokMemberPos*>(r->members->first->data));
    if (page == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
    ++page->runningCount;
  }
  if (unusable) return Vlt_reportErrMsg(es->errState, VLT_ERR_INTERNAL, kInvalidCoding);

  size_t bytes = 0;
  if (!mono::checked_mul(size_t(std::max(ls->pageCount, 1)), sizeof(uint32_t), &bytes))
    return Vlt_report(es, VLT_ERR_NOMEM);
  auto* pageCounts = static_cast<uint32_t*>(es->malloc(bytes));
  if (pageCounts == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  for (int32_t p = 0; p < ls->pageCount; ++p) {
    TclyPage& page = ls->pages[p];
    page.runningCount += page.deskewCount;
    pageCounts[p] = static_cast<uint32_t>(std::max(page.runningCount, 0));
  }
  VltTokenRecord* array = nullptr;
  uint32_t lossless = 0;
  VltStatus st = createTokensNew(es, ts->tokenizerOutput, ts, &array, &lossless, final, dictionaryClasses, pageCounts);
  es->free(pageCounts);
  if (st == VLT_OK && array == nullptr && dictionaryClasses != 0) st = Vlt_report(es, VLT_ERR_ASSERT);
  if (st != VLT_OK) {
    free_records(es, array, lossless);
    return st;
  }
  uint32_t filled = 0;
  if (array != nullptr)
    for (VltAdtListNode* n = ls->classes->first; n != nullptr; n = n->next) {
      auto* r = static_cast<TokOutput*>(n->data);
      if (r->dictRef != nullptr || r->members->count < 2) continue;
      VltTokenRecord& rec = array[lossless + filled++];
      rec = VltTokenRecord{r->exemplar.bits, nullptr, r->members->count, r->exemplar.width, r->exemplar.height,
                           r->exemplar.wordsPerLine, 0};
      r->dictRef = &rec;
    }
  if (filled != dictionaryClasses) {
    free_records(es, array, lossless);
    return Vlt_report(es, VLT_ERR_ASSERT);
  }
  *records = array;
  *classCount = dictionaryClasses;
  *losslessCount = lossless;
  return VLT_OK;
}

VltStatus writeTokOutput(TclyOutState* out, TclySection* lossy, VltTdcSection* tokens, uint8_t unusable,
                         VltTokenRecord** records, uint32_t* count, uint32_t* losslessCount, uint8_t final) {
  *records = nullptr;
  *count = 0;
  *losslessCount = 0;
  VltTokenRecord* made = nullptr;
  uint32_t classes = 0, lossless = 0;
  if (const VltStatus st = makeTokens(lossy, tokens, unusable, &made, &classes, &lossless, final, out->state);
      st != VLT_OK)
    return st;
  if (made == nullptr) return VLT_OK;
  // The records go out even when the writer fails: classes and kept tokens point into them.
  *records = made;
  *count = lossless + classes;
  *losslessCount = lossless;
  Jb2OutputCallbacks* cb = out->callbacks;
  void* fresh = nullptr;
  if (const VltStatus st = cb->writeDictionary(made, static_cast<int32_t>(lossless + classes), out->dictBlock, &fresh,
                                               0, 0, out->stream, cb->context);
      st != VLT_OK)
    return st;
  if (out->dictBlock != nullptr && out->dictBlock != fresh)
    if (const VltStatus st = cb->freeDictBlock(out->dictBlock, out->stream, cb->context); st != VLT_OK) return st;
  out->dictBlock = fresh;
  return VLT_OK;
}

void adjustCoords(VltAdtList* classes) {
  if (classes == nullptr) return;
  for (VltAdtListNode* n = classes->first; n != nullptr; n = n->next) {
    auto* r = static_cast<TokOutput*>(n->data);
    if (r == nullptr || r->members == nullptr) continue;
    for (VltAdtListNode* m = r->members->first; m != nullptr; m = m->next) {
      const auto* pos = static_cast<const TokMemberPos*>(m->data);
      auto* c = pos != nullptr ? static_cast<TokComponent*>(pos->owner) : nullptr;
      if (c == nullptr) continue;
      c->bitmap.width = r->exemplar.width;
      c->bitmap.height = r->exemplar.height;
      c->bitmap.bits = r->exemplar.bits;
      c->bitmap.wordsPerLine = r->exemplar.wordsPerLine;
      // From here the owner word names the record, and the bits stay the class's.
      c->bitmap.owner = r->dictRef;
      c->x -= pos->dx;
      c->y += r->exemplar.height - pos->dy - 1;
    }
  }
}

VltStatus writeResDict(TclyOutState* out, TclyPage* page, VltTdcPage* tokenPage, uint8_t resDictMode) {
  VltState* es = out->state;
  const uint32_t own = tokenPage->tokenRecordCount;
  const int64_t residuals = page->runningCount;
  if (own != tokenPage->tokenRecordCapacity || residuals < 0 || page->components == nullptr ||
      (tokenPage->tokenRecords == nullptr && own + residuals > 0))
    return Vlt_report(es, VLT_ERR_ASSERT);
  int64_t made = 0;
  for (VltAdtListNode* n = page->components->first; n != nullptr; n = n->next) {
    auto* c = static_cast<TokComponent*>(n->data);
    if (c->bitmap.bits == nullptr && c->runs != nullptr) {
      size_t bytes = 0;
      if (!mono::checked_mul(size_t{c->bitmap.wordsPerLine} * 4, size_t{c->bitmap.height}, &bytes))
        return Vlt_report(es, VLT_ERR_NOMEM);
      auto* bits = static_cast<uint8_t*>(es->calloc(std::max<size_t>(bytes, 1), 1));
      if (bits == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
      fillruns(bits, c->bitmap.wordsPerLine, c->runs, c->runCount, 0, 0);
      es->free(c->runs);
      c->runs = nullptr;
      c->runCount = 0;
      c->bitmap.bits = bits;
      c->y += c->bitmap.height - 1;
    }
    if (c->bitmap.bits == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
    // Straightened instances no longer look like their class: the instances of a class on this
    // page share one residual symbol, the bitmap of their shared record.
    const auto* shared = static_cast<const DeskewSharedBitmap*>(c->sharedBitmap);
    const VltTokenRecord* token = shared != nullptr ? nullptr : token_of(c);
    // Every class placed on a page was written into a section dictionary before its pages.
    if (token != nullptr) {
      if (token->inDictionary == 0) return Vlt_report(es, VLT_ERR_ASSERT);
      continue;
    }
    if (shared != nullptr) {
      if (shared->bitmap != c->bitmap.bits) return Vlt_report(es, VLT_ERR_ASSERT);
      VltTokenRecord* const madeFirst = tokenPage->tokenRecords + own;
      VltTokenRecord* const madeEnd = madeFirst + made;
      VltTokenRecord* same =
          std::find_if(madeFirst, madeEnd, [&](const VltTokenRecord& r) { return r.bitmap == shared->bitmap; });
      if (same != madeEnd) {
        if (resDictMode == 0) ++same->uses;
        c->bitmap.owner = same;
        continue;
      }
    }
    if (made >= residuals) return Vlt_report(es, VLT_ERR_ASSERT);
    VltTokenRecord& rec = tokenPage->tokenRecords[own + made++];
    rec = VltTokenRecord{c->bitmap.bits, nullptr, resDictMode == 0 ? 1u : 0u, c->bitmap.width, c->bitmap.height,
                         c->bitmap.wordsPerLine, 0};
    c->bitmap.owner = &rec;
  }
  if (made != residuals) return Vlt_report(es, VLT_ERR_ASSERT);
  Jb2OutputCallbacks* cb = out->callbacks;
  void* fresh = nullptr;
  if (const VltStatus st = cb->writePageDictionary(tokenPage->tokenRecords, static_cast<int32_t>(own + made),
                                                   page->width, page->height, page->xRes, page->yRes, 0,
                                                   out->dictBlock, &fresh, 0, 0, out->stream, cb->context);
      st != VLT_OK)
    return st;
  if (fresh != nullptr) out->dictBlock = fresh;
  return VLT_OK;
}

VltStatus makePosArray(TclyPage* page, VltTdcPage* tokenPage, VltState* es) {
  const uint32_t before = tokenPage->posCount;
  const uint32_t added = page->components != nullptr ? page->components->count : 0;
  if (added == 0) return VLT_OK;
  size_t bytes = 0;
  if (!mono::checked_mul(size_t{before} + added, sizeof(VltPosRecord), &bytes)) return Vlt_report(es, VLT_ERR_NOMEM);
  auto* positions = static_cast<VltPosRecord*>(es->realloc(tokenPage->positions, bytes));
  if (positions == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  tokenPage->positions = positions;
  uint32_t k = before;
  for (const VltAdtListNode* n = page->components->first; n != nullptr; n = n->next) {
    const auto* c = static_cast<const TokComponent*>(n->data);
    VltTokenRecord* token = token_of(c);
    if (token == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
    // A class bitmap may reach past the page where its member did not: it is moved inside, the
    // top edge winning over the bottom one, since a decoder clips what lies outside a region.
    int32_t x = std::min(c->x, page->width - int32_t{c->bitmap.width});
    x = std::max(x, 0);
    int32_t y = std::min(c->y, page->height - 1);
    y = std::max(y, int32_t{c->bitmap.height} - 1);
    positions[k++] = VltPosRecord{token, 0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
  }
  tokenPage->posCount = k;
  return VLT_OK;
}
