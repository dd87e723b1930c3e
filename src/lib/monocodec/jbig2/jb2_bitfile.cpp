// The accumulator: a reader keeps its valid bits at the bottom (bits of them), a writer fills it
// from the top down (bits free positions left below). Whole words move between the accumulator
// and the buffer; a buffer end that is not word-aligned moves the last one to three bytes.

#include "jb2_bitfile.h"

#include <cstring>

#include "byteorder.h"
#include "vlt_state.h"

namespace {

constexpr uint32_t low_mask(int n) { return n >= 32 ? ~0u : (1u << n) - 1u; }

VltStatus refill(JbfFile* f) {
  uint8_t* base = nullptr;
  uint32_t length = 0;
  if (const VltStatus st = f->refill(&base, &length, f->context); st != VLT_OK) return st;
  // A refill that brings nothing is data ending early, as at the open.
  if (base == nullptr || length == 0) return Vlt_report(f->state, VLT_ERR_IO_LENGTH);
  f->base = f->ptr = base;
  f->remaining = length;
  return VLT_OK;
}

VltStatus load(JbfFile* f) {
  if (f->remaining == 0) {
    if (const VltStatus st = refill(f); st != VLT_OK) return st;
  }
  if (f->remaining >= 4) {
    f->acc = mono::load_be32(f->ptr);
    f->ptr += 4;
    f->remaining -= 4;
    f->bits = 32;
    return VLT_OK;
  }
  uint32_t acc = 0;
  for (uint32_t i = 0; i < f->remaining; ++i) acc = acc << 8 | f->ptr[i];
  f->acc = acc;
  f->bits = static_cast<int32_t>(8 * f->remaining);
  f->ptr += f->remaining;
  f->remaining = 0;
  return VLT_OK;
}

// Called with a full accumulator (no free position left).
VltStatus store(JbfFile* f) {
  if (f->remaining == 0) {
    if (const VltStatus st = refill(f); st != VLT_OK) return st;
  }
  if (f->remaining >= 4) {
    mono::store_be32(f->ptr, f->acc);
    f->ptr += 4;
    f->remaining -= 4;
    f->count += 4;
    f->acc = 0;
    f->bits = 32;
    return VLT_OK;
  }
  const uint32_t k = f->remaining;
  for (uint32_t i = 0; i < k; ++i) {
    f->ptr[i] = static_cast<uint8_t>(f->acc >> 24);
    f->acc <<= 8;
  }
  f->ptr += k;
  f->remaining = 0;
  f->count += k;
  f->bits = static_cast<int32_t>(8 * k);
  return VLT_OK;
}

// Writes out the whole bytes waiting in an aligned writer's accumulator.
VltStatus drain(JbfFile* f) {
  for (int32_t pending = (32 - f->bits) / 8; pending > 0; --pending) {
    if (f->remaining == 0) {
      if (const VltStatus st = refill(f); st != VLT_OK) return st;
    }
    *f->ptr++ = static_cast<uint8_t>(f->acc >> 24);
    f->acc <<= 8;
    --f->remaining;
    ++f->count;
  }
  f->acc = 0;
  f->bits = 32;
  return VLT_OK;
}

uint8_t* reader_pos(JbfFile* f) {
  jbfFlushByte(f);
  return f->ptr - f->bits / 8;
}

}  // namespace

VltStatus jbfOpen(uint8_t* buffer, uint32_t length, JbfRefillFn refillFn, void* context,
                  uint8_t mode, VltState* state, JbfFile** file) {
  if (buffer == nullptr || length == 0) {
    buffer = nullptr;
    length = 0;
    if (refillFn == nullptr) return Vlt_report(state, VLT_ERR_NULL);
    if (const VltStatus st = refillFn(&buffer, &length, context); st != VLT_OK) return st;
    if (buffer == nullptr || length == 0) return Vlt_report(state, VLT_ERR_IO_LENGTH);
  }
  auto* f = static_cast<JbfFile*>(state->malloc(sizeof(JbfFile)));
  if (f == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  *f = JbfFile{buffer, buffer,   length,  0,     mode == JBF_WRITER ? 32 : 0,
               0,      refillFn, context, state, mode};
  *file = f;
  return VLT_OK;
}

VltStatus dsrc_callback(uint8_t** base, uint32_t* length, void* context) {
  auto* src = static_cast<DataSource*>(context);
  if (src->moredata == nullptr) return Vlt_report(src->state, VLT_ERR_NULL);
  if (const VltStatus st = src->moredata(src, nullptr); st != VLT_OK) return st;
  const uint32_t pos = src->pos < src->size ? src->pos : src->size;
  *base = const_cast<uint8_t*>(src->data) + pos;
  *length = src->size - pos;
  return VLT_OK;
}

VltStatus dsink_callback(uint8_t** base, uint32_t* length, void* context) {
  auto* sink = static_cast<DataSink*>(context);
  sink->pos = sink->size;  // the bit writer filled the whole buffer
  if (sink->moredata == nullptr) return Vlt_report(sink->state, VLT_ERR_NULL);
  if (const VltStatus st = sink->moredata(sink, -1); st != VLT_OK) return st;
  const uint32_t pos = sink->pos < sink->size ? sink->pos : sink->size;
  *base = sink->buffer + pos;
  *length = sink->size - pos;
  return VLT_OK;
}

VltStatus jbfOpenFromDataSource(DataSource* source, JbfFile** file) {
  const uint32_t pos = source->pos < source->size ? source->pos : source->size;
  return jbfOpen(const_cast<uint8_t*>(source->data) + pos, source->size - pos, dsrc_callback,
                 source, JBF_READER, source->state, file);
}

VltStatus jbfOpenFromDataSink(DataSink* sink, JbfFile** file) {
  const uint32_t pos = sink->pos < sink->size ? sink->pos : sink->size;
  return jbfOpen(sink->buffer + pos, sink->size - pos, dsink_callback, sink, JBF_WRITER,
                 sink->state, file);
}

VltStatus jbfReadBits(JbfFile* f, int n, uint32_t* value) {
  *value = 0;
  if (n <= 0) return VLT_OK;
  if (f->bits >= n) {
    f->bits -= n;
    *value = (f->acc >> f->bits) & low_mask(n);
    return VLT_OK;
  }
  uint64_t v = f->acc & low_mask(f->bits);
  int need = n - f->bits;
  f->bits = 0;
  while (need > 0) {
    if (const VltStatus st = load(f); st != VLT_OK) return st;
    const int take = f->bits < need ? f->bits : need;
    f->bits -= take;
    v = v << take | ((f->acc >> f->bits) & low_mask(take));
    need -= take;
  }
  *value = static_cast<uint32_t>(v);
  return VLT_OK;
}

VltStatus jbfWriteBits(JbfFile* f, uint32_t value, int n) {
  if (n <= 0) return VLT_OK;
  value &= low_mask(n);  // stray high bits would land on bits already written
  while (n > 0) {
    if (f->bits >= n) {
      f->bits -= n;
      f->acc |= value << f->bits;
      return VLT_OK;
    }
    if (f->bits > 0) {
      n -= f->bits;
      f->acc |= value >> n;
      value &= low_mask(n);
      f->bits = 0;
    }
    if (const VltStatus st = store(f); st != VLT_OK) return st;
  }
  return VLT_OK;
}

int32_t jbfPeek(JbfFile* f) {
  if (f->mode != JBF_READER) return -1;
  for (int added = 0; f->bits < 8 && added < 3 && f->remaining > 0; ++added) {
    f->acc = f->acc << 8 | *f->ptr++;
    --f->remaining;
    f->bits += 8;
  }
  if (f->bits < 8) return -1;
  return static_cast<int32_t>((f->acc >> (f->bits - 8)) & 0xFFu);
}

void jbfFlushByte(JbfFile* f) {
  const int32_t aligned = f->bits & ~7;
  if (f->mode == JBF_WRITER) f->acc &= ~low_mask(aligned);
  f->bits = aligned;
}

VltStatus jbfPos(JbfFile* f, uint8_t** pos) {
  if (f->mode == JBF_READER) {
    *pos = reader_pos(f);
    return VLT_OK;
  }
  jbfFlushByte(f);
  if (const VltStatus st = drain(f); st != VLT_OK) return st;
  *pos = f->ptr;
  return VLT_OK;
}

VltStatus jbfSuspend(JbfFile* f) {
  uint8_t* pos = nullptr;
  if (const VltStatus st = jbfPos(f, &pos); st != VLT_OK) return st;
  if (f->mode == JBF_READER) {
    auto* src = static_cast<DataSource*>(f->context);
    f->bits = 0;
    f->acc = 0;
    src->pos = static_cast<uint32_t>(pos - src->data);
  } else {
    auto* sink = static_cast<DataSink*>(f->context);
    sink->pos = static_cast<uint32_t>(pos - sink->buffer);
    sink->count += f->count;
    f->count = 0;  // counted once, even if the file is closed without a resume
  }
  return VLT_OK;
}

void jbfResume(JbfFile* f) {
  if (f->mode == JBF_READER) {
    auto* src = static_cast<DataSource*>(f->context);
    const uint32_t pos = src->pos < src->size ? src->pos : src->size;
    f->base = f->ptr = const_cast<uint8_t*>(src->data) + pos;
    f->remaining = src->size - pos;
    f->bits = 0;
  } else {
    auto* sink = static_cast<DataSink*>(f->context);
    const uint32_t pos = sink->pos < sink->size ? sink->pos : sink->size;
    f->base = f->ptr = sink->buffer + pos;
    f->remaining = sink->size - pos;
    f->bits = 32;
    f->count = 0;
  }
  f->acc = 0;
}

VltStatus jbfCloseFromDataSource(JbfFile* f) {
  if (const VltStatus st = jbfSuspend(f); st != VLT_OK) return st;
  f->state->free(f);
  return VLT_OK;
}

VltStatus jbfCloseFromDataSink(JbfFile* f) {
  VltState* state = f->state;
  const VltStatus st = jbfSuspend(f);
  state->free(f);
  // The refill's own failures may have gone unreported (a sink's moredata reports nothing).
  return st == VLT_OK ? VLT_OK : Vlt_report(state, st);
}

void jbfClose(JbfFile* f) {
  if (f == nullptr) return;
  jbfFlushByte(f);
  f->state->free(f);
}
