#include "jb2_memsink.h"

#include <cstring>

#include "vlt_state.h"

namespace {

struct MemSink {
  VltAdtList* chunks;        // finished chunks; the one being written is the sink's buffer
  uint32_t markOffset;       // place of the marked byte inside the chunk that was current
  VltAdtListNode* markNode;  // last finished chunk at mark time, null when there was none
  bool marked;
};

MemSink* mem_of(DataSink* sink) { return static_cast<MemSink*>(sink->priv); }

// Files the current buffer as a finished chunk; on failure nothing changes.
VltStatus file_buffer(DataSink* sink, MemSink* m) {
  VltState* st = sink->state;
  auto* cell = static_cast<Jb2MemChunk*>(st->malloc(sizeof(Jb2MemChunk)));
  if (cell == nullptr) return Vlt_report(st, VLT_ERR_NOMEM);
  *cell = Jb2MemChunk{sink->buffer, sink->pos};
  if (const VltStatus s = VltAdt_liAdd(m->chunks, cell, nullptr); s != VLT_OK) {
    st->free(cell);
    return s;
  }
  return VLT_OK;
}

}  // namespace

VltStatus jb2NewMemoryDataSink(VltState* state, DataSink** sink) {
  *sink = nullptr;
  auto* s = static_cast<DataSink*>(state->malloc(sizeof(DataSink)));
  auto* chunk = s != nullptr ? static_cast<uint8_t*>(state->malloc(JB2_MEMSINK_CHUNK)) : nullptr;
  VltAdtList* list = nullptr;
  VltStatus st = VLT_OK;
  if (chunk != nullptr) st = VltAdt_liNew(&list, state);
  auto* m = list != nullptr ? static_cast<MemSink*>(state->malloc(sizeof(MemSink))) : nullptr;
  if (m == nullptr) {
    if (list != nullptr) VltAdt_liFree(list);
    state->free(chunk);
    state->free(s);
    // The list reports nothing of its own; allocations are reported here.
    return list == nullptr && chunk != nullptr && st != VLT_OK ? st
                                                               : Vlt_report(state, VLT_ERR_NOMEM);
  }
  *m = MemSink{list, 0, nullptr, false};
  *s = DataSink{chunk,       JB2_MEMSINK_CHUNK, 0, 0,    mdsink_moredata,
                mdsink_mark, mdsink_fillmark,   m, state};
  *sink = s;
  return VLT_OK;
}

VltStatus mdsink_moredata(DataSink* sink, int) {
  VltState* st = sink->state;
  auto* chunk = static_cast<uint8_t*>(st->malloc(JB2_MEMSINK_CHUNK));
  if (chunk == nullptr) return Vlt_report(st, VLT_ERR_NOMEM);
  if (const VltStatus s = file_buffer(sink, mem_of(sink)); s != VLT_OK) {
    st->free(chunk);
    return s;
  }
  sink->buffer = chunk;
  sink->size = JB2_MEMSINK_CHUNK;
  sink->pos = 0;
  return VLT_OK;
}

VltStatus mdsink_mark(DataSink* sink, uint32_t) {
  MemSink* m = mem_of(sink);
  m->markOffset = sink->pos;
  m->markNode = m->chunks->last;
  m->marked = true;
  return VLT_OK;
}

VltStatus mdsink_fillmark(DataSink* sink, uint32_t n, const uint8_t* bytes) {
  MemSink* m = mem_of(sink);
  if (!m->marked) return Vlt_report(sink->state, VLT_ERR_ASSERT);
  VltAdtListNode* const start = m->markNode != nullptr ? m->markNode->next : m->chunks->first;
  // Check that every byte to fill has been written before touching any, so a refused fill
  // leaves the sink as it was.
  uint64_t room = 0;
  uint32_t offset = m->markOffset;
  for (VltAdtListNode* node = start; node != nullptr && room < n; node = node->next) {
    const auto* c = static_cast<const Jb2MemChunk*>(node->data);
    room += c->used > offset ? c->used - offset : 0;
    offset = 0;
  }
  if (room < n) room += sink->pos > offset ? sink->pos - offset : 0;
  if (room < n) return Vlt_report(sink->state, VLT_ERR_ASSERT);

  uint32_t done = 0;
  offset = m->markOffset;
  for (VltAdtListNode* node = start; node != nullptr && done < n; node = node->next) {
    const auto* c = static_cast<const Jb2MemChunk*>(node->data);
    if (c->used > offset) {
      const uint32_t step = c->used - offset < n - done ? c->used - offset : n - done;
      std::memcpy(c->buffer + offset, bytes + done, step);
      done += step;
    }
    offset = 0;
  }
  if (done < n) std::memcpy(sink->buffer + offset, bytes + done, n - done);
  return VLT_OK;
}

VltStatus jb2CloseMemoryDataSink(DataSink* sink, VltAdtList** chunks) {
  if (sink == nullptr || sink->moredata != mdsink_moredata) return VLT_ERR_ASSERT;
  VltState* st = sink->state;
  MemSink* m = mem_of(sink);
  const VltStatus s = file_buffer(sink, m);
  if (s != VLT_OK) st->free(sink->buffer);
  *chunks = m->chunks;
  st->free(m);
  st->free(sink);
  return s;
}
