// Section straightening through the engine handle.

#include "vlt_api_deskew.h"

#include <algorithm>

#include "tok_deskew.h"
#include "vlt_api_handle.h"

namespace {

TclyPage* page_of(TclySection* s, const TokOutput* cls) {
  const auto* member = static_cast<const TokMemberPos*>(cls->members->first->data);
  const auto* c = member != nullptr ? static_cast<const TokComponent*>(member->owner) : nullptr;
  if (c == nullptr) return nullptr;
  const int64_t i = int64_t{c->pageNumber} - s->firstPage;
  return i >= 0 && i < s->pageCount ? &s->pages[i] : nullptr;
}

// Before the records are made: the pages learn how many residual symbols straightening adds. A
// class written by an earlier section with one instance here is not a residual of its page yet,
// so straightening it adds one like a class of several instances.
VltStatus count_section(VltApiHandle* h) {
  TclySection* s = h->lossyDoc->section;
  DeskewContext* ctx = h->lossyDoc->skew;
  if (const VltStatus st = countTokensToBeDeskewed(ctx, s); st != VLT_OK) return st;
  for (VltAdtListNode* n = s->classes->first; n != nullptr; n = n->next) {
    const auto* cls = static_cast<const TokOutput*>(n->data);
    if (cls->dictRef == nullptr || cls->members->count != 1) continue;
    TclyPage* page = page_of(s, cls);
    if (page == nullptr) return VLT_ERR_ASSERT;
    const int32_t length = tok_straighteningLength(page->skewAngle);
    if (length != 0 && (cls->exemplar.width > length || cls->exemplar.height > length)) ++page->deskewCount;
  }
  return VLT_OK;
}

// A lone instance's own straightened bitmap goes into a record of one use, so that the page
// releases every straightened bitmap the same way. Without memory the bitmaps not yet held by a
// record go at once.
VltStatus hold_own(VltState* es, VltAdtList* own) {
  VltStatus st = VLT_OK;
  for (VltAdtListNode* n = own->first; n != nullptr; n = n->next) {
    auto* c = static_cast<TokComponent*>(n->data);
    auto* record = st == VLT_OK ? static_cast<DeskewSharedBitmap*>(es->calloc(1, sizeof(DeskewSharedBitmap)))
                                : nullptr;
    if (record == nullptr) {
      if (st == VLT_OK) st = Vlt_report(es, VLT_ERR_NOMEM);
      es->free(c->bitmap.bits);
      c->bitmap.bits = nullptr;
      continue;
    }
    *record = DeskewSharedBitmap{c->bitmap.bits, nullptr, 1, c->bitmap.width, c->bitmap.height,
                                 c->bitmap.wordsPerLine, 0};
    c->sharedBitmap = record;
  }
  return st;
}

// The small components kept exactly sit on the same skewed lines as the tokens: their positions
// turn with the page, kept inside it.
VltStatus turn_residuals(const TclyPage& page, VltTdcPage& tokens) {
  if (page.skewAngle == 0.0f) return VLT_OK;
  for (uint32_t i = 0; i < tokens.posCount; ++i) {
    VltPosRecord& r = tokens.positions[i];
    if (r.token == nullptr) return VLT_ERR_ASSERT;
    const int32_t w = r.token->width, h = r.token->height;
    int32_t x = r.x, bottom = r.bottom;
    tok_turnPosition(&page, w, h, &x, &bottom);
    r.x = static_cast<int16_t>(std::clamp(x, 0, std::max(page.width - w, 0)));
    r.bottom = static_cast<int16_t>(std::clamp(bottom, std::min(h - 1, page.height - 1), page.height - 1));
  }
  return VLT_OK;
}

// Once the instances hold their class bitmaps (y the bottom row): tokens, run-stored components,
// then positions, page by page.
VltStatus apply_section(VltApiHandle* h) {
  VltState* es = h->state;
  TclySection* s = h->lossyDoc->section;
  DeskewContext* ctx = h->lossyDoc->skew;
  VltAdtList* own = nullptr;
  if (const VltStatus st = VltAdt_liNew(&own, es); st != VLT_OK) return st;
  VltStatus st = deskewTokens(ctx, own, s);
  if (const VltStatus held = hold_own(es, own); st == VLT_OK) st = held;
  VltAdt_liFree(own);
  VltTdcSection* ts = h->tokenDoc->section;
  if (st == VLT_OK && (ts == nullptr || ts->pageCount != static_cast<uint32_t>(s->pageCount))) st = VLT_ERR_ASSERT;
  for (int32_t p = 0; st == VLT_OK && p < s->pageCount; ++p) {
    st = deskewOutliers(ctx, &s->pages[p]);
    if (st == VLT_OK) st = deskewPositions(ctx, &s->pages[p]);
    if (st == VLT_OK) st = turn_residuals(s->pages[p], ts->pages[p]);
  }
  return st;
}

}  // namespace

VltStatus VltApi_setDeskew(VltApiHandle* h, int32_t level, int32_t orientation) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (h->sectionOpen || h->lossyDoc->skew != nullptr) return Vlt_report(h->state, VLT_ERR_PARAM);
  if (const VltStatus st = deskewInit(&h->lossyDoc->skew, level, orientation, h->state); st != VLT_OK) return st;
  h->deskewCount = count_section;
  h->deskewApply = apply_section;
  return VLT_OK;
}
