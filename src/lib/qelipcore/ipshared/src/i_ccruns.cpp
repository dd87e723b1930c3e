// Connected components of a 1-bit buffer, found in one top-to-bottom pass over its runs.

#include "i_ccruns.h"

#include <algorithm>

#include "ip_internal.h"

namespace {

inline int32_t run_length(const CCRun* r) { return r->end - r->start + 1; }

CCComponent* root_of(CCComponent* c) {
  while (c && c->parent) c = c->parent;
  return c;
}

void make_sentinel(CCRun* r, int16_t value) {
  r->start = value;
  r->end = value;
  r->component = nullptr;
}

// A run is the last of its line when the next run of the list does not lie left of it with a gap.
inline bool last_of_line(const CCRun* r) { return !r->next || r->next->end >= r->start - 1; }

// Both run lists end on the same line unless d's is empty; d's lines are a subset of s's, so
// walking d's lines and splicing them into s's, line by line in right-to-left order, keeps the
// list ordered and leaves s's oldest run last.
void merge_run_lists(CCComponent* s, CCComponent* d) {
  CCRun* a = s->newestRun;
  CCRun* b = d->newestRun;
  CCRun** link = &s->newestRun;
  while (b) {
    bool aDone = a == nullptr, bDone = false;
    while (!aDone || !bDone) {
      CCRun* taken;
      bool* done;
      CCRun** from;
      if (!aDone && (bDone || a->start > b->start)) {
        taken = a, done = &aDone, from = &a;
      } else {
        taken = b, done = &bDone, from = &b;
      }
      *done = last_of_line(taken);
      *from = taken->next;
      *link = taken;
      link = &taken->next;
      if (!a) aDone = true;
    }
  }
  *link = a;
  if (!s->oldestRun) s->oldestRun = d->oldestRun;
  d->newestRun = nullptr;
  d->oldestRun = nullptr;
}

// Two roots meet through a run of the new line. The one reaching higher up (or, on the same top
// line, further left) survives, so its oldest run stays the last of the merged list.
CCComponent* merge_roots(CCComponent* x, CCComponent* y) {
  const bool ySurvives = y->yMin < x->yMin ||
                         (y->yMin == x->yMin && y->oldestRun && x->oldestRun &&
                          y->oldestRun->start < x->oldestRun->start);
  CCComponent* s = ySurvives ? y : x;
  CCComponent* d = ySurvives ? x : y;
  d->parent = s;
  s->xMin = std::min(s->xMin, d->xMin);
  s->yMin = std::min(s->yMin, d->yMin);
  s->xMax = std::max(s->xMax, d->xMax);
  s->yMax = std::max(s->yMax, d->yMax);
  s->refCount += d->refCount;
  s->runCount += d->runCount;
  s->pixelCount += d->pixelCount;
  merge_run_lists(s, d);
  return s;
}

void join_component(CCComponent* c, CCRun* r, int32_t y) {
  r->component = c;
  ++c->refCount;
  ++c->runCount;
  c->pixelCount += run_length(r);
  c->xMax = std::max<int32_t>(c->xMax, r->end);
  c->yMax = y;
}

// Hands a complete component to the callback when large enough, then returns its runs and record.
VltStatus complete(IPState* state, CCState* cc, CCComponent* c, int32_t y, const CCJoinParams& p) {
  const int32_t width = c->xMax - c->xMin + 1;
  const int32_t height = y - c->yMin;
  int result = 0;
  if (width >= p.minWidth && height >= p.minHeight)
    result = p.callback(state, p.userData, c->xMin, c->yMin, width, height, c->pixelCount,
                        c->runCount, c->newestRun);
  for (CCRun* r = c->newestRun; r;) {
    CCRun* next = r->next;
    ip_freeCell(state, cc->runCells, &r);
    r = next;
  }
  ip_freeCell(state, cc->componentCells, &c);
  if (result != 0) {
    if (p.callbackResult) *p.callbackResult = result;
    return VLT_ERR_CALLBACK;
  }
  return VLT_OK;
}

}  // namespace

VltStatus ip_joinRunLines(IPState* state, CCState* cc, CCRun* prev, CCRun* cur, int32_t y,
                          const CCJoinParams& p) {
  const int32_t k = p.connectivity;

  // Pass A: previous-line runs that share a run of the new line come under one root; runs
  // without a component start one.
  {
    CCRun* before = prev;
    CCComponent* last = nullptr;
    CCRun* c = cur;
    for (CCRun* r = prev->next; r->start <= IP_RUN_MAX_COLUMN; before = r, r = r->next) {
      CCComponent* root = root_of(r->component);
      while (c->end < r->start - k) c = c->next;
      if (c->start <= before->end + k && last != root) {
        if (!root) {
          join_component(last, r, y - 1);
          root = last;
        } else {
          root = merge_roots(last, root);
        }
      }
      if (!root) {
        CCComponent* n = nullptr;
        if (VltStatus s = ip_allocCell(state, cc->componentCells, &n)) return s;
        *n = CCComponent{nullptr, r->start, y - 1, r->end, y - 1, 1, run_length(r), 1, nullptr, nullptr};
        r->component = n;
        root = n;
      }
      last = root;
    }
  }

  // Pass B: each previous-line run moves into its root's list; the root passes on to the
  // new-line runs it touches, or completes when none of its runs reaches the new line.
  CCRun* c = cur->next;
  CCRun* r = prev->next;
  while (r->start <= IP_RUN_MAX_COLUMN) {
    CCRun* const next = r->next;
    CCComponent* root = r->component;
    while (root->parent) {
      CCComponent* up = root->parent;
      if (--root->refCount <= 0) ip_freeCell(state, cc->componentCells, &root);
      root = up;
    }
    r->next = root->newestRun;
    root->newestRun = r;
    if (!root->oldestRun) root->oldestRun = r;

    while (c->end < r->start - k) c = c->next;
    // With 8-connectivity a run ending on the last column reaches the tail sentinel's column.
    if (c->start > r->end + k || c->start > IP_RUN_MAX_COLUMN) {
      if (--root->refCount <= 0) {
        if (VltStatus s = complete(state, cc, root, y, p)) {
          prev->next = next;
          return s;
        }
      }
    } else {
      root->yMax = y;
      if (!c->component) {
        c->component = root;
        root->xMin = std::min<int32_t>(root->xMin, c->start);
        root->pixelCount += run_length(c);
        ++root->runCount;
      } else {
        --root->refCount;
      }
      while (c->next->start <= r->end + k && c->next->start <= IP_RUN_MAX_COLUMN) {
        c = c->next;
        join_component(root, c, y);
      }
      root->xMax = std::max<int32_t>(root->xMax, c->end);
    }
    r = next;
  }
  prev->next = r;
  return VLT_OK;
}

extern "C" {

VltStatus i_getCCStateSize(IPState* state, size_t* size) {
  if (!size) return IP_FAIL(state, VLT_ERR_NULL);
  *size = sizeof(CCState);
  return VLT_OK;
}

VltStatus i_initializeCCState(IPState* state, CCState* cc, HeapManager* heapManager) {
  if (cc) *cc = CCState{};
  if (!cc || !heapManager) return IP_FAIL(state, VLT_ERR_NULL);
  cc->heapManager = heapManager;
  VltStatus s = i_allocateMemoryBlock(state, &cc->componentCells, sizeof(CCComponent),
                                      IP_CC_COMPONENTS_PER_BLOCK, heapManager);
  if (s == VLT_OK)
    s = i_allocateMemoryBlock(state, &cc->runCells, sizeof(CCRun), IP_CC_RUNS_PER_BLOCK, heapManager);
  for (CCRun** list : {&cc->runListA, &cc->runListB}) {
    CCRun* head = nullptr;
    CCRun* tail = nullptr;
    if (s == VLT_OK) s = ip_allocCell(state, cc->runCells, &head);
    if (s == VLT_OK) s = ip_allocCell(state, cc->runCells, &tail);
    if (s != VLT_OK) break;
    make_sentinel(head, IP_RUN_HEAD_SENTINEL);
    make_sentinel(tail, IP_RUN_TAIL_SENTINEL);
    head->next = tail;
    tail->next = nullptr;
    *list = head;
  }
  if (s != VLT_OK) {
    i_freeAllMemoryBlocks(state, &cc->runCells);
    i_freeAllMemoryBlocks(state, &cc->componentCells);
    cc->runListA = nullptr;
    cc->runListB = nullptr;
    return IP_FAIL(state, s);
  }
  return VLT_OK;
}

VltStatus i_destroyCCState(IPState* state, CCState* cc) {
  if (!cc) return IP_FAIL(state, VLT_ERR_NULL);
  i_freeAllMemoryBlocks(state, &cc->runCells);
  i_freeAllMemoryBlocks(state, &cc->componentCells);
  cc->runListA = nullptr;
  cc->runListB = nullptr;
  return VLT_OK;
}

VltStatus i_getCCStateHeapManager(IPState* state, CCState* cc, HeapManager** heapManager) {
  if (!cc || !heapManager) return IP_FAIL(state, VLT_ERR_NULL);
  *heapManager = cc->heapManager;
  return VLT_OK;
}

VltStatus i_findConnectedComponentRuns(IPState* state, const uint8_t* base, uint32_t bytesPerLine,
                                       int32_t x0, int32_t y0, int32_t width, int32_t height,
                                       int32_t minWidth, int32_t minHeight, int32_t connectivity,
                                       void* userData, CCCallback callback, int* callbackResult) {
  // A negative reach would let runs of one line pass through each other unnoticed.
  if (connectivity > 1 || connectivity < 0) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  if (width <= 0 || height <= 0) return VLT_OK;
  // Columns must fit the 16-bit run fields, and the counts of one component must fit 32 bits.
  if (!base || !callback || x0 < 0 || y0 < 0 || int64_t{x0} + width - 1 > IP_RUN_MAX_COLUMN ||
      int64_t{y0} + height > INT32_MAX || int64_t{width} * height > INT32_MAX)
    return IP_FAIL(state, VLT_ERR_PARAM);

  size_t managerSize = 0;
  i_getHeapManagerSize(state, &managerSize);
  auto* manager = static_cast<HeapManager*>(ipcore::alloc(state, IP_SLOT_RECORDS, managerSize));
  if (!manager) return IP_FAIL(state, VLT_ERR_NOMEM);
  i_initializeHeapManager(state, manager);
  CCState cc;
  VltStatus s = i_initializeCCState(state, &cc, manager);

  const CCJoinParams params{connectivity, minWidth, minHeight, callback, userData, callbackResult};
  CCRun* prev = cc.runListB;
  CCRun* cur = cc.runListA;
  const int32_t lastX = x0 + width - 1;
  for (int32_t y = y0; s == VLT_OK && y <= y0 + height; ++y) {
    std::swap(prev, cur);
    if (y < y0 + height)
      s = i_findAllRunsInLine(state, base + size_t(y) * bytesPerLine, lastX, x0, cur->next, cc.runCells);
    else
      make_sentinel(cur->next, IP_RUN_TAIL_SENTINEL);
    if (s == VLT_OK) s = ip_joinRunLines(state, &cc, prev, cur, y, params);
  }

  i_destroyCCState(state, &cc);
  i_destroyHeapManager(state, manager);
  ipcore::release(state, IP_SLOT_RECORDS, manager);
  return s;
}

}  // extern "C"
