// Symbol dictionary writer: all symbols new and exported, no refinement or aggregation. Symbols
// are coded in height classes; with Huffman coding each class's bitmaps travel side by side as
// one MMR-coded collective bitmap, with MQ coding each bitmap is coded on its own with one set of
// generic-region statistics for the whole dictionary.

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "jb2_encode.h"
#include "jb2_tune.h"
#include "vlt_blit.h"
#include "vlt_state.h"

namespace {

// Symbol sizes the collective bitmap arithmetic handles without overflow.
constexpr int32_t kMaxSymbolSide = 1 << 24;

enum { kDW1, kDW2, kDH1, kDH2, kCandidates };
enum { kCxDW, kCxDH, kCxEX, kCxKinds };

struct Resources {
  VltState* state;
  Jb2Symbol** sorted = nullptr;
  JhtTable* tuned[2] = {};  // DW, DH
  JbfFile* bits = nullptr;
  EiEncoder* dw = nullptr;
  EiEncoder* dh = nullptr;
  EiEncoder* ex = nullptr;
  EiEncoder* bmsize = nullptr;
  uint8_t* genericContexts = nullptr;
  uint8_t* intContexts = nullptr;

  ~Resources() {
    eiFreeEncoder(dw);
    eiFreeEncoder(dh);
    eiFreeEncoder(ex);
    eiFreeEncoder(bmsize);
    if (bits != nullptr) jbfClose(bits);
    for (JhtTable* t : tuned) jhtFree(t, state);
    state->free(genericContexts);
    state->free(intContexts);
    state->free(sorted);
  }
};

// Coding order: by height, then width; equal sizes keep their order in the record (by index,
// so the order never depends on where the entries happen to lie).
struct symGT {
  const Jb2Symbol* base;
  bool operator()(const Jb2Symbol* a, const Jb2Symbol* b) const {
    if (a->height != b->height) return a->height < b->height;
    if (a->width != b->width) return a->width < b->width;
    return (a - base) < (b - base);
  }
};

VltStatus check_symbols(const Jb2SymbolDict& d, VltState* state) {
  if (d.count < 0 || (d.count > 0 && d.symbols == nullptr)) return VLT_ERR_ASSERT;
  for (int32_t i = 0; i < d.count; ++i) {
    const Jb2Symbol& s = d.symbols[i];
    if (s.width < 1 || s.height < 1 || s.width > kMaxSymbolSide || s.height > kMaxSymbolSide || s.bits == nullptr ||
        s.wordsPerRow < (s.width + 31) / 32)
      return Vlt_report(state, VLT_ERR_PARAM);
  }
  return VLT_OK;
}

// Counts the height differences and widths on both candidates of each group and keeps the
// cheapest (or a tuned copy).
VltStatus choose_tables(const Jb2FileParams& params, Jb2Symbol* const* sorted, int32_t n, const JhtTable* chosen[2],
                        uint8_t selector[2], Resources& res) {
  VltState* state = res.state;
  uint32_t* lengths[kCandidates] = {};
  uint32_t* counts[kCandidates] = {};
  EiEncoder* counters[kCandidates] = {};
  uint64_t standard[kCandidates] = {}, tuned[kCandidates] = {};
  const JhtTable* candidates[kCandidates] = {dwtables[0], dwtables[1], dhtables[0], dhtables[1]};
  if (const VltStatus st = jhtAllocTableInfo(candidates, lengths, counts, counters, kCandidates, state); st != VLT_OK)
    return st;
  auto count = [&](int first, int32_t value, int oob) {
    for (int i = first; i < first + 2; ++i) eiCount(counters[i], value, oob, counts[i]);
  };
  int32_t height = 0, width = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (sorted[i]->height != height) {
      if (height != 0) count(kDW1, 0, 1);
      count(kDH1, sorted[i]->height - height, 0);
      height = sorted[i]->height;
      width = 0;
    }
    count(kDW1, sorted[i]->width - width, 0);
    width = sorted[i]->width;
  }
  if (height != 0) count(kDW1, 0, 1);
  VltStatus st = VLT_OK;
  for (int i = 0; i < kCandidates && st == VLT_OK; ++i)
    st = jhtCountBits(candidates[i], counts[i], lengths[i], &standard[i], &tuned[i], state);
  for (int g = 0; g < 2 && st == VLT_OK; ++g) {
    const int first = g == 0 ? kDW1 : kDH1;
    uint8_t isTuned = 0;
    int32_t index = 0;
    st = jhtDecideTable(candidates + first, counts + first, lengths + first, standard + first, tuned + first,
                        &isTuned, &chosen[g], 2, params.sdAllowTuned, state, &index);
    if (st == VLT_OK) {
      selector[g] = isTuned ? 3 : static_cast<uint8_t>(index);
      if (isTuned) res.tuned[g] = const_cast<JhtTable*>(chosen[g]);
    }
  }
  jhtFreeTableInfo(lengths, counts, counters, kCandidates, state);
  return st;
}

}  // namespace

VltStatus writeMMRCollectiveBitmap(Jb2File* file, DataSink* sink, JbfFile* bits, EiEncoder* bmsize,
                                   Jb2Symbol* const* symbols, int32_t m) {
  if (m < 1) return VLT_ERR_ASSERT;
  VltState* state = file->state;
  const int32_t h = symbols[0]->height;
  int64_t total = 0;
  for (int32_t i = 0; i < m; ++i) {
    if (symbols[i]->height != h) return VLT_ERR_ASSERT;
    total += symbols[i]->width;
  }
  if (total > INT32_MAX - 31) return Vlt_report(state, VLT_ERR_PARAM);
  const int32_t width = static_cast<int32_t>(total);
  const int32_t words = (width + 31) / 32;
  size_t bufferBytes = 0, capacity = 0;
  if (!mono::checked_mul(static_cast<size_t>(words) * 4, static_cast<size_t>(h), &bufferBytes) ||
      !mono::checked_mul(static_cast<size_t>((width + 7) / 8), static_cast<size_t>(h), &capacity) ||
      capacity > INT32_MAX / 2)
    return Vlt_report(state, VLT_ERR_PARAM);
  auto* buffer = static_cast<uint8_t*>(state->calloc(bufferBytes, 1));
  if (buffer == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  int32_t x = 0;
  for (int32_t i = 0; i < m; ++i) {
    VltBlat_blitBitsNoClip(buffer, words, symbols[i]->bits, symbols[i]->wordsPerRow, symbols[i]->width, h, x, 0);
    x += symbols[i]->width;
  }
  // Every class goes as MMR, even where the code is larger than the pixels: some decoders in
  // wide use lose count of the bytes of an uncompressed class (size 0) and misread every later
  // segment of the stream.
  uint8_t* out = nullptr;
  size_t coded = 0;
  VltStatus st = VLT_ERR_OVERFLOW;
  while (st == VLT_ERR_OVERFLOW) {
    state->free(out);
    out = static_cast<uint8_t*>(state->malloc(capacity));
    if (out == nullptr) {
      st = Vlt_report(state, VLT_ERR_NOMEM);
      break;
    }
    coded = capacity;
    st = jb2MMREncode(buffer, width, h, words, out, &coded, 0, state);
    if (st == VLT_ERR_OVERFLOW && capacity > INT32_MAX / 2) st = Vlt_report(state, VLT_ERR_PARAM);
    capacity += capacity / 4 + 1;
  }
  if (st == VLT_OK) st = eiEncode(bmsize, static_cast<int32_t>(coded), 0);
  if (st == VLT_OK) st = jbfSuspend(bits);
  if (st == VLT_OK) {
    st = jb2WriteBytes(file, sink, out, static_cast<uint32_t>(coded));
    jbfResume(bits);
  }
  state->free(buffer);
  state->free(out);
  return st;
}

VltStatus jb2EncodeSymDict(Jb2File* file, SegmentInfo* seg, SegmentInfo* const* referred, Jb2SymbolOrderFn hook,
                           void* hookContext, int reorder) {
  if (seg->type != JB2_SEG_SYMBOL_DICT) return VLT_ERR_ASSERT;
  VltState* state = file->state;
  const Jb2FileParams& params = file->params;
  const bool huffman = params.arith == 0;
  Jb2SymbolDict& dict = seg->body.symbolDict;
  const int32_t n = dict.count;
  const int32_t referredCount = seg->referredCount;
  if (referredCount < 0 || (referredCount > 0 && referred == nullptr)) return VLT_ERR_ASSERT;
  if (const VltStatus st = check_symbols(dict, state); st != VLT_OK) return st;
  // Symbol bitmaps are coded without typical prediction; a dictionary coded with it could not
  // be read.
  if (!huffman && params.generic.tpgdon)
    return Vlt_reportErrMsg(state->errState, VLT_ERR_CODEC, "symdict can't have TPD on");
  int64_t inputSymbols = 0;
  for (int32_t r = 0; r < referredCount; ++r)
    if (referred[r] != nullptr && referred[r]->type == JB2_SEG_SYMBOL_DICT)
      inputSymbols += std::max(referred[r]->body.symbolDict.count, 0);
  if (inputSymbols > INT32_MAX) return Vlt_report(state, VLT_ERR_PARAM);

  Resources res{state};
  size_t bytes = 0;
  if (!mono::checked_mul(static_cast<size_t>(n > 0 ? n : 1), sizeof(Jb2Symbol*), &bytes) ||
      (res.sorted = static_cast<Jb2Symbol**>(state->malloc(bytes))) == nullptr)
    return Vlt_report(state, VLT_ERR_NOMEM);
  for (int32_t i = 0; i < n; ++i) res.sorted[i] = &dict.symbols[i];
  std::sort(res.sorted, res.sorted + n, symGT{dict.symbols});
  if (hook != nullptr)
    if (const VltStatus st = hook(res.sorted, n, hookContext); st != VLT_OK) return st;

  const JhtTable* tables[2] = {&stdhuffDW1, &stdhuffDH1};  // DW, DH
  uint8_t selector[2] = {0, 0};
  if (huffman && !params.sdFixedTables) {
    if (const VltStatus st = choose_tables(params, res.sorted, n, tables, selector, res); st != VLT_OK) return st;
    for (int g : {1, 0})
      if (res.tuned[g] != nullptr)
        if (const VltStatus st = jb2SendTunedTable(file, seg, res.tuned[g]); st != VLT_OK) return st;
  }

  seg->number = jb2FileNextSegmentNumber(file);
  seg->retain = 1;
  seg->deferred = 0;
  if (const VltStatus st = jb2EncodeSegmentHeader(file, seg); st != VLT_OK) return st;
  DataSink* sink = file->dataSink;
  dsResetCount(sink);
  const uint32_t flags = huffman ? 1u | static_cast<uint32_t>(selector[1]) << 2 | static_cast<uint32_t>(selector[0]) << 4
                                 : static_cast<uint32_t>(params.generic.gbTemplate & 3u) << 10;
  if (const VltStatus st = jb2WriteU16(file, sink, static_cast<uint16_t>(flags)); st != VLT_OK) return st;
  if (!huffman)
    if (const VltStatus st = jb2EncodeABParams(file, sink, &params.generic); st != VLT_OK) return st;
  if (const VltStatus st = jb2WriteU32(file, sink, static_cast<uint32_t>(n)); st != VLT_OK) return st;
  if (const VltStatus st = jb2WriteU32(file, sink, static_cast<uint32_t>(n)); st != VLT_OK) return st;

  MqEncoder mq{};
  VltStatus st = VLT_OK;
  if (huffman) {
    st = jbfOpenFromDataSink(sink, &res.bits);
    if (st == VLT_OK) st = eiNewEncoder(&stdhuffA, res.bits, state, &res.bmsize);
  } else {
    dsInitVltEncode_MQEncoder(sink, &mq);
    res.genericContexts = static_cast<uint8_t*>(state->calloc(jb2ABContextsNeeded(&params.generic), 1));
    res.intContexts = static_cast<uint8_t*>(state->calloc(kCxKinds, EI_MQ_CONTEXTS));
    if (res.genericContexts == nullptr || res.intContexts == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  }
  uint8_t* cx = res.intContexts;
  if (st == VLT_OK)
    st = eiNewEncoderEither(huffman, tables[0], res.bits, &mq, cx ? cx + kCxDW * EI_MQ_CONTEXTS : nullptr, state, &res.dw);
  if (st == VLT_OK)
    st = eiNewEncoderEither(huffman, tables[1], res.bits, &mq, cx ? cx + kCxDH * EI_MQ_CONTEXTS : nullptr, state, &res.dh);
  if (st == VLT_OK)
    st = eiNewEncoderEither(huffman, &stdhuffA, res.bits, &mq, cx ? cx + kCxEX * EI_MQ_CONTEXTS : nullptr, state, &res.ex);

  int32_t height = 0, width = 0, classStart = 0;
  for (int32_t i = 0; st == VLT_OK && i < n; ++i) {
    const Jb2Symbol& s = *res.sorted[i];
    if (s.height != height) {
      if (height != 0) {
        st = eiEncode(res.dw, 0, 1);
        if (st == VLT_OK && huffman)
          st = writeMMRCollectiveBitmap(file, sink, res.bits, res.bmsize, res.sorted + classStart, i - classStart);
      }
      if (st == VLT_OK) st = eiEncode(res.dh, s.height - height, 0);
      height = s.height;
      width = 0;
      classStart = i;
    }
    if (st == VLT_OK) st = eiEncode(res.dw, s.width - width, 0);
    width = s.width;
    if (st == VLT_OK && !huffman)
      st = jb2ArithEncodeImage(s.bits, s.width, s.height, s.wordsPerRow, &params.generic, res.genericContexts, file, &mq);
  }
  if (st == VLT_OK && height != 0) {
    st = eiEncode(res.dw, 0, 1);
    if (st == VLT_OK && huffman)
      st = writeMMRCollectiveBitmap(file, sink, res.bits, res.bmsize, res.sorted + classStart, n - classStart);
  }
  // Export runs: the input symbols are not exported, every new one is.
  if (st == VLT_OK) st = eiEncode(res.ex, static_cast<int32_t>(inputSymbols), 0);
  if (st == VLT_OK) st = eiEncode(res.ex, n, 0);
  if (st == VLT_OK) {
    if (huffman) {
      st = jbfCloseFromDataSink(res.bits);
      res.bits = nullptr;
    } else {
      st = dsFinalVltEncode_MQEncoder(sink, &mq);
    }
  }
  if (st == VLT_OK && reorder && n > 0) {
    auto* copy = static_cast<Jb2Symbol*>(state->malloc(static_cast<size_t>(n) * sizeof(Jb2Symbol)));
    if (copy == nullptr) {
      st = Vlt_report(state, VLT_ERR_NOMEM);
    } else {
      for (int32_t i = 0; i < n; ++i) copy[i] = *res.sorted[i];
      std::memcpy(dict.symbols, copy, static_cast<size_t>(n) * sizeof(Jb2Symbol));
      state->free(copy);
    }
  }
  if (st != VLT_OK) return st;
  seg->dataLength = dsCount(sink);
  return jb2EncodeSegmentHeaderDataLength(file, seg);
}
