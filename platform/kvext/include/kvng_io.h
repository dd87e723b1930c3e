#ifndef KVNG_IO_H
#define KVNG_IO_H

// The imaging engine's byte streams: an object of operations over a file or memory. Every
// operation takes the stream first. Positions and counts are 64-bit.

#include <stdint.h>

#include "mono_export.h"

typedef struct KVngIO KVngIO;

enum { KVNG_SEEK_SET = 0, KVNG_SEEK_CUR = 1, KVNG_SEEK_END = 2 };

struct KVngIO {
  /* Bytes read into buffer (up to count), 0 at the end, -1 on a read error. */
  int64_t (*read)(KVngIO* io, void* buffer, int64_t count);
  /* Bytes written, -1 on an error (a read-only stream always fails). */
  int64_t (*write)(KVngIO* io, const void* buffer, int64_t count);
  /* Writes a text without its terminator; 0, or -1. */
  int (*writeString)(KVngIO* io, const char* text);
  /* Moves to offset from whence (KVNG_SEEK_*); the last word is reserved (0). 0, or -1 for a
     position outside the stream or a failed seek. */
  int (*seek)(KVngIO* io, int64_t offset, int whence, int reserved);
  /* The position, or -1. */
  int64_t (*tell)(KVngIO* io);
  /* Closes what the stream reads or writes (a file is flushed and closed); 0, or -1 when the
     last data could not be written. The stream fails every operation afterwards. */
  int (*close)(KVngIO* io);
  /* Closes the stream when it is still open and frees it. */
  void (*release)(KVngIO* io);
};

/* A stream over a file opened with an fopen mode ("r", "w", "rb" ...), or null. */
MONO_API KVngIO* KVngIO_FileName(const char* name, const char* mode);
/* A read-only stream over size bytes of memory that the caller keeps alive, or null. */
MONO_API KVngIO* KVngIO_Str(const void* buffer, int64_t size);

/* The platform's form of a UTF-8 file name, for fopen: a new string on the engine heap
   (kvng_internal_free), or null. File names here are UTF-8 bytes, so it is a copy. */
MONO_API char* KVngUTF8ConvertToFilename(const char* name);

/* Reads exactly count bytes; 1, or 0 when the stream ends first or fails. */
MONO_API int KVngIOReadBytes(KVngIO* io, void* buffer, int64_t count);

#endif
