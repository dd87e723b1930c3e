// Standalone JBIG2 files in the random-access organisation.

#include "jb2_filemode.h"

#include <initializer_list>

#include "byteorder.h"
#include "jb2_memsink.h"
#include "jb2_segment.h"

namespace {

// The stream state with where its file goes; handed out as its first member.
struct Jb2FileState {
  Jb2StreamState stream;
  Jb2FileTarget* target;
  uint32_t pageCount;  // what the file header promised
};
static_assert(offsetof(Jb2FileState, stream) == 0, "the stream state is handed out for the whole record");

Jb2FileState* file_state(Jb2StreamState* s) { return reinterpret_cast<Jb2FileState*>(s); }

void drop_chunks(VltAdtList* chunks, VltState* es) {
  if (chunks == nullptr) return;
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    if (c == nullptr) continue;
    es->free(c->buffer);
    es->free(c);
  }
  VltAdt_liFree(chunks);
}

// Closes the sink and writes its chunks to the target (none once a write has failed, st != 0);
// every chunk is released.
VltStatus flush_sink(DataSink* sink, const Jb2FileTarget* target, VltState* es, VltStatus st) {
  if (sink == nullptr) return st;
  VltAdtList* chunks = nullptr;
  const VltStatus closed = jb2CloseMemoryDataSink(sink, &chunks);
  if (st == VLT_OK) st = closed;
  if (chunks != nullptr)
    for (VltAdtListNode* n = chunks->first; n != nullptr && st == VLT_OK; n = n->next) {
      const auto* c = static_cast<const Jb2MemChunk*>(n->data);
      if (c != nullptr && c->used > 0 && target->write(c->buffer, c->used, 1, target->stream) != 1)
        st = Vlt_reportErrMsg(es->errState, VLT_ERR_IO_WRITE, "writing header buf failed");
    }
  drop_chunks(chunks, es);
  return st;
}

uint32_t page_of(const Jb2StreamState* s, uint32_t page) { return s->singlePage ? 1 : page; }

}  // namespace

VltStatus createJb2StateCB(Jb2FileTarget* target, VltState* es, uint32_t profile, uint32_t pageCount,
                           uint8_t singlePage, Jb2StreamState** place, uintptr_t* context) {
  if (place == nullptr || target == nullptr || target->write == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  auto* fs = static_cast<Jb2FileState*>(es->calloc(1, sizeof(Jb2FileState)));
  if (fs == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  fs->target = target;
  fs->pageCount = pageCount;
  fs->stream.profile = profile;
  fs->stream.fileMode = 1;
  fs->stream.singlePage = singlePage;
  DataSink* headers = nullptr;
  DataSink* data = nullptr;
  Jb2File* file = nullptr;
  const auto fail = [&](VltStatus st) {
    for (DataSink* sink : {headers, data}) flush_sink(sink, target, es, st);
    jb2FreeFile(file);
    es->free(fs);
    return st;
  };
  if (const VltStatus st = jb2NewMemoryDataSink(es, &headers); st != VLT_OK) return fail(st);
  if (const VltStatus st = jb2NewMemoryDataSink(es, &data); st != VLT_OK) return fail(st);
  if (const VltStatus st = jb2CreateFile(headers, data, es, &file); st != VLT_OK) return fail(st);
  jb2ApplyProfile(jb2GetFileParams(file), profile);
  // Identification, flags 0 (random-access organisation, page count known), page count.
  uint8_t header[13] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x00};
  mono::store_be32(header + 9, pageCount);
  if (target->write(header, sizeof header, 1, target->stream) != 1)
    return fail(Vlt_reportErrMsg(es->errState, VLT_ERR_IO_WRITE, "writing file header failed"));
  fs->stream.file = file;
  *place = &fs->stream;
  if (context != nullptr) *context = 0;
  return VLT_OK;
}

VltStatus closeJb2StateCB(Jb2StreamState* s) {
  if (s == nullptr) return VLT_OK;
  Jb2FileState* fs = file_state(s);
  VltState* es = jb2GetFileVlt_State(s->file);
  SegmentInfo eof{};
  VltStatus st = jb2EncodeEOFile(s->file, &eof);
  freeSegVltAdt_List(s->dictSegments, es);
  freeSegVltAdt_List(s->pageDictSegments, es);
  freeNsymVltAdt_List(s->dictSymbolCounts, es);
  freeNsymVltAdt_List(s->pageDictSymbolCounts, es);
  s->dictSegments = s->pageDictSegments = s->dictSymbolCounts = s->pageDictSymbolCounts = nullptr;
  // All headers first, then all data parts: what the random-access flag of the header promised.
  st = flush_sink(jb2GetFileHeaderDataSink(s->file), fs->target, es, st);
  st = flush_sink(jb2GetFileDataSink(s->file), fs->target, es, st);
  jb2FreeFile(s->file);
  es->free(fs);
  return st;
}

VltStatus closeJb2FileStateAPICB(Jb2StreamState* s, uintptr_t) {
  if (s == nullptr) return VLT_OK;
  const uint32_t promised = file_state(s)->pageCount, written = s->pageNumber;
  VltState* es = jb2GetFileVlt_State(s->file);
  const VltStatus st = closeJb2StateCB(s);
  // The header went out first and cannot be taken back: a file with fewer or more pages than it
  // names is unreadable, so the run must not count as done.
  if (st == VLT_OK && written != promised)
    return Vlt_reportErrMsg(es->errState, VLT_ERR_IO_WRITE, "the file header names %u pages but %u were written",
                            promised, written);
  return st;
}

VltStatus writeJb2AnnotationsCB(int32_t count, const Jb2ExtensionRecord* records, Jb2StreamState* s) {
  Jb2File* file = s->file;
  VltState* es = jb2GetFileVlt_State(file);
  if (count > 0 && records == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  for (int32_t i = 0; i < count; ++i) {
    const Jb2ExtensionRecord& r = records[i];
    if (r.length > 0 && r.data == nullptr) return Vlt_report(es, VLT_ERR_NULL);
    SegmentInfo seg{};
    seg.number = jb2FileNextSegmentNumber(file);
    seg.type = JB2_SEG_EXTENSION;
    seg.page = page_of(s, s->pageNumber);
    if (const VltStatus st = jb2EncodeSegmentHeader(file, &seg); st != VLT_OK) return st;
    DataSink* data = jb2GetFileDataSink(file);
    dsResetCount(data);
    if (const VltStatus st = jb2WriteU32(file, data, r.type); st != VLT_OK) return st;
    if (r.length > 0)
      if (const VltStatus st = jb2WriteBytes(file, data, r.data, r.length); st != VLT_OK) return st;
    seg.dataLength = dsCount(data);
    if (const VltStatus st = jb2EncodeSegmentHeaderDataLength(file, &seg); st != VLT_OK) return st;
  }
  return VLT_OK;
}
