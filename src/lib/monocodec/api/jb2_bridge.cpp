// The embedded JBIG2 stream of the token engine and the writer callbacks that fill it.

#include "jb2_bridge.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "jb2_decode.h"
#include "jb2_memsink.h"
#include "pixr.h"

namespace {

VltState* engine_of(const Jb2StreamState* s) { return jb2GetFileVlt_State(s->file); }

// The chunks of a closed sink, each released as it is taken.
void drop_chunks(VltAdtList* chunks, VltState* state) {
  if (chunks == nullptr) return;
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    if (c == nullptr) continue;
    state->free(c->buffer);
    state->free(c);
  }
  VltAdt_liFree(chunks);
}

// A context over a fresh memory sink with the profile's coding settings.
VltStatus open_file(VltState* state, uint32_t profile, Jb2File** file) {
  DataSink* sink = nullptr;
  if (const VltStatus st = jb2NewMemoryDataSink(state, &sink); st != VLT_OK) return st;
  if (const VltStatus st = jb2CreateFile(sink, sink, state, file); st != VLT_OK) {
    VltAdtList* chunks = nullptr;
    jb2CloseMemoryDataSink(sink, &chunks);
    drop_chunks(chunks, state);
    return st;
  }
  jb2ApplyProfile(jb2GetFileParams(*file), profile);
  return VLT_OK;
}

uint32_t page_of(const Jb2StreamState* s, uint32_t page) { return s->singlePage ? 1 : page; }

// Segment record and the symbol entries of the given records not yet in a dictionary; written
// and filed in the lists, or released whole.
VltStatus write_dictionary(VltTokenRecord* records, int32_t n, Jb2StreamState* s, bool page) {
  VltState* es = engine_of(s);
  int32_t fresh = 0;
  for (int32_t i = 0; i < n; ++i) fresh += records[i].inDictionary == 0 ? 1 : 0;
  if (fresh == 0) return VLT_OK;

  auto* seg = static_cast<SegmentInfo*>(es->calloc(1, sizeof(SegmentInfo)));
  auto* symbols = static_cast<Jb2Symbol*>(es->calloc(static_cast<size_t>(fresh), sizeof(Jb2Symbol)));
  auto* cell = static_cast<uint32_t*>(es->malloc(sizeof(uint32_t)));
  const auto release = [&](VltStatus st) {
    if (seg != nullptr) {
      es->free(seg->referred);
      es->free(seg->referredRetain);
    }
    es->free(seg);
    es->free(symbols);
    es->free(cell);
    return st;
  };
  if (seg == nullptr || symbols == nullptr || cell == nullptr) return release(Vlt_report(es, VLT_ERR_NOMEM));
  for (int32_t i = 0, k = 0; i < n; ++i) {
    VltTokenRecord& r = records[i];
    if (r.inDictionary != 0) continue;
    symbols[k++] = Jb2Symbol{r.width, r.height, r.bitmap, r.lineWords, 0, &r, 0};
  }
  seg->type = JB2_SEG_SYMBOL_DICT;
  seg->page = page ? page_of(s, 0) : 0;
  seg->body.symbolDict.count = fresh;
  seg->body.symbolDict.symbols = symbols;
  VltAdtList*& segments = page ? s->pageDictSegments : s->dictSegments;
  VltAdtList*& counts = page ? s->pageDictSymbolCounts : s->dictSymbolCounts;
  if (segments == nullptr)
    if (const VltStatus st = VltAdt_liNew(&segments, es); st != VLT_OK) return release(st);
  if (counts == nullptr)
    if (const VltStatus st = VltAdt_liNew(&counts, es); st != VLT_OK) return release(st);
  if (const VltStatus st = jb2EncodeSymDict(s->file, seg, nullptr, nullptr, nullptr, 1); st != VLT_OK)
    return release(st);
  // The tables the dictionary sent are read by no later segment through this record.
  es->free(seg->referred);
  es->free(seg->referredRetain);
  seg->referred = nullptr;
  seg->referredRetain = nullptr;
  seg->referredCount = 0;
  *cell = static_cast<uint32_t>(fresh);
  VltAdtListNode* node = nullptr;
  if (const VltStatus st = VltAdt_liAdd(segments, seg, &node); st != VLT_OK) return release(st);
  if (const VltStatus st = VltAdt_liAdd(counts, cell, nullptr); st != VLT_OK) {
    VltAdt_liRem(node);
    return release(st);
  }
  // From here the entries stand for the tokens in every later text region; they never own a
  // token's bitmap.
  for (int32_t k = 0; k < fresh; ++k) {
    static_cast<VltTokenRecord*>(symbols[k].owner)->inDictionary = 1;
    symbols[k].bits = nullptr;
  }
  if (page)
    s->pageDictSymbolCount = static_cast<uint32_t>(fresh);
  else
    s->sectionSymbolCount += static_cast<uint32_t>(fresh);
  return VLT_OK;
}

// Calls fn(symbol) for every entry of every dictionary the stream holds, section dictionaries
// first, in the order text regions number them.
template <class Fn>
void each_symbol(const Jb2StreamState* s, Fn fn) {
  for (const VltAdtList* list : {s->dictSegments, s->pageDictSegments}) {
    if (list == nullptr) continue;
    for (const VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
      const auto* seg = static_cast<const SegmentInfo*>(n->data);
      for (int32_t k = 0; k < seg->body.symbolDict.count; ++k) fn(&seg->body.symbolDict.symbols[k]);
    }
  }
}

int32_t list_count(const VltAdtList* l) { return l == nullptr ? 0 : static_cast<int32_t>(l->count); }

}  // namespace

void jb2ApplyProfile(Jb2FileParams* p, uint32_t profile) {
  if (profile == 1) {
    p->arith = 0;
    p->sdAllowTuned = 0;
    p->trArith = 0;
    p->trAllowTuned = 0;
    p->sdFixedTables = 1;
    p->trFixedTables = 1;
    p->trNoTopLeft = 1;
    p->trNoTranspose = 1;
  } else if (profile == 3) {
    p->arith = 1;
    p->generic.gbTemplate = 2;
    p->generic.atx[0] = 2;
    p->generic.aty[0] = -1;
    p->generic.tpgdon = 0;
    p->trArith = 1;
    p->trNoTopLeft = 1;
    p->trNoTranspose = 1;
  } else {
    p->arith = 0;
    p->sdFixedTables = 0;
    p->trArith = 0;
    p->trFixedTables = 0;
    p->trNoTopLeft = 0;
    p->trNoTranspose = 0;
    p->sdAllowTuned = 1;
    p->trAllowTuned = 1;
  }
}

void vlt_fillOutputCallbacks(Jb2OutputCallbacks* t) {
  *t = Jb2OutputCallbacks{createJb2StateAPICB, closeJb2StateAPICB, finishJb2PageCB, nullptr, writeJb2PosBlockCB,
                          writeJb2DictionaryCB, writeJb2PageDictionaryCB, writeJb2BinaryPixrCB,
                          freeJb2DictblockCB, 0};
}

VltStatus createJb2StateAPICB(uint32_t* block, VltState* state, uint32_t profile, uint32_t, uint8_t singlePage,
                              Jb2StreamState** place, uintptr_t* context) {
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  auto* s = static_cast<Jb2StreamState*>(state->calloc(1, sizeof(Jb2StreamState)));
  if (s == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  s->block = block;
  s->profile = profile;
  s->singlePage = singlePage;
  if (const VltStatus st = open_file(state, profile, &s->file); st != VLT_OK) {
    state->free(s);
    return st;
  }
  *place = s;
  if (context != nullptr) *context = 0;
  return VLT_OK;
}

// The context's sink is gone: a fresh context carries the numbering on, or, when none can be
// made, the stream keeps a context without sinks that is never written again.
VltStatus replace_file(Jb2StreamState* s) {
  VltState* es = engine_of(s);
  Jb2File* fresh = nullptr;
  const VltStatus st = open_file(es, s->profile, &fresh);
  if (st != VLT_OK) {
    s->file->headerSink = nullptr;
    s->file->dataSink = nullptr;
    return st;
  }
  jb2SetFileSegnum(fresh, jb2GetFileSegnum(s->file));
  jb2FreeFile(s->file);
  s->file = fresh;
  return VLT_OK;
}

VltStatus getJb2CompressedData(Jb2StreamState* s, uint8_t** bytes, uint32_t* length) {
  VltState* es = engine_of(s);
  *bytes = nullptr;
  *length = 0;
  // A standalone file hands nothing out: its headers and data parts go out together at the close.
  if (s->fileMode) return VLT_OK;
  if (jb2GetFileDataSink(s->file) == nullptr) return Vlt_report(es, VLT_ERR_ASSERT);
  VltAdtList* chunks = nullptr;
  VltStatus st = jb2CloseMemoryDataSink(jb2GetFileDataSink(s->file), &chunks);
  uint64_t total = 0;
  if (st == VLT_OK)
    for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next)
      total += static_cast<Jb2MemChunk*>(n->data)->used;
  uint8_t* out = nullptr;
  if (st == VLT_OK && (total > UINT32_MAX || (total > 0 && (out = static_cast<uint8_t*>(es->malloc(total))) == nullptr)))
    st = Vlt_report(es, VLT_ERR_NOMEM);
  if (st == VLT_OK) {
    size_t at = 0;
    for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
      auto* c = static_cast<Jb2MemChunk*>(n->data);
      if (c->used > 0) std::memcpy(out + at, c->buffer, c->used);
      at += c->used;
    }
  }
  drop_chunks(chunks, es);
  // Whatever happened, the old sink is closed: the stream goes on in a fresh one.
  if (const VltStatus reopened = replace_file(s); st == VLT_OK) st = reopened;
  if (st != VLT_OK) {
    es->free(out);
    return st;
  }
  *bytes = out;
  *length = static_cast<uint32_t>(total);
  return VLT_OK;
}

VltStatus closeJb2StateAPICB(Jb2StreamState* s, uintptr_t) {
  if (s == nullptr) return VLT_OK;
  VltState* es = engine_of(s);
  VltStatus st = VLT_OK;
  if (jb2GetFileDataSink(s->file) != nullptr) {
    // The end of file closes the stream for any reader that still sees it; it is never collected.
    SegmentInfo eof{};
    st = jb2EncodeEOFile(s->file, &eof);
  }
  freeSegVltAdt_List(s->dictSegments, es);
  freeSegVltAdt_List(s->pageDictSegments, es);
  freeNsymVltAdt_List(s->dictSymbolCounts, es);
  freeNsymVltAdt_List(s->pageDictSymbolCounts, es);
  if (DataSink* sink = jb2GetFileDataSink(s->file); sink != nullptr) {
    VltAdtList* chunks = nullptr;
    jb2CloseMemoryDataSink(sink, &chunks);
    drop_chunks(chunks, es);
  }
  jb2FreeFile(s->file);
  es->free(s);
  return st;
}

VltStatus writeJb2DictionaryCB(VltTokenRecord* records, int32_t n, void*, void** newBlock, uint32_t, uint32_t,
                               Jb2StreamState* s, uintptr_t) {
  if (newBlock != nullptr) *newBlock = nullptr;
  return write_dictionary(records, n, s, false);
}

VltStatus writeJb2PageDictionaryCB(VltTokenRecord* records, int32_t n, int32_t, int32_t, int32_t, int32_t, uint32_t,
                                   void*, void** newBlock, uint32_t, uint32_t, Jb2StreamState* s, uintptr_t) {
  if (newBlock != nullptr) *newBlock = nullptr;
  return write_dictionary(records, n, s, true);
}

VltStatus writeJb2PageInfo(int32_t width, int32_t height, int32_t xDpi, int32_t yDpi, Jb2StreamState* s,
                           const uint8_t* unstriped) {
  SegmentInfo seg{};
  seg.type = JB2_SEG_PAGE_INFO;
  seg.page = page_of(s, s->pageNumber + 1);
  Jb2PageInfo& p = seg.body.pageInfo;
  p.width = static_cast<uint32_t>(width);
  p.height = static_cast<uint32_t>(height);
  p.xResolution = static_cast<uint32_t>(static_cast<int32_t>(static_cast<double>(xDpi) / 0.0254 + 0.5));
  p.yResolution = static_cast<uint32_t>(static_cast<int32_t>(static_cast<double>(yDpi) / 0.0254 + 0.5));
  if (unstriped != nullptr && *unstriped == 0) {
    p.striped = 1;
    p.maxStripe = static_cast<uint16_t>(height - 1);
  }
  if (const VltStatus st = jb2EncodePageInfo(s->file, &seg); st != VLT_OK) return st;
  ++s->pageNumber;
  return VLT_OK;
}

VltStatus writeJb2EOStripe(int32_t endRow, int32_t pageNumber, Jb2StreamState* s) {
  SegmentInfo seg{};
  seg.page = page_of(s, static_cast<uint32_t>(pageNumber));
  seg.body.endOfStripe.endRow = static_cast<uint32_t>(endRow);
  return jb2EncodeEOStripe(s->file, &seg);
}

VltStatus finishJb2PageCB(Jb2StreamState* s, uintptr_t) {
  if (s->singlePage) return VLT_OK;
  SegmentInfo seg{};
  seg.page = s->pageNumber;
  return jb2EncodeEOPage(s->file, &seg);
}

VltStatus freeJb2DictblockCB(void* block, Jb2StreamState* s, uintptr_t) {
  VltState* es = engine_of(s);
  freeSegVltAdt_List(s->dictSegments, es);
  freeNsymVltAdt_List(s->dictSymbolCounts, es);
  s->dictSegments = nullptr;
  s->dictSymbolCounts = nullptr;
  if (block != nullptr) es->free(block);
  return VLT_OK;
}

VltStatus writeJb2BinaryCC(VltImage* image, uint32_t, int32_t x, int32_t y, Jb2StreamState* s, void*) {
  VltState* es = engine_of(s);
  if (image == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  const Jb2FileParams* p = jb2GetFileParams(s->file);
  SegmentInfo seg{};
  seg.type = JB2_SEG_GENERIC_IMMEDIATE;
  seg.page = page_of(s, s->pageNumber);
  seg.region = Jb2RegionInfo{static_cast<uint32_t>(image->hdr.width), static_cast<uint32_t>(image->hdr.height),
                             static_cast<uint32_t>(x), static_cast<uint32_t>(y), JB2_COMBOP_OR};
  seg.hasBitmap = 1;
  seg.bitmap = image;
  seg.body.generic.mmr = p->arith == 0 ? 1 : 0;
  if (p->arith != 0) seg.body.generic.params = p->generic;
  return jb2EncodeGenRegion(s->file, &seg);
}

VltStatus writeJb2BinaryPixrCB(VltAdtList* boxes, int32_t group, VltAdtList* pixrs, Jb2StreamState* s) {
  VltState* es = engine_of(s);
  if (boxes == nullptr || pixrs == nullptr) return VLT_OK;
  VltAdtListNode* b = boxes->first;
  VltAdtListNode* p = pixrs->first;
  while (b != nullptr && p != nullptr) {
    auto* box = static_cast<Jb2PixrBox*>(b->data);
    auto* pixr = static_cast<PIXR*>(p->data);
    if (box->group != group) {
      b = b->next;
      p = p->next;
      continue;
    }
    int32_t bpl = 0;
    uint8_t* pixels = nullptr;
    if (const VltStatus st = w_pixrGetBpl(es->ipwState, pixr, &bpl); st != VLT_OK) return st;
    if (const VltStatus st = w_pixrGetImage(es->ipwState, pixr, &pixels); st != VLT_OK) return st;
    VltImage* image = nullptr;
    if (VltImage_wrap(es, pixels, box->width, box->height, bpl / 4, &image) != VLT_OK || image == nullptr)
      return Vlt_report(es, VLT_ERR_NOMEM);
    if (box->period > 0) {
      Jb2FileParams* fp = jb2GetFileParams(s->file);
      fp->generic.atx[0] = static_cast<int8_t>(-2 * box->period);
      fp->generic.aty[0] = 0;
    }
    const VltStatus st = writeJb2BinaryCC(image, 0, box->x, box->y, s, nullptr);
    uint8_t* back = nullptr;
    VltImage_unwrap(image, &back);
    if (st != VLT_OK) return st;
    PIXR* gone = pixr;
    w_destroyPixr(es->ipwState, &gone);
    es->free(box);
    VltAdtListNode* nb = b->next;
    VltAdtListNode* np = p->next;
    VltAdt_liRem(b);
    VltAdt_liRem(p);
    b = nb;
    p = np;
  }
  return VLT_OK;
}

VltStatus freeSegVltAdt_List(VltAdtList* list, VltState* state) {
  if (list == nullptr) return VLT_OK;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) {
    auto* seg = static_cast<SegmentInfo*>(n->data);
    if (seg == nullptr) continue;
    // Written dictionaries hold their entry array only; the bitmaps are the tokens'.
    if (seg->type == JB2_SEG_SYMBOL_DICT) {
      state->free(seg->body.symbolDict.symbols);
      seg->body.symbolDict.symbols = nullptr;
      seg->body.symbolDict.count = 0;
    }
    jb2FreeSegmentInfo(seg, state);
    state->free(seg);
  }
  return VltAdt_liFree(list);
}

VltStatus freeNsymVltAdt_List(VltAdtList* list, VltState* state) {
  if (list == nullptr) return VLT_OK;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) state->free(n->data);
  return VltAdt_liFree(list);
}

VltStatus my_instextbuilder(Jb2Instance* const* order, int32_t n, void* context) {
  auto* c = static_cast<Jb2OrderContext*>(context);
  if (order == nullptr) return Vlt_report(c->state, VLT_ERR_NULL);
  *c->copy = nullptr;
  if (n <= 0) return VLT_OK;
  auto* copy = static_cast<void**>(c->state->malloc(static_cast<size_t>(n) * sizeof(void*)));
  if (copy == nullptr) return Vlt_report(c->state, VLT_ERR_NOMEM);
  std::memcpy(copy, order, static_cast<size_t>(n) * sizeof(void*));
  *c->copy = copy;
  return VLT_OK;
}

VltStatus writeJb2PosBlockCB(VltPosRecord* records, int32_t n, int32_t regionWidth, int32_t regionHeight, int32_t,
                             int32_t, Jb2InstanceOrderHook* hook, int32_t pageNumber, void*, uint8_t lastStripe,
                             Jb2StreamState* s, const int32_t* yOffset) {
  VltState* es = engine_of(s);
  for (VltAdtList** l : {&s->dictSegments, &s->pageDictSegments, &s->dictSymbolCounts, &s->pageDictSymbolCounts})
    if (*l == nullptr)
      if (const VltStatus st = VltAdt_liNew(l, es); st != VLT_OK) return st;

  int64_t symbolCount = 0;
  each_symbol(s, [&](Jb2Symbol*) { ++symbolCount; });
  const int32_t m = list_count(s->dictSegments) + list_count(s->pageDictSegments);

  void** saved = nullptr;
  Jb2Instance* instances = nullptr;
  SegmentInfo** referred = nullptr;
  void** order = nullptr;
  SegmentInfo seg{};
  bool linked = false;
  const auto unlink = [&] {
    if (!linked) return;
    int64_t k = 0;
    each_symbol(s, [&](Jb2Symbol* sym) { static_cast<VltTokenRecord*>(sym->owner)->link = saved[k++]; });
    linked = false;
  };
  const auto finish = [&](VltStatus st) {
    unlink();
    es->free(saved);
    es->free(instances);
    es->free(referred);
    es->free(order);
    es->free(seg.referred);
    es->free(seg.referredRetain);
    return st;
  };

  if (symbolCount > 0) {
    size_t bytes = 0;
    if (!mono::checked_mul(static_cast<size_t>(symbolCount), sizeof(void*), &bytes) ||
        (saved = static_cast<void**>(es->malloc(bytes))) == nullptr)
      return finish(Vlt_report(es, VLT_ERR_NOMEM));
  }
  // Each token's link points at its symbol entry for the length of the call.
  {
    int64_t k = 0;
    each_symbol(s, [&](Jb2Symbol* sym) {
      auto* token = static_cast<VltTokenRecord*>(sym->owner);
      saved[k++] = token->link;
      token->link = sym;
    });
    linked = true;
  }

  int64_t right = regionWidth, bottom = regionHeight;
  if (n > 0) {
    instances = static_cast<Jb2Instance*>(es->calloc(static_cast<size_t>(n), sizeof(Jb2Instance)));
    if (instances == nullptr) return finish(Vlt_report(es, VLT_ERR_NOMEM));
    for (int32_t i = 0; i < n; ++i) {
      VltTokenRecord* token = records[i].token;
      if (token == nullptr || token->inDictionary == 0 || token->link == nullptr) return finish(VLT_ERR_ASSERT);
      auto* sym = static_cast<Jb2Symbol*>(token->link);
      const int32_t top = records[i].bottom - sym->height + 1;
      instances[i] = Jb2Instance{records[i].x, top, sym, nullptr, &records[i]};
      // The caller keeps instances inside the region; a decoder would clip any part outside.
      if (records[i].x < 0 || top < 0) return finish(VLT_ERR_ASSERT);
      right = std::max<int64_t>(right, int64_t{records[i].x} + sym->width);
      bottom = std::max<int64_t>(bottom, int64_t{records[i].bottom} + 1);
    }
  }

  if (m > 0) {
    referred = static_cast<SegmentInfo**>(es->calloc(static_cast<size_t>(m), sizeof(SegmentInfo*)));
    seg.referred = static_cast<uint32_t*>(es->malloc(static_cast<size_t>(m) * sizeof(uint32_t)));
    seg.referredRetain = static_cast<uint8_t*>(es->malloc(static_cast<size_t>(m)));
    if (referred == nullptr || seg.referred == nullptr || seg.referredRetain == nullptr)
      return finish(Vlt_report(es, VLT_ERR_NOMEM));
    int32_t r = 0;
    for (const VltAdtList* list : {s->dictSegments, s->pageDictSegments})
      for (const VltAdtListNode* node = list->first; node != nullptr; node = node->next, ++r) {
        referred[r] = static_cast<SegmentInfo*>(node->data);
        seg.referred[r] = referred[r]->number;
        seg.referredRetain[r] = list == s->pageDictSegments && lastStripe ? 0 : 1;
      }
    seg.referredCount = m;
  }

  seg.type = JB2_SEG_TEXT_IMMEDIATE;
  seg.page = page_of(s, static_cast<uint32_t>(pageNumber));
  seg.region = Jb2RegionInfo{static_cast<uint32_t>(right), static_cast<uint32_t>(bottom), 0,
                             static_cast<uint32_t>(yOffset != nullptr ? *yOffset : 0), JB2_COMBOP_OR};
  seg.body.textRegion = Jb2TextRegion{n, instances, 0, 0};

  if (n > 0) {
    Jb2OrderContext oc{&order, es};
    if (const VltStatus st = jb2EncodeSymRegion(s->file, &seg, referred, my_instextbuilder, &oc, 0); st != VLT_OK)
      return finish(st);
    if (hook != nullptr && hook->function != nullptr && order != nullptr) {
      auto* coded = static_cast<void**>(es->malloc(static_cast<size_t>(n) * sizeof(void*)));
      if (coded == nullptr) return finish(Vlt_report(es, VLT_ERR_NOMEM));
      for (int32_t i = 0; i < n; ++i) coded[i] = static_cast<Jb2Instance*>(order[i])->user;
      const VltStatus st = hook->function(coded, n, hook->third, hook->first, &hook->second, es);
      es->free(coded);
      if (st != VLT_OK) return finish(st);
    }
  }
  unlink();
  if (lastStripe) {
    freeSegVltAdt_List(s->pageDictSegments, es);
    freeNsymVltAdt_List(s->pageDictSymbolCounts, es);
    s->pageDictSegments = nullptr;
    s->pageDictSymbolCounts = nullptr;
  }
  return finish(VLT_OK);
}
