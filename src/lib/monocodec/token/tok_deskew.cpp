// Token deskew: straightening a section's tokens, run-stored components and positions.

#include "tok_deskew.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "byteorder.h"
#include "pixr_geom.h"
#include "tok_bufcc.h"
#include "tok_pagecc.h"
#include "vlt_stripes.h"

namespace {

int32_t words_for(int32_t width) { return (width + 31) / 32; }

// The section's page of a component, or -1 when it lies on none.
int32_t page_index(const TclySection* s, const TokComponent* c) {
  const int64_t i = int64_t{c->pageNumber} - s->firstPage;
  return i >= 0 && i < s->pageCount ? static_cast<int32_t>(i) : -1;
}

bool exceeds(int32_t width, int32_t height, int32_t length) { return width > length || height > length; }

// The member entries of a class in page groups: entries of the page of the first entry, in their
// order, then those of the page of the first entry left, and so on. groupStart[g] is the first
// entry of group g, groupStart[groups] the entry count. Everything comes from the engine
// allocator and goes back with release().
struct PageGroups {
  VltState* es = nullptr;
  void** entries = nullptr;
  int32_t* pages = nullptr;       // section page index of each entry
  int32_t* groupStart = nullptr;
  int32_t groups = 0;

  void release() {
    es->free(entries);
    es->free(pages);
    es->free(groupStart);
    entries = nullptr;
    pages = nullptr;
    groupStart = nullptr;
  }

  VltStatus build(const TclySection* s, const VltAdtList* members) {
    const size_t n = members->count;
    const size_t slots = n > 0 ? n : 1;
    auto* in = static_cast<void**>(es->malloc(slots * sizeof(void*)));
    auto* inPages = static_cast<int32_t*>(es->malloc(slots * sizeof(int32_t)));
    auto* taken = static_cast<uint8_t*>(es->calloc(slots, 1));
    entries = static_cast<void**>(es->malloc(slots * sizeof(void*)));
    pages = static_cast<int32_t*>(es->malloc(slots * sizeof(int32_t)));
    groupStart = static_cast<int32_t*>(es->malloc((slots + 1) * sizeof(int32_t)));
    const auto done = [&](VltStatus st) {
      es->free(in);
      es->free(inPages);
      es->free(taken);
      if (st != VLT_OK) release();
      return st;
    };
    if (in == nullptr || inPages == nullptr || taken == nullptr || entries == nullptr || pages == nullptr ||
        groupStart == nullptr)
      return done(Vlt_report(es, VLT_ERR_NOMEM));
    size_t k = 0;
    for (const VltAdtListNode* m = members->first; m != nullptr && k < n; m = m->next, ++k) {
      const auto* member = static_cast<const TokMemberPos*>(m->data);
      if (member == nullptr || member->owner == nullptr) return done(VLT_ERR_ASSERT);
      const int32_t page = page_index(s, static_cast<const TokComponent*>(member->owner));
      if (page < 0) return done(VLT_ERR_ASSERT);
      in[k] = m->data;
      inPages[k] = page;
    }
    if (k != n) return done(VLT_ERR_ASSERT);
    size_t out = 0;
    groups = 0;
    for (size_t i = 0; i < n; ++i) {
      if (taken[i]) continue;
      groupStart[groups++] = static_cast<int32_t>(out);
      for (size_t j = i; j < n; ++j)
        if (!taken[j] && inPages[j] == inPages[i]) {
          taken[j] = 1;
          entries[out] = in[j];
          pages[out++] = inPages[j];
        }
    }
    groupStart[groups] = static_cast<int32_t>(out);
    return done(VLT_OK);
  }
};

// A new member list with the entries in group order; the old list is freed and replaced.
VltStatus install(VltState* es, TokOutput* cls, const PageGroups& g) {
  VltAdtList* list = nullptr;
  if (const VltStatus st = VltAdt_liNew(&list, es); st != VLT_OK) return st;
  for (int32_t i = 0; i < g.groupStart[g.groups]; ++i)
    if (const VltStatus st = VltAdt_liAdd(list, g.entries[i], nullptr); st != VLT_OK) {
      VltAdt_liFree(list);
      return st;
    }
  VltAdt_liFree(cls->members);
  cls->members = list;
  return VLT_OK;
}

TokComponent* component_of(void* entry) { return static_cast<TokComponent*>(static_cast<TokMemberPos*>(entry)->owner); }

void release_lengths(DeskewContext* ctx) {
  ctx->state->free(ctx->straighteningLengths);
  ctx->straighteningLengths = nullptr;
  ctx->leastStraighteningLength = TOK_NO_STRAIGHTENING;
}

// Straightens one page group of a class into its components.
VltStatus straighten_group(DeskewContext* ctx, VltAdtList* own, TclySection* s, TokOutput* cls, const PageGroups& g,
                           int32_t group) {
  VltState* es = ctx->state;
  const int32_t first = g.groupStart[group], end = g.groupStart[group + 1];
  const int32_t page = g.pages[first];
  const int32_t length = ctx->straighteningLengths[page];
  const TokBitmap& bm = cls->exemplar;
  if (length == 0 || !exceeds(bm.width, bm.height, length)) return VLT_OK;
  const TclyPage& p = s->pages[page];
  uint8_t* bits = nullptr;
  int32_t w = 0, h = 0, wpl = 0;
  if (const VltStatus st = VltDeskew_bmp(bm.bits, bm.width, bm.height, bm.wordsPerLine, &bits, &w, &h, &wpl,
                                         p.skewAngle, p.width, p.height, es);
      st != VLT_OK)
    return st;
  // A rotation that lost every pixel leaves the group as it was.
  if (bits == nullptr) return VLT_OK;
  const auto fail = [&](VltStatus st) {
    es->free(bits);
    return st;
  };
  if (wpl != words_for(w) || w > UINT16_MAX || h > UINT16_MAX) return fail(VLT_ERR_ASSERT);
  TokComponent* lead = component_of(g.entries[first]);
  const int32_t dx = (w - int32_t{bm.width}) >> 1, dy = (h - int32_t{bm.height}) >> 1;
  const auto take = [&](TokComponent* c) {
    c->x -= dx;
    c->y += dy;
    c->bitmap.bits = bits;
    c->bitmap.width = static_cast<uint16_t>(w);
    c->bitmap.height = static_cast<uint16_t>(h);
    c->bitmap.wordsPerLine = static_cast<uint16_t>(wpl);
  };
  if (lead->sharedBitmap == nullptr && cls->members->count <= 1) {
    if (const VltStatus st = VltAdt_liAdd(own, lead, nullptr); st != VLT_OK) return fail(st);
    take(lead);
    return VLT_OK;
  }
  // The section output makes no shared records, so the first straightening of a class's group
  // starts a record with nothing before it; the record, not the class, then owns the bitmap.
  const auto* previous = static_cast<const DeskewSharedBitmap*>(lead->sharedBitmap);
  auto* record = static_cast<DeskewSharedBitmap*>(es->calloc(1, sizeof(DeskewSharedBitmap)));
  auto* node = static_cast<DeskewReferenceNode*>(es->calloc(1, sizeof(DeskewReferenceNode)));
  if (record == nullptr || node == nullptr) {
    es->free(record);
    es->free(node);
    return fail(Vlt_report(es, VLT_ERR_NOMEM));
  }
  *node = DeskewReferenceNode{previous != nullptr ? previous->references : nullptr, nullptr};
  *record = DeskewSharedBitmap{bits, node, end - first, static_cast<uint16_t>(w), static_cast<uint16_t>(h),
                               static_cast<uint16_t>(wpl), 0};
  for (int32_t i = first; i < end; ++i) {
    TokComponent* c = component_of(g.entries[i]);
    const auto* held = static_cast<const DeskewSharedBitmap*>(c->sharedBitmap);
    // A bitmap of the class or of a shared record belongs to its holder, and several
    // components may point at it; only a component's own copy goes here.
    if (c->bitmap.bits != nullptr && c->bitmap.bits != bm.bits && (held == nullptr || c->bitmap.bits != held->bitmap))
      es->free(c->bitmap.bits);
    c->sharedBitmap = record;
    take(c);
  }
  return VLT_OK;
}

}  // namespace

int32_t tok_straighteningLength(float angle) {
  if (angle == 0.0f) return 0;
  return static_cast<int32_t>(std::fabs(2.0 / std::sin(static_cast<double>(angle))));
}

VltStatus countTokensToBeDeskewed(DeskewContext* ctx, TclySection* s) {
  if (ctx == nullptr) return VLT_ERR_NULL;
  VltState* es = ctx->state;
  if (s == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  const size_t pages = s->pageCount > 0 ? static_cast<size_t>(s->pageCount) : 1;
  auto* lengths = static_cast<int32_t*>(es->malloc(pages * sizeof(int32_t)));
  if (lengths == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  int32_t least = TOK_NO_STRAIGHTENING;
  for (int32_t i = 0; i < s->pageCount; ++i) {
    lengths[i] = tok_straighteningLength(s->pages[i].skewAngle);
    if (lengths[i] != 0 && lengths[i] < least) least = lengths[i];
  }
  if (s->classes != nullptr)
    for (VltAdtListNode* n = s->classes->first; n != nullptr; n = n->next) {
      auto* cls = static_cast<TokOutput*>(n->data);
      if (cls == nullptr || cls->members == nullptr) {
        es->free(lengths);
        return VLT_ERR_ASSERT;
      }
      if (cls->members->count <= 1 || !exceeds(cls->exemplar.width, cls->exemplar.height, least)) continue;
      PageGroups g{es};
      VltStatus st = g.build(s, cls->members);
      if (st == VLT_OK) {
        for (int32_t k = 0; k < g.groups; ++k) {
          const int32_t page = g.pages[g.groupStart[k]];
          if (lengths[page] != 0 && exceeds(cls->exemplar.width, cls->exemplar.height, lengths[page]))
            ++s->pages[page].deskewCount;
        }
        st = install(es, cls, g);
        g.release();
      }
      if (st != VLT_OK) {
        es->free(lengths);
        return st;
      }
    }
  es->free(ctx->straighteningLengths);
  ctx->straighteningLengths = lengths;
  ctx->leastStraighteningLength = least;
  return VLT_OK;
}

VltStatus deskewTokens(DeskewContext* ctx, VltAdtList* own, TclySection* s) {
  if (ctx == nullptr) return VLT_ERR_NULL;
  VltState* es = ctx->state;
  if (s == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  // The lengths come from the count, which must have run for this section.
  if (ctx->straighteningLengths == nullptr) return VLT_ERR_ASSERT;
  const int32_t least = ctx->leastStraighteningLength;
  VltStatus st = VLT_OK;
  if (s->classes != nullptr)
    for (VltAdtListNode* n = s->classes->first; st == VLT_OK && n != nullptr; n = n->next) {
      auto* cls = static_cast<TokOutput*>(n->data);
      if (cls == nullptr || cls->members == nullptr) {
        st = VLT_ERR_ASSERT;
        break;
      }
      if (!exceeds(cls->exemplar.width, cls->exemplar.height, least)) continue;
      PageGroups g{es};
      st = g.build(s, cls->members);
      if (st != VLT_OK) break;
      for (int32_t k = 0; st == VLT_OK && k < g.groups; ++k) st = straighten_group(ctx, own, s, cls, g, k);
      if (st == VLT_OK) st = install(es, cls, g);
      g.release();
    }
  release_lengths(ctx);
  return st;
}

VltStatus deskewOutliers(DeskewContext* ctx, TclyPage* page) {
  if (ctx == nullptr) return VLT_ERR_NULL;
  VltState* es = ctx->state;
  if (page == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (page->skewAngle == 0.0f || page->runStored == nullptr) return VLT_OK;
  const int32_t length = tok_straighteningLength(page->skewAngle);
  for (VltAdtListNode* n = page->runStored->first; n != nullptr; n = n->next) {
    auto* c = static_cast<TokComponent*>(n->data);
    if (c == nullptr) return VLT_ERR_ASSERT;
    const int32_t w = c->bitmap.width, h = c->bitmap.height;
    if (length == 0 || !exceeds(w, h, length)) continue;
    const int32_t wpl = c->bitmap.wordsPerLine;
    // Painting trusts nothing of the run list: every run must lie in the component's box.
    if (c->runs == nullptr || c->bitmap.bits != nullptr || wpl != words_for(w) || c->runCount < 0)
      return VLT_ERR_ASSERT;
    int32_t rows = c->runCount > 0 ? 1 : 0;
    for (int32_t i = 0; i < c->runCount; ++i) {
      if (c->runs[2 * i] > c->runs[2 * i + 1] || c->runs[2 * i + 1] >= w) return VLT_ERR_ASSERT;
      if (i > 0 && c->runs[2 * i] <= c->runs[2 * i - 1] + 1) ++rows;
    }
    if (rows > h) return VLT_ERR_ASSERT;
    auto* painted = static_cast<uint8_t*>(es->calloc(static_cast<size_t>(h), static_cast<size_t>(wpl) * 4));
    if (painted == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
    fillruns(painted, static_cast<uint32_t>(wpl), c->runs, c->runCount, 0, 0);
    es->free(c->runs);
    c->runs = nullptr;
    c->runCount = 0;
    c->y += h - 1;

    uint8_t* bits = painted;
    int32_t nw = w, nh = h, nwpl = wpl;
    if (w >= 2 && h >= 2) {
      uint8_t* turned = nullptr;
      if (const VltStatus st = VltDeskew_bmp(painted, w, h, wpl, &turned, &nw, &nh, &nwpl, page->skewAngle,
                                             page->width, h, es);
          st != VLT_OK) {
        c->bitmap.bits = painted;
        return st;
      }
      if (turned != nullptr) {
        bits = turned;
      } else {
        nw = w;
        nh = h;
        nwpl = wpl;
      }
    }
    if (nwpl != words_for(nw)) {
      if (bits != painted) es->free(bits);
      c->bitmap.bits = painted;
      return VLT_ERR_ASSERT;
    }
    c->x -= (nw - w) >> 1;
    if (c->x + nw > page->width) c->x = page->width - nw;
    c->y += (nh - h) >> 1;
    if (c->y + nh > page->height) c->y = page->height - nh;
    if (bits != painted) es->free(painted);
    c->bitmap.bits = bits;
    c->bitmap.width = static_cast<uint16_t>(nw);
    c->bitmap.height = static_cast<uint16_t>(nh);
    c->bitmap.wordsPerLine = static_cast<uint16_t>(nwpl);
    c->sharedBitmap = nullptr;
  }
  return VLT_OK;
}

VltStatus deskewPositions(DeskewContext* ctx, TclyPage* page) {
  if (ctx == nullptr) return VLT_ERR_NULL;
  if (page == nullptr) return Vlt_report(ctx->state, VLT_ERR_NULL);
  const float a = page->skewAngle;
  if (a == 0.0f || page->components == nullptr) return VLT_OK;
  int32_t k = 0;
  for (VltAdtListNode* n = page->components->first; n != nullptr && k < page->componentCount; n = n->next, ++k) {
    auto* t = static_cast<TokComponent*>(n->data);
    if (t == nullptr) return VLT_ERR_ASSERT;
    tok_turnPosition(page, t->bitmap.width, t->bitmap.height, &t->x, &t->y);
  }
  return VLT_OK;
}

void tok_turnPosition(const TclyPage* page, int32_t width, int32_t height, int32_t* x, int32_t* bottom) {
  const double s = std::sin(static_cast<double>(page->skewAngle)), c = std::cos(static_cast<double>(page->skewAngle));
  const int32_t dx = *x + (width >> 1) - (page->width >> 1);
  const int32_t dy = *bottom - (height >> 1) - (page->height >> 1);
  *x += static_cast<int32_t>(dx * c - dy * s + 0.5) - dx;
  *bottom += static_cast<int32_t>(dy * c + dx * s + 0.5) - dy;
}

VltStatus VltDeskew_bmp(const uint8_t* in, int32_t width, int32_t height, int32_t wordsPerLine, uint8_t** out,
                        int32_t* outWidth, int32_t* outHeight, int32_t* outWordsPerLine, float angle, int32_t maxWidth,
                        int32_t maxHeight, VltState* es) {
  if (out == nullptr || outWidth == nullptr || outHeight == nullptr || outWordsPerLine == nullptr)
    return Vlt_report(es, VLT_ERR_NULL);
  if (*out != nullptr) return Vlt_report(es, VLT_ERR_NOT_NULL);
  if (in == nullptr || width < 1 || height < 1 || wordsPerLine < words_for(width) || maxWidth < 1 || maxHeight < 1)
    return Vlt_report(es, VLT_ERR_PARAM);
  IPWState* w = es->ipwState;
  PIXR* source = nullptr;
  PIXR* turned = nullptr;
  uint8_t* bits = nullptr;
  const auto finish = [&](VltStatus st) {
    if (st != VLT_OK) {
      es->free(bits);
      *out = nullptr;
    }
    w_destroyPixr(w, &source);
    w_destroyPixr(w, &turned);
    return st;
  };
  if (const VltStatus st = packedToPixr(es, in, width, height, wordsPerLine, &source); st != VLT_OK) return finish(st);
  if (const VltStatus st = w_rotateArb(w, source, angle, 0, 0, &turned); st != VLT_OK) return finish(st);
  w_destroyPixr(w, &source);

  int32_t tw = 0, th = 0, bpl = 0;
  uint8_t* image = nullptr;
  VltStatus st = w_pixrGetWidth(w, turned, &tw);
  if (st == VLT_OK) st = w_pixrGetHeight(w, turned, &th);
  if (st == VLT_OK) st = w_pixrGetBpl(w, turned, &bpl);
  if (st == VLT_OK) st = w_pixrGetImage(w, turned, &image);
  if (st != VLT_OK) return finish(st);
  const int32_t words = words_for(tw);
  const uint32_t lastMask = tw % 32 == 0 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> (tw % 32));
  const auto word_at = [&](int32_t row, int32_t col) {
    const uint32_t v = mono::load_be32(image + static_cast<size_t>(row) * static_cast<size_t>(bpl) + 4 * static_cast<size_t>(col));
    return col == words - 1 ? v & lastMask : v;
  };
  int32_t top = -1, bottom = -1;
  for (int32_t r = 0; r < th && top < 0; ++r)
    for (int32_t col = 0; col < words; ++col)
      if (word_at(r, col) != 0) {
        top = r;
        break;
      }
  if (top < 0) {
    // Nothing kept its ink: an empty result, not a failure.
    *out = nullptr;
    *outWidth = 0;
    *outHeight = 0;
    *outWordsPerLine = 0;
    return finish(VLT_OK);
  }
  for (int32_t r = th - 1; r >= top && bottom < 0; --r)
    for (int32_t col = 0; col < words; ++col)
      if (word_at(r, col) != 0) {
        bottom = r;
        break;
      }
  const auto column_or = [&](int32_t col) {
    uint32_t v = 0;
    for (int32_t r = top; r <= bottom; ++r) v |= word_at(r, col);
    return v;
  };
  int32_t leftCol = 0, rightCol = words - 1;
  uint32_t leftBits = 0, rightBits = 0;
  while ((leftBits = column_or(leftCol)) == 0) ++leftCol;
  while ((rightBits = column_or(rightCol)) == 0) --rightCol;
  const int32_t left = 32 * leftCol + std::countl_zero(leftBits);
  const int32_t right = 32 * rightCol + 31 - std::countr_zero(rightBits);
  const int32_t boxWidth = std::min(right - left + 1, maxWidth), boxHeight = std::min(bottom - top + 1, maxHeight);

  if ((st = w_cutRectIP(w, left, top, boxWidth, boxHeight, turned)) != VLT_OK) return finish(st);
  int32_t cw = 0, ch = 0;
  st = w_pixrGetWidth(w, turned, &cw);
  if (st == VLT_OK) st = w_pixrGetHeight(w, turned, &ch);
  if (st == VLT_OK) st = w_pixrGetBpl(w, turned, &bpl);
  if (st == VLT_OK) st = w_pixrGetImage(w, turned, &image);
  if (st != VLT_OK) return finish(st);
  const int32_t cwpl = words_for(cw);
  const size_t rowBytes = static_cast<size_t>(cwpl) * 4;
  bits = static_cast<uint8_t*>(es->malloc(rowBytes * static_cast<size_t>(ch > 0 ? ch : 1)));
  if (bits == nullptr) return finish(Vlt_report(es, VLT_ERR_NOMEM));
  const uint32_t tail = cw % 32 == 0 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> (cw % 32));
  for (int32_t r = 0; r < ch; ++r) {
    uint8_t* row = bits + rowBytes * static_cast<size_t>(r);
    std::memcpy(row, image + static_cast<size_t>(r) * static_cast<size_t>(bpl), rowBytes);
    if (cwpl > 0) mono::store_be32(row + rowBytes - 4, mono::load_be32(row + rowBytes - 4) & tail);
  }
  *out = bits;
  *outWidth = cw;
  *outHeight = ch;
  *outWordsPerLine = cwpl;
  return finish(VLT_OK);
}
