// Integer decoders (Huffman tables or the MQ integer procedure) and code-table segments.

#include <cstring>

#include "byteorder.h"
#include "jb2_decode.h"
#include "vlt_state.h"

namespace {

VltStatus fail(VltState* state, const char* message) {
  return Vlt_reportErrMsg(state != nullptr ? state->errState : nullptr, VLT_ERR_CODEC, "%s", message);
}

VltStatus finish(VltState* state, int64_t v, int32_t* value) {
  if (v < INT32_MIN || v > INT32_MAX) return fail(state, "integer out of range");
  *value = static_cast<int32_t>(v);
  return VLT_OK;
}

// Value bits and offset of each prefix of the MQ integer procedure (0, 10, 110, 1110, 11110,
// 11111).
struct IntRange {
  int bits;
  int64_t offset;
};
constexpr IntRange kRanges[6] = {{2, 0}, {4, 4}, {6, 20}, {8, 84}, {12, 340}, {32, 4436}};

VltStatus decode_mq(DiDecoder* d, int* oob, int32_t* value) {
  uint8_t* cx = d->contexts;
  uint32_t prev = 1;
  auto bit = [&]() {
    const int b = VltEncode_mqdDecode(d->mq, &cx[prev]);
    prev = prev < 256 ? (prev << 1 | static_cast<uint32_t>(b)) : (((prev << 1 | static_cast<uint32_t>(b)) & 511) | 256);
    return b;
  };
  const int s = bit();
  int prefix = 0;
  while (prefix < 5 && bit() != 0) ++prefix;
  const IntRange& r = kRanges[prefix];
  int64_t v = 0;
  for (int i = 0; i < r.bits; ++i) v = v << 1 | bit();
  v += r.offset;
  *oob = s == 1 && v == 0 ? 1 : 0;
  if (*oob) {
    *value = 0;
    return VLT_OK;
  }
  return finish(d->state, s == 1 ? -v : v, value);
}

VltStatus decode_huffman(DiDecoder* d, int* oob, int32_t* value) {
  *oob = 0;
  void* found = nullptr;
  if (const VltStatus st = jhtReadCode(d->table, d->bits, d->state, &found); st != VLT_OK) return st;
  const auto* line = static_cast<const JhtLine*>(found);
  if (line == d->oob) {
    *oob = 1;
    *value = 0;
    return VLT_OK;
  }
  const int n = line == d->lower || line == d->upper ? 32 : line->rangeLen;
  if (n > 32) return fail(d->state, "bad Huffman range length");
  uint32_t r = 0;
  if (const VltStatus st = jbfReadBits(d->bits, n, &r); st != VLT_OK) return st;
  const int64_t v = line == d->lower ? int64_t{line->rangeLow} - r : int64_t{line->rangeLow} + r;
  return finish(d->state, v, value);
}

// One line of a table being read, and the growing array that holds them.
struct Lines {
  JhtLine* lines = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;

  bool add(VltState* state, int32_t low, uint32_t prefLen, uint32_t rangeLen) {
    if (count == capacity) {
      const int32_t bigger = capacity == 0 ? 16 : capacity * 2;
      auto* p = static_cast<JhtLine*>(state->realloc(lines, static_cast<size_t>(bigger) * sizeof(JhtLine)));
      if (p == nullptr) return false;
      lines = p;
      capacity = bigger;
    }
    lines[count++] = JhtLine{0, low, static_cast<uint8_t>(prefLen), static_cast<uint8_t>(rangeLen), {0, 0}};
    return true;
  }
};

VltStatus read_lines(Jb2File* file, JbfFile* bits, uint8_t flags, int32_t low, int32_t high,
                     Lines* out, uint8_t* hasLower, uint8_t* hasUpper) {
  VltState* state = jb2GetFileVlt_State(file);
  const int htps = ((flags >> 1) & 7) + 1;
  const int htrs = ((flags >> 4) & 7) + 1;
  auto prefix = [&](uint32_t* v) -> VltStatus {
    if (const VltStatus st = jbfReadBits(bits, htps, v); st != VLT_OK) return st;
    return *v > JHT_MAX_PREFLEN ? fail(state, "code table prefix longer than 31 bits") : VLT_OK;
  };
  // Every line advances the range by at least one, and every line costs bits of the segment.
  for (int64_t cur = low; cur < high;) {
    uint32_t p = 0, r = 0;
    if (const VltStatus st = prefix(&p); st != VLT_OK) return st;
    if (const VltStatus st = jbfReadBits(bits, htrs, &r); st != VLT_OK) return st;
    if (r > 31) return fail(state, "code table range longer than 31 bits");
    if (!out->add(state, static_cast<int32_t>(cur), p, r)) return Vlt_report(state, VLT_ERR_NOMEM);
    cur += int64_t{1} << r;
  }
  uint32_t p = 0;
  if (const VltStatus st = prefix(&p); st != VLT_OK) return st;
  if (p != 0) {
    if (low == INT32_MIN) return fail(state, "code table lower range below 32 bits");
    if (!out->add(state, low - 1, p, 32)) return Vlt_report(state, VLT_ERR_NOMEM);
    *hasLower = 1;
  }
  if (const VltStatus st = prefix(&p); st != VLT_OK) return st;
  if (p != 0) {
    if (!out->add(state, high, p, 32)) return Vlt_report(state, VLT_ERR_NOMEM);
    *hasUpper = 1;
  }
  if ((flags & 1) != 0) {
    if (const VltStatus st = prefix(&p); st != VLT_OK) return st;
    if (!out->add(state, 0, p, 0)) return Vlt_report(state, VLT_ERR_NOMEM);
  }
  return VLT_OK;
}

}  // namespace

VltStatus diNewDecoder(const JhtTable* table, JbfFile* bits, VltState* state, DiDecoder** decoder) {
  *decoder = nullptr;
  auto* d = static_cast<DiDecoder*>(state->malloc(sizeof(DiDecoder)));
  if (d == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  const int32_t ordinary = table->lineCount - table->hasLower - table->hasUpper - table->hasOOB;
  const JhtLine* special = table->lines + (ordinary > 0 ? ordinary : 0);
  *d = DiDecoder{};
  d->kind = DI_HUFFMAN;
  d->table = table;
  d->lower = table->hasLower ? special++ : nullptr;
  d->upper = table->hasUpper ? special++ : nullptr;
  d->oob = table->hasOOB ? special : nullptr;
  d->ordinaryCount = ordinary;
  d->bits = bits;
  d->state = state;
  *decoder = d;
  return VLT_OK;
}

VltStatus diNewDecoderMQ(MqDecoder* mq, uint8_t* contexts, VltState* state, DiDecoder** decoder) {
  *decoder = nullptr;
  auto* d = static_cast<DiDecoder*>(state->malloc(sizeof(DiDecoder)));
  if (d == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *d = DiDecoder{};
  d->kind = DI_MQ;
  d->mq = mq;
  d->contexts = contexts;
  d->state = state;
  *decoder = d;
  return VLT_OK;
}

VltStatus diNewDecoderEither(int huffman, const JhtTable* table, JbfFile* bits, MqDecoder* mq,
                             uint8_t* contexts, VltState* state, DiDecoder** decoder) {
  if (huffman) return diNewDecoder(table, bits, state, decoder);
  std::memset(contexts, 0, DI_MQ_CONTEXTS);
  return diNewDecoderMQ(mq, contexts, state, decoder);
}

VltStatus diDecode(DiDecoder* decoder, int* oob, int32_t* value) {
  return decoder->kind == DI_MQ ? decode_mq(decoder, oob, value) : decode_huffman(decoder, oob, value);
}

VltStatus diDecodeInBand(Jb2File* file, DiDecoder* decoder, int32_t* value) {
  int oob = 0;
  if (const VltStatus st = diDecode(decoder, &oob, value); st != VLT_OK) return st;
  return oob ? jb2Fail(file, VLT_ERR_CODEC, "bad OOB") : VLT_OK;
}

void diFreeDecoder(DiDecoder* decoder) {
  if (decoder != nullptr) decoder->state->free(decoder);
}

VltStatus jb2DecodeHuffTable(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  VltState* state = jb2GetFileVlt_State(file);
  if (seg->referredCount != 0) return fail(state, "tables segment referencing another segment");
  uint8_t head[9];
  uint32_t got = 0;
  if (const VltStatus st = dsRead(source, sizeof head, head, &got); st != VLT_OK) return st;
  const int32_t low = static_cast<int32_t>(mono::load_be32(head + 1));
  const int32_t high = static_cast<int32_t>(mono::load_be32(head + 5));

  JbfFile* bits = nullptr;
  if (const VltStatus st = jbfOpenFromDataSource(source, &bits); st != VLT_OK) return st;
  Lines lines;
  uint8_t hasLower = 0, hasUpper = 0;
  VltStatus st = read_lines(file, bits, head[0], low, high, &lines, &hasLower, &hasUpper);
  if (st == VLT_OK) {
    st = jbfCloseFromDataSource(bits);
    if (st == VLT_OK) bits = nullptr;
  }
  JhtTable& t = seg->body.codeTable;
  if (st == VLT_OK) {
    t.hasLower = hasLower;
    t.hasUpper = hasUpper;
    t.hasOOB = head[0] & 1;
    t.lineCount = lines.count;
    t.lines = lines.lines;
    st = jhtSetCodes(&t, state);
  }
  if (st == VLT_OK) {
    // The value of each code is its own line, as in the standard tables.
    auto** values = static_cast<void**>(state->malloc(static_cast<size_t>(lines.count > 0 ? lines.count : 1) * sizeof(void*)));
    if (values == nullptr) {
      st = Vlt_report(state, VLT_ERR_NOMEM);
    } else {
      for (int32_t i = 0; i < lines.count; ++i) values[i] = &lines.lines[i];
      st = jhtCompile(&t, values, state);
      state->free(values);
    }
  }
  if (st != VLT_OK) {
    jbfClose(bits);
    state->free(lines.lines);
    std::memset(&t, 0, sizeof t);
  }
  return st;
}

void jb2FreeHuffTableSegment(SegmentInfo* seg, VltState* state) {
  JhtTable& t = seg->body.codeTable;
  jhtCleanup(&t, state);
  state->free(t.lines);
  t.lines = nullptr;
  t.lineCount = 0;
}
