// Page components: finding them (whole pages split in two, or strip by strip) and routing each
// to the large list, the lossy classifier or the lossless tokenizer.

#include "tok_pagecc.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "ip_count.h"
#include "pixr_ops.h"
#include "tok_bufcc.h"
#include "tok_classifier.h"
#include "tok_insert.h"

namespace {

constexpr int32_t kFrame = 32;
// The lossless document's first residual array.
constexpr int32_t kResidualStart = 5000;
// Large components are painted when their bitmap is smaller than this many words per run.
constexpr int64_t kWordsPerRun = 4;
// Bytes charged per bitmap beside its rows.
constexpr int64_t kBitmapCharge = 32;

int32_t words_for(int32_t width) { return (width + 31) / 32; }

void charge(int32_t* figure, int64_t bytes) {
  *figure = static_cast<int32_t>(std::min<int64_t>(int64_t{*figure} + bytes, INT32_MAX));
}
int64_t bitmap_bytes(int32_t width, int32_t height) { return int64_t{height} * words_for(width) * 4 + kBitmapCharge; }

bool pool_holds(uint32_t pool, size_t size) { return Vlt_getPoolSize(pool) >= static_cast<int32_t>(size); }

bool page_fits(int32_t width, int32_t height) {
  return width >= 0 && height >= 0 && width <= TOK_MAX_PAGE_SIDE && height <= TOK_MAX_PAGE_SIDE;
}

// A component record from the pool, without bits or runs.
VltStatus new_component(VltState* es, uint32_t pool, int32_t x, int32_t y, int32_t w, int32_t h,
                        int32_t pageNumber, TokComponent** out) {
  void* block = nullptr;
  if (VltStatus st = es->smallAlloc(es->smallContext, pool, &block)) return st;
  auto* c = static_cast<TokComponent*>(block);
  *c = TokComponent{TokBitmap{uint16_t(w), uint16_t(h), nullptr, uint16_t(words_for(w)), c}, x, y, nullptr,
                    pageNumber, 0, nullptr};
  *out = c;
  return VLT_OK;
}

// The finder's runs as pairs (first - x, last - x) or (first - x, length), in page order: the
// finder lists them bottom row first and right to left, exactly the reverse.
template <bool Length>
VltStatus page_order_runs(VltState* es, const CCRun* runs, int32_t n, int32_t x, uint16_t** out) {
  auto* a = static_cast<uint16_t*>(es->malloc(size_t(n) * 2 * sizeof(uint16_t)));
  if (a == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  int32_t i = n;
  for (const CCRun* r = runs; r != nullptr && i > 0; r = r->next) {
    --i;
    a[2 * i] = static_cast<uint16_t>(r->start - x);
    a[2 * i + 1] = static_cast<uint16_t>(Length ? r->end - r->start + 1 : r->end - x);
  }
  *out = a;
  return i == 0 ? VLT_OK : VLT_ERR_ASSERT;
}

VltStatus grow_residuals(VltLlCCData* ll, int32_t capacity) {
  size_t bytes = 0;
  if (capacity < 0 || !mono::checked_mul(size_t(capacity), sizeof(ResidualPos), &bytes))
    return Vlt_report(ll->engine, VLT_ERR_NOMEM);
  auto* a = static_cast<ResidualPos*>(ll->engine->realloc(ll->residuals, bytes));
  if (a == nullptr) return Vlt_report(ll->engine, VLT_ERR_NOMEM);
  ll->residuals = a;
  ll->residualCapacity = capacity;
  return VLT_OK;
}

void drop_residuals(VltLlCCData* ll) {
  ll->engine->free(ll->residuals);
  ll->residuals = nullptr;
  ll->residualCount = 0;
  ll->residualCapacity = 0;
}

// Makes room for `needed` residual positions, or frees the array when none are needed.
VltStatus size_residuals(VltLlCCData* ll, int64_t needed) {
  if (needed == 0) {
    drop_residuals(ll);
    return VLT_OK;
  }
  if (needed > INT32_MAX) return Vlt_report(ll->engine, VLT_ERR_NOMEM);
  return needed > ll->residualCapacity ? grow_residuals(ll, static_cast<int32_t>(needed)) : VLT_OK;
}

// One small component to the tokenizer, with its residual position (rows shifted by yShift).
VltStatus add_lossless(VltLlCCData* ll, int32_t X, int32_t Y, int32_t w, int32_t h, int32_t n, const CCRun* runs,
                       int32_t yShift, bool chargeTokens) {
  VltState* es = ll->engine;
  if (ll->tokBlock == nullptr || ll->posBlock == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (ll->residualCount >= ll->residualCapacity) {
    const uint32_t grown = vlt_growByHalf(static_cast<uint32_t>(std::max(ll->residualCapacity, 0)));
    if (VltStatus st = grow_residuals(ll, static_cast<int32_t>(std::min<uint32_t>(grown, INT32_MAX)))) return st;
  }
  if (VltStatus st = VltCC_reservePos(es, ll->posBlock)) return st;
  VltLlTokKey key{nullptr, n, int16_t(w), int16_t(h), ll->posBlock->count};
  if (VltStatus st = page_order_runs<true>(es, runs, n, X, &key.runs)) {
    es->free(key.runs);
    return st;
  }
  ResidualPos& r = ll->residuals[ll->residualCount];
  r = ResidualPos{nullptr, 0, int16_t(X - kFrame), int16_t(Y + h - 1 - kFrame + yShift)};
  ll->posBlock->entries[ll->posBlock->count] =
      VltPosEntry{static_cast<uint32_t>(ll->residualCount), static_cast<uint32_t>(ll->pageIndex)};
  const uint32_t tokens = ll->tokBlock->count;
  const VltStatus st = VltCC_tokenAddCC(es, ll->tokenizer, ll->tokBlock, &key, &r.token);
  // Whatever the tokenizer did not take (a failure, copy mode) is still ours.
  es->free(key.runs);
  if (st != VLT_OK) return st;
  if (chargeTokens && ll->tokBlock->count > tokens) charge(&ll->memory, bitmap_bytes(w, h));
  ++ll->posBlock->count;
  ++ll->residualCount;
  ++ll->componentCount;
  return VLT_OK;
}

// Appends a component to the list; on failure the component is freed.
VltStatus add_to(VltState* es, VltAdtList* list, TokComponent* c, uint32_t pool) {
  if (VltStatus st = VltAdt_liAdd(list, c, nullptr)) {
    tok_freeComponent(es, c, pool);
    return st;
  }
  return VLT_OK;
}

VltStatus route(CcData* cc, int32_t X, int32_t Y, int32_t w, int32_t h, int32_t n, const CCRun* runs) {
  VltState* es = cc->engine;
  const int32_t shift = cc->lowerPart ? cc->splitRow : 0;
  const bool large = w > cc->maxWidth || h > cc->maxHeight;
  if (!large && w < cc->widthThreshold && h < cc->heightThreshold)
    return add_lossless(&cc->lossless, X, Y, w, h, n, runs, shift, cc->memoryLimit > 0);

  TokComponent* c = nullptr;
  if (VltStatus st = new_component(es, TOK_POOL_COMPONENT, X - kFrame, Y - kFrame + shift, w, h, cc->pageNumber, &c))
    return st;
  const auto fail = [&](VltStatus st) {
    tok_freeComponent(es, c, TOK_POOL_COMPONENT);
    return st;
  };
  if (large) {
    // Thin, ragged shapes are cheaper as a bitmap; blocky ones as runs.
    if (int64_t{c->bitmap.wordsPerLine} * h < kWordsPerRun * n) {
      if (VltStatus st = RunsToBitmap(c, runs, X, es)) return fail(st);
      c->y += h - 1;
    } else {
      if (VltStatus st = page_order_runs<false>(es, runs, n, X, &c->runs)) return fail(st);
      c->runCount = n;
    }
    VltAdtListNode* node = nullptr;
    if (VltStatus st = VltAdt_liAdd(cc->large, c, &node)) return fail(st);
    if (VltStatus st = VltAdt_liAdd(cc->components, c, nullptr)) {
      VltAdt_liRem(node);
      return fail(st);
    }
    if (cc->memoryLimit > 0) charge(&cc->memory, bitmap_bytes(w, h));
    ++cc->largeCount;
    ++cc->componentCount;
    return VLT_OK;
  }

  if (VltStatus st = RunsToBitmap(c, runs, X, es)) return fail(st);
  if (VltStatus st = add_to(es, cc->components, c, TOK_POOL_COMPONENT)) return st;
  ++cc->componentCount;
  uint32_t before = 0, after = 0;
  if (cc->memoryLimit > 0) tokGetCount(cc->tok, &before);
  // The record is on the page's list from here on: the classifier may keep it as a member's
  // owner even when it fails, so it lives as long as the page.
  if (VltStatus st = tokAddBitmap(cc->tok, &c->bitmap)) {
    es->free(c->bitmap.bits);
    c->bitmap.bits = nullptr;
    return st;
  }
  if (cc->memoryLimit > 0 && tokGetCount(cc->tok, &after) == VLT_OK && after > before)
    charge(&cc->memory, bitmap_bytes(w, h));
  return VLT_OK;
}

// The lossless document's callback: large components kept as runs, the rest to the tokenizer.
int lossless_callback(IPState*, void* data, int32_t X, int32_t Y, int32_t w, int32_t h, int32_t, int32_t n,
                      CCRun* runs) {
  auto* ll = static_cast<VltLlCCData*>(data);
  if (w <= ll->maxWidth && h <= ll->maxHeight) return add_lossless(ll, X, Y, w, h, n, runs, 0, false);
  VltState* es = ll->engine;
  TokComponent* c = nullptr;
  if (VltStatus st = new_component(es, TOK_POOL_LOSSLESS_CC, X - kFrame, Y - kFrame, w, h, 0, &c)) return st;
  if (VltStatus st = page_order_runs<false>(es, runs, n, X, &c->runs)) {
    tok_freeComponent(es, c, TOK_POOL_LOSSLESS_CC);
    return st;
  }
  c->runCount = n;
  return add_to(es, ll->large, c, TOK_POOL_LOSSLESS_CC);
}

void free_large_list(VltState* es, VltAdtList* list) {
  if (list == nullptr) return;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next)
    tok_freeComponent(es, static_cast<TokComponent*>(n->data), TOK_POOL_LOSSLESS_CC);
  VltAdt_liFree(list);
}

VltStatus check_pools(VltState* es) {
  if (!pool_holds(TOK_POOL_LOSSLESS_CC, sizeof(TokComponent)) || !pool_holds(TOK_POOL_COMPONENT, sizeof(TokComponent)))
    return Vlt_report(es, VLT_ERR_ASSERT);
  return VLT_OK;
}

// Black pixels of columns 0 .. width - 1 of an image row.
int32_t row_pixels(IPState* ip, const uint8_t* row, int32_t width) {
  if (width <= 0) return 0;
  uint32_t n = 0;
  ip_countBitsLine(ip, row, uint32_t(width + 31) / 32, ~0u, mono::left_mask32(uint32_t(width - 1) % 32 + 1), &n);
  return static_cast<int32_t>(n);
}

// User CPU time so far.
VltStatus user_time(VltState* es, int64_t* micros) {
  rusage u{};
  if (getrusage(RUSAGE_SELF, &u) != 0) {
    const int e = errno;
    return Vlt_reportErrMsg(es != nullptr ? es->errState : nullptr, VLT_ERRNO_BASE + e, "getrusage failed (errno %d)", e);
  }
  *micros = int64_t{u.ru_utime.tv_sec} * 1000000 + u.ru_utime.tv_usec;
  return VLT_OK;
}

// Scans one view of the page for its components.
VltStatus scan_view(IPWState* w, const PIXR* view, int32_t width, int32_t minSize, CcData* cc, CCCallback callback) {
  if (view == nullptr || width == 0) return VLT_OK;
  uint8_t* all = nullptr;
  int32_t bpl = 0, height = 0;
  if (VltStatus st = w_pixrGetImageAll(w, view, &all)) return st;
  if (VltStatus st = w_pixrGetBpl(w, view, &bpl)) return st;
  if (VltStatus st = w_pixrGetHeight(w, view, &height)) return st;
  int result = 0;
  const VltStatus st = i_findConnectedComponentRuns(w, all, static_cast<uint32_t>(bpl), kFrame, kFrame, width, height,
                                                    minSize, minSize, 1, cc, callback, &result);
  // The callback's own status tells more than the finder's "callback failed".
  return st == VLT_ERR_CALLBACK && result != 0 ? result : st;
}

}  // namespace

void tok_freeComponent(VltState* engine, TokComponent* c, uint32_t pool) {
  if (c == nullptr) return;
  engine->free(c->bitmap.bits);
  engine->free(c->runs);
  engine->smallFree(engine->smallContext, pool, c);
}

VltStatus ccDataInit(VltState* engine, int32_t pageNumber, int32_t memoryLimit, int32_t xRes, int32_t yRes,
                     int32_t widthThreshold, int32_t heightThreshold, int32_t splitRow, TokState* tok,
                     uint8_t tenthSize, int32_t pageWidth, int32_t pageHeight, CcData** place) {
  if (engine == nullptr || place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  *place = nullptr;
  if (!page_fits(pageWidth, pageHeight)) return Vlt_report(engine, VLT_ERR_PARAM);
  IPState* ip = engine->ipwState;
  if (ip == nullptr) return Vlt_report(engine, VLT_ERR_NULL_IPWSTATE);
  auto* cc = static_cast<CcData*>(engine->calloc(1, sizeof(CcData)));
  if (cc == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  cc->pageNumber = pageNumber;
  cc->xRes = xRes;
  cc->yRes = yRes;
  cc->maxWidth = tenthSize ? pageWidth / 10 : pageWidth;
  cc->maxHeight = tenthSize ? pageHeight / 10 : pageHeight;
  // A component the classifier cannot take is coded as a large one instead.
  cc->maxWidth = std::min<int32_t>(cc->maxWidth, TOK_MAX_BITMAP_SIDE);
  cc->maxHeight = std::min<int32_t>(cc->maxHeight, TOK_MAX_BITMAP_SIDE);
  cc->widthThreshold = widthThreshold;
  cc->heightThreshold = heightThreshold;
  cc->memoryLimit = memoryLimit;
  cc->engine = engine;
  cc->tok = tok;
  cc->splitRow = splitRow;
  cc->pageWidth = pageWidth;
  cc->pageHeight = pageHeight;
  cc->lossless.engine = engine;

  size_t ccSize = 0, heapSize = 0;
  VltStatus st = VltAdt_liNew(&cc->components, engine);
  if (st == VLT_OK) st = VltAdt_liNew(&cc->large, engine);
  if (st == VLT_OK) st = i_getCCStateSize(ip, &ccSize);
  if (st == VLT_OK) st = i_getHeapManagerSize(ip, &heapSize);
  if (st == VLT_OK) {
    cc->cc = static_cast<CCState*>(engine->calloc(1, ccSize));
    cc->heap = static_cast<HeapManager*>(engine->calloc(1, heapSize));
    if (cc->cc == nullptr || cc->heap == nullptr) st = Vlt_report(engine, VLT_ERR_NOMEM);
  }
  if (st == VLT_OK) st = i_initializeHeapManager(ip, cc->heap);
  if (st == VLT_OK) st = i_initializeCCState(ip, cc->cc, cc->heap);
  if (st != VLT_OK) {
    if (cc->heap != nullptr) i_destroyHeapManager(ip, cc->heap);
    if (cc->components != nullptr) VltAdt_liFree(cc->components);
    if (cc->large != nullptr) VltAdt_liFree(cc->large);
    engine->free(cc->cc);
    engine->free(cc->heap);
    engine->free(cc);
    return st;
  }
  *place = cc;
  return VLT_OK;
}

void ccDataCleanup(VltState* engine, CcData** place) {
  if (engine == nullptr || place == nullptr || *place == nullptr) return;
  CcData* cc = *place;
  IPState* ip = engine->ipwState;
  i_destroyCCState(ip, cc->cc);
  i_destroyHeapManager(ip, cc->heap);
  engine->free(cc->cc);
  engine->free(cc->heap);
  engine->free(cc);
  *place = nullptr;
}

VltStatus RunsToBitmap(TokComponent* c, const CCRun* runs, int32_t x, VltState* engine) {
  const int32_t w = c->bitmap.width, h = c->bitmap.height, wpl = c->bitmap.wordsPerLine;
  const bool made = c->bitmap.bits == nullptr;
  if (made) {
    c->bitmap.bits = static_cast<uint8_t*>(engine->calloc(size_t(wpl) * size_t(h) + 1, 4));
    if (c->bitmap.bits == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  }
  int32_t row = h - 1;
  for (const CCRun* r = runs, *prev = nullptr; r != nullptr; prev = r, r = r->next) {
    // A run that is not left of the previous one (with a gap) lies on the row above.
    if (prev != nullptr && r->end + 1 >= prev->start) --row;
    const int32_t s = r->start - x, e = r->end - x;
    if (row < 0 || s < 0 || e < s || e >= w) {
      if (made) {
        engine->free(c->bitmap.bits);
        c->bitmap.bits = nullptr;
      }
      return VLT_ERR_ASSERT;
    }
    tok_paintRun(tok_row(c->bitmap.bits, uint32_t(wpl), uint32_t(row)), s, e);
  }
  return VLT_OK;
}

int MakeModelsFromRuns(IPState*, void* data, int32_t x, int32_t y, int32_t width, int32_t height, int32_t,
                       int32_t runCount, CCRun* runs) {
  return route(static_cast<CcData*>(data), x, y, width, height, runCount, runs);
}

int MakeModelsFromRunsWithoutTellingTokenizer(IPState*, void* data, int32_t x, int32_t y, int32_t width,
                                              int32_t height, int32_t, int32_t, CCRun* runs) {
  auto* cc = static_cast<CcData*>(data);
  VltState* es = cc->engine;
  TokComponent* c = nullptr;
  const int32_t top = y - kFrame + (cc->lowerPart ? cc->splitRow : 0);
  if (VltStatus st = new_component(es, TOK_POOL_COMPONENT, x - kFrame, top, width, height, cc->pageNumber, &c))
    return st;
  if (VltStatus st = RunsToBitmap(c, runs, x, es)) {
    tok_freeComponent(es, c, TOK_POOL_COMPONENT);
    return st;
  }
  if (VltStatus st = add_to(es, cc->components, c, TOK_POOL_COMPONENT)) return st;
  ++cc->componentCount;
  return VLT_OK;
}

VltStatus getSectionHeight(VltState* engine, const PIXR* page, int32_t, int32_t* splitRow) {
  if (engine == nullptr || page == nullptr || splitRow == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  IPWState* w = engine->ipwState;
  int32_t H = 0, W = 0, rw = 0, rh = 0;
  if (VltStatus st = w_pixrGetHeight(w, page, &H)) return st;
  if (VltStatus st = w_pixrGetWidth(w, page, &W)) return st;
  PIXR* reduced = nullptr;
  if (VltStatus st = w_reduce(w, page, 1, 1, 1, 0, &reduced)) return st;
  w_pixrGetWidth(w, reduced, &rw);
  w_pixrGetHeight(w, reduced, &rh);
  auto* counts = static_cast<int32_t*>(engine->malloc(sizeof(int32_t) * size_t(std::max(rh, 1))));
  if (counts == nullptr) {
    w_destroyPixr(w, &reduced);
    return Vlt_report(engine, VLT_ERR_NOMEM);
  }
  VltStatus st = VLT_OK;
  for (int32_t r = 0; r < rh && st == VLT_OK; ++r) {
    uint8_t* line = nullptr;
    st = w_pixrGetLine(w, reduced, r, &line);
    if (st == VLT_OK) counts[r] = row_pixels(w, line, rw);
  }
  w_destroyPixr(w, &reduced);
  if (st != VLT_OK) {
    engine->free(counts);
    return st;
  }

  int32_t split = 1;
  const int32_t solid = rw * 9 / 10;
  if (rh > 0 && !(counts[0] >= solid && counts[rh - 1] >= solid)) {
    // Outward from the middle, alternating sides; the first of equal counts wins.
    const int32_t m = rh / 2;
    int32_t best = m;
    for (int32_t k = 0; k <= m; ++k)
      for (const int32_t r : {m - k, rh - 1 - m + k})
        if (counts[r] < counts[best]) best = r;
    // The emptiest full-resolution row of the eight behind the reduced row, inside the page.
    const int32_t base = best * 8;
    int32_t fewest = INT32_MAX;
    for (int32_t i = 0; i < 8 && base + i < H && st == VLT_OK; ++i) {
      uint8_t* line = nullptr;
      st = w_pixrGetLine(w, page, base + i, &line);
      if (st != VLT_OK) break;
      const int32_t n = row_pixels(w, line, W);
      if (n < fewest) {
        fewest = n;
        split = base + i;
      }
    }
  }
  engine->free(counts);
  if (st != VLT_OK) return st;
  // Neither part may be empty.
  *splitRow = std::clamp(split, 1, std::max(H - 1, 1));
  return VLT_OK;
}

VltStatus getBoxesLossy(VltState* engine, const uint8_t* buffer, int32_t width, int32_t height, int32_t bytesPerLine,
                        int32_t minSize, uint8_t pictureOption, DeskewContext* skew, float* skewAngle,
                        VltAdtList** pictures, VltAdtList** picturePositions, CCCallback callback, CcData* cc,
                        int64_t* cpuSeconds, int64_t* cpuMicroseconds) {
  if (engine == nullptr) return VLT_ERR_NULL;
  if (pictures == nullptr || picturePositions == nullptr || buffer == nullptr || cc == nullptr || cc->cc == nullptr)
    return Vlt_report(engine, VLT_ERR_NULL);
  if (callback == nullptr) callback = MakeModelsFromRuns;
  if (VltStatus st = check_pools(engine)) return st;
  if (!page_fits(width, height) || bytesPerLine < 0) return Vlt_report(engine, VLT_ERR_PARAM);
  IPWState* w = engine->ipwState;
  if (w == nullptr) return Vlt_report(engine, VLT_ERR_NULL_IPWSTATE);
  const int64_t xRes = int64_t{cc->xRes} << 16, yRes = int64_t{cc->yRes} << 16;
  if (xRes < 0 || yRes < 0 || xRes > INT32_MAX || yRes > INT32_MAX) return Vlt_report(engine, VLT_ERR_PARAM);

  PIXR* page = nullptr;
  PIXR* upper = nullptr;
  PIXR* lower = nullptr;
  VltAdtList* pics = nullptr;
  VltAdtList* positions = nullptr;
  const auto fail = [&](VltStatus st) {
    w_destroyPixr(w, &upper);
    w_destroyPixr(w, &lower);
    w_destroyPixr(w, &page);
    if (pics != nullptr) VltAdt_liFree(pics);
    if (positions != nullptr) VltAdt_liFree(positions);
    drop_residuals(&cc->lossless);
    return st;
  };

  if (VltStatus st = w_createPixr(w, width, height, 1, int32_t(xRes), int32_t(yRes), kFrame, &page)) return fail(st);
  int32_t bpl = 0;
  uint8_t* all = nullptr;
  if (VltStatus st = w_pixrGetBpl(w, page, &bpl)) return fail(st);
  if (VltStatus st = w_pixrGetImageAll(w, page, &all)) return fail(st);
  if (bpl != bytesPerLine) return fail(Vlt_report(engine, VLT_ERR_ASSERT));
  std::memcpy(all, buffer, size_t(height + 2 * kFrame) * size_t(bytesPerLine));

  if (VltStatus st = VltAdt_liNew(&pics, engine)) return fail(st);
  if (VltStatus st = VltAdt_liNew(&positions, engine)) return fail(st);
  if (skew != nullptr)
    if (VltStatus st = getSkewAngle(skew, page, skewAngle)) return fail(st);

  int32_t split = 1;
  if (height >= TOK_SPLIT_MIN_HEIGHT && skew == nullptr)
    if (VltStatus st = getSectionHeight(engine, page, width, &split)) return fail(st);
  cc->splitRow = split;
  // Split row 1 means the page is not split: one view of the whole page, so that no component
  // touching the top row is cut there (the strip-wise entry never cuts one either).
  const int32_t upperRows = split <= 1 ? height : std::min(split, height);
  if (VltStatus st = w_rowsOf(w, page, 0, upperRows, &upper)) return fail(st);
  if (height > upperRows)
    if (VltStatus st = w_rowsOf(w, page, upperRows, height - upperRows, &lower)) return fail(st);
  w_destroyPixr(w, &page);

  int64_t started = 0, ended = 0;
  const bool timed = cpuSeconds != nullptr && cpuMicroseconds != nullptr;
  if (timed)
    if (VltStatus st = user_time(engine, &started)) return fail(st);
  const int32_t least = std::max(minSize, 1);
  cc->lowerPart = 0;
  if (VltStatus st = scan_view(w, upper, width, least, cc, callback)) return fail(st);
  cc->lowerPart = 1;
  if (VltStatus st = scan_view(w, lower, width, least, cc, callback)) return fail(st);
  if (timed) {
    if (VltStatus st = user_time(engine, &ended)) return fail(st);
    const int64_t total = *cpuSeconds * 1000000 + *cpuMicroseconds + (ended - started);
    *cpuSeconds = total / 1000000;
    *cpuMicroseconds = total % 1000000;
  }

  const int64_t needed = int64_t{cc->lossless.residualCount} + cc->componentCount +
                         (pictureOption == 0 ? int64_t{pics->count} : 0);
  if (VltStatus st = size_residuals(&cc->lossless, needed)) return fail(st);
  w_destroyPixr(w, &upper);
  w_destroyPixr(w, &lower);
  *pictures = pics;
  *picturePositions = positions;
  return VLT_OK;
}

VltStatus getBoxesfromBuffer(VltState* engine, const uint8_t* strip, int32_t width, int32_t stripHeight,
                             int32_t bytesPerLine, int32_t frame, uint8_t lastStrip, int32_t minWidth,
                             int32_t minHeight, int32_t slack, CcData* cc) {
  if (engine == nullptr) return VLT_ERR_NULL;
  if (strip == nullptr || cc == nullptr || cc->cc == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  if (VltStatus st = check_pools(engine)) return st;
  // Callbacks take the component's place from frame-relative coordinates.
  if (frame != kFrame || width < 0 || width > cc->pageWidth || stripHeight < 0 ||
      int64_t{cc->stripRow} + stripHeight > cc->pageHeight || int64_t{bytesPerLine} * 8 < int64_t{kFrame} + width)
    return Vlt_report(engine, VLT_ERR_PARAM);
  cc->lowerPart = 0;
  int result = 0;
  VltStatus st = tcly_findBufCC(engine->ipwState, cc->cc, strip, lastStrip, kFrame + width - 1, kFrame, kFrame,
                                kFrame + stripHeight - 1, cc->stripRow, kFrame + cc->pageHeight, bytesPerLine,
                                std::max(minWidth, 1), std::max(minHeight, 1), slack, cc, MakeModelsFromRuns, &result);
  if (st == VLT_ERR_CALLBACK && result != 0) st = result;
  if (st != VLT_OK) return st;
  cc->stripRow += stripHeight;
  if (lastStrip) return size_residuals(&cc->lossless, int64_t{cc->lossless.residualCount} + cc->componentCount);
  return VLT_OK;
}

VltStatus VltLlCCData_init(VltState* engine, VltLlCCData* place, int32_t componentCount, VltLlTokState* tokenizer,
                           ResidualPos* residuals, int32_t residualCount, int32_t residualCapacity,
                           VltAdtList* large, int32_t maxWidth, int32_t maxHeight, VltTokBlock* tokBlock,
                           VltPosBlock* posBlock, int32_t pageIndex, int32_t memory, int32_t memory2) {
  if (place == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  *place = VltLlCCData{componentCount, tokenizer, residuals, residualCount, residualCapacity, large, maxWidth,
                       maxHeight, engine, tokBlock, posBlock, pageIndex, memory, memory2};
  return VLT_OK;
}

VltStatus VltCC_getBoxes(VltState* engine, int32_t* residualCount, ResidualPos** residuals, VltAdtList** large,
                         VltLlTokState* tokenizer, const uint8_t* bits, int32_t width, int32_t height,
                         int32_t maxWidth, int32_t maxHeight, int32_t bytesPerLine, VltTokBlock* tokBlock,
                         VltPosBlock* posBlock, int32_t pageIndex, int32_t minSize, uint8_t progress) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (residualCount == nullptr || residuals == nullptr || tokenizer == nullptr || bits == nullptr ||
      tokBlock == nullptr || posBlock == nullptr)
    return Vlt_report(engine, VLT_ERR_NULL);
  if (!pool_holds(TOK_POOL_LOSSLESS_CC, sizeof(TokComponent))) return Vlt_report(engine, VLT_ERR_ASSERT);
  *residualCount = 0;
  *residuals = nullptr;
  if (large != nullptr) *large = nullptr;
  if (width <= 0 || height <= 0) return VLT_OK;
  if (bytesPerLine < 1 || width > TOK_MAX_PAGE_SIDE || height > TOK_MAX_PAGE_SIDE ||
      int64_t{bytesPerLine} * 8 < int64_t{width} + 2 * kFrame)
    return Vlt_report(engine, VLT_ERR_PARAM);
  IPState* ip = engine->ipwState;
  if (ip == nullptr) return Vlt_report(engine, VLT_ERR_NULL_IPWSTATE);
  const VltErrState* es = engine->errState;
  if (progress) Vlt_reportErrMsg(es, VLT_CODE_REPORT, "VltCC_getBoxes() starts.");

  VltLlCCData ll{};
  VltLlCCData_init(engine, &ll, 0, tokenizer, nullptr, 0, 0, nullptr, maxWidth, maxHeight, tokBlock, posBlock,
                   pageIndex, 0, 0);
  VltStatus st = grow_residuals(&ll, kResidualStart);
  if (st == VLT_OK) st = VltAdt_liNew(&ll.large, engine);
  if (st == VLT_OK) {
    if (progress) Vlt_reportErrMsg(es, VLT_CODE_REPORT, "About to call ipcore CC finder.");
    int result = 0;
    st = i_findConnectedComponentRuns(ip, bits, static_cast<uint32_t>(bytesPerLine), kFrame, kFrame, width, height,
                                      std::max(minSize, 1), std::max(minSize, 1), 1, &ll, lossless_callback, &result);
    if (st == VLT_ERR_CALLBACK && result != 0) st = result;
  }
  if (st == VLT_OK) {
    if (progress) Vlt_reportErrMsg(es, VLT_CODE_REPORT, "Found %d ccs", ll.componentCount);
    if (ll.residualCount == 0) {
      drop_residuals(&ll);
    } else if (auto* a = static_cast<ResidualPos*>(
                   engine->realloc(ll.residuals, size_t(ll.residualCount) * sizeof(ResidualPos)))) {
      // A failed shrink keeps the larger array, which serves as well.
      ll.residuals = a;
      ll.residualCapacity = ll.residualCount;
    }
  }
  if (st != VLT_OK) {
    drop_residuals(&ll);
    free_large_list(engine, ll.large);
    return st;
  }
  *residualCount = ll.residualCount;
  *residuals = ll.residuals;
  if (large != nullptr)
    *large = ll.large;
  else
    free_large_list(engine, ll.large);
  if (progress) Vlt_reportErrMsg(es, VLT_CODE_REPORT, "GetBoxes() ends (ok).");
  return VLT_OK;
}
