// Colour components: the finder, the strip driver, line reading and delivery.

#include <string.h>

#include <algorithm>

#include "checked_size.h"
#include "tok_colorcc.h"
#include "tok_colorcc_internal.h"

namespace {

bool same_colour(const ColorSegment& a, const ColorSegment& b) {
  if (a.sampled || b.sampled) return a.sampled && b.sampled;
  return a.colour == b.colour;
}

// Frees every component of the page that is not delivered and empties the line buffers: what a
// failed strip leaves behind cannot be continued.
void abandon_page(ColorCCFinder* f) {
  VltState* engine = f->engine;
  if (ColorCCMap* map = f->map) {
    for (int32_t i = 0; i < map->capacity; ++i) {
      ColorCCState* s = map->slots[i].state;
      if (s == nullptr) continue;
      map->slots[i].state = nullptr;
      ccstate_cleanup(engine, &s);
      if (i > 0) memset(map->slots[i].row, 0, sizeof(ColorCCAdj) * size_t(i));
    }
    map->live = 0;
    map->firstFree = 0;
    cccmap_collapse(engine, map);
  }
  if (f->rim != nullptr) rim_endPage(engine, f->rim);
  f->finished = 0;
}

void swap_lines(ColorCCFinder* f) {
  std::swap(f->rim->prev, f->rim->cur);
  colorcc::rim_empty(f->engine, &f->rim->cur);
}

VltStatus visit(ColorCCFinder* f) {
  ColorCCMap* map = f->map;
  for (int32_t i = 0; i < map->capacity; ++i) {
    ColorCCState* s = map->slots[i].state;
    if (s == nullptr) continue;
    if (ccstate_status(s) == COLORCC_ACTIVE) {
      if (VltStatus st = ccstate_movetoNextLine(f, s)) return st;
      if (s->bottom < f->line) {
        ccstate_setStatus(s, COLORCC_FINISHED);
        ++f->finished;
      }
    }
    if (s->colour == COLORCC_WHITE && !(s->flags & (COLORCC_BACKGROUND | COLORCC_WASHED | COLORCC_SAMPLED)))
      if (VltStatus st = ccstate_makeBackground(f, s)) return st;
  }
  return VLT_OK;
}

VltStatus grow_line(VltState* engine, ColorCCLineBuf* buf) {
  const uint32_t next = buf->capacity + COLORCC_RIM_STEP;
  size_t bytes = 0;
  if (!mono::checked_mul(size_t(next), sizeof(ColorSegment), &bytes)) return Vlt_report(engine, VLT_ERR_NOMEM);
  auto* segs = static_cast<ColorSegment*>(engine->realloc(buf->segs, bytes));
  if (segs == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  buf->segs = segs;
  buf->capacity = next;
  return VLT_OK;
}

VltStatus mark_adjacent(ColorCCFinder* f, ColorCCState* a, ColorCCState* b) {
  ColorCCMap* map = f->map;
  if (a->id < 0 || b->id < 0 || a->id >= map->capacity || b->id >= map->capacity) return VLT_ERR_ASSERT;
  ColorCCAdj* c = cccmap_cell(map, a->id, b->id);
  if (c->flags & COLORCC_ADJACENT) return VLT_OK;
  c->flags = COLORCC_ADJACENT;
  c->distance = vltcc_colourDistance(a, b);
  ++a->adjacent;
  ++b->adjacent;
  if (c->distance < f->washThreshold) {
    c->flags |= COLORCC_SIMILAR;
    ++a->similar;
    ++b->similar;
  }
  return VLT_OK;
}

// Gives the finished segment `index` of the current line its component and records its contacts
// with the previous line. *from is the first previous-line segment that can still touch it.
VltStatus place_segment(ColorCCFinder* f, uint32_t index, uint32_t* from) {
  const ColorCCLineBuf& prev = f->rim->prev;
  ColorCCLineBuf& cur = f->rim->cur;
  const uint32_t s = cur.segs[index].x;
  const uint32_t e = s + cur.segs[index].length;
  // Previous-line segments touch [s, e) 8-connectedly when they cover a pixel of [s - 1, e].
  while (*from < prev.count && uint32_t(prev.segs[*from].x) + prev.segs[*from].length < s) ++*from;
  ColorCCState* own = nullptr;
  for (uint32_t j = *from; j < prev.count && prev.segs[j].x <= e; ++j) {
    if (j > 0 && uint32_t(prev.segs[j - 1].x) + prev.segs[j - 1].length != prev.segs[j].x) return VLT_ERR_ASSERT;
    if (same_colour(prev.segs[j], cur.segs[index])) {
      own = prev.segs[j].component;
      if (own == nullptr) return VLT_ERR_ASSERT;
      break;
    }
  }
  if (own != nullptr) {
    const ColorSegment& seg = cur.segs[index];
    if (VltStatus st = VltAdt_liAdd(own->curSegs, reinterpret_cast<void*>(uintptr_t(index)), nullptr)) return st;
    own->pixels += seg.length;
    own->bottom = uint16_t(f->line);
    own->xMin = std::min(own->xMin, seg.x);
    own->xMax = std::max(own->xMax, uint16_t(e - 1));
  } else {
    if (VltStatus st = ccstate_init(f, index, &own)) return st;
    if (VltStatus st = cccmap_add(f->engine, f->map, own)) {
      ccstate_cleanup(f->engine, &own);
      return st;
    }
  }
  cur.segs[index].component = own;
  // The segment to the left on the same line touches this one too; without this contact two
  // regions meeting only side by side on their last line would never be seen as neighbours.
  if (index > 0) {
    ColorCCState* left = cur.segs[index - 1].component;
    if (left == nullptr) return VLT_ERR_ASSERT;
    if (left != own)
      if (VltStatus st = mark_adjacent(f, own, left)) return st;
  }
  for (uint32_t j = *from; j < prev.count && prev.segs[j].x <= e; ++j) {
    ColorCCState* other = prev.segs[j].component;
    if (other == own) continue;
    if (other == nullptr) return VLT_ERR_ASSERT;
    if (same_colour(prev.segs[j], cur.segs[index])) {
      // The larger component survives, the segment's own on a tie.
      if (other->pixels > own->pixels) {
        if (VltStatus st = ccstate_merge(f, other, &own)) return st;
        own = other;
      } else if (VltStatus st = ccstate_merge(f, own, &other)) {
        return st;
      }
    } else if (VltStatus st = mark_adjacent(f, own, other)) {
      return st;
    }
  }
  return VLT_OK;
}

}  // namespace

VltStatus colorcc::flush_finished(ColorCCFinder* f) {
  if (f->washThreshold != COLORCC_FAR)
    if (VltStatus st = vltcc_washMerge(f)) return st;
  return vltcc_updateStatus(f);
}

uint16_t vltcc_colourDistance(const ColorCCState* a, const ColorCCState* b) {
  constexpr uint32_t incomparable = COLORCC_SAMPLED | COLORCC_WASHED | COLORCC_BACKGROUND;
  if ((a->flags | b->flags) & incomparable) return COLORCC_FAR;
  uint32_t d = 0;
  for (int shift : {16, 8, 0}) {
    const int32_t delta = int32_t((a->colour >> shift) & 0xFF) - int32_t((b->colour >> shift) & 0xFF);
    d += uint32_t(delta * delta);
  }
  // Up to 3 x 255^2; anything beyond the cell's 16 bits is as far as "not comparable".
  return uint16_t(std::min<uint32_t>(d, COLORCC_FAR));
}

VltStatus VltCC_init(VltState* engine, ColorCCFinder** place) {
  if (place == nullptr) return VLT_ERR_NULL;
  *place = nullptr;
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (Vlt_getPoolSize(COLORCC_POOL_FLAT) < int32_t(std::max(COLORCC_FLAT_RECORD_SIZE, sizeof(ColorCC))) ||
      Vlt_getPoolSize(COLORCC_POOL_SAMPLED) < int32_t(sizeof(ColorRunRecord)))
    return VLT_ERR_ASSERT;
  auto* f = static_cast<ColorCCFinder*>(engine->calloc(1, sizeof(ColorCCFinder)));
  if (f == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  f->engine = engine;
  f->washThreshold = COLORCC_FAR;
  VltStatus st = cccmap_init(engine, &f->map);
  if (st == VLT_OK) st = rim_init(engine, &f->rim);
  if (st != VLT_OK) {
    VltCC_cleanup(&f);
    return st;
  }
  *place = f;
  return VLT_OK;
}

VltStatus VltCC_cleanup(ColorCCFinder** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  ColorCCFinder* f = *place;
  VltState* engine = f->engine;
  abandon_page(f);
  cccmap_cleanup(engine, &f->map);
  rim_cleanup(engine, &f->rim);
  engine->free(f);
  *place = nullptr;
  return VLT_OK;
}

VltStatus VltCC_initPage(ColorCCFinder* f, int32_t width, int32_t height, uint16_t washThreshold) {
  if (f == nullptr) return VLT_ERR_NULL;
  if (width < 0 || height < 0 || width > UINT16_MAX || height > UINT16_MAX) return Vlt_report(f->engine, VLT_ERR_PARAM);
  if (f->map->live > 0) abandon_page(f);
  f->line = 0;
  f->width = width;
  f->height = height;
  f->washThreshold = washThreshold;
  f->finished = 0;
  return VLT_OK;
}

VltStatus vltcc_readLine(ColorCCFinder* f) {
  if (f == nullptr || f->readLine == nullptr || f->rim == nullptr) return VLT_ERR_ASSERT;
  VltState* engine = f->engine;
  ColorCCLineBuf& cur = f->rim->cur;
  uint32_t x = 0;
  uint32_t from = 0;
  bool pending = false;  // the last segment of the buffer may still be joined by the next one
  for (;;) {
    if (cur.count == cur.capacity)
      if (VltStatus st = grow_line(engine, &cur)) return st;
    ColorSegment& seg = cur.segs[cur.count];
    memset(&seg, 0, sizeof(seg));
    uint32_t flags = 0;
    if (VltStatus st = f->readLine(&seg, &flags, f->readData, engine)) return st;
    if (flags & 0xFF) break;
    // From here on the segment's samples are the finder's, whatever becomes of the segment.
    seg.x = uint16_t(x);
    seg.component = nullptr;
    if (seg.sampled) {
      seg.sampled = 1;
      if (seg.colour == 0) return Vlt_report(engine, VLT_ERR_PARAM);
    } else {
      seg.colour &= COLORCC_WHITE;
    }
    auto drop = [&] {
      if (seg.sampled) engine->free(reinterpret_cast<void*>(seg.colour));
    };
    if (seg.length == 0) {
      drop();
      continue;
    }
    if (x + seg.length > uint32_t(f->width)) {
      drop();
      return Vlt_report(engine, VLT_ERR_PARAM);
    }
    x += seg.length;
    if (pending) {
      ColorSegment& last = cur.segs[cur.count - 1];
      if (same_colour(last, seg)) {
        if (seg.sampled) {
          const size_t have = size_t(last.length) * 3, more = size_t(seg.length) * 3;
          auto* joined = static_cast<uint8_t*>(engine->realloc(reinterpret_cast<void*>(last.colour), have + more));
          if (joined == nullptr) {
            drop();
            return Vlt_report(engine, VLT_ERR_NOMEM);
          }
          memcpy(joined + have, reinterpret_cast<const void*>(seg.colour), more);
          drop();
          last.colour = reinterpret_cast<uintptr_t>(joined);
        }
        last.length = uint16_t(last.length + seg.length);
        continue;
      }
      // The new segment is kept (counted) first, so that a failure below frees its samples too.
      ++cur.count;
      if (VltStatus st = place_segment(f, cur.count - 2, &from)) return st;
      continue;
    }
    ++cur.count;
    pending = true;
  }
  if (pending)
    if (VltStatus st = place_segment(f, cur.count - 1, &from)) return st;
  return VLT_OK;
}

VltStatus vltcc_endLine(ColorCCFinder* f) {
  if (f == nullptr || f->map == nullptr || f->rim == nullptr) return VLT_ERR_ASSERT;
  if (VltStatus st = visit(f)) return st;
  swap_lines(f);
  ++f->line;
  return VLT_OK;
}

VltStatus vltcc_updateStatus(ColorCCFinder* f) {
  if (f == nullptr || f->map == nullptr) return VLT_ERR_ASSERT;
  VltState* engine = f->engine;
  ColorCCMap* map = f->map;
  // With washing off nothing will ever merge similar neighbours, so similarity holds nothing back.
  const bool washOff = f->washThreshold == COLORCC_FAR;
  for (int32_t i = 0; i < map->capacity; ++i) {
    ColorCCState* s = map->slots[i].state;
    if (s == nullptr) continue;
    if (ccstate_status(s) == COLORCC_FINISHED) ccstate_setStatus(s, COLORCC_PENDING);
    if (ccstate_status(s) != COLORCC_PENDING || (s->similar > 0 && !washOff)) continue;
    if (!(s->flags & COLORCC_BACKGROUND)) {
      ColorCC* cc = nullptr;
      if (VltStatus st = ccstate_convertToColorCC(engine, s, &cc)) return st;
      VltAdtList* list = (cc->flags & colorcc::kFormFlags) ? f->imageList : f->flatList;
      if (VltStatus st = VltAdt_liAdd(list, cc, nullptr)) {
        VltCC_freeColorCC(engine, cc);
        return st;
      }
    }
    cccmap_rem(map, i);
    ccstate_cleanup(engine, &s);
  }
  f->finished = 0;
  return VLT_OK;
}

VltStatus VltCC_doStrip(ColorCCFinder* f, ColorCCReadLineFn readLine, void* readData, int32_t lines,
                        VltAdtList* flatList, VltAdtList* imageList) {
  if (f == nullptr) return VLT_ERR_NULL;
  VltState* engine = f->engine;
  if (readLine == nullptr || flatList == nullptr || imageList == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  if (lines <= 0) return VLT_OK;
  if (lines > f->height - f->line) return Vlt_report(engine, VLT_ERR_PARAM);
  f->readLine = readLine;
  f->readData = readData;
  f->flatList = flatList;
  f->imageList = imageList;
  VltStatus st = VLT_OK;
  for (int32_t i = 0; st == VLT_OK && i < lines; ++i) {
    st = vltcc_readLine(f);
    if (st == VLT_OK) st = vltcc_endLine(f);
  }
  // The closing pass finishes every component: none continues into the next strip.
  if (st == VLT_OK) st = visit(f);
  if (st == VLT_OK) {
    swap_lines(f);
    rim_endPage(engine, f->rim);
    if (f->map->live > 0) st = colorcc::flush_finished(f);
  }
  if (st != VLT_OK) {
    abandon_page(f);
    return st;
  }
  return cccmap_collapse(engine, f->map);
}
