// Text region writer: the segment is written from the coding choice. Each referred symbol's
// owner link is borrowed to point at the symbol's ID record, so an instance finds its ID in one
// step; the links go back before the writer returns, whatever happens.

#include <cstring>
#include <functional>

#include "checked_size.h"
#include "jb2_encode.h"
#include "jb2_symid.h"
#include "jb2_text_walk.h"
#include "vlt_state.h"

namespace {

struct SymbolRecord {
  uint32_t usage;
  uint32_t id;
};

// The referred dictionaries' symbols with their owner links lent to ID records.
struct SymbolIds {
  VltState* state = nullptr;
  SegmentInfo* const* referred = nullptr;
  int32_t referredCount = 0;
  int32_t count = 0;
  SymbolRecord* records = nullptr;
  void** saved = nullptr;
  bool lent = false;

  bool is_dictionary(int32_t r) const {
    return referred[r] != nullptr && referred[r]->type == JB2_SEG_SYMBOL_DICT && referred[r]->body.symbolDict.count > 0;
  }

  VltStatus lend() {
    int64_t total = 0;
    for (int32_t r = 0; r < referredCount; ++r)
      if (is_dictionary(r)) {
        if (referred[r]->body.symbolDict.symbols == nullptr) return VLT_ERR_ASSERT;
        total += referred[r]->body.symbolDict.count;
      }
    if (total > INT32_MAX) return Vlt_report(state, VLT_ERR_PARAM);
    count = static_cast<int32_t>(total);
    const size_t slots = static_cast<size_t>(count > 0 ? count : 1);
    records = static_cast<SymbolRecord*>(state->calloc(slots, sizeof(SymbolRecord)));
    saved = static_cast<void**>(state->calloc(slots, sizeof(void*)));
    if (records == nullptr || saved == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    int32_t next = 0;
    for (int32_t r = 0; r < referredCount; ++r) {
      if (!is_dictionary(r)) continue;
      Jb2SymbolDict& d = referred[r]->body.symbolDict;
      for (int32_t k = 0; k < d.count; ++k, ++next) {
        saved[next] = d.symbols[k].owner;
        records[next].id = static_cast<uint32_t>(next);
        d.symbols[k].owner = &records[next];
      }
    }
    lent = true;
    return VLT_OK;
  }

  // Backwards, so that a dictionary listed twice gets its own links back.
  void restore() {
    if (!lent) return;
    int32_t next = count;
    for (int32_t r = referredCount - 1; r >= 0; --r) {
      if (!is_dictionary(r)) continue;
      Jb2SymbolDict& d = referred[r]->body.symbolDict;
      for (int32_t k = d.count - 1; k >= 0; --k) d.symbols[k].owner = saved[--next];
    }
    lent = false;
  }

  // The record of an instance's symbol, or null when the symbol is in no referred dictionary.
  SymbolRecord* record_of(const Jb2Instance& in) const {
    auto* p = static_cast<SymbolRecord*>(in.symbol->owner);
    const std::less<const SymbolRecord*> before;
    if (count == 0 || before(p, records) || !before(p, records + count)) return nullptr;
    return p;
  }

  ~SymbolIds() {
    restore();
    if (state != nullptr) {
      state->free(records);
      state->free(saved);
    }
  }
};

struct Writer {
  EiEncoder* dt = nullptr;
  EiEncoder* ds = nullptr;
  EiEncoder* fs = nullptr;
  EiEncoder* it = nullptr;  // MQ: the strip offset of each instance
  JbfFile* bits = nullptr;  // Huffman
  SymEncoder* ids = nullptr;
  const SymbolIds* symbols = nullptr;
  int log = 0;

  VltStatus codeDT(int32_t v, bool) { return eiEncode(dt, v, 0); }
  VltStatus codeDS(int32_t v) { return eiEncode(ds, v, 0); }
  VltStatus codeOOB() { return eiEncode(ds, 0, 1); }
  VltStatus codeFS(int32_t v) { return eiEncode(fs, v, 0); }
  VltStatus codeCurT(int32_t v) {
    return it != nullptr ? eiEncode(it, v, 0) : jbfWriteBits(bits, static_cast<uint32_t>(v), log);
  }
  VltStatus codeID(const Jb2Instance& in) {
    const SymbolRecord* r = symbols->record_of(in);
    return r != nullptr ? symEncode(ids, r->id) : VLT_ERR_ASSERT;
  }
};

// The contexts of the four IAx field kinds of an MQ region.
enum { kCxDT, kCxDS, kCxFS, kCxIT, kCxKinds };

struct Resources {
  VltState* state;
  Jb2TextChoice choice{};
  Writer w{};
  uint8_t* contexts = nullptr;
  uint32_t* usage = nullptr;

  ~Resources() {
    eiFreeEncoder(w.dt);
    eiFreeEncoder(w.ds);
    eiFreeEncoder(w.fs);
    eiFreeEncoder(w.it);
    symEncoderFree(w.ids);
    if (w.bits != nullptr) jbfClose(w.bits);
    state->free(contexts);
    state->free(usage);
    jb2FreeTextChoice(&choice, state);
  }
};

}  // namespace

VltStatus jb2EncodeSymRegion(Jb2File* file, SegmentInfo* seg, SegmentInfo* const* referred,
                             Jb2InstanceOrderFn hook, void* hookContext, int keepOrder) {
  if (seg->type != JB2_SEG_TEXT_INTERMEDIATE && seg->type != JB2_SEG_TEXT_IMMEDIATE &&
      seg->type != JB2_SEG_TEXT_LOSSLESS)
    return VLT_ERR_ASSERT;
  const int32_t referredCount = seg->referredCount;
  if (referredCount < 0 || (referredCount > 0 && referred == nullptr)) return VLT_ERR_ASSERT;
  VltState* state = file->state;
  const Jb2FileParams& params = file->params;
  const bool huffman = params.trArith == 0;
  const Jb2TextRegion& tr = seg->body.textRegion;

  Resources res{state};
  Jb2TextChoice& c = res.choice;
  if (const VltStatus st = decideSREncoding(&params, seg, keepOrder, &c, state); st != VLT_OK) return st;
  if (hook != nullptr)
    if (const VltStatus st = hook(c.order, tr.count, hookContext); st != VLT_OK) return st;
  for (int f : {JB2_TEXT_FS, JB2_TEXT_DS, JB2_TEXT_DT})
    if (huffman && c.tuned[f])
      if (const VltStatus st = jb2SendTunedTable(file, seg, c.tables[f]); st != VLT_OK) return st;

  seg->number = jb2FileNextSegmentNumber(file);
  seg->retain = 0;
  seg->deferred = 0;
  if (const VltStatus st = jb2EncodeSegmentHeader(file, seg); st != VLT_OK) return st;
  DataSink* sink = file->dataSink;
  dsResetCount(sink);
  if (const VltStatus st = jb2EncodeRegSegment(file, sink, &seg->region); st != VLT_OK) return st;
  const uint32_t flags = (huffman ? 1u : 0u) | static_cast<uint32_t>(c.logSbStrips) << 2 |
                         static_cast<uint32_t>(c.refCorner) << 4 | static_cast<uint32_t>(c.transposed) << 6 |
                         (static_cast<uint32_t>(c.dsOffset) & 0x1Fu) << 10;
  if (const VltStatus st = jb2WriteU16(file, sink, static_cast<uint16_t>(flags)); st != VLT_OK) return st;
  if (huffman) {
    const uint32_t tables = c.selector[JB2_TEXT_FS] | c.selector[JB2_TEXT_DS] << 2 | c.selector[JB2_TEXT_DT] << 4;
    if (const VltStatus st = jb2WriteU16(file, sink, static_cast<uint16_t>(tables)); st != VLT_OK) return st;
  }
  if (const VltStatus st = jb2WriteU32(file, sink, static_cast<uint32_t>(tr.count)); st != VLT_OK) return st;

  SymbolIds symbols;
  symbols.state = state;
  symbols.referred = referred;
  symbols.referredCount = referredCount;
  if (const VltStatus st = symbols.lend(); st != VLT_OK) return st;

  Writer& w = res.w;
  w.symbols = &symbols;
  w.log = c.logSbStrips;
  MqEncoder mq{};
  VltStatus st = VLT_OK;
  if (huffman) {
    st = jbfOpenFromDataSink(sink, &w.bits);
  } else {
    dsInitVltEncode_MQEncoder(sink, &mq);
    res.contexts = static_cast<uint8_t*>(state->calloc(kCxKinds, EI_MQ_CONTEXTS));
    st = res.contexts == nullptr ? Vlt_report(state, VLT_ERR_NOMEM)
                                 : eiNewEncoderMQ(&mq, res.contexts + kCxIT * EI_MQ_CONTEXTS, state, &w.it);
  }
  uint8_t* cx = res.contexts;
  if (st == VLT_OK)
    st = eiNewEncoderEither(huffman, c.tables[JB2_TEXT_DT], w.bits, &mq, cx ? cx + kCxDT * EI_MQ_CONTEXTS : nullptr,
                            state, &w.dt);
  if (st == VLT_OK)
    st = eiNewEncoderEither(huffman, c.tables[JB2_TEXT_DS], w.bits, &mq, cx ? cx + kCxDS * EI_MQ_CONTEXTS : nullptr,
                            state, &w.ds);
  if (st == VLT_OK)
    st = eiNewEncoderEither(huffman, c.tables[JB2_TEXT_FS], w.bits, &mq, cx ? cx + kCxFS * EI_MQ_CONTEXTS : nullptr,
                            state, &w.fs);
  if (st == VLT_OK && huffman) {
    res.usage = static_cast<uint32_t*>(state->calloc(static_cast<size_t>(symbols.count > 0 ? symbols.count : 1),
                                                     sizeof(uint32_t)));
    if (res.usage == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
    for (int32_t i = 0; st == VLT_OK && i < tr.count; ++i) {
      const SymbolRecord* r = symbols.record_of(tr.instances[i]);
      if (r == nullptr)
        st = VLT_ERR_ASSERT;
      else
        ++res.usage[r->id];
    }
    if (st == VLT_OK) st = symWriteHuffmanCode(w.bits, res.usage, symbols.count, state, &w.ids);
  } else if (st == VLT_OK) {
    st = symEncoderArith(symbols.count, &mq, state, &w.ids);
  }
  if (st == VLT_OK) st = jb2text::walk(c, tr.count, w);
  if (st == VLT_OK) {
    if (huffman) {
      st = jbfCloseFromDataSink(w.bits);
      w.bits = nullptr;
    } else {
      st = dsFinalVltEncode_MQEncoder(sink, &mq);
    }
  }
  if (st != VLT_OK) return st;
  seg->dataLength = dsCount(sink);
  return jb2EncodeSegmentHeaderDataLength(file, seg);
}
