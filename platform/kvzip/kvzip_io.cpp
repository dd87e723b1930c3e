// Streams that zip extraction writes into: a growing stream buffer and a fixed block.

#include <cstring>

#include "kvng.h"
#include "kvzip.h"

namespace {

struct SBStream {
  KVngIO io;  // first, so the stream is the record
  KVngSB* sb;
  bool open;
};

struct BufferStream {
  KVngIO io;
  unsigned char* data;
  int64_t size;
  int64_t position;
  bool open;
};

SBStream* sb_of(KVngIO* io) { return reinterpret_cast<SBStream*>(io); }
BufferStream* buffer_of(KVngIO* io) { return reinterpret_cast<BufferStream*>(io); }

int64_t sb_read(KVngIO* io, void* buffer, int64_t count) {
  SBStream* s = sb_of(io);
  if (!s->open || count < 0) return -1;
  return static_cast<int64_t>(KVngSBRead(s->sb, buffer, static_cast<size_t>(count)));
}

int64_t sb_write(KVngIO* io, const void* buffer, int64_t count) {
  SBStream* s = sb_of(io);
  if (!s->open || count < 0) return -1;
  return KVngSBAppend(s->sb, buffer, static_cast<size_t>(count)) ? count : -1;
}

int write_string(KVngIO* io, const char* text) {
  const auto n = static_cast<int64_t>(std::strlen(text));
  return io->write(io, text, n) == n ? 0 : -1;
}

int sb_seek(KVngIO* io, int64_t offset, int whence, int) {
  SBStream* s = sb_of(io);
  size_t length = 0;
  KVngSBData(s->sb, &length);
  const int64_t size = static_cast<int64_t>(length);
  const int64_t base = whence == KVNG_SEEK_CUR ? size - static_cast<int64_t>(KVngSBBytesAvailable(s->sb))
                       : whence == KVNG_SEEK_END ? size
                                                 : 0;
  if (!s->open || offset > size || offset < -size) return -1;
  const int64_t to = base + offset;
  if (to < 0 || to > size) return -1;
  return KVngSBSetPosition(s->sb, static_cast<size_t>(to)) ? 0 : -1;
}

int64_t sb_tell(KVngIO* io) {
  SBStream* s = sb_of(io);
  if (!s->open) return -1;
  size_t length = 0;
  KVngSBData(s->sb, &length);
  return static_cast<int64_t>(length - KVngSBBytesAvailable(s->sb));
}

int sb_close(KVngIO* io) {
  sb_of(io)->open = false;
  return 0;
}

int64_t buffer_read(KVngIO* io, void* out, int64_t count) {
  BufferStream* b = buffer_of(io);
  if (!b->open || count < 0) return -1;
  const int64_t n = count < b->size - b->position ? count : b->size - b->position;
  if (n > 0) std::memcpy(out, b->data + b->position, static_cast<size_t>(n));
  b->position += n;
  return n;
}

int64_t buffer_write(KVngIO* io, const void* in, int64_t count) {
  BufferStream* b = buffer_of(io);
  if (!b->open || count < 0 || count > b->size - b->position) return -1;
  if (count > 0) std::memcpy(b->data + b->position, in, static_cast<size_t>(count));
  b->position += count;
  return count;
}

int buffer_seek(KVngIO* io, int64_t offset, int whence, int) {
  BufferStream* b = buffer_of(io);
  const int64_t base = whence == KVNG_SEEK_CUR ? b->position : whence == KVNG_SEEK_END ? b->size : 0;
  if (!b->open || offset > b->size || offset < -b->size) return -1;
  const int64_t to = base + offset;
  if (to < 0 || to > b->size) return -1;
  b->position = to;
  return 0;
}

int64_t buffer_tell(KVngIO* io) { return buffer_of(io)->open ? buffer_of(io)->position : -1; }

int buffer_close(KVngIO* io) {
  buffer_of(io)->open = false;
  return 0;
}

void release(KVngIO* io) { kvng_internal_free(io); }

}  // namespace

KVngSB* KVngSBInit(int, size_t) { return KVngSBNew(); }

KVngIO* KVngIO_SB(KVngSB* sb) {
  if (!sb) return nullptr;
  auto* s = static_cast<SBStream*>(kvng_internal_calloc(1, sizeof(SBStream)));
  if (!s) return nullptr;
  s->io = KVngIO{sb_read, sb_write, write_string, sb_seek, sb_tell, sb_close, release};
  s->sb = sb;
  s->open = true;
  return &s->io;
}

KVngIO* KVngIO_Buffer(void* buffer, int64_t size) {
  if ((!buffer && size) || size < 0) return nullptr;
  auto* b = static_cast<BufferStream*>(kvng_internal_calloc(1, sizeof(BufferStream)));
  if (!b) return nullptr;
  b->io = KVngIO{buffer_read, buffer_write, write_string, buffer_seek, buffer_tell, buffer_close, release};
  b->data = static_cast<unsigned char*>(buffer);
  b->size = size;
  b->open = true;
  return &b->io;
}
