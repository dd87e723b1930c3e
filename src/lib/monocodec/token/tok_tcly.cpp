// The lossy token document: sections, pages and the memory limit over the classifier.

#include "tok_tcly.h"

#include <algorithm>
#include <unordered_set>

#include "byteorder.h"
#include "checked_size.h"

namespace {

constexpr const char* kNeedPrevious = "Need a previous section to restart the tokenizer.";
constexpr const char* kLimitTooSmall = "Dicionary Memory limit is too small";
constexpr int32_t kComponentLeast = 44;

void free_list(VltAdtList** list) {
  if (*list != nullptr) VltAdt_liFree(*list);
  *list = nullptr;
}

void free_converted(TclyDoc* doc) {
  VltState* es = doc->state;
  VltAdtList* list = doc->converted;
  if (list == nullptr) return;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
    auto* records = static_cast<VltTokenRecord*>(n->data);
    if (n->next == nullptr) break;
    n = n->next;
    const auto count = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(n->data));
    for (uint32_t i = 0; i < count; ++i) es->free(records[i].bitmap);
    es->free(records);
  }
  VltAdt_liClear(list);
}

// Drops single-member records that never reached a dictionary; the rest go back to the classifier.
VltStatus resume_kept(TclyDoc* doc, VltAdtList* classes) {
  for (VltAdtListNode* n = classes->first; n != nullptr;) {
    auto* r = static_cast<TokOutput*>(n->data);
    if (r == nullptr || r->members == nullptr) return Vlt_report(doc->state, VLT_ERR_ASSERT);
    if (r->dictRef != nullptr) {
      n = n->next;
      continue;
    }
    if (r->members->count > 1) return Vlt_report(doc->state, VLT_ERR_ASSERT);
    if (VltStatus st = tokFreeClass(doc->tok, r)) return st;
    VltAdt_liRemAndNext(n, &n);
  }
  return tokResume(doc->tok, classes);
}

VltStatus grow_pages(VltState* es, TclySection* s) {
  if (s->pageCount < s->pageCapacity) return VLT_OK;
  const int64_t grown = int64_t{s->pageCapacity} * 3 / 2;
  size_t bytes = 0;
  if (grown <= s->pageCapacity || grown > INT32_MAX || !mono::checked_mul(size_t(grown), sizeof(TclyPage), &bytes))
    return Vlt_report(es, VLT_ERR_NOMEM);
  auto* pages = static_cast<TclyPage*>(es->realloc(s->pages, bytes));
  if (pages == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  s->pages = pages;
  s->pageCapacity = static_cast<int32_t>(grown);
  return VLT_OK;
}

// Moves what the open page's record found into the page and releases the record.
void take_over(TclyDoc* doc, VltTdcDoc* tdoc) {
  TclyPage& p = doc->page;
  CcData* cc = p.cc;
  if (cc == nullptr) return;
  p.status = cc->status;
  p.memory = cc->memory;
  p.memory2 = cc->memory2;
  p.large = cc->large;
  p.largeCount = cc->largeCount;
  p.componentCount = cc->componentCount;
  p.components = cc->components;
  cc->components = nullptr;
  cc->large = nullptr;
  p.splitRow = cc->splitRow;
  VltTdcPage& t = tdoc->page;
  t.positions = cc->lossless.residuals;
  t.posCount = static_cast<uint32_t>(cc->lossless.residualCount);
  // The page keeps its positions until its block is written, maybe many pages later: the room
  // left for more is given back now. A failed shrink keeps the larger array, which serves as well.
  if (t.positions != nullptr && cc->lossless.residualCount < cc->lossless.residualCapacity) {
    const size_t kept = static_cast<size_t>(std::max(cc->lossless.residualCount, 1)) * sizeof(*t.positions);
    if (auto* shrunk = static_cast<decltype(t.positions)>(doc->state->realloc(t.positions, kept))) t.positions = shrunk;
  }
  t.llMemory = cc->lossless.memory;
  t.llMemory2 = cc->lossless.memory2;
  cc->lossless.residuals = nullptr;
  ccDataCleanup(doc->state, &p.cc);
}

VltStatus add_pictures(TclyDoc* doc) {
  TclyPage& p = doc->page;
  VltState* es = doc->state;
  IPWState* w = es->ipwState;
  if (p.pictures == nullptr || p.picturePositions == nullptr || p.pictures->count == 0) return VLT_OK;
  VltAdtListNode* pos = p.picturePositions->first;
  for (VltAdtListNode* n = p.pictures->first; n != nullptr && pos != nullptr; n = n->next, pos = pos->next) {
    const auto* pixr = static_cast<const PIXR*>(n->data);
    const auto* xy = static_cast<const int32_t*>(pos->data);
    int32_t width = 0, height = 0, bpl = 0;
    uint8_t* pixels = nullptr;
    if (VltStatus st = w_pixrGetWidth(w, pixr, &width)) return st;
    if (VltStatus st = w_pixrGetHeight(w, pixr, &height)) return st;
    if (VltStatus st = w_pixrGetBpl(w, pixr, &bpl)) return st;
    if (VltStatus st = w_pixrGetImage(w, pixr, &pixels)) return st;
    void* block = nullptr;
    if (VltStatus st = tok_pool_take(es, TOK_POOL_COMPONENT, &block)) return st;
    auto* c = static_cast<TokComponent*>(block);
    // The picture's pixels stay the picture's: the component only points at them.
    *c = TokComponent{TokBitmap{uint16_t(width), uint16_t(height), pixels, uint16_t(bpl / 4), c},
                      xy[0], xy[1] + height - 1, pixels, p.pageNumber, 0, nullptr};
    if (VltStatus st = VltAdt_liAdd(p.components, c, nullptr)) {
      tok_pool_give(es, TOK_POOL_COMPONENT, c);
      return st;
    }
    ++p.componentCount;
    if (doc->memoryLimit > 0) p.memory += height * bpl + 32;
  }
  p.runningCount += static_cast<int32_t>(p.pictures->count);
  return VLT_OK;
}

}  // namespace

void tcly_doc_pageInit(TclyPage* page) {
  if (page == nullptr) return;
  *page = TclyPage{};
  page->index = -1;
}

VltStatus tcly_doc_init(VltState* state, TclyDoc** place, uint8_t one, uint8_t pictureOption, int32_t minSize,
                        int32_t resolution, uint8_t tenthSize, TokParams* params, uint8_t optionByte,
                        int32_t memoryLimit, uint8_t) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  *place = nullptr;
  if (Vlt_getPoolSize(TOK_POOL_COMPONENT) < kComponentLeast) return Vlt_report(state, VLT_ERR_ASSERT);
  auto* doc = static_cast<TclyDoc*>(state->calloc(1, sizeof(TclyDoc)));
  if (doc == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  if (VltStatus st = VltAdt_liNew(&doc->converted, state)) {
    state->free(doc);
    return st;
  }
  doc->state = state;
  doc->params = params;
  doc->one = one;
  doc->pictureOption = pictureOption;
  doc->tenthSize = tenthSize;
  doc->minSize = minSize;
  doc->resolution = resolution;
  doc->optionByte = optionByte;
  doc->memoryLimit = memoryLimit;
  tcly_doc_pageInit(&doc->page);
  *place = doc;
  return VLT_OK;
}

VltStatus tcly_doc_startSection(TclyDoc* doc, TclySection* previous, int32_t firstPage, uint8_t word) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* es = doc->state;
  if (previous != nullptr) {
    if (VltStatus st = tcly_doc_cleanSection(doc, word)) return st;
    previous->firstPage = firstPage;
    return VLT_OK;
  }
  if (doc->tok != nullptr) return Vlt_reportErrMsg(es->errState, VLT_ERR_INTERNAL, kNeedPrevious);
  if (doc->params == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (VltStatus st = tokInit(doc->params, &doc->tok)) return st;
  auto* s = static_cast<TclySection*>(es->calloc(1, sizeof(TclySection)));
  VltStatus st = s == nullptr ? Vlt_report(es, VLT_ERR_NOMEM) : VLT_OK;
  if (st == VLT_OK) {
    s->pages = static_cast<TclyPage*>(es->calloc(TCLY_FIRST_PAGES, sizeof(TclyPage)));
    if (s->pages == nullptr) st = Vlt_report(es, VLT_ERR_NOMEM);
  }
  if (st == VLT_OK) st = VltAdt_liNew(&s->classes, es);
  if (st != VLT_OK) {
    if (s != nullptr) es->free(s->pages);
    es->free(s);
    tokFreeState(doc->tok);
    doc->tok = nullptr;
    return st;
  }
  s->pageCapacity = TCLY_FIRST_PAGES;
  s->firstPage = firstPage;
  // A section not yet ended counts as final: an only page over the limit is then an error
  // rather than a roll-back that cannot succeed.
  s->final = 1;
  doc->section = s;
  return VLT_OK;
}

VltStatus tcly_startPage(TclyDoc* doc, VltTdcDoc* tdoc, int32_t pageNumber, int32_t width, int32_t height,
                         int32_t xRes, int32_t yRes) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* es = doc->state;
  if (tdoc == nullptr || doc->section == nullptr || doc->tok == nullptr || tdoc->section == nullptr)
    return Vlt_report(es, VLT_ERR_NULL);
  if (doc->page.cc != nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
  TclyPage& p = doc->page;
  tcly_doc_pageInit(&p);
  p.pageNumber = pageNumber;
  p.splitRow = 1;
  p.width = width;
  p.height = height;
  p.xRes = xRes;
  p.yRes = yRes;
  VltTdcPage& t = tdoc->page;
  VltTdc_pageInit(&t);
  t.pageNumber = static_cast<uint32_t>(pageNumber);
  t.width = static_cast<uint32_t>(width);
  t.height = static_cast<uint32_t>(height);
  t.xRes = static_cast<uint32_t>(xRes);
  t.yRes = static_cast<uint32_t>(yRes);
  const int32_t least = doc->params != nullptr ? doc->params->minLossySize : doc->tok->minLossySize;
  if (VltStatus st = ccDataInit(es, pageNumber, doc->memoryLimit, xRes, yRes, least, least, 1, doc->tok,
                                doc->tenthSize, width, height, &p.cc))
    return st;
  CcData* cc = p.cc;
  VltTdcSection* ts = tdoc->section;
  auto* residuals = static_cast<ResidualPos*>(es->malloc(TCLY_FIRST_RESIDUALS * sizeof(ResidualPos)));
  if (residuals == nullptr) {
    VltAdt_liFree(cc->components);
    VltAdt_liFree(cc->large);
    ccDataCleanup(es, &p.cc);
    return Vlt_report(es, VLT_ERR_NOMEM);
  }
  return VltLlCCData_init(es, &cc->lossless, 0, tdoc->tokenizer, residuals, 0, TCLY_FIRST_RESIDUALS, nullptr,
                          cc->maxWidth, cc->maxHeight, ts->tokBlock, ts->posBlock,
                          static_cast<int32_t>(ts->pageCount), 0, 0);
}

VltStatus tcly_encBufferInPage(TclyDoc* doc, const uint8_t* strip, int32_t width, int32_t stripHeight,
                               int32_t bytesPerLine, int32_t frame, uint8_t lastStrip) {
  if (doc == nullptr) return VLT_ERR_NULL;
  if (doc->page.cc == nullptr) return Vlt_report(doc->state, VLT_ERR_NULL);
  return getBoxesfromBuffer(doc->state, strip, width, stripHeight, bytesPerLine, frame, lastStrip, doc->minSize,
                            doc->minSize, 1, doc->page.cc);
}

VltStatus tcly_endPage(TclyDoc* doc, VltTdcDoc* tdoc, uint8_t store, uint8_t pictures) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* es = doc->state;
  TclySection* s = doc->section;
  if (tdoc == nullptr || s == nullptr || tdoc->section == nullptr || doc->page.cc == nullptr)
    return Vlt_report(es, VLT_ERR_NULL);
  TclyPage& p = doc->page;
  VltTdcSection* ts = tdoc->section;
  take_over(doc, tdoc);
  if (doc->resolution != -1) {
    p.xRes = p.yRes = doc->resolution;
    tdoc->page.xRes = tdoc->page.yRes = static_cast<uint32_t>(doc->resolution);
  }
  if (p.components == nullptr || int64_t(p.components->count) != p.componentCount)
    return Vlt_report(es, VLT_ERR_ASSERT);
  p.runningCount += p.largeCount;
  if (pictures && doc->pictureOption != 1)
    if (VltStatus st = add_pictures(doc)) return st;
  if (store) {
    if (VltStatus st = grow_pages(es, s)) return st;
    if (VltStatus st = VltTdc_storePage(es, ts, &tdoc->page)) return st;
    p.index = s->pageCount;
    s->pages[s->pageCount++] = p;
  }
  if (doc->memoryLimit <= 0) {
    s->full = 0;
    return VLT_OK;
  }
  const int64_t used = int64_t{s->memoryUsed} + p.memory;
  const int64_t total = used + p.memory2 + ts->memory + tdoc->page.llMemory + tdoc->page.llMemory2;
  if (doc->memoryLimit <= total) {
    s->full = 1;
    if (s->pageCount == 1 && s->final == 1) return Vlt_reportErrMsg(es->errState, -1, kLimitTooSmall);
    return VLT_OK;
  }
  s->memoryUsed = static_cast<int32_t>(used);
  ts->memory += static_cast<uint32_t>(tdoc->page.llMemory);
  s->full = 0;
  return VLT_OK;
}

VltStatus tcly_doc_addMonoPage(const uint8_t* buffer, TclyDoc* doc, VltTdcDoc* tdoc, int32_t width, int32_t height,
                               int32_t bytesPerLine, int32_t xRes, int32_t yRes, int32_t pageNumber,
                               uint8_t pictures) {
  if (doc == nullptr) return VLT_ERR_NULL;
  if (VltStatus st = tcly_startPage(doc, tdoc, pageNumber, width, height, xRes, yRes)) return st;
  TclyPage& p = doc->page;
  const VltStatus st = getBoxesLossy(doc->state, buffer, width, height, bytesPerLine, doc->minSize,
                                     doc->pictureOption, doc->skew, &p.skewAngle, &p.pictures, &p.picturePositions,
                                     nullptr, p.cc, nullptr, nullptr);
  if (st != VLT_OK) {
    // What was found stays with the (unstored) page record until the document ends.
    take_over(doc, tdoc);
    doc->state->free(tdoc->page.positions);
    tdoc->page.positions = nullptr;
    return st;
  }
  return tcly_endPage(doc, tdoc, 1, pictures);
}

VltStatus tcly_doc_endSection(TclyDoc* doc, TclySection** place, uint8_t final, uint8_t) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* es = doc->state;
  if (place == nullptr || doc->section == nullptr || doc->tok == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  *place = nullptr;
  TclySection* s = doc->section;
  if (s->classes != nullptr) {
    if (VltStatus st = tokFreeOutput(doc->tok, s->classes, 1)) return st;
    s->classes = nullptr;
  }
  s->final = final;
  if (VltStatus st = final ? tokFinal(doc->tok, &s->classes) : tokPartial(doc->tok, &s->classes)) return st;
  *place = s;
  return VLT_OK;
}

VltStatus tcly_doc_endSectionRollBack(TclyDoc* doc, TclySection** place, uint8_t) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* es = doc->state;
  if (place == nullptr || doc->section == nullptr || doc->tok == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  *place = nullptr;
  TclySection* s = doc->section;
  // Checked before anything changes: a section must keep a page.
  if (s->pageCount < 2) return Vlt_report(es, VLT_ERR_ASSERT);
  if (s->classes != nullptr) {
    if (VltStatus st = tokFreeOutput(doc->tok, s->classes, 1)) return st;
    s->classes = nullptr;
  }
  if (VltStatus st = tokPartialNoMerge(doc->tok, &s->classes)) return st;
  const int32_t last = s->pages[s->pageCount - 1].pageNumber;
  for (VltAdtListNode* n = s->classes->first; n != nullptr;) {
    auto* r = static_cast<TokOutput*>(n->data);
    if (r == nullptr || r->members == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
    for (VltAdtListNode* m = r->members->first; m != nullptr;) {
      auto* pos = static_cast<TokMemberPos*>(m->data);
      const auto* c = pos != nullptr ? static_cast<const TokComponent*>(pos->owner) : nullptr;
      if (c == nullptr || c->pageNumber != last) {
        m = m->next;
        continue;
      }
      es->free(pos);
      VltAdt_liRemAndNext(m, &m);
    }
    if (r->members->first != nullptr) {
      n = n->next;
      continue;
    }
    if (VltStatus st = tokFreeClass(doc->tok, r)) return st;
    VltAdt_liRemAndNext(n, &n);
  }
  s->final = 1;
  s->memoryUsed = 0;
  tcly_doc_freePage(&s->pages[s->pageCount - 1], 1, es);
  --s->pageCount;
  doc->page = s->pages[s->pageCount - 1];
  *place = s;
  return VLT_OK;
}

VltStatus tcly_doc_cleanSection(TclyDoc* doc, uint8_t) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* es = doc->state;
  TclySection* s = doc->section;
  if (s == nullptr || doc->tok == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (!s->final) {
    if (s->classes != nullptr) {
      if (VltStatus st = resume_kept(doc, s->classes)) return st;
      s->classes = nullptr;
    }
  } else {
    if (s->full && s->classes != nullptr) {
      if (VltStatus st = resume_kept(doc, s->classes)) return st;
      s->classes = nullptr;
      if (VltStatus st = tokFinal(doc->tok, &s->classes)) return st;
    }
    if (s->classes != nullptr) {
      if (VltStatus st = tokFreeOutput(doc->tok, s->classes, 1)) return st;
      s->classes = nullptr;
    }
    tokFreeState(doc->tok);
    doc->tok = nullptr;
    if (VltStatus st = tokInit(doc->params, &doc->tok)) return st;
    free_converted(doc);
    s->memoryUsed = 0;
  }
  for (int32_t i = 0; i < s->pageCount; ++i) tcly_doc_freePage(&s->pages[i], 0, es);
  s->pageCount = 0;
  s->full = 0;
  return VltAdt_liNew(&s->classes, es);
}

void tcly_doc_freePage(TclyPage* page, uint8_t freeLargeBits, VltState* es) {
  if (page == nullptr || es == nullptr) return;
  std::unordered_set<const TokComponent*> keptBits;
  if (page->large != nullptr) {
    for (VltAdtListNode* n = page->large->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokComponent*>(n->data);
      if (freeLargeBits && c->bitmap.bits != nullptr) {
        es->free(c->bitmap.bits);
        c->bitmap.bits = nullptr;
      } else {
        if (c->bitmap.bits != nullptr) keptBits.insert(c);
        es->free(c->runs);
        c->runs = nullptr;
      }
    }
    free_list(&page->large);
  }
  if (page->components != nullptr) {
    // Lossy components' bits are the classifier's by now unless it copied them, and a placed
    // component's (its owner word no longer itself) are its class's; a picture's are the
    // picture's; large bits kept above are their writer's.
    // Straightened instances of one class share a record; it goes once, after its last user.
    std::unordered_set<DeskewSharedBitmap*> shared;
    for (VltAdtListNode* n = page->components->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokComponent*>(n->data);
      if (c->sharedBitmap == nullptr && c->bitmap.owner == c && keptBits.count(c) == 0) es->free(c->bitmap.bits);
      if (c->sharedBitmap != nullptr) shared.insert(static_cast<DeskewSharedBitmap*>(c->sharedBitmap));
      es->free(c->runs);
      tok_pool_give(es, TOK_POOL_COMPONENT, c);
    }
    for (DeskewSharedBitmap* r : shared) tok_freeSharedBitmap(es, r);
    free_list(&page->components);
  }
  if (page->runStored != nullptr) {
    for (VltAdtListNode* n = page->runStored->first; n != nullptr; n = n->next)
      tok_freeComponent(es, static_cast<TokComponent*>(n->data), TOK_POOL_COMPONENT);
    free_list(&page->runStored);
  }
  if (page->pictures != nullptr) {
    for (VltAdtListNode* n = page->pictures->first; n != nullptr; n = n->next) {
      auto* pixr = static_cast<PIXR*>(n->data);
      w_destroyPixr(es->ipwState, &pixr);
    }
    free_list(&page->pictures);
  }
  if (page->picturePositions != nullptr) {
    for (VltAdtListNode* n = page->picturePositions->first; n != nullptr; n = n->next) es->free(n->data);
    free_list(&page->picturePositions);
  }
  page->componentCount = 0;
  page->largeCount = 0;
}

VltStatus tcly_doc_end(TclyDoc* doc) {
  if (doc == nullptr) return VLT_OK;
  VltState* es = doc->state;
  free_converted(doc);
  free_list(&doc->converted);
  if (TclySection* s = doc->section) {
    for (int32_t i = 0; i < s->pageCount; ++i) tcly_doc_freePage(&s->pages[i], 1, es);
    es->free(s->pages);
    if (s->classes != nullptr) {
      if (doc->tok != nullptr)
        tokFreeOutput(doc->tok, s->classes, 1);
      else
        VltAdt_liFree(s->classes);
    }
    es->free(s);
  }
  // A page that was never stored is the document's alone.
  if (doc->page.index == -1) {
    if (doc->page.cc != nullptr) {
      free_list(&doc->page.cc->components);
      free_list(&doc->page.cc->large);
      es->free(doc->page.cc->lossless.residuals);
      ccDataCleanup(es, &doc->page.cc);
    }
    tcly_doc_freePage(&doc->page, 1, es);
  }
  if (doc->tok != nullptr) tokFreeState(doc->tok);
  deskewCleanup(doc->skew);
  es->free(doc);
  return VLT_OK;
}

VltStatus tcly_doc_keepRecords(TclyDoc* doc, VltTokenRecord* records, uint32_t count) {
  if (doc == nullptr || doc->converted == nullptr) return VLT_ERR_NULL;
  if (VltStatus st = VltAdt_liAdd(doc->converted, records, nullptr)) return st;
  if (VltStatus st = VltAdt_liAdd(doc->converted, reinterpret_cast<void*>(uintptr_t{count}), nullptr)) {
    VltAdt_liRem(doc->converted->last);
    return st;
  }
  return VLT_OK;
}

VltStatus convertCC(TokComponent** place, VltImage** image, int32_t* x, int32_t* y, VltState* es) {
  if (place == nullptr || *place == nullptr || image == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
  TokComponent* c = *place;
  if (x != nullptr) *x = c->x;
  if (y != nullptr) *y = c->y;
  *image = nullptr;
  VltImage* img = nullptr;
  if (VltStatus st = VltImage_new(es, VLT_IMAGE_PACKED, c->bitmap.width, c->bitmap.height, &img)) return st;
  int32_t row = -1, prevLast = -100;
  for (int32_t i = 0; i < c->runCount; ++i) {
    const int32_t first = c->runs[2 * i], last = c->runs[2 * i + 1];
    if (i == 0 || first <= prevLast + 1) ++row;
    prevLast = last;
    if (row >= c->bitmap.height || last >= c->bitmap.width || first > last) {
      VltImage_free(img);
      return Vlt_report(es, VLT_ERR_ASSERT);
    }
    for (int32_t u = first; u <= last; ++u) mono::set_bit(img->rows[row], size_t(u), 1);
  }
  tok_freeComponent(es, c, TOK_POOL_COMPONENT);
  *place = nullptr;
  *image = img;
  return VLT_OK;
}

VltAdtList* tcly_doc_retrieveBoxList(TclyDoc* doc) { return doc != nullptr ? doc->page.components : nullptr; }
int32_t tcly_doc_retrieveBoxCount(TclyDoc* doc) { return doc != nullptr ? doc->page.componentCount : 0; }
VltAdtList* tcly_doc_retrieveClassList(TclySection* section) {
  return section != nullptr ? section->classes : nullptr;
}
VltStatus tcly_doc_tokAddBitmap(TclyDoc* doc, TokBitmap* bitmap) {
  if (doc == nullptr || doc->tok == nullptr) return VLT_ERR_NULL;
  return tokAddBitmap(doc->tok, bitmap);
}
