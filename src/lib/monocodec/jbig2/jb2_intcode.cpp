#include "jb2_intcode.h"

#include <cstring>

#include "checked_size.h"
#include "vlt_state.h"

namespace {

constexpr int32_t kNoLine = -1;

// The line that codes a request, or kNoLine. Range lines count only where they continue the
// ordinary lines, so a value can never be coded through a line that would decode to another.
int32_t line_of(const EiEncoder* e, int32_t value, int oob) {
  if (oob) return e->oob != nullptr ? e->oobIndex : kNoLine;
  if (value < e->lowest)
    return e->lower != nullptr && int64_t{e->lower->rangeLow} == int64_t{e->lowest} - 1 ? e->lowerIndex : kNoLine;
  if (value > e->highest)
    return e->upper != nullptr && int64_t{e->upper->rangeLow} == int64_t{e->highest} + 1 ? e->upperIndex
                                                                                         : kNoLine;
  const JhtLine* lines = e->table.lines;
  for (int32_t i = 0; i < e->normalCount; ++i) {
    const int64_t offset = int64_t{value} - lines[i].rangeLow;
    if (offset >= 0 && (lines[i].rangeLen >= 32 || offset < (int64_t{1} << lines[i].rangeLen))) return i;
  }
  return kNoLine;
}

VltStatus encode_huffman(EiEncoder* e, int32_t value, int oob) {
  const int32_t i = line_of(e, value, oob);
  // A line without a prefix was never counted when the table was tuned: writing nothing for it
  // would silently drop the value.
  if (i == kNoLine || e->table.lines[i].prefLen == 0 || e->bits == nullptr) return VLT_ERR_ASSERT;
  const JhtLine& line = e->table.lines[i];
  if (const VltStatus st = jbfWriteBits(e->bits, line.code, line.prefLen); st != VLT_OK) return st;
  if (oob) return VLT_OK;
  uint32_t offset;
  int width = line.rangeLen;
  if (i == e->lowerIndex && e->lower != nullptr) {
    offset = static_cast<uint32_t>(int64_t{line.rangeLow} - value);
    width = 32;
  } else if (i == e->upperIndex && e->upper != nullptr) {
    offset = static_cast<uint32_t>(int64_t{value} - line.rangeLow);
    width = 32;
  } else {
    offset = static_cast<uint32_t>(int64_t{value} - line.rangeLow);
  }
  return width == 0 ? VLT_OK : jbfWriteBits(e->bits, offset, width);
}

// One IAx decision; PREV keeps the last eight decisions above its leading 1.
bool iax_bit(EiEncoder* e, uint32_t* prev, int bit) {
  if (!VltEncode_mqeEncode(e->mq, &e->contexts[*prev], bit)) return false;
  const uint32_t shifted = *prev << 1 | static_cast<uint32_t>(bit);
  *prev = *prev < 256 ? shifted : (shifted & 511) | 256;
  return true;
}

struct IaxRange {
  uint32_t base;
  int prefixBits;
  uint32_t prefix;
  int valueBits;
};

constexpr IaxRange kIaxRanges[] = {
    {0, 1, 0x0, 2}, {4, 2, 0x2, 4}, {20, 3, 0x6, 6}, {84, 4, 0xE, 8}, {340, 5, 0x1E, 12}, {4436, 5, 0x1F, 32},
};

VltStatus encode_iax(EiEncoder* e, int32_t value, int oob) {
  // Out of band is "minus zero".
  const int sign = oob || value < 0 ? 1 : 0;
  const uint32_t magnitude = oob ? 0 : value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  const IaxRange* r = &kIaxRanges[0];
  for (const IaxRange& c : kIaxRanges)
    if (magnitude >= c.base) r = &c;
  const uint32_t offset = magnitude - r->base;
  uint32_t prev = 1;
  bool ok = iax_bit(e, &prev, sign);
  for (int b = r->prefixBits - 1; ok && b >= 0; --b) ok = iax_bit(e, &prev, static_cast<int>(r->prefix >> b & 1));
  for (int b = r->valueBits - 1; ok && b >= 0; --b) ok = iax_bit(e, &prev, static_cast<int>(offset >> b & 1));
  return ok ? VLT_OK : Vlt_report(e->state, VLT_ERR_IO_WRITE);
}

}  // namespace

VltStatus eiNewEncoder(const JhtTable* table, JbfFile* bits, VltState* state, EiEncoder** out) {
  *out = nullptr;
  size_t lineBytes = 0;
  if (table->lineCount < 0 || !mono::checked_mul(static_cast<size_t>(table->lineCount), sizeof(JhtLine), &lineBytes))
    return VLT_ERR_ASSERT;
  auto* e = static_cast<EiEncoder*>(state->calloc(1, sizeof(EiEncoder)));
  auto* lines = static_cast<JhtLine*>(state->malloc(lineBytes != 0 ? lineBytes : 1));
  if (e == nullptr || lines == nullptr) {
    state->free(e);
    state->free(lines);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  if (lineBytes != 0) std::memcpy(lines, table->lines, lineBytes);
  e->kind = EI_HUFFMAN;
  e->table = *table;
  e->table.lines = lines;
  // The encoder never reads codes back; the copy must not point at the caller's lookup.
  e->table.compiled = 0;
  for (auto& l : e->table.lookup) l = nullptr;
  int32_t next = table->lineCount - (table->hasLower ? 1 : 0) - (table->hasUpper ? 1 : 0) - (table->hasOOB ? 1 : 0);
  if (next < 0) next = 0;
  e->normalCount = next;
  e->lowerIndex = e->upperIndex = e->oobIndex = kNoLine;
  if (table->hasLower && next < table->lineCount) e->lower = &lines[e->lowerIndex = next++];
  if (table->hasUpper && next < table->lineCount) e->upper = &lines[e->upperIndex = next++];
  if (table->hasOOB && next < table->lineCount) e->oob = &lines[e->oobIndex = next++];
  if (e->normalCount == 0) {
    // No ordinary value at all: an empty span that every value lies outside.
    e->lowest = 0;
    e->highest = -1;
  } else {
    e->lowest = lines[0].rangeLow;
    int64_t span = 0;
    for (int32_t i = 0; i < e->normalCount; ++i) span += int64_t{1} << (lines[i].rangeLen < 32 ? lines[i].rangeLen : 32);
    const int64_t highest = int64_t{e->lowest} + span - 1;
    e->highest = highest > INT32_MAX ? INT32_MAX : static_cast<int32_t>(highest);
  }
  e->bits = bits;
  e->state = state;
  *out = e;
  return VLT_OK;
}

VltStatus eiNewEncoderMQ(MqEncoder* mq, uint8_t* contexts, VltState* state, EiEncoder** out) {
  *out = nullptr;
  auto* e = static_cast<EiEncoder*>(state->calloc(1, sizeof(EiEncoder)));
  if (e == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  e->kind = EI_MQ;
  e->mq = mq;
  e->contexts = contexts;
  e->state = state;
  e->lowerIndex = e->upperIndex = e->oobIndex = kNoLine;
  *out = e;
  return VLT_OK;
}

VltStatus eiNewEncoderEither(int huffman, const JhtTable* table, JbfFile* bits, MqEncoder* mq,
                             uint8_t* contexts, VltState* state, EiEncoder** out) {
  if (huffman) return eiNewEncoder(table, bits, state, out);
  std::memset(contexts, 0, EI_MQ_CONTEXTS);
  return eiNewEncoderMQ(mq, contexts, state, out);
}

VltStatus eiEncode(EiEncoder* enc, int32_t value, int oob) {
  return enc->kind == EI_MQ ? encode_iax(enc, value, oob) : encode_huffman(enc, value, oob);
}

void eiCount(const EiEncoder* enc, int32_t value, int oob, uint32_t* counts) {
  if (enc->kind != EI_HUFFMAN) return;
  const int32_t i = line_of(enc, value, oob);
  if (i != kNoLine) ++counts[i];
}

void eiFreeEncoder(EiEncoder* enc) {
  if (enc == nullptr) return;
  VltState* state = enc->state;
  if (enc->kind == EI_HUFFMAN) state->free(enc->table.lines);
  state->free(enc);
}
