// Colour components: the live component record and its operations (creation, line advance,
// background, merge, wash, conversion into the delivered form, split into flat pieces, freeing).
// Operations that rebuild run chains build the new ones first and replace the old ones only when
// everything is made, so a failure leaves the components as they were.

#include <string.h>

#include <algorithm>

#include "checked_size.h"
#include "tok_colorcc.h"
#include "tok_colorcc_internal.h"

using colorcc::Chain;
using colorcc::sampled_form;

namespace {

void free_lists(ColorCCState* s) {
  for (VltAdtList** l : {&s->lines, &s->prevSegs, &s->curSegs})
    if (*l != nullptr) {
      VltAdt_liFree(*l);
      *l = nullptr;
    }
}

// Frees every chain of the lines list and empties it.
void clear_lines(VltState* engine, VltAdtList* lines, int sampledForm, int freeSamples) {
  if (lines == nullptr) return;
  for (VltAdtListNode* n = lines->first; n != nullptr; n = n->next) {
    auto* chain = static_cast<ColorRunRecord*>(n->data);
    scrs_cleanup(&chain, sampledForm, freeSamples, engine);
    n->data = nullptr;
  }
  VltAdt_liClear(lines);
}

// Frees the chains of a lines list that this unit built and the list itself, never the samples.
void drop_lines(VltState* engine, VltAdtList* lines, int sampledForm) {
  clear_lines(engine, lines, sampledForm, 0);
  if (lines != nullptr) VltAdt_liFree(lines);
}

VltStatus merge_chains(VltState* engine, const ColorRunRecord* a, const ColorRunRecord* b, int sampledForm,
                       ColorRunRecord** place) {
  Chain out{sampledForm};
  uint32_t ia = 0, ib = 0;
  auto fail = [&](VltStatus st) {
    scrs_cleanup(&out.head, sampledForm, 0, engine);
    return st;
  };
  while (a != nullptr || b != nullptr) {
    const ColorRunRecord*& from =
        b == nullptr || (a != nullptr && a->runs[ia].x < b->runs[ib].x) ? a : b;
    uint32_t& i = &from == &a ? ia : ib;
    const ColorRunRecord* other = &from == &a ? b : a;
    const uint32_t j = &from == &a ? ib : ia;
    const uint32_t end = uint32_t(from->runs[i].x) + from->runs[i].length;
    // Runs of two components never share a pixel of a line.
    if (other != nullptr && other->runs[j].x < end) return fail(VLT_ERR_ASSERT);
    if (VltStatus st = out.add(engine, from->runs[i].x, from->runs[i].length, sampledForm ? from->samples[i] : 0))
      return fail(st);
    if (++i == from->count) {
      from = from->next;
      i = 0;
    }
  }
  *place = out.head;
  return VLT_OK;
}

// 1 when both components have a completed line y.
bool shared_line(const ColorCCState* a, const ColorCCState* b, int32_t y) {
  const int32_t na = int32_t(a->lines->count), nb = int32_t(b->lines->count);
  return y >= a->top && y < a->top + na && y >= b->top && y < b->top + nb;
}

// Frees the chains of the lines of `lines` that both components have (the only chains made by
// merge_lines) and the list.
void drop_merged_lines(VltState* engine, VltAdtList* lines, const ColorCCState* a, const ColorCCState* b,
                       int32_t first) {
  const int form = sampled_form(a);
  int32_t y = first;
  for (VltAdtListNode* n = lines->first; n != nullptr; n = n->next, ++y)
    if (shared_line(a, b, y)) {
      auto* chain = static_cast<ColorRunRecord*>(n->data);
      scrs_cleanup(&chain, form, 0, engine);
    }
  VltAdt_liFree(lines);
}

// First line of the merged lines of a and b.
int32_t first_line(const ColorCCState* a, const ColorCCState* b) {
  if (a->lines->count == 0) return b->top;
  if (b->lines->count == 0) return a->top;
  return std::min(a->top, b->top);
}

// The lines of a and b merged line by line into a new list; lines only one of them has are shared
// with it, lines both have get new merged chains.
VltStatus merge_lines(VltState* engine, const ColorCCState* a, const ColorCCState* b, VltAdtList** place) {
  const int form = sampled_form(a);
  const int32_t na = int32_t(a->lines->count), nb = int32_t(b->lines->count);
  const int32_t first = first_line(a, b);
  const int32_t end = std::max(na > 0 ? a->top + na : first, nb > 0 ? b->top + nb : first);
  VltAdtList* out = nullptr;
  VltStatus st = VltAdt_liNew(&out, engine);
  if (st != VLT_OK) return st;
  const VltAdtListNode* pa = a->lines->first;
  const VltAdtListNode* pb = b->lines->first;
  for (int32_t y = first; y < end; ++y) {
    const bool inA = y >= a->top && y < a->top + na;
    const bool inB = y >= b->top && y < b->top + nb;
    auto* ca = inA ? static_cast<const ColorRunRecord*>(pa->data) : nullptr;
    auto* cb = inB ? static_cast<const ColorRunRecord*>(pb->data) : nullptr;
    if (inA && inB) {
      ColorRunRecord* merged = nullptr;
      st = merge_chains(engine, ca, cb, form, &merged);
      if (st == VLT_OK && (st = VltAdt_liAdd(out, merged, nullptr)) != VLT_OK)
        scrs_cleanup(&merged, form, 0, engine);
    } else {
      // A line neither has (never made by the finder) keeps an empty chain so lines stay aligned.
      st = VltAdt_liAdd(out, const_cast<ColorRunRecord*>(inA ? ca : cb), nullptr);
    }
    if (st != VLT_OK) {
      drop_merged_lines(engine, out, a, b, first);
      return st;
    }
    if (inA) pa = pa->next;
    if (inB) pb = pb->next;
  }
  *place = out;
  return VLT_OK;
}

// The union of two lists of segment indices, in increasing index (and so x) order.
VltStatus merge_indices(VltState* engine, const VltAdtList* a, const VltAdtList* b, VltAdtList** place) {
  VltAdtList* out = nullptr;
  if (VltStatus st = VltAdt_liNew(&out, engine)) return st;
  const VltAdtListNode* pa = a->first;
  const VltAdtListNode* pb = b->first;
  while (pa != nullptr || pb != nullptr) {
    const VltAdtListNode*& from =
        pb == nullptr || (pa != nullptr && uintptr_t(pa->data) < uintptr_t(pb->data)) ? pa : pb;
    if (VltStatus st = VltAdt_liAdd(out, from->data, nullptr)) {
      VltAdt_liFree(out);
      return st;
    }
    from = from->next;
  }
  *place = out;
  return VLT_OK;
}

void set_owner(ColorCCLineBuf* buf, const VltAdtList* indices, ColorCCState* owner) {
  for (const VltAdtListNode* n = indices->first; n != nullptr; n = n->next) {
    const uintptr_t i = uintptr_t(n->data);
    if (i < buf->count) buf->segs[i].component = owner;
  }
}

uint32_t rgb_of(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

}  // namespace

VltStatus ccstate_init(ColorCCFinder* finder, uint32_t index, ColorCCState** place) {
  if (place == nullptr) return VLT_ERR_ASSERT;
  *place = nullptr;
  if (finder == nullptr || finder->rim == nullptr || index >= finder->rim->cur.count) return VLT_ERR_ASSERT;
  VltState* engine = finder->engine;
  if (finder->finished > COLORCC_FINISHED_BOUND)
    if (VltStatus st = colorcc::flush_finished(finder)) return st;
  const ColorSegment& seg = finder->rim->cur.segs[index];
  auto* s = static_cast<ColorCCState*>(engine->calloc(1, sizeof(ColorCCState)));
  if (s == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  VltStatus st = VltAdt_liNew(&s->lines, engine);
  if (st == VLT_OK) st = VltAdt_liNew(&s->prevSegs, engine);
  if (st == VLT_OK) st = VltAdt_liNew(&s->curSegs, engine);
  if (st == VLT_OK) st = VltAdt_liAdd(s->curSegs, reinterpret_cast<void*>(uintptr_t(index)), nullptr);
  if (st != VLT_OK) {
    free_lists(s);
    engine->free(s);
    return st;
  }
  s->id = -1;
  s->xMin = seg.x;
  s->xMax = uint16_t(seg.x + seg.length - 1);
  s->top = s->bottom = uint16_t(finder->line);
  s->pixels = seg.length;
  if (seg.sampled) {
    s->flags = COLORCC_SAMPLED;
    s->colour = 0;
  } else {
    s->colour = uint32_t(seg.colour) & COLORCC_WHITE;
  }
  *place = s;
  return VLT_OK;
}

VltStatus ccstate_movetoNextLine(ColorCCFinder* finder, ColorCCState* s) {
  if (finder == nullptr || s == nullptr) return VLT_ERR_ASSERT;
  VltState* engine = finder->engine;
  ColorCCLineBuf& prev = finder->rim->prev;
  if (!(s->flags & COLORCC_BACKGROUND) && s->prevSegs->count > 0) {
    const int form = sampled_form(s);
    Chain chain{form};
    VltStatus st = VLT_OK;
    for (const VltAdtListNode* n = s->prevSegs->first; st == VLT_OK && n != nullptr; n = n->next) {
      const uintptr_t i = uintptr_t(n->data);
      if (i >= prev.count) {
        st = VLT_ERR_ASSERT;
        break;
      }
      const ColorSegment& seg = prev.segs[i];
      st = chain.add(engine, seg.x, seg.length, seg.sampled ? seg.colour : 0);
    }
    if (st == VLT_OK) st = VltAdt_liAdd(s->lines, chain.head, nullptr);
    if (st != VLT_OK) {
      scrs_cleanup(&chain.head, form, 0, engine);
      return st;
    }
    // The sample buffers belong to the run records from now on.
    for (const VltAdtListNode* n = s->prevSegs->first; n != nullptr; n = n->next) {
      ColorSegment& seg = prev.segs[uintptr_t(n->data)];
      if (seg.sampled) seg.colour = 0;
    }
  }
  VltAdt_liClear(s->prevSegs);
  std::swap(s->prevSegs, s->curSegs);
  return VLT_OK;
}

VltStatus ccstate_makeBackground(ColorCCFinder* finder, ColorCCState* s) {
  if (finder == nullptr || s == nullptr || (s->flags & colorcc::kFormFlags)) return VLT_ERR_ASSERT;
  s->flags |= COLORCC_BACKGROUND;
  ColorCCMap* map = finder->map;
  if (s->id >= 0) {
    int32_t left = s->adjacent;
    for (int32_t k = 0; k < map->capacity && left > 0; ++k) {
      if (k == s->id) continue;
      ColorCCAdj* c = cccmap_cell(map, s->id, k);
      if (!(c->flags & COLORCC_ADJACENT)) continue;
      --left;
      if (c->flags & COLORCC_SIMILAR) {
        c->flags &= uint16_t(~COLORCC_SIMILAR);
        if (ColorCCState* nb = map->slots[k].state) --nb->similar;
      }
    }
  }
  s->similar = 0;
  clear_lines(finder->engine, s->lines, 0, 0);
  return VLT_OK;
}

VltStatus ccstate_merge(ColorCCFinder* finder, ColorCCState* a, ColorCCState** bPlace) {
  if (finder == nullptr || bPlace == nullptr) return VLT_ERR_ASSERT;
  ColorCCState* b = *bPlace;
  if (a == nullptr || b == nullptr || a == b || ((a->flags ^ b->flags) & colorcc::kFormFlags) || a->id < 0 ||
      b->id < 0 || finder->map == nullptr || a->id >= finder->map->capacity || b->id >= finder->map->capacity)
    return VLT_ERR_ASSERT;
  VltState* engine = finder->engine;
  ColorCCRim* rim = finder->rim;
  const bool bgA = a->flags & COLORCC_BACKGROUND, bgB = b->flags & COLORCC_BACKGROUND;
  if (!bgA && !bgB) {
    VltAdtList* lines = nullptr;
    VltAdtList* prev = nullptr;
    VltAdtList* cur = nullptr;
    VltStatus st = merge_lines(engine, a, b, &lines);
    if (st == VLT_OK) st = merge_indices(engine, a->prevSegs, b->prevSegs, &prev);
    if (st == VLT_OK) st = merge_indices(engine, a->curSegs, b->curSegs, &cur);
    if (st != VLT_OK) {
      if (prev != nullptr) VltAdt_liFree(prev);
      if (lines != nullptr) drop_merged_lines(engine, lines, a, b, first_line(a, b));
      return st;
    }
    // Chains of lines both had were copied into merged chains; the others moved as they were.
    const int form = sampled_form(a);
    for (ColorCCState* s : {a, b}) {
      int32_t y = s->top;
      for (VltAdtListNode* n = s->lines->first; n != nullptr; n = n->next, ++y)
        if (shared_line(a, b, y)) {
          auto* chain = static_cast<ColorRunRecord*>(n->data);
          scrs_cleanup(&chain, form, 0, engine);
        }
    }
    VltAdt_liFree(a->lines);
    VltAdt_liFree(b->lines);
    b->lines = nullptr;
    a->lines = lines;
    set_owner(&rim->prev, b->prevSegs, a);
    set_owner(&rim->cur, b->curSegs, a);
    VltAdt_liFree(a->prevSegs);
    VltAdt_liFree(a->curSegs);
    a->prevSegs = prev;
    a->curSegs = cur;
  } else {
    // Background absorbs: nothing is allocated on this path, so nothing can fail half-way.
    if (!bgA)
      if (VltStatus st = ccstate_makeBackground(finder, a)) return st;
    if (!bgB)
      if (VltStatus st = ccstate_makeBackground(finder, b)) return st;
    set_owner(&rim->prev, b->prevSegs, a);
    set_owner(&rim->cur, b->curSegs, a);
    VltAdt_liApp(a->prevSegs, b->prevSegs);
    VltAdt_liApp(a->curSegs, b->curSegs);
    b->prevSegs = b->curSegs = nullptr;
  }
  a->xMin = std::min(a->xMin, b->xMin);
  a->top = std::min(a->top, b->top);
  a->xMax = std::max(a->xMax, b->xMax);
  a->bottom = std::max(a->bottom, b->bottom);
  a->pixels += b->pixels;
  if (VltStatus st = cccmap_combine(finder->map, a->id, b->id)) return st;
  return ccstate_cleanup(engine, bPlace);
}

VltStatus ccstate_makeWash(ColorCCFinder* finder, ColorCCState* s) {
  if (finder == nullptr || s == nullptr || (s->flags & (COLORCC_SAMPLED | COLORCC_BACKGROUND))) return VLT_ERR_ASSERT;
  if (s->flags & COLORCC_WASHED) return VLT_OK;
  VltState* engine = finder->engine;
  VltAdtList* washed = nullptr;
  VltStatus st = VltAdt_liNew(&washed, engine);
  if (st != VLT_OK) return st;
  for (const VltAdtListNode* n = s->lines->first; st == VLT_OK && n != nullptr; n = n->next) {
    Chain chain{1};
    for (const ColorRunRecord* r = static_cast<const ColorRunRecord*>(n->data); st == VLT_OK && r != nullptr;
         r = r->next)
      for (uint32_t i = 0; st == VLT_OK && i < r->count; ++i)
        st = chain.add(engine, r->runs[i].x, r->runs[i].length, s->colour);
    if (st == VLT_OK) st = VltAdt_liAdd(washed, chain.head, nullptr);
    if (st != VLT_OK) scrs_cleanup(&chain.head, 1, 0, engine);
  }
  if (st != VLT_OK) {
    drop_lines(engine, washed, 1);
    return st;
  }
  drop_lines(engine, s->lines, 0);
  s->lines = washed;
  s->flags |= COLORCC_WASHED;
  s->colour = 0;
  return VLT_OK;
}

VltStatus ccstate_convertToColorCC(VltState* engine, ColorCCState* s, ColorCC** place) {
  if (place == nullptr) return VLT_ERR_ASSERT;
  *place = nullptr;
  if (engine == nullptr || s == nullptr || (s->flags & COLORCC_BACKGROUND) || s->lines == nullptr ||
      s->lines->count == 0 || (s->prevSegs != nullptr && s->prevSegs->count > 0) ||
      (s->curSegs != nullptr && s->curSegs->count > 0) || s->xMax < s->xMin ||
      s->top + s->lines->count - 1 > s->bottom)
    return VLT_ERR_ASSERT;
  const bool sampled = s->flags & COLORCC_SAMPLED, washed = s->flags & COLORCC_WASHED;
  size_t total = 0;
  for (const VltAdtListNode* n = s->lines->first; n != nullptr; n = n->next)
    for (const ColorRunRecord* r = static_cast<const ColorRunRecord*>(n->data); r != nullptr; r = r->next)
      total += r->count;
  if (total == 0) return VLT_ERR_ASSERT;
  size_t bytes = 0;
  if (!mono::checked_mul(total, size_t(4), &bytes)) return Vlt_report(engine, VLT_ERR_NOMEM);
  void* block = nullptr;
  if (VltStatus st = engine->smallAlloc(engine->smallContext, COLORCC_POOL_FLAT, &block)) return st;
  auto* cc = static_cast<ColorCC*>(block);
  memset(cc, 0, sizeof(ColorCC));
  cc->xMin = s->xMin;
  cc->top = s->top;
  cc->xMax = s->xMax;
  cc->bottom = s->bottom;
  cc->flags = s->flags & colorcc::kFormFlags;
  auto fail = [&](VltStatus st) {
    VltCC_freeColorCC(engine, cc);
    return st;
  };
  cc->runs = static_cast<uint16_t*>(engine->malloc(bytes));
  if (cc->runs == nullptr) return fail(Vlt_report(engine, VLT_ERR_NOMEM));
  VltImage* image = nullptr;
  if (sampled || washed) {
    // Zeroed, so pixels outside the runs never show what the memory held before.
    if (VltStatus st = VltImage_new(engine, VLT_IMAGE_RGB, s->xMax - s->xMin + 1, s->bottom - s->top + 1, &image))
      return fail(st);
    cc->colour.image = image;
  } else {
    cc->colour.rgb[0] = uint8_t(s->colour >> 16);
    cc->colour.rgb[1] = uint8_t(s->colour >> 8);
    cc->colour.rgb[2] = uint8_t(s->colour);
  }
  uint32_t count = 0;
  int32_t y = s->top;
  for (const VltAdtListNode* n = s->lines->first; n != nullptr; n = n->next, ++y) {
    const uint32_t lineStart = count;
    for (const ColorRunRecord* r = static_cast<const ColorRunRecord*>(n->data); r != nullptr; r = r->next)
      for (uint32_t i = 0; i < r->count; ++i) {
        const int32_t x = r->runs[i].x, len = r->runs[i].length;
        if (x < s->xMin || len == 0 || x + len - 1 > s->xMax) return fail(VLT_ERR_ASSERT);
        const int32_t rx = x - s->xMin;
        if (image != nullptr) {
          uint8_t* px = VltImage_pixel<uint8_t>(image, rx, y - s->top);
          if (sampled) {
            if (r->samples[i] == 0) return fail(VLT_ERR_ASSERT);
            memcpy(px, reinterpret_cast<const uint8_t*>(r->samples[i]), size_t(len) * 3);
          } else {
            const uint32_t c = uint32_t(r->samples[i]);
            for (int32_t p = 0; p < len; ++p, px += 3) {
              px[0] = uint8_t(c >> 16);
              px[1] = uint8_t(c >> 8);
              px[2] = uint8_t(c);
            }
          }
        }
        // Washed pieces of different colours may abut; in the delivered runs they are one run.
        if (washed && count > lineStart && cc->runs[2 * (count - 1)] + cc->runs[2 * (count - 1) + 1] == rx) {
          cc->runs[2 * (count - 1) + 1] = uint16_t(cc->runs[2 * (count - 1) + 1] + len);
          continue;
        }
        cc->runs[2 * count] = uint16_t(rx);
        cc->runs[2 * count + 1] = uint16_t(len);
        ++count;
      }
  }
  cc->count = count;
  if (count < total)
    if (auto* shrunk = static_cast<uint16_t*>(engine->realloc(cc->runs, size_t(count) * 4))) cc->runs = shrunk;
  clear_lines(engine, s->lines, sampled_form(s), sampled);
  VltAdt_liFree(s->lines);
  s->lines = nullptr;
  *place = cc;
  return VLT_OK;
}

void VltCC_freeColorCC(VltState* engine, ColorCC* cc) {
  if (engine == nullptr || cc == nullptr) return;
  engine->free(cc->runs);
  if (cc->flags & colorcc::kFormFlags) VltImage_free(cc->colour.image);
  engine->smallFree(engine->smallContext, COLORCC_POOL_FLAT, cc);
}

namespace {

// One piece of one colour of a line, while a sampled component is cut up.
struct Piece {
  uint16_t x;
  uint16_t length;
  uint32_t rgb;
  uint32_t group;
};

struct PieceLine {
  Piece* items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;
};

// A flat component being built from pieces.
struct Group {
  ColorCCState* state;
  VltAdtListNode* node;      // the node of its latest line
  ColorRunRecord* tail;      // last record of that line's chain
  int32_t lastLine;
};

template <typename T>
VltStatus grow(VltState* engine, T** items, uint32_t* capacity) {
  const uint32_t next = *capacity == 0 ? 16 : *capacity * 2;
  size_t bytes = 0;
  if (next < *capacity || !mono::checked_mul(size_t(next), sizeof(T), &bytes)) return Vlt_report(engine, VLT_ERR_NOMEM);
  auto* grown = static_cast<T*>(engine->realloc(*items, bytes));
  if (grown == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  *items = grown;
  *capacity = next;
  return VLT_OK;
}

struct Splitter {
  explicit Splitter(VltState* e) : engine(e) {}
  Splitter(const Splitter&) = delete;
  Splitter& operator=(const Splitter&) = delete;
  VltState* engine;
  PieceLine lines[2];
  PieceLine* prev = &lines[0];
  PieceLine* cur = &lines[1];
  Group* groups = nullptr;
  uint32_t groupCount = 0;
  uint32_t groupCapacity = 0;

  ~Splitter() {
    engine->free(lines[0].items);
    engine->free(lines[1].items);
    for (uint32_t i = 0; i < groupCount; ++i) ccstate_cleanup(engine, &groups[i].state);
    engine->free(groups);
  }

  VltStatus new_group(int32_t y, uint32_t rgb, uint32_t* index) {
    if (groupCount == groupCapacity)
      if (VltStatus st = grow(engine, &groups, &groupCapacity)) return st;
    auto* s = static_cast<ColorCCState*>(engine->calloc(1, sizeof(ColorCCState)));
    if (s == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
    if (VltStatus st = VltAdt_liNew(&s->lines, engine)) {
      engine->free(s);
      return st;
    }
    s->id = -1;
    s->top = uint16_t(y);
    s->colour = rgb;
    s->xMin = UINT16_MAX;
    groups[groupCount] = Group{s, nullptr, nullptr, -1};
    *index = groupCount++;
    return VLT_OK;
  }

  VltStatus piece(int32_t y, uint16_t x, uint16_t length, uint32_t rgb) {
    uint32_t g = UINT32_MAX;
    const uint32_t end = uint32_t(x) + length;
    for (uint32_t i = 0; i < prev->count; ++i) {
      const Piece& q = prev->items[i];
      if (q.rgb == rgb && q.x <= end && x <= uint32_t(q.x) + q.length) {
        g = q.group;
        break;
      }
    }
    if (g == UINT32_MAX)
      if (VltStatus st = new_group(y, rgb, &g)) return st;
    Group& grp = groups[g];
    ColorCCState* s = grp.state;
    if (grp.lastLine != y) {
      if (VltStatus st = VltAdt_liAdd(s->lines, nullptr, &grp.node)) return st;
      grp.tail = nullptr;
      grp.lastLine = y;
    }
    if (grp.tail == nullptr || grp.tail->count == COLORCC_RUNS_PER_RECORD) {
      ColorRunRecord* r = nullptr;
      if (VltStatus st = colorcc::new_record(engine, 0, &r)) return st;
      if (grp.tail != nullptr)
        grp.tail->next = r;
      else
        grp.node->data = r;
      grp.tail = r;
    }
    grp.tail->runs[grp.tail->count].x = x;
    grp.tail->runs[grp.tail->count].length = length;
    ++grp.tail->count;
    s->xMin = std::min(s->xMin, x);
    s->xMax = std::max(s->xMax, uint16_t(end - 1));
    s->bottom = uint16_t(y);
    s->pixels += length;
    if (cur->count == cur->capacity)
      if (VltStatus st = grow(engine, &cur->items, &cur->capacity)) return st;
    cur->items[cur->count++] = Piece{x, length, rgb, g};
    return VLT_OK;
  }
};

}  // namespace

VltStatus ccstate_disassembleSampledCC(VltState* engine, ColorCCState* s, VltAdtList** place) {
  if (place == nullptr) return VLT_ERR_ASSERT;
  *place = nullptr;
  if (engine == nullptr || Vlt_getPoolSize(COLORCC_POOL_FLAT) < int32_t(std::max(COLORCC_FLAT_RECORD_SIZE, sizeof(ColorCC))))
    return VLT_ERR_ASSERT;
  if (s == nullptr || !(s->flags & colorcc::kFormFlags) || (s->flags & COLORCC_BACKGROUND) || s->lines == nullptr ||
      (s->prevSegs != nullptr && s->prevSegs->count > 0) || (s->curSegs != nullptr && s->curSegs->count > 0))
    return VLT_ERR_ASSERT;
  const bool washed = s->flags & COLORCC_WASHED;
  Splitter split(engine);
  int32_t y = s->top;
  for (const VltAdtListNode* n = s->lines->first; n != nullptr; n = n->next, ++y) {
    split.cur->count = 0;
    for (const ColorRunRecord* r = static_cast<const ColorRunRecord*>(n->data); r != nullptr; r = r->next)
      for (uint32_t i = 0; i < r->count; ++i) {
        const uint16_t x = r->runs[i].x, len = r->runs[i].length;
        if (washed) {
          if (VltStatus st = split.piece(y, x, len, uint32_t(r->samples[i]) & COLORCC_WHITE)) return st;
          continue;
        }
        // Samples are 3 bytes a pixel: a piece ends where those bytes change.
        const auto* px = reinterpret_cast<const uint8_t*>(r->samples[i]);
        uint16_t start = 0;
        for (uint16_t p = 1; p <= len; ++p)
          if (p == len || memcmp(px + 3 * size_t(p), px + 3 * size_t(start), 3) != 0) {
            if (VltStatus st = split.piece(y, uint16_t(x + start), uint16_t(p - start), rgb_of(px + 3 * size_t(start))))
              return st;
            start = p;
          }
      }
    std::swap(split.prev, split.cur);
  }
  VltAdtList* out = nullptr;
  if (VltStatus st = VltAdt_liNew(&out, engine)) return st;
  for (uint32_t i = 0; i < split.groupCount; ++i) {
    ColorCC* cc = nullptr;
    VltStatus st = ccstate_convertToColorCC(engine, split.groups[i].state, &cc);
    if (st == VLT_OK && (st = VltAdt_liAdd(out, cc, nullptr)) != VLT_OK) VltCC_freeColorCC(engine, cc);
    if (st != VLT_OK) {
      for (VltAdtListNode* o = out->first; o != nullptr; o = o->next)
        VltCC_freeColorCC(engine, static_cast<ColorCC*>(o->data));
      VltAdt_liFree(out);
      return st;
    }
  }
  clear_lines(engine, s->lines, 1, !washed);
  *place = out;
  return VLT_OK;
}

VltStatus ccstate_cleanup(VltState* engine, ColorCCState** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  ColorCCState* s = *place;
  clear_lines(engine, s->lines, sampled_form(s), (s->flags & COLORCC_SAMPLED) != 0);
  free_lists(s);
  engine->free(s);
  *place = nullptr;
  return VLT_OK;
}
