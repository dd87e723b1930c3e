#ifndef KVNG_SB_H
#define KVNG_SB_H

// The imaging engine's stream buffers: bytes on the shared heap with a read position. Appending
// adds at the end; reading takes from the position and moves it; peeking copies without moving.

#include <stddef.h>

#include "mono_export.h"

typedef struct KVngSB KVngSB;

/* An empty buffer, or null when memory runs out. */
MONO_API KVngSB* KVngSBNew(void);
/* Frees the buffer and its bytes; null is ignored. */
MONO_API void KVngSBFree(KVngSB* sb);
/* Drops every byte and puts the position back to 0. */
MONO_API void KVngSBClear(KVngSB* sb);

/* Adds count bytes at the end; 1, or 0 when memory runs out (the buffer is unchanged). */
MONO_API int KVngSBAppend(KVngSB* sb, const void* bytes, size_t count);
/* Bytes from the position to the end (0 for no buffer). */
MONO_API size_t KVngSBBytesAvailable(const KVngSB* sb);
/* Copies up to count bytes from the position into buffer and moves past them; the number copied. */
MONO_API size_t KVngSBRead(KVngSB* sb, void* buffer, size_t count);
/* The same without moving. */
MONO_API size_t KVngSBPeek(const KVngSB* sb, void* buffer, size_t count);
/* Moves the position; 1, or 0 for a position past the end. */
MONO_API int KVngSBSetPosition(KVngSB* sb, size_t position);
/* All bytes, from the start, and their number (the position does not matter). */
MONO_API const unsigned char* KVngSBData(const KVngSB* sb, size_t* length);

#endif
