// The imaging engine's byte streams over files and memory.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kvng.h"
#include "kvng_io.h"

namespace {

struct FileStream {
  KVngIO io;  // first, so the stream is the record
  FILE* file;
};

struct MemoryStream {
  KVngIO io;
  const unsigned char* data;
  int64_t size;
  int64_t position;
  bool open;
};

FILE* file_of(KVngIO* io) { return reinterpret_cast<FileStream*>(io)->file; }

int64_t file_read(KVngIO* io, void* buffer, int64_t count) {
  FILE* f = file_of(io);
  if (!f || count < 0) return -1;
  const size_t n = std::fread(buffer, 1, static_cast<size_t>(count), f);
  return n == 0 && std::ferror(f) ? -1 : static_cast<int64_t>(n);
}

int64_t file_write(KVngIO* io, const void* buffer, int64_t count) {
  FILE* f = file_of(io);
  if (!f || count < 0) return -1;
  const size_t n = std::fwrite(buffer, 1, static_cast<size_t>(count), f);
  return n == static_cast<size_t>(count) ? count : -1;
}

int file_write_string(KVngIO* io, const char* text) {
  const int64_t n = static_cast<int64_t>(std::strlen(text));
  return io->write(io, text, n) == n ? 0 : -1;
}

int file_seek(KVngIO* io, int64_t offset, int whence, int) {
  FILE* f = file_of(io);
  const int w = whence == KVNG_SEEK_CUR ? SEEK_CUR : whence == KVNG_SEEK_END ? SEEK_END : SEEK_SET;
  return f && fseeko(f, static_cast<off_t>(offset), w) == 0 ? 0 : -1;
}

int64_t file_tell(KVngIO* io) {
  FILE* f = file_of(io);
  return f ? static_cast<int64_t>(ftello(f)) : -1;
}

int file_close(KVngIO* io) {
  auto* s = reinterpret_cast<FileStream*>(io);
  if (!s->file) return 0;
  const int r = std::fclose(s->file);
  s->file = nullptr;
  return r == 0 ? 0 : -1;
}

void file_release(KVngIO* io) {
  if (!io) return;
  file_close(io);
  kvng_internal_free(io);
}

MemoryStream* memory_of(KVngIO* io) { return reinterpret_cast<MemoryStream*>(io); }

int64_t memory_read(KVngIO* io, void* buffer, int64_t count) {
  MemoryStream* m = memory_of(io);
  if (!m->open || count < 0) return -1;
  const int64_t n = count < m->size - m->position ? count : m->size - m->position;
  if (n > 0) std::memcpy(buffer, m->data + m->position, static_cast<size_t>(n));
  m->position += n;
  return n;
}

int64_t memory_write(KVngIO*, const void*, int64_t) { return -1; }
int memory_write_string(KVngIO*, const char*) { return -1; }

int memory_seek(KVngIO* io, int64_t offset, int whence, int) {
  MemoryStream* m = memory_of(io);
  const int64_t base = whence == KVNG_SEEK_CUR ? m->position : whence == KVNG_SEEK_END ? m->size : 0;
  if (!m->open || (offset > 0 && base > INT64_MAX - offset)) return -1;
  const int64_t to = base + offset;
  if (to < 0 || to > m->size) return -1;
  m->position = to;
  return 0;
}

int64_t memory_tell(KVngIO* io) { return memory_of(io)->open ? memory_of(io)->position : -1; }

int memory_close(KVngIO* io) {
  memory_of(io)->open = false;
  return 0;
}

void memory_release(KVngIO* io) { kvng_internal_free(io); }

}  // namespace

KVngIO* KVngIO_FileName(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  auto* s = static_cast<FileStream*>(kvng_internal_calloc(1, sizeof(FileStream)));
  if (!s) return nullptr;
  s->file = std::fopen(name, mode);
  if (!s->file) {
    kvng_internal_free(s);
    return nullptr;
  }
  s->io = KVngIO{file_read, file_write, file_write_string, file_seek, file_tell, file_close, file_release};
  return &s->io;
}

KVngIO* KVngIO_Str(const void* buffer, int64_t size) {
  if ((!buffer && size) || size < 0) return nullptr;
  auto* m = static_cast<MemoryStream*>(kvng_internal_calloc(1, sizeof(MemoryStream)));
  if (!m) return nullptr;
  m->io = KVngIO{memory_read, memory_write, memory_write_string, memory_seek, memory_tell, memory_close, memory_release};
  m->data = static_cast<const unsigned char*>(buffer);
  m->size = size;
  m->open = true;
  return &m->io;
}

char* KVngUTF8ConvertToFilename(const char* name) {
  if (!name) return nullptr;
  const size_t n = std::strlen(name) + 1;
  auto* copy = static_cast<char*>(kvng_internal_calloc(n, 1));
  if (copy) std::memcpy(copy, name, n);
  return copy;
}

int KVngIOReadBytes(KVngIO* io, void* buffer, int64_t count) {
  if (!io || count < 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const int64_t n = io->read(io, out, count);
    if (n <= 0) return 0;
    out += n;
    count -= n;
  }
  return 1;
}
