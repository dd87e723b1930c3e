// Text regions: the placed symbol instances (shared with aggregate symbols of dictionaries), the
// region segment itself, and drawing the instances into a region bitmap or straight into a page.
//
// Decoding keeps positions only. Positions are tracked in 64 bits and must end up within 32 bits;
// drawing clips every instance before it reaches the blitter, so no coordinate the blitter sees
// can overflow.

#include <algorithm>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "jb2_decode.h"
#include "vlt_blit.h"
#include "vlt_state.h"

namespace {

VltStatus bad(const Jb2File* file, const char* message) { return jb2Fail(file, VLT_ERR_CODEC, message); }

bool fits32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// Makes room for one more instance, doubling up to the expected count.
VltStatus room_for(VltState* state, Jb2Instance** array, uint32_t* capacity, uint32_t used,
                   uint32_t count) {
  if (used < *capacity) return VLT_OK;
  uint32_t want = *capacity != 0 ? *capacity * 2 : 64;
  if (want > count) want = count;
  auto* p = static_cast<Jb2Instance*>(*array != nullptr
                                          ? state->realloc(*array, size_t{want} * sizeof(Jb2Instance))
                                          : state->malloc(size_t{want} * sizeof(Jb2Instance)));
  if (p == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *array = p;
  *capacity = want;
  return VLT_OK;
}

// The refined bitmap of one instance, read as T.88 refinement against its symbol.
VltStatus refine_instance(Jb2File* file, const Jb2InstanceCoding* c, const Jb2Symbol* symbol,
                          Jb2RefinedBitmap** out) {
  VltState* state = jb2GetFileVlt_State(file);
  int32_t rdw = 0, rdh = 0, rdx = 0, rdy = 0;
  VltStatus st;
  if ((st = diDecodeInBand(file, c->rdw, &rdw)) != VLT_OK || (st = diDecodeInBand(file, c->rdh, &rdh)) != VLT_OK ||
      (st = diDecodeInBand(file, c->rdx, &rdx)) != VLT_OK || (st = diDecodeInBand(file, c->rdy, &rdy)) != VLT_OK)
    return st;
  const int64_t w = int64_t{symbol->width} + rdw;
  const int64_t h = int64_t{symbol->height} + rdh;
  const int64_t dx = (int64_t{rdw} >> 1) + rdx;
  const int64_t dy = (int64_t{rdh} >> 1) + rdy;
  if (w < 0 || h < 0 || uint64_t(w) > JB2_MAX_REGION_PIXELS || uint64_t(h) > JB2_MAX_REGION_PIXELS ||
      uint64_t(w) * uint64_t(h) > JB2_MAX_REGION_PIXELS || !fits32(dx) || !fits32(dy))
    return bad(file, "bad refinement size");
  const uint64_t pixels = uint64_t(w) * uint64_t(h);
  st = jb2TakeWork(file, c->pixelBudget, pixels * JB2_REFINED_PIXEL_COST, "too many refined pixels for the coded data");
  if (st != VLT_OK) return st;
  const int32_t wpr = static_cast<int32_t>((w + 31) / 32);
  auto* r = static_cast<Jb2RefinedBitmap*>(state->malloc(sizeof(Jb2RefinedBitmap)));
  if (r == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *r = Jb2RefinedBitmap{static_cast<int32_t>(w), static_cast<int32_t>(h), nullptr, wpr};
  const size_t bytes = static_cast<size_t>(pixels == 0 ? 1 : uint64_t(h) * uint64_t(wpr) * 4);
  r->bits = static_cast<uint8_t*>(state->calloc(bytes, 1));
  if (r->bits == nullptr) {
    state->free(r);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  uint8_t* block = nullptr;
  MqDecoder own;
  MqDecoder* mq = c->mq;
  if (c->huffman) {
    // Each refinement is an MQ block of its own, counted in bytes, after the Huffman bits.
    int32_t size = 0;
    if ((st = diDecodeInBand(file, c->rsize, &size)) == VLT_OK && size < 0) st = bad(file, "bad refinement data size");
    if (st == VLT_OK) st = jbfSuspend(c->bits);
    if (st == VLT_OK) {
      st = jb2ReadBlock(file, c->source, static_cast<uint32_t>(size), &block);
      jbfResume(c->bits);
    }
    if (st == VLT_OK) VltEncode_mqdInit(&own, block, static_cast<uint32_t>(size), nullptr, nullptr, state);
    mq = &own;
  }
  if (st == VLT_OK && pixels != 0)
    st = jb2ArithDecodeRefinement(r->bits, r->width, r->height, wpr, symbol->bits, symbol->width, symbol->height,
                                  symbol->wordsPerRow, static_cast<int32_t>(dx), static_cast<int32_t>(dy),
                                  c->refineParams, c->refineContexts, file, mq);
  state->free(block);
  if (st != VLT_OK) {
    state->free(r->bits);
    state->free(r);
    return st;
  }
  *out = r;
  return VLT_OK;
}

VltStatus decode_id(Jb2File* file, const Jb2InstanceCoding* c, Jb2Symbol** symbol) {
  uint32_t value = 0;
  if (c->ids != nullptr) {
    if (const VltStatus st = symDecode(c->ids, &value); st != VLT_OK) return st;
  } else {
    uint32_t id = 0;
    if (const VltStatus st = jbfReadBits(c->bits, c->idBits, &id); st != VLT_OK) return st;
    value = id + 1;
  }
  Jb2Symbol* s = c->lookup(c->lookupContext, value);
  if (s == nullptr) return bad(file, "Could not get symbol from symDecode");
  if (s->bits == nullptr) return bad(file, "bad symbol ID");
  *symbol = s;
  return VLT_OK;
}

// Clips a w x h bitmap at (x, y) to [0, width) x [0, height); false when nothing is left.
bool visible(int64_t x, int64_t y, int64_t w, int64_t h, int64_t width, int64_t height) {
  return w > 0 && h > 0 && x < width && y < height && x + w > 0 && y + h > 0;
}

const Jb2RefinedBitmap& bitmap_of(const Jb2Instance& in) {
  // A symbol's first four fields are those of a refined bitmap.
  static_assert(offsetof(Jb2Symbol, wordsPerRow) == offsetof(Jb2RefinedBitmap, wordsPerRow));
  return in.refined != nullptr ? *in.refined : *reinterpret_cast<const Jb2RefinedBitmap*>(in.symbol);
}

// The table position of each Huffman flag field's choice; null marks an invalid value, and the
// user slot is filled from the referred code tables.
struct HuffChoice {
  int shift;
  int bits;
  const JhtTable* tables[4];
  const char* invalid;
};

constexpr HuffChoice kTextTables[8] = {
    {0, 2, {&stdhuffFS1, &stdhuffFS2, nullptr, nullptr}, "bad SBHUFFFS specification"},
    {2, 2, {&stdhuffDS1, &stdhuffDS2, &stdhuffDS3, nullptr}, nullptr},
    {4, 2, {&stdhuffDT1, &stdhuffDT2, &stdhuffDT3, nullptr}, nullptr},
    {6, 2, {&stdhuffRD1, &stdhuffRD2, nullptr, nullptr}, "bad SBHUFFRDW specification"},
    {8, 2, {&stdhuffRD1, &stdhuffRD2, nullptr, nullptr}, "bad SBHUFFRDH specification"},
    {10, 2, {&stdhuffRD1, &stdhuffRD2, nullptr, nullptr}, "bad SBHUFFRDX specification"},
    {12, 2, {&stdhuffRD1, &stdhuffRD2, nullptr, nullptr}, "bad SBHUFFRDY specification"},
    {14, 1, {&stdhuffA, nullptr, nullptr, nullptr}, nullptr},
};
enum { kFS, kDS, kDT, kRDW, kRDH, kRDX, kRDY, kRSIZE, kTextTableCount };

struct SymbolList {
  Jb2Symbol** symbols;
  uint32_t count;
};

Jb2Symbol* list_lookup(void* context, uint32_t value) {
  const auto* l = static_cast<const SymbolList*>(context);
  return value != 0 && value <= l->count ? l->symbols[value - 1] : nullptr;
}

// Everything a text-region decode holds until it ends.
struct TextWork {
  VltState* state;
  JbfFile* bits = nullptr;
  SymDecoder* ids = nullptr;
  DiDecoder* d[10] = {};
  uint8_t* intContexts = nullptr;
  uint8_t* refineContexts = nullptr;
  Jb2Symbol** symbols = nullptr;
  uint32_t* values = nullptr;
  uint32_t* lengths = nullptr;
  Jb2Instance* instances = nullptr;
  uint32_t decoded = 0;

  ~TextWork() {
    for (DiDecoder* x : d) diFreeDecoder(x);
    symDecoderFree(ids);
    jbfClose(bits);
    state->free(intContexts);
    state->free(refineContexts);
    state->free(symbols);
    state->free(values);
    state->free(lengths);
    jb2FreeInstances(instances, decoded, state);
  }
};

// The symbol-ID code of a Huffman text region: 35 run-code lengths, then the symbols' code
// lengths in run codes, then padding to a byte.
VltStatus read_id_lengths(Jb2File* file, JbfFile* bits, uint32_t n, uint32_t* lengths) {
  VltState* state = jb2GetFileVlt_State(file);
  JhtLine lines[35];
  void* values[35];
  for (int i = 0; i < 35; ++i) {
    uint32_t len = 0;
    if (const VltStatus st = jbfReadBits(bits, 4, &len); st != VLT_OK) return st;
    lines[i] = JhtLine{0, i, static_cast<uint8_t>(len), 0, {0, 0}};
    values[i] = &lines[i];
  }
  JhtTable runs{};
  runs.lineCount = 35;
  runs.lines = lines;
  VltStatus st = jhtSetCodes(&runs, state);
  if (st == VLT_OK) st = jhtCompile(&runs, values, state);
  uint32_t prev = 0;
  for (uint32_t i = 0; st == VLT_OK && i < n;) {
    void* found = nullptr;
    if ((st = jhtReadCode(&runs, bits, state, &found)) != VLT_OK) break;
    const auto code = static_cast<uint32_t>(static_cast<const JhtLine*>(found) - lines);
    if (code < 32) {
      lengths[i++] = prev = code;
      continue;
    }
    const int extra = code == 32 ? 2 : code == 33 ? 3 : 7;
    uint32_t r = 0;
    if ((st = jbfReadBits(bits, extra, &r)) != VLT_OK) break;
    const uint32_t repeat = r + (code == 34 ? 11 : 3);
    if (repeat > n - i) {
      st = bad(file, "too many runcodes");
      break;
    }
    const uint32_t len = code == 32 ? prev : 0;
    for (uint32_t k = 0; k < repeat; ++k) lengths[i++] = len;
    prev = len;
  }
  jhtCleanup(&runs, state);
  if (st == VLT_OK) jbfFlushByte(bits);
  return st;
}

}  // namespace

// ---- Instances -----------------------------------------------------------------------------

VltStatus jb2DecodeInstances(Jb2File* file, const Jb2InstanceCoding* c, uint32_t count,
                             Jb2Instance** instances, uint32_t* decoded) {
  VltState* state = jb2GetFileVlt_State(file);
  *instances = nullptr;
  *decoded = 0;
  uint32_t capacity = 0;
  const int64_t strips = int64_t{1} << c->logStrips;
  int32_t dt = 0;
  if (const VltStatus st = diDecodeInBand(file, c->dt, &dt); st != VLT_OK) return st;
  int64_t stripT = -int64_t{dt} * strips;
  int64_t firstS = 0;
  if (count == 0) return VLT_OK;
  uint32_t n = 0;
  uint32_t pastEnd = 0;  // instances begun after the MQ data ended
  VltStatus st = VLT_OK;
  // Every strip places at least one instance, so the strips are bounded by the count.
  for (;;) {
    if ((st = diDecodeInBand(file, c->dt, &dt)) != VLT_OK) break;
    stripT += int64_t{dt} * strips;
    int32_t dfs = 0;
    if ((st = diDecodeInBand(file, c->fs, &dfs)) != VLT_OK) break;
    firstS += dfs;
    int64_t curS = firstS;
    bool stripEnds = false;
    while (!stripEnds) {
      if (!c->huffman && jb2MqPastEnd(c->mq)) {
        if (pastEnd == 0 && *c->pixelBudget > JB2_MQ_PIXELS_PAST_END) *c->pixelBudget = JB2_MQ_PIXELS_PAST_END;
        if (++pastEnd > JB2_MQ_INSTANCES_PAST_END) {
          st = bad(file, "arithmetic-coded data ends early");
          break;
        }
      }
      int64_t curT = 0;
      if (c->logStrips != 0) {
        if (c->huffman) {
          uint32_t v = 0;
          if ((st = jbfReadBits(c->bits, c->logStrips, &v)) != VLT_OK) break;
          curT = v;
        } else {
          int32_t v = 0;
          if ((st = diDecodeInBand(file, c->it, &v)) != VLT_OK) break;
          curT = v;
        }
      }
      const int64_t t = stripT + curT;
      Jb2Symbol* symbol = nullptr;
      if ((st = decode_id(file, c, &symbol)) != VLT_OK) break;
      int32_t ri = 0;
      if (c->refine) {
        if (c->huffman) {
          uint32_t v = 0;
          if ((st = jbfReadBits(c->bits, 1, &v)) != VLT_OK) break;
          ri = static_cast<int32_t>(v);
        } else {
          int oob = 0;
          if ((st = diDecode(c->ri, &oob, &ri)) != VLT_OK) break;
          if (oob || static_cast<uint32_t>(ri) > 1) {
            st = bad(file, "bad RI value");
            break;
          }
        }
      }
      Jb2RefinedBitmap* refined = nullptr;
      if (ri != 0 && (st = refine_instance(file, c, symbol, &refined)) != VLT_OK) break;
      if ((st = room_for(state, instances, &capacity, n, count)) != VLT_OK) {
        if (refined != nullptr) {
          state->free(refined->bits);
          state->free(refined);
        }
        break;
      }
      Jb2Instance& in = (*instances)[n++];
      in = Jb2Instance{0, 0, symbol, refined, nullptr};
      *decoded = n;
      const int64_t w = refined != nullptr ? refined->width : symbol->width;
      const int64_t h = refined != nullptr ? refined->height : symbol->height;
      const bool right = c->refCorner >= 2, bottom = (c->refCorner & 1) == 0;
      if (!c->transposed && right) curS += w - 1;
      if (c->transposed && bottom) curS += h - 1;
      int64_t x, y;
      if (!c->transposed) {
        x = right ? curS - w + 1 : curS;
        y = bottom ? t - h + 1 : t;
      } else {
        x = right ? t - w + 1 : t;
        y = bottom ? curS - h + 1 : curS;
      }
      if (!fits32(x) || !fits32(y)) {
        st = bad(file, "symbol instance position out of range");
        break;
      }
      in.x = static_cast<int32_t>(x);
      in.y = static_cast<int32_t>(y);
      if (!c->transposed && !right) curS += w - 1;
      if (c->transposed && !bottom) curS += h - 1;
      int oob = 0;
      int32_t ids = 0;
      if ((st = diDecode(c->ds, &oob, &ids)) != VLT_OK) break;
      if (oob) {
        stripEnds = true;
      } else if (n == count) {
        st = bad(file, "too many symbol instances");
        break;
      } else {
        curS += int64_t{ids} + c->dsOffset;
      }
      // Positions that drift beyond any bitmap are refused before they could wrap.
      if (!fits32(curS) || !fits32(firstS) || !fits32(stripT)) {
        st = bad(file, "symbol instance position out of range");
        break;
      }
    }
    if (st != VLT_OK || n == count) break;
  }
  return st;
}

VltStatus jb2CheckCoverage(const Jb2File* file, const Jb2Instance* instances, uint32_t count, int64_t width,
                           int64_t height) {
  const uint64_t budget = jb2DrawBudget(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
  uint64_t drawn = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const Jb2RefinedBitmap& b = bitmap_of(instances[i]);
    const int64_t x = instances[i].x, y = instances[i].y;
    if (b.bits == nullptr || !visible(x, y, b.width, b.height, width, height)) continue;
    const int64_t w = std::min<int64_t>(x + b.width, width) - std::max<int64_t>(x, 0);
    const int64_t h = std::min<int64_t>(y + b.height, height) - std::max<int64_t>(y, 0);
    drawn += static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    if (drawn > budget) return bad(file, "symbol instances cover their region too many times over");
  }
  return VLT_OK;
}

void jb2DrawInstances(uint8_t* bits, int32_t width, int32_t height, int32_t wordsPerRow,
                      const Jb2Instance* instances, uint32_t count, uint8_t combOp, VltState*) {
  if (bits == nullptr) return;
  const int32_t op = static_cast<int32_t>(jb2Minterms[combOp <= JB2_COMBOP_REPLACE ? combOp : 0]);
  for (uint32_t i = 0; i < count; ++i) {
    const Jb2RefinedBitmap& b = bitmap_of(instances[i]);
    if (b.bits == nullptr || !visible(instances[i].x, instances[i].y, b.width, b.height, width, height)) continue;
    VltBlat_blitBitsOp(bits, wordsPerRow, 0, 0, width, height, b.bits, b.wordsPerRow, b.width, b.height,
                       instances[i].x, instances[i].y, op);
  }
}

void jb2FreeInstances(Jb2Instance* instances, uint32_t count, VltState* state) {
  if (instances == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (instances[i].refined == nullptr) continue;
    state->free(instances[i].refined->bits);
    state->free(instances[i].refined);
  }
  state->free(instances);
}

// ---- Text region segments ------------------------------------------------------------------

VltStatus jb2DecodeSymReg(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo** referred) {
  VltState* state = jb2GetFileVlt_State(file);
  VltStatus st = jb2DecodeRegSegment(file, source, &seg->region);
  if (st != VLT_OK) return st;
  uint8_t b[4];
  uint32_t got = 0;
  if ((st = dsRead(source, 2, b, &got)) != VLT_OK) return st;
  const uint16_t flags = mono::load_be16(b);
  const uint8_t huffman = flags & 1;
  const uint8_t refine = (flags >> 1) & 1;
  const uint8_t logStrips = (flags >> 2) & 3;
  const uint8_t refCorner = (flags >> 4) & 3;
  const uint8_t transposed = (flags >> 6) & 1;
  const uint8_t combOp = (flags >> 7) & 3;
  const uint8_t defaultPixel = (flags >> 9) & 1;
  const int32_t dsOffset = static_cast<int32_t>((flags >> 10) & 0x1F) - (((flags >> 10) & 0x10) != 0 ? 32 : 0);
  const uint8_t rTemplate = (flags >> 15) & 1;
  if (!refine && rTemplate) return bad(file, "bad template flag for non-refining symbol region");

  const JhtTable* tables[kTextTableCount] = {};
  if (huffman) {
    if ((st = dsRead(source, 2, b, &got)) != VLT_OK) return st;
    const uint16_t hflags = mono::load_be16(b);
    JhtTable* slots[kTextTableCount] = {};
    int32_t slotCount = 0;
    int user[kTextTableCount];
    for (int f = 0; f < kTextTableCount; ++f) {
      const HuffChoice& h = kTextTables[f];
      const unsigned v = (hflags >> h.shift) & ((1u << h.bits) - 1);
      user[f] = -1;
      if (v == (1u << h.bits) - 1) {
        user[f] = slotCount++;
        continue;
      }
      if (h.tables[v] == nullptr) return bad(file, h.invalid);
      tables[f] = h.tables[v];
    }
    if ((st = findUserTables(slots, slotCount, referred, seg->referredCount, state)) != VLT_OK) return st;
    for (int f = 0; f < kTextTableCount; ++f)
      if (user[f] >= 0) tables[f] = slots[user[f]];
    for (int f = 0; f < kTextTableCount; ++f)
      if ((tables[f]->hasOOB != 0) != (f == kDS)) return bad(file, "wrong OOB capabilities");
  }

  TextWork w{state};
  RefinementParams rparams{};
  if (refine) {
    rparams.grTemplate = rTemplate;
    uint32_t consumed = 0;
    if ((st = jb2DecodeRABParams(file, source, &rparams, &consumed)) != VLT_OK) return st;
    w.refineContexts = static_cast<uint8_t*>(state->calloc(jb2RABContextsNeeded(&rparams), 1));
    if (w.refineContexts == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  }
  if ((st = dsRead(source, 4, b, &got)) != VLT_OK) return st;
  const uint32_t count = mono::load_be32(b);
  if (count > JB2_MAX_INSTANCES) return bad(file, "too many symbol instances");
  if (count > jb2InstanceBudget(file, seg->dataLength)) return bad(file, "more symbol instances than the coded data can place");
  jb2SettleInstances(file, seg->dataLength, count);

  // The symbols of the referred dictionaries, in order.
  uint64_t total = 0;
  for (int32_t r = 0; r < seg->referredCount; ++r) {
    if (referred[r]->type == JB2_SEG_SYMBOL_DICT)
      total += static_cast<uint32_t>(referred[r]->body.symbolDict.count);
    else if (referred[r]->type != JB2_SEG_TABLES)
      return bad(file, "bad referenced segment type");
  }
  if (total > JB2_MAX_SYMBOLS) return bad(file, "too many symbols");
  const auto n = static_cast<uint32_t>(total);
  const size_t slots = n != 0 ? n : 1;
  w.symbols = static_cast<Jb2Symbol**>(state->malloc(slots * sizeof(Jb2Symbol*)));
  w.values = static_cast<uint32_t*>(state->malloc(slots * sizeof(uint32_t)));
  if (w.symbols == nullptr || w.values == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  uint32_t k = 0;
  for (int32_t r = 0; r < seg->referredCount; ++r) {
    if (referred[r]->type != JB2_SEG_SYMBOL_DICT) continue;
    const Jb2SymbolDict& d = referred[r]->body.symbolDict;
    for (int32_t i = 0; i < d.count; ++i) w.symbols[k++] = &d.symbols[i];
  }
  for (uint32_t i = 0; i < n; ++i) w.values[i] = i + 1;

  MqDecoder mq;
  if (huffman) {
    if ((st = jbfOpenFromDataSource(source, &w.bits)) != VLT_OK) return st;
    w.lengths = static_cast<uint32_t*>(state->malloc(slots * sizeof(uint32_t)));
    if (w.lengths == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    if ((st = read_id_lengths(file, w.bits, n, w.lengths)) != VLT_OK) return st;
    if ((st = symDecoderHuffman(w.values, static_cast<int32_t>(n), w.bits, w.lengths, state, &w.ids)) != VLT_OK)
      return st;
  } else {
    dsInitVltEncode_MQDecoder(source, &mq);
    if ((st = symDecoderArith(w.values, static_cast<int32_t>(n), &mq, state, &w.ids)) != VLT_OK) return st;
  }

  // Integer decoders: FS, DS, DT, RDW, RDH, RDX, RDY, then RSIZE or RI, then IT.
  w.intContexts = static_cast<uint8_t*>(state->malloc(10 * size_t{DI_MQ_CONTEXTS}));
  if (w.intContexts == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  auto make = [&](int i, const JhtTable* table) {
    return diNewDecoderEither(huffman, table, w.bits, &mq, w.intContexts + i * DI_MQ_CONTEXTS, state, &w.d[i]);
  };
  const int used = refine ? 7 : 3;
  for (int i = 0; i < used; ++i)
    if ((st = make(i, tables[i])) != VLT_OK) return st;
  if (refine) {
    if (huffman)
      st = diNewDecoder(tables[kRSIZE], w.bits, state, &w.d[7]);
    else
      st = make(8, nullptr);
    if (st != VLT_OK) return st;
  }
  if (!huffman && (st = make(9, nullptr)) != VLT_OK) return st;

  SymbolList list{w.symbols, n};
  uint64_t budget = jb2WorkBudget(file, seg->dataLength);
  const uint64_t doneBefore = file->workDone;
  const Jb2InstanceCoding coding{huffman, refine, transposed, refCorner, logStrips, dsOffset, w.ids, 0,
                                 list_lookup, &list, w.d[kFS], w.d[kDS], w.d[kDT], w.d[9], w.d[8],
                                 w.d[kRDW], w.d[kRDH], w.d[kRDX], w.d[kRDY], w.d[7], w.bits, source,
                                 &mq, &rparams, w.refineContexts, &budget};
  st = jb2DecodeInstances(file, &coding, count, &w.instances, &w.decoded);
  jb2SettleWork(file, seg->dataLength, doneBefore);
  if (st != VLT_OK) return st;
  if ((st = jb2CheckCoverage(file, w.instances, w.decoded, seg->region.width, seg->region.height)) != VLT_OK)
    return st;
  if (w.bits != nullptr) {
    if ((st = jbfCloseFromDataSource(w.bits)) != VLT_OK) return st;
    w.bits = nullptr;
  }
  // Whatever follows the coded instances in the segment is skipped with it.
  seg->body.textRegion = Jb2TextRegion{static_cast<int32_t>(count), w.instances, combOp, defaultPixel};
  w.instances = nullptr;
  w.decoded = 0;
  return VLT_OK;
}

VltStatus jb2RenderSymReg(Jb2File* file, SegmentInfo* seg) {
  if (seg->hasBitmap) return VLT_OK;
  VltState* state = jb2GetFileVlt_State(file);
  const Jb2RegionInfo& r = seg->region;
  VltImage* bm = nullptr;
  if (const VltStatus st = jb2NewRegionBitmap(file, r, &bm); st != VLT_OK) return st;
  const Jb2TextRegion& t = seg->body.textRegion;
  if (bm->rows != nullptr) {
    if (t.defaultPixel) VltBlat_blitFillPacked(bm);
    jb2DrawInstances(bm->rows[0], bm->hdr.width, bm->hdr.height, bm->hdr.bytesPerLine / 4, t.instances,
                     static_cast<uint32_t>(t.count), t.combOp, state);
  }
  seg->bitmap = bm;
  seg->hasBitmap = 1;
  return VLT_OK;
}

VltStatus jb2RenderSymRegIntoPage(Jb2File* file, SegmentInfo* seg, VltImage* page) {
  if (seg->type == JB2_SEG_TEXT_INTERMEDIATE) return VLT_ERR_ASSERT;
  const Jb2RegionInfo& r = seg->region;
  if (uint64_t{r.x} + r.width > static_cast<uint64_t>(page->hdr.width) ||
      uint64_t{r.y} + r.height > static_cast<uint64_t>(page->hdr.height))
    return bad(file, "region extends off page");
  const Jb2TextRegion& t = seg->body.textRegion;
  if (r.combOp == JB2_COMBOP_OR && t.combOp == JB2_COMBOP_OR && !t.defaultPixel && !seg->hasBitmap) {
    // ORed onto white, the instances go straight into the page, clipped to the region.
    if (page->rows == nullptr) return VLT_OK;
    const int32_t stride = page->hdr.bytesPerLine / 4;
    const int64_t rw = r.width, rh = r.height;
    for (int32_t i = 0; i < t.count; ++i) {
      const Jb2Instance& in = t.instances[i];
      const Jb2RefinedBitmap& b = bitmap_of(in);
      if (b.bits == nullptr || !visible(in.x, in.y, b.width, b.height, rw, rh)) continue;
      const int64_t x0 = in.x < 0 ? -int64_t{in.x} : 0, y0 = in.y < 0 ? -int64_t{in.y} : 0;
      const int64_t x1 = b.width < rw - in.x ? b.width : rw - in.x;
      const int64_t y1 = b.height < rh - in.y ? b.height : rh - in.y;
      const auto px = static_cast<int32_t>(int64_t{r.x} + in.x + x0);
      const auto py = static_cast<int32_t>(int64_t{r.y} + in.y + y0);
      if (x0 == 0 && y0 == 0 && x1 == b.width && y1 == b.height)
        VltBlat_blitBitsNoClip(page->rows[0], stride, b.bits, b.wordsPerRow, b.width, b.height, px, py);
      else
        VltBlat_blitBitsClipLR(page->rows[0], stride, b.bits + static_cast<size_t>(y0) * b.wordsPerRow * 4,
                               b.wordsPerRow, static_cast<int32_t>(x0), static_cast<int32_t>(x1 - x0),
                               static_cast<int32_t>(y1 - y0), px, py);
    }
    return VLT_OK;
  }
  if (const VltStatus st = jb2RenderSymReg(file, seg); st != VLT_OK) return st;
  return VltBlat_blitPackedOp(page, seg->bitmap, static_cast<int32_t>(r.x), static_cast<int32_t>(r.y),
                              static_cast<int32_t>(jb2Minterms[r.combOp]));
}

void jb2FreeSymRegSegment(SegmentInfo* seg, VltState* state) {
  Jb2TextRegion& t = seg->body.textRegion;
  jb2FreeInstances(t.instances, t.count > 0 ? static_cast<uint32_t>(t.count) : 0, state);
  t.instances = nullptr;
  t.count = 0;
}
