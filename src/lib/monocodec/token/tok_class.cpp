// Token classes: joining, merging, checking, committing and releasing.
//
// Match offsets are measured between exemplar bitmaps; a member's offset is its place in the
// class frame. The two agree while the exemplar sits at the frame origin, which generated
// exemplars always do; a member serving as exemplar may sit elsewhere after the frame moved, so
// offsets are converted through the exemplar's own offset.

#include "tok_class.h"

#include "tok_edge.h"
#include "tok_match.h"
#include "tok_pixsum.h"
#include "tok_table.h"

namespace {

bool usable(const TokBox* b) { return b != nullptr && b->model != nullptr && b->edge != nullptr; }

void move_members(TokClass* c, int32_t dx, int32_t dy) {
  for (VltAdtListNode* n = c->members->first; n != nullptr; n = n->next) {
    auto* b = static_cast<TokBox*>(n->data);
    b->xOffset = static_cast<int16_t>(b->xOffset + dx);
    b->yOffset = static_cast<int16_t>(b->yOffset + dy);
  }
}

void release_bitmaps(TokBox* b, TokState* state) {
  FreeModel(b->model, state);
  FreeImage(b->edge, state);
  b->model = nullptr;
  b->edge = nullptr;
}

// b's members move into a's list; b's head is freed.
VltStatus take_members(TokClass* a, TokClass* b) {
  if (VltStatus st = VltAdt_liApp(a->members, b->members)) return st;
  b->members = nullptr;
  return VLT_OK;
}

bool reaches_commit(const TokState* s, const TokClass* c) {
  return s->commitCount > 0 && c->members->count >= static_cast<uint32_t>(s->commitCount);
}

}  // namespace

void FreeBox(TokBox* box, TokState* state) {
  if (box == nullptr) return;
  FreeModel(box->model, state);
  FreeImage(box->edge, state);
  tok_pool_give(state->engine, TOK_POOL_BOX, box);
}

void FreeExemplar(TokClass* cls, TokState* state) {
  if (!(cls->flags & TOK_CLASS_OWNS_EXEMPLAR)) return;
  FreeBox(cls->exemplar, state);
  cls->exemplar = nullptr;
  cls->flags &= ~(TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_EXEMPLAR_CURRENT);
}

void ClassFree(TokClass* cls, TokState* state) {
  if (cls == nullptr) return;
  if (cls->exemplar != nullptr) FreeExemplar(cls, state);
  if (cls->members != nullptr) VltAdt_liFree(cls->members);
  PixelSumFree(cls->sum, state);
  tok_pool_give(state->engine, TOK_POOL_BOX, cls);
}

VltStatus tokCFreeClass(TokState* state, TokClass* cls) {
  ClassFree(cls, state);
  return VLT_OK;
}

VltStatus tokCBoxToClass(TokBox* box, TokClass** out, TokState* state) {
  void* block = nullptr;
  if (VltStatus st = tok_pool_take(state->engine, TOK_POOL_BOX, &block)) return st;
  auto* c = static_cast<TokClass*>(block);
  *c = TokClass{nullptr, box, nullptr, TOK_CLASS_CHECKED, nullptr};
  VltStatus st = VltAdt_liNew(&c->members, state->engine);
  if (st == VLT_OK) st = VltAdt_liAdd(c->members, box, nullptr);
  if (st != VLT_OK) {
    c->exemplar = nullptr;
    ClassFree(c, state);
    return st;
  }
  *out = c;
  return VLT_OK;
}

VltStatus tokCNewClass(TokState* state, TokBox* box, TokClass** cls) { return tokCBoxToClass(box, cls, state); }

VltStatus mergeBox(TokClass* cls, TokBox* box, int32_t x, int32_t y, TokState* state) {
  bool started = false;
  if (cls->sum == nullptr) {
    if (cls->members->count != 1) return VLT_ERR_ASSERT;
    const TokBox* only = static_cast<TokBox*>(cls->members->first->data);
    if (only->model == nullptr) return VLT_ERR_ASSERT;
    if (VltStatus st = ModelToSum(only->model, state, &cls->sum)) return st;
    started = true;
  }
  const auto undo_start = [&]() {
    if (!started) return;
    PixelSumFree(cls->sum, state);
    cls->sum = nullptr;
  };
  if (VltStatus st = InsertModel(cls, box->model, x, y, state)) {
    undo_start();
    return st;
  }
  if (VltStatus st = VltAdt_liAdd(cls->members, box, nullptr)) {
    if (started)
      undo_start();
    else
      DeleteModel(cls, box->model, x, y, state);
    return st;
  }
  box->xOffset = static_cast<int16_t>(x);
  box->yOffset = static_cast<int16_t>(y);
  if (cls->flags & TOK_CLASS_COMMITTED) release_bitmaps(box, state);
  return VLT_OK;
}

VltStatus tokCMaybeMergeBox(TokState* state, TokClassTable* table, TokClass* cls, TokBox* box, uint8_t* merged) {
  *merged = 0;
  const TokBox* e = cls->exemplar;
  if (!usable(e) || !usable(box)) return VLT_ERR_ASSERT;
  int16_t dx = 0, dy = 0;
  if (!EdgeHausdorffMatch(e->model, e->edge, box->model, box->edge, &dx, &dy, state)) return VLT_OK;
  ShiftEdgeHausdorffMatch(e->model, e->edge, box->model, box->edge, &dx, &dy, state);
  if (VltStatus st = mergeBox(cls, box, e->xOffset + dx, e->yOffset + dy, state)) return st;
  *merged = 1;
  if (!(cls->flags & TOK_CLASS_COMMITTED) && reaches_commit(state, cls)) return commitClass(state, table, cls, 0);
  return VLT_OK;
}

VltStatus commitClass(TokState* state, TokClassTable* table, TokClass* cls, int force) {
  if (cls->flags & TOK_CLASS_COMMITTED) return VLT_OK;
  if ((cls->flags & TOK_CLASS_RESUMED) && !force) return VLT_ERR_ASSERT;
  if (VltStatus st = tokCGenerateExemplar(state, cls)) return st;
  if (VltStatus st = tokCCheckMembers(table, cls, state)) return st;
  if (!force && !reaches_commit(state, cls)) return VLT_OK;
  // Once committed, the class has only its sum to make exemplars from, so the sum gets its
  // histogram and the exemplar is made while the members still have their bitmaps.
  if (cls->sum == nullptr) {
    const TokBox* only = cls->members->count == 1 ? static_cast<TokBox*>(cls->members->first->data) : nullptr;
    if (only == nullptr || only->model == nullptr) return VLT_ERR_ASSERT;
    if (VltStatus st = ModelToSum(only->model, state, &cls->sum)) return st;
  }
  if (cls->sum->histogram == nullptr) {
    if (VltStatus st = makeRealHist(cls, state)) return st;
  }
  cls->flags |= TOK_CLASS_COMMITTED;
  if (!(cls->flags & TOK_CLASS_OWNS_EXEMPLAR)) {
    if (VltStatus st = tokCGenerateExemplar(state, cls)) {
      cls->flags &= ~TOK_CLASS_COMMITTED;
      return st;
    }
  }
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next)
    release_bitmaps(static_cast<TokBox*>(n->data), state);
  return VLT_OK;
}

VltStatus tokCGenerateExemplar(TokState* state, TokClass* cls) {
  const uint32_t f = cls->flags;
  TokBox* const old = cls->exemplar;
  if (((f & TOK_CLASS_OWNS_EXEMPLAR) && (f & TOK_CLASS_EXEMPLAR_CURRENT)) || (f & TOK_CLASS_RESUMED)) return VLT_OK;
  if (VltStatus st = MakeExemplarFromPixelSum(state, cls, (f & TOK_CLASS_COMMITTED) ? 1 : 0)) {
    cls->flags = f;
    cls->exemplar = old;
    return st;
  }
  if (cls->exemplar == nullptr) {
    if ((f & TOK_CLASS_COMMITTED) || cls->members->first == nullptr) {
      cls->exemplar = old;
      return VLT_ERR_ASSERT;
    }
    cls->flags &= ~(TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_EXEMPLAR_CURRENT);
    cls->exemplar = static_cast<TokBox*>(cls->members->first->data);
  } else {
    cls->flags |= TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_EXEMPLAR_CURRENT;
  }
  if (cls->exemplar != old) cls->flags &= ~(TOK_CLASS_CHECKED | TOK_CLASS_UNCHANGED | TOK_CLASS_SCANNED);
  if ((f & TOK_CLASS_OWNS_EXEMPLAR) && old != cls->exemplar) FreeBox(old, state);
  return VLT_OK;
}

VltStatus rejectMember(TokClassTable* table, TokClass* cls, TokBox* box, uint8_t* removed, TokState* state) {
  *removed = 0;
  if (cls->flags & TOK_CLASS_COMMITTED) return VLT_ERR_ASSERT;
  if (cls->members->count < 2 && !(cls->flags & TOK_CLASS_RESUMED)) {
    const bool moved = box->xOffset != 0 || box->yOffset != 0;
    if (moved && cls->sum == nullptr) return VLT_ERR_ASSERT;
    FreeExemplar(cls, state);
    cls->exemplar = box;
    cls->flags &= ~(TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_EXEMPLAR_CURRENT | TOK_CLASS_UNCHANGED | TOK_CLASS_SCANNED);
    cls->flags |= TOK_CLASS_CHECKED;
    if (moved) {
      box->xOffset = 0;
      box->yOffset = 0;
      PixelSumFree(cls->sum, state);
      cls->sum = nullptr;
    }
    return VLT_OK;
  }
  if (cls->sum == nullptr || box->model == nullptr) return VLT_ERR_ASSERT;
  // The member leaves the sum before it is filed elsewhere, so that no failure can leave it in
  // two classes.
  TokClass* alone = nullptr;
  if (VltStatus st = tokCBoxToClass(box, &alone, state)) return st;
  if (VltStatus st = DeleteModel(cls, box->model, box->xOffset, box->yOffset, state)) {
    alone->exemplar = nullptr;
    ClassFree(alone, state);
    return st;
  }
  const int16_t ox = box->xOffset, oy = box->yOffset;
  box->xOffset = 0;
  box->yOffset = 0;
  if (VltStatus st = tokCTAddToTable(table, alone, state)) {
    box->xOffset = ox;
    box->yOffset = oy;
    InsertModel(cls, box->model, ox, oy, state);
    alone->exemplar = nullptr;
    ClassFree(alone, state);
    return st;
  }
  *removed = 1;
  return VLT_OK;
}

VltStatus tokCCheckMembers(TokClassTable* table, TokClass* cls, TokState* state) {
  if ((cls->flags & TOK_CLASS_COMMITTED) || (cls->flags & TOK_CLASS_CHECKED)) return VLT_OK;
  const TokBox* e = cls->exemplar;
  if (!usable(e)) return VLT_ERR_ASSERT;
  for (VltAdtListNode* n = cls->members->first; n != nullptr;) {
    auto* b = static_cast<TokBox*>(n->data);
    VltAdtListNode* next = n->next;
    if (b->model == nullptr) {
      n = next;
      continue;
    }
    if (b->edge == nullptr) return VLT_ERR_ASSERT;
    int16_t dx = static_cast<int16_t>(b->xOffset - e->xOffset), dy = static_cast<int16_t>(b->yOffset - e->yOffset);
    if (!EdgeHausdorffMatch(e->model, e->edge, b->model, b->edge, &dx, &dy, state)) {
      uint8_t removed = 0;
      if (VltStatus st = rejectMember(table, cls, b, &removed, state)) return st;
      if (removed) {
        if (VltStatus st = VltAdt_liRem(n)) return st;
      } else if (next != nullptr) {
        return VLT_ERR_ASSERT;
      }
    }
    n = next;
  }
  cls->flags |= TOK_CLASS_CHECKED;
  return VLT_OK;
}

VltStatus tokCAlignClass(TokClass* cls, TokState* state) {
  if (cls->flags & TOK_CLASS_COMMITTED) return VLT_OK;
  const TokBox* e = cls->exemplar;
  if (!usable(e)) return VLT_ERR_ASSERT;
  for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) {
    auto* b = static_cast<TokBox*>(n->data);
    if (!usable(b)) return VLT_ERR_ASSERT;
    int16_t dx = static_cast<int16_t>(b->xOffset - e->xOffset), dy = static_cast<int16_t>(b->yOffset - e->yOffset);
    ShiftEdgeHausdorffMatch(e->model, e->edge, b->model, b->edge, &dx, &dy, state);
    const int32_t nx = e->xOffset + dx, ny = e->yOffset + dy;
    if (nx == b->xOffset && ny == b->yOffset) continue;
    if (VltStatus st = InsertModel(cls, b->model, nx, ny, state)) return st;
    if (VltStatus st = DeleteModel(cls, b->model, b->xOffset, b->yOffset, state)) return st;
    b->xOffset = static_cast<int16_t>(nx);
    b->yOffset = static_cast<int16_t>(ny);
  }
  return VLT_OK;
}

VltStatus tokCSetExemplar(TokState* state, TokClass* cls, TokBox* box, int32_t x, int32_t y, int owned) {
  if (cls->flags & TOK_CLASS_RESUMED) return VLT_ERR_ASSERT;
  FreeExemplar(cls, state);
  cls->exemplar = box;
  if (x != 0 || y != 0) {
    for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) {
      auto* b = static_cast<TokBox*>(n->data);
      const int32_t nx = b->xOffset + x, ny = b->yOffset + y;
      if (b->model != nullptr) {
        if (VltStatus st = InsertModel(cls, b->model, nx, ny, state)) return st;
        if (VltStatus st = DeleteModel(cls, b->model, b->xOffset, b->yOffset, state)) return st;
      }
      b->xOffset = static_cast<int16_t>(nx);
      b->yOffset = static_cast<int16_t>(ny);
    }
  }
  cls->flags &= ~(TOK_CLASS_EXEMPLAR_CURRENT | TOK_CLASS_CHECKED | TOK_CLASS_UNCHANGED | TOK_CLASS_SCANNED);
  if (owned) cls->flags |= TOK_CLASS_OWNS_EXEMPLAR;
  return VLT_OK;
}

VltStatus tokCMaybeMergeClasses(TokState* state, TokClassTable* table, TokClass* a, TokClass* b, uint8_t* merged) {
  *merged = 0;
  const TokBox* ea = a->exemplar;
  const TokBox* eb = b->exemplar;
  if (!usable(ea) || !usable(eb)) return VLT_ERR_ASSERT;
  if ((a->flags & TOK_CLASS_RESUMED) && (b->flags & TOK_CLASS_RESUMED)) return VLT_OK;
  int16_t dx = 0, dy = 0;
  if (!EdgeHausdorffMatch(ea->model, ea->edge, eb->model, eb->edge, &dx, &dy, state)) return VLT_OK;
  ShiftEdgeHausdorffMatch(ea->model, ea->edge, eb->model, eb->edge, &dx, &dy, state);
  return mergeClasses(state, table, a, b, ea->xOffset + dx - eb->xOffset, ea->yOffset + dy - eb->yOffset, merged);
}

VltStatus tokCMergeClasses(TokState* state, TokClass* a, TokClass* b, int32_t x, int32_t y, uint8_t* merged) {
  return mergeClasses(state, &state->table, a, b, x, y, merged);
}

VltStatus mergeClasses(TokState* state, TokClassTable* table, TokClass* a, TokClass* b, int32_t x, int32_t y,
                       uint8_t* merged) {
  *merged = 0;
  if (a->sum == nullptr) {
    if (a->members->count != 1 || a->exemplar == nullptr || a->exemplar->model == nullptr) return VLT_ERR_ASSERT;
    if (VltStatus st = ModelToSum(a->exemplar->model, state, &a->sum)) return st;
  }
  const bool aCommitted = (a->flags & TOK_CLASS_COMMITTED) != 0;
  const bool bCommitted = (b->flags & TOK_CLASS_COMMITTED) != 0;
  // The single member of a class without a sum joins like a box.
  const auto join_single = [&]() -> VltStatus {
    if (b->members->count != 1) return VLT_ERR_ASSERT;
    auto* only = static_cast<TokBox*>(b->members->first->data);
    if (only->xOffset != 0 || only->yOffset != 0) return VLT_ERR_ASSERT;
    return mergeBox(a, only, x, y, state);
  };
  // a takes b's sum, exemplar and frame: a's members move into b's frame.
  const auto adopt = [&]() -> VltStatus {
    if (VltStatus st = MergePixelSumsWithOffset(b, a, -x, -y, state)) return st;
    TokPixelSum* own = a->sum;
    a->sum = b->sum;
    b->sum = own;
    move_members(a, -x, -y);
    if (VltStatus st = take_members(a, b)) return st;
    FreeExemplar(a, state);
    a->exemplar = b->exemplar;
    b->exemplar = nullptr;
    b->flags &= ~(TOK_CLASS_OWNS_EXEMPLAR | TOK_CLASS_EXEMPLAR_CURRENT);
    a->outputRef = b->outputRef;
    return VLT_OK;
  };

  if (aCommitted) {
    if (b->flags & TOK_CLASS_RESUMED) {
      if ((a->flags & TOK_CLASS_RESUMED) || a->outputRef != nullptr || b->sum == nullptr) return VLT_ERR_ASSERT;
      const uint32_t flags = b->flags;
      if (VltStatus st = adopt()) return st;
      a->flags = flags;
    } else if (b->sum != nullptr) {
      for (VltAdtListNode* n = b->members->first; n != nullptr; n = n->next) {
        const auto* m = static_cast<TokBox*>(n->data);
        if (bCommitted ? (m->model != nullptr || m->edge != nullptr) : !usable(m)) return VLT_ERR_ASSERT;
      }
      if (VltStatus st = MergePixelSumsWithOffset(a, b, x, y, state)) return st;
      move_members(b, x, y);
      if (!bCommitted)
        for (VltAdtListNode* n = b->members->first; n != nullptr; n = n->next)
          release_bitmaps(static_cast<TokBox*>(n->data), state);
      if (VltStatus st = take_members(a, b)) return st;
    } else {
      if (VltStatus st = join_single()) return st;
    }
    ClassFree(b, state);
    *merged = 1;
    a->flags &= ~TOK_CLASS_CHECKED;
    return VLT_OK;
  }

  if (bCommitted) {
    if (b->sum == nullptr || !(b->flags & TOK_CLASS_OWNS_EXEMPLAR) || a->outputRef != nullptr) return VLT_ERR_ASSERT;
    const uint32_t keep = TOK_CLASS_SATURATED | TOK_CLASS_UNCHANGED | TOK_CLASS_SCANNED;
    const uint32_t flags = ((a->flags | TOK_CLASS_OWNS_EXEMPLAR) & ~keep) | (b->flags & keep) |
                           (b->flags & TOK_CLASS_RESUMED);
    if (VltStatus st = adopt()) return st;
    a->flags = flags & ~TOK_CLASS_EXEMPLAR_CURRENT;
    ClassFree(b, state);
    *merged = 1;
    const VltStatus st = commitClass(state, table, a, 1);
    a->flags &= ~TOK_CLASS_CHECKED;
    return st;
  }

  if (b->sum != nullptr) {
    if (VltStatus st = MergePixelSumsWithOffset(a, b, x, y, state)) return st;
    move_members(b, x, y);
    if (VltStatus st = take_members(a, b)) return st;
  } else {
    if (VltStatus st = join_single()) return st;
  }
  ClassFree(b, state);
  *merged = 1;
  VltStatus st = VLT_OK;
  if (reaches_commit(state, a)) st = commitClass(state, table, a, 1);
  a->flags &= ~TOK_CLASS_CHECKED;
  return st;
}
