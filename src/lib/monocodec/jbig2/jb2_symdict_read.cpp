// Symbol dictionary decoding: height classes of new symbols (generic MQ bitmaps, Huffman
// collective bitmaps, or refinements and aggregates of symbols already known), then the runs
// that choose which input and new symbols the dictionary exports.
//
// The counts in the segment are not trusted to size anything: new symbols are held in an array
// that grows as they are decoded, every symbol's size is checked, and the pixels and aggregate
// instances one dictionary may decode are capped, so a short stream cannot make a long decode.

#include <cstring>

#include "byteorder.h"
#include "jb2_decode.h"
#include "vlt_state.h"

namespace {

VltStatus bad(const Jb2File* file, const char* message) { return jb2Fail(file, VLT_ERR_CODEC, message); }

// Empty height classes carry nothing; more of them than this is not a dictionary.
constexpr uint32_t kMaxEmptyClasses = 1u << 16;
// The pixels of all new symbols of one dictionary (32 MiB of bitmaps): room for thousands of
// page-sized symbols, while garbage that looks like coded data cannot keep a decode busy long.
constexpr uint64_t kMaxDictionaryPixels = uint64_t{1} << 28;

enum { kDH, kDW, kBMSIZE, kAGGINST, kAggFS, kAggDS, kAggDT, kAggRDW, kAggRDH, kAggRDX, kAggRDY, kAggIT, kAggRI,
       kAggRSIZE, kExport, kDecoderCount };

// What one dictionary decode holds until it ends.
struct DictWork {
  VltState* state;
  JbfFile* bits = nullptr;
  DiDecoder* d[kDecoderCount] = {};
  uint8_t* intContexts = nullptr;
  uint8_t* genericContexts = nullptr;
  uint8_t* refineContexts = nullptr;
  SymDecoder* ids = nullptr;
  Jb2Symbol** inputs = nullptr;  // the referred dictionaries' exported symbols, in order
  uint32_t inputCount = 0;
  Jb2Symbol* fresh = nullptr;    // new symbols, the last one possibly still being decoded
  uint32_t freshCount = 0;
  uint32_t decoded = 0;          // new symbols complete, which aggregates may refer to
  uint32_t freshCapacity = 0;
  Jb2Symbol* exported = nullptr;
  uint32_t exportedCount = 0;

  ~DictWork() {
    for (DiDecoder* x : d) diFreeDecoder(x);
    symDecoderFree(ids);
    jbfClose(bits);
    state->free(intContexts);
    state->free(genericContexts);
    state->free(refineContexts);
    state->free(inputs);
    for (uint32_t i = 0; i < freshCount; ++i) state->free(fresh[i].bits);
    state->free(fresh);
    for (uint32_t i = 0; i < exportedCount; ++i) state->free(exported[i].bits);
    state->free(exported);
  }

  VltStatus add_fresh(uint32_t limit) {
    if (freshCount < freshCapacity) return VLT_OK;
    uint32_t want = freshCapacity != 0 ? freshCapacity * 2 : 64;
    if (want > limit) want = limit;
    auto* p = static_cast<Jb2Symbol*>(fresh != nullptr ? state->realloc(fresh, size_t{want} * sizeof(Jb2Symbol))
                                                       : state->malloc(size_t{want} * sizeof(Jb2Symbol)));
    if (p == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    fresh = p;
    freshCapacity = want;
    return VLT_OK;
  }
};

// The symbol of an aggregate's ID: input symbols first, then the new ones decoded before it.
struct AggLookup {
  DictWork* work;
};
Jb2Symbol kNotYet{};

Jb2Symbol* agg_lookup(void* context, uint32_t value) {
  const DictWork* w = static_cast<AggLookup*>(context)->work;
  if (value == 0) return nullptr;
  const uint32_t id = value - 1;
  if (id < w->inputCount) return w->inputs[id];
  return id - w->inputCount < w->decoded ? &w->fresh[id - w->inputCount] : &kNotYet;
}

struct DictParams {
  uint8_t huffman;
  uint8_t refagg;
  uint32_t newCount;
  Jb2GenericParams generic;
  RefinementParams refine;
  uint32_t idBits;
};

// Reads one class's collective bitmap (T.88 6.5.9) and hands each symbol of the class its part.
VltStatus read_collective(Jb2File* file, DataSource* source, DictWork* w, uint32_t first, uint64_t totWidth,
                          int32_t height) {
  VltState* state = w->state;
  int oob = 0;
  int32_t size = 0;
  VltStatus st = diDecode(w->d[kBMSIZE], &oob, &size);
  if (st == VLT_OK && size < 0) st = bad(file, "bad collective bitmap size");
  if (st != VLT_OK || (st = jbfSuspend(w->bits)) != VLT_OK) return st;
  const uint32_t wpr = static_cast<uint32_t>((totWidth + 31) / 32);
  const size_t bytes = size_t{wpr} * static_cast<uint32_t>(height) * 4;
  auto* all = static_cast<uint8_t*>(state->calloc(bytes != 0 ? bytes : 1, 1));
  if (all == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  if (size == 0) {
    const uint32_t rowBytes = static_cast<uint32_t>((totWidth + 7) / 8);
    uint32_t got = 0;
    for (int32_t y = 0; y < height && st == VLT_OK && rowBytes != 0; ++y)
      st = dsRead(source, rowBytes, all + size_t{wpr} * 4 * static_cast<uint32_t>(y), &got);
  } else if (totWidth == 0) {
    // No pixels to decode: the block is only passed over.
    uint8_t* skip = nullptr;
    st = jb2ReadBlock(file, source, static_cast<uint32_t>(size), &skip);
    state->free(skip);
  } else {
    const auto tw = static_cast<int32_t>(totWidth);
    st = jb2MMRDecodeImage(all, tw, height, static_cast<int32_t>(wpr), 0, tw - 1, height - 1, file, source,
                           static_cast<uint32_t>(size));
  }
  jbfResume(w->bits);
  if (st != VLT_OK) {
    state->free(all);
    return st;
  }
  if (w->freshCount - first == 1) {
    w->fresh[first].bits = all;
    return VLT_OK;
  }
  uint32_t x = 0;
  for (uint32_t i = first; i < w->freshCount; ++i) {
    Jb2Symbol& s = w->fresh[i];
    s.bits = static_cast<uint8_t*>(state->malloc(size_t{static_cast<uint32_t>(s.wordsPerRow)} *
                                                 static_cast<uint32_t>(height) * 4));
    if (s.bits == nullptr) {
      state->free(all);
      return Vlt_report(state, VLT_ERR_NOMEM);
    }
    jb2ReadoutBits(all, x, static_cast<uint32_t>(totWidth), static_cast<uint32_t>(height), s.bits,
                   static_cast<uint32_t>(s.width));
    x += static_cast<uint32_t>(s.width);
  }
  state->free(all);
  return VLT_OK;
}

// One symbol of a refinement/aggregate dictionary (T.88 6.5.8.2), decoded into its zeroed bits.
VltStatus read_aggregate(Jb2File* file, DataSource* source, DictWork* w, const DictParams& p, MqDecoder* mq,
                         Jb2Symbol* s, uint32_t* instanceBudget, uint64_t* pixelBudget) {
  VltState* state = w->state;
  int32_t n = 0;
  VltStatus st = diDecodeInBand(file, w->d[kAGGINST], &n);
  if (st != VLT_OK) return st;
  if (n < 1) return bad(file, "bad aggregate instance count");
  if (static_cast<uint32_t>(n) > *instanceBudget) return bad(file, "more symbol instances than the coded data can place");
  *instanceBudget -= static_cast<uint32_t>(n);
  AggLookup lookup{w};
  const Jb2InstanceCoding coding{p.huffman, 1, 0, 1, 0, 0, w->ids, static_cast<int32_t>(p.idBits), agg_lookup,
                                 &lookup, w->d[kAggFS], w->d[kAggDS], w->d[kAggDT], w->d[kAggIT], w->d[kAggRI],
                                 w->d[kAggRDW], w->d[kAggRDH], w->d[kAggRDX], w->d[kAggRDY], w->d[kAggRSIZE], w->bits,
                                 source, mq, &p.refine, w->refineContexts, pixelBudget};
  if (n > 1) {
    Jb2Instance* instances = nullptr;
    uint32_t decoded = 0;
    st = jb2DecodeInstances(file, &coding, static_cast<uint32_t>(n), &instances, &decoded);
    if (st == VLT_OK) st = jb2CheckCoverage(file, instances, decoded, s->width, s->height);
    if (st == VLT_OK)
      jb2DrawInstances(s->bits, s->width, s->height, s->wordsPerRow, instances, decoded, JB2_COMBOP_OR, state);
    jb2FreeInstances(instances, decoded, state);
    return st;
  }
  // One instance: the symbol is a refinement of another, placed at its origin.
  uint32_t value = 0;
  if (w->ids != nullptr) {
    st = symDecode(w->ids, &value);
  } else {
    st = jbfReadBits(w->bits, static_cast<int>(p.idBits), &value);
    ++value;
  }
  if (st != VLT_OK) return st;
  const Jb2Symbol* ref = agg_lookup(&lookup, value);
  if (ref == nullptr) return bad(file, "Could not get symbol from symDecode");
  if (ref->bits == nullptr) return bad(file, "bad symbol ID");
  int32_t rdx = 0, rdy = 0;
  if ((st = diDecodeInBand(file, w->d[kAggRDX], &rdx)) != VLT_OK || (st = diDecodeInBand(file, w->d[kAggRDY], &rdy)) != VLT_OK)
    return st;
  if (!p.huffman)
    return jb2ArithDecodeRefinement(s->bits, s->width, s->height, s->wordsPerRow, ref->bits, ref->width, ref->height,
                                    ref->wordsPerRow, rdx, rdy, &p.refine, w->refineContexts, file, mq);
  int32_t size = 0;
  if ((st = diDecodeInBand(file, w->d[kAggRSIZE], &size)) != VLT_OK) return st;
  if (size < 0) return bad(file, "bad refinement data size");
  if ((st = jbfSuspend(w->bits)) != VLT_OK) return st;
  uint8_t* block = nullptr;
  st = jb2ReadBlock(file, source, static_cast<uint32_t>(size), &block);
  if (st == VLT_OK) {
    MqDecoder own;
    VltEncode_mqdInit(&own, block, static_cast<uint32_t>(size), nullptr, nullptr, state);
    st = jb2ArithDecodeRefinement(s->bits, s->width, s->height, s->wordsPerRow, ref->bits, ref->width, ref->height,
                                  ref->wordsPerRow, rdx, rdy, &p.refine, w->refineContexts, file, &own);
  }
  state->free(block);
  jbfResume(w->bits);
  return st;
}

// The height classes, within the budgets decodeSymbols sets.
VltStatus decode_classes(Jb2File* file, DataSource* source, DictWork* w, const DictParams& p, MqDecoder* mq,
                         uint64_t& pixelBudget, uint32_t& instanceBudget) {
  VltState* state = w->state;
  // Every pixel of a refinement/aggregate symbol is charged as refined; the pixels of collective
  // bitmaps are not decided one by one and only count against the dictionary's cap.
  const bool decided = !p.huffman || p.refagg;
  const uint64_t pixelCost = p.refagg ? JB2_REFINED_PIXEL_COST : 1;
  uint32_t emptyClasses = 0;
  bool pastEnd = false;
  int64_t classHeight = 0;
  VltStatus st = VLT_OK;
  while (w->freshCount < p.newCount) {
    int oob = 0;
    int32_t dh = 0;
    if ((st = diDecode(w->d[kDH], &oob, &dh)) != VLT_OK) return st;
    classHeight += dh;
    if (classHeight < 1) return bad(file, "bad height class height");
    if (uint64_t(classHeight) > JB2_MAX_REGION_PIXELS) return bad(file, "symbol too large");
    const auto height = static_cast<int32_t>(classHeight);
    const uint32_t first = w->freshCount;
    int64_t symWidth = 0;
    uint64_t totWidth = 0;
    for (;;) {
      int32_t dw = 0;
      if ((st = diDecode(w->d[kDW], &oob, &dw)) != VLT_OK) return st;
      if (oob) break;
      if (w->freshCount == p.newCount) return bad(file, "too many symbols");
      if (!p.huffman && !pastEnd && jb2MqPastEnd(mq)) {
        pastEnd = true;
        if (pixelBudget > JB2_MQ_PIXELS_PAST_END) pixelBudget = JB2_MQ_PIXELS_PAST_END;
      }
      symWidth += dw;
      if (symWidth < 1) return bad(file, "bad symbol width");
      const uint64_t pixels = uint64_t(symWidth) * uint64_t(height);
      if (uint64_t(symWidth) > JB2_MAX_REGION_PIXELS || pixels > JB2_MAX_REGION_PIXELS) return bad(file, "symbol too large");
      if (!decided) {
        if (pixels > pixelBudget) return bad(file, "too many symbol pixels in one dictionary");
        pixelBudget -= pixels;
      } else if ((st = jb2TakeWork(file, &pixelBudget, pixels * pixelCost, "too many symbol pixels in one dictionary")) !=
                 VLT_OK) {
        return st;
      }
      totWidth += uint64_t(symWidth);
      if ((st = w->add_fresh(p.newCount)) != VLT_OK) return st;
      Jb2Symbol& s = w->fresh[w->freshCount];
      const auto width = static_cast<int32_t>(symWidth);
      s = Jb2Symbol{width, height, nullptr, (width + 31) / 32, 0, nullptr, 0};
      if (!p.huffman || p.refagg) {
        s.bits = static_cast<uint8_t*>(state->calloc(size_t{static_cast<uint32_t>(s.wordsPerRow)} *
                                                         static_cast<uint32_t>(height) * 4, 1));
        if (s.bits == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
      }
      // Counted once its record is set, so the bits are freed with the work on any failure.
      ++w->freshCount;
      if (p.refagg)
        st = read_aggregate(file, source, w, p, mq, &s, &instanceBudget, &pixelBudget);
      else if (!p.huffman)
        st = jb2ArithDecodeImage(s.bits, width, height, s.wordsPerRow, &p.generic, w->genericContexts, file, mq);
      if (st != VLT_OK) return st;
      w->decoded = w->freshCount;
    }
    if (w->freshCount == first && ++emptyClasses > kMaxEmptyClasses) return bad(file, "too many empty height classes");
    if (p.huffman && !p.refagg && (st = read_collective(file, source, w, first, totWidth, height)) != VLT_OK)
      return st;
  }
  return VLT_OK;
}

// Symbols decoded (or refined) pixel by pixel are bounded by the work their data may ask for,
// aggregates by the instances it may place; what the dictionary took beyond what its bytes pay
// for leaves its stream's floors.
VltStatus decodeSymbols(Jb2File* file, DataSource* source, DictWork* w, const DictParams& p, MqDecoder* mq,
                        uint32_t dataLength) {
  uint64_t pixelBudget = kMaxDictionaryPixels;
  if ((!p.huffman || p.refagg) && jb2WorkBudget(file, dataLength) < pixelBudget)
    pixelBudget = jb2WorkBudget(file, dataLength);
  const uint32_t instances = jb2InstanceBudget(file, dataLength);
  uint32_t instanceBudget = instances;
  const uint64_t doneBefore = file->workDone;
  const VltStatus st = decode_classes(file, source, w, p, mq, pixelBudget, instanceBudget);
  jb2SettleWork(file, dataLength, doneBefore);
  jb2SettleInstances(file, dataLength, instances - instanceBudget);
  return st;
}

// The export runs (T.88 6.5.10) over the input symbols and then the new ones.
VltStatus export_symbols(Jb2File* file, DictWork* w, uint32_t exportCount) {
  VltState* state = w->state;
  if (exportCount != 0) {
    w->exported = static_cast<Jb2Symbol*>(state->malloc(size_t{exportCount} * sizeof(Jb2Symbol)));
    if (w->exported == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  }
  const uint64_t total = uint64_t{w->inputCount} + w->freshCount;
  uint64_t at = 0;
  uint64_t runs = 0;
  bool flag = false;
  while (w->exportedCount < exportCount) {
    // Runs that never reach the end would go on for ever: every symbol takes at most two.
    if (at == total || ++runs > 2 * total + 2) return bad(file, "too many symbols exported");
    int oob = 0;
    int32_t r = 0;
    if (const VltStatus st = diDecode(w->d[kExport], &oob, &r); st != VLT_OK) return st;
    const uint64_t run = r > 0 ? static_cast<uint32_t>(r) : 0;
    if ((flag && w->exportedCount + run > exportCount) || at + run > total) return bad(file, "too many symbols exported");
    for (uint64_t i = at; flag && i < at + run; ++i) {
      Jb2Symbol& dst = w->exported[w->exportedCount];
      if (i < w->inputCount) {
        const Jb2Symbol& src = *w->inputs[i];
        dst = Jb2Symbol{src.width, src.height, nullptr, src.wordsPerRow, 0, nullptr, 0};
        const size_t bytes = size_t{static_cast<uint32_t>(src.wordsPerRow)} * static_cast<uint32_t>(src.height) * 4;
        dst.bits = static_cast<uint8_t*>(state->malloc(bytes != 0 ? bytes : 1));
        if (dst.bits == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
        if (src.bits != nullptr) std::memcpy(dst.bits, src.bits, bytes);
      } else {
        Jb2Symbol& src = w->fresh[i - w->inputCount];
        dst = src;
        src.bits = nullptr;
      }
      ++w->exportedCount;
    }
    at += run;
    flag = !flag;
  }
  return VLT_OK;
}

constexpr const JhtTable* kDhTables[2] = {&stdhuffDH1, &stdhuffDH2};
constexpr const JhtTable* kDwTables[2] = {&stdhuffDW1, &stdhuffDW2};

}  // namespace

VltStatus jb2DecodeSymDict(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo** referred) {
  VltState* state = jb2GetFileVlt_State(file);
  uint8_t b[8];
  uint32_t got = 0;
  VltStatus st = dsRead(source, 2, b, &got);
  if (st != VLT_OK) return st;
  const uint16_t flags = mono::load_be16(b);
  DictParams p{};
  p.huffman = flags & 1;
  p.refagg = (flags >> 1) & 1;
  const unsigned sel[4] = {(flags >> 2) & 3u, (flags >> 4) & 3u, (flags >> 6) & 1u, (flags >> 7) & 1u};
  const bool contextUsed = ((flags >> 8) & 1) != 0, contextRetained = ((flags >> 9) & 1) != 0;

  // Tables in the order DH, DW, BMSIZE, AGGINST; user tables take the referred code tables in turn.
  const JhtTable* tables[4] = {};
  JhtTable* slots[4] = {};
  int user[4];
  int32_t slotCount = 0;
  for (int f = 0; f < 4; ++f) {
    user[f] = -1;
    if (!p.huffman && sel[f] != 0) return bad(file, "non-zero Huffman table specifier in non-Huffman symbol dictionary");
    if (f == kDH && sel[f] == 2) return bad(file, "bad SDHUFFDH specification");
    if (f == kDW && sel[f] == 2) return bad(file, "bad SDHUFFDW specification");
    const bool isUser = f < 2 ? sel[f] == 3 : sel[f] == 1;
    if (isUser)
      user[f] = slotCount++;
    else
      tables[f] = f == kDH ? kDhTables[sel[f]] : f == kDW ? kDwTables[sel[f]] : &stdhuffA;
  }
  if (p.huffman && (contextUsed || contextRetained))
    return bad(file, "context used or retained in Huffman symbol dictionary");

  p.generic.gbTemplate = (flags >> 10) & 3;
  p.refine.grTemplate = (flags >> 12) & 1;
  uint32_t consumed = 0;
  if (!p.huffman && (st = jb2DecodeABParams(file, source, &p.generic, &consumed)) != VLT_OK) return st;
  if (p.refagg && (st = jb2DecodeRABParams(file, source, &p.refine, &consumed)) != VLT_OK) return st;
  if ((st = dsRead(source, 8, b, &got)) != VLT_OK) return st;
  const uint32_t exportCount = mono::load_be32(b);
  p.newCount = mono::load_be32(b + 4);

  if ((st = findUserTables(slots, slotCount, referred, seg->referredCount, state)) != VLT_OK) return st;
  for (int f = 0; f < 4; ++f)
    if (user[f] >= 0) tables[f] = slots[user[f]];
  if (p.huffman) {
    for (int f = 0; f < 4; ++f)
      if ((tables[f]->hasOOB != 0) != (f == kDW)) return bad(file, "wrong OOB capabilities");
  }

  DictWork w{state};
  uint64_t inputs = 0;
  for (int32_t r = 0; r < seg->referredCount; ++r) {
    if (referred[r]->type == JB2_SEG_SYMBOL_DICT)
      inputs += static_cast<uint32_t>(referred[r]->body.symbolDict.count);
    else if (referred[r]->type != JB2_SEG_TABLES)
      return bad(file, "bad referenced segment type");
  }
  if (p.newCount > JB2_MAX_SYMBOLS || inputs > JB2_MAX_SYMBOLS) return bad(file, "too many symbols");
  // An export count no run can reach is refused before anything is sized from it.
  if (exportCount > inputs + p.newCount) return bad(file, "too many symbols exported");
  w.inputCount = static_cast<uint32_t>(inputs);
  w.inputs = static_cast<Jb2Symbol**>(state->malloc((inputs != 0 ? inputs : 1) * sizeof(Jb2Symbol*)));
  if (w.inputs == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  for (int32_t r = 0, k = 0; r < seg->referredCount; ++r) {
    if (referred[r]->type != JB2_SEG_SYMBOL_DICT) continue;
    const Jb2SymbolDict& d = referred[r]->body.symbolDict;
    for (int32_t i = 0; i < d.count; ++i) w.inputs[k++] = &d.symbols[i];
  }

  const uint32_t genericBytes = jb2ABContextsNeeded(&p.generic);
  const uint32_t refineBytes = jb2RABContextsNeeded(&p.refine);
  if (!p.huffman && (w.genericContexts = static_cast<uint8_t*>(state->calloc(genericBytes, 1))) == nullptr)
    return Vlt_report(state, VLT_ERR_NOMEM);
  if (p.refagg && (w.refineContexts = static_cast<uint8_t*>(state->calloc(refineBytes, 1))) == nullptr)
    return Vlt_report(state, VLT_ERR_NOMEM);
  if (contextUsed) {
    int32_t last = seg->referredCount - 1;
    while (last >= 0 && referred[last]->type != JB2_SEG_SYMBOL_DICT) --last;
    if (last < 0) return bad(file, "contexts used, but no symbol dictionary referenced");
    if (!p.huffman && last != seg->referredCount - 1)
      return bad(file, "non-Huffman symbol dictionary referencing non-symbol dictionary segment");
    const Jb2SymbolDict& from = referred[last]->body.symbolDict;
    // Contexts retained under another template would not line up: they count as not retained.
    if ((!p.huffman && (from.genericContexts == nullptr || from.genericContextCount != genericBytes)) ||
        (p.refagg && (from.refineContexts == nullptr || from.refineContextCount != refineBytes)))
      return bad(file, "symbol dictionary attempting to use non-retained contexts");
    if (!p.huffman) std::memcpy(w.genericContexts, from.genericContexts, genericBytes);
    if (p.refagg) std::memcpy(w.refineContexts, from.refineContexts, refineBytes);
  }

  MqDecoder mq;
  if (p.huffman) {
    if ((st = jbfOpenFromDataSource(source, &w.bits)) != VLT_OK) return st;
  } else {
    dsInitVltEncode_MQDecoder(source, &mq);
  }
  w.intContexts = static_cast<uint8_t*>(state->malloc(kDecoderCount * size_t{DI_MQ_CONTEXTS}));
  if (w.intContexts == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  auto make = [&](int i, const JhtTable* table) {
    return diNewDecoderEither(p.huffman, table, w.bits, &mq, w.intContexts + i * DI_MQ_CONTEXTS, state, &w.d[i]);
  };
  if ((st = make(kDH, tables[kDH])) != VLT_OK || (st = make(kDW, tables[kDW])) != VLT_OK) return st;
  if (p.huffman && !p.refagg && (st = diNewDecoder(tables[kBMSIZE], w.bits, state, &w.d[kBMSIZE])) != VLT_OK)
    return st;
  if (p.refagg) {
    // The aggregate text region's coders use the tables T.88 fixes for it.
    const JhtTable* fixed[] = {tables[kAGGINST], &stdhuffFS1, &stdhuffDS1, &stdhuffDT1,
                               &stdhuffRD2,      &stdhuffRD2, &stdhuffRD2, &stdhuffRD2};
    for (int i = 0; i < 8; ++i)
      if ((st = make(kAGGINST + i, fixed[i])) != VLT_OK) return st;
    if (!p.huffman && ((st = make(kAggIT, nullptr)) != VLT_OK || (st = make(kAggRI, nullptr)) != VLT_OK)) return st;
    if (p.huffman && (st = diNewDecoder(&stdhuffA, w.bits, state, &w.d[kAggRSIZE])) != VLT_OK) return st;
    const uint64_t total = inputs + p.newCount;
    p.idBits = ceillog2(static_cast<uint32_t>(total));
    if (!p.huffman) {
      auto* values = static_cast<uint32_t*>(state->malloc((total != 0 ? total : 1) * sizeof(uint32_t)));
      if (values == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
      for (uint64_t i = 0; i < total; ++i) values[i] = static_cast<uint32_t>(i + 1);
      st = symDecoderArith(values, static_cast<int32_t>(total), &mq, state, &w.ids);
      state->free(values);
      if (st != VLT_OK) return st;
    }
    // Huffman IDs are fixed-length fields of idBits bits, read as they come.
  }
  if ((st = make(kExport, &stdhuffA)) != VLT_OK) return st;

  if ((st = decodeSymbols(file, source, &w, p, &mq, seg->dataLength)) != VLT_OK) return st;
  if ((st = export_symbols(file, &w, exportCount)) != VLT_OK) return st;
  if (w.bits != nullptr) {
    if ((st = jbfCloseFromDataSource(w.bits)) != VLT_OK) return st;
    w.bits = nullptr;
  }
  // Whatever follows the coded data in the segment is skipped with it.
  Jb2SymbolDict& d = seg->body.symbolDict;
  d.count = static_cast<int32_t>(exportCount);
  d.symbols = w.exported;
  w.exported = nullptr;
  w.exportedCount = 0;
  if (contextRetained) {
    d.genericContexts = w.genericContexts;
    d.genericContextCount = w.genericContexts != nullptr ? genericBytes : 0;
    d.refineContexts = w.refineContexts;
    d.refineContextCount = w.refineContexts != nullptr ? refineBytes : 0;
    w.genericContexts = w.refineContexts = nullptr;
  }
  return VLT_OK;
}

void jb2FreeSymDictSegment(SegmentInfo* seg, VltState* state) {
  Jb2SymbolDict& d = seg->body.symbolDict;
  for (int32_t i = 0; d.symbols != nullptr && i < d.count; ++i) state->free(d.symbols[i].bits);
  state->free(d.symbols);
  state->free(d.genericContexts);
  state->free(d.refineContexts);
  d = Jb2SymbolDict{};
}
