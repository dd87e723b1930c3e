// The imaging engine's string state, byte sources and byte buffers.

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "checked_size.h"
#include "kvng.h"
#include "kvng_print.h"
#include "sstate.h"

namespace {

void vprint(SState* state, int kind, const char* format, va_list ap) {
  if (state && kind > state->level) return;
  char text[2048];
  std::vsnprintf(text, sizeof text, format, ap);
  if (state && state->print) {
    state->print(state->printData, kind, text);
  } else if (kind == SSTATE_ERR) {
    KVngError("%s", text);
  } else {
    KVngPrintf("%s", text);
  }
}

}  // namespace

SState* SState_NewStateDefault(void) { return static_cast<SState*>(kvng_internal_calloc(1, sizeof(SState))); }

void SState_FreeState(SState* state) { kvng_internal_free(state); }

#define SSTATE_PRINTER(name, kind)                            \
  void name(SState* state, const char* format, ...) {         \
    va_list ap;                                               \
    va_start(ap, format);                                     \
    vprint(state, kind, format, ap);                          \
    va_end(ap);                                               \
  }

SSTATE_PRINTER(SState_ErrPrintf, SSTATE_ERR)
SSTATE_PRINTER(SState_InfPrintf, SSTATE_INF)
SSTATE_PRINTER(SState_VerPrintf, SSTATE_VER)

int SState_Err(SState* state, const char* file, int line, int code) {
  if (state) {
    ++state->failed;
    state->errorCode = code;
    state->errorFile = file;
    state->errorLine = line;
  }
  return code;
}

int SState_Failed(const SState* state) { return state && state->failed ? 1 : 0; }

void* SState_Calloc(SState* state, size_t count, size_t size) {
  void* block = kvng_internal_calloc(count, size);
  if (!block) SState_ErrPrintf(state, "SState_Calloc: no memory for %zu x %zu bytes\n", count, size);
  return block;
}

void SState_Free(SState*, void* block) { kvng_internal_free(block); }

char* SState_StrDup(SState* state, const char* text) { return text ? SState_StrsDup(state, text, nullptr) : nullptr; }

char* SState_StrsDup(SState* state, const char* first, ...) {
  size_t total = 1;
  va_list ap;
  va_start(ap, first);
  bool ok = true;
  for (const char* s = first; s; s = va_arg(ap, const char*)) ok = ok && mono::checked_add(total, std::strlen(s), &total);
  va_end(ap);
  auto* out = ok ? static_cast<char*>(SState_Calloc(state, total, 1)) : nullptr;
  if (!out) return nullptr;
  size_t at = 0;
  va_start(ap, first);
  for (const char* s = first; s; s = va_arg(ap, const char*)) {
    const size_t n = std::strlen(s);
    std::memcpy(out + at, s, n);
    at += n;
  }
  va_end(ap);
  return out;
}

FILE* SState_OpenOut(SState* state, const char* path) {
  FILE* f = path ? std::fopen(path, "wb") : nullptr;
  if (!f) SState_ErrPrintf(state, "SState_OpenOut: cannot open %s for writing\n", path ? path : "(none)");
  return f;
}

// ---- Byte sources ----

struct ByteSrc {
  SState* state;
  FILE* file;
  int64_t size;
  int64_t position;
};

ByteSrc* ByteSrc_NewFromFile(SState* state, const char* path) {
  FILE* f = path ? std::fopen(path, "rb") : nullptr;
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (f) std::fclose(f);
    return nullptr;
  }
  auto* src = static_cast<ByteSrc*>(SState_Calloc(state, 1, sizeof(ByteSrc)));
  if (!src) {
    std::fclose(f);
    return nullptr;
  }
  *src = ByteSrc{state, f, static_cast<int64_t>(st.st_size), 0};
  return src;
}

int64_t ByteSrc_GetPosition(const ByteSrc* src) { return src ? src->position : 0; }

int ByteSrc_SetPosition(ByteSrc* src, int64_t position) {
  if (!src || position < 0 || position > src->size || fseeko(src->file, static_cast<off_t>(position), SEEK_SET) != 0) {
    return -1;
  }
  src->position = position;
  return 0;
}

int64_t ByteSrc_GetSize(const ByteSrc* src) { return src ? src->size : 0; }

int ByteSrc_EndOf(const ByteSrc* src) { return !src || src->position >= src->size ? 1 : 0; }

int ByteSrc_Read(ByteSrc* src) {
  if (ByteSrc_EndOf(src)) return -1;
  const int c = std::getc(src->file);
  if (c == EOF) return -1;
  ++src->position;
  return c;
}

size_t ByteSrc_ReadBlock(ByteSrc* src, void* buffer, size_t count) {
  if (ByteSrc_EndOf(src)) return 0;
  const auto left = static_cast<uint64_t>(src->size - src->position);
  if (count > left) count = static_cast<size_t>(left);
  const size_t n = std::fread(buffer, 1, count, src->file);
  src->position += static_cast<int64_t>(n);
  return n;
}

void ByteSrc_Close(ByteSrc* src) {
  if (!src) return;
  std::fclose(src->file);
  SState_Free(src->state, src);
}

// ---- Byte buffers ----

BufUChar* BufUChar_New(SState* state, size_t length) {
  auto* b = static_cast<BufUChar*>(SState_Calloc(state, 1, sizeof(BufUChar)));
  if (!b) return nullptr;
  b->state = state;
  b->data = static_cast<unsigned char*>(SState_Calloc(state, length ? length : 1, 1));
  if (!b->data) {
    SState_Free(state, b);
    return nullptr;
  }
  b->length = length;
  b->capacity = length ? length : 1;
  return b;
}

int BufUChar_Check(BufUChar* buffer, size_t length) {
  if (!buffer) return -1;
  if (length <= buffer->capacity) return 0;
  size_t grown = buffer->capacity * 2 > length ? buffer->capacity * 2 : length;
  auto* more = static_cast<unsigned char*>(kvng_internal_calloc(grown, 1));
  if (!more && grown > length) more = static_cast<unsigned char*>(kvng_internal_calloc(grown = length, 1));
  if (!more) {
    SState_ErrPrintf(buffer->state, "BufUChar_Check: no memory for %zu bytes\n", length);
    return -1;
  }
  std::memcpy(more, buffer->data, buffer->length);
  kvng_internal_free(buffer->data);
  buffer->data = more;
  buffer->capacity = grown;
  return 0;
}

int BufUChar_WriteStm(const BufUChar* buffer, FILE* stream) {
  if (!buffer || !stream) return -1;
  return std::fwrite(buffer->data, 1, buffer->length, stream) == buffer->length ? 0 : -1;
}

void BufUChar_Free(BufUChar* buffer) {
  if (!buffer) return;
  kvng_internal_free(buffer->data);
  kvng_internal_free(buffer);
}

namespace {

voidpf z_alloc(voidpf, uInt items, uInt size) { return kvng_internal_calloc(items, size); }
void z_free(voidpf, voidpf block) { kvng_internal_free(block); }

// Runs a zlib stream over the input into a growing buffer; limit bounds the output. raw selects
// raw deflate data (zip) instead of the zlib wrapping.
BufUChar* inflate_buffer(const BufUChar* in, size_t limit, bool raw, const char* who) {
  if (!in) return nullptr;
  SState* state = in->state;
  BufUChar* out = BufUChar_New(state, 0);
  if (!out) return nullptr;
  z_stream z{};
  z.zalloc = z_alloc;
  z.zfree = z_free;
  if (inflateInit2(&z, raw ? -MAX_WBITS : MAX_WBITS) != Z_OK) {
    SState_ErrPrintf(state, "%s: cannot start inflating\n", who);
    BufUChar_Free(out);
    return nullptr;
  }
  // One byte past the limit tells data that stops at the limit from data that goes on.
  const size_t most = limit < SIZE_MAX ? limit + 1 : limit;
  const char* problem = nullptr;
  const unsigned char* next_in = in->data;
  size_t left_in = in->length;
  int r = Z_OK;
  while (r != Z_STREAM_END && !problem) {
    if (out->length == out->capacity) {
      if (out->capacity >= most) {
        problem = "more data than the limit";
        break;
      }
      const size_t want = out->capacity < most / 2 ? out->capacity * 2 + 4096 : most;
      if (BufUChar_Check(out, want < most ? want : most) != 0) {
        problem = "no memory";
        break;
      }
    }
    const uInt in_now = left_in > UINT32_MAX ? UINT32_MAX : static_cast<uInt>(left_in);
    const size_t room = out->capacity - out->length;
    z.next_in = const_cast<Bytef*>(next_in);
    z.avail_in = in_now;
    z.next_out = out->data + out->length;
    z.avail_out = room > UINT32_MAX ? UINT32_MAX : static_cast<uInt>(room);
    r = inflate(&z, Z_NO_FLUSH);
    next_in += in_now - z.avail_in;
    left_in -= in_now - z.avail_in;
    out->length = static_cast<size_t>(z.next_out - out->data);
    if (r == Z_BUF_ERROR && z.avail_out != 0) problem = "the data ends early";
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) problem = z.msg ? z.msg : "damaged data";
  }
  inflateEnd(&z);
  if (!problem && out->length > limit) problem = "more data than the limit";
  if (problem) {
    SState_ErrPrintf(state, "%s: %s\n", who, problem);
    BufUChar_Free(out);
    return nullptr;
  }
  return out;
}

}  // namespace

BufUChar* BufUCharZ_Deflate(const BufUChar* in) {
  if (!in) return nullptr;
  const uLong bound = compressBound(static_cast<uLong>(in->length));
  BufUChar* out = BufUChar_New(in->state, bound);
  if (!out) return nullptr;
  z_stream z{};
  z.zalloc = z_alloc;
  z.zfree = z_free;
  if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) {
    SState_ErrPrintf(in->state, "BufUCharZ_Deflate: cannot start deflating\n");
    BufUChar_Free(out);
    return nullptr;
  }
  z.next_in = in->data;
  z.avail_in = static_cast<uInt>(in->length);
  z.next_out = out->data;
  z.avail_out = static_cast<uInt>(bound);
  const int r = in->length <= UINT32_MAX && bound <= UINT32_MAX ? deflate(&z, Z_FINISH) : Z_BUF_ERROR;
  out->length = z.total_out;
  deflateEnd(&z);
  if (r != Z_STREAM_END) {
    SState_ErrPrintf(in->state, "BufUCharZ_Deflate: cannot deflate %zu bytes\n", in->length);
    BufUChar_Free(out);
    return nullptr;
  }
  return out;
}

BufUChar* BufUCharZ_Inflate(const BufUChar* in, size_t limit) {
  return inflate_buffer(in, limit, false, "BufUCharZ_Inflate");
}

BufUChar* BufUCharZ_InflateZip(const BufUChar* in, size_t limit) {
  return inflate_buffer(in, limit, true, "BufUCharZ_InflateZip");
}

int Util_StrCmpLCaseN(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y || !x) return x - y;
  }
  return 0;
}

int Util_StmClose(FILE* stream) { return stream ? std::fclose(stream) : 0; }
